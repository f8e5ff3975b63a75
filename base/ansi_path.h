// The ANSI path that names the same file as a wide (UTF-16) path: the rule the system
// paths follow on the NT family, over conversions the caller hands in.
#pragma once
#include <stdint.h>

// A UTF-16 code unit, as the wide calls of Windows take them.
typedef uint16_t WideChar;

// Every wide path buffer holds this many units, terminator included: the 259 characters
// a path of the ANSI calls may have.
const uint32_t WidePathCapacity = 260;

struct AnsiPathCalls {
  void* context;  // handed back as the first argument of every call
  // The ANSI code page's conversions of terminated text into a buffer of `capacity`
  // units (WideCharToMultiByte and MultiByteToWideChar without flags): the units
  // written, terminator included, or 0 when the result does not fit.
  uint32_t (*toAnsi)(void* context, const WideChar* wide, char* ansi, uint32_t capacity);
  uint32_t (*toWide)(void* context, const char* ansi, WideChar* wide, uint32_t capacity);
  // The short (8.3) form of an existing path, as GetShortPathNameW gives it: its length,
  // 0 when there is none, or `capacity` or more when it does not fit.
  uint32_t (*getShortPath)(void* context, const WideChar* path, WideChar* shortPath,
                           uint32_t capacity);
};

// Writes into `ansi` (`capacity` bytes) an ANSI path naming the file of `wide`: its ANSI
// form when that converts back to `wide` exactly, else the ANSI form of its short path
// when that does. Returns 0, leaving `ansi` empty, when neither does or fits.
int MakeAnsiPath(const AnsiPathCalls* calls, const WideChar* wide, char* ansi, uint32_t capacity);

// ReplaceExtension of a wide path (`capacity` units); `extension` is ASCII. UTF-16 needs
// no double-byte rule: no unit of another character is a backslash or a dot.
int ReplaceWideExtension(WideChar* path, const char* extension, uint32_t capacity);
