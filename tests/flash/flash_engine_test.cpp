// The Flash reader window on the real engine under Xvfb, with a player page of the test's own in
// place of the movie player: the movie started with the reader movie's address, its calls out
// answered synchronously, the program's calls in made while the movie's call still waits.
#include "app/FlashPlayerWnd.h"
#include "foundation/AppPathInfo.h"
#include "library/UserInfo.h"
#include "platform/web/WebKitBrowser.h"
#include "tests/gtk/GtkScreen.h"
#include "tests/support/TestFiles.h"

namespace {

using namespace std::chrono_literals;

// The boundary of the real player page, played by script: at the movie's start it asks for its
// item, then resolves a page address, and keeps what the program handed it.
const char kPlayer[] = R"js(<!DOCTYPE html><html><head><meta charset="utf-8"></head><body><script>
var log = [];
window.playerLoadMovie = function(address) {
    log.push("movie " + address);
    log.push("open " + window.hostFlashCall('<invoke name="C_GetOpenMag" returntype="xml"><arguments></arguments></invoke>'));
    log.push("page " + window.hostFlashCall('<invoke name="C_ShiftPath" returntype="xml"><arguments><string>img/p1.jpg</string></arguments></invoke>'));
};
window.playerCallFunction = function(xml) {
    var doc = new DOMParser().parseFromString(xml, "text/xml");
    var inv = doc.documentElement;
    var args = [];
    for (var el of inv.getElementsByTagName("string"))
        args.push(el.textContent);
    log.push(inv.getAttribute("name") + "(" + args.join(",") + ")");
return "";
};
function readLog() {
    return log.join("\n");
}
</script></body></html>)js";

class FlashOnScreen : public gtkscreen::ScreenTest {
protected:
    void SetUp() override {
        gtkscreen::ScreenTest::SetUp();
        CShockwaveflash1::SetBrowserFactory([](HWND h) -> std::unique_ptr<afxweb::IBrowserControl> {
            return afxweb::CreateWebKitBrowser(h);
        });
        WriteFileBytes(dir.sub("player.html"), kPlayer);
        CShockwaveflash1::SetPlayerPage(CString("file://" + dir.path() + "/player.html"));
        savedExeDir = g_AppPathInfo.m_strExeFilesDir;
        std::string win = dir.win();
        g_AppPathInfo.m_strExeFilesDir = CString(win.substr(0, win.size() - 1));
        savedUser = g_UserInfo.userid;
        g_UserInfo.userid = "1001";
        ASSERT_TRUE(wnd.CreateEx(0, nullptr, "flash", WS_POPUP | WS_VISIBLE, 0, 0, 640, 480, nullptr, 0));
    }
    void TearDown() override {
        wnd.CloseMovie();
        wnd.DestroyWindow();
        CShockwaveflash1::SetBrowserFactory([](HWND) { return std::unique_ptr<afxweb::IBrowserControl>(); });
        CShockwaveflash1::SetPlayerPage("");
        g_AppPathInfo.m_strExeFilesDir = savedExeDir;
        g_UserInfo.userid = savedUser;
        gtkscreen::ScreenTest::TearDown();
    }
    std::string Log() {
        afxweb::IBrowserControl* b = wnd.m_pFlash ? wnd.m_pFlash->GetControl()->Browser() : nullptr;
        CString r;
        return b && b->HasDocument() && b->InvokeScript("readLog", {}, &r) ? r.str() : "";
    }

    TempDir dir{"kestrin_flash_"};
    CFlashPlayerWnd wnd;
    CString savedExeDir, savedUser;
};

TEST_F(FlashOnScreen, TheMovieGetsItsItemAndItsPagesThroughThePlayerPage) {
    wnd.OpenMovie("mag", "m1", "p&1", 1, "stream2");
    ASSERT_NE(wnd.m_pFlash, nullptr);
    ASSERT_NE(wnd.m_pFlash->GetControl()->Browser(), nullptr) << "no engine";
    std::string want = "movie file://" + dir.path() + "/0/Read.Swf\n" +
                       "F_SetFlashVars(bTE=,0,1001,,,,mag,0,,,,,0)\n"
                       "F_OpenMag(http://127.0.0.1:8024/mag/m1/stream2,p&1)\n"
                       "open \n"
                       "page <string>http://127.0.0.1:8024/mag/m1/p1.jpg</string>";
    EXPECT_TRUE(gtkscreen::Until([&] { return Log() == want; }, 20s)) << Log();
}

} // namespace
