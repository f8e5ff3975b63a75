// The LZARI decoder: round trips through the packer's encoder on both paths, read by the
// classic decoder too (which shares no code with ours), a refusing sink, a size near 4 GiB,
// and streams that end too soon. The fuzzer compares arbitrary streams with the classic
// decoder.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "lzari/lzari_decoder.h"
#include "lzari/lzari_encoder.h"
#include "lzari/lzari_memory_source.h"
#include "tests/bench/lzari_classic.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Keeps at most `limit` bytes and refuses the next: a size read wrongly fails at once
// instead of filling memory. As a block sink it also refuses its `refuseCall`th call.
struct Sink {
  size_t limit = 64 << 20;
  int32_t refuseCall = 0;
  int32_t calls = 0;
  Bytes bytes = {};
};

int32_t Keep(void* context, int32_t byte) {
  Sink* s = static_cast<Sink*>(context);
  ++s->calls;
  if (s->bytes.size() >= s->limit) return -1;
  s->bytes.push_back(uint8_t(byte));
  return byte;
}

int KeepBlock(void* context, const uint8_t* block, uint32_t count) {
  Sink* s = static_cast<Sink*>(context);
  if (++s->calls == s->refuseCall || s->bytes.size() + count > s->limit) return 0;
  s->bytes.insert(s->bytes.end(), block, block + count);
  return 1;
}

Bytes Random(size_t n, uint32_t seed, uint32_t range = 256) {
  std::mt19937 random(seed);
  Bytes b(n);
  for (auto& x : b) x = uint8_t(random() % range);
  return b;
}

// Runs copied from up to 5000 bytes back (beyond the ring too), with noise between.
Bytes Repetitive(size_t n, uint32_t seed) {
  Bytes b = Random(n, seed, 16);
  for (size_t i = 1; i < n; ++i) {
    if (i % 300 > 20) b[i] = b[i - 1 - (i / 300 * 2654435761u) % std::min<size_t>(i, 5000)];
  }
  return b;
}

// Counts zeros; well past any right end a decoder that missed it is stopped, not waited for.
int32_t Count(void* context, int32_t byte) {
  uint64_t* count = static_cast<uint64_t*>(context);
  if (*count >= (uint64_t(1) << 32) + 1000 || byte != 0) return -1;
  ++*count;
  return byte;
}

// Zeros as 60-byte matches make the longest match the top-ranked code; cut before its
// flush, the stream goes on in 1-bits, which decode as that match. Announcing 2^32 - 1
// bytes, the last match carries the count past 2^32: decoding must still end there.
TEST(LzariDecoder, SizeWithinFiftyNineOf4GiBStillEnds) {
  Bytes stream = LzariEncode(Bytes(200000, 0).data(), 200000);
  stream.resize(stream.size() - 3);
  memset(stream.data(), 0xFF, 4);
  auto decoder = std::make_unique<LzariDecoder>();
  MemorySource source = {stream.data(), 0, int32_t(stream.size())};
  uint64_t count = 0;
  EXPECT_EQ(LzariDecodeStream(decoder.get(), ReadMemoryByte, &source, Count, &count), 1);
  EXPECT_GT(count, uint64_t(1) << 32);  // the case that a wrapping count would miss
  EXPECT_LE(count, 0xFFFFFFFFull + 59);
}

// Long texts take the adaptive model through many halvings, which short fuzzed ones never
// reach; the classic decoder checks the model that our encoder and decoder share.
TEST(LzariRoundTrip, EveryKindOfTextComesBackExactlyOnBothPaths) {
  std::vector<Bytes> texts = {{},
                              {0x42},
                              Bytes(1000, ' '),  // the fill
                              Bytes(70000, 0xFF),
                              Random(300000, 1),
                              Random(500000, 2, 5),
                              Repetitive(400000, 3),
                              Repetitive(4096, 4),  // the ring's size
                              Random(4097, 5),
                              {0x2D, 0xF9, 0x09, 0x00}};  // coded, it ends in three 0xFF bytes
  for (size_t n : {32767, 32768, 32769, 98305}) texts.push_back(Repetitive(n, n));
  auto decoder = std::make_unique<LzariDecoder>();
  for (const Bytes& text : texts) {
    SCOPED_TRACE(std::to_string(text.size()) + " bytes");
    const Bytes stream = LzariEncode(text.data(), text.size());
    for (bool ours : {true, false}) {  // byte by byte
      MemorySource source = {stream.data(), 0, int32_t(stream.size())};
      Sink bytewise{text.size() + 64};
      EXPECT_EQ(ours ? LzariDecodeStream(decoder.get(), ReadMemoryByte, &source, Keep, &bytewise)
                     : ClassicLzariDecode(ReadMemoryByte, &source, Keep, &bytewise),
                1);
      EXPECT_TRUE(bytewise.bytes == text) << (ours ? "ours" : "classic");
    }
    // The launcher's path: straight into a buffer, handed over only when it is full; an
    // honest stream is never read so far past its end that it is refused.
    for (uint32_t capacity : {1u, 61u, 32768u}) {
      if (text.size() > 100000 && capacity < 61) continue;
      Bytes buffer(capacity);
      uint32_t fill = 0;
      Sink blocks{text.size()};
      EXPECT_EQ(LzariDecodeBuffered(decoder.get(), stream.data(), stream.size(), buffer.data(),
                                    capacity, KeepBlock, &blocks, &fill),
                LzariDecoded);
      EXPECT_EQ(blocks.bytes.size(), text.size() / capacity * capacity) << capacity;
      blocks.bytes.insert(blocks.bytes.end(), buffer.begin(), buffer.begin() + fill);
      EXPECT_TRUE(blocks.bytes == text) << capacity;
      if (text.size() < 2 * capacity) continue;
      Sink refusing{64 << 20, 2};
      EXPECT_EQ(LzariDecodeBuffered(decoder.get(), stream.data(), stream.size(), buffer.data(),
                                    capacity, KeepBlock, &refusing, &fill),
                LzariSinkRefused);
      EXPECT_EQ(refusing.calls, 2) << "decoding went on after a refused block";
    }
  }
}

// The launcher's path refuses a stream too short for its length, or read more than a
// few bytes past its end, instead of ending the process or reading 1-bits up to the
// size. What it wrote before is the text, but for the few codes read from bits past
// the end.
TEST(LzariDecoder, BufferedDecodingRefusesAStreamThatEndsTooSoon) {
  const Bytes text = Repetitive(100000, 9);
  const Bytes whole = LzariEncode(text.data(), text.size());
  Bytes half(whole.begin(), whole.begin() + whole.size() / 2);
  Bytes fourGiB = half;
  memset(fourGiB.data(), 0xFF, 4);
  auto decoder = std::make_unique<LzariDecoder>();
  for (const Bytes& stream : {Bytes(), Bytes(whole.begin(), whole.begin() + 3), half, fourGiB}) {
    Bytes buffer(4096);
    uint32_t fill = 7;
    Sink blocks{1 << 20};
    EXPECT_EQ(LzariDecodeBuffered(decoder.get(), stream.data(), stream.size(), buffer.data(),
                                  uint32_t(buffer.size()), KeepBlock, &blocks, &fill),
              LzariStreamDamaged)
        << stream.size();
    blocks.bytes.insert(blocks.bytes.end(), buffer.begin(), buffer.begin() + fill);
    ASSERT_LE(blocks.bytes.size(), text.size()) << stream.size();
    const size_t sound = blocks.bytes.size() - std::min<size_t>(blocks.bytes.size(), 4096);
    EXPECT_TRUE(std::equal(blocks.bytes.begin(), blocks.bytes.begin() + sound, text.begin()));
  }
}

}  // namespace
