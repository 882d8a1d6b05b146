// The program's start-up up to its main window, as a process of its own for the start-up tests.
// It prints one line per outcome:
//   "socket-failed <hex of the message box text>"  the socket layer could not be used
//   "run"                                          this process would run its main window
//   "end"                                          it ended: a second instance, or a hand-over
// With the argument "nofiles" the process has no file descriptor left when it starts up, so the
// system hands out no socket.
#include "app/HtmlVelkorsApp.h"
#include "app/PackInfo.h"
#include "platform/user/HeadlessScreen.h"
#include "platform/kernel/CodePage.h"
#include "platform/user/MsgQueue.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
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

void UseUpDescriptors() {
    rlimit lim{};
    getrlimit(RLIMIT_NOFILE, &lim);
    lim.rlim_cur = 64;
    setrlimit(RLIMIT_NOFILE, &lim);
    while (dup(2) >= 0) {
    }
}

} // namespace

int main(int argc, char** argv) {
    afxuser::CHeadlessScreen screen;
    screen.Install();
    // The queue and the code-page converters exist before the descriptors run out, as they would
    // in a program that has shown anything at all.
    AfxPumpPendingMessages();
    WCHAR wide[4];
    MultiByteToWideChar(936, 0, "\xD6\xD0", 2, wide, 4);
    char narrow[4];
    WideCharToMultiByte(936, 0, wide, 1, narrow, 4, nullptr, nullptr);
    if (argc >= 2 && std::strcmp(argv[1], "nofiles") == 0)
        UseUpDescriptors();

    CHtmlVelkorsApp app;
    if (!app.InitBeforeMainWindow()) {
        std::string text = screen.MessageBoxes().empty() ? "" : screen.MessageBoxes().back().text;
        std::printf("socket-failed %s\n", Hex(text).c_str());
        return 0;
    }
    CPackInfo packInfo;
    BOOL bRun = app.PrepareMainWindow(packInfo);
    std::printf("%s\n", bRun ? "run" : "end");
    std::fflush(stdout);
    // The self-copy finishes before the process ends, so the tests see its result.
    AfxWaitForThreads(30000);
    return 0;
}
