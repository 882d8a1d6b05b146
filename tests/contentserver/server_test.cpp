// The connection against a real client: curl on loopback fetches files, folder listings and
// error answers from a test root served by CRequestSocket on a message-pump thread.
#include "contentserver/MyMemFile.h"
#include "contentserver/RequestSocket.h"
#include "contentserver/ServerHost.h"

#include "tests/contentserver/ContentServerFixture.h"
#include "tests/support/HttpAnswer.h"

#include <poll.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <thread>

using namespace cstest;

namespace {

// Counts the sends the socket could not take whole, to show that a test reached that path, and
// the connections made and destroyed, to show that every one is released exactly once.
std::atomic<int> g_nShortSends{0};
std::atomic<int> g_nCreated{0};
std::atomic<int> g_nDestroyed{0};

class CCountingSocket : public CRequestSocket {
public:
    explicit CCountingSocket(CServerHost* pHost) : CRequestSocket(pHost) { ++g_nCreated; }
    ~CCountingSocket() override { ++g_nDestroyed; }
    int Send(const void* lpBuf, int nBufLen, int nFlags = 0) override {
        int n = CRequestSocket::Send(lpBuf, nBufLen, nFlags);
        if (n < nBufLen)
            ++g_nShortSends;
        return n;
    }
};

class CTestListener : public CAsyncSocket {
public:
    explicit CTestListener(CServerHost* pHost) : m_pHost(pHost) {}
    void OnAccept(int /*nErrorCode*/) override {
        CRequestSocket* p = new CCountingSocket(m_pHost);
        if (Accept(*p)) {
            // A small send buffer stands in for a slow network, so sends are taken in part.
            int nSendBuffer = 4096;
            p->SetSockOpt(SO_SNDBUF, &nSendBuffer, sizeof(nSendBuffer));
            p->AsyncSelect(FD_READ | FD_CLOSE);
        } else
            delete p;
    }
    CServerHost* m_pHost;
};

// Runs a listener on an ephemeral loopback port and its own message pump.
class TestServer {
public:
    explicit TestServer(const std::string& root) {
        m_host.m_strRoot = root.c_str();
        m_host.m_strHostName = "testhost";
        m_thread = std::thread([this] { Run(); });
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait_for(lock, std::chrono::seconds(10), [this] { return m_ready; });
    }
    ~TestServer() {
        if (m_threadId != 0)
            PostThreadMessage(m_threadId, WM_QUIT, 0, 0);
        if (m_thread.joinable())
            m_thread.join();
    }
    UINT port() const { return m_port; }
    CServerHost& host() { return m_host; }

private:
    void Run() {
        AfxSocketInit();
        MSG msg;
        PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE); // make the queue
        CTestListener listener(&m_host);
        CString addr;
        UINT port = 0;
        if (listener.Create(0, SOCK_STREAM, FD_ACCEPT, "127.0.0.1") && listener.Listen(5) &&
            listener.GetSockName(addr, port)) {
            m_port = port;
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_threadId = GetCurrentThreadId();
            m_ready = true;
        }
        m_cv.notify_all();
        if (m_port == 0)
            return;
        while (GetMessage(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessage(&msg);
        }
        listener.Close();
    }

    CServerHost m_host;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_ready = false;
    DWORD m_threadId = 0;
    UINT m_port = 0;
};

using Response = HttpAnswer;

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Eight hours east of UTC, as on the target machines: HTTP dates must not follow it, the
        // listing's times must.
        setenv("TZ", "CST-8", 1);
        tzset();
        fs::create_directories(dir.sub("root"));
        server = std::make_unique<TestServer>(AfxUnmapPath(dir.sub("root")));
        ASSERT_NE(server->port(), 0u);
        g_nServerPort = static_cast<int>(server->port());
    }
    void TearDown() override { server.reset(); }

    // Runs curl with a bounded time and returns the status line, headers and body it received.
    Response Curl(const std::string& path, const std::string& options = "") {
        const std::string out = dir.sub("curl.out");
        std::error_code ec;
        fs::remove(out, ec);
        std::string cmd = "curl -s --http1.0 --max-time 60 --path-as-is -i " + options +
                          " 'http://127.0.0.1:" + std::to_string(server->port()) + path + "' -o '" + out +
                          "'";
        int rc = std::system(cmd.c_str());
        EXPECT_EQ(rc, 0) << cmd;
        return HttpAnswer::Parse(ReadFileBytes(out));
    }
    std::string Root(const std::string& rel = "") const {
        return dir.sub("root") + (rel.empty() ? "" : "/" + rel);
    }

    TempDir dir;
    std::unique_ptr<TestServer> server;
};

void SetMTime(const std::string& path, time_t t) {
    struct timeval tv[2] = {{t, 0}, {t, 0}};
    utimes(path.c_str(), tv);
}

const time_t kWhen = 784111777; // Sun, 06 Nov 1994 08:49:37 GMT

} // namespace

TEST_F(ServerTest, FileAnswerStatusLineAndHeaders) {
    const std::string page = "<html>" + std::string(3000, 'p') + "</html>";
    WriteFileBytes(Root("page.html"), page);
    SetMTime(Root("page.html"), kWhen);

    Response get = Curl("/page.html");
    EXPECT_EQ(get.statusLine, "HTTP/1.0 200 OK");
    EXPECT_EQ(get.Names(), (std::vector<std::string>{"Server", "Date", "Content-type", "Content-length",
                                                     "Last-Modified"}));
    EXPECT_EQ(get.Header("Server"), "OKVHttpServer/1.0");
    EXPECT_EQ(get.Header("Date").size(), 29u);
    EXPECT_EQ(get.Header("Date").substr(26), "GMT");
    EXPECT_EQ(get.Header("Content-type"), "text/html");
    EXPECT_EQ(get.Header("Content-length"), std::to_string(page.size()));
    EXPECT_EQ(get.Header("Last-Modified"), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(get.body, page);

    Response head = Curl("/page.html", "-I");
    EXPECT_EQ(head.statusLine, "HTTP/1.0 200 OK");
    EXPECT_EQ(head.Names(), get.Names());
    EXPECT_EQ(head.Header("Content-length"), get.Header("Content-length"));
    EXPECT_EQ(head.body, "");
}

TEST_F(ServerTest, IfModifiedSince) {
    WriteFileBytes(Root("a.txt"), "hello");
    SetMTime(Root("a.txt"), kWhen);
    struct Case {
        const char* options;
        const char* status;
    };
    const std::vector<Case> cases = {
        {"-z 'Sun, 06 Nov 1994 08:49:37 GMT'", "HTTP/1.0 304 Not Modified"},
        {"-H 'If-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT'", "HTTP/1.0 304 Not Modified"},
        {"-H 'If-Modified-Since: Sunday, 06-Nov-94 08:49:37 GMT'", "HTTP/1.0 304 Not Modified"},
        {"-H 'If-Modified-Since: Sun Nov  6 08:49:37 1994'", "HTTP/1.0 304 Not Modified"},
        {"-H 'If-Modified-Since: Sun, 06 Nov 1994 08:49:36 GMT'", "HTTP/1.0 200 OK"},
        {"-H 'If-Modified-Since: Sun, 06 Foo 1994 08:49:37 GMT'", "HTTP/1.0 200 OK"},
        {"-H 'If-Modified-Since: Sun, 06'", "HTTP/1.0 200 OK"},
        {"-H 'If-Modified-Since: Sun,'", "HTTP/1.0 200 OK"},
        {"-H 'If-Modified-Since: x'", "HTTP/1.0 200 OK"},
        {"-H 'If-Modified-Since: Sunday, 06-Nov'", "HTTP/1.0 200 OK"},
        {"-H 'If-Modified-Since: Sun, 32 Nov 1994 08:49:37 GMT'", "HTTP/1.0 200 OK"},
        {"-H 'If-Modified-Since: Sun, 06 Nov 1994 08:4x:37 GMT'", "HTTP/1.0 200 OK"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        Response r = Curl("/a.txt", c.options);
        EXPECT_EQ(r.statusLine, c.status);
        if (std::string(c.status).find("304") != std::string::npos) {
            EXPECT_EQ(r.Names(), (std::vector<std::string>{"Server", "Date"}));
            EXPECT_EQ(r.body, "");
        } else {
            EXPECT_EQ(r.body, "hello");
        }
    }
}

TEST_F(ServerTest, ErrorAnswersAndRedirects) {
    WriteFileBytes(Root("a.html"), "a");
    WriteFileBytes(Root(".secret"), "s");
    fs::create_directories(Root(".hid/inner"));
    WriteFileBytes(Root(".hid/x.txt"), "x");
    WriteFileBytes(Root(".hid/inner/y.txt"), "y");
    fs::create_directories(Root("docs"));
    WriteFileBytes(Root("docs/index.htm"), "i");
    fs::create_directories(Root("apps"));
    WriteFileBytes(Root("apps/default.bat"), "b");
    fs::create_directories(Root("both"));
    WriteFileBytes(Root("both/index.html"), "i");
    WriteFileBytes(Root("both/default.htm"), "d");
    const std::string base = "http://testhost:" + std::to_string(server->port());
    struct Case {
        const char* path;
        const char* options;
        const char* status;
        std::string location;
    };
    const std::vector<Case> cases = {
        {"/docs", "", "HTTP/1.0 302 Redirectio", base + "/docs/index.htm"},
        {"/docs/", "", "HTTP/1.0 302 Redirectio", base + "/docs/index.htm"},
        {"/apps/", "", "HTTP/1.0 302 Redirectio", base + "/apps/default.bat?"},
        {"/both/", "", "HTTP/1.0 302 Redirectio", base + "/both/default.htm"},
        {"/a.html?x=1", "", "HTTP/1.0 400 Bad Request", ""},
        {"/../outside.html", "", "HTTP/1.0 400 Bad Request", ""},
        {"/a%00.html", "", "HTTP/1.0 400 Bad Request", ""},
        {"/missing.html", "", "HTTP/1.0 404 Not Found", ""},
        {"/missing/deeper/x.html", "", "HTTP/1.0 404 Not Found", ""},
        {"/.secret", "", "HTTP/1.0 403 Forbidden", ""},
        // What a hidden folder holds is as hidden as the folder, however the path spells it.
        {"/.hid/", "", "HTTP/1.0 403 Forbidden", ""},
        {"/.hid/x.txt", "", "HTTP/1.0 403 Forbidden", ""},
        {"/.hid/inner/y.txt", "", "HTTP/1.0 403 Forbidden", ""},
        {"/docs/../.hid/x.txt", "", "HTTP/1.0 403 Forbidden", ""},
        {"/%2Ehid/x.txt", "", "HTTP/1.0 403 Forbidden", ""},
        {"/.hid/x.txt/path/info", "", "HTTP/1.0 403 Forbidden", ""},
        {"/.hid/x.txt", "-I", "HTTP/1.0 403 Forbidden", ""},
        {"/a.html", "-X DELETE", "HTTP/1.0 501 Not Implemented", ""},
        {"/a.html", "-X POST", "HTTP/1.0 501 Not Implemented", ""},
        {"/a.html", "-d x=1", "HTTP/1.0 400 Bad Request", ""}, // a server application of no known kind
        {"/a.html", "-X GET -d x=1", "HTTP/1.0 501 Not Implemented", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + c.options);
        Response r = Curl(c.path, c.options);
        EXPECT_EQ(r.statusLine, c.status);
        EXPECT_EQ(r.body, "");
        if (!c.location.empty()) {
            EXPECT_EQ(r.Names(), (std::vector<std::string>{"Server", "Date", "Location"}));
            EXPECT_EQ(r.Header("Location"), c.location);
        } else {
            EXPECT_EQ(r.Names(), (std::vector<std::string>{"Server", "Date"}));
        }
    }
    // A file beneath a path that goes on is found; the rest is path info.
    EXPECT_EQ(Curl("/a.html/extra/info").statusLine, "HTTP/1.0 200 OK");
}

// A root that ends in a separator still puts "/" after the port of a redirect.
TEST_F(ServerTest, RootWithTrailingSeparatorRedirect) {
    WriteFileBytes(Root("index.htm"), "i");
    server->host().m_strRoot += "\\";
    Response r = Curl("/");
    EXPECT_EQ(r.statusLine, "HTTP/1.0 302 Redirectio");
    EXPECT_EQ(r.Header("Location"), "http://testhost:" + std::to_string(server->port()) + "/index.htm");
}

TEST_F(ServerTest, LargeFilesToASlowReader) {
    std::string big(3 * 1048576 + 12345, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>((i * 2654435761u) >> 13);
    WriteFileBytes(Root("big.db"), big);
    g_nShortSends = 0;
    Response r = Curl("/big.db", "--limit-rate 2M");
    EXPECT_GT(g_nShortSends.load(), 0) << "the reader never held the server back";
    EXPECT_EQ(r.statusLine, "HTTP/1.0 200 OK");
    EXPECT_EQ(r.Header("Content-length"), std::to_string(big.size()));
    EXPECT_TRUE(r.body == big) << "body of " << r.body.size() << " bytes differs";
}

TEST_F(ServerTest, LengthsOfTwoGigabytesAndMoreIn64Bits) {
    { std::ofstream f(Root("huge.db"), std::ios::binary); }
    fs::resize_file(Root("huge.db"), 3221225472ull); // sparse
    Response r = Curl("/huge.db", "-I");
    EXPECT_EQ(r.statusLine, "HTTP/1.0 200 OK");
    EXPECT_EQ(r.Header("Content-length"), "3221225472");
}

namespace {

const std::string kBlank = "<img src=/SvrAdmin/Blank.gif align=bottom alt=      border=0 width=16 height=16>";
const std::string kFile = "<img src=/SvrAdmin/File.gif align=bottom alt=      border=0 width=16 height=16>";
const std::string kFolder =
    "<img src=/SvrAdmin/Folder.gif align=bottom alt=      border=0 width=16 height=16>";
const std::string kPrev = "<img src=/SvrAdmin/Prev.gif align=bottom alt=      border=0 width=16 height=16>";

// The entry lines in the order the file system hands out the names, which is the order the page
// lists them in. Every expected name must be there, and nothing else but "." and "..".
std::string LinesInFolderOrder(const std::string& folder, const std::map<std::string, std::string>& lines) {
    std::string out;
    size_t nFound = 0;
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA((AfxUnmapPath(folder) + "\\*.*").c_str(), &data);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    if (h == INVALID_HANDLE_VALUE)
        return out;
    do {
        auto it = lines.find(data.cFileName);
        if (it != lines.end()) {
            out += it->second;
            ++nFound;
        }
    } while (FindNextFileA(h, &data));
    FindClose(h);
    EXPECT_EQ(nFound, lines.size());
    return out;
}

} // namespace

TEST_F(ServerTest, FolderListingPages) {
    fs::create_directories(Root("list/sub"));
    WriteFileBytes(Root("list/zero.txt"), "");
    WriteFileBytes(Root("list/three.bin"), std::string(3072, 't'));
    WriteFileBytes(Root("list/two.bin"), std::string(2097152, 'w'));
    WriteFileBytes(Root("list/my notes.txt"), std::string(1023, 'n'));
    WriteFileBytes(Root("list/.hidden"), "h");
    fs::create_directories(Root("empty"));
    fs::create_directories(Root("hiddenonly"));
    WriteFileBytes(Root("hiddenonly/.h"), "h");
    for (const char* p : {"list/sub", "list/zero.txt", "list/three.bin", "list/two.bin", "list/my notes.txt"})
        SetMTime(Root(p), kWhen);

    const std::string tailParent = "</pre>\n<hr><h3><a href=.>" + kPrev +
                                   " Parent Folder</a></h3>\n<hr><em>Do your part to beautify the web! Turn "
                                   "<strong>off</strong> link underlining!</em>\n\r\n";
    // Sun, 06 Nov 1994 08:49:37 GMT in the local time of the test, eight hours east.
    const std::string date = " 11/06/94 16:49  ";
    const std::string entries = LinesInFolderOrder(
        Root("list"),
        {
            {"sub", date + "  Folder <a href=/list/sub>" + kFolder + "sub</a>\n"},
            {"zero.txt", date + "    &lt; 1K <a href=/list/zero.txt>" + kFile + "zero.txt</a>\n"},
            {"three.bin", date + "      3K <a href=/list/three.bin>" + kFile + "three.bin</a>\n"},
            {"two.bin", date + "   2048K <a href=/list/two.bin>" + kFile + "two.bin</a>\n"},
            {"my notes.txt",
             date + "    &lt; 1K <a href=/list/my%20notes.txt>" + kFile + "my notes.txt</a>\n"},
        });
    for (const char* url : {"/list", "/list/"}) {
        SCOPED_TRACE(url);
        Response r = Curl(url);
        EXPECT_EQ(r.statusLine, "HTTP/1.0 200 OK");
        EXPECT_EQ(r.Names(), (std::vector<std::string>{"Server", "Date"}));
        EXPECT_EQ(r.body, std::string("<html><h1>http://testhost") + url +
                              "</h1><p>\n<pre> Last Modified       Size " + kBlank + "Name\n<hr>\n" +
                              entries + tailParent);
        // A HEAD of a folder gives the same head and no page.
        Response head = Curl(url, "-I");
        EXPECT_EQ(head.statusLine, "HTTP/1.0 200 OK");
        EXPECT_EQ(head.Names(), r.Names());
        EXPECT_EQ(head.body, "");
    }
    for (const char* url : {"/empty/", "/hiddenonly/"}) {
        SCOPED_TRACE(url);
        Response r = Curl(url);
        EXPECT_EQ(r.body, std::string("<html><h1>http://testhost") + url +
                              "</h1><p>\n<pre> Last Modified       Size " + kBlank +
                              "Name\n<hr>\n<strong>empty</strong>\n" + tailParent);
    }

    // The root page carries the sentence and no parent link; without icons the icon texts go.
    server->host().m_bListIcons = FALSE;
    SetMTime(Root("list"), kWhen);
    SetMTime(Root("empty"), kWhen);
    SetMTime(Root("hiddenonly"), kWhen);
    const std::string rootEntries =
        LinesInFolderOrder(Root(), {{"list", date + "  Folder <a href=/list>list</a>\n"},
                                    {"empty", date + "  Folder <a href=/empty>empty</a>\n"},
                                    {"hiddenonly", date + "  Folder <a href=/hiddenonly>hiddenonly</a>\n"}});
    Response root = Curl("/");
    EXPECT_EQ(
        root.body,
        "<html><h1>http://testhost/</h1><p>\nThe URL specified is a folder that does not contain a default "
        "document or application. The following is a listing of what documents and subfolders it does "
        "have; please select one:<p>\n<pre> Last Modified       Size Name\n<hr>\n" +
            rootEntries +
            "</pre>\n<hr><em>Do your part to beautify the web! Turn <strong>off</strong> link "
            "underlining!</em>\n\r\n");

    server->host().m_bListAllowed = FALSE;
    Response forbidden = Curl("/list/");
    EXPECT_EQ(forbidden.statusLine, "HTTP/1.0 403 Forbidden");
    EXPECT_EQ(forbidden.body, "");
}

namespace {

// A plain loopback client for what curl will not send: raw bytes, cut-off requests, early closes.
class RawClient {
public:
    explicit RawClient(UINT port) {
        m_s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<u_short>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_s != INVALID_SOCKET && connect(m_s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            closesocket(m_s);
            m_s = INVALID_SOCKET;
        }
    }
    ~RawClient() { Close(); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool ok() const { return m_s != INVALID_SOCKET; }
    bool Send(const std::string& bytes) {
        return send(m_s, bytes.data(), static_cast<int>(bytes.size()), 0) == static_cast<int>(bytes.size());
    }
    void Close() {
        if (m_s != INVALID_SOCKET)
            closesocket(m_s);
        m_s = INVALID_SOCKET;
    }
    // Reads until the server ends the connection. False when it has not within a minute. A reset
    // after the answer (the server closed with bytes of ours unread) also ends it.
    bool ReadToEnd(std::string& out) {
        char buf[65536];
        for (;;) {
            pollfd p{static_cast<int>(m_s), POLLIN, 0};
            if (poll(&p, 1, 60000) <= 0)
                return false;
            int n = recv(m_s, buf, static_cast<int>(sizeof buf), 0);
            if (n > 0) {
                out.append(buf, static_cast<size_t>(n));
                continue;
            }
            return n == 0 || WSAGetLastError() == WSAECONNRESET;
        }
    }

private:
    SOCKET m_s = INVALID_SOCKET;
};

// Waits until every connection made so far has been destroyed, and at least nCreated were made.
bool AllConnectionsReleased(int nCreated) {
    for (int i = 0; i < 600; ++i) {
        if (g_nCreated.load() >= nCreated && g_nDestroyed.load() == g_nCreated.load())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

} // namespace

// Requests beyond the limits, and ones no method can take, are answered and the connection is
// closed by the server.
TEST_F(ServerTest, RawRequestsAnsweredAndClosed) {
    WriteFileBytes(Root("a.html"), "a");
    std::string manyHeaders = "GET /a.html HTTP/1.0\r\n";
    for (int i = 0; i < 20; ++i)
        manyHeaders += "X-" + std::to_string(i) + ": " + std::string(4000, 'h') + "\r\n";
    manyHeaders += "\r\n";
    struct Case {
        const char* label;
        std::vector<std::string> pieces;
        const char* status;
    };
    const std::vector<Case> cases = {
        {"request line over 8 KiB",
         {"GET /" + std::string(8200, 'u') + " HTTP/1.0\r\n\r\n"},
         "400 Bad Request"},
        {"header line over 8 KiB",
         {"GET /a.html HTTP/1.0\r\nX: " + std::string(8200, 'h') + "\r\n\r\n"},
         "400 Bad Request"},
        {"header block over 64 KiB", {manyHeaders}, "400 Bad Request"},
        {"body over 16 MiB",
         {"POST /a.html HTTP/1.0\r\nContent-Length: 16777217\r\n\r\nabc"},
         "400 Bad Request"},
        {"decoded zero byte", {"GET /a%00.html HTTP/1.0\r\n\r\n"}, "400 Bad Request"},
        {"empty first line", {"\r\nGET /a.html HTTP/1.0\r\n\r\n"}, "501 Not Implemented"},
        {"request line without a blank", {"GET\r\n\r\n"}, "501 Not Implemented"},
        {"negative Content-Length on a POST",
         {"POST /a.html HTTP/1.0\r\nContent-Length: -5\r\n\r\n"},
         "501 Not Implemented"},
        {"bare line feeds, in pieces", {"GET /a.h", "tml HTTP/1.0\n", "\n"}, "200 OK"},
    };
    const int nBefore = g_nCreated.load();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        RawClient client(server->port());
        ASSERT_TRUE(client.ok());
        for (const std::string& piece : c.pieces) {
            ASSERT_TRUE(client.Send(piece));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        std::string answer;
        EXPECT_TRUE(client.ReadToEnd(answer)) << "the server kept the connection open";
        Response r = HttpAnswer::Parse(answer);
        EXPECT_EQ(r.statusLine, std::string("HTTP/1.0 ") + c.status);
        EXPECT_EQ(r.Header("Server"), "OKVHttpServer/1.0");
        if (std::string(c.status) != "200 OK") {
            EXPECT_EQ(r.Names(), (std::vector<std::string>{"Server", "Date"}));
            EXPECT_EQ(answer.substr(answer.size() - 4), "\r\n\r\n");
        } else {
            EXPECT_EQ(r.body, "a");
        }
    }
    EXPECT_TRUE(AllConnectionsReleased(nBefore + static_cast<int>(cases.size())));
}

// A peer that goes away at any stage releases its connection once, and the server goes on.
TEST_F(ServerTest, PeerLeavingAtEveryStage) {
    std::string big(3 * 1048576, 'b');
    WriteFileBytes(Root("big.db"), big);
    const std::vector<std::pair<const char*, std::string>> stages = {
        {"before sending anything", ""},
        {"in the request line", "GET /bi"},
        {"in the headers", "GET /big.db HTTP/1.0\r\nHost: x"},
        {"in the body", "POST /big.db HTTP/1.0\r\nContent-Length: 100\r\n\r\n0123456789"},
        {"while a large file is being sent", "GET /big.db HTTP/1.0\r\n\r\n"},
    };
    int nExpected = g_nCreated.load();
    for (const auto& [label, bytes] : stages) {
        SCOPED_TRACE(label);
        {
            RawClient client(server->port());
            ASSERT_TRUE(client.ok());
            if (!bytes.empty()) {
                ASSERT_TRUE(client.Send(bytes));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ++nExpected;
        EXPECT_TRUE(AllConnectionsReleased(nExpected))
            << g_nCreated.load() << " made, " << g_nDestroyed.load() << " destroyed";
    }
    Response r = Curl("/big.db");
    EXPECT_EQ(r.statusLine, "HTTP/1.0 200 OK");
    EXPECT_TRUE(r.body == big);
}

// A root that does not exist on disk: nothing above it is ever served, whatever lies there.
TEST_F(ServerTest, NothingAboveTheRootIsServed) {
    WriteFileBytes(dir.sub("plain.txt"), "outside");
    server->host().m_strRoot = (AfxUnmapPath(dir.sub("plain.txt")) + "\\root").c_str();
    EXPECT_EQ(Curl("/x.html").statusLine, "HTTP/1.0 404 Not Found");
    EXPECT_EQ(Curl("/").statusLine, "HTTP/1.0 404 Not Found");
    EXPECT_EQ(Curl("/../plain.txt").statusLine, "HTTP/1.0 400 Bad Request");
}

// With the memory-file root as the document root, which no disk holds, only the root itself maps
// inside it.
TEST_F(ServerTest, MemoryFileRootOnDisk) {
    server->host().m_strRoot = MEMFILE_ROOT;
    struct Case {
        const char* path;
        const char* status;
    };
    for (const Case& c : std::vector<Case>{{"/", "HTTP/1.0 404 Not Found"},
                                           {"/mag/77/view1.html", "HTTP/1.0 400 Bad Request"},
                                           {"/mag/77/", "HTTP/1.0 400 Bad Request"}}) {
        SCOPED_TRACE(c.path);
        Response r = Curl(c.path);
        EXPECT_EQ(r.statusLine, c.status);
        EXPECT_EQ(r.Names(), (std::vector<std::string>{"Server", "Date"}));
    }
}

// A name that exists but cannot be opened as a file (here a socket) is answered 503.
TEST_F(ServerTest, FileThatCannotBeOpened) {
    const std::string path = Root("sock.html");
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof a.sun_path);
    memcpy(a.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), static_cast<socklen_t>(sizeof a)), 0);
    Response r = Curl("/sock.html");
    EXPECT_EQ(r.statusLine, "HTTP/1.0 503 Service Unavailable");
    EXPECT_EQ(r.Names(), (std::vector<std::string>{"Server", "Date"}));
    EXPECT_EQ(r.body, "");
    ::close(fd);
}
