// The launch sequence: splash, payload, libraries, runtime call, cleanup, outcome.
#pragma once
#include <windows.h>

// WinMain, as the platform declares it, is defined in winmain.cpp. It returns the
// process exit code: 1 when the runtime ran and returned 0, otherwise 0.
