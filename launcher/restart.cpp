// Restart or shutdown of Windows at the runtime's request.
#include <windows.h>
#include "launcher/launch_ui.h"

int RestartSystem(uint32_t reboot) {
  // Not yet built: no request is made.
  (void)reboot;
  return 0;
}
