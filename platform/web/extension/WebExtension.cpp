// The web-process side of the script bridge: a WebKit web extension loaded into every web
// process of the program's web context. It connects to the program's bridge socket (path and
// token in the initialisation data), asks the program for each new frame whether it is trusted
// and which methods its `window.external` has, and answers the program's calls of page
// functions. Everything runs on the web process's main thread.
//
// While a page call waits for the program's answer it serves the program's requests that belong
// to a running chain (non-zero parent); a request that starts a chain of its own waits until the
// page's top-level call has returned, so a page never sees an unrelated call in the middle of its
// own. alert and confirm go over the same socket, never through WebKit's own synchronous IPC,
// which would wait on a program that is itself waiting on us.
//
// A page tells the program when its main document is complete (its load event), and a new main
// document's first question says it is loading again. The program sends a call of its own only
// to a complete document, since a loading one may hold its process in the engine's own waits,
// where no call of ours is read; a call inside the page's own chain finds the page waiting on
// us, and needs only the page's document parsed.
//
// Before a request leaves, the program is asked once per document address whether that page's
// requests are limited; a request the limit does not allow is cancelled here, in the page's own
// process, so not even a cross-origin answer the server permits can reach the page.
#include "platform/web/BridgeWire.h"
#include "platform/web/RequestLimit.h"

#include <glib-unix.h>
#include <webkit2/webkit-web-extension.h>

#include <map>
#include <string>
#include <vector>

namespace {

using afxweb::wire::Frame;

struct Bridge {
    WebKitWebExtension* extension = nullptr;
    afxweb::wire::Channel channel;
    uint32_t counter = 0;
    // The ids of the program's requests being served now, innermost last.
    std::vector<uint64_t> serving;
    int waitDepth = 0;
    std::map<uint64_t, Frame> replies;
    std::vector<Frame> deferred;
    guint deferredSource = 0;
    // Pages whose current main-frame document has been parsed: the gate of calls inside the
    // page's own chain.
    std::map<uint64_t, bool> loaded;
    // Pages whose current main-frame document is complete: the gate of every other call.
    std::map<uint64_t, bool> complete;
    // Each page's request limit, for the document address it was given for.
    struct Limit {
        std::string uri;
        bool limited = false;
        std::vector<std::string> allowed;
    };
    std::map<uint64_t, Limit> limits;
};

Bridge* g_bridge = nullptr;

// nested: the request arrived while this process waited on the program inside the page's own
// chain of calls.
void Serve(const Frame& request, bool nested);

gboolean RunDeferred(gpointer) {
    g_bridge->deferredSource = 0;
    std::vector<Frame> todo;
    todo.swap(g_bridge->deferred);
    for (const auto& f : todo)
        Serve(f, false);
    // Frames read together with a reply that ended a wait: the socket has nothing more to say
    // about them, so its watch would not come back for them.
    while (g_bridge->channel.HasFrame()) {
        Frame f = g_bridge->channel.PopFrame();
        if (f.kind != afxweb::wire::kReply)
            Serve(f, false);
    }
    return G_SOURCE_REMOVE;
}

// Sends a request and waits for its answer, serving the program meanwhile. False when the
// program has gone.
bool Request(Frame request, Frame& reply) {
    Bridge& b = *g_bridge;
    request.id = afxweb::wire::MakeId(b.counter);
    request.parent = b.serving.empty() ? 0 : b.serving.back();
    if (!b.channel.Send(request))
        return false;
    ++b.waitDepth;
    bool ok = false;
    for (;;) {
        auto done = b.replies.find(request.id);
        if (done != b.replies.end()) {
            reply = std::move(done->second);
            b.replies.erase(done);
            ok = true;
            break;
        }
        if (b.channel.HasFrame()) {
            Frame f = b.channel.PopFrame();
            if (f.kind == afxweb::wire::kReply)
                b.replies[f.id] = std::move(f);
            else if (f.parent == 0)
                b.deferred.push_back(std::move(f));
            else
                Serve(f, true);
            continue;
        }
        if (!b.channel.Open())
            break;
        pollfd p{b.channel.Fd(), POLLIN, 0};
        if (poll(&p, 1, -1) < 0 && errno != EINTR)
            break;
        b.channel.Pump();
    }
    if (--b.waitDepth == 0 && (!b.deferred.empty() || b.channel.HasFrame()) && !b.deferredSource)
        b.deferredSource = g_idle_add(RunDeferred, nullptr);
    return ok;
}

std::string ArgText(JSCValue* v) {
    if (jsc_value_is_undefined(v) || jsc_value_is_null(v))
        return "";
    char* s = jsc_value_to_string(v);
    std::string r = s ? s : "";
    g_free(s);
    return r;
}

struct Method {
    std::string name;
    uint64_t page;
};

JSCValue* CallMethod(GPtrArray* args, gpointer data) {
    auto* m = static_cast<Method*>(data);
    Frame f;
    f.kind = afxweb::wire::kCall;
    f.page = m->page;
    f.fields.push_back(m->name);
    for (guint i = 0; i < args->len; ++i)
        f.fields.push_back(ArgText(static_cast<JSCValue*>(g_ptr_array_index(args, i))));
    Frame reply;
    JSCContext* ctx = jsc_context_get_current();
    if (!Request(std::move(f), reply))
        return jsc_value_new_string(ctx, "");
    // The program's BOOL results are Booleans to the page, as `if (external.C_Load(1))` expects.
    if (reply.Field(2) == "b")
        return jsc_value_new_boolean(ctx, reply.Field(1) == "1");
    if (reply.Field(2) == "n")
        return jsc_value_new_number(ctx, g_ascii_strtod(reply.Field(1).c_str(), nullptr));
    return jsc_value_new_string(ctx, reply.Field(1).c_str());
}

bool Dialog(uint64_t page, const char* kind, GPtrArray* args) {
    Frame f;
    f.kind = afxweb::wire::kDialog;
    f.page = page;
    f.fields = {kind, args->len ? ArgText(static_cast<JSCValue*>(g_ptr_array_index(args, 0))) : ""};
    Frame reply;
    return Request(std::move(f), reply) && reply.Field(0) == "1";
}

JSCValue* Alert(GPtrArray* args, gpointer data) {
    Dialog(reinterpret_cast<uintptr_t>(data), "alert", args);
    return jsc_value_new_undefined(jsc_context_get_current());
}

JSCValue* Confirm(GPtrArray* args, gpointer data) {
    bool yes = Dialog(reinterpret_cast<uintptr_t>(data), "confirm", args);
    return jsc_value_new_boolean(jsc_context_get_current(), yes);
}

void DefineFunction(JSCContext* ctx, JSCValue* on, const char* name, GCallback cb, gpointer data,
                    GDestroyNotify destroy) {
    JSCValue* fn = jsc_value_new_function_variadic(ctx, name, cb, data, destroy, JSC_TYPE_VALUE);
    jsc_value_object_set_property(on, name, fn);
    g_object_unref(fn);
}

// The main document's load event: the document is complete. Only the engine's own event counts
// (a page may dispatch a "load" of its own at any time).
JSCValue* OnLoadEvent(GPtrArray* args, gpointer data) {
    uint64_t pageId = reinterpret_cast<uintptr_t>(data);
    JSCContext* ctx = jsc_context_get_current();
    bool trusted = false;
    if (args->len && jsc_value_is_object(static_cast<JSCValue*>(g_ptr_array_index(args, 0)))) {
        JSCValue* isTrusted =
            jsc_value_object_get_property(static_cast<JSCValue*>(g_ptr_array_index(args, 0)), "isTrusted");
        trusted = jsc_value_to_boolean(isTrusted);
        g_object_unref(isTrusted);
    }
    if (trusted && !g_bridge->complete[pageId]) {
        g_bridge->complete[pageId] = true;
        Frame f;
        f.kind = afxweb::wire::kLoaded;
        f.page = pageId;
        g_bridge->channel.Send(f);
    }
    return jsc_value_new_undefined(ctx);
}

// Listens before any script of the page can: the window is new and the page's own listeners,
// capturing ones included, come after this one.
void WatchLoad(JSCContext* ctx, JSCValue* window, uint64_t pageId) {
    JSCValue* fn = jsc_value_new_function_variadic(ctx, nullptr, G_CALLBACK(OnLoadEvent),
                                                   reinterpret_cast<gpointer>(static_cast<uintptr_t>(pageId)),
                                                   nullptr, JSC_TYPE_VALUE);
    JSCValue* r = jsc_value_object_invoke_method(window, "addEventListener", G_TYPE_STRING, "load",
                                                 JSC_TYPE_VALUE, fn, G_TYPE_BOOLEAN, TRUE, G_TYPE_NONE);
    if (r)
        g_object_unref(r);
    g_object_unref(fn);
}

void OnWindowObjectCleared(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame, gpointer) {
    uint64_t pageId = webkit_web_page_get_id(page);
    bool main = webkit_frame_is_main_frame(frame);
    JSCContext* ctx = webkit_frame_get_js_context_for_script_world(frame, world);
    JSCValue* global = jsc_context_get_global_object(ctx);
    gpointer pageData = reinterpret_cast<gpointer>(static_cast<uintptr_t>(pageId));
    if (main) {
        g_bridge->loaded[pageId] = false;
        g_bridge->complete[pageId] = false;
        WatchLoad(ctx, global, pageId);
    }
    DefineFunction(ctx, global, "alert", G_CALLBACK(Alert), pageData, nullptr);
    DefineFunction(ctx, global, "confirm", G_CALLBACK(Confirm), pageData, nullptr);

    Frame ask;
    ask.kind = afxweb::wire::kFrame;
    ask.page = pageId;
    const char* uri = webkit_frame_get_uri(frame);
    ask.fields = {uri ? uri : "", main ? "1" : "0"};
    Frame reply;
    if (Request(std::move(ask), reply) && reply.Field(0) == "1") {
        JSCValue* external = jsc_value_new_object(ctx, nullptr, nullptr);
        for (size_t i = 1; i < reply.fields.size(); ++i) {
            auto* m = new Method{reply.fields[i], pageId};
            DefineFunction(ctx, external, m->name.c_str(), G_CALLBACK(CallMethod), m,
                           [](gpointer p) { delete static_cast<Method*>(p); });
        }
        jsc_value_object_set_property(global, "external", external);
        g_object_unref(external);
    } else {
        // The engine's own window.external stays out of reach of a frame we do not trust.
        JSCValue* undef = jsc_value_new_undefined(ctx);
        jsc_value_object_set_property(global, "external", undef);
        g_object_unref(undef);
    }
    g_object_unref(global);
    g_object_unref(ctx);
}

void ReportError(uint64_t page, const std::string& text) {
    Frame f;
    f.kind = afxweb::wire::kError;
    f.page = page;
    f.fields = {text};
    Frame reply;
    Request(std::move(f), reply);
}

void OnConsoleMessage(WebKitWebPage* page, WebKitConsoleMessage* message, gpointer) {
    if (webkit_console_message_get_level(message) != WEBKIT_CONSOLE_MESSAGE_LEVEL_ERROR)
        return;
    const char* text = webkit_console_message_get_text(message);
    const char* source = webkit_console_message_get_source_id(message);
    ReportError(webkit_web_page_get_id(page),
                std::string(text ? text : "") + " (" + (source ? source : "") + ":" +
                    std::to_string(webkit_console_message_get_line(message)) + ")");
}

void OnDocumentLoaded(WebKitWebPage* page, gpointer) {
    g_bridge->loaded[webkit_web_page_get_id(page)] = true;
}

// The page's address is already the new document's when its own request goes out, so a page is
// judged by the limit of the document that asks.
gboolean OnSendRequest(WebKitWebPage* page, WebKitURIRequest* request, WebKitURIResponse*, gpointer) {
    Bridge& b = *g_bridge;
    uint64_t pageId = webkit_web_page_get_id(page);
    const char* pageUri = webkit_web_page_get_uri(page);
    std::string current = pageUri ? pageUri : "";
    auto it = b.limits.find(pageId);
    if (it == b.limits.end() || it->second.uri != current) {
        Bridge::Limit limit;
        limit.uri = current;
        Frame ask;
        ask.kind = afxweb::wire::kLimit;
        ask.page = pageId;
        ask.fields = {current};
        Frame reply;
        if (!Request(std::move(ask), reply)) {
            // Without the program nobody can say what the page may do: nothing leaves.
            limit.limited = true;
        } else if (reply.Field(0) == "1") {
            limit.limited = true;
            limit.allowed.assign(reply.fields.begin() + 1, reply.fields.end());
        }
        it = b.limits.insert_or_assign(pageId, std::move(limit)).first;
    }
    if (!it->second.limited)
        return FALSE;
    const char* method = webkit_uri_request_get_http_method(request);
    const char* uri = webkit_uri_request_get_uri(request);
    return !afxweb::RequestAllowed(it->second.allowed, method ? method : "GET", uri ? uri : "");
}

void OnPageCreated(WebKitWebExtension*, WebKitWebPage* page, gpointer) {
    g_signal_connect(page, "document-loaded", G_CALLBACK(OnDocumentLoaded), nullptr);
    g_signal_connect(page, "send-request", G_CALLBACK(OnSendRequest), nullptr);
    // Deprecated, yet still emitted, and the one place in the page's process that hears every
    // error: scripts, the console, failed loads, refused requests.
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    g_signal_connect(page, "console-message-sent", G_CALLBACK(OnConsoleMessage), nullptr);
    G_GNUC_END_IGNORE_DEPRECATIONS
}

// Runs a page function the program named, with string arguments, to its end.
void Serve(const Frame& request, bool nested) {
    Bridge& b = *g_bridge;
    Frame reply;
    reply.kind = afxweb::wire::kReply;
    reply.id = request.id;
    reply.page = request.page;
    reply.fields = {"0", ""};
    if (request.kind == afxweb::wire::kInvoke) {
        WebKitWebPage* page = webkit_web_extension_get_page(b.extension, request.page);
        auto& gates = nested ? b.loaded : b.complete;
        auto gate = gates.find(request.page);
        if (page && gate != gates.end() && gate->second) {
            b.serving.push_back(request.id);
            // Still the way to a page's main frame from its own process in this WebKit.
            G_GNUC_BEGIN_IGNORE_DEPRECATIONS
            WebKitFrame* frame = webkit_web_page_get_main_frame(page);
            G_GNUC_END_IGNORE_DEPRECATIONS
            JSCContext* ctx = webkit_frame_get_js_context(frame);
            JSCValue* global = jsc_context_get_global_object(ctx);
            JSCValue* fn = jsc_value_object_get_property(global, request.Field(0).c_str());
            if (fn && jsc_value_is_function(fn)) {
                std::vector<JSCValue*> args;
                for (size_t i = 1; i < request.fields.size(); ++i)
                    args.push_back(jsc_value_new_string(ctx, request.fields[i].c_str()));
                JSCValue* result = jsc_value_function_callv(fn, static_cast<guint>(args.size()), args.data());
                if (jsc_context_get_exception(ctx)) {
                    jsc_context_clear_exception(ctx);
                } else {
                    reply.fields = {"1", result ? ArgText(result) : ""};
                }
                if (result)
                    g_object_unref(result);
                for (auto* a : args)
                    g_object_unref(a);
            }
            if (fn)
                g_object_unref(fn);
            g_object_unref(global);
            g_object_unref(ctx);
            b.serving.pop_back();
        }
    }
    b.channel.Send(reply);
}

gboolean OnReadable(gint, GIOCondition, gpointer) {
    Bridge& b = *g_bridge;
    b.channel.Pump();
    while (b.channel.HasFrame()) {
        Frame f = b.channel.PopFrame();
        if (f.kind != afxweb::wire::kReply)
            Serve(f, false);
    }
    return b.channel.Open() ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

int Connect(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    if (path.size() >= sizeof a.sun_path) {
        close(fd);
        return -1;
    }
    std::memcpy(a.sun_path, path.c_str(), path.size());
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize_with_user_data(WebKitWebExtension* extension,
                                                                               const GVariant* data) {
    const gchar* path = nullptr;
    const gchar* token = nullptr;
    if (!data || !g_variant_is_of_type(const_cast<GVariant*>(data), G_VARIANT_TYPE("(ss)")))
        return;
    g_variant_get(const_cast<GVariant*>(data), "(&s&s)", &path, &token);
    int fd = Connect(path);
    if (fd < 0)
        return;
    g_bridge = new Bridge;
    g_bridge->extension = extension;
    g_bridge->channel.Reset(fd);
    Frame hello;
    hello.kind = afxweb::wire::kHello;
    hello.fields = {token, std::to_string(getpid())};
    g_bridge->channel.Send(hello);
    g_unix_fd_add(fd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), OnReadable, nullptr);
    g_signal_connect(extension, "page-created", G_CALLBACK(OnPageCreated), nullptr);
    g_signal_connect(webkit_script_world_get_default(), "window-object-cleared",
                     G_CALLBACK(OnWindowObjectCleared), nullptr);
}
