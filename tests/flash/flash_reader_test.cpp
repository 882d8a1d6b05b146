// The Flash reader window and its control on the headless browser control: the movie's XML
// requests and the program's calls into the movie, each call of the movie with its answer, the
// purchase against the replacement store, and the login that replaces the control.
#include "app/FlashPlayerWnd.h"
#include "contentserver/MyMemFile.h"
#include "contentserver/ServedFiles.h"
#include "contentserver/ServerHost.h"
#include "foundation/AppPathInfo.h"
#include "library/UserInfo.h"
#include "net/AppMessages.h"
#include "net/MyHttp.h"
#include "platform/kernel/Process.h"
#include "platform/user/HeadlessScreen.h"
#include "platform/web/FakeBrowser.h"

#include "tests/net/StorePeer.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WaitFor.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace {

using afxweb::CFakeBrowser;
using Args = std::vector<CString>;

// ---- the movie's requests

struct ParseCase {
    const char* name;
    const char* request;
    BOOL ok;
    const char* call;
    Args args;
};

class FlashRequest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(FlashRequest, YieldsTheCallAndItsArguments) {
    const auto& c = GetParam();
    CString call;
    Args args;
    EXPECT_EQ(ParseFlashInvoke(c.request, call, args), c.ok);
    if (!c.ok)
        return;
    EXPECT_EQ(call, c.call);
    EXPECT_EQ(args, c.args);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FlashRequest,
    ::testing::Values(
        ParseCase{
            "Strings",
            R"(<invoke name="C_ShiftPath" returntype="xml"><arguments><string>a/b.jpg</string><string>x</string></arguments></invoke>)",
            TRUE,
            "C_ShiftPath",
            {"a/b.jpg", "x"}},
        // A number before the last string is passed over.
        ParseCase{
            "NumberBetweenStrings",
            R"(<invoke name="f"><arguments><string>a</string><number>5</number><string>b</string></arguments></invoke>)",
            TRUE,
            "f",
            {"a", "b"}},
        ParseCase{
            "NullTextAndTrailingNumber",
            R"(<invoke name="f"><arguments><string>a</string><string>null</string><number>7</number></arguments></invoke>)",
            TRUE,
            "f",
            {"a", "", "7"}},
        ParseCase{
            "NumbersOnly",
            R"(<invoke name="f"><arguments><number>1</number><number>2.5</number></arguments></invoke>)",
            TRUE,
            "f",
            {"1", "2.5"}},
        ParseCase{"EscapedText",
                  R"(<invoke name="f"><arguments><string>&lt;a&amp;b&gt;</string></arguments></invoke>)",
                  TRUE,
                  "f",
                  {"<a&b>"}},
        ParseCase{"NoArgumentsGiven",
                  R"(<invoke name="JS_closeWin" returntype="xml"><arguments></arguments></invoke>)",
                  TRUE,
                  "JS_closeWin",
                  {}},
        ParseCase{
            "ArgumentsMissing", R"(<invoke name="JS_closeWin" returntype="xml"></invoke>)", FALSE, "", {}},
        ParseCase{"InvokeMissing",
                  R"(<call name="f"><arguments><string>a</string></arguments></call>)",
                  FALSE,
                  "",
                  {}},
        ParseCase{"NotXml", "C_GetOpenMag", FALSE, "", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FlashInvoke, ValuesWithMarkupReachTheMovieAsTheyWere) {
    Args values = {"a<b>&c", "say \"hi\" it's", "", "plain", "&amp;"};
    CString xml = BuildFlashInvoke("F_OpenMag", values);
    EXPECT_EQ(
        BuildFlashInvoke("F_OpenMag", {"x", "y"}),
        R"(<invoke name="F_OpenMag" returntype="xml"><arguments><string>x</string><string>y</string></arguments></invoke>)");
    CString call;
    Args back;
    ASSERT_TRUE(ParseFlashInvoke(xml, call, back)) << xml.GetString();
    EXPECT_EQ(call, "F_OpenMag");
    EXPECT_EQ(back, values);
    EXPECT_EQ(xml.Find("a<b"), -1);
}

TEST(FlashStartFile, PaidItemsOpenTheSecondStream) {
    EXPECT_EQ(FlashStartFile("1"), "stream2");
    EXPECT_EQ(FlashStartFile("0"), "stream");
    EXPECT_EQ(FlashStartFile(""), "stream");
}

// ---- the window and its movie

const char kPlayerPage[] = "file:///opt/kestrin/player/player.html";

// The main window as the reader sees it: application events and the login hooks, recorded.
class MainStandIn : public CWnd, public IFlashReaderHost {
public:
    std::vector<WPARAM> events;
    std::vector<std::string> hostCalls;
    std::function<void(BOOL)> onReopen;
    std::function<void()> onEvent;

    void RunLoginDialog() override { hostCalls.push_back("login"); }
    void ReopenLastItem(BOOL bLocal) override {
        hostCalls.push_back(bLocal ? "reopen local" : "reopen online");
        if (onReopen)
            onReopen(bLocal);
    }

protected:
    LRESULT OnAppEvent(WPARAM wParam, LPARAM lParam) {
        (void)lParam;
        events.push_back(wParam);
        if (onEvent)
            onEvent();
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(MainStandIn, CWnd)
ON_MESSAGE(WM_APP_EVENT, OnAppEvent)
END_MESSAGE_MAP()

// One player page per control: the movie's side, recording what the program made it do.
struct MoviePage {
    CFakeBrowser* browser = nullptr;
    std::vector<CString> moviesLoaded;
    std::vector<std::pair<CString, Args>> calls; // F_ functions called, parsed
    std::vector<CString> rawCalls;

    // The movie's ExternalInterface.call; its answer as the movie gets it.
    CString Call(const CString& name, const Args& args) {
        CString answer;
        EXPECT_TRUE(browser->CallExternal("FlashCall", {BuildFlashInvoke(name, args)}, &answer));
        return answer;
    }
};

class FlashReader : public ::testing::Test {
protected:
    void SetUp() override {
        screen.Install();
        CShockwaveflash1::SetPlayerPage(kPlayerPage);
        CShockwaveflash1::SetBrowserFactory([this](HWND) {
            auto b = std::make_unique<CFakeBrowser>();
            auto page = std::make_unique<MoviePage>();
            page->browser = b.get();
            MoviePage* p = page.get();
            b->AddPage(kPlayerPage, {
                                        {"eval", [](CFakeBrowser&, const Args&) { return CString(); }},
                                        {"playerLoadMovie",
                                         [p](CFakeBrowser&, const Args& a) {
                                             p->moviesLoaded.push_back(a.at(0));
                                             return CString();
                                         }},
                                        {"playerCallFunction",
                                         [p](CFakeBrowser&, const Args& a) {
                                             CString name;
                                             Args args;
                                             p->rawCalls.push_back(a.at(0));
                                             if (ParseFlashInvoke(a.at(0), name, args))
                                                 p->calls.emplace_back(name, args);
                                             return CString();
                                         }},
                                    });
            pages.push_back(std::move(page));
            return b;
        });
        ASSERT_TRUE(main.CreateEx(0, nullptr, "main", WS_POPUP, 0, 0, 100, 100, nullptr, 0));
        g_pMainDlg.Set(main.GetSafeHwnd());
        CFlashPlayerWnd::SetReaderHost(&main);
        ASSERT_TRUE(wnd.CreateEx(0, nullptr, "flash", WS_POPUP | WS_VISIBLE, 0, 0, 1024, 700, nullptr, 0));
        savedExeDir = g_AppPathInfo.m_strExeFilesDir;
        g_AppPathInfo.m_strExeFilesDir = CString(dir.win()).Left(static_cast<int>(dir.win().size()) - 1);
        savedUser = g_UserInfo.userid;
        savedMode = g_nUserMode;
    }
    void TearDown() override {
        unsetenv("KESTRIN_STORE");
        unsetenv("KESTRIN_WEB");
        AfxSetDesktopOpener(nullptr);
        wnd.CloseMovie();
        wnd.DestroyWindow();
        CFlashPlayerWnd::SetReaderHost(nullptr);
        g_pMainDlg.Clear();
        main.DestroyWindow();
        CShockwaveflash1::SetBrowserFactory([](HWND) { return std::unique_ptr<afxweb::IBrowserControl>(); });
        CShockwaveflash1::SetMovieAddressMap(nullptr);
        PublishServedPath(kPlayerUrlPath, nullptr);
        PublishServedPath(kPlayerMovieUrlPath, nullptr);
        g_nServerPort = savedPort;
        g_AppPathInfo.m_strExeFilesDir = savedExeDir;
        g_UserInfo.userid = savedUser;
        g_nUserMode = savedMode;
    }
    MoviePage& Movie() { return *pages.back(); }
    void Open(const char* type = "mag", const char* id = "m1", int served = 1, BOOL local = TRUE) {
        wnd.OpenMovie(type, id, "param", served, "stream", local);
        ASSERT_FALSE(pages.empty());
    }

    afxuser::CHeadlessScreen screen;
    TempDir dir{"kestrin_flash_"};
    MainStandIn main;
    CFlashPlayerWnd wnd;
    std::vector<std::unique_ptr<MoviePage>> pages;
    CString savedExeDir, savedUser;
    int savedMode = 0;
    int savedPort = g_nServerPort;
};

TEST_F(FlashReader, OpenMovieShowsThePlayerWithTheReaderMovieAndReplacesTheControlPerItem) {
    Open("mag", "m1", 1);
    EXPECT_EQ(wnd.m_strBase, "http://127.0.0.1:8024/mag/m1/");
    ASSERT_EQ(Movie().moviesLoaded.size(), 1u);
    EXPECT_EQ(Movie().moviesLoaded[0], CString("file://" + dir.path() + "/0/Read.Swf"));
    afxweb::CFlashControl* control = wnd.m_pFlash->GetControl();
    EXPECT_EQ(control->GetProperty("wmode"), "transparent");
    EXPECT_EQ(control->GetProperty("quality"), "high");
    EXPECT_EQ(control->GetProperty("allowScriptAccess"), "always");
    CRect rc;
    ::GetClientRect(wnd.m_pFlash->GetSafeHwnd(), &rc);
    EXPECT_EQ(rc.Width(), 1024);
    EXPECT_EQ(rc.Height(), 700);

    HWND first = wnd.m_pFlash->GetSafeHwnd();
    Open("book", "b2", 0);
    EXPECT_EQ(pages.size(), 2u);
    EXPECT_FALSE(::IsWindow(first));
    EXPECT_EQ(wnd.m_strBase, CString(MEMFILE_ROOT) + "book\\b2\\");

    wnd.SetWindowPos(nullptr, 0, 0, 640, 480, SWP_NOZORDER | SWP_NOMOVE);
    ::GetClientRect(wnd.m_pFlash->GetSafeHwnd(), &rc);
    EXPECT_EQ(rc.Width(), 640);

    wnd.CloseMovie();
    EXPECT_EQ(wnd.m_pFlash, nullptr);
    EXPECT_EQ(wnd.m_strItemId, "");
    EXPECT_EQ(wnd.m_strItemType, "");
}

struct OpenMagCase {
    const char* name;
    const char* userid;
    int mode;
    const char* wantUser;
    const char* wantMode;
};

class FlashOpenMag : public FlashReader, public ::testing::WithParamInterface<OpenMagCase> {};

TEST_P(FlashOpenMag, AnswersWithTheItemsSettingsThenTheItem) {
    const auto& c = GetParam();
    g_UserInfo.userid = c.userid;
    g_nUserMode = c.mode;
    Open("mag", "m7&1", 1);
    EXPECT_EQ(Movie().Call("C_GetOpenMag", {}), "");
    ASSERT_EQ(Movie().calls.size(), 2u);
    EXPECT_EQ(Movie().calls[0].first, "F_SetFlashVars");
    Args want = {"bTcmMQ==", "0", c.wantUser, "", "", "", "mag", "0", "", "", "", "", c.wantMode};
    EXPECT_EQ(Movie().calls[0].second, want);
    EXPECT_EQ(Movie().calls[1].first, "F_OpenMag");
    EXPECT_EQ(Movie().calls[1].second, (Args{"http://127.0.0.1:8024/mag/m7&1/stream", "param"}));
    // The guest id is the movie's only; the user record keeps its own.
    EXPECT_EQ(g_UserInfo.userid, c.userid);
}

INSTANTIATE_TEST_SUITE_P(Table, FlashOpenMag,
                         ::testing::Values(OpenMagCase{"LoggedIn", "1001", 0, "1001", "0"},
                                           OpenMagCase{"LoggedOutGetsTheGuestId", "", 0, "1159", "0"},
                                           OpenMagCase{"EnterMode", "1002", 1, "1002", "1"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlashReader, ShiftPathAnswersWithTheBaseAndTheLastPartOfThePath) {
    Open("mag", "m1", 1);
    EXPECT_EQ(Movie().Call("C_ShiftPath", {"images/p1.jpg"}),
              "<string>http://127.0.0.1:8024/mag/m1/p1.jpg</string>");
    EXPECT_EQ(Movie().Call("C_ShiftPath", {"p2.jpg", "ignored"}),
              "<string>http://127.0.0.1:8024/mag/m1/p2.jpg</string>");
    EXPECT_EQ(Movie().Call("C_ShiftPath", {"a/b/"}), "<string>http://127.0.0.1:8024/mag/m1/</string>");
    EXPECT_EQ(Movie().Call("C_ShiftPath", {}), "");
    // A file name with markup comes back whole once the movie reads the answer.
    CString answer = Movie().Call("C_ShiftPath", {"x/a&b<1>.jpg"});
    EXPECT_EQ(answer, "<string>http://127.0.0.1:8024/mag/m1/a&amp;b&lt;1&gt;.jpg</string>");
}

// The main window's OK key reaches the movie's page as a key press, and only while a movie is open.
TEST_F(FlashReader, EnterGoesToThePlayerPageOfTheOpenMovie) {
    wnd.SendEnterKey(); // no control: nothing, and no fault
    Open();
    wnd.SendEnterKey();
    EXPECT_EQ(Movie().browser->Keys(), (std::vector<UINT>{VK_RETURN}));
    wnd.CloseMovie();
    wnd.SendEnterKey(); // the control is gone: nothing
}

// The player page is the local server's, on the server's port, and it fetches the installed
// reader movie from there too; other movie addresses and the item's folder stay as they are.
TEST_F(FlashReader, ThePublishedPlayerIsServedWithTheMovieByTheLocalServer) {
    g_nServerPort = 8124;
    PublishReaderPlayer(CString(dir.win() + "player\\"));
    EXPECT_EQ(CShockwaveflash1::GetPlayerPage(), "http://127.0.0.1:8124/player/player.html");
    CString path;
    EXPECT_TRUE(FindServedPath("/player/ruffle/ruffle.js", path));
    EXPECT_EQ(path, CString(dir.win() + "player\\ruffle\\ruffle.js"));
    EXPECT_TRUE(FindServedPath("/player/read.swf", path));
    EXPECT_EQ(path, g_AppPathInfo.GetReadSwfPath());

    // The fake shows its own page under the fixture's address.
    CShockwaveflash1::SetPlayerPage(kPlayerPage);
    Open("mag", "m1", 1);
    EXPECT_EQ(wnd.m_strBase, "http://127.0.0.1:8124/mag/m1/");
    ASSERT_EQ(Movie().moviesLoaded.size(), 1u);
    EXPECT_EQ(Movie().moviesLoaded[0], "http://127.0.0.1:8124/player/read.swf");
    wnd.m_pFlash->LoadMovie(0, CString(dir.win() + "other.swf"));
    ASSERT_EQ(Movie().moviesLoaded.size(), 2u);
    EXPECT_EQ(Movie().moviesLoaded[1], CString("file://" + dir.path() + "/other.swf"));
}

TEST_F(FlashReader, CallNamesAreComparedExactlyAndUnknownOnesDoNothing) {
    Open();
    for (const char* name : {"c_getopenmag", "C_GETOPENMAG", "C_GetOpenMag ", "js_closewin", "Nothing"})
        EXPECT_EQ(Movie().Call(name, {}), "") << name;
    EXPECT_TRUE(Movie().calls.empty());
    EXPECT_TRUE(main.events.empty());
    CString answer = "unset";
    EXPECT_TRUE(Movie().browser->CallExternal("FlashCall", {"<invoke name=\"C_ShiftPath\">"}, &answer));
    EXPECT_EQ(answer, "");
}

TEST_F(FlashReader, CloseWinSendsTheCloseEventToTheMainWindow) {
    Open();
    Movie().Call("JS_closeWin", {});
    EXPECT_EQ(main.events, (std::vector<WPARAM>{EVT_CLOSE_FLASH}));
}

TEST_F(FlashReader, SubscribeOpensTheStoresSubscriptionPageInTheDesktopsBrowser) {
    std::string recorder = dir.sub("opener");
    std::ofstream(recorder) << "#!/bin/sh\nprintf '%s\\n' \"$@\" >\"" << dir.sub("out.tmp") << "\"\nmv \""
                            << dir.sub("out.tmp") << "\" \"" << dir.sub("out.txt") << "\"\n";
    chmod(recorder.c_str(), 0755);
    AfxSetDesktopOpener(recorder.c_str());
    setenv("KESTRIN_WEB", "http://web.example", 1);
    Open();
    Movie().Call("JS_subscribe", {});
    bool arrived = testwait::WaitFor([&] { return std::filesystem::exists(dir.sub("out.txt")); });
    AfxSetDesktopOpener(nullptr);
    unsetenv("KESTRIN_WEB");
    ASSERT_TRUE(arrived);
    EXPECT_EQ(ReadFileBytes(dir.sub("out.txt")),
              "http://web.example/magazine/digi_subscription.php?oemname=tavonel&vs=5\n");
}

// The main window closes the reading view when the movie asks; the control that is asking is
// still inside its event then.
TEST_F(FlashReader, AControlClosedInsideItsOwnEventGoesOnceTheEventReturns) {
    Open();
    HWND control = wnd.m_pFlash->GetSafeHwnd();
    main.onEvent = [&] { wnd.CloseMovie(); };
    Movie().Call("JS_closeWin", {});
    EXPECT_EQ(wnd.m_pFlash, nullptr);
    EXPECT_TRUE(::IsWindow(control));
    EXPECT_FALSE(::IsWindowVisible(control));
    ASSERT_TRUE(testwait::PumpUntil([&] { return !::IsWindow(control); }));

    // Replaced inside its event: the new control is the one that stays.
    Open();
    control = wnd.m_pFlash->GetSafeHwnd();
    main.onEvent = [&] { wnd.OpenMovie("book", "b1", "", 1, "stream"); };
    Movie().Call("JS_closeWin", {});
    ASSERT_NE(wnd.m_pFlash, nullptr);
    HWND replacement = wnd.m_pFlash->GetSafeHwnd();
    ASSERT_TRUE(testwait::PumpUntil([&] { return !::IsWindow(control); }));
    EXPECT_TRUE(::IsWindow(replacement));
    EXPECT_EQ(wnd.m_strItemId, "b1");
}

class FlashLogin : public FlashReader, public ::testing::WithParamInterface<BOOL> {};

TEST_P(FlashLogin, TheReopenRunsAfterTheEventAndKeepsTheKindOfItem) {
    BOOL local = GetParam();
    Open("mag", "m1", 1, local);
    main.onReopen = [&](BOOL bLocal) { wnd.OpenMovie("mag", "m1", "param", 1, "stream", bLocal); };
    HWND control = wnd.m_pFlash->GetSafeHwnd();
    Movie().Call("ShowLoginDlg", {});
    // Nothing of the login may run while the control is still inside its event.
    EXPECT_TRUE(main.hostCalls.empty());
    EXPECT_TRUE(::IsWindow(control));
    ASSERT_TRUE(testwait::PumpUntil([&] { return main.hostCalls.size() == 2; }));
    EXPECT_EQ(main.hostCalls[0], "login");
    EXPECT_EQ(main.hostCalls[1], local ? "reopen local" : "reopen online");
    EXPECT_FALSE(::IsWindow(control));
    EXPECT_EQ(pages.size(), 2u);
    EXPECT_EQ(Movie().moviesLoaded.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, FlashLogin, ::testing::Values(TRUE, FALSE),
                         [](const auto& info) { return info.param ? "Local" : "Online"; });

// ---- the purchase

struct BuyCase {
    const char* name;
    const char* uid;
    const char* pwd;
    const char* pid;
    int times; // the answer of the last purchase counts
    bool storeUp;
    const char* status;
    const char* message; // in the ANSI code page
};

class FlashPurchase : public WithStore<FlashReader>, public ::testing::WithParamInterface<BuyCase> {};

TEST_P(FlashPurchase, TheStoresAnswerReachesTheMovie) {
    const auto& c = GetParam();
    setenv("KESTRIN_STORE", c.storeUp ? Base().c_str() : "http://127.0.0.1:1", 1);
    g_UserInfo.userid = c.uid;
    g_UserInfo.password = c.pwd;
    Open("mag", c.pid, 1);
    for (int i = 0; i < c.times; ++i)
        EXPECT_EQ(Movie().Call("C_UserPriceBuy", {}), "");
    unsetenv("KESTRIN_STORE");
    ASSERT_EQ(Movie().calls.size(), static_cast<size_t>(c.times));
    EXPECT_EQ(Movie().calls.back().first, "F_ReUserBuyInfo");
    EXPECT_EQ(Movie().calls.back().second, (Args{c.status, c.message}));
}

INSTANTIATE_TEST_SUITE_P(
    Table, FlashPurchase,
    ::testing::Values(
        BuyCase{"Bought", "1001", "pa ss&#1", "m1", 1, true, "1", "\xB9\xBA\xC2\xF2\xB3\xC9\xB9\xA6"},
        BuyCase{"AlreadyBought", "1001", "pa ss&#1", "m2", 2, true, "1",
                "\xD6\xA4\xC3\xF7\xD2\xD1\xBE\xAD\xB9\xBA\xC2\xF2\xB9\xFD"},
        BuyCase{"BalanceTooLow", "1002", "secret", "m1", 1, true, "0", "\xD3\xE0\xB6\xEE\xB2\xBB\xD7\xE3"},
        BuyCase{"WrongPassword", "1001", "wrong", "m4", 1, true, "0", "\xB9\xBA\xC2\xF2\xCA\xA7\xB0\xDC"},
        BuyCase{"GuestCannotBuy", "", "", "m5", 1, true, "0", "\xB9\xBA\xC2\xF2\xCA\xA7\xB0\xDC"},
        BuyCase{"StoreUnreachable", "1001", "pa ss&#1", "m7", 1, false, "0",
                "\xCD\xF8\xC2\xE7\xC1\xAC\xBD\xD3\xB3\xF6\xB4\xED"}),
    [](const auto& info) { return std::string(info.param.name); });

class FlashGuestPurchase : public WithStore<FlashReader> {};

// A reader who is not logged in buys under the guest id the movie was given, from then on; the
// user record keeps its empty id, so no later save of user.xml can hold the guest's.
TEST_F(FlashGuestPurchase, GoesOutUnderTheGuestIdOnceTheMovieHasIt) {
    setenv("KESTRIN_STORE", Base().c_str(), 1);
    g_UserInfo.userid = "";
    g_UserInfo.password = "";
    Open("mag", "m5", 1);
    Movie().Call("C_UserPriceBuy", {}); // the movie has not asked for its settings yet
    Movie().Call("C_GetOpenMag", {});
    Movie().Call("C_UserPriceBuy", {});
    Open("mag", "m5", 1); // another item of the same run
    Movie().Call("C_UserPriceBuy", {});
    unsetenv("KESTRIN_STORE");
    EXPECT_EQ(g_UserInfo.userid, "");

    CMyHttp http;
    CString log;
    ASSERT_EQ(http.GetUrl(CString(Base() + "/_control/log"), nullptr, 0, "", log), MYHTTP_OK);
    std::vector<std::string> uids;
    std::istringstream lines(log.str());
    for (std::string line; std::getline(lines, line);) {
        if (line.find("/magBuy/") == std::string::npos)
            continue;
        const size_t at = line.find("&uid=");
        ASSERT_NE(at, std::string::npos) << line;
        uids.push_back(line.substr(at + 5, line.find('&', at + 5) - at - 5));
    }
    EXPECT_EQ(uids, (std::vector<std::string>{"", "1159", "1159"}));
}

// Answers the store never gives: passed to the movie as they are, in the ANSI code page, except
// that only the exact words count.
TEST_F(FlashReader, OtherPurchaseAnswersReachTheMovieAsTheirText) {
    struct Case {
        std::string reply; // as served, UTF-8
        const char* message;
    };
    const Case cases[] = {
        {"", ""},           {"\xE5\xB7\xB2\xE5\x94\xAE\xE5\xAE\x8C", "\xD2\xD1\xCA\xDB\xCD\xEA"}, // "已售完"
        {"Exist", "Exist"}, {"1\n", "1\n"},
        {" lack", " lack"},
    };
    std::string folder = dir.sub("www/touch/system/index.php/index/magBuy");
    std::filesystem::create_directories(folder);
    PeerProcess server;
    int port = PeerProcess::FreePort();
    ASSERT_TRUE(StartPythonFileServer(server, dir.sub("www"), port));
    setenv("KESTRIN_STORE", ("http://127.0.0.1:" + std::to_string(port)).c_str(), 1);
    g_UserInfo.userid = "1001";
    Open();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        WriteFileBytes(folder + "/index.html", c.reply);
        Movie().calls.clear();
        Movie().Call("C_UserPriceBuy", {});
        ASSERT_EQ(Movie().calls.size(), 1u);
        EXPECT_EQ(Movie().calls[0].second, (Args{"0", c.message}));
    }
    unsetenv("KESTRIN_STORE");
}

} // namespace
