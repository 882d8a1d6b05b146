// CIconButton: an image button that also shows an optional 16 x 16 icon and a line of text, and
// whose picture may be narrower or wider than the button: it shows the left and the right part of
// its frame, so one picture serves any width up to twice the frame's. Hosts drive it as any image
// button. User-interface thread only.
#pragma once

#include "skin/ImageButton.h"

class CIconButton : public CImageButton {
public:
    CIconButton();
    ~CIconButton();

    // A non-empty icon file loads the icon (its own size) and keeps the placement rule, an
    // anchored rectangle within the button whose left value is also the gap before the text;
    // an empty one keeps both. Then loads the picture as CImageButton::Load does.
    void Create(CString strIconFile, CRect rcIcon, CString strImage, CWnd* pParent, UINT nID);
    // Drawn at the next Update.
    void SetText(CString strText);
    CString GetText() const { return m_strText; }
    HICON GetIcon() const { return m_hIcon; }

    CRect MoveTo(CRect rcNew, BOOL bRedraw) override;
    void Draw() override;

protected:
    CString m_strText;
    HICON m_hIcon;
    CRect m_rcIcon;

private:
    void DrawAt(Gdiplus::Graphics& g, int dx, int dy, int row);
};
