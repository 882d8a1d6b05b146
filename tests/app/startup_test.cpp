// The start-up up to the main window, each run as a process of its own: a fresh data root, a
// second start while an instance runs, a newer installed copy, an installed newer skin and a
// socket layer that cannot be used. The probes are the program's start-up linked with this
// build's real resources ("plain") or with the test edition that carries a built-in item.
#include "app/HtmlVelkorsApp.h"
#include "platform/shell/SingleInstance.h"
#include "platform/user/HeadlessScreen.h"
#include "net/UpdateCheck.h"
#include "tests/app/AppFixture.h"
#include "tests/net/StorePeer.h"
#include "tests/support/Components.h"
#include "tests/support/LockHolder.h"
#include "tests/support/WaitFor.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// A probe started with its output going to a file.
class Probe {
public:
    // cwd: the folder the probe starts in ("" for this process's).
    Probe(const std::string& program, const std::string& outFile, const std::vector<std::string>& args = {},
          const std::string& cwd = "")
        : m_out(outFile) {
        std::vector<std::string> argv{program};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> cargv;
        for (auto& a : argv)
            cargv.push_back(a.data());
        cargv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        if (!cwd.empty())
            posix_spawn_file_actions_addchdir_np(&fa, cwd.c_str());
        if (posix_spawn(&m_pid, program.c_str(), &fa, nullptr, cargv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&fa);
    }
    ~Probe() {
        if (m_pid > 0 && !m_done) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    bool Started() const { return m_pid > 0; }
    // True once the probe has ended (without waiting).
    bool Ended() {
        if (!m_done && m_pid > 0 && waitpid(m_pid, &m_status, WNOHANG) == m_pid)
            m_done = true;
        return m_done;
    }
    // Waits for the end, which must come with this status; the probe's output.
    std::string Output(int expectStatus = 0) {
        if (!m_done && m_pid > 0 && waitpid(m_pid, &m_status, 0) == m_pid)
            m_done = true;
        EXPECT_TRUE(m_done && WIFEXITED(m_status) && WEXITSTATUS(m_status) == expectStatus)
            << "status " << m_status;
        return ReadFileBytes(m_out);
    }

private:
    std::string m_out;
    pid_t m_pid = -1;
    int m_status = -1;
    bool m_done = false;
};

// The output of a start of the program: the probe, run to its end.
std::string RunProbe(const TempDir& home, const char* probe, const std::vector<std::string>& args = {},
                     int expectStatus = 0) {
    Probe p(probe, home.sub("probe.out"), args);
    EXPECT_TRUE(p.Started());
    return p.Output(expectStatus);
}

class StartupTest : public FreshHomeTest {
protected:
    std::string Run(const char* probe, const std::vector<std::string>& args = {}, int expectStatus = 0) {
        return RunProbe(m_home, probe, args, expectStatus);
    }
    // The data folder's lock, held by another process as a running instance holds it.
    std::unique_ptr<LockHolder> HoldDataFolder() {
        InitPaths();
        auto holder = std::make_unique<LockHolder>(DataRoot() + "/" APP_DATA_LOCK_NAME);
        EXPECT_TRUE(holder->Holds());
        return holder;
    }
    // What a start prints when it finds the data folder held: message 104 of the program's table.
    static std::string InUse() {
        return "in-use " +
               Hex(AfxUtf8ToAnsi(
                   "程序已经在运行，但无法与它取得联系。请先退出正在运行的程序，然后再启动。")) +
               "\n";
    }
};

TEST_F(StartupTest, FreshDataRootDeploysThisBuildAndInstallsItsCopy) {
    EXPECT_EQ(Run(APP_PROBE_PLAIN), "run\n");
    for (const char* folder : {"Data", "ExeFiles", "Images/book", "Images/mag", "Update"})
        EXPECT_TRUE(fs::is_directory(DataRoot() + "/" + folder)) << folder;
    std::vector<std::string> exeFiles = Tree(ExeFiles());
    // This build's own skin package, whatever else it holds.
    EXPECT_NE(std::find(exeFiles.begin(), exeFiles.end(), "skin_2005/WinSkin3.xml"), exeFiles.end());
    EXPECT_NE(std::find(exeFiles.begin(), exeFiles.end(), "data_2005"), exeFiles.end());
    EXPECT_TRUE(ReadFileBytes(ExeFiles("2005/kestrin.exe")) == ReadFileBytes(APP_PROBE_PLAIN));
    for (const char* key : {"kestrin.exe", "skin", "data", "read.swf"})
        EXPECT_EQ(Version(key), "2005") << key;
    // This build carries no built-in item: nothing is recorded as read.
    EXPECT_FALSE(fs::exists(ExeFiles("ReadLog.ini")));
}

// A program copied out of the build tree, with a player of its own beside it and no browser
// extension: its installed copy carries that player, and nothing of the build's folders.
TEST_F(StartupTest, AProgramOutsideTheBuildTakesWhatGoesWithItFromBesideItOnly) {
    const std::string elsewhere = m_home.sub("elsewhere");
    fs::create_directories(elsewhere + "/player");
    WriteFileBytes(elsewhere + "/player/player.html", "beside the program");
    fs::copy_file(APP_PROBE_PLAIN, elsewhere + "/kestrin");
    fs::permissions(elsewhere + "/kestrin", fs::perms::owner_all);
    EXPECT_EQ(Run((elsewhere + "/kestrin").c_str()), "run\n");
    EXPECT_EQ(TreeFiles(ExeFiles("2005/player")),
              (std::map<std::string, std::string>{{"player.html", "beside the program"}}));
    EXPECT_FALSE(fs::exists(ExeFiles("2005/webext")));
    EXPECT_EQ(Version("kestrin.exe"), "2005");
}

TEST_F(StartupTest, AnInstalledNewerSkinIsLeftAlone) {
    InitPaths(); // to lay out what the probe finds
    components::WriteFiles(ExeFiles("skin_2007"), components::WholeSkin());
    const std::vector<std::string> skin = Tree(ExeFiles("skin_2007"));
    SetVersion("skin", "2007");
    EXPECT_EQ(Run(APP_PROBE_PLAIN), "run\n");
    EXPECT_FALSE(fs::exists(ExeFiles("skin_2005")));
    EXPECT_EQ(Tree(ExeFiles("skin_2007")), skin);
    EXPECT_EQ(Version("skin"), "2007");
    EXPECT_EQ(Version("data"), "2005");
    EXPECT_EQ(Version("read.swf"), "2005");
}

TEST_F(StartupTest, NewerInstalledCopyTakesTheStartWithTheBuiltInItem) {
    InitPaths(); // to lay out what the probe finds
    fs::create_directories(ExeFiles("2006"));
    const std::string args = m_home.sub("args.txt");
    WriteFileBytes(ExeFiles("2006/kestrin.exe"), "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + args +
                                                     ".part'\nmv '" + args + ".part' '" + args + "'\n");
    chmod(ExeFiles("2006/kestrin.exe").c_str(), 0755);
    SetVersion("kestrin.exe", "2006");
    EXPECT_EQ(Run(APP_PROBE_BUNDLE), "end\n");
    ASSERT_TRUE(testwait::WaitFor([&] { return fs::exists(args); }));
    EXPECT_EQ(ReadFileBytes(args), "-p\n" + AfxUnmapPath(APP_PROBE_BUNDLE) + "\n");
    EXPECT_EQ(IniValue(ExeFiles("ReadLog.ini"), "book_b2012003", "read"), "yes");
    // Nothing of this build is deployed or copied: the newer copy does its own start.
    EXPECT_EQ(Tree(ExeFiles()),
              (std::vector<std::string>{"2006", "2006/kestrin.exe", "ReadLog.ini", "Version.ini"}));
}

TEST_F(StartupTest, ARecordedNewerCopyThatCannotStartIsReplacedByThisBuild) {
    struct Case {
        const char* label;
        std::string bytes;
        fs::perms mode;
    } cases[] = {
        {"a program without its execute bits", components::Program(), fs::perms::owner_read},
        {"a text that is no program", "MZ text", fs::perms::owner_all},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        fs::remove_all(DataRoot());
        InitPaths();
        components::WriteFiles(ExeFiles("2010"), {{"kestrin.exe", c.bytes}});
        fs::permissions(ExeFiles("2010/kestrin.exe"), c.mode, fs::perm_options::replace);
        SetVersion("kestrin.exe", "2010");
        // No hand-over to it: this build starts, installs itself and is the copy on record.
        EXPECT_EQ(Run(APP_PROBE_PLAIN), "run\n");
        EXPECT_TRUE(ReadFileBytes(ExeFiles("2005/kestrin.exe")) == ReadFileBytes(APP_PROBE_PLAIN));
        EXPECT_EQ(Version("kestrin.exe"), "2005");
    }
}

// A whole run of the update against the store, between two starts of the program: what the
// update does not find whole is neither kept nor recorded, so the second start has every
// component of its own, its shelf page included.
struct BadUpdate {
    const char* name;
    const char* component;
    const char* type;
    std::string bytes;                        // the download, or
    std::map<std::string, std::string> files; // a package of these
    const char* secondStart;                  // what the second start does
    const char* recorded;                     // the component's build after it
};

void PrintTo(const BadUpdate& c, std::ostream* os) {
    *os << c.name;
}

class UpdateThenRestart : public WithStore<FreshHomeTest>, public ::testing::WithParamInterface<BadUpdate> {
protected:
    std::string Run() { return RunProbe(m_home, APP_PROBE_PLAIN); }
    std::string Store(const std::string& pathAndQuery, const std::string& postFile = std::string()) {
        return RunCommand("curl -s " + (postFile.empty() ? "" : "--data-binary @'" + postFile + "' ") + "'" +
                          Base() + pathAndQuery + "'");
    }
};

TEST_P(UpdateThenRestart, TheSecondStartHasEveryComponentWhole) {
    const BadUpdate& c = GetParam();
    SetEnv("KESTRIN_STORE", Base());
    ASSERT_EQ(Run(), "run\n"); // the first start deploys this build and installs its copy
    InitPaths();
    std::string download = m_home.sub("download");
    if (c.files.empty()) {
        WriteFileBytes(download, c.bytes);
    } else {
        components::WriteFiles(m_home.sub("pack"), c.files);
        ASSERT_EQ(std::system((std::string(KESTRIN_PYTHON " '") + PROJECT_SOURCE_DIR +
                               "/tools/packwriter/kestrin_pack.py' pack '" + m_home.sub("pack") + "' -o '" +
                               download + "'")
                                  .c_str()),
                  0);
    }
    Store("/_control/file?name=component", download);
    WriteFileBytes(m_home.sub("update.xml"), std::string("<files><file file_name=\"") + c.component +
                                                 "\" file_type=\"" + c.type + "\" version=\"2010\" url=\"" +
                                                 Base() + "/files/component\" mode=\"0\"/></files>");
    Store("/_control/manifest", m_home.sub("update.xml"));
    UpdateThreadProc(nullptr);
    ASSERT_NE(Store("/_control/log").find("GET /files/component"), std::string::npos);

    EXPECT_EQ(Run(), std::string(c.secondStart) + "\n");
    EXPECT_EQ(Version(c.component), c.recorded);
    for (const char* key : {"kestrin.exe", "skin", "data", "read.swf"}) {
        if (std::string(key) != c.component) {
            EXPECT_EQ(Version(key), "2005") << key;
        }
    }
    // The pages, the skin and the movie the program takes from its folders are all there.
    for (const char* file : {"data_2005/Bookshelf2.html", "data_2005/Error.html", "skin_2005/WinSkin3.xml",
                             "2005/read.swf", "2005/kestrin.exe"})
        EXPECT_TRUE(fs::exists(ExeFiles(file))) << file;
    EXPECT_TRUE(IsComponentWhole("data", g_AppPathInfo.GetPageDir()));
    EXPECT_TRUE(IsComponentWhole("read.swf", g_AppPathInfo.GetReadSwfPath()));
    EXPECT_TRUE(fs::is_empty(DataRoot() + "/Update") || std::string(c.recorded) == "2010");
}

INSTANTIATE_TEST_SUITE_P(
    Manifests, UpdateThenRestart,
    ::testing::Values(
        BadUpdate{"PagesHoldingOnlyAText", "data", "1", "", {{"x.txt", "x"}}, "run", "2005"},
        BadUpdate{"MovieOfSevenGarbageBytes", "read.swf", "0", "garbage", {}, "run", "2005"},
        BadUpdate{"ProgramThatIsNone", "kestrin.exe", "0", "MZ text", {}, "run", "2005"},
        // A program as a download comes, without its execute bits: it is made executable, and
        // the second start hands over to it.
        BadUpdate{
            "ProgramWithoutItsExecuteBits", "kestrin.exe", "0", components::Program(), {}, "end", "2010"}));

TEST_F(StartupTest, FailedSocketLayerSaysSoAndTouchesNoFolder) {
    std::string out = Run(APP_PROBE_PLAIN, {"nosockets"});
    // String 103 of the program's table, in the ANSI code page.
    EXPECT_EQ(out, "socket-failed " +
                       Hex("Windows "
                           "\xCC\xD7\xBD\xD3\xD7\xD6\xB3\xF5\xCA\xBC\xBB\xAF\xCA\xA7\xB0\xDC\xA1\xA3") +
                       "\n");
    EXPECT_FALSE(fs::exists(m_home.sub("data")));
}

// An instance of another session (another runtime folder, so no mutex or window this start can
// find) runs on this data folder: the start says so and ends, having deployed nothing.
TEST_F(StartupTest, ADataFolderHeldByAnotherProcessEndsTheStartSayingSo) {
    auto holder = HoldDataFolder();
    EXPECT_EQ(Run(APP_PROBE_PLAIN, {"datawait=200"}, 1), InUse());
    EXPECT_FALSE(fs::exists(ExeFiles("Version.ini")));
    EXPECT_TRUE(fs::is_empty(ExeFiles()));
}

// The lock goes with its holder however that ends: a client that was killed keeps no start out.
TEST_F(StartupTest, AKilledHolderKeepsNoStartOut) {
    InitPaths();
    LockHolder holder(DataRoot() + "/" APP_DATA_LOCK_NAME);
    ASSERT_TRUE(holder.Holds());
    holder.Kill();
    EXPECT_EQ(Run(APP_PROBE_PLAIN, {"datawait=200"}), "run\n");
}

// This process plays the running instance: the program's mutex and a main window that carries
// the program's property, served while the probe starts.
class SecondInstanceTest : public StartupTest {
protected:
    static LRESULT Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
        if (m == WM_COPYDATA) {
            auto* cds = reinterpret_cast<COPYDATASTRUCT*>(l);
            s_copies.push_back(std::to_string(w) + " " + std::to_string(cds->dwData) + " " +
                               std::string(static_cast<const char*>(cds->lpData), cds->cbData));
            return 1;
        }
        return DefWindowProcA(h, m, w, l);
    }
    class Screen : public afxuser::CHeadlessScreen {
    public:
        void WindowRaised(HWND h) override { raised.push_back(h); }
        std::vector<HWND> raised;
    };
    void SetUp() override {
        StartupTest::SetUp();
        s_copies.clear();
        m_screen.Install();
        m_mutex = CreateMutexA(nullptr, TRUE, APP_INSTANCE_NAME);
        ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
        WNDCLASSA wc{};
        wc.lpfnWndProc = &Proc;
        wc.lpszClassName = "AppStartupFirst";
        RegisterClassA(&wc);
        m_main = CreateWindowExA(0, "AppStartupFirst", "main", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr,
                                 nullptr, nullptr);
        ShowWindow(m_main, SW_SHOWMINIMIZED);
        SetPropA(m_main, APP_INSTANCE_NAME, reinterpret_cast<HANDLE>(1));
    }
    void TearDown() override {
        RemovePropA(m_main, APP_INSTANCE_NAME);
        DestroyWindow(m_main);
        CloseHandle(m_mutex);
        StartupTest::TearDown();
    }
    // Starts the probe in cwd ("" for this process's) and serves the window until the probe has
    // ended with the status expected.
    std::string RunSecond(const std::vector<std::string>& args = {}, const std::string& cwd = "",
                          int expectStatus = 0) {
        Probe p(APP_PROBE_BUNDLE, m_home.sub("second.out"), args, cwd);
        EXPECT_TRUE(p.Started());
        EXPECT_TRUE(testwait::PumpUntil([&] { return p.Ended(); }, std::chrono::seconds(30)));
        return p.Output(expectStatus);
    }

    static std::vector<std::string> s_copies;
    Screen m_screen;
    HANDLE m_mutex = nullptr;
    HWND m_main = nullptr;
};
std::vector<std::string> SecondInstanceTest::s_copies;

TEST_F(SecondInstanceTest, BringsTheFirstToTheFrontHandsTheItemOverOnceAndEnds) {
    EXPECT_EQ(RunSecond(), "end\n");
    EXPECT_FALSE(IsIconic(m_main));
    EXPECT_TRUE(IsWindowVisible(m_main));
    EXPECT_NE(std::find(m_screen.raised.begin(), m_screen.raised.end(), m_main), m_screen.raised.end());
    EXPECT_EQ(s_copies, std::vector<std::string>{"0 0 -p " + AfxUnmapPath(APP_PROBE_BUNDLE)});
    EXPECT_EQ(IniValue(ExeFiles("ReadLog.ini"), "book_b2012003", "read"), "yes");
    // A second start neither deploys nor copies: that is the running instance's business.
    EXPECT_EQ(Tree(ExeFiles()), std::vector<std::string>{"ReadLog.ini"});

    // The item is read now: a later start only brings the window forward.
    s_copies.clear();
    EXPECT_EQ(RunSecond(), "end\n");
    EXPECT_TRUE(s_copies.empty());
}

TEST_F(SecondInstanceTest, APackageGivenToTheSecondStartIsHandedOverAndTheBuiltInItemStaysDue) {
    const std::string package = "\\tmp\\some item.exe"; // as the desktop passes it, blanks and all
    EXPECT_EQ(RunSecond({"-p", package}), "end\n");
    EXPECT_EQ(s_copies, std::vector<std::string>{"0 0 -p " + package});
    EXPECT_EQ(IniValue(ExeFiles("ReadLog.ini"), "book_b2012003", "read"), "");
    // Not a package request: the built-in item, as before.
    s_copies.clear();
    EXPECT_EQ(RunSecond({"-x"}), "end\n");
    EXPECT_EQ(s_copies, std::vector<std::string>{"0 0 -p " + AfxUnmapPath(APP_PROBE_BUNDLE)});
}

// A relative path names a file of the folder the second start was made in; the running
// instance has a folder of its own.
TEST_F(SecondInstanceTest, ARelativePackagePathIsHandedOverAsTheSecondStartsOwn) {
    const std::string cwd = m_home.sub("elsewhere");
    fs::create_directories(cwd + "/sub");
    const std::string winCwd = AfxUnmapPath(cwd);
    struct Case {
        std::string given, handed;
    } cases[] = {
        {"item.exe", winCwd + "\\item.exe"},
        {"sub/some item.exe", winCwd + "\\sub\\some item.exe"},
        {".\\sub\\..\\..\\up.exe", AfxUnmapPath(m_home.path()) + "\\up.exe"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.given);
        s_copies.clear();
        EXPECT_EQ(RunSecond({"-p", c.given}, cwd), "end\n");
        EXPECT_EQ(s_copies, std::vector<std::string>{"0 0 -p " + c.handed});
    }
}

// The running instance holds its data folder, but its window cannot be reached: the start says
// so and ends, rather than run as a second instance on the same files.
TEST_F(SecondInstanceTest, AHeldDataFolderWithoutAWindowEndsTheStartSayingSo) {
    auto holder = HoldDataFolder();
    RemovePropA(m_main, APP_INSTANCE_NAME);
    EXPECT_EQ(RunSecond({"datawait=200"}, "", 1), InUse());
    EXPECT_TRUE(s_copies.empty());
    EXPECT_TRUE(fs::is_empty(ExeFiles()));
}

TEST_F(SecondInstanceTest, AMutexWithoutAWindowStartsFully) {
    RemovePropA(m_main, APP_INSTANCE_NAME);
    EXPECT_EQ(RunSecond(), "run\n");
    EXPECT_TRUE(s_copies.empty());
    EXPECT_EQ(Version("skin"), "2005");
}

} // namespace
