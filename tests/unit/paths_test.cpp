// Paths under any code page: every path edit walks whole characters by the double-byte
// rule, and a wide path becomes the ANSI path that names its file.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "base/ansi_path.h"
#include "base/paths.h"
#include "tests/unit/payload_fake_platform.h"

namespace {

// Under code page 932 "表" is 95 5C and "ソ" is 83 5C: their second byte is a backslash on
// its own.
const std::string Hyo = "\x95\x5C", So = "\x83\x5C";

// The edits of the launcher's paths, each with its argument.
enum class Edit { Join, Subfolder, Entry, ListedFolder, Backslash, Extension, Strip, Keep };

struct EditRow {
  std::string before;
  Edit edit;
  std::string arg;  // the name joined, or the extension
  std::string after;
  int ok = 1;
  uint32_t capacity = PathCapacity;  // of the buffer the edit is told of
};

int Apply(char* p, const EditRow& row, LeadByteRule rule) {
  const char* arg = row.arg.c_str();
  const std::string before = p;
  switch (row.edit) {
    case Edit::Join:
      return JoinPath(p, p, arg, rule) != nullptr;
    case Edit::Subfolder:
      return AppendSubfolder(p, arg, rule);
    case Edit::Entry:
      return JoinFolderEntry(p, before.c_str(), arg);
    case Edit::ListedFolder:
      return JoinFolderPath(p, before.c_str(), arg, rule);
    case Edit::Backslash:
      return EnsureTrailingBackslash(p, row.capacity, rule);
    case Edit::Extension:
      return ReplaceExtension(p, arg, row.capacity, rule);
    case Edit::Strip:
      StripFileName(p, rule);
      return 1;
    case Edit::Keep:
      KeepFolder(p, rule);
      return 1;
  }
  return 0;
}

// Every edit leaves a result that fits its buffer, or fails leaving the empty string: a path
// is never used cut short or half-built, and nothing is written past the buffer.
TEST(PathEdits, FitTheirBufferOrFailLeavingNoHalfBuiltPath) {
  const std::string f250(250, 'f'), a258(258, 'a'), temp204 = "C:\\" + std::string(200, 'f') + "\\";
  const EditRow rows[] = {
      {"D:\\", Edit::Join, "cine.dll", "D:\\cine.dll"},
      {f250, Edit::Join, "cine.dll", f250 + "\\cine.dll"},  // 259 characters
      {f250, Edit::Join, "cine.dlls", "", 0},
      {"D:\\G", Edit::Subfolder, "Nodix", "D:\\G\\Nodix"},
      {std::string(255, 'g'), Edit::Subfolder, "Nodix", "", 0},
      {f250, Edit::Entry, "123456789", f250 + "123456789"},
      {f250, Edit::Entry, "1234567890", "", 0},
      {temp204, Edit::ListedFolder, std::string(54, 'n'), temp204 + std::string(54, 'n') + "\\"},
      {temp204, Edit::ListedFolder, std::string(55, 'n'), "", 0},
      {"D:\\TEMP\\", Edit::Backslash, "", "D:\\TEMP\\"},
      {"D:\\TEMP/", Edit::Backslash, "", "D:\\TEMP/\\"},
      {"", Edit::Backslash, "", "", 0},
      {a258, Edit::Backslash, "", a258 + "\\"},
      {a258 + "a", Edit::Backslash, "", "", 0},
      // The bitmap's name: a longer old extension goes whole; a folder's dot is no extension.
      {"D:\\MY.GAMES\\MOVIE", Edit::Extension, ".BMP", "D:\\MY.GAMES\\MOVIE.BMP"},
      {"D:\\MOVIE.TAR.EXE", Edit::Extension, ".BMP", "D:\\MOVIE.TAR.BMP"},
      {"D:\\A\\MOVIE.EXEC", Edit::Extension, ".BMP", "D:\\A\\MOVIE.BMP", 1, 15},
      {"D:\\A\\MOVIE.EXE", Edit::Extension, ".BMP", "", 0, 14},
      {"D:\\A\\MOVIE", Edit::Extension, ".BMP", "", 0, 14},
      {"D:\\A.B\\Movie.exe", Edit::Strip, "", "D:\\A.B"},
      {"Movie.exe", Edit::Strip, "", ""},
      {"Movie.exe", Edit::Keep, "", ""},
  };
  for (const EditRow& row : rows) {
    char buffer[PathCapacity + 32];
    memset(buffer, '#', sizeof buffer);
    strcpy(buffer, row.before.c_str());
    EXPECT_EQ(Apply(buffer, row, SingleByteCodePage), row.ok) << row.before << " " << row.arg;
    EXPECT_EQ(buffer, row.after) << row.before << " " << row.arg;
    const size_t end =
        std::max({size_t{row.capacity}, row.before.size() + 1, row.after.size() + 1});
    EXPECT_EQ(std::string(buffer + end, buffer + sizeof buffer),
              std::string(sizeof buffer - end, '#'))
        << "written past the buffer: " << row.before;
  }
}

struct DoubleByteRow {
  std::string before;
  Edit edit;
  std::string arg;
  std::string under932;
  std::string singleByte;  // where every 0x5C is a backslash (0x95 is "•" in code page 1252)
};

// The last separator, the trailing-backslash test and the extension's dot, each found by
// a walk over whole characters, under code page 932 and under a single-byte one.
TEST(PathEdits, WalkWholeCharactersOfTheCodePage) {
  const DoubleByteRow rows[] = {
      // A trail byte of 0x5C in the file name.
      {"D:\\G\\" + Hyo + ".EXE", Edit::Strip, "", "D:\\G", "D:\\G\\\x95"},
      {"D:\\G\\" + Hyo + ".EXE", Edit::Keep, "", "D:\\G\\", "D:\\G\\" + Hyo},
      {"D:\\G\\A." + Hyo + "B", Edit::Extension, ".BMP", "D:\\G\\A.BMP",
       "D:\\G\\A." + Hyo + "B.BMP"},
      // In a folder name too.
      {"D:\\" + So + "\\" + Hyo + ".EXE", Edit::Strip, "", "D:\\" + So, "D:\\" + So + "\\\x95"},
      // At the end of a folder: the folder does not end in a backslash.
      {"D:\\" + So, Edit::Backslash, "", "D:\\" + So + "\\", "D:\\" + So},
      {"C:\\T\\", Edit::ListedFolder, "TempFolder." + Hyo, "C:\\T\\TempFolder." + Hyo + "\\",
       "C:\\T\\TempFolder." + Hyo},
      // A lead byte whose second byte is itself in the lead range: the 5C after them is a
      // backslash, which a look at the byte before it alone would miss.
      {"D:\\\x95\x95\\M.EXE", Edit::Strip, "", "D:\\\x95\x95", "D:\\\x95\x95"},
      // A lead byte with nothing after it is a character of its own.
      {"D:\\ab\x95", Edit::Backslash, "", "D:\\ab\x95\\", "D:\\ab\x95\\"},
  };
  for (const DoubleByteRow& row : rows) {
    for (LeadByteRule rule : {ShiftJisCodePage, SingleByteCodePage}) {
      char buffer[PathCapacity];
      strcpy(buffer, row.before.c_str());
      EXPECT_TRUE(Apply(buffer, {row.before, row.edit, row.arg, ""}, rule)) << row.before;
      EXPECT_EQ(buffer, rule == ShiftJisCodePage ? row.under932 : row.singleByte)
          << row.before << (rule == ShiftJisCodePage ? " under 932" : "");
    }
  }
}

std::u16string WideText(const WideChar* text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text));
}
const WideChar* AsWide(const std::u16string& text) {
  return reinterpret_cast<const WideChar*>(text.c_str());
}

// A code page and a volume for MakeAnsiPath: ASCII, "表" as 95 5C, "ā" written as its
// look-alike "a" (a best fit), "?" for anything else; short names where the volume has them.
struct FakeSystem {
  std::map<std::u16string, std::u16string> shortNames;

  static uint32_t ToAnsi(void*, const WideChar* wide, char* ansi, uint32_t capacity) {
    std::string out;
    for (char16_t c : WideText(wide)) {
      out += c < 0x80 ? std::string(1, char(c)) : c == u'表' ? Hyo : c == u'ā' ? "a" : "?";
    }
    if (out.size() + 1 > capacity) return 0;
    memcpy(ansi, out.c_str(), out.size() + 1);
    return uint32_t(out.size() + 1);
  }
  static uint32_t ToWide(void*, const char* ansi, WideChar* wide, uint32_t capacity) {
    std::u16string out;
    for (const char* p = ansi; *p != 0; ++p) {
      const bool hyo = p[0] == Hyo[0] && p[1] == Hyo[1];
      out += hyo ? u'表' : char16_t(uint8_t(*p));
      p += hyo;
    }
    if (out.size() + 1 > capacity) return 0;
    memcpy(wide, out.c_str(), 2 * (out.size() + 1));
    return uint32_t(out.size() + 1);
  }
  static uint32_t ShortPath(void* context, const WideChar* path, WideChar* out, uint32_t room) {
    auto& names = static_cast<FakeSystem*>(context)->shortNames;
    auto found = names.find(WideText(path));
    if (found == names.end()) return 0;
    if (found->second.size() < room)
      memcpy(out, AsWide(found->second), 2 * found->second.size() + 2);
    return uint32_t(found->second.size());
  }
};

struct AnsiCase {
  const char* name;
  std::u16string wide;
  std::u16string shortForm;  // none when empty
  std::string ansi;          // empty: no ANSI path names the file
};

TEST(AnsiPath, IsTheFaithfulFormOrTheShortOne) {
  const std::u16string deep = u"C:\\" + std::u16string(130, u'表') + u"\\M.EXE";
  const AnsiCase cases[] = {
      {"ascii", u"C:\\Games\\Movie.exe", u"C:\\GAMES\\MOVIE~1.EXE", "C:\\Games\\Movie.exe"},
      {"spelled", u"C:\\表\\表.EXE", u"C:\\6C~1\\6C~1.EXE", "C:\\" + Hyo + "\\" + Hyo + ".EXE"},
      {"unspelled", u"C:\\Фильм\\M.EXE", u"C:\\6C5A~1\\M.EXE", "C:\\6C5A~1\\M.EXE"},
      {"best_fit", u"C:\\Mā\\M.EXE", u"C:\\MA~1\\M.EXE", "C:\\MA~1\\M.EXE"},
      {"too_long_spelled", deep, u"C:\\8F3B~1\\M.EXE", "C:\\8F3B~1\\M.EXE"},
      {"no_short_name", u"C:\\Фильм\\M.EXE", u"", ""},
      {"short_name_unspelled", u"C:\\Фильм\\M.EXE", u"C:\\ФИ~1\\M.EXE", ""},
  };
  for (const AnsiCase& c : cases) {
    FakeSystem system;
    if (!c.shortForm.empty()) system.shortNames[c.wide] = c.shortForm;
    const AnsiPathCalls calls = {&system, FakeSystem::ToAnsi, FakeSystem::ToWide,
                                 FakeSystem::ShortPath};
    char ansi[PathCapacity];
    memset(ansi, '#', sizeof ansi);
    EXPECT_EQ(MakeAnsiPath(&calls, AsWide(c.wide), ansi, PathCapacity), !c.ansi.empty()) << c.name;
    EXPECT_EQ(ansi, c.ansi) << c.name;
  }
}

// The splash bitmap's name is made from the wide path: its dot and separators are units.
TEST(AnsiPath, WideExtensionIsReplacedInTheFileNameOnly) {
  struct Case {
    std::u16string before, after;
    uint32_t capacity;
  };
  const Case cases[] = {
      {u"C:\\Фильм\\Кино.EXE", u"C:\\Фильм\\Кино.BMP", 32},
      {u"C:\\Ф.М\\Кино", u"C:\\Ф.М\\Кино.BMP", 16},
      {u"C:\\Ф.М\\Кино", u"", 15},
  };
  for (const Case& c : cases) {
    std::u16string path = c.before + u'\0' + std::u16string(40, u'#');
    WideChar* units = reinterpret_cast<WideChar*>(&path[0]);
    EXPECT_EQ(ReplaceWideExtension(units, ".BMP", c.capacity), !c.after.empty());
    EXPECT_TRUE(WideText(units) == c.after) << c.capacity;
  }
}

}  // namespace
