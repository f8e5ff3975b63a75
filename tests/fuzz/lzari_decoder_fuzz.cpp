// The decoder against the classic bit-at-a-time decoder, on arbitrary streams and on our
// encoder's streams of arbitrary texts (which must come back whole): byte by byte, the
// same sink calls after the same reads, the same result; buffered, the same bytes up to
// the first code read from more than LzariReadAheadLimit bytes past the end, where it
// calls the stream damaged.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "lzari/lzari_decoder.h"
#include "lzari/lzari_encoder.h"
#include "lzari/lzari_memory_source.h"
#include "tests/bench/lzari_classic.h"

namespace {

// The sinks refuse past this many bytes, so that an announced size of up to 4 GiB costs no
// more; by then the ring has wrapped, and matches reach written bytes, fill and zeros.
const size_t OutputCap = 2048;

// One decoding through ByteSource and ByteSink: each sink call (position << 8 | byte),
// and how many bytes past the end had been asked for by then.
struct Run {
  MemorySource memory;
  std::vector<uint64_t> calls;
  std::vector<uint32_t> pastEndAt;
  uint32_t pastEnd;
};

int32_t ReadCounting(void* context) {
  Run* run = static_cast<Run*>(context);
  int32_t byte = ReadMemoryByte(&run->memory);
  if (byte < 0) ++run->pastEnd;
  return byte;
}

int32_t LogCall(void* context, int32_t byte) {
  Run* run = static_cast<Run*>(context);
  run->pastEndAt.push_back(run->pastEnd);
  if (run->calls.size() == OutputCap) return -1;
  run->calls.push_back(uint64_t(run->memory.position) << 8 | uint64_t(byte));
  return byte;
}

struct Blocks {
  std::vector<uint8_t> bytes;
  uint32_t capacity;
};

// Refuses the last block that ends within OutputCap, so that every byte it is handed is
// known from the classic decoder.
int KeepBlock(void* context, const uint8_t* block, uint32_t count) {
  Blocks* b = static_cast<Blocks*>(context);
  if (count != b->capacity) abort();  // only full buffers are handed over
  if (b->bytes.size() + count == OutputCap / count * count) return 0;
  b->bytes.insert(b->bytes.end(), block, block + count);
  return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Control bytes: whether the rest is a text to encode, the buffer's size.
  if (size < 2) return 0;
  const bool encode = data[0] & 1;
  std::vector<uint8_t> text(data + 2, data + std::min(size, OutputCap + 2));
  std::vector<uint8_t> stream = encode ? LzariEncode(text.data(), text.size()) : text;
  if (stream.size() < 4) return 0;  // both end there (the process, or with -1)
  const MemorySource source = {stream.data(), 0, int32_t(stream.size())};

  Run classic = {source, {}, {}, 0};
  const int classicResult = ClassicLzariDecode(ReadCounting, &classic, LogCall, &classic);
  std::vector<uint8_t> bytes;
  for (uint64_t call : classic.calls) bytes.push_back(uint8_t(call));
  if (encode && (classicResult != 1 || bytes != text)) abort();

  static LzariDecoder decoder;
  Run run = {source, {}, {}, 0};
  int result = LzariDecodeStream(&decoder, ReadMemoryByte, &run.memory, LogCall, &run);
  if (run.calls != classic.calls || result != classicResult) abort();
  if (run.memory.position != classic.memory.position) abort();

  // Through a buffer of 1 to 256 bytes. The bytes before the first code read from too far
  // past the end count; an honest stream has no such code.
  Blocks blocks = {{}, 1u + data[1]};
  std::vector<uint8_t> out(blocks.capacity);
  uint32_t fill = 0xFFFFFFFF;
  result = LzariDecodeBuffered(&decoder, stream.data(), stream.size(), out.data(), blocks.capacity,
                               KeepBlock, &blocks, &fill);
  auto tooFar = std::find_if(classic.pastEndAt.begin(), classic.pastEndAt.end(),
                             [](uint32_t pastEnd) { return pastEnd > LzariReadAheadLimit; });
  const bool damaged = tooFar != classic.pastEndAt.end();
  if (encode && damaged) abort();
  const size_t sound = damaged ? size_t(tooFar - classic.pastEndAt.begin()) : bytes.size();
  const size_t refusedBlock = OutputCap / blocks.capacity;
  const bool refused = sound / blocks.capacity >= refusedBlock;
  const int expected = refused ? LzariSinkRefused : damaged ? LzariStreamDamaged : LzariDecoded;
  if (result != expected || fill != (refused ? 0 : sound % blocks.capacity)) abort();
  blocks.bytes.insert(blocks.bytes.end(), out.begin(), out.begin() + fill);
  if (blocks.bytes.size() != (refused ? (refusedBlock - 1) * blocks.capacity : sound)) abort();
  if (!std::equal(blocks.bytes.begin(), blocks.bytes.end(), bytes.begin())) abort();
  return 0;
}
