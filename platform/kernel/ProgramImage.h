// What this system's program loader accepts: the test the update check and the version hand-over
// make of a program copy before they record it or start it. Any thread; reads the file only.
#pragma once

#include "platform/base/Win32Types.h"

// TRUE when the file is a program the system can start: an ELF executable (or position-independent
// executable) of this machine's class, byte order and processor, whose program headers lie inside
// the file, or a script whose "#!" line names an interpreter that is an executable file. The
// file's own execute bits are not looked at.
BOOL AfxIsProgramImage(LPCSTR pszPath);

// AfxIsProgramImage, and the file may be executed by this user: a copy that can be started.
BOOL AfxCanRunProgram(LPCSTR pszPath);

// Gives the file the execute bits (rwxr-xr-x): a program copy is started by its path.
BOOL AfxMakeExecutable(LPCSTR pszPath);
