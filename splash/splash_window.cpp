// The splash thread's body: its window, message loop, painting and palette.
#include "splash/splash_window.h"
#include "splash/splash_geometry.h"
#include "splash/splash_palette.h"

namespace {

const char SplashClassName[] = "SplashScreenWindowClass";
const char SplashTitle[] = "Quorvantix Splash Screen";
// WS_POPUP | WS_DISABLED | WS_BORDER: no caption, a thin border, no input.
const DWORD SplashStyle = 0x88800000;
// WS_EX_TOPMOST | WS_EX_TOOLWINDOW: above ordinary windows, no taskbar button.
const DWORD SplashExStyle = 0x88;
// The two 32-bit window slots: the bitmap (owned by the thread) and the palette
// (owned by the window, created when first needed).
const int SplashSlotBitmap = 0;
const int SplashSlotPalette = 4;
const int SplashWindowExtra = 8;

// The window procedure and what it calls, in the order the thread needs them.
BOOL RegisterSplashClass();
// Creates, places and shows the window for `bitmap`; null on failure.
HWND CreateSplashWindow(HBITMAP bitmap);
LRESULT CALLBACK SplashWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Realises the splash palette as a background palette; true when any entry was mapped.
BYTE RealizeSplashPalette(HWND window);
HPALETTE CreateSplashPalette();
// Copies the update rectangle from the bitmap; 0 when it was drawn, 1 otherwise.
LRESULT PaintSplash(HWND window);

// The two slots are 32-bit window values, as the handles are.
HGDIOBJ ReadSlot(HWND window, int slot) {
  return reinterpret_cast<HGDIOBJ>(static_cast<LONG_PTR>(GetWindowLongA(window, slot)));
}

void WriteSlot(HWND window, int slot, HGDIOBJ handle) {
  SetWindowLongA(window, slot, static_cast<LONG>(reinterpret_cast<LONG_PTR>(handle)));
}

// LOGPALETTE with room for the whole splash palette.
struct SplashLogPalette {
  WORD palVersion;
  WORD palNumEntries;
  PALETTEENTRY palPalEntry[SplashPaletteSize];
};

static_assert(sizeof(SplashColor) == sizeof(PALETTEENTRY), "entry layout");

}  // namespace

DWORD WINAPI SplashThreadProc(LPVOID parameter) {
  const SplashHandOver* handOver = static_cast<const SplashHandOver*>(parameter);
  HBITMAP bitmap = handOver->bitmap;
  HANDLE ready = handOver->ready;
  MSG message;
  // The message queue comes first, so that a close request posted from here on waits
  // in it, even one that comes before the window: the loop below takes it once the
  // window is up.
  PeekMessageA(&message, 0, WM_USER, WM_USER, PM_NOREMOVE);
  HWND window = RegisterSplashClass() ? CreateSplashWindow(bitmap) : 0;
  // StartSplash waits for this: the runtime is called only once the window is up (or
  // will never be), so its request always finds it, and a failure message shown later
  // comes up above the splash.
  if (ready != 0) SetEvent(ready);
  if (window == 0) {
    DeleteObject(bitmap);
    return 0;
  }
  message.wParam = 0;
  // GetMessageA fails (-1) only for a bad window filter, and this one is null; should
  // it ever fail, ending the loop beats spinning on it.
  while (GetMessageA(&message, 0, 0, 0) > 0) {
    // The close request is a thread message: no window, so it never reaches the
    // window procedure. WM_USER sent to the window itself is an ordinary message.
    if (message.hwnd == 0 && message.message == WM_USER) {
      DestroyWindow(window);
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  // The window is gone by now (or goes with the thread), so nothing paints with it.
  DeleteObject(bitmap);
  return static_cast<DWORD>(message.wParam);
}

namespace {

BOOL RegisterSplashClass() {
  WNDCLASSA splashClass;
  splashClass.style = 0;
  splashClass.lpfnWndProc = SplashWndProc;
  splashClass.cbClsExtra = 0;
  splashClass.cbWndExtra = SplashWindowExtra;
  splashClass.hInstance = GetModuleHandleA(0);
  splashClass.hIcon = 0;
  splashClass.hCursor = LoadCursorA(0, MAKEINTRESOURCEA(32512));
  splashClass.hbrBackground = 0;
  splashClass.lpszMenuName = 0;
  splashClass.lpszClassName = SplashClassName;
  return RegisterClassA(&splashClass) != 0;
}

HWND CreateSplashWindow(HBITMAP bitmap) {
  int x = static_cast<int>(CW_USEDEFAULT);
  int y = 0;
  int width = static_cast<int>(CW_USEDEFAULT);
  int height = 0;
  BITMAP description;
  if (GetObjectA(bitmap, sizeof(description), &description) != 0) {
    RECT frame = {0, 0, description.bmWidth, description.bmHeight};
    AdjustWindowRectEx(&frame, SplashStyle, FALSE, SplashExStyle);
    RECT desktop = {0, 0, 0, 0};
    GetWindowRect(GetDesktopWindow(), &desktop);
    SplashPlacement place =
        CenterSplashWindow(SplashRect{frame.left, frame.top, frame.right, frame.bottom},
                           SplashRect{desktop.left, desktop.top, desktop.right, desktop.bottom});
    x = place.x;
    y = place.y;
    width = place.width;
    height = place.height;
  }
  HWND window = CreateWindowExA(SplashExStyle, SplashClassName, SplashTitle, SplashStyle, x, y,
                                width, height, 0, 0, GetModuleHandleA(0), 0);
  if (window == 0) return 0;
  WriteSlot(window, SplashSlotBitmap, bitmap);
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  return window;
}

LRESULT CALLBACK SplashWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY: {
      HGDIOBJ palette = ReadSlot(window, SplashSlotPalette);
      if (palette != 0) {
        WriteSlot(window, SplashSlotPalette, 0);
        DeleteObject(palette);
      }
      PostQuitMessage(0);
      return 0;
    }
    case WM_PAINT:
      return PaintSplash(window);
    case WM_ERASEBKGND:
      // The bitmap covers the whole client area; erasing would only flicker.
      return 0;
    case WM_QUERYNEWPALETTE:
      return RealizeSplashPalette(window);
    case WM_PALETTECHANGED:
      // Our own realisation changes the palette too; answering it would loop.
      if (reinterpret_cast<HWND>(wParam) != window) RealizeSplashPalette(window);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

BYTE RealizeSplashPalette(HWND window) {
  HPALETTE palette = static_cast<HPALETTE>(ReadSlot(window, SplashSlotPalette));
  if (palette == 0) {
    palette = CreateSplashPalette();
    if (palette == 0) return 0;
    WriteSlot(window, SplashSlotPalette, palette);
  }
  HDC dc = GetDC(window);
  if (dc == 0) return 0;
  // Always a background palette: the splash must not disturb the colours of the
  // window that has the focus.
  HPALETTE previous = SelectPalette(dc, palette, TRUE);
  UnrealizeObject(palette);
  BYTE realized = RealizePalette(dc) != 0;
  if (realized) InvalidateRect(window, 0, TRUE);
  SelectPalette(dc, previous, TRUE);
  ReleaseDC(window, dc);
  return realized;
}

HPALETTE CreateSplashPalette() {
  SplashColor colors[SplashPaletteSize];
  FillSplashPalette(colors);
  SplashLogPalette log;
  log.palVersion = SplashPaletteVersion;
  log.palNumEntries = static_cast<WORD>(SplashPaletteSize);
  for (uint32_t i = 0; i < SplashPaletteSize; ++i) {
    log.palPalEntry[i].peRed = colors[i].red;
    log.palPalEntry[i].peGreen = colors[i].green;
    log.palPalEntry[i].peBlue = colors[i].blue;
    log.palPalEntry[i].peFlags = colors[i].flags;
  }
  return CreatePalette(reinterpret_cast<LOGPALETTE*>(&log));
}

LRESULT PaintSplash(HWND window) {
  LRESULT result = 1;
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  if (dc == 0) return 1;
  HPALETTE palette = static_cast<HPALETTE>(ReadSlot(window, SplashSlotPalette));
  HPALETTE previousPalette = 0;
  if (palette != 0) previousPalette = SelectPalette(dc, palette, TRUE);
  HGDIOBJ bitmap = ReadSlot(window, SplashSlotBitmap);
  if (bitmap != 0) {
    HDC memory = CreateCompatibleDC(dc);
    if (memory != 0) {
      HGDIOBJ previous = SelectObject(memory, bitmap);
      // The client area has the bitmap's size, so window and bitmap coordinates agree.
      const RECT& r = paint.rcPaint;
      result = BitBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, memory, r.left, r.top,
                      SRCCOPY)
                   ? 0
                   : 1;
      if (previous != 0) SelectObject(memory, previous);
      DeleteDC(memory);
    }
  }
  if (previousPalette != 0) SelectPalette(dc, previousPalette, FALSE);
  EndPaint(window, &paint);
  return result;
}

}  // namespace
