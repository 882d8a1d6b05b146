// The shell calls the program makes: the notification-area icon, the folder browser and the
// taskbar verbs' record.
//
// User-interface thread, like the program's callers. Shell_NotifyIconA speaks to the tray host of
// TrayHost.h and the folder browser to the picker of FolderPicker.h; both work headless.
#pragma once

#include "platform/kernel/ShellFolders.h"
#include "platform/user/WinUser.h"

#include <string>
#include <vector>

#define NIM_ADD 0x00000000u
#define NIM_MODIFY 0x00000001u
#define NIM_DELETE 0x00000002u

#define NIF_MESSAGE 0x00000001u
#define NIF_ICON 0x00000002u
#define NIF_TIP 0x00000004u

// The whole structure, so that code which zeroes it and fills a few fields finds every field.
// Only cbSize, hWnd, uID, uFlags, uCallbackMessage, hIcon and szTip are read.
struct NOTIFYICONDATAA {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    CHAR szTip[128];
    DWORD dwState;
    DWORD dwStateMask;
    CHAR szInfo[256];
    union {
        UINT uTimeout;
        UINT uVersion;
    };
    CHAR szInfoTitle[64];
    DWORD dwInfoFlags;
    BYTE guidItem[16]; // a GUID; never read
    HICON hBalloonIcon;
};
using PNOTIFYICONDATAA = NOTIFYICONDATAA*;

// NIM_ADD fails when there is no notification area or the icon (hWnd, uID) is already there;
// NIM_MODIFY changes the fields its flags name; NIM_DELETE works after the window is gone. The
// tip is read up to its terminating zero or the end of szTip, whichever comes first, and holds
// at most 127 bytes, cut before a character that does not fit whole.
BOOL Shell_NotifyIconA(DWORD dwMessage, PNOTIFYICONDATAA lpData);
inline BOOL Shell_NotifyIcon(DWORD dwMessage, PNOTIFYICONDATAA lpData) {
    return Shell_NotifyIconA(dwMessage, lpData);
}

// ---------------------------------------------------------------------------------------
// The folder browser.

#define BIF_RETURNONLYFSDIRS 0x00000001u
#define BIF_DONTGOBELOWDOMAIN 0x00000002u
#define BIF_EDITBOX 0x00000010u
#define BIF_VALIDATE 0x00000020u
#define BIF_NEWDIALOGSTYLE 0x00000040u
#define BIF_USENEWUI (BIF_NEWDIALOGSTYLE | BIF_EDITBOX)

// The chosen folder comes back as the kernel's identifier list (ShellFolders.h), read with
// SHGetPathFromIDListA and freed with CoTaskMemFree or ILFree.

using BFFCALLBACK = int (*)(HWND hwnd, UINT uMsg, LPARAM lParam, LPARAM lpData);

// The callback hears BFFM_INITIALIZED before the question is asked; sending BFFM_SETSELECTIONA
// (wParam TRUE, lParam the folder's path in the program's form) to the window it is given opens
// the question on that folder.
#define BFFM_INITIALIZED 1
#define BFFM_SETSELECTIONA (WM_USER + 102)

struct BROWSEINFOA {
    HWND hwndOwner;
    PCIDLIST_ABSOLUTE pidlRoot;
    LPSTR pszDisplayName; // MAX_PATH bytes: receives the chosen folder's own name
    LPCSTR lpszTitle;
    UINT ulFlags;
    BFFCALLBACK lpfn;
    LPARAM lParam;
    int iImage;
};
using LPBROWSEINFOA = BROWSEINFOA*;

// Asks the installed folder picker (FolderPicker.h) with the title and flags, opened on the folder
// the callback selects at BFFM_INITIALIZED; the root is not used. Null when the user cancels or
// no picker is installed.
PIDLIST_ABSOLUTE SHBrowseForFolderA(LPBROWSEINFOA lpbi);
inline PIDLIST_ABSOLUTE SHBrowseForFolder(LPBROWSEINFOA lpbi) {
    return SHBrowseForFolderA(lpbi);
}
void CoTaskMemFree(LPVOID pv);

// ---------------------------------------------------------------------------------------
// The taskbar verbs.

// ShellExecuteA with "TaskbarPin" or "TaskbarunPin" (any case): Linux desktops have no such
// verbs, so the request is written down here and nothing else happens. The result is above 32
// when the file exists. Any other verb but "open" has no association.
struct TaskbarVerbRequest {
    std::string verb; // as the program spelt it
    std::string file; // Windows form, as given
};
std::vector<TaskbarVerbRequest> AfxTaskbarVerbRequests();
