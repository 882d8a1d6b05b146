#include "platform/shell/ShellApi.h"
#include "platform/shell/TrayHost.h"

#include <algorithm>

namespace afxshell {

void HeadlessTrayHost::SetAvailable(bool available) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_available = available;
}

std::vector<HeadlessTrayHost::Call> HeadlessTrayHost::Calls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

std::optional<TrayIconInfo> HeadlessTrayHost::Icon(HWND hWnd, UINT uID) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& i : m_shown)
        if (i.hWnd == hWnd && i.uID == uID)
            return i;
    return std::nullopt;
}

bool HeadlessTrayHost::Click(HWND hWnd, UINT uID, UINT mouseMessage) {
    if (!Icon(hWnd, uID))
        return false;
    return TrayIconNotify(hWnd, uID, mouseMessage);
}

bool HeadlessTrayHost::IsAvailable() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_available;
}

bool HeadlessTrayHost::AddIcon(const TrayIconInfo& icon) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_available)
        return false;
    m_calls.push_back({NIM_ADD, icon});
    m_shown.push_back(icon);
    return true;
}

bool HeadlessTrayHost::ModifyIcon(const TrayIconInfo& icon) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& i : m_shown)
        if (i.hWnd == icon.hWnd && i.uID == icon.uID) {
            m_calls.push_back({NIM_MODIFY, icon});
            i = icon;
            return true;
        }
    return false;
}

bool HeadlessTrayHost::DeleteIcon(HWND hWnd, UINT uID) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = std::find_if(m_shown.begin(), m_shown.end(),
                           [&](const TrayIconInfo& i) { return i.hWnd == hWnd && i.uID == uID; });
    if (it == m_shown.end())
        return false;
    TrayIconInfo gone = *it;
    m_shown.erase(it);
    m_calls.push_back({NIM_DELETE, gone});
    return true;
}

} // namespace afxshell
