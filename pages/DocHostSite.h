// The browser control site of every page view: the host's answers to the browser's questions
// about its user interface (forwarded to the owning view) and about security (answered here).
// The engine under our views has no ActiveX, Java or zones, so the security answers change
// nothing a page can do there; they are kept as the policy the views are written against.
//
// User-interface thread only; no state beyond the view it belongs to.
#pragma once

#include "platform/base/Win32Types.h"
#include "platform/com/Com.h"

class CVorHtmlView;

// The browser's own decision is to be used.
#define INET_E_DEFAULT_ACTION (static_cast<HRESULT>(0x800C0011))
#define URLPOLICY_ALLOW 0x00
#define URLACTION_HTML_JAVA_RUN 0x00001605
#define DOCHOSTUIFLAG_NO3DBORDER 0x00000004
#define DOCHOSTUIFLAG_THEME 0x00040000
#define DOCHOSTUIDBLCLK_DEFAULT 0

using REFGUID = const GUID&;

extern const IID IID_IInternetSecurityManager;

struct DOCHOSTUIINFO {
    ULONG cbSize;
    DWORD dwFlags;
    DWORD dwDoubleClick;
    const char* pchHostCss;
    const char* pchHostNS;
};

class CDocHostSite {
public:
    explicit CDocHostSite(CVorHtmlView* pView) : m_pView(pView) {}

    // Every page may run script and use controls; Java and everything else keep the browser's
    // defaults. Looks at the action only.
    static HRESULT ProcessUrlAction(DWORD dwAction, BYTE* pPolicy, DWORD cbPolicy);
    // The site's own security manager for the browser's request of it, nothing else.
    HRESULT QueryService(REFGUID guidService, REFIID riid, void** ppv);
    // Keys are the browser's own: the view is never asked.
    static HRESULT TranslateAccelerator() { return E_NOTIMPL; }

    CVorHtmlView* m_pView;
};
