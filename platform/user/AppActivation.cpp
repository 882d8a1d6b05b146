// Activation that comes from the screen rather than from our own windows: another application
// taking the keyboard leaves none of ours active, so the skinned frame draws its inactive look.
#include "platform/user/Presenter.h"
#include "platform/user/WindowTable.h"

namespace afxuser {

void InputAppDeactivated() {
    HWND old = nullptr;
    {
        std::lock_guard<std::mutex> lock(TableMutex());
        Desktop& d = DesktopLocked();
        old = d.active;
        d.active = nullptr;
        if (auto w = FindLocked(old))
            w->activeCaption = false;
    }
    if (old && IsWindow(old)) {
        SendMessageA(old, WM_NCACTIVATE, FALSE, 0);
        SendMessageA(old, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, IsIconic(old) ? 1 : 0), 0);
    }
}

} // namespace afxuser
