// What the tests of the whole client share: the built program (CLIENT_PATH, or the path a test
// gives) against the replacement store on a private Xvfb, with a fresh data root, and a user's
// way through it with real input from xdotool: where its windows are, what the store page
// reported of itself, screenshots to the build folder. Used from the test's main thread.
#pragma once

#include "tests/support/PeerProcess.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TrayerPeer.h"
#include "tests/support/XvfbDisplay.h"

#include <gtest/gtest.h>

#include <cairo.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace clienttest {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

inline std::string Output(const std::string& command) {
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

inline std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Polls the condition until it holds or the time is up; the client's start and the engine's
// painting have no event a test outside the process could wait on.
inline bool Until(const std::function<bool()>& done, std::chrono::seconds limit) {
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
inline size_t ColoursOf(const std::string& png) {
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
        if (ownScreen) {
            ASSERT_TRUE(display.Start("1280x800x24"));
        }
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

    void StartClient() { client = Spawn({}); }
    // The client opening a package, as "kestrin -p <package>" does.
    void StartClient(const std::string& package) { client = Spawn({"-p", package}); }
    // The client with these arguments, in this test's environment, started in cwd ("" for this
    // process's folder).
    pid_t Spawn(const std::vector<std::string>& args, const std::string& cwd = "") {
        pid_t pid = fork();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (!cwd.empty() && chdir(cwd.c_str()) != 0)
                _exit(126);
            setenv("KESTRIN_STORE", storeUrl.c_str(), 1);
            setenv("XDG_DATA_HOME", root.sub("data").c_str(), 1);
            setenv("HOME", root.sub("home").c_str(), 1);
            setenv("XDG_RUNTIME_DIR", root.sub("run").c_str(), 1);
            unsetenv("WAYLAND_DISPLAY");
            // No session bus: the tray icon goes to the screen's XEmbed tray, the one the road
            // test runs.
            setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + root.sub("run/no_bus")).c_str(), 1);
            for (const auto& [name, value] : env)
                if (value.empty())
                    unsetenv(name.c_str());
                else
                    setenv(name.c_str(), value.c_str(), 1);
            freopen(LogPath().c_str(), args.empty() ? "w" : "a", stderr);
            std::vector<char*> argv{clientPath.data()};
            for (const auto& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(clientPath.c_str(), argv.data());
            _exit(127);
        }
        EXPECT_GT(pid, 0);
        return pid;
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
    // The size of an item's package as the store serves it now; the packages are made by the store,
    // so their size is the store's to say.
    uintmax_t PackageSize(const std::string& pid) {
        const std::string n = Output(
            "python3 -c \"import urllib.request,sys;sys.stdout.write(str(len(urllib.request.urlopen('" +
            storeUrl + "/packages/" + pid + ".exe').read())))\" 2>/dev/null");
        return n.empty() ? 0 : std::stoull(n);
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

    // Every state file is whole: none is empty, none is cut off inside its markup, and no
    // temporary file of an interrupted write is left.
    void ExpectStateFilesWhole() {
        size_t files = 0;
        for (const auto& e : fs::recursive_directory_iterator(root.sub("data"))) {
            if (!e.is_regular_file())
                continue;
            const std::string name = e.path().filename().string();
            EXPECT_EQ(name.find(".tmp"), std::string::npos) << e.path();
            if (e.path().extension() != ".xml")
                continue;
            ++files;
            std::string s = ReadAll(e.path());
            while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
                s.pop_back();
            EXPECT_FALSE(s.empty()) << e.path();
            EXPECT_EQ(s.empty() ? '\0' : s.back(), '>') << e.path();
        }
        EXPECT_GT(files, 0u) << "the client wrote no state file under " << root.sub("data");
    }

    // The store page's reports of itself, oldest first: one for every page it painted.
    std::vector<std::map<std::string, std::string>> Layouts() {
        std::vector<std::map<std::string, std::string>> all;
        std::istringstream in(StoreLog());
        const std::string mark = "/_control/layout?";
        for (std::string line; std::getline(in, line);) {
            auto at = line.find(mark);
            if (at == std::string::npos)
                continue;
            std::string query = line.substr(at + mark.size());
            query = query.substr(0, query.find(' '));
            std::map<std::string, std::string> report;
            std::istringstream parts(query);
            for (std::string part; std::getline(parts, part, '&');) {
                auto eq = part.find('=');
                if (eq != std::string::npos)
                    report[part.substr(0, eq)] = part.substr(eq + 1);
            }
            all.push_back(report);
        }
        return all;
    }
    // Where the client's own words (its standard error) go.
    std::string LogPath() const { return std::string(PROJECT_BINARY_DIR) + "/client_e2e.log"; }

    // The program started; the screen is this test's own Xvfb unless a test says otherwise
    // (before SetUp), and the environment the defaults with env's changes ("" unsets).
    std::string clientPath = CLIENT_PATH;
    bool ownScreen = true;
    std::vector<std::pair<std::string, std::string>> env;

    XvfbDisplay display;
    PeerProcess store;
    std::string storeUrl;
    TempDir root{"kestrin_client_"};
    pid_t client = -1;
};

// The colour of one pixel of a screenshot as "r,g,b"; "" when the file does not read.
inline std::string PixelAt(const std::string& png, int x, int y) {
    cairo_surface_t* s = cairo_image_surface_create_from_png(png.c_str());
    std::string out;
    if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS && x >= 0 && y >= 0 &&
        x < cairo_image_surface_get_width(s) && y < cairo_image_surface_get_height(s)) {
        cairo_surface_flush(s);
        auto* row = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(s) +
                                                      y * cairo_image_surface_get_stride(s));
        const uint32_t p = row[x];
        out = std::to_string(p >> 16 & 0xFF) + "," + std::to_string(p >> 8 & 0xFF) + "," +
              std::to_string(p & 0xFF);
    }
    cairo_surface_destroy(s);
    return out;
}

// A window's place on the screen.
struct Box {
    int x = 0, y = 0, w = 0, h = 0;
    std::string id; // the X window, when it is one
    int cx() const { return x + w / 2; }
    int cy() const { return y + h / 2; }
};

// "x,y,w,h" as the store page reports its controls.
inline std::optional<Box> ParseBox(const std::string& text) {
    Box b;
    if (std::sscanf(text.c_str(), "%d,%d,%d,%d", &b.x, &b.y, &b.w, &b.h) != 4 || b.w <= 0 || b.h <= 0)
        return std::nullopt;
    return b;
}

// Whether two screenshots show the same pixels; ImageMagick's files carry times, so the bytes of
// two shots of one screen differ.
inline bool SamePixels(const std::string& a, const std::string& b) {
    cairo_surface_t* sa = cairo_image_surface_create_from_png(a.c_str());
    cairo_surface_t* sb = cairo_image_surface_create_from_png(b.c_str());
    bool same = cairo_surface_status(sa) == CAIRO_STATUS_SUCCESS &&
                cairo_surface_status(sb) == CAIRO_STATUS_SUCCESS &&
                cairo_image_surface_get_width(sa) == cairo_image_surface_get_width(sb) &&
                cairo_image_surface_get_height(sa) == cairo_image_surface_get_height(sb);
    if (same) {
        cairo_surface_flush(sa);
        cairo_surface_flush(sb);
        const int h = cairo_image_surface_get_height(sa), w = cairo_image_surface_get_width(sa);
        for (int y = 0; same && y < h; ++y) {
            auto* ra = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(sa) +
                                                         y * cairo_image_surface_get_stride(sa));
            auto* rb = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(sb) +
                                                         y * cairo_image_surface_get_stride(sb));
            for (int x = 0; same && x < w; ++x)
                same = (ra[x] & 0xFFFFFF) == (rb[x] & 0xFFFFFF);
        }
    }
    cairo_surface_destroy(sa);
    cairo_surface_destroy(sb);
    return same;
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
        if (!StartTrayer(tray))
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
    // The client's large window named so while it is shown: the main window ("墨舟匣V4.0") and
    // the reading windows ("我的窗口") cover most of the screen.
    std::optional<Box> LargeWindowNamed(const std::string& name) {
        for (const auto& id : Windows("--all --pid " + std::to_string(client) + " --name '^" + name + "$'"))
            if (auto b = Geometry(id); b && b->w > 600 && b->h > 400)
                return b;
        return std::nullopt;
    }
    std::optional<Box> MainWindow() { return LargeWindowNamed("墨舟匣V4.0"); }
    // The client's large windows that are shown: the main window, and a reading window over it.
    std::vector<Box> LargeWindows() {
        std::vector<Box> boxes;
        for (const auto& id : Windows("--pid " + std::to_string(client)))
            if (auto b = Geometry(id); b && b->w > 600 && b->h > 400)
                boxes.push_back(*b);
        return boxes;
    }
    // The reading window shown over the main window, when there is one.
    std::optional<Box> ShownReader() { return LargeWindowNamed("我的窗口"); }
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
            XvfbDisplay::ShotPath("road_" + std::to_string(++shots) + "_" + step + ".png");
        std::system(("import -window root png24:" + path + " >/dev/null 2>&1").c_str());
        return path;
    }
    // Waits until the screen has changed from the last shot, shows a painted page (not one flat
    // colour) and has come to rest (two shots in a row alike), then keeps it as this step's shot.
    bool ShotOfChange(const std::string& step, const std::string& last) {
        const std::string a = XvfbDisplay::ShotPath("road_settle_a.png");
        const std::string b = XvfbDisplay::ShotPath("road_settle_b.png");
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

    // One of the store's packages, fetched as a file of this test; "" when it did not come.
    std::string FetchPackage(const std::string& pid) {
        const std::string file = root.sub(pid + ".exe");
        Output("python3 -c \"import urllib.request;open('" + file + "','wb').write(urllib.request.urlopen('" +
               storeUrl + "/packages/" + pid + ".exe').read())\"");
        std::error_code ec;
        return fs::file_size(file, ec) > 0 && !ec ? file : std::string();
    }

    // Waits until the reading window shows page n of a movie item: a good part of it in the
    // page's paper colour as the store draws it. The screen is then kept as the shot.
    bool MovieShowsPage(const Box& reader, const std::string& pid, int n, const std::string& shot) {
        uint32_t rgb = 0;
        if (!StorePagePaper("python3", PROJECT_SOURCE_DIR, pid, n, &rgb))
            return false;
        const int paper[3] = {static_cast<int>(rgb >> 16 & 0xFF), static_cast<int>(rgb >> 8 & 0xFF),
                              static_cast<int>(rgb & 0xFF)};
        const std::string crop = std::to_string(reader.w) + "x" + std::to_string(reader.h) + "+" +
                                 std::to_string(reader.x) + "+" + std::to_string(reader.y);
        return Until(
            [&] {
                if (std::system(
                        ("import -window root -crop " + crop + " +repage png24:" + shot + " >/dev/null 2>&1")
                            .c_str()) != 0)
                    return false;
                cairo_surface_t* s = cairo_image_surface_create_from_png(shot.c_str());
                size_t near = 0, all = 0;
                if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS) {
                    cairo_surface_flush(s);
                    const int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
                    for (int y = 0; y < h; y += 2) {
                        auto* row = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(s) +
                                                                      y * cairo_image_surface_get_stride(s));
                        for (int x = 0; x < w; x += 2, ++all) {
                            const int c[3] = {static_cast<int>(row[x] >> 16 & 0xFF),
                                              static_cast<int>(row[x] >> 8 & 0xFF),
                                              static_cast<int>(row[x] & 0xFF)};
                            near += std::abs(c[0] - paper[0]) <= 10 && std::abs(c[1] - paper[1]) <= 10 &&
                                    std::abs(c[2] - paper[2]) <= 10;
                        }
                    }
                }
                cairo_surface_destroy(s);
                return all > 0 && near * 10 > all;
            },
            kLimit);
    }

    // What xprop says of a property of a window ("-root" or the window's id), after its "=" or
    // ":"; "" when the window has none.
    static std::string Prop(const std::string& window, const char* atom) {
        const std::string out = Output("xprop -notype " + (window == "-root" ? window : "-id " + window) +
                                       " " + atom + " 2>/dev/null");
        const size_t at = out.find_first_of(":=");
        if (at == std::string::npos || out.find("not found") != std::string::npos ||
            out.find("no such atom") != std::string::npos)
            return "";
        size_t from = out.find_first_not_of(" ", at + 1);
        std::string v = from == std::string::npos ? "" : out.substr(from);
        while (!v.empty() && (v.back() == '\n' || v.back() == ' '))
            v.pop_back();
        return v;
    }
    // The windows a property names, as xdotool numbers them.
    static std::vector<std::string> WindowIds(const std::string& value) {
        std::vector<std::string> ids;
        for (size_t at = value.find("0x"); at != std::string::npos; at = value.find("0x", at + 2))
            ids.push_back(std::to_string(std::stoul(value.substr(at), nullptr, 16)));
        return ids;
    }
    // The window with the desktop's keyboard: the window manager's active window, or without one
    // the X server's input focus.
    static std::string ActiveWindow() {
        if (XvfbDisplay::WindowManagerWanted()) {
            auto ids = WindowIds(Prop("-root", "_NET_ACTIVE_WINDOW"));
            return ids.empty() ? "" : ids[0];
        }
        std::string id = Output("xdotool getwindowfocus -f 2>/dev/null");
        while (!id.empty() && id.back() == '\n')
            id.pop_back();
        return id;
    }
    // Under a window manager, whether it stacks window a above window b; without one the
    // program's own raising decides, and the screenshots show it.
    static bool StackedAbove(const std::string& a, const std::string& b) {
        if (!XvfbDisplay::WindowManagerWanted())
            return true;
        auto ids = WindowIds(Prop("-root", "_NET_CLIENT_LIST_STACKING")); // bottom first
        auto ia = std::find(ids.begin(), ids.end(), a), ib = std::find(ids.begin(), ids.end(), b);
        return ia != ids.end() && ib != ids.end() && ia > ib;
    }

    PeerProcess tray;
    int shots = 0;
};

// The box of a screenshot's pixels inside the region that the test says are of a colour.
inline std::optional<Box> ColourBox(const std::string& png, const Box& region,
                                    const std::function<bool(int r, int g, int b)>& wanted) {
    cairo_surface_t* s = cairo_image_surface_create_from_png(png.c_str());
    std::optional<Box> found;
    if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS) {
        cairo_surface_flush(s);
        int x0 = INT_MAX, y0 = INT_MAX, x1 = -1, y1 = -1;
        const int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
        for (int y = std::max(0, region.y); y < std::min(h, region.y + region.h); ++y) {
            auto* row = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(s) +
                                                          y * cairo_image_surface_get_stride(s));
            for (int x = std::max(0, region.x); x < std::min(w, region.x + region.w); ++x)
                if (wanted(row[x] >> 16 & 0xFF, row[x] >> 8 & 0xFF, row[x] & 0xFF)) {
                    x0 = std::min(x0, x);
                    y0 = std::min(y0, y);
                    x1 = std::max(x1, x);
                    y1 = std::max(y1, y);
                }
        }
        if (x1 >= 0)
            found = Box{x0, y0, x1 - x0 + 1, y1 - y0 + 1, ""};
    }
    cairo_surface_destroy(s);
    return found;
}

// How many pixels of a region two screenshots show clearly apart (a channel more than 48 off):
// text the engine draws again is not always the same to the last pixel, another text is far off.
inline size_t PixelsApart(const std::string& a, const std::string& b, const Box& region) {
    cairo_surface_t* sa = cairo_image_surface_create_from_png(a.c_str());
    cairo_surface_t* sb = cairo_image_surface_create_from_png(b.c_str());
    size_t apart = SIZE_MAX;
    if (cairo_surface_status(sa) == CAIRO_STATUS_SUCCESS &&
        cairo_surface_status(sb) == CAIRO_STATUS_SUCCESS &&
        cairo_image_surface_get_width(sa) == cairo_image_surface_get_width(sb) &&
        cairo_image_surface_get_height(sa) == cairo_image_surface_get_height(sb)) {
        cairo_surface_flush(sa);
        cairo_surface_flush(sb);
        apart = 0;
        const int w = cairo_image_surface_get_width(sa), h = cairo_image_surface_get_height(sa);
        for (int y = std::max(0, region.y); y < std::min(h, region.y + region.h); ++y) {
            auto* ra = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(sa) +
                                                         y * cairo_image_surface_get_stride(sa));
            auto* rb = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(sb) +
                                                         y * cairo_image_surface_get_stride(sb));
            for (int x = std::max(0, region.x); x < std::min(w, region.x + region.w); ++x)
                for (int shift : {0, 8, 16})
                    if (std::abs(static_cast<int>(ra[x] >> shift & 0xFF) -
                                 static_cast<int>(rb[x] >> shift & 0xFF)) > 48) {
                        ++apart;
                        break;
                    }
        }
    }
    cairo_surface_destroy(sa);
    cairo_surface_destroy(sb);
    return apart;
}

} // namespace clienttest
