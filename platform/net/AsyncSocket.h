// CAsyncSocket: a non-blocking socket whose notifications arrive through the message queue of
// the thread that created it, one at a time, as the framework's did through a hidden window.
//
// - AsyncSelect replaces the selected set. FD_WRITE selected on a writable socket gives an
//   OnSend at once; after that OnSend comes again only when a Send failed with WSAEWOULDBLOCK
//   and the socket can take data again. A connection whose last send took all it was given
//   counts as writable without a look at the system, so selecting FD_WRITE on it queues its
//   OnSend straight away; one that took less waits until the system says it takes data.
// - FD_READ comes while unread data remains, again after each Receive; FD_ACCEPT likewise after
//   each Accept. FD_CLOSE comes once, after the data has been read.
// - An Accept that fails for want of a descriptor (WSAEMFILE, WSAENOBUFS) gives no FD_ACCEPT
//   until a socket of the process closes or a fifth of a second has passed: the connection still
//   waits in the backlog, and asking again at once would only fail again, at full speed.
// - Nothing reaches an object after Close or its destruction, or for an event no longer
//   selected, even when the descriptor number is reused at once: notifications are matched to
//   the object by a serial number, never by the descriptor.
// - Listening sockets set SO_REUSEADDR: a restart binds its port again at once, while a second
//   listener on a port in use fails with WSAEADDRINUSE.
#pragma once

#include "platform/base/AfxStr.h"
#include "platform/net/Winsock.h"
#include "platform/user/AfxObject.h"

#include <cstdint>

#define FD_READ 0x01
#define FD_WRITE 0x02
#define FD_OOB 0x04
#define FD_ACCEPT 0x08
#define FD_CONNECT 0x10
#define FD_CLOSE 0x20
#define FD_ALL_EVENTS (FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE)

// Initialises socket support for the calling thread (and the process on first use). FALSE when
// the system hands out no sockets at all.
BOOL AfxSocketInit(WSADATA* lpwsaData = nullptr);

class CAsyncSocket : public CObject {
    DECLARE_DYNAMIC(CAsyncSocket)
public:
    enum { receives = 0, sends = 1, both = 2 };

    CAsyncSocket();
    ~CAsyncSocket() override;
    CAsyncSocket(const CAsyncSocket&) = delete;
    CAsyncSocket& operator=(const CAsyncSocket&) = delete;

    SOCKET m_hSocket = INVALID_SOCKET;
    operator SOCKET() const { return m_hSocket; }

    // Makes the socket, binds it (to all interfaces unless an address is given; port 0 chooses
    // one) and selects lEvent. The calling thread receives its notifications.
    BOOL Create(UINT nSocketPort = 0, int nSocketType = SOCK_STREAM, long lEvent = FD_ALL_EVENTS,
                LPCSTR lpszSocketAddress = nullptr);
    BOOL Socket(int nSocketType = SOCK_STREAM, long lEvent = FD_ALL_EVENTS, int nProtocolType = 0,
                int nAddressFormat = PF_INET);
    BOOL Bind(UINT nSocketPort, LPCSTR lpszSocketAddress = nullptr);
    BOOL Listen(int nConnectionBacklog = 5);
    // Non-blocking: FALSE with WSAEWOULDBLOCK while connecting; OnConnect reports the result.
    BOOL Connect(LPCSTR lpszHostAddress, UINT nHostPort);
    BOOL AsyncSelect(long lEvent = FD_ALL_EVENTS);
    BOOL ShutDown(int nHow = sends);
    BOOL GetPeerName(CString& rPeerAddress, UINT& rPeerPort);
    BOOL GetPeerName(SOCKADDR* lpSockAddr, int* lpSockAddrLen);
    BOOL GetSockName(CString& rSocketAddress, UINT& rSocketPort);
    BOOL GetSockName(SOCKADDR* lpSockAddr, int* lpSockAddrLen);
    BOOL SetSockOpt(int nOptionName, const void* lpOptionValue, int nOptionLen, int nLevel = SOL_SOCKET);
    BOOL GetSockOpt(int nOptionName, void* lpOptionValue, int* lpOptionLen, int nLevel = SOL_SOCKET);
    BOOL IOCtl(long lCommand, DWORD* lpArgument);
    BOOL Attach(SOCKET hSocket, long lEvent = FD_ALL_EVENTS);
    SOCKET Detach();
    static int GetLastError() { return WSAGetLastError(); }
    // Sends up to nCount bytes of the file nFileFd from nOffset on, straight from the file
    // (AfxSendFile), and advances nOffset by what went. Like Send, a send that would block
    // selects the next OnSend for when the socket takes data again.
    int SendFile(int nFileFd, long long& nOffset, int nCount);

    // Virtual operations in the framework's order.
    virtual BOOL Accept(CAsyncSocket& rConnectedSocket, SOCKADDR* lpSockAddr = nullptr,
                        int* lpSockAddrLen = nullptr);
    virtual void Close();
    virtual int Receive(void* lpBuf, int nBufLen, int nFlags = 0);
    virtual int Send(const void* lpBuf, int nBufLen, int nFlags = 0);
    virtual void OnReceive(int nErrorCode);
    virtual void OnSend(int nErrorCode);
    virtual void OnOutOfBandData(int nErrorCode);
    virtual void OnAccept(int nErrorCode);
    virtual void OnConnect(int nErrorCode);
    virtual void OnClose(int nErrorCode);

private:
    friend struct AsyncSocketEngine;
    uint64_t m_nSerial = 0; // the object's registration; 0 when not registered
    DWORD m_nOwnerThread = 0;
};
