#include "net/StoreRequests.h"

#include "platform/kernel/CodePage.h"

#include <cstdlib>
#include <string>

namespace {

const char* const DEFAULT_STORE_HOST = "http://store.kestrin.example";

CString HostFromEnv(const char* pszName, const CString& strDefault) {
    const char* psz = std::getenv(pszName);
    std::string host = (psz != nullptr && *psz != '\0') ? std::string(psz) : std::string(strDefault);
    while (!host.empty() && host.back() == '/')
        host.pop_back();
    return CString(host.c_str());
}

std::string ToUtf8(const CString& strAnsi) {
    const char* p = strAnsi;
    int n = strAnsi.GetLength();
    if (n == 0)
        return std::string();
    bool ascii = true;
    for (int i = 0; i < n; ++i)
        if (static_cast<unsigned char>(p[i]) >= 0x80)
            ascii = false;
    if (ascii)
        return std::string(p, static_cast<size_t>(n));
    int nWide = MultiByteToWideChar(CP_ACP, 0, p, n, nullptr, 0);
    if (nWide <= 0)
        return std::string(p, static_cast<size_t>(n));
    std::u16string wide(static_cast<size_t>(nWide), u'\0');
    MultiByteToWideChar(CP_ACP, 0, p, n, wide.data(), nWide);
    int nOut = WideCharToMultiByte(CP_UTF8, 0, wide.data(), nWide, nullptr, 0, nullptr, nullptr);
    if (nOut <= 0)
        return std::string(p, static_cast<size_t>(n));
    std::string out(static_cast<size_t>(nOut), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), nWide, out.data(), nOut, nullptr, nullptr);
    return out;
}

} // namespace

CString GetStoreHost() {
    return HostFromEnv("KESTRIN_STORE", DEFAULT_STORE_HOST);
}

CString GetStoreWebHost() {
    return HostFromEnv("KESTRIN_WEB", GetStoreHost());
}

CString GetStoreApiBase() {
    return GetStoreHost() + "/touch/api/?vs=1";
}

CString EncodeQueryValue(CString strValue) {
    static const char hex[] = "0123456789ABCDEF";
    std::string in = ToUtf8(strValue);
    std::string out;
    out.reserve(in.size() * 3);
    for (unsigned char c : in) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
            c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return CString(out.c_str());
}

CString BuildItemRequestUrl(CString strType, CString strPid) {
    CString url;
    url.Format("%s&type=%s&pid=%s&source=%s", GetStoreApiBase(), EncodeQueryValue(strType),
               EncodeQueryValue(strPid), "");
    return url;
}

CString BuildSortClassUrl(CString strClass) {
    CString url;
    if (strClass == "book")
        url.Format("%s&act=sortClass&class=book&source=%s", GetStoreApiBase(), "");
    else
        url.Format("%s&act=sortClass&class=mag&source=%s", GetStoreApiBase(), "");
    return url;
}

CString BuildUpdateXmlUrl() {
    return GetStoreHost() + "/touch/update.xml";
}

CString BuildPurchaseUrl(CString strUid, CString strPassword, CString strType, CString strUserName,
                         CString strPid) {
    CString base = GetStoreHost() + "/touch/system/index.php/index/magBuy/?vs=1";
    CString url;
    url.Format("%s&uid=%s&pwd=%s&type=%s&act=client&username=%s&pid=%s&source=%s", base,
               EncodeQueryValue(strUid), EncodeQueryValue(strPassword), EncodeQueryValue(strType),
               EncodeQueryValue(strUserName), EncodeQueryValue(strPid), "");
    return url;
}

CString BuildStorePageUrl(int nUserMode, BOOL bBook, CString strUserName, CString strPassword) {
    const char* pszPath;
    if (nUserMode == 1)
        pszPath = bBook ? "/enter/velkor/" : "/enter/magazine/";
    else
        pszPath = bBook ? "/touch/book/" : "/touch/magazine/";
    CString url;
    url.Format("%s%s?vs=1&user=%s&pass=%s&source=%s", GetStoreHost(), pszPath, EncodeQueryValue(strUserName),
               EncodeQueryValue(strPassword), "");
    return url;
}

CString BuildOnlineReadUrl(CString strType, CString strPid) {
    CString url;
    url.Format("%s%s?vs=1&pid=%s", GetStoreHost(),
               strType == "book" ? "/touch/read/book/" : "/touch/read/mag/", EncodeQueryValue(strPid));
    return url;
}

CString BuildSubscriptionUrl() {
    return GetStoreWebHost() + "/magazine/digi_subscription.php?oemname=tavonel&vs=5";
}
