// The StatusNotifierItem side of the notification area: one item on the session bus per tray
// icon, registered with the desktop's StatusNotifierWatcher.
//
// The host calls the item: ContextMenu (a right click) becomes WM_RBUTTONDOWN and WM_RBUTTONUP
// for the program, which opens its own menu at the pointer; Activate (a left click) becomes
// WM_LBUTTONDOWN and WM_LBUTTONUP, and the second of two quick ones WM_LBUTTONDBLCLK in place
// of the press, by the same rule as windows. The item serves its calls from the main context of
// the user-interface thread, where it is made and used.
#pragma once

#include "platform/gtk/ClickRule.h"
#include "platform/shell/TrayHost.h"

#include <string>

typedef struct _GDBusConnection GDBusConnection;
typedef struct _GDBusMethodInvocation GDBusMethodInvocation;
typedef struct _GVariant GVariant;
typedef struct _GError GError;
typedef struct _GdkPixbuf GdkPixbuf;

namespace afxgtk {

// A private connection to the session bus (null without one). Private, so that the bus going
// away closes it without ending the process, as the shared connection would.
GDBusConnection* SniOpenBus();
// Whether a StatusNotifierWatcher with a registered host is on the bus.
bool SniHostPresent(GDBusConnection* bus);

class CSniItem {
public:
    CSniItem(GDBusConnection* bus, HWND hWnd, UINT uID);
    ~CSniItem();
    CSniItem(const CSniItem&) = delete;
    CSniItem& operator=(const CSniItem&) = delete;

    // Takes a bus name and the object, and asks the watcher to show the item; false when the
    // bus refuses.
    bool Publish(const afxshell::TrayIconInfo& icon);
    // New icon and tip: the host is told to read them again.
    void Update(const afxshell::TrayIconInfo& icon);
    const std::string& BusName() const { return m_name; }

private:
    static void OnMethod(GDBusConnection*, const char*, const char*, const char*, const char* method,
                         GVariant* args, GDBusMethodInvocation* call, void* self);
    static GVariant* OnProperty(GDBusConnection*, const char*, const char*, const char*, const char* property,
                                GError**, void* self);

    GDBusConnection* m_bus;
    HWND m_hWnd;
    UINT m_uID;
    std::string m_name;
    unsigned m_object = 0;
    std::string m_tip;
    GdkPixbuf* m_pixbuf = nullptr;
    CClickRule m_clicks;
};

} // namespace afxgtk
