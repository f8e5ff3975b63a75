// The LZARI decoder: LZSS over a 4096-byte ring, with arithmetic-coded literals,
// match lengths and match positions. Portable; knows nothing of files or memory.
#pragma once
#include <stdint.h>

// Next input byte (0 to 255), or -1 once the input has ended.
typedef int32_t (*ByteSource)(void* context);
// Takes one output byte (0 to 255); see the sink's own description for its result.
typedef int32_t (*ByteSink)(void* context, int32_t byte);

// The decoder's whole state; the caller owns it, the decoder clears it per stream.
struct LzariDecoder {
  void* sourceContext;
  ByteSource sourceRead;
  void* sinkContext;
  ByteSink sinkWrite;
  uint8_t ring[4096];
  uint32_t low;
  uint32_t high;
  uint32_t value;
  int32_t charToSymbol[314];
  int32_t symbolToChar[315];
  uint32_t symbolFreq[315];
  uint32_t symbolCum[315];
  uint32_t positionCum[4097];
  int32_t inputByte;
  int32_t inputMask;
};

// Decodes one whole stream from the source into the sink and returns 1. A stream too
// short to hold its 4-byte length ends the process with exit status 1.
int LzariDecodeStream(LzariDecoder* decoder, ByteSource sourceRead, void* sourceContext,
                      ByteSink sinkWrite, void* sinkContext);
