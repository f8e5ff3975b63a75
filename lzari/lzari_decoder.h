// The LZARI decoder: LZSS over a 4096-byte ring, with arithmetic-coded literals,
// match lengths and match positions. Portable; knows nothing of files or memory.
#pragma once
#include <stddef.h>
#include <stdint.h>

// Next input byte (0 to 255), or -1 once the input has ended.
typedef int32_t (*ByteSource)(void* context);
// Takes one output byte (0 to 255); see the sink's own description for its result.
// A negative result means the byte was not kept: the decoder then stops.
typedef int32_t (*ByteSink)(void* context, int32_t byte);
// Takes a block of `count` output bytes; nonzero when they were kept, 0 to stop the
// decoder.
typedef int (*BlockSink)(void* context, const uint8_t* block, uint32_t count);

// Position lookup: positionIndex[k] is the smallest rank i with positionCum[i] <= 16k.
const uint32_t PositionIndexShift = 4;
const uint32_t PositionIndexSize = (28568 >> PositionIndexShift) + 2;

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
  uint16_t positionIndex[PositionIndexSize];
};

// Decodes one whole stream from the source into the sink and returns 1. A stream too
// short to hold its 4-byte length ends the process with exit status 1. Returns 0, at
// once, when the sink answers a byte with a negative result (the output is lost, so
// decoding on would only waste time). The source is read no further than the classic
// bit-at-a-time decoder reads it, and the sink sees the same calls.
int LzariDecodeStream(LzariDecoder* decoder, ByteSource sourceRead, void* sourceContext,
                      ByteSink sinkWrite, void* sinkContext);

// What LzariDecodeBuffered came to.
const int LzariSinkRefused = 0;  // `flush` refused a block: the output is lost
const int LzariDecoded = 1;
const int LzariStreamDamaged = 2;  // too short for its length, or read far past its end

// How far past its end a stream may be read: an honest one is read at most 17 bits
// (3 bytes) ahead of its last coded bit.
const uint32_t LzariReadAheadLimit = 4;

// The same decoding, faster, for a stream held in memory and a buffered output: decoded
// bytes go straight into `buffer`, which goes to `flush` each time it holds `capacity`
// bytes (and then counts as empty). On return `*fill` holds the bytes still waiting in
// the buffer. `capacity` must be at least 1.
//
// This is the launcher's extraction, and it refuses what the byte-by-byte decoder
// accepts: a stream under 4 bytes (too short for its length) and a stream that is read
// more than LzariReadAheadLimit bytes past its end are damaged, and decoding stops there
// (before the code that asked for those bytes is written). The byte-by-byte decoder ends
// the process on the one and reads 1-bits for the other up to the stated size, which is
// how a damaged projector used to write gigabytes, or vanish without a word; a damaged
// file must say so instead. Streams that are not refused decode bit for bit the same.
int LzariDecodeBuffered(LzariDecoder* decoder, const uint8_t* input, size_t length, uint8_t* buffer,
                        uint32_t capacity, BlockSink flush, void* flushContext, uint32_t* fill);

// The models, shared with the encoder (and open to the model's own tests).
void InitModels(LzariDecoder* decoder);
int32_t FindSymbol(const LzariDecoder* decoder, uint32_t x);  // a rank, 1 to 314
void UpdateSymbolModel(LzariDecoder* decoder, int32_t rank);
int32_t FindPosition(const LzariDecoder* decoder, uint32_t x);  // 0 to 4095

// Ends the process with exit status 1. The decoder stays portable by leaving this to
// the build: ExitProcess in the Windows builds, exit() on the host.
[[noreturn]] void EndProcessOnShortStream();
