// The default handling of window messages.
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
        return afxuser::DefaultSysCommand(hWnd, wParam);
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
