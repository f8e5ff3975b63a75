// Names and paths of work folders: the aaa..zzz suffix odometer and bounded path building.
#include "workfolder/work_folder_name.h"
#include "launcher/paths.h"
#include "launcher/text.h"

const char WorkFolderPrefix[] = "TempFolder";
const char WorkFolderPattern[] = "TempFolder.*";
const char LockFileName[] = "Quorvantix.lok";

namespace {
const char FirstSuffix[] = ".aaa";
}  // namespace

void EnsureTrailingBackslash(char* path) {
  uint32_t length = TextLength(path);
  if (length == 0 || path[length - 1] == '\\') return;
  path[length] = '\\';
  path[length + 1] = 0;
}

int EnsureTrailingBackslashWithin(char* path, uint32_t capacity) {
  uint32_t length = TextLength(path);
  if (length == 0) return 0;
  if (path[length - 1] == '\\') return 1;
  if (length + 2 > capacity) return 0;
  EnsureTrailingBackslash(path);
  return 1;
}

uint32_t StartWorkFolderPath(char* path) {
  uint32_t length = TextLength(path);
  if (length == 0) return 0;
  uint32_t withBackslash = length + (path[length - 1] == '\\' ? 0 : 1);
  // Checked before anything is appended, so a refused path is never half-built.
  if (withBackslash > MaxTempPathLength) return 0;
  EnsureTrailingBackslash(path);
  TextAppend(path, WorkFolderPrefix, PathCapacity);
  TextAppend(path, FirstSuffix, PathCapacity);
  return TextLength(path);
}

int AdvanceWorkFolderSuffix(char* path, uint32_t length) {
  // The letters compare as signed bytes, as the name's characters always have.
  for (uint32_t back = 1; back <= 3; ++back) {
    char* letter = path + length - back;
    if (static_cast<signed char>(*letter) < 'z') {
      ++*letter;
      return 1;
    }
    if (back < 3) *letter = 'a';
  }
  return 0;
}

int JoinFolderEntry(char* dest, const char* folder, const char* name) {
  if (!TextCopy(dest, folder, PathCapacity)) return 0;
  if (!TextAppend(dest, name, PathCapacity)) {
    dest[0] = 0;
    return 0;
  }
  return 1;
}

int BuildListedFolderPath(char* dest, const char* tempPath, const char* name) {
  if (!JoinFolderEntry(dest, tempPath, name)) return 0;
  if (!EnsureTrailingBackslashWithin(dest, PathCapacity)) {
    dest[0] = 0;
    return 0;
  }
  return 1;
}

int IsDotEntry(const char* name) { return TextEqual(name, ".") || TextEqual(name, ".."); }
