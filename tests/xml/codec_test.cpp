#include "xml/XmlCodec.h"
#include "xml/XmlScanner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(Codec, CodePageOfNames) {
    struct Case {
        const char* name;
        int cp;
    } cases[] = {
        {"UTF-8", 65001},    {"utf8", 65001},       {"CP65001", 65001},
        {"GB2312", 936},     {"gbk", 936},          {"", 0},
        {nullptr, 0},        {"klingon", -1},       {"UTF-32BE", 65005},
        {"utf-32be", 12001}, {"Big5", 950},         {"ISO-8859-1", 28591},
        {"cp1256 ", 1256},   {"cp1256", 1256},      {"Shift_JIS", 932},
        {"UTF-16", 1200},    {"unicodeFFFE", 1201}, {"x-mac-thai", 10021},
        {"PTCP154", 154},    {"cp437", 437},        {"ASMO-708", 708},
        {"dos-720", 720},    {"ibm737", 737},       {"Utf-32", 12000},
        {"UTF-32LE", 65005}, {"cp1256  ", -1},      {"gbk ", -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(XmlCodePageOf(c.name), c.cp) << (c.name ? c.name : "(null)");
    EXPECT_EQ(XmlCodePageOf(std::string(120, 'a').c_str()), -1);
}

TEST(Codec, CanConvert) {
    EXPECT_FALSE(XmlCanConvert("GBK", ""));
    EXPECT_TRUE(XmlCanConvert("UTF-8", ""));
    EXPECT_FALSE(XmlCanConvert("klingon", ""));
    EXPECT_FALSE(XmlCanConvert("", "klingon"));
}

TEST(Codec, Utf8AndUtf16) {
    struct Case {
        const char* bytes;
        int len;
        int cp;
    } cases[] = {{"\xe4\xb8\xad", 3, 0x4E2D},
                 {"\xe4\xb8", 2, -1},
                 {"\xf8", 1, -1},
                 {"A", 1, 'A'},
                 {"\xc3\xa9", 2, 0xE9},
                 {"\xf0\x9f\x98\x80", 4, 0x1F600},
                 {"\xe4\x41\x41", 3, -1}};
    for (const Case& c : cases) {
        const char* p = c.bytes;
        EXPECT_EQ(XmlDecodeUtf8(p, c.bytes + c.len), c.cp) << c.bytes;
    }
    for (int cp : {0x41, 0xE9, 0x4E2D, 0xFFFD, 0x1F600, 0x10FFFF}) {
        char buf[4];
        int n = 0;
        XmlEncodeUtf8(cp, buf, n);
        int counted = 0;
        XmlEncodeUtf8(cp, nullptr, counted);
        EXPECT_EQ(n, counted);
        const char* p = buf;
        EXPECT_EQ(XmlDecodeUtf8(p, buf + n), cp);
        EXPECT_EQ(p, buf + n);
    }
    WCHAR units[2];
    int n = 0;
    XmlEncodeUtf16(0x1F600, units, n);
    ASSERT_EQ(n, 2);
    EXPECT_EQ(units[0], 0xD83D);
    EXPECT_EQ(units[1], 0xDE00);
    const WCHAR* p = units;
    EXPECT_EQ(XmlDecodeUtf16(p, units + 2), 0x1F600);
    const WCHAR lone[] = {0xD83D, 0};
    p = lone;
    EXPECT_EQ(XmlDecodeUtf16(p, lone + 1), -1);
    p = lone;
    EXPECT_EQ(XmlDecodeUtf16(p, lone + 2), -1);
}

TEST(Codec, LooksLikeUtf8) {
    int non = 0;
    bool mid = false;
    EXPECT_TRUE(XmlLooksLikeUtf8("a\xe4\xb8\xad", 4, &non, &mid));
    EXPECT_EQ(non, 1);
    EXPECT_FALSE(XmlLooksLikeUtf8("a\xe4\xb8", 3, &non, &mid));
    EXPECT_TRUE(mid);
    EXPECT_FALSE(XmlLooksLikeUtf8("\xd6\xd0\xce\xc4", 4, &non, &mid));
    EXPECT_FALSE(mid);
    EXPECT_TRUE(XmlLooksLikeUtf8("ab\0\xff", 4, &non, &mid)); // stops at the zero byte
    EXPECT_EQ(non, 0);
}

TEST(Codec, Converter) {
    // GBK to UTF-8 in two steps, measuring first.
    const char gbk[] = "\xd6\xd0"
                       "a";
    CXmlTextConverter c("GBK", gbk, 3);
    int need = c.Convert(nullptr, "UTF-8");
    EXPECT_EQ(need, 4);
    std::vector<char> out(static_cast<size_t>(need));
    c.m_nToCount = need;
    EXPECT_EQ(c.Convert(out.data(), nullptr), 4);
    EXPECT_EQ(std::string(out.data(), 4), "\xe4\xb8\xad"
                                          "a");
    EXPECT_FALSE(c.m_bLoss);

    // UTF-8 to own UTF-32, with a bad sequence becoming "?".
    const char u8[] = "\xe4\xb8\xad\xff"
                      "b";
    CXmlTextConverter d("UTF-8", u8, 5);
    uint32_t wide[8];
    d.m_nToCount = 8;
    ASSERT_EQ(d.Convert(wide, "UTF-32"), 3);
    EXPECT_EQ(wide[0], 0x4E2Du);
    EXPECT_EQ(wide[1], static_cast<uint32_t>('?'));
    EXPECT_EQ(wide[2], static_cast<uint32_t>('b'));

    // Own UTF-32 to UTF-16 and back to UTF-8.
    uint32_t src[] = {0x1F600, 0x41};
    CXmlTextConverter e("UTF-32", src, 2);
    WCHAR u16[4];
    e.m_nToCount = 4;
    ASSERT_EQ(e.Convert(u16, "UTF-16"), 3);
    EXPECT_EQ(u16[0], 0xD83D);

    // Loss is reported for a target that cannot hold the character.
    CXmlTextConverter f("GBK", gbk, 3);
    char latin[8];
    f.m_nToCount = 8;
    f.Convert(latin, "iso-8859-1");
    EXPECT_TRUE(f.m_bLoss);

    // A destination that is too small is never overrun.
    CXmlTextConverter g("UTF-8", u8, 5);
    uint32_t small[1] = {0};
    g.m_nToCount = 1;
    EXPECT_EQ(g.Convert(small, "UTF-32"), 1);
}

TEST(Codec, SniffDeclaredEncoding) {
    struct Case {
        const char* text;
        const char* enc;
    } cases[] = {
        {"<?xml version='1.0' encoding='GB2312'?><a/>", "GB2312"},
        {"<?XML ENCODING='x'?>", "x"},
        {"<!-- note --><?xml encoding='x'?>", ""},
        {"<?xml version='1.0'?><a/>", ""},
        {"<html><head><meta http-equiv='Content-Type' content='text/html; charset=gbk'></head>", "gbk"},
        {"<HTML><META HTTP-EQUIV=\"content-type\" CONTENT=\"text/html;charset=utf-8\">", "utf-8"},
        {"<html><head></head><meta http-equiv='Content-Type' content='text/html; charset=gbk'>", ""},
        {"<html><meta http-equiv='Content-Type'>", ""},
        {"<body><meta http-equiv='Content-Type' content='text/html; charset=gbk'>", ""},
        {"", ""},
        {"<?xml encoding=", ""},
        // A name without a value is its own value.
        {"<?xml version='1.0' encoding?><a/>", "encoding"},
        {"<?xml version='1.0' encoding = \"big5\" ?>", "big5"},
        {"<?xml version='1.0' encoding=utf-8?><a/>", "utf-8?"},
        {" <?xml encoding='x'?>", ""},
        {"<html><head><meta http-equiv='Content-Type' content='text/html'><meta charset='x'></head>", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(std::string(XmlSniffDeclaredEncoding(c.text)), c.enc) << c.text;
}

} // namespace

namespace {

// Double-byte ANSI text whose bytes all have the top bit set is not UTF-8.
TEST(Codec, GbkPairsAreNotUtf8) {
    const char* p = "\xd6\xd0";
    const char* s = p;
    EXPECT_EQ(XmlDecodeUtf8(s, p + 2), -1);
    const char* q = "\x80\x41";
    s = q;
    EXPECT_EQ(XmlDecodeUtf8(s, q + 2), -1);
}

} // namespace
