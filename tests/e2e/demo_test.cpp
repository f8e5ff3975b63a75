// The demo end to end: scripts/demo.sh packs and plays the PE32 DEMO.EXE under Wine; its two
// screenshots must show the splash bitmap and the movie's window, and nothing may be
// left in the temporary folder.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/e2e/harness.h"

namespace e2e {
namespace {

struct Image {
  int width = 0;
  int height = 0;
  std::string rgb;  // 3 bytes a pixel, rows top to bottom
  bool At(int x, int y, int* r, int* g, int* b) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return false;
    size_t at = 3 * (static_cast<size_t>(y) * width + x);
    *r = static_cast<unsigned char>(rgb[at]);
    *g = static_cast<unsigned char>(rgb[at + 1]);
    *b = static_cast<unsigned char>(rgb[at + 2]);
    return true;
  }
};

// Any image ImageMagick reads, as 8-bit RGB.
Image LoadImage(const std::string& path) {
  Image image;
  std::string ppm = path + ".ppm";
  std::string command = "convert '" + path + "' -depth 8 ppm:'" + ppm + "'";
  if (system(command.c_str()) != 0) return image;
  std::string data = ReadFile(ppm);
  int maxValue = 0;
  int consumed = 0;
  if (sscanf(data.c_str(), "P6 %d %d %d%n", &image.width, &image.height, &maxValue, &consumed) != 3)
    return image;
  image.rgb = data.substr(consumed + 1);
  return image;
}

bool Near(int a, int b) { return a - b <= 6 && b - a <= 6; }

// Share of sampled screen pixels equal to the bitmap's pixel at the same place, with
// the bitmap's top-left corner at (left, top).
double Match(const Image& screen, const Image& bitmap, int left, int top) {
  int same = 0, total = 0;
  for (int y = 0; y < bitmap.height; y += 7) {
    for (int x = 0; x < bitmap.width; x += 7) {
      int r, g, b, R, G, B;
      bitmap.At(x, y, &r, &g, &b);
      if (!screen.At(left + x, top + y, &R, &G, &B)) continue;
      ++total;
      if (Near(r, R) && Near(g, G) && Near(b, B)) ++same;
    }
  }
  return total ? static_cast<double>(same) / total : 0;
}

TEST(Demo, PlaysWithSplashAndMovieAndLeavesNothingBehind) {
  std::string build = WinDir() + "/..";
  std::string command = "CINE_BUILD='" + build + "' '" + SourceDir() + "/scripts/demo.sh' > '" +
                        build + "/demo-test.log' 2>&1";
  int status = system(command.c_str());
  std::string log = ReadFile(build + "/demo-test.log");
  ASSERT_EQ(status, 0) << log;
  EXPECT_NE(log.find("launcher exit code:  0"), std::string::npos) << log;
  EXPECT_NE(log.find("-> removed"), std::string::npos) << log;
  EXPECT_EQ(log.find("still there"), std::string::npos) << log;
  EXPECT_NE(log.find("runtimeLocation=2"), std::string::npos) << log;
  EXPECT_NE(log.find("PE32, run under wine-"), std::string::npos) << log;

  Image splash = LoadImage(build + "/demo/splash.png");
  Image bitmap = LoadImage(build + "/demo/DEMO.BMP");
  ASSERT_EQ(splash.width, 1024);
  ASSERT_EQ(bitmap.width, 400);
  // The splash window is centred with a one-pixel border: its client area, where the
  // bitmap is drawn, starts one pixel inside the window.
  int left = (1024 - (bitmap.width + 2)) / 2 + 1;
  int top = (768 - (bitmap.height + 2)) / 2 + 1;
  EXPECT_GT(Match(splash, bitmap, left, top), 0.95);
  // Elsewhere on the desktop the bitmap is not found: the test can tell.
  EXPECT_LT(Match(splash, bitmap, 0, 0), 0.5);

  Image movie = LoadImage(build + "/demo/movie.png");
  ASSERT_EQ(movie.width, 1024);
  // The movie's colours: its dark blue background in the middle of the screen.
  int blue = 0;
  for (int x = 300; x < 720; x += 10) {
    int r, g, b;
    if (movie.At(x, 300, &r, &g, &b) && ((Near(r, 0x10) && Near(g, 0x24) && Near(b, 0x3C)) ||
                                         (Near(r, 0x17) && Near(g, 0x32) && Near(b, 0x4F)) ||
                                         (Near(r, 0x0B) && Near(g, 0x1A) && Near(b, 0x2B))))
      ++blue;
  }
  EXPECT_GT(blue, 10);
}

}  // namespace
}  // namespace e2e
