// The store's item packages as the program reads them before a movie opens: the strings that
// choose the reader, the memory files the local server will serve, and the start files whose
// pages the movie asks for. Also the movie itself as the program carries it.
#include "contentserver/MyMemFile.h"
#include "platform/afx.h"

#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

// The package the store serves for pid, written to a file by the store's own code.
std::string WritePackage(const TempDir& dir, const std::string& pid) {
    const std::string out = dir.sub(pid + ".exe");
    const std::string cmd = "python3 -c \"import sys; sys.path.insert(0, '" +
                            std::string(PROJECT_SOURCE_DIR) +
                            "/tools/store'); import kestrin_store as k; s = k.Store(); "
                            "open(sys.argv[2], 'wb').write(s.package(sys.argv[1]))\" '" +
                            pid + "' '" + out + "'";
    return std::system(cmd.c_str()) == 0 ? out : std::string();
}

std::string MyData(HMODULE module, UINT id) {
    HRSRC res = FindResourceA(module, MAKEINTRESOURCEA(id), "MYDATA");
    if (res == nullptr)
        return "<missing>";
    const char* p = static_cast<const char*>(LockResource(LoadResource(module, res)));
    return std::string(p, SizeofResource(module, res));
}

std::string Data(const CMemFileEntry* e) {
    return std::string(reinterpret_cast<const char*>(e->pData), e->dwSize);
}

// The "page" entries of a start file, in order.
std::vector<std::string> Pages(const std::string& list) {
    std::vector<std::string> pages;
    std::istringstream in(list);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("page ", 0) == 0)
            pages.push_back(line.substr(5));
    return pages;
}

struct ItemCase {
    const char* pid;
    const char* type;
    const char* priceFlag; // 227
    const char* htmlFlag;  // 280: "1" is the HTML reader, anything else the movie
    size_t pages;          // 0: no start files at all
};

class FlashItems : public ::testing::TestWithParam<ItemCase> {};

TEST_P(FlashItems, PackageChoosesTheReaderAndHoldsWhatTheMovieAsksFor) {
    const ItemCase& c = GetParam();
    TempDir dir;
    const std::string exe = WritePackage(dir, c.pid);
    ASSERT_FALSE(exe.empty());
    HMODULE module = LoadLibraryExA(AfxUnmapPath(exe).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(MyData(module, 162), c.pid);
    EXPECT_EQ(MyData(module, 294), c.type);
    EXPECT_EQ(MyData(module, 227), c.priceFlag);
    EXPECT_EQ(MyData(module, 280), c.htmlFlag);
    FreeLibrary(module);

    const std::string prefix = std::string(MEMFILE_ROOT) + c.type + "\\" + c.pid + "\\";
    CMyMemFile store;
    ASSERT_TRUE(store.LoadPackage(AfxUnmapPath(exe).c_str(), MemFileWiden(prefix.c_str())));
    for (const char* start : {"stream", "stream2"}) {
        SCOPED_TRACE(start);
        CMemFileEntry* list = store.FindFile(MemFileWiden((prefix + start).c_str()));
        if (c.pages == 0) {
            EXPECT_EQ(list, nullptr);
            continue;
        }
        ASSERT_NE(list, nullptr);
        const std::vector<std::string> pages = Pages(Data(list));
        ASSERT_EQ(pages.size(), c.pages);
        // The program serves a page by the part of its address after the last "/".
        for (const std::string& page : pages) {
            CMemFileEntry* picture =
                store.FindFile(MemFileWiden((prefix + page.substr(page.rfind('/') + 1)).c_str()));
            ASSERT_NE(picture, nullptr) << page;
            EXPECT_EQ(Data(picture).substr(0, 2), "\xFF\xD8") << page;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Store, FlashItems,
                         ::testing::Values(ItemCase{"f1", "mag", "0", "0", 4},
                                           ItemCase{"f2", "mag", "1", "0", 3},
                                           ItemCase{"f3", "book", "1", "0", 5},
                                           ItemCase{"m1", "mag", "1", "1", 0}),
                         [](const auto& info) { return std::string(info.param.pid); });

TEST(ReaderMovie, TheProgramCarriesTheBuiltMovie) {
    const std::string built = ReadFileBytes(std::string(PROJECT_BINARY_DIR) + "/res/movie/read.swf");
    ASSERT_GE(built.size(), 8u);
    EXPECT_EQ(built.substr(1, 2), "WS"); // "FWS" or "CWS": a Flash movie
    EXPECT_EQ(MyData(nullptr, 152), built);
}

} // namespace
