// The local server and the HTTP client beside stock programs on loopback:
// - requests per second for a 100 KB memory file, HTTP/1.0, one request per connection, beside
//   nginx (one worker, keep-alive off, the same file on disk) with sendfile off and with it on,
//   all under wrk;
// - the client's download rate for a 200 MB file from nginx, beside curl's.
// Prints the figures and their ratios; asserts nothing.
#include "contentserver/MyMemFile.h"
#include "contentserver/ServerHost.h"
#include "net/MyHttp.h"

#include "tests/support/NginxPeer.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/TestFiles.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

const size_t kPageSize = 100 * 1024;
const size_t kDownloadSize = 200u * 1024 * 1024;
const char* const kPagePath = "/mag/77/page1.jpg";
const int kConnections = 32;
const int kSeconds = 3;
const int kRounds = 3;
const int kDownloadRounds = 3;

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Requests per second that wrk reports; -1 when it could not run. Its error lines go along.
double Wrk(const fs::path& dir, int port, std::string& notes) {
    fs::path script = dir / "http10.lua";
    std::ofstream(script) << "request = function()\n  return \"GET " << kPagePath
                          << " HTTP/1.0\\r\\nHost: 127.0.0.1\\r\\n\\r\\n\"\nend\n";
    std::string out =
        RunCommand("wrk -t2 -c" + std::to_string(kConnections) + " -d" + std::to_string(kSeconds) + "s -s '" +
                   script.string() + "' http://127.0.0.1:" + std::to_string(port) + kPagePath + " 2>&1");
    notes.clear();
    size_t at = out.find("Socket errors");
    if (at != std::string::npos)
        notes += out.substr(at, out.find('\n', at) - at) + " ";
    at = out.find("Non-2xx");
    if (at != std::string::npos)
        notes += out.substr(at, out.find('\n', at) - at);
    at = out.find("Requests/sec:");
    if (at == std::string::npos) {
        notes += out;
        return -1;
    }
    return std::atof(out.c_str() + at + 13);
}

} // namespace

// With the argument "server" only the local server is measured (for a profiler).
int main(int argc, char** argv) {
    const bool serverOnly = argc > 1 && std::string(argv[1]) == "server";
    if (!NginxInstalled() || RunCommand("command -v wrk").empty()) {
        printf("http_bench: nginx or wrk is missing (tools/install-deps.sh bench installs them)\n");
        return 0;
    }
    char tmpl[] = "/tmp/httpbench-XXXXXX";
    if (mkdtemp(tmpl) == nullptr)
        return 1;
    fs::path dir = tmpl;
    fs::create_directories(dir / "www" / "mag" / "77");

    std::string page(kPageSize, '\0');
    for (size_t i = 0; i < page.size(); ++i)
        page[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    std::ofstream(dir / "www" / "mag" / "77" / "page1.jpg", std::ios::binary) << page;

    // The local server, started as the program starts it, with the page as a memory file.
    // Its bytes are held as a loaded package's are, so answers send them as they send an item's.
    auto bytes = std::make_shared<CMemFileBytes>(reinterpret_cast<const BYTE*>(page.data()),
                                                 static_cast<DWORD>(page.size()));
    g_MyMemFile.AddFile(MemFileWiden(MEMFILE_ROOT "mag\\77\\page1.jpg"), bytes->GetData(),
                        static_cast<DWORD>(page.size()), 32);
    static_cast<CMemFileEntry*>(g_MyMemFile.m_arrEntries[0])->pBytes = bytes;
    g_nServerPort = PeerProcess::FreePort();
    if (!g_MyMemFile.StartServer()) {
        printf("http_bench: the local server did not start\n");
        return 1;
    }
    // Each nginx has a folder of its own for its configuration and logs; both serve one www.
    int nginxPort = PeerProcess::FreePort();
    PeerProcess nginx;
    if (!serverOnly && !StartNginx(nginx, dir, nginxPort, "keepalive_timeout 0; sendfile off;", 1024)) {
        printf("http_bench: nginx did not start\n");
        return 1;
    }
    fs::path sendfileDir = dir / "sendfile";
    fs::create_directories(sendfileDir);
    fs::create_directory_symlink(dir / "www", sendfileDir / "www");
    int sendfilePort = PeerProcess::FreePort();
    PeerProcess nginxSendfile;
    if (!serverOnly &&
        !StartNginx(nginxSendfile, sendfileDir, sendfilePort, "keepalive_timeout 0; sendfile on;", 1024)) {
        printf("http_bench: nginx with sendfile did not start\n");
        return 1;
    }
    // Rounds alternate between the servers and the best of each counts, so a burst of other
    // work on the machine weighs on all alike.
    std::string notes, theirNotes, sendfileNotes;
    double ours = 0, theirs = 0, sendfile = 0;
    for (int round = 0; round < kRounds; ++round) {
        std::string n;
        double r = Wrk(dir, g_nServerPort, n);
        if (r > ours) {
            ours = r;
            notes = n;
        }
        if (serverOnly)
            continue;
        r = Wrk(dir, nginxPort, n);
        if (r > theirs) {
            theirs = r;
            theirNotes = n;
        }
        r = Wrk(dir, sendfilePort, n);
        if (r > sendfile) {
            sendfile = r;
            sendfileNotes = n;
        }
    }
    printf(
        "local server, 100 KB memory file, HTTP/1.0, one request per connection, wrk -c%d: %.0f req/s %s\n",
        kConnections, ours, notes.c_str());
    if (serverOnly)
        return 0;
    printf(
        "nginx, one worker, keep-alive off, its default sendfile off, the same file on disk: %.0f req/s %s\n",
        theirs, theirNotes.c_str());
    printf("nginx, one worker, keep-alive off, sendfile on, the same file on disk: %.0f req/s %s\n", sendfile,
           sendfileNotes.c_str());
    if (ours > 0 && theirs > 0)
        printf("local server / nginx: %.2fx\n", ours / theirs);
    if (ours > 0 && sendfile > 0)
        printf("local server / nginx with sendfile: %.2fx\n", ours / sendfile);

    // Downloads of a 200 MB file from nginx: the client's DownloadFile and curl, best of three.
    {
        std::ofstream big(dir / "www" / "big.bin", std::ios::binary);
        std::string block(1 << 20, 'b');
        for (size_t i = 0; i < kDownloadSize / block.size(); ++i)
            big << block;
    }
    const std::string url = "http://127.0.0.1:" + std::to_string(nginxPort) + "/big.bin";
    const fs::path target = dir / "down.bin";
    std::string winTarget = target.string();
    std::replace(winTarget.begin(), winTarget.end(), '/', '\\');
    double best = 0, bestCurl = 0;
    for (int round = 0; round < kDownloadRounds; ++round) {
        fs::remove(target);
        auto t0 = std::chrono::steady_clock::now();
        CMyHttp http;
        int result = http.DownloadFile(url.c_str(), nullptr, 0, "", winTarget.c_str());
        double s = Seconds(t0);
        if (result == MYHTTP_OK && fs::file_size(target) == kDownloadSize)
            best = std::max(best, kDownloadSize / s);
        fs::remove(target);
        t0 = std::chrono::steady_clock::now();
        RunCommand("curl -s -o '" + target.string() + "' '" + url + "'");
        s = Seconds(t0);
        if (fs::exists(target) && fs::file_size(target) == kDownloadSize)
            bestCurl = std::max(bestCurl, kDownloadSize / s);
    }
    printf("client download of 200 MB from nginx: %.0f MB/s; curl: %.0f MB/s\n", best / 1e6, bestCurl / 1e6);
    if (best > 0 && bestCurl > 0)
        printf("client / curl: %.2fx\n", best / bestCurl);

    nginx.Stop();
    nginxSendfile.Stop();
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
