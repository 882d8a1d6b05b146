// Shared by the download tests: the replacement store on loopback, a data folder of its own for
// every test, and a stand-in main window on a thread of its own that records application events.
#pragma once

#include "foundation/AppPathInfo.h"
#include "library/MagShelf.h"
#include "net/AppMessages.h"
#include "net/DownLoadManager.h"
#include "net/MyHttp.h"
#include "platform/kernel/FileSys.h"
#include "platform/user/User.h"

#include "tests/net/StorePeer.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WaitFor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace storetest {

namespace fs = std::filesystem;

// The shared file helpers, under the names these tests use.
inline std::string ReadFile(const fs::path& p) {
    return ReadFileBytes(p);
}
inline void WriteFile(const fs::path& p, const std::string& s) {
    WriteFileBytes(p, s);
}

inline std::string Sha256(const fs::path& p) {
    std::string out = RunCommand("sha256sum '" + p.string() + "' 2>/dev/null");
    return out.substr(0, 64);
}

struct Event {
    WPARAM code = 0;
    CString p1, p2, p3;       // a CMsgInfo payload
    CMagInfo* item = nullptr; // a CMagInfo payload
    CString itemPid;
    CString itemType;
    CString itemSavepath;
    int itemDown = -1; // the record's state when the event came (a CMsgInfo's record too)
};

// Gtest prints the cases of a parameterized test by their name.
#define STORETEST_PRINT_BY_NAME(Type)                                                                        \
    inline void PrintTo(const Type& c, std::ostream* os) {                                                   \
        *os << c.name;                                                                                       \
    }

// A window of the platform layer on its own thread, recording every WM_APP_EVENT.
class EventWindow {
public:
    EventWindow() {
        std::mutex m;
        std::condition_variable cv;
        bool ready = false;
        m_thread = std::thread([&] {
            static bool registered = false;
            if (!registered) {
                WNDCLASSA wc{};
                wc.lpfnWndProc = &EventWindow::Proc;
                wc.lpszClassName = "KestrinEventRecorder";
                RegisterClassA(&wc);
                registered = true;
            }
            HWND h = CreateWindowExA(0, "KestrinEventRecorder", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     nullptr, nullptr);
            SetWindowLongPtrA(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
            {
                // Notified under the lock: the constructor's locals go once it sees ready.
                std::lock_guard<std::mutex> g(m);
                m_hWnd = h;
                ready = true;
                cv.notify_all();
            }
            MSG msg;
            while (GetMessageA(&msg, nullptr, 0, 0) > 0)
                DispatchMessageA(&msg);
            DestroyWindow(h);
        });
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return ready; });
        m_threadId = GetWindowThreadProcessId(m_hWnd, nullptr);
    }
    ~EventWindow() {
        PostThreadMessageA(m_threadId, WM_QUIT, 0, 0);
        m_thread.join();
    }
    HWND Hwnd() const { return m_hWnd; }
    std::vector<Event> Events() {
        std::lock_guard<std::mutex> g(m_lock);
        return m_events;
    }
    // Waits until pred holds over the events, at most ms; returns whether it held.
    bool WaitFor(const std::function<bool(const std::vector<Event>&)>& pred, int ms = 20000) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return pred(m_events); });
    }
    void Clear() {
        std::lock_guard<std::mutex> g(m_lock);
        m_events.clear();
    }

    static LRESULT Proc(HWND h, UINT msg, WPARAM w, LPARAM l) {
        if (msg != WM_APP_EVENT)
            return DefWindowProcA(h, msg, w, l);
        auto* self = reinterpret_cast<EventWindow*>(GetWindowLongPtrA(h, GWLP_USERDATA));
        Event e;
        e.code = w;
        if (w == EVT_DOWNLOAD_PROGRESS || w == EVT_ITEM_REQUEST_FAILED) {
            auto* info = reinterpret_cast<CMsgInfo*>(l);
            e.p1 = info->m_strParam1;
            e.p2 = info->m_strParam2;
            e.p3 = info->m_strParam3;
            CMagShelfLock lock;
            if (CMagInfo* item = g_MagShelf.Find(e.p2, e.p1))
                e.itemDown = item->down;
        } else if (l != 0) {
            e.item = reinterpret_cast<CMagInfo*>(l);
            CMagShelfLock lock;
            e.itemPid = e.item->pid;
            e.itemType = e.item->type;
            e.itemSavepath = e.item->savepath;
            e.itemDown = e.item->down;
        }
        {
            std::lock_guard<std::mutex> g(self->m_lock);
            self->m_events.push_back(e);
        }
        self->m_cv.notify_all();
        return 0;
    }

private:
    std::thread m_thread;
    HWND m_hWnd = nullptr;
    DWORD m_threadId = 0;
    std::mutex m_lock;
    std::condition_variable m_cv;
    std::vector<Event> m_events;
};

inline size_t Count(const std::vector<Event>& ev, WPARAM code) {
    size_t n = 0;
    for (auto& e : ev)
        n += e.code == code;
    return n;
}

class StoreTest : public WithStore<> {
protected:
    static void SetUpTestSuite() {
        WithStore::SetUpTestSuite();
        setenv("KESTRIN_STORE", Base().c_str(), 1);
    }
    void SetUp() override {
        m_tmp = std::make_unique<TempDir>("dl_"); // one folder per test, removed whole
        ASSERT_FALSE(m_tmp->path().empty());
        m_dir = m_tmp->path();
        fs::create_directories(m_dir / "Data");
        fs::create_directories(m_dir / "Images" / "mag");
        fs::create_directories(m_dir / "Images" / "book");
        fs::create_directories(m_dir / "Down");
        CString data = WinPath(m_dir / "Data");
        g_AppPathInfo.m_strDataRoot = WinPath(m_dir);
        g_AppPathInfo.m_strDataDir = data;
        g_AppPathInfo.m_strImagesDir = WinPath(m_dir / "Images");
        g_AppPathInfo.m_strMagShelfXml = data + "\\MagShelf.xml";
        g_AppPathInfo.m_strBookShelfXml = data + "\\BookShelf.xml";
        g_AppPathInfo.m_strMagNewReadXml = data + "\\MagNewRead.xml";
        g_AppPathInfo.m_strBookNewReadXml = data + "\\BookNewRead.xml";
        g_AppPathInfo.m_strBookClassXml = data + "\\BookClass.xml";
        g_AppPathInfo.m_strMagClassXml = data + "\\MagClass.xml";
        g_AppPathInfo.SetDownloadFolder(WinPath(m_dir / "Down"));
        Control("/_control/reset");
        g_DownLoadManager.Reopen();
        m_win = new EventWindow;
        g_pMainDlg.Set(m_win->Hwnd());
    }
    void TearDown() override {
        g_DownLoadManager.StopAll();
        Control("/_control/release?all=1");
        EXPECT_TRUE(WaitIdle());
        g_pMainDlg.Clear();
        delete m_win;
        // Records are never destroyed while the shelf may point at them; keep them reachable.
        static std::vector<CMagInfo*> s_retired;
        for (const char* kind : {"mag", "book"}) {
            CMagInfoList list;
            g_MagShelf.GetList(kind, list);
            for (CMagInfo* p : list) {
                s_retired.push_back(p);
                g_MagShelf.Remove(kind, p->pid);
            }
        }
        m_tmp.reset();
    }

    // A GET (or POST with a body) to the store; the body is returned.
    static std::string Control(const std::string& pathAndQuery, const std::string& post = std::string()) {
        CMyHttp http;
        CString body;
        http.GetUrl(CString((Base() + pathAndQuery).c_str()), post.empty() ? nullptr : post.data(),
                    static_cast<int>(post.size()), "", body);
        return std::string(body);
    }
    // Lets the answers held at gate KEY go on.
    static void Release(const std::string& key) { Control("/_control/release?gate=" + key); }
    // Waits until pred holds, at most ms.
    static bool WaitUntil(const std::function<bool()>& pred, int ms = 20000) {
        return testwait::WaitFor(pred, std::chrono::milliseconds(ms));
    }
    static int StateOf(CMagInfo* item) {
        CMagShelfLock lock;
        return item->down;
    }
    // A record on the magazine shelf whose package is load_url, as the shelf loader leaves it.
    CMagInfo* ShelfRecord(const char* pid, const std::string& loadUrl, int down) {
        auto* item = new CMagInfo;
        item->pid = pid;
        item->type = "mag";
        item->name = "shelf";
        item->load_url = loadUrl.c_str();
        item->savepath =
            CDownLoadManager::BuildPackagePath(g_AppPathInfo.GetDownloadFolder(), item->name, "", item->pid);
        item->down = down;
        g_MagShelf.Add(item, "mag", FALSE);
        return item;
    }
    // Waits until every worker thread of the manager has ended.
    static bool WaitIdle(int ms = 30000) {
        return testwait::WaitFor([] { return g_DownLoadManager.GetWorkerCount() == 0; },
                                 std::chrono::milliseconds(ms));
    }
    // Where a Windows-form path of the program lies (names in the ANSI code page are UTF-8 here).
    static fs::path LinuxPath(const CString& win) {
        std::string s;
        AfxMapPath(win, s);
        return fs::path(s);
    }

    std::unique_ptr<TempDir> m_tmp;
    fs::path m_dir;
    EventWindow* m_win = nullptr;
};

} // namespace storetest
