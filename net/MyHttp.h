// CMyHttp: the program's own blocking HTTP/1.1 client. One object serves one job (a text request or
// a file download) on the calling thread; it follows redirects, keeps a cookie and decodes chunked
// replies.
#pragma once

#include "platform/afx.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#define MYHTTP_OK 100
#define MYHTTP_ERR_CONNECT 101
#define MYHTTP_ERR_SEND 102
#define MYHTTP_ERR_STATUS 103

// Counts include the resume offset. 64-bit so packages of 2 GiB and more report right figures.
typedef int (*DownLoadProgressProc)(void* context, LONGLONG bytesDone, LONGLONG bytesTotal);

struct CProxyInfo {
    int nType = 0; // 0 no proxy, 1 HTTP CONNECT, 2 SOCKS5
    CString strHost;
    int nPort = 0;
    CString strUser;
    CString strPassword;
};

struct HttpUrlInfo {
    CString host;
    CString path;
    int port = 80;
};

struct HttpHeaderInfo {
    LONGLONG contentLength = 0;
    CString transferEncoding;
    CString location;
    CString setCookie;
    CString contentRange;
    int status = 0;
};

// Incremental decoder of a chunked body, the one core of both the streaming reader and the in-place
// CMyHttp::DecodeChunked. It never reads outside the bytes it is given; a malformed size line or data
// that overruns its chunk is an error, and only the last chunk ends it cleanly. The body ends at the
// last chunk's size line: a trailer after it is neither waited for nor read, so a body gives the same
// result whether it comes whole or in pieces.
class CChunkedDecoder {
public:
    enum State { SIZE_LINE, DATA, DATA_END, DONE, FAILED };
    // Feeds bytes; decoded data is appended to out. Returns false once the body is malformed. Bytes
    // after the last chunk are left alone.
    bool Feed(const char* p, size_t n, std::string& out);
    bool IsDone() const { return m_state == DONE; }
    bool IsFailed() const { return m_state == FAILED; }

private:
    bool EndLine();
    State m_state = SIZE_LINE;
    std::string m_line;
    unsigned long long m_remaining = 0;
};

class CMyHttp {
public:
    CMyHttp();
    ~CMyHttp();
    CMyHttp(const CMyHttp&) = delete;
    CMyHttp& operator=(const CMyHttp&) = delete;

    int GetUrl(CString url, const char* postData, int postLen, CString referer, CString& body);
    int DownloadFile(CString url, const char* postData, int postLen, CString referer, CString filePath);

    void SetProgressCallback(DownLoadProgressProc proc, void* context);
    void SetResumeOffset(LONGLONG offset) { m_nResumeOffset = offset < 0 ? 0 : offset; }
    // Any thread: sets the stop flag and wakes a receive blocked on the connection.
    void Stop();
    BOOL IsStopped() const { return m_nStop.load() != 0; }
    void SetProxy(const CProxyInfo& proxy) { m_proxy = proxy; }
    // A download whose reply names no Content-Length (closed or chunked) fails instead of counting
    // as complete when the peer closes: for files that must not be taken half-way (updates).
    void SetRequireLength(BOOL bRequire) { m_bRequireLength = bRequire; }
    // Connect and receive time-out; 30 s unless a caller (a test) chooses less.
    void SetTimeout(int ms) { m_nTimeoutMs = ms; }

    // Building blocks, public so they can be checked on their own.
    static void ParseUrl(const char* url, HttpUrlInfo& out);
    static CString ResolveLocation(const CString& currentUrl, const CString& location);
    CString BuildRequest(CString host, CString path, CString referer, int postLen);
    static LONGLONG ParseHeader(const char* text, int len, HttpHeaderInfo& out);
    static BOOL GetHeaderValue(const char* text, int len, const char* name, CString& out);
    static const char* FindBytes(const char* buf, int len, const char* pattern);
    static int DecodeChunked(char* buf, int len);
    static int HexToInt(const char* text, int len);
    static BOOL HasDbcsChar(CString s);
    static void EncodeBase64(char* out, const unsigned char* in, int len);

private:
    BOOL Connect(const CString& host, int port);
    void CloseSocket();
    BOOL ProxyConnect(SOCKET s, const char* targetHost, int targetPort, const char* proxyHost, int proxyPort,
                      int type, const char* user, const char* password);
    BOOL ConnectTcp(SOCKET s, const char* host, int port);
    BOOL SendAll(const char* p, size_t n);
    // Receives at most n bytes, waiting at most the time-out: >0 bytes, 0 peer closed, -1 error or
    // time-out or stop.
    int RecvSome(char* p, size_t n);
    BOOL RecvExact(char* p, size_t n);
    BOOL ReadHeader(HttpHeaderInfo& out, std::string& bodyStart);
    // The request and redirect loop shared by text requests and downloads: 0 when a final reply's
    // header was read (the connection stays open), else a MYHTTP_ERR_ code.
    int Request(CString& url, const char* postData, int postLen, CString& referer, HttpHeaderInfo& hdr,
                std::string& bodyStart);
    int ReceiveToFile(FILE* fp, LONGLONG& done, LONGLONG total);

    DownLoadProgressProc m_pProgressProc = nullptr;
    CProxyInfo m_proxy;
    SOCKET m_socket = INVALID_SOCKET;
    std::mutex m_socketLock; // guards m_socket against a Stop from another thread
    void* m_pContext = nullptr;
    std::atomic<int> m_nStop{0};
    LONGLONG m_nResumeOffset = 0;
    CString m_strCookie;
    CString m_strConnection;
    CString m_strUserAgent;
    CString m_strContentType;
    int m_nTimeoutMs = 30000;
    BOOL m_bRequireLength = FALSE;
};
