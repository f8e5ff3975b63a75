// Runs the shipped PE32 build under 32-bit Wine for the end-to-end tests: sandboxes inside
// the Wine prefix, launches through the probe, and reads what the test runtime reported.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace e2e {

std::string SourceDir();
std::string PrefixDir();  // the Wine prefix: WINEPREFIX, else build/wine/prefix
std::string WinDir();     // build/win32: the shipped launcher and the test helpers
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
// starts it in the background, stdout to `outputFile` (stderr beside it, ".err"), and
// waits for it later. `unixEnv`
// (K=V) is added to Wine's own environment.
CommandResult RunWine(const std::vector<std::string>& args,
                      const std::vector<std::string>& unixEnv = {});
int StartWine(const std::vector<std::string>& args, const std::string& outputFile,
              const std::vector<std::string>& unixEnv = {});
std::string FinishWine(int pid, const std::string& outputFile);

struct LaunchSpec {
  std::string exe;          // Unix path of the projector
  std::string commandLine;  // the whole command line; empty: the quoted program alone
  std::string tmp;          // Unix path for TMP/TEMP; empty keeps Wine's
  // The Unix locale Wine runs in (LC_ALL), which sets its ANSI code page: ja_JP.UTF-8 932,
  // en_US.UTF-8 1252. A UTF-8 one also lets Wine read non-ASCII Unix file names and
  // arguments. Empty keeps the test process's.
  std::string locale;
  std::vector<std::string> env;  // K=V for the child (test runtime controls)
  std::string cwd;               // Unix path of the child's current directory
  int show = -1;                 // wShowWindow, or -1 for none
  std::string answer = "ok";     // message box button: ok, cancel or none
  std::string drop;              // a privilege its token lacks
  bool traced = false;           // Wine's relay trace of the calls its prefix names
};

struct LaunchResult {
  // The probe's output and its key=value lines: pid, exit (or timeout), and box.caption,
  // box.text and box.buttons ("1,2": IDOK, IDCANCEL) of a message box.
  std::string probeOutput;
  std::map<std::string, std::string> probe;
  std::map<std::string, std::string> report;  // the test runtime's key=value lines
  std::string trace;                          // Wine's, when traced
};

// Launches through the probe and waits for the end; the report is <sandbox root>/report.txt
// unless LaunchSpec::env names another CINE_REPORT. With `meanwhile`, it is called while
// the launch runs: once the runtime has reported, which then waits for it to return, or,
// when `runtimeWaits` is false, at once.
LaunchResult Launch(const Sandbox& sandbox, LaunchSpec spec,
                    const std::function<void()>& meanwhile = {}, bool runtimeWaits = true);
// app/MOVIE.EXE, TMP the sandbox's tmp, the current directory its root.
LaunchSpec SandboxSpec(const Sandbox& box);

void CopyFile(const std::string& from, const std::string& to);
void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);  // a dangling link too
void MakeDirs(const std::string& path);
std::vector<std::string> ListDir(const std::string& path);  // names, sorted
// How many times slower than usual this Wine runs (CINE_TIME_FACTOR, default 1): every
// timeout and wait of the harness, and the tests' pauses, are scaled by it.
int TimeFactor();
bool WaitForFile(const std::string& path, int timeoutMs);  // whether it appeared in time
std::string ToLower(std::string text);
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
    "This application cannot start as it cannot create needed files. There may not be enough "
    "free disk space.";
inline const char MsvcrtMissingText[] =
    "This application cannot run, as it could not find the shared library MSVCRT.DLL.";
inline const char PlayerMissingText[] =
    "This application requires Lumenreel Player 10, which is not installed. Click OK to "
    "download it.";
inline const char DamagedText[] =
    "This application cannot start as its file is damaged. Please download it or copy it again.";

std::string Launcher();     // build/win32/launcher.exe
std::string TestRuntime();  // cine.dll reporting what it got (stdcall)

}  // namespace e2e
