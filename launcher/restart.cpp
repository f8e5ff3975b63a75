// Restart or shutdown of Windows at the runtime's request.
#include "launcher/restart.h"
#include <windows.h>
#include "base/windows_version.h"

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

}  // namespace

int RestartSystem(uint32_t reboot) {
  UINT flags = reboot ? RestartFlags : ShutdownFlags;
  // Should the version query fail, NT is assumed: the privilege is asked for first, and
  // where it cannot be had no request is made.
  if (IsWindowsNT() && !EnableShutdownPrivilege()) return 0;
  return ExitWindowsEx(flags, 0) ? 1 : 0;
}
