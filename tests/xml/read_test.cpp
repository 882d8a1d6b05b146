#include "tests/xml/XmlInspector.h"
#include "xml/XmlScanner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string S(const CString& s) {
    return std::string(s);
}

TEST(Navigate, WalkAndPositions) {
    CXmlDocument doc;
    EXPECT_FALSE(doc.FindElement(nullptr)); // a new document
    EXPECT_FALSE(doc.SetDocText(""));
    EXPECT_FALSE(doc.FindElement("a"));
    ASSERT_TRUE(doc.SetDocText("<a><b/><b/><bb/></a>"));
    EXPECT_FALSE(doc.FindElement("A"));
    EXPECT_FALSE(doc.FindElement("/a"));
    EXPECT_FALSE(doc.FindElement("//a"));
    EXPECT_FALSE(doc.OutOfElement());
    ASSERT_TRUE(doc.FindElement("a"));
    ASSERT_TRUE(doc.IntoElement());
    CXmlDocumentInspector in(doc);
    ASSERT_TRUE(doc.FindElement("b"));
    int first = in.Main();
    ASSERT_TRUE(doc.FindElement("b"));
    int second = in.Main();
    EXPECT_FALSE(doc.FindElement("b"));
    EXPECT_EQ(in.Main(), second);
    doc.ResetLevel();
    ASSERT_TRUE(doc.FindElement("bb"));
    doc.ResetLevel();
    ASSERT_TRUE(doc.FindElement("b"));
    EXPECT_EQ(in.Main(), first);
    ASSERT_TRUE(doc.FindElement("b[2]")); // only the first step's name counts
    ASSERT_TRUE(doc.OutOfElement());
    EXPECT_EQ(in.Name(in.Main()), "a");
    ASSERT_TRUE(doc.IntoElement());
    EXPECT_EQ(in.Main(), second);
    ASSERT_TRUE(doc.FindElement(nullptr));
    EXPECT_EQ(in.Name(in.Main()), "bb");
}

TEST(Navigate, PathForms) {
    struct Case {
        const char* path;
        bool found;
    } cases[] = {
        {"item", true},          {"item[2]", true},     {"item/x", true},   {"item[@id]", true},
        {"item[@id='3']", true}, {"item[@id=3]", true}, {"item/@id", true}, {"item[0]", false},
        {"item[", false},        {"item]", false},      {"/item", false},   {"item//x", false},
        {"item[@id='3]", false}, {"ite", false},        {"items", false},
    };
    for (const Case& c : cases) {
        CXmlDocument doc;
        doc.SetDocText("<item id='3'/>");
        EXPECT_EQ(doc.FindElement(c.path), c.found) << c.path;
    }
    CXmlDocument two;
    EXPECT_FALSE(two.SetDocText("<x/><y/>"));
    EXPECT_TRUE(two.FindElement("x"));

    // Double-byte names whose second byte is "@", "[" or "]" are names, not path syntax.
    for (const char* name : {"\x81\x40", "\x81\x5b", "\xd6\x5d",
                             "a\x81\x40"
                             "b"}) {
        CXmlDocument gbk;
        std::string text = "<r><x/><" + std::string(name) + " k='1'/></r>";
        ASSERT_TRUE(gbk.SetDocText(text.c_str())) << name;
        ASSERT_TRUE(gbk.FindElement("r"));
        ASSERT_TRUE(gbk.IntoElement());
        EXPECT_TRUE(gbk.FindElement(name)) << name;
        EXPECT_EQ(S(gbk.GetAttribute("k")), "1") << name;
        gbk.ResetLevel();
        EXPECT_TRUE(gbk.FindElement((std::string(name) + "[@k='1']").c_str())) << name;
    }
}

TEST(Read, Attributes) {
    struct Case {
        const char* text;
        const char* name;
        const char* value;
    } cases[] = {
        {"<a b='x &amp; y'/>", "b", "x & y"},
        {"<a b='x &amp; y'/>", "c", ""},
        {"<a b='1' c=2>", "b", "1"},
        {"<a b='1' c=2>", "c", "2"},
        {"<a b = '1'>", "b", "1"},
        {"<a b c='3'>", "b", "b"},
        {"<a b c='3'>", "c", "3"},
        {"<a bc='1'>", "b", ""},
        {"<a b=\"it's\" c='say \"hi\"'/>", "c", "say \"hi\""},
        {"<a b='>'>", "b", ">"},
        {"<a>x</a>", "a", ""},
        {"<a b='\xd5\x5c'/>", "b", "\xd5\x5c"},
    };
    for (const Case& c : cases) {
        CXmlDocument doc;
        doc.SetDocText(c.text);
        ASSERT_TRUE(doc.FindElement(nullptr)) << c.text;
        EXPECT_EQ(S(doc.GetAttribute(c.name)), c.value) << c.text << " " << c.name;
    }
    CXmlDocument none;
    EXPECT_EQ(S(none.GetAttribute("b")), "");
}

TEST(Read, ElementTextAndRawContent) {
    struct Case {
        const char* text;
        const char* data;
        const char* raw;
    } cases[] = {
        {"<a>x &lt; y</a>", "x < y", "x &lt; y"},
        {"<a>1<![CDATA[<2>]]>3</a>", "1<2>3", "1<![CDATA[<2>]]>3"},
        {"<a>x<b/>y</a>", "", "x<b/>y"},
        {"<a>x<b>&amp;</b></a>", "", "x<b>&amp;</b>"},
        {"<a/>", "", ""},
        {"<a></a>", "", ""},
        {"<a> spaced </a>", " spaced ", " spaced "},
        {"<a>t<!-- c -->u<?p?>v</a>", "tuv", "t<!-- c -->u<?p?>v"},
        {"<a><![CDATA[]]></a>", "", "<![CDATA[]]>"},
        {"<a><![Cx]]></a>", "", "<![Cx]]>"},
    };
    for (const Case& c : cases) {
        CXmlDocument doc;
        doc.SetDocText(c.text);
        ASSERT_TRUE(doc.FindElement("a")) << c.text;
        EXPECT_EQ(S(doc.GetElementText()), c.data) << c.text;
        EXPECT_EQ(S(doc.GetRawContent()), c.raw) << c.text;
    }
}

TEST(Read, References) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"&#65;", "A"},
        {"&#x41;", "A"},
        {"&#X41;", "A"},
        {"&#0;", "&#0;"},
        {"&unknown;", "&unknown;"},
        {"& b", "& b"},
        {"&abcdefghij;", "&abcdefghij;"},
        {"&lt;&gt;&amp;&quot;&apos;", "<>&\"'"},
        {"&AMP;", "&"},
        {"&eacute;", "\xa8\xa6"},                  // GBK has é
        {"&oslash;&Oslash;&OSLASH;", "\xa8\xb8?"}, // replaced below
        {"&Delta;&delta;", "\xa6\xa4\xa6\xc4"},
        {"&#x4E2D;&#20013;", "\xd6\xd0\xd6\xd0"},
        {"&#x1F600;", "&#x1F600;"}, // GBK has no such character
        {"&#99999999;", "&#99999999;"},
        {"&#xFFFFFFFFF;", "&#xFFFFFFFFF;"},
        {"&copy; &nbsp;", "&copy; &nbsp;"},
        {"a&amp;", "a&"},
        {"&amp", "&amp"},
    };
    for (const Case& c : cases) {
        std::string in = c.in;
        std::string expect = c.out;
        if (in == "&oslash;&Oslash;&OSLASH;") {
            // 248 and 216 are not in GBK: both stay as written, and the all-capitals form too.
            expect = in;
        }
        EXPECT_EQ(S(CXmlDocument::UnescapeText(c.in, -1, 0)), expect) << c.in;
    }
    EXPECT_EQ(S(CXmlDocument::UnescapeText("  a \t\r\n b  ", -1, XDOC_TRIM_WHITESPACE)), "a \t\r\n b");
    EXPECT_EQ(S(CXmlDocument::UnescapeText("  a \t\r\n b  ", -1, XDOC_COLLAPSE_WHITESPACE)), "a b");
    EXPECT_EQ(S(CXmlDocument::UnescapeText("&amp;xyz", 5, 0)), "&");
}

TEST(Read, Escape) {
    EXPECT_EQ(S(CXmlDocument::EscapeText("a<b & c>d \"q\" 'a'", 0)), "a&lt;b &amp; c&gt;d \"q\" 'a'");
    EXPECT_EQ(S(CXmlDocument::EscapeText("\"'", XNODE_ESCAPE_QUOTES)), "&quot;&apos;");
    EXPECT_EQ(S(CXmlDocument::EscapeText("&amp; &#233; & x &a", XNODE_KEEP_REFS)),
              "&amp; &#233; &amp; x &amp;a");
    std::string amps(1000, '&'), expect;
    for (int i = 0; i < 1000; ++i)
        expect += "&amp;";
    EXPECT_EQ(S(CXmlDocument::EscapeText(amps.c_str(), 0)), expect);
    // A GBK trail byte equal to ">" is impossible, but one equal to "\\" or "|" is kept whole.
    EXPECT_EQ(S(CXmlDocument::EscapeText("\xd5\x5c<", 0)), "\xd5\x5c&lt;");
}

} // namespace

namespace {

// Every reading and editing operation stays inside the text whatever it is given: each prefix of
// a document that uses every kind of markup (so every way of being cut short), and texts with a
// lone lead byte or a stray zero in each place. Run under the address sanitizer this catches any
// read or write outside the text.
TEST(Safety, TruncatedAndStrayBytes) {
    const std::string sample =
        "<?xml version=\"1.0\" encoding=\"GBK\"?>\r\n<!DOCTYPE r [<!ELEMENT r ANY><!ATTLIST r a CDATA 'x>'>]>"
        "<r a='1' b=\"\xd6\xd0\" c=d e>\r\n<!-- note -->\r\n<i k=\"&lt;&#x4E2D;&eacute;\"/>\r\n"
        "<t>x &amp; y<![CDATA[<raw>]]>&#65;\xce\xc4</t>\r\n<?pi data?>\r\n<u a=b/>\r\n</r>\r\n";
    auto exercise = [](const std::string& text) {
        CXmlDocument doc;
        doc.SetDocText(text.c_str());
        int steps = 0;
        doc.ResetLevel();
        while (++steps < 200) {
            if (doc.FindElement(nullptr)) {
                for (const char* a : {"a", "b", "c", "e", "k", "zz"})
                    doc.GetAttribute(a);
                doc.GetElementText();
                doc.GetRawContent();
                doc.IntoElement();
            } else if (!doc.OutOfElement()) {
                break;
            }
        }
        doc.ResetLevel();
        if (doc.FindElement(nullptr)) {
            doc.SetAttribute("a", "v");
            doc.IntoElement();
            doc.AddElement("n", "t");
            doc.AddElement("m", nullptr, XNODE_REPLACE_CONTENT);
        }
        XmlSniffDeclaredEncoding(text.c_str());
        CXmlDocument::UnescapeText(text.data(), static_cast<int>(text.size()), XDOC_COLLAPSE_WHITESPACE);
    };
    for (size_t n = 0; n <= sample.size(); ++n) {
        std::string prefix = sample.substr(0, n);
        exercise(prefix);
        exercise(prefix + "\x81");
        // UnescapeText with a length that cuts the text anywhere, over a buffer of exactly that size.
        std::vector<char> exact(prefix.begin(), prefix.end());
        CXmlDocument::UnescapeText(exact.data(), static_cast<int>(exact.size()), 0);
    }
    for (size_t at = 0; at < sample.size(); ++at) {
        std::string zero = sample;
        zero[at] = '\0';
        exercise(zero); // the text ends there
        std::string lead = sample;
        lead[at] = '\x81';
        exercise(lead);
    }
}

} // namespace
