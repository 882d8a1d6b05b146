// An exclusive advisory lock (flock) of this process on one file, for things that one process at
// a time may use, such as a data folder. The kernel drops the lock when the process ends in any
// way, SIGKILL included, so a holder that was killed never keeps the next one out; programs this
// process starts do not inherit it. The lock is held from a successful TryLock until Unlock or the
// object's end. An object is used by one thread at a time.
#pragma once

#include "platform/base/Win32Types.h"

class CFileLock {
public:
    CFileLock() = default;
    ~CFileLock();
    CFileLock(const CFileLock&) = delete;
    CFileLock& operator=(const CFileLock&) = delete;

    // Takes the lock on the file (a Windows-form path; the file is made, this user's alone, when it
    // is missing) without waiting. TRUE when this object holds it, also when it held it already.
    // FALSE with GetLastError ERROR_LOCK_VIOLATION while another holder has it, in this process
    // or another; otherwise the error of the open (a folder or anything but a regular file is
    // refused with ERROR_ACCESS_DENIED).
    BOOL TryLock(LPCSTR lpFileName);
    BOOL IsLocked() const { return m_fd >= 0; }
    void Unlock();

private:
    int m_fd = -1;
};
