// CTrayIcon: the program's one icon in the notification area, with its tip, and the two things
// a user does there: a right click opens the icon's menu (the menu resource whose id is the icon
// id) at the cursor, a left double click brings the window back.
//
// The shell reports clicks as the callback message posted to the window, whose handler passes
// them to OnTrayNotification. Without a notification area Create fails and the program goes on
// without an icon. The tip holds at most 127 bytes, cut before a character that does not fit
// whole. User-interface thread only.
#pragma once

#include "platform/afx.h"
#include "platform/shell/ShellApi.h"

inline constexpr UINT WM_TRAY_NOTIFY = 0x7E9;

class CTrayIcon : public CObject {
    DECLARE_DYNAMIC(CTrayIcon)
public:
    CTrayIcon();
    ~CTrayIcon() override;
    CTrayIcon(const CTrayIcon&) = delete;
    CTrayIcon& operator=(const CTrayIcon&) = delete;

    // FALSE, leaving the icon disabled, for a missing window or when the shell refuses the icon.
    BOOL Create(CWnd* pWnd, UINT uCallbackMessage, LPCSTR szTip, HICON hIcon, UINT uID, UINT uUnused);
    // FALSE when the icon is not there or the shell refuses.
    BOOL SetTooltipText(LPCSTR szTip);
    void RemoveIcon();
    BOOL IsEnabled() const { return m_bEnabled; }

    // The low word of lParam is the mouse message; 0 when the menu cannot be shown, else 1.
    virtual LRESULT OnTrayNotification(WPARAM wParam, LPARAM lParam);

protected:
    BOOL m_bEnabled;
    NOTIFYICONDATAA m_nid;

private:
    void CopyTip(LPCSTR szTip);
};
