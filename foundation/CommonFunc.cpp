#include "foundation/CommonFunc.h"

#include "foundation/AppPathInfo.h"
#include "library/SortInfo.h"
#include "xml/XmlDocument.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

CCommonFunc g_CommonFunc;

CCommonFunc::CCommonFunc() = default;
CCommonFunc::~CCommonFunc() = default;

CString CCommonFunc::ConvertCodePage(CString strText, UINT nFromCodePage, UINT nToCodePage) {
    const int nWide = MultiByteToWideChar(nFromCodePage, 0, strText, -1, nullptr, 0);
    if (nWide <= 0)
        return CString();
    std::vector<WCHAR> wide(static_cast<size_t>(nWide) + 1, 0);
    MultiByteToWideChar(nFromCodePage, 0, strText, -1, wide.data(), nWide);

    const int nBytes = WideCharToMultiByte(nToCodePage, 0, wide.data(), -1, nullptr, 0, nullptr, nullptr);
    if (nBytes <= 0)
        return CString();
    std::vector<char> bytes(static_cast<size_t>(nBytes) + 1, 0);
    WideCharToMultiByte(nToCodePage, 0, wide.data(), -1, bytes.data(), nBytes, nullptr, nullptr);
    return CString(bytes.data());
}

CString CCommonFunc::GetModulePath() {
    char szPath[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, szPath, MAX_PATH);
    return CString(szPath);
}

CString CCommonFunc::GetModuleDir() {
    CString strPath = GetModulePath();
    const int nPos = strPath.ReverseFind('\\');
    if (nPos < 0)
        return CString();
    return strPath.Left(nPos);
}

ULONGLONG CCommonFunc::GetFileLength(CString strPath) {
    FILE* fp = win_fopen(strPath, "rb");
    if (fp == nullptr)
        return 0;
    ULONGLONG nLength = 0;
    if (fseeko(fp, 0, SEEK_END) == 0) {
        const off_t pos = ftello(fp);
        if (pos > 0)
            nLength = static_cast<ULONGLONG>(pos);
    }
    fclose(fp);
    return nLength;
}

bool CCommonFunc::FileExists(CString strPath) {
    // A FIFO or a device is neither a file nor a folder: every caller would go on to open it.
    const DWORD dwAttributes = GetFileAttributesA(strPath);
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DEVICE) == 0;
}

bool CCommonFunc::WriteWholeFile(CString strPath, CString strText) {
    // A sibling temporary file replaced over the target in one rename: readers and a later start
    // see either the old bytes or the new ones, never a truncated file.
    static std::atomic<unsigned> s_nSerial{0};
    CString strTemp;
    strTemp.Format("%s.%d-%u.tmp", strPath.GetString(), static_cast<int>(getpid()), s_nSerial.fetch_add(1));

    FILE* fp = win_fopen(strTemp, "wb");
    if (fp == nullptr)
        return false;
    // State files are the user's alone: user.xml holds the password. A file an older build left
    // open to others is closed by its next write.
    fchmod(fileno(fp), S_IRUSR | S_IWUSR);
    const size_t nSize = static_cast<size_t>(strText.GetLength());
    bool bOk = nSize == 0 || fwrite(strText.GetString(), 1, nSize, fp) == nSize;
    bOk = fflush(fp) == 0 && bOk;
    // A file system that cannot sync (EINVAL) still gets the rename; any other failure is one.
    bOk = (fsync(fileno(fp)) == 0 || errno == EINVAL) && bOk;
    bOk = fclose(fp) == 0 && bOk;
    if (bOk)
        bOk = MoveFileExA(strTemp, strPath, MOVEFILE_REPLACE_EXISTING) != FALSE;
    if (!bOk)
        DeleteFileA(strTemp);
    return bOk;
}

bool CCommonFunc::ReadWholeFile(CString strPath, CString& strText) {
    strText = "";
    FILE* fp = win_fopen(strPath, "rb");
    if (fp == nullptr)
        return false;
    off_t nEnd = -1;
    if (fseeko(fp, 0, SEEK_END) == 0)
        nEnd = ftello(fp);
    // A CString holds at most INT_MAX bytes; a larger file cannot be held and is refused.
    if (nEnd < 0 || static_cast<ULONGLONG>(nEnd) > static_cast<ULONGLONG>(INT_MAX) - 2 ||
        fseeko(fp, 0, SEEK_SET) != 0) {
        fclose(fp);
        return false;
    }
    const size_t nSize = static_cast<size_t>(nEnd);
    std::vector<char> buffer(nSize + 2, 0);
    const size_t nRead = nSize == 0 ? 0 : fread(buffer.data(), 1, nSize, fp);
    fclose(fp);
    buffer[nRead] = 0;
    strText = CString(buffer.data());
    return true;
}

void CCommonFunc::SplitString(CString strText, CString strSep, CStringArray& arrPieces) {
    if (strSep.IsEmpty())
        return;
    strText += strSep;
    int nPos = 0;
    for (;;) {
        const int nFound = strText.Find(strSep, nPos);
        if (nFound < 0)
            break;
        arrPieces.Add(strText.Mid(nPos, nFound - nPos));
        nPos = nFound + strSep.GetLength();
    }
}

namespace {

CString VersionIniPath() {
    return g_AppPathInfo.m_strExeFilesDir + "\\Version.ini";
}

// Leading blanks, an optional sign, then the digits up to the first other character; no digits: 0.
int ParseDecimal(const char* psz) {
    errno = 0;
    const long long n = std::strtoll(psz, nullptr, 10);
    if (n > INT_MAX)
        return INT_MAX;
    if (n < INT_MIN)
        return INT_MIN;
    return static_cast<int>(n);
}

} // namespace

int CCommonFunc::GetComponentVersion(CString strName) {
    char szValue[100] = {};
    GetPrivateProfileStringA("Version", strName, "", szValue, sizeof szValue, VersionIniPath());
    return ParseDecimal(szValue);
}

void CCommonFunc::SetComponentVersion(CString strName, int nBuild) {
    CString strValue;
    strValue.Format("%d", nBuild);
    WritePrivateProfileStringA("Version", strName, strValue, VersionIniPath());
}

void CCommonFunc::ParseSortClass(CString strXml, CArray<CSortInfo*, CSortInfo*>& arrSorts) {
    arrSorts.RemoveAll();
    CXmlDocument doc;
    doc.SetDocText(strXml);
    doc.ResetLevel();
    if (!doc.FindElement("api"))
        return;
    doc.IntoElement();
    while (doc.FindElement("sort")) {
        CSortInfo* pSort = new CSortInfo;
        pSort->id = doc.GetAttribute("id");
        pSort->sort_name = doc.GetAttribute("sort_name");
        doc.IntoElement();
        while (doc.FindElement("item")) {
            CBigClassInfo item;
            item.id = doc.GetAttribute("id");
            item.p_id = doc.GetAttribute("p_id");
            item.sort_name = doc.GetAttribute("sort_name");
            pSort->items.Add(item);
        }
        doc.OutOfElement();
        arrSorts.Add(pSort);
    }
}

namespace {

const char kStandardAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kAltAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789()";

int EncodeWith(const char* pszAlphabet, char chPad, const BYTE* pBuf, size_t nLength, CString& strOut) {
    strOut = "";
    if (pBuf == nullptr || nLength == 0)
        return 0;
    std::string out;
    out.reserve((nLength + 2) / 3 * 4);
    uint32_t nBits = 0;
    int nHeld = 0;
    for (size_t i = 0; i < nLength; ++i) {
        nBits = (nBits << 8) | pBuf[i];
        nHeld += 8;
        while (nHeld >= 6) {
            nHeld -= 6;
            out.push_back(pszAlphabet[(nBits >> nHeld) & 0x3f]);
        }
        nBits &= (1u << nHeld) - 1;
    }
    if (nHeld > 0)
        out.push_back(pszAlphabet[(nBits << (6 - nHeld)) & 0x3f]);
    while (out.size() % 4 != 0)
        out.push_back(chPad);
    strOut = CString(std::move(out));
    return strOut.GetLength();
}

// Calls emit(byte) for each decoded byte; returns the count. Bytes outside the alphabet are skipped.
template <typename Emit> int DecodeWith(const char* pszAlphabet, const char* pszText, Emit emit) {
    signed char values[128];
    std::memset(values, -1, sizeof values);
    for (int i = 0; i < 64; ++i)
        values[static_cast<unsigned char>(pszAlphabet[i])] = static_cast<signed char>(i);
    uint32_t nBits = 0;
    int nHeld = 0;
    int nCount = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(pszText); *p != 0; ++p) {
        if (*p >= 128 || values[*p] < 0)
            continue;
        nBits = (nBits << 6) | static_cast<uint32_t>(values[*p]);
        nHeld += 6;
        if (nHeld >= 8) {
            nHeld -= 8;
            emit(static_cast<BYTE>((nBits >> nHeld) & 0xff));
            ++nCount;
        }
        nBits &= (1u << nHeld) - 1;
    }
    return nCount;
}

int DecodeToString(const char* pszAlphabet, const char* pszText, CString& strOut) {
    if (pszText == nullptr || *pszText == 0)
        return 0;
    std::string out;
    const int n = DecodeWith(pszAlphabet, pszText, [&](BYTE b) { out.push_back(static_cast<char>(b)); });
    strOut = CString(std::move(out));
    return n;
}

} // namespace

int CCommonFunc::EncodeBase64(const char* pszText, CString& strOut) {
    return EncodeWith(kStandardAlphabet, '=', reinterpret_cast<const BYTE*>(pszText),
                      pszText == nullptr ? 0 : std::strlen(pszText), strOut);
}

int CCommonFunc::EncodeBase64Buf(const BYTE* pBuf, int nLength, CString& strOut) {
    return EncodeWith(kStandardAlphabet, '=', pBuf, nLength > 0 ? static_cast<size_t>(nLength) : 0, strOut);
}

int CCommonFunc::DecodeBase64(const char* pszText, CString& strOut) {
    return DecodeToString(kStandardAlphabet, pszText, strOut);
}

int CCommonFunc::DecodeBase64Buf(const char* pszText, BYTE* pOut) {
    if (pszText == nullptr || *pszText == 0 || pOut == nullptr)
        return 0;
    int i = 0;
    DecodeWith(kStandardAlphabet, pszText, [&](BYTE b) { pOut[i++] = b; });
    pOut[i] = 0;
    return i;
}

int CCommonFunc::EncodeBase64Alt(const char* pszText, CString& strOut) {
    return EncodeWith(kAltAlphabet, '-', reinterpret_cast<const BYTE*>(pszText),
                      pszText == nullptr ? 0 : std::strlen(pszText), strOut);
}

int CCommonFunc::DecodeBase64Alt(const char* pszText, CString& strOut) {
    return DecodeToString(kAltAlphabet, pszText, strOut);
}

int CCommonFunc::UrlEncode(const BYTE* pSrc, int nLength, char* pOut) {
    static const char kHex[] = "0123456789ABCDEF";
    int n = 0;
    for (int i = 0; i < nLength; ++i) {
        const BYTE c = pSrc[i];
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            (c != 0 && std::strchr("@*_-.", c) != nullptr)) {
            pOut[n++] = static_cast<char>(c);
        } else {
            pOut[n++] = '%';
            pOut[n++] = kHex[c >> 4];
            pOut[n++] = kHex[c & 0xf];
        }
    }
    pOut[n] = 0;
    return n;
}

CString CCommonFunc::GetUrlCacheFile(CString strUrl) {
    // No system keeps a browser cache we may read here; the callers fetch the picture themselves.
    (void)strUrl;
    return CString();
}
