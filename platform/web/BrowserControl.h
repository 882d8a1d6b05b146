// The browser control a page view hosts, as the views see it: navigate, know whether a document
// is there, call page functions by name, and hear of the page's `window.external` calls, its
// message boxes, its navigations and their failures. Two implementations: the WebKit one over a
// child window (WebKitBrowser.h) and a headless fake for the views' unit tests (FakeBrowser.h).
//
// User-interface thread only. Strings are in the ANSI code page. InvokeScript and the events may
// nest: a page function the program calls may call `window.external` methods, whose handlers may
// call page functions again, of this or another view.
#pragma once

#include "platform/base/AfxStr.h"
#include "platform/base/Win32Types.h"

#include <string>
#include <vector>

namespace afxweb {

// What a `window.external` method gives back to the page: text, a Boolean or a number.
struct ExternalResult {
    enum Kind { String, Boolean, Number };
    ExternalResult() = default;
    ExternalResult(const CString& s) : text(s) {}
    ExternalResult(const char* s) : text(s) {}
    static ExternalResult Bool(bool b) {
        ExternalResult r(b ? "1" : "0");
        r.kind = Boolean;
        return r;
    }
    static ExternalResult Long(long n) {
        ExternalResult r(CString(std::to_string(n)));
        r.kind = Number;
        return r;
    }
    CString text;
    Kind kind = String;
};

class IBrowserEvents {
public:
    virtual ~IBrowserEvents() = default;
    // Whether a frame showing url may call the program (has `window.external`).
    virtual bool IsTrustedUrl(const CString& url, bool mainFrame) = 0;
    // The methods `window.external` offers in a trusted frame.
    virtual std::vector<CString> ExternalMethods() = 0;
    virtual ExternalResult OnExternalCall(const CString& method, const std::vector<CString>& args) = 0;
    // Whether the page showing url may make only some requests (its own document, pictures,
    // scripts, XMLHttpRequest and fetch, frames), and which: each entry is a method ("*" for any)
    // and a URL after one blank; a URL ending in "*" stands for every URL it starts. Requests for
    // data:, blob: and about: are never limited. False: no limit.
    virtual bool RequestLimit(const CString& url, std::vector<CString>& allowed) {
        (void)url;
        (void)allowed;
        return false;
    }
    // A page's alert (MB_OK) or confirm (MB_OKCANCEL); IDOK confirms.
    virtual int OnShowMessage(const CString& text, UINT type) = 0;
    // A main-frame navigation about to start; false refuses it.
    virtual bool OnBeforeNavigate(const CString& url) {
        (void)url;
        return true;
    }
    // A main-frame load failed (see NavigationPolicy.h for which failures count).
    virtual void OnNavigateError(const CString& url) { (void)url; }
    virtual void OnDocumentComplete(const CString& url) { (void)url; }
    // The page's web process has gone; every call waiting on it has already failed.
    virtual void OnProcessGone() {}
};

class IBrowserControl {
public:
    virtual ~IBrowserControl() = default;
    virtual void SetEvents(IBrowserEvents* events) = 0;
    // A URL, or a local path (made a file URL); an empty one does nothing.
    virtual void Navigate2(const CString& url) = 0;
    // Shows html in place of the document, with baseUrl as its address.
    virtual void LoadHtml(const CString& html, const CString& baseUrl) = 0;
    virtual void Reload() = 0;
    // Whether the current document has loaded (the gate of InvokeScript).
    virtual bool HasDocument() const = 0;
    virtual CString LocationUrl() const = 0;
    // Runs the page's global function with string arguments to its end. False when there is no
    // document yet, the page lacks the function, it throws or its web process fails.
    virtual bool InvokeScript(const CString& function, const std::vector<CString>& args, CString* result) = 0;
    // Presses and releases a key (a virtual-key code) in the page, as the keyboard would: the
    // page's focused element gets the key events as real ones. False when the control cannot
    // take keys (no document shown, or a key it does not know).
    virtual bool PressKey(UINT nVirtKey) {
        (void)nVirtKey;
        return false;
    }
};

} // namespace afxweb
