// The view of the store's catalogue pages (the magazine and the book store, one instance each,
// owned by the main window). A store page reports that it has loaded, logs the user in and out,
// asks for downloads and online reading, sends the user to the shelf and switches the user mode;
// each of these reaches the main window as an application event. The main window tells a loaded
// page about download requests and logoffs.
//
// User-interface thread only. Pages from the store's own host may call the view and be visited;
// the local page folder keeps the base's trust, for the error page.
#pragma once

#include "pages/VorHtmlView.h"

class CSkinDlg;
class CMyToolBar;

class CMainHtmlView : public CVorHtmlView {
public:
    CMainHtmlView() : CVorHtmlView(TRUE) {}
    static CVorHtmlView* CreateObject() { return new CMainHtmlView(); }

    // The main window and its tool bar, whose skins follow the user mode; either may be null
    // (no window to reskin yet).
    static void SetSkinTargets(CSkinDlg* pMainDlg, CMyToolBar* pToolBar);

    void NotifyReDownLoad(CString strState, CString strSortId, CString strPid);
    void NotifyLogoff();

    // Page methods.
    BOOL C_HtmlLoad();
    BOOL C_UserLogin(LPCSTR userid, LPCSTR username, LPCSTR password, LPCSTR vip, LPCSTR money,
                     LPCSTR autologin);
    BOOL C_UserLogoff();
    BOOL C_DownLoadFile(LPCSTR type, LPCSTR pid, LPCSTR third);
    BOOL C_ReadFile(LPCSTR type, LPCSTR pid, LPCSTR third);
    BOOL C_GoShelf(LPCSTR type, LPCSTR category);
    BOOL C_SetUserMode(LPCSTR mode);

    BOOL IsTrustedUrl(const CString& strUrl) override;
    BOOL AllowsNavigation(const CString& strUrl) override;

    static const VOR_DISPATCH_MAP* GetThisDispatchMap();
    const VOR_DISPATCH_MAP* GetDispatchMap() const override { return GetThisDispatchMap(); }

    BOOL m_bLoaded = FALSE;

protected:
    // Loads the window skin into the main window and the tool-bar skin into its tool bar, and
    // lays both out again.
    virtual void SwitchSkins(LPCSTR lpszWinSkin, LPCSTR lpszToolBarSkin);
};
