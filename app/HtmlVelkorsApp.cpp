#include "app/HtmlVelkorsApp.h"

#include "app/FlashPlayerWnd.h"
#include "app/PackInfo.h"
#include "foundation/AppPathInfo.h"
#include "foundation/CommonFunc.h"
#include "library/UserInfo.h"
#include "platform/net/AsyncSocket.h"
#include "platform/shell/SingleInstance.h"
#include "platform/user/AfxDialog.h"
#include "platform/user/WinUser.h"
#include "platform/kernel/FileSys.h"
#include "platform/kernel/Module.h"
#include "res/resource.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

DWORD g_dwDataFolderWaitMs = 5000;

namespace {

// How often a start that waits for the data folder looks again.
constexpr auto kDataFolderPoll = std::chrono::milliseconds(100);

// A relative package path means the folder this start was made in, not the running instance's.
CString AbsoluteCommandLine(const CString& strCmdLine) {
    if (strCmdLine.Find("-p ") != 0)
        return strCmdLine;
    char szFull[MAX_PATH + 1] = {};
    const DWORD nFull = GetFullPathNameA(strCmdLine.Mid(3), sizeof szFull, szFull, nullptr);
    if (nFull == 0 || nFull >= sizeof szFull)
        return strCmdLine;
    return "-p " + CString(szFull);
}

} // namespace

BOOL CHtmlVelkorsApp::InitBeforeMainWindow() {
    if (!AfxSocketInit()) {
        AfxMessageBox(IDP_SOCKETS_INIT_FAILED);
        return FALSE;
    }
    g_nUserMode = 0;
    g_AppPathInfo.Init();
    // Taken before anything else of the folder is read; a second start that hands over never holds
    // it and so never keeps the running instance's next start out.
    if (!m_dataLock.TryLock(g_AppPathInfo.m_strDataRoot + "\\" APP_DATA_LOCK_NAME))
        m_bDataFolderBusy = GetLastError() == ERROR_LOCK_VIOLATION;
    g_UserInfo.Load(g_AppPathInfo.m_strUserXml);
    return TRUE;
}

HWND CHtmlVelkorsApp::FindRunningInstance() {
    CreateMutexA(nullptr, TRUE, APP_INSTANCE_NAME);
    if (GetLastError() != ERROR_ALREADY_EXISTS)
        return nullptr;
    return FindInstanceWindow();
}

HWND CHtmlVelkorsApp::FindInstanceWindow() {
    HWND hWnd = GetWindow(GetDesktopWindow(), GW_CHILD);
    while (hWnd != nullptr && GetPropA(hWnd, APP_INSTANCE_NAME) == nullptr)
        hWnd = GetWindow(hWnd, GW_HWNDNEXT);
    if (hWnd == nullptr)
        return nullptr;
    // A window hidden in the notification area is neither iconic nor visible: it is shown, or
    // the start would end with nothing on the screen.
    if (IsIconic(hWnd))
        ShowWindow(hWnd, SW_RESTORE);
    else
        ShowWindow(hWnd, SW_SHOW);
    SetForegroundWindow(hWnd);
    SetForegroundWindow(GetLastActivePopup(hWnd));
    return hWnd;
}

HWND CHtmlVelkorsApp::AwaitDataFolder() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(g_dwDataFolderWaitMs);
    for (;;) {
        if (m_dataLock.TryLock(g_AppPathInfo.m_strDataRoot + "\\" APP_DATA_LOCK_NAME)) {
            m_bDataFolderBusy = FALSE;
            return nullptr;
        }
        if (GetLastError() != ERROR_LOCK_VIOLATION) {
            m_bDataFolderBusy = FALSE;
            return nullptr;
        }
        if (HWND hOther = FindInstanceWindow())
            return hOther;
        if (std::chrono::steady_clock::now() >= deadline)
            return nullptr;
        std::this_thread::sleep_for(kDataFolderPoll);
    }
}

void CHtmlVelkorsApp::ReportDataFolderInUse() {
    CString strText;
    strText.LoadString(IDP_DATA_FOLDER_IN_USE);
    std::fprintf(stderr, "kestrin: %s (%s)\n", AfxAnsiToUtf8(strText.str()).c_str(),
                 AfxAnsiToUtf8(g_AppPathInfo.m_strDataRoot.str()).c_str());
    AfxMessageBox(IDP_DATA_FOLDER_IN_USE);
}

BOOL CHtmlVelkorsApp::PrepareMainWindow(CPackInfo& packInfo, const CString& strCmdLine) {
    m_nEndStatus = 0;
    HWND hOther = FindRunningInstance();
    // The data folder is held, and no window to hand over to: an instance that is still starting
    // or already ending, or one whose window cannot be reached. This start never runs beside it.
    if (hOther == nullptr && m_bDataFolderBusy)
        hOther = AwaitDataFolder();
    if (hOther == nullptr && m_bDataFolderBusy) {
        ReportDataFolderInUse();
        m_nEndStatus = 1;
        return FALSE;
    }
    if (hOther != nullptr) {
        // A package this start was asked to open goes to the running window, as the first
        // start's own command line would; the built-in item then stays due, as it does there.
        CString strText;
        if (strCmdLine.Find("-p ") == 0)
            strText = AbsoluteCommandLine(strCmdLine);
        else if (packInfo.CheckBundleFirstRun())
            strText.Format("-p %s", (LPCSTR)g_CommonFunc.GetModulePath());
        if (!strText.IsEmpty()) {
            COPYDATASTRUCT cds{};
            cds.dwData = 0;
            cds.cbData = static_cast<DWORD>(strText.GetLength());
            cds.lpData = strText.GetBuffer();
            SendMessageA(hOther, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));
            strText.ReleaseBuffer();
        }
        return FALSE;
    }
    if (!packInfo.CheckInstalledVersion())
        return FALSE;
    packInfo.DeployComponents();
    // The player goes with the program, in its "player" folder: the update check installs the
    // movie alone.
    const std::string player = AfxProgramCompanionFolder(kPlayerFolderName);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(player + "/player.html", ec))
        std::fprintf(stderr, "kestrin: no movie player in %s: items for the movie reader cannot be read\n",
                     player.c_str());
    PublishReaderPlayer(CString(AfxUnmapPath(player) + "\\"));
    return TRUE;
}
