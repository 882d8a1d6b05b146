// CImageButton: a windowless button drawn from one skin picture, for the skinned frame's caption
// buttons and the tool bar's tabs.
//
// A host window owns the button, gives it two memory DCs (one it draws into and one holding the
// clean background), forwards its mouse messages, and brings to the screen the rectangles the
// button's operations return (all-zero: nothing changed). The picture holds four frames side by
// side (normal, hover, pressed or checked, selected) in two rows; row 1 is drawn a second time at
// an offset the host chooses, so that one buffer holds the active and the inactive look. A click
// reaches the parent as WM_COMMAND with the button's id, sent synchronously: the parent's handler
// may call back into the host, and may run a modal loop, before the mouse operation returns.
// User-interface thread only.
#pragma once

#include "platform/afx.h"
#include "platform/gdi/AfxDC.h"
#include "platform/gdi/GdiPlus.h"

inline constexpr int IMGBTN_STATE_NORMAL = 0;
inline constexpr int IMGBTN_STATE_SELECTED = 1;
inline constexpr int IMGBTN_STATE_DISABLED = 2;
inline constexpr int IMGBTN_STATE_HIDDEN = 3;

inline constexpr int IMGBTN_KIND_PUSH = 0;
inline constexpr int IMGBTN_KIND_RADIO = 1;
inline constexpr int IMGBTN_KIND_TOGGLE = 2;

// Pictures come from skin folders that an update may replace over plain HTTP; a picture beyond
// this size in either direction is refused rather than decoded into a huge buffer.
inline constexpr UINT SKIN_IMAGE_MAX_SIDE = 8192;

// A skin picture loaded from a path in the ANSI code page, or null for an empty path. A picture
// that does not load, or one larger than SKIN_IMAGE_MAX_SIDE, is an image of 0 x 0.
Gdiplus::Image* LoadSkinImage(const CString& strPath);
// A Graphics over the DC set up the way every skin picture is drawn: nearest neighbour with
// half-pixel centres, so equal sizes copy exactly.
void PrepareSkinGraphics(Gdiplus::Graphics& g);

class CImageButton {
public:
    CImageButton();
    ~CImageButton();
    CImageButton(const CImageButton&) = delete;
    CImageButton& operator=(const CImageButton&) = delete;

    // A non-empty path replaces the picture; an empty one keeps it. Parent and id are stored.
    void Load(CString strImage, CWnd* pParent, UINT nID);

    virtual void SetDC(CDC* pDC, CDC* pBackDC, CRect rcOffset);
    virtual CRect MoveTo(CRect rcNew, BOOL bRedraw);
    virtual CRect Update();
    virtual void RestoreBackground();
    virtual void Draw();
    virtual CRect OnMouseMove(UINT nFlags, CPoint point);
    virtual CRect OnLButtonDown(UINT nFlags, CPoint point);
    virtual CRect OnLButtonUp(UINT nFlags, CPoint point);
    virtual CRect OnMouseLeave(WPARAM wParam, LPARAM lParam);

    // The placed rectangle's size; before placement, one frame of the picture.
    int GetFrameWidth() const;
    int GetFrameHeight() const;
    // One frame of the picture as it is now, whatever the rectangle: hosts place buttons by it
    // when a skin loads, so that a new skin's buttons take their own size.
    int GetImageFrameWidth() const;
    int GetImageFrameHeight() const;

    BOOL HitTest(CPoint point) const;
    void SetState(int nState, BOOL bRedraw);
    int GetState() const { return m_nState; }
    void SetKind(int nKind) { m_nKind = nKind; }
    int GetKind() const { return m_nKind; }
    BOOL IsReady() const { return m_pImage != nullptr && m_pDC != nullptr; }
    BOOL IsVisible() const { return m_nState != IMGBTN_STATE_HIDDEN; }
    void Show(BOOL bRedraw) { SetState(IMGBTN_STATE_NORMAL, bRedraw); }
    void Hide(BOOL bRedraw) { SetState(IMGBTN_STATE_HIDDEN, bRedraw); }
    void SetChecked(BOOL bChecked);
    BOOL IsChecked() const { return m_bDown; }
    CRect Invalidate();
    void FireClick();

    int GetFrame() const { return m_nFrame; }
    CRect GetRect() const { return m_rcButton; }
    UINT GetID() const { return m_nID; }

protected:
    // Sets the frame; the button becomes dirty only when it changes.
    void ShowFrame(int nFrame);
    // Copies the clean background over r, and over r's twin at the offset.
    void CopyBackground(const CRect& r);
    BOOL HasOffset() const { return m_rcOffset.left > 0 || m_rcOffset.top > 0; }

    int m_nFrame;
    BOOL m_bDirty;
    BOOL m_bDown;
    int m_nState;
    int m_nKind;
    CRect m_rcButton;
    CRect m_rcOld;
    CRect m_rcErase;
    CRect m_rcOffset;
    Gdiplus::Image* m_pImage;
    CDC* m_pBackDC;
    CDC* m_pDC;
    CWnd* m_pParent;
    UINT m_nID;
};

// The union of two change rectangles, where all-zero means none.
CRect UnionChange(const CRect& a, const CRect& b);
