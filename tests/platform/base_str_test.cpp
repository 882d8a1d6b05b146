#include "platform/base/AfxStr.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

// GBK characters used below, with their bytes:
//   D5 5C  (trail byte is "\")
//   B9 7C  (trail byte is "|")
//   B1 41  (trail byte is "A")
//   D6 D0  (both bytes high)
#define GBK_BS "\xD5\x5C"
#define GBK_BAR "\xB9\x7C"
#define GBK_A "\xB1\x41"
#define GBK_ZH "\xD6\xD0"

namespace {

std::string Bytes(const CString& s) {
    return s.str();
}

} // namespace

TEST(BaseStr, ConstructionFromNullAndEmbeddedZero) {
    const char* none = nullptr;
    CString fromNull(none);
    EXPECT_EQ(fromNull.GetLength(), 0);
    EXPECT_STREQ(static_cast<const char*>(fromNull), "");

    CString counted(none, 5);
    EXPECT_TRUE(counted.IsEmpty());

    CString stops("ab\0cd");
    EXPECT_EQ(stops.GetLength(), 2);

    CString exact("ab\0cd", 5);
    ASSERT_EQ(exact.GetLength(), 5);
    EXPECT_EQ(exact.GetAt(2), '\0');
    EXPECT_EQ(exact.GetAt(4), 'd');
    EXPECT_EQ(Bytes(exact), std::string("ab\0cd", 5));

    // The zero survives copies and concatenation.
    CString joined = exact + exact;
    EXPECT_EQ(joined.GetLength(), 10);
    EXPECT_EQ(Bytes(joined), std::string("ab\0cdab\0cd", 10));

    CString assigned("x");
    assigned = none;
    EXPECT_TRUE(assigned.IsEmpty());
    assigned += none;
    assigned.Append(none);
    EXPECT_TRUE(assigned.IsEmpty());
    EXPECT_EQ(CString("x") + none, "x");

    EXPECT_EQ(CString('-', 3), "---");
    EXPECT_TRUE(CString('-', 0).IsEmpty());
    EXPECT_TRUE(CString('-', -2).IsEmpty());
}

TEST(BaseStr, OutOfRangeAccessIsHarmless) {
    CString s("ab");
    EXPECT_EQ(s.GetAt(-1), '\0');
    EXPECT_EQ(s.GetAt(2), '\0');
    s.SetAt(5, 'x');
    s.SetAt(-1, 'x');
    EXPECT_EQ(s, "ab");
    s.SetAt(1, 'z');
    EXPECT_EQ(s, "az");
}

struct CharSearch {
    const char* text;
    char ch;
    int start;
    int find;    // Find(ch, start)
    int reverse; // ReverseFind(ch)
};

TEST(BaseStr, CharSearchStepsOverTrailBytes) {
    const CharSearch cases[] = {
        {"dir" GBK_BS, '\\', 0, -1, -1},            // the only 0x5C is a trail byte
        {"a\\" GBK_BS, '\\', 0, 1, 1},              // real backslash before the character
        {GBK_BS "\\b", '\\', 0, 2, 2},              // real backslash after it
        {"c:\\" GBK_BS "\\" GBK_BS, '\\', 0, 2, 5}, // path whose last component ends in D5 5C
        {GBK_BS "\\", '\\', 1, 2, 2},               // start inside a character
        {GBK_BAR "|", '|', 0, 2, 2},
        {GBK_ZH GBK_ZH, '\xD0', 0, -1, -1}, // a trail byte value alone is no character
        {"ab\xD5", '\xD5', 0, 2, 2},        // a lead byte at the very end stands alone
        {"abcabc", 'b', 2, 4, 4},
        {"abc", 'b', 5, -1, 1},
        {"abc", 'a', -3, 0, 0},
        {"abc", '\0', 0, -1, -1},
        {"", 'a', 0, -1, -1},
    };
    for (const auto& c : cases) {
        CString s(c.text);
        EXPECT_EQ(s.Find(c.ch, c.start), c.find) << c.text << " start " << c.start;
        EXPECT_EQ(s.ReverseFind(c.ch), c.reverse) << c.text;
    }
}

struct SubSearch {
    const char* text;
    const char* sub;
    int start;
    int expect;
};

TEST(BaseStr, SubstringSearchMatchesOnlyAtCharacterStarts) {
    const SubSearch cases[] = {
        {"dir" GBK_BS, "\\", 0, -1},
        {GBK_BS "\\", "\\\\", 0, -1}, // bytes 5C 5C, but the first is a trail byte
        {GBK_BS "\\", "\\", 0, 2},
        {"a" GBK_BS "b", GBK_BS, 0, 1},
        {"a" GBK_BS "b", "\\b", 0, -1},
        {GBK_ZH GBK_ZH, "\xD0\xD6", 0, -1}, // straddles two characters
        {"abcabc", "bc", 0, 1},
        {"abcabc", "bc", 2, 4},
        {"abcabc", "bc", 5, -1},
        {"abc", "", 1, 1},
        {"abc", "", 4, -1},
        {"abc", "abcd", 0, -1},
        {"abc", nullptr, 0, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CString(c.text).Find(c.sub, c.start), c.expect)
            << c.text << " / " << (c.sub ? c.sub : "(null)") << " start " << c.start;
    }
}

TEST(BaseStr, FindOneOfAndSpans) {
    EXPECT_EQ(CString(GBK_BS "/x").FindOneOf("\\/"), 2);
    EXPECT_EQ(CString(GBK_BS "x").FindOneOf("\\"), -1);
    EXPECT_EQ(CString("ab" GBK_ZH).FindOneOf(GBK_ZH), 2); // a double-byte member of the set
    EXPECT_EQ(CString("\xD6\x41"
                      "A")
                  .FindOneOf("A"),
              2); // 0x41 as trail byte is skipped
    EXPECT_EQ(CString("abc").FindOneOf(nullptr), -1);

    EXPECT_EQ(CString(GBK_BS "\\rest").SpanExcluding("\\"), GBK_BS);
    EXPECT_EQ(CString("123abc").SpanIncluding("0123456789"), "123");
    EXPECT_EQ(CString(GBK_ZH GBK_ZH "x").SpanIncluding(GBK_ZH), GBK_ZH GBK_ZH);
    EXPECT_EQ(CString("abc").SpanIncluding(""), "");
}

struct ReplaceCase {
    const char* text;
    const char* from;
    const char* to;
    int count;
    const char* result;
};

TEST(BaseStr, ReplaceAndRemoveKeepDoubleByteCharacters) {
    const ReplaceCase cases[] = {
        {GBK_BS "\\", "\\", "/", 1, GBK_BS "/"},
        {"c:\\" GBK_BS "\\x", "\\", "/", 2, "c:/" GBK_BS "/x"},
        {GBK_BAR "|", "|", "!", 1, GBK_BAR "!"},
        {"ababab", "ab", "x", 3, "xxx"},
        {"aaa", "a", "aa", 3, "aaaaaa"},
        {"aaaa", "aa", "a", 2, "aa"},
        {"abc", "b", nullptr, 1, "ac"},
        {"abc", "b", "", 1, "ac"},
        {"abc", "", "x", 0, "abc"},
        {"abc", nullptr, "x", 0, "abc"},
        {"abc", "z", "x", 0, "abc"},
    };
    for (const auto& c : cases) {
        CString s(c.text);
        EXPECT_EQ(s.Replace(c.from, c.to), c.count) << c.text;
        EXPECT_EQ(s, c.result) << c.text;
    }

    CString one(GBK_BS "\\a\\");
    EXPECT_EQ(one.Replace('\\', '/'), 2);
    EXPECT_EQ(one, GBK_BS "/a/");

    CString removed(GBK_BS "\\" GBK_BS);
    EXPECT_EQ(removed.Remove('\\'), 1);
    EXPECT_EQ(removed, GBK_BS GBK_BS);
}

TEST(BaseStr, ReplaceWithTextFromTheSameString) {
    CString s("ab");
    EXPECT_EQ(s.Replace("a", s), 1);
    EXPECT_EQ(s, "abb");
    CString t("xyx");
    EXPECT_EQ(t.Replace(t.GetString() + 2, "z"), 2);
    EXPECT_EQ(t, "zyz");
}

TEST(BaseStr, CaseFoldsSingleByteLettersOnly) {
    CString lower(GBK_A "ABC");
    lower.MakeLower();
    EXPECT_EQ(lower, GBK_A "abc");

    CString upper("\xB1\x61"
                  "abc");
    upper.MakeUpper();
    EXPECT_EQ(upper, "\xB1\x61"
                     "ABC");

    EXPECT_EQ(CString("Index.HTML").CompareNoCase("index.html"), 0);
    EXPECT_NE(CString(GBK_A).CompareNoCase("\xB1\x61"), 0);
    EXPECT_EQ(CString(GBK_A "X").CompareNoCase(GBK_A "x"), 0);
    EXPECT_LT(CString("a").CompareNoCase("B"), 0);
    EXPECT_GT(CString("b").CompareNoCase(nullptr), 0);

    // Byte-wise, with bytes unsigned: every GBK lead byte sorts after ASCII.
    EXPECT_GT(CString(GBK_ZH).Compare("z"), 0);
    EXPECT_LT(CString("Z").Compare("a"), 0);
    EXPECT_EQ(CString("").Compare(nullptr), 0);
    EXPECT_TRUE(CString("abc") == "abc");
    EXPECT_TRUE("abd" != CString("abc"));
    EXPECT_TRUE(CString("abc") < CString("abd"));
}

TEST(BaseStr, TrimNeverCutsATrailByte) {
    CString s(GBK_BS);
    s.TrimRight('\\');
    EXPECT_EQ(s, GBK_BS);
    s.TrimRight("\\/");
    EXPECT_EQ(s, GBK_BS);

    CString path("\\\\dir\\" GBK_BS "\\\\");
    path.TrimRight('\\');
    EXPECT_EQ(path, "\\\\dir\\" GBK_BS);
    path.TrimLeft('\\');
    EXPECT_EQ(path, "dir\\" GBK_BS);

    CString blanks(" \t\r\n x y \r\n\t ");
    blanks.Trim();
    EXPECT_EQ(blanks, "x y");

    CString all("   ");
    all.Trim();
    EXPECT_TRUE(all.IsEmpty());

    CString targets(GBK_ZH "a" GBK_ZH);
    targets.Trim(GBK_ZH);
    EXPECT_EQ(targets, "a");

    CString quoted("\"v\"");
    quoted.Trim('"');
    EXPECT_EQ(quoted, "v");
}

struct Extract {
    const char* what;
    CString got;
    const char* expect;
};

TEST(BaseStr, LeftMidRightClampCounts) {
    const CString s("hello");
    const Extract cases[] = {
        {"Left(-1)", s.Left(-1), ""},
        {"Left(0)", s.Left(0), ""},
        {"Left(2)", s.Left(2), "he"},
        {"Left(99)", s.Left(99), "hello"},
        {"Left(INT_MAX)", s.Left(INT_MAX), "hello"},
        {"Mid(-3)", s.Mid(-3), "hello"},
        {"Mid(3)", s.Mid(3), "lo"},
        {"Mid(5)", s.Mid(5), ""},
        {"Mid(9)", s.Mid(9), ""},
        {"Mid(2,100)", s.Mid(2, 100), "llo"},
        {"Mid(1,INT_MAX)", s.Mid(1, INT_MAX), "ello"},
        {"Mid(INT_MAX,1)", s.Mid(INT_MAX, 1), ""},
        {"Mid(1,-1)", s.Mid(1, -1), ""},
        {"Mid(-2,3)", s.Mid(-2, 3), "hel"},
        {"Right(2)", s.Right(2), "lo"},
        {"Right(99)", s.Right(99), "hello"},
        {"Right(-2)", s.Right(-2), ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.got, c.expect) << c.what;

    // Counts are bytes, so a double-byte character counts two.
    EXPECT_EQ(CString(GBK_ZH "ab").GetLength(), 4);
    EXPECT_EQ(CString(GBK_ZH "ab").Left(2), GBK_ZH);
}

TEST(BaseStr, FormatPassesStringsAsPointers) {
    CString dir("c:\\data"), type("mag");
    CString path;
    path.Format("%s\\%s\\%d.jpg", dir, type, 42);
    EXPECT_EQ(path, "c:\\data\\mag\\42.jpg");

    CString fromTemp;
    fromTemp.Format("[%s]", dir + "\\" + type); // a temporary lives through the call
    EXPECT_EQ(fromTemp, "[c:\\data\\mag]");

    const std::string std("std");
    CString mixed;
    mixed.Format("%s|%s|%c|%5.2f|%u", std, "lit", 'z', 2.5, 7u);
    EXPECT_EQ(mixed, "std|lit|z| 2.50|7");

    // The string being formatted may be one of its own arguments.
    CString self("ab");
    self.Format("%s-%s", self, self);
    EXPECT_EQ(self, "ab-ab");

    // Longer than any first guess at the buffer.
    CString longText;
    longText.Format("<%s>", CString('x', 5000));
    EXPECT_EQ(longText.GetLength(), 5002);
    EXPECT_EQ(longText.Left(2), "<x");
    EXPECT_EQ(longText.Right(2), "x>");

    CString appended("n=");
    appended.AppendFormat("%d,%s", 3, CString("q"));
    EXPECT_EQ(appended, "n=3,q");

    CString empty("old");
    empty.Format("");
    EXPECT_TRUE(empty.IsEmpty());
}

TEST(BaseStr, GetBufferAndReleaseBuffer) {
    CString s;
    char* p = s.GetBuffer(10);
    std::strcpy(p, "abc");
    s.ReleaseBuffer();
    EXPECT_EQ(s, "abc");
    EXPECT_EQ(s.GetLength(), 3);

    // Filling every byte of the promised room, with the terminator in the extra byte.
    p = s.GetBuffer(5);
    std::memcpy(p, "12345", 5);
    p[5] = '\0';
    s.ReleaseBuffer();
    EXPECT_EQ(s, "12345");

    p = s.GetBuffer(8);
    std::memcpy(p, "xy\0zzz", 6);
    s.ReleaseBuffer(5);
    EXPECT_EQ(s.GetLength(), 5);
    EXPECT_EQ(Bytes(s), std::string("xy\0zz", 5));

    // A smaller request keeps the whole string.
    CString keep("hello");
    keep.GetBuffer(2);
    keep.ReleaseBuffer();
    EXPECT_EQ(keep, "hello");

    CString fixed("abc");
    p = fixed.GetBufferSetLength(6);
    std::memcpy(p + 3, "def", 3);
    fixed.ReleaseBuffer(6);
    EXPECT_EQ(fixed, "abcdef");

    CString over("abc");
    over.GetBuffer(0);
    over.ReleaseBuffer(100); // longer than the buffer: clamped
    EXPECT_EQ(over, "abc");
}

TEST(BaseStr, TokenizeSkipsDelimiterRuns) {
    CString s(",a,,b;c;");
    int pos = 0;
    EXPECT_EQ(s.Tokenize(",;", pos), "a");
    EXPECT_EQ(s.Tokenize(",;", pos), "b");
    EXPECT_EQ(s.Tokenize(",;", pos), "c");
    EXPECT_EQ(s.Tokenize(",;", pos), "");
    EXPECT_EQ(pos, -1);
    EXPECT_EQ(s.Tokenize(",;", pos), "");
    EXPECT_EQ(pos, -1);

    CString path(GBK_BS "\\x");
    pos = 0;
    EXPECT_EQ(path.Tokenize("\\", pos), GBK_BS);
    EXPECT_EQ(path.Tokenize("\\", pos), "x");
    EXPECT_EQ(path.Tokenize("\\", pos), "");
    EXPECT_EQ(pos, -1);
}

TEST(BaseStr, InsertDeleteReverse) {
    CString s("abc");
    EXPECT_EQ(s.Insert(99, "d"), 4);
    EXPECT_EQ(s.Insert(-5, 'x'), 5);
    EXPECT_EQ(s, "xabcd");
    EXPECT_EQ(s.Insert(1, s), 10); // inserting itself
    EXPECT_EQ(s, "xxabcdabcd");
    EXPECT_EQ(s.Delete(2, 4), 6);
    EXPECT_EQ(s, "xxabcd");
    EXPECT_EQ(s.Delete(3, 99), 3);
    EXPECT_EQ(s.Delete(99), 3);
    EXPECT_EQ(s.Delete(-1), 2);
    EXPECT_EQ(s, "xa");

    CString r("a" GBK_ZH "b" GBK_BS);
    r.MakeReverse();
    EXPECT_EQ(r, GBK_BS "b" GBK_ZH "a");
}

TEST(BaseStr, LeadByteRange) {
    EXPECT_FALSE(AfxIsLeadByte(0x80));
    EXPECT_TRUE(AfxIsLeadByte(0x81));
    EXPECT_TRUE(AfxIsLeadByte(0xFE));
    EXPECT_FALSE(AfxIsLeadByte(0xFF));
    EXPECT_FALSE(AfxIsLeadByte('\\'));
}

TEST(BaseStr, WideStrings) {
    const WCHAR* none = nullptr;
    EXPECT_TRUE(CStringW(none).IsEmpty());
    CStringW w(u"ab\0c", 4);
    EXPECT_EQ(w.GetLength(), 4);
    CStringW b;
    WCHAR* p = b.GetBuffer(8);
    p[0] = u'\x4E2D';
    p[1] = u'x';
    p[2] = 0;
    b.ReleaseBuffer();
    EXPECT_EQ(b.str(), std::u16string(u"\x4E2Dx"));
}
