// Winsock over POSIX sockets.
//
// SOCKET is the descriptor number. The calls that take a SOCKET are C++ overloads of the POSIX
// calls with Winsock's parameter types, so a call with a SOCKET picks ours (Winsock error codes,
// MSG_NOSIGNAL, time-outs). socket() and gethostbyname(), whose POSIX signatures are the same as
// Winsock's, are replaced by function-like macros. Errors go to the thread's last-error value,
// which WSAGetLastError and GetLastError both read, as on Windows.
//
// Blocking sockets made here have send, connect and receive time-outs (30 s unless changed with
// setsockopt SO_RCVTIMEO/SO_SNDTIMEO, which take a DWORD of milliseconds as on Windows); a call
// that runs out of time fails with WSAETIMEDOUT. shutdown(s, SD_BOTH) from another thread wakes a
// thread blocked in recv on the same socket: the recv then returns 0.
#pragma once

#include "platform/base/Win32Types.h"
#include "platform/kernel/WinError.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <type_traits>

using SOCKET = UINT_PTR;
#define INVALID_SOCKET (static_cast<SOCKET>(~static_cast<UINT_PTR>(0)))
#define SOCKET_ERROR (-1)

using u_char = unsigned char;
using u_short = unsigned short;
using u_int = unsigned int;
using u_long = unsigned long;

using SOCKADDR = sockaddr;
using PSOCKADDR = sockaddr*;
using LPSOCKADDR = sockaddr*;
using SOCKADDR_IN = sockaddr_in;
using PSOCKADDR_IN = sockaddr_in*;
using LPSOCKADDR_IN = sockaddr_in*;
using HOSTENT = hostent;
using LPHOSTENT = hostent*;
using PHOSTENT = hostent*;
using IN_ADDR = in_addr;

#define SD_RECEIVE 0
#define SD_SEND 1
#define SD_BOTH 2

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128
struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
};
using LPWSADATA = WSADATA*;

// Error codes.
#define WSABASEERR 10000
#define WSAEINTR 10004
#define WSAEBADF 10009
#define WSAEACCES 10013
#define WSAEFAULT 10014
#define WSAEINVAL 10022
#define WSAEMFILE 10024
#define WSAEWOULDBLOCK 10035
#define WSAEINPROGRESS 10036
#define WSAEALREADY 10037
#define WSAENOTSOCK 10038
#define WSAEDESTADDRREQ 10039
#define WSAEMSGSIZE 10040
#define WSAEPROTOTYPE 10041
#define WSAENOPROTOOPT 10042
#define WSAEPROTONOSUPPORT 10043
#define WSAESOCKTNOSUPPORT 10044
#define WSAEOPNOTSUPP 10045
#define WSAEPFNOSUPPORT 10046
#define WSAEAFNOSUPPORT 10047
#define WSAEADDRINUSE 10048
#define WSAEADDRNOTAVAIL 10049
#define WSAENETDOWN 10050
#define WSAENETUNREACH 10051
#define WSAENETRESET 10052
#define WSAECONNABORTED 10053
#define WSAECONNRESET 10054
#define WSAENOBUFS 10055
#define WSAEISCONN 10056
#define WSAENOTCONN 10057
#define WSAESHUTDOWN 10058
#define WSAETIMEDOUT 10060
#define WSAECONNREFUSED 10061
#define WSAEHOSTDOWN 10064
#define WSAEHOSTUNREACH 10065
#define WSASYSNOTREADY 10091
#define WSAVERNOTSUPPORTED 10092
#define WSANOTINITIALISED 10093
#define WSAHOST_NOT_FOUND 11001
#define WSATRY_AGAIN 11002
#define WSANO_RECOVERY 11003
#define WSANO_DATA 11004

// The Winsock code for a POSIX errno value.
int AfxErrnoToWsa(int err);

int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int iError);

// The default time-outs of blocking sockets made from now on, in milliseconds (0 = none).
void AfxSetDefaultSocketTimeouts(DWORD dwConnectMs, DWORD dwReceiveMs);

SOCKET AfxWsaSocket(int af, int type, int protocol);
#define socket(af, type, protocol) AfxWsaSocket(af, type, protocol)
hostent* AfxWsaGetHostByName(const char* name); // one result per thread, IPv4 only
#define gethostbyname(name) AfxWsaGetHostByName(name)

int closesocket(SOCKET s);
int connect(SOCKET s, const sockaddr* name, int namelen);
int bind(SOCKET s, const sockaddr* name, int namelen);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen);
int send(SOCKET s, const char* buf, int len, int flags);
int recv(SOCKET s, char* buf, int len, int flags);
// Lengths written as sizeof (size_t) still pick the Winsock calls above.
template <class N, std::enable_if_t<std::is_integral_v<N> && !std::is_same_v<N, int>, int> = 0>
inline int send(SOCKET s, const char* buf, N len, int flags) {
    return send(s, buf, static_cast<int>(len), flags);
}
template <class N, std::enable_if_t<std::is_integral_v<N> && !std::is_same_v<N, int>, int> = 0>
inline int recv(SOCKET s, char* buf, N len, int flags) {
    return recv(s, buf, static_cast<int>(len), flags);
}
// Sends up to nCount bytes of the file fd, from *pnOffset on, straight from the file to the
// socket as sendfile does, and advances *pnOffset by what went. Returns that count, or
// SOCKET_ERROR with the Winsock code (WSAEWOULDBLOCK, WSAECONNRESET for a peer that has gone).
// The system can raise SIGPIPE for such a send to a connection the peer has reset, and no flag
// asks it not to; so the calling thread keeps SIGPIPE blocked from its first such send on, and
// takes back the signal that a send to a closed connection left pending. The process goes on
// whatever it does with SIGPIPE.
int AfxSendFile(SOCKET s, int fd, long long* pnOffset, int nCount);
int shutdown(SOCKET s, int how);
int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen);
int getpeername(SOCKET s, sockaddr* name, int* namelen);
int getsockname(SOCKET s, sockaddr* name, int* namelen);
int ioctlsocket(SOCKET s, long cmd, u_long* argp);
int gethostname(char* name, int namelen);
