#include "contentserver/ServerHost.h"

#include "contentserver/ListenSocket.h"
#include "contentserver/MyMemFile.h"

#include <sys/utsname.h>

#include <cstdio>

int g_nServerPort = 8024;

namespace {

// Connection attempts that may wait for their accept. A page's style sheets, scripts and
// pictures arrive as a burst of connections; a short queue would drop some of them.
const int kListenBacklog = SOMAXCONN;

} // namespace

CServerHost::CServerHost() : m_strRoot(MEMFILE_ROOT) {
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
        m_pListenSocket->Listen(kListenBacklog))
        return TRUE;
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
