// Looks at a launcher's splash window from another process, for the end-to-end tests.
//   splash_inspect find WAIT_MS  wait for the window; cover it with a foreground window of
//                                ours, click it, send it palette news and a stray WM_USER;
//                                print where it is and whether it stayed above and inactive
//   splash_inspect gone WAIT_MS  wait for the window to go
//   splash_inspect box WAIT_MS   wait for the failure box beside the splash, print their
//                                z-order, then cancel the box
//   splash_inspect palette       run the splash window code here and record how each
//                                palette message makes it select and realise its palette
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// On a true-colour display every realisation maps nothing, so a palette realised in the
// foreground looks the same from outside: the splash code is built in here with its
// palette calls recorded.
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
#include "splash/splash_window.cpp"
#undef SelectPalette
#undef RealizePalette
#include "splash/splash_geometry.cpp"
#include "splash/splash_palette.cpp"

namespace {

HWND WaitFor(DWORD waitMs, bool present) {
  for (DWORD waited = 0;; waited += 20) {
    HWND window = FindWindowA(SplashClassName, SplashTitle);
    if ((window != nullptr) == present || waited >= waitMs) return window;
    Sleep(20);
  }
}

void Pump(int ms) {
  for (int i = 0; i < ms / 10; ++i, Sleep(10)) {
    for (MSG m; PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE);) DispatchMessageA(&m);
  }
}

// Position among the top-level windows, 0 the topmost.
int ZOrder(HWND window) {
  int position = 0;
  for (HWND w = GetTopWindow(nullptr); w != nullptr && w != window; w = GetWindow(w, GW_HWNDNEXT)) ++position;
  return position;
}

int Find(DWORD waitMs) {
  HWND splash = WaitFor(waitMs, true);
  printf("found=%d\n", splash != nullptr);
  if (splash == nullptr) return 0;
  RECT r;
  GetWindowRect(splash, &r);
  printf("rect=%ld,%ld,%ld,%ld\nthread=%lu\n", r.left, r.top, r.right, r.bottom,
         GetWindowThreadProcessId(splash, nullptr));
  HWND mine = CreateWindowExA(0, "STATIC", "cover", WS_POPUP | WS_VISIBLE, r.left, r.top,
                              r.right - r.left, r.bottom - r.top, nullptr, nullptr, nullptr, nullptr);
  SetForegroundWindow(mine);
  Pump(300);
  printf("mine_foreground=%d\nabove_mine=%d\n", GetForegroundWindow() == mine,
         ZOrder(splash) < ZOrder(mine));
  SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  INPUT click[2] = {};
  click[0].type = click[1].type = INPUT_MOUSE;
  click[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  click[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(2, click, sizeof(INPUT));
  Pump(300);
  printf("click_activated=%d\n", GetForegroundWindow() != mine);
  DestroyWindow(mine);
  // Palette news, and WM_USER sent to the window rather than to its thread.
  SendMessageA(splash, WM_QUERYNEWPALETTE, 0, 0);
  SendMessageA(splash, WM_PALETTECHANGED, reinterpret_cast<WPARAM>(GetDesktopWindow()), 0);
  PostMessageA(splash, WM_USER, 0, 0);
  Sleep(300);
  printf("alive=%d\n", IsWindowVisible(splash) != 0);
  return 0;
}

int Box(DWORD waitMs) {
  HWND splash = WaitFor(waitMs, true);
  DWORD process = 0;
  if (splash) GetWindowThreadProcessId(splash, &process);
  HWND box = nullptr;
  for (DWORD waited = 0; splash && !box && waited < waitMs; waited += 20, Sleep(20)) {
    for (HWND w = GetTopWindow(nullptr); w && !box; w = GetWindow(w, GW_HWNDNEXT)) {
      char name[16] = "";
      GetClassNameA(w, name, sizeof name);
      DWORD owner = 0;
      GetWindowThreadProcessId(w, &owner);
      if (owner == process && IsWindowVisible(w) && strcmp(name, "#32770") == 0) box = w;
    }
  }
  printf("found=%d\nbox_found=%d\n", splash != nullptr, box != nullptr);
  if (!box) return 0;
  Sleep(300);  // let both settle in their final order
  printf("splash_visible=%d\nbox_above=%d\n", IsWindowVisible(splash) != 0,
         ZOrder(box) < ZOrder(splash));
  fflush(stdout);
  PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
  return 0;
}

BOOL CALLBACK TakeFirst(HWND window, LPARAM found) {
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

// Each message is reported as <name>.realised=<RealizePalette calls> and
// <name>.foreground=<selections of the splash palette not forced to the background>.
int Palette() {
  SplashHandOver handOver = {CreateBitmap(40, 30, 1, 32, nullptr), CreateEventA(0, 1, 0, 0)};
  DWORD thread = 0;
  CloseHandle(CreateThread(nullptr, 0, SplashThreadProc, &handOver, 0, &thread));
  WaitForSingleObject(handOver.ready, 5000);
  HWND splash = nullptr;
  EnumThreadWindows(thread, TakeFirst, reinterpret_cast<LPARAM>(&splash));
  struct Step { const char* name; UINT message; WPARAM wParam; } steps[] = {
      {"self", WM_PALETTECHANGED, reinterpret_cast<WPARAM>(splash)},
      {"query", WM_QUERYNEWPALETTE, 0},
      {"other", WM_PALETTECHANGED, reinterpret_cast<WPARAM>(GetDesktopWindow())},
      {"query_again", WM_QUERYNEWPALETTE, 0}};
  printf("found=%d\n", splash != nullptr);
  for (const Step& s : steps) {
    realisations = foregroundSelections = 0;
    SendMessageA(splash, s.message, s.wParam, 0);
    UpdateWindow(splash);  // a realisation that invalidates paints with the palette
    printf("%s.realised=%d\n%s.foreground=%d\n", s.name, realisations, s.name, foregroundSelections);
  }
  PostThreadMessageA(thread, WM_USER, 0, 0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  DWORD wait = argc > 2 ? strtoul(argv[2], nullptr, 10) : 0;
  if (argc == 3 && strcmp(argv[1], "find") == 0) return Find(wait);
  if (argc == 3 && strcmp(argv[1], "gone") == 0) return printf("gone=%d\n", !WaitFor(wait, false)), 0;
  if (argc == 3 && strcmp(argv[1], "box") == 0) return Box(wait);
  if (argc == 2 && strcmp(argv[1], "palette") == 0) return Palette();
  fprintf(stderr, "usage: splash_inspect find|gone|box WAIT_MS | palette\n");
  return 2;
}
