#include "platform/kernel/ShellFolders.h"
#include "platform/kernel/FileSys.h"
#include "platform/kernel/WinError.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

std::string AfxGetHomeFolder() {
    const char* h = std::getenv("HOME");
    if (h && *h)
        return h;
    if (passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && *pw->pw_dir)
        return pw->pw_dir;
    return "";
}

std::string AfxGetXdgFolder(const char* envName, const char* homeRelative) {
    const char* x = std::getenv(envName);
    if (x && x[0] == '/')
        return x;
    std::string home = AfxGetHomeFolder();
    return home.empty() ? "" : home + "/" + homeRelative;
}

namespace {

bool IsPrivateFolder(const struct stat& st) {
    return S_ISDIR(st.st_mode) && st.st_uid == getuid() && (st.st_mode & 077) == 0;
}

} // namespace

std::string AfxGetRuntimeFolder() {
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    struct stat st;
    if (xdg && xdg[0] == '/' && stat(xdg, &st) == 0 && IsPrivateFolder(st))
        return xdg;
    std::string dir = "/tmp/afx-runtime-" + std::to_string(getuid());
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return "";
    return lstat(dir.c_str(), &st) == 0 && IsPrivateFolder(st) ? dir : "";
}

namespace {

bool IsDir(const std::string& p) {
    struct stat st;
    return !p.empty() && stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirs(const std::string& dir) {
    for (size_t i = 1; i <= dir.size(); ++i)
        if (i == dir.size() || dir[i] == '/')
            mkdir(dir.substr(0, i).c_str(), 0700);
    return IsDir(dir);
}

std::string DataHome() {
    return AfxGetXdgFolder("XDG_DATA_HOME", ".local/share");
}

// XDG_DESKTOP_DIR from user-dirs.dirs ("$HOME/Desktop" or an absolute path), else ~/Desktop.
std::string DesktopDir() {
    std::string home = AfxGetHomeFolder();
    std::string config = AfxGetXdgFolder("XDG_CONFIG_HOME", ".config");
    std::ifstream f(config.empty() ? "" : config + "/user-dirs.dirs");
    std::string line;
    while (std::getline(f, line)) {
        size_t b = line.find_first_not_of(" \t");
        if (b == std::string::npos || line.compare(b, 16, "XDG_DESKTOP_DIR=") != 0)
            continue;
        std::string v = line.substr(b + 16);
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
            v = v.substr(1, v.size() - 2);
        if (v.compare(0, 5, "$HOME") == 0)
            v = home + v.substr(5);
        if (v.empty() || v[0] != '/')
            continue;
        // A desktop that is the home folder itself means the user has none.
        return v == home || v == home + "/" ? "" : v;
    }
    return home.empty() ? "" : home + "/Desktop";
}

// The folder's Linux path, "" when it is unknown.
std::string FolderFor(int csidl, bool create) {
    switch (csidl & 0xFF) {
    case CSIDL_APPDATA:
    case CSIDL_LOCAL_APPDATA: {
        std::string d = DataHome();
        return !d.empty() && MakeDirs(d) ? d : "";
    }
    case CSIDL_DESKTOP:
    case CSIDL_DESKTOPDIRECTORY: {
        std::string d = DesktopDir();
        if (create && !d.empty())
            MakeDirs(d);
        return IsDir(d) ? d : "";
    }
    case CSIDL_PERSONAL: {
        std::string d = AfxGetHomeFolder();
        return IsDir(d) ? d : "";
    }
    default:
        return "";
    }
}

} // namespace

struct ITEMIDLIST {
    unsigned magic;
    char linuxPath[1]; // zero-terminated, as long as it needs
};

namespace {
constexpr unsigned kIdListMagic = 0x4C444946; // "FIDL"
}

LPITEMIDLIST AfxMakeIdList(const std::string& linuxPath) {
    void* block = std::malloc(offsetof(ITEMIDLIST, linuxPath) + linuxPath.size() + 1);
    if (!block)
        return nullptr;
    auto* pidl = static_cast<ITEMIDLIST*>(block);
    pidl->magic = kIdListMagic;
    std::memcpy(pidl->linuxPath, linuxPath.c_str(), linuxPath.size() + 1);
    return pidl;
}

HRESULT SHGetSpecialFolderLocation(void* hwndOwner, int nFolder, LPITEMIDLIST* ppidl) {
    (void)hwndOwner;
    if (!ppidl)
        return E_INVALIDARG;
    *ppidl = nullptr;
    std::string d = FolderFor(nFolder, false);
    if (d.empty())
        return E_FAIL;
    *ppidl = AfxMakeIdList(d);
    return *ppidl ? S_OK : E_FAIL;
}

BOOL SHGetPathFromIDListA(LPCITEMIDLIST pidl, LPSTR pszPath) {
    if (!pszPath)
        return FALSE;
    pszPath[0] = '\0';
    if (!pidl || pidl->magic != kIdListMagic)
        return FALSE;
    std::string win;
    if (!AfxUnmapPath(pidl->linuxPath, win) || win.size() >= MAX_PATH)
        return FALSE;
    std::memcpy(pszPath, win.c_str(), win.size() + 1);
    return TRUE;
}

void ILFree(LPITEMIDLIST pidl) {
    std::free(pidl);
}

HRESULT SHGetFolderPathA(void* hwnd, int csidl, HANDLE hToken, DWORD dwFlags, LPSTR pszPath) {
    (void)hwnd;
    (void)hToken;
    (void)dwFlags;
    if (!pszPath)
        return E_INVALIDARG;
    pszPath[0] = '\0';
    std::string d = FolderFor(csidl, (csidl & CSIDL_FLAG_CREATE) != 0);
    if (d.empty())
        return E_FAIL;
    std::string w = AfxUnmapPath(d);
    if (w.size() >= MAX_PATH)
        return E_FAIL;
    std::memcpy(pszPath, w.c_str(), w.size() + 1);
    return S_OK;
}

BOOL SHGetSpecialFolderPathA(void* hwnd, LPSTR pszPath, int csidl, BOOL fCreate) {
    return SUCCEEDED(SHGetFolderPathA(hwnd, csidl | (fCreate ? CSIDL_FLAG_CREATE : 0), nullptr, 0, pszPath));
}
