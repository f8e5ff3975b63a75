// Runs the shipped PE32 build under 32-bit Wine for the end-to-end tests. A launch is a
// scenario of typed records: the projector, what lies around it, how it is started, and the
// outcome expected. RunScenario sets it up in a sandbox inside the Wine prefix, launches it
// through the probe and checks it; each table of scenarios instantiates Launches over its rows.
#pragma once
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace e2e {

std::string SourceDir();
std::string WinDir();  // build/win32: the shipped launcher and the test helpers
std::string Launcher();
std::string ToWindowsPath(const std::string& unixPath);  // C:\... inside drive_c, else Z:\...

// A fresh folder for one test, drive_c/t/<name>, with tmp/ (the child's TMP) and app/; the
// projector app/MOVIE.EXE, started in the root. Unix paths.
struct Sandbox {
  std::string root, tmp, app, exe, cwd;
};
Sandbox MakeSandbox(const std::string& name);

// Runs Wine with `args` (a Windows program and its arguments), under `locale` (LC_ALL) if
// given: its stdout, and its exit status if asked.
std::string RunWine(const std::vector<std::string>& args, int* status = nullptr,
                    const std::string& locale = "");

void CopyFile(const std::string& from, const std::string& to);
void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);
std::vector<std::string> ListDir(const std::string& path);  // names, sorted
std::string ToLower(std::string text);
std::map<std::string, std::string> ParseKeyValues(const std::string& text);  // last value wins
// A host command line through the shell, its exit status; its output, errors too.
int RunHost(const std::string& commandLine, std::string* output = nullptr);
int RunCinepack(const std::string& args, std::string* output = nullptr);  // build/host/cinepack

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

inline const char Lock[] = "Quorvantix.lok";  // a work folder's lock file
inline const bool WithoutRecord = false;      // Projector::record

// The libraries the tests build, copied where a row puts them.
enum class Lib { Test, Cdecl, NoExport, Crt };
std::string LibraryPath(Lib which);

// What a placed file (or folder) is: it makes itself at a path in the sandbox.
using Content = std::function<void(const Sandbox& box, const std::string& path)>;
Content Bytes(std::string text);
Content Library(Lib which);
Content Random(size_t bytes);      // incompressible
Content Text(size_t bytes);        // lines of text, which compress well
Content Abandoned();               // a dead run's folder: lock file, files, subfolders
Content Link(std::string target);  // a symbolic link to a folder under the sandbox
// That many TempFolder.aaa, .aab, ... inside, skipping names already there: another
// program's, without a lock file; or killed runs', holding a lock file alone.
Content TakenNames(size_t count);
Content KilledRuns(size_t count);
Content DiskFiller();  // a file written until the disk is full
// A 24-bit bitmap file: its headers, then `pixelBytes` bytes of pixels (by default as
// many as it needs).
Content Bitmap(uint32_t width, uint32_t height, size_t pixelBytes = SIZE_MAX);

// A file under the sandbox (app/, tmp/, ...) or in the shared player folder.
struct Placed {
  std::string path;  // '/'-separated, relative
  Content content;
  bool shared = false;
};
inline Placed Put(std::string path, Content content) { return {path, content}; }
inline Placed PutShared(std::string name, Content content) { return {name, content, true}; }
inline Placed Runtime(std::string path) { return Put(path, Library(Lib::Test)); }

// An extracted entry: src/<name>, made from `content`, packed by cinepack.
struct Packed {
  std::string name;
  Content content;
  bool compressed = false;
};
inline Packed Stored(std::string name, Content content) { return {name, content}; }
inline Packed Compressed(std::string name, Content content) { return {name, content, true}; }

// What befalls a projector's file after it was packed: a broken download, a bad copy.
using Harm = std::function<void(std::string& image)>;
// Who signed it: nobody, a distributor afterwards with osslsigncode (after any harm), or
// cinepack build --sign (the maker's certificate).
enum class Signer { Nobody, Afterwards, Cinepack };

// app/<exe>: the bare launcher unless it lists entries, leading files or options.
struct Projector {
  std::string exe = "MOVIE.EXE";  // '/'-separated, below app/
  bool crtTwin = false;           // the test twin, which loads "cinecrt.dll" for msvcrt.dll
  std::vector<Packed> extract;
  std::vector<std::string> leading;  // NAME.EXT
  bool option = false;
  bool noSplash = false;
  bool record = true;  // the integrity record, which cinepack writes unless told not to
  Harm harm;
  Signer signer = Signer::Nobody;
  uint32_t codePage = 0;  // cinepack's --code-page
};

// The ".htm" type's open command: the program (the probe, in <root>/Browser) and its
// arguments; or no command at all.
struct HtmCommand {
  bool registered = true;
  std::string arguments;
};
inline HtmCommand Registered(std::string arguments) { return {true, arguments}; }
inline HtmCommand Unregistered() { return {false}; }

// TMP on a tmpfs of this size, of its own; 0 KiB: on the ordinary disk.
struct Disk {
  size_t kib = 0;
  size_t inodes = 0;  // 0: as many as the size gives
};

enum class Answer { Ok, Cancel, None };
struct Start {
  std::vector<std::string> env;         // NAME=VALUE, for the test runtime
  std::string locale;                   // LC_ALL for Wine: the system's language
  std::string windows;                  // the version Wine reports to this program ("win98")
  std::optional<std::string> afterExe;  // the command line: the quoted program, a space, this
  int show = -1;                        // wShowWindow, or none
  Answer answer = Answer::Ok;           // the message box's button the probe presses
  // The current directory: the sandbox, or folders named with this text repeated, the
  // whole path this many characters long as Windows spells it (0: one such folder).
  std::string currentDirectory;
  size_t currentDirectoryLength = 0;
  bool tmpMissing = false;  // TMP names no folder
  std::string tmpFolder;    // TMP is a folder of this name in tmp/
  Disk disk;
  // A file in TMP that another program holds open with delete sharing, as a virus scanner
  // does, from while the runtime runs until after the run.
  std::string heldThroughExit;
  std::optional<HtmCommand> htm;
  std::string drop;  // a privilege the launcher's token lacks
  // In a prefix of its own, Wine's relay trace of these calls ("dll.Name;..."), which the
  // outcome's patterns read.
  const char* traced = nullptr;
};

// A Windows path below one of the scenario's folders, or a plain value. The current
// directory is spelled as code page 1252 spells it, "?" for what it lacks.
enum class In { Value, Root, App, Tmp, WorkFolder, Cwd };
struct Received {
  std::string key;
  In base = In::Value;
  std::string text;  // the value, or what follows the folder's path
};
inline Received Got(std::string key, std::string value) { return {key, In::Value, value}; }
// A path: compared without regard to case, as Windows does.
inline Received GotPath(std::string key, In base, std::string rest = "") {
  return {key, base, rest};
}
inline Received Called() { return Got("called", "1"); }  // the runtime was called

// What the registered browser was started with: the download address for this Windows
// language (the system's), or nothing.
struct BrowserStart {
  bool started = false;
  uint32_t languageId = 0;
};
inline BrowserStart StartedWith(uint32_t languageId) { return {true, languageId}; }
inline BrowserStart NotStarted() { return {false}; }

// Every outcome also asks that TMP holds nothing but what `exists` names there (and the
// lockless folders of TakenNames), and that a runtime handed a work folder finds there
// every extracted entry, whole, beside the hidden, empty lock file alone.
struct Outcome {
  int exitCode = 0;
  const char* box = nullptr;        // the message's text; none: no box
  std::vector<Received> received;   // none: the runtime was not called
  std::vector<std::string> exists;  // sandbox paths there afterwards
  std::vector<std::string> gone;    // and not
  std::optional<BrowserStart> browser;
  // Patterns over the launcher's traced calls in order, one a line: "Name(arguments)" and
  // "Name=result". One they match, and one they must not.
  const char* calls = nullptr;
  const char* notCalls = nullptr;
};

struct Scenario {
  const char* name;
  Projector projector;
  std::vector<Placed> given;
  Start start;
  Outcome expect;
  std::optional<Outcome> later;  // a later run of the same projector, without env or holder
};
inline void PrintTo(const Scenario& s, std::ostream* out) { *out << s.name; }

// The probe's key=value lines: pid, exit (or timeout), and box.caption, box.text and
// box.buttons ("1,2": IDOK, IDCANCEL) of a message box; the test runtime's report (to
// <root>/report.txt unless the start's env names another CINE_REPORT); Wine's relay trace.
struct LaunchResult {
  std::string probeOutput;
  std::map<std::string, std::string> probe, report;
  std::string trace;
};
// Launches the sandbox's projector through the probe and waits for the end. With
// `meanwhile`, it is called while the launch runs: once the runtime has reported, which then
// waits for it to return, or, when `runtimeWaits` is false, at once.
LaunchResult Launch(const Sandbox& box, const Start& start,
                    const std::function<void()>& meanwhile = {}, bool runtimeWaits = true);

void RunScenario(const Scenario& s);

class Launches : public testing::TestWithParam<Scenario> {};
std::string ScenarioName(const testing::TestParamInfo<Scenario>& info);

}  // namespace e2e
