// The browser control on WebKitGTK: a web view placed over a child window of ours through the
// GTK presenter, in the program's one web context, whose web processes load our extension and
// talk to the program over the script bridge (WebBridge.h).
//
// User-interface thread only, with the GTK presenter installed. What the user sees follows the
// host's policy: no context menu, no developer tools, no windows opened by pages, script errors
// kept silent, pages without a charset read as GBK, page dialogs as the program's message boxes.
#pragma once

#include "platform/user/WinUser.h"
#include "platform/web/BrowserControl.h"

#include <memory>
#include <string>
#include <vector>

typedef struct _GtkWidget GtkWidget;

namespace afxweb {

class CWebKitBrowser;

// Creates the control over hChild; null when hChild is no child window the presenter shows or
// the bridge could not start.
std::unique_ptr<CWebKitBrowser> CreateWebKitBrowser(HWND hChild);

// The folder of the web-process extension goes with the program under this name (beside its
// file; AfxProgramCompanionFolder).
inline constexpr char kWebExtensionFolderName[] = "webext";
// Where the web-process extension is loaded from: by default the program's own folder of that
// name; to be set before the first control is made.
void SetWebExtensionFolder(const std::string& folder);
std::string WebExtensionFolder();

class CWebKitBrowser : public IBrowserControl {
public:
    ~CWebKitBrowser() override;

    void SetEvents(IBrowserEvents* events) override;
    void Navigate2(const CString& url) override;
    void LoadHtml(const CString& html, const CString& baseUrl) override;
    void Reload() override;
    bool HasDocument() const override;
    CString LocationUrl() const override;
    bool InvokeScript(const CString& function, const std::vector<CString>& args, CString* result) override;
    // The key goes to the view as the toolkit's own key events, which the engine hands to the
    // page as real ones. The program's window gets no say: the presenter is not asked.
    bool PressKey(UINT nVirtKey) override;

    GtkWidget* Widget() const;
    // The web process that serves the page now (0 before it has spoken), for tests of its death.
    int WebProcessId() const;
    // The script errors and console errors of this view's pages so far, oldest first, each with
    // where it arose: kept from the user, but there for tests and diagnosis.
    std::vector<std::string> ScriptErrors() const;

    struct Impl;
    CWebKitBrowser();

private:
    friend std::unique_ptr<CWebKitBrowser> CreateWebKitBrowser(HWND hChild);
    std::unique_ptr<Impl> m;
};

} // namespace afxweb
