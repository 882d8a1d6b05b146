// Pointer and key routing through the headless screen: hit tests, cursors, mouse activation,
// capture, the system move loop, double clicks, and leave and hover tracking.
#include "platform/user/HeadlessScreen.h"
#include "platform/user/User.h"
#include "tests/support/RecordingWindow.h"
#include "tests/support/WaitFor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

// A parent at (100,100) 300 x 200 with a child at (50,40) 100 x 50 in it, that is at screen
// (150,140)-(250,190). The parent answers the hit test like a skinned frame: a caption band
// over its top 30 rows and a left border 5 pixels wide.
class RoutingTest : public ::testing::Test {
protected:
    void SetUp() override {
        screen.Install();
        parent = rec.Make(WS_POPUP | WS_VISIBLE, RECT{100, 100, 400, 300});
        rec.Name(parent, "p");
        child = rec.Make(WS_CHILD | WS_VISIBLE, RECT{50, 40, 150, 90}, parent);
        rec.Name(child, "c");
        rec.SetAnswer([this](HWND h, UINT m, WPARAM, LPARAM l) -> std::optional<LRESULT> {
            if (h == parent && m == WM_NCHITTEST) {
                int x = GET_X_LPARAM(l) - 100, y = GET_Y_LPARAM(l) - 100;
                if (x >= 0 && x < 5)
                    return HTLEFT;
                if (y >= 0 && y < 30 && x >= 0 && x < 300)
                    return HTCAPTION;
            }
            return std::nullopt;
        });
        screen.MoveTo(0, 0);
        rec.Clear();
    }
    void TearDown() override {
        ReleaseCapture();
        DestroyWindow(parent);
        if (other)
            DestroyWindow(other);
    }
    // What one left press and release at a point produce, without the WM_SETCURSOR the parent
    // is asked by default.
    Lines PressAt(int x, int y) {
        screen.MoveTo(x, y);
        rec.Clear();
        screen.Press(x, y);
        Lines l = rec.Log();
        screen.Release(x, y);
        ReleaseCapture();
        return l;
    }

    afxuser::CHeadlessScreen screen;
    testwin::Recorder rec;
    HWND parent = nullptr;
    HWND child = nullptr;
    HWND other = nullptr;
};

TEST_F(RoutingTest, PressesGoToTheTopmostWindowUnderThePointerWithItsHitCode) {
    struct Case {
        POINT at;
        Lines messages;
        LPCSTR cursor;
    };
    const Case cases[] = {
        {{200, 160},
         {"c WM_NCHITTEST 200,160", "c WM_SETCURSOR 1 0x201", "p WM_SETCURSOR 1 0x201",
          "c WM_LBUTTONDOWN 50,20"},
         IDC_ARROW},
        {{300, 250},
         {"p WM_NCHITTEST 300,250", "p WM_SETCURSOR 1 0x201", "p WM_LBUTTONDOWN 200,150"},
         IDC_ARROW},
        {{102, 200},
         {"p WM_NCHITTEST 102,200", "p WM_SETCURSOR 10 0x201", "p WM_NCLBUTTONDOWN 10 102,200"},
         IDC_SIZEWE},
        {{399, 299},
         {"p WM_NCHITTEST 399,299", "p WM_SETCURSOR 1 0x201", "p WM_LBUTTONDOWN 299,199"},
         IDC_ARROW},
        {{400, 300}, {}, IDC_ARROW}, // just outside: no window
        {{50, 50}, {}, IDC_ARROW},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.at.x << "," << c.at.y);
        EXPECT_EQ(PressAt(c.at.x, c.at.y), c.messages);
        EXPECT_EQ(screen.Cursor(), LoadCursorA(nullptr, c.cursor));
    }
}

TEST_F(RoutingTest, EachHitCodeShowsItsCursor) {
    const std::pair<int, LPCSTR> cases[] = {
        {HTLEFT, IDC_SIZEWE},       {HTRIGHT, IDC_SIZEWE},        {HTTOP, IDC_SIZENS},
        {HTBOTTOM, IDC_SIZENS},     {HTTOPLEFT, IDC_SIZENWSE},    {HTBOTTOMRIGHT, IDC_SIZENWSE},
        {HTTOPRIGHT, IDC_SIZENESW}, {HTBOTTOMLEFT, IDC_SIZENESW}, {HTCAPTION, IDC_ARROW},
        {HTCLIENT, IDC_ARROW},      {HTNOWHERE, IDC_ARROW},
    };
    int x = 300;
    for (auto [hit, cursor] : cases) {
        SCOPED_TRACE(hit);
        rec.SetAnswer([&, hit = hit](HWND h, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
            if (h == parent && m == WM_NCHITTEST)
                return hit;
            return std::nullopt;
        });
        screen.MoveTo(++x, 250);
        EXPECT_EQ(screen.Cursor(), LoadCursorA(nullptr, cursor));
    }
    EXPECT_NE(LoadCursorA(nullptr, IDC_SIZEWE), LoadCursorA(nullptr, IDC_SIZENS));
}

TEST_F(RoutingTest, WithCaptureThereIsNoHitTestAndCoordinatesAreTheCapturingWindowsEvenOutside) {
    SetCapture(child);
    struct Case {
        POINT at;
        std::string message;
    };
    const Case cases[] = {
        {{120, 110}, "c WM_LBUTTONDOWN -30,-30"},
        {{200, 160}, "c WM_LBUTTONDOWN 50,20"},
        {{10, 700}, "c WM_LBUTTONDOWN -140,560"},
    };
    for (const Case& c : cases) {
        rec.Clear();
        screen.Press(c.at.x, c.at.y);
        EXPECT_EQ(rec.LogWithout({"WM_MOUSEMOVE"}), (Lines{c.message}));
        screen.Release(c.at.x, c.at.y);
    }
    rec.Clear();
    SetCapture(parent);
    EXPECT_EQ(rec.Log(), (Lines{"c WM_CAPTURECHANGED p"}));
    rec.Clear();
    ReleaseCapture();
    EXPECT_EQ(rec.Log(), (Lines{"p WM_CAPTURECHANGED 0"}));
    EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(RoutingTest, APressOnAnInactiveWindowAsksForMouseActivationFirst) {
    other = rec.Make(WS_POPUP | WS_VISIBLE, RECT{600, 0, 700, 100});
    rec.Name(other, "o");
    ASSERT_EQ(GetActiveWindow(), other);
    screen.MoveTo(200, 160);
    rec.Clear();
    screen.Press(200, 160);
    EXPECT_EQ(rec.Log(), (Lines{"c WM_NCHITTEST 200,160", "c WM_SETCURSOR 1 0x201", "p WM_SETCURSOR 1 0x201",
                                "c WM_MOUSEACTIVATE 1", "p WM_MOUSEACTIVATE 1", "o WM_NCACTIVATE 0",
                                "o WM_ACTIVATE 0 p", "p WM_NCACTIVATE 1", "p WM_ACTIVATE 2 o",
                                "o WM_KILLFOCUS", "p WM_SETFOCUS", "c WM_LBUTTONDOWN 50,20"}));
    screen.Release(200, 160);

    // Answering MA_NOACTIVATEANDEAT keeps the activation where it is and swallows the press.
    SetForegroundWindow(other);
    rec.SetAnswer([](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_MOUSEACTIVATE)
            return MA_NOACTIVATEANDEAT;
        return std::nullopt;
    });
    rec.Clear();
    screen.Press(300, 250);
    EXPECT_EQ(GetActiveWindow(), other);
    EXPECT_EQ(rec.LogWithout({"WM_NCHITTEST", "WM_SETCURSOR", "WM_MOUSEACTIVATE", "MOUSEMOVE"}), Lines{});
    screen.Release(300, 250);
}

TEST_F(RoutingTest, TheCaptionMoveLoopDragsTheWindowAndSwallowsTheRelease) {
    rec.Clear();
    screen.Press(200, 110);
    screen.MoveTo(260, 150);
    screen.MoveTo(250, 160);
    screen.Release(250, 160);
    RECT r{};
    GetWindowRect(parent, &r);
    EXPECT_EQ(r.left, 150);
    EXPECT_EQ(r.top, 150);
    POINT cursor{};
    GetCursorPos(&cursor);
    EXPECT_EQ(cursor.x, 250);
    EXPECT_EQ(cursor.y, 160);
    EXPECT_EQ(r.right - r.left, 300);
    Lines seen = rec.LogWithout({"WM_SETCURSOR", "WM_NCHITTEST", "WM_WINDOWPOS", "MOVE"});
    EXPECT_EQ(seen, (Lines{"p WM_NCLBUTTONDOWN 2 200,110", "p WM_CAPTURECHANGED 0"}))
        << "no button-up of either kind reaches the window";
    EXPECT_EQ(GetCapture(), nullptr);

    // Sizing codes start nothing: the window has no sizing frame.
    rec.Clear();
    screen.Press(152, 250);
    screen.MoveTo(120, 250);
    screen.Release(120, 250);
    GetWindowRect(parent, &r);
    EXPECT_EQ(r.left, 150);
    EXPECT_EQ(r.right - r.left, 300);
    EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(RoutingTest, DoubleClicksNeedTheClassStyleInTheClientAreaButNotOnTheCaption) {
    HWND dbl = rec.Make(WS_CHILD | WS_VISIBLE, RECT{200, 100, 250, 150}, parent, 0, true);
    rec.Name(dbl, "d");
    struct Case {
        POINT at;
        Lines downs;
    };
    const Case cases[] = {
        {{200, 160},
         {"c WM_LBUTTONDOWN 50,20", "c WM_LBUTTONUP 50,20", "c WM_LBUTTONDOWN 50,20",
          "c WM_LBUTTONUP 50,20"}},
        {{310, 210},
         {"d WM_LBUTTONDOWN 10,10", "d WM_LBUTTONUP 10,10", "d WM_LBUTTONDBLCLK 10,10",
          "d WM_LBUTTONUP 10,10"}},
        {{300, 110},
         {"p WM_NCLBUTTONDOWN 2 300,110", "p WM_NCLBUTTONDBLCLK 2 300,110", "p WM_NCLBUTTONUP 2 300,110"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.downs.front());
        rec.Clear();
        screen.DoubleClick(c.at.x, c.at.y);
        EXPECT_EQ(
            rec.LogWithout({"WM_SETCURSOR", "WM_NCHITTEST", "WM_CAPTURECHANGED", "MOVE", "PAINT", "ERASE"}),
            c.downs);
    }
}

TEST_F(RoutingTest, LeaveIsPostedOnceWhenThePointerLeavesTheClientArea) {
    auto track = [](HWND h) {
        TRACKMOUSEEVENT t{sizeof t, TME_LEAVE, h, 0};
        return _TrackMouseEvent(&t);
    };
    auto leaves = [this] {
        Lines l = rec.Log();
        return std::count_if(l.begin(), l.end(),
                             [](const std::string& s) { return s.find("LEAVE") != s.npos; });
    };
    struct Case {
        const char* what;
        HWND tracked;
        POINT from, to;
        std::string leave; // "" when none is due
    };
    const Case cases[] = {
        {"child onto its parent", child, {200, 160}, {300, 250}, "c WM_MOUSELEAVE"},
        {"parent onto its child", parent, {300, 250}, {200, 160}, "p WM_MOUSELEAVE"},
        {"parent onto its caption", parent, {300, 250}, {300, 110}, "p WM_MOUSELEAVE"},
        {"parent off every window", parent, {300, 250}, {500, 500}, "p WM_MOUSELEAVE"},
        {"within the parent", parent, {300, 250}, {310, 260}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        screen.MoveTo(c.from.x, c.from.y);
        ASSERT_TRUE(track(c.tracked));
        rec.Clear();
        screen.MoveTo(c.to.x, c.to.y);
        screen.MoveTo(c.to.x + 1, c.to.y + 1);
        Lines l = rec.LogWithout({"WM_SETCURSOR", "WM_NCHITTEST", "MOUSEMOVE"});
        EXPECT_EQ(l, c.leave.empty() ? Lines{} : Lines{c.leave});
        TRACKMOUSEEVENT cancel{sizeof cancel, TME_CANCEL | TME_LEAVE, c.tracked, 0};
        _TrackMouseEvent(&cancel);
    }
    // Asked for while the pointer is elsewhere: due at once.
    screen.MoveTo(500, 500);
    rec.Clear();
    track(child);
    afxuser::CHeadlessScreen::Pump();
    EXPECT_EQ(leaves(), 1);
}

TEST_F(RoutingTest, HoverComesAfterTheRestAndLeavesTheLeavePending) {
    screen.MoveTo(200, 160);
    TRACKMOUSEEVENT t{sizeof t, TME_LEAVE | TME_HOVER, child, 1};
    ASSERT_TRUE(_TrackMouseEvent(&t));
    rec.Clear();
    auto has = [this](const std::string& line) {
        const Lines& l = rec.Log();
        return std::find(l.begin(), l.end(), line) != l.end();
    };
    EXPECT_TRUE(testwait::PumpUntil([&] { return has("c WM_MOUSEHOVER 50,20"); }));
    screen.MoveTo(300, 250);
    EXPECT_TRUE(has("c WM_MOUSELEAVE")) << "an unhandled hover does not cancel the leave";
    Lines l = rec.Log();
    EXPECT_EQ(std::count(l.begin(), l.end(), "c WM_MOUSEHOVER 50,20"), 1);
}

TEST_F(RoutingTest, TheTopmostSiblingTakesThePointerAndDisabledWindowsTakeNone) {
    // A second child over the first one's right half, created later and so above it.
    HWND top = rec.Make(WS_CHILD | WS_VISIBLE, RECT{100, 40, 200, 90}, parent);
    rec.Name(top, "t");
    auto target = [this](int x, int y) {
        Lines l = PressAt(x, y);
        return l.empty() ? std::string("none") : l.back().substr(0, l.back().find(' '));
    };
    EXPECT_EQ(target(230, 160), "t");
    EXPECT_EQ(target(160, 160), "c");
    SetWindowPos(child, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    EXPECT_EQ(target(230, 160), "c") << "raised over its sibling";
    EnableWindow(child, FALSE);
    EXPECT_EQ(target(230, 160), "t") << "a disabled child lets the pointer through";
    EXPECT_EQ(target(160, 160), "p");
    rec.SetAnswer([&](HWND h, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (h == top && m == WM_NCHITTEST)
            return HTTRANSPARENT;
        return std::nullopt;
    });
    EXPECT_EQ(target(230, 160), "p") << "HTTRANSPARENT passes it to the window beneath";
    rec.SetAnswer(nullptr);
    EnableWindow(parent, FALSE);
    EXPECT_EQ(target(300, 250), "none")
        << "a disabled top-level window (a modal dialog's owner) takes nothing";
    EnableWindow(parent, TRUE);
    EnableWindow(child, TRUE);
    DestroyWindow(top);
}

TEST_F(RoutingTest, KeysGoToTheFocusWindowOrTheActiveOne) {
    SetFocus(child);
    rec.Clear();
    screen.Key(VK_RETURN);
    EXPECT_EQ(rec.Log(), (Lines{"c WM_KEYDOWN 13"}));
    SetFocus(nullptr);
    rec.Clear();
    screen.KeyDown(VK_ESCAPE);
    EXPECT_EQ(rec.Log(), (Lines{"p WM_KEYDOWN 27"}));
    EXPECT_NE(GetKeyState(VK_ESCAPE) & 0x8000, 0);
    screen.KeyUp(VK_ESCAPE);
    EXPECT_EQ(GetKeyState(VK_ESCAPE) & 0x8000, 0);
}

} // namespace
