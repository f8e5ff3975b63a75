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
  // The projector: app/MOVIE.EXE made by cinepack from the launcher ("twin": its test
  // twin, which takes "cinecrt.dll" for msvcrt.dll) with these options, "{src}" the
  // sandbox's src/; or, with no options, the bare executable.
  const char* exe;
  const char* pack;
  // "path=what" under the sandbox ("shared/" is the shared player folder); what is a
  // library (test, cdecl, noexport, crt), random:N or text:N bytes, abandoned (a work
  // folder its run left, lock and all), link:PATH, readonly:TEXT, taken:N (N lockless
  // folders TempFolder.aaa on), or the file's text.
  std::vector<const char*> files;
  std::vector<const char*> env;  // for the runtime: CINE_RESULT=...
  const char* start;  // command line (raw, "{exe}" the program), or null for "{exe}"
  int show;           // STARTF_USESHOWWINDOW, or -1
  const char* where;  // tmp=missing|N (a TMP N characters long), cwd=N, or null
  const char* answer;
  const char* htm;    // the ".htm" type's open command ("" none), or null: untouched
  // Expected:
  int exitCode;
  const char* box;                 // message text, or null for no box
  std::vector<const char*> report; // key=value the runtime received; none: not called
  std::vector<const char*> after;  // paths that exist afterwards, "!path" that do not
  const char* browser;             // what the registered program got, "" not started
};

const char Lock[] = "Quorvantix.lok";

std::string Address(const std::string& segment) {
  return DownloadBaseAddress + segment + "lumenreel/download/?P1_Prod_Version=LRArchive10.1.0";
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
    text.replace(at, from.size(), to);
  }
  return text;
}

std::string Expand(std::string text, const Sandbox& box) {
  text = Replace(text, "{wf}", ToWindowsPath(box.tmp) + "\\TempFolder.aaa\\");
  text = Replace(text, "{exe}", ToWindowsPath(box.app + "/MOVIE.EXE"));
  text = Replace(Replace(text, "{addr}", Address("")), "{addr-fr}", Address("fr/"));
  for (const char* key : {"root", "app", "tmp"}) {
    std::string unix = key == std::string("root") ? box.root : key == std::string("app") ? box.app : box.tmp;
    text = Replace(text, std::string("{") + key + "}", ToWindowsPath(unix));
  }
  return text;
}

// A folder under `root` whose Windows path is exactly `length` characters long.
std::string FolderOfLength(const std::string& root, size_t length) {
  std::string path = root + "/d";
  for (size_t have; (have = ToWindowsPath(path).size()) < length;) {
    path += length - have == 1 ? std::string("e") : "/" + std::string(std::min<size_t>(length - have - 1, 99), 'd');
  }
  return path;
}

std::string Content(const std::string& what, unsigned seed) {
  size_t colon = what.find(':');
  size_t size = colon == std::string::npos ? 0 : std::stoul(what.substr(colon + 1));
  std::string out;
  std::mt19937 random(seed);
  while (what.rfind("random:", 0) == 0 && out.size() < size) out += static_cast<char>(random());
  for (int line = 0; what.rfind("text:", 0) == 0 && out.size() < size; ++line) {
    out += "line " + std::to_string(line) + ": the quick brown fox jumps over the lazy dog\r\n";
  }
  return size ? out.substr(0, size) : what;
}

void Place(const Sandbox& box, const std::string& file, unsigned seed) {
  size_t eq = file.find('=');
  std::string what = file.substr(eq + 1), path = box.root + "/" + file.substr(0, eq);
  if (file.rfind("shared/", 0) == 0) {
    path = fs::path(box.root).parent_path().parent_path() / "windows/system32/Quorvant/Lumenreel 10" /
           file.substr(7, eq - 7);
  }
  const std::map<std::string, std::string> libraries = {
      {"test", TestRuntime()}, {"cdecl", CdeclRuntime()}, {"noexport", NoExportRuntime()}, {"crt", FakeMsvcrt()}};
  if (libraries.count(what)) return CopyFile(libraries.at(what), path);
  if (what == "abandoned") {
    for (const char* f : {Lock, "cine.dll", "Xtras/one/deep.x32", "Xtras/two.x32"}) WriteFile(path + "/" + f, f);
    return MakeDirs(path + "/empty");
  }
  if (what.rfind("link:", 0) == 0) {
    MakeDirs(fs::path(path).parent_path());
    return fs::create_directory_symlink(box.root + "/" + what.substr(5), path);
  }
  if (what.rfind("taken:", 0) == 0) {
    for (int i = 0; i < std::stoi(what.substr(6)); ++i) {
      std::string name = {char('a' + i / 676), char('a' + i / 26 % 26), char('a' + i % 26)};
      WriteFile(path + "/TempFolder." + name + "/mine.txt", name);
    }
    return;
  }
  bool readonly = what.rfind("readonly:", 0) == 0;
  WriteFile(path, readonly ? what.substr(9) : Content(what, seed));
  // Wine shows a file without write permission as read-only.
  if (readonly) chmod(path.c_str(), 0444);
}

// Sets HKEY_CLASSES_ROOT\.htm to a type whose open command is `command` ("" none), and
// puts Wine's own association back when it goes.
struct HtmAssociation {
  std::string file;
  HtmAssociation(const Sandbox& box, const char* command) {
    if (!command) return;
    file = box.root + "/association.reg";
    std::string reg = "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\.htm]\r\n@=\"CinemorphTest.htm\"\r\n";
    std::string escaped = Replace(Replace(command, "\\", "\\\\"), "\"", "\\\"");
    if (*command) reg += "[HKEY_CLASSES_ROOT\\CinemorphTest.htm\\shell\\open\\command]\r\n@=\"" + escaped + "\"\r\n";
    WriteFile(file, reg);
    EXPECT_EQ(RunWine({"reg", "import", ToWindowsPath(file)}).status, 0);
  }
  ~HtmAssociation() {
    if (file.empty()) return;
    RunWine({"reg", "delete", "HKEY_CLASSES_ROOT\\CinemorphTest.htm", "/f"});
    RunWine({"reg", "add", "HKEY_CLASSES_ROOT\\.htm", "/ve", "/d", "htmlfile", "/f"});
  }
};

const Scenario Scenarios[] = {
    // Where cine.dll is found, and everything it is handed; the search leaves the
    // current directory as it was.
    {"beside", "launcher", nullptr, {"app/cine.dll=test"}, {}, nullptr, -1, nullptr, "ok", nullptr, 0, nullptr,
     {"runtimeLocation=1", "runtime_path={app}\\cine.dll", "cwd={root}", "version=2", "size=28",
      "closeSplash_set=0", "splashThreadId=0", "workFolder=(null)", "payloadOption=0", "instance_is_exe=1",
      "previous=0", "show=10", "cmdline="}, {}, nullptr},
    {"nodix", "launcher", nullptr, {"app/Nodix/cine.dll=test"}, {}, nullptr, -1, nullptr, "ok", nullptr, 0, nullptr,
     {"runtimeLocation=3", "runtime_path={app}\\Nodix\\cine.dll", "cwd={root}"}, {}, nullptr},
    {"beside_before_nodix", "launcher", nullptr, {"app/cine.dll=test", "app/Nodix/cine.dll=test"}, {}, nullptr, -1,
     nullptr, "ok", nullptr, 0, nullptr, {"runtimeLocation=1"}, {}, nullptr},
    {"shared", "launcher", nullptr, {"shared/cine.dll=test"}, {}, nullptr, -1, nullptr, "ok", nullptr, 0, nullptr,
     {"runtimeLocation=4", "runtime_path=C:\\windows\\system32\\Quorvant\\Lumenreel 10\\cine.dll", "cwd={root}"},
     {}, nullptr},
    {"nodix_before_shared", "launcher", nullptr, {"app/Nodix/cine.dll=test", "shared/cine.dll=test"}, {}, nullptr,
     -1, nullptr, "ok", nullptr, 0, nullptr, {"runtimeLocation=3"}, {}, nullptr},
    // The command line after the program's name, byte for byte, and the show state.
    {"command_line", "launcher", nullptr, {"app/cine.dll=test"}, {}, "\"{exe}\"  \t -play  \"two words\" 'x' ", 0,
     nullptr, "ok", nullptr, 0, nullptr, {"cmdline=-play  \"two words\" 'x' ", "show=0"}, {}, nullptr},
    {"unquoted_name", "launcher", nullptr, {"app/cine.dll=test"}, {}, "MOVIE.EXE /A /b", 3, nullptr, "ok", nullptr,
     0, nullptr, {"cmdline=/A /b", "show=3"}, {}, nullptr},
    // The runtime's result: 0 is a failure with exit code 1; others a normal end.
    {"runtime_failed", "launcher", nullptr, {"app/cine.dll=test"}, {"CINE_RESULT=0"}, nullptr, -1, nullptr, "ok",
     nullptr, 1, CannotRunText, {"result=0"}, {}, nullptr},
    {"runtime_minus_one", "launcher", nullptr, {"app/cine.dll=test"}, {"CINE_RESULT=-1"}, nullptr, -1, nullptr, "ok",
     nullptr, 0, nullptr, {"result=-1"}, {}, nullptr},
    {"runtime_three", "launcher", nullptr, {"app/cine.dll=test"}, {"CINE_RESULT=3"}, nullptr, -1, nullptr, "ok",
     nullptr, 0, nullptr, {"result=3"}, {}, nullptr},
    {"entry_point_missing", "launcher", nullptr, {"app/cine.dll=noexport"}, {}, nullptr, -1, nullptr, "ok", nullptr,
     0, CannotRunText, {}, {}, nullptr},
    {"no_current_directory", "launcher", nullptr, {"app/cine.dll=test"}, {}, nullptr, -1, "cwd=257", "ok", nullptr,
     0, CannotRunText, {}, {}, nullptr},
    // msvcrt.dll: the standard search, then the work folder, beside, Nodix; never shared.
    {"msvcrt_missing", "twin", nullptr, {"app/cine.dll=test", "shared/cinecrt.dll=crt"}, {}, nullptr, -1, nullptr,
     "ok", nullptr, 0, MsvcrtMissingText, {}, {}, nullptr},
    {"msvcrt_nodix", "twin", nullptr, {"app/cine.dll=test", "app/Nodix/cinecrt.dll=crt"}, {}, nullptr, -1, nullptr,
     "ok", nullptr, 0, nullptr, {"crt_path={app}\\Nodix\\cinecrt.dll", "runtimeLocation=1", "cwd={root}"}, {},
     nullptr},
    {"msvcrt_beside_before_nodix", "twin", nullptr,
     {"app/cine.dll=test", "app/cinecrt.dll=crt", "app/Nodix/cinecrt.dll=crt"}, {}, nullptr, -1, nullptr, "ok",
     nullptr, 0, nullptr, {"crt_path={app}\\cinecrt.dll"}, {}, nullptr},
    {"msvcrt_work_folder_first", "twin", "--extract {src}/cine.dll --extract {src}/cinecrt.dll",
     {"src/cine.dll=test", "src/cinecrt.dll=crt", "app/Nodix/cinecrt.dll=crt"}, {}, nullptr, -1, nullptr, "ok", nullptr,
     0, nullptr, {"crt_path={wf}cinecrt.dll", "runtimeLocation=2", "payloadOption=0", "cwd={root}"}, {}, nullptr},
    // The payload: entries byte for byte in TempFolder.aaa, cine.dll loaded from there.
    {"payload", "launcher",
     "--option --extract {src}/cine.dll:compress --extract {src}/big.bin --extract {src}/notes.txt:compress "
     "--extract {src}/exact.dat:compress --extract {src}/empty.ini",
     {"src/cine.dll=test", "src/big.bin=random:100000", "src/notes.txt=text:150000", "src/exact.dat=random:32768",
      "src/empty.ini=", "app/cine.dll=noexport"}, {}, nullptr, -1, nullptr, "ok", nullptr, 0, nullptr,
     {"workFolder={wf}", "runtimeLocation=2", "runtime_path={wf}cine.dll", "payloadOption=1", "cwd={root}"}, {},
     nullptr},
    {"cdecl_runtime", "launcher", "--extract {src}/cine.dll:compress", {"src/cine.dll=cdecl"}, {"CINE_RESULT=0"},
     nullptr, -1, nullptr, "ok", nullptr, 1, CannotRunText, {"runtimeLocation=2", "result=0"}, {}, nullptr},
    {"runtime_load_failed", "launcher", "--extract {src}/README.TXT", {"src/README.TXT=read me", "app/cine.dll=test",
     "app/Nodix/cine.dll=test"}, {}, nullptr, -1, nullptr, "ok", nullptr, 0, CannotCreateText, {}, {}, nullptr},
    {"nothing_to_extract", "launcher", "--option --leading save.dat", {"app/cine.dll=test"}, {}, nullptr, -1, nullptr,
     "ok", nullptr, 0, nullptr, {"workFolder=(null)", "runtimeLocation=1", "payloadOption=1"}, {}, nullptr},
    {"leading_entries", "launcher", "--leading save.dat --leading prefs.ini --extract {src}/cine.dll",
     {"src/cine.dll=test", "app/save.dat=x", "app/prefs.ini=x", "app/other.dat=x", "app/save.ini=x", "save.dat=x",
      "app/Nodix/save.dat=x"}, {}, nullptr, -1, nullptr, "ok", nullptr, 0, nullptr, {"runtimeLocation=2"},
     {"!app/save.dat", "!app/prefs.ini", "app/other.dat", "app/save.ini", "save.dat", "app/Nodix/save.dat"}, nullptr},
    // A target the run itself holds open (its own lock file) counts as written when
    // stored, and fails the extraction when compressed.
    {"held_target_stored", "launcher", "--extract {src}/Quorvantix.lok --extract {src}/cine.dll",
     {"src/Quorvantix.lok=not a lock", "src/cine.dll=test"}, {}, nullptr, -1, nullptr, "ok", nullptr, 0, nullptr,
     {"runtimeLocation=2"}, {}, nullptr},
    {"held_target_compressed", "launcher", "--extract {src}/Quorvantix.lok:compress --extract {src}/cine.dll",
     {"src/Quorvantix.lok=not a lock", "src/cine.dll=test"}, {}, nullptr, -1, nullptr, "ok", nullptr, 0,
     CannotCreateText, {}, {}, nullptr},
    // A compressed stream too short for its length ends the process with status 1 on
    // the spot, the work folder left for a later run's cleanup.
    {"short_stream", "launcher", "--extract {src}/tiny.dat:compress --extract {src}/cine.dll",
     {"src/tiny.dat=", "src/cine.dll=test"}, {}, nullptr, -1, nullptr, "ok", nullptr, 1, nullptr, {},
     {"tmp/TempFolder.aaa/Quorvantix.lok"}, nullptr},
    // Work folder names: taken ones are skipped and, lockless, never removed; the
    // temporary path may be 230 characters long, not more; no folder, no launch.
    {"names_taken", "launcher", "--extract {src}/cine.dll", {"src/cine.dll=test", "tmp=taken:26"}, {}, nullptr, -1,
     nullptr, "ok", nullptr, 0, nullptr, {"workFolder={tmp}\\TempFolder.aba\\"},
     {"tmp/TempFolder.aaa/mine.txt", "tmp/TempFolder.aaz/mine.txt", "!tmp/TempFolder.aba"}, nullptr},
    {"tmp_230", "launcher", "--extract {src}/cine.dll", {"src/cine.dll=test"}, {}, nullptr, -1, "tmp=230", "ok",
     nullptr, 0, nullptr, {"runtimeLocation=2"}, {}, nullptr},
    {"tmp_231", "launcher", "--extract {src}/cine.dll", {"src/cine.dll=test"}, {}, nullptr, -1, "tmp=231", "ok",
     nullptr, 0, CannotCreateText, {}, {}, nullptr},
    {"tmp_missing", "launcher", "--extract {src}/cine.dll", {"src/cine.dll=test"}, {}, nullptr, -1, "tmp=missing",
     "ok", nullptr, 0, CannotCreateText, {}, {}, nullptr},
    // The exit cleanup removes every unheld folder, a run without a folder of its own
    // too; lockless folders, plain files, other names and what links point to stay.
    {"stale_cleanup", "launcher", nullptr,
     {"app/cine.dll=test", "tmp/TempFolder.abc=abandoned", "tmp/TempFolder.zzz=abandoned",
      "tmp/TempFolder.xyz/cine.dll=no lock", "tmp/TempFolder.txt=a file", "tmp/TempFolder.lok/Quorvantix.lok/x=dir",
      "tmp/Other.abc=abandoned"}, {}, nullptr, -1, nullptr, "ok", nullptr, 0, nullptr, {"workFolder=(null)"},
     {"!tmp/TempFolder.abc", "!tmp/TempFolder.zzz", "tmp/TempFolder.xyz/cine.dll", "tmp/TempFolder.txt",
      "tmp/TempFolder.lok/Quorvantix.lok/x", "tmp/Other.abc/Quorvantix.lok"}, nullptr},
    {"links_not_followed", "launcher", nullptr,
     {"app/cine.dll=test", "out=abandoned", "tmp/TempFolder.lnk=link:out", "tmp/TempFolder.abc/a=link:out",
      "tmp/TempFolder.abc/z=link:out", "tmp/TempFolder.abc/Quorvantix.lok="}, {}, nullptr, -1, nullptr, "ok",
     nullptr, 0, nullptr, {"called=1"}, {"out/Quorvantix.lok", "out/cine.dll", "out/Xtras/one/deep.x32",
     "tmp/TempFolder.lnk"}, nullptr},
    // A file that cannot be deleted stops its folder, lock file kept for the next try;
    // the next folder is still removed.
    {"blocked_file", "launcher", nullptr,
     {"app/cine.dll=test", "tmp/TempFolder.abc=abandoned", "tmp/TempFolder.abc/b.dat=readonly:b",
      "tmp/TempFolder.abd=abandoned"}, {}, nullptr, -1, nullptr, "ok", nullptr, 0, nullptr, {"called=1"},
     {"tmp/TempFolder.abc/b.dat", "tmp/TempFolder.abc/Quorvantix.lok", "!tmp/TempFolder.abd"}, nullptr},
    // The player download: the registered program, started with just its path and the
    // address, which carries the system's language; Cancel or no usable command: nothing.
    {"download", "launcher", nullptr, {}, {}, nullptr, -1, nullptr, "ok", "\"{root}\\Browser\\browser.exe\" -nohome",
     0, PlayerMissingText, {}, {}, "cmdline={root}\\Browser\\browser.exe {addr}\nshow=1\n"},
    {"download_french", "launcher", nullptr, {}, {"LC_ALL=fr_CA.UTF-8"}, nullptr, -1, nullptr, "ok",
     "{root}\\Browser\\browser.exe %1", 0, PlayerMissingText, {}, {},
     "cmdline={root}\\Browser\\browser.exe {addr-fr}\nshow=1\n"},
    {"download_cancelled", "launcher", nullptr, {}, {}, nullptr, -1, nullptr, "cancel", "{root}\\Browser\\browser.exe",
     0, PlayerMissingText, {}, {}, ""},
    {"download_no_command", "launcher", nullptr, {}, {}, nullptr, -1, nullptr, "ok", "", 0, PlayerMissingText, {}, {},
     ""},
};

void PrintTo(const Scenario& s, std::ostream* out) { *out << s.name; }

class Launches : public testing::TestWithParam<Scenario> {};

TEST_P(Launches, EndAsExpected) {
  const Scenario& s = GetParam();
  Sandbox box = MakeSandbox(std::string("launch_") + s.name);
  unsigned seed = 1;
  for (const char* file : s.files) Place(box, file, seed++);
  std::string stub = s.exe == std::string("twin") ? WinDir() + "/tests/launcher_crt_twin.exe" : Launcher();
  std::string pack = s.pack ? Replace(s.pack, "{src}", box.root + "/src") : "";
  if (s.pack) {
    WriteFile(box.root + "/movie.dat", "QMV1movie");
    std::string out;
    ASSERT_EQ(RunCinepack("build --stub " + stub + " --movie " + box.root + "/movie.dat -o " + box.app +
                          "/MOVIE.EXE " + pack, &out), 0) << out;
  } else {
    CopyFile(stub, box.app + "/MOVIE.EXE");
  }
  if (s.name == std::string("short_stream")) {  // the first entry's size cut to 3 bytes
    std::string image = ReadFile(box.app + "/MOVIE.EXE");
    image[ReadLE32(image, image.size() - 4) + 24 + 4] = 3;
    WriteFile(box.app + "/MOVIE.EXE", image);
  }
  LaunchSpec spec = SandboxSpec(box);
  // The system's language comes from the locale of Wine itself.
  for (const char* kv : s.env) {
    if (std::string(kv).rfind("LC_ALL=", 0) == 0) setenv("LC_ALL", kv + 7, 1);
    else spec.env.push_back(kv);
  }
  spec.env.push_back("CINE_SNAPSHOT=" + ToWindowsPath(box.root + "/snapshot"));
  spec.answer = s.answer;
  spec.show = s.show;
  if (s.start) spec.raw = true, spec.args = Expand(s.start, box);
  std::string where = s.where ? s.where : "";
  if (where == "tmp=missing") spec.tmp = box.root + "/no/such/folder";
  else if (where.rfind("tmp=", 0) == 0) MakeDirs(spec.tmp = FolderOfLength(box.root, std::stoul(where.substr(4)) - 1));
  if (where.rfind("cwd=", 0) == 0) MakeDirs(spec.cwd = FolderOfLength(box.root, std::stoul(where.substr(4))));
  if (s.htm) CopyFile(WinDir() + "/tests/browser_recorder.exe", box.root + "/Browser/browser.exe");
  HtmAssociation association(box, s.htm ? Expand(s.htm, box).c_str() : nullptr);
  LaunchResult r = Launch(box, spec);
  unsetenv("LC_ALL");
  fs::remove_all(fs::path(box.root).parent_path().parent_path() / "windows/system32/Quorvant");

  EXPECT_EQ(r.exitCode, s.exitCode) << r.probeOutput;
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.box["text"], s.box ? s.box : "");
  if (s.box) {
    EXPECT_EQ(r.box["caption"], "Application Error");
    EXPECT_EQ(r.box["buttons"], s.box == PlayerMissingText ? "1,2" : "1");
  }
  EXPECT_EQ(r.report.empty(), s.report.empty()) << "the runtime was called, or not";
  for (const char* kv : s.report) {
    std::string expected = Expand(kv, box);
    std::string key = expected.substr(0, expected.find('='));
    std::string seen = key + "=" + r.report[key];
    EXPECT_EQ(key.find("path") == std::string::npos ? seen : ToLower(seen),
              key.find("path") == std::string::npos ? expected : ToLower(expected));
  }
  // Every extracted entry arrived whole, beside nothing but the hidden empty lock file.
  std::set<std::string> extracted = {Lock}, seen;
  std::istringstream entries(pack);
  for (std::string word; entries >> word;) {
    if (word == "--extract" && entries >> word) extracted.insert(fs::path(word.substr(0, word.find(':'))).filename());
  }
  for (const std::string& line : r.workFiles) {
    std::istringstream fields(line);
    std::string name, size, attributes;
    fields >> name >> size >> attributes;
    seen.insert(name);
    if (name == Lock && r.report["workFolder"] == Expand("{wf}", box)) {
      EXPECT_EQ(size, "0");
      EXPECT_TRUE(std::stoul(attributes, nullptr, 16) & 0x2) << attributes;
    } else if (name != Lock) {
      EXPECT_TRUE(ReadFile(box.root + "/snapshot/" + name) == ReadFile(box.root + "/src/" + name)) << name;
    }
  }
  if (!r.workFiles.empty()) {
    EXPECT_EQ(seen, extracted);
  }
  for (std::string path : s.after) {
    bool gone = path[0] == '!';
    EXPECT_EQ(Exists(box.root + "/" + path.substr(gone)), !gone) << path;
  }
  // Nothing is left in the temporary folder but what the row placed or expects there.
  if (Exists(spec.tmp)) {
    std::string allowed;
    for (const char* path : s.files) allowed += std::string(" ") + path;
    for (const char* path : s.after) allowed += std::string(" ") + path;
    for (const std::string& name : ListDir(spec.tmp)) {
      if (Exists(spec.tmp + "/" + name + "/mine.txt")) continue;  // a taken name
      EXPECT_NE(allowed.find(" tmp/" + name), std::string::npos) << name << " was left behind";
    }
  } else {
    EXPECT_FALSE(Exists(box.root + "/no"));
  }
  if (s.browser) {
    std::string log = box.root + "/Browser/browser.exe.log";
    // The program runs on after the launcher: wait for its record, or a while for none.
    bool started = WaitForFile(log, *s.browser ? 30000 : 1000);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(started ? ReadFile(log) : "", Expand(s.browser, box));
  }
}

INSTANTIATE_TEST_SUITE_P(Table, Launches, testing::ValuesIn(Scenarios),
                         [](const testing::TestParamInfo<Scenario>& info) { return info.param.name; });

}  // namespace
}  // namespace e2e
