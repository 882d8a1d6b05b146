// The page view base and its control site, on the headless browser control: the host's
// policies, the script calls and their gate, the dispatch to the view, navigation errors and
// closing from inside a page's call.
#include "pages/VorHtmlView.h"
#include "platform/user/HeadlessScreen.h"
#include "platform/web/FakeBrowser.h"
#include "tests/support/RecordingWindow.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

namespace {

using afxweb::CFakeBrowser;
using Args = std::vector<CString>;

// ---- the control site's security answers

struct UrlActionCase {
    DWORD action;
    DWORD size;
    HRESULT want;
    bool written;
};

class UrlAction : public ::testing::TestWithParam<UrlActionCase> {};

TEST_P(UrlAction, FollowsTheActionRanges) {
    const auto& c = GetParam();
    DWORD policy = 0xAAAAAAAA;
    EXPECT_EQ(CDocHostSite::ProcessUrlAction(c.action, reinterpret_cast<BYTE*>(&policy), c.size), c.want);
    EXPECT_EQ(policy, c.written ? static_cast<DWORD>(URLPOLICY_ALLOW) : 0xAAAAAAAAu);
}

INSTANTIATE_TEST_SUITE_P(Table, UrlAction,
                         ::testing::Values(UrlActionCase{0x1200, 4, S_OK, true},     // controls
                                           UrlActionCase{0x13FF, 4, S_OK, true},     // last of them
                                           UrlActionCase{0x1400, 4, S_OK, true},     // scripting
                                           UrlActionCase{0x1406, 8, S_OK, true},     //
                                           UrlActionCase{0x1400, 0, S_FALSE, false}, // no room
                                           UrlActionCase{0x1200, 3, S_FALSE, false}, //
                                           UrlActionCase{0x1605, 4, INET_E_DEFAULT_ACTION, false}, // Java
                                           UrlActionCase{0x1C00, 4, INET_E_DEFAULT_ACTION, false}, //
                                           UrlActionCase{0x1CFF, 4, INET_E_DEFAULT_ACTION, false}, //
                                           UrlActionCase{0x1600, 4, INET_E_DEFAULT_ACTION, false}, // others
                                           UrlActionCase{0x1A00, 4, INET_E_DEFAULT_ACTION, false},
                                           UrlActionCase{0x11FF, 4, INET_E_DEFAULT_ACTION, false}));

TEST(DocHostSite, GivesItsSecurityManagerAndNothingElse) {
    CDocHostSite site(nullptr);
    void* p = &site;
    EXPECT_EQ(site.QueryService(IID_IInternetSecurityManager, IID_IUnknown, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    p = &site;
    EXPECT_EQ(site.QueryService(IID_IUnknown, IID_IInternetSecurityManager, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(site.QueryService(IID_IInternetSecurityManager, IID_IInternetSecurityManager, &p), S_OK);
    EXPECT_EQ(p, &site);
    EXPECT_EQ(CDocHostSite::TranslateAccelerator(), E_NOTIMPL);
}

// ---- the view

// A view over a page folder of the test's own, with one method of its own before the base's.
class TestView : public CVorHtmlView {
public:
    explicit TestView(const std::string& folder) : m_folder(folder) {}
    CString GetPageFolder() override { return CString(m_folder); }
    static const VOR_DISPATCH_MAP* GetThisDispatchMap() {
        static const VOR_DISPATCH_ENTRY entries[] = {
            {"C_Echo", &vordisp::Thunk<TestView, &TestView::C_Echo>},
            {"C_Count", &vordisp::Thunk<TestView, &TestView::C_Count>},
            {nullptr, nullptr},
        };
        static const VOR_DISPATCH_MAP map = {&CVorHtmlView::GetThisDispatchMap, entries};
        return &map;
    }
    const VOR_DISPATCH_MAP* GetDispatchMap() const override { return GetThisDispatchMap(); }

    CString C_Echo(LPCSTR a, LPCSTR b) {
        echoed.push_back(std::string(a) + "," + b);
        if (onEcho)
            onEcho();
        return CString(std::string(a) + b);
    }
    long C_Count(LPCSTR) { return ++count; }

    std::vector<std::string> echoed;
    std::function<void()> onEcho;
    long count = 0;

private:
    std::string m_folder;
};

class PageView : public ::testing::Test {
protected:
    void SetUp() override {
        screen.Install();
        CVorHtmlView::SetBrowserFactory([this](HWND) {
            auto b = std::make_unique<CFakeBrowser>();
            fake = b.get();
            return b;
        });
        host = rec.Make(WS_POPUP | WS_VISIBLE, RECT{0, 0, 800, 600}, nullptr, 0, false);
        hostWnd.Attach(host);
        view = std::make_unique<TestView>(dir.win());
        ASSERT_TRUE(view->Create(CRect(20, 20, 780, 580), &hostWnd, 0x3600));
        ASSERT_NE(fake, nullptr);
        folderUrl = "file://" + dir.path() + "/";
    }
    void TearDown() override {
        if (::IsWindow(view->GetSafeHwnd()))
            view->DestroyWindow();
        hostWnd.Detach();
        if (::IsWindow(host))
            DestroyWindow(host);
        CVorHtmlView::SetBrowserFactory([](HWND) { return std::unique_ptr<afxweb::IBrowserControl>(); });
    }
    std::string Url(const std::string& name) const { return folderUrl + name; }

    afxuser::CHeadlessScreen screen;
    testwin::Recorder rec;
    TempDir dir{"kestrin_pages_"};
    HWND host = nullptr;
    CWnd hostWnd;
    std::unique_ptr<TestView> view;
    CFakeBrowser* fake = nullptr;
    std::string folderUrl;
};

TEST_F(PageView, AfterCreationItIsAChildControlWithTheHostPolicy) {
    EXPECT_EQ(view->m_nContextMenuMode, 0);
    EXPECT_FALSE(view->m_bAutoDelete);
    EXPECT_EQ(view->m_pParent, &hostWnd);
    EXPECT_EQ(view->m_strCaption, "Velkors");
    DOCHOSTUIINFO info{};
    info.pchHostCss = "keep";
    EXPECT_EQ(view->OnGetHostInfo(&info), S_OK);
    EXPECT_EQ(info.cbSize, 20u);
    EXPECT_EQ(info.dwFlags, 0x40004u);
    EXPECT_EQ(info.dwDoubleClick, 0u);
    EXPECT_STREQ(info.pchHostCss, "keep");
}

TEST_F(PageView, ContextMenuModes) {
    struct Case {
        int mode;
        DWORD id;
        HRESULT want;
    };
    const Case cases[] = {{0, 0, S_OK}, {0, 4, S_OK}, {1, 0, S_FALSE}, {2, 2, S_FALSE}, {2, 4, S_FALSE},
                          {2, 0, S_OK}, {2, 5, S_OK}, {3, 4, S_FALSE}, {3, 2, S_OK},    {3, 0, S_OK}};
    for (const auto& c : cases) {
        view->m_nContextMenuMode = c.mode;
        EXPECT_EQ(view->OnShowContextMenu(c.id, nullptr, nullptr, nullptr), c.want) << c.mode << "/" << c.id;
    }
}

TEST_F(PageView, ScriptCallsPassTheirArgumentsInOrderOnceADocumentIsComplete) {
    Args got;
    fake->AddPage(CString(Url("a.html")), {{"f", [&](CFakeBrowser&, const Args& a) {
                                                got = a;
                                                return CString("r");
                                            }}});
    EXPECT_FALSE(view->CallJScript("f", "x")) << "no document yet";
    EXPECT_TRUE(got.empty());
    view->Navigate2(Url("a.html").c_str());
    CString r;
    EXPECT_TRUE(view->CallJScript("f", "a", "b", "c", &r));
    EXPECT_EQ(got, (Args{"a", "b", "c"}));
    EXPECT_EQ(r, "r");
    EXPECT_TRUE(view->CallJScript("f"));
    EXPECT_TRUE(got.empty());
    EXPECT_FALSE(view->CallJScript("missing", "a"));
}

TEST_F(PageView, PageCallsReachTheConcreteViewThenTheBaseAndMayReenter) {
    EXPECT_EQ(view->GetDispatchNames(),
              (std::vector<CString>{"C_Echo", "C_Count", "ReErrorHtml", "MyClose"}));
    std::string inner;
    fake->AddPage(CString(Url("a.html")), {{"outer",
                                            [&](CFakeBrowser& page, const Args&) {
                                                CString r;
                                                page.CallExternal("C_Echo", {"p", "q"}, &r);
                                                return r;
                                            }},
                                           {"inner", [&](CFakeBrowser&, const Args& a) {
                                                inner = a.at(0).str();
                                                return CString();
                                            }}});
    view->onEcho = [&] { view->CallJScript("inner", "from C_Echo"); };
    view->Navigate2(Url("a.html").c_str());
    CString r;
    EXPECT_TRUE(view->CallJScript("outer", &r));
    EXPECT_EQ(r, "pq");
    EXPECT_EQ(inner, "from C_Echo");
    EXPECT_EQ(view->echoed, (std::vector<std::string>{"p,q"}));
    // Missing arguments arrive empty; numbers come back as numbers.
    EXPECT_EQ(view->DispatchCall("C_Echo", {"only"}).text, "only");
    auto n = view->DispatchCall("C_Count", {});
    EXPECT_EQ(n.kind, afxweb::ExternalResult::Number);
    EXPECT_EQ(n.text, "1");
    EXPECT_EQ(view->DispatchCall("ReErrorHtml", {""}).kind, afxweb::ExternalResult::Boolean);
}

TEST_F(PageView, PageMessageBoxesHaveTheProgramsCaption) {
    fake->AddPage(CString(Url("a.html")), {});
    view->Navigate2(Url("a.html").c_str());
    screen.ScriptMessageBoxAnswer(IDOK);
    screen.ScriptMessageBoxAnswer(IDCANCEL);
    fake->Alert("hello");
    EXPECT_FALSE(fake->Confirm("sure?"));
    ASSERT_EQ(screen.MessageBoxes().size(), 2u);
    EXPECT_EQ(screen.MessageBoxes()[0].caption, "Velkors");
    EXPECT_EQ(screen.MessageBoxes()[0].text, "hello");
    EXPECT_EQ(screen.MessageBoxes()[0].type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(screen.MessageBoxes()[1].type, static_cast<UINT>(MB_OKCANCEL));
    EXPECT_EQ(screen.MessageBoxes()[1].owner, view->GetSafeHwnd());
}

TEST_F(PageView, AFailedNavigationShowsTheErrorPageWhoseRetryGoesBack) {
    fake->AddPage(CString(Url("Error.html")), {});
    view->ReErrorHtml("");
    EXPECT_TRUE(fake->Navigations().empty()) << "before any failure the retry goes to an empty URL: nowhere";
    view->Navigate2(Url("missing.html").c_str());
    EXPECT_EQ(view->m_strLastUrl, CString(Url("missing.html")));
    EXPECT_EQ(fake->LocationUrl(), CString(Url("Error.html")));
    CString r;
    ASSERT_TRUE(fake->CallExternal("ReErrorHtml", {""}, &r));
    EXPECT_EQ(r, "1");
    EXPECT_EQ(fake->Navigations(),
              (std::vector<CString>{CString(Url("missing.html")), CString(Url("Error.html")),
                                    CString(Url("missing.html")), CString(Url("Error.html"))}));
}

TEST_F(PageView, AMissingErrorPageIsNotLoadedAgainAndAgain) {
    view->Navigate2(Url("missing.html").c_str());
    // One try of the error page, then the built-in text with its retry.
    EXPECT_EQ(fake->Navigations(),
              (std::vector<CString>{CString(Url("missing.html")), CString(Url("Error.html"))}));
    EXPECT_NE(fake->LoadedHtml().Find("ReErrorHtml"), -1);
    EXPECT_EQ(fake->LocationUrl(), CString(Url("Error.html")));
    EXPECT_EQ(view->m_strLastUrl, CString(Url("missing.html")))
        << "the retry still goes to the page that failed";
    // The retry fails the same way and ends at the built-in text again, with no loop.
    EXPECT_TRUE(fake->CallExternal("ReErrorHtml", {""}));
    EXPECT_EQ(fake->Navigations().size(), 4u);
    EXPECT_EQ(fake->Navigations()[2], CString(Url("missing.html")));
    EXPECT_NE(fake->LoadedHtml().Find("ReErrorHtml"), -1);
}

TEST_F(PageView, ALocalViewTrustsAndVisitsOnlyItsPageFolder) {
    fake->AddPage(CString(Url("a.html")), {});
    fake->AddPage(CString("http://elsewhere.example/"), {});
    view->Navigate2(Url("a.html").c_str());
    EXPECT_TRUE(fake->CallExternal("C_Count", {}));
    view->Navigate2("http://elsewhere.example/");
    EXPECT_EQ(fake->LocationUrl(), CString(Url("a.html"))) << "the navigation was refused";
    EXPECT_FALSE(view->IsTrustedUrl("http://elsewhere.example/"));
    EXPECT_FALSE(view->IsTrustedUrl(CString("file://" + dir.path() + "x/a.html"))) << "a folder beside it";
    EXPECT_TRUE(view->IsTrustedUrl(CString(Url("sub/b.html"))));
}

TEST_F(PageView, MyCloseClosesTheHostOnlyAfterThePagesCallReturned) {
    fake->AddPage(CString(Url("a.html")), {});
    view->Navigate2(Url("a.html").c_str());
    rec.Clear();
    CString r;
    ASSERT_TRUE(fake->CallExternal("MyClose", {""}, &r));
    EXPECT_TRUE(::IsWindow(host)) << "the host was closed inside the page's call";
    EXPECT_TRUE(::IsWindow(view->GetSafeHwnd()));
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
    EXPECT_FALSE(::IsWindow(host)) << "the host took its WM_CLOSE after the call";
    EXPECT_EQ(view->MyClose(""), FALSE);
}

TEST_F(PageView, MyCloseAfterTheHostIsGoneSendsNothing) {
    hostWnd.Detach();
    HWND h = host;
    // The view goes with its host; its object is what the page might still call.
    DestroyWindow(h);
    view->m_pParent = &hostWnd;
    EXPECT_EQ(view->MyClose(""), FALSE);
}

} // namespace
