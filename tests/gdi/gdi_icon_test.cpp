// Icons from .ico and .png bytes, and DrawIconEx.
#include "GdiTestUtil.h"
#include "PngFixture.h"

#include <gtest/gtest.h>

namespace {

using namespace pngfixture;

std::vector<uint32_t> Solid(int size, uint32_t argb) {
    return std::vector<uint32_t>(size_t(size) * size, argb);
}

// An icon file with a 16-pixel DIB entry in red and a 32-pixel PNG entry in green.
std::string TwoEntryIco() {
    std::vector<uint32_t> small = Solid(16, 0xFFC00000u);
    small[0] = 0x80000000u | 0x00FF0000u; // half-transparent red in the top-left corner
    small[17] = 0x00000000u;              // transparent at (1,1)
    return Ico({{16, IconDib(16, small)}, {32, Png(32, 32, Solid(32, 0xFF00A000u))}});
}

// Draws the icon into a blue DC and gives the size of what it covered.
struct Drawn {
    int width = 0, height = 0;
    COLORREF middle = 0;
};
Drawn DrawOnBlue(HICON icon, int cx, int cy, UINT flags = DI_NORMAL) {
    MemDC dc(64, 64);
    dc.Fill(RGB(0, 0, 255));
    EXPECT_TRUE(DrawIconEx(dc, 0, 0, icon, cx, cy, 0, nullptr, flags));
    Ink ink = FindInk(dc, 64, 64, RGB(0, 0, 255));
    return Drawn{ink.box.right, ink.box.bottom, GetPixel(dc, ink.box.right / 2, ink.box.bottom / 2)};
}

struct PickCase {
    const char* name;
    int cx, cy;
    int drawnSize;
    COLORREF color;
};

class IconEntries : public ::testing::TestWithParam<PickCase> {};

TEST_P(IconEntries, TheEntryNearestTheAskedSizeIsTakenAndScaledToIt) {
    const PickCase& c = GetParam();
    std::string ico = TwoEntryIco();
    HICON icon = afxgdi::CreateIconFromFileBytes(ico.data(), ico.size(), c.cx, c.cy);
    ASSERT_NE(icon, nullptr);
    Drawn d = DrawOnBlue(icon, 0, 0);
    EXPECT_EQ(d.width, c.drawnSize);
    EXPECT_EQ(d.height, c.drawnSize);
    EXPECT_EQ(d.middle, c.color);
    EXPECT_TRUE(DestroyIcon(icon));
}

INSTANTIATE_TEST_SUITE_P(Sizes, IconEntries,
                         ::testing::Values(PickCase{"FirstEntryAtItsOwnSize", 0, 0, 16, RGB(0xC0, 0, 0)},
                                           PickCase{"ExactSmall", 16, 16, 16, RGB(0xC0, 0, 0)},
                                           PickCase{"ExactLargePngEntry", 32, 32, 32, RGB(0, 0xA0, 0)},
                                           PickCase{"NearerTheSmallOne", 20, 20, 20, RGB(0xC0, 0, 0)},
                                           PickCase{"NearerTheLargeOne", 48, 48, 48, RGB(0, 0xA0, 0)}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(GdiIcons, DrawnWithTheirAlphaAndScaledByDrawIconEx) {
    std::string ico = TwoEntryIco();
    HICON icon = afxgdi::CreateIconFromFileBytes(ico.data(), ico.size(), 16, 16);
    ASSERT_NE(icon, nullptr);
    MemDC dc(40, 40);
    dc.Fill(RGB(0, 0, 255));
    ASSERT_TRUE(DrawIconEx(dc, 2, 3, icon, 0, 0, 0, nullptr, DI_NORMAL));
    EXPECT_EQ(GetPixel(dc, 2, 3), RGB(128, 0, 127)); // half red over blue
    EXPECT_EQ(GetPixel(dc, 3, 4), RGB(0, 0, 255));   // transparent
    EXPECT_EQ(GetPixel(dc, 4, 4), RGB(0xC0, 0, 0));
    EXPECT_EQ(GetPixel(dc, 18, 3), RGB(0, 0, 255)); // the icon ends at its own size

    // At twice the size every pixel doubles.
    Drawn big = DrawOnBlue(icon, 32, 32);
    EXPECT_EQ(big.width, 32);
    dc.Fill(RGB(0, 0, 255));
    DrawIconEx(dc, 0, 0, icon, 32, 32, 0, nullptr, DI_NORMAL);
    EXPECT_EQ(GetPixel(dc, 1, 1), RGB(128, 0, 127));
    EXPECT_EQ(GetPixel(dc, 2, 2), RGB(0, 0, 255));
    EXPECT_EQ(GetPixel(dc, 3, 3), RGB(0, 0, 255));

    // A flicker-free brush fills the icon's square first.
    HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
    dc.Fill(RGB(0, 0, 255));
    DrawIconEx(dc, 0, 0, icon, 16, 16, 0, white, DI_NORMAL);
    EXPECT_EQ(GetPixel(dc, 1, 1), RGB(255, 255, 255));
    EXPECT_EQ(GetPixel(dc, 0, 0), RGB(255, 127, 127)); // half red over white
    EXPECT_EQ(GetPixel(dc, 16, 0), RGB(0, 0, 255));
    DeleteObject(white);

    EXPECT_FALSE(DeleteObject(icon)); // icons go with DestroyIcon
    EXPECT_TRUE(DestroyIcon(icon));
    EXPECT_FALSE(DestroyIcon(icon));
    EXPECT_FALSE(DrawIconEx(dc, 0, 0, icon, 16, 16, 0, nullptr, DI_NORMAL));
}

TEST(GdiIcons, PngBytesMakeAnIconToo) {
    std::string png = Png(24, 24, Solid(24, 0xFF102030u));
    HICON icon = afxgdi::CreateIconFromFileBytes(png.data(), png.size(), 0, 0);
    ASSERT_NE(icon, nullptr);
    Drawn d = DrawOnBlue(icon, 0, 0);
    EXPECT_EQ(d.width, 24);
    EXPECT_EQ(d.middle, RGB(0x10, 0x20, 0x30));
    DestroyIcon(icon);
}

TEST(GdiIcons, BytesThatDoNotDecodeGiveNoIcon) {
    std::string ico = TwoEntryIco();
    std::string pastTheEnd = ico;
    pastTheEnd[6 + 15] = 0x7F; // the first entry's offset far beyond the file
    std::string noEntries = ico.substr(0, 4) + std::string("\0\0", 2) + ico.substr(6);
    std::string cutShort = ico.substr(0, 40);
    const std::string cases[] = {"not an icon", pastTheEnd, noEntries, cutShort, std::string()};
    for (const std::string& bytes : cases)
        EXPECT_EQ(afxgdi::CreateIconFromFileBytes(bytes.data(), bytes.size(), 16, 16), nullptr)
            << bytes.size() << " bytes";
    EXPECT_EQ(afxgdi::CreateIconFromFileBytes(nullptr, 10, 0, 0), nullptr);
}

} // namespace
