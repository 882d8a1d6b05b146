// The window menu: its default items and their states, what a program appends, and how a user
// reaches it on a frame the program draws itself (Alt+Space, a right click on the caption), with
// the choice arriving as WM_SYSCOMMAND.
#include "platform/kernel/CodePage.h"
#include "platform/user/HeadlessScreen.h"
#include "platform/user/User.h"
#include "tests/support/WaitFor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A frame at (100,100) 300 x 200 whose top 30 rows answer HTCAPTION, with a child in its client
// part; it notes the system commands it gets.
class SysMenuTest : public ::testing::Test {
protected:
    static LRESULT Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
        if (m == WM_NCHITTEST && GetAncestor(h, GA_PARENT) == nullptr) {
            RECT r{};
            GetWindowRect(h, &r);
            if (GET_Y_LPARAM(l) >= r.top && GET_Y_LPARAM(l) < r.top + 30)
                return HTCAPTION;
        }
        if (m == WM_SYSCOMMAND && s_self)
            s_self->commands.push_back(static_cast<UINT>(w));
        return DefWindowProcA(h, m, w, l);
    }
    void SetUp() override {
        s_self = this;
        screen.Install();
        WNDCLASSA wc{};
        wc.lpfnWndProc = &Proc;
        wc.lpszClassName = "SysMenuFrame";
        RegisterClassA(&wc);
        frame = Make(WS_POPUP | WS_VISIBLE | WS_SYSMENU);
        child = CreateWindowExA(0, "SysMenuFrame", "", WS_CHILD | WS_VISIBLE, 10, 40, 100, 100, frame,
                                nullptr, nullptr, nullptr);
        SetActiveWindow(frame);
        SetFocus(child);
    }
    void TearDown() override {
        for (HWND h : {frame, other})
            if (h)
                DestroyWindow(h);
        s_self = nullptr;
    }
    HWND Make(DWORD style) {
        return CreateWindowExA(0, "SysMenuFrame", "frame", style, 100, 100, 300, 200, nullptr, nullptr,
                               nullptr, nullptr);
    }
    // Each item as "id flags text" ("-" for a separator); flags "g" when greyed.
    static std::vector<std::string> Lines(HMENU m) {
        std::vector<std::string> out;
        for (int i = 0; i < GetMenuItemCount(m); ++i) {
            UINT state = GetMenuState(m, static_cast<UINT>(i), MF_BYPOSITION);
            if (state & MF_SEPARATOR) {
                out.push_back("-");
                continue;
            }
            char text[64] = {0};
            GetMenuStringA(m, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
            out.push_back(std::to_string(GetMenuItemID(m, i)) + ((state & MF_GRAYED) ? " g " : " ") + text);
        }
        return out;
    }
    // Shows the menu by Alt+Space held on the child that has the focus.
    void AltSpace() {
        afxuser::InputKey(WM_SYSKEYDOWN, VK_MENU);
        afxuser::InputKey(WM_SYSKEYDOWN, VK_SPACE);
        afxuser::InputKey(WM_SYSCHAR, VK_SPACE);
        afxuser::InputKey(WM_SYSKEYUP, VK_SPACE);
        afxuser::InputKey(WM_SYSKEYUP, VK_MENU);
        afxuser::CHeadlessScreen::Pump();
    }

    static SysMenuTest* s_self;
    afxuser::CHeadlessScreen screen;
    HWND frame = nullptr, child = nullptr, other = nullptr;
    std::vector<UINT> commands;
};
SysMenuTest* SysMenuTest::s_self = nullptr;

std::string Ansi(const char* utf8) {
    return AfxUtf8ToAnsi(utf8);
}

TEST_F(SysMenuTest, TheDefaultItemsAreGreyedAsTheWindowAllowsAndTheMenuIsTheWindows) {
    HMENU m = GetSystemMenu(frame, FALSE);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(GetSystemMenu(frame, FALSE), m);
    EXPECT_EQ(GetSystemMenu(child, FALSE), nullptr) << "no WS_SYSMENU";
    ASSERT_TRUE(AppendMenuA(m, MF_STRING, 0x10, "About"));

    struct Case {
        const char* what;
        DWORD style;
        int show;
        std::vector<std::string> lines;
    } cases[] = {
        {"no boxes",
         WS_POPUP | WS_SYSMENU,
         SW_SHOW,
         {"61728 g " + Ansi("还原(&R)"), "61472 g " + Ansi("最小化(&N)"), "61488 g " + Ansi("最大化(&X)"),
          "-", "61536 " + Ansi("关闭(&C)\tAlt+F4")}},
        {"both boxes",
         WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX,
         SW_SHOW,
         {"61728 g " + Ansi("还原(&R)"), "61472 " + Ansi("最小化(&N)"), "61488 " + Ansi("最大化(&X)"), "-",
          "61536 " + Ansi("关闭(&C)\tAlt+F4")}},
        {"maximized",
         WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX,
         SW_MAXIMIZE,
         {"61728 " + Ansi("还原(&R)"), "61472 " + Ansi("最小化(&N)"), "61488 g " + Ansi("最大化(&X)"), "-",
          "61536 " + Ansi("关闭(&C)\tAlt+F4")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (other)
            DestroyWindow(other);
        other = Make(c.style);
        ShowWindow(other, c.show);
        // The states are those of the moment the menu is shown.
        SendMessageA(other, WM_SYSCOMMAND, SC_KEYMENU, VK_SPACE);
        EXPECT_EQ(Lines(GetSystemMenu(other, FALSE)), c.lines);
    }

    // The appended item stays until the default is put back; the menu goes with its window.
    EXPECT_EQ(Lines(m).back(), "16 About");
    EXPECT_EQ(GetSystemMenu(frame, TRUE), nullptr);
    EXPECT_FALSE(IsMenu(m));
    HMENU fresh = GetSystemMenu(frame, FALSE);
    EXPECT_EQ(GetMenuItemCount(fresh), 5);
    DestroyWindow(frame);
    frame = nullptr;
    EXPECT_FALSE(IsMenu(fresh));
}

TEST_F(SysMenuTest, AltSpaceAndARightClickOnTheCaptionShowItAndTheChoiceIsASystemCommand) {
    HMENU m = GetSystemMenu(frame, FALSE);
    AppendMenuA(m, MF_STRING, 0x10, "About");
    struct Case {
        const char* what;
        bool key;
        POINT click;
        bool shows;
        POINT at;
        std::vector<UINT> commands;
    } cases[] = {
        // The key reaches the frame as the system's keyboard command first.
        {"Alt+Space on the focused child", true, {}, true, {100, 100}, {SC_KEYMENU, 0x10}},
        {"right click on the caption", false, {250, 110}, true, {250, 110}, {0x10}},
        {"right click in the client part", false, {350, 250}, false, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        commands.clear();
        size_t before = screen.Menus().size();
        screen.ScriptMenuChoice(0x10);
        if (c.key)
            AltSpace();
        else
            screen.Click(c.click.x, c.click.y, true);
        afxuser::CHeadlessScreen::Pump();
        ASSERT_EQ(screen.Menus().size(), before + (c.shows ? 1 : 0));
        EXPECT_EQ(commands, c.commands);
        if (!c.shows)
            continue;
        const auto& call = screen.Menus().back();
        EXPECT_EQ(call.menu, m);
        EXPECT_EQ(call.owner, frame);
        EXPECT_EQ(call.at.x, c.at.x);
        EXPECT_EQ(call.at.y, c.at.y);
    }
}

TEST_F(SysMenuTest, ItsCloseItemAndAltF4CloseTheWindow) {
    screen.ScriptMenuChoice(SC_CLOSE);
    AltSpace();
    afxuser::CHeadlessScreen::Pump();
    EXPECT_FALSE(IsWindow(frame));
    frame = Make(WS_POPUP | WS_VISIBLE | WS_SYSMENU);
    SetActiveWindow(frame);
    afxuser::InputKey(WM_SYSKEYDOWN, VK_MENU);
    afxuser::InputKey(WM_SYSKEYDOWN, VK_F4);
    afxuser::CHeadlessScreen::Pump();
    EXPECT_FALSE(IsWindow(frame));
    frame = nullptr;
}

} // namespace
