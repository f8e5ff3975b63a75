// The splash screen's pure logic: bitmap file name, the payload's veto, window placement
// and the fixed palette.
#include <gtest/gtest.h>
#include <cstring>
#include <set>
#include <string>
#include "base/paths.h"
#include "splash/splash_geometry.h"
#include "splash/splash_palette.h"
#include "splash/splash_source.h"

namespace {

TEST(ReplaceExtension, ReplacesTheFileNamesExtensionOnly) {
  struct Case { const char* path; const char* extension; const char* result; };
  const Case cases[] = {
      {"D:\\GAMES\\MOVIE.EXE", ".BMP", "D:\\GAMES\\MOVIE.BMP"},
      {"D:\\GAMES\\MOVIE", ".BMP", "D:\\GAMES\\MOVIE.BMP"},
      {"D:\\GAMES\\MOVIE.EXEC", ".BMP", "D:\\GAMES\\MOVIE.BMP"},
      {"D:\\GAMES\\MOVIE.X", ".BMP", "D:\\GAMES\\MOVIE.BMP"},
      {"D:\\MY.GAMES\\MOVIE", ".BMP", "D:\\MY.GAMES\\MOVIE.BMP"},
      {"D:\\MY.GAMES\\MOVIE.EXE", ".BMP", "D:\\MY.GAMES\\MOVIE.BMP"},
      {"D:\\GAMES\\MOVIE.TAR.EXE", ".BMP", "D:\\GAMES\\MOVIE.TAR.BMP"},
      {"D:\\GAMES\\MOVIE.", ".BMP", "D:\\GAMES\\MOVIE.BMP"},
      {"MOVIE.EXE", ".BMP", "MOVIE.BMP"},
      {"MOVIE", ".BMP", "MOVIE.BMP"},
      {"", ".BMP", ".BMP"},
      {"D:\\GAMES\\MOVIE.EXE", "", "D:\\GAMES\\MOVIE.EXE"},
      {"D:\\GAMES\\MOVIE", "", "D:\\GAMES\\MOVIE"},
      {"D:\\GAMES\\MOVIE.EXE", ".B", "D:\\GAMES\\MOVIE.B"},
  };
  for (const Case& c : cases) {
    char path[64];
    strcpy(path, c.path);
    EXPECT_EQ(ReplaceExtension(path, c.extension, sizeof path), 1);
    EXPECT_STREQ(path, c.result) << c.path << " + " << c.extension;
  }
}

TEST(ReplaceExtension, WritesNoFurtherThanTheLongerResult) {
  // The caller's room is the path plus the extension; nothing past it is touched.
  struct Case { const char* path; size_t resultLength; };
  const Case cases[] = {{"D:\\A\\MOVIE", 14}, {"D:\\A\\MOVIE.X", 14}, {"D:\\A.B\\C", 12}};
  for (const Case& c : cases) {
    char buffer[32];
    memset(buffer, '#', sizeof buffer);
    strcpy(buffer, c.path);
    ReplaceExtension(buffer, SplashExtension, sizeof buffer);
    EXPECT_EQ(strlen(buffer), c.resultLength) << c.path;
    for (size_t i = c.resultLength + 1; i < sizeof buffer; ++i) {
      ASSERT_EQ(buffer[i], '#') << c.path << " byte " << i;
    }
  }
}

TEST(ReplaceExtension, RefusesAResultOneByteTooLongAndLeavesAnEmptyPath) {
  // Both results are 14 characters: 15 bytes with the terminator fit, 14 do not.
  for (const char* path : {"D:\\A\\MOVIE.EXE", "D:\\A\\MOVIE"}) {
    char buffer[32];
    strcpy(buffer, path);
    EXPECT_EQ(ReplaceExtension(buffer, SplashExtension, 15), 1) << path;
    EXPECT_STREQ(buffer, "D:\\A\\MOVIE.BMP");
    strcpy(buffer, path);
    EXPECT_EQ(ReplaceExtension(buffer, SplashExtension, 14), 0) << path;
    EXPECT_STREQ(buffer, "") << path;
  }
}

TEST(PayloadForbidsSplash, OnlyTheFourBitsOfARecognisedPayloadCount) {
  struct Case { int recognised; uint32_t flags2; int forbids; };
  const Case cases[] = {
      {1, 0x41, 0},        {1, 0x44, 1},       {1, 0x48, 1},       {1, 0x50, 1},
      {1, 0x60, 1},        {1, 0x3C, 1},       {1, 0x00, 0},       {1, 0x01, 0},
      {1, 0x02, 0},        {1, 0x80, 0},       {1, 0xC3, 0},       {1, 0x3C00, 0},
      {1, 0xFFFFFFC3u, 0}, {1, 0xFFFFFF04u, 1}, {0, 0x3C, 0},      {0, 0xFFFFFFFFu, 0},
      {2, 0x20, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PayloadForbidsSplash(c.recognised, c.flags2) != 0, c.forbids != 0)
        << "recognised " << c.recognised << " flags2 0x" << std::hex << c.flags2;
  }
}

TEST(CenterSplashWindow, CentresTheBorderedBitmapRoundingTowardZero) {
  struct Case {
    const char* name;
    SplashRect frame;  // bitmap rectangle after the one-pixel border was added
    SplashRect desktop;
    SplashPlacement place;
  };
  const SplashRect screen = {0, 0, 1024, 768};
  const Case cases[] = {
      {"400x300", {-1, -1, 401, 301}, screen, {311, 233, 402, 302}},
      {"odd width", {-1, -1, 400, 301}, screen, {311, 233, 401, 302}},
      {"odd height", {-1, -1, 401, 200}, screen, {311, 283, 402, 201}},
      {"as large as the desktop", {0, 0, 1024, 768}, screen, {0, 0, 1024, 768}},
      // Wider than the desktop: -79 / 2 is -39 toward zero, not -40.
      {"wider than the desktop", {-1, -1, 1102, 51}, screen, {-39, 358, 1103, 52}},
      {"taller, even", {-1, -1, 101, 901}, screen, {461, -67, 102, 902}},
      {"desktop left of the origin", {-1, -1, 401, 301}, {-1024, 0, 0, 768},
       {-713, 233, 402, 302}},
      {"desktop not at the origin", {-1, -1, 401, 301}, {100, 50, 1124, 818},
       {411, 283, 402, 302}},
      {"empty bitmap", {-1, -1, 1, 1}, screen, {511, 383, 2, 2}},
  };
  for (const Case& c : cases) {
    SplashPlacement p = CenterSplashWindow(c.frame, c.desktop);
    EXPECT_EQ(p.x, c.place.x) << c.name;
    EXPECT_EQ(p.y, c.place.y) << c.name;
    EXPECT_EQ(p.width, c.place.width) << c.name;
    EXPECT_EQ(p.height, c.place.height) << c.name;
  }
}

class SplashPaletteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    memset(entries, 0xAB, sizeof entries);
    FillSplashPalette(entries);
  }
  SplashColor entries[SplashPaletteSize + 4];
};

TEST_F(SplashPaletteTest, IsTheColourCubeThenTheMissingGreys) {
  ASSERT_EQ(SplashPaletteSize, 226u);
  for (int r = 0; r < 6; ++r) {
    for (int g = 0; g < 6; ++g) {
      for (int b = 0; b < 6; ++b) {
        const SplashColor& c = entries[36 * r + 6 * g + b];
        EXPECT_EQ(c.red, 51 * r);
        EXPECT_EQ(c.green, 51 * g);
        EXPECT_EQ(c.blue, 51 * b);
      }
    }
  }
  const int greys[10] = {17, 34, 68, 85, 119, 136, 170, 187, 221, 238};
  for (int i = 0; i < 10; ++i) {
    const SplashColor& c = entries[216 + i];
    EXPECT_EQ(c.red, greys[i]) << i;
    EXPECT_EQ(c.green, greys[i]) << i;
    EXPECT_EQ(c.blue, greys[i]) << i;
  }
}

TEST_F(SplashPaletteTest, HasNoDuplicatesNoFlagsAndStaysInItsArray) {
  std::set<uint32_t> colours;
  for (uint32_t i = 0; i < SplashPaletteSize; ++i) {
    EXPECT_EQ(entries[i].flags, 0) << i;
    colours.insert(entries[i].red << 16 | entries[i].green << 8 | entries[i].blue);
  }
  EXPECT_EQ(colours.size(), SplashPaletteSize);
  for (uint32_t i = SplashPaletteSize; i < SplashPaletteSize + 4; ++i) {
    EXPECT_EQ(entries[i].red, 0xAB) << "written past the palette at " << i;
  }
}

}  // namespace
