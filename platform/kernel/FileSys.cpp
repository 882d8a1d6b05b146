#include "platform/kernel/FileSys.h"
#include "platform/kernel/CodePage.h"

#include "platform/base/AfxTime.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

namespace {

bool IsDriveLetterPath(const char* p) {
    return ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')) && p[1] == ':';
}

bool Exists(const std::string& p) {
    struct stat st;
    return lstat(p.c_str(), &st) == 0;
}

// The entry of folder dir whose name matches comp without regard to ASCII case; the exact name
// wins, then the first in name order so the choice does not depend on the directory's order.
// Kept out of line: g++ 12 inlines it into AfxMapPath and then warns falsely about freeing a
// stack object (-Wfree-nonheap-object).
[[gnu::noinline]] bool FindNoCase(const std::string& dir, const std::string& comp, std::string& found) {
    DIR* d = opendir(dir.empty() ? "." : dir.c_str());
    if (!d)
        return false;
    std::vector<std::string> hits;
    while (dirent* e = readdir(d)) {
        if (AfxAsciiEqualNoCase(comp, e->d_name))
            hits.emplace_back(e->d_name);
    }
    closedir(d);
    if (hits.empty())
        return false;
    std::sort(hits.begin(), hits.end());
    found = hits.front();
    return true;
}

// The folder part of a Linux path ("" for a bare name, "/" for the root).
std::string ParentOf(const std::string& p) {
    size_t end = p.size();
    while (end > 1 && p[end - 1] == '/')
        --end;
    size_t slash = p.rfind('/', end - 1);
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return p.substr(0, slash);
}

// Last error after a failed call on path: a missing entry is ERROR_PATH_NOT_FOUND when its
// folder is missing too, as Windows tells the two apart.
void SetErrorFromErrno(int err, const std::string& path) {
    if (err == ENOENT) {
        struct stat st;
        std::string parent = ParentOf(path);
        if (stat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return;
        }
    }
    SetLastError(AfxErrnoToWin32(err));
}

FILETIME ToFileTime(const struct timespec& ts) {
    return AfxUnixToFileTime(ts.tv_sec, ts.tv_nsec);
}

DWORD AttributesOf(const struct stat& st, const std::string& name) {
    DWORD a = 0;
    if (S_ISDIR(st.st_mode))
        a |= FILE_ATTRIBUTE_DIRECTORY;
    else if (!S_ISREG(st.st_mode))
        a |= FILE_ATTRIBUTE_DEVICE;
    if (!name.empty() && name[0] == '.' && name != "." && name != "..")
        a |= FILE_ATTRIBUTE_HIDDEN;
    if (!(st.st_mode & S_IWUSR))
        a |= FILE_ATTRIBUTE_READONLY;
    return a ? a : FILE_ATTRIBUTE_NORMAL;
}

std::string BaseName(const std::string& p) {
    size_t end = p.size();
    while (end > 1 && p[end - 1] == '/')
        --end;
    size_t slash = p.rfind('/', end - 1);
    return p.substr(slash == std::string::npos ? 0 : slash + 1,
                    end - (slash == std::string::npos ? 0 : slash + 1));
}

// Copies text with its terminator into a caller's buffer; the Win32 length rules: the length
// without the terminator when it fits, else the size needed with it.
DWORD CopyOut(const std::string& s, DWORD n, LPSTR buf) {
    if (!buf || s.size() + 1 > n)
        return static_cast<DWORD>(s.size() + 1);
    std::memcpy(buf, s.c_str(), s.size() + 1);
    return static_cast<DWORD>(s.size());
}

bool CopyData(int in, int out) {
    char buf[65536];
    for (;;) {
        ssize_t r = read(in, buf, sizeof buf);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return false;
        if (r == 0)
            return true;
        char* p = buf;
        while (r > 0) {
            ssize_t w = write(out, p, static_cast<size_t>(r));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return false;
            p += w;
            r -= w;
        }
    }
}

// Copies a regular file with its permission bits and modification time. failIfExists keeps an
// existing target; a file is never copied over itself.
bool CopyOneFile(const std::string& src, const std::string& dst, bool failIfExists) {
    int in = AfxOpenRegularFile(src.c_str(), O_RDONLY);
    if (in < 0) {
        SetErrorFromErrno(errno, src);
        return false;
    }
    struct stat st;
    if (fstat(in, &st) != 0) {
        close(in);
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    struct stat dt;
    if (stat(dst.c_str(), &dt) == 0) {
        if (failIfExists) {
            close(in);
            SetLastError(ERROR_FILE_EXISTS);
            return false;
        }
        if (dt.st_dev == st.st_dev && dt.st_ino == st.st_ino) {
            close(in);
            SetLastError(ERROR_SHARING_VIOLATION);
            return false;
        }
        if (!S_ISREG(dt.st_mode)) {
            close(in);
            SetLastError(ERROR_ACCESS_DENIED);
            return false;
        }
    }
    int flags = O_WRONLY | O_CREAT | (failIfExists ? O_EXCL : O_TRUNC);
    int out = AfxOpenRegularFile(dst.c_str(), flags, st.st_mode & 07777);
    if (out < 0) {
        int err = errno;
        close(in);
        if (err == EEXIST)
            SetLastError(ERROR_FILE_EXISTS);
        else
            SetErrorFromErrno(err, dst);
        return false;
    }
    bool ok = CopyData(in, out);
    int err = errno;
    if (ok) {
        fchmod(out, st.st_mode & 07777);
        struct timespec times[2] = {st.st_atim, st.st_mtim};
        futimens(out, times);
    }
    close(in);
    if (close(out) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        unlink(dst.c_str());
        SetLastError(AfxErrnoToWin32(err));
    }
    return ok;
}

// Windows wildcard match of an ANSI name: "*" any run, "?" one character (a double-byte
// character counts as one); letters compare without regard to ASCII case.
bool WildMatch(const unsigned char* pat, const unsigned char* name) {
    while (*pat) {
        if (*pat == '*') {
            while (*pat == '*')
                ++pat;
            if (!*pat)
                return true;
            for (const unsigned char* n = name;;) {
                if (WildMatch(pat, n))
                    return true;
                if (!*n)
                    return false;
                n += (IsDBCSLeadByte(*n) && n[1]) ? 2 : 1;
            }
        }
        if (!*name)
            return false;
        int nlen = (IsDBCSLeadByte(*name) && name[1]) ? 2 : 1;
        if (*pat == '?') {
            ++pat;
            name += nlen;
            continue;
        }
        int plen = (IsDBCSLeadByte(*pat) && pat[1]) ? 2 : 1;
        if (plen != nlen)
            return false;
        if (plen == 2) {
            if (pat[0] != name[0] || pat[1] != name[1])
                return false;
        } else {
            if (AfxAsciiToLower(static_cast<char>(*pat)) != AfxAsciiToLower(static_cast<char>(*name)))
                return false;
        }
        pat += plen;
        name += nlen;
    }
    return !*name;
}

struct FindState {
    static constexpr uint32_t kMagic = 0x46494E44; // "FIND"
    uint32_t magic = kMagic;
    std::vector<WIN32_FIND_DATAA> entries;
    size_t next = 0;
};

bool FillFindData(const std::string& dir, const std::string& utf8Name, WIN32_FIND_DATAA& fd) {
    std::string ansi;
    if (!AfxUtf8ToAnsi(utf8Name, ansi) || ansi.size() >= MAX_PATH)
        return false; // a name the program could not use again is not listed
    std::string full = (dir == "/" ? "" : dir) + "/" + utf8Name;
    struct stat st;
    if (stat(full.c_str(), &st) != 0 && lstat(full.c_str(), &st) != 0)
        return false;
    std::memset(&fd, 0, sizeof fd);
    fd.dwFileAttributes = AttributesOf(st, utf8Name);
    fd.ftCreationTime = ToFileTime(st.st_mtim);
    fd.ftLastAccessTime = ToFileTime(st.st_atim);
    fd.ftLastWriteTime = ToFileTime(st.st_mtim);
    if (!S_ISDIR(st.st_mode)) {
        uint64_t size = static_cast<uint64_t>(st.st_size);
        fd.nFileSizeHigh = static_cast<DWORD>(size >> 32);
        fd.nFileSizeLow = static_cast<DWORD>(size);
    }
    std::memcpy(fd.cFileName, ansi.c_str(), ansi.size() + 1);
    return true;
}

// Splits a Windows-form path into components at "\" and "/", stepping over double-byte
// characters whole.
std::vector<std::string> SplitWinPath(const std::string& s) {
    std::vector<std::string> parts;
    std::string cur;
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (IsDBCSLeadByte(c) && i + 1 < s.size()) {
            cur += s[i];
            cur += s[i + 1];
            ++i;
        } else if (c == '\\' || c == '/') {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur += s[i];
        }
    }
    parts.push_back(cur);
    return parts;
}

} // namespace

// ---------------------------------------------------------------------------------------

bool AfxMapPath(const char* pszWinPath, std::string& linuxPath) {
    linuxPath.clear();
    if (!pszWinPath || !*pszWinPath || IsDriveLetterPath(pszWinPath)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    std::string utf8;
    if (!AfxAnsiToUtf8(pszWinPath, utf8)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    // UTF-8 holds 0x5C only as the character itself, so every one left is a separator.
    std::string p;
    p.reserve(utf8.size());
    for (char c : utf8) {
        if (c == '\\')
            c = '/';
        if (c == '/' && !p.empty() && p.back() == '/')
            continue;
        p += c;
    }
    if (Exists(p)) {
        linuxPath = p;
        return true;
    }
    // Resolve component by component, without regard to case, as far as the folders exist.
    std::string out;
    size_t i = 0;
    if (p[0] == '/') {
        out = "/";
        i = 1;
    }
    bool resolving = true;
    while (i < p.size()) {
        size_t slash = p.find('/', i);
        std::string comp = p.substr(i, slash == std::string::npos ? std::string::npos : slash - i);
        std::string dir = out.empty() ? "" : out;
        std::string candidate = dir + comp;
        if (resolving && !comp.empty() && comp != "." && comp != ".." && !Exists(candidate)) {
            std::string found;
            if (FindNoCase(dir.empty() ? "." : dir, comp, found))
                candidate = dir + found;
            else
                resolving = false;
        }
        out = candidate;
        if (slash == std::string::npos)
            break;
        out += '/';
        i = slash + 1;
    }
    linuxPath = out;
    return true;
}

bool AfxUnmapPath(const std::string& linuxPath, std::string& winPath) {
    bool ok = AfxUtf8ToAnsi(linuxPath, winPath);
    // Only single bytes can be "/" here: GBK trail bytes start at 0x40.
    for (char& c : winPath)
        if (c == '/')
            c = '\\';
    return ok;
}

std::string AfxUnmapPath(const std::string& linuxPath) {
    std::string w;
    AfxUnmapPath(linuxPath, w);
    return w;
}

BOOL CreateDirectoryA(LPCSTR lpPathName, void* lpSecurityAttributes) {
    (void)lpSecurityAttributes;
    std::string p;
    if (!AfxMapPath(lpPathName, p))
        return FALSE;
    if (mkdir(p.c_str(), 0777) != 0) {
        int err = errno;
        if (err == ENOENT || err == ENOTDIR)
            SetLastError(ERROR_PATH_NOT_FOUND);
        else
            SetLastError(AfxErrnoToWin32(err));
        return FALSE;
    }
    return TRUE;
}

BOOL RemoveDirectoryA(LPCSTR lpPathName) {
    std::string p;
    if (!AfxMapPath(lpPathName, p))
        return FALSE;
    if (rmdir(p.c_str()) != 0) {
        int err = errno;
        if (err == ENOTDIR)
            SetLastError(ERROR_DIRECTORY);
        else
            SetErrorFromErrno(err, p);
        return FALSE;
    }
    return TRUE;
}

BOOL DeleteFileA(LPCSTR lpFileName) {
    std::string p;
    if (!AfxMapPath(lpFileName, p))
        return FALSE;
    struct stat st;
    if (lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (unlink(p.c_str()) != 0) {
        SetErrorFromErrno(errno, p);
        return FALSE;
    }
    return TRUE;
}

BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
    std::string from, to;
    if (!AfxMapPath(lpExistingFileName, from) || !AfxMapPath(lpNewFileName, to))
        return FALSE;
    struct stat st;
    if (lstat(from.c_str(), &st) != 0) {
        SetErrorFromErrno(errno, from);
        return FALSE;
    }
    bool replace = (dwFlags & MOVEFILE_REPLACE_EXISTING) != 0;
    struct stat dt;
    bool targetExists = lstat(to.c_str(), &dt) == 0;
    bool sameEntry = targetExists && dt.st_dev == st.st_dev && dt.st_ino == st.st_ino;
    if (targetExists && !sameEntry) {
        if (!replace || S_ISDIR(dt.st_mode) || S_ISDIR(st.st_mode)) {
            SetLastError(replace ? ERROR_ACCESS_DENIED : ERROR_ALREADY_EXISTS);
            return FALSE;
        }
    }
    int r;
    if (replace || sameEntry)
        r = rename(from.c_str(), to.c_str());
    else {
        // Refuse to replace even when the target appears between the check and the move.
        r = renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
        if (r != 0 && (errno == EINVAL || errno == ENOSYS)) {
            if (lstat(to.c_str(), &dt) == 0) {
                SetLastError(ERROR_ALREADY_EXISTS);
                return FALSE;
            }
            r = rename(from.c_str(), to.c_str());
        }
    }
    if (r == 0)
        return TRUE;
    int err = errno;
    if (err == EEXIST) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    if (err == EXDEV && !S_ISDIR(st.st_mode) && (dwFlags & MOVEFILE_COPY_ALLOWED)) {
        if (!CopyOneFile(from, to, !replace))
            return FALSE;
        if (unlink(from.c_str()) != 0) {
            SetErrorFromErrno(errno, from);
            return FALSE;
        }
        return TRUE;
    }
    SetErrorFromErrno(err, to);
    return FALSE;
}

BOOL MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName) {
    // A file may change volumes under MoveFile; a folder may not.
    return MoveFileExA(lpExistingFileName, lpNewFileName, MOVEFILE_COPY_ALLOWED);
}

BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
    std::string from, to;
    if (!AfxMapPath(lpExistingFileName, from) || !AfxMapPath(lpNewFileName, to))
        return FALSE;
    return CopyOneFile(from, to, bFailIfExists != FALSE) ? TRUE : FALSE;
}

DWORD GetFileAttributesA(LPCSTR lpFileName) {
    std::string p;
    if (!AfxMapPath(lpFileName, p))
        return INVALID_FILE_ATTRIBUTES;
    struct stat st;
    if (stat(p.c_str(), &st) != 0) {
        SetErrorFromErrno(errno, p);
        return INVALID_FILE_ATTRIBUTES;
    }
    return AttributesOf(st, BaseName(p));
}

BOOL SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
    std::string p;
    if (!AfxMapPath(lpFileName, p))
        return FALSE;
    struct stat st;
    if (stat(p.c_str(), &st) != 0) {
        SetErrorFromErrno(errno, p);
        return FALSE;
    }
    mode_t mode = st.st_mode & 07777;
    if (dwFileAttributes & FILE_ATTRIBUTE_READONLY)
        mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    else
        mode |= S_IWUSR;
    if (mode != (st.st_mode & 07777) && chmod(p.c_str(), mode) != 0) {
        SetErrorFromErrno(errno, p);
        return FALSE;
    }
    return TRUE;
}

BOOL GetFileAttributesExA(LPCSTR lpFileName, GET_FILEEX_INFO_LEVELS fInfoLevelId, LPVOID lpFileInformation) {
    if (fInfoLevelId != GetFileExInfoStandard || !lpFileInformation) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string p;
    if (!AfxMapPath(lpFileName, p))
        return FALSE;
    struct stat st;
    if (stat(p.c_str(), &st) != 0) {
        SetErrorFromErrno(errno, p);
        return FALSE;
    }
    auto* d = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(lpFileInformation);
    d->dwFileAttributes = AttributesOf(st, BaseName(p));
    d->ftCreationTime = ToFileTime(st.st_mtim);
    d->ftLastAccessTime = ToFileTime(st.st_atim);
    d->ftLastWriteTime = ToFileTime(st.st_mtim);
    uint64_t size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
    d->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    d->nFileSizeLow = static_cast<DWORD>(size);
    return TRUE;
}

HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
    if (!lpFindFileData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string p;
    if (!AfxMapPath(lpFileName, p))
        return INVALID_HANDLE_VALUE;
    size_t slash = p.rfind('/');
    std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : p.substr(0, slash));
    std::string pattern = slash == std::string::npos ? p : p.substr(slash + 1);
    if (pattern.empty()) {
        // "folder\" names no file, as on Windows.
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::string ansiPattern;
    AfxUtf8ToAnsi(pattern, ansiPattern);
    if (ansiPattern == "*.*")
        ansiPattern = "*";
    DIR* d = opendir(dir.c_str());
    if (!d) {
        int err = errno;
        SetLastError(err == ENOENT || err == ENOTDIR ? ERROR_PATH_NOT_FOUND : AfxErrnoToWin32(err));
        return INVALID_HANDLE_VALUE;
    }
    auto state = std::make_unique<FindState>();
    std::vector<WIN32_FIND_DATAA> dots, rest;
    while (dirent* e = readdir(d)) {
        WIN32_FIND_DATAA fd;
        if (!FillFindData(dir, e->d_name, fd))
            continue;
        if (!WildMatch(reinterpret_cast<const unsigned char*>(ansiPattern.c_str()),
                       reinterpret_cast<const unsigned char*>(fd.cFileName)))
            continue;
        bool dot = std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0;
        (dot ? dots : rest).push_back(fd);
    }
    closedir(d);
    // "." and ".." come first, as the original's file system lists them.
    std::sort(dots.begin(), dots.end(), [](const WIN32_FIND_DATAA& a, const WIN32_FIND_DATAA& b) {
        return std::strlen(a.cFileName) < std::strlen(b.cFileName);
    });
    state->entries = std::move(dots);
    state->entries.insert(state->entries.end(), rest.begin(), rest.end());
    if (state->entries.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    *lpFindFileData = state->entries[0];
    state->next = 1;
    return static_cast<HANDLE>(state.release());
}

BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
    auto* state = static_cast<FindState*>(hFindFile);
    if (!state || hFindFile == INVALID_HANDLE_VALUE || state->magic != FindState::kMagic || !lpFindFileData) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (state->next >= state->entries.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    *lpFindFileData = state->entries[state->next++];
    return TRUE;
}

BOOL FindClose(HANDLE hFindFile) {
    auto* state = static_cast<FindState*>(hFindFile);
    if (!state || hFindFile == INVALID_HANDLE_VALUE || state->magic != FindState::kMagic) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    state->magic = 0;
    delete state;
    return TRUE;
}

DWORD GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
    char buf[4096];
    if (!getcwd(buf, sizeof buf)) {
        SetLastError(AfxErrnoToWin32(errno));
        return 0;
    }
    return CopyOut(AfxUnmapPath(buf), nBufferLength, lpBuffer);
}

BOOL SetCurrentDirectoryA(LPCSTR lpPathName) {
    std::string p;
    if (!AfxMapPath(lpPathName, p))
        return FALSE;
    if (chdir(p.c_str()) != 0) {
        SetErrorFromErrno(errno, p);
        return FALSE;
    }
    return TRUE;
}

DWORD GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer, LPSTR* lpFilePart) {
    if (lpFilePart)
        *lpFilePart = nullptr;
    if (!lpFileName || !*lpFileName) {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    std::string in = lpFileName;
    std::string prefix; // "X:" for a drive path, "" for this system's paths
    bool absolute = false;
    if (IsDriveLetterPath(lpFileName)) {
        prefix = in.substr(0, 2);
        in = in.substr(2);
        absolute = true; // a drive's current folder is its root here
    } else if (in[0] == '\\' || in[0] == '/') {
        absolute = true;
    }
    std::vector<std::string> stack;
    if (!absolute) {
        char cwd[4096];
        if (!getcwd(cwd, sizeof cwd)) {
            SetLastError(AfxErrnoToWin32(errno));
            return 0;
        }
        for (auto& c : SplitWinPath(AfxUnmapPath(cwd)))
            if (!c.empty())
                stack.push_back(c);
    }
    std::vector<std::string> parts = SplitWinPath(in);
    bool trailingSep = !parts.empty() && parts.back().empty() && parts.size() > 1;
    for (auto& c : parts) {
        if (c.empty() || c == ".")
            continue;
        if (c == "..") {
            if (!stack.empty())
                stack.pop_back();
            continue;
        }
        stack.push_back(c);
    }
    std::string out = prefix;
    for (auto& c : stack)
        out += "\\" + c;
    if (stack.empty() || trailingSep)
        out += "\\";
    DWORD r = CopyOut(out, nBufferLength, lpBuffer);
    if (lpBuffer && r < nBufferLength && lpFilePart && !stack.empty() && !trailingSep)
        *lpFilePart = lpBuffer + (out.size() - stack.back().size());
    return r;
}

DWORD GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
    const char* t = std::getenv("TMPDIR");
    std::string dir = (t && t[0] == '/') ? t : "/tmp";
    std::string w = AfxUnmapPath(dir);
    if (w.empty() || w.back() != '\\')
        w += '\\';
    return CopyOut(w, nBufferLength, lpBuffer);
}

UINT GetTempFileNameA(LPCSTR lpPathName, LPCSTR lpPrefixString, UINT uUnique, LPSTR lpTempFileName) {
    if (!lpPathName || !lpTempFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string base = lpPathName;
    if (base.empty() || (base.back() != '\\' && base.back() != '/'))
        base += '\\';
    base.append(lpPrefixString ? lpPrefixString : "", lpPrefixString ? strnlen(lpPrefixString, 3) : 0);
    auto nameFor = [&](UINT n) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%X.tmp", n & 0xFFFF);
        return base + hex;
    };
    if (uUnique != 0) {
        std::string name = nameFor(uUnique);
        if (name.size() >= MAX_PATH) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return 0;
        }
        std::memcpy(lpTempFileName, name.c_str(), name.size() + 1);
        return uUnique & 0xFFFF;
    }
    UINT start = static_cast<UINT>(getpid() ^ static_cast<UINT>(time(nullptr))) & 0xFFFF;
    for (UINT i = 0; i < 0x10000; ++i) {
        UINT n = ((start + i) & 0xFFFF) ? ((start + i) & 0xFFFF) : 1;
        std::string name = nameFor(n);
        std::string p;
        if (name.size() >= MAX_PATH || !AfxMapPath(name.c_str(), p))
            return 0;
        int fd = open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            close(fd);
            std::memcpy(lpTempFileName, name.c_str(), name.size() + 1);
            return n;
        }
        if (errno != EEXIST) {
            SetErrorFromErrno(errno, p);
            return 0;
        }
    }
    SetLastError(ERROR_FILE_EXISTS);
    return 0;
}

UINT GetDriveTypeA(LPCSTR lpRootPathName) {
    if (!lpRootPathName)
        return DRIVE_FIXED;
    std::string p;
    if (!AfxMapPath(lpRootPathName, p))
        return DRIVE_NO_ROOT_DIR;
    struct stat st;
    if (stat(p.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return DRIVE_NO_ROOT_DIR;
    return DRIVE_FIXED;
}

BOOL GetDiskFreeSpaceExA(LPCSTR lpDirectoryName, PULARGE_INTEGER lpFreeBytesAvailableToCaller,
                         PULARGE_INTEGER lpTotalNumberOfBytes, PULARGE_INTEGER lpTotalNumberOfFreeBytes) {
    std::string p = ".";
    if (lpDirectoryName && !AfxMapPath(lpDirectoryName, p))
        return FALSE;
    struct statvfs vs;
    if (statvfs(p.c_str(), &vs) != 0) {
        SetErrorFromErrno(errno, p);
        return FALSE;
    }
    uint64_t unit = vs.f_frsize ? vs.f_frsize : vs.f_bsize;
    if (lpFreeBytesAvailableToCaller)
        lpFreeBytesAvailableToCaller->QuadPart = static_cast<uint64_t>(vs.f_bavail) * unit;
    if (lpTotalNumberOfBytes)
        lpTotalNumberOfBytes->QuadPart = static_cast<uint64_t>(vs.f_blocks) * unit;
    if (lpTotalNumberOfFreeBytes)
        lpTotalNumberOfFreeBytes->QuadPart = static_cast<uint64_t>(vs.f_bfree) * unit;
    return TRUE;
}

BOOL PathFileExistsA(LPCSTR pszPath) {
    std::string p;
    if (!AfxMapPath(pszPath, p))
        return FALSE;
    struct stat st;
    if (stat(p.c_str(), &st) != 0) {
        SetErrorFromErrno(errno, p);
        return FALSE;
    }
    return TRUE;
}

BOOL PathIsDirectoryA(LPCSTR pszPath) {
    std::string p;
    if (!AfxMapPath(pszPath, p))
        return FALSE;
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? TRUE : FALSE;
}

int _access(const char* path, int mode) {
    std::string p;
    if (!AfxMapPath(path, p)) {
        errno = ENOENT;
        return -1;
    }
    int m = F_OK;
    if (mode & 2)
        m |= W_OK;
    if (mode & 4)
        m |= R_OK;
    return access(p.c_str(), m);
}

namespace {

// The open(2) flags of an fopen mode; false for a mode fopen would refuse.
bool FlagsOfMode(const char* mode, int& flags) {
    int access;
    switch (mode[0]) {
    case 'r':
        access = O_RDONLY;
        flags = 0;
        break;
    case 'w':
        access = O_WRONLY;
        flags = O_CREAT | O_TRUNC;
        break;
    case 'a':
        access = O_WRONLY;
        flags = O_CREAT | O_APPEND;
        break;
    default:
        return false;
    }
    for (const char* m = mode + 1; *m; ++m) {
        if (*m == '+')
            access = O_RDWR;
        else if (*m == 'x')
            flags |= O_EXCL;
    }
    flags |= access;
    return true;
}

} // namespace

int AfxOpenRegularFile(const char* linuxPath, int flags, unsigned mode) {
    struct stat st;
    if (stat(linuxPath, &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            errno = S_ISDIR(st.st_mode) ? EISDIR : EACCES;
            return -1;
        }
    } else if (errno != ENOENT || !(flags & O_CREAT)) {
        return -1;
    }
    int fd;
    do
        fd = open(linuxPath, flags | O_NONBLOCK | O_CLOEXEC, static_cast<mode_t>(mode));
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return -1;
    // What was opened may not be what was looked at: the entry can be replaced in between.
    struct stat opened;
    if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        const bool folder = S_ISDIR(opened.st_mode);
        close(fd);
        errno = folder ? EISDIR : EACCES;
        return -1;
    }
    if (!(flags & O_NONBLOCK))
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

BOOL AfxCreatePrivateDirectoryA(LPCSTR lpPathName) {
    std::string p;
    if (!AfxMapPath(lpPathName, p))
        return FALSE;
    if (mkdir(p.c_str(), 0700) == 0)
        return TRUE;
    const int err = errno;
    struct stat st;
    if (err == EEXIST && lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
        (st.st_mode & 077) != 0)
        chmod(p.c_str(), st.st_mode & 07700);
    SetLastError(err == ENOENT || err == ENOTDIR ? ERROR_PATH_NOT_FOUND : AfxErrnoToWin32(err));
    return FALSE;
}

FILE* win_fopen(const char* path, const char* mode) {
    std::string p;
    int flags = 0;
    if (!mode || !FlagsOfMode(mode, flags)) {
        errno = EINVAL;
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!AfxMapPath(path, p)) {
        errno = ENOENT;
        return nullptr;
    }
    int fd = AfxOpenRegularFile(p.c_str(), flags);
    if (fd < 0) {
        const int err = errno;
        if (err == EISDIR || err == EACCES)
            SetLastError(ERROR_ACCESS_DENIED);
        else
            SetErrorFromErrno(err, p);
        errno = err;
        return nullptr;
    }
    FILE* f = fdopen(fd, mode);
    if (!f) {
        const int err = errno;
        close(fd);
        SetLastError(AfxErrnoToWin32(err));
        errno = err;
    }
    return f;
}
