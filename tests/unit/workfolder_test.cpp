// Work folder naming (the suffix odometer, the length limits, the bounded joins) and what
// the cleanup's tree walk does with each entry it lists.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "base/paths.h"
#include "workfolder/work_folder_name.h"
#include "workfolder/work_folder_walk.h"

namespace {

// A 260-byte path buffer followed by a guard zone that nothing may touch.
struct GuardedPath {
  char bytes[PathCapacity + 32];
  explicit GuardedPath(const std::string& text) {
    memset(bytes, '#', sizeof bytes);
    memcpy(bytes, text.c_str(), text.size() + 1);
  }
  bool GuardIntact() const {
    for (size_t i = PathCapacity; i < sizeof bytes; ++i) {
      if (bytes[i] != '#') return false;
    }
    return true;
  }
};

TEST(EnsureTrailingBackslash, AddsExactlyOneUnlessPresentOrEmpty) {
  struct Case { const char* path; const char* result; };
  const Case cases[] = {
      {"D:\\TEMP", "D:\\TEMP\\"},
      {"D:\\TEMP\\", "D:\\TEMP\\"},
      {"C:", "C:\\"},
      {"\\", "\\"},
      {"", ""},
      {"D:\\TEMP/", "D:\\TEMP/\\"},
  };
  for (const Case& c : cases) {
    char buffer[PathCapacity];
    strcpy(buffer, c.path);
    EnsureTrailingBackslash(buffer, PathCapacity);
    EXPECT_STREQ(buffer, c.result) << '"' << c.path << '"';
  }
}

TEST(EnsureTrailingBackslash, BoundedFormRefusesWhenTheBackslashWouldNotFit) {
  // 258 characters + backslash + terminator = 260: fits exactly.
  GuardedPath fits(std::string(258, 'a'));
  EXPECT_TRUE(EnsureTrailingBackslash(fits.bytes, PathCapacity));
  EXPECT_EQ(strlen(fits.bytes), 259u);
  EXPECT_EQ(fits.bytes[258], '\\');

  GuardedPath full(std::string(259, 'a'));
  EXPECT_FALSE(EnsureTrailingBackslash(full.bytes, PathCapacity));
  EXPECT_STREQ(full.bytes, "") << "a refused path is never used half-built";
  EXPECT_TRUE(full.GuardIntact());

  // Already ending in a backslash needs no room.
  GuardedPath ends(std::string(258, 'a') + "\\");
  EXPECT_TRUE(EnsureTrailingBackslash(ends.bytes, PathCapacity));
  EXPECT_EQ(strlen(ends.bytes), 259u);

  GuardedPath empty("");
  EXPECT_FALSE(EnsureTrailingBackslash(empty.bytes, PathCapacity));
}

TEST(StartWorkFolderPath, AppendsTheFirstNameAfterOneBackslash) {
  struct Case { const char* temp; const char* path; };
  const Case cases[] = {
      {"D:\\TEMP\\", "D:\\TEMP\\TempFolder.aaa"},
      {"D:\\TEMP", "D:\\TEMP\\TempFolder.aaa"},
      {"C:\\", "C:\\TempFolder.aaa"},
      {"C:", "C:\\TempFolder.aaa"},
  };
  for (const Case& c : cases) {
    char buffer[PathCapacity];
    strcpy(buffer, c.temp);
    EXPECT_EQ(StartWorkFolderPath(buffer), strlen(c.path)) << c.temp;
    EXPECT_STREQ(buffer, c.path);
  }
}

TEST(StartWorkFolderPath, TakesTemporaryPathsUpTo230CharactersWithTheirBackslash) {
  struct Case { size_t letters; bool backslash; bool accepted; };
  const Case cases[] = {
      {229, true, true},    // 230 with the backslash
      {230, true, false},   // 231
      {229, false, true},   // gets its backslash: 230
      {230, false, false},  // would become 231
      {258, false, false},  // the backslash alone would overflow
      {259, false, false},
      {0, false, false},    // empty: nothing to build on
  };
  for (const Case& c : cases) {
    std::string temp = c.letters ? "C:" + std::string(c.letters - 2, 't') : "";
    if (c.backslash) temp += "\\";
    SCOPED_TRACE(temp.size());
    GuardedPath path(temp);
    uint32_t length = StartWorkFolderPath(path.bytes);
    EXPECT_TRUE(path.GuardIntact());
    if (c.accepted) {
      ASSERT_EQ(length, 230u + 14u);
      EXPECT_STREQ(path.bytes + 230, "TempFolder.aaa");
      // The longest path ever built from it, the lock file's, still fits.
      std::string lockPath = std::string(path.bytes) + "\\" + LockFileName;
      EXPECT_EQ(lockPath.size() + 1, PathCapacity);
    } else {
      EXPECT_EQ(length, 0u);
      EXPECT_EQ(std::string(path.bytes), temp) << "a refused path is left as it was";
    }
  }
}

std::string Suffix(const char* path, uint32_t length) { return std::string(path + length - 3, 3); }

TEST(AdvanceWorkFolderSuffix, CountsLikeAnOdometerWithTheLastLetterFastest) {
  struct Case { const char* from; const char* to; };
  const Case cases[] = {
      {"aaa", "aab"}, {"aay", "aaz"}, {"aaz", "aba"}, {"abz", "aca"},
      {"azz", "baa"}, {"bzz", "caa"}, {"yzz", "zaa"}, {"zzy", "zzz"},
  };
  for (const Case& c : cases) {
    char path[PathCapacity];
    std::string text = std::string("D:\\TEMP\\TempFolder.") + c.from;
    strcpy(path, text.c_str());
    uint32_t length = text.size();
    EXPECT_TRUE(AdvanceWorkFolderSuffix(path, length)) << c.from;
    EXPECT_EQ(Suffix(path, length), c.to) << c.from;
    EXPECT_EQ(std::string(path, length - 3), "D:\\TEMP\\TempFolder.") << "the prefix is untouched";
    EXPECT_EQ(path[length], 0);
  }
}

TEST(AdvanceWorkFolderSuffix, VisitsAll17576NamesOnceInOrderThenStops) {
  char path[PathCapacity] = "X:\\";
  uint32_t length = StartWorkFolderPath(path);
  ASSERT_GT(length, 0u);
  std::set<std::string> seen;
  std::string previous;
  int names = 1;
  seen.insert(Suffix(path, length));
  previous = Suffix(path, length);
  while (AdvanceWorkFolderSuffix(path, length)) {
    std::string now = Suffix(path, length);
    ASSERT_LT(previous, now) << "names go up alphabetically";
    for (char letter : now) ASSERT_TRUE(letter >= 'a' && letter <= 'z') << now;
    seen.insert(now);
    previous = now;
    ASSERT_LE(++names, 17576) << "the odometer must end";
  }
  EXPECT_EQ(names, 17576);
  EXPECT_EQ(seen.size(), 17576u);
  EXPECT_EQ(previous, "zzz");
}

TEST(JoinFolderEntry, JoinsWithinTheBufferOrLeavesAnEmptyString) {
  struct Case {
    std::string folder;
    std::string name;
    bool listed;          // JoinFolderPath: the name is a folder, backslash added
    const char* joined;   // null: refused; "": folder and name as given
  };
  const std::string temp = "C:\\" + std::string(200, 't') + "\\";  // 204 characters
  const Case cases[] = {
      {"D:\\TEMP\\TempFolder.aaa\\", LockFileName, false,
       "D:\\TEMP\\TempFolder.aaa\\Quorvantix.lok"},
      {"C:\\T\\", "TempFolder.abc", true, "C:\\T\\TempFolder.abc\\"},
      {std::string(250, 'f'), "123456789", false, ""},    // 259: fits exactly
      {std::string(250, 'f'), "1234567890", false, nullptr},
      {std::string(300, 'h'), "a", false, nullptr},       // the folder alone is too long
      {temp, std::string(54, 'n'), true, ""},             // 258 + backslash = 259
      {temp, std::string(55, 'n'), true, nullptr},        // no room for the backslash
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder.size() + c.name.size());
    GuardedPath dest("previous");
    int ok = c.listed ? JoinFolderPath(dest.bytes, c.folder.c_str(), c.name.c_str())
                      : JoinFolderEntry(dest.bytes, c.folder.c_str(), c.name.c_str());
    EXPECT_TRUE(dest.GuardIntact());
    if (c.joined == nullptr) {
      EXPECT_FALSE(ok);
      EXPECT_STREQ(dest.bytes, "") << "a refused path is never used half-built";
    } else {
      EXPECT_TRUE(ok);
      std::string expected = *c.joined ? c.joined : c.folder + c.name + (c.listed ? "\\" : "");
      EXPECT_EQ(dest.bytes, expected);
      EXPECT_EQ(strlen(dest.bytes), expected.size());
    }
  }
}

// Junctions and Windows symbolic links list as folders with 0x400; so does a Unix
// symbolic link under Wine.
TEST(CleanupWalk, LinksAreNeverEnteredAndTheLockFileGoesLast) {
  const uint32_t folder = 0x10, link = 0x410, file = 0x20, fileLink = 0x420;
  EXPECT_TRUE(IsWorkFolderCandidate(folder));
  EXPECT_TRUE(IsWorkFolderCandidate(folder | 0x2));  // hidden or read-only: still ours
  EXPECT_FALSE(IsWorkFolderCandidate(link));
  EXPECT_FALSE(IsWorkFolderCandidate(file));
  EXPECT_FALSE(IsWorkFolderCandidate(fileLink));

  struct Case { const char* name; uint32_t attributes; int inWorkFolder; TreeAction action; };
  const Case cases[] = {
      {".", folder, 1, TreeSkip},
      {"..", folder, 0, TreeSkip},
      {"...", folder, 0, TreeDescend},
      {"cine.dll", file, 1, TreeDeleteFile},
      {"sub", folder, 1, TreeDescend},
      {"sub", link, 1, TreeUnlink},
      {"sub", link, 0, TreeUnlink},
      {"cine.dll", fileLink, 0, TreeDeleteFile},  // DeleteFileA removes the link itself
      {"Quorvantix.lok", file | 0x2, 1, TreeDeleteLast},
      {"QUORVANTIX.LOK", file, 1, TreeDeleteLast},
      {"Quorvantix.lok", file, 0, TreeDeleteFile},  // below the work folder: any file
      {"Quorvantix.lok", folder, 1, TreeDescend},   // a folder of that name is no lock
      {"Quorvantix.lo", file, 1, TreeDeleteFile},
      {"Quorvantix.lokx", file, 1, TreeDeleteFile},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseTreeAction(c.name, c.attributes, c.inWorkFolder), c.action)
        << c.name << " " << std::hex << c.attributes << " " << c.inWorkFolder;
  }
}

}  // namespace
