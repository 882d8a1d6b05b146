// The local server's host object: the document root, the host name written into URLs, the
// listing flags that every connection consults, and the listening socket. It also keeps the
// connections it serves, so that no local client can hold the server's descriptors: at most
// m_nMaxConnections at once, and none idle for longer than m_dwIdleTimeout. Used on the server
// thread only; the connections register themselves from that thread.
#pragma once

#include "platform/afx.h"

#include <vector>

class CListenSocket;
class CRequestSocket;

// The server's TCP port; also written into redirect URLs.
extern int g_nServerPort;
// The limits a host starts with; a host reads them when it is made, so a test sets them first.
// Milliseconds a connection may take to send its whole request, and then to take each piece of
// the answer, before it is dropped.
extern DWORD g_dwServerIdleTimeout;
// Connections held at once; one accepted beyond them is closed at once.
extern int g_nServerMaxConnections;

class CServerHost {
public:
    CServerHost();
    ~CServerHost();
    CServerHost(const CServerHost&) = delete;
    CServerHost& operator=(const CServerHost&) = delete;

    // Listens on g_nServerPort; FALSE when the port cannot be had.
    BOOL Start();
    // Closes the listener; connections already accepted finish by themselves.
    void Stop();

    // The text that says why listening on the port failed, for the error code of the failure.
    static CString ListenErrorText(int nError, int nPort);

    CString m_strHostName;
    CString m_strRoot;
    BOOL m_bListAllowed = TRUE;
    BOOL m_bListIcons = TRUE;
    CListenSocket* m_pListenSocket = nullptr;
    DWORD m_dwIdleTimeout;
    int m_nMaxConnections;

    // Connection bookkeeping, called by the connections themselves.
    void AddConnection(CRequestSocket* pSocket);
    void RemoveConnection(CRequestSocket* pSocket);
    int GetConnectionCount() const { return static_cast<int>(m_connections.size()); }
    // Drops the connections that were idle for the time-out by now (a tick count).
    void DropIdleConnections(DWORD dwNow);

private:
    std::vector<CRequestSocket*> m_connections; // each knows its own place, for a quick removal
    UINT_PTR m_nSweepTimer = 0;
};
