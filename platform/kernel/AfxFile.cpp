#include "platform/kernel/AfxFile.h"
#include "platform/kernel/FileSys.h"
#include "platform/kernel/WinError.h"

#include "platform/base/AfxTime.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

CFile::~CFile() {
    if (m_hFile != hFileNull)
        Close();
}

BOOL CFile::Open(LPCSTR lpszFileName, UINT nOpenFlags, void* pError) {
    (void)pError;
    if (m_hFile != hFileNull)
        Close();
    m_bWriteFailed = false;
    std::string path;
    if (!AfxMapPath(lpszFileName, path))
        return FALSE;
    int flags = 0;
    switch (nOpenFlags & 3) {
    case modeWrite:
        flags |= O_WRONLY;
        break;
    case modeReadWrite:
        flags |= O_RDWR;
        break;
    default:
        flags |= O_RDONLY;
        break;
    }
    if (nOpenFlags & modeCreate) {
        flags |= O_CREAT;
        if (!(nOpenFlags & modeNoTruncate))
            flags |= O_TRUNC;
    }
    int fd = AfxOpenRegularFile(path.c_str(), flags, 0666);
    if (fd < 0) {
        int err = errno;
        SetLastError(err == ENOENT && (nOpenFlags & modeCreate) ? ERROR_PATH_NOT_FOUND
                                                                : AfxErrnoToWin32(err));
        return FALSE;
    }
    if (nOpenFlags & osSequentialScan)
        posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    m_hFile = fd;
    m_strFileName = lpszFileName;
    return TRUE;
}

UINT CFile::Read(void* lpBuf, UINT nCount) {
    if (m_hFile == hFileNull || !lpBuf)
        return 0;
    char* p = static_cast<char*>(lpBuf);
    UINT done = 0;
    while (done < nCount) {
        ssize_t r = read(m_hFile, p + done, nCount - done);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0) {
            if (r < 0)
                SetLastError(AfxErrnoToWin32(errno));
            break;
        }
        done += static_cast<UINT>(r);
    }
    return done;
}

void CFile::Write(const void* lpBuf, UINT nCount) {
    if (m_hFile == hFileNull || (!lpBuf && nCount)) {
        m_bWriteFailed = true;
        return;
    }
    const char* p = static_cast<const char*>(lpBuf);
    UINT done = 0;
    while (done < nCount) {
        ssize_t w = write(m_hFile, p + done, nCount - done);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            SetLastError(w < 0 ? AfxErrnoToWin32(errno) : ERROR_DISK_FULL);
            m_bWriteFailed = true;
            return;
        }
        done += static_cast<UINT>(w);
    }
}

ULONGLONG CFile::Seek(LONGLONG lOff, UINT nFrom) {
    if (m_hFile == hFileNull)
        return 0;
    int whence = nFrom == current ? SEEK_CUR : (nFrom == end ? SEEK_END : SEEK_SET);
    off_t r = lseek(m_hFile, static_cast<off_t>(lOff), whence);
    if (r < 0) {
        SetLastError(AfxErrnoToWin32(errno));
        return GetPosition();
    }
    return static_cast<ULONGLONG>(r);
}

ULONGLONG CFile::GetPosition() const {
    if (m_hFile == hFileNull)
        return 0;
    off_t r = lseek(m_hFile, 0, SEEK_CUR);
    return r < 0 ? 0 : static_cast<ULONGLONG>(r);
}

ULONGLONG CFile::GetLength() const {
    struct stat st;
    if (m_hFile == hFileNull || fstat(m_hFile, &st) != 0)
        return 0;
    return static_cast<ULONGLONG>(st.st_size);
}

void CFile::SetLength(ULONGLONG dwNewLen) {
    if (m_hFile != hFileNull && ftruncate(m_hFile, static_cast<off_t>(dwNewLen)) != 0)
        SetLastError(AfxErrnoToWin32(errno));
}

void CFile::Flush() {
    if (m_hFile != hFileNull)
        fdatasync(m_hFile);
}

void CFile::Close() {
    if (m_hFile != hFileNull) {
        if (close(m_hFile) != 0)
            SetLastError(AfxErrnoToWin32(errno));
    }
    m_hFile = hFileNull;
    m_strFileName.Empty();
}

void CFile::Abort() {
    if (m_hFile != hFileNull)
        close(m_hFile);
    m_hFile = hFileNull;
    m_strFileName.Empty();
}

BOOL CFile::GetLastWriteTime(FILETIME* pTime) const {
    struct stat st;
    if (m_hFile == hFileNull || !pTime || fstat(m_hFile, &st) != 0)
        return FALSE;
    *pTime = AfxUnixToFileTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    return TRUE;
}

CString CFile::GetFileName() const {
    int slash = m_strFileName.ReverseFind('\\');
    return slash < 0 ? m_strFileName : m_strFileName.Mid(slash + 1);
}

BOOL CFile::Remove(LPCSTR lpszFileName) {
    return DeleteFileA(lpszFileName);
}

BOOL CFile::Rename(LPCSTR lpszOldName, LPCSTR lpszNewName) {
    return MoveFileA(lpszOldName, lpszNewName);
}
