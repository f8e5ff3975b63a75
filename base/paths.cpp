// Path strings of the launcher: bounded joins and edits of ANSI paths.
#include "base/paths.h"
#include "base/text.h"

namespace {

// Where the separators and dots of a path stand, found in one walk over its characters:
// a byte that is the second half of a character is neither.
struct PathShape {
  int32_t lastBackslash;  // index of the last backslash, -1 when there is none
  int32_t lastDot;        // index of the last dot after it, -1 when there is none
  int endsInBackslash;    // the last character is a backslash
};

PathShape ReadPathShape(const char* path, LeadByteRule isLeadByte) {
  PathShape shape = {-1, -1, 0};
  int32_t i = 0;
  while (path[i] != 0) {
    uint32_t length = CharacterLength(path + i, isLeadByte);
    shape.endsInBackslash = length == 1 && path[i] == '\\';
    if (shape.endsInBackslash) {
      shape.lastBackslash = i;
      shape.lastDot = -1;
    } else if (length == 1 && path[i] == '.') {
      shape.lastDot = i;
    }
    i += static_cast<int32_t>(length);
  }
  return shape;
}

// The one way out of a result that does not fit.
int Refuse(char* path) {
  path[0] = 0;
  return 0;
}

}  // namespace

char* JoinPath(char* dest, const char* folder, const char* name, LeadByteRule isLeadByte) {
  uint32_t folderLength = TextLength(folder);
  uint32_t nameLength = TextLength(name);
  int needsBackslash = folderLength == 0 || !EndsInBackslash(folder, isLeadByte);
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

int AppendSubfolder(char* path, const char* name, LeadByteRule isLeadByte) {
  return JoinPath(path, path, name, isLeadByte) != 0;
}

int JoinFolderEntry(char* dest, const char* folder, const char* name) {
  if (!TextCopy(dest, folder, PathCapacity)) return 0;
  if (!TextAppend(dest, name, PathCapacity)) return Refuse(dest);
  return 1;
}

int JoinFolderPath(char* dest, const char* folder, const char* name, LeadByteRule isLeadByte) {
  return JoinFolderEntry(dest, folder, name) &&
         EnsureTrailingBackslash(dest, PathCapacity, isLeadByte);
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

int EndsInBackslash(const char* path, LeadByteRule isLeadByte) {
  return ReadPathShape(path, isLeadByte).endsInBackslash;
}

int EnsureTrailingBackslash(char* path, uint32_t capacity, LeadByteRule isLeadByte) {
  uint32_t length = TextLength(path);
  if (length == 0) return 0;
  if (EndsInBackslash(path, isLeadByte)) return 1;
  if (length + 2 > capacity) return Refuse(path);
  path[length] = '\\';
  path[length + 1] = 0;
  return 1;
}

int ReplaceExtension(char* path, const char* extension, uint32_t capacity,
                     LeadByteRule isLeadByte) {
  if (extension[0] == 0) return 1;
  PathShape shape = ReadPathShape(path, isLeadByte);
  // A dot that starts the whole path is part of the name, not an extension.
  uint32_t at = shape.lastDot > 0 ? static_cast<uint32_t>(shape.lastDot) : TextLength(path);
  uint32_t extensionLength = TextLength(extension);
  if (at + extensionLength + 1 > capacity) return Refuse(path);
  for (uint32_t i = 0; i <= extensionLength; ++i) path[at + i] = extension[i];
  return 1;
}

void KeepFolder(char* path, LeadByteRule isLeadByte) {
  path[ReadPathShape(path, isLeadByte).lastBackslash + 1] = 0;
}

void StripFileName(char* path, LeadByteRule isLeadByte) {
  int32_t last = ReadPathShape(path, isLeadByte).lastBackslash;
  path[last < 0 ? 0 : last] = 0;
}
