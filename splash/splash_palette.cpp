// The splash palette: a fixed 6x6x6 colour cube and ten greys, whatever the bitmap holds.
#include "splash/splash_palette.h"

namespace {
const uint32_t CubeSteps = 6;
const uint32_t CubeStride = 51;
// Multiples of 17 up to 255; every third one is a cube level and is skipped.
const uint32_t GreyStride = 17;
}  // namespace

void FillSplashPalette(SplashColor* entries) {
  uint32_t at = 0;
  for (uint32_t r = 0; r < CubeSteps; ++r) {
    for (uint32_t g = 0; g < CubeSteps; ++g) {
      for (uint32_t b = 0; b < CubeSteps; ++b) {
        SplashColor& c = entries[at++];
        c.red = static_cast<uint8_t>(r * CubeStride);
        c.green = static_cast<uint8_t>(g * CubeStride);
        c.blue = static_cast<uint8_t>(b * CubeStride);
        c.flags = 0;
      }
    }
  }
  for (uint32_t v = GreyStride; v < 255; v += GreyStride) {
    if (v % CubeStride == 0) continue;
    SplashColor& c = entries[at++];
    c.red = c.green = c.blue = static_cast<uint8_t>(v);
    c.flags = 0;
  }
}
