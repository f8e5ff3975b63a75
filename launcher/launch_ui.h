// What the launch sequence does after cleanup: report a failure or restart Windows.
#pragma once
#include <windows.h>
#include "launcher/launch_error.h"

// Shows the failure message for `code` from `instance`'s string table; returns when
// the box has been closed (and, for the download offer, the browser started).
void ShowLaunchError(HINSTANCE instance, LaunchError code);

// Asks Windows for a forced restart (`reboot` nonzero) or a forced shutdown.
// Returns 1 when Windows accepted the request, 0 otherwise.
int RestartSystem(uint32_t reboot);
