// DCs over surfaces, memory DCs and bitmaps, and the exact pixel operations.
#include "GdiTestUtil.h"

#include "platform/gdi/AfxDC.h"

#include <gtest/gtest.h>

#include <cairo.h>

namespace {

const COLORREF kUntouched = RGB(1, 2, 3);

TEST(GdiBitmap, CompatibleBitmapIsOpaqueBlackAtCreation) {
    MemDC dc(5, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            ASSERT_EQ(GetPixel(dc, x, y), RGB(0, 0, 0)) << x << "," << y;
    BITMAP bm{};
    ASSERT_EQ(GetObject(dc.bitmap(), sizeof bm, &bm), static_cast<int>(sizeof bm));
    EXPECT_EQ(bm.bmWidth, 5);
    EXPECT_EQ(bm.bmHeight, 4);
    EXPECT_EQ(bm.bmBitsPixel, 32);
    // Outside the bitmap there is no pixel.
    EXPECT_EQ(GetPixel(dc, 5, 0), CLR_INVALID);
    EXPECT_EQ(GetPixel(dc, 0, -1), CLR_INVALID);
}

TEST(GdiBitmap, MemoryDcStartsWithTheOnePixelStockBitmap) {
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bmp = CreateCompatibleBitmap(nullptr, 3, 3);
    HGDIOBJ stock = SelectObject(dc, bmp);
    ASSERT_NE(stock, nullptr);
    BITMAP bm{};
    GetObject(stock, sizeof bm, &bm);
    EXPECT_EQ(bm.bmWidth, 1);
    EXPECT_EQ(bm.bmHeight, 1);
    // Selecting the old bitmap back gives ours.
    EXPECT_EQ(SelectObject(dc, stock), bmp);
    EXPECT_TRUE(DeleteObject(bmp));
    EXPECT_TRUE(DeleteDC(dc));
}

TEST(GdiBitmap, CreateBitmapTakesThirtyTwoBitRowsFromTheTop) {
    const uint32_t bits[2 * 2] = {0x00102030u, 0x00405060u, 0x00708090u, 0x00A0B0C0u};
    HBITMAP bmp = CreateBitmap(2, 2, 1, 32, bits);
    ASSERT_NE(bmp, nullptr);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bmp);
    EXPECT_EQ(GetPixel(dc, 0, 0), RGB(0x10, 0x20, 0x30));
    EXPECT_EQ(GetPixel(dc, 1, 0), RGB(0x40, 0x50, 0x60));
    EXPECT_EQ(GetPixel(dc, 0, 1), RGB(0x70, 0x80, 0x90));
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(bmp);
    // Only the one format is made.
    EXPECT_EQ(CreateBitmap(2, 2, 1, 8, nullptr), nullptr);
    EXPECT_EQ(CreateBitmap(2, 2, 2, 32, nullptr), nullptr);
}

TEST(GdiBitmap, BitmapIsSelectedIntoOneDcAtATime) {
    HDC a = CreateCompatibleDC(nullptr), b = CreateCompatibleDC(nullptr);
    HBITMAP bmp = CreateCompatibleBitmap(nullptr, 2, 2);
    ASSERT_NE(SelectObject(a, bmp), nullptr);
    EXPECT_EQ(SelectObject(b, bmp), nullptr);
    DeleteDC(a);
    // Once the first DC is gone the bitmap is free again.
    EXPECT_NE(SelectObject(b, bmp), nullptr);
    DeleteDC(b);
    DeleteObject(bmp);
}

TEST(GdiBitmap, DeletingASelectedBitmapKillsTheHandleButNotThePixels) {
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bmp = CreateCompatibleBitmap(nullptr, 2, 2);
    SelectObject(dc, bmp);
    SetPixel(dc, 1, 1, RGB(9, 8, 7));
    EXPECT_TRUE(DeleteObject(bmp));
    EXPECT_EQ(GetObjectType(bmp), 0u);
    EXPECT_FALSE(DeleteObject(bmp));
    // The DC still draws into it until it lets go.
    EXPECT_EQ(GetPixel(dc, 1, 1), RGB(9, 8, 7));
    SetPixel(dc, 0, 0, RGB(1, 1, 1));
    EXPECT_EQ(GetPixel(dc, 0, 0), RGB(1, 1, 1));
    EXPECT_TRUE(DeleteDC(dc));
}

TEST(GdiBitmap, HandlesOfTheWrongKindAreRefused) {
    HDC dc = CreateCompatibleDC(nullptr);
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    int notAHandle = 0;
    EXPECT_EQ(SelectObject(dc, &notAHandle), nullptr);
    EXPECT_EQ(SelectObject(reinterpret_cast<HDC>(brush), brush), nullptr);
    EXPECT_FALSE(DeleteDC(reinterpret_cast<HDC>(brush)));
    EXPECT_FALSE(DeleteObject(dc)); // a DC goes with DeleteDC
    EXPECT_EQ(GetObjectType(dc), static_cast<DWORD>(OBJ_MEMDC));
    // Stock objects survive DeleteObject.
    HGDIOBJ font = GetStockObject(DEFAULT_GUI_FONT);
    EXPECT_TRUE(DeleteObject(font));
    EXPECT_EQ(GetObjectType(font), static_cast<DWORD>(OBJ_FONT));
    DeleteObject(brush);
    DeleteDC(dc);
}

// BitBlt of a 4 by 4 source of marked pixels into a 6 by 6 destination. Every pixel inside
// `changed` takes the source pixel at its own place plus `shift`; every other pixel is untouched.
struct BlitCase {
    const char* name;
    int x, y, cx, cy, xs, ys;
    RECT changed;
    POINT shift;
};

const BlitCase kBlitCases[] = {
    {"Inside", 1, 1, 2, 2, 0, 0, {1, 1, 3, 3}, {-1, -1}},
    {"DestinationOffLeft", -1, 0, 3, 2, 0, 0, {0, 0, 2, 2}, {1, 0}},
    {"DestinationOffTop", 0, -2, 2, 3, 0, 0, {0, 0, 2, 1}, {0, 2}},
    {"DestinationOffRight", 5, 0, 3, 1, 0, 0, {5, 0, 6, 1}, {-5, 0}},
    {"DestinationOffBottom", 0, 4, 1, 4, 0, 0, {0, 4, 1, 6}, {0, -4}},
    {"SourceOffLeft", 0, 0, 3, 1, -1, 0, {1, 0, 3, 1}, {-1, 0}},
    {"SourceOffTop", 0, 0, 1, 3, 0, -2, {0, 2, 1, 3}, {0, -2}},
    {"SourceOffRight", 0, 0, 3, 1, 2, 0, {0, 0, 2, 1}, {2, 0}},
    {"SourceOffBottom", 0, 0, 1, 3, 0, 3, {0, 0, 1, 1}, {0, 3}},
    {"BothEndsAtOnce", -1, -1, 10, 10, -2, 1, {1, 0, 5, 2}, {-1, 2}},
    {"LargerThanBoth", -5, -5, 100, 100, -5, -5, {0, 0, 4, 4}, {0, 0}},
    {"WhollyOutside", 7, 0, 2, 2, 0, 0, {0, 0, 0, 0}, {0, 0}},
    {"SourceWhollyOutside", 0, 0, 2, 2, 4, 0, {0, 0, 0, 0}, {0, 0}},
    {"ZeroWidth", 0, 0, 0, 3, 0, 0, {0, 0, 0, 0}, {0, 0}},
    {"NegativeHeight", 2, 2, 2, -2, 0, 0, {0, 0, 0, 0}, {0, 0}},
};

class BitBltClipping : public ::testing::TestWithParam<BlitCase> {};

TEST_P(BitBltClipping, CopiesExactlyTheOverlapOfBothSurfaces) {
    const BlitCase& c = GetParam();
    MemDC src(4, 4), dst(6, 6);
    Paint(src, 4, 4, Marked);
    dst.Fill(kUntouched);
    ASSERT_TRUE(BitBlt(dst, c.x, c.y, c.cx, c.cy, src, c.xs, c.ys, SRCCOPY));
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) {
            bool in =
                x >= c.changed.left && x < c.changed.right && y >= c.changed.top && y < c.changed.bottom;
            COLORREF want = in ? Marked(x + c.shift.x, y + c.shift.y) : kUntouched;
            ASSERT_EQ(GetPixel(dst, x, y), want) << "at " << x << "," << y;
        }
}

INSTANTIATE_TEST_SUITE_P(Edges, BitBltClipping, ::testing::ValuesIn(kBlitCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(GdiBlit, OverlappingCopyWithinOneBitmapReadsTheSourceBeforeWriting) {
    MemDC dc(5, 2);
    Paint(dc, 5, 2, Marked);
    // Shift right by one, the way a scroll moves pixels onto their neighbours.
    ASSERT_TRUE(BitBlt(dc, 1, 0, 4, 2, dc, 0, 0, SRCCOPY));
    for (int y = 0; y < 2; ++y) {
        EXPECT_EQ(GetPixel(dc, 0, y), Marked(0, y));
        for (int x = 1; x < 5; ++x)
            EXPECT_EQ(GetPixel(dc, x, y), Marked(x - 1, y)) << x << "," << y;
    }
}

TEST(GdiBlit, StretchBltResamplesByNearestPixelCentre) {
    MemDC src(3, 7), dst(7, 3);
    Paint(src, 3, 7, Marked);
    dst.Fill(kUntouched);
    // Width 3 stretched to 7 and height 7 shrunk to 3.
    ASSERT_TRUE(StretchBlt(dst, 0, 0, 7, 3, src, 0, 0, 3, 7, SRCCOPY));
    const int cols[7] = {0, 0, 1, 1, 1, 2, 2};
    const int rows[3] = {1, 3, 5};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 7; ++x)
            EXPECT_EQ(GetPixel(dst, x, y), Marked(cols[x], rows[y])) << x << "," << y;
}

TEST(GdiBlit, PatternOperationsAndFills) {
    MemDC dc(4, 4);
    dc.Fill(kUntouched);
    EXPECT_TRUE(PatBlt(dc, 0, 0, 2, 2, WHITENESS));
    EXPECT_TRUE(PatBlt(dc, 1, 1, 2, 2, BLACKNESS));
    EXPECT_TRUE(PatBlt(dc, 3, 3, 0, 1, WHITENESS)); // empty: nothing
    EXPECT_EQ(GetPixel(dc, 0, 0), RGB(255, 255, 255));
    EXPECT_EQ(GetPixel(dc, 1, 1), RGB(0, 0, 0));
    EXPECT_EQ(GetPixel(dc, 2, 2), RGB(0, 0, 0));
    EXPECT_EQ(GetPixel(dc, 3, 3), kUntouched);
    EXPECT_EQ(GetPixel(dc, 2, 0), kUntouched);

    HBRUSH red = CreateSolidBrush(RGB(200, 0, 0));
    RECT inverted{3, 3, 1, 1};
    EXPECT_TRUE(FillRect(dc, &inverted, red));
    EXPECT_EQ(GetPixel(dc, 2, 2), RGB(0, 0, 0));
    RECT rc{2, 0, 10, 1};
    EXPECT_TRUE(FillRect(dc, &rc, red));
    EXPECT_EQ(GetPixel(dc, 3, 0), RGB(200, 0, 0));
    EXPECT_EQ(GetPixel(dc, 3, 1), kUntouched);
    // PATCOPY uses the selected brush.
    HGDIOBJ old = SelectObject(dc, red);
    EXPECT_TRUE(PatBlt(dc, 0, 3, 1, 1, PATCOPY));
    EXPECT_EQ(GetPixel(dc, 0, 3), RGB(200, 0, 0));
    SelectObject(dc, old);
    DeleteObject(red);
}

TEST(GdiSurfaceDc, OriginAndClipPlaceEveryOperation) {
    cairo_surface_t* s = afxgdi::CreateBackingSurface(8, 6);
    ASSERT_EQ(cairo_image_surface_get_format(s), CAIRO_FORMAT_RGB24);
    HDC whole = afxgdi::CreateDCForSurface(s, POINT{0, 0}, nullptr);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x)
            ASSERT_EQ(GetPixel(whole, x, y), RGB(0, 0, 0));

    // A child at (2,1) of which only surface pixels (3,1)-(6,4) may be painted.
    RECT clip{3, 1, 6, 4};
    HDC child = afxgdi::CreateDCForSurface(s, POINT{2, 1}, &clip);
    CDC* dc = CDC::FromHandle(child);
    dc->FillSolidRect(-10, -10, 100, 100, RGB(0, 0, 255));
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) {
            bool in = x >= 3 && x < 6 && y >= 1 && y < 4;
            ASSERT_EQ(GetPixel(whole, x, y), in ? RGB(0, 0, 255) : RGB(0, 0, 0)) << x << "," << y;
        }
    SetPixel(child, 1, 0, RGB(7, 7, 7));
    EXPECT_EQ(GetPixel(whole, 3, 1), RGB(7, 7, 7));
    EXPECT_EQ(GetPixel(child, 1, 0), RGB(7, 7, 7));
    EXPECT_EQ(GetPixel(child, 0, 0), CLR_INVALID); // clipped away
    // FillSolidRect leaves its colour as the background colour.
    EXPECT_EQ(dc->GetBkColor(), RGB(0, 0, 255));

    EXPECT_FALSE(DeleteDC(child)); // goes back through ReleaseDCForSurface only
    EXPECT_TRUE(afxgdi::ReleaseDCForSurface(child));
    EXPECT_FALSE(afxgdi::ReleaseDCForSurface(child));
    HDC mem = CreateCompatibleDC(whole);
    EXPECT_FALSE(afxgdi::ReleaseDCForSurface(mem));
    DeleteDC(mem);
    EXPECT_TRUE(afxgdi::ReleaseDCForSurface(whole));
    // The DCs held their own references: the surface is still ours to use and free.
    EXPECT_EQ(cairo_surface_status(s), CAIRO_STATUS_SUCCESS);
    cairo_surface_destroy(s);
}

TEST(GdiSurfaceDc, BlitFromAMemoryDcIntoAWindowSurface) {
    cairo_surface_t* s = afxgdi::CreateBackingSurface(6, 6);
    RECT clip{0, 0, 4, 6};
    HDC win = afxgdi::CreateDCForSurface(s, POINT{1, 1}, &clip);
    MemDC mem(4, 4);
    Paint(mem, 4, 4, Marked);
    CDC* dc = CDC::FromHandle(win);
    CDC* src = CDC::FromHandle(mem);
    ASSERT_TRUE(dc->BitBlt(0, 0, 4, 4, src, 0, 0, SRCCOPY));
    HDC whole = afxgdi::CreateDCForSurface(s, POINT{0, 0}, nullptr);
    EXPECT_EQ(GetPixel(whole, 0, 0), RGB(0, 0, 0));
    EXPECT_EQ(GetPixel(whole, 1, 1), Marked(0, 0));
    EXPECT_EQ(GetPixel(whole, 3, 4), Marked(2, 3));
    EXPECT_EQ(GetPixel(whole, 4, 1), RGB(0, 0, 0)); // beyond the clip's right
    afxgdi::ReleaseDCForSurface(whole);
    afxgdi::ReleaseDCForSurface(win);
    cairo_surface_destroy(s);
}

TEST(GdiSurfaceDc, BackingSurfaceIsAtLeastOnePixel) {
    cairo_surface_t* s = afxgdi::CreateBackingSurface(0, -4);
    EXPECT_EQ(cairo_image_surface_get_width(s), 1);
    EXPECT_EQ(cairo_image_surface_get_height(s), 1);
    cairo_surface_destroy(s);
}

} // namespace
