#include "skin/TrayIcon.h"

#include <cstring>

IMPLEMENT_DYNAMIC(CTrayIcon, CObject)

CTrayIcon::CTrayIcon() : m_bEnabled(FALSE) {
    std::memset(&m_nid, 0, sizeof m_nid);
}

CTrayIcon::~CTrayIcon() {
    RemoveIcon();
}

void CTrayIcon::CopyTip(LPCSTR szTip) {
    // The field holds 127 bytes and the zero; a longer tip is cut where a whole character ends,
    // so that the shell never shows half of a double-byte character.
    std::memset(m_nid.szTip, 0, sizeof m_nid.szTip);
    if (!szTip)
        return;
    const size_t limit = sizeof m_nid.szTip - 1;
    size_t end = 0;
    for (size_t i = 0; szTip[i] != 0;) {
        const size_t step = AfxIsLeadByte(static_cast<unsigned char>(szTip[i])) && szTip[i + 1] != 0 ? 2 : 1;
        if (i + step > limit)
            break;
        i += step;
        end = i;
    }
    std::memcpy(m_nid.szTip, szTip, end);
}

BOOL CTrayIcon::Create(CWnd* pWnd, UINT uCallbackMessage, LPCSTR szTip, HICON hIcon, UINT uID, UINT) {
    m_bEnabled = pWnd != nullptr && ::IsWindow(pWnd->GetSafeHwnd());
    if (!m_bEnabled)
        return FALSE;
    m_nid.cbSize = sizeof(NOTIFYICONDATAA);
    m_nid.hWnd = pWnd->GetSafeHwnd();
    m_nid.uID = uID;
    m_nid.hIcon = hIcon;
    m_nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    m_nid.uCallbackMessage = uCallbackMessage;
    CopyTip(szTip);
    m_bEnabled = Shell_NotifyIcon(NIM_ADD, &m_nid);
    return m_bEnabled;
}

BOOL CTrayIcon::SetTooltipText(LPCSTR szTip) {
    if (!m_bEnabled)
        return FALSE;
    m_nid.uFlags = NIF_TIP;
    CopyTip(szTip);
    return Shell_NotifyIcon(NIM_MODIFY, &m_nid);
}

void CTrayIcon::RemoveIcon() {
    if (!m_bEnabled)
        return;
    m_nid.uFlags = 0;
    Shell_NotifyIcon(NIM_DELETE, &m_nid);
    m_bEnabled = FALSE;
}

LRESULT CTrayIcon::OnTrayNotification(WPARAM, LPARAM lParam) {
    switch (LOWORD(lParam)) {
    case WM_RBUTTONUP: {
        HMENU hMenu = ::LoadMenuA(nullptr, MAKEINTRESOURCEA(m_nid.uID));
        if (!hMenu)
            return 0;
        HMENU hPopup = ::GetSubMenu(hMenu, 0);
        if (!hPopup) {
            ::DestroyMenu(hMenu);
            return 0;
        }
        ::SetMenuDefaultItem(hPopup, 0, TRUE);
        POINT pt{};
        ::GetCursorPos(&pt);
        ::SetForegroundWindow(m_nid.hWnd);
        ::TrackPopupMenu(hPopup, 0, pt.x, pt.y, 0, m_nid.hWnd, nullptr);
        ::DestroyMenu(hMenu);
        return 1;
    }
    case WM_LBUTTONDBLCLK:
        if (::IsIconic(m_nid.hWnd))
            ::ShowWindow(m_nid.hWnd, SW_SHOW);
        else if (::IsWindowVisible(m_nid.hWnd))
            ::SetForegroundWindow(m_nid.hWnd);
        else
            ::ShowWindow(m_nid.hWnd, SW_SHOW);
        return 1;
    default:
        return 1;
    }
}
