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
std::string WinDir();   // build/win32: the shipped launcher and the test helpers
std::string HostDir();  // build/host
// "C:\..." for paths inside the prefix's drive_c, "Z:\..." for any other path.
std::string ToWindowsPath(const std::string& unixPath);

// A fresh folder for one test inside drive_c, C:\t\<name>, with tmp\ (the child's TMP)
// and app\ (the projector's folder) below it. Unix paths.
struct Sandbox {
  std::string root, tmp, app;
};
Sandbox MakeSandbox(const std::string& name);

struct CommandResult {
  int status = -1;  // exit status of Wine itself
  std::string output;
};
// Runs Wine with `args` (a Windows program and its arguments), capturing stdout.
CommandResult RunWine(const std::vector<std::string>& args);
// Starts Wine with `args` in the background, output to `outputFile`; returns the pid.
int StartWine(const std::vector<std::string>& args, const std::string& outputFile);
// Waits for a background run; returns its output.
std::string FinishWine(int pid, const std::string& outputFile);

struct LaunchSpec {
  std::string exe;               // Unix path of the projector
  std::string args;              // command line after the quoted program name
  bool raw = false;              // `args` is the whole command line
  std::string tmp;               // Unix path for TMP/TEMP; empty keeps Wine's
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
  std::map<std::string, std::string> report;  // test runtime's key=value lines
  std::vector<std::string> workFiles;         // its "workfile" lines
  std::string probeOutput;
};

// Launches and waits. The report is read from <sandbox root>/report.txt unless the
// spec's env names CINE_REPORT itself.
LaunchResult Launch(const Sandbox& sandbox, const LaunchSpec& spec);
// The probe's command line for a spec, for starting it in the background.
std::vector<std::string> ProbeRunArgs(const Sandbox& sandbox, const LaunchSpec& spec);
// Parses probe output and the sandbox's report after a background launch.
LaunchResult ReadLaunch(const Sandbox& sandbox, const std::string& probeOutput);
// The usual launch of a sandbox's projector: app/MOVIE.EXE, TMP the sandbox's tmp, its
// root the current directory.
LaunchSpec SandboxSpec(const Sandbox& box);

void CopyFile(const std::string& from, const std::string& to);
void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);  // also a dangling link
void MakeDirs(const std::string& path);
void RemoveTree(const std::string& path);
std::vector<std::string> ListDir(const std::string& path);  // names, sorted
// How many times slower than usual this way of running Wine is (CINE_TIME_FACTOR, 1 by
// default): every timeout and wait of the harness, and the tests' pauses, are scaled by it.
int TimeFactor();
// Waits until `path` exists, up to `timeoutMs` (times TimeFactor); returns whether it does.
bool WaitForFile(const std::string& path, int timeoutMs);
std::string ToLower(std::string text);

// Little-endian numbers inside a byte string; 0 past its end.
uint32_t ReadLE32(const std::string& data, size_t at);
uint16_t ReadLE16(const std::string& data, size_t at);
// A PE file (PE32 or PE32+): the file offset of a data directory (1 imports, 2
// resources) and of any RVA; 0 when there is none. `machine` gets the machine field.
size_t PeDirectoryOffset(const std::string& image, int index, uint16_t* machine = nullptr);
size_t PeRvaToOffset(const std::string& image, uint32_t rva);
// key=value lines, the last value of a key kept.
std::map<std::string, std::string> ParseKeyValues(const std::string& text);
// Runs build/host/cinepack with `args`; its exit status, its output in `output`.
int RunCinepack(const std::string& args, std::string* output = nullptr);

// The failure messages' texts.
inline const char CannotRunText[] = "This application cannot run.";
inline const char CannotCreateText[] =
    "This application cannot start as it cannot create needed files. There may not be enough "
    "free disk space.";
inline const char MsvcrtMissingText[] =
    "This application cannot run, as it could not find the shared library MSVCRT.DLL.";
inline const char PlayerMissingText[] =
    "This application requires Lumenreel Player 10, which is not installed. Click OK to "
    "download it.";

std::string Launcher();         // build/win32/launcher.exe
std::string TestRuntime();      // cine.dll reporting what it got (stdcall)
std::string CdeclRuntime();     // the same in the C calling convention
std::string NoExportRuntime();  // the same without CinemorphMain
std::string FakeMsvcrt();       // a library that imports nothing, for the msvcrt search
std::string WineCommand();      // scripts/wine32, or what CINE_WINE names

}  // namespace e2e
