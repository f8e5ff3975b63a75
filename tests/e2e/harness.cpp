// Runs the shipped PE32 build under 32-bit Wine for the end-to-end tests.
#include "tests/e2e/harness.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
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

// scripts/wine32, or what CINE_WINE names.
std::string WineCommand() { return EnvOr("CINE_WINE", SourceDir() + "/scripts/wine32"); }

// The Wine environment, set once per test process; a new prefix is booted first.
void PrepareWine() {
  static const bool ready = [] {
    setenv("WINEPREFIX", PrefixDir().c_str(), 1);
    setenv("WINEDEBUG", "-all", 1);
    setenv("WINEDLLOVERRIDES", EnvOr("WINEDLLOVERRIDES", "mscoree,mshtml=").c_str(), 1);
    fs::create_directories(PrefixDir());
    std::string boot = WineCommand() + " wineboot -i >/dev/null 2>&1";
    return fs::exists(PrefixDir() + "/system.reg") || system(boot.c_str()) == 0;
  }();
  if (!ready) throw std::runtime_error("the Wine prefix could not be booted");
}

}  // namespace

std::string PrefixDir() {
  return EnvOr("WINEPREFIX", fs::weakly_canonical(std::string(CINE_BUILD_ROOT) + "/wine/prefix"));
}

std::string SourceDir() { return CINE_SOURCE_DIR; }
std::string WinDir() { return fs::weakly_canonical(std::string(CINE_BUILD_ROOT) + "/win32"); }

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
  PrepareWine();
  std::string root = PrefixDir() + "/drive_c/t/" + name;
  Sandbox box{root, root + "/tmp", root + "/app"};
  fs::remove_all(box.root);
  fs::create_directories(box.tmp);
  fs::create_directories(box.app);
  return box;
}

CommandResult RunWine(const std::vector<std::string>& args,
                      const std::vector<std::string>& unixEnv) {
  std::string outputFile = fs::temp_directory_path() / ("e2e-" + std::to_string(getpid()) + ".out");
  int status = 0;
  waitpid(StartWine(args, outputFile, unixEnv), &status, 0);
  CommandResult result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(outputFile)};
  fs::remove(outputFile);
  fs::remove(outputFile + ".err");
  return result;
}

int StartWine(const std::vector<std::string>& args, const std::string& outputFile,
              const std::vector<std::string>& unixEnv) {
  PrepareWine();
  std::string wine = WineCommand();
  std::vector<char*> argv = {wine.data()};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {  // the child: stdout to the file, stderr (Wine's chatter) beside it
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

std::string FinishWine(int pid, const std::string& outputFile) {
  int status = 0;
  waitpid(pid, &status, 0);
  return ReadFile(outputFile);
}

namespace {

std::vector<std::string> ProbeRunArgs(const Sandbox& sandbox, const LaunchSpec& spec) {
  std::vector<std::string> args = {ToWindowsPath(WinDir() + "/tests/probe.exe"), "run", "--env",
                                   "CINE_REPORT=" + ToWindowsPath(sandbox.root + "/report.txt")};
  auto add = [&](const char* option, const std::string& value) {
    args.push_back(option);
    args.push_back(value);
  };
  if (!spec.commandLine.empty()) add("--raw", spec.commandLine);
  if (!spec.tmp.empty()) add("--tmp", ToWindowsPath(spec.tmp));
  for (const std::string& kv : spec.env) add("--env", kv);  // a CINE_REPORT here wins
  if (!spec.cwd.empty()) add("--cwd", ToWindowsPath(spec.cwd));
  if (spec.show >= 0) add("--show", std::to_string(spec.show));
  if (!spec.drop.empty()) add("--drop", spec.drop);
  add("--answer", spec.answer);
  add("--timeout", std::to_string(60000 * TimeFactor()));
  args.push_back(ToWindowsPath(spec.exe));
  return args;
}

// The Unix environment that runs Wine in `locale` (LaunchSpec::locale): LC_ALL, and
// LOCPATH naming the locales compiled under build/wine/locales on first use.
std::vector<std::string> LocaleEnv(const std::string& locale) {
  if (locale.empty()) return {};
  // Compiled from the host's locale sources (Debian's "locales"), which the i386 root
  // lacks; the compiled files suit its C library, the same release's.
  std::string folder = fs::weakly_canonical(std::string(CINE_BUILD_ROOT) + "/wine/locales");
  if (!fs::exists(folder + "/" + locale + "/LC_CTYPE")) {
    std::string name = locale.substr(0, locale.find('.'));
    std::string charset = locale.substr(locale.find('.') + 1);
    std::string command = "localedef -i " + name + " -f " + charset + " --no-archive '" + folder +
                          "/" + locale + "' >/dev/null 2>&1";
    fs::create_directories(folder);
    // localedef exits 1 for warnings alone; the compiled category is what counts.
    (void)system(command.c_str());
    if (!fs::exists(folder + "/" + locale + "/LC_CTYPE")) {
      throw std::runtime_error("the locale " + locale + " could not be compiled");
    }
  }
  return {"LC_ALL=" + locale, "LOCPATH=" + folder};
}

}  // namespace

LaunchResult Launch(const Sandbox& sandbox, LaunchSpec spec, const std::function<void()>& meanwhile,
                    bool runtimeWaits) {
  for (const char* stale : {"/report.txt", "/ready", "/go"}) fs::remove(sandbox.root + stale);
  bool waits = meanwhile && runtimeWaits;
  if (waits) {
    spec.env.push_back("CINE_READY=" + ToWindowsPath(sandbox.root + "/ready"));
    spec.env.push_back("CINE_WAIT_FOR=" + ToWindowsPath(sandbox.root + "/go"));
  }
  static int launches = 0;  // a launch may start another while it runs
  std::string output = sandbox.root + "/probe" + std::to_string(++launches) + ".out";
  std::vector<std::string> unixEnv = LocaleEnv(spec.locale);
  if (spec.traced) unixEnv.push_back("WINEDEBUG=+relay,+pid");
  int pid = StartWine(ProbeRunArgs(sandbox, spec), output, unixEnv);
  if (meanwhile) {
    // Without a report in time the runtime was not called: the caller's checks see it.
    if (waits) WaitForFile(sandbox.root + "/ready", 60000);
    meanwhile();
    WriteFile(sandbox.root + "/go", "");
  }
  LaunchResult result;
  result.probeOutput = FinishWine(pid, output);
  result.probe = ParseKeyValues(result.probeOutput);
  result.report = ParseKeyValues(ReadFile(sandbox.root + "/report.txt"));
  if (spec.traced) result.trace = ReadFile(output + ".err");
  return result;
}

LaunchSpec SandboxSpec(const Sandbox& box) {
  LaunchSpec spec;
  spec.exe = box.app + "/MOVIE.EXE";
  spec.tmp = box.tmp;
  spec.cwd = box.root;
  return spec;
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

bool Exists(const std::string& path) { return fs::exists(fs::symlink_status(path)); }
void MakeDirs(const std::string& path) { fs::create_directories(path); }

std::vector<std::string> ListDir(const std::string& path) {
  std::vector<std::string> names;
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
  while (!Exists(path) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return Exists(path);
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

const Certificate& MakerCertificate() {
  static const Certificate made = [] {
    std::string folder = fs::weakly_canonical(std::string(CINE_BUILD_ROOT) + "/wine/maker");
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

std::string Launcher() { return WinDir() + "/launcher.exe"; }
std::string TestRuntime() { return WinDir() + "/runtime/test/cine.dll"; }
}  // namespace e2e
