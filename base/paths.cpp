// Path strings of the launcher: bounded joins and edits of ANSI paths.
#include "base/paths.h"
#include "base/text.h"

namespace {

// Index of the last backslash in `path`, or -1 when it has none.
int32_t LastBackslash(const char* path) {
  int32_t last = -1;
  for (int32_t i = 0; path[i] != 0; ++i) {
    if (path[i] == '\\') last = i;
  }
  return last;
}

// The one way out of a result that does not fit.
int Refuse(char* path) {
  path[0] = 0;
  return 0;
}

}  // namespace

char* JoinPath(char* dest, const char* folder, const char* name) {
  uint32_t folderLength = TextLength(folder);
  uint32_t nameLength = TextLength(name);
  int needsBackslash = folderLength == 0 || folder[folderLength - 1] != '\\';
  uint32_t total = folderLength + (needsBackslash ? 1 : 0) + nameLength;
  if (total + 1 > PathCapacity) {
    Refuse(dest);
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

int AppendSubfolder(char* path, const char* name) { return JoinPath(path, path, name) != 0; }

int JoinFolderEntry(char* dest, const char* folder, const char* name) {
  if (!TextCopy(dest, folder, PathCapacity)) return 0;
  if (!TextAppend(dest, name, PathCapacity)) return Refuse(dest);
  return 1;
}

int JoinFolderPath(char* dest, const char* folder, const char* name) {
  return JoinFolderEntry(dest, folder, name) && EnsureTrailingBackslash(dest, PathCapacity);
}

int AppendFileName(char* path, const char* name, const char* extension) {
  uint32_t used = TextLength(path);
  if (used + TextLength(name) + 1 + TextLength(extension) + 1 > PathCapacity) {
    return Refuse(path);
  }
  TextAppend(path, name, PathCapacity);
  TextAppend(path, ".", PathCapacity);
  TextAppend(path, extension, PathCapacity);
  return 1;
}

int EnsureTrailingBackslash(char* path, uint32_t capacity) {
  uint32_t length = TextLength(path);
  if (length == 0) return 0;
  if (path[length - 1] == '\\') return 1;
  if (length + 2 > capacity) return Refuse(path);
  path[length] = '\\';
  path[length + 1] = 0;
  return 1;
}

int ReplaceExtension(char* path, const char* extension, uint32_t capacity) {
  if (extension[0] == 0) return 1;
  int32_t lastBackslash = LastBackslash(path);
  uint32_t end = TextLength(path);
  uint32_t at = end;
  // A dot that starts the whole path is part of the name, not an extension.
  uint32_t nameStart = lastBackslash < 0 ? 1 : static_cast<uint32_t>(lastBackslash + 1);
  for (uint32_t i = nameStart; i < end; ++i) {
    if (path[i] == '.') at = i;
  }
  uint32_t extensionLength = TextLength(extension);
  if (at + extensionLength + 1 > capacity) return Refuse(path);
  for (uint32_t i = 0; i <= extensionLength; ++i) path[at + i] = extension[i];
  return 1;
}

void KeepFolder(char* path) { path[LastBackslash(path) + 1] = 0; }

void StripFileName(char* path) {
  int32_t last = LastBackslash(path);
  path[last < 0 ? 0 : last] = 0;
}
