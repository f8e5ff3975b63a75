// The splash screen: its start on a thread of its own and the runtime's close callback.
#include "splash/splash.h"
#include "launcher/module_path.h"
#include "launcher/paths.h"
#include "payload/payload_reader.h"
#include "splash/splash_source.h"
#include "splash/splash_window.h"

namespace {
const DWORD SplashStackSize = 0x20000;
// LR_LOADFROMFILE | LR_CREATEDIBSECTION: read the file as a device-independent section.
const UINT SplashLoadFlags = 0x2010;
// Room for the executable's path plus the longest growth of ReplaceExtension.
const uint32_t SplashPathRoom = PathCapacity + sizeof(SplashExtension) - 1;
}  // namespace

HBITMAP LoadSplashBitmap() {
  HMODULE module = GetModuleHandleA(0);
  char path[SplashPathRoom];
  PayloadDescriptor descriptor = {0, 0};
  int recognised = DescribeOwnPayload(module, path, PathCapacity, &descriptor);
  if (PayloadForbidsSplash(recognised, descriptor.flags2)) return 0;
  if (!GetModulePath(module, path, PathCapacity)) return 0;
  ReplaceExtension(path, SplashExtension);
  return static_cast<HBITMAP>(
      LoadImageA(module, path, IMAGE_BITMAP, 0, 0, SplashLoadFlags));
}

DWORD StartSplash() {
  HBITMAP bitmap = LoadSplashBitmap();
  if (bitmap == 0) return 0;
  DWORD threadId = 0;
  HANDLE thread = CreateThread(0, SplashStackSize, SplashThreadProc, bitmap, 0, &threadId);
  if (thread == 0) {
    DeleteObject(bitmap);
    return 0;
  }
  // Nobody waits for the splash thread; from here on it owns the bitmap.
  CloseHandle(thread);
  return threadId;
}

BOOL WINAPI CloseSplash(DWORD threadId) {
  return PostThreadMessageA(threadId, WM_USER, 0, 0);
}
