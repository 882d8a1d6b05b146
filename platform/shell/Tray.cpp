#include "platform/shell/ShellApi.h"
#include "platform/shell/TrayHost.h"

#include "platform/kernel/CodePage.h"
#include "platform/kernel/WinError.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace afxshell {
namespace {

struct Icon {
    TrayIconInfo info;
    UINT callback = 0; // 0: the program asked for no notifications
};

std::mutex g_mutex;
ITrayHost* g_host = nullptr;
std::vector<Icon> g_icons;

std::vector<Icon>::iterator FindLocked(HWND hWnd, UINT uID) {
    return std::find_if(g_icons.begin(), g_icons.end(),
                        [&](const Icon& i) { return i.info.hWnd == hWnd && i.info.uID == uID; });
}

// szTip may come without its terminating zero; never read past the field, and never end the tip
// on the first byte of a double-byte character.
std::string BoundedTip(const CHAR (&field)[128]) {
    size_t len = strnlen(field, sizeof field);
    if (len == sizeof field)
        --len;
    size_t end = 0;
    for (size_t i = 0; i < len;) {
        size_t step = IsDBCSLeadByte(static_cast<BYTE>(field[i])) ? 2 : 1;
        if (i + step > len)
            break;
        i += step;
        end = i;
    }
    return std::string(field, end);
}

void Apply(Icon& icon, const NOTIFYICONDATAA& d) {
    if (d.uFlags & NIF_MESSAGE)
        icon.callback = d.uCallbackMessage;
    if (d.uFlags & NIF_ICON)
        icon.info.hIcon = d.hIcon;
    if (d.uFlags & NIF_TIP)
        icon.info.tip = BoundedTip(d.szTip);
}

} // namespace

ITrayHost* SetTrayHost(ITrayHost* host) {
    std::lock_guard<std::mutex> lock(g_mutex);
    ITrayHost* old = g_host;
    g_host = host;
    return old;
}

ITrayHost* CurrentTrayHost() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_host;
}

bool TrayIconNotify(HWND hWnd, UINT uID, UINT mouseMessage) {
    UINT callback = 0;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = FindLocked(hWnd, uID);
        if (it == g_icons.end())
            return false;
        callback = it->callback;
    }
    if (!callback)
        return false;
    return PostMessageA(hWnd, callback, uID, MAKELPARAM(mouseMessage, 0)) != FALSE;
}

} // namespace afxshell

using namespace afxshell;

BOOL Shell_NotifyIconA(DWORD dwMessage, PNOTIFYICONDATAA lpData) {
    if (!lpData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const NOTIFYICONDATAA& d = *lpData;
    ITrayHost* host = CurrentTrayHost();
    switch (dwMessage) {
    case NIM_ADD: {
        Icon icon;
        icon.info.hWnd = d.hWnd;
        icon.info.uID = d.uID;
        Apply(icon, d);
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            if (FindLocked(d.hWnd, d.uID) != g_icons.end())
                return FALSE;
        }
        if (!host || !host->IsAvailable() || !host->AddIcon(icon.info))
            return FALSE;
        std::lock_guard<std::mutex> lock(g_mutex);
        g_icons.push_back(std::move(icon));
        return TRUE;
    }
    case NIM_MODIFY: {
        Icon icon;
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            auto it = FindLocked(d.hWnd, d.uID);
            if (it == g_icons.end())
                return FALSE;
            icon = *it;
        }
        Apply(icon, d);
        if (!host || !host->ModifyIcon(icon.info))
            return FALSE;
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = FindLocked(d.hWnd, d.uID);
        if (it != g_icons.end())
            *it = std::move(icon);
        return TRUE;
    }
    case NIM_DELETE: {
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            auto it = FindLocked(d.hWnd, d.uID);
            if (it == g_icons.end())
                return FALSE;
            g_icons.erase(it);
        }
        // The program's record is gone either way: an area that has lost the icon already (its
        // host went away) must not keep the program from adding it again.
        if (host)
            host->DeleteIcon(d.hWnd, d.uID);
        return TRUE;
    }
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
}
