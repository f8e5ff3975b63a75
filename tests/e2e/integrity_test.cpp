// Damaged projectors and splash bitmaps: a damaged file says so in one message and loads
// nothing, not even the runtime beside it, leaving nothing behind; a bitmap whose headers
// do not fit its file shows no splash, and the launch goes on.
#include "tests/e2e/scenario.h"

namespace e2e {
namespace {

// The slots of the projector every damage row packs.
const int CompressedSlot = 0;  // cine.dll, the test runtime
const int StoredSlot = 1;      // data.bin, 200000 bytes that begin with FF FF FF FF

uint32_t ReadLE32(const std::string& data, size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(data[at + i]);
  return value;
}

// Where a field of a slot of the entry table lies, by the trailer.
size_t SlotField(const std::string& image, int slot, size_t field) {
  return ReadLE32(image, image.size() - 4) + 24 + 52 * slot + field;
}

// One byte in the middle of a slot's data.
Harm ChangeEntryByte(int slot) {
  return [=](std::string& image) {
    size_t offset = ReadLE32(image, SlotField(image, slot, 0));
    image[offset + ReadLE32(image, SlotField(image, slot, 4)) / 2] ^= 0x01;
  };
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

const bool WithoutRecord = false;

Projector Damaged(Harm harm, bool record = true) {
  return {.extract = {Compressed("cine.dll", Library(Lib::Test)),
                      Stored("data.bin", Random(200000, "\xFF\xFF\xFF\xFF"))},
          .record = record,
          .harm = std::move(harm)};
}

// A runtime beside it too, which a launch that went on without its payload would find.
const std::vector<Placed> RuntimeBeside = {Runtime("app/cine.dll")};
const Outcome SaysDamaged = {.box = DamagedText};
const Outcome NoSplash = {.received = {Got("closeSplash_set", "0"), Got("splashThreadId", "0")}};

const Scenario DamageRows[] = {
    {.name = "stored_byte_changed",
     .projector = Damaged(ChangeEntryByte(StoredSlot)),
     .given = RuntimeBeside,
     .expect = SaysDamaged},
    {.name = "four_gib_announced",
     .projector = Damaged(ReadStoredAsCompressed(), WithoutRecord),
     .given = RuntimeBeside,
     .expect = SaysDamaged},
    {.name = "empty_stream",
     .projector = Damaged(ShortenStream(0), WithoutRecord),
     .given = RuntimeBeside,
     .expect = SaysDamaged},
    {.name = "three_byte_stream",
     .projector = Damaged(ShortenStream(3), WithoutRecord),
     .given = RuntimeBeside,
     .expect = SaysDamaged},
    // Made by today's cinepack without the record: it runs as projectors always did.
    {.name = "old_layout",
     .projector = Damaged(nullptr, WithoutRecord),
     .given = RuntimeBeside,
     .expect = {.received = {Got("runtimeLocation", "2")}}},
    {.name = "bitmap_header_alone",
     .given = {Runtime("app/cine.dll"), Put("app/MOVIE.BMP", Bitmap(640, 480, 24, 0))},
     .expect = NoSplash},
    {.name = "bitmap_pixels_past_the_end",
     .given = {Runtime("app/cine.dll"),
               Put("app/MOVIE.BMP", Bitmap(640, 480, 24, 640 * 480 * 3, 54 + 500000))},
     .expect = NoSplash},
    {.name = "bitmap_one_bit_30000_square",
     .given = {Runtime("app/cine.dll"), Put("app/MOVIE.BMP", Bitmap(30000, 30000, 1, 64))},
     .expect = NoSplash},
};

INSTANTIATE_TEST_SUITE_P(Damage, Launches, testing::ValuesIn(DamageRows), ScenarioName);

}  // namespace
}  // namespace e2e
