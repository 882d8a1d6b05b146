// The program's end of the script bridge: a Unix socket in a private folder (0700) that every web
// process of ours connects to, authenticated by a token the program gives the web processes in
// their initialisation data. Page calls of `window.external` methods, script dialogs and the
// question whether a frame is trusted arrive here and go to the endpoint of their page; Invoke
// runs a page function in the page's web process to its end.
//
// User-interface thread only (the GLib main context serves the connections when the program is
// idle). While Invoke waits it serves every request of every web process, the way a thread that
// sends a message still answers messages sent to it, so calls nest to any depth and across views.
// No wait is unbounded: a web process that closes its connection (it died) fails every call
// waiting on it at once, and one that gives no answer for the time-out fails the call. A call is
// sent only to a page whose main document its process has reported complete, or to a page whose
// process waits on a request of its own that is being served: any other fails at once, unsent.
// Strings are UTF-8 here; the code page edge is the browser control above.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace afxweb {

namespace wire {
struct Frame;
}

class IPageEndpoint {
public:
    virtual ~IPageEndpoint() = default;
    // Whether a frame that has just got a new document may have `window.external`, and its
    // method names.
    virtual bool TrustFrame(const std::string& url, bool mainFrame, std::vector<std::string>& methods) = 0;
    // The result's text, and its script type in *type: 's' string, 'b' Boolean ("1" true),
    // 'n' number.
    virtual std::string OnCall(const std::string& method, const std::vector<std::string>& args,
                               char* type) = 0;
    // alert (the answer is ignored) or confirm.
    virtual bool OnDialog(bool confirm, const std::string& text) = 0;
    // A script error or an error the page's console reported (the engine shows none).
    virtual void OnScriptError(const std::string& text) { (void)text; }
    // Whether the requests of a page showing url are limited, and to which (see
    // IBrowserEvents::RequestLimit for the form of an entry).
    virtual bool RequestLimit(const std::string& url, std::vector<std::string>& allowed) {
        (void)url;
        (void)allowed;
        return false;
    }
};

// The folder of the bridge's socket is made in the session's runtime folder (/tmp when there is
// none) as kestrin-web-<pid>-XXXXXX. A process that was killed leaves its folder behind; these
// remove, in folder, the ones whose process has ended (and those of older builds, named without
// a pid, whose socket no one listens on). Only this user's folders are looked at.
std::string MakeBridgeFolder(const std::string& folder);
void RemoveStaleBridgeFolders(const std::string& folder);

class CWebBridge {
public:
    // The one bridge of the process, started at first use.
    static CWebBridge& Instance();

    CWebBridge(const CWebBridge&) = delete;
    CWebBridge& operator=(const CWebBridge&) = delete;

    bool Started() const { return m_listen >= 0; }
    const std::string& SocketPath() const { return m_path; }
    const std::string& Token() const { return m_token; }

    // The endpoint that answers a page's requests (page ids are WebKit's).
    void Attach(uint64_t page, IPageEndpoint* endpoint);
    void Detach(uint64_t page);

    // Calls the page's global function by name with string arguments. False when the page has
    // no complete document (at once, nothing is sent), lacks the function, throws, its web
    // process dies or does not answer in time (then *timedOut is set: the process is stuck and
    // only its end frees the page); the result is the function's value as text.
    bool Invoke(uint64_t page, const std::string& function, const std::vector<std::string>& args,
                std::string* result, bool* timedOut = nullptr);

    // The web process that serves the page now, or 0 when none has spoken for it yet.
    pid_t PagePid(uint64_t page) const;
    // How long a web process may take over a request (the program's own serving meanwhile does
    // not count).
    void SetTimeout(int ms) { m_timeoutMs = ms; }

private:
    struct Conn;
    // A request of a web process that the program is serving now, and whose process waits.
    struct Serving {
        uint64_t id;
        const Conn* conn;
    };
    CWebBridge();
    ~CWebBridge();
    bool Start();
    void Accept();
    void Handle(const std::shared_ptr<Conn>& c, wire::Frame& f);
    bool Await(const std::shared_ptr<Conn>& c, uint64_t id, wire::Frame& reply, bool& timedOut);
    void Drop(const std::shared_ptr<Conn>& c);
    // The live connection that serves the page now, or null.
    std::shared_ptr<Conn> PageConn(uint64_t page) const;
    static int OnListen(int fd, unsigned cond, void* self);
    static int OnConn(int fd, unsigned cond, void* self);
    static int OnDrain(void* self);

    int m_listen = -1;
    unsigned m_listenSource = 0;
    unsigned m_drainSource = 0;
    std::string m_folder, m_path, m_token;
    std::map<int, std::shared_ptr<Conn>> m_conns;
    std::map<uint64_t, std::weak_ptr<Conn>> m_pageConn;
    std::map<uint64_t, IPageEndpoint*> m_endpoints;
    std::map<uint64_t, std::unique_ptr<wire::Frame>> m_replies;
    uint32_t m_counter = 0;
    std::vector<Serving> m_serving;
    int m_timeoutMs = 20000;
};

} // namespace afxweb
