// Deployment of the built-in skin, pages and reader movie into the versioned component folders,
// decided component by component by the build Version.ini records.
#include "app/PackInfo.h"
#include "tests/app/AppFixture.h"
#include "tests/support/Components.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
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

// A whole component of the build, where the program looks for it.
void InstallWhole(const std::string& exeFiles, const std::string& key, const std::string& build) {
    if (key == "skin")
        components::WriteFiles(exeFiles + "/skin_" + build, components::WholeSkin());
    else if (key == "data")
        components::WriteFiles(exeFiles + "/data_" + build, components::WholePages());
    else
        components::WriteFiles(exeFiles + "/" + build, {{"read.swf", components::Fws("movie " + build)}});
}

TEST_F(DeployTest, EachComponentFollowsItsOwnRecordedBuild) {
    struct Case {
        const char* key;
        const char* recorded;
        bool installed; // a whole component of the recorded build is there
        bool deployed;
    };
    const Case cases[] = {
        {"skin", "2007", true, false},
        {"data", "2006", true, false},
        {"read.swf", "9999", true, false},
        {"skin", "2005", true, true},
        {"data", "1999", true, true},
        {"read.swf", "0", false, true},
        // A newer build recorded whose component is not there gives way to this build's own.
        {"skin", "2007", false, true},
        {"data", "2006", false, true},
        {"read.swf", "9999", false, true},
    };
    const struct {
        const char* key;
        const char* file;
    } where[] = {{"skin", "skin_2005/WinSkin3.xml"},
                 {"data", "data_2005/Bookshelf.html"},
                 {"read.swf", "2005/read.swf"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + "=" + c.recorded + (c.installed ? " installed" : " missing"));
        fs::remove_all(ExeFiles());
        fs::create_directories(ExeFiles());
        SetVersion(c.key, c.recorded);
        if (c.installed)
            InstallWhole(ExeFiles(), c.key, c.recorded);
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

// What an update of an earlier build could leave recorded: the start-up gives each back its own.
TEST_F(DeployTest, ARecordedNewerComponentThatIsDamagedIsDeployedAgain) {
    const struct {
        const char* label;
        const char* key;
        std::function<void(const std::string&)> leave; // into ExeFiles, for build 2010
        const char* file;                              // this build's, which comes back
    } cases[] = {
        {"pages without the pages", "data",
         [](const std::string& e) {
             components::WriteFiles(e + "/data_2010", {{"x.txt", "x"}});
         },
         "data_2005/Bookshelf.html"},
        {"pages with an empty shelf", "data",
         [](const std::string& e) {
             auto pages = components::WholePages();
             pages["Bookshelf2.html"] = "";
             components::WriteFiles(e + "/data_2010", pages);
         },
         "data_2005/Bookshelf.html"},
        {"skin without its window skin", "skin",
         [](const std::string& e) {
             auto skin = components::WholeSkin();
             skin.erase("WinSkin3.xml");
             components::WriteFiles(e + "/skin_2010", skin);
         },
         "skin_2005/WinSkin3.xml"},
        {"movie of garbage", "read.swf",
         [](const std::string& e) {
             components::WriteFiles(e + "/2010", {{"read.swf", "garbage"}});
         },
         "2005/read.swf"},
        {"compressed movie cut short", "read.swf",
         [](const std::string& e) {
             components::WriteFiles(e + "/2010", {{"read.swf", components::Cws(std::string(3000, 'm'), 5)}});
         },
         "2005/read.swf"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        fs::remove_all(ExeFiles());
        fs::create_directories(ExeFiles());
        SetVersion(c.key, "2010");
        c.leave(ExeFiles());
        CPackInfo info;
        info.DeployComponents();
        EXPECT_EQ(Version(c.key), "2005");
        EXPECT_TRUE(fs::exists(ExeFiles(c.file)));
    }
}

TEST_F(DeployTest, ANewerInstalledSkinFolderIsNotTouched) {
    InstallWhole(ExeFiles(), "skin", "2007");
    WriteFileBytes(ExeFiles("skin_2007/WinSkin3.xml"), "<skin name=\"2007\"/>");
    SetVersion("skin", "2007");
    const std::vector<std::string> before = Tree(ExeFiles("skin_2007"));
    CPackInfo info;
    info.DeployComponents();
    EXPECT_FALSE(fs::exists(ExeFiles("skin_2005")));
    EXPECT_EQ(Tree(ExeFiles("skin_2007")), before);
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
