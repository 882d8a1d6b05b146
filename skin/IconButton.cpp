#include "skin/IconButton.h"

#include "skin/SkinLayout.h"

#include <algorithm>

CIconButton::CIconButton() : m_hIcon(nullptr) {}

CIconButton::~CIconButton() {
    if (m_hIcon)
        ::DestroyIcon(m_hIcon);
}

void CIconButton::Create(CString strIconFile, CRect rcIcon, CString strImage, CWnd* pParent, UINT nID) {
    if (!strIconFile.IsEmpty()) {
        if (m_hIcon)
            ::DestroyIcon(m_hIcon);
        m_hIcon = static_cast<HICON>(::LoadImageA(nullptr, strIconFile, IMAGE_ICON, 0, 0, LR_LOADFROMFILE));
        m_rcIcon = rcIcon;
    }
    CImageButton::Load(strImage, pParent, nID);
}

void CIconButton::SetText(CString strText) {
    m_strText = strText;
    m_bDirty = TRUE;
}

CRect CIconButton::MoveTo(CRect rcNew, BOOL bRedraw) {
    return CImageButton::MoveTo(rcNew, bRedraw);
}

void CIconButton::DrawAt(Gdiplus::Graphics& g, int dx, int dy, int row) {
    const int fw = static_cast<int>(m_pImage->GetWidth() / 4);
    const int w = m_rcButton.Width(), h = m_rcButton.Height();
    // Each piece stays within its own frame: a button wider than two frames leaves a gap in the
    // middle rather than showing the neighbouring frame.
    const int lw = std::min(w / 2, fw), rw = std::min(w - w / 2, fw);
    const int sx = fw * m_nFrame, sy = h * row;
    g.DrawImage(m_pImage, m_rcButton.left + dx, m_rcButton.top + dy, lw, h, sx, sy, lw, h,
                Gdiplus::UnitPixel);
    g.DrawImage(m_pImage, m_rcButton.right - rw + dx, m_rcButton.top + dy, rw, h, sx + fw - rw, sy, rw, h,
                Gdiplus::UnitPixel);
}

void CIconButton::Draw() {
    if (!m_pDC || !m_pImage || m_nState == IMGBTN_STATE_HIDDEN)
        return;
    {
        Gdiplus::Graphics g(m_pDC->GetSafeHdc());
        PrepareSkinGraphics(g);
        DrawAt(g, 0, 0, 0);
        if (HasOffset())
            DrawAt(g, m_rcOffset.left, m_rcOffset.top, 1);
    }
    CRect rcText(m_rcButton.left + 6, m_rcButton.top + 2, m_rcButton.right - 6, m_rcButton.bottom - 2);
    if (m_hIcon) {
        const CRect rcIco = CalcAnchoredRect(m_rcIcon, 16, 16, m_rcButton);
        ::DrawIconEx(m_pDC->GetSafeHdc(), rcIco.left, rcIco.top, m_hIcon, 16, 16, 0, nullptr, DI_NORMAL);
        if (HasOffset())
            ::DrawIconEx(m_pDC->GetSafeHdc(), rcIco.left + m_rcOffset.left, rcIco.top + m_rcOffset.top,
                         m_hIcon, 16, 16, 0, nullptr, DI_NORMAL);
        rcText.left = rcIco.right + m_rcIcon.left;
        rcText.right = m_rcButton.right - m_rcIcon.left;
    }
    m_pDC->SetBkMode(TRANSPARENT);
    // The font of the window the host sits in; the stock GUI font when it reports none.
    HFONT hFont = nullptr;
    if (m_pParent && ::IsWindow(m_pParent->GetSafeHwnd())) {
        HWND hOuter = ::GetParent(m_pParent->GetSafeHwnd());
        if (hOuter)
            hFont = reinterpret_cast<HFONT>(::SendMessage(hOuter, WM_GETFONT, 0, 0));
    }
    if (!hFont)
        hFont = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
    ::SelectObject(m_pDC->GetSafeHdc(), hFont);
    if (m_strText.IsEmpty())
        return;
    m_pDC->DrawText(m_strText, rcText, DT_SINGLELINE | DT_VCENTER);
    if (HasOffset()) {
        CRect shifted = rcText;
        shifted.OffsetRect(m_rcOffset.left, m_rcOffset.top);
        m_pDC->DrawText(m_strText, shifted, DT_SINGLELINE | DT_VCENTER);
    }
}
