#include "platform/web/WebKitBrowser.h"

#include "platform/gtk/GtkPresenter.h"
#include "platform/kernel/CodePage.h"
#include "platform/kernel/Module.h"
#include "platform/user/WinUser.h"
#include "platform/web/GpuCheck.h"
#include "platform/web/NavigationPolicy.h"
#include "platform/web/WebBridge.h"

#include <webkit2/webkit2.h>

#include <cstdio>
#include <filesystem>

namespace afxweb {

namespace {

std::string g_extensionFolder = AfxProgramCompanionFolder(kWebExtensionFolderName);

WebKitWebContext* SharedContext() {
    static WebKitWebContext* context = [] {
        CWebBridge& bridge = CWebBridge::Instance();
        // Without the extension no page reaches the program (no window.external): said once,
        // where the user sees it, since the pages themselves only fail quietly.
        std::error_code ec;
        if (!std::filesystem::is_directory(g_extensionFolder, ec))
            std::fprintf(stderr, "kestrin: no browser extension in %s: the pages cannot call the program\n",
                         g_extensionFolder.c_str());
        WebKitWebContext* c = webkit_web_context_new();
        webkit_web_context_set_cache_model(c, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
        webkit_web_context_set_web_extensions_directory(c, g_extensionFolder.c_str());
        webkit_web_context_set_web_extensions_initialization_user_data(
            c, g_variant_new("(ss)", bridge.SocketPath().c_str(), bridge.Token().c_str()));
        return c;
    }();
    return context;
}

CString Ansi(const char* utf8) {
    return CString(AfxUtf8ToAnsi(utf8 ? utf8 : ""));
}
std::string Utf8(const CString& ansi) {
    return AfxAnsiToUtf8(ansi.str());
}

} // namespace

void SetWebExtensionFolder(const std::string& folder) {
    g_extensionFolder = folder;
}

std::string WebExtensionFolder() {
    return g_extensionFolder;
}

struct CWebKitBrowser::Impl : IPageEndpoint {
    HWND hChild = nullptr;
    WebKitWebView* view = nullptr;
    IBrowserEvents* events = nullptr;
    uint64_t page = 0;
    bool hasDocument = false;
    bool failed = false;
    std::vector<std::string> scriptErrors;

    void Bind() {
        uint64_t id = webkit_web_view_get_page_id(view);
        if (id == page)
            return;
        if (page)
            CWebBridge::Instance().Detach(page);
        page = id;
        CWebBridge::Instance().Attach(page, this);
    }

    bool TrustFrame(const std::string& url, bool mainFrame, std::vector<std::string>& methods) override {
        if (!events || !events->IsTrustedUrl(Ansi(url.c_str()), mainFrame))
            return false;
        for (const auto& m : events->ExternalMethods())
            methods.push_back(Utf8(m));
        return true;
    }
    std::string OnCall(const std::string& method, const std::vector<std::string>& args, char* type) override {
        if (!events)
            return "";
        std::vector<CString> a;
        for (const auto& s : args)
            a.push_back(Ansi(s.c_str()));
        ExternalResult r = events->OnExternalCall(Ansi(method.c_str()), a);
        *type = r.kind == ExternalResult::Boolean ? 'b' : r.kind == ExternalResult::Number ? 'n' : 's';
        return Utf8(r.text);
    }
    bool OnDialog(bool confirm, const std::string& text) override {
        if (!events)
            return false;
        return events->OnShowMessage(Ansi(text.c_str()), confirm ? MB_OKCANCEL : MB_OK) == IDOK;
    }

    bool RequestLimit(const std::string& url, std::vector<std::string>& allowed) override {
        std::vector<CString> a;
        if (!events || !events->RequestLimit(Ansi(url.c_str()), a))
            return false;
        for (const auto& s : a)
            allowed.push_back(Utf8(s));
        return true;
    }

    void OnScriptError(const std::string& text) override { scriptErrors.push_back(text); }

    void Failed(const char* uri) {
        failed = true;
        if (events)
            events->OnNavigateError(Ansi(uri));
    }

    static gboolean OnContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*,
                                  gpointer) {
        return TRUE;
    }
    static GtkWidget* OnCreate(WebKitWebView*, WebKitNavigationAction*, gpointer) { return nullptr; }
    static gboolean OnScriptDialog(WebKitWebView*, WebKitScriptDialog*, gpointer) {
        // alert and confirm come over the bridge; whatever else a page asks (prompt, leaving the
        // page) is answered with its default and shown nowhere.
        return TRUE;
    }
    static gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* d, WebKitPolicyDecisionType type,
                                   gpointer self) {
        auto* m = static_cast<Impl*>(self);
        switch (type) {
        case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION: {
            auto* nav = WEBKIT_NAVIGATION_POLICY_DECISION(d);
            WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(nav);
            WebKitURIRequest* req = webkit_navigation_action_get_request(action);
            const char* frame = webkit_navigation_action_get_frame_name(action);
            bool main = frame == nullptr || *frame == '\0';
            if (main && m->events && !m->events->OnBeforeNavigate(Ansi(webkit_uri_request_get_uri(req)))) {
                webkit_policy_decision_ignore(d);
                return TRUE;
            }
            return FALSE;
        }
        case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION:
            webkit_policy_decision_ignore(d);
            return TRUE;
        case WEBKIT_POLICY_DECISION_TYPE_RESPONSE: {
            auto* r = WEBKIT_RESPONSE_POLICY_DECISION(d);
            if (!webkit_response_policy_decision_is_main_frame_main_resource(r))
                return FALSE;
            WebKitURIResponse* resp = webkit_response_policy_decision_get_response(r);
            FailedLoad f{LoadFailure::HttpStatus, true,
                         static_cast<int>(webkit_uri_response_get_status_code(resp))};
            if (IsNavigationError(f)) {
                std::string uri = webkit_uri_response_get_uri(resp);
                webkit_policy_decision_ignore(d);
                m->Failed(uri.c_str());
                return TRUE;
            }
            if (!webkit_response_policy_decision_is_mime_type_supported(r)) {
                webkit_policy_decision_ignore(d);
                return TRUE;
            }
            return FALSE;
        }
        default:
            return FALSE;
        }
    }
    static gboolean OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer self) {
        FailedLoad f;
        if (g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED))
            f.kind = LoadFailure::Cancelled;
        else if (g_error_matches(error, WEBKIT_POLICY_ERROR,
                                 WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE))
            f.kind = LoadFailure::PolicyChange;
        if (IsNavigationError(f))
            static_cast<Impl*>(self)->Failed(uri);
        // WebKit's own error page never shows.
        return TRUE;
    }
    static void OnLoadChanged(WebKitWebView* v, WebKitLoadEvent event, gpointer self) {
        auto* m = static_cast<Impl*>(self);
        if (event == WEBKIT_LOAD_STARTED) {
            m->hasDocument = false;
            m->failed = false;
        } else if (event == WEBKIT_LOAD_COMMITTED) {
            m->Bind();
        } else if (event == WEBKIT_LOAD_FINISHED && !m->failed) {
            m->hasDocument = true;
            if (m->events)
                m->events->OnDocumentComplete(Ansi(webkit_web_view_get_uri(v)));
        }
    }
    static void OnTerminated(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer self) {
        auto* m = static_cast<Impl*>(self);
        m->hasDocument = false;
        if (m->events)
            m->events->OnProcessGone();
    }
};

std::unique_ptr<CWebKitBrowser> CreateWebKitBrowser(HWND hChild) {
    afxgtk::CGtkPresenter* presenter = afxgtk::CGtkPresenter::Installed();
    if (!presenter || !CWebBridge::Instance().Started())
        return nullptr;
    WebKitSettings* settings = webkit_settings_new();
    webkit_settings_set_default_charset(settings, "GBK");
    webkit_settings_set_enable_developer_extras(settings, FALSE);
    webkit_settings_set_javascript_can_open_windows_automatically(settings, FALSE);
    webkit_settings_set_enable_write_console_messages_to_stdout(settings, FALSE);
    if (!MachineHasRenderNode())
        webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    auto* view = WEBKIT_WEB_VIEW(
        g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", SharedContext(), "settings", settings, nullptr));
    g_object_unref(settings);
    g_object_ref_sink(view);
    if (!presenter->AttachWidget(hChild, GTK_WIDGET(view))) {
        g_object_unref(view);
        return nullptr;
    }
    std::unique_ptr<CWebKitBrowser> b(new CWebKitBrowser);
    CWebKitBrowser::Impl* m = b->m.get();
    using Impl = CWebKitBrowser::Impl;
    m->hChild = hChild;
    m->view = view;
    g_signal_connect(view, "context-menu", G_CALLBACK(Impl::OnContextMenu), m);
    g_signal_connect(view, "create", G_CALLBACK(Impl::OnCreate), m);
    g_signal_connect(view, "script-dialog", G_CALLBACK(Impl::OnScriptDialog), m);
    g_signal_connect(view, "decide-policy", G_CALLBACK(Impl::OnDecidePolicy), m);
    g_signal_connect(view, "load-failed", G_CALLBACK(Impl::OnLoadFailed), m);
    g_signal_connect(view, "load-changed", G_CALLBACK(Impl::OnLoadChanged), m);
    g_signal_connect(view, "web-process-terminated", G_CALLBACK(Impl::OnTerminated), m);
    m->Bind();
    gtk_widget_show(GTK_WIDGET(view));
    return b;
}

CWebKitBrowser::CWebKitBrowser() : m(std::make_unique<Impl>()) {}

CWebKitBrowser::~CWebKitBrowser() {
    if (m->page)
        CWebBridge::Instance().Detach(m->page);
    g_signal_handlers_disconnect_by_data(m->view, m.get());
    if (auto* p = afxgtk::CGtkPresenter::Installed())
        p->DetachWidget(m->hChild);
    gtk_widget_destroy(GTK_WIDGET(m->view));
    g_object_unref(m->view);
}

void CWebKitBrowser::SetEvents(IBrowserEvents* events) {
    m->events = events;
}

void CWebKitBrowser::Navigate2(const CString& url) {
    std::string u = NavigationUrl(Utf8(url));
    if (u.empty())
        return;
    webkit_web_view_load_uri(m->view, u.c_str());
}

void CWebKitBrowser::LoadHtml(const CString& html, const CString& baseUrl) {
    webkit_web_view_load_html(m->view, Utf8(html).c_str(),
                              baseUrl.IsEmpty() ? nullptr : Utf8(baseUrl).c_str());
}

void CWebKitBrowser::Reload() {
    webkit_web_view_reload(m->view);
}

bool CWebKitBrowser::HasDocument() const {
    return m->hasDocument;
}

CString CWebKitBrowser::LocationUrl() const {
    return Ansi(webkit_web_view_get_uri(m->view));
}

bool CWebKitBrowser::InvokeScript(const CString& function, const std::vector<CString>& args,
                                  CString* result) {
    std::vector<std::string> a;
    for (const auto& s : args)
        a.push_back(Utf8(s));
    std::string r;
    m->Bind();
    bool timedOut = false;
    if (!CWebBridge::Instance().Invoke(m->page, Utf8(function), a, &r, &timedOut)) {
        // A page that never answers holds its web process; ending it lets the view recover the
        // way it does from a crash.
        if (timedOut)
            webkit_web_view_terminate_web_process(m->view);
        return false;
    }
    if (result)
        *result = Ansi(r.c_str());
    return true;
}

bool CWebKitBrowser::PressKey(UINT nVirtKey) {
    // The keys the program presses for the user; others have no use yet.
    guint keyval = 0;
    switch (nVirtKey) {
    case VK_RETURN:
        keyval = GDK_KEY_Return;
        break;
    default:
        return false;
    }
    GtkWidget* widget = GTK_WIDGET(m->view);
    GdkWindow* window = gtk_widget_get_window(widget);
    if (!m->hasDocument || !window)
        return false;
    GdkDisplay* display = gdk_window_get_display(window);
    GdkDevice* keyboard = gdk_seat_get_keyboard(gdk_display_get_default_seat(display));
    guint16 keycode = 0;
    guint8 group = 0;
    GdkKeymapKey* keys = nullptr;
    gint nKeys = 0;
    if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(display), keyval, &keys, &nKeys) &&
        nKeys > 0) {
        keycode = static_cast<guint16>(keys[0].keycode);
        group = static_cast<guint8>(keys[0].group);
    }
    g_free(keys);
    // The engine delivers keys to the page that has the keyboard, as a click would give it.
    gtk_widget_grab_focus(widget);
    for (GdkEventType type : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
        GdkEvent* e = gdk_event_new(type);
        e->key.window = GDK_WINDOW(g_object_ref(window));
        e->key.send_event = TRUE;
        e->key.time = GDK_CURRENT_TIME;
        e->key.state = 0;
        e->key.keyval = keyval;
        e->key.hardware_keycode = keycode;
        e->key.group = group;
        if (keyboard)
            gdk_event_set_device(e, keyboard);
        gtk_widget_event(widget, e);
        gdk_event_free(e);
    }
    return true;
}

GtkWidget* CWebKitBrowser::Widget() const {
    return GTK_WIDGET(m->view);
}

std::vector<std::string> CWebKitBrowser::ScriptErrors() const {
    return m->scriptErrors;
}

int CWebKitBrowser::WebProcessId() const {
    return CWebBridge::Instance().PagePid(m->page);
}

} // namespace afxweb
