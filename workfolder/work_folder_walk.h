// The stale cleanup's walk, pure: which work folders it removes and how it empties them.
// Every file call goes through a WalkCalls table of one character width: the ANSI or wide
// Win32 calls in the launcher, an in-memory disk in the tests.
#pragma once
#include <stdint.h>
#include "base/ansi_path.h"

// The attributes the walk looks at, as the file searches report them.
const uint32_t ReadOnlyAttribute = 0x1;
const uint32_t HiddenAttribute = 0x2;
const uint32_t SystemAttribute = 0x4;
const uint32_t FolderAttribute = 0x10;
const uint32_t NormalAttribute = 0x80;
const uint32_t ReparsePointAttribute = 0x400;  // a junction, symbolic link or mount point

// One listed entry.
template <typename Char>
struct WalkEntry {
  uint32_t attributes;
  Char name[260];
};

typedef void* WalkSearch;  // an open search; null is none

// The file calls of one width. Each returns nonzero on success.
template <typename Char>
struct WalkCalls {
  void* context;  // handed back as the first argument of every call
  // The first entry matching `pattern` into `entry`: the search, or null when none.
  WalkSearch (*findFirst)(void* context, const Char* pattern, WalkEntry<Char>* entry);
  int (*findNext)(void* context, WalkSearch search, WalkEntry<Char>* entry);
  void (*findClose)(void* context, WalkSearch search);
  // Opens the lock file with no sharing and closes it again: no live run holds it.
  int (*isLockFree)(void* context, const Char* path);
  // Deletes the lock file, unless another program has it open.
  int (*deleteLock)(void* context, const Char* path);
  // Makes a new, hidden lock file, closed at once.
  int (*createLock)(void* context, const Char* path);
  int (*deleteFile)(void* context, const Char* path);    // a file, or a link itself
  int (*removeFolder)(void* context, const Char* path);  // an empty folder, or a link itself
  int (*setAttributes)(void* context, const Char* path, uint32_t attributes);
};

// One folder level of the walk: its open search, and where its path ends.
struct WalkLevel {
  WalkSearch search;
  uint32_t end;
};

// The walk's memory. `path` holds the temporary folder, ending in a backslash, and then
// every path the walk builds. Each level of a path adds at least a character and a
// backslash, so `levels` needs half as many entries as `path` holds characters, and one.
template <typename Char>
struct WalkBuffers {
  Char* path;
  uint32_t capacity;  // characters of `path`, terminator included
  WalkLevel* levels;
  uint32_t levelCount;
};

// Removes every "TempFolder.*" folder under the temporary folder whose lock file opens (a
// link is never followed), emptying it depth first in listing order and stopping at the
// first failure, the lock file last. Returns nonzero when some folder was removed
// completely.
template <typename Char>
int RemoveUnheldWorkFolders(const WalkCalls<Char>* calls, const WalkBuffers<Char>* buffers);

// Turns the full folder path in `path` (`capacity` characters) into its extended form,
// which the wide calls take at any length: "C:\x" gives "\\?\C:\x\", "\\server\share\x"
// gives "\\?\UNC\server\share\x\"; an extended or device path only gets its backslash.
// Returns 1, or 0 with `path` left empty when the result would not fit or `path` is no
// full path.
int MakeExtendedFolderPath(WideChar* path, uint32_t capacity);
