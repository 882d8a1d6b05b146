// Where the script bridge keeps its socket, and what becomes of the folders of processes that were
// killed before they could remove theirs.
#include "platform/kernel/ShellFolders.h"
#include "platform/web/WebBridge.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

// A socket file at path; listening when listen is set, else left behind as a killed process
// leaves one (bound, then closed). The descriptor of a listening one, else -1.
int SocketAt(const std::string& path, bool listening) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << path;
    if (listening) {
        EXPECT_EQ(listen(fd, 1), 0);
        return fd;
    }
    close(fd);
    return -1;
}

// A process that has ended: its pid names nobody (until the system hands it out again).
pid_t EndedPid() {
    pid_t pid = fork();
    if (pid == 0)
        _exit(0);
    waitpid(pid, nullptr, 0);
    return pid;
}

TEST(BridgeFolders, TheSocketLivesInTheSessionsRuntimeFolderUnderThisProcess) {
    const afxweb::CWebBridge& bridge = afxweb::CWebBridge::Instance();
    ASSERT_TRUE(bridge.Started());
    const std::string runtime = AfxGetRuntimeFolder();
    ASSERT_FALSE(runtime.empty());
    const std::string prefix = runtime + "/kestrin-web-" + std::to_string(getpid()) + "-";
    EXPECT_EQ(bridge.SocketPath().rfind(prefix, 0), 0u) << bridge.SocketPath();
    struct stat st {};
    ASSERT_EQ(stat(fs::path(bridge.SocketPath()).parent_path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(BridgeFolders, AStartRemovesOnlyTheFoldersOfProcessesThatAreGone) {
    TempDir dir;
    pid_t alive = fork();
    if (alive == 0) {
        pause();
        _exit(0);
    }
    ASSERT_GT(alive, 0);
    struct Folder {
        std::string name;
        int socket; // 0 none, 1 left behind, 2 listening
        bool stays;
    } folders[] = {
        {"kestrin-web-" + std::to_string(EndedPid()) + "-aaaaaa", 1, false},
        {"kestrin-web-" + std::to_string(EndedPid()) + "-bbbbbb", 0, false},
        {"kestrin-web-" + std::to_string(alive) + "-cccccc", 1, true},
        {"kestrin-web-" + std::to_string(getpid()) + "-dddddd", 2, true},
        // Folders of older builds, named without a pid: gone once their socket is dead.
        {"kestrin-web-Xy12Zq", 1, false},
        {"kestrin-web-Ab34Cd", 2, true},
        {"kestrin-web-Ef56Gh", 0, true},
        {"something-else-" + std::to_string(EndedPid()) + "-eeeeee", 1, true},
    };
    std::vector<int> listening;
    for (const Folder& f : folders) {
        fs::create_directory(dir.sub(f.name));
        if (f.socket) {
            int fd = SocketAt(dir.sub(f.name + "/bridge"), f.socket == 2);
            if (fd >= 0)
                listening.push_back(fd);
        }
    }
    afxweb::RemoveStaleBridgeFolders(dir.path());
    for (const Folder& f : folders)
        EXPECT_EQ(fs::exists(dir.sub(f.name)), f.stays) << f.name;

    // A new one is named after this process, and is this user's alone.
    const std::string made = afxweb::MakeBridgeFolder(dir.path());
    EXPECT_EQ(made.rfind(dir.sub("kestrin-web-" + std::to_string(getpid()) + "-"), 0), 0u) << made;
    EXPECT_EQ(fs::status(made).permissions(), fs::perms::owner_all);
    for (int fd : listening)
        close(fd);
    kill(alive, SIGKILL);
    waitpid(alive, nullptr, 0);
}

} // namespace
