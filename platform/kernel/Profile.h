// Private-profile (INI) files in the ANSI code page. Each call is atomic within the process, and
// a write replaces the file whole (temporary file in the same folder, then rename), so threads
// writing different keys of one file never lose each other's keys. A file written is readable by
// this user alone (0600); only a regular file is read, anything else reads as a missing file.
#pragma once

#include "platform/base/Win32Types.h"

// A missing file, section or key gives the default (NULL default is ""). The value is trimmed of
// blanks and one pair of surrounding quotes and cut to the buffer. Names compare without regard
// to case; the first occurrence wins. A NULL key lists the section's keys, a NULL section lists
// the sections, each zero-terminated, followed by one more zero. Returns the bytes copied,
// without the terminator.
DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault, LPSTR lpReturnedString,
                               DWORD nSize, LPCSTR lpFileName);
// Creates the file, the section (at the end) or the key (at the end of its section); otherwise
// replaces the value in place and keeps every other line. Writes "key=value" and CR LF line ends.
// A NULL value deletes the key, a NULL key the section. FALSE when the folder is missing.
BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString, LPCSTR lpFileName);
// The value's leading decimal digits (an optional "-" sign; "0x" hexadecimal); the default when
// the key is missing, 0 when the value has no digits.
UINT GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault, LPCSTR lpFileName);
// A whole section as "key=value" strings, each zero-terminated, followed by one more zero.
DWORD GetPrivateProfileSectionA(LPCSTR lpAppName, LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName);

#define GetPrivateProfileString GetPrivateProfileStringA
#define WritePrivateProfileString WritePrivateProfileStringA
#define GetPrivateProfileInt GetPrivateProfileIntA
#define GetPrivateProfileSection GetPrivateProfileSectionA
