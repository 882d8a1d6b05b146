// The notification area on a real X screen: trayer as the XEmbed tray, xdotool as the person.
#include "platform/gdi/WinGdi.h"
#include "platform/gtk/GtkShell.h"
#include "platform/shell/ShellApi.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/RecordingWindow.h"
#include "tests/support/TrayerPeer.h"
#include "tests/gtk/GtkScreen.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using gtkscreen::Command;
using gtkscreen::Until;
using Lines = std::vector<std::string>;

const UINT kTrayMessage = 0x7E9;

class TrayTest : public gtkscreen::ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        if (HasFatalFailure())
            return;
        owner = rec.Make(WS_POPUP, RECT{0, 0, 10, 10});
        rec.Name(owner, "w");
        rec.SetAnswer([this](HWND h, UINT m, WPARAM w, LPARAM l) -> std::optional<LRESULT> {
            if (h != owner || m != kTrayMessage)
                return std::nullopt;
            notes.push_back(std::to_string(w) + " " + Name(LOWORD(l)));
            if (LOWORD(l) == WM_RBUTTONUP) {
                HMENU menu = CreatePopupMenu();
                AppendMenuA(menu, MF_STRING, 101, "&Open");
                AppendMenuA(menu, MF_STRING, 103, "E&xit");
                SetMenuDefaultItem(menu, 101, FALSE);
                POINT at{};
                GetCursorPos(&at);
                TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, owner, nullptr);
                DestroyMenu(menu);
            }
            return 0;
        });
        std::vector<unsigned char> png = gtkscreen::IconPng();
        icon = afxgdi::CreateIconFromFileBytes(png.data(), png.size(), 16, 16);
    }
    void TearDown() override {
        if (IsWindow(owner))
            DestroyWindow(owner);
        if (icon)
            DestroyIcon(icon);
        ScreenTest::TearDown();
    }
    static std::string Name(UINT m) {
        switch (m) {
        case WM_LBUTTONDOWN:
            return "WM_LBUTTONDOWN";
        case WM_LBUTTONUP:
            return "WM_LBUTTONUP";
        case WM_LBUTTONDBLCLK:
            return "WM_LBUTTONDBLCLK";
        case WM_RBUTTONDOWN:
            return "WM_RBUTTONDOWN";
        case WM_RBUTTONUP:
            return "WM_RBUTTONUP";
        default:
            return std::to_string(m);
        }
    }
    BOOL Add() {
        NOTIFYICONDATAA d;
        std::memset(&d, 0, sizeof d);
        d.cbSize = sizeof d;
        d.hWnd = owner;
        d.uID = 1;
        d.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        d.uCallbackMessage = kTrayMessage;
        d.hIcon = icon;
        std::strcpy(d.szTip, "Kiosk");
        return Shell_NotifyIconA(NIM_ADD, &d);
    }
    void Delete() {
        NOTIFYICONDATAA d;
        std::memset(&d, 0, sizeof d);
        d.cbSize = sizeof d;
        d.hWnd = owner;
        d.uID = 1;
        Shell_NotifyIconA(NIM_DELETE, &d);
    }
    bool StartTray() {
        if (!StartTrayer(tray))
            return false;
        return Until([&] { return m_presenter->Tray().IsAvailable(); });
    }
    POINT IconCentre() {
        RECT r{};
        m_presenter->Tray().IconArea(owner, 1, &r);
        return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }

    testwin::Recorder rec;
    HWND owner = nullptr;
    HICON icon = nullptr;
    Lines notes;
    PeerProcess tray;
};

TEST_F(TrayTest, RightClickOpensTheMenuAndTheChoiceArrives) {
    // The pointer was last seen by a window of ours far from the icon, which then went away (as
    // the main window goes to the tray from under the pointer): the menu opens where the pointer
    // is, at the icon, not where our windows last saw it.
    HWND elsewhere = rec.Make(WS_POPUP | WS_VISIBLE, RECT{600, 400, 700, 500});
    rec.Name(elsewhere, "e");
    // Moved until the window hears it: a window manager may map the window some time after GTK.
    int step = 0;
    ASSERT_TRUE(Until([&] {
        for (const auto& l : rec.Log())
            if (l.rfind("e WM_MOUSEMOVE", 0) == 0)
                return true;
        Command("xdotool mousemove " + std::to_string(650 + step % 2) + " 450");
        ++step;
        return false;
    })) << testing::PrintToString(rec.Log());
    ShowWindow(elsewhere, SW_HIDE);
    ASSERT_TRUE(
        Until([&] { return !gtk_widget_get_mapped(GTK_WIDGET(m_presenter->NativeWindow(elsewhere))); }));
    ASSERT_TRUE(StartTray()) << "trayer did not take the tray selection";
    ASSERT_TRUE(Add());
    RECT area{};
    ASSERT_TRUE(Until([&] { return m_presenter->Tray().IconArea(owner, 1, &area); })) << "never embedded";
    POINT c = IconCentre();
    // The person picks "Exit" from the menu once it is up.
    struct Pick {
        std::string picked;
        POINT menuAt{-1, -1};
    } pick;
    g_timeout_add(
        10,
        [](gpointer p) -> gboolean {
            auto* pick = static_cast<Pick*>(p);
            GList* all = gtk_window_list_toplevels();
            for (GList* l = all; l; l = l->next) {
                GtkWidget* w = static_cast<GtkWidget*>(l->data);
                GtkWidget* child = GTK_IS_WINDOW(w) ? gtk_bin_get_child(GTK_BIN(w)) : nullptr;
                if (!child || !GTK_IS_MENU(child) || !gtk_widget_get_mapped(child))
                    continue;
                GList* items = gtk_container_get_children(GTK_CONTAINER(child));
                GtkWidget* exit = static_cast<GtkWidget*>(g_list_last(items)->data);
                g_list_free(items);
                GtkAllocation a;
                gtk_widget_get_allocation(exit, &a);
                int x = 0, y = 0;
                gdk_window_get_origin(gtk_widget_get_window(exit), &x, &y);
                gdk_window_get_origin(gtk_widget_get_window(w), &pick->menuAt.x, &pick->menuAt.y);
                pick->picked = gtk_menu_item_get_label(GTK_MENU_ITEM(exit));
                std::string cmd = "xdotool mousemove " + std::to_string(x + a.x + a.width / 2) + " " +
                                  std::to_string(y + a.y + a.height / 2) + " click 1";
                gtkscreen::Command(cmd);
                g_list_free(all);
                return G_SOURCE_REMOVE;
            }
            g_list_free(all);
            return G_SOURCE_CONTINUE;
        },
        &pick);
    ASSERT_TRUE(Command("xdotool mousemove " + std::to_string(c.x) + " " + std::to_string(c.y) + " click 3"));
    bool chosen = Until([&] {
        const auto& log = rec.Log();
        return std::count(log.begin(), log.end(), "w WM_COMMAND 103") == 1;
    });
    g_source_remove_by_user_data(&pick); // when the menu never came
    EXPECT_TRUE(chosen) << "the menu's choice never came back as WM_COMMAND";
    EXPECT_EQ(pick.picked, "E_xit");
    EXPECT_LE(std::abs(pick.menuAt.x - static_cast<int>(c.x)), 8)
        << "the menu opened at " << pick.menuAt.x << "," << pick.menuAt.y << ", the icon is at " << c.x << ","
        << c.y;
    EXPECT_LE(std::abs(pick.menuAt.y - static_cast<int>(c.y)), 8);
    DestroyWindow(elsewhere);
    ASSERT_GE(notes.size(), 2u);
    EXPECT_EQ(Lines(notes.begin(), notes.begin() + 2), (Lines{"1 WM_RBUTTONDOWN", "1 WM_RBUTTONUP"}));
    Delete();
}

TEST_F(TrayTest, DoubleClickOnTheIconIsOneNotification) {
    ASSERT_TRUE(StartTray());
    ASSERT_TRUE(Add());
    RECT area{};
    ASSERT_TRUE(Until([&] { return m_presenter->Tray().IconArea(owner, 1, &area); }));
    POINT c = IconCentre();
    ASSERT_TRUE(Command("xdotool mousemove " + std::to_string(c.x) + " " + std::to_string(c.y) +
                        " click --repeat 2 --delay 60 1"));
    ASSERT_TRUE(Until([&] { return notes.size() >= 4; })) << testing::PrintToString(notes);
    EXPECT_EQ(notes, (Lines{"1 WM_LBUTTONDOWN", "1 WM_LBUTTONUP", "1 WM_LBUTTONDBLCLK", "1 WM_LBUTTONUP"}));
    Delete();
}

TEST_F(TrayTest, WithoutATrayTheIconIsRefused) {
    // A tray of an earlier test in this process may still be leaving.
    ASSERT_TRUE(Until([&] { return !m_presenter->Tray().IsAvailable(); }));
    EXPECT_FALSE(Add());
    // And once a tray is there, the same icon is taken.
    ASSERT_TRUE(StartTray());
    EXPECT_TRUE(Add());
    Delete();
}

TEST(TrayIconPixels, TransparencySurvivesTheDrawingLayer) {
    ASSERT_TRUE(gtkscreen::OpenDisplay());
    std::vector<unsigned char> png = gtkscreen::IconPng();
    HICON icon = afxgdi::CreateIconFromFileBytes(png.data(), png.size(), 16, 16);
    ASSERT_NE(icon, nullptr);
    GdkPixbuf* pb = afxgtk::CGtkTrayHost::IconPixbuf(icon, 16);
    ASSERT_NE(pb, nullptr);
    const guchar* px = gdk_pixbuf_get_pixels(pb);
    int stride = gdk_pixbuf_get_rowstride(pb);
    auto at = [&](int x, int y) {
        const guchar* p = px + y * stride + 4 * x;
        return std::vector<int>{p[0], p[1], p[2], p[3]};
    };
    EXPECT_EQ(at(2, 2), (std::vector<int>{255, 0, 0, 255}));
    std::vector<int> half = at(12, 12);
    EXPECT_EQ(half[0], 0);
    EXPECT_EQ(half[1], 0);
    EXPECT_NEAR(half[2], 255, 2);
    EXPECT_NEAR(half[3], 128, 2);
    g_object_unref(pb);
    DestroyIcon(icon);
}

} // namespace
