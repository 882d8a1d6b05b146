// The modal login dialog: its whole client area is the view of the local page "login.html",
// which checks the user's name and password with the store and hands the store's answer to the
// view. The store's origin rides in the page address, and the one request the page makes goes
// there. Each DoModal makes a new window and view; callers read the user record afterwards, not
// the dialog's result.
//
// User-interface thread only; the dialog runs its own modal loop. Closing is always posted, so a
// page's call returns before its view goes away.
#pragma once

#include "pages/VorHtmlView.h"
#include "platform/user/AfxDialog.h"
#include "res/resource.h"

// The child id of a dialog's page view.
constexpr UINT IDC_PAGE_VIEW = 13824;

class CLoginHtmlView : public CVorHtmlView {
public:
    CLoginHtmlView() : CVorHtmlView(TRUE) {}
    static CVorHtmlView* CreateObject() { return new CLoginHtmlView(); }

    // "login.html?store=<the store's origin>" of the page folder.
    CString GetLoginUrl();

    BOOL C_LoginClose(LPCSTR ignored);
    BOOL C_LoginOK(LPCSTR userid, LPCSTR username, LPCSTR password, LPCSTR vip, LPCSTR money,
                   LPCSTR autologin);
    BOOL C_GetLoginMode(LPCSTR ignored);
    BOOL C_ExperienceRead(LPCSTR ignored);
    BOOL C_SetUserMode(LPCSTR mode);

    static const VOR_DISPATCH_MAP* GetThisDispatchMap();
    const VOR_DISPATCH_MAP* GetDispatchMap() const override { return GetThisDispatchMap(); }

    // The page's one request beyond its folder: the login post to the store.
    void AddAllowedRequests(std::vector<CString>& allowed) override;

private:
    void PostCloseToHost();
};

class CLoginDlg : public CDialog {
    DECLARE_DYNAMIC(CLoginDlg)
public:
    explicit CLoginDlg(CWnd* pParent = nullptr) : CDialog(IDD_LOGIN_DIALOG, pParent) {}

    BOOL OnInitDialog() override;
    // Enter does not end the dialog; only the page, Esc and WM_CLOSE do.
    void OnOK() override {}

    CLoginHtmlView m_wndView;
};
