// The splash bitmap's headers, checked against the size of its file.
#include "splash/splash_bitmap.h"

namespace {

const uint32_t FileHeaderSize = 14;
const uint32_t CoreHeaderSize = 12;  // the oldest info header: 16-bit sizes, 3-byte colours
const uint32_t MaskBytes = 12;       // three bit-field masks after a 40-byte header

const uint32_t Uncompressed = 0;
const uint32_t RunLength8 = 1;
const uint32_t RunLength4 = 2;
const uint32_t BitFields = 3;

uint32_t Word(const uint8_t* at) { return static_cast<uint32_t>(at[0] | (at[1] << 8)); }
uint32_t Dword(const uint8_t* at) { return Word(at) | (Word(at + 2) << 16); }

struct BitmapShape {
  int32_t width;
  int32_t height;  // negative: rows from the top
  uint32_t planes;
  uint32_t bitCount;
  uint32_t compression;
  uint32_t imageSize;    // the pixel data's size, which run-length data must give
  uint32_t coloursUsed;  // 0: as many as the depth has
  uint32_t colourSize;   // bytes per colour table entry
};

int ReadShape(const uint8_t* info, uint32_t infoSize, BitmapShape* shape) {
  if (infoSize == CoreHeaderSize) {
    shape->width = static_cast<int32_t>(Word(info + 4));
    shape->height = static_cast<int32_t>(Word(info + 6));
    shape->planes = Word(info + 8);
    shape->bitCount = Word(info + 10);
    shape->compression = Uncompressed;
    shape->imageSize = 0;
    shape->coloursUsed = 0;
    shape->colourSize = 3;
    return 1;
  }
  // The info header and its longer forms, which only add fields at its end.
  if (infoSize != 40 && infoSize != 52 && infoSize != 56 && infoSize != 108 && infoSize != 124) {
    return 0;
  }
  shape->width = static_cast<int32_t>(Dword(info + 4));
  shape->height = static_cast<int32_t>(Dword(info + 8));
  shape->planes = Word(info + 12);
  shape->bitCount = Word(info + 14);
  shape->compression = Dword(info + 16);
  shape->imageSize = Dword(info + 20);
  shape->coloursUsed = Dword(info + 32);
  shape->colourSize = 4;
  return 1;
}

int IsKnownDepth(uint32_t bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

int IsKnownCompression(const BitmapShape* s) {
  switch (s->compression) {
    case Uncompressed:
      return 1;
    // Run-length data is written from the bottom row up: a top-down one is not valid.
    case RunLength8:
      return s->bitCount == 8 && s->height > 0 && s->imageSize > 0;
    case RunLength4:
      return s->bitCount == 4 && s->height > 0 && s->imageSize > 0;
    case BitFields:
      return s->bitCount == 16 || s->bitCount == 32;
    default:
      return 0;
  }
}

}  // namespace

int BitmapFitsItsFile(const uint8_t* start, uint32_t length, uint32_t fileSize) {
  if (length > fileSize || length < FileHeaderSize + 4) return 0;
  if (start[0] != 'B' || start[1] != 'M') return 0;
  uint32_t pixelOffset = Dword(start + 10);
  uint32_t infoSize = Dword(start + FileHeaderSize);
  BitmapShape s;
  if (infoSize > length - FileHeaderSize || !ReadShape(start + FileHeaderSize, infoSize, &s)) {
    return 0;
  }
  if (s.width < 1 || s.width > LargestSplashSide || s.height == 0 ||
      s.height < -LargestSplashSide || s.height > LargestSplashSide) {
    return 0;
  }
  if (s.planes != 1 || !IsKnownDepth(s.bitCount) || !IsKnownCompression(&s)) return 0;
  // The colour table follows the info header (and the masks of a 40-byte one): as many
  // entries as the depth has, or as the header says when it says fewer. Deeper pixels
  // need none, but may carry up to 256.
  uint32_t colourLimit = s.bitCount <= 8 ? 1u << s.bitCount : 256;
  if (s.coloursUsed > colourLimit) return 0;
  uint32_t colours = s.coloursUsed != 0 || s.bitCount > 8 ? s.coloursUsed : colourLimit;
  uint32_t masks = s.compression == BitFields && infoSize == 40 ? MaskBytes : 0;
  uint32_t tableEnd = FileHeaderSize + infoSize + masks + colours * s.colourSize;
  // The sides are bounded, so neither the row nor the whole overflows 32 bits.
  uint32_t height = static_cast<uint32_t>(s.height < 0 ? -s.height : s.height);
  uint32_t rowBytes = ((static_cast<uint32_t>(s.width) * s.bitCount + 31) / 32) * 4;
  uint32_t pixelBytes =
      s.compression == RunLength8 || s.compression == RunLength4 ? s.imageSize : rowBytes * height;
  return tableEnd <= pixelOffset && pixelOffset <= fileSize && pixelBytes <= fileSize - pixelOffset;
}
