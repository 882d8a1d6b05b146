#include "contentserver/RequestSocket.h"

#include "contentserver/ServerHost.h"
#include "platform/base/AfxTime.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <ctime>
#include <string_view>
#include <vector>

namespace {

const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// A file time before 1970 is dated 1970.
time_t FileTimeToUnix(const FILETIME& ft) {
    return std::max<time_t>(0, AfxFileTimeToUnix(ft));
}

// Splits at the backslashes that are separators (a GBK trail byte 0x5C is not one).
std::vector<std::string> SplitSegments(const std::string& s, size_t nFrom) {
    std::vector<std::string> parts;
    std::string cur;
    for (size_t i = nFrom; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (AfxIsLeadByte(c) && i + 1 < s.size()) {
            cur.push_back(s[i]);
            cur.push_back(s[++i]);
            continue;
        }
        if (c == '\\') {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur.push_back(s[i]);
        }
    }
    parts.push_back(cur);
    return parts;
}

// Resolves a Windows-form path as the full-path function does: "/" becomes "\\", repeated
// separators fold, "." and ".." segments go. FALSE when the result would not fit MAX_PATH.
// One pass over the text: each request maps its address through here, so it copies each byte
// once and keeps only where the segments it kept begin. A GBK trail byte 0x5C or 0x2F is no
// separator.
BOOL FullPath(std::string_view t, CString& out) {
    const size_t n = t.size();
    std::string result;
    result.reserve(n + 2);
    size_t i = 0;
    if (n >= 2 && t[1] == ':' && ((t[0] >= 'A' && t[0] <= 'Z') || (t[0] >= 'a' && t[0] <= 'z'))) {
        result.append(t.substr(0, 2));
        i = 2;
    }
    result += '\\';
    const size_t nBase = result.size();
    // The length of the result before each kept segment (and the separator in front of it).
    size_t inlineMarks[32];
    std::vector<size_t> moreMarks;
    size_t nMarks = 0;
    auto mark = [&](size_t k) -> size_t& { return k < 32 ? inlineMarks[k] : moreMarks[k - 32]; };
    bool bLastEmpty = false;
    for (;;) {
        const size_t nStart = i;
        while (i < n) {
            const unsigned char c = static_cast<unsigned char>(t[i]);
            if (AfxIsLeadByte(c) && i + 1 < n) {
                i += 2;
                continue;
            }
            if (c == '\\' || c == '/')
                break;
            ++i;
        }
        const size_t nLength = i - nStart;
        const bool bEnd = i >= n;
        if (nLength == 2 && t[nStart] == '.' && t[nStart + 1] == '.') {
            if (nMarks > 0)
                result.resize(mark(--nMarks));
        } else if (nLength > 0 && !(nLength == 1 && t[nStart] == '.')) {
            if (nMarks >= 32 && moreMarks.size() <= nMarks - 32)
                moreMarks.push_back(0);
            mark(nMarks++) = result.size();
            if (result.size() > nBase)
                result += '\\';
            result.append(t.substr(nStart, nLength));
        }
        if (bEnd) {
            bLastEmpty = nLength == 0;
            break;
        }
        ++i; // the separator
    }
    if (bLastEmpty && nMarks > 0)
        result += '\\';
    if (result.size() >= MAX_PATH)
        return FALSE;
    out = CString(std::move(result));
    return TRUE;
}

// Whether a name along the path below the root starts with ".": such a name is hidden, and so
// is everything inside a hidden folder, however it is reached.
bool HiddenBelowRoot(const CString& path, const CString& root) {
    const std::string& t = path.str();
    if (t.size() <= static_cast<size_t>(root.GetLength()))
        return false;
    for (const std::string& segment : SplitSegments(t, static_cast<size_t>(root.GetLength()))) {
        if (!segment.empty() && segment[0] == '.')
            return true;
    }
    return false;
}

} // namespace

int CRequestSocket::ProcessRequest() {
    if (m_bBadRequest) {
        WriteErrorStatus("400 Bad Request");
        return 0;
    }
    if (HandleRequest())
        return RunServerApp();

    int nResult = 0;
    CString target;
    const CString& method = m_pRequest->m_strMethod;
    const int nLength = m_pRequest->m_nContentLength;
    if (method.CompareNoCase("GET") == 0 && nLength == 0) {
        if (ResolveTarget(target) && !m_pRequest->m_bDone) {
            if (m_pRequest->m_nExecute == REQ_EXEC_FILE) {
                if (StartFileResponse())
                    SendFileBody();
            } else {
                nResult = RunServerApp();
            }
        }
    } else if (method.CompareNoCase("HEAD") == 0 && nLength == 0) {
        if (ResolveTarget(target) && !m_pRequest->m_bDone) {
            if (m_pRequest->m_nExecute == REQ_EXEC_FILE) {
                StartFileResponse();
                CloseFile();
            } else {
                nResult = RunServerApp();
            }
        }
    } else if (method.CompareNoCase("POST") == 0 && nLength > 0) {
        m_pRequest->m_nExecute = REQ_EXEC_APP;
        if (ResolveTarget(target) && !m_pRequest->m_bDone)
            nResult = RunServerApp();
    } else {
        WriteErrorStatus("501 Not Implemented");
    }
    return nResult;
}

BOOL CRequestSocket::ResolveTarget(CString& target) {
    target = m_pRequest->m_strURL;
    if (!MapUrlToPath(target)) {
        WriteErrorStatus("400 Bad Request");
        return FALSE;
    }
    CString pathInfo;
    BOOL bFound = FALSE;
    DWORD dwAttr = GetFileAttributesA(target);
    m_pRequest->m_dwAttr = dwAttr;
    if (dwAttr != INVALID_FILE_ATTRIBUTES) {
        bFound = TRUE;
    } else {
        // The walk stops at the document root: a file above it is never the target, even when
        // the root itself does not exist.
        const int nRootLength = m_pHost->m_strRoot.GetLength();
        pathInfo = SplitLastSegment(target);
        while (!target.IsEmpty() && target.GetLength() >= nRootLength) {
            dwAttr = GetFileAttributesA(target);
            m_pRequest->m_dwAttr = dwAttr;
            if (dwAttr != INVALID_FILE_ATTRIBUTES) {
                bFound = (dwAttr & FILE_ATTRIBUTE_DIRECTORY) == 0;
                break;
            }
            pathInfo = SplitLastSegment(target) + pathInfo;
        }
    }
    if (!bFound) {
        WriteErrorStatus("404 Not Found");
        return FALSE;
    }
    while (target.GetLength() > 0 && target.ReverseFind('\\') == target.GetLength() - 1)
        target = target.Left(target.GetLength() - 1);
    m_pRequest->m_strFullPath = target;
    if (!pathInfo.IsEmpty()) {
        m_pRequest->m_strPathInfo = pathInfo;
        CString translated = pathInfo;
        if (MapUrlToPath(translated))
            m_pRequest->m_strPathTranslated = translated;
    }
    if (m_pRequest->m_dwAttr & FILE_ATTRIBUTE_DIRECTORY) {
        if (!FindDefaultDocument("default.html\ndefault.htm\nindex.html\nindex.htm", FALSE))
            FindDefaultDocument("default.exe\ndefault.bat", TRUE);
    } else if (m_pRequest->m_nExecute != REQ_EXEC_FILE && !CheckExecutable()) {
        WriteErrorStatus("400 Bad Request");
    }
    return TRUE;
}

BOOL CRequestSocket::MapUrlToPath(CString& url) {
    const std::string& root = m_pHost->m_strRoot.str();
    std::string joined;
    joined.reserve(root.size() + static_cast<size_t>(url.GetLength()));
    joined += root;
    joined += url.str();
    CString full;
    if (!FullPath(joined, full))
        return FALSE;
    url = std::move(full);
    const std::string& path = url.str();
    if (path == root)
        return TRUE;
    return path.size() > root.size() && path.compare(0, root.size(), root) == 0 && path[root.size()] == '\\';
}

BOOL CRequestSocket::PathToUrl(CString& path) {
    CString rest = path.Mid(m_pHost->m_strRoot.GetLength());
    rest.Replace('\\', '/');
    // A root that ends in a separator leaves no "/" of its own after the port.
    if (rest.IsEmpty() || rest[0] != '/')
        rest = CString("/") + rest;
    CString url = CString("http://") + m_pHost->m_strHostName;
    if (g_nServerPort != 80)
        url.AppendFormat(":%d", g_nServerPort);
    path = url + rest;
    return TRUE;
}

namespace {

// Takes the next name of a newline-separated list from nStart on; false past the list's end.
bool NextListName(const CString& names, int& nStart, CString& name) {
    if (nStart > names.GetLength())
        return false;
    int nEnd = names.Find('\n', nStart);
    if (nEnd < 0)
        nEnd = names.GetLength();
    name = names.Mid(nStart, nEnd - nStart);
    nStart = nEnd + 1;
    return true;
}

} // namespace

BOOL CRequestSocket::FindDefaultDocument(CString names, BOOL executable) {
    int nStart = 0;
    CString name;
    while (NextListName(names, nStart, name)) {
        if (name.IsEmpty())
            continue;
        CString path = m_pRequest->m_strFullPath;
        JoinPath(path, name);
        DWORD dwAttr = GetFileAttributesA(path);
        if (dwAttr == INVALID_FILE_ATTRIBUTES || (dwAttr & FILE_ATTRIBUTE_DIRECTORY) != 0)
            continue;
        PathToUrl(path);
        if (executable)
            path += "?";
        WriteStatusLine("302 Redirectio");
        AppendHeader("Location", path);
        AppendResponseText("\r\n");
        m_pRequest->m_bDone = TRUE;
        return TRUE;
    }
    return FALSE;
}

BOOL CRequestSocket::CheckExecutable() {
    const CString& path = m_pRequest->m_strFullPath;
    int nDot = path.ReverseFind('.');
    if (nDot < 0)
        return FALSE;
    CString extension = path.Mid(nDot + 1);
    return MatchExtension(extension, "srv", REQ_EXEC_SRV) || MatchExtension(extension, "dll", REQ_EXEC_DLL);
}

BOOL CRequestSocket::MatchExtension(CString extension, CString names, int kind) {
    int nStart = 0;
    CString name;
    while (NextListName(names, nStart, name)) {
        if (extension.CompareNoCase(name) == 0) {
            m_pRequest->m_nExecute = kind;
            return TRUE;
        }
    }
    return FALSE;
}

BOOL CRequestSocket::StartFileResponse() {
    const DWORD dwAttr = m_pRequest->m_dwAttr;
    if ((dwAttr & FILE_ATTRIBUTE_HIDDEN) || HiddenBelowRoot(m_pRequest->m_strFullPath, m_pHost->m_strRoot)) {
        WriteErrorStatus("403 Forbidden");
        return FALSE;
    }
    if (dwAttr & FILE_ATTRIBUTE_DIRECTORY) {
        if (m_pHost->m_bListAllowed) {
            WriteStatusLine("200 OK");
            AppendResponseText("\r\n");
            return TRUE;
        }
        WriteErrorStatus("403 Forbidden");
        return FALSE;
    }
    CloseFile();
    m_pFile = win_fopen(m_pRequest->m_strFullPath, "rb");
    if (m_pFile == nullptr) {
        WriteErrorStatus("503 Service Unavailable");
        return FALSE;
    }
    CString since = m_pRequest->GetHeader("If-Modified-Since");
    CTime timeSince;
    if (!since.IsEmpty() && ParseHttpDate(since, timeSince) && !IsModifiedSince(timeSince)) {
        WriteStatusLine("304 Not Modified");
        CloseFile();
        AppendResponseText("\r\n");
        return FALSE;
    }
    WriteStatusLine("200 OK");
    AppendContentType();
    struct stat st;
    const bool bStat = fstat(fileno(m_pFile), &st) == 0;
    // 64 bits: files of 2 GiB and more keep their true length.
    CString length;
    length.Format("%lld", bStat ? static_cast<long long>(st.st_size) : 0LL);
    AppendHeader("Content-length", length);
    if (bStat) {
        FILETIME ft = AfxUnixToFileTime(st.st_mtime);
        AppendHeader("Last-Modified", FormatHttpDate(&ft));
    }
    AppendResponseText("\r\n");
    return TRUE;
}

BOOL CRequestSocket::ReadFilePiece(int nAt, int nMax) {
    if (m_pFile == nullptr || nMax <= 0)
        return FALSE;
    if (m_buf.GetSize() < nAt + nMax)
        m_buf.SetSize(nAt + nMax);
    size_t n = fread(m_buf.GetData() + nAt, 1, static_cast<size_t>(nMax), m_pFile);
    if (n == 0) {
        CloseFile();
        return FALSE;
    }
    m_nBytesToSend += static_cast<int>(n);
    return TRUE;
}

void CRequestSocket::SendFileBody() {
    if (m_pFile != nullptr) {
        // The rest of the buffer's current room takes the file's first bytes; a full buffer waits
        // for the first write notification.
        int nEnd = m_nSendOffset + m_nBytesToSend;
        int nRoom = static_cast<int>(m_buf.GetSize()) - nEnd;
        if (nRoom > 0)
            ReadFilePiece(nEnd, nRoom);
    } else if (m_pRequest->m_dwAttr != INVALID_FILE_ATTRIBUTES &&
               (m_pRequest->m_dwAttr & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        WriteDirectoryListing();
    }
}

namespace {

// The current time as an HTTP date. Every answer carries it, and many answers share a second.
const CString& CurrentHttpDate() {
    thread_local time_t s_lastTime = -1;
    thread_local CString s_lastText;
    const time_t t = ::time(nullptr);
    if (t != s_lastTime) {
        FILETIME ft = AfxUnixToFileTime(t);
        s_lastText = CRequestSocket::FormatHttpDate(&ft);
        s_lastTime = t;
    }
    return s_lastText;
}

} // namespace

// The status line and headers go into the buffer piece by piece, without texts made in between:
// every answer writes them.
void CRequestSocket::WriteStatusLine(const CString& status) {
    static const char kVersion[] = "HTTP/1.0 ";
    static const char kServerAndDate[] = "\r\nServer: OKVHttpServer/1.0\r\nDate: ";
    AppendResponseBytes(kVersion, sizeof kVersion - 1);
    AppendResponseText(status);
    AppendResponseBytes(kServerAndDate, sizeof kServerAndDate - 1);
    AppendResponseText(CurrentHttpDate());
    AppendResponseBytes("\r\n", 2);
}

void CRequestSocket::WriteErrorStatus(const CString& status) {
    WriteStatusLine(status);
    AppendResponseBytes("\r\n", 2);
    if (m_pRequest != nullptr)
        m_pRequest->m_bDone = TRUE;
}

void CRequestSocket::AppendHeader(const CString& name, const CString& value) {
    AppendResponseText(name);
    AppendResponseBytes(": ", 2);
    AppendResponseText(value);
    AppendResponseBytes("\r\n", 2);
}

void CRequestSocket::AppendHeaderNumber(const CString& name, int value) {
    char digits[16];
    const auto r = std::to_chars(digits, digits + sizeof digits, value);
    AppendResponseText(name);
    AppendResponseBytes(": ", 2);
    AppendResponseBytes(digits, static_cast<int>(r.ptr - digits));
    AppendResponseBytes("\r\n", 2);
}

void CRequestSocket::AppendContentType() {
    const CString& path = m_pRequest->m_strFullPath;
    int nDot = path.ReverseFind('.');
    // A dot in a folder name is not an extension.
    if (nDot < 0 || path.Find('\\', nDot) >= 0)
        return;
    AppendContentTypeForExtension(path.Mid(nDot));
}

void CRequestSocket::AppendContentTypeForExtension(CString extension) {
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, extension, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return;
    char szValue[256] = {};
    DWORD cbValue = sizeof(szValue) - 1;
    DWORD dwType = 0;
    LONG lResult =
        RegQueryValueExA(hKey, "Content Type", nullptr, &dwType, reinterpret_cast<BYTE*>(szValue), &cbValue);
    RegCloseKey(hKey);
    if (lResult != ERROR_SUCCESS)
        return;
    szValue[sizeof(szValue) - 1] = '\0';
    AppendHeader("Content-type", szValue);
}

int CRequestSocket::AppendResponseBytes(const void* pData, int nLength) {
    if (m_nBytesToSend < 0)
        m_nBytesToSend = 0;
    const int nEnd = m_nSendOffset + m_nBytesToSend;
    if (nEnd + nLength > m_buf.GetSize())
        m_buf.SetSize((nLength / 1024 + 1) * 1024 + nEnd);
    if (nLength > 0)
        memcpy(m_buf.GetData() + nEnd, pData, static_cast<size_t>(nLength));
    m_nBytesToSend += nLength;
    return static_cast<int>(m_buf.GetSize()) - (m_nSendOffset + m_nBytesToSend);
}

int CRequestSocket::AppendResponseText(const CString& text) {
    return AppendResponseBytes(text.GetString(), text.GetLength());
}

int CRequestSocket::AppendResponseUtf8(const CString& text) {
    std::string utf8;
    if (!AfxAnsiToUtf8(text.str(), utf8))
        utf8 = text.str();
    return AppendResponseBytes(utf8.data(), static_cast<int>(utf8.size()));
}

CString CRequestSocket::FormatHttpDate(const FILETIME* time) {
    if (time == nullptr)
        return CurrentHttpDate();
    time_t t = FileTimeToUnix(*time);
    struct tm tmUtc;
    if (gmtime_r(&t, &tmUtc) == nullptr)
        return CString();
    CString text;
    text.Format("%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[tmUtc.tm_wday % 7], tmUtc.tm_mday,
                kMonths[tmUtc.tm_mon % 12], tmUtc.tm_year + 1900, tmUtc.tm_hour, tmUtc.tm_min, tmUtc.tm_sec);
    return text;
}

namespace {

// Reads a number of nWidth characters at nPos: leading white space, then decimal digits only.
// A field that runs past the text or holds anything else is rejected rather than guessed.
bool ReadNumber(const std::string& s, size_t nPos, size_t nWidth, int& value) {
    if (nPos > s.size() || nWidth > s.size() - nPos)
        return false;
    size_t i = nPos;
    const size_t nEnd = nPos + nWidth;
    while (i < nEnd && (s[i] == ' ' || s[i] == '\t'))
        ++i;
    if (i == nEnd)
        return false;
    int v = 0;
    for (; i < nEnd; ++i) {
        if (s[i] < '0' || s[i] > '9')
            return false;
        v = v * 10 + (s[i] - '0');
    }
    value = v;
    return true;
}

bool ReadMonth(const std::string& s, size_t nPos, int& month) {
    if (nPos > s.size() || s.size() - nPos < 3)
        return false;
    for (int m = 0; m < 12; ++m) {
        if (CString(s.substr(nPos, 3)).CompareNoCase(kMonths[m]) == 0) {
            month = m + 1;
            return true;
        }
    }
    return false;
}

} // namespace

BOOL CRequestSocket::ParseHttpDate(CString text, CTime& time) {
    const std::string& s = text.str();
    if (s.size() < 4)
        return FALSE;
    int day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
    bool ok;
    if (s[3] == ' ') {
        ok = ReadNumber(s, 8, 2, day) && ReadMonth(s, 4, month) && ReadNumber(s, 20, 4, year) &&
             ReadNumber(s, 11, 2, hour) && ReadNumber(s, 14, 2, minute) && ReadNumber(s, 17, 2, second);
    } else if (s[3] == ',') {
        ok = ReadNumber(s, 5, 2, day) && ReadMonth(s, 8, month) && ReadNumber(s, 12, 4, year) &&
             ReadNumber(s, 17, 2, hour) && ReadNumber(s, 20, 2, minute) && ReadNumber(s, 23, 2, second);
    } else {
        size_t i = s.find(", ");
        if (i == std::string::npos)
            return FALSE;
        ok = ReadNumber(s, i + 2, 2, day) && ReadMonth(s, i + 5, month) && ReadNumber(s, i + 9, 2, year) &&
             ReadNumber(s, i + 12, 2, hour) && ReadNumber(s, i + 15, 2, minute) &&
             ReadNumber(s, i + 18, 2, second);
        if (ok)
            year += year < 51 ? 2000 : 1900;
    }
    if (!ok || year == 0 || year < 1900 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 ||
        minute > 59 || second > 59)
        return FALSE;
    struct tm tmUtc = {};
    tmUtc.tm_year = year - 1900;
    tmUtc.tm_mon = month - 1;
    tmUtc.tm_mday = day;
    tmUtc.tm_hour = hour;
    tmUtc.tm_min = minute;
    tmUtc.tm_sec = second;
    // HTTP dates are UTC: build the instant without the local time zone.
    time_t t = timegm(&tmUtc);
    if (t == static_cast<time_t>(-1) || tmUtc.tm_min != minute)
        return FALSE;
    time = CTime(t);
    return TRUE;
}

BOOL CRequestSocket::IsModifiedSince(const CTime& time) {
    struct stat st;
    if (m_pFile == nullptr || fstat(fileno(m_pFile), &st) != 0)
        return TRUE;
    return st.st_mtime > time.GetTime();
}

CString CRequestSocket::SplitLastSegment(CString& path) {
    int nSlash = path.ReverseFind('\\');
    if (nSlash < 0) {
        CString all = path;
        path.Empty();
        return all;
    }
    CString last = path.Mid(nSlash);
    path = path.Left(nSlash);
    return last;
}

void CRequestSocket::JoinPath(CString& path, CString name) {
    if (path.IsEmpty() || path.ReverseFind('\\') != path.GetLength() - 1)
        path += "\\";
    path += name;
}
