// The framework's drawing classes: ownership of handles, FromHandle, and the memory-DC pattern
// the skinned windows use.
#include "GdiTestUtil.h"

#include "platform/gdi/AfxDC.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

TEST(AfxDC, MemoryDcWithACompatibleBitmapAsTheSkinCachesBuildIt) {
    cairo_surface_t* s = afxgdi::CreateBackingSurface(10, 10);
    HDC screen = afxgdi::CreateDCForSurface(s, POINT{0, 0}, nullptr);
    CDC* pScreen = CDC::FromHandle(screen);
    {
        CDC mem;
        ASSERT_TRUE(mem.CreateCompatibleDC(pScreen));
        CBitmap* bmp = new CBitmap;
        ASSERT_TRUE(bmp->CreateCompatibleBitmap(pScreen, 6, 4));
        CBitmap* old = mem.SelectObject(bmp);
        ASSERT_NE(old, nullptr);
        EXPECT_EQ(mem.GetPixel(5, 3), RGB(0, 0, 0));
        mem.FillSolidRect(CRect(1, 1, 5, 3), RGB(10, 20, 30));
        ASSERT_TRUE(pScreen->BitBlt(2, 2, 6, 4, &mem, 0, 0, SRCCOPY));
        EXPECT_EQ(GetPixel(screen, 3, 3), RGB(10, 20, 30));
        EXPECT_EQ(GetPixel(screen, 2, 2), RGB(0, 0, 0));

        // A larger bitmap takes the old one's place; the old one is deleted after.
        CBitmap* bigger = new CBitmap;
        bigger->CreateCompatibleBitmap(pScreen, 8, 4);
        CBitmap* was = mem.SelectObject(bigger);
        EXPECT_EQ(was, bmp);
        HGDIOBJ h = bmp->m_hObject;
        delete bmp;
        EXPECT_EQ(GetObjectType(h), 0u);
        EXPECT_EQ(mem.GetPixel(7, 0), RGB(0, 0, 0));
        mem.SelectObject(old);
        delete bigger;
    } // the memory DC is deleted with its CDC
    afxgdi::ReleaseDCForSurface(screen);
    cairo_surface_destroy(s);
}

TEST(AfxDC, WrappersOwnWhatTheyMadeAndDetachGivesItUp) {
    HGDIOBJ kept = nullptr;
    HGDIOBJ deleted = nullptr;
    {
        CBrush a(RGB(1, 2, 3)), b(RGB(4, 5, 6));
        deleted = a.m_hObject;
        kept = b.Detach();
        EXPECT_EQ(b.m_hObject, nullptr);
    }
    EXPECT_EQ(GetObjectType(deleted), 0u);
    // A wrapper that holds an object refuses a second one and keeps the first.
    CBrush holder(RGB(7, 8, 9));
    HGDIOBJ first = holder.m_hObject;
    EXPECT_FALSE(holder.CreateSolidBrush(RGB(1, 1, 1)));
    EXPECT_EQ(holder.m_hObject, first);
    EXPECT_EQ(GetObjectType(kept), static_cast<DWORD>(OBJ_BRUSH));
    DeleteObject(kept);

    HDC hdc = CreateCompatibleDC(nullptr);
    {
        CDC dc;
        ASSERT_TRUE(dc.Attach(hdc));
        EXPECT_FALSE(dc.Attach(hdc)); // already holds one
        EXPECT_EQ(CDC::FromHandle(hdc), &dc);
        EXPECT_EQ(dc.Detach(), hdc);
    }
    EXPECT_EQ(GetObjectType(hdc), static_cast<DWORD>(OBJ_MEMDC));
    DeleteDC(hdc);
}

TEST(AfxDC, FromHandleGivesOneTemporaryPerHandleThatDoesNotOwnIt) {
    HFONT h = CreateFontA(-12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "Sans");
    CFont* first = CFont::FromHandle(h);
    EXPECT_EQ(CFont::FromHandle(h), first);
    EXPECT_EQ(static_cast<HFONT>(*first), h);
    LOGFONT lf{};
    EXPECT_EQ(first->GetLogFont(&lf), static_cast<int>(sizeof lf));
    EXPECT_EQ(lf.lfHeight, -12);
    // An attached wrapper wins over a temporary.
    CFont owner;
    owner.Attach(h);
    EXPECT_EQ(CFont::FromHandle(h), &owner);
    EXPECT_TRUE(owner.DeleteObject());
    EXPECT_EQ(GetObjectType(h), 0u);
    EXPECT_EQ(CFont::FromHandle(nullptr), nullptr);
}

TEST(AfxDC, SelectingAFontReturnsThePreviousOneForRestoring) {
    MemDC mem(4, 4);
    CDC* dc = CDC::FromHandle(mem);
    CFont font;
    ASSERT_TRUE(font.CreateFont(-20, 0, 0, 0, FW_BOLD, 0, 0, 0, GB2312_CHARSET, 0, 0, 0, 0, "Sans"));
    CFont* old = dc->SelectObject(&font);
    ASSERT_NE(old, nullptr);
    EXPECT_EQ(dc->GetCurrentFont()->m_hObject, font.m_hObject);
    TEXTMETRIC big{};
    dc->GetTextMetrics(&big);
    dc->SelectObject(old);
    TEXTMETRIC small{};
    dc->GetTextMetrics(&small);
    EXPECT_GT(big.tmHeight, small.tmHeight);
    EXPECT_GT(dc->GetTextExtent(CString("Wide")).cx, 0);
}

TEST(GdiThreads, ThreadsDrawTextWithTheSharedStockFontAtOnce) {
    // Stock fonts are shared: their lazily made parts must be made once, under the lock.
    constexpr int kThreads = 4;
    std::vector<int> ink(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &ink] {
            MemDC dc(60, 20);
            dc.Fill(RGB(255, 255, 255));
            SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
            SetBkMode(dc, TRANSPARENT);
            RECT rc{0, 0, 60, 20};
            DrawTextA(dc, "\xD4\xD3\xD6\xBE", -1, &rc, DT_SINGLELINE);
            ink[t] = FindInk(dc, 60, 20, RGB(255, 255, 255)).count;
            SelectObject(dc, GetStockObject(SYSTEM_FONT));
        });
    for (auto& th : threads)
        th.join();
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_GT(ink[t], 0);
        EXPECT_EQ(ink[t], ink[0]);
    }
}

} // namespace
