// The run's private work folder under the temporary directory, and its lock file.
#include "workfolder/work_folder.h"
#include <windows.h>
#include "base/paths.h"
#include "base/system_paths.h"
#include "base/text.h"
#include "workfolder/work_folder_name.h"

char* WorkFolder = 0;

namespace {

// The open lock file of the work folder; INVALID_HANDLE_VALUE while none is held.
HANDLE WorkFolderLock = INVALID_HANDLE_VALUE;

void ForgetWorkFolder() {
  GlobalFree(WorkFolder);
  WorkFolder = 0;
}

// Creates the hidden lock file in `folder` (ending in a backslash), open for writing
// with no sharing, and keeps its handle in WorkFolderLock. Returns 1 when it is held.
int CreateLockFile(const char* folder) {
  char path[PathCapacity];
  // Always fits after CreateWorkFolder's length check; bounded all the same.
  if (JoinFolderEntry(path, folder, LockFileName)) {
    WorkFolderLock = CreateFileA(path, GENERIC_WRITE, 0, 0, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, 0);
  } else {
    WorkFolderLock = INVALID_HANDLE_VALUE;
  }
  return WorkFolderLock != INVALID_HANDLE_VALUE;
}

void CloseLockFile() {
  if (WorkFolderLock == INVALID_HANDLE_VALUE) return;
  CloseHandle(WorkFolderLock);
  WorkFolderLock = INVALID_HANDLE_VALUE;
}

}  // namespace

int CreateWorkFolder() {
  WorkFolder = static_cast<char*>(GlobalAlloc(0, PathCapacity));
  if (WorkFolder == 0) return 0;
  // A temporary path that cannot be read, or too long to leave room for the folder and
  // lock file names, is treated as an unreadable one: no folder, and the extraction fails.
  uint32_t length =
      GetTemporaryPath(WorkFolder) ? StartWorkFolderPath(WorkFolder, SystemLeadByte) : 0;
  if (length == 0) {
    ForgetWorkFolder();
    return 0;
  }
  // Any failure advances the name, whatever its cause: an existing name is the common
  // one, and the odometer bounds the search at 17,576 tries.
  do {
    if (CreateDirectoryA(WorkFolder, 0)) {
      // Always fits after the length check in StartWorkFolderPath.
      EnsureTrailingBackslash(WorkFolder, PathCapacity, SystemLeadByte);
      if (CreateLockFile(WorkFolder)) return 1;
      // A folder without its lock file cannot be told from another program's, so no run
      // would ever remove it: it goes at once (it is still empty) and the next name is
      // tried, as for any other failure.
      WorkFolder[length] = 0;
      RemoveDirectoryA(WorkFolder);
    }
  } while (AdvanceWorkFolderSuffix(WorkFolder, length));
  ForgetWorkFolder();
  return 0;
}

int GetWorkFolder(char* out) { return WorkFolder != 0 && TextCopy(out, WorkFolder, PathCapacity); }

int ReleaseWorkFolder() {
  if (WorkFolder != 0) {
    CloseLockFile();
    ForgetWorkFolder();
  }
  return 1;
}
