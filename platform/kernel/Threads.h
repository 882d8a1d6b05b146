// Threads, waitable objects and locks.
#pragma once

#include "platform/base/Win32Types.h"

#include <atomic>
#include <mutex>

#ifndef WAIT_OBJECT_0
#define WAIT_OBJECT_0 0x00000000u
#endif
#ifndef WAIT_ABANDONED
#define WAIT_ABANDONED 0x00000080u
#endif
#ifndef WAIT_TIMEOUT
#define WAIT_TIMEOUT 0x00000102u
#endif
#ifndef WAIT_FAILED
#define WAIT_FAILED 0xFFFFFFFFu
#endif
#ifndef STILL_ACTIVE
#define STILL_ACTIVE 259u
#endif

#define CREATE_SUSPENDED 0x00000004u

#define THREAD_PRIORITY_LOWEST (-2)
#define THREAD_PRIORITY_BELOW_NORMAL (-1)
#define THREAD_PRIORITY_NORMAL 0
#define THREAD_PRIORITY_ABOVE_NORMAL 1
#define THREAD_PRIORITY_HIGHEST 2
#define THREAD_PRIORITY_IDLE (-15)
#define THREAD_PRIORITY_TIME_CRITICAL 15

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

// Every HANDLE this layer hands out for a kernel object (events, threads, and whatever other
// module derives from it) points at one of these, so CloseHandle and the waits treat them alike.
class KernelObject {
public:
    KernelObject();
    virtual ~KernelObject();
    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;

    // Waitable objects override these; the default is an object that is never signalled.
    virtual bool IsSignalled() const { return false; }
    // Called with the object signalled, inside the wait's lock: auto-reset objects reset here.
    virtual void OnWaitSatisfied() {}

    void AddRef();
    void Release(); // deletes at zero

    // Wakes every waiter so it re-checks IsSignalled; callers change their state first.
    void NotifyWaiters();

private:
    std::atomic<int> m_refs{1};
};

// Returns the object behind a handle, or nullptr for a handle that is not one of ours.
KernelObject* AfxKernelObjectFromHandle(HANDLE h);
HANDLE AfxHandleFromKernelObject(KernelObject* obj);

BOOL CloseHandle(HANDLE hObject);
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds);

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                    LPCSTR lpName);
inline HANDLE CreateEvent(LPSECURITY_ATTRIBUTES a, BOOL manual, BOOL initial, LPCSTR name) {
    return CreateEventA(a, manual, initial, name);
}
BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);

void Sleep(DWORD dwMilliseconds);
// Milliseconds since an arbitrary start, wrapping at 2^32: take differences unsigned.
DWORD GetTickCount();
ULONGLONG GetTickCount64();

// Our own ids: never 0 and never reused within the process, unlike Linux's tids.
DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();
HANDLE GetCurrentThread(); // a pseudo-handle, as on Windows

BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);
int GetThreadPriority(HANDLE hThread);
BOOL SetThreadPriority(HANDLE hThread, int nPriority);

// Interlocked operations on 32-bit values.
inline LONG InterlockedIncrement(LONG volatile* p) {
    return __atomic_add_fetch(p, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedDecrement(LONG volatile* p) {
    return __atomic_sub_fetch(p, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchange(LONG volatile* p, LONG v) {
    return __atomic_exchange_n(p, v, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchangeAdd(LONG volatile* p, LONG v) {
    return __atomic_fetch_add(p, v, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedCompareExchange(LONG volatile* p, LONG exchange, LONG comparand) {
    __atomic_compare_exchange_n(p, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}

// Critical sections are recursive: the owning thread may enter again.
struct CRITICAL_SECTION {
    std::recursive_mutex* m_pMutex = nullptr;
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;
void InitializeCriticalSection(LPCRITICAL_SECTION cs);
BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION cs, DWORD spin);
void EnterCriticalSection(LPCRITICAL_SECTION cs);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs);
void LeaveCriticalSection(LPCRITICAL_SECTION cs);
void DeleteCriticalSection(LPCRITICAL_SECTION cs);

class CSyncObject {
public:
    virtual ~CSyncObject() = default;
    virtual BOOL Lock(DWORD dwTimeout = INFINITE) = 0;
    virtual BOOL Unlock() = 0;
};

class CCriticalSection : public CSyncObject {
public:
    CCriticalSection() { InitializeCriticalSection(&m_sect); }
    ~CCriticalSection() override { DeleteCriticalSection(&m_sect); }
    BOOL Lock(DWORD dwTimeout = INFINITE) override;
    BOOL Unlock() override {
        LeaveCriticalSection(&m_sect);
        return TRUE;
    }
    operator CRITICAL_SECTION*() { return &m_sect; }
    CRITICAL_SECTION m_sect;
};

class CSingleLock {
public:
    explicit CSingleLock(CSyncObject* pObject, BOOL bInitialLock = FALSE);
    ~CSingleLock() { Unlock(); }
    CSingleLock(const CSingleLock&) = delete;
    CSingleLock& operator=(const CSingleLock&) = delete;
    BOOL Lock(DWORD dwTimeout = INFINITE);
    BOOL Unlock();
    BOOL IsLocked() const { return m_bAcquired; }

private:
    CSyncObject* m_pObject;
    BOOL m_bAcquired = FALSE;
};

// Worker threads.
using AFX_THREADPROC = UINT (*)(LPVOID);

class CWinThread {
public:
    CWinThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam);
    virtual ~CWinThread();
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;

    // Starts the thread; with CREATE_SUSPENDED it waits for ResumeThread before running.
    BOOL CreateThread(DWORD dwCreateFlags = 0, UINT nStackSize = 0,
                      LPSECURITY_ATTRIBUTES lpSecurityAttrs = nullptr);
    DWORD ResumeThread();
    int GetThreadPriority();
    BOOL SetThreadPriority(int nPriority);
    operator HANDLE() const { return m_hThread; }

    HANDLE m_hThread = nullptr;
    DWORD m_nThreadID = 0;
    // When TRUE the object deletes itself some time after its thread has ended; do not keep
    // the pointer past the thread's life.
    BOOL m_bAutoDelete = TRUE;
    AFX_THREADPROC m_pfnThreadProc;
    LPVOID m_pThreadParams;
    int m_nPriority = THREAD_PRIORITY_NORMAL;
};

CWinThread* AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam,
                           int nPriority = THREAD_PRIORITY_NORMAL, UINT nStackSize = 0,
                           DWORD dwCreateFlags = 0, LPSECURITY_ATTRIBUTES lpSecurityAttrs = nullptr);

// Ends the calling worker thread at once with the given code (the thread's stack is unwound).
[[noreturn]] void AfxEndThread(UINT nExitCode, BOOL bDelete = TRUE);

// Exit support: asks every thread started through AfxBeginThread that is still running to stop
// (through the hook, which the message layer uses to post WM_QUIT to threads with a queue), then
// waits for them all for at most dwMilliseconds in total. Returns the number still running.
using AFX_THREAD_STOP_HOOK = void (*)(DWORD threadId);
void AfxSetThreadStopHook(AFX_THREAD_STOP_HOOK hook);
int AfxWaitForThreads(DWORD dwMilliseconds);
// The number of threads started through AfxBeginThread that have not ended yet.
int AfxGetRunningThreadCount();
// Whether AfxWaitForThreads has asked the thread to stop. The message layer asks when it makes a
// thread's queue, so a thread that makes its queue after the request still finds WM_QUIT there.
BOOL AfxThreadStopRequested(DWORD threadId);
