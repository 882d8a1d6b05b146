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

#include <cstdio>
#include <filesystem>
#include <string>

BOOL CHtmlVelkorsApp::InitBeforeMainWindow() {
    if (!AfxSocketInit()) {
        AfxMessageBox(IDP_SOCKETS_INIT_FAILED);
        return FALSE;
    }
    g_nUserMode = 0;
    g_AppPathInfo.Init();
    g_UserInfo.Load(g_AppPathInfo.m_strUserXml);
    return TRUE;
}

HWND CHtmlVelkorsApp::FindRunningInstance() {
    CreateMutexA(nullptr, TRUE, APP_INSTANCE_NAME);
    if (GetLastError() != ERROR_ALREADY_EXISTS)
        return nullptr;
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

BOOL CHtmlVelkorsApp::PrepareMainWindow(CPackInfo& packInfo, const CString& strCmdLine) {
    if (HWND hOther = FindRunningInstance()) {
        // A package this start was asked to open goes to the running window, as the first
        // start's own command line would; the built-in item then stays due, as it does there.
        CString strText;
        if (strCmdLine.Find("-p ") == 0)
            strText = strCmdLine;
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
