// A skinned-style window end to end: made from a dialog template, its picture composed in a
// memory DC from a PNG through GDI+, shown on WM_ERASEBKGND, pressed and dragged through the
// headless screen, and the screen's PNG checked pixel by pixel.
#include "platform/gdi/GdiPlus.h"
#include "platform/kernel/CodePage.h"
#include "platform/kernel/Module.h"
#include "platform/user/HeadlessScreen.h"
#include "platform/user/User.h"
#include "tests/support/TestFiles.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

extern const RESOURCE_TABLE g_userDialogTable;

namespace {

constexpr int kSkinned = 302;
constexpr COLORREF kBack = RGB(0x40, 0x40, 0x40);
constexpr int kCaption = 20;                   // the caption band's height
const CRect kButton(10, 30, 10 + 24, 30 + 12); // where the button is drawn, in client coordinates

// The button image: two frames of 24 x 12 one above the other, blue (up) and red (down), each
// with a half-transparent white pixel at its top-left corner.
void WriteButtonPng(const std::string& path) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 24, 24);
    auto* d = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s));
    int stride = cairo_image_surface_get_stride(s) / 4;
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 24; ++x)
            d[y * stride + x] = y < 12 ? 0xFF0000FFu : 0xFFFF0000u;
    d[0] = d[12 * stride] = 0x80808080u; // premultiplied: white at alpha 0x80
    cairo_surface_mark_dirty(s);
    ASSERT_EQ(cairo_surface_write_to_png(s, path.c_str()), CAIRO_STATUS_SUCCESS);
    cairo_surface_destroy(s);
}

std::u16string Wide(const std::string& ansi) {
    std::u16string w(ansi.size() + 1, u'\0');
    int n = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, reinterpret_cast<LPWSTR>(w.data()),
                                static_cast<int>(w.size()));
    w.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
    return w;
}

class CSkinnedDialog : public CDialog {
public:
    explicit CSkinnedDialog(const std::string& imageWinPath) : m_image(Wide(imageWinPath)) {}
    ~CSkinnedDialog() override {
        if (m_mem.m_hDC) {
            m_mem.SelectObject(m_old);
            m_bmp.DeleteObject();
        }
    }
    bool m_down = false;
    int m_clicks = 0;

protected:
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        CRect rc;
        GetClientRect(&rc);
        CClientDC screen(this);
        m_mem.CreateCompatibleDC(&screen);
        m_bmp.CreateCompatibleBitmap(&screen, rc.Width(), rc.Height());
        m_old = m_mem.SelectObject(&m_bmp);
        m_mem.FillSolidRect(&rc, kBack);
        DrawButton();
        return TRUE;
    }
    // The frame the state asks for, over a clean background so that the half-transparent
    // corner does not pile up.
    void DrawButton() {
        m_mem.FillSolidRect(&kButton, kBack);
        Gdiplus::Image image(reinterpret_cast<const WCHAR*>(m_image.c_str()));
        Gdiplus::Graphics g(m_mem.m_hDC);
        g.SetInterpolationMode(Gdiplus::InterpolationModeNearestNeighbor);
        g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHighQuality);
        g.DrawImage(&image, kButton.left, kButton.top, kButton.Width(), kButton.Height(), 0, m_down ? 12 : 0,
                    24, 12, Gdiplus::UnitPixel);
    }
    BOOL OnEraseBkgnd(CDC* pDC) {
        CRect rc;
        GetClientRect(&rc);
        pDC->BitBlt(0, 0, rc.Width(), rc.Height(), &m_mem, 0, 0, SRCCOPY);
        return TRUE;
    }
    LRESULT OnNcHitTest(CPoint point) {
        LRESULT hit = CDialog::OnNcHitTest(point);
        ScreenToClient(&point);
        if (hit == HTCLIENT && point.y < kCaption)
            return HTCAPTION;
        return hit;
    }
    void OnLButtonDown(UINT, CPoint point) {
        if (kButton.PtInRect(point)) {
            SetCapture();
            m_down = true;
            DrawButton();
            InvalidateRect(&kButton, TRUE);
            UpdateWindow();
        }
    }
    void OnLButtonUp(UINT, CPoint point) {
        if (GetCapture() == this) {
            ReleaseCapture();
            if (kButton.PtInRect(point))
                ++m_clicks; // a click leaves the button down, like a checked tab
        }
    }

    std::u16string m_image;
    CDC m_mem;
    CBitmap m_bmp;
    CBitmap* m_old = nullptr;
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CSkinnedDialog, CDialog)
ON_WM_ERASEBKGND()
ON_WM_NCHITTEST()
ON_WM_LBUTTONDOWN()
ON_WM_LBUTTONUP()
END_MESSAGE_MAP()

DWORD PngPixel(cairo_surface_t* png, int x, int y) {
    const unsigned char* d = cairo_image_surface_get_data(png);
    return *reinterpret_cast<const uint32_t*>(d + y * cairo_image_surface_get_stride(png) + x * 4) & 0xFFFFFF;
}

TEST(SkinnedDialog, PaintedFromAMemoryDcAndAPngThenPressedAndDraggedThroughTheScreen) {
    afxuser::CHeadlessScreen screen(SIZE{400, 300}, RECT{0, 0, 400, 280});
    screen.Install();
    TempDir dir;
    WriteButtonPng(dir.sub("button.png"));
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput in;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&token, &in, nullptr), Gdiplus::Ok);

    // The template lives in the test's own resource table.
    HMODULE mod = AfxModuleFromResourceTable(&g_userDialogTable);
    HRSRC r = FindResourceA(mod, MAKEINTRESOURCEA(kSkinned), RT_DIALOG);
    ASSERT_NE(r, nullptr);
    CSkinnedDialog dlg(dir.win() + "button.png");
    ASSERT_TRUE(dlg.CreateIndirect(LockResource(LoadResource(mod, r))));
    HWND h = dlg.m_hWnd;
    ASSERT_TRUE(IsWindowVisible(h));
    afxuser::CHeadlessScreen::Pump();

    RECT wr{};
    GetWindowRect(h, &wr);
    EXPECT_EQ(wr.left, 0);
    EXPECT_GT(wr.right - wr.left, 160) << "dialog units of the template font";
    // Before: the blue frame, its corner blended half over the background.
    EXPECT_EQ(screen.ScreenPixel(kButton.left + 5, kButton.top + 5), 0x0000FFu);
    EXPECT_EQ(screen.ScreenPixel(kButton.left - 1, kButton.top), 0x404040u);
    DWORD corner = screen.ScreenPixel(kButton.left, kButton.top);
    EXPECT_NEAR(static_cast<int>(corner & 0xFF), 0xA0, 1);
    EXPECT_NEAR(static_cast<int>((corner >> 16) & 0xFF), 0xA0, 1);

    // Press and release on the button, then drag the window by its caption band.
    screen.Click(kButton.left + 3, kButton.top + 3);
    EXPECT_EQ(dlg.m_clicks, 1);
    screen.Drag(100, 5, 150, 45);
    GetWindowRect(h, &wr);
    EXPECT_EQ(wr.left, 50);
    EXPECT_EQ(wr.top, 40);

    std::string out = std::string(PROJECT_BINARY_DIR) + "/user_skinned_dialog.png";
    ASSERT_TRUE(screen.WriteScreenPng(out));
    cairo_surface_t* png = cairo_image_surface_create_from_png(out.c_str());
    ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
    struct Case {
        int x, y;
        DWORD rgb;
    };
    const int bx = 50 + kButton.left, by = 40 + kButton.top;
    const Case cases[] = {
        {49, 39, 0x000000},           // off the window
        {50, 40, 0x404040},           // the window's corner
        {bx + 5, by + 5, 0xFF0000},   // the button, down
        {bx + 23, by + 11, 0xFF0000}, // its last pixel
        {bx + 24, by + 11, 0x404040}, // just right of it
        {bx + 5, by + 12, 0x404040},  // just below it
        {wr.right - 1, wr.bottom - 1, 0x404040},
        {wr.right, wr.bottom - 1, 0x000000},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PngPixel(png, c.x, c.y), c.rgb) << c.x << "," << c.y;
    DWORD downCorner = PngPixel(png, bx, by);
    EXPECT_NEAR(static_cast<int>((downCorner >> 16) & 0xFF), 0xA0, 1) << "white half over the background";
    EXPECT_NEAR(static_cast<int>(downCorner & 0xFF), 0xA0, 1);
    cairo_surface_destroy(png);

    dlg.DestroyWindow();
    Gdiplus::GdiplusShutdown(token);
}

} // namespace
