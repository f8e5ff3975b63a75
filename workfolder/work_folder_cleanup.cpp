// Removal of work folders whose runs have ended: those whose lock file can be opened.
#include <windows.h>
#include "workfolder/work_folder.h"
#include "base/paths.h"
#include "base/system_paths.h"
#include "workfolder/work_folder_name.h"
#include "workfolder/work_folder_walk.h"

namespace {

// Opening the lock file with no sharing succeeds only when no live run holds it.
int IsLockFree(const char* folder) {
  char lockPath[PathCapacity];
  if (!JoinFolderEntry(lockPath, folder, LockFileName)) return 0;
  HANDLE lock = CreateFileA(lockPath, GENERIC_READ, 0, 0, OPEN_EXISTING,
                            FILE_ATTRIBUTE_READONLY, 0);
  if (lock == INVALID_HANDLE_VALUE) return 0;
  CloseHandle(lock);
  return 1;
}

// Deletes everything below `folder` (a writable 260-byte buffer; a backslash is added
// when missing), depth first in listing order, stopping at the first failure, then the
// folder; nonzero when the folder is gone. In a work folder (`inWorkFolder`) the lock
// file is deleted only once everything else is gone.
int DeleteTree(char* folder, int inWorkFolder) {
  if (!EnsureTrailingBackslash(folder, PathCapacity, SystemLeadByte)) return 0;
  char path[PathCapacity];
  WIN32_FIND_DATAA found;
  int lockListed = 0;
  // A pattern that does not fit is treated like a failed search: only an empty folder
  // could then be removed, and RemoveDirectoryA removes nothing else.
  HANDLE search = JoinFolderEntry(path, folder, "*.*") ? FindFirstFileA(path, &found)
                                                        : INVALID_HANDLE_VALUE;
  if (search != INVALID_HANDLE_VALUE) {
    int result = 1;
    do {
      TreeAction action = ChooseTreeAction(found.cFileName, found.dwFileAttributes, inWorkFolder);
      if (action == TreeSkip) continue;
      if (action == TreeDeleteLast) {
        lockListed = 1;
        continue;
      }
      if (!JoinFolderEntry(path, folder, found.cFileName)) {
        result = 0;
      } else if (action == TreeDeleteFile) {
        result = DeleteFileA(path);
      } else if (action == TreeUnlink) {
        result = RemoveDirectoryA(path);
      } else {
        result = DeleteTree(path, 0);
      }
      if (!result) break;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    if (!result) return 0;
  }
  // Should the lock file not go, RemoveDirectoryA fails and the folder is kept with it.
  if (lockListed && JoinFolderEntry(path, folder, LockFileName)) DeleteFileA(path);
  return RemoveDirectoryA(folder);
}

}  // namespace

int RemoveStaleWorkFolders() {
  char tempPath[PathCapacity];
  if (!GetTemporaryPath(tempPath)) return 0;
  if (!EnsureTrailingBackslash(tempPath, PathCapacity, SystemLeadByte)) return 0;
  char pattern[PathCapacity];
  if (!JoinFolderEntry(pattern, tempPath, WorkFolderPattern)) return 0;

  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int removed = 0;
  do {
    // A link is never followed, not even to look for a lock file behind it.
    if (!IsWorkFolderCandidate(found.dwFileAttributes)) continue;
    char folder[PathCapacity];
    // A folder whose paths would not fit the buffers was never one of ours: left alone.
    if (!JoinFolderPath(folder, tempPath, found.cFileName, SystemLeadByte)) continue;
    if (!IsLockFree(folder)) continue;
    removed |= DeleteTree(folder, 1);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return removed;
}
