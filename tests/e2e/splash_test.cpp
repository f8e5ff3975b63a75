// The splash screen under Wine: the bitmap beside the projector shown in its window,
// what that window is and where, how the runtime takes it down, and when there is none.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <functional>
#include <sstream>
#include <thread>

#include "tests/e2e/harness.h"

namespace e2e {
namespace {


struct Rgb {
  int r, g, b;
  bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

std::ostream& operator<<(std::ostream& out, const Rgb& c) {
  return out << "(" << c.r << "," << c.g << "," << c.b << ")";
}

// The test bitmap: four quadrants and a 2x2 marker in each corner, all colours of the
// splash palette's cube, so that a palette display could not alter them either.
Rgb TestPixel(int width, int height, int x, int y) {
  bool left = x < 2, right = x >= width - 2, top = y < 2, bottom = y >= height - 2;
  if (left && top) return {255, 255, 0};
  if (right && top) return {0, 255, 255};
  if (left && bottom) return {255, 0, 255};
  if (right && bottom) return {255, 255, 255};
  if (y < height / 2) return x < width / 2 ? Rgb{204, 0, 51} : Rgb{0, 102, 204};
  return x < width / 2 ? Rgb{51, 153, 0} : Rgb{153, 51, 102};
}

// A 24-bit bottom-up BMP file.
std::string MakeBmp(int width, int height) {
  auto put32 = [](std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i));
  };
  auto put16 = [](std::string& s, uint16_t v) {
    s += static_cast<char>(v);
    s += static_cast<char>(v >> 8);
  };
  int stride = (width * 3 + 3) & ~3;
  std::string bmp = "BM";
  put32(bmp, 54 + stride * height);
  put32(bmp, 0);
  put32(bmp, 54);
  put32(bmp, 40);
  put32(bmp, width);
  put32(bmp, height);
  put16(bmp, 1);
  put16(bmp, 24);
  for (int i = 0; i < 6; ++i) put32(bmp, i == 1 ? stride * height : 0);
  for (int y = height - 1; y >= 0; --y) {
    std::string row;
    for (int x = 0; x < width; ++x) {
      Rgb c = TestPixel(width, height, x, y);
      row += static_cast<char>(c.b);
      row += static_cast<char>(c.g);
      row += static_cast<char>(c.r);
    }
    row.resize(stride, 0);
    bmp += row;
  }
  return bmp;
}

std::map<std::string, std::string> Inspect(const std::vector<std::string>& args) {
  std::vector<std::string> command = {ToWindowsPath(WinDir() + "/tests/splash_inspect.exe")};
  command.insert(command.end(), args.begin(), args.end());
  return ParseKeyValues(RunWine(command).output);
}

std::vector<int> Numbers(const std::string& text) {
  std::vector<int> numbers;
  std::istringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) numbers.push_back(std::atoi(item.c_str()));
  return numbers;
}

// The Xvfb screen, captured with ImageMagick into a PPM file that stays under the build
// root for people to look at.
struct Screen {
  int width = 0;
  int height = 0;
  std::string pixels;  // RGB, 8 bits each
  Rgb At(int x, int y) const {
    size_t at = (static_cast<size_t>(y) * width + x) * 3;
    return {static_cast<unsigned char>(pixels[at]), static_cast<unsigned char>(pixels[at + 1]),
            static_cast<unsigned char>(pixels[at + 2])};
  }
};

std::string ShotPath(const std::string& name) {
  std::string folder = HostDir() + "/../screenshots";
  MakeDirs(folder);
  return folder + "/splash_" + name + ".ppm";
}

Screen CaptureScreen(const std::string& name) {
  Screen screen;
  const char* display = getenv("DISPLAY");
  if (display == nullptr || *display == 0) return screen;
  std::string path = ShotPath(name);
  std::string command = "import -display '" + std::string(display) +
                        "' -window root -depth 8 ppm:'" + path + "' 2>/dev/null";
  if (system(command.c_str()) != 0) return screen;
  std::string data = ReadFile(path);
  std::istringstream in(data);
  std::string magic;
  int maxValue = 0;
  in >> magic >> screen.width >> screen.height >> maxValue;
  in.get();
  if (magic != "P6" || maxValue != 255) return Screen();
  screen.pixels = data.substr(static_cast<size_t>(in.tellg()));
  if (screen.pixels.size() < static_cast<size_t>(screen.width) * screen.height * 3) {
    return Screen();
  }
  return screen;
}

// Points of the bitmap worth comparing: each corner marker and each quadrant's middle.
std::vector<std::pair<int, int>> ProbePoints(int width, int height) {
  return {{0, 0},
          {width - 1, 0},
          {0, height - 1},
          {width - 1, height - 1},
          {1, 1},
          {width / 4, height / 4},
          {3 * width / 4, height / 4},
          {width / 4, 3 * height / 4},
          {3 * width / 4, 3 * height / 4}};
}

// Compares the screen with the bitmap placed at (left, top); points off the screen are
// skipped. Returns the mismatches, described.
std::vector<std::string> CompareWithBitmap(const Screen& screen, int left, int top, int width,
                                           int height) {
  std::vector<std::string> mismatches;
  if (screen.width == 0) return {"no screenshot (is DISPLAY set, is ImageMagick there?)"};
  for (auto [x, y] : ProbePoints(width, height)) {
    int sx = left + x, sy = top + y;
    if (sx < 0 || sy < 0 || sx >= screen.width || sy >= screen.height) continue;
    Rgb want = TestPixel(width, height, x, y);
    Rgb got = screen.At(sx, sy);
    if (!(want == got)) {
      std::ostringstream text;
      text << "bitmap (" << x << "," << y << ") " << want << " shows as " << got;
      mismatches.push_back(text.str());
    }
  }
  return mismatches;
}

// How many pixels of the screen rectangle `area` (left, top, right, bottom) show the test
// bitmap, whose client area on the screen is `splash`; -1 without a screenshot or when
// the two do not overlap.
int BitmapPixelsShown(const Screen& screen, const std::vector<int>& area,
                      const std::vector<int>& splash) {
  if (screen.width == 0) return -1;
  int width = splash[2] - splash[0], height = splash[3] - splash[1];
  int shown = 0, looked = 0;
  for (int y = std::max({area[1], splash[1], 0}); y < std::min({area[3], splash[3], screen.height}); ++y) {
    for (int x = std::max({area[0], splash[0], 0}); x < std::min({area[2], splash[2], screen.width}); ++x) {
      ++looked;
      if (screen.At(x, y) == TestPixel(width, height, x - splash[0], y - splash[1])) ++shown;
    }
  }
  return looked == 0 ? -1 : shown;
}

// The screen may lag the window system a little: capture until it matches, a few times.
std::vector<std::string> WaitForBitmapOnScreen(const std::string& name, int left, int top,
                                               int width, int height) {
  std::vector<std::string> mismatches;
  for (int attempt = 0; attempt < 15; ++attempt) {
    mismatches = CompareWithBitmap(CaptureScreen(name), left, top, width, height);
    if (mismatches.empty()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(200) * TimeFactor());
  }
  return mismatches;
}

struct Projector {
  Sandbox box;
  std::string exe;
};

// A projector without payload in `folder` (relative to the sandbox's app folder), with
// the test runtime beside it.
Projector MakeProjector(const std::string& name, const std::string& exeName = "MOVIE.EXE",
                        const std::string& folder = "") {
  Projector p{MakeSandbox("splash_" + name), ""};
  std::string dir = p.box.app + (folder.empty() ? "" : "/" + folder);
  p.exe = dir + "/" + exeName;
  CopyFile(Launcher(), p.exe);
  CopyFile(TestRuntime(), dir + "/cine.dll");
  return p;
}

LaunchSpec SpecFor(const Projector& p) {
  LaunchSpec spec;
  spec.exe = p.exe;
  spec.tmp = p.box.tmp;
  spec.cwd = p.box.root;
  return spec;
}

// A projector running in the background. Its runtime, once called, waits for "done"
// before returning, so that the test can look at the screen meanwhile.
struct Running {
  const Projector* projector;
  int pid;
  std::string output, ready, done;
};

Running StartRunning(const Projector& p, LaunchSpec spec) {
  Running run{&p, -1, p.box.root + "/probe.out", p.box.root + "/ready", p.box.root + "/done"};
  for (const std::string& stale : {run.ready, run.done, p.box.root + "/report.txt"}) {
    RemoveTree(stale);
  }
  spec.env.push_back("CINE_READY=" + ToWindowsPath(run.ready));
  spec.env.push_back("CINE_WAIT_FOR=" + ToWindowsPath(run.done));
  run.pid = StartWine(ProbeRunArgs(p.box, spec), run.output);
  return run;
}

// Whether the runtime has been called and has written its report.
bool WaitUntilCalled(const Running& run) { return WaitForFile(run.ready, 30000); }

LaunchResult FinishRunning(const Running& run) {
  WriteFile(run.done, "");
  return ReadLaunch(run.projector->box, FinishWine(run.pid, run.output));
}

// Launches and, once the runtime has been called, runs `look`; then lets it return.
LaunchResult LaunchAndLook(const Projector& p, const LaunchSpec& spec,
                           const std::function<void()>& look) {
  Running run = StartRunning(p, spec);
  bool called = WaitUntilCalled(run);
  if (called) look();
  LaunchResult result = FinishRunning(run);
  EXPECT_TRUE(called) << "the runtime was not called: " << result.probeOutput;
  return result;
}

TEST(SplashWindow, ShowsTheBitmapCentredTopmostDisabledWithAThinBorder) {
  struct Case {
    const char* name;
    int width, height;
    int left, top;  // the window's expected place on the 1024x768 desktop
  };
  const Case cases[] = {
      {"400x300", 400, 300, 311, 233},
      {"399x201", 399, 201, 311, 282},   // 401x203 window: halves round toward zero
      {"1101x50", 1101, 50, -39, 358},  // wider than the desktop
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Projector p = MakeProjector(std::string("shown_") + c.name);
    WriteFile(p.box.app + "/MOVIE.BMP", MakeBmp(c.width, c.height));
    std::map<std::string, std::string> window;
    std::vector<std::string> mismatches;
    LaunchResult r = LaunchAndLook(p, SpecFor(p), [&] {
      window = Inspect({"find", "10000"});
      mismatches = WaitForBitmapOnScreen(c.name, c.left + 1, c.top + 1, c.width, c.height);
    });
    ASSERT_EQ(window["found"], "1") << r.probeOutput;
    EXPECT_EQ(window["class"], "SplashScreenWindowClass");
    std::vector<int> rect = Numbers(window["rect"]);
    std::vector<int> expected = {c.left, c.top, c.left + c.width + 2, c.top + c.height + 2};
    EXPECT_EQ(rect, expected);
    // The client area is the bitmap's size, one pixel in from each side.
    std::vector<int> client = Numbers(window["client"]);
    expected = {c.left + 1, c.top + 1, c.left + 1 + c.width, c.top + 1 + c.height};
    EXPECT_EQ(client, expected);
    // The system adds WS_VISIBLE and, for every top-level window, WS_CLIPSIBLINGS.
    unsigned long style = std::stoul(window["style"], nullptr, 16);
    EXPECT_EQ(style & ~0x14000000ul, 0x88800000ul) << window["style"];
    EXPECT_EQ(window["exstyle"], "00000088");
    EXPECT_EQ(window["enabled"], "0");
    EXPECT_EQ(window["visible"], "1");
    EXPECT_EQ(window["owner"], "0");
    EXPECT_EQ(window["bitmap_slot_set"], "1");
    EXPECT_TRUE(mismatches.empty()) << mismatches.front() << " (" << mismatches.size()
                                    << " in all; see " << ShotPath(c.name) << ")";
    // The runtime got the callback and the identifier of the window's thread.
    EXPECT_EQ(r.report["closeSplash_set"], "1");
    EXPECT_EQ(r.report["splashThreadId"], window["thread"]);
    EXPECT_EQ(r.exitCode, 0);
  }
}

TEST(SplashWindow, IgnoresClicksStrayUserMessagesAndPaletteNews) {
  Projector p = MakeProjector("deaf");
  WriteFile(p.box.app + "/MOVIE.BMP", MakeBmp(400, 300));
  std::map<std::string, std::string> click, steps;
  std::vector<std::string> mismatches;
  LaunchResult r = LaunchAndLook(p, SpecFor(p), [&] {
    click = Inspect({"click"});
    steps = Inspect({"send", "other,self,query,user,other"});
    mismatches = WaitForBitmapOnScreen("deaf", 312, 234, 400, 300);
  });
  ASSERT_EQ(click["found"], "1");
  ASSERT_EQ(click["foreground_before_is_mine"], "1");
  EXPECT_EQ(click["under_cursor_is_splash"], "1");
  EXPECT_EQ(click["foreground_is_mine"], "1") << "a click must not activate the splash";
  EXPECT_EQ(click["alive"], "1");

  ASSERT_EQ(steps["found"], "1");
  // The palette exists once realisation was asked for, and it is the same one after
  // every later message: created once, never replaced or dropped.
  std::string palette = steps["step1.other"];
  EXPECT_NE(palette, "0");
  for (const char* key : {"step2.self", "step3.query", "step4.user", "step5.other"}) {
    EXPECT_EQ(steps[key], palette) << key;
  }
  EXPECT_EQ(steps["step1.result"], "0");
  EXPECT_EQ(steps["step2.result"], "0");
  // WM_USER posted to the window, not to the thread, is no close request.
  EXPECT_EQ(steps["step4.alive"], "1");
  // After the realisations the bitmap still paints.
  EXPECT_TRUE(mismatches.empty()) << mismatches.front();
  EXPECT_EQ(r.report["called"], "1");
}

TEST(CloseSplash, TakesTheWindowDownEndsTheThreadAndASecondCallFails) {
  Projector p = MakeProjector("close");
  WriteFile(p.box.app + "/MOVIE.BMP", MakeBmp(400, 300));
  std::string gate = p.box.root + "/gate";
  RemoveTree(gate);
  LaunchSpec spec = SpecFor(p);
  spec.env = {"CINE_CLOSE_SPLASH=1", "CINE_CLOSE_WHEN=" + ToWindowsPath(gate)};
  // The runtime calls closeSplash only when the gate opens, after the window has been
  // seen and made to create its palette, so that the close is seen to delete it.
  Running run = StartRunning(p, spec);
  std::map<std::string, std::string> shown = Inspect({"send", "other"});
  WriteFile(gate, "");
  bool called = WaitUntilCalled(run);
  std::map<std::string, std::string> gone = Inspect({"gone", "3000"});
  std::vector<std::string> left = CompareWithBitmap(CaptureScreen("closed"), 312, 234, 400, 300);
  LaunchResult r = FinishRunning(run);
  ASSERT_TRUE(called) << r.probeOutput;

  ASSERT_EQ(shown["found"], "1");
  EXPECT_NE(shown["step1.other"], "0") << "the palette was not created";
  EXPECT_EQ(gone["gone"], "1");
  // Nothing of the bitmap is left on the screen.
  EXPECT_EQ(left.size(), ProbePoints(400, 300).size());
  EXPECT_NE(r.report["close1"], "0");
  EXPECT_EQ(r.report["splash_thread_ended"], "1");
  EXPECT_EQ(r.report["close2"], "0");
  // Bitmap (7) and palette (5) existed until the close and were deleted by it.
  EXPECT_EQ(r.report["splash_bitmap_type_before"], "7");
  EXPECT_EQ(r.report["splash_palette_type_before"], "5");
  EXPECT_EQ(r.report["splash_bitmap_type_after"], "0");
  EXPECT_EQ(r.report["splash_palette_type_after"], "0");
  EXPECT_EQ(r.exitCode, 0);
}

TEST(CloseSplash, ARequestMadeOnEntryIsNeverLost) {
  // The runtime closes the splash first thing, racing the splash thread's start; run
  // after run, the request must find the thread and take the window down.
  Projector p = MakeProjector("close_at_once");
  WriteFile(p.box.app + "/MOVIE.BMP", MakeBmp(40, 30));
  LaunchSpec spec = SpecFor(p);
  spec.env = {"CINE_CLOSE_SPLASH=1"};
  for (int run = 0; run < 12; ++run) {
    SCOPED_TRACE(run);
    std::map<std::string, std::string> window;
    LaunchResult r = LaunchAndLook(p, spec, [&] { window = Inspect({"gone", "500"}); });
    EXPECT_NE(r.report["close1"], "0") << "the request was not posted";
    EXPECT_EQ(r.report["splash_thread_ended"], "1");
    EXPECT_EQ(window["gone"], "1") << "the splash stayed up";
  }
}

// Runs a projector and reports whether it started a splash, by the block the runtime
// received and by the window on the screen.
struct SplashSeen {
  std::string closeSplashSet, threadId, windowFound;
};

SplashSeen LaunchAndSeeSplash(const Projector& p) {
  std::map<std::string, std::string> window;
  LaunchResult r = LaunchAndLook(p, SpecFor(p), [&] { window = Inspect({"find", "1500"}); });
  return {r.report["closeSplash_set"], r.report["splashThreadId"], window["found"]};
}

TEST(NoSplash, WithoutAReadableBitmapTheBlockCarriesNoCallback) {
  std::string bmp = MakeBmp(40, 30);
  struct Case {
    const char* name;
    const char* file;  // beside the projector; none when null
    std::string content;
    bool folder;       // a folder of that name instead of a file
  };
  const Case cases[] = {
      {"missing", nullptr, "", false},
      {"other_name", "OTHER.BMP", bmp, false},
      {"exe_name_plus_bmp", "MOVIE.EXE.BMP", bmp, false},
      {"empty", "MOVIE.BMP", "", false},
      // Cut inside its file header. (Cut after the fields the loader needs, Wine shows it
      // black: what loads is the system loader's choice, not the launcher's.)
      {"truncated", "MOVIE.BMP", bmp.substr(0, 10), false},
      {"not_a_bitmap", "MOVIE.BMP", std::string(4000, 'x'), false},
      {"a_folder", "MOVIE.BMP", "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Projector p = MakeProjector(std::string("none_") + c.name);
    if (c.file && c.folder) MakeDirs(p.box.app + "/" + c.file);
    if (c.file && !c.folder) WriteFile(p.box.app + "/" + c.file, c.content);
    SplashSeen seen = LaunchAndSeeSplash(p);
    EXPECT_EQ(seen.closeSplashSet, "0");
    EXPECT_EQ(seen.threadId, "0");
    EXPECT_EQ(seen.windowFound, "0");
  }
}

TEST(SplashFile, IsTheExecutablesPathWithTheExtensionBmp) {
  struct Case {
    const char* name;
    const char* exe;
    const char* folder;  // below app/
    const char* bitmap;  // relative to app/
    bool shown;
  };
  const Case cases[] = {
      // The file system ignores case, so the lower-case name finds MOVIE.BMP.
      {"lower_case", "movie.exe", "", "MOVIE.BMP", true},
      {"dotted_folder", "MOVIE.EXE", "my.games", "my.games/MOVIE.BMP", true},
      // A dot in a folder's name is no extension: my.BMP beside the folder is not it.
      {"dotted_folder_only", "MOVIE.EXE", "my.games", "my.BMP", false},
      {"longer_extension", "MOVIE.EXEC", "", "MOVIE.BMP", true},
      {"two_dots", "MOVIE.TAR.EXE", "", "MOVIE.TAR.BMP", true},
      {"two_dots_wrong", "MOVIE.TAR.EXE", "", "MOVIE.BMP", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Projector p = MakeProjector(std::string("file_") + c.name, c.exe, c.folder);
    WriteFile(p.box.app + "/" + c.bitmap, MakeBmp(40, 30));
    SplashSeen seen = LaunchAndSeeSplash(p);
    EXPECT_EQ(seen.closeSplashSet, c.shown ? "1" : "0");
    EXPECT_EQ(seen.threadId != "0", c.shown) << seen.threadId;
    EXPECT_EQ(seen.windowFound, c.shown ? "1" : "0");
  }
}

// Packs app/MOVIE.EXE with the test runtime to extract, using cinepack's own flag for
// 0x4 and writing any other flags2 into the packed header afterwards.
void PackWithFlags2(const Sandbox& box, uint32_t flags2) {
  std::string movie = box.root + "/movie.dat";
  std::string exe = box.app + "/MOVIE.EXE";
  WriteFile(movie, "movie container");
  std::string command = HostDir() + "/cinepack build --stub " + Launcher() + " --movie " +
                        movie + " --extract " + TestRuntime() + " -o " + exe +
                        (flags2 == 0x4 ? " --no-splash" : "") + " >/dev/null 2>&1";
  ASSERT_EQ(system(command.c_str()), 0) << command;
  if (flags2 == 0x4 || flags2 == 0) return;
  std::string image = ReadFile(exe);
  ASSERT_GT(image.size(), 4u);
  uint32_t header = 0;
  for (int i = 3; i >= 0; --i) {
    header = header << 8 | static_cast<unsigned char>(image[image.size() - 4 + i]);
  }
  ASSERT_LT(header + 16, image.size());
  for (int i = 0; i < 4; ++i) image[header + 12 + i] = static_cast<char>(flags2 >> (8 * i));
  WriteFile(exe, image);
}

TEST(SplashPayload, FourBitsOfFlags2ForbidTheSplash) {
  struct Case { uint32_t flags2; bool shown; };
  const Case cases[] = {
      {0x00, true},  {0x41, true},  {0xC1, true},  {0x3C41, true},  // other bits and bytes
      {0x04, false}, {0x44, false}, {0x48, false}, {0x50, false}, {0x60, false},
  };
  for (const Case& c : cases) {
    char name[32];
    snprintf(name, sizeof name, "flags2_%x", c.flags2);
    SCOPED_TRACE(name);
    Projector p{MakeSandbox(std::string("splash_") + name), ""};
    p.exe = p.box.app + "/MOVIE.EXE";
    PackWithFlags2(p.box, c.flags2);
    WriteFile(p.box.app + "/MOVIE.BMP", MakeBmp(40, 30));
    std::map<std::string, std::string> window;
    LaunchResult r = LaunchAndLook(p, SpecFor(p), [&] { window = Inspect({"find", "1500"}); });
    // The runtime came from the work folder: the payload was recognised.
    EXPECT_EQ(r.report["runtimeLocation"], "2") << r.probeOutput;
    EXPECT_EQ(r.report["closeSplash_set"], c.shown ? "1" : "0");
    EXPECT_EQ(r.report["splashThreadId"] != "0", c.shown) << r.report["splashThreadId"];
    EXPECT_EQ(window["found"], c.shown ? "1" : "0");
  }
}

TEST(SplashFailure, StaysOnScreenTopmostWhileTheFailureMessageShows) {
  struct Case {
    const char* name;
    const char* runtime;  // what lies beside the projector as cine.dll
    const char* text;
  };
  const Case cases[] = {
      {"not_found", nullptr, PlayerMissingText},
      {"no_entry_point", "noexport", "This application cannot run."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox box = MakeSandbox(std::string("splash_failure_") + c.name);
    CopyFile(Launcher(), box.app + "/MOVIE.EXE");
    if (c.runtime) CopyFile(NoExportRuntime(), box.app + "/cine.dll");
    WriteFile(box.app + "/MOVIE.BMP", MakeBmp(400, 300));
    LaunchSpec spec;
    spec.exe = box.app + "/MOVIE.EXE";
    spec.tmp = box.tmp;
    spec.cwd = box.root;
    spec.answer = "none";  // the inspector answers, once it has looked
    spec.timeoutMs = 30000;
    std::string output = box.root + "/probe.out";
    int pid = StartWine(ProbeRunArgs(box, spec), output);
    std::map<std::string, std::string> seen = Inspect({"box", "15000", "none"});
    // The box is centred on the screen, like the splash, so its text lies over the
    // bitmap: where the two overlap, the screen must show the box, not the bitmap.
    std::vector<int> text = Numbers(seen["text_rect"]);
    std::vector<int> splash = Numbers(seen["splash_client"]);
    int covered = -1;
    for (int attempt = 0; attempt < 15 && covered != 0 && text.size() == 4 &&
                          splash.size() == 4; ++attempt) {
      if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(200) * TimeFactor());
      covered = BitmapPixelsShown(CaptureScreen(std::string("failure_") + c.name), text, splash);
    }
    Inspect({"box", "15000", "cancel"});
    LaunchResult r = ReadLaunch(box, FinishWine(pid, output));
    std::map<std::string, std::string> after = Inspect({"gone", "3000"});

    ASSERT_EQ(seen["found"], "1") << r.probeOutput;
    ASSERT_EQ(seen["box_found"], "1");
    EXPECT_EQ(seen["splash_visible"], "1");
    EXPECT_EQ(seen["splash_topmost"], "1");
    // The splash stays, behind the message: the box is topmost too, and above it.
    EXPECT_EQ(seen["box_topmost"], "1");
    EXPECT_LT(std::stoi(seen["box_z"]), std::stoi(seen["splash_z"]));
    ASSERT_EQ(text.size(), 4u) << "no text in the box";
    ASSERT_EQ(splash.size(), 4u);
    ASSERT_TRUE(text[0] < splash[2] && splash[0] < text[2] && text[1] < splash[3] &&
                splash[1] < text[3])
        << seen["text_rect"] << " does not overlap the splash " << seen["splash_client"];
    EXPECT_EQ(covered, 0) << "pixels of the text area show the splash bitmap; see "
                          << ShotPath(std::string("failure_") + c.name);
    EXPECT_EQ(r.box["text"], c.text);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
    // The splash went with the process.
    EXPECT_EQ(after["gone"], "1");
  }
}

}  // namespace
}  // namespace e2e
