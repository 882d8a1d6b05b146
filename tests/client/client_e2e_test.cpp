// The client as a user starts it: the built program against the replacement store on a private
// Xvfb, with a fresh data root. It must come up on the magazine store page (the screenshot is
// written to the build folder), and SIGTERM must end it with status 0, leaving every state file
// whole. Alt+Space opens its window menu, whose about item opens the about box (screenshot too).
// The road test then goes the way a user does, with real input from xdotool: log in on the
// store page, download an item and watch it on the shelf, hide to the tray and come back through
// a real tray host (trayer), and exit from the tray menu; each step leaves its screenshot as
// build/road_<n>_<step>.png.
#include "tests/client/ClientFixture.h"

namespace {

using namespace clienttest;
namespace fs = std::filesystem;

TEST_F(ClientTest, StartsOnTheMagazineStoreAndEndsCleanlyOnSigterm) {
    StartClient();
    ASSERT_TRUE(Until([&] { return StoreLog().find("/touch/magazine/") != std::string::npos; },
                      std::chrono::seconds(60)))
        << "the store was never asked for the magazine page; its log:\n"
        << StoreLog();
    const std::string shot = std::string(PROJECT_BINARY_DIR) + "/client_magazine_store.png";
    EXPECT_TRUE(Until(
        [&] {
            return std::system(("import -window root png24:" + shot + " >/dev/null 2>&1").c_str()) == 0 &&
                   ColoursOf(shot) > 16;
        },
        std::chrono::seconds(60)))
        << "the screen never showed a painted page: " << shot;

    ASSERT_EQ(kill(client, SIGTERM), 0);
    EXPECT_EQ(ExitStatus(std::chrono::seconds(30)), 0);
    ExpectStateFilesWhole();
}

// The road a user goes, with a tray host on the screen. Clicks in the store page land where the
// page reported its controls; in the program's own windows (tool bar, tray) where their layout
// puts them.
class ClientRoadTest : public ClientTest {
protected:
    // Where the page views sit in the main window's client area ("HtmlView" of MainSkin3.xml) and
    // where the tool bar's tabs are ("ToolBar" of MainSkin3.xml, "home" and "my_book" of
    // ToolBar3.xml).
    static constexpr int kViewLeft = 2, kViewTop = 111;
    // Tabs lie at the tool bar's right end: each by the distance of its right edge from it.
    static constexpr int kToolBarRight = 168, kStoreTabRight = 266, kShelfTabRight = 0, kTabWidth = 130;
    static constexpr auto kLimit = std::chrono::seconds(60);

    bool StartTray() {
        if (!tray.Start({"trayer", "--edge", "top", "--align", "left", "--widthtype", "pixel", "--width",
                         "120", "--heighttype", "pixel", "--height", "32", "--SetDockType", "false",
                         "--transparent", "false"},
                        false))
            return false;
        return Until(
            [] { return !Output("xdotool search --onlyvisible --class trayer 2>/dev/null").empty(); },
            kLimit);
    }
    static bool Xdo(const std::string& args) {
        return std::system(("xdotool " + args + " >/dev/null 2>&1").c_str()) == 0;
    }
    static std::vector<std::string> Windows(const std::string& search) {
        std::vector<std::string> ids;
        std::istringstream in(Output("xdotool search --onlyvisible " + search + " 2>/dev/null"));
        for (std::string id; in >> id;)
            ids.push_back(id);
        return ids;
    }
    static std::optional<Box> Geometry(const std::string& id) {
        std::map<std::string, int> v;
        std::istringstream in(Output("xdotool getwindowgeometry --shell " + id + " 2>/dev/null"));
        for (std::string line; std::getline(in, line);) {
            auto eq = line.find('=');
            if (eq != std::string::npos)
                v[line.substr(0, eq)] = std::atoi(line.c_str() + eq + 1);
        }
        if (!v.count("WIDTH") || v["WIDTH"] <= 0)
            return std::nullopt;
        return Box{v["X"], v["Y"], v["WIDTH"], v["HEIGHT"], id};
    }
    // The main window while it is shown: the client's one window that covers most of the screen
    // (its reading windows are not shown on this road).
    std::optional<Box> MainWindow() {
        for (const auto& id : Windows("--pid " + std::to_string(client)))
            if (auto b = Geometry(id); b && b->w > 600 && b->h > 400)
                return b;
        return std::nullopt;
    }
    // The client's large windows that are shown: the main window, and a reading window over it.
    std::vector<Box> LargeWindows() {
        std::vector<Box> boxes;
        for (const auto& id : Windows("--pid " + std::to_string(client)))
            if (auto b = Geometry(id); b && b->w > 600 && b->h > 400)
                boxes.push_back(*b);
        return boxes;
    }
    // The client's small windows that are shown: its tray icon, embedded in trayer, and the tray
    // menu while it is up.
    std::vector<Box> SmallClientWindows() {
        std::vector<Box> boxes;
        for (const auto& id : Windows("--pid " + std::to_string(client)))
            if (auto b = Geometry(id); b && b->w < 400 && b->h < 400)
                boxes.push_back(*b);
        return boxes;
    }
    std::optional<Box> TrayIcon() {
        for (const Box& b : SmallClientWindows())
            if (b.w <= 64 && b.h <= 64 && b.y < 32)
                return b;
        return std::nullopt;
    }

    void Get(const std::string& path) {
        Output("python3 -c \"import urllib.request;urllib.request.urlopen('" + storeUrl + path +
               "').read()\"");
    }
    // A click on a control of the store page that the page reported.
    bool ClickInPage(const std::map<std::string, std::string>& layout, const std::string& control) {
        auto it = layout.find(control);
        auto box = it == layout.end() ? std::nullopt : ParseBox(it->second);
        auto win = MainWindow();
        if (!box || !win)
            return false;
        // There is no window manager to give the window the keyboard when it is clicked.
        return Xdo("windowfocus --sync " + win->id) &&
               Xdo("mousemove " + std::to_string(win->x + kViewLeft + box->cx()) + " " +
                   std::to_string(win->y + kViewTop + box->cy()) + " click 1");
    }

    // The screen as it is now, as the next step's screenshot in the build folder.
    std::string Shot(const std::string& step) {
        const std::string path =
            std::string(PROJECT_BINARY_DIR) + "/road_" + std::to_string(++shots) + "_" + step + ".png";
        std::system(("import -window root png24:" + path + " >/dev/null 2>&1").c_str());
        return path;
    }
    // Waits until the screen has changed from the last shot, shows a painted page (not one flat
    // colour) and has come to rest (two shots in a row alike), then keeps it as this step's shot.
    bool ShotOfChange(const std::string& step, const std::string& last) {
        const std::string a = std::string(PROJECT_BINARY_DIR) + "/road_settle_a.png";
        const std::string b = std::string(PROJECT_BINARY_DIR) + "/road_settle_b.png";
        bool settled = Until(
            [&] {
                std::system(("import -window root png24:" + a + " >/dev/null 2>&1").c_str());
                if (SamePixels(a, last) || ColoursOf(a) <= 2)
                    return false;
                std::system(("import -window root png24:" + b + " >/dev/null 2>&1").c_str());
                return SamePixels(a, b);
            },
            kLimit);
        fs::remove(a);
        fs::remove(b);
        Shot(step);
        return settled;
    }

    // A tab of the tool bar, by its place in ToolBar3.xml.
    void ClickToolBarTab(int right) {
        auto win = MainWindow();
        ASSERT_TRUE(win);
        const int toolBarRight = win->x + win->w - kToolBarRight;
        ASSERT_TRUE(Xdo("mousemove " + std::to_string(toolBarRight - right - kTabWidth / 2) + " " +
                        std::to_string(win->y + 55) + " click 1"));
    }
    void ClickShelfTab() { ClickToolBarTab(kShelfTabRight); }

    // The files under the data root whose name ends so, with their sizes.
    std::map<std::string, uintmax_t> FilesEndingIn(const std::string& end) {
        std::map<std::string, uintmax_t> found;
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(root.path(), ec);
             it != fs::recursive_directory_iterator(); it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (it->is_regular_file(ec) && name.size() >= end.size() &&
                name.compare(name.size() - end.size(), end.size(), end) == 0)
                found[it->path().string()] = it->file_size(ec);
        }
        return found;
    }

    PeerProcess tray;
    int shots = 0;
};

TEST_F(ClientRoadTest, LogsInDownloadsToTheShelfHidesToTheTrayAndExitsFromIt) {
    ASSERT_TRUE(StartTray()) << "trayer did not come up";
    StartClient();

    // The magazine store, painted: the page reports its controls.
    ASSERT_TRUE(Until([&] { return Layouts().size() >= 1; }, kLimit))
        << "the store page never reported; its log:\n"
        << StoreLog();
    auto layout = Layouts().back();
    EXPECT_EQ(layout["user"], "");
    std::string last = Shot("store");

    // Log in with the store page's form: the store checks the password, the client keeps the
    // user, and the page, asked for again with the user, shows the name.
    ASSERT_TRUE(ClickInPage(layout, "login-name"));
    ASSERT_TRUE(Xdo("type --delay 30 'reader'"));
    ASSERT_TRUE(ClickInPage(layout, "login-pass"));
    ASSERT_TRUE(Xdo("type --delay 30 'pa ss&#1'"));
    Shot("login_typed");
    ASSERT_TRUE(Xdo("key Return"));
    ASSERT_TRUE(Until([&] { return Layouts().back()["user"] == "reader"; }, kLimit))
        << "the store page never showed the user; the store's log:\n"
        << StoreLog();
    EXPECT_NE(StoreLog().find("POST /touch/login/"), std::string::npos);
    layout = Layouts().back();
    last = Shot("logged_in");

    // Download a free item from the store page; the package lands in the download folder under
    // the item's name and its pid.
    // The size is asked for first, so the client's own request is the one the log gains after.
    const uintmax_t m3Size = PackageSize("m3");
    ASSERT_GT(m3Size, 0u);
    auto packageRequests = [&] {
        const std::string log = StoreLog();
        size_t n = 0;
        for (size_t at = log.find("GET /packages/m3.exe"); at != std::string::npos;
             at = log.find("GET /packages/m3.exe", at + 1))
            ++n;
        return n;
    };
    const size_t requestsBefore = packageRequests();
    ASSERT_TRUE(ClickInPage(layout, "download-m3"));
    ASSERT_TRUE(Until([&] { return packageRequests() > requestsBefore; }, kLimit))
        << "the package was never asked for; the store's log:\n"
        << StoreLog();
    ASSERT_TRUE(Until(
        [&] {
            auto done = FilesEndingIn("[m3].exe");
            return done.size() == 1 && done.begin()->second == m3Size && FilesEndingIn(".temp").empty();
        },
        kLimit))
        << "the download never completed; the downloads: " << testing::PrintToString(FilesEndingIn(".temp"));

    // The shelf tab shows it, downloaded.
    ClickShelfTab();
    EXPECT_TRUE(ShotOfChange("shelf", last)) << "the shelf never came up";
    last = Shot("shelf_again");

    // Esc hides the main window to the tray.
    auto win = MainWindow();
    ASSERT_TRUE(win);
    ASSERT_TRUE(Xdo("windowfocus --sync " + win->id + " key Escape"));
    ASSERT_TRUE(Until([&] { return !MainWindow(); }, kLimit)) << "Esc did not hide the main window";
    last = Shot("hidden");

    // A double click on the tray icon brings it back.
    std::optional<Box> icon;
    ASSERT_TRUE(Until([&] { return (icon = TrayIcon()).has_value(); }, kLimit))
        << "the tray icon never showed";
    ASSERT_TRUE(Xdo("mousemove " + std::to_string(icon->cx()) + " " + std::to_string(icon->cy()) +
                    " click --repeat 2 --delay 80 1"));
    ASSERT_TRUE(Until([&] { return MainWindow().has_value(); }, kLimit))
        << "the tray icon did not show the window";
    EXPECT_TRUE(ShotOfChange("back_from_tray", last));

    // A second start with the downloaded package hands it over and ends; this instance reads it
    // in its HTML reading window, whose pages the local server now serves from the package.
    const std::string package = FilesEndingIn("[m3].exe").begin()->first;
    pid_t second = Spawn({"-p", package});
    ASSERT_GT(second, 0);
    int status = -1;
    ASSERT_TRUE(Until([&] { return waitpid(second, &status, WNOHANG) == second; }, kLimit))
        << "the second start did not end";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ASSERT_TRUE(Until([&] { return LargeWindows().size() == 2; }, kLimit)) << "no reading window came up";
    auto served = [&](const std::string& page) {
        return Output("python3 -c \"import urllib.request,sys;sys.stdout.write(str(urllib.request.urlopen("
                      "'http://127.0.0.1:8024/mag/m3/" +
                      page + "').status))\" 2>/dev/null") == "200";
    };
    EXPECT_TRUE(Until([&] { return served("view1.html") && served("view2.html"); }, kLimit))
        << "the local server does not serve the handed-over package";
    EXPECT_TRUE(ShotOfChange("read_handed_over", last));
    last = Shot("reading");

    // The reading strip's close button (its top-left corner) hides the reader again.
    std::optional<Box> reader;
    for (const Box& b : LargeWindows())
        if (!reader || b.id != MainWindow()->id)
            reader = b;
    ASSERT_TRUE(reader);
    ASSERT_TRUE(Xdo("mousemove " + std::to_string(reader->x + 35) + " " + std::to_string(reader->y + 55) +
                    " click 1"));
    ASSERT_TRUE(Until([&] { return LargeWindows().size() == 1; }, kLimit)) << "the reader did not close";
    EXPECT_TRUE(ShotOfChange("reader_closed", last));
    last = Shot("shelf_after_reading");

    // A Flash item's package, handed over the same way, opens in the movie reader: the player
    // and the movie come from the local server, and so do the item's pages.
    const std::string flashPackage = root.sub("f1.exe");
    Output("python3 -c \"import urllib.request;open('" + flashPackage +
           "','wb').write(urllib.request.urlopen('" + storeUrl + "/packages/f1.exe').read())\"");
    ASSERT_GT(fs::exists(flashPackage) ? fs::file_size(flashPackage) : 0, 0u);
    second = Spawn({"-p", flashPackage});
    ASSERT_GT(second, 0);
    ASSERT_TRUE(Until([&] { return waitpid(second, &status, WNOHANG) == second; }, kLimit));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ASSERT_TRUE(Until([&] { return LargeWindows().size() == 2; }, kLimit)) << "no movie reader came up";
    EXPECT_TRUE(ShotOfChange("flash_reader", last));

    // The movie's close button (the last of its buttons at the top right) ends the reading: the
    // pointer first rests on it until the movie shows it lit, then presses.
    std::optional<Box> movie;
    for (const Box& b : LargeWindows())
        if (b.id != MainWindow()->id)
            movie = b;
    ASSERT_TRUE(movie);
    const int closeX = movie->x + movie->w - 60, closeY = movie->y + 24;
    const std::string probe = std::string(PROJECT_BINARY_DIR) + "/road_hover_probe.png";
    // The movie has drawn its bar once the button stands out from the bar's empty middle.
    std::string atRest;
    EXPECT_TRUE(Until(
        [&] {
            std::system(("import -window root png24:" + probe + " >/dev/null 2>&1").c_str());
            atRest = PixelAt(probe, closeX, closeY);
            return !atRest.empty() && atRest != PixelAt(probe, movie->x + movie->w / 2, closeY);
        },
        kLimit))
        << "the movie never drew its buttons";
    last = Shot("flash_reading");
    ASSERT_TRUE(Xdo("mousemove " + std::to_string(closeX) + " " + std::to_string(closeY)));
    EXPECT_TRUE(Until(
        [&] {
            std::system(("import -window root png24:" + probe + " >/dev/null 2>&1").c_str());
            return PixelAt(probe, closeX, closeY) != atRest;
        },
        kLimit))
        << "the movie never lit its close button";
    fs::remove(probe);
    ASSERT_TRUE(Xdo("click 1"));
    ASSERT_TRUE(Until([&] { return LargeWindows().size() == 1; }, kLimit))
        << "the movie reader did not close";
    EXPECT_TRUE(ShotOfChange("flash_closed", last));

    // Hidden again, the tray menu's "退出" (its last item) ends the program.
    win = MainWindow();
    ASSERT_TRUE(win);
    ASSERT_TRUE(Xdo("windowfocus --sync " + win->id + " key Escape"));
    ASSERT_TRUE(Until([&] { return !MainWindow(); }, kLimit));
    ASSERT_TRUE(
        Xdo("mousemove " + std::to_string(icon->cx()) + " " + std::to_string(icon->cy()) + " click 3"));
    std::optional<Box> menu;
    ASSERT_TRUE(Until(
        [&] {
            for (const Box& b : SmallClientWindows())
                if (b.h > icon->h && b.w > icon->w)
                    menu = b;
            return menu.has_value();
        },
        kLimit))
        << "the tray menu never came up";
    Shot("tray_menu");
    ASSERT_TRUE(Xdo("mousemove " + std::to_string(menu->cx()) + " " +
                    std::to_string(menu->y + menu->h * 3 / 4) + " click 1"));
    EXPECT_EQ(ExitStatus(kLimit), 0);
    ExpectStateFilesWhole();
    // The shelf file keeps the downloaded item.
    auto shelves = FilesEndingIn("MagShelf.xml");
    ASSERT_EQ(shelves.size(), 1u);
    EXPECT_NE(ReadAll(shelves.begin()->first).find("m3"), std::string::npos);
}

// The program's own login dialog, from the shelf page's login link: the pages are ours and report
// nothing, so the dialog is reached by known layout and driven by keys.
TEST_F(ClientRoadTest, LogsInThroughTheLoginDialogFromTheShelf) {
    StartClient();
    ASSERT_TRUE(Until([&] { return Layouts().size() >= 1; }, kLimit));
    std::string last = Shot("dialog_store");
    ClickShelfTab();
    ASSERT_TRUE(ShotOfChange("dialog_shelf", last)) << "the shelf never came up";
    last = Shot("dialog_shelf_again");

    // The link sits at the right end of the shelf page's header (Bookshelf2.html, shelf.css).
    auto win = MainWindow();
    ASSERT_TRUE(win);
    ASSERT_TRUE(Xdo("mousemove " + std::to_string(win->x + win->w - 30) + " " + std::to_string(win->y + 135) +
                    " click 1"));
    std::optional<Box> dialog;
    ASSERT_TRUE(Until(
        [&] {
            for (const auto& id : Windows("--pid " + std::to_string(client)))
                if (auto b = Geometry(id); b && b->w >= 200 && b->h >= 200 && b->w < win->w)
                    dialog = b;
            return dialog.has_value();
        },
        kLimit))
        << "the login dialog never came up";
    EXPECT_TRUE(ShotOfChange("dialog_open", last));
    // The user name field of login.html: centred, 208 px down the dialog; Tab goes on to the
    // password, and Enter there submits the form.
    ASSERT_TRUE(Xdo("windowfocus --sync " + dialog->id));
    ASSERT_TRUE(Xdo("mousemove " + std::to_string(dialog->cx()) + " " + std::to_string(dialog->y + 208) +
                    " click 1"));
    ASSERT_TRUE(Xdo("type --delay 30 'reader'"));
    ASSERT_TRUE(Xdo("key Tab"));
    ASSERT_TRUE(Xdo("type --delay 30 'pa ss&#1'"));
    const std::string typed = Shot("dialog_typed");
    ASSERT_TRUE(Xdo("key Return"));

    // The store checked the password; the client keeps the user, and the store page, asked for
    // again with the user, shows the name.
    ASSERT_TRUE(Until([&] { return StoreLog().find("POST /touch/login/") != std::string::npos; }, kLimit))
        << "the dialog never asked the store";
    EXPECT_TRUE(ShotOfChange("dialog_answered", typed));
    // A hidden page gets no animation frames, so the store page reports once it is shown again.
    ClickToolBarTab(kStoreTabRight);
    ASSERT_TRUE(Until([&] { return Layouts().back()["user"] == "reader"; }, kLimit))
        << "the store page never showed the user; the store's log:\n"
        << StoreLog();
    auto users = FilesEndingIn("user.xml");
    ASSERT_EQ(users.size(), 1u);
    EXPECT_NE(ReadAll(users.begin()->first).find("1001"), std::string::npos)
        << "the user record has no user id";
    Shot("dialog_logged_in");
}

// A transfer the store holds after its first kilobyte goes on where it stopped once the store
// does: a stall shorter than the client's receive time-out costs nothing.
TEST_F(ClientRoadTest, AHeldUpDownloadCompletesOnceTheStoreGoesOn) {
    StartClient();
    ASSERT_TRUE(Until([&] { return Layouts().size() >= 1; }, kLimit));
    auto layout = Layouts().back();
    const uintmax_t m3Size = PackageSize("m3");
    ASSERT_GT(m3Size, 1024u);
    Get("/_control/fault?path=/packages/m3.exe&piece=1024&gate=held&count=1");
    const size_t before = StoreLog().size();
    ASSERT_TRUE(ClickInPage(layout, "download-m3"));
    // The store logs the request before it sends the first kilobyte and stops; the client keeps
    // that kilobyte in its own buffer, so the partial file on disk says nothing yet.
    ASSERT_TRUE(
        Until([&] { return StoreLog().find("GET /packages/m3.exe", before) != std::string::npos; }, kLimit))
        << "the package was never asked for; the store's log:\n"
        << StoreLog();
    Get("/_control/release?gate=held");
    EXPECT_TRUE(Until(
        [&] {
            auto done = FilesEndingIn("[m3].exe");
            return done.size() == 1 && done.begin()->second == m3Size;
        },
        kLimit))
        << "the held download never completed";
}

TEST_F(ClientTest, AltSpaceOpensTheWindowMenuAndItsAboutItemTheAboutBox) {
    StartClient();
    ASSERT_TRUE(Until([&] { return StoreLog().find("/touch/magazine/") != std::string::npos; },
                      std::chrono::seconds(60)))
        << StoreLog();
    const std::string about = "关于 HtmlVelkors";
    // The menu is a popup of the client's own; it shows once the window takes keys.
    auto menuShown = [&] {
        for (const std::string& w : Windows("kestrin")) {
            std::istringstream in(w);
            std::string id;
            int x, y, width, height;
            in >> id >> x >> y >> width >> height;
            if (width > 100 && height > 60)
                return true;
        }
        return false;
    };
    // Alt+Space until the menu shows, then its last item, the about item, until the box shows:
    // a key the client was not ready for yet is pressed again.
    std::vector<std::string> boxes;
    ASSERT_TRUE(Until(
        [&] {
            if ((boxes = Windows(about)).size() == 1)
                return true;
            if (!menuShown()) {
                X("key alt+space");
                Until(menuShown, std::chrono::seconds(2));
                return false;
            }
            X("key Up");
            X("key Return");
            if (Until([&] { return (boxes = Windows(about)).size() == 1; }, std::chrono::seconds(3)))
                return true;
            // Still open with another item chosen, perhaps: closed, to start from its top again.
            if (menuShown())
                X("key Escape");
            return false;
        },
        std::chrono::seconds(40)))
        << "Alt+Space and the about item showed no about box";
    std::istringstream in(boxes[0]);
    std::string id;
    int x = 0, y = 0, width = 0, height = 0;
    in >> id >> x >> y >> width >> height;
    EXPECT_GT(width, 150);
    EXPECT_GT(height, 80);
    const std::string shot = std::string(PROJECT_BINARY_DIR) + "/about_box.png";
    const std::string crop = std::to_string(width) + "x" + std::to_string(height) + "+" + std::to_string(x) +
                             "+" + std::to_string(y);
    ASSERT_TRUE(Until(
        [&] {
            return std::system(("DISPLAY=" + display.Name() + " import -window root -crop " + crop +
                                " +repage png24:" + shot + " >/dev/null 2>&1")
                                   .c_str()) == 0 &&
                   ColoursOf(shot) > 8;
        },
        std::chrono::seconds(20)))
        << "the about box was never painted: " << shot;

    // Enter is its default button: the box closes and the client runs on.
    X("key Return");
    EXPECT_TRUE(Until([&] { return Windows(about).empty(); }, std::chrono::seconds(20)));
    ASSERT_EQ(kill(client, SIGTERM), 0);
    EXPECT_EQ(ExitStatus(std::chrono::seconds(30)), 0);
}

} // namespace
