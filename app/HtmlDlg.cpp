#include "app/HtmlDlg.h"

#include "app/HtmlVelkorsDlg.h"
#include "contentserver/MyMemFile.h"
#include "contentserver/ServerHost.h"
#include "net/AppMessages.h"
#include "pages/PageViews.h"

namespace {

// Empties the page's body in place: the closed reader shows nothing of the item.
const char kBlankBody[] =
    "document.body && (document.body.innerHTML = '<html><body bgcolor=\"#E1E1E1\"></body></html>')";

const VOR_DISPATCH_ENTRY kEntries[] = {
    {"C_UserBuy", &vordisp::Thunk<CReadHtmlView, &CReadHtmlView::C_UserBuy>},
    {"C_Close", &vordisp::Thunk<CReadHtmlView, &CReadHtmlView::C_Close>},
    {"ShowLoginDlg", &vordisp::Thunk<CReadHtmlView, &CReadHtmlView::ShowLoginDlg>},
    {"C_GoShelf", &vordisp::Thunk<CReadHtmlView, &CReadHtmlView::C_GoShelf>},
    {"C_HideTool", &vordisp::Thunk<CReadHtmlView, &CReadHtmlView::C_HideTool>},
    {"showtools", &vordisp::Thunk<CReadHtmlView, &CReadHtmlView::showtools>},
    {nullptr, nullptr},
};

// The local server's own origin, whatever port it was given.
CString LocalServerRoot() {
    CString root;
    root.Format("http://127.0.0.1:%d/", g_nServerPort);
    return root;
}

bool StartsWith(const CString& s, const CString& prefix) {
    return s.str().compare(0, prefix.str().size(), prefix.str()) == 0;
}

CHtmlVelkorsDlg* MainWindow() {
    return dynamic_cast<CHtmlVelkorsDlg*>(CWnd::FromHandlePermanent(g_pMainDlg.GetSafeHwnd()));
}

} // namespace

CString ReaderBaseAddress(const CString& type, const CString& id, BOOL bServed) {
    CString base;
    if (bServed)
        base.Format("%s%s/%s/", LocalServerRoot().GetString(), type.GetString(), id.GetString());
    else
        base.Format("%s%s\\%s\\", MEMFILE_ROOT, type.GetString(), id.GetString());
    return base;
}

CStringW ReaderMemFilePrefix(const CString& type, const CString& id) {
    CString prefix;
    prefix.Format("%s%s\\%s\\", MEMFILE_ROOT, type.GetString(), id.GetString());
    // Widened byte by byte, as the store widens the names it is asked for, and never cut: a long
    // id gives a long prefix, not a truncated one that another item could share.
    return MemFileWiden(prefix.GetString());
}

CString ReaderStartPage(const CString& priceFlag) {
    return priceFlag == "1" || priceFlag == "0" ? CString("view2.html") : CString("view1.html");
}

// ---- the tool strip

IMPLEMENT_DYNAMIC(CHtmlTool, CSkinDlg)

CHtmlTool::CHtmlTool() : CSkinDlg(IDD_HTML_TOOL, nullptr) {}

void CHtmlTool::OnSkinClose() {
    ShowWindow(SW_HIDE);
    g_pMainDlg.SendEvent(EVT_CLOSE_READER, 0);
}

// ---- the reading page's view

const VOR_DISPATCH_MAP* CReadHtmlView::GetThisDispatchMap() {
    static const VOR_DISPATCH_MAP map = {&CVorHtmlView::GetThisDispatchMap, kEntries};
    return &map;
}

BOOL CReadHtmlView::IsTrustedUrl(const CString& strUrl) {
    return StartsWith(strUrl, LocalServerRoot()) || pageviews::IsStoreUrl(strUrl) ||
           CVorHtmlView::IsTrustedUrl(strUrl);
}

BOOL CReadHtmlView::AllowsNavigation(const CString& strUrl) {
    return IsTrustedUrl(strUrl);
}

void CReadHtmlView::CreateTool() {
    m_tool.SetCustomHitTest(FALSE);
    m_tool.LoadSkin("WinSkin4.xml");
    const int cx = ::GetSystemMetrics(SM_CXSCREEN);
    m_tool.CreateEx(0, nullptr, "tool", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, cx, HTML_TOOL_HEIGHT,
                    m_hWnd, ID_HTML_VIEW);
    ::SetWindowPos(m_tool.GetSafeHwnd(), HWND_TOP, 0, 0, cx, HTML_TOOL_HEIGHT, SWP_SHOWWINDOW);
}

void CReadHtmlView::ShowTool() {
    if (::IsWindow(m_tool.GetSafeHwnd()))
        m_tool.ShowWindow(SW_SHOW);
}

BOOL CReadHtmlView::HideTool() {
    if (!::IsWindow(m_tool.GetSafeHwnd()))
        return FALSE;
    return m_tool.ShowWindow(SW_HIDE);
}

BOOL CReadHtmlView::C_UserBuy() {
    return FALSE;
}

BOOL CReadHtmlView::C_Close() {
    g_pMainDlg.SendEvent(EVT_CLOSE_READER, 0);
    // The closed reader shows nothing of the item, should it be seen before the next one opens.
    // The page is changed where it is, not replaced: a load started inside the page's own call
    // may never complete.
    afxweb::IBrowserControl* browser = GetBrowser();
    if (m_spDoc && browser && browser->HasDocument())
        browser->InvokeScript("eval", {CString(kBlankBody)}, nullptr);
    return FALSE;
}

BOOL CReadHtmlView::ShowLoginDlg() {
    if (CHtmlVelkorsDlg* main = MainWindow()) {
        main->RunLoginDialog();
        main->RetryOnlineRead();
    }
    return TRUE;
}

BOOL CReadHtmlView::C_GoShelf(LPCSTR type, LPCSTR category) {
    pageviews::SendInfoEvent(EVT_GO_SHELF, "", category, type);
    return TRUE;
}

BOOL CReadHtmlView::C_HideTool() {
    return HideTool();
}

BOOL CReadHtmlView::showtools(LPCSTR) {
    return HideTool();
}

// ---- the reading window

IMPLEMENT_DYNAMIC(CHtmlDlg, CDialog)

BEGIN_MESSAGE_MAP(CHtmlDlg, CDialog)
ON_WM_CREATE()
ON_WM_SIZE()
ON_WM_CLOSE()
ON_WM_SETFOCUS()
END_MESSAGE_MAP()

CHtmlDlg::CHtmlDlg(CWnd* pParent) : CDialog(IDD_HTML_DLG, pParent) {}

int CHtmlDlg::OnCreate(LPCREATESTRUCT lpCreateStruct) {
    if (CDialog::OnCreate(lpCreateStruct) == -1)
        return -1;
    m_view.Create(CRect(20, 20, 984, 686), this, ID_HTML_VIEW);
    m_view.CreateTool();
    return 0;
}

void CHtmlDlg::OnSize(UINT nType, int cx, int cy) {
    CDialog::OnSize(nType, cx, cy);
    if (::IsWindow(m_view.GetSafeHwnd()))
        m_view.MoveWindow(0, 0, cx, cy, TRUE);
}

void CHtmlDlg::OnSetFocus(CWnd* pOldWnd) {
    CDialog::OnSetFocus(pOldWnd);
    if (::IsWindow(m_view.GetSafeHwnd()))
        m_view.SetFocus();
}

void CHtmlDlg::OnOK() {}

void CHtmlDlg::OnCancel() {
    g_pMainDlg.Send(WM_COMMAND, IDCANCEL, 0);
}

void CHtmlDlg::OnClose() {
    g_pMainDlg.SendEvent(EVT_CLOSE_READER, 0);
}

void CHtmlDlg::Navigate(CString address) {
    m_view.Navigate2(address.GetString());
}

void CHtmlDlg::ShowTool() {
    m_view.ShowTool();
}

void CHtmlDlg::SendEnterKey() {
    m_view.SendMessage(WM_KEYDOWN, VK_RETURN, 0);
}
