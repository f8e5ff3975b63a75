// The splash thread's body: its window class, window, message loop, painting and palette.
#pragma once
#include <windows.h>

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

// What StartSplash hands the splash thread: the bitmap, which the thread takes over,
// and an event (may be null) that the thread sets once it can take the close request:
// its message queue exists and its window is up, or it has given up on the window.
struct SplashHandOver {
  HBITMAP bitmap;
  HANDLE ready;
};

// Shows the bitmap of `parameter`, a SplashHandOver, until the close request (a
// WM_USER thread message) arrives. Returns the WM_QUIT code, or 0 when no window
// could be made.
DWORD WINAPI SplashThreadProc(LPVOID parameter);

BOOL RegisterSplashClass();
// Creates, places and shows the window for `bitmap`; null on failure.
HWND CreateSplashWindow(HBITMAP bitmap);
LRESULT CALLBACK SplashWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Realises the splash palette as a background palette; true when any entry was mapped.
BYTE RealizeSplashPalette(HWND window);
HPALETTE CreateSplashPalette();
// Copies the update rectangle from the bitmap; 0 when it was drawn, 1 otherwise.
LRESULT PaintSplash(HWND window);
