// Runs Windows programs in a Wine prefix of their own with a restricted relay trace.
#include "tests/e2e/relay_trace.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/e2e/harness.h"

namespace fs = std::filesystem;

namespace e2e {

namespace {

// The calls the tests watch. GetLastError is there to see what the token adjustment
// left behind; everything else is what the launcher's outcome consists of.
const char RelayConfig[] =
    "REGEDIT4\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Wine\\Debug]\r\n"
    "\"RelayInclude\"=\"user32.MessageBoxA;user32.ExitWindowsEx;kernel32.ExitProcess;"
    "kernel32.GetVersionExA;advapi32.OpenProcessToken;advapi32.LookupPrivilegeValueA;"
    "advapi32.AdjustTokenPrivileges;kernel32.GetLastError;kernel32.CloseHandle;"
    "kernel32.GetSystemDefaultLangID;kernel32.WinExec\"\r\n\r\n"
    // A program of this name is told it runs on a platform other than NT.
    "[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\WIN98.EXE]\r\n"
    "\"Version\"=\"win98\"\r\n";

// Runs `program` with `args` and extra environment, stdout and stderr to files (or
// /dev/null when empty). Kills it after `timeoutSeconds`. Returns the exit status.
int RunIn(const std::string& prefix, const std::string& program,
          const std::vector<std::string>& args, const std::vector<std::string>& env,
          const std::string& outFile, const std::string& errFile, int timeoutSeconds) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    setenv("WINEPREFIX", prefix.c_str(), 1);
    for (const std::string& kv : env) {
      size_t eq = kv.find('=');
      setenv(kv.substr(0, eq).c_str(), kv.substr(eq + 1).c_str(), 1);
    }
    int out = open(outFile.empty() ? "/dev/null" : outFile.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    int err = open(errFile.empty() ? "/dev/null" : errFile.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    dup2(out, 1);
    dup2(err, 2);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds) * TimeFactor();
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void PrepareRelayPrefix() {
  static bool ready = false;
  if (ready) return;
  MakeSandbox("relay_boot");  // boots the shared prefix, which holds this one
  std::string prefix = RelayPrefixDir();
  fs::create_directories(fs::path(prefix).parent_path());
  int lock = open((prefix + ".lock").c_str(), O_CREAT | O_RDWR, 0644);
  flock(lock, LOCK_EX);
  if (!fs::exists(prefix + "/system.reg")) {
    if (RunIn(prefix, WineCommand(), {"wineboot", "-i"}, {"WINEDEBUG=-all"}, "", "", 300) != 0) {
      throw std::runtime_error("wineboot of the relay prefix failed");
    }
  }
  std::string config = prefix + "/../relay.reg";
  WriteFile(config, RelayConfig);
  RunIn(prefix, WineCommand(), {"reg", "import", RelayWindowsPath(config)}, {"WINEDEBUG=-all"}, "", "", 120);
  RunIn(prefix, WineCommand(), {"--server", "-k"}, {}, "", "", 60);
  flock(lock, LOCK_UN);
  close(lock);
  ready = true;
}

// Splits a relay argument list at top-level commas; quoted strings keep theirs.
std::vector<std::string> SplitArgs(const std::string& text) {
  std::vector<std::string> args;
  std::string current;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted && c == '\\' && i + 1 < text.size()) {
      current += c;
      current += text[++i];
      continue;
    }
    if (c == '"') quoted = !quoted;
    if (c == ',' && !quoted) {
      args.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty() || !args.empty()) args.push_back(current);
  return args;
}

// "KERNEL32.ExitProcess" -> "ExitProcess"; empty when the text is no function name.
std::string FunctionName(const std::string& qualified) {
  if (qualified.find(' ') != std::string::npos) return "";
  size_t dot = qualified.rfind('.');
  return dot == std::string::npos ? "" : qualified.substr(dot + 1);
}

}  // namespace

std::string RelayPrefixDir() { return PrefixDir() + "/drive_c/cine-relay/prefix"; }

std::string RelayWindowsPath(const std::string& unixPath) {
  std::string driveC = RelayPrefixDir() + "/drive_c";
  std::string path = fs::absolute(unixPath).lexically_normal().string();
  std::string result = path.compare(0, driveC.size(), driveC) == 0
                           ? "C:" + path.substr(driveC.size())
                           : "Z:" + path;
  std::replace(result.begin(), result.end(), '/', '\\');
  return result;
}

std::string MakeRelaySandbox(const std::string& name) {
  PrepareRelayPrefix();
  std::string root = RelayPrefixDir() + "/drive_c/t/" + name;
  fs::remove_all(root);
  fs::create_directories(root);
  return root;
}

RelaySession::RelaySession() {
  PrepareRelayPrefix();
  RunIn(RelayPrefixDir(), WineCommand(), {"--server", "-p"}, {}, "", "", 60);
}

RelaySession::~RelaySession() { RunIn(RelayPrefixDir(), WineCommand(), {"--server", "-k"}, {}, "", "", 60); }

int RunRelayQuiet(const std::vector<std::string>& args) {
  PrepareRelayPrefix();
  return RunIn(RelayPrefixDir(), WineCommand(), args, {"WINEDEBUG=-all"}, "", "", 120);
}

TracedRun RunTraced(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  PrepareRelayPrefix();
  std::string base = fs::temp_directory_path() / ("relay-" + std::to_string(getpid()));
  std::vector<std::string> fullEnv = {"WINEDEBUG=+relay,+pid"};
  fullEnv.insert(fullEnv.end(), env.begin(), env.end());
  RunIn(RelayPrefixDir(), WineCommand(), args, fullEnv, base + ".out", base + ".err", 240);
  TracedRun run;
  run.output = ReadFile(base + ".out");
  std::istringstream trace(ReadFile(base + ".err"));
  std::string line;
  while (std::getline(trace, line)) {
    if (line.find(":Call ") != std::string::npos || line.find(":Ret  ") != std::string::npos) {
      run.lines.push_back(line);
    }
  }
  fs::remove(base + ".out");
  fs::remove(base + ".err");
  return run;
}

std::vector<TracedCall> CallsOf(const TracedRun& run, int pid) {
  char prefix[16];
  snprintf(prefix, sizeof prefix, "%04x:", pid);
  // Only the launcher's own calls: those returning into its image. The system
  // libraries and the runtime make the same calls for their own reasons.
  std::string image = ReadFile(Launcher());
  size_t optional = ReadLE32(image, 0x3C) + 24;
  uint32_t imageBase = ReadLE32(image, optional + 28);
  uint32_t imageEnd = imageBase + ReadLE32(image, optional + 56);
  std::vector<TracedCall> calls;
  for (const std::string& line : run.lines) {
    if (line.compare(0, 5, prefix) != 0) continue;
    size_t retAt = line.rfind("ret=");
    uint32_t returnAddress =
        retAt == std::string::npos ? 0 : static_cast<uint32_t>(strtoul(line.c_str() + retAt + 4, nullptr, 16));
    if (returnAddress < imageBase || returnAddress >= imageEnd) continue;
    size_t call = line.find(":Call ");
    if (call != std::string::npos) {
      size_t open = line.find('(', call);
      size_t close = line.rfind(") ret=");
      if (open == std::string::npos || close == std::string::npos || close < open) continue;
      std::string name = FunctionName(line.substr(call + 6, open - call - 6));
      if (name.empty()) continue;
      calls.push_back({name, SplitArgs(line.substr(open + 1, close - open - 1)), ""});
      continue;
    }
    size_t ret = line.find(":Ret  ");
    size_t open = line.find('(', ret);
    size_t value = line.find("retval=");
    if (ret == std::string::npos || open == std::string::npos || value == std::string::npos) continue;
    std::string name = FunctionName(line.substr(ret + 6, open - ret - 6));
    for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
      if (it->function == name && it->result.empty()) {
        it->result = line.substr(value + 7, line.find(' ', value) - value - 7);
        break;
      }
    }
  }
  return calls;
}

std::string StringArg(const std::string& arg) {
  size_t open = arg.find('"');
  size_t close = arg.rfind('"');
  if (open == std::string::npos || close <= open) return "";
  std::string text;
  for (size_t i = open + 1; i < close; ++i) {
    if (arg[i] != '\\' || i + 1 >= close) {
      text += arg[i];
      continue;
    }
    char escaped = arg[++i];
    if (escaped == 'n') text += '\n';
    else if (escaped == 'r') text += '\r';
    else if (escaped == 't') text += '\t';
    else if (escaped == 'x' && i + 2 < close) {
      text += static_cast<char>(std::stoi(arg.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      text += escaped;
    }
  }
  return text;
}

std::string OutputValue(const std::string& output, const std::string& key) {
  std::istringstream in(output);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.compare(0, key.size() + 1, key + "=") == 0) return line.substr(key.size() + 1);
  }
  return "";
}

std::string Describe(const std::vector<TracedCall>& calls) {
  std::string text;
  for (const TracedCall& c : calls) {
    if (!text.empty()) text += ",";
    text += c.function;
  }
  return text;
}

}  // namespace e2e
