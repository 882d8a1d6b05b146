// Modules and their resources: the program's own resource table (compiled from res/ and linked in)
// and other executables, read for their resources only.
#pragma once

#include "platform/base/Win32Types.h"

#include <string>

struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
struct HRSRC__;
using HRSRC = HRSRC__*;

// Standard resource types.
#define RT_CURSOR MAKEINTRESOURCEA(1)
#define RT_BITMAP MAKEINTRESOURCEA(2)
#define RT_ICON MAKEINTRESOURCEA(3)
#define RT_MENU MAKEINTRESOURCEA(4)
#define RT_DIALOG MAKEINTRESOURCEA(5)
#define RT_STRING MAKEINTRESOURCEA(6)
#define RT_RCDATA MAKEINTRESOURCEA(10)
#define RT_GROUP_CURSOR MAKEINTRESOURCEA(12)
#define RT_GROUP_ICON MAKEINTRESOURCEA(14)
#define RT_VERSION MAKEINTRESOURCEA(16)

// LoadLibraryEx flags. Every module other than the program is read for its resources alone, so both
// flags are accepted and change nothing.
#define DONT_RESOLVE_DLL_REFERENCES 0x00000001
#define LOAD_LIBRARY_AS_DATAFILE 0x00000002

// One resource of a compiled resource table. A type or name is an integer id when its string is
// NULL, otherwise a name (compared without regard to case, as Windows does).
struct RESOURCE_TABLE_ENTRY {
    const char* pszType;
    WORD wTypeId;
    const char* pszName;
    WORD wNameId;
    WORD wLanguage;
    const BYTE* pData;
    DWORD cbData;
};

struct RESOURCE_TABLE {
    const RESOURCE_TABLE_ENTRY* pEntries;
    DWORD nEntries;
};

// The program's own table, defined by the generated resource source linked into the executable.
// An executable without one has no resources of its own.
extern const RESOURCE_TABLE g_programResourceTable __attribute__((weak));

// A module over a compiled table other than the program's (tests link their own tables). One handle
// per table, valid for the life of the process; FreeLibrary on it does nothing.
HMODULE AfxModuleFromResourceTable(const RESOURCE_TABLE* pTable);

// NULL names the program itself, as does the handle GetModuleHandleA(NULL) returns.
HMODULE GetModuleHandleA(LPCSTR lpModuleName);
#define GetModuleHandle GetModuleHandleA
// The program's full path in the Windows form used inside the program ("\home\u\kestrin").
DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
#define GetModuleFileName GetModuleFileNameA

// A folder that goes with the running program (its movie player, its browser extension), as a
// Linux path: the one of this name beside the program's file, wherever the program was copied.
// A program of the build tree that has none beside it (a test program) takes the build's own,
// the one beside the built client; a program elsewhere never does, so a copy that lacks the
// folder is seen to lack it. The folder named may not exist.
std::string AfxProgramCompanionFolder(const char* pszName);

HINSTANCE AfxGetResourceHandle();
HINSTANCE AfxGetInstanceHandle();

// Another file is read as a Windows executable, for its resources only. NULL when the file is
// missing or malformed; GetLastError tells which.
HMODULE LoadLibraryA(LPCSTR lpLibFileName);
HMODULE LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags);
BOOL FreeLibrary(HMODULE hModule);
#define LoadLibrary LoadLibraryA
#define LoadLibraryEx LoadLibraryExA

// hModule NULL is the program itself. lpType and lpName are integer ids (MAKEINTRESOURCE) or names;
// a name "#123" means the id 123. The first language of a name is taken.
HRSRC FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType);
#define FindResource FindResourceA
HGLOBAL LoadResource(HMODULE hModule, HRSRC hResInfo);
LPVOID LockResource(HGLOBAL hResData);
DWORD SizeofResource(HMODULE hModule, HRSRC hResInfo);
BOOL FreeResource(HGLOBAL hResData);

// String-table text in the ANSI code page, cut to the buffer (always terminated when the buffer
// holds at least one byte). Returns the length copied, 0 when the entry is missing or empty.
// (No LoadString macro: it would rename CString::LoadString.)
int LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax);
