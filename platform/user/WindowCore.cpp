// Windows: classes, the window table, creation and destruction, window data and properties.
#include "platform/kernel/WinError.h"
#include "platform/user/WinUser.h"
#include "platform/user/WindowCore.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

struct Wnd {
    HWND hwnd;
    DWORD tid;
    WNDPROC proc;
    LONG_PTR userData = 0;
    LONG_PTR id = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
    HWND parent = nullptr;
    bool destroying = false;
    std::string className;
    std::string text;
    std::map<std::string, HANDLE> props;
};

struct WndClass {
    WNDCLASSA wc;
    std::string name;
};

std::mutex g_mx; // guards the tables below and the windows in them
std::unordered_map<HWND, std::shared_ptr<Wnd>>& Windows() {
    static auto* m = new std::unordered_map<HWND, std::shared_ptr<Wnd>>;
    return *m;
}
std::map<std::string, WndClass>& Classes() {
    static auto* m = new std::map<std::string, WndClass>;
    return *m;
}
uintptr_t g_nextHwnd = 0x10000;

std::string Lower(LPCSTR s) {
    std::string r = s ? s : "";
    for (char& c : r)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return r;
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
void DropWindowLocked(HWND h) {
    Windows().erase(h);
}
LRESULT DefaultProc(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

} // namespace

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
    {
        std::lock_guard<std::mutex> lock(g_mx);
        auto it = Classes().find(Lower(lpClassName));
        if (it == Classes().end()) {
            SetLastError(1407); // ERROR_CANNOT_FIND_WND_CLASS
            return nullptr;
        }
        proc = it->second.wc.lpfnWndProc ? it->second.wc.lpfnWndProc : &DefaultProc;
        className = it->second.name;
    }
    if (hWndParent == HWND_MESSAGE)
        hWndParent = nullptr;
    else if (hWndParent && !IsWindow(hWndParent)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    afxuser::EnsureThreadQueue();
    auto w = std::make_shared<Wnd>();
    w->tid = GetCurrentThreadId();
    w->proc = proc;
    w->style = dwStyle;
    w->exStyle = dwExStyle;
    w->parent = hWndParent;
    w->className = className;
    w->text = lpWindowName ? lpWindowName : "";
    w->id = (dwStyle & WS_CHILD) ? reinterpret_cast<LONG_PTR>(hMenu) : 0;
    {
        std::lock_guard<std::mutex> lock(g_mx);
        g_nextHwnd += 4;
        w->hwnd = reinterpret_cast<HWND>(g_nextHwnd);
        Windows()[w->hwnd] = w;
    }
    HWND h = w->hwnd;
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
        afxuser::ForgetWnd(h);
        return nullptr;
    }
    if (SendMessageA(h, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        DestroyWindow(h);
        return nullptr;
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
    SendMessageA(hWnd, WM_DESTROY, 0, 0);
    std::vector<HWND> children;
    {
        std::lock_guard<std::mutex> lock(g_mx);
        for (auto& [h, c] : Windows())
            if (c->parent == hWnd)
                children.push_back(h);
    }
    for (HWND c : children)
        DestroyWindow(c);
    SendMessageA(hWnd, WM_NCDESTROY, 0, 0);
    {
        std::lock_guard<std::mutex> lock(g_mx);
        DropWindowLocked(hWnd);
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
    return w ? w->parent : nullptr;
}

DWORD GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId) {
    auto w = FindWnd(hWnd);
    if (!w)
        return 0;
    if (lpdwProcessId)
        *lpdwProcessId = GetCurrentProcessId();
    return w->tid;
}

LRESULT DefWindowProcA(HWND hWnd, UINT Msg, WPARAM, LPARAM) {
    switch (Msg) {
    case WM_NCCREATE:
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(hWnd);
        return 0;
    default:
        return 0;
    }
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
    std::lock_guard<std::mutex> lock(g_mx);
    w->text = lpString ? lpString : "";
    return TRUE;
}

// Properties.

BOOL SetPropA(HWND hWnd, LPCSTR lpString, HANDLE hData) {
    auto w = FindWnd(hWnd);
    if (!w || !lpString)
        return FALSE;
    std::lock_guard<std::mutex> lock(g_mx);
    w->props[Lower(lpString)] = hData;
    return TRUE;
}

HANDLE GetPropA(HWND hWnd, LPCSTR lpString) {
    auto w = FindWnd(hWnd);
    if (!w || !lpString)
        return nullptr;
    std::lock_guard<std::mutex> lock(g_mx);
    auto it = w->props.find(Lower(lpString));
    return it == w->props.end() ? nullptr : it->second;
}

HANDLE RemovePropA(HWND hWnd, LPCSTR lpString) {
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
