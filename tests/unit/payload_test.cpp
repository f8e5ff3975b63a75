// The payload: the table's pure rules, where a signed file's payload ends, and the reader
// over in-memory files (recognition, extraction into the work folder, the exit pass).
#include <gtest/gtest.h>

#include <functional>

#include "base/paths.h"
#include "lzari/lzari_adapters.h"
#include "lzari/lzari_encoder.h"
#include "payload/payload_signature.h"
#include "tests/unit/payload_fake_platform.h"

namespace {

using namespace payload_fake;

const char Exe[] = "D:\\GAMES\\MOVIE.EXE";
const std::string Folder = "C:\\TEMP\\TempFolder.aaa\\";
const uint32_t Block = PayloadBufferSize;

// Noise with repeats, so that a stream holds literals and matches alike.
std::string Sample(size_t n, uint32_t seed) {
  std::string s(n, 0);
  for (char& c : s) c = char((seed = seed * 1103515245u + 12345u) >> 16);
  for (size_t at = 200; at + 50 < n; at += 97) s.replace(at, 40, s, at - 150, 40);
  return s;
}

std::string Compress(const std::string& text) {
  std::vector<uint8_t> packed = LzariEncode(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  return std::string(packed.begin(), packed.end());
}

EntrySpec Stored(const std::string& name, const std::string& ext, const std::string& data) {
  return EntrySpec{name, ext, ext, data, -1, -1, data};
}

EntrySpec Compressed(const std::string& name, const std::string& ext, const std::string& text) {
  return EntrySpec{name, ext.substr(0, 2) + "_", ext, Compress(text), -1, -1, text};
}

struct Outcome { int recognised; uint32_t result; PayloadDescriptor descriptor; };

Outcome Unpack(FakePlatform& fake, const std::string& image) {
  fake.files[Exe] = image;
  PayloadPlatform calls = fake.Calls();
  Outcome run = {0, 0xDEAD, {0xBEEF, 0xBEEF}};
  run.recognised = OpenPayload(&calls, Exe, 1, &run.result, &run.descriptor);
  EXPECT_TRUE(fake.open.empty()) << "files left open";
  EXPECT_TRUE(fake.blocks.empty()) << "memory left allocated";
  EXPECT_EQ(fake.errorMode, 0x8000u) << "error mode not restored";
  EXPECT_FALSE(fake.summing) << "a sum left running";
  return run;
}

// The work folder holds the first `count` of `entries`, intact, and nothing else.
void ExpectWritten(FakePlatform& fake, const std::vector<EntrySpec>& entries, size_t count) {
  std::map<std::string, std::string> expected, folder;
  for (size_t i = 0; i < count; ++i) {
    expected[fake.workFolder + entries[i].FileName()] = entries[i].text;
  }
  for (const auto& file : fake.files) {
    if (file.first.rfind(fake.workFolder, 0) == 0) folder.insert(file);
  }
  EXPECT_TRUE(folder == expected) << folder.size() << " files, " << count << " expected";
}

// What a run reports when call `f` failed and every other call succeeded. While the
// payload is looked for, a failure leaves it unrecognised, or found another way (the
// start's headers only lead to the record and a certificate table, and the record finds
// a header whose trailer could not be read). The copy of a stored entry reports only
// whether it copied: its own failures read as a refused write.
ExtractResult Expected(const Failure& f, const std::vector<EntrySpec>& entries) {
  if (f.call == Call::None || !f.extracting) return ExtractDone;
  bool copying = false;
  for (const EntrySpec& e : entries) {
    if (f.target == Folder + e.FileName()) copying = e.extension == e.extractExtension;
  }
  switch (f.call) {
    case Call::Allocate:  // the copy halves its buffer and goes on
      return f.flags == MoveableZeroedMemory ? ExtractDone : ExtractFailed;
    case Call::Read:
      return copying ? ExtractNotWritten : ExtractFailed;
    case Call::Seek:
      return ExtractFailed;
    default:  // the work folder, a file, a write, the copy buffer's lock
      return ExtractNotWritten;
  }
}

// Every call that can fail, failed in turn, through one extraction of stored and
// compressed entries, with the integrity record and without: each run ends clean (no
// file open, no block or sum left, the error mode back; the files written before the
// failed one intact and that one gone) and reports its own kind of failure.
TEST(PayloadExtraction, EachFailedCallEndsCleanAndReadsAsItsKind) {
  const std::vector<EntrySpec> entries = {
      Compressed("cine", "dll", Sample(Block + 5000, 1)),
      Stored("movie", "dat", Sample(140000, 2)),
      Compressed("notes", "txt", Sample(3 * Block, 3)),
      Stored("end", "txt", "end"),
  };
  for (bool sealed : {false, true}) {
    const std::string image = sealed ? SealImage(MakeImage(entries, 4)) : MakeImage(entries, 4);
    for (int n = 1;; ++n) {
      SCOPED_TRACE((sealed ? "sealed, call " : "call ") + std::to_string(n));
      FakePlatform fake;
      fake.failCall = n;
      const Outcome run = Unpack(fake, image);
      size_t created = 0;
      for (const std::string& line : fake.log) created += line.rfind("create ", 0) == 0;
      if (!run.recognised) {
        EXPECT_FALSE(fake.failed.extracting);
        EXPECT_EQ(created, 0u);
      } else {
        EXPECT_EQ(run.result, Expected(fake.failed, entries));
      }
      const bool done = run.recognised && run.result == ExtractDone;
      ExpectWritten(fake, entries, done ? entries.size() : std::max<size_t>(created, 1) - 1);
      if (fake.calls < n) break;
    }
  }
}

TEST(PayloadFormat, MagicIsStoredAsTheBytes10MCAndTheOptionIsBit8) {
  EXPECT_EQ(memcmp(&PayloadMagic, "10MC", 4), 0);
  EXPECT_EQ(std::vector<uint32_t>({PayloadOptionOf(0x100), PayloadOptionOf(0x229E), PayloadOptionOf(0xFEFF), PayloadOptionOf(~0u)}),
            std::vector<uint32_t>({1, 0, 0, 1}));
}

TEST(PayloadFormat, CountsSelectExtractedAndLeadingSlotsOrAreRefused) {
  struct Case { int32_t entries, extracts; bool valid; int32_t extractedFirst = 0, leading = 0; };
  for (Case c : {Case{4, 4, true, 0, 0}, {5, 2, true, 3, 3}, {3, 0, true, 3, 3}, {0, 0, true, 0, 0}, {5, 5, true},
                 {6, 1, false}, {3, 4, false}, {-1, 0, false}, {2, -1, false}, {5, INT32_MIN, false}}) {
    const PayloadHeader h = {PayloadMagic, 0, 0, 0, c.entries, c.extracts, {}, 0, 0};
    ASSERT_EQ(HasValidSlotCounts(&h) != 0, c.valid) << c.entries << "/" << c.extracts;
    if (c.valid) {
      PayloadSlots extracted = SelectExtractedSlots(&h), leading = SelectLeadingSlots(&h);
      EXPECT_EQ(std::vector<int32_t>({extracted.first, extracted.count, leading.first, leading.count}),
                std::vector<int32_t>({c.extractedFirst, c.extracts, 0, c.leading})) << c.entries << "/" << c.extracts;
    }
  }
}

TEST(PayloadFormat, OnlyTerminatedNamesThatStayInTheirFolderAreAccepted) {
  using payload_fake::CodePage932;
  struct Case { std::string name, ext, extract; bool valid; LeadByteRule cp = SingleByteCodePage; };
  const Case cases[] = {
      {"cine", "dll", "dll", true},
      {"cine", "", "", true} /* "cine." */, {"", "dll", "dll", true},
      {"..", "dll", "dll", true} /* "...dll" */, {"a..b", "dll", "dll", true},
      {"console", "x", "x", true},
      {"Lumen Reel 10", "htm", "html", true},
      {std::string(32, 'n'), "dll", "dll", true},
      {std::string(33, 'n'), "dll", "dll", false} /* no terminator */, {"cine", "dlls", "dll", false},
      {"cine", "dl_", "abcdefg", false},
      {"cine", "dl_", "abcdef", true},
      // A second byte of 0x5C or 0x7C belongs to its character under code page 932.
      {"\x95\x5C", "dll", "dll", true, CodePage932},
      {"\x83\x7C\x83\x5C", "txt", "txt", true, CodePage932},
      {"cine", "\x95\x5C", "\x95\x5C", true, CodePage932},
      {"\x95\x5C", "dll", "dll", false},
      {"\x95\x5C\\evil", "dll", "dll", false, CodePage932},
      {"abc\x95", "dll", "dll", false, CodePage932},
      {"..\\..\\evil", "dll", "dll", false},
      {"sub/cine", "dll", "dll", false},
      {"C:cine", "dll", "dll", false},
      {"cine", "d:l", "dll", false},
      {"cine", "dll", "d\\l", false},
      {"cine", "dll", "dl.l", false},
      {"cin*", "dll", "dll", false},
      {"cine?", "dll", "dll", false},
      {"ci\"ne", "dll", "dll", false},
      {"ci\tne", "dll", "dll", false},
      {".", "", "", false},
      {"", "", "", false},  // ".." and "."
      {" ", " ", " ", false},
      {"CoN", "", "", false},
      {"nul.x", "dll", "dll", false},
      {"prn ", "txt", "txt", false},
      {"COM1", "dll", "dll", false},
      {"lpt9", "dll", "dll", false},
      {"conout$", "x", "x", false},
  };
  for (const Case& c : cases) {
    PayloadEntry e = Entry(c.name, c.ext, c.extract);
    EXPECT_EQ(HasValidEntryNames(&e, c.cp) != 0, c.valid) << "'" << c.name << "' '" << c.ext << "' '" << c.extract << "'";
  }
}

// Stored exactly when the extensions match up to their terminators; data inside the file;
// the target path the chosen extension's, within PathCapacity.
TEST(PayloadFormat, EntryKindBoundsAndTargetPath) {
  struct Kind { const char* ext; const char* extract; bool stored; };
  for (Kind c : {Kind{"dll", "dll", true}, {"dll", "DLL", false}, {"", "", true}, {"dl_", "dll", false},
                 {"dll", "dllx", false}, {"", "x", false}}) {
    PayloadEntry e = Entry("cine", c.ext, c.extract);
    e.extractExtension[5] = 'q';  // garbage after the terminator
    EXPECT_EQ(IsStoredEntry(&e) != 0, c.stored) << c.ext << " " << c.extract;
  }
  struct Bounds { int32_t offset, size, fileSize; bool fits; };
  for (Bounds c : {Bounds{100, 50, 150, true}, {100, 51, 150, false}, {150, 0, 150, true}, {151, 0, 150, false},
                   {-1, 10, 150, false}, {10, -1, 150, false}, {INT32_MAX - 4, 16, INT32_MAX, false}}) {
    const PayloadEntry e = {c.offset, c.size, {}, {}, {}};
    EXPECT_EQ(EntryFitsInFile(&e, c.fileSize) != 0, c.fits) << c.offset << "+" << c.size;
  }
  struct Target { std::string folder; int extracted; const char* name; std::string path; };
  const std::string f251(251, 'f');
  for (const Target& c : {Target{"C:\\T\\", 1, "cine", "C:\\T\\cine.dll"}, {"D:\\", 0, "cine", "D:\\cine.dl_"},
                          {"", 1, "cine", "cine.dll"}, {f251, 1, "cine", f251 + "cine.dll"} /* 259 */,
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
  struct Case { const char* what; uint32_t magic, offset, tableSize; std::function<void(std::string&)> damage;
                int32_t probe = PeHeadersSize, end = 10000; };
  auto none = [](std::string&) {};
  const Case cases[] = {
      {"PE32", 0x10B, 9600, 400, none, PeHeadersSize, 9600},
      {"PE32+", 0x20B, 9600, 400, none, PeHeadersSize, 9600},
      {"no directory", 0x10B, 0, 0, none},
      {"size 0", 0x10B, 9600, 0, none},
      {"past the end", 0x10B, 20000, 400, none},
      {"ending before the end", 0x10B, 9600, 200, none},
      {"huge size", 0x10B, 9600, 0xFFFFFFFF, none},
      {"wrapping to the end", 0x10B, 0xFFFFFF00, 10256, none},
      {"over the headers", 0x10B, 0, size, none},
      {"in the section table", 0x10B, 0x150, size - 0x150, none},
      {"not 8-byte aligned", 0x10B, 9604, 396, none},
      {"unknown optional header", 0x107, 9600, 400, none},
      {"no MZ", 0x10B, 9600, 400, [](std::string& s) { s[0] = 'X'; }},
      {"no PE", 0x10B, 9600, 400, [](std::string& s) { s[pe + 2] = 'X'; }},
      {"PE header past the probe", 0x10B, 9600, 400, [](std::string& s) { PutLE(s, 0x3C, 0xFFFFFFF0u, 4); }},
      {"four directories", 0x10B, 9600, 400, [](std::string& s) { PutLE(s, pe + 24 + 92, 4, 4); }},
      {"optional header too short", 0x10B, 9600, 400, [](std::string& s) { PutLE(s, pe + 20, 128, 2); }},
      {"start read short", 0x10B, 9600, 400, none, 200},
      {"start unreadable", 0x10B, 9600, 400, none, -1},
  };
  for (const Case& c : cases) {
    std::string start(PeHeadersSize, '\0');
    payload_fake::PutPeHeaders(start, c.magic, c.offset, c.tableSize);
    c.damage(start);
    EXPECT_EQ(FindPayloadEnd(reinterpret_cast<const uint8_t*>(start.data()), c.probe, size), c.end) << c.what;
  }
}

// Without a payload nothing is reported; a damaged table, or one with nothing to
// extract, is recognised. None of them writes anything.
TEST(PayloadReader, DamagedMissingOrEmptyPayloadsWriteNothing) {
  const std::string good = MakeImage({Stored("cine", "dll", "x"), Stored("m", "dll", "y")}, 2, 0x100, 0x44);
  auto patched = [](std::string s, size_t at, uint32_t value) { return PutLE(s, at, value, 4), s; };
  const size_t trailer = good.size() - 4;
  struct Case { const char* what; std::string image; int recognised; uint32_t result; };
  const Case cases[] = {
      {"empty file", "", 0, 0},
      {"three bytes", "abc", 0, 0},
      {"plain executable", std::string(4096, 'M'), 0, 0},
      {"header past the end", patched(good, trailer, uint32_t(good.size())), 0, 0},
      {"header cut by the end", patched(good, trailer, uint32_t(good.size()) - 200), 0, 0},
      {"header offset of 2 GiB", patched(good, trailer, 0x80000000u), 0, 0},
      {"magic differs", patched(good, HeaderAt, PayloadMagic + 1), 0, 0},
      {"movie offset negative", patched(good, HeaderAt + 4, 0xFFFFFFFF), 0, 0},
      {"movie offset far past the end", patched(MakeImage({}, 0, 0x100, 0x44), HeaderAt + 4, 0x7FFFFF00), 1, 1},
      {"counts outside the table", patched(good, HeaderAt + 16, 6), 1, ExtractDamaged},
      {"bad name in a leading slot",
       MakeImage({Stored("..\\x", "t", ""), Stored("c", "d", "")}, 1, 0x100, 0x44), 1,
       ExtractDamaged},
      {"bad name in the last slot",
       MakeImage({Stored("c", "d", ""), Stored("..\\x", "t", "")}, 1, 0x100, 0x44), 1,
       ExtractDamaged},
      {"nothing to extract, bad leading name", MakeImage({Stored("..\\x", "t", "")}, 0, 0x100, 0x44), 1, 1},
  };
  for (const Case& c : cases) {
    FakePlatform fake;
    Outcome run = Unpack(fake, c.image);
    EXPECT_EQ(std::vector<uint32_t>({uint32_t(run.recognised), run.result, run.descriptor.flags, run.descriptor.flags2}),
              c.recognised ? std::vector<uint32_t>({1, c.result, 0x100, 0x44}) : std::vector<uint32_t>({0, 0xDEAD, 0xBEEF, 0xBEEF}))
        << c.what;
    EXPECT_EQ(fake.workFolderCalls, 0) << c.what;
    EXPECT_TRUE(fake.log.empty()) << c.what;
  }
}

// The trailer of a signed file ends where its certificate table begins; a table whose
// trailer leads to no header (padded before signing, or hostile) is read the old way.
TEST(PayloadReader, SignedExecutableIsReadBeforeItsCertificateTable) {
  std::string bare = MakeImage({Stored("lead", "tmp", ""), Stored("cine", "dll", "entry data")}, 1);
  bare.insert(bare.size() - 4, (8 - bare.size() % 8) % 8, 'T');  // no padding when signed
  payload_fake::PutPeHeaders(bare, 0x10B, 0, 0);
  const std::string table = std::string(1480, 'C') + std::string(4, '\0');  // ends like a trailer
  auto signed_ = [&](std::string image, uint32_t offset, uint32_t tableSize) {
    return payload_fake::PutPeHeaders(image, 0x10B, offset, tableSize), image + table;
  };
  const uint32_t size = uint32_t(bare.size());
  struct Case { std::string image; int recognised; };
  for (const Case& c : {Case{bare, 1}, {signed_(bare, size, 1484), 1}, {signed_(bare + std::string(8, '\0'), size + 8, 1484), 0},
                        {signed_(bare, HeaderAt, size - HeaderAt).substr(0, size), 1} /* overlapping the payload */}) {
    FakePlatform fake;
    ASSERT_EQ(Unpack(fake, c.image).recognised, c.recognised) << c.image.size();
    if (!c.recognised) continue;
    EXPECT_EQ(fake.files[Folder + "cine.dll"], "entry data");
    fake.log.clear();
    PayloadPlatform calls = fake.Calls();
    DeleteLeadingEntryFiles(&calls, Exe);  // the exit pass finds the same table
    EXPECT_EQ(fake.log, std::vector<std::string>{"delete D:\\GAMES\\lead.tmp"});
  }
}

// Stored, compressed, running past the end, starting past it, empty, and named under a
// double-byte code page (the platform's rule, not a single-byte one).
TEST(PayloadExtraction, EveryKindOfEntryIsWrittenByteForByte) {
  const std::string text = Sample(3 * Block + 12345, 2), name = "\x95\x5C";  // a backslash alone in one byte
  const EntrySpec rest = {name, "dat", "dat", Sample(100000, 1), -1, 0x7FFFFFF0};  // copied up to the end of the file
  const EntrySpec past = {"past", "dat", "dat", "", 0x100000, 10};                 // starts past it: an empty file
  FakePlatform fake;
  fake.codePage = payload_fake::CodePage932;
  const std::string image =
      MakeImage({Stored("lead", "tmp", "never"), rest, Compressed("text", "bin", text), Stored("empty", "dat", ""), past}, 4);
  EXPECT_EQ(Unpack(fake, image).result, 1u);
  EXPECT_TRUE(fake.files[Folder + name + ".dat"] == image.substr(HeaderAt + PayloadHeaderSize + 5));
  EXPECT_TRUE(fake.files[Folder + "text.bin"] == text);
  EXPECT_EQ(std::vector<int32_t>(fake.writeSizes.end() - 4, fake.writeSizes.end()),
            std::vector<int32_t>({int32_t(Block), int32_t(Block), int32_t(Block), 12345})) << "whole buffers, then the rest";
  // Two empty files (not the rest of the executable) and no leading entry's file.
  EXPECT_EQ(fake.files.size(), 5u);
  EXPECT_EQ(fake.files[Folder + "empty.dat"] + fake.files[Folder + "past.dat"], "");
  EXPECT_EQ(fake.errorModes.front(), 1u) << "critical-error dialogs on while writing";
}

// Slots are written in order until one fails; a failed slot's file is deleted and the
// rest are not tried. A file that exists but cannot be replaced (held open by another
// run) is kept, and counts as written when it is stored.
TEST(PayloadExtraction, AFailingSlotStopsTheRestAndIsDeleted) {
  const std::string data = Sample(50000, 8);
  const EntrySpec stored = Stored("third", "dat", data);
  const EntrySpec compressed = Compressed("third", "dat", data);
  // Streams the decoder refuses, so that a file without the integrity record still says
  // it is damaged: too short for its length, cut short, a length of 4 GiB.
  EntrySpec pastEnd = compressed, empty = compressed, cut = compressed, huge = compressed;
  pastEnd.size = 0x40000000;
  empty.data.clear();
  cut.data.resize(cut.data.size() / 2);
  PutLE(huge.data, 0, 0xFFFFFFFF, 4);
  struct Case {
    const char* what;
    EntrySpec third;
    bool held;
    ExtractResult result;
    size_t written;  // the slots whose files are there afterwards
  };
  const Case cases[] = {
      {"compressed data past the end", pastEnd, false, ExtractDamaged, 2},
      {"compressed, empty", empty, false, ExtractDamaged, 2},
      {"compressed, cut short", cut, false, ExtractDamaged, 2},
      {"compressed, 4 GiB announced", huge, false, ExtractDamaged, 2},
      {"target path of 260 characters", Stored(std::string(32, 'n'), "dat", ""), false,
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
    ExpectWritten(fake, entries, c.written);
  }
}

TEST(PayloadExtraction, TheInputBufferGrowsOnlyForALargerEntry) {
  const std::string a = Sample(1000, 4), b = Sample(5000, 5), c = Sample(2000, 6);
  FakePlatform fake;
  Unpack(fake, MakeImage({Compressed("a", "bin", a), Compressed("b", "bin", b), Compressed("c", "bin", c)}, 3));
  EXPECT_TRUE(fake.files[Folder + "c.bin"] == c);
  EXPECT_EQ(fake.allocations, (std::vector<std::pair<uint32_t, uint32_t>>{
                                  {FixedMemory, sizeof(LzariDecoder)},
                                  {FixedMemory, Block},
                                  {FixedMemory, uint32_t(Compress(a).size())}, {FixedMemory, uint32_t(Compress(b).size())}}));
}

TEST(PayloadExtraction, TheCopyBufferHalvesUnderMemoryPressureDownToOneByte) {
  struct Case { uint32_t largest, chunk, tries; };
  const std::string data = Sample(40000, 7);
  for (Case c : {Case{Block, Block, 1}, {20000, 16384, 2}, {1, 1, 16}, {0, 0, 16}}) {
    FakePlatform fake;
    fake.largestAllocation = c.largest;
    // Not a byte of memory for the copy: taken for a refused write, the one way it fails.
    EXPECT_EQ(Unpack(fake, MakeImage({Stored("cine", "dll", data)}, 1)).result,
              c.chunk ? ExtractDone : ExtractNotWritten);
    ASSERT_EQ(fake.allocations.size(), c.tries) << c.largest;
    EXPECT_EQ(fake.allocations.back(), std::make_pair(MoveableZeroedMemory, std::max(c.chunk, 1u)));
    EXPECT_EQ(fake.files.count(Folder + "cine.dll") ? fake.files[Folder + "cine.dll"] : "-", c.chunk ? data : "-");
    EXPECT_EQ(fake.writeSizes.empty() ? 0 : uint32_t(fake.writeSizes.front()), c.chunk) << c.largest;
  }
}

// Beside the executable, each leading entry's file under the extension it was shipped
// with (its first one), and nothing else.
TEST(PayloadExitPass, DeletesEachLeadingEntryUnderItsOwnExtensionOnly) {
  const std::vector<EntrySpec> entries = {{"save", "sa_", "sav", ""}, Stored("prefs", "ini", ""), Stored("c", "dll", "")};
  const std::string far = "D:\\" + std::string(220, 'g') + "\\M.EXE";  // 36 more: 260
  struct Case { std::string exe, image; std::vector<std::string> deleted; };
  const Case cases[] = {
      {Exe, MakeImage(entries, 1), {"delete D:\\GAMES\\save.sa_", "delete D:\\GAMES\\prefs.ini"}},
      {"MOVIE.EXE", MakeImage(entries, 1), {"delete save.sa_", "delete prefs.ini"}},
      {Exe, std::string(1000, 'M'), {}},                                          // no payload
      {Exe, MakeImage(entries, 4), {}},                                           // counts outside the table
      {Exe, MakeImage({Stored("..\\x", "dat", ""), Stored("c", "dll", "")}, 1), {}},  // a bad name
      {Exe, MakeImage({Stored("c", "dll", "")}, 1), {}},                          // no leading entries
      {far, MakeImage({Stored(std::string(32, 'n'), "dat", ""), Stored("a", "dat", ""), Stored("c", "dll", "")}, 1),
       {"delete " + far.substr(0, far.size() - 5) + "a.dat"}},  // a name that does not fit is passed over
  };
  for (const Case& c : cases) {
    FakePlatform fake;
    fake.files[c.exe] = c.image;
    PayloadPlatform calls = fake.Calls();
    DeleteLeadingEntryFiles(&calls, c.exe.c_str());
    EXPECT_EQ(fake.log, c.deleted) << c.exe << " " << c.image.size();
    EXPECT_EQ(fake.errorModes, std::vector<uint32_t>({1, 0x8000}));
    EXPECT_TRUE(fake.open.empty());
  }
}

}  // namespace
