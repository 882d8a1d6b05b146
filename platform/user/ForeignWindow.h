// Windows of other processes, as this process's window kernel meets them.
//
// The kernel knows only its own windows. A provider (the shell layer's single-instance support)
// hands out handles that stand for other processes' top-level windows: the walk over top-level
// windows (GetWindow from the desktop's GW_CHILD on with GW_HWNDNEXT) goes on past this process's
// last one to them, and GetPropA, IsIconic, ShowWindow, SetForegroundWindow, GetLastActivePopup
// and SendMessageA on such a handle go to the provider. The provider also learns of properties
// set on and removed from this process's windows, so that other processes can find them.
// A provider's handles never equal the kernel's own. The kernel calls the provider outside its
// own locks, from any thread; the provider may call the kernel.
#pragma once

#include "platform/user/WinUser.h"

namespace afxuser {

class IForeignWindows {
public:
    virtual ~IForeignWindows() = default;
    virtual bool IsForeign(HWND hWnd) = 0;
    // The walk past this process's windows: the first other process's window, then the next.
    virtual HWND FirstForeign() = 0;
    virtual HWND NextForeign(HWND hWnd) = 0;

    virtual HANDLE GetProp(HWND hWnd, LPCSTR name) = 0;
    virtual BOOL IsIconic(HWND hWnd) = 0;
    virtual BOOL ShowWindow(HWND hWnd, int nCmdShow) = 0;
    virtual BOOL SetForegroundWindow(HWND hWnd) = 0;
    virtual HWND GetLastActivePopup(HWND hWnd) = 0;
    virtual LRESULT SendMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) = 0;

    // A property of one of this process's windows was set or is about to be removed.
    virtual void PropertySet(HWND hWnd, LPCSTR name) = 0;
    virtual void PropertyRemoved(HWND hWnd, LPCSTR name) = 0;
};

// Installs p (null: none) and returns the one it replaces.
IForeignWindows* SetForeignWindows(IForeignWindows* p);
// The provider when hWnd is one of its handles, else null; cheap when none is installed.
IForeignWindows* ForeignWindowsFor(HWND hWnd);
// GetWindow with the walk carried past this process's top-level windows; local is the kernel's
// own answer for its windows.
HWND GetWindowWithForeign(HWND hWnd, UINT uCmd, HWND (*local)(HWND, UINT));
// Tells the provider, if any, about a property change of one of this process's windows.
void ForeignPropertyChanged(HWND hWnd, LPCSTR name, bool set);

} // namespace afxuser
