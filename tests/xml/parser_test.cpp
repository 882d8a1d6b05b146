#include "tests/xml/XmlInspector.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ParseCase {
    const char* text;
    bool wellFormed;
    const char* tree;
    const char* log;
};

const ParseCase kParseCases[] = {
    {"", false, "", ""},
    {"<a/>", true, "a[0,4,4,0]", ""},
    {"<?xml version=\"1.0\"?><a/>", true, "a[21,4,4,0]", ""},
    {" <a>x</a> trailing", true, "a[1,8,3,4]", ""},
    {"<a><b/><b/></a>", true, "a[0,15,3,4](b[3,4,4,0] b[7,4,4,0])", ""},
    {"<a><b></a>", false, "!a[0,10,3,4](b[3,3,3,0]N)",
     "<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"7\"/>"},
    {"<a><b><c/></b>", false, "!a[0,3,3,0]N b[3,11,3,4](c[6,4,4,0])",
     "<unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"14\"/><root_has_sibling/>"},
    {"<a></b></a>", false, "!a[0,11,3,4]D", "<lone_end_tag tagname=\"b\" offset=\"3\"/>"},
    {"<a><b></c></a>", false, "!a[0,14,3,4]D(b[3,3,3,0]N)",
     "<lone_end_tag tagname=\"c\" offset=\"6\"/><unended_start_tag tagname=\"b\" offset=\"3\" "
     "offset2=\"11\"/>"},
    {"<a b='x>y'>text</a>", true, "a[0,19,11,4]", ""},
    {"<a href=x/>", false, "!a[0,11,11,0]N",
     "<unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"11\"/>"},
    {"<a b=\"c\"/>", true, "a[0,10,10,0]", ""},
    {"<a />", true, "a[0,5,5,0]", ""},
    {"<!-x>", false, "!", "<comment_tag_syntax offset=\"0\"/><no_root_element/>"},
    {"<!x>", false, "!", "<exclamation_tag_syntax offset=\"0\"/><no_root_element/>"},
    {"<1>", false, "!", "<first_tag_syntax offset=\"0\"/><no_root_element/>"},
    {"<![x]><a/>", false, "!a[6,4,4,0]", "<cdata_section_syntax offset=\"0\"/>"},
    {"<a>", false, "!a[0,3,3,0]N", "<unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"3\"/>"},
    {"<a", false, "!", "<unterminated_tag_syntax type=\"start_tag\" offset=\"0\"/><no_root_element/>"},
    {"<a/><b/>", false, "a[0,4,4,0] b[4,4,4,0]", "<root_has_sibling/>"},
    {"text only", false, "", "<no_root_element/>"},
    {"<!DOCTYPE x [<!ELEMENT a (#PCDATA)> <!ATTLIST a b CDATA 'q>'>]><a/>", true, "a[63,4,4,0]", ""},
    // A stray tag inside the internal subset ends the declaration as a syntax error before it.
    {"<!DOCTYPE x [<b>]><a/>", false, "!b[13,3,3,0]N a[18,4,4,0]",
     "<doctype_tag_syntax offset=\"0\"/><unended_start_tag tagname=\"b\" offset=\"13\" offset2=\"22\"/>"
     "<root_has_sibling/>"},
    {"<a><!-- <b> --><![CDATA[<c>]]><?pi <d>?></a>", true, "a[0,44,3,4]", ""},
    {"<a><!-- x", false, "!a[0,3,3,0]N",
     "<unterminated_tag_syntax type=\"comment\" offset=\"3\"/><unended_start_tag tagname=\"a\" offset=\"0\" "
     "offset2=\"9\"/>"},
    {"<a x='1'  ></a   >", true, "a[0,18,11,7]", ""},
    {"<p><q></p></p>", false, "!p[0,10,3,4](q[3,3,3,0]N)",
     "<unended_start_tag tagname=\"q\" offset=\"3\" offset2=\"7\"/><lone_end_tag tagname=\"p\" "
     "offset=\"10\"/>"},
};

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, RecordsLogAndForm) {
    const ParseCase& c = GetParam();
    CXmlDocument doc;
    EXPECT_EQ(doc.SetDocText(c.text), c.wellFormed);
    CXmlDocumentInspector in(doc);
    EXPECT_EQ(in.Dump(), c.tree);
    EXPECT_EQ(std::string(doc.GetResultLog()), c.log);
    EXPECT_EQ(in.CheckLinks(), "");
    EXPECT_EQ(in.Rec(0).nLength, static_cast<int>(std::string(c.text).size()));
}

INSTANTIATE_TEST_SUITE_P(Cases, ParseTest, ::testing::ValuesIn(kParseCases));

TEST(Parse, ThousandLevelsOfNesting) {
    std::string text;
    for (int i = 0; i < 1000; ++i)
        text += "<e" + std::to_string(i) + ">";
    text += "deep";
    for (int i = 999; i >= 0; --i)
        text += "</e" + std::to_string(i) + ">";
    CXmlDocument doc;
    ASSERT_TRUE(doc.SetDocText(text.c_str()));
    for (int i = 0; i < 1000; ++i) {
        ASSERT_TRUE(doc.FindElement(("e" + std::to_string(i)).c_str())) << i;
        ASSERT_TRUE(doc.IntoElement());
    }
    ASSERT_TRUE(doc.OutOfElement());
    EXPECT_EQ(std::string(doc.GetElementText()), "deep");
    CXmlDocumentInspector in(doc);
    EXPECT_EQ(in.Rec(in.Main()).nLevel, 999);
    EXPECT_EQ(in.CheckLinks(), "");
}

TEST(Parse, UnendedDeepNestingFlattensInOrder) {
    // Every element is left open: each one ends up a sibling of the next, in document order.
    std::string text;
    for (int i = 0; i < 2000; ++i)
        text += "<a><b/>";
    CXmlDocument doc;
    EXPECT_FALSE(doc.SetDocText(text.c_str()));
    CXmlDocumentInspector in(doc);
    EXPECT_EQ(in.CheckLinks(), "");
    int n = 0;
    int prevOffset = -1;
    for (int c = in.Rec(0).nFirstChild; c; c = in.Rec(c).nNextSibling, ++n) {
        EXPECT_GT(in.Rec(c).nOffset, prevOffset);
        prevOffset = in.Rec(c).nOffset;
    }
    EXPECT_EQ(n, 4000);
}

// Field widths: values that do not fit narrow bit fields must come back whole.
TEST(Parse, LongTagsAndDeepLevelsKeepTheirFields) {
    std::string big(4194304 + 10, 'v');
    std::string text = "<r><a k=\"" + big + "\">t</a   " + std::string(1100, ' ') + "><b/></r>";
    CXmlDocument doc;
    ASSERT_TRUE(doc.SetDocText(text.c_str()));
    ASSERT_TRUE(doc.FindElement("r"));
    ASSERT_TRUE(doc.IntoElement());
    ASSERT_TRUE(doc.FindElement("a"));
    EXPECT_EQ(doc.GetAttribute("k").GetLength(), static_cast<int>(big.size()));
    EXPECT_EQ(std::string(doc.GetElementText()), "t");
    ASSERT_TRUE(doc.FindElement("b"));
    CXmlDocumentInspector in(doc);
    EXPECT_EQ(in.Rec(in.Main()).nOffset, static_cast<int>(text.size()) - 8);

    const int depth = 70000;
    std::string deep;
    for (int i = 0; i < depth; ++i)
        deep += "<d>";
    deep += "<leaf/>";
    for (int i = 0; i < depth; ++i)
        deep += "</d>";
    ASSERT_TRUE(doc.SetDocText(deep.c_str()));
    CXmlDocumentInspector in2(doc);
    const XmlElemRecord& leaf = in2.Rec(depth + 1);
    EXPECT_EQ(in2.Name(depth + 1), "leaf");
    EXPECT_EQ(leaf.nLevel, depth);
    EXPECT_EQ(leaf.nFlags & ~XREC_FIRST_CHILD, 0);
}

TEST(Parse, RecordArrayGrowsBySegments) {
    std::string text = "<r>";
    for (int i = 0; i < 140000; ++i)
        text += "<i/>";
    text += "</r>";
    CXmlDocument doc;
    ASSERT_TRUE(doc.SetDocText(text.c_str()));
    ASSERT_TRUE(doc.FindElement("r"));
    ASSERT_TRUE(doc.IntoElement());
    int n = 0;
    while (doc.FindElement("i"))
        ++n;
    EXPECT_EQ(n, 140000);
    CXmlDocumentInspector in(doc);
    EXPECT_EQ(in.Rec(140001).nOffset, 3 + 4 * 139999);
}

TEST(Parse, LogStopsGrowingAtItsLimit) {
    std::string text = "<r>";
    for (int i = 0; i < 500; ++i)
        text += "</x>";
    text += "</r>";
    CXmlDocument doc;
    EXPECT_FALSE(doc.SetDocText(text.c_str()));
    int len = doc.GetResultLog().GetLength();
    EXPECT_GE(len, 1000);
    EXPECT_LT(len, 1100);
}

} // namespace
