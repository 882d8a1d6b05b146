// The client as a user starts it: the built program against the replacement store on a private
// Xvfb, with a fresh data root. It must come up on the magazine store page (the screenshot is
// written to the build folder), and SIGTERM must end it with status 0, leaving every state file
// whole. Alt+Space opens its window menu, whose about item opens the about box (screenshot too).
#include "tests/support/PeerProcess.h"
#include "tests/support/TestFiles.h"
#include "tests/support/XvfbDisplay.h"

#include <gtest/gtest.h>

#include <cairo.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string Output(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        pclose(p);
    }
    return out;
}

// Polls the condition until it holds or the time is up; the client's start and the engine's
// painting have no event a test outside the process could wait on.
bool Until(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return done();
}

// How many different colours a screenshot has in its middle: a painted store page has many, an
// empty or unpainted window one or two.
size_t ColoursOf(const std::string& png) {
    cairo_surface_t* s = cairo_image_surface_create_from_png(png.c_str());
    std::set<uint32_t> colours;
    if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS) {
        cairo_surface_flush(s);
        int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
        for (int y = h / 4; y < 3 * h / 4; y += 3) {
            auto* row = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(s) +
                                                          y * cairo_image_surface_get_stride(s));
            for (int x = w / 4; x < 3 * w / 4; x += 3)
                colours.insert(row[x] & 0xFFFFFF);
        }
    }
    cairo_surface_destroy(s);
    return colours.size();
}

class ClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(display.Start("1280x800x24"));
        ASSERT_TRUE(store.Start({"python3", std::string(PROJECT_SOURCE_DIR) + "/tools/store/kestrin_store.py",
                                 "--port", "0", "--watch-stdin"}));
        storeUrl = "http://127.0.0.1:" + std::to_string(store.Port());
        for (const char* d : {"data", "home", "run"})
            fs::create_directories(root.sub(d));
        fs::permissions(root.sub("run"), fs::perms::owner_all, fs::perm_options::replace);
    }
    void TearDown() override {
        if (client > 0) {
            kill(client, SIGKILL);
            waitpid(client, nullptr, 0);
        }
    }

    void StartClient() {
        client = fork();
        if (client == 0) {
            setenv("KESTRIN_STORE", storeUrl.c_str(), 1);
            setenv("XDG_DATA_HOME", root.sub("data").c_str(), 1);
            setenv("HOME", root.sub("home").c_str(), 1);
            setenv("XDG_RUNTIME_DIR", root.sub("run").c_str(), 1);
            unsetenv("WAYLAND_DISPLAY");
            std::string log = std::string(PROJECT_BINARY_DIR) + "/client_e2e.log";
            freopen(log.c_str(), "w", stderr);
            execl(CLIENT_PATH, CLIENT_PATH, static_cast<char*>(nullptr));
            _exit(127);
        }
        ASSERT_GT(client, 0);
    }
    std::string X(const std::string& args) {
        return Output("DISPLAY=" + display.Name() + " xdotool " + args + " 2>/dev/null");
    }
    // The visible windows of the display whose name is exactly this, as "id x y w h" lines.
    std::vector<std::string> Windows(const std::string& name) {
        std::vector<std::string> out;
        std::istringstream ids(X("search --onlyvisible --name '^" + name + "$'"));
        for (std::string id; ids >> id;) {
            std::string geometry = X("getwindowgeometry --shell " + id);
            auto field = [&](const char* key) {
                size_t at = geometry.find(std::string(key) + "=");
                return at == std::string::npos
                           ? std::string("0")
                           : geometry.substr(at + std::strlen(key) + 1,
                                             geometry.find('\n', at) - at - std::strlen(key) - 1);
            };
            out.push_back(id + " " + field("X") + " " + field("Y") + " " + field("WIDTH") + " " +
                          field("HEIGHT"));
        }
        return out;
    }
    std::string StoreLog() {
        return Output("python3 -c \"import urllib.request,sys;sys.stdout.write(urllib.request.urlopen('" +
                      storeUrl + "/_control/log').read().decode())\" 2>/dev/null");
    }
    // Waits for the client's end; -1 when it is still running after the limit.
    int ExitStatus(std::chrono::seconds limit) {
        int status = 0;
        bool ended = Until(
            [&] {
                pid_t r = waitpid(client, &status, WNOHANG);
                return r == client;
            },
            limit);
        if (!ended)
            return -1;
        client = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    XvfbDisplay display;
    PeerProcess store;
    std::string storeUrl;
    TempDir root{"kestrin_client_"};
    pid_t client = -1;
};

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

    // Every state file is whole: none is empty, none is cut off inside its markup, and no
    // temporary file of an interrupted write is left.
    size_t files = 0;
    for (const auto& e : fs::recursive_directory_iterator(root.sub("data"))) {
        if (!e.is_regular_file())
            continue;
        const std::string name = e.path().filename().string();
        EXPECT_EQ(name.find(".tmp"), std::string::npos) << e.path();
        if (e.path().extension() != ".xml")
            continue;
        ++files;
        std::ifstream in(e.path(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::string s = text.str();
        while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
            s.pop_back();
        EXPECT_FALSE(s.empty()) << e.path();
        EXPECT_EQ(s.empty() ? '\0' : s.back(), '>') << e.path();
    }
    EXPECT_GT(files, 0u) << "the client wrote no state file under " << root.sub("data");
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
