// Two runs sharing one temporary folder: a live run's folder and lock are its own until
// it ends; a run that dies leaves its folder to the next run's exit.
#include <gtest/gtest.h>

#include "tests/e2e/harness.h"

namespace e2e {
namespace {

std::string TryOpen(const std::string& path) {
  std::string out = RunWine({ToWindowsPath(WinDir() + "/tests/probe.exe"), "tryopen", ToWindowsPath(path)}).output;
  return out.substr(0, out.find_first_of("\r\n"));
}

TEST(WorkFolder, LiveRunKeepsItsFolderAndADeadOnesGoesAtTheNextExit) {
  Sandbox box = MakeSandbox("wf_two_runs");
  std::string out;
  WriteFile(box.root + "/movie.dat", "QMV1movie");
  ASSERT_EQ(RunCinepack("build --stub " + Launcher() + " --movie " + box.root + "/movie.dat -o " + box.app +
                        "/MOVIE.EXE --extract " + TestRuntime(), &out), 0) << out;
  // The first run stays in its runtime until told, then dies without cleaning up.
  LaunchSpec first = SandboxSpec(box);
  first.env = {"CINE_REPORT=" + ToWindowsPath(box.root + "/first.txt"), "CINE_READY=" + ToWindowsPath(box.root + "/ready"),
               "CINE_WAIT_FOR=" + ToWindowsPath(box.root + "/go"), "CINE_RESULT=exit"};
  int pid = StartWine(ProbeRunArgs(box, first), box.root + "/first.out");
  ASSERT_TRUE(WaitForFile(box.root + "/ready", 60000)) << ReadFile(box.root + "/first.out");
  std::string lock = box.tmp + "/TempFolder.aaa/Quorvantix.lok";
  // Not even an open that shares everything gets at a live run's lock file.
  EXPECT_EQ(TryOpen(lock), "denied 32");

  LaunchResult second = Launch(box, SandboxSpec(box));
  EXPECT_EQ(second.report["workFolder"], ToWindowsPath(box.tmp) + "\\TempFolder.aab\\");
  EXPECT_EQ(second.exitCode, 0);
  EXPECT_EQ(ListDir(box.tmp), std::vector<std::string>{"TempFolder.aaa"}) << "only the live run's folder is left";
  EXPECT_EQ(ListDir(box.tmp + "/TempFolder.aaa"), (std::vector<std::string>{"Quorvantix.lok", "cine.dll"}));

  WriteFile(box.root + "/go", "");
  EXPECT_EQ(ReadLaunch(box, FinishWine(pid, box.root + "/first.out")).exitCode, 9);
  EXPECT_EQ(ListDir(box.tmp), std::vector<std::string>{"TempFolder.aaa"});
  EXPECT_EQ(TryOpen(lock), "open");
  EXPECT_EQ(Launch(box, SandboxSpec(box)).report["workFolder"], ToWindowsPath(box.tmp) + "\\TempFolder.aab\\");
  EXPECT_TRUE(ListDir(box.tmp).empty()) << "the dead run's folder outlived the next exit";
}

}  // namespace
}  // namespace e2e
