// What the launch sequence does after cleanup: report a failure or restart Windows.
#pragma once
#include <windows.h>
#include "launcher/launch_error.h"

// Shows the failure message for `code` from `instance`'s string table; returns when
// the box has been closed (and, for the download offer, the browser started).
void ShowLaunchError(HINSTANCE instance, LaunchError code);

// Writes the shared player's download address, with the segment for the system's
// default language, into `buffer` of at least 256 bytes. Returns nonzero.
int BuildDownloadUrl(char* buffer);

// Starts the program registered for opening ".htm" files with `address`. Any failure
// ends it silently.
void OpenInBrowser(const char* address);

// Asks Windows for a forced restart (`reboot` nonzero) or a forced shutdown.
// Returns 1 when Windows accepted the request, 0 otherwise.
int RestartSystem(uint32_t reboot);

// 1 on the Windows NT platform, else 0.
int IsWindowsNT();
