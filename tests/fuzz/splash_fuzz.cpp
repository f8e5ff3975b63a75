// Fuzzes the splash's path and placement arithmetic: any path and extension stay within
// the caller's room, any rectangles centre without signed overflow.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>
#include "base/paths.h"
#include "splash/splash_geometry.h"

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
  std::string extension(reinterpret_cast<const char*>(data), extensionLength);
  std::string rest(reinterpret_cast<const char*>(zero + 1), data + size - (zero + 1));
  for (char& c : rest) {
    if (c == 0) c = '\\';
  }
  // Exactly the room the caller must provide; ASan sees any byte past it.
  std::vector<char> path(rest.size() + extensionLength + 1);
  rest.copy(path.data(), rest.size());
  path[rest.size()] = 0;
  ReplaceExtension(path.data(), extension.c_str(), path.size());
  size_t length = strlen(path.data());
  if (length > rest.size() + extensionLength) __builtin_trap();
  // The extension, whatever it holds, is written whole at the end.
  const char* tail = path.data() + length - extensionLength;
  if (extensionLength > 0 && strcmp(tail, extension.c_str()) != 0) __builtin_trap();
  return 0;
}
