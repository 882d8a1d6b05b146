#include "platform/shell/SingleInstance.h"
#include "platform/shell/ShellInternal.h"

#include "platform/kernel/FileSys.h"
#include "platform/kernel/ShellFolders.h"
#include "platform/kernel/WinError.h"
#include "platform/user/ForeignWindow.h"
#include "platform/user/MsgQueue.h"
#include "platform/user/Presenter.h"
#include "platform/user/WinUser.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// ---------------------------------------------------------------------------------------
// Named mutexes.

class NamedMutex : public KernelObject {
public:
    explicit NamedMutex(int fd) : m_fd(fd) {}
    ~NamedMutex() override {
        if (m_fd >= 0)
            close(m_fd); // gives up this handle's share of the lock
    }

private:
    int m_fd;
};

int FlockRetry(int fd, int op) {
    int r;
    do
        r = flock(fd, op);
    while (r != 0 && errno == EINTR);
    return r;
}

// The folder of the lock files and the windows' endpoints: only this user can make anything in it.
bool RuntimeDir(std::string& dir) {
    dir = AfxGetRuntimeFolder();
    return !dir.empty();
}

int OpenLockFile(const std::string& path) {
    return AfxOpenRegularFile(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW, 0600);
}

} // namespace

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL, LPCSTR lpName) {
    if (!lpName || !*lpName) {
        SetLastError(ERROR_SUCCESS);
        return AfxHandleFromKernelObject(new NamedMutex(-1));
    }
    std::string dir;
    if (!RuntimeDir(dir)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    std::string name = lpName;
    for (char& c : name)
        if (c == '/' || c == '\\')
            c = '_';
    std::string path = dir + "/afx-mutex." + name;
    int fd = OpenLockFile(path);
    int guard = OpenLockFile(path + ".guard");
    if (fd < 0 || guard < 0) {
        DWORD err = AfxErrnoToWin32(errno);
        if (fd >= 0)
            close(fd);
        if (guard >= 0)
            close(guard);
        SetLastError(err);
        return nullptr;
    }
    // Every holder keeps a shared lock, so "taken" is "an exclusive lock cannot be had". Going
    // from the exclusive probe to the shared lock is not atomic; the guard keeps every other
    // prober out of that gap, and is held only for these few calls.
    bool exists = true;
    bool held = false;
    if (FlockRetry(guard, LOCK_EX) == 0) {
        exists = FlockRetry(fd, LOCK_EX | LOCK_NB) != 0;
        held = FlockRetry(fd, LOCK_SH | LOCK_NB) == 0;
    }
    close(guard);
    if (!held) {
        close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    HANDLE h = AfxHandleFromKernelObject(new NamedMutex(fd));
    SetLastError(exists ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}

namespace {

// ---------------------------------------------------------------------------------------
// The wire between processes: one request per connection, one answer.

constexpr uint32_t kMagic = 0x57504641; // "AFPW"
constexpr uint32_t kMaxPayload = 1u << 20;

enum Op : uint32_t {
    kGetProp = 1,
    kIsIconic,
    kShowWindow,
    kSetForeground,
    kLastActivePopup,
    kCopyData,
    kAnswer = 100,
};

struct Frame {
    uint32_t magic;
    uint32_t op;
    uint64_t target; // 0: the window the endpoint stands for; else one of its popups
    uint64_t a;      // ShowWindow's command, WM_COPYDATA's dwData; the answer's result
    uint32_t ok;     // in answers: the request was carried out
    uint32_t length; // payload bytes after the frame
};
static_assert(sizeof(Frame) == 32);

std::atomic<DWORD> g_wait{5000};

std::string LowerAscii(const char* s) {
    std::string r = s;
    for (char& c : r)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return r;
}

// A window property is published as a socket in the runtime folder, which only this user can
// write into: another user can neither take the name first nor stand in for the window. Programs
// started with another runtime folder (another session, or tests that each make their own)
// neither find nor disturb each other. Property names are lower case; bytes other than letters,
// digits, ".", "_" and "-" are written as "%xx", so every name is one file name.
constexpr char kEndpointPrefix[] = "afx-window.";
// Held while an endpoint is bound or removed, so that two processes never both take a stale
// endpoint's place.
constexpr char kGuardPrefix[] = "afx-window-guard.";

std::string EscapeProperty(const std::string& property) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : property) {
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

bool UnescapeProperty(const std::string& name, std::string& property) {
    property.clear();
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '%') {
            property += name[i];
            continue;
        }
        if (i + 2 >= name.size())
            return false;
        char hex[3] = {name[i + 1], name[i + 2], 0};
        char* end = nullptr;
        unsigned long v = std::strtoul(hex, &end, 16);
        if (end != hex + 2)
            return false;
        property += static_cast<char>(v);
        i += 2;
    }
    return !property.empty();
}

// The endpoint's path; "" when there is no runtime folder or the path would not fit an address.
std::string EndpointPath(const std::string& property) {
    std::string dir;
    if (property.empty() || !RuntimeDir(dir))
        return "";
    std::string path = dir + "/" + kEndpointPrefix + EscapeProperty(property);
    return path.size() < sizeof(sockaddr_un::sun_path) ? path : "";
}

std::string GuardPath(const std::string& property) {
    std::string dir;
    if (property.empty() || !RuntimeDir(dir))
        return "";
    return dir + "/" + kGuardPrefix + EscapeProperty(property);
}

bool EndpointAddress(const std::string& property, sockaddr_un& addr, socklen_t& len) {
    std::string path = EndpointPath(property);
    if (path.empty())
        return false;
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    return true;
}

bool PeerIsSameUser(int fd) {
    ucred cred{};
    socklen_t len = sizeof cred;
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == getuid();
}

int MillisecondsLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool WaitFd(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        int r = poll(&p, 1, MillisecondsLeft(deadline));
        if (r > 0)
            return (p.revents & (events | POLLHUP | POLLERR)) != 0;
        if (r == 0 || errno != EINTR)
            return false;
    }
}

bool SendAll(int fd, const std::string& bytes, Clock::time_point deadline) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitFd(fd, POLLOUT, deadline))
                return false;
        } else {
            return false;
        }
    }
    return true;
}

bool RecvAll(int fd, void* buf, size_t size, Clock::time_point deadline) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = recv(fd, static_cast<char*>(buf) + done, size - done, 0);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitFd(fd, POLLIN, deadline))
                return false;
        } else {
            return false;
        }
    }
    return true;
}

std::string Encode(const Frame& f, const std::string& payload) {
    std::string bytes(reinterpret_cast<const char*>(&f), sizeof f);
    bytes += payload;
    return bytes;
}

// One request to the window published under property; false when no answer came in time or
// the window would not carry it out.
bool Request(const std::string& property, uint32_t op, uint64_t target, uint64_t a,
             const std::string& payload, uint64_t& result) {
    sockaddr_un addr;
    socklen_t len;
    if (payload.size() > kMaxPayload || !EndpointAddress(property, addr, len))
        return false;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    auto deadline = Clock::now() + std::chrono::milliseconds(g_wait.load());
    bool ok = false;
    int r;
    do
        r = connect(fd, reinterpret_cast<sockaddr*>(&addr), len);
    while (r != 0 && errno == EINTR);
    bool connected = r == 0;
    if (!connected && (errno == EAGAIN || errno == EINPROGRESS) && WaitFd(fd, POLLOUT, deadline)) {
        int err = 0;
        socklen_t el = sizeof err;
        connected = getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &el) == 0 && err == 0;
    }
    if (connected && PeerIsSameUser(fd)) {
        Frame f{kMagic, op, target, a, 0, static_cast<uint32_t>(payload.size())};
        Frame answer{};
        if (SendAll(fd, Encode(f, payload), deadline) && RecvAll(fd, &answer, sizeof answer, deadline) &&
            answer.magic == kMagic && answer.op == kAnswer && answer.length == 0) {
            result = answer.a;
            ok = answer.ok != 0;
        }
    }
    close(fd);
    return ok;
}

// The properties published in this runtime folder, by name. An endpoint whose process has gone
// is listed too; a request to it fails at once.
std::vector<std::string> ListEndpoints() {
    std::vector<std::string> out;
    std::string dir;
    if (!RuntimeDir(dir))
        return out;
    DIR* d = opendir(dir.c_str());
    if (!d)
        return out;
    const size_t prefix = std::strlen(kEndpointPrefix);
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name, property;
        struct stat st;
        if (name.compare(0, prefix, kEndpointPrefix) != 0 ||
            !UnescapeProperty(name.substr(prefix), property) || lstat((dir + "/" + name).c_str(), &st) != 0 ||
            !S_ISSOCK(st.st_mode) || st.st_uid != getuid())
            continue;
        out.push_back(property);
    }
    closedir(d);
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

// Binds a listening socket at the endpoint's path. An endpoint left by a process that ended (no
// one accepts on it) gives its place up; a live one keeps it. false when the endpoint is taken
// or cannot be made; ino is the socket file's inode, by which it is recognised as ours later.
bool BindEndpoint(const std::string& path, const std::string& guardPath, int fd, ino_t& ino) {
    int guard = OpenLockFile(guardPath);
    if (guard < 0 || FlockRetry(guard, LOCK_EX) != 0) {
        if (guard >= 0)
            close(guard);
        return false;
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    bool bound = bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0;
    if (!bound && errno == EADDRINUSE) {
        int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        bool stale = probe >= 0 && connect(probe, reinterpret_cast<sockaddr*>(&addr), len) != 0 &&
                     errno == ECONNREFUSED;
        if (probe >= 0)
            close(probe);
        struct stat st;
        if (stale && lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && unlink(path.c_str()) == 0)
            bound = bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0;
    }
    struct stat st;
    bound = bound && chmod(path.c_str(), 0600) == 0 && lstat(path.c_str(), &st) == 0 && listen(fd, 8) == 0;
    if (bound)
        ino = st.st_ino;
    close(guard);
    return bound;
}

// Removes the endpoint at path when it is still the one bound as ino.
void RemoveEndpoint(const std::string& path, const std::string& guardPath, ino_t ino) {
    int guard = OpenLockFile(guardPath);
    if (guard >= 0 && FlockRetry(guard, LOCK_EX) == 0) {
        struct stat st;
        if (lstat(path.c_str(), &st) == 0 && st.st_ino == ino && S_ISSOCK(st.st_mode))
            unlink(path.c_str());
    }
    if (guard >= 0)
        close(guard);
}

// ---------------------------------------------------------------------------------------
// The provider: handles for other processes' windows, and this process's published ones.

class ForeignWindows : public afxuser::IForeignWindows {
public:
    bool IsForeign(HWND hWnd) override {
        auto v = reinterpret_cast<uintptr_t>(hWnd);
        if (v < kBase || (v - kBase) % 4 != 0)
            return false;
        std::lock_guard<std::mutex> lock(m_mutex);
        return (v - kBase) / 4 < m_handles.size();
    }

    HWND FirstForeign() override {
        std::vector<std::string> found = ListEndpoints();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_walk.clear();
        for (auto& p : found)
            if (!m_published.count(p))
                m_walk.push_back(p);
        return m_walk.empty() ? nullptr : InternLocked(m_walk.front(), 0);
    }

    HWND NextForeign(HWND hWnd) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        const Handle* h = LookupLocked(hWnd);
        if (!h || h->remote)
            return nullptr;
        auto it = std::find(m_walk.begin(), m_walk.end(), h->property);
        if (it == m_walk.end() || it + 1 == m_walk.end())
            return nullptr;
        return InternLocked(*(it + 1), 0);
    }

    HANDLE GetProp(HWND hWnd, LPCSTR name) override {
        Handle h;
        if (!name || !Lookup(hWnd, h) || LowerAscii(name) != h.property)
            return nullptr;
        uint64_t r = 0;
        return Request(h.property, kGetProp, h.remote, 0, h.property, r) ? reinterpret_cast<HANDLE>(r)
                                                                         : nullptr;
    }

    BOOL IsIconic(HWND hWnd) override { return Simple(hWnd, kIsIconic, 0); }
    BOOL ShowWindow(HWND hWnd, int nCmdShow) override {
        return Simple(hWnd, kShowWindow, static_cast<uint64_t>(static_cast<uint32_t>(nCmdShow)));
    }
    BOOL SetForegroundWindow(HWND hWnd) override { return Simple(hWnd, kSetForeground, 0); }

    HWND GetLastActivePopup(HWND hWnd) override {
        Handle h;
        if (!Lookup(hWnd, h))
            return nullptr;
        uint64_t r = 0;
        if (!Request(h.property, kLastActivePopup, h.remote, 0, {}, r) || r == 0)
            return hWnd;
        std::lock_guard<std::mutex> lock(m_mutex);
        return InternLocked(h.property, r);
    }

    LRESULT SendMessage(HWND hWnd, UINT msg, WPARAM, LPARAM lParam) override {
        Handle h;
        if (!Lookup(hWnd, h))
            return 0;
        // Only WM_COPYDATA says how long the data behind its pointer is; nothing else can cross.
        auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (msg != WM_COPYDATA || !cds || cds->cbData > kMaxPayload || (cds->cbData && !cds->lpData)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        std::string data(static_cast<const char*>(cds->lpData), cds->cbData);
        uint64_t r = 0;
        if (!Request(h.property, kCopyData, h.remote, cds->dwData, data, r))
            return 0;
        return static_cast<LRESULT>(r);
    }

    void PropertySet(HWND hWnd, LPCSTR name) override;
    void PropertyRemoved(HWND hWnd, LPCSTR name) override;

    static void OnReady(uint64_t cookie, uint32_t events);

private:
    static constexpr uintptr_t kBase = uintptr_t{0x7E} << 40; // far above the kernel's handles

    struct Handle {
        std::string property;
        uint64_t remote = 0; // 0: the published window; else the other process's popup
    };
    // A published window's endpoint, or a connection accepted on it.
    struct Source {
        bool listener;
        int fd;
        DWORD tid;
        std::string property;
        HWND hWnd;
        std::string in; // a connection's request as far as it has come
        ino_t ino = 0;  // a listener's socket file
    };

    bool Lookup(HWND hWnd, Handle& out) {
        std::lock_guard<std::mutex> lock(m_mutex);
        const Handle* h = LookupLocked(hWnd);
        if (!h)
            return false;
        out = *h;
        return true;
    }
    const Handle* LookupLocked(HWND hWnd) const {
        auto v = reinterpret_cast<uintptr_t>(hWnd);
        if (v < kBase || (v - kBase) % 4 != 0 || (v - kBase) / 4 >= m_handles.size())
            return nullptr;
        return &m_handles[(v - kBase) / 4];
    }
    HWND InternLocked(const std::string& property, uint64_t remote) {
        for (size_t i = 0; i < m_handles.size(); ++i)
            if (m_handles[i].property == property && m_handles[i].remote == remote)
                return reinterpret_cast<HWND>(kBase + 4 * i);
        m_handles.push_back({property, remote});
        return reinterpret_cast<HWND>(kBase + 4 * (m_handles.size() - 1));
    }
    HWND SourceWindowLocked(uint64_t id) const {
        auto it = m_sources.find(id);
        return it == m_sources.end() ? nullptr : it->second.hWnd;
    }
    BOOL Simple(HWND hWnd, uint32_t op, uint64_t a) {
        Handle h;
        uint64_t r = 0;
        if (!Lookup(hWnd, h) || !Request(h.property, op, h.remote, a, {}, r))
            return FALSE;
        return r ? TRUE : FALSE;
    }

    void Unpublish(const std::string& property);
    void CloseSource(uint64_t id);
    void Accept(uint64_t id);
    void Read(uint64_t id);
    static void Serve(const Source& conn, const Frame& f, const std::string& payload);

    std::mutex m_mutex;
    std::vector<Handle> m_handles;
    std::vector<std::string> m_walk;
    std::map<std::string, uint64_t> m_published; // property -> its listener's source
    std::map<uint64_t, Source> m_sources;
    uint64_t m_nextSource = 1;
};

ForeignWindows& Provider() {
    static ForeignWindows* p = new ForeignWindows; // lives to the process end, like the windows
    return *p;
}

constexpr size_t kMaxConnections = 16;

void ForeignWindows::PropertySet(HWND hWnd, LPCSTR name) {
    if (!IsWindow(hWnd) || GetAncestor(hWnd, GA_PARENT))
        return;
    std::string property = LowerAscii(name);
    HWND current = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_published.find(property);
        if (it != m_published.end())
            current = SourceWindowLocked(it->second);
    }
    if (current == hWnd)
        return;
    // The first window to carry a property is the one others find, as their walk would stop
    // there; a window that has gone meanwhile gives its place up.
    if (current && IsWindow(current) && ::GetPropA(current, name))
        return;
    if (current)
        Unpublish(property);

    const std::string path = EndpointPath(property), guard = GuardPath(property);
    if (path.empty() || guard.empty())
        return;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    // Taken: another process of this user has a window with this property already.
    ino_t ino = 0;
    if (!BindEndpoint(path, guard, fd, ino)) {
        close(fd);
        return;
    }
    DWORD tid = GetWindowThreadProcessId(hWnd, nullptr);
    uint64_t id;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        id = m_nextSource++;
        m_sources[id] = Source{true, fd, tid, property, hWnd, {}, ino};
        m_published[property] = id;
    }
    if (!AfxQueueWatchFd(tid, fd, EPOLLIN, &ForeignWindows::OnReady, id))
        Unpublish(property);
}

void ForeignWindows::PropertyRemoved(HWND hWnd, LPCSTR name) {
    std::string property = LowerAscii(name);
    bool ours = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_published.find(property);
        ours = it != m_published.end() && SourceWindowLocked(it->second) == hWnd;
    }
    if (ours)
        Unpublish(property);
}

void ForeignWindows::Unpublish(const std::string& property) {
    uint64_t id = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_published.find(property);
        if (it == m_published.end())
            return;
        id = it->second;
        m_published.erase(it);
    }
    CloseSource(id);
}

void ForeignWindows::CloseSource(uint64_t id) {
    Source s;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_sources.find(id);
        if (it == m_sources.end())
            return;
        s = std::move(it->second);
        m_sources.erase(it);
    }
    AfxQueueUnwatchFd(s.tid, s.fd);
    close(s.fd);
    if (s.listener)
        RemoveEndpoint(EndpointPath(s.property), GuardPath(s.property), s.ino);
}

void ForeignWindows::OnReady(uint64_t cookie, uint32_t) {
    ForeignWindows& p = Provider();
    bool listener;
    {
        std::lock_guard<std::mutex> lock(p.m_mutex);
        auto it = p.m_sources.find(cookie);
        if (it == p.m_sources.end())
            return;
        listener = it->second.listener;
    }
    if (listener)
        p.Accept(cookie);
    else
        p.Read(cookie);
}

void ForeignWindows::Accept(uint64_t id) {
    for (;;) {
        Source conn;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            auto it = m_sources.find(id);
            if (it == m_sources.end())
                return;
            conn = it->second;
        }
        int fd = accept4(conn.fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        if (!PeerIsSameUser(fd)) {
            close(fd);
            continue;
        }
        conn.listener = false;
        conn.fd = fd;
        uint64_t cid;
        uint64_t oldest = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            size_t open = 0;
            for (const auto& [sid, s] : m_sources)
                if (!s.listener && open++ == 0)
                    oldest = sid; // ids grow, so the first is the oldest
            if (open < kMaxConnections)
                oldest = 0;
            cid = m_nextSource++;
            m_sources[cid] = conn;
        }
        // Peers that connect and say nothing must not keep a later one out.
        if (oldest)
            CloseSource(oldest);
        if (!AfxQueueWatchFd(conn.tid, fd, EPOLLIN | EPOLLRDHUP, &ForeignWindows::OnReady, cid))
            CloseSource(cid);
    }
}

void ForeignWindows::Read(uint64_t id) {
    Source conn;
    bool closed = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_sources.find(id);
        if (it == m_sources.end())
            return;
        char buf[16384];
        for (;;) {
            ssize_t n = recv(it->second.fd, buf, sizeof buf, 0);
            if (n > 0) {
                it->second.in.append(buf, static_cast<size_t>(n));
                if (it->second.in.size() > sizeof(Frame) + kMaxPayload)
                    break;
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            closed = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
            break;
        }
        conn = it->second;
    }
    Frame f{};
    bool complete = false;
    if (conn.in.size() >= sizeof f) {
        std::memcpy(&f, conn.in.data(), sizeof f);
        if (f.magic != kMagic || f.length > kMaxPayload || conn.in.size() > sizeof f + f.length) {
            CloseSource(id); // not our peer, or a peer that says more than it announced
            return;
        }
        complete = conn.in.size() == sizeof f + f.length;
    }
    if (!complete) {
        if (closed)
            CloseSource(id);
        return;
    }
    // Out of the table before the window is called: the handler may run a nested loop that
    // would otherwise see this connection again.
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_sources.erase(id);
    }
    AfxQueueUnwatchFd(conn.tid, conn.fd);
    Serve(conn, f, conn.in.substr(sizeof f));
    close(conn.fd);
}

void ForeignWindows::Serve(const Source& conn, const Frame& f, const std::string& payload) {
    Frame answer{kMagic, kAnswer, 0, 0, 0, 0};
    HWND main = conn.hWnd;
    HWND target = f.target ? reinterpret_cast<HWND>(static_cast<uintptr_t>(f.target)) : main;
    bool valid = IsWindow(main) && ::GetPropA(main, conn.property.c_str()) != nullptr;
    // A peer may name the published window or a popup it owns, never any other window.
    if (valid && target != main)
        valid = IsWindow(target) && GetWindow(target, GW_OWNER) == main;
    if (!valid) {
        // The window went without removing its property: give the name up for the next one.
        if (!IsWindow(main) || !::GetPropA(main, conn.property.c_str()))
            Provider().Unpublish(conn.property);
    } else {
        answer.ok = 1;
        switch (f.op) {
        case kGetProp:
            answer.a = reinterpret_cast<uintptr_t>(::GetPropA(target, payload.c_str()));
            break;
        case kIsIconic:
            answer.a = ::IsIconic(target) ? 1 : 0;
            break;
        case kShowWindow:
            answer.a = ::ShowWindow(target, static_cast<int>(static_cast<uint32_t>(f.a))) ? 1 : 0;
            break;
        case kSetForeground:
            answer.a = ::SetForegroundWindow(target) ? 1 : 0;
            // Already active here or not, the desktop shows it over the other applications.
            if (IsWindowVisible(target))
                afxuser::CurrentPresenter().WindowRaised(target);
            break;
        case kLastActivePopup: {
            HWND popup = ::GetLastActivePopup(target);
            answer.a = popup == main ? 0 : reinterpret_cast<uintptr_t>(popup);
            break;
        }
        case kCopyData: {
            COPYDATASTRUCT cds{static_cast<ULONG_PTR>(f.a), static_cast<DWORD>(payload.size()),
                               payload.empty() ? nullptr : const_cast<char*>(payload.data())};
            answer.a =
                static_cast<uint64_t>(::SendMessageA(target, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)));
            break;
        }
        default:
            answer.ok = 0;
            break;
        }
    }
    auto deadline = Clock::now() + std::chrono::milliseconds(g_wait.load());
    SendAll(conn.fd, Encode(answer, {}), deadline);
}

} // namespace

namespace afxshell {

DWORD SetCrossProcessWait(DWORD milliseconds) {
    return g_wait.exchange(milliseconds);
}

std::string WindowPropertyEndpoint(const std::string& property) {
    return EndpointPath(LowerAscii(property.c_str()));
}

void InstallForeignWindows() {
    afxuser::SetForeignWindows(&Provider());
}

} // namespace afxshell
