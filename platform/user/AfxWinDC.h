// The framework's window DCs: CPaintDC for a WM_PAINT handler (BeginPaint in the constructor,
// EndPaint in the destructor), CClientDC and CWindowDC for drawing on a window outside
// WM_PAINT (GetDC and ReleaseDC). Each draws on the window's own backing surface. They live on
// the stack of the window's thread.
#pragma once

#include "platform/gdi/AfxDC.h"
#include "platform/user/AfxWnd.h"

class CPaintDC : public CDC {
public:
    explicit CPaintDC(CWnd* pWnd);
    ~CPaintDC() override;
    PAINTSTRUCT m_ps{};

protected:
    HWND m_hWnd = nullptr;
};

class CClientDC : public CDC {
public:
    explicit CClientDC(CWnd* pWnd);
    ~CClientDC() override;

protected:
    HWND m_hWnd = nullptr;
};

class CWindowDC : public CDC {
public:
    explicit CWindowDC(CWnd* pWnd);
    ~CWindowDC() override;

protected:
    HWND m_hWnd = nullptr;
};
