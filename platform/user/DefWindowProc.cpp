// The default handling of window messages.
#include "platform/user/Presenter.h"
#include "platform/user/WinUser.h"
#include "platform/user/WindowTable.h"

LRESULT DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    switch (Msg) {
    case WM_NCCREATE:
        return TRUE;
    case WM_NCCALCSIZE:
        return 0; // the client area is the whole window
    case WM_CLOSE:
        DestroyWindow(hWnd);
        return 0;
    case WM_NCHITTEST: {
        RECT r{};
        GetWindowRect(hWnd, &r);
        POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        return PtInRect(&r, p) ? HTCLIENT : HTNOWHERE;
    }
    case WM_SETCURSOR:
        return afxuser::DefaultSetCursor(hWnd, wParam, lParam);
    case WM_MOUSEACTIVATE:
        return afxuser::DefaultMouseActivate(hWnd, wParam, lParam);
    case WM_NCLBUTTONDOWN:
        afxuser::DefaultNcLButtonDown(hWnd, wParam, lParam);
        return 0;
    case WM_NCACTIVATE:
        return TRUE;
    case WM_ACTIVATE:
        // The activated window takes the focus unless it already holds it or a child does.
        if (LOWORD(wParam) != WA_INACTIVE && !HIWORD(wParam)) {
            HWND focus = GetFocus();
            if (focus != hWnd && !IsChild(hWnd, focus))
                SetFocus(hWnd);
        }
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_KEYMENU) {
            // Alt+Space: the window menu under the window's top-left corner.
            if (lParam == VK_SPACE) {
                RECT r{};
                GetWindowRect(hWnd, &r);
                afxuser::ShowSystemMenu(hWnd, POINT{r.left, r.top});
            }
            return 0;
        }
        return afxuser::DefaultSysCommand(hWnd, wParam);
    case WM_SYSKEYDOWN:
        if (wParam == VK_F4) // to the top-level window, wherever the focus is
            SendMessageA(GetAncestor(hWnd, GA_ROOT), WM_SYSCOMMAND, SC_CLOSE, 0);
        return 0;
    case WM_SYSCHAR:
        if (wParam == VK_SPACE)
            SendMessageA(GetAncestor(hWnd, GA_ROOT), WM_SYSCOMMAND, SC_KEYMENU, VK_SPACE);
        return 0;
    case WM_NCRBUTTONUP:
        SendMessageA(hWnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(hWnd), lParam);
        return 0;
    case WM_CONTEXTMENU: {
        // A child passes it up; a top-level window shows its window menu over its caption.
        HWND parent = GetAncestor(hWnd, GA_PARENT);
        if (parent)
            return SendMessageA(parent, WM_CONTEXTMENU, wParam, lParam);
        LRESULT hit = SendMessageA(hWnd, WM_NCHITTEST, 0, lParam);
        if (hit == HTCAPTION || hit == HTSYSMENU)
            afxuser::ShowSystemMenu(hWnd, POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        return 0;
    }
    case WM_SETICON: {
        HICON old = nullptr;
        bool topLevel = false;
        {
            auto lock = afxuser::Lock();
            auto w = afxuser::FindLocked(hWnd);
            if (!w)
                return 0;
            HICON& slot = wParam == ICON_BIG ? w->iconBig : w->iconSmall;
            old = slot;
            slot = reinterpret_cast<HICON>(lParam);
            topLevel = w->parent == nullptr;
        }
        if (topLevel)
            afxuser::CurrentPresenter().WindowIconChanged(hWnd);
        return reinterpret_cast<LRESULT>(old);
    }
    case WM_GETICON: {
        auto lock = afxuser::Lock();
        auto w = afxuser::FindLocked(hWnd);
        if (!w)
            return 0;
        return reinterpret_cast<LRESULT>(wParam == ICON_BIG ? w->iconBig : w->iconSmall);
    }
    case WM_WINDOWPOSCHANGED:
        afxuser::DefaultWindowPosChanged(hWnd, reinterpret_cast<const WINDOWPOS*>(lParam));
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(hWnd, &ps);
        EndPaint(hWnd, &ps);
        return 0;
    }
    case WM_ERASEBKGND:
        return 0; // no class brush to erase with
    default:
        return 0;
    }
}
