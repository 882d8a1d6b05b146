// Windows: classes, the window table, creation and destruction, the tree, window data and
// properties.
#include "platform/base/AfxAscii.h"
#include "platform/kernel/WinError.h"
#include "platform/user/Presenter.h"
#include "platform/user/ForeignWindow.h"
#include "platform/user/WinUser.h"
#include "platform/user/WindowCore.h"
#include "platform/user/WindowTable.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

using afxuser::Wnd;

namespace {

struct WndClass {
    WNDCLASSA wc;
    std::string name;
};

std::mutex g_mx; // guards the tables below, the windows in them and the desktop state
std::unordered_map<HWND, std::shared_ptr<Wnd>>& Windows() {
    static auto* m = new std::unordered_map<HWND, std::shared_ptr<Wnd>>;
    return *m;
}
std::map<std::string, WndClass>& Classes() {
    static auto* m = new std::map<std::string, WndClass>;
    return *m;
}
uintptr_t g_nextHwnd = 0x10000;

// Window class and property names are ANSI text: a double-byte character's trail byte is no letter.
std::string Lower(LPCSTR s) {
    return AfxAnsiLower(s ? s : "");
}
std::shared_ptr<Wnd> FindWnd(HWND h) {
    std::lock_guard<std::mutex> lock(g_mx);
    auto it = Windows().find(h);
    return it == Windows().end() ? nullptr : it->second;
}

LRESULT CallProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    // Read under the lock: another thread may subclass the window (SetWindowLongPtr) meanwhile.
    WNDPROC proc = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_mx);
        auto it = Windows().find(h);
        if (it != Windows().end())
            proc = it->second->proc;
    }
    return proc ? proc(h, msg, w, l) : 0;
}

// Lock held: takes the window out of the table and out of its parent's or the screen's order.
void DropWindowLocked(HWND h) {
    auto it = Windows().find(h);
    if (it == Windows().end())
        return;
    std::shared_ptr<Wnd> w = it->second;
    Windows().erase(it);
    std::vector<HWND>* order = &afxuser::DesktopLocked().topLevel;
    if (w->parent) {
        auto p = Windows().find(w->parent);
        order = p == Windows().end() ? nullptr : &p->second->children;
    }
    if (order)
        order->erase(std::remove(order->begin(), order->end(), h), order->end());
    afxuser::FreePaintState(*w);
}

LRESULT DefaultProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    return DefWindowProcA(h, m, w, l);
}

} // namespace

namespace afxuser {

std::mutex& TableMutex() {
    return g_mx;
}

std::shared_ptr<Wnd> FindLocked(HWND h) {
    auto it = Windows().find(h);
    return it == Windows().end() ? nullptr : it->second;
}

std::shared_ptr<Wnd> Find(HWND h) {
    return FindWnd(h);
}

Desktop& DesktopLocked() {
    static auto* d = new Desktop;
    return *d;
}

POINT ScreenOriginLocked(const Wnd& w) {
    POINT p{w.rect.left, w.rect.top};
    HWND parent = w.parent;
    while (parent) {
        auto pw = FindLocked(parent);
        if (!pw)
            break;
        p.x += pw->rect.left;
        p.y += pw->rect.top;
        parent = pw->parent;
    }
    return p;
}

bool VisibleLocked(const Wnd& w) {
    if (!(w.style & WS_VISIBLE))
        return false;
    HWND parent = w.parent;
    while (parent) {
        auto pw = FindLocked(parent);
        if (!pw || !(pw->style & WS_VISIBLE))
            return false;
        parent = pw->parent;
    }
    return true;
}

HWND RootLocked(HWND h) {
    auto w = FindLocked(h);
    while (w && w->parent) {
        auto p = FindLocked(w->parent);
        if (!p)
            break;
        w = p;
    }
    return w ? w->hwnd : nullptr;
}

} // namespace afxuser

// Classes and windows.

ATOM RegisterClassA(const WNDCLASSA* lpWndClass) {
    if (!lpWndClass || !lpWndClass->lpszClassName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard<std::mutex> lock(g_mx);
    std::string key = Lower(lpWndClass->lpszClassName);
    if (Classes().count(key)) {
        SetLastError(1410); // ERROR_CLASS_ALREADY_EXISTS
        return 0;
    }
    WndClass c{*lpWndClass, lpWndClass->lpszClassName};
    Classes()[key] = c;
    Classes()[key].wc.lpszClassName = Classes()[key].name.c_str();
    return static_cast<ATOM>(0xC000 + Classes().size());
}

BOOL UnregisterClassA(LPCSTR lpClassName, void*) {
    std::lock_guard<std::mutex> lock(g_mx);
    return Classes().erase(Lower(lpClassName)) ? TRUE : FALSE;
}

HWND CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int x, int y,
                     int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, void* hInstance, LPVOID lpParam) {
    WNDPROC proc = nullptr;
    std::string className;
    UINT classStyle = 0;
    HCURSOR classCursor = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_mx);
        auto it = Classes().find(Lower(lpClassName));
        if (it == Classes().end()) {
            SetLastError(1407); // ERROR_CANNOT_FIND_WND_CLASS
            return nullptr;
        }
        proc = it->second.wc.lpfnWndProc ? it->second.wc.lpfnWndProc : &DefaultProc;
        className = it->second.name;
        classStyle = it->second.wc.style;
        classCursor = static_cast<HCURSOR>(it->second.wc.hCursor);
    }
    if (hWndParent == HWND_MESSAGE)
        hWndParent = nullptr;
    else if (hWndParent && !IsWindow(hWndParent)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    if ((dwStyle & WS_CHILD) && !hWndParent) {
        SetLastError(1406); // ERROR_TLW_WITH_WSCHILD
        return nullptr;
    }
    if (x == CW_USEDEFAULT)
        x = y = 0;
    if (nWidth == CW_USEDEFAULT)
        nWidth = nHeight = 0;
    nWidth = std::max(nWidth, 0);
    nHeight = std::max(nHeight, 0);
    afxuser::EnsureThreadQueue();
    auto w = std::make_shared<Wnd>();
    w->tid = GetCurrentThreadId();
    w->proc = proc;
    w->style = dwStyle;
    w->exStyle = dwExStyle;
    bool child = (dwStyle & WS_CHILD) != 0;
    w->parent = child ? hWndParent : nullptr;
    w->owner = child ? nullptr : hWndParent;
    w->className = className;
    w->classStyle = classStyle;
    w->classCursor = classCursor;
    w->text = lpWindowName ? lpWindowName : "";
    w->id = child ? reinterpret_cast<LONG_PTR>(hMenu) : 0;
    w->rect = RECT{x, y, x + nWidth, y + nHeight};
    {
        std::lock_guard<std::mutex> lock(g_mx);
        if (w->owner)
            w->owner = afxuser::RootLocked(w->owner); // a child never owns: its top-level window does
        g_nextHwnd += 4;
        w->hwnd = reinterpret_cast<HWND>(g_nextHwnd);
        Windows()[w->hwnd] = w;
        std::vector<HWND>* order = &afxuser::DesktopLocked().topLevel;
        if (child) {
            auto p = Windows().find(hWndParent);
            if (p == Windows().end()) {
                Windows().erase(w->hwnd);
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                return nullptr;
            }
            order = &p->second->children;
        }
        order->insert(order->begin(), w->hwnd);
    }
    HWND h = w->hwnd;
    afxuser::ResizeSurface(h, nWidth, nHeight);
    if (!child)
        afxuser::CurrentPresenter().WindowCreated(h);
    if (afxuser::PendingCreateWnd()) {
        afxuser::AttachPendingWnd(h);
        afxuser::PendingCreateWnd() = nullptr;
    }
    CREATESTRUCTA cs{lpParam,
                     hInstance,
                     hMenu,
                     hWndParent,
                     nHeight,
                     nWidth,
                     y,
                     x,
                     static_cast<LONG>(dwStyle),
                     lpWindowName,
                     className.c_str(),
                     dwExStyle};
    if (!SendMessageA(h, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs))) {
        // The object refused creation: no WM_DESTROY, only the final message.
        if (IsWindow(h)) {
            SendMessageA(h, WM_NCDESTROY, 0, 0);
            std::lock_guard<std::mutex> lock(g_mx);
            DropWindowLocked(h);
        }
        if (!child)
            afxuser::CurrentPresenter().WindowDestroyed(h);
        afxuser::ForgetWnd(h);
        return nullptr;
    }
    // No caption and no border: the client area the window asks for is the whole window.
    NCCALCSIZE_PARAMS ncp{};
    ncp.rgrc[0] = w->rect;
    SendMessageA(h, WM_NCCALCSIZE, FALSE, reinterpret_cast<LPARAM>(&ncp.rgrc[0]));
    if (SendMessageA(h, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        DestroyWindow(h);
        return nullptr;
    }
    if (!IsWindow(h))
        return nullptr;
    RECT r{};
    GetWindowRect(h, &r);
    SendMessageA(h, WM_SIZE, SIZE_RESTORED, MAKELPARAM(r.right - r.left, r.bottom - r.top));
    if (!IsWindow(h))
        return nullptr;
    {
        std::lock_guard<std::mutex> lock(g_mx);
        r = w->rect;
    }
    SendMessageA(h, WM_MOVE, 0, MAKELPARAM(r.left, r.top));
    if (!IsWindow(h))
        return nullptr;
    if (child)
        afxuser::CurrentPresenter().ChildWindowChanged(h);
    if (dwStyle & WS_VISIBLE) {
        SendMessageA(h, WM_SHOWWINDOW, TRUE, 0);
        afxuser::InvalidateWindow(h, nullptr, true, true);
        if (!child) {
            afxuser::CurrentPresenter().WindowShown(h, true);
            if (!(dwExStyle & WS_EX_NOACTIVATE))
                afxuser::ActivateWindow(h, WA_ACTIVE);
        }
    }
    return IsWindow(h) ? h : nullptr;
}

BOOL DestroyWindow(HWND hWnd) {
    auto w = FindWnd(hWnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (w->tid != GetCurrentThreadId()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    {
        std::lock_guard<std::mutex> lock(g_mx);
        if (w->destroying)
            return TRUE;
        w->destroying = true;
    }
    // Owned windows go first, as on Windows; then the window hands on activation, focus and
    // capture before it hears WM_DESTROY.
    std::vector<HWND> owned;
    {
        std::lock_guard<std::mutex> lock(g_mx);
        for (auto& [h, c] : Windows())
            if (c->owner == hWnd)
                owned.push_back(h);
    }
    for (HWND o : owned)
        DestroyWindow(o);
    bool topLevel = w->parent == nullptr;
    afxuser::OnWindowGone(hWnd);
    if (topLevel)
        afxuser::CurrentPresenter().WindowShown(hWnd, false);
    SendMessageA(hWnd, WM_DESTROY, 0, 0);
    std::vector<HWND> children;
    {
        std::lock_guard<std::mutex> lock(g_mx);
        children = w->children;
    }
    for (HWND c : children)
        DestroyWindow(c);
    SendMessageA(hWnd, WM_NCDESTROY, 0, 0);
    HWND parent = nullptr;
    RECT was{};
    bool wasVisible = false;
    {
        std::lock_guard<std::mutex> lock(g_mx);
        parent = w->parent;
        was = w->rect;
        wasVisible = afxuser::VisibleLocked(*w);
        DropWindowLocked(hWnd);
    }
    afxuser::ForgetInput(hWnd);
    afxuser::ForgetSystemMenu(hWnd);
    if (topLevel) {
        afxuser::CurrentPresenter().WindowDestroyed(hWnd);
    } else {
        afxuser::CurrentPresenter().ChildWindowChanged(hWnd);
        if (wasVisible && IsWindow(parent))
            afxuser::InvalidateWindow(parent, &was, true, true);
    }
    afxuser::SweepWindowMessages(hWnd);
    afxuser::ForgetWnd(hWnd);
    return TRUE;
}

BOOL IsWindow(HWND hWnd) {
    if (!hWnd)
        return FALSE;
    std::lock_guard<std::mutex> lock(g_mx);
    return Windows().count(hWnd) ? TRUE : FALSE;
}

HWND GetParent(HWND hWnd) {
    auto w = FindWnd(hWnd);
    if (!w)
        return nullptr;
    // A popup's owner counts as its parent, as on Windows.
    return w->parent ? w->parent : ((w->style & WS_POPUP) ? w->owner : nullptr);
}

DWORD GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId) {
    auto w = FindWnd(hWnd);
    if (!w)
        return 0;
    if (lpdwProcessId)
        *lpdwProcessId = GetCurrentProcessId();
    return w->tid;
}

LRESULT CallWindowProcA(WNDPROC lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    return lpPrevWndFunc ? lpPrevWndFunc(hWnd, Msg, wParam, lParam)
                         : DefWindowProcA(hWnd, Msg, wParam, lParam);
}

LONG_PTR GetWindowLongPtrA(HWND hWnd, int nIndex) {
    auto w = FindWnd(hWnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    std::lock_guard<std::mutex> lock(g_mx);
    switch (nIndex) {
    case GWLP_HWNDPARENT:
        return reinterpret_cast<LONG_PTR>(w->parent ? w->parent : w->owner);
    case GWLP_WNDPROC:
        return reinterpret_cast<LONG_PTR>(w->proc);
    case GWLP_USERDATA:
        return w->userData;
    case GWLP_ID:
        return w->id;
    case GWL_STYLE:
        return static_cast<LONG_PTR>(w->style);
    case GWL_EXSTYLE:
        return static_cast<LONG_PTR>(w->exStyle);
    default:
        return 0;
    }
}

LONG_PTR SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR v) {
    auto w = FindWnd(hWnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    std::lock_guard<std::mutex> lock(g_mx);
    LONG_PTR old = 0;
    switch (nIndex) {
    case GWLP_WNDPROC:
        old = reinterpret_cast<LONG_PTR>(w->proc);
        w->proc = reinterpret_cast<WNDPROC>(v);
        break;
    case GWLP_USERDATA:
        old = w->userData;
        w->userData = v;
        break;
    case GWLP_ID:
        old = w->id;
        w->id = v;
        break;
    case GWL_STYLE:
        old = static_cast<LONG_PTR>(w->style);
        w->style = static_cast<DWORD>(v);
        break;
    case GWL_EXSTYLE:
        old = static_cast<LONG_PTR>(w->exStyle);
        w->exStyle = static_cast<DWORD>(v);
        break;
    default:
        break;
    }
    return old;
}

DWORD GetClassLongA(HWND hWnd, int nIndex) {
    auto w = FindWnd(hWnd);
    if (!w)
        return 0;
    std::lock_guard<std::mutex> lock(g_mx);
    return nIndex == GCL_STYLE ? w->classStyle : 0;
}

int GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount) {
    auto w = FindWnd(hWnd);
    if (!w || !lpString || nMaxCount <= 0)
        return 0;
    std::lock_guard<std::mutex> lock(g_mx);
    int n = static_cast<int>(std::min<size_t>(w->text.size(), static_cast<size_t>(nMaxCount - 1)));
    std::copy_n(w->text.data(), n, lpString);
    lpString[n] = '\0';
    return n;
}

BOOL SetWindowTextA(HWND hWnd, LPCSTR lpString) {
    auto w = FindWnd(hWnd);
    if (!w)
        return FALSE;
    bool topLevel = false;
    {
        std::lock_guard<std::mutex> lock(g_mx);
        w->text = lpString ? lpString : "";
        topLevel = w->parent == nullptr;
    }
    // A top-level window's caption is what the desktop's task bar names it by.
    if (topLevel)
        afxuser::CurrentPresenter().WindowTextChanged(hWnd);
    return TRUE;
}

// Properties.

BOOL SetPropA(HWND hWnd, LPCSTR lpString, HANDLE hData) {
    afxuser::ForeignPropertyChanged(hWnd, lpString, true);
    auto w = FindWnd(hWnd);
    if (!w || !lpString)
        return FALSE;
    std::lock_guard<std::mutex> lock(g_mx);
    w->props[Lower(lpString)] = hData;
    return TRUE;
}

HANDLE GetPropA(HWND hWnd, LPCSTR lpString) {
    if (auto* f = afxuser::ForeignWindowsFor(hWnd))
        return f->GetProp(hWnd, lpString);
    auto w = FindWnd(hWnd);
    if (!w || !lpString)
        return nullptr;
    std::lock_guard<std::mutex> lock(g_mx);
    auto it = w->props.find(Lower(lpString));
    return it == w->props.end() ? nullptr : it->second;
}

HANDLE RemovePropA(HWND hWnd, LPCSTR lpString) {
    afxuser::ForeignPropertyChanged(hWnd, lpString, false);
    auto w = FindWnd(hWnd);
    if (!w || !lpString)
        return nullptr;
    std::lock_guard<std::mutex> lock(g_mx);
    auto it = w->props.find(Lower(lpString));
    if (it == w->props.end())
        return nullptr;
    HANDLE h = it->second;
    w->props.erase(it);
    return h;
}

// Hooks for the queue half.

namespace afxuser {

LRESULT CallWndProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    return CallProc(h, msg, w, l);
}

LRESULT CallOwnWndProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    // One look at the window for both questions: every dispatched message asks them.
    WNDPROC proc = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_mx);
        auto it = Windows().find(h);
        if (it != Windows().end() && it->second->tid == GetCurrentThreadId())
            proc = it->second->proc;
    }
    return proc ? proc(h, msg, w, l) : 0;
}

void DropThreadWindows(DWORD tid) {
    std::vector<HWND> gone;
    {
        std::lock_guard<std::mutex> lock(g_mx);
        for (auto& [h, w] : Windows())
            if (w->tid == tid)
                gone.push_back(h);
        for (HWND h : gone)
            DropWindowLocked(h);
    }
    for (HWND h : gone)
        afxuser::ForgetWnd(h);
}

} // namespace afxuser
