// Restart or shutdown of Windows at the runtime's request.
#pragma once
#include <stdint.h>

// Asks Windows for a forced restart (`reboot` nonzero) or a forced shutdown.
// Returns 1 when Windows accepted the request, 0 otherwise.
int RestartSystem(uint32_t reboot);
