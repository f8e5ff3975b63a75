// Looks at a launcher's splash window from another process, for the end-to-end tests.
//
//   splash_inspect find WAIT_MS      wait for the window, print where and what it is
//   splash_inspect gone WAIT_MS      wait for the window to go, print gone=0|1
//   splash_inspect send STEPS        send palette messages (self, other, query) and
//                                    post WM_USER (user), printing the palette slot
//                                    after each step
//   splash_inspect click             click the window's middle, print who got the focus
//   splash_inspect box WAIT_MS ok|cancel|none   wait for the launcher's message box
//                                    while the splash shows, print their order and
//                                    where the box's text and the splash lie on the
//                                    screen, then answer (none: leave it open)
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char SplashClass[] = "SplashScreenWindowClass";
const char SplashTitle[] = "Quorvantix Splash Screen";

HWND WaitForSplash(DWORD waitMs) {
  for (DWORD waited = 0;; waited += 20) {
    HWND window = FindWindowA(SplashClass, SplashTitle);
    if (window != nullptr || waited >= waitMs) return window;
    Sleep(20);
  }
}

unsigned long PaletteSlot(HWND window) {
  return static_cast<unsigned long>(GetWindowLongA(window, 4));
}

int Find(DWORD waitMs) {
  HWND window = WaitForSplash(waitMs);
  if (window == nullptr) {
    printf("found=0\n");
    return 0;
  }
  RECT frame;
  GetWindowRect(window, &frame);
  RECT client;
  GetClientRect(window, &client);
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  DWORD processId = 0;
  DWORD threadId = GetWindowThreadProcessId(window, &processId);
  char className[64] = {0};
  GetClassNameA(window, className, sizeof className);
  printf("found=1\n");
  printf("class=%s\n", className);
  printf("rect=%ld,%ld,%ld,%ld\n", frame.left, frame.top, frame.right, frame.bottom);
  printf("client=%ld,%ld,%ld,%ld\n", origin.x, origin.y, origin.x + client.right,
         origin.y + client.bottom);
  printf("style=%08lx\n", static_cast<unsigned long>(GetWindowLongA(window, GWL_STYLE)));
  printf("exstyle=%08lx\n", static_cast<unsigned long>(GetWindowLongA(window, GWL_EXSTYLE)));
  printf("enabled=%d\n", IsWindowEnabled(window) ? 1 : 0);
  printf("visible=%d\n", IsWindowVisible(window) ? 1 : 0);
  printf("owner=%d\n", GetWindow(window, GW_OWNER) != nullptr ? 1 : 0);
  printf("thread=%lu\n", threadId);
  printf("bitmap_slot_set=%d\n", GetWindowLongA(window, 0) != 0 ? 1 : 0);
  printf("palette_slot=%lx\n", PaletteSlot(window));
  return 0;
}

int Gone(DWORD waitMs) {
  for (DWORD waited = 0;; waited += 20) {
    if (FindWindowA(SplashClass, SplashTitle) == nullptr) {
      printf("gone=1\n");
      return 0;
    }
    if (waited >= waitMs) break;
    Sleep(20);
  }
  printf("gone=0\n");
  return 0;
}

// Each step is reported as step<N>.<name>=<palette slot after it>, with the message's
// result where it has one.
int Send(const char* steps) {
  HWND window = WaitForSplash(10000);
  if (window == nullptr) {
    printf("found=0\n");
    return 0;
  }
  printf("found=1\npalette_initial=%lx\n", PaletteSlot(window));
  std::string list = steps;
  size_t start = 0;
  for (int n = 1; start <= list.size(); ++n) {
    size_t comma = list.find(',', start);
    std::string step = list.substr(start, comma == std::string::npos ? std::string::npos
                                                                      : comma - start);
    start = comma == std::string::npos ? list.size() + 1 : comma + 1;
    LRESULT result = 0;
    if (step == "self") {
      result = SendMessageA(window, WM_PALETTECHANGED, reinterpret_cast<WPARAM>(window), 0);
    } else if (step == "other") {
      result = SendMessageA(window, WM_PALETTECHANGED,
                            reinterpret_cast<WPARAM>(GetDesktopWindow()), 0);
    } else if (step == "query") {
      result = SendMessageA(window, WM_QUERYNEWPALETTE, 0, 0);
    } else if (step == "user") {
      result = PostMessageA(window, WM_USER, 0, 0);
      Sleep(500);
      printf("step%d.alive=%d\n", n, IsWindow(window) && IsWindowVisible(window) ? 1 : 0);
    } else {
      fprintf(stderr, "splash_inspect: unknown step %s\n", step.c_str());
      return 2;
    }
    printf("step%d.%s=%lx\nstep%d.result=%ld\n", n, step.c_str(), PaletteSlot(window), n,
           static_cast<long>(result));
  }
  return 0;
}

int Click() {
  HWND window = WaitForSplash(10000);
  if (window == nullptr) {
    printf("found=0\n");
    return 0;
  }
  // A window of our own takes the foreground first, so that a click that activated
  // the splash would show.
  HWND mine = CreateWindowExA(0, "STATIC", "splash_inspect", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                              0, 0, 200, 100, nullptr, nullptr, GetModuleHandleA(nullptr),
                              nullptr);
  SetForegroundWindow(mine);
  for (int i = 0; i < 30 && GetForegroundWindow() != mine; ++i) {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
    Sleep(10);
  }
  printf("foreground_before_is_mine=%d\n", GetForegroundWindow() == mine ? 1 : 0);
  RECT frame;
  GetWindowRect(window, &frame);
  SetCursorPos((frame.left + frame.right) / 2, (frame.top + frame.bottom) / 2);
  INPUT clicks[2];
  memset(clicks, 0, sizeof clicks);
  clicks[0].type = INPUT_MOUSE;
  clicks[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  clicks[1].type = INPUT_MOUSE;
  clicks[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  UINT sent = SendInput(2, clicks, sizeof(INPUT));
  for (int i = 0; i < 30; ++i) {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
    Sleep(10);
  }
  printf("found=1\nsent=%u\n", sent);
  printf("under_cursor_is_splash=%d\n",
         WindowFromPoint(POINT{(frame.left + frame.right) / 2,
                               (frame.top + frame.bottom) / 2}) == window
             ? 1
             : 0);
  printf("foreground_is_splash=%d\n", GetForegroundWindow() == window ? 1 : 0);
  printf("foreground_is_mine=%d\n", GetForegroundWindow() == mine ? 1 : 0);
  printf("alive=%d\n", IsWindow(window) && IsWindowVisible(window) ? 1 : 0);
  DestroyWindow(mine);
  return 0;
}

struct BoxSearch {
  DWORD processId;
  HWND box;
};

BOOL CALLBACK FindBox(HWND window, LPARAM context) {
  BoxSearch* search = reinterpret_cast<BoxSearch*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  char className[64] = {0};
  GetClassNameA(window, className, sizeof className);
  if (owner != search->processId || !IsWindowVisible(window)) return TRUE;
  if (strcmp(className, "#32770") != 0) return TRUE;
  search->box = window;
  return FALSE;
}

// Position of `window` among the top-level windows, 0 being the topmost.
int ZOrder(HWND window) {
  int position = 0;
  for (HWND w = GetTopWindow(nullptr); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
    if (w == window) return position;
    ++position;
  }
  return -1;
}

// The box's message text: its longest visible static control.
struct TextSearch {
  HWND control;
  int length;
};

BOOL CALLBACK FindText(HWND child, LPARAM context) {
  TextSearch* search = reinterpret_cast<TextSearch*>(context);
  char className[64] = {0};
  GetClassNameA(child, className, sizeof className);
  if (_stricmp(className, "Static") != 0 || !IsWindowVisible(child)) return TRUE;
  int length = GetWindowTextLengthA(child);
  if (length > search->length) *search = TextSearch{child, length};
  return TRUE;
}

void PrintScreenRect(const char* key, HWND window, bool client) {
  RECT r;
  if (client) {
    GetClientRect(window, &r);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&r), 2);
  } else {
    GetWindowRect(window, &r);
  }
  printf("%s=%ld,%ld,%ld,%ld\n", key, r.left, r.top, r.right, r.bottom);
}

int Box(DWORD waitMs, const char* answer) {
  HWND splash = WaitForSplash(waitMs);
  if (splash == nullptr) {
    printf("found=0\n");
    return 0;
  }
  DWORD processId = 0;
  GetWindowThreadProcessId(splash, &processId);
  BoxSearch search = {processId, nullptr};
  for (DWORD waited = 0; search.box == nullptr && waited < waitMs; waited += 20) {
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    if (search.box == nullptr) Sleep(20);
  }
  printf("found=1\nbox_found=%d\n", search.box != nullptr ? 1 : 0);
  if (search.box == nullptr) return 0;
  Sleep(300);  // let both settle in their final order
  printf("splash_visible=%d\n", IsWindowVisible(splash) ? 1 : 0);
  printf("splash_topmost=%d\n", (GetWindowLongA(splash, GWL_EXSTYLE) & WS_EX_TOPMOST) ? 1 : 0);
  printf("box_topmost=%d\n", (GetWindowLongA(search.box, GWL_EXSTYLE) & WS_EX_TOPMOST) ? 1 : 0);
  printf("splash_z=%d\nbox_z=%d\n", ZOrder(splash), ZOrder(search.box));
  printf("foreground_is_box=%d\n", GetForegroundWindow() == search.box ? 1 : 0);
  TextSearch text = {nullptr, 0};
  EnumChildWindows(search.box, FindText, reinterpret_cast<LPARAM>(&text));
  if (text.control != nullptr) PrintScreenRect("text_rect", text.control, true);
  PrintScreenRect("splash_client", splash, true);
  fflush(stdout);
  if (strcmp(answer, "none") == 0) return 0;
  int id = strcmp(answer, "cancel") == 0 ? IDCANCEL : IDOK;
  HWND button = GetDlgItem(search.box, id);
  if (button != nullptr) PostMessageA(button, BM_CLICK, 0, 0);
  else PostMessageA(search.box, WM_COMMAND, id, 0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "find") == 0) return Find(strtoul(argv[2], nullptr, 10));
  if (argc == 3 && strcmp(argv[1], "gone") == 0) return Gone(strtoul(argv[2], nullptr, 10));
  if (argc == 3 && strcmp(argv[1], "send") == 0) return Send(argv[2]);
  if (argc == 2 && strcmp(argv[1], "click") == 0) return Click();
  if (argc == 4 && strcmp(argv[1], "box") == 0) {
    return Box(strtoul(argv[2], nullptr, 10), argv[3]);
  }
  fprintf(stderr, "usage: splash_inspect find|gone|send|click|box ... (see the source)\n");
  return 2;
}
