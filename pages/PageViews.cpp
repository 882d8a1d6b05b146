#include "pages/PageViews.h"

#include "foundation/AppPathInfo.h"
#include "foundation/CommonFunc.h"
#include "library/UserInfo.h"
#include "net/StoreRequests.h"

namespace pageviews {

bool IsStoreUrl(const CString& strUrl) {
    const std::string host = GetStoreHost().str();
    const std::string& url = strUrl.str();
    if (host.empty() || url.compare(0, host.size(), host) != 0)
        return false;
    return url.size() == host.size() || url[host.size()] == '/' || url[host.size()] == '?';
}

bool IsItemToken(const CString& strText) {
    const std::string& s = strText.str();
    if (s.empty() || s.size() > 64)
        return false;
    for (unsigned char c : s)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
              c == '-'))
            return false;
    return true;
}

BOOL UpdateLoginRecord(LPCSTR userid, LPCSTR username, LPCSTR password, LPCSTR vip, LPCSTR money,
                       LPCSTR autologin) {
    if (!*userid || !*username || !*password)
        return FALSE;
    CString encoded;
    g_CommonFunc.EncodeBase64Alt(username, encoded);
    g_UserInfo.userid = userid;
    g_UserInfo.username = encoded;
    g_UserInfo.password = password;
    g_UserInfo.vip = vip;
    g_UserInfo.money = money;
    g_UserInfo.autologin = autologin;
    if (CString(autologin) == "1")
        g_UserInfo.Save(g_AppPathInfo.m_strUserXml);
    return TRUE;
}

LRESULT SendInfoEvent(WPARAM code, LPCSTR first, LPCSTR second, LPCSTR third) {
    CMsgInfo info;
    info.m_strParam1 = first;
    info.m_strParam2 = second;
    info.m_strParam3 = third;
    return g_pMainDlg.SendEvent(code, reinterpret_cast<LPARAM>(&info));
}

} // namespace pageviews
