#include "pages/MainHtmlView.h"

#include "foundation/AppPathInfo.h"
#include "library/UserInfo.h"
#include "net/StoreRequests.h"
#include "pages/PageViews.h"
#include "skin/MyToolBar.h"
#include "skin/SkinDlg.h"

namespace {

CSkinDlg* g_pSkinMainDlg = nullptr;
CMyToolBar* g_pSkinToolBar = nullptr;

const VOR_DISPATCH_ENTRY kEntries[] = {
    {"C_HtmlLoad", &vordisp::Thunk<CMainHtmlView, &CMainHtmlView::C_HtmlLoad>},
    {"C_UserLogin", &vordisp::Thunk<CMainHtmlView, &CMainHtmlView::C_UserLogin>},
    {"C_UserLogoff", &vordisp::Thunk<CMainHtmlView, &CMainHtmlView::C_UserLogoff>},
    {"C_DownLoadFile", &vordisp::Thunk<CMainHtmlView, &CMainHtmlView::C_DownLoadFile>},
    {"C_ReadFile", &vordisp::Thunk<CMainHtmlView, &CMainHtmlView::C_ReadFile>},
    {"C_GoShelf", &vordisp::Thunk<CMainHtmlView, &CMainHtmlView::C_GoShelf>},
    {"C_SetUserMode", &vordisp::Thunk<CMainHtmlView, &CMainHtmlView::C_SetUserMode>},
    {nullptr, nullptr},
};

} // namespace

const VOR_DISPATCH_MAP* CMainHtmlView::GetThisDispatchMap() {
    static const VOR_DISPATCH_MAP map = {&CVorHtmlView::GetThisDispatchMap, kEntries};
    return &map;
}

void CMainHtmlView::SetSkinTargets(CSkinDlg* pMainDlg, CMyToolBar* pToolBar) {
    g_pSkinMainDlg = pMainDlg;
    g_pSkinToolBar = pToolBar;
}

BOOL CMainHtmlView::IsTrustedUrl(const CString& strUrl) {
    return pageviews::IsStoreUrl(strUrl) || CVorHtmlView::IsTrustedUrl(strUrl);
}

BOOL CMainHtmlView::AllowsNavigation(const CString& strUrl) {
    return IsTrustedUrl(strUrl);
}

BOOL CMainHtmlView::C_HtmlLoad() {
    m_bLoaded = TRUE;
    if (!g_UserInfo.userid.IsEmpty() && !g_UserInfo.username.IsEmpty() && !g_UserInfo.password.IsEmpty())
        return g_UserInfo.autologin == "0" ? FALSE : TRUE;
    CStringArray five;
    for (int i = 0; i < 5; ++i)
        five.Add(CString());
    InvokeScript("js_UserLogin", five, nullptr);
    g_UserInfo.autologin = "0";
    return FALSE;
}

BOOL CMainHtmlView::C_UserLogin(LPCSTR userid, LPCSTR username, LPCSTR password, LPCSTR vip, LPCSTR money,
                                LPCSTR autologin) {
    if (!pageviews::UpdateLoginRecord(userid, username, password, vip, money, autologin))
        return FALSE;
    g_pMainDlg.SendEvent(EVT_USER_LOGIN, 0);
    return TRUE;
}

BOOL CMainHtmlView::C_UserLogoff() {
    g_UserInfo.Clear();
    g_UserInfo.Save(g_AppPathInfo.m_strUserXml);
    g_pMainDlg.SendEvent(EVT_USER_LOGOFF, 0);
    return TRUE;
}

BOOL CMainHtmlView::C_DownLoadFile(LPCSTR type, LPCSTR pid, LPCSTR third) {
    if (!pageviews::IsItemToken(type) || !pageviews::IsItemToken(pid))
        return FALSE;
    pageviews::SendInfoEvent(EVT_DOWNLOAD_FILE, third, pid, type);
    return TRUE;
}

BOOL CMainHtmlView::C_ReadFile(LPCSTR type, LPCSTR pid, LPCSTR third) {
    if (!pageviews::IsItemToken(type) || !pageviews::IsItemToken(pid))
        return FALSE;
    pageviews::SendInfoEvent(EVT_READ_ONLINE, third, pid, type);
    return TRUE;
}

BOOL CMainHtmlView::C_GoShelf(LPCSTR type, LPCSTR category) {
    pageviews::SendInfoEvent(EVT_GO_SHELF, "", category, type);
    return TRUE;
}

void CMainHtmlView::SwitchSkins(LPCSTR lpszWinSkin, LPCSTR lpszToolBarSkin) {
    if (g_pSkinMainDlg)
        g_pSkinMainDlg->LoadSkin(lpszWinSkin);
    if (g_pSkinToolBar) {
        g_pSkinToolBar->ReleaseSkin();
        g_pSkinToolBar->LoadSkin(lpszToolBarSkin);
        g_pSkinToolBar->UpdateLayout();
    }
    if (g_pSkinMainDlg && ::IsWindow(g_pSkinMainDlg->GetSafeHwnd()))
        g_pSkinMainDlg->ReloadSkinLayout();
}

BOOL CMainHtmlView::C_SetUserMode(LPCSTR mode) {
    if (CString(mode) == "enter") {
        if (g_nUserMode != 1) {
            g_nUserMode = 1;
            SwitchSkins("WinSkin.xml", "ToolBar.xml");
            g_pMainDlg.SendEvent(EVT_USER_MODE, 1);
        }
    } else if (g_nUserMode == 1) {
        SwitchSkins("WinSkin2.xml", "ToolBar2.xml");
        g_nUserMode = 0;
        g_pMainDlg.SendEvent(EVT_USER_MODE, 1);
    }
    g_UserInfo.Save(g_AppPathInfo.m_strUserXml);
    return TRUE;
}

void CMainHtmlView::NotifyReDownLoad(CString strState, CString strSortId, CString strPid) {
    if (m_bLoaded)
        CallJScript("js_ReDownLoad", strState, strSortId, strPid);
}

void CMainHtmlView::NotifyLogoff() {
    if (!m_bLoaded)
        return;
    CStringArray five;
    for (int i = 0; i < 5; ++i)
        five.Add(CString());
    InvokeScript("js_UserLogin", five, nullptr);
    g_UserInfo.autologin = "0";
}
