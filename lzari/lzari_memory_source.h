// A ByteSource over a stream held wholly in memory; portable, used by the launcher's
// extraction and by the tools.
#pragma once
#include <stdint.h>

struct MemorySource {
  const uint8_t* data;  // first byte of the stream
  int32_t position;     // index of the next byte to hand out
  int32_t length;       // bytes in the stream
};

// The next byte (0 to 255), or -1 from the end on; a null source has no bytes.
int32_t ReadMemoryByte(void* source);
