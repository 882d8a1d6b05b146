// One connection of the local HTTP/1.0 server: it parses one request, answers it from the
// document root (files, default-document redirects, folder listings) and shuts down.
#pragma once

#include "platform/afx.h"
#include "platform/net/Net.h"
#include "platform/user/AfxObject.h"

#include "contentserver/Request.h"

#include <cstdio>
#include <memory>

class CServerHost;

// A connection's receive and answer buffer. Each connection starts with 1 MiB of room, so
// growing it must not clear the bytes as a byte array does: zeroing that megabyte cost more
// than answering the request. Only bytes that were received, read or appended are ever read.
// Blocks of exactly kPooledRoom go back to a small store of the thread that lets them go, and the
// next buffer of that size on the thread takes one from there: taking a megabyte from the heap
// and giving it back for every connection cost more than answering a small request.
class CSocketBuffer {
public:
    static const INT_PTR kPooledRoom = 1048576;

    CSocketBuffer() = default;
    ~CSocketBuffer();
    CSocketBuffer(const CSocketBuffer&) = delete;
    CSocketBuffer& operator=(const CSocketBuffer&) = delete;

    INT_PTR GetSize() const { return m_nSize; }
    BYTE* GetData() { return m_data.get(); }
    const BYTE* GetData() const { return m_data.get(); }
    BYTE& operator[](INT_PTR i) { return m_data[static_cast<size_t>(i)]; }
    BYTE operator[](INT_PTR i) const { return m_data[static_cast<size_t>(i)]; }
    // Keeps the first bytes up to the new size; the room beyond what was there is unset.
    void SetSize(INT_PTR nNewSize);

private:
    std::unique_ptr<BYTE[]> m_data;
    INT_PTR m_nSize = 0;
    INT_PTR m_nRoom = 0;
};

// Parse states of a connection.
#define REQ_STATE_LINE 0
#define REQ_STATE_HEADERS 1
#define REQ_STATE_BODY 2
#define REQ_STATE_DONE 4

class CRequestSocket : public CAsyncSocket {
    DECLARE_DYNCREATE(CRequestSocket)

public:
    // Limits on what one request may make the server hold.
    static const int kReceiveBufferSize = 1048576;
    static const int kMaxLineLength = 8192;
    static const int kMaxHeaderBlock = 65536;
    static const int kMaxBodyLength = 16 * 1048576;
    // A file is sent in pieces of this size, whatever the state of the buffer.
    static const int kFilePieceSize = 65536;
    // Attached bodies from this size on go from their file to the socket without a copy here;
    // below it one copy costs less than the system's setting up of the transfer.
    static const DWORD kSendFileMinimum = 16384;

    CRequestSocket();
    explicit CRequestSocket(CServerHost* pHost);
    ~CRequestSocket() override;

    void OnReceive(int nErrorCode) override;
    void OnSend(int nErrorCode) override;
    void OnClose(int nErrorCode) override;

    virtual int AddRef();
    virtual int Release();
    virtual BOOL HandleRequest();
    virtual int RunServerApp();

    // Parsing.
    void ParseReceived(int nCount);
    BOOL GetLine(CSocketBuffer& buffer, int count, int& position);
    void ProcessLine();
    BOOL StartBody();
    void AppendBody(int count, int position);
    BOOL ParseMultipart(CString body);
    static CString UrlDecode(CString text, BOOL plusToSpace);

    // Dispatch and targets.
    int ProcessRequest();
    BOOL ResolveTarget(CString& target);
    BOOL MapUrlToPath(CString& url);
    BOOL PathToUrl(CString& path);
    BOOL FindDefaultDocument(CString names, BOOL executable);
    BOOL CheckExecutable();
    BOOL MatchExtension(CString extension, CString names, int kind);

    // Answers.
    BOOL StartFileResponse();
    void SendFileBody();
    void WriteStatusLine(const CString& status);
    void WriteErrorStatus(const CString& status);
    void AppendHeader(const CString& name, const CString& value);
    void AppendHeaderNumber(const CString& name, int value);
    void AppendContentType();
    void AppendContentTypeForExtension(CString extension);
    int AppendResponseText(const CString& text);
    int AppendResponseUtf8(const CString& text);
    // Appends raw bytes to the answer, growing the buffer in whole 1024-byte steps.
    int AppendResponseBytes(const void* pData, int nLength);
    // Makes bytes that others share the answer's body, sent after the buffered bytes straight
    // from where they are, without a copy per connection. pHold keeps them valid until the last
    // of them was sent; it is empty when their owner keeps them valid for as long as that.
    // When the bytes are also in a file that cannot change (nFd, from nOffset on), a large body
    // goes from that file to the socket inside the system.
    void AttachResponseBody(std::shared_ptr<const void> pHold, const BYTE* pData, DWORD dwSize, int nFd = -1,
                            long long nOffset = 0);

    // HTTP dates.
    static CString FormatHttpDate(const FILETIME* time);
    static BOOL ParseHttpDate(CString text, CTime& time);
    BOOL IsModifiedSince(const CTime& time);

    // Path text.
    static CString SplitLastSegment(CString& path);
    static void JoinPath(CString& path, CString name);

    // The folder listing page.
    void WriteDirectoryListing();
    int WriteListingEntry(const WIN32_FIND_DATAA& entry, CString url, BOOL icons);

    CServerHost* m_pHost = nullptr;
    CRequest* m_pRequest = nullptr;
    CSocketBuffer m_buf;
    int m_nBytesToSend = 0;
    int m_nSendOffset = 0; // unsent answer bytes start here in the buffer
    CString m_strLine;
    int m_nParseState = REQ_STATE_LINE;
    FILE* m_pFile = nullptr;
    int m_nRef = 1;
    int m_nHeaderBytes = 0;     // request line and headers so far
    BOOL m_bBadRequest = FALSE; // the request cannot be answered but with 400
    // The host's bookkeeping: the tick from which the idle time-out runs, and the connection's
    // place in the host's list (-1 when not in it). The time-out runs from the accept until the
    // request is whole, however slowly its bytes trickle in, then from each piece that was sent.
    DWORD m_dwLastActivity = 0;
    int m_nHostSlot = -1;
    // The attached body: what is left of it, and what keeps it valid.
    std::shared_ptr<const void> m_pBodyHold;
    const BYTE* m_pBody = nullptr;
    DWORD m_dwBodyLeft = 0;
    int m_nBodyFd = -1;
    long long m_nBodyOffset = 0;
    // The peer's address when the accept gave it.
    sockaddr_in m_peerAddress{};
    bool m_bPeerKnown = false;

    // Ends a connection that sat idle past the host's time-out: the socket closes at once, and
    // the connection is released as when its peer closes.
    void DropIdle();
    // The peer's address as the accept gave it, so the request need not ask the system again.
    void SetPeerAddress(const sockaddr_in& address);

protected:
    // Closes the file an answer sends from, if any.
    void CloseFile();

private:
    // Sends what it can of the attached body. TRUE when the connection is to wait for the next
    // write notification or has ended; FALSE when the body is all sent.
    BOOL SendAttachedBody();
    void RejectRequest();
    BOOL ReadFilePiece(int nAt, int nMax);
};
