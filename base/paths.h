// Path strings of the launcher: bounded joins and edits of ANSI paths, no C runtime.
// One rule for every function that builds a path: when the result does not fit its
// buffer, the buffer is left as the empty string and failure (0 or null) is returned,
// so a path is never used cut short or half-built. Every edit that looks for a
// separator or a dot walks the path a character at a time by the code page's
// double-byte rule `isLeadByte`: the last byte of a path, or its last 0x5C byte, may be
// the second half of a character. For an ASCII path the rule changes nothing.
#pragma once
#include <stdint.h>
#include "base/code_page.h"

// Every path buffer of the launcher holds this many bytes, terminator included.
const uint32_t PathCapacity = 260;

// Copies `folder` into `dest` (they may be the same buffer), adds a backslash unless
// `folder` ends in one, then `name`. Returns `dest`, or null when the result would not
// fit in PathCapacity bytes. `folder` must not be empty.
char* JoinPath(char* dest, const char* folder, const char* name, LeadByteRule isLeadByte);

// Extends `path` in place with a backslash and `name`. Returns 1, or 0 when it would
// not fit.
int AppendSubfolder(char* path, const char* name, LeadByteRule isLeadByte);

// `dest` (PathCapacity bytes) = `folder` followed by `name`, no separator added: the
// folder ends in its backslash. Returns 1, or 0 when it would not fit.
int JoinFolderEntry(char* dest, const char* folder, const char* name);

// `dest` (PathCapacity bytes) = `folder` (ending in a backslash), `name` and a
// backslash: the path of a folder listed inside `folder`. Returns 1, or 0.
int JoinFolderPath(char* dest, const char* folder, const char* name, LeadByteRule isLeadByte);

// Appends `name`, "." and `extension` to the path in `path` (PathCapacity bytes).
// Returns 1, or 0 when the result would not fit.
int AppendFileName(char* path, const char* name, const char* extension);

// Whether the last character of `path` is a backslash.
int EndsInBackslash(const char* path, LeadByteRule isLeadByte);

// Appends a backslash unless `path` (a buffer of `capacity` bytes) already ends in one.
// Returns 1, or 0 when it would not fit; an empty path stays empty and gives 0.
int EnsureTrailingBackslash(char* path, uint32_t capacity, LeadByteRule isLeadByte);

// Replaces the extension of the file name at the end of `path` (a buffer of
// `capacity` bytes) with `extension`, or appends it when the name has none; a dot in a
// folder name does not count. An empty `extension` leaves `path` as it is. Returns 1,
// or 0 when the result would not fit.
int ReplaceExtension(char* path, const char* extension, uint32_t capacity, LeadByteRule isLeadByte);

// Ends `path` just after its last backslash, keeping it; a path without one becomes
// empty (names joined to it are then relative to the current directory).
void KeepFolder(char* path, LeadByteRule isLeadByte);

// Ends `path` at its last backslash, removing it; a path without one becomes empty.
void StripFileName(char* path, LeadByteRule isLeadByte);
