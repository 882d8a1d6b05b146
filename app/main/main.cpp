// The client's entry: the desktop's presenter, the application's start-up up to the main window,
// and the main window's modal run, which is the program's only message loop. SIGTERM (and so a
// desktop session's end) leaves the way the tray's exit does, so downloads stop and every state
// file is left whole.
#include "app/HtmlVelkorsApp.h"
#include "app/HtmlVelkorsDlg.h"
#include "net/AppMessages.h"
#include "platform/gtk/GtkPresenter.h"
#include "platform/kernel/CodePage.h"
#include "platform/kernel/Threads.h"
#include "res/resource.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

// How long the end waits for the threads that are still running before the process goes.
constexpr DWORD kThreadsWaitMs = 10000;

int g_termPipe[2] = {-1, -1};

// The toolkit and the browser engine make threads of their own, so the signal may arrive on any
// of them: the handler only wakes the watcher, which does the work outside the signal.
void OnTerminate(int) {
    const char c = 1;
    ssize_t n = write(g_termPipe[1], &c, 1);
    (void)n;
}

// Asks the main window to exit as the tray's exit does; until the window exists the request is
// kept and made again.
void WatchTermination() {
    if (pipe2(g_termPipe, O_CLOEXEC) != 0)
        return;
    struct sigaction sa {};
    sa.sa_handler = OnTerminate;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    std::thread([] {
        char c;
        if (read(g_termPipe[0], &c, 1) != 1)
            return;
        for (;;) {
            HWND hWnd = g_pMainDlg.GetSafeHwnd();
            if (hWnd && ::PostMessageA(hWnd, WM_COMMAND, ID_TRAY_EXIT, 0))
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }).detach();
}

} // namespace

int main(int argc, char** argv) {
    // A write to a connection or pipe whose reader has gone must fail with EPIPE, which every
    // write of the program takes as a closed peer, and not end the program. Caught by a handler
    // that does nothing rather than ignored: an ignored signal stays ignored in the programs the
    // client starts, which expect its default.
    signal(SIGPIPE, [](int) {});
    if (!afxgtk::CGtkPresenter::InitToolkit(&argc, &argv)) {
        const char* x = std::getenv("DISPLAY");
        if (x && *x)
            std::fprintf(stderr, "kestrin: cannot open the X display %s\n", x);
        else if (const char* w = std::getenv("WAYLAND_DISPLAY"); w && *w)
            std::fprintf(stderr,
                         "kestrin: this Wayland session (%s) offers no X server: DISPLAY is not set. "
                         "The client runs through the session's XWayland; turn it on, or run the "
                         "client under xvfb-run\n",
                         w);
        else
            std::fprintf(stderr, "kestrin: no display (set DISPLAY, or run it under xvfb-run)\n");
        return 1;
    }
    afxgtk::CGtkPresenter presenter;
    presenter.Install();
    WatchTermination();

    CHtmlVelkorsApp app;
    if (!app.InitBeforeMainWindow())
        return 1;
    // The desktop hands the arguments over in UTF-8 (a package's path from the file manager);
    // the program's strings are in the ANSI code page. Bytes that are no UTF-8 stay as they are.
    std::string cmdLine;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i], ansi;
        if (AfxUtf8ToAnsi(arg, ansi))
            arg = ansi;
        cmdLine += (i > 1 ? " " : "") + arg;
    }
    int result = 0;
    {
        CHtmlVelkorsDlg dlg;
        dlg.SetCommandLine(CString(cmdLine));
        if (app.PrepareMainWindow(dlg.m_packInfo, CString(cmdLine))) {
            dlg.LoadSkin(CHtmlVelkorsDlg::StartWindowSkin());
            if (dlg.DoModal() < 0)
                result = 1;
        } else {
            result = app.GetEndStatus();
        }
    }
    AfxWaitForThreads(kThreadsWaitMs);
    return result;
}
