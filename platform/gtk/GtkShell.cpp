#include "platform/gtk/GtkShell.h"

#include "platform/gdi/WinGdi.h"
#include "platform/gtk/GtkPresenter.h"
#include "platform/kernel/CodePage.h"

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <string>

// GtkStatusIcon is GTK's only client of the XEmbed tray; its deprecation names no successor, so
// its calls are made with the deprecation warnings off.

namespace afxgtk {

namespace {

// The icon drawn at size over a surface of one colour.
cairo_surface_t* IconOver(HICON hIcon, int size, DWORD rgb) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, size, size);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0);
    cairo_paint(cr);
    cairo_destroy(cr);
    HDC dc = afxgdi::CreateDCForSurface(s, POINT{0, 0}, nullptr);
    DrawIconEx(dc, 0, 0, hIcon, size, size, 0, nullptr, DI_NORMAL);
    afxgdi::ReleaseDCForSurface(dc);
    cairo_surface_flush(s);
    return s;
}

} // namespace

GdkPixbuf* CGtkTrayHost::IconPixbuf(HICON hIcon, int size) {
    if (!hIcon)
        return nullptr;
    // The drawing layer blends icons onto opaque surfaces only. Drawn once over black and once
    // over white, each pixel's two results give back its alpha (the difference) and colour.
    cairo_surface_t* black = IconOver(hIcon, size, 0x000000);
    cairo_surface_t* white = IconOver(hIcon, size, 0xFFFFFF);
    GdkPixbuf* pb = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, size, size);
    guchar* out = gdk_pixbuf_get_pixels(pb);
    int outStride = gdk_pixbuf_get_rowstride(pb);
    for (int y = 0; y < size; ++y) {
        auto* b = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(black) +
                                                    y * cairo_image_surface_get_stride(black));
        auto* w = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(white) +
                                                    y * cairo_image_surface_get_stride(white));
        guchar* o = out + y * outStride;
        for (int x = 0; x < size; ++x) {
            int alpha = 255 - (static_cast<int>((w[x] >> 8) & 0xFF) - static_cast<int>((b[x] >> 8) & 0xFF));
            alpha = alpha < 0 ? 0 : (alpha > 255 ? 255 : alpha);
            for (int c = 0; c < 3; ++c) {
                int premultiplied = (b[x] >> (16 - 8 * c)) & 0xFF; // over black: colour times alpha
                int v = alpha ? (premultiplied * 255 + alpha / 2) / alpha : 0;
                o[4 * x + c] = static_cast<guchar>(v > 255 ? 255 : v);
            }
            o[4 * x + 3] = static_cast<guchar>(alpha);
        }
    }
    cairo_surface_destroy(black);
    cairo_surface_destroy(white);
    return pb;
}

CGtkTrayHost::~CGtkTrayHost() {
    // Icons deleted just before: let GTK's pending tip query run while their windows exist.
    while (m_retireSource && g_main_context_iteration(nullptr, FALSE)) {
    }
    if (m_retireSource)
        g_source_remove(m_retireSource);
    Retire(this);
    for (auto& [key, s] : m_icons)
        if (s.icon)
            g_object_unref(s.icon);
    m_icons.clear();
    if (m_bus)
        g_object_unref(m_bus);
}

GDBusConnection* CGtkTrayHost::Bus() {
    if (m_bus && g_dbus_connection_is_closed(m_bus)) {
        g_object_unref(m_bus);
        m_bus = nullptr;
    }
    if (!m_bus)
        m_bus = SniOpenBus();
    return m_bus;
}

bool CGtkTrayHost::IsAvailable() {
    return SniHostPresent(Bus()) || XEmbedAvailable();
}

bool CGtkTrayHost::IsItem(HWND hWnd, UINT uID, std::string* busName) const {
    auto it = m_icons.find(std::make_pair(hWnd, uID));
    if (it == m_icons.end() || !it->second.sni)
        return false;
    if (busName)
        *busName = it->second.sni->BusName();
    return true;
}

bool CGtkTrayHost::XEmbedAvailable() {
    GdkDisplay* d = gdk_display_get_default();
    if (!d || !GDK_IS_X11_DISPLAY(d))
        return false;
    // An XEmbed tray is there when someone owns the screen's tray manager selection.
    GdkScreen* screen = gdk_display_get_default_screen(d);
    std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(gdk_x11_screen_get_screen_number(screen));
    Display* x = gdk_x11_display_get_xdisplay(d);
    return XGetSelectionOwner(x, gdk_x11_get_xatom_by_name_for_display(d, name.c_str())) != 0;
}

void CGtkTrayHost::Show(Shown& s, const afxshell::TrayIconInfo& icon) {
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    GdkPixbuf* pb = IconPixbuf(icon.hIcon, 32);
    if (pb) {
        gtk_status_icon_set_from_pixbuf(s.icon, pb);
        g_object_unref(pb);
    } else {
        gtk_status_icon_set_from_icon_name(s.icon, "application-x-executable");
    }
    std::string tip = AfxAnsiToUtf8(icon.tip);
    gtk_status_icon_set_tooltip_text(s.icon, tip.empty() ? nullptr : tip.c_str());
    gtk_status_icon_set_visible(s.icon, TRUE);
    G_GNUC_END_IGNORE_DEPRECATIONS
}

bool CGtkTrayHost::AddIcon(const afxshell::TrayIconInfo& icon) {
    auto key = std::make_pair(icon.hWnd, icon.uID);
    if (m_icons.count(key))
        return false;
    if (SniHostPresent(Bus())) {
        auto item = std::make_unique<CSniItem>(m_bus, icon.hWnd, icon.uID);
        if (!item->Publish(icon))
            return false;
        m_icons[key].sni = std::move(item);
        return true;
    }
    if (!XEmbedAvailable())
        return false;
    Shown& s = m_icons[key];
    s.hWnd = icon.hWnd;
    s.uID = icon.uID;
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    s.icon = gtk_status_icon_new();
    G_GNUC_END_IGNORE_DEPRECATIONS
    g_signal_connect(s.icon, "button-press-event", G_CALLBACK(&CGtkTrayHost::OnButton), &s);
    g_signal_connect(s.icon, "button-release-event", G_CALLBACK(&CGtkTrayHost::OnButton), &s);
    Show(s, icon);
    return true;
}

bool CGtkTrayHost::ModifyIcon(const afxshell::TrayIconInfo& icon) {
    auto it = m_icons.find(std::make_pair(icon.hWnd, icon.uID));
    if (it == m_icons.end())
        return false;
    if (it->second.sni)
        it->second.sni->Update(icon);
    else
        Show(it->second, icon);
    return true;
}

bool CGtkTrayHost::DeleteIcon(HWND hWnd, UINT uID) {
    auto it = m_icons.find(std::make_pair(hWnd, uID));
    if (it == m_icons.end())
        return false;
    if (it->second.sni) {
        m_icons.erase(it);
        return true;
    }
    GtkStatusIcon* icon = it->second.icon;
    g_signal_handlers_disconnect_by_data(icon, &it->second);
    m_icons.erase(it);
    // Dropping the tip makes GTK ask, from an idle, where the pointer is over the icon's window;
    // that window must still exist then, so it goes away in an idle of lower priority.
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_status_icon_set_has_tooltip(icon, FALSE);
    G_GNUC_END_IGNORE_DEPRECATIONS
    m_retiring.push_back(icon);
    if (!m_retireSource)
        m_retireSource = g_idle_add_full(G_PRIORITY_LOW, &CGtkTrayHost::Retire, this, nullptr);
    return true;
}

int CGtkTrayHost::Retire(void* p) {
    auto* self = static_cast<CGtkTrayHost*>(p);
    self->m_retireSource = 0;
    for (GtkStatusIcon* icon : self->m_retiring) {
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        gtk_status_icon_set_visible(icon, FALSE);
        G_GNUC_END_IGNORE_DEPRECATIONS
        g_object_unref(icon);
    }
    self->m_retiring.clear();
    return G_SOURCE_REMOVE;
}

bool CGtkTrayHost::IconArea(HWND hWnd, UINT uID, RECT* area) const {
    auto it = m_icons.find(std::make_pair(hWnd, uID));
    if (it == m_icons.end() || !area || !it->second.icon)
        return false;
    GdkRectangle r{};
    // The tray may drop its window while we ask where the icon is.
    GdkDisplay* d = gdk_display_get_default();
    gdk_x11_display_error_trap_push(d);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    bool known = gtk_status_icon_is_embedded(it->second.icon) &&
                 gtk_status_icon_get_geometry(it->second.icon, nullptr, &r, nullptr);
    // Embedded is not yet shown: the tray maps its socket when it has laid the icon out.
    XWindowAttributes wa{};
    known = known &&
            XGetWindowAttributes(gdk_x11_display_get_xdisplay(d),
                                 gtk_status_icon_get_x11_window_id(it->second.icon), &wa) &&
            wa.map_state == IsViewable;
    G_GNUC_END_IGNORE_DEPRECATIONS
    if (gdk_x11_display_error_trap_pop(d) != 0 || !known)
        return false;
    *area = RECT{r.x, r.y, r.x + r.width, r.y + r.height};
    return r.width > 0 && r.height > 0;
}

int CGtkTrayHost::OnButton(GtkStatusIcon*, GdkEventButton* e, void* p) {
    auto* s = static_cast<Shown*>(p);
    if (e->type == GDK_2BUTTON_PRESS || e->type == GDK_3BUTTON_PRESS)
        return TRUE; // the rule below decides double clicks
    bool down = e->type == GDK_BUTTON_PRESS;
    UINT message = 0;
    if (e->button == 1) {
        POINT at{static_cast<LONG>(e->x_root), static_cast<LONG>(e->y_root)};
        message = down ? (s->clicks.Press(e->time, at) ? WM_LBUTTONDBLCLK : WM_LBUTTONDOWN) : WM_LBUTTONUP;
    } else if (e->button == 3) {
        s->clicks.Reset();
        message = down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
    } else {
        return FALSE;
    }
    // The program opens its menu from its own loop, after this event is over.
    afxshell::TrayIconNotify(s->hWnd, s->uID, message);
    return TRUE;
}

std::optional<std::string> CGtkFolderPicker::ChooseFolder(const afxshell::FolderQuestion& q) {
    CGtkPresenter* presenter = CGtkPresenter::Installed();
    HWND top = q.hOwner ? GetAncestor(q.hOwner, GA_ROOT) : nullptr;
    GtkWindow* parent = presenter && top ? presenter->NativeWindow(top) : nullptr;
    std::string title = AfxAnsiToUtf8(q.title);
    GtkWidget* dlg =
        gtk_file_chooser_dialog_new(title.c_str(), parent, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Cancel",
                                    GTK_RESPONSE_CANCEL, "_Select", GTK_RESPONSE_ACCEPT, nullptr);
    gtk_window_set_modal(GTK_WINDOW(dlg), TRUE);
    gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(dlg), TRUE);
    if (!q.start.empty())
        gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dlg), q.start.c_str());
    // The chooser takes the size it remembers, or one made for a large screen; it must keep its
    // buttons within the work area, so it is never larger than that area less room for the
    // manager's frame, and it is centred there once its size is known (at realize, before the
    // window is shown, so it never appears elsewhere first).
    const RECT work = presenter ? presenter->WorkArea() : RECT{0, 0, 1024, 768};
    const int workW = std::max<int>(1, work.right - work.left),
              workH = std::max<int>(1, work.bottom - work.top);
    GdkGeometry most{};
    most.max_width = std::max(1, workW - std::max(workW / 10, 64));
    most.max_height = std::max(1, workH - std::max(workH / 10, 64));
    gtk_window_set_geometry_hints(GTK_WINDOW(dlg), nullptr, &most, GDK_HINT_MAX_SIZE);
    auto* area = new RECT(work);
    g_signal_connect_data(
        dlg, "realize", G_CALLBACK(+[](GtkWidget* d, gpointer p) {
            const RECT* w = static_cast<const RECT*>(p);
            GtkAllocation a{};
            gtk_widget_get_allocation(d, &a);
            gtk_window_move(GTK_WINDOW(d), w->left + std::max<int>(0, (w->right - w->left - a.width) / 2),
                            w->top + std::max<int>(0, (w->bottom - w->top - a.height) / 2));
        }),
        area, [](gpointer p, GClosure*) { delete static_cast<RECT*>(p); }, GConnectFlags(0));
    std::optional<std::string> chosen;
    if (gtk_dialog_run(GTK_DIALOG(dlg)) == GTK_RESPONSE_ACCEPT) {
        if (gchar* f = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dlg))) {
            chosen = std::string(f);
            g_free(f);
        }
    }
    gtk_widget_destroy(dlg);
    return chosen;
}

} // namespace afxgtk
