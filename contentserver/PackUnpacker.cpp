#include "contentserver/PackUnpacker.h"

#include <cstdio>
#include <cstring>

namespace {

DWORD ReadU32(const BYTE* p) {
    return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) | (static_cast<DWORD>(p[2]) << 16) |
           (static_cast<DWORD>(p[3]) << 24);
}

} // namespace

BOOL PackReadDirectory(const BYTE* pPackage, DWORD nSize, std::vector<PackDirEntry>& entries) {
    entries.clear();
    if (pPackage == nullptr || nSize < PACK_TRAILER_SIZE)
        return FALSE;
    const BYTE* pTrailer = pPackage + nSize - PACK_TRAILER_SIZE;
    PackTrailer trailer;
    trailer.dwDirOffset = ReadU32(pTrailer);
    trailer.dwDirSize = ReadU32(pTrailer + 4);
    trailer.nCount = static_cast<int>(ReadU32(pTrailer + 8));
    if (trailer.nCount < 0 || trailer.nCount > PACK_MAX_ENTRIES)
        return FALSE;

    // All sums in 64 bits: a hostile offset near 4 GiB must not wrap into range.
    const uint64_t nBody = static_cast<uint64_t>(nSize) - PACK_TRAILER_SIZE;
    const uint64_t nDirEnd = static_cast<uint64_t>(trailer.dwDirOffset) +
                             static_cast<uint64_t>(trailer.nCount) * PACK_DIRENTRY_SIZE;
    if (nDirEnd > nBody)
        return FALSE;

    std::vector<PackDirEntry> result(static_cast<size_t>(trailer.nCount));
    for (int i = 0; i < trailer.nCount; ++i) {
        const BYTE* pRec = pPackage + trailer.dwDirOffset + static_cast<size_t>(i) * PACK_DIRENTRY_SIZE;
        PackDirEntry& e = result[static_cast<size_t>(i)];
        if (memchr(pRec, 0, PACK_NAME_SIZE) == nullptr)
            return FALSE;
        memcpy(e.szName, pRec, PACK_NAME_SIZE);
        e.dwOffset = ReadU32(pRec + PACK_NAME_SIZE);
        e.dwSize = ReadU32(pRec + PACK_NAME_SIZE + 4);
        if (static_cast<uint64_t>(e.dwOffset) + e.dwSize > nSize)
            return FALSE;
    }
    entries.swap(result);
    return TRUE;
}

BOOL PackIsPlainFileName(const char* pszName) {
    if (pszName == nullptr || pszName[0] == '\0')
        return FALSE;
    if (strcmp(pszName, ".") == 0 || strcmp(pszName, "..") == 0)
        return FALSE;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(pszName); *p != 0; ++p) {
        // A GBK trail byte may be 0x5C or 0x7C; it belongs to its character, not a separator. A
        // lead byte before anything but a trail byte would swallow a "/" or "." that the file
        // system sees on its own.
        if (AfxIsLeadByte(*p)) {
            const unsigned char t = p[1];
            if (t < 0x40 || t == 0x7F || t == 0xFF)
                return FALSE;
            ++p;
            continue;
        }
        if (*p < 32 || *p == 127 || strchr("\\/:*?\"<>|", *p) != nullptr)
            return FALSE;
    }
    // The file system takes names in UTF-8; one the code page cannot convert has no file name.
    std::string utf8;
    return AfxAnsiToUtf8(pszName, utf8) ? TRUE : FALSE;
}

BOOL CPackUnpacker::UnpackFile(CString packagePath, CString folder) {
    FILE* f = win_fopen(packagePath, "rb");
    if (f == nullptr)
        return FALSE;
    if (fseek(f, 0, SEEK_END) != 0) {
        fclose(f);
        return FALSE;
    }
    long nLength = ftell(f);
    // The format counts in 32 bits; two bytes of zero padding follow the package in memory.
    if (nLength < 0 || static_cast<uint64_t>(nLength) > 0xFFFFFFFFull - 2 || fseek(f, 0, SEEK_SET) != 0) {
        fclose(f);
        return FALSE;
    }
    std::vector<BYTE> buffer(static_cast<size_t>(nLength) + 2, 0);
    size_t nRead = nLength > 0 ? fread(buffer.data(), 1, static_cast<size_t>(nLength), f) : 0;
    fclose(f);
    if (nRead != static_cast<size_t>(nLength))
        return FALSE;
    return Unpack(buffer.data(), static_cast<DWORD>(nLength), folder);
}

BOOL CPackUnpacker::Unpack(BYTE* package, DWORD size, CString folder) {
    std::vector<PackDirEntry> directory;
    if (!PackReadDirectory(package, size, directory))
        return FALSE;
    // Update packages arrive over plain HTTP: a name that could leave the folder refuses the whole
    // package before anything is written.
    for (const PackDirEntry& e : directory) {
        if (!PackIsPlainFileName(e.szName))
            return FALSE;
    }
    BOOL bResult = TRUE;
    for (const PackDirEntry& e : directory) {
        CString path;
        path.Format("%s%s", folder, e.szName);
        bResult = WriteEntry(path, package, e.dwOffset, e.dwSize);
        if (!bResult)
            break;
    }
    return bResult;
}

BOOL CPackUnpacker::WriteEntry(CString path, BYTE* package, DWORD offset, DWORD size) {
    FILE* f = win_fopen(path, "wb");
    if (f == nullptr)
        return FALSE;
    BOOL bOk = TRUE;
    if (size > 0 && fwrite(package + offset, 1, size, f) != size)
        bOk = FALSE;
    // A full disk often shows only when the buffered bytes are flushed at close.
    if (fclose(f) != 0)
        bOk = FALSE;
    return bOk;
}
