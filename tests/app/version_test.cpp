// The hand-over to a newer installed copy and the self-copy into the installed-copies folder.
#include "app/PackInfo.h"
#include "foundation/CommonFunc.h"
#include "platform/kernel/Module.h"
#include "tests/app/AppFixture.h"
#include "tests/support/WaitFor.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string SelfPath() {
    return fs::read_symlink("/proc/self/exe").string();
}

bool IsExecutable(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && (st.st_mode & S_IXUSR) != 0;
}

// The folders that go with the program, where this test program finds them (the build's own).
const char* const kCompanions[] = {"player", "webext"};

class InstalledVersionTest : public FreshHomeTest {
protected:
    void SetUp() override {
        FreshHomeTest::SetUp();
        InitPaths();
        // Should a hand-over ever start this very test program, it runs no test.
        SetEnv("GTEST_FILTER", "NoTestAtAll");
    }

    // An installed copy that writes the arguments it was started with, one a line, to args.txt.
    void InstallRecorder(const std::string& build, mode_t mode = 0755) {
        fs::create_directories(ExeFiles(build));
        std::string script = ExeFiles(build + "/kestrin.exe");
        WriteFileBytes(script, "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + ArgsFile() + ".part'\nmv '" +
                                   ArgsFile() + ".part' '" + ArgsFile() + "'\n");
        chmod(script.c_str(), mode);
    }
    std::string ArgsFile() const { return m_home.sub("args.txt"); }
    // What the recorder was given, once it has run.
    std::string RecordedArgs() {
        EXPECT_TRUE(testwait::WaitFor([&] { return fs::exists(ArgsFile()); })) << "the copy did not run";
        std::string args = ReadFileBytes(ArgsFile());
        fs::remove(ArgsFile());
        return args;
    }
    bool ItemDue() {
        CPackInfo info;
        info.Load("");
        return info.HasBundle() && !info.IsRead();
    }
};

TEST_F(InstalledVersionTest, FirstStartCopiesItselfAndRecordsTheBuildOnceTheCopyIsWhole) {
    CPackInfo info;
    EXPECT_TRUE(info.CheckInstalledVersion());
    ASSERT_EQ(AfxWaitForThreads(10000), 0);
    std::string copy = ExeFiles("2005/kestrin.exe");
    EXPECT_EQ(ReadFileBytes(copy), ReadFileBytes(SelfPath()));
    EXPECT_TRUE(IsExecutable(copy));
    EXPECT_EQ(Version("kestrin.exe"), "2005");
    // The copy carries what goes with the program, whole, and nothing half-copied is left.
    std::set<std::string> left;
    for (const auto& e : fs::directory_iterator(ExeFiles("2005")))
        left.insert(e.path().filename().string());
    EXPECT_EQ(left, (std::set<std::string>{"kestrin.exe", "player", "webext"}));
    for (const char* name : kCompanions) {
        const auto source = TreeFiles(AfxProgramCompanionFolder(name));
        EXPECT_FALSE(source.empty()) << name << " is not built";
        EXPECT_TRUE(TreeFiles(ExeFiles("2005/") + name) == source) << name;
    }
}

TEST_F(InstalledVersionTest, AnInstalledCopyOfThisBuildWithoutWhatGoesWithItIsCompleted) {
    fs::create_directories(ExeFiles("2005/player"));
    // A copy that starts (one that cannot is replaced whole).
    const std::string before = "#!/bin/sh\nexit 0\n";
    WriteFileBytes(ExeFiles("2005/kestrin.exe"), before);
    chmod(ExeFiles("2005/kestrin.exe").c_str(), 0755);
    WriteFileBytes(ExeFiles("2005/player/player.html"), "kept");
    SetVersion("kestrin.exe", "2005");
    CPackInfo info;
    EXPECT_TRUE(info.CheckInstalledVersion());
    ASSERT_EQ(AfxWaitForThreads(10000), 0);
    // The missing folder is added; what was there stays as it was.
    EXPECT_TRUE(TreeFiles(ExeFiles("2005/webext")) == TreeFiles(AfxProgramCompanionFolder("webext")));
    EXPECT_EQ(TreeFiles(ExeFiles("2005/player")),
              (std::map<std::string, std::string>{{"player.html", "kept"}}));
    // Compared, not printed: a program's bytes would flood the log.
    EXPECT_TRUE(ReadFileBytes(ExeFiles("2005/kestrin.exe")) == before) << "the copy was replaced";
    EXPECT_EQ(Version("kestrin.exe"), "2005");
}

TEST_F(InstalledVersionTest, SelfCopyRaisesTheRecordedBuildOrReplacesACopyThatCannotStart) {
    struct Case {
        const char* what;
        const char* recorded;
        int recordedCopy;  // for a recorded newer build: 0 none on disk, 1 one that starts
        int targetThere;   // a copy of this build exists already: 0 no, 1 one that starts, 2 one that cannot
        bool folderIsFile; // the copy's folder cannot be made
        const char* want;
    };
    const Case cases[] = {
        {"a newer build was recorded meanwhile", "2006", 1, 0, false, "2006"},
        {"a newer build recorded whose copy is not there gives way", "2006", 0, 0, false, "2005"},
        {"an older build is raised", "2001", 0, 0, false, "2005"},
        {"an existing copy is kept and recorded", "", 0, 1, false, "2005"},
        {"an existing copy that cannot start is replaced", "", 0, 2, false, "2005"},
        {"a copy that cannot be made is not recorded", "", 0, 0, true, ""},
    };
    const std::string runs = "#!/bin/sh\nexit 0\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(ExeFiles());
        fs::create_directories(ExeFiles());
        if (*c.recorded)
            SetVersion("kestrin.exe", c.recorded);
        if (c.recordedCopy) {
            fs::create_directories(ExeFiles(std::string(c.recorded)));
            WriteFileBytes(ExeFiles(std::string(c.recorded) + "/kestrin.exe"), runs);
            chmod(ExeFiles(std::string(c.recorded) + "/kestrin.exe").c_str(), 0755);
        }
        if (c.targetThere) {
            fs::create_directories(ExeFiles("2005"));
            WriteFileBytes(ExeFiles("2005/kestrin.exe"), c.targetThere == 1 ? runs : "installed before");
            chmod(ExeFiles("2005/kestrin.exe").c_str(), 0755);
        }
        if (c.folderIsFile)
            WriteFileBytes(ExeFiles("2005"), "in the way");
        EXPECT_EQ(CopySelfThreadProc(nullptr), 1u);
        EXPECT_EQ(Version("kestrin.exe"), c.want);
        const bool self = c.targetThere != 1 && !c.folderIsFile;
        if (c.targetThere == 1)
            EXPECT_EQ(ReadFileBytes(ExeFiles("2005/kestrin.exe")), runs);
        else if (self)
            EXPECT_TRUE(ReadFileBytes(ExeFiles("2005/kestrin.exe")) == ReadFileBytes(SelfPath()));
        else
            EXPECT_EQ(ReadFileBytes(ExeFiles("2005")), "in the way");
    }
}

TEST_F(InstalledVersionTest, NewerCopyTakesOverAndGetsTheBuiltInItemOnce) {
    InstallRecorder("2006");
    SetVersion("kestrin.exe", "2006");
    CPackInfo first;
    EXPECT_FALSE(first.CheckInstalledVersion());
    EXPECT_EQ(RecordedArgs(), "-p\n" + std::string(g_CommonFunc.GetModulePath().GetString()) + "\n");
    EXPECT_FALSE(ItemDue());

    // The item is read now: the next hand-over passes no package.
    CPackInfo second;
    EXPECT_FALSE(second.CheckInstalledVersion());
    EXPECT_EQ(RecordedArgs(), "\n");
    EXPECT_FALSE(fs::exists(ExeFiles("2005")));
}

TEST_F(InstalledVersionTest, ThisCopyStartsWhenTheNewerOneCannotTakeOver) {
    struct Case {
        const char* what;
        int setup; // 0 no file, 1 not executable, 2 its interpreter is missing, 3 this very program
    };
    for (const Case c :
         {Case{"no copy on disk", 0}, Case{"a copy without execute bits", 1},
          Case{"a copy whose start fails", 2}, Case{"the recorded copy is this very program", 3}}) {
        SCOPED_TRACE(c.what);
        fs::remove_all(ExeFiles());
        fs::create_directories(ExeFiles("2006"));
        SetVersion("kestrin.exe", "2006");
        if (c.setup == 1)
            InstallRecorder("2006", 0644);
        if (c.setup == 2) {
            WriteFileBytes(ExeFiles("2006/kestrin.exe"), "#!/no/such/interpreter\n");
            chmod(ExeFiles("2006/kestrin.exe").c_str(), 0755);
        }
        if (c.setup == 3)
            fs::create_symlink(SelfPath(), ExeFiles("2006/kestrin.exe"));
        CPackInfo info;
        EXPECT_TRUE(info.CheckInstalledVersion());
        ASSERT_EQ(AfxWaitForThreads(10000), 0);
        // The built-in item stays due: this copy offers it itself.
        EXPECT_TRUE(ItemDue());
        EXPECT_FALSE(fs::exists(ArgsFile()));
        // A recorded copy that cannot start is no installed copy: this build installs itself.
        if (c.setup == 3) {
            EXPECT_EQ(Version("kestrin.exe"), "2006");
            EXPECT_FALSE(fs::exists(ExeFiles("2005")));
        } else {
            EXPECT_EQ(Version("kestrin.exe"), "2005");
            EXPECT_TRUE(ReadFileBytes(ExeFiles("2005/kestrin.exe")) == ReadFileBytes(SelfPath()));
            EXPECT_TRUE(IsExecutable(ExeFiles("2005/kestrin.exe")));
        }
    }
}

TEST_F(InstalledVersionTest, SameBuildInstalledNeitherCopiesNorHandsOver) {
    SetVersion("kestrin.exe", "2005");
    int before = AfxGetRunningThreadCount();
    CPackInfo info;
    EXPECT_TRUE(info.CheckInstalledVersion());
    EXPECT_EQ(AfxGetRunningThreadCount(), before);
    EXPECT_FALSE(fs::exists(ExeFiles("2005")));
    EXPECT_TRUE(ItemDue());
}

} // namespace
