// The system's paths in ANSI form, read through the wide calls on the NT family.
#include "base/paths.h"
#include "base/system_paths.h"
#include "base/windows_version.h"

namespace {

typedef DWORD(WINAPI* GetModuleFileNameWCall)(HMODULE, LPWSTR, DWORD);
typedef DWORD(WINAPI* GetTempPathWCall)(DWORD, LPWSTR);
typedef DWORD(WINAPI* GetShortPathNameWCall)(LPCWSTR, LPWSTR, DWORD);
typedef DWORD(WINAPI* GetCurrentDirectoryWCall)(DWORD, LPWSTR);
typedef BOOL(WINAPI* SetCurrentDirectoryWCall)(LPCWSTR);

// A wide call of kernel32, or null. Windows 95 and 98 lack some of them and stub the
// others, so they are looked up at run time, and only on the NT family: the launcher
// still loads there, and reads its paths with the ANSI calls as it always has.
template <typename Call>
Call WideCall(const char* name) {
  if (!IsWindowsNT()) return 0;
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel == 0) return 0;
  return reinterpret_cast<Call>(reinterpret_cast<void*>(GetProcAddress(kernel, name)));
}

LPWSTR AsWin32(WideChar* text) { return reinterpret_cast<LPWSTR>(text); }
LPCWSTR AsWin32(const WideChar* text) { return reinterpret_cast<LPCWSTR>(text); }

uint32_t ToAnsi(void*, const WideChar* wide, char* ansi, uint32_t capacity) {
  return WideCharToMultiByte(CP_ACP, 0, AsWin32(wide), -1, ansi, capacity, 0, 0);
}

uint32_t ToWide(void*, const char* ansi, WideChar* wide, uint32_t capacity) {
  return MultiByteToWideChar(CP_ACP, 0, ansi, -1, AsWin32(wide), capacity);
}

uint32_t GetShortPath(void*, const WideChar* path, WideChar* shortPath, uint32_t capacity) {
  GetShortPathNameWCall getShortPath = WideCall<GetShortPathNameWCall>("GetShortPathNameW");
  return getShortPath != 0 ? getShortPath(AsWin32(path), AsWin32(shortPath), capacity) : 0;
}

const AnsiPathCalls SystemConversions = {0, ToAnsi, ToWide, GetShortPath};

}  // namespace

int SystemLeadByte(uint8_t byte) { return IsDBCSLeadByte(byte); }

// Where a name has neither a faithful ANSI form nor a short one (short names turned off
// on its volume), there is no ANSI path to the file at all: the caller fails as it did
// when it was handed the "?" form, which names no file, and no "?" ever reaches a file
// call, where it would be a wildcard that matches other files.
int ToSystemAnsiPath(const WideChar* wide, char* ansi, uint32_t capacity) {
  return MakeAnsiPath(&SystemConversions, wide, ansi, capacity);
}

int GetModuleWidePath(HMODULE module, WideChar* path) {
  GetModuleFileNameWCall getModuleFileName = WideCall<GetModuleFileNameWCall>("GetModuleFileNameW");
  if (getModuleFileName == 0) return 0;
  DWORD length = getModuleFileName(module, AsWin32(path), WidePathCapacity);
  return length != 0 && length < WidePathCapacity;
}

int GetModulePath(HMODULE module, char* path, uint32_t capacity) {
  WideChar wide[WidePathCapacity];
  if (GetModuleWidePath(module, wide)) return ToSystemAnsiPath(wide, path, capacity);
  DWORD length = GetModuleFileNameA(module, path, capacity);
  return length != 0 && length < capacity;
}

int GetTemporaryPath(char* path) {
  GetTempPathWCall getTempPath = WideCall<GetTempPathWCall>("GetTempPathW");
  DWORD length = 0;
  if (getTempPath != 0) {
    WideChar wide[WidePathCapacity];
    length = getTempPath(WidePathCapacity, AsWin32(wide));
    if (length != 0 && length < WidePathCapacity) {
      return ToSystemAnsiPath(wide, path, PathCapacity);
    }
  } else {
    length = GetTempPathA(PathCapacity, path);
    // A path too long for the buffer is not written: GetTempPathA reports the length
    // it needs instead.
    if (length != 0 && length < PathCapacity) return 1;
  }
  path[0] = 0;
  return 0;
}

// A current directory may be as long as Windows allows: 259 characters, MAX_PATH with
// the terminator. On the NT family it is saved in its wide form, which holds that many
// characters whatever the code page (in a double-byte one the ANSI form may take twice
// as many bytes) and puts back a directory the code page cannot spell. Windows 95 and
// 98 keep paths in ANSI, within MAX_PATH bytes.
int SaveCurrentDirectory(SavedDirectory* saved) {
  saved->wide[0] = 0;
  saved->ansi[0] = 0;
  GetCurrentDirectoryWCall getCurrentDirectory =
      WideCall<GetCurrentDirectoryWCall>("GetCurrentDirectoryW");
  DWORD length = 0;
  if (getCurrentDirectory != 0) {
    length = getCurrentDirectory(WidePathCapacity, AsWin32(saved->wide));
  } else {
    length = GetCurrentDirectoryA(WidePathCapacity, saved->ansi);
  }
  // A directory longer than the buffer makes the call report the length it needs and
  // fill nothing: it could not be put back, so it counts as unreadable.
  return length != 0 && length < WidePathCapacity;
}

void RestoreCurrentDirectory(const SavedDirectory* saved) {
  SetCurrentDirectoryWCall setCurrentDirectory =
      WideCall<SetCurrentDirectoryWCall>("SetCurrentDirectoryW");
  if (saved->wide[0] != 0 && setCurrentDirectory != 0) {
    setCurrentDirectory(AsWin32(saved->wide));
  } else {
    SetCurrentDirectoryA(saved->ansi);
  }
}
