// Reading a module's file path, as every subsystem of the launcher needs its own.
#pragma once
#include <stdint.h>
#include <windows.h>

// Writes the full path of `module`'s file into `path` (`capacity` bytes). Returns 0 when
// it cannot be read or was cut short at the buffer's end: a cut path names another file.
inline int GetModulePath(HMODULE module, char* path, uint32_t capacity) {
  DWORD length = GetModuleFileNameA(module, path, capacity);
  return length != 0 && length < capacity;
}
