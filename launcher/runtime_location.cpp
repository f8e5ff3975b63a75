// Finding and loading msvcrt.dll and the runtime library cine.dll.
#include "launcher/runtime_location.h"
#include "base/paths.h"
#include "base/system_paths.h"
#include "workfolder/work_folder.h"

namespace {

const char RuntimeFileName[] = "cine.dll";
// Wine's own system libraries import msvcrt.dll, so under Wine it is always loaded and
// its absence cannot be staged; the end-to-end tests build a twin of the launcher
// that looks for another name instead. Shipped builds never define this.
#ifdef CINE_TEST_MSVCRT_NAME
const char MsvcrtFileName[] = CINE_TEST_MSVCRT_NAME;
#else
const char MsvcrtFileName[] = "msvcrt.dll";
#endif
const char NodixFolderName[] = "Nodix";
const char SharedPlayerFolder[] = "Quorvant\\Lumenreel 10";
// The executable's folder, or 0 when its path cannot be read (or was cut short).
int GetExecutableFolder(char* path) {
  if (!GetModulePath(0, path, PathCapacity)) return 0;
  StripFileName(path, SystemLeadByte);
  return 1;
}

// Loads `fileName` from `folder` with the current directory set to that folder.
// The caller restores the current directory.
HMODULE LoadLibraryInFolder(const char* folder, const char* fileName) {
  char path[PathCapacity];
  // An empty folder (a path without a backslash) or a joined path too long for the
  // buffer is a failed try.
  if (folder[0] == 0 || JoinPath(path, folder, fileName, SystemLeadByte) == 0) return 0;
  if (!SetCurrentDirectoryA(folder)) return 0;
  return LoadLibraryA(path);
}

}  // namespace

LaunchError LocateRuntime(HMODULE* module, RuntimeLocation* location) {
  HMODULE loaded = 0;
  *location = RuntimeNowhere;
  LaunchError result = NoLaunchError;
  SavedDirectory saved;
  if (!SaveCurrentDirectory(&saved)) {
    *module = 0;
    return NoCurrentDirectory;
  }

  char path[PathCapacity];
  if (GetWorkFolder(path)) {
    loaded = LoadLibraryInFolder(path, RuntimeFileName);
    if (loaded != 0) {
      *location = RuntimeInWorkFolder;
    } else {
      result = RuntimeLoadFailed;
    }
  } else {
    if (GetExecutableFolder(path)) {
      loaded = LoadLibraryInFolder(path, RuntimeFileName);
      if (loaded != 0) {
        *location = RuntimeBesideExecutable;
      } else if (AppendSubfolder(path, NodixFolderName, SystemLeadByte)) {
        loaded = LoadLibraryInFolder(path, RuntimeFileName);
        if (loaded != 0) *location = RuntimeInNodix;
      }
    }
    if (loaded == 0) {
      UINT length = GetSystemDirectoryA(path, PathCapacity);
      if (length != 0 && length < PathCapacity &&
          AppendSubfolder(path, SharedPlayerFolder, SystemLeadByte)) {
        loaded = LoadLibraryInFolder(path, RuntimeFileName);
        if (loaded != 0) *location = RuntimeInSharedFolder;
      }
    }
    if (loaded == 0) result = RuntimeNotFound;
  }

  RestoreCurrentDirectory(&saved);
  *module = loaded;
  return result;
}

LaunchError EnsureMsvcrt(HMODULE* module) {
  HMODULE loaded = LoadLibraryA(MsvcrtFileName);
  if (loaded != 0) {
    *module = loaded;
    return NoLaunchError;
  }
  SavedDirectory saved;
  if (!SaveCurrentDirectory(&saved)) {
    *module = 0;
    return NoCurrentDirectory;
  }

  char path[PathCapacity];
  if (GetWorkFolder(path)) {
    loaded = LoadLibraryInFolder(path, MsvcrtFileName);
  }
  if (loaded == 0 && GetExecutableFolder(path)) {
    loaded = LoadLibraryInFolder(path, MsvcrtFileName);
    if (loaded == 0 && AppendSubfolder(path, NodixFolderName, SystemLeadByte)) {
      loaded = LoadLibraryInFolder(path, MsvcrtFileName);
    }
  }

  RestoreCurrentDirectory(&saved);
  *module = loaded;
  return loaded != 0 ? NoLaunchError : MsvcrtMissing;
}
