// The path and configuration object on a fresh application-data folder: the folder tree,
// config.xml, the download folder and its write test, component folders, shortcut and autostart.
#include "foundation/AppPathInfo.h"
#include "foundation/CommonFunc.h"
#include "tests/foundation/FoundationTestUtil.h"

#include "tests/support/ScopedEnv.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <regex>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <thread>

namespace fs = std::filesystem;

namespace {

// Points the application-data, configuration, desktop and registry folders at a scratch tree.
class FreshHome : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(m_dir.sub("home/Desktop"));
        fs::create_directories(m_dir.sub("config"));
        WriteFileBytes(m_dir.sub("config/user-dirs.dirs"), "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n");
        Set("HOME", m_dir.sub("home"));
        Set("XDG_DATA_HOME", m_dir.sub("data"));
        Set("XDG_CONFIG_HOME", m_dir.sub("config"));
        Set("XDG_DESKTOP_DIR", m_dir.sub("home/Desktop"));
        Set("KESTRIN_REGISTRY_DIR", m_dir.sub("registry"));
    }
    void TearDown() override { m_env.Restore(); }
    void Set(const std::string& name, const std::string& value) { m_env.Set(name, value); }
    std::string Root() const { return m_dir.sub("data/Tavonel/kestrin4.0"); }
    std::string ConfigFile() const { return Root() + "/Data/config.xml"; }

    TempDir m_dir;
    ScopedEnv m_env;
    CAppPathInfo m_info;
};

// Every entry under the folder, relative, sorted.
std::vector<std::string> Tree(const std::string& root) {
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root))
        out.push_back(fs::relative(e.path(), root).string() + (e.is_directory() ? "/" : ""));
    std::sort(out.begin(), out.end());
    return out;
}

// The attributes of the Config element, as name=value pairs in file order.
std::vector<std::string> ConfigAttributes(const std::string& text) {
    std::vector<std::string> out;
    std::smatch m;
    if (!std::regex_search(text, m, std::regex("<Config([^>]*)/?>")))
        return out;
    const std::string attrs = m[1];
    const std::regex attr("([A-Za-z_]+)=\"([^\"]*)\"");
    for (auto it = std::sregex_iterator(attrs.begin(), attrs.end(), attr); it != std::sregex_iterator(); ++it)
        out.push_back((*it)[1].str() + "=" + (*it)[2].str());
    return out;
}

TEST_F(FreshHome, FirstStartLaysOutTheWholeTree) {
    ASSERT_TRUE(m_info.Init());
    const CString root = ftest::Win(Root());
    EXPECT_EQ(m_info.m_strDataRoot, root);
    EXPECT_EQ(Tree(Root()),
              (std::vector<std::string>{"Data/", "Data/config.xml", "ExeFiles/", "Images/", "Images/book/",
                                        "Images/mag/", "TavonelDownLoad/", "Update/"}));
    EXPECT_EQ(m_info.m_strExeDir, g_CommonFunc.GetModuleDir());
    EXPECT_EQ(m_info.m_strImagesDir, root + "\\Images");
    EXPECT_EQ(m_info.m_strDataDir, root + "\\Data");
    EXPECT_EQ(m_info.m_strUpdateDir, root + "\\Update");
    EXPECT_EQ(m_info.m_strExeFilesDir, root + "\\ExeFiles");
    EXPECT_EQ(m_info.m_strUserXml, root + "\\Data\\user.xml");
    EXPECT_EQ(m_info.m_strConfigXml, root + "\\Data\\config.xml");
    EXPECT_EQ(m_info.m_strBookClassXml, root + "\\Data\\BookClass.xml");
    EXPECT_EQ(m_info.m_strMagClassXml, root + "\\Data\\MagClass.xml");
    EXPECT_EQ(m_info.m_strBookNewReadXml, root + "\\Data\\BookNewRead.xml");
    EXPECT_EQ(m_info.m_strMagNewReadXml, root + "\\Data\\MagNewRead.xml");
    EXPECT_EQ(m_info.m_strBookShelfXml, root + "\\Data\\BookShelf.xml");
    EXPECT_EQ(m_info.m_strMagShelfXml, root + "\\Data\\MagShelf.xml");

    // No drive letter names a disk here, so the download folder falls back to the data root's.
    const CString download = root + "\\TavonelDownLoad\\";
    EXPECT_EQ(m_info.GetDownloadFolder(), download);
    const std::string config = ReadFileBytes(ConfigFile());
    EXPECT_EQ(config.rfind("<?xml version=\"1.0\" encoding=\"utf-8\" ?>", 0), 0u) << config;
    EXPECT_EQ(ConfigAttributes(config), (std::vector<std::string>{"down_save=" + download.str()})) << config;
    EXPECT_EQ(m_info.GetConfig("down_save"), download);
}

fs::perms PermsOf(const std::string& path) {
    return fs::status(path).permissions();
}

// The data root holds the user's password and shelves: no other user may enter it or read its
// state files, also when an older build made it open to all. The download folder is the user's
// own business and keeps what the umask gives it.
TEST_F(FreshHome, DataRootIsTheUsersAloneAndTheDownloadFolderAsTheUmaskMakesIt) {
    const mode_t old = umask(022);
    const auto owner = fs::perms::owner_all;
    const auto ownerFile = fs::perms::owner_read | fs::perms::owner_write;
    ASSERT_TRUE(m_info.Init());
    for (const char* folder : {"", "Data", "ExeFiles", "Images", "Images/book", "Images/mag", "Update"})
        EXPECT_EQ(PermsOf(Root() + "/" + folder), owner) << folder;
    EXPECT_EQ(PermsOf(m_dir.sub("data/Tavonel")), owner);
    EXPECT_EQ(PermsOf(ConfigFile()), ownerFile);

    // An older build's tree, open to all: the next start closes its folders, and the settings
    // file is closed when it is written.
    fs::permissions(ConfigFile(), fs::perms::all);
    const std::string outside = m_dir.sub("Downloads");
    ASSERT_TRUE(m_info.SetConfig("down_save", ftest::Win(outside) + "\\"));
    EXPECT_EQ(PermsOf(ConfigFile()), ownerFile);
    fs::permissions(Root(), fs::perms::all);
    fs::permissions(Root() + "/Data", fs::perms::all);
    CAppPathInfo next;
    ASSERT_TRUE(next.Init());
    EXPECT_EQ(PermsOf(Root()), owner);
    EXPECT_EQ(PermsOf(Root() + "/Data"), owner);
    EXPECT_EQ(next.GetDownloadFolder(), ftest::Win(outside) + "\\");
    EXPECT_EQ(PermsOf(outside), fs::perms::all & ~(fs::perms::group_write | fs::perms::others_write));
    umask(old);
}

TEST_F(FreshHome, ConfigIsUtf8OnDiskAndAnsiInMemory) {
    // A data folder with a Chinese name: "杂志" in UTF-8 on disk, GBK in the program.
    Set("XDG_DATA_HOME", m_dir.sub("\xE6\x9D\x82\xE5\xBF\x97"));
    ASSERT_TRUE(m_info.Init());
    EXPECT_NE(m_info.GetDownloadFolder().Find("\xD4\xD3\xD6\xBE"), -1);
    const std::string config =
        ReadFileBytes(m_dir.sub("\xE6\x9D\x82\xE5\xBF\x97/Tavonel/kestrin4.0/Data/config.xml"));
    EXPECT_NE(config.find("\xE6\x9D\x82\xE5\xBF\x97"), std::string::npos) << config;
    EXPECT_EQ(m_info.GetConfig("down_save"), m_info.GetDownloadFolder());
}

TEST_F(FreshHome, WritableStoredFolderIsUsedAndConfigLeftAlone) {
    fs::create_directories(m_dir.sub("mine"));
    ASSERT_TRUE(m_info.Init());
    const CString mine = ftest::Win(m_dir.sub("mine")) + "\\";
    ASSERT_TRUE(m_info.SetConfig("down_save", mine));
    struct stat before {};
    ASSERT_EQ(stat(ConfigFile().c_str(), &before), 0);
    const std::string bytes = ReadFileBytes(ConfigFile());

    CAppPathInfo second;
    ASSERT_TRUE(second.Init());
    EXPECT_EQ(second.GetDownloadFolder(), mine);
    struct stat after {};
    ASSERT_EQ(stat(ConfigFile().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(ReadFileBytes(ConfigFile()), bytes);
    EXPECT_TRUE(fs::is_empty(m_dir.sub("mine")));
}

TEST_F(FreshHome, UnwritableStoredFolderFallsBackAndStoresTheNewChoice) {
    ASSERT_TRUE(m_info.Init());
    // A folder beneath a plain file can be neither created nor written (even by root).
    WriteFileBytes(m_dir.sub("plain"), "x");
    const CString bad = ftest::Win(m_dir.sub("plain")) + "\\sub\\";
    for (const CString& stored : {bad, CString("D:\\Books\\")}) {
        SCOPED_TRACE(stored.GetString());
        ASSERT_TRUE(m_info.SetConfig("down_save", stored));
        CAppPathInfo second;
        ASSERT_TRUE(second.Init());
        const CString fallback = ftest::Win(Root()) + "\\TavonelDownLoad\\";
        EXPECT_EQ(second.GetDownloadFolder(), fallback);
        EXPECT_EQ(second.GetConfig("down_save"), fallback);
    }
}

TEST_F(FreshHome, StoredFolderWithoutBackslashGetsOne) {
    fs::create_directories(m_dir.sub("typed"));
    ASSERT_TRUE(m_info.Init());
    ASSERT_TRUE(m_info.SetConfig("down_save", ftest::Win(m_dir.sub("typed"))));
    CAppPathInfo second;
    ASSERT_TRUE(second.Init());
    EXPECT_EQ(second.GetDownloadFolder(), ftest::Win(m_dir.sub("typed")) + "\\");
    // Nothing landed beside the folder.
    for (const auto& e : fs::directory_iterator(m_dir.path()))
        EXPECT_EQ(e.path().filename().string().find("kestrinTestWrite"), std::string::npos);

    second.SetDownloadFolder(ftest::Win(m_dir.sub("other")));
    EXPECT_EQ(second.GetDownloadFolder(), ftest::Win(m_dir.sub("other")) + "\\");
    second.SetDownloadFolder("");
    EXPECT_EQ(second.GetDownloadFolder(), "");
}

TEST_F(FreshHome, TestWrite) {
    const std::string testName = " kestrinTestWrite.exe";
    fs::create_directories(m_dir.sub("ok"));
    fs::create_directories(m_dir.sub("leftover"));
    WriteFileBytes(m_dir.sub("leftover") + "/" + testName, "old");
    fs::create_directories(m_dir.sub("blocked/" + testName)); // the test file's name is a folder
    fs::create_directories(m_dir.sub("bare"));
    struct Case {
        const char* name;
        CString folder;
        BOOL expected;
    };
    const Case cases[] = {
        {"writable", ftest::Win(m_dir.sub("ok")) + "\\", TRUE},
        {"missing", ftest::Win(m_dir.sub("missing")) + "\\", FALSE},
        {"leftover test file", ftest::Win(m_dir.sub("leftover")) + "\\", TRUE},
        {"write fails although the name exists", ftest::Win(m_dir.sub("blocked")) + "\\", FALSE},
        {"no trailing backslash", ftest::Win(m_dir.sub("bare")), TRUE},
        {"drive letter", "E:\\", FALSE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(m_info.TestWrite(c.folder), c.expected);
    }
    EXPECT_TRUE(fs::is_empty(m_dir.sub("ok")));
    EXPECT_TRUE(fs::is_empty(m_dir.sub("leftover")));
    EXPECT_TRUE(fs::is_empty(m_dir.sub("bare")));
    EXPECT_FALSE(fs::exists(m_dir.sub("missing")));
    EXPECT_FALSE(fs::exists(m_dir.sub("bare") + testName));
}

TEST_F(FreshHome, GetAndSetConfig) {
    ASSERT_TRUE(m_info.Init());
    fs::remove(ConfigFile());
    EXPECT_EQ(m_info.GetConfig("down_save"), "");
    EXPECT_TRUE(m_info.SetConfig("auto_start", "1"));
    EXPECT_EQ(m_info.GetConfig("auto_start"), "1");
    EXPECT_EQ(m_info.GetConfig("taskbar"), "");
    EXPECT_TRUE(m_info.SetConfig("taskbar", "0"));
    EXPECT_TRUE(m_info.SetConfig("auto_start", "0"));
    EXPECT_EQ(ConfigAttributes(ReadFileBytes(ConfigFile())),
              (std::vector<std::string>{"auto_start=0", "taskbar=0"}));

    // A file that is not XML, or whose root is not Config, is replaced by one holding the setting.
    for (const char* junk : {"not xml at all", "<Settings a=\"1\"/>", ""}) {
        SCOPED_TRACE(junk);
        WriteFileBytes(ConfigFile(), junk);
        EXPECT_EQ(m_info.GetConfig("a"), "");
        EXPECT_TRUE(m_info.SetConfig("taskbar", "1"));
        const std::string text = ReadFileBytes(ConfigFile());
        EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"utf-8\" ?>", 0), 0u) << text;
        EXPECT_EQ(ConfigAttributes(text), (std::vector<std::string>{"taskbar=1"})) << text;
    }
}

TEST_F(FreshHome, SetConfigReportsAFailedSave) {
    ASSERT_TRUE(m_info.Init());
    // The Data folder is gone: no file, no save.
    fs::remove_all(Root() + "/Data");
    EXPECT_FALSE(m_info.SetConfig("taskbar", "1"));
    // The file exists but cannot be replaced: its name is a folder now.
    fs::create_directories(ConfigFile());
    EXPECT_FALSE(m_info.SetConfig("taskbar", "1"));
}

TEST_F(FreshHome, SetConfigReportsAShortSaveOfAnExistingFile) {
    ASSERT_TRUE(m_info.Init());
    const std::string before = ReadFileBytes(ConfigFile());
    // A file-size limit cuts the save short, as a full disk does.
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit lim{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &lim);
        _exit(m_info.SetConfig("down_save", CString(std::string(20000, 'd'))) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a failed save was reported as success";
    EXPECT_EQ(ReadFileBytes(ConfigFile()), before);
    EXPECT_EQ(Tree(Root() + "/Data"), (std::vector<std::string>{"config.xml"}));
}

TEST_F(FreshHome, SetConfigReportsAValueTheFileCannotTake) {
    ASSERT_TRUE(m_info.Init());
    // A Config tag edited by hand with a dangling "=": the value cannot be written so that it
    // reads back, and the file stays as it was.
    const std::string damaged = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Config a= />\r\n";
    WriteFileBytes(ConfigFile(), damaged);
    EXPECT_FALSE(m_info.SetConfig("taskbar", "1"));
    EXPECT_EQ(ReadFileBytes(ConfigFile()), damaged);
}

// A kill while config.xml is being replaced leaves the old settings or the new ones, whole.
TEST_F(FreshHome, KillDuringConfigSaveNeverLeavesATruncatedFile) {
    ASSERT_TRUE(m_info.Init());
    const CString oldValue = CString(std::string(2000000, 'o'));
    const CString newValue = CString(std::string(3000000, 'n'));
    ASSERT_TRUE(m_info.SetConfig("taskbar", oldValue));
    for (int extraUs : {0, 0, 100, 500, 2000, 5000}) {
        SCOPED_TRACE(extraUs);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int i = 0;; ++i)
                m_info.SetConfig("taskbar", i % 2 ? oldValue : newValue);
        }
        ASSERT_TRUE(ftest::KillWhenWriteSeen(pid, ConfigFile(), std::chrono::microseconds(extraUs)));
        const CString now = m_info.GetConfig("taskbar");
        EXPECT_TRUE(now == oldValue || now == newValue) << "value of " << now.GetLength() << " bytes";
        EXPECT_EQ(m_info.GetConfig("down_save"), m_info.GetDownloadFolder());
    }
}

TEST_F(FreshHome, ComponentFolders) {
    ASSERT_TRUE(m_info.Init());
    const CString exeFiles = ftest::Win(Root()) + "\\ExeFiles";
    const CString saved = g_AppPathInfo.m_strExeFilesDir;
    g_AppPathInfo.m_strExeFilesDir = m_info.m_strExeFilesDir; // Version.ini is read through the global
    EXPECT_EQ(m_info.GetPageDir(), exeFiles + "\\data_0\\");
    EXPECT_EQ(m_info.GetSkinDir(), exeFiles + "\\skin_0\\");
    EXPECT_EQ(m_info.GetReadSwfPath(), exeFiles + "\\0\\Read.Swf");
    WriteFileBytes(Root() + "/ExeFiles/Version.ini",
                   "[Version]\r\ndata=2005\r\nskin=17\r\nread.swf=2005\r\n");
    EXPECT_EQ(m_info.GetPageDir(), exeFiles + "\\data_2005\\");
    EXPECT_EQ(m_info.GetSkinDir(), exeFiles + "\\skin_17\\");
    EXPECT_EQ(m_info.GetReadSwfPath(), exeFiles + "\\2005\\Read.Swf");
    g_AppPathInfo.m_strExeFilesDir = saved;
}

TEST(PickBestDrive, Table) {
    constexpr ULONGLONG GiB = 1ull << 30;
    constexpr ULONGLONG TiB = 1ull << 40;
    struct Drive {
        char letter;
        UINT type;
        ULONGLONG freeBytes;
    };
    struct Case {
        const char* name;
        std::vector<Drive> drives;
        const char* expected;
    };
    const Case cases[] = {
        {"no fixed drive", {{'D', DRIVE_CDROM, 100 * GiB}, {'E', DRIVE_REMOVABLE, 200 * GiB}}, "C:\\"},
        {"nothing at all", {}, "C:\\"},
        {"most free wins",
         {{'C', DRIVE_FIXED, 10 * GiB}, {'D', DRIVE_FIXED, 50 * GiB}, {'E', DRIVE_FIXED, GiB}},
         "D:\\"},
        {"tie goes to the earlier letter",
         {{'D', DRIVE_FIXED, 5 * GiB}, {'F', DRIVE_FIXED, 5 * GiB}},
         "D:\\"},
        {"no space anywhere", {{'D', DRIVE_FIXED, 0}, {'E', DRIVE_FIXED, 1023}}, "C:\\"},
        {"4 TiB and more is not wrapped",
         {{'C', DRIVE_FIXED, 500 * GiB}, {'G', DRIVE_FIXED, 4 * TiB + 1024}},
         "G:\\"},
        {"Z is looked at", {{'C', DRIVE_FIXED, GiB}, {'Z', DRIVE_FIXED, 2 * GiB}}, "Z:\\"},
        {"network drive ignored", {{'C', DRIVE_FIXED, GiB}, {'N', DRIVE_REMOTE, 9 * TiB}}, "C:\\"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto find = [&](const char* root) -> const Drive* {
            for (const auto& d : c.drives)
                if (root[0] == d.letter && std::string(root + 1) == ":\\")
                    return &d;
            return nullptr;
        };
        const CString best = PickBestDrive(
            [&](const char* root) -> UINT {
                const Drive* d = find(root);
                return d ? d->type : DRIVE_NO_ROOT_DIR;
            },
            [&](const char* root) -> ULONGLONG {
                const Drive* d = find(root);
                return d ? d->freeBytes : 0;
            });
        EXPECT_STREQ(best, c.expected);
    }
}

TEST_F(FreshHome, DesktopShortcutIsMadeOnceAndLeftAlone) {
    const std::string link = m_dir.sub("home/Desktop/\xE4\xBA\x91\xE5\x8D\xB7\xE4\xB9\xA6\xE5\xBB\x8A-"
                                       "\xE5\xA2\xA8\xE8\x88\x9F\xE5\x8C\xA3V4.0.lnk");
    const CString path = m_info.CreateDesktopShortcut(g_CommonFunc.GetModuleDir());
    EXPECT_EQ(path.str(), AfxUnmapPath(link));
    const std::string entry = ReadFileBytes(link);
    EXPECT_NE(entry.find("[Desktop Entry]"), std::string::npos) << entry;
    EXPECT_NE(entry.find("Exec=\"" + fs::canonical("/proc/self/exe").string() + "\""), std::string::npos)
        << entry;
    EXPECT_NE(entry.find("Comment=\xE4\xBA\x91\xE5\x8D\xB7"), std::string::npos) << entry;

    WriteFileBytes(link, "kept as it was");
    EXPECT_EQ(m_info.CreateDesktopShortcut("\\tmp").str(), AfxUnmapPath(link));
    EXPECT_EQ(ReadFileBytes(link), "kept as it was");
}

// The link is a desktop entry that a real desktop launcher starts: a target whose folder holds a
// blank and Chinese text runs, in the working folder given.
TEST_F(FreshHome, ShortcutStartsItsTargetThroughTheDesktopLauncher) {
    if (RunCommand("command -v gio").empty())
        GTEST_SKIP() << "gio (libglib2.0-bin) is not installed";
    const std::string appDir = m_dir.sub("my apps/\xE6\x9D\x82\xE5\xBF\x97"); // "杂志"
    const std::string workDir = m_dir.sub("work dir");
    fs::create_directories(appDir);
    fs::create_directories(workDir);
    const std::string target = appDir + "/run me";
    const std::string marker = m_dir.sub("marker");
    WriteFileBytes(target,
                   "#!/bin/sh\npwd > '" + marker + ".part' && mv '" + marker + ".part' '" + marker + "'\n");
    fs::permissions(target, fs::perms::owner_all);
    const std::string link = m_dir.sub("home/Desktop/kestrin.lnk");
    ASSERT_EQ(m_info.CreateShortcut(ftest::Win(target), "desc", ftest::Win(workDir), ftest::Win(link)), S_OK);
    const std::string entry = ReadFileBytes(link);
    EXPECT_NE(entry.find("Exec=\"" + target + "\"\n"), std::string::npos) << entry;

    RunCommand("gio launch '" + link + "' 2>&1");
    for (int i = 0; i < 300 && !fs::exists(marker); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(fs::exists(marker)) << entry;
    EXPECT_EQ(ReadFileBytes(marker), workDir + "\n");
}

TEST_F(FreshHome, ShortcutExecQuotesReservedCharacters) {
    struct Case {
        const char* name;
        std::string folder; // under the scratch folder
        std::string exec;   // what follows the scratch folder in the Exec line
    };
    const Case cases[] = {
        {"percent is doubled", "100%/x", "/100%%/x\""},
        {"quote, dollar and backquote escaped", "a\"$`b/x", "/a\\\\\"\\\\$\\\\`b/x\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string target = m_dir.sub(c.folder);
        fs::create_directories(fs::path(target).parent_path());
        WriteFileBytes(target, "");
        const std::string link = m_dir.sub("l.lnk");
        ASSERT_EQ(m_info.CreateShortcut(ftest::Win(target), "d", "", ftest::Win(link)), S_OK);
        const std::string entry = ReadFileBytes(link);
        EXPECT_NE(entry.find("Exec=\"" + m_dir.path() + c.exec + "\n"), std::string::npos) << entry;
        EXPECT_EQ(entry.find("Path="), std::string::npos) << entry; // no working folder given
    }
}

TEST_F(FreshHome, NoDesktopFolderGivesNoShortcut) {
    // A desktop that is the home folder itself means the user has none.
    WriteFileBytes(m_dir.sub("config/user-dirs.dirs"), "XDG_DESKTOP_DIR=\"$HOME/\"\n");
    unsetenv("XDG_DESKTOP_DIR");
    EXPECT_EQ(m_info.CreateDesktopShortcut("\\tmp"), "");
    // A desktop folder that is named but missing: no link can be made there.
    WriteFileBytes(m_dir.sub("config/user-dirs.dirs"), "XDG_DESKTOP_DIR=\"$HOME/Gone\"\n");
    EXPECT_EQ(m_info.CreateDesktopShortcut("\\tmp"), "");
    EXPECT_FALSE(fs::exists(m_dir.sub("home/Gone")));
    EXPECT_TRUE(fs::is_empty(m_dir.sub("home/Desktop")));
}

TEST_F(FreshHome, AutostartValueIsQuoted) {
    m_info.SetAutoRun(TRUE, TRUE);
    auto readValue = [] {
        HKEY key = nullptr;
        std::string value;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                          KEY_READ, &key) != ERROR_SUCCESS)
            return value;
        char buf[1024] = {};
        DWORD size = sizeof buf, type = 0;
        if (RegQueryValueExA(key, APP_PRODUCT_TITLE, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) ==
                ERROR_SUCCESS &&
            type == REG_SZ)
            value = buf;
        RegCloseKey(key);
        return value;
    };
    const std::string module = g_CommonFunc.GetModulePath().str();
    EXPECT_EQ(readValue(), "\"" + module + "\" hide");
    // What the desktop starts at login: this program, with the one argument.
    const std::string autostart =
        ReadFileBytes(m_dir.sub("config/autostart/\xE4\xBA\x91\xE5\x8D\xB7\xE4\xB9\xA6\xE5\xBB\x8A-"
                                "\xE5\xA2\xA8\xE8\x88\x9F\xE5\x8C\xA3V4.0.desktop"));
    EXPECT_NE(autostart.find("Exec=\"" + fs::canonical("/proc/self/exe").string() + "\" \"hide\"\n"),
              std::string::npos)
        << autostart;
    m_info.SetAutoRun(TRUE, FALSE);
    EXPECT_EQ(readValue(), "\"" + module + "\"");
    m_info.SetAutoRun(FALSE, TRUE);
    EXPECT_EQ(readValue().substr(0, 1), ";");
}

TEST(DownloadFolder, ReadersGetWholeCopiesWhileItIsReplaced) {
    CAppPathInfo info;
    const CString a = "\\srv\\downloads\\first\\";
    const CString b = "\\srv\\downloads\\a-much-longer-second-choice-of-folder\\";
    info.SetDownloadFolder(a);
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i)
        readers.emplace_back([&] {
            while (!stop) {
                const CString s = info.GetDownloadFolder();
                if (s != a && s != b)
                    ++torn;
            }
        });
    for (int i = 0; i < 20000; ++i)
        info.SetDownloadFolder(i % 2 ? a : b);
    stop = true;
    for (auto& t : readers)
        t.join();
    EXPECT_EQ(torn.load(), 0);
}

} // namespace
