// Files, text, profiles, the registry and special folders: the kernel half of the platform that
// the program's non-GUI code uses. The program opens its Windows-form paths with win_fopen;
// fopen and std::fopen keep their own meaning, for Linux paths.
#pragma once

#include "platform/kernel/WinError.h"
#include "platform/kernel/CodePage.h"
#include "platform/kernel/FileSys.h"
#include "platform/kernel/AfxFile.h"
#include "platform/kernel/Profile.h"
#include "platform/kernel/Registry.h"
#include "platform/kernel/ShellFolders.h"
#include "platform/kernel/SystemInfo.h"
