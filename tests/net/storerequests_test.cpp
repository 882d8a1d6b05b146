#include "net/StoreRequests.h"

#include "foundation/CommonFunc.h"
#include "library/SortInfo.h"
#include "net/MyHttp.h"

#include "tests/net/StorePeer.h"
#include "tests/support/PeerProcess.h"

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

// The requests as the client makes them, answered by the replacement store.
class StoreService : public WithStore<> {
protected:
    void SetUp() override {
        setenv("KESTRIN_STORE", ("http://127.0.0.1:" + std::to_string(s_store->Port())).c_str(), 1);
        unsetenv("KESTRIN_WEB");
        Get(GetStoreHost() + "/_control/reset");
    }
    static CString Get(const CString& url, int want = MYHTTP_OK) {
        CMyHttp http;
        CString body;
        EXPECT_EQ(want, http.GetUrl(url, nullptr, 0, "", body)) << url;
        return body;
    }
};

TEST_F(StoreService, PurchasesWithAPasswordHoldingAmpersandHashAndBlank) {
    // The user "reader" (uid 1001) has the password "pa ss&#1".
    EXPECT_EQ(CString("1"), Get(BuildPurchaseUrl("1001", "pa ss&#1", "mag", "reader", "m2")));
    EXPECT_EQ(CString("exist"), Get(BuildPurchaseUrl("1001", "pa ss&#1", "mag", "reader", "m2")));
    EXPECT_EQ(CString("error"), Get(BuildPurchaseUrl("1001", "pa ss", "mag", "reader", "m4")));
    EXPECT_EQ(CString("lack"), Get(BuildPurchaseUrl("1002", "secret", "mag", "poor", "m1")));
}

TEST_F(StoreService, ItemCategoryPageAndManifestAnswers) {
    CString item = Get(BuildItemRequestUrl("book", "b2"));
    EXPECT_NE(-1, item.Find("<booklist><id>202</id>\r\n<pid>b2</pid>\r\n"));
    EXPECT_NE(-1, item.Find("<type>book</type>\r\n</booklist></api>\r\n"));
    EXPECT_EQ(CString(""), Get(BuildItemRequestUrl("mag", "b2")));
    for (const char* kind : {"book", "mag"}) {
        CArray<CSortInfo*, CSortInfo*> sorts;
        g_CommonFunc.ParseSortClass(
            g_CommonFunc.ConvertCodePage(Get(BuildSortClassUrl(kind)), CP_UTF8, CP_ACP), sorts);
        ASSERT_EQ(2, sorts.GetSize()) << kind;
        EXPECT_FALSE(sorts[0]->sort_name.IsEmpty());
        for (CSortInfo* p : sorts)
            delete p;
    }
    EXPECT_NE(-1, Get(BuildUpdateXmlUrl()).Find("<files>"));
    for (int mode : {0, 1})
        for (BOOL book : {FALSE, TRUE})
            EXPECT_NE(-1,
                      Get(BuildStorePageUrl(mode, book, "u", "p")).Find("window.external.C_DownLoadFile"));
    EXPECT_FALSE(Get(BuildOnlineReadUrl("book", "b1")).IsEmpty());
    EXPECT_FALSE(Get(BuildSubscriptionUrl()).IsEmpty());
}

} // namespace
