// The splash's pure decisions: whether a payload forbids it, its bitmap's headers against its
// file's size (what the system's loader may be given), its place and its palette.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "splash/splash_bitmap.h"
#include "splash/splash_geometry.h"
#include "splash/splash_palette.h"
#include "splash/splash_source.h"
#include "tests/unit/payload_fake_platform.h"

namespace {

using payload_fake::Bytes;
using payload_fake::PutLE;

// A bitmap file as a typed record: what its headers say, and how much follows them.
struct Bitmap {
  uint32_t infoSize = 40;
  int32_t width = 64;
  int32_t height = 48;
  uint32_t planes = 1;
  uint32_t bitCount = 8;
  uint32_t compression = 0;
  uint32_t imageSize = 0;
  uint32_t coloursUsed = 0;
  uint32_t pixelOffset = 0;  // 0: right after the colour table
  int64_t pixelBytes = -1;   // -1: what the shape needs
};

uint32_t TableBytes(const Bitmap& b) {
  uint32_t colours = b.coloursUsed != 0 || b.bitCount > 8 ? b.coloursUsed : 1u << b.bitCount;
  uint32_t masks = b.compression == 3 && b.infoSize == 40 ? 12 : 0;
  return masks + colours * (b.infoSize == 12 ? 3 : 4);
}

std::string Make(const Bitmap& b) {
  std::string s = "BM" + std::string(12 + b.infoSize + TableBytes(b), '\0');
  uint32_t offset = b.pixelOffset != 0 ? b.pixelOffset : uint32_t(s.size());
  PutLE(s, 10, offset, 4);
  PutLE(s, 14, b.infoSize, 4);
  if (b.infoSize == 12) {
    PutLE(s, 18, uint32_t(b.width), 2);
    PutLE(s, 20, uint32_t(b.height), 2);
    PutLE(s, 22, b.planes, 2);
    PutLE(s, 24, b.bitCount, 2);
  } else {
    PutLE(s, 18, uint32_t(b.width), 4);
    PutLE(s, 22, uint32_t(b.height), 4);
    PutLE(s, 26, b.planes, 2);
    PutLE(s, 28, b.bitCount, 2);
    PutLE(s, 30, b.compression, 4);
    PutLE(s, 34, b.imageSize, 4);
    PutLE(s, 46, b.coloursUsed, 4);
  }
  int64_t rows = b.height < 0 ? -int64_t(b.height) : b.height;
  int64_t need = (int64_t(b.width) * b.bitCount + 31) / 32 * 4 * rows;
  int64_t pixels = b.pixelBytes >= 0                          ? b.pixelBytes
                   : b.compression == 1 || b.compression == 2 ? b.imageSize
                                                              : need;
  return s + std::string(size_t(std::max<int64_t>(0, pixels)), 'p');
}

TEST(SplashBitmap, OnlyHeadersThatFitTheFileReachTheLoader) {
  struct Case {
    const char* what;
    Bitmap bitmap;
    bool fits;
  };
  const Case cases[] = {
      {"8 bits with its palette", {}, true},
      {"24 bits, top-down", {.height = -48, .bitCount = 24}, true},
      {"1 bit, odd width", {.width = 33, .bitCount = 1}, true},
      {"4 bits, 3 colours", {.bitCount = 4, .coloursUsed = 3}, true},
      {"16-bit fields", {.bitCount = 16, .compression = 3}, true},
      {"32 bits, version 5 header", {.infoSize = 124, .bitCount = 32}, true},
      {"core header", {.infoSize = 12}, true},
      {"run-length 8", {.compression = 1, .imageSize = 700}, true},
      {"1 bit, odd width, one byte short", {.width = 33, .bitCount = 1, .pixelBytes = 383}, false},
      {"pixel offset past the end", {.pixelOffset = 1 << 20}, false},
      {"pixel offset inside the palette", {.pixelOffset = 100}, false},
      {"wider than a splash may be", {.width = LargestSplashSide + 1, .height = 1}, false},
      {"no rows", {.height = 0}, false},
      {"negative width", {.width = -64}, false},
      {"two planes", {.planes = 2}, false},
      {"7 bits", {.bitCount = 7}, false},
      {"more colours than 8 bits hold", {.coloursUsed = 257}, false},
      {"run-length 8 past the end", {.compression = 1, .imageSize = 700, .pixelBytes = 699}, false},
      {"run-length 8, top-down", {.height = -48, .compression = 1, .imageSize = 700}, false},
      {"run-length 4 at 8 bits", {.compression = 2, .imageSize = 9}, false},
      {"compressed as JPEG", {.compression = 4, .imageSize = 100}, false},
      {"unknown header size", {.infoSize = 64}, false},
  };
  for (const Case& c : cases) {
    const std::string file = Make(c.bitmap);
    uint32_t length = uint32_t(std::min<size_t>(file.size(), BitmapHeadersSize));
    EXPECT_EQ(BitmapFitsItsFile(Bytes(file), length, uint32_t(file.size())) != 0, c.fits) << c.what;
  }
  // Not a bitmap, or only the start of its headers.
  for (const std::string& file :
       {std::string("BM not a bitmap"), std::string("PK\3\4"), Make(Bitmap()).substr(0, 30)}) {
    const uint32_t size = uint32_t(file.size());
    EXPECT_EQ(BitmapFitsItsFile(Bytes(file), size, size), 0) << file;
  }
}

TEST(Splash, OnlyTheFourNoSplashBitsOfARecognisedPayloadForbidIt) {
  for (uint32_t bit = 0; bit < 32; ++bit) {
    EXPECT_EQ(PayloadForbidsSplash(2, 1u << bit) != 0, bit >= 2 && bit <= 5) << bit;
    EXPECT_EQ(PayloadForbidsSplash(0, 1u << bit), 0) << "no payload, no veto";
  }
  EXPECT_EQ(PayloadForbidsSplash(1, 0xFFFFFFC3u), 0);
}

TEST(Splash, WindowIsCentredRoundingTowardZero) {
  const SplashRect screen = {0, 0, 1024, 768};
  struct Case {
    SplashRect frame, desktop;
    SplashPlacement place;
  };
  const Case cases[] = {
      {{-1, -1, 401, 301}, screen, {311, 233, 402, 302}},
      {{-1, -1, 1102, 51}, screen, {-39, 358, 1103, 52}},                  // wider: -79 / 2
      {{-1, -1, 101, 901}, screen, {461, -67, 102, 902}},                  // taller
      {{-1, -1, 401, 301}, {-1024, -100, 0, 668}, {-713, 133, 402, 302}},  // above and left
  };
  for (const Case& c : cases) {
    SplashPlacement p = CenterSplashWindow(c.frame, c.desktop);
    EXPECT_EQ(std::vector<int32_t>({p.x, p.y, p.width, p.height}),
              std::vector<int32_t>({c.place.x, c.place.y, c.place.width, c.place.height}));
  }
}

// The palette is fixed: the 6x6x6 cube, red slowest and blue fastest, then the ten greys
// the cube lacks, darkest first; nothing is written past it.
TEST(Splash, PaletteHoldsTheColourCubeThenTheMissingGreys) {
  SplashColor entries[SplashPaletteSize + 1];
  memset(entries, 0xAB, sizeof entries);
  FillSplashPalette(entries);
  struct Row {
    uint32_t index;
    uint8_t red, green, blue;
  };
  const Row rows[] = {
      {0, 0, 0, 0},         {1, 0, 0, 51},     {6, 0, 51, 0},     {36, 51, 0, 0},
      {215, 255, 255, 255}, {216, 17, 17, 17}, {218, 68, 68, 68}, {225, 238, 238, 238},
  };
  for (const Row& row : rows) {
    const SplashColor& c = entries[row.index];
    EXPECT_EQ(std::vector<int>({c.red, c.green, c.blue, c.flags}),
              std::vector<int>({row.red, row.green, row.blue, 0}))
        << row.index;
  }
  EXPECT_EQ(entries[SplashPaletteSize].red, 0xAB) << "written past the palette";
}

}  // namespace
