// The program's own pages in their views on the engine under Xvfb, from an installed page
// folder (a copy of the page sources): the shelf page listing a shelf, and the login and
// settings dialogs on their template. Screenshots go to the build folder.
#include "foundation/AppPathInfo.h"
#include "library/MagShelf.h"
#include "library/UserInfo.h"
#include "net/AppMessages.h"
#include "pages/LoginDlg.h"
#include "net/StoreRequests.h"
#include "net/MyHttp.h"
#include "pages/MainHtmlView.h"
#include "pages/MyBooksHtmlView.h"
#include "pages/SetDlg.h"
#include "platform/kernel/Registry.h"
#include "platform/web/WebKitBrowser.h"
#include "foundation/CommonFunc.h"
#include "tests/gtk/GtkScreen.h"
#include "tests/net/StorePeer.h"
#include "tests/support/DataRoot.h"
#include "tests/support/RecordingWindow.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TestFiles.h"

#include <filesystem>
#include <functional>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class ViewsOnScreen : public gtkscreen::ScreenTest {
protected:
    void SetUp() override {
        gtkscreen::ScreenTest::SetUp();
        CVorHtmlView::SetBrowserFactory([](HWND h) -> std::unique_ptr<afxweb::IBrowserControl> {
            return afxweb::CreateWebKitBrowser(h);
        });
        UseTestDataRoot(dir);
        fs::copy(fs::path(PROJECT_SOURCE_DIR) / "res" / "pages", dir.sub("ExeFiles/data_0"),
                 fs::copy_options::recursive);
    }
    void TearDown() override {
        CVorHtmlView::SetBrowserFactory([](HWND) { return std::unique_ptr<afxweb::IBrowserControl>(); });
        gtkscreen::ScreenTest::TearDown();
    }
    static CString Eval(CVorHtmlView& v, const char* expr) {
        CString r;
        if (!v.GetBrowser() || !v.GetBrowser()->InvokeScript("eval", {CString(expr)}, &r))
            return CString("(no answer)");
        return r;
    }
    void ShotOf(HWND h, const char* name) {
        EXPECT_TRUE(PaintedShot(h, name)) << "see " << XvfbDisplay::ShotPath(name);
    }

    TempDir dir{"kestrin_views_screen_"};
    testwin::Recorder rec;
};

TEST_F(ViewsOnScreen, TheShelfPageListsTheShelf) {
    WriteFileBytes(
        dir.sub("Data/MagClass.xml"),
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><api><sort id=\"7\" sort_name=\"时尚\"/></api>");
    for (const char* kind : {"mag", "book", "mag_read", "book_read"}) {
        CMagInfoList list;
        g_MagShelf.GetList(kind, list);
        for (INT_PTR i = 0; i < list.GetSize(); ++i)
            g_MagShelf.Remove(kind, list[i]->pid);
    }
    const char* names[] = {"春季刊, 特别版", "Other"};
    for (int i = 0; i < 2; ++i) {
        auto* item = new CMagInfo;
        item->pid = i ? "12" : "11";
        item->sort_id = "7";
        item->type = "mag";
        item->name = CString(AfxUtf8ToAnsi(names[i]));
        item->date = "2012-11";
        item->down = i ? DOWN_STATE_STOPPED : DOWN_STATE_DONE;
        item->filelen = 100;
        item->downlen = i ? 40 : 100;
        item->savepath = CString(dir.win() + "Down\\") + item->pid + ".zip";
        g_MagShelf.Add(item, "mag", FALSE);
    }
    HWND top = rec.Make(WS_POPUP | WS_VISIBLE, RECT{0, 0, 900, 620});
    CWnd host;
    host.Attach(top);
    {
        CMyBooksHtmlView view;
        ASSERT_TRUE(view.Create(CRect(0, 0, 900, 620), &host, IDC_PAGE_VIEW));
        view.Navigate2((g_AppPathInfo.GetPageDir() + "Bookshelf2.html").GetString());
        ASSERT_TRUE(gtkscreen::Until([&] { return view.m_bLoaded && view.m_spDoc; }, 20s));
        CString count;
        gtkscreen::Until(
            [&] {
                count = Eval(view, "String(document.querySelectorAll('#grid .item').length)");
                return count == "2";
            },
            20s);
        EXPECT_EQ(count, "2");
        // The name with a comma survives the record text whole.
        EXPECT_EQ(Eval(view, "document.querySelector('#grid .item .title').textContent"),
                  CString(AfxUtf8ToAnsi(names[0])));
        EXPECT_EQ(view.m_strType, "mag");
        ShotOf(top, "views_shelf_page.png");
        view.DestroyWindow();
    }
    host.Detach();
    DestroyWindow(top);
}

// Shows a dialog modeless on its template, waits for its page and takes its picture.
template <class Dlg> void ShowDialog(ViewsOnScreen* self, Dlg& dlg, const char* shot, const char* readyExpr) {
    ASSERT_TRUE(dlg.Create(IDD_LOGIN_DIALOG, nullptr));
    dlg.ShowWindow(SW_SHOW);
    ASSERT_TRUE(gtkscreen::Until([&] { return dlg.m_wndView.GetBrowser()->HasDocument(); }, 20s));
    CString ready;
    gtkscreen::Until(
        [&] {
            CString r;
            dlg.m_wndView.GetBrowser()->InvokeScript("eval", {CString(readyExpr)}, &r);
            ready = r;
            return ready == "yes";
        },
        20s);
    EXPECT_EQ(ready, "yes") << shot << " at " << dlg.m_wndView.GetBrowser()->LocationUrl().str();
    (void)self;
}

TEST_F(ViewsOnScreen, TheLoginAndSettingsDialogsShowTheirPages) {
    {
        CLoginDlg dlg;
        ShowDialog(this, dlg, "login", "document.getElementById('username') ? 'yes' : 'no'");
        RECT r{};
        ::GetWindowRect(dlg.GetSafeHwnd(), &r);
        EXPECT_EQ(r.right - r.left, 492);
        EXPECT_EQ(r.bottom - r.top, 433);
        ShotOf(dlg.GetSafeHwnd(), "views_login_dialog.png");
        dlg.DestroyWindow();
    }
    {
        CStringArray adapters;
        adapters.Add("Living room TV");
        CSetDlg dlg;
        dlg.SetWidiList(&adapters);
        // Filled by the page's own C_SetConfig when it loaded.
        ShowDialog(this, dlg, "settings",
                   "document.getElementById('widi').options.length > 0 ? 'yes' : 'no'");
        // In the form a Linux user writes, not the program's own.
        EXPECT_EQ(Eval(dlg.m_wndView, "document.getElementById('down_save').value"),
                  CString(dir.sub("Down/")));
        ShotOf(dlg.GetSafeHwnd(), "views_settings_dialog.png");
        dlg.DestroyWindow();
    }
}

// The login dialog as its owner runs it: the owner taken off input, the dialog centred over it at
// its page's size, kept above it and given the keyboard.
TEST_F(ViewsOnScreen, TheLoginDialogOpensCentredOverItsOwnerAndAboveIt) {
    HWND top = rec.Make(WS_POPUP | WS_VISIBLE, RECT{60, 40, 960, 700});
    CWnd owner;
    owner.Attach(top);
    owner.EnableWindow(FALSE); // as DoModal takes it off input before the dialog exists
    CLoginDlg dlg(&owner);
    ASSERT_TRUE(dlg.Create(IDD_LOGIN_DIALOG, &owner));
    dlg.ShowWindow(SW_SHOW);
    RECT r{};
    ::GetWindowRect(dlg.GetSafeHwnd(), &r);
    EXPECT_EQ(r.right - r.left, 492);
    EXPECT_EQ(r.bottom - r.top, 433);
    EXPECT_EQ(r.left, 60 + (900 - 492) / 2);
    EXPECT_EQ(r.top, 40 + (660 - 433) / 2);
    const unsigned long ownerXid = gtkscreen::XidOf(*m_presenter, top);
    const unsigned long dlgXid = gtkscreen::XidOf(*m_presenter, dlg.GetSafeHwnd());
    EXPECT_TRUE(gtkscreen::Until([&] {
        RECT x = gtkscreen::XGeometry(*m_presenter, dlg.GetSafeHwnd());
        return x.left == r.left && x.top == r.top;
    })) << "the screen has the dialog elsewhere than the kernel";
    EXPECT_EQ(gtkscreen::XItems(dlgXid, "WM_TRANSIENT_FOR"), std::vector<unsigned long>{ownerXid});
    EXPECT_TRUE(gtkscreen::Until([&] { return gtkscreen::XAbove(dlgXid, ownerXid); }));
    EXPECT_TRUE(gtkscreen::Until([&] { return gtkscreen::XActive(dlgXid); }))
        << "the dialog has not the keyboard";
    ASSERT_TRUE(gtkscreen::Until([&] { return dlg.m_wndView.GetBrowser()->HasDocument(); }, 20s));
    EXPECT_TRUE(PaintedShot(dlg.GetSafeHwnd(), "views_login_over_owner.png"));
    // The screen around the dialog, owner and all, for the eye.
    if (cairo_surface_t* screen = gtkscreen::Shot(RECT{0, 0, 1024, 768},
                                                  XvfbDisplay::ShotPath("views_login_over_owner_screen.png")))
        cairo_surface_destroy(screen);
    dlg.DestroyWindow();
    owner.EnableWindow(TRUE);
    owner.Detach();
    DestroyWindow(top);
}

// The login page against the replacement store: the page posts the name and password to the
// store named in its address and hands the answer to the view.
class LoginOnScreen : public WithStore<ViewsOnScreen> {};

TEST_F(LoginOnScreen, ALoginThroughThePageReachesTheUserRecord) {
    setenv("KESTRIN_STORE", Base().c_str(), 1);
    CLoginDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_LOGIN_DIALOG, nullptr));
    afxweb::IBrowserControl* page = dlg.m_wndView.GetBrowser();
    ASSERT_TRUE(gtkscreen::Until([&] { return page->HasDocument(); }, 20s));
    CString r;
    EXPECT_TRUE(page->InvokeScript("eval",
                                   {"document.getElementById('username').value = 'reader';"
                                    "document.getElementById('password').value = 'pa ss&#1';"
                                    "document.getElementById('submit').click(); 'sent'"},
                                   &r));
    EXPECT_EQ(r, "sent");
    EXPECT_TRUE(gtkscreen::Until([] { return g_UserInfo.userid == "1001"; }, 20s))
        << "the page said: " << Eval(dlg.m_wndView, "document.getElementById('message').textContent").str();
    CString name;
    g_CommonFunc.DecodeBase64Alt(g_UserInfo.username.GetString(), name);
    EXPECT_EQ(name, "reader");
    EXPECT_EQ(g_UserInfo.password, "pa ss&#1");
    EXPECT_EQ(g_UserInfo.vip, "1");
    if (::IsWindow(dlg.GetSafeHwnd()))
        dlg.DestroyWindow();
    unsetenv("KESTRIN_STORE");
}

// What the store has been asked so far, one request line a line.
std::string StoreLog(const std::string& base) {
    CMyHttp http;
    CString body;
    http.GetUrl(CString((base + "/_control/log").c_str()), nullptr, 0, "", body);
    return body.str();
}

TEST_F(LoginOnScreen, TheLoginPageReachesTheStoreOnlyWithItsLoginPost) {
    ScopedEnv env;
    env.Set("KESTRIN_STORE", Base());
    CLoginDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_LOGIN_DIALOG, nullptr));
    afxweb::IBrowserControl* page = dlg.m_wndView.GetBrowser();
    ASSERT_TRUE(gtkscreen::Until([&] { return page->HasDocument(); }, 20s));
    // Another address of the store, the login address with another method or query, the store
    // under another host name, a picture: each ends "refused" when it never left the page.
    std::string port = std::to_string(s_store->Port());
    std::string probes =
        "var store = '" + Base() +
        "'; window.probes = {};"
        "function probe(name, p) { p.then(function () { probes[name] = 'answered'; },"
        "                                 function () { probes[name] = 'refused'; }); }"
        "probe('page', fetch(store + '/touch/book/?probe=page'));"
        "probe('host', fetch('http://localhost:" +
        port +
        "/touch/book/?probe=host'));"
        "probe('get', fetch(store + '/touch/login/?vs=1&source='));"
        "probe('query', fetch(store + '/touch/login/?vs=1&source=&probe=query',"
        "                     {method: 'POST', body: 'username=reader'}));"
        "var img = new Image(); img.onload = function () { probes.img = 'answered'; };"
        "img.onerror = function () { probes.img = 'refused'; }; img.src = store + '/covers/m1.jpg?probe=img';"
        "'sent'";
    CString r;
    ASSERT_TRUE(page->InvokeScript("eval", {CString(probes)}, &r));
    EXPECT_EQ(r, "sent");
    CString settled;
    gtkscreen::Until(
        [&] {
            settled = Eval(dlg.m_wndView, "['page', 'host', 'get', 'query', 'img'].map(function (k) {"
                                          " return k + '=' + (probes[k] || 'waiting'); }).join(' ')");
            return settled.Find("waiting") < 0;
        },
        20s);
    EXPECT_EQ(settled, "page=refused host=refused get=refused query=refused img=refused");
    EXPECT_TRUE(page->InvokeScript("eval",
                                   {"document.getElementById('username').value = 'reader';"
                                    "document.getElementById('password').value = 'pa ss&#1';"
                                    "document.getElementById('submit').click(); 'sent'"},
                                   &r));
    EXPECT_TRUE(gtkscreen::Until([] { return g_UserInfo.userid == "1001"; }, 20s))
        << "the page said: " << Eval(dlg.m_wndView, "document.getElementById('message').textContent").str();
    std::string log = StoreLog(Base());
    EXPECT_NE(log.find("POST /touch/login/?vs=1&source= "), std::string::npos) << log;
    EXPECT_EQ(log.find("probe"), std::string::npos) << log;
    if (::IsWindow(dlg.GetSafeHwnd()))
        dlg.DestroyWindow();
}

TEST_F(LoginOnScreen, EveryPageLoadsInItsViewWithoutAScriptError) {
    ScopedEnv env;
    env.Set("KESTRIN_STORE", Base());
    WriteFileBytes(
        dir.sub("Data/MagClass.xml"),
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><api><sort id=\"7\" sort_name=\"时尚\"/></api>");
    CStringArray adapters;
    adapters.Add("Living room TV");
    struct Case {
        const char* name;
        std::function<CVorHtmlView*()> make;
        std::function<CString(CVorHtmlView&)> url;
    };
    auto local = [](const char* file) {
        return [file](CVorHtmlView&) { return g_AppPathInfo.GetPageDir() + file; };
    };
    auto store = [](int mode, BOOL book) {
        return [mode, book](CVorHtmlView&) { return BuildStorePageUrl(mode, book, "", ""); };
    };
    const Case cases[] = {
        {"Bookshelf2.html", [] { return new CMyBooksHtmlView; }, local("Bookshelf2.html")},
        {"Bookshelf.html", [] { return new CMyBooksHtmlView; }, local("Bookshelf.html")},
        {"login.html", [] { return new CLoginHtmlView; },
         [](CVorHtmlView& v) { return static_cast<CLoginHtmlView&>(v).GetLoginUrl(); }},
        {"Setting.html",
         [&] {
             auto* v = new CSetHtmlView;
             v->SetWidiList(&adapters);
             return v;
         },
         local("Setting.html")},
        {"Error.html", [] { return new CVorHtmlView(TRUE); }, local("Error.html")},
        {"/touch/magazine/", [] { return new CMainHtmlView; }, store(0, FALSE)},
        {"/touch/book/", [] { return new CMainHtmlView; }, store(0, TRUE)},
        {"/enter/magazine/", [] { return new CMainHtmlView; }, store(1, FALSE)},
        {"/enter/velkor/", [] { return new CMainHtmlView; }, store(1, TRUE)},
    };
    HWND top = rec.Make(WS_POPUP | WS_VISIBLE, RECT{0, 0, 1000, 660});
    CWnd host;
    host.Attach(top);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<CVorHtmlView> view(c.make());
        ASSERT_TRUE(view->Create(CRect(0, 0, 1000, 660), &host, IDC_PAGE_VIEW));
        CString url = c.url(*view);
        view->Navigate2(url.GetString());
        auto* engine = dynamic_cast<afxweb::CWebKitBrowser*>(view->GetBrowser());
        ASSERT_NE(engine, nullptr);
        EXPECT_TRUE(gtkscreen::Until([&] { return engine->HasDocument() && view->m_spDoc; }, 20s))
            << engine->LocationUrl().str();
        EXPECT_NE(engine->LocationUrl().Find(c.name), -1)
            << "not its error page: " << engine->LocationUrl().str();
        // Errors travel on the same connection ahead of this answer.
        EXPECT_EQ(Eval(*view, "'settled'"), "settled");
        std::string errors;
        for (const std::string& e : engine->ScriptErrors())
            errors += e + "\n";
        EXPECT_EQ(errors, "") << url.str();
        view->DestroyWindow();
    }
    host.Detach();
    DestroyWindow(top);
}

TEST_F(ViewsOnScreen, SettingsChangedOnThePageReachConfigAndTheAutostartEntry) {
    setenv("KESTRIN_REGISTRY_DIR", dir.sub("registry").c_str(), 1);
    g_AppPathInfo.SetConfig("auto_start", "0");
    g_AppPathInfo.SetConfig("taskbar", "0");
    CSetDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_LOGIN_DIALOG, nullptr));
    afxweb::IBrowserControl* page = dlg.m_wndView.GetBrowser();
    ASSERT_TRUE(gtkscreen::Until([&] { return page->HasDocument(); }, 20s));
    // The folder typed as a Linux user writes it, without its separator; it goes into the page
    // as Base64, so no quoting is needed. The program keeps it in its own form.
    const std::string typed = dir.sub("Chosen"), kept = dir.win() + "Chosen";
    CString r;
    EXPECT_TRUE(page->InvokeScript("eval",
                                   {CString("document.getElementById('down_save').value = atob('" +
                                            [&] {
                                                CString b64;
                                                g_CommonFunc.EncodeBase64(typed.c_str(), b64);
                                                return b64.str();
                                            }() +
                                            "');"
                                            "document.getElementById('auto_start').checked = true;"
                                            "document.getElementById('ok').click(); 'sent'")},
                                   &r));
    EXPECT_EQ(r, "sent");
    EXPECT_TRUE(gtkscreen::Until([] { return g_AppPathInfo.GetConfig("auto_start") == "1"; }, 20s));
    EXPECT_EQ(g_AppPathInfo.GetConfig("down_save").str(), kept + "\\");
    EXPECT_EQ(g_AppPathInfo.GetDownloadFolder().str(), kept + "\\");
    EXPECT_TRUE(fs::is_directory(dir.sub("Chosen")));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                            KEY_READ, &key),
              ERROR_SUCCESS);
    char value[1024] = {0};
    DWORD size = sizeof value;
    EXPECT_EQ(
        RegQueryValueExA(key, APP_PRODUCT_TITLE, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size),
        ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_NE(std::string(value).find(" hide"), std::string::npos) << value;
    if (::IsWindow(dlg.GetSafeHwnd()))
        dlg.DestroyWindow();
    unsetenv("KESTRIN_REGISTRY_DIR");
}

TEST_F(LoginOnScreen, TheStorePageLoadsFromTheStoreAndCallsItsView) {
    setenv("KESTRIN_STORE", Base().c_str(), 1);
    HWND top = rec.Make(WS_POPUP | WS_VISIBLE, RECT{0, 0, 1000, 660});
    CWnd host;
    host.Attach(top);
    {
        CMainHtmlView view;
        ASSERT_TRUE(view.Create(CRect(0, 0, 1000, 660), &host, IDC_PAGE_VIEW));
        view.Navigate2(BuildStorePageUrl(0, FALSE, "", "").GetString());
        EXPECT_TRUE(gtkscreen::Until([&] { return view.m_bLoaded && view.GetBrowser()->HasDocument(); }, 20s))
            << view.GetBrowser()->LocationUrl().str();
        EXPECT_EQ(g_UserInfo.autologin, "0") << "no stored login: the page was told so";
        EXPECT_TRUE(gtkscreen::Until(
            [&] {
                return Eval(view, "String(document.querySelectorAll('#grid .card').length > 0)") == "true";
            },
            20s));
        ShotOf(top, "views_store_page.png");
        view.DestroyWindow();
    }
    host.Detach();
    DestroyWindow(top);
    unsetenv("KESTRIN_STORE");
}

// The narrowest view the program gives its pages: the mode skins' smallest window (740 x 440)
// less the frame's borders and caption band (2, 54, 2, 2).
constexpr int kNarrowestViewW = 736, kNarrowestViewH = 384;

// What of the elements a selector names sticks out of the view or is clipped by a box around
// it, and whether the page is wider than the view; "whole" when nothing does, "none" when no
// element of the selector is shown.
CString OutOfView(CVorHtmlView& v, const char* selector) {
    const std::string expr = std::string(R"((function (sel) {
  var w = document.documentElement.clientWidth, out = [], shown = 0;
  if (document.documentElement.scrollWidth > w)
    out.push("the page is " + document.documentElement.scrollWidth + " wide in " + w);
  document.querySelectorAll(sel).forEach(function (e) {
    var r = e.getBoundingClientRect();
    if (r.width === 0 || r.height === 0) return;
    ++shown;
    var name = e.id || e.className || e.tagName;
    if (r.left < 0 || r.top < 0 || r.right > w + 0.5)
      out.push(name + " at " + Math.round(r.left) + ".." + Math.round(r.right));
    for (var p = e.parentElement; p; p = p.parentElement) {
      var s = getComputedStyle(p), b = p.getBoundingClientRect();
      if ((s.overflowX !== "visible" && (r.left < b.left - 0.5 || r.right > b.right + 0.5)) ||
          (s.overflowY !== "visible" && (r.top < b.top - 0.5 || r.bottom > b.bottom + 0.5)))
        out.push(name + " clipped by " + (p.id || p.className || p.tagName));
    }
  });
  return shown === 0 ? "none" : out.length ? out.join("; ") : "whole";
})(")") + selector + "\")";
    CString r;
    if (!v.GetBrowser() || !v.GetBrowser()->InvokeScript("eval", {CString(expr.c_str())}, &r))
        return CString("(no answer)");
    return r;
}

// Logged out, the store page's login form is whole in the narrowest view, fields and button.
TEST_F(LoginOnScreen, TheStorePagesLoginFormIsWholeInTheNarrowestView) {
    setenv("KESTRIN_STORE", Base().c_str(), 1);
    HWND top = rec.Make(WS_POPUP | WS_VISIBLE, RECT{0, 0, kNarrowestViewW, kNarrowestViewH});
    CWnd host;
    host.Attach(top);
    {
        CMainHtmlView view;
        ASSERT_TRUE(view.Create(CRect(0, 0, kNarrowestViewW, kNarrowestViewH), &host, IDC_PAGE_VIEW));
        view.Navigate2(BuildStorePageUrl(0, FALSE, "", "").GetString());
        ASSERT_TRUE(
            gtkscreen::Until([&] { return view.m_bLoaded && view.GetBrowser()->HasDocument(); }, 20s));
        CString seen;
        EXPECT_TRUE(gtkscreen::Until(
            [&] {
                seen = OutOfView(view, "#user-out, #user-out > *");
                return seen != "none" && seen != "(no answer)";
            },
            20s))
            << "the login form never showed";
        EXPECT_EQ(seen, "whole");
        EXPECT_EQ(OutOfView(view, "header, header *"), "whole");
        ShotOf(top, "views_store_page_narrowest.png");
        view.DestroyWindow();
    }
    host.Detach();
    DestroyWindow(top);
    unsetenv("KESTRIN_STORE");
}

// Both shelf pages' headers are whole in the narrowest view.
TEST_F(ViewsOnScreen, TheShelfPagesHeaderIsWholeInTheNarrowestView) {
    HWND top = rec.Make(WS_POPUP | WS_VISIBLE, RECT{0, 0, kNarrowestViewW, kNarrowestViewH});
    CWnd host;
    host.Attach(top);
    for (const char* page : {"Bookshelf.html", "Bookshelf2.html"}) {
        SCOPED_TRACE(page);
        CMyBooksHtmlView view;
        ASSERT_TRUE(view.Create(CRect(0, 0, kNarrowestViewW, kNarrowestViewH), &host, IDC_PAGE_VIEW));
        view.Navigate2((g_AppPathInfo.GetPageDir() + page).GetString());
        ASSERT_TRUE(gtkscreen::Until([&] { return view.m_bLoaded && view.m_spDoc; }, 20s));
        CString seen;
        gtkscreen::Until(
            [&] {
                seen = OutOfView(view, ".shelf-head, .shelf-head *, .tabs");
                return seen != "none" && seen != "(no answer)";
            },
            20s);
        EXPECT_EQ(seen, "whole");
        ShotOf(top, (std::string("views_") + page + "_narrowest.png").c_str());
        view.DestroyWindow();
    }
    host.Detach();
    DestroyWindow(top);
}

} // namespace
