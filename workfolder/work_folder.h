// The run's private work folder under the temporary directory, and its lock file.
#pragma once
#include <stdint.h>
#include <windows.h>
#include "workfolder/work_folder_name.h"

// This run's work folder path, ending in a backslash, in a 260-byte global-heap
// buffer; null while the run has none.
extern char* WorkFolder;
// The open lock file of the work folder; INVALID_HANDLE_VALUE while none is held.
extern HANDLE WorkFolderLock;

// Copies the work folder path into `out` (260 bytes); with `create` nonzero, creates
// the folder first when the run has none. Returns 1 when `out` holds the path.
int GetWorkFolder(char* out, uint8_t create);

// Creates the first free "TempFolder.xxx" under the temporary path, sets WorkFolder to
// it (with its backslash) and opens its lock file. Returns 1 on success; on failure
// WorkFolder stays null and 0 is returned.
int CreateWorkFolder();

// Creates the hidden lock file in `folder` (ending in a backslash), open for writing
// with no sharing, and keeps its handle in WorkFolderLock. Returns 1 when it is held.
int CreateLockFile(const char* folder);

// Closes the lock file if one is held.
void CloseLockFile();

// Closes the lock file, frees the path and removes every unheld work folder.
// Always returns 1.
int ReleaseWorkFolder();

// Deletes every work folder under the temporary path whose lock file can be opened,
// that is, whose run has ended. Returns nonzero when some folder was removed completely.
int RemoveStaleWorkFolders();

// Deletes everything below `folder` (a writable 260-byte buffer; a backslash is added
// when missing), depth first, stopping at the first failure, then the folder itself.
// Returns nonzero when the folder is gone.
int DeleteFolderTree(char* folder);
