// The tool bar on the program's own tool-bar skins: tab presses and releases as a table, the
// pictures each state leaves, the inactive look, the reading tab shown and hidden, a screen
// narrower than the tool bar, a skin switch, and skins that lack a background or add a login.
#include "skin/MyToolBar.h"
#include "tests/skin/SkinTestKit.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using skintest::Argb;

class TestToolBar : public CMyToolBar {
public:
    CImageButton& Home() { return m_btnHome; }
    CImageButton& MakeBook() { return m_btnMakeBook; }
    CImageButton& MyBook() { return m_btnMyBook; }
    CImageButton& Read() { return m_btnRead; }
    CImageButton& Login() { return m_btnLogin; }
    CIconButton& Username() { return m_btnUsername; }
    CRect Buffer() const { return m_rcBuffer; }
};

// A point of a button picture where two frames differ and both rows are opaque, so that the
// screen shows the picture's own value there.
std::optional<CPoint> Probe(const PngFile& pic, int frameA, int frameB) {
    const int fw = static_cast<int>(pic.width / 4), fh = static_cast<int>(pic.height / 2);
    for (int y = fh / 4; y < fh; ++y)
        for (int x = fw / 4; x < fw; ++x) {
            bool ok = true;
            for (int row = 0; row < 2 && ok; ++row) {
                const uint32_t a = Argb(pic, fw * frameA + x, fh * row + y),
                               b = Argb(pic, fw * frameB + x, fh * row + y);
                ok = (a >> 24) == 0xFF && (b >> 24) == 0xFF && (a & 0xFFFFFF) != (b & 0xFFFFFF);
            }
            if (ok)
                return CPoint(x, y);
        }
    return std::nullopt;
}

class ToolBarTest : public skintest::BuiltInPackage {
protected:
    void SetUp() override {
        skintest::BuiltInPackage::SetUp();
        ::MoveWindow(main.m_hWnd, 0, 0, 1024, 728, TRUE);
        ::ShowWindow(main.m_hWnd, SW_SHOW);
        ::SetActiveWindow(main.m_hWnd);
        afxuser::CHeadlessScreen::Pump();
    }
    void Open(const char* skinFile, CRect at = CRect(105, 0, 856, 111)) {
        ASSERT_TRUE(bar.Create(nullptr, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, at, &main, 13908));
        bar.LoadSkin(skinFile);
        afxuser::CHeadlessScreen::Pump();
    }
    PngFile Picture(const std::string& name) { return ReadPng(ReadFileBytes(skin.File(name))); }
    // What the screen shows at a point of a button (in the button's own coordinates).
    DWORD Shown(CImageButton& b, CPoint p) {
        CRect w;
        ::GetWindowRect(bar.m_hWnd, &w);
        return screen.ScreenPixel(w.left + b.GetRect().left + p.x, w.top + b.GetRect().top + p.y);
    }
    uint32_t Frame(const PngFile& pic, int frame, int row, CPoint p) {
        const int fw = static_cast<int>(pic.width / 4), fh = static_cast<int>(pic.height / 2);
        return Argb(pic, fw * frame + p.x, fh * row + p.y) & 0xFFFFFFu;
    }
    void Press(CImageButton& b) {
        CRect w;
        ::GetWindowRect(bar.m_hWnd, &w);
        const CPoint c = b.GetRect().CenterPoint();
        screen.MoveTo(w.left + c.x, w.top + c.y);
        screen.Press(w.left + c.x, w.top + c.y);
    }
    void Release(CImageButton& b, CPoint shift = CPoint(0, 0)) {
        CRect w;
        ::GetWindowRect(bar.m_hWnd, &w);
        const CPoint c = b.GetRect().CenterPoint();
        screen.MoveTo(w.left + c.x + shift.x, w.top + c.y + shift.y);
        screen.Release(w.left + c.x + shift.x, w.top + c.y + shift.y);
    }

    skintest::CommandSink main;
    TestToolBar bar;
};

TEST_F(ToolBarTest, TheStartSkinPlacesItsThreeTabsSideBySide) {
    Open("ToolBar3.xml");
    // Side by side at the tool bar's right end, whatever its width.
    EXPECT_EQ(bar.Home().GetRect(), CRect(355, 0, 485, 111));
    EXPECT_EQ(bar.MakeBook().GetRect(), CRect(485, 0, 615, 111));
    EXPECT_EQ(bar.MyBook().GetRect(), CRect(615, 0, 751, 111));
    EXPECT_EQ(bar.Buffer(), CRect(0, 0, 1024, 222));
    EXPECT_FALSE(bar.Read().IsReady()) << "no reading tab in the start skin";
    EXPECT_FALSE(bar.Login().IsReady());
    EXPECT_FALSE(bar.Username().IsReady());
}

TEST_F(ToolBarTest, TabsFireAtThePressAndOnlyWhenUnchecked) {
    Open("ToolBar3.xml");
    const PngFile book = Picture("webbook3.png"), mine = Picture("myBook3.png"), mag = Picture("webmag3.png");
    const auto pBook = Probe(book, 0, 2), pMine = Probe(mine, 0, 2), pMag = Probe(mag, 0, 2);
    ASSERT_TRUE(pBook && pMine && pMag);
    struct Step {
        const char* what;
        std::function<void()> act;
        std::vector<UINT> clicks;   // after the step
        int home, makeBook, myBook; // frames after the step
    };
    const Step steps[] = {
        {"press book store", [&] { Press(bar.MakeBook()); }, {11008}, 0, 2, 0},
        {"release it", [&] { Release(bar.MakeBook()); }, {11008}, 0, 2, 0},
        {"press it again", [&] { Press(bar.MakeBook()); }, {11008}, 0, 2, 0},
        {"release again", [&] { Release(bar.MakeBook()); }, {11008}, 0, 2, 0},
        {"press the shelf", [&] { Press(bar.MyBook()); }, {11008, 11003}, 0, 0, 2},
        {"release it", [&] { Release(bar.MyBook()); }, {11008, 11003}, 0, 0, 2},
        {"the main window selects home", [&] { bar.SelectHome(); }, {11008, 11003}, 2, 0, 0},
        {"press the magazines, already checked", [&] { Press(bar.Home()); }, {11008, 11003}, 2, 0, 0},
        {"release", [&] { Release(bar.Home()); }, {11008, 11003}, 2, 0, 0},
    };
    for (const Step& s : steps) {
        s.act();
        EXPECT_EQ(main.clicks, s.clicks) << s.what;
        EXPECT_EQ(bar.Home().GetFrame() == 2, s.home == 2) << s.what;
        EXPECT_EQ(bar.MakeBook().GetFrame() == 2, s.makeBook == 2) << s.what;
        EXPECT_EQ(bar.MyBook().GetFrame() == 2, s.myBook == 2) << s.what;
        EXPECT_EQ(Shown(bar.MakeBook(), *pBook),
                  Frame(book, s.makeBook == 2 ? 2 : bar.MakeBook().GetFrame(), 0, *pBook))
            << s.what;
        EXPECT_EQ(Shown(bar.MyBook(), *pMine), Frame(mine, bar.MyBook().GetFrame(), 0, *pMine)) << s.what;
    }
    EXPECT_EQ(::GetCapture(), nullptr);
}

TEST_F(ToolBarTest, TheParentsTabSwitchHasRunBeforeThePressReturns) {
    Open("ToolBar3.xml");
    std::vector<std::string> order;
    main.onClick = [&](UINT id) {
        order.push_back("switch " + std::to_string(id));
        bar.SelectMakeBook(); // the main window follows up with the setter, from inside the send
    };
    Press(bar.MakeBook());
    order.push_back("pressed");
    Release(bar.MakeBook());
    EXPECT_EQ(order, (std::vector<std::string>{"switch 11008", "pressed"}));
    EXPECT_TRUE(bar.MakeBook().IsChecked());
    EXPECT_FALSE(bar.Home().IsChecked());
}

TEST_F(ToolBarTest, AnInactiveParentShowsTheLowerHalves) {
    Open("ToolBar3.xml");
    bar.SelectMyBook();
    const PngFile mine = Picture("myBook3.png");
    const auto p = Probe(mine, 0, 2);
    ASSERT_TRUE(p);
    EXPECT_EQ(Shown(bar.MyBook(), *p), Frame(mine, 2, 0, *p));
    skintest::CommandSink other;
    ::MoveWindow(other.m_hWnd, 0, 740, 10, 10, TRUE);
    ::ShowWindow(other.m_hWnd, SW_SHOW);
    ::SetActiveWindow(other.m_hWnd);
    bar.Repaint();
    EXPECT_EQ(Shown(bar.MyBook(), *p), Frame(mine, 2, 1, *p)) << "row 1";
    const PngFile mag = Picture("webmag3.png");
    const auto q = Probe(mag, 0, 2);
    ASSERT_TRUE(q);
    EXPECT_EQ(Shown(bar.Home(), *q), Frame(mag, 0, 1, *q)) << "every button in its second row";
}

TEST_F(ToolBarTest, TheReadingTabComesCheckedAndGoesLeavingTheBackground) {
    Open("ToolBar.xml", CRect(105, 0, 856, 54)); // as high as its skin's band, as the main window places it
    ASSERT_TRUE(bar.Read().IsReady());
    EXPECT_FALSE(bar.Read().IsVisible());
    const CPoint c = bar.Read().GetRect().CenterPoint();
    CRect w;
    ::GetWindowRect(bar.m_hWnd, &w);
    // The bare band at the same row, right of every tab.
    const DWORD background = screen.ScreenPixel(w.left + 700, w.top + c.y);
    EXPECT_EQ(screen.ScreenPixel(w.left + c.x, w.top + c.y), background) << "a hidden tab shows the band";
    screen.Click(w.left + c.x, w.top + c.y);
    EXPECT_TRUE(main.clicks.empty()) << "a hidden tab takes no click";

    bar.SelectHome();
    bar.SelectRead();
    EXPECT_TRUE(bar.Read().IsVisible());
    EXPECT_TRUE(bar.Read().IsChecked());
    EXPECT_FALSE(bar.Home().IsChecked());
    const PngFile read = Picture("read.png");
    const auto p = Probe(read, 0, 2);
    ASSERT_TRUE(p);
    EXPECT_EQ(Shown(bar.Read(), *p), Frame(read, 2, 0, *p));

    bar.HideRead();
    EXPECT_EQ(screen.ScreenPixel(w.left + c.x, w.top + c.y), background);
    screen.Click(w.left + c.x, w.top + c.y);
    EXPECT_TRUE(main.clicks.empty());
}

TEST_F(ToolBarTest, WithTheStartSkinSelectReadLeavesNoTabChecked) {
    Open("ToolBar3.xml");
    bar.SelectHome();
    bar.SelectRead();
    EXPECT_FALSE(bar.Home().IsChecked());
    EXPECT_FALSE(bar.MakeBook().IsChecked());
    EXPECT_FALSE(bar.MyBook().IsChecked());
    EXPECT_FALSE(bar.Read().IsVisible() && bar.Read().IsReady());
}

TEST_F(ToolBarTest, OnANarrowScreenTheBuffersWidenAndEveryTabStillShows) {
    screen.SetScreen(SIZE{640, 480}, RECT{0, 0, 640, 440});
    ::MoveWindow(main.m_hWnd, 0, 0, 900, 440, TRUE);
    Open("ToolBar3.xml", CRect(0, 0, 600, 111));
    EXPECT_EQ(bar.Buffer(), CRect(0, 0, 640, 222));
    bar.SelectHome();
    ::MoveWindow(bar.m_hWnd, 0, 0, 751, 111, TRUE);
    afxuser::CHeadlessScreen::Pump();
    EXPECT_EQ(bar.Buffer(), CRect(0, 0, 751, 222));
    const PngFile mine = Picture("myBook3.png"), mag = Picture("webmag3.png");
    const auto p = Probe(mine, 0, 2), q = Probe(mag, 0, 2);
    ASSERT_TRUE(p && q);
    const skintest::Shot shot = skintest::ShootWindow(screen, bar.m_hWnd);
    ASSERT_EQ(shot.width, 751);
    EXPECT_EQ(shot.at(615 + p->x, p->y), Frame(mine, 0, 0, *p)) << "the tab beyond the screen's width";
    EXPECT_EQ(shot.at(355 + q->x, q->y), Frame(mag, 2, 0, *q))
        << "the checked tab, drawn into the new buffers";
}

TEST_F(ToolBarTest, ASkinSwitchGivesTheButtonsTheirNewSizes) {
    Open("ToolBar3.xml");
    bar.ReleaseSkin();
    bar.LoadSkin("ToolBar.xml");
    bar.UpdateLayout();
    const PngFile mag = Picture("webmag.png");
    EXPECT_EQ(bar.Home().GetRect(),
              CRect(0, 11, static_cast<int>(mag.width / 4), 11 + static_cast<int>(mag.height / 2)));
    const PngFile bg = Picture("tool_bg.PNG");
    EXPECT_EQ(bar.Buffer().Height(), static_cast<int>(bg.height));
    const auto p = Probe(mag, 0, 2);
    ASSERT_TRUE(p);
    EXPECT_EQ(Shown(bar.Home(), *p), Frame(mag, bar.Home().GetFrame(), 0, *p));
}

TEST_F(ToolBarTest, ASkinWithoutBackgroundIsBlackAtTheToolBarsSize) {
    skin.Put("NoBg.xml",
             "<?xml version=\"1.0\"encoding=\"UTF-8\"?><items><item name=\"home\" image=\"webmag3.png\" "
             "rect=\"0,0,-1,-1\"/></items>");
    Open("NoBg.xml", CRect(0, 0, 600, 111));
    EXPECT_EQ(bar.Buffer(), CRect(0, 0, 600, 111));
    const skintest::Shot shot = skintest::ShootWindow(screen, bar.m_hWnd);
    EXPECT_EQ(shot.at(500, 50), 0u);
    const PngFile mag = Picture("webmag3.png");
    const auto p = Probe(mag, 0, 2);
    ASSERT_TRUE(p);
    EXPECT_EQ(shot.at(p->x, p->y), Frame(mag, 0, 0, *p));
    Press(bar.Home());
    Release(bar.Home());
    EXPECT_EQ(main.clicks, std::vector<UINT>{11001});
}

TEST_F(ToolBarTest, LoginFiresAtTheReleaseInsideIt) {
    skin.Put("Login.xml",
             "<?xml version=\"1.0\"encoding=\"UTF-8\"?><items><item name=\"bg\" image=\"tool_bg3.PNG\"/>"
             "<item name=\"login\" image=\"webmag3.png\" rect=\"0,0,-1,-1\"/></items>");
    Open("Login.xml");
    Press(bar.Login());
    EXPECT_TRUE(main.clicks.empty());
    Release(bar.Login(), CPoint(0, 200));
    EXPECT_TRUE(main.clicks.empty()) << "released outside";
    Press(bar.Login());
    Release(bar.Login());
    EXPECT_EQ(main.clicks, std::vector<UINT>{11005});
    EXPECT_FALSE(bar.Login().IsChecked());
}

TEST_F(ToolBarTest, ALoginHandlerThatRunsAModalDialogReturnsToASoundToolBar) {
    skin.Put("Login.xml",
             "<?xml version=\"1.0\"encoding=\"UTF-8\"?><items><item name=\"bg\" image=\"tool_bg3.PNG\"/>"
             "<item name=\"home\" image=\"webmag3.png\" rect=\"0,0,-1,-1\"/>"
             "<item name=\"login\" image=\"webbook3.png\" rect=\"230,0,-1,-1\"/></items>");
    Open("Login.xml");
    std::vector<std::string> events;
    main.onClick = [&](UINT id) {
        events.push_back("click " + std::to_string(id));
        if (id != 11005)
            return;
        CDialog about(100, &main); // the about box's template from the program's resources
        events.push_back("modal ended " + std::to_string(about.DoModal()));
    };
    // The press, the release and the Esc that closes the dialog are all queued before any runs:
    // the release clicks, and the Esc is served by the dialog's own loop inside that click.
    CRect w;
    ::GetWindowRect(bar.m_hWnd, &w);
    const CPoint c = bar.Login().GetRect().CenterPoint();
    screen.MoveTo(w.left + c.x, w.top + c.y);
    screen.SetPumping(false);
    screen.Press(w.left + c.x, w.top + c.y);
    screen.Release(w.left + c.x, w.top + c.y);
    screen.Key(VK_ESCAPE);
    afxuser::CHeadlessScreen::Pump();
    screen.SetPumping(true);
    EXPECT_EQ(events, (std::vector<std::string>{"click 11005", "modal ended 2"}));
    EXPECT_EQ(bar.Login().GetFrame(), 0);
    EXPECT_EQ(::GetCapture(), nullptr);
    EXPECT_TRUE(::IsWindowEnabled(main.m_hWnd));
    // The tool bar goes on working.
    Press(bar.Home());
    Release(bar.Home());
    EXPECT_EQ(main.clicks, (std::vector<UINT>{11005, 11001}));
}

} // namespace
