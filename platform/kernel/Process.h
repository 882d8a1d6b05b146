// Starting other programs and opening documents and addresses with the desktop's handler.
#pragma once

#include "platform/base/Win32Types.h"
#include "platform/kernel/Module.h"

struct HWND__;
using HWND = HWND__*;

#ifndef SW_HIDE
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_NORMAL 1
#define SW_SHOWMINIMIZED 2
#define SW_SHOWMAXIMIZED 3
#define SW_MAXIMIZE 3
#define SW_SHOWNOACTIVATE 4
#define SW_SHOW 5
#define SW_MINIMIZE 6
#define SW_SHOWMINNOACTIVE 7
#define SW_SHOWNA 8
#define SW_RESTORE 9
#define SW_SHOWDEFAULT 10
#endif

#define SE_ERR_FNF 2
#define SE_ERR_PNF 3
#define SE_ERR_ACCESSDENIED 5
#define SE_ERR_OOM 8
#define SE_ERR_SHARE 26
#define SE_ERR_NOASSOC 31

// "open" (or NULL) on an executable starts it with the parameters, split as a Windows command line
// is and passed without a shell; on a URL or another file the desktop's default handler opens it.
// Like Windows, the result is above 32 on success and an SE_ERR_ code otherwise. Other verbs go
// to the verb handler when one is set, and have no association otherwise.
HINSTANCE ShellExecuteA(HWND hwnd, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters, LPCSTR lpDirectory,
                        INT nShowCmd);
#define ShellExecute ShellExecuteA

// The program the desktop's default handler is started with; "xdg-open" unless set (tests point it
// at a recorder).
void AfxSetDesktopOpener(const char* pszProgram);

// Takes the verbs other than "open" (the shell layer sets one for the taskbar verbs); null: none.
using AFX_SHELL_VERB_HANDLER = HINSTANCE (*)(LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters,
                                             LPCSTR lpDirectory, INT nShowCmd);
void AfxSetShellVerbHandler(AFX_SHELL_VERB_HANDLER handler);

// Shows an existing item selected in the desktop's file manager, for "explorer.exe" with
// "/select,": given the item's and its folder's local paths and the desktop opener, the handler
// takes the request over (and opens the folder with the opener when the file manager cannot show
// the item). The shell layer sets one; without it the folder is opened.
using AFX_SHOW_ITEM_HANDLER = void (*)(const char* pszItem, const char* pszFolder, const char* pszOpener);
void AfxSetShowItemHandler(AFX_SHOW_ITEM_HANDLER handler);
