#include "platform/kernel/FileLock.h"
#include "platform/kernel/Kernel.h"
#include "platform/kernel/Module.h"
#include "tests/support/LockHolder.h"
#include "tests/support/WaitFor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <functional>
#include <memory>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>
#include <fcntl.h>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A fresh folder, known by its Linux path and by the program's Windows form of it.
class KernelFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kernel_files_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        m_win = AfxUnmapPath(m_dir);
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(m_dir, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(m_dir, ec);
    }
    std::string L(const std::string& rel) const { return m_dir + "/" + rel; }
    std::string W(const std::string& rel) const { return m_win + "\\" + rel; }
    static void Put(const std::string& path, const std::string& data) {
        std::ofstream(path, std::ios::binary) << data;
    }
    static std::string Get(const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    }
    std::string m_dir, m_win;
};

TEST_F(KernelFiles, WindowsFormMapsToLinuxPathAndBack) {
    fs::create_directory(L("Sub"));
    struct Case {
        std::string win;
        std::string linux;
    } cases[] = {
        {"\\tmp\\a\\b.txt", "/tmp/a/b.txt"},
        {"\\\\tmp\\\\\\a//b", "/tmp/a/b"},                // repeated separators fold, "/" counts too
        {"rel\\x.ini", "rel/x.ini"},                      // relative stays relative
        {"\\tmp\\\xD5\x5C.txt", "/tmp/\xE8\xAA\xA0.txt"}, // GBK D5 5C is one character, not "\"
        {"\\tmp\\\xD6\xD0\xCE\xC4\\", "/tmp/\xE4\xB8\xAD\xE6\x96\x87/"},
        {W("SUB\\New.Txt"), L("Sub/New.Txt")}, // existing folder found without regard to case
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.win);
        std::string out;
        ASSERT_TRUE(AfxMapPath(c.win.c_str(), out));
        EXPECT_EQ(out, c.linux);
    }
    EXPECT_EQ(AfxUnmapPath("/tmp/\xE4\xB8\xAD\xE6\x96\x87/x"), "\\tmp\\\xD6\xD0\xCE\xC4\\x");
    EXPECT_EQ(AfxUnmapPath("/home/u/x"), "\\home\\u\\x");
    std::string w;
    EXPECT_FALSE(AfxUnmapPath("/tmp/\xF0\x9F\x98\x80", w)); // no GBK form
}

TEST_F(KernelFiles, PathsThatNameNothingFailAsMissing) {
    const char* bad[] = {"C:\\Windows\\x.txt", "p:\\data", "c:", "", "\\tmp\\\x81"};
    for (const char* p : bad) {
        SCOPED_TRACE(p);
        std::string out;
        SetLastError(0);
        EXPECT_FALSE(AfxMapPath(p, out));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
        EXPECT_EQ(GetFileAttributesA(p), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(win_fopen(p, "rb"), nullptr);
        EXPECT_FALSE(CreateDirectoryA(p, nullptr));
    }
    EXPECT_EQ(GetDriveTypeA("C:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
    EXPECT_EQ(GetDriveTypeA(m_win.c_str()), static_cast<UINT>(DRIVE_FIXED));
}

TEST_F(KernelFiles, ExistingNameIsMatchedWithoutRegardToCase) {
    fs::create_directory(L("Skin_2005"));
    Put(L("Skin_2005/Read.Swf"), "movie");
    FILE* f = win_fopen(W("skin_2005\\read.swf").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char buf[16] = {};
    EXPECT_EQ(fread(buf, 1, sizeof buf, f), 5u);
    fclose(f);
    EXPECT_STREQ(buf, "movie");
    EXPECT_TRUE(PathFileExistsA(W("SKIN_2005\\READ.SWF").c_str()));
    EXPECT_EQ(_access(W("skin_2005\\read.swf").c_str(), 0), 0);

    // Writing through another case replaces the existing file rather than adding a second one.
    f = win_fopen(W("skin_2005\\READ.swf").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fputs("new", f);
    fclose(f);
    EXPECT_EQ(Get(L("Skin_2005/Read.Swf")), "new");
    EXPECT_EQ(std::distance(fs::directory_iterator(L("Skin_2005")), fs::directory_iterator()), 1);

    // A new file takes the name as given.
    f = win_fopen(W("skin_2005\\Layout.XML").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fclose(f);
    EXPECT_TRUE(fs::exists(L("Skin_2005/Layout.XML")));
}

TEST_F(KernelFiles, FolderCannotBeOpenedAsFile) {
    fs::create_directory(L("dir"));
    for (const char* mode : {"rb", "r", "r+b"}) {
        SCOPED_TRACE(mode);
        errno = 0;
        EXPECT_EQ(win_fopen(W("dir").c_str(), mode), nullptr);
        EXPECT_EQ(errno, EISDIR);
    }
    EXPECT_EQ(win_fopen(W("DIR").c_str(), "rb"), nullptr);
    CFile file;
    EXPECT_FALSE(file.Open(W("dir").c_str(), CFile::modeRead | CFile::typeBinary));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(GetFileAttributesA(W("dir").c_str()) & FILE_ATTRIBUTE_DIRECTORY,
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
}

TEST_F(KernelFiles, CreateDirectoryMakesOneLevel) {
    EXPECT_TRUE(CreateDirectoryA(W("a").c_str(), nullptr));
    EXPECT_TRUE(fs::is_directory(L("a")));
    SetLastError(0);
    EXPECT_FALSE(CreateDirectoryA(W("A").c_str(), nullptr)); // exists, whatever its case
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(CreateDirectoryA(W("x\\y").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_TRUE(CreateDirectoryA(W("a\\b\\").c_str(), nullptr));
    EXPECT_TRUE(fs::is_directory(L("a/b")));

    Put(L("a/b/f"), "x");
    EXPECT_FALSE(RemoveDirectoryA(W("a\\b").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
    EXPECT_FALSE(DeleteFileA(W("a\\b").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(DeleteFileA(W("a\\b\\F").c_str()));
    EXPECT_FALSE(DeleteFileA(W("a\\b\\F").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(RemoveDirectoryA(W("a\\b").c_str()));
    EXPECT_FALSE(fs::exists(L("a/b")));
}

TEST_F(KernelFiles, MoveAndCopyKeepExistingTargets) {
    Put(L("src"), "new");
    Put(L("dst"), "old");
    SetLastError(0);
    EXPECT_FALSE(MoveFileA(W("src").c_str(), W("dst").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(Get(L("dst")), "old");
    EXPECT_EQ(Get(L("src")), "new");

    EXPECT_FALSE(CopyFileA(W("src").c_str(), W("dst").c_str(), TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_EQ(Get(L("dst")), "old");
    EXPECT_TRUE(CopyFileA(W("src").c_str(), W("dst").c_str(), FALSE));
    EXPECT_EQ(Get(L("dst")), "new");
    EXPECT_TRUE(CopyFileA(W("src").c_str(), W("copy").c_str(), TRUE));
    EXPECT_EQ(Get(L("copy")), "new");

    // A copy onto itself must not truncate the only copy.
    EXPECT_FALSE(CopyFileA(W("src").c_str(), W("SRC").c_str(), FALSE));
    EXPECT_EQ(Get(L("src")), "new");

    Put(L("pkg.temp"), "package");
    EXPECT_TRUE(MoveFileExA(W("pkg.temp").c_str(), W("dst").c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(Get(L("dst")), "package");
    EXPECT_FALSE(fs::exists(L("pkg.temp")));
    EXPECT_TRUE(MoveFileA(W("copy").c_str(), W("moved").c_str()));
    EXPECT_EQ(Get(L("moved")), "new");
    EXPECT_FALSE(MoveFileA(W("missing").c_str(), W("x").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(KernelFiles, CopyKeepsTheProgramRunnable) {
    Put(L("prog"), "#!/bin/sh\n");
    chmod(L("prog").c_str(), 0755);
    ASSERT_TRUE(CopyFileA(W("prog").c_str(), W("prog2").c_str(), TRUE));
    EXPECT_EQ(access(L("prog2").c_str(), X_OK), 0);
}

TEST_F(KernelFiles, AttributesAndErrors) {
    Put(L(".hidden"), "");
    Put(L("plain"), "");
    EXPECT_EQ(GetFileAttributesA(W(".hidden").c_str()) & FILE_ATTRIBUTE_HIDDEN,
              static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
    DWORD a = GetFileAttributesA(W("plain").c_str());
    EXPECT_EQ(a & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY), 0u);
    EXPECT_NE(a, INVALID_FILE_ATTRIBUTES);
    SetLastError(0);
    EXPECT_EQ(GetFileAttributesA(W("nothing").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(GetFileAttributesA(W("no\\thing").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    EXPECT_TRUE(SetFileAttributesA(W("plain").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(GetFileAttributesA(W("plain").c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(SetFileAttributesA(W("plain").c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_FALSE(GetFileAttributesA(W("plain").c_str()) & FILE_ATTRIBUTE_READONLY);
}

TEST_F(KernelFiles, FindListsDotsNamesAndUtcTimes) {
    fs::create_directory(L("sub"));
    Put(L("a.txt"), "12345");
    Put(L("B.TXT"), "");
    Put(L(".secret"), "");
    Put(L("\xE4\xB8\xAD\xE6\x96\x87.txt"), ""); // shown in GBK
    // 2020-01-01 00:00:00 UTC.
    struct timespec times[2] = {{1577836800, 0}, {1577836800, 0}};
    utimensat(AT_FDCWD, L("a.txt").c_str(), times, 0);

    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(W("*.*").c_str(), &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::vector<std::string> names;
    std::set<std::string> dirs, hidden;
    do {
        names.push_back(fd.cFileName);
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            dirs.insert(fd.cFileName);
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN)
            hidden.insert(fd.cFileName);
        if (std::string(fd.cFileName) == "a.txt") {
            EXPECT_EQ(fd.nFileSizeLow, 5u);
            uint64_t t =
                (uint64_t(fd.ftLastWriteTime.dwHighDateTime) << 32) | fd.ftLastWriteTime.dwLowDateTime;
            EXPECT_EQ(t, 132223104000000000ULL);
        }
    } while (FindNextFileA(h, &fd));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(h));
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(names[0], ".");
    EXPECT_EQ(names[1], "..");
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", ".secret", "B.TXT", "a.txt", "sub",
                                               "\xD6\xD0\xCE\xC4.txt"}));
    EXPECT_EQ(dirs, (std::set<std::string>{".", "..", "sub"}));
    EXPECT_EQ(hidden, (std::set<std::string>{".secret"}));

    // The pattern compares without regard to case.
    h = FindFirstFileA(W("*.txt").c_str(), &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    int count = 1;
    while (FindNextFileA(h, &fd))
        ++count;
    FindClose(h);
    EXPECT_EQ(count, 3);

    EXPECT_EQ(FindFirstFileA(W("*.none").c_str(), &fd), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(FindFirstFileA(W("missing\\*.*").c_str(), &fd), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(KernelFiles, CFileModesAndLengths) {
    CFile f;
    EXPECT_FALSE(f.Open(W("data.bin").c_str(), CFile::modeRead | CFile::typeBinary));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    ASSERT_TRUE(f.Open(W("data.bin").c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
    f.Write("0123456789", 10);
    EXPECT_FALSE(f.WriteFailed());
    EXPECT_EQ(f.GetLength(), 10u);
    f.Close();

    // modeNoTruncate keeps the bytes; Seek and Read work from any end.
    ASSERT_TRUE(f.Open(W("DATA.bin").c_str(), CFile::modeCreate | CFile::modeNoTruncate |
                                                  CFile::modeReadWrite | CFile::shareDenyNone));
    EXPECT_EQ(f.GetLength(), 10u);
    EXPECT_EQ(f.Seek(-3, CFile::end), 7u);
    char buf[8] = {};
    EXPECT_EQ(f.Read(buf, 8), 3u);
    EXPECT_STREQ(buf, "789");
    f.SeekToEnd();
    f.Write("ab", 2);
    EXPECT_EQ(f.GetLength(), 12u);
    EXPECT_EQ(f.GetFileName(), CString("DATA.bin"));
    f.Close();
    EXPECT_FALSE(f.IsOpen());

    ASSERT_TRUE(f.Open(W("data.bin").c_str(), CFile::modeCreate | CFile::modeWrite));
    EXPECT_EQ(f.GetLength(), 0u);
    // Lengths past 4 GiB (a sparse file costs nothing).
    f.SetLength(5ULL << 30);
    EXPECT_EQ(f.GetLength(), 5ULL << 30);
    f.Close();
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(W("data.bin").c_str(), &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FindClose(h);
    EXPECT_EQ(fd.nFileSizeHigh, 1u);
    EXPECT_EQ(fd.nFileSizeLow, 1u << 30);

    EXPECT_FALSE(f.Open(W("nofolder\\x").c_str(), CFile::modeCreate | CFile::modeWrite));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(KernelFiles, ProgramOpenerAndStandardOpenerEachKeepTheirPaths) {
    FILE* f = win_fopen(W("both.txt").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fputs("bytes", f);
    fclose(f);
    // fopen is the C library's own: it takes the Linux path, and the Windows form names nothing.
    f = std::fopen(L("both.txt").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char buf[8] = {};
    EXPECT_EQ(std::fread(buf, 1, sizeof buf, f), 5u);
    std::fclose(f);
    EXPECT_STREQ(buf, "bytes");
    EXPECT_EQ(fopen(W("both.txt").c_str(), "rb"), nullptr);
}

// Runs op on a thread of its own and tells whether it ended at once. An opener that waits for
// the other side of the FIFO is set free by opening that side, so that a fault fails the test
// instead of hanging it.
bool EndsAtOnce(const std::function<void()>& op, const std::string& fifo) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread t([op, done] {
        op();
        done->store(true);
    });
    const bool inTime = testwait::WaitFor([&] { return done->load(); }, std::chrono::seconds(3));
    if (!inTime) {
        int r = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        int w = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (w >= 0)
            close(w); // a reader sees the end of the data once it is in
        char buf[4096];
        while (!done->load())
            if (r < 0 || read(r, buf, sizeof buf) <= 0)
                std::this_thread::yield();
        if (r >= 0)
            close(r);
    }
    t.join();
    return inTime;
}

// A FIFO, a device or a socket where the program expects a file: every opener refuses it at once,
// without waiting for a peer, and the file calls report it as neither file nor folder.
TEST_F(KernelFiles, OnlyRegularFilesAreOpened) {
    std::signal(SIGPIPE, SIG_IGN);
    ASSERT_EQ(mkfifo(L("pipe").c_str(), 0600), 0);
    fs::create_symlink(L("pipe"), L("link"));
    int sock = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, L("sock").c_str());
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    Put(L("file"), "data");
    struct Entry {
        const char* what;
        std::string linux;
    };
    std::vector<Entry> entries = {
        {"a FIFO", L("pipe")}, {"a link to a FIFO", L("link")}, {"a socket", L("sock")}};
    // A device of its own (the null device's numbers), so that nothing done to it reaches the
    // system's; only root may make one.
    if (mknod(L("null").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0)
        entries.push_back({"a device", L("null")});
    else
        std::printf("note: no device node can be made here (not root), so devices go untested\n");
    struct Opener {
        const char* what;
        std::function<bool(const std::string&)> refuses; // given the Windows form
    } openers[] = {
        {"win_fopen rb", [](const std::string& w) { return win_fopen(w.c_str(), "rb") == nullptr; }},
        {"win_fopen wb", [](const std::string& w) { return win_fopen(w.c_str(), "wb") == nullptr; }},
        {"win_fopen ab", [](const std::string& w) { return win_fopen(w.c_str(), "ab") == nullptr; }},
        {"CFile read",
         [](const std::string& w) {
             CFile f;
             return !f.Open(w.c_str(), CFile::modeRead) && GetLastError() == ERROR_ACCESS_DENIED;
         }},
        {"CFile create",
         [](const std::string& w) {
             CFile f;
             return !f.Open(w.c_str(), CFile::modeCreate | CFile::modeWrite);
         }},
        {"LoadLibraryA", [](const std::string& w) { return LoadLibraryA(w.c_str()) == nullptr; }},
        {"GetPrivateProfileStringA",
         [](const std::string& w) {
             char buf[16] = {};
             return GetPrivateProfileStringA("Version", "skin", "none", buf, sizeof buf, w.c_str()) == 4 &&
                    std::string(buf) == "none";
         }},
        {"CopyFileA from it",
         [this](const std::string& w) {
             return !CopyFileA(w.c_str(), W("copy").c_str(), FALSE) && !fs::exists(L("copy"));
         }},
        {"CopyFileA onto it",
         [this](const std::string& w) { return !CopyFileA(W("file").c_str(), w.c_str(), FALSE); }},
        {"CFileLock",
         [](const std::string& w) {
             CFileLock lock;
             return !lock.TryLock(w.c_str()) && GetLastError() == ERROR_ACCESS_DENIED;
         }},
    };
    for (const Entry& e : entries) {
        const std::string w = AfxUnmapPath(e.linux);
        EXPECT_EQ(GetFileAttributesA(w.c_str()) & (FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_DIRECTORY),
                  static_cast<DWORD>(FILE_ATTRIBUTE_DEVICE))
            << e.what;
        for (const Opener& o : openers) {
            SCOPED_TRACE(std::string(e.what) + ", " + o.what);
            bool refused = false;
            EXPECT_TRUE(EndsAtOnce([&] { refused = o.refuses(w); }, L("pipe")));
            EXPECT_TRUE(refused);
        }
    }
    close(sock);
    // The FIFO is still a FIFO: nothing wrote through it or over it.
    struct stat st;
    ASSERT_EQ(lstat(L("pipe").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(Get(L("file")), "data");
}

// A profile written while a FIFO stands in its place replaces it, as a missing file would be.
TEST_F(KernelFiles, ProfileWrittenOverAFifoBecomesAFile) {
    ASSERT_EQ(mkfifo(L("Version.ini").c_str(), 0600), 0);
    bool written = false;
    EXPECT_TRUE(EndsAtOnce(
        [&] { written = WritePrivateProfileStringA("Version", "skin", "2005", W("Version.ini").c_str()); },
        L("Version.ini")));
    EXPECT_TRUE(written);
    EXPECT_EQ(Get(L("Version.ini")), "[Version]\r\nskin=2005\r\n");
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// Files and folders the program keeps for itself are this user's alone, also when an older
// version left them open to others.
TEST_F(KernelFiles, PrivateFoldersAndProfilesAreTheUsersAlone) {
    const mode_t old = umask(022);
    EXPECT_TRUE(AfxCreatePrivateDirectoryA(W("new").c_str()));
    EXPECT_EQ(ModeOf(L("new")), 0700u);
    fs::create_directory(L("open"));
    chmod(L("open").c_str(), 0755);
    SetLastError(0);
    EXPECT_FALSE(AfxCreatePrivateDirectoryA(W("open").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(ModeOf(L("open")), 0700u);
    EXPECT_FALSE(AfxCreatePrivateDirectoryA(W("no\\such").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    ASSERT_TRUE(WritePrivateProfileStringA("Version", "skin", "2005", W("Version.ini").c_str()));
    EXPECT_EQ(ModeOf(L("Version.ini")), 0600u);
    chmod(L("Version.ini").c_str(), 0644);
    ASSERT_TRUE(WritePrivateProfileStringA("Version", "data", "2005", W("Version.ini").c_str()));
    EXPECT_EQ(ModeOf(L("Version.ini")), 0600u);
    umask(old);
}

TEST_F(KernelFiles, FileLockIsOneHoldersAndGoesWithItsProcess) {
    const std::string lock = W("instance.lock");
    CFileLock a, b;
    ASSERT_TRUE(a.TryLock(lock.c_str()));
    EXPECT_TRUE(a.TryLock(lock.c_str())); // held already
    EXPECT_EQ(ModeOf(L("instance.lock")), 0600u);
    SetLastError(0);
    EXPECT_FALSE(b.TryLock(lock.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
    a.Unlock();
    EXPECT_TRUE(b.TryLock(lock.c_str()));
    b.Unlock();

    // Held by another process until it is killed; then free at once.
    LockHolder other(L("instance.lock"));
    ASSERT_TRUE(other.Holds());
    EXPECT_FALSE(a.TryLock(lock.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
    other.Kill();
    EXPECT_TRUE(a.TryLock(lock.c_str()));
}

TEST_F(KernelFiles, FullPathsTempPathAndFreeSpace) {
    char buf[MAX_PATH];
    LPSTR part = nullptr;
    struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"\\a\\b\\..\\c.txt", "\\a\\c.txt"}, {"\\a\\.\\b\\", "\\a\\b\\"},        {"\\..\\x", "\\x"},
        {"C:\\x\\..\\y.exe", "C:\\y.exe"},   {"\\a\\\xD5\x5C\\..\\z", "\\a\\z"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.in);
        DWORD n = GetFullPathNameA(c.in, MAX_PATH, buf, &part);
        EXPECT_EQ(n, std::strlen(c.out));
        EXPECT_STREQ(buf, c.out);
    }
    GetFullPathNameA("\\a\\file.ini", MAX_PATH, buf, &part);
    EXPECT_STREQ(part, "file.ini");
    EXPECT_EQ(GetFullPathNameA("\\a\\file.ini", 4, buf, nullptr), 12u); // size needed with terminator

    char cwd[MAX_PATH];
    ASSERT_TRUE(getcwd(cwd, sizeof cwd));
    ASSERT_EQ(chdir(m_dir.c_str()), 0);
    GetFullPathNameA("x\\y", MAX_PATH, buf, nullptr);
    EXPECT_EQ(std::string(buf), W("x\\y"));
    ASSERT_EQ(chdir(cwd), 0);

    DWORD n = GetTempPathA(MAX_PATH, buf);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(buf[n - 1], '\\');

    ULARGE_INTEGER avail{}, total{}, freeBytes{};
    EXPECT_TRUE(GetDiskFreeSpaceExA(m_win.c_str(), &avail, &total, &freeBytes));
    EXPECT_GT(total.QuadPart, 0u);
    EXPECT_GE(freeBytes.QuadPart, avail.QuadPart);
    EXPECT_FALSE(GetDiskFreeSpaceExA("D:\\", &avail, &total, &freeBytes));
}

TEST(KernelErrors, LastErrorIsPerThreadAndHasText) {
    SetLastError(ERROR_ACCESS_DENIED);
    std::thread([] {
        EXPECT_EQ(GetLastError(), 0u);
        SetLastError(ERROR_FILE_NOT_FOUND);
    }).join();
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    char msg[200];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             ERROR_FILE_NOT_FOUND, 0, msg, sizeof msg, nullptr);
    EXPECT_GT(n, 2u);
    EXPECT_STREQ(msg + n - 2, "\r\n");
}

TEST(KernelSystem, ComputerNameIsTheHostsFirstLabelCutToFifteen) {
    char host[256] = {};
    ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
    std::string expect(host);
    expect = expect.substr(0, expect.find('.')).substr(0, MAX_COMPUTERNAME_LENGTH);

    char name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = sizeof name;
    ASSERT_TRUE(GetComputerNameA(name, &size));
    EXPECT_EQ(std::string(name), expect);
    EXPECT_EQ(size, expect.size());

    // Too small a buffer tells the size needed, terminator included, and writes nothing.
    char small[2] = {'x', 'y'};
    size = sizeof small;
    if (expect.size() + 1 > sizeof small) {
        SetLastError(0);
        EXPECT_FALSE(GetComputerNameA(small, &size));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
        EXPECT_EQ(size, expect.size() + 1);
        EXPECT_EQ(small[0], 'x');
    }
    EXPECT_FALSE(GetComputerNameA(name, nullptr));
}

} // namespace
