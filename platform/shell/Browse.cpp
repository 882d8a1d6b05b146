#include "platform/shell/FolderPicker.h"
#include "platform/shell/ShellApi.h"

#include "platform/kernel/CodePage.h"
#include "platform/kernel/FileSys.h"
#include "platform/kernel/WinError.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
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

// The folder the program's callback selects, while the callback runs on this thread.
thread_local std::string* t_selection = nullptr;

LRESULT SelectionProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == BFFM_SETSELECTIONA) {
        // Only a path is taken (wParam TRUE); an item list would name the same folder.
        if (t_selection && wParam && lParam)
            *t_selection = reinterpret_cast<LPCSTR>(lParam);
        return 0;
    }
    return DefWindowProcA(hWnd, msg, wParam, lParam);
}

// The folder the callback asks to open on, as a Linux path ("" for none or one that is not there).
std::string StartFolder(LPBROWSEINFOA lpbi) {
    if (!lpbi->lpfn)
        return std::string();
    static std::once_flag once;
    std::call_once(once, [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = &SelectionProc;
        wc.lpszClassName = "AfxBrowseSelection";
        RegisterClassA(&wc);
    });
    // The callback talks to the question's window; a message-only one stands for it here.
    HWND hWnd =
        CreateWindowExA(0, "AfxBrowseSelection", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    std::string selected;
    std::string* outer = t_selection;
    t_selection = &selected;
    lpbi->lpfn(hWnd, BFFM_INITIALIZED, 0, lpbi->lParam);
    t_selection = outer;
    if (hWnd)
        DestroyWindow(hWnd);
    std::string linuxPath;
    const DWORD attributes =
        selected.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(selected.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        !AfxMapPath(selected.c_str(), linuxPath))
        return std::string();
    while (linuxPath.size() > 1 && linuxPath.back() == '/')
        linuxPath.pop_back();
    return linuxPath;
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
    q.start = StartFolder(lpbi);
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
