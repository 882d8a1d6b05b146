// The messages workers and pages send to the main window: the application event with its codes
// and payload record, and the one target they are all sent through.
#pragma once

#include "platform/afx.h"
#include "platform/user/WinUser.h"

#include <condition_variable>
#include <mutex>

#define WM_APP_EVENT 20000
#define WM_WIDI_CONNECT 0x8005

// Event codes of WM_APP_EVENT (wParam).
#define EVT_DOWNLOAD_FILE 6001
#define EVT_READ_ONLINE 6002
#define EVT_USER_LOGIN 6003
#define EVT_USER_LOGOFF 6004
#define EVT_GO_SHELF 6005
#define EVT_USER_MODE 6007
#define EVT_READ_LOCAL 7001
#define EVT_CLOSE_READER 8500
#define EVT_CLOSE_FLASH 8501
#define EVT_DOWNLOAD_PROGRESS 9001
#define EVT_DOWNLOAD_STARTED 10001
#define EVT_DOWNLOAD_FAILED 10002
#define EVT_ITEM_REQUEST_FAILED 10003
#define EVT_DOWNLOAD_ADDED 10004
#define EVT_DOWNLOAD_EXISTS 10005

// Three strings carried as the lParam of WM_APP_EVENT; the sender owns it for the call only.
class CMsgInfo {
public:
    CString m_strParam1;
    CString m_strParam2;
    CString m_strParam3;
};

// Where application events go. The main window sets its handle once it exists; at exit it clears
// it, after which every send returns 0 at once, and ReleaseSenders lets the senders already
// waiting inside SendMessage finish, so no worker is left blocked on a window that is going away.
class CMainDlgTarget {
public:
    CMainDlgTarget() = default;
    CMainDlgTarget(const CMainDlgTarget&) = delete;
    CMainDlgTarget& operator=(const CMainDlgTarget&) = delete;

    void Set(HWND hWnd);
    HWND GetSafeHwnd() const;
    // Stops new sends; senders already inside SendMessage are still waiting afterwards.
    void Clear();
    // SendMessage to the window, or 0 when there is none. Never holds the lock while it waits.
    LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT SendEvent(WPARAM code, LPARAM payload) { return Send(WM_APP_EVENT, code, payload); }
    // On the window's own thread, after Clear: handles the messages sent to it until no sender
    // waits any more, or the time is up. TRUE when none is left.
    BOOL ReleaseSenders(DWORD dwMilliseconds);
    int GetWaitingSenders() const;

private:
    mutable std::mutex m_lock;
    std::condition_variable m_idle;
    HWND m_hWnd = nullptr;
    int m_nSending = 0;
};

extern CMainDlgTarget g_pMainDlg;
