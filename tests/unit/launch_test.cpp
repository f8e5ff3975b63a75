// The launcher's pure decisions: bounded path building, the work folder's name, the failure
// message, the player's download address and browser command, the arguments after the
// program name, and the splash's veto, place and palette.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>

#include "base/paths.h"
#include "launcher/command_line.h"
#include "launcher/launch_error_text.h"
#include "splash/splash_geometry.h"
#include "splash/splash_palette.h"
#include "splash/splash_source.h"
#include "workfolder/work_folder_name.h"

namespace {

// Every builder leaves a result that fits its buffer, or fails; nothing is written past
// the buffer, and a refused path is never left half-built (a refused temporary path is
// left as it was).
TEST(PathEdits, FitTheirBufferOrFailLeavingNoHalfBuiltPath) {
  const std::string f250(250, 'f'), a258(258, 'a'), t229 = "C:" + std::string(227, 't'), temp204 = "C:\\" + f250.substr(50) + "\\";
  const LeadByteRule sb = SingleByteCodePage;
  auto join = [=](const char* name) {
    return [=](char* p) { return JoinPath(p, p, name, sb) != nullptr; };
  };
  auto entry = [](const char* name) { return [=](char* p) { return JoinFolderEntry(p, std::string(p).c_str(), name); }; };
  auto listed = [=](size_t n) {
    return [=](char* p) {
      return JoinFolderPath(p, std::string(p).c_str(), std::string(n, 'n').c_str(), sb);
    };
  };
  auto subfolder = [=](char* p) { return AppendSubfolder(p, "Nodix", sb); };
  auto backslash = [=](char* p) { return EnsureTrailingBackslash(p, PathCapacity, sb); };
  auto bmp = [=](uint32_t capacity) {
    return [=](char* p) { return ReplaceExtension(p, SplashExtension, capacity, sb); };
  };
  auto strip = [=](char* p) { return StripFileName(p, sb), 1; };
  auto start = [=](char* p) {
    uint32_t n = StartWorkFolderPath(p, sb);
    return int(n != 0 && n == strlen(p));
  };
  struct Case { std::string before; std::function<int(char*)> edit; std::string after; int ok; uint32_t capacity = PathCapacity; };
  const Case cases[] = {
      {"D:\\Games", join("cine.dll"), "D:\\Games\\cine.dll", 1},
      {"D:\\", join("cine.dll"), "D:\\cine.dll", 1},
      {f250, join("cine.dll"), f250 + "\\cine.dll", 1},  // 259
      {f250, join("cine.dlls"), "", 0},
      {"D:\\G", subfolder, "D:\\G\\Nodix", 1},
      {std::string(255, 'g'), subfolder, "", 0},
      {f250, entry("123456789"), f250 + "123456789", 1},
      {f250, entry("1234567890"), "", 0},
      {temp204, listed(54), temp204 + std::string(54, 'n') + "\\", 1},
      {temp204, listed(55), "", 0},
      {"D:\\TEMP", backslash, "D:\\TEMP\\", 1},
      {"D:\\TEMP\\", backslash, "D:\\TEMP\\", 1},
      {"D:\\TEMP/", backslash, "D:\\TEMP/\\", 1},
      {"", backslash, "", 0},
      {a258, backslash, a258 + "\\", 1},
      {a258 + "a", backslash, "", 0},
      {"D:\\GAMES\\MOVIE.EXE", bmp(64), "D:\\GAMES\\MOVIE.BMP", 1},
      {"D:\\MY.GAMES\\MOVIE", bmp(64), "D:\\MY.GAMES\\MOVIE.BMP", 1},
      {"D:\\MOVIE.TAR.EXE", bmp(64), "D:\\MOVIE.TAR.BMP", 1},
      {"M.EXE", [=](char* p) { return ReplaceExtension(p, "", 9, sb); }, "M.EXE", 1},
      {"D:\\A\\MOVIE.EXEC", bmp(15), "D:\\A\\MOVIE.BMP", 1, 15},
      {"D:\\A\\MOVIE", bmp(15), "D:\\A\\MOVIE.BMP", 1, 15},
      {"D:\\A\\MOVIE.EXE", bmp(14), "", 0, 14},
      {"D:\\A\\MOVIE", bmp(14), "", 0, 14},
      {"D:\\A.B\\Movie.exe", strip, "D:\\A.B", 1},
      {"Movie.exe", strip, "", 1},
      {"D:\\TEMP\\", start, "D:\\TEMP\\TempFolder.aaa", 1},
      {"", start, "", 0},
      {t229 + "\\", start, t229 + "\\TempFolder.aaa", 1},
      {t229, start, t229 + "\\TempFolder.aaa", 1},
      {t229 + "t\\", start, t229 + "t\\", 0},
      {t229 + "t", start, t229 + "t", 0},
  };
  for (const Case& c : cases) {
    char buffer[PathCapacity + 32];
    memset(buffer, '#', sizeof buffer);
    strcpy(buffer, c.before.c_str());
    EXPECT_EQ(c.edit(buffer) != 0, c.ok != 0) << c.before << " -> " << c.after;
    EXPECT_EQ(buffer, c.after) << c.before;
    const size_t end = std::max<size_t>({c.capacity, c.before.size() + 1, c.after.size() + 1});
    EXPECT_EQ(std::string(buffer + end, buffer + sizeof buffer), std::string(sizeof buffer - end, '#')) << c.before;
  }
  // The longest work folder path still holds its lock file's path.
  EXPECT_EQ(t229.size() + 1 + strlen("TempFolder.aaa\\") + strlen(LockFileName) + 1, PathCapacity);
}

TEST(WorkFolderSuffix, CountsAaaToZzzLastLetterFastestThenStops) {
  char path[PathCapacity] = "X:\\";
  const uint32_t length = StartWorkFolderPath(path, SingleByteCodePage);
  std::string previous = path + length - 3;
  int names = 1;
  while (AdvanceWorkFolderSuffix(path, length)) {
    const std::string now = path + length - 3;
    ASSERT_LT(previous, now) << "names go up alphabetically";
    ASSERT_TRUE(now.find_first_not_of("abcdefghijklmnopqrstuvwxyz") == std::string::npos) << now;
    ASSERT_EQ(std::string(path, length - 3), "X:\\TempFolder.") << "the prefix changed";
    ASSERT_LE(++names, 17576) << "the odometer must end";
    previous = now;
  }
  EXPECT_EQ(names, 17576);  // every name, each once, ending at zzz
  EXPECT_EQ(previous, "zzz");
}

TEST(LaunchErrorMessage, OnlyAMissingPlayerOffersTheDownload) {
  struct Case { LaunchError code; uint32_t textId; };
  for (Case c : {Case{RuntimeFailed, CannotRunStringId}, {MsvcrtMissing, MsvcrtMissingStringId},
                 {RuntimeNotFound, PlayerMissingStringId},
                 {EntryPointMissing, CannotRunStringId},
                 {NoCurrentDirectory, CannotRunStringId},
                 {RuntimeLoadFailed, CannotCreateFilesStringId},
                 {ExtractionFailed, CannotCreateFilesStringId},
                 {0, CannotRunStringId},
                 {ProjectorDamaged, DamagedStringId},
                 {9, CannotRunStringId},
                 {0xFFFFFFFFu, CannotRunStringId}}) {
    const LaunchErrorMessage m = ChooseLaunchErrorMessage(c.code);
    const int offer = c.code == RuntimeNotFound;  // stop icon; OK and Cancel to offer
    EXPECT_EQ(std::vector<uint32_t>({m.textId, m.style, uint32_t(m.offersDownload)}),
              std::vector<uint32_t>({c.textId, offer ? 0x11u : 0x10u, uint32_t(offer)})) << c.code;
  }
}

// The segment comes from the primary language (ten bits); an address that does not fit
// is not half-built, nor written past its buffer.
TEST(DownloadAddress, PerPrimaryLanguageAndWithinItsBuffer) {
  const std::string path = "lumenreel/download/?P1_Prod_Version=LRArchive10.1.0";
  const uint32_t exact = uint32_t(strlen(DownloadBaseAddress) + 3 + path.size() + 1);
  struct Case { uint32_t languageId; const char* segment; uint32_t capacity = MessageTextCapacity; };
  for (Case c : {Case{0x0407, "de/"}, {0x0C07, "de/"}, {0xFC07, "de/"}, {0x0007, "de/"}, {0x040C, "fr/"},
                 {0x0C0C, "fr/"},
                 {0x0411, "jp/"},
                 {0x0412, "ko/"},
                 {0x0804, ""},
                 {0x0409, ""},
                 {0x0410, ""},
                 {0x0000, ""}, {0x0107, ""}, {0x0412, "ko/", exact}, {0x0412, nullptr, exact - 1}}) {
    char buffer[MessageTextCapacity + 1];
    memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(ComposeDownloadUrl(buffer, c.capacity, c.languageId), c.segment ? 1 : 0);
    EXPECT_EQ(buffer, c.segment ? "http://www.quorvant.example.com/" + (c.segment + path) : "") << std::hex << c.languageId;
    EXPECT_EQ(buffer[c.capacity], 'X') << "written past the buffer";
  }
}

TEST(BrowserCommand, ProgramPathFromTheRegisteredCommandThenTheAddress) {
  const char url[] = "http://h.example.com/x";
  const std::string longest(BrowserCommandCapacity - strlen(url) - 2, 'p');  // path, space, url, NUL
  struct Case { std::string registered; const char* path; };  // null: nothing to run
  for (const Case& c : {Case{"\"D:\\Program Files\\b.exe\" -nohome", "D:\\Program Files\\b.exe"},
                        {"  D:\\Browser\\b.exe %1", "D:\\Browser\\b.exe"},
                        {"D:\\Program Files\\b.exe", "D:\\Program"},
                        {"\t \"D:\\B\\b.exe\"", "D:\\B\\b.exe"},
                        {"\"D:\\P Q\\b.exe\"\"%1\"", "D:\\P Q\\b.exe"},
                        {"\"D:\\No Close\\b.exe -x", "D:\\No Close\\b.exe -x"},  // missing closing quote
                        {"D:\\Tab\tIn\\b.exe -x", "D:\\Tab\tIn\\b.exe"},        // a tab does not end it
                        {"", nullptr},
                        {"  \t ", nullptr},
                        {"\"\" -nohome", nullptr},
                        {"\"", nullptr},
                        {longest, longest.c_str()},
                        {"\"" + longest + "\"", longest.c_str()},
                        {longest + "p", nullptr},
                        {"\"" + longest + "p\"", nullptr}, {std::string(BrowserCommandCapacity - 1, 'p'), nullptr}}) {
    char command[BrowserCommandCapacity + 8];
    memset(command, 'X', sizeof command);
    strcpy(command, c.registered.c_str());
    EXPECT_EQ(ComposeBrowserCommand(command, BrowserCommandCapacity, url), c.path ? 1 : 0) << c.registered;
    EXPECT_EQ(command, c.path ? std::string(c.path) + " " + url : "") << c.registered;
    EXPECT_EQ(std::string(command + BrowserCommandCapacity, 8), "XXXXXXXX") << c.registered;
  }
}

TEST(SkipProgramName, LeavesTheArgumentsByteForByte) {
  struct Case { const char* commandLine; const char* arguments; };
  for (Case c : {Case{"MOVIE.EXE", ""}, {"MOVIE.EXE -x", "-x"}, {"\"C:\\My Games\\M.EXE\" -x  \"a b\" ", "-x  \"a b\" "},
                 {"\"C:\\My Games\\M.EXE\"-x", "-x"},
                 {"\"C:\\unterminated", ""},
                 {"M.EXE \t  tail", "tail"},
                 {"C:\\Sp\xe9\x63ial\\M.EXE arg", "arg"}, {"\"\" rest", "rest"}})
    EXPECT_STREQ(SkipProgramName(c.commandLine), c.arguments) << c.commandLine;
}

TEST(Splash, OnlyTheFourNoSplashBitsOfARecognisedPayloadForbidIt) {
  for (uint32_t bit = 0; bit < 32; ++bit) {
    EXPECT_EQ(PayloadForbidsSplash(2, 1u << bit) != 0, bit >= 2 && bit <= 5) << bit;
    EXPECT_EQ(PayloadForbidsSplash(0, 1u << bit), 0) << "no payload, no veto";
  }
  EXPECT_EQ(PayloadForbidsSplash(1, 0xFFFFFFC3u), 0);
}

TEST(Splash, WindowIsCentredRoundingTowardZero) {
  const SplashRect screen = {0, 0, 1024, 768};
  struct Case { SplashRect frame, desktop; SplashPlacement place; };
  for (Case c : {Case{{-1, -1, 401, 301}, screen, {311, 233, 402, 302}}, {{-1, -1, 400, 200}, screen, {311, 283, 401, 201}},
                 {{-1, -1, 1102, 51}, screen, {-39, 358, 1103, 52}} /* wider: -79 / 2 */,
                 {{-1, -1, 101, 901}, screen, {461, -67, 102, 902}} /* taller */,
                 {{-1, -1, 401, 301}, {-1024, 0, 0, 768}, {-713, 233, 402, 302}} /* left of the origin */,
                 {{-1, -1, 401, 301}, {100, 50, 1124, 818}, {411, 283, 402, 302}}}) {
    SplashPlacement p = CenterSplashWindow(c.frame, c.desktop);
    EXPECT_EQ(std::vector<int32_t>({p.x, p.y, p.width, p.height}),
              std::vector<int32_t>({c.place.x, c.place.y, c.place.width, c.place.height}));
  }
}

// The cube's 216 colours, red slowest and blue fastest, then the greys it lacks, darkest
// first: all distinct, without flags, and nothing written past the palette.
TEST(Splash, PaletteHoldsTheColourCubeThenTheMissingGreys) {
  SplashColor entries[SplashPaletteSize + 1];
  memset(entries, 0xAB, sizeof entries);
  FillSplashPalette(entries);
  std::set<uint32_t> colours;
  for (uint32_t i = 0; i < SplashPaletteSize; ++i) {
    const SplashColor& c = entries[i];
    colours.insert(c.red << 16 | c.green << 8 | c.blue);
    const bool onGrid = c.red % 51 == 0 && c.green % 51 == 0 && c.blue % 51 == 0, grey = c.red == c.green && c.green == c.blue;
    EXPECT_TRUE(c.flags == 0 && (i < 216 ? onGrid && c.red / 51 * 36 + c.green / 51 * 6 + c.blue / 51 == int(i)
                                         : grey && !onGrid && c.red % 17 == 0 && (i == 216 || c.red > entries[i - 1].red))) << i;
  }
  EXPECT_EQ(colours.size(), SplashPaletteSize);
  EXPECT_EQ(entries[SplashPaletteSize].red, 0xAB) << "written past the palette";
}

}  // namespace
