// A runtime library for the end-to-end tests: writes down, as key=value lines, what the
// launcher handed over, and returns the result that the test asks for. It reads:
//   CINE_REPORT the report file;  CINE_RESULT the result (default 7; "exit" ends the
//   process on the spot, as a crash would);  CINE_READY a file it makes once reported;
//   CINE_WAIT_FOR a file it waits for before returning;  CINE_SNAPSHOT a folder it copies
//   the work folder's files to;  CINE_CLOSE_SPLASH "1": it calls closeSplash, waits for the
//   splash thread to end and calls it again.
// since_start_us, the microseconds from process creation to the entry, is for the benchmarks.
#include <windows.h>
#include "launcher/launch_params.h"

namespace {

HANDLE report = INVALID_HANDLE_VALUE;

void WriteLine(const char* key, const char* value) {
  char line[MAX_PATH * 2 + 64];
  DWORD written = 0;
  int length = wsprintfA(line, "%s=%s\r\n", key, value);
  if (report != INVALID_HANDLE_VALUE) WriteFile(report, line, length, &written, 0);
}

void WriteNumber(const char* key, long long value) {
  char text[32];
  wsprintfA(text, "%I64d", value);
  WriteLine(key, text);
}

int ParseInteger(const char* text) {
  int value = 0;
  for (const char* c = text + (*text == '-'); *c >= '0' && *c <= '9'; ++c)
    value = value * 10 + (*c - '0');
  return *text == '-' ? -value : value;
}

int ReadVariable(const char* name, char* value) {
  DWORD length = GetEnvironmentVariableA(name, value, MAX_PATH);
  return length > 0 && length < MAX_PATH;
}

void WaitForFile(const char* path) {
  for (int i = 0; i < 6000 && GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(10);
}

// One "workfile.NAME=SIZE ATTRIBUTES" line per entry, its name in UTF-8 whatever the code
// page, copied to CINE_SNAPSHOT if asked.
void ReportWorkFolder(const char* folder) {
  char snapshot[MAX_PATH] = "", key[MAX_PATH * 3], value[32];
  WCHAR pattern[MAX_PATH + 8], from[MAX_PATH * 2], to[MAX_PATH * 2], wideSnapshot[MAX_PATH];
  int copying = ReadVariable("CINE_SNAPSHOT", snapshot);
  if (copying) CreateDirectoryA(snapshot, 0);
  MultiByteToWideChar(CP_ACP, 0, snapshot, -1, wideSnapshot, MAX_PATH);
  MultiByteToWideChar(CP_ACP, 0, folder, -1, pattern, MAX_PATH);
  lstrcatW(pattern, L"*");
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (found.cFileName[0] == '.') continue;
    lstrcpyA(key, "workfile.");
    WideCharToMultiByte(CP_UTF8, 0, found.cFileName, -1, key + 9, sizeof key - 9, 0, 0);
    wsprintfA(value, "%lu %lx", found.nFileSizeLow, found.dwFileAttributes);
    WriteLine(key, value);
    lstrcpyW(from, pattern);
    lstrcpyW(from + lstrlenW(from) - 1, found.cFileName);
    wsprintfW(to, L"%s\\%s", wideSnapshot, found.cFileName);
    if (copying) CopyFileW(from, to, FALSE);
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

// "WxH@BPP" for every image of the executable's "CINEMORPH" icon group that Windows makes
// an icon of, space-separated.
void ReportIcons() {
  HMODULE exe = GetModuleHandleA(0);
  HRSRC group = FindResourceA(exe, "CINEMORPH", MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
  const BYTE* entries = group ? static_cast<const BYTE*>(LoadResource(exe, group)) : 0;
  char made[512] = "";
  for (int i = 0; entries && i < *reinterpret_cast<const WORD*>(entries + 4); ++i) {
    // From the sixth byte, 14 a slot: width, height, colours, 0, planes, bits, size, id.
    const BYTE* slot = entries + 6 + 14 * i;
    WORD bits = *reinterpret_cast<const WORD*>(slot + 6);
    WORD id = *reinterpret_cast<const WORD*>(slot + 12);
    HRSRC image = FindResourceA(exe, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(3));  // RT_ICON
    BYTE* data = image ? static_cast<BYTE*>(LoadResource(exe, image)) : 0;
    HICON icon = data ? CreateIconFromResourceEx(data, SizeofResource(exe, image), TRUE, 0x00030000,
                                                 slot[0], slot[1], 0)
                      : 0;
    if (icon)
      wsprintfA(made + lstrlenA(made), "%s%ux%u@%u", *made ? " " : "", slot[0], slot[1], bits);
    if (icon) DestroyIcon(icon);
  }
  WriteLine("icons", made);
}

void CloseSplash(const LaunchParams* params) {
  // Opened before the close request, so a thread that ends at once is still seen.
  HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, params->splashThreadId);
  WriteNumber("close1", params->closeSplash(params->splashThreadId));
  DWORD waited = thread ? WaitForSingleObject(thread, 5000) : WAIT_FAILED;
  if (thread) CloseHandle(thread);
  WriteNumber("splash_thread_ended", waited == WAIT_OBJECT_0);
  WriteNumber("close2", params->closeSplash(params->splashThreadId));
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
        int RUNTIME_CONVENTION
    CinemorphMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand,
                  LaunchParams* params) {
  ULARGE_INTEGER now, created, unused;
  GetSystemTimeAsFileTime(reinterpret_cast<FILETIME*>(&now));
  GetProcessTimes(GetCurrentProcess(), reinterpret_cast<FILETIME*>(&created),
                  reinterpret_cast<FILETIME*>(&unused), reinterpret_cast<FILETIME*>(&unused),
                  reinterpret_cast<FILETIME*>(&unused));
  char path[MAX_PATH], value[MAX_PATH];
  if (ReadVariable("CINE_REPORT", path)) {
    report = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, 0, CREATE_ALWAYS, 0, 0);
  }
  WriteLine("called", "1");
  WriteNumber("since_start_us", static_cast<long long>(now.QuadPart - created.QuadPart) / 10);
  WriteNumber("instance_is_exe", instance == GetModuleHandleA(0));
  WriteNumber("previous", reinterpret_cast<LONG_PTR>(previous));
  WriteLine("cmdline", commandLine);
  WriteNumber("show", showCommand);
  WriteNumber("version", params->version);
  WriteNumber("size", params->size);
  WriteNumber("closeSplash_set", params->closeSplash != 0);
  WriteNumber("splashThreadId", params->splashThreadId);
  WriteLine("workFolder", params->workFolder ? params->workFolder : "(null)");
  WriteNumber("runtimeLocation", params->runtimeLocation);
  WriteNumber("payloadOption", params->payloadOption);
  GetCurrentDirectoryA(MAX_PATH, path);
  WriteLine("cwd", path);
  // The version Windows tells this process: past Windows 8 only a manifest that names the
  // system gets its true version.
  OSVERSIONINFOA os;
  os.dwOSVersionInfoSize = sizeof os;
  lstrcpyA(value, "unknown");
  if (GetVersionExA(&os)) wsprintfA(value, "%lu.%lu", os.dwMajorVersion, os.dwMinorVersion);
  WriteLine("os_version", value);
  GetModuleFileNameA(GetModuleHandleA("cine.dll"), path, MAX_PATH);
  WriteLine("runtime_path", path);
  // The launcher's test twin loads "cinecrt.dll" in place of msvcrt.dll: from where?
  HMODULE crt = GetModuleHandleA("cinecrt.dll");
  if (!crt || !GetModuleFileNameA(crt, path, MAX_PATH)) lstrcpyA(path, "(none)");
  WriteLine("crt_path", path);
  ReportIcons();
  if (params->workFolder) ReportWorkFolder(params->workFolder);
  if (params->workFolder && ReadVariable("CINE_LEAVE", value)) {
    wsprintfA(path, "%s%s", params->workFolder, value);
    CloseHandle(CreateFileA(path, GENERIC_WRITE, 0, 0, CREATE_NEW, FILE_ATTRIBUTE_READONLY, 0));
  }
  if (ReadVariable("CINE_CLOSE_SPLASH", value) && params->closeSplash) CloseSplash(params);

  int result = ReadVariable("CINE_RESULT", value) ? ParseInteger(value) : 7;
  WriteNumber("result", result);
  if (report != INVALID_HANDLE_VALUE) CloseHandle(report);
  if (ReadVariable("CINE_READY", value)) {
    HANDLE ready = CreateFileA(value, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
    if (ready != INVALID_HANDLE_VALUE) CloseHandle(ready);
  }
  if (ReadVariable("CINE_WAIT_FOR", value)) WaitForFile(value);
  if (ReadVariable("CINE_RESULT", value) && lstrcmpA(value, "exit") == 0) {
    TerminateProcess(GetCurrentProcess(), 9);
  }
  return result;
}
