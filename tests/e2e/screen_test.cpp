// What a user sees under Wine: the splash shown and taken down, or left under the failure
// message; the demo playing. Which bitmap is shown, and when none is, the launch tables say.
#include <cstdlib>
#include <filesystem>

#include "tests/e2e/scenario.h"

namespace e2e {
namespace {

using Seen = std::map<std::string, std::string>;
Seen Inspect(std::vector<std::string> args) {
  args.insert(args.begin(), ToWindowsPath(WinDir() + "/tests/splash_inspect.exe"));
  return ParseKeyValues(RunWine(args));
}

// A sandbox's app/MOVIE.EXE with the test runtime beside it and a MOVIE.BMP of that size.
Sandbox Prepare(const std::string& name, uint32_t width = 40, uint32_t height = 30) {
  Sandbox box = MakeSandbox(name);
  CopyFile(Launcher(), box.exe);
  CopyFile(LibraryPath(Lib::Test), box.app + "/cine.dll");
  Bitmap(width, height)(box, box.app + "/MOVIE.BMP");
  return box;
}

// Centred on the 1024x768 desktop, the bitmap in a one-pixel border, covered by a foreground
// window, clicked, sent palette news and a stray WM_USER while the runtime runs; no taskbar
// button; on screen the bitmap's very pixels, also where a part was repainted alone.
TEST(SplashWindow, ShowsTheBitmapCentredAboveOtherWindowsAndIgnoresInput) {
  Sandbox box = Prepare("splash_shown", 400, 300);
  Seen seen;
  LaunchResult r = Launch(box, {}, [&] {
    seen = Inspect({"find", "10000", ToWindowsPath(box.app + "/MOVIE.BMP")});
  });
  EXPECT_EQ(seen["rect"], "311,233,713,535");
  ASSERT_EQ(seen["mine_foreground"], "1");
  EXPECT_EQ(seen["above_mine"], "1");
  EXPECT_EQ(seen["click_activated"], "0");
  EXPECT_EQ(seen["alive"], "1");
  EXPECT_EQ(seen["tool_window"], "1") << "a taskbar button";
  EXPECT_EQ(seen["shows_bitmap"], "1");
  EXPECT_EQ(seen["repaint_shows_bitmap"], "1");
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
  Sandbox box = Prepare("splash_closed");
  for (int run = 0; run < 8; ++run) {
    Seen seen;
    LaunchResult r = Launch(box, {.env = {"CINE_CLOSE_SPLASH=1"}}, [&] {
      seen = Inspect({"gone", "1500"});
    });
    EXPECT_EQ(seen["gone"], "1") << run;
    EXPECT_EQ(r.report["close1"] + r.report["splash_thread_ended"] + r.report["close2"], "110")
        << run;
  }
}

TEST(SplashFailure, StaysOnScreenUnderTheFailureMessageUntilTheProcessEnds) {
  Sandbox box = Prepare("splash_failure");
  std::filesystem::remove(box.app + "/cine.dll");
  Seen seen;
  auto inspect = [&] { seen = Inspect({"box", "15000"}); };
  // The inspector answers, once it has looked.
  LaunchResult r = Launch(box, {.answer = Answer::None}, inspect, false);
  ASSERT_EQ(seen["box_found"], "1") << r.probeOutput;
  EXPECT_EQ(seen["splash_visible"], "1");
  EXPECT_EQ(seen["box_above"], "1");
  EXPECT_EQ(r.probe["box.text"], PlayerMissingText);
  EXPECT_EQ(Inspect({"gone", "3000"})["gone"], "1");
}

// (Whether the splash shows its bitmap, the splash tests see.)
TEST(Demo, PlaysItsMovieAndLeavesNothingBehind) {
  std::string build = WinDir() + "/..";
  std::string log;
  ASSERT_EQ(RunHost("CINE_BUILD='" + build + "' '" + SourceDir() + "/scripts/demo.sh'", &log), 0)
      << log;
  for (const char* line : {"launcher exit code:  0", "-> removed", "runtimeLocation=2"}) {
    EXPECT_NE(log.find(line), log.npos) << line;
  }
  EXPECT_EQ(log.find("still there"), std::string::npos) << log;
  // The movie's dark blue background across the middle of the screen.
  std::string row;
  RunHost("convert '" + build +
              "/demo/movie.png' -crop 420x1+300+300 +repage txt:- | grep -c '#10243C'",
          &row);
  EXPECT_GT(atoi(row.c_str()), 100) << row;
}

}  // namespace
}  // namespace e2e
