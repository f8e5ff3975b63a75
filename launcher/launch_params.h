// The parameter block and entry point through which the launcher hands over to cine.dll.
#pragma once
#include <stdint.h>
#include <windows.h>

// Where cine.dll was loaded from.
typedef uint32_t RuntimeLocation;
const RuntimeLocation RuntimeNowhere = 0;
const RuntimeLocation RuntimeBesideExecutable = 1;
const RuntimeLocation RuntimeInWorkFolder = 2;
const RuntimeLocation RuntimeInNodix = 3;
const RuntimeLocation RuntimeInSharedFolder = 4;

// The splash close callback: takes the splash thread identifier, returns the result
// of posting the close request. Both this and CinemorphMain use the Win32 calling
// convention (stdcall on i686), as every Win32 callback of the era does.
typedef BOOL(WINAPI* CloseSplashProc)(DWORD threadId);

// Seven 32-bit fields, 28 bytes.
struct LaunchParams {
  uint32_t version;             // 2
  uint32_t size;                // sizeof(LaunchParams)
  CloseSplashProc closeSplash;  // null when there is no splash
  uint32_t splashThreadId;      // 0 when there is no splash
  const char* workFolder;       // ends in a backslash; null without a work folder
  uint32_t runtimeLocation;     // a RuntimeLocation
  uint32_t payloadOption;       // bit 0x100 of the payload header's flags
};

const uint32_t LaunchParamsVersion = 2;

// What CinemorphMain returns, and what the launch does with it.
const int RuntimeReportedFailure = 0;  // RuntimeFailed; the process exits with 1
const int RuntimeAskedRestart = 1;     // a forced restart of Windows
const int RuntimeAskedShutdown = 2;    // a forced shutdown of Windows
// Any other value is a normal end. The launch keeps this one until the call.
const int RuntimeNotCalled = 3;

static_assert(sizeof(LaunchParams) == 28, "LaunchParams is 28 bytes");
static_assert(__builtin_offsetof(LaunchParams, payloadOption) == 24, "field order");

typedef int(WINAPI* CinemorphMainProc)(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine,
                                       int showCommand, LaunchParams* params);
