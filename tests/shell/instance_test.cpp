#include "platform/shell/SingleInstance.h"

#include "tests/shell/ShellTestWindow.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using shelltest::TestWindow;

namespace {

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// Reads the peer's lines until one equals want; the lines read go into seen.
bool AwaitLine(PeerProcess& peer, const std::string& want, std::vector<std::string>* seen = nullptr) {
    std::string line;
    while (peer.ReadLine(line)) {
        if (seen)
            seen->push_back(line);
        if (line == want)
            return true;
    }
    return false;
}

// Every test runs with a runtime folder of its own and names no other test uses, so that test
// runs side by side (and the real program) never meet.
class InstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(m_runtime.path().empty());
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        m_hadRuntime = old != nullptr;
        if (old)
            m_oldRuntime = old;
        setenv("XDG_RUNTIME_DIR", m_runtime.path().c_str(), 1);
        static int counter = 0;
        std::string tag = std::to_string(getpid()) + "-" + std::to_string(++counter);
        m_mutex = "kestrin4.0-test-" + tag;
        m_property = "kestrin4.0-test-" + tag;
    }
    void TearDown() override {
        if (m_hadRuntime)
            setenv("XDG_RUNTIME_DIR", m_oldRuntime.c_str(), 1);
        else
            unsetenv("XDG_RUNTIME_DIR");
    }

    // A running instance; its window is up when this returns true.
    bool StartFirst(PeerProcess& first, bool minimized = false) {
        std::vector<std::string> argv{SHELL_INSTANCE_PEER, "first", m_mutex, m_property};
        if (minimized)
            argv.push_back("minimized");
        if (!first.Start(argv))
            return false;
        EXPECT_EQ(first.FirstLine(), "mutex 0");
        return AwaitLine(first, "ready");
    }

    // A later start that hands bytes over; its output lines, once it has ended by itself.
    std::vector<std::string> RunSecond(const std::string& bytes, int* status) {
        PeerProcess second;
        std::vector<std::string> lines;
        if (!second.Start({SHELL_INSTANCE_PEER, "second", m_mutex, m_property, Hex(bytes)}))
            return lines;
        lines.push_back(second.FirstLine());
        std::string line;
        while (second.ReadLine(line))
            lines.push_back(line);
        *status = second.WaitExit();
        return lines;
    }

    // The walk the program makes over the top-level windows.
    HWND FindByProperty() {
        HWND h = GetWindow(GetDesktopWindow(), GW_CHILD);
        while (h && !GetPropA(h, m_property.c_str()))
            h = GetWindow(h, GW_HWNDNEXT);
        return h;
    }

    TempDir m_runtime{"shell_runtime_"};
    std::string m_mutex;
    std::string m_property;
    std::string m_oldRuntime;
    bool m_hadRuntime = false;
};

TEST_F(InstanceTest, SecondStartFindsTheFirstHandsItsExactBytesOverAndEnds) {
    PeerProcess first;
    ASSERT_TRUE(StartFirst(first));
    // "-p " and a path with GBK bytes; a zero and a high byte inside must cross as they are.
    const std::string bytes = std::string("-p \\opt\\\xC4\xAB\xD6\xDB\\kestrin.exe") + '\0' + "\xFF";
    int status = -1;
    auto lines = RunSecond(bytes, &status);
    EXPECT_EQ(lines, (std::vector<std::string>{"mutex 183", "result 77"}));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::vector<std::string> seen;
    EXPECT_TRUE(AwaitLine(first, "copydata 0 0 " + std::to_string(bytes.size()) + " " + Hex(bytes), &seen))
        << ::testing::PrintToString(seen);

    // An empty hand-over crosses too, and the first keeps serving.
    lines = RunSecond("", &status);
    EXPECT_EQ(lines, (std::vector<std::string>{"mutex 183", "result 77"}));
    EXPECT_TRUE(AwaitLine(first, "copydata 0 0 0 "));
}

TEST_F(InstanceTest, AfterTheFirstEndsANewStartIsTheFirst) {
    struct Case {
        const char* name;
        int signal; // 0: the first ends by itself
    };
    for (const Case c : {Case{"exit", 0}, Case{"SIGKILL", SIGKILL}}) {
        SCOPED_TRACE(c.name);
        {
            PeerProcess first;
            ASSERT_TRUE(StartFirst(first));
            if (c.signal) {
                int st = first.KillAndWait(c.signal);
                ASSERT_TRUE(WIFSIGNALED(st) && WTERMSIG(st) == c.signal);
            } else {
                first.Send("exit\n");
                ASSERT_TRUE(AwaitLine(first, "did exit"));
                int st = first.WaitExit();
                ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
            }
        }
        PeerProcess next;
        ASSERT_TRUE(StartFirst(next)); // expects "mutex 0"
        int status = -1;
        auto lines = RunSecond("-p x", &status);
        EXPECT_EQ(lines, (std::vector<std::string>{"mutex 183", "result 77"}));
        EXPECT_TRUE(AwaitLine(next, "copydata 0 0 4 " + Hex("-p x")));
    }
}

TEST_F(InstanceTest, WithTheWindowGoneTheSecondStartFindsNothing) {
    PeerProcess first;
    ASSERT_TRUE(StartFirst(first));
    first.Send("unprop\n");
    ASSERT_TRUE(AwaitLine(first, "did unprop"));
    int status = -1;
    EXPECT_EQ(RunSecond("-p x", &status), (std::vector<std::string>{"mutex 183", "none"}));
    EXPECT_EQ(FindByProperty(), nullptr);
}

TEST_F(InstanceTest, ForeignWindowIsRestoredRaisedAndItsPopupFound) {
    PeerProcess first;
    ASSERT_TRUE(StartFirst(first, true));
    // A window of this process comes first in the walk; the other process's follows it.
    TestWindow own;
    HWND h = FindByProperty();
    ASSERT_NE(h, nullptr);
    EXPECT_NE(h, own.hWnd());
    EXPECT_EQ(GetPropA(h, m_property.c_str()), reinterpret_cast<HANDLE>(1));
    EXPECT_EQ(GetPropA(h, "another property"), nullptr);

    EXPECT_TRUE(IsIconic(h));
    ShowWindow(h, SW_RESTORE);
    EXPECT_TRUE(AwaitLine(first, "restored"));
    EXPECT_FALSE(IsIconic(h));

    // The restore raised it already; only what follows the mark is the foreground call's doing.
    first.Send("mark\n");
    ASSERT_TRUE(AwaitLine(first, "did mark"));
    EXPECT_TRUE(SetForegroundWindow(h));
    EXPECT_TRUE(AwaitLine(first, "raised main"));
    EXPECT_EQ(GetLastActivePopup(h), h);

    first.Send("popup\n");
    ASSERT_TRUE(AwaitLine(first, "did popup"));
    HWND popup = GetLastActivePopup(h);
    ASSERT_NE(popup, nullptr);
    EXPECT_NE(popup, h);
    EXPECT_TRUE(SetForegroundWindow(popup));
    EXPECT_TRUE(AwaitLine(first, "raised popup"));
}

TEST_F(InstanceTest, StuckFirstInstanceGivesNoAnswerWithinTheBound) {
    PeerProcess first;
    ASSERT_TRUE(StartFirst(first));
    HWND h = FindByProperty();
    ASSERT_NE(h, nullptr);
    first.Send("hang\n");
    ASSERT_TRUE(AwaitLine(first, "hanging"));
    DWORD old = afxshell::SetCrossProcessWait(200);
    std::string text = "-p y";
    COPYDATASTRUCT cds{0, static_cast<DWORD>(text.size()), text.data()};
    EXPECT_EQ(SendMessageA(h, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)), 0);
    EXPECT_FALSE(SetForegroundWindow(h));
    afxshell::SetCrossProcessWait(old);

    first.Send("\n");
    ASSERT_TRUE(AwaitLine(first, "did hang"));
    EXPECT_EQ(SendMessageA(h, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)), 77);
}

TEST_F(InstanceTest, EndpointSurvivesPeersThatSendGarbageOrNothing) {
    PeerProcess first;
    ASSERT_TRUE(StartFirst(first));
    std::string name = afxshell::WindowPropertyEndpoint(m_property);
    ASSERT_FALSE(name.empty());
    auto connectRaw = [&] {
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, name.data(), name.size());
        EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        return fd;
    };
    // Bytes that are no request: the endpoint hangs up.
    int garbage = connectRaw();
    std::string junk(64, '\xFF');
    ASSERT_EQ(write(garbage, junk.data(), junk.size()), static_cast<ssize_t>(junk.size()));
    char c;
    EXPECT_EQ(read(garbage, &c, 1), 0);
    close(garbage);
    // More silent peers than the endpoint keeps: a real request still gets through.
    std::vector<int> silent;
    for (int i = 0; i < 40; ++i)
        silent.push_back(connectRaw());
    int status = -1;
    EXPECT_EQ(RunSecond("-p z", &status), (std::vector<std::string>{"mutex 183", "result 77"}));
    EXPECT_TRUE(AwaitLine(first, "copydata 0 0 4 " + Hex("-p z")));
    for (int fd : silent)
        close(fd);
}

// Another user of the machine binds the name of the program's endpoint before the program runs,
// in the abstract namespace and as a file: the running instance still publishes its window, a
// second start still hands over to it, and the other user cannot talk to it.
TEST_F(InstanceTest, AnotherUserCannotTakeTheWindowsEndpoint) {
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can run a process of another user";
    const std::string name = afxshell::WindowPropertyEndpoint(m_property);
    ASSERT_FALSE(name.empty());
    auto address = [&](bool abstract, sockaddr_un& a) {
        a = sockaddr_un{};
        a.sun_family = AF_UNIX;
        std::memcpy(a.sun_path + (abstract ? 1 : 0), name.data(),
                    std::min(name.size(), sizeof a.sun_path - 1));
        return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + (abstract ? 1 : 0) + name.size());
    };
    int toSquatter[2], fromSquatter[2];
    ASSERT_EQ(pipe(toSquatter), 0);
    ASSERT_EQ(pipe(fromSquatter), 0);
    pid_t squatter = fork();
    if (squatter == 0) {
        // The account "nobody": no group, no home, nothing of this user's.
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
            _exit(1);
        char report[3] = {'-', '-', '\n'};
        for (int abstract = 1; abstract >= 0; --abstract) {
            sockaddr_un a;
            socklen_t len = address(abstract != 0, a);
            int fd = socket(AF_UNIX, SOCK_STREAM, 0);
            if (bind(fd, reinterpret_cast<sockaddr*>(&a), len) == 0 && listen(fd, 8) == 0)
                report[1 - abstract] = 'b';
        }
        (void)!write(fromSquatter[1], report, sizeof report);
        // Once the first instance runs: try to reach it.
        char c;
        (void)!read(toSquatter[0], &c, 1);
        sockaddr_un a;
        socklen_t len = address(false, a);
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        const char* answer =
            connect(fd, reinterpret_cast<sockaddr*>(&a), len) == 0 ? "reached\n" : "refused\n";
        (void)!write(fromSquatter[1], answer, std::strlen(answer));
        pause();
        _exit(0);
    }
    ASSERT_GT(squatter, 0);
    auto readReport = [&] {
        std::string line;
        char c;
        while (read(fromSquatter[0], &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    };
    const std::string bound = readReport();
    // Whatever it could bind, the abstract name at least: the program no longer looks there.
    EXPECT_EQ(bound.size(), 2u) << "the squatter did not run";

    PeerProcess first;
    EXPECT_TRUE(StartFirst(first));
    int status = -1;
    EXPECT_EQ(RunSecond("-p x", &status), (std::vector<std::string>{"mutex 183", "result 77"}));
    EXPECT_TRUE(AwaitLine(first, "copydata 0 0 4 " + Hex("-p x")));

    (void)!write(toSquatter[1], "g", 1);
    EXPECT_EQ(readReport(), "refused");
    kill(squatter, SIGKILL);
    waitpid(squatter, nullptr, 0);
    for (int fd : {toSquatter[0], toSquatter[1], fromSquatter[0], fromSquatter[1]})
        close(fd);
}

TEST_F(InstanceTest, OfStartsAtTheSameTimeExactlyOneIsTheFirst) {
    constexpr int kStarts = 6;
    PeerProcess starts[kStarts];
    for (auto& p : starts)
        ASSERT_TRUE(p.Start({SHELL_INSTANCE_PEER, "first", m_mutex, m_property}, false));
    int firsts = 0;
    for (auto& p : starts) {
        std::string line;
        ASSERT_TRUE(p.ReadLine(line));
        EXPECT_TRUE(line == "mutex 0" || line == "mutex 183") << line;
        firsts += line == "mutex 0";
    }
    EXPECT_EQ(firsts, 1);
}

TEST_F(InstanceTest, MutexNameStaysTakenWhileAnyHandleToItLives) {
    HANDLE a = CreateMutexA(nullptr, TRUE, m_mutex.c_str());
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    HANDLE b = CreateMutexA(nullptr, TRUE, m_mutex.c_str());
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(CloseHandle(a));
    HANDLE c = CreateMutexA(nullptr, TRUE, m_mutex.c_str());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(CloseHandle(b));
    EXPECT_TRUE(CloseHandle(c));
    HANDLE d = CreateMutexA(nullptr, TRUE, m_mutex.c_str());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));

    // Another process sees it taken, and another name is free.
    PeerProcess other;
    ASSERT_TRUE(other.Start({SHELL_INSTANCE_PEER, "second", m_mutex, m_property, ""}));
    EXPECT_EQ(other.FirstLine(), "mutex 183");
    HANDLE e = CreateMutexA(nullptr, TRUE, (m_mutex + "-other").c_str());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    CloseHandle(d);
    CloseHandle(e);
}

} // namespace
