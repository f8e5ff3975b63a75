// The ANSI path that names the same file as a wide path: the faithful form or the short one.
#include "base/ansi_path.h"
#include "base/paths.h"
#include "base/text.h"

namespace {

// Room for the round trip of any ANSI path of the launcher: each byte gives at most one
// unit, and the splash bitmap's path is a few bytes longer than PathCapacity.
const uint32_t RoundTripCapacity = 2 * PathCapacity;

int WideEqual(const WideChar* a, const WideChar* b) {
  uint32_t i = 0;
  while (a[i] != 0 && a[i] == b[i]) ++i;
  return a[i] == b[i];
}

// Converts `wide` into `ansi` and reports whether the result is a faithful copy: one
// that converts back to the same units. A character the code page cannot spell comes
// out as "?" (a wildcard, which names no file) or as a look-alike (another file), and
// neither survives the way back.
int ConvertFaithfully(const AnsiPathCalls* calls, const WideChar* wide, char* ansi,
                      uint32_t capacity) {
  if (calls->toAnsi(calls->context, wide, ansi, capacity) == 0) return 0;
  WideChar back[RoundTripCapacity];
  return calls->toWide(calls->context, ansi, back, RoundTripCapacity) != 0 && WideEqual(back, wide);
}

}  // namespace

int MakeAnsiPath(const AnsiPathCalls* calls, const WideChar* wide, char* ansi, uint32_t capacity) {
  if (ConvertFaithfully(calls, wide, ansi, capacity)) return 1;
  // The short form names the same file in plain ASCII (where the volume makes short
  // names), and is no longer than a double-byte ANSI form that did not fit.
  WideChar shortPath[WidePathCapacity];
  uint32_t length = calls->getShortPath(calls->context, wide, shortPath, WidePathCapacity);
  if (length != 0 && length < WidePathCapacity &&
      ConvertFaithfully(calls, shortPath, ansi, capacity)) {
    return 1;
  }
  if (capacity > 0) ansi[0] = 0;
  return 0;
}

int ReplaceWideExtension(WideChar* path, const char* extension, uint32_t capacity) {
  if (extension[0] == 0) return 1;
  uint32_t end = 0;
  uint32_t at = 0;
  for (; path[end] != 0; ++end) {
    if (path[end] == '\\') at = 0;
    // A dot that starts the whole path is part of the name, not an extension.
    if (path[end] == '.' && end > 0) at = end;
  }
  if (at == 0) at = end;
  uint32_t extensionLength = TextLength(extension);
  if (at + extensionLength + 1 > capacity) {
    path[0] = 0;
    return 0;
  }
  for (uint32_t i = 0; i <= extensionLength; ++i) {
    path[at + i] = static_cast<uint8_t>(extension[i]);
  }
  return 1;
}
