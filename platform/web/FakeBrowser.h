// A headless browser control for the page views' unit tests: pages are tables of script
// functions the test writes in C++, registered by URL. A navigation asks the view, then shows the
// registered page (its document complete at once) or fails as a network error would. The test
// plays the page: CallExternal is a `window.external` call (only in a trusted page, only for a
// method the view offers), Alert and Confirm the page's dialogs. Page functions may call back
// into the view, so re-entrant chains run as they do on the engine.
//
// One thread, no display. It keeps the calls the view made for the test to look at.
#pragma once

#include "platform/web/BrowserControl.h"

#include <functional>
#include <map>
#include <string>

namespace afxweb {

class CFakeBrowser : public IBrowserControl {
public:
    using Function = std::function<CString(CFakeBrowser& page, const std::vector<CString>& args)>;
    using Page = std::map<std::string, Function>;

    void AddPage(const CString& url, Page functions) { m_pages[url.str()] = std::move(functions); }

    // IBrowserControl
    void SetEvents(IBrowserEvents* events) override { m_events = events; }
    void Navigate2(const CString& url) override;
    void LoadHtml(const CString& html, const CString& baseUrl) override;
    void Reload() override;
    bool HasDocument() const override { return m_hasDocument; }
    CString LocationUrl() const override { return m_location; }
    bool InvokeScript(const CString& function, const std::vector<CString>& args, CString* result) override;
    // Kept in Keys() while a document is shown.
    bool PressKey(UINT nVirtKey) override;

    // The page's side.
    // A `window.external` call; false (and "") when the page has no such method.
    bool CallExternal(const CString& method, const std::vector<CString>& args, CString* result = nullptr);
    void Alert(const CString& text);
    bool Confirm(const CString& text);

    // What the view did.
    const std::vector<CString>& Navigations() const { return m_navigations; }
    const std::vector<std::string>& Invocations() const { return m_invocations; }
    const CString& LoadedHtml() const { return m_html; }
    const std::vector<UINT>& Keys() const { return m_keys; }

private:
    IBrowserEvents* m_events = nullptr;
    std::map<std::string, Page> m_pages;
    const Page* m_page = nullptr;
    CString m_location;
    CString m_html;
    bool m_hasDocument = false;
    bool m_trusted = false;
    std::vector<CString> m_navigations;
    std::vector<std::string> m_invocations;
    std::vector<UINT> m_keys;
};

} // namespace afxweb
