// The program's own files served at fixed addresses of the local server (the reader's player
// and movie): the files below a published folder and nothing outside it, the exact address that
// follows its function, and the item's memory files unchanged beside them.
#include "tests/localserver/LocalServerFixture.h"

#include "contentserver/ServedFiles.h"
#include "platform/kernel/FileSys.h"

using namespace lstest;

namespace {

// A player folder on disk, with a file beside it that must stay out of reach, and two movies.
class ServedFiles : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir.sub("player/ruffle"));
        fs::create_directories(dir.sub("player/.cache"));
        WriteFileBytes(dir.sub("player/player.html"), "<html>player</html>");
        WriteFileBytes(dir.sub("player/ruffle/ruffle.js"), "ruffle();");
        WriteFileBytes(dir.sub("player/ruffle/core.wasm"), Payload(300 * 1024));
        WriteFileBytes(dir.sub("player/.cache/x.js"), "hidden");
        WriteFileBytes(dir.sub("player/.x.js"), "hidden");
        WriteFileBytes(dir.sub("secret.txt"), "outside");
        WriteFileBytes(dir.sub("old.swf"), "old movie");
        WriteFileBytes(dir.sub("new.swf"), "new movie");
        movie = dir.win() + "old.swf";
        PublishServedPath("/Player/", [this] { return CString(dir.win() + "player\\"); });
        PublishServedPath("/player/read.swf", [this] { return CString(movie); });
    }
    void TearDown() override {
        PublishServedPath("/player/", nullptr);
        PublishServedPath("/player/read.swf", nullptr);
    }
    static Answer Get(const std::string& path) {
        return HttpAnswer::Parse(Exchange(ServerPort(), "GET " + path + " HTTP/1.0\r\n\r\n"));
    }

    TempDir dir{"kestrin_served_"};
    std::string movie;
};

TEST_F(ServedFiles, FilesBelowTheFolderWithTheirTypesAndLengths) {
    struct {
        const char* path;
        const char* file;
        const char* type;
    } cases[] = {
        {"/player/player.html", "player/player.html", "text/html"},
        {"/PLAYER/player.html?movie=x", "player/player.html", "text/html"},
        {"/player/ruffle/ruffle.js", "player/ruffle/ruffle.js", "application/javascript"},
        {"/player/ruffle/%63ore.wasm", "player/ruffle/core.wasm", "application/wasm"},
        {"/player/read.swf", "old.swf", "application/x-shockwave-flash"},
    };
    for (const auto& c : cases) {
        const std::string want = ReadFileBytes(dir.sub(c.file));
        Answer a = Get(c.path);
        EXPECT_EQ("HTTP/1.0 200 OK", a.statusLine) << c.path;
        EXPECT_EQ(c.type, a.Header("Content-type")) << c.path;
        EXPECT_EQ(std::to_string(want.size()), a.Header("Content-length")) << c.path;
        EXPECT_TRUE(a.body == want) << c.path << ": " << a.body.size() << " bytes";
    }
}

TEST_F(ServedFiles, NothingOutsideTheFolderNorHiddenNorAFolderItself) {
    for (const char* path :
         {"/player/../secret.txt", "/player/%2e%2e/secret.txt", "/player/ruffle/../../secret.txt",
          "/player/..%5csecret.txt", "/player/ruffle%5c..%5c..%5csecret.txt", "/player/.x.js",
          "/player/.cache/x.js", "/player/./player.html", "/player//player.html", "/player/",
          "/player/ruffle", "/player/ruffle/", "/player/missing.js", "/player/c:secret.txt"}) {
        Answer a = Get(path);
        EXPECT_EQ("HTTP/1.0 404 Not Found", a.statusLine) << path;
        EXPECT_EQ(std::string::npos, a.body.find("outside")) << path;
        EXPECT_EQ(std::string::npos, a.body.find("hidden")) << path;
    }
}

// The movie's route asks its function each time: a newer movie installed while the program runs
// is what the next request gets; a function that names nothing gives "not found".
TEST_F(ServedFiles, TheExactAddressFollowsItsFunction) {
    EXPECT_EQ("old movie", Get("/player/read.swf").body);
    movie = dir.win() + "new.swf";
    EXPECT_EQ("new movie", Get("/player/read.swf").body);
    movie = dir.win() + "gone.swf";
    EXPECT_EQ("HTTP/1.0 404 Not Found", Get("/player/read.swf").statusLine);
}

// Beside the routes, the item's memory files and the missing document root answer as before.
TEST_F(ServedFiles, OtherAddressesAnswerAsWithoutThem) {
    Answer page = Get("/mag/77/view1.html");
    EXPECT_EQ("HTTP/1.0 200 OK", page.statusLine);
    EXPECT_EQ(ItemFile("view1.html").data, page.body);
    EXPECT_EQ("HTTP/1.0 400 Bad Request", Get("/players/player.html").statusLine);
    EXPECT_EQ("HTTP/1.0 404 Not Found", Get("/").statusLine);
    PublishServedPath("/player/", nullptr);
    EXPECT_EQ("HTTP/1.0 400 Bad Request", Get("/player/player.html").statusLine);
}

} // namespace
