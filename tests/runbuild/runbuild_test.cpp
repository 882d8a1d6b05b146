// The client as `make run` built it (CLIENT_PATH names that build's program): the movie reader
// plays a movie with the player that build put beside it. The screenshot goes to the build
// folder as runbuild_movie.png.
#include "tests/client/ClientFixture.h"

namespace {

using namespace clienttest;
namespace fs = std::filesystem;

using RunBuildTest = ClientRoadTest;

TEST_F(RunBuildTest, TheMovieReaderPlaysAMovie) {
    ASSERT_TRUE(fs::exists(CLIENT_PATH)) << "the run build made no client";
    const std::string package = FetchPackage("f1");
    ASSERT_FALSE(package.empty());
    StartClient(package);

    ASSERT_TRUE(Until([&] { return LargeWindows().size() == 2; }, kLimit))
        << "no movie reader came up; the client said:\n"
        << ReadAll(LogPath());
    std::optional<Box> reader = ShownReader();
    ASSERT_TRUE(reader);
    EXPECT_TRUE(MovieShowsPage(*reader, "f1", 1, std::string(PROJECT_BINARY_DIR) + "/runbuild_movie.png"))
        << "the movie reader shows no page; see runbuild_movie.png; the client said:\n"
        << ReadAll(LogPath());
    EXPECT_EQ(Output("python3 -c \"import urllib.request,sys;sys.stdout.write(str(urllib.request.urlopen("
                     "'http://127.0.0.1:8024/player/player.html').status))\" 2>/dev/null"),
              "200");

    ASSERT_EQ(kill(client, SIGTERM), 0);
    EXPECT_EQ(ExitStatus(kLimit), 0);
}

} // namespace
