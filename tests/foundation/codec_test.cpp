// Base64 (both alphabets), URL encoding, the two splitters and code-page conversion.
#include "foundation/CommonFunc.h"
#include "foundation/SplitByChar.h"
#include "tests/foundation/FoundationTestUtil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct Base64Case {
    const char* name;
    std::string input;
    const char* standard;
    const char* alt;
};

TEST(Base64, EncodesBothAlphabets) {
    const Base64Case cases[] = {
        {"three bytes", "abc", "YWJj", "YWJj"},
        {"two bytes", "ab", "YWI=", "YWI-"},
        {"one byte", "a", "YQ==", "YQ--"},
        {"symbols 62 and 63", "\xFB\xFF", "+/8=", "()8-"},
        {"all three high", "\xFB\xEF\xBE", "++++", "(((("},
        {"GBK text", "\xD6\xD0\xCE\xC4", "1tDOxA==", "1tDOxA--"},
        {"longer", "Many hands make light work.", "TWFueSBoYW5kcyBtYWtlIGxpZ2h0IHdvcmsu",
         "TWFueSBoYW5kcyBtYWtlIGxpZ2h0IHdvcmsu"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CString out = "stale";
        EXPECT_EQ(g_CommonFunc.EncodeBase64(c.input.c_str(), out), static_cast<int>(std::strlen(c.standard)));
        EXPECT_STREQ(out, c.standard);
        CString outBuf = "stale";
        EXPECT_EQ(g_CommonFunc.EncodeBase64Buf(reinterpret_cast<const BYTE*>(c.input.data()),
                                               static_cast<int>(c.input.size()), outBuf),
                  static_cast<int>(std::strlen(c.standard)));
        EXPECT_STREQ(outBuf, c.standard);
        CString outAlt = "stale";
        EXPECT_EQ(g_CommonFunc.EncodeBase64Alt(c.input.c_str(), outAlt),
                  static_cast<int>(std::strlen(c.alt)));
        EXPECT_STREQ(outAlt, c.alt);

        CString back = "stale";
        EXPECT_EQ(g_CommonFunc.DecodeBase64(c.standard, back), static_cast<int>(c.input.size()));
        EXPECT_EQ(back.str(), c.input);
        CString backAlt = "stale";
        EXPECT_EQ(g_CommonFunc.DecodeBase64Alt(c.alt, backAlt), static_cast<int>(c.input.size()));
        EXPECT_EQ(backAlt.str(), c.input);
    }
}

TEST(Base64, NullAndEmptyInput) {
    CString out = "stale";
    EXPECT_EQ(g_CommonFunc.EncodeBase64(nullptr, out), 0);
    EXPECT_STREQ(out, "");
    out = "stale";
    EXPECT_EQ(g_CommonFunc.EncodeBase64("", out), 0);
    EXPECT_STREQ(out, "");
    out = "stale";
    EXPECT_EQ(g_CommonFunc.EncodeBase64Alt(nullptr, out), 0);
    EXPECT_STREQ(out, "");
    out = "stale";
    EXPECT_EQ(g_CommonFunc.EncodeBase64Buf(nullptr, 5, out), 0);
    EXPECT_STREQ(out, "");
    out = "stale";
    EXPECT_EQ(g_CommonFunc.EncodeBase64Buf(reinterpret_cast<const BYTE*>("x"), 0, out), 0);
    EXPECT_STREQ(out, "");

    // Decoders leave the output untouched on NULL or "".
    out = "kept";
    EXPECT_EQ(g_CommonFunc.DecodeBase64(nullptr, out), 0);
    EXPECT_EQ(g_CommonFunc.DecodeBase64("", out), 0);
    EXPECT_EQ(g_CommonFunc.DecodeBase64Alt(nullptr, out), 0);
    EXPECT_EQ(g_CommonFunc.DecodeBase64Alt("", out), 0);
    EXPECT_STREQ(out, "kept");
    BYTE buf[4] = {9, 9, 9, 9};
    EXPECT_EQ(g_CommonFunc.DecodeBase64Buf(nullptr, buf), 0);
    EXPECT_EQ(g_CommonFunc.DecodeBase64Buf("", buf), 0);
    EXPECT_EQ(buf[0], 9);
}

TEST(Base64, DecodersSkipWhatIsNotTheirs) {
    struct Case {
        const char* name;
        const char* input;
        bool alt;
        std::string expected;
    };
    const Case cases[] = {
        {"blank and line break", "YW Jj\r\n", false, "abc"},
        {"alt pad skipped", "YWI-", true, "ab"},
        {"standard specials skipped by alt", "+/YWJj=", true, "abc"},
        {"alt specials skipped by standard", "()YWJj-", false, "abc"},
        {"high bytes skipped", "Y\xC4W\xFFJj", false, "abc"},
        // Pads are skipped like any foreign byte: the bits run on across them.
        {"pads in the middle", "YQ==YWI=", false, "a\x06\x16"},
        {"leftover bits dropped", "YWJjZ", false, "abc"},
        {"only foreign symbols", "!!==", false, ""},
        {"own specials", "+/8=", false, "\xFB\xFF"},
        {"alt specials", "()8-", true, "\xFB\xFF"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CString out = "stale";
        const int n =
            c.alt ? g_CommonFunc.DecodeBase64Alt(c.input, out) : g_CommonFunc.DecodeBase64(c.input, out);
        EXPECT_EQ(n, static_cast<int>(c.expected.size()));
        EXPECT_EQ(out.str(), c.expected);
    }
}

TEST(Base64, BufferDecoderWritesZeroAfterBytes) {
    const char* input = "AGFi"; // 00 61 62: a zero byte first
    std::vector<BYTE> buf(std::strlen(input) * 3 / 4 + 1, 0xEE);
    ASSERT_EQ(g_CommonFunc.DecodeBase64Buf(input, buf.data()), 3);
    EXPECT_EQ(buf[0], 0x00);
    EXPECT_EQ(buf[1], 'a');
    EXPECT_EQ(buf[2], 'b');
    EXPECT_EQ(buf[3], 0x00);
    // The string decoder keeps zero bytes as well.
    CString out;
    EXPECT_EQ(g_CommonFunc.DecodeBase64(input, out), 3);
    EXPECT_EQ(out.str(), std::string("\0ab", 3));
}

TEST(Base64, MatchesCoreutilsOnRandomBytes) {
    TempDir dir;
    std::mt19937 rng(20261210);
    for (size_t len : {1u, 2u, 3u, 4u, 5u, 57u, 58u, 59u, 100u, 255u, 1000u, 4097u}) {
        SCOPED_TRACE(len);
        const std::string bytes = ftest::RandomBytes(rng, len);
        const std::string file = dir.sub("in.bin");
        WriteFileBytes(file, bytes);
        std::string expected = RunCommand("base64 -w0 '" + file + "'");
        ASSERT_FALSE(expected.empty());

        CString out;
        EXPECT_EQ(g_CommonFunc.EncodeBase64Buf(reinterpret_cast<const BYTE*>(bytes.data()),
                                               static_cast<int>(bytes.size()), out),
                  static_cast<int>(expected.size()));
        EXPECT_EQ(out.str(), expected);

        // coreutils' wrapped form (line breaks every 76 symbols) decodes to the same bytes.
        const std::string wrapped = RunCommand("base64 '" + file + "'");
        std::vector<BYTE> buf(wrapped.size() * 3 / 4 + 1);
        ASSERT_EQ(g_CommonFunc.DecodeBase64Buf(wrapped.c_str(), buf.data()), static_cast<int>(len));
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(buf.data()), len), bytes);
        EXPECT_EQ(buf[len], 0);
    }
}

TEST(UrlEncode, Table) {
    struct Case {
        std::string input;
        const char* expected;
    };
    const Case cases[] = {
        {"a b/c~", "a%20b%2Fc%7E"},
        {"\xC4", "%C4"},
        {"@*_-.", "@*_-."},
        {"AZaz09", "AZaz09"},
        {"%+&=?#", "%25%2B%26%3D%3F%23"},
        {"", ""},
        {std::string("a\0b", 3), "a%00b"},
        {"\xFF\x80\x7F", "%FF%80%7F"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        std::vector<char> out(3 * c.input.size() + 1, 'X');
        const int n = g_CommonFunc.UrlEncode(reinterpret_cast<const BYTE*>(c.input.data()),
                                             static_cast<int>(c.input.size()), out.data());
        EXPECT_EQ(n, static_cast<int>(std::strlen(c.expected)));
        EXPECT_STREQ(out.data(), c.expected);
    }
}

std::vector<std::string> Pieces(const CStringArray& arr) {
    std::vector<std::string> v;
    for (int i = 0; i < arr.GetSize(); ++i)
        v.push_back(arr.GetAt(i).str());
    return v;
}

TEST(SplitString, Table) {
    struct Case {
        const char* text;
        const char* sep;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"id_12", "_", {"id", "12"}},
        {"a__b", "_", {"a", "", "b"}},
        {"_x", "_", {"", "x"}},
        {"", "_", {""}},
        {"x_", "_", {"x", ""}},
        {"a::b::c", "::", {"a", "b", "c"}},
        {"abc", "", {}},
        // The second byte of this GBK character is "_" (0x5F): it is not a separator.
        {"\xB0\x5F_z", "_", {"\xB0\x5F", "z"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        CStringArray arr;
        g_CommonFunc.SplitString(c.text, c.sep, arr);
        EXPECT_EQ(Pieces(arr), c.expected);
    }
}

TEST(SplitString, AppendsToWhatTheArrayHeld) {
    CStringArray arr;
    arr.Add("old");
    g_CommonFunc.SplitString("a_b", "_", arr);
    EXPECT_EQ(Pieces(arr), (std::vector<std::string>{"old", "a", "b"}));
}

TEST(SplitByChar, Table) {
    struct Case {
        const char* text;
        char sep;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {" 1, 2 ,,3", ',', {"1", "2", "3"}},
        {"", ',', {}},
        {" , ,", ',', {}},
        {"0,0,100,20", ',', {"0", "0", "100", "20"}},
        {"a,b,", ',', {"a", "b"}},
        {"\t x \t", ',', {"x"}},
        {"single", ',', {"single"}},
        // A GBK character whose trail byte is the separator stays whole, also at the end.
        {"a\\\xD5\x5C", '\\', {"a", "\xD5\x5C"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        CStringList list;
        list.AddTail("stale");
        const int n = SplitByChar(c.text, list, c.sep);
        std::vector<std::string> got;
        for (POSITION pos = list.GetHeadPosition(); pos != nullptr;)
            got.push_back(list.GetNext(pos).str());
        EXPECT_EQ(n, static_cast<int>(c.expected.size()));
        EXPECT_EQ(got, c.expected);
    }
}

TEST(ConvertCodePage, MatchesIconvBothWays) {
    TempDir dir;
    const std::string utf8 = "\xE4\xB8\xAD\xE6\x96\x87 abc \xE6\x9D\x82\xE5\xBF\x97"; // "中文 abc 杂志"
    WriteFileBytes(dir.sub("u.txt"), utf8);
    const std::string gbk = RunCommand("iconv -f UTF-8 -t GBK '" + dir.sub("u.txt") + "'");
    ASSERT_FALSE(gbk.empty());

    EXPECT_EQ(g_CommonFunc.ConvertCodePage(utf8.c_str(), 65001, 0).str(), gbk);
    EXPECT_EQ(g_CommonFunc.ConvertCodePage(gbk.c_str(), 0, 65001).str(), utf8);
    EXPECT_STREQ(g_CommonFunc.ConvertCodePage("", 65001, 0), "");
    EXPECT_STREQ(g_CommonFunc.ConvertCodePage("plain", 0, 65001), "plain");
}

TEST(ConvertCodePage, UnconvertibleCharactersDoNotStopTheText) {
    // An emoji has no GBK form: it is replaced, and the text around it survives.
    const std::string utf8 = "a\xF0\x9F\x98\x80z";
    const CString ansi = g_CommonFunc.ConvertCodePage(utf8.c_str(), 65001, 0);
    ASSERT_GE(ansi.GetLength(), 2);
    EXPECT_EQ(ansi.GetAt(0), 'a');
    EXPECT_EQ(ansi.GetAt(ansi.GetLength() - 1), 'z');
}

} // namespace
