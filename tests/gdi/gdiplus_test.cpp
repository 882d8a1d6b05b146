// GDI+ images from files and their drawing: resampling, blending, stored pixel values, failures.
#include "GdiTestUtil.h"
#include "PngFixture.h"

#include "platform/gdi/AfxDC.h"
#include "platform/gdi/GdiPlus.h"
#include "platform/kernel/CodePage.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <cairo.h>

#include <filesystem>

namespace {

using namespace Gdiplus;
using pngfixture::Png;

const COLORREF kUntouched = RGB(1, 2, 3);

uint32_t Opaque(COLORREF c) {
    return 0xFF000000u | (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}

std::vector<uint32_t> MarkedPixels(int w, int h) {
    std::vector<uint32_t> px;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            px.push_back(Opaque(Marked(x, y)));
    return px;
}

// The program's path to a file: Windows form, ANSI code page, widened to UTF-16.
std::u16string WidePath(const std::string& linuxPath) {
    return AfxAnsiToUtf16(AfxUnmapPath(linuxPath));
}

class GdiPlusFiles : public ::testing::Test {
protected:
    std::u16string Write(const std::string& name, const std::string& bytes) {
        WriteFileBytes(dir.sub(name), bytes);
        return WidePath(dir.sub(name));
    }
    TempDir dir;
};

// Draws (sx, sy, sw, sh) of a picture of marked pixels into (1, 1, dw, dh) of a DC one pixel
// larger on every side, with the program's modes. Destination pixel (1 + i, 1 + j) must show
// source pixel (cols[i], rows[j]), -1 meaning untouched; the border is always untouched.
struct StretchCase {
    const char* name;
    int imageW, imageH;
    int sx, sy, sw, sh;
    int dw, dh;
    std::vector<int> cols, rows;
};

const StretchCase kStretchCases[] = {
    {"EqualSizesCopy", 4, 3, 0, 0, 4, 3, 4, 3, {0, 1, 2, 3}, {0, 1, 2}},
    {"ThreeStretchedToSeven", 3, 1, 0, 0, 3, 1, 7, 1, {0, 0, 1, 1, 1, 2, 2}, {0}},
    {"SevenShrunkToThree", 7, 1, 0, 0, 7, 1, 3, 1, {1, 3, 5}, {0}},
    {"RowsLikewise", 1, 7, 0, 0, 1, 3, 1, 7, {0}, {0, 0, 1, 1, 1, 2, 2}},
    {"RowsShrunk", 1, 7, 0, 0, 1, 7, 1, 3, {0}, {1, 3, 5}},
    {"FrameOfASpriteSheet", 8, 2, 4, 1, 2, 1, 2, 1, {4, 5}, {1}},
    {"StretchedFromAnOffset", 6, 1, 2, 0, 3, 1, 7, 1, {2, 2, 3, 3, 3, 4, 4}, {0}},
    {"SourcePastTheRightEdge", 4, 1, 2, 0, 4, 1, 4, 1, {2, 3, -1, -1}, {0}},
    {"SourceBeforeTheLeftEdge", 4, 2, -1, -1, 3, 2, 3, 2, {-1, 0, 1}, {-1, 0}},
    {"EmptySourceDrawsNothing", 4, 1, 0, 0, 0, 1, 4, 1, {-1, -1, -1, -1}, {0}},
};

class DrawImageResampling : public GdiPlusFiles, public ::testing::WithParamInterface<StretchCase> {};

TEST_P(DrawImageResampling, EachDestinationPixelTakesTheNearestSourceCentre) {
    const StretchCase& c = GetParam();
    Image image(Write("marked.png", Png(c.imageW, c.imageH, MarkedPixels(c.imageW, c.imageH))).c_str());
    ASSERT_EQ(image.GetLastStatus(), Ok);
    MemDC dc(c.dw + 2, c.dh + 2);
    dc.Fill(kUntouched);
    Graphics g(dc);
    g.SetInterpolationMode(InterpolationModeNearestNeighbor);
    g.SetPixelOffsetMode(PixelOffsetModeHighQuality);
    g.DrawImage(&image, Rect(1, 1, c.dw, c.dh), c.sx, c.sy, c.sw, c.sh, UnitPixel);
    for (int y = 0; y < c.dh + 2; ++y)
        for (int x = 0; x < c.dw + 2; ++x) {
            bool inside = x >= 1 && y >= 1 && x <= c.dw && y <= c.dh;
            int col = inside ? c.cols[x - 1] : -1, row = inside ? c.rows[y - 1] : -1;
            COLORREF want = col >= 0 && row >= 0 ? Marked(col, row) : kUntouched;
            ASSERT_EQ(GetPixel(dc, x, y), want) << "at " << x << "," << y;
        }
}

INSTANTIATE_TEST_SUITE_P(Tables, DrawImageResampling, ::testing::ValuesIn(kStretchCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(GdiPlusFiles, TheOtherDrawImageFormsPlaceTheSameWay) {
    Image image(Write("m.png", Png(3, 2, MarkedPixels(3, 2))).c_str());
    MemDC dc(8, 8);
    dc.Fill(kUntouched);
    Graphics g(dc);
    g.DrawImage(&image, 0, 0);                              // own size
    g.DrawImage(&image, 0, 2, 6, 2);                        // scaled whole
    g.DrawImage(&image, 4, 5, 1, 1, 2, 1, UnitPixel);       // a part at its own size
    g.DrawImage(&image, 0, 6, 6, 2, 0, 0, 3, 2, UnitPixel); // ten-argument form
    EXPECT_EQ(GetPixel(dc, 2, 1), Marked(2, 1));
    EXPECT_EQ(GetPixel(dc, 3, 0), kUntouched);
    EXPECT_EQ(GetPixel(dc, 5, 3), Marked(2, 1));
    EXPECT_EQ(GetPixel(dc, 4, 5), Marked(1, 1));
    EXPECT_EQ(GetPixel(dc, 6, 5), kUntouched);
    EXPECT_EQ(GetPixel(dc, 1, 7), Marked(0, 1));
    // Units other than pixels are refused.
    EXPECT_NE(g.DrawImage(&image, 0, 0, 0, 0, 1, 1, UnitPoint), Ok);
}

TEST_F(GdiPlusFiles, TranslucentPixelsBlendSourceOverWithPremultipliedArithmetic) {
    // Each product is divided by 255 and rounded to nearest, once for the premultiplied source
    // and once for the destination's share: 201 at alpha 128 over 202 gives 101 + 101 = 202,
    // where one rounding of the exact sum would give 201.
    const std::vector<uint32_t> px = {0x80C9FF00u, 0x4DC86432u, 0x00FFFFFFu, 0xFF123456u};
    Image image(Write("alpha.png", Png(4, 1, px)).c_str());
    MemDC dc(4, 1);
    SetPixel(dc, 0, 0, RGB(202, 0, 255));
    SetPixel(dc, 1, 0, RGB(10, 20, 240));
    SetPixel(dc, 2, 0, RGB(9, 9, 9));
    SetPixel(dc, 3, 0, RGB(9, 9, 9));
    Graphics g(dc);
    ASSERT_EQ(g.DrawImage(&image, 0, 0), Ok);
    EXPECT_EQ(GetPixel(dc, 0, 0), RGB(202, 128, 127));
    EXPECT_EQ(GetPixel(dc, 1, 0), RGB(67, 44, 183));
    EXPECT_EQ(GetPixel(dc, 2, 0), RGB(9, 9, 9));          // fully transparent: untouched
    EXPECT_EQ(GetPixel(dc, 3, 0), RGB(0x12, 0x34, 0x56)); // opaque: replaced
}

TEST_F(GdiPlusFiles, BlendingAgreesWithCairoForEveryAlpha) {
    // cairo, given the same premultiplied source, is the reference for source-over.
    std::vector<uint32_t> px;
    for (int a = 0; a < 256; ++a)
        px.push_back((uint32_t(a) << 24) | ((a * 7 % 256) << 16) | ((255 - a) << 8) | (a * 13 % 256));
    Image image(Write("ramp.png", Png(256, 1, px)).c_str());
    MemDC dc(256, 1);
    for (int x = 0; x < 256; ++x)
        SetPixel(dc, x, 0, RGB(x, 255 - x, x * 3 % 256));
    cairo_surface_t* ref = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 256, 1);
    cairo_surface_t* src = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 256, 1);
    auto* refPx = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(ref));
    auto* srcPx = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(src));
    auto premul = [](uint32_t c, uint32_t a) {
        uint32_t t = c * a + 128;
        return (t + (t >> 8)) >> 8;
    };
    for (int x = 0; x < 256; ++x) {
        COLORREF d = GetPixel(dc, x, 0);
        refPx[x] = (GetRValue(d) << 16) | (GetGValue(d) << 8) | GetBValue(d);
        uint32_t p = px[x], a = p >> 24;
        srcPx[x] = (a << 24) | (premul((p >> 16) & 0xFF, a) << 16) | (premul((p >> 8) & 0xFF, a) << 8) |
                   premul(p & 0xFF, a);
    }
    cairo_surface_mark_dirty(ref);
    cairo_surface_mark_dirty(src);
    cairo_t* cr = cairo_create(ref);
    cairo_set_source_surface(cr, src, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(ref);

    Graphics g(dc);
    g.DrawImage(&image, 0, 0);
    for (int x = 0; x < 256; ++x) {
        uint32_t r = refPx[x];
        EXPECT_EQ(GetPixel(dc, x, 0), RGB((r >> 16) & 0xFF, (r >> 8) & 0xFF, r & 0xFF)) << "alpha " << x;
    }
    cairo_surface_destroy(src);
    cairo_surface_destroy(ref);
}

TEST_F(GdiPlusFiles, GammaChunkDoesNotChangeTheStoredValues) {
    const std::vector<uint32_t> px = {0xFF0A80F0u, 0xFF404040u, 0xFFC0C0C0u};
    // A gamma of 0.1 would turn every mid value nearly white or black if it were applied.
    Image image(Write("gamma.png", Png(3, 1, px, pngfixture::Gamma(10000))).c_str());
    ASSERT_EQ(image.GetLastStatus(), Ok);
    MemDC dc(3, 1);
    Graphics g(dc);
    g.DrawImage(&image, 0, 0);
    EXPECT_EQ(GetPixel(dc, 0, 0), RGB(0x0A, 0x80, 0xF0));
    EXPECT_EQ(GetPixel(dc, 1, 0), RGB(0x40, 0x40, 0x40));
    EXPECT_EQ(GetPixel(dc, 2, 0), RGB(0xC0, 0xC0, 0xC0));
}

struct FailureCase {
    const char* name;
    std::string bytes; // written as "bad.png" unless empty
    const char* path;  // relative to the folder, or absolute when it starts with a drive letter
};

class FailedImages : public GdiPlusFiles, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailedImages, AreZeroByZeroAndDrawNothing) {
    const FailureCase& c = GetParam();
    if (!c.bytes.empty())
        WriteFileBytes(dir.sub("bad.png"), c.bytes);
    std::filesystem::create_directory(dir.sub("folder.png"));
    std::u16string path = c.path[1] == ':' ? AfxAnsiToUtf16(c.path) : WidePath(dir.sub(c.path));
    Image image(path.c_str());
    EXPECT_EQ(image.GetWidth(), 0u);
    EXPECT_EQ(image.GetHeight(), 0u);
    EXPECT_NE(image.GetLastStatus(), Ok);
    MemDC dc(4, 4);
    dc.Fill(kUntouched);
    Graphics g(dc);
    g.DrawImage(&image, Rect(0, 0, 4, 4), 0, 0, 4, 4, UnitPixel);
    g.DrawImage(&image, 0, 0);
    EXPECT_EQ(FindInk(dc, 4, 4, kUntouched).count, 0);
}

const std::string kGoodPng = Png(2, 2, {});

INSTANTIATE_TEST_SUITE_P(Cases, FailedImages,
                         ::testing::Values(FailureCase{"MissingFile", "", "none.png"},
                                           FailureCase{"NotAnImage", "hello", "bad.png"},
                                           FailureCase{"TruncatedPng",
                                                       kGoodPng.substr(0, kGoodPng.size() - 30), "bad.png"},
                                           FailureCase{"Folder", "", "folder.png"},
                                           FailureCase{"DriveLetterPath", "", "C:\\skin\\a.png"},
                                           FailureCase{"WiderThanTheLimit", Png(8193, 1, {}), "bad.png"},
                                           FailureCase{"TallerThanTheLimit", Png(1, 8193, {}), "bad.png"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(GdiPlusFiles, PicturesUpToTheLimitLoad) {
    Image image(Write("wide.png", Png(8192, 1, {})).c_str());
    EXPECT_EQ(image.GetLastStatus(), Ok);
    EXPECT_EQ(image.GetWidth(), 8192u);
    EXPECT_EQ(image.GetHeight(), 1u);
}

TEST_F(GdiPlusFiles, PathsAreFoundWithoutRegardToCaseAndInGbkFolders) {
    // A folder named "杂志" and a file stored as "Ico.PNG", asked for as "ico.png".
    std::string folder = dir.sub("\xE6\x9D\x82\xE5\xBF\x97");
    std::filesystem::create_directory(folder);
    WriteFileBytes(folder + "/Ico.PNG", Png(5, 3, {}));
    std::string win = AfxUnmapPath(folder) + "\\ico.png";
    EXPECT_NE(win.find("\xD4\xD3\xD6\xBE"), std::string::npos);
    Bitmap* image = Bitmap::FromFile(AfxAnsiToUtf16(win).c_str());
    EXPECT_EQ(image->GetLastStatus(), Ok);
    EXPECT_EQ(image->GetWidth(), 5u);
    EXPECT_EQ(image->GetHeight(), 3u);
    delete image;
}

TEST(GdiPlusStartup, GivesATokenAndRefusesMissingInput) {
    ULONG_PTR token = 0;
    GdiplusStartupInput input;
    GdiplusStartupOutput output{};
    EXPECT_EQ(GdiplusStartup(&token, &input, &output), Ok);
    EXPECT_NE(token, 0u);
    GdiplusShutdown(token);
    EXPECT_EQ(GdiplusStartup(&token, nullptr, nullptr), InvalidParameter);
    input.GdiplusVersion = 9;
    EXPECT_EQ(GdiplusStartup(&token, &input, nullptr), UnsupportedGdiplusVersion);
}

TEST(GdiPlusGraphics, RefusesADeadDcAndUnknownModes) {
    HDC dc = CreateCompatibleDC(nullptr);
    DeleteDC(dc);
    Graphics dead(dc);
    EXPECT_NE(dead.GetLastStatus(), Ok);
    MemDC live(2, 2);
    Graphics g(live);
    EXPECT_EQ(g.SetInterpolationMode(InterpolationModeNearestNeighbor), Ok);
    EXPECT_EQ(g.SetPixelOffsetMode(PixelOffsetModeHighQuality), Ok);
    EXPECT_EQ(g.SetInterpolationMode(static_cast<InterpolationMode>(42)), InvalidParameter);
    EXPECT_EQ(g.GetInterpolationMode(), InterpolationModeNearestNeighbor);
    EXPECT_EQ(g.GetPixelOffsetMode(), PixelOffsetModeHighQuality);
}

} // namespace

namespace {

// A frame drawn the way the skinned windows draw theirs (a nine-slice image stretched by
// nearest neighbour into a memory DC, copied out with BitBlt), with CJK text over it, written
// to the build folder to be looked at.
TEST_F(GdiPlusFiles, SkinnedPictureComposesAndIsWrittenForInspection) {
    // 6 by 6: a 2-pixel dark border around a light middle, a translucent white dot in it.
    std::vector<uint32_t> px(36, 0xFF203040u);
    for (int y = 2; y < 4; ++y)
        for (int x = 2; x < 4; ++x)
            px[y * 6 + x] = 0xFFD0E0F0u;
    px[2 * 6 + 2] = 0x80FFFFFFu;
    Image edge(Write("edge.png", Png(6, 6, px)).c_str());
    MemDC cache(120, 40);
    Graphics g(cache);
    g.SetInterpolationMode(InterpolationModeNearestNeighbor);
    g.SetPixelOffsetMode(PixelOffsetModeHighQuality);
    g.DrawImage(&edge, Rect(0, 0, 120, 40), 0, 0, 6, 6, UnitPixel);

    MemDC screen(124, 44);
    screen.Fill(RGB(255, 255, 255));
    BitBlt(screen, 2, 2, 120, 40, cache, 0, 0, SRCCOPY);
    HFONT font =
        CreateFontA(-14, 0, 0, 0, FW_NORMAL, 0, 0, 0, GB2312_CHARSET, 0, 0, 0, 0, "\xCB\xCE\xCC\xE5");
    HGDIOBJ old = SelectObject(screen, font);
    SetBkMode(screen, TRANSPARENT);
    SetTextColor(screen, RGB(200, 0, 0));
    RECT rc{16, 16, 108, 30};
    DrawTextA(screen, "\xD4\xD3\xD6\xBE Magazine shelf", -1, &rc,
              DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
    SelectObject(screen, old);
    DeleteObject(font);

    // Each source pixel became 20 by about 6.7 pixels; the dot was blended over the cache's
    // black (255 at alpha 128 gives 128) and BitBlt copied the result as it was.
    EXPECT_EQ(GetPixel(screen, 0, 0), RGB(255, 255, 255));
    EXPECT_EQ(GetPixel(screen, 2, 2), RGB(0x20, 0x30, 0x40));
    EXPECT_EQ(GetPixel(screen, 2 + 39, 2 + 13), RGB(0x20, 0x30, 0x40));
    EXPECT_EQ(GetPixel(screen, 2 + 41, 2 + 14), RGB(128, 128, 128));
    EXPECT_EQ(GetPixel(screen, 2 + 62, 2 + 26), RGB(0xD0, 0xE0, 0xF0));
    int red = 0, redOutside = 0;
    for (int y = 0; y < 44; ++y)
        for (int x = 0; x < 124; ++x) {
            COLORREF c = GetPixel(screen, x, y);
            if (GetRValue(c) > GetGValue(c) + 60)
                ++(x >= rc.left && x < rc.right && y >= rc.top && y < rc.bottom ? red : redOutside);
        }
    EXPECT_GT(red, 30);
    EXPECT_EQ(redOutside, 0);
    ASSERT_TRUE(SavePng(screen, 124, 44, std::string(PROJECT_BINARY_DIR) + "/gdi_skinned_picture.png"));
}

} // namespace
