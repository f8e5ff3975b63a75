// The end-to-end tests' hands inside Wine. "probe run [options] EXE" starts EXE with the
// wide calls (any Unicode in paths and values), answers its message box and prints "pid=N",
// the box seen and "exit=N"; options: --args TEXT (after the quoted EXE and a space),
// --tmp DIR, --env K=V (K= removes), --cwd DIR, --show N, --answer ok|cancel|none,
// --timeout MS, --drop PRIVILEGE (a token without it).
// "probe open PATH [HELD RELEASE]" opens PATH sharing everything, deletion included, as a
// virus scanner does: "open" or "denied N"; then makes HELD and holds PATH until RELEASE
// exists: "released". Run by any other name (as a browser), it appends "cmdline=" and
// "show=" lines to "<own path>.log".
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Box {
  DWORD processId;
  HWND window;
};

std::string TextOf(HWND window) {
  char text[1024] = {0};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

// Prints a visible message box of the child: caption, text (the static control
// 0xFFFF) and its buttons by command identifier (IDOK 1, IDCANCEL 2), whatever the language.
BOOL CALLBACK FindBox(HWND window, LPARAM context) {
  Box* box = reinterpret_cast<Box*>(context);
  DWORD owner = 0;
  char cls[64] = {0};
  GetWindowThreadProcessId(window, &owner);
  GetClassNameA(window, cls, sizeof cls);
  if (owner != box->processId || !IsWindowVisible(window) || strcmp(cls, "#32770") != 0)
    return TRUE;
  box->window = window;
  std::string buttons;
  for (int id = IDOK; id <= IDNO; ++id) {
    if (GetDlgItem(window, id)) buttons += (buttons.empty() ? "" : ",") + std::to_string(id);
  }
  printf("box.caption=%s\nbox.text=%s\nbox.buttons=%s\n", TextOf(window).c_str(),
         TextOf(GetDlgItem(window, 0xFFFF)).c_str(), buttons.c_str());
  fflush(stdout);
  return FALSE;
}

// Reads its own arguments in their wide form, and starts the child with the wide calls:
// paths and TMP the ANSI code page cannot spell reach the child whole.
int Run() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::wstring commandLine, answer = L"ok", exe, cwd;
  int show = -1;
  DWORD timeout = 60000;
  HANDLE token = nullptr;
  for (int i = 2; i < argc; ++i) {
    std::wstring option = argv[i];
    if (option.rfind(L"--", 0) != 0) {
      exe = option;
      continue;
    }
    std::wstring value = i + 1 < argc ? argv[++i] : L"";
    size_t eq = value.find(L'=');
    if (option == L"--args") commandLine = L" " + value;
    if (option == L"--tmp") {
      SetEnvironmentVariableW(L"TMP", value.c_str());
      SetEnvironmentVariableW(L"TEMP", value.c_str());
    }
    if (option == L"--env") {
      std::wstring rest = eq == std::wstring::npos ? L"" : value.substr(eq + 1);
      SetEnvironmentVariableW(value.substr(0, eq).c_str(), rest.empty() ? nullptr : rest.c_str());
    }
    if (option == L"--cwd") cwd = value;
    if (option == L"--show") show = _wtoi(value.c_str());
    if (option == L"--answer") answer = value;
    if (option == L"--timeout") timeout = wcstoul(value.c_str(), nullptr, 10);
    if (option == L"--drop") {
      HANDLE own = nullptr;
      LUID_AND_ATTRIBUTES drop = {};
      OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY,
                       &own);
      LookupPrivilegeValueW(nullptr, value.c_str(), &drop.Luid);
      if (!CreateRestrictedToken(own, 0, 0, nullptr, 1, &drop, 0, nullptr, &token)) {
        printf("drop_failed\n");
        return 3;
      }
    }
  }
  commandLine = L"\"" + exe + L"\"" + commandLine;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = show >= 0 ? STARTF_USESHOWWINDOW : 0;
  startup.wShowWindow = static_cast<WORD>(show);
  PROCESS_INFORMATION process;
  const wchar_t* folder = cwd.empty() ? nullptr : cwd.c_str();
  wchar_t* line = &commandLine[0];
  if (!(token ? CreateProcessAsUserW(token, exe.c_str(), line, nullptr, nullptr, FALSE, 0, nullptr,
                                     folder, &startup, &process)
              : CreateProcessW(exe.c_str(), line, nullptr, nullptr, FALSE, 0, nullptr, folder,
                               &startup, &process))) {
    printf("start_failed=%lu\n", GetLastError());
    return 3;
  }
  printf("pid=%lu\n", process.dwProcessId);
  fflush(stdout);
  Box box = {process.dwProcessId, nullptr};
  DWORD waited = 0;
  while (WaitForSingleObject(process.hProcess, 20) != WAIT_OBJECT_0) {
    if (!box.window) {
      EnumWindows(FindBox, reinterpret_cast<LPARAM>(&box));
      int id = answer == L"cancel" ? IDCANCEL : answer == L"ok" ? IDOK : 0;
      if (box.window && id) {
        Sleep(100);  // let the box settle before pressing, as a person would
        PostMessageA(box.window, WM_COMMAND, id, 0);
      }
    }
    if ((waited += 20) >= timeout) {
      TerminateProcess(process.hProcess, 99);
      WaitForSingleObject(process.hProcess, 5000);
      printf("timeout=1\n");
      break;
    }
  }
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  printf("exit=%ld\n", static_cast<long>(exitCode));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && strcmp(argv[1], "run") == 0) return Run();
  if ((argc == 3 || argc == 5) && strcmp(argv[1], "open") == 0) {
    const DWORD everything = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE file =
        CreateFileA(argv[2], GENERIC_READ, everything, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      printf("denied %lu\n", GetLastError());
      return 1;
    }
    printf("open\n");
    if (argc == 5) {
      CloseHandle(CreateFileA(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
      for (int i = 0; i < 12000 && GetFileAttributesA(argv[4]) == INVALID_FILE_ATTRIBUTES; ++i) {
        Sleep(10);
      }
      printf("released\n");
    }
    CloseHandle(file);
    return 0;
  }
  char self[MAX_PATH * 2] = {0};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  STARTUPINFOA startup = {};
  GetStartupInfoA(&startup);
  FILE* log = fopen(strcat(self, ".log"), "ab");
  if (!log) return 1;
  int show = startup.dwFlags & STARTF_USESHOWWINDOW ? startup.wShowWindow : -1;
  fprintf(log, "cmdline=%s\nshow=%d\n", GetCommandLineA(), show);
  return fclose(log);
}
