// Names of work folders: the aaa..zzz suffix odometer and the first candidate path.
#include "workfolder/work_folder_name.h"
#include "base/paths.h"
#include "base/text.h"

const char WorkFolderPrefix[] = "TempFolder";
const char WorkFolderPattern[] = "TempFolder.*";
const char LockFileName[] = "Quorvantix.lok";

namespace {
const char FirstSuffix[] = ".aaa";
}  // namespace

uint32_t StartWorkFolderPath(char* path, LeadByteRule isLeadByte) {
  uint32_t length = TextLength(path);
  if (length == 0) return 0;
  uint32_t withBackslash = length + (EndsInBackslash(path, isLeadByte) ? 0 : 1);
  // Checked before anything is appended, so a refused path is never half-built.
  if (withBackslash > MaxTempPathLength) return 0;
  EnsureTrailingBackslash(path, PathCapacity, isLeadByte);
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
