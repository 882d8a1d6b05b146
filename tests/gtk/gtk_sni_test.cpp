// The notification area as StatusNotifierItems: a private session bus (dbus-daemon) and, on a
// thread of its own, a watcher with a host as a desktop runs them; the test calls the item as a
// host does and reads its properties.
#include "platform/gdi/WinGdi.h"
#include "platform/gtk/GtkShell.h"
#include "platform/shell/ShellApi.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/RecordingWindow.h"
#include "tests/gtk/GtkScreen.h"

#include <gio/gio.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

using gtkscreen::Until;
using Lines = std::vector<std::string>;

const UINT kTrayMessage = 0x7E9;

// The desktop's side: org.kde.StatusNotifierWatcher with a host registered, served by its own
// thread and main context, so the program's thread may wait on it.
class FakeWatcher {
public:
    explicit FakeWatcher(const std::string& address) : m_address(address) {
        m_thread = std::thread([this] { Run(); });
        std::unique_lock<std::mutex> lock(m_mx);
        m_cv.wait(lock, [this] { return m_ready; });
    }
    ~FakeWatcher() {
        g_main_loop_quit(m_loop);
        m_thread.join();
    }
    bool Ok() const { return m_ok; }
    std::vector<std::string> Items() {
        std::lock_guard<std::mutex> lock(m_mx);
        return m_items;
    }

private:
    void Run() {
        GMainContext* ctx = g_main_context_new();
        g_main_context_push_thread_default(ctx);
        m_loop = g_main_loop_new(ctx, FALSE);
        GDBusConnection* c = g_dbus_connection_new_for_address_sync(
            m_address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        static const char xml[] =
            "<node><interface name='org.kde.StatusNotifierWatcher'>"
            "<method name='RegisterStatusNotifierItem'><arg type='s' direction='in'/></method>"
            "<property name='IsStatusNotifierHostRegistered' type='b' access='read'/>"
            "</interface></node>";
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(xml, nullptr);
        static const GDBusInterfaceVTable vt = {
            [](GDBusConnection*, const char* sender, const char*, const char*, const char*, GVariant* args,
               GDBusMethodInvocation* call, gpointer p) {
                const char* item = nullptr;
                g_variant_get(args, "(&s)", &item);
                auto* self = static_cast<FakeWatcher*>(p);
                {
                    std::lock_guard<std::mutex> lock(self->m_mx);
                    self->m_items.push_back(std::string(item) + " from " + (sender ? "a sender" : "nobody"));
                }
                g_dbus_method_invocation_return_value(call, nullptr);
            },
            [](GDBusConnection*, const char*, const char*, const char*, const char*, GError**, gpointer) {
                return g_variant_new_boolean(TRUE);
            },
            nullptr,
            {nullptr}};
        unsigned obj = c ? g_dbus_connection_register_object(c, "/StatusNotifierWatcher", node->interfaces[0],
                                                             &vt, this, nullptr, nullptr)
                         : 0;
        GVariant* r = c ? g_dbus_connection_call_sync(
                              c, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                              "RequestName", g_variant_new("(su)", "org.kde.StatusNotifierWatcher", 4u),
                              G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr)
                        : nullptr;
        guint got = 0;
        if (r) {
            g_variant_get(r, "(u)", &got);
            g_variant_unref(r);
        }
        {
            std::lock_guard<std::mutex> lock(m_mx);
            m_ok = obj && got == 1;
            m_ready = true;
        }
        m_cv.notify_all();
        g_main_loop_run(m_loop);
        if (obj)
            g_dbus_connection_unregister_object(c, obj);
        g_dbus_node_info_unref(node);
        if (c) {
            g_dbus_connection_close_sync(c, nullptr, nullptr);
            g_object_unref(c);
        }
        g_main_loop_unref(m_loop);
        g_main_context_pop_thread_default(ctx);
        g_main_context_unref(ctx);
    }

    std::string m_address;
    std::thread m_thread;
    GMainLoop* m_loop = nullptr;
    std::mutex m_mx;
    std::condition_variable m_cv;
    bool m_ready = false;
    bool m_ok = false;
    std::vector<std::string> m_items;
};

class SniTest : public gtkscreen::ScreenTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(gtkscreen::OpenDisplay());
        ASSERT_TRUE(bus.Start({"dbus-daemon", "--session", "--nofork", "--print-address=1"}))
            << "no dbus-daemon";
        address = bus.FirstLine();
        setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        ScreenTest::SetUp();
        owner = rec.Make(WS_POPUP, RECT{0, 0, 10, 10});
        rec.Name(owner, "w");
        rec.SetAnswer([this](HWND h, UINT m, WPARAM w, LPARAM l) -> std::optional<LRESULT> {
            if (h != owner || m != kTrayMessage)
                return std::nullopt;
            notes.push_back(std::to_string(w) + " " + std::to_string(LOWORD(l)));
            if (LOWORD(l) == WM_RBUTTONUP) {
                HMENU menu = CreatePopupMenu();
                AppendMenuA(menu, MF_STRING, 101, "&Open");
                AppendMenuA(menu, MF_STRING, 103, "E&xit");
                // The person picks the last item once the menu is up.
                g_timeout_add(
                    10,
                    [](gpointer) -> gboolean {
                        GList* all = gtk_window_list_toplevels();
                        bool done = false;
                        for (GList* l = all; l && !done; l = l->next) {
                            GtkWidget* child =
                                GTK_IS_WINDOW(l->data) ? gtk_bin_get_child(GTK_BIN(l->data)) : nullptr;
                            if (!child || !GTK_IS_MENU(child) || !gtk_widget_get_mapped(child))
                                continue;
                            GList* items = gtk_container_get_children(GTK_CONTAINER(child));
                            gtk_menu_shell_activate_item(GTK_MENU_SHELL(child),
                                                         GTK_WIDGET(g_list_last(items)->data), TRUE);
                            g_list_free(items);
                            done = true;
                        }
                        g_list_free(all);
                        return done ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
                    },
                    nullptr);
                POINT at{};
                GetCursorPos(&at);
                TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, owner, nullptr);
                DestroyMenu(menu);
            }
            return 0;
        });
    }
    void TearDown() override {
        if (IsWindow(owner))
            DestroyWindow(owner);
        ScreenTest::TearDown();
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    BOOL Add(DWORD message = NIM_ADD, const char* tip = "Kiosk") {
        NOTIFYICONDATAA d;
        std::memset(&d, 0, sizeof d);
        d.cbSize = sizeof d;
        d.hWnd = owner;
        d.uID = 1;
        d.uFlags = NIF_MESSAGE | NIF_TIP;
        d.uCallbackMessage = kTrayMessage;
        std::strcpy(d.szTip, tip);
        return Shell_NotifyIconA(message, &d);
    }
    // A host's call to the item, from a connection of the host's own.
    void CallItem(const std::string& name, const char* method) {
        GDBusConnection* c = afxgtk::SniOpenBus();
        ASSERT_NE(c, nullptr);
        g_dbus_connection_call(c, name.c_str(), "/StatusNotifierItem", "org.kde.StatusNotifierItem", method,
                               g_variant_new("(ii)", 10, 10), nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
                               nullptr, nullptr);
        g_dbus_connection_flush_sync(c, nullptr, nullptr);
        g_object_unref(c);
    }

    PeerProcess bus;
    std::string address;
    testwin::Recorder rec;
    HWND owner = nullptr;
    Lines notes;
};

TEST_F(SniTest, ItemRegistersAndAHostsCallsBecomeNotifications) {
    EXPECT_FALSE(Add()) << "a bus without a watcher is no notification area";
    FakeWatcher watcher(address);
    ASSERT_TRUE(watcher.Ok());
    ASSERT_TRUE(Add());
    std::string name;
    ASSERT_TRUE(m_presenter->Tray().IsItem(owner, 1, &name)) << "preferred over the XEmbed tray";
    EXPECT_TRUE(Until([&] { return !watcher.Items().empty(); }));
    EXPECT_EQ(watcher.Items(), (std::vector<std::string>{name + " from a sender"}));

    // The tip as a host reads it; the item answers from this thread's loop, so a thread asks.
    std::atomic<bool> asked{false};
    std::string tip;
    std::thread host([&] {
        GDBusConnection* c = afxgtk::SniOpenBus();
        GVariant* r = c ? g_dbus_connection_call_sync(
                              c, name.c_str(), "/StatusNotifierItem", "org.freedesktop.DBus.Properties",
                              "Get", g_variant_new("(ss)", "org.kde.StatusNotifierItem", "ToolTip"),
                              G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr)
                        : nullptr;
        if (r) {
            GVariant* v = nullptr;
            g_variant_get(r, "(v)", &v);
            const char* title = nullptr;
            g_variant_get(v, "(&sa(iiay)&s&s)", nullptr, nullptr, &title, nullptr);
            tip = title ? title : "";
            g_variant_unref(v);
            g_variant_unref(r);
        }
        if (c)
            g_object_unref(c);
        asked = true;
    });
    EXPECT_TRUE(Until([&] { return asked.load(); }));
    host.join();
    EXPECT_EQ(tip, "Kiosk");

    // A right click: the program's menu opens and its choice arrives.
    CallItem(name, "ContextMenu");
    EXPECT_TRUE(
        Until([&] { return std::count(rec.Log().begin(), rec.Log().end(), "w WM_COMMAND 103") == 1; }));
    EXPECT_EQ(Lines(notes.begin(), notes.begin() + std::min<size_t>(2, notes.size())),
              (Lines{"1 " + std::to_string(WM_RBUTTONDOWN), "1 " + std::to_string(WM_RBUTTONUP)}));

    // Two quick activations: the second is the double click.
    notes.clear();
    CallItem(name, "Activate");
    CallItem(name, "Activate");
    EXPECT_TRUE(Until([&] { return notes.size() >= 4; }));
    EXPECT_EQ(notes, (Lines{"1 " + std::to_string(WM_LBUTTONDOWN), "1 " + std::to_string(WM_LBUTTONUP),
                            "1 " + std::to_string(WM_LBUTTONDBLCLK), "1 " + std::to_string(WM_LBUTTONUP)}));

    // Deleted: the name leaves the bus.
    NOTIFYICONDATAA d;
    std::memset(&d, 0, sizeof d);
    d.cbSize = sizeof d;
    d.hWnd = owner;
    d.uID = 1;
    EXPECT_TRUE(Shell_NotifyIconA(NIM_DELETE, &d));
    EXPECT_FALSE(m_presenter->Tray().IsItem(owner, 1));
}

} // namespace
