// The one call into the runtime library: CinemorphMain, whichever way it was compiled.
#pragma once
#include <windows.h>
#include "launcher/launch_params.h"

// Calls `entry` with the launcher's arguments and returns its result. On i686 the
// stack is put back after the call, so a runtime built with the C calling convention
// (which leaves its 20 bytes of arguments for the caller to pop) works as well as one
// built with the Win32 convention (which pops them itself).
int CallCinemorphMain(CinemorphMainProc entry, HINSTANCE instance, HINSTANCE previous,
                      LPSTR commandLine, int showCommand, LaunchParams* params);
