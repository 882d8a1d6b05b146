#include "platform/base/AfxAscii.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// GBK characters whose trail byte is an ASCII letter: B0 41 and B0 61 are two different
// characters, and so are C4 5A and C4 7A.
#define GBK_UPPER_A "\xB0\x41"
#define GBK_LOWER_A "\xB0\x61"

int Sign(int v) {
    return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

struct FoldCase {
    const char* text;
    const char* asciiLower; // every byte folded
    const char* ansiLower;  // double-byte characters stepped over
    const char* ansiUpper;
};

const FoldCase kFolds[] = {
    {"Content-Type", "content-type", "content-type", "CONTENT-TYPE"},
    {"", "", "", ""},
    {"@[`{", "@[`{", "@[`{", "@[`{"}, // the neighbours of the letters stay
    {"X" GBK_UPPER_A "Y", "x\xB0\x61y", "x" GBK_UPPER_A "y", "X" GBK_UPPER_A "Y"},
    {GBK_LOWER_A "a", "\xB0\x61\x61", GBK_LOWER_A "a", GBK_LOWER_A "A"},
    // A lead byte at the very end stands alone; the letter before it still folds.
    {"A\xB0", "a\xB0", "a\xB0", "A\xB0"},
    // Bytes above 0x7F that are no lead byte (0x80, 0xFF) are single characters.
    {"\x80Q\xFFZ", "\x80q\xFFz", "\x80q\xFFz", "\x80Q\xFFZ"},
};

TEST(BaseAscii, FoldsLettersOnlyAndStepsOverDoubleByteCharacters) {
    for (const FoldCase& c : kFolds) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(AfxAsciiLower(c.text), c.asciiLower);
        EXPECT_EQ(AfxAnsiLower(c.text), c.ansiLower);
        EXPECT_EQ(AfxAnsiUpper(c.text), c.ansiUpper);
    }
}

struct CompareCase {
    const char* a;
    const char* b;
    int sign; // of AfxAnsiCompareNoCase(a, b)
};

const CompareCase kCompares[] = {
    {"Version", "VERSION", 0},
    {"abc", "ABD", -1},
    {"abd", "ABC", 1},
    {"ab", "ABC", -1},
    {"", "", 0},
    {GBK_UPPER_A, GBK_LOWER_A, -1}, // the trail bytes differ: no folding inside a character
    {"\xD4\xC6x", "\xD4\xC6X", 0},
    {"\xB0", GBK_UPPER_A, -1}, // a lone lead byte before the end
    {GBK_UPPER_A, "\xB0", 1},
    // Folding is to lower case, as strcmp of the lowered texts: "_" (0x5F) lies between the two.
    {"_", "A", -1},
    {"\x80", "z", 1}, // bytes compare unsigned
};

TEST(BaseAscii, AnsiCompareIsStrcmpOfTheLoweredTexts) {
    for (const CompareCase& c : kCompares) {
        SCOPED_TRACE(std::string(c.a) + " / " + c.b);
        EXPECT_EQ(Sign(AfxAnsiCompareNoCase(c.a, c.b)), c.sign);
        EXPECT_EQ(Sign(AfxAnsiCompareNoCase(c.b, c.a)), -c.sign);
        EXPECT_EQ(AfxEqualNoCaseAnsi(c.a, c.b), c.sign == 0);
    }
    EXPECT_EQ(AfxAnsiCompareNoCase(nullptr, ""), 0);
    EXPECT_LT(AfxAnsiCompareNoCase(nullptr, "a"), 0);
}

TEST(BaseAscii, ByteWiseEqualityAndPrefix) {
    EXPECT_TRUE(AfxAsciiEqualNoCase("Explorer.EXE", "explorer.exe"));
    EXPECT_FALSE(AfxAsciiEqualNoCase("explorer.ex", "explorer.exe"));
    EXPECT_FALSE(AfxAsciiEqualNoCase("@", "`")); // 0x40 and 0x60 differ by the case bit only
    EXPECT_TRUE(AfxAsciiEqualNoCase(std::string_view("a\0B", 3), std::string_view("A\0b", 3)));
    EXPECT_TRUE(AfxAsciiStartsNoCase("/SELECT,C:\\x", "/select,"));
    EXPECT_FALSE(AfxAsciiStartsNoCase("/sel", "/select,"));
}

} // namespace
