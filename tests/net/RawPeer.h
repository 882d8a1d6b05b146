// A scripted HTTP peer on a loopback port, in plain sockets: it keeps every request byte for byte
// and answers each connection with whatever the test's handler writes, including nothing at all.
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class RawPeer {
public:
    // The handler gets the connection, the request as received (header and any body of the
    // Content-Length it names) and its number, counting from 0. The peer closes the connection
    // after the handler returns, unless the handler closed it.
    using Handler = std::function<void(RawPeer& peer, int fd, const std::string& request, int index)>;

    enum Mode {
        kAnswer,   // reads each request, then runs the handler
        kNoRead,   // runs the handler at once, with an empty request
        kNoAccept, // accepts nothing: the backlog fills and later connects wait
    };

    explicit RawPeer(Handler handler, Mode mode = kAnswer, int backlog = 16)
        : m_handler(std::move(handler)), m_mode(mode) {
        signal(SIGPIPE, SIG_IGN);
        m_listen = (::socket)(AF_INET, SOCK_STREAM, 0); // the POSIX call, not the Winsock stand-in
        int on = 1;
        setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), static_cast<socklen_t>(sizeof a));
        ::listen(m_listen, backlog);
        socklen_t len = sizeof a;
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        if (mode != kNoAccept)
            m_acceptThread = std::thread([this] { AcceptLoop(); });
    }
    ~RawPeer() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_cv.notify_all();
        ::shutdown(m_listen, SHUT_RDWR);
        if (m_acceptThread.joinable())
            m_acceptThread.join();
        for (auto& t : m_threads)
            t.join();
        close(m_listen);
    }
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;

    int Port() const { return m_port; }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(m_port) + path;
    }

    std::vector<std::string> Requests() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }

    // Waits until the peer is being destroyed or the time has passed: a silent handler's sleep.
    void WaitForEnd(std::chrono::milliseconds most = std::chrono::seconds(120)) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait_for(lock, most, [this] { return m_stop; });
    }

    static bool Write(int fd, const std::string& s) {
        size_t done = 0;
        while (done < s.size()) {
            ssize_t n = ::write(fd, s.data() + done, s.size() - done);
            if (n <= 0)
                return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }

    // Makes the close after the handler a reset rather than an orderly close.
    static void ResetOnClose(int fd) {
        linger l{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }

private:
    void AcceptLoop() {
        for (int index = 0;; ++index) {
            int fd = ::accept(m_listen, nullptr, nullptr);
            if (fd < 0)
                return;
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stop) {
                close(fd);
                return;
            }
            m_threads.emplace_back([this, fd, index] {
                std::string request = m_mode == kAnswer ? ReadRequest(fd) : std::string();
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_requests.push_back(request);
                }
                m_handler(*this, fd, request, index);
                close(fd);
            });
        }
    }

    std::string ReadRequest(int fd) {
        std::string data;
        char buf[65536];
        size_t want = std::string::npos;
        while (data.size() < want) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 30000) != 1)
                break;
            ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0)
                break;
            data.append(buf, static_cast<size_t>(n));
            size_t end = data.find("\r\n\r\n");
            if (end != std::string::npos && want == std::string::npos) {
                size_t length = 0;
                size_t at = data.find("\r\nContent-Length: ");
                if (at != std::string::npos && at < end)
                    length = std::strtoul(data.c_str() + at + 18, nullptr, 10);
                want = end + 4 + length;
            }
        }
        return data;
    }

    Handler m_handler;
    Mode m_mode;
    int m_listen = -1;
    int m_port = 0;
    std::thread m_acceptThread;
    std::vector<std::thread> m_threads;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_stop = false;
    std::vector<std::string> m_requests;
};
