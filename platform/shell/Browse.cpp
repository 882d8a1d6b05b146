#include "platform/shell/FolderPicker.h"
#include "platform/shell/ShellApi.h"

#include "platform/kernel/CodePage.h"
#include "platform/kernel/FileSys.h"
#include "platform/kernel/WinError.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

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
    LPITEMIDLIST pidl = AfxMakeIdList(*answer);
    if (!pidl)
        return nullptr;
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

void CoTaskMemFree(LPVOID pv) {
    std::free(pv);
}
