// Which failed loads are navigation errors, and the URL of a local path: the rules without the
// engine.
#include "platform/web/NavigationPolicy.h"
#include "platform/web/RequestLimit.h"

#include <gtest/gtest.h>

namespace {

using afxweb::FailedLoad;
using afxweb::LoadFailure;

TEST(NavigationPolicy, OnlyFailedMainFrameLoadsAreErrors) {
    struct Case {
        FailedLoad load;
        bool error;
    };
    const Case cases[] = {
        {{LoadFailure::Network, true, 0}, true},        // refused connection, unknown host
        {{LoadFailure::HttpStatus, true, 404}, true},   // the store's missing page
        {{LoadFailure::HttpStatus, true, 500}, true},   //
        {{LoadFailure::HttpStatus, true, 400}, true},   //
        {{LoadFailure::HttpStatus, true, 399}, false},  //
        {{LoadFailure::HttpStatus, true, 200}, false},  //
        {{LoadFailure::Cancelled, true, 0}, false},     // replaced by a newer navigation
        {{LoadFailure::PolicyChange, true, 0}, false},  // refused by the view or a download
        {{LoadFailure::Network, false, 0}, false},      // a frame inside the page
        {{LoadFailure::HttpStatus, false, 404}, false}, //
    };
    for (const auto& c : cases)
        EXPECT_EQ(afxweb::IsNavigationError(c.load), c.error)
            << static_cast<int>(c.load.kind) << " main " << c.load.mainFrame << " status "
            << c.load.httpStatus;
}

TEST(NavigationPolicy, LocalPathsBecomeFileUrls) {
    EXPECT_EQ(afxweb::NavigationUrl(""), "");
    EXPECT_EQ(afxweb::NavigationUrl("http://127.0.0.1:8024/a b"), "http://127.0.0.1:8024/a b");
    EXPECT_EQ(afxweb::NavigationUrl("/data/pages/Error.html"), "file:///data/pages/Error.html");
    EXPECT_EQ(afxweb::NavigationUrl("/a b/#1?%.html"), "file:///a%20b/%231%3F%25.html");
    EXPECT_EQ(afxweb::NavigationUrl("/书架.html"), "file:///%E4%B9%A6%E6%9E%B6.html");
}

TEST(RequestLimit, OnlyTheNamedRequestsPass) {
    const std::vector<std::string> allowed = {"* file:///opt/k/pages/*",
                                              "POST http://127.0.0.1:8080/touch/login/?vs=1&source="};
    struct Case {
        const char* method;
        const char* url;
        bool pass;
    };
    const Case cases[] = {
        {"GET", "file:///opt/k/pages/login.css", true},
        {"GET", "file:///opt/k/pages/sub/a.png", true},
        {"GET", "file:///opt/k/pagesX/a.png", false}, // a folder beside it
        {"GET", "file:///opt/k/other.html", false},
        {"POST", "http://127.0.0.1:8080/touch/login/?vs=1&source=", true},
        {"GET", "http://127.0.0.1:8080/touch/login/?vs=1&source=", false},    // another method
        {"POST", "http://127.0.0.1:8080/touch/login/?vs=1&source=&x", false}, // another query
        {"POST", "http://127.0.0.1:8080/touch/login/?vs=1&source", false},    // a shorter one
        {"POST", "http://localhost:8080/touch/login/?vs=1&source=", false},   // another host name
        {"GET", "data:text/plain,x", true},
        {"GET", "about:blank", true},
        {"GET", "blob:null/1234", true},
        {"GET", "", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(afxweb::RequestAllowed(allowed, c.method, c.url), c.pass) << c.method << " " << c.url;
    EXPECT_FALSE(afxweb::RequestAllowed({"nonsense"}, "GET", "nonsense")) << "an entry without a method";
}

} // namespace
