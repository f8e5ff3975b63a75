// Whether a splash bitmap file's headers fit the file. The system's loader trusts them:
// a pixel offset, size or colour table that reaches past the end of the file makes it
// read past its view of the file and the process dies before anything is shown.
#pragma once
#include <stdint.h>

// The bytes the check reads from the start of the file: the 14-byte file header and
// the largest info header.
const uint32_t BitmapHeadersSize = 14 + 124;

// A splash wider or taller than this is refused: no screen shows it, and its section
// would take gigabytes.
const int32_t LargestSplashSide = 16384;

// Nonzero when `start` (the first `length` bytes of a file of `fileSize` bytes) holds
// the headers of a bitmap the loader takes (one plane; 1, 4, 8, 16, 24 or 32 bits;
// uncompressed, run-length or bit fields) whose colour table and pixels lie inside the
// file: the table before the pixel offset, the pixels that the width, height and depth
// need (or, run-length coded, the size the header gives) from there on.
int BitmapFitsItsFile(const uint8_t* start, uint32_t length, uint32_t fileSize);
