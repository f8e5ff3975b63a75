// Bounded ANSI string helpers shared by every subsystem of the launcher; no C runtime.
#pragma once
#include <stdint.h>

// Number of bytes before the terminator.
inline uint32_t TextLength(const char* text) {
  uint32_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

// Copies `source` into `dest` of `capacity` bytes, terminator included. Returns 1 when
// it fitted; otherwise `dest` is left as the empty string and 0 is returned, so a
// path that does not fit is never used half-built.
inline int TextCopy(char* dest, const char* source, uint32_t capacity) {
  uint32_t n = TextLength(source);
  if (n + 1 > capacity) {
    if (capacity > 0) dest[0] = 0;
    return 0;
  }
  for (uint32_t i = 0; i <= n; ++i) dest[i] = source[i];
  return 1;
}

// Appends `source` to the string in `dest` of `capacity` bytes. Returns 1 when it
// fitted; otherwise `dest` is unchanged and 0 is returned.
inline int TextAppend(char* dest, const char* source, uint32_t capacity) {
  uint32_t used = TextLength(dest);
  uint32_t n = TextLength(source);
  if (used + n + 1 > capacity) return 0;
  for (uint32_t i = 0; i <= n; ++i) dest[used + i] = source[i];
  return 1;
}

// Exact, case-sensitive comparison of two terminated strings.
inline int TextEqual(const char* a, const char* b) {
  uint32_t i = 0;
  while (a[i] != 0 && a[i] == b[i]) ++i;
  return a[i] == b[i];
}
