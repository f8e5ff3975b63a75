// The demo end to end: scripts/demo.sh packs and plays the PE32 DEMO.EXE under Wine; its two
// screenshots must show the splash bitmap and the movie, and nothing may be left behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/e2e/harness.h"

namespace e2e {
namespace {

// Any image ImageMagick reads, as 8-bit RGB rows top to bottom (empty when unreadable).
struct Image {
  int width = 0, height = 0;
  std::string rgb;
  // Whether the pixel at (x, y) is within 6 of `want` (0xRRGGBB) in each channel.
  bool Near(int x, int y, uint32_t want) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return false;
    for (int c = 0; c < 3; ++c) {
      int d = static_cast<uint8_t>(rgb[3 * (static_cast<size_t>(y) * width + x) + c]) -
              static_cast<int>(want >> (16 - 8 * c) & 0xFF);
      if (d > 6 || d < -6) return false;
    }
    return true;
  }
};

Image LoadImage(const std::string& path) {
  Image image;
  std::string command = "convert '" + path + "' -depth 8 ppm:'" + path + ".ppm'";
  std::string data = system(command.c_str()) == 0 ? ReadFile(path + ".ppm") : "";
  int depth = 0, at = 0;
  if (sscanf(data.c_str(), "P6 %d %d %d%n", &image.width, &image.height, &depth, &at) == 3 &&
      data.size() >= at + 1 + 3u * image.width * image.height) {
    image.rgb = data.substr(at + 1);
  } else {
    image.width = image.height = 0;
  }
  return image;
}

// Share of sampled bitmap pixels that the screen shows with the bitmap's corner at (left, top).
double Match(const Image& screen, const Image& bitmap, int left, int top) {
  int same = 0, total = 0;
  for (int y = 0; y < bitmap.height; y += 7) {
    for (int x = 0; x < bitmap.width; x += 7, ++total) {
      const char* p = &bitmap.rgb[3 * (static_cast<size_t>(y) * bitmap.width + x)];
      same += screen.Near(left + x, top + y, uint8_t(p[0]) << 16 | uint8_t(p[1]) << 8 | uint8_t(p[2]));
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
  for (const char* line : {"launcher exit code:  0", "-> removed", "runtimeLocation=2"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
  }
  EXPECT_EQ(log.find("still there"), std::string::npos) << log;

  Image splash = LoadImage(build + "/demo/splash.png");
  Image bitmap = LoadImage(build + "/demo/DEMO.BMP");
  ASSERT_EQ(splash.width, 1024);
  ASSERT_GT(bitmap.width, 0);
  // Centred, inside a one-pixel border; elsewhere it is not found, so the test can tell.
  int left = (1024 - bitmap.width) / 2, top = (768 - bitmap.height) / 2;
  EXPECT_GT(Match(splash, bitmap, left, top), 0.95);
  EXPECT_LT(Match(splash, bitmap, 0, 0), 0.5);

  // The movie's dark blue background across the middle of the screen.
  Image movie = LoadImage(build + "/demo/movie.png");
  int blue = 0;
  for (int x = 300; x < 720; x += 10) {
    blue += movie.Near(x, 300, 0x10243C) || movie.Near(x, 300, 0x17324F) || movie.Near(x, 300, 0x0B1A2B);
  }
  EXPECT_GT(blue, 10);
}

}  // namespace
}  // namespace e2e
