#include "platform/web/FakeBrowser.h"

#include "platform/user/WinUser.h"
#include "platform/web/NavigationPolicy.h"

#include <algorithm>

namespace afxweb {

void CFakeBrowser::Navigate2(const CString& url) {
    std::string u = NavigationUrl(url.str());
    if (u.empty())
        return;
    m_navigations.push_back(CString(u));
    if (m_events && !m_events->OnBeforeNavigate(CString(u)))
        return;
    auto it = m_pages.find(u);
    m_hasDocument = false;
    m_page = nullptr;
    m_html = CString();
    if (it == m_pages.end()) {
        if (m_events)
            m_events->OnNavigateError(CString(u));
        return;
    }
    m_location = CString(u);
    m_page = &it->second;
    m_trusted = m_events && m_events->IsTrustedUrl(m_location, true);
    m_hasDocument = true;
    if (m_events)
        m_events->OnDocumentComplete(m_location);
}

void CFakeBrowser::LoadHtml(const CString& html, const CString& baseUrl) {
    m_page = nullptr;
    m_html = html;
    m_location = baseUrl;
    m_trusted = m_events && m_events->IsTrustedUrl(m_location, true);
    m_hasDocument = true;
    if (m_events)
        m_events->OnDocumentComplete(m_location);
}

void CFakeBrowser::Reload() {
    if (!m_location.IsEmpty() && m_html.IsEmpty())
        Navigate2(m_location);
}

bool CFakeBrowser::InvokeScript(const CString& function, const std::vector<CString>& args, CString* result) {
    m_invocations.push_back(function.str());
    if (!m_hasDocument || !m_page)
        return false;
    auto it = m_page->find(function.str());
    if (it == m_page->end())
        return false;
    CString r = it->second(*this, args);
    if (result)
        *result = r;
    return true;
}

bool CFakeBrowser::CallExternal(const CString& method, const std::vector<CString>& args, CString* result) {
    if (!m_events || !m_trusted)
        return false;
    auto methods = m_events->ExternalMethods();
    if (std::find(methods.begin(), methods.end(), method) == methods.end())
        return false;
    ExternalResult r = m_events->OnExternalCall(method, args);
    if (result)
        *result = r.text;
    return true;
}

void CFakeBrowser::Alert(const CString& text) {
    if (m_events)
        m_events->OnShowMessage(text, MB_OK);
}

bool CFakeBrowser::Confirm(const CString& text) {
    return m_events && m_events->OnShowMessage(text, MB_OKCANCEL) == IDOK;
}

bool CFakeBrowser::PressKey(UINT nVirtKey) {
    if (!m_hasDocument)
        return false;
    m_keys.push_back(nVirtKey);
    return true;
}

} // namespace afxweb
