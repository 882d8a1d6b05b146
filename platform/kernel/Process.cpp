#include "platform/kernel/Process.h"

#include "platform/kernel/CodePage.h"
#include "platform/kernel/FileSys.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

std::mutex g_openerLock;
std::string g_opener = "xdg-open";
std::atomic<AFX_SHELL_VERB_HANDLER> g_verbHandler{nullptr};
std::atomic<AFX_SHOW_ITEM_HANDLER> g_showItemHandler{nullptr};

HINSTANCE Result(intptr_t v) {
    return reinterpret_cast<HINSTANCE>(v);
}

bool IsUrl(const std::string& s) {
    // A scheme of two or more letters: "c:\x" is a drive, not a scheme.
    size_t colon = s.find(':');
    if (colon == std::string::npos || colon < 2)
        return false;
    for (size_t i = 0; i < colon; ++i) {
        char c = s[i];
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                  (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
        if (!ok)
            return false;
    }
    return true;
}

bool MapPath(const std::string& in, std::string& out) {
    return AfxMapPath(in.c_str(), out);
}

// Splits parameters as a Windows program splits its command line: blanks separate, quotes group,
// 2n backslashes before a quote are n backslashes, 2n+1 are n and a literal quote.
std::vector<std::string> SplitParameters(const std::string& s) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
            ++i;
        if (i >= s.size())
            break;
        std::string arg;
        bool quoted = false;
        while (i < s.size() && (quoted || (s[i] != ' ' && s[i] != '\t'))) {
            if (s[i] == '\\') {
                size_t n = 0;
                while (i < s.size() && s[i] == '\\') {
                    ++n;
                    ++i;
                }
                if (i < s.size() && s[i] == '"') {
                    arg.append(n / 2, '\\');
                    if (n % 2) {
                        arg += '"';
                        ++i;
                    }
                } else {
                    arg.append(n, '\\');
                }
            } else if (s[i] == '"') {
                if (quoted && i + 1 < s.size() && s[i + 1] == '"') {
                    arg += '"';
                    i += 2;
                    continue;
                }
                quoted = !quoted;
                ++i;
            } else {
                arg += s[i++];
            }
        }
        out.push_back(std::move(arg));
    }
    return out;
}

// Starts argv[0] (searched in PATH when bSearch) detached from this process, so no child is left to
// reap. Returns 0 or the errno of the failed start.
int Spawn(const std::vector<std::string>& args, const std::string& dir, bool bSearch) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return errno;
    pid_t child = fork();
    if (child < 0) {
        int e = errno;
        close(fds[0]);
        close(fds[1]);
        return e;
    }
    if (child == 0) {
        // Only async-signal-safe calls from here on.
        setsid();
        pid_t grand = fork();
        if (grand != 0)
            _exit(grand < 0 ? 1 : 0);
        int e = 0;
        if (!dir.empty() && chdir(dir.c_str()) != 0)
            e = errno;
        if (e == 0) {
            int devnull = open("/dev/null", O_RDWR);
            if (devnull >= 0) {
                dup2(devnull, 0);
                close(devnull);
            }
            if (bSearch)
                execvp(argv[0], argv.data());
            else
                execv(argv[0], argv.data());
            e = errno;
        }
        ssize_t w = write(fds[1], &e, sizeof e);
        (void)w;
        _exit(127);
    }
    close(fds[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int e = 0;
    ssize_t n;
    while ((n = read(fds[0], &e, sizeof e)) < 0 && errno == EINTR) {
    }
    close(fds[0]);
    if (n == static_cast<ssize_t>(sizeof e))
        return e;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return ECHILD;
    return 0;
}

HINSTANCE OpenWithDesktop(const std::string& target, const std::string& dir) {
    std::string opener;
    {
        std::lock_guard<std::mutex> g(g_openerLock);
        opener = g_opener;
    }
    int e = Spawn({opener, target}, dir, true);
    if (e == ENOENT || e == EACCES)
        return Result(SE_ERR_NOASSOC);
    return Result(e ? SE_ERR_OOM : 33);
}

// The last "\" or "/" of an ANSI path, stepping over double-byte characters so that a trail
// byte 0x5C is not taken for a separator.
size_t LastSeparator(const std::string& s) {
    size_t last = std::string::npos;
    for (size_t i = 0; i < s.size(); ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(s[i])) && i + 1 < s.size())
            ++i;
        else if (s[i] == '\\' || s[i] == '/')
            last = i;
    }
    return last;
}

std::string BaseName(const std::string& s) {
    size_t p = LastSeparator(s);
    return p == std::string::npos ? s : s.substr(p + 1);
}

} // namespace

void AfxSetDesktopOpener(const char* pszProgram) {
    std::lock_guard<std::mutex> g(g_openerLock);
    g_opener = pszProgram && *pszProgram ? pszProgram : "xdg-open";
}

void AfxSetShellVerbHandler(AFX_SHELL_VERB_HANDLER handler) {
    g_verbHandler = handler;
}

void AfxSetShowItemHandler(AFX_SHOW_ITEM_HANDLER handler) {
    g_showItemHandler = handler;
}

HINSTANCE ShellExecuteA(HWND hwnd, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters, LPCSTR lpDirectory,
                        INT nShowCmd) {
    (void)hwnd;
    (void)nShowCmd;
    if (lpOperation && *lpOperation && !AfxAsciiEqualNoCase(lpOperation, "open")) {
        AFX_SHELL_VERB_HANDLER handler = g_verbHandler.load();
        return handler ? handler(lpOperation, lpFile, lpParameters, lpDirectory, nShowCmd)
                       : Result(SE_ERR_NOASSOC);
    }
    if (!lpFile || !*lpFile)
        return Result(SE_ERR_FNF);
    std::string file = lpFile;
    std::string params = lpParameters ? lpParameters : "";
    std::string dir;
    if (lpDirectory && *lpDirectory) {
        struct stat ds;
        if (!MapPath(lpDirectory, dir) || stat(dir.c_str(), &ds) != 0 || !S_ISDIR(ds.st_mode))
            return Result(SE_ERR_PNF);
    }

    if (IsUrl(file))
        return OpenWithDesktop(file, dir);

    // The Windows file manager: "/select,<path>" shows the folder that holds the path.
    if (AfxAsciiEqualNoCase(BaseName(file), "explorer.exe")) {
        std::string target = params;
        bool select = AfxAsciiStartsNoCase(target, "/select,");
        if (select)
            target = target.substr(8);
        if (target.size() >= 2 && target.front() == '"' && target.back() == '"')
            target = target.substr(1, target.size() - 2);
        std::string item = select ? target : std::string();
        if (select) {
            size_t slash = LastSeparator(target);
            target = slash == std::string::npos ? std::string(".") : target.substr(0, slash ? slash : 1);
        }
        std::string folder;
        struct stat st;
        if (!MapPath(target, folder) || stat(folder.c_str(), &st) != 0)
            return Result(SE_ERR_FNF);
        std::string itemPath;
        AFX_SHOW_ITEM_HANDLER show = g_showItemHandler.load();
        if (show && select && MapPath(item, itemPath) && lstat(itemPath.c_str(), &st) == 0) {
            std::lock_guard<std::mutex> g(g_openerLock);
            show(itemPath.c_str(), folder.c_str(), g_opener.c_str());
            return Result(33);
        }
        return OpenWithDesktop(folder, dir);
    }

    std::string path;
    struct stat st;
    if (!MapPath(file, path) || stat(path.c_str(), &st) != 0)
        return Result(SE_ERR_FNF);
    if (S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0) {
        std::vector<std::string> args{path};
        for (std::string& a : SplitParameters(params))
            args.push_back(AfxAnsiToUtf8(a));
        int e = Spawn(args, dir, false);
        if (e == 0)
            return Result(33);
        return Result(e == ENOENT ? SE_ERR_FNF : e == EACCES ? SE_ERR_ACCESSDENIED : SE_ERR_OOM);
    }
    return OpenWithDesktop(path, dir);
}
