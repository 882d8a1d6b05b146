#include "platform/kernel/Profile.h"
#include "platform/kernel/CodePage.h"
#include "platform/kernel/FileSys.h"
#include "platform/kernel/WinError.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// One lock for every profile call in the process: a read-modify-write of one key must not
// interleave with another thread's on the same file.
std::mutex& ProfileLock() {
    static std::mutex m;
    return m;
}

struct Line {
    std::string text; // without its line end
    std::string eol;  // "\r\n", "\n" or "" for a last line without one
};

enum class Kind { Blank, Comment, Section, Entry };

struct Parsed {
    Kind kind;
    std::string name;  // section or key name, trimmed
    std::string value; // entry value, trimmed and unquoted
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && (IsBlank(s[e - 1]) || s[e - 1] == '\r'))
        --e;
    return s.substr(b, e - b);
}

Parsed ParseLine(const std::string& text) {
    std::string t = Trim(text);
    if (t.empty())
        return {Kind::Blank, {}, {}};
    if (t[0] == ';')
        return {Kind::Comment, {}, {}};
    if (t[0] == '[') {
        size_t close = t.find(']');
        return {
            Kind::Section, Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1)), {}};
    }
    size_t eq = t.find('=');
    if (eq == std::string::npos)
        return {Kind::Entry, t, {}};
    std::string value = Trim(t.substr(eq + 1));
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        value = value.substr(1, value.size() - 2);
    return {Kind::Entry, Trim(t.substr(0, eq)), value};
}

std::vector<Line> SplitLines(const std::string& data) {
    std::vector<Line> lines;
    size_t i = 0;
    while (i < data.size()) {
        size_t nl = data.find('\n', i);
        if (nl == std::string::npos) {
            lines.push_back({data.substr(i), ""});
            break;
        }
        size_t end = nl;
        std::string eol = "\n";
        if (end > i && data[end - 1] == '\r') {
            --end;
            eol = "\r\n";
        }
        lines.push_back({data.substr(i, end - i), eol});
        i = nl + 1;
    }
    return lines;
}

// Reads the whole file; false when it is missing or cannot be read.
bool ReadFile(const std::string& path, std::string& data) {
    int fd = AfxOpenRegularFile(path.c_str(), O_RDONLY);
    if (fd < 0)
        return false;
    data.clear();
    char buf[8192];
    for (;;) {
        ssize_t r = read(fd, buf, sizeof buf);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        data.append(buf, static_cast<size_t>(r));
    }
    close(fd);
    return true;
}

// Replaces the file whole: a temporary file in the same folder, then rename, so a reader in
// any process sees the old file or the new one, never a half-written one. The new file is this
// user's alone (mkstemp's 0600), whatever the file it replaces allowed.
bool ReplaceFile(const std::string& path, const std::string& data) {
    std::string tmpl = path + ".XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) {
        int err = errno;
        SetLastError(err == ENOENT || err == ENOTDIR ? ERROR_PATH_NOT_FOUND : AfxErrnoToWin32(err));
        return false;
    }
    const char* p = data.data();
    size_t left = data.size();
    bool ok = true;
    while (left > 0) {
        ssize_t w = write(fd, p, left);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            ok = false;
            break;
        }
        p += w;
        left -= static_cast<size_t>(w);
    }
    int err = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && rename(name.data(), path.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        unlink(name.data());
        SetLastError(AfxErrnoToWin32(err));
    }
    return ok;
}

// Copies s into the caller's buffer of n bytes, cut so that no double-byte character is split.
DWORD CopyCut(const std::string& full, LPSTR out, DWORD n) {
    if (!out || n == 0)
        return 0;
    // A zero byte in the file ends the value: the caller gets a string, and a count that
    // matches it.
    std::string s = full.substr(0, full.find('\0'));
    size_t len = s.size();
    if (len > n - 1) {
        len = 0;
        while (len < n - 1) {
            size_t step = (IsDBCSLeadByte(static_cast<BYTE>(s[len])) && len + 1 < s.size()) ? 2 : 1;
            if (len + step > n - 1)
                break;
            len += step;
        }
    }
    std::memcpy(out, s.data(), len);
    out[len] = '\0';
    return static_cast<DWORD>(len);
}

// A list of zero-terminated names followed by one more zero, cut to the buffer as Windows does
// (the result is then n - 2).
DWORD CopyList(const std::vector<std::string>& items, LPSTR out, DWORD n) {
    if (!out || n == 0)
        return 0;
    if (n == 1) {
        out[0] = '\0';
        return 0;
    }
    std::string all;
    for (auto& s : items) {
        all += s.substr(0, s.find('\0'));
        all += '\0';
    }
    if (all.size() + 1 <= n) {
        std::memcpy(out, all.data(), all.size());
        out[all.size()] = '\0';
        if (all.empty())
            out[1] = '\0';
        return static_cast<DWORD>(all.size());
    }
    std::memcpy(out, all.data(), n - 2);
    out[n - 2] = '\0';
    out[n - 1] = '\0';
    return n - 2;
}

} // namespace

DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault, LPSTR lpReturnedString,
                               DWORD nSize, LPCSTR lpFileName) {
    std::string def = lpDefault ? lpDefault : "";
    while (!def.empty() && IsBlank(def.back()))
        def.pop_back();
    std::string path, data;
    bool have = false;
    {
        std::lock_guard<std::mutex> lock(ProfileLock());
        have = lpFileName && AfxMapPath(lpFileName, path) && ReadFile(path, data);
    }
    if (!have) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        if (!lpAppName || !lpKeyName)
            return CopyList({}, lpReturnedString, nSize);
        return CopyCut(def, lpReturnedString, nSize);
    }
    std::vector<Line> lines = SplitLines(data);
    std::vector<std::string> list;
    bool inSection = false;
    for (auto& l : lines) {
        Parsed p = ParseLine(l.text);
        if (p.kind == Kind::Section) {
            inSection = lpAppName && AfxEqualNoCaseAnsi(p.name.c_str(), lpAppName);
            if (!lpAppName) {
                bool dup = false;
                for (auto& s : list)
                    dup = dup || AfxEqualNoCaseAnsi(s.c_str(), p.name.c_str());
                if (!dup)
                    list.push_back(p.name);
            }
            continue;
        }
        if (!inSection || p.kind != Kind::Entry)
            continue;
        if (!lpKeyName) {
            bool dup = false;
            for (auto& s : list)
                dup = dup || AfxEqualNoCaseAnsi(s.c_str(), p.name.c_str());
            if (!dup)
                list.push_back(p.name);
            continue;
        }
        if (AfxEqualNoCaseAnsi(p.name.c_str(), lpKeyName))
            return CopyCut(p.value, lpReturnedString, nSize);
    }
    if (!lpAppName || !lpKeyName)
        return CopyList(list, lpReturnedString, nSize);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return CopyCut(def, lpReturnedString, nSize);
}

DWORD GetPrivateProfileSectionA(LPCSTR lpAppName, LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName) {
    std::string path, data;
    bool have = false;
    {
        std::lock_guard<std::mutex> lock(ProfileLock());
        have = lpAppName && lpFileName && AfxMapPath(lpFileName, path) && ReadFile(path, data);
    }
    std::vector<std::string> list;
    if (have) {
        bool inSection = false;
        for (auto& l : SplitLines(data)) {
            Parsed p = ParseLine(l.text);
            if (p.kind == Kind::Section)
                inSection = AfxEqualNoCaseAnsi(p.name.c_str(), lpAppName);
            else if (inSection && p.kind == Kind::Entry)
                list.push_back(Trim(l.text));
        }
    }
    return CopyList(list, lpReturnedString, nSize);
}

UINT GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault, LPCSTR lpFileName) {
    if (!lpAppName || !lpKeyName)
        return static_cast<UINT>(nDefault);
    // A marker no value can hold tells a missing key from an empty one.
    const char kMissing[] = "\x01\x02missing";
    char buf[256];
    GetPrivateProfileStringA(lpAppName, lpKeyName, kMissing, buf, sizeof buf, lpFileName);
    if (std::strcmp(buf, kMissing) == 0)
        return static_cast<UINT>(nDefault);
    const char* p = buf;
    bool neg = false;
    if (*p == '-' || *p == '+') {
        neg = *p == '-';
        ++p;
    }
    unsigned long long v = 0;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        for (p += 2;; ++p) {
            int d = (*p >= '0' && *p <= '9')   ? *p - '0'
                    : (*p >= 'a' && *p <= 'f') ? *p - 'a' + 10
                    : (*p >= 'A' && *p <= 'F') ? *p - 'A' + 10
                                               : -1;
            if (d < 0)
                break;
            v = (v * 16 + static_cast<unsigned>(d)) & 0xFFFFFFFFull;
        }
    } else {
        for (; *p >= '0' && *p <= '9'; ++p)
            v = (v * 10 + static_cast<unsigned>(*p - '0')) & 0xFFFFFFFFull;
    }
    UINT r = static_cast<UINT>(v);
    return neg ? 0u - r : r;
}

BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString, LPCSTR lpFileName) {
    if (!lpAppName || !lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(ProfileLock());
    std::string path;
    if (!AfxMapPath(lpFileName, path))
        return FALSE;
    std::string data;
    bool existed = ReadFile(path, data);
    std::vector<Line> lines = SplitLines(data);

    // Where the first section of that name begins and ends, and the first matching key in it.
    long secStart = -1, secEnd = -1, keyLine = -1, lastContent = -1;
    for (size_t i = 0; i < lines.size(); ++i) {
        Parsed p = ParseLine(lines[i].text);
        if (p.kind == Kind::Section) {
            if (secStart >= 0) {
                secEnd = static_cast<long>(i);
                break;
            }
            if (AfxEqualNoCaseAnsi(p.name.c_str(), lpAppName)) {
                secStart = static_cast<long>(i);
                lastContent = secStart;
            }
            continue;
        }
        if (secStart < 0)
            continue;
        if (p.kind != Kind::Blank)
            lastContent = static_cast<long>(i);
        if (p.kind == Kind::Entry && keyLine < 0 && lpKeyName &&
            AfxEqualNoCaseAnsi(p.name.c_str(), lpKeyName))
            keyLine = static_cast<long>(i);
    }
    if (secStart >= 0 && secEnd < 0)
        secEnd = static_cast<long>(lines.size());

    std::string entry = lpKeyName ? std::string(lpKeyName) + "=" + (lpString ? lpString : "") : "";
    if (!lpKeyName) {
        if (secStart < 0)
            return TRUE; // nothing to delete
        lines.erase(lines.begin() + secStart, lines.begin() + secEnd);
    } else if (!lpString) {
        if (keyLine < 0)
            return TRUE;
        lines.erase(lines.begin() + keyLine);
    } else if (keyLine >= 0) {
        lines[static_cast<size_t>(keyLine)].text = entry;
        lines[static_cast<size_t>(keyLine)].eol = "\r\n";
    } else if (secStart >= 0) {
        size_t at = static_cast<size_t>(lastContent) + 1;
        if (lines[at - 1].eol.empty())
            lines[at - 1].eol = "\r\n";
        lines.insert(lines.begin() + static_cast<long>(at), Line{entry, "\r\n"});
    } else {
        if (!lines.empty() && lines.back().eol.empty())
            lines.back().eol = "\r\n";
        lines.push_back({std::string("[") + lpAppName + "]", "\r\n"});
        lines.push_back({entry, "\r\n"});
    }
    std::string out;
    for (auto& l : lines)
        out += l.text + l.eol;
    if (existed && out == data)
        return TRUE;
    return ReplaceFile(path, out) ? TRUE : FALSE;
}
