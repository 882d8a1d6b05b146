// Starts an outside program as a test peer (a Python server, nginx...), reads the first line it
// prints (a port, for servers that choose their own) and ends it with the test.
#pragma once

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

class PeerProcess {
public:
    PeerProcess() = default;
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;
    ~PeerProcess() { Stop(); }

    // argv[0] is looked up on PATH. The peer's stdin is a pipe that closes when the test ends.
    bool Start(const std::vector<std::string>& argv, bool readFirstLine = true, int waitMs = 15000) {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
            return false;
        m_pid = fork();
        if (m_pid == 0) {
            // A peer goes with a test process that crashes, so it cannot hold the test's output
            // open and keep ctest waiting.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            dup2(in[0], 0);
            dup2(out[1], 1);
            std::vector<char*> args;
            for (auto& a : argv)
                args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            execvp(args[0], args.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        m_stdin = in[1];
        m_stdout = out[0];
        if (!readFirstLine)
            return m_pid > 0;
        m_pending.clear();
        return ReadLine(m_firstLine, waitMs);
    }

    // The next line the peer prints (after the first, when Start read that), without its newline;
    // false when none comes within waitMs or the peer closed its output.
    bool ReadLine(std::string& line, int waitMs = 15000) {
        while (m_pending.find('\n') == std::string::npos) {
            pollfd p{m_stdout, POLLIN, 0};
            if (poll(&p, 1, waitMs) != 1)
                return false;
            char buf[256];
            ssize_t n = read(m_stdout, buf, sizeof buf);
            if (n <= 0)
                return false;
            m_pending.append(buf, static_cast<size_t>(n));
        }
        size_t nl = m_pending.find('\n');
        line = m_pending.substr(0, nl);
        m_pending.erase(0, nl + 1);
        return true;
    }
    // Writes to the peer's stdin.
    bool Send(const std::string& text) {
        return m_stdin >= 0 && write(m_stdin, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }
    // Signals the peer and waits for it to end; the wait status, or -1 when there is no peer.
    int KillAndWait(int sig) {
        if (m_pid <= 0)
            return -1;
        kill(m_pid, sig);
        return WaitExit();
    }
    // True once the peer has ended by itself, without waiting; its wait status then goes to
    // *status. For a test that serves the peer on its own thread meanwhile.
    bool Ended(int* status) {
        if (m_pid <= 0)
            return false;
        int st = -1;
        if (waitpid(m_pid, &st, WNOHANG) != m_pid)
            return false;
        m_pid = -1;
        *status = st;
        return true;
    }
    // Waits for the peer to end by itself; the wait status.
    int WaitExit() {
        if (m_pid <= 0)
            return -1;
        int st = -1;
        waitpid(m_pid, &st, 0);
        m_pid = -1;
        return st;
    }

    const std::string& FirstLine() const { return m_firstLine; }
    int Port() const { return std::atoi(m_firstLine.c_str()); }

    void Stop() {
        if (m_stdin >= 0)
            close(m_stdin);
        m_stdin = -1;
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            int st;
            waitpid(m_pid, &st, 0);
            m_pid = -1;
        }
        if (m_stdout >= 0)
            close(m_stdout);
        m_stdout = -1;
    }

    // A port nobody listens on right now, for servers that must be told theirs.
    static int FreePort() {
        int s = (::socket)(AF_INET, SOCK_STREAM, 0); // the POSIX call, not the Winsock stand-in
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(s, reinterpret_cast<sockaddr*>(&a), static_cast<socklen_t>(sizeof a));
        socklen_t len = sizeof a;
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
        close(s);
        return ntohs(a.sin_port);
    }

    // Waits until something accepts connections on the port.
    static bool WaitListening(int port, int waitMs = 15000) {
        for (int t = 0; t < waitMs; t += 50) {
            int s = (::socket)(AF_INET, SOCK_STREAM, 0); // the POSIX call, not the Winsock stand-in
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(static_cast<uint16_t>(port));
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), static_cast<socklen_t>(sizeof a)) == 0;
            close(s);
            if (ok)
                return true;
            usleep(50000);
        }
        return false;
    }

private:
    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_stdout = -1;
    std::string m_firstLine;
    std::string m_pending; // what the peer printed past the lines read so far
};

// Python's http.server from the standard library as a test peer, serving the files of `dir` on the
// loopback port given. True once it accepts connections.
inline bool StartPythonFileServer(PeerProcess& server, const std::string& dir, int port) {
    return server.Start({"python3", "-m", "http.server", std::to_string(port), "--bind", "127.0.0.1",
                         "--directory", dir},
                        false) &&
           PeerProcess::WaitListening(port);
}
