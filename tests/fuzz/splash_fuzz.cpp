// Fuzzes the splash's path and placement arithmetic: any path and extension stay within
// the caller's room, any rectangles centre without signed overflow.
// fuzz-sources: splash/splash_source.cpp splash/splash_geometry.cpp
#include <cstdint>
#include <cstring>
#include <vector>
#include "splash/splash_geometry.h"
#include "splash/splash_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size >= 32) {
    SplashRect rects[2];
    memcpy(rects, data, 32);
    SplashPlacement p = CenterSplashWindow(rects[0], rects[1]);
    if (rects[0].left == 0 && rects[0].top == 0 && rects[0].right >= 0 &&
        rects[0].bottom >= 0 && p.width != rects[0].right) {
      __builtin_trap();
    }
  }
  // The rest: an extension up to the first zero byte, then the path.
  const uint8_t* zero = static_cast<const uint8_t*>(memchr(data, 0, size));
  if (zero == nullptr) return 0;
  size_t extensionLength = zero - data;
  std::vector<char> extension(data, zero + 1);
  std::vector<char> rest(zero + 1, data + size);
  for (char& c : rest) {
    if (c == 0) c = '\\';
  }
  // Exactly the room the caller must provide; ASan sees any byte past it.
  std::vector<char> path(rest.size() + extensionLength + 1);
  memcpy(path.data(), rest.data(), rest.size());
  path[rest.size()] = 0;
  ReplaceExtension(path.data(), extension.data());
  size_t length = strlen(path.data());
  if (length > rest.size() + extensionLength) __builtin_trap();
  if (extensionLength > 0 && strcmp(path.data() + length - extensionLength, extension.data()) != 0) {
    // The extension itself may hold a backslash or dot; it is still written whole.
    __builtin_trap();
  }
  return 0;
}
