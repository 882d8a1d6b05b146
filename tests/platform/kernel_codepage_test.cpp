#include "platform/kernel/Kernel.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// "云卷书廊-墨舟匣V4.0" as UTF-8 and as the bytes Python's gbk codec gives for it.
const char kTitleUtf8[] =
    "\xE4\xBA\x91\xE5\x8D\xB7\xE4\xB9\xA6\xE5\xBB\x8A-\xE5\xA2\xA8\xE8\x88\x9F\xE5\x8C\xA3V4.0";
const char kTitleGbk[] = "\xD4\xC6\xBE\xED\xCA\xE9\xC0\xC8-\xC4\xAB\xD6\xDB\xCF\xBBV4.0";

std::u16string ToWide(UINT cp, const std::string& s, DWORD flags = 0) {
    int n = MultiByteToWideChar(cp, flags, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::u16string w(static_cast<size_t>(n), u'\0');
    if (n > 0) {
        EXPECT_EQ(n, MultiByteToWideChar(cp, flags, s.data(), static_cast<int>(s.size()), w.data(), n));
    }
    return w;
}

std::string ToMulti(UINT cp, const std::u16string& w, BOOL* usedDefault = nullptr) {
    int n =
        WideCharToMultiByte(cp, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, usedDefault);
    std::string s(static_cast<size_t>(n), '\0');
    if (n > 0) {
        EXPECT_EQ(n, WideCharToMultiByte(cp, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                                         usedDefault));
    }
    return s;
}

// The program's own two-step conversion: through UTF-16, as the utility object does it.
std::string Convert(const std::string& s, UINT from, UINT to) {
    return ToMulti(to, ToWide(from, s));
}

TEST(KernelCodePage, GbkAndUtf8RoundTripChineseText) {
    EXPECT_EQ(Convert(kTitleUtf8, CP_UTF8, 936), kTitleGbk);
    EXPECT_EQ(Convert(kTitleGbk, 936, CP_UTF8), kTitleUtf8);
    // Every name of the ANSI code page means GBK, whatever the locale says.
    for (UINT acp : {UINT(CP_ACP), UINT(CP_THREAD_ACP), UINT(0), GetACP()}) {
        SCOPED_TRACE(acp);
        EXPECT_EQ(Convert(kTitleUtf8, CP_UTF8, acp), kTitleGbk);
        EXPECT_EQ(Convert(kTitleGbk, acp, CP_UTF8), kTitleUtf8);
    }
    EXPECT_EQ(GetACP(), 936u);
    EXPECT_EQ(ToWide(936, kTitleGbk).size(), 12u); // one unit per character, not per byte
}

TEST(KernelCodePage, TrailByte5CStaysInsideItsCharacter) {
    // D5 5C is one GBK character whose trail byte is "\".
    std::u16string w = ToWide(936, "\xD5\x5C\\");
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[0], u'\u8AA0');
    EXPECT_EQ(w[1], u'\\');
}

TEST(KernelCodePage, InvalidUtf8BecomesReplacementThenQuestionMark) {
    struct Case {
        const char* name;
        std::string in;
        std::u16string wide;
    } cases[] = {
        {"cut two-byte form at the end", "a\xC3", u"a\uFFFD"},
        {"byte that never starts a character",
         "a\xFF"
         "b",
         u"a\uFFFD"
         u"b"},
        {"overlong slash", "\xC0\xAF", u"\uFFFD\uFFFD"},
        {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"cut three-byte form then ASCII", "\xE4\xB8x", u"\uFFFDx"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"lone continuation", "\x80z", u"\uFFFDz"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::u16string w = ToWide(CP_UTF8, c.in);
        EXPECT_EQ(w, c.wide);
        BOOL used = FALSE;
        std::string gbk = ToMulti(936, w, &used);
        EXPECT_TRUE(used);
        std::string expected;
        for (char16_t u : c.wide)
            expected += u == 0xFFFD ? '?' : static_cast<char>(u);
        EXPECT_EQ(gbk, expected);
    }
}

TEST(KernelCodePage, StrictFlagRefusesBadInput) {
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xFF", 2, nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    // GBK lead byte with no trail at the end of the input.
    EXPECT_EQ(MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, "x\xD4", 2, nullptr, 0), 0);
    EXPECT_EQ(ToWide(936, "x\xD4"), u"x\uFFFD");
}

TEST(KernelCodePage, Utf16CodePagesAreRefusedAsMultibyteSource) {
    char16_t out[8];
    for (UINT cp : {1200u, 1201u, 12000u, 12001u}) {
        SCOPED_TRACE(cp);
        SetLastError(0);
        EXPECT_EQ(MultiByteToWideChar(cp, 0, "ab", 2, out, 8), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(WideCharToMultiByte(cp, 0, u"ab", 2, reinterpret_cast<char*>(out), 8, nullptr, nullptr), 0);
    }
}

TEST(KernelCodePage, CodePagesGlibcLacksBehaveAsNotInstalled) {
    char16_t out[8];
    for (UINT cp : {52936u, 57002u, 57011u, 4242u}) {
        SCOPED_TRACE(cp);
        EXPECT_EQ(MultiByteToWideChar(cp, 0, "ab", 2, out, 8), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
}

TEST(KernelCodePage, BufferAndTerminatorRules) {
    char16_t w[32];
    // -1 takes the terminator along and counts it.
    EXPECT_EQ(MultiByteToWideChar(936, 0, kTitleGbk, -1, nullptr, 0), 13);
    EXPECT_EQ(MultiByteToWideChar(936, 0, kTitleGbk, -1, w, 32), 13);
    EXPECT_EQ(w[12], u'\0');
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(936, 0, kTitleGbk, -1, w, 12), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(MultiByteToWideChar(936, 0, "", 0, w, 32), 0);
    EXPECT_EQ(MultiByteToWideChar(936, 0, nullptr, 3, w, 32), 0);

    char m[64];
    EXPECT_EQ(WideCharToMultiByte(936, 0, u"\u4E2D\u6587", -1, m, 64, nullptr, nullptr), 5);
    EXPECT_STREQ(m, "\xD6\xD0\xCE\xC4");
    EXPECT_EQ(WideCharToMultiByte(936, 0, u"\u4E2D\u6587", -1, m, 4, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    // UTF-8 allows no default character and no "used" flag, as on Windows.
    BOOL used;
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", 1, m, 64, nullptr, &used), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(KernelCodePage, SurrogatesAndDefaultCharacter) {
    // U+1F600 is a pair in UTF-16 and four bytes in UTF-8.
    EXPECT_EQ(ToWide(CP_UTF8, "\xF0\x9F\x98\x80"), u"\U0001F600");
    EXPECT_EQ(ToMulti(CP_UTF8, u"\U0001F600"), "\xF0\x9F\x98\x80");
    // GBK cannot hold it: one default character for the whole pair.
    BOOL used = FALSE;
    EXPECT_EQ(ToMulti(936, u"a\U0001F600b", &used), "a?b");
    EXPECT_TRUE(used);
    used = TRUE;
    EXPECT_EQ(ToMulti(936, u"abc", &used), "abc");
    EXPECT_FALSE(used);
    // A lone surrogate: U+FFFD in UTF-8, the default character in GBK.
    EXPECT_EQ(ToMulti(CP_UTF8, std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
    char m[8];
    EXPECT_EQ(WideCharToMultiByte(936, 0, u"\U0001F600", 2, m, 8, "*", &used), 1);
    EXPECT_EQ(m[0], '*');
}

TEST(KernelCodePage, LeadBytes) {
    struct {
        BYTE b;
        BOOL lead;
    } cases[] = {{0x00, FALSE}, {0x5C, FALSE}, {0x7F, FALSE}, {0x80, FALSE},
                 {0x81, TRUE},  {0xA1, TRUE},  {0xFE, TRUE},  {0xFF, FALSE}};
    for (auto c : cases) {
        EXPECT_EQ(IsDBCSLeadByte(c.b), c.lead) << int(c.b);
        EXPECT_EQ(IsDBCSLeadByteEx(CP_ACP, c.b), c.lead) << int(c.b);
    }
}

TEST(KernelCodePage, NameComparisonNeverFoldsTrailBytes) {
    EXPECT_TRUE(AfxEqualNoCaseAnsi("Version", "VERSION"));
    // 0xB0 0x41 and 0xB0 0x61 are two different characters; folding the trail would join them.
    EXPECT_FALSE(AfxEqualNoCaseAnsi("\xB0\x41", "\xB0\x61"));
    EXPECT_TRUE(AfxEqualNoCaseAnsi("\xD4\xC6x", "\xD4\xC6X"));
}

} // namespace
