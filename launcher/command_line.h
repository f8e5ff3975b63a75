// Finds the arguments in a process command line: what follows the program's own name.
#pragma once

// Skips the program name (a quoted name up to its closing quote, otherwise up to the
// first space or control character) and the blanks after it, as the startup code of
// every Win32 program has done. Returns a pointer into `commandLine`.
inline const char* SkipProgramName(const char* commandLine) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(commandLine);
  if (*p == '"') {
    ++p;
    while (*p != 0 && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (*p > ' ') ++p;
  }
  while (*p != 0 && *p <= ' ') ++p;
  return reinterpret_cast<const char*>(p);
}
