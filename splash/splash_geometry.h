// Where the splash window goes: centred on the desktop, its client area the bitmap's size.
#pragma once
#include <stdint.h>

// A rectangle as the window system gives it: right and bottom are exclusive.
struct SplashRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

struct SplashPlacement {
  int32_t x;
  int32_t y;
  int32_t width;
  int32_t height;
};

// `frame` is the bitmap's rectangle (0, 0, width, height) already widened by the
// window's border; `desktop` is the desktop window's rectangle. The window is centred,
// each coordinate rounded toward zero, so it may start left of or above the desktop
// when it is the larger.
SplashPlacement CenterSplashWindow(SplashRect frame, SplashRect desktop);
