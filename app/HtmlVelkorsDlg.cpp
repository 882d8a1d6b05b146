#include "app/HtmlVelkorsDlg.h"

#include "app/HtmlVelkorsApp.h"
#include "contentserver/MyMemFile.h"
#include "foundation/AppPathInfo.h"
#include "foundation/CommonFunc.h"
#include "library/MagInfo.h"
#include "library/MagShelf.h"
#include "library/UserInfo.h"
#include "net/AppMessages.h"
#include "net/DownLoadManager.h"
#include "net/StoreRequests.h"
#include "net/UpdateCheck.h"
#include "res/resource.h"
#include "skin/SkinInfo.h"

namespace {

// The product's name as the window title and the tray tip show it, in the ANSI code page.
const std::string& ProductName() {
    static const std::string name = AfxUtf8ToAnsi("墨舟匣V4.0");
    return name;
}

// How long the exit waits for the download workers before the window goes regardless.
constexpr DWORD kExitWaitMs = 5000;

CHtmlVelkorsDlg* g_pPendingTarget = nullptr;

// The reading windows' title, in the ANSI code page.
const std::string& ReaderTitle() {
    static const std::string title = AfxUtf8ToAnsi("我的窗口");
    return title;
}

// A reading window: a popup over the work area, owned by the main window so that it stays above
// it. Shown by the reading tab, it takes the keyboard, so that its page keys reach the page and
// Enter the movie; hidden, it gives the keyboard back to the main window. It takes nothing while
// the start-up shows it before the main window is on the screen.
void CreateReaderWindow(CWnd& wnd, const CRect& rcWork, HWND hOwner) {
    wnd.CreateEx(0, nullptr, ReaderTitle().c_str(), WS_POPUP, rcWork.left, rcWork.top, rcWork.Width(),
                 rcWork.Height(), hOwner, 0);
    ::SetWindowPos(wnd.GetSafeHwnd(), HWND_TOP, rcWork.left, rcWork.top, rcWork.Width(), rcWork.Height(),
                   SWP_SHOWWINDOW | SWP_NOACTIVATE);
}

// The download manager's request worker names the type of each item it adds; the window that
// runs now keeps it for the next switch to the shelf.
void ForwardPendingShelfType(CString strType) {
    if (g_pPendingTarget)
        g_pPendingTarget->SetPendingShelfType(strType);
}

} // namespace

IMPLEMENT_DYNAMIC(CHtmlVelkorsDlg, CSkinDlg)

BEGIN_MESSAGE_MAP(CHtmlVelkorsDlg, CSkinDlg)
ON_MESSAGE(WM_TOOLBAR_CLICK, OnToolBarClick)
ON_MESSAGE(WM_APP_EVENT, OnAppEvent)
ON_MESSAGE(WM_TRAY_NOTIFY, OnTrayNotify)
ON_MESSAGE(WM_SHELF_SHOWN, OnShelfShown)
ON_COMMAND(ID_TRAY_SHOW, OnTrayShow)
ON_COMMAND(ID_TRAY_EXIT, OnTrayExit)
ON_COMMAND(ID_SKIN_SET, OnSettings)
ON_WM_SYSCOMMAND()
ON_WM_ACTIVATE()
ON_WM_SHOWWINDOW()
ON_MESSAGE(WM_READER_FRONT, OnReaderFront)
ON_WM_SIZE()
ON_WM_DESTROY()
ON_WM_QUERYDRAGICON()
ON_WM_PAINT()
ON_WM_COPYDATA()
ON_MESSAGE(WM_WIDI_READY, OnWidiReady)
ON_MESSAGE(WM_WIDI_ADAPTER_FOUND, OnWidiAdapterFound)
ON_MESSAGE(WM_WIDI_MSG_9003, OnWidiIgnored)
ON_MESSAGE(WM_WIDI_MSG_9006, OnWidiIgnored)
ON_MESSAGE(WM_WIDI_MSG_9007, OnWidiIgnored)
ON_MESSAGE(WM_WIDI_CONNECT, OnWidiConnect)
END_MESSAGE_MAP()

CHtmlVelkorsDlg::CHtmlVelkorsDlg(CWnd* pParent) : CSkinDlg(IDD_HTMLVELKORS_DIALOG, pParent) {
    m_hIcon = ::LoadIconA(nullptr, MAKEINTRESOURCEA(128));
}

CHtmlVelkorsDlg::~CHtmlVelkorsDlg() {
    if (g_pPendingTarget == this) {
        g_DownLoadManager.SetPendingShelfTypeHook(nullptr);
        g_pPendingTarget = nullptr;
    }
    CFlashPlayerWnd::SetReaderHost(nullptr);
    // Their windows went with this one; the objects outlive no one who could use them.
    for (CWnd* reader : {static_cast<CWnd*>(m_pFlashWnd), static_cast<CWnd*>(m_pHtmlDlg)}) {
        if (reader && ::IsWindow(reader->GetSafeHwnd()))
            reader->DestroyWindow();
    }
    delete m_pFlashWnd;
    delete m_pHtmlDlg;
}

BOOL CHtmlVelkorsDlg::OnInitDialog() {
    CSkinDlg::OnInitDialog();
    AddAboutItem();
    ::SetPropA(m_hWnd, APP_INSTANCE_NAME, reinterpret_cast<HANDLE>(1));
    g_pMainDlg.Set(m_hWnd);
    g_pPendingTarget = this;
    g_DownLoadManager.SetPendingShelfTypeHook(ForwardPendingShelfType);

    g_MagShelf.LoadAll();
    StartLocalServer();
    g_DownLoadManager.StartWaiting();

    m_trayIcon.Create(this, WM_TRAY_NOTIFY, ProductName().c_str(), m_hIcon, IDR_TRAY_MENU, IDR_TRAY_MENU);
    m_trayIcon.SetTooltipText(ProductName().c_str());

    StartCategoryLists();

    LoadLayout();

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);
    CRect rcClient;
    GetClientRect(&rcClient);

    const CRect rcView(20, 20, 984, 686);
    m_magView.Create(rcView, this, ID_HTML_VIEW);
    m_shelfView.Create(rcView, this, ID_HTML_VIEW);
    CMainHtmlView::SetSkinTargets(this, &m_toolBar);

    CRect rcWork;
    ::SystemParametersInfo(SPI_GETWORKAREA, 0, &rcWork, 0);

    m_pHtmlDlg = new CHtmlDlg(nullptr);
    CreateReaderWindow(*m_pHtmlDlg, rcWork, m_hWnd);
    m_bookView.Create(rcView, this, ID_HTML_VIEW);
    m_pFlashWnd = new CFlashPlayerWnd;
    CreateReaderWindow(*m_pFlashWnd, rcWork, m_hWnd);
    CFlashPlayerWnd::SetReaderHost(this);

    m_strPageDir = g_AppPathInfo.GetPageDir();

    m_toolBar.Create(nullptr, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS,
                     CalcAnchoredRect(m_rcToolBar, TOOL_BAR_WIDTH, TOOL_BAR_HEIGHT, rcClient), this,
                     ID_TOOL_BAR);
    m_toolBar.LoadSkin(StartToolBarSkin());

    SetWindowText(ProductName().c_str());
    StartWidi();

    MoveWindow(&rcWork, TRUE);

    if (!HandleCommandLine(m_strCmdLine)) {
        if (m_packInfo.CheckBundleFirstRun()) {
            OpenLocalItem(CString());
        } else if (m_packInfo.HasBundle()) {
            SendMessage(WM_TOOLBAR_CLICK, ID_TB_MY_BOOK);
            m_toolBar.SelectMyBook();
        } else {
            SendMessage(WM_TOOLBAR_CLICK, ID_TB_HOME);
            m_toolBar.SelectHome();
        }
    }

    StartUpdates();
    return TRUE;
}

void CHtmlVelkorsDlg::AddAboutItem() {
    HMENU hSysMenu = ::GetSystemMenu(m_hWnd, FALSE);
    CString strAbout;
    strAbout.LoadString(IDS_ABOUTBOX);
    if (hSysMenu != nullptr && !strAbout.IsEmpty()) {
        ::AppendMenuA(hSysMenu, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuA(hSysMenu, MF_STRING, IDM_ABOUTBOX, strAbout);
    }
}

void CHtmlVelkorsDlg::StartWidi() {
    ::CoInitialize(nullptr);
    m_widi.Create(m_hWnd);
}

void CHtmlVelkorsDlg::StartLocalServer() {
    g_MyMemFile.StartServer();
}

void CHtmlVelkorsDlg::StartCategoryLists() {
    g_DownLoadManager.StartDownLoadThread(const_cast<char*>("BOOK"), BuildSortClassUrl("book"),
                                          g_AppPathInfo.m_strBookClassXml, 0, CDownLoadManager::OnIgnoreDone,
                                          nullptr);
    g_DownLoadManager.StartDownLoadThread(const_cast<char*>("MAG"), BuildSortClassUrl("mag"),
                                          g_AppPathInfo.m_strMagClassXml, 0, CDownLoadManager::OnIgnoreDone,
                                          nullptr);
}

void CHtmlVelkorsDlg::StartUpdates() {
    StartUpdateThread();
}

BOOL CHtmlVelkorsDlg::HandleCommandLine(CString commandLine) {
    if (commandLine.Find("-p ") != 0)
        return FALSE;
    CString path = commandLine.Mid(3);
    // Only a package file opens; a folder, a FIFO or a device is taken as a missing package.
    if (!g_CommonFunc.FileExists(path) || PathIsDirectoryA(path))
        return FALSE;
    // A damaged package leaves the start to the first tab.
    return OpenLocalItem(path);
}

void CHtmlVelkorsDlg::SetPendingShelfType(CString type) {
    std::lock_guard<std::mutex> lock(m_pendingLock);
    m_strPendingShelfType = type;
}

CString CHtmlVelkorsDlg::GetPendingShelfType() {
    std::lock_guard<std::mutex> lock(m_pendingLock);
    return m_strPendingShelfType;
}

BOOL CHtmlVelkorsDlg::OpenLocalItem(CString path) {
    m_strLastPath = path;
    if (!path.IsEmpty()) {
        CPackInfo pack;
        pack.Load(path);
        // A reader opened on a package without readable pages would find nothing, and its error
        // page would blame the network.
        if (!CMyMemFile::HasItemPages(pack.m_hModule)) {
            ReportDamagedPackage(path);
            return FALSE;
        }
        if (pack.m_strHtmlFlag == "1")
            OpenHtmlReader(path, pack.m_strType, pack.m_strId, pack.m_strPriceFlag);
        else
            OpenFlashReader(path, pack.m_strType, pack.m_strId, pack.m_strPriceFlag);
        return TRUE;
    }
    const CString self = g_CommonFunc.GetModulePath();
    if (m_packInfo.m_strHtmlFlag == "1")
        OpenHtmlReader(self, m_packInfo.m_strType, m_packInfo.m_strId, m_packInfo.m_strPriceFlag);
    else
        OpenFlashReader(self, m_packInfo.m_strType, m_packInfo.m_strId, m_packInfo.m_strPriceFlag);
    m_packInfo.RegisterBundledItem();
    return TRUE;
}

void CHtmlVelkorsDlg::ReportDamagedPackage(const CString& path) {
    const CString name = path.Mid(path.ReverseFind('\\') + 1);
    CString text;
    text.Format(AfxUtf8ToAnsi("亲爱的用户，文件“%s”已损坏，无法打开。请删除后重新下载。").c_str(),
                name.GetString());
    ::MessageBoxA(m_hWnd, text, AfxUtf8ToAnsi("提示").c_str(), MB_OK | MB_ICONERROR);
}

void CHtmlVelkorsDlg::ReopenLastLocal() {
    OpenLocalItem(m_strLastPath);
}

void CHtmlVelkorsDlg::OpenHtmlReader(CString packagePath, CString type, CString id, CString priceFlag) {
    m_nReadMode = READ_MODE_HTML;
    SendMessage(WM_TOOLBAR_CLICK, ID_TB_READ, m_nReadMode);
    m_toolBar.SelectRead();
    const CString address =
        ReaderBaseAddress(type, id, g_MyMemFile.IsServerRunning()) + ReaderStartPage(priceFlag);
    const CStringW prefix = ReaderMemFilePrefix(type, id);
    g_MyMemFile.RemoveAll();
    g_MyMemFile.LoadPackage(packagePath, prefix);
    if (m_pHtmlDlg)
        m_pHtmlDlg->Navigate(address);
    if (m_pFlashWnd)
        m_pFlashWnd->CloseMovie();
}

void CHtmlVelkorsDlg::OpenFlashReader(CString packagePath, CString type, CString id, CString priceFlag) {
    m_nReadMode = READ_MODE_FLASH;
    SendMessage(WM_TOOLBAR_CLICK, ID_TB_READ, m_nReadMode);
    m_toolBar.SelectRead();
    const CStringW prefix = ReaderMemFilePrefix(type, id);
    g_MyMemFile.RemoveAll();
    g_MyMemFile.LoadPackage(packagePath, prefix);
    // The movie is given the item's price flag, the one thing it cannot learn from its files.
    if (m_pFlashWnd)
        m_pFlashWnd->OpenMovie(type, id, priceFlag, g_MyMemFile.IsServerRunning() ? 1 : 0,
                               FlashStartFile(priceFlag), TRUE);
}

void CHtmlVelkorsDlg::OpenOnlineReader(CString type, CString pid) {
    m_strOnlineType = type;
    m_strOnlinePid = pid;
    m_nReadMode = READ_MODE_HTML;
    SendMessage(WM_TOOLBAR_CLICK, ID_TB_READ, m_nReadMode);
    m_toolBar.SelectRead();
    if (m_pHtmlDlg)
        m_pHtmlDlg->Navigate(BuildOnlineReadUrl(type, pid));
    g_MyMemFile.RemoveAll();
    if (m_pFlashWnd)
        m_pFlashWnd->CloseMovie();
}

void CHtmlVelkorsDlg::RetryOnlineRead() {
    OpenOnlineReader(m_strOnlineType, m_strOnlinePid);
}

void CHtmlVelkorsDlg::RunLoginDialog() {
    CLoginDlg dlg(nullptr);
    dlg.DoModal();
}

void CHtmlVelkorsDlg::ReopenLastItem(BOOL bLocal) {
    if (bLocal)
        ReopenLastLocal();
    else
        RetryOnlineRead();
}

CString CHtmlVelkorsDlg::StartWindowSkin() {
    return g_nUserMode == 1 ? "WinSkin.xml" : "WinSkin3.xml";
}

CString CHtmlVelkorsDlg::StartToolBarSkin() {
    return g_nUserMode == 1 ? "ToolBar.xml" : "ToolBar3.xml";
}

CString CHtmlVelkorsDlg::LayoutSkinFor(const CString& strWinSkin) {
    // The start skin's caption band holds the tall tool bar; the mode skins' narrow one, theirs.
    return strWinSkin == "WinSkin.xml" || strWinSkin == "WinSkin2.xml" ? "MainSkin.xml" : "MainSkin3.xml";
}

void CHtmlVelkorsDlg::LoadLayout() {
    CSkinInfo layout;
    layout.Load(LayoutSkinFor(GetSkinName()));
    m_rcHtmlView = layout.GetHtmlViewRect();
    m_rcToolBar = layout.GetToolBarRect();
}

void CHtmlVelkorsDlg::LayoutChildren() {
    CRect rcClient;
    GetClientRect(&rcClient);
    const CRect rcView = CalcAnchoredRect(m_rcHtmlView, 0, 0, rcClient);
    for (CVorHtmlView* view :
         {static_cast<CVorHtmlView*>(&m_magView), static_cast<CVorHtmlView*>(&m_bookView),
          static_cast<CVorHtmlView*>(&m_shelfView)})
        if (::IsWindow(view->GetSafeHwnd()))
            view->MoveWindow(&rcView, TRUE);
    if (::IsWindow(m_toolBar.GetSafeHwnd())) {
        // As high as its skin's band, so that it never reaches over the views below the caption.
        const int height = m_toolBar.GetSkinHeight() > 0 ? m_toolBar.GetSkinHeight() : TOOL_BAR_HEIGHT;
        m_toolBar.MoveWindow(CalcAnchoredRect(m_rcToolBar, TOOL_BAR_WIDTH, height, rcClient), TRUE);
    }
}

CString CHtmlVelkorsDlg::MagStoreUrl() {
    return BuildStorePageUrl(g_nUserMode != 0 ? 1 : 0, FALSE, g_UserInfo.username, g_UserInfo.password);
}

CString CHtmlVelkorsDlg::BookStoreUrl() {
    return BuildStorePageUrl(g_nUserMode != 0 ? 1 : 0, TRUE, g_UserInfo.username, g_UserInfo.password);
}

CString CHtmlVelkorsDlg::ShelfUrl() const {
    return m_strPageDir + (g_nUserMode == 1 ? "Bookshelf.html" : "Bookshelf2.html");
}

LRESULT CHtmlVelkorsDlg::OnToolBarClick(WPARAM wParam, LPARAM) {
    // The reading windows are made later than the views; either may not be there yet.
    auto show = [](CWnd* wnd, int nCmd) {
        if (wnd && ::IsWindow(wnd->GetSafeHwnd()))
            wnd->ShowWindow(nCmd);
    };
    switch (wParam) {
    case ID_TB_HOME:
        if (!m_bMagLoaded) {
            m_magView.Navigate2(MagStoreUrl().GetString());
            m_bMagLoaded = 1;
        }
        show(&m_magView, SW_SHOW);
        show(&m_shelfView, SW_HIDE);
        show(m_pHtmlDlg, SW_HIDE);
        show(&m_bookView, SW_HIDE);
        show(m_pFlashWnd, SW_HIDE);
        m_strCurTab = "mag";
        break;
    case ID_TB_MAKE_BOOK:
        if (!m_bBookLoaded) {
            m_bookView.Navigate2(BookStoreUrl().GetString());
            m_bBookLoaded = 1;
        }
        show(&m_bookView, SW_SHOW);
        show(&m_magView, SW_HIDE);
        show(&m_shelfView, SW_HIDE);
        show(m_pHtmlDlg, SW_HIDE);
        show(m_pFlashWnd, SW_HIDE);
        m_strCurTab = "book";
        break;
    case ID_TB_MY_BOOK: {
        // Downloads that moved on while the shelf was hidden told no page.
        const bool bStale = m_bShelfLoaded && !IsShelfVisible();
        if (!m_bShelfLoaded) {
            m_shelfView.Navigate2(ShelfUrl().GetString());
            m_bShelfLoaded = 1;
        }
        show(&m_shelfView, SW_SHOW);
        show(&m_magView, SW_HIDE);
        show(m_pHtmlDlg, SW_HIDE);
        show(&m_bookView, SW_HIDE);
        show(m_pFlashWnd, SW_HIDE);
        CString pending;
        {
            std::lock_guard<std::mutex> lock(m_pendingLock);
            pending = m_strPendingShelfType;
            m_strPendingShelfType.Empty();
        }
        if (!pending.IsEmpty())
            m_shelfView.ChangeShelfType(pending);
        if (bStale)
            PostMessage(WM_SHELF_SHOWN);
        m_strCurTab = "shelf";
        break;
    }
    case ID_TB_READ:
        if (m_nReadMode == READ_MODE_FLASH) {
            show(m_pFlashWnd, SW_SHOW);
            show(m_pHtmlDlg, SW_HIDE);
        } else {
            show(m_pHtmlDlg, SW_SHOW);
            if (m_pHtmlDlg)
                m_pHtmlDlg->ShowTool();
            show(m_pFlashWnd, SW_HIDE);
        }
        show(&m_magView, SW_HIDE);
        show(&m_shelfView, SW_HIDE);
        show(&m_bookView, SW_HIDE);
        break;
    case ID_TB_LOGIN:
        m_loginDlg.DoModal();
        break;
    default:
        break;
    }
    return 1;
}

BOOL CHtmlVelkorsDlg::IsShelfVisible() {
    return m_bShelfLoaded && ::IsWindow(m_shelfView.GetSafeHwnd()) && m_shelfView.IsWindowVisible();
}

LRESULT CHtmlVelkorsDlg::OnAppEvent(WPARAM wParam, LPARAM lParam) {
    auto* info = reinterpret_cast<CMsgInfo*>(lParam);
    auto* item = reinterpret_cast<CMagInfo*>(lParam);
    switch (wParam) {
    case EVT_DOWNLOAD_FILE:
        if (info)
            g_DownLoadManager.AddDownLoad(info->m_strParam3, info->m_strParam2);
        break;
    case EVT_READ_ONLINE:
        if (info)
            OpenOnlineReader(info->m_strParam3, info->m_strParam2);
        break;
    case EVT_USER_LOGIN:
        if (m_bMagLoaded)
            m_magView.Navigate2(MagStoreUrl().GetString());
        if (m_bBookLoaded)
            m_bookView.Navigate2(BookStoreUrl().GetString());
        if (m_bShelfLoaded)
            m_shelfView.NotifyUserId(g_UserInfo.userid);
        break;
    case EVT_USER_LOGOFF:
        if (m_bBookLoaded)
            m_bookView.NotifyLogoff();
        if (m_bMagLoaded)
            m_magView.NotifyLogoff();
        if (m_bShelfLoaded)
            m_shelfView.NotifyUserId("-1");
        break;
    case EVT_GO_SHELF:
        SendMessage(WM_TOOLBAR_CLICK, ID_TB_MY_BOOK);
        m_toolBar.SelectMyBook();
        if (info && !info->m_strParam3.IsEmpty() && !info->m_strParam2.IsEmpty())
            m_shelfView.SelectShelf(info->m_strParam3, info->m_strParam2);
        break;
    case EVT_USER_MODE:
        // The skins were switched: the views and the tool bar take the new skin's places, so
        // nothing of the old caption band stays uncovered, and the whole window is drawn anew.
        LoadLayout();
        LayoutChildren();
        ::RedrawWindow(m_hWnd, nullptr, nullptr,
                       RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        if (m_bShelfLoaded)
            m_shelfView.Navigate2(ShelfUrl().GetString());
        break;
    case EVT_READ_LOCAL:
        if (!item)
            break;
        if (item->down == DOWN_STATE_DONE && g_CommonFunc.FileExists(item->savepath)) {
            // A damaged package was not read: it does not join the recent reads.
            if (OpenLocalItem(item->savepath))
                g_MagShelf.AddRecentRead(item);
        } else {
            OpenOnlineReader(item->type, item->pid);
        }
        break;
    case EVT_CLOSE_READER:
    case EVT_CLOSE_FLASH:
        CloseReader();
        break;
    case EVT_DOWNLOAD_PROGRESS:
        if (info && IsShelfVisible())
            m_shelfView.NotifyProgress(info->m_strParam1, info->m_strParam2, info->m_strParam3);
        break;
    case EVT_DOWNLOAD_STARTED:
        if (item && IsShelfVisible())
            m_shelfView.NotifyDownloadStarted(item->type, item->pid);
        break;
    case EVT_DOWNLOAD_FAILED:
        if (item && IsShelfVisible()) {
            if (g_DownLoadManager.HasFailed(item))
                m_shelfView.NotifyDownloadFailed(item->type, item->pid);
            else
                m_shelfView.NotifyDownloadStopped(item->type, item->pid);
        }
        break;
    case EVT_ITEM_REQUEST_FAILED:
    case EVT_DOWNLOAD_ADDED:
    case EVT_DOWNLOAD_EXISTS:
        RedownloadAnswer(wParam, lParam);
        break;
    default:
        break;
    }
    return 0;
}

void CHtmlVelkorsDlg::RedownloadAnswer(WPARAM code, LPARAM lParam) {
    if (lParam == 0)
        return;
    CString state, sortId, pid, type;
    if (code == EVT_ITEM_REQUEST_FAILED) {
        auto* info = reinterpret_cast<CMsgInfo*>(lParam);
        state = "0";
        pid = info->m_strParam1;
        type = info->m_strParam2;
    } else {
        auto* item = reinterpret_cast<CMagInfo*>(lParam);
        state = code == EVT_DOWNLOAD_ADDED ? "2" : "1";
        sortId = item->sort_id;
        pid = item->pid;
        type = item->type;
    }
    if (IsShelfVisible()) {
        m_shelfView.NotifyReDownLoad(state, sortId, pid);
        return;
    }
    if (type == "book" && m_bBookLoaded)
        m_bookView.NotifyReDownLoad(state, sortId, pid);
    if (type == "mag" && m_bMagLoaded)
        m_magView.NotifyReDownLoad(state, sortId, pid);
}

void CHtmlVelkorsDlg::CloseReader() {
    if (m_strCurTab == "mag") {
        SendMessage(WM_TOOLBAR_CLICK, ID_TB_HOME);
        m_toolBar.SelectHome();
    } else if (m_strCurTab == "book") {
        SendMessage(WM_TOOLBAR_CLICK, ID_TB_MAKE_BOOK);
        m_toolBar.SelectMakeBook();
    } else {
        SendMessage(WM_TOOLBAR_CLICK, ID_TB_MY_BOOK);
        m_toolBar.SelectMyBook();
    }
    m_toolBar.HideRead();
}

BOOL CHtmlVelkorsDlg::PreTranslateMessage(MSG* pMsg) {
    // Enter belongs to the focused page or control, never to the dialog manager.
    if (pMsg->message == WM_KEYDOWN && pMsg->wParam == VK_RETURN)
        return FALSE;
    return CSkinDlg::PreTranslateMessage(pMsg);
}

BOOL CHtmlVelkorsDlg::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    if (message == WM_SYSCOMMAND && wParam == SC_CLOSE) {
        // Ends the program as the tray's exit does, so no worker outlives the window.
        g_DownLoadManager.Shutdown(kExitWaitMs);
        DestroyWindow();
        if (pResult)
            *pResult = 0;
        return TRUE;
    }
    return CSkinDlg::OnWndMsg(message, wParam, lParam, pResult);
}

void CHtmlVelkorsDlg::OnOK() {
    if (m_pFlashWnd && ::IsWindow(m_pFlashWnd->GetSafeHwnd()) && m_pFlashWnd->IsWindowVisible()) {
        m_pFlashWnd->SendEnterKey();
        return;
    }
    if (m_pHtmlDlg && ::IsWindow(m_pHtmlDlg->GetSafeHwnd()) && m_pHtmlDlg->IsWindowVisible()) {
        m_pHtmlDlg->SendEnterKey();
        return;
    }
    for (CMainHtmlView* view : {&m_magView, &m_bookView}) {
        if (::IsWindow(view->GetSafeHwnd()) && view->IsWindowVisible()) {
            view->SendMessage(WM_KEYDOWN, VK_RETURN, 0);
            return;
        }
    }
}

void CHtmlVelkorsDlg::OnCancel() {
    if (m_bExiting) {
        // Stops every transfer and waits, bounded, for the workers, answering their sends, so
        // none is left blocked on this window and no state file is cut off mid-write.
        g_DownLoadManager.Shutdown(kExitWaitMs);
        CSkinDlg::OnCancel();
        return;
    }
    // The reading window shown over it goes with it, so that no reader stays on the screen over a
    // program that is gone to the tray, and comes back with it.
    ::ShowOwnedPopups(m_hWnd, FALSE);
    // Hidden with no tray icon the window could never be brought back.
    ShowWindow(m_trayIcon.IsEnabled() ? SW_HIDE : SW_MINIMIZE);
}

CWnd* CHtmlVelkorsDlg::ShownReader() const {
    for (CWnd* reader : {static_cast<CWnd*>(m_pFlashWnd), static_cast<CWnd*>(m_pHtmlDlg)})
        if (reader && ::IsWindow(reader->GetSafeHwnd()) && reader->IsWindowVisible())
            return reader;
    return nullptr;
}

void CHtmlVelkorsDlg::OnActivate(UINT nState, CWnd* pWndOther, BOOL bMinimized) {
    CSkinDlg::OnActivate(nState, pWndOther, bMinimized);
    // However the main window was brought to the front (the tray, the task bar, a second start),
    // a reading window shown over it keeps the keyboard; after this activation has run its course.
    if (nState != WA_INACTIVE && ShownReader())
        PostMessage(WM_READER_FRONT);
}

void CHtmlVelkorsDlg::OnShowWindow(BOOL bShow, UINT nStatus) {
    CSkinDlg::OnShowWindow(bShow, nStatus);
    if (bShow)
        PostMessage(WM_READER_FRONT); // once the window is shown and active
}

LRESULT CHtmlVelkorsDlg::OnReaderFront(WPARAM, LPARAM) {
    if (!IsWindowVisible())
        return 0;
    ::ShowOwnedPopups(m_hWnd, TRUE);
    CWnd* reader = ShownReader();
    if (reader && ::GetActiveWindow() == m_hWnd)
        reader->SetActiveWindow();
    return 0;
}

void CHtmlVelkorsDlg::OnTrayShow() {
    const bool bStale = !IsWindowVisible() && m_strCurTab == "shelf";
    ShowWindow(SW_SHOW);
    if (bStale)
        PostMessage(WM_SHELF_SHOWN);
}

LRESULT CHtmlVelkorsDlg::OnShelfShown(WPARAM, LPARAM) {
    // Called into from the main loop, never in the middle of a page's own call to us, which is
    // where a reader's close comes from: the page asks for its listing on its own from here.
    if (IsShelfVisible())
        m_shelfView.NotifyShown();
    return 0;
}

void CHtmlVelkorsDlg::OnTrayExit() {
    m_bExiting = 1;
    OnCancel();
}

LRESULT CHtmlVelkorsDlg::OnTrayNotify(WPARAM wParam, LPARAM lParam) {
    return m_trayIcon.OnTrayNotification(wParam, lParam);
}

void CHtmlVelkorsDlg::OnSettings() {
    m_setDlg.SetWidiList(&m_widi.m_arrWidiAdapters);
    m_setDlg.DoModal();
}

void CHtmlVelkorsDlg::OnSysCommand(UINT nID, LPARAM) {
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CDialog about(IDD_ABOUTBOX, this);
        about.DoModal();
        return;
    }
    Default();
}

void CHtmlVelkorsDlg::OnSize(UINT nType, int cx, int cy) {
    CSkinDlg::OnSize(nType, cx, cy);
    LayoutChildren();
}

void CHtmlVelkorsDlg::OnDestroy() {
    CSkinDlg::OnDestroy();
    m_trayIcon.RemoveIcon();
    ::RemovePropA(m_hWnd, APP_INSTANCE_NAME);
}

HCURSOR CHtmlVelkorsDlg::OnQueryDragIcon() {
    return static_cast<HCURSOR>(m_hIcon);
}

void CHtmlVelkorsDlg::OnPaint() {
    if (!IsIconic()) {
        CSkinDlg::OnPaint();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    CRect rect;
    GetClientRect(&rect);
    const int x = (rect.Width() - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (rect.Height() - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
}

BOOL CHtmlVelkorsDlg::OnCopyData(CWnd*, COPYDATASTRUCT* pCopyDataStruct) {
    if (pCopyDataStruct == nullptr || pCopyDataStruct->dwData != 0 || pCopyDataStruct->lpData == nullptr)
        return FALSE;
    const char* pData = static_cast<const char*>(pCopyDataStruct->lpData);
    const std::string text(pData, pCopyDataStruct->cbData);
    // Text only: a zero inside would cut the path short of what was sent.
    if (text.compare(0, 3, "-p ") != 0 || text.find('\0') != std::string::npos)
        return FALSE;
    HandleCommandLine(CString(text.c_str()));
    ShowWindow(SW_SHOW);
    ::SetForegroundWindow(m_hWnd);
    return TRUE;
}

LRESULT CHtmlVelkorsDlg::OnWidiReady(WPARAM wParam, LPARAM lParam) {
    return m_widi.OnWidiReady(wParam, lParam);
}

LRESULT CHtmlVelkorsDlg::OnWidiAdapterFound(WPARAM wParam, LPARAM lParam) {
    return m_widi.OnWidiAdapterFound(wParam, lParam);
}

LRESULT CHtmlVelkorsDlg::OnWidiConnect(WPARAM wParam, LPARAM lParam) {
    return m_widi.OnWidiConnect(wParam, lParam);
}

LRESULT CHtmlVelkorsDlg::OnWidiIgnored(WPARAM wParam, LPARAM lParam) {
    return m_widi.OnWidiIgnored(wParam, lParam);
}
