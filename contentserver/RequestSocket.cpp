#include "contentserver/RequestSocket.h"

#include "platform/base/AfxAscii.h"
#include "contentserver/ServerHost.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

// The thread's blocks of CSocketBuffer::kPooledRoom bytes that no buffer uses now. A few: enough
// for the connections that come and go at once, and little held when the server is idle. A
// buffer that goes after the thread's store (a connection ended at the thread's or the process's
// end) frees its block.
const size_t kPooledBlocks = 16;
thread_local bool t_bPoolGone = false;
struct BlockPool {
    std::vector<std::unique_ptr<BYTE[]>> blocks;
    ~BlockPool() { t_bPoolGone = true; }
};
thread_local BlockPool t_pool;

std::unique_ptr<BYTE[]> NewBlock(INT_PTR nRoom) {
    if (nRoom == CSocketBuffer::kPooledRoom && !t_bPoolGone && !t_pool.blocks.empty()) {
        std::unique_ptr<BYTE[]> block = std::move(t_pool.blocks.back());
        t_pool.blocks.pop_back();
        return block;
    }
    return std::unique_ptr<BYTE[]>(new BYTE[static_cast<size_t>(nRoom)]);
}

void ReleaseBlock(std::unique_ptr<BYTE[]> block, INT_PTR nRoom) {
    if (block && nRoom == CSocketBuffer::kPooledRoom && !t_bPoolGone && t_pool.blocks.size() < kPooledBlocks)
        t_pool.blocks.push_back(std::move(block));
}

} // namespace

CSocketBuffer::~CSocketBuffer() {
    ReleaseBlock(std::move(m_data), m_nRoom);
}

void CSocketBuffer::SetSize(INT_PTR nNewSize) {
    if (nNewSize < 0)
        nNewSize = 0;
    if (nNewSize > m_nRoom) {
        std::unique_ptr<BYTE[]> grown = NewBlock(nNewSize);
        if (m_nSize > 0)
            memcpy(grown.get(), m_data.get(), static_cast<size_t>(m_nSize));
        ReleaseBlock(std::move(m_data), m_nRoom);
        m_data = std::move(grown);
        m_nRoom = nNewSize;
    }
    m_nSize = nNewSize;
}

static_assert(CSocketBuffer::kPooledRoom == CRequestSocket::kReceiveBufferSize,
              "every connection's first room is pooled");

IMPLEMENT_DYNCREATE(CRequestSocket, CAsyncSocket)

CRequestSocket::CRequestSocket() {
    m_buf.SetSize(kReceiveBufferSize);
}

CRequestSocket::CRequestSocket(CServerHost* pHost) : m_pHost(pHost) {
    m_buf.SetSize(kReceiveBufferSize);
    m_dwLastActivity = GetTickCount();
    if (m_pHost != nullptr)
        m_pHost->AddConnection(this);
}

CRequestSocket::~CRequestSocket() {
    if (m_pHost != nullptr)
        m_pHost->RemoveConnection(this);
    CloseFile();
    if (m_pRequest != nullptr) {
        m_pRequest->Release();
        m_pRequest = nullptr;
    }
}

int CRequestSocket::AddRef() {
    return ++m_nRef;
}

int CRequestSocket::Release() {
    int n = --m_nRef;
    if (n == 0)
        delete this;
    return n;
}

BOOL CRequestSocket::HandleRequest() {
    return FALSE;
}

int CRequestSocket::RunServerApp() {
    WriteErrorStatus("501 Not Implemented");
    return 0;
}

void CRequestSocket::CloseFile() {
    if (m_pFile != nullptr) {
        fclose(m_pFile);
        m_pFile = nullptr;
    }
}

void CRequestSocket::DropIdle() {
    if (m_pHost != nullptr)
        m_pHost->RemoveConnection(this);
    Close();
    Release();
}

void CRequestSocket::SetPeerAddress(const sockaddr_in& address) {
    m_peerAddress = address;
    m_bPeerKnown = address.sin_family == AF_INET;
}

namespace {

// The address in dotted form, as inet_ntoa writes it.
CString DottedAddress(const in_addr& address) {
    const uint32_t a = ntohl(address.s_addr);
    char text[16];
    char* p = text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        p = std::to_chars(p, text + sizeof text, (a >> shift) & 0xFF).ptr;
        if (shift > 0)
            *p++ = '.';
    }
    return CString(std::string(text, static_cast<size_t>(p - text)));
}

} // namespace

void CRequestSocket::OnReceive(int /*nErrorCode*/) {
    // A notification that was already queued when the request completed reads nothing more.
    if (m_nParseState == REQ_STATE_DONE)
        return;
    if (m_pRequest == nullptr) {
        m_pRequest = new CRequest;
        if (m_bPeerKnown) {
            m_pRequest->m_strHost = DottedAddress(m_peerAddress.sin_addr);
            m_pRequest->m_nPort = ntohs(m_peerAddress.sin_port);
        } else {
            CString strAddress;
            UINT nPort = 0;
            if (GetPeerName(strAddress, nPort)) {
                m_pRequest->m_strHost = strAddress;
                m_pRequest->m_nPort = nPort;
            }
        }
    }
    if (m_buf.GetSize() < kReceiveBufferSize)
        m_buf.SetSize(kReceiveBufferSize);
    int n = Receive(m_buf.GetData(), static_cast<int>(m_buf.GetSize()));
    if (n == SOCKET_ERROR || n < 0)
        return;
    ParseReceived(n);
}

void CRequestSocket::RejectRequest() {
    m_strLine.Empty();
    m_buf.SetSize(0);
    m_nBytesToSend = 0;
    m_nSendOffset = 0;
    m_nParseState = REQ_STATE_DONE;
    WriteErrorStatus("400 Bad Request");
    AsyncSelect(FD_WRITE | FD_CLOSE);
}

void CRequestSocket::ParseReceived(int nCount) {
    if (m_nParseState == REQ_STATE_DONE)
        return;
    if (m_pRequest == nullptr)
        m_pRequest = new CRequest;
    int nPos = 0;
    const int nStateBefore = m_nParseState;
    if (m_nParseState == REQ_STATE_LINE || m_nParseState == REQ_STATE_HEADERS) {
        for (;;) {
            int nStart = nPos;
            BOOL bLine = GetLine(m_buf, nCount, nPos);
            m_nHeaderBytes += nPos - nStart;
            if (m_strLine.GetLength() > kMaxLineLength || m_nHeaderBytes > kMaxHeaderBlock) {
                RejectRequest();
                return;
            }
            if (!bLine)
                break;
            if (m_strLine.IsEmpty()) {
                m_nParseState = REQ_STATE_BODY;
                break;
            }
            ProcessLine();
        }
        if (m_nParseState == REQ_STATE_BODY) {
            if (StartBody()) {
                if (m_pRequest->m_nContentLength > kMaxBodyLength) {
                    RejectRequest();
                    return;
                }
                AppendBody(nCount, nPos);
            } else {
                m_nParseState = REQ_STATE_DONE;
            }
        }
    } else if (nStateBefore == REQ_STATE_BODY) {
        AppendBody(nCount, 0);
    }

    if (m_nParseState == REQ_STATE_DONE) {
        if (m_pRequest->m_baBody.GetSize() > 0) {
            CString body(reinterpret_cast<const char*>(m_pRequest->m_baBody.GetData()),
                         static_cast<int>(m_pRequest->m_baBody.GetSize()));
            ParseMultipart(body);
        }
        m_buf.SetSize(0);
        m_nBytesToSend = 0;
        m_nSendOffset = 0;
        m_dwLastActivity = GetTickCount();
        if (ProcessRequest() == 0)
            AsyncSelect(FD_WRITE | FD_CLOSE);
    }
}

BOOL CRequestSocket::GetLine(CSocketBuffer& buffer, int count, int& position) {
    const BYTE* data = buffer.GetData();
    while (position < count) {
        // The bytes up to the next CR or LF join the line in one piece.
        int end = position;
        while (end < count && data[end] != '\n' && data[end] != '\r')
            ++end;
        if (end > position) {
            // The caller refuses an over-long line: one byte past the limit is enough to tell.
            const int room = std::max(kMaxLineLength + 1 - m_strLine.GetLength(), 1);
            if (end - position >= room) {
                m_strLine.str().append(reinterpret_cast<const char*>(data + position),
                                       static_cast<size_t>(room));
                position += room;
                return FALSE;
            }
            m_strLine.str().append(reinterpret_cast<const char*>(data + position),
                                   static_cast<size_t>(end - position));
            position = end;
            if (position >= count)
                return FALSE;
        }
        // A line feed ends the line; a carriage return is dropped wherever it stands.
        if (data[position++] == '\n')
            return TRUE;
    }
    return FALSE;
}

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view TrimLeftSpace(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && IsSpace(s[i]))
        ++i;
    return s.substr(i);
}

std::string_view TrimRightSpace(std::string_view s) {
    size_t n = s.size();
    while (n > 0 && IsSpace(s[n - 1]))
        --n;
    return s.substr(0, n);
}

CString Text(std::string_view s) {
    return CString(std::string(s));
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

void CRequestSocket::ProcessLine() {
    const std::string_view line = m_strLine.str();
    if (m_nParseState == REQ_STATE_LINE) {
        size_t nBlank = line.find(' ');
        if (nBlank != std::string_view::npos) {
            m_pRequest->m_strMethod = Text(line.substr(0, nBlank));
            const std::string_view rest = TrimLeftSpace(line.substr(nBlank + 1));
            size_t nBlank2 = rest.find(' ');
            std::string_view url;
            if (nBlank2 != std::string_view::npos) {
                url = rest.substr(0, nBlank2);
                m_pRequest->m_strVersion = Text(TrimLeftSpace(rest.substr(nBlank2 + 1)));
            } else {
                url = TrimRightSpace(rest);
            }
            size_t nQuery = url.find('?');
            if (nQuery != std::string_view::npos) {
                m_pRequest->m_strArgs = Text(url.substr(nQuery + 1));
                url = url.substr(0, nQuery);
                m_pRequest->m_nExecute = REQ_EXEC_APP;
            }
            m_pRequest->m_strURL = UrlDecode(Text(url), FALSE);
            // A decoded zero byte would cut the path short at every file call below.
            if (m_pRequest->m_strURL.str().find('\0') != std::string::npos)
                m_bBadRequest = TRUE;
        }
        m_nParseState = REQ_STATE_HEADERS;
    } else if (m_nParseState == REQ_STATE_HEADERS) {
        size_t nColon = line.find(':');
        if (nColon != std::string_view::npos) {
            CString name(AfxAsciiLower(line.substr(0, nColon)));
            CString value = Text(TrimLeftSpace(line.substr(nColon + 1)));
            m_pRequest->m_mapHeaders.SetAt(name, value);
        }
    }
    m_strLine.Empty();
}

BOOL CRequestSocket::StartBody() {
    CString value = m_pRequest->GetHeader("Content-Length");
    if (value.IsEmpty())
        return FALSE;
    // Leading decimal digits only: "-5" and "abc" count as 0; a huge number saturates above the cap.
    long long n = 0;
    for (char c : value.str()) {
        if (c < '0' || c > '9')
            break;
        n = n * 10 + (c - '0');
        if (n > kMaxBodyLength) {
            n = static_cast<long long>(kMaxBodyLength) + 1;
            break;
        }
    }
    m_pRequest->m_nContentLength = static_cast<int>(n);
    return TRUE;
}

void CRequestSocket::AppendBody(int count, int position) {
    CByteArray& body = m_pRequest->m_baBody;
    const INT_PTR nWanted = m_pRequest->m_nContentLength;
    for (int i = position; i < count && body.GetSize() < nWanted; ++i)
        body.Add(m_buf[i]);
    if (body.GetSize() >= nWanted) {
        body.SetSize(nWanted);
        m_nParseState = REQ_STATE_DONE;
    }
}

BOOL CRequestSocket::ParseMultipart(CString body) {
    const std::string contentType = m_pRequest->GetHeader("Content-Type").str();
    size_t nBoundary = contentType.find("boundary");
    if (nBoundary == std::string::npos)
        return FALSE;
    size_t nEq = contentType.find('=', nBoundary);
    if (nEq == std::string::npos || nEq + 1 >= contentType.size())
        return FALSE;
    const std::string boundary = contentType.substr(nEq + 1);
    if (boundary.empty())
        return FALSE;

    const std::string& text = body.str();
    const size_t nLen = text.size();
    size_t p = 0;
    for (;;) {
        size_t nFound = text.find(boundary, p);
        if (nFound == std::string::npos)
            return TRUE;
        p = nFound + boundary.size();
        if (p + 2 <= nLen && text.compare(p, 2, "--") == 0)
            return TRUE;
        // Every offset is checked against the body: a truncated part ends the parsing.
        if (p + 2 > nLen)
            return FALSE;
        p += 2;
        size_t nNext = text.find(boundary, p);
        if (nNext == std::string::npos)
            return TRUE;
        if (nNext < p + 4)
            return FALSE;
        const std::string part = text.substr(p, nNext - 4 - p);

        static const std::string kDisposition = "Content-Disposition: ";
        size_t nDisp = part.find(kDisposition);
        if (nDisp == std::string::npos)
            return FALSE;
        size_t nDispStart = nDisp + kDisposition.size();
        size_t nDispEnd = part.find("\r\n", nDispStart);
        if (nDispEnd == std::string::npos)
            return FALSE;
        const std::string disposition = part.substr(nDispStart, nDispEnd - nDispStart);

        CMultipartField* pField = new CMultipartField;
        m_pRequest->m_listFields.AddTail(pField);

        size_t nItem = 0;
        while (nItem <= disposition.size()) {
            size_t nSemi = disposition.find(';', nItem);
            std::string item =
                disposition.substr(nItem, nSemi == std::string::npos ? std::string::npos : nSemi - nItem);
            nItem = nSemi == std::string::npos ? disposition.size() + 1 : nSemi + 1;
            size_t nItemEq = item.find('=');
            if (nItemEq == std::string::npos)
                continue;
            size_t nNameStart = 1;
            while (nNameStart < item.size() && item[nNameStart] == ' ')
                ++nNameStart;
            if (nItemEq < nNameStart)
                return FALSE;
            std::string name = item.substr(nNameStart, nItemEq - nNameStart);
            std::string value = item.substr(nItemEq + 1);
            if (value.size() > 1 && value[0] == '"')
                value = value.substr(1, value.size() - 2);
            pField->m_mapParams.SetAt(CString(name), CString(value));
        }

        size_t nHeadEnd = part.find("\r\n\r\n");
        if (nHeadEnd == std::string::npos)
            return FALSE;
        size_t nData = nHeadEnd + 4;
        if (nData < part.size()) {
            const size_t n = part.size() - nData;
            pField->m_pData = new char[n + 1];
            memcpy(pField->m_pData, part.data() + nData, n);
            pField->m_pData[n] = '\0';
            pField->m_nLength = static_cast<int>(n);
        }
        // p stays at the start of this part, so the next search finds the boundary that ends it.
    }
}

CString CRequestSocket::UrlDecode(CString text, BOOL plusToSpace) {
    std::string s = text.str();
    if (plusToSpace) {
        for (char& c : s) {
            if (c == '+')
                c = ' ';
        }
    }
    if (s.find('%') == std::string::npos)
        return CString(s);
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            out.push_back(s[i]);
            continue;
        }
        if (i + 1 < s.size() && s[i + 1] == '%') {
            out.push_back('%');
            ++i;
            continue;
        }
        // A "%" without two hexadecimal digits after it stays as it is.
        int hi = i + 1 < s.size() ? HexValue(s[i + 1]) : -1;
        int lo = i + 2 < s.size() ? HexValue(s[i + 2]) : -1;
        if (hi < 0 || lo < 0) {
            out.push_back('%');
            continue;
        }
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
    }
    return CString(std::move(out));
}

void CRequestSocket::OnSend(int /*nErrorCode*/) {
    int nSent = 0;
    if (m_nBytesToSend > 0) {
        nSent = Send(m_buf.GetData() + m_nSendOffset, m_nBytesToSend);
        if (nSent == SOCKET_ERROR) {
            if (GetLastError() == WSAEWOULDBLOCK) {
                AsyncSelect(FD_WRITE | FD_CLOSE);
            } else {
                ShutDown(both);
                Release();
            }
            return;
        }
    }
    if (nSent > 0)
        m_dwLastActivity = GetTickCount();
    if (m_pRequest != nullptr)
        m_pRequest->m_nBytesSent += nSent;
    if (nSent < m_nBytesToSend) {
        // The unsent rest stays where it is; the offset moves, the buffer keeps its size.
        m_nSendOffset += nSent;
        m_nBytesToSend -= nSent;
        AsyncSelect(FD_WRITE | FD_CLOSE);
        return;
    }
    m_nSendOffset = 0;
    m_nBytesToSend = 0;
    if (m_dwBodyLeft > 0 && SendAttachedBody())
        return;
    if (m_pFile != nullptr && ReadFilePiece(0, kFilePieceSize)) {
        AsyncSelect(FD_WRITE | FD_CLOSE);
        return;
    }
    ShutDown(both);
    Release();
}

void CRequestSocket::AttachResponseBody(std::shared_ptr<const void> pHold, const BYTE* pData, DWORD dwSize,
                                        int nFd, long long nOffset) {
    m_pBodyHold = std::move(pHold);
    m_pBody = pData;
    m_dwBodyLeft = pData != nullptr ? dwSize : 0;
    m_nBodyFd = dwSize >= kSendFileMinimum ? nFd : -1;
    m_nBodyOffset = nOffset;
}

BOOL CRequestSocket::SendAttachedBody() {
    // A send is one int long; the rest goes with the next notification.
    const int nWant = static_cast<int>(std::min<DWORD>(m_dwBodyLeft, 1u << 30));
    int nSent;
    int nError = 0;
    if (m_nBodyFd >= 0) {
        nSent = SendFile(m_nBodyFd, m_nBodyOffset, nWant);
        nError = nSent == SOCKET_ERROR ? GetLastError() : 0;
        // The file ended before the body did (it cannot, sealed): the bytes in memory go instead.
        if (nSent == 0)
            m_nBodyFd = -1;
    } else {
        nSent = Send(m_pBody, nWant);
        nError = nSent == SOCKET_ERROR ? GetLastError() : 0;
    }
    if (nSent == SOCKET_ERROR) {
        if (nError == WSAEWOULDBLOCK) {
            AsyncSelect(FD_WRITE | FD_CLOSE);
        } else {
            ShutDown(both);
            Release();
        }
        return TRUE;
    }
    if (nSent > 0)
        m_dwLastActivity = GetTickCount();
    if (m_pRequest != nullptr)
        m_pRequest->m_nBytesSent += nSent;
    m_pBody += nSent;
    m_dwBodyLeft -= static_cast<DWORD>(nSent);
    if (m_dwBodyLeft > 0) {
        AsyncSelect(FD_WRITE | FD_CLOSE);
        return TRUE;
    }
    m_pBody = nullptr;
    m_pBodyHold.reset();
    return FALSE;
}

void CRequestSocket::OnClose(int /*nErrorCode*/) {
    Release();
}
