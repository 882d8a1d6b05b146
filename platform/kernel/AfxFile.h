// CFile: a binary file through the path mapping. No exceptions: Open reports failure by FALSE
// and GetLastError; the other calls report short counts.
#pragma once

#include "platform/base/Win32Types.h"
#include "platform/base/AfxStr.h"

class CFile {
public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeNoInherit = 0x0080,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeText = 0x4000,
        typeBinary = 0x8000,
        osSequentialScan = 0x10000,
    };
    enum SeekPosition : UINT { begin = 0, current = 1, end = 2 };
    static constexpr int hFileNull = -1;

    CFile() = default;
    virtual ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // modeCreate truncates unless modeNoTruncate is given; without modeCreate the file must
    // exist. A folder cannot be opened. pError is accepted and ignored.
    virtual BOOL Open(LPCSTR lpszFileName, UINT nOpenFlags, void* pError = nullptr);
    virtual UINT Read(void* lpBuf, UINT nCount);
    virtual void Write(const void* lpBuf, UINT nCount);
    virtual ULONGLONG Seek(LONGLONG lOff, UINT nFrom);
    void SeekToBegin() { Seek(0, begin); }
    ULONGLONG SeekToEnd() { return Seek(0, end); }
    virtual ULONGLONG GetPosition() const;
    virtual ULONGLONG GetLength() const;
    virtual void SetLength(ULONGLONG dwNewLen);
    virtual void Flush();
    virtual void Close();
    virtual void Abort();
    BOOL IsOpen() const { return m_hFile != hFileNull; }
    // False when the last Write could not write every byte.
    BOOL WriteFailed() const { return m_bWriteFailed; }
    // The file's last write time (UTC); FALSE when the file is not open.
    BOOL GetLastWriteTime(FILETIME* pTime) const;

    CString GetFilePath() const { return m_strFileName; }
    CString GetFileName() const;

    static BOOL Remove(LPCSTR lpszFileName);
    static BOOL Rename(LPCSTR lpszOldName, LPCSTR lpszNewName);

    int m_hFile = hFileNull;

protected:
    CString m_strFileName;
    bool m_bWriteFailed = false;
};
