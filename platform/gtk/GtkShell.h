// The desktop's side of the shell calls: the notification area and the folder question.
//
// CGtkTrayHost shows the program's tray icons as StatusNotifierItems (SniTray.h) where the
// desktop runs a StatusNotifierWatcher with a host, and else in the XEmbed system tray
// (GtkStatusIcon) when a tray manager owns the screen's tray selection. It reports clicks on an
// icon to the program as the icon's callback messages (WM_LBUTTONDOWN, WM_LBUTTONUP,
// WM_LBUTTONDBLCLK by the same double-click rule as windows, WM_RBUTTONDOWN, WM_RBUTTONUP).
// With neither it is not available and adding an icon fails. CGtkFolderPicker asks with a modal folder
// chooser. Both run on the user-interface thread; the GTK presenter installs them.
#pragma once

#include "platform/gtk/ClickRule.h"
#include "platform/gtk/SniTray.h"
#include "platform/shell/FolderPicker.h"
#include "platform/shell/TrayHost.h"

#include <map>
#include <memory>
#include <utility>
#include <vector>

typedef struct _GtkStatusIcon GtkStatusIcon;
typedef struct _GdkEventButton GdkEventButton;
typedef struct _GdkPixbuf GdkPixbuf;

namespace afxgtk {

class CGtkTrayHost : public afxshell::ITrayHost {
public:
    CGtkTrayHost() = default;
    // Whether the icon is shown as a StatusNotifierItem, and the bus name it has there.
    bool IsItem(HWND hWnd, UINT uID, std::string* busName = nullptr) const;
    ~CGtkTrayHost() override;
    CGtkTrayHost(const CGtkTrayHost&) = delete;
    CGtkTrayHost& operator=(const CGtkTrayHost&) = delete;

    // Where the tray shows the icon now (screen coordinates), for tests that click it; false
    // while the icon is not embedded in a tray.
    bool IconArea(HWND hWnd, UINT uID, RECT* area) const;

    bool IsAvailable() override;
    bool AddIcon(const afxshell::TrayIconInfo& icon) override;
    bool ModifyIcon(const afxshell::TrayIconInfo& icon) override;
    bool DeleteIcon(HWND hWnd, UINT uID) override;

    // The icon's pixels with their transparency, as GTK takes them (null for no icon).
    static GdkPixbuf* IconPixbuf(HICON hIcon, int size);

private:
    struct Shown {
        std::unique_ptr<CSniItem> sni; // or, in the XEmbed tray:
        GtkStatusIcon* icon = nullptr;
        HWND hWnd = nullptr;
        UINT uID = 0;
        CClickRule clicks;
    };
    void Show(Shown& s, const afxshell::TrayIconInfo& icon);
    bool XEmbedAvailable();
    GDBusConnection* Bus();
    static int OnButton(GtkStatusIcon* icon, GdkEventButton* e, void* self);
    static int Retire(void* self);

    std::map<std::pair<HWND, UINT>, Shown> m_icons;
    GDBusConnection* m_bus = nullptr;
    std::vector<GtkStatusIcon*> m_retiring; // deleted, still on the screen until the idle
    unsigned m_retireSource = 0;
};

class CGtkFolderPicker : public afxshell::IFolderPicker {
public:
    std::optional<std::string> ChooseFolder(const afxshell::FolderQuestion& question) override;
};

} // namespace afxgtk
