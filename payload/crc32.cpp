// CRC-32 in lanes: five running CRCs over interleaved words, so that the table lookups
// of one word need not wait for those of the word before it.
#include "payload/crc32.h"

namespace {

const uint32_t Polynomial = 0xEDB88320;
const uint32_t Lanes = 5;
const uint32_t WordSize = 4;
const uint32_t LaneStride = Lanes * WordSize;  // bytes between two words of one lane

// Each table gives, for one byte of a 32-bit register, the register after some zero
// bytes have been fed in; the register is linear in its bytes, so the four lookups of
// its bytes, combined, advance the whole register.
struct Crc32Tables {
  uint32_t byte[256];            // one zero byte
  uint32_t word[WordSize][256];  // one word's worth of zero bytes
  uint32_t lane[WordSize][256];  // one lane stride of zero bytes
  int ready;
};

Crc32Tables tables;

uint32_t FeedZeroByte(uint32_t crc) { return tables.byte[crc & 0xFF] ^ (crc >> 8); }

inline uint32_t Advance(const uint32_t (*table)[256], uint32_t value) {
  return table[0][value & 0xFF] ^ table[1][(value >> 8) & 0xFF] ^ table[2][(value >> 16) & 0xFF] ^
         table[3][value >> 24];
}

// Little-endian, from any alignment; the compiler makes it one load.
inline uint32_t LoadWord(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
         static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

}  // namespace

void PrepareCrc32() {
  if (tables.ready) return;
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t crc = n;
    for (int bit = 0; bit < 8; ++bit) crc = crc & 1 ? Polynomial ^ (crc >> 1) : crc >> 1;
    tables.byte[n] = crc;
  }
  for (uint32_t k = 0; k < WordSize; ++k) {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t crc = n << (8 * k);
      for (uint32_t i = 0; i < LaneStride; ++i) {
        crc = FeedZeroByte(crc);
        if (i + 1 == WordSize) tables.word[k][n] = crc;
      }
      tables.lane[k][n] = crc;
    }
  }
  tables.ready = 1;
}

uint32_t UpdateCrc32(uint32_t crc, const uint8_t* bytes, uint32_t count) {
  crc = ~crc;
  uint32_t strides = count / LaneStride;
  if (strides > 1) {
    // Lane j takes words j, j + 5, j + 10, ...; between two of them it is carried over
    // the other lanes' words as zeros. The last stride, fed word by word into one
    // register with each lane's own, brings the five together.
    uint32_t lane[Lanes] = {crc, 0, 0, 0, 0};
    for (uint32_t s = 1; s < strides; ++s, bytes += LaneStride) {
      for (uint32_t j = 0; j < Lanes; ++j) {
        lane[j] = Advance(tables.lane, lane[j] ^ LoadWord(bytes + WordSize * j));
      }
    }
    crc = 0;
    for (uint32_t j = 0; j < Lanes; ++j) {
      crc = Advance(tables.word, crc ^ lane[j] ^ LoadWord(bytes + WordSize * j));
    }
    bytes += LaneStride;
    count -= strides * LaneStride;
  }
  while (count-- > 0) crc = FeedZeroByte(crc ^ *bytes++);
  return ~crc;
}
