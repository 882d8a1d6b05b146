// "explorer.exe /select,<file>" shows the file in the desktop's file manager: a private session
// bus (dbus-daemon) with or without a FileManager1 peer on it, and a recorder as the desktop
// opener for the folder when no file manager answers.
#include "platform/kernel/FileSys.h"
#include "platform/kernel/Process.h"
#include "platform/shell/ShellApi.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WaitFor.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

class FileManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bus.Start({"dbus-daemon", "--session", "--nofork", "--print-address=1"}))
            << "no dbus-daemon";
        env.Set("DBUS_SESSION_BUS_ADDRESS", bus.FirstLine());
        // The file-manager peer runs GLib's D-Bus threads, which no sanitizer build instruments:
        // ThreadSanitizer reports their allocator as racing and would end the peer. The peers
        // started from here do not report; this process was started before and still does.
        env.Set("TSAN_OPTIONS", "report_bugs=0");
        // The recorder writes its arguments, each in brackets, once the whole list is there.
        opener = dir.sub("opener.sh");
        WriteFileBytes(opener, "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done > \"$0.out.tmp\"\n"
                               "mv \"$0.out.tmp\" \"$0.out\"\n");
        chmod(opener.c_str(), 0755);
        AfxSetDesktopOpener(opener.c_str());
    }
    void TearDown() override { AfxSetDesktopOpener(nullptr); }

    // A file in a folder whose name a shell or a GVariant text would take apart.
    std::string OddFile() {
        std::string folder = dir.sub("Down/a b'$(touch x)");
        fs::create_directories(folder);
        std::string file = folder + "/pkg 1.zip";
        WriteFileBytes(file, "zip");
        return file;
    }
    HINSTANCE Select(const std::string& file) {
        std::string param = "/select," + std::string(AfxUnmapPath(file));
        return ShellExecuteA(nullptr, "open", "explorer.exe", param.c_str(), nullptr, SW_SHOWNORMAL);
    }

    TempDir dir;
    PeerProcess bus;
    ScopedEnv env;
    std::string opener;
};

TEST_F(FileManagerTest, TheFileManagerOnTheBusIsAskedToShowTheFileSelected) {
    PeerProcess manager;
    ASSERT_TRUE(manager.Start({SHELL_FILEMANAGER_PEER}));
    ASSERT_EQ(manager.FirstLine(), "ready");
    std::string file = OddFile();
    EXPECT_GT(reinterpret_cast<intptr_t>(Select(file)), 32);
    std::string line;
    ASSERT_TRUE(manager.ReadLine(line));
    EXPECT_EQ(line, "ShowItems file://" + dir.path() + "/Down/a%20b%27%24%28touch%20x%29/pkg%201.zip");
    EXPECT_FALSE(fs::exists(opener + ".out")) << "the folder is not opened as well";
    EXPECT_FALSE(fs::exists("x"));
}

TEST_F(FileManagerTest, WithoutAFileManagerOnTheBusTheFolderIsOpened) {
    std::string file = OddFile();
    EXPECT_GT(reinterpret_cast<intptr_t>(Select(file)), 32);
    ASSERT_TRUE(testwait::WaitFor([&] { return fs::exists(opener + ".out"); }));
    EXPECT_EQ(ReadFileBytes(opener + ".out"), "[" + fs::path(file).parent_path().string() + "]");
}

TEST_F(FileManagerTest, AMissingFileOpensItsFolderAndAMissingFolderFails) {
    PeerProcess manager;
    ASSERT_TRUE(manager.Start({SHELL_FILEMANAGER_PEER}));
    ASSERT_EQ(manager.FirstLine(), "ready");
    fs::create_directories(dir.sub("Down"));
    EXPECT_GT(reinterpret_cast<intptr_t>(Select(dir.sub("Down/gone.zip"))), 32);
    ASSERT_TRUE(testwait::WaitFor([&] { return fs::exists(opener + ".out"); }));
    EXPECT_EQ(ReadFileBytes(opener + ".out"), "[" + dir.sub("Down") + "]");
    EXPECT_EQ(reinterpret_cast<intptr_t>(Select(dir.sub("Nowhere/gone.zip"))), SE_ERR_FNF);
}

} // namespace
