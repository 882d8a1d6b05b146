// An RGBA picture in memory and its PNG file: 8 bits per channel, straight alpha, and only the
// IHDR, IDAT and IEND chunks, so the same pixels always give the same bytes and no viewer or
// decoder applies a gamma or colour profile to them.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <string>
#include <vector>

class Image {
public:
    Image(int w, int h) : m_w(w), m_h(h), m_px(static_cast<size_t>(w) * h * 4, 0) {}
    int Width() const { return m_w; }
    int Height() const { return m_h; }
    // Channels in [0, 1], rounded to the nearest byte.
    void Set(int x, int y, double r, double g, double b, double a = 1.0);
    // Copies a cairo ARGB32 surface (premultiplied) to (x, y), un-premultiplied.
    void Blit(cairo_surface_t* surface, int x, int y);
    // A new cairo ARGB32 surface holding the picture.
    cairo_surface_t* ToSurface() const;
    void WritePng(const std::string& path) const;

private:
    int m_w, m_h;
    std::vector<uint8_t> m_px; // RGBA rows
};
