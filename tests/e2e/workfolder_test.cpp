// Work folders under Wine: the run's own folder and lock, names already taken, paths
// too long, and the exit cleanup of abandoned folders with live, killed and blocked runs.
//
// A projector that extracts files is packed by cinepack; the bare launcher has no work
// folder of its own but still runs the exit cleanup.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <thread>

#include "tests/e2e/harness.h"

namespace e2e {
namespace {


// Packs app/MOVIE.EXE from `stub` with a payload that extracts `files` (Unix paths,
// extracted under their own names) into the work folder.
void Pack(const Sandbox& box, const std::string& stub, const std::vector<std::string>& files) {
  WriteFile(box.root + "/movie.dat", "QMV1movie container");
  std::string args = "build --stub " + stub + " --movie " + box.root + "/movie.dat -o " +
                     box.app + "/MOVIE.EXE";
  for (const std::string& file : files) args += " --extract " + file;
  std::string output;
  ASSERT_EQ(RunCinepack(args, &output), 0) << output;
}

// A projector in a fresh sandbox. With `extracts`, one whose payload extracts the test
// runtime; otherwise the bare launcher with the runtime beside it.
Sandbox MakeProjector(const std::string& name, bool extracts) {
  Sandbox box = MakeSandbox("wf_" + name);
  if (extracts) {
    Pack(box, Launcher(), {TestRuntime()});
  } else {
    CopyFile(Launcher(), box.app + "/MOVIE.EXE");
    CopyFile(TestRuntime(), box.app + "/cine.dll");
  }
  return box;
}

LaunchSpec Spec(const Sandbox& box, const std::string& tmp) {
  LaunchSpec spec;
  spec.exe = box.app + "/MOVIE.EXE";
  spec.tmp = tmp;
  spec.cwd = box.root;
  return spec;
}

std::string Win(const std::string& unixPath) { return ToWindowsPath(unixPath); }

std::string Tool(const std::vector<std::string>& args) {
  std::vector<std::string> all = {Win(WinDir() + "/tests/workfolder_tool.exe")};
  all.insert(all.end(), args.begin(), args.end());
  return RunWine(all).output;
}

std::string Probe(const std::vector<std::string>& args) {
  std::vector<std::string> all = {Win(WinDir() + "/tests/probe.exe")};
  all.insert(all.end(), args.begin(), args.end());
  return RunWine(all).output;
}

std::string Trim(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// A folder's entries in the order the platform lists them, which is the order the
// cleanup deletes them in.
std::vector<std::string> ListingOrder(const std::string& folder) {
  std::vector<std::string> names;
  std::istringstream in(Tool({"list", Win(folder)}));
  std::string line;
  while (std::getline(in, line)) {
    line = Trim(line);
    if (!line.empty()) names.push_back(line);
  }
  return names;
}

// A folder as a killed run leaves it: an openable lock file, files and subfolders.
void MakeAbandonedFolder(const std::string& folder) {
  WriteFile(folder + "/Quorvantix.lok", "");
  WriteFile(folder + "/cine.dll", "runtime");
  WriteFile(folder + "/MOVIE.DIR", std::string(5000, 'm'));
  WriteFile(folder + "/Xtras/one/deep.x32", "xtra");
  WriteFile(folder + "/Xtras/two.x32", "xtra");
  MakeDirs(folder + "/empty");
}

// A launch in the background; the probe's output says the child's process id.
struct Running {
  int pid = -1;
  std::string output;
};

Running Start(const Sandbox& box, const LaunchSpec& spec) {
  Running run;
  run.output = box.root + "/probe.out";
  run.pid = StartWine(ProbeRunArgs(box, spec), run.output);
  return run;
}

std::string ChildProcessId(const Running& run) {
  for (int i = 0; i < 1000; ++i) {
    std::string out = ReadFile(run.output);
    size_t at = out.find("pid=");
    size_t end = out.find('\n', at);
    if (at != std::string::npos && end != std::string::npos) return out.substr(at + 4, end - at - 4);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return "";
}

LaunchResult Finish(const Sandbox& box, const Running& run) {
  return ReadLaunch(box, FinishWine(run.pid, run.output));
}

TEST(WorkFolder, RunHoldsTempFolderAaaWithAHiddenEmptyLockAndLeavesNothing) {
  Sandbox box = MakeProjector("own", true);
  LaunchSpec spec = Spec(box, box.tmp);
  spec.env = {"CINE_READY=" + Win(box.root + "/ready"), "CINE_WAIT_FOR=" + Win(box.root + "/go")};
  Running run = Start(box, spec);
  ASSERT_TRUE(WaitForFile(box.root + "/ready", 30000)) << ReadFile(run.output);

  // While the runtime runs: one folder, handed over with its backslash, holding the
  // extracted runtime and the lock file.
  std::string folder = box.tmp + "/TempFolder.aaa";
  std::string windowsFolder = Win(box.tmp) + "\\TempFolder.aaa\\";
  std::string lock = Win(folder) + "\\Quorvantix.lok";
  LaunchResult seen = ReadLaunch(box, "");
  EXPECT_EQ(seen.report["workFolder"], windowsFolder);
  EXPECT_EQ(seen.report["runtimeLocation"], "2");
  EXPECT_EQ(ToLower(seen.report["runtime_path"]), ToLower(windowsFolder + "cine.dll"));
  EXPECT_EQ(ListDir(box.tmp), std::vector<std::string>{"TempFolder.aaa"})
      << "one run, one folder";
  EXPECT_EQ(ListDir(folder), (std::vector<std::string>{"Quorvantix.lok", "cine.dll"}));
  EXPECT_EQ(ReadFile(folder + "/Quorvantix.lok"), "");
  unsigned long attributes = std::stoul(Trim(Probe({"attrs", lock})), nullptr, 16);
  EXPECT_TRUE(attributes & 0x2) << "lock file attributes " << std::hex << attributes;
  // Not even an open that shares everything: the holder shares nothing.
  EXPECT_EQ(Trim(Probe({"tryopen", lock})), "denied 32") << "another process must not open it";
  EXPECT_EQ(Trim(Probe({"tryopen", lock, "shared"})), "denied 32");

  WriteFile(box.root + "/go", "");
  LaunchResult r = Finish(box, run);
  EXPECT_EQ(r.exitCode, 0) << r.probeOutput;
  EXPECT_TRUE(r.box.empty()) << r.box["text"];
  EXPECT_TRUE(ListDir(box.tmp).empty()) << "the run removes its own folder at exit";
}

TEST(WorkFolder, TakenNamesAreSkippedAndNeverRemoved) {
  struct Case {
    const char* name;
    int folders;     // TempFolder.aaa onwards, as folders without a lock file
    bool plainFile;  // TempFolder.aaa is a file, not a folder
    const char* expected;
  };
  const Case cases[] = {
      {"aaz", 26, false, "aba"},
      {"file", 0, true, "aab"},
      {"azz", 26 * 26, false, "baa"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox box = MakeProjector(std::string("taken_") + c.name, true);
    std::set<std::string> taken;
    for (int i = 0; i < c.folders; ++i) {
      std::string name = "TempFolder.";
      name += static_cast<char>('a' + i / 676);
      name += static_cast<char>('a' + i / 26 % 26);
      name += static_cast<char>('a' + i % 26);
      WriteFile(box.tmp + "/" + name + "/mine.txt", name);
      taken.insert(name);
    }
    if (c.plainFile) {
      WriteFile(box.tmp + "/TempFolder.aaa", "not a folder");
      taken.insert("TempFolder.aaa");
    }
    LaunchResult r = Launch(box, Spec(box, box.tmp));
    EXPECT_EQ(r.report["workFolder"], Win(box.tmp) + "\\TempFolder." + c.expected + "\\");
    EXPECT_EQ(r.report["runtimeLocation"], "2");
    // Without lock files, the taken ones are left exactly as they were.
    std::vector<std::string> left = ListDir(box.tmp);
    EXPECT_EQ(std::set<std::string>(left.begin(), left.end()), taken);
    for (const std::string& name : taken) {
      std::string content = c.plainFile ? "not a folder" : name;
      std::string file = c.plainFile ? box.tmp + "/" + name : box.tmp + "/" + name + "/mine.txt";
      EXPECT_EQ(ReadFile(file), content) << name;
    }
  }
}

// A temporary folder path of exactly `length` Windows characters with its backslash.
std::string TempPathOfLength(const Sandbox& box, size_t length) {
  std::string path = box.root + "/t";
  for (size_t current = Win(path).size() + 1; current < length; current = Win(path).size() + 1) {
    size_t name = length - current - 1;  // after one more separator
    // Components of at most 100 characters, never leaving a single one to add.
    if (name > 100) name = name - 100 == 1 ? 90 : 100;
    path += "/" + std::string(name, 'd');
  }
  return path;
}

TEST(WorkFolder, TemporaryPathsOnlyUpTo230CharactersGetAFolder) {
  struct Case { const char* name; size_t length; bool exists; bool works; };
  const Case cases[] = {
      {"230", 230, true, true},
      {"231", 231, true, false},
      {"300", 300, true, false},  // longer than the 260-byte buffer itself
      {"missing", 0, false, false},  // every one of the 17,576 names fails
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox box = MakeProjector(std::string("long_") + c.name, true);
    std::string tmp = c.length ? TempPathOfLength(box, c.length) : box.root + "/nowhere";
    if (c.length) {
      ASSERT_EQ(Win(tmp).size() + 1, c.length);
    }
    if (c.exists) MakeDirs(tmp);
    LaunchResult r = Launch(box, Spec(box, tmp));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_FALSE(r.timedOut);
    if (c.works) {
      EXPECT_EQ(r.report["workFolder"], Win(tmp) + "\\TempFolder.aaa\\");
      EXPECT_EQ(r.report["runtimeLocation"], "2");
      EXPECT_TRUE(r.box.empty()) << r.box["text"];
    } else {
      EXPECT_TRUE(r.report.empty()) << "the runtime must not be called";
      EXPECT_EQ(r.box["text"], CannotCreateText);
      EXPECT_EQ(r.box["buttons"], "OK");
    }
    // Nothing is left behind, and nothing was made where the path could not hold it.
    if (c.exists) {
      EXPECT_TRUE(ListDir(tmp).empty());
    } else {
      EXPECT_FALSE(Exists(tmp));
    }
  }
}

TEST(WorkFolder, RuntimeLoadsFromTheWorkFolderOnly) {
  struct Case {
    const char* name;
    bool crtTwin;  // the launcher's twin that looks for "cinecrt.dll" as its msvcrt
    std::vector<std::string> extracted;
    const char* text;  // message, or null when the runtime runs
  };
  const Case cases[] = {
      // The copies beside the executable and in Nodix are not tried.
      {"no_runtime", false, {"README.TXT"}, CannotCreateText},
      // msvcrt's stand-in exists only in the work folder: it is loaded from there.
      {"crt_in_folder", true, {"cine.dll", "cinecrt.dll"}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox box = MakeSandbox(std::string("wf_load_") + c.name);
    CopyFile(TestRuntime(), box.root + "/src/cine.dll");
    CopyFile(FakeMsvcrt(), box.root + "/src/cinecrt.dll");
    WriteFile(box.root + "/src/README.TXT", "not a runtime");
    std::vector<std::string> files;
    for (const std::string& name : c.extracted) files.push_back(box.root + "/src/" + name);
    Pack(box, c.crtTwin ? WinDir() + "/tests/launcher_crt_twin.exe" : Launcher(), files);
    CopyFile(TestRuntime(), box.app + "/cine.dll");
    CopyFile(TestRuntime(), box.app + "/Nodix/cine.dll");

    LaunchResult r = Launch(box, Spec(box, box.tmp));
    if (c.text) {
      EXPECT_TRUE(r.report.empty()) << "no runtime may be loaded from elsewhere";
      EXPECT_EQ(r.box["text"], c.text);
    } else {
      EXPECT_EQ(r.report["crt_twin_loaded"], "1") << r.probeOutput << r.box["text"];
      EXPECT_EQ(r.report["runtimeLocation"], "2");
      EXPECT_EQ(r.report["cwd"], Win(box.root));
      EXPECT_TRUE(r.box.empty()) << r.box["text"];
    }
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(ListDir(box.tmp).empty()) << "the folder goes, libraries freed first";
  }
}

TEST(StaleCleanup, RemovesAbandonedFoldersAndNothingElse) {
  Sandbox box = MakeProjector("stale", false);
  const std::string t = box.tmp;
  MakeAbandonedFolder(t + "/TempFolder.abc");
  MakeAbandonedFolder(t + "/TempFolder.zzz");
  WriteFile(t + "/TempFolder.xyz/cine.dll", "no lock file: not ours to judge");
  WriteFile(t + "/TempFolder.txt", "a plain file");
  WriteFile(t + "/TempFolder.lok/Quorvantix.lok/inner", "the lock name is a folder here");
  MakeAbandonedFolder(t + "/Other.abc");
  MakeAbandonedFolder(t + "/TempFolder.held");
  // A live run holds this lock.
  std::string release = box.root + "/release";
  int holder = StartWine({Win(WinDir() + "/tests/probe.exe"), "hold",
                          Win(t + "/TempFolder.held/Quorvantix.lok"), Win(release)},
                         box.root + "/hold.out");
  for (int i = 0; i < 500 && Trim(ReadFile(box.root + "/hold.out")) != "held"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_EQ(Trim(ReadFile(box.root + "/hold.out")), "held");

  // A run without a work folder of its own still cleans up at exit.
  LaunchResult r = Launch(box, Spec(box, t));
  EXPECT_EQ(r.report["workFolder"], "(null)");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(ListDir(t), (std::vector<std::string>{"Other.abc", "TempFolder.held",
                                                  "TempFolder.lok", "TempFolder.txt",
                                                  "TempFolder.xyz"}));
  EXPECT_EQ(ReadFile(t + "/TempFolder.txt"), "a plain file");
  EXPECT_EQ(ReadFile(t + "/TempFolder.xyz/cine.dll"), "no lock file: not ours to judge");
  EXPECT_TRUE(Exists(t + "/TempFolder.held/Xtras/one/deep.x32")) << "a held folder is untouched";

  // Once its owner has ended, the first exit after that removes it.
  WriteFile(release, "");
  FinishWine(holder, box.root + "/hold.out");
  Launch(box, Spec(box, t));
  EXPECT_EQ(ListDir(t), (std::vector<std::string>{"Other.abc", "TempFolder.lok",
                                                  "TempFolder.txt", "TempFolder.xyz"}));
}

TEST(StaleCleanup, ABlockedFileStopsItsFolderAndTheCleanupGoesOn) {
  struct Case { const char* name; const char* blocker; };
  const Case cases[] = {
      {"readonly_early", "b.dat"},   // listed before the lock file
      {"held_early", "b.dat"},
      {"readonly_late", "zz.dat"},   // listed after it
      {"held_late", "zz.dat"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox box = MakeProjector(std::string("blocked_") + c.name, false);
    std::string folder = box.tmp + "/TempFolder.abc";
    for (const char* file : {"a.dat", "b.dat", "c.dat", "zz.dat"}) WriteFile(folder + "/" + file, file);
    WriteFile(folder + "/Quorvantix.lok", "");
    WriteFile(folder + "/sub/inner.dat", "inner");
    MakeAbandonedFolder(box.tmp + "/TempFolder.abd");
    std::string blocker = folder + "/" + c.blocker;
    bool held = std::string(c.name).rfind("held", 0) == 0;

    std::string release = box.root + "/release";
    int holder = -1;
    if (held) {
      holder = StartWine({Win(WinDir() + "/tests/probe.exe"), "hold", Win(blocker), Win(release)},
                         box.root + "/hold.out");
      for (int i = 0; i < 500 && Trim(ReadFile(box.root + "/hold.out")) != "held"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      ASSERT_EQ(Trim(ReadFile(box.root + "/hold.out")), "held");
    } else {
      ASSERT_EQ(Trim(Tool({"readonly", Win(blocker)})), "readonly");
    }
    std::vector<std::string> order = ListingOrder(folder);
    auto at = std::find(order.begin(), order.end(), c.blocker);
    ASSERT_NE(at, order.end());

    Launch(box, Spec(box, box.tmp));
    // Everything listed before the blocker is gone; it and all after it stay, and so
    // does the lock file wherever it is listed: it goes last.
    for (auto it = order.begin(); it != order.end(); ++it) {
      EXPECT_EQ(Exists(folder + "/" + *it), it >= at || *it == "Quorvantix.lok") << *it;
    }
    EXPECT_FALSE(Exists(box.tmp + "/TempFolder.abd")) << "the next folder is still cleaned";

    // Unblocked, the folder goes at the next exit: its lock file is still there to say
    // that nobody holds it.
    if (held) {
      WriteFile(release, "");
      FinishWine(holder, box.root + "/hold.out");
    } else {
      // Wine keeps the read-only attribute as the missing write permission.
      std::filesystem::permissions(blocker, std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add);
    }
    Launch(box, Spec(box, box.tmp));
    EXPECT_FALSE(Exists(folder));
  }
}

// Wine shows a Unix symbolic link to a folder as a folder with FILE_ATTRIBUTE_REPARSE_POINT
// (it makes no junctions or Windows symbolic links of its own), the way Windows shows
// a junction. What such a link points to is never the cleanup's to delete.
TEST(StaleCleanup, LinksAreNeverFollowed) {
  struct Case { const char* name; const char* link; };  // the link, below tmp/
  const Case cases[] = {
      {"top", "TempFolder.lnk"},        // listed by the search itself
      {"inside", "TempFolder.abc/link"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox box = MakeProjector(std::string("linked_") + c.name, false);
    std::string outside = box.root + "/outside";
    // It looks like an abandoned work folder: an unheld lock file and all.
    WriteFile(outside + "/Quorvantix.lok", "");
    WriteFile(outside + "/precious.txt", "keep me");
    WriteFile(outside + "/sub/deep.txt", "keep me too");
    std::string folder = box.tmp + "/TempFolder.abc";
    MakeAbandonedFolder(folder);
    std::string link = box.tmp + "/" + c.link;
    std::filesystem::create_directory_symlink(outside, link);
    std::vector<std::string> order = ListingOrder(folder);
    auto linkAt = std::find(order.begin(), order.end(), "link");

    Launch(box, Spec(box, box.tmp));
    EXPECT_EQ(ReadFile(outside + "/precious.txt"), "keep me");
    EXPECT_EQ(ReadFile(outside + "/sub/deep.txt"), "keep me too");
    EXPECT_TRUE(Exists(outside + "/Quorvantix.lok"));
    if (linkAt == order.end()) {
      // Beside the link, the real folder is removed as usual; the link is left alone.
      EXPECT_FALSE(Exists(folder));
      EXPECT_TRUE(std::filesystem::is_symlink(link));
    } else {
      // Inside, what is listed before the link goes, the lock file excepted.
      for (auto it = order.begin(); it != linkAt; ++it) {
        EXPECT_EQ(Exists(folder + "/" + *it), *it == "Quorvantix.lok") << *it;
      }
    }
  }
}

TEST(Concurrency, LiveInstanceKeepsItsFolderKilledOneIsRemovedByTheNextExit) {
  // Two projectors sharing one temporary folder.
  Sandbox first = MakeProjector("live_first", true);
  Sandbox second = MakeProjector("live_second", true);
  const std::string tmp = first.tmp;
  LaunchSpec waiting = Spec(first, tmp);
  waiting.env = {"CINE_READY=" + Win(first.root + "/ready"),
                 "CINE_WAIT_FOR=" + Win(first.root + "/never")};
  Running run = Start(first, waiting);
  ASSERT_TRUE(WaitForFile(first.root + "/ready", 30000)) << ReadFile(run.output);
  EXPECT_EQ(ReadLaunch(first, "").report["workFolder"], Win(tmp) + "\\TempFolder.aaa\\");

  // The second instance runs while the first holds aaa: it takes aab, and its exit
  // removes its own folder but not the held one.
  LaunchResult other = Launch(second, Spec(second, tmp));
  EXPECT_EQ(other.report["workFolder"], Win(tmp) + "\\TempFolder.aab\\");
  EXPECT_EQ(ListDir(tmp), std::vector<std::string>{"TempFolder.aaa"});
  EXPECT_EQ(ListDir(tmp + "/TempFolder.aaa"),
            (std::vector<std::string>{"Quorvantix.lok", "cine.dll"}));

  // Killed while its runtime runs, the first leaves its folder behind, now unheld.
  std::string pid = ChildProcessId(run);
  ASSERT_FALSE(pid.empty());
  EXPECT_EQ(Trim(Tool({"kill", pid})), "killed");
  LaunchResult killed = Finish(first, run);
  EXPECT_EQ(killed.exitCode, 9);
  EXPECT_EQ(ListDir(tmp), std::vector<std::string>{"TempFolder.aaa"});
  EXPECT_EQ(Trim(Probe({"tryopen", Win(tmp + "/TempFolder.aaa/Quorvantix.lok")})), "open");

  // The next run, which takes the next free name, removes it at its exit.
  LaunchResult next = Launch(second, Spec(second, tmp));
  EXPECT_EQ(next.report["workFolder"], Win(tmp) + "\\TempFolder.aab\\");
  EXPECT_TRUE(ListDir(tmp).empty()) << "nothing is left behind for good";
}

}  // namespace
}  // namespace e2e
