// Window geometry, showing and hiding, minimize and maximize, activation and focus, and the
// metrics of the presenter's screen.
#include "platform/kernel/WinError.h"
#include "platform/user/Presenter.h"
#include "platform/user/ForeignWindow.h"
#include "platform/user/WinUser.h"
#include "platform/user/WindowTable.h"

#include <algorithm>

using afxuser::Desktop;
using afxuser::DesktopLocked;
using afxuser::FindLocked;
using afxuser::Wnd;

namespace {

using afxuser::Lock;

UINT SizeType(DWORD style) {
    if (style & WS_MINIMIZE)
        return SIZE_MINIMIZED;
    if (style & WS_MAXIMIZE)
        return SIZE_MAXIMIZED;
    return SIZE_RESTORED;
}

// Lock held: moves h within its siblings' order.
void PlaceInOrderLocked(Wnd& w, HWND after) {
    std::vector<HWND>* order = &DesktopLocked().topLevel;
    if (w.parent) {
        auto p = FindLocked(w.parent);
        if (!p)
            return;
        order = &p->children;
    }
    order->erase(std::remove(order->begin(), order->end(), w.hwnd), order->end());
    if (after == HWND_TOP || after == HWND_TOPMOST || after == HWND_NOTOPMOST) {
        order->insert(order->begin(), w.hwnd);
    } else if (after == HWND_BOTTOM) {
        order->push_back(w.hwnd);
    } else {
        auto it = std::find(order->begin(), order->end(), after);
        order->insert(it == order->end() ? order->begin() : it + 1, w.hwnd);
    }
    if (w.parent)
        return;
    // Windows owned by this one (and theirs) stay above it, in their own order, as on Windows.
    auto ownedBy = [](HWND h, HWND owner) {
        auto c = FindLocked(h);
        for (int depth = 0; c && c->owner && depth < 64; ++depth) {
            if (c->owner == owner)
                return true;
            c = FindLocked(c->owner);
        }
        return false;
    };
    std::vector<HWND> owned;
    for (HWND h : *order)
        if (h != w.hwnd && ownedBy(h, w.hwnd))
            owned.push_back(h);
    if (owned.empty())
        return;
    order->erase(
        std::remove_if(order->begin(), order->end(),
                       [&](HWND h) { return std::find(owned.begin(), owned.end(), h) != owned.end(); }),
        order->end());
    order->insert(std::find(order->begin(), order->end(), w.hwnd), owned.begin(), owned.end());
}

// The one path every change of place, size, order and visibility takes.
BOOL SetWindowPosInternal(HWND hWnd, HWND after, int x, int y, int cx, int cy, UINT flags) {
    RECT old{};
    DWORD style = 0;
    bool topLevel = false;
    {
        auto lock = Lock();
        auto w = FindLocked(hWnd);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        old = w->rect;
        style = w->style;
        topLevel = w->parent == nullptr;
    }
    if (flags & SWP_NOMOVE) {
        x = old.left;
        y = old.top;
    }
    if (flags & SWP_NOSIZE) {
        cx = old.right - old.left;
        cy = old.bottom - old.top;
    }
    if ((flags & SWP_SHOWWINDOW) && (style & WS_VISIBLE))
        flags &= ~SWP_SHOWWINDOW;
    if ((flags & SWP_HIDEWINDOW) && !(style & WS_VISIBLE))
        flags &= ~SWP_HIDEWINDOW;
    WINDOWPOS wp{hWnd, after, x, y, std::max(cx, 0), std::max(cy, 0), flags};
    SendMessageA(hWnd, WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(&wp));
    flags = wp.flags;
    bool wasVisible = false, nowVisible = false;
    RECT now{};
    HWND parent = nullptr;
    {
        auto lock = Lock();
        auto w = FindLocked(hWnd);
        if (!w)
            return FALSE;
        wasVisible = afxuser::VisibleLocked(*w);
        if (!(flags & SWP_NOMOVE) || !(flags & SWP_NOSIZE)) {
            int ncx = (flags & SWP_NOSIZE) ? w->rect.right - w->rect.left : std::max(wp.cx, 0);
            int ncy = (flags & SWP_NOSIZE) ? w->rect.bottom - w->rect.top : std::max(wp.cy, 0);
            int nx = (flags & SWP_NOMOVE) ? w->rect.left : wp.x;
            int ny = (flags & SWP_NOMOVE) ? w->rect.top : wp.y;
            w->rect = RECT{nx, ny, nx + ncx, ny + ncy};
        }
        if (!(flags & SWP_NOZORDER))
            PlaceInOrderLocked(*w, wp.hwndInsertAfter);
        if (flags & SWP_SHOWWINDOW)
            w->style |= WS_VISIBLE;
        if (flags & SWP_HIDEWINDOW)
            w->style &= ~WS_VISIBLE;
        nowVisible = afxuser::VisibleLocked(*w);
        now = w->rect;
        parent = w->parent;
    }
    bool moved = now.left != old.left || now.top != old.top;
    bool sized =
        (now.right - now.left) != (old.right - old.left) || (now.bottom - now.top) != (old.bottom - old.top);
    if (!moved)
        flags |= SWP_NOMOVE;
    if (!sized)
        flags |= SWP_NOSIZE;
    if (sized)
        afxuser::ResizeSurface(hWnd, now.right - now.left, now.bottom - now.top);
    if (!topLevel && (moved || sized || (flags & (SWP_SHOWWINDOW | SWP_HIDEWINDOW))))
        afxuser::CurrentPresenter().ChildWindowChanged(hWnd);
    if (topLevel) {
        auto& presenter = afxuser::CurrentPresenter();
        if (moved || sized)
            presenter.WindowMoved(hWnd, now);
        if (!(flags & SWP_NOZORDER))
            presenter.WindowRaised(hWnd);
        if (flags & SWP_SHOWWINDOW)
            presenter.WindowShown(hWnd, true);
        if (flags & SWP_HIDEWINDOW)
            presenter.WindowShown(hWnd, false);
    }
    // What the window uncovers or covers anew is painted again.
    if (!(flags & SWP_NOREDRAW)) {
        if (nowVisible && (sized || (flags & SWP_SHOWWINDOW) || (!topLevel && moved)))
            afxuser::InvalidateWindow(hWnd, nullptr, true, true);
        if (!topLevel && wasVisible && (moved || sized || !nowVisible) && IsWindow(parent))
            afxuser::InvalidateWindow(parent, &old, true, true);
    }
    wp.x = now.left;
    wp.y = now.top;
    wp.cx = now.right - now.left;
    wp.cy = now.bottom - now.top;
    wp.flags = flags;
    SendMessageA(hWnd, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&wp));
    if ((flags & SWP_SHOWWINDOW) && topLevel && !(flags & SWP_NOACTIVATE)) {
        DWORD ex = static_cast<DWORD>(GetWindowLongPtrA(hWnd, GWL_EXSTYLE));
        if (!(ex & WS_EX_NOACTIVATE))
            afxuser::ActivateWindow(hWnd, WA_ACTIVE);
    }
    if ((flags & SWP_HIDEWINDOW)) {
        HWND active = GetActiveWindow();
        if (active && (active == hWnd || !IsWindowVisible(active)))
            afxuser::OnWindowGone(hWnd);
    }
    return TRUE;
}

RECT WorkArea() {
    return afxuser::CurrentPresenter().WorkArea();
}

void Minimize(HWND hWnd, bool activateNext) {
    {
        auto lock = Lock();
        auto w = FindLocked(hWnd);
        if (!w || (w->style & WS_MINIMIZE))
            return;
        w->restoreToMaximized = (w->style & WS_MAXIMIZE) != 0;
        if (!(w->style & WS_MAXIMIZE))
            w->restore = w->rect;
        w->style = (w->style | WS_MINIMIZE) & ~WS_MAXIMIZE;
    }
    // Off the screen with no client area, where Windows keeps minimized windows.
    SetWindowPosInternal(hWnd, HWND_TOP, -32000, -32000, 0, 0, SWP_NOZORDER | SWP_NOACTIVATE);
    if (activateNext && GetActiveWindow() == hWnd)
        afxuser::OnWindowGone(hWnd);
}

void Maximize(HWND hWnd, bool keepRestore = false) {
    MINMAXINFO mmi = afxuser::QueryMinMaxInfo(hWnd);
    {
        auto lock = Lock();
        auto w = FindLocked(hWnd);
        if (!w)
            return;
        if (!keepRestore && !(w->style & (WS_MAXIMIZE | WS_MINIMIZE)))
            w->restore = w->rect;
        w->style = (w->style | WS_MAXIMIZE) & ~WS_MINIMIZE;
    }
    // Placed where the window asked, even beyond the work area (a skinned frame hangs its
    // borders outside it).
    SetWindowPosInternal(hWnd, HWND_TOP, mmi.ptMaxPosition.x, mmi.ptMaxPosition.y, mmi.ptMaxSize.x,
                         mmi.ptMaxSize.y, SWP_NOZORDER | SWP_NOACTIVATE);
}

void Restore(HWND hWnd) {
    RECT r{};
    bool toMax = false;
    {
        auto lock = Lock();
        auto w = FindLocked(hWnd);
        if (!w || !(w->style & (WS_MAXIMIZE | WS_MINIMIZE)))
            return;
        toMax = (w->style & WS_MINIMIZE) && w->restoreToMaximized;
        w->style &= ~(WS_MAXIMIZE | WS_MINIMIZE);
        w->restoreToMaximized = false;
        r = w->restore;
    }
    if (toMax) {
        Maximize(hWnd, true);
        return;
    }
    SetWindowPosInternal(hWnd, HWND_TOP, r.left, r.top, r.right - r.left, r.bottom - r.top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
}

void ActivateIfAllowed(HWND hWnd) {
    DWORD ex = static_cast<DWORD>(GetWindowLongPtrA(hWnd, GWL_EXSTYLE));
    DWORD style = static_cast<DWORD>(GetWindowLongPtrA(hWnd, GWL_STYLE));
    if (!(ex & WS_EX_NOACTIVATE) && !(style & WS_CHILD))
        afxuser::ActivateWindow(hWnd, WA_ACTIVE);
}

} // namespace

namespace afxuser {

MINMAXINFO QueryMinMaxInfo(HWND hWnd) {
    RECT work = WorkArea();
    MINMAXINFO mmi{};
    mmi.ptMaxSize = POINT{work.right - work.left, work.bottom - work.top};
    mmi.ptMaxPosition = POINT{work.left, work.top};
    mmi.ptMinTrackSize = POINT{1, 1};
    SIZE screen = afxuser::CurrentPresenter().ScreenSize();
    mmi.ptMaxTrackSize = POINT{screen.cx + 8, screen.cy + 8};
    SendMessageA(hWnd, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&mmi));
    return mmi;
}

RECT FollowManagerRect(HWND hWnd, const RECT& screen) {
    RECT now{};
    if (!GetWindowRect(hWnd, &now))
        return now;
    int cx = screen.right - screen.left, cy = screen.bottom - screen.top;
    // A maximized window is where the manager maximized it; otherwise the manager's frame stands
    // for the sizing frame, which never leaves the tracking sizes.
    if (!IsZoomed(hWnd)) {
        MINMAXINFO mmi = QueryMinMaxInfo(hWnd);
        cx = std::clamp<int>(cx, std::max<LONG>(mmi.ptMinTrackSize.x, 1),
                             std::max(mmi.ptMaxTrackSize.x, mmi.ptMinTrackSize.x));
        cy = std::clamp<int>(cy, std::max<LONG>(mmi.ptMinTrackSize.y, 1),
                             std::max(mmi.ptMaxTrackSize.y, mmi.ptMinTrackSize.y));
    }
    if (screen.left != now.left || screen.top != now.top || cx != now.right - now.left ||
        cy != now.bottom - now.top)
        SetWindowPosInternal(hWnd, nullptr, screen.left, screen.top, cx, cy, SWP_NOZORDER | SWP_NOACTIVATE);
    GetWindowRect(hWnd, &now);
    return now;
}

void FollowManagerMaximized(HWND hWnd, bool maximized) {
    if (!IsWindow(hWnd) || IsIconic(hWnd) || (IsZoomed(hWnd) != FALSE) == maximized)
        return;
    // As the system's own frame does: the window hears the command and may act on it.
    SendMessageA(hWnd, WM_SYSCOMMAND, maximized ? SC_MAXIMIZE : SC_RESTORE, 0);
}

bool IsChildLocked(HWND parent, HWND h) {
    auto w = FindLocked(h);
    while (w && w->parent) {
        if (w->parent == parent)
            return true;
        w = FindLocked(w->parent);
    }
    return false;
}

// Deactivates the active window and activates h: WM_NCACTIVATE (with the caption state already
// set, so a handler that paints reads the new one), then WM_ACTIVATE, then focus by default.
void ActivateWindow(HWND h, UINT how) {
    HWND old = nullptr;
    {
        auto lock = Lock();
        h = RootLocked(h);
        auto w = FindLocked(h);
        if (!w || w->destroying)
            return;
        Desktop& d = DesktopLocked();
        if (d.active == h)
            return;
        old = d.active;
        d.active = h;
        if (auto o = FindLocked(old))
            o->activeCaption = false;
        w->lastActivePopup = h;
        if (auto o = FindLocked(w->owner))
            o->lastActivePopup = h;
        PlaceInOrderLocked(*w, HWND_TOP);
    }
    if (old && IsWindow(old)) {
        SendMessageA(old, WM_NCACTIVATE, FALSE, 0);
        SendMessageA(old, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, IsIconic(old) ? 1 : 0),
                     reinterpret_cast<LPARAM>(h));
    }
    {
        auto lock = Lock();
        if (DesktopLocked().active != h)
            return; // a handler activated another window meanwhile
        if (auto w = FindLocked(h))
            w->activeCaption = true;
    }
    CurrentPresenter().WindowRaised(h);
    SendMessageA(h, WM_NCACTIVATE, TRUE, 0);
    SendMessageA(h, WM_ACTIVATE, MAKEWPARAM(how, IsIconic(h) ? 1 : 0), reinterpret_cast<LPARAM>(old));
}

void OnWindowGone(HWND h) {
    HWND next = nullptr;
    bool wasActive = false;
    HWND lostCapture = nullptr;
    {
        auto lock = Lock();
        Desktop& d = DesktopLocked();
        if (d.capture && (d.capture == h || IsChildLocked(h, d.capture))) {
            lostCapture = d.capture;
            d.capture = nullptr;
        }
        auto w = FindLocked(h);
        if (d.active == h && w) {
            wasActive = true;
            // The owner first, then the topmost other visible top-level window.
            if (w->owner) {
                auto o = FindLocked(w->owner);
                if (o && VisibleLocked(*o) && !(o->style & WS_MINIMIZE) && !o->destroying)
                    next = o->hwnd;
            }
            for (HWND t : d.topLevel) {
                if (next)
                    break;
                auto tw = FindLocked(t);
                if (t != h && tw && !tw->destroying && VisibleLocked(*tw) && !(tw->style & WS_MINIMIZE) &&
                    !(tw->exStyle & WS_EX_NOACTIVATE))
                    next = t;
            }
            if (!next) {
                d.active = nullptr;
                w->activeCaption = false;
            }
        }
    }
    if (lostCapture)
        SendMessageA(lostCapture, WM_CAPTURECHANGED, 0, 0);
    if (next) {
        ActivateWindow(next, WA_ACTIVE);
    } else if (wasActive) {
        SendMessageA(h, WM_NCACTIVATE, FALSE, 0);
        SendMessageA(h, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 0), 0);
    }
    HWND focus = GetFocus();
    if (focus && (focus == h || IsChild(h, focus)))
        SetFocus(nullptr);
}

} // namespace afxuser

// Tree and geometry.

BOOL IsWindowVisible(HWND hWnd) {
    auto lock = Lock();
    auto w = FindLocked(hWnd);
    return w && afxuser::VisibleLocked(*w) ? TRUE : FALSE;
}

BOOL IsWindowEnabled(HWND hWnd) {
    auto lock = Lock();
    auto w = FindLocked(hWnd);
    return w && !(w->style & WS_DISABLED) ? TRUE : FALSE;
}

BOOL EnableWindow(HWND hWnd, BOOL bEnable) {
    bool wasDisabled = false;
    {
        auto lock = Lock();
        auto w = FindLocked(hWnd);
        if (!w)
            return FALSE;
        wasDisabled = (w->style & WS_DISABLED) != 0;
        if (bEnable)
            w->style &= ~WS_DISABLED;
        else
            w->style |= WS_DISABLED;
    }
    if (wasDisabled == !bEnable)
        return wasDisabled;
    SendMessageA(hWnd, WM_ENABLE, bEnable ? TRUE : FALSE, 0);
    if (!bEnable && GetFocus() && (GetFocus() == hWnd || IsChild(hWnd, GetFocus())))
        SetFocus(nullptr);
    return wasDisabled;
}

BOOL IsIconic(HWND hWnd) {
    if (auto* f = afxuser::ForeignWindowsFor(hWnd))
        return f->IsIconic(hWnd);
    return (GetWindowLongPtrA(hWnd, GWL_STYLE) & WS_MINIMIZE) ? TRUE : FALSE;
}

BOOL IsZoomed(HWND hWnd) {
    return (GetWindowLongPtrA(hWnd, GWL_STYLE) & WS_MAXIMIZE) ? TRUE : FALSE;
}

BOOL IsChild(HWND hWndParent, HWND hWnd) {
    auto lock = Lock();
    return afxuser::IsChildLocked(hWndParent, hWnd) ? TRUE : FALSE;
}

static HWND GetOwnWindow(HWND hWnd, UINT uCmd) {
    auto lock = Lock();
    auto w = FindLocked(hWnd);
    if (!w)
        return nullptr;
    if (uCmd == GW_CHILD)
        return w->children.empty() ? nullptr : w->children.front();
    if (uCmd == GW_OWNER)
        return w->owner;
    const std::vector<HWND>* order = &DesktopLocked().topLevel;
    if (w->parent) {
        auto p = FindLocked(w->parent);
        if (!p)
            return nullptr;
        order = &p->children;
    }
    if (order->empty())
        return nullptr;
    auto it = std::find(order->begin(), order->end(), hWnd);
    switch (uCmd) {
    case GW_HWNDFIRST:
        return order->front();
    case GW_HWNDLAST:
        return order->back();
    case GW_HWNDNEXT:
        return (it == order->end() || it + 1 == order->end()) ? nullptr : *(it + 1);
    case GW_HWNDPREV:
        return (it == order->end() || it == order->begin()) ? nullptr : *(it - 1);
    default:
        return nullptr;
    }
}

HWND GetWindow(HWND hWnd, UINT uCmd) {
    return afxuser::GetWindowWithForeign(hWnd, uCmd, &GetOwnWindow);
}

HWND GetTopWindow(HWND hWnd) {
    if (!hWnd) {
        auto lock = Lock();
        auto& t = DesktopLocked().topLevel;
        return t.empty() ? nullptr : t.front();
    }
    return GetWindow(hWnd, GW_CHILD);
}

HWND GetDesktopWindow() {
    // The desktop is no window of ours; a null handle stands for the screen (GetDC of it gives
    // a DC for a screen-sized surface).
    return nullptr;
}

HWND GetAncestor(HWND hWnd, UINT gaFlags) {
    auto lock = Lock();
    auto w = FindLocked(hWnd);
    if (!w)
        return nullptr;
    if (gaFlags == GA_PARENT)
        return w->parent;
    HWND root = afxuser::RootLocked(hWnd);
    if (gaFlags == GA_ROOTOWNER) {
        auto r = FindLocked(root);
        while (r && r->owner) {
            auto o = FindLocked(r->owner);
            if (!o)
                break;
            r = o;
        }
        return r ? r->hwnd : root;
    }
    return root;
}

HWND GetDlgItem(HWND hDlg, int nIDDlgItem) {
    auto lock = Lock();
    auto w = FindLocked(hDlg);
    if (!w)
        return nullptr;
    for (HWND c : w->children) {
        auto cw = FindLocked(c);
        if (cw && cw->id == nIDDlgItem)
            return c;
    }
    return nullptr;
}

BOOL GetWindowRect(HWND hWnd, LPRECT lpRect) {
    if (!lpRect)
        return FALSE;
    auto lock = Lock();
    auto w = FindLocked(hWnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    POINT o = afxuser::ScreenOriginLocked(*w);
    *lpRect = RECT{o.x, o.y, o.x + (w->rect.right - w->rect.left), o.y + (w->rect.bottom - w->rect.top)};
    return TRUE;
}

BOOL GetClientRect(HWND hWnd, LPRECT lpRect) {
    if (!lpRect)
        return FALSE;
    auto lock = Lock();
    auto w = FindLocked(hWnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    *lpRect = RECT{0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
    return TRUE;
}

BOOL ClientToScreen(HWND hWnd, LPPOINT lpPoint) {
    auto lock = Lock();
    auto w = FindLocked(hWnd);
    if (!w || !lpPoint)
        return FALSE;
    POINT o = afxuser::ScreenOriginLocked(*w);
    lpPoint->x += o.x;
    lpPoint->y += o.y;
    return TRUE;
}

BOOL ScreenToClient(HWND hWnd, LPPOINT lpPoint) {
    auto lock = Lock();
    auto w = FindLocked(hWnd);
    if (!w || !lpPoint)
        return FALSE;
    POINT o = afxuser::ScreenOriginLocked(*w);
    lpPoint->x -= o.x;
    lpPoint->y -= o.y;
    return TRUE;
}

int MapWindowPoints(HWND hWndFrom, HWND hWndTo, LPPOINT lpPoints, UINT cPoints) {
    POINT from{0, 0}, to{0, 0};
    if (hWndFrom && !ClientToScreen(hWndFrom, &from))
        return 0;
    if (hWndTo && !ClientToScreen(hWndTo, &to))
        return 0;
    int dx = from.x - to.x, dy = from.y - to.y;
    for (UINT i = 0; i < cPoints; ++i) {
        lpPoints[i].x += dx;
        lpPoints[i].y += dy;
    }
    SetLastError(0);
    return MAKELONG(static_cast<WORD>(dx), static_cast<WORD>(dy));
}

BOOL MoveWindow(HWND hWnd, int X, int Y, int nWidth, int nHeight, BOOL bRepaint) {
    BOOL ok = SetWindowPosInternal(hWnd, HWND_TOP, X, Y, nWidth, nHeight,
                                   SWP_NOZORDER | SWP_NOACTIVATE | (bRepaint ? 0 : SWP_NOREDRAW));
    if (ok && bRepaint && IsWindowVisible(hWnd))
        afxuser::InvalidateWindow(hWnd, nullptr, true, true);
    return ok;
}

BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags) {
    return SetWindowPosInternal(hWnd, hWndInsertAfter, X, Y, cx, cy, uFlags);
}

BOOL BringWindowToTop(HWND hWnd) {
    return SetWindowPosInternal(hWnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

BOOL ShowWindow(HWND hWnd, int nCmdShow) {
    if (auto* f = afxuser::ForeignWindowsFor(hWnd))
        return f->ShowWindow(hWnd, nCmdShow);
    DWORD style = static_cast<DWORD>(GetWindowLongPtrA(hWnd, GWL_STYLE));
    if (!IsWindow(hWnd))
        return FALSE;
    {
        // Shown or hidden on its own: no longer one that its owner brings back.
        auto lock = Lock();
        if (auto w = FindLocked(hWnd))
            w->hiddenWithOwner = false;
    }
    BOOL wasVisible = (style & WS_VISIBLE) ? TRUE : FALSE;
    bool child = (style & WS_CHILD) != 0;
    switch (nCmdShow) {
    case SW_HIDE:
        if (wasVisible) {
            SendMessageA(hWnd, WM_SHOWWINDOW, FALSE, 0);
            SetWindowPosInternal(hWnd, nullptr, 0, 0, 0, 0,
                                 SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        break;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE:
        if (!wasVisible)
            SendMessageA(hWnd, WM_SHOWWINDOW, TRUE, 0);
        Minimize(hWnd, true);
        if (!wasVisible)
            SetWindowPosInternal(hWnd, nullptr, 0, 0, 0, 0,
                                 SWP_SHOWWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        break;
    case SW_SHOWMAXIMIZED:
        if (!wasVisible)
            SendMessageA(hWnd, WM_SHOWWINDOW, TRUE, 0);
        Maximize(hWnd);
        SetWindowPosInternal(hWnd, HWND_TOP, 0, 0, 0, 0,
                             SWP_SHOWWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        if (!child)
            ActivateIfAllowed(hWnd);
        break;
    case SW_SHOWNORMAL:
    case SW_RESTORE:
    case SW_SHOWDEFAULT:
        if (!wasVisible)
            SendMessageA(hWnd, WM_SHOWWINDOW, TRUE, 0);
        Restore(hWnd);
        SetWindowPosInternal(hWnd, HWND_TOP, 0, 0, 0, 0,
                             SWP_SHOWWINDOW | SWP_NOMOVE | SWP_NOSIZE | (child ? SWP_NOZORDER : 0) |
                                 SWP_NOACTIVATE);
        if (!child)
            ActivateIfAllowed(hWnd);
        break;
    case SW_SHOWNOACTIVATE:
    case SW_SHOWNA:
        if (!wasVisible) {
            SendMessageA(hWnd, WM_SHOWWINDOW, TRUE, 0);
            SetWindowPosInternal(hWnd, nullptr, 0, 0, 0, 0,
                                 SWP_SHOWWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        break;
    case SW_SHOW:
    default:
        // Shows and activates; a minimized window stays minimized.
        if (!wasVisible) {
            SendMessageA(hWnd, WM_SHOWWINDOW, TRUE, 0);
            SetWindowPosInternal(hWnd, HWND_TOP, 0, 0, 0, 0,
                                 SWP_SHOWWINDOW | SWP_NOMOVE | SWP_NOSIZE | (child ? SWP_NOZORDER : 0) |
                                     SWP_NOACTIVATE);
        }
        if (!child)
            ActivateIfAllowed(hWnd);
        break;
    }
    return wasVisible;
}

BOOL ShowOwnedPopups(HWND hWnd, BOOL fShow) {
    if (!IsWindow(hWnd))
        return FALSE;
    // Bottom first, so that the popups keep their order among themselves when shown again.
    std::vector<HWND> popups;
    {
        auto lock = Lock();
        const auto& order = DesktopLocked().topLevel;
        for (auto it = order.rbegin(); it != order.rend(); ++it) {
            auto w = FindLocked(*it);
            if (!w || w->owner != hWnd || w->destroying)
                continue;
            if (fShow ? w->hiddenWithOwner : (w->style & WS_VISIBLE) != 0)
                popups.push_back(*it);
        }
    }
    for (HWND h : popups) {
        {
            auto lock = Lock();
            if (auto w = FindLocked(h))
                w->hiddenWithOwner = !fShow;
        }
        SendMessageA(h, WM_SHOWWINDOW, fShow, fShow ? SW_PARENTOPENING : SW_PARENTCLOSING);
        SetWindowPosInternal(h, fShow ? HWND_TOP : nullptr, 0, 0, 0, 0,
                             (fShow ? SWP_SHOWWINDOW : SWP_HIDEWINDOW) | SWP_NOMOVE | SWP_NOSIZE |
                                 (fShow ? 0 : SWP_NOZORDER) | SWP_NOACTIVATE);
    }
    return TRUE;
}

BOOL GetWindowInfo(HWND hwnd, PWINDOWINFO pwi) {
    if (!pwi)
        return FALSE;
    RECT r{};
    if (!GetWindowRect(hwnd, &r))
        return FALSE;
    auto lock = Lock();
    auto w = FindLocked(hwnd);
    if (!w)
        return FALSE;
    pwi->rcWindow = r;
    pwi->rcClient = r;
    pwi->dwStyle = w->style;
    pwi->dwExStyle = w->exStyle;
    pwi->dwWindowStatus = (!w->parent && w->activeCaption) ? WS_ACTIVECAPTION : 0;
    pwi->cxWindowBorders = 0;
    pwi->cyWindowBorders = 0;
    pwi->atomWindowType = 0;
    pwi->wCreatorVersion = 0x0500;
    return TRUE;
}

// Activation and focus.

HWND SetActiveWindow(HWND hWnd) {
    HWND old = GetActiveWindow();
    if (!IsWindow(hWnd))
        return nullptr;
    afxuser::ActivateWindow(hWnd, WA_ACTIVE);
    return old;
}

HWND GetActiveWindow() {
    auto lock = Lock();
    return DesktopLocked().active;
}

BOOL SetForegroundWindow(HWND hWnd) {
    if (auto* f = afxuser::ForeignWindowsFor(hWnd))
        return f->SetForegroundWindow(hWnd);
    if (!IsWindow(hWnd))
        return FALSE;
    afxuser::ActivateWindow(hWnd, WA_ACTIVE);
    return TRUE;
}

HWND GetForegroundWindow() {
    return GetActiveWindow();
}

HWND GetLastActivePopup(HWND hWnd) {
    if (auto* f = afxuser::ForeignWindowsFor(hWnd))
        return f->GetLastActivePopup(hWnd);
    auto lock = Lock();
    auto w = FindLocked(hWnd);
    auto p = w ? FindLocked(w->lastActivePopup) : nullptr;
    // The popup activated last, while it can still take the activation.
    if (p && p->owner == hWnd && !p->destroying && afxuser::VisibleLocked(*p) && !(p->style & WS_DISABLED))
        return p->hwnd;
    return hWnd;
}

HWND SetFocus(HWND hWnd) {
    HWND old = nullptr;
    {
        auto lock = Lock();
        if (hWnd && !FindLocked(hWnd))
            return nullptr;
        old = DesktopLocked().focus;
        if (old == hWnd)
            return old;
        DesktopLocked().focus = hWnd;
    }
    if (hWnd) {
        HWND root = GetAncestor(hWnd, GA_ROOT);
        if (root != GetActiveWindow())
            afxuser::ActivateWindow(root, WA_ACTIVE);
    }
    if (old && IsWindow(old))
        SendMessageA(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hWnd), 0);
    if (hWnd && GetFocus() == hWnd)
        SendMessageA(hWnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
    // A handler may have moved the focus on again: the screen hears of where it ended.
    if (GetFocus() == hWnd)
        afxuser::CurrentPresenter().FocusChanged(hWnd);
    return old;
}

HWND GetFocus() {
    auto lock = Lock();
    return DesktopLocked().focus;
}

// Metrics.

int GetSystemMetrics(int nIndex) {
    auto& p = afxuser::CurrentPresenter();
    switch (nIndex) {
    case SM_CXSCREEN:
        return p.ScreenSize().cx;
    case SM_CYSCREEN:
        return p.ScreenSize().cy;
    case SM_CYCAPTION: // the band the dialog manager draws over a captioned dialog
        return 26;
    case SM_CXICON:
    case SM_CYICON:
        return 32;
    case SM_CXSMICON:
    case SM_CYSMICON:
        return 16;
    case SM_CXDOUBLECLK:
    case SM_CYDOUBLECLK:
        return 4;
    default:
        return 0;
    }
}

BOOL SystemParametersInfoA(UINT uiAction, UINT, PVOID pvParam, UINT) {
    if (uiAction == SPI_GETWORKAREA && pvParam) {
        *static_cast<RECT*>(pvParam) = afxuser::CurrentPresenter().WorkArea();
        return TRUE;
    }
    return FALSE;
}

// Default handling of the window messages, for DefWindowProc.

namespace afxuser {

LRESULT DefaultSysCommand(HWND hWnd, WPARAM wParam) {
    switch (wParam & 0xFFF0) {
    case SC_MAXIMIZE:
        Maximize(hWnd);
        if (!IsWindowVisible(hWnd))
            ShowWindow(hWnd, SW_SHOW);
        ActivateIfAllowed(hWnd);
        return 0;
    case SC_MINIMIZE:
        Minimize(hWnd, true);
        return 0;
    case SC_RESTORE:
        Restore(hWnd);
        if (!IsWindowVisible(hWnd))
            ShowWindow(hWnd, SW_SHOW);
        ActivateIfAllowed(hWnd);
        return 0;
    case SC_CLOSE:
        SendMessageA(hWnd, WM_CLOSE, 0, 0);
        return 0;
    default:
        return 0;
    }
}

void DefaultWindowPosChanged(HWND hWnd, const WINDOWPOS* wp) {
    if (!wp)
        return;
    DWORD style = static_cast<DWORD>(GetWindowLongPtrA(hWnd, GWL_STYLE));
    if (!(wp->flags & SWP_NOMOVE)) {
        RECT r{};
        {
            auto lock = Lock();
            auto w = FindLocked(hWnd);
            if (!w)
                return;
            r = w->rect;
        }
        SendMessageA(hWnd, WM_MOVE, 0, MAKELPARAM(static_cast<WORD>(r.left), static_cast<WORD>(r.top)));
    }
    if (!(wp->flags & SWP_NOSIZE)) {
        RECT c{};
        GetClientRect(hWnd, &c);
        SendMessageA(hWnd, WM_SIZE, SizeType(style), MAKELPARAM(c.right, c.bottom));
    }
}

} // namespace afxuser
