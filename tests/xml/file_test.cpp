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

// Files written by Python's codecs and by iconv, made at test time from one document.
class OtherToolsFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new TempDir;
        std::string cmd =
            "python3 '" + std::string(TEST_SOURCE_DIR) + "/make_encoded.py' '" + s_dir->Linux("") + "'";
        s_made = std::system(cmd.c_str()) == 0;
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }
    static TempDir* s_dir;
    static bool s_made;
};
TempDir* OtherToolsFiles::s_dir = nullptr;
bool OtherToolsFiles::s_made = false;

TEST_F(OtherToolsFiles, LoadIntoTheSameAnsiTextAndSaveBackTheSameBytes) {
    ASSERT_TRUE(s_made) << "python3 or iconv failed";
    struct Case {
        const char* name;
        int flags;
    } cases[] = {
        {"utf8_nobom", 0},
        {"utf8_declared", 0},
        {"utf8_bom", XDOC_UTF8_BOM},
        {"utf16le", XDOC_UTF16LE_FILE},
        {"utf16be", XDOC_UTF16BE_FILE},
        {"utf16_iconv", XDOC_UTF16LE_FILE},
        {"gbk_iconv", 0},
        {"gb2312_python", 0},
    };
    // GBK: 中文书名, <新> & 书, 简介 & 内容 中文 é Δ <b> "q" 'a', 第二本, <原样> &
    const std::string name = "\xd6\xd0\xce\xc4\xca\xe9\xc3\xfb";
    const std::string note = "<\xd0\xc2> & \xca\xe9";
    const std::string intro =
        "\xbc\xf2\xbd\xe9 & \xc4\xda\xc8\xdd \xd6\xd0\xce\xc4 \xa8\xa6 \xa6\xa4 <b> \"q\" 'a'";
    const std::string second = "\xb5\xda\xb6\xfe\xb1\xbe";
    const std::string cdata = "<\xd4\xad\xd1\xf9> & ";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string file = std::string(c.name) + ".xml";
        std::string ansi = ReadBytes(s_dir->Linux((std::string(c.name) + ".ansi").c_str()));
        CXmlDocument doc;
        ASSERT_TRUE(doc.Load(s_dir->Win(file.c_str()).c_str())) << doc.GetResultLog();
        EXPECT_EQ(std::string(doc.GetDocText()), ansi);
        EXPECT_EQ(doc.GetDocFlags(), c.flags);
        EXPECT_EQ(std::string(doc.GetResultLog()).find("conversion_loss"), std::string::npos);
        ASSERT_TRUE(doc.FindElement("books"));
        ASSERT_TRUE(doc.IntoElement());
        ASSERT_TRUE(doc.FindElement("book"));
        EXPECT_EQ(std::string(doc.GetAttribute("name")), name);
        EXPECT_EQ(std::string(doc.GetAttribute("note")), note);
        EXPECT_EQ(std::string(doc.GetElementText()), intro);
        ASSERT_TRUE(doc.FindElement("book"));
        EXPECT_EQ(std::string(doc.GetAttribute("name")), second);
        EXPECT_EQ(std::string(doc.GetElementText()), cdata);

        // Saved in the encoding it came in: the same bytes, which read back the same.
        std::string out = std::string(c.name) + ".out";
        ASSERT_TRUE(doc.Save(s_dir->Win(out.c_str()).c_str())) << doc.GetResultLog();
        EXPECT_EQ(ReadBytes(s_dir->Linux(out.c_str())), ReadBytes(s_dir->Linux(file.c_str())));
        CXmlDocument back;
        ASSERT_TRUE(back.Load(s_dir->Win(out.c_str()).c_str()));
        EXPECT_EQ(std::string(back.GetDocText()), ansi);
        EXPECT_EQ(back.GetDocFlags(), c.flags);
    }
}

// Python decodes what the engine writes in each encoding to the same characters.
TEST_F(OtherToolsFiles, SavesDecodeWithPythonsCodecs) {
    ASSERT_TRUE(s_made);
    struct Case {
        const char* name;
        int flags;
        const char* declared;
        const char* codec;
    } cases[] = {
        {"w_utf8", 0, "utf-8", "utf-8"},
        {"w_utf8bom", XDOC_UTF8_BOM, "utf-8", "utf-8-sig"},
        {"w_utf16le", XDOC_UTF16LE_FILE, "UTF-16", "utf-16"},
        {"w_utf16be", XDOC_UTF16BE_FILE, "UTF-16", "utf-16"},
        {"w_gbk", 0, "GBK", "gbk"},
        {"w_big5", 0, "big5", "big5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Text the engine holds in GBK: 中文 and an escaped ampersand.
        std::string text = std::string("<?xml version=\"1.0\" encoding=\"") + c.declared +
                           "\"?>\r\n<a b=\"\xd6\xd0\xce\xc4\">&amp;\xd6\xd0</a>\r\n";
        CXmlDocument doc;
        ASSERT_TRUE(doc.SetDocText(text.c_str()));
        // The BOM flags come from a loaded file; set them the way Load does.
        std::string seed = std::string(c.name) + ".seed";
        {
            std::ofstream f(s_dir->Linux(seed.c_str()), std::ios::binary);
            if (c.flags & XDOC_UTF8_BOM)
                f << "\xef\xbb\xbf<a/>";
            else if (c.flags & XDOC_UTF16LE_FILE)
                f << std::string("\xff\xfe<\0a\0/\0>\0", 10);
            else if (c.flags & XDOC_UTF16BE_FILE)
                f << std::string("\xfe\xff\0<\0a\0/\0>", 10);
            else
                f << "<a/>";
        }
        ASSERT_TRUE(doc.Load(s_dir->Win(seed.c_str()).c_str()));
        ASSERT_EQ(doc.GetDocFlags(), c.flags);
        ASSERT_TRUE(doc.SetDocText(text.c_str()));
        std::string out = std::string(c.name) + ".xml";
        ASSERT_TRUE(doc.Save(s_dir->Win(out.c_str()).c_str()));
        std::string check = s_dir->Linux((std::string(c.name) + ".check").c_str());
        std::string cmd =
            std::string("python3 -c \"import sys; sys.stdout.buffer.write(open(sys.argv[1], 'rb')"
                        ".read().decode('") +
            c.codec + "').encode('gbk'))\" '" + s_dir->Linux(out.c_str()) + "' > '" + check + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        EXPECT_EQ(ReadBytes(check), text);
        CXmlDocument back;
        ASSERT_TRUE(back.Load(s_dir->Win(out.c_str()).c_str()));
        EXPECT_EQ(std::string(back.GetDocText()), text);
    }
}

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

namespace {

// The result log of Load and Save, record for record.
TEST(File, ResultLogRecords) {
    struct Case {
        const char* name;
        std::string bytes;
        const char* text;
        const char* log;
    } cases[] = {
        {"utf8bom", "\xef\xbb\xbf<a>\xe4\xb8\xad</a>", "<a>\xd6\xd0</a>",
         "<bom/><read encoding=\"UTF-8\" length=\"10\"/><converted_to encoding=\"\" length=\"9\"/>"},
        {"utf16le", std::string("\xff\xfe<\0a\0/\0>\0", 10), "<a/>",
         "<bom/><read encoding=\"UTF-16LE\" length=\"4\"/><converted_to encoding=\"\" length=\"4\"/>"},
        {"utf16be", std::string("\xfe\xff\0<\0a\0/\0>", 10), "<a/>",
         "<bom/><read encoding=\"UTF-16BE\" length=\"4\"/><endian_swap/><converted_to encoding=\"\" "
         "length=\"4\"/>"},
        {"utf16nulls", std::string("\xff\xfe<\0\0\0a\0/\0>\0x", 13), "<a/>",
         "<bom/><read encoding=\"UTF-16LE\" length=\"5\"/><nulls_removed count=\"1\"/><converted_to "
         "encoding=\"\" length=\"4\"/>"},
        {"lessThanFirst", "<a>\xe4\xb8\xad</a>", "<a>\xd6\xd0</a>",
         "<read encoding=\"UTF-8\" length=\"10\"/><converted_to encoding=\"\" length=\"9\"/>"},
        {"nulls", std::string("<a>\0x\0</a>", 10), "<a>x</a>",
         "<read encoding=\"UTF-8\" length=\"10\"/><nulls_removed count=\"2\"/><converted_to encoding=\"\" "
         "length=\"8\"/>"},
        {"declaredGbk", "<?xml version='1.0' encoding='GBK'?><a>\xd6\xd0</a>",
         "<?xml version='1.0' encoding='GBK'?><a>\xd6\xd0</a>", "<read encoding=\"GBK\" length=\"45\"/>"},
        {"textFirstAnsi", "\xd6\xd0 <a/>", "\xd6\xd0 <a/>",
         "<read encoding=\"\" length=\"7\"/><utf8_detection/>"},
        {"textFirstUtf8", "\xe4\xb8\xad <a/>", "\xd6\xd0 <a/>",
         "<read encoding=\"UTF-8\" length=\"8\"/><converted_to encoding=\"\" "
         "length=\"7\"/><utf8_detection/>"},
        {"textFirstAscii", "x <a/>", "x <a/>", "<read encoding=\"\" length=\"6\"/><utf8_detection/>"},
        {"loss", "<a>\xf0\x9f\x98\x80</a>", "<a>?</a>",
         "<read encoding=\"UTF-8\" length=\"11\"/><converted_to encoding=\"\" "
         "length=\"8\"/><conversion_loss/>"},
        // The file's records come first, then the parse's.
        {"notWellFormed", "<a>", "<a>",
         "<read encoding=\"UTF-8\" length=\"3\"/><converted_to encoding=\"\" "
         "length=\"3\"/><unended_start_tag "
         "tagname=\"a\" offset=\"0\" offset2=\"3\"/>"},
        {"empty", "", "", "<read encoding=\"\" length=\"0\"/><utf8_detection/>"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            std::ofstream f(dir.Linux("in.xml"), std::ios::binary);
            f << c.bytes;
        }
        CXmlDocument doc;
        doc.Load(dir.Win("in.xml").c_str());
        EXPECT_EQ(std::string(doc.GetDocText()), c.text);
        EXPECT_EQ(std::string(doc.GetResultLog()), c.log);
    }

    struct SaveCase {
        const char* name;
        const char* seed; // a file whose BOM the document takes
        const char* text;
        std::string bytes;
        const char* log; // after the Load of the seed and SetDocText, which empties the log
    } saves[] = {
        {"plain", "", "<a>\xd6\xd0</a>", "<a>\xe4\xb8\xad</a>",
         "<converted_from encoding=\"\" length=\"10\"/><write encoding=\"UTF-8\" length=\"10\"/>"},
        {"ansi", "", "<?xml encoding='gb2312'?><a>\xd6\xd0</a>", "<?xml encoding='gb2312'?><a>\xd6\xd0</a>",
         "<write encoding=\"gb2312\" length=\"34\"/>"},
        {"bom", "\xef\xbb\xbf<a/>", "<a>\xd6\xd0</a>", "\xef\xbb\xbf<a>\xe4\xb8\xad</a>",
         "<bom/><converted_from encoding=\"\" length=\"10\"/><write encoding=\"UTF-8\" length=\"10\"/>"},
        {"utf16be", "\xfe\xff", "<a/>", std::string("\xfe\xff\0<\0a\0/\0>", 10),
         "<bom/><converted_from encoding=\"\" length=\"4\"/><endian_swap/><write encoding=\"UTF-16BE\" "
         "length=\"4\"/>"},
        {"loss", "", "<?xml encoding='latin1'?><a>\xd6\xd0</a>", "<?xml encoding='latin1'?><a>?</a>",
         "<converted_from encoding=\"\" length=\"33\"/><conversion_loss/><write encoding=\"latin1\" "
         "length=\"33\"/>"},
        {"empty", "", "", "", "<write encoding=\"\" length=\"0\"/>"},
        {"emptyWithBom", "\xef\xbb\xbf", "", "\xef\xbb\xbf",
         "<bom/><write encoding=\"UTF-8\" length=\"0\"/>"},
    };
    for (const SaveCase& c : saves) {
        SCOPED_TRACE(c.name);
        {
            std::ofstream f(dir.Linux("seed.xml"), std::ios::binary);
            f << c.seed;
        }
        CXmlDocument doc;
        doc.Load(dir.Win("seed.xml").c_str());
        doc.SetDocText(c.text);
        std::string parseLog(doc.GetResultLog());
        ASSERT_TRUE(doc.Save(dir.Win("out.xml").c_str()));
        EXPECT_EQ(ReadBytes(dir.Linux("out.xml")), c.bytes);
        EXPECT_EQ(std::string(doc.GetResultLog()), parseLog + c.log);
    }
}

TEST(File, FileErrorRecord) {
    CXmlDocument doc;
    EXPECT_FALSE(doc.Load("\\no\\such\\folder\\x.xml"));
    EXPECT_EQ(std::string(doc.GetResultLog()),
              "<file_error msg=\"The system cannot find the path specified.\" n=\"3\"/>");
    TempDir dir;
    EXPECT_FALSE(doc.Load(dir.Win("missing.xml").c_str()));
    EXPECT_EQ(std::string(doc.GetResultLog()),
              "<file_error msg=\"The system cannot find the file specified.\" n=\"2\"/>");
    doc.SetDocText("<a/>");
    EXPECT_FALSE(doc.Save("\\no\\such\\folder\\x.xml"));
    EXPECT_EQ(std::string(doc.GetResultLog()),
              "<file_error msg=\"The system cannot find the path specified.\" n=\"3\"/>");
}

} // namespace
