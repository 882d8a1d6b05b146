// The Flash reader end to end under Xvfb: an item package downloaded from the replacement store,
// loaded into memory files as the launcher loads it, the reader movie deployed from the
// program's own resources, the real player page with Ruffle served by the local server, and the
// window on the real engine. The test is the reader at the screen: it looks at the pixels, clicks
// with xdotool, and waits on what it means (a page's colour on screen, the store's request log,
// the event reaching the main window).
#include "app/FlashPlayerWnd.h"
#include "app/PackInfo.h"
#include "contentserver/MyMemFile.h"
#include "contentserver/ServerHost.h"
#include "library/UserInfo.h"
#include "net/AppMessages.h"
#include "net/MyHttp.h"
#include "platform/kernel/FileSys.h"
#include "platform/web/WebKitBrowser.h"
#include "tests/gtk/GtkScreen.h"
#include "tests/net/StorePeer.h"
#include "tests/support/DataRoot.h"
#include "tests/support/RecordingWindow.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TestFiles.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <filesystem>
#include <map>

namespace {

using namespace std::chrono_literals;

// The movie's stage is the window: 1000 by 700, buttons where the movie lays them out at that
// size (actions at the top right, page turning around the bottom bar's centre).
constexpr int kWidth = 1000, kHeight = 700;
constexpr POINT kBuy{652, 24}, kClose{940, 24}, kPrevious{kWidth / 2 - 120, kHeight - 28};
// Loaded machines take their time over the first start of the engine and the player.
constexpr auto kWait = 120s;

struct Colour {
    int r, g, b;
};

// The buttons' shades with the pointer over them: the purchase's orange and the others' grey.
constexpr Colour kBuyHover{0xF5, 0x9E, 0x47}, kButtonHover{0x60, 0x63, 0x6B};

bool Near(const Colour& a, const Colour& b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

// The colour that most of a page picture is: its paper.
Colour PaperOf(const CMemFileEntry& entry) {
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
    gdk_pixbuf_loader_write(loader, entry.pData, entry.dwSize, nullptr);
    gdk_pixbuf_loader_close(loader, nullptr);
    GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
    std::map<int, int> counts;
    if (pixbuf) {
        const int w = gdk_pixbuf_get_width(pixbuf), h = gdk_pixbuf_get_height(pixbuf);
        const int n = gdk_pixbuf_get_n_channels(pixbuf), stride = gdk_pixbuf_get_rowstride(pixbuf);
        const guchar* px = gdk_pixbuf_read_pixels(pixbuf);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const guchar* p = px + y * stride + x * n;
                ++counts[(p[0] / 8) << 16 | (p[1] / 8) << 8 | (p[2] / 8)];
            }
    }
    g_object_unref(loader);
    int best = 0, most = -1;
    for (auto& [key, count] : counts)
        if (count > most) {
            most = count;
            best = key;
        }
    return Colour{(best >> 16) * 8 + 4, ((best >> 8) & 0xFF) * 8 + 4, (best & 0xFF) * 8 + 4};
}

// How many pixels of a shot are near the colour.
int CountNear(cairo_surface_t* s, const Colour& c, int tolerance) {
    cairo_surface_flush(s);
    const int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
    int n = 0;
    for (int y = 0; y < h; y += 2) {
        auto* row = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(s) +
                                                      y * cairo_image_surface_get_stride(s));
        for (int x = 0; x < w; x += 2) {
            Colour p{static_cast<int>(row[x] >> 16 & 0xFF), static_cast<int>(row[x] >> 8 & 0xFF),
                     static_cast<int>(row[x] & 0xFF)};
            if (Near(p, c, tolerance))
                ++n;
        }
    }
    return n;
}

class FlashEndToEnd : public WithStore<gtkscreen::ScreenTest> {
protected:
    void SetUp() override {
        gtkscreen::ScreenTest::SetUp();
        UseTestDataRoot(dir);
        CShockwaveflash1::SetBrowserFactory([](HWND h) -> std::unique_ptr<afxweb::IBrowserControl> {
            return afxweb::CreateWebKitBrowser(h);
        });
        savedPort = g_nServerPort;
        const int port = LocalServerPort();
        ASSERT_NE(port, 0) << "the local server does not listen";
        g_nServerPort = port;

        // The reader movie comes from the program's resources, as the start-up deploys it.
        CPackInfo pack;
        pack.Load("");
        pack.DeployComponents();
        ASSERT_NE(GetFileAttributesA(g_AppPathInfo.GetReadSwfPath()), INVALID_FILE_ATTRIBUTES);
        std::string player;
        ASSERT_TRUE(AfxUnmapPath(KESTRIN_PLAYER_DIR, player)) << KESTRIN_PLAYER_DIR;
        PublishReaderPlayer(CString(player + "\\"));

        // The item as the shelf has it: its package downloaded from the store, then loaded the
        // way the launcher loads it.
        CString package = CString(dir.win() + "f1.exe");
        CMyHttp http;
        ASSERT_EQ(MYHTTP_OK,
                  http.DownloadFile(CString(Base() + "/packages/f1.exe"), nullptr, 0, "", package));
        const std::string prefix = std::string(MEMFILE_ROOT) + "mag\\f1\\";
        EnterCriticalSection(&g_csMemFile);
        g_MyMemFile.RemoveAll();
        LeaveCriticalSection(&g_csMemFile);
        ASSERT_TRUE(g_MyMemFile.LoadPackage(package, MemFileWiden(prefix.c_str())));
        for (int n = 1; n <= 2; ++n) {
            std::string name = prefix + "p" + std::to_string(n) + ".jpg";
            CMemFileEntry* page = g_MyMemFile.FindFile(MemFileWiden(name.c_str()));
            ASSERT_NE(page, nullptr) << name;
            paper[n] = PaperOf(*page);
        }

        // A reader with an account whose purchases the store takes.
        g_UserInfo.userid = "1002";
        g_UserInfo.password = "secret";
        g_UserInfo.username = "poor";
        env.Set("KESTRIN_STORE", Base());
        Fetch("/_control/reset");

        mainWnd = recorder.Make(WS_POPUP, RECT{0, 0, 10, 10});
        recorder.SetAnswer([this](HWND h, UINT m, WPARAM w, LPARAM l) -> std::optional<LRESULT> {
            if (h == mainWnd && m == WM_APP_EVENT)
                events.push_back({w, l});
            return std::nullopt;
        });
        g_pMainDlg.Set(mainWnd);
        ASSERT_TRUE(
            wnd.CreateEx(0, nullptr, "flash", WS_POPUP | WS_VISIBLE, 0, 0, kWidth, kHeight, nullptr, 0));
        Settle();
    }
    void TearDown() override {
        wnd.CloseMovie();
        wnd.DestroyWindow();
        g_pMainDlg.Clear();
        DestroyWindow(mainWnd);
        CShockwaveflash1::SetBrowserFactory([](HWND) { return std::unique_ptr<afxweb::IBrowserControl>(); });
        CShockwaveflash1::SetPlayerPage("");
        CShockwaveflash1::SetMovieAddressMap(nullptr);
        EnterCriticalSection(&g_csMemFile);
        g_MyMemFile.RemoveAll();
        LeaveCriticalSection(&g_csMemFile);
        g_nServerPort = savedPort;
        gtkscreen::ScreenTest::TearDown();
    }

    // The process's server, on a free port: 8024 may be taken on the machine that runs this. 0
    // when it does not listen.
    static int LocalServerPort() {
        static int port = [] {
            const int saved = g_nServerPort;
            g_nServerPort = PeerProcess::FreePort();
            const int listening = g_MyMemFile.StartServer() ? g_nServerPort : 0;
            g_nServerPort = saved;
            return listening;
        }();
        return port;
    }

    std::string Fetch(const std::string& path) {
        CMyHttp http;
        CString body;
        return http.GetUrl(CString(Base() + path), nullptr, 0, "", body) == MYHTTP_OK ? body.str()
                                                                                      : "<failed>";
    }

    // The window's pixels now; null when the shot failed.
    cairo_surface_t* Shot(const std::string& path) {
        Settle();
        return gtkscreen::Shot(gtkscreen::XGeometry(*m_presenter, wnd.GetSafeHwnd()), path);
    }

    // Looks at the screen, letting the engine run in between, until the check holds of a shot;
    // the last shot stays at path.
    template <class Check> bool ScreenShows(const std::string& path, Check&& check) {
        auto deadline = std::chrono::steady_clock::now() + kWait;
        for (;;) {
            cairo_surface_t* s = Shot(path);
            bool held = s && check(s);
            if (s)
                cairo_surface_destroy(s);
            if (held)
                return true;
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            gtkscreen::Until([] { return false; }, 300ms);
        }
    }

    // Page n fills the page area: its paper is the most of the shot, and more than the others'.
    bool PageShown(cairo_surface_t* s, int n) {
        const int mine = CountNear(s, paper[n], 10);
        const int other = CountNear(s, paper[n == 1 ? 2 : 1], 10);
        const int area = (kWidth / 2) * (kHeight / 2);
        return mine > area / 5 && mine > 4 * other;
    }

    // A person's click: the pointer goes to the button, and once the movie shows the button
    // under it (its hover shade, beside the label), the button is pressed and released.
    void Click(POINT at, const Colour& hover) {
        RECT r = gtkscreen::XGeometry(*m_presenter, wnd.GetSafeHwnd());
        const std::string where = std::to_string(r.left + at.x) + " " + std::to_string(r.top + at.y);
        ASSERT_TRUE(gtkscreen::Command("xdotool mousemove " + where));
        EXPECT_TRUE(
            ScreenShows(ShotPath("flash_reader_hover.png"),
                        [&](cairo_surface_t* s) {
                            cairo_surface_flush(s);
                            auto* row = reinterpret_cast<const uint32_t*>(
                                cairo_image_surface_get_data(s) + at.y * cairo_image_surface_get_stride(s));
                            const uint32_t px = row[at.x - 36];
                            return Near(Colour{static_cast<int>(px >> 16 & 0xFF),
                                               static_cast<int>(px >> 8 & 0xFF), static_cast<int>(px & 0xFF)},
                                        hover, 8);
                        }))
            << "the movie never showed the pointer over the button at " << at.x << "," << at.y;
        ASSERT_TRUE(gtkscreen::Command("xdotool click 1"));
    }

    std::string ShotPath(const char* name) { return XvfbDisplay::ShotPath(name); }

    // What the player page says of itself, for a failure's message.
    std::string PlayerState() {
        afxweb::IBrowserControl* b = wnd.m_pFlash ? wnd.m_pFlash->GetControl()->Browser() : nullptr;
        if (!b)
            return "no control";
        CString r;
        bool ran = b->InvokeScript(
            "eval",
            {"var p = document.querySelector('ruffle-player'); var c = p && "
             "p.shadowRoot && p.shadowRoot.querySelector('canvas'); 'player ' + (p ? "
             "'there, ready ' + p.readyState + ', ' + p.clientWidth + 'x' + "
             "p.clientHeight : 'missing') + ', canvas ' + (c ? c.width + 'x' + c.height "
             ": 'none') + ', top bar ' + (c && c.getContext('2d') ? Array.from(c.getContext('2d')"
             ".getImageData(500, 24, 1, 1).data).join(',') : 'unread') + ', callbacks ' + (p ? typeof "
             "p.F_OpenMag : 'none') + ', host link ' + typeof window.hostFlashCall + ', visibility ' + "
             "document.visibilityState + ', focus ' + "
             "(document.activeElement ? document.activeElement.tagName : 'none')"},
            &r);
        return b->LocationUrl().str() + (b->HasDocument() ? " shown: " : " not shown: ") +
               (ran ? r.str() : "no script");
    }

    TempDir dir{"kestrin_flash_e2e_"};
    ScopedEnv env;
    testwin::Recorder recorder;
    HWND mainWnd = nullptr;
    int savedPort = 0;
    std::vector<std::pair<WPARAM, LPARAM>> events;
    CFlashPlayerWnd wnd;
    std::map<int, Colour> paper;
};

TEST_F(FlashEndToEnd, TheFirstPageShowsAndEnterAndTheButtonsTurnThePages) {
    wnd.OpenMovie("mag", "f1", "", 1, FlashStartFile("0"));
    ASSERT_NE(wnd.m_pFlash, nullptr);
    ASSERT_NE(wnd.m_pFlash->GetControl()->Browser(), nullptr) << "no engine";
    ASSERT_TRUE(
        ScreenShows(ShotPath("flash_reader_page1.png"), [&](cairo_surface_t* s) { return PageShown(s, 1); }))
        << "the first page never showed; see flash_reader_page1.png; " << PlayerState();

    // The main window's OK key: Enter, passed on to the movie, turns the page.
    wnd.SendEnterKey();
    EXPECT_TRUE(
        ScreenShows(ShotPath("flash_reader_page2.png"), [&](cairo_surface_t* s) { return PageShown(s, 2); }))
        << "Enter did not turn to the second page; see flash_reader_page2.png; " << PlayerState();

    Click(kPrevious, kButtonHover);
    EXPECT_TRUE(ScreenShows(ShotPath("flash_reader_back.png"), [&](cairo_surface_t* s) {
        return PageShown(s, 1);
    })) << "a click on the previous-page button did not turn back";
}

TEST_F(FlashEndToEnd, APurchaseFromTheMovieReachesTheStoreAndItsAnswerShowsThenCloseEndsTheReading) {
    wnd.OpenMovie("mag", "f1", "", 1, FlashStartFile("0"));
    ASSERT_NE(wnd.m_pFlash, nullptr);
    ASSERT_TRUE(ScreenShows(ShotPath("flash_reader_page1.png"), [&](cairo_surface_t* s) {
        return PageShown(s, 1);
    })) << PlayerState();

    Click(kBuy, kBuyHover);
    EXPECT_TRUE(gtkscreen::Until(
        [&] {
            return Fetch("/_control/log")
                       .find("magBuy/?vs=1&uid=1002&pwd=secret&type=mag&act=client&username=poor"
                             "&pid=f1") != std::string::npos;
        },
        kWait))
        << Fetch("/_control/log");
    // The store's "1": the movie's success banner, in its green.
    const Colour green{0x2E, 0x7D, 0x32};
    EXPECT_TRUE(ScreenShows(ShotPath("flash_reader_bought.png"), [&](cairo_surface_t* s) {
        return CountNear(s, green, 24) > 400;
    })) << "the purchase's answer did not show; see flash_reader_bought.png";

    Click(kClose, kButtonHover);
    EXPECT_TRUE(gtkscreen::Until([&] { return !events.empty(); }, kWait));
    ASSERT_EQ(1u, events.size());
    EXPECT_EQ(static_cast<WPARAM>(EVT_CLOSE_FLASH), events[0].first);
    EXPECT_EQ(0, events[0].second);
}

} // namespace
