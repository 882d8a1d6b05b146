// Painting: update regions and the erase flag, WM_PAINT, DCs on the windows' backing surfaces,
// and the composition of a window with its children.
#include "platform/user/Presenter.h"
#include "platform/user/WinUser.h"
#include "platform/user/WindowCore.h"
#include "platform/user/WindowTable.h"

#include <cairo.h>

#include <algorithm>

using afxuser::FindLocked;
using afxuser::Wnd;

namespace {

using afxuser::Lock;

RECT ClientRectOf(const Wnd& w) {
    return RECT{0, 0, w.rect.right - w.rect.left, w.rect.bottom - w.rect.top};
}

// Lock held. Adds r (client coordinates, already clipped) to the window's update region and,
// where the window does not clip its children, to those it overlaps. Collects the threads to
// wake.
void AddInvalidLocked(Wnd& w, const RECT& r, bool erase, int children, std::vector<DWORD>& wake) {
    if (r.left >= r.right || r.top >= r.bottom)
        return;
    if (!w.update)
        w.update = cairo_region_create();
    cairo_rectangle_int_t cr{r.left, r.top, r.right - r.left, r.bottom - r.top};
    cairo_region_union_rectangle(w.update, &cr);
    if (erase)
        w.erase = true;
    if (std::find(wake.begin(), wake.end(), w.tid) == wake.end())
        wake.push_back(w.tid);
    // children: 1 by the window's clipping style, 2 all, 0 none.
    if (children == 0 || (children == 1 && (w.style & WS_CLIPCHILDREN)))
        return;
    for (HWND c : w.children) {
        auto cw = FindLocked(c);
        if (!cw || !(cw->style & WS_VISIBLE))
            continue;
        RECT part{};
        if (!IntersectRect(&part, &r, &cw->rect))
            continue;
        OffsetRect(&part, -cw->rect.left, -cw->rect.top);
        AddInvalidLocked(*cw, part, erase, children == 2 ? 2 : 1, wake);
    }
}

void SubtractValidLocked(Wnd& w, const RECT& r, int children) {
    if (w.update) {
        cairo_rectangle_int_t cr{r.left, r.top, r.right - r.left, r.bottom - r.top};
        cairo_region_subtract_rectangle(w.update, &cr);
        if (cairo_region_is_empty(w.update)) {
            cairo_region_destroy(w.update);
            w.update = nullptr;
            w.erase = false;
        }
    }
    if (children == 0 || (children == 1 && (w.style & WS_CLIPCHILDREN)))
        return;
    for (HWND c : w.children) {
        auto cw = FindLocked(c);
        RECT part{};
        if (!cw || !IntersectRect(&part, &r, &cw->rect))
            continue;
        OffsetRect(&part, -cw->rect.left, -cw->rect.top);
        SubtractValidLocked(*cw, part, children == 2 ? 2 : 1);
    }
}

bool Invalidate(HWND h, const RECT* rect, bool erase, int children) {
    std::vector<DWORD> wake;
    {
        auto lock = Lock();
        auto w = FindLocked(h);
        if (!w)
            return false;
        RECT client = ClientRectOf(*w);
        RECT r = client;
        if (rect && !IntersectRect(&r, rect, &client))
            return true; // nothing of it lies in the window (an empty rectangle included)
        AddInvalidLocked(*w, r, erase, children, wake);
    }
    for (DWORD tid : wake)
        afxuser::WakeThreadQueue(tid);
    return true;
}

bool HasUpdate(HWND h) {
    auto lock = Lock();
    auto w = FindLocked(h);
    return w && w->update && afxuser::VisibleLocked(*w);
}

// Lock held: the window and its descendants with something to paint, parents first.
void CollectPaintLocked(const Wnd& w, DWORD tid, std::vector<HWND>& out, bool self) {
    if (!(w.style & WS_VISIBLE))
        return;
    if (self && w.tid == tid && w.update)
        out.push_back(w.hwnd);
    for (HWND c : w.children)
        if (auto cw = FindLocked(c))
            CollectPaintLocked(*cw, tid, out, true);
}

void PaintNow(HWND h, bool children) {
    if (HasUpdate(h))
        SendMessageA(h, WM_PAINT, 0, 0);
    if (!children)
        return;
    std::vector<HWND> pending;
    {
        auto lock = Lock();
        auto w = FindLocked(h);
        if (w && afxuser::VisibleLocked(*w))
            CollectPaintLocked(*w, GetCurrentThreadId(), pending, false);
    }
    for (HWND c : pending)
        if (HasUpdate(c))
            SendMessageA(c, WM_PAINT, 0, 0);
}

void ReportDamage(HWND h, const RECT& r) {
    HWND root = nullptr;
    RECT inRoot = r;
    {
        auto lock = Lock();
        auto w = FindLocked(h);
        if (!w || !afxuser::VisibleLocked(*w))
            return;
        root = afxuser::RootLocked(h);
        auto rw = FindLocked(root);
        POINT o = afxuser::ScreenOriginLocked(*w);
        POINT ro = rw ? afxuser::ScreenOriginLocked(*rw) : POINT{0, 0};
        OffsetRect(&inRoot, o.x - ro.x, o.y - ro.y);
    }
    if (root && !IsRectEmpty(&inRoot))
        afxuser::CurrentPresenter().WindowDamaged(root, inRoot);
}

HDC DCForWindow(HWND h, const RECT* clip) {
    cairo_surface_t* s = nullptr;
    {
        auto lock = Lock();
        auto w = FindLocked(h);
        if (!w || !w->surface)
            return nullptr;
        s = cairo_surface_reference(w->surface);
    }
    HDC dc = afxgdi::CreateDCForSurface(s, POINT{0, 0}, clip);
    cairo_surface_destroy(s);
    return dc;
}

void ComposeLocked(const Wnd& w, cairo_t* cr, int x, int y) {
    if (!w.surface)
        return;
    cairo_save(cr);
    cairo_rectangle(cr, x, y, w.rect.right - w.rect.left, w.rect.bottom - w.rect.top);
    cairo_clip(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, w.surface, x, y);
    cairo_paint(cr);
    for (auto it = w.children.rbegin(); it != w.children.rend(); ++it) {
        auto cw = FindLocked(*it);
        if (cw && (cw->style & WS_VISIBLE))
            ComposeLocked(*cw, cr, x + cw->rect.left, y + cw->rect.top);
    }
    cairo_restore(cr);
}

} // namespace

namespace afxuser {

void InvalidateWindow(HWND h, const RECT* rect, bool erase, bool children) {
    Invalidate(h, rect, erase, children ? 1 : 0);
}

void ResizeSurface(HWND h, int cx, int cy) {
    cairo_surface_t* fresh = afxgdi::CreateBackingSurface(std::max(cx, 1), std::max(cy, 1));
    cairo_surface_t* old = nullptr;
    {
        auto lock = Lock();
        auto w = FindLocked(h);
        if (!w) {
            old = fresh;
        } else {
            old = w->surface;
            w->surface = fresh;
        }
    }
    if (old)
        cairo_surface_destroy(old);
}

void FreePaintState(Wnd& w) {
    if (w.update)
        cairo_region_destroy(w.update);
    w.update = nullptr;
    if (w.surface)
        cairo_surface_destroy(w.surface);
    w.surface = nullptr;
}

HWND NextPaintWindow(DWORD tid, HWND filter) {
    auto lock = Lock();
    std::vector<HWND> pending;
    const auto& tops = DesktopLocked().topLevel;
    for (HWND t : tops) {
        if (auto w = FindLocked(t))
            CollectPaintLocked(*w, tid, pending, true);
        for (HWND p : pending)
            if (!filter || p == filter || IsChildLocked(filter, p))
                return p;
        pending.clear();
    }
    return nullptr;
}

void ComposeWindow(HWND hWnd, cairo_t* cr, int x, int y) {
    auto lock = Lock();
    auto w = FindLocked(hWnd);
    if (w)
        ComposeLocked(*w, cr, x, y);
}

std::vector<HWND> VisibleTopLevelWindows() {
    auto lock = Lock();
    std::vector<HWND> out;
    const auto& tops = DesktopLocked().topLevel;
    for (auto it = tops.rbegin(); it != tops.rend(); ++it) {
        auto w = FindLocked(*it);
        if (w && (w->style & WS_VISIBLE) && !(w->style & WS_MINIMIZE))
            out.push_back(*it);
    }
    return out;
}

cairo_surface_t* WindowSurface(HWND hWnd) {
    auto lock = Lock();
    auto w = FindLocked(hWnd);
    return (w && w->surface) ? cairo_surface_reference(w->surface) : nullptr;
}

} // namespace afxuser

BOOL InvalidateRect(HWND hWnd, const RECT* lpRect, BOOL bErase) {
    return Invalidate(hWnd, lpRect, bErase != FALSE, 1) ? TRUE : FALSE;
}

BOOL ValidateRect(HWND hWnd, const RECT* lpRect) {
    auto lock = Lock();
    auto w = FindLocked(hWnd);
    if (!w)
        return FALSE;
    RECT client = ClientRectOf(*w);
    RECT r = client;
    if (lpRect && !IntersectRect(&r, lpRect, &client))
        return TRUE;
    SubtractValidLocked(*w, r, 0);
    return TRUE;
}

BOOL GetUpdateRect(HWND hWnd, LPRECT lpRect, BOOL bErase) {
    RECT r{};
    bool erase = false;
    {
        auto lock = Lock();
        auto w = FindLocked(hWnd);
        if (!w)
            return FALSE;
        if (w->update) {
            cairo_rectangle_int_t e;
            cairo_region_get_extents(w->update, &e);
            r = RECT{e.x, e.y, e.x + e.width, e.y + e.height};
            erase = w->erase;
        }
    }
    if (lpRect)
        *lpRect = r;
    if (bErase && erase && !IsRectEmpty(&r)) {
        HDC dc = GetDC(hWnd);
        if (dc) {
            if (SendMessageA(hWnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0)) {
                auto lock = Lock();
                if (auto w = FindLocked(hWnd))
                    w->erase = false;
            }
            ReleaseDC(hWnd, dc);
        }
    }
    return IsRectEmpty(&r) ? FALSE : TRUE;
}

BOOL UpdateWindow(HWND hWnd) {
    if (!IsWindow(hWnd))
        return FALSE;
    PaintNow(hWnd, false);
    return TRUE;
}

BOOL RedrawWindow(HWND hWnd, const RECT* lprcUpdate, HRGN, UINT flags) {
    if (!IsWindow(hWnd))
        return FALSE;
    int children = (flags & RDW_NOCHILDREN) ? 0 : (flags & RDW_ALLCHILDREN) ? 2 : 1;
    if (flags & RDW_INVALIDATE) {
        Invalidate(hWnd, lprcUpdate, (flags & RDW_ERASE) != 0, children);
    } else if (flags & RDW_VALIDATE) {
        auto lock = Lock();
        auto w = FindLocked(hWnd);
        if (w) {
            RECT client = ClientRectOf(*w);
            RECT r = client;
            if (!lprcUpdate || IntersectRect(&r, lprcUpdate, &client))
                SubtractValidLocked(*w, r, children);
        }
    }
    if (flags & RDW_NOERASE) {
        auto lock = Lock();
        if (auto w = FindLocked(hWnd))
            w->erase = false;
    }
    if (flags & (RDW_UPDATENOW | RDW_ERASENOW))
        PaintNow(hWnd, children != 0);
    return TRUE;
}

HDC BeginPaint(HWND hWnd, LPPAINTSTRUCT lpPaint) {
    if (!lpPaint)
        return nullptr;
    *lpPaint = PAINTSTRUCT{};
    RECT bounds{};
    bool erase = false;
    {
        auto lock = Lock();
        auto w = FindLocked(hWnd);
        if (!w)
            return nullptr;
        if (w->update) {
            cairo_rectangle_int_t e;
            cairo_region_get_extents(w->update, &e);
            bounds = RECT{e.x, e.y, e.x + e.width, e.y + e.height};
            cairo_region_destroy(w->update);
            w->update = nullptr;
        }
        erase = w->erase;
        w->erase = false;
    }
    HDC dc = DCForWindow(hWnd, &bounds);
    lpPaint->hdc = dc;
    lpPaint->rcPaint = bounds;
    lpPaint->fErase = FALSE;
    if (erase && dc && !IsRectEmpty(&bounds))
        lpPaint->fErase = SendMessageA(hWnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0) ? FALSE : TRUE;
    return dc;
}

BOOL EndPaint(HWND hWnd, const PAINTSTRUCT* lpPaint) {
    if (!lpPaint)
        return FALSE;
    if (lpPaint->hdc)
        afxgdi::ReleaseDCForSurface(lpPaint->hdc);
    ReportDamage(hWnd, lpPaint->rcPaint);
    return TRUE;
}

HDC GetDC(HWND hWnd) {
    if (!hWnd) {
        // The screen: a DC to make compatible DCs and bitmaps from; drawing on it shows nothing.
        cairo_surface_t* surface = afxgdi::CreateBackingSurface(1, 1);
        RECT none{0, 0, 0, 0};
        HDC dc = afxgdi::CreateDCForSurface(surface, POINT{0, 0}, &none);
        cairo_surface_destroy(surface);
        return dc;
    }
    return DCForWindow(hWnd, nullptr);
}

HDC GetWindowDC(HWND hWnd) {
    return GetDC(hWnd);
}

int ReleaseDC(HWND hWnd, HDC hDC) {
    if (!hDC || !afxgdi::ReleaseDCForSurface(hDC))
        return 0;
    if (hWnd) {
        RECT r{};
        GetClientRect(hWnd, &r);
        ReportDamage(hWnd, r);
    }
    return 1;
}
