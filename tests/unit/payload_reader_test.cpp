// The payload reader over in-memory files: recognition, extraction into the work folder,
// the exit pass, and the decoding of one entry into a file.
#include <gtest/gtest.h>

#include "lzari/lzari_adapters.h"
#include "lzari/lzari_encoder.h"
#include "tests/unit/payload_fake_platform.h"

namespace {

using payload_fake::EntrySpec;
using payload_fake::FakePlatform;
using payload_fake::HeaderAt;
using payload_fake::MakeImage;
using payload_fake::PutLE;

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

struct Outcome { int recognised; uint32_t result; PayloadDescriptor descriptor; };

Outcome Unpack(FakePlatform& fake, const std::string& image) {
  fake.files[Exe] = image;
  PayloadPlatform calls = fake.Calls();
  Outcome run = {0, 0xDEAD, {0xBEEF, 0xBEEF}};
  run.recognised = OpenPayload(&calls, Exe, 1, &run.result, &run.descriptor);
  EXPECT_TRUE(fake.open.empty()) << "files left open";
  EXPECT_TRUE(fake.blocks.empty()) << "memory left allocated";
  EXPECT_EQ(fake.errorMode, 0x8000u) << "error mode not restored";
  return run;
}

std::vector<std::string> Logged(const FakePlatform& fake, const std::string& what) {
  std::vector<std::string> paths;
  for (const std::string& line : fake.log)
    if (line.rfind(what + " ", 0) == 0) paths.push_back(line.substr(what.size() + 1));
  return paths;
}

// Without a payload nothing is reported; a damaged table, or one with nothing to
// extract, is recognised. None of them writes anything.
TEST(PayloadReader, DamagedMissingOrEmptyPayloadsWriteNothing) {
  const std::string good = MakeImage({Stored("cine", "dll", "x"), Stored("m", "dll", "y")}, 2, 0x100, 0x44);
  auto patched = [&](size_t at, uint32_t value) {
    std::string s = good;
    PutLE(s, at, value, 4);
    return s;
  };
  std::string far = MakeImage({}, 0, 0x100, 0x44);
  PutLE(far, HeaderAt + 4, 0x7FFFFF00, 4);
  const size_t trailer = good.size() - 4;
  struct Case { const char* what; std::string image; int recognised; uint32_t result; bool folderFails = false; };
  const Case cases[] = {
      {"empty file", "", 0, 0},
      {"three bytes", "abc", 0, 0},
      {"plain executable", std::string(4096, 'M'), 0, 0},
      {"header past the end", patched(trailer, uint32_t(good.size())), 0, 0},
      {"header cut by the end", patched(trailer, uint32_t(good.size()) - 200), 0, 0},
      {"header offset of 2 GiB", patched(trailer, 0x80000000u), 0, 0},
      {"magic differs", patched(HeaderAt, PayloadMagic + 1), 0, 0},
      {"movie offset negative", patched(HeaderAt + 4, 0xFFFFFFFF), 0, 0},
      {"movie offset far past the end", far, 1, 1},
      {"counts outside the table", patched(HeaderAt + 16, 6), 1, 0},
      {"bad name in a leading slot", MakeImage({Stored("..\\x", "t", ""), Stored("c", "d", "")}, 1, 0x100, 0x44), 1, 0},
      {"nothing to extract, bad leading name", MakeImage({Stored("..\\x", "t", "")}, 0, 0x100, 0x44), 1, 1},
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
    EXPECT_TRUE(fake.log.empty());
  }
}

TEST(PayloadReader, SignedExecutableIsReadBeforeItsCertificateTable) {
  // A length that is a multiple of 8, so that signing adds no padding.
  std::string bare = MakeImage({Stored("lead", "tmp", ""), Stored("cine", "dll", "entry data")}, 1);
  bare.insert(bare.size() - 4, (8 - bare.size() % 8) % 8, 'T');
  payload_fake::PutPeHeaders(bare, 0x10B, 0, 0);
  std::string padded = bare + std::string(8, '\0');  // padding moves the trailer away
  const std::string table = std::string(1480, 'C') + std::string(4, '\0');  // ends like a trailer
  auto signed_ = [&](std::string image, uint32_t offset, uint32_t tableSize) {
    payload_fake::PutPeHeaders(image, 0x10B, offset, tableSize);
    return image + table;
  };
  const uint32_t size = uint32_t(bare.size());
  struct Case { const char* what; std::string image; int recognised; };
  for (const Case& c : {Case{"unsigned", bare, 1}, {"signed", signed_(bare, size, 1484), 1},
                        {"signed after padding", signed_(padded, size + 8, 1484), 0},
                        // The table overlaps the payload: the file is read the old way.
                        {"hostile directory", signed_(bare, HeaderAt, size - HeaderAt).substr(0, size), 1}}) {
    FakePlatform fake;
    ASSERT_EQ(Unpack(fake, c.image).recognised, c.recognised) << c.what;
    if (!c.recognised) continue;
    EXPECT_EQ(fake.files[Folder + "cine.dll"], "entry data") << c.what;
    fake.log.clear();
    PayloadPlatform calls = fake.Calls();
    DeleteLeadingEntryFiles(&calls, Exe);  // the exit pass finds the same table
    EXPECT_EQ(fake.log, std::vector<std::string>{"delete D:\\GAMES\\lead.tmp"}) << c.what;
  }
}

TEST(PayloadExtraction, EveryKindOfEntryIsWrittenByteForByte) {
  const std::string big = Sample(100000, 1), text = Sample(3 * Block + 12345, 2);
  EntrySpec rest = Stored("rest", "dat", big), past = Stored("past", "dat", "");
  rest.size = 0x7FFFFFF0;  // copied up to the end of the file
  past.offset = 0x100000;  // starts past the end: an empty file
  past.size = 10;
  FakePlatform fake;
  const std::string image = MakeImage({Stored("lead", "tmp", "never"), rest, Compressed("text", "bin", text),
                                       Stored("empty", "dat", ""), past}, 4);
  EXPECT_EQ(Unpack(fake, image).result, 1u);
  EXPECT_TRUE(fake.files[Folder + "rest.dat"] == image.substr(HeaderAt + PayloadHeaderSize + 5));
  EXPECT_TRUE(fake.files[Folder + "text.bin"] == text);
  EXPECT_EQ(std::vector<int32_t>(fake.writeSizes.end() - 4, fake.writeSizes.end() - 1),
            std::vector<int32_t>(3, int32_t(Block))) << "whole buffers, then the rest";
  EXPECT_EQ(fake.writeSizes.back(), 12345);
  // An empty entry is an empty file, not the rest of the executable.
  EXPECT_TRUE(fake.files.count(Folder + "empty.dat") && fake.files[Folder + "empty.dat"].empty());
  EXPECT_TRUE(fake.files.count(Folder + "past.dat") && fake.files[Folder + "past.dat"].empty());
  EXPECT_FALSE(fake.files.count(Folder + "lead.tmp"));
  EXPECT_EQ(fake.errorModes.front(), 1u) << "critical-error dialogs on while writing";
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

TEST(PayloadExtraction, AFailingSlotStopsTheRestAndIsDeleted) {
  EntrySpec pastEnd = Compressed("third", "dat", "hello");
  pastEnd.size = 0x40000000;
  const std::string data = Sample(50000, 8);
  struct Case { const char* what; EntrySpec third; int64_t disk; bool created; };
  const Case cases[] = {
      {"compressed data past the end", pastEnd, 1 << 20, true},
      {"target path of 260 characters", Stored(std::string(32, 'n'), "dat", "abc"), 1 << 20, false},
      {"stored, disk full in the first chunk", Stored("third", "dat", data), 100, true},
      {"stored, disk full in the last chunk", Stored("third", "dat", data), Block + 5, true},
      {"compressed, disk full in a whole buffer", Compressed("third", "dat", data), 1000, true},
      {"compressed, disk full in the rest", Compressed("third", "dat", data), Block + 5, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakePlatform fake;
    const std::string w = fake.workFolder = "C:\\" + std::string(220, 'w') + "\\";
    fake.diskSpace = c.disk;
    Outcome run = Unpack(fake, MakeImage({Stored("first", "dat", "1"), Compressed("second", "dat", "2"), c.third,
                                          Stored("fourth", "dat", "4")}, 4));
    EXPECT_EQ(run.result, 0u);
    const std::string third = w + c.third.name + ".dat";
    std::vector<std::string> tried = {w + "first.dat", w + "second.dat"};
    if (c.created) tried.push_back(third);
    EXPECT_EQ(Logged(fake, "create"), tried) << "the fourth slot must not be tried";
    EXPECT_EQ(Logged(fake, "delete"), std::vector<std::string>(c.created, third));
    EXPECT_EQ(fake.files[w + "second.dat"], "2");
  }
}

TEST(PayloadExtraction, ATargetThatCannotBeCreatedPassesOnlyWhenAStoredOneExists) {
  struct Case { const char* what; bool compressed, exists; uint32_t result; };
  for (Case c : {Case{"stored, held open elsewhere", false, true, 1}, {"stored, cannot be made", false, false, 0},
                 {"compressed, held open elsewhere", true, true, 0}}) {
    FakePlatform fake;
    const std::string held = Folder + "held.dat";
    fake.uncreatable.insert(held);
    if (c.exists) fake.files[held] = "old";
    EntrySpec entry = c.compressed ? Compressed("held", "dat", "new") : Stored("held", "dat", "new");
    EXPECT_EQ(Unpack(fake, MakeImage({entry, Stored("next", "dat", "next")}, 2)).result, c.result) << c.what;
    EXPECT_EQ(fake.files.count(held) ? fake.files[held] : "", c.exists ? "old" : "") << c.what;
    EXPECT_EQ(fake.files.count(Folder + "next.dat"), c.result) << c.what;
    EXPECT_TRUE(Logged(fake, "delete").empty()) << c.what;
  }
}

TEST(PayloadExtraction, TheInputBufferGrowsOnlyForALargerEntry) {
  const std::string a = Sample(1000, 4), b = Sample(5000, 5), c = Sample(2000, 6);
  FakePlatform fake;
  Unpack(fake, MakeImage({Compressed("a", "bin", a), Compressed("b", "bin", b), Compressed("c", "bin", c)}, 3));
  EXPECT_TRUE(fake.files[Folder + "c.bin"] == c);
  EXPECT_EQ(fake.allocations, (std::vector<std::pair<uint32_t, uint32_t>>{
                                  {FixedMemory, sizeof(LzariDecoder)}, {FixedMemory, Block},
                                  {FixedMemory, uint32_t(Compress(a).size())}, {FixedMemory, uint32_t(Compress(b).size())}}));
}

TEST(PayloadExtraction, TheCopyBufferHalvesUnderMemoryPressureDownToOneByte) {
  struct Case { uint32_t largest, chunk, tries; };
  const std::string data = Sample(40000, 7);
  for (Case c : {Case{Block, Block, 1}, {20000, 16384, 2}, {1, 1, 16}, {0, 0, 16}}) {
    FakePlatform fake;
    fake.largestAllocation = c.largest;
    EXPECT_EQ(Unpack(fake, MakeImage({Stored("cine", "dll", data)}, 1)).result, c.chunk ? 1u : 0u);
    ASSERT_EQ(fake.allocations.size(), c.tries) << c.largest;
    EXPECT_EQ(fake.allocations.back(), std::make_pair(MoveableZeroedMemory, std::max(c.chunk, 1u)));
    EXPECT_EQ(fake.files.count(Folder + "cine.dll") ? fake.files[Folder + "cine.dll"] : "-", c.chunk ? data : "-");
    EXPECT_EQ(fake.writeSizes.empty() ? 0 : uint32_t(fake.writeSizes.front()), c.chunk) << c.largest;
  }
}

TEST(PayloadExtractionDeathTest, ACompressedEntryTooShortForItsLengthEndsTheProcessWithStatusOne) {
  for (size_t size : {0, 3}) {
    EntrySpec entry = Compressed("cine", "dll", "x");
    entry.data.resize(size);
    const std::string image = MakeImage({entry}, 1);
    EXPECT_EXIT({ FakePlatform fake; Unpack(fake, image); }, testing::ExitedWithCode(1), "") << size;
  }
}

TEST(CopyStoredEntry, ACountOfZeroOrLessCopiesToTheEndAndAShortSourceSucceeds) {
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

// Beside the executable, each leading entry's file under the extension it was shipped
// with (its first one), and nothing else.
TEST(PayloadExitPass, DeletesEachLeadingEntryUnderItsOwnExtensionOnly) {
  const std::vector<EntrySpec> entries = {{"save", "sa_", "sav", ""}, Stored("prefs", "ini", ""), Stored("c", "dll", "")};
  const std::string far = "D:\\" + std::string(220, 'g') + "\\M.EXE";  // 36 more: 260
  struct Case { const char* what; std::string exe, image; std::vector<std::string> deleted; };
  const Case cases[] = {
      {"beside the executable", Exe, MakeImage(entries, 1), {"D:\\GAMES\\save.sa_", "D:\\GAMES\\prefs.ini"}},
      {"relative executable path", "MOVIE.EXE", MakeImage(entries, 1), {"save.sa_", "prefs.ini"}},
      {"no payload", Exe, std::string(1000, 'M'), {}},
      {"counts outside the table", Exe, MakeImage(entries, 4), {}},
      {"bad name in the table", Exe, MakeImage({Stored("..\\x", "dat", ""), Stored("c", "dll", "")}, 1), {}},
      {"no leading entries", Exe, MakeImage({Stored("c", "dll", "")}, 1), {}},
      {"a name that does not fit is passed over", far,
       MakeImage({Stored(std::string(32, 'n'), "dat", ""), Stored("a", "dat", ""), Stored("c", "dll", "")}, 1),
       {far.substr(0, far.size() - 5) + "a.dat"}},
  };
  for (const Case& c : cases) {
    FakePlatform fake;
    fake.files[c.exe] = c.image;
    PayloadPlatform calls = fake.Calls();
    DeleteLeadingEntryFiles(&calls, c.exe.c_str());
    std::vector<std::string> expected;
    for (const std::string& path : c.deleted) expected.push_back("delete " + path);
    EXPECT_EQ(fake.log, expected) << c.what;
    EXPECT_EQ(fake.errorModes, std::vector<uint32_t>({1, 0x8000})) << c.what;
    EXPECT_TRUE(fake.open.empty()) << c.what;
  }
}

}  // namespace
