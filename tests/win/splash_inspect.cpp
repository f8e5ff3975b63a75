// Looks at a launcher's splash window from another process, for the end-to-end tests:
//   find WAIT_MS BMP  cover it with a foreground window, click it, send it palette news and a
//                 stray WM_USER; print where it is, how it took that, and whether it shows
//                 the bitmap BMP, also after a partial repaint
//   gone WAIT_MS  wait for it to go;  box WAIT_MS  print the failure box's order, cancel it
//   palette       run the splash window code here, recording its palette calls
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// On a true-colour display a realisation maps nothing, so the foreground and the background
// look alike from outside: the splash code is built in here, its palette calls recorded.
namespace {
int realisations = 0, foregroundSelections = 0;
HPALETTE WINAPI RecordSelectPalette(HDC dc, HPALETTE palette, BOOL background) {
  if (palette != GetStockObject(DEFAULT_PALETTE) && !background) ++foregroundSelections;
  return SelectPalette(dc, palette, background);
}
UINT WINAPI RecordRealizePalette(HDC dc) {
  ++realisations;
  return RealizePalette(dc);
}
}  // namespace
#define SelectPalette RecordSelectPalette
#define RealizePalette RecordRealizePalette
#include "splash/splash_geometry.cpp"
#include "splash/splash_palette.cpp"
#include "splash/splash_window.cpp"

namespace {

// The splash window, or another by class and title, once there (or gone) or at the bound.
HWND WaitFor(DWORD waitMs, bool present, const char* cls = SplashClassName,
             const char* title = SplashTitle) {
  HWND w = FindWindowA(cls, title);
  for (DWORD t = 0; (w != nullptr) != present && t < waitMs; t += 20) {
    Sleep(20);
    w = FindWindowA(cls, title);
  }
  return w;
}

void Pump(int ms) {
  for (MSG m; ms > 0; ms -= 10) {
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
    Sleep(10);
  }
}

int ZOrder(HWND window) {  // among the top-level windows, 0 the topmost
  int position = 0;
  for (HWND w = GetTopWindow(nullptr); w != nullptr && w != window; w = GetWindow(w, GW_HWNDNEXT))
    ++position;
  return position;
}

// A bitmap's pixels at 32 bits, the rows bottom up.
std::string Bits(HDC dc, HBITMAP bitmap, int width, int height) {
  BITMAPINFO info = {};
  info.bmiHeader = {sizeof info.bmiHeader, width, height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  std::string bits(size_t(width) * height * 4, '\0');
  GetDIBits(dc, bitmap, 0, height, &bits[0], &info, DIB_RGB_COLORS);
  return bits;
}

// What the screen shows of the window's client area, as Bits.
std::string Shown(HWND window, int width, int height) {
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP copy = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ previous = SelectObject(memory, copy);
  BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
  SelectObject(memory, previous);
  std::string bits = Bits(memory, copy, width, height);
  DeleteObject(copy);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return bits;
}

int Find(DWORD waitMs, const char* bitmapFile) {
  HWND splash = WaitFor(waitMs, true);
  RECT r;
  if (splash == nullptr || !GetWindowRect(splash, &r)) return 0;
  printf("rect=%ld,%ld,%ld,%ld\nthread=%lu\ntool_window=%d\n", r.left, r.top, r.right, r.bottom,
         GetWindowThreadProcessId(splash, nullptr),
         (GetWindowLongA(splash, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) != 0);
  HWND mine =
      CreateWindowExA(0, "STATIC", "cover", WS_POPUP | WS_VISIBLE, r.left, r.top, r.right - r.left,
                      r.bottom - r.top, nullptr, nullptr, nullptr, nullptr);
  SetForegroundWindow(mine);
  Pump(300);
  printf("mine_foreground=%d\nabove_mine=%d\n", GetForegroundWindow() == mine,
         ZOrder(splash) < ZOrder(mine));
  SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  mouse_event(MOUSEEVENTF_LEFTDOWN, 0, 0, 0, 0);
  mouse_event(MOUSEEVENTF_LEFTUP, 0, 0, 0, 0);
  Pump(300);
  printf("click_activated=%d\n", GetForegroundWindow() != mine);
  DestroyWindow(mine);
  // Palette news, and WM_USER sent to the window rather than to its thread.
  SendMessageA(splash, WM_QUERYNEWPALETTE, 0, 0);
  SendMessageA(splash, WM_PALETTECHANGED, reinterpret_cast<WPARAM>(GetDesktopWindow()), 0);
  PostMessageA(splash, WM_USER, 0, 0);
  Sleep(300);
  printf("alive=%d\n", IsWindowVisible(splash) != 0);
  // The bitmap, whole; and again once its right half was repainted alone.
  HBITMAP bitmap = static_cast<HBITMAP>(
      LoadImageA(nullptr, bitmapFile, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
  BITMAP size = {};
  GetObjectA(bitmap, sizeof size, &size);
  std::string bits = Bits(GetDC(nullptr), bitmap, size.bmWidth, size.bmHeight);
  printf("shows_bitmap=%d\n", Shown(splash, size.bmWidth, size.bmHeight) == bits);
  RECT half = {size.bmWidth / 2, 0, size.bmWidth, size.bmHeight};
  InvalidateRect(splash, &half, FALSE);
  Sleep(300);
  printf("repaint_shows_bitmap=%d\n", Shown(splash, size.bmWidth, size.bmHeight) == bits);
  return 0;
}

int Box(DWORD waitMs) {
  HWND splash = WaitFor(waitMs, true), box = WaitFor(waitMs, true, "#32770", "Application Error");
  Sleep(300);  // let both settle in their final order
  printf("box_found=%d\nsplash_visible=%d\nbox_above=%d\n", box != nullptr,
         splash && IsWindowVisible(splash), ZOrder(box) < ZOrder(splash));
  fflush(stdout);
  PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
  return 0;
}

// Each message is reported as <name>.realised=<RealizePalette calls> and
// <name>.foreground=<selections of the splash palette not forced to the background>.
int Palette() {
  HBITMAP bitmap = CreateBitmap(40, 30, 1, 32, nullptr);
  SplashHandOver handOver = {bitmap, CreateEventA(0, 1, 0, 0)};
  DWORD id = 0, code = 1;
  HANDLE thread = CreateThread(nullptr, 0, SplashThreadProc, &handOver, 0, &id);
  WaitForSingleObject(handOver.ready, 5000);
  HWND splash = WaitFor(0, true);
  struct Step {
    const char* name;
    UINT message;
    WPARAM wParam;
  } steps[] = {{"self", WM_PALETTECHANGED, reinterpret_cast<WPARAM>(splash)},
               {"query", WM_QUERYNEWPALETTE, 0},
               {"other", WM_PALETTECHANGED, reinterpret_cast<WPARAM>(GetDesktopWindow())}};
  for (const Step& s : steps) {
    realisations = foregroundSelections = 0;
    SendMessageA(splash, s.message, s.wParam, 0);
    printf("%s.realised=%d\n%s.foreground=%d\n", s.name, realisations, s.name,
           foregroundSelections);
  }
  HGDIOBJ palette = reinterpret_cast<HGDIOBJ>(static_cast<LONG_PTR>(GetWindowLongA(splash, 4)));
  PostThreadMessageA(id, WM_USER, 0, 0);
  WaitForSingleObject(thread, 5000);
  GetExitCodeThread(thread, &code);  // STILL_ACTIVE when it did not end
  printf("closed=palette %s, bitmap %s, exit %lu\n", GetObjectType(palette) ? "kept" : "deleted",
         GetObjectType(bitmap) ? "kept" : "deleted", code);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  DWORD wait = argc > 2 ? atoi(argv[2]) : 0;
  if (argc == 4 && strcmp(argv[1], "find") == 0) return Find(wait, argv[3]);
  if (argc == 3 && strcmp(argv[1], "gone") == 0) {
    printf("gone=%d\n", !WaitFor(wait, false));
    return 0;
  }
  if (argc == 3 && strcmp(argv[1], "box") == 0) return Box(wait);
  if (argc == 2 && strcmp(argv[1], "palette") == 0) return Palette();
  fprintf(stderr, "usage: splash_inspect find WAIT_MS BMP | gone|box WAIT_MS | palette\n");
  return 2;
}
