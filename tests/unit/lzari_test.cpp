// The LZARI decoder: known streams, round trips through the packer's encoder on both
// paths, a refusing sink, a size near 4 GiB, and the adaptive model against plain counts.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <numeric>
#include <random>

#include "lzari/lzari_decoder.h"
#include "lzari/lzari_encoder.h"
#include "lzari/lzari_memory_source.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Keeps at most `limit` bytes and refuses the next: a size read wrongly fails at once
// instead of filling memory. As a block sink it also refuses its `refuseCall`th call.
struct Sink {
  size_t limit = 64 << 20;
  int32_t refuseCall = 0, calls = 0;
  Bytes bytes = {};
};

int32_t Keep(void* context, int32_t byte) {
  Sink* s = static_cast<Sink*>(context);
  ++s->calls;
  if (s->bytes.size() >= s->limit) return -1;
  s->bytes.push_back(uint8_t(byte));
  return byte;
}

int Decode(LzariDecoder* decoder, const Bytes& stream, Sink* sink) {
  MemorySource source = {stream.data(), 0, int32_t(stream.size())};
  return LzariDecodeStream(decoder, ReadMemoryByte, &source, Keep, sink);
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
  for (size_t i = 1; i < n; ++i)
    if (i % 300 > 20) b[i] = b[i - 1 - (i / 300 * 2654435761u) % std::min<size_t>(i, 5000)];
  return b;
}

// With no coded bits every bit reads as 1: the top-ranked code, literal 0. A sink that
// refuses a byte (here inside a match) stops the decoding at once.
TEST(LzariDecoder, KnownStreamsDecodeToTheirTextsWithOneRecordWhateverItHeld) {
  struct Case {
    const char* name;
    Bytes stream;
    std::string text;
    size_t refuseAt = std::string::npos;
  };
  const Bytes spaces = {0x0A, 0, 0, 0, 0x29, 0x93, 0xC0};
  auto decoder = std::make_unique<LzariDecoder>();
  memset(decoder.get(), 0xA5, sizeof *decoder);
  for (const Case& c :
       {Case{"three literals", {0x03, 0, 0, 0, 0xB0, 0xA8, 0xC2, 0x00}, "abc"},
        {"self-overlapping match", {0x0A, 0, 0, 0, 0xB0, 0x3C, 0x6A, 0xC0}, "aaaaaaaaaa"},
        {"match into the fill", spaces, "          "},
        {"literals then a match", {0x09, 0, 0, 0, 0xB0, 0xA8, 0xC1, 0xE1, 0x5A, 0x70}, "abcabcabc"},
        {"size is little-endian 5", {0x05, 0, 0, 0}, std::string(5, '\0')},
        {"size is little-endian 256", {0x00, 0x01, 0, 0}, std::string(256, '\0')},
        {"0xFF is a byte, not the end", {0xFF, 0, 0, 0}, std::string(255, '\0')},
        {"empty text", {0, 0, 0, 0, 0x12, 0x34}, ""},
        {"first byte refused", spaces, "", 0},
        {"fourth byte refused", spaces, "   ", 3},
        {"last byte refused", spaces, "         ", 9}}) {
    Sink sink{std::min(c.refuseAt, c.text.size() + 64)};
    EXPECT_EQ(Decode(decoder.get(), c.stream, &sink), c.refuseAt == std::string::npos) << c.name;
    EXPECT_EQ(std::string(sink.bytes.begin(), sink.bytes.end()), c.text) << c.name;
    EXPECT_EQ(sink.calls, int32_t(c.refuseAt == std::string::npos ? c.text.size() : c.refuseAt + 1))
        << c.name;
  }
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

int KeepBlock(void* context, const uint8_t* block, uint32_t count) {
  Sink* s = static_cast<Sink*>(context);
  if (++s->calls == s->refuseCall || s->bytes.size() + count > s->limit) return 0;
  s->bytes.insert(s->bytes.end(), block, block + count);
  return 1;
}

TEST(LzariRoundTrip, EveryKindOfTextComesBackExactlyOnBothPaths) {
  std::vector<std::pair<const char*, Bytes>> cases = {{"empty", {}},
                                                      {"one byte", {0x42}},
                                                      {"one zero", {0}},
                                                      {"two bytes", {0xFF, 0}},
                                                      {"spaces, the fill", Bytes(1000, ' ')},
                                                      {"zeros", Bytes(1000, 0)},
                                                      {"all 0xFF", Bytes(70000, 0xFF)},
                                                      {"random", Random(300000, 1)},
                                                      {"skewed alphabet", Random(500000, 2, 5)},
                                                      {"long repeats", Repetitive(400000, 3)},
                                                      {"ring size", Repetitive(4096, 4)},
                                                      {"ring size plus one", Random(4097, 5)},
                                                      {"every byte value", Bytes(256)}};
  std::iota(cases.back().second.begin(), cases.back().second.end(), 0);
  for (size_t n : {32767, 32768, 32769, 98304, 98305})
    cases.push_back({"near 32768 * k", Repetitive(n, n)});
  auto decoder = std::make_unique<LzariDecoder>();
  for (const auto& [name, text] : cases) {
    SCOPED_TRACE(std::string(name) + ", " + std::to_string(text.size()) + " bytes");
    const Bytes stream = LzariEncode(text.data(), text.size());
    Sink bytewise{text.size() + 64};
    EXPECT_EQ(Decode(decoder.get(), stream, &bytewise), 1);
    EXPECT_TRUE(bytewise.bytes == text);
    // The launcher's path: straight into a buffer, handed over only when it is full; an
    // honest stream is never read so far past its end that it is refused.
    for (uint32_t capacity : {1u, 61u, 32768u}) {
      if (text.size() > 100000 && capacity < 61) continue;
      Bytes buffer(capacity);
      uint32_t fill = 0;
      Sink blocks{text.size()};
      EXPECT_EQ(LzariDecodeBuffered(decoder.get(), stream.data(), stream.size(), buffer.data(),
                                    capacity, KeepBlock, &blocks, &fill),
                1)
          << capacity;
      EXPECT_EQ(blocks.bytes.size(), text.size() / capacity * capacity) << capacity;
      blocks.bytes.insert(blocks.bytes.end(), buffer.begin(), buffer.begin() + fill);
      EXPECT_TRUE(blocks.bytes == text) << capacity;
      if (text.size() < 2 * capacity) continue;
      Sink refusing{64 << 20, 2};
      EXPECT_EQ(LzariDecodeBuffered(decoder.get(), stream.data(), stream.size(), buffer.data(),
                                    capacity, KeepBlock, &refusing, &fill),
                0)
          << capacity;
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
  auto cut = [&](size_t keep) { return Bytes(whole.begin(), whole.begin() + keep); };
  Bytes fourGiB = cut(whole.size() / 2);
  memset(fourGiB.data(), 0xFF, 4);
  struct Case {
    const char* what;
    Bytes stream;
  };
  const Case cases[] = {
      {"empty", {}},
      {"three bytes", cut(3)},
      {"only the length", cut(4)},
      {"cut in the middle", cut(whole.size() / 2)},
      {"cut 5 bytes short", cut(whole.size() - 5)},
      {"4 GiB announced", fourGiB},
  };
  auto decoder = std::make_unique<LzariDecoder>();
  for (const Case& c : cases) {
    Bytes buffer(4096);
    uint32_t fill = 7;
    Sink blocks{1 << 20};
    EXPECT_EQ(LzariDecodeBuffered(decoder.get(), c.stream.data(), c.stream.size(), buffer.data(),
                                  uint32_t(buffer.size()), KeepBlock, &blocks, &fill),
              LzariStreamDamaged)
        << c.what;
    blocks.bytes.insert(blocks.bytes.end(), buffer.begin(), buffer.begin() + fill);
    ASSERT_LE(blocks.bytes.size(), text.size()) << c.what;
    const size_t sound = blocks.bytes.size() - std::min<size_t>(blocks.bytes.size(), 4096);
    EXPECT_TRUE(std::equal(blocks.bytes.begin(), blocks.bytes.begin() + sound, text.begin()))
        << c.what;
  }
}

// The adaptive model against plain per-code counts, halved (rounding up) whenever the
// total reaches 32767 before a code is counted.
TEST(LzariModel, MatchesPlainCountsThroughManyHalvings) {
  auto d = std::make_unique<LzariDecoder>();
  InitModels(d.get());
  std::vector<uint32_t> counts(314, 1);
  std::mt19937 random(11);
  std::geometric_distribution<int> skewed(0.05);
  // 'a' 32453 times brings the total to 32767; the 32454th update halves first.
  std::vector<int> codes(32453, 'a');
  codes.push_back('b');
  for (int step = 0; step < 200000; ++step) codes.push_back(skewed(random) % 314);
  for (size_t step = 0; step < codes.size(); ++step) {
    if (std::accumulate(counts.begin(), counts.end(), 0u) >= 32767)
      for (uint32_t& n : counts) n = (n + 1) / 2;
    ++counts[codes[step]];
    UpdateSymbolModel(d.get(), d->charToSymbol[codes[step]]);
    if (step == 32453) {
      ASSERT_EQ(d->symbolCum[0], 16227u + 2u + 312u) << "halved late or early";
    }
  }
  for (int code = 0; code < 314; ++code) {
    const int32_t s = d->charToSymbol[code];
    ASSERT_EQ(d->symbolToChar[s], code);
    ASSERT_EQ(d->symbolFreq[s], counts[code]) << code;
    ASSERT_LE(d->symbolFreq[code + 1], code > 0 ? d->symbolFreq[code] : ~0u)
        << "ranks out of order";
    ASSERT_EQ(d->symbolCum[code], d->symbolCum[code + 1] + d->symbolFreq[code + 1]);
  }
}

}  // namespace
