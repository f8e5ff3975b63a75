// Times one stale work folder cleanup, the exit step of every run, under Wine:
//   workfolder_cleanup_timer TEMPDIR   prints "removed=N" and "milliseconds=X"
#include <windows.h>
#include <cstdio>
#include "workfolder/work_folder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: workfolder_cleanup_timer TEMPDIR\n");
    return 2;
  }
  // The cleanup reads the temporary path from the environment, like the launcher.
  SetEnvironmentVariableA("TMP", argv[1]);
  SetEnvironmentVariableA("TEMP", argv[1]);
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  int removed = RemoveStaleWorkFolders();
  QueryPerformanceCounter(&end);
  printf("removed=%d\nmilliseconds=%.3f\n", removed,
         1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
             static_cast<double>(frequency.QuadPart));
  return 0;
}
