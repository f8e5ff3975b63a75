// The decoder against the classic bit-at-a-time decoder on arbitrary bytes: the same
// output, the same results, and, through ByteSource and ByteSink, the same calls in the
// same order; through a buffer, the same bytes in blocks of the buffer's size.
// For a long run, from the build root (-runs counts inputs; two jobs of 5 million):
//   fuzz/lzari_differential_fuzz -jobs=2 -workers=2 -runs=5000000 fuzz/lzari_differential_fuzz.corpus
// Most of each input's time goes into setting up the models; built with the decoders'
// own sources compiled with -fsanitize=fuzzer-no-link -fno-sanitize-coverage=trace-cmp
// (comparison tracing of their table loops dominates otherwise), it runs about 4,500
// inputs a second per job on this machine.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "lzari/lzari_decoder.h"
#include "lzari/lzari_memory_source.h"
#include "tests/bench/lzari_classic.h"

namespace {

// Larger announced sizes are not taken, so that one input decodes in well under a
// millisecond; the decoder's own fuzz target covers sizes up to 4 GiB.
const uint32_t TextLimit = 1 << 10;

struct CountingSource {
  MemorySource memory;
  uint32_t reads;
};

int32_t CountingRead(void* context) {
  CountingSource* s = static_cast<CountingSource*>(context);
  ++s->reads;
  return ReadMemoryByte(&s->memory);
}

// Records each byte with the number of source reads made before it.
struct RecordingSink {
  const CountingSource* source;
  std::vector<uint8_t> bytes;
  std::vector<uint32_t> readsBefore;
  size_t refuseAt;  // index of the first byte refused
};

int32_t RecordByte(void* context, int32_t byte) {
  RecordingSink* s = static_cast<RecordingSink*>(context);
  if (byte < 0 || byte > 255) abort();
  if (s->bytes.size() == s->refuseAt) return -1;
  s->bytes.push_back(static_cast<uint8_t>(byte));
  s->readsBefore.push_back(s->source->reads);
  return byte;
}

struct BlockRecord {
  std::vector<uint8_t> bytes;
  uint32_t capacity;
  uint32_t blocks;
  uint32_t refuseBlock;  // 1-based index of the block refused, 0 for none
};

int KeepBlock(void* context, const uint8_t* block, uint32_t count) {
  BlockRecord* r = static_cast<BlockRecord*>(context);
  if (count != r->capacity) abort();  // only full buffers are handed over
  if (++r->blocks == r->refuseBlock) return 0;
  r->bytes.insert(r->bytes.end(), block, block + count);
  return 1;
}

// memcmp, which may not be handed the null data() of an empty vector.
bool Same(const void* a, const void* b, size_t bytes) {
  return bytes == 0 || std::memcmp(a, b, bytes) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Under four bytes both end the process (or report it); nothing to compare.
  if (size < 4 || size > 1 << 20) return 0;
  uint32_t announced;
  std::memcpy(&announced, data, 4);  // little-endian host
  if (announced > TextLimit) return 0;
  // The settings of the other two runs come from the last byte, which is usually read
  // (if at all) as a bit past the interesting ones.
  uint8_t knob = data[size - 1];

  CountingSource classicSource = {{data, 0, static_cast<int32_t>(size)}, 0};
  RecordingSink classic = {&classicSource, {}, {}, SIZE_MAX};
  int classicResult = ClassicLzariDecode(CountingRead, &classicSource, RecordByte, &classic);
  if (classicResult != 1) abort();

  // Through ByteSource and ByteSink, refusing one byte (or none) of the output.
  static LzariDecoder decoder;
  CountingSource source = {{data, 0, static_cast<int32_t>(size)}, 0};
  RecordingSink sink = {&source, {}, {}, SIZE_MAX};
  if (knob & 1) sink.refuseAt = (knob >> 1) * (classic.bytes.size() + 1) / 128;
  int result = LzariDecodeStream(&decoder, CountingRead, &source, RecordByte, &sink);
  bool refused = sink.refuseAt < classic.bytes.size();
  if (result != (refused ? 0 : 1)) abort();
  size_t kept = refused ? sink.refuseAt : classic.bytes.size();
  if (sink.bytes.size() != kept || !Same(sink.bytes.data(), classic.bytes.data(), kept) ||
      !Same(sink.readsBefore.data(), classic.readsBefore.data(), kept * sizeof(uint32_t)))
    abort();
  // After the refused byte the decoder reads nothing more; otherwise it read what the
  // classic decoder read.
  if (source.reads != (refused ? classic.readsBefore[kept] : classicSource.reads)) abort();

  // Through a buffer of 1 to 128 bytes, refusing one block (or none).
  std::vector<uint8_t> buffer(1 + (knob & 127));
  BlockRecord blocks = {{}, static_cast<uint32_t>(buffer.size()), 0, 0};
  if (knob & 128) blocks.refuseBlock = 1 + (knob & 7);
  uint32_t fill = 0xFFFFFFFF;
  result = LzariDecodeBuffered(&decoder, data, size, buffer.data(), blocks.capacity, KeepBlock,
                               &blocks, &fill);
  size_t whole = classic.bytes.size() / blocks.capacity;
  if (blocks.refuseBlock != 0 && blocks.refuseBlock <= whole) {
    if (result != 0 || fill != 0 || blocks.blocks != blocks.refuseBlock) abort();
  } else {
    if (result != 1 || blocks.blocks != whole || fill != classic.bytes.size() % blocks.capacity)
      abort();
    blocks.bytes.insert(blocks.bytes.end(), buffer.begin(), buffer.begin() + fill);
  }
  if (!Same(blocks.bytes.data(), classic.bytes.data(), blocks.bytes.size())) abort();
  return 0;
}
