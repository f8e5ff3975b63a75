// Where the splash bitmap comes from: the decision whether to show one and its file name.
#include "splash/splash_source.h"

int PayloadForbidsSplash(int payloadRecognised, uint32_t flags2) {
  return payloadRecognised != 0 && (flags2 & NoSplashBits) != 0;
}

int ReplaceExtension(char* path, const char* extension) {
  if (extension[0] == 0) return 1;
  uint32_t lastBackslash = 0;
  uint32_t lastDot = 0;
  uint32_t end = 0;
  for (; path[end] != 0; ++end) {
    if (path[end] == '\\') lastBackslash = end;
    if (path[end] == '.') lastDot = end;
  }
  uint32_t at = lastDot > lastBackslash ? lastDot : end;
  uint32_t i = 0;
  for (; extension[i] != 0; ++i) path[at + i] = extension[i];
  path[at + i] = 0;
  return 1;
}
