// Process startup without a C runtime: finds WinMain's arguments and exits with its result.
#include <windows.h>
#include "launcher/command_line.h"

extern "C" void LauncherStartup() {
  LPSTR arguments = const_cast<LPSTR>(SkipProgramName(GetCommandLineA()));
  STARTUPINFOA startup;
  startup.cb = sizeof(startup);
  GetStartupInfoA(&startup);
  int showCommand = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
  int result = WinMain(GetModuleHandleA(0), 0, arguments, showCommand);
  ExitProcess(static_cast<UINT>(result));
}
