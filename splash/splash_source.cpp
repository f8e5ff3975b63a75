// Whether the splash is shown, and the extension of its bitmap file.
#include "splash/splash_source.h"
#include "payload/payload_format.h"

int PayloadForbidsSplash(int payloadRecognised, uint32_t flags2) {
  return payloadRecognised != 0 && (flags2 & PayloadNoSplashMask) != 0;
}
