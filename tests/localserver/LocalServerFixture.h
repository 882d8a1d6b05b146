// Helpers of the local-server tests: the started server of the process, memory files to serve,
// and plain sockets for clients that do what no polite client does.
#pragma once

#include "contentserver/ListenSocket.h"
#include "contentserver/MyMemFile.h"
#include "contentserver/ServerHost.h"

#include "tests/support/PeerProcess.h"
#include "tests/support/HttpAnswer.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WaitFor.h"

#include <gtest/gtest.h>

#include <netinet/tcp.h>
#include <poll.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace lstest {

namespace fs = std::filesystem;

// A small picture: 4 by 4 red pixels.
inline const std::string& PngBytes() {
    static const std::string png(
        "\x89\x50\x4e\x47\x0d\x0a\x1a\x0a\x00\x00\x00\x0d\x49\x48\x44\x52\x00\x00\x00\x04\x00\x00\x00\x04"
        "\x08\x02\x00\x00\x00\x26\x93\x09\x29\x00\x00\x00\x10\x49\x44\x41\x54\x78\x9c\x63\xf8\xcf\xc0\x00"
        "\x47\x0c\xc4\x71\x00\xae\x93\x0f\xf1\xd0\x5f\x23\x9e\x00\x00\x00\x00\x49\x45\x4e\x44\xae\x42\x60"
        "\x82",
        73);
    return png;
}

// Deterministic bytes with zero bytes among them.
inline std::string Payload(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}

struct MemFile {
    const char* name; // under MEMFILE_ROOT, in the program's form
    std::string data;
};

// The item the tests serve: a page that uses a style sheet, a script and a picture.
inline const std::vector<MemFile>& ItemFiles() {
    static const std::vector<MemFile> files = {
        {"mag\\77\\view1.html", "<!DOCTYPE html>\n<html><head><title>view</title>\n"
                                "<link rel=\"stylesheet\" href=\"style.css\">\n"
                                "<link rel=\"stylesheet\" href=\"other.dat\">\n"
                                "<script src=\"script.js\"></script></head>\n"
                                "<body><p id=\"styled\">styled</p><p id=\"other\">other</p>"
                                "<img id=\"pic\" src=\"cover.png\"><div id=\"result\">pending</div>\n"
                                "<script>window.addEventListener('load', function () {\n"
                                "  var img = document.getElementById('pic');\n"
                                "  document.getElementById('result').textContent =\n"
                                "    'color=' + getComputedStyle(document.getElementById('styled')).color +\n"
                                "    ';other=' + getComputedStyle(document.getElementById('other')).color +\n"
                                "    ';script=' + (window.itemScriptRan ? 'ran' : 'missing') +\n"
                                "    ';picture=' + img.naturalWidth + 'x' + img.naturalHeight;\n"
                                "});</script></body></html>\n"},
        {"mag\\77\\style.css", "#styled { color: rgb(1, 2, 3); }\n"},
        // Sent as the page type: a browser must refuse it as a style sheet.
        {"mag\\77\\other.dat", "#other { color: rgb(4, 5, 6); }\n"},
        {"mag\\77\\script.js", "window.itemScriptRan = true;\n"},
        {"mag\\77\\cover.png", PngBytes()},
        {"mag\\77\\cover.jpg", std::string("\xFF\xD8\xFF\xE0 not really a picture", 26)},
        {"mag\\77\\big.dat", Payload(100 * 1024)},
        {"mag\\77\\huge.dat", Payload(8 * 1024 * 1024)},
    };
    return files;
}

inline const MemFile& ItemFile(const std::string& tail) {
    for (const MemFile& f : ItemFiles())
        if (std::string(f.name).find(tail) != std::string::npos)
            return f;
    static MemFile none{"", ""};
    return none;
}

inline void AddItemFiles() {
    for (const MemFile& f : ItemFiles()) {
        std::string name = std::string(MEMFILE_ROOT) + f.name;
        g_MyMemFile.AddFile(MemFileWiden(name.c_str()),
                            reinterpret_cast<BYTE*>(const_cast<char*>(f.data.data())),
                            static_cast<DWORD>(f.data.size()), 32);
    }
}

// The process's server, started once through the store as the main window starts it, on a port
// of its own. Every test runs in a process of its own, but running them all in one works too.
inline int ServerPort() {
    static int port = [] {
        AddItemFiles();
        int p = PeerProcess::FreePort();
        g_nServerPort = p;
        if (!g_MyMemFile.StartServer())
            return 0;
        return p;
    }();
    return port;
}

inline int Connect(int port) {
    signal(SIGPIPE, SIG_IGN); // a write to a closed connection fails instead of ending the test
    int s = (::socket)(AF_INET, SOCK_STREAM, 0); // the POSIX call, not the Winsock stand-in
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval tv{60, 0};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), static_cast<socklen_t>(sizeof a)) != 0) {
        close(s);
        return -1;
    }
    return s;
}

inline bool WriteAll(int s, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(s, data.data() + done, data.size() - done);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

inline std::string ReadToClose(int s) {
    std::string out;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(s, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

// Sends the bytes as they are and returns everything the server sent until it closed.
inline std::string Exchange(int port, const std::string& request) {
    int s = Connect(port);
    if (s < 0)
        return "<no connection>";
    WriteAll(s, request);
    std::string answer = ReadToClose(s);
    close(s);
    return answer;
}

// Closes with a reset instead of an orderly close.
inline void Abort(int s) {
    linger l{1, 0};
    setsockopt(s, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close(s);
}

using Answer = HttpAnswer;

} // namespace lstest
