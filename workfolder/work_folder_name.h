// Names of work folders: the aaa..zzz suffix odometer and the first candidate path.
#pragma once
#include <stdint.h>
#include "base/code_page.h"
#include "base/paths.h"

// The folder name is this prefix, a dot and three lowercase letters.
extern const char WorkFolderPrefix[];
// Found by the stale cleanup's search: every folder whose name starts with the prefix.
extern const char WorkFolderPattern[];
// The hidden file a live run holds open inside its folder.
extern const char LockFileName[];

// The longest temporary path (its backslash included) that leaves room in a 260-byte
// buffer for "TempFolder.aaa", a backslash, "Quorvantix.lok" and the terminator.
const uint32_t MaxTempPathLength = 230;
static_assert(MaxTempPathLength + sizeof("TempFolder.aaa\\Quorvantix.lok") == PathCapacity,
              "the longest work folder still holds its lock file's path");

// Turns the temporary path in `path` (a 260-byte buffer) into the first candidate work
// folder path: a backslash when missing, then "TempFolder.aaa". Returns the new length,
// or 0 when the temporary path is empty or longer than MaxTempPathLength once it ends
// in a backslash; `path` is then left as it was.
uint32_t StartWorkFolderPath(char* path, LeadByteRule isLeadByte);

// Advances the three suffix letters ending `path` at `length` like an odometer, the
// last letter fastest: aaa, aab, ..., aaz, aba, ..., zzz. Returns 0 when all three were
// already 'z': the names are used up.
int AdvanceWorkFolderSuffix(char* path, uint32_t length);
