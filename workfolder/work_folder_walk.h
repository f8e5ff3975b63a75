// What the stale cleanup does with each entry it lists: the tree walk's pure decisions.
#pragma once
#include <stdint.h>

// The two attributes the walk looks at, as FindFirstFileA reports them.
const uint32_t FolderAttribute = 0x10;         // FILE_ATTRIBUTE_DIRECTORY
const uint32_t ReparsePointAttribute = 0x400;  // FILE_ATTRIBUTE_REPARSE_POINT

// Whether an entry that the search for "TempFolder.*" lists may be a work folder: a
// folder, and no reparse point (junction, symbolic link, mount point), which is never
// followed: its lock file and contents belong to whatever it points to.
int IsWorkFolderCandidate(uint32_t attributes);

enum TreeAction {
  TreeSkip,        // "." and "..": nothing to do
  TreeDeleteFile,  // a file, or a link to one: DeleteFileA removes the entry itself
  TreeDescend,     // a real folder: everything below it, then the folder
  TreeUnlink,      // a link to a folder: RemoveDirectoryA on the link itself, never entered
  TreeDeleteLast,  // the work folder's lock file: deleted once everything else is gone
};

// The action for entry `name` with `attributes` inside a folder being deleted;
// `inWorkFolder` is nonzero in the work folder itself (not below it). The lock file
// goes last so that a deletion stopped by a held or read-only file leaves it behind,
// and a later run's cleanup can open it and finish the job.
TreeAction ChooseTreeAction(const char* name, uint32_t attributes, int inWorkFolder);
