#include "tests/net/StoreFixture.h"

#include "net/StoreRequests.h"

#include <algorithm>
#include <random>
#include <set>

using namespace storetest;

namespace {

// The events of one item, in arrival order.
std::vector<WPARAM> CodesFor(const std::vector<Event>& ev, const CString& pid) {
    std::vector<WPARAM> out;
    for (auto& e : ev)
        if ((e.item != nullptr && e.itemPid == pid) || (e.code == EVT_DOWNLOAD_PROGRESS && e.p1 == pid))
            out.push_back(e.code);
    return out;
}

bool Has(const std::vector<Event>& ev, WPARAM code, const CString& pid) {
    for (auto& e : ev)
        if (e.code == code && (e.itemPid == pid || e.p1 == pid))
            return true;
    return false;
}

bool Finished(const std::vector<Event>& ev, const CString& pid) {
    for (auto& e : ev)
        if ((e.code == EVT_DOWNLOAD_PROGRESS && e.p1 == pid && e.p3 == "100") ||
            (e.code == EVT_DOWNLOAD_FAILED && e.itemPid == pid))
            return true;
    return false;
}

} // namespace

using Downloads = StoreTest;

TEST_F(Downloads, StoreItemBecomesARecordAndAPackage) {
    g_DownLoadManager.AddDownLoad("mag", "m3");
    ASSERT_TRUE(m_win->WaitFor([](auto& ev) { return Finished(ev, "m3"); }));
    ASSERT_TRUE(WaitIdle());
    auto ev = m_win->Events();
    // Added (listed at 0 before the start), then the completion's progress of 100.
    std::vector<WPARAM> want = {EVT_DOWNLOAD_ADDED, EVT_DOWNLOAD_PROGRESS};
    EXPECT_EQ(want, CodesFor(ev, "m3"));
    EXPECT_EQ(DOWN_STATE_STOPPED, ev[0].itemDown);
    CMagInfo* item = g_MagShelf.Find("mag", "m3");
    ASSERT_NE(nullptr, item);
    EXPECT_EQ(DOWN_STATE_DONE, item->down);
    EXPECT_EQ(0, g_DownLoadManager.GetRunningCount());
    // The name is in the ANSI code page in memory and UTF-8 on disk: take the one package there.
    fs::path pkg;
    for (auto& f : fs::directory_iterator(m_dir / "Down"))
        pkg = f.path();
    ASSERT_FALSE(pkg.empty());
    EXPECT_EQ(".exe", pkg.extension());
    EXPECT_NE(-1, item->savepath.Find("[m3].exe"));
    Shell("curl -s -o '" + (m_dir / "ref.exe").string() + "' '" + Base() + "/packages/m3.exe'");
    EXPECT_EQ(Sha256(m_dir / "ref.exe"), Sha256(pkg));
    EXPECT_EQ(static_cast<LONGLONG>(fs::file_size(pkg)), item->filelen);
    EXPECT_EQ(item->filelen, item->downlen);
    EXPECT_FALSE(fs::exists(pkg.string() + ".temp"));
    // The shelf file holds the finished record.
    EXPECT_NE(std::string::npos, ReadFile(m_dir / "Data" / "MagShelf.xml").find("<down>2</down>"));

    // Asked again: the record already listed comes back, and no request is made.
    m_win->Clear();
    g_DownLoadManager.AddDownLoad("mag", "m3");
    ev = m_win->Events();
    ASSERT_EQ(1u, ev.size());
    EXPECT_EQ(static_cast<WPARAM>(EVT_DOWNLOAD_EXISTS), ev[0].code);
    EXPECT_EQ(item, ev[0].item);
}

struct RequestFailure {
    const char* name;
    const char* pid;
    bool storeDown;
    bool wantRequestFailed; // 10003 before the 10005 with 0
};

class RequestFailures : public StoreTest, public ::testing::WithParamInterface<RequestFailure> {};

TEST_P(RequestFailures, ReportedAsThePartsSay) {
    const RequestFailure& c = GetParam();
    std::string saved = getenv("KESTRIN_STORE");
    if (c.storeDown)
        setenv("KESTRIN_STORE", ("http://127.0.0.1:" + std::to_string(PeerProcess::FreePort())).c_str(), 1);
    g_DownLoadManager.AddDownLoad("mag", c.pid);
    bool ok = m_win->WaitFor([](auto& ev) { return Count(ev, EVT_DOWNLOAD_EXISTS) > 0; });
    setenv("KESTRIN_STORE", saved.c_str(), 1);
    ASSERT_TRUE(ok);
    ASSERT_TRUE(WaitIdle());
    auto ev = m_win->Events();
    std::vector<WPARAM> codes;
    for (auto& e : ev)
        codes.push_back(e.code);
    std::vector<WPARAM> want;
    if (c.wantRequestFailed)
        want.push_back(EVT_ITEM_REQUEST_FAILED);
    want.push_back(EVT_DOWNLOAD_EXISTS);
    EXPECT_EQ(want, codes);
    if (c.wantRequestFailed) {
        EXPECT_EQ(CString(c.pid), ev[0].p1);
        EXPECT_EQ(CString("mag"), ev[0].p2);
        EXPECT_EQ(CString(""), ev[0].p3);
    }
    EXPECT_EQ(nullptr, ev.back().item);
    CMagInfoList list;
    g_MagShelf.GetList("mag", list);
    EXPECT_EQ(0, list.GetSize());
}

INSTANTIATE_TEST_SUITE_P(Paths, RequestFailures,
                         ::testing::Values(RequestFailure{"EmptyReply", "empty1", false, true},
                                           RequestFailure{"UnknownItem", "nosuchitem", false, true},
                                           RequestFailure{"ReplyWithoutPid", "nopid1", false, false},
                                           RequestFailure{"StoreDown", "m1", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Downloads, ReplyWithSeveralRecordsPreparesTheOneAsked) {
    g_DownLoadManager.AddDownLoad("mag", "multi1");
    ASSERT_TRUE(m_win->WaitFor([](auto& ev) { return Count(ev, EVT_DOWNLOAD_ADDED) > 0; }));
    ASSERT_TRUE(m_win->WaitFor([](auto& ev) { return Count(ev, EVT_DOWNLOAD_FAILED) > 0; }));
    ASSERT_TRUE(WaitIdle());
    auto ev = m_win->Events();
    EXPECT_EQ(CString("multi1"), ev[0].itemPid);
    CMagInfo* item = g_MagShelf.Find("mag", "multi1");
    ASSERT_NE(nullptr, item);
    EXPECT_NE(-1, item->savepath.Find("[multi1].exe"));
    // Its package does not exist on the store: a failure, not a completion.
    EXPECT_EQ(DOWN_STATE_STOPPED, item->down);
    EXPECT_EQ(0, g_DownLoadManager.GetRunningCount());
}

// A download cut at a random byte, then started again by hand, ends with the original's bytes.
struct ResumeCase {
    const char* name;
    const char* query; // "~" stands for "&" in the pid
};

class Resume : public StoreTest, public ::testing::WithParamInterface<ResumeCase> {};

TEST_P(Resume, CutAndRestartedGivesTheOriginal) {
    const size_t size = 700000;
    std::mt19937 rng(static_cast<unsigned>(std::random_device{}()));
    size_t cut = 1 + rng() % (size - 2);
    std::string pid = "blob" + std::to_string(size) + std::string(GetParam().query);
    Control("/_control/fault?cut=" + std::to_string(cut) + "&count=1");
    g_DownLoadManager.AddDownLoad("mag", pid.c_str());
    ASSERT_TRUE(m_win->WaitFor([&](auto& ev) { return Finished(ev, pid.c_str()); })) << cut;
    ASSERT_TRUE(WaitIdle());
    CMagInfo* item = g_MagShelf.Find("mag", pid.c_str());
    ASSERT_NE(nullptr, item);
    EXPECT_EQ(DOWN_STATE_STOPPED, item->down) << cut;
    fs::path pkg = LinuxPath(item->savepath);
    EXPECT_FALSE(fs::exists(pkg));
    EXPECT_EQ(cut, fs::file_size(pkg.string() + ".temp"));

    m_win->Clear();
    g_DownLoadManager.StartDownLoad("mag", pid.c_str());
    EXPECT_EQ(cut, static_cast<size_t>(item->downlen));
    ASSERT_TRUE(m_win->WaitFor([&](auto& ev) { return Finished(ev, pid.c_str()); }));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(DOWN_STATE_DONE, item->down);
    std::string want =
        Shell("curl -s '" + Base() + "/blob?size=" + std::to_string(size) + "' | sha256sum").substr(0, 64);
    EXPECT_EQ(want, Sha256(pkg)) << "cut at " << cut;
    EXPECT_EQ(static_cast<LONGLONG>(size), item->filelen);
    EXPECT_EQ(0, g_DownLoadManager.GetRunningCount());
}

INSTANTIATE_TEST_SUITE_P(Servers, Resume,
                         ::testing::Values(ResumeCase{"Ranged206", ""},
                                           ResumeCase{"IgnoresRange200", "-norange=1"},
                                           ResumeCase{"Chunked", "-chunked=1"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Downloads, StoppedAndResumedFromTheShelfState) {
    // 30 pieces of 64 KiB, 100 ms apart: time enough to stop it half way.
    std::string pid = "blob1966080-slow=100";
    g_DownLoadManager.AddDownLoad("mag", pid.c_str());
    ASSERT_TRUE(m_win->WaitFor([](auto& ev) { return Count(ev, EVT_DOWNLOAD_ADDED) > 0; }));
    CMagInfo* item = g_MagShelf.Find("mag", pid.c_str());
    ASSERT_NE(nullptr, item);
    fs::path temp = LinuxPath(item->savepath + ".temp");
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((!fs::exists(temp) || fs::file_size(temp) < 300000) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    g_DownLoadManager.Stop(nullptr, item);
    ASSERT_TRUE(m_win->WaitFor([&](auto& ev) { return Has(ev, EVT_DOWNLOAD_FAILED, pid.c_str()); }));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(DOWN_STATE_STOPPED, item->down);
    size_t have = fs::file_size(temp);
    EXPECT_GE(have, 300000u);
    EXPECT_LT(have, 1966080u);

    // The next start: the shelf loader makes it waiting, and start-up resumes it from its ".temp".
    {
        CMagShelfLock lock;
        item->down = DOWN_STATE_WAITING;
    }
    m_win->Clear();
    Control("/_control/reset");
    g_DownLoadManager.StartWaiting();
    ASSERT_TRUE(m_win->WaitFor([&](auto& ev) { return Finished(ev, pid.c_str()); }, 30000));
    ASSERT_TRUE(WaitIdle());
    auto ev = m_win->Events();
    ASSERT_FALSE(ev.empty());
    EXPECT_EQ(static_cast<WPARAM>(EVT_DOWNLOAD_STARTED), ev[0].code);
    EXPECT_EQ(DOWN_STATE_DONE, item->down);
    std::string log = Control("/_control/log");
    EXPECT_NE(std::string::npos, log.find("GET /blob?size=1966080&slow=100")) << log;
    std::string want = Shell("curl -s '" + Base() + "/blob?size=1966080' | sha256sum").substr(0, 64);
    EXPECT_EQ(want, Sha256(LinuxPath(item->savepath)));
}

TEST_F(Downloads, DISABLED_SevenRequestedFiveRunTwoWaitForAHand) {
    std::vector<std::string> pids;
    for (int i = 1; i <= 7; ++i)
        pids.push_back("blob400000-slow=500~n=" + std::to_string(i));
    for (auto& p : pids)
        g_DownLoadManager.AddDownLoad("mag", p.c_str());
    ASSERT_TRUE(m_win->WaitFor([](auto& ev) { return Count(ev, EVT_DOWNLOAD_ADDED) == 7; }));
    int loading = 0, stopped = 0;
    for (auto& p : pids) {
        CMagInfo* item = g_MagShelf.Find("mag", p.c_str());
        ASSERT_NE(nullptr, item);
        CMagShelfLock lock;
        loading +=
            item->down == DOWN_STATE_LOADING || item->down == DOWN_STATE_DONE; // a fast one may be done
        stopped += item->down == DOWN_STATE_STOPPED;
    }
    EXPECT_EQ(5, loading);
    EXPECT_EQ(2, stopped);
    EXPECT_GE(5, g_DownLoadManager.GetRunningCount());
    // Started by hand while five run: a sixth runs.
    CString sixth;
    for (auto& p : pids)
        if (g_MagShelf.Find("mag", p.c_str())->down == DOWN_STATE_STOPPED) {
            sixth = p.c_str();
            break;
        }
    int before = g_DownLoadManager.GetRunningCount();
    g_DownLoadManager.StartDownLoad("mag", sixth);
    int after = g_DownLoadManager.GetRunningCount();
    EXPECT_LE(before + 1 - 1, after); // one more, unless a running one ended meanwhile
    EXPECT_EQ(DOWN_STATE_LOADING, g_MagShelf.Find("mag", sixth)->down);
    // Starting one that already loads changes nothing.
    int again = g_DownLoadManager.GetRunningCount();
    g_DownLoadManager.StartDownLoad("mag", sixth);
    EXPECT_GE(again, g_DownLoadManager.GetRunningCount());
    ASSERT_TRUE(m_win->WaitFor(
        [](auto& ev) {
            size_t done = 0;
            for (auto& e : ev)
                done += e.code == EVT_DOWNLOAD_PROGRESS && e.p3 == "100";
            return done == 6;
        },
        30000));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(0, g_DownLoadManager.GetRunningCount());
    // A record listed at 0 is not started by a completion.
    int left = 0;
    for (auto& p : pids)
        left += g_MagShelf.Find("mag", p.c_str())->down == DOWN_STATE_STOPPED;
    EXPECT_EQ(1, left);
}

TEST_F(Downloads, SevenWaitingAtStartUpRunFiveAtATime) {
    std::vector<CMagInfo*> items;
    for (int i = 1; i <= 7; ++i) {
        auto* item = new CMagInfo;
        item->pid.Format("w%d", i);
        item->type = "mag";
        item->name = "waiting";
        item->load_url.Format("%s/blob?size=300000&slow=400&seed=%d", Base().c_str(), i);
        item->savepath =
            CDownLoadManager::BuildPackagePath(g_AppPathInfo.GetDownloadFolder(), item->name, "", item->pid);
        item->down = DOWN_STATE_WAITING;
        g_MagShelf.Add(item, "mag", FALSE);
        items.push_back(item);
    }
    g_DownLoadManager.StartWaiting();
    EXPECT_EQ(5, g_DownLoadManager.GetRunningCount());
    ASSERT_TRUE(m_win->WaitFor(
        [](auto& ev) {
            size_t done = 0;
            for (auto& e : ev)
                done += e.code == EVT_DOWNLOAD_PROGRESS && e.p3 == "100";
            return done == 7;
        },
        30000));
    ASSERT_TRUE(WaitIdle());
    auto ev = m_win->Events();
    EXPECT_EQ(7u, Count(ev, EVT_DOWNLOAD_STARTED));
    // Never more than five at once, and each item: started, then progress, ending at 100.
    int running = 0, most = 0;
    for (auto& e : ev) {
        if (e.code == EVT_DOWNLOAD_STARTED)
            most = std::max(most, ++running);
        if (e.code == EVT_DOWNLOAD_PROGRESS && e.p3 == "100")
            --running;
    }
    EXPECT_EQ(5, most);
    for (CMagInfo* item : items) {
        auto codes = CodesFor(ev, item->pid);
        ASSERT_FALSE(codes.empty());
        EXPECT_EQ(static_cast<WPARAM>(EVT_DOWNLOAD_STARTED), codes.front()) << item->pid;
        EXPECT_EQ(static_cast<WPARAM>(EVT_DOWNLOAD_PROGRESS), codes.back()) << item->pid;
        EXPECT_EQ(DOWN_STATE_DONE, item->down);
        std::string want = Shell("curl -s '" + std::string(item->load_url) + "' | sha256sum").substr(0, 64);
        EXPECT_EQ(want, Sha256(LinuxPath(item->savepath))) << item->pid;
    }
    // The middle ones start only after a completion (the first five start at once).
    EXPECT_EQ(0, g_DownLoadManager.GetRunningCount());
}

TEST_F(Downloads, SlowDownloadReportsProgressWithPercent) {
    // 8 pieces of 64 KiB, 400 ms apart: about 3 s, so at least one report after 2 s.
    std::string pid = "blob524288-slow=400";
    g_DownLoadManager.AddDownLoad("book", pid.c_str());
    ASSERT_TRUE(m_win->WaitFor([&](auto& ev) { return Finished(ev, pid.c_str()); }, 30000));
    ASSERT_TRUE(WaitIdle());
    std::vector<int> percents;
    for (auto& e : m_win->Events())
        if (e.code == EVT_DOWNLOAD_PROGRESS) {
            EXPECT_EQ(CString("book"), e.p2);
            percents.push_back(atoi(e.p3));
        }
    ASSERT_GE(percents.size(), 2u);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_GT(percents.front(), 0);
    EXPECT_LT(percents.front(), 100);
    EXPECT_EQ(100, percents.back());
}

TEST_F(Downloads, ProgressWithAnUnknownTotalIsZeroPercent) {
    auto* item = new CMagInfo;
    item->pid = "nolength";
    item->type = "mag";
    g_MagShelf.Add(item, "mag", FALSE);
    EXPECT_EQ(1, CDownLoadManager::OnDownLoadProgress(item, 5000, 0));
    auto ev = m_win->Events();
    ASSERT_EQ(1u, ev.size());
    EXPECT_EQ(CString("0"), ev[0].p3);
    EXPECT_EQ(5000, item->downlen);
}

TEST_F(Downloads, ExitReleasesABlockedSenderAndWaitsForWorkers) {
    // The main window lives on this thread and does not pump, as during its exit handling.
    g_pMainDlg.Clear();
    // The class was registered by the fixture's window.
    EventWindow* self = m_win;
    HWND h = CreateWindowExA(0, "KestrinEventRecorder", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                             nullptr);
    ASSERT_NE(nullptr, h);
    SetWindowLongPtrA(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    g_pMainDlg.Set(h);
    g_DownLoadManager.AddDownLoad("mag", "blob3000000-slow=200");
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (g_pMainDlg.GetWaitingSenders() == 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(1, g_pMainDlg.GetWaitingSenders());
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(g_DownLoadManager.Shutdown(10000));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(8));
    EXPECT_EQ(0, g_DownLoadManager.GetWorkerCount());
    EXPECT_EQ(0, g_DownLoadManager.GetRunningCount());
    // After the target is cleared a send reaches nobody.
    EXPECT_EQ(0, g_pMainDlg.SendEvent(EVT_DOWNLOAD_EXISTS, 0));
    DestroyWindow(h);
}

TEST(FileNames, UnsafeStoreTextsBecomeSafeNames) {
    struct Case {
        const char* in;
        const char* want;
    } cases[] = {
        {"plain name", "plain name"},
        {"a\\b/c:d*e?f\"g<h>i|j", "a_b_c_d_e_f_g_h_i_j"},
        {"..", "__"},
        {".", "_"},
        {"...", "..."},
        {"tab\there", "tab_here"},
        {"\xD5\x5C\xB0\xA1", "\xD5\x5C\xB0\xA1"}, // GBK characters whose trail byte is "\" stay whole
    };
    for (auto& c : cases)
        EXPECT_EQ(CString(c.want), CDownLoadManager::SafeFileNamePart(c.in)) << c.in;
    EXPECT_EQ(255, CDownLoadManager::SafeFileNamePart(CString(std::string(600, 'x').c_str())).GetLength());
    // A double-byte character is never cut at the cap.
    std::string longGbk = "xx" + std::string(300, '\xB0');
    CString capped = CDownLoadManager::SafeFileNamePart(longGbk.c_str());
    EXPECT_EQ(254, capped.GetLength());
    EXPECT_EQ(CString("\\d\\Down\\____[__].exe"),
              CDownLoadManager::BuildPackagePath("\\d\\Down\\", "..", "..", ".."));
    EXPECT_EQ(CString("\\d\\Images\\mag\\_.._etc.jpg"),
              CDownLoadManager::BuildCoverPath("\\d\\Images", "mag", "/../etc"));
}
