#include "net/MyHttp.h"

#include "RawPeer.h"

#include "tests/support/NginxPeer.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WaitFor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

std::string Payload(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}

class HttpPeer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_peer = new PeerProcess;
        ASSERT_TRUE(s_peer->Start({"python3", std::string(TEST_SOURCE_DIR) + "/http_peer.py"}));
    }
    static void TearDownTestSuite() {
        delete s_peer;
        s_peer = nullptr;
    }
    CString Url(const std::string& path) const {
        return CString("http://127.0.0.1:" + std::to_string(s_peer->Port()) + path);
    }
    static PeerProcess* s_peer;
    TempDir m_tmp{"myhttp_"}; // one folder per test, removed whole
    fs::path m_dir = m_tmp.path();
};
PeerProcess* HttpPeer::s_peer = nullptr;

TEST_F(HttpPeer, SendsExactlyTheRequestLines) {
    CMyHttp http;
    CString body;
    ASSERT_EQ(MYHTTP_OK, http.GetUrl(Url("/echo?a=1&b=http://x@y:2"), nullptr, 0, "", body));
    EXPECT_EQ(std::string("GET /echo?a=1&b=http://x@y:2 HTTP/1.1\r\n"
                          "Host: 127.0.0.1\r\n"
                          "Accept: */*\r\n"
                          "Referer: \r\n"
                          "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1)\r\n"
                          "Content-Type: application/x-www-form-urlencoded\r\n"
                          "Cache-Control: no-cache\r\n"
                          "Connection: close\r\n\r\n"),
              body.str());
}

TEST_F(HttpPeer, RangeLineOnlyWithAResumeOffset) {
    CMyHttp http;
    http.SetResumeOffset(5000);
    CString body;
    ASSERT_EQ(MYHTTP_OK, http.GetUrl(Url("/echo"), nullptr, 0, "", body));
    EXPECT_NE(std::string::npos, body.str().find("\r\nRange:bytes=5000-\r\n"));
}

struct TextCase {
    const char* path;
    int result;
    const char* bodyHas; // nullptr: the body is not looked at
    const char* bodyLacks;
};

class TextRequests : public HttpPeer, public ::testing::WithParamInterface<TextCase> {};

TEST_P(TextRequests, ResultAndBody) {
    const TextCase& c = GetParam();
    CMyHttp http;
    CString body;
    EXPECT_EQ(c.result, http.GetUrl(Url(c.path), nullptr, 0, "", body)) << c.path;
    if (c.bodyHas) {
        EXPECT_NE(std::string::npos, body.str().find(c.bodyHas)) << c.path << "\n" << body.str();
    }
    if (c.bodyLacks) {
        EXPECT_EQ(std::string::npos, body.str().find(c.bodyLacks)) << c.path << "\n" << body.str();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextRequests,
    ::testing::Values(
        // Ten requests in all may be made: nine redirects and the answer, but not ten redirects.
        TextCase{"/redir/9", MYHTTP_OK, "end", nullptr},
        TextCase{"/redir/10", MYHTTP_ERR_STATUS, nullptr, nullptr},
        // A cookie of 8 characters is not kept; one of 9 is sent with the next hop.
        TextCase{"/cookie/8", MYHTTP_OK, "GET /echo ", "Cookie:"},
        TextCase{"/cookie/9", MYHTTP_OK, "\r\nCookie: ccccccccc\r\n", nullptr},
        TextCase{"/nospace", MYHTTP_OK, "GET /echo/nospace ", nullptr},
        // Header names are matched per line and without regard to case.
        TextCase{"/lower", MYHTTP_OK, "GET /echo/lower ", nullptr},
        TextCase{"/lower", MYHTTP_OK, "\r\nCookie: lowercookie1\r\n", nullptr},
        TextCase{"/contentloc", MYHTTP_OK, "GET /echo/right ", nullptr},
        // A relative Location is resolved against the current URL; the referer is the old URL.
        TextCase{"/relative", MYHTTP_OK, "GET /echo?x=1:2@3 HTTP/1.1", nullptr},
        TextCase{"/relative", MYHTTP_OK, "Referer: http://127.0.0.1:", nullptr},
        TextCase{"/okwithloc", MYHTTP_OK, "stay", nullptr},
        TextCase{"/chunked", MYHTTP_OK, "Hello, 0123456789World", "X-Trailer"},
        TextCase{"/chunkedcut", MYHTTP_ERR_STATUS, nullptr, nullptr},
        TextCase{"/chunkedbad", MYHTTP_ERR_STATUS, nullptr, nullptr},
        TextCase{"/status/404", MYHTTP_ERR_STATUS, nullptr, nullptr},
        TextCase{"/status/302", MYHTTP_ERR_STATUS, nullptr, nullptr},
        TextCase{"/bigheader", MYHTTP_ERR_STATUS, nullptr, nullptr}));

TEST_F(HttpPeer, ChunkedTextFromOneBigReply) {
    CMyHttp http;
    CString body;
    ASSERT_EQ(MYHTTP_OK, http.GetUrl(Url("/chunkedbig?size=20000"), nullptr, 0, "", body));
    // The text body ends at its first zero byte; the payload's first zero is at offset 0.
    std::string want = Payload(20000);
    EXPECT_EQ(want.substr(0, want.find('\0')), body.str());
}

TEST_F(HttpPeer, ConnectFailureIs101) {
    CMyHttp http;
    CString body = "unchanged";
    int port = PeerProcess::FreePort();
    EXPECT_EQ(MYHTTP_ERR_CONNECT,
              http.GetUrl(CString(("http://127.0.0.1:" + std::to_string(port) + "/").c_str()), nullptr, 0, "",
                          body));
    EXPECT_EQ(MYHTTP_ERR_CONNECT, http.GetUrl("http://no-such-host.invalid/", nullptr, 0, "", body));
    EXPECT_EQ(CString("unchanged"), body);
}

TEST_F(HttpPeer, SilentPeerTimesOut) {
    CMyHttp http;
    http.SetTimeout(500);
    CString body;
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_NE(MYHTTP_OK, http.GetUrl(Url("/silent?for=10"), nullptr, 0, "", body));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(8));
}

TEST_F(HttpPeer, StopWakesABlockedReceive) {
    // A peer that takes the request and never answers: once it has the request, the client waits
    // in its receive.
    testwait::Signal requested;
    RawPeer silent([&](RawPeer& p, int, const std::string&, int) {
        requested.Set();
        p.WaitForEnd();
    });
    CMyHttp http;
    CString body;
    std::thread stopper([&] {
        EXPECT_TRUE(requested.Wait());
        http.Stop();
    });
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_NE(MYHTTP_OK, http.GetUrl(silent.Url("/silent?for=10").c_str(), nullptr, 0, "", body));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    stopper.join();
}

struct DownloadCase {
    const char* name;
    const char* query;
    size_t partial; // bytes already on disk (the good first bytes, or junk when junk is set)
    bool junk;      // the partial bytes are wrong, so only a restart from 0 gives the file
    int result;
    size_t wantSize; // the file's size afterwards; the content is the payload's first bytes
};

// A case prints as its name, which ctest then shows as the test's name.
void PrintTo(const DownloadCase& c, std::ostream* os) {
    std::string n = c.name;
    for (auto& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    *os << n;
}

class Downloads : public HttpPeer, public ::testing::WithParamInterface<DownloadCase> {};

TEST_P(Downloads, FileAfterwards) {
    const DownloadCase& c = GetParam();
    fs::path file = m_dir / "pkg.temp";
    std::string full = Payload(100000);
    if (c.partial)
        WriteFileBytes(file, c.junk ? std::string(c.partial, 'J') : full.substr(0, c.partial));
    CMyHttp http;
    http.SetResumeOffset(static_cast<LONGLONG>(c.partial));
    EXPECT_EQ(c.result, http.DownloadFile(Url(std::string("/file?size=100000") + c.query), nullptr, 0, "",
                                          WinPath(file)))
        << c.name;
    std::string got = ReadFileBytes(file);
    ASSERT_EQ(c.wantSize, got.size()) << c.name;
    EXPECT_TRUE(got == full.substr(0, c.wantSize)) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Downloads,
    ::testing::Values(
        DownloadCase{"plain", "", 0, false, MYHTTP_OK, 100000},
        DownloadCase{"resumed with 206", "", 30000, false, MYHTTP_OK, 100000},
        // A 200 answer to a ranged request replaces the partial data instead of following it.
        DownloadCase{"server ignores Range", "&norange=1", 30000, true, MYHTTP_OK, 100000},
        // The whole file was there already: 416 naming our own size is success.
        DownloadCase{"complete but not renamed", "", 100000, false, MYHTTP_OK, 100000},
        DownloadCase{"no length, ended by close", "&nolength=1", 0, false, MYHTTP_OK, 100000},
        DownloadCase{"chunked", "&chunked=1", 0, false, MYHTTP_OK, 100000},
        DownloadCase{"chunked while resuming", "&chunked=1&norange=1", 30000, true, MYHTTP_OK, 100000},
        DownloadCase{"cut short", "&cut=40000", 0, false, MYHTTP_ERR_CONNECT, 40000},
        DownloadCase{"resume cut short", "&cut=20000", 30000, false, MYHTTP_ERR_CONNECT, 50000},
        DownloadCase{"chunked cut short", "&chunked=1&cut=50000", 0, false, MYHTTP_ERR_CONNECT, 50000 - 7}));

TEST_F(HttpPeer, OversizedRange416RestartsFromZero) {
    fs::path file = m_dir / "pkg.temp";
    WriteFileBytes(file, std::string(150000, 'J'));
    CMyHttp http;
    http.SetResumeOffset(150000);
    EXPECT_EQ(MYHTTP_OK, http.DownloadFile(Url("/file?size=100000"), nullptr, 0, "", WinPath(file)));
    EXPECT_TRUE(ReadFileBytes(file) == Payload(100000));
}

TEST_F(HttpPeer, StoppedDownloadWithoutLengthFails) {
    fs::path file = m_dir / "pkg.temp";
    CMyHttp http;
    http.Stop();
    EXPECT_EQ(MYHTTP_ERR_CONNECT,
              http.DownloadFile(Url("/file?size=100000&nolength=1"), nullptr, 0, "", WinPath(file)));
}

TEST_F(HttpPeer, ErrorStatusAndUnwritableFileFail) {
    CMyHttp a;
    EXPECT_EQ(MYHTTP_ERR_CONNECT, a.DownloadFile(Url("/status/404"), nullptr, 0, "", WinPath(m_dir / "x")));
    CMyHttp b;
    EXPECT_EQ(MYHTTP_ERR_CONNECT,
              b.DownloadFile(Url("/file?size=10"), nullptr, 0, "", WinPath(m_dir / "missing" / "x")));
}

int CountReports(void* ctx, LONGLONG, LONGLONG) {
    ++*static_cast<int*>(ctx);
    return 0;
}

TEST_F(HttpPeer, QuickDownloadMakesNoProgressReport) {
    int reports = 0;
    CMyHttp http;
    http.SetProgressCallback(CountReports, &reports);
    EXPECT_EQ(MYHTTP_OK, http.DownloadFile(Url("/file?size=100000"), nullptr, 0, "", WinPath(m_dir / "f")));
    EXPECT_EQ(0, reports);
}

// ---------------------------------------------------------------------------------------------
// Building blocks

TEST(MyHttpParts, ParseUrl) {
    struct {
        const char* url;
        const char* host;
        int port;
        const char* path;
    } cases[] = {
        {"http://example.com/a/b?c=d", "example.com", 80, "/a/b?c=d"},
        {"http://user:pw@example.com:8080/x", "example.com", 8080, "/x"},
        {"example.com:81/", "example.com", 81, "/"},
        {"http://h/p?u=http://x:1@y/z", "h", 80, "/p?u=http://x:1@y/z"},
        {"http://h:0/p", "h", 80, "/p"},
        {"http://h", "h", 80, "/"},
        {"https://h//double", "h", 80, "//double"},
    };
    for (auto& c : cases) {
        HttpUrlInfo info;
        CMyHttp::ParseUrl(c.url, info);
        EXPECT_EQ(CString(c.host), info.host) << c.url;
        EXPECT_EQ(c.port, info.port) << c.url;
        EXPECT_EQ(CString(c.path), info.path) << c.url;
    }
}

TEST(MyHttpParts, HexToIntAndFindBytes) {
    EXPECT_EQ(0x1AF, CMyHttp::HexToInt("1AF", 3));
    EXPECT_EQ(0x1AF, CMyHttp::HexToInt("1af", 3));
    EXPECT_EQ(0x1A, CMyHttp::HexToInt("1A;ext", 6));
    EXPECT_EQ(-1, CMyHttp::HexToInt(nullptr, 3));
    EXPECT_EQ(-1, CMyHttp::HexToInt("1", 0));
    EXPECT_EQ(-1, CMyHttp::HexToInt("zz", 2));
    const char buf[] = "abcab";
    EXPECT_EQ(buf + 3, CMyHttp::FindBytes(buf + 1, 4, "ab"));
    EXPECT_EQ(nullptr, CMyHttp::FindBytes(buf, 5, ""));
    EXPECT_EQ(nullptr, CMyHttp::FindBytes(buf, 4, "cab"));
}

TEST(MyHttpParts, DecodeChunkedInPlace) {
    struct {
        std::string in;
        int result;
        const char* out;
    } cases[] = {
        {"5\r\nHello\r\n0\r\n\r\n", 5, "Hello"},
        {"3;name=v\r\nabc\r\nA\r\n0123456789\r\n0\r\n", 13, "abc0123456789"},
        {"5\r\nHel", -1, nullptr},                // cut short
        {"FFFFFFFF\r\nab\r\n0\r\n", -1, nullptr}, // size beyond the data
        {"\r\nabc\r\n0\r\n", -1, nullptr},        // empty size line
        {"g\r\nabc\r\n0\r\n", -1, nullptr},       // no digit
        {"3\r\nabcX\r\n0\r\n", -1, nullptr},      // data longer than its size
    };
    for (auto& c : cases) {
        std::string buf = c.in;
        int n = CMyHttp::DecodeChunked(buf.data(), static_cast<int>(buf.size()));
        EXPECT_EQ(c.result, n) << c.in;
        if (c.out && n >= 0) {
            EXPECT_EQ(std::string(c.out), buf.substr(0, static_cast<size_t>(n)));
        }
    }
}

TEST(MyHttpParts, HeaderFields) {
    const char hdr[] = "HTTP/1.1 302 Found\r\nX-Location-Note: no\r\nContent-Location: /cl\r\n"
                       "content-length: 42\r\nLocation:/loc\r\nSet-Cookie: a=b; path=/\r\n";
    HttpHeaderInfo info;
    EXPECT_EQ(42, CMyHttp::ParseHeader(hdr, static_cast<int>(sizeof hdr - 1), info));
    EXPECT_EQ(302, info.status);
    EXPECT_EQ(CString("/loc"), info.location);
    EXPECT_EQ(CString("a=b; path=/"), info.setCookie);
    HttpHeaderInfo bad;
    EXPECT_EQ(0, CMyHttp::ParseHeader("HTTP/1.1", 8, bad));
    EXPECT_EQ(0, bad.status);
}

TEST(MyHttpParts, ExePathWithChineseNameIsSentAsUtf8) {
    CMyHttp http;
    // "\xD6\xD0\xCE\xC4" is GBK for two Chinese characters (U+4E2D U+6587).
    CString withExe = http.BuildRequest("h", "/d/\xD6\xD0\xCE\xC4.exe", "", 0);
    EXPECT_EQ(0, withExe.Find("GET /d/%E4%B8%AD%E6%96%87.exe HTTP/1.1\r\n"));
    CString without = http.BuildRequest("h", "/d/\xD6\xD0\xCE\xC4.txt", "", 0);
    EXPECT_EQ(0, without.Find("GET /d/\xD6\xD0\xCE\xC4.txt HTTP/1.1\r\n"));
}

TEST(MyHttpParts, Base64OfProxyCredentials) {
    char out[64];
    const char* in = "user:pass";
    CMyHttp::EncodeBase64(out, reinterpret_cast<const unsigned char*>(in), 9);
    EXPECT_STREQ("dXNlcjpwYXNz", out);
    CMyHttp::EncodeBase64(out, reinterpret_cast<const unsigned char*>("ab"), 2);
    EXPECT_STREQ("YWI=", out);
}

// ---------------------------------------------------------------------------------------------
// Stock servers

TEST(MyHttpPeers, PythonHttpServerFile) {
    TempDir tmp("pyhttp_");
    fs::path dir = tmp.path();
    WriteFileBytes(dir / "page.txt", "plain page text");
    int port = PeerProcess::FreePort();
    PeerProcess server;
    ASSERT_TRUE(StartPythonFileServer(server, dir.string(), port));
    CMyHttp http;
    CString body;
    EXPECT_EQ(MYHTTP_OK,
              http.GetUrl(CString(("http://127.0.0.1:" + std::to_string(port) + "/page.txt").c_str()),
                          nullptr, 0, "", body));
    EXPECT_EQ(CString("plain page text"), body);
    CMyHttp missing;
    EXPECT_EQ(MYHTTP_ERR_STATUS,
              missing.GetUrl(CString(("http://127.0.0.1:" + std::to_string(port) + "/none").c_str()), nullptr,
                             0, "", body));
}

TEST(MyHttpPeers, NginxStaticFileWithResume) {
    if (!NginxInstalled())
        GTEST_SKIP() << "nginx is not installed";
    TempDir tmp("nginx_");
    fs::path dir = tmp.path();
    fs::create_directories(dir / "www");
    std::string full = Payload(3 * 1024 * 1024 + 17);
    WriteFileBytes(dir / "www" / "big.bin", full);
    int port = PeerProcess::FreePort();
    PeerProcess nginx;
    ASSERT_TRUE(StartNginx(nginx, dir, port));
    std::string url = "http://127.0.0.1:" + std::to_string(port) + "/big.bin";
    fs::path file = dir / "big.temp";
    WriteFileBytes(file, full.substr(0, 1000000));
    CMyHttp http;
    http.SetResumeOffset(1000000);
    EXPECT_EQ(MYHTTP_OK, http.DownloadFile(CString(url.c_str()), nullptr, 0, "", WinPath(file)));
    EXPECT_TRUE(ReadFileBytes(file) == full);
    nginx.Stop();
}

} // namespace
