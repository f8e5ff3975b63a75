// The work folder tests' hands inside Wine: lists folders in the platform's own order,
// ends a process the hard way, and marks files read-only.
//
//   workfolder_tool list DIR           print DIR's entries, one a line, in listing order
//   workfolder_tool kill PID           TerminateProcess on PID; prints "killed" or "failed N"
//   workfolder_tool readonly PATH      set FILE_ATTRIBUTE_READONLY on PATH
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int List(const char* folder) {
  std::string pattern = std::string(folder) + "\\*";
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 1;
  do {
    if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0) {
      printf("%s\n", found.cFileName);
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return 0;
}

int Kill(DWORD processId) {
  HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId);
  if (process == nullptr || !TerminateProcess(process, 9)) {
    printf("failed %lu\n", GetLastError());
    return 1;
  }
  WaitForSingleObject(process, 10000);
  CloseHandle(process);
  printf("killed\n");
  return 0;
}

int MakeReadOnly(const char* path) {
  if (!SetFileAttributesA(path, FILE_ATTRIBUTE_READONLY)) {
    printf("failed %lu\n", GetLastError());
    return 1;
  }
  printf("readonly\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "list") == 0) return List(argv[2]);
  if (argc == 3 && strcmp(argv[1], "kill") == 0) return Kill(strtoul(argv[2], nullptr, 10));
  if (argc == 3 && strcmp(argv[1], "readonly") == 0) return MakeReadOnly(argv[2]);
  fprintf(stderr, "usage: workfolder_tool list|kill|readonly ... (see the source's header)\n");
  return 2;
}
