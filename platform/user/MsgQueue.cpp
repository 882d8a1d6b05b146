// Per-thread message queues: posted and sent messages, cross-thread sends, timers and the
// descriptor watches of other modules.
#include "platform/kernel/WinError.h"
#include "platform/user/MsgQueue.h"
#include "platform/user/ForeignWindow.h"
#include "platform/user/WinUser.h"
#include "platform/user/WindowCore.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Queue;

// A message sent from another thread. It lives on the sender's stack; the sender waits until
// `done` is set (under the sender queue's lock).
struct SentMsg {
    HWND hwnd;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result = 0;
    bool done = false;
    std::shared_ptr<Queue> sender;
};

struct Timer {
    HWND hwnd;
    UINT_PTR id;
    UINT elapse;
    TIMERPROC proc;
    Clock::time_point due;
};

struct FdWatch {
    int fd;
    AFX_FD_CALLBACK callback;
    uint64_t cookie;
};

constexpr uint64_t kWakeId = 0;
constexpr uint64_t kTimerId = 1;

// A posted message with its place in the order of arrival.
struct Posted {
    MSG msg;
    uint64_t seq;
};

struct Queue {
    DWORD tid = 0;
    std::mutex m;
    int epfd = -1;
    int evfd = -1;
    int tfd = -1;
    std::deque<Posted> posted;
    uint64_t nextSeq = 1;
    // Every message up to this one was already queued when the descriptors were last looked at:
    // looking again before taking it cannot put anything in front of it.
    uint64_t collectedSeq = 0;
    // The wake-up counter is non-zero; a second write would wake nobody more.
    bool signalled = false;
    // The thread posted to itself while handling ready descriptors, without a wake-up: it looks
    // at its messages next anyway. Whatever of them is left when it stops looking is signalled
    // to an outside loop.
    bool quietPosts = false;
    // The thread asked for its queue descriptor, so it may wait on it outside this module. A
    // thread that did not waits only here, and always looks at its messages before it waits: a
    // message that is already queued needs no wake-up for it.
    bool outsideLoop = false;
    std::deque<SentMsg*> sent;
    std::vector<Timer> timers;
    std::unordered_map<uint64_t, FdWatch> watches; // by watch id
    std::unordered_map<int, uint64_t> watchByFd;
    uint64_t nextWatchId = 2;
    UINT_PTR nextTimerId = 0x7FF0;
    bool quit = false;
    int quitCode = 0;
    bool dead = false;

    Queue() {
        epfd = epoll_create1(EPOLL_CLOEXEC);
        evfd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        tfd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = kWakeId;
        epoll_ctl(epfd, EPOLL_CTL_ADD, evfd, &ev);
        ev.data.u64 = kTimerId;
        epoll_ctl(epfd, EPOLL_CTL_ADD, tfd, &ev);
    }
    ~Queue() {
        close(tfd);
        close(evfd);
        close(epfd);
    }
    // Lock held. Makes the queue descriptor readable.
    void Wake() {
        if (signalled)
            return;
        uint64_t one = 1;
        ssize_t n = write(evfd, &one, sizeof one);
        (void)n;
        signalled = true;
    }
    // Lock held.
    void Drain() {
        if (!signalled)
            return;
        uint64_t v;
        ssize_t n = read(evfd, &v, sizeof v);
        (void)n;
        signalled = false;
    }
    // Lock held.
    void Push(const MSG& m) { posted.push_back(Posted{m, nextSeq++}); }
    // Lock held: points the timer descriptor at the earliest timer.
    void ArmTimerFd() {
        itimerspec its{};
        if (!timers.empty()) {
            auto earliest = timers.front().due;
            for (const Timer& t : timers)
                earliest = std::min(earliest, t.due);
            auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(earliest - Clock::now()).count();
            if (ns < 1)
                ns = 1;
            its.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
            its.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
        }
        timerfd_settime(tfd, 0, &its, nullptr);
    }
};

std::mutex g_queuesMx; // guards the table of queues
std::unordered_map<DWORD, std::shared_ptr<Queue>>& Queues() {
    static auto* m = new std::unordered_map<DWORD, std::shared_ptr<Queue>>;
    return *m;
}

void ShutdownQueue(const std::shared_ptr<Queue>& q);

// Owns the calling thread's queue; tears it down when the thread ends.
struct QueueHolder {
    std::shared_ptr<Queue> q;
    ~QueueHolder() {
        if (q)
            ShutdownQueue(q);
    }
};
thread_local QueueHolder t_queue;
thread_local int t_inSend = 0;
thread_local DWORD t_msgTime = 0;
thread_local AFX_QUEUE_WAIT t_outsideWait = nullptr;
// The queue whose ready descriptors this thread is handling right now, if any.
thread_local Queue* t_collecting = nullptr;

// Lock held, after a message was posted. A thread that posts to itself is not waiting; it needs
// a wake-up only for an outside loop, and not even then while it handles its ready descriptors,
// since it looks at its messages right after. Every other poster wakes it.
void SignalPost(const std::shared_ptr<Queue>& q) {
    if (q != t_queue.q)
        q->Wake();
    else if (!q->outsideLoop)
        return;
    else if (q.get() == t_collecting)
        q->quietPosts = true;
    else
        q->Wake();
}

// The thread's queue when it has one; never makes one.
std::shared_ptr<Queue> ExistingQueue(DWORD tid) {
    std::lock_guard<std::mutex> lock(g_queuesMx);
    auto it = Queues().find(tid);
    return it == Queues().end() ? nullptr : it->second;
}

void StopHook(DWORD tid) {
    std::shared_ptr<Queue> q = ExistingQueue(tid);
    if (q) {
        std::lock_guard<std::mutex> lock(q->m);
        q->quit = true;
        q->quitCode = 0;
        q->Wake();
    }
}

const std::shared_ptr<Queue>& SelfQueue() {
    if (!t_queue.q) {
        auto q = std::make_shared<Queue>();
        q->tid = GetCurrentThreadId();
        {
            std::lock_guard<std::mutex> lock(g_queuesMx);
            Queues()[q->tid] = q;
        }
        t_queue.q = q;
        AfxSetThreadStopHook(&StopHook);
        // Asked to stop before it had a queue: the hook found nothing to post to then.
        if (AfxThreadStopRequested(q->tid)) {
            std::lock_guard<std::mutex> lock(q->m);
            q->quit = true;
            q->quitCode = 0;
            q->Wake();
        }
    }
    return t_queue.q;
}

std::shared_ptr<Queue> QueueOf(DWORD tid) {
    if (tid == GetCurrentThreadId())
        return SelfQueue();
    return ExistingQueue(tid);
}

void Complete(SentMsg* sm, LRESULT result) {
    std::shared_ptr<Queue> sender = sm->sender;
    std::lock_guard<std::mutex> lock(sender->m);
    sm->result = result;
    sm->done = true;
    sender->Wake();
}

LRESULT CallProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    return afxuser::CallWndProc(h, msg, w, l);
}

// Runs every message other threads have sent to this one.
void ProcessSent(const std::shared_ptr<Queue>& q) {
    for (;;) {
        SentMsg* sm;
        {
            std::lock_guard<std::mutex> lock(q->m);
            if (q->sent.empty())
                return;
            sm = q->sent.front();
            q->sent.pop_front();
        }
        LRESULT r = 0;
        if (IsWindow(sm->hwnd)) {
            ++t_inSend;
            r = CallProc(sm->hwnd, sm->msg, sm->wParam, sm->lParam);
            --t_inSend;
        }
        Complete(sm, r);
    }
}

// Handles what the queue descriptor reported: drains the wake-ups and runs the callbacks of
// ready watched descriptors (which usually post messages).
void HandleReady(const std::shared_ptr<Queue>& q, const epoll_event* evs, int n) {
    for (int i = 0; i < n; ++i) {
        uint64_t id = evs[i].data.u64;
        if (id == kWakeId) {
            std::lock_guard<std::mutex> lock(q->m);
            q->Drain();
        } else if (id == kTimerId) {
            uint64_t v;
            ssize_t r = read(q->tfd, &v, sizeof v);
            (void)r;
        } else {
            FdWatch w{};
            {
                std::lock_guard<std::mutex> lock(q->m);
                auto it = q->watches.find(id);
                if (it == q->watches.end())
                    continue; // unwatched by an earlier callback of this batch
                w = it->second;
            }
            Queue* outer = t_collecting;
            t_collecting = q.get();
            w.callback(w.cookie, evs[i].events);
            t_collecting = outer;
        }
    }
    std::lock_guard<std::mutex> lock(q->m);
    q->collectedSeq = q->nextSeq - 1;
}

// Looks at the descriptors without waiting.
void CollectReady(const std::shared_ptr<Queue>& q) {
    epoll_event evs[64];
    int n = epoll_wait(q->epfd, evs, 64, 0);
    if (n > 0)
        HandleReady(q, evs, n);
}

bool Matches(const MSG& m, HWND filter, UINT lo, UINT hi) {
    if (filter == reinterpret_cast<HWND>(static_cast<intptr_t>(-1))) {
        if (m.hwnd != nullptr)
            return false;
    } else if (filter != nullptr) {
        HWND h = m.hwnd;
        bool ok = false;
        while (h) {
            if (h == filter) {
                ok = true;
                break;
            }
            h = GetParent(h);
        }
        if (!ok)
            return false;
    }
    if (lo == 0 && hi == 0)
        return true;
    return m.message >= lo && m.message <= hi;
}

// Whether the first posted message is one the caller takes and was queued before the last look
// at the descriptors: looking again could only queue things behind it.
bool OldMessageFirst(const std::shared_ptr<Queue>& q, HWND filter, UINT lo, UINT hi) {
    std::lock_guard<std::mutex> lock(q->m);
    return !q->posted.empty() && q->posted.front().seq <= q->collectedSeq &&
           Matches(q->posted.front().msg, filter, lo, hi);
}

// Lock held. Takes or looks at the first message that matches.
bool TakeMessage(const std::shared_ptr<Queue>& q, LPMSG out, HWND filter, UINT lo, UINT hi, UINT remove) {
    for (auto it = q->posted.begin(); it != q->posted.end(); ++it) {
        if (Matches(it->msg, filter, lo, hi)) {
            *out = it->msg;
            if (remove & PM_REMOVE)
                q->posted.erase(it);
            else if (q->outsideLoop)
                q->Wake(); // still waiting: keep the queue descriptor readable
            return true;
        }
    }
    if (q->quit && (filter == nullptr || filter == reinterpret_cast<HWND>(static_cast<intptr_t>(-1))) &&
        ((lo == 0 && hi == 0) || (WM_QUIT >= lo && WM_QUIT <= hi))) {
        *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(q->quitCode), 0, GetTickCount(), {0, 0}};
        if (remove & PM_REMOVE)
            q->quit = false;
        else if (q->outsideLoop)
            q->Wake();
        return true;
    }
    // Paints come after posted messages and before timers; WM_PAINT stays until the window
    // is validated.
    if (((lo == 0 && hi == 0) || (WM_PAINT >= lo && WM_PAINT <= hi)) &&
        filter != reinterpret_cast<HWND>(static_cast<intptr_t>(-1))) {
        if (HWND p = afxuser::NextPaintWindow(q->tid, filter)) {
            *out = MSG{p, WM_PAINT, 0, 0, GetTickCount(), {0, 0}};
            if (q->outsideLoop)
                q->Wake();
            return true;
        }
    }
    if ((lo == 0 && hi == 0) || (WM_TIMER >= lo && WM_TIMER <= hi)) {
        auto now = Clock::now();
        for (Timer& t : q->timers) {
            if (t.due > now)
                continue;
            MSG m{t.hwnd, WM_TIMER, t.id, reinterpret_cast<LPARAM>(t.proc), GetTickCount(), {0, 0}};
            if (!Matches(m, filter, 0, 0))
                continue;
            *out = m;
            if (remove & PM_REMOVE) {
                t.due = now + std::chrono::milliseconds(t.elapse);
                q->ArmTimerFd();
            } else if (q->outsideLoop) {
                q->Wake();
            }
            return true;
        }
    }
    return false;
}

bool PeekInternal(const std::shared_ptr<Queue>& q, LPMSG out, HWND filter, UINT lo, UINT hi, UINT remove) {
    ProcessSent(q);
    if (!OldMessageFirst(q, filter, lo, hi)) {
        CollectReady(q);
        ProcessSent(q);
    }
    for (;;) {
        bool found;
        {
            std::lock_guard<std::mutex> lock(q->m);
            found = TakeMessage(q, out, filter, lo, hi, remove);
            if (q->quietPosts) {
                // Messages the thread posted to itself without a wake-up and has not taken yet:
                // an outside loop that waits on the queue descriptor next must see them.
                q->quietPosts = false;
                if (q->outsideLoop && !q->posted.empty())
                    q->Wake();
            }
        }
        // Queued input becomes the message it means once a loop takes it.
        if (!found || !(remove & PM_REMOVE) ||
            (out->message != afxuser::kRawMouseInput && out->message != afxuser::kRawKeyInput))
            return found;
        if (afxuser::TranslateInput(out))
            return true;
    }
}

// Blocks until something is waiting for the thread, and handles the ready descriptors it finds.
void WaitQueue(const std::shared_ptr<Queue>& q) {
    epoll_event evs[64];
    int timeout = AfxGetNextTimerTimeout();
    if (t_outsideWait)
        t_outsideWait(q->epfd, timeout);
    int n = epoll_wait(q->epfd, evs, 64, t_outsideWait ? 0 : timeout);
    if (n > 0)
        HandleReady(q, evs, n);
}

void ShutdownQueue(const std::shared_ptr<Queue>& q) {
    std::deque<SentMsg*> pending;
    {
        std::lock_guard<std::mutex> lock(q->m);
        q->dead = true;
        pending.swap(q->sent);
    }
    for (SentMsg* sm : pending)
        Complete(sm, 0);
    {
        std::lock_guard<std::mutex> lock(g_queuesMx);
        Queues().erase(q->tid);
    }
    afxuser::DropThreadWindows(q->tid);
}

} // namespace

namespace afxuser {

void EnsureThreadQueue() {
    SelfQueue();
}

void WakeThreadQueue(DWORD tid) {
    std::shared_ptr<Queue> q = ExistingQueue(tid);
    if (!q)
        return;
    std::lock_guard<std::mutex> lock(q->m);
    SignalPost(q);
}

void SweepWindowMessages(HWND hWnd) {
    auto q = SelfQueue();
    std::vector<SentMsg*> cancelled;
    {
        std::lock_guard<std::mutex> lock(q->m);
        q->timers.erase(std::remove_if(q->timers.begin(), q->timers.end(),
                                       [hWnd](const Timer& t) { return t.hwnd == hWnd; }),
                        q->timers.end());
        q->ArmTimerFd();
        for (auto it = q->sent.begin(); it != q->sent.end();) {
            if ((*it)->hwnd == hWnd) {
                cancelled.push_back(*it);
                it = q->sent.erase(it);
            } else {
                ++it;
            }
        }
        q->posted.erase(std::remove_if(q->posted.begin(), q->posted.end(),
                                       [hWnd](const Posted& p) { return p.msg.hwnd == hWnd; }),
                        q->posted.end());
    }
    for (SentMsg* sm : cancelled)
        Complete(sm, 0);
}

} // namespace afxuser

// Messages.

LRESULT SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (auto* f = afxuser::ForeignWindowsFor(hWnd))
        return f->SendMessage(hWnd, Msg, wParam, lParam);
    DWORD owner = GetWindowThreadProcessId(hWnd, nullptr);
    if (!owner) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    DWORD self = GetCurrentThreadId();
    if (owner == self)
        return CallProc(hWnd, Msg, wParam, lParam);

    std::shared_ptr<Queue> target = QueueOf(owner);
    if (!target)
        return 0;
    const std::shared_ptr<Queue>& me = SelfQueue();
    SentMsg sm{hWnd, Msg, wParam, lParam, 0, false, me};
    {
        std::lock_guard<std::mutex> lock(target->m);
        if (target->dead)
            return 0;
        target->sent.push_back(&sm);
        target->Wake();
    }
    // The window may have gone between the look-up and the queueing; its thread's DestroyWindow
    // has then already swept the queue, so look again.
    if (!IsWindow(hWnd)) {
        bool removed = false;
        {
            std::lock_guard<std::mutex> lock(target->m);
            auto it = std::find(target->sent.begin(), target->sent.end(), &sm);
            if (it != target->sent.end()) {
                target->sent.erase(it);
                removed = true;
            }
        }
        if (removed)
            return 0;
    }
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(me->m);
            if (sm.done)
                break;
        }
        ProcessSent(me);
        {
            std::lock_guard<std::mutex> lock(me->m);
            if (sm.done)
                break;
        }
        pollfd p{me->evfd, POLLIN, 0};
        poll(&p, 1, -1);
        std::lock_guard<std::mutex> lock(me->m);
        me->Drain();
    }
    // Wake-ups meant for this thread's loop may have been drained while waiting.
    {
        std::lock_guard<std::mutex> lock(me->m);
        if (!me->posted.empty() || me->quit || !me->sent.empty())
            me->Wake();
    }
    return sm.result;
}

BOOL PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (hWnd == nullptr)
        return PostThreadMessageA(GetCurrentThreadId(), Msg, wParam, lParam);
    DWORD owner = GetWindowThreadProcessId(hWnd, nullptr);
    if (!owner) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    std::shared_ptr<Queue> q = QueueOf(owner);
    if (!q) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(q->m);
    if (q->dead)
        return FALSE;
    q->Push(MSG{hWnd, Msg, wParam, lParam, GetTickCount(), {0, 0}});
    SignalPost(q);
    return TRUE;
}

BOOL PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<Queue> q;
    if (idThread == GetCurrentThreadId()) {
        q = SelfQueue();
    } else {
        std::lock_guard<std::mutex> lock(g_queuesMx);
        auto it = Queues().find(idThread);
        if (it != Queues().end())
            q = it->second;
    }
    if (!q) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(q->m);
    if (q->dead) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    q->Push(MSG{nullptr, Msg, wParam, lParam, GetTickCount(), {0, 0}});
    SignalPost(q);
    return TRUE;
}

void PostQuitMessage(int nExitCode) {
    const auto& q = SelfQueue();
    std::lock_guard<std::mutex> lock(q->m);
    q->quit = true;
    q->quitCode = nExitCode;
    q->Wake();
}

BOOL PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
    if (!lpMsg)
        return FALSE;
    if (PeekInternal(SelfQueue(), lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, wRemoveMsg)) {
        t_msgTime = lpMsg->time;
        return TRUE;
    }
    return FALSE;
}

BOOL GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
    if (!lpMsg)
        return -1;
    if (hWnd && hWnd != reinterpret_cast<HWND>(static_cast<intptr_t>(-1)) && !IsWindow(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    const auto& q = SelfQueue();
    for (;;) {
        if (PeekInternal(q, lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, PM_REMOVE)) {
            t_msgTime = lpMsg->time;
            return lpMsg->message == WM_QUIT ? FALSE : TRUE;
        }
        WaitQueue(q);
    }
}

BOOL WaitMessage() {
    const auto& q = SelfQueue();
    MSG m;
    while (!PeekInternal(q, &m, nullptr, 0, 0, PM_NOREMOVE))
        WaitQueue(q);
    return TRUE;
}

BOOL TranslateMessage(const MSG*) {
    // Key messages become character messages in the presenter, which knows the keyboard.
    return FALSE;
}

LRESULT DispatchMessageA(const MSG* lpMsg) {
    if (!lpMsg)
        return 0;
    if (lpMsg->message == WM_TIMER && lpMsg->lParam != 0) {
        auto proc = reinterpret_cast<TIMERPROC>(lpMsg->lParam);
        proc(lpMsg->hwnd, WM_TIMER, static_cast<UINT_PTR>(lpMsg->wParam), lpMsg->time);
        return 0;
    }
    if (!lpMsg->hwnd)
        return 0;
    return afxuser::CallOwnWndProc(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

BOOL InSendMessage() {
    return t_inSend > 0 ? TRUE : FALSE;
}

DWORD GetMessageTime() {
    return t_msgTime;
}

// Timers.

UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
    if (hWnd) {
        DWORD owner = GetWindowThreadProcessId(hWnd, nullptr);
        if (owner != GetCurrentThreadId()) {
            SetLastError(owner ? ERROR_ACCESS_DENIED : ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
    }
    if (uElapse < 10)
        uElapse = 10;
    const auto& q = SelfQueue();
    std::lock_guard<std::mutex> lock(q->m);
    auto due = Clock::now() + std::chrono::milliseconds(uElapse);
    if (hWnd == nullptr) {
        bool exists = nIDEvent != 0 && std::any_of(q->timers.begin(), q->timers.end(), [&](const Timer& t) {
                          return t.hwnd == nullptr && t.id == nIDEvent;
                      });
        if (!exists) {
            do {
                nIDEvent = ++q->nextTimerId;
            } while (std::any_of(q->timers.begin(), q->timers.end(),
                                 [&](const Timer& t) { return t.hwnd == nullptr && t.id == nIDEvent; }));
        }
    }
    for (Timer& t : q->timers) {
        if (t.hwnd == hWnd && t.id == nIDEvent) {
            t.elapse = uElapse;
            t.proc = lpTimerFunc;
            t.due = due;
            q->ArmTimerFd();
            return hWnd ? 1 : nIDEvent;
        }
    }
    q->timers.push_back(Timer{hWnd, nIDEvent, uElapse, lpTimerFunc, due});
    q->ArmTimerFd();
    return hWnd ? 1 : nIDEvent;
}

BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent) {
    const auto& q = SelfQueue();
    std::lock_guard<std::mutex> lock(q->m);
    auto it = std::find_if(q->timers.begin(), q->timers.end(),
                           [&](const Timer& t) { return t.hwnd == hWnd && t.id == uIDEvent; });
    if (it == q->timers.end())
        return FALSE;
    q->timers.erase(it);
    q->ArmTimerFd();
    return TRUE;
}

// The queue for outside loops and other modules.

int AfxGetThreadQueueFd() {
    const auto& q = SelfQueue();
    std::lock_guard<std::mutex> lock(q->m);
    if (!q->outsideLoop) {
        q->outsideLoop = true;
        // What is waiting already must show on the descriptor from now on.
        if (!q->posted.empty() || q->quit)
            q->Wake();
    }
    return q->epfd;
}

int AfxGetNextTimerTimeout() {
    const auto& q = SelfQueue();
    std::lock_guard<std::mutex> lock(q->m);
    if (q->timers.empty())
        return -1;
    auto now = Clock::now();
    auto earliest = q->timers.front().due;
    for (const Timer& t : q->timers)
        earliest = std::min(earliest, t.due);
    if (earliest <= now)
        return 0;
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(earliest - now).count()) +
           1;
}

BOOL AfxPumpPendingMessages(int* pExitCode) {
    const auto& q = SelfQueue();
    MSG m;
    // Bounded, so handlers that keep posting cannot starve the outside loop.
    for (int i = 0; i < 1000; ++i) {
        if (!PeekInternal(q, &m, nullptr, 0, 0, PM_REMOVE))
            return TRUE;
        if (m.message == WM_QUIT) {
            if (pExitCode)
                *pExitCode = static_cast<int>(m.wParam);
            return FALSE;
        }
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
    std::lock_guard<std::mutex> lock(q->m);
    q->Wake();
    return TRUE;
}

void AfxSetThreadQueueWait(AFX_QUEUE_WAIT wait) {
    t_outsideWait = wait;
}

BOOL AfxThreadHasQueue() {
    return t_queue.q ? TRUE : FALSE;
}

BOOL AfxThreadHasQueue(DWORD threadId) {
    std::lock_guard<std::mutex> lock(g_queuesMx);
    return Queues().count(threadId) ? TRUE : FALSE;
}

BOOL AfxQueueWatchFd(DWORD threadId, int fd, uint32_t events, AFX_FD_CALLBACK callback, uint64_t cookie) {
    auto q = QueueOf(threadId);
    if (!q || fd < 0 || !callback)
        return FALSE;
    std::lock_guard<std::mutex> lock(q->m);
    if (q->watchByFd.count(fd))
        return FALSE;
    uint64_t id = q->nextWatchId++;
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = id;
    if (epoll_ctl(q->epfd, EPOLL_CTL_ADD, fd, &ev) != 0)
        return FALSE;
    q->watches[id] = FdWatch{fd, callback, cookie};
    q->watchByFd[fd] = id;
    // No wake-up: a descriptor that is ready as it is added makes the queue descriptor readable
    // by itself, for a waiting thread and an outside loop alike.
    return TRUE;
}

BOOL AfxQueueModifyFd(DWORD threadId, int fd, uint32_t events) {
    auto q = QueueOf(threadId);
    if (!q)
        return FALSE;
    std::lock_guard<std::mutex> lock(q->m);
    auto it = q->watchByFd.find(fd);
    if (it == q->watchByFd.end())
        return FALSE;
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = it->second;
    // Like an added one, a descriptor made ready by the change wakes the waiters by itself.
    return epoll_ctl(q->epfd, EPOLL_CTL_MOD, fd, &ev) == 0 ? TRUE : FALSE;
}

BOOL AfxQueuePostWindowMessage(DWORD threadId, HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<Queue> other;
    const std::shared_ptr<Queue>& q =
        threadId == GetCurrentThreadId() ? SelfQueue() : (other = ExistingQueue(threadId));
    if (!q)
        return FALSE;
    std::lock_guard<std::mutex> lock(q->m);
    if (q->dead)
        return FALSE;
    q->Push(MSG{hWnd, msg, wParam, lParam, GetTickCount(), {0, 0}});
    SignalPost(q);
    return TRUE;
}

BOOL AfxQueueUnwatchFd(DWORD threadId, int fd) {
    auto q = QueueOf(threadId);
    if (!q)
        return FALSE;
    std::lock_guard<std::mutex> lock(q->m);
    auto it = q->watchByFd.find(fd);
    if (it == q->watchByFd.end())
        return FALSE;
    epoll_ctl(q->epfd, EPOLL_CTL_DEL, fd, nullptr);
    q->watches.erase(it->second);
    q->watchByFd.erase(it);
    return TRUE;
}
