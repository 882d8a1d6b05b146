// The per-thread message queue as seen by outside event loops and by other modules of the layer.
//
// Each thread's queue is one epoll descriptor: it becomes readable whenever something is waiting
// for the thread (a posted or sent message, WM_QUIT, a due timer, a watched descriptor that is
// ready). An outside loop (the GTK main loop of the user-interface thread) watches that one
// descriptor and calls AfxPumpPendingMessages when it is readable; headless code runs the usual
// GetMessage loop instead. Both see the same queue.
#pragma once

#include "platform/base/Win32Types.h"

#include <cstdint>

struct HWND__;
using HWND = HWND__*;

// The calling thread's queue descriptor (the queue is created on first use). Do not read from
// it or close it; only wait for it to become readable. A thread that never asks for it waits
// only in this module's calls, which look at what is queued first, so its posts to itself
// make no wake-up.
int AfxGetThreadQueueFd();
// Milliseconds until the calling thread's next timer is due, or -1 when none is set. The queue
// descriptor also becomes readable then; this is for loops that prefer a timeout.
int AfxGetNextTimerTimeout();
// Handles sent messages and dispatches every posted message, timer and ready descriptor that is
// waiting now, without blocking. Returns FALSE when WM_QUIT was taken from the queue (its exit
// code in *pExitCode when given), TRUE otherwise.
BOOL AfxPumpPendingMessages(int* pExitCode = nullptr);
// An outside loop that must keep running while the thread waits for its queue (GTK's, so that
// its windows draw and its events arrive during GetMessage, WaitMessage and every modal loop
// built on them) sets a wait for the calling thread: each blocking wait then calls
// wait(fd, timeoutMs) with the queue descriptor and the next timer's timeout (-1 for none)
// instead of sleeping on the descriptor itself, and looks at the queue again when it returns.
// It may return early. Null restores the plain wait. Messages sent from other threads are
// still handled inside every wait, whichever waits.
using AFX_QUEUE_WAIT = void (*)(int fd, int timeoutMs);
void AfxSetThreadQueueWait(AFX_QUEUE_WAIT wait);
// Whether the calling thread already has a queue.
BOOL AfxThreadHasQueue();
BOOL AfxThreadHasQueue(DWORD threadId);

// Descriptor sources for other modules of the layer (sockets). A watched descriptor is polled
// level-triggered whenever the owning thread looks at its queue; for each ready one the callback
// runs on that thread, outside any lock of the queue, with the epoll events that are set. The
// callback usually posts a message. Events are EPOLLIN/EPOLLOUT/EPOLLRDHUP bits; 0 pauses the
// watch. Every call names the owning thread and may be made from any thread.
using AFX_FD_CALLBACK = void (*)(uint64_t cookie, uint32_t revents);
BOOL AfxQueueWatchFd(DWORD threadId, int fd, uint32_t events, AFX_FD_CALLBACK callback, uint64_t cookie);
BOOL AfxQueueModifyFd(DWORD threadId, int fd, uint32_t events);
BOOL AfxQueueUnwatchFd(DWORD threadId, int fd);
// Posts a message for a window that the caller knows to belong to threadId (a window of the
// layer's own, such as the sockets' notification window), as PostMessage does but without
// looking the window up: the callbacks above post one for every ready descriptor.
BOOL AfxQueuePostWindowMessage(DWORD threadId, HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
