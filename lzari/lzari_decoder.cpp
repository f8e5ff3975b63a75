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
// The position model never changes, so neither does its total: a constant divisor.
const uint32_t PositionTotal = 28568;
const uint32_t PositionIndexLast = PositionIndexSize - 2;
// Room for one whole match in the staging buffer of LzariDecodeStream.
const uint32_t StagingSize = 64;

// Where one stream's bits come from and its bytes go. The input is a memory range;
// when it runs out, a ByteSource (if any) is asked byte by byte, and past its end every
// bit reads as 1. The output is a buffer handed to `flush` when full, and after every
// code when `flushEveryCode` is set.
struct Stream {
  const uint8_t* next;
  const uint8_t* end;
  LzariDecoder* decoder;  // its sourceRead, when set, follows the memory range
  uint8_t* buffer;
  uint32_t capacity;
  uint32_t fill;
  BlockSink flush;
  void* flushContext;
  int flushEveryCode;
  uint32_t pastEnd;  // bytes asked for past the memory range, when no ByteSource follows it
};

inline int32_t NextByte(Stream* s) {
  if (s->next < s->end) return *s->next++;
  LzariDecoder* d = s->decoder;
  if (d->sourceRead != nullptr) return d->sourceRead(d->sourceContext);
  ++s->pastEnd;
  return -1;
}

// Whether a stream in memory has been read further past its end than an honest one is.
inline int ReadTooFar(const Stream* s) { return s->pastEnd > LzariReadAheadLimit; }

int ReadTextSize(Stream* s, uint32_t* textSize) {
  uint32_t size = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    int32_t b = NextByte(s);
    if (b == -1) return 0;
    size |= static_cast<uint32_t>(b & 0xFF) << shift;
  }
  *textSize = size;
  return 1;
}

// Bits not yet taken, left-aligned in `bits`; a byte is fetched only once one of its
// bits is needed, as the classic decoder fetches them.
struct BitReader {
  uint32_t bits;
  int32_t count;
};

inline uint32_t TakeBits(Stream* s, BitReader* in, int32_t n) {
  while (in->count < n) {
    // -1 has every bit set: past the end of the input, bits read as 1.
    in->bits |= static_cast<uint32_t>(NextByte(s) & 0xFF) << (24 - in->count);
    in->count += 8;
  }
  uint32_t taken = (in->bits >> 1) >> (31 - n);  // n may be 0
  in->bits <<= n;
  in->count -= n;
  return taken;
}

// The interval [low, high) over 17 bits, and the code value as its offset from low.
struct Coder {
  uint32_t low;
  uint32_t high;
  uint32_t offset;  // value - low
};

inline int32_t BitLength(uint32_t x) { return x == 0 ? 0 : 32 - __builtin_clz(x); }

// Renormalises in one go what the classic decoder does bit by bit: while the interval
// lies in the upper half, the middle half or the lower half (in that order of
// preference), it is doubled out of that half. Every step maps x to 2x minus a multiple
// of 0x10000, so after n steps low is (low << n) mod 0x10000, possibly plus 0x10000; a
// final interval starts below 0x10000, so it is the former. The interval stops once
// wider than a quarter and straddling the middle with low < 0x8000 or high > 0x18000;
// it must grow wider than 0x8000 first (n0 steps), and once wider than 0x10000 it always
// stops, so n is n0 or n0 + 1. The value's offset from low just shifts in new bits.
inline void Rescale(Stream* s, BitReader* in, Coder* c) {
  uint32_t width = c->high - c->low;  // at least 1
  int32_t n = width > FirstQuarter ? 0 : 16 - BitLength(width - 1);
  uint32_t low = (c->low << n) & (Half - 1);
  uint32_t high = low + (width << n);
  if (!(high > Half && (low < FirstQuarter || high > ThirdQuarter))) {
    ++n;
    low = (c->low << n) & (Half - 1);
    high = low + (width << n);
  }
  c->low = low;
  c->high = high;
  c->offset = (c->offset << n) | TakeBits(s, in, n);
}

// The smallest rank i, from `i` up to `j`, with cum[i] <= x; cum falls and cum[j] <= x.
inline int32_t SearchFalling(const uint32_t* cum, int32_t i, int32_t j, uint32_t x) {
  while (i < j) {
    int32_t k = (i + j) / 2;
    if (cum[k] > x)
      i = k + 1;
    else
      j = k;
  }
  return i;
}

// Inlined into the decoding loop, where it runs once per code.
inline void UpdateModel(LzariDecoder* d, int32_t s) {
  if (d->symbolCum[0] >= FrequencyLimit) {
    uint32_t t = 0;
    for (int32_t i = CodeCount; i > 0; --i) {
      d->symbolCum[i] = t;
      d->symbolFreq[i] = (d->symbolFreq[i] + 1) / 2;  // rounded up, never 0
      t += d->symbolFreq[i];
    }
    d->symbolCum[0] = t;
  }
  // The frequencies fall with the rank, so a rank 8 places back with the same frequency
  // closes a run of equal ones: the walk to the run's first rank goes 8 at a time.
  uint32_t f = d->symbolFreq[s];
  int32_t i = s;
  while (i >= 8 && d->symbolFreq[i - 8] == f) i -= 8;
  while (d->symbolFreq[i - 1] == f) --i;
  if (i < s) {
    int32_t ci = d->symbolToChar[i];
    int32_t cs = d->symbolToChar[s];
    d->symbolToChar[i] = cs;
    d->symbolToChar[s] = ci;
    d->charToSymbol[ci] = s;
    d->charToSymbol[cs] = i;
  }
  d->symbolFreq[i] += 1;
  for (int32_t k = 0; k < i; ++k) d->symbolCum[k] += 1;
}

inline int32_t DecodeSymbol(LzariDecoder* d, Stream* s, BitReader* in, Coder* c) {
  uint32_t width = c->high - c->low;
  uint32_t total = d->symbolCum[0];
  uint32_t x = ((c->offset + 1) * total - 1) / width;
  int32_t rank = FindSymbol(d, x);
  uint32_t top = d->symbolCum[rank - 1] * width / total;
  uint32_t bottom = d->symbolCum[rank] * width / total;
  c->high = c->low + top;
  c->low += bottom;
  c->offset -= bottom;
  Rescale(s, in, c);
  int32_t code = d->symbolToChar[rank];
  UpdateModel(d, rank);
  return code;
}

inline int32_t DecodePosition(LzariDecoder* d, Stream* s, BitReader* in, Coder* c) {
  uint32_t width = c->high - c->low;
  uint32_t x = ((c->offset + 1) * PositionTotal - 1) / width;
  int32_t p = FindPosition(d, x);
  uint32_t top = d->positionCum[p] * width / PositionTotal;
  uint32_t bottom = d->positionCum[p + 1] * width / PositionTotal;
  c->high = c->low + top;
  c->low += bottom;
  c->offset -= bottom;
  Rescale(s, in, c);
  return p;
}

inline int Flush(Stream* s) {
  uint32_t count = s->fill;
  s->fill = 0;  // empty whatever the sink made of it
  return s->flush(s->flushContext, s->buffer, count);
}

// One byte out; 0 when the sink refused the full buffer.
inline int PutByte(Stream* s, uint8_t b) {
  s->buffer[s->fill++] = b;
  return s->fill != s->capacity || Flush(s);
}

// Decodes the stream after its text size. LzariDecoded when done, LzariSinkRefused when
// the sink refused, LzariStreamDamaged when the stream was read too far past its end.
int DecodeText(LzariDecoder* d, Stream* s, uint32_t textSize) {
  BitReader in = {0, 0};
  Coder c = {0, FullRange, TakeBits(s, &in, CodeBits)};
  InitModels(d);
  // The ring is indexed as the record's array, not through a pointer, so that bounds
  // checking sanitizers see every access.
  for (uint32_t i = 0; i < RingStart; ++i) d->ring[i] = FillByte;

  // Counting down what is left, rather than up to the size, lets a size within 59 of
  // 2^32 end where it should: a counter could wrap past 2^32 in a final match and
  // decoding would then never stop.
  uint32_t remaining = textSize;
  uint32_t r = RingStart;
  int result = -1;
  while (result < 0) {
    int32_t code = DecodeSymbol(d, s, &in, &c);
    uint32_t start = 0;
    if (code >= FirstMatchCode) {
      start = (r - static_cast<uint32_t>(DecodePosition(d, s, &in, &c)) - 1) & RingMask;
    }
    // Nothing of a code whose bits came from too far past the end is written.
    if (ReadTooFar(s)) {
      result = LzariStreamDamaged;
      break;
    }
    if (code < FirstMatchCode) {
      d->ring[r] = static_cast<uint8_t>(code);
      r = (r + 1) & RingMask;
      if (!PutByte(s, static_cast<uint8_t>(code)))
        result = 0;
      else if (--remaining == 0)
        result = 1;
    } else {
      uint32_t length = static_cast<uint32_t>(code) - LengthBias;
      uint32_t k = 0;
      if (s->capacity - s->fill > length && start + length <= RingSize && r + length <= RingSize) {
        // Neither ring index wraps and the buffer does not fill: no checks per byte.
        // Forward, byte by byte, since the match may overlap what it writes.
        uint8_t* out = s->buffer + s->fill;
        for (; k < length; ++k) {
          uint8_t b = d->ring[start + k];
          d->ring[r + k] = b;
          out[k] = b;
        }
        s->fill += length;
        r = (r + length) & RingMask;
      }
      for (; k < length; ++k) {
        uint8_t b = d->ring[(start + k) & RingMask];
        d->ring[r] = b;
        r = (r + 1) & RingMask;
        if (!PutByte(s, b)) {
          result = 0;
          break;
        }
      }
      if (result < 0) {
        if (length >= remaining)
          result = 1;  // a final match is always copied whole
        else
          remaining -= length;
      }
    }
    if (s->flushEveryCode && s->fill != 0 && !Flush(s)) result = 0;
  }
  d->low = c.low;
  d->high = c.high;
  d->value = c.low + c.offset;
  return result;
}

template <typename T, uint32_t N>
inline void Clear(T (&array)[N]) {
  for (uint32_t i = 0; i < N; ++i) array[i] = 0;
}

// Clears the record for a new stream, field by field: a word at a time where the
// fields are words, rather than byte by byte.
void ClearRecord(LzariDecoder* d) {
  d->sourceContext = nullptr;
  d->sourceRead = nullptr;
  d->sinkContext = nullptr;
  d->sinkWrite = nullptr;
  Clear(d->ring);
  d->low = 0;
  d->high = FullRange;
  d->value = 0;
  Clear(d->charToSymbol);
  Clear(d->symbolToChar);
  Clear(d->symbolFreq);
  Clear(d->symbolCum);
  Clear(d->positionCum);
  d->inputByte = 0;
  d->inputMask = 0;
  Clear(d->positionIndex);
}

int Decode(LzariDecoder* d, Stream* s) {
  uint32_t textSize = 0;
  if (!ReadTextSize(s, &textSize)) EndProcessOnShortStream();
  if (textSize == 0) return LzariDecoded;
  return DecodeText(d, s, textSize);
}

// The staging buffer of LzariDecodeStream handed to its ByteSink a byte at a time.
int WriteStagedBytes(void* context, const uint8_t* block, uint32_t count) {
  LzariDecoder* d = static_cast<LzariDecoder*>(context);
  for (uint32_t i = 0; i < count; ++i)
    if (d->sinkWrite(d->sinkContext, block[i]) < 0) return 0;
  return 1;
}

}  // namespace

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
  // Each bucket k of 16 values of x points at the first rank whose cum is at most 16k;
  // cum rises as the rank falls, so one walk down the ranks fills the buckets in order.
  uint32_t k = 0;
  for (uint32_t i = PositionCount; i >= 1; --i) {
    d->positionCum[i - 1] = d->positionCum[i] + 10000 / (i + 200);
    for (; k <= PositionIndexLast + 1 && (k << PositionIndexShift) < d->positionCum[i - 1]; ++k)
      d->positionIndex[k] = static_cast<uint16_t>(i);
  }
  for (; k <= PositionIndexLast + 1; ++k) d->positionIndex[k] = 1;
}

int32_t FindSymbol(const LzariDecoder* d, uint32_t x) {
  // The ranks come in falling frequency: the frequent codes are found in a few steps
  // from the front.
  const uint32_t* cum = d->symbolCum;
  int32_t i = 1;
  while (i <= CodeCount - 8 && cum[i + 7] > x) i += 8;
  if (i > CodeCount - 8) return cum[i] > x ? i + 1 : i;  // ranks 313 and 314 are left
  // Now cum[i + 7] <= x: the rank is i plus the count of the 7 before it above x.
  int32_t above = 0;
  for (int32_t k = 0; k < 7; ++k) above += cum[i + k] > x ? 1 : 0;
  return i + above;
}

void UpdateSymbolModel(LzariDecoder* d, int32_t s) { UpdateModel(d, s); }

int32_t FindPosition(const LzariDecoder* d, uint32_t x) {
  uint32_t k = x >> PositionIndexShift;
  if (k > PositionIndexLast) k = PositionIndexLast;
  return SearchFalling(d->positionCum, d->positionIndex[k + 1], d->positionIndex[k], x) - 1;
}

int LzariDecodeStream(LzariDecoder* d, ByteSource sourceRead, void* sourceContext,
                      ByteSink sinkWrite, void* sinkContext) {
  ClearRecord(d);
  d->sourceRead = sourceRead;
  d->sourceContext = sourceContext;
  d->sinkWrite = sinkWrite;
  d->sinkContext = sinkContext;
  // Each code's bytes reach the sink before the next code is decoded, so the source
  // and the sink are called in the same order as by a decoder that writes byte by byte.
  uint8_t staging[StagingSize];
  Stream s = {nullptr, nullptr, d, staging, StagingSize, 0, WriteStagedBytes, d, 1, 0};
  return Decode(d, &s);
}

int LzariDecodeBuffered(LzariDecoder* d, const uint8_t* input, size_t length, uint8_t* buffer,
                        uint32_t capacity, BlockSink flush, void* flushContext, uint32_t* fill) {
  ClearRecord(d);
  *fill = 0;
  // Refused here, so the decoder never has to end the process for the launcher.
  if (length < 4) return LzariStreamDamaged;
  Stream s = {input, input + length, d, buffer, capacity, 0, flush, flushContext, 0, 0};
  int result = Decode(d, &s);
  *fill = s.fill;
  return result;
}
