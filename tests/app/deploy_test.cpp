// Deployment of the built-in skin, pages and reader movie into the versioned component folders,
// decided component by component by the build Version.ini records.
#include "app/PackInfo.h"
#include "tests/app/AppFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string Fixture(const std::string& rel) {
    return ReadFileBytes(std::string(EDITION_DIR) + "/" + rel);
}

class DeployTest : public FreshHomeTest {
protected:
    void SetUp() override {
        FreshHomeTest::SetUp();
        InitPaths();
    }
};

TEST_F(DeployTest, FreshRootGetsEveryBuiltInComponentAndRecordsThisBuild) {
    CPackInfo info;
    info.DeployComponents();
    EXPECT_EQ(Tree(ExeFiles()), (std::vector<std::string>{"2005", "2005/read.swf", "Version.ini", "data_2005",
                                                          "data_2005/Bookshelf.html", "skin_2005",
                                                          "skin_2005/WinSkin3.xml", "skin_2005/back.bmp"}));
    EXPECT_EQ(ReadFileBytes(ExeFiles("skin_2005/WinSkin3.xml")), Fixture("skin/WinSkin3.xml"));
    EXPECT_EQ(ReadFileBytes(ExeFiles("data_2005/Bookshelf.html")), Fixture("pages/Bookshelf.html"));
    EXPECT_EQ(ReadFileBytes(ExeFiles("2005/read.swf")), Fixture("read.swf"));
    for (const char* key : {"skin", "data", "read.swf"})
        EXPECT_EQ(Version(key), "2005") << key;
    // The installed copy is the self-copy's business, not the deployment's.
    EXPECT_EQ(Version("kestrin.exe"), "");
}

TEST_F(DeployTest, EachComponentFollowsItsOwnRecordedBuild) {
    struct Case {
        const char* key;
        const char* recorded;
        bool deployed;
    };
    const Case cases[] = {
        {"skin", "2007", false}, {"data", "2006", false}, {"read.swf", "9999", false},
        {"skin", "2005", true},  {"data", "1999", true},  {"read.swf", "0", true},
    };
    const struct {
        const char* key;
        const char* file;
    } where[] = {{"skin", "skin_2005/WinSkin3.xml"},
                 {"data", "data_2005/Bookshelf.html"},
                 {"read.swf", "2005/read.swf"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + "=" + c.recorded);
        fs::remove_all(ExeFiles());
        fs::create_directories(ExeFiles());
        SetVersion(c.key, c.recorded);
        // An earlier deployment of this build, changed since: it is put back when deployed again.
        for (const auto& w : where) {
            fs::create_directories(fs::path(ExeFiles(w.file)).parent_path());
            WriteFileBytes(ExeFiles(w.file), "changed");
        }
        CPackInfo info;
        info.DeployComponents();
        for (const auto& w : where) {
            bool isCase = std::string(w.key) == c.key;
            bool wantNew = !isCase || c.deployed;
            EXPECT_EQ(ReadFileBytes(ExeFiles(w.file)) != "changed", wantNew) << w.file;
            EXPECT_EQ(Version(w.key), isCase && !c.deployed ? c.recorded : "2005") << w.key;
        }
    }
}

TEST_F(DeployTest, ANewerInstalledSkinFolderIsNotTouched) {
    fs::create_directories(ExeFiles("skin_2007"));
    WriteFileBytes(ExeFiles("skin_2007/WinSkin3.xml"), "<skin name=\"2007\"/>");
    SetVersion("skin", "2007");
    CPackInfo info;
    info.DeployComponents();
    EXPECT_FALSE(fs::exists(ExeFiles("skin_2005")));
    EXPECT_EQ(Tree(ExeFiles("skin_2007")), std::vector<std::string>{"WinSkin3.xml"});
    EXPECT_EQ(ReadFileBytes(ExeFiles("skin_2007/WinSkin3.xml")), "<skin name=\"2007\"/>");
    EXPECT_EQ(Version("skin"), "2007");
    EXPECT_TRUE(fs::exists(ExeFiles("data_2005/Bookshelf.html")));
    EXPECT_TRUE(fs::exists(ExeFiles("2005/read.swf")));
}

TEST_F(DeployTest, ComponentsAModuleLacksAreSkippedAndStillRecorded) {
    // A module with the skin alone, as a build whose pages and movie are not made yet.
    std::string pak = m_home.sub("only-skin.exe");
    int status = -1;
    std::string cmd = std::string(KESTRIN_PYTHON " ") + PROJECT_SOURCE_DIR +
                      "/tools/packwriter/kestrin_pack.py exe -o '" + pak + "' --package 151='" + EDITION_DIR +
                      "/skin' 2>&1";
    std::string said = RunCommand(cmd, &status);
    ASSERT_EQ(status, 0) << said;
    CPackInfo info;
    info.Load(WinPath(pak));
    ASSERT_NE(info.m_hModule, nullptr);
    info.DeployComponents();
    EXPECT_EQ(Tree(ExeFiles()), (std::vector<std::string>{"2005", "Version.ini", "data_2005", "skin_2005",
                                                          "skin_2005/WinSkin3.xml", "skin_2005/back.bmp"}));
    for (const char* key : {"skin", "data", "read.swf"})
        EXPECT_EQ(Version(key), "2005") << key;
}

TEST_F(DeployTest, ExtractionReportsWhatItCouldNotWrite) {
    CPackInfo info;
    CString target = WinPath(ExeFiles("movie.swf"));
    EXPECT_TRUE(info.ExtractResource(152, target, FALSE));
    EXPECT_EQ(ReadFileBytes(ExeFiles("movie.swf")), Fixture("read.swf"));
    EXPECT_FALSE(info.ExtractResource(4242, target, FALSE));
    fs::create_directories(ExeFiles("a-folder"));
    EXPECT_FALSE(info.ExtractResource(152, WinPath(ExeFiles("a-folder")), FALSE));
    EXPECT_FALSE(info.ExtractResource(152, WinPath(ExeFiles("no/such/folder/x.swf")), FALSE));
}

} // namespace
