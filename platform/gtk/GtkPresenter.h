// The screen for real runs: every visible top-level window of the kernel is an undecorated GTK
// window that shows the window's composed surface, and GTK's pointer, key and focus events enter
// the kernel's routing in screen coordinates.
//
// One presenter per process, made and used on the user-interface thread after gtk_init. Install
// makes it the kernel's presenter and ties that thread's message queue to the GLib main context:
// the queue descriptor is one GLib source that serves a bounded batch per wake, and every
// blocking wait of the queue (GetMessage, so the main loop and each modal loop) iterates the main
// context instead of sleeping, so GTK keeps drawing and messages sent from other threads are
// answered inside GTK's own modal loops (message boxes, menus) too. Each top-level window holds
// a fixed container over its drawing, where native widgets (browser views) sit over the
// rectangle of the child window they belong to, kept in step as the child moves, shows or hides.
// The window manager may size and maximize the windows: its configures and state changes reach
// the kernel (FollowManagerRect, FollowManagerMaximized), and the kernel's own sizes and
// maximizing go to it as requests, with the window's tracking sizes as its size hints.
#pragma once

#include "platform/gtk/ClickRule.h"
#include "platform/user/Presenter.h"

#include <map>
#include <memory>
#include <vector>

namespace afxshell {
class ITrayHost;
class IFolderPicker;
} // namespace afxshell

typedef struct _GtkWidget GtkWidget;
typedef struct _GtkWindow GtkWindow;
typedef struct _GdkEventButton GdkEventButton;
typedef struct _GdkEventMotion GdkEventMotion;
typedef struct _GdkEventCrossing GdkEventCrossing;
typedef struct _GdkEventScroll GdkEventScroll;
typedef struct _GdkEventKey GdkEventKey;
typedef struct _GdkEventConfigure GdkEventConfigure;
typedef struct _GdkWindow GdkWindow;

namespace afxgtk {

class CGtkTrayHost;
class CGtkFolderPicker;

class CGtkPresenter : public afxuser::IPresenter {
public:
    CGtkPresenter();
    ~CGtkPresenter() override;
    CGtkPresenter(const CGtkPresenter&) = delete;
    CGtkPresenter& operator=(const CGtkPresenter&) = delete;

    // Makes this the presenter and ties the calling thread's queue to the GLib main context;
    // installs the tray host and the folder picker of GtkShell.h as well. The destructor undoes
    // all of it and closes the GTK windows that are left.
    void Install();
    // The presenter installed now, or null.
    static CGtkPresenter* Installed();
    // Opens the X display for the toolkit (in a Wayland session, the session's XWayland; never
    // a Wayland backend); false when there is none. Call before anything else of the toolkit,
    // on the thread that becomes the user-interface thread.
    static bool InitToolkit(int* argc, char*** argv);
    // The notification area it installed (valid after Install).
    CGtkTrayHost& Tray();

    // The GTK window that shows a top-level window of ours (null for none).
    GtkWindow* NativeWindow(HWND hTop) const;
    // Places a native widget over the child window's rectangle, inside its top-level window's
    // GTK window; the presenter holds a reference and keeps position, size and visibility in
    // step with the child (and the stacking among the widgets with the children's z-order).
    // False when hChild is not a child window of a top-level window of ours.
    bool AttachWidget(HWND hChild, GtkWidget* widget);
    // Takes the widget out again (the widget lives on while others hold it).
    void DetachWidget(HWND hChild);
    // Brings every attached widget of a top-level window in step with its child window now.
    void SyncWidgets(HWND hTop);

    // IPresenter
    SIZE ScreenSize() override;
    RECT WorkArea() override;
    void WindowCreated(HWND hWnd) override;
    void WindowDestroyed(HWND hWnd) override;
    void WindowShown(HWND hWnd, bool visible) override;
    void WindowMoved(HWND hWnd, const RECT& rect) override;
    void WindowRaised(HWND hWnd) override;
    void WindowDamaged(HWND hWnd, const RECT& rect) override;
    void ChildWindowChanged(HWND hWnd) override;
    void WindowTextChanged(HWND hWnd) override;
    void WindowIconChanged(HWND hWnd) override;
    void FocusChanged(HWND hWnd) override;
    void CursorChanged(HCURSOR hCursor) override;
    bool PointerPosition(POINT* at) override;
    int AskMessageBox(HWND hOwner, LPCSTR text, LPCSTR caption, UINT type) override;
    UINT ChooseFromMenu(HMENU hMenu, UINT flags, POINT at, HWND hOwner) override;
    bool RunMoveLoop(HWND hWnd, POINT screen) override;

private:
    struct Top {
        HWND hwnd = nullptr;
        GtkWidget* window = nullptr;
        GtkWidget* fixed = nullptr;
        GtkWidget* area = nullptr;
        RECT rect{};
        bool shown = false;
        // The window manager's word on the window: maximized, and the size of its last configure
        // (0 x 0 before the first).
        bool wmMaximized = false;
        int wmWidth = 0, wmHeight = 0;
        // Our own child windows drawn over an attached widget: each has a drawing area of its
        // own above the widgets, or the widget would hide it.
        std::map<HWND, GtkWidget*> overlays;
    };
    struct Attached {
        HWND top = nullptr;
        GtkWidget* widget = nullptr;
    };

    Top* FindTop(HWND h);
    const Top* FindTop(HWND h) const;
    void Place(Top& t);
    // The window manager's limits for the window: the tracking sizes it gives in
    // WM_GETMINMAXINFO, so the manager's own frame never sizes it beyond them.
    void ApplySizeHints(Top& t);
    // Puts the shown windows owned by hOwner (and theirs) above it, as Windows keeps them: X
    // leaves a window where it was created in the stacking order, whatever is mapped later.
    void RaiseOwned(HWND hOwner);
    // Brings the overlays of a top-level window in step with the children of its attached
    // windows, and keeps them above every widget.
    void SyncOverlays(Top& t);
    void ApplyCursor(Top& t);
    // Holds a pointer grab on the top-level window of the kernel's capture window, if any.
    void SyncGrab();
    // A GTK modal loop took WM_QUIT from the queue: it ends, and the quit is posted again after.
    void EndNestedForQuit(int code);
    void RepostQuit();

    static int OnQueueReady(int fd, unsigned condition, void* self);
    static void WaitInMainContext(int fd, int timeoutMs);
    static int OnDraw(GtkWidget* w, void* cr, void* self);
    static int OnOverlayDraw(GtkWidget* w, void* cr, void* self);
    static int OnButton(GtkWidget* w, GdkEventButton* e, void* self);
    static int OnMotion(GtkWidget* w, GdkEventMotion* e, void* self);
    static int OnLeave(GtkWidget* w, GdkEventCrossing* e, void* self);
    static int OnScroll(GtkWidget* w, GdkEventScroll* e, void* self);
    static int OnKey(GtkWidget* w, GdkEventKey* e, void* self);
    static int OnConfigure(GtkWidget* w, GdkEventConfigure* e, void* self);
    static int OnWindowState(GtkWidget* w, void* e, void* self);
    static int OnDelete(GtkWidget* w, void* e, void* self);
    static void OnActiveChanged(GtkWidget* w, void* pspec, void* self);
    static int OnFocusSettled(void* self);

    std::unique_ptr<CGtkTrayHost> m_tray;
    std::unique_ptr<CGtkFolderPicker> m_picker;
    afxshell::ITrayHost* m_previousTray = nullptr;
    afxshell::IFolderPicker* m_previousPicker = nullptr;
    std::map<HWND, Top> m_tops;
    std::map<HWND, Attached> m_attached;
    unsigned m_source = 0;
    bool m_installed = false;
    DWORD m_uiThread = 0; // the thread that installed it, the only one that may ask GTK
    afxuser::IPresenter* m_previous = nullptr;
    HCURSOR m_cursor = nullptr;
    GdkWindow* m_grabbed = nullptr;
    CClickRule m_clicks;
    unsigned m_lastButtonTime = 0;
    // The last key event, to know it when the engine of a page hands it back.
    unsigned m_lastKeyTime = 0;
    unsigned m_lastKeyCode = 0;
    int m_lastKeyType = 0;
    // Set while a window is moved to where the window manager put it, so the move is not sent
    // back to the window manager.
    bool m_following = false;
    // Whether a window manager moves windows here, as last asked (on showing, on a caption press).
    bool m_wmMoves = false;
    // GTK's modal loops running now (innermost last), each with how to end it.
    std::vector<void*> m_nested;
    // The idle that decides whether the keyboard left for another application.
    unsigned m_deactivation = 0;
    bool m_quitPending = false;
    int m_quitCode = 0;
};

} // namespace afxgtk
