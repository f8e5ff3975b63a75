// A second process for the payload's end-to-end tests: holds an extracted file open
// while the launcher runs, or watches which files appear and vanish in its work folder.
//
//   payload_helper hold TMP NAME READY UNTIL
//       polls TMP\TempFolder.*\NAME; once it exists and can be opened with share mode
//       0, holds it and prints "held=PATH"; when UNTIL exists, prints "content=" and the
//       file's bytes, then closes it. READY is created once polling has begun.
//   payload_helper watch DIR READY UNTIL
//       prints "added=NAME" / "removed=NAME" for every change below DIR, in order,
//       until UNTIL exists. READY is created once the watch is armed.
#include <windows.h>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

const DWORD GiveUpMs = 120000;

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void Touch(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

// The first TMP\TempFolder.*\NAME that exists, or "".
std::string FindTarget(const std::string& tmp, const std::string& name) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((tmp + "\\TempFolder.*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return "";
  std::string result;
  do {
    std::string candidate = tmp + "\\" + found.cFileName + "\\" + name;
    if (Exists(candidate)) {
      result = candidate;
      break;
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return result;
}

int Hold(const std::string& tmp, const std::string& name, const std::string& ready,
         const std::string& until) {
  Touch(ready);
  DWORD start = GetTickCount();
  HANDLE file = INVALID_HANDLE_VALUE;
  std::string path;
  while (file == INVALID_HANDLE_VALUE) {
    if (GetTickCount() - start > GiveUpMs) {
      printf("gave_up=1\n");
      return 1;
    }
    path = FindTarget(tmp, name);
    if (!path.empty()) {
      // Fails while the launcher still writes it; it is ours once the launcher closes it.
      file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    if (file == INVALID_HANDLE_VALUE) Sleep(1);
  }
  printf("held=%s\n", path.c_str());
  fflush(stdout);
  while (!Exists(until) && GetTickCount() - start < GiveUpMs) Sleep(10);
  char content[4096];
  DWORD read = 0;
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  ReadFile(file, content, sizeof content - 1, &read, nullptr);
  content[read] = 0;
  printf("content=%s\n", content);
  CloseHandle(file);
  return 0;
}

int Watch(const std::string& folder, const std::string& ready, const std::string& until) {
  HANDLE directory = CreateFileA(folder.c_str(), FILE_LIST_DIRECTORY,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED,
                                 nullptr);
  if (directory == INVALID_HANDLE_VALUE) {
    printf("watch_failed=%lu\n", GetLastError());
    return 1;
  }
  alignas(DWORD) static char buffer[65536];
  OVERLAPPED overlapped;
  memset(&overlapped, 0, sizeof overlapped);
  overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const DWORD filter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME;
  auto arm = [&]() {
    ResetEvent(overlapped.hEvent);
    return ReadDirectoryChangesW(directory, buffer, sizeof buffer, TRUE, filter, nullptr,
                                 &overlapped, nullptr);
  };
  if (!arm()) {
    printf("watch_failed=%lu\n", GetLastError());
    return 1;
  }
  Touch(ready);
  DWORD start = GetTickCount();
  for (;;) {
    DWORD wait = WaitForSingleObject(overlapped.hEvent, 20);
    if (wait == WAIT_OBJECT_0) {
      DWORD bytes = 0;
      GetOverlappedResult(directory, &overlapped, &bytes, FALSE);
      for (DWORD at = 0; bytes > 0;) {
        FILE_NOTIFY_INFORMATION* info = reinterpret_cast<FILE_NOTIFY_INFORMATION*>(buffer + at);
        char name[MAX_PATH * 2] = {0};
        WideCharToMultiByte(CP_ACP, 0, info->FileName, info->FileNameLength / 2, name,
                            sizeof name - 1, nullptr, nullptr);
        const char* what = info->Action == FILE_ACTION_ADDED || info->Action == FILE_ACTION_RENAMED_NEW_NAME
                               ? "added"
                               : info->Action == FILE_ACTION_REMOVED || info->Action == FILE_ACTION_RENAMED_OLD_NAME
                                     ? "removed"
                                     : "changed";
        printf("%s=%s\n", what, name);
        if (info->NextEntryOffset == 0) break;
        at += info->NextEntryOffset;
      }
      fflush(stdout);
      if (!arm()) break;
    } else if (Exists(until) || GetTickCount() - start > GiveUpMs) {
      break;
    }
  }
  CancelIo(directory);
  CloseHandle(directory);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && strcmp(argv[1], "hold") == 0) return Hold(argv[2], argv[3], argv[4], argv[5]);
  if (argc == 5 && strcmp(argv[1], "watch") == 0) return Watch(argv[2], argv[3], argv[4]);
  fprintf(stderr, "usage: payload_helper hold TMP NAME READY UNTIL | watch DIR READY UNTIL\n");
  return 2;
}
