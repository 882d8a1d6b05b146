// A second program for the single-instance tests: it plays the running instance ("first") or
// a later start ("second"), and prints what happens to it, one line per event.
//
//   first <mutex> <property> [minimized]  holds the mutex, shows a window with the property and
//       serves it until its input ends or says "exit"; input lines "unprop", "popup" and "hang"
//       (stop serving until the next line) change it.
//   second <mutex> <property> <hex bytes>  finds the running instance the program's way and
//       hands the bytes over by WM_COPYDATA.
#include "platform/shell/SingleInstance.h"
#include "platform/user/HeadlessScreen.h"
#include "platform/user/User.h"

#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

HWND g_main = nullptr;
HWND g_popup = nullptr;

void Say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

const char* Who(HWND h) {
    return h == g_main ? "main" : h == g_popup ? "popup" : "other";
}

std::string Hex(const void* data, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        unsigned char b = static_cast<const unsigned char*>(data)[i];
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string Unhex(const char* s) {
    std::string out;
    for (size_t i = 0; s[i] && s[i + 1]; i += 2)
        out += static_cast<char>(std::strtoul(std::string(s + i, 2).c_str(), nullptr, 16));
    return out;
}

// The desktop shows a window over the others: the sign that SetForegroundWindow arrived.
class Screen : public afxuser::CHeadlessScreen {
public:
    void WindowRaised(HWND h) override { Say(std::string("raised ") + Who(h)); }
};

LRESULT Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    switch (m) {
    case WM_COPYDATA: {
        auto* cds = reinterpret_cast<COPYDATASTRUCT*>(l);
        Say("copydata " + std::to_string(w) + " " + std::to_string(cds->dwData) + " " +
            std::to_string(cds->cbData) + " " + Hex(cds->lpData, cds->cbData));
        return 77;
    }
    case WM_SIZE:
        if (w == SIZE_RESTORED && h == g_main)
            Say("restored");
        break;
    default:
        break;
    }
    return DefWindowProcA(h, m, w, l);
}

int First(const char* mutex, const char* property, bool minimized) {
    Screen screen;
    screen.Install();
    CreateMutexA(nullptr, TRUE, mutex);
    Say("mutex " + std::to_string(GetLastError()));
    WNDCLASSA wc{};
    wc.lpfnWndProc = &Proc;
    wc.lpszClassName = "PeerWnd";
    RegisterClassA(&wc);
    g_main =
        CreateWindowExA(0, "PeerWnd", "main", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr, nullptr, nullptr);
    ShowWindow(g_main, minimized ? SW_SHOWMINIMIZED : SW_SHOW);
    SetPropA(g_main, property, reinterpret_cast<HANDLE>(1));
    Say("ready");
    std::string input;
    for (;;) {
        AfxPumpPendingMessages();
        pollfd p[2] = {{AfxGetThreadQueueFd(), POLLIN, 0}, {0, POLLIN, 0}};
        poll(p, 2, 100);
        if (!(p[1].revents & (POLLIN | POLLHUP)))
            continue;
        char buf[256];
        ssize_t n = read(0, buf, sizeof buf);
        if (n <= 0)
            return 0;
        input.append(buf, static_cast<size_t>(n));
        size_t nl;
        while ((nl = input.find('\n')) != std::string::npos) {
            std::string cmd = input.substr(0, nl);
            input.erase(0, nl + 1);
            if (cmd == "exit") {
                Say("did exit");
                return 0;
            } else if (cmd == "unprop") {
                RemovePropA(g_main, property);
            } else if (cmd == "popup") {
                g_popup = CreateWindowExA(0, "PeerWnd", "popup", WS_POPUP | WS_VISIBLE, 10, 10, 100, 50,
                                          g_main, nullptr, nullptr, nullptr);
                SetActiveWindow(g_popup);
            } else if (cmd == "hang") {
                Say("hanging");
                while (read(0, buf, 1) == 1 && buf[0] != '\n') {
                }
            }
            Say("did " + cmd);
        }
    }
}

int Second(const char* mutex, const char* property, const char* hex) {
    CreateMutexA(nullptr, TRUE, mutex);
    DWORD err = GetLastError();
    Say("mutex " + std::to_string(err));
    if (err != ERROR_ALREADY_EXISTS)
        return 0;
    HWND h = GetWindow(GetDesktopWindow(), GW_CHILD);
    while (h && !GetPropA(h, property))
        h = GetWindow(h, GW_HWNDNEXT);
    if (!h) {
        Say("none");
        return 0;
    }
    if (IsIconic(h)) {
        Say("iconic");
        ShowWindow(h, SW_RESTORE);
    }
    SetForegroundWindow(h);
    SetForegroundWindow(GetLastActivePopup(h));
    std::string data = Unhex(hex);
    COPYDATASTRUCT cds{0, static_cast<DWORD>(data.size()), data.data()};
    Say("result " + std::to_string(SendMessageA(h, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds))));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "first") == 0)
        return First(argv[2], argv[3], argc >= 5 && std::strcmp(argv[4], "minimized") == 0);
    if (argc >= 5 && std::strcmp(argv[1], "second") == 0)
        return Second(argv[2], argv[3], argv[4]);
    std::fprintf(stderr, "usage: instance_peer first|second <mutex> <property> ...\n");
    return 2;
}
