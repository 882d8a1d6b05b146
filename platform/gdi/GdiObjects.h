// What the drawing layer's handles point at, for the layer's own sources only.
//
// Every handle is an object with a reference count: the handle table holds one reference while
// the handle is alive, and a DC holds one for each object selected into it. So a bitmap deleted
// while still selected keeps its pixels until the DC lets go, and a stale or foreign handle is
// refused by the table instead of being followed. The table is shared by all threads (one lock);
// an object itself is used by the thread that made it.
#pragma once

#include "platform/gdi/WinGdi.h"

#include <atomic>
#include <cstdint>
#include <vector>

typedef struct _PangoFontDescription PangoFontDescription;

namespace afxgdi::detail {

enum class Kind { Bitmap, Brush, Font, Dc, Icon };

struct Object {
    explicit Object(Kind k) : kind(k) {}
    virtual ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    const Kind kind;
    bool stock = false;
    std::atomic<int> refs{1};
};

void Ref(Object* o);
void Unref(Object* o);

// Enters a new object (holding its first reference) in the handle table; returns it.
template <class T> T* Register(T* o);
void RegisterObject(Object* o);
// Null when h is not a live handle of that kind.
Object* Lookup(const void* h);
Object* Lookup(const void* h, Kind kind);
// Takes the handle out of the table and drops the table's reference. False when h is not live.
bool Unregister(const void* h);

// A view of an image surface's pixels: 32-bit words, 0x00RRGGBB (RGB24) or premultiplied
// 0xAARRGGBB (ARGB32).
struct PixelView {
    uint32_t* data = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0; // in words
    bool alpha = false;
    uint32_t* row(int y) const { return data + static_cast<ptrdiff_t>(y) * stride; }
};
// Flushes the surface and gives its pixels; false when it is not a usable image surface.
bool ViewSurface(cairo_surface_t* s, PixelView& v);

// Where a DC draws: its surface's pixels, the surface pixel of logical (0,0), and the clip in
// surface pixels (always inside the surface).
struct Target {
    cairo_surface_t* surface = nullptr;
    PixelView px;
    POINT origin{0, 0};
    RECT clip{0, 0, 0, 0};
};
bool GetTarget(HDC hdc, Target& t);
// Tells cairo that the pixels of t were written by hand.
void MarkDirty(const Target& t);

// Decoded pixels: straight (not premultiplied) 0xAARRGGBB words, row after row, as the file
// stores them (no gamma or colour-profile correction).
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> argb;
    uint32_t at(int x, int y) const { return argb[static_cast<size_t>(y) * width + x]; }
};
// Larger pictures are refused, so a hostile file cannot make us allocate gigabytes.
constexpr int kMaxPictureSide = 8192;
// Decodes PNG, ICO, JPEG, BMP, GIF and the other formats gdk-pixbuf reads; false when the bytes
// do not decode or the picture is larger than kMaxPictureSide either way.
bool DecodePicture(const void* data, size_t size, Picture& out);
// The picture resampled to cx by cy by nearest neighbour.
Picture ScalePicture(const Picture& p, int cx, int cy);
// Draws src (x, y, w, h) into the target's logical (dx, dy, dw, dh), nearest neighbour, source
// over; destination pixels whose source lies outside the picture stay as they are.
void DrawPicture(Target& t, const Picture& p, int dx, int dy, int dw, int dh, int sx, int sy, int sw, int sh);

} // namespace afxgdi::detail

struct HBITMAP__ : afxgdi::detail::Object {
    HBITMAP__() : Object(afxgdi::detail::Kind::Bitmap) {}
    ~HBITMAP__() override;
    cairo_surface_t* surface = nullptr; // RGB24, owned
    int width = 0;
    int height = 0;
    HDC__* selectedIn = nullptr; // a bitmap is selected into one DC at most (stock ones excepted)
};

struct HBRUSH__ : afxgdi::detail::Object {
    HBRUSH__() : Object(afxgdi::detail::Kind::Brush) {}
    bool hollow = false;
    COLORREF color = 0;
};

struct HFONT__ : afxgdi::detail::Object {
    HFONT__() : Object(afxgdi::detail::Kind::Font) {}
    ~HFONT__() override;
    LOGFONTA lf{};
    // Made on first use (under the text module's lock): the resolved family and the pango size,
    // and the metrics every text call needs.
    PangoFontDescription* desc = nullptr;
    bool haveMetrics = false;
    int ascent = 0;
    int descent = 0;
    int emHeight = 0;
    int aveCharWidth = 0;
    int maxCharWidth = 0;
};

struct HICON__ : afxgdi::detail::Object {
    HICON__() : Object(afxgdi::detail::Kind::Icon) {}
    afxgdi::detail::Picture picture;
};

struct HDC__ : afxgdi::detail::Object {
    HDC__() : Object(afxgdi::detail::Kind::Dc) {}
    ~HDC__() override;
    bool memory = false;
    // A window DC's surface (referenced) and placement; a memory DC draws into its bitmap.
    cairo_surface_t* surface = nullptr;
    POINT origin{0, 0};
    RECT clip{0, 0, 0, 0};
    // Selected objects, each referenced.
    HBITMAP__* bitmap = nullptr;
    HFONT__* font = nullptr;
    HBRUSH__* brush = nullptr;
    int bkMode = OPAQUE;
    COLORREF bkColor = RGB(255, 255, 255);
    COLORREF textColor = RGB(0, 0, 0);
};

namespace afxgdi::detail {

template <class T> T* Register(T* o) {
    RegisterObject(o);
    return o;
}

inline HDC__* AsDc(HDC h) {
    return static_cast<HDC__*>(Lookup(h, Kind::Dc));
}
inline HFONT__* AsFont(const void* h) {
    return static_cast<HFONT__*>(Lookup(h, Kind::Font));
}
inline HBRUSH__* AsBrush(const void* h) {
    return static_cast<HBRUSH__*>(Lookup(h, Kind::Brush));
}
inline HBITMAP__* AsBitmap(const void* h) {
    return static_cast<HBITMAP__*>(Lookup(h, Kind::Bitmap));
}
inline HICON__* AsIcon(const void* h) {
    return static_cast<HICON__*>(Lookup(h, Kind::Icon));
}

// The DC's font, or the default GUI font.
HFONT__* CurrentFont(HDC__* dc);
// Called as a DC or an object handle dies, so the framework's temporary wrappers go too.
void ForgetTemporaries(const void* h);

// Source-over of a straight-alpha colour onto a target pixel, premultiplied arithmetic with each
// product divided by 255 rounded to nearest (as pixman does).
inline uint32_t Div255(uint32_t x) {
    x += 128;
    return (x + (x >> 8)) >> 8;
}
inline uint32_t BlendOver(uint32_t dst, uint32_t srcArgb, bool dstAlpha) {
    uint32_t a = srcArgb >> 24;
    if (a == 0)
        return dst;
    uint32_t sr = Div255(((srcArgb >> 16) & 0xFF) * a), sg = Div255(((srcArgb >> 8) & 0xFF) * a),
             sb = Div255((srcArgb & 0xFF) * a);
    uint32_t ia = 255 - a;
    uint32_t r = sr + Div255(((dst >> 16) & 0xFF) * ia), g = sg + Div255(((dst >> 8) & 0xFF) * ia),
             b = sb + Div255((dst & 0xFF) * ia);
    uint32_t outA = dstAlpha ? a + Div255((dst >> 24) * ia) : 0;
    return (outA << 24) | (r << 16) | (g << 8) | b;
}

// The source pixel a destination pixel i of n takes when m source pixels are resampled to n
// by nearest neighbour with pixel centres at half-integers: floor((2i + 1) m / 2n).
inline int NearestSource(int i, int m, int n) {
    return static_cast<int>((2 * static_cast<int64_t>(i) + 1) * m / (2 * static_cast<int64_t>(n)));
}

} // namespace afxgdi::detail
