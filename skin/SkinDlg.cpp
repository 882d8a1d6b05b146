#include "skin/SkinDlg.h"

#include "skin/SkinInfo.h"

#include <algorithm>

namespace {

// Thicker frames than this cannot come from a sane skin; the strips stay a bounded size.
constexpr int kMaxThickness = 4096;

int Thickness(LONG v) {
    return std::clamp(static_cast<int>(v), 0, kMaxThickness);
}

// A margin of the maximised frame as the hit zones and the maximised size use it: any value of the
// skin file, bounded so that the sums with the window's rectangle cannot overflow.
LONG FrameMargin(LONG v) {
    return std::clamp(v, static_cast<LONG>(-kMaxThickness), static_cast<LONG>(kMaxThickness));
}

bool IsActiveCaption(HWND hWnd) {
    WINDOWINFO wi{};
    wi.cbSize = sizeof(wi);
    return ::GetWindowInfo(hWnd, &wi) && (wi.dwWindowStatus & WS_ACTIVECAPTION) != 0;
}

} // namespace

IMPLEMENT_DYNAMIC(CSkinDlg, CDialog)

BEGIN_MESSAGE_MAP(CSkinDlg, CDialog)
ON_WM_CREATE()
ON_WM_SIZE()
ON_MESSAGE(WM_ERASEBKGND, OnEraseBkgndMsg)
ON_WM_ACTIVATE()
ON_WM_NCHITTEST()
AFX_ON_WM(WM_NCLBUTTONDOWN, Mouse, OnNcLButtonDown)
AFX_ON_WM(WM_NCLBUTTONUP, Mouse, OnNcLButtonUp)
AFX_ON_WM(WM_NCLBUTTONDBLCLK, Mouse, OnNcLButtonDblClk)
AFX_ON_WM(WM_NCMOUSEMOVE, Mouse, OnNcMouseMove)
ON_WM_MOUSEMOVE()
ON_WM_LBUTTONDOWN()
ON_WM_LBUTTONUP()
ON_MESSAGE(WM_MOUSELEAVE, OnMouseLeave)
ON_MESSAGE(WM_GETMINMAXINFO, OnGetMinMaxInfoMsg)
ON_MESSAGE(WM_CAPTURECHANGED, OnCaptureChangedMsg)
ON_COMMAND(ID_SKIN_CLOSE, OnSkinCloseCmd)
ON_COMMAND(ID_SKIN_MAX, OnMaxButton)
ON_COMMAND(ID_SKIN_MIN, OnMinButton)
END_MESSAGE_MAP()

CSkinDlg::CSkinDlg(UINT nIDTemplate, CWnd* pParent)
    : CDialog(nIDTemplate, pParent), m_pEdgeImage(nullptr), m_pVertBmp(nullptr), m_pHorzBmp(nullptr),
      m_pVertCleanBmp(nullptr), m_pHorzCleanBmp(nullptr), m_bCacheBuilt(FALSE), m_nHitZone(HITZONE_NONE),
      m_bSizing(FALSE), m_bMaximized(FALSE), m_bTracking(FALSE), m_bCustomHitTest(TRUE), m_szSkinMin(0, 0) {}

CSkinDlg::~CSkinDlg() {
    if (m_hWnd && ::IsWindow(m_hWnd))
        DestroyWindow();
    delete m_pEdgeImage;
    m_dcVert.DeleteDC();
    m_dcHorz.DeleteDC();
    m_dcVertClean.DeleteDC();
    m_dcHorzClean.DeleteDC();
    delete m_pVertBmp;
    delete m_pHorzBmp;
    delete m_pVertCleanBmp;
    delete m_pHorzCleanBmp;
}

int CSkinDlg::EdgeLeft() const {
    return Thickness(m_rcEdge.left);
}
int CSkinDlg::EdgeTop() const {
    return Thickness(m_rcEdge.top);
}
int CSkinDlg::EdgeRight() const {
    return Thickness(m_rcEdge.right);
}
int CSkinDlg::EdgeBottom() const {
    return Thickness(m_rcEdge.bottom);
}

CImageButton* CSkinDlg::Buttons(int i) {
    // The order in which the buttons are laid out and asked for hit tests.
    CImageButton* all[] = {&m_btnClose, &m_btnMax, &m_btnMin, &m_btnSet, &m_btnIcon};
    return all[i];
}

void CSkinDlg::LoadSkin(CString strFileName) {
    CSkinInfo skin;
    skin.Load(strFileName);
    m_strSkinName = strFileName;
    m_szSkinMin = skin.GetEdgeMinSize();
    m_rcEdge = skin.GetEdgeRect();
    m_rcEdgeMax = skin.GetEdgeMaxRect();
    const CString edge = skin.GetEdgeImage();
    if (!edge.IsEmpty()) {
        delete m_pEdgeImage;
        m_pEdgeImage = LoadSkinImage(edge);
    }
    m_rcCloseSpec = skin.GetCloseRect();
    m_btnClose.Load(skin.GetCloseImage(), this, ID_SKIN_CLOSE);
    m_rcMaxSpec = skin.GetMaxRect();
    m_btnMax.Load(skin.GetMaxImage(), this, ID_SKIN_MAX);
    m_rcMinSpec = skin.GetMinRect();
    m_btnMin.Load(skin.GetMinImage(), this, ID_SKIN_MIN);
    m_rcSetSpec = skin.GetSetRect();
    m_btnSet.Load(skin.GetSetImage(), this, ID_SKIN_SET);
    m_rcIconSpec = skin.GetIconRect();
    m_btnIcon.Load(skin.GetIconImage(), this, ID_SKIN_ICON);
}

int CSkinDlg::OnCreate(LPCREATESTRUCT lpCreateStruct) {
    if (CDialog::OnCreate(lpCreateStruct) == -1)
        return -1;
    if (m_bCacheBuilt)
        return 0;
    BuildFrameCache();
    m_bCacheBuilt = TRUE;
    return 0;
}

void CSkinDlg::GiveButtonsDCs() {
    const int band = EdgeTop() + EdgeBottom();
    const CRect offset(0, band, m_rcCache.Width(), 2 * band);
    for (int i = 0; i < 5; ++i)
        Buttons(i)->SetDC(&m_dcHorz, &m_dcHorzClean, offset);
}

void CSkinDlg::BuildFrameCache() {
    HDC hScreen = ::GetDC(nullptr);
    CDC* pScreen = CDC::FromHandle(hScreen);
    m_rcCache = CRect(0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN));
    const int horzH = 2 * (EdgeTop() + EdgeBottom()), vertW = 2 * (EdgeLeft() + EdgeRight());
    m_dcHorz.CreateCompatibleDC(pScreen);
    m_dcHorzClean.CreateCompatibleDC(pScreen);
    m_dcVert.CreateCompatibleDC(pScreen);
    m_dcVertClean.CreateCompatibleDC(pScreen);
    ReplaceBitmap(m_dcHorz, m_pHorzBmp, pScreen, m_rcCache.Width(), horzH);
    ReplaceBitmap(m_dcHorzClean, m_pHorzCleanBmp, pScreen, m_rcCache.Width(), horzH);
    ReplaceBitmap(m_dcVert, m_pVertBmp, pScreen, vertW, m_rcCache.Height());
    ReplaceBitmap(m_dcVertClean, m_pVertCleanBmp, pScreen, vertW, m_rcCache.Height());
    DrawFrameEdges(TRUE);
    DrawFrameEdges(FALSE);
    CommitFrameCache();
    GiveButtonsDCs();
    ::ReleaseDC(nullptr, hScreen);
}

void CSkinDlg::ReplaceBitmap(CDC& dc, CBitmap*& pBmp, CDC* pRefDC, int cx, int cy) {
    auto* pNew = new CBitmap;
    pNew->CreateCompatibleBitmap(pRefDC, cx, cy);
    dc.SelectObject(pNew);
    delete pBmp;
    pBmp = pNew;
}

void CSkinDlg::DrawFrameEdges(BOOL bActive) {
    if (!m_pEdgeImage)
        return;
    const int el = EdgeLeft(), et = EdgeTop(), er = EdgeRight(), eb = EdgeBottom();
    const int W = static_cast<int>(m_pEdgeImage->GetWidth());
    const int h = static_cast<int>(m_pEdgeImage->GetHeight() / 2);
    const int y0 = bActive ? 0 : h;
    const int Y0 = bActive ? 0 : et + eb;
    const int X0 = bActive ? 0 : el + er;
    const int Wc = m_rcCache.Width(), Hc = m_rcCache.Height();
    using Gdiplus::UnitPixel;
    {
        Gdiplus::Graphics g(m_dcHorzClean.GetSafeHdc());
        PrepareSkinGraphics(g);
        g.DrawImage(m_pEdgeImage, 0, Y0, el, et, 0, y0, el, et, UnitPixel);
        g.DrawImage(m_pEdgeImage, el, Y0, Wc - el - er, et, el, y0, W - el - er, et, UnitPixel);
        g.DrawImage(m_pEdgeImage, Wc - er, Y0, er, et, W - er, y0, er, et, UnitPixel);
        g.DrawImage(m_pEdgeImage, 0, Y0 + et, el, eb, 0, y0 + h - eb, el, eb, UnitPixel);
        g.DrawImage(m_pEdgeImage, el, Y0 + et, Wc - el - er, eb, el, y0 + h - eb, W - el - er, eb, UnitPixel);
        g.DrawImage(m_pEdgeImage, Wc - er, Y0 + et, er, eb, W - er, y0 + h - eb, er, eb, UnitPixel);
    }
    {
        Gdiplus::Graphics g(m_dcVertClean.GetSafeHdc());
        PrepareSkinGraphics(g);
        g.DrawImage(m_pEdgeImage, X0, 0, el, Hc, 0, y0 + et, el, h - et - eb, UnitPixel);
        g.DrawImage(m_pEdgeImage, X0 + el, 0, er, Hc, W - er, y0 + et, er, h - et - eb, UnitPixel);
    }
}

void CSkinDlg::CommitFrameCache() {
    const int horzH = 2 * (EdgeTop() + EdgeBottom()), vertW = 2 * (EdgeLeft() + EdgeRight());
    m_dcHorz.BitBlt(0, 0, m_rcCache.Width(), horzH, &m_dcHorzClean, 0, 0, SRCCOPY);
    m_dcVert.BitBlt(0, 0, vertW, m_rcCache.Height(), &m_dcVertClean, 0, 0, SRCCOPY);
}

void CSkinDlg::ResizeFrameCache(int cx, int cy) {
    const int newW = std::max(cx, m_rcCache.Width()), newH = std::max(cy, m_rcCache.Height());
    HDC hdc = ::GetDC(m_hWnd);
    CDC* pDC = CDC::FromHandle(hdc);
    const int horzH = 2 * (EdgeTop() + EdgeBottom()), vertW = 2 * (EdgeLeft() + EdgeRight());
    if (cx > m_rcCache.Width()) {
        ReplaceBitmap(m_dcHorz, m_pHorzBmp, pDC, newW, horzH);
        ReplaceBitmap(m_dcHorzClean, m_pHorzCleanBmp, pDC, newW, horzH);
    }
    if (cy > m_rcCache.Height()) {
        ReplaceBitmap(m_dcVert, m_pVertBmp, pDC, vertW, newH);
        ReplaceBitmap(m_dcVertClean, m_pVertCleanBmp, pDC, vertW, newH);
    }
    m_rcCache = CRect(0, 0, newW, newH);
    DrawFrameEdges(TRUE);
    DrawFrameEdges(FALSE);
    CommitFrameCache();
    ::ReleaseDC(m_hWnd, hdc);
}

void CSkinDlg::LayoutButtons(int cx, int cy) {
    const CRect container(0, 0, cx, cy);
    // Buttons take the frame size of the picture they hold now, so that a skin switch to
    // pictures of another size places them at their new size.
    struct Placed {
        CImageButton* btn;
        const CRect* anchor;
    };
    const Placed anchored[] = {{&m_btnClose, &m_rcCloseSpec},
                               {&m_btnMax, &m_rcMaxSpec},
                               {&m_btnMin, &m_rcMinSpec},
                               {&m_btnSet, &m_rcSetSpec}};
    // A button that the current skin does not name keeps the picture of an earlier skin; it is
    // left unplaced (drawn nowhere, hit nowhere) instead of stretched over the whole window.
    for (const Placed& p : anchored)
        p.btn->MoveTo(p.anchor->IsRectNull() ? CRect()
                                             : CalcAnchoredRect(*p.anchor, p.btn->GetImageFrameWidth(),
                                                                p.btn->GetImageFrameHeight(), container),
                      FALSE);
    if (m_rcIconSpec.IsRectNull()) {
        m_btnIcon.MoveTo(CRect(), FALSE);
    } else {
        const int w = m_btnIcon.GetImageFrameWidth(), h = m_btnIcon.GetImageFrameHeight();
        const CRect& s = m_rcIconSpec;
        const int x = s.left == -1 ? cx - s.right - w : s.left;
        const int y = s.top == -1 ? cy - s.bottom - h : s.top;
        m_btnIcon.MoveTo(CRect(x, y, x + w, y + h), FALSE);
    }
    for (int i = 0; i < 5; ++i)
        Buttons(i)->RestoreBackground();
    m_btnClose.Update();
    m_btnMax.Update();
    m_btnMin.Update();
    m_btnSet.Update();
    m_btnIcon.Invalidate();
}

void CSkinDlg::OnSize(UINT nType, int cx, int cy) {
    CDialog::OnSize(nType, cx, cy);
    if (cx <= m_rcCache.Width() && cy <= m_rcCache.Height()) {
        LayoutButtons(cx, cy);
    } else if (m_bCacheBuilt) {
        ResizeFrameCache(cx, cy);
        LayoutButtons(cx, cy);
        for (int i = 0; i < 5; ++i)
            Buttons(i)->Invalidate();
    } else {
        LayoutButtons(cx, cy);
    }
    ::InvalidateRect(m_hWnd, nullptr, TRUE);
    ::UpdateWindow(m_hWnd);
}

LRESULT CSkinDlg::OnEraseBkgndMsg(WPARAM wParam, LPARAM) {
    return OnEraseBkgnd(CDC::FromHandle(reinterpret_cast<HDC>(wParam)));
}

BOOL CSkinDlg::OnEraseBkgnd(CDC* pDC) {
    CRect rw;
    ::GetWindowRect(m_hWnd, &rw);
    const int Ww = rw.Width(), Wh = rw.Height();
    const BOOL active = IsActiveCaption(m_hWnd);
    const int el = EdgeLeft(), et = EdgeTop(), er = EdgeRight(), eb = EdgeBottom();
    const int sy = active ? 0 : et + eb, sx = active ? 0 : el + er;
    const int Wc = m_rcCache.Width();
    pDC->BitBlt(0, 0, Ww - er, et, &m_dcHorz, 0, sy, SRCCOPY);
    pDC->BitBlt(Ww - er, 0, er, et, &m_dcHorz, Wc - er, sy, SRCCOPY);
    pDC->BitBlt(0, Wh - eb, Ww - er, eb, &m_dcHorz, 0, sy + et, SRCCOPY);
    pDC->BitBlt(Ww - er, Wh - eb, er, eb, &m_dcHorz, Wc - er, sy + et, SRCCOPY);
    pDC->BitBlt(0, et, el, Wh - et - eb, &m_dcVert, sx, 0, SRCCOPY);
    pDC->BitBlt(Ww - er, et, er, Wh - et - eb, &m_dcVert, sx + el, 0, SRCCOPY);
    return TRUE;
}

void CSkinDlg::OnActivate(UINT nState, CWnd* pWndOther, BOOL bMinimized) {
    CDialog::OnActivate(nState, pWndOther, bMinimized);
    ::InvalidateRect(m_hWnd, nullptr, TRUE);
    ::UpdateWindow(m_hWnd);
}

void CSkinDlg::ReloadSkinLayout() {
    CRect rc;
    ::GetClientRect(m_hWnd, &rc);
    HDC hdc = ::GetDC(m_hWnd);
    CDC* pDC = CDC::FromHandle(hdc);
    const int horzH = 2 * (EdgeTop() + EdgeBottom()), vertW = 2 * (EdgeLeft() + EdgeRight());
    ReplaceBitmap(m_dcHorz, m_pHorzBmp, pDC, m_rcCache.Width(), horzH);
    ReplaceBitmap(m_dcHorzClean, m_pHorzCleanBmp, pDC, m_rcCache.Width(), horzH);
    ReplaceBitmap(m_dcVert, m_pVertBmp, pDC, vertW, m_rcCache.Height());
    ReplaceBitmap(m_dcVertClean, m_pVertCleanBmp, pDC, vertW, m_rcCache.Height());
    ::ReleaseDC(m_hWnd, hdc);
    DrawFrameEdges(TRUE);
    DrawFrameEdges(FALSE);
    CommitFrameCache();
    GiveButtonsDCs();
    LayoutButtons(rc.Width(), rc.Height());
    m_btnClose.Invalidate();
    m_btnMax.Invalidate();
    m_btnMin.Invalidate();
    m_btnSet.Invalidate();
    ::InvalidateRect(m_hWnd, nullptr, TRUE);
    ::UpdateWindow(m_hWnd);
}

// Input.

LRESULT CSkinDlg::OnNcHitTest(CPoint point) {
    const LRESULT r = CDialog::OnNcHitTest(point);
    if (!m_bCustomHitTest || (r != HTCLIENT && r != HTNOWHERE))
        return r;
    CRect w;
    ::GetWindowRect(m_hWnd, &w);
    const LONG ml = FrameMargin(m_rcEdgeMax.left), mt = FrameMargin(m_rcEdgeMax.top),
               mr = FrameMargin(m_rcEdgeMax.right), mb = FrameMargin(m_rcEdgeMax.bottom);
    const struct {
        int code;
        CRect zone;
    } zones[] = {
        {HTLEFT, CRect(w.left, w.top + mt, w.left + ml, w.bottom - mb)},
        {HTRIGHT, CRect(w.right - mr, w.top + mt, w.right, w.bottom - mb)},
        {HTTOP, CRect(w.left + ml, w.top, w.right - mr, w.top + mt)},
        {HTBOTTOM, CRect(w.left + ml, w.bottom - mb, w.right - mr, w.bottom)},
        {HTTOPLEFT, CRect(w.left, w.top, w.left + ml, w.top + mt)},
        {HTTOPRIGHT, CRect(w.right - mr, w.top, w.right, w.top + mt)},
        {HTBOTTOMLEFT, CRect(w.left, w.bottom - mb, w.left + ml, w.bottom)},
        {HTBOTTOMRIGHT, CRect(w.right - mr, w.bottom - mb, w.right, w.bottom)},
    };
    for (const auto& z : zones) {
        if (z.zone.PtInRect(point)) {
            m_nHitZone = z.code;
            return z.code;
        }
    }
    m_nHitZone = HITZONE_NONE;
    const CRect caption(w.left + ml, w.top + mt, w.right - mr, w.top + EdgeTop());
    if (caption.PtInRect(point)) {
        CPoint client = point;
        ::ScreenToClient(m_hWnd, &client);
        for (int i = 0; i < 5; ++i)
            if (Buttons(i)->HitTest(client))
                return r;
        return HTCAPTION;
    }
    return r;
}

void CSkinDlg::OnNcLButtonDown(UINT, CPoint) {
    if (m_nHitZone != HITZONE_NONE) {
        ::SetCapture(m_hWnd);
        m_bSizing = TRUE;
        ::GetWindowRect(m_hWnd, &m_rcDrag);
    }
    Default();
}

void CSkinDlg::OnNcLButtonUp(UINT nHitTest, CPoint point) {
    // The buttons take client coordinates.
    CPoint client = point;
    ::ScreenToClient(m_hWnd, &client);
    CRect change;
    ::ReleaseCapture();
    CImageButton* order[] = {&m_btnClose, &m_btnMax, &m_btnMin, &m_btnIcon, &m_btnSet};
    for (CImageButton* b : order)
        change = UnionChange(change, b->OnLButtonUp(nHitTest, client));
    InvalidateChange(change);
    Default();
}

void CSkinDlg::OnNcLButtonDblClk(UINT, CPoint) {
    OnMaxButton();
}

void CSkinDlg::OnNcMouseMove(UINT, CPoint) {
    Default();
}

void CSkinDlg::InvalidateChange(const CRect& r) {
    if (!r.IsRectNull())
        ::InvalidateRect(m_hWnd, &r, TRUE);
}

void CSkinDlg::EndSizing() {
    m_bSizing = FALSE;
    m_nHitZone = HITZONE_NONE;
    if (::GetCapture() == m_hWnd)
        ::ReleaseCapture();
    CRect rc;
    ::GetWindowRect(m_hWnd, &rc);
    if (rc != m_rcDrag)
        ::MoveWindow(m_hWnd, m_rcDrag.left, m_rcDrag.top, m_rcDrag.Width(), m_rcDrag.Height(), TRUE);
}

void CSkinDlg::OnMouseMove(UINT nFlags, CPoint point) {
    if (m_bSizing && !(nFlags & MK_LBUTTON)) {
        // The button went up where this window did not hear it: the drag is over.
        EndSizing();
    } else if (m_bSizing) {
        CPoint p;
        ::GetCursorPos(&p);
        CRect rc;
        ::GetWindowRect(m_hWnd, &rc);
        switch (m_nHitZone) {
        case HTLEFT:
            if (std::abs(rc.left - p.x) > 8)
                rc.left = p.x;
            break;
        case HTRIGHT:
            if (std::abs(rc.right - p.x) > 8)
                rc.right = p.x;
            break;
        case HTTOP:
            if (std::abs(rc.top - p.y) > 3)
                rc.top = p.y;
            break;
        case HTBOTTOM:
            if (std::abs(rc.bottom - p.y) > 8)
                rc.bottom = p.y;
            break;
        case HTTOPLEFT:
            rc.top = p.y;
            rc.left = p.x;
            break;
        case HTTOPRIGHT:
            rc.top = p.y;
            rc.right = p.x;
            break;
        case HTBOTTOMLEFT:
            rc.bottom = p.y;
            rc.left = p.x;
            break;
        case HTBOTTOMRIGHT:
            rc.bottom = p.y;
            rc.right = p.x;
            break;
        default:
            break;
        }
        const CSize least = GetMinTrackSize();
        if (rc.Width() > least.cx && rc.Height() > least.cy) {
            m_rcDrag = rc;
        } else {
            if (rc.Width() <= least.cx) {
                if (rc.left == m_rcDrag.left)
                    m_rcDrag.right = m_rcDrag.left + least.cx;
                else
                    m_rcDrag.left = m_rcDrag.right - least.cx;
            }
            if (rc.Height() <= least.cy) {
                if (rc.top == m_rcDrag.top)
                    m_rcDrag.bottom = m_rcDrag.top + least.cy;
                else
                    m_rcDrag.top = m_rcDrag.bottom - least.cy;
            }
        }
        ::MoveWindow(m_hWnd, m_rcDrag.left, m_rcDrag.top, m_rcDrag.Width(), m_rcDrag.Height(), TRUE);
    }
    if (!m_bTracking) {
        TRACKMOUSEEVENT tme{sizeof(TRACKMOUSEEVENT), TME_LEAVE | TME_HOVER, m_hWnd, 1};
        m_bTracking = ::_TrackMouseEvent(&tme);
    }
    CRect change;
    CImageButton* order[] = {&m_btnClose, &m_btnMax, &m_btnMin, &m_btnIcon, &m_btnSet};
    for (CImageButton* b : order)
        change = UnionChange(change, b->OnMouseMove(nFlags, point));
    InvalidateChange(change);
    Default();
}

LRESULT CSkinDlg::OnMouseLeave(WPARAM wParam, LPARAM lParam) {
    CRect change;
    CImageButton* order[] = {&m_btnClose, &m_btnMax, &m_btnMin, &m_btnIcon, &m_btnSet};
    for (CImageButton* b : order)
        change = UnionChange(change, b->OnMouseLeave(wParam, lParam));
    InvalidateChange(change);
    m_bTracking = FALSE;
    return TRUE;
}

void CSkinDlg::OnLButtonDown(UINT nFlags, CPoint point) {
    ::SetCapture(m_hWnd);
    CRect change;
    CImageButton* order[] = {&m_btnClose, &m_btnMax, &m_btnMin, &m_btnIcon, &m_btnSet};
    for (CImageButton* b : order)
        change = UnionChange(change, b->OnLButtonDown(nFlags, point));
    InvalidateChange(change);
    Default();
}

void CSkinDlg::OnLButtonUp(UINT nFlags, CPoint point) {
    if (m_bSizing)
        EndSizing();
    // The window may be gone after a button's command (close); nothing below touches it then.
    const HWND hWnd = m_hWnd;
    ::ReleaseCapture();
    CRect change;
    CImageButton* order[] = {&m_btnClose, &m_btnMax, &m_btnMin, &m_btnIcon, &m_btnSet};
    for (CImageButton* b : order) {
        change = UnionChange(change, b->OnLButtonUp(nFlags, point));
        if (!::IsWindow(hWnd))
            return;
    }
    InvalidateChange(change);
    Default();
}

LRESULT CSkinDlg::OnCaptureChangedMsg(WPARAM, LPARAM lParam) {
    // Another window took the mouse (an activation, a menu): without the capture the drag would
    // otherwise go on with every later move over this window.
    if (m_bSizing && reinterpret_cast<HWND>(lParam) != m_hWnd) {
        m_bSizing = FALSE;
        m_nHitZone = HITZONE_NONE;
    }
    return 0;
}

LRESULT CSkinDlg::OnGetMinMaxInfoMsg(WPARAM, LPARAM lParam) {
    OnGetMinMaxInfo(reinterpret_cast<MINMAXINFO*>(lParam));
    return 0;
}

CSize CSkinDlg::GetMinTrackSize() const {
    RECT work{};
    ::SystemParametersInfo(SPI_GETWORKAREA, 0, &work, 0);
    // A skin may need more room than the smallest frame, never less; on a screen too small for
    // it the work area is the most it can ask.
    const int cx = std::max(SKIN_MIN_WIDTH, static_cast<int>(m_szSkinMin.cx));
    const int cy = std::max(SKIN_MIN_HEIGHT, static_cast<int>(m_szSkinMin.cy));
    const int workW = work.right - work.left, workH = work.bottom - work.top;
    return CSize(workW > 0 ? std::min(cx, workW) : cx, workH > 0 ? std::min(cy, workH) : cy);
}

void CSkinDlg::OnGetMinMaxInfo(MINMAXINFO* lpMMI) {
    Default();
    RECT work{};
    ::SystemParametersInfo(SPI_GETWORKAREA, 0, &work, 0);
    // The maximized window fills the work area and no more: borders hung outside it would lie
    // on a neighbouring monitor or under a panel, and a window manager keeps every window
    // within the work area anyway.
    lpMMI->ptMaxPosition.x = work.left;
    lpMMI->ptMaxPosition.y = work.top;
    lpMMI->ptMaxSize.x = work.right - work.left;
    lpMMI->ptMaxSize.y = work.bottom - work.top;
    const CSize least = GetMinTrackSize();
    lpMMI->ptMinTrackSize.x = least.cx;
    lpMMI->ptMinTrackSize.y = least.cy;
}

void CSkinDlg::OnMaxButton() {
    // The window's own state decides: it may have been maximized or restored by other means.
    if (::IsZoomed(m_hWnd)) {
        SendMessage(WM_SYSCOMMAND, SC_RESTORE, 0);
        m_bMaximized = FALSE;
    } else {
        SendMessage(WM_SYSCOMMAND, SC_MAXIMIZE, 0);
        m_bMaximized = TRUE;
    }
}

void CSkinDlg::OnMinButton() {
    SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
}

void CSkinDlg::OnSkinCloseCmd() {
    OnSkinClose();
}

void CSkinDlg::OnSkinClose() {
    OnCancel();
}
