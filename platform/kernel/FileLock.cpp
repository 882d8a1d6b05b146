#include "platform/kernel/FileLock.h"

#include "platform/kernel/FileSys.h"
#include "platform/kernel/WinError.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

CFileLock::~CFileLock() {
    Unlock();
}

BOOL CFileLock::TryLock(LPCSTR lpFileName) {
    if (m_fd >= 0)
        return TRUE;
    std::string path;
    if (!AfxMapPath(lpFileName, path))
        return FALSE;
    const int fd = AfxOpenRegularFile(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW, 0600);
    if (fd < 0) {
        SetLastError(AfxErrnoToWin32(errno));
        return FALSE;
    }
    int r;
    do
        r = flock(fd, LOCK_EX | LOCK_NB);
    while (r != 0 && errno == EINTR);
    if (r != 0) {
        const int err = errno;
        close(fd);
        SetLastError(err == EWOULDBLOCK ? ERROR_LOCK_VIOLATION : AfxErrnoToWin32(err));
        return FALSE;
    }
    m_fd = fd;
    return TRUE;
}

void CFileLock::Unlock() {
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
}
