#include "platform/web/WebBridge.h"

#include "platform/web/BridgeWire.h"

#include "platform/kernel/ShellFolders.h"

#include <glib-unix.h>
#include <glib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <set>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace afxweb {

using wire::Frame;

struct CWebBridge::Conn {
    wire::Channel ch;
    bool authed = false;
    pid_t pid = 0;
    unsigned source = 0;
    // The pages whose main document in this process is complete, as the process last said.
    std::set<uint64_t> complete;
};

CWebBridge& CWebBridge::Instance() {
    // Lives as long as the process: web processes keep their connections to the end.
    static CWebBridge* bridge = [] {
        auto* b = new CWebBridge;
        b->Start();
        // The folder goes with the process; web processes that outlive it have nothing to
        // connect to anyway.
        std::atexit([] {
            if (!bridge->m_path.empty())
                unlink(bridge->m_path.c_str());
            if (!bridge->m_folder.empty())
                rmdir(bridge->m_folder.c_str());
        });
        return b;
    }();
    return *bridge;
}

CWebBridge::CWebBridge() = default;
CWebBridge::~CWebBridge() = default;

namespace {

constexpr char kFolderPrefix[] = "kestrin-web-";
constexpr char kSocketName[] = "bridge";

// Whether no one listens on the socket at path (a missing socket counts as one no one listens on).
bool NobodyListens(const std::string& path) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    if (path.size() >= sizeof a.sun_path)
        return false;
    std::memcpy(a.sun_path, path.c_str(), path.size());
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    const bool refused = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 &&
                         (errno == ECONNREFUSED || errno == ENOENT);
    close(fd);
    return refused;
}

} // namespace

void RemoveStaleBridgeFolders(const std::string& folder) {
    DIR* d = opendir(folder.c_str());
    if (!d)
        return;
    const size_t prefix = std::strlen(kFolderPrefix);
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name.compare(0, prefix, kFolderPrefix) != 0)
            continue;
        const std::string path = folder + "/" + name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid())
            continue;
        const std::string socketPath = path + "/" + kSocketName;
        // "<pid>-XXXXXX": gone with its process. Without a pid: an older build's, gone when its
        // socket is dead (and kept while it is still being set up, with no socket yet).
        char* end = nullptr;
        const long pid = std::strtol(name.c_str() + prefix, &end, 10);
        bool stale;
        if (end != name.c_str() + prefix && *end == '-' && pid > 0)
            stale = pid != getpid() && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
        else
            stale = lstat(socketPath.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && NobodyListens(socketPath);
        if (!stale)
            continue;
        unlink(socketPath.c_str());
        rmdir(path.c_str());
    }
    closedir(d);
}

std::string MakeBridgeFolder(const std::string& folder) {
    std::string tmpl = folder + "/" + kFolderPrefix + std::to_string(getpid()) + "-XXXXXX";
    // The socket's whole path must fit an address.
    if (tmpl.size() + 1 + std::strlen(kSocketName) >= sizeof(sockaddr_un::sun_path))
        return "";
    return mkdtemp(tmpl.data()) ? tmpl : "";
}

bool CWebBridge::Start() {
    // The runtime folder goes with the session and no other user can enter it; /tmp is the
    // place of last resort. Either way what killed processes left there goes now.
    for (const std::string& parent : {AfxGetRuntimeFolder(), std::string(g_get_tmp_dir())}) {
        if (parent.empty())
            continue;
        RemoveStaleBridgeFolders(parent);
        m_folder = MakeBridgeFolder(parent);
        if (!m_folder.empty())
            break;
    }
    if (m_folder.empty())
        return false;
    chmod(m_folder.c_str(), 0700);
    m_path = m_folder + "/" + kSocketName;
    unsigned char raw[16];
    if (getrandom(raw, sizeof raw, 0) != static_cast<ssize_t>(sizeof raw))
        return false;
    static const char hex[] = "0123456789abcdef";
    for (unsigned char c : raw) {
        m_token += hex[c >> 4];
        m_token += hex[c & 15];
    }
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    if (fd < 0 || m_path.size() >= sizeof a.sun_path) {
        if (fd >= 0)
            close(fd);
        return false;
    }
    std::memcpy(a.sun_path, m_path.c_str(), m_path.size());
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 16) != 0) {
        close(fd);
        return false;
    }
    m_listen = fd;
    m_listenSource = g_unix_fd_add(fd, G_IO_IN, reinterpret_cast<GUnixFDSourceFunc>(OnListen), this);
    return true;
}

void CWebBridge::Accept() {
    for (;;) {
        int fd = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            return;
        auto c = std::make_shared<Conn>();
        c->ch.Reset(fd);
        c->source = g_unix_fd_add(fd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                                  reinterpret_cast<GUnixFDSourceFunc>(OnConn), this);
        m_conns[fd] = c;
    }
}

int CWebBridge::OnListen(int, unsigned, void* self) {
    static_cast<CWebBridge*>(self)->Accept();
    return G_SOURCE_CONTINUE;
}

int CWebBridge::OnConn(int fd, unsigned, void* self) {
    auto* b = static_cast<CWebBridge*>(self);
    auto it = b->m_conns.find(fd);
    if (it == b->m_conns.end())
        return G_SOURCE_REMOVE;
    std::shared_ptr<Conn> c = it->second;
    c->ch.Pump();
    while (c->ch.HasFrame()) {
        Frame f = c->ch.PopFrame();
        b->Handle(c, f);
    }
    if (!c->ch.Open()) {
        c->source = 0; // removed by returning so
        b->Drop(c);
        return G_SOURCE_REMOVE;
    }
    return G_SOURCE_CONTINUE;
}

int CWebBridge::OnDrain(void* self) {
    auto* b = static_cast<CWebBridge*>(self);
    b->m_drainSource = 0;
    std::vector<std::shared_ptr<Conn>> conns;
    for (auto& [fd, conn] : b->m_conns)
        conns.push_back(conn);
    for (auto& c : conns) {
        while (c->ch.HasFrame()) {
            Frame f = c->ch.PopFrame();
            b->Handle(c, f);
        }
    }
    return G_SOURCE_REMOVE;
}

void CWebBridge::Drop(const std::shared_ptr<Conn>& c) {
    if (c->source)
        g_source_remove(c->source);
    c->source = 0;
    int fd = c->ch.Fd();
    c->ch.Close();
    m_conns.erase(fd);
}

void CWebBridge::Attach(uint64_t page, IPageEndpoint* endpoint) {
    m_endpoints[page] = endpoint;
}

void CWebBridge::Detach(uint64_t page) {
    m_endpoints.erase(page);
    m_pageConn.erase(page);
}

pid_t CWebBridge::PagePid(uint64_t page) const {
    auto it = m_pageConn.find(page);
    if (it == m_pageConn.end())
        return 0;
    auto c = it->second.lock();
    return c && c->ch.Open() ? c->pid : 0;
}

void CWebBridge::Handle(const std::shared_ptr<Conn>& c, Frame& f) {
    if (!c->authed) {
        // Anything but the right token first is not one of our web processes.
        if (f.kind == wire::kHello && f.Field(0).size() == m_token.size() && f.Field(0) == m_token) {
            c->authed = true;
            c->pid = static_cast<pid_t>(std::atol(f.Field(1).c_str()));
        } else {
            c->ch.Break();
        }
        return;
    }
    if (f.kind == wire::kReply) {
        auto it = m_replies.find(f.id);
        if (it != m_replies.end() && !it->second)
            it->second = std::make_unique<Frame>(std::move(f));
        return;
    }
    if (f.kind == wire::kLoaded) {
        c->complete.insert(f.page);
        return;
    }
    // A main frame asking about its window.external has a new document, still loading.
    if (f.kind == wire::kFrame && f.Field(1) == "1")
        c->complete.erase(f.page);
    // The latest process to speak for a page serves it (a cross-site navigation moves it). A
    // process asking about the page's requests or reporting an error may still be loading its
    // document, and may be about to wait on the engine's own messages to us: calls are sent to
    // it only once its frame has asked for its window.external.
    if (f.kind != wire::kLimit && f.kind != wire::kError)
        m_pageConn[f.page] = c;
    Frame reply;
    reply.kind = wire::kReply;
    reply.id = f.id;
    reply.page = f.page;
    auto ep = m_endpoints.find(f.page);
    IPageEndpoint* endpoint = ep == m_endpoints.end() ? nullptr : ep->second;
    m_serving.push_back({f.id, c.get()});
    switch (f.kind) {
    case wire::kFrame: {
        std::vector<std::string> methods;
        bool trusted = endpoint && endpoint->TrustFrame(f.Field(0), f.Field(1) == "1", methods);
        reply.fields.push_back(trusted ? "1" : "0");
        if (trusted)
            reply.fields.insert(reply.fields.end(), methods.begin(), methods.end());
        break;
    }
    case wire::kCall: {
        std::vector<std::string> args(f.fields.size() > 1 ? f.fields.begin() + 1 : f.fields.end(),
                                      f.fields.end());
        char type = 's';
        std::string result = endpoint ? endpoint->OnCall(f.Field(0), args, &type) : std::string();
        reply.fields = {"1", result, std::string(1, type)};
        break;
    }
    case wire::kLimit: {
        std::vector<std::string> allowed;
        bool limited = endpoint && endpoint->RequestLimit(f.Field(0), allowed);
        reply.fields.push_back(limited ? "1" : "0");
        if (limited)
            reply.fields.insert(reply.fields.end(), allowed.begin(), allowed.end());
        break;
    }
    case wire::kError:
        if (endpoint)
            endpoint->OnScriptError(f.Field(0));
        reply.fields = {"1"};
        break;
    case wire::kDialog: {
        bool yes = endpoint && endpoint->OnDialog(f.Field(0) == "confirm", f.Field(1));
        reply.fields = {yes ? "1" : "0"};
        break;
    }
    default:
        reply.fields = {"0"};
        break;
    }
    m_serving.pop_back();
    c->ch.Send(reply);
}

std::shared_ptr<CWebBridge::Conn> CWebBridge::PageConn(uint64_t page) const {
    auto it = m_pageConn.find(page);
    std::shared_ptr<Conn> c = it == m_pageConn.end() ? nullptr : it->second.lock();
    return c && c->ch.Open() ? c : nullptr;
}

bool CWebBridge::Invoke(uint64_t page, const std::string& function, const std::vector<std::string>& args,
                        std::string* result, bool* timedOut) {
    if (timedOut)
        *timedOut = false;
    std::shared_ptr<Conn> c = PageConn(page);
    if (!c)
        return false;
    // What the page's process has said and is not read yet counts: its document may have
    // completed, or given way to a new one. Serving it may move the page to another process.
    c->ch.Pump();
    while (c->ch.HasFrame()) {
        Frame pending = c->ch.PopFrame();
        Handle(c, pending);
    }
    c = PageConn(page);
    if (!c)
        return false;
    // A process waiting on a request of its own that is being served now reads our call at
    // once. Any other may be held in the engine's own waits while its document loads, where
    // nothing of ours is read: it gets calls only once its document is complete.
    bool waitsOnUs =
        std::any_of(m_serving.begin(), m_serving.end(), [&](const Serving& s) { return s.conn == c.get(); });
    if (!waitsOnUs && !c->complete.count(page))
        return false;
    Frame f;
    f.kind = wire::kInvoke;
    f.id = wire::MakeId(m_counter);
    f.parent = m_serving.empty() ? 0 : m_serving.back().id;
    f.page = page;
    f.fields.push_back(function);
    f.fields.insert(f.fields.end(), args.begin(), args.end());
    m_replies[f.id] = nullptr;
    Frame reply;
    bool late = false;
    bool ok = c->ch.Send(f) && Await(c, f.id, reply, late);
    m_replies.erase(f.id);
    // Frames read together with the reply stay in their channels, and the sockets' watches do
    // not come back for what was already read: they are served from the main loop.
    if (m_serving.empty() && !m_drainSource) {
        for (auto& [fd, conn] : m_conns) {
            if (conn->ch.HasFrame()) {
                m_drainSource = g_idle_add(reinterpret_cast<GSourceFunc>(OnDrain), this);
                break;
            }
        }
    }
    if (timedOut)
        *timedOut = late;
    if (!ok || reply.Field(0) != "1")
        return false;
    if (result)
        *result = reply.Field(1);
    return true;
}

bool CWebBridge::Await(const std::shared_ptr<Conn>& c, uint64_t id, Frame& reply, bool& timedOut) {
    using clock = std::chrono::steady_clock;
    auto deadline = clock::now() + std::chrono::milliseconds(m_timeoutMs);
    for (;;) {
        auto& slot = m_replies[id];
        if (slot) {
            reply = std::move(*slot);
            return true;
        }
        // Serve what has arrived, from any web process.
        bool served = false;
        std::vector<std::shared_ptr<Conn>> conns;
        for (auto& [fd, conn] : m_conns)
            conns.push_back(conn);
        for (auto& conn : conns) {
            while (conn->ch.HasFrame() && !m_replies[id]) {
                Frame f = conn->ch.PopFrame();
                bool request = f.kind != wire::kReply && f.kind != wire::kLoaded;
                Handle(conn, f);
                served = served || request;
            }
        }
        if (m_replies[id])
            continue;
        if (served) {
            // Time spent serving the program's own nested calls is not the web process's.
            deadline = clock::now() + std::chrono::milliseconds(m_timeoutMs);
            continue;
        }
        if (!c->ch.Open())
            return false;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
        if (left <= 0) {
            timedOut = true;
            return false;
        }
        std::vector<pollfd> fds;
        fds.push_back(pollfd{m_listen, POLLIN, 0});
        for (auto& conn : conns)
            if (conn->ch.Open())
                fds.push_back(pollfd{conn->ch.Fd(), POLLIN, 0});
        int n = poll(fds.data(), fds.size(), static_cast<int>(left));
        if (n < 0 && errno != EINTR)
            return false;
        if (n <= 0)
            continue;
        if (fds[0].revents)
            Accept();
        for (auto& conn : conns)
            if (conn->ch.Open())
                conn->ch.Pump();
    }
}

} // namespace afxweb
