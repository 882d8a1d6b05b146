#include "platform/net/AsyncSocket.h"

#include "platform/kernel/Threads.h"
#include "platform/user/MsgQueue.h"
#include "platform/user/WinUser.h"

#include <fcntl.h>
#include <sys/epoll.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#undef socket
#undef gethostbyname

IMPLEMENT_DYNAMIC(CAsyncSocket, CObject)

namespace {

constexpr UINT WM_SOCKET_NOTIFY = 0x0373;

enum class Stage { Created, Listening, Connecting, Connected };

// What the engine knows of one registered socket. The object pointer is used only on the owner
// thread, and only while the record exists: Close and the destructor remove it first.
struct SockState {
    CAsyncSocket* obj = nullptr;
    int fd = -1;
    int type = SOCK_STREAM;
    DWORD owner = 0;
    HWND notifyWnd = nullptr;
    long selected = 0;
    Stage stage = Stage::Created;
    bool readEnabled = true;
    bool acceptEnabled = true;
    bool acceptPaused = false; // the last accept found no descriptor; see PauseAccepting
    bool writeEnabled = false;
    // The last send took all it was given (or nothing was sent yet on a fresh connection), and
    // nothing since said the socket is full: selecting FD_WRITE then needs no look at the
    // descriptor to know that the socket is writable.
    bool sendRoom = false;
    bool closeDelivered = false;
    bool eofSeen = false;
    bool watched = false;
    uint32_t interest = 0; // what the queue watches for; may be more than Interest() gives
};

std::mutex g_mx;
std::unordered_map<uint64_t, SockState>& States() {
    static auto* m = new std::unordered_map<uint64_t, SockState>;
    return *m;
}
std::atomic<uint64_t> g_nextSerial{1};
// Listeners whose accept found no free descriptor, by serial; g_mx guards it. Small: one entry per
// listener at most.
std::vector<uint64_t>& PausedListeners() {
    static auto* v = new std::vector<uint64_t>;
    return *v;
}
std::atomic<size_t> g_nPaused{0}; // the list's size, for a look without the lock

// g_mx held.
void ForgetPaused(uint64_t serial) {
    auto& paused = PausedListeners();
    paused.erase(std::remove(paused.begin(), paused.end(), serial), paused.end());
    g_nPaused.store(paused.size(), std::memory_order_relaxed);
}

// How long a listener waits for a descriptor before it tries again, when no socket of this
// process closes in the meantime (a file or a pipe closing frees one just as well).
constexpr UINT kAcceptRetryMs = 200;

thread_local HWND t_notifyWnd = nullptr;

LRESULT NotifyProc(HWND, UINT, WPARAM, LPARAM);

HWND NotifyWindow() {
    if (t_notifyWnd && IsWindow(t_notifyWnd))
        return t_notifyWnd;
    static std::once_flag once;
    std::call_once(once, [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = &NotifyProc;
        wc.lpszClassName = "AfxSocketNotify";
        RegisterClassA(&wc);
    });
    t_notifyWnd =
        CreateWindowExA(0, "AfxSocketNotify", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    return t_notifyWnd;
}

uint32_t Interest(const SockState& s) {
    uint32_t ev = 0;
    switch (s.stage) {
    case Stage::Created:
        break;
    case Stage::Listening:
        if ((s.selected & FD_ACCEPT) && s.acceptEnabled)
            ev |= EPOLLIN;
        break;
    case Stage::Connecting:
        ev |= EPOLLOUT;
        break;
    case Stage::Connected:
        if (!s.eofSeen) {
            bool wantClose = (s.selected & FD_CLOSE) && !s.closeDelivered;
            if (s.selected & FD_READ) {
                // The close is reported after the data, so while a read notification is
                // waiting for its Receive nothing else about reading is looked at.
                if (s.readEnabled)
                    ev |= EPOLLIN | EPOLLRDHUP;
            } else if (wantClose) {
                ev |= EPOLLRDHUP;
            }
        }
        if ((s.selected & FD_WRITE) && s.writeEnabled)
            ev |= EPOLLOUT;
        break;
    }
    return ev;
}

void FdReady(uint64_t serial, uint32_t revents);

// g_mx held. Brings the queue's watch of the descriptor in line with what may be reported now.
// A watch that asks for more than that is left as it is unless `exact`: most narrowings last
// only until the next Receive, Accept or Send widens them again, and FdReady drops events that
// are not wanted (then calls this with `exact`), so a stale event costs one look, not a call
// now and another one later.
void UpdateWatch(uint64_t serial, SockState& s, bool exact = false) {
    uint32_t ev = Interest(s);
    if (s.watched && !exact && (ev & ~s.interest) == 0)
        return;
    if (ev == 0) {
        // Hang-ups are reported whatever is asked for, so an idle socket is not watched at all.
        if (s.watched)
            AfxQueueUnwatchFd(s.owner, s.fd);
        s.watched = false;
    } else if (!s.watched) {
        s.watched = AfxQueueWatchFd(s.owner, s.fd, ev, &FdReady, serial) != FALSE;
    } else if (ev != s.interest) {
        AfxQueueModifyFd(s.owner, s.fd, ev);
    }
    s.interest = ev;
}

int SocketError(int fd) {
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        return WSAENOTSOCK;
    return AfxErrnoToWsa(err);
}

void Post(const SockState& s, uint64_t serial, int event, int error) {
    AfxQueuePostWindowMessage(
        s.owner, s.notifyWnd, WM_SOCKET_NOTIFY, static_cast<WPARAM>(serial),
        static_cast<LPARAM>(MAKELONG(static_cast<WORD>(event), static_cast<WORD>(error))));
}

// Runs on the owner thread when the queue finds the descriptor ready.
void FdReady(uint64_t serial, uint32_t revents) {
    std::lock_guard<std::mutex> lock(g_mx);
    auto it = States().find(serial);
    if (it == States().end())
        return;
    SockState& s = it->second;
    // Only what an exact watch would have reported: the watch may still ask for more.
    uint32_t wanted = Interest(s);
    bool stale = (revents & ~(wanted | EPOLLHUP | EPOLLERR)) != 0 || wanted == 0;
    revents &= wanted == 0 ? 0 : (wanted | EPOLLHUP | EPOLLERR);
    bool hangup = (revents & (EPOLLHUP | EPOLLERR | EPOLLRDHUP)) != 0;
    switch (s.stage) {
    case Stage::Created:
        break;
    case Stage::Listening:
        if ((revents & EPOLLIN) && (s.selected & FD_ACCEPT) && s.acceptEnabled) {
            s.acceptEnabled = false;
            Post(s, serial, FD_ACCEPT, 0);
        }
        break;
    case Stage::Connecting:
        if (revents & (EPOLLOUT | EPOLLERR | EPOLLHUP)) {
            int err = SocketError(s.fd);
            s.stage = Stage::Connected;
            s.writeEnabled = err == 0;
            s.sendRoom = err == 0;
            if (s.selected & FD_CONNECT)
                Post(s, serial, FD_CONNECT, err);
            if (err != 0)
                s.eofSeen = true;
        }
        break;
    case Stage::Connected: {
        if ((revents & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) && !s.eofSeen) {
            // A stream reports readable without a hang-up only when it holds data; the count is
            // needed only to tell the data before a close from the close itself.
            int avail = 1;
            if (hangup || s.type != SOCK_STREAM)
                ::ioctl(s.fd, FIONREAD, &avail);
            bool readable = (s.selected & FD_READ) && s.readEnabled;
            if (avail > 0 && readable) {
                s.readEnabled = false;
                Post(s, serial, FD_READ, 0);
            } else if (avail == 0 || !(s.selected & FD_READ)) {
                bool closed = hangup || ((revents & EPOLLIN) && avail == 0);
                if (closed) {
                    s.eofSeen = true;
                    if ((s.selected & FD_CLOSE) && !s.closeDelivered) {
                        s.closeDelivered = true;
                        int err = (revents & EPOLLERR) ? SocketError(s.fd) : 0;
                        Post(s, serial, FD_CLOSE, err);
                    }
                }
            }
        }
        if ((revents & (EPOLLOUT | EPOLLERR)) && (s.selected & FD_WRITE) && s.writeEnabled) {
            s.writeEnabled = false;
            s.sendRoom = (revents & EPOLLOUT) != 0;
            Post(s, serial, FD_WRITE, (revents & EPOLLERR) ? SocketError(s.fd) : 0);
        }
        break;
    }
    }
    UpdateWatch(serial, s, stale);
}

// g_mx held. Lets a paused listener accept again; its watch shows at once whether anything waits.
void ResumeAccepting(uint64_t serial, SockState& s) {
    s.acceptPaused = false;
    s.acceptEnabled = true;
    ForgetPaused(serial);
    UpdateWatch(serial, s);
}

// g_mx held. A socket closed, so a descriptor is free: every paused listener tries again.
void ResumePausedListeners() {
    std::vector<uint64_t> paused;
    paused.swap(PausedListeners());
    g_nPaused.store(0, std::memory_order_relaxed);
    for (uint64_t serial : paused) {
        auto it = States().find(serial);
        if (it != States().end())
            ResumeAccepting(serial, it->second);
    }
}

LRESULT NotifyProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_TIMER) {
        // The retry of a listener that found no descriptor; the timer is the listener's serial.
        KillTimer(hWnd, static_cast<UINT_PTR>(wParam));
        std::lock_guard<std::mutex> lock(g_mx);
        auto it = States().find(static_cast<uint64_t>(wParam));
        if (it != States().end() && it->second.acceptPaused)
            ResumeAccepting(it->first, it->second);
        return 0;
    }
    if (msg != WM_SOCKET_NOTIFY)
        return DefWindowProcA(hWnd, msg, wParam, lParam);
    uint64_t serial = static_cast<uint64_t>(wParam);
    int event = LOWORD(lParam);
    int error = HIWORD(lParam);
    CAsyncSocket* obj = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_mx);
        auto it = States().find(serial);
        if (it == States().end() || !(it->second.selected & event))
            return 0; // closed, deleted or no longer selected since it was queued
        obj = it->second.obj;
    }
    switch (event) {
    case FD_READ:
        obj->OnReceive(error);
        break;
    case FD_WRITE:
        obj->OnSend(error);
        break;
    case FD_OOB:
        obj->OnOutOfBandData(error);
        break;
    case FD_ACCEPT:
        obj->OnAccept(error);
        break;
    case FD_CONNECT:
        obj->OnConnect(error);
        break;
    case FD_CLOSE:
        obj->OnClose(error);
        break;
    default:
        break;
    }
    return 0;
}

bool SetNonBlocking(int fd) {
    int fl = fcntl(fd, F_GETFL);
    return fl >= 0 && fcntl(fd, F_SETFL, fl | O_NONBLOCK) == 0;
}

bool FillAddress(LPCSTR host, UINT port, sockaddr_in& out) {
    std::memset(&out, 0, sizeof out);
    out.sin_family = AF_INET;
    out.sin_port = htons(static_cast<u_short>(port));
    if (host == nullptr || *host == '\0') {
        out.sin_addr.s_addr = htonl(INADDR_ANY);
        return true;
    }
    in_addr_t a = inet_addr(host);
    if (a != INADDR_NONE || std::strcmp(host, "255.255.255.255") == 0) {
        out.sin_addr.s_addr = a;
        return true;
    }
    hostent* h = AfxWsaGetHostByName(host);
    if (!h || !h->h_addr_list[0])
        return false;
    std::memcpy(&out.sin_addr, h->h_addr_list[0], sizeof(in_addr));
    return true;
}

} // namespace

struct AsyncSocketEngine {
    static void Register(CAsyncSocket& sock, Stage stage, int type) {
        HWND wnd = NotifyWindow();
        std::lock_guard<std::mutex> lock(g_mx);
        uint64_t serial = g_nextSerial.fetch_add(1);
        SockState st;
        st.obj = &sock;
        st.fd = static_cast<int>(sock.m_hSocket);
        st.owner = GetCurrentThreadId();
        st.notifyWnd = wnd;
        st.stage = stage;
        st.type = type;
        States()[serial] = st;
        sock.m_nSerial = serial;
        sock.m_nOwnerThread = st.owner;
    }
    // The listener accepts again, and the connection it accepted is registered with the listener's
    // selection, as Winsock's starts: one look at the table for every accept.
    static void RegisterAccepted(CAsyncSocket& listener, CAsyncSocket& conn) {
        HWND wnd = NotifyWindow();
        std::lock_guard<std::mutex> lock(g_mx);
        SockState st;
        auto it = States().find(listener.m_nSerial);
        if (it != States().end()) {
            it->second.acceptEnabled = true;
            UpdateWatch(it->first, it->second);
            st.type = it->second.type;
            st.selected = it->second.selected;
        }
        const uint64_t serial = g_nextSerial.fetch_add(1);
        st.obj = &conn;
        st.fd = static_cast<int>(conn.m_hSocket);
        st.owner = GetCurrentThreadId();
        st.notifyWnd = wnd;
        st.stage = Stage::Connected;
        st.sendRoom = true; // nothing sent yet
        SockState& s = States()[serial] = st;
        conn.m_nSerial = serial;
        conn.m_nOwnerThread = st.owner;
        Select(serial, s, s.selected);
    }
    static void Unregister(CAsyncSocket& sock) {
        if (sock.m_nSerial == 0)
            return;
        std::lock_guard<std::mutex> lock(g_mx);
        auto it = States().find(sock.m_nSerial);
        if (it != States().end()) {
            if (it->second.watched)
                AfxQueueUnwatchFd(it->second.owner, it->second.fd);
            if (it->second.acceptPaused) {
                ForgetPaused(it->first);
                // A stale retry would find no record and do nothing, but it would wake the thread.
                if (it->second.owner == GetCurrentThreadId())
                    KillTimer(it->second.notifyWnd, static_cast<UINT_PTR>(it->first));
            }
            States().erase(it);
        }
        sock.m_nSerial = 0;
    }
    // After the descriptor was closed: a listener that waits for one can have it now.
    static void DescriptorFreed() {
        // Most closes happen with no listener paused; they need not take the lock for it.
        if (g_nPaused.load(std::memory_order_relaxed) == 0)
            return;
        std::lock_guard<std::mutex> lock(g_mx);
        ResumePausedListeners();
    }
    // The accept found no descriptor for the connection. Trying again while the listener is
    // readable would fail the same way as fast as the thread can loop, so the listener stops
    // looking until a socket of the process closes or the retry time has passed.
    static void PauseAccepting(CAsyncSocket& sock) {
        std::lock_guard<std::mutex> lock(g_mx);
        auto it = States().find(sock.m_nSerial);
        if (it == States().end())
            return;
        SockState& s = it->second;
        s.acceptEnabled = false;
        if (!s.acceptPaused) {
            s.acceptPaused = true;
            PausedListeners().push_back(it->first);
            g_nPaused.store(PausedListeners().size(), std::memory_order_relaxed);
        }
        SetTimer(s.notifyWnd, static_cast<UINT_PTR>(it->first), kAcceptRetryMs, nullptr);
        UpdateWatch(it->first, s, true);
    }
    // Selects lEvent. FD_WRITE on a connection that is known to take data gives its OnSend at
    // once, through the queue, as the descriptor would report it at the next look.
    static void Select(CAsyncSocket& sock, long lEvent) {
        std::lock_guard<std::mutex> lock(g_mx);
        auto it = States().find(sock.m_nSerial);
        if (it != States().end())
            Select(it->first, it->second, lEvent);
    }
    // g_mx held.
    static void Select(uint64_t serial, SockState& s, long lEvent) {
        s.selected = lEvent;
        s.readEnabled = true;
        s.acceptEnabled = !s.acceptPaused;
        s.writeEnabled = (lEvent & FD_WRITE) != 0;
        if (s.writeEnabled && s.stage == Stage::Connected && s.sendRoom) {
            s.writeEnabled = false;
            Post(s, serial, FD_WRITE, 0);
        }
        UpdateWatch(serial, s);
    }
    // A send took less than it was given: the socket may be full.
    static void SendFell(CAsyncSocket& sock, bool wouldBlock) {
        Change(sock, [wouldBlock](SockState& s) {
            s.sendRoom = false;
            if (wouldBlock)
                s.writeEnabled = true; // report again when the socket can take data
        });
    }
    template <class F> static void Change(CAsyncSocket& sock, F f) {
        std::lock_guard<std::mutex> lock(g_mx);
        auto it = States().find(sock.m_nSerial);
        if (it == States().end())
            return;
        f(it->second);
        UpdateWatch(it->first, it->second);
    }
};

BOOL AfxSocketInit(WSADATA* lpwsaData) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), lpwsaData ? lpwsaData : &data);
    // The layer is usable only if the system hands out sockets at all (it may refuse: no
    // descriptors left, or a sandbox without the address family).
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return FALSE;
    ::close(fd);
    return TRUE;
}

CAsyncSocket::CAsyncSocket() = default;

CAsyncSocket::~CAsyncSocket() {
    if (m_hSocket != INVALID_SOCKET)
        CAsyncSocket::Close();
}

BOOL CAsyncSocket::Socket(int nSocketType, long lEvent, int nProtocolType, int nAddressFormat) {
    if (m_hSocket != INVALID_SOCKET) {
        WSASetLastError(WSAEINVAL);
        return FALSE;
    }
    int fd = ::socket(nAddressFormat, nSocketType | SOCK_NONBLOCK | SOCK_CLOEXEC, nProtocolType);
    if (fd < 0) {
        WSASetLastError(AfxErrnoToWsa(errno));
        return FALSE;
    }
    m_hSocket = static_cast<SOCKET>(fd);
    AsyncSocketEngine::Register(*this, Stage::Created, nSocketType);
    return AsyncSelect(lEvent);
}

BOOL CAsyncSocket::Create(UINT nSocketPort, int nSocketType, long lEvent, LPCSTR lpszSocketAddress) {
    if (!Socket(nSocketType, lEvent))
        return FALSE;
    if (nSocketType == SOCK_STREAM) {
        // A restarted listener must bind again while old connections linger in TIME_WAIT;
        // Linux still refuses a second listener on a port that is in use.
        int on = 1;
        ::setsockopt(static_cast<int>(m_hSocket), SOL_SOCKET, SO_REUSEADDR, &on,
                     static_cast<socklen_t>(sizeof on));
    }
    if (!Bind(nSocketPort, lpszSocketAddress)) {
        int err = WSAGetLastError();
        Close();
        WSASetLastError(err);
        return FALSE;
    }
    return TRUE;
}

BOOL CAsyncSocket::Bind(UINT nSocketPort, LPCSTR lpszSocketAddress) {
    sockaddr_in addr;
    if (!FillAddress(lpszSocketAddress, nSocketPort, addr)) {
        WSASetLastError(WSAEINVAL);
        return FALSE;
    }
    return ::bind(m_hSocket, reinterpret_cast<sockaddr*>(&addr), static_cast<int>(sizeof addr)) == 0;
}

BOOL CAsyncSocket::Listen(int nConnectionBacklog) {
    if (::listen(m_hSocket, nConnectionBacklog) != 0)
        return FALSE;
    AsyncSocketEngine::Change(*this, [](SockState& s) { s.stage = Stage::Listening; });
    return TRUE;
}

BOOL CAsyncSocket::Connect(LPCSTR lpszHostAddress, UINT nHostPort) {
    sockaddr_in addr;
    if (!FillAddress(lpszHostAddress, nHostPort, addr)) {
        WSASetLastError(WSAEINVAL);
        return FALSE;
    }
    int rc = ::connect(static_cast<int>(m_hSocket), reinterpret_cast<sockaddr*>(&addr),
                       static_cast<socklen_t>(sizeof addr));
    int err = rc == 0 ? 0 : errno;
    if (rc != 0 && err != EINPROGRESS) {
        WSASetLastError(AfxErrnoToWsa(err));
        return FALSE;
    }
    // Either way the result is reported through OnConnect once the socket is writable.
    AsyncSocketEngine::Change(*this, [](SockState& s) { s.stage = Stage::Connecting; });
    if (rc != 0) {
        WSASetLastError(WSAEWOULDBLOCK);
        return FALSE;
    }
    return TRUE;
}

BOOL CAsyncSocket::AsyncSelect(long lEvent) {
    if (m_hSocket == INVALID_SOCKET || m_nSerial == 0) {
        WSASetLastError(WSAENOTSOCK);
        return FALSE;
    }
    AsyncSocketEngine::Select(*this, lEvent);
    return TRUE;
}

BOOL CAsyncSocket::Accept(CAsyncSocket& rConnectedSocket, SOCKADDR* lpSockAddr, int* lpSockAddrLen) {
    if (rConnectedSocket.m_hSocket != INVALID_SOCKET) {
        WSASetLastError(WSAEINVAL);
        return FALSE;
    }
    socklen_t len = lpSockAddrLen ? static_cast<socklen_t>(*lpSockAddrLen) : 0;
    int fd = ::accept4(static_cast<int>(m_hSocket), lpSockAddr, lpSockAddrLen ? &len : nullptr,
                       SOCK_NONBLOCK | SOCK_CLOEXEC);
    int err = errno;
    if (fd < 0 && (err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM)) {
        AsyncSocketEngine::PauseAccepting(*this);
        WSASetLastError(AfxErrnoToWsa(err));
        return FALSE;
    }
    if (fd < 0) {
        AsyncSocketEngine::Change(*this, [](SockState& s) { s.acceptEnabled = true; });
        WSASetLastError(AfxErrnoToWsa(err));
        return FALSE;
    }
    if (lpSockAddrLen)
        *lpSockAddrLen = static_cast<int>(len);
    rConnectedSocket.m_hSocket = static_cast<SOCKET>(fd);
    AsyncSocketEngine::RegisterAccepted(*this, rConnectedSocket);
    return TRUE;
}

void CAsyncSocket::Close() {
    if (m_hSocket == INVALID_SOCKET)
        return;
    // Forget the registration before the descriptor number can be handed out again.
    AsyncSocketEngine::Unregister(*this);
    ::close(static_cast<int>(m_hSocket));
    m_hSocket = INVALID_SOCKET;
    AsyncSocketEngine::DescriptorFreed();
}

int CAsyncSocket::Receive(void* lpBuf, int nBufLen, int nFlags) {
    if (m_hSocket == INVALID_SOCKET) {
        WSASetLastError(WSAENOTSOCK);
        return SOCKET_ERROR;
    }
    int n = ::recv(m_hSocket, static_cast<char*>(lpBuf), nBufLen, nFlags);
    int err = WSAGetLastError();
    AsyncSocketEngine::Change(*this, [](SockState& s) { s.readEnabled = true; });
    if (n < 0)
        WSASetLastError(err);
    return n;
}

int CAsyncSocket::Send(const void* lpBuf, int nBufLen, int nFlags) {
    if (m_hSocket == INVALID_SOCKET) {
        WSASetLastError(WSAENOTSOCK);
        return SOCKET_ERROR;
    }
    int n = ::send(m_hSocket, static_cast<const char*>(lpBuf), nBufLen, nFlags);
    if (n < nBufLen) {
        const int err = WSAGetLastError();
        AsyncSocketEngine::SendFell(*this, n < 0 && err == WSAEWOULDBLOCK);
        if (n < 0)
            WSASetLastError(err);
    }
    return n;
}

int CAsyncSocket::SendFile(int nFileFd, long long& nOffset, int nCount) {
    if (m_hSocket == INVALID_SOCKET) {
        WSASetLastError(WSAENOTSOCK);
        return SOCKET_ERROR;
    }
    int n = AfxSendFile(m_hSocket, nFileFd, &nOffset, nCount);
    if (n < nCount) {
        const int err = WSAGetLastError();
        AsyncSocketEngine::SendFell(*this, n < 0 && err == WSAEWOULDBLOCK);
        if (n < 0)
            WSASetLastError(err);
    }
    return n;
}

BOOL CAsyncSocket::ShutDown(int nHow) {
    return ::shutdown(m_hSocket, nHow) == 0;
}

BOOL CAsyncSocket::GetPeerName(SOCKADDR* lpSockAddr, int* lpSockAddrLen) {
    return ::getpeername(m_hSocket, lpSockAddr, lpSockAddrLen) == 0;
}

BOOL CAsyncSocket::GetPeerName(CString& rPeerAddress, UINT& rPeerPort) {
    sockaddr_in addr{};
    int len = sizeof addr;
    if (!GetPeerName(reinterpret_cast<sockaddr*>(&addr), &len))
        return FALSE;
    rPeerAddress = inet_ntoa(addr.sin_addr);
    rPeerPort = ntohs(addr.sin_port);
    return TRUE;
}

BOOL CAsyncSocket::GetSockName(SOCKADDR* lpSockAddr, int* lpSockAddrLen) {
    return ::getsockname(m_hSocket, lpSockAddr, lpSockAddrLen) == 0;
}

BOOL CAsyncSocket::GetSockName(CString& rSocketAddress, UINT& rSocketPort) {
    sockaddr_in addr{};
    int len = sizeof addr;
    if (!GetSockName(reinterpret_cast<sockaddr*>(&addr), &len))
        return FALSE;
    rSocketAddress = inet_ntoa(addr.sin_addr);
    rSocketPort = ntohs(addr.sin_port);
    return TRUE;
}

BOOL CAsyncSocket::SetSockOpt(int nOptionName, const void* lpOptionValue, int nOptionLen, int nLevel) {
    return ::setsockopt(m_hSocket, nLevel, nOptionName, static_cast<const char*>(lpOptionValue),
                        nOptionLen) == 0;
}

BOOL CAsyncSocket::GetSockOpt(int nOptionName, void* lpOptionValue, int* lpOptionLen, int nLevel) {
    return ::getsockopt(m_hSocket, nLevel, nOptionName, static_cast<char*>(lpOptionValue), lpOptionLen) == 0;
}

BOOL CAsyncSocket::IOCtl(long lCommand, DWORD* lpArgument) {
    if (!lpArgument) {
        WSASetLastError(WSAEFAULT);
        return FALSE;
    }
    u_long v = *lpArgument;
    if (::ioctlsocket(m_hSocket, lCommand, &v) != 0)
        return FALSE;
    *lpArgument = static_cast<DWORD>(v);
    return TRUE;
}

BOOL CAsyncSocket::Attach(SOCKET hSocket, long lEvent) {
    if (m_hSocket != INVALID_SOCKET || hSocket == INVALID_SOCKET) {
        WSASetLastError(WSAEINVAL);
        return FALSE;
    }
    if (!SetNonBlocking(static_cast<int>(hSocket))) {
        WSASetLastError(WSAENOTSOCK);
        return FALSE;
    }
    m_hSocket = hSocket;
    int acceptConn = 0;
    socklen_t len = sizeof acceptConn;
    ::getsockopt(static_cast<int>(hSocket), SOL_SOCKET, SO_ACCEPTCONN, &acceptConn, &len);
    sockaddr_in peer{};
    socklen_t plen = sizeof peer;
    bool connected = ::getpeername(static_cast<int>(hSocket), reinterpret_cast<sockaddr*>(&peer), &plen) == 0;
    int type = SOCK_STREAM;
    len = sizeof type;
    ::getsockopt(static_cast<int>(hSocket), SOL_SOCKET, SO_TYPE, &type, &len);
    AsyncSocketEngine::Register(*this,
                                acceptConn  ? Stage::Listening
                                : connected ? Stage::Connected
                                            : Stage::Created,
                                type);
    return AsyncSelect(lEvent);
}

SOCKET CAsyncSocket::Detach() {
    SOCKET s = m_hSocket;
    AsyncSocketEngine::Unregister(*this);
    m_hSocket = INVALID_SOCKET;
    return s;
}

void CAsyncSocket::OnReceive(int) {}
void CAsyncSocket::OnSend(int) {}
void CAsyncSocket::OnOutOfBandData(int) {}
void CAsyncSocket::OnAccept(int) {}
void CAsyncSocket::OnConnect(int) {}
void CAsyncSocket::OnClose(int) {}
