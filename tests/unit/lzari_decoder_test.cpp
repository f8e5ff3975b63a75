// The LZARI decoder against the format's known streams, its models, and hostile input.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "lzari/lzari_decoder.h"
#include "lzari/lzari_memory_source.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Collected {
  std::string text;
  int32_t refuseAt = -1;  // index of the first byte the sink refuses, or -1
  int32_t calls = 0;
};

int32_t CollectByte(void* context, int32_t byte) {
  Collected* c = static_cast<Collected*>(context);
  ++c->calls;
  if (c->refuseAt >= 0 && c->calls > c->refuseAt) return -1;
  c->text.push_back(static_cast<char>(byte));
  return byte;
}

struct CountingSource {
  MemorySource memory;
  int32_t reads = 0;
};

int32_t CountingRead(void* context) {
  CountingSource* s = static_cast<CountingSource*>(context);
  ++s->reads;
  return ReadMemoryByte(&s->memory);
}

struct Decoded {
  int result;
  std::string text;
  int32_t reads;
};

Decoded Decode(const Bytes& stream, LzariDecoder* decoder = nullptr) {
  std::unique_ptr<LzariDecoder> own(decoder ? nullptr : new LzariDecoder);
  if (!decoder) decoder = own.get();
  CountingSource source;
  source.memory = {stream.data(), 0, static_cast<int32_t>(stream.size())};
  Collected sink;
  int result = LzariDecodeStream(decoder, CountingRead, &source, CollectByte, &sink);
  return {result, sink.text, source.reads};
}

TEST(LzariDecoder, KnownStreamsDecodeToTheirTexts) {
  struct Case {
    const char* name;
    Bytes stream;
    std::string text;
  };
  const Case cases[] = {
      {"three literals", {0x03, 0, 0, 0, 0xB0, 0xA8, 0xC2, 0x00}, "abc"},
      {"self-overlapping match", {0x0A, 0, 0, 0, 0xB0, 0x3C, 0x6A, 0xC0}, "aaaaaaaaaa"},
      {"match into the fill", {0x0A, 0, 0, 0, 0x29, 0x93, 0xC0}, "          "},
      {"literals then a match", {0x09, 0, 0, 0, 0xB0, 0xA8, 0xC1, 0xE1, 0x5A, 0x70}, "abcabcabc"},
      // With no coded bits every bit reads as 1: the top-ranked code, literal 0.
      {"size is little-endian 5", {0x05, 0, 0, 0}, std::string(5, '\0')},
      {"size is little-endian 256", {0x00, 0x01, 0, 0}, std::string(256, '\0')},
      {"0xFF is a byte, not the end", {0xFF, 0, 0, 0}, std::string(255, '\0')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Decoded d = Decode(c.stream);
    EXPECT_EQ(d.result, 1);
    EXPECT_EQ(d.text, c.text);
  }
}

TEST(LzariDecoder, EmptyTextReadsExactlyTheSizeAndWritesNothing) {
  Decoded d = Decode({0, 0, 0, 0, 0x12, 0x34});
  EXPECT_EQ(d.result, 1);
  EXPECT_EQ(d.reads, 4);
  EXPECT_TRUE(d.text.empty());
}

TEST(LzariDecoderDeathTest, StreamShorterThanItsSizeEndsTheProcessWithStatusOne) {
  for (size_t length = 0; length < 4; ++length) {
    SCOPED_TRACE(length);
    Bytes stream(length, 0x01);
    EXPECT_EXIT(Decode(stream), ::testing::ExitedWithCode(1), "");
  }
}

TEST(LzariDecoder, OneRecordServesStreamAfterStreamWhateverItHeld) {
  LzariDecoder decoder;
  std::memset(&decoder, 0xA5, sizeof decoder);
  EXPECT_EQ(Decode({0x09, 0, 0, 0, 0xB0, 0xA8, 0xC1, 0xE1, 0x5A, 0x70}, &decoder).text,
            "abcabcabc");
  EXPECT_EQ(Decode({0x0A, 0, 0, 0, 0x29, 0x93, 0xC0}, &decoder).text, "          ");
  EXPECT_EQ(Decode({0x03, 0, 0, 0, 0xB0, 0xA8, 0xC2, 0x00}, &decoder).text, "abc");
}

TEST(LzariDecoder, StopsAtOnceWhenTheSinkRefusesAByte) {
  // Ten spaces come from one match: refusing inside it must end the copy there.
  const Bytes stream = {0x0A, 0, 0, 0, 0x29, 0x93, 0xC0};
  for (int32_t refuseAt : {0, 3, 9}) {
    SCOPED_TRACE(refuseAt);
    auto decoder = std::make_unique<LzariDecoder>();
    MemorySource source = {stream.data(), 0, static_cast<int32_t>(stream.size())};
    Collected sink;
    sink.refuseAt = refuseAt;
    EXPECT_EQ(LzariDecodeStream(decoder.get(), ReadMemoryByte, &source, CollectByte, &sink), 0);
    EXPECT_EQ(sink.calls, refuseAt + 1);
    EXPECT_EQ(sink.text, std::string(refuseAt, ' '));
  }
}

TEST(LzariDecoder, ArbitraryBitsAlwaysEndWithinFiftyNineBytesOfTheSize) {
  std::mt19937 random(7);
  auto decoder = std::make_unique<LzariDecoder>();
  for (int round = 0; round < 200; ++round) {
    uint32_t size = random() % 5000;
    Bytes stream = {uint8_t(size), uint8_t(size >> 8), uint8_t(size >> 16), uint8_t(size >> 24)};
    stream.resize(4 + random() % 600);
    for (size_t i = 4; i < stream.size(); ++i) stream[i] = uint8_t(random());
    Decoded d = Decode(stream, decoder.get());
    SCOPED_TRACE(round);
    ASSERT_EQ(d.result, 1);
    EXPECT_GE(d.text.size(), size);
    EXPECT_LE(d.text.size(), size + 59);
  }
}

TEST(LzariModels, StartAsFixedAndSearchesFindTheRangeHoldingX) {
  auto d = std::make_unique<LzariDecoder>();
  InitModels(d.get());
  EXPECT_EQ(d->symbolCum[0], 314u);
  EXPECT_EQ(d->symbolFreq[0], 0u);
  for (int code : {0, 255, 313}) EXPECT_EQ(d->symbolToChar[d->charToSymbol[code]], code);
  const uint32_t positionCum[][2] = {{0, 28568}, {1, 28519}, {4095, 2}, {4096, 0}};
  for (auto [i, cum] : positionCum) EXPECT_EQ(d->positionCum[i], cum) << i;
  struct Case {
    uint32_t x;
    int32_t rank;
  };
  // At the start symbolCum[s] = 314 - s: x falls in rank 314 - x.
  for (Case c : {Case{0, 314}, Case{1, 313}, Case{312, 2}, Case{313, 1}, Case{5000, 1}})
    EXPECT_EQ(FindSymbol(d.get(), c.x), c.rank) << c.x;
  struct PositionCase {
    uint32_t x;
    int32_t position;
  };
  for (PositionCase c : {PositionCase{0, 4095}, PositionCase{1, 4095}, PositionCase{2, 4094},
                         PositionCase{28518, 1}, PositionCase{28519, 0}, PositionCase{28567, 0},
                         PositionCase{99999, 0}})
    EXPECT_EQ(FindPosition(d.get(), c.x), c.position) << c.x;
}

TEST(LzariModels, TheUpdateOfThe32454thCodeHalvesFirst) {
  auto d = std::make_unique<LzariDecoder>();
  InitModels(d.get());
  for (int i = 0; i < 32453; ++i) UpdateSymbolModel(d.get(), d->charToSymbol['a']);
  ASSERT_EQ(d->symbolCum[0], 32767u);
  ASSERT_EQ(d->symbolFreq[1], 32454u);
  UpdateSymbolModel(d.get(), d->charToSymbol['b']);
  // 'a': (32454 + 1) / 2; every other code (1 + 1) / 2; then 'b' counted.
  EXPECT_EQ(d->symbolFreq[d->charToSymbol['a']], 16227u);
  EXPECT_EQ(d->symbolFreq[d->charToSymbol['b']], 2u);
  EXPECT_EQ(d->charToSymbol['b'], 2);
  EXPECT_EQ(d->symbolCum[0], 16227u + 2u + 312u);
}

// The model against a plain per-code count: whatever the order of updates, each code's
// frequency, the order of ranks and the cumulative sums must agree with it.
TEST(LzariModels, MatchPlainCountsThroughManyHalvings) {
  auto d = std::make_unique<LzariDecoder>();
  InitModels(d.get());
  std::vector<uint32_t> counts(314, 1);
  std::mt19937 random(11);
  std::geometric_distribution<int> skewed(0.05);
  for (int step = 0; step < 200000; ++step) {
    int code = skewed(random) % 314;
    uint32_t total = 0;
    for (uint32_t n : counts) total += n;
    if (total >= 32767)
      for (uint32_t& n : counts) n = (n + 1) / 2;
    ++counts[code];
    UpdateSymbolModel(d.get(), d->charToSymbol[code]);
  }
  for (int code = 0; code < 314; ++code) {
    int32_t rank = d->charToSymbol[code];
    ASSERT_EQ(d->symbolToChar[rank], code);
    ASSERT_EQ(d->symbolFreq[rank], counts[code]) << code;
  }
  for (int s = 1; s <= 314; ++s) {
    ASSERT_LE(d->symbolFreq[s], d->symbolFreq[s - 1] == 0 ? ~0u : d->symbolFreq[s - 1]);
    ASSERT_EQ(d->symbolCum[s - 1], d->symbolCum[s] + d->symbolFreq[s]);
  }
  EXPECT_EQ(d->symbolCum[314], 0u);
}

TEST(MemorySource, HandsOutBytesUnsignedThenEndForGood) {
  const uint8_t data[] = {0x00, 0xFF, 0x80};
  MemorySource source = {data, 0, 3};
  EXPECT_EQ(ReadMemoryByte(&source), 0x00);
  EXPECT_EQ(ReadMemoryByte(&source), 0xFF);
  EXPECT_EQ(ReadMemoryByte(&source), 0x80);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ReadMemoryByte(&source), -1);
  EXPECT_EQ(source.position, 3);
  EXPECT_EQ(ReadMemoryByte(nullptr), -1);
  MemorySource negative = {data, 0, -5};
  EXPECT_EQ(ReadMemoryByte(&negative), -1);
  EXPECT_EQ(negative.position, 0);
}

}  // namespace
