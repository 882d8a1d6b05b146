// Files, text, profiles, the registry and special folders: the kernel half of the platform that
// the program's non-GUI code uses.
#pragma once

// Every standard header that declares or uses fopen comes first, so the rename below touches
// only the program's own calls.
#include <cstdio>
#include <stdio.h>

#include "platform/kernel/WinError.h"
#include "platform/kernel/CodePage.h"
#include "platform/kernel/FileSys.h"
#include "platform/kernel/AfxFile.h"
#include "platform/kernel/Profile.h"
#include "platform/kernel/Registry.h"
#include "platform/kernel/ShellFolders.h"
#include "platform/kernel/SystemInfo.h"

// The program opens files by Windows-form paths; fopen maps them like every other file call.
// Only the unqualified name is mapped: the program's code calls fopen, never std::fopen.
#define fopen win_fopen
