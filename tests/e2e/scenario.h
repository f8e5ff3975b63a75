// A launch scenario as typed records: the projector, what lies around it, how it is started,
// and the outcome expected. RunScenario sets it up in a sandbox, launches and checks.
#pragma once
#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/harness.h"

namespace e2e {

// The libraries the tests build, copied where a row puts them.
enum class Lib { Test, Cdecl, NoExport, Crt };

// What a placed file (or folder) is.
struct Content {
  enum Kind { Bytes, Library, Random, Text, Abandoned, Link, TakenNames };
  Kind kind = Bytes;
  std::string text;  // Bytes: the content; Link: the target under the sandbox
  size_t count = 0;  // Random, Text: bytes; TakenNames: folders
  Lib library = Lib::Test;
};
Content Bytes(std::string text);
Content Library(Lib which);
Content Random(size_t bytes);        // incompressible, a seed of its own per file
Content Text(size_t bytes);          // lines of text, which compress well
Content Abandoned();                 // a dead run's folder: lock file, files, subfolders
Content Link(std::string target);    // a symbolic link to a folder under the sandbox
Content TakenNames(size_t count);    // that many lockless TempFolder.aaa, .aab, ... inside

// A file under the sandbox (app/, tmp/, ...) or in the shared player folder.
struct Placed {
  std::string path;  // '/'-separated, relative
  Content content;
  bool shared = false;
};
Placed Put(std::string path, Content content);
Placed PutShared(std::string name, Content content);

// An extracted entry: src/<name>, made from `content`, packed by cinepack.
struct Packed {
  std::string name;
  Content content;
  bool compressed = false;
};
Packed Stored(std::string name, Content content);
Packed Compressed(std::string name, Content content);

// Who packed the projector: cinepack, with the integrity record or without, or another
// packer whose projectors are no multiple of 8 long (cinepack's without the record, one
// byte more of movie).
enum class Packer { Cinepack, CinepackWithoutRecord, Other };
// Who signed it: nobody, a distributor afterwards with osslsigncode, or cinepack build
// --sign (the maker's certificate).
enum class Signer { Nobody, Afterwards, Cinepack };

// app/MOVIE.EXE: the bare launcher unless it lists entries, leading files or the option.
struct Projector {
  bool crtTwin = false;  // the test twin, which loads "cinecrt.dll" for msvcrt.dll
  std::vector<Packed> extract;
  std::vector<std::string> leading;  // NAME.EXT
  bool option = false;
  Packer packer = Packer::Cinepack;
  Signer signer = Signer::Nobody;
};

// The ".htm" type's open command: the program (the probe, in <root>/Browser), its
// arguments, quoted or not. Not registered: no command at all.
struct HtmCommand {
  bool registered = true;
  bool quoted = false;
  std::string arguments;
};
HtmCommand Registered(bool quoted, std::string arguments);
HtmCommand Unregistered();

struct Variable {
  std::string name, value;
};

struct Start {
  std::vector<Variable> env;            // for the test runtime
  std::string locale;                   // LC_ALL for Wine: the system's language
  std::optional<std::string> afterExe;  // the whole command line: the quoted program, then this
  int show = -1;                        // wShowWindow, or none
  bool cancel = false;                  // Cancel the message box, not OK
  size_t currentDirectoryLength = 0;    // a current directory this long, or the sandbox
  bool tmpMissing = false;              // TMP names no folder
  std::optional<HtmCommand> htm;
};

// A Windows path below one of the scenario's folders, or a plain value.
enum class In { Value, Root, App, Tmp, WorkFolder };
struct Received {
  std::string key;
  In base = In::Value;
  std::string text;  // the value, or what follows the folder's path
};
Received Got(std::string key, std::string value);
// A path: compared without regard to case, as Windows does.
Received GotPath(std::string key, In base, std::string rest = "");

// What the registered browser was started with: the download address carrying this
// language segment ("" none), or nothing.
struct BrowserStart {
  bool started = false;
  std::string segment;
};
BrowserStart StartedWith(std::string segment);
BrowserStart NotStarted();

struct Outcome {
  int exitCode = 0;
  const char* box = nullptr;        // the message's text; none: no box
  std::vector<Received> received;   // none: the runtime was not called
  std::vector<std::string> exists;  // sandbox paths there afterwards
  std::vector<std::string> gone;    // and not
  std::optional<BrowserStart> browser;
};

struct Scenario {
  const char* name;
  Projector projector;
  std::vector<Placed> given;
  Start start;
  Outcome expect;
};
inline void PrintTo(const Scenario& s, std::ostream* out) { *out << s.name; }

void RunScenario(const Scenario& s);

}  // namespace e2e
