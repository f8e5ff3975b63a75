// Stands in for the browser registered for ".htm" files: appends the command line it
// was started with, and its show state, to "<own path>.log", then exits at once.
#include <windows.h>
#include <cstdio>
#include <string>

int main() {
  char self[MAX_PATH * 2] = {0};
  GetModuleFileNameA(nullptr, self, sizeof self);
  STARTUPINFOA startup;
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1;
  std::string log = std::string(self) + ".log";
  FILE* out = fopen(log.c_str(), "ab");
  if (!out) return 1;
  fprintf(out, "cmdline=%s\nshow=%d\n", GetCommandLineA(), show);
  fclose(out);
  return 0;
}
