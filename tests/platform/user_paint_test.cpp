// Update regions, the erase flag, WM_PAINT order, and the composition of the windows' own
// surfaces on the headless screen.
#include "platform/user/HeadlessScreen.h"
#include "platform/user/User.h"
#include "tests/support/RecordingWindow.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

// Paints a window's surface in one colour, as a WM_ERASEBKGND handler with a brush would.
void Fill(HWND h, DWORD rgb) {
    cairo_surface_t* s = afxuser::WindowSurface(h);
    ASSERT_NE(s, nullptr);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(s);
    cairo_surface_destroy(s);
}

class PaintTest : public ::testing::Test {
protected:
    void SetUp() override {
        screen.Install();
        rec.SetAnswer([this](HWND h, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
            if (m == WM_ERASEBKGND && colours.count(h)) {
                Fill(h, colours[h]);
                return TRUE;
            }
            return std::nullopt;
        });
    }
    void TearDown() override {
        for (HWND h : made)
            if (IsWindow(h))
                DestroyWindow(h);
    }
    HWND Make(const char* name, DWORD style, RECT r, HWND parent = nullptr, DWORD colour = 0) {
        HWND h = rec.Make(style, r, parent);
        rec.Name(h, name);
        made.push_back(h);
        colours[h] = colour;
        return h;
    }
    // Serves the queue and returns the paint messages it brought.
    Lines Painted() {
        rec.Clear();
        afxuser::CHeadlessScreen::Pump();
        return rec.LogWithout({"SETCURSOR", "NCHITTEST", "MOVE"});
    }

    afxuser::CHeadlessScreen screen;
    testwin::Recorder rec;
    std::vector<HWND> made;
    std::map<HWND, DWORD> colours;
};

TEST_F(PaintTest, InvalidatingAParentRepaintsTheChildrenItOverlapsAfterItUnlessItClipsThem) {
    struct Case {
        DWORD parentStyle;
        RECT invalid;
        Lines painted;
    };
    const Case cases[] = {
        {0, {0, 0, 300, 200}, {"p WM_PAINT", "p WM_ERASEBKGND", "c WM_PAINT", "c WM_ERASEBKGND"}},
        {0, {0, 0, 20, 20}, {"p WM_PAINT", "p WM_ERASEBKGND"}}, // misses the child
        {WS_CLIPCHILDREN, {0, 0, 300, 200}, {"p WM_PAINT", "p WM_ERASEBKGND"}},
        {0, {60, 60, 60, 90}, {}}, // empty: nothing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.parentStyle);
        HWND p = Make("p", WS_POPUP | WS_VISIBLE | c.parentStyle, RECT{0, 0, 300, 200}, nullptr, 0xFF0000);
        Make("c", WS_CHILD | WS_VISIBLE, RECT{50, 40, 150, 90}, p, 0x0000FF);
        Painted();
        InvalidateRect(p, &c.invalid, TRUE);
        EXPECT_EQ(Painted(), c.painted);
        DestroyWindow(p);
    }
}

TEST_F(PaintTest, EraseComesOnlyWhenAskedForAndPaintsWaitForTheQueue) {
    HWND p = Make("p", WS_POPUP | WS_VISIBLE, RECT{0, 0, 300, 200});
    Painted();
    InvalidateRect(p, nullptr, FALSE);
    EXPECT_EQ(Painted(), (Lines{"p WM_PAINT"}));
    InvalidateRect(p, nullptr, FALSE);
    InvalidateRect(p, nullptr, TRUE);
    InvalidateRect(p, nullptr, FALSE);
    EXPECT_EQ(Painted(), (Lines{"p WM_PAINT", "p WM_ERASEBKGND"})) << "one paint; the erase stays asked for";

    // A posted message goes before the paint.
    InvalidateRect(p, nullptr, TRUE);
    PostMessageA(p, WM_COMMAND, 7, 0);
    EXPECT_EQ(Painted(), (Lines{"p WM_COMMAND 7", "p WM_PAINT", "p WM_ERASEBKGND"}));

    // UpdateWindow paints before it returns; ValidateRect takes the paint away.
    InvalidateRect(p, nullptr, TRUE);
    rec.Clear();
    UpdateWindow(p);
    EXPECT_EQ(rec.Log(), (Lines{"p WM_PAINT", "p WM_ERASEBKGND"}));
    EXPECT_EQ(Painted(), Lines{});
    InvalidateRect(p, nullptr, TRUE);
    ValidateRect(p, nullptr);
    EXPECT_EQ(Painted(), Lines{});
    RECT r{};
    EXPECT_FALSE(GetUpdateRect(p, &r, FALSE));

    // A hidden window is not painted until it shows.
    ShowWindow(p, SW_HIDE);
    InvalidateRect(p, nullptr, TRUE);
    EXPECT_EQ(Painted(), Lines{});
    ShowWindow(p, SW_SHOW);
    EXPECT_EQ(Painted(), (Lines{"p WM_PAINT", "p WM_ERASEBKGND"}));
}

TEST_F(PaintTest, RedrawWindowUpdatesAtOnceWithoutTheChildren) {
    HWND p = Make("p", WS_POPUP | WS_VISIBLE, RECT{0, 0, 300, 200});
    Make("c", WS_CHILD | WS_VISIBLE, RECT{50, 40, 150, 90}, p);
    Painted();
    rec.Clear();
    RedrawWindow(p, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_NOCHILDREN | RDW_UPDATENOW);
    EXPECT_EQ(rec.Log(), (Lines{"p WM_PAINT", "p WM_ERASEBKGND"}));
    EXPECT_EQ(Painted(), Lines{}) << "RDW_NOCHILDREN leaves the child valid";

    rec.Clear();
    RedrawWindow(p, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    EXPECT_EQ(rec.Log(), (Lines{"p WM_PAINT", "c WM_PAINT"}));
}

TEST_F(PaintTest, TheScreenComposesChildrenOverTheirParentClippedAndWindowsInZOrder) {
    screen.SetScreen(SIZE{200, 150}, RECT{0, 0, 200, 150});
    HWND a = Make("a", WS_POPUP | WS_VISIBLE, RECT{10, 10, 110, 90}, nullptr, 0xFF0000);
    // The child hangs out of its parent's right edge: only the part inside shows.
    Make("c", WS_CHILD | WS_VISIBLE, RECT{80, 20, 140, 40}, a, 0x0000FF);
    HWND b = Make("b", WS_POPUP | WS_VISIBLE, RECT{100, 60, 160, 120}, nullptr, 0x00FF00);
    Painted();
    struct Case {
        int x, y;
        DWORD rgb;
    };
    const Case cases[] = {
        {5, 5, 0x000000},     {10, 10, 0xFF0000},  {89, 29, 0xFF0000},  {90, 30, 0x0000FF},
        {109, 31, 0x0000FF},  {110, 31, 0x000000}, {100, 60, 0x00FF00}, {105, 65, 0x00FF00},
        {159, 119, 0x00FF00}, {99, 89, 0xFF0000},
    };
    for (const Case& c : cases)
        EXPECT_EQ(screen.ScreenPixel(c.x, c.y), c.rgb) << c.x << "," << c.y;

    SetForegroundWindow(a);
    EXPECT_EQ(screen.ScreenPixel(105, 65), 0xFF0000u) << "the activated window came to the front";
    ShowWindow(a, SW_HIDE);
    EXPECT_EQ(screen.ScreenPixel(20, 20), 0x000000u);
    std::string path = std::string(PROJECT_BINARY_DIR) + "/user_paint_screen.png";
    EXPECT_TRUE(screen.WriteScreenPng(path));
    EXPECT_TRUE(screen.WriteWindowPng(b, std::string(PROJECT_BINARY_DIR) + "/user_paint_window.png"));
    cairo_surface_t* png = cairo_image_surface_create_from_png(path.c_str());
    EXPECT_EQ(cairo_image_surface_get_width(png), 200);
    cairo_surface_destroy(png);
}

TEST_F(PaintTest, NewSurfacesAreZeroFilledAndFollowTheWindowsSize) {
    HWND p = Make("p", WS_POPUP, RECT{0, 0, 30, 20});
    cairo_surface_t* s = afxuser::WindowSurface(p);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(cairo_image_surface_get_width(s), 30);
    EXPECT_EQ(cairo_image_surface_get_format(s), CAIRO_FORMAT_RGB24);
    const unsigned char* d = cairo_image_surface_get_data(s);
    bool zero = true;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30 * 4; ++x)
            zero = zero && d[y * cairo_image_surface_get_stride(s) + x] == 0;
    EXPECT_TRUE(zero);
    cairo_surface_destroy(s);
    MoveWindow(p, 0, 0, 64, 48, TRUE);
    s = afxuser::WindowSurface(p);
    EXPECT_EQ(cairo_image_surface_get_width(s), 64);
    EXPECT_EQ(cairo_image_surface_get_height(s), 48);
    cairo_surface_destroy(s);
}

// A framework window that paints its whole client area in its current colour on WM_PAINT.
class CColourWnd : public CWnd {
public:
    COLORREF colour = RGB(0, 0, 0);
    int paints = 0;

protected:
    void OnPaint() {
        CPaintDC dc(this);
        CRect rc;
        GetClientRect(&rc);
        dc.FillSolidRect(&rc, colour);
        ++paints;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CColourWnd, CWnd)
ON_WM_PAINT()
END_MESSAGE_MAP()

TEST(PaintDC, DrawsOnlyWhereTheWindowWasInvalidAndTheScreenShowsIt) {
    afxuser::CHeadlessScreen screen(SIZE{100, 100}, RECT{0, 0, 100, 100});
    screen.Install();
    CColourWnd w;
    w.colour = RGB(0, 0, 255);
    ASSERT_TRUE(w.CreateEx(0, nullptr, "", WS_POPUP | WS_VISIBLE, 10, 10, 50, 40, nullptr, 0));
    EXPECT_EQ(GetClassLongA(w, GCL_STYLE) & CS_DBLCLKS, static_cast<DWORD>(CS_DBLCLKS))
        << "the framework's default class";
    afxuser::CHeadlessScreen::Pump();
    EXPECT_EQ(w.paints, 1);
    EXPECT_EQ(screen.ScreenPixel(10, 10), 0x0000FFu);
    EXPECT_EQ(screen.ScreenPixel(59, 49), 0x0000FFu);

    // A fill of the whole client area reaches only the invalid part.
    w.colour = RGB(0, 255, 0);
    CRect part(5, 5, 15, 10);
    w.InvalidateRect(&part, FALSE);
    w.UpdateWindow();
    EXPECT_EQ(w.paints, 2);
    EXPECT_EQ(screen.ScreenPixel(15, 15), 0x00FF00u);
    EXPECT_EQ(screen.ScreenPixel(24, 19), 0x00FF00u);
    EXPECT_EQ(screen.ScreenPixel(25, 19), 0x0000FFu);
    EXPECT_EQ(screen.ScreenPixel(15, 20), 0x0000FFu);

    // A client DC draws at once, anywhere in the window.
    {
        CClientDC dc(&w);
        dc.FillSolidRect(0, 0, 1, 1, RGB(255, 0, 0));
    }
    EXPECT_EQ(screen.ScreenPixel(10, 10), 0xFF0000u);
    w.DestroyWindow();
}

} // namespace
