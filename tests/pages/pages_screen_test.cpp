// The page view base on the engine, in a program window under Xvfb: a local page shown, its
// error page, and the retry.
#include "pages/VorHtmlView.h"
#include "platform/web/WebKitBrowser.h"
#include "tests/gtk/GtkScreen.h"
#include "tests/support/RecordingWindow.h"
#include "tests/support/TestFiles.h"

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

using namespace std::chrono_literals;

class FolderView : public CVorHtmlView {
public:
    explicit FolderView(const std::string& folder) : m_folder(folder) {}
    CString GetPageFolder() override { return CString(m_folder); }
    void OnDocumentComplete(LPCSTR url) override {
        CVorHtmlView::OnDocumentComplete(url);
        completed.push_back(url);
    }
    std::vector<std::string> completed;

private:
    std::string m_folder;
};

class PageOnScreen : public gtkscreen::ScreenTest {
protected:
    void SetUp() override {
        gtkscreen::ScreenTest::SetUp();
        CVorHtmlView::SetBrowserFactory([](HWND h) -> std::unique_ptr<afxweb::IBrowserControl> {
            return afxweb::CreateWebKitBrowser(h);
        });
        top = rec.Make(WS_POPUP | WS_VISIBLE, RECT{0, 0, 400, 300}, nullptr, 0, false);
        hostWnd.Attach(top);
        view = std::make_unique<FolderView>(dir.win());
        ASSERT_TRUE(view->Create(CRect(20, 20, 380, 280), &hostWnd, 0x3600));
        ASSERT_NE(view->GetBrowser(), nullptr);
    }
    void TearDown() override {
        view->DestroyWindow();
        view.reset();
        hostWnd.Detach();
        DestroyWindow(top);
        gtkscreen::ScreenTest::TearDown();
    }
    void Write(const std::string& name, const std::string& body) { WriteFileBytes(dir.sub(name), body); }
    std::string Url(const std::string& name) const { return "file://" + dir.path() + "/" + name; }
    bool Completed(const std::string& url) {
        return gtkscreen::Until(
            [&] { return !view->completed.empty() && view->completed.back() == url && view->m_spDoc; }, 20s);
    }

    TempDir dir{"kestrin_pages_"};
    testwin::Recorder rec;
    HWND top = nullptr;
    CWnd hostWnd;
    std::unique_ptr<FolderView> view;
};

TEST_F(PageOnScreen, ALocalPageIsShownInTheProgramWindow) {
    Write("shown.html", "<html><body style='margin:0;background:rgb(10,200,30)'>"
                        "<script>function f(a, b, c) { return [a, b, c].join(); }</script></body></html>");
    view->Navigate2((dir.win() + "shown.html").c_str());
    ASSERT_TRUE(Completed(Url("shown.html")));
    CString r;
    EXPECT_TRUE(view->CallJScript("f", "a", "b", "c", &r));
    EXPECT_EQ(r, "a,b,c");
    RECT rect{};
    ::GetWindowRect(view->GetSafeHwnd(), &rect);
    std::string path = XvfbDisplay::ShotPath("pages_view_shot.png");
    uint32_t centre = 0;
    // The engine paints on its own time: the shot is taken again until the page is there.
    gtkscreen::Until(
        [&] {
            Settle();
            cairo_surface_t* s = gtkscreen::Shot(rect, path);
            if (!s)
                return false;
            cairo_surface_flush(s);
            int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
            auto* row = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(s) +
                                                          (h / 2) * cairo_image_surface_get_stride(s));
            centre = row[w / 2] & 0xFFFFFF;
            cairo_surface_destroy(s);
            return centre == 0x0AC81E;
        },
        20s);
    EXPECT_EQ(centre, 0x0AC81Eu) << "see " << path;
}

TEST_F(PageOnScreen, AFailedLoadShowsTheErrorPageAndItsRetryGoesBack) {
    Write("Error.html",
          "<html><body><script>function retry() { window.external.ReErrorHtml(''); return 'r'; }"
          "</script>error</body></html>");
    // The page the view goes to first is missing from its folder.
    view->Navigate2((dir.win() + "later.html").c_str());
    ASSERT_TRUE(Completed(Url("Error.html")));
    EXPECT_EQ(view->m_strLastUrl, CString(Url("later.html")));
    Write("later.html", "<html><body>here now</body></html>");
    CString r;
    EXPECT_TRUE(view->CallJScript("retry", &r));
    EXPECT_TRUE(Completed(Url("later.html")));
}

TEST_F(PageOnScreen, WithoutAnErrorPageTheBuiltInTextOffersTheRetry) {
    view->Navigate2((dir.win() + "later.html").c_str());
    ASSERT_TRUE(Completed(Url("Error.html")));
    Write("later.html", "<html><body>here now</body></html>");
    // The built-in text's button calls the view like the error page would.
    CString r;
    ASSERT_TRUE(gtkscreen::Until([&] { return view->GetBrowser()->HasDocument(); }));
    EXPECT_TRUE(view->GetBrowser()->InvokeScript("eval", {"document.getElementById('retry').click()"}, &r));
    EXPECT_TRUE(Completed(Url("later.html")));
}

TEST_F(PageOnScreen, AViewWhoseWebProcessDiedShowsItsPageAgain) {
    Write("back.html", "<html><body><script>function f() { return 'back'; }</script></body></html>");
    view->Navigate2((dir.win() + "back.html").c_str());
    ASSERT_TRUE(Completed(Url("back.html")));
    auto* engine = static_cast<afxweb::CWebKitBrowser*>(view->GetBrowser());
    int pid = engine->WebProcessId();
    ASSERT_GT(pid, 0);
    size_t loads = view->completed.size();
    kill(pid, SIGKILL);
    ASSERT_TRUE(gtkscreen::Until([&] { return view->completed.size() > loads && view->m_spDoc; }, 20s));
    CString r;
    EXPECT_TRUE(view->CallJScript("f", &r));
    EXPECT_EQ(r, "back");
}

} // namespace
