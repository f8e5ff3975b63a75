// Removal of work folders whose runs have ended, the Win32 side of the walk: on the NT
// family the wide calls with "\\?\" paths, which reach trees of any depth; on Windows
// 95/98/Me, which lack them, the ANSI calls within 260 characters.
#include <windows.h>
#include "base/paths.h"
#include "base/system_paths.h"
#include "base/windows_version.h"
#include "workfolder/work_folder.h"
#include "workfolder/work_folder_walk.h"

namespace {

// The Win32 types of each width: the walk's wide unit is the wide calls' wchar_t.
template <typename Char>
struct Win32Of;
template <>
struct Win32Of<char> {
  typedef char Text;
  typedef WIN32_FIND_DATAA FindData;
};
template <>
struct Win32Of<WideChar> {
  typedef wchar_t Text;
  typedef WIN32_FIND_DATAW FindData;
};

template <typename Char>
const typename Win32Of<Char>::Text* AsWin32(const Char* path) {
  return reinterpret_cast<const typename Win32Of<Char>::Text*>(path);
}

// The file calls of one width.
template <typename Char>
struct FileApi {
  typedef typename Win32Of<Char>::Text Text;
  typedef typename Win32Of<Char>::FindData FindData;
  HANDLE(WINAPI* findFirstFile)(const Text*, FindData*);
  BOOL(WINAPI* findNextFile)(HANDLE, FindData*);
  HANDLE(WINAPI* createFile)
  (const Text*, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
  BOOL(WINAPI* deleteFile)(const Text*);
  BOOL(WINAPI* removeDirectory)(const Text*);
  BOOL(WINAPI* setFileAttributes)(const Text*, DWORD);
  // The NT family deletes a lock file by opening it alone, for deletion at its close: a
  // plain deletion would only mark it while another program holds it with delete sharing,
  // and the folder would be left without it. Windows 95/98/Me have no delete sharing.
  int deleteLockOnClose;
};

template <typename Char>
const FileApi<Char>* ApiOf(void* context) {
  return static_cast<const FileApi<Char>*>(context);
}

template <typename Char>
void TakeEntry(const typename Win32Of<Char>::FindData& found, WalkEntry<Char>* entry) {
  entry->attributes = found.dwFileAttributes;
  for (uint32_t i = 0; i < MAX_PATH; ++i) entry->name[i] = static_cast<Char>(found.cFileName[i]);
  entry->name[MAX_PATH - 1] = 0;
}

template <typename Char>
WalkSearch FindFirst(void* context, const Char* pattern, WalkEntry<Char>* entry) {
  typename Win32Of<Char>::FindData found;
  HANDLE search = ApiOf<Char>(context)->findFirstFile(AsWin32(pattern), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  TakeEntry(found, entry);
  return search;
}

template <typename Char>
int FindNext(void* context, WalkSearch search, WalkEntry<Char>* entry) {
  typename Win32Of<Char>::FindData found;
  if (!ApiOf<Char>(context)->findNextFile(search, &found)) return 0;
  TakeEntry(found, entry);
  return 1;
}

void CloseSearch(void*, WalkSearch search) { FindClose(search); }

// Opens `path` without sharing and closes it again: what it did is in the flags.
template <typename Char>
int OpenAndClose(void* context, const Char* path, DWORD access, DWORD disposition, DWORD flags) {
  HANDLE file =
      ApiOf<Char>(context)->createFile(AsWin32(path), access, 0, 0, disposition, flags, 0);
  if (file == INVALID_HANDLE_VALUE) return 0;
  CloseHandle(file);
  return 1;
}

// Opening the lock file with no sharing succeeds only when no live run holds it.
template <typename Char>
int IsLockFree(void* context, const Char* path) {
  return OpenAndClose(context, path, GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_READONLY);
}

template <typename Char>
int DeleteLock(void* context, const Char* path) {
  const FileApi<Char>* api = ApiOf<Char>(context);
  if (!api->deleteLockOnClose) return api->deleteFile(AsWin32(path));
  return OpenAndClose(context, path, DELETE, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE);
}

template <typename Char>
int CreateLock(void* context, const Char* path) {
  return OpenAndClose(context, path, GENERIC_WRITE, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN);
}

template <typename Char>
int DeleteEntry(void* context, const Char* path) {
  return ApiOf<Char>(context)->deleteFile(AsWin32(path));
}

template <typename Char>
int RemoveFolder(void* context, const Char* path) {
  return ApiOf<Char>(context)->removeDirectory(AsWin32(path));
}

template <typename Char>
int SetAttributes(void* context, const Char* path, uint32_t attributes) {
  return ApiOf<Char>(context)->setFileAttributes(AsWin32(path), attributes);
}

template <typename Char>
WalkCalls<Char> CallsOver(const FileApi<Char>* api) {
  WalkCalls<Char> calls = {const_cast<FileApi<Char>*>(api),
                           FindFirst<Char>,
                           FindNext<Char>,
                           CloseSearch,
                           IsLockFree<Char>,
                           DeleteLock<Char>,
                           CreateLock<Char>,
                           DeleteEntry<Char>,
                           RemoveFolder<Char>,
                           SetAttributes<Char>};
  return calls;
}

const FileApi<char> AnsiApi = {
    FindFirstFileA,   FindNextFileA,      CreateFileA, DeleteFileA,
    RemoveDirectoryA, SetFileAttributesA, 0,
};

// The wide calls, and the two that read the temporary folder's full path.
struct WideApi {
  FileApi<WideChar> files;
  DWORD(WINAPI* getTempPath)(DWORD, wchar_t*);
  DWORD(WINAPI* getFullPathName)(const wchar_t*, DWORD, wchar_t*, wchar_t**);
};

template <typename Call>
int Resolve(HMODULE module, const char* name, Call* call) {
  *call = reinterpret_cast<Call>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return *call != 0;
}

// Resolved at run time, so that the launcher still loads where they are missing; Windows
// 95/98/Me export some as stubs that only fail, so the system's family decides first.
int ResolveWideApi(WideApi* api) {
  if (!IsWindowsNT()) return 0;
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  api->files.deleteLockOnClose = 1;
  return kernel != 0 && Resolve(kernel, "FindFirstFileW", &api->files.findFirstFile) &&
         Resolve(kernel, "FindNextFileW", &api->files.findNextFile) &&
         Resolve(kernel, "CreateFileW", &api->files.createFile) &&
         Resolve(kernel, "DeleteFileW", &api->files.deleteFile) &&
         Resolve(kernel, "RemoveDirectoryW", &api->files.removeDirectory) &&
         Resolve(kernel, "SetFileAttributesW", &api->files.setFileAttributes) &&
         Resolve(kernel, "GetTempPathW", &api->getTempPath) &&
         Resolve(kernel, "GetFullPathNameW", &api->getFullPathName);
}

// The longest extended path, its terminator included.
const uint32_t ExtendedPathCapacity = 32768;

// Into `path` (ExtendedPathCapacity units): the temporary folder's full path in its
// extended form, with its backslash.
int ReadWideTempPath(const WideApi* api, WideChar* path) {
  wchar_t temp[MAX_PATH + 1];
  DWORD length = api->getTempPath(MAX_PATH + 1, temp);
  if (length == 0 || length > MAX_PATH) return 0;
  // Room is kept for the extended prefix, which the full path does not have yet.
  DWORD room = ExtendedPathCapacity - 8;
  DWORD full = api->getFullPathName(temp, room, reinterpret_cast<wchar_t*>(path), 0);
  return full != 0 && full < room && MakeExtendedFolderPath(path, ExtendedPathCapacity);
}

// -1 when the memory for the walk's paths cannot be had.
int RemoveWithWideCalls(const WideApi* api) {
  const uint32_t levelCount = ExtendedPathCapacity / 2 + 1;
  const uint32_t pathBytes = ExtendedPathCapacity * sizeof(WideChar);
  char* block = static_cast<char*>(GlobalAlloc(0, pathBytes + levelCount * sizeof(WalkLevel)));
  if (block == 0) return -1;
  WalkBuffers<WideChar> buffers = {reinterpret_cast<WideChar*>(block), ExtendedPathCapacity,
                                   reinterpret_cast<WalkLevel*>(block + pathBytes), levelCount};
  int removed = 0;
  if (ReadWideTempPath(api, buffers.path)) {
    WalkCalls<WideChar> calls = CallsOver(&api->files);
    removed = RemoveUnheldWorkFolders(&calls, &buffers);
  }
  GlobalFree(block);
  return removed;
}

int RemoveWithAnsiCalls() {
  char path[PathCapacity];
  WalkLevel levels[PathCapacity / 2 + 1];
  if (!GetTemporaryPath(path)) return 0;
  if (!EnsureTrailingBackslash(path, PathCapacity, SystemLeadByte)) return 0;
  WalkBuffers<char> buffers = {path, PathCapacity, levels, PathCapacity / 2 + 1};
  WalkCalls<char> calls = CallsOver(&AnsiApi);
  return RemoveUnheldWorkFolders(&calls, &buffers);
}

}  // namespace

int RemoveStaleWorkFolders() {
  WideApi wide;
  int removed = ResolveWideApi(&wide) ? RemoveWithWideCalls(&wide) : -1;
  // Without the wide calls, or the memory for their paths, the ANSI calls still reach
  // every tree within 260 characters.
  return removed >= 0 ? removed : RemoveWithAnsiCalls();
}
