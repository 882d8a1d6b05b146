// The base of every page view: a child window covered by a browser control, whose page calls
// the view through `window.external` (the methods of the view's dispatch map, the concrete
// class's entries first, then the base's ReErrorHtml and MyClose) and whose script functions the
// program calls by name with string arguments. It keeps the host's policy: no context menu, page
// message boxes captioned "Velkors", a failed navigation shown as the page folder's "Error.html".
//
// User-interface thread only. Calls nest: a page function the program calls may call the view's
// methods, whose handlers may call page functions again, before the first call returns. A view
// never destroys its own window or its host from inside a page's call; closing is posted.
#pragma once

#include "pages/DocHostSite.h"
#include "platform/afx.h"
#include "platform/web/BrowserControl.h"

#include <functional>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>

class CVorHtmlView;

// One method a page may call: its name, how its result reaches the page, and a thunk made for
// the method's exact signature (string parameters; missing arguments arrive as "").
struct VOR_DISPATCH_ENTRY {
    const char* name; // null ends the table
    afxweb::ExternalResult (*call)(CVorHtmlView* self, const std::vector<CString>& args);
};

struct VOR_DISPATCH_MAP {
    const VOR_DISPATCH_MAP* (*pfnGetBaseMap)();
    const VOR_DISPATCH_ENTRY* lpEntries;
};

namespace vordisp {

template <class R> afxweb::ExternalResult Result(R r) {
    if constexpr (std::is_same_v<R, CString>)
        return afxweb::ExternalResult(r);
    else if constexpr (std::is_same_v<R, BOOL>)
        return afxweb::ExternalResult::Bool(r != FALSE);
    else
        return afxweb::ExternalResult::Long(static_cast<long>(r));
}

template <class T, class R, class... P, size_t... I>
afxweb::ExternalResult CallWith(T* self, R (T::*fn)(P...), const std::vector<CString>& args,
                                std::index_sequence<I...>) {
    auto arg = [&](size_t i) -> LPCSTR { return i < args.size() ? args[i].GetString() : ""; };
    if constexpr (std::is_void_v<R>) {
        (self->*fn)(arg(I)...);
        return afxweb::ExternalResult();
    } else {
        return Result((self->*fn)(arg(I)...));
    }
}

// The thunk for a method `R T::Method(LPCSTR, ...)`; R is void, BOOL, long or CString.
template <class T, auto F>
afxweb::ExternalResult Thunk(CVorHtmlView* self, const std::vector<CString>& args) {
    return []<class R, class... P>(T* t, R (T::*fn)(P...), const std::vector<CString>& a) {
        static_assert((std::is_same_v<P, LPCSTR> && ...), "page methods take string parameters");
        return CallWith(t, fn, a, std::index_sequence_for<P...>{});
    }(static_cast<T*>(self), F, args);
}

} // namespace vordisp

class CVorHtmlView : public CWnd {
public:
    explicit CVorHtmlView(BOOL bAutoDelete = TRUE);
    ~CVorHtmlView() override;
    static CVorHtmlView* CreateObject() { return new CVorHtmlView(TRUE); }

    // The control every view is given when its window is created (the engine's by default;
    // tests give a fake).
    using BrowserFactory = std::function<std::unique_ptr<afxweb::IBrowserControl>(HWND hView)>;
    static void SetBrowserFactory(BrowserFactory factory);

    BOOL Create(CRect rect, CWnd* pParent, UINT nID);
    void Navigate2(LPCSTR lpszURL);

    BOOL CallJScript(const CString& strFunc, CString* pResult = nullptr);
    BOOL CallJScript(const CString& strFunc, const CString& strArg1, CString* pResult = nullptr);
    BOOL CallJScript(const CString& strFunc, const CString& strArg1, const CString& strArg2,
                     CString* pResult = nullptr);
    BOOL CallJScript(const CString& strFunc, const CString& strArg1, const CString& strArg2,
                     const CString& strArg3, CString* pResult = nullptr);
    BOOL InvokeScript(const CString& strFunc, const CStringArray& args, CString* pResult);
    BOOL GetJScript(afxweb::IBrowserControl*& spScript);
    BOOL FetchDocument();

    // Host questions.
    virtual HRESULT OnShowContextMenu(DWORD dwID, POINT* ppt, void* pcmdtReserved, void* pdispReserved);
    virtual HRESULT OnShowCustomContextMenu(POINT* ppt, void* pcmdtReserved, void* pdispReserved);
    virtual HRESULT OnGetHostInfo(DOCHOSTUIINFO* pInfo);
    virtual HRESULT OnShowMessage(HWND hwnd, LPCSTR lpstrText, LPCSTR lpstrCaption, DWORD dwType,
                                  LPCSTR lpstrHelpFile, DWORD dwHelpContext, LRESULT* plResult);
    virtual void OnDocumentComplete(LPCSTR lpszURL);
    virtual void OnNavigateError(LPCSTR lpszURL, LPCSTR lpszFrame, DWORD dwError, BOOL* pbCancel);

    // Which pages may call the view, and where the view may go: the page folder and its error
    // page for the base (the local page views); the store's views widen both.
    virtual BOOL IsTrustedUrl(const CString& strUrl);
    virtual BOOL AllowsNavigation(const CString& strUrl);
    // Which requests a page showing strUrl may make (IBrowserEvents::RequestLimit): a page of the
    // page folder reaches only the folder's files, plus what AddAllowedRequests names; other
    // pages are not limited.
    virtual BOOL GetRequestLimit(const CString& strUrl, std::vector<CString>& allowed);
    virtual void AddAllowedRequests(std::vector<CString>& allowed) { (void)allowed; }
    // The installed page folder, in the program's Windows form with a trailing backslash.
    virtual CString GetPageFolder();
    // "Error.html" of the page folder, as a URL.
    CString GetErrorPageUrl();
    // A file of the page folder, as a URL.
    CString GetPageUrl(const CString& strName);

    // Page methods of every view.
    BOOL ReErrorHtml(LPCSTR lpszIgnored);
    BOOL MyClose(LPCSTR lpszIgnored);

    // The dispatch map: the concrete class's table, then its bases'.
    static const VOR_DISPATCH_MAP* GetThisDispatchMap();
    virtual const VOR_DISPATCH_MAP* GetDispatchMap() const { return GetThisDispatchMap(); }
    std::vector<CString> GetDispatchNames() const;
    afxweb::ExternalResult DispatchCall(const CString& strMethod, const std::vector<CString>& args);

    afxweb::IBrowserControl* GetBrowser() const { return m_pBrowser.get(); }

    int m_nContextMenuMode = 1;
    CString m_strCaption = "Velkors";
    DWORD m_dwHostFlags = DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_THEME;
    BOOL m_bAutoDelete;
    // The current document (the browser itself once a document is complete), null before.
    afxweb::IBrowserControl* m_spDoc = nullptr;
    CWnd* m_pParent = nullptr;
    CString m_strLastUrl;

protected:
    int OnCreate(LPCREATESTRUCT lpCreateStruct);
    void OnDestroy();
    int OnMouseActivate(CWnd* pDesktopWnd, UINT nHitTest, UINT message);
    void OnSize(UINT nType, int cx, int cy);
    void PostNcDestroy() override;
    DECLARE_MESSAGE_MAP()

private:
    class CEvents;
    std::unique_ptr<CEvents> m_events;
    std::unique_ptr<afxweb::IBrowserControl> m_pBrowser;
    CDocHostSite m_site{this};
};
