// Path helpers, command line splitting and failure message choice of the launcher.
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include "launcher/command_line.h"
#include "launcher/launch_error_text.h"
#include "base/paths.h"

namespace {

TEST(JoinPath, AddsOneBackslashBetweenFolderAndName) {
  struct Case { const char* folder; const char* name; const char* joined; };
  const Case cases[] = {
      {"D:\\Games", "cine.dll", "D:\\Games\\cine.dll"},
      {"D:\\TEMP\\TempFolder.aaa\\", "cine.dll", "D:\\TEMP\\TempFolder.aaa\\cine.dll"},
      {"D:", "cine.dll", "D:\\cine.dll"},
      {"D:\\", "cine.dll", "D:\\cine.dll"},
      {"C:\\WINDOWS\\SYSTEM", "Quorvant\\Lumenreel 10", "C:\\WINDOWS\\SYSTEM\\Quorvant\\Lumenreel 10"},
  };
  for (const Case& c : cases) {
    char dest[PathCapacity];
    EXPECT_EQ(JoinPath(dest, c.folder, c.name), dest);
    EXPECT_STREQ(dest, c.joined) << c.folder;
  }
}

TEST(JoinPath, WorksInPlaceAndAsSubfolder) {
  char path[PathCapacity] = "D:\\Games";
  EXPECT_TRUE(AppendSubfolder(path, "Nodix"));
  EXPECT_STREQ(path, "D:\\Games\\Nodix");
}

TEST(JoinPath, RefusesWhatDoesNotFitAndWritesNothingPastTheBuffer) {
  std::string folder(250, 'f');
  char dest[PathCapacity + 16];
  memset(dest, 'X', sizeof dest);
  // 250 + backslash + 8 + terminator = 260: fits exactly.
  EXPECT_NE(JoinPath(dest, folder.c_str(), "cine.dll"), nullptr);
  EXPECT_EQ(strlen(dest), 259u);
  EXPECT_EQ(dest[PathCapacity], 'X');
  // One more character does not fit: a failed join leaves an empty string.
  memset(dest, 'X', sizeof dest);
  EXPECT_EQ(JoinPath(dest, folder.c_str(), "cine.dlls"), nullptr);
  EXPECT_STREQ(dest, "");
  EXPECT_EQ(dest[PathCapacity], 'X');

  char path[PathCapacity];
  std::string longFolder(255, 'g');
  strcpy(path, longFolder.c_str());
  EXPECT_FALSE(AppendSubfolder(path, "Nodix"));
  EXPECT_STREQ(path, "");
}

TEST(StripFileName, CutsAtTheLastBackslash) {
  struct Case { const char* path; const char* folder; };
  const Case cases[] = {
      {"D:\\Games\\Movie.exe", "D:\\Games"},
      {"D:\\Movie.exe", "D:"},
      {"Movie.exe", ""},
      {"D:\\A.B\\C\\", "D:\\A.B\\C"},
      {"", ""},
  };
  for (const Case& c : cases) {
    char path[PathCapacity];
    strcpy(path, c.path);
    StripFileName(path);
    EXPECT_STREQ(path, c.folder) << c.path;
  }
}

TEST(SkipProgramName, LeavesTheArgumentsByteForByte) {
  struct Case { const char* commandLine; const char* arguments; };
  const Case cases[] = {
      {"MOVIE.EXE", ""},
      {"MOVIE.EXE -x", "-x"},
      {"\"C:\\My Games\\MOVIE.EXE\" -x  \"a b\" ", "-x  \"a b\" "},
      {"\"C:\\My Games\\MOVIE.EXE\"-x", "-x"},
      {"\"C:\\unterminated", ""},
      {"MOVIE.EXE \t  tail", "tail"},
      {"C:\\Sp\xe9\x63ial\\M.EXE arg", "arg"},
      {"\"\" rest", "rest"},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(SkipProgramName(c.commandLine), c.arguments) << c.commandLine;
  }
}

TEST(ChooseLaunchErrorMessage, PicksTextAndButtonsPerCode) {
  struct Case { LaunchError code; uint32_t textId; uint32_t style; int offer; };
  const Case cases[] = {
      {RuntimeFailed, 1004, 0x10, 0},       {MsvcrtMissing, 1002, 0x10, 0},
      {RuntimeNotFound, 1003, 0x11, 1},     {EntryPointMissing, 1004, 0x10, 0},
      {NoCurrentDirectory, 1004, 0x10, 0},  {RuntimeLoadFailed, 1001, 0x10, 0},
      {ExtractionFailed, 1001, 0x10, 0},    {0, 1004, 0x10, 0},
      {8, 1004, 0x10, 0},                   {0xFFFFFFFFu, 1004, 0x10, 0},
  };
  for (const Case& c : cases) {
    LaunchErrorMessage m = ChooseLaunchErrorMessage(c.code);
    EXPECT_EQ(m.textId, c.textId) << c.code;
    EXPECT_EQ(m.style, c.style) << c.code;
    EXPECT_EQ(m.offersDownload, c.offer) << c.code;
  }
}

}  // namespace
