#include "tests/xml/XmlInspector.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

std::string Text(const CXmlDocument& doc) {
    return std::string(doc.GetDocText());
}

// The user record writer's sequence: a new document, "userInfo", into it, one element per member
// that is set, then "client_mode", and out again.
TEST(EditGolden, UserRecordLayout) {
    const std::pair<const char*, const char*> members[] = {
        {"userid", "12"},
        {"username", "MTIzNDU2Nzg5Ojo"}, // the user name's Base64 form
        {"password", "a<b&c>\"d'"},
        {"email", ""}, // not set: no element
        {"photo", "http://store.example/u/12.jpg?s=1&t=2"},
        {"attention_count", "3"},
        {"fans_count", ""},
        {"comment_count", "0"},
        {"vip", "1"},
        {"usertype", "2"},
        {"ip", ""},
        {"district", "\xb1\xb1\xbe\xa9"}, // GBK
        {"lastlogintime", "2012-06-26 10:00:00"},
        {"online", "1"},
        {"rememberpassword", "1"},
        {"autologin", ""},
        {"money", "9.50"},
    };
    CXmlDocument doc;
    ASSERT_TRUE(doc.AddElement("userInfo", nullptr, 0));
    EXPECT_EQ(Text(doc), "<userInfo/>\r\n");
    ASSERT_TRUE(doc.IntoElement());
    for (const auto& m : members)
        if (*m.second) {
            ASSERT_TRUE(doc.AddElement(m.first, m.second, 0));
        }
    ASSERT_TRUE(doc.AddElement("client_mode", "0", 0));
    ASSERT_TRUE(doc.OutOfElement());
    EXPECT_EQ(Text(doc), "<userInfo>\r\n"
                         "<userid>12</userid>\r\n"
                         "<username>MTIzNDU2Nzg5Ojo</username>\r\n"
                         "<password>a&lt;b&amp;c&gt;\"d'</password>\r\n"
                         "<photo>http://store.example/u/12.jpg?s=1&amp;t=2</photo>\r\n"
                         "<attention_count>3</attention_count>\r\n"
                         "<comment_count>0</comment_count>\r\n"
                         "<vip>1</vip>\r\n"
                         "<usertype>2</usertype>\r\n"
                         "<district>\xb1\xb1\xbe\xa9</district>\r\n"
                         "<lastlogintime>2012-06-26 10:00:00</lastlogintime>\r\n"
                         "<online>1</online>\r\n"
                         "<rememberpassword>1</rememberpassword>\r\n"
                         "<money>9.50</money>\r\n"
                         "<client_mode>0</client_mode>\r\n"
                         "</userInfo>\r\n");

    // The reader's walk gets every value back.
    CXmlDocument back;
    ASSERT_TRUE(back.SetDocText(doc.GetDocText()));
    back.ResetLevel();
    ASSERT_TRUE(back.FindElement("userInfo"));
    ASSERT_TRUE(back.IntoElement());
    for (const auto& m : members)
        if (*m.second) {
            ASSERT_TRUE(back.FindElement(m.first)) << m.first;
            EXPECT_EQ(std::string(back.GetElementText()), m.second);
        }
    ASSERT_TRUE(back.FindElement("client_mode"));
    EXPECT_EQ(std::string(back.GetElementText()), "0");

    // A cleared record: only the root and client_mode.
    CXmlDocument cleared;
    cleared.AddElement("userInfo", nullptr, 0);
    cleared.IntoElement();
    cleared.AddElement("client_mode", "1", 0);
    cleared.OutOfElement();
    EXPECT_EQ(Text(cleared), "<userInfo>\r\n<client_mode>1</client_mode>\r\n</userInfo>\r\n");
}

// The configuration writer's two paths, down to the bytes of the file: a new config.xml, and an
// existing one (written by another tool) changed in place.
TEST(EditGolden, ConfigLayout) {
    char tmpl[] = "/tmp/xmlcfgXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    auto win = [](std::string p) {
        for (char& c : p)
            if (c == '/')
                c = '\\';
        return p;
    };
    auto bytes = [](const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    };

    // New file: declaration, "Config" with no text, one attribute, saved as UTF-8.
    const char* folder = "D:\\\xcf\xc2\xd4\xd8\\"; // GBK "下载"
    CXmlDocument doc;
    doc.SetDocText("<?xml version=\"1.0\" encoding=\"utf-8\" ?>");
    ASSERT_TRUE(doc.AddElement("Config", nullptr, 0));
    ASSERT_TRUE(doc.AddAttribute("down_save", folder));
    EXPECT_EQ(
        Text(doc),
        "<?xml version=\"1.0\" encoding=\"utf-8\" ?><Config down_save=\"D:\\\xcf\xc2\xd4\xd8\\\"/>\r\n");
    ASSERT_TRUE(doc.Save(win(dir + "/config.xml").c_str()));
    EXPECT_EQ(bytes(dir + "/config.xml"), "<?xml version=\"1.0\" encoding=\"utf-8\" ?><Config "
                                          "down_save=\"D:\\\xe4\xb8\x8b\xe8\xbd\xbd\\\"/>\r\n");

    // Read back and changed: a second attribute appended, the first replaced in place.
    CXmlDocument cfg;
    ASSERT_TRUE(cfg.Load(win(dir + "/config.xml").c_str()));
    ASSERT_TRUE(cfg.FindElement("Config"));
    EXPECT_EQ(std::string(cfg.GetAttribute("down_save")), folder);
    ASSERT_TRUE(cfg.SetAttribute("auto_start", "1", 0));
    ASSERT_TRUE(cfg.SetAttribute("down_save", "E:\\x & y\\", 0));
    ASSERT_TRUE(cfg.SetAttribute("taskbar", "0", 0));
    ASSERT_TRUE(cfg.Save(win(dir + "/config.xml").c_str()));
    EXPECT_EQ(bytes(dir + "/config.xml"),
              "<?xml version=\"1.0\" encoding=\"utf-8\" ?><Config down_save=\"E:\\x "
              "&amp; y\\\" auto_start=\"1\" taskbar=\"0\"/>\r\n");

    // A file laid out by hand, with single quotes and a blank before ">".
    {
        std::ofstream f(dir + "/hand.xml", std::ios::binary);
        f << "\xef\xbb\xbf<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n<Config taskbar='0' "
             ">\r\n</Config>\r\n";
    }
    CXmlDocument old;
    ASSERT_TRUE(old.Load(win(dir + "/hand.xml").c_str()));
    ASSERT_TRUE(old.FindElement("Config"));
    ASSERT_TRUE(old.SetAttribute("taskbar", "1", 0));
    ASSERT_TRUE(old.SetAttribute("auto_start", 1));
    ASSERT_TRUE(old.Save(win(dir + "/hand.xml").c_str()));
    EXPECT_EQ(bytes(dir + "/hand.xml"), "\xef\xbb\xbf<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n<Config "
                                        "taskbar=\"1\" auto_start=\"1\" >\r\n</Config>\r\n");
    std::system(("rm -rf '" + dir + "'").c_str());
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
    {"<p//>", "p", true, "c", "", 0, "<p>\r\n<c/>\r\n</p>"},
    {"<p k='1' / />", "p", true, "c", "", 0, "<p k='1' / >\r\n<c/>\r\n</p>"},
    {"<p \x81//>", "p", true, "c", "", 0, "<p \x81/>\r\n<c/>\r\n</p>"},
    {"<p><a/><b>t</b></p>", "p", true, "c", "x", XNODE_REPLACE_CONTENT, "<p><c>x</c>\r\n</p>"},
    {"<p>\r\n<a>\r\n<b/>\r\n</a>\r\n</p>", "p/a", false, "c", "", XNODE_REPLACE_CONTENT, "<p><c/>\r\n</p>"},
    {"<p><a/><b/></p>", "p", false, "c", "", XNODE_REPLACE_CONTENT | XNODE_AS_CHILD, "<p><c/>\r\n</p>"},
    {"<p/>", "p", true, "c", "", XNODE_REPLACE_CONTENT, "<p>\r\n<c/>\r\n</p>"},
    {"<p></p>", "p", true, "c", "", XNODE_REPLACE_CONTENT, "<p>\r\n<c/>\r\n</p>"},
    {"<?xml version=\"1.0\"?>\r\n<r><a/></r>", "r", false, "c", "", XNODE_REPLACE_CONTENT, "<c/>\r\n"},
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

// Replacing a content frees the records of every element in it; they are never handed out again.
TEST(Edit, ReplacedElementsGoToTheFreeList) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.SetDocText("<r><a><b/><c/></a><d/></r>"));
    ASSERT_TRUE(doc.FindElement("r"));
    ASSERT_TRUE(doc.IntoElement());
    ASSERT_TRUE(doc.AddElement("n", "1", XNODE_REPLACE_CONTENT));
    ASSERT_TRUE(doc.AddElement("m", "2"));
    EXPECT_EQ(Text(doc), "<r><n>1</n>\r\n<m>2</m>\r\n</r>");
    CXmlDocumentInspector in(doc);
    int freed = 0;
    for (int f = in.FreeList(); f; f = in.Rec(f).nNextSibling, ++freed)
        EXPECT_EQ(in.Rec(f).nFlags, XREC_FREED) << f;
    EXPECT_EQ(freed, 4);
    EXPECT_EQ(in.Count(), 8); // records 6 and 7 are new
    EXPECT_EQ(in.CheckLinks(), "");
    CXmlDocument again;
    again.SetDocText(doc.GetDocText());
    EXPECT_EQ(CXmlDocumentInspector(again).Dump(true), in.Dump(true));
}

// A value may end in a byte that would start a double-byte character; written as it is, that
// byte would take the closing quote or "<" for its second half and break the markup.
TEST(Edit, ValueEndingInALeadByteKeepsTheMarkup) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.AddElement("r"));
    ASSERT_TRUE(doc.SetAttribute("k", "ab\xd6"));
    ASSERT_TRUE(doc.IntoElement());
    ASSERT_TRUE(doc.AddElement("t", "x\xd6"));
    ASSERT_TRUE(doc.AddElement("c", "y\xd6", XNODE_CDATA));
    EXPECT_EQ(Text(doc), "<r k=\"ab?\">\r\n<t>x?</t>\r\n<c><![CDATA[y?]]></c>\r\n</r>\r\n");
    CXmlDocument again;
    EXPECT_TRUE(again.SetDocText(doc.GetDocText()));
    EXPECT_EQ(CXmlDocumentInspector(again).Dump(true), CXmlDocumentInspector(doc).Dump(true));
    // A whole double-byte character at the end is kept.
    EXPECT_EQ(std::string(CXmlDocument::EscapeText("a\xd6\xd0", 0)), "a\xd6\xd0");
    EXPECT_EQ(std::string(CXmlDocument::MakeCData("a\xd6\xd0")), "<![CDATA[a\xd6\xd0]]>");
}

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

// Start tags that parse although their attribute text is malformed: the tokenizer and the
// attribute reader disagree on where values begin. An edit there either reads back as written or
// is refused and changes nothing; either way the index stays what a fresh parse gives. Names that
// cannot stand in a tag are refused the same way.
struct TagEditCase {
    const char* start;
    const char* path;     // "/" separated steps into the element edited; "*" is any element; "" none
    const char* name;     // the attribute set, or with no value the element added into it
    const char* value;    // nullptr: AddElement(name) as a child instead of SetAttribute
    const char* expected; // nullptr: refused, the text unchanged
};

const TagEditCase kTagEdits[] = {
    // A dangling "=" would take the new attribute as its unquoted value, and a quote in the value
    // then opens a value that runs into the next element.
    {"<p><r \"= /><q a=\"1\"/></p>", "p/r", "k", "a b\"=", nullptr},
    {"<r a= />", "r", "k", "v", nullptr},
    // A stray quote: the reader takes the rest of the tag, the new attribute with it, as one value.
    {"<a 'q>x</a>", "a", "n", "v", nullptr},
    {"<a \"q/>", "a", "n", "v", nullptr},
    // "?" ends the tag for the reader but belongs to the tag name: inserting before it renames.
    {"<a?>x</a?>", "*", "k", "v", nullptr},
    {"<a 'k=1>x</a>", "a", "k", "v", nullptr},
    // Replacing a value is held to the same test: here the tokenizer reads "'x\" k='" as one value,
    // so a double quote in place of "'1 y'" would open a value that runs past the tag.
    {"<a \"= 'x\" k='1 y'>z</a>", "a", "k", "v", nullptr},
    // A "/" that is both the value of "b" and the end of an empty tag.
    {"<a b= />", "a", "b", "v", nullptr},
    // Attribute and element names that would not read back as one name.
    {"<a/>", "a", "b c", "v", nullptr},
    {"<a/>", "a", "k=", "v", nullptr},
    {"<a/>", "a", "k>", "v", nullptr},
    {"<a/>", "a", "k\x81", "v", nullptr},
    {"<a/>", "a", "1", nullptr, nullptr},
    {"<a/>", "a", "x y", nullptr, nullptr},
    {"<a/>", "a", "x>", nullptr, nullptr},
    {"<a/>", "a", "x/", nullptr, nullptr},
    {"<a/>", "a", "x\x81", nullptr, nullptr},
    // A text without elements that ends in markup left open or in half a double-byte character
    // would swallow an element added at its end.
    {"x\x81", "", "n", nullptr, nullptr},
    {"<?xml version=\"1.0\"?>\x81", "", "n", nullptr, nullptr},
    {"<!-- note", "", "n", nullptr, nullptr},
    {"<?xml version=\"1.0\"", "", "n", nullptr, nullptr},
    {"<a", "", "n", nullptr, nullptr},
    {"x\x81\x40", "", "n", nullptr, "x\x81\x40<n/>\r\n"},
    {"<?xml version=\"1.0\"?> <!-- x --> t", "", "n", nullptr,
     "<?xml version=\"1.0\"?> <!-- x --> t<n/>\r\n"},
    // Tags where both readings agree keep the usual layout, malformed or not.
    {"<a b='1' >x</a>", "a", "k", "a b\"=>", "<a b='1' k=\"a b&quot;=&gt;\" >x</a>"},
    {"<a b=x/>y</a>", "a", "k", "v", "<a b=x/ k=\"v\">y</a>"},
    {"<r \"=\" k=1 b=\"2\">x</r>", "r", "k", "v", "<r \"=\" k=\"v\" b=\"2\">x</r>"},
    {"<a k \"=x>y</a>", "a", "k", "v", "<a k=\"v\" \"=x>y</a>"},
    {"<a b='1' ?>x</a>", "a", "k", "v", "<a b='1' k=\"v\" ?>x</a>"},
    {"<a/>", "a", "\xd6\xd0", "v", "<a \xd6\xd0=\"v\"/>"},
    {"<a/>", "a", "\xd6\xd0", nullptr, "<a>\r\n<\xd6\xd0/>\r\n</a>"},
};

void PrintTo(const TagEditCase& c, std::ostream* os) {
    *os << c.start << " | " << c.path << " | " << c.name << " | " << (c.value ? c.value : "(element)");
}

class TagEditTest : public ::testing::TestWithParam<TagEditCase> {};

TEST_P(TagEditTest, ReadsBackOrChangesNothing) {
    const TagEditCase& c = GetParam();
    CXmlDocument doc;
    doc.SetDocText(c.start);
    std::string path = c.path;
    for (size_t pos = 0; !path.empty();) {
        size_t slash = path.find('/', pos);
        std::string step = path.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
        ASSERT_TRUE(doc.FindElement(step == "*" ? nullptr : step.c_str())) << step;
        if (slash == std::string::npos)
            break;
        ASSERT_TRUE(doc.IntoElement());
        pos = slash + 1;
    }
    const int edited = CXmlDocumentInspector(doc).Main();
    bool ok;
    if (c.value) {
        ok = doc.SetAttribute(c.name, c.value);
    } else {
        if (!path.empty()) {
            ASSERT_TRUE(doc.IntoElement());
        }
        ok = doc.AddElement(c.name);
    }
    if (c.expected) {
        EXPECT_TRUE(ok);
        EXPECT_EQ(Text(doc), c.expected);
        if (c.value) {
            EXPECT_EQ(std::string(doc.GetAttribute(c.name)), c.value);
        }
    } else {
        EXPECT_FALSE(ok);
        EXPECT_EQ(Text(doc), c.start);
        // The position is where it was: the edited element is still the main one, or, after
        // stepping into it, there is none.
        EXPECT_EQ(CXmlDocumentInspector(doc).Main(), c.value ? edited : 0);
    }
    CXmlDocumentInspector in(doc);
    EXPECT_EQ(in.CheckLinks(), "");
    CXmlDocument again;
    again.SetDocText(doc.GetDocText());
    EXPECT_EQ(CXmlDocumentInspector(again).Dump(true), in.Dump(true));
}

INSTANTIATE_TEST_SUITE_P(Cases, TagEditTest, ::testing::ValuesIn(kTagEdits));

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

// After any sequence of edits, parsing the text again gives the same records, and every value
// written reads back.
TEST(EditProperty, RandomEditsMatchAReparse) {
    const char* names[] = {"a", "bb", "item", "x:y", "\xd6\xd0", "\x81\x40"};
    const char* values[] = {"",         "plain", "a<b&c>d", "q\"u'o",  "]]>",           "\xd5\xc5 \xc8\xfd",
                            "&amp; &#", "\xd6",  "x]]>y",   "\x81]]>", "line\r\nbreak", " \t spaced \t "};
    const int flagSet[] = {0,
                           0,
                           0,
                           XNODE_NO_LINEBREAK,
                           XNODE_EMPTY_SPACE,
                           XNODE_CDATA,
                           XNODE_KEEP_REFS,
                           XNODE_INSERT_BEFORE,
                           XNODE_AS_CHILD,
                           XNODE_REPLACE_CONTENT,
                           XNODE_AS_CHILD | XNODE_INSERT_BEFORE,
                           XNODE_ESCAPE_QUOTES | XNODE_NO_LINEBREAK};
    const char* seeds[] = {"",
                           "<r/>",
                           "<r>\r\n<a>t</a>\r\n</r>\r\n",
                           "<?xml version=\"1.0\"?>\r\n<r><a/><b></b><c x='1' >t<d/></c></r>",
                           "<\xd6\xd0 \xc3\xfb=\"\xd5\x5c\">\xce\xc4</\xd6\xd0>",
                           "<r 'q a= ?>x<s b= /><t \"=\" c=\"2\"/></r>"};
    const int nNames = sizeof names / sizeof *names;
    const int nValues = sizeof values / sizeof *values;
    const int nFlags = sizeof flagSet / sizeof *flagSet;
    const int nSeeds = sizeof seeds / sizeof *seeds;
    // What a value reads back as: a lone lead byte at its end becomes "?".
    auto readBack = [](std::string v) {
        if (!v.empty() && static_cast<unsigned char>(v.back()) >= 0x81 &&
            (v.size() < 2 || static_cast<unsigned char>(v[v.size() - 2]) < 0x81))
            v.back() = '?';
        return v;
    };
    std::mt19937 rng(12345);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    for (int round = 0; round < 600; ++round) {
        CXmlDocument doc;
        doc.SetDocText(seeds[round % nSeeds]);
        std::string trace;
        for (int step = 0; step < 40; ++step) {
            switch (pick(8)) {
            case 0:
            case 1: {
                const char* n = names[pick(nNames)];
                const char* v = values[pick(nValues)];
                int f = flagSet[pick(nFlags)];
                trace += std::string("add ") + n + " " + std::to_string(f) + "; ";
                bool ok = doc.AddElement(n, v, f);
                if (ok && !(f & (XNODE_AS_CHILD | XNODE_KEEP_REFS))) {
                    ASSERT_EQ(std::string(doc.GetElementText()), readBack(v)) << trace;
                }
                break;
            }
            case 2: {
                const char* n = names[pick(nNames)];
                const char* v = values[pick(nValues)];
                trace += std::string("attr ") + n + "; ";
                if (doc.SetAttribute(n, v)) {
                    ASSERT_EQ(std::string(doc.GetAttribute(n)), readBack(v)) << trace;
                }
                break;
            }
            case 3: {
                const char* n = names[pick(nNames)];
                int v = static_cast<int>(rng() % 2000000000u) - 1000000000;
                trace += std::string("attr# ") + n + "; ";
                if (doc.SetAttribute(n, v)) {
                    ASSERT_EQ(std::string(doc.GetAttribute(n)), std::to_string(v)) << trace;
                }
                break;
            }
            case 4:
                doc.IntoElement();
                trace += "into; ";
                break;
            case 5:
                doc.OutOfElement();
                trace += "out; ";
                break;
            case 6:
                doc.FindElement(pick(2) ? nullptr : names[pick(nNames)]);
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
    // "]" as the second byte of a double-byte character is no part of a "]]>".
    const char tricky[] = "\x81]]>";
    CXmlDocument doc;
    ASSERT_TRUE(doc.AddElement("c", tricky, XNODE_CDATA));
    CXmlDocument again;
    ASSERT_TRUE(again.SetDocText(doc.GetDocText()));
    ASSERT_TRUE(again.FindElement("c"));
    EXPECT_EQ(std::string(again.GetElementText()), tricky);
}

} // namespace
