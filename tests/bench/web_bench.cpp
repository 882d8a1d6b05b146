// The script bridge's round trips beside the engine's own: a page-to-program call that returns
// a string, a program-to-page call, and the engine's script message answered by evaluating
// script, 10,000 of each in one page under a private Xvfb. Prints medians, 99th percentiles and
// the ratios; asserts nothing.
#include "platform/gtk/GtkPresenter.h"
#include "platform/web/EngineRoundTrip.h"
#include "platform/web/WebKitBrowser.h"
#include "tests/gtk/GtkDisplay.h"
#include "tests/support/RecordingWindow.h"
#include "tests/support/TestFiles.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {

constexpr int kCalls = 10000;

struct View : afxweb::IBrowserEvents {
    std::vector<std::chrono::steady_clock::time_point> entries;
    bool done = false;
    bool IsTrustedUrl(const CString&, bool) override { return true; }
    std::vector<CString> ExternalMethods() override { return {"Echo"}; }
    afxweb::ExternalResult OnExternalCall(const CString&, const std::vector<CString>& a) override {
        entries.push_back(std::chrono::steady_clock::now());
        return a.empty() ? CString() : a[0];
    }
    int OnShowMessage(const CString&, UINT) override { return IDOK; }
    void OnDocumentComplete(const CString&) override { done = true; }
};

void Report(const char* what, std::vector<double> us) {
    if (us.empty()) {
        std::printf("%-34s no samples\n", what);
        return;
    }
    std::sort(us.begin(), us.end());
    std::printf("%-34s median %8.1f us   p99 %8.1f us   (%zu calls)\n", what, us[us.size() / 2],
                us[std::min(us.size() - 1, us.size() * 99 / 100)], us.size());
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main() {
    if (!gtkscreen::OpenDisplay()) {
        std::printf("web_bench: no display, skipped\n");
        return 0;
    }
    afxgtk::CGtkPresenter presenter;
    presenter.Install();
    testwin::Recorder rec;
    HWND top = rec.Make(WS_POPUP | WS_VISIBLE, RECT{0, 0, 320, 240}, nullptr, 0, false);
    HWND child = rec.Make(WS_CHILD | WS_VISIBLE, RECT{0, 0, 320, 240}, top, 0, false);
    auto browser = afxweb::CreateWebKitBrowser(child);
    if (!browser) {
        std::printf("web_bench: no browser control\n");
        return 1;
    }
    View view;
    browser->SetEvents(&view);
    TempDir dir("kestrin_bench_");
    std::string page = dir.sub("bench.html");
    FILE* f = std::fopen(page.c_str(), "wb");
    std::fputs("<html><body><script>"
               "function loop(n) { for (var i = 0; i < +n; i++) window.external.Echo('abcdefgh'); return n; }"
               "function id(s) { return s; }"
               "</script></body></html>",
               f);
    std::fclose(f);
    browser->Navigate2(CString(page));
    while (!view.done || !browser->HasDocument())
        g_main_context_iteration(nullptr, TRUE);

    // Page to program: the time from one call's arrival to the next one's is one round trip.
    CString r;
    browser->InvokeScript("loop", {CString(std::to_string(kCalls + 1))}, &r);
    std::vector<double> up;
    for (size_t i = 1; i < view.entries.size(); ++i)
        up.push_back(
            std::chrono::duration<double, std::micro>(view.entries[i] - view.entries[i - 1]).count());

    std::vector<double> down;
    for (int i = 0; i < kCalls; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        browser->InvokeScript("id", {"abcdefgh"}, &r);
        down.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    }

    std::vector<double> engine = afxweb::MeasureEngineRoundTrips(*browser, kCalls);

    Report("page -> program (bridge)", up);
    Report("program -> page (bridge)", down);
    Report("engine script message round trip", engine);
    double e = Median(engine);
    if (e > 0)
        std::printf(
            "ratio to the engine's median: page -> program %.2f, program -> page %.2f (aim: at most 0.33)\n",
            Median(up) / e, Median(down) / e);
    browser.reset();
    DestroyWindow(top);
    return 0;
}
