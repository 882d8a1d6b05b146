// The server's start-up handshake and its thread: the thread listens and pumps the messages that
// carry the socket notifications; the starting thread waits for the outcome and tests the server
// with one request of its own.
#include "contentserver/ListenSocket.h"
#include "contentserver/MyMemFile.h"
#include "contentserver/ServerHost.h"
#include "platform/kernel/Threads.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

CRITICAL_SECTION g_csServerState;
SERVER_SELFTEST_FETCH g_pfnServerSelfTestFetch = nullptr;
DWORD g_dwServerStartWaitMs = 60000;

namespace {

struct ServerStateLockInit {
    ServerStateLockInit() { InitializeCriticalSection(&g_csServerState); }
};
ServerStateLockInit s_serverStateLockInit;

// Wakes the starting thread once a server thread has written its state. Our own lock, over a
// count of the writes only: the state itself stays under g_csServerState, and the two are never
// held together.
std::mutex s_stateMutex;
std::condition_variable s_stateWritten;
unsigned s_nStateWrites = 0;

unsigned StateWrites() {
    std::lock_guard<std::mutex> lock(s_stateMutex);
    return s_nStateWrites;
}

int ServerState(const CMyMemFile* pMemFile) {
    EnterCriticalSection(&g_csServerState);
    int nState = pMemFile->m_nServerState;
    LeaveCriticalSection(&g_csServerState);
    return nState;
}

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
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(g_dwServerStartWaitMs);
    CWinThread* pThread = AfxBeginThread(&CMyMemFile::ServerThreadProc, this);
    if (pThread == nullptr)
        return FALSE;
    m_dwServerThreadId = pThread->m_nThreadID;
    int nState = 0;
    for (;;) {
        // The count is read before the state, so a write after the look still ends the wait.
        const unsigned nSeen = StateWrites();
        nState = ServerState(this);
        if (nState != 0)
            break;
        std::unique_lock<std::mutex> lock(s_stateMutex);
        if (!s_stateWritten.wait_until(lock, deadline, [&] { return s_nStateWrites != nSeen; })) {
            lock.unlock();
            nState = ServerState(this);
            break;
        }
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
    {
        std::lock_guard<std::mutex> lock(s_stateMutex);
        ++s_nStateWrites;
    }
    s_stateWritten.notify_all();
    if (!bListening)
        return 0;
    // The listener stays open as long as the process runs: a stray quit message is ignored, and
    // only the process's own end, which asks every thread to stop, ends the pump. With nothing
    // waiting it blocks until a message or a socket event arrives, so a notification is handled
    // as soon as it comes rather than at the next look.
    MSG msg;
    for (;;) {
        // Looking and taking are one step: a message that is waiting is taken at once.
        if (!PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
            WaitMessage();
            continue;
        }
        if (msg.message == WM_QUIT) {
            if (AfxThreadStopRequested(GetCurrentThreadId())) {
                host.Stop();
                return 0;
            }
            continue; // taken and ignored
        }
        if (msg.hwnd == nullptr && msg.message == WM_SERVER_STOP_LISTEN) {
            host.Stop();
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessage(&msg);
    }
}
