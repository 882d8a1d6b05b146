// Command targets, message maps and CWnd.
//
// A class lists its handlers in a table and chains to its base class's table:
//
//     class CMyWnd : public CWnd {
//         LRESULT OnAppEvent(WPARAM wParam, LPARAM lParam);
//         void OnTimer(UINT_PTR nIDEvent);
//         DECLARE_MESSAGE_MAP()
//     };
//     BEGIN_MESSAGE_MAP(CMyWnd, CWnd)
//         ON_MESSAGE(WM_APP_EVENT, OnAppEvent)
//         ON_WM_TIMER()
//     END_MESSAGE_MAP()
//
// Each entry carries a small function made for the handler's exact signature, so a handler with
// the wrong parameters or result fails to compile instead of being called through a cast.
// Dispatch walks the class's table first, then each base's, and takes the first match.
#pragma once

#include "platform/base/AfxGeom.h"
#include "platform/base/AfxStr.h"
#include "platform/base/Win32Types.h"
#include "platform/user/AfxObject.h"
#include "platform/user/WinUser.h"

#include <tuple>
#include <type_traits>

class CCmdTarget;
class CWnd;
class CDC;
class CMenu;

using AFX_MSG_THUNK = BOOL (*)(CCmdTarget* pTarget, WPARAM wParam, LPARAM lParam, LRESULT* pResult);

struct AFX_MSGMAP_ENTRY {
    UINT nMessage; // 0 ends the table
    UINT nCode;    // notification code of WM_COMMAND entries
    UINT nID;      // first command id of WM_COMMAND entries
    UINT nLastID;  // last command id of WM_COMMAND entries
    AFX_MSG_THUNK pfn;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

#define DECLARE_MESSAGE_MAP()                                                                                \
protected:                                                                                                   \
    static const AFX_MSGMAP* GetThisMessageMap();                                                            \
    const AFX_MSGMAP* GetMessageMap() const override;                                                        \
                                                                                                             \
public:

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                               \
    const AFX_MSGMAP* theClass::GetMessageMap() const {                                                      \
        return GetThisMessageMap();                                                                          \
    }                                                                                                        \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {                                                        \
        using ThisClass = theClass;                                                                          \
        using TheBaseClass = baseClass;                                                                      \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {

#define END_MESSAGE_MAP()                                                                                    \
    { 0, 0, 0, 0, nullptr }                                                                                  \
    }                                                                                                        \
    ;                                                                                                        \
    static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &_messageEntries[0]};            \
    return &messageMap;                                                                                      \
    }

namespace afxmsg {

template <class F> struct MemberFn;
template <class R, class C, class... A> struct MemberFn<R (C::*)(A...)> {
    using Result = R;
    using Class = C;
    using Args = std::tuple<A...>;
};

// The handler must be a member of the class (or a base) with exactly this signature.
template <class T, auto F, class R, class... A> constexpr bool HasSignature() {
    using M = MemberFn<decltype(F)>;
    static_assert(std::is_same_v<typename M::Result, R>, "message handler has the wrong result type");
    static_assert(std::is_same_v<typename M::Args, std::tuple<A...>>,
                  "message handler has the wrong parameters");
    static_assert(std::is_base_of_v<typename M::Class, T>, "message handler is not a member of this class");
    return true;
}

CWnd* WndFromWParam(WPARAM w);
CWnd* WndFromLParam(LPARAM l);
CDC* DCFromWParam(WPARAM w);
inline CPoint PointFromLParam(LPARAM l) {
    return CPoint(static_cast<SHORT>(LOWORD(l)), static_cast<SHORT>(HIWORD(l)));
}

template <class T, auto F> BOOL Message(CCmdTarget* p, WPARAM w, LPARAM l, LRESULT* r) {
    static_assert(HasSignature<T, F, LRESULT, WPARAM, LPARAM>());
    *r = (static_cast<T*>(p)->*F)(w, l);
    return TRUE;
}
template <class T, auto F> BOOL Command(CCmdTarget* p, WPARAM, LPARAM, LRESULT* r) {
    static_assert(HasSignature<T, F, void>());
    (static_cast<T*>(p)->*F)();
    *r = 0;
    return TRUE;
}
template <class T, auto F> BOOL CommandRange(CCmdTarget* p, WPARAM w, LPARAM, LRESULT* r) {
    static_assert(HasSignature<T, F, void, UINT>());
    (static_cast<T*>(p)->*F)(LOWORD(w));
    *r = 0;
    return TRUE;
}
template <class T, auto F> BOOL Void(CCmdTarget* p, WPARAM, LPARAM, LRESULT* r) {
    static_assert(HasSignature<T, F, void>());
    (static_cast<T*>(p)->*F)();
    *r = 0;
    return TRUE;
}
template <class T, auto F> BOOL Create(CCmdTarget* p, WPARAM, LPARAM l, LRESULT* r) {
    static_assert(HasSignature<T, F, int, LPCREATESTRUCT>());
    *r = (static_cast<T*>(p)->*F)(reinterpret_cast<LPCREATESTRUCT>(l));
    return TRUE;
}
template <class T, auto F> BOOL Timer(CCmdTarget* p, WPARAM w, LPARAM, LRESULT* r) {
    static_assert(HasSignature<T, F, void, UINT_PTR>());
    (static_cast<T*>(p)->*F)(static_cast<UINT_PTR>(w));
    *r = 0;
    return TRUE;
}
template <class T, auto F> BOOL Size(CCmdTarget* p, WPARAM w, LPARAM l, LRESULT* r) {
    static_assert(HasSignature<T, F, void, UINT, int, int>());
    (static_cast<T*>(p)->*F)(static_cast<UINT>(w), static_cast<SHORT>(LOWORD(l)),
                             static_cast<SHORT>(HIWORD(l)));
    *r = 0;
    return TRUE;
}
template <class T, auto F> BOOL CopyData(CCmdTarget* p, WPARAM w, LPARAM l, LRESULT* r) {
    static_assert(HasSignature<T, F, BOOL, CWnd*, COPYDATASTRUCT*>());
    *r = (static_cast<T*>(p)->*F)(WndFromWParam(w), reinterpret_cast<COPYDATASTRUCT*>(l));
    return TRUE;
}
template <class T, auto F> BOOL Mouse(CCmdTarget* p, WPARAM w, LPARAM l, LRESULT* r) {
    static_assert(HasSignature<T, F, void, UINT, CPoint>());
    (static_cast<T*>(p)->*F)(static_cast<UINT>(w), PointFromLParam(l));
    *r = 0;
    return TRUE;
}
template <class T, auto F> BOOL MouseWheel(CCmdTarget* p, WPARAM w, LPARAM l, LRESULT* r) {
    static_assert(HasSignature<T, F, BOOL, UINT, short, CPoint>());
    *r = (static_cast<T*>(p)->*F)(LOWORD(w), static_cast<short>(HIWORD(w)), PointFromLParam(l));
    return TRUE;
}
template <class T, auto F> BOOL Activate(CCmdTarget* p, WPARAM w, LPARAM l, LRESULT* r) {
    static_assert(HasSignature<T, F, void, UINT, CWnd*, BOOL>());
    (static_cast<T*>(p)->*F)(LOWORD(w), WndFromLParam(l), HIWORD(w) != 0);
    *r = 0;
    return TRUE;
}
template <class T, auto F> BOOL Focus(CCmdTarget* p, WPARAM w, LPARAM, LRESULT* r) {
    static_assert(HasSignature<T, F, void, CWnd*>());
    (static_cast<T*>(p)->*F)(WndFromWParam(w));
    *r = 0;
    return TRUE;
}
template <class T, auto F> BOOL MouseActivate(CCmdTarget* p, WPARAM w, LPARAM l, LRESULT* r) {
    static_assert(HasSignature<T, F, int, CWnd*, UINT, UINT>());
    *r = (static_cast<T*>(p)->*F)(WndFromWParam(w), LOWORD(l), HIWORD(l));
    return TRUE;
}
template <class T, auto F> BOOL ShowWindow(CCmdTarget* p, WPARAM w, LPARAM l, LRESULT* r) {
    static_assert(HasSignature<T, F, void, BOOL, UINT>());
    (static_cast<T*>(p)->*F)(static_cast<BOOL>(w), static_cast<UINT>(l));
    *r = 0;
    return TRUE;
}
template <class T, auto F> BOOL SysCommand(CCmdTarget* p, WPARAM w, LPARAM l, LRESULT* r) {
    static_assert(HasSignature<T, F, void, UINT, LPARAM>());
    (static_cast<T*>(p)->*F)(static_cast<UINT>(w), l);
    *r = 0;
    return TRUE;
}
template <class T, auto F> BOOL HitTest(CCmdTarget* p, WPARAM, LPARAM l, LRESULT* r) {
    static_assert(HasSignature<T, F, LRESULT, CPoint>());
    *r = (static_cast<T*>(p)->*F)(PointFromLParam(l));
    return TRUE;
}
template <class T, auto F> BOOL Key(CCmdTarget* p, WPARAM w, LPARAM l, LRESULT* r) {
    static_assert(HasSignature<T, F, void, UINT, UINT, UINT>());
    (static_cast<T*>(p)->*F)(static_cast<UINT>(w), LOWORD(l), HIWORD(l));
    *r = 0;
    return TRUE;
}

template <class T, auto F> BOOL BoolDC(CCmdTarget* p, WPARAM w, LPARAM, LRESULT* r) {
    static_assert(HasSignature<T, F, BOOL, CDC*>());
    *r = (static_cast<T*>(p)->*F)(DCFromWParam(w));
    return TRUE;
}
template <class T, auto F> BOOL NcMouse(CCmdTarget* p, WPARAM w, LPARAM l, LRESULT* r) {
    static_assert(HasSignature<T, F, void, UINT, CPoint>());
    (static_cast<T*>(p)->*F)(static_cast<UINT>(w), PointFromLParam(l));
    *r = 0;
    return TRUE;
}
template <class T, auto F> BOOL MinMax(CCmdTarget* p, WPARAM, LPARAM l, LRESULT* r) {
    static_assert(HasSignature<T, F, void, MINMAXINFO*>());
    (static_cast<T*>(p)->*F)(reinterpret_cast<MINMAXINFO*>(l));
    *r = 0;
    return TRUE;
}
template <class T, auto F> BOOL WndParam(CCmdTarget* p, WPARAM, LPARAM l, LRESULT* r) {
    static_assert(HasSignature<T, F, void, CWnd*>());
    (static_cast<T*>(p)->*F)(WndFromLParam(l));
    *r = 0;
    return TRUE;
}
template <class T, auto F> BOOL SetCursor(CCmdTarget* p, WPARAM w, LPARAM l, LRESULT* r) {
    static_assert(HasSignature<T, F, BOOL, CWnd*, UINT, UINT>());
    *r = (static_cast<T*>(p)->*F)(WndFromWParam(w), LOWORD(l), HIWORD(l));
    return TRUE;
}
template <class T, auto F> BOOL Move(CCmdTarget* p, WPARAM, LPARAM l, LRESULT* r) {
    static_assert(HasSignature<T, F, void, int, int>());
    (static_cast<T*>(p)->*F)(static_cast<SHORT>(LOWORD(l)), static_cast<SHORT>(HIWORD(l)));
    *r = 0;
    return TRUE;
}
template <class T, auto F> BOOL WindowPos(CCmdTarget* p, WPARAM, LPARAM l, LRESULT* r) {
    static_assert(HasSignature<T, F, void, WINDOWPOS*>());
    (static_cast<T*>(p)->*F)(reinterpret_cast<WINDOWPOS*>(l));
    *r = 0;
    return TRUE;
}
template <class T, auto F> BOOL NcActivate(CCmdTarget* p, WPARAM w, LPARAM, LRESULT* r) {
    static_assert(HasSignature<T, F, BOOL, BOOL>());
    *r = (static_cast<T*>(p)->*F)(static_cast<BOOL>(w));
    return TRUE;
}
template <class T, auto F> BOOL Cursor(CCmdTarget* p, WPARAM, LPARAM, LRESULT* r) {
    static_assert(HasSignature<T, F, HCURSOR>());
    *r = reinterpret_cast<LRESULT>((static_cast<T*>(p)->*F)());
    return TRUE;
}

} // namespace afxmsg

#define ON_MESSAGE(message, memberFxn)                                                                       \
    {static_cast<UINT>(message), 0, 0, 0, &afxmsg::Message<ThisClass, &ThisClass::memberFxn>},
#define ON_REGISTERED_MESSAGE(nMessageVariable, memberFxn) ON_MESSAGE(nMessageVariable, memberFxn)
#define ON_COMMAND(id, memberFxn)                                                                            \
    {WM_COMMAND, 0, static_cast<UINT>(id), static_cast<UINT>(id),                                            \
     &afxmsg::Command<ThisClass, &ThisClass::memberFxn>},
#define ON_COMMAND_RANGE(id, idLast, memberFxn)                                                              \
    {WM_COMMAND, 0, static_cast<UINT>(id), static_cast<UINT>(idLast),                                        \
     &afxmsg::CommandRange<ThisClass, &ThisClass::memberFxn>},
#define ON_CONTROL(wNotifyCode, id, memberFxn)                                                               \
    {WM_COMMAND, static_cast<UINT>(wNotifyCode), static_cast<UINT>(id), static_cast<UINT>(id),               \
     &afxmsg::Command<ThisClass, &ThisClass::memberFxn>},
#define ON_BN_CLICKED(id, memberFxn) ON_CONTROL(BN_CLICKED, id, memberFxn)

#define AFX_ON_WM(msg, kind, memberFxn) {msg, 0, 0, 0, &afxmsg::kind<ThisClass, &ThisClass::memberFxn>},
#define ON_WM_CREATE() AFX_ON_WM(WM_CREATE, Create, OnCreate)
#define ON_WM_DESTROY() AFX_ON_WM(WM_DESTROY, Void, OnDestroy)
#define ON_WM_NCDESTROY() AFX_ON_WM(WM_NCDESTROY, Void, OnNcDestroy)
#define ON_WM_CLOSE() AFX_ON_WM(WM_CLOSE, Void, OnClose)
#define ON_WM_TIMER() AFX_ON_WM(WM_TIMER, Timer, OnTimer)
#define ON_WM_SIZE() AFX_ON_WM(WM_SIZE, Size, OnSize)
#define ON_WM_COPYDATA() AFX_ON_WM(WM_COPYDATA, CopyData, OnCopyData)
#define ON_WM_MOUSEMOVE() AFX_ON_WM(WM_MOUSEMOVE, Mouse, OnMouseMove)
#define ON_WM_LBUTTONDOWN() AFX_ON_WM(WM_LBUTTONDOWN, Mouse, OnLButtonDown)
#define ON_WM_LBUTTONUP() AFX_ON_WM(WM_LBUTTONUP, Mouse, OnLButtonUp)
#define ON_WM_LBUTTONDBLCLK() AFX_ON_WM(WM_LBUTTONDBLCLK, Mouse, OnLButtonDblClk)
#define ON_WM_RBUTTONDOWN() AFX_ON_WM(WM_RBUTTONDOWN, Mouse, OnRButtonDown)
#define ON_WM_RBUTTONUP() AFX_ON_WM(WM_RBUTTONUP, Mouse, OnRButtonUp)
#define ON_WM_MOUSEWHEEL() AFX_ON_WM(WM_MOUSEWHEEL, MouseWheel, OnMouseWheel)
#define ON_WM_ACTIVATE() AFX_ON_WM(WM_ACTIVATE, Activate, OnActivate)
#define ON_WM_SETFOCUS() AFX_ON_WM(WM_SETFOCUS, Focus, OnSetFocus)
#define ON_WM_KILLFOCUS() AFX_ON_WM(WM_KILLFOCUS, Focus, OnKillFocus)
#define ON_WM_MOUSEACTIVATE() AFX_ON_WM(WM_MOUSEACTIVATE, MouseActivate, OnMouseActivate)
#define ON_WM_SHOWWINDOW() AFX_ON_WM(WM_SHOWWINDOW, ShowWindow, OnShowWindow)
#define ON_WM_SYSCOMMAND() AFX_ON_WM(WM_SYSCOMMAND, SysCommand, OnSysCommand)
#define ON_WM_NCHITTEST() AFX_ON_WM(WM_NCHITTEST, HitTest, OnNcHitTest)
#define ON_WM_KEYDOWN() AFX_ON_WM(WM_KEYDOWN, Key, OnKeyDown)
#define ON_WM_KEYUP() AFX_ON_WM(WM_KEYUP, Key, OnKeyUp)
#define ON_WM_CHAR() AFX_ON_WM(WM_CHAR, Key, OnChar)
#define ON_WM_PAINT() AFX_ON_WM(WM_PAINT, Void, OnPaint)
#define ON_WM_ERASEBKGND() AFX_ON_WM(WM_ERASEBKGND, BoolDC, OnEraseBkgnd)
#define ON_WM_NCMOUSEMOVE() AFX_ON_WM(WM_NCMOUSEMOVE, NcMouse, OnNcMouseMove)
#define ON_WM_NCLBUTTONDOWN() AFX_ON_WM(WM_NCLBUTTONDOWN, NcMouse, OnNcLButtonDown)
#define ON_WM_NCLBUTTONUP() AFX_ON_WM(WM_NCLBUTTONUP, NcMouse, OnNcLButtonUp)
#define ON_WM_NCLBUTTONDBLCLK() AFX_ON_WM(WM_NCLBUTTONDBLCLK, NcMouse, OnNcLButtonDblClk)
#define ON_WM_GETMINMAXINFO() AFX_ON_WM(WM_GETMINMAXINFO, MinMax, OnGetMinMaxInfo)
#define ON_WM_CAPTURECHANGED() AFX_ON_WM(WM_CAPTURECHANGED, WndParam, OnCaptureChanged)
#define ON_WM_SETCURSOR() AFX_ON_WM(WM_SETCURSOR, SetCursor, OnSetCursor)
#define ON_WM_MOVE() AFX_ON_WM(WM_MOVE, Move, OnMove)
#define ON_WM_WINDOWPOSCHANGED() AFX_ON_WM(WM_WINDOWPOSCHANGED, WindowPos, OnWindowPosChanged)
#define ON_WM_NCACTIVATE() AFX_ON_WM(WM_NCACTIVATE, NcActivate, OnNcActivate)
#define ON_WM_QUERYDRAGICON() AFX_ON_WM(WM_QUERYDRAGICON, Cursor, OnQueryDragIcon)
#define ON_WM_MOUSELEAVE() AFX_ON_WM(WM_MOUSELEAVE, Void, OnMouseLeave)
#define ON_WM_MOUSEHOVER() AFX_ON_WM(WM_MOUSEHOVER, Mouse, OnMouseHover)

class CCmdTarget : public CObject {
    DECLARE_DYNAMIC(CCmdTarget)
public:
    CCmdTarget() = default;
    ~CCmdTarget() override = default;

    // Runs the WM_COMMAND entry for the id and notification code, searching this class's
    // table and then its bases'. TRUE when one handled it.
    virtual BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra, void* pHandlerInfo);

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
    // The first entry of the map chain for the message (WM_COMMAND entries match by id and code).
    static const AFX_MSGMAP_ENTRY* FindEntry(const AFX_MSGMAP* pMap, UINT nMessage, UINT nCode, UINT nID);
};

class CWnd : public CCmdTarget {
    DECLARE_DYNCREATE(CWnd)
public:
    CWnd();
    explicit CWnd(HWND hWnd); // wraps a handle it does not own (temporary objects)
    ~CWnd() override;

    HWND m_hWnd = nullptr;
    operator HWND() const { return m_hWnd; }
    HWND GetSafeHwnd() const { return m_hWnd; }

    // Creates the window on the calling thread with this object receiving its messages, from
    // WM_NCCREATE on. A null class name uses the layer's plain window class.
    virtual BOOL CreateEx(DWORD dwExStyle, LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle, int x,
                          int y, int nWidth, int nHeight, HWND hWndParent, UINT_PTR nIDorHMenu,
                          LPVOID lpParam = nullptr);
    virtual BOOL DestroyWindow();

    BOOL Attach(HWND hWndNew);
    HWND Detach();
    // The object attached to the handle; for a handle without one, a temporary object that
    // lives until the window is destroyed. nullptr for a null or dead handle.
    static CWnd* FromHandle(HWND hWnd);
    static CWnd* FromHandlePermanent(HWND hWnd);

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer = nullptr);
    BOOL KillTimer(UINT_PTR nIDEvent);
    BOOL IsWindow() const { return ::IsWindow(m_hWnd); }
    CWnd* GetParent() const;
    void SetWindowText(LPCSTR lpszString);
    void GetWindowText(CString& rString) const;
    int GetDlgCtrlID() const;
    CWnd* GetDlgItem(int nID) const;
    DWORD GetStyle() const;
    DWORD GetExStyle() const;

    // Geometry and state.
    void GetWindowRect(LPRECT lpRect) const { ::GetWindowRect(m_hWnd, lpRect); }
    void GetClientRect(LPRECT lpRect) const { ::GetClientRect(m_hWnd, lpRect); }
    void ClientToScreen(LPPOINT lpPoint) const { ::ClientToScreen(m_hWnd, lpPoint); }
    void ClientToScreen(LPRECT lpRect) const;
    void ScreenToClient(LPPOINT lpPoint) const { ::ScreenToClient(m_hWnd, lpPoint); }
    void ScreenToClient(LPRECT lpRect) const;
    void MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint = TRUE) {
        ::MoveWindow(m_hWnd, x, y, nWidth, nHeight, bRepaint);
    }
    void MoveWindow(LPCRECT lpRect, BOOL bRepaint = TRUE) {
        MoveWindow(lpRect->left, lpRect->top, lpRect->right - lpRect->left, lpRect->bottom - lpRect->top,
                   bRepaint);
    }
    BOOL SetWindowPos(const CWnd* pWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags);
    BOOL ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }
    BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    BOOL IsZoomed() const { return ::IsZoomed(m_hWnd); }
    BOOL EnableWindow(BOOL bEnable = TRUE) { return ::EnableWindow(m_hWnd, bEnable); }
    BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
    BOOL GetWindowInfo(PWINDOWINFO pwi) const { return ::GetWindowInfo(m_hWnd, pwi); }
    BOOL SetForegroundWindow() { return ::SetForegroundWindow(m_hWnd); }
    CWnd* SetActiveWindow() { return FromHandle(::SetActiveWindow(m_hWnd)); }
    CWnd* SetFocus() { return FromHandle(::SetFocus(m_hWnd)); }
    static CWnd* GetFocus() { return FromHandle(::GetFocus()); }
    CWnd* SetCapture() { return FromHandle(::SetCapture(m_hWnd)); }
    static CWnd* GetCapture() { return FromHandle(::GetCapture()); }
    static CWnd* GetActiveWindow() { return FromHandle(::GetActiveWindow()); }
    static CWnd* GetForegroundWindow() { return FromHandle(::GetForegroundWindow()); }

    // Painting.
    void Invalidate(BOOL bErase = TRUE) { ::InvalidateRect(m_hWnd, nullptr, bErase); }
    void InvalidateRect(LPCRECT lpRect, BOOL bErase = TRUE) { ::InvalidateRect(m_hWnd, lpRect, bErase); }
    void ValidateRect(LPCRECT lpRect) { ::ValidateRect(m_hWnd, lpRect); }
    void UpdateWindow() { ::UpdateWindow(m_hWnd); }
    BOOL RedrawWindow(LPCRECT lpRectUpdate = nullptr, void* prgnUpdate = nullptr,
                      UINT flags = RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE);
    CDC* GetDC();
    CDC* GetWindowDC();
    int ReleaseDC(CDC* pDC);
    // WM_GETFONT's answer, or null.
    class CFont* GetFont() const;
    void SetFont(class CFont* pFont, BOOL bRedraw = TRUE);
    HICON SetIcon(HICON hIcon, BOOL bBigIcon);
    HICON GetIcon(BOOL bBigIcon) const;
    // Centres the window over its owner (a popup) or its parent (a child window), or over
    // pAlternateOwner when given; an unowned popup, or one whose owner is hidden or minimized,
    // over the work area. The window is kept inside the work area.
    void CenterWindow(CWnd* pAlternateOwner = nullptr);

    // A child window (or, without WS_CHILD, an owned popup) of the given rectangle in the
    // parent's client coordinates.
    virtual BOOL Create(LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                        CWnd* pParentWnd, UINT nID, void* pContext = nullptr);
    int MessageBox(LPCSTR lpszText, LPCSTR lpszCaption = nullptr, UINT nType = 0);

    // The window procedure of every CWnd: WM_COMMAND goes to OnCommand, everything else through
    // the message map; unhandled messages reach DefWindowProc.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Called after the window is gone (after WM_NCDESTROY); objects made with new delete
    // themselves here.
    virtual void PostNcDestroy() {}
    virtual BOOL PreTranslateMessage(MSG* pMsg);
    // Offers the message to the PreTranslateMessage of its window and of each parent up to
    // hWndStop, as a modal loop does before it dispatches; TRUE when one took it.
    static BOOL WalkPreTranslateTree(HWND hWndStop, MSG* pMsg);

    // The default handling of the message being dispatched (the handlers below call it).
    LRESULT Default();

    // Base handlers that subclasses call from their own.
    int OnCreate(LPCREATESTRUCT lpCreateStruct);
    void OnDestroy();
    void OnNcDestroy();
    void OnClose();
    void OnTimer(UINT_PTR nIDEvent);
    void OnSize(UINT nType, int cx, int cy);
    BOOL OnCopyData(CWnd* pWnd, COPYDATASTRUCT* pCopyDataStruct);
    void OnMouseMove(UINT nFlags, CPoint point);
    void OnLButtonDown(UINT nFlags, CPoint point);
    void OnLButtonUp(UINT nFlags, CPoint point);
    void OnLButtonDblClk(UINT nFlags, CPoint point);
    void OnRButtonDown(UINT nFlags, CPoint point);
    void OnRButtonUp(UINT nFlags, CPoint point);
    BOOL OnMouseWheel(UINT nFlags, short zDelta, CPoint pt);
    void OnActivate(UINT nState, CWnd* pWndOther, BOOL bMinimized);
    void OnSetFocus(CWnd* pOldWnd);
    void OnKillFocus(CWnd* pNewWnd);
    int OnMouseActivate(CWnd* pDesktopWnd, UINT nHitTest, UINT message);
    void OnShowWindow(BOOL bShow, UINT nStatus);
    void OnSysCommand(UINT nID, LPARAM lParam);
    LRESULT OnNcHitTest(CPoint point);
    void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags);
    void OnKeyUp(UINT nChar, UINT nRepCnt, UINT nFlags);
    void OnChar(UINT nChar, UINT nRepCnt, UINT nFlags);
    void OnPaint();
    BOOL OnEraseBkgnd(CDC* pDC);
    void OnNcMouseMove(UINT nHitTest, CPoint point);
    void OnNcLButtonDown(UINT nHitTest, CPoint point);
    void OnNcLButtonUp(UINT nHitTest, CPoint point);
    void OnNcLButtonDblClk(UINT nHitTest, CPoint point);
    void OnGetMinMaxInfo(MINMAXINFO* lpMMI);
    void OnCaptureChanged(CWnd* pWnd);
    BOOL OnSetCursor(CWnd* pWnd, UINT nHitTest, UINT message);
    void OnMove(int x, int y);
    void OnWindowPosChanged(WINDOWPOS* lpwndpos);
    BOOL OnNcActivate(BOOL bActive);
    HCURSOR OnQueryDragIcon();
    void OnMouseLeave();
    void OnMouseHover(UINT nFlags, CPoint point);

    // The previous window procedure when the object took over an existing window.
    WNDPROC m_pfnSuper = nullptr;

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    const AFX_MSGMAP* GetMessageMap() const override;

private:
    bool m_bTemporary = false;
};

// The window procedure installed for CWnd objects.
LRESULT AfxWndProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
// Dispatches to the object's WindowProc with the current message recorded for Default().
LRESULT AfxCallWndProc(CWnd* pWnd, HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
