// Damaged projectors and splash bitmaps: a damaged file says so in one message and loads
// nothing, not even the runtime beside it, leaving nothing behind; a bitmap whose headers
// do not fit its file shows no splash, and the launch goes on. Which damage and which
// headers, the unit tables of the reader, the decoder and the bitmap check say; these rows
// see that the launcher asks them, and the stored entry's sum, made as it is copied.
#include "tests/e2e/scenario.h"

namespace e2e {
namespace {

uint32_t ReadLE32(const std::string& data, size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(data[at + i]);
  return value;
}

// One byte in the middle of the stored entry (the second slot), found by the trailer.
void ChangeStoredByte(std::string& image) {
  size_t slot = ReadLE32(image, image.size() - 4) + 24 + 52;
  image[ReadLE32(image, slot) + ReadLE32(image, slot + 4) / 2] ^= 0x01;
}

Projector Damaged(Harm harm, bool record = true) {
  return {
      .extract = {Compressed("cine.dll", Library(Lib::Test)), Stored("data.bin", Random(200000))},
      .record = record,
      .harm = std::move(harm)};
}

// A runtime beside it too, which a launch that went on without its payload would find.
const std::vector<Placed> RuntimeBeside = {Runtime("app/cine.dll")};
const Outcome SaysDamaged = {.box = DamagedText};
const Outcome NoSplash = {.received = {Got("closeSplash_set", "0"), Got("splashThreadId", "0")}};

const Scenario DamageRows[] = {
    {.name = "stored_byte_changed",
     .projector = Damaged(ChangeStoredByte),
     .given = RuntimeBeside,
     .expect = SaysDamaged},
    {.name = "old_layout",
     .projector = Damaged(nullptr, WithoutRecord),
     .given = RuntimeBeside,
     .expect = {.received = {Got("runtimeLocation", "2")}}},
    {.name = "bitmap_header_alone",
     .given = {Runtime("app/cine.dll"), Put("app/MOVIE.BMP", Bitmap(640, 480, 0))},
     .expect = NoSplash},
};

INSTANTIATE_TEST_SUITE_P(Damage, Launches, testing::ValuesIn(DamageRows), ScenarioName);

}  // namespace
}  // namespace e2e
