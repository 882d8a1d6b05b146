// The window kernel's message order: creation, geometry, showing, activation and the system
// commands, each as the table of messages a window receives.
#include "platform/user/HeadlessScreen.h"
#include "platform/user/User.h"
#include "tests/support/RecordingWindow.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

class WindowOrderTest : public ::testing::Test {
protected:
    void SetUp() override { screen.Install(); }
    void TearDown() override {
        rec.SetAnswer(nullptr); // its captures are gone with the test body
        for (HWND h : made)
            if (IsWindow(h))
                DestroyWindow(h);
    }
    HWND Make(const char* name, DWORD style, RECT r, HWND parent = nullptr, DWORD ex = 0) {
        HWND h = rec.Make(style, r, parent, ex);
        rec.Name(h, name);
        made.push_back(h);
        return h;
    }
    static DWORD Status(HWND h) {
        WINDOWINFO wi{};
        wi.cbSize = sizeof wi;
        EXPECT_TRUE(GetWindowInfo(h, &wi));
        return wi.dwWindowStatus;
    }
    static RECT WindowRect(HWND h) {
        RECT r{};
        GetWindowRect(h, &r);
        return r;
    }

    afxuser::CHeadlessScreen screen;
    testwin::Recorder rec;
    std::vector<HWND> made;
};

bool SameRect(const RECT& a, const RECT& b) {
    return EqualRect(&a, &b) != FALSE;
}

TEST_F(WindowOrderTest, CreationSendsTheFrameMessagesThenSizeAndMoveThenActivates) {
    // Creation messages reach a window before CreateWindowEx has returned its handle, so the
    // first window logs as "?".
    HWND a = Make("a", WS_POPUP | WS_VISIBLE, RECT{10, 20, 310, 220});
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(rec.Log(), (Lines{"? WM_NCCREATE", "? WM_NCCALCSIZE", "? WM_CREATE", "? WM_SIZE 0 300x200",
                                "? WM_MOVE 10,20", "? WM_SHOWWINDOW 1", "? WM_NCACTIVATE 1",
                                "? WM_ACTIVATE 1 0", "? WM_SETFOCUS"}));
    EXPECT_EQ(GetActiveWindow(), a);
    EXPECT_EQ(GetForegroundWindow(), a);
    EXPECT_EQ(GetFocus(), a);
    RECT client{};
    GetClientRect(a, &client);
    EXPECT_TRUE(SameRect(client, RECT{0, 0, 300, 200})) << "no caption and no border";

    rec.Clear();
    HWND hidden = Make("h", WS_POPUP, RECT{0, 0, 50, 50});
    EXPECT_EQ(rec.Log(), (Lines{"? WM_NCCREATE", "? WM_NCCALCSIZE", "? WM_CREATE", "? WM_SIZE 0 50x50",
                                "? WM_MOVE 0,0"}))
        << "an invisible window is neither shown nor activated";
    EXPECT_FALSE(IsWindowVisible(hidden));
    EXPECT_EQ(GetActiveWindow(), a);
}

TEST_F(WindowOrderTest, CreateAnsweredWithMinusOneDestroysTheWindowAndFails) {
    rec.SetAnswer([](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_CREATE)
            return -1;
        return std::nullopt;
    });
    HWND h = rec.Make(WS_POPUP | WS_VISIBLE, RECT{0, 0, 10, 10});
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(rec.Log(), (Lines{"? WM_NCCREATE", "? WM_NCCALCSIZE", "? WM_CREATE", "? WM_DESTROY"}));
    EXPECT_EQ(GetActiveWindow(), nullptr);
}

TEST_F(WindowOrderTest, MoveWindowSendsPositionMessagesAfterTheRectangleIsInPlace) {
    HWND a = Make("a", WS_POPUP | WS_VISIBLE, RECT{10, 20, 310, 220});
    HWND c = Make("c", WS_CHILD | WS_VISIBLE, RECT{5, 5, 55, 25}, a);
    RECT seen{};
    rec.SetAnswer([&](HWND h, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (h == a && m == WM_SIZE)
            GetWindowRect(a, &seen);
        return std::nullopt;
    });
    ValidateRect(a, nullptr);
    ValidateRect(c, nullptr);
    rec.Clear();
    ASSERT_TRUE(MoveWindow(a, 40, 50, 200, 100, TRUE));
    EXPECT_EQ(rec.Log(), (Lines{"a WM_WINDOWPOSCHANGING", "a WM_WINDOWPOSCHANGED", "a WM_MOVE 40,50",
                                "a WM_SIZE 0 200x100"}));
    EXPECT_TRUE(SameRect(seen, RECT{40, 50, 240, 150}));
    RECT upd{};
    EXPECT_TRUE(GetUpdateRect(a, &upd, FALSE));
    EXPECT_TRUE(SameRect(upd, RECT{0, 0, 200, 100}));

    // The same size again: a move only, and the child follows its parent on the screen.
    rec.Clear();
    MoveWindow(a, 0, 0, 200, 100, FALSE);
    EXPECT_EQ(rec.Log(), (Lines{"a WM_WINDOWPOSCHANGING", "a WM_WINDOWPOSCHANGED", "a WM_MOVE 0,0"}));
    EXPECT_TRUE(SameRect(WindowRect(c), RECT{5, 5, 55, 25}));

    // Points map through the tree.
    MoveWindow(a, 100, 200, 200, 100, FALSE);
    POINT p{1, 2};
    ClientToScreen(c, &p);
    EXPECT_EQ(p.x, 106);
    EXPECT_EQ(p.y, 207);
    ScreenToClient(a, &p);
    EXPECT_EQ(p.x, 6);
    POINT q[2] = {{0, 0}, {-10, -10}};
    MapWindowPoints(c, a, q, 2);
    EXPECT_EQ(q[0].x, 5);
    EXPECT_EQ(q[1].y, -5);
}

TEST_F(WindowOrderTest, SetWindowPosFlagsChooseWhatChanges) {
    HWND a = Make("a", WS_POPUP, RECT{10, 20, 110, 120});
    HWND b = Make("b", WS_POPUP | WS_VISIBLE, RECT{0, 0, 10, 10});
    rec.Clear();
    SetWindowPos(a, HWND_TOP, 1, 2, 3, 4, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    EXPECT_TRUE(SameRect(WindowRect(a), RECT{10, 20, 110, 120}));
    EXPECT_TRUE(IsWindowVisible(a));
    EXPECT_EQ(GetActiveWindow(), b) << "SWP_NOACTIVATE";
    EXPECT_EQ(GetTopWindow(nullptr), a) << "HWND_TOP raised it";
    EXPECT_EQ(rec.Log(), (Lines{"a WM_WINDOWPOSCHANGING", "a WM_WINDOWPOSCHANGED"}));

    rec.Clear();
    SetWindowPos(a, nullptr, 0, 0, 30, 40, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_TRUE(SameRect(WindowRect(a), RECT{10, 20, 40, 60}));
    EXPECT_EQ(rec.Log(), (Lines{"a WM_WINDOWPOSCHANGING", "a WM_WINDOWPOSCHANGED", "a WM_SIZE 0 30x40"}));

    // A reading popup: shown on top without taking the activation.
    HWND r = Make("r", WS_POPUP, RECT{0, 0, 10, 10}, b, WS_EX_NOACTIVATE);
    SetWindowPos(r, HWND_TOP, 0, 0, 1024, 728, SWP_SHOWWINDOW);
    EXPECT_EQ(GetActiveWindow(), b);
    EXPECT_EQ(GetTopWindow(nullptr), r);
    EXPECT_EQ(GetParent(r), b) << "a popup's owner counts as its parent";
}

TEST_F(WindowOrderTest, ActivationBetweenTwoWindowsAndTheActiveCaption) {
    HWND a = Make("a", WS_POPUP | WS_VISIBLE, RECT{0, 0, 100, 100});
    HWND child = Make("c", WS_CHILD | WS_VISIBLE, RECT{0, 0, 10, 10}, a);
    DWORD statusInNcActivate = 99;
    HWND b = nullptr;
    rec.SetAnswer([&](HWND h, UINT m, WPARAM w, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_NCACTIVATE && w && h == b)
            statusInNcActivate = Status(h);
        return std::nullopt;
    });
    EXPECT_EQ(Status(a), static_cast<DWORD>(WS_ACTIVECAPTION));
    EXPECT_EQ(Status(child), 0u) << "a child never has the active caption";
    b = Make("b", WS_POPUP, RECT{200, 0, 300, 100});
    rec.Clear();
    ShowWindow(b, SW_SHOW);
    EXPECT_EQ(rec.Log(), (Lines{"b WM_SHOWWINDOW 1", "b WM_WINDOWPOSCHANGING", "b WM_WINDOWPOSCHANGED",
                                "a WM_NCACTIVATE 0", "a WM_ACTIVATE 0 b", "b WM_NCACTIVATE 1",
                                "b WM_ACTIVATE 1 a", "a WM_KILLFOCUS", "b WM_SETFOCUS"}));
    EXPECT_EQ(statusInNcActivate, static_cast<DWORD>(WS_ACTIVECAPTION)) << "set before WM_NCACTIVATE";
    EXPECT_EQ(Status(a), 0u);
    EXPECT_EQ(Status(b), static_cast<DWORD>(WS_ACTIVECAPTION));

    rec.Clear();
    SetForegroundWindow(a);
    EXPECT_EQ(rec.Log(), (Lines{"b WM_NCACTIVATE 0", "b WM_ACTIVATE 0 a", "a WM_NCACTIVATE 1",
                                "a WM_ACTIVATE 1 b", "b WM_KILLFOCUS", "a WM_SETFOCUS"}));
    EXPECT_EQ(GetForegroundWindow(), a);

    // Hiding the active window passes the activation on.
    rec.Clear();
    ShowWindow(a, SW_HIDE);
    EXPECT_EQ(GetActiveWindow(), b);
    EXPECT_FALSE(IsWindowVisible(child)) << "a child of a hidden window is not visible";
    EXPECT_NE(GetWindowLongPtrA(child, GWL_STYLE) & WS_VISIBLE, 0);
}

TEST_F(WindowOrderTest, OwnedPopupsStayAboveTheirOwnerWhateverRaisesIt) {
    HWND owner = Make("o", WS_POPUP, RECT{0, 0, 100, 100});
    HWND owned = Make("p", WS_POPUP, RECT{0, 0, 100, 100}, owner, WS_EX_NOACTIVATE);
    HWND second = Make("q", WS_POPUP, RECT{0, 0, 100, 100}, owned);
    HWND other = Make("x", WS_POPUP | WS_VISIBLE, RECT{0, 0, 100, 100});
    ShowWindow(owned, SW_SHOWNA);
    ShowWindow(second, SW_SHOWNA);
    ShowWindow(owner, SW_SHOW); // shown and activated last, as a dialog after its popups
    SetWindowPos(owner, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(owner);
    // Top-level windows from the top: the popups (the one owned by the owned first), then
    // their owner, then the rest.
    EXPECT_EQ(GetWindow(second, GW_HWNDNEXT), owned);
    EXPECT_EQ(GetWindow(owned, GW_HWNDNEXT), owner);
    EXPECT_EQ(GetWindow(owner, GW_HWNDNEXT), other);
}

// What a program that hides to the tray relies on: the popups shown over it go with it and come
// back with it, without taking the activation, and only those it hid.
TEST_F(WindowOrderTest, AnOwnerHidesItsShownPopupsAndBringsBackOnlyThose) {
    HWND owner = Make("o", WS_POPUP | WS_VISIBLE, RECT{0, 0, 100, 100});
    HWND shown = Make("p", WS_POPUP, RECT{0, 0, 100, 100}, owner);
    HWND hidden = Make("q", WS_POPUP, RECT{0, 0, 50, 50}, owner);
    HWND elsewhere = Make("r", WS_POPUP, RECT{0, 0, 50, 50}, Make("x", WS_POPUP | WS_VISIBLE, RECT{}));
    ShowWindow(shown, SW_SHOWNA);
    ShowWindow(elsewhere, SW_SHOWNA);
    SetForegroundWindow(owner);

    rec.Clear();
    EXPECT_TRUE(ShowOwnedPopups(owner, FALSE));
    EXPECT_EQ(rec.LogWithout({"WM_WINDOWPOS"}), (Lines{"p WM_SHOWWINDOW 0"}));
    EXPECT_FALSE(IsWindowVisible(shown));
    EXPECT_FALSE(IsWindowVisible(hidden));
    EXPECT_TRUE(IsWindowVisible(elsewhere)) << "another window's popup stays";
    ShowWindow(owner, SW_HIDE);
    ShowWindow(owner, SW_SHOW);

    rec.Clear();
    EXPECT_TRUE(ShowOwnedPopups(owner, TRUE));
    EXPECT_EQ(rec.LogWithout({"WM_WINDOWPOS"}), (Lines{"p WM_SHOWWINDOW 1"}))
        << "shown again without the activation";
    EXPECT_TRUE(IsWindowVisible(shown));
    EXPECT_FALSE(IsWindowVisible(hidden)) << "one the owner did not hide stays hidden";
    bool above = false;
    for (HWND h = GetWindow(shown, GW_HWNDNEXT); h && !above; h = GetWindow(h, GW_HWNDNEXT))
        above = h == owner;
    EXPECT_TRUE(above) << "above its owner";
    EXPECT_EQ(GetActiveWindow(), owner);

    // A popup shown or hidden on its own since is no longer the owner's to bring back.
    ShowOwnedPopups(owner, FALSE);
    ShowWindow(shown, SW_SHOWNA);
    ShowWindow(shown, SW_HIDE);
    ShowOwnedPopups(owner, TRUE);
    EXPECT_FALSE(IsWindowVisible(shown));
}

// Where the task bar's or a second start's activation of a window goes: the popup it owns that
// was active last, while it is shown and enabled, else the window itself.
TEST_F(WindowOrderTest, TheLastActivePopupIsTheOwnedOneActivatedLastWhileItCanTakeIt) {
    HWND owner = Make("o", WS_POPUP | WS_VISIBLE, RECT{0, 0, 100, 100});
    HWND first = Make("p", WS_POPUP | WS_VISIBLE, RECT{0, 0, 100, 100}, owner);
    HWND second = Make("q", WS_POPUP | WS_VISIBLE, RECT{0, 0, 100, 100}, owner);
    HWND other = Make("x", WS_POPUP | WS_VISIBLE, RECT{0, 0, 100, 100});
    SetActiveWindow(first);
    SetActiveWindow(other);
    EXPECT_EQ(GetLastActivePopup(owner), first) << "the popup, not the window active now";
    SetActiveWindow(second);
    EXPECT_EQ(GetLastActivePopup(owner), second);
    EnableWindow(second, FALSE);
    EXPECT_EQ(GetLastActivePopup(owner), owner) << "a disabled popup cannot take it";
    EnableWindow(second, TRUE);
    ShowWindow(second, SW_HIDE);
    EXPECT_EQ(GetLastActivePopup(owner), owner) << "nor a hidden one";
    SetActiveWindow(first);
    SetActiveWindow(owner);
    EXPECT_EQ(GetLastActivePopup(owner), owner) << "the owner itself was active last";
    EXPECT_EQ(GetLastActivePopup(other), other) << "a window without popups";
}

TEST_F(WindowOrderTest, MaximizePlacesTheWindowWhereMinMaxInfoSaysEvenOffTheWorkArea) {
    screen.SetScreen(SIZE{1000, 740}, RECT{0, 0, 1000, 700});
    HWND a = Make("a", WS_POPUP | WS_VISIBLE | WS_SYSMENU, RECT{100, 50, 700, 450});
    rec.SetAnswer([](HWND, UINT m, WPARAM, LPARAM l) -> std::optional<LRESULT> {
        if (m == WM_GETMINMAXINFO) {
            RECT work{};
            SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
            auto* mmi = reinterpret_cast<MINMAXINFO*>(l);
            mmi->ptMaxPosition = POINT{work.left - 2, work.top};
            mmi->ptMaxSize = POINT{work.right - work.left + 4, work.bottom - work.top + 2};
        }
        return std::nullopt;
    });
    rec.Clear();
    SendMessageA(a, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    EXPECT_EQ(rec.Log(), (Lines{"a WM_GETMINMAXINFO", "a WM_WINDOWPOSCHANGING", "a WM_WINDOWPOSCHANGED",
                                "a WM_MOVE -2,0", "a WM_SIZE 2 1004x702"}));
    EXPECT_TRUE(SameRect(WindowRect(a), RECT{-2, 0, 1002, 702}));
    EXPECT_TRUE(IsZoomed(a));
    EXPECT_NE(GetWindowLongPtrA(a, GWL_STYLE) & WS_MAXIMIZE, 0);

    rec.Clear();
    SendMessageA(a, WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_EQ(rec.Log(), (Lines{"a WM_WINDOWPOSCHANGING", "a WM_WINDOWPOSCHANGED", "a WM_MOVE 100,50",
                                "a WM_SIZE 0 600x400"}));
    EXPECT_FALSE(IsZoomed(a));
}

TEST_F(WindowOrderTest, MinimizeMakesTheWindowIconicAndRestoreBringsBackItsLastState) {
    Make("o", WS_POPUP | WS_VISIBLE, RECT{0, 0, 10, 10});
    HWND a = Make("a", WS_POPUP | WS_VISIBLE, RECT{100, 50, 700, 450});
    SendMessageA(a, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    rec.Clear();
    SendMessageA(a, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_EQ(rec.Log(),
              (Lines{"a WM_WINDOWPOSCHANGING", "a WM_WINDOWPOSCHANGED", "a WM_MOVE -32000,-32000",
                     "a WM_SIZE 1 0x0", "a WM_NCACTIVATE 0", "a WM_ACTIVATE 0 o", "o WM_NCACTIVATE 1",
                     "o WM_ACTIVATE 1 a", "a WM_KILLFOCUS", "o WM_SETFOCUS"}));
    EXPECT_TRUE(IsIconic(a));
    EXPECT_FALSE(IsZoomed(a));
    EXPECT_TRUE(IsWindowVisible(a));

    ShowWindow(a, SW_SHOW);
    EXPECT_TRUE(IsIconic(a)) << "SW_SHOW does not restore a minimized window";
    EXPECT_EQ(GetActiveWindow(), a);

    rec.Clear();
    SendMessageA(a, WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_FALSE(IsIconic(a));
    EXPECT_TRUE(IsZoomed(a)) << "minimized from maximized, restored to maximized";
    EXPECT_EQ(rec.LogWithout({"WM_GETMINMAXINFO", "WM_WINDOWPOS"}).back(), "a WM_SIZE 2 1024x728");

    SendMessageA(a, WM_SYSCOMMAND, SC_RESTORE, 0);
    ShowWindow(a, SW_MINIMIZE);
    ShowWindow(a, SW_RESTORE);
    EXPECT_TRUE(SameRect(WindowRect(a), RECT{100, 50, 700, 450}));
    EXPECT_EQ(GetActiveWindow(), a);
}

TEST_F(WindowOrderTest, SysCloseClosesAndCloseDestroys) {
    HWND a = Make("a", WS_POPUP | WS_VISIBLE, RECT{0, 0, 10, 10});
    HWND c = Make("c", WS_CHILD | WS_VISIBLE, RECT{0, 0, 5, 5}, a);
    HWND owned = Make("w", WS_POPUP, RECT{0, 0, 5, 5}, a);
    rec.Clear();
    SendMessageA(a, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_FALSE(IsWindow(a));
    EXPECT_FALSE(IsWindow(c));
    EXPECT_FALSE(IsWindow(owned)) << "owned windows go with their owner";
    EXPECT_EQ(GetActiveWindow(), nullptr);
    EXPECT_EQ(GetFocus(), nullptr);
    EXPECT_EQ(rec.LogWithout({"WM_NCACTIVATE", "WM_ACTIVATE", "WM_KILLFOCUS"}),
              (Lines{"w WM_DESTROY", "a WM_DESTROY", "c WM_DESTROY"}));
}

} // namespace
