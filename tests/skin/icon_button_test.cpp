// The icon button: which columns of its frame each button width shows, the icon and the text
// margins, and the text drawn in the font of the window around its host (or the stock GUI font).
#include "skin/IconButton.h"
#include "tests/skin/SkinTestKit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using skintest::Canvas;

constexpr int kFw = 20, kFh = 10;

// Red says the picture's column, green its row.
std::string ColumnPicture() {
    std::vector<uint32_t> px(static_cast<size_t>(4 * kFw) * (2 * kFh));
    for (int y = 0; y < 2 * kFh; ++y)
        for (int x = 0; x < 4 * kFw; ++x)
            px[static_cast<size_t>(y) * 4 * kFw + x] =
                0xFF000040u | (static_cast<uint32_t>(x) << 16) | (static_cast<uint32_t>(y) << 8);
    return pngfixture::Png(4 * kFw, 2 * kFh, px);
}

// The picture's column shown at x of the button's first row, or -1 for the grey background.
int ColumnAt(const Canvas& c, int x, int y) {
    const COLORREF v = c.At(x, y);
    if (v == RGB(90, 90, 90))
        return -1;
    return GetRValue(v);
}

class IconButtonTest : public ::testing::Test {
protected:
    void SetUp() override {
        screen.Install();
        skin.Put("user.png", ColumnPicture());
        std::vector<uint32_t> icon(16 * 16, 0xFFFFFF00u);
        skin.Put("u.ico", pngfixture::Ico({{16, pngfixture::IconDib(16, icon)}}));
    }
    afxuser::CHeadlessScreen screen;
    SkinFolder skin;
    skintest::CommandSink sink;
};

TEST_F(IconButtonTest, ShowsTheLeftAndRightPartsOfItsFrameAtAnyWidth) {
    struct Case {
        int width;
        int frame;
        std::vector<int> columns; // picture column at each button column
    };
    auto span = [](int from, int to) {
        std::vector<int> v;
        for (int k = from; k <= to; ++k)
            v.push_back(k);
        return v;
    };
    auto join = [](std::vector<int> a, const std::vector<int>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const Case cases[] = {
        {kFw, 0, span(0, 19)},                        // one frame: whole
        {2 * kFw, 0, join(span(0, 19), span(0, 19))}, // two frames: twice
        {15, 0, join(span(0, 6), span(12, 19))},      // odd: the right piece is wider
        {15, 1, join(span(20, 26), span(32, 39))},    // the frame moves the source
        {50, 0, join(join(span(0, 19), std::vector<int>(10, -1)), span(0, 19))}, // wider: no neighbour
    };
    for (const Case& c : cases) {
        Canvas target(200, 60, RGB(90, 90, 90)), back(200, 60, RGB(90, 90, 90));
        CIconButton b;
        b.Create("", CRect(), skin.Win() + "user.png", &sink, 11006);
        b.SetDC(&target.dc, &back.dc, CRect(0, 30, 0, 0));
        b.MoveTo(CRect(10, 5, 10 + c.width, 5 + kFh), FALSE);
        if (c.frame == 1)
            b.OnMouseMove(0, CPoint(11, 6));
        b.Invalidate();
        std::vector<int> row0, row1;
        for (int x = 0; x < c.width; ++x) {
            row0.push_back(ColumnAt(target, 10 + x, 7));
            row1.push_back(ColumnAt(target, 10 + x, 35));
        }
        EXPECT_EQ(row0, c.columns) << "width " << c.width << " frame " << c.frame;
        EXPECT_EQ(row1, c.columns) << "second row, width " << c.width;
        EXPECT_EQ(GetGValue(target.At(12, 37)), 2 + kFh) << "from the picture's second row";
    }
}

// The first column, from the left, where white text shows over a black button picture.
int FirstTextColumn(const Canvas& c, int y0, int y1) {
    for (int x = 0; x < 200; ++x)
        for (int y = y0; y < y1; ++y) {
            const COLORREF v = c.At(x, y);
            if (GetGValue(v) > 128 && GetBValue(v) > 128)
                return x;
        }
    return -1;
}

TEST_F(IconButtonTest, TextStartsSixPixelsInOrAfterTheIconByItsRule) {
    std::vector<uint32_t> black(static_cast<size_t>(4 * 80) * 2 * 24, 0xFF000000u);
    skin.Put("black.png", pngfixture::Png(4 * 80, 2 * 24, black));
    struct Case {
        const char* icon;
        CRect rule;
        int textFrom; // the text rectangle's left, relative to the button
    };
    const Case cases[] = {
        {"", CRect(), 6},
        {"u.ico", CRect(4, 4, -1, -1), 4 + 16 + 4},
        {"missing.ico", CRect(4, 4, -1, -1), 6}, // an icon that does not load: no icon
    };
    for (const Case& c : cases) {
        Canvas target(200, 30), back(200, 30);
        target.dc.SetTextColor(RGB(255, 255, 255));
        CIconButton b;
        b.Create(*c.icon ? skin.Win() + c.icon : CString(""), c.rule, skin.Win() + "black.png", &sink, 11006);
        b.SetDC(&target.dc, &back.dc, CRect());
        b.MoveTo(CRect(0, 0, 80, 24), FALSE);
        b.SetText("MMMM");
        b.Update();
        const int first = FirstTextColumn(target, 0, 24);
        EXPECT_GE(first, c.textFrom) << c.icon;
        EXPECT_LE(first, c.textFrom + 3) << c.icon;
        if (std::string(c.icon) == "u.ico") {
            EXPECT_EQ(target.At(4 + 8, 4 + 8), RGB(255, 255, 0)) << "the icon at its rule";
        }
    }
}

TEST_F(IconButtonTest, EmptyTextDrawsOnlyTheFrameAndAFontlessHostFallsBackToTheGuiFont) {
    std::vector<uint32_t> black(static_cast<size_t>(4 * 80) * 2 * 24, 0xFF000000u);
    skin.Put("black.png", pngfixture::Png(4 * 80, 2 * 24, black));
    Canvas target(200, 30), back(200, 30);
    target.dc.SetTextColor(RGB(255, 255, 255));
    CIconButton b;
    b.Create("", CRect(), skin.Win() + "black.png", &sink, 11006); // the sink has no parent: no font
    b.SetDC(&target.dc, &back.dc, CRect());
    b.MoveTo(CRect(0, 0, 80, 24), TRUE);
    EXPECT_EQ(FirstTextColumn(target, 0, 24), -1);
    EXPECT_EQ(target.At(40, 12), RGB(0, 0, 0));
    b.SetText("MMMM");
    b.Update();
    EXPECT_NE(FirstTextColumn(target, 0, 24), -1);
    EXPECT_NE(target.dc.GetCurrentFont(), nullptr);
}

} // namespace
