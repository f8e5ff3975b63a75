// The payload table's rules, and the reader over in-memory files: extraction with each
// call that can fail failed in turn, what only chosen entries show, and the exit pass.
#include <gtest/gtest.h>

#include "base/paths.h"
#include "lzari/lzari_decoder.h"
#include "tests/unit/payload_fake_platform.h"

namespace {

using namespace payload_fake;

const uint32_t Block = PayloadBufferSize;

// A slot's three text fields; both extensions are "dll" unless given.
struct Names {
  std::string name, ext = "dll", extract = "dll";
};

TEST(PayloadFormat, OnlyTerminatedNamesThatStayInTheirFolderAreAccepted) {
  struct Group {
    bool valid;
    LeadByteRule cp;
    std::vector<Names> names;
  };
  const LeadByteRule Ansi = SingleByteCodePage, Cp932 = ShiftJisCodePage;
  const Group groups[] = {
      // Dots and spaces inside a name are plain characters; fields fill up to their widths.
      {true, Ansi, {{"cine", "", ""}, {""}, {".."}, {"console", "x", "x"}, {"Lumen Reel 10"}}},
      {true, Ansi, {{std::string(32, 'n')}, {"cine", "dl_", "abcdef"}}},
      {false, Ansi, {{std::string(33, 'n')}, {"cine", "dlls"}, {"cine", "dl_", "abcdefg"}}},
      // A second byte of 0x5C or 0x7C belongs to its character under code page 932, and a
      // first byte may not end a field.
      {true, Cp932, {{"\x95\x5C"}, {"\x83\x7C\x83\x5C"}, {"cine", "\x95\x5C", "\x95\x5C"}}},
      {false, Cp932, {{"\x95\x5C\\evil"}, {"abc\x95"}}},
      {false, Ansi, {{"\x95\x5C"}}},
      {false, Ansi, {{"..\\..\\evil"}, {"sub/cine"}, {"C:cine"}, {"cine", "d:l"}}},
      {false, Ansi, {{"cine", "dll", "d\\l"}, {"cine", "dll", "dl.l"}}},
      {false, Ansi, {{"cin*"}, {"cine?"}, {"ci\"ne"}, {"ci\tne"}}},
      // Only dots and spaces, which Windows strips: the folder itself or its parent.
      {false, Ansi, {{".", "", ""}, {"", "", ""}, {" ", " ", " "}}},
      // Devices, whatever the case, the extension or trailing spaces.
      {false, Ansi, {{"CoN", "", ""}, {"nul.x"}, {"prn "}, {"COM1"}, {"lpt9"}, {"conout$"}}},
  };
  for (const Group& g : groups) {
    for (const Names& n : g.names) {
      const PayloadEntry e = Entry(n.name, n.ext, n.extract);
      EXPECT_EQ(HasValidEntryNames(&e, g.cp) != 0, g.valid)
          << n.name << "." << n.ext << " " << n.extract;
    }
  }
}

// Stored exactly when the extensions match up to their terminators; data inside the file.
TEST(PayloadFormat, EntryKindAndBounds) {
  struct Kind {
    const char* ext;
    const char* extract;
    bool stored;
  };
  const Kind kinds[] = {
      {"dll", "dll", true}, {"dll", "DLL", false}, {"dll", "dllx", false}, {"", "x", false}};
  for (const Kind& c : kinds) {
    PayloadEntry e = Entry("cine", c.ext, c.extract);
    e.extractExtension[5] = 'q';  // garbage after the terminator
    EXPECT_EQ(IsStoredEntry(&e) != 0, c.stored) << c.ext << " " << c.extract;
  }
  struct Bounds {
    int32_t offset, size, fileSize;
    bool fits;
  };
  const Bounds bounds[] = {{100, 50, 150, true},
                           {100, 51, 150, false},
                           {-1, 10, 150, false},
                           {10, -1, 150, false},
                           {INT32_MAX - 4, 16, INT32_MAX, false}};
  for (const Bounds& c : bounds) {
    const PayloadEntry e = {c.offset, c.size, {}, {}, {}};
    EXPECT_EQ(EntryFitsInFile(&e, c.fileSize) != 0, c.fits) << c.offset << "+" << c.size;
  }
}

// What a run reports when the call `f` failed. While the payload is looked for, a failure
// leaves it unrecognised or found another way; the copy of a stored entry only says
// whether it copied, so its own failures read as a refused write.
ExtractResult Expected(const Failure& f) {
  if (f.call == Call::None || !f.extracting) return ExtractDone;
  switch (f.call) {
    case Call::Allocate:  // the copy halves its buffer and goes on
      return f.flags == MoveableZeroedMemory ? ExtractDone : ExtractFailed;
    case Call::Read:
      return f.copying ? ExtractNotWritten : ExtractFailed;
    case Call::Seek:
      return ExtractFailed;
    default:  // the work folder, a file, a write, the copy buffer's lock
      return ExtractNotWritten;
  }
}

// Each call that can fail, failed in turn, through one extraction of stored and
// compressed entries, with the integrity record and without: each run ends clean, reports
// its own kind of failure, and leaves the files written before the failed one, intact.
// The run that fails nothing had the decoder's blocks once, and the input block again
// only for a larger stream.
TEST(PayloadExtraction, EachFailedCallEndsCleanAndReadsAsItsKind) {
  const std::vector<EntrySpec> entries = {
      Compressed("cine", "dll", Sample(Block + 5000, 1)),
      Compressed("notes", "txt", Sample(3 * Block, 3)),
      Compressed("small", "txt", Sample(1000, 4)),
      Stored("\x95\x5C", "dat", Sample(140000, 2)),  // a backslash alone in one byte
      Stored("empty", "dat", ""),
  };
  const uint32_t a = uint32_t(entries[0].data.size()), b = uint32_t(entries[1].data.size());
  for (bool sealed : {false, true}) {
    const std::string image = sealed ? SealImage(MakeImage(entries, 5)) : MakeImage(entries, 5);
    for (int n = 1;; ++n) {
      SCOPED_TRACE((sealed ? "sealed, call " : "call ") + std::to_string(n));
      FakePlatform fake;
      fake.codePage = ShiftJisCodePage;
      fake.failCall = n;
      const Outcome run = Unpack(fake, image);
      EXPECT_TRUE(fake.Clean());
      if (run.recognised) {
        EXPECT_EQ(run.result, Expected(fake.failed));
      } else {
        EXPECT_TRUE(fake.failed.call != Call::None && !fake.failed.extracting);
      }
      size_t created = 0;
      for (const std::string& line : fake.log) created += line.rfind("create ", 0) == 0;
      const bool done = run.recognised && run.result == ExtractDone;
      EXPECT_TRUE(Holds(fake, entries, done ? entries.size() : std::max<size_t>(created, 1) - 1));
      if (fake.calls >= n) continue;
      const uint32_t copy = sealed ? SummedCopyBufferSize : Block;
      EXPECT_EQ(fake.allocations,
                (std::vector<std::pair<uint32_t, uint32_t>>{{FixedMemory, sizeof(LzariDecoder)},
                                                            {FixedMemory, Block},
                                                            {FixedMemory, a},
                                                            {FixedMemory, b},
                                                            {MoveableZeroedMemory, copy}}));
      break;
    }
  }
}

// Slots are written in order until one fails, whose file is deleted. A stored entry ends
// with the file; a compressed one must lie inside it, and a stream the decoder refuses is
// a damaged file even without the record. A file held by another program is kept, and
// counts as written when it is stored.
TEST(PayloadExtraction, EachSlotIsWrittenInTurnUntilOneFails) {
  const std::string data = Sample(50000, 8);
  const EntrySpec stored = Stored("third", "dat", data);
  const EntrySpec compressed = Compressed("third", "dat", data);
  EntrySpec runsPast = stored, pastEnd = compressed, cut = compressed;
  runsPast.size = 0x7FFFFFF0;
  runsPast.text = data + "4MOVIE" + std::string("\0\2\0\0", 4);  // to the trailer's end
  pastEnd.size = 0x40000000;
  cut.data.resize(cut.data.size() / 2);
  struct Case {
    const char* what;
    EntrySpec third;
    bool held;
    ExtractResult result;
    size_t written;  // the slots whose files are there afterwards
  };
  const Case cases[] = {
      {"stored, running past the end", runsPast, false, ExtractDone, 4},
      {"compressed data past the end", pastEnd, false, ExtractDamaged, 2},
      {"compressed, cut short", cut, false, ExtractDamaged, 2},
      {"target path of 259 characters", Stored(std::string(31, 'n'), "dat", "x"), false,
       ExtractDone, 4},
      {"target path of 260 characters", Stored(std::string(32, 'n'), "dat", "x"), false,
       ExtractFailed, 2},
      {"compressed, held open", compressed, true, ExtractNotWritten, 3},
      {"stored, held open", stored, true, ExtractDone, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakePlatform fake;
    fake.workFolder = "C:\\" + std::string(220, 'w') + "\\";
    std::vector<EntrySpec> entries = {Stored("first", "dat", "1"), Compressed("second", "dat", "2"),
                                      c.third, Stored("fourth", "dat", "4")};
    if (c.held) {
      entries[2].text = "old";
      fake.files[fake.workFolder + c.third.FileName()] = "old";
      fake.uncreatable.insert(fake.workFolder + c.third.FileName());
    }
    EXPECT_EQ(Unpack(fake, MakeImage(entries, 4)).result, c.result);
    EXPECT_TRUE(Holds(fake, entries, c.written));
  }
}

// Without a byte of memory for it, the copy reads as a refused write.
TEST(PayloadExtraction, TheCopyBufferHalvesUnderMemoryPressureDownToOneByte) {
  struct Case {
    uint32_t largest, chunk, tries;
  };
  const std::vector<EntrySpec> entries = {Stored("cine", "dll", Sample(40000, 7))};
  for (const Case& c : {Case{20000, 16384, 2}, {1, 1, 16}, {0, 0, 16}}) {
    SCOPED_TRACE(c.largest);
    FakePlatform fake;
    fake.largestAllocation = c.largest;
    EXPECT_EQ(Unpack(fake, MakeImage(entries, 1)).result,
              c.chunk ? ExtractDone : ExtractNotWritten);
    ASSERT_EQ(fake.allocations.size(), c.tries);
    EXPECT_EQ(fake.allocations.back(), std::make_pair(MoveableZeroedMemory, std::max(c.chunk, 1u)));
    EXPECT_TRUE(Holds(fake, entries, c.chunk ? 1 : 0));
  }
}

// Beside the executable, each leading entry's file under the extension it was shipped
// with (its first one), and nothing else; a name that does not fit is passed over.
TEST(PayloadExitPass, DeletesEachLeadingEntryUnderItsOwnExtensionOnly) {
  const std::string far = "D:\\" + std::string(220, 'g') + "\\";  // with a 32-character name: 260
  const std::vector<EntrySpec> entries = {
      Stored(std::string(32, 'n'), "dat", ""), {"save", "sa_", "sav", ""}, Stored("c", "dll", "")};
  FakePlatform fake;
  fake.files[far + "M.EXE"] = MakeImage(entries, 1);
  const PayloadPlatform calls = fake.Calls();
  DeleteLeadingEntryFiles(&calls, (far + "M.EXE").c_str());
  EXPECT_EQ(fake.log, std::vector<std::string>{"delete " + far + "save.sa_"});
  EXPECT_TRUE(fake.Clean());
}

}  // namespace
