#include "contentserver/ServerHost.h"

#include "contentserver/ListenSocket.h"
#include "contentserver/MyMemFile.h"
#include "contentserver/RequestSocket.h"

#include <sys/utsname.h>

#include <algorithm>
#include <cstdio>
#include <unordered_map>

int g_nServerPort = 8024;
DWORD g_dwServerIdleTimeout = 30000;
// Well above the few dozen a reader opens for a page, and well below the descriptors a process
// has by default, so the rest of the program still gets its own.
int g_nServerMaxConnections = 512;

namespace {

// Connection attempts that may wait for their accept. A page's style sheets, scripts and
// pictures arrive as a burst of connections; a short queue would drop some of them.
const int kListenBacklog = SOMAXCONN;

} // namespace

CServerHost::CServerHost()
    : m_strRoot(MEMFILE_ROOT), m_dwIdleTimeout(g_dwServerIdleTimeout),
      m_nMaxConnections(g_nServerMaxConnections) {
    char szName[256] = {};
    if (gethostname(szName, 255) == 0 && szName[0] != '\0') {
        szName[255] = '\0';
        m_strHostName = szName;
    } else {
        // The computer name, as short as the system's NetBIOS name and upper-cased.
        struct utsname info {};
        if (uname(&info) == 0) {
            CString name(info.nodename);
            m_strHostName = name.Left(15);
            m_strHostName.MakeUpper();
        }
    }
}

namespace {

// The hosts whose sweep timers run on this thread, by timer id: a thread timer tells its
// procedure nothing but the id.
thread_local std::unordered_map<UINT_PTR, CServerHost*> t_sweepHosts;

void SweepTimerProc(HWND, UINT, UINT_PTR nId, DWORD) {
    auto it = t_sweepHosts.find(nId);
    if (it != t_sweepHosts.end())
        it->second->DropIdleConnections(GetTickCount());
}

} // namespace

CServerHost::~CServerHost() {
    if (m_nSweepTimer != 0) {
        KillTimer(nullptr, m_nSweepTimer);
        t_sweepHosts.erase(m_nSweepTimer);
    }
    // Connections that outlive the host no longer report to it.
    for (CRequestSocket* p : m_connections)
        p->m_nHostSlot = -1;
}

void CServerHost::AddConnection(CRequestSocket* pSocket) {
    pSocket->m_nHostSlot = static_cast<int>(m_connections.size());
    m_connections.push_back(pSocket);
    if (m_nSweepTimer == 0) {
        // A quarter of the time-out between looks: a connection goes at most a quarter late.
        // The timer runs only while there are connections, so an idle server is not woken.
        UINT nEvery = static_cast<UINT>(std::max<DWORD>(m_dwIdleTimeout / 4, 10));
        m_nSweepTimer = SetTimer(nullptr, 0, nEvery, &SweepTimerProc);
        if (m_nSweepTimer != 0)
            t_sweepHosts[m_nSweepTimer] = this;
    }
}

void CServerHost::RemoveConnection(CRequestSocket* pSocket) {
    const int nSlot = pSocket->m_nHostSlot;
    if (nSlot < 0 || nSlot >= static_cast<int>(m_connections.size()) || m_connections[nSlot] != pSocket)
        return;
    CRequestSocket* pLast = m_connections.back();
    m_connections[nSlot] = pLast;
    pLast->m_nHostSlot = nSlot;
    m_connections.pop_back();
    pSocket->m_nHostSlot = -1;
}

void CServerHost::DropIdleConnections(DWORD dwNow) {
    std::vector<CRequestSocket*> idle;
    for (CRequestSocket* p : m_connections) {
        if (dwNow - p->m_dwLastActivity >= m_dwIdleTimeout)
            idle.push_back(p);
    }
    // Dropping releases the connection, which may delete it and reorder the list.
    for (CRequestSocket* p : idle)
        p->DropIdle();
    if (m_connections.empty() && m_nSweepTimer != 0) {
        KillTimer(nullptr, m_nSweepTimer);
        t_sweepHosts.erase(m_nSweepTimer);
        m_nSweepTimer = 0;
    }
}

CString CServerHost::ListenErrorText(int nError, int nPort) {
    CString text;
    if (nError == WSAEADDRINUSE)
        text.Format(
            "\xB6\xCB\xBF\xDA%d\xD2\xD1\xBE\xAD\xB1\xBB\xD5\xBC\xD3\xC3\xA3\xA1\n\xC7\xEB\xC8\xB7\xC8\xCF"
            "\xCA\xC7\xB7\xF1\xD4\xCB\xD0\xD0\xD7\xC5\xC6\xE4\xCB\xFC\xB0\xF3\xB6\xA8\xB4\xCB\xB6\xCB"
            "\xBF\xDA\xB5\xC4\xD3\xA6\xD3\xC3\xB3\xCC\xD0\xF2\xA1\xA3",
            nPort);
    else
        text.Format(
            "Can't listen on port %d!\nMake sure the TCP/IP transport is set up correctly and that no "
            "other applications are already listening on that port.",
            nPort);
    return text;
}

BOOL CServerHost::Start() {
    Stop();
    m_pListenSocket = new CListenSocket(this);
    // Loopback only: nothing but the readers on this machine asks this server for anything.
    if (m_pListenSocket->Create(static_cast<UINT>(g_nServerPort), SOCK_STREAM, FD_ACCEPT, "127.0.0.1") &&
        m_pListenSocket->Listen(kListenBacklog)) {
        // Every connection carries one answer and is shut down after its last byte. Corked, the
        // system sends only full segments until then: the headers go with the body's first bytes
        // and the end of the connection with its last ones, instead of a packet each. The
        // connections take the option from the listener when they are accepted.
        int nCork = 1;
        m_pListenSocket->SetSockOpt(TCP_CORK, &nCork, sizeof nCork, IPPROTO_TCP);
        return TRUE;
    }
    int nError = CAsyncSocket::GetLastError();
    delete m_pListenSocket; // closes the socket
    m_pListenSocket = nullptr;
    // Nothing shows the text; it goes to the log, where a user who asks why the readers read
    // from files can find it.
    fprintf(stderr, "%s\n", AfxAnsiToUtf8(ListenErrorText(nError, g_nServerPort).str()).c_str());
    return FALSE;
}

void CServerHost::Stop() {
    if (m_pListenSocket != nullptr) {
        m_pListenSocket->Close();
        delete m_pListenSocket;
        m_pListenSocket = nullptr;
    }
}
