// The splash screen under Wine as a user and the runtime see it: the bitmap beside the
// projector shown centred above other windows and deaf to input, taken down by the
// runtime's callback, absent without a readable bitmap or when the payload forbids it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "tests/e2e/harness.h"

namespace e2e {
namespace {

// Quadrant colours and a marker in each corner, so that a shifted, cut or flipped copy
// on the screen does not match.
uint32_t TestPixel(int w, int h, int x, int y) {
  if ((x < 2 || x >= w - 2) && (y < 2 || y >= h - 2)) {
    return x < 2 ? (y < 2 ? 0xFFFF00 : 0xFF00FF) : (y < 2 ? 0x00FFFF : 0xFFFFFF);
  }
  return y < h / 2 ? (x < w / 2 ? 0xCC0033 : 0x0066CC) : (x < w / 2 ? 0x339900 : 0x993366);
}

std::string MakeBmp(int w, int h) {
  uint32_t stride = (w * 3 + 3) & ~3, size = stride * h;
  // File header after "BM", then the 40-byte info header: 1 plane, 24 bits, uncompressed.
  const uint32_t fields[] = {54 + size, 0, 54, 40, uint32_t(w), uint32_t(h), 0x180001, 0, size, 0, 0, 0, 0};
  std::string bmp = "BM";
  for (uint32_t f : fields) bmp.append(reinterpret_cast<const char*>(&f), 4);
  for (int y = h - 1; y >= 0; --y) {
    std::string row(stride, 0);
    for (int x = 0; x < w; ++x) {
      for (int i = 0; i < 3; ++i) row[3 * x + i] = static_cast<char>(TestPixel(w, h, x, y) >> (8 * i));
    }
    bmp += row;
  }
  return bmp;
}

// How many corner markers and quadrant middles of the bitmap placed at (left, top) the
// Xvfb screen does not show; the capture is kept in build/screenshots. The screen may lag
// the window system a little: it is looked at again a few times. -1 without a capture.
int ScreenMismatches(const std::string& name, int left, int top, int w, int h) {
  std::string path = HostDir() + "/../screenshots/splash_" + name + ".ppm";
  MakeDirs(HostDir() + "/../screenshots");
  int wrong = -1;
  for (int attempt = 0; attempt < 15 && wrong != 0; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(200) * TimeFactor());
    std::string capture = "import -window root -depth 8 ppm:'" + path + "' 2>/dev/null";
    std::string ppm = system(capture.c_str()) == 0 ? ReadFile(path) : "";
    int sw = 0, sh = 0, depth = 0, at = 0;
    if (sscanf(ppm.c_str(), "P6 %d %d %d%n", &sw, &sh, &depth, &at) != 3 ||
        ppm.size() < at + 1 + 3u * sw * sh) return -1;
    wrong = 0;
    for (int p = 0; p < 8; ++p) {
      int x = p < 4 ? (p & 1) * (w - 1) : (p & 1 ? 3 * w / 4 : w / 4);
      int y = p < 4 ? (p >> 1 & 1) * (h - 1) : (p & 2 ? 3 * h / 4 : h / 4);
      if (left + x < 0 || left + x >= sw || top + y >= sh) continue;
      const char* shown = &ppm[at + 1 + 3 * ((top + y) * sw + left + x)];
      uint32_t rgb = uint8_t(shown[0]) << 16 | uint8_t(shown[1]) << 8 | uint8_t(shown[2]);
      wrong += rgb != TestPixel(w, h, x, y);
    }
  }
  return wrong;
}

std::map<std::string, std::string> Inspect(const std::vector<std::string>& args) {
  std::vector<std::string> command = {ToWindowsPath(WinDir() + "/tests/splash_inspect.exe")};
  command.insert(command.end(), args.begin(), args.end());
  return ParseKeyValues(RunWine(command).output);
}

// A projector app/<exe> with the test runtime, which reports what it got and then
// waits for the file "done" before returning.
struct Projector {
  Sandbox box;
  LaunchSpec spec;
  int pid = -1;
};

Projector Prepare(const std::string& name, const std::string& exe = "MOVIE.EXE") {
  Projector r{MakeSandbox("splash_" + name), {}};
  r.spec.exe = r.box.app + "/" + exe;
  r.spec.tmp = r.box.tmp;
  r.spec.cwd = r.box.root;
  r.spec.env = {"CINE_READY=" + ToWindowsPath(r.box.root + "/ready"),
                "CINE_WAIT_FOR=" + ToWindowsPath(r.box.root + "/done")};
  MakeDirs(r.spec.exe.substr(0, r.spec.exe.rfind('/')));
  CopyFile(Launcher(), r.spec.exe);
  CopyFile(TestRuntime(), r.spec.exe.substr(0, r.spec.exe.rfind('/')) + "/cine.dll");
  return r;
}

void Start(Projector& r) { r.pid = StartWine(ProbeRunArgs(r.box, r.spec), r.box.root + "/probe.out"); }
bool Called(const Projector& r) { return WaitForFile(r.box.root + "/ready", 30000); }
LaunchResult Finish(const Projector& r) {
  WriteFile(r.box.root + "/done", "");
  return ReadLaunch(r.box, FinishWine(r.pid, r.box.root + "/probe.out"));
}

TEST(SplashWindow, ShowsTheBitmapCentredAboveOtherWindowsAndIgnoresInput) {
  struct Case { int width, height, left, top; };  // the window's place on the 1024x768 desktop
  const Case cases[] = {
      {400, 300, 311, 233},
      {399, 201, 311, 282},   // a 401x203 window: halves round toward zero
      {1101, 50, -39, 358},   // wider than the desktop
  };
  for (const Case& c : cases) {
    std::string name = std::to_string(c.width) + "x" + std::to_string(c.height);
    SCOPED_TRACE(name);
    Projector r = Prepare("shown_" + name);
    WriteFile(r.box.app + "/MOVIE.BMP", MakeBmp(c.width, c.height));
    Start(r);
    bool called = Called(r);
    // Covered by a foreground window, clicked, sent palette news and a stray WM_USER...
    auto seen = Inspect({"find", "10000"});
    // ...and still showing the bitmap, inside a one-pixel border.
    int wrong = ScreenMismatches(name, c.left + 1, c.top + 1, c.width, c.height);
    LaunchResult result = Finish(r);
    ASSERT_TRUE(called) << result.probeOutput;
    ASSERT_EQ(seen["found"], "1");
    EXPECT_EQ(seen["rect"], std::to_string(c.left) + "," + std::to_string(c.top) + "," +
                                std::to_string(c.left + c.width + 2) + "," +
                                std::to_string(c.top + c.height + 2));
    ASSERT_EQ(seen["mine_foreground"], "1");
    EXPECT_EQ(seen["above_mine"], "1");
    EXPECT_EQ(seen["click_activated"], "0");
    EXPECT_EQ(seen["alive"], "1");
    EXPECT_EQ(wrong, 0) << "see build/screenshots/splash_" << name << ".ppm";
    EXPECT_EQ(result.report["closeSplash_set"], "1");
    EXPECT_EQ(result.report["splashThreadId"], seen["thread"]);
  }
}

TEST(SplashWindow, RealisesItsPaletteInTheBackgroundAndNotOnItsOwnChange) {
  auto seen = Inspect({"palette"});
  ASSERT_EQ(seen["found"], "1");
  for (const char* step : {"query", "other"}) {
    EXPECT_EQ(seen[std::string(step) + ".realised"], "1") << step;
    EXPECT_EQ(seen[std::string(step) + ".foreground"], "0") << step;
  }
  EXPECT_EQ(seen["self.realised"], "0");
}

TEST(CloseSplash, TakesTheWindowDownEndsTheThreadAndASecondCallFails) {
  Projector r = Prepare("close");
  WriteFile(r.box.app + "/MOVIE.BMP", MakeBmp(40, 30));
  // The runtime closes only once the gate opens, after the window has made its palette.
  r.spec.env.push_back("CINE_CLOSE_SPLASH=1");
  r.spec.env.push_back("CINE_CLOSE_WHEN=" + ToWindowsPath(r.box.root + "/gate"));
  Start(r);
  auto shown = Inspect({"find", "10000"});
  WriteFile(r.box.root + "/gate", "");
  bool called = Called(r);
  auto gone = Inspect({"gone", "3000"});
  LaunchResult result = Finish(r);
  ASSERT_TRUE(called) << result.probeOutput;
  ASSERT_EQ(shown["found"], "1");
  EXPECT_EQ(gone["gone"], "1");
  EXPECT_NE(result.report["close1"], "0");
  EXPECT_EQ(result.report["splash_thread_ended"], "1");
  EXPECT_EQ(result.report["close2"], "0");
  // GDI object types: the bitmap (7) and palette (5) lived until the close, not after.
  EXPECT_EQ(result.report["splash_bitmap_type_before"] + result.report["splash_palette_type_before"], "75");
  EXPECT_EQ(result.report["splash_bitmap_type_after"] + result.report["splash_palette_type_after"], "00");
}

TEST(CloseSplash, ARequestMadeOnEntryIsNeverLost) {
  // The runtime closes first thing, racing the splash thread's start.
  Projector r = Prepare("close_at_once");
  WriteFile(r.box.app + "/MOVIE.BMP", MakeBmp(40, 30));
  r.spec.env.push_back("CINE_CLOSE_SPLASH=1");
  for (int run = 0; run < 8; ++run) {
    SCOPED_TRACE(run);
    for (const char* stale : {"/ready", "/done", "/report.txt"}) RemoveTree(r.box.root + stale);
    Start(r);
    bool called = Called(r);
    auto window = Inspect({"gone", "500"});
    LaunchResult result = Finish(r);
    ASSERT_TRUE(called) << result.probeOutput;
    EXPECT_EQ(result.report["splash_thread_ended"], "1");
    EXPECT_EQ(window["gone"], "1");
  }
}

TEST(SplashChoice, ABitmapNamedAfterTheExecutableShowsUnlessThePayloadForbidsIt) {
  struct Case {
    const char* name;
    const char* exe;     // below app/
    const char* bitmap;  // below app/, a valid bitmap unless `content` is given
    const char* content;
    int64_t flags2;      // packed with this second flag word; -1: no payload
    bool shown;
  };
  const Case cases[] = {
      {"missing", "MOVIE.EXE", "OTHER.BMP", nullptr, -1, false},
      {"not_a_bitmap", "MOVIE.EXE", "MOVIE.BMP", "BM not a bitmap", -1, false},
      {"extension_added", "MOVIE.EXE", "MOVIE.EXE.BMP", nullptr, -1, false},
      {"dotted_folder", "my.games/MOVIE.EXE", "my.games/MOVIE.BMP", nullptr, -1, true},
      {"folder_dot_is_no_extension", "my.games/MOVIE.EXE", "my.BMP", nullptr, -1, false},
      {"other_flags", "MOVIE.EXE", "MOVIE.BMP", nullptr, 0xFFFFFFC3, true},
      {"no_splash_flag", "MOVIE.EXE", "MOVIE.BMP", nullptr, 0x04, false},
      {"flag_0x20", "MOVIE.EXE", "MOVIE.BMP", nullptr, 0x20, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Projector r = Prepare(std::string("choice_") + c.name, c.exe);
    WriteFile(r.box.app + "/" + c.bitmap, c.content ? c.content : MakeBmp(40, 30));
    if (c.flags2 >= 0) {
      // Packed with the runtime to extract, the flag word then set in the header.
      WriteFile(r.box.root + "/movie.dat", "movie");
      std::string pack = HostDir() + "/cinepack build --stub " + Launcher() + " --movie " +
                         r.box.root + "/movie.dat --extract " + TestRuntime() + " -o " +
                         r.spec.exe + " >/dev/null 2>&1";
      ASSERT_EQ(system(pack.c_str()), 0) << pack;
      std::string image = ReadFile(r.spec.exe);
      uint32_t header = ReadLE32(image, image.size() - 4);
      ASSERT_LT(header + 16, image.size());
      for (int i = 0; i < 4; ++i) image[header + 12 + i] = static_cast<char>(c.flags2 >> (8 * i));
      WriteFile(r.spec.exe, image);
    }
    Start(r);
    bool called = Called(r);
    auto window = Inspect({"gone", "1500"});
    LaunchResult result = Finish(r);
    ASSERT_TRUE(called) << result.probeOutput;
    EXPECT_EQ(window["gone"], c.shown ? "0" : "1");
    EXPECT_EQ(result.report["closeSplash_set"], c.shown ? "1" : "0");
    EXPECT_EQ(result.report["splashThreadId"] != "0", c.shown);
    // The runtime came from the work folder: the payload was recognised.
    EXPECT_EQ(result.report["runtimeLocation"], c.flags2 >= 0 ? "2" : "1");
  }
}

TEST(SplashFailure, StaysOnScreenUnderTheFailureMessageUntilTheProcessEnds) {
  Sandbox box = MakeSandbox("splash_failure");
  CopyFile(Launcher(), box.app + "/MOVIE.EXE");  // no runtime anywhere
  WriteFile(box.app + "/MOVIE.BMP", MakeBmp(400, 300));
  LaunchSpec spec;
  spec.exe = box.app + "/MOVIE.EXE";
  spec.tmp = box.tmp;
  spec.cwd = box.root;
  spec.answer = "none";  // the inspector answers, once it has looked
  int pid = StartWine(ProbeRunArgs(box, spec), box.root + "/probe.out");
  auto seen = Inspect({"box", "15000"});
  LaunchResult result = ReadLaunch(box, FinishWine(pid, box.root + "/probe.out"));
  auto after = Inspect({"gone", "3000"});
  ASSERT_EQ(seen["found"], "1") << result.probeOutput;
  ASSERT_EQ(seen["box_found"], "1");
  EXPECT_EQ(seen["splash_visible"], "1");
  EXPECT_EQ(seen["box_above"], "1");
  EXPECT_EQ(result.box["text"], PlayerMissingText);
  EXPECT_EQ(after["gone"], "1");
}

}  // namespace
}  // namespace e2e
