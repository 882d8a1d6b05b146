// Helpers of the drawing tests: memory DCs of a known picture, and reading pixels back.
#pragma once

#include "platform/gdi/WinGdi.h"

#include <cairo.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

// A memory DC with a compatible bitmap of its own, deleted with it.
class MemDC {
public:
    MemDC(int cx, int cy)
        : m_dc(CreateCompatibleDC(nullptr)), m_bmp(CreateCompatibleBitmap(nullptr, cx, cy)) {
        m_old = SelectObject(m_dc, m_bmp);
    }
    ~MemDC() {
        SelectObject(m_dc, m_old);
        DeleteObject(m_bmp);
        DeleteDC(m_dc);
    }
    MemDC(const MemDC&) = delete;
    MemDC& operator=(const MemDC&) = delete;

    operator HDC() const { return m_dc; }
    HBITMAP bitmap() const { return m_bmp; }

    void Fill(COLORREF c) {
        HBRUSH b = CreateSolidBrush(c);
        RECT rc{0, 0, 1 << 15, 1 << 15};
        FillRect(m_dc, &rc, b);
        DeleteObject(b);
    }

private:
    HDC m_dc;
    HBITMAP m_bmp;
    HGDIOBJ m_old;
};

// A colour that names its pixel, so a copied pixel tells where it came from.
inline COLORREF Marked(int x, int y) {
    return RGB(10 + x, 100 + y, 200);
}

inline void Paint(HDC dc, int cx, int cy, COLORREF (*color)(int, int)) {
    for (int y = 0; y < cy; ++y)
        for (int x = 0; x < cx; ++x)
            SetPixel(dc, x, y, color(x, y));
}

// Counts the pixels of (0,0)-(cx,cy) that differ from `background`, and their bounding box.
struct Ink {
    int count = 0;
    RECT box{0, 0, 0, 0};
};
inline Ink FindInk(HDC dc, int cx, int cy, COLORREF background) {
    Ink ink;
    for (int y = 0; y < cy; ++y)
        for (int x = 0; x < cx; ++x) {
            if (GetPixel(dc, x, y) == background)
                continue;
            if (ink.count++ == 0)
                ink.box = RECT{x, y, x + 1, y + 1};
            ink.box.left = std::min<LONG>(ink.box.left, x);
            ink.box.top = std::min<LONG>(ink.box.top, y);
            ink.box.right = std::max<LONG>(ink.box.right, x + 1);
            ink.box.bottom = std::max<LONG>(ink.box.bottom, y + 1);
        }
    return ink;
}

// Writes what a DC shows (cx by cy from its (0,0)) as a PNG, to look at.
inline bool SavePng(HDC dc, int cx, int cy, const std::string& path) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, cx, cy);
    cairo_surface_flush(s);
    unsigned char* data = cairo_image_surface_get_data(s);
    int stride = cairo_image_surface_get_stride(s);
    for (int y = 0; y < cy; ++y)
        for (int x = 0; x < cx; ++x) {
            COLORREF c = GetPixel(dc, x, y);
            reinterpret_cast<uint32_t*>(data + y * stride)[x] =
                (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
        }
    cairo_surface_mark_dirty(s);
    bool ok = cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(s);
    return ok;
}
