// Nothing stays behind for good, on the shipped build under Wine, whatever the runtime,
// another program or the disk did: each row is a first run, then a later run, and what the
// temporary folder holds after each.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "tests/e2e/harness.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

const char Lock[] = "Quorvantix.lok";

// Where TMP lies: the sandbox's folder on the ordinary disk, or a small tmpfs of its own.
struct Disk {
  size_t kib = 0;  // 0: the ordinary disk
  size_t inodes = 0;
};
Disk SmallDisk(size_t kib, size_t inodes) { return {kib, inodes}; }

// A folder in TMP before the first run: a killed run's, with its lock file, or another
// program's, without one.
struct Folder {
  std::string name;
  bool locked = true;
  std::vector<std::string> files;  // '/'-separated, each holding its own path
  bool fillsDisk = false;          // and one file more, written until the disk is full
};
Folder KilledRun(std::string name, std::vector<std::string> files) {
  return {std::move(name), true, std::move(files)};
}
Folder OtherProgram(std::string name, std::string file) { return {std::move(name), false, {file}}; }
Folder KilledRunFillingTheDisk(std::string name) { return {std::move(name), true, {}, true}; }
// A killed run's folder with a file `depth` characters below it, 50 to a folder name.
Folder KilledRunWithDeepTree(std::string name, size_t depth) {
  std::string path;
  while (path.size() < depth) path += std::string(50, 'd') + "/";
  return KilledRun(std::move(name), {path + "deep.dat"});
}
// Every name from TempFolder.aaa to .zzz taken by a killed run, `theirs` by another program.
std::vector<Folder> EveryNameKilledBut(const std::string& theirs) {
  std::vector<Folder> folders;
  for (int i = 0; i < 17576; ++i) {
    std::string name = "TempFolder." + std::string{char('a' + i / 676), char('a' + i / 26 % 26),
                                                   char('a' + i % 26)};
    folders.push_back(name == theirs ? OtherProgram(name, "theirs.txt") : KilledRun(name, {}));
  }
  return folders;
}

// What befalls the first run's work folder while the run lives.
enum class During {
  Nothing,
  RuntimeLeavesReadOnlyFile,    // LEFT.DAT, as a runtime copying from a CD leaves it
  ScannerHoldsFileThroughExit,  // CREDITS.TXT, open with delete sharing until after the exit
};

// The system Wine tells the launcher it runs on.
enum class System { Nt, Windows98 };

struct Row {
  const char* name;
  Disk disk;
  std::vector<Folder> placed;
  During during = During::Nothing;
  System system = System::Nt;
  const char* box = nullptr;            // the first run's message; none: it reached the runtime
  std::vector<std::string> afterRun;    // what TMP holds after the first run
  std::vector<std::string> afterLater;  // and after a later run
};
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

const Row Rows[] = {
    {.name = "read_only_file", .during = During::RuntimeLeavesReadOnlyFile},
    {.name = "read_only_file_on_windows_98",
     .during = During::RuntimeLeavesReadOnlyFile,
     .system = System::Windows98},
    // Deleting a file that another program holds with delete sharing only marks it: the
    // lock file stays with it, and once that program lets go the next run finishes.
    {.name = "file_held_with_delete_sharing",
     .during = During::ScannerHoldsFileThroughExit,
     .afterRun = {"TempFolder.aaa", "TempFolder.aaa/CREDITS.TXT", "TempFolder.aaa/Quorvantix.lok"}},
    {.name = "tree_deeper_than_260", .placed = {KilledRunWithDeepTree("TempFolder.abc", 600)}},
    // Room for a folder but not for its lock file: no name gives a run its folder.
    {.name = "no_inode_for_the_lock", .disk = SmallDisk(1024, 2), .box = CannotCreateText},
    {.name = "disk_filled_by_a_killed_run",
     .disk = SmallDisk(1024, 0),
     .placed = {KilledRunFillingTheDisk("TempFolder.aaa")}},
    {.name = "every_name_taken_by_killed_runs",
     .placed = EveryNameKilledBut("TempFolder.mmm"),
     .afterRun = {"TempFolder.mmm", "TempFolder.mmm/theirs.txt"},
     .afterLater = {"TempFolder.mmm", "TempFolder.mmm/theirs.txt"}},
};

// A tmpfs as TMP. Wine opens files by path in its own mount namespace, the wineserver in
// its own too: the tmpfs is mounted in a namespace of this test process, which every Wine
// call copies and binds into the i386 root, and the prefix has a wineserver of its own
// started from there (the shared one never sees the tmpfs).
struct SmallDiskMount {
  std::string tmp, binds, prefix;
  ~SmallDiskMount() {
    RunWine({"--server", "-k"});
    umount2(tmp.c_str(), MNT_DETACH);
    setenv("CINE_WINE32_BINDS", binds.c_str(), 1);
    setenv("WINEPREFIX", prefix.c_str(), 1);
  }
};

std::unique_ptr<SmallDiskMount> MountSmallDisk(const Disk& disk, const std::string& name,
                                               Sandbox* box) {
  static const bool ownNamespace =
      unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  if (!ownNamespace) throw std::runtime_error("no mount namespace of its own (not root?)");
  auto mounted = std::make_unique<SmallDiskMount>();
  mounted->binds = getenv("CINE_WINE32_BINDS") ? getenv("CINE_WINE32_BINDS") : SourceDir();
  mounted->prefix = PrefixDir();
  std::string prefix = PrefixDir() + "/drive_c/cine-small-disk/prefix";
  setenv("WINEPREFIX", prefix.c_str(), 1);
  *box = MakeSandbox(name);
  if (!Exists(prefix + "/system.reg")) RunWine({"wineboot", "-i"});
  RunWine({"--server", "-w"});  // wineboot's server saves the new prefix as it ends
  RunWine({"--server", "-k"});  // a server left by another row sees another namespace
  mounted->tmp = box->tmp;
  std::string options = "size=" + std::to_string(disk.kib) + "k";
  if (disk.inodes) options += ",nr_inodes=" + std::to_string(disk.inodes);
  if (mount("tmpfs", box->tmp.c_str(), "tmpfs", 0, options.c_str()) != 0) {
    throw std::runtime_error("tmpfs not mounted: " + options);
  }
  setenv("CINE_WINE32_BINDS", (mounted->binds + ":" + box->tmp).c_str(), 1);
  return mounted;
}

void FillDisk(const std::string& path) {
  int file = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
  std::string block(4096, 'f');
  while (write(file, block.data(), block.size()) == ssize_t(block.size())) {
  }
  close(file);
}

void Place(const std::string& tmp, const Folder& folder) {
  std::string path = tmp + "/" + folder.name;
  MakeDirs(path);
  if (folder.locked) WriteFile(path + "/" + Lock, "");
  for (const std::string& file : folder.files) WriteFile(path + "/" + file, file);
  if (folder.fillsDisk) FillDisk(path + "/movie.tmp");
}

// Every file and folder below `tmp`, '/'-separated and sorted; the first 40 of them.
std::vector<std::string> Contents(const std::string& tmp) {
  std::vector<std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(tmp)) {
    found.push_back(fs::relative(entry.path(), tmp));
  }
  std::sort(found.begin(), found.end());
  if (found.size() > 40) found.resize(40);
  return found;
}

LaunchSpec Spec(const Sandbox& box, const Row& row) {
  LaunchSpec spec = SandboxSpec(box);
  if (row.system == System::Windows98) spec.exe = box.app + "/WIN98.EXE";
  return spec;
}

class Leftovers : public testing::TestWithParam<Row> {};

TEST_P(Leftovers, GoAtTheLatestWithTheNextRun) {
  const Row& row = GetParam();
  Sandbox box;
  std::unique_ptr<SmallDiskMount> mounted;
  if (row.disk.kib) {
    mounted = MountSmallDisk(row.disk, std::string("leftovers_") + row.name, &box);
  } else {
    box = MakeSandbox(std::string("leftovers_") + row.name);
  }
  for (const Folder& folder : row.placed) Place(box.tmp, folder);
  WriteFile(box.root + "/CREDITS.TXT", "credits");
  WriteFile(box.root + "/movie.dat", "QMV1movie");
  LaunchSpec spec = Spec(box, row);
  ASSERT_EQ(RunCinepack("build --stub " + Launcher() + " --movie " + box.root + "/movie.dat -o " +
                        spec.exe + " --extract " + TestRuntime() + " --extract " + box.root +
                        "/CREDITS.TXT"),
            0);
  if (row.system == System::Windows98) {
    RunWine({"reg", "add", "HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\WIN98.EXE", "/v",
             "Version", "/d", "win98", "/f"});
  }

  LaunchSpec first = spec;
  if (row.during == During::RuntimeLeavesReadOnlyFile) first.env = {"CINE_LEAVE=LEFT.DAT"};
  LaunchResult run;
  int holder = -1;
  if (row.during == During::ScannerHoldsFileThroughExit) {
    first.env = {"CINE_READY=" + ToWindowsPath(box.root + "/ready"),
                 "CINE_WAIT_FOR=" + ToWindowsPath(box.root + "/go")};
    int pid = StartWine(ProbeRunArgs(box, first), box.root + "/run.out");
    ASSERT_TRUE(WaitForFile(box.root + "/ready", 60000)) << ReadFile(box.root + "/run.out");
    holder = StartWine({ToWindowsPath(WinDir() + "/tests/probe.exe"), "hold",
                        ToWindowsPath(box.tmp + "/TempFolder.aaa/CREDITS.TXT"),
                        ToWindowsPath(box.root + "/held"), ToWindowsPath(box.root + "/release")},
                       box.root + "/holder.out");
    EXPECT_TRUE(WaitForFile(box.root + "/held", 60000)) << ReadFile(box.root + "/holder.out");
    WriteFile(box.root + "/go", "");
    run = ReadLaunch(box, FinishWine(pid, box.root + "/run.out"));
  } else {
    run = Launch(box, first);
  }
  EXPECT_EQ(run.exitCode, 0) << run.probeOutput;
  EXPECT_EQ(run.box["text"], row.box ? row.box : "");
  EXPECT_EQ(run.report["called"], row.box ? "" : "1");
  EXPECT_EQ(Contents(box.tmp), row.afterRun);

  if (holder != -1) {
    WriteFile(box.root + "/release", "");
    EXPECT_EQ(FinishWine(holder, box.root + "/holder.out").find("released"), 0u);
  }
  Launch(box, spec);
  EXPECT_EQ(Contents(box.tmp), row.afterLater) << "after a later run";
}

INSTANTIATE_TEST_SUITE_P(Table, Leftovers, testing::ValuesIn(Rows),
                         [](const testing::TestParamInfo<Row>& info) { return info.param.name; });

}  // namespace
}  // namespace e2e
