#include "contentserver/MyMemFile.h"
#include "contentserver/RequestSocket.h"
#include "contentserver/ServerHost.h"

#include "tests/contentserver/ContentServerFixture.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

using namespace cstest;

namespace {

// A connection that keeps the parsed request and answers nothing, so parsing can be driven
// without a peer.
class CParseOnlySocket : public CRequestSocket {
public:
    explicit CParseOnlySocket(CServerHost* pHost) : CRequestSocket(pHost) {}
    BOOL HandleRequest() override {
        ++m_nProcessed;
        return TRUE;
    }
    int RunServerApp() override { return 0; }
    // Delivers one receive, as OnReceive would: nothing is read once the request is complete.
    void Feed(const std::string& bytes) {
        if (m_nParseState == REQ_STATE_DONE)
            return;
        if (m_buf.GetSize() < static_cast<INT_PTR>(bytes.size()))
            m_buf.SetSize(static_cast<INT_PTR>(bytes.size()));
        if (!bytes.empty())
            memcpy(m_buf.GetData(), bytes.data(), bytes.size());
        ParseReceived(static_cast<int>(bytes.size()));
    }
    std::string Output() const {
        return std::string(reinterpret_cast<const char*>(m_buf.GetData()) + m_nSendOffset,
                           static_cast<size_t>(m_nBytesToSend));
    }
    int m_nProcessed = 0;
};

std::string Header(CRequest* r, const char* name) {
    return r->GetHeader(name).str();
}

std::string Body(CRequest* r) {
    return std::string(reinterpret_cast<const char*>(r->m_baBody.GetData()),
                       static_cast<size_t>(r->m_baBody.GetSize()));
}

struct FieldView {
    std::string name, filename, data;
    int length;
    bool operator==(const FieldView&) const = default;
};

void PrintTo(const FieldView& f, std::ostream* os) {
    *os << "{name \"" << f.name << "\", filename \"" << f.filename << "\", " << f.data.size()
        << " data bytes, length " << f.length << "}";
}

std::vector<FieldView> Fields(CRequest* r) {
    std::vector<FieldView> v;
    POSITION pos = r->m_listFields.GetHeadPosition();
    while (pos != nullptr) {
        CMultipartField* f = static_cast<CMultipartField*>(r->m_listFields.GetNext(pos));
        CString name, filename;
        f->m_mapParams.Lookup("name", name);
        f->m_mapParams.Lookup("filename", filename);
        v.push_back({name.str(), filename.str(),
                     f->m_pData ? std::string(f->m_pData, static_cast<size_t>(f->m_nLength)) : "",
                     f->m_nLength});
        if (f->m_pData != nullptr) {
            EXPECT_EQ(f->m_pData[f->m_nLength], '\0');
        }
    }
    return v;
}

std::string Post(const std::string& contentType, const std::string& body) {
    return "POST /up HTTP/1.0\r\nContent-Type: " + contentType +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

struct ParseCase {
    const char* label;
    std::vector<std::string> receives;
    bool complete;
    std::string method, url, version, query;
    int execute;
    std::vector<std::pair<const char*, std::string>> headers;
    std::string body;
    std::vector<FieldView> fields = {};
};

} // namespace

TEST(RequestParsing, RawRequestsToRecords) {
    const std::string twoFields = "--XyZ\r\n"
                                  "Content-Disposition: form-data; name=\"title\"\r\n\r\n"
                                  "Hello\r\n"
                                  "--XyZ\r\n"
                                  "Content-Disposition: form-data; name=\"file\"; filename=\"a.txt\"\r\n\r\n"
                                  "abc\r\n"
                                  "--XyZ--\r\n";
    const std::vector<ParseCase> cases = {
        {"query and version",
         {"GET /mag/7/view1.html?x=1 HTTP/1.1\r\n\r\n"},
         true,
         "GET",
         "/mag/7/view1.html",
         "HTTP/1.1",
         "x=1",
         1,
         {},
         ""},
        {"bare line feeds",
         {"GET /a.html HTTP/1.0\nHost: h\n\n"},
         true,
         "GET",
         "/a.html",
         "HTTP/1.0",
         "",
         0,
         {{"host", "h"}},
         ""},
        {"request line split across receives",
         {"GET /mag/7/vi", "ew1.html HTTP/1.0\r\n", "\r\n"},
         true,
         "GET",
         "/mag/7/view1.html",
         "HTTP/1.0",
         "",
         0,
         {},
         ""},
        {"split in the middle of CR LF",
         {"GET / HTTP/1.0\r", "\nA: b\r", "\n\r", "\n"},
         true,
         "GET",
         "/",
         "HTTP/1.0",
         "",
         0,
         {{"a", "b"}},
         ""},
        {"repeated header, last wins, names lower-cased",
         {"GET / HTTP/1.0\r\nContent-Type: text/plain\r\ncontent-type: text/html\r\n\r\n"},
         true,
         "GET",
         "/",
         "HTTP/1.0",
         "",
         0,
         {{"Content-Type", "text/html"}, {"CONTENT-TYPE", "text/html"}},
         ""},
        {"value keeps trailing blanks, loses leading",
         {"GET / HTTP/1.0\r\nX-A:   v  \r\nnocolon\r\n\r\n"},
         true,
         "GET",
         "/",
         "HTTP/1.0",
         "",
         0,
         {{"x-a", "v  "}, {"nocolon", ""}},
         ""},
        {"body longer than Content-Length",
         {"POST /f HTTP/1.0\r\nContent-Length: 4\r\n\r\n0123456789"},
         true,
         "POST",
         "/f",
         "HTTP/1.0",
         "",
         0,
         {},
         "0123"},
        {"body shorter than Content-Length waits",
         {"POST /f HTTP/1.0\r\nContent-Length: 10\r\n\r\n01234"},
         false,
         "POST",
         "/f",
         "HTTP/1.0",
         "",
         0,
         {},
         "01234"},
        {"body completed by a later receive",
         {"POST /f HTTP/1.0\r\nContent-Length: 10\r\n\r\n01234", "56789XYZ"},
         true,
         "POST",
         "/f",
         "HTTP/1.0",
         "",
         0,
         {},
         "0123456789"},
        {"negative Content-Length reads as 0",
         {"POST /f HTTP/1.0\r\nContent-Length: -5\r\n\r\nabc"},
         true,
         "POST",
         "/f",
         "HTTP/1.0",
         "",
         0,
         {},
         ""},
        {"Content-Length leading digits only",
         {"POST /f HTTP/1.0\r\nContent-Length: 3xyz\r\n\r\nabcdef"},
         true,
         "POST",
         "/f",
         "HTTP/1.0",
         "",
         0,
         {},
         "abc"},
        {"no Content-Length, no body",
         {"POST /f HTTP/1.0\r\n\r\nabc"},
         true,
         "POST",
         "/f",
         "HTTP/1.0",
         "",
         0,
         {},
         ""},
        {"percent decoding",
         {"GET /a%20b%2fc HTTP/1.0\r\n\r\n"},
         true,
         "GET",
         "/a b/c",
         "HTTP/1.0",
         "",
         0,
         {},
         ""},
        {"%41 and %%41",
         {"GET /a%41/%%41 HTTP/1.0\r\n\r\n"},
         true,
         "GET",
         "/aA/%41",
         "HTTP/1.0",
         "",
         0,
         {},
         ""},
        {"plus stays a plus", {"GET /a+b HTTP/1.0\r\n\r\n"}, true, "GET", "/a+b", "HTTP/1.0", "", 0, {}, ""},
        {"stray percent signs kept",
         {"GET /%zz/%4/%4g/% HTTP/1.0\r\n\r\n"},
         true,
         "GET",
         "/%zz/%4/%4g/%",
         "HTTP/1.0",
         "",
         0,
         {},
         ""},
        {"URL without version", {"GET   /x.html  \r\n\r\n"}, true, "GET", "/x.html", "", "", 0, {}, ""},
        {"line without a blank", {"GARBAGE\r\n\r\n"}, true, "", "", "", "", 0, {}, ""},
        {"empty first line", {"\r\nGET /late HTTP/1.0\r\n\r\n"}, true, "", "", "", "", 0, {}, ""},
        {"multipart with two fields, split inside the body",
         {Post("multipart/form-data; boundary=XyZ", twoFields).substr(0, 120),
          Post("multipart/form-data; boundary=XyZ", twoFields).substr(120)},
         true,
         "POST",
         "/up",
         "HTTP/1.0",
         "",
         0,
         {{"content-type", "multipart/form-data; boundary=XyZ"},
          {"content-length", std::to_string(twoFields.size())}},
         twoFields,
         {{"title", "", "Hello", 5}, {"file", "a.txt", "abc", 3}}},
        {"no end of headers yet",
         {"GET / HTTP/1.0\r\nHost: x\r\n"},
         false,
         "GET",
         "/",
         "HTTP/1.0",
         "",
         0,
         {{"host", "x"}},
         ""},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.label);
        CServerHost host;
        CParseOnlySocket* s = new CParseOnlySocket(&host);
        for (const std::string& r : c.receives)
            s->Feed(r);
        ASSERT_NE(s->m_pRequest, nullptr);
        CRequest* r = s->m_pRequest;
        EXPECT_EQ(s->m_nParseState == REQ_STATE_DONE, c.complete);
        EXPECT_EQ(s->m_nProcessed, c.complete ? 1 : 0);
        EXPECT_EQ(r->m_strMethod.str(), c.method);
        EXPECT_EQ(r->m_strURL.str(), c.url);
        EXPECT_EQ(r->m_strVersion.str(), c.version);
        EXPECT_EQ(r->m_strArgs.str(), c.query);
        EXPECT_EQ(r->m_nExecute, c.execute);
        for (const auto& [name, value] : c.headers)
            EXPECT_EQ(Header(r, name), value) << name;
        EXPECT_EQ(Body(r), c.body);
        EXPECT_EQ(Fields(r), c.fields);
        s->Release();
    }
}

// A read notification that arrives after the request is complete reads nothing and leaves the
// answer alone.
TEST(RequestParsing, StaleReadNotificationDoesNothing) {
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    CServerHost host;
    CParseOnlySocket* s = new CParseOnlySocket(&host);
    ASSERT_TRUE(s->Attach(static_cast<SOCKET>(sv[0]), 0));
    const std::string first = "GET /a HTTP/1.0\r\n\r\n";
    ASSERT_EQ(write(sv[1], first.data(), first.size()), static_cast<ssize_t>(first.size()));
    s->OnReceive(0);
    ASSERT_EQ(s->m_nParseState, REQ_STATE_DONE);
    s->AppendResponseText("answer");
    const std::string second = "GET /b HTTP/1.0\r\nX: y\r\n\r\n";
    ASSERT_EQ(write(sv[1], second.data(), second.size()), static_cast<ssize_t>(second.size()));
    s->OnReceive(0);
    EXPECT_EQ(s->m_nProcessed, 1);
    EXPECT_EQ(s->m_pRequest->m_strURL.str(), "/a");
    EXPECT_EQ(s->m_pRequest->GetHeader("x").str(), "");
    EXPECT_EQ(s->Output(), "answer");
    char c;
    EXPECT_EQ(recv(static_cast<SOCKET>(sv[0]), &c, 1, MSG_PEEK | MSG_DONTWAIT),
              1); // the bytes were never read
    s->Release();
    close(sv[1]);
}

TEST(RequestParsing, OversizedRequestsAreAnsweredBadRequest) {
    struct Limit {
        const char* label;
        std::vector<std::string> receives;
    };
    const std::string longLine(8193, 'a');
    std::vector<std::string> manyHeaders = {"GET / HTTP/1.0\r\n"};
    for (int i = 0; i < 20; ++i)
        manyHeaders.push_back("X-" + std::to_string(i) + ": " + std::string(4000, 'h') + "\r\n");
    const std::vector<Limit> limits = {
        {"request line over 8 KiB", {"GET /" + longLine + " HTTP/1.0\r\n\r\n"}},
        {"request line over 8 KiB in pieces",
         {"GET /" + longLine.substr(0, 5000), longLine.substr(5000), "\r\n\r\n"}},
        {"header line over 8 KiB", {"GET / HTTP/1.0\r\nX: " + longLine + "\r\n\r\n"}},
        {"header block over 64 KiB", manyHeaders},
        {"body over 16 MiB", {"POST /u HTTP/1.0\r\nContent-Length: 16777217\r\n\r\nabc"}},
        {"huge Content-Length", {"POST /u HTTP/1.0\r\nContent-Length: 99999999999999999999999\r\n\r\n"}},
        {"decoded zero byte", {"GET /a%00.html HTTP/1.0\r\n\r\n"}},
    };
    for (const Limit& l : limits) {
        SCOPED_TRACE(l.label);
        CServerHost host;
        CParseOnlySocket* s = new CParseOnlySocket(&host);
        for (const std::string& r : l.receives)
            s->Feed(r);
        EXPECT_EQ(s->m_nParseState, REQ_STATE_DONE);
        EXPECT_EQ(s->m_nProcessed, 0); // the hook never sees it
        EXPECT_EQ(s->Output().rfind("HTTP/1.0 400 Bad Request\r\n", 0), 0u) << s->Output().substr(0, 40);
        EXPECT_EQ(s->Output().substr(s->Output().size() - 4), "\r\n\r\n");
        s->Release();
    }
    // Just inside the limits is still a request.
    CServerHost host;
    CParseOnlySocket* s = new CParseOnlySocket(&host);
    s->Feed("GET /" + std::string(8000, 'a') + " HTTP/1.0\r\n\r\n");
    EXPECT_EQ(s->m_nProcessed, 1);
    s->Release();
}

TEST(RequestParsing, MultipartBodies) {
    const std::string twoFields = "--XyZ\r\n"
                                  "Content-Disposition: form-data; name=\"title\"\r\n\r\n"
                                  "Hello\r\n"
                                  "--XyZ\r\n"
                                  "Content-Disposition: form-data; name=\"file\"; filename=\"a b.txt\"\r\n"
                                  "Content-Type: text/plain\r\n\r\n"
                                  "line1\r\nline2\r\n"
                                  "--XyZ--\r\n";
    struct Case {
        const char* label;
        std::string request;
        std::vector<FieldView> expected;
    };
    const std::vector<Case> cases = {
        {"two fields",
         Post("multipart/form-data; boundary=XyZ", twoFields),
         {{"title", "", "Hello", 5}, {"file", "a b.txt", "line1\r\nline2", 12}}},
        {"no boundary in the content type", Post("text/plain", twoFields), {}},
        {"empty boundary", Post("multipart/form-data; boundary=", twoFields), {}},
        {"empty part contents",
         Post("multipart/form-data; boundary=B",
              "--B\r\nContent-Disposition: form-data; name=\"e\"\r\n\r\n\r\n--B--\r\n"),
         {{"e", "", "", 0}}},
        {"boundary at the very end", Post("multipart/form-data; boundary=B", "--B"), {}},
        {"part without disposition stops",
         Post("multipart/form-data; boundary=B", "--B\r\nX: y\r\n\r\nz\r\n--B--\r\n"),
         {}},
        {"part without blank line keeps earlier fields",
         Post("multipart/form-data; boundary=B",
              "--B\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n"
              "--B\r\nContent-Disposition: form-data; name=\"b\"\r\nX: y\r\n--B--\r\n"),
         {{"a", "", "1", 1}, {"b", "", "", 0}}},
        {"boundaries too close together", Post("multipart/form-data; boundary=B", "--B\r\nB"), {}},
        {"truncated after boundary", Post("multipart/form-data; boundary=B", "--B\r"), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        CServerHost host;
        CParseOnlySocket* s = new CParseOnlySocket(&host);
        s->Feed(c.request);
        ASSERT_EQ(s->m_nParseState, REQ_STATE_DONE);
        EXPECT_EQ(Fields(s->m_pRequest), c.expected);
        s->Release();
    }
}

TEST(UrlDecode, Table) {
    const std::vector<std::tuple<std::string, BOOL, std::string>> cases = {
        {"/a%20b%2fc", FALSE, "/a b/c"},
        {"/a%41", FALSE, "/aA"},
        {"%%41", FALSE, "%41"},
        {"%2541", FALSE, "%41"},
        {"a+b", FALSE, "a+b"},
        {"a+b", TRUE, "a b"},
        {"%", FALSE, "%"},
        {"%4", FALSE, "%4"},
        {"x%g0", FALSE, "x%g0"},
        {"%e4%b8%ad", FALSE, "\xE4\xB8\xAD"},
        {"%D5%5C", FALSE, "\xD5\x5C"},
        {"%00", FALSE, std::string(1, '\0')},
        {"plain", FALSE, "plain"},
    };
    for (const auto& [in, plus, out] : cases)
        EXPECT_EQ(CRequestSocket::UrlDecode(CString(in), plus).str(), out) << in;
}

TEST(HttpDates, ThreeFormsAndMalformedOnes) {
    // HTTP dates are UTC whatever the machine's zone; eight hours east, a local reading shows.
    setenv("TZ", "CST-8", 1);
    tzset();
    const time_t when = 784111777; // Sun, 06 Nov 1994 08:49:37 GMT
    const std::vector<std::pair<std::string, time_t>> good = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", when},
        {"Sunday, 06-Nov-94 08:49:37 GMT", when},
        {"Sun Nov  6 08:49:37 1994", when},
        {"sun, 06 NOV 1994 08:49:37 GMT", when},
        {"Thursday, 01-Jan-15 00:00:00 GMT", 1420070400},
        {"Fri, 31 Dec 1999 23:59:59 GMT", 946684799},
    };
    for (const auto& [text, expected] : good) {
        CTime t;
        ASSERT_TRUE(CRequestSocket::ParseHttpDate(text.c_str(), t)) << text;
        EXPECT_EQ(t.GetTime(), expected) << text;
    }
    for (const char* bad :
         {"", "Sun", "Sun,", "Sun, 06 Nov", "Sun, 06 Foo 1994 08:49:37 GMT", "Sun, 32 Nov 1994 08:49:37 GMT",
          "Sun, 06 Nov 1994 24:49:37 GMT", "Sun, 06 Nov 0000 08:49:37 GMT", "Sun, 06 Nov 1994 08:4x:37 GMT",
          "Sunday 06-Nov-94", "Sunday, 06-Nov-9", "Sun Nov  6 08:49:37", "Sun, 00 Nov 1994 08:49:37 GMT"}) {
        CTime t;
        EXPECT_FALSE(CRequestSocket::ParseHttpDate(bad, t)) << bad;
    }
    const ULONGLONG ticks = (static_cast<ULONGLONG>(when) * 10000000ull) + 116444736000000000ull;
    FILETIME ft = {static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
    EXPECT_EQ(CRequestSocket::FormatHttpDate(&ft).str(), "Sun, 06 Nov 1994 08:49:37 GMT");
}

TEST(RequestTargets, MapUrlToPathAndBack) {
    struct Case {
        const char* root;
        const char* url;
        BOOL inside;
        const char* mapped;
    };
    const std::vector<Case> cases = {
        {"\\srv\\root", "/a/b.html", TRUE, "\\srv\\root\\a\\b.html"},
        {"\\srv\\root", "/a/../b.html", TRUE, "\\srv\\root\\b.html"},
        {"\\srv\\root", "/./a//b.html", TRUE, "\\srv\\root\\a\\b.html"},
        {"\\srv\\root", "/", TRUE, "\\srv\\root\\"},
        {"\\srv\\root", "", TRUE, "\\srv\\root"},
        {"\\srv\\root", "/../x.html", FALSE, "\\srv\\x.html"},
        {"\\srv\\root", "/../rootless/x", FALSE, "\\srv\\rootless\\x"},
        {"\\srv\\root", "x", FALSE, "\\srv\\rootx"},
        {MEMFILE_ROOT, "/", TRUE, MEMFILE_ROOT},
        {MEMFILE_ROOT, "/mag/77/view1.html", FALSE, MEMFILE_ROOT "mag\\77\\view1.html"},
        {MEMFILE_ROOT, "/../../etc", FALSE, "p:\\etc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.root) + " " + c.url);
        CServerHost host;
        host.m_strRoot = c.root;
        CRequestSocket* s = new CRequestSocket(&host);
        CString url = c.url;
        EXPECT_EQ(s->MapUrlToPath(url), c.inside);
        EXPECT_EQ(url.str(), c.mapped);
        s->Release();
    }
    // Too long for the full-path function: the URL stays as it was.
    CServerHost host;
    host.m_strRoot = "\\srv\\root";
    CRequestSocket* s = new CRequestSocket(&host);
    CString url = ("/" + std::string(300, 'l')).c_str();
    EXPECT_FALSE(s->MapUrlToPath(url));
    EXPECT_EQ(url.GetLength(), 301);

    host.m_strHostName = "h";
    const int savedPort = g_nServerPort;
    g_nServerPort = 80;
    CString path = "\\srv\\root\\d\\index.htm";
    s->PathToUrl(path);
    EXPECT_EQ(path.str(), "http://h/d/index.htm");
    g_nServerPort = 8024;
    path = "\\srv\\root\\d\\index.htm";
    s->PathToUrl(path);
    EXPECT_EQ(path.str(), "http://h:8024/d/index.htm");
    host.m_strRoot = "\\srv\\root\\";
    path = "\\srv\\root\\index.htm";
    s->PathToUrl(path);
    EXPECT_EQ(path.str(), "http://h:8024/index.htm");
    g_nServerPort = savedPort;
    s->Release();
}

TEST(RequestTargets, SplitAndJoinPathText) {
    CString p = "\\a\\b\\c.html";
    EXPECT_EQ(CRequestSocket::SplitLastSegment(p).str(), "\\c.html");
    EXPECT_EQ(p.str(), "\\a\\b");
    CString none = "plain";
    EXPECT_EQ(CRequestSocket::SplitLastSegment(none).str(), "plain");
    EXPECT_EQ(none.str(), "");
    // A GBK character whose trail byte is 0x5C is not a separator.
    CString gbk = "\\a\\\xD5\x5C";
    EXPECT_EQ(CRequestSocket::SplitLastSegment(gbk).str(), "\\\xD5\x5C");
    CString j = "\\a";
    CRequestSocket::JoinPath(j, "x");
    EXPECT_EQ(j.str(), "\\a\\x");
    CString k = "\\a\\";
    CRequestSocket::JoinPath(k, "x");
    EXPECT_EQ(k.str(), "\\a\\x");
    CString g = "\\\xD5\x5C";
    CRequestSocket::JoinPath(g, "x");
    EXPECT_EQ(g.str(), "\\\xD5\x5C\\x");
}
