#include "tests/xml/XmlInspector.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::string Text(const CXmlDocument& doc) {
    return std::string(doc.GetDocText());
}

// The user record writer's sequence, with a GBK name and values that need escaping.
TEST(EditGolden, UserRecordLayout) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.AddElement("userInfo"));
    EXPECT_EQ(Text(doc), "<userInfo/>\r\n");
    ASSERT_TRUE(doc.IntoElement());
    ASSERT_TRUE(doc.AddElement("userid", "12"));
    ASSERT_TRUE(doc.AddElement("username", "\xd5\xc5\xc8\xfd")); // GBK
    ASSERT_TRUE(doc.AddElement("password", "a<b&c>\"d'"));
    ASSERT_TRUE(doc.AddElement("client_mode", "0"));
    ASSERT_TRUE(doc.OutOfElement());
    EXPECT_EQ(Text(doc), "<userInfo>\r\n"
                         "<userid>12</userid>\r\n"
                         "<username>\xd5\xc5\xc8\xfd</username>\r\n"
                         "<password>a&lt;b&amp;c&gt;\"d'</password>\r\n"
                         "<client_mode>0</client_mode>\r\n"
                         "</userInfo>\r\n");
    // And it reads back.
    CXmlDocument back;
    ASSERT_TRUE(back.SetDocText(doc.GetDocText()));
    ASSERT_TRUE(back.FindElement("userInfo"));
    ASSERT_TRUE(back.IntoElement());
    ASSERT_TRUE(back.FindElement("password"));
    EXPECT_EQ(std::string(back.GetElementText()), "a<b&c>\"d'");
}

// The configuration writer's two paths: a new file, and an existing one changed in place.
TEST(EditGolden, ConfigLayout) {
    CXmlDocument doc;
    doc.SetDocText("<?xml version=\"1.0\" encoding=\"utf-8\" ?>");
    ASSERT_TRUE(doc.AddElement("Config"));
    ASSERT_TRUE(doc.AddAttribute("down_save", "D:\\\xcf\xc2\xd4\xd8\\")); // GBK "下载"
    EXPECT_EQ(
        Text(doc),
        "<?xml version=\"1.0\" encoding=\"utf-8\" ?><Config down_save=\"D:\\\xcf\xc2\xd4\xd8\\\"/>\r\n");
    ASSERT_TRUE(doc.SetAttribute("auto_start", "1"));
    ASSERT_TRUE(doc.SetAttribute("down_save", "E:\\x & y\\"));
    EXPECT_EQ(Text(doc), "<?xml version=\"1.0\" encoding=\"utf-8\" ?><Config down_save=\"E:\\x &amp; y\\\" "
                         "auto_start=\"1\"/>\r\n");

    CXmlDocument old;
    old.SetDocText("<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n<Config taskbar='0' >\r\n</Config>\r\n");
    ASSERT_TRUE(old.FindElement("Config"));
    ASSERT_TRUE(old.SetAttribute("taskbar", "1"));
    ASSERT_TRUE(old.SetAttribute("auto_start", 1));
    EXPECT_EQ(Text(old),
              "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n<Config taskbar=\"1\" auto_start=\"1\" "
              ">\r\n</Config>\r\n");
    EXPECT_EQ(std::string(old.GetAttribute("auto_start")), "1");
}

struct LayoutCase {
    const char* start;
    const char* path; // elements to walk into, "/" separated; the last one is the main element
    bool into;        // step into the last one before adding
    const char* name;
    const char* text;
    int flags;
    const char* expected;
};

const LayoutCase kLayouts[] = {
    {"<p/>", "p", true, "c", "", 0, "<p>\r\n<c/>\r\n</p>"},
    {"<p/>", "p", true, "c", "", XNODE_NO_LINEBREAK, "<p><c/></p>"},
    {"<p></p>", "p", true, "c", "x", 0, "<p>\r\n<c>x</c>\r\n</p>"},
    {"<p>text</p>", "p", true, "c", "", 0, "<p>text<c/>\r\n</p>"},
    {"<p>\r\n  <a/>\r\n  <b/>\r\n</p>", "p/a", false, "c", "", 0, "<p>\r\n  <a/>\r\n  <c/>\r\n<b/>\r\n</p>"},
    {"<p><a/> x</p>", "p/a", false, "c", "", 0, "<p><a/><c/>\r\n x</p>"},
    {"<r/>", "r", false, "s", "", XNODE_EMPTY_SPACE, "<r/><s />\r\n"},
    {"<r/>", "r", false, "s", "a]]>b", XNODE_CDATA, "<r/><s><![CDATA[a]]]]><![CDATA[>b]]></s>\r\n"},
    {"<r/>", "r", false, "s", "&amp; & x", XNODE_KEEP_REFS, "<r/><s>&amp; &amp; x</s>\r\n"},
    {"<p><a/><b/></p>", "p/b", false, "c", "", XNODE_INSERT_BEFORE, "<p><a/><c/>\r\n<b/></p>"},
    {"<p><a/></p>", "p/a", false, "c", "", XNODE_INSERT_BEFORE, "<p><c/>\r\n<a/></p>"},
    {"<p><a/></p>", "p", false, "c", "", XNODE_AS_CHILD, "<p><a/><c/>\r\n</p>"},
    {"<p>", "p", true, "c", "", 0, "<p>\r\n<c/>\r\n</p>"},
    {"<r/>", "r", false, "s", "", XNODE_UNENDED, "<r/><s>\r\n"},
};

class LayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(LayoutTest, AddElementLaysOut) {
    const LayoutCase& c = GetParam();
    CXmlDocument doc;
    doc.SetDocText(c.start);
    std::string path = c.path;
    size_t pos = 0;
    for (;;) {
        size_t slash = path.find('/', pos);
        std::string step = path.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
        ASSERT_TRUE(doc.FindElement(step.c_str())) << step;
        if (slash == std::string::npos)
            break;
        ASSERT_TRUE(doc.IntoElement());
        pos = slash + 1;
    }
    if (c.into) {
        ASSERT_TRUE(doc.IntoElement());
    }
    ASSERT_TRUE(doc.AddElement(c.name, c.text, c.flags));
    EXPECT_EQ(Text(doc), c.expected);
    CXmlDocumentInspector in(doc);
    EXPECT_EQ(in.CheckLinks(), "");
    EXPECT_EQ(in.Name((c.flags & XNODE_AS_CHILD) ? in.Child() : in.Main()), c.name);
    if (!(c.flags & XNODE_UNENDED)) {
        CXmlDocument again;
        again.SetDocText(doc.GetDocText());
        // The edited index matches a fresh parse (which, unlike the original, is well formed).
        std::string edited = in.Dump(true);
        if (!edited.empty() && edited[0] == '!')
            edited.erase(0, 1);
        EXPECT_EQ(CXmlDocumentInspector(again).Dump(true), edited);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, LayoutTest, ::testing::ValuesIn(kLayouts));

TEST(Edit, Refusals) {
    CXmlDocument doc;
    EXPECT_FALSE(doc.SetAttribute("a", "1")); // no main element
    EXPECT_FALSE(doc.AddElement("a", "x", XNODE_UNENDED));
    EXPECT_FALSE(doc.AddElement("a", nullptr, XNODE_AS_CHILD));
    EXPECT_FALSE(doc.AddElement(nullptr));
    EXPECT_EQ(Text(doc), "");
}

TEST(Edit, SetAttributeVariants) {
    struct Case {
        const char* start;
        const char* name;
        const char* value;
        const char* expected;
    } cases[] = {
        {"<a/>", "n", "v", "<a n=\"v\"/>"},
        {"<a b='1' >x</a>", "n", "v", "<a b='1' n=\"v\" >x</a>"},
        {"<a b='1'/>", "b", "<&>\"'", "<a b=\"&lt;&amp;&gt;&quot;&apos;\"/>"},
        {"<a b=1 c=2>x</a>", "b", "33", "<a b=\"33\" c=2>x</a>"},
        {"<option selected>x</option>", "selected", "yes", "<option selected=\"yes\">x</option>"},
        {"<a bc='1'/>", "b", "2", "<a bc='1' b=\"2\"/>"},
        {"<a b=>x</a>", "b", "2", "<a b=\"2\">x</a>"},
    };
    for (const Case& c : cases) {
        CXmlDocument doc;
        doc.SetDocText(c.start);
        ASSERT_TRUE(doc.FindElement(nullptr)) << c.start;
        ASSERT_TRUE(doc.SetAttribute(c.name, c.value)) << c.start;
        EXPECT_EQ(Text(doc), c.expected) << c.start;
        EXPECT_EQ(std::string(doc.GetAttribute(c.name)), c.value) << c.start;
        CXmlDocument again;
        again.SetDocText(doc.GetDocText());
        EXPECT_EQ(CXmlDocumentInspector(again).Dump(true), CXmlDocumentInspector(doc).Dump(true)) << c.start;
    }
}

// A quote left open inside a start tag must not carry an insertion past the tag's end.
TEST(Edit, SetAttributeStaysInsideAStrayQuote) {
    CXmlDocument doc;
    doc.SetDocText("<a 'q>x</a>");
    ASSERT_TRUE(doc.FindElement("a"));
    ASSERT_TRUE(doc.SetAttribute("n", "v"));
    EXPECT_EQ(Text(doc), "<a 'q n=\"v\">x</a>");
    EXPECT_EQ(std::string(doc.GetElementText()), "x");
    CXmlDocument again;
    again.SetDocText(doc.GetDocText());
    EXPECT_EQ(CXmlDocumentInspector(again).Dump(true), CXmlDocumentInspector(doc).Dump(true));
}

TEST(Edit, SetAttributeMovesChildrenAndFollowers) {
    CXmlDocument doc;
    doc.SetDocText("<r><a><b/><c>t</c></a><d/></r>");
    ASSERT_TRUE(doc.FindElement("r"));
    ASSERT_TRUE(doc.IntoElement());
    ASSERT_TRUE(doc.FindElement("a"));
    ASSERT_TRUE(doc.SetAttribute("k", "value"));
    CXmlDocument again;
    again.SetDocText(doc.GetDocText());
    EXPECT_EQ(CXmlDocumentInspector(again).Dump(true), CXmlDocumentInspector(doc).Dump(true));
    ASSERT_TRUE(doc.IntoElement());
    ASSERT_TRUE(doc.FindElement("c"));
    EXPECT_EQ(std::string(doc.GetElementText()), "t");
}

// After any sequence of edits, parsing the text again gives the same records.
TEST(EditProperty, RandomEditsMatchAReparse) {
    const char* names[] = {"a", "bb", "item", "x:y", "\xd6\xd0"};
    const char* values[] = {"",      "plain",        "a<b&c>d", "q\"u'o", "]]>", "\xd5\xc5 \xc8\xfd",
                            "&amp;", "line\r\nbreak"};
    const int flagSet[] = {0,
                           0,
                           0,
                           XNODE_NO_LINEBREAK,
                           XNODE_EMPTY_SPACE,
                           XNODE_CDATA,
                           XNODE_KEEP_REFS,
                           XNODE_INSERT_BEFORE,
                           XNODE_AS_CHILD};
    const char* seeds[] = {"", "<r/>", "<r>\r\n<a>t</a>\r\n</r>\r\n",
                           "<?xml version=\"1.0\"?>\r\n<r><a/><b></b></r>"};
    std::mt19937 rng(12345);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    for (int round = 0; round < 400; ++round) {
        CXmlDocument doc;
        doc.SetDocText(seeds[round % 4]);
        std::string trace;
        for (int step = 0; step < 40; ++step) {
            switch (pick(7)) {
            case 0:
            case 1: {
                const char* n = names[pick(5)];
                const char* v = values[pick(8)];
                int f = flagSet[pick(9)];
                doc.AddElement(n, v, f);
                trace += std::string("add ") + n + " " + std::to_string(f) + "; ";
                break;
            }
            case 2: {
                const char* n = names[pick(5)];
                doc.SetAttribute(n, values[pick(8)]);
                trace += std::string("attr ") + n + "; ";
                break;
            }
            case 3:
                doc.IntoElement();
                trace += "into; ";
                break;
            case 4:
                doc.OutOfElement();
                trace += "out; ";
                break;
            case 5:
                doc.FindElement(nullptr);
                trace += "find; ";
                break;
            default:
                doc.ResetLevel();
                trace += "reset; ";
                break;
            }
        }
        CXmlDocument again;
        again.SetDocText(doc.GetDocText());
        CXmlDocumentInspector edited(doc), parsed(again);
        ASSERT_EQ(parsed.Dump(true), edited.Dump(true)) << trace << "\n" << Text(doc);
        ASSERT_EQ(edited.CheckLinks(), "") << trace;
        ASSERT_EQ(edited.Rec(0).nLength, doc.GetDocText().GetLength()) << trace;
    }
}

TEST(Edit, MakeCData) {
    EXPECT_EQ(std::string(CXmlDocument::MakeCData("a]]>b")), "<![CDATA[a]]]]><![CDATA[>b]]>");
}

} // namespace
