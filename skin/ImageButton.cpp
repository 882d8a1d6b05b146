#include "skin/ImageButton.h"

#include <vector>

Gdiplus::Image* LoadSkinImage(const CString& strPath) {
    if (strPath.IsEmpty())
        return nullptr;
    const int n = MultiByteToWideChar(CP_THREAD_ACP, 0, strPath, -1, nullptr, 0);
    std::vector<WCHAR> wide(n > 0 ? static_cast<size_t>(n) : 1u, 0);
    if (n > 0)
        MultiByteToWideChar(CP_THREAD_ACP, 0, strPath, -1, wide.data(), n);
    auto* image = new Gdiplus::Image(wide.data(), FALSE);
    if (image->GetWidth() > SKIN_IMAGE_MAX_SIDE || image->GetHeight() > SKIN_IMAGE_MAX_SIDE) {
        delete image;
        const WCHAR none[] = {0};
        image = new Gdiplus::Image(none, FALSE);
    }
    return image;
}

void PrepareSkinGraphics(Gdiplus::Graphics& g) {
    g.SetInterpolationMode(Gdiplus::InterpolationModeNearestNeighbor);
    g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHighQuality);
}

CRect UnionChange(const CRect& a, const CRect& b) {
    if (a.IsRectNull())
        return b;
    if (b.IsRectNull())
        return a;
    return CRect(std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                 std::max(a.bottom, b.bottom));
}

CImageButton::CImageButton()
    : m_nFrame(0), m_bDirty(FALSE), m_bDown(FALSE), m_nState(IMGBTN_STATE_NORMAL), m_nKind(IMGBTN_KIND_PUSH),
      m_pImage(nullptr), m_pBackDC(nullptr), m_pDC(nullptr), m_pParent(nullptr), m_nID(0) {}

CImageButton::~CImageButton() {
    delete m_pImage;
}

void CImageButton::Load(CString strImage, CWnd* pParent, UINT nID) {
    if (!strImage.IsEmpty()) {
        delete m_pImage;
        m_pImage = LoadSkinImage(strImage);
    }
    m_pParent = pParent;
    m_nID = nID;
}

void CImageButton::SetDC(CDC* pDC, CDC* pBackDC, CRect rcOffset) {
    m_pDC = pDC;
    m_pBackDC = pBackDC;
    m_rcOffset = rcOffset;
}

CRect CImageButton::MoveTo(CRect rcNew, BOOL bRedraw) {
    if (!IsReady())
        return CRect();
    if (rcNew != m_rcButton) {
        m_rcOld = m_rcButton;
        m_rcErase = m_rcButton;
        m_rcButton = rcNew;
        m_bDirty = TRUE;
    }
    if (bRedraw == 1)
        return Update();
    return CRect();
}

CRect CImageButton::Update() {
    if (!IsReady())
        return CRect();
    RestoreBackground();
    if (m_nState != IMGBTN_STATE_HIDDEN && m_bDirty && m_pDC && !m_rcButton.IsRectNull()) {
        m_bDirty = FALSE;
        // Drawing blends over what is there: without a clean background under it, a redraw in
        // place would darken every half-transparent pixel of the picture once more.
        CopyBackground(m_rcButton);
        Draw();
        CRect r = UnionChange(m_rcOld, m_rcButton);
        m_rcOld = CRect();
        return r;
    }
    return CRect();
}

void CImageButton::CopyBackground(const CRect& r) {
    if (!m_pBackDC || !m_pDC || r.IsRectNull())
        return;
    m_pDC->BitBlt(r.left, r.top, r.Width(), r.Height(), m_pBackDC, r.left, r.top, SRCCOPY);
    if (HasOffset()) {
        const int x = r.left + m_rcOffset.left, y = r.top + m_rcOffset.top;
        m_pDC->BitBlt(x, y, r.Width(), r.Height(), m_pBackDC, x, y, SRCCOPY);
    }
}

void CImageButton::RestoreBackground() {
    if (m_rcErase.IsRectNull() || !IsReady() || !m_pBackDC)
        return;
    CopyBackground(m_rcErase);
    m_rcErase = CRect();
}

void CImageButton::Draw() {
    if (m_nState == IMGBTN_STATE_HIDDEN || !m_pDC || !m_pImage)
        return;
    Gdiplus::Graphics g(m_pDC->GetSafeHdc());
    PrepareSkinGraphics(g);
    const int w = m_rcButton.Width(), h = m_rcButton.Height();
    if (w <= 0 || h <= 0)
        return;
    g.DrawImage(m_pImage, m_rcButton.left, m_rcButton.top, w, h, w * m_nFrame, 0, w, h, Gdiplus::UnitPixel);
    if (HasOffset())
        g.DrawImage(m_pImage, m_rcButton.left + m_rcOffset.left, m_rcButton.top + m_rcOffset.top, w, h,
                    w * m_nFrame, h, w, h, Gdiplus::UnitPixel);
}

void CImageButton::ShowFrame(int nFrame) {
    if (m_nFrame != nFrame) {
        m_nFrame = nFrame;
        m_bDirty = TRUE;
    }
}

CRect CImageButton::OnMouseMove(UINT, CPoint point) {
    if (!IsReady() || m_nState == IMGBTN_STATE_SELECTED || m_nState == IMGBTN_STATE_HIDDEN)
        return CRect();
    if (m_rcButton.PtInRect(point)) {
        ShowFrame(m_bDown ? 2 : 1);
    } else if (m_nFrame != 0) {
        if (m_nKind == IMGBTN_KIND_PUSH || m_nFrame != 2)
            ShowFrame(0);
    }
    return Update();
}

CRect CImageButton::OnMouseLeave(WPARAM, LPARAM) {
    if (!IsReady() || m_nState == IMGBTN_STATE_SELECTED || m_nState == IMGBTN_STATE_HIDDEN)
        return CRect();
    if (m_nFrame != 0 && (m_nKind == IMGBTN_KIND_PUSH || m_nFrame != 2))
        ShowFrame(0);
    return Update();
}

CRect CImageButton::OnLButtonDown(UINT, CPoint point) {
    if (!IsReady() || m_nState != IMGBTN_STATE_NORMAL)
        return CRect();
    const BOOL inside = m_rcButton.PtInRect(point);
    if (m_nKind == IMGBTN_KIND_TOGGLE && inside) {
        m_bDown = !m_bDown;
        m_nFrame = m_bDown ? 2 : 1;
        m_bDirty = TRUE;
        FireClick();
    } else if (m_nKind == IMGBTN_KIND_RADIO && inside && !m_bDown) {
        m_bDown = TRUE;
        m_nFrame = 2;
        m_bDirty = TRUE;
        FireClick();
    } else if (m_nKind == IMGBTN_KIND_PUSH && inside && m_nFrame != 2) {
        m_nFrame = 2;
        m_bDirty = TRUE;
        m_bDown = TRUE;
    }
    return Update();
}

CRect CImageButton::OnLButtonUp(UINT, CPoint point) {
    if (!IsReady() || m_nState != IMGBTN_STATE_NORMAL)
        return CRect();
    if (m_nKind != IMGBTN_KIND_PUSH || !m_bDown)
        return CRect();
    m_nFrame = 0;
    m_bDirty = TRUE;
    m_bDown = FALSE;
    CRect r = Update();
    if (m_rcButton.PtInRect(point))
        FireClick();
    return r;
}

int CImageButton::GetFrameWidth() const {
    if (!m_rcButton.IsRectNull())
        return m_rcButton.Width();
    return GetImageFrameWidth();
}

int CImageButton::GetFrameHeight() const {
    if (!m_rcButton.IsRectNull())
        return m_rcButton.Height();
    return GetImageFrameHeight();
}

int CImageButton::GetImageFrameWidth() const {
    return m_pImage ? static_cast<int>(m_pImage->GetWidth() / 4) : 0;
}

int CImageButton::GetImageFrameHeight() const {
    return m_pImage ? static_cast<int>(m_pImage->GetHeight() / 2) : 0;
}

BOOL CImageButton::HitTest(CPoint point) const {
    return m_nState != IMGBTN_STATE_HIDDEN && IsReady() && m_rcButton.PtInRect(point);
}

void CImageButton::SetState(int nState, BOOL bRedraw) {
    if (nState == m_nState || !IsReady())
        return;
    CRect r;
    if (m_nState == IMGBTN_STATE_HIDDEN || nState == IMGBTN_STATE_HIDDEN) {
        m_nState = nState;
        if (nState == IMGBTN_STATE_HIDDEN)
            m_rcErase = m_rcButton;
        m_bDirty = TRUE;
        r = Update();
    } else if (m_nState == IMGBTN_STATE_SELECTED || nState == IMGBTN_STATE_SELECTED) {
        m_nState = nState;
        m_nFrame = nState == IMGBTN_STATE_SELECTED ? 3 : 0;
        m_bDirty = TRUE;
        r = Update();
    } else {
        m_nState = nState;
        return;
    }
    if (bRedraw && m_pParent && ::IsWindow(m_pParent->GetSafeHwnd())) {
        ::InvalidateRect(m_pParent->GetSafeHwnd(), &r, TRUE);
        ::UpdateWindow(m_pParent->GetSafeHwnd());
    }
}

void CImageButton::SetChecked(BOOL bChecked) {
    bChecked = bChecked ? TRUE : FALSE;
    if (bChecked == m_bDown)
        return;
    m_bDown = bChecked;
    m_nFrame = bChecked ? 2 : 0;
    m_bDirty = TRUE;
    Update();
}

CRect CImageButton::Invalidate() {
    m_bDirty = TRUE;
    return Update();
}

void CImageButton::FireClick() {
    if (m_nState != IMGBTN_STATE_NORMAL || !m_pParent || !::IsWindow(m_pParent->GetSafeHwnd()))
        return;
    ::SendMessage(m_pParent->GetSafeHwnd(), WM_COMMAND, m_nID, 0);
}
