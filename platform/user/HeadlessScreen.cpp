#include "platform/user/HeadlessScreen.h"

#include "platform/user/MsgQueue.h"

#include <cairo.h>

namespace afxuser {

CHeadlessScreen::CHeadlessScreen(SIZE screen, RECT workArea) : m_screen(screen), m_work(workArea) {}

CHeadlessScreen::~CHeadlessScreen() {
    if (m_installed)
        RestorePresenter(this, m_previous);
}

void CHeadlessScreen::Install() {
    if (m_installed)
        return;
    m_previous = SetPresenter(this);
    m_installed = true;
    m_cursor = GetCursor(); // the shape stays what it was until the pointer changes it
}

void CHeadlessScreen::SetScreen(SIZE screen, RECT workArea) {
    m_screen = screen;
    m_work = workArea;
}

void CHeadlessScreen::Pump() {
    AfxPumpPendingMessages();
}

void CHeadlessScreen::Send(UINT message, int x, int y) {
    InputMouse(message, POINT{x, y});
    if (m_pump)
        Pump();
}

void CHeadlessScreen::MoveTo(int x, int y) {
    Send(WM_MOUSEMOVE, x, y);
}

void CHeadlessScreen::Press(int x, int y, bool right) {
    MoveTo(x, y);
    Send(right ? WM_RBUTTONDOWN : WM_LBUTTONDOWN, x, y);
}

void CHeadlessScreen::Release(int x, int y, bool right) {
    MoveTo(x, y);
    Send(right ? WM_RBUTTONUP : WM_LBUTTONUP, x, y);
}

void CHeadlessScreen::Click(int x, int y, bool right) {
    Press(x, y, right);
    Release(x, y, right);
}

void CHeadlessScreen::DoubleClick(int x, int y) {
    Click(x, y);
    Send(WM_LBUTTONDBLCLK, x, y);
    Send(WM_LBUTTONUP, x, y);
}

void CHeadlessScreen::Drag(int x0, int y0, int x1, int y1) {
    Press(x0, y0);
    MoveTo(x1, y1);
    Release(x1, y1);
}

void CHeadlessScreen::KeyDown(UINT vk) {
    InputKey(WM_KEYDOWN, vk);
    if (m_pump)
        Pump();
}

void CHeadlessScreen::KeyUp(UINT vk) {
    InputKey(WM_KEYUP, vk);
    if (m_pump)
        Pump();
}

void CHeadlessScreen::Key(UINT vk) {
    KeyDown(vk);
    KeyUp(vk);
}

int CHeadlessScreen::AskMessageBox(HWND hOwner, LPCSTR text, LPCSTR caption, UINT type) {
    m_boxes.push_back(MessageBoxCall{hOwner, text ? text : "", caption ? caption : "", type});
    if (!m_boxAnswers.empty()) {
        int a = m_boxAnswers.front();
        m_boxAnswers.pop_front();
        return a;
    }
    switch (type & 0xF) {
    case 1:       // MB_OKCANCEL
    case 5:       // MB_RETRYCANCEL
    case 3:       // MB_YESNOCANCEL
        return 2; // IDCANCEL
    case 4:       // MB_YESNO
        return 7; // IDNO
    default:
        return 1; // IDOK
    }
}

UINT CHeadlessScreen::ChooseFromMenu(HMENU hMenu, UINT, POINT at, HWND hOwner) {
    m_menus.push_back(MenuCall{hMenu, at, hOwner});
    if (m_menuChoices.empty())
        return 0;
    UINT c = m_menuChoices.front();
    m_menuChoices.pop_front();
    return c;
}

cairo_surface_t* CHeadlessScreen::RenderScreen() const {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, m_screen.cx, m_screen.cy);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    for (HWND h : VisibleTopLevelWindows()) {
        RECT r{};
        GetWindowRect(h, &r);
        ComposeWindow(h, cr, r.left, r.top);
    }
    cairo_destroy(cr);
    cairo_surface_flush(s);
    return s;
}

cairo_surface_t* CHeadlessScreen::RenderWindow(HWND hWnd) const {
    RECT r{};
    GetWindowRect(hWnd, &r);
    int cx = r.right - r.left, cy = r.bottom - r.top;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, cx > 0 ? cx : 1, cy > 0 ? cy : 1);
    cairo_t* cr = cairo_create(s);
    ComposeWindow(hWnd, cr, 0, 0);
    cairo_destroy(cr);
    cairo_surface_flush(s);
    return s;
}

DWORD CHeadlessScreen::ScreenPixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= m_screen.cx || y >= m_screen.cy)
        return 0;
    cairo_surface_t* s = RenderScreen();
    const unsigned char* data = cairo_image_surface_get_data(s);
    int stride = cairo_image_surface_get_stride(s);
    uint32_t px = *reinterpret_cast<const uint32_t*>(data + y * stride + x * 4) & 0xFFFFFF;
    cairo_surface_destroy(s);
    return px;
}

bool CHeadlessScreen::WriteScreenPng(const std::string& path) const {
    cairo_surface_t* s = RenderScreen();
    bool ok = cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(s);
    return ok;
}

bool CHeadlessScreen::WriteWindowPng(HWND hWnd, const std::string& path) const {
    if (!IsWindow(hWnd))
        return false;
    cairo_surface_t* s = RenderWindow(hWnd);
    bool ok = cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(s);
    return ok;
}

} // namespace afxuser
