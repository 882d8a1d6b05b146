// The frames of the script bridge between the program and its web processes, and a channel that
// reads and writes them on a non-blocking Unix stream socket. Shared by both sides: the program's
// user-interface thread and the main thread of each web process (the extension is a shared
// library of its own, so this stays header-only and depends on nothing of ours).
//
// A frame is length-prefixed: kind, its own id, its parent's id (the request the sender was
// serving when it sent it, 0 for none), the page id and a list of byte strings. Strings are UTF-8
// on the wire. Ids are unique across processes: the sender's pid in the high half.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace afxweb {
namespace wire {

enum Kind : uint8_t {
    kHello = 1,  // web process → program: token, pid
    kFrame = 2,  // web process → program: frame url, "1" main frame; reply: "1" trusted, methods...
    kCall = 3,   // page → program: method, arguments...; reply: result, its type ("s", "b", "n")
    kDialog = 4, // page → program: "alert" or "confirm", text; reply: "1" confirmed
    kInvoke = 5, // program → page: function, arguments...; reply ok "1"/"0", result
    kReply = 6,  // either way: id of the request answered, ok "1"/"0", result
    kLimit = 7,  // web process → program: page url; reply: "1" limited, allowed requests...
    kError = 8,  // web process → program: a script or console error's text, its source; reply: none
    kLoaded = 9, // web process → program: the page's main document is complete; never answered
};

struct Frame {
    uint8_t kind = 0;
    uint64_t id = 0;
    uint64_t parent = 0;
    uint64_t page = 0;
    std::vector<std::string> fields;

    const std::string& Field(size_t i) const {
        static const std::string empty;
        return i < fields.size() ? fields[i] : empty;
    }
};

// Frames bigger than this are a broken peer, not a page's data.
inline constexpr uint32_t kMaxFrame = 64u << 20;

inline void PutU32(std::string& out, uint32_t v) {
    out.append(reinterpret_cast<const char*>(&v), 4);
}
inline void PutU64(std::string& out, uint64_t v) {
    out.append(reinterpret_cast<const char*>(&v), 8);
}

inline std::string Encode(const Frame& f) {
    std::string body;
    body.push_back(static_cast<char>(f.kind));
    PutU64(body, f.id);
    PutU64(body, f.parent);
    PutU64(body, f.page);
    PutU32(body, static_cast<uint32_t>(f.fields.size()));
    for (const auto& s : f.fields) {
        PutU32(body, static_cast<uint32_t>(s.size()));
        body += s;
    }
    std::string out;
    PutU32(out, static_cast<uint32_t>(body.size()));
    return out + body;
}

// Takes one complete frame off the front of buf. Returns 1 for a frame, 0 when more bytes are
// needed, -1 for bytes that are no frame (the connection is then unusable).
inline int Decode(std::string& buf, Frame& f) {
    if (buf.size() < 4)
        return 0;
    uint32_t len;
    std::memcpy(&len, buf.data(), 4);
    if (len > kMaxFrame || len < 29)
        return -1;
    if (buf.size() < 4 + static_cast<size_t>(len))
        return 0;
    const char* p = buf.data() + 4;
    const char* end = p + len;
    f = Frame{};
    f.kind = static_cast<uint8_t>(*p++);
    std::memcpy(&f.id, p, 8);
    std::memcpy(&f.parent, p + 8, 8);
    std::memcpy(&f.page, p + 16, 8);
    uint32_t n;
    std::memcpy(&n, p + 24, 4);
    p += 28;
    for (uint32_t i = 0; i < n; ++i) {
        if (end - p < 4)
            return -1;
        uint32_t sl;
        std::memcpy(&sl, p, 4);
        p += 4;
        if (static_cast<uint64_t>(end - p) < sl)
            return -1;
        f.fields.emplace_back(p, sl);
        p += sl;
    }
    if (p != end)
        return -1;
    buf.erase(0, 4 + static_cast<size_t>(len));
    return 1;
}

// One end of a connection. Not thread-safe: each side uses it from one thread only.
class Channel {
public:
    explicit Channel(int fd = -1) : m_fd(fd) {}
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;
    ~Channel() { Close(); }

    // Takes over a connected descriptor.
    void Reset(int fd) {
        Close();
        m_fd = fd;
        m_broken = false;
        m_in.clear();
        m_frames.clear();
    }
    int Fd() const { return m_fd; }
    bool Open() const { return m_fd >= 0 && !m_broken; }
    void Close() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        m_broken = true;
    }
    // Marks the channel dead without closing the descriptor (still watched by someone).
    void Break() { m_broken = true; }

    // Reads what the socket has now (never blocks) and queues the complete frames. False once
    // the peer has gone or sent garbage.
    bool Pump() {
        if (!Open())
            return false;
        for (;;) {
            char tmp[65536];
            ssize_t n = ::recv(m_fd, tmp, sizeof tmp, MSG_DONTWAIT);
            if (n > 0) {
                m_in.append(tmp, static_cast<size_t>(n));
                continue;
            }
            if (n == 0) {
                m_broken = true;
                break;
            }
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                m_broken = true;
            break;
        }
        for (;;) {
            Frame f;
            int r = Decode(m_in, f);
            if (r < 0) {
                m_broken = true;
                break;
            }
            if (r == 0)
                break;
            m_frames.push_back(std::move(f));
        }
        return !m_broken || !m_frames.empty();
    }

    bool HasFrame() const { return !m_frames.empty(); }
    Frame PopFrame() {
        Frame f = std::move(m_frames.front());
        m_frames.pop_front();
        return f;
    }

    // Writes the whole frame, waiting for room at most timeoutMs at a time. False when the peer
    // has gone or stopped reading.
    bool Send(const Frame& f, int timeoutMs = 10000) {
        if (!Open())
            return false;
        std::string data = Encode(f);
        size_t off = 0;
        while (off < data.size()) {
            ssize_t n = ::send(m_fd, data.data() + off, data.size() - off, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                off += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                pollfd p{m_fd, POLLOUT, 0};
                if (::poll(&p, 1, timeoutMs) == 1)
                    continue;
            }
            m_broken = true;
            return false;
        }
        return true;
    }

private:
    int m_fd;
    bool m_broken = false;
    std::string m_in;
    std::deque<Frame> m_frames;
};

inline uint64_t MakeId(uint32_t& counter) {
    return (static_cast<uint64_t>(static_cast<uint32_t>(::getpid())) << 32) | ++counter;
}

} // namespace wire
} // namespace afxweb
