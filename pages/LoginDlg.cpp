#include "pages/LoginDlg.h"

#include "foundation/AppPathInfo.h"
#include "library/UserInfo.h"
#include "net/StoreRequests.h"
#include "pages/PageViews.h"

namespace {

const VOR_DISPATCH_ENTRY kEntries[] = {
    {"C_LoginClose", &vordisp::Thunk<CLoginHtmlView, &CLoginHtmlView::C_LoginClose>},
    {"C_LoginOK", &vordisp::Thunk<CLoginHtmlView, &CLoginHtmlView::C_LoginOK>},
    {"C_GetLoginMode", &vordisp::Thunk<CLoginHtmlView, &CLoginHtmlView::C_GetLoginMode>},
    {"C_ExperienceRead", &vordisp::Thunk<CLoginHtmlView, &CLoginHtmlView::C_ExperienceRead>},
    {"C_SetUserMode", &vordisp::Thunk<CLoginHtmlView, &CLoginHtmlView::C_SetUserMode>},
    {nullptr, nullptr},
};

} // namespace

const VOR_DISPATCH_MAP* CLoginHtmlView::GetThisDispatchMap() {
    static const VOR_DISPATCH_MAP map = {&CVorHtmlView::GetThisDispatchMap, kEntries};
    return &map;
}

CString CLoginHtmlView::GetLoginUrl() {
    return GetPageUrl("login.html") + "?store=" + EncodeQueryValue(GetStoreHost());
}

void CLoginHtmlView::AddAllowedRequests(std::vector<CString>& allowed) {
    allowed.push_back("POST " + GetStoreHost() + "/touch/login/?vs=1&source=");
}

void CLoginHtmlView::PostCloseToHost() {
    if (m_pParent && ::IsWindow(m_pParent->GetSafeHwnd()))
        m_pParent->PostMessage(WM_CLOSE, 0, 0);
}

BOOL CLoginHtmlView::C_LoginClose(LPCSTR) {
    PostCloseToHost();
    return TRUE;
}

BOOL CLoginHtmlView::C_LoginOK(LPCSTR userid, LPCSTR username, LPCSTR password, LPCSTR vip, LPCSTR money,
                               LPCSTR autologin) {
    if (!pageviews::UpdateLoginRecord(userid, username, password, vip, money, autologin))
        return FALSE;
    g_pMainDlg.SendEvent(EVT_USER_LOGIN, 0);
    PostCloseToHost();
    return TRUE;
}

BOOL CLoginHtmlView::C_GetLoginMode(LPCSTR) {
    g_nUserMode = 0;
    return FALSE;
}

BOOL CLoginHtmlView::C_ExperienceRead(LPCSTR) {
    PostCloseToHost();
    return TRUE;
}

BOOL CLoginHtmlView::C_SetUserMode(LPCSTR mode) {
    g_nUserMode = CString(mode) == "enter" ? 1 : 0;
    g_UserInfo.Save(g_AppPathInfo.m_strUserXml);
    return TRUE;
}

IMPLEMENT_DYNAMIC(CLoginDlg, CDialog)

BOOL CLoginDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SetWindowText(AfxUtf8ToAnsi("墨舟匣V4.0").c_str());
    m_wndView.Create(CRect(0, 0, 492, 433), this, IDC_PAGE_VIEW);
    m_wndView.Navigate2(m_wndView.GetLoginUrl().GetString());
    SetWindowPos(nullptr, 0, 0, 492, 433, SWP_NOMOVE);
    return TRUE;
}
