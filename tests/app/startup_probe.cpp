// The program's start-up up to its main window, as a process of its own for the start-up tests.
// It prints one line per outcome:
//   "socket-failed <hex of the message box text>"  the socket layer could not be used
//   "run"                                          this process would run its main window
//   "end"                                          it ended: a second instance, or a hand-over
//   "in-use <hex of the message box text>"         it ended, the data folder being held; the
//                                                  process then ends with the start's status
// With the argument "nosockets" the process runs in a sandbox where the system hands out no
// socket; "datawait=<ms>" bounds the wait for a data folder that is held; any other arguments are
// its command line, joined by blanks as the client joins them.
#include "app/HtmlVelkorsApp.h"
#include "app/PackInfo.h"
#include "platform/user/HeadlessScreen.h"

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// A sandbox without sockets: every socket() call fails with EACCES from now on.
bool ForbidSockets() {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_socket, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EACCES & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog prog{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog) == 0;
}

} // namespace

int main(int argc, char** argv) {
    afxuser::CHeadlessScreen screen;
    screen.Install();
    if (argc >= 2 && std::strcmp(argv[1], "nosockets") == 0 && !ForbidSockets()) {
        std::printf("no sandbox\n");
        return 1;
    }

    CHtmlVelkorsApp app;
    if (!app.InitBeforeMainWindow()) {
        std::string text = screen.MessageBoxes().empty() ? "" : screen.MessageBoxes().back().text;
        std::printf("socket-failed %s\n", Hex(text).c_str());
        return 0;
    }
    std::string cmdLine;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "datawait=", 9) == 0)
            g_dwDataFolderWaitMs = static_cast<DWORD>(std::strtoul(argv[i] + 9, nullptr, 10));
        else if (std::strcmp(argv[i], "nosockets") != 0)
            cmdLine += (cmdLine.empty() ? "" : " ") + std::string(argv[i]);
    }
    CPackInfo packInfo;
    BOOL bRun = app.PrepareMainWindow(packInfo, CString(cmdLine));
    if (!bRun && app.GetEndStatus() != 0) {
        std::string text = screen.MessageBoxes().empty() ? "" : screen.MessageBoxes().back().text;
        std::printf("in-use %s\n", Hex(text).c_str());
        std::fflush(stdout);
        return app.GetEndStatus();
    }
    std::printf("%s\n", bRun ? "run" : "end");
    std::fflush(stdout);
    // The self-copy finishes before the process ends, so the tests see its result.
    AfxWaitForThreads(30000);
    return 0;
}
