// The end-to-end tests' hands inside Wine: starts a launcher with an exact command
// line and environment, answers its message box, and probes files as another process.
//
//   probe run [options] EXE        start EXE, wait, print "exit=N" (and the box seen)
//     --args TEXT      command line is "EXE" TEXT (default: "EXE" alone)
//     --raw TEXT       command line is exactly TEXT
//     --tmp DIR        TMP and TEMP for the child
//     --env K=V        set a variable for the child (repeatable); --env K= removes it
//     --cwd DIR        the child's current directory
//     --show N         STARTF_USESHOWWINDOW with wShowWindow N
//     --answer ok|cancel|none   what to press in a message box (default ok)
//     --timeout MS     kill the child after MS milliseconds (default 60000)
//   probe tryopen PATH [shared]    open PATH for reading with share mode 0, or with
//                                  every sharing ("shared": fails only on a holder
//                                  that shares nothing)
//   probe hold PATH UNTIL          hold PATH open (share 0) until file UNTIL exists
//   probe attrs PATH               print the file attributes in hex, or "missing"
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

struct BoxSeen {
  bool found = false;
  std::string caption;
  std::string text;
  std::string buttons;
  HWND window = nullptr;
};

struct BoxSearch {
  DWORD processId;
  BoxSeen* seen;
};

std::string ClassOf(HWND window) {
  char name[64] = {0};
  GetClassNameA(window, name, sizeof name);
  return name;
}

std::string TextOf(HWND window) {
  char text[1024] = {0};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

BOOL CALLBACK InspectChild(HWND child, LPARAM context) {
  BoxSeen* seen = reinterpret_cast<BoxSeen*>(context);
  std::string cls = ClassOf(child);
  if (!IsWindowVisible(child)) return TRUE;
  if (_stricmp(cls.c_str(), "Static") == 0) {
    std::string text = TextOf(child);
    if (text.size() > seen->text.size()) seen->text = text;
  } else if (_stricmp(cls.c_str(), "Button") == 0) {
    if (!seen->buttons.empty()) seen->buttons += ",";
    std::string label = TextOf(child);
    std::string clean;
    for (char c : label) {
      if (c != '&') clean += c;
    }
    seen->buttons += clean;
  }
  return TRUE;
}

BOOL CALLBACK FindBox(HWND window, LPARAM context) {
  BoxSearch* search = reinterpret_cast<BoxSearch*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->processId || !IsWindowVisible(window)) return TRUE;
  if (ClassOf(window) != "#32770") return TRUE;
  BoxSeen* seen = search->seen;
  seen->found = true;
  seen->window = window;
  seen->caption = TextOf(window);
  EnumChildWindows(window, InspectChild, reinterpret_cast<LPARAM>(seen));
  return FALSE;
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out;
}

// Builds the child's environment: the probe's own, with the requested changes.
std::vector<char> BuildEnvironment(const std::map<std::string, std::string>& changes) {
  std::map<std::string, std::string> variables;
  char* block = GetEnvironmentStringsA();
  for (char* p = block; *p; p += strlen(p) + 1) {
    std::string entry = p;
    size_t eq = entry.find('=', 1);
    if (eq == std::string::npos) continue;
    variables[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  FreeEnvironmentStringsA(block);
  for (const auto& change : changes) {
    // Windows variable names are case-insensitive: drop any spelling of the name.
    for (auto it = variables.begin(); it != variables.end();) {
      if (_stricmp(it->first.c_str(), change.first.c_str()) == 0) it = variables.erase(it);
      else ++it;
    }
    if (!change.second.empty()) variables[change.first] = change.second;
  }
  std::vector<char> result;
  for (const auto& v : variables) {
    std::string entry = v.first + "=" + v.second;
    result.insert(result.end(), entry.begin(), entry.end());
    result.push_back(0);
  }
  result.push_back(0);
  return result;
}

int Run(int argc, char** argv) {
  std::string args;
  std::string raw;
  bool haveRaw = false;
  bool haveArgs = false;
  std::map<std::string, std::string> changes;
  std::string cwd;
  int show = -1;
  std::string answer = "ok";
  DWORD timeout = 60000;
  std::string exe;
  for (int i = 2; i < argc; ++i) {
    std::string option = argv[i];
    auto next = [&]() -> std::string {
      if (i + 1 >= argc) {
        fprintf(stderr, "probe: %s needs a value\n", option.c_str());
        exit(2);
      }
      return argv[++i];
    };
    if (option == "--args") { args = next(); haveArgs = true; }
    else if (option == "--raw") { raw = next(); haveRaw = true; }
    else if (option == "--tmp") { std::string t = next(); changes["TMP"] = t; changes["TEMP"] = t; }
    else if (option == "--env") {
      std::string kv = next();
      size_t eq = kv.find('=');
      changes[kv.substr(0, eq)] = eq == std::string::npos ? "" : kv.substr(eq + 1);
    }
    else if (option == "--cwd") cwd = next();
    else if (option == "--show") show = atoi(next().c_str());
    else if (option == "--answer") answer = next();
    else if (option == "--timeout") timeout = static_cast<DWORD>(atol(next().c_str()));
    else exe = option;
  }
  std::string commandLine = haveRaw ? raw : "\"" + exe + "\"" + (haveArgs ? " " + args : "");
  std::vector<char> environment = BuildEnvironment(changes);
  std::vector<char> commandBuffer(commandLine.begin(), commandLine.end());
  commandBuffer.push_back(0);

  STARTUPINFOA startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  if (show >= 0) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(show);
  }
  PROCESS_INFORMATION process;
  if (!CreateProcessA(exe.c_str(), commandBuffer.data(), nullptr, nullptr, FALSE, 0,
                      environment.data(), cwd.empty() ? nullptr : cwd.c_str(), &startup,
                      &process)) {
    printf("start_failed=%lu\n", GetLastError());
    return 3;
  }
  printf("pid=%lu\n", process.dwProcessId);
  fflush(stdout);

  BoxSeen seen;
  DWORD waited = 0;
  bool timedOut = false;
  for (;;) {
    DWORD status = WaitForSingleObject(process.hProcess, 20);
    if (status == WAIT_OBJECT_0) break;
    waited += 20;
    if (!seen.found) {
      BoxSearch search = {process.dwProcessId, &seen};
      EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
      if (seen.found) {
        printf("box.caption=%s\nbox.text=%s\nbox.buttons=%s\n", Escape(seen.caption).c_str(),
               Escape(seen.text).c_str(), seen.buttons.c_str());
        fflush(stdout);
        // Let the box settle before pressing, as a person would.
        Sleep(100);
        int id = answer == "cancel" ? IDCANCEL : answer == "ok" ? IDOK : 0;
        if (id != 0) {
          HWND button = GetDlgItem(seen.window, id);
          if (button) PostMessageA(button, BM_CLICK, 0, 0);
          else PostMessageA(seen.window, WM_COMMAND, id, 0);
        }
      }
    }
    if (waited >= timeout) {
      TerminateProcess(process.hProcess, 99);
      WaitForSingleObject(process.hProcess, 5000);
      timedOut = true;
      break;
    }
  }
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (timedOut) printf("timeout=1\n");
  printf("exit=%ld\n", static_cast<long>(exitCode));
  return 0;
}

int TryOpen(const char* path, DWORD shareMode) {
  HANDLE file = CreateFileA(path, GENERIC_READ, shareMode, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    printf("denied %lu\n", GetLastError());
    return 1;
  }
  CloseHandle(file);
  printf("open\n");
  return 0;
}

int Hold(const char* path, const char* until) {
  HANDLE file = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    printf("denied %lu\n", GetLastError());
    return 1;
  }
  printf("held\n");
  fflush(stdout);
  for (int i = 0; i < 12000 && GetFileAttributesA(until) == INVALID_FILE_ATTRIBUTES; ++i) {
    Sleep(10);
  }
  CloseHandle(file);
  return 0;
}

int Attributes(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) printf("missing\n");
  else printf("%lx\n", attributes);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && strcmp(argv[1], "run") == 0) return Run(argc, argv);
  if (argc == 3 && strcmp(argv[1], "tryopen") == 0) return TryOpen(argv[2], 0);
  if (argc == 4 && strcmp(argv[1], "tryopen") == 0 && strcmp(argv[3], "shared") == 0)
    return TryOpen(argv[2], FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (argc == 4 && strcmp(argv[1], "hold") == 0) return Hold(argv[2], argv[3]);
  if (argc == 3 && strcmp(argv[1], "attrs") == 0) return Attributes(argv[2]);
  fprintf(stderr, "usage: probe run|tryopen|hold|attrs ... (see the source's header)\n");
  return 2;
}
