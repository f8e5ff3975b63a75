// The integrity record: its CRC-32, where it lies, its own check, and what the reader
// makes of a projector that carries one, sound or damaged, over the fake platform.
#include <gtest/gtest.h>

#include <functional>

#include "lzari/lzari_encoder.h"
#include "payload/payload_signature.h"
#include "tests/unit/payload_fake_platform.h"

namespace {

using namespace payload_fake;

const char Exe[] = "D:\\GAMES\\MOVIE.EXE";
const std::string Folder = "C:\\TEMP\\TempFolder.aaa\\";

std::string Noise(size_t n, uint32_t seed) {
  std::string s(n, 0);
  for (char& c : s) c = char((seed = seed * 1103515245u + 12345u) >> 16);
  return s;
}

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// The CRC bit by bit, as the polynomial defines it.
uint32_t PlainCrc(const std::string& s) {
  uint32_t crc = 0xFFFFFFFF;
  for (unsigned char c : s) {
    crc ^= c;
    for (int bit = 0; bit < 8; ++bit) crc = crc & 1 ? 0xEDB88320 ^ (crc >> 1) : crc >> 1;
  }
  return ~crc;
}

// Every length around the lanes' stride (20 bytes) and a few long ones, whole and
// carried on from a piece.
TEST(Crc32, MatchesThePolynomialWholeOrCarriedOn) {
  PrepareCrc32();
  EXPECT_EQ(UpdateCrc32(0, Bytes("123456789"), 9), 0xCBF43926u);  // the check value
  const std::string data = Noise(70000, 3);
  std::vector<uint32_t> lengths = {32768, 32768 + 7, 70000};
  for (uint32_t n = 0; n <= 61; ++n) lengths.push_back(n);
  for (uint32_t n : lengths) {
    const std::string whole = data.substr(0, n);
    const uint32_t expected = PlainCrc(whole);
    EXPECT_EQ(UpdateCrc32(0, Bytes(whole), n), expected) << n;
    for (uint32_t first : {0u, n / 3, n}) {
      const uint32_t head = UpdateCrc32(0, Bytes(whole), first);
      EXPECT_EQ(UpdateCrc32(head, Bytes(whole) + first, n - first), expected) << n << "/" << first;
    }
  }
}

// Headers with one section, as PutImageEnd writes them, then changed.
TEST(ImageEnd, IsWhereTheLastSectionsRawDataEndsOrNowhere) {
  const size_t optional = 0x40 + 24, section = optional + 224;
  using Change = std::function<void(std::string&)>;
  auto put = [](size_t at, uint32_t value) -> Change {
    return [=](std::string& s) { PutLE(s, at, value, 4); };
  };
  auto none = [](std::string&) {};
  auto second = [=](uint32_t offset, uint32_t size) -> Change {
    return [=](std::string& s) {
      PutLE(s, section + 40 + 16, size, 4);
      PutLE(s, section + 60, offset, 4);
    };
  };
  struct Case {
    const char* what;
    Change change;
    int32_t length;
    int32_t end;
  };
  const Case cases[] = {
      {"one section", none, PeHeadersSize, 0x1000},
      {"a later section ending first", second(0x400, 0x100), PeHeadersSize, 0x1000},
      {"a later section ending last", second(0x2000, 0x200), PeHeadersSize, 0x2200},
      {"no raw data: the headers", put(section + 16, 0), PeHeadersSize, int32_t(SectionAt)},
      {"raw data past 2 GiB", put(section + 20, 0x7FFFFF00), PeHeadersSize, -1},
      {"section table cut by the read", none, int32_t(section) + 39, -1},
      {"optional header too short", put(0x40 + 20, 60), PeHeadersSize, -1},
      {"no MZ", put(0, 0), PeHeadersSize, -1},
      {"no PE", put(0x40, 0), PeHeadersSize, -1},
  };
  for (const Case& c : cases) {
    std::string start(PeHeadersSize, '\0');
    PutImageEnd(start, 0x1000);
    PutLE(start, 0x40 + 6, 2, 2);  // a second section, with no raw data unless a row says so
    c.change(start);
    EXPECT_EQ(FindImageEnd(Bytes(start), c.length), c.end) << c.what;
  }
}

// Sound when sealed; without the magic, no record at all; any other byte changed fails
// the record's own check.
TEST(IntegrityRecordCheck, AnyChangedByteButTheMagicsMakesItDamaged) {
  const std::string sealed = SealImage(MakeImage({EntrySpec{"cine", "dll", "dll", "data"}}, 1));
  IntegrityRecord record;
  EXPECT_EQ(ReadIntegrityRecord(Bytes(sealed) + ImageEnd, &record), RecordSound);
  EXPECT_EQ(record.headerOffset, HeaderAt);
  for (uint32_t at = 0; at < IntegrityRecordSize; ++at) {
    std::string image = sealed;
    image[ImageEnd + at] ^= 0x10;
    EXPECT_EQ(ReadIntegrityRecord(Bytes(image) + ImageEnd, &record),
              at < 4 ? RecordAbsent : RecordDamaged)
        << at;
  }
}

// What happens to a sealed projector before it runs.
using Harm = std::function<void(std::string&)>;

Harm Append(const std::string& tail) {
  return [=](std::string& s) { s += tail; };
}
Harm CutEnd(size_t bytes) {
  return [=](std::string& s) { s.resize(s.size() - bytes); };
}
Harm Both(Harm a, Harm b) {
  return [=](std::string& s) {
    a(s);
    b(s);
  };
}

// The byte at `at`, or `-at` bytes from the end.
Harm ChangeByte(int64_t at) {
  return [=](std::string& s) { s[at < 0 ? s.size() + at : at] ^= 0x20; };
}

// A byte in the middle of a slot's data.
Harm ChangeEntryByte(int slot) {
  return [=](std::string& s) {
    PayloadHeader h;
    memcpy(&h, &s[HeaderAt], sizeof h);
    s[h.entries[slot].offset + h.entries[slot].size / 2] ^= 0x20;
  };
}

// Cut inside the movie, right after four bytes that read as the trailer did: only the
// length tells.
Harm CutAfterAFalseTrailer() {
  return [](std::string& s) {
    const size_t movie = s.size() - 4 - 5;
    s.replace(movie, 4, s.substr(s.size() - 4));
    s.resize(movie + 4);
  };
}

// A certificate table after the payload, after padding to 8 bytes when `pad` (as a
// signing tool adds it, parting the trailer from the table).
Harm Sign(bool pad) {
  return [=](std::string& s) {
    if (pad) s.append(8 - s.size() % 8, '\0');
    PutPeHeaders(s, 0x10B, uint32_t(s.size()), 1480);
    s += std::string(1480, 'C');
  };
}

// Another packer's payload after this one, which the trailer now leads to: the same
// entries, another flag in its header. The record vouches for the first header.
Harm RepackAfter() {
  return [](std::string& s) {
    std::string header = s.substr(HeaderAt, PayloadHeaderSize);
    PutLE(header, 8, PayloadOptionFlag | 0x200, 4);
    const uint32_t at = uint32_t(s.size() - 4);
    s.insert(at, header);
    PutLE(s, s.size() - 4, at, 4);
  };
}

struct Projected {
  const char* what;
  Harm harm;
  uint32_t result;
  std::vector<std::string> folder;  // what the work folder holds afterwards, all intact
  bool headerSound;                 // its flags count, and the exit pass deletes for it
};

// A leading entry, then a stored entry of ten copy buffers, a compressed one and a small
// stored one: every kind of data the record covers.
TEST(IntegrityReader, ADamagedProjectorLoadsNothingAndSaysSo) {
  const std::string big = Noise(10 * PayloadBufferSize + 123, 1),
                    text = Noise(5000, 2) + Noise(5000, 2);
  std::vector<uint8_t> packed = LzariEncode(Bytes(text), text.size());
  const std::vector<EntrySpec> entries = {
      {"save", "dat", "dat", ""},
      {"big", "bin", "bin", big},
      {"text", "tx_", "txt", std::string(packed.begin(), packed.end())},
      {"tail", "dat", "dat", "tail"},
  };
  const std::string sealed = SealImage(MakeImage(entries, 3, PayloadOptionFlag));
  const std::map<std::string, std::string> contents = {
      {"big.bin", big}, {"text.txt", text}, {"tail.dat", "tail"}};
  const std::vector<std::string> all = {"big.bin", "tail.dat", "text.txt"};
  const uint32_t Written = ExtractDone, Damaged = ExtractDamaged;
  const Projected rows[] = {
      {"intact", Append(""), Written, all, true},
      {"stored byte changed", ChangeEntryByte(1), Damaged, {}, true},
      {"compressed byte changed", ChangeEntryByte(2), Damaged, {"big.bin"}, true},
      {"last byte of the last entry changed",
       ChangeEntryByte(3),
       Damaged,
       {"big.bin", "text.txt"},
       true},
      {"cut by 100 bytes", CutEnd(100), Damaged, {}, false},
      {"cut by one byte", CutEnd(1), Damaged, {}, false},
      {"cut after four bytes that read as the trailer",
       CutAfterAFalseTrailer(),
       Damaged,
       {},
       false},
      {"trailer changed", ChangeByte(-2), Damaged, {}, false},
      {"header's flags changed", ChangeByte(HeaderAt + 9), Damaged, {}, false},
      {"record's length changed", ChangeByte(ImageEnd + 9), Damaged, {}, false},
      {"longer: bytes appended", Append("more"), Written, all, true},
      {"longer: signed", Sign(false), Written, all, true},
      {"longer: padded, then signed", Sign(true), Written, all, true},
      {"repacked after it by another packer", RepackAfter(), Written, all, true},
      // Without its magic the record is not there: the old rules, no checks.
      {"record's magic and the header's flags changed",
       Both(ChangeByte(ImageEnd), ChangeByte(HeaderAt + 12)), Written, all, true},
  };
  for (const Projected& row : rows) {
    SCOPED_TRACE(row.what);
    std::string image = sealed;
    row.harm(image);
    FakePlatform fake;
    fake.files[Exe] = image;
    PayloadPlatform calls = fake.Calls();
    uint32_t result = 7;
    PayloadDescriptor descriptor = {7, 7};
    EXPECT_EQ(OpenPayload(&calls, Exe, 1, &result, &descriptor), 1);
    EXPECT_EQ(result, row.result);
    EXPECT_EQ(descriptor.flags != 0, row.headerSound);
    EXPECT_EQ(fake.workFolderCalls, row.headerSound ? 1 : 0) << "nothing is written for a cut file";
    std::vector<std::string> folder;
    for (const auto& file : fake.files) {
      if (file.first.rfind(Folder, 0) != 0) continue;
      folder.push_back(file.first.substr(Folder.size()));
      EXPECT_TRUE(file.second == contents.at(folder.back())) << folder.back();
    }
    EXPECT_EQ(folder, row.folder);
    EXPECT_TRUE(fake.open.empty() && fake.blocks.empty()) << "files or memory left";
    fake.files[Exe] = image;
    fake.files["D:\\GAMES\\save.dat"] = "saved";
    DeleteLeadingEntryFiles(&calls, Exe);
    EXPECT_EQ(fake.files.count("D:\\GAMES\\save.dat") == 0, row.headerSound) << "the exit pass";
  }
}

}  // namespace
