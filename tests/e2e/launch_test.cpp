// The launch as a user and the runtime see it, on the shipped build under Wine: one table
// of scenarios (the projector, what lies around it, how it is started) and their outcomes
// (exit code, message box, what the runtime received, what is left on disk).
#include <gtest/gtest.h>

#include "tests/e2e/harness.h"
#include "tests/e2e/scenario.h"

namespace e2e {
namespace {

const char Lock[] = "Quorvantix.lok";

Placed Runtime(std::string path) { return Put(std::move(path), Library(Lib::Test)); }

const Scenario Scenarios[] = {
    // Where cine.dll is found, and all it is handed; the current directory is restored.
    {.name = "beside",
     .given = {Runtime("app/cine.dll")},
     .expect = {.received = {Got("runtimeLocation", "1"),
                             GotPath("runtime_path", In::App, "\\cine.dll"),
                             GotPath("cwd", In::Root), Got("version", "2"), Got("size", "28"),
                             Got("closeSplash_set", "0"), Got("splashThreadId", "0"),
                             Got("workFolder", "(null)"), Got("payloadOption", "0"),
                             Got("instance_is_exe", "1"), Got("previous", "0"), Got("show", "10"),
                             Got("cmdline", "")}}},
    {.name = "nodix",
     .given = {Runtime("app/Nodix/cine.dll")},
     .expect = {.received = {Got("runtimeLocation", "3"),
                             GotPath("runtime_path", In::App, "\\Nodix\\cine.dll"),
                             GotPath("cwd", In::Root)}}},
    {.name = "beside_before_nodix",
     .given = {Runtime("app/cine.dll"), Runtime("app/Nodix/cine.dll")},
     .expect = {.received = {Got("runtimeLocation", "1")}}},
    {.name = "shared",
     .given = {PutShared("cine.dll", Library(Lib::Test))},
     .expect = {.received = {Got("runtimeLocation", "4"),
                             GotPath("runtime_path", In::Value,
                                     "C:\\windows\\system32\\Quorvant\\Lumenreel 10\\cine.dll"),
                             GotPath("cwd", In::Root)}}},
    {.name = "nodix_before_shared",
     .given = {Runtime("app/Nodix/cine.dll"), PutShared("cine.dll", Library(Lib::Test))},
     .expect = {.received = {Got("runtimeLocation", "3")}}},
    // The command line after the program's name, byte for byte, and the show state.
    {.name = "command_line",
     .given = {Runtime("app/cine.dll")},
     .start = {.afterExe = "  \t -play  \"two words\" 'x' ", .show = 0},
     .expect = {.received = {Got("cmdline", "-play  \"two words\" 'x' "), Got("show", "0")}}},
    // The runtime's result: 0 is a failure, with exit code 1; any other a normal end.
    {.name = "runtime_failed",
     .given = {Runtime("app/cine.dll")},
     .start = {.env = {{"CINE_RESULT", "0"}}},
     .expect = {.exitCode = 1, .box = CannotRunText, .received = {Got("result", "0")}}},
    {.name = "runtime_minus_one",
     .given = {Runtime("app/cine.dll")},
     .start = {.env = {{"CINE_RESULT", "-1"}}},
     .expect = {.received = {Got("result", "-1")}}},
    {.name = "entry_point_missing",
     .given = {Put("app/cine.dll", Library(Lib::NoExport))},
     .expect = {.box = CannotRunText}},
    // msvcrt.dll: the standard search, then the work folder, beside, Nodix; not shared.
    {.name = "msvcrt_missing",
     .projector = {.crtTwin = true},
     .given = {Runtime("app/cine.dll"), PutShared("cinecrt.dll", Library(Lib::Crt))},
     .expect = {.box = MsvcrtMissingText}},
    {.name = "msvcrt_nodix",
     .projector = {.crtTwin = true},
     .given = {Runtime("app/cine.dll"), Put("app/Nodix/cinecrt.dll", Library(Lib::Crt))},
     .expect = {.received = {GotPath("crt_path", In::App, "\\Nodix\\cinecrt.dll"),
                             Got("runtimeLocation", "1"), GotPath("cwd", In::Root)}}},
    {.name = "msvcrt_work_folder_first",
     .projector = {.crtTwin = true,
                   .extract = {Stored("cine.dll", Library(Lib::Test)),
                               Stored("cinecrt.dll", Library(Lib::Crt))}},
     .given = {Put("app/Nodix/cinecrt.dll", Library(Lib::Crt))},
     .expect = {.received = {GotPath("crt_path", In::WorkFolder, "cinecrt.dll"),
                             Got("runtimeLocation", "2"), Got("payloadOption", "0"),
                             GotPath("cwd", In::Root)}}},
    // The payload: its entries byte for byte in TempFolder.aaa, cine.dll loaded from there.
    {.name = "payload",
     .projector = {.extract = {Compressed("cine.dll", Library(Lib::Test)),
                               Stored("big.bin", Random(100000)),
                               Compressed("notes.txt", Text(150000)),
                               Compressed("exact.dat", Random(32768)),
                               Stored("empty.ini", Bytes(""))},
                   .option = true},
     .given = {Put("app/cine.dll", Library(Lib::NoExport))},
     .expect = {.received = {GotPath("workFolder", In::WorkFolder), Got("runtimeLocation", "2"),
                             GotPath("runtime_path", In::WorkFolder, "cine.dll"),
                             Got("payloadOption", "1"), GotPath("cwd", In::Root)}}},
    // Signed afterwards, as a distributor's pipeline does, also when another packer's
    // length made the tool pad it; or by cinepack, the libraries inside too.
    {.name = "signed_afterwards",
     .projector = {.extract = {Compressed("cine.dll", Library(Lib::Test)),
                               Stored("data.bin", Random(5000))},
                   .signer = Signer::Afterwards},
     .expect = {.received = {Got("runtimeLocation", "2")}}},
    {.name = "signed_afterwards_without_record",
     .projector = {.extract = {Compressed("cine.dll", Library(Lib::Test)),
                               Stored("data.bin", Random(5000))},
                   .packer = Packer::CinepackWithoutRecord,
                   .signer = Signer::Afterwards},
     .expect = {.received = {Got("runtimeLocation", "2")}}},
    {.name = "other_packer_signed_afterwards",
     .projector = {.extract = {Compressed("cine.dll", Library(Lib::Test)),
                               Stored("data.bin", Random(5000))},
                   .packer = Packer::Other,
                   .signer = Signer::Afterwards},
     .expect = {.received = {Got("runtimeLocation", "2")}}},
    {.name = "signed_by_cinepack",
     .projector = {.extract = {Compressed("cine.dll", Library(Lib::Test)),
                               Stored("data.bin", Random(5000))},
                   .signer = Signer::Cinepack},
     .expect = {.received = {Got("runtimeLocation", "2")}}},
    {.name = "cdecl_runtime",
     .projector = {.extract = {Compressed("cine.dll", Library(Lib::Cdecl))}},
     .start = {.env = {{"CINE_RESULT", "0"}}},
     .expect = {.exitCode = 1,
                .box = CannotRunText,
                .received = {Got("runtimeLocation", "2"), Got("result", "0")}}},
    {.name = "runtime_load_failed",
     .projector = {.extract = {Stored("README.TXT", Bytes("read me"))}},
     .given = {Runtime("app/cine.dll"), Runtime("app/Nodix/cine.dll")},
     .expect = {.box = CannotCreateText}},
    {.name = "nothing_to_extract",
     .projector = {.leading = {"save.dat"}, .option = true},
     .given = {Runtime("app/cine.dll")},
     .expect = {.received = {Got("workFolder", "(null)"), Got("runtimeLocation", "1"),
                             Got("payloadOption", "1")}}},
    {.name = "leading_entries",
     .projector = {.extract = {Stored("cine.dll", Library(Lib::Test))},
                   .leading = {"save.dat", "prefs.ini"}},
     .given = {Put("app/save.dat", Bytes("x")), Put("app/prefs.ini", Bytes("x")),
               Put("app/other.dat", Bytes("x")), Put("app/save.ini", Bytes("x")),
               Put("save.dat", Bytes("x")), Put("app/Nodix/save.dat", Bytes("x"))},
     .expect = {.received = {Got("runtimeLocation", "2")},
                .exists = {"app/other.dat", "app/save.ini", "save.dat", "app/Nodix/save.dat"},
                .gone = {"app/save.dat", "app/prefs.ini"}}},
    // A target that cannot be created (the run's own lock file) counts as written when
    // stored, and fails the extraction when compressed.
    {.name = "held_target_stored",
     .projector = {.extract = {Stored(Lock, Bytes("not a lock")),
                               Stored("cine.dll", Library(Lib::Test))}},
     .expect = {.received = {Got("runtimeLocation", "2")}}},
    {.name = "held_target_compressed",
     .projector = {.extract = {Compressed(Lock, Bytes("not a lock")),
                               Stored("cine.dll", Library(Lib::Test))}},
     .expect = {.box = CannotCreateText}},
    // Work folder names: taken ones are skipped and, lockless, never removed; without a
    // work folder there is no launch.
    {.name = "names_taken",
     .projector = {.extract = {Stored("cine.dll", Library(Lib::Test))}},
     .given = {Put("tmp", TakenNames(26))},
     .expect = {.received = {GotPath("workFolder", In::Tmp, "\\TempFolder.aba\\")},
                .exists = {"tmp/TempFolder.aaa/mine.txt", "tmp/TempFolder.aaz/mine.txt"}}},
    {.name = "tmp_missing",
     .projector = {.extract = {Stored("cine.dll", Library(Lib::Test))}},
     .start = {.tmpMissing = true},
     .expect = {.box = CannotCreateText}},
    // The exit cleanup removes every unheld work folder, also in a run without a folder
    // of its own; lockless folders, files, other names and what links point to stay.
    {.name = "stale_cleanup",
     .given = {Runtime("app/cine.dll"), Put("tmp/TempFolder.abc", Abandoned()),
               Put("tmp/TempFolder.zzz", Abandoned()),
               Put("tmp/TempFolder.xyz/cine.dll", Bytes("no lock")),
               Put("tmp/TempFolder.txt", Bytes("a file")),
               Put("tmp/TempFolder.lok/Quorvantix.lok/x", Bytes("dir")),
               Put("tmp/Other.abc", Abandoned())},
     .expect = {.received = {Got("workFolder", "(null)")},
                .exists = {"tmp/TempFolder.xyz/cine.dll", "tmp/TempFolder.txt",
                           "tmp/TempFolder.lok/Quorvantix.lok/x", "tmp/Other.abc/cine.dll"},
                .gone = {"tmp/TempFolder.abc", "tmp/TempFolder.zzz"}}},
    {.name = "links_not_followed",
     .given = {Runtime("app/cine.dll"), Put("out", Abandoned()),
               Put("tmp/TempFolder.lnk", Link("out")), Put("tmp/TempFolder.abc/a", Link("out")),
               Put("tmp/TempFolder.abc/z", Link("out")),
               Put("tmp/TempFolder.abc/Quorvantix.lok", Bytes(""))},
     .expect = {.received = {Got("called", "1")},
                .exists = {"out/Quorvantix.lok", "out/cine.dll", "out/Xtras/one/deep.x32",
                           "tmp/TempFolder.lnk"}}},
    // The player download: the registered program gets its path and the address, which
    // carries the system's language; Cancel, or no usable command, starts nothing.
    {.name = "download",
     .start = {.htm = Registered(true, "-nohome")},
     .expect = {.box = PlayerMissingText, .browser = StartedWith("")}},
    {.name = "download_french",
     .start = {.locale = "fr_CA.UTF-8", .htm = Registered(false, "%1")},
     .expect = {.box = PlayerMissingText, .browser = StartedWith("fr/")}},
    {.name = "download_cancelled",
     .start = {.cancel = true, .htm = Registered(false, "")},
     .expect = {.box = PlayerMissingText, .browser = NotStarted()}},
    {.name = "download_no_command",
     .start = {.htm = Unregistered()},
     .expect = {.box = PlayerMissingText, .browser = NotStarted()}},
};

class Launches : public testing::TestWithParam<Scenario> {};

TEST_P(Launches, EndAsExpected) { RunScenario(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Table, Launches, testing::ValuesIn(Scenarios),
                         [](const testing::TestParamInfo<Scenario>& info) {
                           return info.param.name;
                         });

std::string TryOpen(const std::string& path) {
  std::string out =
      RunWine({ToWindowsPath(WinDir() + "/tests/probe.exe"), "tryopen", ToWindowsPath(path)})
          .output;
  return out.substr(0, out.find_first_of("\r\n"));
}

// Two runs sharing one TMP: a live run's folder and lock are its own until it ends; a
// run that dies leaves its folder to the next run's exit.
TEST(WorkFolder, LiveRunKeepsItsFolderAndADeadOnesGoesAtTheNextExit) {
  Sandbox box = MakeSandbox("wf_two_runs");
  WriteFile(box.root + "/movie.dat", "QMV1movie");
  ASSERT_EQ(RunCinepack("build --stub " + Launcher() + " --movie " + box.root + "/movie.dat -o " +
                        box.app + "/MOVIE.EXE --extract " + TestRuntime()),
            0);
  LaunchSpec first = SandboxSpec(box);  // stays in the runtime until told, then dies
  first.env = {"CINE_REPORT=" + ToWindowsPath(box.root + "/first.txt"),
               "CINE_READY=" + ToWindowsPath(box.root + "/ready"),
               "CINE_WAIT_FOR=" + ToWindowsPath(box.root + "/go"), "CINE_RESULT=exit"};
  int pid = StartWine(ProbeRunArgs(box, first), box.root + "/first.out");
  ASSERT_TRUE(WaitForFile(box.root + "/ready", 60000)) << ReadFile(box.root + "/first.out");
  std::string lock = box.tmp + "/TempFolder.aaa/Quorvantix.lok";
  EXPECT_EQ(TryOpen(lock), "denied 32")
      << "an open that shares everything got at a live run's lock";

  LaunchResult second = Launch(box, SandboxSpec(box));
  EXPECT_EQ(second.report["workFolder"], ToWindowsPath(box.tmp) + "\\TempFolder.aab\\");
  EXPECT_EQ(ListDir(box.tmp), std::vector<std::string>{"TempFolder.aaa"})
      << "only the live run's folder stays";
  EXPECT_EQ(ListDir(box.tmp + "/TempFolder.aaa"), (std::vector<std::string>{Lock, "cine.dll"}));

  WriteFile(box.root + "/go", "");
  EXPECT_EQ(ReadLaunch(box, FinishWine(pid, box.root + "/first.out")).exitCode, 9);
  EXPECT_EQ(TryOpen(lock), "open");
  EXPECT_EQ(Launch(box, SandboxSpec(box)).report["workFolder"],
            ToWindowsPath(box.tmp) + "\\TempFolder.aab\\");
  EXPECT_TRUE(ListDir(box.tmp).empty()) << "the dead run's folder outlived the next exit";
}

}  // namespace
}  // namespace e2e
