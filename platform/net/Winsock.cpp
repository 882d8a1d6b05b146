#include "platform/net/Winsock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/sendfile.h>
#include <sys/time.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

// This file calls the system's own socket().
#undef socket
#undef gethostbyname

namespace {

std::atomic<DWORD> g_connectTimeoutMs{30000};
std::atomic<DWORD> g_receiveTimeoutMs{30000};

int Fail(int wsaError) {
    SetLastError(static_cast<DWORD>(wsaError));
    return SOCKET_ERROR;
}

int FailErrno() {
    return Fail(AfxErrnoToWsa(errno));
}

bool IsNonBlocking(int fd) {
    int fl = fcntl(fd, F_GETFL);
    return fl >= 0 && (fl & O_NONBLOCK) != 0;
}

// EAGAIN means "would block" on a non-blocking socket and "time-out" on a blocking one.
int FailTransfer(int fd) {
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return Fail(IsNonBlocking(fd) ? WSAEWOULDBLOCK : WSAETIMEDOUT);
    return FailErrno();
}

timeval MsToTimeval(DWORD ms) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(ms / 1000);
    tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
    return tv;
}

int Fd(SOCKET s) {
    return static_cast<int>(s);
}

bool ValidSocket(SOCKET s) {
    return s != INVALID_SOCKET && s <= 0x7FFFFFFF;
}

} // namespace

int AfxErrnoToWsa(int err) {
    switch (err) {
    case 0:
        return 0;
    case EINTR:
        return WSAEINTR;
    case EBADF:
        return WSAENOTSOCK;
    case EACCES:
    case EPERM:
        return WSAEACCES;
    case EFAULT:
        return WSAEFAULT;
    case EINVAL:
        return WSAEINVAL;
    case EMFILE:
    case ENFILE:
        return WSAEMFILE;
    case EAGAIN:
        return WSAEWOULDBLOCK;
    case EINPROGRESS:
        return WSAEWOULDBLOCK;
    case EALREADY:
        return WSAEALREADY;
    case ENOTSOCK:
        return WSAENOTSOCK;
    case EDESTADDRREQ:
        return WSAEDESTADDRREQ;
    case EMSGSIZE:
        return WSAEMSGSIZE;
    case EPROTOTYPE:
        return WSAEPROTOTYPE;
    case ENOPROTOOPT:
        return WSAENOPROTOOPT;
    case EPROTONOSUPPORT:
        return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT:
        return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP:
        return WSAEOPNOTSUPP;
    case EPFNOSUPPORT:
        return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT:
        return WSAEAFNOSUPPORT;
    case EADDRINUSE:
        return WSAEADDRINUSE;
    case EADDRNOTAVAIL:
        return WSAEADDRNOTAVAIL;
    case ENETDOWN:
        return WSAENETDOWN;
    case ENETUNREACH:
        return WSAENETUNREACH;
    case ENETRESET:
        return WSAENETRESET;
    case ECONNABORTED:
        return WSAECONNABORTED;
    case ECONNRESET:
    case EPIPE:
        return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM:
        return WSAENOBUFS;
    case EISCONN:
        return WSAEISCONN;
    case ENOTCONN:
        return WSAENOTCONN;
    case ESHUTDOWN:
        return WSAESHUTDOWN;
    case ETIMEDOUT:
        return WSAETIMEDOUT;
    case ECONNREFUSED:
        return WSAECONNREFUSED;
    case EHOSTDOWN:
        return WSAEHOSTDOWN;
    case EHOSTUNREACH:
        return WSAEHOSTUNREACH;
    default:
        return WSAEINVAL;
    }
}

int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData) {
    if (lpWSAData) {
        std::memset(lpWSAData, 0, sizeof *lpWSAData);
        lpWSAData->wVersion = wVersionRequested;
        lpWSAData->wHighVersion = MAKEWORD(2, 2);
        std::strcpy(lpWSAData->szDescription, "WinSock 2.0");
        std::strcpy(lpWSAData->szSystemStatus, "Running");
        lpWSAData->iMaxSockets = 0x7FFF;
    }
    return 0;
}

int WSACleanup() {
    return 0;
}

int WSAGetLastError() {
    return static_cast<int>(GetLastError());
}

void WSASetLastError(int iError) {
    SetLastError(static_cast<DWORD>(iError));
}

void AfxSetDefaultSocketTimeouts(DWORD dwConnectMs, DWORD dwReceiveMs) {
    g_connectTimeoutMs.store(dwConnectMs);
    g_receiveTimeoutMs.store(dwReceiveMs);
}

SOCKET AfxWsaSocket(int af, int type, int protocol) {
    int fd = ::socket(af, type | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        FailErrno();
        return INVALID_SOCKET;
    }
    // Connect and send time out through the send time-out on Linux, receive through its own.
    timeval snd = MsToTimeval(g_connectTimeoutMs.load());
    timeval rcv = MsToTimeval(g_receiveTimeoutMs.load());
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &snd, static_cast<socklen_t>(sizeof snd));
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &rcv, static_cast<socklen_t>(sizeof rcv));
    SetLastError(0);
    return static_cast<SOCKET>(fd);
}

hostent* AfxWsaGetHostByName(const char* name) {
    struct Storage {
        hostent h;
        std::string name;
        std::vector<in_addr> addrs;
        std::vector<char*> list;
        char* aliases[1];
    };
    thread_local Storage st;
    if (!name) {
        Fail(WSAEFAULT);
        return nullptr;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    int rc = getaddrinfo(name, nullptr, &hints, &res);
    if (rc != 0 || !res) {
        Fail(rc == EAI_AGAIN ? WSATRY_AGAIN : WSAHOST_NOT_FOUND);
        return nullptr;
    }
    st.name = name;
    st.addrs.clear();
    for (addrinfo* p = res; p; p = p->ai_next) {
        if (p->ai_family == AF_INET)
            st.addrs.push_back(reinterpret_cast<sockaddr_in*>(p->ai_addr)->sin_addr);
    }
    freeaddrinfo(res);
    if (st.addrs.empty()) {
        Fail(WSANO_DATA);
        return nullptr;
    }
    st.list.clear();
    for (in_addr& a : st.addrs)
        st.list.push_back(reinterpret_cast<char*>(&a));
    st.list.push_back(nullptr);
    st.aliases[0] = nullptr;
    st.h.h_name = st.name.data();
    st.h.h_aliases = st.aliases;
    st.h.h_addrtype = AF_INET;
    st.h.h_length = static_cast<int>(sizeof(in_addr));
    st.h.h_addr_list = st.list.data();
    return &st.h;
}

int closesocket(SOCKET s) {
    if (!ValidSocket(s))
        return Fail(WSAENOTSOCK);
    if (::close(Fd(s)) != 0)
        return FailErrno();
    return 0;
}

int connect(SOCKET s, const sockaddr* name, int namelen) {
    if (!ValidSocket(s))
        return Fail(WSAENOTSOCK);
    if (::connect(Fd(s), name, static_cast<socklen_t>(namelen)) == 0)
        return 0;
    if (errno == EINPROGRESS && !IsNonBlocking(Fd(s)))
        return Fail(WSAETIMEDOUT); // the send time-out ran out while connecting
    return FailErrno();
}

int bind(SOCKET s, const sockaddr* name, int namelen) {
    if (!ValidSocket(s))
        return Fail(WSAENOTSOCK);
    if (::bind(Fd(s), name, static_cast<socklen_t>(namelen)) != 0)
        return FailErrno();
    return 0;
}

int listen(SOCKET s, int backlog) {
    if (!ValidSocket(s))
        return Fail(WSAENOTSOCK);
    if (::listen(Fd(s), backlog) != 0)
        return FailErrno();
    return 0;
}

SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen) {
    if (!ValidSocket(s)) {
        Fail(WSAENOTSOCK);
        return INVALID_SOCKET;
    }
    socklen_t len = addrlen ? static_cast<socklen_t>(*addrlen) : 0;
    int fd = ::accept4(Fd(s), addr, addrlen ? &len : nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        FailTransfer(Fd(s));
        return INVALID_SOCKET;
    }
    if (addrlen)
        *addrlen = static_cast<int>(len);
    return static_cast<SOCKET>(fd);
}

int send(SOCKET s, const char* buf, int len, int flags) {
    if (!ValidSocket(s))
        return Fail(WSAENOTSOCK);
    if (len < 0 || (len > 0 && !buf))
        return Fail(WSAEFAULT);
    int fd = Fd(s);
    // A blocking send returns when everything went, as Winsock's does. Whether the socket blocks
    // matters only when a send took less than all, so a complete send does not ask.
    int blocking = -1;
    auto isBlocking = [&] {
        if (blocking < 0) {
            int err = errno;
            blocking = IsNonBlocking(fd) ? 0 : 1;
            errno = err;
        }
        return blocking == 1;
    };
    size_t done = 0;
    while (done < static_cast<size_t>(len)) {
        ssize_t n = ::send(fd, static_cast<const void*>(buf + done), static_cast<size_t>(len) - done,
                           flags | MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (done > 0 && !isBlocking())
                break;
            return FailTransfer(fd);
        }
        done += static_cast<size_t>(n);
        if (done < static_cast<size_t>(len) && !isBlocking())
            break;
    }
    return static_cast<int>(done);
}

int recv(SOCKET s, char* buf, int len, int flags) {
    if (!ValidSocket(s))
        return Fail(WSAENOTSOCK);
    if (len < 0 || (len > 0 && !buf))
        return Fail(WSAEFAULT);
    for (;;) {
        ssize_t n = ::recv(Fd(s), static_cast<void*>(buf), static_cast<size_t>(len), flags);
        if (n >= 0)
            return static_cast<int>(n);
        if (errno == EINTR)
            continue;
        return FailTransfer(Fd(s));
    }
}

namespace {

// Blocked once per thread: blocking and unblocking it around every send would cost two system
// calls per send.
thread_local bool t_bSigpipeBlocked = false;

void BlockSigpipe() {
    if (t_bSigpipeBlocked)
        return;
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    t_bSigpipeBlocked = pthread_sigmask(SIG_BLOCK, &pipe, nullptr) == 0;
}

// The send failed with EPIPE, which raised SIGPIPE for this thread; it waits, blocked, and goes.
void TakeBackSigpipe() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    const timespec now{0, 0};
    int err = errno;
    while (sigtimedwait(&pipe, nullptr, &now) < 0 && errno == EINTR) {
    }
    errno = err;
}

} // namespace

int AfxSendFile(SOCKET s, int fd, long long* pnOffset, int nCount) {
    if (!ValidSocket(s))
        return Fail(WSAENOTSOCK);
    if (pnOffset == nullptr || nCount < 0 || fd < 0)
        return Fail(WSAEFAULT);
    BlockSigpipe();
    off_t nAt = static_cast<off_t>(*pnOffset);
    for (;;) {
        ssize_t n = ::sendfile(Fd(s), fd, &nAt, static_cast<size_t>(nCount));
        if (n >= 0) {
            *pnOffset = static_cast<long long>(nAt);
            return static_cast<int>(n);
        }
        if (errno == EINTR)
            continue;
        if (errno == EPIPE && t_bSigpipeBlocked)
            TakeBackSigpipe();
        return FailTransfer(Fd(s));
    }
}

int shutdown(SOCKET s, int how) {
    if (!ValidSocket(s))
        return Fail(WSAENOTSOCK);
    if (::shutdown(Fd(s), how) != 0)
        return FailErrno();
    return 0;
}

int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen) {
    if (!ValidSocket(s))
        return Fail(WSAENOTSOCK);
    if (level == SOL_SOCKET && (optname == SO_RCVTIMEO || optname == SO_SNDTIMEO)) {
        if (!optval || optlen < static_cast<int>(sizeof(DWORD)))
            return Fail(WSAEFAULT);
        DWORD ms;
        std::memcpy(&ms, optval, sizeof ms);
        timeval tv = MsToTimeval(ms);
        if (::setsockopt(Fd(s), level, optname, &tv, static_cast<socklen_t>(sizeof tv)) != 0)
            return FailErrno();
        return 0;
    }
    if (::setsockopt(Fd(s), level, optname, static_cast<const void*>(optval),
                     static_cast<socklen_t>(optlen)) != 0)
        return FailErrno();
    return 0;
}

int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen) {
    if (!ValidSocket(s))
        return Fail(WSAENOTSOCK);
    if (!optval || !optlen)
        return Fail(WSAEFAULT);
    if (level == SOL_SOCKET && (optname == SO_RCVTIMEO || optname == SO_SNDTIMEO)) {
        if (*optlen < static_cast<int>(sizeof(DWORD)))
            return Fail(WSAEFAULT);
        timeval tv{};
        socklen_t l = sizeof tv;
        if (::getsockopt(Fd(s), level, optname, &tv, &l) != 0)
            return FailErrno();
        DWORD ms = static_cast<DWORD>(tv.tv_sec * 1000 + tv.tv_usec / 1000);
        std::memcpy(optval, &ms, sizeof ms);
        *optlen = sizeof ms;
        return 0;
    }
    socklen_t l = static_cast<socklen_t>(*optlen);
    if (::getsockopt(Fd(s), level, optname, static_cast<void*>(optval), &l) != 0)
        return FailErrno();
    if (level == SOL_SOCKET && optname == SO_ERROR && l >= sizeof(int)) {
        int e;
        std::memcpy(&e, optval, sizeof e);
        e = AfxErrnoToWsa(e);
        std::memcpy(optval, &e, sizeof e);
    }
    *optlen = static_cast<int>(l);
    return 0;
}

int getpeername(SOCKET s, sockaddr* name, int* namelen) {
    if (!ValidSocket(s))
        return Fail(WSAENOTSOCK);
    if (!name || !namelen)
        return Fail(WSAEFAULT);
    socklen_t l = static_cast<socklen_t>(*namelen);
    if (::getpeername(Fd(s), name, &l) != 0)
        return FailErrno();
    *namelen = static_cast<int>(l);
    return 0;
}

int getsockname(SOCKET s, sockaddr* name, int* namelen) {
    if (!ValidSocket(s))
        return Fail(WSAENOTSOCK);
    if (!name || !namelen)
        return Fail(WSAEFAULT);
    socklen_t l = static_cast<socklen_t>(*namelen);
    if (::getsockname(Fd(s), name, &l) != 0)
        return FailErrno();
    *namelen = static_cast<int>(l);
    return 0;
}

int ioctlsocket(SOCKET s, long cmd, u_long* argp) {
    if (!ValidSocket(s))
        return Fail(WSAENOTSOCK);
    if (!argp)
        return Fail(WSAEFAULT);
    int fd = Fd(s);
    if (cmd == static_cast<long>(FIONBIO)) {
        int fl = fcntl(fd, F_GETFL);
        if (fl < 0)
            return FailErrno();
        fl = *argp ? (fl | O_NONBLOCK) : (fl & ~O_NONBLOCK);
        if (fcntl(fd, F_SETFL, fl) != 0)
            return FailErrno();
        return 0;
    }
    if (cmd == static_cast<long>(FIONREAD)) {
        int avail = 0;
        if (::ioctl(fd, FIONREAD, &avail) != 0)
            return FailErrno();
        *argp = static_cast<u_long>(avail);
        return 0;
    }
    return Fail(WSAEINVAL);
}

int gethostname(char* name, int namelen) {
    if (!name || namelen <= 0)
        return Fail(WSAEFAULT);
    if (::gethostname(name, static_cast<size_t>(namelen)) != 0)
        return FailErrno();
    name[namelen - 1] = '\0';
    return 0;
}
