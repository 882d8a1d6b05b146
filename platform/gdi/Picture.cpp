// Decoding through gdk-pixbuf, nearest-neighbour drawing with source-over, and icons.
#include "platform/gdi/GdiObjects.h"

#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace afxgdi::detail {

namespace {

struct LoadWatch {
    bool tooLarge = false;
    int rowsDone = 0;
};

void OnSizePrepared(GdkPixbufLoader*, int width, int height, gpointer data) {
    if (width > kMaxPictureSide || height > kMaxPictureSide || width <= 0 || height <= 0)
        static_cast<LoadWatch*>(data)->tooLarge = true;
}

void OnAreaUpdated(GdkPixbufLoader*, int, int y, int, int height, gpointer data) {
    auto* w = static_cast<LoadWatch*>(data);
    w->rowsDone = std::max(w->rowsDone, y + height);
}

// gdk-pixbuf hands out a picture as soon as the header is read, and closes a cut-off file
// without complaint; a picture whose rows were never all decoded is a broken file. An animation
// updates only the parts each frame changes, so it is taken as it comes.
bool WhollyDecoded(GdkPixbufLoader* loader, GdkPixbuf* pb, const LoadWatch& w) {
    GdkPixbufFormat* format = gdk_pixbuf_loader_get_format(loader);
    gchar* name = format ? gdk_pixbuf_format_get_name(format) : nullptr;
    bool animated = name && std::strcmp(name, "gif") == 0;
    g_free(name);
    return animated || w.rowsDone >= gdk_pixbuf_get_height(pb);
}

} // namespace

bool DecodePicture(const void* data, size_t size, Picture& out) {
    out = Picture();
    if (!data || size == 0)
        return false;
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
    LoadWatch check;
    g_signal_connect(loader, "size-prepared", G_CALLBACK(OnSizePrepared), &check);
    g_signal_connect(loader, "area-updated", G_CALLBACK(OnAreaUpdated), &check);
    // Fed in pieces, so a picture refused for its size stops before its pixels are decoded.
    const auto* bytes = static_cast<const guchar*>(data);
    bool ok = true;
    constexpr size_t kPiece = 64 * 1024;
    for (size_t at = 0; at < size && ok && !check.tooLarge; at += kPiece)
        ok = gdk_pixbuf_loader_write(loader, bytes + at, std::min(kPiece, size - at), nullptr);
    // Closing reports a truncated file; the loader must be closed in every case.
    bool closed = gdk_pixbuf_loader_close(loader, nullptr);
    GdkPixbuf* pb = ok && closed && !check.tooLarge ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
    bool decoded = false;
    if (pb && WhollyDecoded(loader, pb, check) && gdk_pixbuf_get_colorspace(pb) == GDK_COLORSPACE_RGB &&
        gdk_pixbuf_get_bits_per_sample(pb) == 8) {
        int w = gdk_pixbuf_get_width(pb), h = gdk_pixbuf_get_height(pb);
        int n = gdk_pixbuf_get_n_channels(pb), stride = gdk_pixbuf_get_rowstride(pb);
        bool alpha = gdk_pixbuf_get_has_alpha(pb);
        const guchar* px = gdk_pixbuf_read_pixels(pb);
        if (w > 0 && h > 0 && w <= kMaxPictureSide && h <= kMaxPictureSide && (n == 3 || n == 4) && px) {
            out.width = w;
            out.height = h;
            out.argb.resize(static_cast<size_t>(w) * h);
            for (int y = 0; y < h; ++y) {
                const guchar* row = px + static_cast<size_t>(y) * stride;
                for (int x = 0; x < w; ++x) {
                    const guchar* p = row + static_cast<size_t>(x) * n;
                    uint32_t a = alpha && n == 4 ? p[3] : 255;
                    out.argb[static_cast<size_t>(y) * w + x] =
                        (a << 24) | (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
                }
            }
            decoded = true;
        }
    }
    g_object_unref(loader);
    return decoded;
}

Picture ScalePicture(const Picture& p, int cx, int cy) {
    if (cx == p.width && cy == p.height)
        return p;
    Picture r;
    if (cx <= 0 || cy <= 0 || p.width <= 0 || p.height <= 0)
        return r;
    r.width = cx;
    r.height = cy;
    r.argb.resize(static_cast<size_t>(cx) * cy);
    for (int y = 0; y < cy; ++y) {
        int sy = NearestSource(y, p.height, cy);
        for (int x = 0; x < cx; ++x)
            r.argb[static_cast<size_t>(y) * cx + x] = p.at(NearestSource(x, p.width, cx), sy);
    }
    return r;
}

void DrawPicture(Target& t, const Picture& p, int dx, int dy, int dw, int dh, int sx, int sy, int sw,
                 int sh) {
    if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0 || p.width <= 0 || p.height <= 0)
        return;
    // Destination offsets inside the clip.
    int64_t i0 = std::max<int64_t>(0, int64_t(t.clip.left) - t.origin.x - dx);
    int64_t i1 = std::min<int64_t>(dw, int64_t(t.clip.right) - t.origin.x - dx);
    int64_t j0 = std::max<int64_t>(0, int64_t(t.clip.top) - t.origin.y - dy);
    int64_t j1 = std::min<int64_t>(dh, int64_t(t.clip.bottom) - t.origin.y - dy);
    if (i0 >= i1 || j0 >= j1)
        return;
    std::vector<int> cols(static_cast<size_t>(i1 - i0));
    for (int64_t i = i0; i < i1; ++i) {
        int64_t c = int64_t(sx) + NearestSource(static_cast<int>(i), sw, dw);
        cols[static_cast<size_t>(i - i0)] = c >= 0 && c < p.width ? static_cast<int>(c) : -1;
    }
    for (int64_t j = j0; j < j1; ++j) {
        int64_t r = int64_t(sy) + NearestSource(static_cast<int>(j), sh, dh);
        if (r < 0 || r >= p.height)
            continue;
        uint32_t* dst = t.px.row(static_cast<int>(dy + j + t.origin.y));
        const int64_t x0 = int64_t(dx) + t.origin.x;
        const uint32_t* src = p.argb.data() + static_cast<size_t>(r) * p.width;
        for (int64_t i = i0; i < i1; ++i) {
            int c = cols[static_cast<size_t>(i - i0)];
            if (c >= 0)
                dst[x0 + i] = BlendOver(dst[x0 + i], src[c], t.px.alpha);
        }
    }
    MarkDirty(t);
}

namespace {

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24);
}

// The entry of an .ico or .cur file nearest cx by cy (the first one for 0 by 0), as a file of
// its own; empty when the bytes are not such a file or the entry lies outside them.
std::string PickIconEntry(const uint8_t* d, size_t size, int cx, int cy) {
    if (size < 6 || Le16(d) != 0 || (Le16(d + 2) != 1 && Le16(d + 2) != 2))
        return std::string();
    size_t count = Le16(d + 4);
    if (count == 0 || size < 6 + 16 * count)
        return std::string();
    size_t best = 0;
    long bestScore = -1;
    int bestBits = -1;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = d + 6 + 16 * i;
        int w = e[0] ? e[0] : 256, h = e[1] ? e[1] : 256, bits = Le16(e + 6);
        long score = (cx == 0 && cy == 0) ? (i == 0 ? 0 : 1) : labs(long(w) - cx) + labs(long(h) - cy);
        if (bestScore < 0 || score < bestScore || (score == bestScore && bits > bestBits)) {
            best = i;
            bestScore = score;
            bestBits = bits;
        }
    }
    const uint8_t* e = d + 6 + 16 * best;
    uint32_t bytes = Le32(e + 8), offset = Le32(e + 12);
    if (bytes == 0 || offset > size || bytes > size - offset)
        return std::string();
    static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (bytes >= 8 && std::memcmp(d + offset, kPng, 8) == 0)
        return std::string(reinterpret_cast<const char*>(d + offset), bytes);
    std::string one(reinterpret_cast<const char*>(d), 6);
    one[4] = 1;
    one[5] = 0;
    one.append(reinterpret_cast<const char*>(e), 8);
    one.append("\x08\x00\x00\x00", 4); // placeholder for the size, set below
    one.append("\x16\x00\x00\x00", 4); // the image follows the one entry at offset 22
    for (int k = 0; k < 4; ++k)
        one[14 + k] = static_cast<char>((bytes >> (8 * k)) & 0xFF);
    one.append(reinterpret_cast<const char*>(d + offset), bytes);
    return one;
}

} // namespace

} // namespace afxgdi::detail

using namespace afxgdi::detail;

namespace afxgdi {

HICON CreateIconFromFileBytes(const void* data, size_t size, int cx, int cy) {
    if (!data || cx < 0 || cy < 0 || cx > kMaxPictureSide || cy > kMaxPictureSide)
        return nullptr;
    const auto* d = static_cast<const uint8_t*>(data);
    std::string entry = PickIconEntry(d, size, cx, cy);
    Picture pic;
    if (!(entry.empty() ? DecodePicture(data, size, pic) : DecodePicture(entry.data(), entry.size(), pic)))
        return nullptr;
    auto* icon = new HICON__();
    icon->picture = (cx > 0 && cy > 0) ? ScalePicture(pic, cx, cy) : std::move(pic);
    return Register(icon);
}

} // namespace afxgdi

BOOL DrawIconEx(HDC hdc, int xLeft, int yTop, HICON hIcon, int cxWidth, int cyWidth, UINT,
                HBRUSH hbrFlickerFreeDraw, UINT diFlags) {
    HICON__* icon = AsIcon(hIcon);
    Target t;
    if (!icon || !GetTarget(hdc, t) || !(diFlags & DI_NORMAL))
        return FALSE;
    const Picture& p = icon->picture;
    int cx = cxWidth > 0 ? cxWidth : (diFlags & DI_DEFAULTSIZE) ? 32 : p.width;
    int cy = cyWidth > 0 ? cyWidth : (diFlags & DI_DEFAULTSIZE) ? 32 : p.height;
    if (hbrFlickerFreeDraw) {
        RECT rc{xLeft, yTop, xLeft + cx, yTop + cy};
        FillRect(hdc, &rc, hbrFlickerFreeDraw);
        GetTarget(hdc, t);
    }
    if ((diFlags & DI_NORMAL) == DI_IMAGE) {
        // The colour part alone: every pixel opaque.
        Picture opaque = p;
        for (uint32_t& v : opaque.argb)
            v |= 0xFF000000u;
        DrawPicture(t, opaque, xLeft, yTop, cx, cy, 0, 0, p.width, p.height);
    } else {
        DrawPicture(t, p, xLeft, yTop, cx, cy, 0, 0, p.width, p.height);
    }
    return TRUE;
}

BOOL DrawIcon(HDC hDC, int X, int Y, HICON hIcon) {
    return DrawIconEx(hDC, X, Y, hIcon, 0, 0, 0, nullptr, DI_NORMAL | DI_DEFAULTSIZE);
}

BOOL DestroyIcon(HICON hIcon) {
    return AsIcon(hIcon) && Unregister(hIcon) ? TRUE : FALSE;
}
