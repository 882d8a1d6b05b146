// Named mutexes and other processes' windows: how a second start of the program finds the first
// and hands over to it.
//
// Both live in the session's runtime folder: $XDG_RUNTIME_DIR when only this user may enter it,
// else a folder under /tmp that only this user can enter (AfxGetRuntimeFolder). No other user can
// make a name there first, so none can take the program's single instance away from it.
//
// A named mutex is a lock file in that folder, locked shared by every process that holds a handle
// to the name and so for as long as one of them lives: the kernel frees the lock of a process
// that ends in any way, SIGKILL included. CreateMutexA finds the name taken (GetLastError
// ERROR_ALREADY_EXISTS) when another handle holds it, in this process or another.
//
// A property set on a top-level window is published as an endpoint other processes of the same
// user can find: a Unix socket in that folder (mode 0600) named after the property; one left by a
// process that was killed is taken over by the next window that sets the property. In another
// process the walk over top-level windows meets a handle standing for that window, and
// GetPropA (of the property it was found by), IsIconic, ShowWindow, SetForegroundWindow (which
// also raises it on the desktop), GetLastActivePopup and SendMessageA of WM_COPYDATA on that
// handle travel to the window's thread as one framed request each, answered there from its
// message loop. The caller waits for the answer for a bounded time and gets 0 (FALSE) when none
// comes. Either side talks only to a peer of the same user. WM_COPYDATA carries up to 1 MiB and
// arrives with wParam 0: the sender's window means nothing in the receiving process. Other
// messages do not cross (0, ERROR_INVALID_PARAMETER). Any thread.
#pragma once

#include <string>

#include "platform/kernel/Threads.h"
#include "platform/kernel/WinError.h"

// bInitialOwner is accepted and changes nothing: the program never waits on the mutex.
HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName);
inline HANDLE CreateMutex(LPSECURITY_ATTRIBUTES a, BOOL initialOwner, LPCSTR name) {
    return CreateMutexA(a, initialOwner, name);
}

namespace afxshell {

// How long a call on another process's window waits for the answer (5 s unless set); returns
// the bound it replaces.
DWORD SetCrossProcessWait(DWORD milliseconds);
// The path of the socket under which a window property is published in this session; "" when
// there is no runtime folder.
std::string WindowPropertyEndpoint(const std::string& property);

} // namespace afxshell
