#include "platform/kernel/Threads.h"
#include "platform/net/Net.h"
#include "platform/user/User.h"
#include "tests/support/WaitFor.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point t) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

using testwait::WaitFor;

// Whether data waits on the descriptor, as the system sees it.
bool Readable(SOCKET s) {
    pollfd p{static_cast<int>(s), POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

// What the server side saw, in order, and on which thread.
struct Recorder {
    std::mutex m;
    std::vector<std::string> events;
    std::vector<DWORD> threads;
    std::string data;
    void Add(const std::string& e) {
        std::lock_guard<std::mutex> lock(m);
        events.push_back(e);
        threads.push_back(GetCurrentThreadId());
    }
    int Count(const std::string& e) {
        std::lock_guard<std::mutex> lock(m);
        int n = 0;
        for (auto& x : events)
            n += x == e ? 1 : 0;
        return n;
    }
    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> lock(m);
        return events;
    }
};

std::atomic<int> g_liveConns{0};

class CTestConn : public CAsyncSocket {
public:
    explicit CTestConn(Recorder* rec) : m_rec(rec) { g_liveConns++; }
    ~CTestConn() override { g_liveConns--; }
    void OnReceive(int) override {
        char buf[4]; // small on purpose: one notification per piece is not enough
        int n = Receive(buf, sizeof buf);
        if (n > 0) {
            std::lock_guard<std::mutex> lock(m_rec->m);
            m_rec->data.append(buf, static_cast<size_t>(n));
        }
        m_rec->Add("receive");
        if (m_reply.size() && m_rec->data.find("\r\n\r\n") != std::string::npos)
            AsyncSelect(FD_WRITE | FD_CLOSE);
    }
    void OnSend(int) override {
        m_rec->Add("send");
        if (!m_reply.empty()) {
            Send(m_reply.data(), static_cast<int>(m_reply.size()));
            m_reply.clear();
            ShutDown(both);
        }
    }
    void OnClose(int) override {
        std::string at;
        {
            std::lock_guard<std::mutex> lock(m_rec->m);
            at = "close after " + std::to_string(m_rec->data.size());
        }
        m_rec->Add(at);
    }
    std::string m_reply;
    Recorder* m_rec;
};

class CTestListener : public CAsyncSocket {
public:
    explicit CTestListener(Recorder* rec) : m_rec(rec) {}
    void OnAccept(int) override {
        m_rec->Add("accept");
        auto conn = std::make_unique<CTestConn>(m_rec);
        conn->m_reply = m_reply;
        if (Accept(*conn)) {
            conn->AsyncSelect(m_connEvents);
            conns.push_back(std::move(conn));
        }
    }
    UINT Port() {
        CString addr;
        UINT port = 0;
        GetSockName(addr, port);
        return port;
    }
    std::vector<std::unique_ptr<CTestConn>> conns;
    long m_connEvents = FD_READ | FD_CLOSE;
    std::string m_reply;
    Recorder* m_rec;
};

// A thread that owns sockets and runs the pump the local server's thread runs: look, take,
// dispatch, or wait for the next message when nothing waits.
class ServerThread {
public:
    explicit ServerThread(std::function<void()> setup) {
        m_thread = std::thread([this, setup] {
            AfxSocketInit();
            setup();
            m_tid = GetCurrentThreadId();
            MSG msg;
            while (!m_stop) {
                if (PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
                    if (!GetMessage(&msg, nullptr, 0, 0))
                        continue;
                    if (msg.hwnd == nullptr && msg.message == 1000) {
                        m_onCall();
                        continue;
                    }
                    TranslateMessage(&msg);
                    DispatchMessage(&msg);
                } else {
                    WaitMessage();
                }
            }
            m_teardown();
        });
        WaitFor([this] { return m_tid.load() != 0; });
    }
    // Runs f on the server thread, between notifications.
    void Call(std::function<void()> f) {
        std::atomic<bool> done{false};
        m_onCall = [&] {
            f();
            done = true;
        };
        PostThreadMessage(m_tid, 1000, 0, 0);
        WaitFor([&] { return done.load(); });
    }
    void Stop(std::function<void()> teardown) {
        m_teardown = std::move(teardown);
        m_stop = true;
        PostThreadMessage(m_tid, WM_NULL, 0, 0); // wakes the wait
        m_thread.join();
    }
    DWORD Tid() const { return m_tid; }

private:
    std::thread m_thread;
    std::atomic<DWORD> m_tid{0};
    std::atomic<bool> m_stop{false};
    std::function<void()> m_onCall;
    std::function<void()> m_teardown = [] {};
};

SOCKET ConnectLoopback(UINT port) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_NE(s, INVALID_SOCKET);
    SOCKADDR_IN addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<u_short>(port));
    addr.sin_addr.s_addr = inet_addr("127.0.0.1");
    EXPECT_EQ(connect(s, reinterpret_cast<SOCKADDR*>(&addr), sizeof addr), 0) << WSAGetLastError();
    return s;
}

TEST(NetAsyncTest, AcceptReceiveInPiecesAndCloseOnceOnTheOwningThread) {
    Recorder rec;
    std::unique_ptr<CTestListener> listener;
    std::atomic<UINT> port{0};
    ServerThread server([&] {
        listener = std::make_unique<CTestListener>(&rec);
        ASSERT_TRUE(listener->Create(0, SOCK_STREAM, FD_ACCEPT, "127.0.0.1"));
        ASSERT_TRUE(listener->Listen(5));
        port = listener->Port();
    });
    ASSERT_NE(port.load(), 0u);
    SOCKET s = ConnectLoopback(port);
    const std::string pieces[] = {"GET /a", " HTTP/1.0\r\n", "Host: x\r\n\r\n"};
    std::string all;
    for (const std::string& p : pieces) {
        EXPECT_EQ(send(s, p.data(), static_cast<int>(p.size()), 0), static_cast<int>(p.size()));
        all += p;
        Sleep(60);
    }
    closesocket(s);
    std::string closeEvent = "close after " + std::to_string(all.size());
    EXPECT_TRUE(WaitFor([&] { return rec.Count(closeEvent) == 1; }))
        << ::testing::PrintToString(rec.Events());
    Sleep(200); // nothing more may come
    auto events = rec.Events();
    EXPECT_EQ(rec.Count(closeEvent), 1);
    EXPECT_EQ(rec.Count("accept"), 1);
    EXPECT_GE(rec.Count("receive"), static_cast<int>(all.size() / 4));
    EXPECT_EQ(events.back(), closeEvent) << "the close comes after the data";
    {
        std::lock_guard<std::mutex> lock(rec.m);
        EXPECT_EQ(rec.data, all);
        for (DWORD t : rec.threads)
            EXPECT_EQ(t, server.Tid());
    }
    server.Stop([&] { listener.reset(); });
}

TEST(NetAsyncTest, SelectingWriteGivesOneSendAtOnce) {
    Recorder rec;
    std::unique_ptr<CTestListener> listener;
    std::atomic<UINT> port{0};
    ServerThread server([&] {
        listener = std::make_unique<CTestListener>(&rec);
        listener->Create(0, SOCK_STREAM, FD_ACCEPT, "127.0.0.1");
        listener->Listen();
        port = listener->Port();
    });
    SOCKET s = ConnectLoopback(port);
    ASSERT_TRUE(WaitFor([&] { return rec.Count("accept") == 1; }));
    server.Call([&] {
        ASSERT_EQ(listener->conns.size(), 1u);
        listener->conns[0]->AsyncSelect(FD_WRITE | FD_CLOSE);
    });
    EXPECT_TRUE(WaitFor([&] { return rec.Count("send") == 1; }));
    Sleep(200);
    EXPECT_EQ(rec.Count("send"), 1) << "a writable socket repeats no OnSend by itself";
    // Selecting again gives one more.
    server.Call([&] { listener->conns[0]->AsyncSelect(FD_WRITE | FD_CLOSE); });
    EXPECT_TRUE(WaitFor([&] { return rec.Count("send") == 2; }));
    closesocket(s);
    EXPECT_TRUE(WaitFor([&] { return rec.Count("close after 0") == 1; }));
    server.Stop([&] { listener.reset(); });
}

// A notification already queued for a socket that is then closed must not reach it, nor the
// socket that gets the same descriptor number right after, nor an event no longer selected.
TEST(NetAsyncTest, NothingArrivesAfterCloseEvenWhenTheDescriptorIsReused) {
    Recorder rec;
    std::atomic<UINT> port{0};
    std::atomic<bool> ready{false};
    std::atomic<bool> sameFd{false};
    // Receives after the close of one connection and the deselection of FD_READ on the other.
    std::atomic<int> receivesAfterClose{-1};
    std::thread owner([&] {
        AfxSocketInit();
        CTestListener listener(&rec);
        listener.Create(0, SOCK_STREAM, FD_ACCEPT, "127.0.0.1");
        listener.Listen();
        port = listener.Port();
        MSG msg;
        testwait::PumpUntil([&] { return listener.conns.size() == 2; });
        ready = true;
        // The peer has written to both: once both descriptors hold data, one look at the queue
        // queues both read notifications without dispatching them.
        EXPECT_TRUE(WaitFor([&] {
            return Readable(listener.conns[0]->m_hSocket) && Readable(listener.conns[1]->m_hSocket);
        }));
        PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE);
        int before = rec.Count("receive");
        SOCKET oldFd = listener.conns[0]->m_hSocket;
        listener.conns[0].reset(); // closes and deletes
        CTestConn fresh(&rec);
        fresh.Create(0, SOCK_STREAM, FD_ALL_EVENTS, "127.0.0.1");
        sameFd = fresh.m_hSocket == oldFd;
        listener.conns[1]->AsyncSelect(FD_CLOSE);
        // Everything queued before, and whatever a look at the still readable descriptors
        // would queue again, is dispatched until the queue stays empty.
        for (int looks = 0; looks < 3; ++looks)
            while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessage(&msg);
        receivesAfterClose = rec.Count("receive") - before;
    });
    ASSERT_TRUE(WaitFor([&] { return port.load() != 0; }));
    SOCKET a = ConnectLoopback(port);
    SOCKET b = ConnectLoopback(port);
    ASSERT_TRUE(WaitFor([&] { return ready.load(); }));
    send(a, "xyz", 3, 0);
    send(b, "xyz", 3, 0);
    owner.join();
    EXPECT_TRUE(sameFd.load()) << "the test needs the descriptor number to be reused";
    EXPECT_EQ(receivesAfterClose.load(), 0);
    closesocket(a);
    closesocket(b);
}

// Sends until the socket takes no more; counts its write notifications.
class CFloodConn : public CAsyncSocket {
public:
    std::atomic<int> sends{0};
    std::atomic<int> blocked{0};
    void OnSend(int) override {
        sends++;
        const std::string chunk(65536, 'f');
        for (;;) {
            if (Send(chunk.data(), static_cast<int>(chunk.size())) == SOCKET_ERROR) {
                if (GetLastError() == WSAEWOULDBLOCK)
                    blocked++;
                return;
            }
        }
    }
};

class CFloodListener : public CAsyncSocket {
public:
    void OnAccept(int) override {
        auto c = std::make_unique<CFloodConn>();
        if (Accept(*c)) {
            c->AsyncSelect(FD_WRITE | FD_CLOSE);
            conn = std::move(c);
        }
    }
    std::unique_ptr<CFloodConn> conn;
};

TEST(NetAsyncTest, SendThatWouldBlockSendsAgainOnlyOnceThePeerReads) {
    std::unique_ptr<CFloodListener> listener;
    std::atomic<UINT> port{0};
    std::atomic<CFloodConn*> conn{nullptr};
    ServerThread server([&] {
        listener = std::make_unique<CFloodListener>();
        listener->Create(0, SOCK_STREAM, FD_ACCEPT, "127.0.0.1");
        listener->Listen();
        CString addr;
        UINT p = 0;
        listener->GetSockName(addr, p);
        port = p;
    });
    SOCKET s = ConnectLoopback(port);
    ASSERT_TRUE(WaitFor([&] {
        server.Call([&] { conn = listener->conn.get(); });
        return conn.load() != nullptr && conn.load()->blocked.load() == 1;
    }));
    Sleep(200);
    EXPECT_EQ(conn.load()->sends.load(), 1) << "no OnSend while the socket stays full";
    // Reading makes room: another OnSend, which fills the socket again. The kernel keeps moving
    // what the send buffer holds into the reader's window after the read, so that room may come
    // in more than one step and give more than one OnSend; each must still end on a full socket.
    std::vector<char> buf(65536);
    auto start = Clock::now();
    while (conn.load()->sends.load() < 2 && MsSince(start) < 10000)
        recv(s, buf.data(), static_cast<int>(buf.size()), 0);
    EXPECT_GE(conn.load()->sends.load(), 2);
    EXPECT_TRUE(WaitFor([&] { return conn.load()->blocked.load() == conn.load()->sends.load(); }));
    closesocket(s);
    server.Stop([&] { listener.reset(); });
}

TEST(NetAsyncTest, RestartBindsAtOnceWhileASecondListenerIsRefused) {
    CAsyncSocket first;
    ASSERT_TRUE(first.Create(0, SOCK_STREAM, FD_ACCEPT, "127.0.0.1"));
    ASSERT_TRUE(first.Listen());
    CString addr;
    UINT port = 0;
    first.GetSockName(addr, port);
    // Leave a connection in TIME_WAIT on the server's port: the server side closes first.
    SOCKET c = ConnectLoopback(port);
    CAsyncSocket accepted;
    ASSERT_TRUE(WaitFor([&] { return first.Accept(accepted) != FALSE; }));
    accepted.Close();
    Sleep(50);
    closesocket(c);
    Sleep(50);

    CAsyncSocket second;
    bool secondOk = second.Create(port, SOCK_STREAM, FD_ACCEPT, "127.0.0.1") && second.Listen();
    EXPECT_FALSE(secondOk);
    EXPECT_EQ(WSAGetLastError(), WSAEADDRINUSE);
    second.Close();

    first.Close();
    CAsyncSocket restarted;
    EXPECT_TRUE(restarted.Create(port, SOCK_STREAM, FD_ACCEPT, "127.0.0.1")) << WSAGetLastError();
    EXPECT_TRUE(restarted.Listen()) << WSAGetLastError();
}

TEST(NetAsyncTest, CurlGetsAnAnswerFromAPumpedServer) {
    Recorder rec;
    std::unique_ptr<CTestListener> listener;
    std::atomic<UINT> port{0};
    ServerThread server([&] {
        listener = std::make_unique<CTestListener>(&rec);
        listener->m_reply = "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello";
        listener->Create(0, SOCK_STREAM, FD_ACCEPT, "127.0.0.1");
        listener->Listen();
        port = listener->Port();
    });
    std::string cmd = "curl -s --max-time 10 http://127.0.0.1:" + std::to_string(port.load()) + "/x 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char buf[256] = {};
    size_t n = fread(buf, 1, sizeof buf - 1, p);
    pclose(p);
    EXPECT_EQ(std::string(buf, n), "hello");
    server.Stop([&] { listener.reset(); });
}

// Blocking client sockets.

UINT FreePort() {
    CAsyncSocket s;
    s.Create(0, SOCK_STREAM, 0, "127.0.0.1");
    CString a;
    UINT port = 0;
    s.GetSockName(a, port);
    return port; // closed again when s goes
}

TEST(NetBlockingTest, ReceiveTimesOutAndShutdownWakesABlockedReceive) {
    CAsyncSocket silent; // accepts in the kernel's backlog, never answers
    ASSERT_TRUE(silent.Create(0, SOCK_STREAM, 0, "127.0.0.1"));
    ASSERT_TRUE(silent.Listen());
    CString a;
    UINT port = 0;
    silent.GetSockName(a, port);

    SOCKET s = ConnectLoopback(port);
    DWORD ms = 200;
    ASSERT_EQ(setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms), 0);
    DWORD readBack = 0;
    int len = sizeof readBack;
    ASSERT_EQ(getsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&readBack), &len), 0);
    EXPECT_EQ(readBack, 200u);
    char buf[16];
    auto start = Clock::now();
    EXPECT_EQ(recv(s, buf, sizeof buf, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAETIMEDOUT);
    EXPECT_GE(MsSince(start), 150);
    EXPECT_LT(MsSince(start), 3000);
    closesocket(s);

    // A stop from another thread: shut the socket down and the blocked receive returns.
    SOCKET t = ConnectLoopback(port);
    std::atomic<int> result{-2};
    std::thread reader([&] { result = recv(t, buf, sizeof buf, 0); });
    Sleep(100);
    EXPECT_EQ(result.load(), -2) << "the receive should still be blocked";
    start = Clock::now();
    shutdown(t, SD_BOTH);
    reader.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_LT(MsSince(start), 2000);
    closesocket(t);
}

TEST(NetBlockingTest, ErrorsAndNames) {
    UINT port = FreePort();
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    SOCKADDR_IN addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<u_short>(port));
    addr.sin_addr.s_addr = inet_addr("127.0.0.1");
    EXPECT_EQ(connect(s, reinterpret_cast<SOCKADDR*>(&addr), sizeof addr), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(WSAECONNREFUSED));
    closesocket(s);
    EXPECT_EQ(closesocket(INVALID_SOCKET), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);

    hostent* h = gethostbyname("localhost");
    ASSERT_NE(h, nullptr);
    in_addr first;
    std::memcpy(&first, h->h_addr_list[0], sizeof first);
    EXPECT_STREQ(inet_ntoa(first), "127.0.0.1");
    EXPECT_EQ(gethostbyname("no-such-host.invalid"), nullptr);
    char name[255];
    EXPECT_EQ(gethostname(name, 255), 0);
    EXPECT_GT(std::strlen(name), 0u);

    // Sending to a peer that is gone reports an error instead of ending the process.
    CAsyncSocket listener;
    listener.Create(0, SOCK_STREAM, 0, "127.0.0.1");
    listener.Listen();
    CString a;
    UINT lport = 0;
    listener.GetSockName(a, lport);
    SOCKET c = ConnectLoopback(lport);
    CAsyncSocket peer;
    ASSERT_TRUE(WaitFor([&] { return listener.Accept(peer) != FALSE; }));
    peer.Close();
    Sleep(50);
    std::string big(1 << 16, 'x');
    int rc = 0;
    for (int i = 0; i < 20 && rc != SOCKET_ERROR; ++i)
        rc = send(c, big.data(), static_cast<int>(big.size()), 0);
    EXPECT_EQ(rc, SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
    closesocket(c);
}

} // namespace
