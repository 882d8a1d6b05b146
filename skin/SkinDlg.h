// CSkinDlg: the base of every skinned window, a window without a system frame whose frame is
// painted from a skin's nine-slice "edge" picture and behaves like a frame.
//
// The whole window is client area. The edge picture is drawn once per look (active above,
// inactive below) into memory strips as wide and as tall as the screen; a paint then only copies
// strips, and the caption buttons draw themselves into the same strips. The strips grow when the
// window grows beyond every size it has had, and are drawn again on a skin switch (LoadSkin,
// then ReloadSkinLayout). Hit tests answer border and caption codes from the skin, a border drag
// resizes the window, never below the skin's minimum (SKIN_MIN_WIDTH x SKIN_MIN_HEIGHT, or the
// larger size a skin's edge item names, within the work area), which WM_GETMINMAXINFO gives the
// window manager too, and a maximized window fills the work area exactly. User-interface thread
// only.
#pragma once

#include "platform/afx.h"
#include "platform/gdi/AfxDC.h"
#include "platform/gdi/GdiPlus.h"
#include "skin/ImageButton.h"

inline constexpr UINT ID_SKIN_CLOSE = 11001;
inline constexpr UINT ID_SKIN_MAX = 11002;
inline constexpr UINT ID_SKIN_MIN = 11003;
inline constexpr UINT ID_SKIN_ICON = 11004;
inline constexpr UINT ID_SKIN_SET = 11005;

// The border zone of no hit test; never returned as a hit code.
inline constexpr int HITZONE_NONE = 20;
inline constexpr int SKIN_MIN_WIDTH = 500;
inline constexpr int SKIN_MIN_HEIGHT = 400;

class CSkinDlg : public CDialog {
    DECLARE_DYNAMIC(CSkinDlg)

public:
    CSkinDlg(UINT nIDTemplate, CWnd* pParent);
    ~CSkinDlg() override;

    // Reads a window skin; draws nothing. Before creation the caches are built from it at
    // WM_CREATE; on a window that exists, ReloadSkinLayout must follow.
    void LoadSkin(CString strFileName);
    void ReloadSkinLayout();
    void SetCustomHitTest(BOOL bOn) { m_bCustomHitTest = bOn; }

    // Closing from the caption button; the default cancels the dialog (OnCancel).
    virtual void OnSkinClose();

    BOOL IsSizing() const { return m_bSizing; }
    // The smallest window the loaded skin allows on this screen: its edge item's width and height
    // where they are larger than SKIN_MIN_WIDTH x SKIN_MIN_HEIGHT, never beyond the work area.
    CSize GetMinTrackSize() const;
    // The window skin loaded last ("" before the first).
    const CString& GetSkinName() const { return m_strSkinName; }

    void OnSize(UINT nType, int cx, int cy);

protected:
    int OnCreate(LPCREATESTRUCT lpCreateStruct);
    BOOL OnEraseBkgnd(CDC* pDC);
    void OnActivate(UINT nState, CWnd* pWndOther, BOOL bMinimized);
    LRESULT OnNcHitTest(CPoint point);
    void OnNcLButtonDown(UINT nHitTest, CPoint point);
    void OnNcLButtonUp(UINT nHitTest, CPoint point);
    void OnNcLButtonDblClk(UINT nHitTest, CPoint point);
    void OnNcMouseMove(UINT nHitTest, CPoint point);
    void OnMouseMove(UINT nFlags, CPoint point);
    void OnLButtonDown(UINT nFlags, CPoint point);
    void OnLButtonUp(UINT nFlags, CPoint point);
    LRESULT OnMouseLeave(WPARAM wParam, LPARAM lParam);
    void OnGetMinMaxInfo(MINMAXINFO* lpMMI);
    void OnMaxButton();
    void OnMinButton();

    // Message-map adapters for the messages the kernel's map has no entry kind for.
    LRESULT OnEraseBkgndMsg(WPARAM wParam, LPARAM lParam);
    LRESULT OnGetMinMaxInfoMsg(WPARAM wParam, LPARAM lParam);
    LRESULT OnCaptureChangedMsg(WPARAM wParam, LPARAM lParam);
    void OnSkinCloseCmd();

    void BuildFrameCache();
    void ResizeFrameCache(int cx, int cy);
    void DrawFrameEdges(BOOL bActive);
    void CommitFrameCache();
    void LayoutButtons(int cx, int cy);

    CRect m_rcEdge;
    CRect m_rcEdgeMax;
    Gdiplus::Image* m_pEdgeImage;
    CRect m_rcCloseSpec;
    CImageButton m_btnClose;
    CRect m_rcMaxSpec;
    CImageButton m_btnMax;
    CRect m_rcMinSpec;
    CImageButton m_btnMin;
    CRect m_rcSetSpec;
    CImageButton m_btnSet;
    CRect m_rcIconSpec;
    CImageButton m_btnIcon;
    CBitmap* m_pVertBmp;
    CBitmap* m_pHorzBmp;
    CBitmap* m_pVertCleanBmp;
    CBitmap* m_pHorzCleanBmp;
    CDC m_dcVert;
    CDC m_dcHorz;
    CDC m_dcVertClean;
    CDC m_dcHorzClean;
    CRect m_rcCache;
    BOOL m_bCacheBuilt;
    int m_nHitZone;
    CRect m_rcDrag;
    BOOL m_bSizing;
    BOOL m_bMaximized;
    BOOL m_bTracking;
    BOOL m_bCustomHitTest;
    CSize m_szSkinMin;
    CString m_strSkinName;

    DECLARE_MESSAGE_MAP()

private:
    // The frame's thicknesses as drawing may use them: never negative, and the caption and bottom
    // never more than one half of the edge picture.
    int EdgeLeft() const;
    int EdgeTop() const;
    int EdgeRight() const;
    int EdgeBottom() const;
    void EndSizing();
    void GiveButtonsDCs();
    // Replaces the bitmap selected in dc by a new compatible one of cx x cy.
    void ReplaceBitmap(CDC& dc, CBitmap*& pBmp, CDC* pRefDC, int cx, int cy);
    CImageButton* Buttons(int i);
    void InvalidateChange(const CRect& r);
};
