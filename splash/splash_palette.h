// The splash palette: a fixed 6x6x6 colour cube and ten greys, whatever the bitmap holds.
#pragma once
#include <stdint.h>

const uint32_t SplashPaletteSize = 226;
const uint16_t SplashPaletteVersion = 0x300;

// One palette entry, laid out as the window system's PALETTEENTRY.
struct SplashColor {
  uint8_t red;
  uint8_t green;
  uint8_t blue;
  uint8_t flags;
};

// Writes the SplashPaletteSize entries: the cube first, red slowest and blue fastest,
// then the greys that are not already in the cube, darkest first. Every flag is 0.
void FillSplashPalette(SplashColor* entries);
