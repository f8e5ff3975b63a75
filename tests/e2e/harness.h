// Runs the shipped PE32 build under 32-bit Wine for the end-to-end tests: sandboxes inside
// the Wine prefix, launches through the probe, and reads what the test runtime reported.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace e2e {

std::string SourceDir();
std::string PrefixDir();  // the Wine prefix: WINEPREFIX, else build/wine/prefix
std::string WinDir();   // build/win32: the shipped launcher and the test helpers
std::string HostDir();  // build/host
std::string ToWindowsPath(const std::string& unixPath);  // C:\... inside drive_c, else Z:\...

// A fresh folder for one test, drive_c/t/<name>, with tmp/ (the child's TMP) and app/.
struct Sandbox {
  std::string root, tmp, app;  // Unix paths
};
Sandbox MakeSandbox(const std::string& name);

struct CommandResult {
  int status = -1;  // Wine's own exit status
  std::string output;
};
// Runs Wine with `args` (a Windows program and its arguments), capturing stdout; or
// starts it in the background, stdout to `outputFile`, and waits for it later. `unixEnv`
// (K=V) is added to Wine's own environment.
CommandResult RunWine(const std::vector<std::string>& args,
                      const std::vector<std::string>& unixEnv = {});
int StartWine(const std::vector<std::string>& args, const std::string& outputFile,
              const std::vector<std::string>& unixEnv = {});
std::string FinishWine(int pid, const std::string& outputFile);

struct LaunchSpec {
  std::string exe;               // Unix path of the projector
  std::string args;              // command line after the quoted program name
  bool raw = false;              // `args` is the whole command line
  std::string tmp;               // Unix path for TMP/TEMP; empty keeps Wine's
  // The Unix locale Wine runs in (LC_ALL), which sets its ANSI code page: ja_JP.UTF-8 932,
  // en_US.UTF-8 1252. A UTF-8 one also lets Wine read non-ASCII Unix file names and
  // arguments. Empty keeps the test process's.
  std::string locale;
  std::vector<std::string> env;  // K=V for the child (test runtime controls)
  std::string cwd;               // Unix path of the child's current directory
  int show = -1;                 // wShowWindow, or -1 for none
  std::string answer = "ok";     // message box button: ok, cancel or none
  int timeoutMs = 60000;
};

struct LaunchResult {
  int exitCode = -1;
  bool timedOut = false;
  std::map<std::string, std::string> box;     // caption, text, buttons ("1,2": IDOK, IDCANCEL)
  std::map<std::string, std::string> report;  // the test runtime's key=value lines
  std::vector<std::string> workFiles;         // its "workfile" lines
  std::string probeOutput;
};

// Launches through the probe and waits; the report is <sandbox root>/report.txt unless
// LaunchSpec::env names another CINE_REPORT. In the background: StartWine with
// ProbeRunArgs, then ReadLaunch with what FinishWine returns.
LaunchResult Launch(const Sandbox& sandbox, const LaunchSpec& spec);
std::vector<std::string> ProbeRunArgs(const Sandbox& sandbox, const LaunchSpec& spec);
LaunchResult ReadLaunch(const Sandbox& sandbox, const std::string& probeOutput);
// app/MOVIE.EXE, TMP the sandbox's tmp, the current directory its root.
LaunchSpec SandboxSpec(const Sandbox& box);
// The Unix environment that runs Wine in `locale` (LaunchSpec::locale): LC_ALL, and
// LOCPATH naming the locales compiled under build/wine/locales on first use.
std::vector<std::string> LocaleEnv(const std::string& locale);

void CopyFile(const std::string& from, const std::string& to);
void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);  // a dangling link too
void MakeDirs(const std::string& path);
void RemoveTree(const std::string& path);
std::vector<std::string> ListDir(const std::string& path);  // names, sorted
// How many times slower than usual this Wine runs (CINE_TIME_FACTOR, default 1): every
// timeout and wait of the harness, and the tests' pauses, are scaled by it.
int TimeFactor();
bool WaitForFile(const std::string& path, int timeoutMs);  // whether it appeared in time
std::string ToLower(std::string text);

// Little-endian numbers in a byte string (0 past its end); a PE file's offset of a data
// directory (1 imports, 2 resources) or an RVA, 0 for none, `machine` its machine field.
uint32_t ReadLE32(const std::string& data, size_t at);
uint16_t ReadLE16(const std::string& data, size_t at);
size_t PeDirectoryOffset(const std::string& image, int index, uint16_t* machine = nullptr);
size_t PeRvaToOffset(const std::string& image, uint32_t rva);
std::map<std::string, std::string> ParseKeyValues(const std::string& text);  // last value wins
// A host command line through the shell, its exit status; its output, errors too.
int RunHost(const std::string& commandLine, std::string* output = nullptr);
int RunCinepack(const std::string& args, std::string* output = nullptr);  // build/host/cinepack
// The maker's certificate and unencrypted key (PEM), self-signed, made once per run.
struct Certificate {
  std::string pem, key;
};
const Certificate& MakerCertificate();

inline const char CannotRunText[] = "This application cannot run.";
inline const char CannotCreateText[] =
    "This application cannot start as it cannot create needed files. There may not be enough free disk space.";
inline const char MsvcrtMissingText[] =
    "This application cannot run, as it could not find the shared library MSVCRT.DLL.";
inline const char PlayerMissingText[] =
    "This application requires Lumenreel Player 10, which is not installed. Click OK to download it.";
inline const char DamagedText[] =
    "This application cannot start as its file is damaged. Please download it or copy it again.";

std::string Launcher();         // build/win32/launcher.exe
std::string TestRuntime();      // cine.dll reporting what it got (stdcall)
std::string CdeclRuntime();     // the same in the C calling convention
std::string NoExportRuntime();  // the same without CinemorphMain
std::string FakeMsvcrt();       // a library that imports nothing, for the msvcrt search
std::string WineCommand();      // scripts/wine32, or what CINE_WINE names

}  // namespace e2e
