#include "tests/xml/XmlInspector.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

struct ParseCase {
    std::string name; // for the test's name
    std::string text;
    bool wellFormed;
    std::string tree; // CXmlDocumentInspector::Dump
    std::string log;
};

std::ostream& operator<<(std::ostream& os, const ParseCase& c) {
    return os << c.name;
}

std::vector<ParseCase> SmallCases() {
    return {
        {"Empty", "", false, "", ""},
        {"OneEmptyElement", "<a/>", true, "a[0,4,4,0]", ""},
        {"DeclarationLeavesNoRecord", "<?xml version=\"1.0\"?><a/>", true, "a[21,4,4,0]", ""},
        {"TextOutsideTheRoot", " <a>x</a> trailing", true, "a[1,8,3,4]", ""},
        {"Siblings", "<a><b/><b/></a>", true, "a[0,15,3,4](b[3,4,4,0] b[7,4,4,0])", ""},
        {"UnendedChild", "<a><b></a>", false, "!a[0,10,3,4](b[3,3,3,0]N)",
         "<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"7\"/>"},
        {"UnendedRootChildMovesUp", "<a><b><c/></b>", false, "!a[0,3,3,0]N b[3,11,3,4](c[6,4,4,0])",
         "<unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"14\"/><root_has_sibling/>"},
        {"TwoUnendedInnermostFirst", "<a><b><c></a>", false, "!a[0,13,3,4](b[3,3,3,0]N c[6,3,3,0]N)",
         "<unended_start_tag tagname=\"c\" offset=\"6\" offset2=\"10\"/>"
         "<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"10\"/>"},
        {"UnendedChildrenFollowIt", "<r><a><b/><c>t</c></r>", false,
         "!r[0,22,3,4](a[3,3,3,0]N b[6,4,4,0] c[10,8,3,4])",
         "<unended_start_tag tagname=\"a\" offset=\"3\" offset2=\"19\"/>"},
        {"LoneEndTag", "<a></b></a>", false, "!a[0,11,3,4]D", "<lone_end_tag tagname=\"b\" offset=\"3\"/>"},
        {"BadDataMovesUpFromUnended", "<a><b></c></a>", false, "!a[0,14,3,4]D(b[3,3,3,0]N)",
         "<lone_end_tag tagname=\"c\" offset=\"6\"/><unended_start_tag tagname=\"b\" offset=\"3\" "
         "offset2=\"11\"/>"},
        {"EndTagsCompareCase", "<a></A>", false, "!a[0,3,3,0]N",
         "<lone_end_tag tagname=\"A\" offset=\"3\"/><unended_start_tag tagname=\"a\" offset=\"0\" "
         "offset2=\"7\"/>"},
        {"EndTagShorterThanName", "<ab></a>", false, "!ab[0,4,4,0]N",
         "<lone_end_tag tagname=\"a\" offset=\"4\"/><unended_start_tag tagname=\"ab\" offset=\"0\" "
         "offset2=\"8\"/>"},
        {"EndTagLongerThanName", "<a></ab>", false, "!a[0,3,3,0]N",
         "<lone_end_tag tagname=\"ab\" offset=\"3\"/><unended_start_tag tagname=\"a\" offset=\"0\" "
         "offset2=\"8\"/>"},
        // A start tag's name runs to a blank, "/" or ">", and an end tag closes it when it matches
        // up to an "=".
        {"NameWithEqualsSign", "<a=b></a>", true, "a=b[0,9,5,4]", ""},
        {"EmptyEndTagName", "<a></>", false, "!a[0,3,3,0]N",
         "<lone_end_tag tagname=\"\" offset=\"3\"/><unended_start_tag tagname=\"a\" offset=\"0\" "
         "offset2=\"6\"/>"},
        {"QuotedGreaterThan", "<a b='x>y'>text</a>", true, "a[0,19,11,4]", ""},
        {"DoubleQuotedGreaterThan", "<a b=\"x>y\" c='>'>t</a>", true, "a[0,22,17,4]", ""},
        {"QuoteAfterBlanks", "<a b= 'x>y'>t</a>", true, "a[0,17,12,4]", ""},
        {"QuoteNotAfterEqualsIsNotTracked", "<a 'x>y'>t</a>", true, "a[0,14,6,4]", ""},
        {"QuoteAfterSecondEqualsIsNotTracked", "<a b=='x>y'>t</a>", true, "a[0,17,9,4]", ""},
        {"UnquotedValueEndingInSlash", "<a href=x/>", false, "!a[0,11,11,0]N",
         "<unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"11\"/>"},
        {"SlashOpeningAValue", "<a b=/>", false, "!a[0,7,7,0]N",
         "<unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"7\"/>"},
        {"SlashAfterBlankIsEmpty", "<a b= />", true, "a[0,8,8,0]", ""},
        {"SlashAfterQuoteInValueIsEmpty", "<a b=x'/>", true, "a[0,9,9,0]", ""},
        {"QuotedThenSlash", "<a b=\"c\"/>", true, "a[0,10,10,0]", ""},
        {"BlankThenSlash", "<a />", true, "a[0,5,5,0]", ""},
        {"CommentSyntax", "<!-x>", false, "!", "<comment_tag_syntax offset=\"0\"/><no_root_element/>"},
        {"ExclamationSyntax", "<!x>", false, "!", "<exclamation_tag_syntax offset=\"0\"/><no_root_element/>"},
        {"FirstTagSyntax", "<1>", false, "!", "<first_tag_syntax offset=\"0\"/><no_root_element/>"},
        {"FirstTagSyntaxEndsBeforeLessThan", "<<a/>", false, "!a[1,4,4,0]",
         "<first_tag_syntax offset=\"0\"/>"},
        {"CdataSyntax", "<![x]><a/>", false, "!a[6,4,4,0]", "<cdata_section_syntax offset=\"0\"/>"},
        {"SyntaxErrorInsideAnElement", "<a><!x></a>", false, "!a[0,11,3,4]D",
         "<exclamation_tag_syntax offset=\"3\"/>"},
        {"UnendedAtTheEnd", "<a>", false, "!a[0,3,3,0]N",
         "<unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"3\"/>"},
        {"UnterminatedStartTag", "<a", false, "!",
         "<unterminated_tag_syntax type=\"start_tag\" offset=\"0\"/><no_root_element/>"},
        {"UnterminatedQuotedValue", "<a b='>", false, "!",
         "<unterminated_tag_syntax type=\"start_tag\" offset=\"0\"/><no_root_element/>"},
        {"UnterminatedEndTag", "<a></a", false, "!a[0,3,3,0]N",
         "<unterminated_tag_syntax type=\"end_tag\" offset=\"3\"/><unended_start_tag tagname=\"a\" "
         "offset=\"0\" offset2=\"6\"/>"},
        {"UnterminatedLessThan", "<a/><", false, "!a[0,4,4,0]",
         "<unterminated_tag_syntax type=\"tag\" offset=\"4\"/>"},
        {"UnterminatedAfterSyntaxError", "<a/><1", false, "!a[0,4,4,0]",
         "<first_tag_syntax offset=\"4\"/><unterminated_tag_syntax type=\"tag\" offset=\"4\"/>"},
        {"UnterminatedProcessingInstruction", "<a/><?pi", false, "!a[0,4,4,0]",
         "<unterminated_tag_syntax type=\"processing_instruction\" offset=\"4\"/>"},
        {"TerminatorMayNotOverlapTheOpening", "<?><a/>", false, "!",
         "<unterminated_tag_syntax type=\"processing_instruction\" offset=\"0\"/><no_root_element/>"},
        {"CommentOfOneDash", "<!---><a/>", false, "!",
         "<unterminated_tag_syntax type=\"comment\" offset=\"0\"/><no_root_element/>"},
        {"EmptyComment", "<!----><a/>", true, "a[7,4,4,0]", ""},
        {"UnterminatedComment", "<a><!-- x", false, "!a[0,3,3,0]N",
         "<unterminated_tag_syntax type=\"comment\" offset=\"3\"/><unended_start_tag tagname=\"a\" "
         "offset=\"0\" offset2=\"9\"/>"},
        {"UnterminatedCdata", "<a><![CDATA[x", false, "!a[0,3,3,0]N",
         "<unterminated_tag_syntax type=\"cdata_section\" offset=\"3\"/><unended_start_tag tagname=\"a\" "
         "offset=\"0\" offset2=\"13\"/>"},
        {"UnterminatedDoctype", "<!DOCTYPE a", false, "!",
         "<unterminated_tag_syntax type=\"document_type\" offset=\"0\"/><no_root_element/>"},
        {"RootHasSibling", "<a/><b/>", false, "a[0,4,4,0] b[4,4,4,0]", "<root_has_sibling/>"},
        {"TextOnly", "text only", false, "", "<no_root_element/>"},
        {"WhitespaceOnly", " \r\n\t", false, "", "<no_root_element/>"},
        {"DoctypeWithSubset", "<!DOCTYPE x [<!ELEMENT a (#PCDATA)> <!ATTLIST a b CDATA 'q>'>]><a/>", true,
         "a[63,4,4,0]", ""},
        // A tag inside the internal subset turns the declaration into a syntax error up to its ">".
        {"StrayTagInDoctype", "<!DOCTYPE x [<b>]><a/>", false, "!a[18,4,4,0]",
         "<doctype_tag_syntax offset=\"0\"/>"},
        {"CommentInDoctype", "<!DOCTYPE x [<!-- c -->]><a/>", false, "!a[25,4,4,0]",
         "<doctype_tag_syntax offset=\"0\"/>"},
        {"MarkupInsideContent", "<a><!-- <b> --><![CDATA[<c>]]><?pi <d>?></a>", true, "a[0,44,3,4]", ""},
        {"BlanksInTags", "<a x='1'  ></a   >", true, "a[0,18,11,7]", ""},
        {"ExtraEndTagAfterClose", "<p><q></p></p>", false, "!p[0,10,3,4](q[3,3,3,0]N)",
         "<unended_start_tag tagname=\"q\" offset=\"3\" offset2=\"7\"/><lone_end_tag tagname=\"p\" "
         "offset=\"10\"/>"},
        {"GreaterThanInText", "<a>x>y</a>", true, "a[0,10,3,4]", ""},
        // Double-byte names and values, with trail bytes equal to "\\" and "|".
        {"GbkNames", "<\xd6\xd0 \xc3\xfb='\xd5\x5c'>\xce\xc4\x7c</\xd6\xd0>", true, "\xd6\xd0[0,20,12,5]",
         ""},
    };
}

// Deep cases, built together with their expected index.
std::vector<ParseCase> DeepCases() {
    const int depth = 1000;
    std::vector<ParseCase> cases;
    auto open = [](int i) { return "<e" + std::to_string(i) + ">"; };
    auto close = [](int i) { return "</e" + std::to_string(i) + ">"; };
    auto offsetOf = [&](int i) {
        int offset = 0;
        for (int k = 0; k < i; ++k)
            offset += static_cast<int>(open(k).size());
        return offset;
    };

    // Well nested, text at the bottom.
    {
        std::string text;
        for (int i = 0; i < depth; ++i)
            text += open(i);
        text += "deep";
        std::vector<int> end(depth);
        for (int i = depth - 1; i >= 0; --i) {
            text += close(i);
            end[static_cast<size_t>(i)] = static_cast<int>(text.size());
        }
        std::string tree;
        for (int i = 0; i < depth; ++i) {
            tree += "e" + std::to_string(i) + "[" + std::to_string(offsetOf(i)) + "," +
                    std::to_string(end[static_cast<size_t>(i)] - offsetOf(i)) + "," +
                    std::to_string(open(i).size()) + "," + std::to_string(close(i).size()) + "]";
            if (i + 1 < depth)
                tree += "(";
        }
        tree += std::string(depth - 1, ')');
        cases.push_back({"ThousandLevels", text, true, tree, ""});
    }
    // No end tag at all: every element is closed as not ended, innermost first, and each one's
    // children follow it, so all of them end up at the top level in document order.
    {
        std::string text, tree, log;
        for (int i = 0; i < depth; ++i) {
            text += open(i);
            std::string len = std::to_string(open(i).size());
            tree += (i ? " e" : "!e") + std::to_string(i) + "[" + std::to_string(offsetOf(i)) + "," + len +
                    "," + len + ",0]N";
        }
        for (int i = depth - 1; i >= 0 && log.size() < 1000; --i)
            log += "<unended_start_tag tagname=\"e" + std::to_string(i) + "\" offset=\"" +
                   std::to_string(offsetOf(i)) + "\" offset2=\"" + std::to_string(text.size()) + "\"/>";
        cases.push_back({"ThousandLevelsUnended", text, false, tree, log});
    }
    // Only the outermost end tag: everything inside it is unended and moves up under it.
    {
        std::string text, inner, log;
        for (int i = 0; i < depth; ++i) {
            text += open(i);
            if (i) {
                std::string len = std::to_string(open(i).size());
                inner += (i > 1 ? " e" : "e") + std::to_string(i) + "[" + std::to_string(offsetOf(i)) + "," +
                         len + "," + len + ",0]N";
            }
        }
        int slash = static_cast<int>(text.size()) + 1;
        text += close(0);
        for (int i = depth - 1; i >= 1 && log.size() < 1000; --i)
            log += "<unended_start_tag tagname=\"e" + std::to_string(i) + "\" offset=\"" +
                   std::to_string(offsetOf(i)) + "\" offset2=\"" + std::to_string(slash) + "\"/>";
        std::string tree = "!e0[0," + std::to_string(text.size()) + ",4,5](" + inner + ")";
        cases.push_back({"ThousandLevelsWronglyNested", text, false, tree, log});
    }
    return cases;
}

std::vector<ParseCase> AllCases() {
    std::vector<ParseCase> all = SmallCases();
    for (ParseCase& c : DeepCases())
        all.push_back(std::move(c));
    return all;
}

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, RecordsLogAndForm) {
    const ParseCase& c = GetParam();
    CXmlDocument doc;
    EXPECT_EQ(doc.SetDocText(c.text.c_str()), c.wellFormed);
    CXmlDocumentInspector in(doc);
    EXPECT_EQ(in.Dump(), c.tree);
    EXPECT_EQ(std::string(doc.GetResultLog()), c.log);
    EXPECT_EQ(in.CheckLinks(), "");
    EXPECT_EQ(in.Rec(0).nLength, static_cast<int>(c.text.size()));
    // In a well-formed document every level is the depth below the root.
    if (c.wellFormed) {
        for (int i = 1; i < in.Count(); ++i) {
            int level = 0;
            for (int p = in.Rec(i).nParent; p; p = in.Rec(p).nParent)
                ++level;
            EXPECT_EQ(in.Rec(i).nLevel, level) << i;
        }
    }
    // A walk from the first FindElement on reaches every record once.
    int seen = 0;
    doc.ResetLevel();
    for (int steps = 0; steps < 100000; ++steps) {
        if (doc.FindElement(nullptr)) {
            ++seen;
            doc.IntoElement();
        } else if (!doc.OutOfElement()) {
            break;
        }
    }
    EXPECT_EQ(seen, in.Count() - 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, ParseTest, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<ParseCase>& info) { return info.param.name; });

// FindElement and IntoElement go all the way down and OutOfElement comes back.
TEST(Parse, ThousandLevelsNavigate) {
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
