// Fonts, metrics and DrawText over pango, with text in the ANSI code page.
#include "GdiTestUtil.h"

#include "platform/gdi/AfxDC.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

const COLORREF kWhite = RGB(255, 255, 255);
// "杂志" in GBK.
const char kMagazine[] = "\xD4\xD3\xD6\xBE";

// A white memory DC with black text, transparent background, and a font of em height 16.
class TextDc : public ::testing::Test {
protected:
    TextDc() : dc(200, 60) {
        dc.Fill(kWhite);
        font = CreateFontA(-16, 0, 0, 0, FW_NORMAL, 0, 0, 0, GB2312_CHARSET, 0, 0, 0, 0, "WenQuanYi Zen Hei");
        old = SelectObject(dc, font);
        SetTextColor(dc, RGB(0, 0, 0));
        SetBkMode(dc, TRANSPARENT);
    }
    ~TextDc() override {
        SelectObject(dc, old);
        DeleteObject(font);
    }
    Ink Draw(const char* text, RECT rc, UINT format) {
        dc.Fill(kWhite);
        DrawTextA(dc, text, -1, &rc, format);
        return FindInk(dc, 200, 60, kWhite);
    }

    MemDC dc;
    HFONT font;
    HGDIOBJ old;
};

TEST_F(TextDc, MetricsDescribeTheSelectedFont) {
    TEXTMETRICA tm{};
    ASSERT_TRUE(GetTextMetricsA(dc, &tm));
    EXPECT_EQ(tm.tmHeight, tm.tmAscent + tm.tmDescent);
    EXPECT_GE(tm.tmHeight, 16);
    EXPECT_LE(tm.tmHeight, 24);
    EXPECT_EQ(tm.tmInternalLeading, tm.tmHeight - 16);
    EXPECT_GT(tm.tmAveCharWidth, 0);
    EXPECT_GE(tm.tmMaxCharWidth, tm.tmAveCharWidth);

    // A positive height asks for the whole cell.
    HFONT cell = CreateFontA(20, 0, 0, 0, FW_BOLD, 0, 0, 0, 0, 0, 0, 0, 0, "WenQuanYi Zen Hei");
    HGDIOBJ prev = SelectObject(dc, cell);
    ASSERT_TRUE(GetTextMetricsA(dc, &tm));
    EXPECT_NEAR(tm.tmHeight, 20, 1);
    EXPECT_EQ(tm.tmWeight, FW_BOLD);
    SelectObject(dc, prev);
    DeleteObject(cell);
}

TEST_F(TextDc, ExtentsGrowWithTheTextAndKeepTheCellHeight) {
    TEXTMETRICA tm{};
    GetTextMetricsA(dc, &tm);
    SIZE one{}, two{}, none{};
    ASSERT_TRUE(GetTextExtentPoint32A(dc, "ab", 2, &one));
    ASSERT_TRUE(GetTextExtentPoint32A(dc, "abab", 4, &two));
    ASSERT_TRUE(GetTextExtentPoint32A(dc, "", 0, &none));
    EXPECT_GT(one.cx, 0);
    EXPECT_NEAR(two.cx, 2 * one.cx, 1);
    EXPECT_EQ(one.cy, tm.tmHeight);
    EXPECT_EQ(none.cx, 0);
    // The count, not the terminator, ends the text.
    SIZE cut{};
    GetTextExtentPoint32A(dc, "abab", 2, &cut);
    EXPECT_EQ(cut.cx, one.cx);
    // Ideographs are full width: about one em each.
    SIZE cjk{};
    ASSERT_TRUE(GetTextExtentPoint32A(dc, kMagazine, 4, &cjk));
    EXPECT_NEAR(cjk.cx, 32, 2);
}

TEST_F(TextDc, CjkTextFromTheAnsiCodePageLandsInsideItsRectangleWithInk) {
    RECT rc{20, 10, 180, 50};
    Ink ink = Draw(kMagazine, rc, DT_LEFT | DT_SINGLELINE | DT_VCENTER);
    ASSERT_GT(ink.count, 40);
    EXPECT_GE(ink.box.left, rc.left);
    EXPECT_LE(ink.box.right, rc.left + 34);
    EXPECT_GE(ink.box.top, rc.top);
    EXPECT_LE(ink.box.bottom, rc.bottom);
    // Vertically centred: the ink's margins above and below differ by a few pixels only.
    EXPECT_NEAR(ink.box.top - rc.top, rc.bottom - ink.box.bottom, 6);

    // Each ideograph has a glyph of its own: a missing-glyph box would look the same twice.
    Ink first = Draw("\xD4\xD3", rc, DT_SINGLELINE);
    Ink second = Draw("\xD6\xBE", rc, DT_SINGLELINE);
    EXPECT_NE(first.count, second.count);
}

// Where a line sits in a 40-pixel-high rectangle from y = 10, and what DrawText answers: the
// height, or with DT_VCENTER and DT_BOTTOM the offset from the top to the text's bottom.
struct VerticalCase {
    const char* name;
    UINT format;
    int top;     // the cell's top, in cells below the rectangle's top: 0 top, 1 bottom, -1 centred
    bool offset; // the answer is the offset to the text's bottom
};

class TextVertical : public TextDc, public ::testing::WithParamInterface<VerticalCase> {};

TEST_P(TextVertical, LineSitsWhereItsFormatSays) {
    const VerticalCase& c = GetParam();
    TEXTMETRICA tm{};
    GetTextMetricsA(dc, &tm);
    const int h = tm.tmHeight;
    RECT rc{0, 10, 200, 50};
    int cellTop = c.top == 0 ? 10 : c.top == 1 ? 50 - h : (10 + 50 - h) / 2;
    // With the rectangle the cell itself, the ink must stay inside the cell.
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, RGB(0, 200, 0));
    dc.Fill(kWhite);
    RECT r = rc;
    int answer = DrawTextA(dc, "Mg", -1, &r, c.format);
    EXPECT_EQ(answer, c.offset ? cellTop + h - 10 : h);
    EXPECT_EQ(GetPixel(dc, 0, cellTop), RGB(0, 200, 0));
    EXPECT_EQ(GetPixel(dc, 0, cellTop + h - 1), RGB(0, 200, 0));
    EXPECT_EQ(GetPixel(dc, 0, cellTop - 1), kWhite);
    EXPECT_EQ(GetPixel(dc, 0, cellTop + h), kWhite);
}

INSTANTIATE_TEST_SUITE_P(Formats, TextVertical,
                         ::testing::Values(VerticalCase{"Top", DT_SINGLELINE, 0, false},
                                           VerticalCase{"Centred", DT_SINGLELINE | DT_VCENTER, -1, true},
                                           VerticalCase{"Bottom", DT_SINGLELINE | DT_BOTTOM, 1, true},
                                           // Vertical placement needs a single line.
                                           VerticalCase{"CentredNeedsSingleLine", DT_VCENTER, 0, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TextDc, LineFeedsStartNewLinesUnlessSingleLine) {
    RECT rc{0, 0, 200, 60};
    Ink two = Draw("Mg\nMg", rc, DT_LEFT);
    Ink one = Draw("Mg\nMg", rc, DT_SINGLELINE);
    TEXTMETRICA tm{};
    GetTextMetricsA(dc, &tm);
    EXPECT_GT(two.box.bottom - two.box.top, tm.tmHeight);
    EXPECT_LT(one.box.bottom - one.box.top, tm.tmHeight);
}

TEST_F(TextDc, HorizontalAlignment) {
    RECT rc{0, 0, 200, 30};
    Ink left = Draw("Mag", rc, DT_LEFT | DT_SINGLELINE);
    Ink center = Draw("Mag", rc, DT_CENTER | DT_SINGLELINE);
    Ink right = Draw("Mag", rc, DT_RIGHT | DT_SINGLELINE);
    EXPECT_LT(left.box.left, 4);
    EXPECT_NEAR(center.box.left, 200 - center.box.right, 3);
    EXPECT_GT(right.box.right, 195);
}

TEST_F(TextDc, EndEllipsisShortensTextThatDoesNotFit) {
    const char* text = "A rather long title that cannot fit";
    RECT narrow{10, 10, 90, 40};
    Ink clipped = Draw(text, narrow, DT_SINGLELINE | DT_NOCLIP);
    Ink shortened = Draw(text, narrow, DT_SINGLELINE | DT_NOCLIP | DT_END_ELLIPSIS);
    EXPECT_GT(clipped.box.right, narrow.right); // without the flag it runs past the edge
    EXPECT_LE(shortened.box.right, narrow.right);
    EXPECT_GT(shortened.box.right, narrow.right - 20); // and fills the room it has

    // Text that fits is drawn as it is.
    Ink fits = Draw("Short", narrow, DT_SINGLELINE);
    Ink fitsEllipsis = Draw("Short", narrow, DT_SINGLELINE | DT_END_ELLIPSIS);
    EXPECT_EQ(fits.count, fitsEllipsis.count);
}

TEST_F(TextDc, CalcRectMeasuresAndDrawsNothing) {
    dc.Fill(kWhite);
    RECT rc{5, 7, 6, 8};
    int h = DrawTextA(dc, "Magazine", -1, &rc, DT_SINGLELINE | DT_CALCRECT);
    SIZE size{};
    GetTextExtentPoint32A(dc, "Magazine", 8, &size);
    EXPECT_EQ(h, size.cy);
    EXPECT_EQ(rc.left, 5);
    EXPECT_EQ(rc.top, 7);
    EXPECT_EQ(rc.right, 5 + size.cx);
    EXPECT_EQ(rc.bottom, 7 + size.cy);
    EXPECT_EQ(FindInk(dc, 200, 60, kWhite).count, 0);
}

TEST_F(TextDc, OpaqueBackgroundFillsTheTextCellTransparentDoesNot) {
    RECT rc{0, 0, 200, 40};
    SetBkColor(dc, RGB(0, 200, 0));
    Ink transparent = Draw("x", rc, DT_SINGLELINE);
    SetBkMode(dc, OPAQUE);
    dc.Fill(kWhite);
    DrawTextA(dc, "x", -1, &rc, DT_SINGLELINE);
    TEXTMETRICA tm{};
    GetTextMetricsA(dc, &tm);
    EXPECT_EQ(GetPixel(dc, 0, tm.tmHeight - 1), RGB(0, 200, 0));
    EXPECT_EQ(GetPixel(dc, 0, tm.tmHeight), kWhite);
    EXPECT_GT(transparent.count, 0);
    EXPECT_EQ(GetPixel(dc, 0, 0), RGB(0, 200, 0));
}

TEST_F(TextDc, PrefixCharactersAreTakenOutUnlessAskedNotTo) {
    RECT rc{0, 0, 200, 40};
    SIZE plain{};
    GetTextExtentPoint32A(dc, "Save", 4, &plain);
    RECT calc = rc;
    DrawTextA(dc, "&Save", -1, &calc, DT_SINGLELINE | DT_CALCRECT);
    EXPECT_EQ(calc.right, plain.cx);
    calc = rc;
    DrawTextA(dc, "&Save", -1, &calc, DT_SINGLELINE | DT_CALCRECT | DT_NOPREFIX);
    EXPECT_GT(calc.right, plain.cx);
}

TEST_F(TextDc, TextIsClippedToItsRectangleAndTheDc) {
    RECT rc{0, 0, 12, 40};
    Ink ink = Draw("Magazine", rc, DT_SINGLELINE);
    EXPECT_GT(ink.count, 0);
    EXPECT_LE(ink.box.right, 12);
}

TEST(GdiFonts, MissingFaceIsDrawnInTheInstalledCjkFont) {
    MemDC a(120, 30), b(120, 30);
    HFONT missing = CreateFontA(-14, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "No Such Face At All");
    HFONT cjk = CreateFontA(-14, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "WenQuanYi Zen Hei");
    RECT rc{0, 0, 120, 30};
    for (auto [dc, font] : {std::pair<HDC, HFONT>{a, missing}, {b, cjk}}) {
        SelectObject(dc, font);
        RECT r = rc;
        DrawTextA(dc, kMagazine, -1, &r, DT_SINGLELINE);
    }
    int differ = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 120; ++x)
            differ += GetPixel(a, x, y) != GetPixel(b, x, y);
    EXPECT_EQ(differ, 0);
    EXPECT_GT(FindInk(a, 120, 30, RGB(0, 0, 0)).count, 0);
    SelectObject(a, GetStockObject(SYSTEM_FONT));
    SelectObject(b, GetStockObject(SYSTEM_FONT));
    DeleteObject(missing);
    DeleteObject(cjk);
}

TEST(GdiFonts, FontsKeepTheirLogfont) {
    LOGFONTA lf{};
    lf.lfHeight = -13;
    lf.lfWeight = FW_BOLD;
    lf.lfCharSet = GB2312_CHARSET;
    std::strcpy(lf.lfFaceName, "\xCB\xCE\xCC\xE5");
    CFont font;
    ASSERT_TRUE(font.CreateFontIndirect(&lf));
    LOGFONTA back{};
    ASSERT_EQ(font.GetLogFont(&back), static_cast<int>(sizeof back));
    EXPECT_EQ(back.lfHeight, -13);
    EXPECT_EQ(back.lfWeight, FW_BOLD);
    EXPECT_STREQ(back.lfFaceName, "\xCB\xCE\xCC\xE5");
    // The default GUI font is the target machines' 9-point face.
    ASSERT_EQ(GetObject(GetStockObject(DEFAULT_GUI_FONT), sizeof back, &back), static_cast<int>(sizeof back));
    EXPECT_EQ(back.lfHeight, -12);
}

TEST(GdiFonts, MetricsOfTheDefaultGuiFontAreUsableForDialogUnits) {
    MemDC dc(4, 4);
    SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    TEXTMETRICA tm{};
    ASSERT_TRUE(GetTextMetricsA(dc, &tm));
    EXPECT_GE(tm.tmHeight, 12);
    EXPECT_LE(tm.tmHeight, 18);
    SIZE letters{};
    ASSERT_TRUE(
        GetTextExtentPoint32A(dc, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &letters));
    int average = (letters.cx / 26 + 1) / 2;
    EXPECT_GE(average, 4);
    EXPECT_LE(average, 9);
}

} // namespace
