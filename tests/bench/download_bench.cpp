// One 200 MB package from the replacement store on loopback: its rate through the download
// manager (worker, ".temp" file, move into place, completion) beside curl's rate for the same
// address, as a ratio; and the manager's rate with and without the progress callback (reports
// every 2 s, each a window message to a main window on its own thread and a shelf save).
#include "foundation/AppPathInfo.h"
#include "library/MagShelf.h"
#include "net/AppMessages.h"
#include "net/DownLoadManager.h"
#include "platform/user/User.h"

#include "tests/support/PeerProcess.h"
#include "tests/support/TestFiles.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

namespace fs = std::filesystem;

namespace {

const long long kSize = 200LL * 1024 * 1024;
const int kRounds = 5;

std::mutex s_lock;
std::condition_variable s_done;
bool s_finished = false;
int s_result = 0;
std::atomic<int> s_reports{0};
std::atomic<int> s_events{0};

void Done(void* context, CString path, int result, BOOL stopped) {
    CDownLoadManager::OnDownLoadDone(context, path, result, stopped);
    std::lock_guard<std::mutex> guard(s_lock);
    s_finished = true;
    s_result = result;
    s_done.notify_all();
}

int Progress(void* context, LONGLONG done, LONGLONG total) {
    ++s_reports;
    return CDownLoadManager::OnDownLoadProgress(context, done, total);
}

LRESULT MainProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    if (msg == WM_APP_EVENT) {
        ++s_events;
        return 0;
    }
    return DefWindowProcA(h, msg, w, l);
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double MegabytesPerSecond(double seconds) {
    return static_cast<double>(kSize) / (1024.0 * 1024.0) / seconds;
}

// Seconds for one transfer through the manager, or a negative number when it failed.
double ThroughManager(CMagInfo* item, const std::string& url, bool withProgress) {
    {
        CMagShelfLock lock;
        item->down = DOWN_STATE_LOADING;
        item->downlen = 0;
        item->filelen = 0;
    }
    {
        std::lock_guard<std::mutex> guard(s_lock);
        s_finished = false;
    }
    g_nDownLoadCount = 1;
    auto t0 = std::chrono::steady_clock::now();
    g_DownLoadManager.StartDownLoadThread(item, url.c_str(), item->savepath, 0, Done,
                                          withProgress ? Progress : nullptr);
    std::unique_lock<std::mutex> lock(s_lock);
    s_done.wait(lock, [] { return s_finished; });
    double t = Seconds(t0);
    return s_result == MYHTTP_OK ? t : -1;
}

} // namespace

int main() {
    char tmpl[] = "/tmp/dlbench-XXXXXX";
    if (mkdtemp(tmpl) == nullptr)
        return 1;
    fs::path dir = tmpl;
    fs::create_directories(dir / "Down");
    std::string win(WinPath(dir));
    g_AppPathInfo.m_strMagShelfXml = (win + "\\MagShelf.xml").c_str();
    g_AppPathInfo.m_strBookShelfXml = (win + "\\BookShelf.xml").c_str();
    g_AppPathInfo.m_strMagNewReadXml = (win + "\\MagNewRead.xml").c_str();
    g_AppPathInfo.m_strBookNewReadXml = (win + "\\BookNewRead.xml").c_str();
    g_AppPathInfo.SetDownloadFolder((win + "\\Down").c_str());

    PeerProcess store;
    if (!store.Start({"python3", std::string(PROJECT_SOURCE_DIR) + "/tools/store/kestrin_store.py",
                      "--watch-stdin"})) {
        std::printf("the store did not start\n");
        return 1;
    }
    std::string url =
        "http://127.0.0.1:" + std::to_string(store.Port()) + "/blob?size=" + std::to_string(kSize);

    // The main window: a window of the platform layer on a thread of its own.
    HWND hMain = nullptr;
    DWORD mainThread = 0;
    std::thread ui([&] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = MainProc;
        wc.lpszClassName = "KestrinBenchMain";
        RegisterClassA(&wc);
        HWND h = CreateWindowExA(0, "KestrinBenchMain", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                 nullptr);
        {
            std::lock_guard<std::mutex> guard(s_lock);
            hMain = h;
            mainThread = GetCurrentThreadId();
        }
        s_done.notify_all();
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0)
            DispatchMessageA(&msg);
        DestroyWindow(h);
    });
    {
        std::unique_lock<std::mutex> lock(s_lock);
        s_done.wait(lock, [&] { return hMain != nullptr; });
    }
    g_pMainDlg.Set(hMain);

    auto* item = new CMagInfo;
    item->pid = "bench";
    item->type = "mag";
    item->name = "bench";
    item->load_url = url.c_str();
    item->savepath =
        CDownLoadManager::BuildPackagePath(g_AppPathInfo.GetDownloadFolder(), "bench", "", "bench");
    g_MagShelf.Add(item, "mag", FALSE);

    fs::path curlOut = dir / "curl.bin";
    std::string curl = "curl -s -o '" + curlOut.string() + "' '" + url + "'";
    // The store makes the blob once and keeps it; the first fetch is not timed.
    if (std::system(curl.c_str()) != 0) {
        std::printf("curl failed\n");
        return 1;
    }

    double bestCurl = 1e9, bestWith = 1e9, bestWithout = 1e9;
    int reports = 0;
    for (int round = 0; round < kRounds; ++round) {
        auto t0 = std::chrono::steady_clock::now();
        int rc = std::system(curl.c_str());
        double t = Seconds(t0);
        if (rc == 0 && fs::file_size(curlOut) == static_cast<uintmax_t>(kSize))
            bestCurl = std::min(bestCurl, t);
        fs::remove(curlOut);

        s_reports = 0;
        t = ThroughManager(item, url, true);
        if (t > 0)
            bestWith = std::min(bestWith, t);
        reports = std::max(reports, s_reports.load());
        t = ThroughManager(item, url, false);
        if (t > 0)
            bestWithout = std::min(bestWithout, t);
    }

    std::printf("package of %lld bytes from the replacement store on loopback, best of %d rounds\n", kSize,
                kRounds);
    std::printf("  curl                                 %8.1f MB/s\n", MegabytesPerSecond(bestCurl));
    std::printf("  download manager, progress callback  %8.1f MB/s  (ratio to curl %.2f; %d reports)\n",
                MegabytesPerSecond(bestWith), bestCurl / bestWith, reports);
    std::printf("  download manager, no callback        %8.1f MB/s  (ratio to curl %.2f)\n",
                MegabytesPerSecond(bestWithout), bestCurl / bestWithout);
    std::printf("  progress-report overhead             %8.1f %%  (%d window messages handled%s)\n",
                (bestWith / bestWithout - 1.0) * 100.0, s_events.load(),
                reports == 0 ? "; no report fell within a transfer, so this is run-to-run spread" : "");

    // A transfer this fast ends before the first report is due (one every 2 s), so the cost of
    // one report is measured on its own: a window message handled on the main window's thread and
    // the shelf file saved.
    const int kReports = 500;
    int eventsBefore = s_events.load();
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 1; i <= kReports; ++i)
        CDownLoadManager::OnDownLoadProgress(item, static_cast<LONGLONG>(i) * 1000, kSize);
    double perReport = Seconds(t0) / kReports;
    std::printf(
        "  one progress report                  %8.1f us  (%d messages; %.4f %% of a 2 s report period)\n",
        perReport * 1e6, s_events.load() - eventsBefore, perReport / 2.0 * 100.0);

    g_pMainDlg.Clear();
    PostThreadMessageA(mainThread, WM_QUIT, 0, 0);
    ui.join();
    store.Stop();
    fs::remove_all(dir);
    return 0;
}
