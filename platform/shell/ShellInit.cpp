#include "platform/shell/ShellInternal.h"

namespace {

struct Install {
    Install() {
        afxshell::InstallTaskbarVerbs();
        afxshell::InstallForeignWindows();
        afxshell::InstallFileManager();
    }
} g_install;

} // namespace

// Nothing refers to this file, yet every program that links the shell needs its hooks: the
// library's link options name this symbol so that the linker keeps the file.
extern "C" const int g_afxShellLinked = 1;
