// What the toolkit's tests share: memory canvases to draw buttons into, a window that writes
// down the commands and tool-bar clicks it receives, small button pictures whose every frame and
// row has its own colour, and the built-in skin package unpacked into a temporary skin folder.
// User-interface thread only, like the toolkit.
#pragma once

#include "contentserver/PackUnpacker.h"
#include "platform/afx.h"
#include "platform/gdi/AfxDC.h"
#include "platform/user/HeadlessScreen.h"
#include "tests/gdi/PngFixture.h"
#include "tests/skin/PngRead.h"
#include "tests/skin/SkinFolder.h"

#include <gtest/gtest.h>

#include <cairo.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace skintest {

// A pixel of a decoded PNG as 0xAARRGGBB.
inline uint32_t Argb(const PngFile& p, int x, int y) {
    const uint32_t v = p.Pixel(static_cast<uint32_t>(x), static_cast<uint32_t>(y));
    return (v >> 8) | (v << 24);
}

// A window as the screen shows it, composed once: 0x00RRGGBB words, row after row.
struct Shot {
    int width = 0, height = 0;
    std::vector<uint32_t> px;
    uint32_t at(int x, int y) const { return px[static_cast<size_t>(y) * width + x]; }
};
inline Shot ShootWindow(const afxuser::CHeadlessScreen& screen, HWND hWnd) {
    Shot shot;
    cairo_surface_t* s = screen.RenderWindow(hWnd);
    if (!s)
        return shot;
    cairo_surface_flush(s);
    shot.width = cairo_image_surface_get_width(s);
    shot.height = cairo_image_surface_get_height(s);
    const int stride = cairo_image_surface_get_stride(s);
    const unsigned char* data = cairo_image_surface_get_data(s);
    for (int y = 0; y < shot.height; ++y)
        for (int x = 0; x < shot.width; ++x)
            shot.px.push_back(reinterpret_cast<const uint32_t*>(data + y * stride)[x] & 0xFFFFFFu);
    cairo_surface_destroy(s);
    return shot;
}

// A memory DC with its own bitmap, filled with one colour.
class Canvas {
public:
    Canvas(int cx, int cy, COLORREF fill = RGB(0, 0, 0)) {
        dc.CreateCompatibleDC(nullptr);
        bmp.CreateCompatibleBitmap(&dc, cx, cy);
        dc.SelectObject(&bmp);
        dc.FillSolidRect(0, 0, cx, cy, fill);
    }
    COLORREF At(int x, int y) const { return dc.GetPixel(x, y); }

    CDC dc;
    CBitmap bmp;
};

// The colour of frame f, row r of a button picture made by ButtonPicture.
inline uint32_t FrameColour(int frame, int row) {
    return 0xFF000000u | (static_cast<uint32_t>(40 + 50 * frame) << 16) |
           (static_cast<uint32_t>(60 + 120 * row) << 8) | 0x30u;
}
inline COLORREF FrameColorref(int frame, int row) {
    const uint32_t c = FrameColour(frame, row);
    return RGB((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF);
}

// A button picture of four frames of fw x fh in two rows, each frame and row one colour. With
// halfAlphaCorner, every frame's top-left pixel is half transparent white, which shows whether a
// redraw blends onto its own earlier picture.
inline std::string ButtonPicture(int fw, int fh, bool halfAlphaCorner = false) {
    std::vector<uint32_t> px(static_cast<size_t>(4 * fw) * (2 * fh));
    for (int y = 0; y < 2 * fh; ++y)
        for (int x = 0; x < 4 * fw; ++x) {
            const bool corner = halfAlphaCorner && x % fw == 0 && y % fh == 0;
            px[static_cast<size_t>(y) * (4 * fw) + x] = corner ? 0x80FFFFFFu : FrameColour(x / fw, y / fh);
        }
    return pngfixture::Png(4 * fw, 2 * fh, px);
}

// A top-level window that records the WM_COMMAND ids and the tool-bar clicks (11000) it gets,
// and can run code on each command.
class CommandSink : public CWnd {
public:
    CommandSink() { CreateEx(0, nullptr, "sink", WS_POPUP, 0, 0, 10, 10, nullptr, 0); }
    ~CommandSink() override {
        if (m_hWnd)
            DestroyWindow();
    }
    BOOL OnCommand(WPARAM wParam, LPARAM) override {
        commands.push_back(LOWORD(wParam));
        if (onCommand)
            onCommand(LOWORD(wParam));
        return TRUE;
    }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == 11000) {
            clicks.push_back(static_cast<UINT>(wParam));
            if (onClick)
                onClick(static_cast<UINT>(wParam));
            return 0;
        }
        return CWnd::WindowProc(message, wParam, lParam);
    }

    std::vector<UINT> commands;
    std::vector<UINT> clicks;
    std::function<void(UINT)> onCommand;
    std::function<void(UINT)> onClick;
};

// The program's own skin package, unpacked from its resource MYDATA 151 into a fresh skin folder
// that the path object points at, with a headless screen installed.
class BuiltInPackage : public ::testing::Test {
protected:
    void SetUp() override {
        screen.Install();
        HRSRC res = FindResourceA(nullptr, MAKEINTRESOURCEA(151), "MYDATA");
        ASSERT_NE(res, nullptr);
        const DWORD size = SizeofResource(nullptr, res);
        const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, res)));
        ASSERT_NE(data, nullptr);
        std::vector<BYTE> package(data, data + size);
        CPackUnpacker unpacker;
        ASSERT_TRUE(unpacker.Unpack(package.data(), size, skin.Win()));
    }

    afxuser::CHeadlessScreen screen;
    SkinFolder skin;
};

} // namespace skintest
