// The modal settings dialog: its whole client area is the view of the local page "Setting.html",
// which shows and changes the autostart, the taskbar pin and the download folder, and lists the
// wireless display adapters the main window has found. Each DoModal makes a new window and view.
//
// User-interface thread only. The adapter list belongs to the main window; the view only reads
// it while the dialog is shown.
#pragma once

#include "pages/LoginDlg.h"

class CSetHtmlView : public CVorHtmlView {
public:
    CSetHtmlView() : CVorHtmlView(TRUE) {}
    static CVorHtmlView* CreateObject() { return new CSetHtmlView(); }

    void SetWidiList(CStringArray* pList) { m_pWidiList = pList; }
    // The folder the user picks, with a trailing backslash; "" when cancelled.
    virtual CString BrowseFolder();

    BOOL C_Close();
    BOOL C_SetConfig();
    BOOL C_browseFile();
    BOOL C_ConnectWIDI(LPCSTR name);
    BOOL C_DisconnectedWIDI();
    BOOL C_Settings(LPCSTR auto_start, LPCSTR taskbar, LPCSTR down_save);

    static const VOR_DISPATCH_MAP* GetThisDispatchMap();
    const VOR_DISPATCH_MAP* GetDispatchMap() const override { return GetThisDispatchMap(); }

    CStringArray* m_pWidiList = nullptr;

private:
    void PostCloseToHost();
    void SendWidiConnect(const CString& strName);
};

class CSetDlg : public CDialog {
    DECLARE_DYNAMIC(CSetDlg)
public:
    explicit CSetDlg(CWnd* pParent = nullptr) : CDialog(IDD_LOGIN_DIALOG, pParent) {}

    void SetWidiList(CStringArray* pList) { m_wndView.SetWidiList(pList); }
    BOOL OnInitDialog() override;
    void OnOK() override {}

    CSetHtmlView m_wndView;
};
