// Hooks the shell library puts into the lower layers when it is linked in (ShellInit.cpp).
#pragma once

namespace afxshell {

void InstallTaskbarVerbs();
void InstallForeignWindows();
void InstallFileManager();

} // namespace afxshell
