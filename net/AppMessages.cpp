#include "net/AppMessages.h"

#include <chrono>

CMainDlgTarget g_pMainDlg;

void CMainDlgTarget::Set(HWND hWnd) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_hWnd = hWnd;
}

HWND CMainDlgTarget::GetSafeHwnd() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_hWnd;
}

void CMainDlgTarget::Clear() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_hWnd = nullptr;
}

LRESULT CMainDlgTarget::Send(UINT message, WPARAM wParam, LPARAM lParam) {
    HWND hWnd;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        hWnd = m_hWnd;
        if (hWnd == nullptr)
            return 0;
        ++m_nSending;
    }
    LRESULT result = SendMessage(hWnd, message, wParam, lParam);
    {
        // Notified under the lock, so a waiter that sees no sender left cannot outlive the
        // notification into the target's destruction.
        std::lock_guard<std::mutex> guard(m_lock);
        --m_nSending;
        m_idle.notify_all();
    }
    return result;
}

int CMainDlgTarget::GetWaitingSenders() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_nSending;
}

BOOL CMainDlgTarget::ReleaseSenders(DWORD dwMilliseconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwMilliseconds);
    for (;;) {
        // Peeking handles the messages other threads are sending to this one.
        MSG msg;
        PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE);
        std::unique_lock<std::mutex> lock(m_lock);
        if (m_nSending == 0)
            return TRUE;
        if (std::chrono::steady_clock::now() >= deadline)
            return FALSE;
        m_idle.wait_for(lock, std::chrono::milliseconds(5));
    }
}
