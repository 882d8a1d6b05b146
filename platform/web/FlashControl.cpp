#include "platform/web/FlashControl.h"

#include "platform/kernel/CodePage.h"
#include "platform/kernel/FileSys.h"
#include "platform/user/WinUser.h"
#include "platform/web/NavigationPolicy.h"

namespace afxweb {

namespace {

// The player page asks its host for calls out through `window.hostFlashCall`; ours arrive at
// `window.external`, so the page is given the link once it is shown.
const char kHostLink[] =
    "window.hostFlashCall = function(request) { return window.external.FlashCall(request); };";

bool SamePage(const CString& url, const CString& page) {
    std::string u = url.str(), p = page.str();
    if (p.empty() || u.compare(0, p.size(), p) != 0)
        return false;
    return u.size() == p.size() || u[p.size()] == '?' || u[p.size()] == '#';
}

// The player fetches the movie by URL; the program names it by a path of its Windows form.
CString MovieUrl(const CString& s) {
    if (s.IsEmpty() || s.Find("://") >= 0)
        return s;
    std::string path;
    if (!AfxMapPath(s.GetString(), path))
        return s;
    return CString(AfxUtf8ToAnsi(NavigationUrl(path)));
}

} // namespace

CFlashControl::CFlashControl(std::unique_ptr<IBrowserControl> browser, CString playerPage)
    : m_browser(std::move(browser)), m_playerPage(std::move(playerPage)) {
    if (m_browser)
        m_browser->SetEvents(this);
}

CFlashControl::~CFlashControl() {
    if (m_browser)
        m_browser->SetEvents(nullptr);
}

void CFlashControl::LoadMovie(long layer, const CString& address) {
    if (layer != 0 || !m_browser)
        return;
    m_movie = MovieUrl(address);
    if (m_pageShown)
        StartMovie();
    else
        m_browser->Navigate2(m_playerPage);
}

void CFlashControl::StartMovie() {
    if (m_movie.IsEmpty())
        return;
    m_browser->InvokeScript("eval", {CString(kHostLink)}, nullptr);
    m_browser->InvokeScript("playerLoadMovie", {m_movie}, nullptr);
}

void CFlashControl::SetProperty(const CString& name, const CString& value) {
    for (auto& p : m_properties)
        if (p.first == name) {
            p.second = value;
            return;
        }
    m_properties.emplace_back(name, value);
}

CString CFlashControl::GetProperty(const CString& name) const {
    for (const auto& p : m_properties)
        if (p.first == name)
            return p.second;
    return CString();
}

CString CFlashControl::CallFunction(const CString& request) {
    CString result;
    if (!m_browser || !m_pageShown || !m_browser->InvokeScript("playerCallFunction", {request}, &result))
        return CString();
    return result;
}

bool CFlashControl::PressKey(UINT nVirtKey) {
    return m_browser && m_pageShown && m_browser->PressKey(nVirtKey);
}

bool CFlashControl::IsTrustedUrl(const CString& url, bool mainFrame) {
    return mainFrame && SamePage(url, m_playerPage);
}

std::vector<CString> CFlashControl::ExternalMethods() {
    return {CString("FlashCall")};
}

ExternalResult CFlashControl::OnExternalCall(const CString& method, const std::vector<CString>& args) {
    if (method != "FlashCall" || !m_handler)
        return ExternalResult();
    // Copied: the handler may replace this control's movie, and with it the handler itself.
    FlashCallHandler handler = m_handler;
    return ExternalResult(handler(args.empty() ? CString() : args[0]));
}

int CFlashControl::OnShowMessage(const CString& text, UINT type) {
    (void)text;
    // A movie's own dialogs are not shown; a confirm is refused.
    return (type & MB_OKCANCEL) ? IDCANCEL : IDOK;
}

bool CFlashControl::OnBeforeNavigate(const CString& url) {
    // The view shows the player page and nothing else; a movie's links go nowhere.
    return SamePage(url, m_playerPage);
}

void CFlashControl::OnDocumentComplete(const CString& url) {
    m_pageShown = SamePage(url, m_playerPage);
    if (m_pageShown)
        StartMovie();
}

} // namespace afxweb
