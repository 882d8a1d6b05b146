// The edition record: the strings of this build and of item packages, the built-in item's read
// entry in ReadLog.ini, and the built-in item put on the shelf.
#include "app/PackInfo.h"
#include "contentserver/MyMemFile.h"
#include "foundation/CommonFunc.h"
#include "library/MagShelf.h"
#include "tests/app/AppFixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

// The strings of tests/app/edition/edition.rc, in the ANSI code page.
const char kName[] = "\xC9\xBD\xD2\xB0\xD4\xD3\xD6\xBE";
const char kIssue[] = "2012"
                      "\xC4\xEA\xB5\xDA"
                      "3"
                      "\xC6\xDA";
const char kCategory[] = "\xC8\xCB\xCE\xC4";
// A cover picture with a zero byte inside: it is written whole.
const std::string kCover("\xFF\xD8 cover bytes \x00\xFF\xD9", 17);

struct Strings {
    std::string id, name, issue, priceFlag, category, htmlFlag, source, type, sortId, price, bundle;
    bool operator==(const Strings&) const = default;
};

Strings Of(const CPackInfo& p) {
    return {p.m_strId.GetString(),        p.m_strName.GetString(),     p.m_strIssue.GetString(),
            p.m_strPriceFlag.GetString(), p.m_strCategory.GetString(), p.m_strHtmlFlag.GetString(),
            p.m_strSource.GetString(),    p.m_strType.GetString(),     p.m_strSortId.GetString(),
            p.m_strPrice.GetString(),     p.m_strBundle.GetString()};
}

void PrintTo(const Strings& s, std::ostream* os) {
    *os << "{" << s.id << "|" << s.name << "|" << s.issue << "|" << s.priceFlag << "|" << s.category << "|"
        << s.htmlFlag << "|" << s.source << "|" << s.type << "|" << s.sortId << "|" << s.price << "|"
        << s.bundle << "}";
}

const Strings kThisBuild{"b2012003", kName,  kIssue, "1",    kCategory, "1",
                         "tavonel",  "book", "31",   "3.50", "1"};

class EditionTest : public FreshHomeTest {
protected:
    void SetUp() override {
        FreshHomeTest::SetUp();
        InitPaths();
        // The shelf is the process's one store: what an earlier test left in it goes first.
        for (const char* kind : {"mag", "book", "mag_read", "book_read"}) {
            CMagInfoList items;
            g_MagShelf.GetList(kind, items);
            for (INT_PTR i = 0; i < items.GetSize(); ++i)
                g_MagShelf.Remove(kind, items[i]->pid);
        }
    }

    // An item package made by the package writer: its pages (resource 188) and the given
    // extra arguments (--string ID=TEXT, --file ID=FILE).
    std::string MakePackage(const std::string& name, const std::string& extra) {
        std::filesystem::create_directories(m_home.sub("pages"));
        WriteFileBytes(m_home.sub("pages/view1.html"), "<html>page</html>");
        WriteFileBytes(m_home.sub("pages/coverFlash.jpg"), kCover);
        std::string out = m_home.sub(name);
        int status = -1;
        std::string cmd = std::string(KESTRIN_PYTHON " ") + PROJECT_SOURCE_DIR +
                          "/tools/packwriter/kestrin_pack.py exe -o '" + out + "' --package 188='" +
                          m_home.sub("pages") + "' " + extra + " 2>&1";
        std::string said = RunCommand(cmd, &status);
        EXPECT_EQ(status, 0) << cmd << "\n" << said;
        return out;
    }
};

TEST_F(EditionTest, TheRunningProgramsStringsAreItsEdition) {
    CPackInfo info;
    EXPECT_TRUE(info.Load(""));
    EXPECT_EQ(Of(info), kThisBuild);
    EXPECT_EQ(info.m_hModule, nullptr);
    EXPECT_TRUE(info.HasBundle());
}

TEST_F(EditionTest, PackageStringsWithTheirFallbacks) {
    const std::string k1024(1024, 'x');
    WriteFileBytes(m_home.sub("s1024.txt"), k1024);
    WriteFileBytes(m_home.sub("s1025.txt"), std::string(1025, 'y'));
    WriteFileBytes(m_home.sub("zero.txt"), std::string("12\0"
                                                       "34",
                                                       5));
    WriteFileBytes(m_home.sub("not-an-exe"), "plain text, no executable");

    struct Case {
        const char* what;
        std::string path;
        Strings want;
    };
    const std::vector<Case> cases = {
        {"every string",
         MakePackage("full.exe",
                     "--string 162=m88 --string 163=\xE7\x94\xBB\xE6\x8A\xA5 --string 226=No.7 "
                     "--string 227=0 --string 268=art --string 165=4 --string 280=0 --string 289=src "
                     "--string 294=mag --string 299=0.00 --string 166=0"),
         {"m88", "\xBB\xAD\xB1\xA8", "No.7", "0", "art", "0", "src", "mag", "4", "0.00", "0"}},
        {"no strings: a magazine with nothing else",
         MakePackage("bare.exe", ""),
         {"", "", "", "", "", "", "", "mag", "", "", ""}},
        {"1024 bytes are read, 1025 are not; text ends at a zero byte",
         MakePackage("sizes.exe", "--file 162='" + m_home.sub("s1024.txt") + "' --file 163='" +
                                      m_home.sub("s1025.txt") + "' --file 165='" + m_home.sub("zero.txt") +
                                      "' --string 294=book"),
         {k1024, "", "", "", "", "", "", "book", "12", "", ""}},
        {"missing file: this build's strings", m_home.sub("missing.exe"), kThisBuild},
        {"not an executable: this build's strings", m_home.sub("not-an-exe"), kThisBuild},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CPackInfo info;
        EXPECT_TRUE(info.Load(WinPath(c.path)));
        EXPECT_EQ(Of(info), c.want);
    }
}

TEST_F(EditionTest, BuiltInItemIsDueExactlyOncePerInstallation) {
    {
        CPackInfo first;
        EXPECT_TRUE(first.CheckBundleFirstRun());
        EXPECT_TRUE(first.IsRead());
        EXPECT_FALSE(first.CheckBundleFirstRun());
    }
    EXPECT_EQ(IniValue(ExeFiles("ReadLog.ini"), "book_b2012003", "read"), "yes");
    // Another object (as in a later process) reads the entry from the file.
    CPackInfo later;
    EXPECT_FALSE(later.CheckBundleFirstRun());
}

TEST_F(EditionTest, PackagesWithoutABuiltInItemNeverTouchReadLog) {
    for (const char* bundle : {"0", "", "yes"}) {
        SCOPED_TRACE(bundle);
        std::string extra =
            std::string("--string 162=m1") + (*bundle ? std::string(" --string 166=") + bundle : "");
        CPackInfo info;
        info.Load(WinPath(MakePackage("nob.exe", extra)));
        EXPECT_FALSE(info.HasBundle());
    }
    EXPECT_FALSE(std::filesystem::exists(ExeFiles("ReadLog.ini")));
}

TEST_F(EditionTest, ReadLogKeysLiveInTheItemsSectionAndHoldNinetyNineCharacters) {
    CPackInfo book, mag;
    book.Load("");
    mag.Load(WinPath(MakePackage("m.exe", "--string 162=b2012003 --string 294=mag")));
    book.SetReadLog("page", std::string(120, '7').c_str());
    mag.SetReadLog("page", "3");
    EXPECT_EQ(book.GetReadLog("page"), std::string(99, '7').c_str());
    EXPECT_EQ(mag.GetReadLog("page"), "3");
    EXPECT_EQ(IniValue(ExeFiles("ReadLog.ini"), "mag_b2012003", "page"), "3");
    EXPECT_FALSE(mag.IsRead());
}

TEST_F(EditionTest, BuiltInItemGoesOnTheShelfWithItsCover) {
    CPackInfo info;
    info.Load("");
    // The reading launcher loads the package just before: the cover comes from the memory files.
    ASSERT_TRUE(g_MyMemFile.LoadPackage(WinPath(MakePackage("own.exe", "")),
                                        MemFileWiden(MEMFILE_ROOT "book\\b2012003\\")));
    info.RegisterBundledItem();
    g_MyMemFile.RemoveAll();

    CMagInfoList shelf, recent;
    ASSERT_TRUE(g_MagShelf.GetList("book", shelf));
    ASSERT_TRUE(g_MagShelf.GetList("book_read", recent));
    ASSERT_EQ(shelf.GetSize(), 1);
    ASSERT_EQ(recent.GetSize(), 1);
    const CMagInfo* item = shelf[0];
    EXPECT_EQ(recent[0], item);
    EXPECT_EQ(item->pid, "b2012003");
    EXPECT_EQ(item->name, kName);
    EXPECT_EQ(item->date, kIssue);
    EXPECT_EQ(item->type, "book");
    EXPECT_EQ(item->down, DOWN_STATE_DONE);
    EXPECT_EQ(item->sort_id, "31");
    EXPECT_EQ(item->isFullSwf, "1");
    EXPECT_EQ(item->price, "1");
    EXPECT_EQ(item->savepath, g_CommonFunc.GetModulePath());
    EXPECT_EQ(item->pic1, WinPath(DataRoot() + "/Images/book/b2012003.jpg"));
    EXPECT_EQ(ReadFileBytes(DataRoot() + "/Images/book/b2012003.jpg"), kCover);
    // Saved with the shelf: the booklist on disk names the item.
    EXPECT_NE(ReadFileBytes(DataRoot() + "/Data/BookShelf.xml").find("b2012003"), std::string::npos);

    // A second registration keeps one shelf entry; without loaded pages there is no cover.
    CPackInfo again;
    again.Load("");
    again.RegisterBundledItem();
    ASSERT_TRUE(g_MagShelf.GetList("book", shelf));
    EXPECT_EQ(shelf.GetSize(), 1);
    ASSERT_TRUE(g_MagShelf.GetList("book_read", recent));
    ASSERT_EQ(recent.GetSize(), 1);
    EXPECT_EQ(recent[0]->pic1, "");
}

} // namespace
