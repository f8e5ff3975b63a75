// Sets up a launch scenario in its sandbox, launches it through the probe and checks the
// outcome: exit code, message box, what the runtime received, what is left on disk.
#include "tests/e2e/scenario.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <random>
#include <set>
#include <thread>

#include "launcher/launch_error_text.h"

namespace e2e {

namespace fs = std::filesystem;

namespace {

std::string LibraryPath(Lib which) {
  const char* const files[] = {"runtime/test/cine.dll", "runtime/cdecl/cine.dll",
                               "runtime/noexport/cine.dll", "runtime/fakemsvcrt/msvcrt.dll"};
  return WinDir() + "/" + files[static_cast<int>(which)];
}

Content Folders(size_t count, std::string file) {
  return [=](const Sandbox&, const std::string& path) {
    for (size_t i = 0; i < count; ++i) {
      std::string name = {char('a' + i / 676), char('a' + i / 26 % 26), char('a' + i % 26)};
      std::string folder = path + "/TempFolder." + name;
      if (!Exists(folder)) WriteFile(folder + "/" + file, "");
    }
  };
}

}  // namespace

Content Bytes(std::string text) {
  return [=](const Sandbox&, const std::string& path) { WriteFile(path, text); };
}
Content Library(Lib which) {
  return [=](const Sandbox&, const std::string& path) { CopyFile(LibraryPath(which), path); };
}
Content Random(size_t bytes) {
  return [=](const Sandbox&, const std::string& path) {
    std::mt19937 random(bytes);  // a file of another size has other bytes
    std::string data;
    while (data.size() < bytes) data += static_cast<char>(random());
    WriteFile(path, data);
  };
}
Content Text(size_t bytes) {
  return [=](const Sandbox&, const std::string& path) {
    std::string text;
    for (int line = 0; text.size() < bytes; ++line) {
      text += "line " + std::to_string(line) + ": the quick brown fox jumps over the lazy dog\r\n";
    }
    WriteFile(path, text.substr(0, bytes));
  };
}
Content Abandoned() {
  return [](const Sandbox&, const std::string& path) {
    for (const char* file : {Lock, "cine.dll", "Xtras/one/deep.x32", "Xtras/two.x32"}) {
      WriteFile(path + "/" + file, file);
    }
    MakeDirs(path + "/empty");
  };
}
Content Link(std::string target) {
  return [=](const Sandbox& box, const std::string& path) {
    MakeDirs(fs::path(path).parent_path());
    fs::create_directory_symlink(box.root + "/" + target, path);
  };
}
Content TakenNames(size_t count) { return Folders(count, "mine.txt"); }
Content KilledRuns(size_t count) { return Folders(count, Lock); }
Content DiskFiller() {
  return [](const Sandbox&, const std::string& path) {
    int file = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
    std::string block(4096, 'f');
    while (write(file, block.data(), block.size()) == ssize_t(block.size())) {
    }
    close(file);
  };
}

Content Bitmap(uint32_t width, uint32_t height, size_t pixelBytes) {
  auto le = [](uint32_t value, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s += static_cast<char>(value >> (8 * i));
    return s;
  };
  if (pixelBytes == SIZE_MAX) pixelBytes = size_t{(width * 3 + 3) / 4 * 4} * height;
  std::string file = "BM" + le(uint32_t(54 + pixelBytes), 4) + le(0, 4) + le(54, 4) + le(40, 4) +
                     le(width, 4) + le(height, 4) + le(1, 2) + le(24, 2) + std::string(24, '\0');
  // Pixels that differ along a row, so that a part drawn from elsewhere shows.
  while (file.size() < 54 + pixelBytes) file += static_cast<char>(file.size());
  return Bytes(file);
}

namespace {

// A scenario's sandbox, with TMP where its start puts it, and its projector and current
// directory.
struct Run {
  Sandbox box;
  std::string exe, cwd;
};

std::string SharedFolder(const Sandbox& box) {
  fs::path driveC = fs::path(box.root).parent_path().parent_path();
  return driveC / "windows/system32/Quorvant/Lumenreel 10";
}

// A Windows path as code page 1252 spells it, "?" for what it lacks; ASCII as it is.
std::string SpelledIn1252(const std::string& utf8) {
  std::string spelled;
  for (char c : utf8) {
    if (static_cast<uint8_t>(c) < 0x80) spelled += c;
    if (static_cast<uint8_t>(c) >= 0xC0) spelled += '?';
  }
  return spelled;
}

std::string WindowsPath(const Run& run, In base, const std::string& rest) {
  const Sandbox& box = run.box;
  const std::string folders[] = {"",     box.root, box.app, box.tmp, box.tmp + "/TempFolder.aaa/",
                                 run.cwd};
  if (base == In::Value) return rest;
  return SpelledIn1252(ToWindowsPath(folders[static_cast<int>(base)])) + rest;
}

std::string BrowserProgram(const Sandbox& box) {
  return ToWindowsPath(box.root + "/Browser/browser.exe");
}

// Registers the ".htm" type's open command. Only the rows that read the association set
// it, each its own, in the tests' throwaway prefix: none is put back.
void RegisterHtm(const Sandbox& box, const HtmCommand& htm) {
  CopyFile(WinDir() + "/tests/probe.exe", box.root + "/Browser/browser.exe");
  RunWine({"reg", "add", "HKEY_CLASSES_ROOT\\.htm", "/ve", "/d", "CinemorphTest.htm", "/f"});
  RunWine({"reg", "delete", "HKEY_CLASSES_ROOT\\CinemorphTest.htm", "/f"});
  if (!htm.registered) return;
  std::string program = BrowserProgram(box);
  std::string command = htm.arguments.empty() ? program : program + " " + htm.arguments;
  std::string key = "HKEY_CLASSES_ROOT\\CinemorphTest.htm\\shell\\open\\command";
  EXPECT_EQ(RunWine({"reg", "add", key, "/ve", "/d", command, "/f"}).status, 0);
}

// Characters of a UTF-8 text: its bytes that start one.
size_t Characters(const std::string& text) {
  size_t count = 0;
  for (char c : text) count += (static_cast<uint8_t>(c) & 0xC0) != 0x80;
  return count;
}

// The start's current directory below `root`, made.
std::string CurrentDirectory(const std::string& root, const Start& start) {
  if (start.currentDirectory.empty() && start.currentDirectoryLength == 0) return root;
  std::string unit = start.currentDirectory.empty() ? "d" : start.currentDirectory;
  std::string path = root + "/" + unit;
  const size_t perName = std::min<size_t>(99, 240 / unit.size());  // Unix: 255 bytes a name
  for (size_t have; (have = Characters(ToWindowsPath(path))) < start.currentDirectoryLength;) {
    size_t room = start.currentDirectoryLength - have;
    path += room == 1 ? "e" : "/";
    for (size_t n = 0; room > 1 && n < std::min(room - 1, perName); ++n) path += unit;
  }
  MakeDirs(path);
  return path;
}

void PackProjector(const Run& run, const Projector& projector) {
  std::string stub = projector.crtTwin ? WinDir() + "/tests/launcher_crt_twin.exe" : Launcher();
  bool packed = !projector.extract.empty() || !projector.leading.empty() || projector.option ||
                projector.noSplash;
  if (!packed) return CopyFile(stub, run.exe);
  const std::string& root = run.box.root;
  WriteFile(root + "/movie.dat", "QMV1movie");
  std::string args = "build --stub " + stub + " --movie " + root + "/movie.dat -o " + run.exe;
  if (projector.option) args += " --option";
  if (projector.noSplash) args += " --no-splash";
  if (!projector.record) args += " --no-integrity-record";
  if (projector.signer == Signer::Cinepack) {
    args += " --sign " + MakerCertificate().pem + " " + MakerCertificate().key;
  }
  for (const std::string& name : projector.leading) args += " --leading " + name;
  for (const Packed& entry : projector.extract) {
    entry.content(run.box, root + "/src/" + entry.name);
    args += " --extract " + root + "/src/" + entry.name + (entry.compressed ? ":compress" : "");
  }
  MakeDirs(fs::path(run.exe).parent_path());
  std::string output;
  ASSERT_EQ(RunCinepack(args, &output), 0) << output;
  if (projector.harm) {
    std::string image = ReadFile(run.exe);
    projector.harm(image);
    WriteFile(run.exe, image);
  }
  if (projector.signer != Signer::Afterwards) return;
  const Certificate& maker = MakerCertificate();
  ASSERT_EQ(
      RunHost("osslsigncode sign -certs " + maker.pem + " -key " + maker.key + " -in " + run.exe +
                  " -out " + run.exe + ".signed && mv " + run.exe + ".signed " + run.exe,
              &output),
      0)
      << output;
}

// A prefix of its own, with a wineserver of its own, for the rows the shared one must not
// serve: a forced restart ends every process of its prefix, and a tmpfs is seen only by a
// server started after it was mounted. (Wine opens files by path in its own mount namespace,
// the wineserver in its own too: the tmpfs is mounted in a namespace of this test process,
// which every Wine call copies and binds into the i386 root.)
struct OwnPrefix {
  std::string binds = getenv("CINE_WINE32_BINDS") ? getenv("CINE_WINE32_BINDS") : SourceDir();
  std::string shared = PrefixDir(), tmp;

  OwnPrefix(const std::string& name, const Disk& disk, Sandbox* box) {
    std::string prefix = shared + "/drive_c/cine-own/prefix";
    setenv("WINEPREFIX", prefix.c_str(), 1);
    *box = MakeSandbox(name);
    if (!Exists(prefix + "/system.reg")) RunWine({"wineboot", "-i"});
    RunWine({"--server", "-w"});  // wineboot's server saves the new prefix as it ends
    RunWine({"--server", "-k"});  // a server left by another row sees another namespace
    if (!disk.kib) return;
    static const bool ownNamespace =
        unshare(CLONE_NEWNS) == 0 &&
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    if (!ownNamespace) throw std::runtime_error("no mount namespace of its own (not root?)");
    std::string options = "size=" + std::to_string(disk.kib) + "k";
    if (disk.inodes) options += ",nr_inodes=" + std::to_string(disk.inodes);
    if (mount("tmpfs", box->tmp.c_str(), "tmpfs", 0, options.c_str()) != 0) {
      throw std::runtime_error("tmpfs not mounted: " + options);
    }
    tmp = box->tmp;
    setenv("CINE_WINE32_BINDS", (binds + ":" + tmp).c_str(), 1);
  }
  ~OwnPrefix() {
    RunWine({"--server", "-k"});
    if (!tmp.empty()) umount2(tmp.c_str(), MNT_DETACH);
    setenv("CINE_WINE32_BINDS", binds.c_str(), 1);
    setenv("WINEPREFIX", shared.c_str(), 1);
  }
};

// The launcher's own calls in a relay trace, one a line: "Name(arguments)", "Name=result".
std::string LauncherCalls(const LaunchResult& r) {
  char tag[16];
  snprintf(tag, sizeof tag, "%04lx:", std::stoul("0" + r.probe.at("pid")));
  std::istringstream in(r.trace);
  std::string calls;
  for (std::string line; std::getline(in, line);) {
    size_t call = line.find(":Call ");
    size_t at = std::min(call, line.find(":Ret  ")) + 6;
    if (line.rfind(tag, 0) != 0 || at < 6) continue;  // another process's, or no call
    std::string name = line.substr(at, line.find('(', at) - at);
    if (name.find(' ') != std::string::npos) continue;  // a DLL entry point, not a call
    calls += name.substr(name.find('.') + 1);
    if (call == std::string::npos) {
      calls += "=" + line.substr(line.find("retval=") + 7, 8) + "\n";
    } else {
      calls += line.substr(line.find('('), line.rfind(" ret=") - line.find('(')) + "\n";
    }
  }
  return calls;
}

LaunchResult LaunchAs(const Run& run, const Start& start, const std::function<void()>& meanwhile) {
  LaunchSpec spec;
  spec.exe = run.exe;
  spec.tmp = run.box.tmp;
  spec.cwd = run.cwd;
  spec.env.push_back("CINE_SNAPSHOT=" + ToWindowsPath(run.box.root + "/snapshot"));
  spec.env.insert(spec.env.end(), start.env.begin(), start.env.end());
  if (start.afterExe) spec.commandLine = "\"" + ToWindowsPath(spec.exe) + "\"" + *start.afterExe;
  spec.show = start.show;
  spec.drop = start.drop;
  spec.traced = start.traced != nullptr;
  if (start.cancel) spec.answer = "cancel";
  spec.locale = start.locale;
  return Launch(run.box, spec, meanwhile);
}

void CheckReceived(const Run& run, const Outcome& expect, LaunchResult& r) {
  for (const Received& got : expect.received) {
    std::string expected = WindowsPath(run, got.base, got.text);
    std::string seen = r.report[got.key];
    bool anyCase = got.base != In::Value || got.key.find("path") != std::string::npos;
    EXPECT_EQ(anyCase ? ToLower(seen) : seen, anyCase ? ToLower(expected) : expected) << got.key;
  }
  EXPECT_EQ(!r.report.empty(), !expect.received.empty()) << "the runtime was called, or not";
}

void CheckBrowser(const Sandbox& box, const BrowserStart& browser) {
  // The program runs on after the launcher: wait for its record, or a while for none.
  std::string log = box.root + "/Browser/browser.exe.log";
  bool started = WaitForFile(log, browser.started ? 30000 : 1000);
  std::this_thread::sleep_for(std::chrono::milliseconds(200) * TimeFactor());
  char address[MessageTextCapacity];
  ComposeDownloadUrl(address, sizeof address, browser.languageId);
  std::string expected = "cmdline=" + BrowserProgram(box) + " " + address + "\nshow=1\n";
  EXPECT_EQ(started ? ReadFile(log) : "", browser.started ? expected : "");
}

// A runtime handed a work folder lists there, through the path it got, every extracted
// entry, arrived whole, beside nothing but the hidden, empty lock file.
void CheckWorkFiles(const Sandbox& box, const Projector& projector, LaunchResult& r) {
  if (r.report.empty() || r.report["workFolder"] == "(null)") return;
  std::set<std::string> extracted = {Lock}, seen;
  for (const Packed& entry : projector.extract) extracted.insert(entry.name);
  for (auto [key, value] : r.report) {
    if (key.rfind("workfile.", 0) != 0) continue;
    std::string name = key.substr(9);
    std::istringstream fields(value);
    std::string size, attributes;
    fields >> size >> attributes;
    seen.insert(name);
    if (name == Lock) {
      EXPECT_EQ(size, "0");
      EXPECT_TRUE(std::stoul(attributes, nullptr, 16) & 2) << "not hidden: " << attributes;
      continue;
    }
    std::string arrived = box.root + "/snapshot/" + name;
    std::string source = ReadFile(box.root + "/src/" + name);
    if (projector.signer == Signer::Cinepack && source.rfind("MZ", 0) == 0) {
      // A PE entry signed when it was packed arrives signed by the maker.
      std::string said;
      std::string verify = "osslsigncode verify -CAfile " + MakerCertificate().pem + " -in ";
      EXPECT_EQ(RunHost(verify + arrived, &said), 0) << name << "\n" << said;
    } else {
      EXPECT_TRUE(ReadFile(arrived) == source) << name;
    }
  }
  EXPECT_EQ(seen, extracted) << r.report["workFolder"];
}

// Nothing is left in TMP but what the row expects there and the folders taken by others.
void CheckTmp(const Sandbox& box, const Outcome& expect) {
  std::string prefix = fs::relative(box.tmp, box.root).string() + "/";
  std::set<std::string> allowed;
  for (const std::string& path : expect.exists) {
    if (path.rfind(prefix, 0) == 0) {
      allowed.insert(path.substr(prefix.size(), path.find('/', prefix.size()) - prefix.size()));
    }
  }
  for (const std::string& name : Exists(box.tmp) ? ListDir(box.tmp) : std::vector<std::string>()) {
    bool taken = Exists(box.tmp + "/" + name + "/mine.txt");
    EXPECT_TRUE(taken || allowed.count(name)) << name << " was left behind";
  }
}

void Check(const Run& run, const Projector& projector, const Outcome& expect, LaunchResult r) {
  EXPECT_EQ(r.probe["exit"], std::to_string(expect.exitCode)) << r.probeOutput;
  EXPECT_EQ(r.probe["box.text"], expect.box ? expect.box : "");
  if (expect.box) {
    EXPECT_EQ(r.probe["box.caption"], "Application Error");
    // OK and Cancel for the download offer, OK alone otherwise.
    EXPECT_EQ(r.probe["box.buttons"], expect.box == std::string(PlayerMissingText) ? "1,2" : "1");
  }
  CheckReceived(run, expect, r);
  const std::string& root = run.box.root;
  for (const std::string& path : expect.exists) EXPECT_TRUE(Exists(root + "/" + path)) << path;
  for (const std::string& path : expect.gone) EXPECT_FALSE(Exists(root + "/" + path)) << path;
  if (expect.browser) CheckBrowser(run.box, *expect.browser);
  CheckWorkFiles(run.box, projector, r);
  if (expect.calls) {
    std::string calls = LauncherCalls(r);
    EXPECT_EQ(fnmatch(expect.calls, calls.c_str(), 0), 0) << calls;
    EXPECT_NE(fnmatch(expect.notCalls, calls.c_str(), 0), 0) << calls;
  }
  CheckTmp(run.box, expect);
}

}  // namespace

void RunScenario(const Scenario& s) {
  Run run;
  std::unique_ptr<OwnPrefix> own;
  if (s.start.disk.kib || s.start.traced) {
    own = std::make_unique<OwnPrefix>(s.name, s.start.disk, &run.box);
  } else {
    run.box = MakeSandbox(s.name);
  }
  Sandbox& box = run.box;
  if (s.start.tmpMissing) box.tmp = box.root + "/no/such/folder";
  if (!s.start.tmpFolder.empty()) MakeDirs(box.tmp += "/" + s.start.tmpFolder);
  run.exe = box.app + "/" + s.projector.exe;
  run.cwd = CurrentDirectory(box.root, s.start);
  for (const Placed& placed : s.given) {
    std::string path =
        placed.shared ? SharedFolder(box) + "/" + placed.path : box.root + "/" + placed.path;
    placed.content(box, path);
  }
  PackProjector(run, s.projector);
  if (!s.start.windows.empty()) {
    std::string key =
        "HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\" + fs::path(run.exe).filename().string();
    EXPECT_EQ(RunWine({"reg", "add", key, "/v", "Version", "/d", s.start.windows, "/f"}).status, 0);
  }
  if (s.start.htm) RegisterHtm(box, *s.start.htm);
  if (s.start.traced) {
    std::string key = "HKEY_CURRENT_USER\\Software\\Wine\\Debug";
    EXPECT_EQ(RunWine({"reg", "add", key, "/v", "RelayInclude", "/d", s.start.traced, "/f"}).status,
              0);
  }

  int holder = -1;
  std::function<void()> hold;
  if (!s.start.heldThroughExit.empty()) {
    hold = [&] {
      std::vector<std::string> args = {ToWindowsPath(WinDir() + "/tests/probe.exe"), "open"};
      for (const std::string& path :
           {box.tmp + "/" + s.start.heldThroughExit, box.root + "/held", box.root + "/release"}) {
        args.push_back(ToWindowsPath(path));
      }
      holder = StartWine(args, box.root + "/holder.out");
      EXPECT_TRUE(WaitForFile(box.root + "/held", 60000)) << ReadFile(box.root + "/holder.out");
    };
  }
  Check(run, s.projector, s.expect, LaunchAs(run, s.start, hold));
  EXPECT_FALSE(s.start.tmpMissing && Exists(box.tmp)) << "a folder was made where TMP pointed";
  if (holder != -1) {
    WriteFile(box.root + "/release", "");
    std::string said = FinishWine(holder, box.root + "/holder.out");
    EXPECT_NE(said.find("released"), std::string::npos) << said;
  }
  if (s.later) {
    Start later = s.start;
    later.env.clear();
    Check(run, s.projector, *s.later, LaunchAs(run, later, nullptr));
  }
  fs::remove_all(fs::path(SharedFolder(box)).parent_path());
}

TEST_P(Launches, EndAsExpected) { RunScenario(GetParam()); }

std::string ScenarioName(const testing::TestParamInfo<Scenario>& info) { return info.param.name; }

}  // namespace e2e
