// The stateless utility object: code pages, the program's own path, whole-file I/O, splitters,
// Version.ini, the category answer parser, Base64 (two alphabets), URL encoding, cache lookup.
#pragma once

#include "platform/afx.h"

class CSortInfo;

class CCommonFunc {
public:
    CCommonFunc();
    ~CCommonFunc();

    // Converts through UTF-16; characters the target cannot hold become the converter's replacement.
    CString ConvertCodePage(CString strText, UINT nFromCodePage, UINT nToCodePage);

    CString GetModulePath();
    // The module path up to, not including, its last backslash; "" when it has none.
    CString GetModuleDir();

    // 0 when the file cannot be opened for reading.
    ULONGLONG GetFileLength(CString strPath);
    // True for a file or a folder; a FIFO, a device or a socket is neither.
    bool FileExists(CString strPath);

    // Replaces the file with exactly the text's bytes. The new content goes to a temporary file in
    // the same folder first, so a crash or a full disk never leaves the old file truncated. The
    // file is readable and writable by this user only (0600), also when it was not before.
    bool WriteWholeFile(CString strPath, CString strText);
    // The file's bytes up to the first zero byte; false (and "") when it cannot be read.
    bool ReadWholeFile(CString strPath, CString& strText);

    // Appends the pieces between occurrences of strSep; the array is not emptied first.
    void SplitString(CString strText, CString strSep, CStringArray& arrPieces);

    // Build numbers kept in ExeFiles\Version.ini, section "Version"; absent reads as 0.
    int GetComponentVersion(CString strName);
    void SetComponentVersion(CString strName, int nBuild);

    // Fills arrSorts with records made by new; the caller owns them.
    void ParseSortClass(CString strXml, CArray<CSortInfo*, CSortInfo*>& arrSorts);

    // Standard alphabet ("+", "/", "=").
    int EncodeBase64(const char* pszText, CString& strOut);
    int EncodeBase64Buf(const BYTE* pBuf, int nLength, CString& strOut);
    int DecodeBase64(const char* pszText, CString& strOut);
    // Writes the bytes and one zero byte; room for strlen(text) * 3 / 4 + 1 bytes is needed.
    int DecodeBase64Buf(const char* pszText, BYTE* pOut);
    // Alternative alphabet ("(", ")", "-").
    int EncodeBase64Alt(const char* pszText, CString& strOut);
    int DecodeBase64Alt(const char* pszText, CString& strOut);

    // Percent-encodes every byte but letters, digits and "@*_-."; pOut needs 3 * nLength + 1 bytes.
    int UrlEncode(const BYTE* pSrc, int nLength, char* pOut);

    // Local file of the URL in the Internet cache; "" when there is none (always, on this system).
    CString GetUrlCacheFile(CString strUrl);
};

extern CCommonFunc g_CommonFunc;
