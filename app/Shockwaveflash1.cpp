#include "app/Shockwaveflash1.h"

#include "platform/web/WebKitBrowser.h"

IMPLEMENT_DYNCREATE(CShockwaveflash1, CWnd)

namespace {

CShockwaveflash1::BrowserFactory& Factory() {
    static CShockwaveflash1::BrowserFactory factory =
        [](HWND hControl) -> std::unique_ptr<afxweb::IBrowserControl> {
        return afxweb::CreateWebKitBrowser(hControl);
    };
    return factory;
}

CString& PlayerPage() {
    static CString page;
    return page;
}

CShockwaveflash1::MovieAddressMap& MovieAddress() {
    static CShockwaveflash1::MovieAddressMap map;
    return map;
}

} // namespace

CShockwaveflash1::~CShockwaveflash1() {
    m_control.reset();
}

void CShockwaveflash1::SetBrowserFactory(BrowserFactory factory) {
    Factory() = std::move(factory);
}

void CShockwaveflash1::SetPlayerPage(const CString& strUrl) {
    PlayerPage() = strUrl;
}

CString CShockwaveflash1::GetPlayerPage() {
    return PlayerPage();
}

void CShockwaveflash1::SetMovieAddressMap(MovieAddressMap map) {
    MovieAddress() = std::move(map);
}

BEGIN_MESSAGE_MAP(CShockwaveflash1, CWnd)
ON_WM_KEYDOWN()
END_MESSAGE_MAP()

void CShockwaveflash1::OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags) {
    (void)nFlags;
    // A key typed on the keyboard has reached the player page from the screen already, the page
    // holding the keyboard; only the keys the program sends (with no repeat count, as
    // SendEnterKey sends Enter) are pressed into it.
    if (m_control && nRepCnt == 0)
        m_control->PressKey(nChar);
}

BOOL CShockwaveflash1::Create(LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                              CWnd* pParentWnd, UINT nID, void* pContext) {
    if (!CWnd::Create(lpszClassName, lpszWindowName, dwStyle, rect, pParentWnd, nID, pContext))
        return FALSE;
    m_nID = nID;
    m_pSink = dynamic_cast<IFlashEventSink*>(pParentWnd);
    m_control = std::make_unique<afxweb::CFlashControl>(Factory()(m_hWnd), PlayerPage());
    m_control->SetFlashCallHandler([this](const CString& request) { return FireFlashCall(request); });
    return TRUE;
}

CString CShockwaveflash1::FireFlashCall(const CString& request) {
    CString answer;
    CString* outer = m_pReturnValue;
    m_pReturnValue = &answer;
    if (m_pSink)
        m_pSink->OnControlEvent(m_nID, DISPID_FLASH_FLASHCALL, request.GetString());
    m_pReturnValue = outer;
    return answer;
}

void CShockwaveflash1::put_WMode(LPCSTR newValue) {
    if (m_control)
        m_control->SetProperty("wmode", newValue);
}

void CShockwaveflash1::put_Quality(LPCSTR newValue) {
    if (m_control)
        m_control->SetProperty("quality", newValue);
}

void CShockwaveflash1::LoadMovie(long layer, LPCSTR url) {
    if (!m_control)
        return;
    CString address = url ? url : "";
    if (MovieAddress())
        address = MovieAddress()(address);
    m_control->LoadMovie(layer, address);
}

void CShockwaveflash1::put_AllowScriptAccess(LPCSTR newValue) {
    if (m_control)
        m_control->SetProperty("allowScriptAccess", newValue);
}

CString CShockwaveflash1::CallFunction(LPCSTR request) {
    return m_control ? m_control->CallFunction(request) : CString();
}

void CShockwaveflash1::SetReturnValue(LPCSTR returnValue) {
    // Outside an event there is no call to answer.
    if (m_pReturnValue)
        *m_pReturnValue = returnValue;
}
