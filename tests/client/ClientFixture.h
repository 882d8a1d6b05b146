// What the client tests share: the built program started against the replacement store on a
// private Xvfb (with openbox on it when the test asks for a window manager), with a fresh data
// root, and the outside programs that look at the screen (xdotool, ImageMagick). The test process
// only watches: it polls what it cannot wait on, since the client is another process.
#pragma once

#include "tests/support/PeerProcess.h"
#include "tests/support/TestFiles.h"
#include "tests/support/XvfbDisplay.h"

#include <gtest/gtest.h>

#include <cairo.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
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

    void StartClient() { client = Spawn({}); }
    // The client with these arguments, in this test's environment.
    pid_t Spawn(const std::vector<std::string>& args) {
        pid_t pid = fork();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            setenv("KESTRIN_STORE", storeUrl.c_str(), 1);
            setenv("XDG_DATA_HOME", root.sub("data").c_str(), 1);
            setenv("HOME", root.sub("home").c_str(), 1);
            setenv("XDG_RUNTIME_DIR", root.sub("run").c_str(), 1);
            unsetenv("WAYLAND_DISPLAY");
            // No session bus: the tray icon goes to the screen's XEmbed tray, the one the road
            // test runs.
            setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + root.sub("run/no_bus")).c_str(), 1);
            std::string log = std::string(PROJECT_BINARY_DIR) + "/client_e2e.log";
            freopen(log.c_str(), args.empty() ? "w" : "a", stderr);
            std::vector<char*> argv{const_cast<char*>(CLIENT_PATH)};
            for (const auto& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(CLIENT_PATH, argv.data());
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

    XvfbDisplay display;
    PeerProcess store;
    std::string storeUrl;
    TempDir root{"kestrin_client_"};
    pid_t client = -1;
};

} // namespace clienttest
