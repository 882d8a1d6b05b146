// What the GTK presenter's tests share: a private Xvfb and GTK on it for the whole test
// process (each test runs as its own process under ctest, so each has its own display), the
// presenter installed for each test, waits that iterate the GLib main context, and the outside
// programs that act as the person at the screen (xdotool) and the camera (ImageMagick's import).
#pragma once

#include "platform/gtk/GtkPresenter.h"
#include "platform/user/User.h"
#include "tests/gtk/GtkDisplay.h"

#include <cairo.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
// Last: Xlib's macros (None, Bool, Status) would break the headers above.
#include <gdk/gdkx.h>
#undef None
#undef Bool
#undef Status

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace gtkscreen {

using namespace std::chrono_literals;

// Iterates the main context (the presenter's queue source serving the thread's queue with it)
// until cond holds or the bound passes.
template <class Cond> bool Until(Cond&& cond, std::chrono::milliseconds bound = 10s) {
    auto deadline = std::chrono::steady_clock::now() + bound;
    // A tick, so an iteration returns in time to check the bound when nothing else happens.
    guint tick = g_timeout_add(
        10, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    bool held = cond();
    while (!held && std::chrono::steady_clock::now() < deadline) {
        g_main_context_iteration(nullptr, TRUE);
        held = cond();
    }
    g_source_remove(tick);
    return held;
}

// Runs fn from the main context once a visible top-level GTK window of type T is there, then
// stops looking; fn gets the window. For answering a modal question from inside its loop.
template <class Fn> inline void WhenShown(GType type, Fn fn) {
    struct Job {
        GType type;
        std::function<void(GtkWidget*)> fn;
    };
    auto* job = new Job{type, fn};
    g_timeout_add_full(
        G_PRIORITY_DEFAULT, 10,
        [](gpointer p) -> gboolean {
            auto* j = static_cast<Job*>(p);
            GList* all = gtk_window_list_toplevels();
            GtkWidget* found = nullptr;
            for (GList* l = all; l && !found; l = l->next) {
                GtkWidget* w = static_cast<GtkWidget*>(l->data);
                if (G_TYPE_CHECK_INSTANCE_TYPE(w, j->type) && gtk_widget_get_mapped(w))
                    found = w;
                if (!found && GTK_IS_WINDOW(w) && gtk_widget_get_mapped(w)) {
                    GtkWidget* child = gtk_bin_get_child(GTK_BIN(w));
                    if (child && G_TYPE_CHECK_INSTANCE_TYPE(child, j->type))
                        found = child;
                }
            }
            g_list_free(all);
            if (!found)
                return G_SOURCE_CONTINUE;
            j->fn(found);
            return G_SOURCE_REMOVE;
        },
        job, [](gpointer p) { delete static_cast<Job*>(p); });
}

// Serves the thread's queue as a program's modal loop does (each message offered to the
// PreTranslateMessage of its window and its parents up to stop first, so a dialog's keys work)
// until cond holds or the bound passes.
template <class Cond> bool ModalUntil(HWND stop, Cond&& cond, std::chrono::milliseconds bound = 10s) {
    auto deadline = std::chrono::steady_clock::now() + bound;
    UINT_PTR tick = SetTimer(nullptr, 0, 10, nullptr); // GetMessage returns in time to check the bound
    bool held = cond();
    while (!held && std::chrono::steady_clock::now() < deadline) {
        MSG m;
        if (!GetMessageA(&m, nullptr, 0, 0)) {
            PostQuitMessage(static_cast<int>(m.wParam));
            break;
        }
        if (!CWnd::WalkPreTranslateTree(stop, &m)) {
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
        held = cond();
    }
    KillTimer(nullptr, tick);
    return held;
}

// Runs a command line (xdotool, import) and waits for it; true when it exits with 0.
inline bool Command(const std::string& command) {
    std::string line = command + " >/dev/null 2>&1";
    return std::system(line.c_str()) == 0;
}

// The X server's pixels of a screen rectangle, as an image surface (null on failure).
inline cairo_surface_t* Shot(const RECT& r, const std::string& path) {
    char geometry[64];
    std::snprintf(geometry, sizeof geometry, "%dx%d+%d+%d", static_cast<int>(r.right - r.left),
                  static_cast<int>(r.bottom - r.top), static_cast<int>(r.left), static_cast<int>(r.top));
    if (!Command("import -window root -crop " + std::string(geometry) + " +repage png24:" + path))
        return nullptr;
    cairo_surface_t* s = cairo_image_surface_create_from_png(path.c_str());
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return nullptr;
    }
    return s;
}

// The first pixel where two surfaces of the same size differ in colour, or "" when none does.
inline std::string FirstDifference(cairo_surface_t* a, cairo_surface_t* b) {
    cairo_surface_flush(a);
    cairo_surface_flush(b);
    int w = cairo_image_surface_get_width(a), h = cairo_image_surface_get_height(a);
    if (w != cairo_image_surface_get_width(b) || h != cairo_image_surface_get_height(b))
        return "sizes differ";
    for (int y = 0; y < h; ++y) {
        auto* ra = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(a) +
                                                     y * cairo_image_surface_get_stride(a));
        auto* rb = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(b) +
                                                     y * cairo_image_surface_get_stride(b));
        for (int x = 0; x < w; ++x) {
            if ((ra[x] & 0xFFFFFF) != (rb[x] & 0xFFFFFF)) {
                char buf[96];
                std::snprintf(buf, sizeof buf, "(%d,%d): %06x against %06x", x, y, ra[x] & 0xFFFFFF,
                              rb[x] & 0xFFFFFF);
                return buf;
            }
        }
    }
    return "";
}

// The X window id GTK shows a top-level window of ours in.
inline unsigned long XidOf(afxgtk::CGtkPresenter& p, HWND h) {
    GtkWindow* w = p.NativeWindow(h);
    GdkWindow* g = w ? gtk_widget_get_window(GTK_WIDGET(w)) : nullptr;
    return g ? gdk_x11_window_get_xid(g) : 0;
}

// Where the X server has the GTK window of ours now (root coordinates), asked of the server.
inline RECT XGeometry(afxgtk::CGtkPresenter& p, HWND h) {
    GtkWindow* w = p.NativeWindow(h);
    GdkWindow* g = w ? gtk_widget_get_window(GTK_WIDGET(w)) : nullptr;
    if (!g)
        return RECT{};
    int x = 0, y = 0, gx = 0, gy = 0, width = 0, height = 0;
    gdk_window_get_geometry(g, &gx, &gy, &width, &height);
    gdk_window_get_origin(g, &x, &y);
    return RECT{x, y, x + width, y + height};
}

// Whether a window manager has put the top-level window into a frame of its own.
inline bool Framed(afxgtk::CGtkPresenter& p, HWND h) {
    GtkWindow* w = p.NativeWindow(h);
    GdkWindow* g = w ? gtk_widget_get_window(GTK_WIDGET(w)) : nullptr;
    if (!g)
        return false;
    Display* x = gdk_x11_display_get_xdisplay(gdk_window_get_display(g));
    ::Window root = 0, parent = 0, *kids = nullptr;
    unsigned n = 0;
    if (!XQueryTree(x, gdk_x11_window_get_xid(g), &root, &parent, &kids, &n))
        return false;
    if (kids)
        XFree(kids);
    return parent != 0 && parent != root;
}

// A 16 x 16 PNG: opaque red with a half-transparent blue quarter (the bottom right one).
inline std::vector<unsigned char> IconPng() {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 16, 16);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, 1, 0, 0);
    cairo_paint(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_rgba(cr, 0, 0, 1, 0.5);
    cairo_rectangle(cr, 8, 8, 8, 8);
    cairo_fill(cr);
    cairo_destroy(cr);
    std::vector<unsigned char> out;
    cairo_surface_write_to_png_stream(
        s,
        [](void* v, const unsigned char* d, unsigned n) {
            auto* o = static_cast<std::vector<unsigned char>*>(v);
            o->insert(o->end(), d, d + n);
            return CAIRO_STATUS_SUCCESS;
        },
        &out);
    cairo_surface_destroy(s);
    return out;
}

// A property of an X window as the server holds it: its items (32-bit ones as unsigned long, as
// Xlib hands them out; 8-bit ones as bytes), empty when the window has none.
inline std::vector<unsigned long> XItems(unsigned long xid, const char* name, std::string* bytes = nullptr) {
    GdkDisplay* d = gdk_display_get_default();
    Display* x = gdk_x11_display_get_xdisplay(d);
    Atom type = 0;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned long> items;
    gdk_x11_display_error_trap_push(d);
    if (XGetWindowProperty(x, xid, XInternAtom(x, name, False), 0, 1 << 22, False, AnyPropertyType, &type,
                           &format, &n, &after, &data) == Success &&
        data) {
        if (format == 32)
            items.assign(reinterpret_cast<unsigned long*>(data), reinterpret_cast<unsigned long*>(data) + n);
        else if (format == 8 && bytes)
            bytes->assign(reinterpret_cast<char*>(data), n);
    }
    gdk_x11_display_error_trap_pop_ignored(d);
    if (data)
        XFree(data);
    return items;
}
inline std::string XText(unsigned long xid, const char* name) {
    std::string text;
    XItems(xid, name, &text);
    return text;
}
inline unsigned long XRoot() {
    return gdk_x11_window_get_xid(gdk_get_default_root_window());
}

// Whether the desktop gives the keyboard to this X window now: the window manager's active
// window, or without one the X server's input focus (or a window inside it).
inline bool XActive(unsigned long xid) {
    if (XvfbDisplay::WindowManagerWanted()) {
        std::vector<unsigned long> active = XItems(XRoot(), "_NET_ACTIVE_WINDOW");
        return !active.empty() && active[0] == xid;
    }
    Display* x = gdk_x11_display_get_xdisplay(gdk_display_get_default());
    ::Window focus = 0, root = 0, parent = 0, *kids = nullptr;
    int revert = 0;
    unsigned n = 0;
    XGetInputFocus(x, &focus, &revert);
    for (int depth = 0; focus > 1 && depth < 16; ++depth) {
        if (focus == xid)
            return true;
        if (!XQueryTree(x, focus, &root, &parent, &kids, &n))
            break;
        if (kids)
            XFree(kids);
        focus = parent;
    }
    return false;
}

// The top-level X windows from the bottom of the stack up: the window manager's stacking list of
// the windows it manages, or without one the root window's children.
inline std::vector<unsigned long> XStacking() {
    if (XvfbDisplay::WindowManagerWanted())
        return XItems(XRoot(), "_NET_CLIENT_LIST_STACKING");
    Display* x = gdk_x11_display_get_xdisplay(gdk_display_get_default());
    ::Window root = 0, parent = 0, *kids = nullptr;
    unsigned n = 0;
    std::vector<unsigned long> out;
    if (XQueryTree(x, XRoot(), &root, &parent, &kids, &n))
        out.assign(kids, kids + n);
    if (kids)
        XFree(kids);
    return out;
}
// Whether X window a is stacked above X window b (false when either is not in the stack).
inline bool XAbove(unsigned long a, unsigned long b) {
    std::vector<unsigned long> s = XStacking();
    auto ia = std::find(s.begin(), s.end(), a), ib = std::find(s.begin(), s.end(), b);
    return ia != s.end() && ib != s.end() && ia > ib;
}

class ScreenTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(OpenDisplay()) << "no Xvfb or no GTK display";
        m_presenter = std::make_unique<afxgtk::CGtkPresenter>();
        m_presenter->Install();
    }
    void TearDown() override {
        m_presenter.reset();
        Until([] { return !gtk_events_pending(); }, 2s);
    }
    // Lets everything pending be drawn and reach the X server.
    void Settle() {
        Until([] { return !gtk_events_pending(); }, 2s);
        gdk_display_sync(gdk_display_get_default());
    }

    // Takes the picture of a window into the build folder as name; the engine paints on its own
    // time, so the picture is taken again until it is more than one colour (every page of the
    // program has a header bar above a lighter body).
    bool PaintedShot(HWND h, const char* name) {
        RECT rect{};
        ::GetWindowRect(h, &rect);
        std::string path = XvfbDisplay::ShotPath(name);
        bool painted = false;
        Until(
            [&] {
                Settle();
                cairo_surface_t* s = Shot(rect, path);
                if (!s)
                    return false;
                cairo_surface_flush(s);
                int w = cairo_image_surface_get_width(s), hh = cairo_image_surface_get_height(s);
                auto pixel = [&](int x, int y) {
                    auto* row = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(s) +
                                                                  y * cairo_image_surface_get_stride(s));
                    return row[x] & 0xFFFFFF;
                };
                painted = pixel(8, 8) != pixel(w / 2, hh / 2);
                cairo_surface_destroy(s);
                return painted;
            },
            20s);
        return painted;
    }

    std::unique_ptr<afxgtk::CGtkPresenter> m_presenter;
};

} // namespace gtkscreen
