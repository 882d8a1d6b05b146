#include "platform/kernel/Threads.h"

#include "platform/kernel/WinError.h"

#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <thread>
#include <unordered_set>
#include <vector>

namespace {

// One lock and one condition for every wait on a kernel object: waits are rare and short-lived
// here, and a single condition makes waiting on several objects at once straightforward.
std::mutex& WaitMutex() {
    static std::mutex* m = new std::mutex;
    return *m;
}
std::condition_variable& WaitCond() {
    static std::condition_variable* c = new std::condition_variable;
    return *c;
}

std::mutex& HandleMutex() {
    static std::mutex* m = new std::mutex;
    return *m;
}
std::unordered_set<KernelObject*>& LiveObjects() {
    static auto* s = new std::unordered_set<KernelObject*>;
    return *s;
}

class EventObject : public KernelObject {
public:
    EventObject(bool manual, bool initial) : m_manual(manual), m_set(initial) {}
    bool IsSignalled() const override { return m_set; }
    void OnWaitSatisfied() override {
        if (!m_manual)
            m_set = false;
    }
    void Set(bool value) {
        {
            std::lock_guard<std::mutex> lock(WaitMutex());
            m_set = value;
        }
        if (value)
            WaitCond().notify_all();
    }

private:
    bool m_manual;
    bool m_set; // guarded by WaitMutex()
};

class ThreadObject : public KernelObject {
public:
    bool IsSignalled() const override { return m_done; }
    void Finish(DWORD code) {
        {
            std::lock_guard<std::mutex> lock(WaitMutex());
            m_exitCode = code;
            m_done = true;
        }
        WaitCond().notify_all();
    }
    bool Done() const {
        std::lock_guard<std::mutex> lock(WaitMutex());
        return m_done;
    }
    DWORD ExitCode() const {
        std::lock_guard<std::mutex> lock(WaitMutex());
        return m_done ? m_exitCode : STILL_ACTIVE;
    }

    DWORD m_threadId = 0;
    int m_priority = THREAD_PRIORITY_NORMAL;
    bool m_stopRequested = false; // guarded by g_runningMutex
    // Suspension before the first run.
    std::mutex m_startMutex;
    std::condition_variable m_startCond;
    int m_suspendCount = 0;

private:
    bool m_done = false;
    DWORD m_exitCode = STILL_ACTIVE;
};

std::atomic<DWORD> g_nextThreadId{1};
thread_local DWORD t_threadId = 0;

DWORD NewThreadId() {
    // Ids step by 4 as on Windows, so a stray small integer is never a thread id.
    return g_nextThreadId.fetch_add(4);
}

// Threads started by AfxBeginThread and not yet ended.
std::mutex g_runningMutex;
std::vector<ThreadObject*>& Running() {
    static auto* v = new std::vector<ThreadObject*>;
    return *v;
}
std::atomic<AFX_THREAD_STOP_HOOK> g_stopHook{nullptr};

// Auto-delete thread objects are freed a while after their thread ended, not at once, so a
// creator that reads m_nThreadID or m_hThread right after AfxBeginThread never reads freed
// memory even when the thread was very short.
struct Grave {
    CWinThread* thread;
    std::chrono::steady_clock::time_point ended;
};
std::mutex g_graveMutex;
std::vector<Grave>& Graves() {
    static auto* v = new std::vector<Grave>;
    return *v;
}
void ReapGraves() {
    std::vector<CWinThread*> dead;
    {
        std::lock_guard<std::mutex> lock(g_graveMutex);
        auto now = std::chrono::steady_clock::now();
        auto& graves = Graves();
        for (size_t i = 0; i < graves.size();) {
            if (now - graves[i].ended > std::chrono::seconds(2)) {
                dead.push_back(graves[i].thread);
                graves[i] = graves.back();
                graves.pop_back();
            } else {
                ++i;
            }
        }
    }
    for (CWinThread* t : dead)
        delete t;
}

struct ThreadExit {
    UINT code;
};

bool Unregister(ThreadObject* obj) {
    std::lock_guard<std::mutex> lock(g_runningMutex);
    auto& running = Running();
    for (size_t i = 0; i < running.size(); ++i) {
        if (running[i] == obj) {
            running.erase(running.begin() + static_cast<long>(i));
            return true;
        }
    }
    return false;
}

} // namespace

KernelObject::KernelObject() {
    std::lock_guard<std::mutex> lock(HandleMutex());
    LiveObjects().insert(this);
}

KernelObject::~KernelObject() {
    std::lock_guard<std::mutex> lock(HandleMutex());
    LiveObjects().erase(this);
}

void KernelObject::AddRef() {
    m_refs.fetch_add(1);
}

void KernelObject::Release() {
    if (m_refs.fetch_sub(1) == 1)
        delete this;
}

void KernelObject::NotifyWaiters() {
    { std::lock_guard<std::mutex> lock(WaitMutex()); }
    WaitCond().notify_all();
}

KernelObject* AfxKernelObjectFromHandle(HANDLE h) {
    if (h == nullptr || h == INVALID_HANDLE_VALUE)
        return nullptr;
    std::lock_guard<std::mutex> lock(HandleMutex());
    auto* obj = static_cast<KernelObject*>(h);
    return LiveObjects().count(obj) ? obj : nullptr;
}

HANDLE AfxHandleFromKernelObject(KernelObject* obj) {
    return obj;
}

BOOL CloseHandle(HANDLE hObject) {
    KernelObject* obj = AfxKernelObjectFromHandle(hObject);
    if (!obj) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    obj->Release();
    return TRUE;
}

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds) {
    if (nCount == 0 || nCount > 64 || lpHandles == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<KernelObject*> objs;
    for (DWORD i = 0; i < nCount; ++i) {
        KernelObject* obj = AfxKernelObjectFromHandle(lpHandles[i]);
        if (!obj) {
            for (KernelObject* o : objs)
                o->Release();
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        obj->AddRef(); // keep it alive while we wait, even if another thread closes it
        objs.push_back(obj);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwMilliseconds);
    DWORD result = WAIT_TIMEOUT;
    // Under WaitMutex: takes the signalled object(s) and sets result when the wait is satisfied.
    auto satisfied = [&]() {
        if (bWaitAll) {
            for (KernelObject* o : objs)
                if (!o->IsSignalled())
                    return false;
            for (KernelObject* o : objs)
                o->OnWaitSatisfied();
            result = WAIT_OBJECT_0;
            return true;
        }
        for (DWORD i = 0; i < nCount; ++i) {
            if (objs[i]->IsSignalled()) {
                objs[i]->OnWaitSatisfied();
                result = WAIT_OBJECT_0 + i;
                return true;
            }
        }
        return false;
    };
    {
        std::unique_lock<std::mutex> lock(WaitMutex());
        while (!satisfied()) {
            if (dwMilliseconds == 0)
                break;
            if (dwMilliseconds == INFINITE) {
                WaitCond().wait(lock);
            } else if (WaitCond().wait_until(lock, deadline) == std::cv_status::timeout) {
                satisfied();
                break;
            }
        }
    }
    for (KernelObject* o : objs)
        o->Release();
    return result;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    return WaitForMultipleObjects(1, &hHandle, FALSE, dwMilliseconds);
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCSTR) {
    return AfxHandleFromKernelObject(new EventObject(bManualReset != FALSE, bInitialState != FALSE));
}

static EventObject* EventFromHandle(HANDLE h) {
    return dynamic_cast<EventObject*>(AfxKernelObjectFromHandle(h));
}

BOOL SetEvent(HANDLE hEvent) {
    EventObject* e = EventFromHandle(hEvent);
    if (!e) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    e->Set(true);
    return TRUE;
}

BOOL ResetEvent(HANDLE hEvent) {
    EventObject* e = EventFromHandle(hEvent);
    if (!e) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    e->Set(false);
    return TRUE;
}

void Sleep(DWORD dwMilliseconds) {
    if (dwMilliseconds == 0)
        std::this_thread::yield();
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}

ULONGLONG GetTickCount64() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<ULONGLONG>(ts.tv_sec) * 1000u + static_cast<ULONGLONG>(ts.tv_nsec) / 1000000u;
}

DWORD GetTickCount() {
    return static_cast<DWORD>(GetTickCount64());
}

DWORD GetCurrentThreadId() {
    if (t_threadId == 0)
        t_threadId = NewThreadId();
    return t_threadId;
}

DWORD GetCurrentProcessId() {
    return static_cast<DWORD>(getpid());
}

HANDLE GetCurrentThread() {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2));
}

static ThreadObject* ThreadFromHandle(HANDLE h) {
    return dynamic_cast<ThreadObject*>(AfxKernelObjectFromHandle(h));
}

BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
    ThreadObject* t = ThreadFromHandle(hThread);
    if (!t || !lpExitCode) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *lpExitCode = t->ExitCode();
    return TRUE;
}

int GetThreadPriority(HANDLE hThread) {
    ThreadObject* t = ThreadFromHandle(hThread);
    return t ? t->m_priority : THREAD_PRIORITY_NORMAL;
}

BOOL SetThreadPriority(HANDLE hThread, int nPriority) {
    // Priorities are recorded only: every thread of this program is an ordinary one.
    ThreadObject* t = ThreadFromHandle(hThread);
    if (t)
        t->m_priority = nPriority;
    return TRUE;
}

// Critical sections.

static std::recursive_mutex* CsMutex(LPCRITICAL_SECTION cs) {
    std::recursive_mutex* m = __atomic_load_n(&cs->m_pMutex, __ATOMIC_ACQUIRE);
    if (m)
        return m;
    // Entered before being initialised: make the lock now rather than crash.
    auto* fresh = new std::recursive_mutex;
    std::recursive_mutex* expected = nullptr;
    if (__atomic_compare_exchange_n(&cs->m_pMutex, &expected, fresh, false, __ATOMIC_ACQ_REL,
                                    __ATOMIC_ACQUIRE))
        return fresh;
    delete fresh;
    return expected;
}

void InitializeCriticalSection(LPCRITICAL_SECTION cs) {
    if (cs)
        __atomic_store_n(&cs->m_pMutex, new std::recursive_mutex, __ATOMIC_RELEASE);
}

BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION cs, DWORD) {
    InitializeCriticalSection(cs);
    return TRUE;
}

void EnterCriticalSection(LPCRITICAL_SECTION cs) {
    CsMutex(cs)->lock();
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
    return CsMutex(cs)->try_lock() ? TRUE : FALSE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION cs) {
    std::recursive_mutex* m = __atomic_load_n(&cs->m_pMutex, __ATOMIC_ACQUIRE);
    if (m)
        m->unlock();
}

void DeleteCriticalSection(LPCRITICAL_SECTION cs) {
    if (!cs)
        return;
    delete __atomic_exchange_n(&cs->m_pMutex, nullptr, __ATOMIC_ACQ_REL);
}

BOOL CCriticalSection::Lock(DWORD dwTimeout) {
    if (dwTimeout == INFINITE) {
        EnterCriticalSection(&m_sect);
        return TRUE;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwTimeout);
    do {
        if (TryEnterCriticalSection(&m_sect))
            return TRUE;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } while (std::chrono::steady_clock::now() < deadline);
    return FALSE;
}

CSingleLock::CSingleLock(CSyncObject* pObject, BOOL bInitialLock) : m_pObject(pObject) {
    if (bInitialLock)
        Lock();
}

BOOL CSingleLock::Lock(DWORD dwTimeout) {
    if (!m_pObject || m_bAcquired)
        return m_bAcquired;
    m_bAcquired = m_pObject->Lock(dwTimeout);
    return m_bAcquired;
}

BOOL CSingleLock::Unlock() {
    if (m_pObject && m_bAcquired) {
        m_bAcquired = !m_pObject->Unlock();
    }
    return !m_bAcquired;
}

// Threads.

struct ThreadStart {
    static void* Run(void* arg) {
        auto* pThread = static_cast<CWinThread*>(arg);
        auto* obj = static_cast<ThreadObject*>(AfxKernelObjectFromHandle(pThread->m_hThread));
        t_threadId = obj->m_threadId;
        {
            std::unique_lock<std::mutex> lock(obj->m_startMutex);
            obj->m_startCond.wait(lock, [obj] { return obj->m_suspendCount == 0; });
        }
        UINT code = 0;
        try {
            code = pThread->m_pfnThreadProc(pThread->m_pThreadParams);
        } catch (const ThreadExit& e) {
            code = e.code;
        }
        bool autoDelete = pThread->m_bAutoDelete != FALSE;
        bool registered = Unregister(obj);
        obj->Finish(code);
        if (autoDelete) {
            std::lock_guard<std::mutex> lock(g_graveMutex);
            Graves().push_back({pThread, std::chrono::steady_clock::now()});
        }
        if (registered)
            obj->Release(); // the registry's reference
        obj->Release();     // the running thread's own reference
        return nullptr;
    }
};

CWinThread::CWinThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam)
    : m_pfnThreadProc(pfnThreadProc), m_pThreadParams(pParam) {}

CWinThread::~CWinThread() {
    if (m_hThread)
        CloseHandle(m_hThread);
}

BOOL CWinThread::CreateThread(DWORD dwCreateFlags, UINT nStackSize, LPSECURITY_ATTRIBUTES) {
    auto* obj = new ThreadObject;
    obj->m_threadId = NewThreadId();
    obj->m_priority = m_nPriority;
    obj->m_suspendCount = (dwCreateFlags & CREATE_SUSPENDED) ? 1 : 0;
    m_hThread = AfxHandleFromKernelObject(obj);
    m_nThreadID = obj->m_threadId;

    obj->AddRef(); // for the running thread
    {
        std::lock_guard<std::mutex> lock(g_runningMutex);
        obj->AddRef(); // for the registry of running threads
        Running().push_back(obj);
    }
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    if (nStackSize > 0)
        pthread_attr_setstacksize(&attr, nStackSize < 65536 ? 65536 : nStackSize);
    pthread_t tid;
    int rc = pthread_create(&tid, &attr, &ThreadStart::Run, this);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        if (Unregister(obj))
            obj->Release();
        obj->Release();
        CloseHandle(m_hThread);
        m_hThread = nullptr;
        m_nThreadID = 0;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    return TRUE;
}

DWORD CWinThread::ResumeThread() {
    auto* obj = ThreadFromHandle(m_hThread);
    if (!obj)
        return static_cast<DWORD>(-1);
    DWORD previous;
    {
        std::lock_guard<std::mutex> lock(obj->m_startMutex);
        previous = static_cast<DWORD>(obj->m_suspendCount);
        if (obj->m_suspendCount > 0)
            --obj->m_suspendCount;
    }
    obj->m_startCond.notify_all();
    return previous;
}

int CWinThread::GetThreadPriority() {
    return m_nPriority;
}

BOOL CWinThread::SetThreadPriority(int nPriority) {
    m_nPriority = nPriority;
    return ::SetThreadPriority(m_hThread, nPriority);
}

CWinThread* AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam, int nPriority, UINT nStackSize,
                           DWORD dwCreateFlags, LPSECURITY_ATTRIBUTES lpSecurityAttrs) {
    ReapGraves();
    if (!pfnThreadProc)
        return nullptr;
    auto* pThread = new CWinThread(pfnThreadProc, pParam);
    pThread->m_nPriority = nPriority;
    if (!pThread->CreateThread(dwCreateFlags | CREATE_SUSPENDED, nStackSize, lpSecurityAttrs)) {
        delete pThread;
        return nullptr;
    }
    if (!(dwCreateFlags & CREATE_SUSPENDED))
        pThread->ResumeThread();
    return pThread;
}

void AfxEndThread(UINT nExitCode, BOOL) {
    throw ThreadExit{nExitCode};
}

void AfxSetThreadStopHook(AFX_THREAD_STOP_HOOK hook) {
    g_stopHook.store(hook);
}

int AfxGetRunningThreadCount() {
    std::lock_guard<std::mutex> lock(g_runningMutex);
    int n = 0;
    for (ThreadObject* t : Running())
        n += t->Done() ? 0 : 1;
    return n;
}

BOOL AfxThreadStopRequested(DWORD threadId) {
    std::lock_guard<std::mutex> lock(g_runningMutex);
    for (ThreadObject* t : Running())
        if (t->m_threadId == threadId)
            return t->m_stopRequested ? TRUE : FALSE;
    return FALSE;
}

int AfxWaitForThreads(DWORD dwMilliseconds) {
    std::vector<ThreadObject*> threads;
    {
        std::lock_guard<std::mutex> lock(g_runningMutex);
        for (ThreadObject* t : Running()) {
            t->AddRef();
            t->m_stopRequested = true;
            threads.push_back(t);
        }
    }
    AFX_THREAD_STOP_HOOK hook = g_stopHook.load();
    DWORD self = GetCurrentThreadId();
    for (ThreadObject* t : threads) {
        if (hook && t->m_threadId != self)
            hook(t->m_threadId);
        // A thread still suspended would never end; let it run so it can see the stop.
        {
            std::lock_guard<std::mutex> lock(t->m_startMutex);
            t->m_suspendCount = 0;
        }
        t->m_startCond.notify_all();
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwMilliseconds);
    int stillRunning = 0;
    for (ThreadObject* t : threads) {
        if (t->m_threadId != self) {
            auto now = std::chrono::steady_clock::now();
            DWORD left =
                now >= deadline
                    ? 0
                    : static_cast<DWORD>(
                          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count());
            if (WaitForSingleObject(AfxHandleFromKernelObject(t), left) != WAIT_OBJECT_0)
                ++stillRunning;
        }
        t->Release();
    }
    ReapGraves();
    return stillRunning;
}
