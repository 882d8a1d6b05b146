// The window kernel's C interface: window handles, message queues, timers and properties.
#pragma once

#include "platform/base/Win32Types.h"
#include "platform/kernel/Threads.h"

struct HWND__;
using HWND = HWND__*;
struct HMENU__;
using HMENU = HMENU__*;

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};
using LPMSG = MSG*;

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);
using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, DWORD);

// Messages.
#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_MOVE 0x0003
#define WM_SIZE 0x0005
#define WM_ACTIVATE 0x0006
#define WM_SETFOCUS 0x0007
#define WM_KILLFOCUS 0x0008
#define WM_ENABLE 0x000A
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_GETTEXTLENGTH 0x000E
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_ERASEBKGND 0x0014
#define WM_SHOWWINDOW 0x0018
#define WM_ACTIVATEAPP 0x001C
#define WM_SETCURSOR 0x0020
#define WM_MOUSEACTIVATE 0x0021
#define WM_GETMINMAXINFO 0x0024
#define WM_WINDOWPOSCHANGING 0x0046
#define WM_WINDOWPOSCHANGED 0x0047
#define WM_COPYDATA 0x004A
#define WM_NCCREATE 0x0081
#define WM_NCDESTROY 0x0082
#define WM_NCCALCSIZE 0x0083
#define WM_NCHITTEST 0x0084
#define WM_NCPAINT 0x0085
#define WM_NCACTIVATE 0x0086
#define WM_NCLBUTTONDOWN 0x00A1
#define WM_NCLBUTTONDBLCLK 0x00A3
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_CHAR 0x0102
#define WM_SYSKEYDOWN 0x0104
#define WM_SYSKEYUP 0x0105
#define WM_SYSCHAR 0x0106
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_SYSCOMMAND 0x0112
#define WM_TIMER 0x0113
#define WM_MOUSEFIRST 0x0200
#define WM_MOUSEMOVE 0x0200
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_LBUTTONDBLCLK 0x0203
#define WM_RBUTTONDOWN 0x0204
#define WM_RBUTTONUP 0x0205
#define WM_RBUTTONDBLCLK 0x0206
#define WM_MOUSEWHEEL 0x020A
#define WM_MOUSELAST 0x020A
#define WM_MOUSELEAVE 0x02A3
#define WM_USER 0x0400
#define WM_APP 0x8000

#define PM_NOREMOVE 0x0000u
#define PM_REMOVE 0x0001u
#define PM_NOYIELD 0x0002u

#define GWLP_WNDPROC (-4)
#define GWLP_HINSTANCE (-6)
#define GWLP_ID (-12)
#define GWL_STYLE (-16)
#define GWL_EXSTYLE (-20)
#define GWLP_USERDATA (-21)

// A few styles; the windowing code adds the rest.
#define WS_OVERLAPPED 0x00000000L
#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_DISABLED 0x08000000L
#define WS_CLIPSIBLINGS 0x04000000L
#define WS_CLIPCHILDREN 0x02000000L

// A parent value that makes a window that only receives messages.
#define HWND_MESSAGE (reinterpret_cast<HWND>(static_cast<intptr_t>(-3)))

struct CREATESTRUCTA {
    LPVOID lpCreateParams;
    void* hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    LPCSTR lpszName;
    LPCSTR lpszClass;
    DWORD dwExStyle;
};
using CREATESTRUCT = CREATESTRUCTA;
using LPCREATESTRUCT = CREATESTRUCTA*;

struct COPYDATASTRUCT {
    ULONG_PTR dwData;
    DWORD cbData;
    PVOID lpData;
};
using PCOPYDATASTRUCT = COPYDATASTRUCT*;

struct WNDCLASSA {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    void* hInstance;
    void* hIcon;
    void* hCursor;
    void* hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
};
using WNDCLASS = WNDCLASSA;

// Window classes and windows.
ATOM RegisterClassA(const WNDCLASSA* lpWndClass);
inline ATOM RegisterClass(const WNDCLASSA* c) {
    return RegisterClassA(c);
}
BOOL UnregisterClassA(LPCSTR lpClassName, void* hInstance);
// Creates the window on the calling thread, which then owns it and receives its messages.
// WM_NCCREATE and WM_CREATE are sent before it returns; -1 from WM_CREATE destroys it again.
HWND CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int x, int y,
                     int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, void* hInstance, LPVOID lpParam);
// Sends WM_DESTROY and then WM_NCDESTROY, children first, and drops the handle. Only the
// owning thread may destroy a window (as on Windows); from another thread it fails.
BOOL DestroyWindow(HWND hWnd);
BOOL IsWindow(HWND hWnd);
HWND GetParent(HWND hWnd);
DWORD GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId);
LRESULT DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
inline LRESULT DefWindowProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    return DefWindowProcA(h, m, w, l);
}
LRESULT CallWindowProcA(WNDPROC lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
LONG_PTR GetWindowLongPtrA(HWND hWnd, int nIndex);
LONG_PTR SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong);
inline LONG_PTR GetWindowLongPtr(HWND h, int i) {
    return GetWindowLongPtrA(h, i);
}
inline LONG_PTR SetWindowLongPtr(HWND h, int i, LONG_PTR v) {
    return SetWindowLongPtrA(h, i, v);
}
int GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount);
BOOL SetWindowTextA(HWND hWnd, LPCSTR lpString);

// Properties: named handles kept on a window until removed or the window is destroyed.
BOOL SetPropA(HWND hWnd, LPCSTR lpString, HANDLE hData);
HANDLE GetPropA(HWND hWnd, LPCSTR lpString);
HANDLE RemovePropA(HWND hWnd, LPCSTR lpString);
inline BOOL SetProp(HWND h, LPCSTR s, HANDLE d) {
    return SetPropA(h, s, d);
}
inline HANDLE GetProp(HWND h, LPCSTR s) {
    return GetPropA(h, s);
}
inline HANDLE RemoveProp(HWND h, LPCSTR s) {
    return RemovePropA(h, s);
}

// Messages. A send to a window of the calling thread is a direct call; to another thread's
// window it waits until that thread has run the handler, handling messages sent to the caller
// meanwhile. A send to a window that is gone, or goes while the sender waits, returns 0.
LRESULT SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
inline LRESULT SendMessage(HWND h, UINT m, WPARAM w, LPARAM l) {
    return SendMessageA(h, m, w, l);
}
BOOL PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
inline BOOL PostMessage(HWND h, UINT m, WPARAM w, LPARAM l) {
    return PostMessageA(h, m, w, l);
}
// Fails for a thread that has never had a message queue (ERROR_INVALID_THREAD_ID).
BOOL PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam);
inline BOOL PostThreadMessage(DWORD t, UINT m, WPARAM w, LPARAM l) {
    return PostThreadMessageA(t, m, w, l);
}
void PostQuitMessage(int nExitCode);
// 0 for WM_QUIT, -1 for an invalid window filter, otherwise nonzero.
BOOL GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax);
inline BOOL GetMessage(LPMSG m, HWND h, UINT a, UINT b) {
    return GetMessageA(m, h, a, b);
}
BOOL PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg);
inline BOOL PeekMessage(LPMSG m, HWND h, UINT a, UINT b, UINT r) {
    return PeekMessageA(m, h, a, b, r);
}
BOOL TranslateMessage(const MSG* lpMsg);
LRESULT DispatchMessageA(const MSG* lpMsg);
inline LRESULT DispatchMessage(const MSG* m) {
    return DispatchMessageA(m);
}
// Waits until a message is in the queue (or one is sent) without removing anything.
BOOL WaitMessage();
BOOL InSendMessage();
DWORD GetMessageTime();

// Timers: WM_TIMER is generated when the queue is empty of posted messages, at most one per
// timer outstanding, as on Windows. With a null window the id is chosen and returned.
UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc);
BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent);

#ifndef ERROR_INVALID_WINDOW_HANDLE
#define ERROR_INVALID_WINDOW_HANDLE 1400L
#endif
#ifndef ERROR_INVALID_THREAD_ID
#define ERROR_INVALID_THREAD_ID 1444L
#endif
#ifndef ERROR_ACCESS_DENIED
#define ERROR_ACCESS_DENIED 5L
#endif
