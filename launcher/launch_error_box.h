// The one report a failed launch makes: a message box, and the player download offer.
#pragma once
#include <windows.h>
#include "launcher/launch_error.h"

// Shows the failure message for `code` from `instance`'s string table; returns when
// the box has been closed (and, for the download offer, the browser started).
void ShowLaunchError(HINSTANCE instance, LaunchError code);
