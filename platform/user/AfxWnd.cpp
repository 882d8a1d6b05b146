#include "platform/user/AfxWnd.h"

#include "platform/gdi/AfxDC.h"
#include "platform/user/AfxWinDC.h"
#include "platform/user/WindowCore.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>
#include <vector>

IMPLEMENT_DYNAMIC(CCmdTarget, CObject)
IMPLEMENT_DYNCREATE(CWnd, CCmdTarget)

namespace {

std::mutex g_wndMapMutex;
std::unordered_map<HWND, CWnd*>& Permanent() {
    static auto* m = new std::unordered_map<HWND, CWnd*>;
    return *m;
}
std::unordered_map<HWND, CWnd*>& Temporary() {
    static auto* m = new std::unordered_map<HWND, CWnd*>;
    return *m;
}

struct CurrentMsg {
    HWND hwnd;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};
thread_local std::vector<CurrentMsg> t_msgStack;

const char kPlainClass[] = "AfxWnd";

void RegisterPlainClass() {
    static std::once_flag once;
    std::call_once(once, [] {
        WNDCLASSA wc{};
        wc.style = CS_DBLCLKS; // as the framework's default class: child windows see double clicks
        wc.lpfnWndProc = &AfxWndProc;
        wc.lpszClassName = kPlainClass;
        RegisterClassA(&wc);
    });
}

} // namespace

namespace afxuser {

CWnd*& PendingCreateWnd() {
    thread_local CWnd* p = nullptr;
    return p;
}

void AttachPendingWnd(HWND hWnd) {
    CWnd* p = PendingCreateWnd();
    p->Attach(hWnd);
    auto proc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hWnd, GWLP_WNDPROC));
    if (proc != &AfxWndProc) {
        p->m_pfnSuper = proc;
        SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&AfxWndProc));
    }
}

void ForgetWnd(HWND hWnd) {
    CWnd* temp = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_wndMapMutex);
        auto it = Permanent().find(hWnd);
        if (it != Permanent().end()) {
            it->second->m_hWnd = nullptr;
            Permanent().erase(it);
        }
        auto t = Temporary().find(hWnd);
        if (t != Temporary().end()) {
            temp = t->second;
            Temporary().erase(t);
        }
    }
    if (temp) {
        temp->m_hWnd = nullptr;
        delete temp;
    }
}

} // namespace afxuser

namespace afxmsg {
CWnd* WndFromWParam(WPARAM w) {
    return CWnd::FromHandle(reinterpret_cast<HWND>(w));
}
CWnd* WndFromLParam(LPARAM l) {
    return CWnd::FromHandle(reinterpret_cast<HWND>(l));
}
CDC* DCFromWParam(WPARAM w) {
    return CDC::FromHandle(reinterpret_cast<HDC>(w));
}
} // namespace afxmsg

// Command targets.

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, 0, nullptr}};
    static const AFX_MSGMAP map = {nullptr, &entries[0]};
    return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const {
    return GetThisMessageMap();
}

const AFX_MSGMAP_ENTRY* CCmdTarget::FindEntry(const AFX_MSGMAP* pMap, UINT nMessage, UINT nCode, UINT nID) {
    for (; pMap != nullptr; pMap = pMap->pfnGetBaseMap ? pMap->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* e = pMap->lpEntries; e->pfn != nullptr; ++e) {
            if (e->nMessage != nMessage)
                continue;
            if (nMessage == WM_COMMAND) {
                if (e->nCode == nCode && nID >= e->nID && nID <= e->nLastID)
                    return e;
            } else {
                return e;
            }
        }
    }
    return nullptr;
}

BOOL CCmdTarget::OnCmdMsg(UINT nID, int nCode, void*, void*) {
    const AFX_MSGMAP_ENTRY* e = FindEntry(GetMessageMap(), WM_COMMAND, static_cast<UINT>(nCode), nID);
    if (!e)
        return FALSE;
    LRESULT r = 0;
    return e->pfn(this, static_cast<WPARAM>((nID & 0xFFFF) | (static_cast<UINT>(nCode) << 16)), 0, &r);
}

// Windows.

CWnd::CWnd() = default;

CWnd::CWnd(HWND hWnd) : m_hWnd(hWnd), m_bTemporary(true) {}

CWnd::~CWnd() {
    if (m_bTemporary || m_hWnd == nullptr)
        return;
    HWND h = m_hWnd;
    if (GetWindowThreadProcessId(h, nullptr) == GetCurrentThreadId() && ::IsWindow(h))
        ::DestroyWindow(h); // the object goes: its window cannot outlive it
    if (m_hWnd)
        Detach();
}

const AFX_MSGMAP* CWnd::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, 0, nullptr}};
    static const AFX_MSGMAP map = {&CCmdTarget::GetThisMessageMap, &entries[0]};
    return &map;
}

const AFX_MSGMAP* CWnd::GetMessageMap() const {
    return GetThisMessageMap();
}

BOOL CWnd::CreateEx(DWORD dwExStyle, LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle, int x, int y,
                    int nWidth, int nHeight, HWND hWndParent, UINT_PTR nIDorHMenu, LPVOID lpParam) {
    if (m_hWnd && ::IsWindow(m_hWnd))
        return FALSE;
    RegisterPlainClass();
    afxuser::PendingCreateWnd() = this;
    HWND h =
        CreateWindowExA(dwExStyle, lpszClassName ? lpszClassName : kPlainClass, lpszWindowName, dwStyle, x, y,
                        nWidth, nHeight, hWndParent, reinterpret_cast<HMENU>(nIDorHMenu), nullptr, lpParam);
    afxuser::PendingCreateWnd() = nullptr;
    return h != nullptr;
}

BOOL CWnd::DestroyWindow() {
    if (!m_hWnd)
        return FALSE;
    return ::DestroyWindow(m_hWnd);
}

BOOL CWnd::Attach(HWND hWndNew) {
    if (!hWndNew || m_hWnd)
        return FALSE;
    std::lock_guard<std::mutex> lock(g_wndMapMutex);
    Permanent()[hWndNew] = this;
    m_hWnd = hWndNew;
    return TRUE;
}

HWND CWnd::Detach() {
    HWND h = m_hWnd;
    if (h) {
        std::lock_guard<std::mutex> lock(g_wndMapMutex);
        auto it = Permanent().find(h);
        if (it != Permanent().end() && it->second == this)
            Permanent().erase(it);
    }
    m_hWnd = nullptr;
    return h;
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
    std::lock_guard<std::mutex> lock(g_wndMapMutex);
    auto it = Permanent().find(hWnd);
    return it == Permanent().end() ? nullptr : it->second;
}

CWnd* CWnd::FromHandle(HWND hWnd) {
    if (!hWnd)
        return nullptr;
    if (CWnd* p = FromHandlePermanent(hWnd))
        return p;
    if (!::IsWindow(hWnd))
        return nullptr;
    std::lock_guard<std::mutex> lock(g_wndMapMutex);
    CWnd*& slot = Temporary()[hWnd];
    if (!slot)
        slot = new CWnd(hWnd);
    return slot;
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::PostMessageA(m_hWnd, message, wParam, lParam);
}

UINT_PTR CWnd::SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer) {
    return ::SetTimer(m_hWnd, nIDEvent, nElapse, lpfnTimer);
}

BOOL CWnd::KillTimer(UINT_PTR nIDEvent) {
    return ::KillTimer(m_hWnd, nIDEvent);
}

CWnd* CWnd::GetParent() const {
    return FromHandle(::GetParent(m_hWnd));
}

void CWnd::SetWindowText(LPCSTR lpszString) {
    ::SetWindowTextA(m_hWnd, lpszString);
}

void CWnd::GetWindowText(CString& rString) const {
    char buf[4096];
    ::GetWindowTextA(m_hWnd, buf, sizeof buf);
    rString = buf;
}

int CWnd::GetDlgCtrlID() const {
    return static_cast<int>(::GetWindowLongPtrA(m_hWnd, GWLP_ID));
}

CWnd* CWnd::GetDlgItem(int nID) const {
    return FromHandle(::GetDlgItem(m_hWnd, nID));
}

DWORD CWnd::GetStyle() const {
    return static_cast<DWORD>(::GetWindowLongPtrA(m_hWnd, GWL_STYLE));
}

DWORD CWnd::GetExStyle() const {
    return static_cast<DWORD>(::GetWindowLongPtrA(m_hWnd, GWL_EXSTYLE));
}

void CWnd::ClientToScreen(LPRECT r) const {
    ::MapWindowPoints(m_hWnd, nullptr, reinterpret_cast<LPPOINT>(r), 2);
}

void CWnd::ScreenToClient(LPRECT r) const {
    ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<LPPOINT>(r), 2);
}

BOOL CWnd::SetWindowPos(const CWnd* pWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags) {
    return ::SetWindowPos(m_hWnd, pWndInsertAfter ? pWndInsertAfter->m_hWnd : nullptr, x, y, cx, cy, nFlags);
}

void CWnd::CenterWindow(CWnd* pAlternateOwner) {
    RECT me{};
    ::GetWindowRect(m_hWnd, &me);
    const int cx = me.right - me.left, cy = me.bottom - me.top;
    if (GetStyle() & WS_CHILD) {
        HWND parent = ::GetAncestor(m_hWnd, GA_PARENT);
        RECT around{};
        ::GetClientRect(parent, &around);
        ::SetWindowPos(m_hWnd, nullptr, (around.right - cx) / 2, (around.bottom - cy) / 2, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        return;
    }
    RECT work{};
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    RECT around = work;
    HWND over = pAlternateOwner ? pAlternateOwner->GetSafeHwnd() : ::GetWindow(m_hWnd, GW_OWNER);
    // An owner the user cannot see gives no place to be centred over.
    if (over && ::IsWindowVisible(over) && !::IsIconic(over))
        ::GetWindowRect(over, &around);
    int x = around.left + ((around.right - around.left) - cx) / 2;
    int y = around.top + ((around.bottom - around.top) - cy) / 2;
    x = std::max<int>(work.left, std::min<int>(x, work.right - cx));
    y = std::max<int>(work.top, std::min<int>(y, work.bottom - cy));
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL CWnd::RedrawWindow(LPCRECT lpRectUpdate, void*, UINT flags) {
    return ::RedrawWindow(m_hWnd, lpRectUpdate, nullptr, flags);
}

CDC* CWnd::GetDC() {
    return CDC::FromHandle(::GetDC(m_hWnd));
}

CDC* CWnd::GetWindowDC() {
    return CDC::FromHandle(::GetWindowDC(m_hWnd));
}

int CWnd::ReleaseDC(CDC* pDC) {
    return pDC ? ::ReleaseDC(m_hWnd, pDC->m_hDC) : 0;
}

CFont* CWnd::GetFont() const {
    return CFont::FromHandle(reinterpret_cast<HFONT>(::SendMessageA(m_hWnd, WM_GETFONT, 0, 0)));
}

void CWnd::SetFont(CFont* pFont, BOOL bRedraw) {
    ::SendMessageA(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(pFont ? pFont->m_hObject : nullptr), bRedraw);
}

HICON CWnd::SetIcon(HICON hIcon, BOOL bBigIcon) {
    return reinterpret_cast<HICON>(::SendMessageA(m_hWnd, WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL,
                                                  reinterpret_cast<LPARAM>(hIcon)));
}

HICON CWnd::GetIcon(BOOL bBigIcon) const {
    return reinterpret_cast<HICON>(::SendMessageA(m_hWnd, WM_GETICON, bBigIcon ? ICON_BIG : ICON_SMALL, 0));
}

BOOL CWnd::Create(LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                  CWnd* pParentWnd, UINT nID, void*) {
    return CreateEx(0, lpszClassName, lpszWindowName, dwStyle, rect.left, rect.top, rect.right - rect.left,
                    rect.bottom - rect.top, pParentWnd ? pParentWnd->m_hWnd : nullptr, nID);
}

int CWnd::MessageBox(LPCSTR lpszText, LPCSTR lpszCaption, UINT nType) {
    return ::MessageBoxA(m_hWnd, lpszText, lpszCaption, nType);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT r = 0;
    if (!OnWndMsg(message, wParam, lParam, &r))
        r = DefWindowProc(message, wParam, lParam);
    return r;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    LRESULT r = 0;
    if (message == WM_COMMAND) {
        if (!OnCommand(wParam, lParam))
            return FALSE;
        if (pResult)
            *pResult = 0;
        return TRUE;
    }
    const AFX_MSGMAP_ENTRY* e = FindEntry(GetMessageMap(), message, 0, 0);
    if (!e)
        return FALSE;
    BOOL handled = e->pfn(this, wParam, lParam, &r);
    if (pResult)
        *pResult = r;
    return handled;
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM) {
    return OnCmdMsg(LOWORD(wParam), HIWORD(wParam), nullptr, nullptr);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_pfnSuper)
        return ::CallWindowProcA(m_pfnSuper, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::WalkPreTranslateTree(HWND hWndStop, MSG* pMsg) {
    for (HWND h = pMsg->hwnd; h; h = ::GetAncestor(h, GA_PARENT)) {
        if (CWnd* p = FromHandlePermanent(h))
            if (p->PreTranslateMessage(pMsg))
                return TRUE;
        if (h == hWndStop)
            break;
    }
    return FALSE;
}

BOOL CWnd::PreTranslateMessage(MSG*) {
    return FALSE;
}

LRESULT CWnd::Default() {
    if (t_msgStack.empty())
        return 0;
    const CurrentMsg& m = t_msgStack.back();
    return DefWindowProc(m.msg, m.wParam, m.lParam);
}

int CWnd::OnCreate(LPCREATESTRUCT) {
    return static_cast<int>(Default());
}
void CWnd::OnDestroy() {
    Default();
}
void CWnd::OnNcDestroy() {
    Default();
}
void CWnd::OnClose() {
    Default();
}
void CWnd::OnTimer(UINT_PTR) {
    Default();
}
void CWnd::OnSize(UINT, int, int) {
    Default();
}
BOOL CWnd::OnCopyData(CWnd*, COPYDATASTRUCT*) {
    return static_cast<BOOL>(Default());
}
void CWnd::OnMouseMove(UINT, CPoint) {
    Default();
}
void CWnd::OnLButtonDown(UINT, CPoint) {
    Default();
}
void CWnd::OnLButtonUp(UINT, CPoint) {
    Default();
}
void CWnd::OnLButtonDblClk(UINT, CPoint) {
    Default();
}
void CWnd::OnRButtonDown(UINT, CPoint) {
    Default();
}
void CWnd::OnRButtonUp(UINT, CPoint) {
    Default();
}
BOOL CWnd::OnMouseWheel(UINT, short, CPoint) {
    return static_cast<BOOL>(Default());
}
void CWnd::OnActivate(UINT, CWnd*, BOOL) {
    Default();
}
void CWnd::OnSetFocus(CWnd*) {
    Default();
}
void CWnd::OnKillFocus(CWnd*) {
    Default();
}
int CWnd::OnMouseActivate(CWnd*, UINT, UINT) {
    return static_cast<int>(Default());
}
void CWnd::OnShowWindow(BOOL, UINT) {
    Default();
}
void CWnd::OnSysCommand(UINT, LPARAM) {
    Default();
}
LRESULT CWnd::OnNcHitTest(CPoint) {
    return Default();
}
void CWnd::OnKeyDown(UINT, UINT, UINT) {
    Default();
}
void CWnd::OnKeyUp(UINT, UINT, UINT) {
    Default();
}
void CWnd::OnChar(UINT, UINT, UINT) {
    Default();
}
void CWnd::OnPaint() {
    Default();
}
BOOL CWnd::OnEraseBkgnd(CDC*) {
    return static_cast<BOOL>(Default());
}
void CWnd::OnNcMouseMove(UINT, CPoint) {
    Default();
}
void CWnd::OnNcLButtonDown(UINT, CPoint) {
    Default();
}
void CWnd::OnNcLButtonUp(UINT, CPoint) {
    Default();
}
void CWnd::OnNcLButtonDblClk(UINT, CPoint) {
    Default();
}
void CWnd::OnGetMinMaxInfo(MINMAXINFO*) {
    Default();
}
void CWnd::OnCaptureChanged(CWnd*) {
    Default();
}
BOOL CWnd::OnSetCursor(CWnd*, UINT, UINT) {
    return static_cast<BOOL>(Default());
}
void CWnd::OnMove(int, int) {
    Default();
}
void CWnd::OnWindowPosChanged(WINDOWPOS*) {
    Default();
}
BOOL CWnd::OnNcActivate(BOOL) {
    return static_cast<BOOL>(Default());
}
HCURSOR CWnd::OnQueryDragIcon() {
    return reinterpret_cast<HCURSOR>(Default());
}
void CWnd::OnMouseLeave() {
    Default();
}
void CWnd::OnMouseHover(UINT, CPoint) {
    Default();
}

LRESULT AfxCallWndProc(CWnd* pWnd, HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    t_msgStack.push_back(CurrentMsg{hWnd, nMsg, wParam, lParam});
    LRESULT r = pWnd->WindowProc(nMsg, wParam, lParam);
    t_msgStack.pop_back();
    if (nMsg == WM_NCDESTROY) {
        // The window is gone for the object: detach before the object may delete itself.
        if (pWnd->m_hWnd == hWnd) {
            pWnd->Detach();
            pWnd->PostNcDestroy();
        }
    }
    return r;
}

LRESULT AfxWndProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    CWnd* p = CWnd::FromHandlePermanent(hWnd);
    if (!p)
        return ::DefWindowProcA(hWnd, nMsg, wParam, lParam);
    return AfxCallWndProc(p, hWnd, nMsg, wParam, lParam);
}
