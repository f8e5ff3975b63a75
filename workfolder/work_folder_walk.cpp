// What the stale cleanup does with each entry it lists: the tree walk's pure decisions.
#include "workfolder/work_folder_walk.h"
#include "workfolder/work_folder_name.h"

namespace {

char LowerCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// File names compare without regard to case, as the file system does; the lock file's
// name is plain ASCII.
int IsLockFileName(const char* name) {
  uint32_t i = 0;
  while (name[i] != 0 && LowerCase(name[i]) == LowerCase(LockFileName[i])) ++i;
  return name[i] == 0 && LockFileName[i] == 0;
}

}  // namespace

int IsWorkFolderCandidate(uint32_t attributes) {
  return (attributes & FolderAttribute) && !(attributes & ReparsePointAttribute);
}

TreeAction ChooseTreeAction(const char* name, uint32_t attributes, int inWorkFolder) {
  if (IsDotEntry(name)) return TreeSkip;
  if (!(attributes & FolderAttribute)) {
    return inWorkFolder && IsLockFileName(name) ? TreeDeleteLast : TreeDeleteFile;
  }
  return attributes & ReparsePointAttribute ? TreeUnlink : TreeDescend;
}
