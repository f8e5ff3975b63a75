// The splash thread's body: its window, message loop, painting and palette.
#pragma once
#include <windows.h>

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
