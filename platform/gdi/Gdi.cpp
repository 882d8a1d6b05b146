// The handle table, DCs, bitmaps, brushes and the pixel operations.
#include "platform/gdi/GdiObjects.h"

#include <cairo.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace afxgdi::detail {

namespace {

std::mutex g_tableMutex;
std::unordered_map<const void*, Object*>& Table() {
    static auto* table = new std::unordered_map<const void*, Object*>();
    return *table;
}

// cairo's own limit for image surfaces.
constexpr int kMaxSurfaceSide = 32767;

} // namespace

void Ref(Object* o) {
    if (o)
        o->refs.fetch_add(1, std::memory_order_relaxed);
}

void Unref(Object* o) {
    if (o && o->refs.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete o;
}

void RegisterObject(Object* o) {
    std::lock_guard<std::mutex> lock(g_tableMutex);
    Table()[o] = o;
}

Object* Lookup(const void* h) {
    if (!h)
        return nullptr;
    std::lock_guard<std::mutex> lock(g_tableMutex);
    auto it = Table().find(h);
    return it == Table().end() ? nullptr : it->second;
}

Object* Lookup(const void* h, Kind kind) {
    Object* o = Lookup(h);
    return o && o->kind == kind ? o : nullptr;
}

bool Unregister(const void* h) {
    Object* o = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_tableMutex);
        auto it = Table().find(h);
        if (it == Table().end() || it->second->stock)
            return false;
        o = it->second;
        Table().erase(it);
    }
    ForgetTemporaries(h);
    Unref(o);
    return true;
}

bool ViewSurface(cairo_surface_t* s, PixelView& v) {
    if (!s || cairo_surface_status(s) != CAIRO_STATUS_SUCCESS ||
        cairo_surface_get_type(s) != CAIRO_SURFACE_TYPE_IMAGE)
        return false;
    cairo_format_t f = cairo_image_surface_get_format(s);
    if (f != CAIRO_FORMAT_RGB24 && f != CAIRO_FORMAT_ARGB32)
        return false;
    cairo_surface_flush(s);
    v.data = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s));
    v.width = cairo_image_surface_get_width(s);
    v.height = cairo_image_surface_get_height(s);
    v.stride = cairo_image_surface_get_stride(s) / 4;
    v.alpha = f == CAIRO_FORMAT_ARGB32;
    return v.data != nullptr;
}

bool GetTarget(HDC hdc, Target& t) {
    HDC__* dc = AsDc(hdc);
    if (!dc)
        return false;
    if (dc->memory) {
        if (!dc->bitmap)
            return false;
        t.surface = dc->bitmap->surface;
        t.origin = POINT{0, 0};
        t.clip = RECT{0, 0, dc->bitmap->width, dc->bitmap->height};
    } else {
        t.surface = dc->surface;
        t.origin = dc->origin;
        t.clip = dc->clip;
    }
    return ViewSurface(t.surface, t.px);
}

void MarkDirty(const Target& t) {
    cairo_surface_mark_dirty(t.surface);
}

namespace {

cairo_surface_t* NewBlackSurface(int cx, int cy) {
    // cairo zero-fills new image surfaces: black, as a new compatible bitmap is.
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, cx, cy);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return nullptr;
    }
    return s;
}

HBITMAP__* NewBitmap(int cx, int cy) {
    cairo_surface_t* s = NewBlackSurface(cx, cy);
    if (!s)
        return nullptr;
    auto* b = new HBITMAP__();
    b->surface = s;
    b->width = cx;
    b->height = cy;
    return b;
}

template <class T> T* MakeStock(T* o) {
    o->stock = true;
    RegisterObject(o);
    return o;
}

HBITMAP__* StockBitmap() {
    static HBITMAP__* b = MakeStock(NewBitmap(1, 1));
    return b;
}

HBRUSH__* StockBrush(int i) {
    static HBRUSH__* brushes[6] = {};
    static std::once_flag once;
    std::call_once(once, [] {
        const COLORREF colors[5] = {RGB(255, 255, 255), RGB(192, 192, 192), RGB(128, 128, 128),
                                    RGB(64, 64, 64), RGB(0, 0, 0)};
        for (int k = 0; k < 6; ++k) {
            auto* b = new HBRUSH__();
            b->hollow = k == NULL_BRUSH;
            b->color = k < 5 ? colors[k] : 0;
            brushes[k] = MakeStock(b);
        }
    });
    return i >= 0 && i < 6 ? brushes[i] : nullptr;
}

HFONT__* StockFont(int i) {
    auto make = [](LONG height, const char* face) {
        auto* f = new HFONT__();
        f->lf.lfHeight = height;
        f->lf.lfWeight = FW_NORMAL;
        f->lf.lfCharSet = GB2312_CHARSET;
        std::strncpy(f->lf.lfFaceName, face, LF_FACESIZE - 1);
        return MakeStock(f);
    };
    // The faces the target machines' defaults carry (宋体 and System), found under those names
    // or replaced by the installed CJK font.
    static HFONT__* gui = make(-12, "\xCB\xCE\xCC\xE5");
    static HFONT__* system = make(16, "System");
    if (i == DEFAULT_GUI_FONT)
        return gui;
    if (i == SYSTEM_FONT)
        return system;
    return nullptr;
}

template <class T> void Select(T*& slot, T* o) {
    Ref(o);
    T* old = slot;
    slot = o;
    Unref(old);
}

void SelectBitmap(HDC__* dc, HBITMAP__* b) {
    if (dc->bitmap && dc->bitmap->selectedIn == dc)
        dc->bitmap->selectedIn = nullptr;
    if (!b->stock)
        b->selectedIn = dc;
    Select(dc->bitmap, b);
}

HDC__* NewMemoryDc() {
    auto* dc = new HDC__();
    dc->memory = true;
    SelectBitmap(dc, StockBitmap());
    Select(dc->font, StockFont(SYSTEM_FONT));
    Select(dc->brush, StockBrush(WHITE_BRUSH));
    return Register(dc);
}

inline COLORREF ToColorref(uint32_t px) {
    return ((px >> 16) & 0xFF) | (px & 0xFF00) | ((px & 0xFF) << 16);
}
inline uint32_t FromColorref(COLORREF c, bool alpha) {
    return (alpha ? 0xFF000000u : 0u) | (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}

// The logical span starting at `start`, as offsets [i0, i1) into it, intersected with the surface span [lo,
// hi) after shifting by `shift`; as offsets into the logical span.
void ClipSpan(int64_t start, int64_t shift, int64_t lo, int64_t hi, int64_t& i0, int64_t& i1) {
    i0 = std::max<int64_t>(i0, lo - (start + shift));
    i1 = std::min<int64_t>(i1, hi - (start + shift));
}

// Fills the logical rectangle (x, y, w, h) of t with one colour (clipped).
void FillTarget(Target& t, int64_t x, int64_t y, int64_t w, int64_t h, COLORREF c) {
    int64_t i0 = 0, i1 = w, j0 = 0, j1 = h;
    ClipSpan(x, t.origin.x, t.clip.left, t.clip.right, i0, i1);
    ClipSpan(y, t.origin.y, t.clip.top, t.clip.bottom, j0, j1);
    if (i0 >= i1 || j0 >= j1)
        return;
    uint32_t v = FromColorref(c, t.px.alpha);
    for (int64_t j = j0; j < j1; ++j) {
        uint32_t* row = t.px.row(static_cast<int>(y + j + t.origin.y));
        const int64_t x0 = x + t.origin.x;
        std::fill(row + x0 + i0, row + x0 + i1, v);
    }
    MarkDirty(t);
}

void InvertTarget(Target& t, int64_t x, int64_t y, int64_t w, int64_t h) {
    int64_t i0 = 0, i1 = w, j0 = 0, j1 = h;
    ClipSpan(x, t.origin.x, t.clip.left, t.clip.right, i0, i1);
    ClipSpan(y, t.origin.y, t.clip.top, t.clip.bottom, j0, j1);
    for (int64_t j = j0; j < j1; ++j) {
        uint32_t* row = t.px.row(static_cast<int>(y + j + t.origin.y));
        const int64_t x0 = x + t.origin.x;
        for (int64_t i = i0; i < i1; ++i)
            row[x0 + i] ^= 0x00FFFFFFu;
    }
    if (i0 < i1 && j0 < j1)
        MarkDirty(t);
}

// The raster operations that ignore the source.
bool PatternOp(HDC hdc, int x, int y, int w, int h, DWORD rop) {
    Target t;
    if (!GetTarget(hdc, t))
        return false;
    if (w <= 0 || h <= 0)
        return true;
    switch (rop) {
    case BLACKNESS:
        FillTarget(t, x, y, w, h, RGB(0, 0, 0));
        return true;
    case WHITENESS:
        FillTarget(t, x, y, w, h, RGB(255, 255, 255));
        return true;
    case PATCOPY: {
        HBRUSH__* b = AsDc(hdc)->brush;
        if (b && !b->hollow)
            FillTarget(t, x, y, w, h, b->color);
        return true;
    }
    case DSTINVERT:
        InvertTarget(t, x, y, w, h);
        return true;
    default:
        return false;
    }
}

} // namespace

} // namespace afxgdi::detail

using namespace afxgdi::detail;

HBITMAP__::~HBITMAP__() {
    cairo_surface_destroy(surface);
}

HDC__::~HDC__() {
    if (bitmap && bitmap->selectedIn == this)
        bitmap->selectedIn = nullptr;
    Unref(bitmap);
    Unref(font);
    Unref(brush);
    if (surface)
        cairo_surface_destroy(surface);
}

namespace afxgdi {

cairo_surface_t* CreateBackingSurface(int cx, int cy) {
    cx = std::clamp(cx, 1, kMaxSurfaceSide);
    cy = std::clamp(cy, 1, kMaxSurfaceSide);
    return cairo_image_surface_create(CAIRO_FORMAT_RGB24, cx, cy);
}

HDC CreateDCForSurface(cairo_surface_t* s, POINT origin, const RECT* clip) {
    PixelView v;
    if (!ViewSurface(s, v))
        return nullptr;
    RECT c{0, 0, v.width, v.height};
    if (clip) {
        c.left = std::max(c.left, clip->left);
        c.top = std::max(c.top, clip->top);
        c.right = std::min(c.right, clip->right);
        c.bottom = std::min(c.bottom, clip->bottom);
        if (c.right < c.left)
            c.right = c.left;
        if (c.bottom < c.top)
            c.bottom = c.top;
    }
    auto* dc = new HDC__();
    dc->surface = cairo_surface_reference(s);
    dc->origin = origin;
    dc->clip = c;
    Select(dc->font, StockFont(SYSTEM_FONT));
    Select(dc->brush, StockBrush(WHITE_BRUSH));
    return Register(dc);
}

BOOL ReleaseDCForSurface(HDC hdc) {
    HDC__* dc = AsDc(hdc);
    if (!dc || dc->memory)
        return FALSE;
    return Unregister(dc) ? TRUE : FALSE;
}

} // namespace afxgdi

HDC CreateCompatibleDC(HDC hdc) {
    if (hdc && !AsDc(hdc))
        return nullptr;
    return NewMemoryDc();
}

BOOL DeleteDC(HDC hdc) {
    HDC__* dc = AsDc(hdc);
    // A DC made for a window's surface goes back through the kernel, never here.
    if (!dc || !dc->memory)
        return FALSE;
    return Unregister(dc) ? TRUE : FALSE;
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h) {
    HDC__* dc = AsDc(hdc);
    Object* o = Lookup(h);
    if (!dc || !o)
        return nullptr;
    switch (o->kind) {
    case Kind::Bitmap: {
        auto* b = static_cast<HBITMAP__*>(o);
        if (!dc->memory || (b->selectedIn && b->selectedIn != dc))
            return nullptr;
        HBITMAP__* old = dc->bitmap;
        SelectBitmap(dc, b);
        return old;
    }
    case Kind::Font: {
        HFONT__* old = dc->font;
        Select(dc->font, static_cast<HFONT__*>(o));
        return old;
    }
    case Kind::Brush: {
        HBRUSH__* old = dc->brush;
        Select(dc->brush, static_cast<HBRUSH__*>(o));
        return old;
    }
    default:
        return nullptr;
    }
}

HGDIOBJ GetCurrentObject(HDC hdc, UINT type) {
    HDC__* dc = AsDc(hdc);
    if (!dc)
        return nullptr;
    switch (type) {
    case OBJ_BITMAP:
        return dc->bitmap;
    case OBJ_FONT:
        return dc->font;
    case OBJ_BRUSH:
        return dc->brush;
    default:
        return nullptr;
    }
}

BOOL DeleteObject(HGDIOBJ h) {
    Object* o = Lookup(h);
    if (!o || o->kind == Kind::Dc || o->kind == Kind::Icon)
        return FALSE;
    if (o->stock)
        return TRUE;
    return Unregister(h) ? TRUE : FALSE;
}

HGDIOBJ GetStockObject(int i) {
    if (i >= WHITE_BRUSH && i <= NULL_BRUSH)
        return StockBrush(i);
    return StockFont(i);
}

DWORD GetObjectType(HGDIOBJ h) {
    Object* o = Lookup(h);
    if (!o)
        return 0;
    switch (o->kind) {
    case Kind::Bitmap:
        return OBJ_BITMAP;
    case Kind::Brush:
        return OBJ_BRUSH;
    case Kind::Font:
        return OBJ_FONT;
    case Kind::Dc:
        return static_cast<HDC__*>(o)->memory ? OBJ_MEMDC : OBJ_DC;
    default:
        return 0;
    }
}

int GetObjectA(HGDIOBJ h, int c, LPVOID pv) {
    Object* o = Lookup(h);
    if (!o)
        return 0;
    if (o->kind == Kind::Bitmap) {
        if (!pv)
            return sizeof(BITMAP);
        if (c < static_cast<int>(sizeof(BITMAP)))
            return 0;
        auto* b = static_cast<HBITMAP__*>(o);
        BITMAP bm{};
        bm.bmWidth = b->width;
        bm.bmHeight = b->height;
        bm.bmWidthBytes = b->width * 4;
        bm.bmPlanes = 1;
        bm.bmBitsPixel = 32;
        std::memcpy(pv, &bm, sizeof bm);
        return sizeof(BITMAP);
    }
    if (o->kind == Kind::Font) {
        if (!pv)
            return sizeof(LOGFONTA);
        int n = std::min<int>(c, sizeof(LOGFONTA));
        if (n <= 0)
            return 0;
        std::memcpy(pv, &static_cast<HFONT__*>(o)->lf, n);
        return n;
    }
    return 0;
}

HBITMAP CreateCompatibleBitmap(HDC hdc, int cx, int cy) {
    if (hdc && !AsDc(hdc))
        return nullptr;
    if (cx < 0 || cy < 0 || cx > kMaxSurfaceSide || cy > kMaxSurfaceSide)
        return nullptr;
    if (cx == 0 || cy == 0)
        return StockBitmap();
    HBITMAP__* b = NewBitmap(cx, cy);
    return b ? Register(b) : nullptr;
}

HBITMAP CreateBitmap(int nWidth, int nHeight, UINT nPlanes, UINT nBitCount, const void* lpBits) {
    if (nPlanes != 1 || nBitCount != 32 || nWidth < 0 || nHeight < 0 || nWidth > kMaxSurfaceSide ||
        nHeight > kMaxSurfaceSide)
        return nullptr;
    if (nWidth == 0 || nHeight == 0)
        return StockBitmap();
    HBITMAP__* b = NewBitmap(nWidth, nHeight);
    if (!b)
        return nullptr;
    if (lpBits) {
        PixelView v;
        ViewSurface(b->surface, v);
        const auto* src = static_cast<const uint8_t*>(lpBits);
        for (int y = 0; y < nHeight; ++y)
            std::memcpy(v.row(y), src + static_cast<size_t>(y) * nWidth * 4, static_cast<size_t>(nWidth) * 4);
        cairo_surface_mark_dirty(b->surface);
    }
    return Register(b);
}

namespace {

// Copies with nearest-neighbour resampling (an identity copy when the sizes are equal); a
// destination pixel is written only when it lies in the destination clip and its source pixel in
// the source's area.
BOOL CopyPixels(HDC hdcDest, int xd, int yd, int wd, int hd, HDC hdcSrc, int xs, int ys, int ws, int hs) {
    Target d, s;
    if (!GetTarget(hdcDest, d) || !GetTarget(hdcSrc, s))
        return FALSE;
    if (wd <= 0 || hd <= 0 || ws <= 0 || hs <= 0)
        return TRUE;
    int64_t i0 = 0, i1 = wd, j0 = 0, j1 = hd;
    ClipSpan(xd, d.origin.x, d.clip.left, d.clip.right, i0, i1);
    ClipSpan(yd, d.origin.y, d.clip.top, d.clip.bottom, j0, j1);
    if (i0 >= i1 || j0 >= j1)
        return TRUE;
    const int64_t sx0 = int64_t(xs) + s.origin.x, sy0 = int64_t(ys) + s.origin.y;
    const bool same = ws == wd && hs == hd;
    // Source columns per destination column; -1 where the source lies outside its area.
    std::vector<int64_t> cols(static_cast<size_t>(i1 - i0));
    for (int64_t i = i0; i < i1; ++i) {
        int64_t sx = sx0 + (same ? i : NearestSource(static_cast<int>(i), ws, wd));
        cols[static_cast<size_t>(i - i0)] = sx >= s.clip.left && sx < s.clip.right ? sx : -1;
    }
    // Reading from the surface being written: take the source rows first.
    const bool overlap = s.px.data == d.px.data;
    std::vector<uint32_t> scratch;
    const uint32_t fill = d.px.alpha && !s.px.alpha ? 0xFF000000u : 0u;
    auto copyRow = [&](int64_t j, const uint32_t* srcRow) {
        uint32_t* dst = d.px.row(static_cast<int>(yd + j + d.origin.y));
        const int64_t x0 = int64_t(xd) + d.origin.x;
        for (int64_t i = i0; i < i1; ++i) {
            int64_t sx = cols[static_cast<size_t>(i - i0)];
            if (sx >= 0)
                dst[x0 + i] = srcRow[sx] | fill;
        }
    };
    std::vector<std::pair<int64_t, int64_t>> rows; // (destination offset, source row)
    for (int64_t j = j0; j < j1; ++j) {
        int64_t sy = sy0 + (same ? j : NearestSource(static_cast<int>(j), hs, hd));
        if (sy >= s.clip.top && sy < s.clip.bottom)
            rows.emplace_back(j, sy);
    }
    if (overlap) {
        std::vector<std::vector<uint32_t>> saved;
        saved.reserve(rows.size());
        for (auto& r : rows) {
            const uint32_t* src = s.px.row(static_cast<int>(r.second));
            saved.emplace_back(src, src + s.px.width);
        }
        for (size_t k = 0; k < rows.size(); ++k)
            copyRow(rows[k].first, saved[k].data());
    } else {
        for (auto& r : rows)
            copyRow(r.first, s.px.row(static_cast<int>(r.second)));
    }
    MarkDirty(d);
    return TRUE;
}

} // namespace

BOOL BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1, DWORD rop) {
    if (rop != SRCCOPY)
        return PatternOp(hdc, x, y, cx, cy, rop) ? TRUE : FALSE;
    return CopyPixels(hdc, x, y, cx, cy, hdcSrc, x1, y1, cx, cy);
}

BOOL StretchBlt(HDC hdcDest, int xDest, int yDest, int wDest, int hDest, HDC hdcSrc, int xSrc, int ySrc,
                int wSrc, int hSrc, DWORD rop) {
    if (rop != SRCCOPY)
        return PatternOp(hdcDest, xDest, yDest, wDest, hDest, rop) ? TRUE : FALSE;
    return CopyPixels(hdcDest, xDest, yDest, wDest, hDest, hdcSrc, xSrc, ySrc, wSrc, hSrc);
}

BOOL PatBlt(HDC hdc, int x, int y, int w, int h, DWORD rop) {
    return PatternOp(hdc, x, y, w, h, rop) ? TRUE : FALSE;
}

int FillRect(HDC hDC, const RECT* lprc, HBRUSH hbr) {
    Target t;
    HBRUSH__* b = AsBrush(hbr);
    if (!lprc || !b || !GetTarget(hDC, t))
        return 0;
    if (!b->hollow && lprc->right > lprc->left && lprc->bottom > lprc->top)
        FillTarget(t, lprc->left, lprc->top, int64_t(lprc->right) - lprc->left,
                   int64_t(lprc->bottom) - lprc->top, b->color);
    return 1;
}

COLORREF GetPixel(HDC hdc, int x, int y) {
    Target t;
    if (!GetTarget(hdc, t))
        return CLR_INVALID;
    int64_t sx = int64_t(x) + t.origin.x, sy = int64_t(y) + t.origin.y;
    if (sx < t.clip.left || sx >= t.clip.right || sy < t.clip.top || sy >= t.clip.bottom)
        return CLR_INVALID;
    return ToColorref(t.px.row(static_cast<int>(sy))[sx]);
}

COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color) {
    Target t;
    if (!GetTarget(hdc, t))
        return CLR_INVALID;
    int64_t sx = int64_t(x) + t.origin.x, sy = int64_t(y) + t.origin.y;
    if (sx < t.clip.left || sx >= t.clip.right || sy < t.clip.top || sy >= t.clip.bottom)
        return CLR_INVALID;
    t.px.row(static_cast<int>(sy))[sx] = FromColorref(color, t.px.alpha);
    MarkDirty(t);
    return color & 0x00FFFFFFu;
}

HBRUSH CreateSolidBrush(COLORREF color) {
    auto* b = new HBRUSH__();
    b->color = color & 0x00FFFFFFu;
    return Register(b);
}

int SetBkMode(HDC hdc, int mode) {
    HDC__* dc = AsDc(hdc);
    if (!dc || (mode != TRANSPARENT && mode != OPAQUE))
        return 0;
    int old = dc->bkMode;
    dc->bkMode = mode;
    return old;
}

int GetBkMode(HDC hdc) {
    HDC__* dc = AsDc(hdc);
    return dc ? dc->bkMode : 0;
}

COLORREF SetBkColor(HDC hdc, COLORREF color) {
    HDC__* dc = AsDc(hdc);
    if (!dc)
        return CLR_INVALID;
    COLORREF old = dc->bkColor;
    dc->bkColor = color & 0x00FFFFFFu;
    return old;
}

COLORREF GetBkColor(HDC hdc) {
    HDC__* dc = AsDc(hdc);
    return dc ? dc->bkColor : CLR_INVALID;
}

COLORREF SetTextColor(HDC hdc, COLORREF color) {
    HDC__* dc = AsDc(hdc);
    if (!dc)
        return CLR_INVALID;
    COLORREF old = dc->textColor;
    dc->textColor = color & 0x00FFFFFFu;
    return old;
}

COLORREF GetTextColor(HDC hdc) {
    HDC__* dc = AsDc(hdc);
    return dc ? dc->textColor : CLR_INVALID;
}

namespace afxgdi::detail {

HFONT__* CurrentFont(HDC__* dc) {
    return dc && dc->font ? dc->font : static_cast<HFONT__*>(GetStockObject(DEFAULT_GUI_FONT));
}

} // namespace afxgdi::detail

#if defined(__SANITIZE_THREAD__)
// The sanitizers' default suppressions live here, in the one source every user of the drawing
// layer links, so that every program and test that draws gets them.
//
// glib, gdk-pixbuf, fontconfig, harfbuzz and pango are not built for the thread checker, so it
// cannot see their own locks and atomics (pango starts a thread of its own to load fontconfig).
// Reports inside them say nothing about this layer's locking, which stays checked.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libglib-2.0.so\n"
           "called_from_lib:libgobject-2.0.so\n"
           "called_from_lib:libfontconfig.so\n"
           "called_from_lib:libharfbuzz.so\n"
           "called_from_lib:libpango-1.0.so\n"
           "called_from_lib:libpangoft2-1.0.so\n"
           "called_from_lib:libpangocairo-1.0.so\n"
           "called_from_lib:libcairo.so\n"
           "called_from_lib:libfreetype.so\n"
           "called_from_lib:libgdk_pixbuf-2.0.so\n"
           "called_from_lib:libpng16.so\n"
           "called_from_lib:libpixbufloader\n"
           "race:libglib-2.0.so\n"
           "race:libfontconfig.so\n"
           "race:libharfbuzz.so\n"
           "race:libpango\n"
           "race:libcairo.so\n"
           "race:libfreetype.so\n"
           "race:libgdk_pixbuf-2.0.so\n"
           "mutex:libgdk_pixbuf-2.0.so\n"
           "mutex:libglib-2.0.so\n";
}
#endif

#if defined(__SANITIZE_ADDRESS__)
// fontconfig keeps its pattern caches for the life of the process and frees them in no exit
// path; the leak checker would report them at every exit of a program that drew text.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
#endif
