// The local server and the HTTP client beside stock programs on loopback:
// - requests per second for a 100 KB page picture of an item package, loaded into the memory
//   files as the reader loads one, HTTP/1.0, one request per connection, beside nginx (one
//   worker, keep-alive off, the same file on disk) with sendfile off, with sendfile on, and with
//   sendfile and tcp_nopush on (its best for this work), all under wrk -t2 -c32, in alternating
//   rounds of 6 s whose medians count;
// - the client's download rate for a 200 MB file from nginx, beside curl's.
// Prints the figures and their ratios; asserts nothing.
//
//   http_bench            everything above
//   http_bench server     the local server alone under wrk, for a sampling profiler
//   http_bench profile S  the local server alone under one wrk run of S seconds, then the count
//                         of answers: for an instruction profiler (valgrind --tool=callgrind
//                         --separate-threads=yes), whose server thread's count divided by the
//                         answers does not depend on the machine's load
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
#include <vector>

namespace fs = std::filesystem;

namespace {

const size_t kPageSize = 100 * 1024;
const int kPageCount = 40;
const size_t kDownloadSize = 200u * 1024 * 1024;
const char* const kPagePath = "/mag/77/p20.jpg";
const int kThreads = 2;
const int kConnections = 32;
const int kSeconds = 6;
const int kRounds = 3;
const int kDownloadRounds = 3;

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Page n's bytes: deterministic, with zero bytes among them, different for every page.
std::string PageBytes(int n) {
    std::string page(kPageSize, '\0');
    for (size_t i = 0; i < page.size(); ++i)
        page[i] = static_cast<char>((i * 7 + i / 251 + static_cast<size_t>(n)) & 0xFF);
    return page;
}

// The item's files as a store package holds them: two reading pages, a cover and the page
// pictures. Written into `folder`, which both the package writer and nginx read.
bool WriteItemFiles(const fs::path& folder) {
    fs::create_directories(folder);
    std::string reading = "<html><head><title>item</title></head><body>";
    for (int n = 1; n <= kPageCount; ++n)
        reading += "<img src=\"p" + std::to_string(n) + ".jpg\">";
    reading += "</body></html>\n";
    WriteFileBytes(folder / "view1.html", reading);
    WriteFileBytes(folder / "view2.html", reading);
    WriteFileBytes(folder / "1.jpg", PageBytes(0).substr(0, 20000));
    for (int n = 1; n <= kPageCount; ++n)
        WriteFileBytes(folder / ("p" + std::to_string(n) + ".jpg"), PageBytes(n));
    return fs::exists(folder / "p20.jpg");
}

// Packs the folder into an item package with the project's package writer; "" when it failed.
std::string MakeItemPackage(const fs::path& dir, const fs::path& folder) {
    const fs::path exe = dir / "item.exe";
    int status = -1;
    RunCommand(std::string(KESTRIN_PYTHON " '") + PROJECT_SOURCE_DIR +
                   "/tools/packwriter/kestrin_pack.py' exe -o '" + exe.string() + "' --package 188='" +
                   folder.string() + "'",
               &status);
    return status == 0 && fs::exists(exe) ? exe.string() : std::string();
}

std::string WriteScript(const fs::path& dir) {
    fs::path script = dir / "http10.lua";
    std::ofstream(script) << "local req = \"GET " << kPagePath
                          << " HTTP/1.0\\r\\nHost: 127.0.0.1\\r\\n\\r\\n\"\n"
                          << "request = function() return req end\n";
    return script.string();
}

struct WrkResult {
    double rate = -1; // requests per second; -1 when wrk could not run
    long requests = 0;
    std::string notes; // its error lines, or its whole output when it failed
};

WrkResult Wrk(const std::string& script, int port, int seconds) {
    std::string out = RunCommand("wrk -t" + std::to_string(kThreads) + " -c" + std::to_string(kConnections) +
                                 " -d" + std::to_string(seconds) + "s -s '" + script +
                                 "' http://127.0.0.1:" + std::to_string(port) + kPagePath + " 2>&1");
    WrkResult r;
    size_t at = out.find("Socket errors");
    if (at != std::string::npos)
        r.notes += out.substr(at, out.find('\n', at) - at) + " ";
    at = out.find("Non-2xx");
    if (at != std::string::npos)
        r.notes += out.substr(at, out.find('\n', at) - at);
    at = out.find(" requests in ");
    if (at != std::string::npos) {
        size_t start = out.rfind('\n', at);
        r.requests = std::atol(out.c_str() + (start == std::string::npos ? 0 : start + 1));
    }
    at = out.find("Requests/sec:");
    if (at == std::string::npos) {
        r.notes += out;
        return r;
    }
    r.rate = std::atof(out.c_str() + at + 13);
    return r;
}

// One server's rounds: the median rate, and the notes of the round that gave it.
struct Series {
    std::string label;
    int port = 0;
    std::vector<WrkResult> rounds;
    WrkResult Median() const {
        std::vector<WrkResult> sorted = rounds;
        std::sort(sorted.begin(), sorted.end(),
                  [](const WrkResult& a, const WrkResult& b) { return a.rate < b.rate; });
        return sorted.empty() ? WrkResult{} : sorted[sorted.size() / 2];
    }
};

// The answer's body when the server answers the page with 200, else "".
std::string FetchPage(int port) {
    std::string url = "http://127.0.0.1:" + std::to_string(port) + kPagePath;
    return RunCommand("curl -s -0 --fail '" + url + "'");
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const int profileSeconds = mode == "profile" && argc > 2 ? std::atoi(argv[2]) : 0;
    const bool serverOnly = mode == "server" || profileSeconds > 0;
    if (!NginxInstalled() || RunCommand("command -v wrk").empty()) {
        printf("http_bench: nginx or wrk is missing (tools/install-deps.sh bench installs them)\n");
        return 0;
    }
    char tmpl[] = "/tmp/httpbench-XXXXXX";
    if (mkdtemp(tmpl) == nullptr)
        return 1;
    fs::path dir = tmpl;
    const fs::path itemFolder = dir / "www" / "mag" / "77";
    if (!WriteItemFiles(itemFolder)) {
        printf("http_bench: the item's files could not be written\n");
        return 1;
    }
    const std::string package = MakeItemPackage(dir, itemFolder);
    // The local server, started as the program starts it, with the item loaded as the reader
    // loads one: the store cleared, then the package under the item's type and id.
    g_MyMemFile.RemoveAll();
    if (package.empty() ||
        !g_MyMemFile.LoadPackage(CString(AfxUnmapPath(package)), MemFileWiden(MEMFILE_ROOT "mag\\77\\"))) {
        printf("http_bench: the item package could not be made or loaded\n");
        return 1;
    }
    g_nServerPort = PeerProcess::FreePort();
    if (!g_MyMemFile.StartServer()) {
        printf("http_bench: the local server did not start\n");
        return 1;
    }
    const std::string expected = PageBytes(20);
    if (FetchPage(g_nServerPort) != expected)
        printf("http_bench: the local server does not answer the page with its bytes\n");

    const std::string script = WriteScript(dir);
    if (profileSeconds > 0) {
        WrkResult r = Wrk(script, g_nServerPort, profileSeconds);
        printf("local server: %ld answers, %.0f req/s %s\n", r.requests, r.rate, r.notes.c_str());
        std::error_code ec;
        fs::remove_all(dir, ec);
        return 0;
    }

    // Each nginx has a folder of its own for its configuration and logs; all serve one www.
    struct NginxSetup {
        const char* name;
        const char* label;
        const char* config;
    };
    const NginxSetup setups[] = {
        {"plain", "nginx, one worker, keep-alive off, its default sendfile off",
         "keepalive_timeout 0; sendfile off;"},
        {"sendfile", "nginx, one worker, keep-alive off, sendfile on", "keepalive_timeout 0; sendfile on;"},
        {"nopush", "nginx, one worker, keep-alive off, sendfile on, tcp_nopush on (its best)",
         "keepalive_timeout 0; sendfile on; tcp_nopush on;"},
    };
    std::vector<Series> series;
    series.push_back(
        Series{"local server, 100 KB memory file of a loaded item package, HTTP/1.0, one request per "
               "connection",
               g_nServerPort,
               {}});
    std::vector<std::unique_ptr<PeerProcess>> nginxes;
    for (const NginxSetup& s : setups) {
        if (serverOnly)
            break;
        fs::path own = dir / s.name;
        fs::create_directories(own);
        fs::create_directory_symlink(dir / "www", own / "www");
        int port = PeerProcess::FreePort();
        nginxes.push_back(std::make_unique<PeerProcess>());
        if (!StartNginx(*nginxes.back(), own, port, s.config, 1024)) {
            printf("http_bench: nginx (%s) did not start\n", s.config);
            return 1;
        }
        if (FetchPage(port) != expected)
            printf("http_bench: nginx (%s) does not answer the page with its bytes\n", s.config);
        series.push_back(Series{s.label, port, {}});
    }
    // Rounds alternate between the servers and the medians count, so a burst of other work on
    // the machine weighs on all alike and one disturbed round does not decide.
    for (int round = 0; round < kRounds; ++round)
        for (Series& s : series)
            s.rounds.push_back(Wrk(script, s.port, kSeconds));
    const WrkResult ours = series[0].Median();
    printf("wrk -t%d -c%d, %d rounds of %d s, medians:\n", kThreads, kConnections, kRounds, kSeconds);
    printf("%s: %.0f req/s %s\n", series[0].label.c_str(), ours.rate, ours.notes.c_str());
    for (size_t i = 1; i < series.size(); ++i) {
        const WrkResult theirs = series[i].Median();
        printf("%s, the same file on disk: %.0f req/s %s\n", series[i].label.c_str(), theirs.rate,
               theirs.notes.c_str());
        if (ours.rate > 0 && theirs.rate > 0)
            printf("  local server / this nginx: %.2fx\n", ours.rate / theirs.rate);
    }
    if (serverOnly)
        return 0;

    // Downloads of a 200 MB file from nginx: the client's DownloadFile and curl, best of three.
    {
        std::ofstream big(dir / "www" / "big.bin", std::ios::binary);
        std::string block(1 << 20, 'b');
        for (size_t i = 0; i < kDownloadSize / block.size(); ++i)
            big << block;
    }
    const std::string url = "http://127.0.0.1:" + std::to_string(series[1].port) + "/big.bin";
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

    nginxes.clear();
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
