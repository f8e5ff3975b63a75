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

// What carries the CRC of some bytes over `count` more bytes: the operator that
// CombineCrc32 takes. Needs no tables.
uint32_t Crc32Shift(uint32_t count);

// The CRC of some bytes followed by others, from the CRC of the first (`before`), the
// CRC of the others on their own (`after`) and Crc32Shift of their count. So bytes can
// be summed in pieces, in any order, and joined in theirs.
uint32_t CombineCrc32(uint32_t before, uint32_t after, uint32_t shift);
