// "explorer.exe /select,<file>" on a Linux desktop: the file manager's org.freedesktop.FileManager1
// ShowItems call on the session bus, made by the gdbus tool with an argument array (no shell sees
// the path). When no file manager answers on the bus, the folder is opened with the desktop's
// opener instead. Both run on a thread of their own so a slow bus never holds the caller's
// window; nothing waits for them.
#include "platform/shell/ShellInternal.h"

#include "platform/kernel/Process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

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

// Runs the program (searched in PATH) with its output thrown away and waits for it; true when it
// ran and exited with 0.
bool Run(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int e = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (e != 0)
        return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void ShowItem(const char* pszItem, const char* pszFolder, const char* pszOpener) {
    std::string item = pszItem, folder = pszFolder, opener = pszOpener;
    std::thread([item, folder, opener] {
        bool shown =
            Run({"gdbus", "call", "--session", "--timeout", "10", "--dest", "org.freedesktop.FileManager1",
                 "--object-path", "/org/freedesktop/FileManager1", "--method",
                 "org.freedesktop.FileManager1.ShowItems", "['" + FileUri(item) + "']", ""});
        if (!shown)
            Run({opener, folder});
    }).detach();
}

} // namespace

void afxshell::InstallFileManager() {
    AfxSetShowItemHandler(&ShowItem);
}
