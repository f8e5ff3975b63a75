// The LZARI decoder: LZSS over a 4096-byte ring, with arithmetic-coded literals,
// match lengths and match positions. Portable; knows nothing of files or memory.
#pragma once
#include <stdint.h>

// Next input byte (0 to 255), or -1 once the input has ended.
typedef int32_t (*ByteSource)(void* context);
// Takes one output byte (0 to 255); see the sink's own description for its result.
// A negative result means the byte was not kept: the decoder then stops.
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
// short to hold its 4-byte length ends the process with exit status 1. Returns 0, at
// once, when the sink answers a byte with a negative result (the output is lost, so
// decoding on would only waste time).
int LzariDecodeStream(LzariDecoder* decoder, ByteSource sourceRead, void* sourceContext,
                      ByteSink sinkWrite, void* sinkContext);

// The steps of a stream, each on the record (exposed for the model's own tests).
int ReadTextSize(LzariDecoder* decoder, uint32_t* textSize);  // 0 when input ran out
void PrimeValue(LzariDecoder* decoder);
void InitModels(LzariDecoder* decoder);
int32_t ReadBit(LzariDecoder* decoder);
int32_t DecodeSymbol(LzariDecoder* decoder);  // a code, 0 to 313
int32_t FindSymbol(const LzariDecoder* decoder, uint32_t x);  // a rank, 1 to 314
void UpdateSymbolModel(LzariDecoder* decoder, int32_t rank);
int32_t DecodePosition(LzariDecoder* decoder);  // 0 to 4095
int32_t FindPosition(const LzariDecoder* decoder, uint32_t x);
void Rescale(LzariDecoder* decoder);

// Ends the process with exit status 1. The decoder stays portable by leaving this to
// the build: ExitProcess in the Windows builds, exit() on the host.
[[noreturn]] void EndProcessOnShortStream();
