// The user record and user.xml.
#include "tests/library/LibraryFixture.h"
#include "foundation/CommonFunc.h"
#include "library/UserInfo.h"

#include <string>

namespace {

CString Encoded(const char* name) {
    CString out;
    g_CommonFunc.EncodeBase64Alt(name, out);
    return out;
}

} // namespace

class UserInfoTest : public DataFolderTest {
protected:
    void SetUp() override {
        DataFolderTest::SetUp();
        g_nUserMode = 0;
    }
};

TEST_F(UserInfoTest, GoldenBytesOfAFewMembers) {
    CUserInfo user;
    user.userid = "7";
    user.username = Encoded("\xD5\xC5\xC8\xFD"); // a GBK name
    user.password = "secret";
    EXPECT_EQ(user.username.Find('+'), -1);
    user.Save(g_AppPathInfo.m_strUserXml);
    EXPECT_EQ(ReadFile("user.xml"), "<userInfo>\r\n<userid>7</userid>\r\n<username>" + user.username.str() +
                                        "</username>\r\n<password>secret</password>\r\n"
                                        "<client_mode>0</client_mode>\r\n</userInfo>\r\n");

    CUserInfo loaded;
    loaded.Load(g_AppPathInfo.m_strUserXml);
    EXPECT_EQ(loaded.userid, "7");
    EXPECT_EQ(loaded.username, user.username);
    EXPECT_EQ(loaded.password, "secret");
    EXPECT_EQ(loaded.email, "");
    EXPECT_EQ(g_nUserMode, 0);
    CString decoded;
    g_CommonFunc.DecodeBase64Alt(loaded.username, decoded);
    EXPECT_EQ(decoded, "\xD5\xC5\xC8\xFD");
}

TEST_F(UserInfoTest, ClientModeGoesBothWays) {
    CUserInfo user;
    g_nUserMode = 5;
    EXPECT_NE(user.ToXml().Find("<client_mode>1</client_mode>"), -1);

    struct Case {
        const char* text;
        int before;
        int after;
    };
    const Case cases[] = {
        {"<userInfo><client_mode>1</client_mode></userInfo>", 0, 1},
        {"<userInfo><client_mode>0</client_mode></userInfo>", 1, 0},
        {"<userInfo><client_mode>2</client_mode></userInfo>", 1, 0},
        {"<userInfo><userid>1</userid></userInfo>", 1, 1}, // absent: left as it is
        {"<other><client_mode>1</client_mode></other>", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        g_nUserMode = c.before;
        CUserInfo u;
        u.ParseXml(c.text);
        EXPECT_EQ(g_nUserMode, c.after);
    }
}

TEST_F(UserInfoTest, ClearThenSaveLeavesTheRootAndClientMode) {
    CUserInfo user;
    user.userid = "9";
    user.money = "12.00";
    user.autologin = "1";
    g_nUserMode = 1;
    user.Clear();
    EXPECT_EQ(g_nUserMode, 1);
    user.Save(g_AppPathInfo.m_strUserXml);
    EXPECT_EQ(ReadFile("user.xml"), "<userInfo>\r\n<client_mode>1</client_mode>\r\n</userInfo>\r\n");
}

// Every member, the two flags included, comes back after a restart; values are escaped.
TEST_F(UserInfoTest, EveryMemberSurvivesARestart) {
    CUserInfo user;
    CString* members[] = {&user.userid,
                          &user.username,
                          &user.password,
                          &user.email,
                          &user.photo,
                          &user.attention_count,
                          &user.fans_count,
                          &user.comment_count,
                          &user.vip,
                          &user.usertype,
                          &user.ip,
                          &user.district,
                          &user.lastlogintime,
                          &user.online,
                          &user.rememberpassword,
                          &user.autologin,
                          &user.money};
    int n = 0;
    for (CString* m : members)
        *m = ("v" + std::to_string(n++) + " <&>\"' ]]> <![CDATA[x]]> &amp; \xD6\xD0\xD5\x5C\r\n").c_str();
    user.rememberpassword = "1";
    user.autologin = "1";
    user.Save(g_AppPathInfo.m_strUserXml);
    std::string file = ReadFile("user.xml");
    EXPECT_NE(file.find("<rememberpassword>1</rememberpassword>\r\n<autologin>1</autologin>\r\n<money>"),
              std::string::npos);
    EXPECT_NE(file.find("v0 &lt;&amp;&gt;\"' ]]&gt; &lt;![CDATA[x]]&gt; &amp;amp; "), std::string::npos)
        << file;

    CUserInfo loaded;
    loaded.Load(g_AppPathInfo.m_strUserXml);
    CString* got[] = {&loaded.userid,
                      &loaded.username,
                      &loaded.password,
                      &loaded.email,
                      &loaded.photo,
                      &loaded.attention_count,
                      &loaded.fans_count,
                      &loaded.comment_count,
                      &loaded.vip,
                      &loaded.usertype,
                      &loaded.ip,
                      &loaded.district,
                      &loaded.lastlogintime,
                      &loaded.online,
                      &loaded.rememberpassword,
                      &loaded.autologin,
                      &loaded.money};
    for (int i = 0; i < 17; ++i)
        EXPECT_EQ(*got[i], *members[i]) << i;
}

TEST_F(UserInfoTest, ElementsOutOfOrderAndMissingFiles) {
    CUserInfo user;
    user.Load(g_AppPathInfo.m_strUserXml); // missing: nothing changes
    EXPECT_EQ(user.userid, "");
    EXPECT_FALSE(user.ParseXml("<user><userid>1</userid></user>"));
    EXPECT_EQ(user.userid, "");
    // password before userid: userid is read, password is not.
    EXPECT_TRUE(user.ParseXml("<userInfo><password>pw</password><userid>3</userid></userInfo>"));
    EXPECT_EQ(user.userid, "3");
    EXPECT_EQ(user.password, "");
    // A member whose element is absent keeps its value.
    EXPECT_TRUE(user.ParseXml("<userInfo><email>e@x</email></userInfo>"));
    EXPECT_EQ(user.userid, "3");
    EXPECT_EQ(user.email, "e@x");
}

TEST_F(UserInfoTest, IncompleteLastCharacterDoesNotBreakTheFile) {
    CUserInfo user;
    user.userid = "5";
    user.district = "\xB1\xB1\xBE";
    user.money = "8";
    user.Save(g_AppPathInfo.m_strUserXml);
    CUserInfo loaded;
    loaded.Load(g_AppPathInfo.m_strUserXml);
    EXPECT_EQ(loaded.userid, "5");
    EXPECT_EQ(loaded.district, "\xB1\xB1");
    EXPECT_EQ(loaded.money, "8");
}
