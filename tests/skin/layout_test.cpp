// Skin layout files: rectangle text, anchored placement, and what Load makes of real files in a
// skin folder, the malformed ones included.
#include "skin/SkinInfo.h"
#include "tests/skin/SkinFolder.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

struct RectCase {
    const char* text;
    bool parsed; // exactly four pieces
    CRect expect;
};

class ParseRectTest : public ::testing::TestWithParam<RectCase> {};

TEST_P(ParseRectTest, GivesTheFourMarginsOrAllZero) {
    const RectCase& c = GetParam();
    CSkinLayout layout;
    EXPECT_EQ(layout.ParseRect(c.text), c.expect) << c.text;

    CRect out(9, 9, 9, 9);
    EXPECT_EQ(layout.ParseRectValues(c.text, &out), c.parsed ? TRUE : FALSE) << c.text;
    EXPECT_EQ(out, c.parsed ? c.expect : CRect(9, 9, 9, 9)) << c.text << ": untouched unless parsed";
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseRectTest,
    ::testing::Values(
        RectCase{"2,54,2,2", true, CRect(2, 54, 2, 2)}, RectCase{"-1,0,8,-1", true, CRect(-1, 0, 8, -1)},
        RectCase{"1, 2 ,3,4", true, CRect(1, 2, 3, 4)},
        RectCase{"1,,2,3,4", true, CRect(1, 2, 3, 4)}, // the empty piece is dropped
        RectCase{" 1 , 2,  ,3,4, ", true, CRect(1, 2, 3, 4)}, RectCase{"1,2,3", false, CRect()},
        RectCase{"1,2,3,4,5", false, CRect()}, RectCase{"", false, CRect()}, RectCase{",,,", false, CRect()},
        // The conversion: digits up to the first other character; none gives 0.
        RectCase{"a,b,c,d", true, CRect()}, RectCase{"12px,+7,-0,3.9", true, CRect(12, 7, 0, 3)},
        // Every value is a decimal of its own, signs and all: only -1 means a free side, and only
        // what lies beyond the int range saturates.
        RectCase{"+5,+6,-7,-8", true, CRect(5, 6, -7, -8)},
        RectCase{"-2,-100,-1,-99999999999999999999", true, CRect(-2, -100, -1, INT_MIN)},
        RectCase{"32768,99999999999999999999,2147483647,4000000000", true,
                 CRect(32768, INT_MAX, INT_MAX, INT_MAX)}));

struct AnchorCase {
    CRect anchor;
    int w, h;
    CRect container;
    CRect expect;
};

class AnchorTest : public ::testing::TestWithParam<AnchorCase> {};

TEST_P(AnchorTest, PlacesTheItemInItsContainer) {
    const AnchorCase& c = GetParam();
    EXPECT_EQ(CalcAnchoredRect(c.anchor, c.w, c.h, c.container), c.expect);
}

const CRect kScreen(0, 0, 1000, 600);

INSTANTIATE_TEST_SUITE_P(
    Rules, AnchorTest,
    ::testing::Values(
        // Own size at the top left; own size 8 from the right; filling but for margins.
        AnchorCase{CRect(0, 0, -1, -1), 80, 30, kScreen, CRect(0, 0, 80, 30)},
        AnchorCase{CRect(-1, 0, 8, -1), 34, 26, kScreen, CRect(958, 0, 992, 26)},
        AnchorCase{CRect(2, 54, 2, 2), 5, 5, kScreen, CRect(2, 54, 998, 598)},
        // Both sides free: placed by the right (bottom) margin, which is -1 itself.
        AnchorCase{CRect(-1, 0, -1, -1), 80, 30, kScreen, CRect(921, 0, 1001, 30)},
        AnchorCase{CRect(0, -1, -1, -1), 80, 30, kScreen, CRect(0, 571, 80, 601)},
        // Anchored to the bottom right, in a container that does not start at the origin.
        AnchorCase{CRect(-1, -1, 10, 20), 40, 30, CRect(100, 50, 500, 450), CRect(450, 400, 490, 430)},
        AnchorCase{CRect(20, 0, -1, -1), 206, 111, CRect(100, 50, 500, 450), CRect(120, 50, 326, 161)},
        // Nothing is clipped: margins beyond the container invert the rectangle.
        AnchorCase{CRect(600, 400, 600, 400), 0, 0, kScreen, CRect(600, 400, 400, 200)},
        AnchorCase{CRect(2, 95, 2, 2), 0, 0, CRect(0, 0, 300, 90), CRect(2, 95, 298, 88)},
        // A margin below -1 is a distance like any other: the item reaches past that side.
        AnchorCase{CRect(-8, 0, -7, -1), 10, 30, kScreen, CRect(-8, 0, 1007, 30)},
        // Extremes saturate at half the int range, so that a width is still an int.
        AnchorCase{CRect(-1, -1, 32767, 32767), INT_MAX, INT_MAX, CRect(INT_MIN, INT_MIN, INT_MIN, INT_MIN),
                   CRect(INT_MIN / 2, INT_MIN / 2, INT_MIN / 2, INT_MIN / 2)},
        AnchorCase{CRect(32767, 32767, -1, -1), INT_MAX, INT_MAX, CRect(INT_MAX, INT_MAX, INT_MAX, INT_MAX),
                   CRect(INT_MAX / 2, INT_MAX / 2, INT_MAX / 2, INT_MAX / 2)},
        AnchorCase{CRect(INT_MIN, 0, INT_MIN, -1), 10, 10, kScreen, CRect(INT_MIN / 2, 0, INT_MAX / 2, 10)}));

const char kBom[] = "\xEF\xBB\xBF";
const char kDecl[] = "<?xml version=\"1.0\"encoding=\"UTF-8\"?>\r\n";

std::string SkinFile(const std::string& body) {
    return std::string(kBom) + kDecl + body;
}

class SkinLoad : public ::testing::Test {
protected:
    SkinFolder m_skin;
};

TEST_F(SkinLoad, ReadsEveryAttributeOfEveryItem) {
    m_skin.Put("a.xml",
               SkinFile("<items>\r\n"
                        "<item name=\"edge\" image=\"e.png\" rect=\"2,54,2,2\" max_rect=\"2,0,2,2\"/>\r\n"
                        "<other name=\"close\" rect=\"1,1,1,1\"/>\r\n"
                        "<item name=\"close\" image=\"c&amp;d.png\" rect=\"-1,0,8,-1\"/>\r\n"
                        "<item name=\"bare\"/>\r\n"
                        "</items>\r\n"));
    CSkinInfo skin;
    ASSERT_TRUE(skin.Load("a.xml"));
    EXPECT_EQ(skin.GetEdgeRect(), CRect(2, 54, 2, 2));
    EXPECT_EQ(skin.GetEdgeMaxRect(), CRect(2, 0, 2, 2));
    EXPECT_EQ(skin.GetEdgeImage(), m_skin.Win() + "e.png");
    // Elements other than "item" are skipped; attribute values come unescaped.
    EXPECT_EQ(skin.GetCloseRect(), CRect(-1, 0, 8, -1));
    EXPECT_EQ(skin.GetCloseImage(), m_skin.Win() + "c&d.png");
    // An item without image answers the skin folder itself; without rectangles, all-zero.
    EXPECT_EQ(skin.GetItemImage("bare"), m_skin.Win());
    EXPECT_EQ(skin.GetItemRect("bare"), CRect());
    EXPECT_EQ(skin.GetItemMaxRect("bare"), CRect());
    // Absent items.
    EXPECT_EQ(skin.GetMaxImage(), "");
    EXPECT_EQ(skin.GetMaxRect(), CRect());
}

TEST_F(SkinLoad, TheLastItemOfANameWinsAndNamesAreCaseSensitive) {
    m_skin.Put("dup.xml", SkinFile("<items>"
                                   "<item name=\"close\" image=\"first.png\" rect=\"1,1,1,1\"/>"
                                   "<item name=\"ToolBar\" rect=\"-1,0,168,-1\" max_rect=\"3,3,3,3\"/>"
                                   "<item name=\"close\" image=\"second.png\" rect=\"2,2,2,2\"/>"
                                   "</items>"));
    CSkinInfo skin;
    ASSERT_TRUE(skin.Load("dup.xml"));
    EXPECT_EQ(skin.GetCloseRect(), CRect(2, 2, 2, 2));
    EXPECT_EQ(skin.GetCloseImage(), m_skin.Win() + "second.png");
    EXPECT_EQ(skin.GetToolBarRect(), CRect(-1, 0, 168, -1));
    EXPECT_EQ(skin.GetToolBarMaxRect(), CRect(3, 3, 3, 3));
    EXPECT_EQ(skin.GetItemRect("toolbar"), CRect());
    EXPECT_EQ(skin.GetItemImage("CLOSE"), "");
}

TEST_F(SkinLoad, ASecondFileAddsToTheFirst) {
    m_skin.Put("one.xml", SkinFile("<items><item name=\"bg\" image=\"bg.png\"/>"
                                   "<item name=\"home\" rect=\"0,0,-1,-1\"/></items>"));
    m_skin.Put("two.xml", SkinFile("<items><item name=\"home\" rect=\"0,11,-1,-1\"/></items>"));
    CSkinInfo skin;
    ASSERT_TRUE(skin.Load("one.xml"));
    ASSERT_TRUE(skin.Load("two.xml"));
    EXPECT_EQ(skin.GetBgImage(), m_skin.Win() + "bg.png");
    EXPECT_EQ(skin.GetHomeRect(), CRect(0, 11, -1, -1));
}

struct BadFileCase {
    const char* name;
    const char* bytes; // nullptr: no file at all
    BOOL loaded;
};

class SkinLoadBadFile : public ::testing::TestWithParam<BadFileCase> {};

TEST_P(SkinLoadBadFile, DegradesToEmptyAnswers) {
    const BadFileCase& c = GetParam();
    SkinFolder folder;
    if (c.bytes != nullptr)
        folder.Put("s.xml", c.bytes);
    CSkinInfo skin;
    EXPECT_EQ(skin.Load("s.xml"), c.loaded);
    EXPECT_EQ(skin.GetCloseRect(), CRect());
    EXPECT_EQ(skin.GetEdgeMaxRect(), CRect());
    EXPECT_EQ(skin.GetCloseImage(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Files, SkinLoadBadFile,
    ::testing::Values(
        BadFileCase{"Missing", nullptr, FALSE}, BadFileCase{"Empty", "", FALSE},
        BadFileCase{"OtherTopElement", "<skin><item name=\"close\" rect=\"1,2,3,4\" image=\"c.png\"/></skin>",
                    FALSE},
        BadFileCase{"ItemsNotOnTop", "<x><items><item name=\"close\" rect=\"1,2,3,4\"/></items></x>", FALSE},
        BadFileCase{"NoItemChild", "<items><close rect=\"1,2,3,4\"/></items>", TRUE},
        BadFileCase{"NotXml", "\x89PNG\r\n\x1a\n\0\0\0", FALSE}),
    [](const ::testing::TestParamInfo<BadFileCase>& info) { return std::string(info.param.name); });

TEST_F(SkinLoad, AnImageThatIsMissingStillAnswersItsPath) {
    // Images are not opened here: whoever loads one deals with its absence.
    m_skin.Put("m.xml",
               SkinFile("<items><item name=\"edge\" image=\"nowhere.png\" rect=\"2,54,2,2\"/></items>"));
    CSkinInfo skin;
    ASSERT_TRUE(skin.Load("m.xml"));
    EXPECT_EQ(skin.GetEdgeImage(), m_skin.Win() + "nowhere.png");
    EXPECT_EQ(skin.GetEdgeRect(), CRect(2, 54, 2, 2));
}

TEST_F(SkinLoad, WidthAndHeightAreKeptInTheRecord) {
    struct Probe : CSkinLayout {
        const CSkinItem* At(int i) const { return static_cast<const CSkinItem*>(m_arrItems.GetAt(i)); }
        INT_PTR Count() const { return m_arrItems.GetSize(); }
    };
    m_skin.Put("w.xml", SkinFile("<items><item name=\"a\" width=\" 120\" height=\"-7x\"/>"
                                 "<item name=\"a\" width=\"99999999999\"/></items>"));
    Probe skin;
    ASSERT_TRUE(skin.Load("w.xml"));
    ASSERT_EQ(skin.Count(), 2); // both items of the name stay
    EXPECT_EQ(skin.At(0)->m_nWidth, 120);
    EXPECT_EQ(skin.At(0)->m_nHeight, -7);
    EXPECT_EQ(skin.At(1)->m_nWidth, INT_MAX);
    EXPECT_EQ(skin.At(1)->m_nHeight, 0);
}

} // namespace
