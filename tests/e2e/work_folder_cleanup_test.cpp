// Nothing stays behind for good, whatever the runtime, another program or the disk did:
// each row is a run, then a later run, and what the temporary folder holds after each.
#include "tests/e2e/scenario.h"

namespace e2e {
namespace {

// The test runtime and a credits file, both extracted.
Projector TwoEntries(std::string exe = "MOVIE.EXE") {
  return {
      .exe = std::move(exe),
      .extract = {Stored("cine.dll", Library(Lib::Test)), Stored("CREDITS.TXT", Bytes("credits"))}};
}

// The runtime was reached, and TMP holds nothing afterwards; or only another program's
// folder.
const Outcome Clean = {.received = {Called()}};
const Outcome TheirsKept = {.received = {Called()}, .exists = {"tmp/TempFolder.mmm/theirs.txt"}};

// As a runtime copying from a CD leaves it.
const char ReadOnlyFileLeft[] = "CINE_LEAVE=LEFT.DAT";

// A file `depth` characters below `folder`, 50 to a folder name.
Placed DeepFile(const std::string& folder, size_t depth) {
  std::string path = folder + "/";
  while (path.size() < folder.size() + depth) path += std::string(50, 'd') + "/";
  return Put(path + "deep.dat", Bytes("deep"));
}

const Scenario Leftovers[] = {
    {.name = "read_only_file",
     .projector = TwoEntries(),
     .start = {.env = {ReadOnlyFileLeft}},
     .expect = Clean,
     .later = Clean},
    {.name = "read_only_file_on_windows_98",
     .projector = TwoEntries("WIN98.EXE"),
     .start = {.env = {ReadOnlyFileLeft}, .windows = "win98"},
     .expect = Clean,
     .later = Clean},
    // Deleting a file that another program holds with delete sharing only marks it: the
    // lock file stays with it, and once that program lets go the next run finishes.
    {.name = "file_held_with_delete_sharing",
     .projector = TwoEntries(),
     .start = {.heldThroughExit = "TempFolder.aaa/CREDITS.TXT"},
     .expect = {.received = {Called()},
                .exists = {"tmp/TempFolder.aaa/CREDITS.TXT", "tmp/TempFolder.aaa/Quorvantix.lok"},
                .gone = {"tmp/TempFolder.aaa/cine.dll"}},
     .later = Clean},
    {.name = "tree_deeper_than_260",
     .projector = TwoEntries(),
     .given = {Put("tmp/TempFolder.abc", Abandoned()), DeepFile("tmp/TempFolder.abc", 600)},
     .expect = Clean,
     .later = Clean},
    // Room for a folder but not for its lock file: no name gives a run its folder. (A later
    // run would try every name again, as this one did.)
    {.name = "no_inode_for_the_lock",
     .projector = TwoEntries(),
     .start = {.disk = {.kib = 1024, .inodes = 2}},
     .expect = {.box = CannotCreateText}},
    {.name = "disk_filled_by_a_killed_run",
     .projector = TwoEntries(),
     .given = {Put("tmp/TempFolder.aaa/Quorvantix.lok", Bytes("")),
               Put("tmp/TempFolder.aaa/movie.tmp", DiskFiller())},
     .start = {.disk = {.kib = 1024}},
     .expect = Clean,
     .later = Clean},
    {.name = "every_name_taken_by_killed_runs",
     .projector = TwoEntries(),
     .given = {Put("tmp/TempFolder.mmm/theirs.txt", Bytes("theirs")),
               Put("tmp", KilledRuns(17576))},
     .expect = TheirsKept,
     .later = TheirsKept},
};

INSTANTIATE_TEST_SUITE_P(Leftover, Launches, testing::ValuesIn(Leftovers), ScenarioName);

}  // namespace
}  // namespace e2e
