// The splash screen: its start on a thread of its own and the runtime's close callback.
#include "splash/splash.h"

// Not yet built: no splash is shown.
DWORD StartSplash() { return 0; }

BOOL WINAPI CloseSplash(DWORD threadId) {
  return PostThreadMessageA(threadId, WM_USER, 0, 0);
}
