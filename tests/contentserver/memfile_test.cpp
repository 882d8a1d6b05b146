#include "contentserver/MyMemFile.h"
#include "contentserver/PackUnpacker.h"

#include "tests/contentserver/ContentServerFixture.h"

#include <algorithm>

using namespace cstest;

namespace {

CStringW W(const std::string& s) {
    return MemFileWiden(s.c_str());
}

const std::string kRoot = MEMFILE_ROOT;

std::string Data(const CMemFileEntry* e) {
    return std::string(reinterpret_cast<const char*>(e->pData), e->dwSize);
}

class MemFileTest : public ::testing::Test {
protected:
    void TearDown() override { store.RemoveAll(); }
    // Links the package into an item package with the mingw-w64 tools and loads it.
    BOOL Load(const std::string& package, const std::string& prefix) {
        std::string exe = BuildItemExe(dir, package);
        EXPECT_FALSE(exe.empty()) << "mingw-w64 resource tools failed";
        return store.LoadPackage(AfxUnmapPath(exe).c_str(), W(prefix));
    }
    TempDir dir;
    CMyMemFile store;
};

} // namespace

TEST(MemFileRoot, IsTheFixedLowerCaseRoot) {
    EXPECT_EQ(std::string(MEMFILE_ROOT), "p:\\umexmemfile_qoncreate_12_06_26\\");
    EXPECT_EQ(std::string(MEMFILE_ROOT).size(), 34u);
}

TEST_F(MemFileTest, ItemPackageFromMingwExecutableIsFoundWithoutRegardToCase) {
    const std::string page = "<html>view one</html>";
    const std::string cover(4000, '\xFF');
    ASSERT_TRUE(Load(BuildPackage({{"view1.html", page}, {"Cover.JPG", cover}, {"empty.css", ""}}),
                     kRoot + "mag\\77\\"));
    ASSERT_EQ(store.m_arrEntries.GetSize(), 3);
    ASSERT_NE(store.m_pPackage, nullptr);

    struct Lookup {
        std::string path;
        const char* expected; // nullptr: not found
    };
    const std::vector<Lookup> lookups = {
        {kRoot + "mag\\77\\view1.html", "view1.html"},
        {kRoot + "MAG\\77\\VIEW1.HTML", "view1.html"},
        {"P:\\UMEXMEMFILE_QONCREATE_12_06_26\\Mag\\77\\View1.Html", "view1.html"},
        {kRoot + "mag\\77\\cover.jpg", "Cover.JPG"},
        {kRoot + "mag\\77\\empty.css", "empty.css"},
        {kRoot + "mag\\77\\", nullptr}, // the item's folder
        {kRoot + "mag\\77", nullptr},
        {kRoot + "mag\\77\\view1.ht", nullptr}, // only the beginning of a name
        {kRoot + "mag\\77\\view1.html\\x", nullptr},
        {kRoot + "book\\77\\view1.html", nullptr},
        {"c:\\x\\view1.html", nullptr},
        {"p:\\umexmemfile_qoncreate_12_06_2", nullptr},
    };
    for (const Lookup& l : lookups) {
        SCOPED_TRACE(l.path);
        CMemFileEntry* e = store.FindFile(W(l.path));
        if (l.expected == nullptr) {
            EXPECT_EQ(e, nullptr);
            continue;
        }
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->strName, W(kRoot + "mag\\77\\" + l.expected));
        EXPECT_EQ(e->dwAttributes, 32u);
    }
    EXPECT_EQ(Data(store.FindFile(W(kRoot + "mag\\77\\view1.html"))), page);
    EXPECT_EQ(Data(store.FindFile(W(kRoot + "mag\\77\\cover.jpg"))), cover);
    EXPECT_EQ(store.FindFile(W(kRoot + "mag\\77\\empty.css"))->dwSize, 0u);

    store.RemoveAll();
    EXPECT_EQ(store.m_pPackage, nullptr);
    EXPECT_EQ(store.m_arrEntries.GetSize(), 0);
    EXPECT_EQ(store.FindFile(W(kRoot + "mag\\77\\view1.html")), nullptr);
}

// Of two entries whose names differ only in case, a lookup finds the one added first, whichever
// case it asks in; the second stays in the list.
TEST(MemFileStore, TheFirstOfTwoEntriesOfOneNameIsFound) {
    CMyMemFile store;
    BYTE first[] = "first", second[] = "second";
    store.AddFile(W(kRoot + "mag\\1\\Page.html"), first, 5, 32);
    store.AddFile(W(kRoot + "mag\\1\\page.HTML"), second, 6, 32);
    ASSERT_EQ(store.m_arrEntries.GetSize(), 2);
    for (const char* asked : {"mag\\1\\page.html", "MAG\\1\\PAGE.HTML", "mag\\1\\page.HTML"}) {
        CMemFileEntry* e = store.FindFile(W(kRoot + asked));
        ASSERT_NE(e, nullptr) << asked;
        EXPECT_EQ(Data(e), "first") << asked;
    }
}

// Names are widened byte by byte: a GBK name matches the same bytes, and only A to Z fold.
TEST_F(MemFileTest, GbkNamesMatchByteForByte) {
    const std::string gbk = "\xC4\xA3\xD5\x5C.html";
    ASSERT_TRUE(Load(BuildPackage({{gbk, "g"}}), kRoot + "book\\5\\"));
    EXPECT_NE(store.FindFile(W(kRoot + "BOOK\\5\\" + gbk)), nullptr);
    EXPECT_EQ(store.FindFile(W(kRoot + "book\\5\\\xE4\xA3\xD5\x5C.html")), nullptr);
}

TEST_F(MemFileTest, LongNamesDoNotOverflow) {
    const std::string prefix = kRoot + std::string(200, 'p') + "\\" + std::string(100, 'q') + "\\";
    const std::string name = std::string(250, 'n') + ".html";
    ASSERT_TRUE(Load(BuildPackage({{name, "long"}}), prefix));
    CMemFileEntry* e = store.FindFile(W(prefix + name));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->strName.GetLength(), static_cast<int>((prefix + name).size()));
    EXPECT_EQ(Data(e), "long");
}

TEST_F(MemFileTest, RefusedPackagesAddNothing) {
    // Something already loaded stays loaded when a later package is refused.
    ASSERT_TRUE(Load(BuildPackage({{"keep.html", "k"}}), kRoot + "mag\\1\\"));
    std::string pastEnd = BuildPackage({{"a.html", "abc"}});
    SetU32(pastEnd, RecordOffset(pastEnd, 0) + 260, 1000);
    const std::vector<std::pair<const char*, std::string>> refused = {
        {"count 5001", BuildPackage({{"a.html", "x"}}, 5001)},
        {"count -1", BuildPackage({{"a.html", "x"}}, -1)},
        {"shorter than a trailer", std::string(11, '\0')},
        {"entry past the end", pastEnd},
    };
    for (const auto& [label, package] : refused) {
        SCOPED_TRACE(label);
        std::string exe = BuildItemExe(dir, package, "bad");
        ASSERT_FALSE(exe.empty());
        EXPECT_FALSE(store.LoadPackage(AfxUnmapPath(exe).c_str(), W(kRoot + "mag\\2\\")));
        EXPECT_EQ(store.m_arrEntries.GetSize(), 1);
        EXPECT_NE(store.FindFile(W(kRoot + "mag\\1\\keep.html")), nullptr);
    }
    // An executable without resource 188, and a file that is no executable at all.
    std::string noPackage = BuildItemExe(dir, "x", "nopack", false);
    ASSERT_FALSE(noPackage.empty());
    EXPECT_FALSE(store.LoadPackage(AfxUnmapPath(noPackage).c_str(), W(kRoot + "mag\\3\\")));
    WriteFileBytes(dir.sub("plain.pak"), BuildPackage({{"a.html", "x"}}));
    EXPECT_FALSE(store.LoadPackage(AfxUnmapPath(dir.sub("plain.pak")).c_str(), W(kRoot + "mag\\3\\")));
    EXPECT_FALSE(store.LoadPackage(AfxUnmapPath(dir.sub("missing.exe")).c_str(), W(kRoot + "mag\\3\\")));
    EXPECT_EQ(store.m_arrEntries.GetSize(), 1);
}

TEST_F(MemFileTest, RctEntriesAreIndexedInNumericOrder) {
    ASSERT_TRUE(Load(BuildPackage({{"10.rct", "ten"},
                                   {"9.rct", "nine"},
                                   {"100.rct", "hundred"},
                                   {"Page1.RCT", "p"},
                                   {"view1.html", "v"}}),
                     kRoot + "mag\\9\\"));
    std::vector<std::string> names;
    for (INT_PTR i = 0; i < g_RctIndex.m_arrNames.GetSize(); ++i)
        names.push_back(g_RctIndex.m_arrNames[i].str());
    auto at = [&](const std::string& n) { return std::find(names.begin(), names.end(), n) - names.begin(); };
    ASSERT_LT(at("9.rct"), static_cast<long>(names.size()));
    EXPECT_LT(at("9.rct"), at("10.rct"));
    EXPECT_LT(at("10.rct"), at("100.rct"));
    EXPECT_LT(at("page1.rct"), static_cast<long>(names.size()));
    EXPECT_EQ(std::count(names.begin(), names.end(), "view1.html"), 0);

    void* pSize = nullptr;
    ASSERT_TRUE(g_RctIndex.m_mapSize.Lookup("page1.rct", pSize));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(pSize), 1u);
    void* pData = nullptr;
    ASSERT_TRUE(g_RctIndex.m_mapData.Lookup("9.rct", pData));
    EXPECT_EQ(std::string(static_cast<const char*>(pData), 4), "nine");
    // The entry keeps its own name in the store.
    CMemFileEntry* e = store.FindFile(W(kRoot + "mag\\9\\page1.rct"));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->strName, W(kRoot + "mag\\9\\Page1.RCT"));
}

// The index describes the loaded package only: what it pointed into goes with a clear or the next
// load, so nothing in it points into bytes the store has let go of.
TEST_F(MemFileTest, RctIndexGoesWithThePackage) {
    auto names = [] {
        std::vector<std::string> v;
        for (INT_PTR i = 0; i < g_RctIndex.m_arrNames.GetSize(); ++i)
            v.push_back(g_RctIndex.m_arrNames[i].str());
        return v;
    };
    ASSERT_TRUE(Load(BuildPackage({{"1.rct", "first"}, {"a.html", "a"}}), kRoot + "mag\\1\\"));
    ASSERT_EQ(names(), (std::vector<std::string>{"1.rct"}));
    ASSERT_TRUE(Load(BuildPackage({{"2.rct", "second"}}), kRoot + "mag\\2\\"));
    EXPECT_EQ(names(), (std::vector<std::string>{"2.rct"}));
    void* p = nullptr;
    EXPECT_FALSE(g_RctIndex.m_mapData.Lookup("1.rct", p));
    EXPECT_FALSE(g_RctIndex.m_mapSize.Lookup("1.rct", p));
    ASSERT_TRUE(g_RctIndex.m_mapData.Lookup("2.rct", p));
    EXPECT_EQ(std::string(static_cast<const char*>(p), 6), "second");

    store.RemoveAll();
    EXPECT_TRUE(names().empty());
    EXPECT_EQ(g_RctIndex.m_mapData.GetCount(), 0);
    EXPECT_EQ(g_RctIndex.m_mapSize.GetCount(), 0);
}

TEST(RctIndex, SortPadsToTenAndKeepsTheLastTen) {
    CRctIndex index;
    for (const char* n : {"10.rct", "9.rct", "100.rct", "abcdefghijkl.rct"})
        index.Add(n, nullptr, 0);
    index.SortNames();
    std::vector<std::string> names;
    for (INT_PTR i = 0; i < index.m_arrNames.GetSize(); ++i)
        names.push_back(index.m_arrNames[i].str());
    EXPECT_EQ(names, (std::vector<std::string>{"9.rct", "10.rct", "100.rct", "ghijkl.rct"}));
}

// The build's own package writer and this reader agree: a folder packed into an item package
// loads entry for entry, and a plain package unpacks to the same files.
TEST(PackageWriter, FolderRoundTripsThroughLoaderAndUnpacker) {
    TempDir dir;
    fs::create_directories(dir.sub("src"));
    fs::create_directories(dir.sub("out"));
    const std::vector<Entry> files = {{"view1.html", "<html>1</html>"},
                                      {"style.css", std::string(5000, 'c')},
                                      {"empty.js", ""},
                                      {"3.rct", "r"}};
    for (const Entry& e : files)
        WriteFileBytes(dir.sub("src/" + e.name), e.data);
    const std::string writer =
        std::string(KESTRIN_PYTHON " '") + PROJECT_SOURCE_DIR + "/tools/packwriter/kestrin_pack.py'";
    const std::string exe = dir.sub("item.exe");
    const std::string pak = dir.sub("skin.pak");
    ASSERT_EQ(std::system((writer + " exe -o '" + exe + "' --package 188='" + dir.sub("src") + "'").c_str()),
              0);
    ASSERT_EQ(std::system((writer + " pack '" + dir.sub("src") + "' -o '" + pak + "'").c_str()), 0);

    CMyMemFile store;
    ASSERT_TRUE(store.LoadPackage(AfxUnmapPath(exe).c_str(), W(kRoot + "book\\12\\")));
    EXPECT_EQ(store.m_arrEntries.GetSize(), static_cast<INT_PTR>(files.size()));
    for (const Entry& e : files) {
        CMemFileEntry* found = store.FindFile(W(kRoot + "book\\12\\" + e.name));
        ASSERT_NE(found, nullptr) << e.name;
        EXPECT_EQ(Data(found), e.data);
    }

    CPackUnpacker unpacker;
    ASSERT_TRUE(
        unpacker.UnpackFile(AfxUnmapPath(pak).c_str(), (AfxUnmapPath(dir.sub("out")) + "\\").c_str()));
    for (const Entry& e : files)
        EXPECT_EQ(ReadFileBytes(dir.sub("out/" + e.name)), e.data) << e.name;

    // A name that the unpacker would refuse is refused by the writer already.
    for (const char* name : {"a:b.html", "what?.css", "x|y.js", "tab\there.png", "back\\slash.png"}) {
        SCOPED_TRACE(name);
        const std::string bad = dir.sub("bad");
        fs::remove_all(bad);
        fs::create_directories(bad);
        WriteFileBytes(bad + "/ok.html", "ok");
        WriteFileBytes(bad + "/" + name, "x");
        EXPECT_NE(
            std::system((writer + " pack '" + bad + "' -o '" + dir.sub("bad.pak") + "' 2>/dev/null").c_str()),
            0);
    }
}
