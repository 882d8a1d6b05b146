// The web engine's own floor for the start-up benchmark (tools/bench/startup_bench.py): the least
// a program can do to show a page with WebKitGTK. One GtkWindow holding one WebKitWebView loads
// the address it is given and runs until it is ended. The page it is given is the store page as
// the client gets it, saved to a local file, so it reports its first paint the way the client's
// store page does (two animation frames after its load, to the store).
//
// The engine keeps its defaults but for the one setting the client also makes: on a machine
// without a GPU (no DRM render node) it draws without its accelerated compositing, which there
// only emulates a GPU in software. The floor is then what the same engine, set the same way,
// needs for the page, and the ratio to it what the program adds.
//
// The page calls `window.external` in its load handler; the client's web-process extension gives
// it one, and here a script injected at the document's start gives it methods that do nothing, so
// the page runs to its report as it does in the client.
//
// Usage: startup_floor URL [WIDTH HEIGHT]
#include "platform/web/GpuCheck.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdlib>

namespace {

const char kExternal[] =
    "window.external = new Proxy({}, { get: function () { return function () { return false; }; } });";

} // namespace

int main(int argc, char** argv) {
    if (!gtk_init_check(&argc, &argv) || argc < 2)
        return 2;
    int width = argc > 3 ? std::atoi(argv[2]) : 1280;
    int height = argc > 3 ? std::atoi(argv[3]) : 800;

    WebKitUserContentManager* content = webkit_user_content_manager_new();
    WebKitUserScript* script =
        webkit_user_script_new(kExternal, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                               WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(content, script);
    webkit_user_script_unref(script);

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), width, height);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    GtkWidget* view = webkit_web_view_new_with_user_content_manager(content);
    g_object_unref(content);
    if (!afxweb::MachineHasRenderNode())
        webkit_settings_set_hardware_acceleration_policy(webkit_web_view_get_settings(WEBKIT_WEB_VIEW(view)),
                                                         WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    gtk_container_add(GTK_CONTAINER(window), view);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argv[1]);
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}
