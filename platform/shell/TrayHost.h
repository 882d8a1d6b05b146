// The notification area as the shell layer sees it: a host that shows icons with their tips and
// images and reports the user's clicks on them.
//
// Shell_NotifyIconA keeps the program's icons and tells the installed host what to show; the
// host reports clicks through TrayIconNotify, which posts the icon's callback message to its
// window, so the program handles the click from its own message loop and may open a menu there.
// With no host installed there is no notification area: adding an icon fails and the program
// goes on without one. The GTK presenter installs the real host; tests install the headless one.
// All calls are made on the user-interface thread; the icon table has its own lock, which is
// never held while the host is called.
#pragma once

#include "platform/user/WinUser.h"

#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace afxshell {

// One icon as the host shows it.
struct TrayIconInfo {
    HWND hWnd = nullptr; // the window its notifications go to; with uID, the icon's identity
    UINT uID = 0;
    HICON hIcon = nullptr; // null until the program gives one
    std::string tip;       // ANSI code page, at most 127 bytes, never a split character
};

class ITrayHost {
public:
    virtual ~ITrayHost() = default;
    // Whether a notification area is there right now.
    virtual bool IsAvailable() = 0;
    // Each returns false when the area refuses; the program's icon is then not shown.
    virtual bool AddIcon(const TrayIconInfo& icon) = 0;
    virtual bool ModifyIcon(const TrayIconInfo& icon) = 0; // the icon's whole new state
    virtual bool DeleteIcon(HWND hWnd, UINT uID) = 0;
};

// Installs host (null: no notification area, the default) and returns the one it replaces.
// The caller keeps ownership; uninstall a host before destroying it.
ITrayHost* SetTrayHost(ITrayHost* host);
ITrayHost* CurrentTrayHost();

// The user clicked an icon: mouseMessage is WM_RBUTTONUP, WM_LBUTTONDBLCLK or another mouse
// message. Posts the icon's callback message to its window (wParam the icon id, the low word of
// lParam the mouse message). False for an icon the program has not added, or one added without
// a callback message.
bool TrayIconNotify(HWND hWnd, UINT uID, UINT mouseMessage);

// A notification area in memory: it keeps what it was told, in order, and clicks are made on it
// by calling Click. Available unless told otherwise.
class HeadlessTrayHost : public ITrayHost {
public:
    struct Call {
        DWORD message; // NIM_ADD, NIM_MODIFY or NIM_DELETE
        TrayIconInfo icon;
    };

    void SetAvailable(bool available);
    std::vector<Call> Calls() const;
    // The icon as shown now, or nothing when it is not in the area.
    std::optional<TrayIconInfo> Icon(HWND hWnd, UINT uID) const;
    // A click on an icon the area shows; false when it shows no such icon.
    bool Click(HWND hWnd, UINT uID, UINT mouseMessage);

    bool IsAvailable() override;
    bool AddIcon(const TrayIconInfo& icon) override;
    bool ModifyIcon(const TrayIconInfo& icon) override;
    bool DeleteIcon(HWND hWnd, UINT uID) override;

private:
    mutable std::mutex m_mutex;
    bool m_available = true;
    std::vector<Call> m_calls;
    std::vector<TrayIconInfo> m_shown;
};

} // namespace afxshell
