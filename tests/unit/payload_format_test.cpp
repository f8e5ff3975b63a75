// The payload table's pure rules: slot counts, entry names, kinds and bounds, the target
// path, and where a signed executable's payload ends.
#include <gtest/gtest.h>

#include <functional>

#include "base/paths.h"
#include "payload/payload_signature.h"
#include "tests/unit/payload_fake_platform.h"

namespace {

PayloadEntry Entry(const std::string& name, const std::string& ext, const std::string& extract) {
  PayloadEntry e = {};
  memcpy(e.name, name.data(), std::min(name.size(), sizeof e.name));
  memcpy(e.extension, ext.data(), std::min(ext.size(), sizeof e.extension));
  memcpy(e.extractExtension, extract.data(), std::min(extract.size(), sizeof e.extractExtension));
  return e;
}

TEST(PayloadFormat, MagicIsStoredAsTheBytes10MCAndTheOptionIsBit8) {
  EXPECT_EQ(memcmp(&PayloadMagic, "10MC", 4), 0);
  for (auto [flags, option] : {std::pair{0x100u, 1u}, {0x229Eu, 0u}, {0xFEFFu, 0u}, {~0u, 1u}})
    EXPECT_EQ(PayloadOptionOf(flags), option) << std::hex << flags;
}

TEST(PayloadFormat, CountsSelectExtractedAndLeadingSlotsOrAreRefused) {
  struct Case { int32_t entries, extracts; bool valid; int32_t extractedFirst = 0, leading = 0; };
  const Case cases[] = {{4, 4, true, 0, 0}, {5, 2, true, 3, 3}, {3, 0, true, 3, 3}, {0, 0, true, 0, 0},
                        {5, 5, true, 0, 0}, {1, 1, true, 0, 0}, {6, 1, false},      {3, 4, false},
                        {-1, 0, false},     {2, -1, false},     {INT32_MIN, 0, false}, {5, INT32_MIN, false}};
  for (const Case& c : cases) {
    PayloadHeader h = {};
    h.entryCount = c.entries;
    h.extractCount = c.extracts;
    ASSERT_EQ(HasValidSlotCounts(&h) != 0, c.valid) << c.entries << "/" << c.extracts;
    if (!c.valid) continue;
    PayloadSlots extracted = SelectExtractedSlots(&h), leading = SelectLeadingSlots(&h);
    EXPECT_EQ(std::vector<int32_t>({extracted.first, extracted.count, leading.first, leading.count}),
              std::vector<int32_t>({c.extractedFirst, c.extracts, 0, c.leading})) << c.entries << "/" << c.extracts;
  }
}

TEST(PayloadFormat, OnlyTerminatedNamesThatStayInTheirFolderAreAccepted) {
  using payload_fake::CodePage932;
  struct Case { std::string name, ext, extract; bool valid; LeadByteRule cp = SingleByteCodePage; };
  const Case cases[] = {
      {"cine", "dll", "dll", true},        {"cine", "", "", true},  // "cine."
      {"", "dll", "dll", true},            {"..", "dll", "dll", true},  // "...dll"
      {"a..b", "dll", "dll", true},        {"console", "x", "x", true},
      {"com0", "x", "x", true},            {"Lumen Reel 10", "htm", "html", true},
      {std::string(32, 'n'), "dll", "dll", true},   // the longest name
      {std::string(33, 'n'), "dll", "dll", false},  // fills its field, no terminator
      {"cine", "dlls", "dll", false},      {"cine", "dl_", "abcdefg", false},
      {"cine", "dl_", "abcdef", true},
      // A second byte of 0x5C or 0x7C belongs to its character under code page 932.
      {"\x95\x5C", "dll", "dll", true, CodePage932},
      {"\x83\x7C\x83\x5C", "txt", "txt", true, CodePage932},
      {"cine", "\x95\x5C", "\x95\x5C", true, CodePage932},
      {"\x95\x5C", "dll", "dll", false},
      {"\x95\x5C\\evil", "dll", "dll", false, CodePage932},
      {"abc\x95", "dll", "dll", false, CodePage932},  // a lead byte without its second
      {"..\\..\\evil", "dll", "dll", false}, {"sub/cine", "dll", "dll", false},
      {"C:cine", "dll", "dll", false},     {"cine", "d:l", "dll", false},
      {"cine", "dll", "d\\l", false},      {"cine", "dll", "dl.l", false},
      {"cin*", "dll", "dll", false},       {"cine?", "dll", "dll", false},
      {"ci\"ne", "dll", "dll", false},     {"ci\tne", "dll", "dll", false},
      {".", "", "", false},                {"", "", "", false},  // ".." and "."
      {" ", " ", " ", false},              {"CoN", "", "", false},
      {"nul.x", "dll", "dll", false},      {"prn ", "txt", "txt", false},
      {"COM1", "dll", "dll", false},       {"lpt9", "dll", "dll", false},
      {"conout$", "x", "x", false},
  };
  for (const Case& c : cases) {
    PayloadEntry e = Entry(c.name, c.ext, c.extract);
    EXPECT_EQ(HasValidEntryNames(&e, c.cp) != 0, c.valid) << "'" << c.name << "' '" << c.ext << "' '" << c.extract << "'";
  }
}

TEST(PayloadFormat, StoredExactlyWhenBothExtensionsMatchUpToTheirTerminators) {
  struct Case { const char* ext; const char* extract; bool stored; };
  for (Case c : {Case{"dll", "dll", true}, {"dll", "DLL", false}, {"", "", true}, {"dl_", "dll", false},
                 {"dll", "dllx", false}, {"", "x", false}}) {
    PayloadEntry e = Entry("cine", c.ext, c.extract);
    e.extractExtension[5] = 'q';  // garbage after the terminator
    EXPECT_EQ(IsStoredEntry(&e) != 0, c.stored) << c.ext << " " << c.extract;
  }
}

TEST(PayloadFormat, EntryDataMustLieInsideTheFile) {
  struct Case { int32_t offset, size, fileSize; bool fits; };
  for (Case c : {Case{100, 50, 150, true}, {100, 51, 150, false}, {150, 0, 150, true}, {151, 0, 150, false},
                 {-1, 10, 150, false}, {10, -1, 150, false}, {INT32_MAX - 4, 16, INT32_MAX, false},
                 {INT32_MAX, 0, INT32_MAX, true}}) {
    PayloadEntry e = Entry("x", "", "");
    e.offset = c.offset;
    e.size = c.size;
    EXPECT_EQ(EntryFitsInFile(&e, c.fileSize) != 0, c.fits) << c.offset << "+" << c.size;
  }
}

TEST(PayloadFormat, TargetIsFolderNameDotChosenExtensionWithinPathCapacity) {
  struct Case { std::string folder; int extracted; const char* name; std::string path; };
  const std::string f251(251, 'f');
  for (const Case& c : {Case{"C:\\T\\", 1, "cine", "C:\\T\\cine.dll"}, {"D:\\G\\", 0, "cine", "D:\\G\\cine.dl_"},
                        {"", 1, "cine", "cine.dll"}, {f251, 1, "cine", f251 + "cine.dll"},  // 259
                        {f251 + "f", 1, "cine", ""}, {f251, 1, "cinema", ""}}) {
    PayloadEntry e = Entry(c.name, "dl_", "dll");
    char path[PathCapacity + 8];
    memset(path, 'Z', sizeof path);
    strcpy(path, c.folder.c_str());
    EXPECT_EQ(AppendEntryFileName(path, &e, c.extracted), c.path.empty() ? 0 : 1);
    EXPECT_EQ(path, c.path);
    EXPECT_EQ(path[PathCapacity], 'Z') << "written past the path";
  }
}

TEST(PayloadSignature, OnlyATableThatEndsTheFileAfterTheHeadersMovesThePayloadEnd) {
  const int32_t size = 10000, pe = 0x40;
  using payload_fake::PutLE;
  struct Case { const char* what; uint32_t magic, offset, tableSize; std::function<void(std::string&)> damage;
                int32_t probe = PeProbeSize, end = 10000; };
  auto none = [](std::string&) {};
  const Case cases[] = {
      {"PE32", 0x10B, 9600, 400, none, PeProbeSize, 9600},
      {"PE32+", 0x20B, 9600, 400, none, PeProbeSize, 9600},
      {"no directory", 0x10B, 0, 0, none},                {"size 0", 0x10B, 9600, 0, none},
      {"past the end", 0x10B, 20000, 400, none},          {"ending before the end", 0x10B, 9600, 200, none},
      {"huge size", 0x10B, 9600, 0xFFFFFFFF, none},       {"wrapping to the end", 0x10B, 0xFFFFFF00, 10256, none},
      {"over the headers", 0x10B, 0, size, none},         {"in the section table", 0x10B, 0x150, size - 0x150, none},
      {"not 8-byte aligned", 0x10B, 9604, 396, none},     {"unknown optional header", 0x107, 9600, 400, none},
      {"no MZ", 0x10B, 9600, 400, [](std::string& s) { s[0] = 'X'; }},
      {"no PE", 0x10B, 9600, 400, [](std::string& s) { s[pe + 2] = 'X'; }},
      {"PE header past the probe", 0x10B, 9600, 400, [](std::string& s) { PutLE(s, 0x3C, 0xFFFFFFF0u, 4); }},
      {"four directories", 0x10B, 9600, 400, [](std::string& s) { PutLE(s, pe + 24 + 92, 4, 4); }},
      {"optional header too short", 0x10B, 9600, 400, [](std::string& s) { PutLE(s, pe + 20, 128, 2); }},
      {"start read short", 0x10B, 9600, 400, none, 200},  {"start unreadable", 0x10B, 9600, 400, none, -1},
  };
  for (const Case& c : cases) {
    std::string start(PeProbeSize, '\0');
    payload_fake::PutPeHeaders(start, c.magic, c.offset, c.tableSize);
    c.damage(start);
    EXPECT_EQ(FindPayloadEnd(reinterpret_cast<const uint8_t*>(start.data()), c.probe, size), c.end) << c.what;
  }
}

}  // namespace
