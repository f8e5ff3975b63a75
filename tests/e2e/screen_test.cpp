// What a user sees under Wine: the splash shown and taken down, or left under the failure
// message; the demo playing. Which bitmap is shown, and when none is, the launch tables say.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "tests/e2e/harness.h"
#include "tests/e2e/scenario.h"

namespace e2e {
namespace {

// Through ImageMagick: the width and height of an image file, and how many pixels of
// `bitmap` differ from those of `screen` at (left, top), -1 when they cannot be compared.
void SizeOf(const std::string& file, int* width, int* height) {
  std::string size;
  RunHost("identify -format %wx%h '" + file + "'", &size);
  sscanf(size.c_str(), "%dx%d", width, height);
}

double Differing(const std::string& screen, const std::string& bitmap, int left, int top) {
  int width = 0;
  int height = 0;
  SizeOf(bitmap, &width, &height);
  std::string crop = std::to_string(width) + "x" + std::to_string(height) + "+" +
                     std::to_string(left) + "+" + std::to_string(top);
  std::string count;
  int status = RunHost("convert '" + screen + "' -crop " + crop +
                           " +repage png:- | compare -metric AE - '" + bitmap + "' null:",
                       &count);
  return status == 0 || status == 1 ? atof(count.c_str()) : -1;
}

using Seen = std::map<std::string, std::string>;
Seen Inspect(std::vector<std::string> args) {
  args.insert(args.begin(), ToWindowsPath(WinDir() + "/tests/splash_inspect.exe"));
  return ParseKeyValues(RunWine(args).output);
}

// app/MOVIE.EXE with the test runtime beside it and a MOVIE.BMP of that size.
LaunchSpec Prepare(const Sandbox& box, uint32_t width = 40, uint32_t height = 30) {
  CopyFile(Launcher(), box.app + "/MOVIE.EXE");
  CopyFile(TestRuntime(), box.app + "/cine.dll");
  Bitmap(width, height)(box, box.app + "/MOVIE.BMP");
  return SandboxSpec(box);
}

// Centred on the 1024x768 desktop, the bitmap in a one-pixel border, covered by a foreground
// window, clicked, sent palette news and a stray WM_USER while the runtime runs.
TEST(SplashWindow, ShowsTheBitmapCentredAboveOtherWindowsAndIgnoresInput) {
  Sandbox box = MakeSandbox("splash_shown");
  Seen seen;
  LaunchResult r = Launch(box, Prepare(box, 400, 300), [&] { seen = Inspect({"find", "10000"}); });
  EXPECT_EQ(seen["rect"], "311,233,713,535");
  ASSERT_EQ(seen["mine_foreground"], "1");
  EXPECT_EQ(seen["above_mine"], "1");
  EXPECT_EQ(seen["click_activated"], "0");
  EXPECT_EQ(seen["alive"], "1");
  EXPECT_EQ(seen["tool_window"], "1") << "a taskbar button";
  EXPECT_EQ(seen["repaint_matches"], "1");
  EXPECT_EQ(r.report["splashThreadId"], seen["thread"]) << r.probeOutput;
}

TEST(SplashWindow, RealisesItsPaletteInTheBackgroundAndCleansUpWhenClosed) {
  Seen seen = Inspect({"palette"});
  // Each realised once, the palette selected in the background only.
  for (std::string step : {"query", "other"}) {
    EXPECT_EQ(seen[step + ".realised"] + seen[step + ".foreground"], "10") << step;
  }
  EXPECT_EQ(seen["self.realised"], "0");
  EXPECT_EQ(seen["closed"], "palette deleted, bitmap deleted, exit 0");
}

// The runtime's close request, racing the splash thread's start run after run, takes the
// splash down; the thread ends, and a second request fails.
TEST(SplashWindow, GoesWhenTheRuntimeClosesIt) {
  Sandbox box = MakeSandbox("splash_closed");
  LaunchSpec spec = Prepare(box);
  spec.env = {"CINE_CLOSE_SPLASH=1"};
  for (int run = 0; run < 8; ++run) {
    Seen seen;
    LaunchResult r = Launch(box, spec, [&] { seen = Inspect({"gone", "1500"}); });
    EXPECT_EQ(seen["gone"], "1") << run;
    EXPECT_EQ(r.report["close1"] + r.report["splash_thread_ended"] + r.report["close2"], "110")
        << run;
  }
}

TEST(SplashFailure, StaysOnScreenUnderTheFailureMessageUntilTheProcessEnds) {
  Sandbox box = MakeSandbox("splash_failure");
  LaunchSpec spec = Prepare(box);
  std::filesystem::remove(box.app + "/cine.dll");
  spec.answer = "none";  // the inspector answers, once it has looked
  Seen seen;
  auto inspect = [&] { seen = Inspect({"box", "15000"}); };
  LaunchResult r = Launch(box, spec, inspect, false);
  ASSERT_EQ(seen["box_found"], "1") << r.probeOutput;
  EXPECT_EQ(seen["splash_visible"], "1");
  EXPECT_EQ(seen["box_above"], "1");
  EXPECT_EQ(r.box["text"], PlayerMissingText);
  EXPECT_EQ(Inspect({"gone", "3000"})["gone"], "1");
}

TEST(Demo, PlaysWithSplashAndMovieAndLeavesNothingBehind) {
  std::string build = WinDir() + "/..";
  std::string command = "CINE_BUILD='" + build + "' '" + SourceDir() + "/scripts/demo.sh' > '" +
                        build + "/demo-test.log' 2>&1";
  int status = system(command.c_str());
  std::string log = ReadFile(build + "/demo-test.log");
  ASSERT_EQ(status, 0) << log;
  for (const char* line : {"launcher exit code:  0", "-> removed", "runtimeLocation=2"}) {
    EXPECT_NE(log.find(line), log.npos) << line;
  }
  EXPECT_EQ(log.find("still there"), std::string::npos) << log;
  // The bitmap centred in a one-pixel border, and not elsewhere, so the test can tell.
  std::string splash = build + "/demo/splash.png";
  std::string bitmap = build + "/demo/DEMO.BMP";
  int size[4] = {};  // the screen's width and height, then the bitmap's
  SizeOf(splash, &size[0], &size[1]);
  SizeOf(bitmap, &size[2], &size[3]);
  int left = (size[0] - size[2]) / 2;
  int top = (size[1] - size[3]) / 2;
  EXPECT_EQ(Differing(splash, bitmap, left, top), 0);
  EXPECT_GT(Differing(splash, bitmap, left + 100, top + 50), 0);
  // The movie's dark blue background across the middle of the screen.
  std::string row;
  RunHost("convert '" + build +
              "/demo/movie.png' -crop 420x1+300+300 +repage txt:- | grep -c '#10243C'",
          &row);
  EXPECT_GT(atoi(row.c_str()), 100) << row;
}

}  // namespace
}  // namespace e2e
