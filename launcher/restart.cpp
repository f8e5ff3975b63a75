// Restart or shutdown of Windows at the runtime's request.
#include "launcher/restart.h"
#include <windows.h>

namespace {

const UINT RestartFlags = EWX_REBOOT | EWX_FORCE;     // 6
const UINT ShutdownFlags = EWX_SHUTDOWN | EWX_FORCE;  // 5

// Enables the shutdown privilege in the process token. 0 when the token cannot be
// opened or the privilege is not held.
int EnableShutdownPrivilege() {
  HANDLE token = 0;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    return 0;
  }
  TOKEN_PRIVILEGES privileges;
  privileges.PrivilegeCount = 1;
  // A failed lookup leaves the zero identifier, which no token holds: the adjustment
  // below then reports it as not assigned.
  privileges.Privileges[0].Luid.LowPart = 0;
  privileges.Privileges[0].Luid.HighPart = 0;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  LookupPrivilegeValueA(0, "SeShutdownPrivilege", &privileges.Privileges[0].Luid);
  SetLastError(ERROR_SUCCESS);
  AdjustTokenPrivileges(token, FALSE, &privileges, 0, 0, 0);
  // The call succeeds even when the privilege is missing; only the last error says so.
  DWORD error = GetLastError();
  CloseHandle(token);
  return error == ERROR_SUCCESS;
}

// 1 on the Windows NT platform, else 0.
int IsWindowsNT() {
  OSVERSIONINFOA version;
  static_assert(sizeof(version) == 148, "the ANSI record's full size");
  version.dwOSVersionInfoSize = sizeof(version);
  // Should the query itself fail, assume NT: the privilege is then asked for first,
  // and where it cannot be had no request is made.
  if (!GetVersionExA(&version)) return 1;
  return version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

}  // namespace

int RestartSystem(uint32_t reboot) {
  UINT flags = reboot ? RestartFlags : ShutdownFlags;
  if (IsWindowsNT() && !EnableShutdownPrivilege()) return 0;
  return ExitWindowsEx(flags, 0) ? 1 : 0;
}
