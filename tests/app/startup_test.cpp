// The start-up up to the main window, each run as a process of its own: a fresh data root, a
// second start while an instance runs, a newer installed copy, an installed newer skin and a
// socket layer that cannot be used. The probes are the program's start-up linked with this
// build's real resources ("plain") or with the test edition that carries a built-in item.
#include "app/HtmlVelkorsApp.h"
#include "platform/shell/SingleInstance.h"
#include "platform/user/HeadlessScreen.h"
#include "tests/app/AppFixture.h"
#include "tests/support/WaitFor.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
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
    Probe(const std::string& program, const std::string& outFile, const std::vector<std::string>& args = {})
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
    // Waits for the end; the probe's output.
    std::string Output() {
        if (!m_done && m_pid > 0 && waitpid(m_pid, &m_status, 0) == m_pid)
            m_done = true;
        EXPECT_TRUE(m_done && WIFEXITED(m_status) && WEXITSTATUS(m_status) == 0) << "status " << m_status;
        return ReadFileBytes(m_out);
    }

private:
    std::string m_out;
    pid_t m_pid = -1;
    int m_status = -1;
    bool m_done = false;
};

class StartupTest : public FreshHomeTest {
protected:
    std::string Run(const char* probe, const std::vector<std::string>& args = {}) {
        Probe p(probe, m_home.sub("probe.out"), args);
        EXPECT_TRUE(p.Started());
        return p.Output();
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
    EXPECT_EQ(ReadFileBytes(ExeFiles("2005/kestrin.exe")), ReadFileBytes(APP_PROBE_PLAIN));
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
    fs::create_directories(ExeFiles("skin_2007"));
    WriteFileBytes(ExeFiles("skin_2007/WinSkin3.xml"), "<skin/>");
    SetVersion("skin", "2007");
    EXPECT_EQ(Run(APP_PROBE_PLAIN), "run\n");
    EXPECT_FALSE(fs::exists(ExeFiles("skin_2005")));
    EXPECT_EQ(Tree(ExeFiles("skin_2007")), std::vector<std::string>{"WinSkin3.xml"});
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

TEST_F(StartupTest, FailedSocketLayerSaysSoAndTouchesNoFolder) {
    std::string out = Run(APP_PROBE_PLAIN, {"nosockets"});
    // String 103 of the program's table, in the ANSI code page.
    EXPECT_EQ(out, "socket-failed " +
                       Hex("Windows "
                           "\xCC\xD7\xBD\xD3\xD7\xD6\xB3\xF5\xCA\xBC\xBB\xAF\xCA\xA7\xB0\xDC\xA1\xA3") +
                       "\n");
    EXPECT_FALSE(fs::exists(m_home.sub("data")));
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
    // Starts the probe and serves the window until the probe has ended.
    std::string RunSecond(const std::vector<std::string>& args = {}) {
        Probe p(APP_PROBE_BUNDLE, m_home.sub("second.out"), args);
        EXPECT_TRUE(p.Started());
        EXPECT_TRUE(testwait::PumpUntil([&] { return p.Ended(); }, std::chrono::seconds(30)));
        return p.Output();
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

TEST_F(SecondInstanceTest, AMutexWithoutAWindowStartsFully) {
    RemovePropA(m_main, APP_INSTANCE_NAME);
    EXPECT_EQ(RunSecond(), "run\n");
    EXPECT_TRUE(s_copies.empty());
    EXPECT_EQ(Version("skin"), "2005");
}

} // namespace
