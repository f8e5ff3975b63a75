// The splash bitmap's headers against its file's size: what the system's loader may be
// given, and what it would read past the end of.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "splash/splash_bitmap.h"

namespace {

void Put(std::string& s, size_t at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) s[at + i] = char(value >> (8 * i));
}

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
  Put(s, 10, offset, 4);
  Put(s, 14, b.infoSize, 4);
  if (b.infoSize == 12) {
    Put(s, 18, uint32_t(b.width), 2);
    Put(s, 20, uint32_t(b.height), 2);
    Put(s, 22, b.planes, 2);
    Put(s, 24, b.bitCount, 2);
  } else {
    Put(s, 18, uint32_t(b.width), 4);
    Put(s, 22, uint32_t(b.height), 4);
    Put(s, 26, b.planes, 2);
    Put(s, 28, b.bitCount, 2);
    Put(s, 30, b.compression, 4);
    Put(s, 34, b.imageSize, 4);
    Put(s, 46, b.coloursUsed, 4);
  }
  int64_t rows = b.height < 0 ? -int64_t(b.height) : b.height;
  int64_t need = (int64_t(b.width) * b.bitCount + 31) / 32 * 4 * rows;
  int64_t pixels = b.pixelBytes >= 0                          ? b.pixelBytes
                   : b.compression == 1 || b.compression == 2 ? b.imageSize
                                                              : need;
  return s + std::string(size_t(std::max<int64_t>(0, std::min<int64_t>(pixels, 1 << 24))), 'p');
}

TEST(SplashBitmap, OnlyHeadersThatFitTheFileReachTheLoader) {
  struct Case {
    const char* what;
    Bitmap bitmap;
    bool fits;
  };
  auto bitmap = [](auto change) {
    Bitmap b;
    change(b);
    return b;
  };
  const Case cases[] = {
      {"8 bits with its palette", Bitmap(), true},
      {"24 bits, top-down", bitmap([](Bitmap& b) { b.bitCount = 24, b.height = -48; }), true},
      {"1 bit, odd width", bitmap([](Bitmap& b) { b.bitCount = 1, b.width = 33; }), true},
      {"4 bits, 3 colours", bitmap([](Bitmap& b) { b.bitCount = 4, b.coloursUsed = 3; }), true},
      {"16-bit fields", bitmap([](Bitmap& b) { b.bitCount = 16, b.compression = 3; }), true},
      {"32 bits, version 5 header", bitmap([](Bitmap& b) { b.bitCount = 32, b.infoSize = 124; }),
       true},
      {"core header", bitmap([](Bitmap& b) { b.infoSize = 12; }), true},
      {"run-length 8", bitmap([](Bitmap& b) { b.compression = 1, b.imageSize = 700; }), true},
      {"header alone", bitmap([](Bitmap& b) { b.pixelBytes = 0; }), false},
      {"one byte short", bitmap([](Bitmap& b) { b.pixelBytes = 64 * 48 - 1; }), false},
      {"pixel offset past the end", bitmap([](Bitmap& b) { b.pixelOffset = 1 << 20; }), false},
      {"pixel offset inside the palette", bitmap([](Bitmap& b) { b.pixelOffset = 100; }), false},
      {"1 bit, 30000 x 30000 claimed",
       bitmap([](Bitmap& b) { b.bitCount = 1, b.width = b.height = 30000, b.pixelBytes = 64; }),
       false},
      {"wider than a splash may be",
       bitmap([](Bitmap& b) { b.width = LargestSplashSide + 1, b.height = 1; }), false},
      {"no rows", bitmap([](Bitmap& b) { b.height = 0; }), false},
      {"negative width", bitmap([](Bitmap& b) { b.width = -64; }), false},
      {"two planes", bitmap([](Bitmap& b) { b.planes = 2; }), false},
      {"7 bits", bitmap([](Bitmap& b) { b.bitCount = 7; }), false},
      {"more colours than 8 bits hold", bitmap([](Bitmap& b) { b.coloursUsed = 257; }), false},
      {"run-length 8 past the end",
       bitmap([](Bitmap& b) { b.compression = 1, b.imageSize = 700, b.pixelBytes = 699; }), false},
      {"run-length 8, top-down",
       bitmap([](Bitmap& b) { b.compression = 1, b.imageSize = 700, b.height = -48; }), false},
      {"run-length 4 at 8 bits", bitmap([](Bitmap& b) { b.compression = 2, b.imageSize = 9; }),
       false},
      {"compressed as JPEG", bitmap([](Bitmap& b) { b.compression = 4; }), false},
      {"unknown header size", bitmap([](Bitmap& b) { b.infoSize = 64; }), false},
  };
  for (const Case& c : cases) {
    const std::string file = Make(c.bitmap);
    const uint8_t* start = reinterpret_cast<const uint8_t*>(file.data());
    uint32_t length = uint32_t(std::min<size_t>(file.size(), BitmapHeadersSize));
    EXPECT_EQ(BitmapFitsItsFile(start, length, uint32_t(file.size())) != 0, c.fits) << c.what;
  }
  // Not a bitmap, or only the start of its headers.
  for (const std::string& file :
       {std::string("BM not a bitmap"), std::string("PK\3\4"), Make(Bitmap()).substr(0, 30)}) {
    const uint8_t* start = reinterpret_cast<const uint8_t*>(file.data());
    EXPECT_EQ(BitmapFitsItsFile(start, uint32_t(file.size()), uint32_t(file.size())), 0) << file;
  }
}

}  // namespace
