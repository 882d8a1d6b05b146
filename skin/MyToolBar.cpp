#include "skin/MyToolBar.h"

#include "skin/SkinInfo.h"

#include <algorithm>

IMPLEMENT_DYNAMIC(CMyToolBar, CWnd)

BEGIN_MESSAGE_MAP(CMyToolBar, CWnd)
ON_WM_SIZE()
ON_MESSAGE(WM_ERASEBKGND, OnEraseBkgndMsg)
ON_WM_MOUSEMOVE()
ON_WM_LBUTTONDOWN()
ON_WM_LBUTTONUP()
ON_MESSAGE(WM_MOUSELEAVE, OnMouseLeave)
ON_COMMAND(ID_TB_HOME, OnHome)
ON_COMMAND(ID_TB_MY_BOOK, OnMyBook)
ON_COMMAND(ID_TB_MAKE_BOOK, OnMakeBook)
ON_COMMAND(ID_TB_READ, OnRead)
ON_COMMAND(ID_TB_LOGIN, OnLogin)
ON_COMMAND(ID_TB_OUTLOG, OnOutlog)
END_MESSAGE_MAP()

CMyToolBar::CMyToolBar()
    : m_pBmpMem(nullptr), m_pBmpBack(nullptr), m_bTracking(FALSE), m_bCaptured(FALSE), m_pBgImage(nullptr) {}

CMyToolBar::~CMyToolBar() {
    if (m_hWnd && ::IsWindow(m_hWnd))
        DestroyWindow();
    ReleaseSkin();
}

BOOL CMyToolBar::Create(LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                        CWnd* pParentWnd, UINT nID, void* pContext) {
    return CWnd::Create(lpszClassName, lpszWindowName, dwStyle, rect, pParentWnd, nID, pContext);
}

CImageButton* CMyToolBar::MouseButtons(int i) {
    CImageButton* all[] = {&m_btnHome, &m_btnMakeBook, &m_btnMyBook, &m_btnRead, &m_btnLogin, &m_btnOutlog};
    return all[i];
}

int CMyToolBar::InactiveTop() const {
    return m_pBgImage ? static_cast<int>(m_pBgImage->GetHeight() / 2) : 0;
}

void CMyToolBar::LoadSkin(CString strFileName) {
    CSkinInfo skin;
    skin.Load(strFileName);
    const CString bg = skin.GetBgImage();
    if (!bg.IsEmpty()) {
        delete m_pBgImage;
        m_pBgImage = LoadSkinImage(bg);
    }
    const CRect offset(0, InactiveTop(), 0, 0);
    struct Item {
        CImageButton* btn;
        CRect* rect;
        CRect anchor;
        CString image;
        UINT id;
    };
    const Item items[] = {
        {&m_btnHome, &m_rcHome, skin.GetHomeRect(), skin.GetHomeImage(), ID_TB_HOME},
        {&m_btnMakeBook, &m_rcMakeBook, skin.GetMakeBookRect(), skin.GetMakeBookImage(), ID_TB_MAKE_BOOK},
        {&m_btnMyBook, &m_rcMyBook, skin.GetMyBookRect(), skin.GetMyBookImage(), ID_TB_MY_BOOK},
        {&m_btnRead, &m_rcRead, skin.GetReadRect(), skin.GetReadImage(), ID_TB_READ},
        {&m_btnLogin, &m_rcLogin, skin.GetLoginRect(), skin.GetLoginImage(), ID_TB_LOGIN},
        {&m_btnOutlog, &m_rcOutlog, skin.GetOutlogRect(), skin.GetOutlogImage(), ID_TB_OUTLOG},
    };
    for (const Item& it : items) {
        *it.rect = it.anchor;
        it.btn->Load(it.image, this, it.id);
        it.btn->SetDC(&m_dcMem, &m_dcBack, offset);
    }
    m_rcUsername = skin.GetUsernameRect();
    m_btnUsername.Create("", CRect(), skin.GetUsernameImage(), this, ID_TB_OUTLOG);
    m_btnUsername.SetDC(&m_dcMem, &m_dcBack, offset);
    CreateBuffers();
    GetClientRect(&m_rcClient);
    Layout(m_rcClient);
    m_btnHome.SetKind(IMGBTN_KIND_RADIO);
    m_btnMakeBook.SetKind(IMGBTN_KIND_RADIO);
    m_btnMyBook.SetKind(IMGBTN_KIND_RADIO);
    m_btnRead.SetKind(IMGBTN_KIND_RADIO);
    m_btnRead.Hide(TRUE);
    m_btnOutlog.Hide(TRUE);
    m_btnUsername.SetText("ss");
    // Hiding a button only cleans the buffer; the layout above has already put the hidden
    // tabs on the screen, which must now show the band in their place.
    Repaint();
}

void CMyToolBar::ReleaseSkin() {
    delete m_pBgImage;
    m_pBgImage = nullptr;
    m_dcMem.DeleteDC();
    m_dcBack.DeleteDC();
    delete m_pBmpMem;
    m_pBmpMem = nullptr;
    delete m_pBmpBack;
    m_pBmpBack = nullptr;
}

void CMyToolBar::BuildBitmaps(CDC* pRefDC) {
    const int cx = m_rcBuffer.Width(), cy = m_rcBuffer.Height();
    auto* mem = new CBitmap;
    mem->CreateCompatibleBitmap(pRefDC, cx, cy);
    m_dcMem.SelectObject(mem);
    delete m_pBmpMem;
    m_pBmpMem = mem;
    m_dcMem.FillSolidRect(0, 0, cx, cy, RGB(0, 0, 0));
    auto* back = new CBitmap;
    back->CreateCompatibleBitmap(pRefDC, cx, cy);
    m_dcBack.SelectObject(back);
    delete m_pBmpBack;
    m_pBmpBack = back;
    m_dcBack.FillSolidRect(0, 0, cx, cy, RGB(0, 0, 0));
    DrawBackground(&m_dcBack);
    m_dcMem.BitBlt(0, 0, cx, cy, &m_dcBack, 0, 0, SRCCOPY);
}

void CMyToolBar::CreateBuffers() {
    CRect client;
    GetClientRect(&client);
    if (m_pBgImage)
        m_rcBuffer = CRect(0, 0, ::GetSystemMetrics(SM_CXSCREEN), static_cast<int>(m_pBgImage->GetHeight()));
    else // nothing to take a height from: a black picture of the tool bar's own size
        m_rcBuffer = CRect(0, 0, client.Width(), client.Height());
    HDC hdc = ::GetDC(m_hWnd);
    CDC* pDC = CDC::FromHandle(hdc);
    if (m_dcMem.GetSafeHdc())
        m_dcMem.DeleteDC();
    if (m_dcBack.GetSafeHdc())
        m_dcBack.DeleteDC();
    m_dcMem.CreateCompatibleDC(pDC);
    m_dcBack.CreateCompatibleDC(pDC);
    BuildBitmaps(pDC);
    ::ReleaseDC(m_hWnd, hdc);
}

void CMyToolBar::DrawBackground(CDC* pDC) {
    if (!m_pBgImage)
        return;
    Gdiplus::Graphics g(pDC->GetSafeHdc());
    PrepareSkinGraphics(g);
    g.DrawImage(m_pBgImage, 0, 0, m_rcBuffer.Width(), m_rcBuffer.Height(), 0, 0,
                static_cast<INT>(m_pBgImage->GetWidth()), static_cast<INT>(m_pBgImage->GetHeight()),
                Gdiplus::UnitPixel);
}

void CMyToolBar::Layout(CRect rcClient) {
    if (!m_dcMem.GetSafeHdc())
        return;
    if (rcClient.Width() > m_rcBuffer.Width()) {
        m_rcBuffer.right = m_rcBuffer.left + rcClient.Width();
        HDC hdc = ::GetDC(m_hWnd);
        BuildBitmaps(CDC::FromHandle(hdc));
        ::ReleaseDC(m_hWnd, hdc);
        // The new buffers hold only the background: every button must draw itself again.
        for (int i = 0; i < 6; ++i)
            if (MouseButtons(i)->IsVisible())
                MouseButtons(i)->Invalidate();
        m_btnUsername.Invalidate();
    }
    // Each button takes the frame size of the picture it holds now, so that a skin switch to
    // pictures of another size places it at its new size.
    struct Placed {
        CImageButton* btn;
        const CRect* anchor;
    };
    const Placed order[] = {{&m_btnUsername, &m_rcUsername}, {&m_btnLogin, &m_rcLogin},
                            {&m_btnOutlog, &m_rcOutlog},     {&m_btnHome, &m_rcHome},
                            {&m_btnMyBook, &m_rcMyBook},     {&m_btnRead, &m_rcRead},
                            {&m_btnMakeBook, &m_rcMakeBook}};
    for (const Placed& p : order) {
        const int w = p.btn->GetImageFrameWidth(), h = p.btn->GetImageFrameHeight();
        p.btn->MoveTo(CalcAnchoredRect(*p.anchor, w, h, rcClient), FALSE);
        p.btn->RestoreBackground();
    }
    RedrawButtons();
}

void CMyToolBar::RedrawButtons() {
    CImageButton* order[] = {&m_btnUsername, &m_btnLogin,  &m_btnOutlog, &m_btnHome,
                             &m_btnMakeBook, &m_btnMyBook, &m_btnRead};
    for (CImageButton* b : order)
        if (b->IsVisible() && m_dcMem.GetSafeHdc())
            b->Update();
    Repaint();
}

void CMyToolBar::Repaint() {
    if (m_hWnd)
        RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_NOCHILDREN | RDW_UPDATENOW);
}

void CMyToolBar::UpdateLayout() {
    m_btnHome.Invalidate();
    m_btnMakeBook.Invalidate();
    m_btnMyBook.Invalidate();
    m_btnRead.Invalidate();
    if (!m_rcClient.IsRectNull())
        Layout(m_rcClient);
    Repaint();
}

LRESULT CMyToolBar::OnEraseBkgndMsg(WPARAM wParam, LPARAM) {
    return OnEraseBkgnd(CDC::FromHandle(reinterpret_cast<HDC>(wParam)));
}

BOOL CMyToolBar::OnEraseBkgnd(CDC* pDC) {
    BOOL active = FALSE;
    if (CWnd* parent = GetParent()) {
        WINDOWINFO wi{};
        wi.cbSize = sizeof wi;
        active = ::GetWindowInfo(parent->GetSafeHwnd(), &wi) && (wi.dwWindowStatus & WS_ACTIVECAPTION) != 0;
    }
    CRect client;
    GetClientRect(&client);
    if (m_dcMem.GetSafeHdc())
        pDC->BitBlt(0, 0, client.Width(), client.Height(), &m_dcMem, 0, active ? 0 : InactiveTop(), SRCCOPY);
    return TRUE;
}

void CMyToolBar::OnSize(UINT, int cx, int cy) {
    m_rcClient.right = cx;
    m_rcClient.bottom = cy;
    Layout(m_rcClient);
}

void CMyToolBar::OnMouseMove(UINT nFlags, CPoint point) {
    if (!m_bTracking) {
        TRACKMOUSEEVENT tme{sizeof(TRACKMOUSEEVENT), TME_HOVER | TME_LEAVE, m_hWnd, 1};
        m_bTracking = ::_TrackMouseEvent(&tme);
    }
    for (int i = 0; i < 6; ++i)
        MouseButtons(i)->OnMouseMove(nFlags, point);
    RedrawButtons();
    Default();
}

void CMyToolBar::OnLButtonDown(UINT nFlags, CPoint point) {
    SetCapture();
    m_bCaptured = TRUE;
    for (int i = 0; i < 6; ++i)
        MouseButtons(i)->OnLButtonDown(nFlags, point);
    RedrawButtons();
    Default();
}

void CMyToolBar::OnLButtonUp(UINT nFlags, CPoint point) {
    if (m_bCaptured) {
        m_bCaptured = FALSE;
        ::ReleaseCapture();
    }
    for (int i = 0; i < 6; ++i)
        MouseButtons(i)->OnLButtonUp(nFlags, point);
    RedrawButtons();
    Default();
}

LRESULT CMyToolBar::OnMouseLeave(WPARAM wParam, LPARAM lParam) {
    m_bTracking = FALSE;
    for (int i = 0; i < 6; ++i)
        MouseButtons(i)->OnMouseLeave(wParam, lParam);
    RedrawButtons();
    return 0;
}

void CMyToolBar::SelectHome() {
    m_btnHome.SetChecked(TRUE);
    m_btnMakeBook.SetChecked(FALSE);
    m_btnRead.SetChecked(FALSE);
    m_btnMyBook.SetChecked(FALSE);
    Repaint();
}

void CMyToolBar::SelectMakeBook() {
    m_btnMakeBook.SetChecked(TRUE);
    m_btnHome.SetChecked(FALSE);
    m_btnRead.SetChecked(FALSE);
    m_btnMyBook.SetChecked(FALSE);
    Repaint();
}

void CMyToolBar::SelectMyBook() {
    m_btnMyBook.SetChecked(TRUE);
    m_btnHome.SetChecked(FALSE);
    m_btnMakeBook.SetChecked(FALSE);
    m_btnRead.SetChecked(FALSE);
    Repaint();
}

void CMyToolBar::SelectRead() {
    m_btnRead.Show(TRUE);
    m_btnRead.SetChecked(TRUE);
    m_btnHome.SetChecked(FALSE);
    m_btnMakeBook.SetChecked(FALSE);
    m_btnMyBook.SetChecked(FALSE);
    Repaint();
}

void CMyToolBar::HideRead() {
    m_btnRead.Hide(TRUE);
    Repaint();
}

namespace {
void Tell(CWnd* parent, UINT id) {
    if (parent)
        parent->SendMessage(WM_TOOLBAR_CLICK, id, 0);
}
} // namespace

void CMyToolBar::OnHome() {
    m_btnMakeBook.SetChecked(FALSE);
    m_btnMyBook.SetChecked(FALSE);
    m_btnRead.SetChecked(FALSE);
    Tell(GetParent(), ID_TB_HOME);
}

void CMyToolBar::OnMakeBook() {
    m_btnHome.SetChecked(FALSE);
    m_btnMyBook.SetChecked(FALSE);
    m_btnRead.SetChecked(FALSE);
    Tell(GetParent(), ID_TB_MAKE_BOOK);
}

void CMyToolBar::OnMyBook() {
    m_btnHome.SetChecked(FALSE);
    m_btnMakeBook.SetChecked(FALSE);
    m_btnRead.SetChecked(FALSE);
    Tell(GetParent(), ID_TB_MY_BOOK);
}

void CMyToolBar::OnRead() {
    m_btnHome.SetChecked(FALSE);
    m_btnMakeBook.SetChecked(FALSE);
    m_btnMyBook.SetChecked(FALSE);
    Tell(GetParent(), ID_TB_READ);
}

void CMyToolBar::OnLogin() {
    Tell(GetParent(), ID_TB_LOGIN);
}

void CMyToolBar::OnOutlog() {
    Tell(GetParent(), ID_TB_OUTLOG);
}
