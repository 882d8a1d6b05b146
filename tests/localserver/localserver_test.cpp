// The local content server as the program runs it: started through the memory-file store on a
// thread of its own, answering curl, a browser engine, crowds of clients and rude ones.
#include "tests/localserver/LocalServerFixture.h"

#include "net/MyHttp.h"
#include "platform/kernel/Threads.h"
#include "tests/contentserver/ContentServerFixture.h"

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/lsan_interface.h>
#endif

using namespace lstest;

namespace {

std::string Url(const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(ServerPort()) + path;
}

// curl with HTTP/1.0, as the readers' requests are answered; the status line, headers and body.
Answer Curl(const std::string& path, const std::string& options = "") {
    TempDir dir;
    std::string out = dir.sub("curl.out");
    std::string cmd = "curl -s --http1.0 --max-time 60 --path-as-is -i " + options + " '" + Url(path) +
                      "' -o '" + out + "'";
    int rc = std::system(cmd.c_str());
    EXPECT_EQ(0, rc) << cmd;
    return HttpAnswer::Parse(ReadFileBytes(out));
}

// Listening sockets on the port, from the kernel's table: their local addresses in its notation.
std::vector<std::string> ListeningAddresses(int port) {
    std::vector<std::string> found;
    std::ifstream f("/proc/net/tcp");
    std::string line;
    char want[8];
    snprintf(want, sizeof want, ":%04X", port);
    while (std::getline(f, line)) {
        std::istringstream ls(line);
        std::string sl, local, remote, state;
        ls >> sl >> local >> remote >> state;
        if (state == "0A" && local.size() > 5 && local.substr(local.size() - 5) == want)
            found.push_back(local.substr(0, local.size() - 5));
    }
    return found;
}

// A store of its own for a test that starts a server of its own. Stores live as long as their
// server threads, which is as long as the process.
CMyMemFile* NewStore() {
    static auto* stores = new std::vector<CMyMemFile*>;
    stores->push_back(new CMyMemFile);
    return stores->back();
}

} // namespace

TEST(ServerStart, ListensOnLoopbackOnlyAndRunsOnItsOwnThread) {
    ASSERT_NE(0, ServerPort());
    EXPECT_TRUE(g_MyMemFile.IsServerRunning());
    EXPECT_EQ(2, g_MyMemFile.m_nServerState);
    EXPECT_NE(0u, g_MyMemFile.m_dwServerThreadId);
    EXPECT_NE(GetCurrentThreadId(), g_MyMemFile.m_dwServerThreadId);
    EXPECT_EQ(std::vector<std::string>{"0100007F"}, ListeningAddresses(ServerPort()));
}

TEST(ServerStart, SelfTestFetchesTheTestPageWithTheProgramsClient) {
    ASSERT_NE(nullptr, g_pfnServerSelfTestFetch) << "the HTTP client did not install its fetch";
    CMyMemFile* pStore = NewStore();
    g_nServerPort = PeerProcess::FreePort();
    EXPECT_TRUE(pStore->StartServerThread());
    EXPECT_TRUE(pStore->IsServerRunning());

    // A self-test that reads anything but the exact text fails, and the server still counts as
    // running: the answer of StartServer is whether it listens.
    static SERVER_SELFTEST_FETCH realFetch = g_pfnServerSelfTestFetch;
    struct Fetch {
        static BOOL Padded(const CString& url, CString& body) {
            if (!realFetch(url, body))
                return FALSE;
            body += " ";
            return TRUE;
        }
        static BOOL Failing(const CString&, CString&) { return FALSE; }
    };
    g_pfnServerSelfTestFetch = &Fetch::Padded;
    CMyMemFile* pPadded = NewStore();
    g_nServerPort = PeerProcess::FreePort();
    EXPECT_FALSE(pPadded->StartServerThread());
    EXPECT_TRUE(pPadded->IsServerRunning());

    g_pfnServerSelfTestFetch = &Fetch::Failing;
    CMyMemFile* pFailing = NewStore();
    g_nServerPort = PeerProcess::FreePort();
    EXPECT_TRUE(pFailing->StartServer());
    g_pfnServerSelfTestFetch = realFetch;
}

struct BusyCase {
    const char* occupant; // the address another program listens on
};

class BusyPort : public ::testing::TestWithParam<BusyCase> {};

TEST_P(BusyPort, GivesTheFailedState) {
    int s = (::socket)(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = inet_addr(GetParam().occupant);
    ASSERT_EQ(0, ::bind(s, reinterpret_cast<sockaddr*>(&a), static_cast<socklen_t>(sizeof a)));
    ASSERT_EQ(0, ::listen(s, 5));
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    g_nServerPort = ntohs(a.sin_port);

    CMyMemFile* pStore = NewStore();
    EXPECT_FALSE(pStore->StartServer());
    EXPECT_EQ(1, pStore->m_nServerState);
    EXPECT_FALSE(pStore->IsServerRunning());
    close(s);
}

INSTANTIATE_TEST_SUITE_P(Occupants, BusyPort, ::testing::Values(BusyCase{"127.0.0.1"}, BusyCase{"0.0.0.0"}));

TEST(ServerStart, ListenFailureTexts) {
    EXPECT_EQ(std::string("\xB6\xCB\xBF\xDA"
                          "8024\xD2\xD1\xBE\xAD\xB1\xBB\xD5\xBC\xD3\xC3\xA3\xA1\n\xC7\xEB\xC8\xB7\xC8\xCF"
                          "\xCA\xC7\xB7\xF1\xD4\xCB\xD0\xD0\xD7\xC5\xC6\xE4\xCB\xFC\xB0\xF3\xB6\xA8\xB4\xCB"
                          "\xB6\xCB\xBF\xDA\xB5\xC4\xD3\xA6\xD3\xC3\xB3\xCC\xD0\xF2\xA1\xA3"),
              CServerHost::ListenErrorText(WSAEADDRINUSE, 8024).str());
    EXPECT_EQ(
        std::string("Can't listen on port 8024!\nMake sure the TCP/IP transport is set up correctly and "
                    "that no other applications are already listening on that port."),
        CServerHost::ListenErrorText(WSAEACCES, 8024).str());
}

// The stop message closes the listener; a server started again at once binds the port again
// although the answered connections still linger on it.
TEST(ServerStart, StopMessageThenARestartBindsAgain) {
    CMyMemFile* pFirst = NewStore();
    const int port = PeerProcess::FreePort();
    g_nServerPort = port;
    ASSERT_TRUE(pFirst->StartServerThread());
    for (int i = 0; i < 20; ++i)
        EXPECT_NE(std::string::npos, Exchange(port, "GET /test_http/ HTTP/1.0\r\n\r\n").find("<HTTP_OK>"));
    ASSERT_TRUE(PostThreadMessage(pFirst->m_dwServerThreadId, WM_SERVER_STOP_LISTEN, 0, 0));
    EXPECT_TRUE(testwait::WaitFor([&] {
        int s = Connect(port);
        if (s < 0)
            return true; // refused
        close(s);
        return false;
    })) << "the listener is still open";

    CMyMemFile* pSecond = NewStore();
    EXPECT_TRUE(pSecond->StartServerThread());
    EXPECT_TRUE(pSecond->IsServerRunning());
}

TEST(ServerStart, QuitMessageIsIgnored) {
    ASSERT_NE(0, ServerPort());
    ASSERT_TRUE(PostThreadMessage(g_MyMemFile.m_dwServerThreadId, WM_QUIT, 0, 0));
    for (int i = 0; i < 3; ++i)
        EXPECT_NE(std::string::npos,
                  Exchange(ServerPort(), "GET /test_http/ HTTP/1.0\r\n\r\n").find("<HTTP_OK>"));
}

// A server thread that reports nothing keeps the starting thread waiting for the whole limit (a
// minute unless a test shortens it), and the server then counts as not running.
TEST(ServerStart, WaitsTheWholeLimitForAStateThatNeverComes) {
    EXPECT_EQ(60000u, g_dwServerStartWaitMs);
    const DWORD dwLimit = 300;
    const DWORD dwDefault = g_dwServerStartWaitMs;
    g_dwServerStartWaitMs = dwLimit;
    CMyMemFile* pStore = NewStore();
    g_nServerPort = PeerProcess::FreePort();
    // The lock is recursive: this thread still reads the state, the server thread cannot write it.
    EnterCriticalSection(&g_csServerState);
    auto t0 = std::chrono::steady_clock::now();
    BOOL bStarted = pStore->StartServer();
    auto waited = std::chrono::steady_clock::now() - t0;
    LeaveCriticalSection(&g_csServerState);
    g_dwServerStartWaitMs = dwDefault;
    EXPECT_FALSE(bStarted);
    EXPECT_GE(waited, std::chrono::milliseconds(dwLimit));
    // Once let go, the thread reports that it listens.
    EXPECT_TRUE(testwait::WaitFor([&] { return pStore->IsServerRunning() == TRUE; }));
}

// ---------------------------------------------------------------------------------------------
// Answers

struct SelfTestCase {
    const char* path;
    const char* options;
};

class SelfTestPage : public ::testing::TestWithParam<SelfTestCase> {};

TEST_P(SelfTestPage, AnswersOkWithoutTypeOrLength) {
    Answer a = Curl(GetParam().path, GetParam().options);
    EXPECT_EQ("HTTP/1.0 200 OK", a.statusLine);
    EXPECT_EQ((std::vector<std::string>{"Server", "Date"}), a.Names());
    EXPECT_EQ("<HTTP_OK>", a.body);
}

INSTANTIATE_TEST_SUITE_P(Spellings, SelfTestPage,
                         ::testing::Values(SelfTestCase{"/test_http/", ""}, SelfTestCase{"/TEST_HTTP/", ""},
                                           SelfTestCase{"/TEST_HTTP/?x=1", ""},
                                           SelfTestCase{"/test%5Fhttp/", ""},
                                           SelfTestCase{"/test_http/", "-X POST --data a=1"}));

struct MemFileCase {
    const char* path;
    const char* file; // the memory file expected
    const char* type;
};

class MemFileAnswer : public ::testing::TestWithParam<MemFileCase> {};

TEST_P(MemFileAnswer, TypeOfItsExtensionLengthAndBytes) {
    const MemFileCase& c = GetParam();
    const MemFile& f = ItemFile(c.file);
    Answer a = Curl(c.path);
    EXPECT_EQ("HTTP/1.0 200 OK", a.statusLine);
    EXPECT_EQ((std::vector<std::string>{"Server", "Date", "Content-type", "Content-length"}), a.Names());
    EXPECT_EQ(c.type, a.Header("Content-type"));
    EXPECT_EQ(std::to_string(f.data.size()), a.Header("Content-length"));
    EXPECT_TRUE(a.body == f.data) << c.path << ": " << a.body.size() << " bytes";
}

INSTANTIATE_TEST_SUITE_P(Files, MemFileAnswer,
                         ::testing::Values(MemFileCase{"/mag/77/view1.html", "view1.html", "text/html"},
                                           MemFileCase{"/Mag/77/View1.HTML", "view1.html", "text/html"},
                                           MemFileCase{"/mag/77/style.css", "style.css", "text/css"},
                                           MemFileCase{"/mag/77/script.js", "script.js",
                                                       "application/javascript"},
                                           MemFileCase{"/mag/77/cover.png", "cover.png", "image/png"},
                                           MemFileCase{"/mag/77/cover.jpg?page=2", "cover.jpg", "image/jpeg"},
                                           MemFileCase{"/mag/77/%63over.png", "cover.png", "image/png"},
                                           // No type registered for the extension: the page type.
                                           MemFileCase{"/mag/77/other.dat", "other.dat", "text/html"},
                                           MemFileCase{"/mag/77/big.dat", "big.dat", "text/html"}));

// The program's own client reads the pages the way the readers' script requests do.
TEST(MemFileMethods, ProgramsClientReadsAPage) {
    CMyHttp http;
    CString body;
    ASSERT_EQ(MYHTTP_OK, http.GetUrl(Url("/mag/77/view1.html").c_str(), nullptr, 0, "", body));
    EXPECT_EQ(ItemFile("view1.html").data, body.str());
}

// The memory file is answered before the method is looked at.
TEST(MemFileMethods, AnyMethodGetsTheWholeAnswer) {
    const std::string& css = ItemFile("style.css").data;
    const char* requests[] = {
        "HEAD /mag/77/style.css HTTP/1.0\r\n\r\n",
        "POST /mag/77/style.css HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc",
        "PUT /mag/77/style.css HTTP/1.0\r\n\r\n",
        "BREW /mag/77/style.css HTTP/1.0\r\n\r\n",
        "GET /mag/77/style.css\r\n\r\n",
    };
    for (const char* r : requests) {
        Answer a = HttpAnswer::Parse(Exchange(ServerPort(), r));
        EXPECT_EQ("HTTP/1.0 200 OK", a.statusLine) << r;
        EXPECT_EQ("text/css", a.Header("Content-type")) << r;
        EXPECT_EQ(css, a.body) << r;
    }
}

TEST(MemFileMethods, OtherPathsGoToTheMissingDocumentRoot) {
    struct {
        const char* path;
        const char* status;
    } cases[] = {
        {"/mag/77/", "HTTP/1.0 400 Bad Request"},
        {"/mag/77/missing.html", "HTTP/1.0 400 Bad Request"},
        {"/", "HTTP/1.0 404 Not Found"},
    };
    for (auto& c : cases)
        EXPECT_EQ(c.status, Curl(c.path).statusLine) << c.path;
}

// ---------------------------------------------------------------------------------------------
// A real browser engine

TEST(BrowserEngine, PageWithStyleSheetScriptAndPictureFromMemoryFiles) {
    if (access("/usr/bin/chromium", X_OK) != 0)
        GTEST_SKIP() << "chromium is not installed";
    ASSERT_NE(0, ServerPort());
    TempDir profile;
    std::string cmd = "timeout 120 /usr/bin/chromium --headless --no-sandbox --disable-gpu --disable-quic "
                      "--no-first-run --disable-background-networking --disable-component-update "
                      "--disable-sync --user-data-dir='" +
                      profile.path() + "' --virtual-time-budget=10000 --dump-dom '" +
                      Url("/mag/77/view1.html") + "' 2>/dev/null";
    std::string dom = RunCommand(cmd);
    size_t at = dom.find("<div id=\"result\">");
    ASSERT_NE(std::string::npos, at) << dom;
    std::string result = dom.substr(at, dom.find("</div>", at) - at);
    // The style sheet and the script were applied, the picture decoded; the sheet sent as the
    // page type was refused, as it would have been for every sheet had they all been sent so.
    EXPECT_NE(std::string::npos, result.find("color=rgb(1, 2, 3)")) << result;
    EXPECT_EQ(std::string::npos, result.find("other=rgb(4, 5, 6)")) << result;
    EXPECT_NE(std::string::npos, result.find("script=ran")) << result;
    EXPECT_NE(std::string::npos, result.find("picture=4x4")) << result;
}

// ---------------------------------------------------------------------------------------------
// Load and rude clients

TEST(ServerLoad, ThreeHundredConnectionsAtOnceAreAllAnswered) {
    ASSERT_NE(0, ServerPort());
    TempDir dir;
    const int kClients = 300;
    {
        std::ofstream cfg(dir.sub("urls.cfg"));
        for (int i = 0; i < kClients; ++i)
            cfg << "url = \"" << Url(i % 2 ? "/mag/77/big.dat" : "/mag/77/style.css") << "\"\noutput = \""
                << dir.sub("out" + std::to_string(i)) << "\"\n";
    }
    std::string cmd = "curl -s --http1.0 --parallel --parallel-immediate --parallel-max " +
                      std::to_string(kClients) + " --max-time 120 -K '" + dir.sub("urls.cfg") + "'";
    EXPECT_EQ(0, std::system(cmd.c_str())) << cmd;
    int good = 0;
    for (int i = 0; i < kClients; ++i) {
        const std::string& want = ItemFile(i % 2 ? "big.dat" : "style.css").data;
        if (ReadFileBytes(dir.sub("out" + std::to_string(i))) == want)
            ++good;
    }
    EXPECT_EQ(kClients, good);
}

TEST(ServerLoad, SurvivesClientsThatLeaveMidRequest) {
    const int port = ServerPort();
    ASSERT_NE(0, port);
    for (int round = 0; round < 20; ++round) {
        std::vector<int> open;
        // Connects and goes.
        if (int s = Connect(port); s >= 0)
            close(s);
        // Connects and resets.
        if (int s = Connect(port); s >= 0)
            Abort(s);
        // Half a request line, then gone.
        if (int s = Connect(port); s >= 0) {
            WriteAll(s, "GET /mag/77/sty");
            close(s);
        }
        // A body that never comes, then a reset.
        if (int s = Connect(port); s >= 0) {
            WriteAll(s, "POST /x HTTP/1.0\r\nContent-Length: 100000\r\n\r\nabc");
            Abort(s);
        }
        // Asks for a large file and leaves while it is being sent.
        if (int s = Connect(port); s >= 0) {
            WriteAll(s, "GET /mag/77/huge.dat HTTP/1.0\r\n\r\n");
            char buf[1000];
            (void)::read(s, buf, sizeof buf);
            Abort(s);
        }
        // Asks and leaves before a byte of the answer was read.
        if (int s = Connect(port); s >= 0) {
            WriteAll(s, "GET /mag/77/big.dat HTTP/1.0\r\n\r\n");
            close(s);
        }
        // Stays silent for now; closed after the round.
        if (int s = Connect(port); s >= 0) {
            WriteAll(s, "GET /mag/77/style.css HTTP/1.0\r\n");
            open.push_back(s);
        }
        Answer a = HttpAnswer::Parse(Exchange(port, "GET /mag/77/script.js HTTP/1.0\r\n\r\n"));
        EXPECT_EQ("HTTP/1.0 200 OK", a.statusLine) << "round " << round;
        EXPECT_EQ(ItemFile("script.js").data, a.body);
        for (int s : open)
            Abort(s);
    }
    Answer a = HttpAnswer::Parse(Exchange(port, "GET /mag/77/huge.dat HTTP/1.0\r\n\r\n"));
    EXPECT_TRUE(a.body == ItemFile("huge.dat").data);
}

// The user-interface thread loads and clears items while the server thread serves from them:
// every answer is either the whole file or the error for a file that is not there.
TEST(ServerLoad, ItemsLoadedAndClearedWhileServed) {
    const int port = ServerPort();
    ASSERT_NE(0, port);
    TempDir dir;
    const std::string body = Payload(300 * 1024);
    std::string exe = cstest::BuildItemExe(dir, cstest::BuildPackage({{"page.jpg", body}, {"a.css", "p{}"}}));
    ASSERT_FALSE(exe.empty()) << "mingw-w64 resource tools failed";
    CString winExe = AfxUnmapPath(exe).c_str();
    CStringW prefix = MemFileWiden(MEMFILE_ROOT "mag\\88\\");

    // A store of its own: the shared store keeps the item the other tests read.
    std::atomic<bool> stop{false};
    std::atomic<int> loads{0};
    std::thread loader([&] {
        while (!stop.load()) {
            EXPECT_TRUE(g_MyMemFile.LoadPackage(winExe, prefix));
            ++loads;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            g_MyMemFile.RemoveAll();
        }
    });
    int whole = 0, missing = 0, other = 0;
    for (int i = 0; i < 300; ++i) {
        Answer a = HttpAnswer::Parse(Exchange(port, "GET /mag/88/page.jpg HTTP/1.0\r\n\r\n"));
        if (a.statusLine == "HTTP/1.0 200 OK" && a.body == body)
            ++whole;
        else if (a.statusLine == "HTTP/1.0 400 Bad Request")
            ++missing;
        else
            ++other;
    }
    stop = true;
    loader.join();
    EXPECT_EQ(0, other);
    EXPECT_GT(loads.load(), 0);
    // Put back what the other tests of this process serve.
    AddItemFiles();
}

// The server threads run until the process ends, as in the program, so the process ends without
// destroying the objects they use under them: its static objects are left as they are.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
#ifdef __SANITIZE_ADDRESS__
    if (result == 0)
        __lsan_do_leak_check(); // ends the process with an error when something leaked
#endif
    fflush(stdout);
    fflush(stderr);
    _exit(result);
}

// Run by the test below in a process of its own: the process's end asks every thread to stop,
// and the server's thread, which ignores a stray quit message, ends then and closes its listener.
TEST(ServerEnd, DISABLED_InAProcessOfItsOwn) {
    const int port = ServerPort();
    ASSERT_NE(0, port);
    EXPECT_EQ(0, AfxWaitForThreads(20000)) << "a thread outlived the process's end";
    EXPECT_LT(Connect(port), 0) << "the listener is still open";
}

TEST(ServerEnd, TheServerThreadEndsWithTheProcess) {
    pid_t child = fork();
    if (child == 0) {
        execl("/proc/self/exe", "localserver_tests", "--gtest_also_run_disabled_tests",
              "--gtest_filter=ServerEnd.DISABLED_InAProcessOfItsOwn", static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child said " << status;
}
