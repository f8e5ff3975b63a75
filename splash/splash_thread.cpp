// The splash screen: its start on a thread of its own and the runtime's close callback.
#include "base/paths.h"
#include "base/system_paths.h"
#include "splash/splash.h"
#include "splash/splash_bitmap.h"
#include "splash/splash_source.h"
#include "splash/splash_window.h"

namespace {
const DWORD SplashStackSize = 0x20000;
// LR_LOADFROMFILE | LR_CREATEDIBSECTION: read the file as a device-independent section.
const UINT SplashLoadFlags = 0x2010;
// Room for the executable's path plus the extension: a path of 259 bytes keeps its
// bitmap's name whole.
const uint32_t SplashPathRoom = PathCapacity + sizeof(SplashExtension) - 1;
// How long StartSplash waits for the splash thread to be ready for the close request.
// A window is up in milliseconds; the bound only keeps a stuck window system from
// holding up the launch.
const DWORD SplashReadyWait = 3000;

// StartSplash runs once per process; the thread reads this record while StartSplash
// may already have given up waiting for it, so it lives as long as the process.
SplashHandOver handOver;

// The bitmap's path (SplashPathRoom bytes): the executable's with ".BMP". With the wide
// calls it is made from the wide path and only then turned into ANSI: when the code page
// cannot spell the executable's name, the short form of that name tells nothing of the
// bitmap's, which has a short form of its own (when the bitmap exists).
int GetSplashBitmapPath(HMODULE module, char* path) {
  WideChar wide[WidePathCapacity + sizeof(SplashExtension)];
  if (GetModuleWidePath(module, wide)) {
    return ReplaceWideExtension(wide, SplashExtension, sizeof wide / sizeof wide[0]) &&
           ToSystemAnsiPath(wide, path, SplashPathRoom);
  }
  return GetModulePath(module, path, PathCapacity) &&
         ReplaceExtension(path, SplashExtension, SplashPathRoom, SystemLeadByte);
}

// Whether the file's headers fit its size, read before the system's loader sees them.
int IsLoadableBitmap(const char* path) {
  HANDLE file =
      CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_EXISTING, 0, 0);
  if (file == INVALID_HANDLE_VALUE) return 0;
  uint8_t start[BitmapHeadersSize];
  DWORD read = 0;
  DWORD high = 0;
  DWORD size = GetFileSize(file, &high);
  BOOL readOk = ReadFile(file, start, sizeof start, &read, 0);
  CloseHandle(file);
  // A bitmap of 4 GiB or more is no splash.
  return readOk && size != INVALID_FILE_SIZE && high == 0 && BitmapFitsItsFile(start, read, size);
}

// The bitmap beside the executable (its name with ".BMP"), or null when the file
// cannot be read or its headers do not fit it.
HBITMAP LoadSplashBitmap() {
  HMODULE module = GetModuleHandleA(0);
  char path[SplashPathRoom];
  if (!GetSplashBitmapPath(module, path)) return 0;
  if (!IsLoadableBitmap(path)) return 0;
  return static_cast<HBITMAP>(LoadImageA(module, path, IMAGE_BITMAP, 0, 0, SplashLoadFlags));
}

}  // namespace

DWORD StartSplash(int payloadForbidsSplash) {
  if (payloadForbidsSplash) return 0;
  HBITMAP bitmap = LoadSplashBitmap();
  if (bitmap == 0) return 0;
  handOver.bitmap = bitmap;
  // Manual reset, not signalled. Without it the splash still runs, unwaited for.
  handOver.ready = CreateEventA(0, TRUE, FALSE, 0);
  DWORD threadId = 0;
  HANDLE thread = CreateThread(0, SplashStackSize, SplashThreadProc, &handOver, 0, &threadId);
  if (thread == 0) {
    DeleteObject(bitmap);
    if (handOver.ready != 0) CloseHandle(handOver.ready);
    return 0;
  }
  // From here on the thread owns the bitmap. A request posted before the thread had a
  // message queue would be lost, and one posted before its window exists has been
  // seen lost too: hand over only once the thread is ready, or has ended.
  if (handOver.ready != 0) {
    HANDLE waitFor[2] = {handOver.ready, thread};
    DWORD waited = WaitForMultipleObjects(2, waitFor, FALSE, SplashReadyWait);
    // After a timeout the thread may still set the event: it stays open.
    if (waited == WAIT_OBJECT_0 || waited == WAIT_OBJECT_0 + 1) CloseHandle(handOver.ready);
  }
  CloseHandle(thread);
  return threadId;
}

BOOL WINAPI CloseSplash(DWORD threadId) { return PostThreadMessageA(threadId, WM_USER, 0, 0); }
