// The stand-in for the Shockwave Flash control: a browser control showing the player page, which
// plays the movie and carries its ExternalInterface calls as XML. The movie's calls out reach the
// host through the page's `window.external.FlashCall`, synchronously, and the host's answer is
// what the call returns in the movie; the host's calls in go to the page's `playerCallFunction`.
// The control keeps no XML knowledge of its own: requests and answers pass through unchanged.
//
// User-interface thread only. Calls nest as the browser's do: the host may call into the movie
// from inside a FlashCall, and the movie may call out again before that call returns.
#pragma once

#include "platform/web/BrowserControl.h"

#include <functional>
#include <memory>

namespace afxweb {

class CFlashControl : public IBrowserEvents {
public:
    // The handler of a call out: the request XML in, the answer XML ("" for none) out.
    using FlashCallHandler = std::function<CString(const CString& request)>;

    // playerPage is the player page's address; only it (and its own queries) may call the host.
    CFlashControl(std::unique_ptr<IBrowserControl> browser, CString playerPage);
    ~CFlashControl() override;

    void SetFlashCallHandler(FlashCallHandler handler) { m_handler = std::move(handler); }

    // Starts the movie at address: once the player page is shown, or at once when it already is.
    // Layers other than 0 are not played.
    void LoadMovie(long layer, const CString& address);
    // The player's settings; the player page is made for "transparent", "high" and "always", the
    // only values the program uses, so they are kept for inspection only.
    void SetProperty(const CString& name, const CString& value);
    CString GetProperty(const CString& name) const;
    // The movie function's answer XML; "" when the movie has no such function or is not playing.
    CString CallFunction(const CString& request);
    // A key the control's window got, pressed in the player page, where the movie hears it;
    // false while the page is not shown.
    bool PressKey(UINT nVirtKey);

    IBrowserControl* Browser() const { return m_browser.get(); }
    const CString& Movie() const { return m_movie; }

    // IBrowserEvents
    bool IsTrustedUrl(const CString& url, bool mainFrame) override;
    std::vector<CString> ExternalMethods() override;
    ExternalResult OnExternalCall(const CString& method, const std::vector<CString>& args) override;
    int OnShowMessage(const CString& text, UINT type) override;
    bool OnBeforeNavigate(const CString& url) override;
    void OnDocumentComplete(const CString& url) override;

private:
    void StartMovie();

    std::unique_ptr<IBrowserControl> m_browser;
    CString m_playerPage;
    CString m_movie;
    bool m_pageShown = false;
    FlashCallHandler m_handler;
    std::vector<std::pair<CString, CString>> m_properties;
};

} // namespace afxweb
