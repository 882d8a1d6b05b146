// A desktop file manager as the session bus knows it: owns org.freedesktop.FileManager1 on the bus
// named by DBUS_SESSION_BUS_ADDRESS, prints "ready" once it has the name and then one line per
// call: the method and the URIs it was asked to show, separated by blanks.
#include <gio/gio.h>

#include <cstdio>
#include <string>

namespace {

const char kXml[] =
    "<node><interface name='org.freedesktop.FileManager1'>"
    "<method name='ShowFolders'><arg type='as' direction='in'/><arg type='s' direction='in'/></method>"
    "<method name='ShowItems'><arg type='as' direction='in'/><arg type='s' direction='in'/></method>"
    "<method name='ShowItemProperties'><arg type='as' direction='in'/>"
    "<arg type='s' direction='in'/></method>"
    "</interface></node>";

void OnMethod(GDBusConnection*, const char*, const char*, const char*, const char* method, GVariant* args,
              GDBusMethodInvocation* call, gpointer) {
    GVariantIter* uris = nullptr;
    const char* startup = nullptr;
    g_variant_get(args, "(as&s)", &uris, &startup);
    std::string line = method;
    const char* uri = nullptr;
    while (g_variant_iter_next(uris, "&s", &uri))
        line += std::string(" ") + uri;
    g_variant_iter_free(uris);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    g_dbus_method_invocation_return_value(call, nullptr);
}

} // namespace

int main() {
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kXml, nullptr);
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    static const GDBusInterfaceVTable vt = {OnMethod, nullptr, nullptr, {nullptr}};
    g_bus_own_name(
        G_BUS_TYPE_SESSION, "org.freedesktop.FileManager1", G_BUS_NAME_OWNER_FLAGS_NONE,
        [](GDBusConnection* c, const char*, gpointer data) {
            g_dbus_connection_register_object(c, "/org/freedesktop/FileManager1",
                                              static_cast<GDBusNodeInfo*>(data)->interfaces[0], &vt, nullptr,
                                              nullptr, nullptr);
        },
        [](GDBusConnection*, const char*, gpointer) {
            std::printf("ready\n");
            std::fflush(stdout);
        },
        [](GDBusConnection*, const char*, gpointer) {
            std::printf("no name\n");
            std::fflush(stdout);
            std::exit(1);
        },
        node, nullptr);
    // The test closes our input when it ends; so do we.
    GIOChannel* in = g_io_channel_unix_new(0);
    g_io_add_watch(
        in, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
        [](GIOChannel*, GIOCondition, gpointer l) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(l));
            return G_SOURCE_REMOVE;
        },
        loop);
    g_main_loop_run(loop);
    return 0;
}
