// A window of the program's own resources on the desktop, by hand: the main dialog's template
// with a band to drag it by and a close box, the tray icon, and the tray menu. Closing hides the
// window to the tray when there is one; the menu's first item shows it again, the second exits.
#include "platform/gdi/WinGdi.h"
#include "platform/gtk/GtkPresenter.h"
#include "platform/shell/ShellApi.h"
#include "platform/user/AfxDialog.h"
#include "platform/user/AfxWinDC.h"
#include "platform/user/User.h"
#include "res/resource.h"

#include <cairo.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const UINT kTrayMessage = 0x7E9;
const int kBand = 28;
const int kClose = 28;
HICON g_icon = nullptr;
bool g_inTray = false;

HICON MakeIcon() {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 32, 32);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, 0.12, 0.45, 0.75);
    cairo_arc(cr, 16, 16, 15, 0, 6.2832);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_rectangle(cr, 9, 8, 14, 16);
    cairo_fill(cr);
    cairo_destroy(cr);
    std::vector<unsigned char> png;
    cairo_surface_write_to_png_stream(
        s,
        [](void* v, const unsigned char* d, unsigned n) {
            auto* o = static_cast<std::vector<unsigned char>*>(v);
            o->insert(o->end(), d, d + n);
            return CAIRO_STATUS_SUCCESS;
        },
        &png);
    cairo_surface_destroy(s);
    return afxgdi::CreateIconFromFileBytes(png.data(), png.size(), 32, 32);
}

void TrayIcon(HWND h, DWORD message) {
    NOTIFYICONDATAA d;
    std::memset(&d, 0, sizeof d);
    d.cbSize = sizeof d;
    d.hWnd = h;
    d.uID = 1;
    d.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    d.uCallbackMessage = kTrayMessage;
    d.hIcon = g_icon;
    std::strcpy(d.szTip, "Demo");
    BOOL ok = Shell_NotifyIconA(message, &d);
    if (message == NIM_ADD)
        g_inTray = ok != FALSE;
    if (message == NIM_DELETE)
        g_inTray = false;
}

RECT CloseBox(HWND h) {
    RECT c{};
    GetClientRect(h, &c);
    return RECT{c.right - kClose, 0, c.right, kBand};
}

class CDemoDlg : public CDialog {
public:
    CDemoDlg() : CDialog(IDD_HTMLVELKORS_DIALOG) {}

    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        TrayIcon(m_hWnd, NIM_ADD);
        return TRUE;
    }
    void OnCancel() override { Exit(); }

    void OnPaint() {
        CPaintDC pdc(this);
        HDC dc = pdc.m_hDC;
        RECT c{};
        ::GetClientRect(m_hWnd, &c);
        HBRUSH body = CreateSolidBrush(RGB(246, 244, 238));
        HBRUSH band = CreateSolidBrush(RGB(40, 70, 110));
        HBRUSH close = CreateSolidBrush(RGB(190, 50, 40));
        FillRect(dc, &c, body);
        RECT b{0, 0, c.right, kBand};
        FillRect(dc, &b, band);
        RECT x = CloseBox(m_hWnd);
        FillRect(dc, &x, close);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(255, 255, 255));
        RECT t{10, 0, x.left, kBand};
        DrawTextA(dc, "Demo: drag this band to move the window", -1, &t,
                  DT_LEFT | DT_SINGLELINE | DT_VCENTER);
        DrawTextA(dc, "x", -1, &x, DT_CENTER | DT_SINGLELINE | DT_VCENTER);
        SetTextColor(dc, RGB(30, 30, 30));
        RECT m{10, kBand + 10, c.right - 10, kBand + 40};
        DrawTextA(dc,
                  g_inTray
                      ? "The red box hides the window to the tray; right-click the tray icon for its menu."
                      : "No notification area here: the red box ends the demo.",
                  -1, &m, DT_LEFT | DT_SINGLELINE);
        DeleteObject(body);
        DeleteObject(band);
        DeleteObject(close);
    }
    LRESULT OnNcHitTest(CPoint point) {
        POINT p{point.x, point.y};
        ::ScreenToClient(m_hWnd, &p);
        RECT x = CloseBox(m_hWnd);
        if (p.y < kBand && !PtInRect(&x, p))
            return HTCAPTION;
        return CDialog::OnNcHitTest(point);
    }
    void OnLButtonUp(UINT, CPoint point) {
        RECT x = CloseBox(m_hWnd);
        if (!PtInRect(&x, POINT{point.x, point.y}))
            return;
        // With no tray the window would be lost once hidden: close instead.
        if (g_inTray)
            ShowWindow(SW_HIDE);
        else
            Exit();
    }
    LRESULT OnTray(WPARAM, LPARAM l) {
        if (LOWORD(l) == WM_LBUTTONDBLCLK) {
            OnShow();
        } else if (LOWORD(l) == WM_RBUTTONUP) {
            HMENU menu = LoadMenuA(nullptr, MAKEINTRESOURCEA(IDR_TRAY_MENU));
            HMENU popup = GetSubMenu(menu, 0);
            SetMenuDefaultItem(popup, ID_TRAY_SHOW, FALSE);
            POINT at{};
            GetCursorPos(&at);
            ::TrackPopupMenu(popup, TPM_RIGHTBUTTON, at.x, at.y, 0, m_hWnd, nullptr);
            DestroyMenu(menu);
        }
        return 0;
    }
    void OnShow() {
        ShowWindow(SW_SHOW);
        ::SetForegroundWindow(m_hWnd);
    }
    void Exit() {
        TrayIcon(m_hWnd, NIM_DELETE);
        EndDialog(0);
    }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CDemoDlg, CDialog)
ON_WM_PAINT()
ON_WM_NCHITTEST()
ON_WM_LBUTTONUP()
ON_MESSAGE(kTrayMessage, OnTray)
ON_COMMAND(ID_TRAY_SHOW, OnShow)
ON_COMMAND(ID_TRAY_EXIT, Exit)
END_MESSAGE_MAP()

} // namespace

int main(int argc, char** argv) {
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "gtk_demo: no display (set DISPLAY, or run it under xvfb-run)\n");
        return 1;
    }
    afxgtk::CGtkPresenter presenter;
    presenter.Install();
    g_icon = MakeIcon();
    CDemoDlg dlg;
    INT_PTR r = dlg.DoModal();
    if (g_icon)
        DestroyIcon(g_icon);
    return r < 0 ? 1 : 0;
}
