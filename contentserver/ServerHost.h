// The local server's host object: the document root, the host name written into URLs, the
// listing flags that every connection consults, and the listening socket.
#pragma once

#include "platform/afx.h"

class CListenSocket;

// The server's TCP port; also written into redirect URLs.
extern int g_nServerPort;

class CServerHost {
public:
    CServerHost();
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
};
