// The notification-area icon against the headless tray host: its lifecycle, each click the
// host reports reaching the window as the callback message, the menu at the cursor with its
// default item, the window brought back, and the tip cut to what the field holds.
#include "platform/shell/TrayHost.h"
#include "skin/TrayIcon.h"

#include "platform/user/HeadlessScreen.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr UINT kIconId = 168;

// A headless screen that also notes, for each menu it is asked to show, the default item and
// the items' texts, while the menu still exists.
// Texts are in the ANSI code page (GBK), as the program holds them.
class MenuNotingScreen : public afxuser::CHeadlessScreen {
public:
    UINT ChooseFromMenu(HMENU hMenu, UINT flags, POINT at, HWND hOwner) override {
        defaults.push_back(::GetMenuDefaultItem(hMenu, FALSE, 0));
        for (int i = 0; i < ::GetMenuItemCount(hMenu); ++i) {
            char text[64] = {};
            ::GetMenuStringA(hMenu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
            items.push_back(text);
        }
        return CHeadlessScreen::ChooseFromMenu(hMenu, flags, at, hOwner);
    }
    std::vector<UINT> defaults;
    std::vector<std::string> items;
};

// The main window's part: it routes the callback message to the icon and notes its commands.
class TrayOwner : public CWnd {
public:
    TrayOwner() { CreateEx(0, nullptr, "owner", WS_POPUP, 100, 100, 300, 200, nullptr, 0); }
    ~TrayOwner() override {
        if (m_hWnd)
            DestroyWindow();
    }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_TRAY_NOTIFY) {
            results.push_back(tray->OnTrayNotification(wParam, lParam));
            return results.back();
        }
        if (message == WM_COMMAND)
            commands.push_back(LOWORD(wParam));
        return CWnd::WindowProc(message, wParam, lParam);
    }
    CTrayIcon* tray = nullptr;
    std::vector<LRESULT> results;
    std::vector<UINT> commands;
};

// The icon's own copy of what it told the shell.
class PeekTray : public CTrayIcon {
public:
    const NOTIFYICONDATAA& Data() const { return m_nid; }
};

class TrayIconTest : public ::testing::Test {
protected:
    void SetUp() override {
        screen.Install();
        previous = afxshell::SetTrayHost(&host);
        owner.tray = &tray;
    }
    void TearDown() override {
        tray.RemoveIcon();
        afxshell::SetTrayHost(previous);
    }

    MenuNotingScreen screen;
    afxshell::HeadlessTrayHost host;
    afxshell::ITrayHost* previous = nullptr;
    TrayOwner owner;
    PeekTray tray;
};

TEST_F(TrayIconTest, AddsChangesAndRemovesItsIconOnce) {
    ASSERT_TRUE(tray.Create(&owner, WM_TRAY_NOTIFY,
                            "\xC4\xAB\xD6\xDB\xCF\xBB"
                            "V4.0",
                            nullptr, kIconId, kIconId));
    EXPECT_TRUE(tray.IsEnabled());
    EXPECT_TRUE(tray.SetTooltipText("\xD0\xC2\xB5\xC4\xCC\xE1\xCA\xBE"));
    ASSERT_TRUE(host.Icon(owner.m_hWnd, kIconId).has_value());
    EXPECT_EQ(host.Icon(owner.m_hWnd, kIconId)->tip, "\xD0\xC2\xB5\xC4\xCC\xE1\xCA\xBE");
    tray.RemoveIcon();
    tray.RemoveIcon();
    EXPECT_FALSE(tray.SetTooltipText("after"));
    const auto calls = host.Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].message, NIM_ADD);
    EXPECT_EQ(calls[0].icon.tip, "\xC4\xAB\xD6\xDB\xCF\xBB"
                                 "V4.0");
    EXPECT_EQ(calls[1].message, NIM_MODIFY);
    EXPECT_EQ(calls[2].message, NIM_DELETE);
    EXPECT_FALSE(host.Icon(owner.m_hWnd, kIconId).has_value());
}

TEST_F(TrayIconTest, TheDestructorTakesTheIconAway) {
    {
        CTrayIcon scoped;
        ASSERT_TRUE(scoped.Create(&owner, WM_TRAY_NOTIFY, "t", nullptr, 7, 7));
        EXPECT_TRUE(host.Icon(owner.m_hWnd, 7).has_value());
    }
    EXPECT_FALSE(host.Icon(owner.m_hWnd, 7).has_value());
}

TEST_F(TrayIconTest, CreateFailsWithoutAWindowOrANotificationArea) {
    EXPECT_FALSE(tray.Create(nullptr, WM_TRAY_NOTIFY, "t", nullptr, kIconId, kIconId));
    CWnd gone;
    EXPECT_FALSE(tray.Create(&gone, WM_TRAY_NOTIFY, "t", nullptr, kIconId, kIconId));
    afxshell::SetTrayHost(nullptr);
    EXPECT_FALSE(tray.Create(&owner, WM_TRAY_NOTIFY, "t", nullptr, kIconId, kIconId));
    EXPECT_FALSE(tray.IsEnabled());
    EXPECT_FALSE(tray.SetTooltipText("t"));
    afxshell::SetTrayHost(&host);
    EXPECT_TRUE(host.Calls().empty());
}

TEST_F(TrayIconTest, ARightClickShowsTheMenuAtTheCursorWithOpenAsDefault) {
    ASSERT_TRUE(tray.Create(&owner, WM_TRAY_NOTIFY, "t", nullptr, kIconId, kIconId));
    screen.MoveTo(900, 700);
    screen.ScriptMenuChoice(32772);
    ASSERT_TRUE(host.Click(owner.m_hWnd, kIconId, WM_RBUTTONUP));
    afxuser::CHeadlessScreen::Pump();
    ASSERT_EQ(screen.Menus().size(), 1u);
    EXPECT_EQ(screen.Menus()[0].at.x, 900);
    EXPECT_EQ(screen.Menus()[0].at.y, 700);
    EXPECT_EQ(screen.Menus()[0].owner, owner.m_hWnd);
    EXPECT_EQ(screen.defaults, std::vector<UINT>{32771});
    EXPECT_EQ(screen.items,
              (std::vector<std::string>{"\xB4\xF2\xBF\xAA\xD6\xF7\xBD\xE7\xC3\xE6", "\xCD\xCB\xB3\xF6"}));
    EXPECT_EQ(owner.results, std::vector<LRESULT>{1});
    EXPECT_EQ(owner.commands, std::vector<UINT>{32772});
}

TEST_F(TrayIconTest, AnIconWithoutAMenuResourceIgnoresTheRightClick) {
    ASSERT_TRUE(tray.Create(&owner, WM_TRAY_NOTIFY, "t", nullptr, 4242, 4242));
    ASSERT_TRUE(host.Click(owner.m_hWnd, 4242, WM_RBUTTONUP));
    afxuser::CHeadlessScreen::Pump();
    EXPECT_EQ(owner.results, std::vector<LRESULT>{0});
    EXPECT_TRUE(screen.Menus().empty());
    tray.RemoveIcon();
}

TEST_F(TrayIconTest, ADoubleClickBringsTheWindowBackAsItWas) {
    ASSERT_TRUE(tray.Create(&owner, WM_TRAY_NOTIFY, "t", nullptr, kIconId, kIconId));
    TrayOwner other;
    struct Case {
        const char* name;
        std::function<void()> before;
        bool visible, iconic, foreground;
    };
    const Case cases[] = {
        {"hidden", [&] { ::ShowWindow(owner.m_hWnd, SW_HIDE); }, true, false, true},
        {"visible behind another",
         [&] {
             ::ShowWindow(owner.m_hWnd, SW_SHOW);
             ::ShowWindow(other.m_hWnd, SW_SHOW);
             ::SetForegroundWindow(other.m_hWnd);
         },
         true, false, true},
        {"minimized", [&] { ::ShowWindow(owner.m_hWnd, SW_MINIMIZE); }, true, true, false},
    };
    for (const Case& c : cases) {
        c.before();
        afxuser::CHeadlessScreen::Pump();
        ASSERT_TRUE(host.Click(owner.m_hWnd, kIconId, WM_LBUTTONDBLCLK));
        afxuser::CHeadlessScreen::Pump();
        EXPECT_EQ(::IsWindowVisible(owner.m_hWnd) != FALSE, c.visible) << c.name;
        EXPECT_EQ(::IsIconic(owner.m_hWnd) != FALSE, c.iconic) << c.name;
        if (c.foreground) {
            EXPECT_EQ(::GetForegroundWindow(), owner.m_hWnd) << c.name;
        }
    }
    EXPECT_EQ(owner.results, (std::vector<LRESULT>{1, 1, 1}));
    // Any other notification does nothing.
    ASSERT_TRUE(host.Click(owner.m_hWnd, kIconId, WM_MOUSEMOVE));
    afxuser::CHeadlessScreen::Pump();
    EXPECT_EQ(owner.results.back(), 1);
}

TEST_F(TrayIconTest, ALongTipIsCutToWholeCharactersWithinTheField) {
    const std::string ascii127(127, 'a');
    const struct {
        std::string tip;
        size_t kept;
    } cases[] = {
        {"\xC4\xAB\xD6\xDB\xCF\xBB"
         "V4.0",
         10},
        {ascii127, 127},
        {ascii127 + "b", 127},
        {std::string(126, 'a') + "\xD6\xD0", 126}, // the double-byte character would end at 128
        {std::string(125, 'a') + "\xD6\xD0", 127},
        {std::string(300, 'x'), 127},
    };
    ASSERT_TRUE(tray.Create(&owner, WM_TRAY_NOTIFY, "t", nullptr, kIconId, kIconId));
    for (const auto& c : cases) {
        ASSERT_TRUE(tray.SetTooltipText(c.tip.c_str()));
        const std::string held(tray.Data().szTip, strnlen(tray.Data().szTip, sizeof tray.Data().szTip));
        EXPECT_EQ(held, c.tip.substr(0, c.kept)) << c.tip.size();
        EXPECT_EQ(tray.Data().szTip[127], 0);
        EXPECT_EQ(host.Icon(owner.m_hWnd, kIconId)->tip, c.tip.substr(0, c.kept));
    }
}

} // namespace
