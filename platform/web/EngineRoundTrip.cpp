#include "platform/web/EngineRoundTrip.h"

#include <webkit2/webkit2.h>

#include <chrono>

namespace afxweb {

namespace {

struct Run {
    WebKitWebView* view;
    int left;
    std::vector<double> times;
    std::chrono::steady_clock::time_point last;
};

const char* const kPost = "window.webkit.messageHandlers.kestrinRoundTrip.postMessage(0)";

void OnMessage(WebKitUserContentManager*, WebKitJavascriptResult*, gpointer data) {
    auto* run = static_cast<Run*>(data);
    auto now = std::chrono::steady_clock::now();
    run->times.push_back(std::chrono::duration<double, std::micro>(now - run->last).count());
    if (--run->left <= 0)
        return;
    run->last = std::chrono::steady_clock::now();
    webkit_web_view_evaluate_javascript(run->view, kPost, -1, nullptr, nullptr, nullptr, nullptr, nullptr);
}

} // namespace

std::vector<double> MeasureEngineRoundTrips(CWebKitBrowser& browser, int n, int timeoutMs) {
    Run run{WEBKIT_WEB_VIEW(browser.Widget()), n, {}, {}};
    WebKitUserContentManager* ucm = webkit_web_view_get_user_content_manager(run.view);
    webkit_user_content_manager_register_script_message_handler(ucm, "kestrinRoundTrip");
    gulong id =
        g_signal_connect(ucm, "script-message-received::kestrinRoundTrip", G_CALLBACK(OnMessage), &run);
    run.last = std::chrono::steady_clock::now();
    webkit_web_view_evaluate_javascript(run.view, kPost, -1, nullptr, nullptr, nullptr, nullptr, nullptr);
    auto quiet = std::chrono::steady_clock::now();
    size_t seen = 0;
    while (run.left > 0) {
        g_main_context_iteration(nullptr, FALSE);
        if (run.times.size() != seen) {
            seen = run.times.size();
            quiet = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - quiet > std::chrono::milliseconds(timeoutMs)) {
            break;
        }
    }
    g_signal_handler_disconnect(ucm, id);
    webkit_user_content_manager_unregister_script_message_handler(ucm, "kestrinRoundTrip");
    return run.times;
}

} // namespace afxweb
