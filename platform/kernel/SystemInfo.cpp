#include "platform/kernel/SystemInfo.h"
#include "platform/kernel/WinError.h"

#include <sys/utsname.h>

#include <cstring>
#include <string>

BOOL GetComputerNameA(LPSTR lpBuffer, LPDWORD lpnSize) {
    if (!lpnSize) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    utsname u{};
    if (uname(&u) != 0) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    std::string name(u.nodename, strnlen(u.nodename, sizeof u.nodename));
    name = name.substr(0, name.find('.')).substr(0, MAX_COMPUTERNAME_LENGTH);
    if (!lpBuffer || *lpnSize < name.size() + 1) {
        *lpnSize = static_cast<DWORD>(name.size() + 1);
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return FALSE;
    }
    std::memcpy(lpBuffer, name.c_str(), name.size() + 1);
    *lpnSize = static_cast<DWORD>(name.size());
    return TRUE;
}
