// Waiting in tests: for a condition with a bound, for a signal from another thread, for a
// condition while the calling thread's message queue is served, or for the next arrival in that
// queue without serving it. A test waits on the event it
// means through these, never on a fixed sleep, so that it tests the same path on a loaded
// machine. Every wait returns false when its bound passes, and the test asserts on that.
#pragma once

#include "platform/user/MsgQueue.h"
#include "platform/user/WinUser.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <poll.h>

namespace testwait {

using namespace std::chrono_literals;
inline constexpr std::chrono::milliseconds kBound = 10s;

// Checks cond until it holds or the bound passes. For state that another thread changes without
// telling anyone; the checks back off from 0.1 ms to 5 ms, so a short wait costs little.
template <class Cond> bool WaitFor(Cond&& cond, std::chrono::milliseconds bound = kBound) {
    auto deadline = std::chrono::steady_clock::now() + bound;
    auto pause = std::chrono::microseconds(100);
    while (!cond()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return cond();
        std::this_thread::sleep_for(pause);
        pause = std::min<std::chrono::microseconds>(pause * 2, 5ms);
    }
    return true;
}

// Serves the calling thread's queue (posted and sent messages, timers, sockets) until cond
// holds or the bound passes. Wakes on the queue's own descriptor, so it reacts at once.
template <class Cond> bool PumpUntil(Cond&& cond, std::chrono::milliseconds bound = kBound) {
    auto deadline = std::chrono::steady_clock::now() + bound;
    int fd = AfxGetThreadQueueFd();
    for (;;) {
        AfxPumpPendingMessages();
        if (cond())
            return true;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 50)));
    }
}

// The next arrival in the calling thread's queue (a message posted or sent by another thread, a
// timer, a ready socket), left unhandled: for a test that must act while another thread waits in
// SendMessage. Make it before letting the other thread go: it looks at the queue then (a message
// sent to the thread that waits already is handled), so only what comes later ends Wait. Wait
// handles nothing: it only watches the queue's descriptor.
class QueueArrival {
public:
    QueueArrival() : m_fd(AfxGetThreadQueueFd()) {
        // A look for a message nobody posts collects what woke the queue before.
        MSG msg;
        PeekMessage(&msg, nullptr, kNoMessage, kNoMessage, PM_NOREMOVE);
    }
    bool Wait(std::chrono::milliseconds bound = kBound) const {
        pollfd p{m_fd, POLLIN, 0};
        return ::poll(&p, 1, static_cast<int>(bound.count())) == 1;
    }

private:
    static constexpr UINT kNoMessage = 0xFFFF;
    int m_fd;
};

// A one-shot signal between threads: Set() once, Wait() returns true once it is set.
class Signal {
public:
    void Set() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_set = true;
        }
        m_cv.notify_all();
    }
    bool IsSet() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_set;
    }
    bool Wait(std::chrono::milliseconds bound = kBound) const {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, bound, [&] { return m_set; });
    }

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    bool m_set = false;
};

} // namespace testwait
