// The client's sizes under a window manager: the built program on a private Xvfb with openbox
// and a tray host that takes the top of the screen (so the work area is smaller than the screen),
// sized, maximized and restored by the manager itself (xdotool, wmctrl). After each step the
// window must be where the manager put it, no larger and no smaller, and the skin's frame must
// be painted on its last column and its last row. The user-mode switch must leave nothing of the
// old skin on the screen, both ways, and a restart must come up in the mode that was saved. Every
// step leaves its screenshot in the build folder as wm_<n>_<step>.png.
#include "tests/client/ClientFixture.h"

#include <cstdlib>

namespace {

using namespace clienttest;

constexpr auto kLimit = std::chrono::seconds(60);

// The main layout's places the tests look at: the views start below the caption band (111 rows in
// the start skin, 54 in the mode skins), whose left part holds the logo.
constexpr int kStartBand = 111, kModeBand = 54;

class ClientUnderWindowManager : public ClientTest {
protected:
    void SetUp() override {
        setenv("KESTRIN_TEST_WM", "openbox", 1);
        ClientTest::SetUp();
        unsetenv("KESTRIN_TEST_WM");
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(display.HasWindowManager());
        // A panel along the top that reserves its rows: the manager's work area leaves them out.
        ASSERT_TRUE(tray.Start({"trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel",
                                "--width", "200", "--heighttype", "pixel", "--height", "28", "--SetDockType",
                                "true", "--SetPartialStrut", "true", "--transparent", "false"},
                               false));
        ASSERT_TRUE(Until([&] { return WorkArea().h > 0 && WorkArea().h < 800; }, kLimit))
            << "the window manager never took the panel's rows out of its work area";
    }
    void TearDown() override {
        ClientTest::TearDown();
        tray.Stop();
    }

    // The manager's work area (_NET_WORKAREA of the root window).
    Box WorkArea() {
        Box b;
        std::string v =
            Output("DISPLAY=" + display.Name() + " xprop -root -notype _NET_WORKAREA 2>/dev/null");
        auto eq = v.find('=');
        if (eq == std::string::npos ||
            std::sscanf(v.c_str() + eq + 1, " %d, %d, %d, %d", &b.x, &b.y, &b.w, &b.h) != 4)
            return Box{};
        return b;
    }
    // The client's main window while it is shown: its one large window.
    std::optional<Box> MainWindow() {
        std::istringstream ids(X("search --onlyvisible --pid " + std::to_string(client)));
        for (std::string id; ids >> id;) {
            std::string g = X("getwindowgeometry --shell " + id);
            Box b{0, 0, 0, 0, id};
            auto field = [&](const char* key) {
                size_t at = g.find(std::string(key) + "=");
                return at == std::string::npos ? 0 : std::atoi(g.c_str() + at + std::strlen(key) + 1);
            };
            b.x = field("X");
            b.y = field("Y");
            b.w = field("WIDTH");
            b.h = field("HEIGHT");
            if (b.w > 600 && b.h > 350)
                return b;
        }
        return std::nullopt;
    }
    // Starts the client and waits until its window fills the work area and the store page has
    // shown itself; the window's place then, none when that never happens.
    std::optional<Box> StartFillingTheWorkArea() {
        StartClient();
        const Box work = WorkArea();
        if (!Until([&] { return MainWindowIs(work.x, work.y, work.w, work.h) && !Layouts().empty(); },
                   kLimit)) {
            ADD_FAILURE() << "the main window does not fill the work area " << work.w << "x" << work.h << "+"
                          << work.y << " at start with its page: " << Where();
            return std::nullopt;
        }
        return MainWindow();
    }
    bool MainWindowIs(int x, int y, int w, int h) {
        auto m = MainWindow();
        return m && m->x == x && m->y == y && m->w == w && m->h == h;
    }
    std::string Where() {
        auto m = MainWindow();
        return m ? std::to_string(m->x) + "," + std::to_string(m->y) + " " + std::to_string(m->w) + "x" +
                       std::to_string(m->h)
                 : std::string("no main window");
    }
    bool Tool(const std::string& line) {
        return std::system(("DISPLAY=" + display.Name() + " " + line + " >/dev/null 2>&1").c_str()) == 0;
    }
    std::string Shot(const std::string& step) {
        const std::string path =
            std::string(PROJECT_BINARY_DIR) + "/wm_" + std::to_string(++shots) + "_" + step + ".png";
        Tool("import -window root png24:" + path);
        return path;
    }
    // The colours the skin paints its outer border in, both looks: the first column of the edge
    // picture halves, below the caption band.
    std::set<std::string> BorderColours(const char* edge, int band) {
        const std::string png = std::string(PROJECT_BINARY_DIR) + "/res/skin/" + edge;
        cairo_surface_t* s = cairo_image_surface_create_from_png(png.c_str());
        const int half = cairo_image_surface_get_height(s) / 2;
        cairo_surface_destroy(s);
        return {PixelAt(png, 0, band + 4), PixelAt(png, 0, half + band + 4)};
    }
    // Waits until the frame shows its border on the window's last column and last row (sampled
    // along both), then leaves the step's screenshot.
    ::testing::AssertionResult FrameCoversWindow(const std::string& step, const char* edge, int band) {
        const auto border = BorderColours(edge, band);
        std::string shot, seen;
        bool covered = Until(
            [&] {
                auto m = MainWindow();
                if (!m)
                    return false;
                shot = Shot(step);
                const int right = m->x + m->w - 1, bottom = m->y + m->h - 1;
                for (int i = 1; i < 8; ++i) {
                    const std::string r = PixelAt(shot, right, m->y + band + (m->h - band) * i / 8);
                    const std::string b = PixelAt(shot, m->x + m->w * i / 8, bottom);
                    if (!border.count(r) || !border.count(b)) {
                        seen = "right edge " + r + ", bottom edge " + b;
                        return false;
                    }
                }
                return true;
            },
            std::chrono::seconds(20));
        if (covered)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << step << ": the frame does not reach the window's edges at "
                                             << Where() << " (" << seen << ", shot " << shot << ")";
    }

    int BandNow() const { return band; }
    static size_t Count(const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++n;
        return n;
    }

    PeerProcess tray;
    int shots = 0;
    int band = kStartBand;
};

TEST_F(ClientUnderWindowManager, FollowsTheManagersSizeMaximizeAndRestoreWithItsFrameOnTheEdges) {
    const Box work = WorkArea();
    auto main = StartFillingTheWorkArea();
    ASSERT_TRUE(main);
    EXPECT_TRUE(FrameCoversWindow("start", "win_edge3.png", kStartBand));

    // The manager's own resize is honoured; below the skin's smallest size (800 x 500 for the
    // start skin) it stops at that size; the manager's maximize fills the work area and no more,
    // and its restore goes back to the size before.
    const std::string maximize = "wmctrl -i -r " + main->id + " -b add,maximized_vert,maximized_horz",
                      restore = "wmctrl -i -r " + main->id + " -b remove,maximized_vert,maximized_horz",
                      resize = "xdotool windowsize " + main->id;
    const struct {
        const char* step;
        std::string command;
        int w, h;
    } steps[] = {
        {"resized", resize + " 1000 650", 1000, 650},
        {"smallest", resize + " 600 300", 800, 500},
        {"resized_again", resize + " 1000 650", 1000, 650},
        {"maximized", maximize, work.w, work.h},
        {"restored", restore, 1000, 650},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.step);
        ASSERT_TRUE(Tool(s.command)) << s.command;
        EXPECT_TRUE(Until([&] { return MainWindowIs(work.x, work.y, s.w, s.h); }, kLimit))
            << "after \"" << s.command << "\" the window is " << Where() << ", not " << s.w << "x" << s.h;
        EXPECT_TRUE(FrameCoversWindow(s.step, "win_edge3.png", kStartBand));
    }
}

// At the smallest size the skin allows, the store page takes the view's width, which is the
// window's less the frame's borders, and its login form lies whole inside it.
TEST_F(ClientUnderWindowManager, AtTheSmallestSizeTheStorePageKeepsItsLoginFormInTheView) {
    const Box work = WorkArea();
    auto main = StartFillingTheWorkArea();
    ASSERT_TRUE(main);
    ASSERT_TRUE(Tool("xdotool windowsize " + main->id + " 600 300"));
    ASSERT_TRUE(Until([&] { return MainWindowIs(work.x, work.y, 800, 500); }, kLimit)) << Where();
    std::map<std::string, std::string> last;
    EXPECT_TRUE(Until(
        [&] {
            last = Layouts().back();
            return last["view"] == "796";
        },
        kLimit))
        << "the page's view is " << last["view"] << " wide in an 800-wide window";
    for (const char* part : {"login-form", "login-name", "login-pass"}) {
        SCOPED_TRACE(part);
        auto box = ParseBox(last[part]);
        ASSERT_TRUE(box) << "the page did not show its login form";
        EXPECT_GE(box->x, 0);
        EXPECT_LE(box->x + box->w, 796) << "cut off at the right";
    }
    EXPECT_TRUE(FrameCoversWindow("smallest_store_page", "win_edge3.png", kStartBand));
}

// The store page's mode button switches the skins; the views then start right below the new,
// narrower caption band, so the rows the old band held show the page, both ways. A restart comes
// up in the mode that was saved, with its skin and the page of that mode.
TEST_F(ClientUnderWindowManager, TheModeSwitchLeavesNothingOfTheOldSkinAndARestartKeepsTheMode) {
    const Box work = WorkArea();
    auto main = StartFillingTheWorkArea();
    ASSERT_TRUE(main);
    // Rows of the start skin's band that the mode skins give to the page: beside the logo's
    // place, and under the start skin's close button at the right.
    const int row = main->y + kModeBand + 6, left = main->x + 10, right = main->x + main->w - 10;
    const std::string before = Shot("mode_start");
    const std::string oldLeft = PixelAt(before, left, row), oldRight = PixelAt(before, right, row);
    auto clickMode = [&] {
        auto layout = Layouts().back();
        auto box = ParseBox(layout["mode"]);
        ASSERT_TRUE(box) << "the page did not say where its mode button is";
        ASSERT_TRUE(Tool("xdotool mousemove " + std::to_string(main->x + 2 + box->cx()) + " " +
                         std::to_string(main->y + BandNow() + box->cy()) + " click 1"));
    };
    auto savedMode = [&](const char* mode) {
        return Until(
            [&] {
                return Output("cat " + root.sub("data") + "/*/kestrin4.0/Data/user.xml 2>/dev/null")
                           .find(std::string("<client_mode>") + mode + "</client_mode>") != std::string::npos;
            },
            kLimit);
    };
    band = kStartBand;
    for (const char* step : {"mode_enter", "mode_back"}) {
        SCOPED_TRACE(step);
        clickMode();
        band = kModeBand;
        ASSERT_TRUE(savedMode(step == std::string("mode_enter") ? "1" : "0")) << "the mode did not switch";
        std::string shot, l, r;
        EXPECT_TRUE(Until(
            [&] {
                shot = Shot(step);
                l = PixelAt(shot, left, row);
                r = PixelAt(shot, right, row);
                return l == r && l != oldLeft && r != oldRight;
            },
            std::chrono::seconds(20)))
            << "the rows below the new band show " << l << " and " << r << " (the old skin: " << oldLeft
            << " and " << oldRight << "), shot " << shot;
        EXPECT_TRUE(FrameCoversWindow(std::string(step) + "_frame",
                                      step == std::string("mode_enter") ? "win_edge.png" : "win_edge2.png",
                                      kModeBand));
    }
    // Into the mode once more, and the program ends and starts again: the saved mode comes up in its
    // own skin, with the store page of that mode.
    clickMode();
    ASSERT_TRUE(savedMode("1"));
    kill(client, SIGTERM);
    ASSERT_EQ(ExitStatus(kLimit), 0);
    const size_t enterPagesBefore = Count(StoreLog(), "/enter/magazine/");
    StartClient();
    ASSERT_TRUE(Until([&] { return Count(StoreLog(), "/enter/magazine/") > enterPagesBefore; }, kLimit))
        << "the restart did not open the store in the saved mode";
    ASSERT_TRUE(Until([&] { return MainWindowIs(work.x, work.y, work.w, work.h); }, kLimit)) << Where();
    EXPECT_TRUE(FrameCoversWindow("mode_restart", "win_edge.png", kModeBand));
    std::string shot, l;
    EXPECT_TRUE(Until(
        [&] {
            shot = Shot("mode_restart_band");
            l = PixelAt(shot, left, row);
            return l != oldLeft && l == PixelAt(shot, right, row);
        },
        std::chrono::seconds(30)))
        << "the restart shows the start skin's band: " << l << ", shot " << shot;
}

} // namespace
