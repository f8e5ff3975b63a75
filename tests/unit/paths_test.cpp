// Path building: the bounded joins and edits, the work folder's name and suffix odometer,
// and what the stale cleanup's walk does with each entry it lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "base/paths.h"
#include "splash/splash_source.h"
#include "workfolder/work_folder_name.h"
#include "workfolder/work_folder_walk.h"

namespace {

// Every builder leaves a result that fits its buffer, or fails; nothing is written past
// the buffer, and a refused path is never left half-built (a refused temporary path is
// left as it was).
TEST(PathEdits, FitTheirBufferOrFailLeavingNoHalfBuiltPath) {
  const std::string f250(250, 'f'), a258(258, 'a'), t229 = "C:" + std::string(227, 't'), temp204 = "C:\\" + f250.substr(50) + "\\";
  auto join = [](const char* name) { return [=](char* p) { return JoinPath(p, p, name) != nullptr; }; };
  auto entry = [](const char* name) { return [=](char* p) { return JoinFolderEntry(p, std::string(p).c_str(), name); }; };
  auto listed = [](size_t n) { return [=](char* p) { return JoinFolderPath(p, std::string(p).c_str(), std::string(n, 'n').c_str()); }; };
  auto subfolder = [](char* p) { return AppendSubfolder(p, "Nodix"); };
  auto backslash = [](char* p) { return EnsureTrailingBackslash(p, PathCapacity); };
  auto bmp = [](uint32_t capacity) { return [=](char* p) { return ReplaceExtension(p, SplashExtension, capacity); }; };
  auto strip = [](char* p) { return StripFileName(p), 1; };
  auto start = [](char* p) {
    uint32_t length = StartWorkFolderPath(p);
    return int(length != 0 && length == strlen(p));
  };
  struct Case { std::string before; std::function<int(char*)> edit; std::string after; int ok; uint32_t capacity = PathCapacity; };
  const Case cases[] = {
      {"D:\\Games", join("cine.dll"), "D:\\Games\\cine.dll", 1}, {"D:\\", join("cine.dll"), "D:\\cine.dll", 1},
      {f250, join("cine.dll"), f250 + "\\cine.dll", 1} /* 259 */, {f250, join("cine.dlls"), "", 0},
      {"D:\\G", subfolder, "D:\\G\\Nodix", 1}, {std::string(255, 'g'), subfolder, "", 0},
      {f250, entry("123456789"), f250 + "123456789", 1}, {f250, entry("1234567890"), "", 0},
      {temp204, listed(54), temp204 + std::string(54, 'n') + "\\", 1}, {temp204, listed(55), "", 0},
      {"D:\\TEMP", backslash, "D:\\TEMP\\", 1}, {"D:\\TEMP\\", backslash, "D:\\TEMP\\", 1},
      {"D:\\TEMP/", backslash, "D:\\TEMP/\\", 1}, {"", backslash, "", 0},
      {a258, backslash, a258 + "\\", 1}, {a258 + "a", backslash, "", 0},
      {"D:\\GAMES\\MOVIE.EXE", bmp(64), "D:\\GAMES\\MOVIE.BMP", 1}, {"D:\\MY.GAMES\\MOVIE", bmp(64), "D:\\MY.GAMES\\MOVIE.BMP", 1},
      {"D:\\MOVIE.TAR.EXE", bmp(64), "D:\\MOVIE.TAR.BMP", 1}, {"M.EXE", [](char* p) { return ReplaceExtension(p, "", 9); }, "M.EXE", 1},
      {"D:\\A\\MOVIE.EXEC", bmp(15), "D:\\A\\MOVIE.BMP", 1, 15}, {"D:\\A\\MOVIE", bmp(15), "D:\\A\\MOVIE.BMP", 1, 15},
      {"D:\\A\\MOVIE.EXE", bmp(14), "", 0, 14}, {"D:\\A\\MOVIE", bmp(14), "", 0, 14},
      {"D:\\A.B\\Movie.exe", strip, "D:\\A.B", 1}, {"Movie.exe", strip, "", 1},
      {"D:\\TEMP\\", start, "D:\\TEMP\\TempFolder.aaa", 1}, {"", start, "", 0},
      {t229 + "\\", start, t229 + "\\TempFolder.aaa", 1}, {t229, start, t229 + "\\TempFolder.aaa", 1},
      {t229 + "t\\", start, t229 + "t\\", 0}, {t229 + "t", start, t229 + "t", 0},
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
  const uint32_t length = StartWorkFolderPath(path);
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

// Junctions and symbolic links list with 0x400 (a Unix link under Wine too): never entered.
TEST(CleanupWalk, LinksAreNeverEnteredAndTheLockFileGoesLast) {
  const uint32_t folder = 0x10, link = 0x410, file = 0x20, fileLink = 0x420;
  for (auto [attributes, candidate] : {std::pair{folder, 1}, {folder | 0x2, 1}, {link, 0}, {file, 0}, {fileLink, 0}}) {
    EXPECT_EQ(IsWorkFolderCandidate(attributes), candidate) << std::hex << attributes;
  }
  struct Case { const char* name; uint32_t attributes; int inWorkFolder; TreeAction action; };
  for (Case c : {Case{".", folder, 1, TreeSkip}, {"..", folder, 0, TreeSkip}, {"...", folder, 0, TreeDescend},
                 {"cine.dll", file, 1, TreeDeleteFile}, {"sub", folder, 1, TreeDescend}, {"sub", link, 1, TreeUnlink},
                 {"sub", link, 0, TreeUnlink}, {"cine.dll", fileLink, 0, TreeDeleteFile},
                 {"Quorvantix.lok", file | 0x2, 1, TreeDeleteLast}, {"QUORVANTIX.LOK", file, 1, TreeDeleteLast},
                 {"Quorvantix.lok", file, 0, TreeDeleteFile} /* below the work folder: any file */,
                 {"Quorvantix.lok", folder, 1, TreeDescend} /* a folder of that name is no lock */,
                 {"Quorvantix.lo", file, 1, TreeDeleteFile}, {"Quorvantix.lokx", file, 1, TreeDeleteFile}})
    EXPECT_EQ(ChooseTreeAction(c.name, c.attributes, c.inWorkFolder), c.action) << c.name << " " << c.inWorkFolder;
}

}  // namespace
