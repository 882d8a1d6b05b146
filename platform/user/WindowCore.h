// Internal hooks between the window kernel and CWnd; not for the program's code.
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

} // namespace afxuser
