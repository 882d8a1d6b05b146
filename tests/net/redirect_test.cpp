// Where a redirect leads: Location values resolved against the URL that answered, and the request
// the client then sends.
#include "net/MyHttp.h"

#include "RawPeer.h"

#include <gtest/gtest.h>

#include <ostream>

namespace {

struct ResolveCase {
    const char* base;
    const char* location;
    const char* want;
};

void PrintTo(const ResolveCase& c, std::ostream* os) {
    *os << '"' << c.base << "\" + \"" << c.location << '"';
}

// The reference resolution examples of RFC 3986, against its base URL, then the forms the store and
// the local server use.
const ResolveCase kResolveCases[] = {
    {"http://a/b/c/d;p?q", "g:h", "g:h"},
    {"http://a/b/c/d;p?q", "g", "http://a/b/c/g"},
    {"http://a/b/c/d;p?q", "./g", "http://a/b/c/g"},
    {"http://a/b/c/d;p?q", "g/", "http://a/b/c/g/"},
    {"http://a/b/c/d;p?q", "/g", "http://a/g"},
    {"http://a/b/c/d;p?q", "//g", "http://g"},
    {"http://a/b/c/d;p?q", "?y", "http://a/b/c/d;p?y"},
    {"http://a/b/c/d;p?q", "g?y", "http://a/b/c/g?y"},
    {"http://a/b/c/d;p?q", "#s", "http://a/b/c/d;p?q#s"},
    {"http://a/b/c/d;p?q", "g#s", "http://a/b/c/g#s"},
    {"http://a/b/c/d;p?q", "g?y#s", "http://a/b/c/g?y#s"},
    {"http://a/b/c/d;p?q", ";x", "http://a/b/c/;x"},
    {"http://a/b/c/d;p?q", "g;x", "http://a/b/c/g;x"},
    {"http://a/b/c/d;p?q", "g;x?y#s", "http://a/b/c/g;x?y#s"},
    {"http://a/b/c/d;p?q", "", "http://a/b/c/d;p?q"},
    {"http://a/b/c/d;p?q", ".", "http://a/b/c/"},
    {"http://a/b/c/d;p?q", "./", "http://a/b/c/"},
    {"http://a/b/c/d;p?q", "..", "http://a/b/"},
    {"http://a/b/c/d;p?q", "../", "http://a/b/"},
    {"http://a/b/c/d;p?q", "../g", "http://a/b/g"},
    {"http://a/b/c/d;p?q", "../..", "http://a/"},
    {"http://a/b/c/d;p?q", "../../", "http://a/"},
    {"http://a/b/c/d;p?q", "../../g", "http://a/g"},
    // More ".." than the base has segments, and dots that are part of a name.
    {"http://a/b/c/d;p?q", "../../../g", "http://a/g"},
    {"http://a/b/c/d;p?q", "../../../../g", "http://a/g"},
    {"http://a/b/c/d;p?q", "/./g", "http://a/g"},
    {"http://a/b/c/d;p?q", "/../g", "http://a/g"},
    {"http://a/b/c/d;p?q", "g.", "http://a/b/c/g."},
    {"http://a/b/c/d;p?q", ".g", "http://a/b/c/.g"},
    {"http://a/b/c/d;p?q", "g..", "http://a/b/c/g.."},
    {"http://a/b/c/d;p?q", "..g", "http://a/b/c/..g"},
    {"http://a/b/c/d;p?q", "./../g", "http://a/b/g"},
    {"http://a/b/c/d;p?q", "./g/.", "http://a/b/c/g/"},
    {"http://a/b/c/d;p?q", "g/./h", "http://a/b/c/g/h"},
    {"http://a/b/c/d;p?q", "g/../h", "http://a/b/c/h"},
    {"http://a/b/c/d;p?q", "g;x=1/./y", "http://a/b/c/g;x=1/y"},
    {"http://a/b/c/d;p?q", "g;x=1/../y", "http://a/b/c/y"},
    // Dots in a query or a fragment are not path segments.
    {"http://a/b/c/d;p?q", "g?y/./x", "http://a/b/c/g?y/./x"},
    {"http://a/b/c/d;p?q", "g?y/../x", "http://a/b/c/g?y/../x"},
    {"http://a/b/c/d;p?q", "g#s/./x", "http://a/b/c/g#s/./x"},
    {"http://a/b/c/d;p?q", "g#s/../x", "http://a/b/c/g#s/../x"},
    {"http://a/b/c/d;p?q", "http:g", "http:g"},
    // An absolute Location has its dot segments removed too.
    {"http://a/b", "http://o/x/../y/./z", "http://o/y/z"},
    {"http://h:8024/abs/third.html", "../up.html", "http://h:8024/up.html"},
    {"http://h:8/a/b?q=/x/y", "c", "http://h:8/a/c"},
    {"http://h:8/a/b?q=/x", "/c", "http://h:8/c"},
    {"http://h/a/b?q", "?z", "http://h/a/b?z"},
    {"http://h/a", "http://o/c", "http://o/c"},
    {"http://h/a", "http://o", "http://o"},
    // A "://" inside a query is not a scheme.
    {"http://h/a/b", "next?u=http://x/y", "http://h/a/next?u=http://x/y"},
    // The URL being fetched may have no scheme or no path; it is plain HTTP with the root path.
    {"h:81/a/b", "c", "http://h:81/a/c"},
    {"http://h", "c", "http://h/c"},
    {"http://h?q", "../c", "http://h/c"},
};

class Resolve : public ::testing::TestWithParam<ResolveCase> {};

TEST_P(Resolve, AsAReferenceAgainstTheAnsweringUrl) {
    const ResolveCase& c = GetParam();
    EXPECT_EQ(std::string(c.want), CMyHttp::ResolveLocation(c.base, c.location).str())
        << c.base << " + " << c.location;
}

INSTANTIATE_TEST_SUITE_P(Locations, Resolve, ::testing::ValuesIn(kResolveCases));

} // namespace

// The hop's request line has the resolved path: no dot segment and no fragment reaches the server.
TEST(RedirectHop, RequestsTheResolvedPath) {
    RawPeer peer([](RawPeer&, int fd, const std::string&, int index) {
        if (index == 0)
            RawPeer::Write(fd, "HTTP/1.1 302 Found\r\nLocation: ../up.html#top\r\n\r\n");
        else
            RawPeer::Write(fd, "HTTP/1.1 200 OK\r\n\r\nup");
    });
    CMyHttp http;
    http.SetTimeout(10000);
    CString body;
    ASSERT_EQ(MYHTTP_OK, http.GetUrl(peer.Url("/abs/third.html").c_str(), nullptr, 0, "", body));
    EXPECT_EQ("up", body.str());
    auto requests = peer.Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ(0u, requests[1].find("GET /up.html HTTP/1.1\r\n")) << requests[1];
}
