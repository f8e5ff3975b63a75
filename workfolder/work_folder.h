// The run's private work folder under the temporary directory, and its lock file.
#pragma once
#include <stdint.h>
#include <windows.h>

// This run's work folder path, ending in a backslash, in a 260-byte global-heap
// buffer; null while the run has none.
extern char* WorkFolder;
// The open lock file of the work folder; INVALID_HANDLE_VALUE while none is held.
extern HANDLE WorkFolderLock;

// Copies the work folder path into `out` (260 bytes); with `create` nonzero, creates
// the folder first when the run has none. Returns 1 when `out` holds the path.
int GetWorkFolder(char* out, uint8_t create);

// Closes the lock file, frees the path and removes every unheld work folder.
// Always returns 1.
int ReleaseWorkFolder();
