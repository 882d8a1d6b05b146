#include "platform/shell/FolderPicker.h"
#include "platform/shell/ShellApi.h"

#include "platform/kernel/CodePage.h"
#include "platform/kernel/FileSys.h"
#include "platform/kernel/WinError.h"

#include <cstdlib>
#include <cstring>
#include <new>

// What SHBrowseForFolderA hands out: the chosen folder as the picker said it. The Windows form is
// made only when the program asks for it, so that a folder the ANSI code page cannot hold fails
// there instead of passing on a garbled path.
struct ITEMIDLIST {
    unsigned magic;
    char linuxPath[1]; // zero-terminated, as long as it needs
};

namespace {

constexpr unsigned kMagic = 0x4C444946; // "FIDL"

const char* LastComponent(const std::string& winPath) {
    size_t last = std::string::npos;
    for (size_t i = 0; i < winPath.size(); ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(winPath[i])) && i + 1 < winPath.size())
            ++i;
        else if (winPath[i] == '\\' && i + 1 < winPath.size())
            last = i;
    }
    return winPath.c_str() + (last == std::string::npos ? 0 : last + 1);
}

} // namespace

PIDLIST_ABSOLUTE SHBrowseForFolderA(LPBROWSEINFOA lpbi) {
    if (!lpbi) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    afxshell::IFolderPicker* picker = afxshell::CurrentFolderPicker();
    if (!picker)
        return nullptr;
    afxshell::FolderQuestion q;
    q.hOwner = lpbi->hwndOwner;
    q.title = lpbi->lpszTitle ? lpbi->lpszTitle : "";
    q.flags = lpbi->ulFlags;
    std::optional<std::string> answer = picker->ChooseFolder(q);
    if (!answer || answer->empty())
        return nullptr;
    // The program adds its own trailing separator and takes one already there for a root.
    while (answer->size() > 1 && answer->back() == '/')
        answer->pop_back();
    void* block = std::malloc(offsetof(ITEMIDLIST, linuxPath) + answer->size() + 1);
    if (!block)
        return nullptr;
    auto* pidl = static_cast<ITEMIDLIST*>(block);
    pidl->magic = kMagic;
    std::memcpy(pidl->linuxPath, answer->c_str(), answer->size() + 1);
    if (lpbi->pszDisplayName) {
        std::string win;
        if (!AfxUnmapPath(answer->c_str(), win))
            win.clear(); // no half-converted name either
        const char* name = LastComponent(win);
        size_t n = std::min<size_t>(std::strlen(name), MAX_PATH - 1);
        // Never end the name on half a character.
        size_t end = 0;
        for (size_t i = 0; i < n;) {
            size_t step = IsDBCSLeadByte(static_cast<BYTE>(name[i])) ? 2 : 1;
            if (i + step > n)
                break;
            i += step;
            end = i;
        }
        std::memcpy(lpbi->pszDisplayName, name, end);
        lpbi->pszDisplayName[end] = '\0';
    }
    return pidl;
}

BOOL SHGetPathFromIDListA(PCIDLIST_ABSOLUTE pidl, LPSTR pszPath) {
    if (!pszPath)
        return FALSE;
    pszPath[0] = '\0';
    if (!pidl || pidl->magic != kMagic)
        return FALSE;
    std::string win;
    if (!AfxUnmapPath(pidl->linuxPath, win) || win.size() >= MAX_PATH)
        return FALSE;
    std::memcpy(pszPath, win.c_str(), win.size() + 1);
    return TRUE;
}

void ILFree(PIDLIST_ABSOLUTE pidl) {
    std::free(pidl);
}

void CoTaskMemFree(LPVOID pv) {
    std::free(pv);
}
