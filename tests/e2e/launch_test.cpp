// The launch as a user and the runtime see it, on the shipped build under Wine: one table
// of scenarios (the projector, what lies around it, how it is started) and their outcomes
// (exit code, message box, what the runtime received, what is left on disk).
#include "tests/e2e/scenario.h"

namespace e2e {
namespace {

// The test runtime compressed and a stored file, packed with the integrity record or
// without, harmed, then signed.
Projector Signed(Signer signer, bool record = true, Harm harm = nullptr) {
  return {.extract = {Compressed("cine.dll", Library(Lib::Test)), Stored("data.bin", Random(5000))},
          .record = record,
          .harm = std::move(harm),
          .signer = signer};
}

// As another packer leaves it: one byte more of movie, so no multiple of 8 long.
void OneByteMoreMovie(std::string& image) { image.insert(image.size() - 4, "!"); }

const uint32_t FrenchCanadian = 0x0C0C;  // a Windows language id

// Every image of the launcher's icon, in its group's order, as Windows makes one.
const char EveryIcon[] =
    "48x48@4 32x32@4 16x16@4 48x48@8 32x32@8 16x16@8 48x48@32 32x32@32 16x16@32";

const std::vector<Packed> RuntimeAlone = {Stored("cine.dll", Library(Lib::Test))};
const Outcome FromPayload = {.received = {Got("runtimeLocation", "2")}};

const Scenario Scenarios[] = {
    // Where cine.dll is found, and all it is handed; the current directory is restored; the
    // running projector's icons.
    {.name = "beside",
     .given = {Runtime("app/cine.dll")},
     .expect = {.received = {Got("runtimeLocation", "1"),
                             GotPath("runtime_path", In::App, "\\cine.dll"),
                             GotPath("cwd", In::Root), Got("version", "2"), Got("size", "28"),
                             Got("closeSplash_set", "0"), Got("splashThreadId", "0"),
                             Got("workFolder", "(null)"), Got("payloadOption", "0"),
                             Got("instance_is_exe", "1"), Got("previous", "0"), Got("show", "10"),
                             Got("cmdline", ""), Got("icons", EveryIcon)}}},
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
     .expect = {.received = {Got("runtimeLocation", "3"),
                             GotPath("runtime_path", In::App, "\\Nodix\\cine.dll"),
                             GotPath("cwd", In::Root)}}},
    // The command line after the program's name, byte for byte, and the show state.
    {.name = "command_line",
     .given = {Runtime("app/cine.dll")},
     .start = {.afterExe = "  \t -play  \"two words\" 'x' ", .show = 0},
     .expect = {.received = {Got("cmdline", "-play  \"two words\" 'x' "), Got("show", "0")}}},
    // The runtime's result: any but 0 is a normal end (0, the cdecl row).
    {.name = "runtime_minus_one",
     .given = {Runtime("app/cine.dll")},
     .start = {.env = {"CINE_RESULT=-1"}},
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
    {.name = "signed_afterwards", .projector = Signed(Signer::Afterwards), .expect = FromPayload},
    {.name = "signed_afterwards_without_record",
     .projector = Signed(Signer::Afterwards, WithoutRecord),
     .expect = FromPayload},
    {.name = "other_packer_signed_afterwards",
     .projector = Signed(Signer::Afterwards, WithoutRecord, OneByteMoreMovie),
     .expect = FromPayload},
    {.name = "signed_by_cinepack", .projector = Signed(Signer::Cinepack), .expect = FromPayload},
    // A runtime in the C calling convention; its result 0 is a failure, with exit code 1.
    {.name = "cdecl_runtime",
     .projector = {.extract = {Compressed("cine.dll", Library(Lib::Cdecl))}},
     .start = {.env = {"CINE_RESULT=0"}},
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
     .projector = {.extract = RuntimeAlone, .leading = {"save.dat", "prefs.ini"}},
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
     .expect = FromPayload},
    {.name = "held_target_compressed",
     .projector = {.extract = {Compressed(Lock, Bytes("not a lock")),
                               Stored("cine.dll", Library(Lib::Test))}},
     .expect = {.box = CannotCreateText}},
    // Work folder names: taken ones are skipped and, lockless, never removed; without a
    // work folder there is no launch.
    {.name = "names_taken",
     .projector = {.extract = RuntimeAlone},
     .given = {Put("tmp", TakenNames(26))},
     .expect = {.received = {GotPath("workFolder", In::Tmp, "\\TempFolder.aba\\")},
                .exists = {"tmp/TempFolder.aaa/mine.txt", "tmp/TempFolder.aaz/mine.txt"}}},
    {.name = "tmp_missing",
     .projector = {.extract = RuntimeAlone},
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
    // Wine removes a link to a folder by neither call, so the folder with links in it keeps
    // its lock file, which goes only once nothing else is listed.
    {.name = "links_not_followed",
     .given = {Runtime("app/cine.dll"), Put("out", Abandoned()),
               Put("tmp/TempFolder.lnk", Link("out")), Put("tmp/TempFolder.abc/a", Link("out")),
               Put("tmp/TempFolder.abc/z", Link("out")),
               Put("tmp/TempFolder.abc/Quorvantix.lok", Bytes(""))},
     .expect = {.received = {Called()},
                .exists = {"out/Quorvantix.lok", "out/cine.dll", "out/Xtras/one/deep.x32",
                           "tmp/TempFolder.lnk", "tmp/TempFolder.abc/Quorvantix.lok"}}},
    {.name = "splash_forbidden_by_payload",
     .projector = {.extract = RuntimeAlone, .noSplash = true},
     .given = {Put("app/MOVIE.BMP", Bitmap(8, 8))},
     .expect = {.received = {Got("closeSplash_set", "0"), Got("runtimeLocation", "2")}}},
    // Told it runs on Windows 10, the process hears "10.0" only because the launcher's
    // manifest names that system (without, it would hear 6.2).
    {.name = "manifest_honoured",
     .projector = {.exe = "WIN10.EXE"},
     .given = {Runtime("app/cine.dll")},
     .start = {.windows = "win10"},
     .expect = {.received = {Got("os_version", "10.0")}}},
    // The player download: the registered program gets its path and the address, which
    // carries the system's language; Cancel, or no command, starts nothing. (How the
    // command is read, quoted or not, the unit table says.)
    {.name = "download_french",
     .start = {.locale = "fr_CA.UTF-8", .htm = Registered("%1")},
     .expect = {.box = PlayerMissingText, .browser = StartedWith(FrenchCanadian)}},
    {.name = "download_cancelled",
     .start = {.answer = Answer::Cancel, .htm = Registered("")},
     .expect = {.box = PlayerMissingText, .browser = NotStarted()}},
    {.name = "download_no_command",
     .start = {.htm = Unregistered()},
     .expect = {.box = PlayerMissingText, .browser = NotStarted()}},
};

INSTANTIATE_TEST_SUITE_P(Launch, Launches, testing::ValuesIn(Scenarios), ScenarioName);

std::string TryOpen(const std::string& path) {
  std::string out =
      RunWine({ToWindowsPath(WinDir() + "/tests/probe.exe"), "open", ToWindowsPath(path)});
  return out.substr(0, out.find_first_of("\r\n"));
}

// Two runs sharing one TMP: a live run's folder and lock are its own until it ends; a
// run that dies leaves its folder to the next run's exit.
TEST(WorkFolder, LiveRunKeepsItsFolderAndADeadOnesGoesAtTheNextExit) {
  Sandbox box = MakeSandbox("wf_two_runs");
  WriteFile(box.root + "/movie.dat", "QMV1movie");
  ASSERT_EQ(RunCinepack("build --stub " + Launcher() + " --movie " + box.root + "/movie.dat -o " +
                        box.exe + " --extract " + LibraryPath(Lib::Test)),
            0);
  // The first dies in the runtime once the second run is done.
  Start first = {
      .env = {"CINE_REPORT=" + ToWindowsPath(box.root + "/first.txt"), "CINE_RESULT=exit"}};
  std::string lock = box.tmp + "/TempFolder.aaa/Quorvantix.lok";
  LaunchResult died = Launch(box, first, [&] {
    EXPECT_EQ(TryOpen(lock), "denied 32")
        << "an open that shares everything got at a live run's lock";
    LaunchResult second = Launch(box, {});
    EXPECT_EQ(second.report["workFolder"], ToWindowsPath(box.tmp) + "\\TempFolder.aab\\");
    EXPECT_EQ(ListDir(box.tmp), std::vector<std::string>{"TempFolder.aaa"})
        << "only the live run's folder stays";
    EXPECT_EQ(ListDir(box.tmp + "/TempFolder.aaa"), (std::vector<std::string>{Lock, "cine.dll"}));
  });
  EXPECT_EQ(died.probe["exit"], "9");
  EXPECT_EQ(TryOpen(lock), "open");
  EXPECT_EQ(Launch(box, {}).report["workFolder"], ToWindowsPath(box.tmp) + "\\TempFolder.aab\\");
  EXPECT_TRUE(ListDir(box.tmp).empty()) << "the dead run's folder outlived the next exit";
}

}  // namespace
}  // namespace e2e
