// The main window on the headless screen with the fake browser control: its first tab, the tab
// switches, hiding and exiting, and the event hub's routing of every application event to the
// page or reader that should get it. The store pages and the shelf page are fake pages whose
// script functions write each call into one log, named by the page that got it.
#include "app/HtmlVelkorsDlg.h"
#include "contentserver/MyMemFile.h"
#include "foundation/AppPathInfo.h"
#include "library/MagShelf.h"
#include "library/UserInfo.h"
#include "net/AppMessages.h"
#include "net/DownLoadManager.h"
#include "platform/shell/SingleInstance.h"
#include "platform/shell/TrayHost.h"
#include "platform/user/HeadlessScreen.h"
#include "platform/web/FakeBrowser.h"
#include "platform/kernel/FileSys.h"
#include "platform/web/NavigationPolicy.h"
#include "res/resource.h"
#include "tests/support/DataRoot.h"
#include "tests/support/FakeWidi.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WaitFor.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>
#include <map>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

// An item package as the package writer makes it: a view1.html and a view2.html among its pages,
// and the edition strings given (an empty value leaves its string out).
std::string MakeItem(TempDir& dir, const std::string& name, const std::string& type, const std::string& id,
                     const std::string& htmlFlag, const std::string& priceFlag) {
    const std::string pages = dir.sub(name + "_pages");
    fs::create_directories(pages);
    WriteFileBytes(pages + "/view1.html", "<html>" + id + " free</html>");
    WriteFileBytes(pages + "/view2.html", "<html>" + id + " priced</html>");
    std::string cmd = std::string(KESTRIN_PYTHON " '") + PROJECT_SOURCE_DIR +
                      "/tools/packwriter/kestrin_pack.py' exe -o '" + dir.sub(name) + "' --package 188='" +
                      pages + "'";
    for (const auto& [rid, value] :
         {std::pair<int, std::string>{162, id}, {294, type}, {280, htmlFlag}, {227, priceFlag}})
        if (!value.empty())
            cmd += " --string " + std::to_string(rid) + "=" + value;
    int status = -1;
    std::string said = RunCommand(cmd + " 2>&1", &status);
    EXPECT_EQ(status, 0) << cmd << "\n" << said;
    return dir.win() + name;
}

// Whether the memory-file store holds the named file of an item.
bool Served(const char* type, const char* id, const char* file) {
    CString name;
    name.Format("%s%s\\%s\\%s", MEMFILE_ROOT, type, id, file);
    EnterCriticalSection(&g_csMemFile);
    bool found = g_MyMemFile.FindFile(MemFileWiden(name.GetString())) != nullptr;
    LeaveCriticalSection(&g_csMemFile);
    return found;
}

// The window without what reaches beyond it: no local server, no store downloads, no update
// check; the launchers only note what they were asked to open.
class TestDlg : public CHtmlVelkorsDlg {
public:
    std::vector<std::string> opened; // "local <path>" or "online <type> <pid>"
    BOOL OpenLocalItem(CString path) override {
        BOOL bOpened = CHtmlVelkorsDlg::OpenLocalItem(path);
        opened.push_back("local " + path.str());
        return bOpened;
    }
    void OpenOnlineReader(CString type, CString pid) override {
        CHtmlVelkorsDlg::OpenOnlineReader(type, pid);
        opened.push_back("online " + type.str() + " " + pid.str());
    }
    BOOL OnInitDialog() override {
        CHtmlVelkorsDlg::OnInitDialog();
        if (postExit && exitBy == SC_CLOSE)
            PostMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
        else if (postExit)
            PostMessage(WM_COMMAND, ID_TRAY_EXIT, 0);
        return TRUE;
    }
    bool postExit = false;
    UINT exitBy = ID_TRAY_EXIT;
    int logins = 0;
    // The login dialog is the login views' own affair; here it only counts.
    void RunLoginDialog() override { ++logins; }

protected:
    void StartLocalServer() override {}
    void StartCategoryLists() override {}
    void StartUpdates() override {}
};

const char* const kPageFunctions[] = {
    "js_ReDownLoad",     "js_UserLogin",      "ShowProgress",    "js_StartDownload", "js_StopDownload",
    "InitUID",           "ClearCategoryItem", "AddCategoryItem", "SelMag",           "SelBook",
    "CategoryItemClick", "js_setFileVal",     "SetCheck",        "AddWIDI"};

// The headless screen, noting which windows were raised over the other applications.
class RaisingScreen : public afxuser::CHeadlessScreen {
public:
    void WindowRaised(HWND h) override { raised.push_back(h); }
    std::vector<HWND> raised;
};

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        screen.Install();
        previousTray = afxshell::SetTrayHost(withTray ? &tray : nullptr);
        setenv("KESTRIN_STORE", "http://127.0.0.1:9", 1);
        UseTestDataRoot(dir);

        CVorHtmlView::SetBrowserFactory([this](HWND) {
            auto b = std::make_unique<afxweb::CFakeBrowser>();
            for (const CString& url : PageUrls()) {
                afxweb::CFakeBrowser::Page page;
                for (const char* name : kPageFunctions)
                    page[name] = [this, name](afxweb::CFakeBrowser& p, const std::vector<CString>& args) {
                        std::string line = PageName(p.LocationUrl()) + ":" + name + "(";
                        for (size_t i = 0; i < args.size(); ++i)
                            line += (i ? "|" : "") + args[i].str();
                        calls.push_back(line + ")");
                        return CString();
                    };
                b->AddPage(url, page);
            }
            for (const CString& url : readerPages)
                b->AddPage(url,
                           {{"eval", [this](afxweb::CFakeBrowser&, const std::vector<CString>& args) {
                                 calls.push_back("reader:eval(" + (args.empty() ? "" : args[0].str()) + ")");
                                 return CString();
                             }}});
            fakes.push_back(b.get());
            return b;
        });
    }
    void TearDown() override {
        if (::IsWindow(dlg.GetSafeHwnd()))
            dlg.DestroyWindow();
        g_pMainDlg.Clear();
        g_MyMemFile.RemoveAll();
        g_MyMemFile.m_nServerState = 0;
        CVorHtmlView::SetBrowserFactory([](HWND) { return std::unique_ptr<afxweb::IBrowserControl>(); });
        afxshell::SetTrayHost(previousTray);
        unsetenv("KESTRIN_STORE");
    }

    // The pages the tabs open, for the user record and mode as they are now.
    std::vector<CString> PageUrls() {
        std::vector<CString> urls{CHtmlVelkorsDlg::MagStoreUrl(), CHtmlVelkorsDlg::BookStoreUrl()};
        for (const char* shelf : {"Bookshelf.html", "Bookshelf2.html"}) {
            std::string path;
            AfxMapPath((g_AppPathInfo.GetPageDir() + shelf).GetString(), path);
            urls.push_back(CString(afxweb::NavigationUrl(path)));
        }
        urls.push_back(CLoginHtmlView().GetPageUrl("Setting.html"));
        for (CString& u : urls)
            u = CString(afxweb::NavigationUrl(u.str()));
        return urls;
    }
    std::string PageName(const CString& url) {
        if (url.Find("/magazine/") >= 0)
            return "mag";
        if (url.Find("/book/") >= 0)
            return "book";
        if (url.Find("Bookshelf") >= 0)
            return "shelf";
        if (url.Find("Setting.html") >= 0)
            return "setting";
        return "?";
    }

    void Start(const char* cmdLine = "") {
        dlg.SetCommandLine(cmdLine);
        ASSERT_TRUE(dlg.Create(IDD_HTMLVELKORS_DIALOG));
        ASSERT_EQ(fakes.size(), 4u); // the three tabs and the reading page
    }
    // Every view's fake, by the view's window.
    afxweb::CFakeBrowser* FakeOf(CVorHtmlView& view) {
        return dynamic_cast<afxweb::CFakeBrowser*>(view.GetBrowser());
    }
    size_t Navigations(CVorHtmlView& view) { return FakeOf(view)->Navigations().size(); }
    // The shelf page as loaded: it has listed its magazine categories.
    void LoadShelf() {
        dlg.SendMessage(WM_TOOLBAR_CLICK, ID_TB_MY_BOOK);
        dlg.m_shelfView.C_InitClassList("mag");
    }
    void LoadStores() {
        dlg.SendMessage(WM_TOOLBAR_CLICK, ID_TB_MAKE_BOOK);
        dlg.m_bookView.m_bLoaded = TRUE;
        dlg.SendMessage(WM_TOOLBAR_CLICK, ID_TB_HOME);
        dlg.m_magView.m_bLoaded = TRUE;
    }
    // withFile: an item package of the record's at its place on disk ("damaged": bytes that are none).
    CMagInfo* AddItem(const char* type, const char* pid, int down, bool withFile, bool damaged = false) {
        auto* item = new CMagInfo;
        item->pid = pid;
        item->sort_id = "s7";
        item->down = down;
        item->type = type;
        item->name = "Name";
        item->savepath = CString(dir.win() + pid + ".exe");
        if (withFile && damaged)
            std::ofstream(dir.sub(pid) + ".exe") << "PK";
        else if (withFile)
            MakeItem(dir, std::string(pid) + ".exe", type, pid, "1", "0");
        g_MagShelf.Add(item, type, FALSE);
        return item;
    }
    LRESULT Event(WPARAM code, LPARAM payload) { return dlg.SendMessage(WM_APP_EVENT, code, payload); }

    bool withTray = true;
    RaisingScreen screen;
    afxshell::HeadlessTrayHost tray;
    afxshell::ITrayHost* previousTray = nullptr;
    TempDir dir{"kestrin_mainwnd_"};
    std::vector<afxweb::CFakeBrowser*> fakes;
    std::vector<CString> readerPages; // addresses the reading page's fake can show
    std::vector<std::string> calls;
    FakeWidi widi; // outlives the window's hold on it
    TestDlg dlg;
};

// ---- the window

TEST_F(MainWindowTest, StartsOnTheMagazineStoreAndLoadsEachPageOnce) {
    Start();
    EXPECT_EQ(g_pMainDlg.GetSafeHwnd(), dlg.GetSafeHwnd());
    EXPECT_EQ(::GetPropA(dlg.GetSafeHwnd(), "kestrin4.0"), reinterpret_cast<HANDLE>(1));
    EXPECT_EQ(dlg.m_strCurTab, "mag");
    EXPECT_TRUE(dlg.m_magView.IsWindowVisible());
    EXPECT_FALSE(dlg.m_shelfView.IsWindowVisible());
    ASSERT_EQ(Navigations(dlg.m_magView), 1u);
    EXPECT_EQ(FakeOf(dlg.m_magView)->LocationUrl(),
              CString(afxweb::NavigationUrl(CHtmlVelkorsDlg::MagStoreUrl().str())));
    EXPECT_EQ(Navigations(dlg.m_bookView), 0u);
    EXPECT_EQ(Navigations(dlg.m_shelfView), 0u);

    dlg.SendMessage(WM_TOOLBAR_CLICK, ID_TB_MY_BOOK);
    dlg.SendMessage(WM_TOOLBAR_CLICK, ID_TB_HOME);
    dlg.SendMessage(WM_TOOLBAR_CLICK, ID_TB_MY_BOOK);
    EXPECT_EQ(Navigations(dlg.m_magView), 1u);
    EXPECT_EQ(Navigations(dlg.m_shelfView), 1u);
    EXPECT_EQ(dlg.m_strCurTab, "shelf");
    EXPECT_TRUE(dlg.m_shelfView.IsWindowVisible());
    EXPECT_FALSE(dlg.m_magView.IsWindowVisible());
    EXPECT_TRUE(FakeOf(dlg.m_shelfView)->LocationUrl().Find("Bookshelf2.html") >= 0);
}

TEST_F(MainWindowTest, CommandLineOpensAnExistingPackageOnly) {
    const std::string path = MakeItem(dir, "item.exe", "mag", "i1", "1", "0");
    std::ofstream(dir.sub("damaged.exe")) << "PK";
    const std::string damaged = dir.win() + "damaged.exe";
    struct Case {
        std::string cmdLine;
        bool tried; // handed to the launcher
        bool opens;
    } cases[] = {
        {"-p " + path, true, true},
        {"-p " + damaged, true, false},        // the first tab then shows
        {"-p \"" + path + "\"", false, false}, // quotes are part of the path, which
                                               // then does not exist
        {"-p " + path + " ", false, false},
        {"-p" + path, false, false},
        {"", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cmdLine);
        dlg.opened.clear();
        EXPECT_EQ(dlg.HandleCommandLine(CString(c.cmdLine)), c.opens ? TRUE : FALSE);
        EXPECT_EQ(dlg.opened, c.tried ? std::vector<std::string>{"local " + c.cmdLine.substr(3)}
                                      : std::vector<std::string>{});
    }
}

TEST_F(MainWindowTest, APackageOnTheCommandLineIsTheFirstThingShown) {
    const std::string item = MakeItem(dir, "item.exe", "mag", "i1", "1", "0");
    Start(("-p " + item).c_str());
    EXPECT_EQ(dlg.opened, std::vector<std::string>{"local " + item});
    EXPECT_EQ(dlg.m_strCurTab, "");
    EXPECT_EQ(Navigations(dlg.m_magView), 0u);
    EXPECT_TRUE(screen.MessageBoxes().empty());
}

TEST_F(MainWindowTest, ADamagedPackageOnTheCommandLineIsNamedAndTheStoreShows) {
    std::ofstream(dir.sub("broken.exe")) << "PK";
    Start(("-p " + dir.win() + "broken.exe").c_str());
    ASSERT_EQ(screen.MessageBoxes().size(), 1u);
    EXPECT_NE(screen.MessageBoxes()[0].text.find("broken.exe"), std::string::npos);
    EXPECT_NE(screen.MessageBoxes()[0].text.find(AfxUtf8ToAnsi("已损坏")), std::string::npos);
    EXPECT_EQ(dlg.m_strCurTab, "mag");
    EXPECT_TRUE(dlg.m_magView.IsWindowVisible());
    EXPECT_FALSE(dlg.m_pHtmlDlg->IsWindowVisible());
    EXPECT_FALSE(dlg.m_pFlashWnd->IsWindowVisible());
}

TEST_F(MainWindowTest, EscHidesToTheTrayAndTheTrayBringsItBack) {
    Start();
    dlg.OnCancel();
    EXPECT_TRUE(::IsWindow(dlg.GetSafeHwnd()));
    EXPECT_FALSE(dlg.IsWindowVisible());
    dlg.SendMessage(WM_COMMAND, ID_TRAY_SHOW, 0);
    EXPECT_TRUE(dlg.IsWindowVisible());
}

class MainWindowNoTrayTest : public MainWindowTest {
protected:
    MainWindowNoTrayTest() { withTray = false; }
};

TEST_F(MainWindowNoTrayTest, WithoutATrayEscMinimisesSoTheWindowCanComeBack) {
    Start();
    EXPECT_FALSE(dlg.m_trayIcon.IsEnabled());
    dlg.OnCancel();
    EXPECT_TRUE(dlg.IsWindowVisible());
    EXPECT_TRUE(dlg.IsIconic());
}

TEST_F(MainWindowTest, TheTraysExitEndsTheModalRunAndStopsTheWorkersSends) {
    dlg.postExit = true;
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(dlg.m_bExiting, 1);
    // Workers' sends after the run return at once instead of waiting on a window that is gone.
    EXPECT_EQ(g_pMainDlg.GetSafeHwnd(), nullptr);
    EXPECT_EQ(g_pMainDlg.SendEvent(EVT_DOWNLOAD_PROGRESS, 0), 0);
    g_DownLoadManager.Reopen();
}

TEST_F(MainWindowTest, AltF4EndsTheModalRunAndStopsTheWorkersSends) {
    dlg.postExit = true;
    dlg.exitBy = SC_CLOSE;
    dlg.DoModal();
    EXPECT_FALSE(::IsWindow(dlg.GetSafeHwnd()));
    EXPECT_EQ(dlg.m_bExiting, 0);
    EXPECT_EQ(g_pMainDlg.GetSafeHwnd(), nullptr);
    EXPECT_EQ(g_pMainDlg.SendEvent(EVT_DOWNLOAD_PROGRESS, 0), 0);
    g_DownLoadManager.Reopen();
}

// ---- a second start, the system menu and the about box, the wireless display

// Runs fn once on this thread, from inside whichever message loop runs when a visible window
// owned by owner has this caption (a modal loop included); a null fn withdraws the one waiting.
void RunWhenShown(HWND owner, const std::string& caption, std::function<void(HWND)> fn) {
    struct Pending {
        HWND owner;
        std::string caption;
        std::function<void(HWND)> fn;
        UINT_PTR timer = 0;
    };
    static Pending pending;
    if (pending.timer)
        KillTimer(nullptr, pending.timer);
    pending = Pending{owner, caption, std::move(fn), 0};
    if (!pending.fn)
        return;
    pending.timer = SetTimer(nullptr, 0, 1, [](HWND, UINT, UINT_PTR, DWORD) {
        HWND found = nullptr;
        for (HWND h = GetWindow(GetDesktopWindow(), GW_CHILD); h && !found; h = GetWindow(h, GW_HWNDNEXT)) {
            char text[128] = {0};
            GetWindowTextA(h, text, sizeof text);
            if (IsWindowVisible(h) && GetWindow(h, GW_OWNER) == pending.owner && pending.caption == text)
                found = h;
        }
        if (!found)
            return;
        KillTimer(nullptr, pending.timer);
        pending.timer = 0;
        auto run = std::move(pending.fn);
        pending.fn = nullptr;
        run(found);
    });
}

const std::string& AboutCaption() {
    static const std::string caption = AfxUtf8ToAnsi("关于 HtmlVelkors");
    return caption;
}

// The main window of this process as the running instance, in a session (runtime folder) and
// home of this test's own, and the program's start-up as a second process beside it.
class SecondStartTest : public MainWindowTest {
protected:
    void SetUp() override {
        for (const char* d : {"home", "data", "run", "registry"})
            fs::create_directories(dir.sub(d));
        fs::permissions(dir.sub("run"), fs::perms::owner_all, fs::perm_options::replace);
        env.Set("HOME", dir.sub("home"));
        env.Set("XDG_DATA_HOME", dir.sub("data"));
        env.Set("XDG_RUNTIME_DIR", dir.sub("run"));
        env.Set("KESTRIN_REGISTRY_DIR", dir.sub("registry"));
        MainWindowTest::SetUp();
        mutex = CreateMutexA(nullptr, TRUE, "kestrin4.0");
        ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    }
    void TearDown() override {
        MainWindowTest::TearDown(); // the window withdraws its property in this session
        CloseHandle(mutex);
        env.Restore();
    }
    // Starts the program's start-up with these arguments and serves this window until it ends;
    // what it printed ("end" for a second start).
    std::string SecondStart(const std::vector<std::string>& args) {
        std::vector<std::string> argv{APP_PROBE_PLAIN};
        argv.insert(argv.end(), args.begin(), args.end());
        PeerProcess second;
        if (!second.Start(argv, false)) {
            ADD_FAILURE() << "no second start";
            return "";
        }
        int status = -1;
        EXPECT_TRUE(testwait::PumpUntil([&] { return second.Ended(&status); }, std::chrono::seconds(30)));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
        std::string line;
        second.ReadLine(line, 0);
        return line;
    }
    bool Raised() const {
        return std::find(screen.raised.begin(), screen.raised.end(), dlg.GetSafeHwnd()) !=
               screen.raised.end();
    }

    ScopedEnv env;
    HANDLE mutex = nullptr;
};

TEST_F(SecondStartTest, ShowsTheHiddenWindowAndOpensThePackageItWasGiven) {
    std::ofstream(dir.sub("item.zip")) << "PK";
    const std::string item = dir.win() + "item.zip";
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> opened;
    } cases[] = {
        {{"-p", item}, {"local " + item}},
        {{}, {}},
        {{"-p", dir.win() + "missing.zip"}, {}},
    };
    Start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "(no arguments)" : c.args.back());
        dlg.opened.clear();
        screen.raised.clear();
        dlg.OnCancel(); // hidden in the notification area
        ASSERT_FALSE(dlg.IsWindowVisible());
        EXPECT_EQ(SecondStart(c.args), "end");
        EXPECT_TRUE(dlg.IsWindowVisible());
        EXPECT_TRUE(Raised());
        EXPECT_EQ(dlg.opened, c.opened);
    }
    // The second start ran no window of its own and deployed nothing.
    EXPECT_FALSE(fs::exists(dir.sub("data/Tavonel/kestrin4.0/ExeFiles/Version.ini")));
}

TEST_F(MainWindowTest, OnlyAHandedOverPackagePathIsActedOn) {
    std::ofstream(dir.sub("item.zip")) << "PK";
    const std::string good = "-p " + dir.win() + "item.zip";
    // What a careless or hostile hand-over may name instead of a package: each is taken as a
    // package that is not there, and nothing waits on a FIFO's other side.
    ASSERT_EQ(mkfifo(dir.sub("fifo.exe").c_str(), 0600), 0);
    fs::create_directories(dir.sub("folder.exe"));
    struct Case {
        const char* what;
        ULONG_PTR dwData;
        std::string bytes;
        bool nullData;
        BOOL handled;
        bool opens;
    } cases[] = {
        {"a package", 0, good, false, TRUE, true},
        {"a missing package", 0, "-p " + dir.win() + "gone.zip", false, TRUE, false},
        {"a FIFO", 0, "-p " + dir.win() + "fifo.exe", false, TRUE, false},
        {"a device", 0, "-p \\dev\\zero", false, TRUE, false},
        {"a folder", 0, "-p " + dir.win() + "folder.exe", false, TRUE, false},
        {"another kind of data", 7, good, false, FALSE, false},
        {"a zero inside the text", 0, good + std::string(1, '\0') + "x", false, FALSE, false},
        {"text cut before the path", 0, "-p", false, FALSE, false},
        {"another command", 0, "-x " + dir.win() + "item.zip", false, FALSE, false},
        {"no data", 0, "", true, FALSE, false},
    };
    Start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dlg.opened.clear();
        dlg.OnCancel();
        std::string bytes = c.bytes;
        COPYDATASTRUCT cds{c.dwData, static_cast<DWORD>(bytes.size()), c.nullData ? nullptr : bytes.data()};
        EXPECT_EQ(dlg.SendMessage(WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)), c.handled);
        EXPECT_EQ(dlg.opened.size(), c.opens ? 1u : 0u);
        // Only a hand-over of ours brings the window back.
        EXPECT_EQ(dlg.IsWindowVisible() != FALSE, c.handled != FALSE);
    }
}

// The system menu's items as "id text" lines ("-" for a separator).
std::vector<std::string> MenuLines(HMENU m) {
    std::vector<std::string> out;
    for (int i = 0; i < GetMenuItemCount(m); ++i) {
        if (GetMenuState(m, static_cast<UINT>(i), MF_BYPOSITION) & MF_SEPARATOR) {
            out.push_back("-");
            continue;
        }
        char text[128] = {0};
        GetMenuStringA(m, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
        out.push_back(std::to_string(GetMenuItemID(m, i)) + " " + text);
    }
    return out;
}

TEST_F(MainWindowTest, TheAboutItemEndsTheSystemMenuOnce) {
    Start();
    HMENU sys = GetSystemMenu(dlg.GetSafeHwnd(), FALSE);
    ASSERT_NE(sys, nullptr);
    EXPECT_EQ(GetSystemMenu(dlg.GetSafeHwnd(), FALSE), sys);
    std::vector<std::string> lines = MenuLines(sys);
    ASSERT_GE(lines.size(), 3u);
    const std::string about = std::to_string(IDM_ABOUTBOX) + " " + AfxUtf8ToAnsi("关于 HtmlVelkors(&A)...");
    EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()), (std::vector<std::string>{"-", about}));
    EXPECT_EQ(std::count(lines.begin(), lines.end(), about), 1);
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        std::to_string(SC_CLOSE) + " " + AfxUtf8ToAnsi("关闭(&C)\tAlt+F4")),
              lines.end());
}

// Whether some pixel of a window's rendering, inside r (window coordinates), passes the test.
bool AnyPixel(cairo_surface_t* s, RECT r, const std::function<bool(int, int, int)>& test) {
    cairo_surface_flush(s);
    const unsigned char* data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    for (int y = std::max<int>(r.top, 0); y < std::min<int>(r.bottom, cairo_image_surface_get_height(s)); ++y)
        for (int x = std::max<int>(r.left, 0); x < std::min<int>(r.right, cairo_image_surface_get_width(s));
             ++x) {
            uint32_t p = reinterpret_cast<const uint32_t*>(data + y * stride)[x];
            if (test((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF))
                return true;
        }
    return false;
}

// A child's rectangle in its dialog's window coordinates.
RECT ChildRect(HWND dlg, HWND child) {
    RECT w{}, c{};
    GetWindowRect(dlg, &w);
    GetWindowRect(child, &c);
    return RECT{c.left - w.left, c.top - w.top, c.right - w.left, c.bottom - w.top};
}

TEST_F(MainWindowTest, TheAboutBoxShowsTheProgramsIconNameAndVersionUnderItsCaption) {
    Start();
    std::vector<std::string> texts;
    bool caption = false, icon = false, text = false, button = false;
    RunWhenShown(dlg.GetSafeHwnd(), AboutCaption(), [&](HWND box) {
        UpdateWindow(box);
        for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
            UpdateWindow(c);
        cairo_surface_t* shot = screen.RenderWindow(box);
        caption = AnyPixel(shot, RECT{2, 2, 40, 20},
                           [](int r, int g, int b) { return b > 120 && r < 80 && g < 110; });
        for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            char t[128] = {0};
            GetWindowTextA(c, t, sizeof t);
            texts.push_back(t);
            RECT r = ChildRect(box, c);
            if (std::string(t) == "#128") // the program's mark: teal
                icon = AnyPixel(shot, r, [](int r, int g, int b) { return g > r + 40 && b > r + 40; });
            else if (GetDlgCtrlID(c) == IDOK)
                button = AnyPixel(shot, r, [](int r, int g, int b) { return b > 180 && r < 40 && g < 160; });
            else
                text = text || AnyPixel(shot, r, [](int r, int g, int b) { return r + g + b < 200; });
        }
        cairo_surface_destroy(shot);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    });
    dlg.SendMessage(WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    std::vector<std::string> expected{"#128", AfxUtf8ToAnsi("墨舟匣 V4.0（版本 4.0.2005）"),
                                      AfxUtf8ToAnsi("数字杂志与电子书的商店和书架"), AfxUtf8ToAnsi("确定")};
    std::sort(texts.begin(), texts.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(texts, expected);
    EXPECT_TRUE(caption) << "the caption band";
    EXPECT_TRUE(icon) << "the icon";
    EXPECT_TRUE(text) << "the texts";
    EXPECT_TRUE(button) << "the default button's frame";
}

TEST_F(MainWindowTest, TheAboutCommandOpensTheModalAboutBox) {
    Start();
    struct Case {
        WPARAM command;
        bool opens;
    } cases[] = {
        {IDM_ABOUTBOX, true},
        {IDM_ABOUTBOX | 0x000F, true}, // the low four bits are the system's
        {IDM_ABOUTBOX + 0x10, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        bool opened = false, ownerDisabled = false;
        RunWhenShown(dlg.GetSafeHwnd(), AboutCaption(), [&](HWND box) {
            opened = true;
            ownerDisabled = !dlg.IsWindowEnabled();
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        });
        dlg.SendMessage(WM_SYSCOMMAND, c.command, 0);
        EXPECT_EQ(opened, c.opens);
        EXPECT_EQ(ownerDisabled, c.opens);
        EXPECT_TRUE(dlg.IsWindowEnabled());
    }
    RunWhenShown(nullptr, "", nullptr);
}

TEST_F(MainWindowTest, AltSpaceOpensTheSystemMenuAndItsAboutItemTheAboutBox) {
    Start();
    screen.ScriptMenuChoice(IDM_ABOUTBOX);
    bool opened = false;
    RunWhenShown(dlg.GetSafeHwnd(), AboutCaption(), [&](HWND box) {
        opened = true;
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    });
    afxuser::InputKey(WM_SYSKEYDOWN, VK_MENU);
    afxuser::InputKey(WM_SYSKEYDOWN, VK_SPACE);
    afxuser::InputKey(WM_SYSCHAR, VK_SPACE);
    afxuser::InputKey(WM_SYSKEYUP, VK_SPACE);
    afxuser::InputKey(WM_SYSKEYUP, VK_MENU);
    ASSERT_TRUE(testwait::PumpUntil([&] { return opened; }));
    ASSERT_EQ(screen.Menus().size(), 1u);
    EXPECT_EQ(screen.Menus()[0].menu, GetSystemMenu(dlg.GetSafeHwnd(), FALSE));
    EXPECT_EQ(screen.Menus()[0].owner, dlg.GetSafeHwnd());
}

TEST_F(MainWindowTest, TheWirelessDisplaysAdaptersReachTheSettingsPageAndItsRequestsTheComponent) {
    widi.adapters = {u"B", u"A"};
    widi.Register();
    Start();
    EXPECT_EQ(widi.window, dlg.GetSafeHwnd());
    afxuser::CHeadlessScreen::Pump(); // the component's ready, then the adapters it found
    EXPECT_EQ(widi.scans, 1);
    calls.clear();
    // The settings dialog has no caption of its own: it shows the program's title.
    RunWhenShown(dlg.GetSafeHwnd(), AfxUtf8ToAnsi("墨舟匣V4.0"), [&](HWND) {
        afxweb::CFakeBrowser* page = fakes.back();
        page->CallExternal("C_SetConfig", {});
        page->CallExternal("C_ConnectWIDI", {"A"});
        page->CallExternal("C_ConnectWIDI", {"B"});
        page->CallExternal("C_DisconnectedWIDI", {});
        page->CallExternal("C_Close", {});
    });
    dlg.SendMessage(WM_COMMAND, ID_SKIN_SET, 0);
    std::vector<std::string> listed;
    for (const std::string& c : calls)
        if (c.rfind("setting:AddWIDI", 0) == 0)
            listed.push_back(c);
    EXPECT_EQ(listed, (std::vector<std::string>{"setting:AddWIDI(B)", "setting:AddWIDI(A)"}));
    EXPECT_EQ(widi.calls, (std::vector<std::string>{"connect A 0 0 3", "connect B 0 0 3", "disconnect B"}));
}

TEST_F(MainWindowTest, WithoutAWirelessDisplayTheSettingsPageListsNoneAndRequestsAreDropped) {
    Start();
    EXPECT_EQ(dlg.m_widi.m_spWidi, nullptr);
    CString name("TV");
    EXPECT_EQ(dlg.SendMessage(WM_WIDI_CONNECT, 0, reinterpret_cast<LPARAM>(&name)), 0);
    EXPECT_EQ(dlg.m_widi.m_strWidiConnected, "");
    EXPECT_EQ(dlg.m_widi.m_arrWidiAdapters.GetSize(), 0);
}

TEST_F(MainWindowTest, APendingShelfTypeFromAWorkerReachesTheNextShelfSwitchOnce) {
    Start();
    LoadShelf();
    dlg.SendMessage(WM_TOOLBAR_CLICK, ID_TB_HOME);
    std::thread worker([this] { dlg.SetPendingShelfType("mag"); });
    worker.join();
    calls.clear();
    dlg.SendMessage(WM_TOOLBAR_CLICK, ID_TB_MY_BOOK);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), "shelf:ClearCategoryItem()");
    EXPECT_EQ(dlg.GetPendingShelfType(), "");
    calls.clear();
    dlg.SendMessage(WM_TOOLBAR_CLICK, ID_TB_HOME);
    dlg.SendMessage(WM_TOOLBAR_CLICK, ID_TB_MY_BOOK);
    EXPECT_TRUE(calls.empty());
}

// ---- the event hub

TEST_F(MainWindowTest, DownloadReportsReachTheShelfOnlyWhileItIsShown) {
    Start();
    LoadShelf();
    CMagInfo* item = AddItem("mag", "m1", DOWN_STATE_LOADING, false);
    CMsgInfo progress;
    progress.m_strParam1 = "m1";
    progress.m_strParam2 = "mag";
    progress.m_strParam3 = "40";
    struct Case {
        const char* where;
        std::vector<std::string> expected;
    } cases[] = {
        {"shelf",
         {"shelf:ShowProgress(m1|mag|40)", "shelf:js_StartDownload(mag|m1)",
          "shelf:js_StopDownload(mag|m1)"}},
        {"store", {}},
        {"hidden", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        dlg.ShowWindow(SW_SHOW);
        dlg.SendMessage(WM_TOOLBAR_CLICK, std::string(c.where) == "store" ? ID_TB_HOME : ID_TB_MY_BOOK);
        if (std::string(c.where) == "hidden")
            dlg.ShowWindow(SW_HIDE);
        calls.clear();
        EXPECT_EQ(Event(EVT_DOWNLOAD_PROGRESS, reinterpret_cast<LPARAM>(&progress)), 0);
        Event(EVT_DOWNLOAD_STARTED, reinterpret_cast<LPARAM>(item));
        Event(EVT_DOWNLOAD_FAILED, reinterpret_cast<LPARAM>(item));
        EXPECT_EQ(calls, c.expected);
    }
}

TEST_F(MainWindowTest, DownloadAnswersGoToTheShelfWhenShownElseToTheAskingStore) {
    Start();
    LoadStores();
    LoadShelf();
    CMagInfo* book = AddItem("book", "b1", DOWN_STATE_LOADING, false);
    CMagInfo* mag = AddItem("mag", "m2", DOWN_STATE_LOADING, false);
    CMsgInfo failed;
    failed.m_strParam1 = "m9";
    failed.m_strParam2 = "mag";
    struct Case {
        const char* name;
        bool shelfShown;
        WPARAM code;
        LPARAM payload;
        std::vector<std::string> expected;
    } cases[] = {
        {"added, shelf",
         true,
         EVT_DOWNLOAD_ADDED,
         reinterpret_cast<LPARAM>(book),
         {"shelf:js_ReDownLoad(2|s7|b1)"}},
        {"added, book store",
         false,
         EVT_DOWNLOAD_ADDED,
         reinterpret_cast<LPARAM>(book),
         {"book:js_ReDownLoad(2|s7|b1)"}},
        {"exists, mag store",
         false,
         EVT_DOWNLOAD_EXISTS,
         reinterpret_cast<LPARAM>(mag),
         {"mag:js_ReDownLoad(1|s7|m2)"}},
        {"exists without item", true, EVT_DOWNLOAD_EXISTS, 0, {}},
        {"request failed, mag store",
         false,
         EVT_ITEM_REQUEST_FAILED,
         reinterpret_cast<LPARAM>(&failed),
         {"mag:js_ReDownLoad(0||m9)"}},
        {"request failed, shelf",
         true,
         EVT_ITEM_REQUEST_FAILED,
         reinterpret_cast<LPARAM>(&failed),
         {"shelf:js_ReDownLoad(0||m9)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dlg.SendMessage(WM_TOOLBAR_CLICK, c.shelfShown ? ID_TB_MY_BOOK : ID_TB_HOME);
        calls.clear();
        Event(c.code, c.payload);
        EXPECT_EQ(calls, c.expected);
    }
}

TEST_F(MainWindowTest, WithTheWindowHiddenAnAnswerGoesToTheStoreNotTheShelf) {
    Start();
    LoadStores();
    LoadShelf();
    CMagInfo* mag = AddItem("mag", "m3", DOWN_STATE_LOADING, false);
    dlg.OnCancel();
    ASSERT_FALSE(dlg.IsWindowVisible());
    calls.clear();
    Event(EVT_DOWNLOAD_ADDED, reinterpret_cast<LPARAM>(mag));
    EXPECT_EQ(calls, std::vector<std::string>{"mag:js_ReDownLoad(2|s7|m3)"});
}

TEST_F(MainWindowTest, ALocalReadOpensTheFileOnlyWhenItIsCompleteAndThere) {
    Start();
    struct Case {
        const char* pid;
        int down;
        bool file;
        bool damaged;
        const char* read; // "local", "online" or "" (a damaged package: named, not read)
    } cases[] = {
        {"d1", DOWN_STATE_DONE, true, false, "local"},     {"d2", DOWN_STATE_DONE, false, false, "online"},
        {"d3", DOWN_STATE_LOADING, true, false, "online"}, {"d4", DOWN_STATE_STOPPED, true, false, "online"},
        {"d5", DOWN_STATE_DONE, true, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pid);
        CMagInfo* item = AddItem("book", c.pid, c.down, c.file, c.damaged);
        dlg.opened.clear();
        const size_t boxes = screen.MessageBoxes().size();
        Event(EVT_READ_LOCAL, reinterpret_cast<LPARAM>(item));
        const std::string read = c.read;
        std::string expected =
            read == "online" ? std::string("online book ") + c.pid : "local " + item->savepath.str();
        EXPECT_EQ(dlg.opened, std::vector<std::string>{expected});
        EXPECT_EQ(screen.MessageBoxes().size(), boxes + (read.empty() ? 1 : 0));
        CMagInfoList recent;
        g_MagShelf.GetList("book_read", recent);
        bool inRecent = false;
        for (INT_PTR i = 0; i < recent.GetSize(); ++i)
            inRecent = inRecent || recent[i]->pid == c.pid;
        EXPECT_EQ(inRecent, read == "local");
    }
}

TEST_F(MainWindowTest, AnOnlineReadTakesTypeAndPidFromThePage) {
    Start();
    CMsgInfo msg;
    msg.m_strParam1 = "x";
    msg.m_strParam2 = "p5";
    msg.m_strParam3 = "mag";
    Event(EVT_READ_ONLINE, reinterpret_cast<LPARAM>(&msg));
    EXPECT_EQ(dlg.opened, std::vector<std::string>{"online mag p5"});
}

TEST_F(MainWindowTest, ClosingAReaderReturnsToTheTabItWasOpenedFrom) {
    Start();
    struct Case {
        UINT tab; // 0: no tab shown since the start
        WPARAM code;
        const char* back;
    } cases[] = {
        {0, EVT_CLOSE_READER, "shelf"},
        {ID_TB_MAKE_BOOK, EVT_CLOSE_READER, "book"},
        {ID_TB_HOME, EVT_CLOSE_FLASH, "mag"},
        {ID_TB_MY_BOOK, EVT_CLOSE_FLASH, "shelf"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.back);
        if (c.tab)
            dlg.SendMessage(WM_TOOLBAR_CLICK, c.tab);
        else
            dlg.m_strCurTab.Empty();
        dlg.SendMessage(WM_TOOLBAR_CLICK, ID_TB_READ);
        Event(c.code, 0);
        EXPECT_EQ(dlg.m_strCurTab, c.back);
        CVorHtmlView& shown = std::string(c.back) == "mag"    ? static_cast<CVorHtmlView&>(dlg.m_magView)
                              : std::string(c.back) == "book" ? static_cast<CVorHtmlView&>(dlg.m_bookView)
                                                              : static_cast<CVorHtmlView&>(dlg.m_shelfView);
        EXPECT_TRUE(shown.IsWindowVisible());
    }
}

TEST_F(MainWindowTest, LoginReloadsOnlyTheStoresAlreadyShown) {
    Start(); // the magazine store is loaded, the book store never shown
    LoadShelf();
    g_UserInfo.userid = "42";
    g_UserInfo.username = "reader";
    g_UserInfo.password = "pw";
    calls.clear();
    Event(EVT_USER_LOGIN, 0);
    const auto& magNavigations = FakeOf(dlg.m_magView)->Navigations();
    ASSERT_GE(magNavigations.size(), 2u);
    EXPECT_TRUE(magNavigations[1].Find("user=reader&pass=pw") >= 0) << magNavigations[1].str();
    EXPECT_EQ(Navigations(dlg.m_bookView), 0u);
    EXPECT_EQ(calls, std::vector<std::string>{"shelf:InitUID(42)"});
}

TEST_F(MainWindowTest, LogoffTellsEveryLoadedPage) {
    Start();
    LoadStores();
    LoadShelf();
    calls.clear();
    Event(EVT_USER_LOGOFF, 0);
    EXPECT_EQ(calls, (std::vector<std::string>{"book:js_UserLogin(||||)", "mag:js_UserLogin(||||)",
                                               "shelf:InitUID(-1)"}));
}

TEST_F(MainWindowTest, GoShelfShowsTheShelfAndSelectsACategoryOnlyWithBothParts) {
    Start();
    LoadShelf();
    struct Case {
        const char* type;
        const char* category;
        std::vector<std::string> expected;
    } cases[] = {
        {"mag", "12", {"shelf:CategoryItemClick(id_12)"}},
        {"", "12", {}},
        {"mag", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.type) + "/" + c.category);
        dlg.SendMessage(WM_TOOLBAR_CLICK, ID_TB_HOME);
        CMsgInfo msg;
        msg.m_strParam2 = c.category;
        msg.m_strParam3 = c.type;
        calls.clear();
        Event(EVT_GO_SHELF, reinterpret_cast<LPARAM>(&msg));
        EXPECT_EQ(dlg.m_strCurTab, "shelf");
        EXPECT_EQ(calls, c.expected);
    }
}

TEST_F(MainWindowTest, AUserModeChangeReloadsALoadedShelfInTheNewMode) {
    Start();
    Event(EVT_USER_MODE, 0);
    EXPECT_EQ(Navigations(dlg.m_shelfView), 0u);
    LoadShelf();
    g_nUserMode = 1;
    Event(EVT_USER_MODE, 0);
    ASSERT_EQ(Navigations(dlg.m_shelfView), 2u);
    EXPECT_TRUE(FakeOf(dlg.m_shelfView)->Navigations().back().Find("/Bookshelf.html") >= 0);
    EXPECT_EQ(Navigations(dlg.m_magView), 1u);
}

TEST_F(MainWindowTest, UnknownCodesAreIgnored) {
    Start();
    calls.clear();
    EXPECT_EQ(Event(6006, 0), 0);
    EXPECT_EQ(Event(1, 0), 0);
    EXPECT_TRUE(calls.empty());
}

// ---- the readers

class ReaderTest : public MainWindowTest {
protected:
    CReadHtmlView& ReadView() { return dlg.m_pHtmlDlg->m_view; }
    CString LastReadNavigation() {
        const auto& n = FakeOf(ReadView())->Navigations();
        return n.empty() ? CString() : n.back();
    }
    bool Visible(CWnd* w) { return ::IsWindow(w->GetSafeHwnd()) && w->IsWindowVisible(); }
    std::string Call(const char* method, std::vector<CString> args = {}) {
        CString result;
        if (!FakeOf(ReadView())->CallExternal(method, args, &result))
            return "(refused)";
        return result.str();
    }
};

TEST_F(ReaderTest, TheReadingWindowsAreOwnedPopupsOverTheWorkArea) {
    Start();
    for (CWnd* reader : {static_cast<CWnd*>(dlg.m_pHtmlDlg), static_cast<CWnd*>(dlg.m_pFlashWnd)}) {
        ASSERT_TRUE(::IsWindow(reader->GetSafeHwnd()));
        EXPECT_TRUE(reader->GetStyle() & WS_POPUP);
        EXPECT_EQ(::GetWindow(reader->GetSafeHwnd(), GW_OWNER), dlg.GetSafeHwnd());
        CString title;
        reader->GetWindowText(title);
        EXPECT_EQ(title.str(), AfxUtf8ToAnsi("我的窗口"));
        CRect rc;
        reader->GetWindowRect(&rc);
        EXPECT_EQ(rc, CRect(0, 0, 1024, 728));
        // The first tab hides both.
        EXPECT_FALSE(reader->IsWindowVisible());
    }
    // The page view fills the reading window, the strip spans the screen's width on its top.
    CRect rcView, rcTool;
    ReadView().GetWindowRect(&rcView);
    ReadView().m_tool.GetWindowRect(&rcTool);
    EXPECT_EQ(rcView, CRect(0, 0, 1024, 728));
    EXPECT_EQ(rcTool, CRect(0, 0, 1024, 95));
    EXPECT_EQ(ReadView().m_tool.GetParent(), &ReadView());
}

// The reading window shown takes the keyboard, its page or its movie the focus; the dialog
// manager's Esc there is the main window's, which hides both to the tray, and the tray brings both
// back with the reader active above; closed, the reader gives the keyboard back.
TEST_F(ReaderTest, TheShownReaderHasTheKeyboardAndGoesToTheTrayAndBackWithTheMainWindow) {
    readerPages.push_back("http://127.0.0.1:8024/mag/h1/view2.html");
    Start();
    g_MyMemFile.m_nServerState = 2;
    struct Case {
        const char* html;
        CWnd* reader;
        std::function<HWND()> focus;
        // What the program's modal loop does with Esc there: the dialog manager's cancel of the
        // HTML reader, the Flash reader's own look at the key.
        std::function<void(HWND)> esc;
    } cases[] = {
        {"1", dlg.m_pHtmlDlg, [&] { return ReadView().GetSafeHwnd(); },
         [&](HWND) { dlg.m_pHtmlDlg->SendMessage(WM_COMMAND, IDCANCEL); }},
        {"0", dlg.m_pFlashWnd, [&] { return dlg.m_pFlashWnd->m_pFlash->GetSafeHwnd(); },
         [&](HWND focus) {
             MSG m{focus, WM_KEYDOWN, VK_ESCAPE, 1, 0, {}};
             EXPECT_TRUE(CWnd::WalkPreTranslateTree(dlg.GetSafeHwnd(), &m));
         }},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.html);
        const std::string id = "h" + std::to_string(++n);
        dlg.OpenLocalItem(MakeItem(dir, id + ".exe", "mag", id, c.html, "0").c_str());
        const HWND reader = c.reader->GetSafeHwnd(), main = dlg.GetSafeHwnd();
        EXPECT_EQ(::GetActiveWindow(), reader);
        EXPECT_EQ(::GetFocus(), c.focus());
        c.esc(c.focus());
        EXPECT_FALSE(::IsWindowVisible(main));
        EXPECT_FALSE(::IsWindowVisible(reader));
        dlg.SendMessage(WM_COMMAND, ID_TRAY_SHOW, 0);
        afxuser::CHeadlessScreen::Pump();
        EXPECT_TRUE(::IsWindowVisible(main));
        EXPECT_TRUE(::IsWindowVisible(reader));
        EXPECT_EQ(::GetActiveWindow(), reader) << "the reader came back without the keyboard";
        EXPECT_EQ(::GetFocus(), c.focus());
        bool above = false;
        for (HWND h = ::GetWindow(reader, GW_HWNDNEXT); h && !above; h = ::GetWindow(h, GW_HWNDNEXT))
            above = h == main;
        EXPECT_TRUE(above) << "the reader came back below the main window";
        // The main window brought to the front another way hands the keyboard on to the reader.
        ::SetForegroundWindow(main);
        afxuser::CHeadlessScreen::Pump();
        EXPECT_EQ(::GetActiveWindow(), reader);
        Event(EVT_CLOSE_READER, 0);
        EXPECT_FALSE(::IsWindowVisible(reader));
        EXPECT_EQ(::GetActiveWindow(), main);
    }
}

TEST_F(ReaderTest, ALocalItemOpensInTheReaderItsFlagsAskFor) {
    struct Case {
        const char* html;
        const char* price;
        bool served;
        const char* opens; // the HTML reader's address, or the Flash reader's start file
    } cases[] = {
        {"1", "0", true, "http://127.0.0.1:8024/mag/i0/view2.html"},
        {"1", "1", true, "http://127.0.0.1:8024/mag/i1/view2.html"},
        {"1", "", true, "http://127.0.0.1:8024/mag/i2/view1.html"},
        {"1", "2", true, "http://127.0.0.1:8024/mag/i3/view1.html"},
        {"0", "1", true, "stream2"},
        {"", "0", true, "stream"},
        {"0", "", false, "stream"},
        {"1", "0", false, "view2.html"},
    };
    for (const Case& c : cases)
        if (c.served && c.opens[0] == 'h')
            readerPages.push_back(c.opens);
    Start();
    int n = 0;
    for (const Case& c : cases) {
        const std::string id = "i" + std::to_string(n++);
        SCOPED_TRACE(id);
        g_MyMemFile.m_nServerState = c.served ? 2 : 0;
        dlg.OpenLocalItem(MakeItem(dir, id + ".exe", "mag", id, c.html, c.price).c_str());
        EXPECT_TRUE(Served("mag", id.c_str(), "view1.html"));
        EXPECT_FALSE(Visible(&dlg.m_magView));
        const bool html = std::string(c.html) == "1";
        EXPECT_EQ(dlg.m_nReadMode, html ? READ_MODE_HTML : READ_MODE_FLASH);
        EXPECT_EQ(Visible(dlg.m_pHtmlDlg), html);
        EXPECT_EQ(Visible(dlg.m_pFlashWnd), !html);
        if (html) {
            EXPECT_TRUE(Visible(&ReadView().m_tool));
            // An HTML read closes the movie.
            EXPECT_EQ(dlg.m_pFlashWnd->m_pFlash, nullptr);
            if (c.served)
                EXPECT_EQ(LastReadNavigation(), c.opens);
            else // the memory-file folder, which no browser can fetch
                EXPECT_TRUE(LastReadNavigation().Find(c.opens) >= 0 &&
                            LastReadNavigation().Find("umexmemfile_qoncreate_12_06_26") >= 0)
                    << LastReadNavigation().str();
        } else {
            EXPECT_NE(dlg.m_pFlashWnd->m_pFlash, nullptr);
            EXPECT_EQ(dlg.m_pFlashWnd->m_strStartFile, c.opens);
            EXPECT_EQ(dlg.m_pFlashWnd->m_strItemId, id.c_str());
            EXPECT_EQ(dlg.m_pFlashWnd->m_strBase, c.served ? CString("http://127.0.0.1:8024/mag/" + id + "/")
                                                           : CString(MEMFILE_ROOT "mag\\" + id + "\\"));
        }
    }
}

// A resource-only executable whose MYDATA holds exactly the given items ("188=file").
std::string MakeExe(TempDir& dir, const std::string& name, const std::vector<std::string>& items) {
    std::string cmd = std::string(KESTRIN_PYTHON " '") + PROJECT_SOURCE_DIR +
                      "/tools/packwriter/kestrin_pack.py' exe -o '" + dir.sub(name) + "' --string 280=1";
    for (const std::string& item : items)
        cmd += " --file " + item;
    int status = -1;
    std::string said = RunCommand(cmd + " 2>&1", &status);
    EXPECT_EQ(status, 0) << cmd << "\n" << said;
    return ReadFileBytes(dir.sub(name));
}

TEST_F(ReaderTest, ADamagedPackageOpensNoReaderAndNamesTheFileAndTheNextGoodOneOpens) {
    const std::string good = MakeItem(dir, "good.exe", "mag", "g1", "1", "0");
    const std::string whole = ReadFileBytes(dir.sub("good.exe"));
    // A directory that claims 5001 entries, behind some bytes.
    const uint32_t trailer[3] = {8, 5001 * 264, 5001};
    WriteFileBytes(dir.sub("count.bin"),
                   std::string(8, 'x') + std::string(reinterpret_cast<const char*>(trailer), sizeof trailer));
    std::string random(65536, '\0');
    for (size_t i = 0; i < random.size(); ++i)
        random[i] = static_cast<char>((i * 2654435761u) >> 13);
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"truncated", whole.substr(0, whole.size() / 2)},
        {"wrong magic", "XY" + whole.substr(2)},
        {"random", random},
        {"no pages", MakeExe(dir, "nopages.bin", {})},
        {"pages that do not read", MakeExe(dir, "badpages.bin", {"188=" + dir.sub("count.bin")})},
    };
    readerPages.push_back("http://127.0.0.1:8024/mag/g1/view2.html");
    Start();
    g_MyMemFile.m_nServerState = 2;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = std::string("damaged ") + c.name + ".exe";
        WriteFileBytes(dir.sub(file), c.bytes);
        dlg.SendMessage(WM_TOOLBAR_CLICK, ID_TB_MY_BOOK);
        const size_t boxes = screen.MessageBoxes().size();
        const size_t reads = FakeOf(ReadView())->Navigations().size();
        EXPECT_FALSE(dlg.OpenLocalItem((dir.win() + file).c_str()));
        ASSERT_EQ(screen.MessageBoxes().size(), boxes + 1);
        const auto& box = screen.MessageBoxes().back();
        EXPECT_NE(box.text.find(file), std::string::npos) << box.text;
        EXPECT_NE(box.text.find(AfxUtf8ToAnsi("已损坏")), std::string::npos) << box.text;
        EXPECT_EQ(box.owner, dlg.GetSafeHwnd());
        // No reader came up, nothing was fetched for it, and the shelf is still there.
        EXPECT_FALSE(Visible(dlg.m_pHtmlDlg));
        EXPECT_FALSE(Visible(dlg.m_pFlashWnd));
        EXPECT_EQ(dlg.m_pFlashWnd->m_pFlash, nullptr);
        EXPECT_EQ(FakeOf(ReadView())->Navigations().size(), reads);
        EXPECT_TRUE(Visible(&dlg.m_shelfView));
        EXPECT_EQ(dlg.m_strCurTab, "shelf");
        // The next good package reads as ever.
        EXPECT_TRUE(dlg.OpenLocalItem(good.c_str()));
        EXPECT_TRUE(Visible(dlg.m_pHtmlDlg));
        EXPECT_TRUE(Served("mag", "g1", "view2.html"));
        EXPECT_EQ(LastReadNavigation(), CString("http://127.0.0.1:8024/mag/g1/view2.html"));
        EXPECT_EQ(screen.MessageBoxes().size(), boxes + 1);
    }
}

TEST_F(ReaderTest, ASecondItemReplacesTheFirstItemsFiles) {
    Start();
    const std::string first = MakeItem(dir, "a1.exe", "book", "a1", "1", "0");
    const std::string second = MakeItem(dir, "a2.exe", "book", "a2", "0", "0");
    dlg.OpenLocalItem(first.c_str());
    EXPECT_TRUE(Served("book", "a1", "view2.html"));
    dlg.OpenLocalItem(second.c_str());
    EXPECT_FALSE(Served("book", "a1", "view2.html"));
    EXPECT_TRUE(Served("book", "a2", "view2.html"));
    EXPECT_EQ(dlg.m_strLastPath, second.c_str());
    // The movie's login reopens the last local item.
    dlg.opened.clear();
    dlg.m_pFlashWnd->SendMessage(WM_FLASH_LOGIN, TRUE, 0);
    EXPECT_EQ(dlg.logins, 1);
    EXPECT_EQ(dlg.opened, std::vector<std::string>{"local " + second});
}

TEST_F(ReaderTest, ALongIdKeepsItsWholeFolder) {
    // With the 34 characters of the root the prefix passes 64 characters: nothing is cut, so
    // the page is found under the address the reader is given.
    const std::string id(40, 'L');
    readerPages.push_back(CString("http://127.0.0.1:8024/book/" + id + "/view2.html"));
    Start();
    g_MyMemFile.m_nServerState = 2;
    dlg.OpenLocalItem(MakeItem(dir, "long.exe", "book", id, "1", "0").c_str());
    EXPECT_TRUE(Served("book", id.c_str(), "view2.html"));
    EXPECT_EQ(LastReadNavigation(), CString("http://127.0.0.1:8024/book/" + id + "/view2.html"));
}

TEST_F(ReaderTest, TheBuiltInItemOpensFromTheProgramAndGoesOnTheShelf) {
    Start();
    dlg.m_packInfo.m_strType = "mag";
    dlg.m_packInfo.m_strId = "e1";
    dlg.m_packInfo.m_strName = "Edition";
    dlg.m_packInfo.m_strHtmlFlag = "1";
    dlg.m_packInfo.m_strPriceFlag = "0";
    dlg.OpenLocalItem("");
    EXPECT_EQ(dlg.m_nReadMode, READ_MODE_HTML);
    EXPECT_TRUE(LastReadNavigation().Find("mag\\e1\\view2.html") >= 0 ||
                LastReadNavigation().Find("mag/e1/view2.html") >= 0)
        << LastReadNavigation().str();
    CMagInfo* item = g_MagShelf.Find("mag", "e1");
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->down, DOWN_STATE_DONE);
    CMagInfoList recent;
    g_MagShelf.GetList("mag_read", recent);
    ASSERT_GE(recent.GetSize(), 1);
    EXPECT_EQ(recent[0]->pid, "e1");
}

TEST_F(ReaderTest, AnOnlineReadShowsTheStoresPageAndDropsTheLocalItem) {
    struct Case {
        const char* type;
        const char* page;
    } cases[] = {{"book", "/touch/read/book/?vs=1&pid=p7"},
                 {"mag", "/touch/read/mag/?vs=1&pid=p7"},
                 {"other", "/touch/read/mag/?vs=1&pid=p7"}};
    for (const Case& c : cases)
        readerPages.push_back(CString("http://127.0.0.1:9") + c.page);
    Start();
    const std::string item = MakeItem(dir, "f.exe", "mag", "f9", "0", "1");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        dlg.OpenLocalItem(item.c_str());
        ASSERT_NE(dlg.m_pFlashWnd->m_pFlash, nullptr);
        dlg.OpenOnlineReader(c.type, "p7");
        EXPECT_EQ(LastReadNavigation(), CString("http://127.0.0.1:9") + c.page);
        EXPECT_EQ(g_MyMemFile.m_arrEntries.GetSize(), 0);
        EXPECT_EQ(dlg.m_pFlashWnd->m_pFlash, nullptr);
        EXPECT_EQ(dlg.m_nReadMode, READ_MODE_HTML);
        EXPECT_TRUE(Visible(dlg.m_pHtmlDlg));
        EXPECT_FALSE(Visible(dlg.m_pFlashWnd));
    }
    // The movie's login of an online item reads it online again.
    dlg.opened.clear();
    dlg.m_pFlashWnd->SendMessage(WM_FLASH_LOGIN, FALSE, 0);
    EXPECT_EQ(dlg.opened, std::vector<std::string>{"online other p7"});
}

TEST_F(ReaderTest, ThePageHidesTheStripWhichTheNextReadingTabShowsAgain) {
    readerPages.push_back("http://127.0.0.1:8024/mag/t1/view2.html");
    Start();
    g_MyMemFile.m_nServerState = 2;
    dlg.OpenLocalItem(MakeItem(dir, "t1.exe", "mag", "t1", "1", "1").c_str());
    ASSERT_EQ(FakeOf(ReadView())->LocationUrl(), "http://127.0.0.1:8024/mag/t1/view2.html");
    EXPECT_EQ(Call("C_HideTool"), "1");
    EXPECT_FALSE(ReadView().m_tool.IsWindowVisible());
    EXPECT_EQ(Call("C_HideTool"), "0");
    EXPECT_EQ(Call("showtools", {"x"}), "0");
    dlg.SendMessage(WM_TOOLBAR_CLICK, ID_TB_READ);
    EXPECT_TRUE(ReadView().m_tool.IsWindowVisible());
    EXPECT_EQ(Call("showtools", {"x"}), "1");
    EXPECT_FALSE(ReadView().m_tool.IsWindowVisible());
    EXPECT_EQ(Call("C_UserBuy"), "0");
}

TEST_F(ReaderTest, ClosingFromThePageOrTheStripReturnsToTheTabTheReadCameFrom) {
    readerPages.push_back("http://127.0.0.1:8024/book/c1/view2.html");
    Start();
    LoadStores();
    g_MyMemFile.m_nServerState = 2;
    const std::string item = MakeItem(dir, "c1.exe", "book", "c1", "1", "0");
    struct Case {
        UINT tab;
        const char* back;
        bool fromStrip;
    } cases[] = {
        {ID_TB_MAKE_BOOK, "book", false}, {ID_TB_HOME, "mag", true}, {ID_TB_MAKE_BOOK, "book", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.back) + (c.fromStrip ? " strip" : " page"));
        dlg.SendMessage(WM_TOOLBAR_CLICK, c.tab);
        dlg.OpenLocalItem(item.c_str());
        ASSERT_TRUE(Visible(dlg.m_pHtmlDlg));
        EXPECT_TRUE(Visible(&ReadView().m_tool));
        if (c.fromStrip) {
            ReadView().m_tool.SendMessage(WM_COMMAND, ID_SKIN_CLOSE, 0);
            EXPECT_FALSE(ReadView().m_tool.IsWindowVisible());
        } else {
            calls.clear();
            Call("C_Close");
            EXPECT_EQ(calls,
                      std::vector<std::string>{"reader:eval(document.body && (document.body.innerHTML = "
                                               "'<html><body bgcolor=\"#E1E1E1\"></body></html>'))"});
        }
        EXPECT_EQ(dlg.m_strCurTab, c.back);
        EXPECT_FALSE(dlg.m_pHtmlDlg->IsWindowVisible());
        EXPECT_TRUE((std::string(c.back) == "book" ? dlg.m_bookView : dlg.m_magView).IsWindowVisible());
    }
}

TEST_F(ReaderTest, ThePageSendsTheUserToTheShelfAndLogsInToReadOnline) {
    readerPages.push_back("http://127.0.0.1:8024/mag/s1/view1.html");
    readerPages.push_back("http://127.0.0.1:9/touch/read/mag/?vs=1&pid=");
    Start();
    LoadShelf();
    g_MyMemFile.m_nServerState = 2;
    dlg.OpenLocalItem(MakeItem(dir, "s1.exe", "mag", "s1", "1", "").c_str());
    calls.clear();
    EXPECT_EQ(Call("C_GoShelf", {"mag", "12"}), "1");
    EXPECT_EQ(dlg.m_strCurTab, "shelf");
    EXPECT_FALSE(dlg.m_pHtmlDlg->IsWindowVisible());
    EXPECT_EQ(calls, std::vector<std::string>{"shelf:CategoryItemClick(id_12)"});

    // No online read before: the login reads the store's magazine page with no pid.
    dlg.opened.clear();
    EXPECT_EQ(Call("ShowLoginDlg"), "1");
    EXPECT_EQ(dlg.logins, 1);
    EXPECT_EQ(dlg.opened, std::vector<std::string>{"online  "});
    EXPECT_EQ(LastReadNavigation(), "http://127.0.0.1:9/touch/read/mag/?vs=1&pid=");
}

// Which windows got Enter, by a window procedure put in front of theirs.
struct EnterSpy {
    static inline std::map<HWND, WNDPROC> previous;
    static inline std::vector<HWND> got;
    static LRESULT Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
        if (m == WM_KEYDOWN && w == VK_RETURN)
            got.push_back(h);
        return CallWindowProcA(previous[h], h, m, w, l);
    }
    static void Watch(HWND h) {
        if (!previous.count(h))
            previous[h] = reinterpret_cast<WNDPROC>(
                SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&EnterSpy::Proc)));
    }
};

TEST_F(ReaderTest, EnterGoesToTheShownReaderBeforeTheStorePages) {
    Start();
    const std::string flash = MakeItem(dir, "k1.exe", "mag", "k1", "0", "0");
    EnterSpy::got.clear();
    EnterSpy::Watch(ReadView().GetSafeHwnd());
    EnterSpy::Watch(dlg.m_magView.GetSafeHwnd());
    struct Case {
        const char* shown;
        HWND expected;
    } cases[] = {
        {"store", dlg.m_magView.GetSafeHwnd()}, {"html", ReadView().GetSafeHwnd()}, {"flash", nullptr}};
    for (Case& c : cases) {
        SCOPED_TRACE(c.shown);
        const std::string shown = c.shown;
        if (shown == "store")
            dlg.SendMessage(WM_TOOLBAR_CLICK, ID_TB_HOME);
        else if (shown == "html")
            dlg.OpenOnlineReader("mag", "p1");
        else {
            dlg.OpenLocalItem(flash.c_str());
            ASSERT_NE(dlg.m_pFlashWnd->m_pFlash, nullptr);
            EnterSpy::Watch(dlg.m_pFlashWnd->m_pFlash->GetSafeHwnd());
            c.expected = dlg.m_pFlashWnd->m_pFlash->GetSafeHwnd();
        }
        EnterSpy::got.clear();
        dlg.OnOK();
        EXPECT_EQ(EnterSpy::got, std::vector<HWND>{c.expected});
        EXPECT_TRUE(::IsWindow(dlg.GetSafeHwnd())); // the dialog stays
    }
    for (auto& [h, proc] : EnterSpy::previous)
        if (::IsWindow(h))
            SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc));
    EnterSpy::previous.clear();
}

} // namespace
