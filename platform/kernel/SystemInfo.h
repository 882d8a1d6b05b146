// Facts about this machine that the program asks the system for.
#pragma once

#include "platform/base/Win32Types.h"

#define MAX_COMPUTERNAME_LENGTH 15

// The machine's name as the network knows it: the host name's first label, cut to
// MAX_COMPUTERNAME_LENGTH bytes. *lpnSize is the buffer's size on entry; on success the name's
// length, otherwise (ERROR_BUFFER_OVERFLOW) the size needed with the terminator.
BOOL GetComputerNameA(LPSTR lpBuffer, LPDWORD lpnSize);
#define GetComputerName GetComputerNameA
