// Sets up a launch scenario in its sandbox, launches it through the probe and checks the
// outcome: exit code, message box, what the runtime received, what is left on disk.
#include "tests/e2e/scenario.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "launcher/launch_error_text.h"

namespace e2e {

namespace fs = std::filesystem;

namespace {

bool Exists(const std::string& path) { return fs::exists(fs::symlink_status(path)); }  // a link too

// The Wine session (scripts/wine-session.sh) names the prefix, the Wine to run and the
// folders it binds, and runs the display.
std::string SessionVariable(const char* name) {
  const char* value = getenv(name);
  if (!value || !*value) throw std::runtime_error(std::string(name) + ": no Wine session");
  return value;
}

std::string BuildDir(const std::string& below) {
  return fs::weakly_canonical(std::string(CINE_BUILD_ROOT) + "/" + below);
}

std::string PrefixDir() { return SessionVariable("WINEPREFIX"); }

// How many times slower than usual this Wine runs (CINE_TIME_FACTOR, default 1): every
// timeout and wait here is scaled by it.
int TimeFactor() {
  static const int factor = std::max(1, atoi(getenv("CINE_TIME_FACTOR") ?: "1"));
  return factor;
}

bool WaitForFile(const std::string& path, int timeoutMs) {
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs) * TimeFactor();
  while (!Exists(path) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return Exists(path);
}

// Starts Wine with `args` in the background, stdout to `outputFile` (stderr beside it,
// ".err"), `unixEnv` (K=V) added to Wine's own environment.
int StartWine(const std::vector<std::string>& args, const std::string& outputFile,
              const std::vector<std::string>& unixEnv = {}) {
  std::string wine = SessionVariable("CINE_WINE");
  std::vector<char*> argv = {wine.data()};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    // A launcher that writes without end (a length decoded wrongly, say) dies at 256 MiB
    // a file instead of filling the disk.
    rlimit fileSize = {256 << 20, 256 << 20};
    setrlimit(RLIMIT_FSIZE, &fileSize);
    dup2(open(outputFile.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644), 1);
    dup2(open((outputFile + ".err").c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644), 2);
    for (const std::string& kv : unixEnv) putenv(const_cast<char*>(kv.c_str()));
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

int FinishWine(int pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Probe() { return ToWindowsPath(WinDir() + "/tests/probe.exe"); }

void RegAdd(const std::string& key, const std::vector<std::string>& value) {
  std::vector<std::string> args = {"reg", "add", key};
  args.insert(args.end(), value.begin(), value.end());
  args.push_back("/f");
  int status = -1;
  RunWine(args, &status);
  EXPECT_EQ(status, 0) << key;
}

// LC_ALL, which sets Wine's ANSI code page (ja_JP.UTF-8 932, en_US.UTF-8 1252) and lets it
// read non-ASCII Unix names, and LOCPATH naming the locales compiled under
// build/wine/locales on first use: from the host's locale sources (Debian's "locales"),
// which the i386 root lacks; the compiled files suit its C library, the same release's.
std::vector<std::string> LocaleEnv(const std::string& locale) {
  if (locale.empty()) return {};
  std::string folder = BuildDir("wine/locales");
  if (!fs::exists(folder + "/" + locale + "/LC_CTYPE")) {
    std::string name = locale.substr(0, locale.find('.'));
    std::string charset = locale.substr(locale.find('.') + 1);
    fs::create_directories(folder);
    // localedef exits 1 for warnings alone; the compiled category is what counts.
    RunHost("localedef -i " + name + " -f " + charset + " --no-archive '" + folder + "/" + locale +
            "'");
    if (!fs::exists(folder + "/" + locale + "/LC_CTYPE")) {
      throw std::runtime_error("the locale " + locale + " could not be compiled");
    }
  }
  return {"LC_ALL=" + locale, "LOCPATH=" + folder};
}

// The maker's certificate and unencrypted key (PEM), self-signed, made once per run.
struct Certificate {
  std::string pem, key;
};
const Certificate& Maker() {
  static const Certificate made = [] {
    std::string folder = BuildDir("wine/maker");
    fs::create_directories(folder);
    Certificate c = {folder + "/maker.pem", folder + "/maker.key"};
    std::string output;
    if (RunHost("openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj /CN=Maker -keyout " +
                    c.key + " -out " + c.pem,
                &output) != 0) {
      throw std::runtime_error("openssl could not make a certificate: " + output);
    }
    return c;
  }();
  return made;
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

std::string SourceDir() { return CINE_SOURCE_DIR; }
std::string WinDir() { return BuildDir("win32"); }
std::string Launcher() { return WinDir() + "/launcher.exe"; }

std::string ToWindowsPath(const std::string& unixPath) {
  std::string driveC = PrefixDir() + "/drive_c";
  std::string path = fs::absolute(unixPath).lexically_normal().string();
  std::string result =
      path.compare(0, driveC.size(), driveC) == 0 ? "C:" + path.substr(driveC.size()) : "Z:" + path;
  if (result == "C:") result = "C:\\";
  std::replace(result.begin(), result.end(), '/', '\\');
  return result;
}

Sandbox MakeSandbox(const std::string& name) {
  std::string root = PrefixDir() + "/drive_c/t/" + name;
  Sandbox box{root, root + "/tmp", root + "/app", root + "/app/MOVIE.EXE", root};
  fs::remove_all(box.root);
  fs::create_directories(box.tmp);
  fs::create_directories(box.app);
  return box;
}

std::string RunWine(const std::vector<std::string>& args, int* status, const std::string& locale) {
  std::string outputFile = fs::temp_directory_path() / ("e2e-" + std::to_string(getpid()) + ".out");
  int exited = FinishWine(StartWine(args, outputFile, LocaleEnv(locale)));
  if (status) *status = exited;
  std::string output = ReadFile(outputFile);
  fs::remove(outputFile);
  fs::remove(outputFile + ".err");
  return output;
}

void CopyFile(const std::string& from, const std::string& to) {
  fs::create_directories(fs::path(to).parent_path());
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

void WriteFile(const std::string& path, const std::string& content) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> ListDir(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(path)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

std::string ToLower(std::string text) {
  for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

std::map<std::string, std::string> ParseKeyValues(const std::string& text) {
  std::map<std::string, std::string> values;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return values;
}

int RunHost(const std::string& commandLine, std::string* output) {
  std::string text;
  FILE* pipe = popen(("(" + commandLine + ") 2>&1").c_str(), "r");
  char buffer[4096];
  for (size_t n; pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  int status = pipe ? pclose(pipe) : -1;
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunCinepack(const std::string& args, std::string* output) {
  return RunHost(std::string(CINE_BUILD_ROOT) + "/host/cinepack " + args, output);
}

std::string LibraryPath(Lib which) {
  const char* const files[] = {"runtime/test/cine.dll", "runtime/cdecl/cine.dll",
                               "runtime/noexport/cine.dll", "runtime/fakemsvcrt/msvcrt.dll"};
  return WinDir() + "/" + files[static_cast<int>(which)];
}

Content Bytes(std::string text) {
  return [=](const Sandbox&, const std::string& path) { WriteFile(path, text); };
}
Content Library(Lib which) {
  return [=](const Sandbox&, const std::string& path) { CopyFile(LibraryPath(which), path); };
}
Content Random(size_t bytes) {
  std::mt19937 random(bytes);  // a file of another size has other bytes
  std::string data;
  while (data.size() < bytes) data += static_cast<char>(random());
  return Bytes(data);
}
Content Text(size_t bytes) {
  std::string text;
  for (int line = 0; text.size() < bytes; ++line) {
    text += "line " + std::to_string(line) + ": the quick brown fox jumps over the lazy dog\r\n";
  }
  return Bytes(text.substr(0, bytes));
}
Content Abandoned() {
  return [](const Sandbox&, const std::string& path) {
    for (const char* file : {Lock, "cine.dll", "Xtras/one/deep.x32", "Xtras/two.x32"}) {
      WriteFile(path + "/" + file, file);
    }
    fs::create_directories(path + "/empty");
  };
}
Content Link(std::string target) {
  return [=](const Sandbox& box, const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
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

std::string WindowsPath(const Sandbox& box, In base, const std::string& rest) {
  const std::string folders[] = {"",     box.root, box.app, box.tmp, box.tmp + "/TempFolder.aaa/",
                                 box.cwd};
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
  RegAdd("HKEY_CLASSES_ROOT\\.htm", {"/ve", "/d", "CinemorphTest.htm"});
  RunWine({"reg", "delete", "HKEY_CLASSES_ROOT\\CinemorphTest.htm", "/f"});
  if (!htm.registered) return;
  std::string program = BrowserProgram(box);
  std::string command = htm.arguments.empty() ? program : program + " " + htm.arguments;
  RegAdd("HKEY_CLASSES_ROOT\\CinemorphTest.htm\\shell\\open\\command", {"/ve", "/d", command});
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
  fs::create_directories(path);
  return path;
}

void PackProjector(const Sandbox& box, const Projector& projector) {
  std::string stub = projector.crtTwin ? WinDir() + "/tests/launcher_crt_twin.exe" : Launcher();
  bool packed = !projector.extract.empty() || !projector.leading.empty() || projector.option ||
                projector.noSplash;
  if (!packed) return CopyFile(stub, box.exe);
  const std::string& root = box.root;
  WriteFile(root + "/movie.dat", "QMV1movie");
  std::string args = "build --stub " + stub + " --movie " + root + "/movie.dat -o " + box.exe;
  if (projector.option) args += " --option";
  if (projector.noSplash) args += " --no-splash";
  if (!projector.record) args += " --no-integrity-record";
  if (projector.codePage) args += " --code-page " + std::to_string(projector.codePage);
  if (projector.signer == Signer::Cinepack) {
    args += " --sign " + Maker().pem + " " + Maker().key;
  }
  for (const std::string& name : projector.leading) args += " --leading " + name;
  for (const Packed& entry : projector.extract) {
    entry.content(box, root + "/src/" + entry.name);
    args += " --extract " + root + "/src/" + entry.name + (entry.compressed ? ":compress" : "");
  }
  fs::create_directories(fs::path(box.exe).parent_path());
  std::string output;
  ASSERT_EQ(RunCinepack(args, &output), 0) << output;
  if (projector.harm) {
    std::string image = ReadFile(box.exe);
    projector.harm(image);
    WriteFile(box.exe, image);
  }
  if (projector.signer != Signer::Afterwards) return;
  std::string sign = "osslsigncode sign -certs " + Maker().pem + " -key " + Maker().key;
  std::string signedExe = box.exe + ".signed";
  ASSERT_EQ(RunHost(sign + " -in " + box.exe + " -out " + signedExe + " && mv " + signedExe + " " +
                        box.exe,
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
  std::string binds = SessionVariable("CINE_WINE32_BINDS");
  std::string shared = PrefixDir(), tmp;
  Sandbox box;

  OwnPrefix(const std::string& name, const Start& start) {
    std::string prefix = shared + "/drive_c/cine-own/prefix";
    setenv("WINEPREFIX", prefix.c_str(), 1);
    box = MakeSandbox(name);
    if (!Exists(prefix + "/system.reg")) RunWine({"wineboot", "-i"});
    RunWine({"--server", "-w"});  // wineboot's server saves the new prefix as it ends
    RunWine({"--server", "-k"});  // a server left by another row sees another namespace
    if (start.traced) {
      RegAdd("HKEY_CURRENT_USER\\Software\\Wine\\Debug",
             {"/v", "RelayInclude", "/d", start.traced});
    }
    const Disk& disk = start.disk;
    if (!disk.kib) return;
    static const bool ownNamespace =
        unshare(CLONE_NEWNS) == 0 &&
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    if (!ownNamespace) throw std::runtime_error("no mount namespace of its own (not root?)");
    std::string options = "size=" + std::to_string(disk.kib) + "k";
    if (disk.inodes) options += ",nr_inodes=" + std::to_string(disk.inodes);
    if (mount("tmpfs", box.tmp.c_str(), "tmpfs", 0, options.c_str()) != 0) {
      throw std::runtime_error("tmpfs not mounted: " + options);
    }
    tmp = box.tmp;
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
      std::string verify = "osslsigncode verify -CAfile " + Maker().pem + " -in ";
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

void Check(const Sandbox& box, const Projector& projector, const Outcome& expect, LaunchResult r) {
  EXPECT_EQ(r.probe["exit"], std::to_string(expect.exitCode)) << r.probeOutput;
  EXPECT_EQ(r.probe["box.text"], expect.box ? expect.box : "");
  if (expect.box) {
    EXPECT_EQ(r.probe["box.caption"], "Application Error");
    // OK and Cancel for the download offer, OK alone otherwise.
    EXPECT_EQ(r.probe["box.buttons"], expect.box == std::string(PlayerMissingText) ? "1,2" : "1");
  }
  for (const Received& got : expect.received) {
    std::string expected = WindowsPath(box, got.base, got.text);
    std::string seen = r.report[got.key];
    bool anyCase = got.base != In::Value || got.key.find("path") != std::string::npos;
    EXPECT_EQ(anyCase ? ToLower(seen) : seen, anyCase ? ToLower(expected) : expected) << got.key;
  }
  EXPECT_EQ(!r.report.empty(), !expect.received.empty()) << "the runtime was called, or not";
  for (const std::string& path : expect.exists) EXPECT_TRUE(Exists(box.root + "/" + path)) << path;
  for (const std::string& path : expect.gone) EXPECT_FALSE(Exists(box.root + "/" + path)) << path;
  if (expect.browser) CheckBrowser(box, *expect.browser);
  CheckWorkFiles(box, projector, r);
  if (expect.calls) {
    std::string calls = LauncherCalls(r);
    EXPECT_EQ(fnmatch(expect.calls, calls.c_str(), 0), 0) << calls;
    EXPECT_NE(fnmatch(expect.notCalls, calls.c_str(), 0), 0) << calls;
  }
  CheckTmp(box, expect);
}

}  // namespace

LaunchResult Launch(const Sandbox& box, const Start& start, const std::function<void()>& meanwhile,
                    bool runtimeWaits) {
  for (const char* stale : {"/report.txt", "/ready", "/go"}) fs::remove(box.root + stale);
  const char* const answers[] = {"ok", "cancel", "none"};
  std::vector<std::string> args = {Probe(),     "run",
                                   "--tmp",     ToWindowsPath(box.tmp),
                                   "--cwd",     ToWindowsPath(box.cwd),
                                   "--show",    std::to_string(start.show),
                                   "--answer",  answers[static_cast<int>(start.answer)],
                                   "--timeout", std::to_string(60000 * TimeFactor())};
  std::vector<std::string> env = {"CINE_REPORT=" + ToWindowsPath(box.root + "/report.txt"),
                                  "CINE_SNAPSHOT=" + ToWindowsPath(box.root + "/snapshot")};
  bool waits = meanwhile && runtimeWaits;
  if (waits) {
    env.insert(env.end(), {"CINE_READY=" + ToWindowsPath(box.root + "/ready"),
                           "CINE_WAIT_FOR=" + ToWindowsPath(box.root + "/go")});
  }
  env.insert(env.end(), start.env.begin(), start.env.end());  // a CINE_REPORT here wins
  for (const std::string& kv : env) args.insert(args.end(), {"--env", kv});
  if (start.afterExe) args.insert(args.end(), {"--args", *start.afterExe});
  if (!start.drop.empty()) args.insert(args.end(), {"--drop", start.drop});
  args.push_back(ToWindowsPath(box.exe));
  static int launches = 0;  // a launch may start another while it runs
  std::string output = box.root + "/probe" + std::to_string(++launches) + ".out";
  std::vector<std::string> unixEnv = LocaleEnv(start.locale);
  if (start.traced) unixEnv.push_back("WINEDEBUG=+relay,+pid");
  int pid = StartWine(args, output, unixEnv);
  if (meanwhile) {
    // Without a report in time the runtime was not called: the caller's checks see it.
    if (waits) WaitForFile(box.root + "/ready", 60000);
    meanwhile();
    WriteFile(box.root + "/go", "");
  }
  FinishWine(pid);
  LaunchResult result;
  result.probeOutput = ReadFile(output);
  result.probe = ParseKeyValues(result.probeOutput);
  result.report = ParseKeyValues(ReadFile(box.root + "/report.txt"));
  if (start.traced) result.trace = ReadFile(output + ".err");
  return result;
}

void RunScenario(const Scenario& s) {
  std::optional<OwnPrefix> own;
  if (s.start.disk.kib || s.start.traced) own.emplace(s.name, s.start);
  Sandbox box = own ? own->box : MakeSandbox(s.name);
  if (s.start.tmpMissing) box.tmp = box.root + "/no/such/folder";
  if (!s.start.tmpFolder.empty()) fs::create_directories(box.tmp += "/" + s.start.tmpFolder);
  box.exe = box.app + "/" + s.projector.exe;
  box.cwd = CurrentDirectory(box.root, s.start);
  for (const Placed& placed : s.given) {
    std::string path =
        placed.shared ? SharedFolder(box) + "/" + placed.path : box.root + "/" + placed.path;
    placed.content(box, path);
  }
  PackProjector(box, s.projector);
  if (!s.start.windows.empty()) {
    std::string exe = fs::path(box.exe).filename();
    RegAdd("HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\" + exe,
           {"/v", "Version", "/d", s.start.windows});
  }
  if (s.start.htm) RegisterHtm(box, *s.start.htm);

  int holder = -1;
  std::function<void()> hold;
  if (!s.start.heldThroughExit.empty()) {
    hold = [&] {
      std::vector<std::string> args = {Probe(), "open"};
      for (const std::string& path :
           {box.tmp + "/" + s.start.heldThroughExit, box.root + "/held", box.root + "/release"}) {
        args.push_back(ToWindowsPath(path));
      }
      holder = StartWine(args, box.root + "/holder.out");
      EXPECT_TRUE(WaitForFile(box.root + "/held", 60000)) << ReadFile(box.root + "/holder.out");
    };
  }
  Check(box, s.projector, s.expect, Launch(box, s.start, hold));
  EXPECT_FALSE(s.start.tmpMissing && Exists(box.tmp)) << "a folder was made where TMP pointed";
  if (holder != -1) {
    WriteFile(box.root + "/release", "");
    FinishWine(holder);
    std::string said = ReadFile(box.root + "/holder.out");
    EXPECT_NE(said.find("released"), std::string::npos) << said;
  }
  if (s.later) {
    Start later = s.start;
    later.env.clear();
    Check(box, s.projector, *s.later, Launch(box, later));
  }
  fs::remove_all(fs::path(SharedFolder(box)).parent_path());
}

TEST_P(Launches, EndAsExpected) { RunScenario(GetParam()); }

std::string ScenarioName(const testing::TestParamInfo<Scenario>& info) { return info.param.name; }

}  // namespace e2e
