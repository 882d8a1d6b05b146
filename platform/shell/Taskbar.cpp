#include "platform/shell/ShellApi.h"
#include "platform/shell/ShellInternal.h"

#include "platform/kernel/FileSys.h"
#include "platform/kernel/Process.h"

#include <strings.h>
#include <sys/stat.h>

#include <mutex>

namespace {

std::mutex g_mutex;
std::vector<TaskbarVerbRequest> g_requests;

HINSTANCE OnVerb(LPCSTR lpOperation, LPCSTR lpFile, LPCSTR, LPCSTR, INT) {
    auto result = [](intptr_t v) { return reinterpret_cast<HINSTANCE>(v); };
    if (strcasecmp(lpOperation, "TaskbarPin") != 0 && strcasecmp(lpOperation, "TaskbarunPin") != 0)
        return result(SE_ERR_NOASSOC);
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_requests.push_back({lpOperation, lpFile ? lpFile : ""});
    }
    std::string path;
    struct stat st;
    if (!lpFile || !AfxMapPath(lpFile, path) || stat(path.c_str(), &st) != 0)
        return result(SE_ERR_FNF);
    return result(42);
}

} // namespace

void afxshell::InstallTaskbarVerbs() {
    AfxSetShellVerbHandler(&OnVerb);
}

std::vector<TaskbarVerbRequest> AfxTaskbarVerbRequests() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_requests;
}
