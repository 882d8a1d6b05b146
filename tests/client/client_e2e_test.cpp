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
    const std::string shot = XvfbDisplay::ShotPath("client_magazine_store.png");
    EXPECT_TRUE(Until(
        [&] {
            return std::system(("import -window root png24:" + shot + " >/dev/null 2>&1").c_str()) == 0 &&
                   ColoursOf(shot) > 16;
        },
        std::chrono::seconds(60)))
        << "the screen never showed a painted page: " << shot;
    // The main window is named on the task bar by its caption, with its icon.
    std::vector<std::string> main = Windows("墨舟匣V4.0");
    ASSERT_EQ(main.size(), 1u) << "no shown window is named as the program";
    const std::string id = main[0].substr(0, main[0].find(' '));
    auto prop = [&](const char* atom) {
        return Output("DISPLAY=" + display.Name() + " xprop -notype -id " + id + " " + atom + " 2>/dev/null");
    };
    EXPECT_NE(prop("_NET_WM_NAME").find("\"墨舟匣V4.0\""), std::string::npos) << prop("_NET_WM_NAME");
    EXPECT_NE(prop("WM_NAME").find("\""), std::string::npos) << prop("WM_NAME");
    const std::string icon = prop("_NET_WM_ICON");
    EXPECT_TRUE(icon.find("16 x 16") != std::string::npos || icon.find("= 16, 16,") != std::string::npos)
        << icon.substr(0, 200);

    ASSERT_EQ(kill(client, SIGTERM), 0);
    EXPECT_EQ(ExitStatus(std::chrono::seconds(30)), 0);
    ExpectStateFilesWhole();
}

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
    const std::string flashPackage = FetchPackage("f1");
    ASSERT_FALSE(flashPackage.empty());
    second = Spawn({"-p", flashPackage});
    ASSERT_GT(second, 0);
    ASSERT_TRUE(Until([&] { return waitpid(second, &status, WNOHANG) == second; }, kLimit));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ASSERT_TRUE(Until([&] { return LargeWindows().size() == 2; }, kLimit)) << "no movie reader came up";
    EXPECT_TRUE(ShotOfChange("flash_reader", last));

    // The movie's close button (the last of its buttons at the top right) ends the reading: the
    // pointer first rests on it until the movie shows it lit, then presses.
    std::optional<Box> movie = ShownReader();
    ASSERT_TRUE(movie);
    const int closeX = movie->x + movie->w - 60, closeY = movie->y + 24;
    const std::string probe = XvfbDisplay::ShotPath("road_hover_probe.png");
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
    // Its page paints on its own time: until then the dialog is black.
    const std::string probe = XvfbDisplay::ShotPath("road_dialog_probe.png");
    EXPECT_TRUE(Until(
        [&] {
            std::system(("import -window root png24:" + probe + " >/dev/null 2>&1").c_str());
            const std::string middle = PixelAt(probe, dialog->cx(), dialog->cy());
            return !middle.empty() && middle != "0,0,0";
        },
        kLimit))
        << "the login dialog's page never painted";
    fs::remove(probe);
    EXPECT_TRUE(ShotOfChange("dialog_open", last));
    // Centred over the main window, which it stays above, with the keyboard.
    EXPECT_NEAR(dialog->cx(), win->cx(), 2)
        << dialog->x << "," << dialog->y << " over " << win->x << "," << win->y;
    EXPECT_NEAR(dialog->cy(), win->cy(), 2);
    EXPECT_TRUE(Until([&] { return ActiveWindow() == dialog->id; }, kLimit))
        << "the dialog has not the keyboard";
    EXPECT_TRUE(StackedAbove(dialog->id, win->id));
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
    // It holds the password: no other user may read it, or enter the folders above it.
    EXPECT_EQ(fs::status(users.begin()->first).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::status(root.sub("data/Tavonel/kestrin4.0")).permissions(), fs::perms::owner_all);
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

// A reading window opened from the shelf by a click on its item's "阅读": above the main window
// and holding the keyboard, so that PageDown, Right and PageUp pressed on the keyboard turn the
// reading page's pages with no window given the focus by hand. Esc takes it to the tray with the
// main window, the tray icon brings both back with the keys still the reader's, and closing it
// gives the keyboard back to the main window, painted. The movie reader takes Enter the same way.
TEST_F(ClientRoadTest, AReaderFromTheShelfIsAboveTheMainWindowAndTakesTheKeys) {
    ASSERT_TRUE(StartTray()) << "trayer did not come up";
    StartClient();
    ASSERT_TRUE(Until([&] { return Layouts().size() >= 1; }, kLimit)) << StoreLog();
    auto layout = Layouts().back();
    std::string last = Shot("keys_store");

    const uintmax_t m3Size = PackageSize("m3");
    ASSERT_GT(m3Size, 0u);
    ASSERT_TRUE(ClickInPage(layout, "download-m3"));
    ASSERT_TRUE(Until(
        [&] {
            auto done = FilesEndingIn("[m3].exe");
            return done.size() == 1 && done.begin()->second == m3Size && FilesEndingIn(".temp").empty();
        },
        kLimit))
        << "the download never completed";
    ClickShelfTab();
    ASSERT_TRUE(ShotOfChange("keys_shelf", last)) << "the shelf never came up";
    const std::string shelf = Shot("keys_shelf_again");
    auto main = MainWindow();
    ASSERT_TRUE(main);

    // The item's "阅读" is the page's one orange button below the shelf's header, under the first
    // cover.
    const int viewLeft = main->x + kViewLeft, viewTop = main->y + kViewTop;
    auto read = ColourBox(shelf, Box{viewLeft, viewTop + 240, 220, 120, ""}, [](int r, int g, int b) {
        return r >= 0xA0 && r <= 0xD8 && g >= 0x5C && g <= 0x96 && b >= 0x10 && b <= 0x52 && r > g && g > b;
    });
    ASSERT_TRUE(read) << "no read button on " << shelf;
    ASSERT_TRUE(
        Xdo("mousemove " + std::to_string(read->cx()) + " " + std::to_string(read->cy()) + " click 1"));
    std::optional<Box> reader;
    ASSERT_TRUE(Until([&] { return (reader = ShownReader()).has_value(); }, kLimit))
        << "no reading window came up";
    EXPECT_TRUE(ShotOfChange("keys_reader", shelf));
    // The screen shows the reading page's grey beside its page, not a main window left black.
    EXPECT_EQ(PixelAt(Shot("keys_reader_kept"), reader->x + 100, reader->y + 400), "225,225,225");
    EXPECT_TRUE(Until([&] { return ActiveWindow() == reader->id; }, kLimit))
        << "the reader has not the keyboard: " << ActiveWindow();
    EXPECT_TRUE(StackedAbove(reader->id, main->id)) << Prop("-root", "_NET_CLIENT_LIST_STACKING");

    // The page's keys, pressed on the keyboard wherever the desktop sends them.
    std::string page1 = Shot("keys_page1");
    ASSERT_TRUE(Xdo("key Next"));
    EXPECT_TRUE(ShotOfChange("keys_page2", page1)) << "PageDown did not turn the page";
    std::string page2 = Shot("keys_page2_kept");
    ASSERT_TRUE(Xdo("key Right"));
    EXPECT_TRUE(ShotOfChange("keys_page3", page2)) << "Right did not turn the page";
    std::string page3 = Shot("keys_page3_kept");
    ASSERT_TRUE(Xdo("key Prior"));
    EXPECT_TRUE(ShotOfChange("keys_page2_again", page3)) << "PageUp did not turn the page back";
    // The reading page's counter ("第 2 / 5 页", right-aligned in the row below the strip) as on
    // page 2; the page picture is scaled anew at each show, to pixels a little apart.
    const Box counter{reader->x + reader->w - 360, reader->y + 102, 80, 30, ""};
    const std::string again = Shot("keys_page2_again_kept");
    EXPECT_LT(PixelsApart(again, page2, counter) * 4, PixelsApart(again, page3, counter))
        << "PageUp went elsewhere than page 2";

    // Esc hides the program to the tray, the reader with it.
    ASSERT_TRUE(Xdo("key Escape"));
    ASSERT_TRUE(Until([&] { return LargeWindows().empty(); }, kLimit)) << "Esc left a window on the screen";
    const std::string hidden = Shot("keys_hidden");
    std::optional<Box> icon;
    ASSERT_TRUE(Until([&] { return (icon = TrayIcon()).has_value(); }, kLimit));
    ASSERT_TRUE(Xdo("mousemove " + std::to_string(icon->cx()) + " " + std::to_string(icon->cy()) +
                    " click --repeat 2 --delay 80 1"));
    ASSERT_TRUE(Until([&] { return LargeWindows().size() == 2; }, kLimit))
        << "the tray did not bring both back";
    EXPECT_TRUE(ShotOfChange("keys_back_from_tray", hidden));
    reader = ShownReader();
    main = MainWindow();
    ASSERT_TRUE(reader && main);
    EXPECT_TRUE(Until([&] { return ActiveWindow() == reader->id; }, kLimit))
        << "the reader came back without the keyboard: " << ActiveWindow();
    EXPECT_TRUE(StackedAbove(reader->id, main->id));
    const std::string back = Shot("keys_back_kept");
    ASSERT_TRUE(Xdo("key Next"));
    EXPECT_TRUE(ShotOfChange("keys_page3_after_tray", back)) << "the keys did not come back with the reader";

    // The strip's close button: the main window has the keyboard again and shows the shelf.
    last = Shot("keys_before_close");
    ASSERT_TRUE(Xdo("mousemove " + std::to_string(reader->x + 35) + " " + std::to_string(reader->y + 55) +
                    " click 1"));
    ASSERT_TRUE(Until([&] { return !ShownReader(); }, kLimit)) << "the reader did not close";
    EXPECT_TRUE(ShotOfChange("keys_reader_closed", last));
    EXPECT_TRUE(Until([&] { return ActiveWindow() == main->id; }, kLimit))
        << "the main window did not get the keyboard back: " << ActiveWindow();
    const std::string after = Shot("keys_shelf_after_reading");
    EXPECT_GT(ColoursOf(after), 2u) << "the main window is not painted: " << after;
    EXPECT_NE(PixelAt(after, main->cx(), main->cy()), "0,0,0") << "the main window is black: " << after;

    // The movie reader, from a hand-over: Enter on the keyboard turns the movie's page.
    const std::string flashPackage = root.sub("f1.exe");
    Output("python3 -c \"import urllib.request;open('" + flashPackage +
           "','wb').write(urllib.request.urlopen('" + storeUrl + "/packages/f1.exe').read())\"");
    ASSERT_GT(fs::exists(flashPackage) ? fs::file_size(flashPackage) : 0, 0u);
    last = Shot("keys_before_movie");
    pid_t second = Spawn({"-p", flashPackage});
    int status = -1;
    ASSERT_TRUE(Until([&] { return waitpid(second, &status, WNOHANG) == second; }, kLimit));
    ASSERT_TRUE(Until([&] { return (reader = ShownReader()).has_value(); }, kLimit))
        << "no movie reader came up";
    EXPECT_TRUE(Until([&] { return ActiveWindow() == reader->id; }, kLimit))
        << "the movie reader has not the keyboard: " << ActiveWindow();
    EXPECT_TRUE(StackedAbove(reader->id, main->id));
    // The movie has drawn its bar once its close button stands out from the bar's middle.
    const int closeX = reader->x + reader->w - 60, closeY = reader->y + 24;
    const std::string probe = XvfbDisplay::ShotPath("road_keys_probe.png");
    EXPECT_TRUE(Until(
        [&] {
            std::system(("import -window root png24:" + probe + " >/dev/null 2>&1").c_str());
            const std::string button = PixelAt(probe, closeX, closeY);
            return !button.empty() && button != PixelAt(probe, reader->x + reader->w / 2, closeY);
        },
        kLimit))
        << "the movie never drew its bar";
    fs::remove(probe);
    ASSERT_TRUE(ShotOfChange("keys_movie", last));
    const std::string movie = Shot("keys_movie_page1");
    ASSERT_TRUE(Xdo("key Return"));
    EXPECT_TRUE(ShotOfChange("keys_movie_page2", movie)) << "Enter did not turn the movie's page";
    // The movie's Esc is the program's too: to the tray, the movie reader with it.
    ASSERT_TRUE(Xdo("key Escape"));
    EXPECT_TRUE(Until([&] { return LargeWindows().empty(); }, kLimit)) << "Esc left the movie on the screen";
    Shot("keys_movie_hidden");

    ASSERT_EQ(kill(client, SIGTERM), 0);
    EXPECT_EQ(ExitStatus(std::chrono::seconds(30)), 0);
}

TEST_F(ClientTest, AltSpaceOrTheCaptionOpensTheWindowMenuAndItsAboutItemTheAboutBox) {
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
    // Alt+Space opens it; a window manager keeps Alt+Space for its own window menu (openbox
    // does), and there the program's menu opens from a right click on its caption band.
    auto openMenu = [&] {
        if (!XvfbDisplay::WindowManagerWanted()) {
            X("key alt+space");
            return;
        }
        std::vector<std::string> main = Windows("墨舟匣V4.0");
        int x = 0, y = 0, width = 0, height = 0;
        std::string id;
        if (main.empty() || !(std::istringstream(main[0]) >> id >> x >> y >> width >> height))
            return;
        // The band's free part: right of the tool bar ("ToolBar" ends 168 px from the right edge
        // in MainSkin3.xml), above the caption buttons, which start 20 rows down.
        X("mousemove " + std::to_string(x + width - 120) + " " + std::to_string(y + 10) + " click 3");
    };
    // The menu until it shows, then its last item, the about item, until the box shows: a key
    // the client was not ready for yet is pressed again.
    std::vector<std::string> boxes;
    ASSERT_TRUE(Until(
        [&] {
            if ((boxes = Windows(about)).size() == 1)
                return true;
            if (!menuShown()) {
                openMenu();
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
        << "the window menu and its about item showed no about box";
    std::istringstream in(boxes[0]);
    std::string id;
    int x = 0, y = 0, width = 0, height = 0;
    in >> id >> x >> y >> width >> height;
    EXPECT_GT(width, 150);
    EXPECT_GT(height, 80);
    const std::string shot = XvfbDisplay::ShotPath("about_box.png");
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

// What a careless user may hand to the running client instead of a package: a FIFO, which
// nobody writes into, and a device. Each second start ends at once, the running client goes on
// answering, opens the real package handed over next (by a path relative to the folder of that
// start) and still ends cleanly on SIGTERM.
TEST_F(ClientRoadTest, AFifoOrADeviceHandedOverIsRefusedAndTheClientGoesOn) {
    StartClient();
    ASSERT_TRUE(Until([&] { return Layouts().size() >= 1; }, kLimit)) << "the store page never reported";
    std::string last = Shot("handover_store");
    ASSERT_EQ(mkfifo(root.sub("pipe.exe").c_str(), 0600), 0);
    int status = -1;
    for (const std::string& path : {root.sub("pipe.exe"), std::string("/dev/zero")}) {
        SCOPED_TRACE(path);
        pid_t second = Spawn({"-p", path});
        ASSERT_GT(second, 0);
        EXPECT_TRUE(Until([&] { return waitpid(second, &status, WNOHANG) == second; }, kLimit))
            << "the second start did not end";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        kill(second, SIGKILL); // in case it did not end
        waitpid(second, nullptr, WNOHANG);
        EXPECT_EQ(LargeWindows().size(), 1u) << "something opened in a reader";
    }

    fs::create_directories(root.sub("items"));
    Output("python3 -c \"import urllib.request;open('" + root.sub("items/m3.exe") +
           "','wb').write(urllib.request.urlopen('" + storeUrl + "/packages/m3.exe').read())\"");
    ASSERT_GT(fs::exists(root.sub("items/m3.exe")) ? fs::file_size(root.sub("items/m3.exe")) : 0, 0u);
    pid_t second = Spawn({"-p", "m3.exe"}, root.sub("items"));
    ASSERT_GT(second, 0);
    ASSERT_TRUE(Until([&] { return waitpid(second, &status, WNOHANG) == second; }, kLimit))
        << "the start with the package did not end";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ASSERT_TRUE(Until([&] { return LargeWindows().size() == 2; }, kLimit)) << "no reading window came up";
    EXPECT_TRUE(Until(
        [&] {
            return Output(
                       "python3 -c \"import urllib.request,sys;sys.stdout.write(str(urllib.request.urlopen("
                       "'http://127.0.0.1:8024/mag/m3/view1.html').status))\" 2>/dev/null") == "200";
        },
        kLimit))
        << "the local server does not serve the handed-over package";
    EXPECT_TRUE(ShotOfChange("handover_read", last));

    ASSERT_EQ(kill(client, SIGTERM), 0);
    EXPECT_EQ(ExitStatus(std::chrono::seconds(30)), 0);
    ExpectStateFilesWhole();
}

} // namespace
