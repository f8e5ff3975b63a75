// What the reader makes of a projector as it finds it: the PE headers that say where the
// image and a signed file's payload end, the integrity record's CRC-32 and its own check,
// and projectors cut, changed, signed or repacked, with the record and without, over the
// fake platform.
#include <gtest/gtest.h>

#include <functional>

#include "payload/payload_signature.h"
#include "tests/unit/payload_fake_platform.h"

namespace {

using namespace payload_fake;

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
  const std::string data = Sample(70000, 3);
  std::vector<uint32_t> lengths = {32768, 32768 + 7, 70000};
  for (uint32_t n = 0; n <= 61; ++n) lengths.push_back(n);
  for (uint32_t n : lengths) {
    const uint32_t expected = PlainCrc(data.substr(0, n));
    for (uint32_t first : {0u, n / 3, n}) {
      const uint32_t head = UpdateCrc32(0, Bytes(data), first);
      EXPECT_EQ(UpdateCrc32(head, Bytes(data) + first, n - first), expected) << n << "/" << first;
    }
  }
}

// Values written over the PE headers.
struct Patch {
  size_t at;
  uint32_t value;
  int bytes;
};
using Patches = std::vector<Patch>;

const size_t Optional = 0x40 + 24, Directories = Optional + 96, Sections = Optional + 224;

Patches Put(size_t at, uint32_t value, int bytes = 4) { return {{at, value, bytes}}; }
// The certificate table that the security directory names.
Patches Table(uint32_t offset, uint32_t size) {
  return {{Directories + 32, offset, 4}, {Directories + 36, size, 4}};
}
Patches SecondSection(uint32_t offset, uint32_t size) {
  return {{Sections + 56, size, 4}, {Sections + 60, offset, 4}};
}

// Headers of a file of 10000 bytes: a certificate table at 9600 and two sections, the
// first's raw data ending at 0x1000, the second's empty unless a row says otherwise. (An
// optional header cut short moves the section table into zeros: the headers end the image.)
TEST(PeHeaders, SayWhereTheImageAndTheCertificateTableBegin) {
  struct Case {
    const char* what;
    Patches patches;
    int32_t table = 9600;
    int32_t imageEnd = 0x1000;
    int32_t probe = PeHeadersSize;  // bytes read from the start, or -1
  };
  const int32_t Headers = int32_t(SectionAt);
  const Case cases[] = {
      {"as made", {}},
      {"table ending before the end", Table(9600, 200), 10000},
      {"table of a huge size", Table(9600, 0xFFFFFFFF), 10000},
      {"table wrapping to the end", Table(0xFFFFFF00, 10256), 10000},
      {"table in the section table", Table(Sections + 8, 10000 - Sections - 8), 10000},
      {"table not 8-byte aligned", Table(9604, 396), 10000},
      {"four directories", Put(Directories - 4, 4), 10000},
      {"a later section ending first", SecondSection(0x400, 0x100)},
      {"a later section ending last", SecondSection(0x2000, 0x200), 9600, 0x2200},
      {"no raw data: the headers", Put(Sections + 16, 0), 9600, Headers},
      {"raw data past 2 GiB", Put(Sections + 20, 0x7FFFFF00), 9600, -1},
      {"optional header without the security directory", Put(0x40 + 20, 128, 2), 10000, Headers},
      {"optional header of 60 bytes", Put(0x40 + 20, 60, 2), 10000, -1},
      {"unknown optional header", Put(Optional, 0x107, 2), 10000, -1},
      {"no MZ", Put(0, 0, 2), 10000, -1},
      {"no PE", Put(0x40, 0), 10000, -1},
      {"PE header past the probe", Put(0x3C, 0xFFFFFFF0), 10000, -1},
      {"section table cut by the read", {}, 9600, -1, int32_t(Sections) + 79},
      {"start read short", {}, 10000, -1, 200},
      {"start unreadable", {}, 10000, -1, -1},
  };
  for (const Case& c : cases) {
    std::string start(PeHeadersSize, '\0');
    PutImageEnd(start, 0x1000);
    PutLE(start, 0x40 + 6, 2, 2);
    for (const Patch& patch : Table(9600, 400)) PutLE(start, patch.at, patch.value, patch.bytes);
    for (const Patch& patch : c.patches) PutLE(start, patch.at, patch.value, patch.bytes);
    EXPECT_EQ(FindCertificateTable(Bytes(start), c.probe, 10000), c.table) << c.what;
    EXPECT_EQ(FindImageEnd(Bytes(start), c.probe), c.imageEnd) << c.what;
  }
  std::string plus(PeHeadersSize, '\0');
  PutPeHeaders(plus, 0x20B, 9600, 400);
  EXPECT_EQ(FindCertificateTable(Bytes(plus), PeHeadersSize, 10000), 9600) << "PE32+";
}

// A payload image, not signed: PE headers whose image ends at ImageEnd, the header at
// `headerAt` with one stored entry, a movie of `movie` bytes, the trailer.
std::string Payload(uint32_t headerAt, size_t movie) {
  std::string image = MakeImage({Stored("cine", "dll", "entry data")}, 1);
  const uint32_t shift = headerAt - HeaderAt;
  image.insert(HeaderAt, shift, 'F');
  PayloadHeader h;
  memcpy(&h, &image[headerAt], sizeof h);
  h.movieOffset += shift;
  h.entries[0].offset += shift;
  memcpy(&image[headerAt], &h, sizeof h);
  image.insert(image.size() - 4, movie - 5, 'V');  // MakeImage's movie is 5 bytes
  PutLE(image, image.size() - 4, headerAt, 4);
  PutImageEnd(image, ImageEnd);
  return image;
}

// The header of `image` copied to `at`, its entry count changed to `entries`.
std::string WithHeaderCopy(std::string image, uint32_t at, int32_t entries = 1) {
  uint32_t headerAt;
  memcpy(&headerAt, &image[image.size() - 4], 4);
  std::string header = image.substr(headerAt, PayloadHeaderSize);
  PutLE(header, 16, uint32_t(entries), 4);
  return image.replace(at, header.size(), header);
}

// `image` signed after `padding` zero bytes: its movie first made longer, so that the
// padding takes it to a multiple of 8.
std::string SignedAfterPadding(std::string image, size_t padding) {
  while ((image.size() + padding) % 8 != 0) image.insert(image.size() - 4, 1, 'V');
  image.append(padding, '\0');
  PutPeHeaders(image, 0x10B, uint32_t(image.size()), 1480);
  return image + std::string(1480, 'C');
}

int ReadImageAt(void* context, int32_t offset, void* buffer, int32_t count) {
  const std::string& image = *static_cast<const std::string*>(context);
  if (offset < 0 || count < 0 || size_t(offset) + size_t(count) > image.size()) return 0;
  memcpy(buffer, image.data() + offset, size_t(count));
  return 1;
}

const int32_t AtFileEnd = -1;

struct TrailerRow {
  const char* what;
  std::string image;  // signed, its table 1480 bytes long
  int32_t padding;    // the zero bytes between the trailer and the table, or AtFileEnd
};

// The trailer of a signed file ends before the table, or before up to 7 zero bytes of
// padding when the header there is recognised; otherwise at the file's end.
TEST(PayloadSignature, TheTrailerEndsBeforeTheTableOrTheZerosBeforeIt) {
  std::vector<TrailerRow> rows;
  for (int32_t padding = 0; padding <= 7; ++padding) {
    rows.push_back({"padding", SignedAfterPadding(Payload(HeaderAt, 5), size_t(padding)), padding});
  }
  std::string nonzero = SignedAfterPadding(Payload(HeaderAt, 5), 3);
  nonzero[nonzero.size() - 1480 - 1] = 1;
  rows.push_back({"a byte of the padding not zero", nonzero, AtFileEnd});
  rows.push_back({"eight zero bytes", SignedAfterPadding(Payload(HeaderAt, 5), 8), AtFileEnd});
  const std::string unsound = WithHeaderCopy(Payload(HeaderAt, 5), HeaderAt, 6);
  rows.push_back({"six entries", SignedAfterPadding(unsound, 3), AtFileEnd});
  // A position nearer the table reads the offset 0x16000 shifted down, 0x160: a header
  // there lies within the image.
  const std::string far = WithHeaderCopy(Payload(0x16000, 5), 0x160);
  rows.push_back({"a header copy within the image", SignedAfterPadding(far, 3), 3});
  // One further away reads 0x200 shifted up, with the movie's last byte: 0x20056. A sound
  // header there too makes two: the file reads two ways.
  const std::string two = WithHeaderCopy(Payload(HeaderAt, 0x21000), 0x20000 + 'V');
  rows.push_back({"two recognised", SignedAfterPadding(two, 3), AtFileEnd});
  for (const TrailerRow& row : rows) {
    const int32_t size = int32_t(row.image.size()), table = size - 1480;
    const FileBytes file = {const_cast<std::string*>(&row.image), ReadImageAt};
    const uint8_t* start = reinterpret_cast<const uint8_t*>(row.image.data());
    EXPECT_EQ(FindTrailerEnd(start, PeHeadersSize, size, file, SingleByteCodePage),
              row.padding == AtFileEnd ? size : table - row.padding)
        << row.what << " " << row.padding;
  }
}

// Sound when sealed, with the magic "10MI"; without the magic, no record at all; any
// other byte changed fails the record's own check.
TEST(IntegrityRecordCheck, AnyChangedByteButTheMagicsMakesItDamaged) {
  const std::string sealed = SealImage(MakeImage({Stored("cine", "dll", "data")}, 1));
  EXPECT_EQ(sealed.substr(ImageEnd, 4), "10MI");
  IntegrityRecord record;
  EXPECT_EQ(ReadIntegrityRecord(Bytes(sealed) + ImageEnd, &record), RecordSound);
  EXPECT_EQ(record.headerOffset, HeaderAt);
  for (uint32_t at = 0; at < IntegrityRecordSize; ++at) {
    std::string image = sealed;
    image[ImageEnd + at] ^= 0x10;
    const int expected = at < 4 ? RecordAbsent : RecordDamaged;
    EXPECT_EQ(ReadIntegrityRecord(Bytes(image) + ImageEnd, &record), expected) << at;
  }
}

// What happens to a projector before it runs.
using Harm = std::function<void(std::string&)>;

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

// The dword at `at`, or `-at` bytes from the end.
Harm PutDword(int64_t at, uint32_t value) {
  return [=](std::string& s) { PutLE(s, at < 0 ? s.size() + at : at, value, 4); };
}

// A slot's name, in the header.
Harm Rename(int slot, const std::string& name) {
  return [=](std::string& s) {
    s.replace(HeaderAt + 24 + 52 * slot + 8, name.size() + 1, name + '\0');
  };
}

// The last byte of a slot's data.
Harm ChangeEntryByte(int slot) {
  return [=](std::string& s) {
    PayloadHeader h;
    memcpy(&h, &s[HeaderAt], sizeof h);
    s[h.entries[slot].offset + h.entries[slot].size - 1] ^= 0x20;
  };
}

// Cut by `bytes`, the file still ending in four bytes that read as the trailer did:
// only the length tells.
Harm CutBehindTheTrailer(size_t bytes) {
  return [=](std::string& s) {
    const std::string trailer = s.substr(s.size() - 4);
    s.resize(s.size() - bytes);
    s.replace(s.size() - 4, 4, trailer);
  };
}

// Fill before the trailer up to 8 bytes, as a projector packed to be signed has it.
Harm Signable() {
  return [](std::string& s) { s.insert(s.size() - 4, (8 - s.size() % 8) % 8, 'T'); };
}

// A certificate table after the payload, after padding to 8 bytes when `pad` (as a
// signing tool adds it, parting the trailer from the table).
Harm Sign(bool pad) {
  return [=](std::string& s) {
    if (pad) s.append((8 - s.size() % 8) % 8, '\0');
    PutPeHeaders(s, 0x10B, uint32_t(s.size()), 1480);
    s += std::string(1480, 'C');
  };
}

// PE headers naming a certificate table from `offset` to the end, over the payload.
Harm ClaimTable(uint32_t offset) {
  return [=](std::string& s) { PutPeHeaders(s, 0x10B, offset, uint32_t(s.size()) - offset); };
}

// Another packer's payload after this one, which the trailer now leads to: the same
// entries, another word in its header. The record vouches for the first header.
Harm RepackAfter() {
  return [](std::string& s) {
    std::string header = s.substr(HeaderAt, PayloadHeaderSize);
    PutLE(header, 284, 1, 4);
    const uint32_t at = uint32_t(s.size() - 4);
    s.insert(at, header);
    PutLE(s, s.size() - 4, at, 4);
  };
}

// What the reader keeps of the header: nothing (no payload, or a damaged file), its
// flags but not its table, or all of it (its flags count and the exit pass deletes).
enum class Kept { Nothing, Flags, All };

struct Harmed {
  const char* what;
  bool sealed;
  Harm harm;
  uint32_t result;  // Untouched: no payload
  size_t written;   // the extracted slots whose files are there afterwards, intact
  Kept kept;
};

// A leading entry, then a stored entry of ten copy buffers, a compressed one and a small
// stored one: every kind of data the record covers.
TEST(HarmedProjector, IsReadAsSoundDamagedOrNoneAndLoadsNothingDamaged) {
  const std::vector<EntrySpec> entries = {
      Stored("save", "dat", ""),
      Stored("big", "bin", Sample(10 * PayloadBufferSize + 123, 1)),
      Compressed("text", "txt", Sample(10000, 2)),
      Stored("tail", "dat", "tail"),
  };
  const std::vector<EntrySpec> extracted(entries.begin() + 1, entries.end());
  const std::string plain = MakeImage(entries, 3, PayloadOptionFlag, PayloadNoSplashFlag);
  const std::string sealed = SealImage(plain);
  const uint32_t Done = ExtractDone, Damaged = ExtractDamaged, None = Untouched;
  const Harmed rows[] = {
      {"stored byte changed", true, ChangeEntryByte(1), Damaged, 0, Kept::All},
      {"compressed byte changed", true, ChangeEntryByte(2), Damaged, 1, Kept::All},
      {"last entry's last byte changed", true, ChangeEntryByte(3), Damaged, 2, Kept::All},
      {"cut by one byte behind the trailer", true, CutBehindTheTrailer(1), Damaged, 0,
       Kept::Nothing},
      {"trailer changed", true, ChangeByte(-2), Damaged, 0, Kept::Nothing},
      {"header's last byte changed", true, ChangeByte(HeaderAt + 291), Damaged, 0, Kept::Nothing},
      {"record's length changed", true, ChangeByte(ImageEnd + 9), Damaged, 0, Kept::Nothing},
      {"longer: signed", true, Sign(false), Done, 3, Kept::All},
      {"longer: padded, then signed", true, Sign(true), Done, 3, Kept::All},
      {"repacked after it by another packer", true, RepackAfter(), Done, 3, Kept::All},
      // Without its magic the record is not there: the old rules, no checks.
      {"record's magic and the header changed", true,
       Both(ChangeByte(ImageEnd), ChangeByte(HeaderAt + 285)), Done, 3, Kept::All},
      {"header cut by the end", false, PutDword(-4, uint32_t(plain.size()) - 200), None, 0,
       Kept::Nothing},
      {"magic differs", false, ChangeByte(HeaderAt), None, 0, Kept::Nothing},
      {"movie offset far past the end", false, PutDword(HeaderAt + 4, 0x7FFFFF00), Done, 3,
       Kept::All},
      // The magic says a payload was meant: a bad table is a damaged one.
      {"six entries", false, PutDword(HeaderAt + 16, 6), Damaged, 0, Kept::Flags},
      {"five extracted of four", false, PutDword(HeaderAt + 20, 5), Damaged, 0, Kept::Flags},
      {"a negative count extracted", false, PutDword(HeaderAt + 20, 0xFFFFFFFF), Damaged, 0,
       Kept::Flags},
      {"bad name in a leading slot", false, Rename(0, "..\\x"), Damaged, 0, Kept::Flags},
      {"bad name in the last slot", false, Rename(3, "..\\x"), Damaged, 0, Kept::Flags},
      {"nothing to extract, bad leading name", false,
       Both(PutDword(HeaderAt + 20, 0), Rename(0, "..\\x")), Done, 0, Kept::Flags},
      // The trailer of a signed file ends where its certificate table begins, or where the
      // zeros a signing tool padded it with begin; a table whose trailer leads to no header
      // (hostile) is read the old way.
      {"signed", false, Both(Signable(), Sign(false)), Done, 3, Kept::All},
      {"padded, then signed", false, Sign(true), Done, 3, Kept::All},
      {"a table claimed over the payload", false, ClaimTable(HeaderAt), Done, 3, Kept::All},
  };
  for (const Harmed& row : rows) {
    SCOPED_TRACE(row.what);
    std::string image = row.sealed ? sealed : plain;
    row.harm(image);
    FakePlatform fake;
    const Outcome run = Unpack(fake, image);
    EXPECT_EQ(run.recognised != 0, row.result != Untouched);
    EXPECT_EQ(run.result, row.result);
    EXPECT_EQ(run.descriptor.flags == PayloadOptionFlag, row.kept != Kept::Nothing);
    EXPECT_EQ(run.descriptor.flags2 == PayloadNoSplashFlag, row.kept != Kept::Nothing);
    EXPECT_EQ(fake.workFolderCalls, row.kept == Kept::All ? 1 : 0);
    EXPECT_TRUE(Holds(fake, extracted, row.written));
    EXPECT_TRUE(fake.Clean());
    fake.files["D:\\GAMES\\save.dat"] = "saved";
    const PayloadPlatform calls = fake.Calls();
    DeleteLeadingEntryFiles(&calls, Exe);
    EXPECT_EQ(fake.files.count("D:\\GAMES\\save.dat") == 0, row.kept == Kept::All) << "exit pass";
  }
}

}  // namespace
