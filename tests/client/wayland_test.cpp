// The client in a Wayland session, as the desktops most users run start it: a Wayland compositor
// (weston, on its headless backend, in a runtime folder of its own) with WAYLAND_DISPLAY set. With
// the session's XWayland the client runs on that X server and its main window shows the store
// page there (the screenshot goes to the build folder); in a session without an X server it says
// so and ends.
#include "tests/client/ClientFixture.h"
#include "tests/support/ScopedEnv.h"

namespace {

using namespace clienttest;
namespace fs = std::filesystem;

class WaylandSessionTest : public ClientRoadTest {
protected:
    WaylandSessionTest() { ownScreen = false; }
    void TearDown() override {
        ClientRoadTest::TearDown();
        compositor.Stop();
        testEnv.Restore();
    }

    // The compositor, with XWayland or without; with it, the X display it offers (":N"), which
    // the test's own X tools then use too.
    bool StartSession(bool xwayland) {
        const std::string log = root.sub("weston.log");
        std::vector<std::string> argv{"env",           "XDG_RUNTIME_DIR=" + root.sub("run"),
                                      "weston",        "--backend=headless-backend.so",
                                      "--use-pixman",  "--no-config",
                                      "--idle-time=0", "--socket=" + std::string(kSocket),
                                      "--width=1280",  "--height=800",
                                      "--log=" + log};
        if (xwayland)
            argv.push_back("--xwayland");
        if (!compositor.Start(argv, false))
            return false;
        const std::string socket = root.sub("run/") + kSocket;
        const std::string mark = "xserver listening on display ";
        bool up = Until(
            [&] {
                const std::string text = ReadAll(log);
                if (!fs::exists(socket) || (xwayland && text.find(mark) == std::string::npos))
                    return false;
                if (xwayland)
                    xDisplay = text.substr(text.find(mark) + mark.size(),
                                           text.find('\n', text.find(mark)) - text.find(mark) - mark.size());
                return true;
            },
            std::chrono::seconds(30));
        if (!up) {
            ADD_FAILURE() << "weston did not come up; its log:\n" << ReadAll(log);
            return false;
        }
        env.push_back({"WAYLAND_DISPLAY", kSocket});
        env.push_back({"GDK_BACKEND", ""});
        env.push_back({"DISPLAY", xDisplay});
        if (!xDisplay.empty())
            testEnv.Set("DISPLAY", xDisplay);
        return true;
    }

    static constexpr char kSocket[] = "wayland-kestrin";
    PeerProcess compositor;
    std::string xDisplay;
    ScopedEnv testEnv;
};

TEST_F(WaylandSessionTest, RunsOnTheSessionsXWaylandAndShowsTheStorePage) {
    ASSERT_TRUE(StartSession(true));
    ASSERT_FALSE(xDisplay.empty());
    StartClient();
    // The store page painted and called the program (its report comes after window.external's
    // C_HtmlLoad).
    ASSERT_TRUE(Until([&] { return Layouts().size() >= 1; }, kLimit))
        << "the store page never reported; the store's log:\n"
        << StoreLog() << "\nthe client's:\n"
        << ReadAll(LogPath());
    std::optional<Box> win;
    ASSERT_TRUE(Until([&] { return (win = MainWindow()).has_value(); }, kLimit))
        << "no main window on the XWayland screen " << xDisplay;
    EXPECT_GE(win->w, 1000);
    EXPECT_GE(win->h, 700);
    // Rootless XWayland has no picture of its root window: the window itself is shot.
    const std::string shot = std::string(PROJECT_BINARY_DIR) + "/client_wayland_store.png";
    EXPECT_TRUE(Until(
        [&] {
            return std::system(
                       ("import -window " + win->id + " png24:" + shot + " >/dev/null 2>&1").c_str()) == 0 &&
                   ColoursOf(shot) > 16;
        },
        kLimit))
        << "the main window never showed a painted page: " << shot;

    ASSERT_EQ(kill(client, SIGTERM), 0);
    EXPECT_EQ(ExitStatus(std::chrono::seconds(30)), 0);
}

TEST_F(WaylandSessionTest, WithoutAnXServerSaysSoAndEnds) {
    ASSERT_TRUE(StartSession(false));
    StartClient();
    const int status = ExitStatus(std::chrono::seconds(30));
    EXPECT_NE(status, -1) << "the client runs on without a display";
    EXPECT_NE(status, 0);
    EXPECT_NE(ReadAll(LogPath()).find("Wayland session (wayland-kestrin) offers no X server"),
              std::string::npos)
        << ReadAll(LogPath());
}

} // namespace
