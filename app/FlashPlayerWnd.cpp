#include "app/FlashPlayerWnd.h"

#include "contentserver/MyMemFile.h"
#include "contentserver/ServedFiles.h"
#include "contentserver/ServerHost.h"
#include "foundation/AppPathInfo.h"
#include "foundation/CommonFunc.h"
#include "library/UserInfo.h"
#include "net/AppMessages.h"
#include "net/MyHttp.h"
#include "net/StoreRequests.h"
#include "platform/kernel/CodePage.h"
#include "platform/kernel/Process.h"
#include "xml/XmlDocument.h"

IMPLEMENT_DYNAMIC(CFlashPlayerWnd, CWnd)

namespace {

IFlashReaderHost* g_pReaderHost = nullptr;

// Values may hold markup characters (a file name with "&", a parameter with "<"); escaped, they
// reach the movie as they were.
CString EscapeValue(const CString& s) {
    return CXmlDocument::EscapeText(s.GetString(), XNODE_ESCAPE_QUOTES);
}

// The user id the store knows a reader without an account by.
const char kGuestUserId[] = "1159";

} // namespace

CString BuildFlashInvoke(const CString& strName, const std::vector<CString>& args) {
    CString xml = "<invoke name=\"" + EscapeValue(strName) + "\" returntype=\"xml\"><arguments>";
    for (const auto& a : args)
        xml += "<string>" + EscapeValue(a) + "</string>";
    xml += "</arguments></invoke>";
    return xml;
}

BOOL ParseFlashInvoke(const CString& strRequest, CString& strName, std::vector<CString>& args) {
    args.clear();
    strName.Empty();
    CXmlDocument doc;
    if (!doc.SetDocText(strRequest.GetString()) || !doc.FindElement("invoke"))
        return FALSE;
    strName = doc.GetAttribute("name");
    doc.IntoElement();
    if (!doc.FindElement("arguments"))
        return FALSE;
    doc.IntoElement();
    for (;;) {
        if (doc.FindElement("string")) {
            CString text = doc.GetElementText();
            args.push_back(text == "null" ? CString() : text);
        } else if (doc.FindElement("number")) {
            args.push_back(doc.GetElementText());
        } else {
            break;
        }
    }
    return TRUE;
}

CString FlashStartFile(const CString& strPriceFlag) {
    return strPriceFlag == "1" ? CString("stream2") : CString("stream");
}

namespace {

CString ServerOrigin() {
    CString origin;
    origin.Format("http://127.0.0.1:%d", g_nServerPort);
    return origin;
}

} // namespace

void PublishReaderPlayer(const CString& strPlayerFolder) {
    PublishServedPath(kPlayerUrlPath, [strPlayerFolder] { return strPlayerFolder; });
    // Asked at each request: the update check may install a newer movie while the program runs.
    PublishServedPath(kPlayerMovieUrlPath, [] { return g_AppPathInfo.GetReadSwfPath(); });
    const CString origin = ServerOrigin();
    CShockwaveflash1::SetPlayerPage(origin + kPlayerUrlPath + "player.html");
    CShockwaveflash1::SetMovieAddressMap([origin](const CString& address) {
        return address.CompareNoCase(g_AppPathInfo.GetReadSwfPath()) == 0 ? origin + kPlayerMovieUrlPath
                                                                          : address;
    });
}

BEGIN_MESSAGE_MAP(CFlashPlayerWnd, CWnd)
ON_WM_SIZE()
ON_WM_SETFOCUS()
ON_MESSAGE(WM_FLASH_LOGIN, OnFlashLogin)
ON_MESSAGE(WM_FLASH_RETIRE, OnFlashRetire)
END_MESSAGE_MAP()

CFlashPlayerWnd::~CFlashPlayerWnd() {
    DestroyControl();
    DeleteRetired();
}

void CFlashPlayerWnd::SetReaderHost(IFlashReaderHost* pHost) {
    g_pReaderHost = pHost;
}

void CFlashPlayerWnd::DestroyControl() {
    if (!m_pFlash)
        return;
    if (m_nEventDepth > 0) {
        m_pFlash->ShowWindow(SW_HIDE);
        m_retired.push_back(m_pFlash);
        m_pFlash = nullptr;
        PostMessage(WM_FLASH_RETIRE, 0, 0);
        return;
    }
    m_pFlash->DestroyWindow();
    delete m_pFlash;
    m_pFlash = nullptr;
}

void CFlashPlayerWnd::OpenMovie(CString type, CString id, CString movieParam, int served, CString startFile,
                                BOOL bLocal) {
    if (served == 1)
        m_strBase.Format("%s/%s/%s/", ServerOrigin().GetString(), type.GetString(), id.GetString());
    else
        m_strBase.Format("%s%s\\%s\\", MEMFILE_ROOT, type.GetString(), id.GetString());
    DestroyControl();
    CRect rc;
    GetClientRect(&rc);
    m_pFlash = new CShockwaveflash1;
    if (!m_pFlash->Create(nullptr, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS,
                          CRect(0, 0, rc.Width(), rc.Height()), this, kFlashControlId)) {
        delete m_pFlash;
        m_pFlash = nullptr;
        return;
    }
    m_strItemId = id;
    m_strMovieParam = movieParam;
    m_strItemType = type;
    m_strStartFile = startFile;
    m_bLocalItem = bLocal;
    m_strSwfPath = g_AppPathInfo.GetReadSwfPath();
    // A new control of the window that has the keyboard takes it, as the old one had it.
    if (::GetActiveWindow() == m_hWnd)
        m_pFlash->SetFocus();
    m_pFlash->LoadMovie(0, m_strSwfPath);
    m_pFlash->put_WMode("transparent");
    m_pFlash->put_Quality("high");
    m_pFlash->put_AllowScriptAccess("always");
}

void CFlashPlayerWnd::CloseMovie() {
    if (!m_pFlash)
        return;
    DestroyControl();
    m_strItemType.Empty();
    m_strItemId.Empty();
}

void CFlashPlayerWnd::SendEnterKey() {
    if (m_pFlash && m_pFlash->GetSafeHwnd())
        m_pFlash->SendMessage(WM_KEYDOWN, VK_RETURN, 0);
}

void CFlashPlayerWnd::DeleteRetired() {
    std::vector<CShockwaveflash1*> retired;
    retired.swap(m_retired);
    for (CShockwaveflash1* p : retired) {
        p->DestroyWindow();
        delete p;
    }
}

LRESULT CFlashPlayerWnd::OnFlashRetire(WPARAM wParam, LPARAM lParam) {
    (void)wParam;
    (void)lParam;
    // A nested message loop (a modal dialog inside an event) may bring this early; the outermost
    // event posts it again when it returns.
    if (m_nEventDepth == 0)
        DeleteRetired();
    return 0;
}

void CFlashPlayerWnd::OnControlEvent(UINT nID, long dispid, LPCSTR pszArg) {
    if (nID != kFlashControlId || dispid != DISPID_FLASH_FLASHCALL)
        return;
    ++m_nEventDepth;
    OnFlashCall(pszArg);
    --m_nEventDepth;
    if (m_nEventDepth == 0 && !m_retired.empty())
        PostMessage(WM_FLASH_RETIRE, 0, 0);
}

void CFlashPlayerWnd::OnFlashCall(LPCSTR request) {
    CString name;
    std::vector<CString> args;
    if (!ParseFlashInvoke(request ? request : "", name, args))
        return;
    if (name == "C_ShiftPath") {
        if (!args.empty())
            ReplyShiftPath(args[0]);
    } else if (name == "C_GetOpenMag") {
        SetFlashVars();
        OpenMag();
    } else if (name == "C_UserPriceBuy") {
        UserPriceBuy();
    } else if (name == "JS_closeWin") {
        g_pMainDlg.SendEvent(EVT_CLOSE_FLASH, 0);
    } else if (name == "JS_subscribe") {
        ShellExecuteA(nullptr, "open", BuildSubscriptionUrl().GetString(), nullptr, nullptr, SW_SHOWNORMAL);
    } else if (name == "ShowLoginDlg") {
        ShowLoginDlg();
    }
}

void CFlashPlayerWnd::ShowLoginDlg() {
    // The reopen replaces the control whose event this is; it runs once the event has returned.
    PostMessage(WM_FLASH_LOGIN, m_bLocalItem, 0);
}

LRESULT CFlashPlayerWnd::OnFlashLogin(WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    if (g_pReaderHost) {
        g_pReaderHost->RunLoginDialog();
        g_pReaderHost->ReopenLastItem(wParam != 0 ? TRUE : FALSE);
    }
    return 0;
}

void CFlashPlayerWnd::ReplyShiftPath(CString path) {
    int slash = path.ReverseFind('/');
    CString last = slash >= 0 ? path.Mid(slash + 1) : path;
    CString answer = "<string>" + EscapeValue(m_strBase + last) + "</string>";
    if (m_pFlash)
        m_pFlash->SetReturnValue(answer);
}

void CFlashPlayerWnd::SetFlashVars() {
    // A reader without an account is known to the movie and to the store by the guest id, from now
    // on for the rest of the run. The user record keeps its empty id: saved, the guest id would
    // make the next start believe someone had logged in.
    if (g_UserInfo.userid.IsEmpty())
        m_strGuestUserId = kGuestUserId;
    CString userId = g_UserInfo.userid.IsEmpty() ? m_strGuestUserId : g_UserInfo.userid;
    CString encodedId;
    g_CommonFunc.EncodeBase64(m_strItemId.GetString(), encodedId);
    std::vector<CString> vars = {
        encodedId, "0", userId, "", "", "", m_strItemType, "0", "", "", "", "", g_nUserMode != 0 ? "1" : "0"};
    if (m_pFlash)
        m_pFlash->CallFunction(BuildFlashInvoke("F_SetFlashVars", vars));
}

void CFlashPlayerWnd::OpenMag() {
    if (m_pFlash)
        m_pFlash->CallFunction(BuildFlashInvoke("F_OpenMag", {m_strBase + m_strStartFile, m_strMovieParam}));
}

void CFlashPlayerWnd::UserPriceBuy() {
    const CString userId = g_UserInfo.userid.IsEmpty() ? m_strGuestUserId : g_UserInfo.userid;
    CString url =
        BuildPurchaseUrl(userId, g_UserInfo.password, m_strItemType, g_UserInfo.username, m_strItemId);
    CMyHttp http;
    CString reply;
    int result = http.GetUrl(url, nullptr, 0, "", reply);
    CString status = "0";
    CString message;
    if (result == MYHTTP_OK) {
        reply = g_CommonFunc.ConvertCodePage(reply, CP_UTF8, CP_ACP);
        if (reply == "exist") {
            status = "1";
            message = "\xD6\xA4\xC3\xF7\xD2\xD1\xBE\xAD\xB9\xBA\xC2\xF2\xB9\xFD"; // "证明已经购买过"
        } else if (reply == "1") {
            status = "1";
            message = "\xB9\xBA\xC2\xF2\xB3\xC9\xB9\xA6"; // "购买成功"
        } else if (reply == "lack") {
            message = "\xD3\xE0\xB6\xEE\xB2\xBB\xD7\xE3"; // "余额不足"
        } else if (reply == "error") {
            message = "\xB9\xBA\xC2\xF2\xCA\xA7\xB0\xDC"; // "购买失败"
        } else {
            message = reply;
        }
    } else {
        message = "\xCD\xF8\xC2\xE7\xC1\xAC\xBD\xD3\xB3\xF6\xB4\xED"; // "网络连接出错"
    }
    if (m_pFlash)
        m_pFlash->CallFunction(BuildFlashInvoke("F_ReUserBuyInfo", {status, message}));
}

void CFlashPlayerWnd::OnSetFocus(CWnd* pOldWnd) {
    CWnd::OnSetFocus(pOldWnd);
    if (m_pFlash && m_pFlash->GetSafeHwnd())
        m_pFlash->SetFocus();
}

BOOL CFlashPlayerWnd::PreTranslateMessage(MSG* pMsg) {
    if (pMsg->message == WM_KEYDOWN && pMsg->wParam == VK_ESCAPE) {
        g_pMainDlg.Send(WM_COMMAND, IDCANCEL, 0);
        return TRUE;
    }
    return CWnd::PreTranslateMessage(pMsg);
}

void CFlashPlayerWnd::OnSize(UINT nType, int cx, int cy) {
    CWnd::OnSize(nType, cx, cy);
    if (m_pFlash && m_pFlash->GetSafeHwnd())
        m_pFlash->MoveWindow(0, 0, cx, cy, TRUE);
}
