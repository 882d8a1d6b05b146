// A private X server for tests that need a screen: Xvfb on a display number it picks itself
// (-displayfd), so tests in parallel each have their own. Start returns once the server answers
// (it writes its number only when it accepts clients); the destructor stops it. Used from the
// test's main thread.
//
// A user's desktop always runs a window manager, so every on-screen test can also run under
// one: with KESTRIN_TEST_WM=openbox in the environment (the ".openbox" copies of the on-screen
// tests set it), Start also starts openbox on the new screen and returns once it manages
// windows, and the destructor ends it with the server.
#pragma once

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <thread>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

class XvfbDisplay {
public:
    XvfbDisplay() = default;
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;
    ~XvfbDisplay() { Stop(); }

    // screen is Xvfb's WxHxD. On success the display name is ":N" and DISPLAY is set to it.
    bool Start(const std::string& screen = "1024x768x24", int waitMs = 20000) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return false;
        m_pid = fork();
        if (m_pid == 0) {
            // The server goes with the test process, even one that crashes or never runs its
            // destructors.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            int w = dup(fds[1]); // without close-on-exec, for Xvfb to write to
            std::string fd = std::to_string(w);
            int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten",
                   "tcp", "-noreset", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        std::string number;
        for (;;) {
            pollfd p{fds[0], POLLIN, 0};
            if (poll(&p, 1, waitMs) != 1)
                break;
            char buf[32];
            ssize_t n = read(fds[0], buf, sizeof buf);
            if (n <= 0)
                break;
            number.append(buf, static_cast<size_t>(n));
            if (number.find('\n') != std::string::npos)
                break;
        }
        close(fds[0]);
        if (number.empty() || number.find('\n') == std::string::npos) {
            Stop();
            return false;
        }
        m_name = ":" + number.substr(0, number.find('\n'));
        setenv("DISPLAY", m_name.c_str(), 1);
        if (WindowManagerWanted() && !StartWindowManager(waitMs)) {
            Stop();
            return false;
        }
        return true;
    }

    const std::string& Name() const { return m_name; }
    // Where a test keeps a screenshot in the build folder: under the name given on a bare screen,
    // with ".openbox" before the extension under the window manager, so that a test's two runs,
    // which may run at the same time, never write one file.
    static std::string ShotPath(const std::string& name) {
        std::string file = name;
        const size_t dot = file.rfind('.');
        if (WindowManagerWanted())
            file.insert(dot == std::string::npos ? file.size() : dot, ".openbox");
        return std::string(PROJECT_BINARY_DIR) + "/" + file;
    }
    // True when this screen runs a window manager (openbox) of its own.
    bool HasWindowManager() const { return m_wmPid > 0; }
    // Whether the tests of this process were asked to run under a window manager.
    static bool WindowManagerWanted() {
        const char* wm = std::getenv("KESTRIN_TEST_WM");
        return wm && std::string(wm) == "openbox";
    }

    void Stop() {
        if (m_wmPid > 0) {
            kill(m_wmPid, SIGTERM);
            int st;
            waitpid(m_wmPid, &st, 0);
            m_wmPid = -1;
        }
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            int st;
            waitpid(m_pid, &st, 0);
            m_pid = -1;
        }
    }

private:
    // What xprop prints of a property of a window ("-root" or "-id <id>"), without the name.
    std::string Property(const std::string& window, const char* atom) const {
        std::string cmd = "DISPLAY=" + m_name + " xprop -notype " + window + " " + atom + " 2>/dev/null";
        std::string out;
        if (FILE* p = popen(cmd.c_str(), "r")) {
            char buf[4096];
            for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
                out.append(buf, n);
            pclose(p);
        }
        size_t at = out.find_first_of(":=");
        return at == std::string::npos ? "" : out.substr(at + 1);
    }
    // The window a supporting-check property names, "" for none.
    std::string CheckWindow(const std::string& window) const {
        std::string v = Property(window, "_NET_SUPPORTING_WM_CHECK");
        size_t at = v.find("0x");
        return at == std::string::npos ? "" : v.substr(at, v.find_first_not_of("0123456789abcdefx", at) - at);
    }
    // openbox manages windows once the root names its check window, that window names itself,
    // and the list of what it supports (written last) holds the move request.
    bool StartWindowManager(int waitMs) {
        m_wmPid = fork();
        if (m_wmPid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
            execlp("openbox", "openbox", "--sm-disable", static_cast<char*>(nullptr));
            _exit(127);
        }
        if (m_wmPid < 0)
            return false;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        auto pause = std::chrono::milliseconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            int st;
            if (waitpid(m_wmPid, &st, WNOHANG) == m_wmPid) {
                m_wmPid = -1;
                return false;
            }
            std::string check = CheckWindow("-root");
            if (!check.empty() && CheckWindow("-id " + check) == check &&
                Property("-root", "_NET_SUPPORTED").find("_NET_WM_MOVERESIZE") != std::string::npos)
                return true;
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, std::chrono::milliseconds(100));
        }
        return false;
    }

    pid_t m_pid = -1;
    pid_t m_wmPid = -1;
    std::string m_name;
};
