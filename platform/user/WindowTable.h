// The window kernel's own records: one per window, and the state shared by all windows of the
// process (top-level z-order, active, focus and capture windows, pointer tracking).
//
// Every record and the shared state are guarded by one mutex, TableMutex(). Code holds it only
// to read or change records, never while it calls a window procedure, the presenter or the
// queue half, so handlers may call back into the kernel freely. Internal to platform/user.
#pragma once

#include "platform/user/WinUser.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

typedef struct _cairo_region cairo_region_t;

namespace afxuser {

struct Wnd {
    HWND hwnd = nullptr;
    DWORD tid = 0;
    WNDPROC proc = nullptr;
    LONG_PTR userData = 0;
    LONG_PTR id = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
    HWND parent = nullptr; // children only
    HWND owner = nullptr;  // top-level windows only
    bool destroying = false;
    std::string className;
    UINT classStyle = 0;
    HCURSOR classCursor = nullptr;
    std::string text;
    std::map<std::string, HANDLE> props;
    // In the parent's client coordinates, or the screen's for a top-level window.
    RECT rect{};
    // The normal rectangle while minimized or maximized, and whether a minimized window goes
    // back to maximized.
    RECT restore{};
    bool restoreToMaximized = false;
    std::vector<HWND> children;       // topmost first
    cairo_region_t* update = nullptr; // client coordinates; null when nothing is invalid
    bool erase = false;
    cairo_surface_t* surface = nullptr;
    bool activeCaption = false;
    // WM_SETICON's icons, which the desktop shows for a top-level window.
    HICON iconBig = nullptr;
    HICON iconSmall = nullptr;
    // Hidden by ShowOwnedPopups(owner, FALSE), to come back with ShowOwnedPopups(owner, TRUE).
    bool hiddenWithOwner = false;
    // Of the popups this window owns and itself, the one activated last.
    HWND lastActivePopup = nullptr;
};

// Pointer tracking requested with _TrackMouseEvent.
struct Tracking {
    HWND hwnd = nullptr;
    DWORD flags = 0; // TME_HOVER and TME_LEAVE still pending
    DWORD hoverTime = 0;
    UINT_PTR hoverTimer = 0;
};

struct Desktop {
    std::vector<HWND> topLevel; // topmost first
    HWND active = nullptr;
    HWND focus = nullptr;
    HWND capture = nullptr;
    POINT cursor{0, 0};
    HCURSOR cursorShape = nullptr;
    DWORD buttons = 0; // MK_LBUTTON | MK_RBUTTON held
    Tracking tracking;
    // The system move loop: the window follows the pointer until the button goes up.
    HWND moving = nullptr;
    POINT moveGrab{0, 0}; // pointer minus window origin
};

std::mutex& TableMutex();
inline std::unique_lock<std::mutex> Lock() {
    return std::unique_lock<std::mutex>(TableMutex());
}
// Lock held.
std::shared_ptr<Wnd> FindLocked(HWND h);
Desktop& DesktopLocked();
// Without the lock.
std::shared_ptr<Wnd> Find(HWND h);

// Lock held: the window's top-left corner in screen coordinates.
POINT ScreenOriginLocked(const Wnd& w);
// Lock held: whether the window and all its parents are visible.
bool VisibleLocked(const Wnd& w);
// Lock held: the top-level window a window lies in.
HWND RootLocked(HWND h);
bool IsChildLocked(HWND parent, HWND h);

// Paint half, for the others.
void InvalidateWindow(HWND h, const RECT* rect, bool erase, bool children);
void ResizeSurface(HWND h, int cx, int cy);
void FreePaintState(Wnd& w); // lock held

// Activation half, for input and creation.
void ActivateWindow(HWND h, UINT how);
void OnWindowGone(HWND h); // the window is being destroyed: pass on activation, focus, capture

// Default handling of the system commands and of WM_WINDOWPOSCHANGED (WM_MOVE, WM_SIZE).
LRESULT DefaultSysCommand(HWND h, WPARAM wParam);
void DefaultWindowPosChanged(HWND h, const WINDOWPOS* wp);

// Menu half: shows a top-level window's system menu at a screen point and posts the choice as
// WM_SYSCOMMAND; drops the system menu of a window that is being destroyed.
void ShowSystemMenu(HWND h, POINT screen);
void ForgetSystemMenu(HWND h);

// Input half: forgets pointer tracking and the move loop of a window.
void ForgetInput(HWND h);
LRESULT DefaultSetCursor(HWND h, WPARAM wParam, LPARAM lParam);
LRESULT DefaultMouseActivate(HWND h, WPARAM wParam, LPARAM lParam);
void DefaultNcLButtonDown(HWND h, WPARAM hit, LPARAM screenPoint);

} // namespace afxuser
