// The wireless-display link against a test double of the platform component: the component's
// ready and adapter messages, the settings page's connect requests, and the machine without one.
#include "app/WidiLink.h"
#include "net/AppMessages.h"
#include "platform/user/HeadlessScreen.h"
#include "platform/user/User.h"
#include "tests/support/FakeWidi.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// "客厅" (living room) in UTF-16 and in the ANSI code page.
const std::u16string kRoomWide = u"\u5BA2\u5385";
const char kRoomAnsi[] = "\xBF\xCD\xCC\xFC";

CWidiLink* g_link = nullptr;

// The main window's routing of the component's messages and of the settings page's request.
LRESULT LinkProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    switch (m) {
    case WM_WIDI_READY:
        return g_link->OnWidiReady(w, l);
    case WM_WIDI_ADAPTER_FOUND:
        return g_link->OnWidiAdapterFound(w, l);
    case WM_WIDI_MSG_9003:
    case WM_WIDI_MSG_9006:
    case WM_WIDI_MSG_9007:
        return g_link->OnWidiIgnored(w, l);
    case WM_WIDI_CONNECT:
        return g_link->OnWidiConnect(w, l);
    default:
        return DefWindowProcA(h, m, w, l);
    }
}

class WidiTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_screen.Install();
        WNDCLASSA wc{};
        wc.lpfnWndProc = &LinkProc;
        wc.lpszClassName = "WidiTestMain";
        RegisterClassA(&wc);
        m_wnd = CreateWindowExA(0, "WidiTestMain", "main", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr,
                                nullptr, nullptr);
        m_link = new CWidiLink;
        g_link = m_link;
    }
    void TearDown() override {
        delete m_link;
        DestroyWindow(m_wnd);
        m_fake.Unregister();
        g_link = nullptr;
    }
    void WithComponent() { m_fake.Register(); }
    // What the settings page's "C_ConnectWIDI" sends.
    LRESULT Ask(const CString& name) {
        return SendMessageA(m_wnd, WM_WIDI_CONNECT, 0, reinterpret_cast<LPARAM>(&name));
    }
    std::vector<std::string> Adapters() const {
        std::vector<std::string> out;
        for (INT_PTR i = 0; i < m_link->m_arrWidiAdapters.GetSize(); ++i)
            out.push_back(m_link->m_arrWidiAdapters[i].GetString());
        return out;
    }

    afxuser::CHeadlessScreen m_screen;
    HWND m_wnd = nullptr;
    FakeWidi m_fake;
    CWidiLink* m_link = nullptr;
};

TEST_F(WidiTest, WithoutTheComponentNothingIsListedOrConnected) {
    EXPECT_FALSE(m_link->Create(m_wnd));
    EXPECT_EQ(m_link->m_spWidi, nullptr);
    afxuser::CHeadlessScreen::Pump();
    EXPECT_EQ(Ask("TV"), 0);
    EXPECT_EQ(Ask(""), 0);
    EXPECT_TRUE(Adapters().empty());
    EXPECT_EQ(m_link->m_strWidiConnected, "");
    EXPECT_EQ(m_fake.refs, 0u);
}

TEST_F(WidiTest, ReadyStartsTheScanAndAdaptersAreListedAsReported) {
    m_fake.adapters = {u"B", kRoomWide, u"B"};
    WithComponent();
    ASSERT_TRUE(m_link->Create(m_wnd));
    EXPECT_EQ(m_fake.window, m_wnd);
    EXPECT_EQ(m_fake.scans, 0);
    afxuser::CHeadlessScreen::Pump();
    EXPECT_TRUE(m_link->m_bWidiReady);
    EXPECT_EQ(m_fake.scans, 1);
    EXPECT_EQ(Adapters(), (std::vector<std::string>{"B", kRoomAnsi, "B"}));
    for (UINT m : {WM_WIDI_MSG_9003, WM_WIDI_MSG_9006, WM_WIDI_MSG_9007})
        EXPECT_EQ(SendMessageA(m_wnd, m, 1, 2), 0);
    EXPECT_TRUE(m_fake.calls.empty());
}

TEST_F(WidiTest, EarlyRequestsAreDroppedAndADisconnectNamesTheLastConnect) {
    WithComponent();
    ASSERT_TRUE(m_link->Create(m_wnd));
    // Before the component is ready a request is dropped, and not made up for later.
    EXPECT_EQ(Ask("early"), 0);
    afxuser::CHeadlessScreen::Pump();
    EXPECT_TRUE(m_fake.calls.empty());

    EXPECT_EQ(SendMessageA(m_wnd, WM_WIDI_CONNECT, 0, 0), 0);
    Ask("A");
    Ask(kRoomAnsi);
    Ask("");
    Ask("");
    EXPECT_EQ(m_fake.calls,
              (std::vector<std::string>{"connect A 0 0 3", "connect \xE5\xAE\xA2\xE5\x8E\x85 0 0 3",
                                        "disconnect \xE5\xAE\xA2\xE5\x8E\x85",
                                        "disconnect \xE5\xAE\xA2\xE5\x8E\x85"}));
    EXPECT_EQ(m_link->m_strWidiConnected, kRoomAnsi);
}

TEST_F(WidiTest, TheComponentIsReleasedWithoutADisconnect) {
    WithComponent();
    ASSERT_TRUE(m_link->Create(m_wnd));
    afxuser::CHeadlessScreen::Pump();
    Ask("A");
    EXPECT_EQ(m_fake.refs, 1u);
    delete m_link;
    m_link = nullptr;
    EXPECT_EQ(m_fake.refs, 0u);
    EXPECT_EQ(m_fake.calls, std::vector<std::string>{"connect A 0 0 3"});
}

} // namespace
