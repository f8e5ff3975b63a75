// The runtime's restart and shutdown requests, seen in the real calls the launcher
// makes (Wine's relay trace, in a prefix of their own: a forced restart under Wine
// ends every process of the prefix).
#include <gtest/gtest.h>

#include "tests/e2e/harness.h"
#include "tests/e2e/relay_trace.h"

namespace e2e {
namespace {

std::string ProbeExe() { return RelayWindowsPath(WinDir() + "/tests/probe.exe"); }

// The calls from the platform query on: the restart path and the exit.
std::vector<TracedCall> FromVersionQuery(const std::vector<TracedCall>& calls) {
  for (size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].function == "GetVersionExA") {
      return std::vector<TracedCall>(calls.begin() + i, calls.end());
    }
  }
  return {};
}

bool AnyExitWindowsEx(const TracedRun& run) {
  for (const std::string& line : run.lines) {
    if (line.find("ExitWindowsEx") != std::string::npos) return true;
  }
  return false;
}

TEST(RestartSystem, RuntimeResultsReachExitWindowsExWithForcedFlags) {
  struct Case {
    const char* name;
    const char* exeName;     // WIN98.EXE is told by Wine that it runs on Windows 98
    const char* result;      // what the runtime returns
    bool dropPrivilege;      // started with a token without SeShutdownPrivilege
    const char* flags;       // ExitWindowsEx's flags, or null for no request
    bool tokenCalls;         // the privilege is asked for
    const char* lastError;   // what AdjustTokenPrivileges left
  };
  const Case cases[] = {
      {"restart", "MOVIE.EXE", "1", false, "00000006", true, "00000000"},
      {"shutdown", "MOVIE.EXE", "2", false, "00000005", true, "00000000"},
      {"no_privilege", "MOVIE.EXE", "1", true, nullptr, true, "00000514"},
      {"not_nt", "WIN98.EXE", "1", false, "00000006", false, nullptr},
      {"not_nt_shutdown", "WIN98.EXE", "2", false, "00000005", false, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RelaySession session;  // ends with the prefix's wineserver, whatever the request did
    std::string root = MakeRelaySandbox(std::string("restart_") + c.name);
    std::string exe = root + "/app/" + c.exeName;
    CopyFile(Launcher(), exe);
    CopyFile(TestRuntime(), root + "/app/cine.dll");
    std::string probe = ProbeExe() + " run --env CINE_RESULT=" + c.result +
                        " --env CINE_REPORT=" + RelayWindowsPath(root + "/report.txt") +
                        " --answer none --timeout " + std::to_string(30000 * TimeFactor()) +
                        " " + RelayWindowsPath(exe);
    std::vector<std::string> args;
    if (c.dropPrivilege) {
      args = {RelayWindowsPath(WinDir() + "/tests/uidriver.exe"), "drop-privilege",
              "SeShutdownPrivilege", probe};
    } else {
      args = {ProbeExe(), "run", "--env", std::string("CINE_RESULT=") + c.result, "--env",
              "CINE_REPORT=" + RelayWindowsPath(root + "/report.txt"), "--answer", "none",
              "--timeout", std::to_string(30000 * TimeFactor()), RelayWindowsPath(exe)};
    }
    TracedRun run = RunTraced(args);
    if (c.dropPrivilege) {
      ASSERT_EQ(OutputValue(run.output, "token_has_privilege"), "0") << run.output;
    }
    std::string pidText = OutputValue(run.output, "pid");
    ASSERT_FALSE(pidText.empty()) << run.output;
    std::string report = ReadFile(root + "/report.txt");
    EXPECT_NE(report.find(std::string("result=") + c.result), std::string::npos) << report;

    std::vector<TracedCall> calls = FromVersionQuery(CallsOf(run, std::stoi(pidText)));
    std::vector<std::string> expected = {"GetVersionExA"};
    if (c.tokenCalls) {
      expected.insert(expected.end(), {"OpenProcessToken", "LookupPrivilegeValueA",
                                       "AdjustTokenPrivileges", "GetLastError", "CloseHandle"});
    }
    if (c.flags) expected.push_back("ExitWindowsEx");
    expected.push_back("ExitProcess");
    std::string names;
    for (const std::string& e : expected) names += (names.empty() ? "" : ",") + e;
    ASSERT_EQ(Describe(calls), names);

    size_t at = 1;
    if (c.tokenCalls) {
      // The current process's token, opened for adjusting and querying (0x28).
      EXPECT_EQ(calls[1].args.at(1), "00000028");
      EXPECT_EQ(calls[1].result, "00000001");
      EXPECT_NE(calls[2].args.at(1).find("\"SeShutdownPrivilege\""), std::string::npos);
      const TracedCall& adjust = calls[3];
      EXPECT_EQ(adjust.args.at(1), "00000000");  // not "disable all"
      EXPECT_EQ(adjust.args.at(3), "00000000");  // no previous state asked for
      EXPECT_EQ(adjust.args.at(4), "00000000");
      EXPECT_EQ(adjust.args.at(5), "00000000");
      EXPECT_EQ(calls[4].result, c.lastError);
      // The handle closed is the token that was adjusted.
      EXPECT_EQ(calls[5].args.at(0), adjust.args.at(0));
      at = 6;
    }
    if (c.flags) {
      EXPECT_EQ(calls[at].args.at(0), c.flags);
      EXPECT_EQ(calls[at].args.at(1), "00000000");
      EXPECT_EQ(calls[at].result, "00000001") << "Wine accepted the request";
      ++at;
    } else {
      EXPECT_FALSE(AnyExitWindowsEx(run)) << "no process may ask for a restart";
    }
    // Exit code 0, and no message box on the way.
    EXPECT_EQ(calls[at].args.at(0), "00000000");
    for (const std::string& line : run.lines) {
      EXPECT_EQ(line.find("MessageBoxA"), std::string::npos) << line;
    }
    EXPECT_EQ(OutputValue(run.output, "box.caption"), "");
  }
}

}  // namespace
}  // namespace e2e
