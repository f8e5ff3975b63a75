// The splash screen: its start on a thread of its own and the runtime's close callback.
#pragma once
#include <windows.h>

// Starts the splash thread when the payload allows one and the bitmap beside the
// executable loads. Returns the thread identifier, or 0 without a splash.
DWORD StartSplash();

// The bitmap beside the executable (its name with ".BMP"), or null when the payload
// forbids a splash or the file cannot be read.
HBITMAP LoadSplashBitmap();

// Asks the splash thread `threadId` to close its window. Returns the result of
// posting the request.
BOOL WINAPI CloseSplash(DWORD threadId);
