#include "platform/shell/ShellApi.h"
#include "platform/shell/TrayHost.h"

#include "tests/shell/ShellTestWindow.h"
#include "tests/support/WaitFor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace afxshell;
using shelltest::TestWindow;

namespace {

constexpr UINT kTrayNotify = 0x7E9;
constexpr UINT kIconId = 168;
const HICON kIcon = reinterpret_cast<HICON>(0x1280);
const HICON kOtherIcon = reinterpret_cast<HICON>(0x1290);
const char kTip[] = "\xC4\xAB\xD6\xDB\xCF\xBB"
                    "V4.0"; // the program's tip in GBK

NOTIFYICONDATAA Data(HWND hWnd, UINT flags, const char* tip = "", HICON icon = kIcon) {
    NOTIFYICONDATAA d;
    std::memset(&d, 0, sizeof d);
    d.cbSize = 508;
    d.hWnd = hWnd;
    d.uID = kIconId;
    d.uFlags = flags;
    d.uCallbackMessage = kTrayNotify;
    d.hIcon = icon;
    std::strncpy(d.szTip, tip, sizeof d.szTip - 1);
    return d;
}

class TrayTest : public ::testing::Test {
protected:
    void SetUp() override { SetTrayHost(&m_host); }
    void TearDown() override {
        // Icons a failed test left behind would make the next test's NIM_ADD fail.
        for (const auto& c : m_host.Calls())
            if (c.message == NIM_ADD) {
                NOTIFYICONDATAA d = Data(c.icon.hWnd, 0);
                d.uID = c.icon.uID;
                Shell_NotifyIconA(NIM_DELETE, &d);
            }
        SetTrayHost(nullptr);
    }
    HeadlessTrayHost m_host;
    TestWindow m_wnd;
};

TEST_F(TrayTest, IconLivesFromAddThroughModifyToDelete) {
    NOTIFYICONDATAA d = Data(m_wnd.hWnd(), NIF_MESSAGE | NIF_ICON | NIF_TIP, kTip);
    ASSERT_TRUE(Shell_NotifyIconA(NIM_ADD, &d));
    auto shown = m_host.Icon(m_wnd.hWnd(), kIconId);
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->hIcon, kIcon);
    EXPECT_EQ(shown->tip, kTip);

    // The same icon twice is refused; the area keeps one.
    EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, &d));

    // A modify changes only what its flags name: the image stays, the callback too.
    NOTIFYICONDATAA tipOnly = Data(m_wnd.hWnd(), NIF_TIP, "new tip", kOtherIcon);
    tipOnly.uCallbackMessage = 0;
    ASSERT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &tipOnly));
    shown = m_host.Icon(m_wnd.hWnd(), kIconId);
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->hIcon, kIcon);
    EXPECT_EQ(shown->tip, "new tip");
    ASSERT_TRUE(m_host.Click(m_wnd.hWnd(), kIconId, WM_RBUTTONUP));
    ASSERT_TRUE(testwait::PumpUntil([] { return !TestWindow::Log().empty(); }));
    EXPECT_EQ(TestWindow::Log()[0].message, kTrayNotify);

    NOTIFYICONDATAA iconOnly = Data(m_wnd.hWnd(), NIF_ICON, "ignored", kOtherIcon);
    ASSERT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &iconOnly));
    EXPECT_EQ(m_host.Icon(m_wnd.hWnd(), kIconId)->hIcon, kOtherIcon);
    EXPECT_EQ(m_host.Icon(m_wnd.hWnd(), kIconId)->tip, "new tip");

    NOTIFYICONDATAA del = Data(m_wnd.hWnd(), 0);
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &del));
    EXPECT_FALSE(m_host.Icon(m_wnd.hWnd(), kIconId));
    EXPECT_FALSE(Shell_NotifyIconA(NIM_DELETE, &del));
    EXPECT_FALSE(Shell_NotifyIconA(NIM_MODIFY, &tipOnly));

    auto calls = m_host.Calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].message, NIM_ADD);
    EXPECT_EQ(calls[1].message, NIM_MODIFY);
    EXPECT_EQ(calls[2].message, NIM_MODIFY);
    EXPECT_EQ(calls[3].message, NIM_DELETE);

    // Once deleted it can be added again.
    EXPECT_TRUE(Shell_NotifyIconA(NIM_ADD, &d));
}

TEST_F(TrayTest, ClicksArriveAsTheCallbackMessageWithIdAndMouseMessage) {
    NOTIFYICONDATAA d = Data(m_wnd.hWnd(), NIF_MESSAGE | NIF_ICON | NIF_TIP, kTip);
    ASSERT_TRUE(Shell_NotifyIconA(NIM_ADD, &d));
    for (UINT mouse : {WM_RBUTTONUP, WM_LBUTTONDBLCLK}) {
        TestWindow::Log().clear();
        ASSERT_TRUE(m_host.Click(m_wnd.hWnd(), kIconId, mouse));
        // Posted, not sent: the program opens its menu from its own loop, not inside the host.
        EXPECT_TRUE(TestWindow::Log().empty());
        ASSERT_TRUE(testwait::PumpUntil([] { return !TestWindow::Log().empty(); }));
        ASSERT_EQ(TestWindow::Log().size(), 1u);
        EXPECT_EQ(TestWindow::Log()[0].message, kTrayNotify);
        EXPECT_EQ(TestWindow::Log()[0].wParam, kIconId);
        EXPECT_EQ(LOWORD(TestWindow::Log()[0].lParam), mouse);
    }
    EXPECT_FALSE(m_host.Click(m_wnd.hWnd(), kIconId + 1, WM_RBUTTONUP));
}

TEST_F(TrayTest, IconWithoutCallbackMessageSendsNothing) {
    NOTIFYICONDATAA d = Data(m_wnd.hWnd(), NIF_ICON | NIF_TIP, kTip);
    ASSERT_TRUE(Shell_NotifyIconA(NIM_ADD, &d));
    EXPECT_FALSE(m_host.Click(m_wnd.hWnd(), kIconId, WM_RBUTTONUP));
}

TEST_F(TrayTest, WithoutANotificationAreaAddFailsAndNothingIsKept) {
    NOTIFYICONDATAA d = Data(m_wnd.hWnd(), NIF_MESSAGE | NIF_ICON | NIF_TIP, kTip);
    m_host.SetAvailable(false);
    EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, &d));
    EXPECT_TRUE(m_host.Calls().empty());
    EXPECT_FALSE(Shell_NotifyIconA(NIM_MODIFY, &d));
    EXPECT_FALSE(TrayIconNotify(m_wnd.hWnd(), kIconId, WM_RBUTTONUP));

    SetTrayHost(nullptr);
    EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, &d));
    EXPECT_FALSE(Shell_NotifyIconA(NIM_DELETE, &d));

    // A host that comes later takes the icon.
    SetTrayHost(&m_host);
    m_host.SetAvailable(true);
    EXPECT_TRUE(Shell_NotifyIconA(NIM_ADD, &d));
}

TEST_F(TrayTest, DeleteWorksAfterTheWindowIsGone) {
    NOTIFYICONDATAA d = Data(m_wnd.hWnd(), NIF_MESSAGE | NIF_ICON | NIF_TIP, kTip);
    ASSERT_TRUE(Shell_NotifyIconA(NIM_ADD, &d));
    m_wnd.Destroy();
    ASSERT_FALSE(IsWindow(d.hWnd));
    EXPECT_TRUE(Shell_NotifyIconA(NIM_DELETE, &d));
    EXPECT_FALSE(m_host.Icon(d.hWnd, kIconId));
    ASSERT_EQ(m_host.Calls().size(), 2u);
    EXPECT_EQ(m_host.Calls()[1].message, NIM_DELETE);
}

TEST_F(TrayTest, TipIsBoundedByItsFieldAndNeverEndsInHalfACharacter) {
    struct Case {
        const char* name;
        std::string field; // the bytes of szTip (up to 128, no zero added)
        std::string shown;
    };
    const std::string a127(127, 'a');
    const std::string a126(126, 'a');
    const std::string mo = "\xC4\xAB"; // one GBK character
    const Case cases[] = {
        {"short", std::string(kTip) + '\0', kTip},
        {"fills the field", a127 + '\0', a127},
        {"no terminating zero", std::string(128, 'b'), std::string(127, 'b')},
        {"character split by the last byte", a126 + mo, a126},
        {"character ending at byte 127", std::string(125, 'a') + mo + 'x', std::string(125, 'a') + mo},
        {"zero inside", std::string("ab\0cd", 5), "ab"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NOTIFYICONDATAA d = Data(m_wnd.hWnd(), NIF_MESSAGE | NIF_TIP);
        std::memset(d.szTip, 0, sizeof d.szTip);
        std::memcpy(d.szTip, c.field.data(), std::min(c.field.size(), sizeof d.szTip));
        // A field without its zero is followed by bytes that must never be read.
        std::memset(&d.dwState, 'Z', sizeof d.dwState);
        ASSERT_TRUE(Shell_NotifyIconA(NIM_ADD, &d));
        EXPECT_EQ(m_host.Icon(m_wnd.hWnd(), kIconId)->tip, c.shown);
        ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &d));
    }
}

} // namespace
