#include "net/StoreRequests.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

class StoreHost : public ::testing::Test {
protected:
    void SetUp() override {
        const char* p = getenv("KESTRIN_STORE");
        m_saved = p ? p : "";
        m_had = p != nullptr;
        setenv("KESTRIN_STORE", "http://127.0.0.1:9/", 1);
        unsetenv("KESTRIN_WEB");
    }
    void TearDown() override {
        if (m_had)
            setenv("KESTRIN_STORE", m_saved.c_str(), 1);
        else
            unsetenv("KESTRIN_STORE");
    }
    std::string m_saved;
    bool m_had = false;
};

TEST(QueryValues, PercentEncodedOutsideTheUnreservedSet) {
    struct Case {
        const char* in;
        const char* want;
    } cases[] = {
        {"", ""},
        {"AZaz09-._~", "AZaz09-._~"},
        {"a&b#c d", "a%26b%23c%20d"},
        {"p=1?x+y/z%", "p%3D1%3Fx%2By%2Fz%25"},
        {"(Zm9v)-", "%28Zm9v%29-"},
        {"\xD6\xD0", "%E4%B8%AD"}, // GBK for U+4E2D goes out as its UTF-8 bytes
    };
    for (auto& c : cases)
        EXPECT_EQ(CString(c.want), EncodeQueryValue(c.in)) << c.in;
}

TEST_F(StoreHost, RequestsOnTheConfiguredHost) {
    EXPECT_EQ(CString("http://127.0.0.1:9"), GetStoreHost());
    EXPECT_EQ(CString("http://127.0.0.1:9/touch/api/?vs=1&type=mag&pid=m1&source="),
              BuildItemRequestUrl("mag", "m1"));
    EXPECT_EQ(CString("http://127.0.0.1:9/touch/api/?vs=1&act=sortClass&class=book&source="),
              BuildSortClassUrl("book"));
    EXPECT_EQ(CString("http://127.0.0.1:9/touch/api/?vs=1&act=sortClass&class=mag&source="),
              BuildSortClassUrl("mag"));
    EXPECT_EQ(CString("http://127.0.0.1:9/touch/update.xml"), BuildUpdateXmlUrl());
    EXPECT_EQ(
        CString("http://127.0.0.1:9/touch/system/index.php/index/magBuy/?vs=1&uid=7&pwd=a%26b%20c&type=book"
                "&act=client&username=%28x%29&pid=b1&source="),
        BuildPurchaseUrl("7", "a&b c", "book", "(x)", "b1"));
    EXPECT_EQ(CString("http://127.0.0.1:9/touch/magazine/?vs=1&user=u&pass=p%23&source="),
              BuildStorePageUrl(0, FALSE, "u", "p#"));
    EXPECT_EQ(CString("http://127.0.0.1:9/touch/book/?vs=1&user=&pass=&source="),
              BuildStorePageUrl(0, TRUE, "", ""));
    EXPECT_EQ(CString("http://127.0.0.1:9/enter/magazine/?vs=1&user=&pass=&source="),
              BuildStorePageUrl(1, FALSE, "", ""));
    EXPECT_EQ(CString("http://127.0.0.1:9/enter/velkor/?vs=1&user=&pass=&source="),
              BuildStorePageUrl(1, TRUE, "", ""));
    EXPECT_EQ(CString("http://127.0.0.1:9/touch/read/book/?vs=1&pid=b2"), BuildOnlineReadUrl("book", "b2"));
    EXPECT_EQ(CString("http://127.0.0.1:9/touch/read/mag/?vs=1&pid=b2"), BuildOnlineReadUrl("other", "b2"));
    EXPECT_EQ(CString("http://127.0.0.1:9/magazine/digi_subscription.php?oemname=tavonel&vs=5"),
              BuildSubscriptionUrl());
}

TEST_F(StoreHost, DefaultHostWithoutTheSetting) {
    unsetenv("KESTRIN_STORE");
    CString host = GetStoreHost();
    EXPECT_EQ(0, host.Find("http://"));
    EXPECT_NE('/', host[host.GetLength() - 1]);
}

} // namespace
