// The decoder on arbitrary bytes: it must stay inside its tables, keep its models
// consistent and end within 59 bytes of the announced size.
// `./run test` runs it for 20 s; for a longer run, after that, from the build root:
//   fuzz/lzari_decoder_fuzz -max_total_time=900 fuzz/lzari_decoder_fuzz.corpus
// (or scripts/fuzz.sh long 900, which runs every target for that long).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "lzari/lzari_decoder.h"
#include "lzari/lzari_memory_source.h"

namespace {

// Announced sizes can reach 4 GiB; the sink refuses past this many bytes, which also
// exercises the decoder's stop on a refused byte. Enough for the first model halving.
const uint32_t OutputLimit = 36000;

struct CountingSink {
  uint32_t count;
};

int32_t CountByte(void* context, int32_t byte) {
  CountingSink* sink = static_cast<CountingSink*>(context);
  if (byte < 0 || byte > 255) abort();
  if (sink->count >= OutputLimit) return -1;
  ++sink->count;
  return byte;
}

void CheckModels(const LzariDecoder& d) {
  if (d.symbolFreq[0] != 0 || d.symbolCum[314] != 0 || d.symbolCum[0] > 32767) abort();
  for (int s = 1; s <= 314; ++s) {
    if (d.symbolFreq[s] == 0 || (s > 1 && d.symbolFreq[s] > d.symbolFreq[s - 1])) abort();
    if (d.symbolCum[s - 1] != d.symbolCum[s] + d.symbolFreq[s]) abort();
    if (d.charToSymbol[d.symbolToChar[s]] != s) abort();
  }
  if (d.low > d.value || d.value >= d.high || d.high > 0x20000 || d.high - d.low <= 0x8000) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Under four bytes the decoder ends the process, as it must; nothing to explore.
  if (size < 4 || size > 0x7FFFFFFF) return 0;
  static LzariDecoder decoder;
  MemorySource source = {data, 0, static_cast<int32_t>(size)};
  CountingSink sink = {0};
  int result = LzariDecodeStream(&decoder, ReadMemoryByte, &source, CountByte, &sink);
  uint32_t announced;
  std::memcpy(&announced, data, 4);  // little-endian host
  if (result == 1) {
    if (sink.count < announced || sink.count - announced > 59) abort();
  } else if (sink.count != OutputLimit) {
    abort();
  }
  if (announced != 0) CheckModels(decoder);
  return 0;
}
