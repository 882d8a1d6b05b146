// The local server's listening socket and the connection class that answers the readers: the
// self-test page, the program's own served files and the loaded item's memory files, before the
// generic answers run.
#pragma once

#include "contentserver/RequestSocket.h"

class CListenSocket : public CAsyncSocket {
    DECLARE_DYNCREATE(CListenSocket)

public:
    CListenSocket() = default;
    explicit CListenSocket(CServerHost* pHost) : m_pHost(pHost) {}
    ~CListenSocket() override = default;

    void OnAccept(int nErrorCode) override;

    CServerHost* m_pHost = nullptr;
};

class CMyRequestSocket : public CRequestSocket {
    DECLARE_DYNCREATE(CMyRequestSocket)

public:
    CMyRequestSocket() = default;
    explicit CMyRequestSocket(CServerHost* pHost) : CRequestSocket(pHost) {}
    ~CMyRequestSocket() override = default;

    BOOL HandleRequest() override;
    int RunServerApp() override { return 0; }
    BOOL ServeMemFile(CString url);
    // Answers with a file of the program's own (see ServedFiles.h); "404 Not Found" when there
    // is none at the path.
    void ServeDiskFile(const CString& path);
};

// The thread message that closes the listener.
#define WM_SERVER_STOP_LISTEN 1000
