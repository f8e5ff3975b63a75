// Which family of Windows the launcher runs on.
#pragma once
#include <windows.h>

// 1 on the Windows NT platform, else 0 (Windows 95, 98 and Me).
inline int IsWindowsNT() {
  OSVERSIONINFOA version;
  static_assert(sizeof(version) == 148, "the ANSI record's full size");
  version.dwOSVersionInfoSize = sizeof(version);
  // Should the query itself fail, assume NT: a caller then tries what only NT has, and
  // handles its absence as on any system.
  if (!GetVersionExA(&version)) return 1;
  return version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}
