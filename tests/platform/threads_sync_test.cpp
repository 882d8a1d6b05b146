#include "platform/kernel/Threads.h"
#include "platform/user/User.h"
#include "tests/support/WaitFor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

struct ProcData {
    std::atomic<DWORD> seenId{0};
    std::atomic<int> runs{0};
};

UINT RecordProc(LPVOID p) {
    auto* d = static_cast<ProcData*>(p);
    d->seenId = GetCurrentThreadId();
    d->runs++;
    return 77;
}

TEST(ThreadsTest, BeginThreadRunsWithParamAndReportsExitCode) {
    ProcData d;
    CWinThread* t = AfxBeginThread(RecordProc, &d, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    ASSERT_NE(t, nullptr);
    t->m_bAutoDelete = FALSE;
    Sleep(50);
    EXPECT_EQ(d.runs.load(), 0) << "a suspended thread ran before ResumeThread";
    EXPECT_EQ(t->ResumeThread(), 1u);
    ASSERT_EQ(WaitForSingleObject(t->m_hThread, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(d.runs.load(), 1);
    EXPECT_EQ(d.seenId.load(), t->m_nThreadID);
    EXPECT_NE(t->m_nThreadID, GetCurrentThreadId());
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(t->m_hThread, &code));
    EXPECT_EQ(code, 77u);
    delete t;
}

UINT EndEarlyProc(LPVOID) {
    AfxEndThread(5);
}

TEST(ThreadsTest, EndThreadSetsTheExitCode) {
    CWinThread* t = AfxBeginThread(EndEarlyProc, nullptr, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    ASSERT_NE(t, nullptr);
    t->m_bAutoDelete = FALSE;
    t->ResumeThread();
    ASSERT_EQ(WaitForSingleObject(t->m_hThread, 5000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(t->m_hThread, &code);
    EXPECT_EQ(code, 5u);
    delete t;
}

UINT QuickProc(LPVOID p) {
    ++*static_cast<std::atomic<int>*>(p);
    return 0;
}

// The creator reads the thread object right after AfxBeginThread even when the thread has
// already finished: that must not touch freed memory (the sanitizer build checks).
TEST(ThreadsTest, AutoDeleteObjectOutlivesAVeryShortThread) {
    std::atomic<int> finished{0};
    std::vector<CWinThread*> threads;
    for (int i = 0; i < 32; ++i)
        threads.push_back(AfxBeginThread(QuickProc, &finished));
    ASSERT_TRUE(testwait::WaitFor([&] { return finished.load() == 32; }));
    std::vector<DWORD> ids;
    for (CWinThread* t : threads)
        ids.push_back(t->m_nThreadID);
    for (size_t i = 1; i < ids.size(); ++i)
        EXPECT_NE(ids[i], ids[i - 1]);
}

TEST(ThreadsTest, EventsWaitAndReset) {
    struct Case {
        BOOL manual;
        BOOL initial;
        DWORD first;
        DWORD second;
    };
    const Case cases[] = {
        {TRUE, TRUE, WAIT_OBJECT_0, WAIT_OBJECT_0}, // manual stays set
        {FALSE, TRUE, WAIT_OBJECT_0, WAIT_TIMEOUT}, // auto resets on the first wait
        {TRUE, FALSE, WAIT_TIMEOUT, WAIT_TIMEOUT},
        {FALSE, FALSE, WAIT_TIMEOUT, WAIT_TIMEOUT},
    };
    for (const Case& c : cases) {
        HANDLE e = CreateEvent(nullptr, c.manual, c.initial, nullptr);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(WaitForSingleObject(e, 0), c.first) << c.manual << c.initial;
        EXPECT_EQ(WaitForSingleObject(e, 20), c.second) << c.manual << c.initial;
        SetEvent(e);
        EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
        ResetEvent(e);
        EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
        EXPECT_TRUE(CloseHandle(e));
    }
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
}

TEST(ThreadsTest, AutoResetEventReleasesOneWaiterPerSet) {
    HANDLE e = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back([&] {
            if (WaitForSingleObject(e, 10000) == WAIT_OBJECT_0)
                woken++;
        });
    SetEvent(e);
    EXPECT_TRUE(testwait::WaitFor([&] { return woken.load() >= 1; }));
    EXPECT_EQ(woken.load(), 1);
    // The waiter that woke took the event with it: it is reset, so no other waiter can follow.
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    SetEvent(e);
    SetEvent(e); // a set event stays set until one waiter takes it
    EXPECT_TRUE(testwait::WaitFor([&] { return woken.load() >= 2; }));
    SetEvent(e);
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(woken.load(), 3);
    CloseHandle(e);
}

TEST(ThreadsTest, WaitTimesOutWithinBounds) {
    HANDLE e = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    auto start = Clock::now();
    EXPECT_EQ(WaitForSingleObject(e, 150), WAIT_TIMEOUT);
    long ms = ElapsedMs(start);
    EXPECT_GE(ms, 140);
    EXPECT_LT(ms, 1500);
    HANDLE both[2] = {e, CreateEvent(nullptr, TRUE, TRUE, nullptr)};
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 10), WAIT_TIMEOUT);
    SetEvent(e);
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 10), WAIT_OBJECT_0);
    CloseHandle(both[0]);
    CloseHandle(both[1]);
}

TEST(ThreadsTest, CriticalSectionIsRecursiveAndExclusive) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs); // the owner enters again without blocking
    std::atomic<int> otherGot{-1};
    std::thread([&] { otherGot = TryEnterCriticalSection(&cs); }).join();
    EXPECT_EQ(otherGot.load(), FALSE);
    LeaveCriticalSection(&cs);
    std::thread([&] { otherGot = TryEnterCriticalSection(&cs); }).join();
    EXPECT_EQ(otherGot.load(), FALSE) << "released after one Leave of two Enters";
    LeaveCriticalSection(&cs);
    std::thread([&] {
        otherGot = TryEnterCriticalSection(&cs);
        if (otherGot)
            LeaveCriticalSection(&cs);
    }).join();
    EXPECT_EQ(otherGot.load(), TRUE);

    long counter = 0;
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] {
            for (int k = 0; k < 5000; ++k) {
                EnterCriticalSection(&cs);
                counter = counter + 1;
                LeaveCriticalSection(&cs);
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(counter, 40000);
    DeleteCriticalSection(&cs);

    CCriticalSection lock;
    {
        CSingleLock single(&lock, TRUE);
        EXPECT_TRUE(single.IsLocked());
        std::thread([&] { otherGot = lock.Lock(20); }).join();
        EXPECT_EQ(otherGot.load(), FALSE);
    }
    std::thread([&] {
        otherGot = lock.Lock(20);
        if (otherGot)
            lock.Unlock();
    }).join();
    EXPECT_EQ(otherGot.load(), TRUE);
}

TEST(ThreadsTest, InterlockedAcrossThreads) {
    LONG volatile value = 0;
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] {
            for (int k = 0; k < 10000; ++k)
                InterlockedIncrement(&value);
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(value, 40000);
    EXPECT_EQ(InterlockedCompareExchange(&value, 1, 40000), 40000);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(InterlockedCompareExchange(&value, 9, 2), 1);
    EXPECT_EQ(value, 1);
}

UINT PumpUntilQuit(LPVOID p) {
    MSG msg;
    while (GetMessage(&msg, nullptr, 0, 0))
        DispatchMessage(&msg);
    static_cast<std::atomic<int>*>(p)->fetch_add(1);
    return 0;
}

UINT Stubborn(LPVOID p) {
    auto* stop = static_cast<std::atomic<bool>*>(p);
    while (!stop->load())
        Sleep(10);
    return 0;
}

TEST(ThreadsTest, WaitForThreadsStopsPumpsAndBoundsTheWait) {
    AfxWaitForThreads(2000); // whatever earlier tests left
    std::atomic<int> stopped{0};
    std::atomic<bool> release{false};
    std::vector<DWORD> ids;
    for (int i = 0; i < 3; ++i)
        ids.push_back(AfxBeginThread(PumpUntilQuit, &stopped)->m_nThreadID);
    AfxBeginThread(Stubborn, &release);
    // The pumps must have their queues before a stop can reach them.
    for (DWORD id : ids)
        EXPECT_TRUE(testwait::WaitFor([&] { return AfxThreadHasQueue(id) == TRUE; }));
    auto start = Clock::now();
    EXPECT_EQ(AfxWaitForThreads(300), 1) << "only the thread that ignores the stop remains";
    long ms = ElapsedMs(start);
    EXPECT_GE(ms, 250);
    EXPECT_LT(ms, 3000);
    EXPECT_EQ(stopped.load(), 3);
    release = true;
    EXPECT_EQ(AfxWaitForThreads(5000), 0);
    EXPECT_EQ(AfxGetRunningThreadCount(), 0);
}

struct LateStart {
    HANDLE go;
    std::atomic<int> stopped{0};
};

// Makes its message queue only once told to, then pumps until WM_QUIT.
UINT PumpAfterGo(LPVOID p) {
    auto* d = static_cast<LateStart*>(p);
    WaitForSingleObject(d->go, 10000);
    return PumpUntilQuit(&d->stopped);
}

// A stop asked for before the thread has a queue must still reach its loop.
TEST(ThreadsTest, StopReachesAThreadThatMakesItsQueueLater) {
    AfxWaitForThreads(2000); // whatever earlier tests left
    LateStart d;
    d.go = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    DWORD tid = AfxBeginThread(PumpAfterGo, &d)->m_nThreadID;
    std::atomic<int> left{-1};
    std::thread waiter([&] { left = AfxWaitForThreads(20000); });
    EXPECT_TRUE(testwait::WaitFor([&] { return AfxThreadStopRequested(tid) == TRUE; }));
    EXPECT_FALSE(AfxThreadHasQueue(tid));
    SetEvent(d.go);
    waiter.join();
    EXPECT_EQ(left.load(), 0);
    EXPECT_EQ(d.stopped.load(), 1);
    CloseHandle(d.go);
}

TEST(ThreadsTest, TickCountAdvancesInMilliseconds) {
    DWORD a = GetTickCount();
    Sleep(50);
    DWORD d = GetTickCount() - a;
    EXPECT_GE(d, 45u);
    EXPECT_LT(d, 2000u);
}

} // namespace
