// Code pages: the ANSI code page is GBK (936) whatever the Linux locale says; conversions to and
// from UTF-16 go through iconv, with a fresh converter per call so no state is shared.
#pragma once

#include "platform/base/AfxAscii.h"
#include "platform/base/Win32Types.h"

#include <string>

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_MACCP 2
#define CP_THREAD_ACP 3
#define CP_SYMBOL 42
#define CP_UTF7 65000
#define CP_UTF8 65001

#define MB_PRECOMPOSED 0x00000001
#define MB_COMPOSITE 0x00000002
#define MB_USEGLYPHCHARS 0x00000004
#define MB_ERR_INVALID_CHARS 0x00000008

#define WC_COMPOSITECHECK 0x00000200
#define WC_DISCARDNS 0x00000010
#define WC_SEPCHARS 0x00000020
#define WC_DEFAULTCHAR 0x00000040
#define WC_ERR_INVALID_CHARS 0x00000080
#define WC_NO_BEST_FIT_CHARS 0x00000400

// Always 936.
UINT GetACP();
UINT GetOEMCP();

// GBK lead bytes: 0x81 to 0xFE.
BOOL IsDBCSLeadByte(BYTE TestChar);
BOOL IsDBCSLeadByteEx(UINT CodePage, BYTE TestChar);

// cbMultiByte -1: the source is zero-terminated and the terminator is converted too.
// cchWideChar 0: only measure. Returns the units written (or needed), 0 on failure (GetLastError:
// ERROR_INSUFFICIENT_BUFFER, ERROR_INVALID_PARAMETER, ERROR_NO_UNICODE_TRANSLATION with
// MB_ERR_INVALID_CHARS). With flags 0 an invalid sequence becomes U+FFFD and never fails.
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar);

// A character the target cannot hold becomes lpDefaultChar (default "?") and sets
// *lpUsedDefaultChar. For UTF-8 and UTF-7 both must be NULL, as on Windows.
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                        LPBOOL lpUsedDefaultChar);
// The code pages for which WideCharToMultiByte refuses a default character or its "used" flag
// (UTF-8, UTF-7, the ISO-2022 family, HZ, GB18030, ISCII): callers that want to know about lost
// characters must not ask for one there.
bool AfxCodePageRefusesDefaultChar(UINT cp);

// Conveniences for the platform's own edges (file names, toolkit strings). Each reports whether
// every byte converted; on false the output holds what converted before the fault.
bool AfxAnsiToUtf8(const std::string& ansi, std::string& utf8);
bool AfxUtf8ToAnsi(const std::string& utf8, std::string& ansi);
// Lossy forms: bad input becomes U+FFFD / "?" as with flags 0.
std::string AfxAnsiToUtf8(const std::string& ansi);
std::string AfxUtf8ToAnsi(const std::string& utf8);
std::u16string AfxAnsiToUtf16(const std::string& ansi);
std::string AfxUtf16ToAnsi(const std::u16string& wide);
