// The launch sequence under Wine: where cine.dll is found, what it receives, and the
// outcome of every failure that happens before or in the runtime call.
#include <gtest/gtest.h>

#include "tests/e2e/harness.h"

namespace e2e {
namespace {


std::string SharedPlayerFolder() {
  return PrefixDir() + "/drive_c/windows/system32/Quorvant/Lumenreel 10";
}

// A projector without a payload, named MOVIE.EXE, in a fresh sandbox.
Sandbox MakeProjector(const std::string& name) {
  Sandbox box = MakeSandbox(name);
  CopyFile(Launcher(), box.app + "/MOVIE.EXE");
  return box;
}

TEST(RuntimeLocation, FoundBesideTheExecutableInNodixOrInTheSharedFolder) {
  struct Case {
    const char* name;
    bool beside;
    bool nodix;
    bool shared;
    const char* location;
    const char* folder;  // relative to the sandbox, or "shared"
  };
  const Case cases[] = {
      {"beside", true, false, false, "1", "app"},
      {"nodix", false, true, false, "3", "app/Nodix"},
      {"beside_wins", true, true, false, "1", "app"},
      {"shared", false, false, true, "4", "shared"},
      {"nodix_before_shared", false, true, true, "3", "app/Nodix"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox box = MakeProjector(std::string("location_") + c.name);
    if (c.beside) CopyFile(TestRuntime(), box.app + "/cine.dll");
    if (c.nodix) CopyFile(TestRuntime(), box.app + "/Nodix/cine.dll");
    if (c.shared) CopyFile(TestRuntime(), SharedPlayerFolder() + "/cine.dll");
    LaunchResult r = Launch(box, SandboxSpec(box));
    RemoveTree(SharedPlayerFolder());

    EXPECT_EQ(r.report["called"], "1") << r.probeOutput;
    EXPECT_EQ(r.report["runtimeLocation"], c.location);
    std::string expected = std::string(c.folder) == "shared"
                               ? "C:\\windows\\system32\\Quorvant\\Lumenreel 10\\cine.dll"
                               : ToWindowsPath(box.root + "/" + c.folder + "/cine.dll");
    EXPECT_STREQ(ToLower(r.report["runtime_path"]).c_str(), ToLower(expected).c_str());
    // The search put the current directory back before the runtime was called.
    EXPECT_EQ(r.report["cwd"], ToWindowsPath(box.root));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.box.empty()) << r.box["text"];
  }
}

TEST(LaunchParams, BlockCarriesVersionSizeAndNoSplashNoWorkFolder) {
  Sandbox box = MakeProjector("params");
  CopyFile(TestRuntime(), box.app + "/cine.dll");
  LaunchResult r = Launch(box, SandboxSpec(box));
  const std::pair<const char*, const char*> expected[] = {
      {"version", "2"},         {"size", "28"},           {"closeSplash_set", "0"},
      {"splashThreadId", "0"},  {"workFolder", "(null)"}, {"payloadOption", "0"},
      {"instance_is_exe", "1"}, {"previous", "0"},        {"msvcrt_loaded", "1"},
  };
  for (const auto& [key, value] : expected) EXPECT_EQ(r.report[key], value) << key;
  // Nothing was written to the temporary folder: no payload, no work folder.
  EXPECT_TRUE(ListDir(box.tmp).empty());
}

std::string Hex(const std::string& text) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

TEST(CommandLine, ReachesTheRuntimeByteForByte) {
  Sandbox box = MakeProjector("cmdline");
  CopyFile(TestRuntime(), box.app + "/cine.dll");
  std::string exe = ToWindowsPath(box.app + "/MOVIE.EXE");
  struct Case { std::string commandLine; std::string arguments; };
  const Case cases[] = {
      {"\"" + exe + "\"", ""},
      {"\"" + exe + "\" -play  \"two words\" 'x'", "-play  \"two words\" 'x'"},
      {"\"" + exe + "\"   \t leading blanks", "leading blanks"},
      {"\"" + exe + "\" trailing  ", "trailing  "},
      {"MOVIE.EXE /A /b", "/A /b"},
      {"\"" + exe + "\" \"\"", "\"\""},
  };
  for (const Case& c : cases) {
    LaunchSpec spec = SandboxSpec(box);
    spec.raw = true;
    spec.args = c.commandLine;
    LaunchResult r = Launch(box, spec);
    EXPECT_EQ(r.report["cmdline_hex"], Hex(c.arguments)) << c.commandLine;
  }
}

TEST(ShowCommand, IsTheStartupShowStateOrShowDefault) {
  Sandbox box = MakeProjector("show");
  CopyFile(TestRuntime(), box.app + "/cine.dll");
  const int shows[] = {-1, 0, 3, 7};
  const char* expected[] = {"10", "0", "3", "7"};
  for (int i = 0; i < 4; ++i) {
    LaunchSpec spec = SandboxSpec(box);
    spec.show = shows[i];
    EXPECT_EQ(Launch(box, spec).report["show"], expected[i]) << shows[i];
  }
}

TEST(Outcome, RuntimeResultDecidesTheExitCodeAndMessage) {
  Sandbox box = MakeProjector("results");
  CopyFile(TestRuntime(), box.app + "/cine.dll");
  struct Case { const char* result; int exitCode; const char* text; };
  const Case cases[] = {
      {"0", 1, CannotRunText},
      {"7", 0, nullptr},
      {"-1", 0, nullptr},
      {"3", 0, nullptr},
  };
  for (const Case& c : cases) {
    LaunchSpec spec = SandboxSpec(box);
    spec.env.push_back(std::string("CINE_RESULT=") + c.result);
    LaunchResult r = Launch(box, spec);
    EXPECT_EQ(r.report["result"], c.result);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.result;
    if (c.text) {
      EXPECT_EQ(r.box["caption"], "Application Error");
      EXPECT_EQ(r.box["text"], c.text);
      EXPECT_EQ(r.box["buttons"], "OK");
    } else {
      EXPECT_TRUE(r.box.empty()) << c.result << ": " << r.box["text"];
    }
  }
}

TEST(Outcome, RuntimeNotFoundOffersTheDownload) {
  Sandbox box = MakeProjector("notfound");
  LaunchSpec spec = SandboxSpec(box);
  spec.answer = "cancel";
  LaunchResult r = Launch(box, spec);
  EXPECT_TRUE(r.report.empty());
  EXPECT_EQ(r.box["caption"], "Application Error");
  EXPECT_EQ(r.box["text"], PlayerMissingText);
  EXPECT_EQ(r.box["buttons"], "OK,Cancel");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_FALSE(r.timedOut);
}

TEST(Outcome, RuntimeWithoutEntryPointCannotRun) {
  Sandbox box = MakeProjector("noexport");
  CopyFile(NoExportRuntime(), box.app + "/cine.dll");
  LaunchResult r = Launch(box, SandboxSpec(box));
  EXPECT_TRUE(r.report.empty());
  EXPECT_EQ(r.box["text"], CannotRunText);
  EXPECT_EQ(r.box["buttons"], "OK");
  EXPECT_EQ(r.exitCode, 0);
}

// Wine's own libraries import msvcrt.dll, so it is always loaded there. These tests
// run the launcher's twin that looks for "cinecrt.dll" instead: absent from the
// standard search, present only where a test puts it.
Sandbox MakeCrtTwinProjector(const std::string& name) {
  Sandbox box = MakeSandbox(name);
  CopyFile(WinDir() + "/tests/launcher_crt_twin.exe", box.app + "/MOVIE.EXE");
  return box;
}

TEST(Outcome, MissingMsvcrtStopsBeforeTheRuntimeSearch) {
  Sandbox box = MakeCrtTwinProjector("msvcrt_missing");
  CopyFile(TestRuntime(), box.app + "/cine.dll");
  LaunchSpec spec = SandboxSpec(box);
  LaunchResult r = Launch(box, spec);
  EXPECT_TRUE(r.report.empty()) << "the runtime must not be called";
  EXPECT_EQ(r.box["text"], MsvcrtMissingText);
  EXPECT_EQ(r.box["buttons"], "OK");
  EXPECT_EQ(r.exitCode, 0);
}

}  // namespace
}  // namespace e2e

namespace e2e {
namespace {

TEST(Msvcrt, FolderSearchFindsACopyInNodixAndRestoresTheDirectory) {
  Sandbox box = MakeCrtTwinProjector("msvcrt_nodix");
  CopyFile(TestRuntime(), box.app + "/cine.dll");
  CopyFile(FakeMsvcrt(), box.app + "/Nodix/cinecrt.dll");
  LaunchSpec spec = SandboxSpec(box);
  LaunchResult r = Launch(box, spec);
  EXPECT_EQ(r.report["called"], "1") << r.probeOutput << r.box["text"];
  EXPECT_EQ(r.report["crt_twin_loaded"], "1");
  EXPECT_EQ(r.report["runtimeLocation"], "1");
  EXPECT_EQ(r.report["cwd"], ToWindowsPath(box.root));
  EXPECT_EQ(r.exitCode, 0);
}

}  // namespace
}  // namespace e2e
