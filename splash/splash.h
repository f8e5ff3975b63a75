// The splash screen: its start on a thread of its own and the runtime's close callback.
#pragma once
#include <windows.h>

// Starts the splash thread, unless `payloadForbidsSplash` is set or the bitmap beside
// the executable does not load. Returns the thread identifier, or 0 without a splash.
DWORD StartSplash(int payloadForbidsSplash);

// Asks the splash thread `threadId` to close its window. Returns the result of
// posting the request.
BOOL WINAPI CloseSplash(DWORD threadId);
