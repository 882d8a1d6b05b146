// Internal hooks between the window half of the kernel, its queue half and CWnd; not for the
// program's code. Each half keeps its own tables and lock and reaches the other only through these.
#pragma once

#include "platform/user/WinUser.h"

class CWnd;

namespace afxuser {

// The object that the next window created on this thread belongs to (set by CWnd::CreateEx);
// the kernel attaches it before the first message.
CWnd*& PendingCreateWnd();
// Called by the kernel for the window being created while a pending object is set.
void AttachPendingWnd(HWND hWnd);
// Called by the kernel when a window's handle is dropped, to forget temporary objects.
void ForgetWnd(HWND hWnd);

// Dialog manager, for CDialog: a dialog from a template of the given size (the template is read
// with bounds).
HWND CreateDialogFromTemplate(const void* data, size_t size, HWND hOwner, DLGPROC proc, LPARAM param);

// Queue half, for the window half.
// Gives the calling thread its queue, so that a window it creates can receive posts.
void EnsureThreadQueue();
// Drops what the calling thread's queue holds for a window being destroyed: its timers, its
// posted messages, and the sends waiting for it (their senders get 0).
void SweepWindowMessages(HWND hWnd);
// Makes a thread look at its queue again (a window of it has something to paint).
void WakeThreadQueue(DWORD tid);

// Window half, for the queue half.
// Runs the window's procedure as it is at the time of the call; 0 for a window that is gone.
LRESULT CallWndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
// The same for a message the calling thread dispatches: 0 without a call when the window is gone
// or belongs to another thread.
LRESULT CallOwnWndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Forgets every window of a thread whose queue is going away with the thread.
void DropThreadWindows(DWORD tid);
// Queued input (InputMouse, InputKey) travels as thread messages of these two kinds until a
// loop takes it; then it is routed into the message the loop gets. FALSE when the event leads
// to no message (eaten by activation, by the move loop, or with no window under the pointer).
constexpr UINT kRawMouseInput = 0x03F1;
constexpr UINT kRawKeyInput = 0x03F2;
BOOL TranslateInput(MSG* pMsg);
// The next window of the thread that has something to paint (parents first), or null.
HWND NextPaintWindow(DWORD tid, HWND filter);

} // namespace afxuser
