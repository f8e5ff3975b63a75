// Where the splash window goes: centred on the desktop, its client area the bitmap's size.
#include "splash/splash_geometry.h"

namespace {
// 64-bit intermediates: a nonsense rectangle gives a nonsense place, never an overflow.
int32_t Centre(int64_t low, int64_t high, int64_t size) {
  return static_cast<int32_t>((high - size + low) / 2);
}
}  // namespace

SplashPlacement CenterSplashWindow(SplashRect frame, SplashRect desktop) {
  SplashPlacement place;
  int64_t width = static_cast<int64_t>(frame.right) - frame.left;
  int64_t height = static_cast<int64_t>(frame.bottom) - frame.top;
  place.width = static_cast<int32_t>(width);
  place.height = static_cast<int32_t>(height);
  place.x = Centre(desktop.left, desktop.right, width);
  place.y = Centre(desktop.top, desktop.bottom, height);
  return place;
}
