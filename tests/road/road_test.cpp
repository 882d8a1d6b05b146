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
#include "net/UpdateCheck.h"
#include "platform/kernel/FileSys.h"
#include "platform/web/WebKitBrowser.h"
#include "res/resource.h"
#include "tests/gtk/GtkScreen.h"
#include "tests/net/StorePeer.h"
#include "tests/support/DataRoot.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TestFiles.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

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
    CString WaitFor(CVorHtmlView& v, const std::string& expr, const CString& want,
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
    // The next message box the program shows (the page's confirm among them) is answered with
    // answer from inside its own loop, its text noted in *text.
    void AnswerTheBox(int answer, std::string* text) {
        gtkscreen::WhenShown(GTK_TYPE_MESSAGE_DIALOG, [answer, text](GtkWidget* d) {
            gchar* t = nullptr;
            g_object_get(d, "text", &t, nullptr);
            *text = t ? t : "";
            g_free(t);
            gtk_dialog_response(GTK_DIALOG(d), answer);
        });
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

    // A finished item is asked about first: a No keeps it, a Yes deletes it with its package.
    std::string asked;
    for (int answer : {IDCANCEL, IDOK}) {
        AnswerTheBox(answer, &asked);
        ASSERT_TRUE(ScriptClick(shelf, item + " .act-delete"));
        EXPECT_NE(asked.find("删除"), std::string::npos) << asked; // GTK's text is UTF-8
        if (answer == IDCANCEL) {
            EXPECT_EQ(DownState("mag", "m1"), DOWN_STATE_DONE);
            EXPECT_EQ(Eval(shelf, state), "2 100%");
            EXPECT_TRUE(fs::exists(package));
        }
    }
    ASSERT_TRUE(gtkscreen::Until([&] { return DownState("mag", "m1") == -1; }, 20s));
    EXPECT_EQ(WaitFor(shelf, state, "none"), "none");
    EXPECT_FALSE(fs::exists(package));
}

// The state of one item's tile as the shelf page shows it: its state, a "failed" mark, the width
// of its progress and its badge's text; "none" without a tile.
// Text in the program's code page, as the page's answers come.
CString Gbk(const char* utf8) {
    return CString(AfxUtf8ToAnsi(utf8).c_str());
}

std::string TileState(const std::string& pid) {
    return "(function () { var e = document.querySelector('.item[data-pid=" + pid +
           "]'); return e ? e.getAttribute('data-state') + (e.classList.contains('failed') ? ' failed ' : ' "
           "') +"
           " e.querySelector('.fill').style.width + ' ' + e.querySelector('.badge').textContent : 'none'; "
           "})()";
}

TEST_F(Road, DeletingAnItemWhileItDownloadsStopsItTakesItsPartialFileAndItsTileAtOnce) {
    ASSERT_TRUE(dlg.Create(IDD_HTMLVELKORS_DIALOG));
    dlg.ShowWindow(SW_SHOW);
    // The store sends the first thousand bytes and holds the rest.
    Control("/_control/fault?path=/packages/&count=1&piece=1000&gate=del");
    g_DownLoadManager.AddDownLoad("mag", "m2");
    ASSERT_TRUE(gtkscreen::Until([&] { return DownState("mag", "m2") == DOWN_STATE_LOADING; }, 20s));
    std::string temp;
    {
        CMagShelfLock lock;
        AfxMapPath((g_MagShelf.Find("mag", "m2")->savepath + ".temp").GetString(), temp);
    }
    ASSERT_TRUE(gtkscreen::Until([&] { return fs::exists(temp); }, 20s));
    dlg.SendMessage(WM_TOOLBAR_CLICK, ID_TB_MY_BOOK);
    CMyBooksHtmlView& shelf = dlg.m_shelfView;
    EXPECT_EQ(WaitFor(shelf, TileState("m2"), Gbk("1 0% 下载中 0%")), Gbk("1 0% 下载中 0%"));

    // A loading item goes without a question, at a person's click.
    Eval(shelf, "window.confirm = function (q) { window.asked = q; return true; }; 1");
    ASSERT_TRUE(Click(shelf, ".item[data-pid=m2] .act-delete"));
    ASSERT_TRUE(gtkscreen::Until([&] { return DownState("mag", "m2") == -1; }, 20s));
    // The page answers at once, and shows no tile.
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitFor(shelf, TileState("m2"), "none", 5s), "none") << "the tile goes at once";
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 5s) << "the page was held up";
    ASSERT_TRUE(gtkscreen::Until([&] { return g_DownLoadManager.GetWorkerCount() == 0; }, 20s))
        << "the transfer stopped";
    EXPECT_EQ(g_DownLoadManager.GetRunningCount(), 0);
    EXPECT_FALSE(fs::exists(temp));
    EXPECT_EQ(Eval(shelf, "String(window.asked)"), "undefined");
    // Later reports of the shelf find nothing of it to show again.
    dlg.SendMessage(WM_TOOLBAR_CLICK, ID_TB_HOME);
    dlg.SendMessage(WM_TOOLBAR_CLICK, ID_TB_MY_BOOK);
    Settle();
    EXPECT_EQ(Eval(shelf, TileState("m2")), "none");
    EXPECT_EQ(Control("/_control/log").find("/packages/m2.exe"),
              Control("/_control/log").rfind("/packages/m2.exe"))
        << "nothing asked for it again";
    EXPECT_FALSE(fs::exists(temp));
    // The gate was never opened: the transfer ended because it was stopped, not because it ran out.
    Control("/_control/release?all=1");
}

TEST_F(Road, AStoreThatEndsDuringADownloadShowsAFailureWhichStartRetries) {
    // A store of this test's own, on a port it can come back to.
    const int port = PeerProcess::FreePort();
    auto store = std::make_unique<PeerProcess>();
    const std::vector<std::string> argv = {"python3",
                                           std::string(PROJECT_SOURCE_DIR) + "/tools/store/kestrin_store.py",
                                           "--port", std::to_string(port), "--watch-stdin"};
    ASSERT_TRUE(store->Start(argv));
    const std::string base = "http://127.0.0.1:" + std::to_string(port);
    env.Set("KESTRIN_STORE", base);
    auto control = [&](const std::string& what) {
        CMyHttp http;
        CString body;
        http.GetUrl(CString((base + what).c_str()), nullptr, 0, "", body);
        return body.str();
    };
    control("/_control/fault?path=/packages/&count=1&piece=1000&gate=end");

    ASSERT_TRUE(dlg.Create(IDD_HTMLVELKORS_DIALOG));
    dlg.ShowWindow(SW_SHOW);
    // Asked for from the store page, then watched on the shelf.
    g_DownLoadManager.AddDownLoad("mag", "m3");
    ASSERT_TRUE(gtkscreen::Until([&] { return DownState("mag", "m3") == DOWN_STATE_LOADING; }, 20s));
    dlg.SendMessage(WM_TOOLBAR_CLICK, ID_TB_MY_BOOK);
    CMyBooksHtmlView& shelf = dlg.m_shelfView;
    EXPECT_EQ(WaitFor(shelf, TileState("m3"), Gbk("1 0% 下载中 0%")), Gbk("1 0% 下载中 0%"));

    // The store goes away mid-transfer.
    store->KillAndWait(SIGKILL);
    ASSERT_TRUE(gtkscreen::Until([&] { return DownState("mag", "m3") == DOWN_STATE_STOPPED; }, 40s));
    EXPECT_EQ(WaitFor(shelf, TileState("m3"), Gbk("0 failed 0% 下载失败 0%")),
              Gbk("0 failed 0% 下载失败 0%"));
    ShotWhenPainted(shelf, "road_shelf_failed.png");
    // Off the shelf and back: still failed, as the program remembers it.
    dlg.SendMessage(WM_TOOLBAR_CLICK, ID_TB_HOME);
    dlg.SendMessage(WM_TOOLBAR_CLICK, ID_TB_MY_BOOK);
    EXPECT_EQ(WaitFor(shelf, TileState("m3"), Gbk("0 failed 0% 下载失败 0%")),
              Gbk("0 failed 0% 下载失败 0%"));

    // The store is back; start tries again and finishes the package.
    store = std::make_unique<PeerProcess>();
    ASSERT_TRUE(store->Start(argv));
    ASSERT_TRUE(ScriptClick(shelf, ".item[data-pid=m3] .act-start"));
    ASSERT_TRUE(gtkscreen::Until([&] { return DownState("mag", "m3") == DOWN_STATE_DONE; }, 30s));
    EXPECT_EQ(WaitFor(shelf, TileState("m3"), "2 100% "), "2 100% ");
    std::string package;
    {
        CMagShelfLock lock;
        AfxMapPath(g_MagShelf.Find("mag", "m3")->savepath.GetString(), package);
    }
    const std::string whole = dir.sub("m3_whole.exe");
    {
        CMyHttp http;
        ASSERT_EQ(http.DownloadFile(CString((base + "/packages/m3.exe").c_str()), nullptr, 0, "",
                                    CString(whole.c_str())),
                  MYHTTP_OK);
    }
    EXPECT_EQ(ReadFileBytes(package), ReadFileBytes(whole));
}

TEST_F(Road, ADamagedPackageOnTheShelfIsNamedOpensNoReaderAndAGoodOneStillOpens) {
    ASSERT_TRUE(dlg.Create(IDD_HTMLVELKORS_DIALOG));
    dlg.ShowWindow(SW_SHOW);
    for (const char* pid : {"m4", "m5"})
        g_DownLoadManager.AddDownLoad("mag", pid);
    ASSERT_TRUE(gtkscreen::Until(
        [&] {
            return DownState("mag", "m4") == DOWN_STATE_DONE && DownState("mag", "m5") == DOWN_STATE_DONE;
        },
        30s));
    // One of them is cut in half on the disk.
    std::string damaged;
    {
        CMagShelfLock lock;
        AfxMapPath(g_MagShelf.Find("mag", "m4")->savepath.GetString(), damaged);
    }
    fs::resize_file(damaged, fs::file_size(damaged) / 2);
    dlg.SendMessage(WM_TOOLBAR_CLICK, ID_TB_MY_BOOK);
    CMyBooksHtmlView& shelf = dlg.m_shelfView;
    for (const char* pid : {"m4", "m5"})
        ASSERT_EQ(WaitFor(shelf, TileState(pid), "2 100% "), "2 100% ") << pid;

    std::string said;
    AnswerTheBox(IDOK, &said);
    ASSERT_TRUE(Click(shelf, ".item[data-pid=m4] .act-open"));
    ASSERT_TRUE(gtkscreen::Until([&] { return !said.empty(); }, 20s)) << "no word of the damage";
    EXPECT_NE(said.find(fs::path(damaged).filename().string()), std::string::npos) << said;
    EXPECT_NE(said.find("已损坏"), std::string::npos) << said;
    Settle();
    EXPECT_FALSE(dlg.m_pHtmlDlg->IsWindowVisible());
    EXPECT_FALSE(dlg.m_pFlashWnd->IsWindowVisible());
    EXPECT_TRUE(shelf.IsWindowVisible());
    EXPECT_EQ(dlg.m_strCurTab, "shelf");
    EXPECT_EQ(Control("/_control/log").find("/touch/read/"), std::string::npos) << "no online read either";

    // The good one reads as ever, its first page from the local server.
    ASSERT_TRUE(Click(shelf, ".item[data-pid=m5] .act-open"));
    ASSERT_TRUE(gtkscreen::Until([&] { return dlg.m_pHtmlDlg->IsWindowVisible() != FALSE; }, 20s));
    CVorHtmlView& reader = dlg.m_pHtmlDlg->m_view;
    ASSERT_TRUE(
        gtkscreen::Until([&] { return reader.GetBrowser() && reader.GetBrowser()->HasDocument(); }, 20s));
    EXPECT_EQ(WaitFor(reader,
                      "(function () { var i = document.getElementById('page');"
                      " return i && i.complete && i.naturalWidth > 0 ? 'shown' : 'not yet'; })()",
                      "shown"),
              "shown");
}

TEST_F(Road, AnUpdateWithoutThePagesLeavesTheShelfPageToOpenAtTheNextStart) {
    // The store offers a page package of a newer build that holds a text file and nothing else.
    const std::string pack = dir.sub("bad_pages");
    fs::create_directories(pack);
    WriteFileBytes(pack + "/x.txt", "x");
    ASSERT_EQ(std::system(("python3 '" + std::string(PROJECT_SOURCE_DIR) +
                           "/tools/packwriter/kestrin_pack.py' pack '" + pack + "' -o '" + pack + ".pak'")
                              .c_str()),
              0);
    ASSERT_EQ(std::system(("curl -s --data-binary @'" + pack + ".pak' '" + Base() +
                           "/_control/file?name=data.2010' >/dev/null")
                              .c_str()),
              0);
    WriteFileBytes(dir.sub("update.xml"),
                   "<files><file file_name=\"data\" file_type=\"1\" version=\"2010\" url=\"" + Base() +
                       "/files/data.2010\" mode=\"0\"/></files>");
    ASSERT_EQ(std::system(("curl -s --data-binary @'" + dir.sub("update.xml") + "' '" + Base() +
                           "/_control/manifest' >/dev/null")
                              .c_str()),
              0);
    // This run's update check, then the next start's deployment and its shelf.
    UpdateThreadProc(nullptr);
    EXPECT_NE(Control("/_control/log").find("GET /files/data.2010"), std::string::npos);
    dlg.m_packInfo.DeployComponents();
    ASSERT_TRUE(dlg.Create(IDD_HTMLVELKORS_DIALOG));
    dlg.ShowWindow(SW_SHOW);
    dlg.SendMessage(WM_TOOLBAR_CLICK, ID_TB_MY_BOOK);
    CMyBooksHtmlView& shelf = dlg.m_shelfView;
    EXPECT_TRUE(gtkscreen::Until([&] { return shelf.m_bLoaded != FALSE; }, 20s))
        << "the shelf page never asked for its categories; the view shows "
        << (shelf.GetBrowser() ? shelf.GetBrowser()->LocationUrl().str() : std::string("(nothing)"));
    EXPECT_EQ(WaitFor(shelf, "document.title", Gbk("我的书架")), Gbk("我的书架"));
    EXPECT_NE(shelf.GetBrowser()->LocationUrl().Find("data_2005"), -1)
        << shelf.GetBrowser()->LocationUrl().str();
}

} // namespace
