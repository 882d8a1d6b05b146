// A private X server for tests that need a screen: Xvfb on a display number it picks itself
// (-displayfd), so tests in parallel each have their own. Start returns once the server answers
// (it writes its number only when it accepts clients); the destructor stops it. Used from the
// test's main thread.
#pragma once

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
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
        return true;
    }

    const std::string& Name() const { return m_name; }

    void Stop() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            int st;
            waitpid(m_pid, &st, 0);
            m_pid = -1;
        }
    }

private:
    pid_t m_pid = -1;
    std::string m_name;
};
