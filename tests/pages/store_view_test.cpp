// The store pages' view on the headless browser control: the page-loaded answer from the stored
// login, login and logoff, the reports to the main window, the user-mode switch with its skins,
// and the notifications' gate.
#include "pages/MainHtmlView.h"
#include "tests/pages/ViewsFixture.h"

#include <filesystem>

namespace {

using viewtest::ViewsTest;
namespace fs = std::filesystem;

// Writes the skin switches down instead of loading skins into a main window.
class RecordingStoreView : public CMainHtmlView {
public:
    std::vector<std::string> switches;

protected:
    void SwitchSkins(LPCSTR win, LPCSTR bar) override { switches.push_back(std::string(win) + "+" + bar); }
};

class StoreView : public ViewsTest {
protected:
    void SetUp() override {
        ViewsTest::SetUp();
        // The store's pages come from the store; a page of the local folder stands in for one,
        // which the base trusts as well.
        CMainHtmlView probe;
        DefinePage(probe.GetPageUrl("store.html"), {"js_UserLogin", "js_ReDownLoad"});
        view = Open<RecordingStoreView>("store.html");
        calls.clear();
    }
    CString Call(const char* method, std::vector<CString> args) {
        CString r;
        EXPECT_TRUE(fakes.back()->CallExternal(method, args, &r)) << method;
        return r;
    }
    void StoredLogin(const char* password, const char* autologin) {
        g_UserInfo.userid = "42";
        g_UserInfo.username = "bmFtZQ";
        g_UserInfo.password = password;
        g_UserInfo.autologin = autologin;
    }
    RecordingStoreView* view = nullptr;
};

TEST_F(StoreView, OffersItsMethodsInOrder) {
    EXPECT_EQ(view->GetDispatchNames(),
              (std::vector<CString>{"C_HtmlLoad", "C_UserLogin", "C_UserLogoff", "C_DownLoadFile",
                                    "C_ReadFile", "C_GoShelf", "C_SetUserMode", "ReErrorHtml", "MyClose"}));
}

TEST_F(StoreView, HtmlLoadAnswersFromTheStoredLogin) {
    struct Case {
        const char* password;
        const char* autologin;
        const char* result;
        bool clearsPage;
    };
    const Case cases[] = {{"pw", "1", "1", false}, {"pw", "0", "0", false}, {"", "1", "0", true}};
    for (const auto& c : cases) {
        calls.clear();
        StoredLogin(c.password, c.autologin);
        EXPECT_EQ(Call("C_HtmlLoad", {}), c.result) << c.password << "/" << c.autologin;
        EXPECT_TRUE(view->m_bLoaded);
        EXPECT_EQ(calls,
                  c.clearsPage ? std::vector<std::string>{"js_UserLogin(||||)"} : std::vector<std::string>{});
        if (c.clearsPage) {
            EXPECT_EQ(g_UserInfo.autologin, "0");
        }
    }
}

TEST_F(StoreView, NotificationsWaitForThePageToLoad) {
    StoredLogin("pw", "1");
    view->NotifyLogoff();
    view->NotifyReDownLoad("2", "7", "11");
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(g_UserInfo.autologin, "1") << "a logoff before the page loaded changes nothing";
    Call("C_HtmlLoad", {});
    view->NotifyReDownLoad("2", "7", "11");
    view->NotifyLogoff();
    EXPECT_EQ(calls, (std::vector<std::string>{"js_ReDownLoad(2|7|11)", "js_UserLogin(||||)"}));
    EXPECT_EQ(g_UserInfo.autologin, "0");
}

TEST_F(StoreView, LoginAndLogoff) {
    EXPECT_EQ(Call("C_UserLogin", {"42", "", "pw", "0", "0", "1"}), "0");
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(Call("C_UserLogin", {"42", "name", "pw", "1", "5", "0"}), "1");
    EXPECT_EQ(g_UserInfo.userid, "42");
    EXPECT_EQ(g_UserInfo.money, "5");
    EXPECT_FALSE(fs::exists(dir.sub("Data/user.xml"))) << "autologin 0 saves nothing";
    EXPECT_EQ(Call("C_UserLogoff", {}), "1");
    EXPECT_TRUE(g_UserInfo.userid.IsEmpty());
    EXPECT_TRUE(fs::exists(dir.sub("Data/user.xml")));
    EXPECT_EQ(Codes(), (std::vector<WPARAM>{EVT_USER_LOGIN, EVT_USER_LOGOFF}));
}

TEST_F(StoreView, RequestsReachTheMainWindowWithTheirFields) {
    EXPECT_EQ(Call("C_DownLoadFile", {"mag", "11", "t"}), "1");
    EXPECT_EQ(Call("C_ReadFile", {"book", "12", "u"}), "1");
    EXPECT_EQ(Call("C_GoShelf", {"book", "5"}), "1");
    EXPECT_EQ(Call("C_DownLoadFile", {"mag", "..\\x", "t"}), "0");
    ASSERT_EQ(Codes(), (std::vector<WPARAM>{EVT_DOWNLOAD_FILE, EVT_READ_ONLINE, EVT_GO_SHELF}));
    EXPECT_EQ(events[0].p1 + "," + events[0].p2 + "," + events[0].p3, "t,11,mag");
    EXPECT_EQ(events[1].p1 + "," + events[1].p2 + "," + events[1].p3, "u,12,book");
    EXPECT_EQ(events[2].p1 + "," + events[2].p2 + "," + events[2].p3, ",5,book");
    EXPECT_TRUE(calls.empty()) << "the store's C_GoShelf calls no script";
}

TEST_F(StoreView, UserModeSwitchesSkinsOnlyOnAChangeAndAlwaysSaves) {
    EXPECT_EQ(Call("C_SetUserMode", {"user"}), "1");
    EXPECT_TRUE(view->switches.empty());
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(fs::exists(dir.sub("Data/user.xml")));
    fs::remove(dir.sub("Data/user.xml"));
    Call("C_SetUserMode", {"enter"});
    Call("C_SetUserMode", {"enter"});
    EXPECT_EQ(g_nUserMode, 1);
    EXPECT_EQ(view->switches, (std::vector<std::string>{"WinSkin.xml+ToolBar.xml"}));
    EXPECT_EQ(Codes(), (std::vector<WPARAM>{EVT_USER_MODE}));
    EXPECT_EQ(events[0].lParam, 1);
    EXPECT_NE(ReadFileBytes(dir.sub("Data/user.xml")).find("client_mode"), std::string::npos);
    Call("C_SetUserMode", {"user"});
    EXPECT_EQ(g_nUserMode, 0);
    EXPECT_EQ(view->switches.back(), "WinSkin2.xml+ToolBar2.xml");
    EXPECT_EQ(Codes().size(), 2u);
}

TEST_F(StoreView, TrustsTheStoreHostAndNoLookAlike) {
    setenv("KESTRIN_STORE", "http://127.0.0.1:8080", 1);
    EXPECT_TRUE(view->IsTrustedUrl("http://127.0.0.1:8080/touch/magazine/"));
    EXPECT_TRUE(view->IsTrustedUrl("http://127.0.0.1:8080"));
    EXPECT_FALSE(view->IsTrustedUrl("http://127.0.0.1:80801/"));
    EXPECT_FALSE(view->IsTrustedUrl("http://127.0.0.1:8080.evil.example/"));
    EXPECT_FALSE(view->AllowsNavigation("http://elsewhere.example/"));
    unsetenv("KESTRIN_STORE");
}

} // namespace
