// The HTML reading window: a popup over the work area showing an item's own pages (or the
// store's online reading page) in a page view, under a skinned tool strip with a close button.
// The main window creates it once and points it at each item; the page may close the reader,
// hide the strip, send the user to the shelf or ask for a login.
//
// User-interface thread only. The window object lives as long as the program; its window goes
// with its owner. Nothing here destroys a window from inside a page's call: a close asked for
// by the page only reaches the main window as an application event.
#pragma once

#include "pages/VorHtmlView.h"
#include "skin/SkinDlg.h"

// The strip's height across the top of the page view.
inline constexpr int HTML_TOOL_HEIGHT = 95;

// The tool strip: a band drawn from the WinSkin4.xml skin whose only button closes the reader.
class CHtmlTool : public CSkinDlg {
    DECLARE_DYNAMIC(CHtmlTool)
public:
    CHtmlTool();

    void OnSkinClose() override;
};

// The reading page's view: the page calls it through window.external.
class CReadHtmlView : public CVorHtmlView {
public:
    CReadHtmlView() : CVorHtmlView(FALSE) {}
    static CVorHtmlView* CreateObject() { return new CReadHtmlView(); }

    void CreateTool();
    void ShowTool();

    // Page methods.
    BOOL C_UserBuy();
    BOOL C_Close();
    BOOL ShowLoginDlg();
    BOOL C_GoShelf(LPCSTR type, LPCSTR category);
    BOOL C_HideTool();
    BOOL showtools(LPCSTR ignored);

    // The item's pages come from the local server; online reads from the store.
    BOOL IsTrustedUrl(const CString& strUrl) override;
    BOOL AllowsNavigation(const CString& strUrl) override;

    static const VOR_DISPATCH_MAP* GetThisDispatchMap();
    const VOR_DISPATCH_MAP* GetDispatchMap() const override { return GetThisDispatchMap(); }

    CHtmlTool m_tool;

private:
    BOOL HideTool();
};

class CHtmlDlg : public CDialog {
    DECLARE_DYNAMIC(CHtmlDlg)
public:
    explicit CHtmlDlg(CWnd* pParent = nullptr);

    void Navigate(CString address);
    void ShowTool();
    void SendEnterKey();

    CReadHtmlView m_view;

    // Enter typed into the page is the page's own; Esc is the main window's, which hides the
    // program to the notification area and this window with it.
    void OnOK() override;
    void OnCancel() override;

protected:
    int OnCreate(LPCREATESTRUCT lpCreateStruct);
    void OnSize(UINT nType, int cx, int cy);
    // The window's keyboard goes to its page.
    void OnSetFocus(CWnd* pOldWnd);
    // A page's MyClose asks the window to close: the reader closes as from its strip, and the
    // window itself stays, as the main window relies on it for every later read.
    void OnClose();
    DECLARE_MESSAGE_MAP()
};

// The local server's address of an item's folder while the server listens, else the
// memory-file folder itself.
CString ReaderBaseAddress(const CString& type, const CString& id, BOOL bServed);
// The memory-file folder of an item, as wide as the store names its files; as long as the type
// and id need.
CStringW ReaderMemFilePrefix(const CString& type, const CString& id);
// The HTML reading window's start page by the item's price flag: "view2.html" for "1" or "0",
// "view1.html" otherwise.
CString ReaderStartPage(const CString& priceFlag);
