// Whole-file reads and writes, lengths, existence, the module path and Version.ini.
#include "foundation/AppPathInfo.h"
#include "foundation/CommonFunc.h"
#include "tests/foundation/FoundationTestUtil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Names in the folder other than the ones given: what a write left behind.
std::vector<std::string> Leftovers(const std::string& dir, const std::vector<std::string>& expected) {
    std::vector<std::string> extra;
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (std::find(expected.begin(), expected.end(), name) == expected.end())
            extra.push_back(name);
    }
    return extra;
}

TEST(WholeFile, WritesExactBytesAndReadsThemBack) {
    TempDir dir;
    const CString path = ftest::Win(dir.sub("state.xml"));
    const std::string bytes = "<?xml?>\r\n\xD6\xD0\xCE\xC4\n\xEF\xBB\xBF tail";
    ASSERT_TRUE(g_CommonFunc.WriteWholeFile(path, CString(bytes)));
    EXPECT_EQ(ReadFileBytes(dir.sub("state.xml")), bytes);
    EXPECT_TRUE(Leftovers(dir.path(), {"state.xml"}).empty());

    CString text = "stale";
    ASSERT_TRUE(g_CommonFunc.ReadWholeFile(path, text));
    EXPECT_EQ(text.str(), bytes);
    EXPECT_EQ(g_CommonFunc.GetFileLength(path), bytes.size());

    // Replacing with a shorter text leaves nothing of the longer one.
    ASSERT_TRUE(g_CommonFunc.WriteWholeFile(path, "ab"));
    EXPECT_EQ(ReadFileBytes(dir.sub("state.xml")), "ab");
    ASSERT_TRUE(g_CommonFunc.WriteWholeFile(path, ""));
    EXPECT_EQ(ReadFileBytes(dir.sub("state.xml")), "");
    EXPECT_TRUE(fs::exists(dir.sub("state.xml")));
    EXPECT_TRUE(Leftovers(dir.path(), {"state.xml"}).empty());
}

// State files are the user's alone (user.xml holds the password), also one that an older build
// wrote open to others, whatever the umask.
TEST(WholeFile, WrittenFilesAreTheUsersAlone) {
    TempDir dir;
    const mode_t old = umask(0);
    const std::string file = dir.sub("user.xml");
    struct Case {
        const char* what;
        int before; // -1: no file yet
    } cases[] = {{"a new file", -1}, {"an older file open to all", 0666}, {"a file of the user's", 0600}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(file);
        if (c.before >= 0) {
            WriteFileBytes(file, "<userInfo/>");
            chmod(file.c_str(), static_cast<mode_t>(c.before));
        }
        ASSERT_TRUE(g_CommonFunc.WriteWholeFile(ftest::Win(file), "<userInfo>\r\n</userInfo>\r\n"));
        EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(ReadFileBytes(file), "<userInfo>\r\n</userInfo>\r\n");
    }
    umask(old);
}

TEST(WholeFile, ReadStopsAtZeroByte) {
    TempDir dir;
    WriteFileBytes(dir.sub("z"), std::string("ab\0cd", 5));
    CString text;
    EXPECT_TRUE(g_CommonFunc.ReadWholeFile(ftest::Win(dir.sub("z")), text));
    EXPECT_EQ(text.str(), "ab");
    EXPECT_EQ(g_CommonFunc.GetFileLength(ftest::Win(dir.sub("z"))), 5u);
}

TEST(WholeFile, FileTooLargeToHoldIsRefused) {
    // A sparse file of 4 GiB + 1 byte: its size wraps a 32-bit count, and no string can hold it.
    TempDir dir;
    const std::string big = dir.sub("big.bin");
    WriteFileBytes(big, "");
    std::error_code ec;
    fs::resize_file(big, (4ull << 30) + 1, ec);
    if (ec)
        GTEST_SKIP() << "no sparse file here: " << ec.message();
    const CString path = ftest::Win(big);
    EXPECT_EQ(g_CommonFunc.GetFileLength(path), (4ull << 30) + 1);
    CString text = "stale";
    EXPECT_FALSE(g_CommonFunc.ReadWholeFile(path, text));
    EXPECT_STREQ(text, "");
}

TEST(WholeFile, FailuresReportFalse) {
    TempDir dir;
    fs::create_directory(dir.sub("folder"));
    struct Case {
        const char* name;
        CString path;
    };
    const Case cases[] = {
        {"missing file", ftest::Win(dir.sub("none.xml"))},
        {"folder", ftest::Win(dir.sub("folder"))},
        {"missing folder", ftest::Win(dir.sub("no/such.xml"))},
        {"drive letter", "Q:\\x\\y.xml"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CString text = "stale";
        EXPECT_FALSE(g_CommonFunc.ReadWholeFile(c.path, text));
        EXPECT_STREQ(text, "");
        EXPECT_EQ(g_CommonFunc.GetFileLength(c.path), 0u);
    }
    EXPECT_FALSE(g_CommonFunc.WriteWholeFile(ftest::Win(dir.sub("no/such.xml")), "x"));
    EXPECT_FALSE(g_CommonFunc.WriteWholeFile("Q:\\x.xml", "x"));
    // A folder in the way is not replaced by a file.
    EXPECT_FALSE(g_CommonFunc.WriteWholeFile(ftest::Win(dir.sub("folder")), "x"));
    EXPECT_TRUE(fs::is_directory(dir.sub("folder")));
    EXPECT_TRUE(Leftovers(dir.path(), {"folder"}).empty());
}

TEST(WholeFile, ShortWriteKeepsOldFileAndReportsFalse) {
    // A file-size limit makes the write fail half-way, as a full disk does.
    TempDir dir;
    const std::string old = "old content that must survive";
    WriteFileBytes(dir.sub("user.xml"), old);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit lim{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &lim);
        const bool ok =
            g_CommonFunc.WriteWholeFile(ftest::Win(dir.sub("user.xml")), CString(std::string(20000, 'n')));
        _exit(ok ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a short write was reported as success";
    EXPECT_EQ(ReadFileBytes(dir.sub("user.xml")), old);
    EXPECT_TRUE(Leftovers(dir.path(), {"user.xml"}).empty());
}

TEST(WholeFile, KillDuringWriteNeverLeavesTruncatedFile) {
    TempDir dir;
    const std::string oldBytes(1 << 20, 'o');
    const std::string newBytes(8 << 20, 'n');
    WriteFileBytes(dir.sub("MagShelf.xml"), oldBytes);
    const CString path = ftest::Win(dir.sub("MagShelf.xml"));
    for (int delayMs : {0, 1, 3, 7, 15, 30}) {
        SCOPED_TRACE(delayMs);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const CString text(newBytes);
            for (;;)
                g_CommonFunc.WriteWholeFile(path, text);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        const std::string now = ReadFileBytes(dir.sub("MagShelf.xml"));
        EXPECT_TRUE(now == oldBytes || now == newBytes) << "file of " << now.size() << " bytes";
    }
}

TEST(FileExists, FilesAndFolders) {
    TempDir dir;
    WriteFileBytes(dir.sub("f"), "x");
    fs::create_directory(dir.sub("d"));
    EXPECT_TRUE(g_CommonFunc.FileExists(ftest::Win(dir.sub("f"))));
    EXPECT_TRUE(g_CommonFunc.FileExists(ftest::Win(dir.sub("d"))));
    // Neither a file nor a folder: a FIFO, whose opening would wait for a writer, and a device.
    ASSERT_EQ(mkfifo(dir.sub("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(g_CommonFunc.FileExists(ftest::Win(dir.sub("fifo"))));
    EXPECT_FALSE(g_CommonFunc.FileExists("\\dev\\null"));
    fs::create_symlink(dir.sub("f"), dir.sub("link"));
    EXPECT_TRUE(g_CommonFunc.FileExists(ftest::Win(dir.sub("link"))));
    EXPECT_TRUE(g_CommonFunc.FileExists(ftest::Win(dir.sub("F")))); // names compare without case
    EXPECT_FALSE(g_CommonFunc.FileExists(ftest::Win(dir.sub("none"))));
    EXPECT_FALSE(g_CommonFunc.FileExists("C:\\Windows"));
    EXPECT_EQ(g_CommonFunc.GetFileLength(ftest::Win(dir.sub("d"))), 0u);
}

TEST(ModulePath, IsThisExecutableInWindowsForm) {
    const CString path = g_CommonFunc.GetModulePath();
    EXPECT_EQ(path.str(), AfxUnmapPath(fs::canonical("/proc/self/exe").string()));
    const CString dir = g_CommonFunc.GetModuleDir();
    EXPECT_EQ(dir.str() + "\\" + fs::canonical("/proc/self/exe").filename().string(), path.str());
}

class VersionIni : public ::testing::Test {
protected:
    void SetUp() override {
        m_saved = g_AppPathInfo.m_strExeFilesDir;
        g_AppPathInfo.m_strExeFilesDir = ftest::Win(m_dir.path());
    }
    void TearDown() override { g_AppPathInfo.m_strExeFilesDir = m_saved; }
    std::string IniPath() const { return m_dir.sub("Version.ini"); }

    TempDir m_dir;
    CString m_saved;
};

TEST_F(VersionIni, MissingFileReadsZero) {
    EXPECT_EQ(g_CommonFunc.GetComponentVersion("skin"), 0);
    EXPECT_FALSE(fs::exists(IniPath()));
}

TEST_F(VersionIni, ValuesAsDecimalIntegers) {
    struct Case {
        const char* value;
        int expected;
    };
    const Case cases[] = {{"abc", 0},    {"2005", 2005}, {"  42", 42}, {"-7", -7},    {"+8", 8},
                          {"12abc", 12}, {"", 0},        {"0x10", 0},  {"\"33\"", 33}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        WriteFileBytes(IniPath(), std::string("[Version]\r\ndata=") + c.value + "\r\n");
        EXPECT_EQ(g_CommonFunc.GetComponentVersion("data"), c.expected);
        EXPECT_EQ(g_CommonFunc.GetComponentVersion("skin"), 0); // absent key
    }
}

TEST_F(VersionIni, SetThenGetAndTheExactBytes) {
    g_CommonFunc.SetComponentVersion("skin", 2005);
    EXPECT_EQ(g_CommonFunc.GetComponentVersion("skin"), 2005);
    EXPECT_EQ(ReadFileBytes(IniPath()), "[Version]\r\nskin=2005\r\n");

    g_CommonFunc.SetComponentVersion("kestrin.exe", 7);
    g_CommonFunc.SetComponentVersion("skin", 2006);
    EXPECT_EQ(ReadFileBytes(IniPath()), "[Version]\r\nskin=2006\r\nkestrin.exe=7\r\n");
    EXPECT_EQ(g_CommonFunc.GetComponentVersion("SKIN"), 2006);
    EXPECT_EQ(g_CommonFunc.GetComponentVersion("kestrin.exe"), 7);
}

} // namespace
