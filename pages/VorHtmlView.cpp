#include "pages/VorHtmlView.h"

#include "foundation/AppPathInfo.h"
#include "platform/kernel/FileSys.h"
#include "platform/web/NavigationPolicy.h"
#include "platform/web/WebKitBrowser.h"

namespace {

CVorHtmlView::BrowserFactory& Factory() {
    static CVorHtmlView::BrowserFactory factory = [](HWND hView) -> std::unique_ptr<afxweb::IBrowserControl> {
        return afxweb::CreateWebKitBrowser(hView);
    };
    return factory;
}

// A URL for what the program names: a URL as it is, a path of the program's Windows form as a
// file URL.
CString UrlOf(const CString& s) {
    if (s.IsEmpty() || s.Find("://") >= 0 || s.Find("about:") == 0)
        return s;
    std::string path;
    if (!AfxMapPath(s.GetString(), path))
        return s;
    return CString(AfxUtf8ToAnsi(afxweb::NavigationUrl(path)));
}

bool StartsWith(const CString& s, const CString& prefix) {
    return !prefix.IsEmpty() && s.str().compare(0, prefix.str().size(), prefix.str()) == 0;
}

// Shown when the error page itself cannot be loaded (a missing page package): enough to retry.
const char* const kBuiltInErrorPage =
    "<!DOCTYPE html><html><head><meta charset='utf-8'></head><body style='font:14px sans-serif;margin:40px'>"
    "<p id='text'></p><button id='retry'></button><script>"
    "document.getElementById('text').textContent = '\\u9875\\u9762\\u65e0\\u6cd5\\u6253\\u5f00\\u3002';"
    "var b = document.getElementById('retry'); b.textContent = '\\u91cd\\u8bd5';"
    "b.onclick = function () { window.external.ReErrorHtml(''); };"
    "</script></body></html>";

const VOR_DISPATCH_ENTRY kBaseEntries[] = {
    {"ReErrorHtml", &vordisp::Thunk<CVorHtmlView, &CVorHtmlView::ReErrorHtml>},
    {"MyClose", &vordisp::Thunk<CVorHtmlView, &CVorHtmlView::MyClose>},
    {nullptr, nullptr},
};

} // namespace

// The browser's events, turned into the view's operations.
class CVorHtmlView::CEvents : public afxweb::IBrowserEvents {
public:
    explicit CEvents(CVorHtmlView* v) : m_v(v) {}
    bool IsTrustedUrl(const CString& url, bool) override { return m_v->IsTrustedUrl(url) != FALSE; }
    std::vector<CString> ExternalMethods() override { return m_v->GetDispatchNames(); }
    afxweb::ExternalResult OnExternalCall(const CString& method, const std::vector<CString>& args) override {
        // The engine reports a document complete only after the page's load handlers have run,
        // and those are what call in first (the shelf asks for its categories, the settings
        // page for its values) and expect to be called back: a page that calls us has a
        // document whose functions we may call.
        if (!m_v->m_spDoc && m_v->m_pBrowser)
            m_v->m_spDoc = m_v->m_pBrowser.get();
        return m_v->DispatchCall(method, args);
    }
    int OnShowMessage(const CString& text, UINT type) override {
        LRESULT result = IDCANCEL;
        if (m_v->OnShowMessage(m_v->m_hWnd, text, nullptr, type, nullptr, 0, &result) != S_OK)
            return IDCANCEL;
        return static_cast<int>(result);
    }
    bool OnBeforeNavigate(const CString& url) override { return m_v->AllowsNavigation(url) != FALSE; }
    bool RequestLimit(const CString& url, std::vector<CString>& allowed) override {
        return m_v->GetRequestLimit(url, allowed) != FALSE;
    }
    void OnNavigateError(const CString& url) override {
        BOOL cancel = FALSE;
        m_v->OnNavigateError(url.GetString(), nullptr, 0, &cancel);
    }
    void OnDocumentComplete(const CString& url) override { m_v->OnDocumentComplete(url.GetString()); }
    void OnProcessGone() override {
        // Every call waiting on the page has failed; the page comes back as it was.
        m_v->m_spDoc = nullptr;
        if (m_v->m_pBrowser)
            m_v->m_pBrowser->Reload();
    }

private:
    CVorHtmlView* m_v;
};

BEGIN_MESSAGE_MAP(CVorHtmlView, CWnd)
ON_WM_DESTROY()
ON_WM_MOUSEACTIVATE()
ON_WM_SIZE()
ON_WM_CREATE()
END_MESSAGE_MAP()

CVorHtmlView::CVorHtmlView(BOOL bAutoDelete)
    : m_bAutoDelete(bAutoDelete), m_events(std::make_unique<CEvents>(this)) {}

CVorHtmlView::~CVorHtmlView() = default;

void CVorHtmlView::SetBrowserFactory(BrowserFactory factory) {
    Factory() = std::move(factory);
}

const VOR_DISPATCH_MAP* CVorHtmlView::GetThisDispatchMap() {
    static const VOR_DISPATCH_MAP map = {nullptr, kBaseEntries};
    return &map;
}

std::vector<CString> CVorHtmlView::GetDispatchNames() const {
    std::vector<CString> names;
    for (const VOR_DISPATCH_MAP* m = GetDispatchMap(); m; m = m->pfnGetBaseMap ? m->pfnGetBaseMap() : nullptr)
        for (const VOR_DISPATCH_ENTRY* e = m->lpEntries; e->name; ++e)
            names.push_back(CString(e->name));
    return names;
}

afxweb::ExternalResult CVorHtmlView::DispatchCall(const CString& strMethod,
                                                  const std::vector<CString>& args) {
    for (const VOR_DISPATCH_MAP* m = GetDispatchMap(); m; m = m->pfnGetBaseMap ? m->pfnGetBaseMap() : nullptr)
        for (const VOR_DISPATCH_ENTRY* e = m->lpEntries; e->name; ++e)
            if (strMethod == e->name)
                return e->call(this, args);
    return afxweb::ExternalResult();
}

BOOL CVorHtmlView::Create(CRect rect, CWnd* pParent, UINT nID) {
    if (!CWnd::Create(nullptr, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, rect, pParent, nID))
        return FALSE;
    m_pParent = pParent;
    m_bAutoDelete = FALSE;
    // Script errors stay silent: the engine shows none and writes none to the console.
    return TRUE;
}

int CVorHtmlView::OnCreate(LPCREATESTRUCT lpCreateStruct) {
    if (CWnd::OnCreate(lpCreateStruct) == -1)
        return -1;
    m_pBrowser = Factory()(m_hWnd);
    if (m_pBrowser)
        m_pBrowser->SetEvents(m_events.get());
    m_nContextMenuMode = 0;
    return 0;
}

void CVorHtmlView::OnDestroy() {
    m_spDoc = nullptr;
    m_pBrowser.reset();
    CWnd::OnDestroy();
}

int CVorHtmlView::OnMouseActivate(CWnd* pDesktopWnd, UINT nHitTest, UINT message) {
    return CWnd::OnMouseActivate(pDesktopWnd, nHitTest, message);
}

void CVorHtmlView::OnSize(UINT nType, int cx, int cy) {
    // The browser covers the view's window and follows it by itself.
    CWnd::OnSize(nType, cx, cy);
}

void CVorHtmlView::PostNcDestroy() {
    if (m_bAutoDelete)
        delete this;
}

void CVorHtmlView::Navigate2(LPCSTR lpszURL) {
    if (m_pBrowser)
        m_pBrowser->Navigate2(UrlOf(CString(lpszURL ? lpszURL : "")));
}

BOOL CVorHtmlView::CallJScript(const CString& strFunc, CString* pResult) {
    CStringArray args;
    return InvokeScript(strFunc, args, pResult);
}

BOOL CVorHtmlView::CallJScript(const CString& strFunc, const CString& strArg1, CString* pResult) {
    CStringArray args;
    args.Add(strArg1);
    return InvokeScript(strFunc, args, pResult);
}

BOOL CVorHtmlView::CallJScript(const CString& strFunc, const CString& strArg1, const CString& strArg2,
                               CString* pResult) {
    CStringArray args;
    args.Add(strArg1);
    args.Add(strArg2);
    return InvokeScript(strFunc, args, pResult);
}

BOOL CVorHtmlView::CallJScript(const CString& strFunc, const CString& strArg1, const CString& strArg2,
                               const CString& strArg3, CString* pResult) {
    CStringArray args;
    args.Add(strArg1);
    args.Add(strArg2);
    args.Add(strArg3);
    return InvokeScript(strFunc, args, pResult);
}

BOOL CVorHtmlView::InvokeScript(const CString& strFunc, const CStringArray& args, CString* pResult) {
    afxweb::IBrowserControl* script = nullptr;
    if (!GetJScript(script))
        return FALSE;
    std::vector<CString> a;
    for (INT_PTR i = 0; i < args.GetSize(); ++i)
        a.push_back(args[i]);
    return script->InvokeScript(strFunc, a, pResult) ? TRUE : FALSE;
}

BOOL CVorHtmlView::GetJScript(afxweb::IBrowserControl*& spScript) {
    if (!m_spDoc)
        return FALSE;
    spScript = m_spDoc;
    return TRUE;
}

BOOL CVorHtmlView::FetchDocument() {
    if (!m_pBrowser || !m_pBrowser->HasDocument())
        return FALSE;
    m_spDoc = m_pBrowser.get();
    return TRUE;
}

HRESULT CVorHtmlView::OnShowContextMenu(DWORD dwID, POINT* ppt, void* pcmdtReserved, void* pdispReserved) {
    switch (m_nContextMenuMode) {
    case 0:
        return S_OK;
    case 1:
        return S_FALSE;
    case 2:
        return dwID == 2 || dwID == 4 ? S_FALSE : S_OK;
    case 3:
        return dwID == 4 ? S_FALSE : OnShowCustomContextMenu(ppt, pcmdtReserved, pdispReserved);
    default:
        return S_OK;
    }
}

HRESULT CVorHtmlView::OnShowCustomContextMenu(POINT*, void*, void*) {
    return S_OK;
}

HRESULT CVorHtmlView::OnGetHostInfo(DOCHOSTUIINFO* pInfo) {
    pInfo->cbSize = 20;
    pInfo->dwFlags = m_dwHostFlags;
    pInfo->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
    return S_OK;
}

HRESULT CVorHtmlView::OnShowMessage(HWND, LPCSTR lpstrText, LPCSTR, DWORD dwType, LPCSTR, DWORD,
                                    LRESULT* plResult) {
    // The page's own caption is never used.
    int r = ::MessageBoxA(m_hWnd, lpstrText, m_strCaption.GetString(), dwType);
    if (plResult)
        *plResult = r;
    return S_OK;
}

void CVorHtmlView::OnDocumentComplete(LPCSTR) {
    FetchDocument();
}

void CVorHtmlView::OnNavigateError(LPCSTR lpszURL, LPCSTR, DWORD, BOOL*) {
    CString failed(lpszURL ? lpszURL : "");
    CString errorPage = GetErrorPageUrl();
    if (failed == errorPage) {
        // The error page is missing too: going there again would fail the same way for ever.
        if (m_pBrowser)
            m_pBrowser->LoadHtml(CString(AfxUtf8ToAnsi(kBuiltInErrorPage)), errorPage);
        return;
    }
    m_strLastUrl = failed;
    Navigate2(errorPage.GetString());
}

CString CVorHtmlView::GetPageFolder() {
    return g_AppPathInfo.GetPageDir();
}

CString CVorHtmlView::GetErrorPageUrl() {
    return GetPageUrl("Error.html");
}

CString CVorHtmlView::GetPageUrl(const CString& strName) {
    return UrlOf(GetPageFolder() + strName);
}

BOOL CVorHtmlView::IsTrustedUrl(const CString& strUrl) {
    CString folder = UrlOf(GetPageFolder());
    return strUrl == GetErrorPageUrl() || StartsWith(strUrl, folder);
}

BOOL CVorHtmlView::AllowsNavigation(const CString& strUrl) {
    return IsTrustedUrl(strUrl);
}

BOOL CVorHtmlView::GetRequestLimit(const CString& strUrl, std::vector<CString>& allowed) {
    CString folder = UrlOf(GetPageFolder());
    if (!StartsWith(strUrl, folder))
        return FALSE;
    allowed.push_back("* " + folder + "*");
    AddAllowedRequests(allowed);
    return TRUE;
}

BOOL CVorHtmlView::ReErrorHtml(LPCSTR) {
    Navigate2(m_strLastUrl.GetString());
    return TRUE;
}

BOOL CVorHtmlView::MyClose(LPCSTR) {
    // Closing inside the page's call would destroy this view, its browser and perhaps its host
    // under the call: the host closes once the call has returned. WM_CLOSE's handlers answer 0,
    // which is what the page saw.
    if (!m_pParent || !::IsWindow(m_pParent->GetSafeHwnd()))
        return FALSE;
    m_pParent->PostMessage(WM_CLOSE, 0, 0);
    return FALSE;
}
