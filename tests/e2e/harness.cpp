// Runs the shipped PE32 build under 32-bit Wine for the end-to-end tests.
#include "tests/e2e/harness.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace e2e {

namespace {

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* value = getenv(name);
  return value && *value ? value : fallback;
}

// Sets up the Wine environment once per test process: prefix, quiet logging, and a
// prefix that exists (booted under a lock, in case several test processes start).
void PrepareWine() {
  static bool ready = false;
  if (ready) return;
  setenv("WINEPREFIX", PrefixDir().c_str(), 1);
  setenv("WINEDEBUG", "-all", 1);
  setenv("WINEDLLOVERRIDES", EnvOr("WINEDLLOVERRIDES", "mscoree,mshtml=").c_str(), 1);
  fs::create_directories(fs::path(PrefixDir()).parent_path());
  std::string lockPath = PrefixDir() + ".lock";
  int lock = open(lockPath.c_str(), O_CREAT | O_RDWR, 0644);
  flock(lock, LOCK_EX);
  if (!fs::exists(PrefixDir() + "/system.reg")) {
    std::string command = WineCommand() + " wineboot -i >/dev/null 2>&1";
    if (system(command.c_str()) != 0) throw std::runtime_error("wineboot failed");
  }
  flock(lock, LOCK_UN);
  close(lock);
  ready = true;
}

std::vector<char*> Argv(const std::vector<std::string>& args) {
  static const std::string wine = WineCommand();
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(wine.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

std::map<std::string, std::string> ParseLines(const std::string& text,
                                              std::vector<std::string>* repeated,
                                              const std::string& repeatedKey) {
  std::map<std::string, std::string> values;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq);
    std::string value = line.substr(eq + 1);
    if (repeated && key == repeatedKey) repeated->push_back(value);
    values[key] = value;
  }
  return values;
}

}  // namespace

std::string SourceDir() { return CINE_SOURCE_DIR; }
std::string WinDir() { return fs::weakly_canonical(std::string(CINE_BUILD_ROOT) + "/win32"); }
std::string HostDir() { return fs::weakly_canonical(std::string(CINE_BUILD_ROOT) + "/host"); }
std::string PrefixDir() {
  return EnvOr("WINEPREFIX", fs::weakly_canonical(std::string(CINE_BUILD_ROOT) + "/wine/prefix"));
}

std::string ToWindowsPath(const std::string& unixPath) {
  std::string driveC = PrefixDir() + "/drive_c";
  std::string path = fs::absolute(unixPath).lexically_normal().string();
  std::string result;
  if (path.compare(0, driveC.size(), driveC) == 0) {
    result = "C:" + path.substr(driveC.size());
    if (result == "C:") result = "C:\\";
  } else {
    result = "Z:" + path;
  }
  std::replace(result.begin(), result.end(), '/', '\\');
  return result;
}

Sandbox MakeSandbox(const std::string& name) {
  PrepareWine();
  Sandbox box;
  box.root = PrefixDir() + "/drive_c/t/" + name;
  fs::remove_all(box.root);
  box.tmp = box.root + "/tmp";
  box.app = box.root + "/app";
  fs::create_directories(box.tmp);
  fs::create_directories(box.app);
  return box;
}

CommandResult RunWine(const std::vector<std::string>& args) {
  PrepareWine();
  std::string outputFile = fs::temp_directory_path() / ("e2e-" + std::to_string(getpid()) + ".out");
  int pid = StartWine(args, outputFile);
  CommandResult result;
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.output = ReadFile(outputFile);
  fs::remove(outputFile);
  return result;
}

int StartWine(const std::vector<std::string>& args, const std::string& outputFile) {
  PrepareWine();
  std::vector<char*> argv = Argv(args);
  pid_t pid = fork();
  if (pid == 0) {
    int out = open(outputFile.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    dup2(out, 1);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

std::string FinishWine(int pid, const std::string& outputFile) {
  int status = 0;
  waitpid(pid, &status, 0);
  return ReadFile(outputFile);
}

std::vector<std::string> ProbeRunArgs(const Sandbox& sandbox, const LaunchSpec& spec) {
  std::vector<std::string> args = {ToWindowsPath(WinDir() + "/tests/probe.exe"), "run"};
  if (spec.raw) {
    args.push_back("--raw");
    args.push_back(spec.args);
  } else if (!spec.args.empty()) {
    args.push_back("--args");
    args.push_back(spec.args);
  }
  if (!spec.tmp.empty()) {
    args.push_back("--tmp");
    args.push_back(ToWindowsPath(spec.tmp));
  }
  bool namesReport = false;
  for (const std::string& kv : spec.env) {
    if (kv.rfind("CINE_REPORT=", 0) == 0) namesReport = true;
    args.push_back("--env");
    args.push_back(kv);
  }
  if (!namesReport) {
    args.push_back("--env");
    args.push_back("CINE_REPORT=" + ToWindowsPath(sandbox.root + "/report.txt"));
  }
  if (!spec.cwd.empty()) {
    args.push_back("--cwd");
    args.push_back(ToWindowsPath(spec.cwd));
  }
  if (spec.show >= 0) {
    args.push_back("--show");
    args.push_back(std::to_string(spec.show));
  }
  args.push_back("--answer");
  args.push_back(spec.answer);
  args.push_back("--timeout");
  args.push_back(std::to_string(spec.timeoutMs * TimeFactor()));
  args.push_back(ToWindowsPath(spec.exe));
  return args;
}

LaunchResult ReadLaunch(const Sandbox& sandbox, const std::string& probeOutput) {
  LaunchResult result;
  result.probeOutput = probeOutput;
  std::map<std::string, std::string> lines = ParseLines(probeOutput, nullptr, "");
  if (lines.count("exit")) result.exitCode = std::stoi(lines["exit"]);
  result.timedOut = lines.count("timeout") > 0;
  for (const auto& kv : lines) {
    if (kv.first.rfind("box.", 0) == 0) result.box[kv.first.substr(4)] = kv.second;
  }
  std::string reportPath = sandbox.root + "/report.txt";
  if (Exists(reportPath)) {
    result.report = ParseLines(ReadFile(reportPath), &result.workFiles, "workfile");
  }
  return result;
}

LaunchResult Launch(const Sandbox& sandbox, const LaunchSpec& spec) {
  fs::remove(sandbox.root + "/report.txt");
  CommandResult run = RunWine(ProbeRunArgs(sandbox, spec));
  return ReadLaunch(sandbox, run.output);
}

void CopyFile(const std::string& from, const std::string& to) {
  fs::create_directories(fs::path(to).parent_path());
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

void WriteFile(const std::string& path, const std::string& content) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream out(path, std::ios::binary);
  out << content;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool Exists(const std::string& path) { return fs::exists(fs::symlink_status(path)); }
void MakeDirs(const std::string& path) { fs::create_directories(path); }
void RemoveTree(const std::string& path) { fs::remove_all(path); }

std::vector<std::string> ListDir(const std::string& path) {
  std::vector<std::string> names;
  if (!fs::exists(path)) return names;
  for (const auto& entry : fs::directory_iterator(path)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

int TimeFactor() {
  static const int factor = std::max(1, atoi(EnvOr("CINE_TIME_FACTOR", "1").c_str()));
  return factor;
}

bool WaitForFile(const std::string& path, int timeoutMs) {
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs) * TimeFactor();
  while (!Exists(path)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

std::string ToLower(std::string text) {
  for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

uint32_t ReadLE32(const std::string& data, size_t at) {
  uint32_t value = 0;
  if (at + 4 <= data.size()) memcpy(&value, data.data() + at, 4);
  return value;
}

uint16_t ReadLE16(const std::string& data, size_t at) {
  uint16_t value = 0;
  if (at + 2 <= data.size()) memcpy(&value, data.data() + at, 2);
  return value;
}

namespace {

// The PE header's offset, or 0 when `image` is no PE file.
size_t PeHeaderOffset(const std::string& image) {
  uint32_t pe = ReadLE32(image, 0x3C);
  return pe != 0 && image.compare(pe, 4, std::string("PE\0\0", 4)) == 0 ? pe : 0;
}

}  // namespace

size_t PeRvaToOffset(const std::string& image, uint32_t rva) {
  size_t pe = PeHeaderOffset(image);
  if (pe == 0) return 0;
  uint16_t sections = ReadLE16(image, pe + 6);
  size_t table = pe + 24 + ReadLE16(image, pe + 20);
  for (uint16_t i = 0; i < sections; ++i) {
    size_t s = table + 40 * i;
    uint32_t va = ReadLE32(image, s + 12), size = ReadLE32(image, s + 8), raw = ReadLE32(image, s + 20);
    if (rva >= va && rva < va + size) return raw + (rva - va);
  }
  return 0;
}

size_t PeDirectoryOffset(const std::string& image, int index, uint16_t* machine) {
  size_t pe = PeHeaderOffset(image);
  if (pe == 0) return 0;
  if (machine) *machine = ReadLE16(image, pe + 4);
  size_t optional = pe + 24;
  bool plus = ReadLE16(image, optional) == 0x20B;
  return PeRvaToOffset(image, ReadLE32(image, optional + (plus ? 112 : 96) + 8 * index));
}

std::map<std::string, std::string> ParseKeyValues(const std::string& text) {
  return ParseLines(text, nullptr, "");
}

LaunchSpec SandboxSpec(const Sandbox& box) {
  LaunchSpec spec;
  spec.exe = box.app + "/MOVIE.EXE";
  spec.tmp = box.tmp;
  spec.cwd = box.root;
  return spec;
}

int RunCinepack(const std::string& args, std::string* output) {
  std::string command = HostDir() + "/cinepack " + args + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  int status = pclose(pipe);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const char CannotRunText[] = "This application cannot run.";
const char CannotCreateText[] =
    "This application cannot start as it cannot create needed files. There may not be "
    "enough free disk space.";
const char MsvcrtMissingText[] =
    "This application cannot run, as it could not find the shared library MSVCRT.DLL.";
const char PlayerMissingText[] =
    "This application requires Lumenreel Player 10, which is not installed. Click OK to "
    "download it.";

std::string FakeMsvcrt() { return WinDir() + "/runtime/fakemsvcrt/msvcrt.dll"; }
std::string TestRuntime() { return WinDir() + "/runtime/test/cine.dll"; }
std::string NoExportRuntime() { return WinDir() + "/runtime/noexport/cine.dll"; }
std::string CdeclRuntime() { return WinDir() + "/runtime/cdecl/cine.dll"; }
std::string Launcher() { return WinDir() + "/launcher.exe"; }
std::string WineCommand() { return EnvOr("CINE_WINE", SourceDir() + "/scripts/wine32"); }

}  // namespace e2e
