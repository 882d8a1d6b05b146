#include "net/MyHttp.h"

#include "contentserver/MyMemFile.h"
#include "foundation/CommonFunc.h"
#include "platform/base/AfxAscii.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>
#include <string>

namespace {

// The local server's start-up self-test fetches its test page with this client.
BOOL FetchForServerSelfTest(const CString& url, CString& body) {
    CMyHttp http;
    return http.GetUrl(url, nullptr, 0, "", body) == MYHTTP_OK;
}
// The server's library sits below this one, so the client hands its fetch in.
[[maybe_unused]] const bool s_selfTestFetchInstalled =
    (g_pfnServerSelfTestFetch = &FetchForServerSelfTest, true);

// A header block larger than this is not an answer we can use.
constexpr size_t kMaxHeader = 64 * 1024;
// Receive pieces: large enough that a fast peer is not held back by system calls, small enough
// that nothing but one piece is ever held in memory.
constexpr size_t kPiece = 64 * 1024;
constexpr int kMaxRequests = 10;
constexpr DWORD kReportEveryMs = 2000;

std::string Lower(const std::string& s) {
    return AfxAsciiLower(s);
}

DWORD Ticks() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<DWORD>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                              static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

// Reads a decimal number at p; -1 when there is no digit there. Far beyond any file size it stops
// growing, so a hostile header cannot overflow it.
LONGLONG ReadNumber(const std::string& v, size_t& p) {
    if (p >= v.size() || !std::isdigit(static_cast<unsigned char>(v[p])))
        return -1;
    LONGLONG n = 0;
    for (; p < v.size() && std::isdigit(static_cast<unsigned char>(v[p])); ++p)
        if (n < (1LL << 50))
            n = n * 10 + (v[p] - '0');
    return n;
}

// "bytes START-END/TOTAL" or "bytes */TOTAL"; each part is -1 where it is "*" or missing.
bool ParseContentRange(const CString& value, LONGLONG& start, LONGLONG& end, LONGLONG& total) {
    std::string v = Lower(value.str());
    size_t p = v.find("bytes");
    if (p == std::string::npos)
        return false;
    p += 5;
    while (p < v.size() && (v[p] == ' ' || v[p] == '='))
        ++p;
    start = end = -1;
    if (p < v.size() && v[p] == '*') {
        ++p;
    } else {
        start = ReadNumber(v, p);
        if (start < 0)
            return false;
        if (p < v.size() && v[p] == '-')
            end = ReadNumber(v, ++p);
    }
    size_t slash = v.find('/', p);
    if (slash == std::string::npos)
        return false;
    p = slash + 1;
    total = ReadNumber(v, p);
    return true;
}

// A URI reference split into its five components; "has" tells an absent component from an empty one,
// which the resolution of a relative reference depends on ("?" alone clears the query).
struct UriRef {
    bool hasScheme = false, hasAuthority = false, hasQuery = false, hasFragment = false;
    std::string scheme, authority, path, query, fragment;
};

bool IsSchemeName(const std::string& s) {
    if (s.empty() || !std::isalpha(static_cast<unsigned char>(s[0])))
        return false;
    return std::all_of(s.begin(), s.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
    });
}

// Splits the hierarchical part that starts at pos: "//authority", path, "?query", "#fragment".
void SplitAfterScheme(const std::string& u, size_t pos, UriRef& out) {
    if (u.compare(pos, 2, "//") == 0) {
        size_t end = u.find_first_of("/?#", pos + 2);
        out.hasAuthority = true;
        out.authority = u.substr(pos + 2, end == std::string::npos ? std::string::npos : end - pos - 2);
        pos = end == std::string::npos ? u.size() : end;
    }
    size_t hash = u.find('#', pos);
    if (hash != std::string::npos) {
        out.hasFragment = true;
        out.fragment = u.substr(hash + 1);
    }
    std::string rest = u.substr(pos, hash == std::string::npos ? std::string::npos : hash - pos);
    size_t q = rest.find('?');
    if (q != std::string::npos) {
        out.hasQuery = true;
        out.query = rest.substr(q + 1);
        rest.resize(q);
    }
    out.path = rest;
}

UriRef SplitReference(const std::string& u) {
    UriRef out;
    size_t colon = u.find(':');
    size_t pos = 0;
    // A colon before any "/", "?" or "#" ends a scheme, when what comes before it can be one.
    if (colon != std::string::npos && colon < u.find_first_of("/?#") && IsSchemeName(u.substr(0, colon))) {
        out.hasScheme = true;
        out.scheme = u.substr(0, colon);
        pos = colon + 1;
    }
    SplitAfterScheme(u, pos, out);
    return out;
}

// The URL being fetched, read the way ParseUrl reads it: its scheme is optional (plain HTTP then),
// and it always has a host and a path that starts with "/".
UriRef SplitBase(const std::string& u) {
    UriRef out;
    out.hasScheme = true;
    out.scheme = "http";
    size_t sep = u.find("://");
    size_t firstSlash = u.find('/');
    size_t rest = 0;
    if (sep != std::string::npos && (firstSlash == std::string::npos || sep < firstSlash)) {
        if (IsSchemeName(u.substr(0, sep)))
            out.scheme = u.substr(0, sep);
        rest = sep + 3;
    }
    SplitAfterScheme("//" + u.substr(rest), 0, out);
    if (out.path.empty())
        out.path = "/";
    return out;
}

// A relative path is taken relative to the base path's last "/".
std::string MergePaths(const UriRef& base, const std::string& path) {
    if (base.hasAuthority && base.path.empty())
        return "/" + path;
    size_t slash = base.path.rfind('/');
    return slash == std::string::npos ? path : base.path.substr(0, slash + 1) + path;
}

// "." and ".." segments are interpreted, so a server never sees a path that climbs. The input is
// walked with an index, never shortened from the front, so a long path costs linear time.
std::string RemoveDotSegments(std::string in) {
    std::string out;
    auto dropLastSegment = [&out] {
        size_t slash = out.rfind('/');
        out.resize(slash == std::string::npos ? 0 : slash);
    };
    auto at = [&in](size_t i, const char* prefix) { return in.compare(i, std::strlen(prefix), prefix) == 0; };
    size_t i = 0;
    while (i < in.size()) {
        const size_t left = in.size() - i;
        if (at(i, "../")) {
            i += 3;
        } else if (at(i, "./")) {
            i += 2;
        } else if (at(i, "/./")) {
            i += 2;
        } else if (left == 2 && at(i, "/.")) {
            in[++i] = '/';
        } else if (at(i, "/../")) {
            i += 3;
            dropLastSegment();
        } else if (left == 3 && at(i, "/..")) {
            i += 2;
            in[i] = '/';
            dropLastSegment();
        } else if ((left == 1 && in[i] == '.') || (left == 2 && at(i, ".."))) {
            i = in.size();
        } else {
            size_t end = in.find('/', i + 1);
            if (end == std::string::npos)
                end = in.size();
            out.append(in, i, end - i);
            i = end;
        }
    }
    return out;
}

std::string Recompose(const UriRef& u) {
    std::string s;
    if (u.hasScheme)
        s += u.scheme + ":";
    if (u.hasAuthority)
        s += "//" + u.authority;
    s += u.path;
    if (u.hasQuery)
        s += "?" + u.query;
    if (u.hasFragment)
        s += "#" + u.fragment;
    return s;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Chunked bodies

bool CChunkedDecoder::EndLine() {
    if (!m_line.empty() && m_line.back() == '\r')
        m_line.pop_back();
    std::string line;
    line.swap(m_line);
    switch (m_state) {
    case SIZE_LINE: {
        unsigned long long size = 0;
        size_t i = 0;
        for (; i < line.size(); ++i) {
            int d = CMyHttp::HexToInt(&line[i], 1);
            if (d < 0)
                break;
            if (size > (1ull << 56))
                return false;
            size = size * 16 + static_cast<unsigned>(d);
        }
        if (i == 0)
            return false;
        // Whatever follows the digits (blanks, ";ext=...") is a chunk extension.
        if (size == 0) {
            m_state = DONE;
        } else {
            m_remaining = size;
            m_state = DATA;
        }
        return true;
    }
    case DATA_END:
        if (!line.empty())
            return false;
        m_state = SIZE_LINE;
        return true;
    default:
        return false;
    }
}

bool CChunkedDecoder::Feed(const char* p, size_t n, std::string& out) {
    size_t i = 0;
    while (i < n && m_state != FAILED && m_state != DONE) {
        if (m_state == DATA) {
            size_t take = static_cast<size_t>(std::min<unsigned long long>(m_remaining, n - i));
            out.append(p + i, take);
            i += take;
            m_remaining -= take;
            if (m_remaining == 0)
                m_state = DATA_END;
            continue;
        }
        char c = p[i++];
        if (c == '\n') {
            if (!EndLine())
                m_state = FAILED;
        } else {
            if (m_line.size() >= 1024)
                m_state = FAILED;
            else
                m_line.push_back(c);
        }
    }
    return m_state != FAILED;
}

// ---------------------------------------------------------------------------------------------

CMyHttp::CMyHttp() = default;

CMyHttp::~CMyHttp() {
    CloseSocket();
}

void CMyHttp::SetProgressCallback(DownLoadProgressProc proc, void* context) {
    m_pProgressProc = proc;
    m_pContext = context;
}

void CMyHttp::Stop() {
    m_nStop.store(1);
    std::lock_guard<std::mutex> lock(m_socketLock);
    if (m_socket != INVALID_SOCKET)
        shutdown(m_socket, SD_BOTH);
}

void CMyHttp::ParseUrl(const char* url, HttpUrlInfo& out) {
    out = HttpUrlInfo();
    std::string u = url ? url : "";
    size_t pos = 0;
    size_t scheme = u.find("://");
    size_t firstSlash = u.find('/');
    if (scheme != std::string::npos && (firstSlash == std::string::npos || scheme < firstSlash))
        pos = scheme + 3;
    // Everything after the host's first "/" is the path, verbatim: queries may hold ":", "@", "://".
    // A query straight after the host belongs to the root.
    size_t pathStart = u.find_first_of("/?", pos);
    std::string authority =
        u.substr(pos, pathStart == std::string::npos ? std::string::npos : pathStart - pos);
    if (pathStart == std::string::npos)
        out.path = "/";
    else if (u[pathStart] == '?')
        out.path = CString("/" + u.substr(pathStart));
    else
        out.path = CString(u.substr(pathStart));
    size_t at = authority.rfind('@');
    if (at != std::string::npos)
        authority = authority.substr(at + 1);
    size_t colon = authority.find(':');
    if (colon != std::string::npos) {
        int port = 0;
        for (size_t i = colon + 1;
             i < authority.size() && std::isdigit(static_cast<unsigned char>(authority[i])) && port < 65536;
             ++i)
            port = port * 10 + (authority[i] - '0');
        if (port > 0 && port < 65536)
            out.port = port;
        authority = authority.substr(0, colon);
    }
    out.host = authority;
}

CString CMyHttp::ResolveLocation(const CString& currentUrl, const CString& location) {
    const UriRef ref = SplitReference(location.str());
    const UriRef base = SplitBase(currentUrl.str());
    UriRef target;
    if (ref.hasScheme) {
        target = ref;
        target.path = RemoveDotSegments(ref.path);
    } else {
        if (ref.hasAuthority) {
            target.hasAuthority = true;
            target.authority = ref.authority;
            target.path = RemoveDotSegments(ref.path);
            target.hasQuery = ref.hasQuery;
            target.query = ref.query;
        } else {
            if (ref.path.empty()) {
                target.path = base.path;
                target.hasQuery = ref.hasQuery || base.hasQuery;
                target.query = ref.hasQuery ? ref.query : base.query;
            } else {
                target.path = RemoveDotSegments(ref.path[0] == '/' ? ref.path : MergePaths(base, ref.path));
                target.hasQuery = ref.hasQuery;
                target.query = ref.query;
            }
            target.hasAuthority = base.hasAuthority;
            target.authority = base.authority;
        }
        target.hasScheme = true;
        target.scheme = base.scheme;
    }
    target.hasFragment = ref.hasFragment;
    target.fragment = ref.fragment;
    return CString(Recompose(target));
}

BOOL CMyHttp::HasDbcsChar(CString s) {
    for (int i = 0; i < s.GetLength(); ++i)
        if (IsDBCSLeadByte(static_cast<BYTE>(s.GetAt(i))))
            return TRUE;
    return FALSE;
}

CString CMyHttp::BuildRequest(CString host, CString path, CString referer, int postLen) {
    if (path.Find(".exe") >= 0 && HasDbcsChar(path)) {
        int slash = path.ReverseFind('/');
        CString name = path.Mid(slash + 1);
        CString utf8 = g_CommonFunc.ConvertCodePage(name, CP_ACP, CP_UTF8);
        std::string encoded(static_cast<size_t>(utf8.GetLength()) * 3 + 1, '\0');
        int n = g_CommonFunc.UrlEncode(reinterpret_cast<const BYTE*>(utf8.GetString()), utf8.GetLength(),
                                       encoded.data());
        encoded.resize(n > 0 ? static_cast<size_t>(n) : 0);
        path = path.Left(slash + 1) + CString(encoded);
    }
    CString req, line;
    req.Format("%s %s HTTP/1.1\r\n", postLen ? "POST" : "GET", path.GetString());
    line.Format("Host: %s\r\n", host.GetString());
    req += line;
    req += "Accept: */*\r\n";
    line.Format("Referer: %s\r\n", referer.GetString());
    req += line;
    if (m_nResumeOffset > 0) {
        line.Format("Range:bytes=%lld-\r\n", static_cast<long long>(m_nResumeOffset));
        req += line;
    }
    if (!m_strCookie.IsEmpty()) {
        line.Format("Cookie: %s\r\n", m_strCookie.GetString());
        req += line;
    }
    line.Format("User-Agent: %s\r\n", m_strUserAgent.IsEmpty()
                                          ? "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1)"
                                          : m_strUserAgent.GetString());
    req += line;
    line.Format("Content-Type: %s\r\n", m_strContentType.IsEmpty() ? "application/x-www-form-urlencoded"
                                                                   : m_strContentType.GetString());
    req += line;
    req += "Cache-Control: no-cache\r\n";
    line.Format("Connection: %s\r\n", m_strConnection.IsEmpty() ? "close" : m_strConnection.GetString());
    req += line;
    if (postLen > 0) {
        line.Format("Content-Length: %d\r\n\r\n", postLen);
        req += line;
    } else {
        req += "\r\n";
    }
    return req;
}

const char* CMyHttp::FindBytes(const char* buf, int len, const char* pattern) {
    if (!buf || !pattern || len <= 0)
        return nullptr;
    size_t n = std::strlen(pattern);
    if (n == 0 || n > static_cast<size_t>(len))
        return nullptr;
    for (size_t i = 0; i + n <= static_cast<size_t>(len); ++i)
        if (std::memcmp(buf + i, pattern, n) == 0)
            return buf + i;
    return nullptr;
}

BOOL CMyHttp::GetHeaderValue(const char* text, int len, const char* name, CString& out) {
    out.Empty();
    if (!text || len <= 0 || !name)
        return FALSE;
    std::string block(text, static_cast<size_t>(len));
    std::string want = Lower(name);
    size_t pos = block.find('\n'); // the status line is no header
    while (pos != std::string::npos && pos < block.size()) {
        size_t start = pos + 1;
        size_t end = block.find('\n', start);
        std::string line = block.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t colon = line.find(':');
        if (colon != std::string::npos) {
            std::string key = line.substr(0, colon);
            while (!key.empty() && (key.back() == ' ' || key.back() == '\t'))
                key.pop_back();
            if (Lower(key) == want) {
                size_t v = colon + 1;
                while (v < line.size() && (line[v] == ' ' || line[v] == '\t'))
                    ++v;
                size_t e = line.size();
                while (e > v && (line[e - 1] == ' ' || line[e - 1] == '\t'))
                    --e;
                out = line.substr(v, e - v);
                return TRUE;
            }
        }
        pos = end;
    }
    return FALSE;
}

LONGLONG CMyHttp::ParseHeader(const char* text, int len, HttpHeaderInfo& out) {
    out = HttpHeaderInfo();
    if (!text || len < 12)
        return 0;
    if (std::strncmp(text, "HTTP/", 5) == 0 && std::isdigit(static_cast<unsigned char>(text[9])) &&
        std::isdigit(static_cast<unsigned char>(text[10])) &&
        std::isdigit(static_cast<unsigned char>(text[11])))
        out.status = (text[9] - '0') * 100 + (text[10] - '0') * 10 + (text[11] - '0');
    CString v;
    if (GetHeaderValue(text, len, "Content-Length", v)) {
        LONGLONG n = 0;
        for (int i = 0;
             i < v.GetLength() && std::isdigit(static_cast<unsigned char>(v.GetAt(i))) && n < (1LL << 50);
             ++i)
            n = n * 10 + (v.GetAt(i) - '0');
        out.contentLength = n;
    }
    GetHeaderValue(text, len, "Transfer-Encoding", out.transferEncoding);
    GetHeaderValue(text, len, "Location", out.location);
    GetHeaderValue(text, len, "Set-Cookie", out.setCookie);
    GetHeaderValue(text, len, "Content-Range", out.contentRange);
    return out.contentLength;
}

int CMyHttp::HexToInt(const char* text, int len) {
    if (!text || len <= 0)
        return -1;
    int value = 0;
    int digits = 0;
    for (int i = 0; i < len; ++i) {
        char c = text[i];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            break;
        if (value > (0x7FFFFFFF >> 4))
            return -1;
        value = value * 16 + d;
        ++digits;
    }
    return digits ? value : -1;
}

int CMyHttp::DecodeChunked(char* buf, int len) {
    if (!buf || len < 0)
        return -1;
    CChunkedDecoder dec;
    std::string out;
    size_t n = static_cast<size_t>(len);
    const void* zero = std::memchr(buf, 0, n);
    if (zero)
        n = static_cast<size_t>(static_cast<const char*>(zero) - buf);
    // A malformed size line, or a body whose last chunk never came, is a failed decoding.
    if (!dec.Feed(buf, n, out) || !dec.IsDone())
        return -1;
    std::memcpy(buf, out.data(), out.size());
    if (out.size() < static_cast<size_t>(len))
        buf[out.size()] = '\0';
    return static_cast<int>(out.size());
}

// The standard alphabet of the utility object; out has room for the whole code and its zero.
void CMyHttp::EncodeBase64(char* out, const unsigned char* in, int len) {
    CString code;
    g_CommonFunc.EncodeBase64Buf(in, len, code);
    std::memcpy(out, code.GetString(), static_cast<size_t>(code.GetLength()) + 1);
}

// ---------------------------------------------------------------------------------------------
// Transport

BOOL CMyHttp::ConnectTcp(SOCKET s, const char* host, int port) {
    SOCKADDR_IN addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<u_short>(port));
    addr.sin_addr.s_addr = inet_addr(host);
    if (addr.sin_addr.s_addr == INADDR_NONE) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* res = nullptr;
        if (getaddrinfo(host, nullptr, &hints, &res) != 0 || !res)
            return FALSE;
        addr.sin_addr = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr;
        freeaddrinfo(res);
    }
    // A silent peer must not hold the calling thread for ever.
    DWORD ms = static_cast<DWORD>(m_nTimeoutMs);
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
    if (m_nStop.load())
        return FALSE;
    return connect(s, reinterpret_cast<const SOCKADDR*>(&addr), sizeof addr) == 0;
}

BOOL CMyHttp::Connect(const CString& host, int port) {
    CloseSocket();
    if (m_nStop.load())
        return FALSE;
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET)
        return FALSE;
    {
        std::lock_guard<std::mutex> lock(m_socketLock);
        m_socket = s;
    }
    BOOL ok;
    if (m_proxy.nType != 0)
        ok = ProxyConnect(s, host, port, m_proxy.strHost, m_proxy.nPort, m_proxy.nType, m_proxy.strUser,
                          m_proxy.strPassword);
    else
        ok = ConnectTcp(s, host, port);
    if (!ok)
        CloseSocket();
    return ok;
}

void CMyHttp::CloseSocket() {
    std::lock_guard<std::mutex> lock(m_socketLock);
    if (m_socket != INVALID_SOCKET) {
        closesocket(m_socket);
        m_socket = INVALID_SOCKET;
    }
}

BOOL CMyHttp::SendAll(const char* p, size_t n) {
    while (n > 0) {
        int k = send(m_socket, p, static_cast<int>(std::min<size_t>(n, 1 << 20)), 0);
        if (k < 1)
            return FALSE;
        p += k;
        n -= static_cast<size_t>(k);
    }
    return TRUE;
}

int CMyHttp::RecvSome(char* p, size_t n) {
    if (m_nStop.load())
        return -1;
    int k = recv(m_socket, p, static_cast<int>(std::min<size_t>(n, 1 << 20)), 0);
    if (m_nStop.load())
        return -1;
    return k < 0 ? -1 : k;
}

BOOL CMyHttp::RecvExact(char* p, size_t n) {
    while (n > 0) {
        int k = RecvSome(p, n);
        if (k <= 0)
            return FALSE;
        p += k;
        n -= static_cast<size_t>(k);
    }
    return TRUE;
}

BOOL CMyHttp::ProxyConnect(SOCKET s, const char* targetHost, int targetPort, const char* proxyHost,
                           int proxyPort, int type, const char* user, const char* password) {
    if (type != 1 && type != 2)
        return FALSE;
    if (!ConnectTcp(s, proxyHost, proxyPort))
        return FALSE;
    bool auth = user && *user && password && *password;
    if (type == 1) {
        CString req;
        if (auth) {
            CString plain;
            plain.Format("%s:%s", user, password);
            std::string code(static_cast<size_t>(plain.GetLength()) * 4 / 3 + 8, '\0');
            EncodeBase64(code.data(), reinterpret_cast<const unsigned char*>(plain.GetString()),
                         plain.GetLength());
            req.Format("CONNECT %s:%d HTTP/1.0\r\nProxy-Authorization: Basic %s\r\n\r\n", targetHost,
                       targetPort, code.c_str());
        } else {
            req.Format("CONNECT %s:%d HTTP/1.0\r\n\r\n", targetHost, targetPort);
        }
        if (!SendAll(req, static_cast<size_t>(req.GetLength())))
            return FALSE;
        // Read the proxy's answer up to its blank line, so no byte of it is taken for the tunnel's.
        std::string reply;
        char c;
        while (reply.size() < 8192 && reply.find("\r\n\r\n") == std::string::npos) {
            if (RecvSome(&c, 1) != 1)
                break;
            reply.push_back(c);
        }
        return reply.size() >= 12 &&
               (reply.compare(0, 12, "HTTP/1.0 200") == 0 || reply.compare(0, 12, "HTTP/1.1 200") == 0);
    }
    unsigned char buf[600];
    if (auth) {
        const unsigned char greet[4] = {5, 2, 0, 2};
        if (!SendAll(reinterpret_cast<const char*>(greet), 4))
            return FALSE;
    } else {
        const unsigned char greet[3] = {5, 1, 0};
        if (!SendAll(reinterpret_cast<const char*>(greet), 3))
            return FALSE;
    }
    if (!RecvExact(reinterpret_cast<char*>(buf), 2) || buf[0] != 5)
        return FALSE;
    if (auth && buf[1] == 2) {
        size_t ul = std::strlen(user), pl = std::strlen(password);
        if (ul > 255 || pl > 255)
            return FALSE;
        size_t n = 0;
        buf[n++] = 1;
        buf[n++] = static_cast<unsigned char>(ul);
        std::memcpy(buf + n, user, ul);
        n += ul;
        buf[n++] = static_cast<unsigned char>(pl);
        std::memcpy(buf + n, password, pl);
        n += pl;
        if (!SendAll(reinterpret_cast<const char*>(buf), n) || !RecvExact(reinterpret_cast<char*>(buf), 2) ||
            buf[1] != 0)
            return FALSE;
    } else if (buf[1] != 0) {
        return FALSE;
    }
    size_t hl = std::strlen(targetHost);
    if (hl > 255)
        return FALSE;
    size_t n = 0;
    buf[n++] = 5;
    buf[n++] = 1;
    buf[n++] = 0;
    buf[n++] = 3;
    buf[n++] = static_cast<unsigned char>(hl);
    std::memcpy(buf + n, targetHost, hl);
    n += hl;
    buf[n++] = static_cast<unsigned char>((targetPort >> 8) & 0xFF);
    buf[n++] = static_cast<unsigned char>(targetPort & 0xFF);
    if (!SendAll(reinterpret_cast<const char*>(buf), n) || !RecvExact(reinterpret_cast<char*>(buf), 4))
        return FALSE;
    if (buf[0] != 5 || buf[1] != 0)
        return FALSE;
    // The reply's bound address is as long as its type says; every byte of it is read, so none
    // is taken for the tunnel's first bytes.
    size_t rest;
    if (buf[3] == 1) {
        rest = 4 + 2;
    } else if (buf[3] == 4) {
        rest = 16 + 2;
    } else if (buf[3] == 3) {
        if (!RecvExact(reinterpret_cast<char*>(buf), 1))
            return FALSE;
        rest = static_cast<size_t>(buf[0]) + 2;
    } else {
        return FALSE;
    }
    return RecvExact(reinterpret_cast<char*>(buf), rest);
}

BOOL CMyHttp::ReadHeader(HttpHeaderInfo& out, std::string& bodyStart) {
    out = HttpHeaderInfo();
    bodyStart.clear();
    std::string buf;
    char piece[4096];
    for (;;) {
        int k = RecvSome(piece, sizeof piece);
        if (k <= 0)
            return FALSE;
        size_t searchFrom = buf.size() >= 3 ? buf.size() - 3 : 0;
        buf.append(piece, static_cast<size_t>(k));
        size_t end = buf.find("\r\n\r\n", searchFrom);
        if (end != std::string::npos) {
            ParseHeader(buf.data(), static_cast<int>(end + 2), out);
            bodyStart = buf.substr(end + 4);
            return TRUE;
        }
        if (buf.size() > kMaxHeader)
            return FALSE;
    }
}

int CMyHttp::Request(CString& url, const char* postData, int postLen, CString& referer, HttpHeaderInfo& hdr,
                     std::string& bodyStart) {
    for (int count = 0;;) {
        HttpUrlInfo info;
        ParseUrl(url, info);
        if (info.host.IsEmpty() || !Connect(info.host, info.port))
            return MYHTTP_ERR_CONNECT;
        // A fragment (a resolved Location may carry one) names a place in the answer, not a resource.
        int hash = info.path.Find('#');
        if (hash >= 0)
            info.path = info.path.Left(hash);
        CString req = BuildRequest(info.host, info.path, referer, postLen);
        if (postLen > 0 && postData)
            req.Append(postData, postLen);
        if (!SendAll(req, static_cast<size_t>(req.GetLength()))) {
            CloseSocket();
            return MYHTTP_ERR_SEND;
        }
        if (!ReadHeader(hdr, bodyStart))
            hdr = HttpHeaderInfo();
        if (hdr.setCookie.GetLength() > 8)
            m_strCookie = hdr.setCookie;
        if (hdr.location.IsEmpty() || hdr.status == 200)
            return 0;
        referer = url;
        url = ResolveLocation(url, hdr.location);
        ++count;
        CloseSocket();
        if (count >= kMaxRequests)
            return 0;
    }
}

int CMyHttp::GetUrl(CString url, const char* postData, int postLen, CString referer, CString& body) {
    HttpHeaderInfo hdr;
    std::string start;
    int r = Request(url, postData, postLen, referer, hdr, start);
    if (r != 0)
        return r;
    if (hdr.status != 200) {
        CloseSocket();
        return MYHTTP_ERR_STATUS;
    }
    bool chunked = Lower(hdr.transferEncoding.str()) == "chunked";
    std::string raw = start;
    char piece[kPiece];
    for (;;) {
        int k = RecvSome(piece, sizeof piece);
        // The peer's close or a failed receive ends the body; a time-out or a stop leaves it
        // incomplete, and so does a chunked body that breaks off.
        if (k < 0 && (chunked || m_nStop.load() || WSAGetLastError() == WSAETIMEDOUT)) {
            CloseSocket();
            return MYHTTP_ERR_STATUS;
        }
        if (k <= 0)
            break;
        raw.append(piece, static_cast<size_t>(k));
    }
    CloseSocket();
    std::string text;
    if (chunked) {
        CChunkedDecoder dec;
        if (!dec.Feed(raw.data(), raw.size(), text) || !dec.IsDone())
            return MYHTTP_ERR_STATUS;
    } else {
        text.swap(raw);
    }
    // The body is text: it ends at its first zero byte.
    size_t z = text.find('\0');
    if (z != std::string::npos)
        text.resize(z);
    body = CString(std::move(text));
    return MYHTTP_OK;
}

int CMyHttp::ReceiveToFile(FILE* fp, LONGLONG& done, LONGLONG total) {
    DWORD lastReport = Ticks();
    std::string buf(kPiece, '\0');
    for (;;) {
        size_t want = kPiece;
        if (total > 0) {
            if (done >= total)
                return 1;
            want = static_cast<size_t>(std::min<LONGLONG>(static_cast<LONGLONG>(kPiece), total - done));
        }
        int k = RecvSome(buf.data(), want);
        if (k < 0)
            return -1;
        if (k == 0)
            return total > 0 ? -1 : 1;
        if (std::fwrite(buf.data(), 1, static_cast<size_t>(k), fp) != static_cast<size_t>(k))
            return -1;
        done += k;
        if (m_pProgressProc && static_cast<DWORD>(Ticks() - lastReport) > kReportEveryMs && !m_nStop.load()) {
            lastReport = Ticks();
            m_pProgressProc(m_pContext, done, total);
        }
    }
}

int CMyHttp::DownloadFile(CString url, const char* postData, int postLen, CString referer, CString filePath) {
    // A second round only when the server's answer to our range cannot continue the partial data
    // (refused, from another byte, or with lengths that disagree): start again from the first byte.
    for (int round = 0; round < 2; ++round) {
        HttpHeaderInfo hdr;
        std::string start;
        CString u = url, ref = referer;
        int r = Request(u, postData, postLen, ref, hdr, start);
        if (r != 0)
            return MYHTTP_ERR_CONNECT;
        LONGLONG offset = m_nResumeOffset;
        LONGLONG rangeStart = -1, rangeEnd = -1, rangeTotal = -1;
        bool hasRange = ParseContentRange(hdr.contentRange, rangeStart, rangeEnd, rangeTotal);
        if (hdr.status == 416 && offset > 0) {
            CloseSocket();
            // "bytes */SIZE" naming our own size: the earlier transfer was complete already.
            if (hasRange && rangeTotal == offset)
                return MYHTTP_OK;
            m_nResumeOffset = 0;
            continue;
        }
        if (hdr.status != 200 && hdr.status != 206) {
            CloseSocket();
            return MYHTTP_ERR_CONNECT;
        }
        bool chunked = Lower(hdr.transferEncoding.str()) == "chunked";
        bool append = false;
        if (hdr.status == 206 && (hasRange || offset > 0)) {
            // Only a range that starts where our data ends continues it, and one from 0 replaces
            // it. We asked for everything to the end, so a range that stops short, or whose size
            // is not the announced length, would leave a file that is not the server's.
            bool usable = hasRange && (rangeStart == offset || rangeStart == 0);
            if (usable && rangeEnd >= 0) {
                LONGLONG size = rangeEnd - rangeStart + 1;
                usable = size > 0 && (rangeTotal < 0 || rangeEnd == rangeTotal - 1) &&
                         (chunked || hdr.contentLength == 0 || hdr.contentLength == size);
                if (usable && !chunked)
                    hdr.contentLength = size;
            }
            if (!usable) {
                CloseSocket();
                if (offset == 0)
                    return MYHTTP_ERR_CONNECT;
                m_nResumeOffset = 0;
                continue;
            }
            append = offset > 0 && rangeStart == offset;
        }
        if (m_bRequireLength && (chunked || hdr.contentLength <= 0)) {
            CloseSocket();
            return MYHTTP_ERR_CONNECT;
        }
        // A 200 answer to a ranged request is the whole file: it replaces the partial data.
        LONGLONG base = append ? offset : 0;
        FILE* fp = win_fopen(filePath, append ? "ab" : "wb");
        if (!fp) {
            CloseSocket();
            return MYHTTP_ERR_CONNECT;
        }
        bool ok;
        if (chunked) {
            CChunkedDecoder dec;
            std::string out;
            ok = dec.Feed(start.data(), start.size(), out) &&
                 std::fwrite(out.data(), 1, out.size(), fp) == out.size();
            std::string piece(kPiece, '\0');
            while (ok && !dec.IsDone()) {
                int k = RecvSome(piece.data(), piece.size());
                if (k <= 0) {
                    ok = false;
                    break;
                }
                out.clear();
                ok = dec.Feed(piece.data(), static_cast<size_t>(k), out) &&
                     std::fwrite(out.data(), 1, out.size(), fp) == out.size();
            }
        } else {
            LONGLONG done = base;
            LONGLONG total = hdr.contentLength > 0 ? base + hdr.contentLength : 0;
            // More bytes than announced mean a length that is wrong, so the announced ones need not
            // be the file: such a body fails, though only the announced bytes are written.
            bool overrun = total > 0 && static_cast<LONGLONG>(start.size()) > hdr.contentLength;
            if (overrun)
                start.resize(static_cast<size_t>(hdr.contentLength));
            ok = std::fwrite(start.data(), 1, start.size(), fp) == start.size() && !overrun;
            done += static_cast<LONGLONG>(start.size());
            if (ok)
                ok = ReceiveToFile(fp, done, total) == 1;
            if (ok && total > 0) {
                // We asked the server to close after the body; a byte before its close is one too
                // many. A peer that keeps the connection open until the time-out has sent its body.
                char extra;
                ok = done == total && RecvSome(&extra, 1) <= 0;
            }
        }
        if (std::fclose(fp) != 0)
            ok = false;
        CloseSocket();
        // A stopped transfer is never complete, whatever the server's length said.
        if (m_nStop.load())
            ok = false;
        return ok ? MYHTTP_OK : MYHTTP_ERR_CONNECT;
    }
    return MYHTTP_ERR_CONNECT;
}
