// What a screen must do for the window kernel, and how input from a screen enters the kernel.
//
// The kernel owns the windows, their geometry and their backing surfaces; a presenter shows the
// top-level ones. The headless presenter (HeadlessScreen.h) keeps a screen in memory for tests;
// a toolkit presenter makes one real window per top-level window, draws its composed surface
// (ComposeWindow) where it is told the pixels changed, places native widgets over child windows
// itself, and feeds pointer and key events through the Input* calls. The kernel calls the
// presenter on the thread that owns the window concerned (the user-interface thread), never
// while it holds a lock of its own, so a presenter may call back into the kernel.
#pragma once

#include "platform/user/WinUser.h"

#include <vector>

typedef struct _cairo cairo_t;

namespace afxuser {

class IPresenter {
public:
    virtual ~IPresenter() = default;

    // The screen: its size and the work area that maximized windows fill.
    virtual SIZE ScreenSize() = 0;
    virtual RECT WorkArea() = 0;

    // Top-level windows. Created windows start hidden; the rectangle is in screen coordinates.
    virtual void WindowCreated(HWND hWnd) = 0;
    virtual void WindowDestroyed(HWND hWnd) = 0;
    virtual void WindowShown(HWND hWnd, bool visible) = 0;
    virtual void WindowMoved(HWND hWnd, const RECT& rect) = 0;
    virtual void WindowRaised(HWND hWnd) = 0;
    // Pixels of the top-level window changed (rectangle in its own coordinates): its own
    // surface or a child's was painted.
    virtual void WindowDamaged(HWND hWnd, const RECT& rect) = 0;
    // A child window was created, moved, resized, shown, hidden or destroyed. A presenter that
    // places a native widget over a child window reads its rectangle (GetWindowRect) and
    // visibility (IsWindowVisible) again here; the others ignore it.
    virtual void ChildWindowChanged(HWND) {}
    // A top-level window's caption text (GetWindowTextA) or icons (WM_GETICON) changed; a
    // presenter whose desktop shows them (a task bar) reads them again here.
    virtual void WindowTextChanged(HWND) {}
    virtual void WindowIconChanged(HWND) {}
    // The keyboard focus moved to this window (null: to no window). A presenter that places
    // native widgets gives the keyboard to the widget of the focus window, so the keys typed
    // next reach it.
    virtual void FocusChanged(HWND) {}
    // The cursor shape the pointer should show now (a stock cursor of LoadCursor, or null).
    virtual void CursorChanged(HCURSOR hCursor) = 0;
    // Where the pointer is now, in screen coordinates, wherever it is (over another
    // application's window, the tray); false when the presenter cannot say, and GetCursorPos then
    // answers with the point of the last pointer input the kernel routed.
    virtual bool PointerPosition(POINT*) { return false; }

    // Modal questions. Both run on the calling thread and return the answer: the button id of
    // the message box (IDOK, IDCANCEL, ...), the chosen command of the menu or 0.
    virtual int AskMessageBox(HWND hOwner, LPCSTR text, LPCSTR caption, UINT type) = 0;
    virtual UINT ChooseFromMenu(HMENU hMenu, UINT flags, POINT at, HWND hOwner) = 0;

    // A press on HTCAPTION of a top-level window starts the move loop. A presenter whose window
    // manager moves windows itself takes it over and returns true; it then reports the new place
    // with MoveWindow and ends the press it started. False keeps the kernel's own loop.
    virtual bool RunMoveLoop(HWND /*hWnd*/, POINT /*screen*/) { return false; }
};

// The presenter in use; the headless default (a 1024 x 768 screen) until one is installed.
IPresenter& CurrentPresenter();
// Installs p (null: back to the default) and returns the one it replaces.
IPresenter* SetPresenter(IPresenter* p);
// Puts back what SetPresenter returned, unless another presenter was installed since.
void RestorePresenter(IPresenter* current, IPresenter* previous);

// Input, in screen coordinates, queued on the calling thread as the pointer and keys would
// queue it. Each event is routed when a message loop takes it (the main loop, a modal dialog's
// or a menu's), against the windows as they are then: capture, hit test, WM_SETCURSOR,
// WM_MOUSEACTIVATE, then the client or non-client message.
// message is WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK (the second press of
// a double click), WM_RBUTTONDOWN, WM_RBUTTONUP or WM_MOUSEWHEEL (delta in wheelDelta).
void InputMouse(UINT message, POINT screen, int wheelDelta = 0);
// message is WM_KEYDOWN, WM_KEYUP or WM_CHAR, or with Alt held (and not Ctrl) WM_SYSKEYDOWN,
// WM_SYSKEYUP or WM_SYSCHAR; it goes to the focus window, or the active one.
void InputKey(UINT message, UINT vk);
// Another application became active: the active window of ours gets WM_NCACTIVATE(FALSE) and
// WM_ACTIVATE(WA_INACTIVE) and none is active until one of ours is activated again.
void InputAppDeactivated();

// The window manager (its frame, a drag on a corner, another program's request) put a top-level
// window at a rectangle of the screen: the kernel's rectangle follows, within the tracking sizes
// the window gives in WM_GETMINMAXINFO, as the system's sizing frame keeps them. Returns where
// the window is now, which differs from the rectangle asked when the window refused part of it.
RECT FollowManagerRect(HWND hWnd, const RECT& screen);
// The window manager maximized or restored a top-level window: the window gets the system
// command its own frame would send (SC_MAXIMIZE, SC_RESTORE), unless it is in that state already.
void FollowManagerMaximized(HWND hWnd, bool maximized);
// What WM_GETMINMAXINFO answers for the window now, from the defaults of the work area.
MINMAXINFO QueryMinMaxInfo(HWND hWnd);

// Draws a window's surface with its visible children composed over it in z-order, each clipped
// to its parent, with the window's top-left corner at (x, y) of cr.
void ComposeWindow(HWND hWnd, cairo_t* cr, int x, int y);
// A new reference to the window's backing surface (cairo_surface_destroy it), null for none.
cairo_surface_t* WindowSurface(HWND hWnd);
// The visible, not minimized top-level windows, bottom first (the order to draw them in).
std::vector<HWND> VisibleTopLevelWindows();

} // namespace afxuser
