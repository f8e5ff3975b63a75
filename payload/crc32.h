// CRC-32 with the polynomial of zlib (reflected 0xEDB88320): the check that the
// integrity record keeps of the payload's bytes, fast enough to run over every byte
// that the extraction copies.
#pragma once
#include <stdint.h>

// Builds the tables, once. Call it before the first CRC, and before another thread
// uses them.
void PrepareCrc32();

// `crc` (0 for none yet) carried on over `count` more bytes. Needs PrepareCrc32.
uint32_t UpdateCrc32(uint32_t crc, const uint8_t* bytes, uint32_t count);
