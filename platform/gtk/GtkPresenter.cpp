#include "platform/gtk/GtkPresenter.h"

#include "platform/gtk/GtkShell.h"

#include "platform/kernel/CodePage.h"
#include "platform/user/MsgQueue.h"

#include <X11/Xatom.h>
#include <gdk/gdkx.h>
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <string>

namespace afxgtk {

namespace {

CGtkPresenter* g_installed = nullptr;
// Depth of the queue waits running in the main context now: the queue source leaves the queue
// to the waiting GetMessage then, rather than dispatching behind its back.
thread_local int t_waitDepth = 0;

// Message box types and answers as the program passes and expects them.
constexpr UINT kMbTypeMask = 0x0F, kMbIconMask = 0xF0, kMbDefMask = 0xF00;
constexpr UINT kMbOk = 0, kMbOkCancel = 1, kMbAbortRetryIgnore = 2, kMbYesNoCancel = 3, kMbYesNo = 4,
               kMbRetryCancel = 5;
constexpr UINT kMbIconError = 0x10, kMbIconQuestion = 0x20, kMbIconWarning = 0x30, kMbIconInfo = 0x40;
constexpr int kIdOk = 1, kIdCancel = 2, kIdAbort = 3, kIdRetry = 4, kIdIgnore = 5, kIdYes = 6, kIdNo = 7;

std::string Utf8(LPCSTR ansi) {
    return ansi ? AfxAnsiToUtf8(std::string(ansi)) : std::string();
}

POINT Root(double x, double y) {
    return POINT{static_cast<LONG>(x < 0 ? x - 0.5 : x + 0.5), static_cast<LONG>(y < 0 ? y - 0.5 : y + 0.5)};
}

UINT VirtualKey(guint keyval) {
    if (keyval >= GDK_KEY_a && keyval <= GDK_KEY_z)
        return 'A' + (keyval - GDK_KEY_a);
    if (keyval >= GDK_KEY_A && keyval <= GDK_KEY_Z)
        return 'A' + (keyval - GDK_KEY_A);
    if (keyval >= GDK_KEY_0 && keyval <= GDK_KEY_9)
        return '0' + (keyval - GDK_KEY_0);
    if (keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F12)
        return 0x70 + (keyval - GDK_KEY_F1);
    switch (keyval) {
    case GDK_KEY_BackSpace:
        return VK_BACK;
    case GDK_KEY_Tab:
    case GDK_KEY_ISO_Left_Tab:
        return VK_TAB;
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
        return VK_RETURN;
    case GDK_KEY_Shift_L:
    case GDK_KEY_Shift_R:
        return VK_SHIFT;
    case GDK_KEY_Control_L:
    case GDK_KEY_Control_R:
        return VK_CONTROL;
    case GDK_KEY_Alt_L:
    case GDK_KEY_Alt_R:
        return VK_MENU;
    case GDK_KEY_Escape:
        return VK_ESCAPE;
    case GDK_KEY_space:
        return VK_SPACE;
    case GDK_KEY_Left:
        return VK_LEFT;
    case GDK_KEY_Up:
        return VK_UP;
    case GDK_KEY_Right:
        return VK_RIGHT;
    case GDK_KEY_Down:
        return VK_DOWN;
    default:
        return 0;
    }
}

const char* CursorName(HCURSOR c) {
    struct Entry {
        LPCSTR id;
        const char* name;
    };
    static const Entry kNames[] = {
        {IDC_ARROW, "default"},        {IDC_IBEAM, "text"},           {IDC_WAIT, "wait"},
        {IDC_SIZENWSE, "nwse-resize"}, {IDC_SIZENESW, "nesw-resize"}, {IDC_SIZEWE, "ew-resize"},
        {IDC_SIZENS, "ns-resize"},     {IDC_SIZEALL, "move"},         {IDC_HAND, "pointer"},
    };
    for (const Entry& e : kNames)
        if (LoadCursorA(nullptr, e.id) == c)
            return e.name;
    return "default";
}

// One window id held by a property, or 0.
::Window WindowProperty(Display* x, ::Window w, Atom name) {
    Atom type = 0;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    ::Window out = 0;
    if (XGetWindowProperty(x, w, name, 0, 1, False, XA_WINDOW, &type, &format, &n, &after, &data) ==
            Success &&
        data && n == 1 && format == 32)
        out = *reinterpret_cast<::Window*>(data);
    if (data)
        XFree(data);
    return out;
}

// Whether a window manager that moves windows on request runs now. Asked of the X server each
// time rather than through GDK's answer, which it keeps for a while and which goes stale when the
// window manager is replaced.
bool WindowManagerMoves(GtkWidget* window) {
    GdkDisplay* d = gtk_widget_get_display(window);
    if (!GDK_IS_X11_DISPLAY(d))
        return true; // Wayland compositors always move their windows themselves
    Display* x = gdk_x11_display_get_xdisplay(d);
    ::Window root = gdk_x11_window_get_xid(gdk_screen_get_root_window(gtk_widget_get_screen(window)));
    Atom check = gdk_x11_get_xatom_by_name_for_display(d, "_NET_SUPPORTING_WM_CHECK");
    Atom supported = gdk_x11_get_xatom_by_name_for_display(d, "_NET_SUPPORTED");
    Atom moveResize = gdk_x11_get_xatom_by_name_for_display(d, "_NET_WM_MOVERESIZE");
    bool moves = false;
    gdk_x11_display_error_trap_push(d); // the check window of a window manager that just quit
    ::Window w = WindowProperty(x, root, check);
    if (w && WindowProperty(x, w, check) == w) {
        Atom type = 0;
        int format = 0;
        unsigned long n = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(x, root, supported, 0, 4096, False, XA_ATOM, &type, &format, &n, &after,
                               &data) == Success &&
            data && format == 32) {
            auto* atoms = reinterpret_cast<Atom*>(data);
            moves = std::find(atoms, atoms + n, moveResize) != atoms + n;
        }
        if (data)
            XFree(data);
    }
    gdk_x11_display_error_trap_pop_ignored(d);
    return moves;
}

// Whether a child window and its parents below the top-level window are shown. A widget over it
// stays shown while only the top-level window is hidden: the GTK window goes off the screen with
// its widgets as they are, and the widget with the keyboard keeps it (a page's engine hands back
// a key it did not take to the focus widget, which must still be there when the window is hidden
// meanwhile).
bool ShownInTop(HWND child) {
    for (HWND h = child; h && GetAncestor(h, GA_PARENT); h = GetAncestor(h, GA_PARENT))
        if (!(GetWindowLongPtrA(h, GWL_STYLE) & WS_VISIBLE))
            return false;
    return IsWindow(child) != FALSE;
}

// The monitor our windows are placed on.
GdkMonitor* Monitor() {
    GdkDisplay* d = gdk_display_get_default();
    if (!d)
        return nullptr;
    GdkMonitor* m = gdk_display_get_primary_monitor(d);
    return m ? m : gdk_display_get_monitor(d, 0);
}

// A GTK modal loop of ours, for ending it when WM_QUIT arrives inside it.
struct Nested {
    GtkDialog* dialog = nullptr;
    GtkMenuShell* menu = nullptr;
};

} // namespace

CGtkPresenter::CGtkPresenter() = default;

CGtkPresenter::~CGtkPresenter() {
    if (m_grabbed)
        gdk_seat_ungrab(gdk_display_get_default_seat(gdk_display_get_default()));
    if (m_deactivation)
        g_source_remove(m_deactivation);
    if (m_installed) {
        if (afxshell::CurrentTrayHost() == m_tray.get())
            afxshell::SetTrayHost(m_previousTray);
        if (afxshell::CurrentFolderPicker() == m_picker.get())
            afxshell::SetFolderPicker(m_previousPicker);
        AfxSetThreadQueueWait(nullptr);
        if (m_source)
            g_source_remove(m_source);
        afxuser::SetPresenter(m_previous);
        g_installed = nullptr;
    }
    for (auto& [h, a] : m_attached)
        g_object_unref(a.widget);
    m_attached.clear();
    for (auto& [h, t] : m_tops)
        gtk_widget_destroy(t.window);
    m_tops.clear();
}

void CGtkPresenter::Install() {
    if (m_installed)
        return;
    m_previous = afxuser::SetPresenter(this);
    m_installed = true;
    m_uiThread = GetCurrentThreadId();
    g_installed = this;
    m_source = g_unix_fd_add(AfxGetThreadQueueFd(), G_IO_IN,
                             reinterpret_cast<GUnixFDSourceFunc>(&CGtkPresenter::OnQueueReady), this);
    AfxSetThreadQueueWait(&CGtkPresenter::WaitInMainContext);
    m_tray = std::make_unique<CGtkTrayHost>();
    m_picker = std::make_unique<CGtkFolderPicker>();
    m_previousTray = afxshell::SetTrayHost(m_tray.get());
    m_previousPicker = afxshell::SetFolderPicker(m_picker.get());
}

bool CGtkPresenter::InitToolkit(int* argc, char*** argv) {
    // Windows are placed in screen coordinates and the presenter speaks X11 (the tray, the window
    // manager's move, the stacking), none of which a Wayland surface has. In a Wayland session
    // GTK would choose its Wayland backend, so only X11 is allowed: the program then runs through
    // the X server the session provides (XWayland), and without one it finds no display.
    gdk_set_allowed_backends("x11");
    return gtk_init_check(argc, argv) != FALSE;
}

CGtkPresenter* CGtkPresenter::Installed() {
    return g_installed;
}

CGtkTrayHost& CGtkPresenter::Tray() {
    return *m_tray;
}

// The loop.

int CGtkPresenter::OnQueueReady(int, unsigned, void* p) {
    auto* self = static_cast<CGtkPresenter*>(p);
    if (t_waitDepth > 0)
        return G_SOURCE_CONTINUE; // a GetMessage is waiting: it takes what is queued
    int code = 0;
    if (!AfxPumpPendingMessages(&code))
        self->EndNestedForQuit(code);
    self->SyncGrab();
    return G_SOURCE_CONTINUE;
}

void CGtkPresenter::WaitInMainContext(int, int) {
    // The message that changed the capture was handled since the last wait.
    if (g_installed)
        g_installed->SyncGrab();
    // The queue descriptor (its timers included) is a source of this context, so one blocking
    // iteration returns by the time anything waits for the queue.
    ++t_waitDepth;
    g_main_context_iteration(nullptr, TRUE);
    --t_waitDepth;
}

void CGtkPresenter::SyncGrab() {
    HWND capture = GetCapture();
    Top* t = capture ? FindTop(GetAncestor(capture, GA_ROOT)) : nullptr;
    GdkWindow* g = t && t->shown ? gtk_widget_get_window(t->area) : nullptr;
    if (g == m_grabbed)
        return;
    GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
    if (m_grabbed)
        gdk_seat_ungrab(seat);
    m_grabbed = nullptr;
    // While our kernel has the capture, the pointer's events come to us wherever it is, as
    // they do during a press; the grab ends with the capture.
    if (g && gdk_seat_grab(seat, g, GDK_SEAT_CAPABILITY_ALL_POINTING, FALSE, nullptr, nullptr, nullptr,
                           nullptr) == GDK_GRAB_SUCCESS)
        m_grabbed = g;
}

void CGtkPresenter::EndNestedForQuit(int code) {
    m_quitPending = true;
    m_quitCode = code;
    if (m_nested.empty()) {
        // Nobody of ours runs a loop (the caller iterates GLib itself): leave the quit queued.
        RepostQuit();
        return;
    }
    auto* n = static_cast<Nested*>(m_nested.back());
    if (n->dialog)
        gtk_dialog_response(n->dialog, GTK_RESPONSE_NONE);
    if (n->menu)
        gtk_menu_shell_cancel(n->menu);
}

void CGtkPresenter::RepostQuit() {
    if (!m_quitPending)
        return;
    m_quitPending = false;
    PostQuitMessage(m_quitCode);
}

// Metrics.

SIZE CGtkPresenter::ScreenSize() {
    GdkMonitor* m = Monitor();
    if (!m)
        return SIZE{1024, 768};
    GdkRectangle g;
    gdk_monitor_get_geometry(m, &g);
    return SIZE{g.x + g.width, g.y + g.height};
}

RECT CGtkPresenter::WorkArea() {
    GdkMonitor* m = Monitor();
    if (!m)
        return RECT{0, 0, 1024, 768};
    GdkRectangle g;
    gdk_monitor_get_workarea(m, &g);
    return RECT{g.x, g.y, g.x + g.width, g.y + g.height};
}

// Windows.

CGtkPresenter::Top* CGtkPresenter::FindTop(HWND h) {
    auto it = m_tops.find(h);
    return it == m_tops.end() ? nullptr : &it->second;
}

const CGtkPresenter::Top* CGtkPresenter::FindTop(HWND h) const {
    auto it = m_tops.find(h);
    return it == m_tops.end() ? nullptr : &it->second;
}

GtkWindow* CGtkPresenter::NativeWindow(HWND hTop) const {
    const Top* t = FindTop(hTop);
    return t ? GTK_WINDOW(t->window) : nullptr;
}

void CGtkPresenter::WindowCreated(HWND h) {
    if (FindTop(h))
        return;
    Top t;
    t.hwnd = h;
    GetWindowRect(h, &t.rect);
    t.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWindow* win = GTK_WINDOW(t.window);
    gtk_window_set_decorated(win, FALSE);
    // The window manager may size it (its frame's corners, a maximize): the kernel follows, within
    // the window's tracking sizes, which go to the manager as hints.
    gtk_window_set_resizable(win, TRUE);
    DWORD ex = static_cast<DWORD>(GetWindowLongPtrA(h, GWL_EXSTYLE));
    if (ex & WS_EX_NOACTIVATE)
        gtk_window_set_accept_focus(win, FALSE);
    // An owned window stays above its owner (WM_TRANSIENT_FOR), and, as on Windows, only an
    // unowned window or one that asks for it has a button of its own on the task bar.
    if (HWND owner = GetWindow(h, GW_OWNER)) {
        if (const Top* o = FindTop(owner))
            gtk_window_set_transient_for(win, GTK_WINDOW(o->window));
        if (!(ex & WS_EX_APPWINDOW))
            gtk_window_set_skip_taskbar_hint(win, TRUE);
    }
    // The drawing fills the window and asks for no size of its own, so that the window's smallest
    // size is the one its hints give; the fixed with the native widgets lies over it and lets
    // the pointer through to it where no widget is.
    GtkWidget* overlay = gtk_overlay_new();
    t.fixed = gtk_fixed_new();
    t.area = gtk_drawing_area_new();
    gtk_widget_set_hexpand(t.area, TRUE);
    gtk_widget_set_vexpand(t.area, TRUE);
    gtk_widget_set_can_focus(t.area, TRUE);
    gtk_widget_add_events(t.area, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK |
                                      GDK_LEAVE_NOTIFY_MASK | GDK_SCROLL_MASK | GDK_KEY_PRESS_MASK |
                                      GDK_KEY_RELEASE_MASK);
    gtk_container_add(GTK_CONTAINER(overlay), t.area);
    gtk_overlay_add_overlay(GTK_OVERLAY(overlay), t.fixed);
    gtk_overlay_set_overlay_pass_through(GTK_OVERLAY(overlay), t.fixed, TRUE);
    gtk_container_add(GTK_CONTAINER(t.window), overlay);
    g_object_set_data(G_OBJECT(t.window), "afx-hwnd", h);
    g_object_set_data(G_OBJECT(t.area), "afx-hwnd", h);
    g_signal_connect(t.area, "draw", G_CALLBACK(&CGtkPresenter::OnDraw), this);
    g_signal_connect(t.area, "button-press-event", G_CALLBACK(&CGtkPresenter::OnButton), this);
    g_signal_connect(t.area, "button-release-event", G_CALLBACK(&CGtkPresenter::OnButton), this);
    g_signal_connect(t.area, "motion-notify-event", G_CALLBACK(&CGtkPresenter::OnMotion), this);
    g_signal_connect(t.area, "leave-notify-event", G_CALLBACK(&CGtkPresenter::OnLeave), this);
    g_signal_connect(t.area, "scroll-event", G_CALLBACK(&CGtkPresenter::OnScroll), this);
    g_signal_connect(t.window, "key-press-event", G_CALLBACK(&CGtkPresenter::OnKey), this);
    g_signal_connect(t.window, "key-release-event", G_CALLBACK(&CGtkPresenter::OnKey), this);
    g_signal_connect(t.window, "configure-event", G_CALLBACK(&CGtkPresenter::OnConfigure), this);
    g_signal_connect(t.window, "window-state-event", G_CALLBACK(&CGtkPresenter::OnWindowState), this);
    g_signal_connect(t.window, "delete-event", G_CALLBACK(&CGtkPresenter::OnDelete), this);
    g_signal_connect(t.window, "notify::is-active", G_CALLBACK(&CGtkPresenter::OnActiveChanged), this);
    gtk_widget_show(t.fixed);
    gtk_widget_show(t.area);
    gtk_widget_show(overlay);
    auto& stored = m_tops[h] = t;
    Place(stored);
    // A new window has its caption already; its icons come later, by WM_SETICON.
    WindowTextChanged(h);
}

void CGtkPresenter::WindowTextChanged(HWND h) {
    Top* t = FindTop(h);
    if (!t)
        return;
    // The caption is the window's name on the task bar and in the window manager's lists.
    char title[256] = {0};
    GetWindowTextA(h, title, sizeof title);
    gtk_window_set_title(GTK_WINDOW(t->window), Utf8(title).c_str());
}

void CGtkPresenter::WindowIconChanged(HWND h) {
    Top* t = FindTop(h);
    if (!t)
        return;
    auto icon = [h](WPARAM which) { return reinterpret_cast<HICON>(SendMessageA(h, WM_GETICON, which, 0)); };
    HICON small = icon(ICON_SMALL), big = icon(ICON_BIG);
    if (!big)
        big = small;
    if (!small)
        small = big;
    // The desktop picks the size it shows from the list (_NET_WM_ICON).
    GList* list = nullptr;
    for (auto [hIcon, size] : {std::pair{small, 16}, std::pair{big, 32}, std::pair{big, 48}})
        if (GdkPixbuf* pb = CGtkTrayHost::IconPixbuf(hIcon, size))
            list = g_list_append(list, pb);
    gtk_window_set_icon_list(GTK_WINDOW(t->window), list);
    g_list_free_full(list, g_object_unref);
}

void CGtkPresenter::FocusChanged(HWND h) {
    // The focus window's native widget takes GTK's focus inside its window, so the keys typed
    // there reach it (a page's view); the focus on one of our own windows leaves GTK's alone, as
    // a widget the user clicked into keeps the keys the kernel routes to its window's dialog.
    auto it = h ? m_attached.find(h) : m_attached.end();
    if (it == m_attached.end())
        return;
    // GTK gives the focus to a shown widget only, and a child just shown may not have shown its
    // widget yet.
    GtkWidget* widget = it->second.widget;
    SyncWidgets(it->second.top);
    const Top* t = FindTop(GetAncestor(h, GA_ROOT));
    if (t && gtk_widget_get_parent(widget) == t->fixed)
        gtk_widget_grab_focus(widget);
}

void CGtkPresenter::WindowDestroyed(HWND h) {
    for (auto it = m_attached.begin(); it != m_attached.end();) {
        if (it->first == h || it->second.top == h) {
            if (GtkWidget* parent = gtk_widget_get_parent(it->second.widget))
                gtk_container_remove(GTK_CONTAINER(parent), it->second.widget);
            g_object_unref(it->second.widget);
            it = m_attached.erase(it);
        } else {
            ++it;
        }
    }
    auto it = m_tops.find(h);
    if (it == m_tops.end())
        return;
    if (m_grabbed && m_grabbed == gtk_widget_get_window(it->second.area)) {
        gdk_seat_ungrab(gdk_display_get_default_seat(gdk_display_get_default()));
        m_grabbed = nullptr;
    }
    GtkWidget* w = it->second.window;
    for (auto& [child, area] : it->second.overlays)
        g_object_unref(area);
    m_tops.erase(it);
    gtk_widget_destroy(w);
}

void CGtkPresenter::ApplySizeHints(Top& t) {
    if (!IsWindow(t.hwnd))
        return;
    MINMAXINFO mmi = afxuser::QueryMinMaxInfo(t.hwnd);
    GdkGeometry g{};
    g.min_width = std::max<int>(1, mmi.ptMinTrackSize.x);
    g.min_height = std::max<int>(1, mmi.ptMinTrackSize.y);
    // No largest size: a manager that maximizes within its work area must not be held below it.
    gtk_window_set_geometry_hints(GTK_WINDOW(t.window), nullptr, &g, GDK_HINT_MIN_SIZE);
}

void CGtkPresenter::Place(Top& t) {
    int w = std::max<int>(1, t.rect.right - t.rect.left);
    int h = std::max<int>(1, t.rect.bottom - t.rect.top);
    const bool zoomed = IsZoomed(t.hwnd) != FALSE;
    if (IsIconic(t.hwnd)) {
        // Hidden while minimized (WindowMoved): its place on the screen is the one it comes back to.
        SyncWidgets(t.hwnd);
        return;
    }
    ApplySizeHints(t);
    // The kernel's maximize is the manager's to carry out, so that the manager knows the window
    // is maximized (its own restore, no moving it about); without a manager the size and place
    // below do it.
    if (zoomed && !t.wmMaximized)
        gtk_window_maximize(GTK_WINDOW(t.window));
    else if (!zoomed && t.wmMaximized)
        gtk_window_unmaximize(GTK_WINDOW(t.window));
    // A maximized window is where the manager keeps it; a size the manager has just given is not
    // asked for again.
    if (!t.wmMaximized || !zoomed) {
        if (!(m_following && w == t.wmWidth && h == t.wmHeight))
            gtk_window_resize(GTK_WINDOW(t.window), w, h);
        if (!m_following)
            gtk_window_move(GTK_WINDOW(t.window), t.rect.left, t.rect.top);
    }
    SyncWidgets(t.hwnd);
}

void CGtkPresenter::WindowShown(HWND h, bool visible) {
    Top* t = FindTop(h);
    if (!t)
        return;
    if (visible && IsIconic(h))
        visible = false; // a minimized window has no place on the screen
    t->shown = visible;
    if (visible) {
        m_wmMoves = WindowManagerMoves(t->window);
        // The place asked before the window maps goes out as the user's position, which a
        // window manager keeps instead of choosing its own; it is asked again once the window
        // is mapped, for window managers that place first and honour moves afterwards.
        gtk_window_move(GTK_WINDOW(t->window), t->rect.left, t->rect.top);
        gtk_widget_show(t->window);
        gtk_window_move(GTK_WINDOW(t->window), t->rect.left, t->rect.top);
        ApplyCursor(*t);
        if (GetWindow(h, GW_OWNER))
            if (GdkWindow* g = gtk_widget_get_window(t->window))
                gdk_window_raise(g);
        RaiseOwned(h);
    } else {
        gtk_widget_hide(t->window);
    }
}

void CGtkPresenter::WindowMoved(HWND h, const RECT& rect) {
    Top* t = FindTop(h);
    if (!t)
        return;
    t->rect = rect;
    Place(*t);
    if (IsIconic(h) && t->shown)
        WindowShown(h, false);
    else if (!IsIconic(h) && !t->shown && IsWindowVisible(h))
        WindowShown(h, true);
}

void CGtkPresenter::WindowRaised(HWND h) {
    Top* t = FindTop(h);
    if (!t || !t->shown)
        return;
    if (GetActiveWindow() == h && gtk_widget_get_realized(t->window) &&
        gtk_window_get_accept_focus(GTK_WINDOW(t->window)))
        gtk_window_present_with_time(GTK_WINDOW(t->window), gtk_get_current_event_time());
    else if (GdkWindow* g = gtk_widget_get_window(t->window))
        gdk_window_raise(g);
    RaiseOwned(h);
}

void CGtkPresenter::RaiseOwned(HWND hOwner) {
    for (auto& [h, t] : m_tops) {
        if (h == hOwner || !t.shown || GetWindow(h, GW_OWNER) != hOwner)
            continue;
        if (GdkWindow* g = gtk_widget_get_window(t.window))
            gdk_window_raise(g);
        RaiseOwned(h);
    }
}

void CGtkPresenter::WindowDamaged(HWND h, const RECT& r) {
    Top* t = FindTop(h);
    if (!t)
        return;
    gtk_widget_queue_draw_area(t->area, r.left, r.top, r.right - r.left, r.bottom - r.top);
    SyncWidgets(h);
    for (auto& [child, area] : t->overlays)
        gtk_widget_queue_draw(area);
}

void CGtkPresenter::ChildWindowChanged(HWND h) {
    // A child created, hidden or destroyed need not paint anything: the widgets and overlays
    // over it follow here.
    if (!IsWindow(h)) {
        for (auto& [top, t] : m_tops)
            SyncWidgets(top);
        return;
    }
    HWND top = GetAncestor(h, GA_ROOT);
    if (top && top != h && FindTop(top))
        SyncWidgets(top);
}

int CGtkPresenter::OnDraw(GtkWidget* w, void* pcr, void*) {
    auto* cr = static_cast<cairo_t*>(pcr);
    HWND h = static_cast<HWND>(g_object_get_data(G_OBJECT(w), "afx-hwnd"));
    if (!IsWindow(h))
        return TRUE;
    int scale = gtk_widget_get_scale_factor(w);
    if (scale <= 1) {
        afxuser::ComposeWindow(h, cr, 0, 0);
        return TRUE;
    }
    // The kernel's surfaces have one pixel per layout unit. Composed at that size and enlarged
    // without filtering, every pixel becomes a sharp square, where cairo's default filter would
    // blur edges and text.
    double x1, y1, x2, y2;
    cairo_clip_extents(cr, &x1, &y1, &x2, &y2);
    int x = static_cast<int>(x1), y = static_cast<int>(y1);
    int cw = static_cast<int>(x2 + 0.999) - x, ch = static_cast<int>(y2 + 0.999) - y;
    if (cw <= 0 || ch <= 0)
        return TRUE;
    cairo_surface_t* part = cairo_image_surface_create(CAIRO_FORMAT_RGB24, cw, ch);
    cairo_t* pc = cairo_create(part);
    afxuser::ComposeWindow(h, pc, -x, -y);
    cairo_destroy(pc);
    cairo_set_source_surface(cr, part, x, y);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_paint(cr);
    cairo_surface_destroy(part);
    return TRUE;
}

// Native widgets over child windows.

bool CGtkPresenter::AttachWidget(HWND hChild, GtkWidget* widget) {
    if (!widget || !IsWindow(hChild))
        return false;
    HWND top = GetAncestor(hChild, GA_ROOT);
    Top* t = top == hChild ? nullptr : FindTop(top);
    if (!t)
        return false;
    DetachWidget(hChild);
    g_object_ref_sink(widget);
    m_attached[hChild] = Attached{top, widget};
    gtk_fixed_put(GTK_FIXED(t->fixed), widget, 0, 0);
    SyncWidgets(top);
    return true;
}

void CGtkPresenter::DetachWidget(HWND hChild) {
    auto it = m_attached.find(hChild);
    if (it == m_attached.end())
        return;
    if (GtkWidget* parent = gtk_widget_get_parent(it->second.widget))
        gtk_container_remove(GTK_CONTAINER(parent), it->second.widget);
    g_object_unref(it->second.widget);
    m_attached.erase(it);
}

void CGtkPresenter::SyncWidgets(HWND hTop) {
    Top* t = FindTop(hTop);
    if (!t)
        return;
    // The kernel tells presenters about top-level windows only: a child that is gone shows as
    // a handle that is no longer a window.
    std::vector<HWND> gone;
    for (auto& [child, a] : m_attached)
        if (a.top == hTop && !IsWindow(child))
            gone.push_back(child);
    for (HWND child : gone)
        DetachWidget(child);
    // The widgets of this window, bottom first in the kernel's z-order: a child's place is the
    // list of its ancestors' positions among their siblings, counted from the bottom.
    std::vector<std::pair<std::vector<int>, Attached*>> order;
    for (auto& [child, a] : m_attached) {
        if (a.top != hTop)
            continue;
        std::vector<int> key;
        for (HWND c = child; c && c != hTop; c = GetAncestor(c, GA_PARENT)) {
            int below = 0;
            for (HWND s = GetWindow(c, GW_HWNDNEXT); s; s = GetWindow(s, GW_HWNDNEXT))
                ++below;
            key.insert(key.begin(), below);
        }
        order.emplace_back(key, &a);
        RECT r{};
        GetWindowRect(child, &r);
        int w = r.right - r.left, h = r.bottom - r.top;
        bool visible = ShownInTop(child) && w > 0 && h > 0;
        gtk_fixed_move(GTK_FIXED(t->fixed), a.widget, r.left - t->rect.left, r.top - t->rect.top);
        gtk_widget_set_size_request(a.widget, std::max(w, 1), std::max(h, 1));
        gtk_widget_set_visible(a.widget, visible);
    }
    std::sort(order.begin(), order.end(), [](const auto& l, const auto& r) { return l.first < r.first; });
    // GtkFixed draws its children in the order they were added: put them back in stacking order
    // when it differs.
    GList* kids = gtk_container_get_children(GTK_CONTAINER(t->fixed));
    std::vector<GtkWidget*> now;
    for (GList* k = kids; k; k = k->next)
        if (k->data != t->area && !g_object_get_data(G_OBJECT(k->data), "afx-overlay"))
            now.push_back(static_cast<GtkWidget*>(k->data));
    g_list_free(kids);
    std::vector<GtkWidget*> want;
    for (auto& [key, a] : order)
        want.push_back(a->widget);
    if (now != want) {
        for (GtkWidget* w : want) {
            int x = 0, y = 0;
            gtk_container_child_get(GTK_CONTAINER(t->fixed), w, "x", &x, "y", &y, nullptr);
            g_object_ref(w);
            gtk_container_remove(GTK_CONTAINER(t->fixed), w);
            gtk_fixed_put(GTK_FIXED(t->fixed), w, x, y);
            g_object_unref(w);
        }
    }
    SyncOverlays(*t);
}

void CGtkPresenter::SyncOverlays(Top& t) {
    std::map<HWND, bool> want; // child -> shown
    for (auto& [attached, a] : m_attached) {
        if (a.top != t.hwnd || !IsWindow(attached))
            continue;
        for (HWND c = GetWindow(attached, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
            if (!m_attached.count(c))
                want[c] = ShownInTop(c);
    }
    for (auto it = t.overlays.begin(); it != t.overlays.end();) {
        if (want.count(it->first)) {
            ++it;
            continue;
        }
        gtk_container_remove(GTK_CONTAINER(t.fixed), it->second);
        g_object_unref(it->second);
        it = t.overlays.erase(it);
    }
    for (auto& [child, shown] : want) {
        GtkWidget*& area = t.overlays[child];
        if (!area) {
            area = gtk_drawing_area_new();
            g_object_ref_sink(area);
            g_object_set_data(G_OBJECT(area), "afx-hwnd", t.hwnd);
            g_object_set_data(G_OBJECT(area), "afx-overlay", child);
            gtk_widget_add_events(area, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                                            GDK_POINTER_MOTION_MASK | GDK_LEAVE_NOTIFY_MASK |
                                            GDK_SCROLL_MASK);
            g_signal_connect(area, "draw", G_CALLBACK(&CGtkPresenter::OnOverlayDraw), this);
            g_signal_connect(area, "button-press-event", G_CALLBACK(&CGtkPresenter::OnButton), this);
            g_signal_connect(area, "button-release-event", G_CALLBACK(&CGtkPresenter::OnButton), this);
            g_signal_connect(area, "motion-notify-event", G_CALLBACK(&CGtkPresenter::OnMotion), this);
            g_signal_connect(area, "leave-notify-event", G_CALLBACK(&CGtkPresenter::OnLeave), this);
            g_signal_connect(area, "scroll-event", G_CALLBACK(&CGtkPresenter::OnScroll), this);
            gtk_fixed_put(GTK_FIXED(t.fixed), area, 0, 0);
        }
        RECT r{};
        GetWindowRect(child, &r);
        int w = r.right - r.left, h = r.bottom - r.top;
        gtk_fixed_move(GTK_FIXED(t.fixed), area, r.left - t.rect.left, r.top - t.rect.top);
        gtk_widget_set_size_request(area, std::max(w, 1), std::max(h, 1));
        const bool visible = shown && w > 0 && h > 0;
        const bool hiding = gtk_widget_get_visible(area) && !visible;
        gtk_widget_set_visible(area, visible);
        if (hiding) // what the overlay covered is drawn again
            for (auto& [attached, a] : m_attached)
                if (a.top == t.hwnd)
                    gtk_widget_queue_draw(a.widget);
    }
    // Above every attached widget: the overlays come last among the fixed's children.
    GList* kids = gtk_container_get_children(GTK_CONTAINER(t.fixed));
    size_t n = g_list_length(kids), i = 0;
    bool tail = true;
    for (GList* k = kids; k; k = k->next, ++i) {
        bool isOverlay = g_object_get_data(G_OBJECT(k->data), "afx-overlay") != nullptr;
        if (isOverlay != (i >= n - t.overlays.size()))
            tail = false;
    }
    g_list_free(kids);
    if (tail)
        return;
    for (auto& [child, area] : t.overlays) {
        int x = 0, y = 0;
        gtk_container_child_get(GTK_CONTAINER(t.fixed), area, "x", &x, "y", &y, nullptr);
        g_object_ref(area);
        gtk_container_remove(GTK_CONTAINER(t.fixed), area);
        gtk_fixed_put(GTK_FIXED(t.fixed), area, x, y);
        g_object_unref(area);
    }
}

int CGtkPresenter::OnOverlayDraw(GtkWidget* w, void* pcr, void* p) {
    auto* self = static_cast<CGtkPresenter*>(p);
    HWND top = static_cast<HWND>(g_object_get_data(G_OBJECT(w), "afx-hwnd"));
    HWND child = static_cast<HWND>(g_object_get_data(G_OBJECT(w), "afx-overlay"));
    const Top* t = self->FindTop(top);
    if (!t || !IsWindow(child))
        return TRUE;
    RECT r{};
    GetWindowRect(child, &r);
    // The top-level window's picture, shifted so that the child's part falls on the area.
    afxuser::ComposeWindow(top, static_cast<cairo_t*>(pcr), t->rect.left - r.left, t->rect.top - r.top);
    return TRUE;
}

// Input.

int CGtkPresenter::OnButton(GtkWidget*, GdkEventButton* e, void* p) {
    auto* self = static_cast<CGtkPresenter*>(p);
    if (e->type == GDK_2BUTTON_PRESS || e->type == GDK_3BUTTON_PRESS)
        return TRUE; // the second press came as a press already; the kernel's rule decides
    POINT at = Root(e->x_root, e->y_root);
    self->m_lastButtonTime = e->time;
    bool down = e->type == GDK_BUTTON_PRESS;
    UINT message = 0;
    if (e->button == 1) {
        if (down)
            message = self->m_clicks.Press(e->time, at) ? WM_LBUTTONDBLCLK : WM_LBUTTONDOWN;
        else
            message = WM_LBUTTONUP;
    } else if (e->button == 3) {
        self->m_clicks.Reset();
        message = down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
    } else {
        return FALSE;
    }
    afxuser::InputMouse(message, at);
    return TRUE;
}

int CGtkPresenter::OnMotion(GtkWidget*, GdkEventMotion* e, void*) {
    afxuser::InputMouse(WM_MOUSEMOVE, Root(e->x_root, e->y_root));
    return TRUE;
}

int CGtkPresenter::OnLeave(GtkWidget*, GdkEventCrossing* e, void*) {
    // Leaving for another application's window: the kernel sees the pointer where it is now,
    // over none of ours, and owes the tracked window its leave.
    if (e->mode == GDK_CROSSING_NORMAL)
        afxuser::InputMouse(WM_MOUSEMOVE, Root(e->x_root, e->y_root));
    return FALSE;
}

int CGtkPresenter::OnScroll(GtkWidget*, GdkEventScroll* e, void*) {
    int delta = 0;
    if (e->direction == GDK_SCROLL_UP)
        delta = 120;
    else if (e->direction == GDK_SCROLL_DOWN)
        delta = -120;
    else if (e->direction == GDK_SCROLL_SMOOTH)
        delta = static_cast<int>(-e->delta_y * 120);
    if (delta)
        afxuser::InputMouse(WM_MOUSEWHEEL, Root(e->x_root, e->y_root), delta);
    return TRUE;
}

int CGtkPresenter::OnKey(GtkWidget* w, GdkEventKey* e, void* p) {
    auto* self = static_cast<CGtkPresenter*>(p);
    self->m_clicks.Reset();
    UINT vk = VirtualKey(e->keyval);
    bool down = e->type == GDK_KEY_PRESS;
    // A key a page did not take comes back from the engine as the very same event, for the
    // window to handle: the kernel heard it the first time. And the keys the program presses
    // into a page itself (sent events) are no keyboard's.
    const bool again = e->time != 0 && e->time == self->m_lastKeyTime &&
                       e->hardware_keycode == self->m_lastKeyCode && e->type == self->m_lastKeyType;
    self->m_lastKeyTime = e->time;
    self->m_lastKeyCode = e->hardware_keycode;
    self->m_lastKeyType = e->type;
    if (again || e->send_event) {
        vk = 0;
        down = false;
    }
    // Keys with Alt held (Alt itself included) are the system's, unless Ctrl makes it AltGr.
    const bool sys = ((e->state & GDK_MOD1_MASK) || vk == VK_MENU) && !(e->state & GDK_CONTROL_MASK);
    if (vk)
        afxuser::InputKey(down ? (sys ? WM_SYSKEYDOWN : WM_KEYDOWN) : (sys ? WM_SYSKEYUP : WM_KEYUP), vk);
    if (down) {
        // Characters in the ANSI code page, as an ANSI program receives them.
        const UINT charMessage = sys ? WM_SYSCHAR : WM_CHAR;
        gunichar u = gdk_keyval_to_unicode(e->keyval);
        if (u >= 0x20 && u != 0x7F) {
            char utf8[8] = {0};
            g_unichar_to_utf8(u, utf8);
            std::string ansi = AfxUtf8ToAnsi(std::string(utf8));
            for (unsigned char c : ansi)
                afxuser::InputKey(charMessage, c);
        } else if (vk == VK_RETURN || vk == VK_ESCAPE || vk == VK_BACK || vk == VK_TAB) {
            afxuser::InputKey(charMessage, vk);
        }
    }
    // A native widget with the focus (a page's browser view) takes the key as well, or nothing
    // could be typed into a page; the kernel has already seen it. Esc is the exception: the
    // program's windows take it before any control (the dialog manager's cancel), and the window
    // it hides must not leave a page's engine waiting to hand the key back to a window that is
    // gone, which costs the page the next key it is given.
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(w));
    auto* top = self->FindTop(static_cast<HWND>(g_object_get_data(G_OBJECT(w), "afx-hwnd")));
    if (e->keyval == GDK_KEY_Escape)
        return TRUE;
    return focus && top && focus != top->area ? FALSE : TRUE;
}

void CGtkPresenter::CursorChanged(HCURSOR c) {
    m_cursor = c;
    for (auto& [h, t] : m_tops)
        ApplyCursor(t);
}

bool CGtkPresenter::PointerPosition(POINT* at) {
    GdkDisplay* d = gdk_display_get_default();
    if (!at || !d || GetCurrentThreadId() != m_uiThread)
        return false;
    GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(d));
    if (!pointer)
        return false;
    int x = 0, y = 0;
    gdk_device_get_position(pointer, nullptr, &x, &y);
    *at = POINT{x, y};
    return true;
}

void CGtkPresenter::ApplyCursor(Top& t) {
    GdkWindow* g = gtk_widget_get_window(t.area);
    if (!g)
        return;
    GdkCursor* c = gdk_cursor_new_from_name(gdk_window_get_display(g), CursorName(m_cursor));
    gdk_window_set_cursor(g, c);
    if (c)
        g_object_unref(c);
}

bool CGtkPresenter::RunMoveLoop(HWND h, POINT at) {
    Top* t = FindTop(h);
    if (!t || !t->shown)
        return false;
    m_wmMoves = WindowManagerMoves(t->window);
    if (!m_wmMoves)
        return false;
    gtk_window_begin_move_drag(GTK_WINDOW(t->window), 1, at.x, at.y, m_lastButtonTime);
    if (GetCapture() == h)
        ReleaseCapture();
    return true;
}

int CGtkPresenter::OnConfigure(GtkWidget* w, GdkEventConfigure* e, void* p) {
    auto* self = static_cast<CGtkPresenter*>(p);
    HWND h = static_cast<HWND>(g_object_get_data(G_OBJECT(w), "afx-hwnd"));
    Top* t = self->FindTop(h);
    GdkWindow* g = gtk_widget_get_window(w);
    if (!t || !t->shown || !g || IsIconic(h))
        return FALSE;
    t->wmWidth = e->width;
    t->wmHeight = e->height;
    // A window manager that came up after the window was shown places it all the same.
    if (!self->m_wmMoves)
        self->m_wmMoves = WindowManagerMoves(w);
    if (!self->m_wmMoves)
        return FALSE;
    // The window manager placed, moved or sized the window: the kernel's rectangle follows it.
    int x = 0, y = 0;
    gdk_window_get_origin(g, &x, &y);
    const RECT at{x, y, x + e->width, y + e->height};
    if (at.left == t->rect.left && at.top == t->rect.top && at.right == t->rect.right &&
        at.bottom == t->rect.bottom)
        return FALSE;
    self->m_following = true;
    RECT now = afxuser::FollowManagerRect(h, at);
    self->m_following = false;
    // The window keeps a size of its own (its smallest): the manager is asked for that one.
    t = self->FindTop(h);
    if (t && (now.right - now.left != e->width || now.bottom - now.top != e->height) && !t->wmMaximized)
        gtk_window_resize(GTK_WINDOW(w), std::max<int>(1, now.right - now.left),
                          std::max<int>(1, now.bottom - now.top));
    return FALSE;
}

int CGtkPresenter::OnWindowState(GtkWidget* w, void* pe, void* p) {
    auto* self = static_cast<CGtkPresenter*>(p);
    auto* e = static_cast<GdkEventWindowState*>(pe);
    HWND h = static_cast<HWND>(g_object_get_data(G_OBJECT(w), "afx-hwnd"));
    Top* t = self->FindTop(h);
    if (!t || !(e->changed_mask & GDK_WINDOW_STATE_MAXIMIZED))
        return FALSE;
    t->wmMaximized = (e->new_window_state & GDK_WINDOW_STATE_MAXIMIZED) != 0;
    // Only a manager that runs can have maximized or restored the window on its own; without one
    // GDK only echoes what the kernel asked.
    if (t->shown && self->m_wmMoves)
        afxuser::FollowManagerMaximized(h, t->wmMaximized);
    return FALSE;
}

int CGtkPresenter::OnDelete(GtkWidget* w, void*, void*) {
    // The window manager's close asks the window, as the system menu's Close would.
    HWND h = static_cast<HWND>(g_object_get_data(G_OBJECT(w), "afx-hwnd"));
    if (IsWindow(h))
        PostMessageA(h, WM_SYSCOMMAND, SC_CLOSE, 0);
    return TRUE;
}

void CGtkPresenter::OnActiveChanged(GtkWidget* w, void*, void* p) {
    auto* self = static_cast<CGtkPresenter*>(p);
    HWND h = static_cast<HWND>(g_object_get_data(G_OBJECT(w), "afx-hwnd"));
    if (!IsWindow(h))
        return;
    HWND active = GetActiveWindow();
    if (gtk_window_is_active(GTK_WINDOW(w))) {
        // The desktop gave us the keyboard (a click, or the window manager's switching). A
        // report about a window the kernel has since deactivated in favour of another is late
        // news (the desktop still carries out an earlier activation of ours): the kernel's own
        // activation stands, and the desktop's keyboard goes back to it.
        Top* cur = self->FindTop(active);
        if (!active || !cur || !cur->shown)
            SetActiveWindow(h);
        else if (active != h)
            self->WindowRaised(active);
    } else if (active == h && !self->m_deactivation) {
        // The keyboard left the window, for another application or for another window of ours,
        // whose report comes next: decided once the reports in hand are handled.
        self->m_deactivation = g_idle_add(&CGtkPresenter::OnFocusSettled, self);
    }
}

int CGtkPresenter::OnFocusSettled(void* p) {
    auto* self = static_cast<CGtkPresenter*>(p);
    self->m_deactivation = 0;
    for (auto& [h, t] : self->m_tops)
        if (t.shown && gtk_window_is_active(GTK_WINDOW(t.window)))
            return G_SOURCE_REMOVE; // still ours
    if (self->FindTop(GetActiveWindow()))
        afxuser::InputAppDeactivated();
    return G_SOURCE_REMOVE;
}

// Modal questions.

int CGtkPresenter::AskMessageBox(HWND hOwner, LPCSTR text, LPCSTR caption, UINT type) {
    HWND top = hOwner ? GetAncestor(hOwner, GA_ROOT) : nullptr;
    GtkWindow* parent = top ? NativeWindow(top) : nullptr;
    GtkMessageType mt = GTK_MESSAGE_OTHER;
    switch (type & kMbIconMask) {
    case kMbIconError:
        mt = GTK_MESSAGE_ERROR;
        break;
    case kMbIconQuestion:
        mt = GTK_MESSAGE_QUESTION;
        break;
    case kMbIconWarning:
        mt = GTK_MESSAGE_WARNING;
        break;
    case kMbIconInfo:
        mt = GTK_MESSAGE_INFO;
        break;
    default:
        break;
    }
    GtkWidget* dlg = gtk_message_dialog_new(
        parent, static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT), mt,
        GTK_BUTTONS_NONE, "%s", Utf8(text).c_str());
    gtk_window_set_title(GTK_WINDOW(dlg), Utf8(caption ? caption : "Error").c_str());
    struct Button {
        const char* label;
        int id;
    };
    std::vector<Button> buttons;
    switch (type & kMbTypeMask) {
    case kMbOkCancel:
        buttons = {{"OK", kIdOk}, {"Cancel", kIdCancel}};
        break;
    case kMbAbortRetryIgnore:
        buttons = {{"_Abort", kIdAbort}, {"_Retry", kIdRetry}, {"_Ignore", kIdIgnore}};
        break;
    case kMbYesNoCancel:
        buttons = {{"_Yes", kIdYes}, {"_No", kIdNo}, {"Cancel", kIdCancel}};
        break;
    case kMbYesNo:
        buttons = {{"_Yes", kIdYes}, {"_No", kIdNo}};
        break;
    case kMbRetryCancel:
        buttons = {{"_Retry", kIdRetry}, {"Cancel", kIdCancel}};
        break;
    case kMbOk:
    default:
        buttons = {{"OK", kIdOk}};
        break;
    }
    for (const Button& b : buttons)
        gtk_dialog_add_button(GTK_DIALOG(dlg), b.label, b.id);
    size_t def = (type & kMbDefMask) >> 8;
    gtk_dialog_set_default_response(GTK_DIALOG(dlg), buttons[def < buttons.size() ? def : 0].id);
    bool hasCancel =
        std::any_of(buttons.begin(), buttons.end(), [](const Button& b) { return b.id == kIdCancel; });
    // Closing the box answers as Esc does: Cancel where there is one, OK for a box with only OK;
    // the others cannot be closed without choosing.
    int onClose = hasCancel ? kIdCancel : (buttons.size() == 1 ? kIdOk : 0);
    gtk_window_set_deletable(GTK_WINDOW(dlg), onClose != 0);

    BOOL ownerWasEnabled = FALSE;
    if (top)
        ownerWasEnabled = !EnableWindow(top, FALSE);
    Nested n;
    n.dialog = GTK_DIALOG(dlg);
    m_nested.push_back(&n);
    int answer = 0;
    for (;;) {
        int r = gtk_dialog_run(GTK_DIALOG(dlg));
        if (r > 0) {
            answer = r;
            break;
        }
        if (r == GTK_RESPONSE_NONE && m_quitPending) {
            answer = onClose ? onClose : buttons.back().id;
            break;
        }
        if (onClose) {
            answer = onClose;
            break;
        }
    }
    m_nested.pop_back();
    gtk_widget_destroy(dlg);
    if (top && ownerWasEnabled)
        EnableWindow(top, TRUE);
    RepostQuit();
    return answer;
}

namespace {

// A menu text with its "&" mnemonics as GTK's "_" ones ("&&" is a plain "&"), in UTF-8.
std::string MnemonicLabel(const std::string& ansi) {
    std::string utf8 = AfxAnsiToUtf8(ansi), out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        char c = utf8[i];
        if (c == '&' && i + 1 < utf8.size() && utf8[i + 1] == '&') {
            out += '&';
            ++i;
        } else if (c == '&') {
            out += '_';
        } else if (c == '_') {
            out += "__";
        } else if (c == '\t') {
            break; // the accelerator column is not shown in a popup of ours
        } else {
            out += c;
        }
    }
    return out;
}

struct MenuRun {
    UINT chosen = 0;
    GMainLoop* loop = nullptr;
};

void OnMenuItem(GtkMenuItem* item, gpointer run) {
    static_cast<MenuRun*>(run)->chosen = GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(item), "afx-command"));
}

void OnMenuDone(GtkMenuShell*, gpointer run) {
    // The chosen item is activated just after the menu closes: stop once that has happened.
    g_idle_add(
        [](gpointer r) -> gboolean {
            g_main_loop_quit(static_cast<MenuRun*>(r)->loop);
            return G_SOURCE_REMOVE;
        },
        run);
}

GtkWidget* BuildMenu(HMENU hMenu, MenuRun& run) {
    GtkWidget* menu = gtk_menu_new();
    UINT def = GetMenuDefaultItem(hMenu, FALSE, 0);
    int n = GetMenuItemCount(hMenu);
    for (int i = 0; i < n; ++i) {
        UINT state = GetMenuState(hMenu, static_cast<UINT>(i), MF_BYPOSITION);
        GtkWidget* item = nullptr;
        if (state & MF_SEPARATOR) {
            item = gtk_separator_menu_item_new();
        } else {
            char text[256] = {0};
            GetMenuStringA(hMenu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
            std::string label = MnemonicLabel(text);
            UINT id = GetMenuItemID(hMenu, i);
            item = (state & MF_CHECKED) ? gtk_check_menu_item_new_with_mnemonic(label.c_str())
                                        : gtk_menu_item_new_with_mnemonic(label.c_str());
            if (state & MF_CHECKED)
                gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item), TRUE);
            if (HMENU sub = (state & MF_POPUP) ? GetSubMenu(hMenu, i) : nullptr) {
                gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), BuildMenu(sub, run));
            } else {
                g_object_set_data(G_OBJECT(item), "afx-command", GUINT_TO_POINTER(id));
                g_signal_connect(item, "activate", G_CALLBACK(&OnMenuItem), &run);
                if (id == def && def != static_cast<UINT>(-1)) {
                    // The default item is the one a double click on the tray icon would choose.
                    GtkWidget* l = gtk_bin_get_child(GTK_BIN(item));
                    gchar* escaped = g_markup_escape_text(label.c_str(), -1);
                    std::string markup = std::string("<b>") + escaped + "</b>";
                    g_free(escaped);
                    gtk_label_set_markup_with_mnemonic(GTK_LABEL(l), markup.c_str());
                }
            }
            if (state & (MF_GRAYED | MF_DISABLED))
                gtk_widget_set_sensitive(item, FALSE);
        }
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
        gtk_widget_show(item);
    }
    return menu;
}

} // namespace

UINT CGtkPresenter::ChooseFromMenu(HMENU hMenu, UINT, POINT at, HWND hOwner) {
    MenuRun run;
    GtkWidget* menu = BuildMenu(hMenu, run);
    g_object_ref_sink(menu);
    HWND top = hOwner ? GetAncestor(hOwner, GA_ROOT) : nullptr;
    const Top* t = FindTop(top);
    GdkWindow* anchor = t && t->shown ? gtk_widget_get_window(t->window) : nullptr;
    if (anchor)
        gtk_menu_attach_to_widget(GTK_MENU(menu), t->window, nullptr);
    else
        anchor = gdk_screen_get_root_window(gdk_screen_get_default());
    int ox = 0, oy = 0;
    gdk_window_get_origin(anchor, &ox, &oy);
    GdkRectangle r{at.x - ox, at.y - oy, 1, 1};
    run.loop = g_main_loop_new(nullptr, FALSE);
    g_signal_connect(menu, "deactivate", G_CALLBACK(&OnMenuDone), &run);
    gtk_menu_popup_at_rect(GTK_MENU(menu), anchor, &r, GDK_GRAVITY_NORTH_WEST, GDK_GRAVITY_NORTH_WEST,
                           nullptr);
    Nested n;
    n.menu = GTK_MENU_SHELL(menu);
    m_nested.push_back(&n);
    if (gtk_widget_get_visible(menu))
        g_main_loop_run(run.loop); // the queue source keeps serving the thread meanwhile
    m_nested.pop_back();
    g_main_loop_unref(run.loop);
    if (gtk_menu_get_attach_widget(GTK_MENU(menu)))
        gtk_menu_detach(GTK_MENU(menu));
    gtk_widget_destroy(menu);
    g_object_unref(menu);
    RepostQuit();
    return run.chosen;
}

} // namespace afxgtk
