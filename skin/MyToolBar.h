// CMyToolBar: the main window's tab strip, one child window that shows a skin's background and
// a row of windowless buttons; a click reaches the parent as WM_TOOLBAR_CLICK with the button's
// id, sent synchronously, so the parent has switched its tab before the tool bar's mouse handler
// returns.
//
// It draws into two memory buffers as wide as the screen (or the tool bar, when wider): the
// clean background and the composed picture, each with the active look in its upper half and
// the inactive look in its lower half; a paint copies the half that matches the parent's
// activation. A skin without a background gives black buffers of the tool bar's size.
// User-interface thread only.
#pragma once

#include "platform/afx.h"
#include "platform/gdi/AfxDC.h"
#include "platform/gdi/GdiPlus.h"
#include "skin/IconButton.h"
#include "skin/ImageButton.h"

inline constexpr UINT WM_TOOLBAR_CLICK = 11000;
inline constexpr UINT ID_TB_HOME = 11001;
inline constexpr UINT ID_TB_MAKE_BOOK = 11008;
inline constexpr UINT ID_TB_MY_BOOK = 11003;
inline constexpr UINT ID_TB_READ = 11004;
inline constexpr UINT ID_TB_LOGIN = 11005;
inline constexpr UINT ID_TB_OUTLOG = 11006;

class CMyToolBar : public CWnd {
    DECLARE_DYNAMIC(CMyToolBar)
public:
    CMyToolBar();
    ~CMyToolBar() override;

    BOOL Create(LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                CWnd* pParentWnd, UINT nID, void* pContext = nullptr) override;
    void LoadSkin(CString strFileName);
    void ReleaseSkin();
    void UpdateLayout();

    void SelectHome();
    void SelectMakeBook();
    void SelectMyBook();
    void SelectRead();
    void HideRead();
    void Repaint();
    // The height of one look of the skin's background, the band the tool bar is made for; 0
    // without a background.
    int GetSkinHeight() const { return InactiveTop(); }

    virtual void OnHome();
    virtual void OnMakeBook();
    virtual void OnMyBook();
    virtual void OnRead();
    virtual void OnLogin();
    virtual void OnOutlog();

protected:
    void OnSize(UINT nType, int cx, int cy);
    BOOL OnEraseBkgnd(CDC* pDC);
    void OnMouseMove(UINT nFlags, CPoint point);
    void OnLButtonDown(UINT nFlags, CPoint point);
    void OnLButtonUp(UINT nFlags, CPoint point);
    LRESULT OnMouseLeave(WPARAM wParam, LPARAM lParam);
    LRESULT OnEraseBkgndMsg(WPARAM wParam, LPARAM lParam);

    void CreateBuffers();
    void DrawBackground(CDC* pDC);
    void Layout(CRect rcClient);
    void RedrawButtons();

    CImageButton m_btnHome;
    CImageButton m_btnMakeBook;
    CImageButton m_btnMyBook;
    CImageButton m_btnRead;
    CImageButton m_btnLogin;
    CImageButton m_btnOutlog;
    CIconButton m_btnUsername;
    CRect m_rcHome;
    CRect m_rcMakeBook;
    CRect m_rcMyBook;
    CRect m_rcRead;
    CRect m_rcLogin;
    CRect m_rcOutlog;
    CRect m_rcUsername;
    CRect m_rcBuffer;
    CDC m_dcMem;
    CDC m_dcBack;
    CBitmap* m_pBmpMem;
    CBitmap* m_pBmpBack;
    CRect m_rcClient;
    BOOL m_bTracking;
    BOOL m_bCaptured;
    Gdiplus::Image* m_pBgImage;

    DECLARE_MESSAGE_MAP()

private:
    // Half the background's height: where the inactive look starts; 0 without a background.
    int InactiveTop() const;
    // New bitmaps of the buffer size in both DCs, black, then the background drawn and copied.
    void BuildBitmaps(CDC* pRefDC);
    // The six buttons that take the mouse, in the order they are asked.
    CImageButton* MouseButtons(int i);
};
