// Connects the LZARI decoder to a compressed entry held in memory and an open file.
#pragma once
#include <stdint.h>
#include <windows.h>
#include "lzari/lzari_decoder.h"
#include "lzari/lzari_memory_source.h"

// Gathers decoded bytes and writes them to `file` one full buffer at a time.
struct FileSink {
  uint8_t* buffer;
  uint32_t fill;      // decoded bytes waiting in the buffer
  uint32_t capacity;  // the buffer's size in bytes
  HFILE file;         // an _lcreat handle
};

// The ByteSink over a FileSink: returns `byte`, or -1 when writing the full buffer came
// up short (the buffer counts as empty either way).
int32_t WriteFileSinkByte(void* sink, int32_t byte);

// Expands the LZARI stream `input` (`inputLength` bytes) into `file` (an _lcreat
// handle) through `outputBuffer` of `outputSize` bytes. Returns 1 when every decoded
// byte reached the file, 0 on a missing argument or a short write.
int DecodeEntryToFile(LzariDecoder* decoder, uint8_t* outputBuffer, uint32_t outputSize,
                      const uint8_t* input, int32_t inputLength, HFILE file);
