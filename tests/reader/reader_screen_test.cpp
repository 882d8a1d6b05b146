// The main window's HTML reading window on the real engine under Xvfb: an item package as the
// replacement store makes it, opened by the local launcher, its reading page and pictures served
// from memory by the local server, its first page painted, the next one after a turn. The
// screenshots go to the build folder.
#include "app/HtmlVelkorsDlg.h"
#include "contentserver/MyMemFile.h"
#include "contentserver/ServerHost.h"
#include "foundation/AppPathInfo.h"
#include "net/AppMessages.h"
#include "platform/kernel/CodePage.h"
#include "platform/shell/TrayHost.h"
#include "platform/web/WebKitBrowser.h"
#include "res/resource.h"
#include "tests/gtk/GtkScreen.h"
#include "tests/support/DataRoot.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/TestFiles.h"

#include <filesystem>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The window without the store's downloads and the update check; the local server is real.
class ReaderDlg : public CHtmlVelkorsDlg {
protected:
    void StartCategoryLists() override {}
    void StartUpdates() override {}
};

// A pixel of a screenshot, as 0xRRGGBB.
uint32_t PixelAt(cairo_surface_t* s, int x, int y) {
    cairo_surface_flush(s);
    auto* row = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(s) +
                                                  y * cairo_image_surface_get_stride(s));
    return row[x] & 0xFFFFFF;
}

bool Near(uint32_t a, uint32_t b, int tolerance = 12) {
    for (int shift : {0, 8, 16}) {
        int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
        if (d > tolerance || d < -tolerance)
            return false;
    }
    return true;
}

class ReaderOnScreen : public gtkscreen::ScreenTest {
protected:
    void SetUp() override {
        gtkscreen::ScreenTest::SetUp();
        previousTray = afxshell::SetTrayHost(&tray);
        setenv("KESTRIN_STORE", "http://127.0.0.1:9", 1);
        UseTestDataRoot(dir);
        // The strip's skin, as the build made it.
        fs::create_directories(dir.sub("ExeFiles/skin_0"));
        for (const auto& e : fs::directory_iterator(fs::path(PROJECT_BINARY_DIR) / "res" / "skin"))
            fs::copy(e.path(), dir.sub("ExeFiles/skin_0/" + e.path().filename().string()));
        CVorHtmlView::SetBrowserFactory([](HWND h) -> std::unique_ptr<afxweb::IBrowserControl> {
            return afxweb::CreateWebKitBrowser(h);
        });
        g_nServerPort = PeerProcess::FreePort();
    }
    void TearDown() override {
        if (::IsWindow(dlg.GetSafeHwnd()))
            dlg.DestroyWindow();
        g_pMainDlg.Clear();
        g_MyMemFile.RemoveAll();
        CVorHtmlView::SetBrowserFactory([](HWND) { return std::unique_ptr<afxweb::IBrowserControl>(); });
        afxshell::SetTrayHost(previousTray);
        unsetenv("KESTRIN_STORE");
        gtkscreen::ScreenTest::TearDown();
    }

    // The store's package of one of its HTML items, made by the store's own code.
    std::string StorePackage(const std::string& pid) {
        const std::string out = dir.sub(pid + ".exe");
        std::string cmd =
            std::string(KESTRIN_PYTHON " -c \"import sys; sys.path.insert(0, '") + PROJECT_SOURCE_DIR +
            "/tools/store'); import kestrin_store as k; item = next(i for i in k.make_items() if "
            "i['pid'] == '" +
            pid + "'); open('" + out + "', 'wb').write(k.item_package(item))\" 2>&1";
        int status = -1;
        std::string said = RunCommand(cmd, &status);
        EXPECT_EQ(status, 0) << said;
        return dir.win() + pid + ".exe";
    }
    CString Eval(const char* expr) {
        afxweb::IBrowserControl* b = dlg.m_pHtmlDlg->m_view.GetBrowser();
        CString r;
        if (!b || !b->HasDocument() || !b->InvokeScript("eval", {CString(expr)}, &r))
            return CString("(no answer)");
        return r;
    }
    // The shown page picture's rectangle on the screen, once the picture has loaded.
    bool PictureRect(RECT& r, const char* name) {
        const std::string want = std::string("/") + name;
        CString info =
            Eval("(function(){var i=document.getElementById('page');"
                 "if(!i.complete||!i.naturalWidth)return '';var b=i.getBoundingClientRect();"
                 "return i.src+' '+Math.round(b.left)+' '+Math.round(b.top)+' '+Math.round(b.right)+' '+"
                 "Math.round(b.bottom);})()");
        char src[512] = {};
        int l = 0, t = 0, rr = 0, bb = 0;
        if (std::sscanf(info.GetString(), "%511s %d %d %d %d", src, &l, &t, &rr, &bb) != 5)
            return false;
        if (!std::string(src).ends_with(want) || rr - l < 100)
            return false;
        RECT view{};
        ::GetWindowRect(dlg.m_pHtmlDlg->m_view.GetSafeHwnd(), &view);
        r = RECT{view.left + l, view.top + t, view.left + rr, view.top + bb};
        return true;
    }
    // Shoots page n of item pid until its title band and its own paper are on the screen. The
    // paper is the page's, not merely another than before: after quick turns the screen can still
    // show the page the reader has just left.
    void ShootPage(const std::string& pid, int n, const char* shot) {
        const std::string name = "p" + std::to_string(n) + ".jpg";
        RECT pic{};
        EXPECT_TRUE(gtkscreen::Until([&] { return PictureRect(pic, name.c_str()); }, 20s))
            << Eval("document.body.innerHTML");
        uint32_t want = 0;
        EXPECT_TRUE(StorePagePaper(KESTRIN_PYTHON, PROJECT_SOURCE_DIR, pid, n, &want))
            << "the store's code did not run";
        const std::string path = XvfbDisplay::ShotPath(shot);
        uint32_t band = 0, below = 0;
        bool painted = gtkscreen::Until(
            [&] {
                Settle();
                cairo_surface_t* s = gtkscreen::Shot(pic, path);
                if (!s)
                    return false;
                int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
                // The band across the top (an eighth of the picture's height is 8 of its 80 rows)
                // is dark; the paper below it is the page's.
                band = PixelAt(s, w / 2, h / 40);
                below = PixelAt(s, w / 20, h / 6);
                cairo_surface_destroy(s);
                return !Near(band, 0xE1E1E1) && !Near(band, below, 40) && Near(below, want);
            },
            20s);
        if (!painted) {
            RECT screen{0, 0, 1024, 768};
            if (cairo_surface_t* s = gtkscreen::Shot(screen, path + ".screen.png"))
                cairo_surface_destroy(s);
        }
        char colours[96];
        std::snprintf(colours, sizeof colours, "band %06x, paper %06x where page %d's is %06x", band, below,
                      n, want);
        EXPECT_TRUE(painted) << colours << "; see " << path;
    }

    TempDir dir{"kestrin_reader_screen_"};
    afxshell::HeadlessTrayHost tray;
    afxshell::ITrayHost* previousTray = nullptr;
    ReaderDlg dlg;
};

TEST_F(ReaderOnScreen, AStoreItemIsReadFromTheLocalServerAndTurnsItsPages) {
    const std::string package = StorePackage("m1");
    ASSERT_TRUE(dlg.Create(IDD_HTMLVELKORS_DIALOG));
    ASSERT_TRUE(g_MyMemFile.IsServerRunning()) << "the local server did not start";
    ASSERT_NE(dlg.m_pHtmlDlg->m_view.GetBrowser(), nullptr) << "no engine";

    dlg.OpenLocalItem(package.c_str());
    ASSERT_TRUE(dlg.m_pHtmlDlg->IsWindowVisible());
    CString start;
    start.Format("http://127.0.0.1:%d/mag/m1/view2.html", g_nServerPort);
    ASSERT_TRUE(gtkscreen::Until([&] { return Eval("location.href") == start; }, 20s))
        << Eval("location.href");
    EXPECT_EQ(Eval("currentPage()"), "1");
    ShootPage("m1", 1, "reader_html_page.png");
    // The whole reading window, strip and all, for the eye.
    RECT window{};
    ::GetWindowRect(dlg.m_pHtmlDlg->GetSafeHwnd(), &window);
    if (cairo_surface_t* s = gtkscreen::Shot(window, XvfbDisplay::ShotPath("reader_html_window.png")))
        cairo_surface_destroy(s);

    // The page turner's key, as the person at the screen presses it.
    ASSERT_EQ(
        Eval("(document.dispatchEvent(new KeyboardEvent('keydown', {key: 'ArrowRight'})), currentPage())"),
        "2");
    ShootPage("m1", 2, "reader_html_page2.png");
    EXPECT_TRUE(Eval("document.getElementById('counter').textContent").Find("2 / ") >= 0);

    // The page's close: the reader goes and its page is blanked.
    Eval("window.external.C_Close()");
    EXPECT_FALSE(dlg.m_pHtmlDlg->IsWindowVisible());
    EXPECT_TRUE(
        gtkscreen::Until([&] { return Eval("String(document.getElementById('page'))") == "null"; }, 20s))
        << Eval("document.documentElement.outerHTML");
}

// The reading window the launcher shows is above the main window and has the keyboard: the page
// keys pressed on the keyboard turn its pages with no window given the focus by hand. Its Esc
// hides the program to the tray, itself with it; the tray icon brings both back, the reader
// above with the keys; closed, it gives the keyboard back to the main window.
TEST_F(ReaderOnScreen, TheShownReaderHasTheKeysAndGoesToTheTrayAndBackWithTheMainWindow) {
    const std::string package = StorePackage("m1");
    ASSERT_TRUE(dlg.Create(IDD_HTMLVELKORS_DIALOG));
    ASSERT_NE(dlg.m_pHtmlDlg->m_view.GetBrowser(), nullptr) << "no engine";
    dlg.SendMessage(WM_TOOLBAR_CLICK, ID_TB_MY_BOOK);
    HWND main = dlg.GetSafeHwnd(), reader = dlg.m_pHtmlDlg->GetSafeHwnd();
    const unsigned long mainXid = gtkscreen::XidOf(*m_presenter, main);
    dlg.OpenLocalItem(package.c_str());
    const unsigned long readerXid = gtkscreen::XidOf(*m_presenter, reader);
    ASSERT_TRUE(gtkscreen::Until([&] { return Eval("currentPage()") == "1"; }, 20s)) << Eval("location.href");
    ShootPage("m1", 1, "reader_keys_page1.png");
    auto holdsTheKeys = [&] {
        return GetActiveWindow() == reader && gtkscreen::XActive(readerXid) &&
               gtkscreen::XAbove(readerXid, mainXid);
    };
    EXPECT_TRUE(gtkscreen::Until(holdsTheKeys, 10s)) << "the reader is not above with the keyboard";
    auto press = [&](const char* key, const char* page) {
        return gtkscreen::Command(std::string("xdotool key ") + key) &&
               gtkscreen::Until([&] { return Eval("currentPage()") == page; }, 10s);
    };
    EXPECT_TRUE(press("Next", "2")) << "PageDown: page " << Eval("currentPage()");
    EXPECT_TRUE(press("Right", "3")) << "Right: page " << Eval("currentPage()");
    EXPECT_TRUE(press("Prior", "2")) << "PageUp: page " << Eval("currentPage()");
    ShootPage("m1", 2, "reader_keys_page2.png");

    // Esc is a dialog key: the program's modal loop gives it to the reading window's dialog.
    ASSERT_TRUE(gtkscreen::Command("xdotool key Escape"));
    EXPECT_TRUE(gtkscreen::ModalUntil(
        main, [&] { return !::IsWindowVisible(main) && !::IsWindowVisible(reader); }, 10s))
        << "Esc left the main window " << ::IsWindowVisible(main) << ", the reader "
        << ::IsWindowVisible(reader);
    // The desktop's word that the reader has the keyboard (the active window property) can still
    // be the one from before it went; the focus events the X server sends the window are not.
    GtkWindow* readerWindow = m_presenter->NativeWindow(reader);
    EXPECT_TRUE(gtkscreen::Until([&] {
        return !gtk_widget_get_mapped(GTK_WIDGET(readerWindow)) &&
               !gtk_window_has_toplevel_focus(readerWindow);
    })) << "the reader stays on the screen";
    ASSERT_TRUE(tray.Click(main, IDR_TRAY_MENU, WM_LBUTTONDBLCLK));
    EXPECT_TRUE(gtkscreen::Until([&] { return ::IsWindowVisible(main) && ::IsWindowVisible(reader); }, 10s));
    EXPECT_TRUE(
        gtkscreen::Until([&] { return holdsTheKeys() && gtk_window_has_toplevel_focus(readerWindow); }, 10s))
        << "the reader came back without the keyboard";
    EXPECT_TRUE(press("Next", "3")) << "PageDown after the tray: page " << Eval("currentPage()");
    ShootPage("m1", 3, "reader_keys_after_tray.png");

    // Closed from its strip: the main window has the keyboard again, with the shelf shown.
    RECT strip{};
    ::GetWindowRect(dlg.m_pHtmlDlg->m_view.m_tool.GetSafeHwnd(), &strip);
    ASSERT_TRUE(gtkscreen::Command("xdotool mousemove " + std::to_string(strip.left + 35) + " " +
                                   std::to_string(strip.top + 55) + " click 1"));
    EXPECT_TRUE(gtkscreen::Until([&] { return !::IsWindowVisible(reader); }, 10s));
    EXPECT_TRUE(
        gtkscreen::Until([&] { return GetActiveWindow() == main && gtkscreen::XActive(mainXid); }, 10s))
        << "the main window did not get the keyboard back";
    EXPECT_TRUE(dlg.m_shelfView.IsWindowVisible());
}

// The strip's colour at a point of the screen, as the X server has it.
uint32_t ScreenPixel(int x, int y, const std::string& path) {
    RECT r{x, y, x + 1, y + 1};
    cairo_surface_t* s = gtkscreen::Shot(r, path);
    if (!s)
        return 0x1000000;
    uint32_t p = PixelAt(s, 0, 0);
    cairo_surface_destroy(s);
    return p;
}

TEST_F(ReaderOnScreen, TheStripLiesOverThePageUntilThePageHidesItAndItsCloseButtonClosesTheReader) {
    const std::string package = StorePackage("b2");
    ASSERT_TRUE(dlg.Create(IDD_HTMLVELKORS_DIALOG));
    ASSERT_NE(dlg.m_pHtmlDlg->m_view.GetBrowser(), nullptr) << "no engine";
    dlg.SendMessage(WM_TOOLBAR_CLICK, ID_TB_MAKE_BOOK);
    dlg.OpenLocalItem(package.c_str());
    ShootPage("b2", 1, "reader_strip_page.png");
    const std::string probe = XvfbDisplay::ShotPath("reader_strip_probe.png");
    // Below the close button, inside the strip: the skin's dark band, not the page's grey.
    auto stripShown = [&] {
        Settle();
        return !Near(ScreenPixel(300, 60, probe), 0xE1E1E1, 6);
    };
    EXPECT_TRUE(gtkscreen::Until(stripShown, 10s));

    EXPECT_EQ(Eval("String(window.external.C_HideTool())"), "true");
    EXPECT_TRUE(gtkscreen::Until([&] { return !stripShown(); }, 10s));
    dlg.SendMessage(WM_TOOLBAR_CLICK, ID_TB_READ);
    EXPECT_TRUE(gtkscreen::Until(stripShown, 10s));

    // The person at the screen clicks the strip's close button: back to the book store.
    RECT strip{};
    ::GetWindowRect(dlg.m_pHtmlDlg->m_view.m_tool.GetSafeHwnd(), &strip);
    const std::string at = std::to_string(strip.left + 35) + " " + std::to_string(strip.top + 55);
    ASSERT_TRUE(gtkscreen::Command("xdotool mousemove " + at + " click 1"));
    EXPECT_TRUE(gtkscreen::Until([&] { return !dlg.m_pHtmlDlg->IsWindowVisible(); }, 10s));
    EXPECT_EQ(dlg.m_strCurTab, "book");
    EXPECT_TRUE(dlg.m_bookView.IsWindowVisible());
}

// Online reading: the store's own reading page of an item, in the reading window under its strip.
TEST_F(ReaderOnScreen, OnlineReadingShowsTheStoresReadingPageBelowTheStrip) {
    PeerProcess store;
    ASSERT_TRUE(
        store.Start({KESTRIN_PYTHON, std::string(PROJECT_SOURCE_DIR) + "/tools/store/kestrin_store.py",
                     "--port", "0", "--watch-stdin"}));
    const std::string host = "http://127.0.0.1:" + std::to_string(store.Port());
    setenv("KESTRIN_STORE", host.c_str(), 1);
    ASSERT_TRUE(dlg.Create(IDD_HTMLVELKORS_DIALOG));
    ASSERT_NE(dlg.m_pHtmlDlg->m_view.GetBrowser(), nullptr) << "no engine";

    dlg.OpenOnlineReader("mag", "m2");
    ASSERT_TRUE(dlg.m_pHtmlDlg->IsWindowVisible());
    const CString address((host + "/touch/read/mag/?vs=1&pid=m2").c_str());
    ASSERT_TRUE(gtkscreen::Until([&] { return Eval("location.href") == address; }, 20s))
        << Eval("location.href");
    // The item's name is the page's title, and the page shows its first page picture.
    const CString name(AfxUtf8ToAnsi("杂志第2号").c_str());
    EXPECT_TRUE(gtkscreen::Until([&] { return Eval("document.title") == name; }, 20s))
        << Eval("document.documentElement.outerHTML+' h1 at '+JSON.stringify(document.querySelector('h1')&&"
                "document.querySelector('h1').getBoundingClientRect())");
    RECT pic{};
    EXPECT_TRUE(gtkscreen::Until([&] { return PictureRect(pic, "p1.jpg"); }, 20s))
        << Eval("document.body.innerHTML");

    // Below the strip the screen shows the page's own background, wherever the page does not
    // draw its pictures; the strip lies over the band above.
    const CString background =
        Eval("(function(){var c=getComputedStyle(document.body).backgroundColor.match(/\\d+/g);"
             "return c?String((c[0]<<16)|(c[1]<<8)|(c[2]|0)):'';})()");
    ASSERT_FALSE(background.IsEmpty());
    const uint32_t paper = static_cast<uint32_t>(std::stoul(background.GetString()));
    EXPECT_FALSE(Near(paper, 0xFFFFFF, 8)) << "the page has no colour of its own";
    EXPECT_FALSE(Near(paper, 0xE1E1E1, 8)) << "the page has the closed reader's colour";
    RECT view{};
    ::GetWindowRect(dlg.m_pHtmlDlg->m_view.GetSafeHwnd(), &view);
    const std::string path = std::string(PROJECT_BINARY_DIR) + "/reader_online_page.png";
    bool shown = gtkscreen::Until(
        [&] {
            Settle();
            cairo_surface_t* s = gtkscreen::Shot(view, path);
            if (!s)
                return false;
            const int w = cairo_image_surface_get_width(s);
            // Left of the picture, below the strip and the page's head; inside the strip; and the
            // dark band across the top of the page picture.
            const uint32_t below = PixelAt(s, 4, HTML_TOOL_HEIGHT + 60), strip = PixelAt(s, w / 2, 60),
                           band = PixelAt(s, (pic.left + pic.right) / 2 - view.left,
                                          pic.top - view.top + (pic.bottom - pic.top) / 40);
            cairo_surface_destroy(s);
            return Near(below, paper, 6) && !Near(strip, paper, 6) && !Near(band, paper, 40) &&
                   !Near(band, 0xFFFFFF, 40);
        },
        20s);
    EXPECT_TRUE(shown) << "see " << path;
    EXPECT_GT(pic.top - view.top, HTML_TOOL_HEIGHT) << "the page picture lies under the strip";
}

} // namespace
