// Damaged projectors and splash bitmaps on the shipped build under Wine: a damaged file
// says so in one message and loads nothing, leaving nothing behind; a bitmap whose
// headers do not fit its file shows no splash, and the launch goes on.
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "payload/payload_format.h"
#include "tests/e2e/harness.h"

namespace e2e {
namespace {

// What happens to a projector's file after it was packed.
using Harm = std::function<void(std::string& image)>;

// The slots of the projector every row packs.
const int CompressedSlot = 0;  // cine.dll, the test runtime
const int StoredSlot = 1;      // data.bin, 200000 bytes that begin with FF FF FF FF

size_t SlotField(const std::string& image, int slot, size_t field) {
  return ReadLE32(image, image.size() - 4) + 24 + 52 * slot + field;
}

Harm Unharmed() {
  return [](std::string&) {};
}

// One byte in the middle of a slot's data.
Harm ChangeEntryByte(int slot) {
  return [=](std::string& image) {
    size_t offset = ReadLE32(image, SlotField(image, slot, 0));
    image[offset + ReadLE32(image, SlotField(image, slot, 4)) / 2] ^= 0x01;
  };
}

// A broken download: the end of the file is missing.
Harm CutEnd(size_t bytes) {
  return [=](std::string& image) { image.resize(image.size() - bytes); };
}

// The stored file's extract extension in capitals: the slot now reads as a compressed
// stream, and the file's first four bytes announce 4 GiB.
Harm ReadStoredAsCompressed() {
  return [](std::string& image) {
    for (size_t at = SlotField(image, StoredSlot, 45); image[at] != 0; ++at) image[at] ^= 0x20;
  };
}

// The compressed slot's size cut to `size` bytes, too few for its length.
Harm ShortenStream(uint32_t size) {
  return [=](std::string& image) {
    size_t at = SlotField(image, CompressedSlot, 4);
    for (int i = 0; i < 4; ++i) image[at + i] = char(size >> (8 * i));
  };
}

enum class Outcome { SaysDamaged, Runs };

struct DamageRow {
  const char* name;
  bool record;  // packed with the integrity record (cinepack's default)
  Harm harm;
  Outcome outcome;
};
void PrintTo(const DamageRow& row, std::ostream* out) { *out << row.name; }

const bool WithRecord = true;
const bool WithoutRecord = false;

const DamageRow DamageRows[] = {
    {"stored_byte_changed", WithRecord, ChangeEntryByte(StoredSlot), Outcome::SaysDamaged},
    {"compressed_byte_changed", WithRecord, ChangeEntryByte(CompressedSlot), Outcome::SaysDamaged},
    {"cut_by_100_bytes", WithRecord, CutEnd(100), Outcome::SaysDamaged},
    {"four_gib_announced", WithoutRecord, ReadStoredAsCompressed(), Outcome::SaysDamaged},
    {"empty_stream", WithoutRecord, ShortenStream(0), Outcome::SaysDamaged},
    {"three_byte_stream", WithoutRecord, ShortenStream(3), Outcome::SaysDamaged},
    // Made by today's cinepack without the record: it runs as projectors always did.
    {"old_layout", WithoutRecord, Unharmed(), Outcome::Runs},
};

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

// A bare launcher run is about two seconds; a crash would wait for the debugger.
const int LaunchTimeoutMs = 20000;

class DamagedProjector : public testing::TestWithParam<DamageRow> {};

TEST_P(DamagedProjector, SaysSoLoadsNothingAndLeavesNothing) {
  const DamageRow& row = GetParam();
  Sandbox box = MakeSandbox(std::string("integrity_") + row.name);
  LaunchSpec spec = SandboxSpec(box);
  spec.timeoutMs = LaunchTimeoutMs;
  WriteFile(box.root + "/src/data.bin", "\xFF\xFF\xFF\xFF" + RandomBytes(200000 - 4, 1));
  WriteFile(box.root + "/src/movie.dat", "QMV1movie");
  CopyFile(TestRuntime(), box.root + "/src/cine.dll");
  // A runtime beside it too, which a launch that went on without its payload would find.
  CopyFile(TestRuntime(), box.app + "/cine.dll");
  std::string out;
  ASSERT_EQ(
      RunCinepack("build --stub " + Launcher() + " --movie " + box.root + "/src/movie.dat" +
                      " --extract " + box.root + "/src/cine.dll:compress --extract " + box.root +
                      "/src/data.bin -o " + spec.exe + (row.record ? "" : " --no-integrity-record"),
                  &out),
      0)
      << out;
  std::string image = ReadFile(spec.exe);
  row.harm(image);
  WriteFile(spec.exe, image);

  LaunchResult r = Launch(box, spec);
  EXPECT_EQ(r.exitCode, 0) << r.probeOutput;
  EXPECT_FALSE(r.timedOut);
  if (row.outcome == Outcome::SaysDamaged) {
    EXPECT_EQ(r.box["text"], DamagedText);
    EXPECT_EQ(r.box["caption"], "Application Error");
    EXPECT_EQ(r.box["buttons"], "1");
    EXPECT_TRUE(r.report.empty()) << "a runtime was loaded and called";
  } else {
    EXPECT_EQ(r.box["text"], "");
    EXPECT_EQ(r.report["runtimeLocation"], "2") << "cine.dll from the work folder";
  }
  EXPECT_EQ(ListDir(box.tmp), std::vector<std::string>()) << "left in TMP";
}

INSTANTIATE_TEST_SUITE_P(Table, DamagedProjector, testing::ValuesIn(DamageRows),
                         [](const testing::TestParamInfo<DamageRow>& info) {
                           return info.param.name;
                         });

// A bitmap file's headers, and what follows them.
struct BitmapFile {
  uint32_t width;
  uint32_t height;
  uint16_t bitCount;
  uint32_t pixelOffset;  // 0: right after the colour table
  size_t pixelBytes;     // what the file holds after the headers and the colour table
};

std::string LittleEndian(uint32_t value, int bytes) {
  std::string s;
  for (int i = 0; i < bytes; ++i) s += static_cast<char>(value >> (8 * i));
  return s;
}

std::string Encode(const BitmapFile& b) {
  size_t table = b.bitCount <= 8 ? 4u << b.bitCount : 0;
  uint32_t offset = b.pixelOffset != 0 ? b.pixelOffset : uint32_t(14 + 40 + table);
  std::string info = LittleEndian(40, 4) + LittleEndian(b.width, 4) + LittleEndian(b.height, 4) +
                     LittleEndian(1, 2) + LittleEndian(b.bitCount, 2) + std::string(24, '\0');
  size_t size = 14 + 40 + table + b.pixelBytes;
  return "BM" + LittleEndian(uint32_t(size), 4) + LittleEndian(0, 4) + LittleEndian(offset, 4) +
         info + std::string(table, '\x40') + std::string(b.pixelBytes, '\x7F');
}

struct BitmapRow {
  const char* name;
  BitmapFile bitmap;
};
void PrintTo(const BitmapRow& row, std::ostream* out) { *out << row.name; }

const BitmapRow BitmapRows[] = {
    {"header_alone", {640, 480, 24, 0, 0}},
    {"pixel_offset_past_the_end", {640, 480, 24, 54 + 500000, 640 * 480 * 3}},
    {"one_bit_30000_square", {30000, 30000, 1, 0, 64}},
};

class BadSplashBitmap : public testing::TestWithParam<BitmapRow> {};

TEST_P(BadSplashBitmap, ShowsNoSplashAndTheLaunchGoesOn) {
  const BitmapRow& row = GetParam();
  Sandbox box = MakeSandbox(std::string("bitmap_") + row.name);
  LaunchSpec spec = SandboxSpec(box);
  spec.timeoutMs = LaunchTimeoutMs;
  CopyFile(Launcher(), spec.exe);
  CopyFile(TestRuntime(), box.app + "/cine.dll");
  WriteFile(box.app + "/MOVIE.BMP", Encode(row.bitmap));

  LaunchResult r = Launch(box, spec);
  EXPECT_EQ(r.exitCode, 0) << r.probeOutput;
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.box["text"], "");
  EXPECT_EQ(r.report["called"], "1");
  EXPECT_EQ(r.report["closeSplash_set"], "0") << "a splash was shown";
  EXPECT_EQ(r.report["splashThreadId"], "0");
}

INSTANTIATE_TEST_SUITE_P(Table, BadSplashBitmap, testing::ValuesIn(BitmapRows),
                         [](const testing::TestParamInfo<BitmapRow>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace e2e
