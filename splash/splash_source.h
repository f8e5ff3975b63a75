// Whether the splash is shown, and the extension of its bitmap file.
#pragma once
#include <stdint.h>

// The extension of the bitmap file beside the executable.
const char SplashExtension[] = ".BMP";

// Nonzero when a recognised payload's flags2 forbids the splash (PayloadNoSplashMask);
// an executable without a recognised payload always looks for its bitmap.
int PayloadForbidsSplash(int payloadRecognised, uint32_t flags2);
