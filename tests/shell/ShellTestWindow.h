// A top-level window for the shell tests that keeps the messages the shell sends or posts to it
// (anything at or above WM_USER, and WM_COPYDATA with a copy of its bytes). User-interface thread.
#pragma once

#include "platform/user/User.h"

#include <string>
#include <vector>

namespace shelltest {

struct Received {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    ULONG_PTR dwData = 0;
    std::string data; // WM_COPYDATA's bytes
};

class TestWindow {
public:
    TestWindow() {
        WNDCLASSA wc{};
        wc.lpfnWndProc = &Proc;
        wc.lpszClassName = "ShellTestWnd";
        RegisterClassA(&wc); // a second registration fails harmlessly
        m_hWnd = CreateWindowExA(0, "ShellTestWnd", "", WS_POPUP, 10, 10, 200, 100, nullptr, nullptr, nullptr,
                                 nullptr);
        Log().clear();
    }
    ~TestWindow() {
        if (IsWindow(m_hWnd))
            DestroyWindow(m_hWnd);
    }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    HWND hWnd() const { return m_hWnd; }
    void Destroy() { DestroyWindow(m_hWnd); }
    static std::vector<Received>& Log() {
        static std::vector<Received> log;
        return log;
    }
    // The answer to WM_COPYDATA.
    static LRESULT& CopyDataResult() {
        static LRESULT r = TRUE;
        return r;
    }

private:
    static LRESULT Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
        if (m == WM_COPYDATA) {
            auto* cds = reinterpret_cast<COPYDATASTRUCT*>(l);
            Received r{m, w, l, cds->dwData, std::string(static_cast<const char*>(cds->lpData), cds->cbData)};
            Log().push_back(r);
            return CopyDataResult();
        }
        if (m >= WM_USER)
            Log().push_back({m, w, l, 0, {}});
        return DefWindowProcA(h, m, w, l);
    }
    HWND m_hWnd = nullptr;
};

} // namespace shelltest
