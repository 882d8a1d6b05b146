// The shell calls the program makes: the notification-area icon, the folder browser and the
// taskbar verbs' record.
//
// User-interface thread, like the program's callers. Shell_NotifyIconA speaks to the tray host of
// TrayHost.h and the folder browser to the picker of FolderPicker.h; both work headless.
#pragma once

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
