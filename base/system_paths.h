// The system's paths in the ANSI form that the launcher's file calls take: its module's
// path, the temporary path and the current directory. On the NT family they are read
// through the wide calls, so that a folder or file name the ANSI code page cannot spell
// still leads to its file.
#pragma once
#include <stdint.h>
#include <windows.h>
#include "base/ansi_path.h"

// The system's double-byte rule for the ANSI code page (IsDBCSLeadByte).
int SystemLeadByte(uint8_t byte);

// Writes `wide` into `ansi` (`capacity` bytes) as MakeAnsiPath does with the system's
// conversions and short names. Returns 0, `ansi` empty, when no ANSI path names it.
int ToSystemAnsiPath(const WideChar* wide, char* ansi, uint32_t capacity);

// Writes the full wide path of `module`'s file into `path` (WidePathCapacity units).
// Returns 0 where there are no wide calls (Windows 95 and 98) or when it does not fit.
int GetModuleWidePath(HMODULE module, WideChar* path);

// Writes the full ANSI path of `module`'s file into `path` (`capacity` bytes): on the NT
// family its faithful ANSI form or its short form. Returns 0 when it cannot be read, was
// cut short (a cut path names another file), or has no ANSI form that names it.
int GetModulePath(HMODULE module, char* path, uint32_t capacity);

// Writes the temporary path, as GetTempPath gives it (ending in a backslash), into `path`
// (PathCapacity bytes), in the same ANSI form. Returns 0, `path` empty, on failure.
int GetTemporaryPath(char* path);

// The current directory, saved to be put back after the runtime's libraries are loaded.
struct SavedDirectory {
  WideChar wide[WidePathCapacity];  // on the NT family
  char ansi[WidePathCapacity];      // on Windows 95 and 98, whose paths are ANSI
};

// Returns 0 when the current directory cannot be read.
int SaveCurrentDirectory(SavedDirectory* saved);
void RestoreCurrentDirectory(const SavedDirectory* saved);
