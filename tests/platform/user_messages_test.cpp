#include "platform/kernel/Threads.h"
#include "platform/user/User.h"
#include "tests/support/WaitFor.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr UINT WM_TEST_EVENT = 20000;
constexpr UINT WM_TEST_BUSY = WM_USER + 1;
constexpr UINT WM_TEST_PING = WM_USER + 2;
constexpr UINT WM_TEST_NESTED = WM_USER + 3;
constexpr UINT WM_TEST_BASEONLY = WM_USER + 4;

struct Payload {
    char text[32];
    int number;
};

using testwait::PumpUntil;
using testwait::WaitFor;

// Runs f on a new thread and waits for it, bounded: a deadlock fails the test instead of hanging.
template <class F> bool RunBounded(F f, int ms) {
    testwait::Signal finished;
    std::thread t([&] {
        f();
        finished.Set();
    });
    if (!finished.Wait(std::chrono::milliseconds(ms))) {
        ADD_FAILURE() << "deadlock";
        std::_Exit(1); // the stuck thread cannot be joined
    }
    t.join();
    return true;
}

// Ends the process if the test is still running after the given time: a deadlock on the test's
// own thread cannot be broken from inside.
class Watchdog {
public:
    explicit Watchdog(int ms)
        : m_thread([this, ms] {
              if (!m_done.Wait(std::chrono::milliseconds(ms))) {
                  std::fprintf(stderr, "deadlock\n");
                  std::_Exit(1);
              }
          }) {}
    ~Watchdog() {
        m_done.Set();
        m_thread.join();
    }

private:
    testwait::Signal m_done;
    std::thread m_thread;
};

class CBaseTestWnd : public CWnd {
public:
    std::vector<std::string> log;
    LRESULT OnBaseOnly(WPARAM, LPARAM) {
        log.push_back("base-only");
        return 5;
    }
    LRESULT OnPing(WPARAM, LPARAM) {
        log.push_back("base-ping");
        return 1;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CBaseTestWnd, CWnd)
ON_MESSAGE(WM_TEST_BASEONLY, OnBaseOnly)
ON_MESSAGE(WM_TEST_PING, OnPing)
END_MESSAGE_MAP()

class CTestWnd : public CBaseTestWnd {
public:
    std::atomic<DWORD> handlerThread{0};
    std::string payloadSeen;
    std::atomic<int> events{0};
    std::atomic<int> timers{0};
    std::atomic<int> nested{0};
    std::atomic<int> depth{0};
    std::atomic<int> depthAtPing{-1};
    std::atomic<bool> nestedDone{false};
    std::atomic<bool> busy{false};
    std::atomic<int> commands{0};
    HWND destroyInBusy = nullptr;

    LRESULT OnTestEvent(WPARAM w, LPARAM l) {
        handlerThread = GetCurrentThreadId();
        auto* p = reinterpret_cast<Payload*>(l);
        payloadSeen = std::string(p->text) + ":" + std::to_string(p->number);
        events++;
        return static_cast<LRESULT>(w * 2);
    }
    LRESULT OnPing(WPARAM, LPARAM) {
        log.push_back("ping");
        depthAtPing = depth.load();
        return 7;
    }
    LRESULT OnBusy(WPARAM, LPARAM) {
        testwait::QueueArrival arrival;
        busy = true;
        // The worker's send has reached this queue: the worker now waits in SendMessage.
        EXPECT_TRUE(arrival.Wait());
        if (destroyInBusy)
            ::DestroyWindow(destroyInBusy);
        return 0;
    }
    LRESULT OnNested(WPARAM, LPARAM) {
        // A modal wait: its own loop, as a dialog or message box runs.
        depth++;
        MSG msg;
        auto deadline = Clock::now() + std::chrono::seconds(5);
        while (!nestedDone && Clock::now() < deadline) {
            if (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessage(&msg);
            else
                Sleep(1);
        }
        depth--;
        return 0;
    }
    void OnTimer(UINT_PTR id) {
        if (id == 9)
            timers++;
    }
    void OnOpen() { commands++; }
    void OnRange(UINT id) { commands += static_cast<int>(id); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CTestWnd, CBaseTestWnd)
ON_MESSAGE(WM_TEST_EVENT, OnTestEvent)
ON_MESSAGE(WM_TEST_PING, OnPing)
ON_MESSAGE(WM_TEST_BUSY, OnBusy)
ON_MESSAGE(WM_TEST_NESTED, OnNested)
ON_WM_TIMER()
ON_COMMAND(100, OnOpen)
ON_COMMAND_RANGE(200, 210, OnRange)
END_MESSAGE_MAP()

class Window {
public:
    CTestWnd wnd;
    Window() { EXPECT_TRUE(wnd.CreateEx(0, nullptr, "test", WS_POPUP, 0, 0, 10, 10, nullptr, 0)); }
    HWND h() const { return wnd.m_hWnd; }
};

TEST(UserMessagesTest, SendFromWorkerRunsOnOwnerThreadWithStackPayload) {
    Window w;
    std::atomic<LRESULT> result{0};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        Payload p{};
        std::strcpy(p.text, "on-the-stack");
        p.number = 42;
        result = ::SendMessage(w.h(), WM_TEST_EVENT, 21, reinterpret_cast<LPARAM>(&p));
        std::memset(&p, 0, sizeof p); // the handler has finished with it by now
        done = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_EQ(result.load(), 42);
    EXPECT_EQ(w.wnd.handlerThread.load(), GetCurrentThreadId());
    EXPECT_EQ(w.wnd.payloadSeen, "on-the-stack:42");
}

TEST(UserMessagesTest, SameThreadSendIsADirectCall) {
    Window w;
    EXPECT_EQ(::SendMessage(w.h(), WM_TEST_PING, 0, 0), 7);
    ASSERT_EQ(w.wnd.log.size(), 1u);
}

TEST(UserMessagesTest, TwoThreadsSendingToEachOtherDoNotDeadlock) {
    Window mine;
    std::atomic<HWND> theirs{nullptr};
    std::atomic<bool> go{false};
    std::atomic<bool> stop{false};
    std::atomic<int> theirResults{0};
    std::thread other([&] {
        CTestWnd w;
        w.CreateEx(0, nullptr, "other", WS_POPUP, 0, 0, 1, 1, nullptr, 0);
        theirs = w.m_hWnd;
        EXPECT_TRUE(WaitFor([&] { return go.load(); }));
        for (int i = 0; i < 200; ++i)
            theirResults += ::SendMessage(mine.h(), WM_TEST_PING, 0, 0) == 7 ? 1 : 0;
        // Keep serving the other side's sends until it is done.
        PumpUntil([&] { return stop.load(); });
        w.DestroyWindow();
    });
    ASSERT_TRUE(WaitFor([&] { return theirs.load() != nullptr; }));
    int ours = 0;
    Watchdog dog(20000);
    go = true;
    auto start = Clock::now();
    for (int i = 0; i < 200; ++i)
        ours += ::SendMessage(theirs, WM_TEST_PING, 0, 0) == 7 ? 1 : 0;
    EXPECT_TRUE(PumpUntil([&] { return theirResults.load() == 200; }));
    stop = true;
    other.join();
    EXPECT_EQ(ours, 200);
    EXPECT_EQ(theirResults.load(), 200);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count(), 10);
}

TEST(UserMessagesTest, SendToAWindowDestroyedWhileWaitingReturnsZero) {
    Window target;
    Window busyWnd;
    busyWnd.wnd.destroyInBusy = target.h();
    std::atomic<LRESULT> result{-1};
    std::atomic<bool> done{false};
    ASSERT_TRUE(::PostMessage(busyWnd.h(), WM_TEST_BUSY, 0, 0));
    std::thread worker([&] {
        EXPECT_TRUE(WaitFor([&] { return busyWnd.wnd.busy.load(); }));
        Payload p{};
        result = ::SendMessage(target.h(), WM_TEST_EVENT, 1, reinterpret_cast<LPARAM>(&p));
        done = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_EQ(target.wnd.events.load(), 0) << "the handler of a destroyed window ran";
    EXPECT_FALSE(IsWindow(target.h()));
}

TEST(UserMessagesTest, SendToAWindowThatIsGoneReturnsZeroAtOnce) {
    HWND gone;
    {
        Window w;
        gone = w.h();
    }
    struct Case {
        HWND h;
        const char* what;
    };
    const Case cases[] = {
        {gone, "destroyed"}, {nullptr, "null"}, {reinterpret_cast<HWND>(0x1234), "never made"}};
    for (const Case& c : cases) {
        std::atomic<LRESULT> r{-1};
        RunBounded([&] { r = ::SendMessage(c.h, WM_TEST_PING, 0, 0); }, 2000);
        EXPECT_EQ(r.load(), 0) << c.what;
        EXPECT_FALSE(::PostMessage(c.h, WM_TEST_PING, 0, 0) && c.h != nullptr) << c.what;
    }
    MSG m;
    while (PeekMessage(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
}

// The receiving thread ends without handling the send: its queue goes, and the sender gets 0.
TEST(UserMessagesTest, SendToAThreadThatEndsWithoutAnsweringReturnsZero) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "EndingThreadTestClass";
    RegisterClassA(&wc);
    std::atomic<HWND> target{nullptr};
    std::atomic<bool> senderWaiting{false};
    std::thread owner([&] {
        HWND h = CreateWindowExA(0, "EndingThreadTestClass", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                                 nullptr);
        testwait::QueueArrival arrival;
        target = h;
        EXPECT_TRUE(WaitFor([&] { return senderWaiting.load(); }));
        EXPECT_TRUE(arrival.Wait()); // the send is queued now, and never looked at
    });
    ASSERT_TRUE(WaitFor([&] { return target.load() != nullptr; }));
    std::atomic<LRESULT> r{-1};
    Watchdog dog(20000);
    std::thread sender([&] {
        senderWaiting = true;
        r = ::SendMessage(target, WM_TEST_PING, 0, 0);
    });
    owner.join();
    sender.join();
    EXPECT_EQ(r.load(), 0);
    EXPECT_FALSE(IsWindow(target));
}

TEST(UserMessagesTest, MessagesSentDuringANestedLoopAreHandledThere) {
    Window w;
    std::atomic<LRESULT> r{0};
    std::atomic<bool> done{false};
    ASSERT_TRUE(::PostMessage(w.h(), WM_TEST_NESTED, 0, 0));
    std::thread worker([&] {
        EXPECT_TRUE(WaitFor([&] { return w.wnd.depth.load() != 0; }));
        r = ::SendMessage(w.h(), WM_TEST_PING, 0, 0);
        w.wnd.nestedDone = true;
        done = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return done.load() && w.wnd.depth.load() == 0; }));
    worker.join();
    EXPECT_EQ(r.load(), 7);
    EXPECT_EQ(w.wnd.depthAtPing.load(), 1);
}

TEST(UserMessagesTest, MessageMapChainsToTheBaseAndRoutesCommands) {
    Window w;
    EXPECT_EQ(::SendMessage(w.h(), WM_TEST_BASEONLY, 0, 0), 5);
    EXPECT_EQ(::SendMessage(w.h(), WM_TEST_PING, 0, 0), 7); // the derived entry wins
    EXPECT_EQ(w.wnd.log, (std::vector<std::string>{"base-only", "ping"}));
    ::SendMessage(w.h(), WM_COMMAND, MAKELONG(100, BN_CLICKED), 0);
    EXPECT_EQ(w.wnd.commands.load(), 1);
    ::SendMessage(w.h(), WM_COMMAND, MAKELONG(205, 0), 0);
    EXPECT_EQ(w.wnd.commands.load(), 206);
    ::SendMessage(w.h(), WM_COMMAND, MAKELONG(100, 1), 0); // another notification code
    ::SendMessage(w.h(), WM_COMMAND, MAKELONG(300, 0), 0); // an id nobody handles
    EXPECT_EQ(w.wnd.commands.load(), 206);
    EXPECT_EQ(::SendMessage(w.h(), WM_USER + 99, 0, 0), 0);
    // WM_CLOSE's default handling destroys the window.
    ::SendMessage(w.h(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(w.h()));
    EXPECT_EQ(w.wnd.m_hWnd, nullptr);
}

struct DestroyLog {
    static std::vector<std::string>& Get() {
        static std::vector<std::string> v;
        return v;
    }
};

LRESULT LoggingProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    char name[32] = {};
    GetWindowTextA(h, name, sizeof name);
    if (msg == WM_DESTROY)
        DestroyLog::Get().push_back(std::string("destroy ") + name);
    if (msg == WM_NCDESTROY)
        DestroyLog::Get().push_back(std::string("ncdestroy ") + name + (IsWindow(h) ? "" : " (gone)"));
    return DefWindowProcA(h, msg, w, l);
}

TEST(UserMessagesTest, DestroyWindowTakesChildrenPropertiesAndTimers) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = LoggingProc;
    wc.lpszClassName = "LoggingTestClass";
    RegisterClassA(&wc);
    HWND parent = CreateWindowExA(0, "loggingtestclass", "parent", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                  nullptr, nullptr);
    ASSERT_NE(parent, nullptr);
    HWND child = CreateWindowExA(0, "LoggingTestClass", "child", WS_CHILD, 0, 0, 1, 1, parent,
                                 reinterpret_cast<HMENU>(5), nullptr, nullptr);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(GetParent(child), parent);
    EXPECT_EQ(GetWindowLongPtr(child, GWLP_ID), 5);
    EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr),
              nullptr);

    EXPECT_TRUE(SetProp(parent, "kestrin4.0", reinterpret_cast<HANDLE>(1)));
    EXPECT_EQ(GetProp(parent, "KESTRIN4.0"), reinterpret_cast<HANDLE>(1));
    EXPECT_EQ(GetProp(parent, "other"), nullptr);
    EXPECT_EQ(RemoveProp(parent, "kestrin4.0"), reinterpret_cast<HANDLE>(1));
    EXPECT_EQ(GetProp(parent, "kestrin4.0"), nullptr);
    SetProp(parent, "kestrin4.0", reinterpret_cast<HANDLE>(1));
    EXPECT_NE(SetTimer(parent, 3, 10, nullptr), 0u);

    DestroyLog::Get().clear();
    std::atomic<BOOL> fromOtherThread{TRUE};
    std::thread([&] { fromOtherThread = DestroyWindow(parent); }).join();
    EXPECT_FALSE(fromOtherThread.load()) << "only the owning thread destroys a window";
    EXPECT_TRUE(DestroyWindow(parent));
    EXPECT_EQ(DestroyLog::Get(), (std::vector<std::string>{"destroy parent", "destroy child",
                                                           "ncdestroy child", "ncdestroy parent"}));
    EXPECT_FALSE(IsWindow(parent));
    EXPECT_FALSE(IsWindow(child));
    EXPECT_EQ(GetProp(parent, "kestrin4.0"), nullptr);
    EXPECT_FALSE(KillTimer(parent, 3)) << "the window's timers went with it";
    EXPECT_FALSE(DestroyWindow(parent));
}

TEST(UserMessagesTest, ThreadMessagesQuitAndPeekFilters) {
    std::atomic<DWORD> tid{0};
    std::atomic<int> got1000{0};
    std::atomic<int> exitCode{-1};
    std::thread t([&] {
        MSG m;
        PeekMessage(&m, nullptr, 0, 0, PM_NOREMOVE); // makes the queue
        tid = GetCurrentThreadId();
        while (GetMessage(&m, nullptr, 0, 0)) {
            if (m.hwnd == nullptr && m.message == 1000)
                got1000++;
        }
        exitCode = static_cast<int>(m.wParam);
    });
    ASSERT_TRUE(WaitFor([&] { return tid.load() != 0; }));
    EXPECT_TRUE(PostThreadMessage(tid, 1000, 0, 0));
    EXPECT_TRUE(PostThreadMessage(tid, WM_QUIT, 3, 0));
    t.join();
    EXPECT_EQ(got1000.load(), 1);
    EXPECT_EQ(exitCode.load(), 3);
    EXPECT_FALSE(PostThreadMessage(tid, 1000, 0, 0)) << "the thread and its queue are gone";
    EXPECT_FALSE(PostThreadMessage(0x7FFFFFF0u, 1000, 0, 0));

    // Filters and PM_NOREMOVE on this thread.
    Window w;
    PostMessage(w.h(), WM_USER + 10, 1, 0);
    PostMessage(w.h(), WM_USER + 20, 2, 0);
    PostQuitMessage(9);
    MSG m;
    ASSERT_TRUE(PeekMessage(&m, nullptr, WM_USER + 15, WM_USER + 25, PM_NOREMOVE));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 20));
    ASSERT_TRUE(PeekMessage(&m, nullptr, WM_USER + 15, WM_USER + 25, PM_REMOVE));
    EXPECT_EQ(m.wParam, 2u);
    EXPECT_FALSE(PeekMessage(&m, nullptr, WM_USER + 15, WM_USER + 25, PM_REMOVE));
    ASSERT_TRUE(PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 10));
    EXPECT_EQ(GetMessage(&m, nullptr, 0, 0), FALSE) << "quit comes after the posted messages";
    EXPECT_EQ(m.wParam, 9u);
    EXPECT_FALSE(PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
}

int g_procTimerCalls = 0;
void CALLBACK_TimerProc(HWND, UINT, UINT_PTR, DWORD) {
    g_procTimerCalls++;
}

TEST(UserMessagesTest, TimersRepeatUntilKilled) {
    Window w;
    ASSERT_NE(w.wnd.SetTimer(9, 20), 0u);
    g_procTimerCalls = 0;
    UINT_PTR procId = SetTimer(nullptr, 0, 20, CALLBACK_TimerProc);
    ASSERT_NE(procId, 0u);
    EXPECT_TRUE(PumpUntil([&] { return w.wnd.timers.load() >= 3 && g_procTimerCalls >= 3; }));
    EXPECT_TRUE(w.wnd.KillTimer(9));
    EXPECT_TRUE(KillTimer(nullptr, procId));
    int before = w.wnd.timers.load();
    int procBefore = g_procTimerCalls;
    PumpUntil([] { return false; }, std::chrono::milliseconds(100)); // several periods of both timers
    EXPECT_EQ(w.wnd.timers.load(), before);
    EXPECT_EQ(g_procTimerCalls, procBefore);
    EXPECT_FALSE(w.wnd.KillTimer(9));
}

// An outside loop (the GTK main loop) watches one descriptor and pumps when it is readable.
TEST(UserMessagesTest, QueueDescriptorWakesAnOutsideLoop) {
    Window w;
    int fd = AfxGetThreadQueueFd();
    auto readable = [fd](int ms) {
        pollfd p{fd, POLLIN, 0};
        return poll(&p, 1, ms) == 1;
    };
    EXPECT_TRUE(AfxPumpPendingMessages());
    EXPECT_FALSE(readable(0));
    std::thread([&] { ::PostMessage(w.h(), WM_TEST_PING, 0, 0); }).join();
    EXPECT_TRUE(readable(1000));
    EXPECT_TRUE(AfxPumpPendingMessages());
    EXPECT_EQ(w.wnd.log, std::vector<std::string>{"ping"});
    EXPECT_FALSE(readable(0));

    // A message sent from another thread wakes it too, and the sender gets its answer.
    std::atomic<LRESULT> r{0};
    std::thread sender([&] { r = ::SendMessage(w.h(), WM_TEST_PING, 0, 0); });
    EXPECT_TRUE(readable(2000));
    EXPECT_TRUE(AfxPumpPendingMessages());
    sender.join();
    EXPECT_EQ(r.load(), 7);

    // And a due timer.
    w.wnd.SetTimer(9, 30);
    EXPECT_GE(AfxGetNextTimerTimeout(), 0);
    auto start = Clock::now();
    EXPECT_TRUE(readable(2000));
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(), 20);
    EXPECT_TRUE(AfxPumpPendingMessages());
    EXPECT_EQ(w.wnd.timers.load(), 1);
    w.wnd.KillTimer(9);

    PostQuitMessage(4);
    int code = 0;
    EXPECT_FALSE(AfxPumpPendingMessages(&code));
    EXPECT_EQ(code, 4);
}

// Reads the byte that made its pipe ready, so the pipe is quiet again, and posts a message.
std::atomic<int> g_pipeCallbacks{0};
void TakeByteAndPost(uint64_t cookie, uint32_t) {
    char c;
    EXPECT_EQ(read(static_cast<int>(cookie), &c, 1), 1);
    g_pipeCallbacks++;
    PostThreadMessage(GetCurrentThreadId(), WM_USER + 30, static_cast<WPARAM>(cookie), 0);
}

// Whatever waits keeps the descriptor of an outside loop readable: messages the thread posted to
// itself before it asked for the descriptor, a message only looked at, and messages that
// descriptor callbacks posted while the one that made them ready is quiet again.
TEST(UserMessagesTest, QueueDescriptorStaysReadableWhileMessagesWait) {
    g_pipeCallbacks = 0;
    std::thread([] {
        MSG m;
        PostThreadMessage(GetCurrentThreadId(), WM_USER + 31, 0, 0);
        const int fd = AfxGetThreadQueueFd();
        auto readable = [fd](int ms) {
            pollfd p{fd, POLLIN, 0};
            return poll(&p, 1, ms) == 1;
        };
        EXPECT_TRUE(readable(0));
        ASSERT_TRUE(PeekMessage(&m, nullptr, 0, 0, PM_NOREMOVE));
        EXPECT_TRUE(readable(0)) << "looked at, not taken";
        EXPECT_TRUE(AfxPumpPendingMessages());
        EXPECT_FALSE(readable(0));

        int a[2], b[2];
        ASSERT_EQ(pipe(a), 0);
        ASSERT_EQ(pipe(b), 0);
        const DWORD self = GetCurrentThreadId();
        ASSERT_TRUE(AfxQueueWatchFd(self, a[0], EPOLLIN, &TakeByteAndPost, static_cast<uint64_t>(a[0])));
        ASSERT_TRUE(AfxQueueWatchFd(self, b[0], EPOLLIN, &TakeByteAndPost, static_cast<uint64_t>(b[0])));
        EXPECT_FALSE(readable(0));
        EXPECT_EQ(write(a[1], "x", 1), 1);
        EXPECT_EQ(write(b[1], "y", 1), 1);
        EXPECT_TRUE(readable(2000));
        ASSERT_TRUE(PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
        EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 30));
        EXPECT_EQ(g_pipeCallbacks.load(), 2) << "both pipes were ready at the same look";
        EXPECT_TRUE(readable(0)) << "the second pipe's message still waits";
        ASSERT_TRUE(PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
        EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 30));
        EXPECT_FALSE(PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
        EXPECT_FALSE(readable(0));
        EXPECT_TRUE(AfxQueueUnwatchFd(self, a[0]));
        EXPECT_TRUE(AfxQueueUnwatchFd(self, b[0]));
        for (int f : {a[0], a[1], b[0], b[1]})
            close(f);
    }).join();
}

TEST(UserMessagesTest, RuntimeClassesAndTemporaryObjects) {
    Window w;
    EXPECT_TRUE(w.wnd.IsKindOf(RUNTIME_CLASS(CWnd)));
    EXPECT_TRUE(w.wnd.IsKindOf(RUNTIME_CLASS(CObject)));
    EXPECT_EQ(CWnd::FromHandle(w.h()), &w.wnd);
    HWND plain = CreateWindowExA(0, "AfxWnd", "plain", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(plain, nullptr);
    CWnd* temp = CWnd::FromHandle(plain);
    ASSERT_NE(temp, nullptr);
    EXPECT_EQ(temp->m_hWnd, plain);
    EXPECT_EQ(CWnd::FromHandlePermanent(plain), nullptr);
    EXPECT_EQ(CWnd::FromHandle(plain), temp);
    DestroyWindow(plain);
    EXPECT_EQ(CWnd::FromHandle(plain), nullptr);
    std::unique_ptr<CObject> made(RUNTIME_CLASS(CWnd)->CreateObject());
    EXPECT_NE(dynamic_cast<CWnd*>(made.get()), nullptr);
    EXPECT_EQ(CRuntimeClass::FromName("CWnd"), RUNTIME_CLASS(CWnd));
}

} // namespace
