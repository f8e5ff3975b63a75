// The launch as a user and the runtime see it, on the shipped build under Wine: one table
// of scenarios (the projector, what lies around it, how it is started) and their outcomes
// (exit code, message box, what the runtime received, what is left on disk).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "launcher/launch_error_text.h"
#include "tests/e2e/harness.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

struct Scenario {
  const char* name;
  // app/MOVIE.EXE is the bare launcher ("twin": its test twin, which takes "cinecrt.dll"
  // for msvcrt.dll), or made by cinepack with "pack:OPTIONS" ({src}: the sandbox's src/).
  // "env:K=V" for the runtime (LC_ALL: for Wine); "start:" the raw command line ({exe}:
  // the program); "show:N"; "answer:cancel"; "tmp_missing" (TMP names no folder); "cwd:N"
  // (a current directory N characters long); "htm:COMMAND" (the ".htm" type's open
  // command, "" none). Else "path=what" under the sandbox ("shared/": the shared
  // player folder), what a library (test, cdecl, noexport, crt), random:N or text:N
  // bytes, abandoned (a dead run's work folder), link:PATH, readonly:TEXT, taken:N (N
  // lockless folders from TempFolder.aaa on), or the file's text.
  std::vector<const char*> given;
  int exitCode;
  const char* box;  // the message's text, or null for no box
  // "key=value" the runtime received (none: it was not called), "+path" and "!path"
  // that exist and do not afterwards, "browser:" what the registered program got.
  std::vector<const char*> expect;
};
void PrintTo(const Scenario& s, std::ostream* out) { *out << s.name; }

const char Lock[] = "Quorvantix.lok";
const char* const Twin = "twin";

const Scenario Scenarios[] = {
    // Where cine.dll is found, and all it is handed; the current directory is restored.
    {"beside", {"app/cine.dll=test"}, 0, nullptr,
     {"runtimeLocation=1", "runtime_path={app}\\cine.dll", "cwd={root}", "version=2", "size=28",
      "closeSplash_set=0", "splashThreadId=0", "workFolder=(null)", "payloadOption=0", "instance_is_exe=1",
      "previous=0", "show=10", "cmdline="}},
    {"nodix", {"app/Nodix/cine.dll=test"}, 0, nullptr,
     {"runtimeLocation=3", "runtime_path={app}\\Nodix\\cine.dll", "cwd={root}"}},
    {"beside_before_nodix", {"app/cine.dll=test", "app/Nodix/cine.dll=test"}, 0, nullptr, {"runtimeLocation=1"}},
    {"shared", {"shared/cine.dll=test"}, 0, nullptr,
     {"runtimeLocation=4", "runtime_path=C:\\windows\\system32\\Quorvant\\Lumenreel 10\\cine.dll", "cwd={root}"}},
    {"nodix_before_shared", {"app/Nodix/cine.dll=test", "shared/cine.dll=test"}, 0, nullptr, {"runtimeLocation=3"}},
    // The command line after the program's name, byte for byte, and the show state.
    {"command_line", {"app/cine.dll=test", "start:\"{exe}\"  \t -play  \"two words\" 'x' ", "show:0"}, 0, nullptr,
     {"cmdline=-play  \"two words\" 'x' ", "show=0"}},
    // The runtime's result: 0 is a failure, with exit code 1; any other a normal end.
    {"runtime_failed", {"app/cine.dll=test", "env:CINE_RESULT=0"}, 1, CannotRunText, {"result=0"}},
    {"runtime_minus_one", {"app/cine.dll=test", "env:CINE_RESULT=-1"}, 0, nullptr, {"result=-1"}},
    {"entry_point_missing", {"app/cine.dll=noexport"}, 0, CannotRunText, {}},
    {"no_current_directory", {"app/cine.dll=test", "cwd:257"}, 0, CannotRunText, {}},
    // msvcrt.dll: the standard search, then the work folder, beside, Nodix; not shared.
    {"msvcrt_missing", {Twin, "app/cine.dll=test", "shared/cinecrt.dll=crt"}, 0, MsvcrtMissingText, {}},
    {"msvcrt_nodix", {Twin, "app/cine.dll=test", "app/Nodix/cinecrt.dll=crt"}, 0, nullptr,
     {"crt_path={app}\\Nodix\\cinecrt.dll", "runtimeLocation=1", "cwd={root}"}},
    {"msvcrt_work_folder_first", {Twin, "pack:--extract {src}/cine.dll --extract {src}/cinecrt.dll",
     "src/cine.dll=test", "src/cinecrt.dll=crt", "app/Nodix/cinecrt.dll=crt"}, 0, nullptr,
     {"crt_path={wf}cinecrt.dll", "runtimeLocation=2", "payloadOption=0", "cwd={root}"}},
    // The payload: its entries byte for byte in TempFolder.aaa, cine.dll loaded from there.
    {"payload", {"pack:--option --extract {src}/cine.dll:compress --extract {src}/big.bin --extract "
     "{src}/notes.txt:compress --extract {src}/exact.dat:compress --extract {src}/empty.ini", "src/cine.dll=test",
     "src/big.bin=random:100000", "src/notes.txt=text:150000", "src/exact.dat=random:32768", "src/empty.ini=",
     "app/cine.dll=noexport"}, 0, nullptr,
     {"workFolder={wf}", "runtimeLocation=2", "runtime_path={wf}cine.dll", "payloadOption=1", "cwd={root}"}},
    {"cdecl_runtime", {"pack:--extract {src}/cine.dll:compress", "src/cine.dll=cdecl", "env:CINE_RESULT=0"}, 1,
     CannotRunText, {"runtimeLocation=2", "result=0"}},
    {"runtime_load_failed", {"pack:--extract {src}/README.TXT", "src/README.TXT=read me", "app/cine.dll=test",
     "app/Nodix/cine.dll=test"}, 0, CannotCreateText, {}},
    {"nothing_to_extract", {"pack:--option --leading save.dat", "app/cine.dll=test"}, 0, nullptr,
     {"workFolder=(null)", "runtimeLocation=1", "payloadOption=1"}},
    {"leading_entries", {"pack:--leading save.dat --leading prefs.ini --extract {src}/cine.dll", "src/cine.dll=test",
     "app/save.dat=x", "app/prefs.ini=x", "app/other.dat=x", "app/save.ini=x", "save.dat=x", "app/Nodix/save.dat=x"},
     0, nullptr, {"runtimeLocation=2", "!app/save.dat", "!app/prefs.ini", "+app/other.dat", "+app/save.ini",
     "+save.dat", "+app/Nodix/save.dat"}},
    // A target that cannot be created (the run's own lock file) counts as written when
    // stored, and fails the extraction when compressed.
    {"held_target_stored", {"pack:--extract {src}/Quorvantix.lok --extract {src}/cine.dll",
     "src/Quorvantix.lok=not a lock", "src/cine.dll=test"}, 0, nullptr, {"runtimeLocation=2"}},
    {"held_target_compressed", {"pack:--extract {src}/Quorvantix.lok:compress --extract {src}/cine.dll",
     "src/Quorvantix.lok=not a lock", "src/cine.dll=test"}, 0, CannotCreateText, {}},
    // Work folder names: taken ones are skipped and, lockless, never removed; without a
    // work folder there is no launch.
    {"names_taken", {"pack:--extract {src}/cine.dll", "src/cine.dll=test", "tmp=taken:26"}, 0, nullptr,
     {"workFolder={tmp}\\TempFolder.aba\\", "+tmp/TempFolder.aaa/mine.txt", "+tmp/TempFolder.aaz/mine.txt"}},
    {"tmp_missing", {"pack:--extract {src}/cine.dll", "src/cine.dll=test", "tmp_missing"}, 0, CannotCreateText, {}},
    // The exit cleanup removes every unheld work folder, also in a run without a folder
    // of its own; lockless folders, files, other names and what links point to stay.
    {"stale_cleanup", {"app/cine.dll=test", "tmp/TempFolder.abc=abandoned", "tmp/TempFolder.zzz=abandoned",
     "tmp/TempFolder.xyz/cine.dll=no lock", "tmp/TempFolder.txt=a file", "tmp/TempFolder.lok/Quorvantix.lok/x=dir",
     "tmp/Other.abc=abandoned"}, 0, nullptr,
     {"workFolder=(null)", "!tmp/TempFolder.abc", "!tmp/TempFolder.zzz", "+tmp/TempFolder.xyz/cine.dll",
      "+tmp/TempFolder.txt", "+tmp/TempFolder.lok/Quorvantix.lok/x", "+tmp/Other.abc/cine.dll"}},
    {"links_not_followed", {"app/cine.dll=test", "out=abandoned", "tmp/TempFolder.lnk=link:out",
     "tmp/TempFolder.abc/a=link:out", "tmp/TempFolder.abc/z=link:out", "tmp/TempFolder.abc/Quorvantix.lok="}, 0,
     nullptr, {"called=1", "+out/Quorvantix.lok", "+out/cine.dll", "+out/Xtras/one/deep.x32", "+tmp/TempFolder.lnk"}},
    // A file that cannot be deleted stops its folder, whose lock file stays for the next
    // try; the next folder is still removed.
    {"blocked_file", {"app/cine.dll=test", "tmp/TempFolder.abc=abandoned", "tmp/TempFolder.abc/b.dat=readonly:b",
     "tmp/TempFolder.abd=abandoned"}, 0, nullptr,
     {"called=1", "+tmp/TempFolder.abc/b.dat", "+tmp/TempFolder.abc/Quorvantix.lok", "!tmp/TempFolder.abd"}},
    // The player download: the registered program gets its path and the address, which
    // carries the system's language; Cancel, or no usable command, starts nothing.
    {"download", {"htm:\"{root}\\Browser\\browser.exe\" -nohome"}, 0, PlayerMissingText,
     {"browser:cmdline={root}\\Browser\\browser.exe {addr}\nshow=1\n"}},
    {"download_french", {"htm:{root}\\Browser\\browser.exe %1", "env:LC_ALL=fr_CA.UTF-8"}, 0, PlayerMissingText,
     {"browser:cmdline={root}\\Browser\\browser.exe {addr-fr}\nshow=1\n"}},
    {"download_cancelled", {"htm:{root}\\Browser\\browser.exe", "answer:cancel"}, 0, PlayerMissingText, {"browser:"}},
    {"download_no_command", {"htm:"}, 0, PlayerMissingText, {"browser:"}},
};

// The rest of `token` after `prefix`, or null.
const char* After(const char* token, const char* prefix) {
  return strncmp(token, prefix, strlen(prefix)) == 0 ? token + strlen(prefix) : nullptr;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
    text.replace(at, from.size(), to);
  }
  return text;
}

std::string Address(const std::string& segment) {
  return DownloadBaseAddress + segment + "lumenreel/download/?P1_Prod_Version=LRArchive10.1.0";
}

std::string Expand(std::string text, const Sandbox& box) {
  text = Replace(text, "{wf}", ToWindowsPath(box.tmp) + "\\TempFolder.aaa\\");
  text = Replace(text, "{exe}", ToWindowsPath(box.app + "/MOVIE.EXE"));
  text = Replace(Replace(text, "{addr}", Address("")), "{addr-fr}", Address("fr/"));
  text = Replace(Replace(text, "{app}", ToWindowsPath(box.app)), "{tmp}", ToWindowsPath(box.tmp));
  return Replace(text, "{root}", ToWindowsPath(box.root));
}

// A folder under `root` whose Windows path is exactly `length` characters long.
std::string FolderOfLength(const std::string& root, size_t length) {
  std::string path = root + "/d";
  for (size_t have; (have = ToWindowsPath(path).size()) < length;) {
    path += length - have == 1 ? std::string("e") : "/" + std::string(std::min<size_t>(length - have - 1, 99), 'd');
  }
  return path;
}

std::string SharedFolder(const Sandbox& box) {
  return fs::path(box.root).parent_path().parent_path() / "windows/system32/Quorvant/Lumenreel 10";
}

void Place(const Sandbox& box, const std::string& file, unsigned seed) {
  size_t eq = file.find('='), colon = file.find(':', eq);
  std::string path = file.rfind("shared/", 0) == 0 ? SharedFolder(box) + file.substr(6, eq - 6)
                                                   : box.root + "/" + file.substr(0, eq);
  std::string kind = file.substr(eq + 1, colon - eq - 1);
  std::string arg = colon == std::string::npos ? "" : file.substr(colon + 1);
  const std::map<std::string, std::string> libraries = {
      {"test", TestRuntime()}, {"cdecl", CdeclRuntime()}, {"noexport", NoExportRuntime()}, {"crt", FakeMsvcrt()}};
  if (libraries.count(kind)) return CopyFile(libraries.at(kind), path);
  if (kind == "link") {
    return MakeDirs(fs::path(path).parent_path()), fs::create_directory_symlink(box.root + "/" + arg, path);
  }
  for (const char* f : {Lock, "cine.dll", "Xtras/one/deep.x32", "Xtras/two.x32"}) {
    if (kind == "abandoned") WriteFile(path + "/" + f, f), MakeDirs(path + "/empty");
  }
  size_t size = atoi(arg.c_str());
  std::string content;
  std::mt19937 random(seed);
  for (size_t i = 0; kind == "taken" && i < size; ++i) {
    std::string name = {char('a' + i / 676), char('a' + i / 26 % 26), char('a' + i % 26)};
    WriteFile(path + "/TempFolder." + name + "/mine.txt", name);
  }
  while (kind == "random" && content.size() < size) content += static_cast<char>(random());
  for (int line = 0; kind == "text" && content.size() < size; ++line) {
    content += "line " + std::to_string(line) + ": the quick brown fox jumps over the lazy dog\r\n";
  }
  if (kind == "taken" || kind == "abandoned") return;
  WriteFile(path, colon == std::string::npos ? kind : kind == "readonly" ? arg : content.substr(0, size));
  if (kind == "readonly") chmod(path.c_str(), 0444);  // Wine shows it read-only
}

// Registers `command` ("" none) as the ".htm" type's open command. Only these rows read
// the association in the tests' throwaway prefix, each setting its own: none is put back.
void RegisterHtm(const std::string& command) {
  RunWine({"reg", "add", "HKEY_CLASSES_ROOT\\.htm", "/ve", "/d", "CinemorphTest.htm", "/f"});
  RunWine({"reg", "delete", "HKEY_CLASSES_ROOT\\CinemorphTest.htm", "/f"});
  std::string key = "HKEY_CLASSES_ROOT\\CinemorphTest.htm\\shell\\open\\command";
  EXPECT_TRUE(command.empty() || RunWine({"reg", "add", key, "/ve", "/d", command, "/f"}).status == 0);
}

class Launches : public testing::TestWithParam<Scenario> {};

TEST_P(Launches, EndAsExpected) {
  const Scenario& s = GetParam();
  Sandbox box = MakeSandbox(std::string("launch_") + s.name);
  LaunchSpec spec = SandboxSpec(box);
  spec.env.push_back("CINE_SNAPSHOT=" + ToWindowsPath(box.root + "/snapshot"));
  std::string stub = Launcher(), pack;
  const char* htm = nullptr;
  unsigned seed = 0;
  for (const char* token : s.given) {
    const char* value;
    if (token == Twin) stub = WinDir() + "/tests/launcher_crt_twin.exe";
    else if ((value = After(token, "pack:"))) pack = Replace(value, "{src}", box.root + "/src");
    else if ((value = After(token, "env:LC_ALL="))) setenv("LC_ALL", value, 1);  // the system language
    else if ((value = After(token, "env:"))) spec.env.push_back(value);
    else if ((value = After(token, "start:"))) spec.raw = true, spec.args = Expand(value, box);
    else if ((value = After(token, "show:"))) spec.show = atoi(value);
    else if ((value = After(token, "answer:"))) spec.answer = value;
    else if ((value = After(token, "cwd:"))) MakeDirs(spec.cwd = FolderOfLength(box.root, atoi(value)));
    else if ((value = After(token, "htm:"))) htm = value;
    else if (std::string(token) == "tmp_missing") spec.tmp = box.root + "/no/such/folder";
    else Place(box, token, ++seed);
  }
  if (pack.empty()) {
    CopyFile(stub, spec.exe);
  } else {
    WriteFile(box.root + "/movie.dat", "QMV1movie");
    std::string out;
    std::string args = "build --stub " + stub + " --movie " + box.root + "/movie.dat -o " + spec.exe + " " + pack;
    ASSERT_EQ(RunCinepack(args, &out), 0) << out;
  }
  if (htm) CopyFile(WinDir() + "/tests/probe.exe", box.root + "/Browser/browser.exe"), RegisterHtm(Expand(htm, box));
  LaunchResult r = Launch(box, spec);
  unsetenv("LC_ALL");
  fs::remove_all(fs::path(SharedFolder(box)).parent_path());

  EXPECT_EQ(r.exitCode, s.exitCode) << r.probeOutput;
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.box["text"], s.box ? s.box : "");
  if (s.box) {
    EXPECT_EQ(r.box["caption"], "Application Error");
    EXPECT_EQ(r.box["buttons"], s.box == PlayerMissingText ? "1,2" : "1");  // OK and Cancel, or OK
  }
  bool called = false;
  std::string allowed;  // what may be left in TMP
  for (const char* token : s.expect) {
    std::string expected = Expand(token, box);
    if (expected[0] == '+' || expected[0] == '!') {
      EXPECT_EQ(Exists(box.root + "/" + expected.substr(1)), expected[0] == '+') << expected;
      allowed += " " + expected.substr(1);
    } else if (const char* log = After(expected.c_str(), "browser:")) {
      // The program runs on after the launcher: wait for its record, or a while for none.
      std::string path = box.root + "/Browser/browser.exe.log";
      bool started = WaitForFile(path, *log ? 30000 : 1000);
      std::this_thread::sleep_for(std::chrono::milliseconds(200) * TimeFactor());
      EXPECT_EQ(started ? ReadFile(path) : "", log);
    } else {
      std::string key = expected.substr(0, expected.find('=')), seen = key + "=" + r.report[key];
      bool path = key.find("path") != std::string::npos;  // Windows paths: any case
      EXPECT_EQ(path ? ToLower(seen) : seen, path ? ToLower(expected) : expected);
      called = true;
    }
  }
  EXPECT_EQ(!r.report.empty(), called) << "the runtime was called, or not";
  // Every extracted entry arrived whole, beside nothing but the hidden empty lock file.
  std::set<std::string> extracted = {Lock}, seen;
  std::istringstream words(pack);
  for (std::string word; words >> word;) {
    if (word == "--extract" && words >> word) extracted.insert(fs::path(word.substr(0, word.find(':'))).filename());
  }
  for (const std::string& line : r.workFiles) {
    std::istringstream fields(line);
    std::string name, size, attributes;
    fields >> name >> size >> attributes;
    seen.insert(name);
    if (name == Lock) {
      EXPECT_EQ(size, "0");
      EXPECT_TRUE(std::stoul(attributes, nullptr, 16) & 2) << "not hidden: " << attributes;
    } else {
      EXPECT_TRUE(ReadFile(box.root + "/snapshot/" + name) == ReadFile(box.root + "/src/" + name)) << name;
    }
  }
  EXPECT_TRUE(r.workFiles.empty() || seen == extracted);
  // Nothing is left in TMP but what the row placed or expects there.
  for (const char* token : s.given) allowed += std::string(" ") + token;
  for (const std::string& name : Exists(spec.tmp) ? ListDir(spec.tmp) : std::vector<std::string>()) {
    bool taken = Exists(spec.tmp + "/" + name + "/mine.txt");
    EXPECT_TRUE(taken || allowed.find(" tmp/" + name) != std::string::npos) << name << " was left behind";
  }
  EXPECT_FALSE(Exists(box.root + "/no")) << "a folder was made where TMP pointed";
}

INSTANTIATE_TEST_SUITE_P(Table, Launches, testing::ValuesIn(Scenarios),
                         [](const testing::TestParamInfo<Scenario>& info) { return info.param.name; });

std::string TryOpen(const std::string& path) {
  std::string out = RunWine({ToWindowsPath(WinDir() + "/tests/probe.exe"), "tryopen", ToWindowsPath(path)}).output;
  return out.substr(0, out.find_first_of("\r\n"));
}

// Two runs sharing one TMP: a live run's folder and lock are its own until it ends; a
// run that dies leaves its folder to the next run's exit.
TEST(WorkFolder, LiveRunKeepsItsFolderAndADeadOnesGoesAtTheNextExit) {
  Sandbox box = MakeSandbox("wf_two_runs");
  WriteFile(box.root + "/movie.dat", "QMV1movie");
  ASSERT_EQ(RunCinepack("build --stub " + Launcher() + " --movie " + box.root + "/movie.dat -o " + box.app +
                        "/MOVIE.EXE --extract " + TestRuntime()), 0);
  LaunchSpec first = SandboxSpec(box);  // stays in the runtime until told, then dies
  first.env = {"CINE_REPORT=" + ToWindowsPath(box.root + "/first.txt"),
               "CINE_READY=" + ToWindowsPath(box.root + "/ready"), "CINE_WAIT_FOR=" + ToWindowsPath(box.root + "/go"),
               "CINE_RESULT=exit"};
  int pid = StartWine(ProbeRunArgs(box, first), box.root + "/first.out");
  ASSERT_TRUE(WaitForFile(box.root + "/ready", 60000)) << ReadFile(box.root + "/first.out");
  std::string lock = box.tmp + "/TempFolder.aaa/Quorvantix.lok";
  EXPECT_EQ(TryOpen(lock), "denied 32") << "an open that shares everything got at a live run's lock";

  LaunchResult second = Launch(box, SandboxSpec(box));
  EXPECT_EQ(second.report["workFolder"], ToWindowsPath(box.tmp) + "\\TempFolder.aab\\");
  EXPECT_EQ(ListDir(box.tmp), std::vector<std::string>{"TempFolder.aaa"}) << "only the live run's folder stays";
  EXPECT_EQ(ListDir(box.tmp + "/TempFolder.aaa"), (std::vector<std::string>{Lock, "cine.dll"}));

  WriteFile(box.root + "/go", "");
  EXPECT_EQ(ReadLaunch(box, FinishWine(pid, box.root + "/first.out")).exitCode, 9);
  EXPECT_EQ(TryOpen(lock), "open");
  EXPECT_EQ(Launch(box, SandboxSpec(box)).report["workFolder"], ToWindowsPath(box.tmp) + "\\TempFolder.aab\\");
  EXPECT_TRUE(ListDir(box.tmp).empty()) << "the dead run's folder outlived the next exit";
}

}  // namespace
}  // namespace e2e
