// Text requests of the HTTP client against peers that behave exactly as a test needs (a scripted
// raw-socket peer), against Python's http.server and against nginx.
#include "net/MyHttp.h"

#include "RawPeer.h"
#include "tests/support/NginxPeer.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WaitFor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

const std::string kAgent = "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1)\r\n";
const std::string kTail = "Content-Type: application/x-www-form-urlencoded\r\n"
                          "Cache-Control: no-cache\r\n"
                          "Connection: close\r\n";

void Reply(int fd, const std::string& head, const std::string& body = "") {
    RawPeer::Write(fd, head + "\r\n" + body);
}

int Get(const std::string& url, CString& body, int timeoutMs = 30000) {
    CMyHttp http;
    http.SetTimeout(timeoutMs);
    return http.GetUrl(url.c_str(), nullptr, 0, "", body);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The bytes on the wire

TEST(RequestBytes, PostWithRefererIsSentExactly) {
    RawPeer peer([](RawPeer&, int fd, const std::string&, int) {
        Reply(fd, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n", "ok");
    });
    CMyHttp http;
    CString body;
    ASSERT_EQ(MYHTTP_OK, http.GetUrl(peer.Url("/form?x=a:b@c").c_str(), "a=1&b=2", 7, "http://ref/p", body));
    EXPECT_EQ("ok", body.str());
    ASSERT_EQ(1u, peer.Requests().size());
    EXPECT_EQ("POST /form?x=a:b@c HTTP/1.1\r\n"
              "Host: 127.0.0.1\r\n"
              "Accept: */*\r\n"
              "Referer: http://ref/p\r\n" +
                  kAgent + kTail + "Content-Length: 7\r\n\r\na=1&b=2",
              peer.Requests()[0]);
}

// A redirect hop carries the old URL as referer, the resume offset and the kept cookie, in the
// fixed order of the lines.
TEST(RequestBytes, RedirectHopWithRangeAndCookie) {
    RawPeer peer([](RawPeer&, int fd, const std::string&, int index) {
        if (index == 0)
            Reply(fd, "HTTP/1.1 302 Found\r\nSet-Cookie: sid=12345; path=/\r\nLocation: next?q=1\r\n");
        else
            Reply(fd, "HTTP/1.1 200 OK\r\n", "done");
    });
    CMyHttp http;
    http.SetResumeOffset(4096);
    CString body;
    const std::string first = peer.Url("/dir/first");
    ASSERT_EQ(MYHTTP_OK, http.GetUrl(first.c_str(), nullptr, 0, "", body));
    EXPECT_EQ("done", body.str());
    auto requests = peer.Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("GET /dir/first HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: */*\r\nReferer: \r\n"
              "Range:bytes=4096-\r\n" +
                  kAgent + kTail + "\r\n",
              requests[0]);
    EXPECT_EQ("GET /dir/next?q=1 HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: */*\r\nReferer: " + first +
                  "\r\nRange:bytes=4096-\r\nCookie: sid=12345; path=/\r\n" + kAgent + kTail + "\r\n",
              requests[1]);
}

// Long values from the network or the caller are held whole: nothing is cut or overrun.
TEST(RequestBytes, LongPathLocationAndCookie) {
    const std::string longPath = "/p/" + std::string(6000, 'a') + "?u=http://x:1@y/" + std::string(3000, 'q');
    const std::string longCookie = "k=" + std::string(5000, 'c');
    const std::string longTarget = "/t/" + std::string(7000, 'l');
    RawPeer peer([&](RawPeer&, int fd, const std::string&, int index) {
        if (index == 0)
            Reply(fd, "HTTP/1.1 301 Moved\r\nSet-Cookie: " + longCookie + "\r\nLocation: " + longTarget +
                          "\r\nTransfer-Encoding: " + std::string(3000, 'x') + "\r\n");
        else
            Reply(fd, "HTTP/1.1 200 OK\r\n", "long ok");
    });
    CString body;
    ASSERT_EQ(MYHTTP_OK, Get(peer.Url(longPath), body));
    EXPECT_EQ("long ok", body.str());
    auto requests = peer.Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ(0u, requests[0].find("GET " + longPath + " HTTP/1.1\r\n"));
    EXPECT_EQ(0u, requests[1].find("GET " + longTarget + " HTTP/1.1\r\n"));
    EXPECT_NE(std::string::npos, requests[1].find("\r\nCookie: " + longCookie + "\r\n"));
}

// ---------------------------------------------------------------------------------------------
// Redirects and header fields

struct ChainCase {
    int requests; // requests the peer needs before it answers 200 (0: never)
    int result;
    size_t made; // requests the client makes
};

class RedirectChain : public ::testing::TestWithParam<ChainCase> {};

TEST_P(RedirectChain, AtMostTenRequests) {
    const ChainCase c = GetParam();
    RawPeer peer([&](RawPeer&, int fd, const std::string&, int index) {
        if (c.requests > 0 && index == c.requests - 1)
            Reply(fd, "HTTP/1.1 200 OK\r\n", "end of chain");
        else
            Reply(fd, "HTTP/1.1 302 Found\r\nLocation: /hop/" + std::to_string(index + 1) + "\r\n");
    });
    CString body = "unchanged";
    EXPECT_EQ(c.result, Get(peer.Url("/hop/0"), body));
    EXPECT_EQ(c.made, peer.Requests().size());
    EXPECT_EQ(c.result == MYHTTP_OK ? "end of chain" : "unchanged", body.str());
}

INSTANTIATE_TEST_SUITE_P(Lengths, RedirectChain,
                         ::testing::Values(ChainCase{1, MYHTTP_OK, 1}, ChainCase{10, MYHTTP_OK, 10},
                                           ChainCase{11, MYHTTP_ERR_STATUS, 10},
                                           ChainCase{0, MYHTTP_ERR_STATUS, 10}));

struct HeaderCase {
    const char* name;
    std::string first; // the first reply's header lines
    std::string want;  // what the second request must start with; "" when there is none
    int result;
};

class FirstReply : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(FirstReply, DecidesTheNextRequest) {
    const HeaderCase& c = GetParam();
    RawPeer peer([&](RawPeer&, int fd, const std::string&, int index) {
        if (index == 0)
            Reply(fd, c.first, "first body");
        else
            Reply(fd, "HTTP/1.1 200 OK\r\n", "second body");
    });
    CString body;
    EXPECT_EQ(c.result, Get(peer.Url("/a/b"), body)) << c.name;
    auto requests = peer.Requests();
    if (c.want.empty()) {
        EXPECT_EQ(1u, requests.size()) << c.name;
    } else {
        ASSERT_EQ(2u, requests.size()) << c.name;
        EXPECT_EQ(0u, requests[1].find(c.want)) << c.name << "\n" << requests[1];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FirstReply,
    ::testing::Values(
        HeaderCase{"lower-case names", "HTTP/1.1 302 Found\r\nlocation: /x\r\nset-cookie: abcdefghi\r\n",
                   "GET /x HTTP/1.1", MYHTTP_OK},
        HeaderCase{"no blank after the colon", "HTTP/1.1 302 Found\r\nLocation:/y\r\n", "GET /y HTTP/1.1",
                   MYHTTP_OK},
        HeaderCase{"Content-Location is not Location",
                   "HTTP/1.1 302 Found\r\nContent-Location: /wrong\r\nLocation: /right\r\n", "GET /right ",
                   MYHTTP_OK},
        HeaderCase{"a name inside a value",
                   "HTTP/1.1 302 Found\r\nX-Note: Location: /wrong\r\nLocation: /z\r\n", "GET /z ",
                   MYHTTP_OK},
        HeaderCase{"relative to the folder", "HTTP/1.1 303 See Other\r\nLocation: c?u=http://h/\r\n",
                   "GET /a/c?u=http://h/ ", MYHTTP_OK},
        HeaderCase{"query only", "HTTP/1.1 302 Found\r\nLocation: ?page=2\r\n", "GET /a/b?page=2 ",
                   MYHTTP_OK},
        HeaderCase{"200 with a Location stays", "HTTP/1.1 200 OK\r\nLocation: /elsewhere\r\n", "", MYHTTP_OK},
        HeaderCase{"a Location with any status is followed", "HTTP/1.1 201 Created\r\nLocation: /made\r\n",
                   "GET /made ", MYHTTP_OK},
        HeaderCase{"error status", "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n", "", MYHTTP_ERR_STATUS},
        HeaderCase{"redirect without Location", "HTTP/1.1 302 Found\r\n", "", MYHTTP_ERR_STATUS},
        HeaderCase{"not a status line", "ICY 200 OK\r\n", "", MYHTTP_ERR_STATUS}),
    [](const auto& info) {
        std::string n = info.param.name;
        for (auto& ch : n)
            if (!isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return n;
    });

TEST(CookieKept, OnlyBeyondEightCharacters) {
    for (const std::string cookie : {"12345678", "123456789"}) {
        RawPeer peer([&](RawPeer&, int fd, const std::string&, int index) {
            if (index == 0)
                Reply(fd, "HTTP/1.1 302 Found\r\nSet-Cookie: " + cookie + "\r\nLocation: /second\r\n");
            else if (index == 1)
                Reply(fd, "HTTP/1.1 302 Found\r\nLocation: /third\r\n");
            else
                Reply(fd, "HTTP/1.1 200 OK\r\n", "x");
        });
        CString body;
        ASSERT_EQ(MYHTTP_OK, Get(peer.Url("/first"), body));
        auto requests = peer.Requests();
        ASSERT_EQ(3u, requests.size());
        bool kept = cookie.size() > 8;
        // Sent with every later request of the same object.
        for (size_t i = 1; i < 3; ++i)
            EXPECT_EQ(kept, requests[i].find("\r\nCookie: " + cookie + "\r\n") != std::string::npos)
                << cookie;
    }
}

// ---------------------------------------------------------------------------------------------
// Bodies

struct BodyCase {
    const char* name;
    std::string reply; // everything the peer sends, header included
    int result;
    std::string body;
};

class ReplyBody : public ::testing::TestWithParam<BodyCase> {};

TEST_P(ReplyBody, DecodedOrRefused) {
    const BodyCase& c = GetParam();
    RawPeer peer([&](RawPeer&, int fd, const std::string&, int) { RawPeer::Write(fd, c.reply); });
    CString body = "unchanged";
    EXPECT_EQ(c.result, Get(peer.Url("/"), body)) << c.name;
    EXPECT_EQ(c.result == MYHTTP_OK ? c.body : std::string("unchanged"), body.str()) << c.name;
}

const std::string kChunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplyBody,
    ::testing::Values(
        BodyCase{"plain to the close", "HTTP/1.0 200 OK\r\n\r\nall of it", MYHTTP_OK, "all of it"},
        // Content-Length is not what ends a text body.
        BodyCase{"length shorter than the body", "HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nall of it",
                 MYHTTP_OK, "all of it"},
        BodyCase{"text ends at a zero byte", std::string("HTTP/1.0 200 OK\r\n\r\nab\0cd", 24), MYHTTP_OK,
                 "ab"},
        BodyCase{"chunks, extensions and a trailer",
                 kChunked +
                     "4;name=value\r\nWiki\r\n5\r\npedia\r\nE\r\n in\r\n\r\nchunks.\r\n0\r\nT: 1\r\n\r\n",
                 MYHTTP_OK, "Wikipedia in\r\n\r\nchunks."},
        BodyCase{"upper- and lower-case sizes", kChunked + "A\r\n0123456789\r\na\r\nabcdefghij\r\n0\r\n\r\n",
                 MYHTTP_OK, "0123456789abcdefghij"},
        BodyCase{"encoding name in capitals",
                 "HTTP/1.1 200 OK\r\ntransfer-encoding: CHUNKED\r\n\r\n3\r\nabc\r\n0\r\n\r\n", MYHTTP_OK,
                 "abc"},
        BodyCase{"empty chunked body", kChunked + "0\r\n\r\n", MYHTTP_OK, ""},
        BodyCase{"size beyond the data", kChunked + "FF\r\nabc\r\n", MYHTTP_ERR_STATUS, ""},
        BodyCase{"cut inside a chunk", kChunked + "5\r\nHello\r\n5\r\nWor", MYHTTP_ERR_STATUS, ""},
        BodyCase{"cut after a chunk", kChunked + "5\r\nHello\r\n", MYHTTP_ERR_STATUS, ""},
        BodyCase{"no digits", kChunked + "zz\r\nHello\r\n0\r\n\r\n", MYHTTP_ERR_STATUS, ""},
        BodyCase{"empty size line", kChunked + "\r\nHello\r\n0\r\n\r\n", MYHTTP_ERR_STATUS, ""},
        BodyCase{"data longer than its size", kChunked + "3\r\nHello\r\n0\r\n\r\n", MYHTTP_ERR_STATUS, ""},
        BodyCase{"size that overflows", kChunked + "FFFFFFFFFFFFFFFFFFFFFF\r\nab\r\n0\r\n\r\n",
                 MYHTTP_ERR_STATUS, ""},
        BodyCase{"header never ends", "HTTP/1.1 200 OK\r\nX: y\r\n", MYHTTP_ERR_STATUS, ""},
        BodyCase{"header larger than the client takes",
                 "HTTP/1.1 200 OK\r\nX-Filler: " + std::string(70000, 'f') + "\r\n\r\nbody",
                 MYHTTP_ERR_STATUS, ""},
        BodyCase{"closed without a word", "", MYHTTP_ERR_STATUS, ""}),
    [](const auto& info) {
        std::string n = info.param.name;
        for (auto& ch : n)
            if (!isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return n;
    });

// A chunked body of many pieces, most of it arriving with the header.
TEST(ReplyBodyLarge, ChunkedAcrossManyReceives) {
    std::string want;
    std::string wire = kChunked;
    for (int i = 0; i < 2000; ++i) {
        std::string part(static_cast<size_t>(1 + i % 97), static_cast<char>('a' + i % 26));
        char size[16];
        snprintf(size, sizeof size, i % 2 ? "%X" : "%x", static_cast<unsigned>(part.size()));
        wire += std::string(size) + "\r\n" + part + "\r\n";
        want += part;
    }
    wire += "0\r\n\r\n";
    RawPeer peer([&](RawPeer&, int fd, const std::string&, int) {
        // In small writes, so the chunk lines break across receives.
        for (size_t at = 0; at < wire.size(); at += 1000)
            RawPeer::Write(fd, wire.substr(at, 1000));
    });
    CString body;
    ASSERT_EQ(MYHTTP_OK, Get(peer.Url("/"), body));
    EXPECT_TRUE(want == body.str());
}

// ---------------------------------------------------------------------------------------------
// Results 101 and 102, time-outs and the stop

TEST(Failures, ConnectRefusedUnresolvableOrNoHost) {
    CString body = "unchanged";
    int port = PeerProcess::FreePort();
    EXPECT_EQ(MYHTTP_ERR_CONNECT, Get("http://127.0.0.1:" + std::to_string(port) + "/", body));
    EXPECT_EQ(MYHTTP_ERR_CONNECT, Get("http://no-such-host.invalid/", body));
    EXPECT_EQ(MYHTTP_ERR_CONNECT, Get("http:///path", body));
    EXPECT_EQ(MYHTTP_ERR_CONNECT, Get("http://" + std::string(3000, 'h') + "/", body));
    EXPECT_EQ("unchanged", body.str());
}

// A peer that resets the connection without reading: the request cannot be sent.
TEST(Failures, SendRefusedIs102) {
    RawPeer peer([](RawPeer&, int fd, const std::string&, int) { RawPeer::ResetOnClose(fd); },
                 RawPeer::kNoRead);
    std::string post(64 << 20, 'p');
    CMyHttp http;
    CString body = "unchanged";
    EXPECT_EQ(MYHTTP_ERR_SEND, http.GetUrl(peer.Url("/upload").c_str(), post.c_str(),
                                           static_cast<int>(post.size()), "", body));
    EXPECT_EQ("unchanged", body.str());
}

// A host that never completes the connection: the connect gives up after the time-out.
TEST(Failures, ConnectTimesOut) {
    RawPeer peer([](RawPeer&, int, const std::string&, int) {}, RawPeer::kNoAccept, 0);
    // The one place in the queue is taken; the next connection's handshake is never answered.
    int filler = (::socket)(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(peer.Port()));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, ::connect(filler, reinterpret_cast<sockaddr*>(&a), static_cast<socklen_t>(sizeof a)));
    CString body;
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(MYHTTP_ERR_CONNECT, Get(peer.Url("/"), body, 1000));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(60));
    close(filler);
}

struct SilentCase {
    const char* name;
    const char* before; // what the peer sends before it falls silent
};

class SilentPeer : public ::testing::TestWithParam<SilentCase> {};

TEST_P(SilentPeer, TimeOutIsAFailure) {
    RawPeer peer([&](RawPeer& p, int fd, const std::string&, int) {
        RawPeer::Write(fd, GetParam().before);
        p.WaitForEnd();
    });
    CString body = "unchanged";
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(MYHTTP_ERR_STATUS, Get(peer.Url("/"), body, 500));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(60));
    EXPECT_EQ("unchanged", body.str());
}

TEST_P(SilentPeer, StopFromAnotherThreadWakesTheReceive) {
    testwait::Signal silent;
    RawPeer peer([&](RawPeer& p, int fd, const std::string&, int) {
        RawPeer::Write(fd, GetParam().before);
        silent.Set();
        p.WaitForEnd();
    });
    CMyHttp http;
    CString body = "unchanged";
    std::thread stopper([&] {
        EXPECT_TRUE(silent.Wait()); // the client now waits in its receive
        http.Stop();
    });
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(MYHTTP_ERR_STATUS, http.GetUrl(peer.Url("/").c_str(), nullptr, 0, "", body));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(25));
    stopper.join();
    EXPECT_EQ("unchanged", body.str());
}

INSTANTIATE_TEST_SUITE_P(Moments, SilentPeer,
                         ::testing::Values(SilentCase{"before the header", ""},
                                           SilentCase{"inside the header", "HTTP/1.1 200 OK\r\nConte"},
                                           SilentCase{"inside the body", "HTTP/1.0 200 OK\r\n\r\npart of"},
                                           SilentCase{"inside a chunk",
                                                      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                                      "10\r\nabc"}));

// Without a time-out chosen by the caller, a silent peer is given up after 30 seconds.
TEST(Failures, DefaultTimeOutEndsASilentRequest) {
    RawPeer peer([](RawPeer& p, int, const std::string&, int) { p.WaitForEnd(); });
    CMyHttp http;
    CString body;
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(MYHTTP_ERR_STATUS, http.GetUrl(peer.Url("/").c_str(), nullptr, 0, "", body));
    auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(waited, std::chrono::seconds(29));
    EXPECT_LT(waited, std::chrono::seconds(100));
}

// ---------------------------------------------------------------------------------------------
// Stock servers

TEST(StockServers, PythonHttpServerRedirectsAFolderRelatively) {
    TempDir tmp("pyhttp_");
    fs::path dir = tmp.path();
    fs::create_directories(dir / "shelf");
    WriteFileBytes(dir / "shelf" / "index.html", "<p>shelf index</p>");
    int port = PeerProcess::FreePort();
    PeerProcess server;
    ASSERT_TRUE(StartPythonFileServer(server, dir.string(), port));
    const std::string base = "http://127.0.0.1:" + std::to_string(port);
    CString body;
    // "/shelf" is answered with a 301 to "/shelf/", a Location without scheme or host.
    EXPECT_EQ(MYHTTP_OK, Get(base + "/shelf", body));
    EXPECT_EQ("<p>shelf index</p>", body.str());
    EXPECT_EQ(MYHTTP_OK, Get(base + "/shelf/index.html?v=1:2", body));
    EXPECT_EQ("<p>shelf index</p>", body.str());
    EXPECT_EQ(MYHTTP_ERR_STATUS, Get(base + "/shelf/none.html", body));
    server.Stop();
}

TEST(StockServers, NginxStaticFilesAndItsRedirect) {
    if (!NginxInstalled())
        GTEST_SKIP() << "nginx is not installed";
    TempDir tmp("nginx_");
    fs::path dir = tmp.path();
    fs::create_directories(dir / "www" / "item");
    WriteFileBytes(dir / "www" / "update.xml", "<update version=\"2\"/>");
    WriteFileBytes(dir / "www" / "item" / "index.html", "item page");
    int port = PeerProcess::FreePort();
    PeerProcess nginx;
    ASSERT_TRUE(StartNginx(nginx, dir, port));
    const std::string base = "http://127.0.0.1:" + std::to_string(port);
    CString body;
    EXPECT_EQ(MYHTTP_OK, Get(base + "/update.xml?t=1", body));
    EXPECT_EQ("<update version=\"2\"/>", body.str());
    // nginx answers "/item" with an absolute Location that names its port.
    EXPECT_EQ(MYHTTP_OK, Get(base + "/item", body));
    EXPECT_EQ("item page", body.str());
    EXPECT_EQ(MYHTTP_ERR_STATUS, Get(base + "/missing.xml", body));
    nginx.Stop();
}

TEST(UrlParts, QueryStraightAfterTheHostBelongsToTheRoot) {
    HttpUrlInfo info;
    CMyHttp::ParseUrl("http://h:81?a=b/c", info);
    EXPECT_EQ("h", info.host.str());
    EXPECT_EQ(81, info.port);
    EXPECT_EQ("/?a=b/c", info.path.str());
    CMyHttp::ParseUrl("h:99999/x", info);
    EXPECT_EQ(80, info.port);
    EXPECT_EQ("/x", info.path.str());
}
