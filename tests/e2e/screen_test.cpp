// What a user sees under Wine: the splash bitmap shown, taken down, or absent; the demo playing.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "tests/e2e/harness.h"

namespace e2e {
namespace {

// 8-bit RGB through ImageMagick from a file or ("") the screen, kept in build/screenshots.
struct Image {
  int width = 0, height = 0, at = 0;
  std::string ppm;
  uint32_t At(int x, int y) const {  // 0xRRGGBB, or ~0 off the image
    if (x < 0 || y < 0 || x >= width || y >= height) return ~0u;
    const char* p = &ppm[at + 1 + 3 * (static_cast<size_t>(y) * width + x)];
    return uint8_t(p[0]) << 16 | uint8_t(p[1]) << 8 | uint8_t(p[2]);
  }
};

Image Load(const std::string& file, const std::string& name) {
  std::string out = HostDir() + "/../screenshots/" + name + ".ppm";
  MakeDirs(HostDir() + "/../screenshots");
  std::string command = (file.empty() ? "import -window root" : "convert '" + file + "'") +
                        " -depth 8 ppm:'" + out + "' 2>/dev/null";
  Image image;
  if (system(command.c_str()) == 0) image.ppm = ReadFile(out);
  int depth = 0;
  if (sscanf(image.ppm.c_str(), "P6 %d %d %d%n", &image.width, &image.height, &depth, &image.at) != 3 ||
      image.ppm.size() < image.at + 1 + 3u * image.width * image.height) image = Image();
  return image;
}

// Pixels of every 7th row and column of `bitmap` that `screen` does not show with the
// bitmap's corner at (left, top), those off the screen not counted; -1 for an empty image.
int Mismatches(const Image& screen, const Image& bitmap, int left, int top) {
  int wrong = screen.width && bitmap.width ? 0 : -1;
  for (int y = 0; wrong >= 0 && y < bitmap.height; y += 7) {
    for (int x = 0; x < bitmap.width; x += 7) {
      uint32_t shown = screen.At(left + x, top + y);
      wrong += shown != ~0u && shown != bitmap.At(x, y);
    }
  }
  return wrong;
}

std::map<std::string, std::string> Inspect(std::vector<std::string> args) {
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
  std::string make = "convert -size " + size + " xc: +noise Random -type TrueColor BMP3:'" +
                     p.box.app + "/" + bitmap + "'";
  EXPECT_EQ(system(make.c_str()), 0) << make;
  return p;
}

// Launches; once the runtime has been called (it reports, then waits for "done"),
// inspects with `args` and calls `meanwhile`; then lets the runtime return.
template <typename Meanwhile>
std::map<std::string, std::string> LaunchAndInspect(const Projector& p, const std::vector<std::string>& args,
                                                    LaunchResult* result, Meanwhile meanwhile) {
  for (const char* stale : {"/ready", "/done", "/report.txt"}) RemoveTree(p.box.root + stale);
  LaunchSpec spec = p.spec;
  spec.env.push_back("CINE_READY=" + ToWindowsPath(p.box.root + "/ready"));
  spec.env.push_back("CINE_WAIT_FOR=" + ToWindowsPath(p.box.root + "/done"));
  int pid = StartWine(ProbeRunArgs(p.box, spec), p.box.root + "/probe.out");
  bool called = WaitForFile(p.box.root + "/ready", 30000);
  std::map<std::string, std::string> seen = Inspect(args);
  meanwhile();
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
    std::string name = std::string("splash_") + c.size;
    SCOPED_TRACE(name);
    Projector p = Prepare(name, "MOVIE.EXE", "MOVIE.BMP", c.size);
    Image bitmap = Load(p.box.app + "/MOVIE.BMP", name + "_bitmap");
    int left = 0, top = 0, wrong = -1;
    sscanf(c.rect, "%d,%d", &left, &top);
    LaunchResult r;
    // Covered by a foreground window, clicked, sent palette news and a stray WM_USER, it
    // still shows the bitmap. The screen may lag a little: it is looked at a few times.
    auto seen = LaunchAndInspect(p, {"find", "10000"}, &r, [&] {
      for (int attempt = 0; attempt < 15 && wrong != 0; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(attempt ? 200 : 0) * TimeFactor());
        wrong = Mismatches(Load("", name), bitmap, left + 1, top + 1);
      }
    });
    EXPECT_EQ(seen["rect"], c.rect);
    ASSERT_EQ(seen["mine_foreground"], "1");
    EXPECT_EQ(seen["above_mine"], "1");
    EXPECT_EQ(seen["click_activated"], "0");
    EXPECT_EQ(seen["alive"], "1");
    EXPECT_EQ(wrong, 0) << "see build/screenshots/" << name << ".ppm";
    EXPECT_EQ(r.report["closeSplash_set"], "1");
    EXPECT_EQ(r.report["splashThreadId"], seen["thread"]);
  }
}

TEST(SplashWindow, RealisesItsPaletteInTheBackgroundAndCleansUpWhenClosed) {
  auto seen = Inspect({"palette"});
  for (std::string step : {"query", "other"}) {
    EXPECT_EQ(seen[step + ".realised"], "1") << step;
    EXPECT_EQ(seen[step + ".foreground"], "0") << step;
  }
  EXPECT_EQ(seen["self.realised"], "0");
  EXPECT_EQ(seen["closed"], "palette deleted, bitmap deleted, exit 0");
}

TEST(CloseSplash, TakesTheWindowDownEvenWhenCalledOnEntryAndASecondCallFails) {
  // The runtime closes first thing, racing the splash thread's start.
  Projector p = Prepare("close", "MOVIE.EXE", "MOVIE.BMP");
  p.spec.env = {"CINE_CLOSE_SPLASH=1"};
  for (int run = 0; run < 8; ++run) {
    SCOPED_TRACE(run);
    LaunchResult r;
    EXPECT_EQ(LaunchAndInspect(p, {"gone", "500"}, &r, [] {})["gone"], "1");
    EXPECT_NE(r.report["close1"], "0");
    EXPECT_EQ(r.report["splash_thread_ended"], "1");
    EXPECT_EQ(r.report["close2"], "0");
  }
}

TEST(SplashChoice, ABitmapNamedAfterTheExecutableShowsUnlessThePayloadForbidsIt) {
  struct Case {
    const char* exe;     // below app/
    const char* bitmap;  // below app/
    const char* pack;    // cinepack's options, packing the runtime to extract; none: no payload
    bool shown;
  };
  const Case cases[] = {
      {"MOVIE.EXE", "OTHER.BMP", nullptr, false},
      {"MOVIE.EXE", "MOVIE.EXE.BMP", nullptr, false},
      {"my.games/MOVIE.EXE", "my.games/MOVIE.BMP", nullptr, true},
      {"my.games/MOVIE.EXE", "my.BMP", nullptr, false},  // a folder's dot is no extension
      {"MOVIE.EXE", "MOVIE.BMP", "--option --big-endian-content", true},
      {"MOVIE.EXE", "MOVIE.BMP", "--no-splash", false},
      {"MOVIE.EXE", "broken", nullptr, false},  // MOVIE.BMP is no bitmap
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.exe) + " " + c.bitmap + " " + (c.pack ? c.pack : ""));
    Projector p = Prepare("choice" + std::to_string(&c - cases), c.exe, c.bitmap);
    if (std::string(c.bitmap) == "broken") WriteFile(p.box.app + "/MOVIE.BMP", "BM not a bitmap");
    if (c.pack) {
      WriteFile(p.box.root + "/movie.dat", "movie");
      std::string pack = HostDir() + "/cinepack build --stub " + Launcher() + " --movie " + p.box.root +
                         "/movie.dat --extract " + TestRuntime() + " " + c.pack + " -o " + p.spec.exe;
      ASSERT_EQ(system((pack + " >/dev/null").c_str()), 0) << pack;
    }
    LaunchResult r;
    EXPECT_EQ(LaunchAndInspect(p, {"gone", "1500"}, &r, [] {})["gone"], c.shown ? "0" : "1");
    EXPECT_EQ(r.report["closeSplash_set"], c.shown ? "1" : "0");
    EXPECT_EQ(r.report["splashThreadId"] != "0", c.shown);
    // From the work folder when the payload was recognised.
    EXPECT_EQ(r.report["runtimeLocation"], c.pack ? "2" : "1");
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
  for (const char* line : {"launcher exit code:  0", "-> removed", "runtimeLocation=2"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
  }
  EXPECT_EQ(log.find("still there"), std::string::npos) << log;
  // The bitmap centred in a one-pixel border, and not elsewhere, so the test can tell.
  Image splash = Load(build + "/demo/splash.png", "demo_splash");
  Image bitmap = Load(build + "/demo/DEMO.BMP", "demo_bitmap");
  int left = (splash.width - bitmap.width) / 2, top = (splash.height - bitmap.height) / 2;
  EXPECT_EQ(Mismatches(splash, bitmap, left, top), 0);
  EXPECT_GT(Mismatches(splash, bitmap, left + 100, top + 50), 0);
  // The movie's dark blue background across the middle of the screen.
  Image movie = Load(build + "/demo/movie.png", "demo_movie");
  int blue = 0;
  for (int x = 300; x < 720; x += 10) blue += movie.At(x, 300) == 0x10243C;
  EXPECT_GT(blue, 10);
}

}  // namespace
}  // namespace e2e
