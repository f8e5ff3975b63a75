// The calls that end a launch, seen in Wine's relay trace: the restart and shutdown
// requests with the shutdown privilege, and the failure message's style. They run in a
// prefix of their own, since a forced restart under Wine ends every process of its prefix.
#include <fnmatch.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "tests/e2e/harness.h"
#include "tests/e2e/scenario.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

struct Ending {
  const char* name;
  const char* exe;     // WIN98.EXE is told that it runs on a platform other than NT
  const char* result;  // the runtime's
  const char* drop;    // a privilege the launcher's token lacks, or ""
  const char* seen;    // a pattern over the launcher's calls, in order
  const char* unseen;  // a pattern that must not match them
};
void PrintTo(const Ending& e, std::ostream* out) { *out << e.name; }

// The shutdown privilege asked for and enabled; GetLastError= follows with its verdict.
// (The failure message's box the launch tables see: its buttons, text and caption, and
// that it comes up above the splash.)
#define TOKEN                                                                           \
  "OpenProcessToken(*,00000028,*)*LookupPrivilegeValueA(00000000,*SeShutdownPrivilege*" \
  "AdjustTokenPrivileges(*,00000000,*,00000000,00000000,00000000)*GetLastError="
const Ending Endings[] = {
    // First the splash: its thread was waited for until it was ready, not for the bound.
    {"restart", "MOVIE.EXE", "1", "",
     "*WaitForMultipleObjects=00000000*" TOKEN
     "00000000*ExitWindowsEx(00000006,00000000)*ExitProcess(00000000)*",
     "*MessageBoxA*"},
    {"shutdown", "MOVIE.EXE", "2", "", "*" TOKEN "00000000*ExitWindowsEx(00000005,00000000)*",
     "*MessageBoxA*"},
    {"no_privilege", "MOVIE.EXE", "1", "SeShutdownPrivilege",
     "*" TOKEN "00000514*ExitProcess(00000000)*", "*ExitWindowsEx*"},
    {"not_nt", "WIN98.EXE", "1", "", "*GetVersionExA(*ExitWindowsEx(00000006,00000000)*",
     "*OpenProcessToken*"},
};

// A path as the relay prefix sees it: its C: is not the shared prefix's.
std::string Z(std::string unixPath) {
  std::replace(unixPath.begin(), unixPath.end(), '/', '\\');
  return "'Z:" + unixPath + "'";
}

// Runs Wine in `prefix` with WINEDEBUG `debug`; stdout, with stderr in `trace` if given.
std::string Wine(const std::string& prefix, const std::string& args, const char* debug,
                 std::string* trace = nullptr) {
  std::string command = "WINEPREFIX='" + prefix + "' WINEDEBUG=" + debug + " '" + WineCommand() +
                        "' " + args + " >'" + prefix + ".out' 2>'" + prefix + ".err'";
  (void)system(command.c_str());
  if (trace) *trace = ReadFile(prefix + ".err");
  return ReadFile(prefix + ".out");
}

class EndingCalls : public testing::TestWithParam<Ending> {};

TEST_P(EndingCalls, AreTheExpectedOnes) {
  const Ending& e = GetParam();
  Sandbox box = MakeSandbox(std::string("ending_") + e.name);
  // The prefix, made on first use, traces only the calls watched here.
  std::string prefix = fs::path(box.root).parent_path().parent_path() / "cine-relay/prefix";
  if (!fs::exists(prefix + "/system.reg")) {
    MakeDirs(prefix);
    Wine(prefix, "wineboot -i", "-all");
    WriteFile(prefix + ".reg",
              "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Debug]\r\n"
              "\"RelayInclude\"=\"user32.MessageBoxA;user32.ExitWindowsEx;kernel32.ExitProcess;"
              "kernel32.GetVersionExA;kernel32.GetLastError;kernel32.WaitForMultipleObjects;"
              "advapi32.OpenProcessToken;"
              "advapi32.LookupPrivilegeValueA;advapi32.AdjustTokenPrivileges\"\r\n\r\n"
              "[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\WIN98.EXE]\r\n"
              "\"Version\"=\"win98\"\r\n");
    Wine(prefix, "reg import " + Z(prefix + ".reg"), "-all");
  }
  CopyFile(Launcher(), box.app + "/" + e.exe);
  CopyFile(TestRuntime(), box.app + "/cine.dll");
  Bitmap(40, 30)(box, box.app + "/" + fs::path(e.exe).replace_extension(".BMP").string());
  std::string probe = Z(WinDir() + "/tests/probe.exe") + " run --answer none" +
                      " --env CINE_RESULT=" + e.result + " --timeout " +
                      std::to_string(30000 * TimeFactor());
  if (*e.drop) probe += std::string(" --drop ") + e.drop;
  std::string trace;
  std::string output = Wine(prefix, probe + " " + Z(box.app + "/" + e.exe), "+relay,+pid", &trace);
  Wine(prefix, "--server -k", "-all");  // whatever the request left running
  std::string pid = ParseKeyValues(output)["pid"];
  ASSERT_FALSE(pid.empty()) << output;
  // The launcher's own calls, one a line: "Name(arguments)" and "Name=result".
  char tag[16];
  snprintf(tag, sizeof tag, "%04lx:", std::stoul(pid));
  std::istringstream in(trace);
  std::string calls;
  for (std::string line; std::getline(in, line);) {
    size_t call = line.find(":Call "), ret = line.find(":Ret  "), at = std::min(call, ret) + 6;
    if (line.rfind(tag, 0) != 0 || at < 6) continue;  // another process's, or no call
    std::string name = line.substr(at, line.find('(', at) - at);
    if (name.find(' ') != std::string::npos) continue;  // a DLL entry point, not a call
    calls += name.substr(name.find('.') + 1);
    calls += call != std::string::npos
                 ? line.substr(line.find('('), line.rfind(" ret=") - line.find('(')) + "\n"
                 : "=" + line.substr(line.find("retval=") + 7, 8) + "\n";
  }
  EXPECT_EQ(fnmatch(e.seen, calls.c_str(), 0), 0) << calls;
  EXPECT_NE(fnmatch(e.unseen, calls.c_str(), 0), 0) << calls;
}

INSTANTIATE_TEST_SUITE_P(Table, EndingCalls, testing::ValuesIn(Endings),
                         [](const testing::TestParamInfo<Ending>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace e2e
