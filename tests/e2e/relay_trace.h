// Runs Windows programs in a Wine prefix of their own with Wine's relay trace limited
// to the few calls the tests watch (message box, restart request, token, browser
// start, exit), so that the real calls can be seen with their arguments. A forced
// restart ends every process of its prefix, so it must never reach the shared one.
#pragma once
#include <string>
#include <vector>

namespace e2e {

// One traced call of a process: "MessageBoxA", its arguments as printed by Wine
// (strings with their quotes), and its return value in hex ("" when not seen).
struct TracedCall {
  std::string function;
  std::vector<std::string> args;
  std::string result;
};

struct TracedRun {
  std::string output;              // the program's standard output
  std::vector<std::string> lines;  // every relay line, of every process
};

// The separate prefix (inside the shared prefix's drive_c, so that a new session's
// prefix starts it anew), booted and configured on first use.
std::string RelayPrefixDir();

// "C:\..." for paths in the relay prefix's drive_c, "Z:\..." for any other.
std::string RelayWindowsPath(const std::string& unixPath);

// A folder for one test inside the relay prefix's drive_c, emptied first.
std::string MakeRelaySandbox(const std::string& name);

// Keeps one wineserver for the relay prefix while it lives, and ends it (and every
// process left in the prefix) when it goes.
struct RelaySession {
  RelaySession();
  ~RelaySession();
  RelaySession(const RelaySession&) = delete;
  RelaySession& operator=(const RelaySession&) = delete;
};

// Runs wine64 with `args` in the relay prefix, untraced and quiet; returns its status.
int RunRelayQuiet(const std::vector<std::string>& args);

// Runs wine64 with `args` in the relay prefix with the trace on; `env` adds K=V
// variables for the Wine process.
TracedRun RunTraced(const std::vector<std::string>& args,
                    const std::vector<std::string>& env = {});

// The traced calls of the process whose decimal id is `pid`, in order.
std::vector<TracedCall> CallsOf(const TracedRun& run, int pid);

// The text of a string argument as Wine prints it (`0021f8e0 "C:\\x"` gives C:\x),
// or "" when the argument holds no string.
std::string StringArg(const std::string& arg);

// The value of `key=` in program output (the first occurrence), or "".
std::string OutputValue(const std::string& output, const std::string& key);

// Names of the functions of `calls`, comma-separated, for failure messages.
std::string Describe(const std::vector<TracedCall>& calls);

}  // namespace e2e
