// Our encoder against the decoder: every kind of text comes back byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "lzari/lzari_decoder.h"
#include "lzari/lzari_encoder.h"
#include "lzari/lzari_memory_source.h"

namespace {

using Bytes = std::vector<uint8_t>;

int32_t AppendByte(void* context, int32_t byte) {
  static_cast<Bytes*>(context)->push_back(static_cast<uint8_t>(byte));
  return byte;
}

Bytes Decode(const Bytes& stream, LzariDecoder* decoder) {
  MemorySource source = {stream.data(), 0, static_cast<int32_t>(stream.size())};
  Bytes out;
  EXPECT_EQ(LzariDecodeStream(decoder, ReadMemoryByte, &source, AppendByte, &out), 1);
  return out;
}

Bytes Random(size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes b(n);
  for (auto& x : b) x = uint8_t(random());
  return b;
}

// Words from a small vocabulary with line breaks: text with a skewed alphabet.
Bytes Text(size_t n, uint32_t seed) {
  static const char* words[] = {"the",   "movie", "player", "runtime", "splash", "folder",
                                "frame", "cast",  "sprite", "sound",  "script", "on",
                                "end",   "if",    "then",   "repeat", "with",   "\r\n"};
  std::mt19937 random(seed);
  Bytes b;
  while (b.size() < n) {
    const char* w = words[random() % (sizeof words / sizeof *words)];
    b.insert(b.end(), w, w + strlen(w));
    b.push_back(' ');
  }
  b.resize(n);
  return b;
}

// Random blocks, each repeated a few times at varying distances, some beyond the ring.
Bytes Repetitive(size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes b;
  while (b.size() < n) {
    size_t back = 1 + random() % 6000;
    size_t length = 1 + random() % 200;
    if (b.size() < back || random() % 4 == 0) {
      for (size_t i = 0; i < length; ++i) b.push_back(uint8_t(random() % 16));
    } else {
      for (size_t i = 0; i < length; ++i) b.push_back(b[b.size() - back]);
    }
  }
  b.resize(n);
  return b;
}

TEST(LzariRoundTrip, EveryKindOfTextComesBackExactly) {
  struct Case {
    const char* name;
    Bytes text;
  };
  std::vector<Case> cases = {
      {"empty", {}},
      {"one byte", {0x42}},
      {"one zero byte", {0x00}},
      {"two bytes", {0xFF, 0x00}},
      {"spaces, as the fill", Bytes(1000, ' ')},
      {"zeros, as the unwritten ring end", Bytes(1000, 0)},
      {"all 0xFF", Bytes(70000, 0xFF)},
      {"random", Random(300000, 1)},
      {"text", Text(500000, 2)},
      {"binary with long repeats", Repetitive(400000, 3)},
      {"ring size", Text(4096, 4)},
      {"ring size plus one", Random(4097, 5)},
  };
  for (size_t n : {32767u, 32768u, 32769u, 65536u, 98303u, 98304u, 98305u})
    cases.push_back({"around 32768 * n", Repetitive(n, uint32_t(n))});
  Bytes everything;
  for (int i = 0; i < 256; ++i) everything.push_back(uint8_t(i));
  cases.push_back({"every byte value", everything});

  auto decoder = std::make_unique<LzariDecoder>();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(c.text.size()) + " bytes");
    Bytes stream = LzariEncode(c.text.data(), c.text.size());
    ASSERT_GE(stream.size(), 4u);
    uint32_t size = stream[0] | stream[1] << 8 | stream[2] << 16 | uint32_t(stream[3]) << 24;
    EXPECT_EQ(size, c.text.size());
    EXPECT_TRUE(Decode(stream, decoder.get()) == c.text);
  }
}

TEST(LzariRoundTrip, SeveralMebibytesPassTheFirstHalvingManyTimes) {
  Bytes text = Text(3 << 20, 9);
  Bytes tail = Random(1 << 20, 10);
  text.insert(text.end(), tail.begin(), tail.end());
  Bytes stream = LzariEncode(text.data(), text.size());
  auto decoder = std::make_unique<LzariDecoder>();
  EXPECT_TRUE(Decode(stream, decoder.get()) == text);
  // A total below the limit after millions of codes means the model was halved.
  EXPECT_LT(decoder->symbolCum[0], 32767u);
}

TEST(LzariRoundTrip, HalvingOnTheBoundaryCodeDecodesAlike) {
  // A 16-bit counter written high byte first from 0x2100 has no 3-byte repeat and none
  // with the ring's starting spaces or zeros: every code is a literal.
  auto decoder = std::make_unique<LzariDecoder>();
  struct Case {
    size_t codes;
    uint32_t total;  // the symbol total after the last code
  };
  // 32453 codes reach the limit; the next update halves 314 codes that sum to 32767.
  for (Case c : {Case{32453, 32767}, Case{32454, 0}, Case{32455, 0}}) {
    Bytes text;
    for (uint32_t k = 0x2100; text.size() < c.codes; ++k) {
      text.push_back(uint8_t(k >> 8));
      text.push_back(uint8_t(k));
    }
    text.resize(c.codes);
    Bytes stream = LzariEncode(text.data(), text.size());
    EXPECT_TRUE(Decode(stream, decoder.get()) == text) << c.codes;
    if (c.total != 0)
      EXPECT_EQ(decoder->symbolCum[0], c.total);
    else
      EXPECT_LT(decoder->symbolCum[0], 20000u) << c.codes;
  }
}

struct Blocks {
  Bytes bytes;
  uint32_t capacity;
  int calls = 0;
  int refuseCall = 0;  // 1-based; 0 for none
};

int KeepBlock(void* context, const uint8_t* block, uint32_t count) {
  Blocks* b = static_cast<Blocks*>(context);
  EXPECT_EQ(count, b->capacity);
  if (++b->calls == b->refuseCall) return 0;
  b->bytes.insert(b->bytes.end(), block, block + count);
  return 1;
}

// The launcher's path: straight from memory into a buffer, handed over only when full.
TEST(LzariRoundTrip, TheBufferedPathGivesTheSameBytesInFullBlocksAndStopsOnARefusal) {
  auto decoder = std::make_unique<LzariDecoder>();
  for (const Bytes& text : {Text(100000, 21), Repetitive(98304, 22), Random(5000, 23)}) {
    Bytes stream = LzariEncode(text.data(), text.size());
    for (uint32_t capacity : {1u, 61u, 32768u}) {
      SCOPED_TRACE(std::to_string(text.size()) + " bytes, buffer " + std::to_string(capacity));
      Bytes buffer(capacity);
      uint32_t fill = 0;
      Blocks whole{{}, capacity};
      EXPECT_EQ(LzariDecodeBuffered(decoder.get(), stream.data(), stream.size(), buffer.data(),
                                    capacity, KeepBlock, &whole, &fill),
                1);
      EXPECT_EQ(fill, text.size() % capacity);
      whole.bytes.insert(whole.bytes.end(), buffer.begin(), buffer.begin() + fill);
      EXPECT_TRUE(whole.bytes == text);
      if (text.size() < 2 * capacity) continue;
      Blocks refused{{}, capacity, 0, 2};
      EXPECT_EQ(LzariDecodeBuffered(decoder.get(), stream.data(), stream.size(), buffer.data(),
                                    capacity, KeepBlock, &refused, &fill),
                0);
      EXPECT_EQ(refused.calls, 2);
      EXPECT_EQ(fill, 0u);
    }
  }
}

TEST(LzariEncoder, CompressesWhatRepeats) {
  struct Case {
    const char* name;
    Bytes text;
    double mostRatio;  // compressed / original
  };
  const Case cases[] = {
      {"equal bytes", Bytes(1 << 20, 'x'), 0.025},
      {"text", Text(1 << 20, 12), 0.35},
      {"repeats", Repetitive(1 << 20, 13), 0.5},
      {"random stays near its size", Random(1 << 20, 14), 1.01},
  };
  for (const Case& c : cases) {
    Bytes stream = LzariEncode(c.text.data(), c.text.size());
    EXPECT_LE(double(stream.size()) / double(c.text.size()), c.mostRatio) << c.name;
  }
}

}  // namespace

namespace {

struct CountingSink {
  uint64_t count = 0;
  uint64_t nonzero = 0;
};

int32_t CountByte(void* context, int32_t byte) {
  CountingSink* sink = static_cast<CountingSink*>(context);
  // Well past any right end: a decoder that missed it is stopped, not waited for.
  if (sink->count >= (uint64_t(1) << 32) + 1000) return -1;
  ++sink->count;
  sink->nonzero += byte != 0;
  return byte;
}

// Zeros coded as 60-byte matches make the longest match the top-ranked code; cut before
// its flush, the stream goes on in 1-bits, which decode as that match at position 0.
// Announcing 2^32 - 1 bytes, the last match carries the count past 2^32: decoding must
// still end there (about 10 s of decoding, 4 GiB of zeros through the sink).
TEST(LzariDecoder, SizeWithinFiftyNineOf4GiBStillEnds) {
  Bytes zeros(200000, 0);
  Bytes stream = LzariEncode(zeros.data(), zeros.size());
  stream.resize(stream.size() - 3);
  for (int i = 0; i < 4; ++i) stream[i] = 0xFF;
  auto decoder = std::make_unique<LzariDecoder>();
  MemorySource source = {stream.data(), 0, static_cast<int32_t>(stream.size())};
  CountingSink sink;
  EXPECT_EQ(LzariDecodeStream(decoder.get(), ReadMemoryByte, &source, CountByte, &sink), 1);
  EXPECT_GT(sink.count, uint64_t(1) << 32);  // the case that a wrapping count would miss
  EXPECT_LE(sink.count, 0xFFFFFFFFull + 59);
  EXPECT_EQ(sink.nonzero, 0u);
}

}  // namespace
