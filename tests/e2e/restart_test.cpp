// The calls that end a launch, seen in Wine's relay trace: the restart and shutdown
// requests with the shutdown privilege, and the failure message's style. They run in a
// prefix of their own, since a forced restart under Wine ends every process of its prefix.
#include <fnmatch.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "tests/e2e/harness.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

// A path as the relay prefix sees it: its C: is not the shared prefix's.
std::string Z(const std::string& unixPath) {
  std::string path = "Z:" + fs::absolute(unixPath).lexically_normal().string();
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

// Runs Wine in the relay prefix with `debug` as WINEDEBUG; returns stdout, stderr in `trace`.
std::string RunInRelayPrefix(const std::string& prefix, const std::vector<std::string>& args,
                             const char* debug, std::string* trace = nullptr) {
  std::string out = prefix + ".out", err = prefix + ".err";
  std::vector<char*> argv;
  std::string wine = WineCommand();
  argv.push_back(wine.data());
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    setenv("WINEPREFIX", prefix.c_str(), 1);
    setenv("WINEDEBUG", debug, 1);
    freopen(out.c_str(), "w", stdout);
    freopen(err.c_str(), "w", stderr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  waitpid(pid, nullptr, 0);
  if (trace) *trace = ReadFile(err);
  return ReadFile(out);
}

// The prefix, booted on first use, tracing only the calls watched here; a program
// named WIN98.EXE is told that it runs on a platform other than NT.
std::string RelayPrefix(const Sandbox& box) {
  std::string prefix = fs::path(box.root).parent_path().parent_path() / "cine-relay/prefix";
  if (!fs::exists(prefix + "/system.reg")) {
    fs::create_directories(prefix);
    RunInRelayPrefix(prefix, {"wineboot", "-i"}, "-all");
  }
  WriteFile(prefix + ".reg",
            "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Debug]\r\n\"RelayInclude\"=\"user32.MessageBoxA;"
            "user32.ExitWindowsEx;kernel32.ExitProcess;kernel32.GetVersionExA;advapi32.OpenProcessToken;"
            "advapi32.LookupPrivilegeValueA;advapi32.AdjustTokenPrivileges;kernel32.GetLastError\"\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\WIN98.EXE]\r\n\"Version\"=\"win98\"\r\n");
  RunInRelayPrefix(prefix, {"reg", "import", Z(prefix + ".reg")}, "-all");
  return prefix;
}

// The launcher's own traced calls, one a line: "Name(arguments)" and "Name=result".
std::string LauncherCalls(const std::string& trace, const std::string& pid) {
  char prefix[16];
  snprintf(prefix, sizeof prefix, "%04lx:", std::stoul(pid));
  std::istringstream in(trace);
  std::string calls;
  for (std::string line; std::getline(in, line);) {
    size_t call = line.find(":Call "), ret = line.find(":Ret  ");
    if (line.rfind(prefix, 0) != 0 || (call == std::string::npos && ret == std::string::npos)) continue;
    size_t at = std::min(call, ret) + 6;
    std::string name = line.substr(at, line.find('(', at) - at);
    name = name.substr(name.find('.') + 1);
    if (call != std::string::npos) calls += name + line.substr(line.find('('), line.rfind(" ret=") - line.find('(')) + "\n";
    else calls += name + "=" + line.substr(line.find("retval=") + 7, 8) + "\n";
  }
  return calls;
}

struct Ending {
  const char* name;
  const char* exe;     // WIN98.EXE: not NT
  const char* result;  // the runtime's
  bool dropPrivilege;  // started with a token without SeShutdownPrivilege
  const char* answer;
  const char* seen;    // glob over the launcher's calls, in order
  const char* unseen;  // glob that must not match them
};

#define TOKEN "OpenProcessToken(*,00000028,*)*LookupPrivilegeValueA(00000000,*SeShutdownPrivilege*" \
              "AdjustTokenPrivileges(*,00000000,*,00000000,00000000,00000000)*GetLastError="
const Ending Endings[] = {
    {"restart", "MOVIE.EXE", "1", false, "none", "*" TOKEN "00000000*ExitWindowsEx(00000006,00000000)*ExitProcess(00000000)*", "*MessageBoxA*"},
    {"shutdown", "MOVIE.EXE", "2", false, "none", "*" TOKEN "00000000*ExitWindowsEx(00000005,00000000)*ExitProcess(00000000)*", "*MessageBoxA*"},
    {"no_privilege", "MOVIE.EXE", "1", true, "none", "*" TOKEN "00000514*ExitProcess(00000000)*", "*ExitWindowsEx*"},
    {"not_nt", "WIN98.EXE", "1", false, "none", "*GetVersionExA(*ExitWindowsEx(00000006,00000000)*", "*OpenProcessToken*"},
    {"failed_box", "MOVIE.EXE", "0", false, "ok", "*MessageBoxA(00000000,*,*,00041010)*ExitProcess(00000001)*", "*ExitWindowsEx*"},
    {"not_found_box", "MOVIE.EXE", "", false, "cancel", "*MessageBoxA(00000000,*,*,00041011)*ExitProcess(00000000)*", "*ExitWindowsEx*"},
};

void PrintTo(const Ending& e, std::ostream* out) { *out << e.name; }

class EndingCalls : public testing::TestWithParam<Ending> {};

TEST_P(EndingCalls, AreTheExpectedOnes) {
  const Ending& e = GetParam();
  Sandbox box = MakeSandbox(std::string("ending_") + e.name);
  std::string prefix = RelayPrefix(box), exe = box.app + "/" + e.exe;
  CopyFile(Launcher(), exe);
  if (*e.result) CopyFile(TestRuntime(), box.app + "/cine.dll");
  std::string probe = Z(WinDir() + "/tests/probe.exe");
  std::vector<std::string> args = {probe, "run", "--env", std::string("CINE_RESULT=") + e.result, "--answer", e.answer,
                                   "--timeout", std::to_string(30000 * TimeFactor()), Z(exe)};
  if (e.dropPrivilege) {
    std::string line;
    for (const std::string& a : args) line += (line.empty() ? "" : " ") + a;
    args = {Z(WinDir() + "/tests/uidriver.exe"), "drop-privilege", "SeShutdownPrivilege", line};
  }
  std::string trace;
  std::string output = RunInRelayPrefix(prefix, args, "+relay,+pid", &trace);
  RunInRelayPrefix(prefix, {"--server", "-k"}, "-all");  // whatever the request left running
  ASSERT_EQ(output.find("token_has_privilege=1"), std::string::npos) << "the privilege was not dropped";
  std::map<std::string, std::string> probed = ParseKeyValues(output);
  ASSERT_FALSE(probed["pid"].empty()) << output;
  std::string calls = LauncherCalls(trace, probed["pid"]);
  EXPECT_EQ(fnmatch(e.seen, calls.c_str(), 0), 0) << calls;
  EXPECT_NE(fnmatch(e.unseen, calls.c_str(), 0), 0) << calls;
}

INSTANTIATE_TEST_SUITE_P(Table, EndingCalls, testing::ValuesIn(Endings),
                         [](const testing::TestParamInfo<Ending>& info) { return info.param.name; });

}  // namespace
}  // namespace e2e
