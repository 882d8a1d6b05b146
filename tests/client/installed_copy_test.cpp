// A copy the program installs and starts itself: the client's first start copies itself into the
// installed-copies folder, that copy is then made the newer installed build, and the next start
// hands over to it. The copy runs whole from its own folder: its pages reach it through
// window.external, its web processes load the browser extension that went with it, the local
// server answers from the player folder that went with it, and it plays a movie in the movie
// reader. Screenshots go to the build folder.
#include "tests/client/ClientFixture.h"

namespace {

using namespace clienttest;
namespace fs = std::filesystem;

// The processes whose program file is this one.
std::vector<pid_t> ProcessesOf(const fs::path& program) {
    std::vector<pid_t> found;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/proc", ec)) {
        const std::string name = e.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::error_code ignored;
        if (fs::read_symlink(e.path() / "exe", ignored) == program)
            found.push_back(std::stoi(name));
    }
    return found;
}

// The children of a process, by the name the system gives them.
std::vector<pid_t> ChildrenNamed(pid_t parent, const std::string& comm) {
    std::vector<pid_t> found;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/proc", ec)) {
        const std::string stat = ReadAll(e.path() / "stat");
        const size_t open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos)
            continue;
        int ppid = 0;
        if (stat.substr(open + 1, close - open - 1) == comm &&
            std::sscanf(stat.c_str() + close + 1, " %*c %d", &ppid) == 1 && ppid == parent)
            found.push_back(std::stoi(e.path().filename().string()));
    }
    return found;
}

class InstalledCopyTest : public ClientRoadTest {
protected:
    void SetUp() override {
        ClientRoadTest::SetUp();
        // The copy the hand-over starts is left by the process that started it: it comes to this
        // test, which ends it.
        ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    }
    fs::path ExeFiles() const { return root.sub("data/Tavonel/kestrin4.0/ExeFiles"); }
};

TEST_F(InstalledCopyTest, ACopyStartedByTheHandOverPlaysAMovieAndItsPagesCallIt) {
    // The first start installs its copy, with what goes with it, and records it.
    StartClient();
    const fs::path installed = ExeFiles() / "2005";
    ASSERT_TRUE(Until(
        [&] {
            return ReadAll(ExeFiles() / "Version.ini").find("kestrin.exe=2005") != std::string::npos &&
                   fs::exists(installed / "player/player.html") && fs::is_directory(installed / "webext");
        },
        kLimit))
        << "the copy was not installed; Version.ini:\n"
        << ReadAll(ExeFiles() / "Version.ini");
    ASSERT_EQ(kill(client, SIGTERM), 0);
    ASSERT_EQ(ExitStatus(kLimit), 0);

    // That copy becomes the newer build, as an update of the program leaves it; what the local
    // server answers from its player folder now says whose folder it is.
    const fs::path newer = ExeFiles() / "2006";
    fs::rename(installed, newer);
    std::string versions = ReadAll(ExeFiles() / "Version.ini");
    versions.replace(versions.find("kestrin.exe=2005"), 16, "kestrin.exe=2006");
    WriteFileBytes(ExeFiles() / "Version.ini", versions);
    WriteFileBytes(newer / "player/whose.txt", "the installed copy's");

    // The next start hands over to it and ends.
    pid_t first = Spawn({});
    int status = -1;
    ASSERT_TRUE(Until([&] { return waitpid(first, &status, WNOHANG) == first; }, kLimit)) << "no hand-over";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const fs::path copyFile = newer / "kestrin.exe";
    ASSERT_TRUE(Until([&] { return ProcessesOf(copyFile).size() == 1; }, kLimit)) << "the copy did not start";
    client = ProcessesOf(copyFile)[0];

    // Its store page calls it (the page reports once window.external's C_HtmlLoad has answered).
    ASSERT_TRUE(Until([&] { return Layouts().size() >= 1; }, kLimit))
        << "the copy's store page never reported; the store's log:\n"
        << StoreLog() << "\nthe client's:\n"
        << ReadAll(LogPath());
    EXPECT_TRUE(ShotOfChange("copy_store", ""));
    // Its web processes load the extension from its own folder, not the build's.
    const std::string extension = (newer / "webext").string() + "/";
    EXPECT_TRUE(Until(
        [&] {
            for (pid_t web : ChildrenNamed(client, "WebKitWebProces"))
                if (ReadAll("/proc/" + std::to_string(web) + "/maps").find(extension) != std::string::npos)
                    return true;
            return false;
        },
        kLimit))
        << "no web process of the copy loaded " << extension;
    EXPECT_EQ(Output("python3 -c \"import urllib.request,sys;sys.stdout.write(urllib.request.urlopen("
                     "'http://127.0.0.1:8024/player/whose.txt').read().decode())\" 2>/dev/null"),
              "the installed copy's");

    // A movie item handed to it opens in its movie reader, which plays the item's first page.
    const std::string package = FetchPackage("f1");
    ASSERT_FALSE(package.empty());
    pid_t second = Spawn({"-p", package});
    ASSERT_TRUE(Until([&] { return waitpid(second, &status, WNOHANG) == second; }, kLimit));
    ASSERT_TRUE(Until([&] { return LargeWindows().size() == 2; }, kLimit)) << "no movie reader came up";
    std::optional<Box> reader = ShownReader();
    ASSERT_TRUE(reader);
    EXPECT_TRUE(MovieShowsPage(*reader, "f1", 1, std::string(PROJECT_BINARY_DIR) + "/client_copy_movie.png"))
        << "the copy's movie reader shows no page; see client_copy_movie.png";

    ASSERT_EQ(kill(client, SIGTERM), 0);
    EXPECT_EQ(ExitStatus(kLimit), 0);
}

} // namespace
