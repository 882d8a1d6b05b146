#include "tests/xml/XmlInspector.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

// Paths inside the program are Windows-form.
std::string WinPath(std::string p) {
    for (char& c : p)
        if (c == '/')
            c = '\\';
    return p;
}

std::string Data(const char* name) {
    return WinPath(std::string(TEST_SOURCE_DIR) + "/data/" + name);
}

std::string ReadBytes(const std::string& linuxPath) {
    std::ifstream f(linuxPath, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/xmlfileXXXXXX";
        m_path = mkdtemp(tmpl);
    }
    ~TempDir() { std::system(("rm -rf '" + m_path + "'").c_str()); }
    std::string Linux(const char* name) const { return m_path + "/" + name; }
    std::string Win(const char* name) const { return WinPath(Linux(name)); }

private:
    std::string m_path;
};

const char kName[] = "\xd6\xd0\xce\xc4\xca\xe9\xc3\xfb";              // GBK "中文书名"
const char kIntro[] = "\xbc\xf2\xbd\xe9\x20\x26\x20\xc4\xda\xc8\xdd"; // GBK "简介 & 内容"

void ExpectBooks(CXmlDocument& doc, const std::string& file) {
    ASSERT_TRUE(doc.FindElement("books")) << file;
    ASSERT_TRUE(doc.IntoElement()) << file;
    ASSERT_TRUE(doc.FindElement("book")) << file;
    EXPECT_EQ(std::string(doc.GetAttribute("name")), kName) << file;
    EXPECT_EQ(std::string(doc.GetElementText()), kIntro) << file;
}

struct LoadCase {
    const char* file;
    int flags;
};

const LoadCase kLoads[] = {
    {"utf8_bom.xml", XDOC_UTF8_BOM},
    {"utf8_nobom.xml", 0},
    {"utf16le.xml", XDOC_UTF16LE_FILE},
    {"utf16be.xml", XDOC_UTF16BE_FILE},
    {"gbk_declared.xml", 0},
    {"utf8_declared.xml", 0},
    {"utf8_nulls.xml", 0},
};

class LoadTest : public ::testing::TestWithParam<LoadCase> {};

// Files written by other tools load into the same ANSI text, and a save reads back the same.
TEST_P(LoadTest, LoadsAndRoundTrips) {
    const LoadCase& c = GetParam();
    CXmlDocument doc;
    EXPECT_TRUE(doc.Load(Data(c.file).c_str())) << doc.GetResultLog();
    EXPECT_EQ(doc.GetDocFlags(), c.flags);
    ExpectBooks(doc, c.file);
    std::string text(doc.GetDocText());

    TempDir dir;
    ASSERT_TRUE(doc.Save(dir.Win("out.xml").c_str())) << doc.GetResultLog();
    CXmlDocument back;
    EXPECT_TRUE(back.Load(dir.Win("out.xml").c_str()));
    EXPECT_EQ(std::string(back.GetDocText()), text);
    EXPECT_EQ(back.GetDocFlags(), c.flags);
}

INSTANTIATE_TEST_SUITE_P(Files, LoadTest, ::testing::ValuesIn(kLoads));

TEST(File, SavedBytesMatchOtherToolsEncodings) {
    struct Case {
        const char* file;
    } cases[] = {
        {"utf8_bom.xml"}, {"utf16le.xml"}, {"utf16be.xml"}, {"gbk_declared.xml"}, {"utf8_declared.xml"}};
    for (const Case& c : cases) {
        CXmlDocument doc;
        ASSERT_TRUE(doc.Load(Data(c.file).c_str()));
        TempDir dir;
        ASSERT_TRUE(doc.Save(dir.Win("o.xml").c_str()));
        EXPECT_EQ(ReadBytes(dir.Linux("o.xml")), ReadBytes(std::string(TEST_SOURCE_DIR) + "/data/" + c.file))
            << c.file;
    }
}

TEST(File, Big5DeclaredConvertsToGbk) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.Load(Data("big5_declared.xml").c_str()));
    ASSERT_TRUE(doc.FindElement("books"));
    ASSERT_TRUE(doc.IntoElement());
    ASSERT_TRUE(doc.FindElement("book"));
    EXPECT_EQ(std::string(doc.GetAttribute("name")), "\xd6\xd0\xce\xc4\x95\xf8\xc3\xfb");
    EXPECT_EQ(std::string(doc.GetElementText()), "\xba\x86\xbd\xe9");
}

TEST(File, TextFirstFilesDetectUtf8OrStayAnsi) {
    CXmlDocument gbk;
    gbk.Load(Data("gbk_text_first.txt").c_str());
    EXPECT_EQ(std::string(gbk.GetDocText()),
              ReadBytes(std::string(TEST_SOURCE_DIR) + "/data/gbk_text_first.txt"));
    EXPECT_NE(std::string(gbk.GetResultLog()).find("<utf8_detection/>"), std::string::npos);

    CXmlDocument utf8;
    utf8.Load(Data("utf8_text_first.txt").c_str());
    EXPECT_EQ(std::string(utf8.GetDocText()).substr(0, 3), "\xca\xe9 ");
    EXPECT_NE(std::string(utf8.GetResultLog()).find("<read encoding=\"UTF-8\""), std::string::npos);
    ExpectBooks(utf8, "utf8_text_first.txt");
}

TEST(File, SaveEncodingFollowsTheDeclaration) {
    TempDir dir;
    CXmlDocument doc;
    doc.SetDocText("<a>\xd6\xd0</a>");
    ASSERT_TRUE(doc.Save(dir.Win("plain.xml").c_str()));
    EXPECT_EQ(ReadBytes(dir.Linux("plain.xml")), "<a>\xe4\xb8\xad</a>");

    doc.SetDocText("<?xml version=\"1.0\" encoding=\"GB2312\"?><a>\xd6\xd0</a>");
    ASSERT_TRUE(doc.Save(dir.Win("gb.xml").c_str()));
    EXPECT_EQ(ReadBytes(dir.Linux("gb.xml")), "<?xml version=\"1.0\" encoding=\"GB2312\"?><a>\xd6\xd0</a>");

    CXmlDocument empty;
    ASSERT_TRUE(empty.Save(dir.Win("empty.xml").c_str()));
    EXPECT_EQ(ReadBytes(dir.Linux("empty.xml")), "");
    EXPECT_NE(std::string(empty.GetResultLog()).find("<write encoding=\"\" length=\"0\"/>"),
              std::string::npos);
}

TEST(File, MissingFileAndUnwritablePath) {
    CXmlDocument doc;
    doc.SetDocText("<a/>");
    EXPECT_FALSE(doc.Load("\\no\\such\\dir\\file.xml"));
    EXPECT_EQ(std::string(doc.GetDocText()), "");
    EXPECT_FALSE(doc.FindElement(nullptr));
    std::string log(doc.GetResultLog());
    EXPECT_EQ(log.rfind("<file_error msg=\"", 0), 0u) << log;
    EXPECT_EQ(log.find("<", 1), std::string::npos) << log;

    EXPECT_FALSE(doc.Save("\\no\\such\\dir\\file.xml"));
    EXPECT_FALSE(doc.Load("p:\\drive\\letter.xml"));
    TempDir dir;
    EXPECT_FALSE(doc.Load(WinPath(dir.Linux("")).c_str())); // a folder
}

TEST(File, ConversionLossIsLogged) {
    TempDir dir;
    CXmlDocument doc;
    doc.SetDocText("<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><a>\xd6\xd0</a>");
    ASSERT_TRUE(doc.Save(dir.Win("latin.xml").c_str()));
    EXPECT_NE(std::string(doc.GetResultLog()).find("<conversion_loss/>"), std::string::npos);
    EXPECT_EQ(ReadBytes(dir.Linux("latin.xml")), "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><a>?</a>");
}

TEST(File, StaticWorkersReportTheEncoding) {
    CString text, log, enc;
    int flags = 0;
    ASSERT_TRUE(CXmlDocument::ReadTextFile(Data("gbk_declared.xml").c_str(), text, &log, &flags, &enc));
    EXPECT_EQ(std::string(enc), "GBK");
    // An 8-bit file read under an overriding encoding.
    CString forced = "UTF-8";
    CString t2;
    ASSERT_TRUE(CXmlDocument::ReadTextFile(Data("gbk_declared.xml").c_str(), t2, nullptr, &flags, &forced));
    EXPECT_NE(std::string(t2), std::string(text));
}

} // namespace

namespace {

// GBK pairs such as D6 D0 must not pass for UTF-8 and get converted.
TEST(File, GbkPairsAreNotTakenForUtf8) {
    CXmlDocument doc;
    doc.Load(Data("gbk_pairs_first.txt").c_str());
    EXPECT_EQ(std::string(doc.GetDocText()),
              ReadBytes(std::string(TEST_SOURCE_DIR) + "/data/gbk_pairs_first.txt"));
}

} // namespace
