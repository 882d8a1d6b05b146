// The skin pictures are made at build time; the same table must give the same bytes, and the
// package the program carries must hold exactly what the generator makes. The mixed-case fixture
// names its icon "ico.png" while the file is "Ico.PNG", as a package made on another system may.
#include "platform/kernel/FileSys.h"
#include "skin/SkinInfo.h"
#include "tests/skin/PngRead.h"
#include "tests/skin/SkinFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

namespace fs = std::filesystem;

namespace {

std::map<std::string, std::string> FilesOf(const fs::path& folder) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::directory_iterator(folder))
        out[e.path().filename().string()] = ReadFileBytes(e.path());
    return out;
}

TEST(SkinGenerator, MakesTheSameBytesEveryRunAndWhatThePackageHolds) {
    TempDir a("skingen_a_"), b("skingen_b_");
    const std::string table = PROJECT_SOURCE_DIR "/res/skin/pictures.txt";
    int status = -1;
    RunCommand(std::string(SKINGEN_PATH) + " '" + table + "' '" + a.path() + "' 2>&1", &status);
    ASSERT_EQ(status, 0);
    RunCommand(std::string(SKINGEN_PATH) + " '" + table + "' '" + b.path() + "' 2>&1", &status);
    ASSERT_EQ(status, 0);
    const auto first = FilesOf(a.path()), second = FilesOf(b.path());
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first.size(), second.size());
    for (const auto& [name, bytes] : first) {
        auto it = second.find(name);
        ASSERT_NE(it, second.end()) << name;
        EXPECT_TRUE(bytes == it->second) << name << " differs between two runs";
    }
    // The build gathered the same pictures into the folder it packed.
    const auto packed = FilesOf(PROJECT_BINARY_DIR "/res/skin");
    for (const auto& [name, bytes] : first) {
        auto it = packed.find(name);
        ASSERT_NE(it, packed.end()) << name;
        EXPECT_TRUE(bytes == it->second) << name << " in the package is not what the generator makes";
    }
}

TEST(SkinGenerator, RefusesATableItCannotRead) {
    TempDir out("skingen_bad_");
    WriteFileBytes(out.sub("table.txt"), "x.png button fw=4 fh=4 on=nowhere.png y=0 glyph=close\n");
    int status = 0;
    const std::string said = RunCommand(
        std::string(SKINGEN_PATH) + " '" + out.sub("table.txt") + "' '" + out.path() + "' 2>&1", &status);
    EXPECT_NE(status, 0);
    EXPECT_NE(said.find("nowhere.png"), std::string::npos) << said;
    EXPECT_FALSE(fs::exists(out.sub("x.png")));
}

TEST(SkinFileNames, AreFoundWithoutRegardToCase) {
    SkinFolder skin;
    for (const auto& e : fs::directory_iterator(TEST_SOURCE_DIR "/fixtures/mixed_case"))
        fs::copy_file(e.path(), skin.File(e.path().filename().string()));
    ASSERT_FALSE(fs::exists(skin.File("ico.png"))); // the file system is case-sensitive here

    CSkinInfo info;
    ASSERT_TRUE(info.Load("winskin.XML"));
    const CString icon = info.GetIconImage();
    EXPECT_EQ(icon, skin.Win() + "ico.png"); // the path keeps the case the skin file gave
    EXPECT_EQ(info.GetIconRect(), CRect(20, 0, -1, -1));

    FILE* f = win_fopen(icon, "rb");
    ASSERT_NE(f, nullptr) << "ico.png did not find Ico.PNG";
    std::string bytes;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        bytes.append(buf, n);
    fclose(f);
    EXPECT_EQ(bytes, ReadFileBytes(skin.File("Ico.PNG")));
    EXPECT_TRUE(ReadPng(bytes).ok);
}

} // namespace
