// The local server's host object: the document root, the host name written into URLs and the
// listing flags that every connection consults.
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

    CString m_strHostName;
    CString m_strRoot;
    BOOL m_bListAllowed = TRUE;
    BOOL m_bListIcons = TRUE;
    CListenSocket* m_pListenSocket = nullptr;
};
