// Path string operations of the runtime library search: join, append a subfolder, strip.
#pragma once
#include <stdint.h>

// Every path buffer of the launcher holds this many bytes, terminator included.
const uint32_t PathCapacity = 260;

// Copies `folder` into `dest` (they may be the same buffer), adds a backslash unless
// `folder` ends in one, then `name`. Returns `dest`, or null when the result would not
// fit in PathCapacity bytes; `dest` is then the empty string, so a failed join is never
// used as a shorter path. `folder` must not be empty.
char* JoinPath(char* dest, const char* folder, const char* name);

// Extends `path` in place with a backslash and `name`. Returns 0 when it would not fit
// (the path is then empty), 1 otherwise.
int AppendSubfolder(char* path, const char* name);

// Ends `path` at its last backslash, removing it; a path without one becomes empty.
void StripFileName(char* path);
