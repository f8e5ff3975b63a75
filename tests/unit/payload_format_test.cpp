// The payload records' byte layout, slot selection, name rules and the stored rule.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/paths.h"
#include "payload/payload_format.h"
#include "tests/unit/payload_fake_platform.h"

namespace {

PayloadEntry Entry(const std::string& name, const std::string& extension,
                   const std::string& extractExtension) {
  PayloadEntry e;
  memset(&e, 0, sizeof e);
  memcpy(e.name, name.data(), std::min(name.size(), sizeof e.name));
  memcpy(e.extension, extension.data(), std::min(extension.size(), sizeof e.extension));
  memcpy(e.extractExtension, extractExtension.data(),
         std::min(extractExtension.size(), sizeof e.extractExtension));
  return e;
}

TEST(PayloadLayout, HeaderBytesReadAsLittleEndianFields) {
  // The example header's first bytes, as they lie in the file.
  unsigned char bytes[PayloadHeaderSize] = {};
  const unsigned char start[] = {'1', '0', 'M', 'C',  0x59, 0x11, 0x28, 0x00,
                                 0x9E, 0x22, 0, 0,    0x41, 0, 0, 0,
                                 4, 0, 0, 0,          4, 0, 0, 0,
                                 0x24, 0x41, 0x01, 0, 0, 0x50, 0x02, 0,
                                 'c', 'i', 'n', 'e'};
  memcpy(bytes, start, sizeof start);
  memcpy(bytes + 24 + 41, "dll", 3);
  memcpy(bytes + 24 + 45, "dll", 3);
  bytes[284] = 0x40;
  bytes[285] = 0x1F;
  PayloadHeader h;
  memcpy(&h, bytes, sizeof h);
  EXPECT_EQ(h.magic, PayloadMagic);
  EXPECT_EQ(h.movieOffset, 0x281159);
  EXPECT_EQ(h.flags, 0x229Eu);
  EXPECT_EQ(h.flags2, 0x41u);
  EXPECT_EQ(h.entryCount, 4);
  EXPECT_EQ(h.extractCount, 4);
  EXPECT_EQ(h.entries[0].offset, 0x14124);
  EXPECT_EQ(h.entries[0].size, 0x25000);
  EXPECT_STREQ(h.entries[0].name, "cine");
  EXPECT_STREQ(h.entries[0].extension, "dll");
  EXPECT_TRUE(IsStoredEntry(&h.entries[0]));
  EXPECT_EQ(h.extra1, 8000u);
  PayloadDescriptor d;
  FillPayloadDescriptor(&h, &d);
  EXPECT_EQ(d.flags, 0x229Eu);
  EXPECT_EQ(d.flags2, 0x41u);
  EXPECT_EQ(PayloadOptionOf(d.flags), 0u);
  EXPECT_EQ(PayloadOptionOf(0x100), 1u);
  EXPECT_EQ(PayloadOptionOf(0xFEFF), 0u);
}

TEST(PayloadSlots, CountsSelectExtractedAndLeadingSlotsOrAreRefused) {
  struct Case {
    int32_t entryCount, extractCount;
    bool valid;
    int32_t extractedFirst, leadingCount;
  };
  const Case cases[] = {
      {4, 4, true, 0, 0},  {5, 2, true, 3, 3},   {3, 0, true, 3, 3},  {0, 0, true, 0, 0},
      {5, 5, true, 0, 0},  {1, 1, true, 0, 0},
      {6, 1, false, 5, 5},   // a slot past the table
      {3, 4, false, -1, 0},  // extracts before slot 0
      {-1, 0, false, -1, 0}, {2, -1, false, 3, 3}, {INT32_MIN, 0, false, INT32_MIN, 0},
      {5, INT32_MIN, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.entryCount << "/" << c.extractCount);
    PayloadHeader h;
    memset(&h, 0, sizeof h);
    h.entryCount = c.entryCount;
    h.extractCount = c.extractCount;
    EXPECT_EQ(HasValidSlotCounts(&h) != 0, c.valid);
    if (!c.valid) continue;
    PayloadSlots extracted = SelectExtractedSlots(&h);
    PayloadSlots leading = SelectLeadingSlots(&h);
    EXPECT_EQ(extracted.first, c.extractedFirst);
    EXPECT_EQ(extracted.count, c.extractCount);
    EXPECT_EQ(leading.first, 0);
    EXPECT_EQ(leading.count, c.leadingCount);
  }
}

TEST(PayloadNames, OnlyNamesThatStayInTheirFolderAreAccepted) {
  struct Case {
    const char* name;
    const char* extension;
    const char* extractExtension;
    bool valid;
    LeadByteRule codePage = SingleByteCodePage;
  };
  using payload_fake::CodePage932;
  const Case cases[] = {
      {"cine", "dll", "dll", true},
      {"cine", "", "", true},          // "cine." is still a file name
      {"", "dll", "dll", true},        // ".dll"
      {".", "dll", "dll", true},       // "..dll" is a plain name
      {"a.b", "dat", "dat", true},
      {"com0", "x", "x", true},
      {"console", "x", "x", true},
      {"Lumen Reel 10", "htm", "html", true},
      {"..", "dll", "dll", true},      // "...dll" is a plain name too
      {"a..b", "dll", "dll", true},
      {"movie..v2", "dat", "dat", true},
      // A second byte of 0x5C or 0x7C is part of its character under code page 932,
      // and a backslash or bar on its own elsewhere.
      {"\x95\x5C", "dll", "dll", true, CodePage932},
      {"\x83\x7C\x83\x5C", "txt", "txt", true, CodePage932},
      {"cine", "\x95\x5C", "\x95\x5C", true, CodePage932},
      {"\x95\x5C", "dll", "dll", false},
      {"\x95\x5C\\evil", "dll", "dll", false, CodePage932},
      {"\\\x95\x5C", "dll", "dll", false, CodePage932},
      {"abc\x95", "dll", "dll", false, CodePage932},  // a first byte without its second
      {"cine", "dll", "d\x95", false, CodePage932},
      {"..\\..\\evil", "dll", "dll", false},
      {"sub\\cine", "dll", "dll", false},
      {"sub/cine", "dll", "dll", false},
      {"C:cine", "dll", "dll", false},
      {"cine", "d:l", "dll", false},
      {"cine", "dll", "d\\l", false},
      {"cine", ".", ".", false},
      {"cine", "dll", "dl.l", false},
      {"cin*", "dll", "dll", false},
      {"cine?", "dll", "dll", false},
      {"ci\"ne", "dll", "dll", false},
      {"ci\tne", "dll", "dll", false},
      {".", "", "", false},            // ".." is the parent
      {"", "", "", false},             // "." is the folder itself
      {" ", " ", " ", false},
      {"con", "dll", "dll", false},
      {"CoN", "", "", false},
      {"nul.x", "dll", "dll", false},
      {"prn ", "txt", "txt", false},
      {"aux", "dll", "dll", false},
      {"COM1", "dll", "dll", false},
      {"lpt9", "dll", "dll", false},
      {"conout$", "x", "x", false},
  };
  for (const Case& c : cases) {
    PayloadEntry e = Entry(c.name, c.extension, c.extractExtension);
    EXPECT_EQ(HasValidEntryNames(&e, c.codePage) != 0, c.valid)
        << "'" << c.name << "' '" << c.extension << "' '" << c.extractExtension << "'";
  }
}

TEST(PayloadNames, FieldsWithoutTerminatorAreRefused) {
  PayloadEntry e = Entry("cine", "dll", "dll");
  memset(e.name, 'n', sizeof e.name);  // 33 characters, no NUL
  EXPECT_FALSE(HasValidEntryNames(&e, SingleByteCodePage));
  e = Entry(std::string(32, 'n'), "dll", "dll");  // 32 is the most a name holds
  EXPECT_TRUE(HasValidEntryNames(&e, SingleByteCodePage));
  e = Entry("cine", "dlls", "dll");  // the extension fills its 4 bytes
  EXPECT_FALSE(HasValidEntryNames(&e, SingleByteCodePage));
  e = Entry("cine", "dl_", "abcdefg");  // the extract extension fills its 7 bytes
  EXPECT_FALSE(HasValidEntryNames(&e, SingleByteCodePage));
  e = Entry("cine", "dl_", "abcdef");
  EXPECT_TRUE(HasValidEntryNames(&e, SingleByteCodePage));
}

TEST(PayloadNames, TableIsValidOnlyWhenEveryUsedSlotIs) {
  PayloadHeader h;
  memset(&h, 0, sizeof h);
  h.entryCount = 3;
  h.extractCount = 2;
  h.entries[0] = Entry("lead", "tmp", "tmp");
  h.entries[1] = Entry("cine", "dll", "dll");
  h.entries[2] = Entry("movie", "dat", "dat");
  // Slots from entryCount on are ignored, whatever they hold.
  memset(&h.entries[3], 'x', sizeof h.entries[3]);
  EXPECT_TRUE(HasValidEntryTable(&h, SingleByteCodePage));
  h.entries[0] = Entry("..\\x", "tmp", "tmp");  // a leading slot counts too
  EXPECT_FALSE(HasValidEntryTable(&h, SingleByteCodePage));
  h.entries[0] = Entry("lead", "tmp", "tmp");
  h.entryCount = 4;
  EXPECT_FALSE(HasValidEntryTable(&h, SingleByteCodePage));
}

TEST(PayloadEntryKind, StoredExactlyWhenBothExtensionsMatchByteForByte) {
  struct Case { const char* extension; const char* extractExtension; bool stored; };
  const Case cases[] = {
      {"dll", "dll", true}, {"dll", "DLL", false}, {"", "", true},
      {"dl_", "dll", false}, {"dll", "dllx", false}, {"dl", "dll", false},
      {"", "x", false},
  };
  for (const Case& c : cases) {
    PayloadEntry e = Entry("cine", c.extension, c.extractExtension);
    EXPECT_EQ(IsStoredEntry(&e) != 0, c.stored) << c.extension << " " << c.extractExtension;
  }
  // Garbage after the terminator is not compared.
  PayloadEntry e = Entry("cine", "dl", "dl");
  e.extractExtension[4] = 'q';
  EXPECT_TRUE(IsStoredEntry(&e));
}

TEST(PayloadEntryBounds, DataMustLieInsideTheFile) {
  struct Case { int32_t offset, size, fileSize; bool fits; };
  const Case cases[] = {
      {100, 50, 150, true},   {100, 51, 150, false}, {150, 0, 150, true},
      {151, 0, 150, false},   {0, 0, 0, true},       {-1, 10, 150, false},
      {10, -1, 150, false},   {INT32_MAX - 4, 16, INT32_MAX, false},
      {INT32_MAX, 0, INT32_MAX, true}, {0, 10, -1, false},
  };
  for (const Case& c : cases) {
    PayloadEntry e = Entry("x", "", "");
    e.offset = c.offset;
    e.size = c.size;
    EXPECT_EQ(EntryFitsInFile(&e, c.fileSize) != 0, c.fits)
        << c.offset << "+" << c.size << " in " << c.fileSize;
  }
}

TEST(PayloadEntryNames, TargetIsFolderNameDotExtensionWithinPathCapacity) {
  PayloadEntry e = Entry("cine", "dl_", "dll");
  char path[PathCapacity] = "C:\\TEMP\\TempFolder.aaa\\";
  ASSERT_TRUE(AppendEntryFileName(path, &e, 1));
  EXPECT_STREQ(path, "C:\\TEMP\\TempFolder.aaa\\cine.dll");
  strcpy(path, "D:\\GAMES\\");
  ASSERT_TRUE(AppendEntryFileName(path, &e, 0));
  EXPECT_STREQ(path, "D:\\GAMES\\cine.dl_");
  e = Entry("cine", "", "");
  path[0] = 0;
  ASSERT_TRUE(AppendEntryFileName(path, &e, 1));
  EXPECT_STREQ(path, "cine.");

  // "cine.dll" is 8 characters: 251 + 8 = 259 fits with the terminator, 252 does not.
  e = Entry("cine", "dll", "dll");
  char big[PathCapacity + 8];
  memset(big, 'Z', sizeof big);
  std::string folder(251, 'f');
  strcpy(big, folder.c_str());
  EXPECT_TRUE(AppendEntryFileName(big, &e, 1));
  EXPECT_EQ(strlen(big), 259u);
  EXPECT_EQ(big[PathCapacity], 'Z');
  folder += 'f';
  strcpy(big, folder.c_str());
  EXPECT_FALSE(AppendEntryFileName(big, &e, 1));
  EXPECT_STREQ(big, "");
}

}  // namespace
