// Pointer and key input: routing by capture and hit test, cursors, double clicks, the system
// move loop, pointer tracking (leave and hover) and the key state.
#include "platform/user/Presenter.h"
#include "platform/user/WinUser.h"
#include "platform/user/WindowCore.h"
#include "platform/user/WindowTable.h"

#include <algorithm>
#include <cstdlib>
#include <set>

using afxuser::Desktop;
using afxuser::DesktopLocked;
using afxuser::FindLocked;
using afxuser::Wnd;

namespace {

using afxuser::Lock;

std::set<UINT>& KeysDown() {
    static auto* s = new std::set<UINT>;
    return *s;
}

// Lock held: the deepest visible window under a screen point, children before their parent,
// the topmost sibling first.
HWND WindowAtLocked(POINT pt, const std::vector<HWND>& skip = {}) {
    auto skipped = [&](HWND h) { return std::find(skip.begin(), skip.end(), h) != skip.end(); };
    Desktop& d = DesktopLocked();
    for (HWND t : d.topLevel) {
        auto w = FindLocked(t);
        if (!w || !(w->style & WS_VISIBLE) || (w->style & WS_MINIMIZE) || skipped(t))
            continue;
        POINT local{pt.x - w->rect.left, pt.y - w->rect.top};
        if (local.x < 0 || local.y < 0 || local.x >= w->rect.right - w->rect.left ||
            local.y >= w->rect.bottom - w->rect.top)
            continue;
        for (;;) {
            std::shared_ptr<Wnd> hit;
            for (HWND c : w->children) {
                auto cw = FindLocked(c);
                // A disabled child takes no pointer input: its parent gets it.
                if (cw && (cw->style & WS_VISIBLE) && !(cw->style & WS_DISABLED) && !skipped(c) &&
                    PtInRect(&cw->rect, local)) {
                    hit = cw;
                    break;
                }
            }
            if (!hit)
                return w->hwnd;
            local.x -= hit->rect.left;
            local.y -= hit->rect.top;
            w = hit;
        }
    }
    return nullptr;
}

DWORD KeyFlagsLocked() {
    DWORD k = DesktopLocked().buttons;
    if (KeysDown().count(VK_SHIFT))
        k |= MK_SHIFT;
    if (KeysDown().count(VK_CONTROL))
        k |= MK_CONTROL;
    return k;
}

UINT NonClientMessage(UINT m) {
    switch (m) {
    case WM_MOUSEMOVE:
        return WM_NCMOUSEMOVE;
    case WM_LBUTTONDOWN:
        return WM_NCLBUTTONDOWN;
    case WM_LBUTTONUP:
        return WM_NCLBUTTONUP;
    case WM_LBUTTONDBLCLK:
        return WM_NCLBUTTONDBLCLK;
    case WM_RBUTTONDOWN:
        return WM_NCRBUTTONDOWN;
    case WM_RBUTTONUP:
        return WM_NCRBUTTONUP;
    case WM_RBUTTONDBLCLK:
        return WM_NCRBUTTONDBLCLK;
    default:
        return m;
    }
}

bool IsButtonDown(UINT m) {
    return m == WM_LBUTTONDOWN || m == WM_RBUTTONDOWN || m == WM_LBUTTONDBLCLK || m == WM_RBUTTONDBLCLK;
}

void HoverTimerProc(HWND, UINT, UINT_PTR id, DWORD);

// Lock held: ends the tracking; returns the window that is owed a WM_MOUSELEAVE, if any.
HWND EndTrackingLocked(bool leave) {
    afxuser::Tracking& t = DesktopLocked().tracking;
    HWND h = (leave && (t.flags & TME_LEAVE)) ? t.hwnd : nullptr;
    t.flags = 0;
    t.hwnd = nullptr;
    return h;
}

void KillHoverTimer() {
    UINT_PTR id = 0;
    {
        auto lock = Lock();
        std::swap(id, DesktopLocked().tracking.hoverTimer);
    }
    if (id)
        KillTimer(nullptr, id);
}

void StartHoverTimer() {
    UINT_PTR id = 0;
    DWORD time = 0;
    {
        auto lock = Lock();
        const afxuser::Tracking& t = DesktopLocked().tracking;
        if (!(t.flags & TME_HOVER))
            return;
        id = t.hoverTimer;
        time = t.hoverTime;
    }
    id = SetTimer(nullptr, id, time, &HoverTimerProc);
    auto lock = Lock();
    DesktopLocked().tracking.hoverTimer = id;
}

void HoverTimerProc(HWND, UINT, UINT_PTR, DWORD) {
    HWND target = nullptr;
    POINT pt{};
    DWORD keys = 0;
    {
        auto lock = Lock();
        Desktop& d = DesktopLocked();
        afxuser::Tracking& t = d.tracking;
        if ((t.flags & TME_HOVER) && t.hwnd && WindowAtLocked(d.cursor) == t.hwnd) {
            target = t.hwnd;
            auto w = FindLocked(target);
            POINT o = w ? afxuser::ScreenOriginLocked(*w) : POINT{0, 0};
            pt = POINT{d.cursor.x - o.x, d.cursor.y - o.y};
            keys = KeyFlagsLocked();
        }
        t.flags &= ~TME_HOVER;
        if (!t.flags)
            t.hwnd = nullptr;
    }
    KillHoverTimer();
    if (target)
        PostMessageA(target, WM_MOUSEHOVER, keys,
                     MAKELPARAM(static_cast<WORD>(pt.x), static_cast<WORD>(pt.y)));
}

// After the pointer moved onto `over` with hit code `hit`: the tracked window gets its leave
// once the pointer is no longer over its client area, and a pointer at rest starts over.
void UpdateTracking(HWND over, LRESULT hit, bool moved) {
    HWND leave = nullptr;
    bool restart = false;
    {
        auto lock = Lock();
        afxuser::Tracking& t = DesktopLocked().tracking;
        if (!t.hwnd)
            return;
        if (over != t.hwnd || hit != HTCLIENT)
            leave = EndTrackingLocked(true);
        else
            restart = moved && (t.flags & TME_HOVER);
    }
    if (leave) {
        KillHoverTimer();
        PostMessageA(leave, WM_MOUSELEAVE, 0, 0);
    } else if (restart) {
        StartHoverTimer();
    }
}

HCURSOR StockCursor(LPCSTR id);

bool TranslateMouse(MSG* m) {
    UINT message = static_cast<UINT>(m->wParam & 0xFFFF);
    short wheel = static_cast<short>(HIWORD(m->wParam));
    POINT pt = m->pt;
    HWND moving = nullptr;
    POINT grab{};
    HWND capture = nullptr;
    HWND over = nullptr;
    DWORD keys = 0;
    {
        auto lock = Lock();
        Desktop& d = DesktopLocked();
        bool moved = d.cursor.x != pt.x || d.cursor.y != pt.y;
        d.cursor = pt;
        if (message == WM_LBUTTONDOWN || message == WM_LBUTTONDBLCLK)
            d.buttons |= MK_LBUTTON;
        else if (message == WM_LBUTTONUP)
            d.buttons &= ~MK_LBUTTON;
        else if (message == WM_RBUTTONDOWN || message == WM_RBUTTONDBLCLK)
            d.buttons |= MK_RBUTTON;
        else if (message == WM_RBUTTONUP)
            d.buttons &= ~MK_RBUTTON;
        keys = KeyFlagsLocked();
        moving = d.moving;
        grab = d.moveGrab;
        capture = d.capture;
        over = WindowAtLocked(pt);
        if (message == WM_MOUSEMOVE && !moved)
            return false; // the pointer did not move: nothing to tell
    }
    if (moving) {
        // The move loop takes every pointer event; the button going up ends it unseen.
        if (message == WM_MOUSEMOVE) {
            POINT origin{pt.x - grab.x, pt.y - grab.y};
            HWND parent = GetAncestor(moving, GA_PARENT);
            if (parent)
                ScreenToClient(parent, &origin);
            SetWindowPos(moving, nullptr, origin.x, origin.y, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        } else if (message == WM_LBUTTONUP) {
            {
                auto lock = Lock();
                DesktopLocked().moving = nullptr;
            }
            if (GetCapture() == moving)
                ReleaseCapture();
        }
        return false;
    }
    HWND target = capture;
    LRESULT hit = HTCLIENT;
    bool eat = false;
    if (!target) {
        target = over;
        // Nothing under the pointer, or a disabled window (the owner of a modal dialog): the
        // event goes nowhere.
        if (!target || !IsWindowEnabled(target)) {
            UpdateTracking(nullptr, HTNOWHERE, true);
            SetCursor(StockCursor(IDC_ARROW));
            return false;
        }
        hit = SendMessageA(target, WM_NCHITTEST, 0,
                           MAKELPARAM(static_cast<WORD>(pt.x), static_cast<WORD>(pt.y)));
        // A window that answers HTTRANSPARENT (a static text) lets the one beneath it take the
        // event; the walk is bounded so that windows answering so everywhere cannot loop.
        std::vector<HWND> transparent;
        while (hit == HTTRANSPARENT && transparent.size() < 32) {
            transparent.push_back(target);
            {
                auto lock = Lock();
                target = WindowAtLocked(pt, transparent);
            }
            if (!target || !IsWindowEnabled(target))
                return false;
            hit = SendMessageA(target, WM_NCHITTEST, 0,
                               MAKELPARAM(static_cast<WORD>(pt.x), static_cast<WORD>(pt.y)));
        }
        if (!IsWindow(target) || hit == HTTRANSPARENT)
            return false;
        UINT setCursorMsg = message == WM_MOUSEWHEEL ? WM_MOUSEMOVE : message;
        SendMessageA(target, WM_SETCURSOR, reinterpret_cast<WPARAM>(target),
                     MAKELPARAM(static_cast<WORD>(static_cast<short>(hit)), static_cast<WORD>(setCursorMsg)));
        if (IsButtonDown(message) && IsWindow(target)) {
            HWND top = GetAncestor(target, GA_ROOT);
            if (top != GetActiveWindow()) {
                LRESULT r = SendMessageA(
                    target, WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(top),
                    MAKELPARAM(static_cast<WORD>(static_cast<short>(hit)), static_cast<WORD>(message)));
                if (r == MA_ACTIVATE || r == MA_ACTIVATEANDEAT)
                    afxuser::ActivateWindow(top, WA_CLICKACTIVE);
                eat = r == MA_ACTIVATEANDEAT || r == MA_NOACTIVATEANDEAT;
            }
        }
        if (!IsWindow(target))
            return false;
    }
    UpdateTracking(capture ? over : target, capture ? (over == capture ? HTCLIENT : HTNOWHERE) : hit,
                   message == WM_MOUSEMOVE);
    if (eat)
        return false;
    m->hwnd = target;
    if (message == WM_MOUSEWHEEL) {
        // The wheel goes to the focus window, with screen coordinates.
        HWND focus = GetFocus();
        m->hwnd = focus ? focus : target;
        m->message = WM_MOUSEWHEEL;
        m->wParam = MAKEWPARAM(static_cast<WORD>(keys), static_cast<WORD>(wheel));
        m->lParam = MAKELPARAM(static_cast<WORD>(pt.x), static_cast<WORD>(pt.y));
        return true;
    }
    if (hit == HTCLIENT) {
        POINT c = pt;
        ScreenToClient(target, &c);
        UINT cls = static_cast<UINT>(GetClassLongA(target, GCL_STYLE));
        if (message == WM_LBUTTONDBLCLK && !(cls & CS_DBLCLKS))
            message = WM_LBUTTONDOWN;
        if (message == WM_RBUTTONDBLCLK && !(cls & CS_DBLCLKS))
            message = WM_RBUTTONDOWN;
        m->message = message;
        m->wParam = keys;
        m->lParam = MAKELPARAM(static_cast<WORD>(c.x), static_cast<WORD>(c.y));
    } else {
        m->message = NonClientMessage(message);
        m->wParam = static_cast<WPARAM>(hit);
        m->lParam = MAKELPARAM(static_cast<WORD>(pt.x), static_cast<WORD>(pt.y));
    }
    return true;
}

bool TranslateKey(MSG* m) {
    UINT message = static_cast<UINT>(m->wParam & 0xFFFF);
    UINT vk = static_cast<UINT>(m->lParam);
    HWND target = nullptr;
    {
        auto lock = Lock();
        Desktop& d = DesktopLocked();
        if (message == WM_KEYDOWN || message == WM_SYSKEYDOWN)
            KeysDown().insert(vk);
        else if (message == WM_KEYUP || message == WM_SYSKEYUP)
            KeysDown().erase(vk);
        target = d.focus ? d.focus : d.active;
    }
    if (!target)
        return false;
    m->hwnd = target;
    m->message = message;
    m->wParam = vk;
    // Bit 29 says Alt was held, as in the system's key messages.
    const bool sys = message == WM_SYSKEYDOWN || message == WM_SYSKEYUP || message == WM_SYSCHAR;
    const bool up = message == WM_KEYUP || message == WM_SYSKEYUP;
    m->lParam = static_cast<LPARAM>((up ? 0xC0000001u : 1u) | (sys ? 0x20000000u : 0u));
    return true;
}

// Distinct handles for the stock cursors; a presenter maps them onto its own shapes.
const LPCSTR kStockIds[] = {IDC_ARROW,  IDC_IBEAM,  IDC_WAIT,    IDC_SIZENWSE, IDC_SIZENESW,
                            IDC_SIZEWE, IDC_SIZENS, IDC_SIZEALL, IDC_HAND};
char g_stockCursors[sizeof kStockIds / sizeof kStockIds[0]];

HCURSOR StockCursor(LPCSTR id) {
    for (size_t i = 0; i < sizeof kStockIds / sizeof kStockIds[0]; ++i)
        if (kStockIds[i] == id)
            return reinterpret_cast<HCURSOR>(&g_stockCursors[i]);
    return nullptr;
}

} // namespace

namespace afxuser {

void InputMouse(UINT message, POINT screen, int wheelDelta) {
    MSG m{nullptr, kRawMouseInput, MAKEWPARAM(static_cast<WORD>(message), static_cast<WORD>(wheelDelta)),
          0,       GetTickCount(), screen};
    m.lParam = MAKELPARAM(static_cast<WORD>(screen.x), static_cast<WORD>(screen.y));
    PostThreadMessageA(GetCurrentThreadId(), m.message, m.wParam, m.lParam);
}

void InputKey(UINT message, UINT vk) {
    PostThreadMessageA(GetCurrentThreadId(), kRawKeyInput, message, static_cast<LPARAM>(vk));
}

BOOL TranslateInput(MSG* pMsg) {
    if (pMsg->message == kRawMouseInput) {
        pMsg->pt = POINT{GET_X_LPARAM(pMsg->lParam), GET_Y_LPARAM(pMsg->lParam)};
        return TranslateMouse(pMsg) ? TRUE : FALSE;
    }
    if (pMsg->message == kRawKeyInput)
        return TranslateKey(pMsg) ? TRUE : FALSE;
    return TRUE;
}

void ForgetInput(HWND h) {
    bool killTimer = false;
    {
        auto lock = Lock();
        Desktop& d = DesktopLocked();
        if (d.moving == h)
            d.moving = nullptr;
        if (d.tracking.hwnd == h) {
            EndTrackingLocked(false);
            killTimer = true;
        }
    }
    if (killTimer)
        KillHoverTimer();
}

LRESULT DefaultSetCursor(HWND h, WPARAM, LPARAM lParam) {
    HWND parent = GetAncestor(h, GA_PARENT);
    if (parent && SendMessageA(parent, WM_SETCURSOR, reinterpret_cast<WPARAM>(h), lParam))
        return TRUE;
    short hit = static_cast<short>(LOWORD(lParam));
    HCURSOR c = nullptr;
    switch (hit) {
    case HTLEFT:
    case HTRIGHT:
        c = StockCursor(IDC_SIZEWE);
        break;
    case HTTOP:
    case HTBOTTOM:
        c = StockCursor(IDC_SIZENS);
        break;
    case HTTOPLEFT:
    case HTBOTTOMRIGHT:
        c = StockCursor(IDC_SIZENWSE);
        break;
    case HTTOPRIGHT:
    case HTBOTTOMLEFT:
        c = StockCursor(IDC_SIZENESW);
        break;
    case HTCLIENT: {
        auto w = Find(h);
        c = (w && w->classCursor) ? w->classCursor : StockCursor(IDC_ARROW);
        break;
    }
    default:
        c = StockCursor(IDC_ARROW);
        break;
    }
    SetCursor(c);
    return FALSE;
}

LRESULT DefaultMouseActivate(HWND h, WPARAM wParam, LPARAM lParam) {
    HWND parent = GetAncestor(h, GA_PARENT);
    if (parent) {
        LRESULT r = SendMessageA(parent, WM_MOUSEACTIVATE, wParam, lParam);
        if (r)
            return r;
    }
    DWORD ex = static_cast<DWORD>(GetWindowLongPtrA(GetAncestor(h, GA_ROOT), GWL_EXSTYLE));
    return (ex & WS_EX_NOACTIVATE) ? MA_NOACTIVATE : MA_ACTIVATE;
}

void DefaultNcLButtonDown(HWND h, WPARAM hit, LPARAM) {
    if (hit != HTCAPTION)
        return; // no sizing frame: the sizing codes start nothing
    POINT at{};
    GetCursorPos(&at);
    if (!GetAncestor(h, GA_PARENT) && CurrentPresenter().RunMoveLoop(h, at)) {
        auto lock = Lock();
        DesktopLocked().buttons &= ~MK_LBUTTON; // the window manager took the button's release
        return;
    }
    RECT r{};
    GetWindowRect(h, &r);
    {
        auto lock = Lock();
        Desktop& d = DesktopLocked();
        d.moving = h;
        d.moveGrab = POINT{d.cursor.x - r.left, d.cursor.y - r.top};
    }
    SetCapture(h);
}

} // namespace afxuser

// Capture.

HWND SetCapture(HWND hWnd) {
    HWND old = nullptr;
    {
        auto lock = Lock();
        if (hWnd && !FindLocked(hWnd))
            return nullptr;
        old = DesktopLocked().capture;
        DesktopLocked().capture = hWnd;
    }
    if (old && old != hWnd && IsWindow(old))
        SendMessageA(old, WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(hWnd));
    return old;
}

BOOL ReleaseCapture() {
    HWND old = nullptr;
    {
        auto lock = Lock();
        Desktop& d = DesktopLocked();
        old = d.capture;
        d.capture = nullptr;
        if (d.moving == old)
            d.moving = nullptr;
    }
    if (old && IsWindow(old))
        SendMessageA(old, WM_CAPTURECHANGED, 0, 0);
    return TRUE;
}

HWND GetCapture() {
    auto lock = Lock();
    return DesktopLocked().capture;
}

BOOL GetCursorPos(LPPOINT lpPoint) {
    if (!lpPoint)
        return FALSE;
    // The pointer itself, as the tray's menu must open where the icon was clicked, which is no
    // window of ours.
    if (afxuser::CurrentPresenter().PointerPosition(lpPoint))
        return TRUE;
    auto lock = Lock();
    *lpPoint = DesktopLocked().cursor;
    return TRUE;
}

BOOL SetCursorPos(int X, int Y) {
    auto lock = Lock();
    DesktopLocked().cursor = POINT{X, Y};
    return TRUE;
}

HCURSOR SetCursor(HCURSOR hCursor) {
    HCURSOR old = nullptr;
    {
        auto lock = Lock();
        old = DesktopLocked().cursorShape;
        DesktopLocked().cursorShape = hCursor;
    }
    if (old != hCursor)
        afxuser::CurrentPresenter().CursorChanged(hCursor);
    return old;
}

HCURSOR GetCursor() {
    auto lock = Lock();
    return DesktopLocked().cursorShape;
}

HCURSOR LoadCursorA(void*, LPCSTR lpCursorName) {
    return StockCursor(lpCursorName);
}

BOOL _TrackMouseEvent(LPTRACKMOUSEEVENT t) {
    if (!t || t->cbSize < sizeof(TRACKMOUSEEVENT))
        return FALSE;
    if (t->dwFlags & TME_QUERY) {
        auto lock = Lock();
        const afxuser::Tracking& cur = DesktopLocked().tracking;
        t->dwFlags = cur.flags;
        t->hwndTrack = cur.hwnd;
        t->dwHoverTime = cur.hoverTime;
        return TRUE;
    }
    if (!IsWindow(t->hwndTrack))
        return FALSE;
    if (t->dwFlags & TME_CANCEL) {
        bool kill = false;
        {
            auto lock = Lock();
            afxuser::Tracking& cur = DesktopLocked().tracking;
            if (cur.hwnd == t->hwndTrack) {
                cur.flags &= ~(t->dwFlags & (TME_HOVER | TME_LEAVE));
                kill = !(cur.flags & TME_HOVER);
                if (!cur.flags)
                    cur.hwnd = nullptr;
            }
        }
        if (kill)
            KillHoverTimer();
        return TRUE;
    }
    HWND leaveNow = nullptr;
    HWND previous = nullptr;
    {
        auto lock = Lock();
        Desktop& d = DesktopLocked();
        afxuser::Tracking& cur = d.tracking;
        if (cur.hwnd && cur.hwnd != t->hwndTrack)
            previous = EndTrackingLocked(true);
        if (cur.hwnd != t->hwndTrack)
            cur.flags = 0;
        cur.hwnd = t->hwndTrack;
        cur.flags |= t->dwFlags & (TME_HOVER | TME_LEAVE);
        cur.hoverTime = t->dwHoverTime == HOVER_DEFAULT ? 400 : t->dwHoverTime;
        // Asked while the pointer is elsewhere already: the leave is due at once.
        if ((cur.flags & TME_LEAVE) && WindowAtLocked(d.cursor) != t->hwndTrack)
            leaveNow = EndTrackingLocked(true);
    }
    if (previous)
        PostMessageA(previous, WM_MOUSELEAVE, 0, 0);
    if (leaveNow) {
        KillHoverTimer();
        PostMessageA(leaveNow, WM_MOUSELEAVE, 0, 0);
        return TRUE;
    }
    StartHoverTimer();
    return TRUE;
}

SHORT GetKeyState(int nVirtKey) {
    auto lock = Lock();
    if (nVirtKey == 0x01) // VK_LBUTTON
        return (DesktopLocked().buttons & MK_LBUTTON) ? static_cast<SHORT>(0x8000) : 0;
    if (nVirtKey == 0x02) // VK_RBUTTON
        return (DesktopLocked().buttons & MK_RBUTTON) ? static_cast<SHORT>(0x8000) : 0;
    return KeysDown().count(static_cast<UINT>(nVirtKey)) ? static_cast<SHORT>(0x8000) : 0;
}

SHORT GetAsyncKeyState(int vKey) {
    return GetKeyState(vKey);
}
