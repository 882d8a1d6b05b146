// The download road as a person takes it, in the real main window on the engine under Xvfb with
// the replacement store as its peer: the download button of a catalogue card on the magazine
// store page, the item on the shelf page with its progress, stopped and started there, finished,
// and deleted. The store holds the first transfer half-way, so there is something to stop.
// Screenshots of the shelf go to the build folder.
#include "app/HtmlDlg.h"
#include "app/HtmlVelkorsDlg.h"
#include "contentserver/ServerHost.h"
#include "foundation/AppPathInfo.h"
#include "library/MagShelf.h"
#include "net/DownLoadManager.h"
#include "net/MyHttp.h"
#include "platform/kernel/FileSys.h"
#include "platform/web/WebKitBrowser.h"
#include "res/resource.h"
#include "tests/gtk/GtkScreen.h"
#include "tests/net/StorePeer.h"
#include "tests/support/DataRoot.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TestFiles.h"

#include <cstdio>
#include <filesystem>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The window without what reaches beyond the road: no category lists or update check. Its local
// server listens on a free port.
class RoadDlg : public CHtmlVelkorsDlg {
protected:
    void StartCategoryLists() override {}
    void StartUpdates() override {}
};

class Road : public WithStore<gtkscreen::ScreenTest> {
protected:
    void SetUp() override {
        gtkscreen::ScreenTest::SetUp();
        env.Set("KESTRIN_STORE", Base());
        CVorHtmlView::SetBrowserFactory([](HWND h) -> std::unique_ptr<afxweb::IBrowserControl> {
            return afxweb::CreateWebKitBrowser(h);
        });
        UseTestDataRoot(dir);
        g_nServerPort = PeerProcess::FreePort();
        // The skin and the pages as the installer puts them: out of the program's own resources.
        dlg.m_packInfo.DeployComponents();
        dlg.LoadSkin("WinSkin3.xml");
        Control("/_control/reset");
    }
    void TearDown() override {
        Control("/_control/release?all=1");
        if (::IsWindow(dlg.GetSafeHwnd()))
            dlg.DestroyWindow();
        g_pMainDlg.Clear();
        gtkscreen::Until([] { return g_DownLoadManager.GetWorkerCount() == 0; }, 20s);
        CVorHtmlView::SetBrowserFactory([](HWND) { return std::unique_ptr<afxweb::IBrowserControl>(); });
        gtkscreen::ScreenTest::TearDown();
    }

    static std::string Control(const std::string& pathAndQuery) {
        CMyHttp http;
        CString body;
        http.GetUrl(CString((Base() + pathAndQuery).c_str()), nullptr, 0, "", body);
        return body.str();
    }
    static CString Eval(CVorHtmlView& v, const std::string& expr) {
        CString r;
        if (!v.GetBrowser() || !v.GetBrowser()->InvokeScript("eval", {CString(expr)}, &r))
            return CString("(no answer)");
        return r;
    }
    // Waits until the page's expression has the value; the last value seen otherwise.
    CString WaitFor(CVorHtmlView& v, const std::string& expr, const char* want,
                    std::chrono::seconds bound = 20s) {
        CString got;
        gtkscreen::Until(
            [&] {
                got = Eval(v, expr);
                return got == want;
            },
            bound);
        return got;
    }
    // A person's click on the element the selector finds: the pointer goes to its middle on the
    // screen and presses the first button.
    bool Click(CVorHtmlView& v, const std::string& selector) {
        Settle();
        CString at =
            Eval(v, "(function () { var e = document.querySelector(\"" + selector +
                        "\"); if (!e) return ''; e.scrollIntoView({block: 'center'});"
                        " var r = e.getBoundingClientRect();"
                        " return Math.round(r.left + r.width / 2) + ' ' + Math.round(r.top + r.height / 2);"
                        " })()");
        int x = 0, y = 0;
        if (std::sscanf(at.GetString(), "%d %d", &x, &y) != 2)
            return false;
        RECT r{};
        ::GetWindowRect(v.GetSafeHwnd(), &r);
        return gtkscreen::Command("xdotool mousemove --sync " + std::to_string(r.left + x) + " " +
                                  std::to_string(r.top + y) + " click 1");
    }
    // The same click given by the page's own script, inside the program's call: the page handles
    // it while the program waits for it, so no other call of ours can reach the page meanwhile.
    bool ScriptClick(CVorHtmlView& v, const std::string& selector) {
        return Eval(v, "(function () { var e = document.querySelector(\"" + selector +
                           "\"); if (!e) return 'none'; e.click(); return 'clicked'; })()") == "clicked";
    }
    // The main window's picture, into the build folder as name, once it shows the page as its
    // document is now. The engine hands its frames to the window on its own time, so the page
    // first shows a mark in its corner and then takes it away again: a picture with the mark
    // gone was painted after everything before it.
    void ShotWhenPainted(CVorHtmlView& v, const char* name) {
        RECT window{}, view{};
        ::GetWindowRect(dlg.GetSafeHwnd(), &window);
        ::GetWindowRect(v.GetSafeHwnd(), &view);
        // The mark goes in the bottom corner: the reading window's tool strip covers the top.
        const int x = view.left - window.left + 2, y = view.bottom - window.top - 3;
        const std::string path = XvfbDisplay::ShotPath(name);
        auto marked = [&](bool& mark) {
            Settle();
            cairo_surface_t* shot = gtkscreen::Shot(window, path);
            if (!shot)
                return false;
            cairo_surface_flush(shot);
            auto* row = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(shot) +
                                                          y * cairo_image_surface_get_stride(shot));
            mark = (row[x] & 0xFFFFFF) == 0xFF00FF;
            cairo_surface_destroy(shot);
            return true;
        };
        Eval(v, "var m = document.createElement('div'); m.id = 'road-mark';"
                "m.style.cssText = 'position:fixed;left:0;bottom:0;width:6px;height:6px;background:#ff00ff;"
                "z-index:2147483647'; document.body.appendChild(m); 1");
        bool mark = false;
        EXPECT_TRUE(gtkscreen::Until([&] { return marked(mark) && mark; }, 20s)) << name << ": no mark shown";
        Eval(v, "document.getElementById('road-mark').remove(); 1");
        EXPECT_TRUE(gtkscreen::Until([&] { return marked(mark) && !mark; }, 20s))
            << name << ": the mark stays";
    }
    CMagInfo* Find(const char* type, const char* pid) {
        CMagShelfLock lock;
        return g_MagShelf.Find(type, pid);
    }
    // The record's down state, -1 without a record; waited for after a click before the page is
    // asked anything, so that no call reaches the page while it still handles the click.
    int DownState(const char* type, const char* pid) {
        CMagShelfLock lock;
        CMagInfo* m = g_MagShelf.Find(type, pid);
        return m ? m->down : -1;
    }

    ScopedEnv env;
    TempDir dir{"kestrin_road_"};
    RoadDlg dlg;
};

TEST_F(Road, FromTheStoresDownloadButtonToTheShelfAndOffIt) {
    ASSERT_TRUE(dlg.Create(IDD_HTMLVELKORS_DIALOG));
    dlg.ShowWindow(SW_SHOW);
    CMainHtmlView& store = dlg.m_magView;
    ASSERT_TRUE(gtkscreen::Until([&] { return store.m_bLoaded && store.GetBrowser()->HasDocument(); }, 20s))
        << store.GetBrowser()->LocationUrl().str();
    ASSERT_EQ(WaitFor(store, "String(!!document.querySelector('.card[data-pid=m1] .download'))", "true"),
              "true");

    // The package's size is the store's to say; its first answer stops half-way and waits.
    const std::string whole = dir.sub("m1_whole.exe");
    {
        CMyHttp http;
        ASSERT_EQ(http.DownloadFile(CString((Base() + "/packages/m1.exe").c_str()), nullptr, 0, "",
                                    CString(whole.c_str())),
                  MYHTTP_OK);
    }
    const uintmax_t size = fs::file_size(whole);
    ASSERT_GT(size, 2u);
    const std::string half = std::to_string(size / 2);
    Control("/_control/fault?path=/packages/&count=1&cut=" + half + "&gate=road");
    ASSERT_TRUE(Click(store, ".card[data-pid=m1] .download"));
    ASSERT_TRUE(gtkscreen::Until([&] { return Find("mag", "m1") != nullptr; }, 20s))
        << "the click reached no one";

    // The store page's own way to the shelf.
    ASSERT_TRUE(ScriptClick(store, "#shelf"));
    ASSERT_EQ(dlg.m_strCurTab, "shelf");
    CMyBooksHtmlView& shelf = dlg.m_shelfView;
    const std::string item = ".item[data-pid=m1]";
    const std::string state = "(function () { var e = document.querySelector('" + item +
                              "'); return e ? e.getAttribute('data-state') + ' ' +"
                              " e.querySelector('.fill').style.width : 'none'; })()";
    // Progress is reported after two seconds of a transfer; the held one has not had them.
    EXPECT_EQ(WaitFor(shelf, state, "1 0%"), "1 0%");
    ShotWhenPainted(shelf, "road_shelf_progress.png");

    ASSERT_TRUE(ScriptClick(shelf, item + " .act-stop"));
    ASSERT_TRUE(gtkscreen::Until([&] { return DownState("mag", "m1") == DOWN_STATE_STOPPED; }, 20s));
    EXPECT_EQ(WaitFor(shelf, state, "0 0%"), "0 0%");

    ASSERT_TRUE(ScriptClick(shelf, item + " .act-start"));
    ASSERT_TRUE(gtkscreen::Until([&] { return DownState("mag", "m1") == DOWN_STATE_DONE; }, 20s));
    EXPECT_EQ(WaitFor(shelf, state, "2 100%"), "2 100%");
    std::string package;
    {
        CMagShelfLock lock;
        CMagInfo* m = g_MagShelf.Find("mag", "m1");
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->down, DOWN_STATE_DONE);
        AfxMapPath(m->savepath.GetString(), package);
    }
    ASSERT_TRUE(fs::exists(package)) << package;
    EXPECT_EQ(fs::file_size(package), size);
    EXPECT_NE(Control("/_control/log").find("Range: bytes=" + half + "-"), std::string::npos)
        << "the start resumed";
    ShotWhenPainted(shelf, "road_shelf_done.png");

    // Read it: the shelf's read button opens the package in the HTML reading window, whose page
    // and page pictures come from the local server.
    ASSERT_TRUE(Click(shelf, item + " .act-open"));
    ASSERT_NE(dlg.m_pHtmlDlg, nullptr);
    ASSERT_TRUE(gtkscreen::Until([&] { return dlg.m_pHtmlDlg->IsWindowVisible() != FALSE; }, 20s))
        << "the reading window never came up";
    CVorHtmlView& reader = dlg.m_pHtmlDlg->m_view;
    // The program asks a page nothing before its document is complete, as the views do: while
    // the engine still loads it, its web process may be waiting on this thread.
    ASSERT_TRUE(
        gtkscreen::Until([&] { return reader.GetBrowser() && reader.GetBrowser()->HasDocument(); }, 20s))
        << "the reading page never completed";
    const std::string origin = "http://127.0.0.1:" + std::to_string(g_nServerPort) + "/mag/m1/";
    EXPECT_EQ(WaitFor(reader,
                      "(function () { var i = document.getElementById('page');"
                      " return i && i.complete && i.naturalWidth > 0 && i.src.indexOf('" +
                          origin + "') == 0 ? 'shown' : String(i && i.src); })()",
                      "shown"),
              "shown")
        << "reader at "
        << (reader.GetBrowser() ? reader.GetBrowser()->LocationUrl().str() : std::string("(none)"))
        << ", read mode " << dlg.m_nReadMode << ", last path " << dlg.m_strLastPath.str();
    ShotWhenPainted(reader, "road_reader_page.png");

    // The page's close hides the reader and brings the shelf back.
    ASSERT_TRUE(ScriptClick(reader, "#head button:last-child"));
    ASSERT_TRUE(gtkscreen::Until(
        [&] { return !dlg.m_pHtmlDlg->IsWindowVisible() && dlg.m_shelfView.IsWindowVisible(); }, 20s))
        << "closing the reader did not return to the shelf";
    EXPECT_EQ(dlg.m_strCurTab, "shelf");

    ASSERT_TRUE(ScriptClick(shelf, item + " .act-delete"));
    ASSERT_TRUE(gtkscreen::Until([&] { return DownState("mag", "m1") == -1; }, 20s));
    EXPECT_EQ(WaitFor(shelf, state, "none"), "none");
    EXPECT_FALSE(fs::exists(package));
}

} // namespace
