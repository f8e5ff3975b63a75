// Connects the LZARI decoder to a compressed entry held in memory and an open file.
#pragma once
#include <stdint.h>
#include <windows.h>
#include "lzari/lzari_decoder.h"

// Expands the LZARI stream `input` (`inputLength` bytes) into `file` (an _lcreat
// handle) through `outputBuffer` of `outputSize` bytes. Returns 1 when every decoded
// byte reached the file, 0 on a missing argument or a short write.
int DecodeEntryToFile(LzariDecoder* decoder, uint8_t* outputBuffer, uint32_t outputSize,
                      const uint8_t* input, int32_t inputLength, HFILE file);
