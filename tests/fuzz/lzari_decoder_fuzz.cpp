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
  size_t refuseAt;  // the sink call refused
  std::vector<uint64_t> calls;
  std::vector<uint8_t> bytes;
  uint32_t pastEnd;
  std::vector<uint32_t> pastEndAt;
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
  run->calls.push_back(static_cast<uint64_t>(run->memory.position) << 8 |
                       static_cast<uint64_t>(byte));
  if (run->calls.size() > run->refuseAt) return -1;
  run->bytes.push_back(static_cast<uint8_t>(byte));
  return byte;
}

struct Blocks {
  std::vector<uint8_t> bytes;
  uint32_t capacity, count, refuse;  // the number (from 1) of the block refused
};

int KeepBlock(void* context, const uint8_t* block, uint32_t count) {
  Blocks* b = static_cast<Blocks*>(context);
  if (count != b->capacity) abort();  // only full buffers are handed over
  if (++b->count == b->refuse) return 0;
  b->bytes.insert(b->bytes.end(), block, block + count);
  return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Control bytes: whether the rest is a text to encode and where the byte sink refuses,
  // the buffer's size.
  if (size < 2) return 0;
  const uint8_t knob = data[0], buffer = data[1];
  std::vector<uint8_t> text(data + 2, data + std::min(size, OutputCap + 2));
  std::vector<uint8_t> stream = knob & 1 ? LzariEncode(text.data(), text.size()) : text;
  if (stream.size() < 4) return 0;  // both end there (the process, or with -1)
  const MemorySource source = {stream.data(), 0, static_cast<int32_t>(stream.size())};

  Run classic = {source, OutputCap, {}, {}, 0, {}};
  int classicResult = ClassicLzariDecode(ReadCounting, &classic, LogCall, &classic);
  const std::vector<uint64_t>& c = classic.calls;
  if ((knob & 1) && (classicResult != 1 || classic.bytes != text)) abort();

  // Byte by byte, refusing where the classic decoder refused, or earlier.
  static LzariDecoder decoder;
  Run run = {source, OutputCap, {}, {}, 0, {}};
  if (knob & 2) run.refuseAt = (knob >> 2) * (classic.bytes.size() + 1) / 64;
  int result = LzariDecodeStream(&decoder, ReadMemoryByte, &run.memory, LogCall, &run);
  bool refused = c.size() > run.refuseAt;
  int32_t position = refused ? static_cast<int32_t>(c[run.refuseAt] >> 8) : classic.memory.position;
  if (run.calls !=
          std::vector<uint64_t>(c.begin(), c.begin() + std::min(c.size(), run.refuseAt + 1)) ||
      result != (refused ? 0 : classicResult) || run.memory.position != position)
    abort();

  // Through a buffer of 1 to 256 bytes, refusing an early block or the one past the cap.
  std::vector<uint8_t> out(1u + buffer);
  Blocks blocks = {{}, static_cast<uint32_t>(out.size()), 0, 0};
  blocks.refuse = knob & 128 ? 1 + (knob >> 4 & 7) : OutputCap / blocks.capacity;
  uint32_t fill = 0xFFFFFFFF;
  result = LzariDecodeBuffered(&decoder, stream.data(), stream.size(), out.data(), blocks.capacity,
                               KeepBlock, &blocks, &fill);
  // The bytes before the first code read from too far past the end; an honest stream
  // never has one.
  size_t sound = classic.bytes.size();
  bool damaged = false;
  for (size_t i = 0; i < classic.pastEndAt.size() && i <= classic.bytes.size(); ++i) {
    if (classic.pastEndAt[i] > LzariReadAheadLimit) {
      sound = i;
      damaged = true;
      break;
    }
  }
  if ((knob & 1) && damaged) abort();
  size_t whole = sound / blocks.capacity;
  uint32_t rest = static_cast<uint32_t>(sound % blocks.capacity);
  int expected = damaged ? LzariStreamDamaged : LzariDecoded;
  bool blockRefused = blocks.refuse <= whole;
  if (blockRefused ? result != LzariSinkRefused || fill != 0 || blocks.count != blocks.refuse
                   : result != expected || fill != rest || blocks.count != whole)
    abort();
  if (!blockRefused) blocks.bytes.insert(blocks.bytes.end(), out.begin(), out.begin() + fill);
  if (!std::equal(blocks.bytes.begin(), blocks.bytes.end(), classic.bytes.begin())) abort();
  return 0;
}
