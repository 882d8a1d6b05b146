// The GTK presenter's modal questions and loops: message boxes, popup menus, the folder chooser,
// and the thread's queue served while each of them runs.
#include "platform/shell/FolderPicker.h"
#include "platform/shell/ShellApi.h"
#include "tests/support/RecordingWindow.h"
#include "tests/gtk/GtkScreen.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

namespace {

using gtkscreen::Until;
using namespace std::chrono_literals;

using gtkscreen::WhenShown;

class ModalTest : public gtkscreen::ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        if (HasFatalFailure())
            return;
        owner = rec.Make(WS_POPUP | WS_VISIBLE, RECT{100, 100, 400, 300});
        rec.Name(owner, "w");
    }
    void TearDown() override {
        if (IsWindow(owner))
            DestroyWindow(owner);
        ScreenTest::TearDown();
    }
    testwin::Recorder rec;
    HWND owner = nullptr;
};

TEST_F(ModalTest, MessageBoxShowsTypeCaptionAndTextAndAnswersTheButton) {
    struct Case {
        UINT type;
        std::vector<int> buttons;
        GtkMessageType icon;
        int press; // the button the person presses
        int defaultButton;
    };
    const Case cases[] = {
        {MB_OK, {IDOK}, GTK_MESSAGE_OTHER, IDOK, IDOK},
        {MB_OKCANCEL | MB_ICONINFORMATION, {IDOK, IDCANCEL}, GTK_MESSAGE_INFO, IDCANCEL, IDOK},
        {MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2, {IDYES, IDNO}, GTK_MESSAGE_QUESTION, IDNO, IDNO},
        {MB_YESNOCANCEL | MB_ICONWARNING, {IDYES, IDNO, IDCANCEL}, GTK_MESSAGE_WARNING, IDYES, IDYES},
        {MB_RETRYCANCEL | MB_ICONERROR, {IDRETRY, IDCANCEL}, GTK_MESSAGE_ERROR, IDRETRY, IDRETRY},
        {MB_ABORTRETRYIGNORE, {IDABORT, IDRETRY, IDIGNORE}, GTK_MESSAGE_OTHER, IDIGNORE, IDABORT},
    };
    const int allIds[] = {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        std::string title, text;
        std::vector<int> shown;
        int icon = -1;
        bool modal = false, transient = false;
        WhenShown(GTK_TYPE_MESSAGE_DIALOG, [&](GtkWidget* d) {
            title = gtk_window_get_title(GTK_WINDOW(d));
            gchar* t = nullptr;
            GtkMessageType mt = GTK_MESSAGE_OTHER;
            g_object_get(d, "text", &t, "message-type", &mt, nullptr);
            text = t ? t : "";
            g_free(t);
            icon = mt;
            for (int id : allIds)
                if (gtk_dialog_get_widget_for_response(GTK_DIALOG(d), id))
                    shown.push_back(id);
            modal = gtk_window_get_modal(GTK_WINDOW(d));
            transient = gtk_window_get_transient_for(GTK_WINDOW(d)) == m_presenter->NativeWindow(owner);
            // Enter answers the default button.
            GtkWidget* def = gtk_window_get_default_widget(GTK_WINDOW(d));
            EXPECT_EQ(def, gtk_dialog_get_widget_for_response(GTK_DIALOG(d), c.defaultButton));
            gtk_button_clicked(GTK_BUTTON(gtk_dialog_get_widget_for_response(GTK_DIALOG(d), c.press)));
        });
        // The text and caption come in the ANSI code page (GBK): "下载失败" and "提示".
        int answer = MessageBoxA(owner, "\xCF\xC2\xD4\xD8\xCA\xA7\xB0\xDC", "\xCC\xE1\xCA\xBE", c.type);
        EXPECT_EQ(answer, c.press);
        EXPECT_EQ(title, "提示");
        EXPECT_EQ(text, "下载失败");
        std::vector<int> want = c.buttons;
        std::sort(want.begin(), want.end());
        EXPECT_EQ(shown, want);
        EXPECT_EQ(icon, c.icon);
        EXPECT_TRUE(modal);
        EXPECT_TRUE(transient) << "modal to its owner";
        EXPECT_TRUE(IsWindowEnabled(owner)) << "the owner is enabled again after the box";
    }
}

TEST_F(ModalTest, ClosingTheBoxAnswersLikeEscape) {
    struct Case {
        UINT type;
        int answer;
    };
    for (const Case& c : {Case{MB_OK, IDOK}, Case{MB_OKCANCEL, IDCANCEL}, Case{MB_YESNOCANCEL, IDCANCEL}}) {
        SCOPED_TRACE(c.type);
        WhenShown(GTK_TYPE_MESSAGE_DIALOG,
                  [](GtkWidget* d) { gtk_dialog_response(GTK_DIALOG(d), GTK_RESPONSE_DELETE_EVENT); });
        EXPECT_EQ(MessageBoxA(owner, "text", "caption", c.type), c.answer);
    }
}

TEST_F(ModalTest, WorkerSendIsAnsweredWhileAMessageBoxIsOpen) {
    const UINT kAsk = WM_USER + 5;
    std::atomic<bool> boxOpenWhenAsked{false};
    rec.SetAnswer([&](HWND h, UINT m, WPARAM w, LPARAM) -> std::optional<LRESULT> {
        if (h != owner || m != kAsk)
            return std::nullopt;
        // Answered from inside GTK's loop of the box: the box is on the screen now.
        GList* all = gtk_window_list_toplevels();
        for (GList* l = all; l; l = l->next)
            if (GTK_IS_MESSAGE_DIALOG(l->data) && gtk_widget_get_mapped(GTK_WIDGET(l->data))) {
                boxOpenWhenAsked = true;
                gtk_dialog_response(GTK_DIALOG(l->data), IDOK);
            }
        g_list_free(all);
        return static_cast<LRESULT>(w * 2);
    });
    std::atomic<LRESULT> got{0};
    std::thread worker([&] { got = SendMessageA(owner, kAsk, 21, 0); });
    int answer = MessageBoxA(owner, "waiting", "caption", MB_OK);
    worker.join();
    EXPECT_EQ(got.load(), 42);
    EXPECT_TRUE(boxOpenWhenAsked.load());
    EXPECT_EQ(answer, IDOK);
}

TEST_F(ModalTest, GetMessageKeepsTheMainContextRunning) {
    // A loop built on GetMessage (DoModal's) waits in the main context: a GLib source fires
    // during the wait, and its post is what GetMessage returns.
    HWND target = owner;
    g_timeout_add(
        20,
        [](gpointer h) -> gboolean {
            PostMessageA(static_cast<HWND>(h), WM_USER + 9, 0, 0);
            return G_SOURCE_REMOVE;
        },
        target);
    MSG m{};
    for (;;) {
        ASSERT_TRUE(GetMessageA(&m, nullptr, 0, 0));
        if (m.message == WM_USER + 9)
            break;
        DispatchMessageA(&m);
    }
    EXPECT_EQ(m.hwnd, owner);
}

TEST_F(ModalTest, WorkerSendIsAnsweredInsideADoModalStyleLoop) {
    // The kernel's modal loops wait in GetMessage; inside it, a worker's send is handled at once.
    const UINT kAsk = WM_USER + 6;
    bool done = false;
    rec.SetAnswer([&](HWND h, UINT m, WPARAM w, LPARAM) -> std::optional<LRESULT> {
        if (h == owner && m == kAsk) {
            done = true;
            return static_cast<LRESULT>(w + 1);
        }
        return std::nullopt;
    });
    std::atomic<LRESULT> got{0};
    std::thread worker([&] {
        got = SendMessageA(owner, kAsk, 6, 0);
        PostMessageA(owner, WM_USER + 7, 0, 0);
    });
    MSG m{};
    while (GetMessageA(&m, nullptr, 0, 0) && m.message != WM_USER + 7)
        DispatchMessageA(&m);
    worker.join();
    EXPECT_TRUE(done);
    EXPECT_EQ(got.load(), 7);
}

// A popup menu of the kind the tray uses: two commands, a separator, a greyed one, a sub-menu.
HMENU TrayLikeMenu() {
    HMENU sub = CreatePopupMenu();
    AppendMenuA(sub, MF_STRING, 301, "&Small");
    HMENU m = CreatePopupMenu();
    AppendMenuA(m, MF_STRING, 101, "&Open");
    AppendMenuA(m, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(m, MF_STRING | MF_GRAYED, 102, "Update");
    AppendMenuA(m, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), "Size");
    AppendMenuA(m, MF_STRING, 103, "E&xit");
    SetMenuDefaultItem(m, 101, FALSE);
    return m;
}

// The menu's items as "label" (default item "*label", greyed "-label", separator "|").
std::vector<std::string> Items(GtkWidget* menu) {
    std::vector<std::string> out;
    GList* kids = gtk_container_get_children(GTK_CONTAINER(menu));
    for (GList* k = kids; k; k = k->next) {
        GtkWidget* item = static_cast<GtkWidget*>(k->data);
        if (GTK_IS_SEPARATOR_MENU_ITEM(item)) {
            out.push_back("|");
            continue;
        }
        GtkLabel* l = GTK_LABEL(gtk_bin_get_child(GTK_BIN(item)));
        std::string text = gtk_label_get_label(l);
        std::string prefix = gtk_widget_get_sensitive(item) ? "" : "-";
        if (text.rfind("<b>", 0) == 0 && gtk_label_get_use_markup(l))
            prefix = "*";
        out.push_back(prefix + gtk_label_get_text(l));
    }
    g_list_free(kids);
    return out;
}

TEST_F(ModalTest, PopupMenuShowsTheItemsAndPostsTheChoice) {
    HMENU menu = TrayLikeMenu();
    std::vector<std::string> items;
    WhenShown(GTK_TYPE_MENU, [&](GtkWidget* m) {
        items = Items(m);
        GList* kids = gtk_container_get_children(GTK_CONTAINER(m));
        GtkWidget* exit = static_cast<GtkWidget*>(g_list_last(kids)->data);
        g_list_free(kids);
        gtk_menu_shell_activate_item(GTK_MENU_SHELL(m), exit, TRUE);
    });
    rec.Clear();
    EXPECT_TRUE(TrackPopupMenu(menu, TPM_RIGHTBUTTON, 150, 150, 0, owner, nullptr));
    EXPECT_EQ(items, (std::vector<std::string>{"*Open", "|", "-Update", "Size", "Exit"}));
    EXPECT_TRUE(Until([&] {
        return std::count(rec.Log().begin(), rec.Log().end(), "w WM_COMMAND 103") == 1;
    })) << "the choice arrives as WM_COMMAND after the menu returned";

    // Dismissed: no command.
    WhenShown(GTK_TYPE_MENU, [](GtkWidget* m) { gtk_menu_shell_cancel(GTK_MENU_SHELL(m)); });
    EXPECT_EQ(TrackPopupMenu(menu, TPM_RETURNCMD, 150, 150, 0, owner, nullptr), 0);
    DestroyMenu(menu);
}

TEST_F(ModalTest, QuitInsideAMessageBoxEndsItAndStaysQueued) {
    // WM_QUIT taken by the box's loop must not be lost: the box ends and the quit is queued
    // again for the loop outside.
    g_timeout_add(
        20,
        [](gpointer) -> gboolean {
            PostQuitMessage(3);
            return G_SOURCE_REMOVE;
        },
        nullptr);
    MessageBoxA(owner, "text", "caption", MB_OKCANCEL);
    MSG m{};
    EXPECT_FALSE(GetMessageA(&m, nullptr, 0, 0));
    EXPECT_EQ(m.wParam, 3u);
}

TEST_F(ModalTest, FolderChooserAsksModallyAndAnswersTheFolder) {
    char dir[] = "/tmp/gtkpickXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    afxshell::IFolderPicker* picker = afxshell::CurrentFolderPicker();
    ASSERT_NE(picker, nullptr) << "the presenter installs the folder chooser";
    for (bool accept : {true, false}) {
        SCOPED_TRACE(accept);
        std::string title;
        bool modal = false, transient = false;
        RECT shown{}, buttons{};
        WhenShown(GTK_TYPE_FILE_CHOOSER_DIALOG, [&](GtkWidget* d) {
            title = gtk_window_get_title(GTK_WINDOW(d));
            modal = gtk_window_get_modal(GTK_WINDOW(d));
            transient = gtk_window_get_transient_for(GTK_WINDOW(d)) == m_presenter->NativeWindow(owner);
            EXPECT_EQ(gtk_file_chooser_get_action(GTK_FILE_CHOOSER(d)),
                      GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER);
            // It opens on the folder asked for; the chooser reads it in the background, and the
            // answer comes once it is there.
            struct Answer {
                GtkWidget* dialog;
                std::string dir;
                int response;
                RECT* shown;
                RECT* buttons;
                gulong hooked = 0;
                bool painted = false;
                // A chooser that never gets there is answered all the same, for the test to fail.
                std::chrono::steady_clock::time_point giveUp = std::chrono::steady_clock::now() + 20s;
            };
            g_timeout_add_full(
                G_PRIORITY_DEFAULT, 10,
                [](gpointer p) -> gboolean {
                    auto* a = static_cast<Answer*>(p);
                    if (std::chrono::steady_clock::now() > a->giveUp) {
                        if (a->hooked)
                            g_signal_handler_disconnect(a->dialog, a->hooked);
                        gtk_dialog_response(GTK_DIALOG(a->dialog), GTK_RESPONSE_CANCEL);
                        return G_SOURCE_REMOVE;
                    }
                    gchar* f = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(a->dialog));
                    bool there = f && a->dir == f;
                    g_free(f);
                    GdkWindow* g = gtk_widget_get_window(a->dialog);
                    if (!there || !g || !gtk_widget_get_mapped(a->dialog))
                        return G_SOURCE_CONTINUE;
                    GdkRectangle r{};
                    gdk_window_get_frame_extents(g, &r);
                    *a->shown = RECT{r.x, r.y, r.x + r.width, r.y + r.height};
                    // Both answers' buttons, in root coordinates, as one rectangle.
                    RECT both{};
                    for (int response : {GTK_RESPONSE_ACCEPT, GTK_RESPONSE_CANCEL}) {
                        GtkWidget* b = gtk_dialog_get_widget_for_response(GTK_DIALOG(a->dialog), response);
                        if (!b || !gtk_widget_get_mapped(b))
                            return G_SOURCE_CONTINUE;
                        int x = 0, y = 0;
                        GtkAllocation al{};
                        gtk_widget_get_allocation(b, &al);
                        if (!gtk_widget_translate_coordinates(b, gtk_widget_get_toplevel(b), 0, 0, &x, &y))
                            return G_SOURCE_CONTINUE;
                        int ox = 0, oy = 0;
                        gdk_window_get_origin(g, &ox, &oy);
                        RECT one{ox + x, oy + y, ox + x + al.width, oy + y + al.height};
                        if (both.right == both.left)
                            both = one;
                        else
                            both = RECT{std::min(both.left, one.left), std::min(both.top, one.top),
                                        std::max(both.right, one.right), std::max(both.bottom, one.bottom)};
                    }
                    *a->buttons = both;
                    // The picture once the chooser has drawn itself at that size.
                    if (!a->hooked) {
                        a->hooked = g_signal_connect_after(a->dialog, "draw",
                                                           G_CALLBACK(+[](GtkWidget*, cairo_t*, gpointer p) {
                                                               static_cast<Answer*>(p)->painted = true;
                                                               return FALSE;
                                                           }),
                                                           a);
                        gtk_widget_queue_draw(a->dialog);
                    }
                    if (!a->painted)
                        return G_SOURCE_CONTINUE;
                    if (a->response == GTK_RESPONSE_ACCEPT) {
                        gdk_display_sync(gdk_display_get_default());
                        if (cairo_surface_t* shot =
                                gtkscreen::Shot(RECT{0, 0, 1024, 768},
                                                std::string(PROJECT_BINARY_DIR) + "/gtk_folder_chooser.png"))
                            cairo_surface_destroy(shot);
                    }
                    g_signal_handler_disconnect(a->dialog, a->hooked);
                    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(a->dialog), a->dir.c_str());
                    gtk_dialog_response(GTK_DIALOG(a->dialog), a->response);
                    return G_SOURCE_REMOVE;
                },
                new Answer{d, dir, accept ? GTK_RESPONSE_ACCEPT : GTK_RESPONSE_CANCEL, &shown, &buttons},
                [](gpointer p) { delete static_cast<Answer*>(p); });
        });
        afxshell::FolderQuestion q;
        q.hOwner = owner;
        q.title = "\xD1\xA1\xD4\xF1"; // "选择" in GBK
        q.start = dir;
        std::optional<std::string> got = picker->ChooseFolder(q);
        ASSERT_GT(shown.right - shown.left, 0) << "the chooser was never shown on its folder";
        // The whole chooser, frame and all, within the work area, and its answers on the screen.
        const RECT work = m_presenter->WorkArea();
        EXPECT_TRUE(shown.left >= work.left && shown.top >= work.top && shown.right <= work.right &&
                    shown.bottom <= work.bottom)
            << "chooser " << shown.left << "," << shown.top << " " << shown.right - shown.left << "x"
            << shown.bottom - shown.top << " on the work area " << work.right - work.left << "x"
            << work.bottom - work.top;
        EXPECT_TRUE(buttons.right > buttons.left && buttons.left >= work.left && buttons.top >= work.top &&
                    buttons.right <= work.right && buttons.bottom <= work.bottom)
            << "buttons " << buttons.left << "," << buttons.top << " to " << buttons.right << ","
            << buttons.bottom;
        EXPECT_EQ(title, "选择");
        EXPECT_TRUE(modal);
        EXPECT_TRUE(transient);
        if (accept)
            EXPECT_EQ(got, std::optional<std::string>(dir));
        else
            EXPECT_EQ(got, std::nullopt);
    }
    rmdir(dir);
}

} // namespace
