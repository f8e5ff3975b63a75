// How a launch ends when the runtime asks for a restart or a shutdown, seen in Wine's relay
// trace: the shutdown privilege asked for and enabled, then the request; without the
// privilege no request; a system other than NT needs no privilege. The trace also shows
// how the wait for the splash thread at the start ended: only it can tell that apart from
// a wait to the bound, without timing anything.
#include "tests/e2e/scenario.h"

namespace e2e {
namespace {

const char Traced[] =
    "user32.MessageBoxA;user32.ExitWindowsEx;kernel32.ExitProcess;kernel32.GetVersionExA;"
    "kernel32.GetLastError;kernel32.WaitForMultipleObjects;advapi32.OpenProcessToken;"
    "advapi32.LookupPrivilegeValueA;advapi32.AdjustTokenPrivileges";

// The shutdown privilege asked for and enabled; GetLastError= follows with its verdict.
#define TOKEN                                                                           \
  "OpenProcessToken(*,00000028,*)*LookupPrivilegeValueA(00000000,*SeShutdownPrivilege*" \
  "AdjustTokenPrivileges(*,00000000,*,00000000,00000000,00000000)*GetLastError="

// The runtime's result asks for the ending; the splash is up before it.
Start Asking(const char* result, std::string windows = "") {
  return {.env = {std::string("CINE_RESULT=") + result},
          .windows = std::move(windows),
          .traced = Traced};
}
const std::vector<Placed> WithSplash = {Runtime("app/cine.dll"),
                                        Put("app/MOVIE.BMP", Bitmap(40, 30))};

const Scenario Endings[] = {
    // The splash thread was waited for until it was ready, not for the bound.
    {.name = "restart",
     .given = WithSplash,
     .start = Asking("1"),
     .expect = {.received = {Called()},
                .calls = "*WaitForMultipleObjects=00000000*" TOKEN
                         "00000000*ExitWindowsEx(00000006,00000000)*ExitProcess(00000000)*",
                .notCalls = "*MessageBoxA*"}},
    {.name = "shutdown",
     .given = WithSplash,
     .start = Asking("2"),
     .expect = {.received = {Called()},
                .calls = "*" TOKEN "00000000*ExitWindowsEx(00000005,00000000)*",
                .notCalls = "*MessageBoxA*"}},
    {.name = "no_privilege",
     .given = WithSplash,
     .start = {.env = {"CINE_RESULT=1"}, .drop = "SeShutdownPrivilege", .traced = Traced},
     .expect = {.received = {Called()},
                .calls = "*" TOKEN "00000514*ExitProcess(00000000)*",
                .notCalls = "*ExitWindowsEx*"}},
    {.name = "not_nt",
     .projector = {.exe = "WIN98.EXE"},
     .given = {Runtime("app/cine.dll")},
     .start = Asking("1", "win98"),
     .expect = {.received = {Called()},
                .calls = "*GetVersionExA(*ExitWindowsEx(00000006,00000000)*",
                .notCalls = "*OpenProcessToken*"}},
};

INSTANTIATE_TEST_SUITE_P(Ending, Launches, testing::ValuesIn(Endings), ScenarioName);

}  // namespace
}  // namespace e2e
