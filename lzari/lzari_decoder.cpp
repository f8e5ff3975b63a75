// LZARI decoder: LZSS over a 4096-byte ring whose codes are arithmetic-coded.
#include "lzari/lzari_decoder.h"
#include "lzari/lzari_constants.h"

namespace {

const uint32_t RingMask = RingSize - 1;
const uint32_t MatchThreshold = 2;
const uint32_t RingStart = RingSize - LongestMatch;
const uint8_t FillByte = 0x20;
const int CodeBits = 17;
const uint32_t FrequencyLimit = 0x7FFF;
const uint32_t LengthBias = FirstMatchCode - MatchThreshold - 1;

}  // namespace

int ReadTextSize(LzariDecoder* d, uint32_t* textSize) {
  uint32_t size = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    int32_t b = d->sourceRead(d->sourceContext);
    if (b == -1) return 0;
    size |= static_cast<uint32_t>(b & 0xFF) << shift;
  }
  *textSize = size;
  return 1;
}

int32_t ReadBit(LzariDecoder* d) {
  d->inputMask >>= 1;
  if (d->inputMask == 0) {
    // -1 has every bit set: past the end of the input, bits read as 1.
    d->inputByte = d->sourceRead(d->sourceContext);
    d->inputMask = 128;
  }
  return (d->inputByte & d->inputMask) != 0 ? 1 : 0;
}

void PrimeValue(LzariDecoder* d) {
  for (int i = 0; i < CodeBits; ++i) d->value = 2 * d->value + static_cast<uint32_t>(ReadBit(d));
}

void InitModels(LzariDecoder* d) {
  d->symbolCum[CodeCount] = 0;
  for (int32_t s = CodeCount; s >= 1; --s) {
    d->charToSymbol[s - 1] = s;
    d->symbolToChar[s] = s - 1;
    d->symbolFreq[s] = 1;
    d->symbolCum[s - 1] = d->symbolCum[s] + 1;
  }
  d->symbolFreq[0] = 0;  // sentinel: no real frequency equals it
  d->positionCum[PositionCount] = 0;
  for (uint32_t i = PositionCount; i >= 1; --i)
    d->positionCum[i - 1] = d->positionCum[i] + 10000 / (i + 200);
}

void Rescale(LzariDecoder* d) {
  uint32_t low = d->low, high = d->high, value = d->value;
  for (;;) {
    if (low >= Half) {
      value -= Half;
      low -= Half;
      high -= Half;
    } else if (low >= FirstQuarter && high <= ThirdQuarter) {
      value -= FirstQuarter;
      low -= FirstQuarter;
      high -= FirstQuarter;
    } else if (high > Half) {
      break;
    }
    low <<= 1;
    high <<= 1;
    value = 2 * value + static_cast<uint32_t>(ReadBit(d));
  }
  d->low = low;
  d->high = high;
  d->value = value;
}

int32_t FindSymbol(const LzariDecoder* d, uint32_t x) {
  int32_t i = 1, j = CodeCount;
  while (i < j) {
    int32_t k = (i + j) / 2;
    if (d->symbolCum[k] > x)
      i = k + 1;
    else
      j = k;
  }
  return i;
}

void UpdateSymbolModel(LzariDecoder* d, int32_t s) {
  if (d->symbolCum[0] >= FrequencyLimit) {
    uint32_t t = 0;
    for (int32_t i = CodeCount; i > 0; --i) {
      d->symbolCum[i] = t;
      d->symbolFreq[i] = (d->symbolFreq[i] + 1) / 2;  // rounded up, never 0
      t += d->symbolFreq[i];
    }
    d->symbolCum[0] = t;
  }
  int32_t i = s;
  while (d->symbolFreq[i] == d->symbolFreq[i - 1]) --i;
  if (i < s) {
    int32_t ci = d->symbolToChar[i];
    int32_t cs = d->symbolToChar[s];
    d->symbolToChar[i] = cs;
    d->symbolToChar[s] = ci;
    d->charToSymbol[ci] = s;
    d->charToSymbol[cs] = i;
  }
  d->symbolFreq[i] += 1;
  while (--i >= 0) d->symbolCum[i] += 1;
}

int32_t DecodeSymbol(LzariDecoder* d) {
  uint32_t width = d->high - d->low;
  uint32_t total = d->symbolCum[0];
  uint32_t x = ((d->value - d->low + 1) * total - 1) / width;
  int32_t s = FindSymbol(d, x);
  uint32_t low = d->low;
  d->high = low + d->symbolCum[s - 1] * width / total;
  d->low = low + d->symbolCum[s] * width / total;
  Rescale(d);
  int32_t c = d->symbolToChar[s];
  UpdateSymbolModel(d, s);
  return c;
}

int32_t FindPosition(const LzariDecoder* d, uint32_t x) {
  int32_t i = 1, j = PositionCount;
  while (i < j) {
    int32_t k = (i + j) / 2;
    if (d->positionCum[k] > x)
      i = k + 1;
    else
      j = k;
  }
  return i - 1;
}

int32_t DecodePosition(LzariDecoder* d) {
  uint32_t width = d->high - d->low;
  uint32_t total = d->positionCum[0];
  uint32_t x = ((d->value - d->low + 1) * total - 1) / width;
  int32_t p = FindPosition(d, x);
  uint32_t low = d->low;
  d->high = low + d->positionCum[p] * width / total;
  d->low = low + d->positionCum[p + 1] * width / total;
  Rescale(d);
  return p;
}

int LzariDecodeStream(LzariDecoder* d, ByteSource sourceRead, void* sourceContext,
                      ByteSink sinkWrite, void* sinkContext) {
  uint8_t* bytes = reinterpret_cast<uint8_t*>(d);
  for (uint32_t i = 0; i < sizeof(LzariDecoder); ++i) bytes[i] = 0;
  d->sourceRead = sourceRead;
  d->sourceContext = sourceContext;
  d->sinkWrite = sinkWrite;
  d->sinkContext = sinkContext;
  d->high = FullRange;

  uint32_t textSize = 0;
  if (!ReadTextSize(d, &textSize)) EndProcessOnShortStream();
  if (textSize == 0) return 1;
  PrimeValue(d);
  InitModels(d);
  // The ring is indexed as the record's array, not through a pointer, so that bounds
  // checking sanitizers see every access.
  for (uint32_t i = 0; i < RingStart; ++i) d->ring[i] = FillByte;

  // Counting down what is left, rather than up to the size, lets a size within 59 of
  // 2^32 end where it should: a counter could wrap past 2^32 in a final match and
  // decoding would then never stop.
  uint32_t remaining = textSize;
  uint32_t r = RingStart;
  for (;;) {
    int32_t c = DecodeSymbol(d);
    if (c < FirstMatchCode) {
      if (sinkWrite(sinkContext, c) < 0) return 0;
      d->ring[r] = static_cast<uint8_t>(c);
      r = (r + 1) & RingMask;
      if (--remaining == 0) return 1;
      continue;
    }
    uint32_t start = (r - static_cast<uint32_t>(DecodePosition(d)) - 1) & RingMask;
    uint32_t length = static_cast<uint32_t>(c) - LengthBias;
    for (uint32_t k = 0; k < length; ++k) {
      uint8_t b = d->ring[(start + k) & RingMask];
      if (sinkWrite(sinkContext, b) < 0) return 0;
      d->ring[r] = b;
      r = (r + 1) & RingMask;
    }
    if (length >= remaining) return 1;  // a final match is always copied whole
    remaining -= length;
  }
}
