// CHtmlVelkorsDlg: the program's one main window, a skinned modal dialog that owns the three page
// views (magazine store, book store, shelf), the tool bar with its tabs, the tray icon, the
// login and settings dialogs and the edition record, and that handles every application event.
//
// User-interface thread only, with one exception: SetPendingShelfType is called by the download
// manager's request worker, so the pending type is exchanged under its own lock. Workers reach
// the window only through g_pMainDlg, which sends on this thread while they wait.
#pragma once

#include "app/FlashPlayerWnd.h"
#include "app/HtmlDlg.h"
#include "app/PackInfo.h"
#include "app/WidiLink.h"
#include "pages/LoginDlg.h"
#include "pages/MainHtmlView.h"
#include "pages/MyBooksHtmlView.h"
#include "pages/SetDlg.h"
#include "skin/MyToolBar.h"
#include "skin/SkinDlg.h"
#include "skin/TrayIcon.h"

#include <mutex>

inline constexpr UINT IDM_ABOUTBOX = 0x0010;
inline constexpr UINT ID_HTML_VIEW = 0x3600;
inline constexpr UINT ID_TOOL_BAR = 0x3654;
// Posted to the main window itself when the shelf shows again after a while hidden: the page
// is told once the call that showed it (a reader's close, say) has returned.
inline constexpr UINT WM_SHELF_SHOWN = WM_USER + 0x110;
inline constexpr int TOOL_BAR_WIDTH = 751;
inline constexpr int TOOL_BAR_HEIGHT = 111;
inline constexpr int READ_MODE_HTML = 0;
inline constexpr int READ_MODE_FLASH = 1;
// Posted to the main window itself once it is shown or active: the reading window that was shown
// over it comes back and takes the keyboard.
inline constexpr UINT WM_READER_FRONT = WM_USER + 0x108;

class CMagInfo;

class CHtmlVelkorsDlg : public CSkinDlg, public IFlashReaderHost {
    DECLARE_DYNAMIC(CHtmlVelkorsDlg)
public:
    explicit CHtmlVelkorsDlg(CWnd* pParent = nullptr);
    ~CHtmlVelkorsDlg() override;

    BOOL OnInitDialog() override;
    BOOL PreTranslateMessage(MSG* pMsg) override;
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;
    void OnOK() override;
    void OnCancel() override;

    // The application's command line, for the first tab; set before DoModal.
    void SetCommandLine(CString strCmdLine) { m_strCmdLine = strCmdLine; }
    BOOL HandleCommandLine(CString commandLine);
    void SetPendingShelfType(CString type);
    CString GetPendingShelfType();

    // The reading launchers. Until the reading windows exist they only remember the item.
    // OpenLocalItem is TRUE when a reader opened: a package whose pages cannot be read opens none,
    // and the user is told which file is damaged.
    virtual BOOL OpenLocalItem(CString path);
    void ReopenLastLocal();
    void OpenHtmlReader(CString packagePath, CString type, CString id, CString priceFlag);
    void OpenFlashReader(CString packagePath, CString type, CString id, CString priceFlag);
    virtual void OpenOnlineReader(CString type, CString pid);
    void RetryOnlineRead();

    // IFlashReaderHost, also the reading page's login.
    void RunLoginDialog() override;
    void ReopenLastItem(BOOL bLocal) override;

    LRESULT OnToolBarClick(WPARAM wParam, LPARAM lParam);
    LRESULT OnAppEvent(WPARAM wParam, LPARAM lParam);
    LRESULT OnTrayNotify(WPARAM wParam, LPARAM lParam);
    LRESULT OnShelfShown(WPARAM wParam, LPARAM lParam);
    void OnTrayShow();
    void OnTrayExit();
    void OnSettings();
    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnActivate(UINT nState, CWnd* pWndOther, BOOL bMinimized);
    void OnShowWindow(BOOL bShow, UINT nStatus);
    LRESULT OnReaderFront(WPARAM wParam, LPARAM lParam);
    void OnSize(UINT nType, int cx, int cy);
    void OnDestroy();
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    // A second start's hand-over: "-p <path>" is handled as the command line and the window
    // comes to the front. Anything else is not ours and is left alone (FALSE).
    BOOL OnCopyData(CWnd* pWnd, COPYDATASTRUCT* pCopyDataStruct);

    // The wireless display component's messages and the settings page's connect request.
    LRESULT OnWidiReady(WPARAM wParam, LPARAM lParam);
    LRESULT OnWidiAdapterFound(WPARAM wParam, LPARAM lParam);
    LRESULT OnWidiConnect(WPARAM wParam, LPARAM lParam);
    LRESULT OnWidiIgnored(WPARAM wParam, LPARAM lParam);

    // The skins of the user mode g_nUserMode holds at start-up (the window skin is loaded before
    // the window is made), so that a restart shows the mode that was saved in its own look.
    static CString StartWindowSkin();
    static CString StartToolBarSkin();
    // The main layout that goes with a window skin: its views start below that skin's caption
    // band, where its tool bar lies.
    static CString LayoutSkinFor(const CString& strWinSkin);

    // The store pages as the tabs open them, for the user record as stored now.
    static CString MagStoreUrl();
    static CString BookStoreUrl();
    CString ShelfUrl() const;

    CLoginDlg m_loginDlg;
    CString m_strPageDir;
    CSetDlg m_setDlg;
    CTrayIcon m_trayIcon;
    HICON m_hIcon = nullptr;
    CFlashPlayerWnd* m_pFlashWnd = nullptr;
    CMainHtmlView m_magView;
    CMainHtmlView m_bookView;
    CMyBooksHtmlView m_shelfView;
    CHtmlDlg* m_pHtmlDlg = nullptr;
    int m_bMagLoaded = 0;
    int m_bBookLoaded = 0;
    int m_bShelfLoaded = 0;
    int m_nReadMode = READ_MODE_FLASH;
    CMyToolBar m_toolBar;
    CRect m_rcHtmlView;
    CRect m_rcToolBar;
    CPackInfo m_packInfo;
    int m_bExiting = 0;
    CString m_strOnlinePid;
    CString m_strOnlineType;
    CString m_strLastPath;
    CString m_strCurTab;
    // The wireless display component with the adapters it reported; empty on a machine without.
    CWidiLink m_widi;

protected:
    // The parts of the start that reach beyond this window: the local server, the category
    // downloads and the update check.
    virtual void StartLocalServer();
    virtual void StartCategoryLists();
    virtual void StartUpdates();

    // Reads the main layout of the window skin loaded now into m_rcHtmlView and m_rcToolBar.
    void LoadLayout();
    // Places the page views and the tool bar in the client area by the layout.
    void LayoutChildren();
    // The shelf page has been requested and is shown now.
    BOOL IsShelfVisible();
    // The about item at the end of the system menu, once.
    void AddAboutItem();
    // The wireless display component, when the platform has one.
    void StartWidi();
    void RedownloadAnswer(WPARAM code, LPARAM lParam);
    void CloseReader();
    void ReportDamagedPackage(const CString& path);
    // The reading window shown now, or null.
    CWnd* ShownReader() const;

    DECLARE_MESSAGE_MAP()

private:
    std::mutex m_pendingLock;
    CString m_strPendingShelfType; // guarded by m_pendingLock
    CString m_strCmdLine;
};
