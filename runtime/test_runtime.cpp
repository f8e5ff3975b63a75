// A runtime library for the end-to-end tests: writes down everything the launcher
// handed over and returns the result that the test asks for.
//
// Environment variables it reads (all optional):
//   CINE_REPORT     file to write the report to, as key=value lines
//   CINE_RESULT     the decimal result to return (default 7, a normal end)
//   CINE_READY      file to create once the report is written (the test may then look)
//   CINE_WAIT_FOR   file whose appearance it waits for before returning
//   CINE_SNAPSHOT   folder into which it copies the work folder's files
//   CINE_CLOSE_SPLASH  "1": call closeSplash, wait for the splash thread to end and
//                   call it again, reporting both results
//   CINE_CLOSE_WHEN file whose appearance it waits for before calling closeSplash;
//                   it also reports the GDI object types in the splash window's
//                   bitmap and palette slots before the close and after the thread ended
// It also reports since_start_us, the microseconds from its process's creation to its
// entry point.
#include <windows.h>
#include "launcher/launch_params.h"

namespace {

HANDLE report = INVALID_HANDLE_VALUE;

void Write(const char* text) {
  DWORD written = 0;
  int length = lstrlenA(text);
  if (report != INVALID_HANDLE_VALUE) WriteFile(report, text, length, &written, 0);
}

void WriteLine(const char* key, const char* value) {
  Write(key);
  Write("=");
  Write(value);
  Write("\r\n");
}

void WriteNumber(const char* key, long long value) {
  char text[32];
  wsprintfA(text, "%I64d", value);
  WriteLine(key, text);
}

void WriteHex(const char* key, const char* bytes) {
  static const char digits[] = "0123456789abcdef";
  char pair[3] = {0, 0, 0};
  Write(key);
  Write("=");
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes); *p; ++p) {
    pair[0] = digits[*p >> 4];
    pair[1] = digits[*p & 15];
    Write(pair);
  }
  Write("\r\n");
}

int ReadVariable(const char* name, char* value, DWORD capacity) {
  DWORD length = GetEnvironmentVariableA(name, value, capacity);
  return length > 0 && length < capacity;
}

int FileExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

void ReportWorkFolder(const char* folder) {
  char pattern[MAX_PATH + 8];
  char snapshot[MAX_PATH];
  int copying = ReadVariable("CINE_SNAPSHOT", snapshot, MAX_PATH);
  if (copying) CreateDirectoryA(snapshot, 0);
  lstrcpynA(pattern, folder, MAX_PATH);
  lstrcatA(pattern, "*");
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (lstrcmpA(found.cFileName, ".") == 0 || lstrcmpA(found.cFileName, "..") == 0) continue;
    char line[MAX_PATH + 64];
    wsprintfA(line, "%s %lu %lx", found.cFileName, found.nFileSizeLow, found.dwFileAttributes);
    WriteLine("workfile", line);
    if (copying && !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      char from[MAX_PATH * 2];
      char to[MAX_PATH * 2];
      wsprintfA(from, "%s%s", folder, found.cFileName);
      wsprintfA(to, "%s\\%s", snapshot, found.cFileName);
      CopyFileA(from, to, FALSE);
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

int ParseInteger(const char* text) {
  int sign = 1;
  int value = 0;
  if (*text == '-') {
    sign = -1;
    ++text;
  }
  while (*text >= '0' && *text <= '9') value = value * 10 + (*text++ - '0');
  return sign * value;
}

BOOL CALLBACK TakeFirstWindow(HWND window, LPARAM found) {
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

// Reports the GDI object type (0 when deleted) of a handle read from a window slot;
// gdi32 is looked up, as this library imports only kernel32 and user32.
void ReportObjectType(const char* key, LONG handle) {
  typedef DWORD(WINAPI * GetObjectTypeProc)(HGDIOBJ);
  GetObjectTypeProc objectType = reinterpret_cast<GetObjectTypeProc>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("gdi32.dll"), "GetObjectType")));
  DWORD type = 0;
  if (handle != 0 && objectType) {
    type = objectType(reinterpret_cast<HGDIOBJ>(static_cast<LONG_PTR>(handle)));
  }
  WriteNumber(key, type);
}

}  // namespace

extern "C" BOOL WINAPI RuntimeEntry(HINSTANCE, DWORD, LPVOID) { return TRUE; }

// Runtimes are built with either calling convention; the launcher must take both.
#ifdef CINE_RUNTIME_CDECL
#define RUNTIME_CONVENTION __cdecl
#else
#define RUNTIME_CONVENTION WINAPI
#endif

extern "C"
#ifndef CINE_RUNTIME_NO_EXPORT
    __declspec(dllexport)
#endif
    int RUNTIME_CONVENTION CinemorphMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine,
                                         int showCommand, LaunchParams* params) {
  // Taken first, for the benchmarks: the time from the process's creation to here.
  FILETIME now, created, exited, kernelTime, userTime;
  GetSystemTimeAsFileTime(&now);
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernelTime, &userTime);
  char path[MAX_PATH];
  if (ReadVariable("CINE_REPORT", path, MAX_PATH)) {
    report = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, 0, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, 0);
  }
  WriteLine("called", "1");
  ULARGE_INTEGER nowTicks = {{now.dwLowDateTime, now.dwHighDateTime}};
  ULARGE_INTEGER createdTicks = {{created.dwLowDateTime, created.dwHighDateTime}};
  WriteNumber("since_start_us",
              static_cast<long long>(nowTicks.QuadPart - createdTicks.QuadPart) / 10);
  WriteNumber("instance_is_exe", instance == GetModuleHandleA(0));
  WriteNumber("previous", reinterpret_cast<LONG_PTR>(previous));
  WriteLine("cmdline", commandLine);
  WriteHex("cmdline_hex", commandLine);
  WriteNumber("show", showCommand);
  WriteNumber("version", params->version);
  WriteNumber("size", params->size);
  WriteNumber("sizeof", sizeof(LaunchParams));
  WriteNumber("closeSplash_set", params->closeSplash != 0);
  WriteNumber("splashThreadId", params->splashThreadId);
  WriteLine("workFolder", params->workFolder ? params->workFolder : "(null)");
  WriteNumber("runtimeLocation", params->runtimeLocation);
  WriteNumber("payloadOption", params->payloadOption);
  char directory[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, directory);
  WriteLine("cwd", directory);
  HMODULE self = 0;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&RuntimeEntry), &self);
  GetModuleFileNameA(self, path, MAX_PATH);
  WriteLine("runtime_path", path);
  WriteNumber("msvcrt_loaded", GetModuleHandleA("msvcrt.dll") != 0);
  WriteNumber("crt_twin_loaded", GetModuleHandleA("cinecrt.dll") != 0);
  if (params->workFolder) ReportWorkFolder(params->workFolder);

  char value[MAX_PATH];
  if (ReadVariable("CINE_CLOSE_SPLASH", value, MAX_PATH) && params->closeSplash) {
    LONG bitmap = 0;
    LONG palette = 0;
    int inspecting = ReadVariable("CINE_CLOSE_WHEN", value, MAX_PATH);
    if (inspecting) {
      for (int i = 0; i < 6000 && !FileExists(value); ++i) Sleep(10);
      HWND splash = 0;
      EnumThreadWindows(params->splashThreadId, TakeFirstWindow,
                        reinterpret_cast<LPARAM>(&splash));
      if (splash) bitmap = GetWindowLongA(splash, 0);
      if (splash) palette = GetWindowLongA(splash, 4);
      ReportObjectType("splash_bitmap_type_before", bitmap);
      ReportObjectType("splash_palette_type_before", palette);
    }
    // Opened before the close request, so a thread that ends at once is still seen.
    HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, params->splashThreadId);
    WriteNumber("close1", params->closeSplash(params->splashThreadId));
    DWORD waited = thread ? WaitForSingleObject(thread, 5000) : WAIT_FAILED;
    if (thread) CloseHandle(thread);
    WriteNumber("splash_thread_ended", waited == WAIT_OBJECT_0);
    WriteNumber("close2", params->closeSplash(params->splashThreadId));
    if (inspecting) {
      ReportObjectType("splash_bitmap_type_after", bitmap);
      ReportObjectType("splash_palette_type_after", palette);
    }
  }

  int result = 7;
  if (ReadVariable("CINE_RESULT", value, MAX_PATH)) result = ParseInteger(value);
  WriteNumber("result", result);
  if (report != INVALID_HANDLE_VALUE) CloseHandle(report);

  if (ReadVariable("CINE_READY", value, MAX_PATH)) {
    HANDLE ready = CreateFileA(value, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
    if (ready != INVALID_HANDLE_VALUE) CloseHandle(ready);
  }
  if (ReadVariable("CINE_WAIT_FOR", value, MAX_PATH)) {
    for (int i = 0; i < 6000 && !FileExists(value); ++i) Sleep(10);
  }
  return result;
}
