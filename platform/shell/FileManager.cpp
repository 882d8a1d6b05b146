// "explorer.exe /select,<file>" on a Linux desktop: the file manager's org.freedesktop.FileManager1
// ShowItems call on the session bus, made by the gdbus tool with an argument array (no shell sees
// the path). When no file manager answers on the bus, the folder is opened with the desktop's
// opener instead. Both run in a process of their own, so a slow bus never holds the caller's
// window.
#include "platform/shell/ShellInternal.h"

#include "platform/kernel/Process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

// A file URI with every byte but the unreserved ones and "/" percent-encoded, so that it is also
// a plain quoted string in GVariant text.
std::string FileUri(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (unsigned char c : path) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
                     c == '-' || c == '_' || c == '.' || c == '~';
        if (plain) {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 15];
        }
    }
    return uri;
}

// The file manager's call and, when it fails, the opener run in a process of their own that
// nothing waits for: the caller's fork returns at once (its first child ends straight away, the
// grandchild is adopted by init), and the program keeps no thread or child behind. Only
// async-signal-safe calls after the fork; the argument lists are built before it.
void ShowItem(const char* pszItem, const char* pszFolder, const char* pszOpener) {
    std::vector<std::string> call = {"gdbus",
                                     "call",
                                     "--session",
                                     "--timeout",
                                     "10",
                                     "--dest",
                                     "org.freedesktop.FileManager1",
                                     "--object-path",
                                     "/org/freedesktop/FileManager1",
                                     "--method",
                                     "org.freedesktop.FileManager1.ShowItems",
                                     "['" + FileUri(pszItem) + "']",
                                     ""};
    std::vector<std::string> opener = {pszOpener, pszFolder};
    auto argv = [](std::vector<std::string>& args) {
        std::vector<char*> v;
        for (std::string& a : args)
            v.push_back(a.data());
        v.push_back(nullptr);
        return v;
    };
    std::vector<char*> callArgv = argv(call), openArgv = argv(opener);
    pid_t child = fork();
    if (child < 0)
        return;
    if (child == 0) {
        setsid();
        pid_t grand = fork();
        if (grand != 0)
            _exit(grand < 0 ? 1 : 0);
        int devnull = open("/dev/null", O_RDWR);
        pid_t manager = fork();
        if (manager == 0) {
            if (devnull >= 0) {
                dup2(devnull, 0);
                dup2(devnull, 1);
                dup2(devnull, 2);
            }
            execvp(callArgv[0], callArgv.data());
            _exit(127);
        }
        int status = 0;
        while (manager > 0 && waitpid(manager, &status, 0) < 0 && errno == EINTR) {
        }
        if (manager > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0)
            _exit(0);
        if (devnull >= 0)
            dup2(devnull, 0);
        execvp(openArgv[0], openArgv.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

} // namespace

void afxshell::InstallFileManager() {
    AfxSetShowItemHandler(&ShowItem);
}
