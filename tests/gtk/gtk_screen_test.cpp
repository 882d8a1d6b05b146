// Windows of the kernel on a real X screen: their pixels, the pointer's routing through xdotool,
// and activation by the X server's focus.
#include "platform/gdi/WinGdi.h"
#include "platform/kernel/CodePage.h"
#include "platform/user/HeadlessScreen.h"
#include "tests/support/RecordingWindow.h"
#include "tests/gtk/GtkScreen.h"

#include <algorithm>
#include <map>

namespace {

using gtkscreen::Command;
using gtkscreen::Until;
using Lines = std::vector<std::string>;

class WindowsOnScreen : public gtkscreen::ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        if (HasFatalFailure())
            return;
        underWindowManager = XvfbDisplay::WindowManagerWanted();
        rec.SetAnswer([this](HWND h, UINT m, WPARAM, LPARAM l) -> std::optional<LRESULT> {
            if (m == WM_PAINT && colours.count(h)) {
                PAINTSTRUCT ps;
                HDC dc = BeginPaint(h, &ps);
                RECT all{};
                GetClientRect(h, &all);
                HBRUSH b = CreateSolidBrush(colours[h]);
                FillRect(dc, &all, b);
                DeleteObject(b);
                if (h == withText) {
                    // Antialiased CJK text: any filtering on the way to the screen shows in it.
                    SetBkMode(dc, TRANSPARENT);
                    SetTextColor(dc, RGB(255, 255, 255));
                    RECT t{4, 24, all.right, 50};
                    DrawTextA(dc, "\xD6\xD0\xCE\xC4 Shelf", -1, &t, DT_LEFT | DT_SINGLELINE);
                }
                EndPaint(h, &ps);
                ++paints;
                return 0;
            }
            if (m == kTakeCapture) {
                SetCapture(h);
                return 0;
            }
            if (m == WM_MOUSEMOVE && trackLeave && h == child) {
                TRACKMOUSEEVENT t{sizeof t, TME_LEAVE, child, 0};
                _TrackMouseEvent(&t);
            }
            if (m == WM_NCHITTEST && captionOf == h) {
                RECT r{};
                GetWindowRect(h, &r);
                if (GET_Y_LPARAM(l) - r.top < 20)
                    return HTCAPTION;
            }
            return std::nullopt;
        });
    }
    void TearDown() override {
        for (HWND h : made)
            if (IsWindow(h))
                DestroyWindow(h);
        ScreenTest::TearDown();
    }
    HWND Make(const char* name, DWORD style, RECT r, HWND parent = nullptr, COLORREF colour = 0,
              bool dblclks = false) {
        HWND h = rec.Make(style, r, parent, 0, dblclks);
        rec.Name(h, name);
        made.push_back(h);
        colours[h] = colour;
        return h;
    }
    // A window at (40, 30) of 200 x 120 with a caption band and a child.
    void MakeWindowWithChild(bool childDblClks = false) {
        top = Make("w", WS_POPUP | WS_VISIBLE, RECT{40, 30, 240, 150}, nullptr, RGB(200, 40, 30));
        child = Make("c", WS_CHILD | WS_VISIBLE, RECT{20, 60, 100, 100}, top, RGB(20, 60, 220), childDblClks);
        withText = top;
        captionOf = top;
        ASSERT_TRUE(Until([&] { return paints >= 2; }));
        bool onScreen = Until([&] { return OnScreen(top); });
        // Now and then, on a heavily loaded machine, an openbox that has named itself never
        // takes a window at all: that says nothing of ours, so the test skips.
        if (!onScreen && underWindowManager && !gtkscreen::Framed(*m_presenter, top))
            GTEST_SKIP() << "the window manager never took the window; its move is not tested";
        ASSERT_TRUE(onScreen) << "the window never reached the X screen: " << Where(top);
    }
    // The window with its child, a text entry over the child, and the kernel's focus on the child
    // alone: the window took the desktop's keyboard when the kernel activated it, and the focus
    // on the child gives the child's widget the keys.
    GtkWidget* FocusedEntry() {
        MakeWindowWithChild();
        GtkWidget* entry = gtk_entry_new();
        EXPECT_TRUE(m_presenter->AttachWidget(child, entry));
        EXPECT_TRUE(Until([&] { return gtk_widget_get_mapped(entry) == TRUE; }));
        SetFocus(child);
        EXPECT_TRUE(gtk_widget_is_focus(entry)) << "the widget is not GTK's focus";
        [&] {
            ASSERT_TRUE(Until([&] { return gtk_window_is_active(m_presenter->NativeWindow(top)) == TRUE; }))
                << "the active window never got the desktop's keyboard";
        }();
        return entry;
    }
    std::string Where(HWND h) {
        RECT k{}, x = gtkscreen::XGeometry(*m_presenter, h);
        GetWindowRect(h, &k);
        char buf[128];
        std::snprintf(buf, sizeof buf, "kernel (%d,%d)-(%d,%d), X (%d,%d)-(%d,%d)", int(k.left), int(k.top),
                      int(k.right), int(k.bottom), int(x.left), int(x.top), int(x.right), int(x.bottom));
        return buf;
    }
    bool OnScreen(HWND h) {
        RECT want{};
        GetWindowRect(h, &want);
        gdk_display_sync(gdk_display_get_default());
        RECT got = gtkscreen::XGeometry(*m_presenter, h);
        return got.left == want.left && got.top == want.top && got.right == want.right &&
               got.bottom == want.bottom && gtk_widget_get_mapped(GTK_WIDGET(m_presenter->NativeWindow(h)));
    }
    // Runs xdotool and waits until the window's log holds the line.
    bool Xdo(const std::string& args, const std::string& awaited) {
        if (!Command("xdotool " + args))
            return false;
        return Until([&] { return std::count(rec.Log().begin(), rec.Log().end(), awaited) > 0; });
    }
    Lines Mouse(const std::string& who) const {
        Lines out;
        for (const auto& l : rec.LogWithout({"SETCURSOR", "NCHITTEST", "MOUSEMOVE", "PAINT", "ERASE"}))
            if (l.rfind(who + " ", 0) == 0 && l.find("BUTTON") != std::string::npos)
                out.push_back(l);
        return out;
    }

    testwin::Recorder rec;
    std::vector<HWND> made;
    std::map<HWND, COLORREF> colours;
    HWND top = nullptr, child = nullptr, withText = nullptr, captionOf = nullptr;
    bool underWindowManager = false;
    int paints = 0;
    bool trackLeave = false;
    static constexpr UINT kTakeCapture = WM_USER + 1;
};

TEST_F(WindowsOnScreen, ScreenShowsTheHeadlessPicturePixelForPixel) {
    MakeWindowWithChild();
    afxuser::CHeadlessScreen reference; // not installed: it only composes the surfaces
    cairo_surface_t* want = reference.RenderWindow(top);
    ASSERT_NE(want, nullptr);
    RECT r{};
    GetWindowRect(top, &r);
    std::string path = XvfbDisplay::ShotPath("gtk_window_shot.png");
    std::string diff = "no shot";
    // GTK draws when the X server asks it to; the shot is taken again until the pixels are there.
    Until([&] {
        gtkscreen::ScreenTest::Settle();
        cairo_surface_t* got = gtkscreen::Shot(r, path);
        if (!got)
            return false;
        diff = gtkscreen::FirstDifference(got, want);
        cairo_surface_destroy(got);
        return diff.empty();
    });
    EXPECT_EQ(diff, "") << "see " << path;
    cairo_surface_write_to_png(want, (XvfbDisplay::ShotPath("gtk_window_headless.png")).c_str());
    cairo_surface_destroy(want);
}

TEST_F(WindowsOnScreen, RepaintReachesTheScreenInTheDamagedArea) {
    MakeWindowWithChild();
    colours[child] = RGB(0, 200, 0);
    InvalidateRect(child, nullptr, TRUE);
    RECT r{};
    GetWindowRect(child, &r);
    std::string path = XvfbDisplay::ShotPath("gtk_child_repaint.png");
    bool green = Until([&] {
        Settle();
        cairo_surface_t* got = gtkscreen::Shot(r, path);
        if (!got)
            return false;
        auto* px = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(got));
        bool ok = (px[0] & 0xFFFFFF) == 0x00C800;
        cairo_surface_destroy(got);
        return ok;
    });
    EXPECT_TRUE(green) << "see " << path;
}

TEST_F(WindowsOnScreen, ClicksGoWhereTheRoutingSays) {
    MakeWindowWithChild();
    // Child at screen (60, 90) to (140, 130); the parent's caption band is its top 20 rows.
    ASSERT_TRUE(Xdo("mousemove 70 100 click 1", "c WM_LBUTTONUP 10,10"));
    EXPECT_EQ(Mouse("c"), (Lines{"c WM_LBUTTONDOWN 10,10", "c WM_LBUTTONUP 10,10"}));
    ASSERT_TRUE(Xdo("mousemove 200 130 click 3", "w WM_RBUTTONUP 160,100"));
    EXPECT_EQ(Mouse("w"), (Lines{"w WM_RBUTTONDOWN 160,100", "w WM_RBUTTONUP 160,100"}));
    EXPECT_EQ(Mouse("c").size(), 2u) << "nothing more for the child";
}

TEST_F(WindowsOnScreen, LeavingForAnotherApplicationEndsTheTracking) {
    MakeWindowWithChild();
    trackLeave = true;
    // A point no other test uses: the pointer may rest where an earlier test left it, and a
    // move to where it is makes no event.
    ASSERT_TRUE(Xdo("mousemove 71 101", "c WM_MOUSEMOVE 11,11"));
    // Off every window of ours, onto the bare screen.
    EXPECT_TRUE(Xdo("mousemove 600 500", "c WM_MOUSELEAVE"));
}

TEST_F(WindowsOnScreen, CaptureKeepsThePointerComingOffTheWindow) {
    MakeWindowWithChild();
    // As a handler takes it, from the loop.
    PostMessageA(child, kTakeCapture, 0, 0);
    ASSERT_TRUE(Until([&] { return GetCapture() == child; }));
    // No button is down: only a grab brings the pointer's moves over the bare screen to us.
    EXPECT_TRUE(Xdo("mousemove 613 517", "c WM_MOUSEMOVE 553,427"));
    ReleaseCapture();
    rec.Clear();
    EXPECT_TRUE(Xdo("mousemove 72 102", "c WM_MOUSEMOVE 12,12"));
    ASSERT_TRUE(Command("xdotool mousemove 610 510"));
    Settle();
    EXPECT_EQ(std::count(rec.Log().begin(), rec.Log().end(), "c WM_MOUSEMOVE 550,420"), 0)
        << "the grab outlived the capture";
}

TEST_F(WindowsOnScreen, DoubleClicksFollowTheClassStyle) {
    struct Case {
        bool dblclks;
        Lines child;
    };
    const Case cases[] = {
        {true,
         {"c WM_LBUTTONDOWN 5,5", "c WM_LBUTTONUP 5,5", "c WM_LBUTTONDBLCLK 5,5", "c WM_LBUTTONUP 5,5"}},
        {false, {"c WM_LBUTTONDOWN 5,5", "c WM_LBUTTONUP 5,5", "c WM_LBUTTONDOWN 5,5", "c WM_LBUTTONUP 5,5"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dblclks);
        paints = 0;
        MakeWindowWithChild(c.dblclks);
        rec.Clear();
        ASSERT_TRUE(Command("xdotool mousemove 65 95 click --repeat 2 --delay 60 1"));
        ASSERT_TRUE(Until([&] { return Mouse("c").size() >= 4; }));
        EXPECT_EQ(Mouse("c"), c.child);
        DestroyWindow(top);
    }
}

// A caption drag moves the window: the kernel's own move loop on a bare screen; under a window
// manager its own move, which the kernel's rectangle follows.
TEST_F(WindowsOnScreen, CaptionDragMovesTheWindow) {
    MakeWindowWithChild();
    if (IsSkipped())
        return;
    if (underWindowManager) {
        RECT before{};
        GetWindowRect(top, &before);
        rec.Clear();
        int x = before.left + 20, y = before.top + 5;
        ASSERT_TRUE(
            Command("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) + " mousedown 1"));
        ASSERT_TRUE(Until([&] {
            return std::count(rec.Log().begin(), rec.Log().end(),
                              "w WM_NCLBUTTONDOWN 2 " + std::to_string(x) + "," + std::to_string(y)) == 1;
        }));
        // The window manager takes the pointer when it has read the request; until then motions
        // still come to the window. Step until the X window moves (the window manager may tell the
        // window where it is only when the move ends).
        bool moved = Until([&] {
            Command("xdotool mousemove_relative 4 3");
            gdk_display_sync(gdk_display_get_default());
            return gtkscreen::XGeometry(*m_presenter, top).left > before.left + 8;
        });
        ASSERT_TRUE(Command("xdotool mouseup 1"));
        EXPECT_TRUE(moved) << "the window did not move with the pointer";
        EXPECT_TRUE(Until([&] { return OnScreen(top); }))
            << "the kernel's rectangle is not where the window is";
        EXPECT_EQ(std::count(rec.Log().begin(), rec.Log().end(), "w WM_CAPTURECHANGED 0"), 0)
            << "the kernel ran its own loop instead of the window manager's";
        EXPECT_EQ(GetCapture(), nullptr);
        // The press is over for the kernel too: a later click is a click, not a drag.
        rec.Clear();
        RECT now{};
        GetWindowRect(top, &now);
        ASSERT_TRUE(Xdo("mousemove " + std::to_string(now.left + 30) + " " + std::to_string(now.top + 70) +
                            " click 1",
                        "c WM_LBUTTONUP 10,10"));
        return;
    }
    ASSERT_TRUE(Command("xdotool mousemove 60 35 mousedown 1 mousemove 100 60 mousemove 160 135 mouseup 1"));
    ASSERT_TRUE(Until([&] {
        RECT r{};
        GetWindowRect(top, &r);
        return r.left == 140 && r.top == 130;
    })) << "the kernel's window did not follow the drag";
    EXPECT_TRUE(Until([&] { return OnScreen(top); })) << "the X window is not where the kernel has it";
    EXPECT_TRUE(Mouse("w").size() >= 1);
    EXPECT_EQ(std::count(rec.Log().begin(), rec.Log().end(), "w WM_NCLBUTTONUP 2 160,135"), 0)
        << "the move loop swallows the release";
    EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(WindowsOnScreen, AnotherApplicationTakingFocusDeactivates) {
    MakeWindowWithChild();
    GtkWindow* mine = m_presenter->NativeWindow(top);
    ASSERT_TRUE(Until([&] { return gtk_window_is_active(mine) == TRUE; }))
        << "our window never got the focus";
    ASSERT_EQ(GetActiveWindow(), top);
    // Someone else's window, not known to the kernel.
    GtkWidget* other = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_move(GTK_WINDOW(other), 400, 400);
    gtk_window_set_focus_on_map(GTK_WINDOW(other), FALSE);
    gtk_widget_show(other);
    // Mapped by the X server, not only by GTK: a window manager decides on the focus of a new
    // window when it maps it, and that must be over before the log starts.
    ASSERT_TRUE(Until([&] {
        return (gdk_window_get_state(gtk_widget_get_window(other)) & GDK_WINDOW_STATE_WITHDRAWN) == 0;
    }));
    Settle();
    std::string ours = std::to_string(gtkscreen::XidOf(*m_presenter, top));
    if (GetActiveWindow() != top) {
        // This manager gave the new window the focus all the same; the test is about a change
        // of focus made by someone else, so it starts again from ours.
        ASSERT_TRUE(Command("xdotool windowfocus --sync " + ours));
        ASSERT_TRUE(Until([&] { return GetActiveWindow() == top; }));
        Settle();
    }
    rec.Clear();
    std::string xid = std::to_string(gdk_x11_window_get_xid(gtk_widget_get_window(other)));
    ASSERT_TRUE(Command("xdotool windowfocus --sync " + xid));
    ASSERT_TRUE(Until([&] { return GetActiveWindow() == nullptr; }));
    Lines activation;
    for (const auto& l : rec.Log())
        if (l.find("ACTIVATE") != std::string::npos)
            activation.push_back(l);
    EXPECT_EQ(activation, (Lines{"w WM_NCACTIVATE 0", "w WM_ACTIVATE 0 0"}));
    WINDOWINFO wi{};
    wi.cbSize = sizeof wi;
    GetWindowInfo(top, &wi);
    EXPECT_EQ(wi.dwWindowStatus & WS_ACTIVECAPTION, 0u);

    // Back to ours: the kernel activates the window again.
    rec.Clear();
    ASSERT_TRUE(Command("xdotool windowfocus --sync " + ours));
    EXPECT_TRUE(Until([&] { return GetActiveWindow() == top; }));
    gtk_widget_destroy(other);
}

// What the desktop's task bar and window lists show of a window: its caption as the X window's
// name and its icons in the sizes a desktop picks from.
TEST_F(WindowsOnScreen, TheCaptionAndTheIconsNameTheWindowOnTheDesktop) {
    MakeWindowWithChild();
    const unsigned long xid = gtkscreen::XidOf(*m_presenter, top);
    ASSERT_NE(xid, 0u);
    SetWindowTextA(top, AfxUtf8ToAnsi("墨舟匣V4.0").c_str());
    EXPECT_TRUE(Until([&] { return gtkscreen::XText(xid, "_NET_WM_NAME") == "墨舟匣V4.0"; }))
        << "_NET_WM_NAME is \"" << gtkscreen::XText(xid, "_NET_WM_NAME") << "\"";
    EXPECT_FALSE(gtkscreen::XText(xid, "WM_NAME").empty());

    std::vector<unsigned char> png = gtkscreen::IconPng();
    HICON icon = afxgdi::CreateIconFromFileBytes(png.data(), png.size(), 16, 16);
    ASSERT_NE(icon, nullptr);
    SendMessageA(top, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    EXPECT_EQ(SendMessageA(top, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon)), 0);
    EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(top, WM_GETICON, ICON_BIG, 0)), icon);
    // _NET_WM_ICON: width, height, then the pixels as ARGB, for each size in turn.
    std::map<unsigned long, std::vector<unsigned long>> sizes;
    EXPECT_TRUE(Until([&] {
        std::vector<unsigned long> v = gtkscreen::XItems(xid, "_NET_WM_ICON");
        sizes.clear();
        for (size_t i = 0; i + 2 <= v.size() && v[i] * v[i + 1] <= v.size() - i - 2; i += 2 + v[i] * v[i + 1])
            sizes[v[i]].assign(v.begin() + i + 2, v.begin() + i + 2 + v[i] * v[i + 1]);
        return sizes.size() >= 2;
    })) << "no _NET_WM_ICON";
    EXPECT_TRUE(sizes.count(16) && sizes.count(32)) << sizes.size() << " sizes";
    if (sizes.count(16)) {
        const auto& p = sizes[16];
        EXPECT_EQ(p[0] & 0xFFFFFFFF, 0xFFFF0000u) << "opaque red in the corner";
        const unsigned long quarter = p[12 * 16 + 12] & 0xFFFFFFFF;
        EXPECT_NEAR(static_cast<int>(quarter >> 24), 0x80, 2) << std::hex << quarter;
        EXPECT_EQ(quarter & 0xFFFFFF, 0x0000FFu) << std::hex << quarter;
    }
    // A caption set later reaches the desktop too.
    SetWindowTextA(top, "Shelf");
    EXPECT_TRUE(Until([&] { return gtkscreen::XText(xid, "_NET_WM_NAME") == "Shelf"; }));
    DestroyWindow(top);
    DestroyIcon(icon);
}

// An owned window (a dialog, a reading window) stays above its owner, whatever raises the
// owner, has no task bar button of its own, and the window the kernel activates has the
// desktop's keyboard.
TEST_F(WindowsOnScreen, AnOwnedWindowStaysAboveItsOwnerAndActivationReachesTheDesktop) {
    MakeWindowWithChild();
    HWND owned = Make("o", WS_POPUP | WS_VISIBLE, RECT{120, 60, 300, 200}, top, RGB(0, 160, 0));
    ASSERT_TRUE(Until([&] { return OnScreen(owned); })) << Where(owned);
    const unsigned long ownerXid = gtkscreen::XidOf(*m_presenter, top),
                        ownedXid = gtkscreen::XidOf(*m_presenter, owned);
    EXPECT_EQ(gtkscreen::XItems(ownedXid, "WM_TRANSIENT_FOR"), std::vector<unsigned long>{ownerXid});
    Display* x = gdk_x11_display_get_xdisplay(gdk_display_get_default());
    const unsigned long skip = XInternAtom(x, "_NET_WM_STATE_SKIP_TASKBAR", False);
    auto skipsTaskBar = [&](unsigned long xid) {
        std::vector<unsigned long> state = gtkscreen::XItems(xid, "_NET_WM_STATE");
        return std::find(state.begin(), state.end(), skip) != state.end();
    };
    EXPECT_TRUE(Until([&] { return skipsTaskBar(ownedXid); })) << "an owned window is on the task bar";
    EXPECT_FALSE(skipsTaskBar(ownerXid));
    EXPECT_TRUE(Until([&] { return gtkscreen::XActive(ownedXid); }))
        << "the shown popup has not the keyboard";

    // The owner brought to the front takes the keyboard and stays below its popup.
    SetForegroundWindow(top);
    EXPECT_TRUE(Until([&] { return gtkscreen::XActive(ownerXid); })) << "the owner has not the keyboard";
    EXPECT_TRUE(Until([&] { return gtkscreen::XAbove(ownedXid, ownerXid); })) << "the popup went below";
    // Where the two overlap, the screen shows the popup's green.
    const std::string path = XvfbDisplay::ShotPath("gtk_owned_above_owner.png");
    bool green = Until([&] {
        Settle();
        cairo_surface_t* shot = gtkscreen::Shot(RECT{40, 30, 300, 200}, path);
        if (!shot)
            return false;
        cairo_surface_flush(shot);
        auto* row = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(shot) +
                                                      60 * cairo_image_surface_get_stride(shot));
        bool ok = (row[150] & 0xFFFFFF) == 0x00A000;
        cairo_surface_destroy(shot);
        return ok;
    });
    EXPECT_TRUE(green) << "see " << path;
}

} // namespace

namespace {

// The placement of a native widget over a child window, for the browser views.
// Typing into a native widget whose child window has the kernel's focus (a page's browser view):
// the widget gets the text, and the kernel still sees the keys, so a dialog keeps its keys.
TEST_F(WindowsOnScreen, KeysReachTheFocusedWidgetAndTheKernel) {
    GtkWidget* entry = FocusedEntry();
    if (HasFatalFailure())
        return;
    rec.Clear();
    ASSERT_TRUE(Command("xdotool type --delay 20 'ab c'"));
    EXPECT_TRUE(Until([&] { return std::string(gtk_entry_get_text(GTK_ENTRY(entry))) == "ab c"; }))
        << "the widget got \"" << gtk_entry_get_text(GTK_ENTRY(entry)) << "\"";
    ASSERT_TRUE(Command("xdotool key Escape"));
    EXPECT_TRUE(Until([&] {
        for (const auto& l : rec.Log())
            if (l.find("WM_KEYDOWN 27") != std::string::npos)
                return true;
        return false;
    })) << testing::PrintToString(rec.Log());
}

// A page's engine hands a key it does not take back to its window as the very same event: the
// kernel hears it once. Esc is the window's (the dialog manager's cancel) and never the page's,
// as a window it hides would leave the engine waiting to hand it back.
TEST_F(WindowsOnScreen, AKeyTheWidgetHandsBackReachesTheKernelOnceAndEscOnlyTheKernel) {
    GtkWidget* entry = FocusedEntry();
    if (HasFatalFailure())
        return;
    struct Widget {
        std::vector<guint> pressed;
        bool handing = false;
    } widget;
    g_signal_connect(entry, "key-press-event",
                     G_CALLBACK(+[](GtkWidget*, GdkEventKey* e, gpointer p) -> gboolean {
                         auto* w = static_cast<Widget*>(p);
                         w->pressed.push_back(e->keyval);
                         if (e->keyval != GDK_KEY_F5 || w->handing)
                             return FALSE;
                         w->handing = true;
                         GdkEvent* copy = gdk_event_copy(reinterpret_cast<GdkEvent*>(e));
                         gtk_main_do_event(copy);
                         gdk_event_free(copy);
                         w->handing = false;
                         return TRUE;
                     }),
                     &widget);
    auto downs = [&](const std::string& vk) {
        return std::count(rec.Log().begin(), rec.Log().end(), "c WM_KEYDOWN " + vk);
    };
    rec.Clear();
    ASSERT_TRUE(Command("xdotool key F5"));
    ASSERT_TRUE(Until([&] { return downs("116") > 0 && widget.pressed.size() >= 2; }));
    Settle();
    EXPECT_EQ(downs("116"), 1) << testing::PrintToString(rec.Log());
    ASSERT_TRUE(Command("xdotool key Escape"));
    ASSERT_TRUE(Until([&] { return downs("27") > 0; }));
    Settle();
    EXPECT_EQ(std::count(widget.pressed.begin(), widget.pressed.end(), GDK_KEY_Escape), 0)
        << "the page had Esc";
}

TEST_F(WindowsOnScreen, AttachedWidgetFollowsItsChildWindow) {
    MakeWindowWithChild();
    HWND other = Make("d", WS_CHILD | WS_VISIBLE, RECT{120, 30, 190, 110}, top, RGB(0, 0, 0));
    GtkWidget* view = gtk_drawing_area_new();
    GtkWidget* view2 = gtk_drawing_area_new();
    EXPECT_FALSE(m_presenter->AttachWidget(top, view)) << "a top-level window has no place for one";
    ASSERT_TRUE(m_presenter->AttachWidget(child, view));
    ASSERT_TRUE(m_presenter->AttachWidget(other, view2));
    auto placed = [&](GtkWidget* w, RECT r) {
        return Until([&] {
            GtkAllocation a;
            gtk_widget_get_allocation(w, &a);
            return gtk_widget_get_mapped(w) && a.x == r.left && a.y == r.top && a.width == r.right - r.left &&
                   a.height == r.bottom - r.top;
        });
    };
    EXPECT_TRUE(placed(view, RECT{20, 60, 100, 100}));
    EXPECT_TRUE(placed(view2, RECT{120, 30, 190, 110}));

    MoveWindow(child, 30, 25, 60, 50, TRUE);
    EXPECT_TRUE(placed(view, RECT{30, 25, 90, 75})) << "moved and resized with the child";

    ShowWindow(child, SW_HIDE);
    EXPECT_TRUE(Until([&] { return !gtk_widget_get_visible(view); })) << "hidden with the child";
    ShowWindow(child, SW_SHOW);
    EXPECT_TRUE(Until([&] { return gtk_widget_get_visible(view) == TRUE; }));

    // Stacking among the widgets follows the children's z-order (the container draws its
    // children in order, so the topmost child's widget comes last).
    auto lastIs = [&](GtkWidget* w) {
        return Until([&] {
            GList* kids = gtk_container_get_children(GTK_CONTAINER(gtk_widget_get_parent(w)));
            bool last = g_list_last(kids)->data == w;
            g_list_free(kids);
            return last;
        });
    };
    SetWindowPos(other, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    InvalidateRect(top, nullptr, FALSE);
    EXPECT_TRUE(lastIs(view2));
    SetWindowPos(child, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    InvalidateRect(top, nullptr, FALSE);
    EXPECT_TRUE(lastIs(view));

    // Gone with the child window.
    g_object_ref(view);
    DestroyWindow(child);
    EXPECT_TRUE(Until([&] { return gtk_widget_get_parent(view) == nullptr; }));
    g_object_unref(view);
    m_presenter->DetachWidget(other);
    EXPECT_EQ(gtk_widget_get_parent(view2), nullptr);
}

// At a scale factor of 2 the layout stays and every pixel of ours becomes a sharp 2 x 2 square.
// GTK takes the scale at start-up, so the test runs itself again with it.
TEST(HiDpi, EveryPixelBecomesASharpSquare) {
    if (!std::getenv("GTK_TEST_SCALED")) {
        std::string self = std::string("GTK_TEST_SCALED=1 GDK_SCALE=2 /proc/") + std::to_string(getpid()) +
                           "/exe --gtest_filter=HiDpi.EveryPixelBecomesASharpSquare";
        EXPECT_EQ(std::system(self.c_str()), 0);
        return;
    }
    ASSERT_TRUE(gtkscreen::OpenDisplay());
    afxgtk::CGtkPresenter presenter;
    presenter.Install();
    testwin::Recorder rec;
    int paints = 0;
    rec.SetAnswer([&](HWND h, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (m != WM_PAINT)
            return std::nullopt;
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(h, &ps);
        RECT all{};
        GetClientRect(h, &all);
        HBRUSH b = CreateSolidBrush(RGB(30, 90, 160));
        FillRect(dc, &all, b);
        DeleteObject(b);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(250, 250, 250));
        DrawTextA(dc, "Shelf", -1, &all, DT_LEFT | DT_SINGLELINE);
        EndPaint(h, &ps);
        ++paints;
        return 0;
    });
    HWND w = rec.Make(WS_POPUP | WS_VISIBLE, RECT{40, 30, 120, 70});
    ASSERT_TRUE(Until([&] { return paints > 0; }));
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 512) << "metrics in layout units";
    afxuser::CHeadlessScreen reference;
    cairo_surface_t* want = reference.RenderWindow(w);
    std::string path = XvfbDisplay::ShotPath("gtk_window_scale2.png");
    std::string diff = "no shot";
    Until([&] {
        while (gtk_events_pending())
            gtk_main_iteration();
        gdk_display_sync(gdk_display_get_default());
        cairo_surface_t* got = gtkscreen::Shot(RECT{80, 60, 240, 140}, path);
        if (!got)
            return false;
        // Each screen pixel shows the layout pixel it lies in.
        cairo_surface_t* doubled = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 160, 80);
        cairo_t* cr = cairo_create(doubled);
        cairo_scale(cr, 2, 2);
        cairo_set_source_surface(cr, want, 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
        cairo_paint(cr);
        cairo_destroy(cr);
        diff = gtkscreen::FirstDifference(got, doubled);
        cairo_surface_destroy(doubled);
        cairo_surface_destroy(got);
        return diff.empty();
    });
    EXPECT_EQ(diff, "") << "see " << path;
    cairo_surface_destroy(want);
    DestroyWindow(w);
}

} // namespace
