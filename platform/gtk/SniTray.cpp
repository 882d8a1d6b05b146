#include "platform/gtk/SniTray.h"

#include "platform/gtk/GtkShell.h"
#include "platform/kernel/CodePage.h"

#include <gio/gio.h>
#include <gtk/gtk.h>

#include <unistd.h>

#include <atomic>

namespace afxgtk {

namespace {

const char kItemXml[] = "<node><interface name='org.kde.StatusNotifierItem'>"
                        "<property name='Category' type='s' access='read'/>"
                        "<property name='Id' type='s' access='read'/>"
                        "<property name='Title' type='s' access='read'/>"
                        "<property name='Status' type='s' access='read'/>"
                        "<property name='ItemIsMenu' type='b' access='read'/>"
                        "<property name='IconName' type='s' access='read'/>"
                        "<property name='IconPixmap' type='a(iiay)' access='read'/>"
                        "<property name='ToolTip' type='(sa(iiay)ss)' access='read'/>"
                        "<method name='ContextMenu'><arg name='x' type='i' direction='in'/>"
                        "<arg name='y' type='i' direction='in'/></method>"
                        "<method name='Activate'><arg name='x' type='i' direction='in'/>"
                        "<arg name='y' type='i' direction='in'/></method>"
                        "<method name='SecondaryActivate'><arg name='x' type='i' direction='in'/>"
                        "<arg name='y' type='i' direction='in'/></method>"
                        "<method name='Scroll'><arg name='delta' type='i' direction='in'/>"
                        "<arg name='orientation' type='s' direction='in'/></method>"
                        "<signal name='NewIcon'/><signal name='NewToolTip'/><signal name='NewTitle'/>"
                        "</interface></node>";
const char kPath[] = "/StatusNotifierItem";
const char kWatcher[] = "org.kde.StatusNotifierWatcher";

GDBusInterfaceInfo* ItemInterface() {
    static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kItemXml, nullptr);
    return node ? node->interfaces[0] : nullptr;
}

// The icon as the protocol carries it: ARGB32 in network byte order, one size.
GVariant* Pixmaps(GdkPixbuf* pb) {
    GVariantBuilder list;
    g_variant_builder_init(&list, G_VARIANT_TYPE("a(iiay)"));
    if (pb) {
        int w = gdk_pixbuf_get_width(pb), h = gdk_pixbuf_get_height(pb),
            stride = gdk_pixbuf_get_rowstride(pb);
        const guchar* px = gdk_pixbuf_get_pixels(pb);
        GByteArray* bytes = g_byte_array_sized_new(static_cast<guint>(w * h * 4));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const guchar* p = px + y * stride + 4 * x;
                guchar argb[4] = {p[3], p[0], p[1], p[2]};
                g_byte_array_append(bytes, argb, 4);
            }
        GVariant* data = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, bytes->data, bytes->len, 1);
        g_variant_builder_add(&list, "(ii@ay)", w, h, data);
        g_byte_array_unref(bytes);
    }
    return g_variant_builder_end(&list);
}

} // namespace

GDBusConnection* SniOpenBus() {
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!address)
        return nullptr;
    GDBusConnection* c = g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    g_free(address);
    if (c)
        g_dbus_connection_set_exit_on_close(c, FALSE);
    return c;
}

bool SniHostPresent(GDBusConnection* bus) {
    if (!bus || g_dbus_connection_is_closed(bus))
        return false;
    GVariant* r =
        g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                    "org.freedesktop.DBus", "NameHasOwner", g_variant_new("(s)", kWatcher),
                                    G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, nullptr);
    gboolean owned = FALSE;
    if (r) {
        g_variant_get(r, "(b)", &owned);
        g_variant_unref(r);
    }
    if (!owned)
        return false;
    r = g_dbus_connection_call_sync(bus, kWatcher, "/StatusNotifierWatcher",
                                    "org.freedesktop.DBus.Properties", "Get",
                                    g_variant_new("(ss)", kWatcher, "IsStatusNotifierHostRegistered"),
                                    G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, nullptr);
    gboolean host = FALSE;
    if (r) {
        GVariant* v = nullptr;
        g_variant_get(r, "(v)", &v);
        if (v && g_variant_is_of_type(v, G_VARIANT_TYPE_BOOLEAN))
            host = g_variant_get_boolean(v);
        if (v)
            g_variant_unref(v);
        g_variant_unref(r);
    }
    return host;
}

CSniItem::CSniItem(GDBusConnection* bus, HWND hWnd, UINT uID) : m_bus(bus), m_hWnd(hWnd), m_uID(uID) {
    static std::atomic<unsigned> counter{0};
    m_name = "org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    g_object_ref(m_bus);
}

CSniItem::~CSniItem() {
    if (m_object)
        g_dbus_connection_unregister_object(m_bus, m_object);
    if (!g_dbus_connection_is_closed(m_bus)) {
        GVariant* r = g_dbus_connection_call_sync(
            m_bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "ReleaseName",
            g_variant_new("(s)", m_name.c_str()), nullptr, G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, nullptr);
        if (r)
            g_variant_unref(r);
    }
    if (m_pixbuf)
        g_object_unref(m_pixbuf);
    g_object_unref(m_bus);
}

bool CSniItem::Publish(const afxshell::TrayIconInfo& icon) {
    m_tip = AfxAnsiToUtf8(icon.tip);
    m_pixbuf = CGtkTrayHost::IconPixbuf(icon.hIcon, 32);
    static const GDBusInterfaceVTable vtable = {
        reinterpret_cast<GDBusInterfaceMethodCallFunc>(&CSniItem::OnMethod),
        reinterpret_cast<GDBusInterfaceGetPropertyFunc>(&CSniItem::OnProperty),
        nullptr,
        {nullptr}};
    m_object =
        g_dbus_connection_register_object(m_bus, kPath, ItemInterface(), &vtable, this, nullptr, nullptr);
    if (!m_object)
        return false;
    // DBUS_NAME_FLAG_DO_NOT_QUEUE: a name someone else holds is a refusal, not a wait.
    GVariant* r = g_dbus_connection_call_sync(
        m_bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", m_name.c_str(), 4u), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 2000,
        nullptr, nullptr);
    guint result = 0;
    if (r) {
        g_variant_get(r, "(u)", &result);
        g_variant_unref(r);
    }
    if (result != 1)
        return false;
    // The watcher may be served by a loop that waits for us: ask without waiting.
    g_dbus_connection_call(m_bus, kWatcher, "/StatusNotifierWatcher", kWatcher, "RegisterStatusNotifierItem",
                           g_variant_new("(s)", m_name.c_str()), nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
                           nullptr, nullptr);
    return true;
}

void CSniItem::Update(const afxshell::TrayIconInfo& icon) {
    m_tip = AfxAnsiToUtf8(icon.tip);
    if (m_pixbuf)
        g_object_unref(m_pixbuf);
    m_pixbuf = CGtkTrayHost::IconPixbuf(icon.hIcon, 32);
    for (const char* s : {"NewIcon", "NewToolTip", "NewTitle"})
        g_dbus_connection_emit_signal(m_bus, nullptr, kPath, "org.kde.StatusNotifierItem", s, nullptr,
                                      nullptr);
}

void CSniItem::OnMethod(GDBusConnection*, const char*, const char*, const char*, const char* method,
                        GVariant* args, GDBusMethodInvocation* call, void* p) {
    auto* self = static_cast<CSniItem*>(p);
    std::string m = method;
    gint x = 0, y = 0;
    if (m == "ContextMenu" || m == "Activate" || m == "SecondaryActivate")
        g_variant_get(args, "(ii)", &x, &y);
    // Answered first: the program may open a menu for the click, and the host waits for us.
    g_dbus_method_invocation_return_value(call, nullptr);
    if (m == "ContextMenu") {
        self->m_clicks.Reset();
        afxshell::TrayIconNotify(self->m_hWnd, self->m_uID, WM_RBUTTONDOWN);
        afxshell::TrayIconNotify(self->m_hWnd, self->m_uID, WM_RBUTTONUP);
    } else if (m == "Activate") {
        bool dbl = self->m_clicks.Press(static_cast<unsigned>(g_get_monotonic_time() / 1000), POINT{x, y});
        afxshell::TrayIconNotify(self->m_hWnd, self->m_uID, dbl ? WM_LBUTTONDBLCLK : WM_LBUTTONDOWN);
        afxshell::TrayIconNotify(self->m_hWnd, self->m_uID, WM_LBUTTONUP);
    }
}

GVariant* CSniItem::OnProperty(GDBusConnection*, const char*, const char*, const char*, const char* property,
                               GError**, void* p) {
    auto* self = static_cast<CSniItem*>(p);
    std::string name = property;
    if (name == "Category")
        return g_variant_new_string("ApplicationStatus");
    if (name == "Id")
        return g_variant_new_string(g_get_prgname() ? g_get_prgname() : "program");
    if (name == "Title")
        return g_variant_new_string(self->m_tip.c_str());
    if (name == "Status")
        return g_variant_new_string("Active");
    if (name == "ItemIsMenu")
        return g_variant_new_boolean(FALSE); // a right click asks us (ContextMenu)
    if (name == "IconName")
        return g_variant_new_string(self->m_pixbuf ? "" : "application-x-executable");
    if (name == "IconPixmap")
        return Pixmaps(self->m_pixbuf);
    if (name == "ToolTip") {
        GVariantBuilder none;
        g_variant_builder_init(&none, G_VARIANT_TYPE("a(iiay)"));
        return g_variant_new("(sa(iiay)ss)", "", &none, self->m_tip.c_str(), "");
    }
    return nullptr;
}

} // namespace afxgtk
