// Windows that write down the messages they receive, for tests of the window kernel's message
// order and routing. A test owns one Recorder; it registers two classes ("RecWnd" without and
// "RecWndDbl" with CS_DBLCLKS), logs every message of interest as a short readable line
// ("WM_SIZE 2 1004x702"), and lets the test answer chosen messages itself. User-interface
// thread only.
#pragma once

#include "platform/user/User.h"

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace testwin {

class Recorder {
public:
    using Answer = std::function<std::optional<LRESULT>(HWND, UINT, WPARAM, LPARAM)>;

    Recorder() {
        Current() = this;
        Register("RecWnd", 0);
        Register("RecWndDbl", CS_DBLCLKS);
    }
    ~Recorder() {
        if (Current() == this)
            Current() = nullptr;
    }

    HWND Make(DWORD style, RECT r, HWND parent = nullptr, DWORD exStyle = 0, bool dblclks = false,
              const char* name = "") {
        return CreateWindowExA(exStyle, dblclks ? "RecWndDbl" : "RecWnd", name, style, r.left, r.top,
                               r.right - r.left, r.bottom - r.top, parent, nullptr, nullptr, nullptr);
    }

    // Names windows in the log ("a", "b", ...); unnamed ones show as "?".
    void Name(HWND h, std::string name) { m_names.emplace_back(h, std::move(name)); }
    void SetAnswer(Answer a) { m_answer = std::move(a); }
    void Clear() { m_log.clear(); }
    const std::vector<std::string>& Log() const { return m_log; }
    // The log without the lines that hold any of these texts (for instance "WM_SETCURSOR", or
    // "MOVE" for every kind of move).
    std::vector<std::string> LogWithout(std::initializer_list<const char*> skip) const {
        std::vector<std::string> out;
        for (const auto& l : m_log) {
            bool drop = false;
            for (const char* s : skip)
                if (l.find(s) != std::string::npos)
                    drop = true;
            if (!drop)
                out.push_back(l);
        }
        return out;
    }

    static LRESULT Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
        Recorder* r = Current();
        if (!r)
            return DefWindowProcA(h, m, w, l);
        std::string line = r->Describe(h, m, w, l);
        if (!line.empty())
            r->m_log.push_back(line);
        if (r->m_answer)
            if (auto a = r->m_answer(h, m, w, l))
                return *a;
        return DefWindowProcA(h, m, w, l);
    }

private:
    static Recorder*& Current() {
        static Recorder* r = nullptr;
        return r;
    }
    static void Register(const char* name, UINT style) {
        WNDCLASSA wc{};
        wc.style = style;
        wc.lpfnWndProc = &Proc;
        wc.lpszClassName = name;
        RegisterClassA(&wc); // the second registration fails harmlessly
    }
    std::string NameOf(HWND h) const {
        for (const auto& [hw, n] : m_names)
            if (hw == h)
                return n;
        return h ? "?" : "0";
    }
    std::string Describe(HWND h, UINT m, WPARAM w, LPARAM l) const {
        char buf[160];
        int x = GET_X_LPARAM(l), y = GET_Y_LPARAM(l);
        std::string who = NameOf(h) + " ";
        switch (m) {
        case WM_NCCREATE:
            return who + "WM_NCCREATE";
        case WM_NCCALCSIZE:
            return who + "WM_NCCALCSIZE";
        case WM_CREATE:
            return who + "WM_CREATE";
        case WM_DESTROY:
            return who + "WM_DESTROY";
        case WM_SIZE:
            std::snprintf(buf, sizeof buf, "WM_SIZE %u %dx%d", static_cast<unsigned>(w), LOWORD(l),
                          HIWORD(l));
            return who + buf;
        case WM_MOVE:
            std::snprintf(buf, sizeof buf, "WM_MOVE %d,%d", x, y);
            return who + buf;
        case WM_SHOWWINDOW:
            return who + "WM_SHOWWINDOW " + std::to_string(w);
        case WM_WINDOWPOSCHANGING:
            return who + "WM_WINDOWPOSCHANGING";
        case WM_WINDOWPOSCHANGED:
            return who + "WM_WINDOWPOSCHANGED";
        case WM_GETMINMAXINFO:
            return who + "WM_GETMINMAXINFO";
        case WM_NCACTIVATE:
            return who + "WM_NCACTIVATE " + std::to_string(w);
        case WM_ACTIVATE:
            return who + "WM_ACTIVATE " + std::to_string(LOWORD(w)) + " " + NameOf(reinterpret_cast<HWND>(l));
        case WM_SETFOCUS:
            return who + "WM_SETFOCUS";
        case WM_KILLFOCUS:
            return who + "WM_KILLFOCUS";
        case WM_NCHITTEST:
            std::snprintf(buf, sizeof buf, "WM_NCHITTEST %d,%d", x, y);
            return who + buf;
        case WM_SETCURSOR:
            std::snprintf(buf, sizeof buf, "WM_SETCURSOR %d 0x%x", static_cast<short>(LOWORD(l)), HIWORD(l));
            return who + buf;
        case WM_MOUSEACTIVATE:
            return who + "WM_MOUSEACTIVATE " + std::to_string(static_cast<short>(LOWORD(l)));
        case WM_MOUSEMOVE:
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
        case WM_LBUTTONDBLCLK:
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP: {
            static const char* names[] = {"WM_MOUSEMOVE",     "WM_LBUTTONDOWN", "WM_LBUTTONUP",
                                          "WM_LBUTTONDBLCLK", "WM_RBUTTONDOWN", "WM_RBUTTONUP"};
            std::snprintf(buf, sizeof buf, "%s %d,%d", names[m - WM_MOUSEMOVE], x, y);
            return who + buf;
        }
        case WM_NCMOUSEMOVE:
        case WM_NCLBUTTONDOWN:
        case WM_NCLBUTTONUP:
        case WM_NCLBUTTONDBLCLK: {
            static const char* names[] = {"WM_NCMOUSEMOVE", "WM_NCLBUTTONDOWN", "WM_NCLBUTTONUP",
                                          "WM_NCLBUTTONDBLCLK"};
            std::snprintf(buf, sizeof buf, "%s %d %d,%d", names[m - WM_NCMOUSEMOVE], static_cast<int>(w), x,
                          y);
            return who + buf;
        }
        case WM_MOUSELEAVE:
            return who + "WM_MOUSELEAVE";
        case WM_MOUSEHOVER:
            std::snprintf(buf, sizeof buf, "WM_MOUSEHOVER %d,%d", x, y);
            return who + buf;
        case WM_CAPTURECHANGED:
            return who + "WM_CAPTURECHANGED " + NameOf(reinterpret_cast<HWND>(l));
        case WM_ERASEBKGND:
            return who + "WM_ERASEBKGND";
        case WM_PAINT:
            return who + "WM_PAINT";
        case WM_KEYDOWN:
            return who + "WM_KEYDOWN " + std::to_string(w);
        case WM_COMMAND:
            return who + "WM_COMMAND " + std::to_string(LOWORD(w));
        default:
            return "";
        }
    }

    std::vector<std::string> m_log;
    std::vector<std::pair<HWND, std::string>> m_names;
    Answer m_answer;
};

} // namespace testwin
