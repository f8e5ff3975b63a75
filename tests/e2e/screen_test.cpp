// What a user sees under Wine: the splash bitmap beside the projector shown centred above
// other windows and deaf to input, taken down by the runtime's callback, absent without a
// readable bitmap or when the payload forbids it; and the demo playing.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>

#include "tests/e2e/harness.h"

namespace e2e {
namespace {

// An image as 8-bit RGB, read through ImageMagick from a file or, for "", from the
// Xvfb screen (kept under build/screenshots for people to look at).
struct Image {
  int width = 0, height = 0, at = 0;
  std::string ppm;
  // 0xRRGGBB, or ~0 off the image.
  uint32_t At(int x, int y) const {
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
  int depth = 0;
  if (system(command.c_str()) == 0) image.ppm = ReadFile(out);
  if (sscanf(image.ppm.c_str(), "P6 %d %d %d%n", &image.width, &image.height, &depth, &image.at) != 3 ||
      image.ppm.size() < image.at + 1 + 3u * image.width * image.height) image = Image();
  return image;
}

// Every pixel differs from its neighbours, so a shifted, cut or flipped copy does not match.
uint32_t TestPixel(int x, int y) { return (x * 2654435761u ^ y * 40503u * 97u) & 0xFFFFFF; }

std::string MakeBmp(int w, int h) {
  uint32_t stride = (w * 3 + 3) & ~3, size = stride * h;
  // The file header after "BM", then the 40-byte info header: 1 plane, 24 bits, uncompressed.
  const uint32_t fields[] = {54 + size, 0, 54, 40, uint32_t(w), uint32_t(h), 0x180001, 0, size, 0, 0, 0, 0};
  std::string bmp = "BM";
  for (uint32_t f : fields) bmp.append(reinterpret_cast<const char*>(&f), 4);
  for (int y = h - 1; y >= 0; --y) {
    std::string row(stride, 0);
    for (int i = 0; i < 3 * w; ++i) row[i] = static_cast<char>(TestPixel(i / 3, y) >> (8 * (i % 3)));
    bmp += row;
  }
  return bmp;
}

// Sampled pixels of the test bitmap at (left, top) that the screen does not show; looked
// at again a few times, as the screen may lag the window system. -1 without a capture.
int ScreenMismatches(const std::string& name, int left, int top, int w, int h) {
  int wrong = -1;
  for (int attempt = 0; attempt < 15 && wrong != 0; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(200) * TimeFactor());
    Image screen = Load("", name);
    if (screen.width == 0) return -1;
    wrong = 0;
    for (int y = 0; y < h; y += y + 7 < h ? 7 : std::max(1, h - 1 - y)) {
      for (int x = 0; x < w; x += x + 7 < w ? 7 : std::max(1, w - 1 - x)) {
        uint32_t shown = screen.At(left + x, top + y);
        wrong += shown != ~0u && shown != TestPixel(x, y);
      }
    }
  }
  return wrong;
}

std::map<std::string, std::string> Inspect(const std::vector<std::string>& args) {
  std::vector<std::string> command = {ToWindowsPath(WinDir() + "/tests/splash_inspect.exe")};
  command.insert(command.end(), args.begin(), args.end());
  return ParseKeyValues(RunWine(command).output);
}

// A projector app/<exe> with the test runtime beside it and the test bitmap app/<bitmap>.
struct Projector {
  Sandbox box;
  LaunchSpec spec;
};

Projector Prepare(const std::string& name, const std::string& exe, const std::string& bitmap) {
  Projector p{MakeSandbox("splash_" + name), {}};
  p.spec.exe = p.box.app + "/" + exe;
  p.spec.tmp = p.box.tmp;
  p.spec.cwd = p.box.root;
  MakeDirs(p.spec.exe.substr(0, p.spec.exe.rfind('/')));
  CopyFile(Launcher(), p.spec.exe);
  CopyFile(TestRuntime(), p.spec.exe.substr(0, p.spec.exe.rfind('/')) + "/cine.dll");
  WriteFile(p.box.app + "/" + bitmap, MakeBmp(40, 30));
  return p;
}

// Launches; once the runtime has been called (it reports, then waits for "done"),
// inspects with `args` and runs `meanwhile`; then lets the runtime return.
std::map<std::string, std::string> LaunchAndInspect(const Projector& p,
    const std::vector<std::string>& args, LaunchResult* result,
    const std::function<void()>& meanwhile = [] {}) {
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
  // The window's rectangle on the 1024x768 desktop: the bitmap in a one-pixel border.
  struct Case { int width, height; const char* rect; };
  const Case cases[] = {
      {400, 300, "311,233,713,535"},
      {399, 201, "311,282,712,485"},  // a 401x203 window: halves round toward zero
      {1101, 50, "-39,358,1064,410"},  // wider than the desktop
  };
  for (const Case& c : cases) {
    std::string name = "splash_" + std::to_string(c.width) + "x" + std::to_string(c.height);
    SCOPED_TRACE(name);
    Projector p = Prepare(name, "MOVIE.EXE", "MOVIE.BMP");
    WriteFile(p.box.app + "/MOVIE.BMP", MakeBmp(c.width, c.height));
    int left = 0, top = 0, wrong = -1;
    sscanf(c.rect, "%d,%d", &left, &top);
    LaunchResult r;
    // Covered by a foreground window, clicked, sent palette news and a stray WM_USER, and
    // still showing the bitmap.
    auto seen = LaunchAndInspect(p, {"find", "10000"}, &r, [&] {
      wrong = ScreenMismatches(name, left + 1, top + 1, c.width, c.height);
    });
    ASSERT_EQ(seen["found"], "1");
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
  ASSERT_EQ(seen["found"], "1");
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
    EXPECT_EQ(LaunchAndInspect(p, {"gone", "500"}, &r)["gone"], "1");
    EXPECT_NE(r.report["close1"], "0");
    EXPECT_EQ(r.report["splash_thread_ended"], "1");
    EXPECT_EQ(r.report["close2"], "0");
  }
}

TEST(SplashChoice, ABitmapNamedAfterTheExecutableShowsUnlessThePayloadForbidsIt) {
  struct Case {
    const char* exe;       // below app/
    const char* bitmap;    // below app/
    const char* damage;    // the bitmap file's content instead of a bitmap
    int64_t flags2;        // packed with this second flag word; -1: no payload
    bool shown;
  };
  const Case cases[] = {
      {"MOVIE.EXE", "OTHER.BMP", nullptr, -1, false},
      {"MOVIE.EXE", "MOVIE.BMP", "BM not a bitmap", -1, false},
      {"MOVIE.EXE", "MOVIE.EXE.BMP", nullptr, -1, false},
      {"my.games/MOVIE.EXE", "my.games/MOVIE.BMP", nullptr, -1, true},
      {"my.games/MOVIE.EXE", "my.BMP", nullptr, -1, false},  // a folder's dot is no extension
      {"MOVIE.EXE", "MOVIE.BMP", nullptr, 0xFFFFFFC3, true},
      {"MOVIE.EXE", "MOVIE.BMP", nullptr, 0x04, false},
      {"MOVIE.EXE", "MOVIE.BMP", nullptr, 0x20, false},
  };
  for (const Case& c : cases) {
    std::string name = std::string(c.bitmap) + "_" + std::to_string(c.flags2);
    SCOPED_TRACE(std::string(c.exe) + " " + name);
    Projector p = Prepare("choice_" + name.substr(name.rfind('/') + 1), c.exe, c.bitmap);
    if (c.damage) WriteFile(p.box.app + "/" + c.bitmap, c.damage);
    if (c.flags2 >= 0) {
      // Packed with the runtime to extract, the flag word then set in the header.
      WriteFile(p.box.root + "/movie.dat", "movie");
      std::string pack = HostDir() + "/cinepack build --stub " + Launcher() + " --movie " +
                         p.box.root + "/movie.dat --extract " + TestRuntime() + " -o " +
                         p.spec.exe + " >/dev/null 2>&1";
      ASSERT_EQ(system(pack.c_str()), 0) << pack;
      std::string image = ReadFile(p.spec.exe);
      uint32_t header = ReadLE32(image, image.size() - 4);
      ASSERT_LT(header + 16, image.size());
      for (int i = 0; i < 4; ++i) image[header + 12 + i] = static_cast<char>(c.flags2 >> (8 * i));
      WriteFile(p.spec.exe, image);
    }
    LaunchResult r;
    EXPECT_EQ(LaunchAndInspect(p, {"gone", "1500"}, &r)["gone"], c.shown ? "0" : "1");
    EXPECT_EQ(r.report["closeSplash_set"], c.shown ? "1" : "0");
    EXPECT_EQ(r.report["splashThreadId"] != "0", c.shown);
    // From the work folder when the payload was recognised.
    EXPECT_EQ(r.report["runtimeLocation"], c.flags2 >= 0 ? "2" : "1");
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
  // Sampled pixels within 6 of `want` in each channel, and of all that were looked at.
  auto near = [](uint32_t shown, uint32_t want) {
    for (int s = 0; s < 24; s += 8) {
      if (shown == ~0u || abs(int(shown >> s & 0xFF) - int(want >> s & 0xFF)) > 6) return false;
    }
    return true;
  };
  // The bitmap centred in a one-pixel border, and not elsewhere, so the test can tell.
  Image splash = Load(build + "/demo/splash.png", "demo_splash");
  Image bitmap = Load(build + "/demo/DEMO.BMP", "demo_bitmap");
  ASSERT_EQ(splash.width, 1024);
  for (int shift : {0, 100}) {
    int same = 0, total = 0;
    int left = (1024 - bitmap.width) / 2 + shift, top = (768 - bitmap.height) / 2 + shift;
    for (int y = 0; y < bitmap.height; y += 7) {
      for (int x = 0; x < bitmap.width; x += 7, ++total) same += near(splash.At(left + x, top + y), bitmap.At(x, y));
    }
    EXPECT_EQ(same > total * 0.95, shift == 0) << same << " of " << total << " at shift " << shift;
  }
  // The movie's dark blue background across the middle of the screen.
  Image movie = Load(build + "/demo/movie.png", "demo_movie");
  int blue = 0;
  for (int x = 300; x < 720; x += 10) {
    uint32_t shown = movie.At(x, 300);
    blue += near(shown, 0x10243C) || near(shown, 0x17324F) || near(shown, 0x0B1A2B);
  }
  EXPECT_GT(blue, 10);
}

}  // namespace
}  // namespace e2e
