// The skinned frame: which pixel of the edge picture lands where in each look, the strips drawn
// once and grown only beyond the screen, a skin switch, the tool strip, and the frame's input:
// hit tests, border drags, maximizing, caption buttons, hover and leave.
#include "skin/SkinDlg.h"
#include "tests/skin/SkinTestKit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A skinned window whose close is recorded instead of destroying it, with its buttons in view.
class TestDlg : public CSkinDlg {
public:
    TestDlg() : CSkinDlg(102, nullptr) {}
    ~TestDlg() override {
        if (m_hWnd)
            DestroyWindow();
    }
    void OnSkinClose() override { ++closes; }
    BOOL Make(int x, int y, int cx, int cy, DWORD style = WS_POPUP | WS_VISIBLE, HWND parent = nullptr) {
        return CreateEx(0, nullptr, "skinned", style, x, y, cx, cy, parent, 0);
    }
    CImageButton& Close() { return m_btnClose; }
    CImageButton& Max() { return m_btnMax; }
    CImageButton& Set() { return m_btnSet; }
    CImageButton& Icon() { return m_btnIcon; }
    CDC& DisplayedStrips() { return m_dcHorz; }
    CRect Cache() const { return m_rcCache; }
    int HitZone() const { return m_nHitZone; }
    int closes = 0;
};

CRect WindowRect(HWND h) {
    CRect r;
    ::GetWindowRect(h, &r);
    return r;
}

// An edge picture whose every pixel says where it comes from: red the low byte of x, green the
// low byte of y, blue their high bits.
std::string CoordinatePicture(int w, int h) {
    std::vector<uint32_t> px(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            px[static_cast<size_t>(y) * w + x] = 0xFF000000u | (static_cast<uint32_t>(x & 0xFF) << 16) |
                                                 (static_cast<uint32_t>(y & 0xFF) << 8) |
                                                 static_cast<uint32_t>(((y >> 8) << 4) | (x >> 8));
    return pngfixture::Png(w, h, px);
}
CPoint SourceOf(DWORD rgb) {
    const int r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    return CPoint(r | ((b & 0x0F) << 8), g | ((b >> 4) << 8));
}

class EdgePixels : public ::testing::Test {
protected:
    void SetUp() override {
        screen.Install();
        skin.Put("enc.png", CoordinatePicture(300, 178));
        skin.Put("Edge.xml",
                 "<?xml version=\"1.0\"encoding=\"UTF-8\"?><items><item name=\"edge\" image=\"enc.png\" "
                 "rect=\"2,54,2,2\" max_rect=\"2,0,2,2\"/></items>");
        dlg.LoadSkin("Edge.xml");
        ASSERT_TRUE(dlg.Make(0, 0, 1000, 700));
        ::SetActiveWindow(dlg.m_hWnd);
        afxuser::CHeadlessScreen::Pump();
    }
    CPoint At(int x, int y) const { return SourceOf(screen.ScreenPixel(x, y)); }

    afxuser::CHeadlessScreen screen;
    SkinFolder skin;
    TestDlg dlg;
};

struct EdgeCase {
    POINT dest;
    POINT activeSource; // the inactive look takes the same pixel 89 rows lower
};

TEST_F(EdgePixels, EachLookCopiesCornersAndStretchesEdgesFromItsHalf) {
    const EdgeCase cases[] = {
        {{0, 0}, {0, 0}},        {{1, 53}, {1, 53}},     // top-left corner
        {{2, 10}, {2, 10}},      {{500, 20}, {146, 20}}, // caption stretched sideways only
        {{997, 30}, {290, 30}},                          // the strip's left part up to the right corner
        {{998, 0}, {298, 0}},    {{999, 53}, {299, 53}}, // top-right corner from the strip's end
        {{0, 54}, {0, 54}},      {{1, 400}, {1, 68}},     {{0, 697}, {0, 81}}, // left border, stretched down
        {{998, 300}, {298, 64}},                                               // right border
        {{0, 698}, {0, 87}},     {{500, 699}, {146, 88}}, {{999, 699}, {299, 88}}, // bottom
    };
    for (const EdgeCase& c : cases) {
        const CPoint s = At(c.dest.x, c.dest.y);
        EXPECT_EQ(s, CPoint(c.activeSource)) << "active at " << c.dest.x << "," << c.dest.y;
    }
    // Another window takes the activation: the whole frame comes from the lower half.
    skintest::CommandSink other;
    ::ShowWindow(other.m_hWnd, SW_SHOW);
    ::MoveWindow(other.m_hWnd, 1010, 0, 10, 10, TRUE);
    ::SetActiveWindow(other.m_hWnd);
    afxuser::CHeadlessScreen::Pump();
    for (const EdgeCase& c : cases) {
        const CPoint s = At(c.dest.x, c.dest.y);
        EXPECT_EQ(s, CPoint(c.activeSource.x, c.activeSource.y + 89))
            << "inactive at " << c.dest.x << "," << c.dest.y;
    }
    ::SetActiveWindow(dlg.m_hWnd);
    afxuser::CHeadlessScreen::Pump();
    EXPECT_EQ(At(500, 20), CPoint(146, 20)) << "active again";
}

TEST_F(EdgePixels, ResizingWithinTheScreenCopiesStripsAndGrowingBeyondItDrawsThemAgain) {
    // A mark in the displayed strips survives every paint that only copies them.
    dlg.DisplayedStrips().SetPixel(300, 10, RGB(1, 2, 3));
    ::MoveWindow(dlg.m_hWnd, 0, 0, 800, 600, TRUE);
    afxuser::CHeadlessScreen::Pump();
    EXPECT_EQ(screen.ScreenPixel(300, 10), 0x010203u);
    EXPECT_EQ(At(798, 599), CPoint(298, 88)) << "the bottom-right corner follows the window";
    EXPECT_EQ(dlg.Cache(), CRect(0, 0, 1024, 768));

    screen.SetScreen(SIZE{1400, 900}, RECT{0, 0, 1400, 860});
    ::MoveWindow(dlg.m_hWnd, 0, 0, 1200, 700, TRUE);
    afxuser::CHeadlessScreen::Pump();
    EXPECT_EQ(dlg.Cache(), CRect(0, 0, 1200, 768));
    EXPECT_NE(screen.ScreenPixel(300, 10), 0x010203u) << "the strips were drawn again";
    EXPECT_EQ(At(1199, 0), CPoint(299, 0));
    EXPECT_EQ(At(600, 20), CPoint(2 + (2 * 598 + 1) * 296 / (2 * 1196), 20));
}

TEST_F(EdgePixels, AWindowSkinWithoutEdgePaintsNothingAndHasNoZones) {
    skin.Put("Bare.xml", "<?xml version=\"1.0\"encoding=\"UTF-8\"?><items/>");
    TestDlg bare;
    bare.LoadSkin("Bare.xml");
    ASSERT_TRUE(bare.Make(0, 0, 600, 450));
    EXPECT_EQ(bare.SendMessage(WM_NCHITTEST, 0, MAKELPARAM(1, 5)), HTCLIENT);
    EXPECT_EQ(bare.SendMessage(WM_NCHITTEST, 0, MAKELPARAM(300, 0)), HTCLIENT);
}

// The program's own window skins.
class SkinnedFrame : public skintest::BuiltInPackage {
protected:
    void SetUp() override {
        skintest::BuiltInPackage::SetUp();
        screen.SetScreen(SIZE{1200, 800}, RECT{0, 0, 1200, 760});
    }
    void Open(TestDlg& d, const char* skinFile, CRect at) {
        d.LoadSkin(skinFile);
        ASSERT_TRUE(d.Make(at.left, at.top, at.Width(), at.Height()));
        ::SetActiveWindow(d.m_hWnd);
        afxuser::CHeadlessScreen::Pump();
    }
    // The frame's pixels only: what lies inside it is the subclasses' to cover.
    std::vector<uint32_t> FramePixels(HWND h, CRect edge) {
        const skintest::Shot shot = skintest::ShootWindow(screen, h);
        std::vector<uint32_t> px;
        for (int y = 0; y < shot.height; ++y)
            for (int x = 0; x < shot.width; ++x)
                if (y < edge.top || y >= shot.height - edge.bottom || x < edge.left ||
                    x >= shot.width - edge.right)
                    px.push_back(shot.at(x, y));
        return px;
    }
};

TEST_F(SkinnedFrame, ASkinSwitchPaintsWhatAWindowMadeWithTheNewSkinPaints) {
    TestDlg switched, fresh;
    Open(switched, "WinSkin3.xml", CRect(0, 0, 1000, 700));
    EXPECT_EQ(switched.Close().GetRect().Width(), 76) << "WinSkin3's close button";
    switched.LoadSkin("WinSkin.xml");
    switched.ReloadSkinLayout();
    afxuser::CHeadlessScreen::Pump();
    EXPECT_EQ(switched.Close().GetRect(), CRect(1000 - 8 - 34, 0, 1000 - 8, 26))
        << "sized by the new picture";
    EXPECT_EQ(switched.Icon().GetRect(), CRect(20, 0, 20 + 151, 48));
    const std::vector<uint32_t> a = FramePixels(switched.m_hWnd, CRect(2, 54, 2, 2));
    ::ShowWindow(switched.m_hWnd, SW_HIDE);

    Open(fresh, "WinSkin.xml", CRect(0, 0, 1000, 700));
    const std::vector<uint32_t> b = FramePixels(fresh.m_hWnd, CRect(2, 54, 2, 2));
    ASSERT_EQ(a.size(), b.size());
    size_t differ = 0, first = a.size();
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && differ++ == 0)
            first = i;
    EXPECT_EQ(differ, 0u) << "first at index " << first;
}

TEST_F(SkinnedFrame, AButtonTheNewSkinLacksIsNeitherDrawnNorHit) {
    TestDlg d;
    Open(d, "WinSkin.xml", CRect(0, 0, 1000, 700));
    const CRect max = d.Max().GetRect();
    ASSERT_FALSE(max.IsRectNull());
    skin.Put("NoMax.xml",
             "<?xml version=\"1.0\"encoding=\"UTF-8\"?><items><item name=\"edge\" image=\"win_edge.png\" "
             "rect=\"2,54,2,2\" max_rect=\"2,0,2,2\"/><item name=\"close\" image=\"win_close.png\" "
             "rect=\"-1,0,8,-1\"/></items>");
    d.LoadSkin("NoMax.xml");
    d.ReloadSkinLayout();
    afxuser::CHeadlessScreen::Pump();
    EXPECT_TRUE(d.Max().GetRect().IsRectNull());
    const CPoint c = max.CenterPoint();
    EXPECT_EQ(d.SendMessage(WM_NCHITTEST, 0, MAKELPARAM(c.x, c.y)), HTCAPTION) << "where the button was";
    EXPECT_EQ(d.SendMessage(WM_NCHITTEST, 0, MAKELPARAM(500, 300)), HTCLIENT);
    const skintest::Shot shot = skintest::ShootWindow(screen, d.m_hWnd);
    EXPECT_EQ(shot.at(c.x, c.y), shot.at(c.x - 200, c.y)) << "the caption band shows through";
    d.LoadSkin("WinSkin.xml");
    d.ReloadSkinLayout();
    EXPECT_EQ(d.Max().GetRect(), max) << "back when a skin names it again";
}

// The main window's way: a dialog from its template, run modally, closed by its close button.
class ModalFrame : public CSkinDlg {
public:
    explicit ModalFrame(afxuser::CHeadlessScreen& screen) : CSkinDlg(102, nullptr), m_screen(screen) {}
    BOOL OnInitDialog() override {
        CSkinDlg::OnInitDialog();
        ::MoveWindow(m_hWnd, 0, 0, 1000, 700, TRUE);
        const CPoint c = m_btnClose.GetRect().CenterPoint();
        closeAt = c;
        // The user's click, queued now and served by the dialog's own loop.
        m_screen.SetPumping(false);
        m_screen.MoveTo(c.x, c.y);
        m_screen.Click(c.x, c.y);
        m_screen.SetPumping(true);
        return TRUE;
    }
    CPoint closeAt;

private:
    afxuser::CHeadlessScreen& m_screen;
};

TEST_F(SkinnedFrame, AModalFrameFromItsTemplateEndsWithCancelFromItsCloseButton) {
    ModalFrame frame(screen);
    frame.LoadSkin("WinSkin3.xml");
    EXPECT_EQ(frame.DoModal(), IDCANCEL);
    EXPECT_EQ(frame.closeAt, CPoint(1000 - 8 - 38, 20 + 37)) << "WinSkin3's close button, 76 x 75";
}

TEST_F(SkinnedFrame, TheToolStripAlwaysShowsTheInactiveLookWithItsCloseButtonInPlace) {
    skintest::CommandSink owner;
    ::MoveWindow(owner.m_hWnd, 0, 0, 1000, 700, TRUE);
    ::ShowWindow(owner.m_hWnd, SW_SHOW);
    ::SetActiveWindow(owner.m_hWnd);
    TestDlg strip;
    strip.SetCustomHitTest(FALSE);
    strip.LoadSkin("WinSkin4.xml");
    ASSERT_TRUE(strip.Make(100, 100, 600, 97, WS_CHILD | WS_VISIBLE, owner.m_hWnd));
    afxuser::CHeadlessScreen::Pump();
    EXPECT_EQ(strip.Close().GetRect(), CRect(10, 30, 61, 81));
    // The close picture's second row, frame 0, is what the strip shows at the button.
    PngFile close = ReadPng(ReadFileBytes(skin.File("win_close_a.png")));
    PngFile edge = ReadPng(ReadFileBytes(skin.File("win_edge_a.png")));
    const auto rgb = [](uint32_t argb) { return argb & 0xFFFFFFu; };
    const uint32_t want = skintest::Argb(close, 25, 51 + 25);
    if ((want >> 24) == 0xFF) {
        EXPECT_EQ(screen.ScreenPixel(100 + 35, 100 + 55), rgb(want));
    }
    EXPECT_EQ(screen.ScreenPixel(100 + 300, 100 + 5), rgb(skintest::Argb(edge, 122, 95 + 5)))
        << "the lower half's caption";
    // Its frame does not take the mouse: no zones, no caption band.
    EXPECT_EQ(strip.SendMessage(WM_NCHITTEST, 0, MAKELPARAM(101, 150)), HTCLIENT);
    EXPECT_EQ(strip.SendMessage(WM_NCHITTEST, 0, MAKELPARAM(400, 110)), HTCLIENT);
    // Its close button works.
    screen.Click(100 + 35, 100 + 55);
    EXPECT_EQ(strip.closes, 1);
}

// Input on WinSkin.xml: edge "2,54,2,2", max_rect "2,0,2,2"; buttons 34 x 26 at the top right.
class FrameInput : public SkinnedFrame {
protected:
    void SetUp() override {
        SkinnedFrame::SetUp();
        screen.SetScreen(SIZE{1600, 1000}, RECT{0, 0, 1600, 960});
        Open(dlg, "WinSkin.xml", CRect(0, 0, 1000, 700));
    }
    LRESULT Hit(int x, int y) { return dlg.SendMessage(WM_NCHITTEST, 0, MAKELPARAM(x, y)); }
    TestDlg dlg;
};

TEST_F(FrameInput, HitTestsAnswerTheSkinsZones) {
    const struct {
        POINT at;
        LRESULT code;
    } cases[] = {
        {{1, 50}, HTLEFT},
        {{1, 0}, HTLEFT},
        {{998, 300}, HTRIGHT},
        {{500, 699}, HTBOTTOM},
        {{1, 699}, HTBOTTOMLEFT},
        {{998, 699}, HTBOTTOMRIGHT},
        {{500, 0}, HTCAPTION},
        {{500, 20}, HTCAPTION},
        {{500, 53}, HTCAPTION},
        {{500, 54}, HTCLIENT},
        {{2, 20}, HTCAPTION},
        {{980, 10}, HTCLIENT},            // close
        {{1000 - 42 - 17, 10}, HTCLIENT}, // max
        {{30, 10}, HTCLIENT},             // icon
    };
    for (const auto& c : cases)
        EXPECT_EQ(Hit(c.at.x, c.at.y), c.code) << c.at.x << "," << c.at.y;
    EXPECT_EQ(Hit(500, 300), HTCLIENT);
    EXPECT_EQ(dlg.HitZone(), HITZONE_NONE);
}

TEST_F(FrameInput, BorderDragsFollowTheCursorPastTheirThresholdsAndStopAtTheMinimum) {
    ::MoveWindow(dlg.m_hWnd, 200, 100, 1000, 700, TRUE);
    struct Case {
        const char* name;
        POINT press;
        POINT to;
        CRect result;
    };
    const Case cases[] = {
        {"left 5 px", {200, 400}, {195, 400}, CRect(200, 100, 1200, 800)},
        {"left 8 px", {200, 400}, {192, 400}, CRect(200, 100, 1200, 800)},
        {"left 9 px", {200, 400}, {191, 400}, CRect(191, 100, 1200, 800)},
        {"right 9 px", {1199, 400}, {1209, 400}, CRect(200, 100, 1209, 800)},
        {"bottom 8 px", {600, 799}, {600, 808}, CRect(200, 100, 1200, 800)},
        // WinSkin.xml names 740 x 440 as its smallest size.
        {"right to 450 wide", {1198, 400}, {650, 400}, CRect(200, 100, 940, 800)},
        {"left to 450 wide", {201, 400}, {750, 400}, CRect(460, 100, 1200, 800)},
        {"corner too small", {1198, 799}, {500, 300}, CRect(200, 100, 940, 540)},
        {"corner follows", {1198, 799}, {1000, 600}, CRect(200, 100, 1000, 600)},
    };
    for (const Case& c : cases) {
        ::MoveWindow(dlg.m_hWnd, 200, 100, 1000, 700, TRUE);
        screen.MoveTo(c.press.x, c.press.y);
        screen.Press(c.press.x, c.press.y);
        EXPECT_TRUE(dlg.IsSizing()) << c.name;
        screen.MoveTo(c.to.x, c.to.y);
        screen.Release(c.to.x, c.to.y);
        EXPECT_FALSE(dlg.IsSizing()) << c.name;
        const CRect got = WindowRect(dlg.m_hWnd);
        EXPECT_EQ(got, c.result) << c.name << ": " << got.left << "," << got.top << "," << got.right << ","
                                 << got.bottom;
        EXPECT_EQ(::GetCapture(), nullptr) << c.name;
    }
}

// The smallest size goes to whoever else sizes the window (a window manager's frame) as its
// tracking size: the skin's own, or the work area on a screen too small for it, and never below
// the frame's floor for a skin that names none.
TEST_F(FrameInput, TheSmallestSizeIsTheSkinsWithinTheWorkArea) {
    struct Case {
        const char* skin;
        RECT work;
        POINT least;
    };
    const Case cases[] = {
        {"WinSkin.xml", RECT{0, 0, 1600, 960}, POINT{740, 440}},
        {"WinSkin.xml", RECT{0, 30, 700, 430}, POINT{700, 400}},
        {"WinSkin4.xml", RECT{0, 0, 1600, 960}, POINT{SKIN_MIN_WIDTH, SKIN_MIN_HEIGHT}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.skin);
        screen.SetScreen(SIZE{1600, 1000}, c.work);
        dlg.LoadSkin(c.skin);
        MINMAXINFO mmi{};
        dlg.SendMessage(WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&mmi));
        EXPECT_EQ(mmi.ptMinTrackSize.x, c.least.x);
        EXPECT_EQ(mmi.ptMinTrackSize.y, c.least.y);
        EXPECT_EQ(mmi.ptMaxPosition.x, c.work.left);
        EXPECT_EQ(mmi.ptMaxPosition.y, c.work.top);
        EXPECT_EQ(mmi.ptMaxSize.x, c.work.right - c.work.left);
        EXPECT_EQ(mmi.ptMaxSize.y, c.work.bottom - c.work.top);
    }
}

TEST_F(FrameInput, ALostCaptureOrAMissedReleaseEndsTheDrag) {
    screen.MoveTo(998, 300);
    screen.Press(998, 300);
    ASSERT_TRUE(dlg.IsSizing());
    skintest::CommandSink thief;
    ::SetCapture(thief.m_hWnd);
    EXPECT_FALSE(dlg.IsSizing());
    ::ReleaseCapture();
    dlg.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(600, 300));
    EXPECT_EQ(WindowRect(dlg.m_hWnd), CRect(0, 0, 1000, 700)) << "later moves do not resize";
    screen.Release(998, 300);

    screen.MoveTo(998, 300);
    screen.Press(998, 300);
    ASSERT_TRUE(dlg.IsSizing());
    dlg.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(700, 300)); // no MK_LBUTTON: the release was lost
    EXPECT_FALSE(dlg.IsSizing());
    EXPECT_EQ(::GetCapture(), nullptr);
    EXPECT_EQ(WindowRect(dlg.m_hWnd), CRect(0, 0, 1000, 700));
}

TEST_F(FrameInput, DoubleClicksOnCaptionOrBorderMaximizeOverTheWorkAreaAndRestore) {
    screen.SetScreen(SIZE{1000, 768}, RECT{0, 0, 1000, 700});
    ::MoveWindow(dlg.m_hWnd, 50, 40, 800, 600, TRUE);
    screen.DoubleClick(400, 60);
    EXPECT_TRUE(::IsZoomed(dlg.m_hWnd));
    EXPECT_EQ(WindowRect(dlg.m_hWnd), CRect(0, 0, 1000, 700)) << "the work area and no more";
    EXPECT_EQ(dlg.Close().GetRect(), CRect(1000 - 8 - 34, 0, 1000 - 8, 26)) << "buttons follow";
    screen.DoubleClick(500, 20);
    EXPECT_FALSE(::IsZoomed(dlg.m_hWnd));
    EXPECT_EQ(WindowRect(dlg.m_hWnd), CRect(50, 40, 850, 640));
    screen.DoubleClick(51, 300); // the left border
    EXPECT_TRUE(::IsZoomed(dlg.m_hWnd));
    // Restored by other means, the next toggle maximizes again rather than restoring.
    dlg.SendMessage(WM_SYSCOMMAND, SC_RESTORE, 0);
    screen.DoubleClick(400, 60);
    EXPECT_TRUE(::IsZoomed(dlg.m_hWnd));
}

TEST_F(FrameInput, CaptionButtonsCommandOnlyWhenReleasedOverThem) {
    const CRect close = dlg.Close().GetRect();
    const CPoint c = close.CenterPoint();
    screen.MoveTo(c.x, c.y);
    screen.Press(c.x, c.y);
    EXPECT_EQ(dlg.Close().GetFrame(), 2);
    screen.MoveTo(c.x - 200, c.y + 200);
    EXPECT_EQ(dlg.Close().GetFrame(), 0) << "dragged off";
    screen.Release(c.x - 200, c.y + 200);
    EXPECT_EQ(dlg.closes, 0);
    screen.Click(c.x, c.y);
    EXPECT_EQ(dlg.closes, 1);
    EXPECT_EQ(::GetCapture(), nullptr);

    const CPoint m = dlg.Max().GetRect().CenterPoint();
    screen.Click(m.x, m.y);
    EXPECT_TRUE(::IsZoomed(dlg.m_hWnd));
    const CPoint m2 = dlg.Max().GetRect().CenterPoint();
    screen.Click(m2.x, m2.y);
    EXPECT_FALSE(::IsZoomed(dlg.m_hWnd));

    const CPoint i = dlg.Icon().GetRect().CenterPoint();
    screen.Click(i.x, i.y);
    EXPECT_FALSE(::IsZoomed(dlg.m_hWnd));
    EXPECT_TRUE(::IsWindowVisible(dlg.m_hWnd)) << "the icon does nothing";
}

TEST_F(FrameInput, HoverShowsOnTheFrameAndLeavingOntoTheCaptionTakesItBack) {
    PngFile pic = ReadPng(ReadFileBytes(skin.File("win_close.png")));
    const CRect close = dlg.Close().GetRect();
    const int px = close.left + 17, py = close.top + 13;
    const auto shown = [&] { return screen.ScreenPixel(px, py); };
    const auto frame = [&](int f) { return skintest::Argb(pic, 34 * f + 17, 13) & 0xFFFFFFu; };
    screen.MoveTo(px, py);
    EXPECT_EQ(dlg.Close().GetFrame(), 1);
    if ((skintest::Argb(pic, 34 + 17, 13) >> 24) == 0xFF) {
        EXPECT_EQ(shown(), frame(1));
    }
    screen.MoveTo(500, 20); // the caption band is not client area: the pointer has left
    afxuser::CHeadlessScreen::Pump();
    EXPECT_EQ(dlg.Close().GetFrame(), 0);
    if ((skintest::Argb(pic, 17, 13) >> 24) == 0xFF) {
        EXPECT_EQ(shown(), frame(0));
    }
    screen.MoveTo(px, py);
    EXPECT_EQ(dlg.Close().GetFrame(), 1) << "tracking was asked for again";
}

} // namespace
