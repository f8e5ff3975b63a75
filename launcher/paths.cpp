// Path string operations of the runtime library search.
#include "launcher/paths.h"
#include "launcher/text.h"

char* JoinPath(char* dest, const char* folder, const char* name) {
  uint32_t folderLength = TextLength(folder);
  uint32_t nameLength = TextLength(name);
  int needsBackslash = folderLength == 0 || folder[folderLength - 1] != '\\';
  uint32_t total = folderLength + (needsBackslash ? 1 : 0) + nameLength;
  if (total + 1 > PathCapacity) {
    // An overlong path is a failed try for the caller, never an overrun.
    dest[0] = 0;
    return 0;
  }
  if (dest != folder) {
    for (uint32_t i = 0; i < folderLength; ++i) dest[i] = folder[i];
  }
  uint32_t at = folderLength;
  if (needsBackslash) dest[at++] = '\\';
  for (uint32_t i = 0; i < nameLength; ++i) dest[at++] = name[i];
  dest[at] = 0;
  return dest;
}

int AppendSubfolder(char* path, const char* name) {
  return JoinPath(path, path, name) != 0;
}

void StripFileName(char* path) {
  char* lastBackslash = 0;
  for (char* p = path; *p != 0; ++p) {
    if (*p == '\\') lastBackslash = p;
  }
  if (lastBackslash != 0) {
    *lastBackslash = 0;
  } else {
    path[0] = 0;
  }
}
