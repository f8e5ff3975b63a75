// The failure message for each launch outcome and the player download offer, seen
// both as a person sees them (the box's caption, text and buttons, the program that
// the browser association starts) and in the calls the launcher makes (Wine's relay
// trace). They run in the relay prefix, whose ".htm" association they may change.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "launcher/launch_error_text.h"
#include "tests/e2e/harness.h"
#include "tests/e2e/relay_trace.h"

namespace e2e {
namespace {


std::string Address(const std::string& segment) {
  return DownloadBaseAddress + segment + "lumenreel/download/?P1_Prod_Version=LRArchive10.1.0";
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// The browser stand-in runs on after the launcher has gone: waits until its log holds
// `starts` records (two lines each), or gives up after a while.
std::string WaitForStarts(const std::string& log, size_t starts) {
  std::string content;
  for (int i = 0; i < 3000; ++i) {
    content = ReadFile(log);
    if (static_cast<size_t>(std::count(content.begin(), content.end(), '\n')) >= 2 * starts) break;
    usleep(10000);
  }
  return content;
}

// Only the launcher's own calls: the probe's pid line names it.
std::vector<TracedCall> LauncherCalls(const TracedRun& run) {
  std::string pid = OutputValue(run.output, "pid");
  return pid.empty() ? std::vector<TracedCall>() : CallsOf(run, std::stoi(pid));
}

std::vector<TracedCall> Named(const std::vector<TracedCall>& calls, const std::string& name) {
  std::vector<TracedCall> found;
  for (const TracedCall& c : calls) {
    if (c.function == name) found.push_back(c);
  }
  return found;
}

struct UiRun {
  std::string root;       // Unix path of the sandbox in the relay prefix
  std::string exe;        // the projector in <root>/app
  std::string cwd;        // Unix path; empty: <root>
  std::string tmp;        // Unix path of TMP; empty: <root>/tmp, made here
  std::string answer = "ok";
  std::vector<std::string> childEnv;  // for the launcher
  std::vector<std::string> wineEnv;   // for the Wine process tree (LC_ALL)
};

TracedRun Start(const UiRun& r) {
  std::vector<std::string> args = {RelayWindowsPath(WinDir() + "/tests/probe.exe"), "run",
                                   "--env", "CINE_REPORT=" + RelayWindowsPath(r.root + "/report.txt"),
                                   "--tmp", RelayWindowsPath(r.tmp.empty() ? r.root + "/tmp" : r.tmp),
                                   "--cwd", RelayWindowsPath(r.cwd.empty() ? r.root : r.cwd),
                                   "--answer", r.answer,
                                   "--timeout", std::to_string(30000 * TimeFactor())};
  for (const std::string& kv : r.childEnv) {
    args.push_back("--env");
    args.push_back(kv);
  }
  args.push_back(RelayWindowsPath(r.exe));
  if (r.tmp.empty()) MakeDirs(r.root + "/tmp");
  return RunTraced(args, r.wineEnv);
}

// A folder whose Windows path is `length` or `length` + 1 characters long.
std::string LongFolder(const std::string& root, size_t length) {
  std::string path = root + "/long";
  for (size_t have; (have = RelayWindowsPath(path).size()) < length;) {
    size_t add = std::min<size_t>(length - have - 1, 60);
    path += "/" + std::string(add == 0 ? 1 : add, 'd');
  }
  MakeDirs(path);
  return path;
}

// Packs `exe` (in <root>/app) from the shipped launcher with build/host/cinepack: a README.TXT to
// extract, so that a work folder is made, and no cine.dll in it.
void PackWithoutRuntime(const std::string& root, const std::string& exe) {
  WriteFile(root + "/src/movie.dat", "QMV1movie");
  WriteFile(root + "/src/README.TXT", "read me\r\n");
  MakeDirs(root + "/app");
  std::string command = HostDir() + "/cinepack build --stub " + Launcher() + " --movie " +
                        root + "/src/movie.dat --extract " + root + "/src/README.TXT -o " + exe +
                        " >/dev/null 2>&1";
  ASSERT_EQ(system(command.c_str()), 0) << command;
}

TEST(FailureMessage, EachOutcomeShowsItsTextWithTheErrorIcon) {
  struct Case {
    const char* name;
    const char* launcher;  // "launcher", "crt_twin" or "packed" (README.TXT to extract)
    const char* runtime;   // "test", "noexport" or "" for none
    const char* result;    // what the runtime returns, when it runs
    bool longCwd;          // a current directory too long to save
    bool missingTmp;       // TMP names a folder that does not exist
    const char* text;
    const char* style;
    const char* answer;
    const char* buttons;
    const char* exitCode;
  };
  const Case cases[] = {
      {"runtime_failed", "launcher", "test", "0", false, false, CannotRunText, "00041010", "ok", "OK", "00000001"},
      {"msvcrt_missing", "crt_twin", "test", "7", false, false, MsvcrtMissingText, "00041010", "ok", "OK", "00000000"},
      {"runtime_not_found", "launcher", "", "7", false, false, PlayerMissingText, "00041011", "cancel", "OK,Cancel", "00000000"},
      {"entry_point_missing", "launcher", "noexport", "7", false, false, CannotRunText, "00041010", "ok", "OK", "00000000"},
      // cine.dll is there and would run, were the current directory readable.
      {"no_current_directory", "launcher", "test", "7", true, false, CannotRunText, "00041010", "ok", "OK", "00000000"},
      // A work folder without cine.dll: the copy beside the executable is not tried.
      {"runtime_load_failed", "packed", "test", "7", false, false, CannotCreateText, "00041010", "ok", "OK", "00000000"},
      // No work folder can be made where TMP points.
      {"extraction_failed", "packed", "test", "7", false, true, CannotCreateText, "00041010", "ok", "OK", "00000000"},
  };
  RelaySession session;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UiRun r;
    r.root = MakeRelaySandbox(std::string("message_") + c.name);
    r.exe = r.root + "/app/MOVIE.EXE";
    if (std::string(c.launcher) == "packed") {
      PackWithoutRuntime(r.root, r.exe);
    } else {
      CopyFile(std::string(c.launcher) == "crt_twin" ? WinDir() + "/tests/launcher_crt_twin.exe"
                                                     : Launcher(),
               r.exe);
    }
    if (std::string(c.runtime) == "test") CopyFile(TestRuntime(), r.root + "/app/cine.dll");
    if (std::string(c.runtime) == "noexport") CopyFile(NoExportRuntime(), r.root + "/app/cine.dll");
    if (c.longCwd) r.cwd = LongFolder(r.root, 257);
    if (c.missingTmp) r.tmp = r.root + "/no/such/folder";
    r.answer = c.answer;
    r.childEnv = {std::string("CINE_RESULT=") + c.result};
    TracedRun run = Start(r);

    // What a person sees.
    EXPECT_EQ(OutputValue(run.output, "box.caption"), "Application Error") << run.output;
    EXPECT_EQ(OutputValue(run.output, "box.text"), c.text);
    EXPECT_EQ(OutputValue(run.output, "box.buttons"), c.buttons);
    EXPECT_EQ(OutputValue(run.output, "exit"), std::string(c.exitCode) == "00000001" ? "1" : "0");
    EXPECT_EQ(Exists(r.root + "/report.txt"), std::string(c.name) == "runtime_failed");

    // What the launcher asked for: one box, no owner, the error icon, topmost.
    std::vector<TracedCall> calls = LauncherCalls(run);
    std::vector<TracedCall> boxes = Named(calls, "MessageBoxA");
    ASSERT_EQ(boxes.size(), 1u) << Describe(calls);
    ASSERT_EQ(boxes[0].args.size(), 4u);
    EXPECT_EQ(boxes[0].args[0], "00000000");
    EXPECT_EQ(StringArg(boxes[0].args[1]), c.text);
    EXPECT_EQ(StringArg(boxes[0].args[2]), "Application Error");
    EXPECT_EQ(boxes[0].args[3], c.style);
    EXPECT_EQ(boxes[0].result, std::string(c.answer) == "ok" ? "00000001" : "00000002");
    // Cancel builds no address and starts nothing.
    EXPECT_TRUE(Named(calls, "GetSystemDefaultLangID").empty());
    EXPECT_TRUE(Named(calls, "WinExec").empty());
    std::vector<TracedCall> exits = Named(calls, "ExitProcess");
    ASSERT_EQ(exits.size(), 1u);
    EXPECT_EQ(exits[0].args.at(0), c.exitCode);
  }
}

// Sets HKEY_CLASSES_ROOT\.htm to a file type whose open command is `command` (none
// when null) in the relay prefix, and removes both again when it goes.
struct HtmAssociation {
  std::string file;
  HtmAssociation(const std::string& root, const char* command) {
    Remove();
    if (command == nullptr && root.empty()) return;
    auto escape = [](const std::string& text) {
      std::string out;
      for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
      }
      return out;
    };
    std::string reg = "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\.htm]\r\n@=\"CinemorphTest.htm\"\r\n";
    if (command) {
      reg += "\r\n[HKEY_CLASSES_ROOT\\CinemorphTest.htm\\shell\\open\\command]\r\n@=\"" +
             escape(command) + "\"\r\n";
    }
    file = root + "/association.reg";
    WriteFile(file, reg);
    EXPECT_EQ(RunRelayQuiet({"reg", "import", RelayWindowsPath(file)}), 0);
  }
  ~HtmAssociation() { Remove(); }
  static void Remove() {
    RunRelayQuiet({"reg", "delete", "HKEY_CLASSES_ROOT\\.htm", "/f"});
    RunRelayQuiet({"reg", "delete", "HKEY_CLASSES_ROOT\\CinemorphTest.htm", "/f"});
  }
};

// A projector without any cine.dll, so that it offers the download.
UiRun DownloadOffer(const std::string& name) {
  UiRun r;
  r.root = MakeRelaySandbox("download_" + name);
  r.exe = r.root + "/app/MOVIE.EXE";
  CopyFile(Launcher(), r.exe);
  return r;
}

void PlaceRecorder(const std::string& unixPath) {
  CopyFile(WinDir() + "/tests/browser_recorder.exe", unixPath);
}

TEST(DownloadOffer, OkStartsTheRegisteredProgramWithJustItsPathAndTheAddress) {
  struct Case {
    const char* name;
    const char* command;     // registered, "{}" standing for the sandbox's Windows path
    const char* started;     // the recorder expected to run, relative to the sandbox
    const char* path;        // the program path expected in its command line
    const char* notStarted;  // a recorder that must stay silent, or null
  };
  const Case cases[] = {
      {"quoted", "\"{}\\Program Files\\Browser\\browser.exe\" -nohome",
       "Program Files/Browser/browser.exe", "{}\\Program Files\\Browser\\browser.exe", nullptr},
      {"unquoted", "  {}\\Browser\\browser.exe %1", "Browser/browser.exe",
       "{}\\Browser\\browser.exe", nullptr},
      {"unquoted_space", "{}\\Program Files\\b.exe", "Program.exe", "{}\\Program",
       "Program Files/b.exe"},
  };
  RelaySession session;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UiRun r = DownloadOffer(c.name);
    std::string windowsRoot = RelayWindowsPath(r.root);
    auto expand = [&](std::string text) {
      for (size_t at; (at = text.find("{}")) != std::string::npos;) text.replace(at, 2, windowsRoot);
      return text;
    };
    PlaceRecorder(r.root + "/" + c.started);
    if (c.notStarted) PlaceRecorder(r.root + "/" + c.notStarted);
    HtmAssociation association(r.root, expand(c.command).c_str());
    TracedRun run = Start(r);

    std::string path = expand(c.path);
    std::string command = path + " " + Address("");
    EXPECT_EQ(OutputValue(run.output, "box.text"), PlayerMissingText) << run.output;
    EXPECT_EQ(OutputValue(run.output, "exit"), "0");
    std::vector<TracedCall> calls = LauncherCalls(run);
    std::vector<TracedCall> starts = Named(calls, "WinExec");
    ASSERT_EQ(starts.size(), 1u) << Describe(calls);
    EXPECT_EQ(StringArg(starts[0].args.at(0)), command);
    EXPECT_EQ(starts[0].args.at(1), "00000001");  // SW_SHOWNORMAL
    // The program ran once, with that command line. Wine, having found a program
    // whose path holds a space, puts quotes around that path in the command line the
    // program receives; Windows passes the line as given.
    std::string received = path.find(' ') == std::string::npos ? command : Quoted(path) + " " + Address("");
    EXPECT_EQ(WaitForStarts(r.root + "/" + c.started + ".log", 1),
              "cmdline=" + received + "\nshow=1\n");
    if (c.notStarted) {
      EXPECT_FALSE(Exists(r.root + "/" + c.notStarted + ".log"));
    }
  }
}

TEST(DownloadOffer, CancelOrAnUnusableAssociationStartsNothing) {
  struct Case {
    const char* name;
    const char* answer;
    bool htmKey;          // HKEY_CLASSES_ROOT\.htm exists
    const char* command;  // its type's open command; null for none
    bool addressBuilt;
  };
  std::string overlong = "{}\\Browser\\browser.exe " + std::string(600, 'a');
  const Case cases[] = {
      {"cancel", "cancel", true, "{}\\Browser\\browser.exe %1", false},
      {"no_association", "ok", false, nullptr, true},
      {"no_command", "ok", true, nullptr, true},
      {"blank_command", "ok", true, "  \t ", true},
      {"empty_quotes", "ok", true, "\"\" %1", true},
      // Longer than the 520-byte buffer: the registry read itself fails.
      {"overlong_value", "ok", true, overlong.c_str(), true},
  };
  RelaySession session;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UiRun r = DownloadOffer(c.name);
    std::string command = c.command ? c.command : "";
    for (size_t at; (at = command.find("{}")) != std::string::npos;) {
      command.replace(at, 2, RelayWindowsPath(r.root));
    }
    PlaceRecorder(r.root + "/Browser/browser.exe");
    HtmAssociation association(c.htmKey ? r.root : "", c.command ? command.c_str() : nullptr);
    r.answer = c.answer;
    TracedRun run = Start(r);

    EXPECT_EQ(OutputValue(run.output, "box.text"), PlayerMissingText) << run.output;
    EXPECT_EQ(OutputValue(run.output, "exit"), "0");
    EXPECT_EQ(OutputValue(run.output, "timeout"), "") << "a second box, or a hang";
    std::vector<TracedCall> calls = LauncherCalls(run);
    EXPECT_EQ(Named(calls, "MessageBoxA").size(), 1u) << Describe(calls);
    EXPECT_EQ(Named(calls, "GetSystemDefaultLangID").size(), c.addressBuilt ? 1u : 0u);
    EXPECT_TRUE(Named(calls, "WinExec").empty()) << Describe(calls);
    // No WinExec means nothing was started; the stand-in's log agrees.
    EXPECT_FALSE(Exists(r.root + "/Browser/browser.exe.log"));
  }
}

TEST(DownloadOffer, CommandsAtTheBufferLimitRunWholeOrNotAtAll) {
  RelaySession session;
  // Path, space, address and terminator fill the 520-byte buffer exactly; one more
  // character and nothing may run, rather than a cut path or address. The long paths
  // reach a short one through "." components, so the program really starts.
  const size_t room = BrowserCommandCapacity - Address("").size() - 2;
  struct Case { size_t pathLength; bool runs; };
  const Case cases[] = {{room, true}, {room + 1, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pathLength);
    UiRun r = DownloadOffer("limit_" + std::to_string(c.pathLength));
    PlaceRecorder(r.root + "/b.exe");
    std::string path = RelayWindowsPath(r.root);
    while (path.size() + 2 + 6 <= c.pathLength) path += "\\.";
    // An odd length left over: a doubled backslash is still one separator.
    if (path.size() + 6 < c.pathLength) path += "\\";
    path += "\\b.exe";
    ASSERT_EQ(path.size(), c.pathLength);
    HtmAssociation association(r.root, ("\"" + path + "\" %1").c_str());
    TracedRun run = Start(r);
    EXPECT_EQ(OutputValue(run.output, "exit"), "0") << run.output;
    std::vector<TracedCall> starts = Named(LauncherCalls(run), "WinExec");
    ASSERT_EQ(starts.size(), c.runs ? 1u : 0u);
    if (c.runs) {
      // Wine's trace shortens long strings; the program's own record is whole.
      std::string command = path + " " + Address("");
      EXPECT_EQ(command.compare(0, StringArg(starts[0].args.at(0)).size(),
                                StringArg(starts[0].args.at(0))), 0);
      EXPECT_EQ(WaitForStarts(r.root + "/b.exe.log", 1), "cmdline=" + command + "\nshow=1\n");
    } else {
      EXPECT_FALSE(Exists(r.root + "/b.exe.log"));
    }
  }
}

TEST(DownloadOffer, AddressCarriesTheSystemLanguage) {
  struct Case { const char* locale; const char* languageId; const char* segment; };
  const Case cases[] = {
      {"fr_CA.UTF-8", "00000c0c", "fr/"}, {"de_DE.UTF-8", "00000407", "de/"},
      {"ja_JP.UTF-8", "00000411", "jp/"}, {"ko_KR.UTF-8", "00000412", "ko/"},
      {"zh_CN.UTF-8", "00000804", ""},    {"en_US.UTF-8", "00000409", ""},
  };
  RelaySession session;
  UiRun r = DownloadOffer("language");
  PlaceRecorder(r.root + "/Browser/browser.exe");
  HtmAssociation association(r.root, (RelayWindowsPath(r.root) + "\\Browser\\browser.exe %1").c_str());
  std::string expected;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.locale);
    r.wineEnv = {std::string("LC_ALL=") + c.locale};
    TracedRun run = Start(r);
    WaitForStarts(r.root + "/Browser/browser.exe.log", &c - cases + 1);
    std::vector<TracedCall> calls = LauncherCalls(run);
    std::vector<TracedCall> language = Named(calls, "GetSystemDefaultLangID");
    ASSERT_EQ(language.size(), 1u) << Describe(calls);
    EXPECT_EQ(language[0].result, c.languageId);
    expected += "cmdline=" + RelayWindowsPath(r.root) + "\\Browser\\browser.exe " +
                Address(c.segment) + "\nshow=1\n";
  }
  // One start per run, in order, each with its language's address.
  EXPECT_EQ(ReadFile(r.root + "/Browser/browser.exe.log"), expected);
}

}  // namespace
}  // namespace e2e
