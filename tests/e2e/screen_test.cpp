// What a user sees under Wine: the splash bitmap shown, taken down, or absent; the demo playing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "tests/e2e/harness.h"

namespace e2e {
namespace {

// An image file as 8-bit RGB through ImageMagick; empty when unreadable.
struct Image {
  int width = 0, height = 0, depth = 0, at = 0;
  std::string ppm;
  uint32_t At(int x, int y) const {  // 0xRRGGBB, or ~0 off the image
    if (x < 0 || y < 0 || x >= width || y >= height) return ~0u;
    const char* p = &ppm[at + 1 + 3 * (static_cast<size_t>(y) * width + x)];
    return uint8_t(p[0]) << 16 | uint8_t(p[1]) << 8 | uint8_t(p[2]);
  }
};

Image Load(const std::string& file) {
  Image image;
  if (system(("convert '" + file + "' -depth 8 ppm:'" + file + ".ppm'").c_str()) == 0) image.ppm = ReadFile(file + ".ppm");
  if (sscanf(image.ppm.c_str(), "P6 %d %d %d%n", &image.width, &image.height, &image.depth, &image.at) != 3 ||
      image.ppm.size() < image.at + 1 + 3u * image.width * image.height) image = Image();
  return image;
}

// Of every 7th pixel of `bitmap` at (left, top), how many `screen` differs in; -1 if empty.
int Mismatches(const Image& screen, const Image& bitmap, int left, int top) {
  int wrong = screen.width && bitmap.width ? 0 : -1, w = bitmap.width;
  for (int i = 0; wrong >= 0 && i < w * bitmap.height; i += 7) wrong += screen.At(left + i % w, top + i / w) != bitmap.At(i % w, i / w);
  return wrong;
}

using Seen = std::map<std::string, std::string>;
Seen Inspect(std::vector<std::string> args) {
  args.insert(args.begin(), ToWindowsPath(WinDir() + "/tests/splash_inspect.exe"));
  return ParseKeyValues(RunWine(args).output);
}

// A projector app/<exe> with the test runtime beside it and a bitmap of random pixels (so
// that no shifted, cut or flipped copy matches) at app/<bitmap>.
struct Projector { Sandbox box; LaunchSpec spec; };

Projector Prepare(const std::string& name, const std::string& exe, const std::string& bitmap,
                  const std::string& size = "40x30") {
  Projector p{MakeSandbox("splash_" + name), {}};
  p.spec.exe = p.box.app + "/" + exe;
  p.spec.tmp = p.box.tmp;
  p.spec.cwd = p.box.root;
  std::string folder = p.spec.exe.substr(0, p.spec.exe.rfind('/'));
  MakeDirs(folder);
  CopyFile(Launcher(), p.spec.exe);
  CopyFile(TestRuntime(), folder + "/cine.dll");
  std::string make = "convert -size " + size + " xc: +noise Random -type TrueColor BMP3:'" + p.box.app + "/" + bitmap;
  EXPECT_EQ(system((make + "'").c_str()), 0) << make;
  return p;
}

// Launches; once the runtime has reported (then waiting for "done"), inspects with `args`.
Seen LaunchAndInspect(const Projector& p, const std::vector<std::string>& args, LaunchResult* result) {
  for (const char* stale : {"/ready", "/done", "/report.txt"}) RemoveTree(p.box.root + stale);
  LaunchSpec spec = p.spec;
  spec.env.push_back("CINE_READY=" + ToWindowsPath(p.box.root + "/ready"));
  spec.env.push_back("CINE_WAIT_FOR=" + ToWindowsPath(p.box.root + "/done"));
  int pid = StartWine(ProbeRunArgs(p.box, spec), p.box.root + "/probe.out");
  bool called = WaitForFile(p.box.root + "/ready", 30000);
  Seen seen = Inspect(args);
  WriteFile(p.box.root + "/done", "");
  *result = ReadLaunch(p.box, FinishWine(pid, p.box.root + "/probe.out"));
  EXPECT_TRUE(called) << result->probeOutput;
  return seen;
}

TEST(SplashWindow, ShowsTheBitmapCentredAboveOtherWindowsAndIgnoresInput) {
  // The window on the 1024x768 desktop: the bitmap in a one-pixel border.
  struct Case { const char* size; const char* rect; };
  const Case cases[] = {
      {"400x300", "311,233,713,535"},
      {"399x201", "311,282,712,485"},   // a 401x203 window: halves round toward zero
      {"1101x50", "-39,358,1064,410"},  // wider than the desktop
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    Projector p = Prepare(std::string("shown_") + c.size, "MOVIE.EXE", "MOVIE.BMP", c.size);
    LaunchResult r;
    // Covered by a foreground window, clicked, sent palette news and a stray WM_USER.
    auto seen = LaunchAndInspect(p, {"find", "10000"}, &r);
    EXPECT_EQ(seen["rect"], c.rect);
    ASSERT_EQ(seen["mine_foreground"], "1");
    EXPECT_EQ(seen["above_mine"], "1");
    EXPECT_EQ(seen["click_activated"], "0");
    EXPECT_EQ(seen["alive"], "1");
    EXPECT_EQ(r.report["splashThreadId"], seen["thread"]);
  }
}

TEST(SplashWindow, RealisesItsPaletteInTheBackgroundAndCleansUpWhenClosed) {
  auto seen = Inspect({"palette"});
  // Each realised once, the palette selected in the background only.
  for (std::string step : {"query", "other"}) EXPECT_EQ(seen[step + ".realised"] + seen[step + ".foreground"], "10") << step;
  EXPECT_EQ(seen["self.realised"], "0");
  EXPECT_EQ(seen["closed"], "palette deleted, bitmap deleted, exit 0");
}

TEST(SplashChoice, ABitmapNamedAfterTheExecutableShowsUntilTheRuntimeClosesIt) {
  // Files below app/; cinepack's options, packing the runtime to extract (none: no payload);
  // close: the runtime calls closeSplash first thing, racing the splash thread, run after run.
  struct Case { const char *exe, *bitmap, *pack; bool shown, close; };
  const Case cases[] = {
      {"MOVIE.EXE", "OTHER.BMP", nullptr, false, false},
      {"MOVIE.EXE", "MOVIE.EXE.BMP", nullptr, false, false},
      {"my.games/MOVIE.EXE", "my.games/MOVIE.BMP", nullptr, true, false},
      {"my.games/MOVIE.EXE", "my.BMP", nullptr, false, false},  // a folder's dot is no extension
      {"MOVIE.EXE", "MOVIE.BMP", "--option --big-endian-content", true, false},
      {"MOVIE.EXE", "MOVIE.BMP", "--no-splash", false, false},
      {"MOVIE.EXE", "broken", nullptr, false, false},  // MOVIE.BMP is no bitmap
      {"MOVIE.EXE", "MOVIE.BMP", nullptr, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.exe) + " " + c.bitmap + " " + (c.pack ? c.pack : "") + (c.close ? "close" : ""));
    Projector p = Prepare("choice" + std::to_string(&c - cases), c.exe, c.bitmap);
    if (std::string(c.bitmap) == "broken") WriteFile(p.box.app + "/MOVIE.BMP", "BM not a bitmap");
    if (c.close) p.spec.env = {"CINE_CLOSE_SPLASH=1"};
    if (c.pack) {
      WriteFile(p.box.root + "/movie.dat", "movie");
      std::string pack = HostDir() + "/cinepack build --stub " + Launcher() + " --movie " + p.box.root +
                         "/movie.dat --extract " + TestRuntime() + " " + c.pack + " -o " + p.spec.exe;
      ASSERT_EQ(system((pack + " >/dev/null").c_str()), 0) << pack;
    }
    for (int run = 0; run < (c.close ? 8 : 1); ++run) {
      LaunchResult r;
      EXPECT_EQ(LaunchAndInspect(p, {"gone", "1500"}, &r)["gone"], c.shown && !c.close ? "0" : "1") << run;
      EXPECT_EQ(r.report["closeSplash_set"], c.shown ? "1" : "0");
      EXPECT_EQ(r.report["splashThreadId"] != "0", c.shown);
      // Closed, the thread ended, and a second call failed.
      EXPECT_EQ(r.report["close1"] + r.report["splash_thread_ended"] + r.report["close2"], c.close ? "110" : "");
      // From the work folder when the payload was recognised.
      EXPECT_EQ(r.report["runtimeLocation"], c.pack ? "2" : "1");
    }
  }
}

TEST(SplashFailure, StaysOnScreenUnderTheFailureMessageUntilTheProcessEnds) {
  Projector p = Prepare("failure", "MOVIE.EXE", "MOVIE.BMP");
  RemoveTree(p.box.app + "/cine.dll");
  p.spec.answer = "none";  // the inspector answers, once it has looked
  int pid = StartWine(ProbeRunArgs(p.box, p.spec), p.box.root + "/probe.out");
  auto seen = Inspect({"box", "15000"});
  LaunchResult r = ReadLaunch(p.box, FinishWine(pid, p.box.root + "/probe.out"));
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
  for (const char* line : {"launcher exit code:  0", "-> removed", "runtimeLocation=2"}) EXPECT_NE(log.find(line), log.npos) << line;
  EXPECT_EQ(log.find("still there"), std::string::npos) << log;
  // The bitmap centred in a one-pixel border, and not elsewhere, so the test can tell.
  Image splash = Load(build + "/demo/splash.png"), bitmap = Load(build + "/demo/DEMO.BMP");
  int left = (splash.width - bitmap.width) / 2, top = (splash.height - bitmap.height) / 2;
  EXPECT_EQ(Mismatches(splash, bitmap, left, top), 0);
  EXPECT_GT(Mismatches(splash, bitmap, left + 100, top + 50), 0);
  // The movie's dark blue background across the middle of the screen.
  Image movie = Load(build + "/demo/movie.png");
  int blue = 0;
  for (int x = 300; x < 720; x += 10) blue += movie.At(x, 300) == 0x10243C;
  EXPECT_GT(blue, 10);
}

}  // namespace
}  // namespace e2e
