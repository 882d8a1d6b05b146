// Content packages: the entries' data back to back, then a directory of fixed records, then a
// fixed trailer. CPackUnpacker writes the entries of one package into a folder.
#pragma once

#include "platform/afx.h"

#include <vector>

#define PACK_TRAILER_SIZE 12
#define PACK_DIRENTRY_SIZE 264
#define PACK_NAME_SIZE 256
#define PACK_MAX_ENTRIES 5000

struct PackTrailer {
    DWORD dwDirOffset;
    DWORD dwDirSize; // count x 264; never trusted, the count decides
    int nCount;
};

struct PackDirEntry {
    char szName[PACK_NAME_SIZE]; // NUL-terminated, ANSI code page
    DWORD dwOffset;
    DWORD dwSize;
};

// Reads and checks the directory of a package of nSize bytes. FALSE, with the records left empty,
// when the package is shorter than its trailer, the count lies outside 0 to 5000, the directory or
// any entry's data reaches past the end, or a name has no terminating zero in its 256 bytes.
BOOL PackReadDirectory(const BYTE* pPackage, DWORD nSize, std::vector<PackDirEntry>& entries);

// TRUE when the entry name is a plain file name: not empty, not "." or "..", free of separators,
// drive colons, wildcards and the other characters a file name cannot take, and whole characters
// of the ANSI code page.
BOOL PackIsPlainFileName(const char* pszName);

class CPackUnpacker {
public:
    BOOL UnpackFile(CString packagePath, CString folder);
    BOOL Unpack(BYTE* package, DWORD size, CString folder);
    BOOL WriteEntry(CString path, BYTE* package, DWORD offset, DWORD size);
};
