// Where the splash bitmap comes from: the decision whether to show one and its file name.
#pragma once
#include <stdint.h>

// Bits of the low byte of the payload's flags2 that ask for no splash.
const uint32_t NoSplashBits = 0x3C;

// The extension of the bitmap file beside the executable.
const char SplashExtension[] = ".BMP";

// Nonzero when a recognised payload's flags2 forbids the splash; an executable without
// a recognised payload always looks for its bitmap.
int PayloadForbidsSplash(int payloadRecognised, uint32_t flags2);

// Replaces the extension of the file name at the end of `path` with `extension`, or
// appends it when the name has none; a dot in a folder name does not count. An empty
// `extension` leaves `path` as it is. The caller provides room for a result up to
// TextLength(extension) bytes longer. Returns 1.
int ReplaceExtension(char* path, const char* extension);
