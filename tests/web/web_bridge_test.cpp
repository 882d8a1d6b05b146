// The script bridge on the real engine: page-to-program and program-to-page calls, their
// nesting, the document gate, dialogs and the death of a web process.
#include "tests/web/WebScreen.h"

#include "platform/kernel/CodePage.h"

#include <csignal>

namespace {

using namespace std::chrono_literals;
using webscreen::Args;
using webscreen::TestView;
using webscreen::WebTest;

const char* kHead = "<!DOCTYPE html><html><head><meta charset='utf-8'></head><body><script>\n";
const char* kTail = "\n</script></body></html>";

std::string Script(const std::string& js) {
    return std::string(kHead) + js + kTail;
}

class Bridge : public WebTest {
protected:
    void SetUp() override {
        WebTest::SetUp();
        view.trustedPrefixes = {Prefix()};
        b = MakeBrowser(view);
        ASSERT_NE(b, nullptr);
    }
    TestView view;
    afxweb::CWebKitBrowser* b = nullptr;
};

TEST_F(Bridge, ArgumentsAndResultsCrossAsValuesBothWays) {
    std::vector<Args> seen;
    view.methods["Echo"] = [&](const Args& a) {
        seen.push_back(a);
        std::string joined;
        for (const auto& s : a)
            joined += "[" + s.str() + "]";
        return CString(joined);
    };
    ASSERT_TRUE(
        Load(b, view,
             Page("args.html",
                  Script("function f(a, b, c) { return a + '|' + b + '|' + c + '|' + arguments.length; }\n"
                         "function g() { return 'got ' + window.external.Echo(undefined, null, 5, 2.5, true, "
                         "\"it's\", '<b>'); }\n"
                         "function same(s) { return s; }\n"
                         "function nothing() {}"))));
    EXPECT_EQ(Call(b, "f", {"a", "b", "c"}), "a|b|c|3");
    EXPECT_EQ(Call(b, "g"), "got [][][5][2.5][true][it's][<b>]");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].size(), 7u);
    // Quotes, backslashes and script-looking text arrive as the same bytes, never as script.
    std::string tricky = "'); alert('x'); ('\\\"\n</script>";
    EXPECT_EQ(Call(b, "same", {CString(tricky)}), tricky);
    EXPECT_EQ(Call(b, "nothing"), "") << "undefined comes back as an empty text";
}

TEST_F(Bridge, BooleanAndNumberResultsReachThePageAsSuch) {
    view.methods["No"] = [](const Args&) { return afxweb::ExternalResult::Bool(false); };
    view.methods["Yes"] = [](const Args&) { return afxweb::ExternalResult::Bool(true); };
    view.methods["Num"] = [](const Args&) { return afxweb::ExternalResult::Long(6005); };
    view.methods["Text"] = [](const Args&) { return afxweb::ExternalResult("0"); };
    ASSERT_TRUE(Load(b, view,
                     Page("types.html", Script("function t(m) { var r = window.external[m](); "
                                               "return typeof r + ':' + (r ? 'truthy' : 'falsy'); }"))));
    EXPECT_EQ(Call(b, "t", {"No"}), "boolean:falsy");
    EXPECT_EQ(Call(b, "t", {"Yes"}), "boolean:truthy");
    EXPECT_EQ(Call(b, "t", {"Num"}), "number:truthy");
    EXPECT_EQ(Call(b, "t", {"Text"}), "string:truthy");
}

TEST_F(Bridge, GbkTextRoundTripsThroughUtf8Pages) {
    std::string gbk = AfxUtf8ToAnsi("最近阅读·中文");
    ASSERT_NE(gbk, "最近阅读·中文")
        << "the text must differ between GBK and UTF-8 for the test to mean anything";
    std::string inPage;
    view.methods["Take"] = [&](const Args& a) {
        inPage = a.at(0).str();
        return a.at(0);
    };
    ASSERT_TRUE(
        Load(b, view,
             Page("gbk.html", Script("function len(s) { return String(s.length); }\n"
                                     "function back(s) { return window.external.Take(s + '读'); }"))));
    EXPECT_EQ(Call(b, "len", {CString(gbk)}), "7") << "the page sees seven characters, not GBK bytes";
    EXPECT_EQ(Call(b, "back", {CString(gbk)}), gbk + AfxUtf8ToAnsi("读"));
    EXPECT_EQ(inPage, gbk + AfxUtf8ToAnsi("读"));
}

TEST_F(Bridge, CallsNestFourLevelsDeepInOnePage) {
    // program → down(1) → Up(1) → down(2) → ... → Up(4), each level wrapping the one below.
    view.methods["Up"] = [&](const Args& a) {
        int n = std::atoi(a.at(0).GetString());
        if (n == 4)
            return CString("bottom");
        return CString("U" + std::to_string(n) + "(" + Call(b, "down", {CString(std::to_string(n + 1))}) +
                       ")");
    };
    ASSERT_TRUE(
        Load(b, view,
             Page("nest.html",
                  Script("var depth = 0, deepest = 0;\n"
                         "function down(n) { depth++; deepest = Math.max(deepest, depth);\n"
                         "  var r = 'D' + n + '(' + window.external.Up(n) + ')'; depth--; return r; }\n"
                         "function stats() { return depth + ',' + deepest; }"))));
    EXPECT_EQ(Call(b, "down", {"1"}), "D1(U1(D2(U2(D3(U3(D4(bottom)))))))");
    EXPECT_EQ(Call(b, "stats"), "0,4");
}

TEST_F(Bridge, CallsNestAcrossTwoViewsWhileTheFirstStillWaits) {
    TestView second;
    second.trustedPrefixes = {Prefix()};
    auto* b2 = MakeBrowser(second, RECT{10, 250, 630, 470});
    ASSERT_NE(b2, nullptr);
    // Shelf-like page A asks the program, which calls page B, whose call makes the program call
    // page A again while A's first call is still waiting.
    view.methods["ToOther"] = [&](const Args&) { return CString("A>" + Call(b2, "relay")); };
    second.methods["BackToFirst"] = [&](const Args&) { return CString("B>" + Call(b, "inner")); };
    ASSERT_TRUE(
        Load(b, view,
             Page("a.html",
                  Script("var waiting = false;\n"
                         "function outer() { waiting = true; var r = window.external.ToOther(); waiting = "
                         "false; return r; }\n"
                         "function inner() { return waiting ? 'inner-while-waiting' : 'inner-idle'; }"))));
    ASSERT_TRUE(Load(b2, second,
                     Page("b.html", Script("function relay() { return window.external.BackToFirst(); }"))));
    EXPECT_EQ(Call(b, "outer"), "A>B>inner-while-waiting");
}

TEST_F(Bridge, AnUnrelatedCallWaitsForThePagesTopLevelCall) {
    // The page keeps calling the program from timers while the program calls the page: every
    // program call must find the page outside its own call, and none may deadlock.
    int ticks = 0;
    view.methods["Tick"] = [&](const Args&) {
        ++ticks;
        return CString("t");
    };
    ASSERT_TRUE(Load(b, view,
                     Page("cross.html", Script("var inCall = false, ticks = 0;\n"
                                               "function tick() { inCall = true; window.external.Tick(); "
                                               "inCall = false; ticks++; setTimeout(tick, 0); }\n"
                                               "setTimeout(tick, 0);\n"
                                               "function probe() { return inCall ? 'inside' : 'outside'; }\n"
                                               "function count() { return String(ticks); }"))));
    int outside = 0;
    for (int i = 0; i < 300; ++i) {
        std::string r = Call(b, "probe");
        ASSERT_NE(r, "inside") << "a program call ran in the middle of the page's own call";
        outside += r == "outside";
        // Give the page's timers room to fire between the program's calls.
        if (i % 10 == 0)
            gtkscreen::Until([&, n = ticks] { return ticks > n; }, 2s);
    }
    EXPECT_EQ(outside, 300);
    EXPECT_GT(ticks, 0);
}

TEST_F(Bridge, AlertAndConfirmInsideAProgramCalledFunctionAreAnswered) {
    view.confirmAnswer = IDOK;
    ASSERT_TRUE(
        Load(b, view,
             Page("dialogs.html",
                  Script("function ask(q) { alert('note: ' + q); return confirm(q) ? 'yes' : 'no'; }"))));
    EXPECT_EQ(Call(b, "ask", {"sure?"}), "yes");
    view.confirmAnswer = IDCANCEL;
    EXPECT_EQ(Call(b, "ask", {"again?"}), "no");
    EXPECT_EQ(view.messages, (std::vector<std::string>{"MB_OK note: sure?", "MB_OKCANCEL sure?",
                                                       "MB_OK note: again?", "MB_OKCANCEL again?"}));
}

TEST_F(Bridge, CallsThatCannotRunReturnFalse) {
    EXPECT_EQ(Call(b, "anything"), "<FALSE>") << "no document yet";
    // A call the page makes while its document is still being read: the program's call back
    // into the page finds no complete document and does nothing.
    std::string during;
    view.methods["Early"] = [&](const Args&) {
        during = Call(b, "mark");
        return CString();
    };
    ASSERT_TRUE(Load(b, view,
                     Page("early.html", Script("var marked = 'no';\n"
                                               "function mark() { marked = 'yes'; return 'ran'; }\n"
                                               "window.external.Early();\n"
                                               "function wasMarked() { return marked; }\n"
                                               "function throws() { throw new Error('x'); }\n"
                                               "var notAFunction = 5;"))));
    EXPECT_EQ(during, "<FALSE>");
    EXPECT_EQ(Call(b, "wasMarked"), "no");
    EXPECT_EQ(Call(b, "missing"), "<FALSE>");
    EXPECT_EQ(Call(b, "notAFunction"), "<FALSE>");
    EXPECT_EQ(Call(b, "throws"), "<FALSE>");
    EXPECT_EQ(Call(b, "wasMarked"), "no") << "the bridge still works after the failures";
}

TEST_F(Bridge, AnUntrustedPageHasNoExternal) {
    view.trustedPrefixes = {Prefix() + "trusted/"};
    ASSERT_TRUE(
        Load(b, view, Page("plain.html", Script("function kind() { return typeof window.external; }"))));
    EXPECT_EQ(Call(b, "kind"), "undefined");
}

TEST_F(Bridge, AWebProcessKilledDuringACallFailsItAndTheViewRecovers) {
    view.methods["Die"] = [&](const Args&) {
        kill(b->WebProcessId(), SIGKILL);
        return CString("late");
    };
    std::string url = Page("die.html", Script("function die() { return window.external.Die(); }\n"
                                              "function alive() { return 'alive'; }"));
    ASSERT_TRUE(Load(b, view, url));
    int first = b->WebProcessId();
    ASSERT_GT(first, 0);
    EXPECT_EQ(Call(b, "die"), "<FALSE>");
    ASSERT_TRUE(gtkscreen::Until([&] { return view.processGone > 0; }, 20s));
    EXPECT_FALSE(b->HasDocument());
    ASSERT_TRUE(Load(b, view, url));
    EXPECT_NE(b->WebProcessId(), first) << "a new web process connects and takes the page over";
    EXPECT_EQ(Call(b, "alive"), "alive");
}

TEST_F(Bridge, AStuckPageFailsTheCallAfterTheTimeOutAndItsProcessEnds) {
    afxweb::CWebBridge::Instance().SetTimeout(300);
    std::string url = Page("spin.html", Script("function spin() { for (;;) {} }"));
    ASSERT_TRUE(Load(b, view, url));
    EXPECT_EQ(Call(b, "spin"), "<FALSE>");
    afxweb::CWebBridge::Instance().SetTimeout(20000);
    ASSERT_TRUE(gtkscreen::Until([&] { return view.processGone > 0; }, 20s)) << "the stuck process is ended";
    ASSERT_TRUE(Load(b, view, Page("ok.html", Script("function ok() { return 'ok'; }"))));
    EXPECT_EQ(Call(b, "ok"), "ok");
}

} // namespace

namespace {

using webscreen::PageServer;

TEST_F(Bridge, ACrossSiteNavigationKeepsTheBridge) {
    PageServer site;
    site.pages["/p.html"] =
        Script("function where() { return location.hostname + ':' + window.external.Name(); }");
    // 127.0.0.1 and localhost are two sites to WebKit.
    std::string first = site.Url("/p.html");
    std::string second = "http://localhost:" + first.substr(first.rfind(':') + 1);
    view.trustedPrefixes = {site.Origin(), second.substr(0, second.find("/p.html") + 1)};
    view.methods["Name"] = [](const Args&) { return CString("program"); };
    ASSERT_TRUE(Load(b, view, first));
    EXPECT_EQ(Call(b, "where"), "127.0.0.1:program");
    ASSERT_TRUE(Load(b, view, second));
    EXPECT_EQ(Call(b, "where"), "localhost:program");
    ASSERT_TRUE(Load(b, view, first));
    EXPECT_EQ(Call(b, "where"), "127.0.0.1:program");
}

TEST_F(Bridge, AFrameFromAnUntrustedSiteHasNoExternalInsideATrustedPage) {
    PageServer site;
    site.pages["/frame.html"] = Script("parent.postMessage(typeof window.external, '*');");
    view.methods["Name"] = [](const Args&) { return CString("program"); };
    ASSERT_TRUE(
        Load(b, view,
             Page("host.html", Script("var framed = '';\n"
                                      "addEventListener('message', function (e) { framed = e.data; });\n"
                                      "function mine() { return typeof window.external; }\n"
                                      "function theirs() { return framed; }\n"
                                      "var f = document.createElement('iframe'); f.src = '" +
                                      site.Url("/frame.html") + "'; document.body.appendChild(f);"))));
    EXPECT_EQ(Call(b, "mine"), "object");
    ASSERT_TRUE(gtkscreen::Until([&] { return Call(b, "theirs") != ""; }));
    EXPECT_EQ(Call(b, "theirs"), "undefined");
}

// A page whose load is held by one of its resources: the program's call fails at once, unsent,
// whatever holds the page (its process may be waiting in the engine itself, where no call of ours
// is read); once the page is complete the same call runs, in the same process.
TEST_F(Bridge, ACallIntoAPageStillLoadingFailsAtOnceAndRunsOnceItIsComplete) {
    const std::string ready = "<script>var runs = 0; function ready() { return 'ran ' + (++runs); }</script>";
    struct Case {
        const char* what;
        std::string body;
    } cases[] = {
        {"a picture still coming", ready + "<img src='/held.png'>"},
        {"a script still coming", ready + "<script src='/held.js'></script>"},
        {"a synchronous request still waiting",
         ready +
             "<script>var x = new XMLHttpRequest(); x.open('GET', '/held.txt', false); x.send();</script>"},
    };
    // Long enough for any live page to answer, short enough that a call sent into a process that
    // cannot read it ends the process within the test.
    struct ShortTimeout {
        ShortTimeout() { afxweb::CWebBridge::Instance().SetTimeout(3000); }
        ~ShortTimeout() { afxweb::CWebBridge::Instance().SetTimeout(20000); }
    } shortTimeout;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PageServer site;
        site.pages["/page.html"] =
            "<!DOCTYPE html><html><head><meta charset='utf-8'></head><body>" + c.body + "</body></html>";
        view.trustedPrefixes = {site.Origin()};
        int gone = view.processGone;
        size_t completed = view.completed.size();
        b->Navigate2(CString(site.Url("/page.html")));
        ASSERT_TRUE(gtkscreen::Until([&] { return site.Held() > 0; }, 20s)) << "the page never asked for it";
        int pid = b->WebProcessId();
        EXPECT_GT(pid, 0);
        EXPECT_EQ(Call(b, "ready"), "<FALSE>");
        EXPECT_FALSE(b->HasDocument());
        site.Release();
        ASSERT_TRUE(
            gtkscreen::Until([&] { return view.completed.size() > completed && b->HasDocument(); }, 20s));
        EXPECT_EQ(Call(b, "ready"), "ran 1") << "the call made while loading never ran";
        EXPECT_EQ(view.processGone, gone);
        EXPECT_EQ(b->WebProcessId(), pid) << "the page's process lives on";
    }
}

TEST_F(Bridge, ARefusedNavigationLeavesThePageInPlace) {
    PageServer site;
    view.allowNavigation = [&](const std::string& url) { return url.rfind(Prefix(), 0) == 0; };
    ASSERT_TRUE(Load(b, view,
                     Page("stay.html", Script("function go(u) { location.href = u; return 'asked'; }\n"
                                              "function here() { return 'here'; }"))));
    std::string away = site.Url("/away.html");
    EXPECT_EQ(Call(b, "go", {CString(away)}), "asked");
    ASSERT_TRUE(gtkscreen::Until([&] { return !view.refused.empty(); }));
    EXPECT_EQ(view.refused, (std::vector<std::string>{away}));
    EXPECT_EQ(Call(b, "here"), "here");
    EXPECT_EQ(b->LocationUrl().str(), Prefix() + "stay.html");
}

// Which failures reach the view as navigation errors, on the engine.
TEST_F(Bridge, OnlyFailedMainFrameLoadsAreNavigationErrors) {
    PageServer site;
    // A port nobody listens on: bound but never listening, so a connection is refused, and held
    // for the whole test, so that no other test running meanwhile can take it and answer.
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } holdPort{s};
    std::string refused = "http://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/";

    b->Navigate2(CString(refused));
    ASSERT_TRUE(gtkscreen::Until([&] { return view.errors.size() == 1; }, 20s));
    EXPECT_EQ(view.errors.back(), refused);

    b->Navigate2(CString(site.Url("/404.html")));
    ASSERT_TRUE(gtkscreen::Until([&] { return view.errors.size() == 2; }, 20s));
    EXPECT_EQ(view.errors.back(), site.Url("/404.html"));

    // A load replaced by a newer one, and a page whose frame fails: neither is an error.
    b->Navigate2(CString(site.Url("/hang.html")));
    std::string framed = Page("framed.html", "<html><body><iframe src='" + refused +
                                                 "'></iframe>"
                                                 "<iframe src='" +
                                                 site.Url("/404f.html") + "'></iframe></body></html>");
    ASSERT_TRUE(Load(b, view, framed));
    // The frames have had their loads by the time the page is complete.
    EXPECT_EQ(view.errors.size(), 2u);
}

TEST_F(Bridge, ARightClickShowsNoMenu) {
    int seen = 0;
    view.methods["Seen"] = [&](const Args&) {
        ++seen;
        return CString();
    };
    ASSERT_TRUE(
        Load(b, view,
             Page("menu.html",
                  std::string(kHead) +
                      "document.addEventListener('contextmenu', function () { window.external.Seen(); });" +
                      "</script><div style='height:400px'>right-click me</div></body></html>")));
    auto popups = [] {
        int n = 0;
        GList* l = gtk_window_list_toplevels();
        for (GList* i = l; i; i = i->next)
            n += gtk_widget_get_mapped(GTK_WIDGET(i->data)) &&
                 gtk_window_get_window_type(GTK_WINDOW(i->data)) == GTK_WINDOW_POPUP;
        g_list_free(l);
        return n;
    };
    Settle();
    int before = popups();
    std::string xid = std::to_string(gtkscreen::XidOf(*m_presenter, top));
    ASSERT_TRUE(gtkscreen::Command("xdotool mousemove --window " + xid + " 200 200 click 3"));
    // The page hears of the click before the engine asks for its menu.
    ASSERT_TRUE(gtkscreen::Until([&] { return seen > 0; }));
    Settle();
    EXPECT_EQ(popups(), before);
}

TEST_F(Bridge, ScriptAndConsoleErrorsReachTheProgramAndNothingElseDoes) {
    ASSERT_TRUE(Load(b, view,
                     Page("errors.html", Script("console.log('fine'); console.warn('careful');\n"
                                                "console.error('said so');\n"
                                                "function later() { nosuchfunction(); }\n"
                                                "setTimeout(later, 0);"))));
    ASSERT_TRUE(gtkscreen::Until([&] { return b->ScriptErrors().size() >= 2; }, 20s));
    std::vector<std::string> errors = b->ScriptErrors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_NE(errors[0].find("said so"), std::string::npos) << errors[0];
    EXPECT_NE(errors[1].find("nosuchfunction"), std::string::npos) << errors[1];
    EXPECT_NE(errors[1].find("errors.html:4"), std::string::npos) << "where it arose: " << errors[1];
    // A clean page adds nothing.
    ASSERT_TRUE(Load(b, view, Page("clean.html", Script("console.log('fine');"))));
    EXPECT_EQ(Call(b, "eval", {"1 + 1"}), "2");
    EXPECT_EQ(b->ScriptErrors().size(), 2u);
}

} // namespace
