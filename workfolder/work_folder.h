// The run's private work folder under the temporary directory, its lock file, and the
// removal of the folders of runs that have ended.
#pragma once

// This run's work folder path, ending in a backslash, in a 260-byte global-heap
// buffer; null while the run has none.
extern char* WorkFolder;

// Creates the first free "TempFolder.xxx" under the temporary path in which a lock file
// can be made too, sets WorkFolder to it (with its backslash) and keeps the lock file
// open. Returns 1 on success; on failure WorkFolder stays null and 0 is returned.
int CreateWorkFolder();

// Copies the work folder path into `out` (260 bytes). Returns 1 when `out` holds the
// path, 0 while the run has no work folder.
int GetWorkFolder(char* out);

// Closes the lock file and frees the path; the folder itself stays until
// RemoveStaleWorkFolders finds its lock free. Always returns 1.
int ReleaseWorkFolder();

// Deletes every work folder under the temporary path whose lock file can be opened,
// that is, whose run has ended: after ReleaseWorkFolder, this run's own too. In such a
// folder read-only, hidden and system attributes are cleared first, and the lock file
// goes only once nothing else is listed, so a folder that keeps anything keeps its lock
// for a later run. Returns nonzero when some folder was removed completely.
int RemoveStaleWorkFolders();
