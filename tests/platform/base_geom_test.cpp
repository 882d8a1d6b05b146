#include "platform/base/AfxGeom.h"

#include <gtest/gtest.h>

namespace {

::testing::AssertionResult Is(const RECT& r, LONG l, LONG t, LONG rt, LONG b) {
    if (r.left == l && r.top == t && r.right == rt && r.bottom == b)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "(" << r.left << "," << r.top << "," << r.right << "," << r.bottom << ")";
}

struct RectOp {
    RECT a, b;
    BOOL ok;
    RECT expect;
};

} // namespace

TEST(BaseGeom, IntersectRect) {
    const RectOp cases[] = {
        {{0, 0, 10, 10}, {5, 5, 15, 15}, TRUE, {5, 5, 10, 10}},
        {{0, 0, 10, 10}, {10, 0, 20, 10}, FALSE, {0, 0, 0, 0}}, // touching edges share nothing
        {{0, 0, 10, 10}, {2, 2, 3, 3}, TRUE, {2, 2, 3, 3}},
        {{0, 0, 10, 10}, {20, 20, 30, 30}, FALSE, {0, 0, 0, 0}},
        {{0, 0, 0, 10}, {0, 0, 10, 10}, FALSE, {0, 0, 0, 0}}, // empty source
        {{5, 5, 0, 0}, {0, 0, 10, 10}, FALSE, {0, 0, 0, 0}},  // inverted source
    };
    for (const auto& c : cases) {
        RECT out{9, 9, 9, 9};
        EXPECT_EQ(IntersectRect(&out, &c.a, &c.b), c.ok);
        EXPECT_TRUE(Is(out, c.expect.left, c.expect.top, c.expect.right, c.expect.bottom));
        CRect r;
        EXPECT_EQ(r.IntersectRect(&c.a, &c.b), c.ok);
        EXPECT_TRUE(r == c.expect);
    }
    // In place, with the destination as one source.
    CRect r(0, 0, 10, 10);
    r &= CRect(4, -5, 20, 6);
    EXPECT_TRUE(Is(r, 4, 0, 10, 6));
}

TEST(BaseGeom, UnionRectIgnoresEmptyRectangles) {
    const RectOp cases[] = {
        {{0, 0, 10, 10}, {5, 5, 15, 15}, TRUE, {0, 0, 15, 15}},
        {{0, 0, 0, 0}, {5, 5, 15, 15}, TRUE, {5, 5, 15, 15}},
        {{5, 5, 15, 15}, {100, 100, 100, 200}, TRUE, {5, 5, 15, 15}},
        {{0, 0, 0, 0}, {3, 3, 3, 3}, FALSE, {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        RECT out{9, 9, 9, 9};
        EXPECT_EQ(UnionRect(&out, &c.a, &c.b), c.ok);
        EXPECT_TRUE(Is(out, c.expect.left, c.expect.top, c.expect.right, c.expect.bottom));
    }
    CRect r(1, 1, 2, 2);
    r |= CRect(-1, 0, 0, 5);
    EXPECT_TRUE(Is(r, -1, 0, 2, 5));
}

TEST(BaseGeom, SubtractRectOnlyWhenSpanningFully) {
    const RectOp cases[] = {
        {{0, 0, 10, 10}, {0, 0, 10, 4}, TRUE, {0, 4, 10, 10}},   // top strip
        {{0, 0, 10, 10}, {-5, 6, 15, 20}, TRUE, {0, 0, 10, 6}},  // bottom strip
        {{0, 0, 10, 10}, {0, -1, 3, 11}, TRUE, {3, 0, 10, 10}},  // left strip
        {{0, 0, 10, 10}, {2, 2, 4, 4}, TRUE, {0, 0, 10, 10}},    // a hole: unchanged
        {{0, 0, 10, 10}, {-1, -1, 11, 11}, FALSE, {0, 0, 0, 0}}, // all of it
        {{0, 0, 10, 10}, {20, 20, 30, 30}, TRUE, {0, 0, 10, 10}},
    };
    for (const auto& c : cases) {
        RECT out{9, 9, 9, 9};
        EXPECT_EQ(SubtractRect(&out, &c.a, &c.b), c.ok);
        EXPECT_TRUE(Is(out, c.expect.left, c.expect.top, c.expect.right, c.expect.bottom));
    }
}

TEST(BaseGeom, RectIsHalfOpen) {
    CRect r(10, 20, 30, 60);
    EXPECT_EQ(r.Width(), 20);
    EXPECT_EQ(r.Height(), 40);
    EXPECT_TRUE(r.PtInRect(CPoint(10, 20)));
    EXPECT_TRUE(r.PtInRect(CPoint(29, 59)));
    EXPECT_FALSE(r.PtInRect(CPoint(30, 59)));
    EXPECT_FALSE(r.PtInRect(CPoint(29, 60)));
    EXPECT_FALSE(r.PtInRect(CPoint(9, 20)));
    EXPECT_TRUE(PtInRect(&r, POINT{15, 25}));
    EXPECT_FALSE(PtInRect(nullptr, POINT{15, 25}));

    EXPECT_FALSE(r.IsRectEmpty());
    EXPECT_TRUE(CRect(5, 5, 5, 9).IsRectEmpty());
    EXPECT_TRUE(CRect(5, 5, 4, 9).IsRectEmpty());
    EXPECT_TRUE(CRect().IsRectNull());
    EXPECT_FALSE(CRect(1, 1, 1, 1).IsRectNull());
}

TEST(BaseGeom, MovingAndSizing) {
    CRect r(0, 0, 10, 10);
    r.OffsetRect(5, -5);
    EXPECT_TRUE(Is(r, 5, -5, 15, 5));
    r.InflateRect(1, 2);
    EXPECT_TRUE(Is(r, 4, -7, 16, 7));
    r.DeflateRect(1, 2);
    EXPECT_TRUE(Is(r, 5, -5, 15, 5));
    r.DeflateRect(1, 2, 3, 4);
    EXPECT_TRUE(Is(r, 6, -3, 12, 1));
    RECT edges{1, 1, 1, 1};
    r.InflateRect(&edges);
    EXPECT_TRUE(Is(r, 5, -4, 13, 2));

    r.SetRect(0, 0, 4, 6);
    EXPECT_EQ(r.CenterPoint(), CPoint(2, 3));
    r.TopLeft() = CPoint(1, 1);
    r.BottomRight().Offset(10, 10);
    EXPECT_TRUE(Is(r, 1, 1, 14, 16));
    r.MoveToXY(100, 200);
    EXPECT_TRUE(Is(r, 100, 200, 113, 215));
    EXPECT_EQ(r.Size(), CSize(13, 15));

    CRect flipped(10, 10, 0, 0);
    flipped.NormalizeRect();
    EXPECT_TRUE(Is(flipped, 0, 0, 10, 10));

    CRect moved = CRect(0, 0, 2, 2) + CPoint(3, 4);
    EXPECT_TRUE(Is(moved, 3, 4, 5, 6));
    moved -= CSize(3, 4);
    EXPECT_TRUE(Is(moved, 0, 0, 2, 2));
    EXPECT_TRUE(CRect(CPoint(1, 2), CSize(3, 4)) == CRect(1, 2, 4, 6));
    EXPECT_TRUE(CRect(1, 2, 4, 6) != CRect(1, 2, 4, 7));

    LPCRECT asPointer = r;
    EXPECT_EQ(asPointer->left, 100);
    RECT plain{1, 2, 3, 4};
    CRect fromPointer(&plain);
    EXPECT_TRUE(Is(fromPointer, 1, 2, 3, 4));
    CRect fromNull(static_cast<const RECT*>(nullptr));
    EXPECT_TRUE(fromNull.IsRectNull());
}

TEST(BaseGeom, PointAndSizeArithmetic) {
    CPoint p(3, 4);
    p += CSize(1, 1);
    EXPECT_EQ(p, CPoint(4, 5));
    EXPECT_EQ(p - CPoint(1, 2), CSize(3, 3));
    EXPECT_EQ(-p, CPoint(-4, -5));
    EXPECT_EQ(CSize(2, 3) + CSize(1, 1), CSize(3, 4));

    // Packed mouse coordinates are signed 16-bit halves.
    CPoint packed(static_cast<LPARAM>(MAKELONG(static_cast<WORD>(-5), 7)));
    EXPECT_EQ(packed, CPoint(-5, 7));

    RECT r;
    EXPECT_TRUE(SetRect(&r, 1, 2, 3, 4));
    EXPECT_TRUE(OffsetRect(&r, 1, 1));
    EXPECT_TRUE(InflateRect(&r, 1, 1));
    EXPECT_TRUE(Is(r, 1, 2, 5, 6));
    RECT c;
    EXPECT_TRUE(CopyRect(&c, &r));
    EXPECT_TRUE(EqualRect(&c, &r));
    EXPECT_TRUE(SetRectEmpty(&c));
    EXPECT_TRUE(IsRectEmpty(&c));
}
