// Files and folders. Inside the program a path is a Windows-form string in the ANSI code page
// ("\home\u\x"); it is mapped to the Linux file system only at the moment of each call.
#pragma once

#include "platform/base/Win32Types.h"
#include "platform/kernel/WinError.h"

#include <cstdio>
#include <string>

// ---------------------------------------------------------------------------------------
// Path mapping.

// Windows form to a Linux path (UTF-8): GBK to UTF-8 first, so a trail byte 0x5C is never a
// separator, then "\" to "/", repeated separators folded. A component that does not exist as
// written is matched without regard to case in its folder; a missing one is kept as written.
// False (GetLastError ERROR_PATH_NOT_FOUND or ERROR_INVALID_NAME) for a path that starts with
// a drive letter, is empty, or cannot be converted.
bool AfxMapPath(const char* pszWinPath, std::string& linuxPath);
// A Linux path (UTF-8) in the program's Windows form. False when it cannot be held in the ANSI
// code page; the output is then what converted.
bool AfxUnmapPath(const std::string& linuxPath, std::string& winPath);
std::string AfxUnmapPath(const std::string& linuxPath);

// ---------------------------------------------------------------------------------------
// Attributes, times and find data.

#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_SYSTEM 0x00000004
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
// An entry that is neither a regular file nor a folder: a FIFO, a device, a socket.
#define FILE_ATTRIBUTE_DEVICE 0x00000040
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_ATTRIBUTE_TEMPORARY 0x00000100
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu

#define MOVEFILE_REPLACE_EXISTING 0x00000001
#define MOVEFILE_COPY_ALLOWED 0x00000002
#define MOVEFILE_WRITE_THROUGH 0x00000008

#define DRIVE_UNKNOWN 0
#define DRIVE_NO_ROOT_DIR 1
#define DRIVE_REMOVABLE 2
#define DRIVE_FIXED 3
#define DRIVE_REMOTE 4
#define DRIVE_CDROM 5
#define DRIVE_RAMDISK 6

union ULARGE_INTEGER {
    struct {
        DWORD LowPart;
        DWORD HighPart;
    };
    ULONGLONG QuadPart;
};
using PULARGE_INTEGER = ULARGE_INTEGER*;

struct WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime; // UTC
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    CHAR cFileName[MAX_PATH]; // ANSI code page
    CHAR cAlternateFileName[14];
};
using WIN32_FIND_DATA = WIN32_FIND_DATAA;
using LPWIN32_FIND_DATAA = WIN32_FIND_DATAA*;
using LPWIN32_FIND_DATA = WIN32_FIND_DATAA*;

struct WIN32_FILE_ATTRIBUTE_DATA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
};
enum GET_FILEEX_INFO_LEVELS { GetFileExInfoStandard = 0 };

// ---------------------------------------------------------------------------------------
// Folder and file calls. Results and GetLastError as in Win32. The security attributes are
// ignored (callers pass NULL).

BOOL CreateDirectoryA(LPCSTR lpPathName, void* lpSecurityAttributes);
BOOL RemoveDirectoryA(LPCSTR lpPathName);
BOOL DeleteFileA(LPCSTR lpFileName);
BOOL MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName);
BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags);
BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists);
DWORD GetFileAttributesA(LPCSTR lpFileName);
BOOL SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes);
BOOL GetFileAttributesExA(LPCSTR lpFileName, GET_FILEEX_INFO_LEVELS fInfoLevelId, LPVOID lpFileInformation);
// The pattern's last component may hold "*" and "?" (compared without regard to case; "*.*"
// matches every name). "." and ".." are listed too.
HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData);
BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData);
BOOL FindClose(HANDLE hFindFile);
// Relative paths are taken from the current folder; "." and ".." components are resolved.
DWORD GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer, LPSTR* lpFilePart);
DWORD GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer);
BOOL SetCurrentDirectoryA(LPCSTR lpPathName);
// $TMPDIR or /tmp, in Windows form with a trailing "\".
DWORD GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer);
UINT GetTempFileNameA(LPCSTR lpPathName, LPCSTR lpPrefixString, UINT uUnique, LPSTR lpTempFileName);
// A drive-letter root names nothing here (DRIVE_NO_ROOT_DIR); a folder of this system is fixed.
UINT GetDriveTypeA(LPCSTR lpRootPathName);
BOOL GetDiskFreeSpaceExA(LPCSTR lpDirectoryName, PULARGE_INTEGER lpFreeBytesAvailableToCaller,
                         PULARGE_INTEGER lpTotalNumberOfBytes, PULARGE_INTEGER lpTotalNumberOfFreeBytes);

// True when the file system has an entry (file or folder) of that path.
BOOL PathFileExistsA(LPCSTR pszPath);
BOOL PathIsDirectoryA(LPCSTR pszPath);
// mode 0 exists, 2 writable, 4 readable, 6 both; 0 on success, -1 with errno otherwise.
int _access(const char* path, int mode);

// fopen of a Windows-form path, through the mapping. Only a regular file opens (or is made): a
// folder fails with errno EISDIR, a FIFO, a device or a socket with EACCES, at once (GetLastError
// ERROR_ACCESS_DENIED for both). The stream is not inherited by programs this process starts.
FILE* win_fopen(const char* path, const char* mode);

// open(2) of a Linux path for a regular file only. The kind is looked at before the open, so a
// device is never opened (opening one can act: a tape rewinds, a terminal becomes the
// controlling one), and again on the opened descriptor; the open itself never waits (a FIFO
// without a peer would block it until one comes). A folder fails with EISDIR, every other kind
// with EACCES; a missing file is made only with O_CREAT. The descriptor is O_CLOEXEC and
// blocking (unless flags ask for O_NONBLOCK). -1 with errno on failure.
int AfxOpenRegularFile(const char* linuxPath, int flags, unsigned mode = 0666);

// CreateDirectoryA for a folder only this user may enter (0700). An existing folder of this user
// is narrowed to that as well; it still fails with ERROR_ALREADY_EXISTS, as CreateDirectoryA does.
BOOL AfxCreatePrivateDirectoryA(LPCSTR lpPathName);

#define CreateDirectory CreateDirectoryA
#define RemoveDirectory RemoveDirectoryA
#define DeleteFile DeleteFileA
#define MoveFile MoveFileA
#define MoveFileEx MoveFileExA
#define CopyFile CopyFileA
#define GetFileAttributes GetFileAttributesA
#define SetFileAttributes SetFileAttributesA
#define GetFileAttributesEx GetFileAttributesExA
#define FindFirstFile FindFirstFileA
#define FindNextFile FindNextFileA
#define GetFullPathName GetFullPathNameA
#define GetCurrentDirectory GetCurrentDirectoryA
#define SetCurrentDirectory SetCurrentDirectoryA
#define GetTempPath GetTempPathA
#define GetTempFileName GetTempFileNameA
#define GetDriveType GetDriveTypeA
#define GetDiskFreeSpaceEx GetDiskFreeSpaceExA
#define PathFileExists PathFileExistsA
#define PathIsDirectory PathIsDirectoryA
