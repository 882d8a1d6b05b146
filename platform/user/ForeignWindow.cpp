#include "platform/user/ForeignWindow.h"

#include <atomic>

namespace afxuser {
namespace {

std::atomic<IForeignWindows*> g_provider{nullptr};

} // namespace

IForeignWindows* SetForeignWindows(IForeignWindows* p) {
    return g_provider.exchange(p);
}

IForeignWindows* ForeignWindowsFor(HWND hWnd) {
    IForeignWindows* p = g_provider.load(std::memory_order_acquire);
    return p && hWnd && p->IsForeign(hWnd) ? p : nullptr;
}

HWND GetWindowWithForeign(HWND hWnd, UINT uCmd, HWND (*local)(HWND, UINT)) {
    IForeignWindows* p = g_provider.load(std::memory_order_acquire);
    if (p && hWnd && p->IsForeign(hWnd))
        return uCmd == GW_HWNDNEXT ? p->NextForeign(hWnd) : nullptr;
    // The desktop's first child is the top of the top-level windows.
    HWND result = !hWnd && uCmd == GW_CHILD ? GetTopWindow(nullptr) : local(hWnd, uCmd);
    if (result || !p)
        return result;
    bool pastLastTopLevel = uCmd == GW_HWNDNEXT && IsWindow(hWnd) && !GetAncestor(hWnd, GA_PARENT);
    if ((!hWnd && uCmd == GW_CHILD) || pastLastTopLevel)
        return p->FirstForeign();
    return nullptr;
}

void ForeignPropertyChanged(HWND hWnd, LPCSTR name, bool set) {
    IForeignWindows* p = g_provider.load(std::memory_order_acquire);
    if (!p || !name)
        return;
    if (set)
        p->PropertySet(hWnd, name);
    else
        p->PropertyRemoved(hWnd, name);
}

} // namespace afxuser
