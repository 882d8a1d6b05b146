// What one local process can make the server hold: its descriptors, its processor and its memory.
// The measured servers run in processes of their own (server_child.cpp), so the figures are theirs.
#include "tests/localserver/LocalServerFixture.h"

#include "tests/contentserver/ContentServerFixture.h"
#include "tests/support/WaitFor.h"

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstring>

#include <thread>

using namespace lstest;
using testwait::WaitFor;

namespace {

// A server process of its own, ended with the test.
class ChildServer {
public:
    bool Start(const std::vector<std::string>& options) {
        std::vector<std::string> argv{LOCALSERVER_CHILD};
        argv.insert(argv.end(), options.begin(), options.end());
        if (!m_peer.Start(argv))
            return false;
        m_port = m_peer.Port();
        const std::string& line = m_peer.FirstLine();
        m_pid = std::atoi(line.c_str() + line.find(' '));
        return m_port > 0 && m_pid > 0;
    }
    int port() const { return m_port; }
    pid_t pid() const { return m_pid; }
    // True once the process has ended by itself; its wait status then goes to *status.
    bool Ended(int* status) { return m_peer.Ended(status); }

    // Open descriptors below the number given: a descriptor inherited from above the process's
    // limit takes none of the places the limit leaves.
    int OpenDescriptorsBelow(int nLimit) const {
        int n = 0;
        if (DIR* d = opendir(("/proc/" + std::to_string(m_pid) + "/fd").c_str())) {
            while (dirent* e = readdir(d))
                n += e->d_name[0] != '.' && std::atoi(e->d_name) < nLimit;
            closedir(d);
        }
        return n;
    }
    // User and system time of every thread of the process.
    double CpuSeconds() const {
        std::string stat = ReadFileBytes("/proc/" + std::to_string(m_pid) + "/stat");
        std::istringstream in(stat.substr(stat.rfind(')') + 2));
        std::string field;
        unsigned long long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && in >> field; ++i) {
            if (i == 14)
                utime = std::stoull(field);
            if (i == 15)
                stime = std::stoull(field);
        }
        return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    long ResidentKiB() const {
        std::ifstream in("/proc/" + std::to_string(m_pid) + "/status");
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("VmRSS:", 0) == 0)
                return std::atol(line.c_str() + 6);
        return -1;
    }

private:
    PeerProcess m_peer;
    int m_port = 0;
    pid_t m_pid = 0;
};

// Whether the socket has something to read (or was closed) within the bound.
bool Readable(int s, int ms) {
    pollfd p{s, POLLIN, 0};
    return ::poll(&p, 1, ms) == 1;
}

// Reads until the end of an answer's headers; false when the server closed first.
bool ReadHeaders(int s, std::string& got) {
    char buf[4096];
    while (got.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = ::read(s, buf, sizeof buf);
        if (n <= 0)
            return false;
        got.append(buf, static_cast<size_t>(n));
    }
    return true;
}

void CloseAll(std::vector<int>& sockets) {
    for (int s : sockets)
        close(s);
    sockets.clear();
}

// A server of this process with small limits, on a port of its own; the limits go back to the
// program's once it has read them.
int StartLimitedServer(DWORD dwIdleTimeout, int nMaxConnections) {
    static auto* stores = new std::vector<CMyMemFile*>;
    stores->push_back(new CMyMemFile);
    const DWORD dwIdleBefore = g_dwServerIdleTimeout;
    const int nMaxBefore = g_nServerMaxConnections;
    g_dwServerIdleTimeout = dwIdleTimeout;
    g_nServerMaxConnections = nMaxConnections;
    g_nServerPort = PeerProcess::FreePort();
    const int port = stores->back()->StartServer() ? g_nServerPort : 0;
    g_dwServerIdleTimeout = dwIdleBefore;
    g_nServerMaxConnections = nMaxBefore;
    return port;
}

const char* const kSelfTest = "GET /test_http/ HTTP/1.0\r\n\r\n";

} // namespace

// ---------------------------------------------------------------------------------------------
// Descriptor exhaustion

enum class Freed { ByAConnectionClosing, ByAFileClosing };

class DescriptorExhaustion : public ::testing::TestWithParam<Freed> {};

// With every descriptor of the server process taken by idle connections, a new request waits in
// the backlog while the server thread stays idle, and it is answered once a descriptor is free,
// whether a socket of the server or anything else of the process gave it back.
TEST_P(DescriptorExhaustion, ServerWaitsIdleAndAnswersOnceADescriptorIsFree) {
#ifdef __SANITIZE_ADDRESS__
    // The sanitizers' own checks need descriptors (a pipe tests memory before an object's type is
    // checked), so with none free they report faults that are not there and end the server.
    GTEST_SKIP() << "the sanitizers cannot run without a free descriptor";
#endif
    const int kLimit = 48;
    ChildServer child;
    ASSERT_TRUE(child.Start({"--nofile", std::to_string(kLimit), "--spare", "4", "--idle-ms", "600000"}));

    // One idle connection at a time, each taken up by the server, until its table is full.
    std::vector<int> idle;
    while (child.OpenDescriptorsBelow(kLimit) < kLimit && idle.size() < 2 * kLimit) {
        const int before = child.OpenDescriptorsBelow(kLimit);
        int s = Connect(child.port());
        ASSERT_GE(s, 0);
        idle.push_back(s);
        ASSERT_TRUE(WaitFor([&] { return child.OpenDescriptorsBelow(kLimit) > before; }));
    }
    ASSERT_EQ(kLimit, child.OpenDescriptorsBelow(kLimit));

    // The server cannot take the request, and does not spin trying: a few seconds of waiting
    // cost it nearly no processor time (a spinning thread spends the whole of them).
    int waiting = Connect(child.port());
    ASSERT_GE(waiting, 0);
    ASSERT_TRUE(WriteAll(waiting, kSelfTest));
    const double cpuBefore = child.CpuSeconds();
    EXPECT_FALSE(Readable(waiting, 3000)) << "answered with no descriptor free";
    EXPECT_LT(child.CpuSeconds() - cpuBefore, 0.5) << "the server thread spun while it waited";

    if (GetParam() == Freed::ByAConnectionClosing) {
        close(idle.back());
        idle.pop_back();
    } else {
        ASSERT_EQ(0, kill(child.pid(), SIGUSR1));
    }
    ASSERT_TRUE(Readable(waiting, 10000)) << "not answered once a descriptor was free";
    Answer a = HttpAnswer::Parse(ReadToClose(waiting));
    EXPECT_EQ("HTTP/1.0 200 OK", a.statusLine);
    EXPECT_EQ("<HTTP_OK>", a.body);
    close(waiting);
    CloseAll(idle);
}

INSTANTIATE_TEST_SUITE_P(Freed, DescriptorExhaustion,
                         ::testing::Values(Freed::ByAConnectionClosing, Freed::ByAFileClosing),
                         [](const ::testing::TestParamInfo<Freed>& info) {
                             return info.param == Freed::ByAConnectionClosing ? "AConnectionCloses"
                                                                              : "AFileCloses";
                         });

// ---------------------------------------------------------------------------------------------
// Idle time-out and connection cap

struct StalledCase {
    const char* name;
    std::string sent; // what the client sends before it stalls
    bool trickle;     // the client goes on sending one byte at a time, never ending the request
};

class StalledRequest : public ::testing::TestWithParam<StalledCase> {};

// A request that never becomes whole is dropped after the time-out, however the client stalls,
// and the server goes on answering.
TEST_P(StalledRequest, IsDroppedAfterTheTimeOut) {
    const StalledCase& c = GetParam();
    const int port = StartLimitedServer(300, 512);
    ASSERT_NE(0, port);
    int s = Connect(port);
    ASSERT_GE(s, 0);
    ASSERT_TRUE(WriteAll(s, c.sent));
    bool closed = false;
    if (c.trickle) {
        // Far more bytes, spread far longer, than the time-out allows the whole request.
        for (int i = 0; i < 200 && !closed; ++i) {
            closed = Readable(s, 50);
            if (!closed && !WriteAll(s, "a"))
                closed = true;
        }
    } else {
        closed = Readable(s, 10000);
    }
    ASSERT_TRUE(closed) << c.name << ": still held";
    EXPECT_EQ("", ReadToClose(s)) << c.name;
    close(s);
    EXPECT_NE(std::string::npos, Exchange(port, kSelfTest).find("<HTTP_OK>"));
}

INSTANTIATE_TEST_SUITE_P(
    Stalls, StalledRequest,
    ::testing::Values(StalledCase{"Silent", "", false},
                      StalledCase{"NoLineEnd", "GET /test_http/ HTTP/1.0", false},
                      StalledCase{"HeadersNeverEnd", "GET /test_http/ HTTP/1.0\r\nHost: x\r\n", false},
                      StalledCase{"ShortBody", "POST /x HTTP/1.0\r\nContent-Length: 10\r\n\r\nabc", false},
                      StalledCase{"Trickle", "GET /test_http/ HTTP/1.0\r\nX-Slow: ", true}),
    [](const ::testing::TestParamInfo<StalledCase>& info) { return std::string(info.param.name); });

// The time-out runs from each piece of the answer that was sent: a reader that takes far longer
// than it for a large file, but keeps reading, gets the whole file.
TEST(IdleTimeOut, SparesASlowReaderThatKeepsReading) {
    ASSERT_NE(0, ServerPort()); // the item's files are in the store
    const int port = StartLimitedServer(1000, 512);
    ASSERT_NE(0, port);
    int s = Connect(port);
    ASSERT_GE(s, 0);
    ASSERT_TRUE(WriteAll(s, "GET /mag/77/huge.dat HTTP/1.0\r\n\r\n"));
    std::string got;
    char buf[256 * 1024];
    for (;;) {
        ssize_t n = ::read(s, buf, sizeof buf);
        if (n <= 0)
            break;
        got.append(buf, static_cast<size_t>(n));
        // A reader far slower than the loopback: 8 MiB take three times the time-out and more.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    close(s);
    Answer a = HttpAnswer::Parse(got);
    EXPECT_EQ("HTTP/1.0 200 OK", a.statusLine);
    EXPECT_TRUE(a.body == ItemFile("huge.dat").data) << a.body.size() << " bytes";
}

// Connections beyond the cap are closed as soon as they are accepted, unanswered; once one of
// those held goes, a new one is served again.
TEST(ConnectionCap, ClosesConnectionsBeyondItAndServesAgainWhenOneGoes) {
    const int kCap = 4;
    const int port = StartLimitedServer(600000, kCap);
    ASSERT_NE(0, port);
    std::vector<int> held;
    for (int i = 0; i < kCap; ++i) {
        int s = Connect(port);
        ASSERT_GE(s, 0);
        held.push_back(s);
    }
    // Accepted in their order: by the time this one is, the four before it are held.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ("", Exchange(port, kSelfTest)) << "answered beyond the cap";
    for (int s : held)
        EXPECT_FALSE(Readable(s, 0)) << "a held connection was closed";
    close(held.back());
    held.pop_back();
    EXPECT_TRUE(WaitFor([&] { return Exchange(port, kSelfTest).find("<HTTP_OK>") != std::string::npos; }));
    CloseAll(held);
}

// ---------------------------------------------------------------------------------------------
// Readers that leave

// Readers that go while a large answer is on its way, as a browser does when a page is left:
// some close with the answer unread, some half-close first. The child keeps SIGPIPE's default
// action, which ends a process that writes to a connection its peer has reset; the server must
// take such a write as a closed connection and go on serving.
TEST(ReadersThatLeave, EarlyClosesDoNotEndAProcessThatKeepsSigpipe) {
    TempDir dir;
    std::string exe =
        cstest::BuildItemExe(dir, cstest::BuildPackage({{"huge.dat", Payload(4 * 1024 * 1024)}}));
    ASSERT_FALSE(exe.empty()) << "mingw-w64 resource tools failed";
    ChildServer child;
    ASSERT_TRUE(child.Start({"--package", AfxUnmapPath(exe)}));
    for (int i = 0; i < 100; ++i) {
        int s = Connect(child.port());
        if (s < 0)
            break; // nobody listens any more
        ASSERT_TRUE(WriteAll(s, "GET /mag/88/huge.dat HTTP/1.0\r\n\r\n"));
        if (i % 2 == 1)
            shutdown(s, SHUT_WR);
        std::string got;
        ReadHeaders(s, got);
        close(s); // most of the answer unread: the connection is reset
    }
    const bool answered = Exchange(child.port(), kSelfTest).find("<HTTP_OK>") != std::string::npos;
    int status = 0;
    const bool ended = !answered && WaitFor([&] { return child.Ended(&status); });
    EXPECT_TRUE(answered) << "the server process "
                          << (!ended                ? "stopped answering"
                              : WIFSIGNALED(status) ? std::string("ended of ") + strsignal(WTERMSIG(status))
                                                    : std::string("ended"));
}

// ---------------------------------------------------------------------------------------------
// Memory shared between connections

// Fifty readers that ask for an 8 MiB memory file and read no more than its headers cost the
// server process a few megabytes above its idle figure, not a copy of the file each.
TEST(SharedMemoryFile, FiftySlowReadersOfALargeFileCostLittleMoreThanIdle) {
    TempDir dir;
    const std::string body = Payload(8 * 1024 * 1024);
    std::string exe = cstest::BuildItemExe(dir, cstest::BuildPackage({{"huge.dat", body}}));
    ASSERT_FALSE(exe.empty()) << "mingw-w64 resource tools failed";
    ChildServer child;
    ASSERT_TRUE(child.Start({"--package", AfxUnmapPath(exe), "--idle-ms", "600000"}));
    // One whole answer first, so that what the first request sets up counts as idle.
    Answer first = HttpAnswer::Parse(Exchange(child.port(), "GET /mag/88/huge.dat HTTP/1.0\r\n\r\n"));
    ASSERT_TRUE(first.body == body) << first.body.size() << " bytes";
    const long idleKiB = child.ResidentKiB();
    ASSERT_GT(idleKiB, 0);

    std::vector<int> readers;
    for (int i = 0; i < 50; ++i) {
        int s = Connect(child.port());
        ASSERT_GE(s, 0);
        ASSERT_TRUE(WriteAll(s, "GET /mag/88/huge.dat HTTP/1.0\r\n\r\n"));
        readers.push_back(s);
    }
    // Each answer has begun: the server took the file for every one of them.
    for (int s : readers) {
        std::string got;
        ASSERT_TRUE(ReadHeaders(s, got));
        EXPECT_NE(std::string::npos, got.find("Content-length: 8388608"));
    }
    const long busyKiB = child.ResidentKiB();
    EXPECT_LT(busyKiB - idleKiB, 16 * 1024)
        << "idle " << idleKiB << " KiB, with 50 readers " << busyKiB << " KiB";
    CloseAll(readers);
}

// A clear and a reload of the store while an answer is being sent do not touch the bytes that
// answer sends: the reader gets the file it asked for, whole.
TEST(SharedMemoryFile, ClearAndReloadDuringAnAnswerLeaveItsBytesIntact) {
    const int port = ServerPort();
    ASSERT_NE(0, port);
    TempDir dir;
    // Far more than the socket buffers take, so most of it is still to send when the store clears.
    const std::string body = Payload(16 * 1024 * 1024);
    std::string other(body.size(), 'x');
    std::string exe = cstest::BuildItemExe(dir, cstest::BuildPackage({{"page.jpg", body}}), "first");
    std::string otherExe = cstest::BuildItemExe(dir, cstest::BuildPackage({{"page.jpg", other}}), "second");
    ASSERT_FALSE(exe.empty() || otherExe.empty()) << "mingw-w64 resource tools failed";
    CStringW prefix = MemFileWiden(MEMFILE_ROOT "mag\\89\\");
    ASSERT_TRUE(g_MyMemFile.LoadPackage(AfxUnmapPath(exe).c_str(), prefix));

    int s = Connect(port);
    ASSERT_GE(s, 0);
    ASSERT_TRUE(WriteAll(s, "GET /mag/89/page.jpg HTTP/1.0\r\n\r\n"));
    std::string got;
    ASSERT_TRUE(ReadHeaders(s, got));
    // The answer is under way; the store lets go of its bytes and takes others in their place.
    g_MyMemFile.RemoveAll();
    ASSERT_TRUE(g_MyMemFile.LoadPackage(AfxUnmapPath(otherExe).c_str(), prefix));
    got += ReadToClose(s);
    close(s);
    Answer a = HttpAnswer::Parse(got);
    EXPECT_EQ("HTTP/1.0 200 OK", a.statusLine);
    EXPECT_TRUE(a.body == body) << a.body.size() << " bytes, not the file asked for";
    // The next reader gets the file the store holds now.
    EXPECT_TRUE(HttpAnswer::Parse(Exchange(port, "GET /mag/89/page.jpg HTTP/1.0\r\n\r\n")).body == other);
    g_MyMemFile.RemoveAll();
    AddItemFiles();
}
