// Recognition, extraction and the exit pass of the payload reader, over in-memory files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "lzari/lzari_adapters.h"
#include "lzari/lzari_encoder.h"
#include "payload/payload_reader.h"
#include "payload/payload_signature.h"
#include "tests/unit/payload_fake_platform.h"

namespace {

using payload_fake::EntrySpec;
using payload_fake::FakePlatform;
using payload_fake::MakeImage;

const char Exe[] = "D:\\GAMES\\MOVIE.EXE";
const std::string Folder = "C:\\TEMP\\TempFolder.aaa\\";

std::string Bytes(size_t size, uint32_t seed) {
  std::string s(size, 0);
  for (size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    s[i] = static_cast<char>(seed >> 16);
  }
  return s;
}

std::string Compress(const std::string& text) {
  std::vector<uint8_t> packed =
      LzariEncode(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  return std::string(packed.begin(), packed.end());
}

EntrySpec Stored(const std::string& name, const std::string& extension, const std::string& data) {
  EntrySpec e;
  e.name = name;
  e.extension = extension;
  e.extractExtension = extension;
  e.data = data;
  return e;
}

EntrySpec Compressed(const std::string& name, const std::string& extension,
                     const std::string& content) {
  EntrySpec e;
  e.name = name;
  e.extension = extension.substr(0, 2) + "_";
  e.extractExtension = extension;
  e.data = Compress(content);
  return e;
}

struct Outcome {
  int recognised;
  uint32_t extractResult;
  PayloadDescriptor descriptor;
};

// Unpacks `image` as the executable, the way the launch does.
Outcome Unpack(FakePlatform& fake, const std::string& image) {
  fake.files[Exe] = image;
  fake.errorMode = 0x8000;
  PayloadPlatform calls = fake.Calls();
  Outcome run = {0, 0xDEAD, {0xBEEF, 0xBEEF}};
  run.recognised = OpenPayload(&calls, Exe, 1, &run.extractResult, &run.descriptor);
  return run;
}

// What every call must leave behind, whatever happened inside it.
void ExpectCleanExit(const FakePlatform& fake) {
  EXPECT_TRUE(fake.open.empty()) << "files left open";
  EXPECT_TRUE(fake.blocks.empty()) << "memory left allocated";
  EXPECT_EQ(fake.errorMode, 0x8000u) << "error mode not restored";
}

std::vector<std::string> Created(const FakePlatform& fake) {
  std::vector<std::string> names;
  for (const std::string& line : fake.log) {
    if (line.rfind("create ", 0) == 0) names.push_back(line.substr(7));
  }
  return names;
}

// A file that carries no payload is run as one without; a payload whose table is
// damaged is recognised and fails its extraction. Neither writes anything.
TEST(PayloadRecognition, DamagedPayloadsWriteNothing) {
  std::string good = MakeImage({Stored("cine", "dll", "x"), Stored("msvcrt", "dll", "y")}, 2);
  auto withTrailer = [&](uint32_t offset) {
    std::string s = good.substr(0, good.size() - 4);
    s.append(reinterpret_cast<const char*>(&offset), 4);
    return s;
  };
  auto patched = [&](size_t at, int32_t value) {
    std::string s = good;
    memcpy(&s[512 + at], &value, 4);
    return s;
  };
  std::string wrongMagic = good;
  wrongMagic[512] = '2';
  std::string badName = good;
  memcpy(&badName[512 + 24 + 52 + 8], "..\\x", 5);
  std::string unterminated = good;
  memset(&unterminated[512 + 24 + 8], 'n', 33);
  struct Case { const char* what; std::string image; int recognised; };
  const Case cases[] = {
      {"empty file", "", 0},
      {"three bytes", "abc", 0},
      {"plain executable", std::string(4096, 'M'), 0},
      {"header past the end", withTrailer(static_cast<uint32_t>(good.size())), 0},
      {"header cut by the end", withTrailer(static_cast<uint32_t>(good.size()) - 200), 0},
      {"header offset of 2 GiB or more", withTrailer(0xFFFFFFF0u), 0},
      {"magic differs", wrongMagic, 0},
      {"movie offset negative", patched(4, -1), 0},
      {"entryCount above 5", patched(16, 6), 1},
      {"entryCount negative", patched(16, -2), 1},
      {"extractCount above entryCount", patched(20, 3), 1},
      {"extractCount negative", patched(20, -1), 1},
      {"name with a path", badName, 1},
      {"name without terminator", unterminated, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakePlatform fake;
    Outcome run = Unpack(fake, c.image);
    EXPECT_EQ(run.recognised, c.recognised);
    // Without a payload nothing is reported and the file is closed again.
    EXPECT_EQ(run.extractResult, c.recognised ? 0u : 0xDEADu);
    if (!c.recognised) {
      EXPECT_EQ(run.descriptor.flags, 0xBEEFu);
    }
    EXPECT_TRUE(fake.open.empty());
    EXPECT_EQ(fake.workFolderCalls, 0);
    EXPECT_TRUE(Created(fake).empty());
  }
  FakePlatform fake;
  PayloadPlatform calls = fake.Calls();
  EXPECT_EQ(OpenPayload(&calls, "D:\\missing.exe", 1, nullptr, nullptr), 0);
}

TEST(PayloadRecognition, MovieOffsetPastTheEndCanStillBePositioned) {
  PayloadHeader header;
  std::string image = MakeImage({}, 0, 0x100, 0x44, &header);
  int32_t far = 0x7FFFFF00;
  memcpy(&image[512 + 4], &far, 4);
  FakePlatform fake;
  Outcome run = Unpack(fake, image);
  EXPECT_EQ(run.recognised, 1);
  EXPECT_EQ(run.extractResult, 1u);
  EXPECT_EQ(run.descriptor.flags, 0x100u);
  EXPECT_EQ(run.descriptor.flags2, 0x44u);
}

void PutLE(std::string& image, size_t at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) image[at + i] = static_cast<char>(value >> (8 * i));
}

// The PE headers of a signable image at the start of `image`: the DOS header, the file
// header (one section), the optional header of the given magic with 16 directories,
// and the security directory.
void PutPeHeaders(std::string& image, uint32_t magic, uint32_t tableOffset, uint32_t tableSize) {
  const size_t pe = 0x40, optional = pe + 24;
  const size_t directories = magic == 0x20B ? 112 : 96;
  image.replace(0, 2, "MZ");
  PutLE(image, 0x3C, pe, 4);
  image.replace(pe, 4, std::string("PE\0\0", 4));
  PutLE(image, pe + 6, 1, 2);
  PutLE(image, pe + 20, magic == 0x20B ? 240 : 224, 2);
  PutLE(image, optional, magic, 2);
  PutLE(image, optional + directories - 4, 16, 4);
  PutLE(image, optional + directories + 32, tableOffset, 4);
  PutLE(image, optional + directories + 36, tableSize, 4);
}

TEST(PayloadSignature, OnlyATableThatEndsTheFileAfterTheHeadersMovesThePayloadEnd) {
  const int32_t size = 10000;
  struct Case {
    const char* what;
    uint32_t magic;
    uint32_t offset;
    uint32_t tableSize;
    std::function<void(std::string&)> damage;
    int32_t probe;
    int32_t end;
  };
  auto none = [](std::string&) {};
  const Case cases[] = {
      {"PE32", 0x10B, 9600, 400, none, PeProbeSize, 9600},
      {"PE32+", 0x20B, 9600, 400, none, PeProbeSize, 9600},
      {"no directory", 0x10B, 0, 0, none, PeProbeSize, size},
      {"size 0", 0x10B, 9600, 0, none, PeProbeSize, size},
      {"pointing past the end", 0x10B, 20000, 400, none, PeProbeSize, size},
      {"ending before the end", 0x10B, 9600, 200, none, PeProbeSize, size},
      {"huge size", 0x10B, 9600, 0xFFFFFFFF, none, PeProbeSize, size},
      {"offset and size wrapping to the end", 0x10B, 0xFFFFFF00, 10256, none, PeProbeSize, size},
      {"overlapping the headers", 0x10B, 0, size, none, PeProbeSize, size},
      {"inside the section table", 0x10B, 0x150, size - 0x150, none, PeProbeSize, size},
      {"not 8-byte aligned", 0x10B, 9604, 396, none, PeProbeSize, size},
      {"unknown optional header", 0x107, 9600, 400, none, PeProbeSize, size},
      {"no MZ", 0x10B, 9600, 400, [](std::string& s) { s[0] = 'X'; }, PeProbeSize, size},
      {"no PE signature", 0x10B, 9600, 400, [](std::string& s) { s[0x42] = 'X'; }, PeProbeSize, size},
      {"PE header past the probe", 0x10B, 9600, 400,
       [](std::string& s) { PutLE(s, 0x3C, 0xFFFFFFF0u, 4); }, PeProbeSize, size},
      {"four directories", 0x10B, 9600, 400,
       [](std::string& s) { PutLE(s, 0x40 + 24 + 92, 4, 4); }, PeProbeSize, size},
      {"optional header too short for the entry", 0x10B, 9600, 400,
       [](std::string& s) { PutLE(s, 0x40 + 20, 128, 2); }, PeProbeSize, size},
      {"file start read short", 0x10B, 9600, 400, none, 200, size},
      {"file start unreadable", 0x10B, 9600, 400, none, -1, size},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string start(PeProbeSize, '\0');
    PutPeHeaders(start, c.magic, c.offset, c.tableSize);
    c.damage(start);
    EXPECT_EQ(FindPayloadEnd(reinterpret_cast<const uint8_t*>(start.data()), c.probe, size), c.end);
  }
}

// A projector image whose length is a multiple of 8, with PE headers, so that signing
// adds no padding; `signature` is appended as its certificate table.
std::string SignableImage(std::string* unsigned_, const std::string& signature, uint32_t tableOffset = 0,
                          uint32_t tableSize = 0) {
  std::string data = "entry data";
  data.resize(data.size() + (8 - (MakeImage({Stored("cine", "dll", data)}, 1).size() % 8)) % 8, '.');
  std::string image = MakeImage({Stored("lead", "tmp", ""), Stored("cine", "dll", data)}, 1, 0x100, 0x4);
  PutPeHeaders(image, 0x10B, 0, 0);
  if (unsigned_) *unsigned_ = image;
  if (signature.empty()) {
    PutPeHeaders(image, 0x10B, tableOffset, tableSize);
    return image;
  }
  PutPeHeaders(image, 0x10B, static_cast<uint32_t>(image.size()),
               static_cast<uint32_t>(signature.size()));
  return image + signature;
}

TEST(PayloadRecognition, SignedExecutableIsReadBeforeItsCertificateTableAndHostileOnesAsBefore) {
  std::string bare;
  SignableImage(&bare, "");
  ASSERT_EQ(bare.size() % 8, 0u);
  const uint32_t size = static_cast<uint32_t>(bare.size());
  // The table's last bytes look like a trailer pointing at the image's start.
  const std::string signature = std::string(1480, 'C') + std::string(4, '\0');
  // Signing an image whose length is not a multiple of 8 pads it, which moves the
  // trailer away from the table: such a file is not recognised.
  std::string padded = bare + "pad";
  padded.resize((padded.size() + 7) / 8 * 8, '\0');
  PutPeHeaders(padded, 0x10B, static_cast<uint32_t>(padded.size()), 1480);
  padded += signature;
  struct Case { const char* what; std::string image; int recognised; };
  const Case cases[] = {
      {"unsigned", bare, 1},
      {"signed", SignableImage(nullptr, signature), 1},
      {"signed after padding", padded, 0},
      // Hostile directories in an unsigned projector change nothing.
      {"pointing past the end", SignableImage(nullptr, "", size + 8, 64), 1},
      {"overlapping the header", SignableImage(nullptr, "", 0, size), 1},
      {"overlapping the payload", SignableImage(nullptr, "", 512, size - 512), 1},
      {"ending before the end", SignableImage(nullptr, "", 512, 64), 1},
      {"size 0", SignableImage(nullptr, "", size, 0), 1},
      {"huge", SignableImage(nullptr, "", 512, 0xFFFFFFF8u), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakePlatform fake;
    Outcome run = Unpack(fake, c.image);
    ASSERT_EQ(run.recognised, c.recognised);
    if (!c.recognised) continue;
    EXPECT_EQ(run.extractResult, 1u);
    EXPECT_EQ(run.descriptor.flags, 0x100u);
    EXPECT_EQ(run.descriptor.flags2, 0x4u);
    EXPECT_EQ(fake.files[Folder + "cine.dll"].substr(0, 10), "entry data");
    // The exit pass finds the same leading entry.
    fake.log.clear();
    PayloadPlatform calls = fake.Calls();
    DeleteLeadingEntryFiles(&calls, Exe);
    EXPECT_EQ(fake.log, std::vector<std::string>{"delete D:\\GAMES\\lead.tmp"});
    ExpectCleanExit(fake);
  }
}

TEST(PayloadExtraction, StoredAndCompressedEntriesAreWrittenByteForByte) {
  const std::string big = Bytes(100000, 1);
  const std::string text = std::string(40000, 'a') + Bytes(3000, 2) + std::string(500, ' ');
  std::vector<EntrySpec> entries = {
      Stored("lead", "tmp", "leading data is never extracted"),
      Stored("cine", "dll", big),
      Compressed("support", "dll", text),
      Compressed("exact", "bin", Bytes(32768, 3)),
      Stored("empty", "dat", ""),
  };
  FakePlatform fake;
  Outcome run = Unpack(fake, MakeImage(entries, 4, 0x2100));
  ASSERT_EQ(run.recognised, 1);
  EXPECT_EQ(run.extractResult, 1u);
  EXPECT_EQ(PayloadOptionOf(run.descriptor.flags), 1u);
  EXPECT_EQ(fake.files[Folder + "cine.dll"], big);
  EXPECT_EQ(fake.files[Folder + "support.dll"], text);
  EXPECT_EQ(fake.files[Folder + "exact.bin"], Bytes(32768, 3));
  // An empty entry is an empty file, not the rest of the executable.
  ASSERT_TRUE(fake.files.count(Folder + "empty.dat"));
  EXPECT_EQ(fake.files[Folder + "empty.dat"], "");
  EXPECT_FALSE(fake.files.count(Folder + "lead.tmp"));
  EXPECT_EQ(fake.workFolderCalls, 1);
  // Critical errors were off during the writes.
  EXPECT_EQ(fake.errorModes.front(), 1u);
  ExpectCleanExit(fake);
}

TEST(PayloadExtraction, NothingToExtractCreatesNoWorkFolder) {
  // Leading entries are not looked at when nothing is extracted, even a bad one.
  for (const char* lead : {"lead", "..\\lead"}) {
    FakePlatform fake;
    Outcome run = Unpack(fake, MakeImage({Stored(lead, "tmp", "x")}, 0));
    EXPECT_EQ(run.recognised, 1) << lead;
    EXPECT_EQ(run.extractResult, 1u) << lead;
    EXPECT_EQ(fake.workFolderCalls, 0) << lead;
  }
}

TEST(PayloadExtraction, NamesAreWalkedWithThePlatformsCodePage) {
  // The second byte of this character is 0x5C, a backslash in a single-byte code page.
  const std::string name = "\x95\x5C";
  struct Case { LeadByteRule codePage; uint32_t result; };
  const Case cases[] = {{payload_fake::CodePage932, 1}, {SingleByteCodePage, 0}};
  for (const Case& c : cases) {
    FakePlatform fake;
    fake.codePage = c.codePage;
    Outcome run = Unpack(fake, MakeImage({Stored(name, "dll", "x")}, 1));
    EXPECT_EQ(run.extractResult, c.result);
    EXPECT_EQ(fake.files.count(Folder + name + ".dll"), c.result);
  }
}

TEST(PayloadExtraction, StoredEntryReachingPastTheEndIsCopiedUpToTheEnd) {
  // A source that ends early ends the copy; a position past the end gives an empty file.
  struct Case { const char* what; int32_t offset; int32_t size; std::string content; };
  const std::string data = Bytes(50000, 10);
  const int32_t start = 512 + 292;  // where MakeImage puts the first entry's data
  const std::string rest = data + "MOVIE" + std::string("\x00\x02\0\0", 4);
  const Case cases[] = {
      {"size past the end", -1, 0x7FFFFFF0, rest},
      {"size one past the end", -1, static_cast<int32_t>(rest.size()) + 1, rest},
      {"offset past the end", 0x100000, 10, ""},
      {"offset at the end", start + static_cast<int32_t>(rest.size()), 10, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakePlatform fake;
    EntrySpec big = Stored("big", "dat", data);
    big.offset = c.offset;
    big.size = c.size;
    Outcome run = Unpack(fake, MakeImage({big, Stored("next", "dat", "")}, 2));
    EXPECT_EQ(run.extractResult, 1u);
    ASSERT_TRUE(fake.files.count(Folder + "big.dat"));
    EXPECT_EQ(fake.files[Folder + "big.dat"], c.content);
    EXPECT_TRUE(fake.files.count(Folder + "next.dat"));
    ExpectCleanExit(fake);
  }
}

TEST(PayloadExtraction, WorkFolderFailureFailsTheExtraction) {
  FakePlatform fake;
  fake.workFolderFails = true;
  Outcome run = Unpack(fake, MakeImage({Stored("cine", "dll", "x")}, 1));
  EXPECT_EQ(run.recognised, 1);
  EXPECT_EQ(run.extractResult, 0u);
  EXPECT_TRUE(Created(fake).empty());
}

TEST(PayloadExtraction, FailingSlotStopsTheRestAndIsDeleted) {
  // The third of four entries fails, in each of the ways a slot can fail.
  struct Case {
    const char* what;
    EntrySpec third;
    bool created;  // whether the failing slot's file was created (and so deleted)
  };
  EntrySpec packedPastEnd = Compressed("third", "dat", "hello");
  packedPastEnd.size = 0x40000000;
  EntrySpec longName = Stored(std::string(32, 'n'), "dat", "abc");
  const Case cases[] = {
      {"compressed size past the end", packedPastEnd, true},
      {"target path over 260 bytes", longName, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakePlatform fake;
    fake.workFolder = "C:\\" + std::string(225, 'w') + "\\";
    std::vector<EntrySpec> entries = {Stored("first", "dat", "1111"),
                                      Compressed("second", "dat", "2222"), c.third,
                                      Stored("fourth", "dat", "4444")};
    Outcome run = Unpack(fake, MakeImage(entries, 4));
    EXPECT_EQ(run.recognised, 1);
    EXPECT_EQ(run.extractResult, 0u);
    EXPECT_EQ(fake.files[fake.workFolder + "first.dat"], "1111");
    EXPECT_EQ(fake.files[fake.workFolder + "second.dat"], "2222");
    std::string third = fake.workFolder + c.third.name + ".dat";
    EXPECT_FALSE(fake.files.count(third));
    std::vector<std::string> expected = {fake.workFolder + "first.dat",
                                         fake.workFolder + "second.dat"};
    if (c.created) expected.push_back(third);
    EXPECT_EQ(Created(fake), expected) << "the fourth slot must not be tried";
    EXPECT_EQ(fake.log.back() == "delete " + third, c.created);
    ExpectCleanExit(fake);
  }
}

TEST(PayloadExtraction, TargetThatCannotBeCreated) {
  struct Case {
    const char* what;
    bool compressed;
    bool exists;
    uint32_t result;
  };
  const Case cases[] = {
      {"stored, held open elsewhere", false, true, 1},
      {"stored, cannot be made", false, false, 0},
      {"compressed, held open elsewhere", true, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakePlatform fake;
    std::string held = Folder + "held.dat";
    fake.uncreatable.insert(held);
    if (c.exists) fake.files[held] = "old";
    EntrySpec entry = c.compressed ? Compressed("held", "dat", "new") : Stored("held", "dat", "new");
    Outcome run = Unpack(fake, MakeImage({entry, Stored("next", "dat", "next")}, 2));
    EXPECT_EQ(run.extractResult, c.result);
    if (c.exists) {
      EXPECT_EQ(fake.files[held], "old");
    }
    EXPECT_EQ(fake.files.count(Folder + "next.dat") == 1, c.result == 1);
    for (const std::string& line : fake.log) EXPECT_NE(line, "delete " + held);
    ExpectCleanExit(fake);
  }
}

TEST(PayloadExtraction, InputBufferGrowsOnceAndServesSmallerEntries) {
  std::string a = Compress(Bytes(1000, 4));
  std::string b = Compress(Bytes(5000, 5));
  std::string c = Compress(Bytes(2000, 6));
  FakePlatform fake;
  std::vector<EntrySpec> entries = {Compressed("a", "bin", Bytes(1000, 4)),
                                    Compressed("b", "bin", Bytes(5000, 5)),
                                    Compressed("c", "bin", Bytes(2000, 6))};
  Outcome run = Unpack(fake, MakeImage(entries, 3));
  EXPECT_EQ(run.extractResult, 1u);
  EXPECT_EQ(fake.files[Folder + "c.bin"], Bytes(2000, 6));
  std::vector<std::pair<uint32_t, uint32_t>> expected = {
      {0, sizeof(LzariDecoder)}, {0, PayloadBufferSize}, {0, static_cast<uint32_t>(a.size())},
      {0, static_cast<uint32_t>(b.size())}};
  EXPECT_EQ(fake.allocations, expected);
  ExpectCleanExit(fake);
}

TEST(PayloadExtraction, CopyBufferHalvesUnderMemoryPressure) {
  struct Case { uint32_t largest; int32_t chunk; uint32_t tries; bool ok; };
  const Case cases[] = {
      {32768, 32768, 1, true}, {20000, 16384, 2, true}, {1, 1, 16, true}, {0, 0, 16, false},
  };
  const std::string data = Bytes(40000, 7);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.largest);
    FakePlatform fake;
    fake.largestAllocation = c.largest;
    Outcome run = Unpack(fake, MakeImage({Stored("cine", "dll", data)}, 1));
    EXPECT_EQ(run.extractResult, c.ok ? 1u : 0u);
    ASSERT_EQ(fake.allocations.size(), c.tries);
    EXPECT_EQ(fake.allocations.back().first, MoveableZeroedMemory);
    EXPECT_EQ(fake.allocations.back().second, c.ok ? static_cast<uint32_t>(c.chunk) : 1u);
    if (c.ok) {
      EXPECT_EQ(fake.files[Folder + "cine.dll"], data);
      EXPECT_EQ(fake.writeSizes.front(), c.chunk);
      EXPECT_EQ(fake.writeSizes.back(), static_cast<int32_t>(data.size() % c.chunk ? data.size() % c.chunk : c.chunk));
    } else {
      EXPECT_FALSE(fake.files.count(Folder + "cine.dll"));
    }
    ExpectCleanExit(fake);
  }
}

TEST(PayloadExtraction, FullDiskFailsTheEntryAndDeletesIt) {
  struct Case { const char* what; bool compressed; int64_t space; };
  const Case cases[] = {
      {"stored, first chunk short", false, 100},
      {"stored, last chunk short", false, 32768 + 5},
      {"compressed, a full buffer short", true, 1000},
      {"compressed, the remainder short", true, 32768 + 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakePlatform fake;
    fake.diskSpace = c.space;
    std::string content = Bytes(50000, 8);
    EntrySpec entry = c.compressed ? Compressed("big", "bin", content) : Stored("big", "bin", content);
    Outcome run = Unpack(fake, MakeImage({entry, Stored("after", "dat", "x")}, 2));
    EXPECT_EQ(run.extractResult, 0u);
    EXPECT_FALSE(fake.files.count(Folder + "big.bin"));
    EXPECT_FALSE(fake.files.count(Folder + "after.dat"));
    ExpectCleanExit(fake);
  }
}

TEST(PayloadExtraction, CompressedEntryTooShortForItsLengthEndsTheProcess) {
  for (int size : {0, 3}) {
    EntrySpec entry = Compressed("cine", "dll", "x");
    entry.data = entry.data.substr(0, size);
    std::string image = MakeImage({entry}, 1);
    EXPECT_EXIT(
        {
          FakePlatform fake;
          Unpack(fake, image);
        },
        testing::ExitedWithCode(1), "")
        << size;
  }
}

TEST(CopyStoredEntry, CountOfZeroOrLessCopiesToTheEndAndShortSourceSucceeds) {
  struct Case { int32_t count; size_t copied; };
  const Case cases[] = {{0, 70000}, {-5, 70000}, {100, 100}, {69999, 69999}, {90000, 70000}};
  for (const Case& c : cases) {
    FakePlatform fake;
    fake.files["src"] = Bytes(70000, 9);
    PayloadPlatform calls = fake.Calls();
    PayloadFile source = calls.openFile(&fake, "src");
    PayloadFile target = calls.createFile(&fake, "dst");
    EXPECT_EQ(CopyStoredEntry(&calls, source, target, c.count), 0) << c.count;
    EXPECT_EQ(fake.files["dst"], fake.files["src"].substr(0, c.copied)) << c.count;
    EXPECT_EQ(fake.blocks.size(), 0u);
  }
}

TEST(PayloadExitPass, DeletesLeadingEntryFilesBesideTheExecutableOnly) {
  std::vector<EntrySpec> entries = {Stored("save", "dat", ""), Stored("prefs", "ini", ""),
                                    Stored("cine", "dll", "x")};
  struct Case { const char* exe; std::vector<std::string> deleted; };
  const Case cases[] = {
      {"D:\\GAMES\\MOVIE.EXE", {"D:\\GAMES\\save.dat", "D:\\GAMES\\prefs.ini"}},
      {"MOVIE.EXE", {"save.dat", "prefs.ini"}},
  };
  for (const Case& c : cases) {
    FakePlatform fake;
    fake.files[c.exe] = MakeImage(entries, 1);
    fake.errorMode = 0x8000;
    PayloadPlatform calls = fake.Calls();
    DeleteLeadingEntryFiles(&calls, c.exe);
    std::vector<std::string> expected;
    for (const std::string& d : c.deleted) expected.push_back("delete " + d);
    EXPECT_EQ(fake.log, expected) << c.exe;
    EXPECT_EQ(fake.errorModes.front(), 1u);
    ExpectCleanExit(fake);
  }
}

TEST(PayloadExitPass, DeletesNothingForMissingOrDamagedPayloads) {
  std::string damaged = MakeImage({Stored("save", "dat", ""), Stored("cine", "dll", "x")}, 1);
  int32_t seven = 7;
  memcpy(&damaged[512 + 16], &seven, 4);
  std::string allExtracted = MakeImage({Stored("cine", "dll", "x")}, 1);
  std::string farName =
      MakeImage({Stored(std::string(32, 'n'), "dat", ""), Stored("cine", "dll", "x")}, 1);
  struct Case { const char* what; std::string exe; std::string image; };
  const Case cases[] = {
      {"no payload", "D:\\G\\M.EXE", std::string(1000, 'M')},
      {"counts outside the table", "D:\\G\\M.EXE", damaged},
      {"no leading entries", "D:\\G\\M.EXE", allExtracted},
      {"name does not fit beside the executable", "D:\\" + std::string(220, 'g') + "\\M.EXE", farName},
  };
  for (const Case& c : cases) {
    FakePlatform fake;
    fake.files[c.exe] = c.image;
    fake.errorMode = 0x8000;
    PayloadPlatform calls = fake.Calls();
    DeleteLeadingEntryFiles(&calls, c.exe.c_str());
    EXPECT_TRUE(fake.log.empty()) << c.what;
    ExpectCleanExit(fake);
  }
}

// DecodeEntryToFile writes through the platform's write call; here, the fake's.
const uint32_t Block = 32768;

// Text with repeats and noise, so the stream holds literals and matches alike.
std::string Sample(size_t n, uint32_t seed) {
  std::string s = Bytes(n, seed);
  for (size_t at = 200; at + 50 < n; at += 97) s.replace(at, 40, s, at - 150, 40);
  return s;
}

struct Decoding {
  FakePlatform fake;
  LzariDecoder decoder;
  std::vector<uint8_t> buffer = std::vector<uint8_t>(Block);
  PayloadFile file = PayloadFileError;

  // Decodes `stream` into "out.bin", created new, or into an existing file opened for
  // reading only, which refuses every write.
  int Run(const std::string& stream, bool readOnly = false) {
    PayloadPlatform calls = fake.Calls();
    file = readOnly ? calls.openFile(calls.context, "out.bin")
                    : calls.createFile(calls.context, "out.bin");
    int result = DecodeEntryToFile(&decoder, buffer.data(), Block,
                                   reinterpret_cast<const uint8_t*>(stream.data()),
                                   static_cast<int32_t>(stream.size()),
                                   FileWriter{calls.context, calls.writeFile, file});
    calls.closeFile(calls.context, file);
    return result;
  }
};

TEST(DecodeEntryToFile, WritesEveryFullBufferThenTheRest) {
  struct Case { std::string stream; std::string text; };
  std::vector<Case> cases;
  for (size_t n : {size_t(0), size_t(1), size_t(Block - 1), size_t(Block), size_t(2 * Block),
                   size_t(3 * Block), size_t(Block + 1), size_t(3 * Block + 12345)}) {
    std::string text = Sample(n, static_cast<uint32_t>(n));
    cases.push_back({Compress(text), text});
  }
  // A size byte 0xFF is a byte like any other: 255 bytes, all from 1-bits.
  cases.push_back({std::string("\xFF\0\0\0", 4), std::string(255, '\0')});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.size());
    Decoding run;
    EXPECT_EQ(run.Run(c.stream), 1);
    std::vector<int32_t> expected(c.text.size() / Block, static_cast<int32_t>(Block));
    if (c.text.size() % Block != 0) expected.push_back(static_cast<int32_t>(c.text.size() % Block));
    EXPECT_EQ(run.fake.writeSizes, expected);
    EXPECT_TRUE(run.fake.files["out.bin"] == c.text);
  }
}

TEST(DecodeEntryToFile, ShortOrFailedWriteFailsTheEntryAndStopsDecoding) {
  struct Case { const char* what; size_t size; int shortAt; int failAt; int writes; };
  const Case cases[] = {
      {"first full buffer short", 3 * Block + 5, 1, 0, 1},
      {"second full buffer fails", 3 * Block + 5, 0, 2, 2},
      {"last full buffer short, no remainder", 2 * Block, 2, 0, 2},
      {"final write short", Block + 1, 2, 0, 2},
      {"final write fails", 100, 0, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Decoding run;
    run.fake.shortWriteAt = c.shortAt;
    run.fake.failWriteAt = c.failAt;
    EXPECT_EQ(run.Run(Compress(Sample(c.size, 7))), 0);
    EXPECT_EQ(run.fake.writeCalls, c.writes);
  }
}

TEST(DecodeEntryToFile, TargetThatRefusesWritesFails) {
  struct Case { size_t size; int result; int writes; };
  const Case cases[] = {
      {0, 1, 0},          // nothing to write, nothing can fail
      {10, 0, 1},         // the final write
      {5 * Block, 0, 1},  // the first full buffer; decoding stops there
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    Decoding run;
    run.fake.files["out.bin"] = "existing content";
    EXPECT_EQ(run.Run(Compress(Sample(c.size, 3)), true), c.result);
    EXPECT_EQ(run.fake.writeCalls, c.writes);
    EXPECT_EQ(run.fake.files["out.bin"], "existing content");
  }
}

TEST(DecodeEntryToFile, MissingArgumentDoesNothing) {
  std::string stream = Compress(Sample(50000, 5));
  const uint8_t* input = reinterpret_cast<const uint8_t*>(stream.data());
  int32_t length = static_cast<int32_t>(stream.size());
  FakePlatform fake;
  PayloadPlatform calls = fake.Calls();
  PayloadFile file = calls.createFile(calls.context, "out.bin");
  FileWriter writer = {calls.context, calls.writeFile, file};
  static LzariDecoder decoder;
  uint8_t buffer[64];
  struct Case { const char* what; LzariDecoder* decoder; uint8_t* buffer; uint32_t size;
                const uint8_t* input; FileWriter target; };
  const Case cases[] = {
      {"decoder", nullptr, buffer, sizeof buffer, input, writer},
      {"buffer", &decoder, nullptr, sizeof buffer, input, writer},
      {"size", &decoder, buffer, 0, input, writer},
      {"input", &decoder, buffer, sizeof buffer, nullptr, writer},
      {"file", &decoder, buffer, sizeof buffer, input, FileWriter{calls.context, calls.writeFile, 0}},
      {"write call", &decoder, buffer, sizeof buffer, input, FileWriter{calls.context, nullptr, file}},
  };
  for (const Case& c : cases) {
    memset(&decoder, 0xA5, sizeof decoder);
    EXPECT_EQ(DecodeEntryToFile(c.decoder, c.buffer, c.size, c.input, length, c.target), 0) << c.what;
    EXPECT_EQ(fake.writeCalls, 0) << c.what;
    const uint8_t* record = reinterpret_cast<const uint8_t*>(&decoder);
    EXPECT_TRUE(std::all_of(record, record + sizeof decoder, [](uint8_t b) { return b == 0xA5; }))
        << c.what << ": the decoder record was touched";
  }
  calls.closeFile(calls.context, file);
}

// Any write, or a return from the call, would end the child with another status.
int32_t WriteAndDie(void*, int32_t, const void*, int32_t) { std::_Exit(3); }

TEST(DecodeEntryToFile, StreamShorterThanItsLengthEndsTheProcessWithStatusOne) {
  for (size_t length = 0; length < 4; ++length) {
    std::string stream(length, '\x07');
    EXPECT_EXIT(
        {
          static LzariDecoder decoder;
          static uint8_t buffer[Block];
          DecodeEntryToFile(&decoder, buffer, Block,
                            reinterpret_cast<const uint8_t*>(stream.data()),
                            static_cast<int32_t>(length), FileWriter{nullptr, WriteAndDie, 5});
          std::_Exit(2);
        },
        testing::ExitedWithCode(1), "")
        << length;
  }
}

}  // namespace
