// The server's start-up handshake and its thread: the thread listens and pumps the messages that
// carry the socket notifications; the starting thread waits for the outcome and tests the server
// with one request of its own.
#include "contentserver/ListenSocket.h"
#include "contentserver/MyMemFile.h"
#include "contentserver/ServerHost.h"

CRITICAL_SECTION g_csServerState;
SERVER_SELFTEST_FETCH g_pfnServerSelfTestFetch = nullptr;

namespace {

struct ServerStateLockInit {
    ServerStateLockInit() { InitializeCriticalSection(&g_csServerState); }
};
ServerStateLockInit s_serverStateLockInit;

// How long the starting thread waits for the server thread to report whether it listens.
const DWORD kStartWaitMs = 60000;

} // namespace

BOOL CMyMemFile::StartServer() {
    StartServerThread();
    // The server counts as running whenever it listens, whatever the self-test said.
    return IsServerRunning();
}

BOOL CMyMemFile::IsServerRunning() {
    // Taken although the state is written once: after a start that gave up waiting, the server
    // thread may still be writing it.
    EnterCriticalSection(&g_csServerState);
    BOOL bRunning = m_nServerState == 2;
    LeaveCriticalSection(&g_csServerState);
    return bRunning;
}

BOOL CMyMemFile::StartServerThread() {
    const DWORD dwStart = GetTickCount();
    CWinThread* pThread = AfxBeginThread(&CMyMemFile::ServerThreadProc, this);
    if (pThread == nullptr)
        return FALSE;
    m_dwServerThreadId = pThread->m_nThreadID;
    int nState = 0;
    for (;;) {
        EnterCriticalSection(&g_csServerState);
        nState = m_nServerState;
        LeaveCriticalSection(&g_csServerState);
        if (nState != 0 || GetTickCount() - dwStart > kStartWaitMs)
            break;
        Sleep(1);
    }
    if (nState != 2)
        return FALSE;
    CString url;
    url.Format("http://127.0.0.1:%d/test_http/", g_nServerPort);
    CString body;
    if (g_pfnServerSelfTestFetch == nullptr || !g_pfnServerSelfTestFetch(url, body))
        return FALSE;
    return body == "<HTTP_OK>";
}

UINT CMyMemFile::ServerThreadProc(LPVOID pStore) {
    CMyMemFile* pMemFile = static_cast<CMyMemFile*>(pStore);
    AfxSocketInit();
    CServerHost host;
    BOOL bListening = host.Start();
    EnterCriticalSection(&g_csServerState);
    pMemFile->m_nServerState = bListening ? 2 : 1;
    LeaveCriticalSection(&g_csServerState);
    if (!bListening)
        return 0;
    // The pump never ends: the listener stays open as long as the process runs. With nothing
    // waiting it blocks until a message or a socket event arrives, so a notification is handled
    // as soon as it comes rather than at the next look.
    MSG msg;
    for (;;) {
        // Looking and taking are one step: a message that is waiting is taken at once.
        if (!PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
            WaitMessage();
            continue;
        }
        if (msg.message == WM_QUIT)
            continue; // taken and ignored
        if (msg.hwnd == nullptr && msg.message == WM_SERVER_STOP_LISTEN) {
            host.Stop();
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessage(&msg);
    }
}
