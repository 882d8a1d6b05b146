#include "pages/SetDlg.h"

#include "foundation/AppPathInfo.h"
#include "foundation/CommonFunc.h"
#include "net/AppMessages.h"
#include "platform/kernel/FileSys.h"
#include "platform/kernel/Process.h"
#include "platform/kernel/ShellFolders.h"
#include "platform/shell/ShellApi.h"

namespace {

const VOR_DISPATCH_ENTRY kEntries[] = {
    {"C_Close", &vordisp::Thunk<CSetHtmlView, &CSetHtmlView::C_Close>},
    {"C_SetConfig", &vordisp::Thunk<CSetHtmlView, &CSetHtmlView::C_SetConfig>},
    {"C_browseFile", &vordisp::Thunk<CSetHtmlView, &CSetHtmlView::C_browseFile>},
    {"C_ConnectWIDI", &vordisp::Thunk<CSetHtmlView, &CSetHtmlView::C_ConnectWIDI>},
    {"C_DisconnectedWIDI", &vordisp::Thunk<CSetHtmlView, &CSetHtmlView::C_DisconnectedWIDI>},
    {"C_Settings", &vordisp::Thunk<CSetHtmlView, &CSetHtmlView::C_Settings>},
    {nullptr, nullptr},
};

CString OneOrZero(const CString& s) {
    return s == "1" ? CString("1") : CString("0");
}

// The page shows and takes folders as a Linux user writes them (/home/u/Down/); the program
// keeps its own form (\home\u\Down\) inside and in config.xml. Both forms are in the ANSI code
// page, whose double-byte characters Replace steps over whole.
CString ToPageForm(CString strFolder) {
    strFolder.Replace('\\', '/');
    return strFolder;
}

// A folder from the page in the program's form; "" for one that names no absolute folder. "~"
// stands for the home folder, as in a shell.
CString FromPageForm(CString strFolder) {
    strFolder.Trim();
    if (strFolder == "~" || strFolder.Left(2) == "~/")
        strFolder = CString(AfxUnmapPath(AfxGetHomeFolder()).c_str()) + strFolder.Mid(1);
    strFolder.Replace('/', '\\');
    if (strFolder.Left(1) != "\\")
        return CString();
    return strFolder;
}

// The folder browser opens on the folder it is given as its data.
int OpenOnFolder(HWND hWnd, UINT uMsg, LPARAM, LPARAM lpData) {
    if (uMsg == BFFM_INITIALIZED && lpData)
        ::SendMessageA(hWnd, BFFM_SETSELECTIONA, TRUE, lpData);
    return 0;
}

} // namespace

const VOR_DISPATCH_MAP* CSetHtmlView::GetThisDispatchMap() {
    static const VOR_DISPATCH_MAP map = {&CVorHtmlView::GetThisDispatchMap, kEntries};
    return &map;
}

void CSetHtmlView::PostCloseToHost() {
    if (m_pParent && ::IsWindow(m_pParent->GetSafeHwnd()))
        m_pParent->PostMessage(WM_CLOSE, 0, 0);
}

BOOL CSetHtmlView::C_Close() {
    PostCloseToHost();
    return TRUE;
}

BOOL CSetHtmlView::C_SetConfig() {
    CallJScript("js_setFileVal", ToPageForm(g_AppPathInfo.GetDownloadFolder()));
    CallJScript("SetCheck", OneOrZero(g_AppPathInfo.GetConfig("auto_start")),
                OneOrZero(g_AppPathInfo.GetConfig("taskbar")));
    // No list set means no adapter found, not a list to read.
    if (m_pWidiList)
        for (INT_PTR i = 0; i < m_pWidiList->GetSize(); ++i)
            CallJScript("AddWIDI", m_pWidiList->GetAt(i));
    return TRUE;
}

CString CSetHtmlView::BrowseFolder() {
    char buf[MAX_PATH] = {0};
    std::string title = AfxUtf8ToAnsi("修改接收路径");
    BROWSEINFOA bi{};
    bi.pszDisplayName = buf;
    bi.lpszTitle = title.c_str();
    bi.ulFlags = BIF_EDITBOX;
    // It opens where the downloads go now, not where the picker happens to start.
    const CString current = g_AppPathInfo.GetDownloadFolder();
    bi.lpfn = &OpenOnFolder;
    bi.lParam = reinterpret_cast<LPARAM>(current.GetString());
    PIDLIST_ABSOLUTE pidl = SHBrowseForFolder(&bi);
    CString path;
    if (pidl) {
        if (SHGetPathFromIDList(pidl, buf))
            path = buf;
        CoTaskMemFree(pidl);
    }
    if (path.GetLength() > 1 && path.Right(1) != "\\")
        path += "\\";
    return path;
}

BOOL CSetHtmlView::C_browseFile() {
    CString path = BrowseFolder();
    if (path.IsEmpty())
        return TRUE;
    CallJScript("js_setFileVal", ToPageForm(path));
    if (!g_AppPathInfo.TestWrite(path))
        ::MessageBoxA(
            m_hWnd,
            AfxUtf8ToAnsi("亲爱的用户，你所选择的文件夹因为权限的原因不可写，不能用来存放杂志文件").c_str(),
            AfxUtf8ToAnsi("提示").c_str(), MB_OK);
    return TRUE;
}

void CSetHtmlView::SendWidiConnect(const CString& strName) {
    CString name(strName);
    HWND host = m_pParent ? m_pParent->GetSafeHwnd() : nullptr;
    HWND main = host ? ::GetWindow(host, GW_OWNER) : nullptr;
    if (!main && host)
        main = ::GetParent(host);
    if (main)
        ::SendMessageA(main, WM_WIDI_CONNECT, 0, reinterpret_cast<LPARAM>(&name));
}

BOOL CSetHtmlView::C_ConnectWIDI(LPCSTR name) {
    if (*name)
        SendWidiConnect(name);
    return TRUE;
}

BOOL CSetHtmlView::C_DisconnectedWIDI() {
    SendWidiConnect(CString());
    return TRUE;
}

BOOL CSetHtmlView::C_Settings(LPCSTR auto_start, LPCSTR taskbar, LPCSTR down_save) {
    CString strAuto(auto_start), strTaskbar(taskbar), folder = FromPageForm(down_save);
    if (strAuto != g_AppPathInfo.GetConfig("auto_start")) {
        g_AppPathInfo.SetConfig("auto_start", strAuto);
        g_AppPathInfo.SetAutoRun(strAuto == "1", TRUE);
    }
    if (strTaskbar != g_AppPathInfo.GetConfig("taskbar")) {
        CString link = g_AppPathInfo.CreateDesktopShortcut(g_CommonFunc.GetModuleDir());
        g_AppPathInfo.SetConfig("taskbar", strTaskbar);
        ShellExecute(nullptr, strTaskbar == "1" ? "TaskbarPin" : "TaskbarunPin", link.GetString(), nullptr,
                     nullptr, SW_HIDE);
    }
    // An empty folder would be tested, and kept, as the current directory; the stored folder
    // and every package path built from it end with the separator.
    if (!folder.IsEmpty() && folder.Right(1) != "\\")
        folder += "\\";
    if (!folder.IsEmpty()) {
        CreateDirectory(folder.GetString(), nullptr);
        if (g_AppPathInfo.TestWrite(folder)) {
            g_AppPathInfo.SetDownloadFolder(folder);
            g_AppPathInfo.SetConfig("down_save", folder);
            PostCloseToHost();
            return TRUE;
        }
    }
    ::MessageBoxA(
        m_hWnd,
        AfxUtf8ToAnsi("亲爱的用户，你所选择的文件夹不可写或者文件不存在，不能用来存放杂志文件").c_str(),
        AfxUtf8ToAnsi("提示").c_str(), MB_OK);
    return TRUE;
}

IMPLEMENT_DYNAMIC(CSetDlg, CDialog)

BOOL CSetDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SetWindowText(AfxUtf8ToAnsi("墨舟匣V4.0").c_str());
    m_wndView.Create(CRect(0, 0, 492, 348), this, IDC_PAGE_VIEW);
    m_wndView.Navigate2((m_wndView.GetPageFolder() + "Setting.html").GetString());
    SetWindowPos(nullptr, 0, 0, 492, 348, SWP_NOMOVE);
    return TRUE;
}
