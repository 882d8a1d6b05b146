// Special folders. The application-data folder is $XDG_DATA_HOME (default ~/.local/share),
// created when missing; the desktop folder is the XDG desktop folder, unknown when there is none.
// Paths come back in the program's Windows form.
#pragma once

#include "platform/base/Win32Types.h"

#include <string>

#define CSIDL_DESKTOP 0x0000
#define CSIDL_PERSONAL 0x0005
#define CSIDL_DESKTOPDIRECTORY 0x0010
#define CSIDL_APPDATA 0x001A
#define CSIDL_LOCAL_APPDATA 0x001C
#define CSIDL_FLAG_CREATE 0x8000

#define SHGFP_TYPE_CURRENT 0
#define SHGFP_TYPE_DEFAULT 1

// An identifier list here holds one folder's Linux path; the Windows form is made only when the
// program asks for it, so that a folder the ANSI code page cannot hold fails there instead of
// passing on a garbled path. It is allocated with malloc, so ILFree and a free-based
// CoTaskMemFree both release it. Every list of the program (special folders, the folder picker)
// is of this one kind.
struct ITEMIDLIST;
using LPITEMIDLIST = ITEMIDLIST*;
using LPCITEMIDLIST = const ITEMIDLIST*;
using PIDLIST_ABSOLUTE = ITEMIDLIST*;
using PCIDLIST_ABSOLUTE = const ITEMIDLIST*;

// A new identifier list for a Linux folder path; null when memory runs out.
LPITEMIDLIST AfxMakeIdList(const std::string& linuxPath);

// S_OK, or E_FAIL when the folder is unknown (*ppidl is then NULL). hwndOwner is ignored.
HRESULT SHGetSpecialFolderLocation(void* hwndOwner, int nFolder, LPITEMIDLIST* ppidl);
// The folder in the program's Windows form into pszPath (MAX_PATH bytes). FALSE, with an empty
// pszPath, for a list that is not one of ours or a folder that cannot be written in the ANSI
// code page or does not fit.
BOOL SHGetPathFromIDListA(LPCITEMIDLIST pidl, LPSTR pszPath);
void ILFree(LPITEMIDLIST pidl);
HRESULT SHGetFolderPathA(void* hwnd, int csidl, HANDLE hToken, DWORD dwFlags, LPSTR pszPath);
BOOL SHGetSpecialFolderPathA(void* hwnd, LPSTR pszPath, int csidl, BOOL fCreate);

// The user's home folder as a Linux path: $HOME, else the account's folder, else "" (unknown),
// which callers treat as a folder that does not exist. Every module that needs it asks here.
std::string AfxGetHomeFolder();
// An XDG base folder: the variable's value when it is an absolute path, else the home folder with
// homeRelative appended ("" when the home folder is unknown). AfxGetXdgFolder("XDG_CONFIG_HOME",
// ".config") is ~/.config by default.
std::string AfxGetXdgFolder(const char* envName, const char* homeRelative);

// The folder of this session's sockets and lock files, as a Linux path: $XDG_RUNTIME_DIR when it
// is a folder of this user that no other user may enter (0700), else /tmp/afx-runtime-<uid>,
// made so and checked the same way, so that a folder of that name another user made first is
// never taken. "" when neither can be had.
std::string AfxGetRuntimeFolder();

#define SHGetPathFromIDList SHGetPathFromIDListA
#define SHGetFolderPath SHGetFolderPathA
#define SHGetSpecialFolderPath SHGetSpecialFolderPathA
