// The payload reader over in-memory files: recognition, extraction into the work folder,
// the exit pass, and the decoding of one entry into a file.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "lzari/lzari_adapters.h"
#include "lzari/lzari_encoder.h"
#include "payload/payload_reader.h"
#include "tests/unit/payload_fake_platform.h"

namespace {

using payload_fake::EntrySpec;
using payload_fake::FakePlatform;
using payload_fake::HeaderAt;
using payload_fake::MakeImage;

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
  return EntrySpec{name, ext, ext, data};
}

EntrySpec Compressed(const std::string& name, const std::string& ext, const std::string& text) {
  return EntrySpec{name, ext.substr(0, 2) + "_", ext, Compress(text)};
}

struct Outcome {
  int recognised;
  uint32_t result;
  PayloadDescriptor descriptor;
};

Outcome Unpack(FakePlatform& fake, const std::string& image) {
  fake.files[Exe] = image;
  PayloadPlatform calls = fake.Calls();
  Outcome run = {0, 0xDEAD, {0xBEEF, 0xBEEF}};
  run.recognised = OpenPayload(&calls, Exe, 1, &run.result, &run.descriptor);
  return run;
}

// Whatever happened inside, every call leaves this behind.
void ExpectCleanExit(const FakePlatform& fake) {
  EXPECT_TRUE(fake.open.empty()) << "files left open";
  EXPECT_TRUE(fake.blocks.empty()) << "memory left allocated";
  EXPECT_EQ(fake.errorMode, 0x8000u) << "error mode not restored";
}

std::vector<std::string> Logged(const FakePlatform& fake, const std::string& what) {
  std::vector<std::string> paths;
  for (const std::string& line : fake.log)
    if (line.rfind(what + " ", 0) == 0) paths.push_back(line.substr(what.size() + 1));
  return paths;
}

// Without a payload nothing is reported; a payload whose table is damaged, or that has
// nothing to extract, is recognised; none of them writes anything.
TEST(PayloadReader, DamagedMissingOrEmptyPayloadsWriteNothing) {
  const std::string good = MakeImage({Stored("cine", "dll", "x"), Stored("m", "dll", "y")}, 2, 0x100, 0x44);
  auto trailer = [&](uint32_t offset) {
    std::string s = good;
    payload_fake::PutLE(s, s.size() - 4, offset, 4);
    return s;
  };
  auto patched = [&](size_t at, const std::string& bytes) {
    std::string s = good;
    s.replace(HeaderAt + at, bytes.size(), bytes);
    return s;
  };
  auto dword = [](int32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
  const uint32_t size = uint32_t(good.size());
  std::string far = MakeImage({}, 0, 0x100, 0x44);
  payload_fake::PutLE(far, HeaderAt + 4, 0x7FFFFF00, 4);
  struct Case { const char* what; std::string image; int recognised; uint32_t result; bool folderFails = false; };
  const Case cases[] = {
      {"empty file", "", 0, 0},
      {"three bytes", "abc", 0, 0},
      {"plain executable", std::string(4096, 'M'), 0, 0},
      {"header past the end", trailer(size), 0, 0},
      {"header cut by the end", trailer(size - 200), 0, 0},
      {"header offset of 2 GiB", trailer(0x80000000u), 0, 0},
      {"magic differs", patched(0, "2"), 0, 0},
      {"movie offset negative", patched(4, dword(-1)), 0, 0},
      {"movie offset far past the end", far, 1, 1},
      {"entryCount above 5", patched(16, dword(6)), 1, 0},
      {"entryCount negative", patched(16, dword(-2)), 1, 0},
      {"extractCount above entryCount", patched(20, dword(3)), 1, 0},
      {"name with a path", patched(24 + 52 + 8, std::string("..\\x", 5)), 1, 0},
      {"name without terminator", patched(24 + 8, std::string(33, 'n')), 1, 0},
      {"bad name in a leading slot",
       MakeImage({Stored("..\\x", "tmp", ""), Stored("cine", "dll", "x")}, 1, 0x100, 0x44), 1, 0},
      {"nothing to extract, bad leading name",
       MakeImage({Stored("..\\lead", "tmp", "x")}, 0, 0x100, 0x44), 1, 1},
      {"work folder fails", good, 1, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakePlatform fake;
    fake.workFolderFails = c.folderFails;
    Outcome run = Unpack(fake, c.image);
    EXPECT_EQ(run.recognised, c.recognised);
    EXPECT_EQ(run.result, c.recognised ? c.result : 0xDEADu);
    EXPECT_EQ(run.descriptor.flags, c.recognised ? 0x100u : 0xBEEFu);
    EXPECT_EQ(run.descriptor.flags2, c.recognised ? 0x44u : 0xBEEFu);
    EXPECT_EQ(fake.workFolderCalls, c.folderFails ? 1 : 0);
    EXPECT_TRUE(Logged(fake, "create").empty());
    ExpectCleanExit(fake);
  }
  FakePlatform fake;
  PayloadPlatform calls = fake.Calls();
  EXPECT_EQ(OpenPayload(&calls, "D:\\missing.exe", 1, nullptr, nullptr), 0);
}

TEST(PayloadReader, SignedExecutableIsReadBeforeItsCertificateTableAndHostileTablesAsBefore) {
  // A length that is a multiple of 8, so that signing adds no padding.
  std::string bare = MakeImage({Stored("lead", "tmp", ""), Stored("cine", "dll", "entry data")}, 1, 0x100, 0x4);
  bare += std::string((8 - bare.size() % 8) % 8, 'T');  // trailing bytes in the movie
  payload_fake::PutLE(bare, bare.size() - 4, HeaderAt, 4);
  const uint32_t size = uint32_t(bare.size());
  auto withTable = [&](uint32_t offset, uint32_t tableSize, const std::string& table) {
    std::string s = bare;
    payload_fake::PutPeHeaders(s, 0x10B, offset, tableSize);
    return s + table;
  };
  // The table's last bytes look like a trailer pointing at the image's start.
  const std::string table = std::string(1480, 'C') + std::string(4, '\0');
  std::string padded = bare + "pad";
  padded.resize((padded.size() + 7) / 8 * 8, '\0');
  payload_fake::PutPeHeaders(padded, 0x10B, uint32_t(padded.size()), uint32_t(table.size()));
  struct Case { const char* what; std::string image; int recognised; };
  const Case cases[] = {
      {"unsigned", withTable(0, 0, ""), 1},
      {"signed", withTable(size, uint32_t(table.size()), table), 1},
      {"signed after padding moved the trailer", padded + table, 0},
      {"pointing past the end", withTable(size + 8, 64, ""), 1},
      {"overlapping the header", withTable(0, size, ""), 1},
      {"overlapping the payload", withTable(HeaderAt, size - HeaderAt, ""), 1},
      {"huge", withTable(HeaderAt, 0xFFFFFFF8u, ""), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakePlatform fake;
    Outcome run = Unpack(fake, c.image);
    ASSERT_EQ(run.recognised, c.recognised);
    if (!c.recognised) continue;
    EXPECT_EQ(run.descriptor.flags2, 0x4u);
    EXPECT_EQ(fake.files[Folder + "cine.dll"], "entry data");
    fake.log.clear();
    PayloadPlatform calls = fake.Calls();
    DeleteLeadingEntryFiles(&calls, Exe);  // the exit pass finds the same table
    EXPECT_EQ(fake.log, std::vector<std::string>{"delete D:\\GAMES\\lead.tmp"});
  }
}

TEST(PayloadExtraction, StoredAndCompressedEntriesAreWrittenByteForByte) {
  const std::string big = Sample(100000, 1), text = std::string(40000, 'a') + Sample(3000, 2);
  FakePlatform fake;
  Outcome run = Unpack(fake, MakeImage({Stored("lead", "tmp", "never extracted"), Stored("cine", "dll", big),
                                        Compressed("support", "dll", text),
                                        Compressed("exact", "bin", Sample(Block, 3)),
                                        Stored("empty", "dat", "")}, 4));
  EXPECT_EQ(run.result, 1u);
  EXPECT_TRUE(fake.files[Folder + "cine.dll"] == big);
  EXPECT_TRUE(fake.files[Folder + "support.dll"] == text);
  EXPECT_TRUE(fake.files[Folder + "exact.bin"] == Sample(Block, 3));
  // An empty entry is an empty file, not the rest of the executable.
  ASSERT_TRUE(fake.files.count(Folder + "empty.dat"));
  EXPECT_EQ(fake.files[Folder + "empty.dat"], "");
  EXPECT_FALSE(fake.files.count(Folder + "lead.tmp"));
  EXPECT_EQ(fake.errorModes.front(), 1u) << "critical-error dialogs on while writing";
  ExpectCleanExit(fake);
}

TEST(PayloadExtraction, NamesAreWalkedWithThePlatformsCodePage) {
  const std::string name = "\x95\x5C";  // the second byte is a backslash on its own
  for (auto [codePage, result] : {std::pair{&payload_fake::CodePage932, 1u}, {&SingleByteCodePage, 0u}}) {
    FakePlatform fake;
    fake.codePage = codePage;
    EXPECT_EQ(Unpack(fake, MakeImage({Stored(name, "dll", "x")}, 1)).result, result);
    EXPECT_EQ(fake.files.count(Folder + name + ".dll"), result);
  }
}

TEST(PayloadExtraction, StoredEntryReachingPastTheEndIsCopiedUpToTheEnd) {
  const std::string data = Sample(50000, 10);
  const std::string rest = data + "MOVIE" + std::string("\x00\x02\0\0", 4);
  struct Case { const char* what; int32_t offset, size; std::string content; };
  const Case cases[] = {
      {"size far past the end", -1, 0x7FFFFFF0, rest},
      {"size one past the end", -1, int32_t(rest.size()) + 1, rest},
      {"offset past the end", 0x100000, 10, ""},
      {"offset at the end", int32_t(HeaderAt + PayloadHeaderSize + rest.size()), 10, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakePlatform fake;
    EntrySpec big = Stored("big", "dat", data);
    big.offset = c.offset;
    big.size = c.size;
    EXPECT_EQ(Unpack(fake, MakeImage({big, Stored("next", "dat", "")}, 2)).result, 1u);
    EXPECT_TRUE(fake.files.count(Folder + "big.dat") && fake.files[Folder + "big.dat"] == c.content);
    EXPECT_TRUE(fake.files.count(Folder + "next.dat"));
  }
}

TEST(PayloadExtraction, FailingSlotStopsTheRestAndIsDeleted) {
  EntrySpec pastEnd = Compressed("third", "dat", "hello");
  pastEnd.size = 0x40000000;
  struct Case { const char* what; EntrySpec third; int64_t disk; bool created; };
  const Case cases[] = {
      {"compressed size past the end", pastEnd, 64 << 20, true},
      {"target path over 260 bytes", Stored(std::string(32, 'n'), "dat", "abc"), 64 << 20, false},
      {"stored, disk full in the first chunk", Stored("third", "dat", Sample(50000, 8)), 100, true},
      {"stored, disk full in the last chunk", Stored("third", "dat", Sample(50000, 8)), Block + 5, true},
      {"compressed, disk full in a full buffer", Compressed("third", "dat", Sample(50000, 8)), 1000, true},
      {"compressed, disk full in the rest", Compressed("third", "dat", Sample(50000, 8)), Block + 5, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakePlatform fake;
    fake.workFolder = "C:\\" + std::string(225, 'w') + "\\";
    fake.diskSpace = c.disk;
    Outcome run = Unpack(fake, MakeImage({Stored("first", "dat", "1"), Compressed("second", "dat", "2"),
                                          c.third, Stored("fourth", "dat", "4")}, 4));
    EXPECT_EQ(run.result, 0u);
    const std::string& w = fake.workFolder;
    const std::string third = w + c.third.name + ".dat";
    std::vector<std::string> tried = {w + "first.dat", w + "second.dat"};
    if (c.created) tried.push_back(third);
    EXPECT_EQ(Logged(fake, "create"), tried) << "the fourth slot must not be tried";
    EXPECT_EQ(Logged(fake, "delete"), std::vector<std::string>(c.created, third));
    EXPECT_EQ(fake.files[w + "second.dat"], "2");
    EXPECT_FALSE(fake.files.count(third));
    ExpectCleanExit(fake);
  }
}

TEST(PayloadExtraction, TargetThatCannotBeCreatedPassesOnlyWhenAStoredOneExists) {
  struct Case { const char* what; bool compressed, exists; uint32_t result; };
  const Case cases[] = {{"stored, held open elsewhere", false, true, 1},
                        {"stored, cannot be made", false, false, 0},
                        {"compressed, held open elsewhere", true, true, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakePlatform fake;
    const std::string held = Folder + "held.dat";
    fake.uncreatable.insert(held);
    if (c.exists) fake.files[held] = "old";
    EntrySpec entry = c.compressed ? Compressed("held", "dat", "new") : Stored("held", "dat", "new");
    EXPECT_EQ(Unpack(fake, MakeImage({entry, Stored("next", "dat", "next")}, 2)).result, c.result);
    EXPECT_EQ(fake.files.count(held) ? fake.files[held] : "", c.exists ? "old" : "");
    EXPECT_EQ(fake.files.count(Folder + "next.dat"), c.result);
    EXPECT_TRUE(Logged(fake, "delete").empty());
  }
}

TEST(PayloadExtraction, InputBufferGrowsOnlyForALargerEntry) {
  const std::string a = Sample(1000, 4), b = Sample(5000, 5), c = Sample(2000, 6);
  FakePlatform fake;
  Outcome run = Unpack(fake, MakeImage({Compressed("a", "bin", a), Compressed("b", "bin", b),
                                        Compressed("c", "bin", c)}, 3));
  EXPECT_EQ(run.result, 1u);
  EXPECT_TRUE(fake.files[Folder + "c.bin"] == c);
  std::vector<std::pair<uint32_t, uint32_t>> expected = {
      {FixedMemory, sizeof(LzariDecoder)}, {FixedMemory, Block},
      {FixedMemory, uint32_t(Compress(a).size())}, {FixedMemory, uint32_t(Compress(b).size())}};
  EXPECT_EQ(fake.allocations, expected);
  ExpectCleanExit(fake);
}

TEST(PayloadExtraction, CopyBufferHalvesUnderMemoryPressureDownToOneByte) {
  struct Case { uint32_t largest; int32_t chunk; uint32_t tries; };
  const Case cases[] = {{Block, int32_t(Block), 1}, {20000, 16384, 2}, {1, 1, 16}, {0, 0, 16}};
  const std::string data = Sample(40000, 7);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.largest);
    FakePlatform fake;
    fake.largestAllocation = c.largest;
    EXPECT_EQ(Unpack(fake, MakeImage({Stored("cine", "dll", data)}, 1)).result, c.chunk ? 1u : 0u);
    ASSERT_EQ(fake.allocations.size(), c.tries);
    EXPECT_EQ(fake.allocations.back(), std::make_pair(MoveableZeroedMemory, c.chunk ? c.chunk : 1u));
    EXPECT_EQ(fake.files.count(Folder + "cine.dll") ? fake.files[Folder + "cine.dll"] : "-",
              c.chunk ? data : "-");
    if (c.chunk) { EXPECT_EQ(fake.writeSizes.front(), c.chunk); }
    ExpectCleanExit(fake);
  }
}

TEST(PayloadExtractionDeathTest, CompressedEntryTooShortForItsLengthEndsTheProcessWithStatusOne) {
  for (size_t size : {0, 3}) {
    EntrySpec entry = Compressed("cine", "dll", "x");
    entry.data.resize(size);
    const std::string image = MakeImage({entry}, 1);
    EXPECT_EXIT({ FakePlatform fake; Unpack(fake, image); }, testing::ExitedWithCode(1), "") << size;
  }
}

TEST(CopyStoredEntry, CountOfZeroOrLessCopiesToTheEndAndAShortSourceSucceeds) {
  for (auto [count, copied] : {std::pair{0, 70000}, {-5, 70000}, {100, 100}, {69999, 69999}, {90000, 70000}}) {
    FakePlatform fake;
    fake.files["src"] = Sample(70000, 9);
    PayloadPlatform calls = fake.Calls();
    PayloadFile source = calls.openFile(&fake, "src"), target = calls.createFile(&fake, "dst");
    EXPECT_EQ(CopyStoredEntry(&calls, source, target, count), 0) << count;
    EXPECT_TRUE(fake.files["dst"] == fake.files["src"].substr(0, copied)) << count;
    EXPECT_TRUE(fake.blocks.empty());
  }
}

// The exit pass deletes, beside the executable, each leading entry's file under the
// extension it was shipped with (its first one), and nothing else.
TEST(PayloadExitPass, DeletesEachLeadingEntryUnderItsOwnExtensionOnly) {
  const std::vector<EntrySpec> entries = {EntrySpec{"save", "sa_", "sav", ""}, Stored("prefs", "ini", ""),
                                          Stored("cine", "dll", "x")};
  std::string damaged = MakeImage(entries, 1);
  damaged[HeaderAt + 16] = 7;
  const std::string far = "D:\\" + std::string(220, 'g') + "\\M.EXE";
  struct Case { const char* what; std::string exe, image; std::vector<std::string> deleted; };
  const Case cases[] = {
      {"beside the executable", Exe, MakeImage(entries, 1), {"D:\\GAMES\\save.sa_", "D:\\GAMES\\prefs.ini"}},
      {"relative executable path", "MOVIE.EXE", MakeImage(entries, 1), {"save.sa_", "prefs.ini"}},
      {"no payload", Exe, std::string(1000, 'M'), {}},
      {"counts outside the table", Exe, damaged, {}},
      {"bad name in the table", Exe, MakeImage({Stored("..\\x", "dat", ""), Stored("cine", "dll", "")}, 1), {}},
      {"no leading entries", Exe, MakeImage({Stored("cine", "dll", "x")}, 1), {}},
      {"a name that does not fit is passed over", far,
       MakeImage({Stored(std::string(32, 'n'), "dat", ""), Stored("a", "dat", ""), Stored("c", "dll", "")}, 1),
       {far.substr(0, far.size() - 5) + "a.dat"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakePlatform fake;
    fake.files[c.exe] = c.image;
    PayloadPlatform calls = fake.Calls();
    DeleteLeadingEntryFiles(&calls, c.exe.c_str());
    EXPECT_EQ(fake.log.size(), c.deleted.size());
    EXPECT_EQ(Logged(fake, "delete"), c.deleted);
    EXPECT_EQ(fake.errorModes.front(), 1u);
    ExpectCleanExit(fake);
  }
}

// Decodes `stream` into "out.bin": created new, or an existing file that refuses writes.
int DecodeToFile(FakePlatform& fake, const std::string& stream, bool readOnly) {
  static LzariDecoder decoder;
  static uint8_t buffer[Block];
  PayloadPlatform calls = fake.Calls();
  PayloadFile file = readOnly ? calls.openFile(&fake, "out.bin") : calls.createFile(&fake, "out.bin");
  int result = DecodeEntryToFile(&decoder, buffer, Block, reinterpret_cast<const uint8_t*>(stream.data()),
                                 int32_t(stream.size()), FileWriter{&fake, calls.writeFile, file});
  calls.closeFile(&fake, file);
  return result;
}

TEST(DecodeEntryToFile, WritesEveryFullBufferThenTheRest) {
  std::vector<std::pair<std::string, std::string>> cases;  // stream, text
  for (size_t n : {0u, 1u, Block - 1, Block, Block + 1, 2 * Block, 3 * Block + 12345}) {
    std::string text = Sample(n, uint32_t(n));
    cases.push_back({Compress(text), text});
  }
  cases.push_back({std::string("\xFF\0\0\0", 4), std::string(255, '\0')});  // size byte 0xFF
  for (const auto& [stream, text] : cases) {
    SCOPED_TRACE(text.size());
    FakePlatform fake;
    EXPECT_EQ(DecodeToFile(fake, stream, false), 1);
    std::vector<int32_t> sizes(text.size() / Block, int32_t(Block));
    if (text.size() % Block) sizes.push_back(int32_t(text.size() % Block));
    EXPECT_EQ(fake.writeSizes, sizes);
    EXPECT_TRUE(fake.files["out.bin"] == text);
  }
}

TEST(DecodeEntryToFile, AShortOrRefusedWriteFailsTheEntryAndStopsDecoding) {
  struct Case { const char* what; size_t size; int64_t disk; bool readOnly; int result; size_t writes; };
  const Case cases[] = {
      {"first full buffer short", 3 * Block + 5, Block - 1, false, 0, 1},
      {"last full buffer short, no rest", 2 * Block, 2 * Block - 1, false, 0, 2},
      {"rest short", Block + 1, Block, false, 0, 2},
      {"refused, nothing to write", 0, 64 << 20, true, 1, 0},
      {"rest refused", 10, 64 << 20, true, 0, 1},
      {"first full buffer refused", 5 * Block, 64 << 20, true, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakePlatform fake;
    fake.diskSpace = c.disk;
    if (c.readOnly) fake.files["out.bin"] = "existing";
    EXPECT_EQ(DecodeToFile(fake, Compress(Sample(c.size, 7)), c.readOnly), c.result);
    EXPECT_EQ(fake.writeSizes.size(), c.writes);
  }
}

TEST(DecodeEntryToFile, AMissingArgumentDoesNothing) {
  const std::string stream = Compress(Sample(50000, 5));
  const uint8_t* input = reinterpret_cast<const uint8_t*>(stream.data());
  FakePlatform fake;
  PayloadPlatform calls = fake.Calls();
  const FileWriter writer = {&fake, calls.writeFile, calls.createFile(&fake, "out.bin")};
  static LzariDecoder decoder;
  uint8_t buffer[64];
  struct Case { const char* what; LzariDecoder* decoder; uint8_t* buffer; uint32_t size; const uint8_t* input; FileWriter target; };
  const Case cases[] = {
      {"decoder", nullptr, buffer, sizeof buffer, input, writer},
      {"buffer", &decoder, nullptr, sizeof buffer, input, writer},
      {"size", &decoder, buffer, 0, input, writer},
      {"input", &decoder, buffer, sizeof buffer, nullptr, writer},
      {"file", &decoder, buffer, sizeof buffer, input, FileWriter{&fake, calls.writeFile, 0}},
      {"write call", &decoder, buffer, sizeof buffer, input, FileWriter{&fake, nullptr, writer.file}},
  };
  for (const Case& c : cases) {
    memset(&decoder, 0xA5, sizeof decoder);
    EXPECT_EQ(DecodeEntryToFile(c.decoder, c.buffer, c.size, c.input, int32_t(stream.size()), c.target), 0) << c.what;
    EXPECT_TRUE(fake.writeSizes.empty()) << c.what;
    const uint8_t* record = reinterpret_cast<const uint8_t*>(&decoder);
    EXPECT_TRUE(std::all_of(record, record + sizeof decoder, [](uint8_t b) { return b == 0xA5; })) << c.what;
  }
}

}  // namespace
