// What the reader makes of a projector as it finds it: the CRC-32, the PE headers that say
// where the image and a signed file's payload end, the integrity record's own check, and
// projectors cut, changed, signed or repacked, with the record and without.
#include <gtest/gtest.h>

#include <functional>

#include "payload/payload_signature.h"
#include "tests/unit/payload_fake_platform.h"

namespace {

using namespace payload_fake;

// The check value, then every length around the lanes' stride (20 bytes) and a few long
// ones, whole and carried on from a piece, against the bytes summed one at a time.
TEST(Crc32, MatchesThePolynomialWholeOrCarriedOn) {
  PrepareCrc32();
  EXPECT_EQ(UpdateCrc32(0, Bytes("123456789"), 9), 0xCBF43926u);
  const std::string data = Sample(70000, 3);
  std::vector<uint32_t> byByte = {0};  // of the first n bytes
  for (size_t n = 0; n < data.size(); ++n) {
    byByte.push_back(UpdateCrc32(byByte[n], Bytes(data) + n, 1));
  }
  std::vector<uint32_t> lengths = {32768, 32768 + 7, 70000};
  for (uint32_t n = 0; n <= 61; ++n) lengths.push_back(n);
  for (uint32_t n : lengths) {
    for (uint32_t first : {0u, n / 3}) {
      const uint32_t head = UpdateCrc32(0, Bytes(data), first);
      EXPECT_EQ(UpdateCrc32(head, Bytes(data) + first, n - first), byByte[n]) << n << "/" << first;
    }
  }
}

// What happens to a file's bytes.
using Harm = std::function<void(std::string&)>;

std::string Le(uint32_t value, int bytes = 4) {
  return std::string(reinterpret_cast<char*>(&value), size_t(bytes));
}

// `bytes` written at `at`, or `-at` bytes from the end.
Harm Overwrite(int64_t at, const std::string& bytes) {
  return [=](std::string& s) { s.replace(at < 0 ? s.size() + at : at, bytes.size(), bytes); };
}

// The certificate table that the security directory names.
Harm Table(uint32_t offset, uint32_t size) {
  return Overwrite(Directories + 32, Le(offset) + Le(size));
}

// Headers of a file of 10000 bytes: a certificate table at 9600 and two sections, the
// first's raw data ending at 0x1000, the second's empty unless a row says otherwise. (An
// optional header cut short moves the section table into zeros: the headers end the image.)
TEST(PeHeaders, SayWhereTheImageAndTheCertificateTableBegin) {
  struct Case {
    const char* what;
    Harm change;
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
      {"four directories", Overwrite(Directories - 4, Le(4)), 10000},
      {"a later section ending first", Overwrite(Sections + 56, Le(0x100) + Le(0x400))},
      {"a later section ending last", Overwrite(Sections + 56, Le(0x200) + Le(0x2000)), 9600,
       0x2200},
      {"no raw data: the headers", Overwrite(Sections + 16, Le(0) + Le(0x5000)), 9600, Headers},
      {"raw data past 4 GiB", Overwrite(Sections + 20, Le(0xFFFFFF00)), 9600, -1},
      {"optional header without the security directory", Overwrite(PeAt + 20, Le(128, 2)), 10000,
       Headers},
      {"optional header of 60 bytes", Overwrite(PeAt + 20, Le(60, 2)), 10000, -1},
      {"unknown optional header", Overwrite(Optional, Le(0x107, 2)), 10000, -1},
      {"no MZ", Overwrite(0, "ZM"), 10000, -1},
      {"no PE", Overwrite(PeAt, "EP"), 10000, -1},
      {"section table cut by the read", {}, 9600, -1, int32_t(Sections) + 79},
      {"start read short", {}, 10000, -1, 200},
      {"start unreadable", {}, 10000, -1, -1},
  };
  for (const Case& c : cases) {
    std::string start(PeHeadersSize, '\0');
    PutImageEnd(start, 0x1000);
    PutLE(start, PeAt + 6, 2, 2);
    Table(9600, 400)(start);
    if (c.change) c.change(start);
    EXPECT_EQ(FindCertificateTable(Bytes(start), c.probe, 10000), c.table) << c.what;
    EXPECT_EQ(FindImageEnd(Bytes(start), c.probe), c.imageEnd) << c.what;
  }
  std::string plus(PeHeadersSize, '\0');
  PutPeHeaders(plus, 0x20B, 9600, 400);
  EXPECT_EQ(FindCertificateTable(Bytes(plus), PeHeadersSize, 10000), 9600) << "PE32+";
}

// A one-entry payload whose header lies at `headerAt`, after an image ending at ImageEnd.
std::string Payload(uint32_t headerAt, size_t entrySize = 10) {
  std::string image =
      MakeImage({Stored("cine", "dll", std::string(entrySize, 'V'))}, 1, 0, 0, headerAt);
  PutImageEnd(image, ImageEnd);
  return image;
}

int ReadImageAt(void* context, int32_t offset, void* buffer, int32_t count) {
  const std::string& image = *static_cast<const std::string*>(context);
  if (offset < 0 || count < 0 || size_t(offset) + size_t(count) > image.size()) return 0;
  memcpy(buffer, image.data() + offset, size_t(count));
  return 1;
}

const int32_t AtFileEnd = -1;

// The trailer of a signed file ends before the table, or before up to 7 zero bytes of
// padding when the header there is recognised; otherwise at the file's end.
TEST(PayloadSignature, TheTrailerEndsBeforeTheTableOrTheZerosBeforeIt) {
  struct Row {
    const char* what;
    std::string image;
    int32_t padding;  // the zero bytes between the trailer and the table, or AtFileEnd
  };
  std::vector<Row> rows;
  for (int32_t padding = 0; padding <= 7; ++padding) {
    rows.push_back({"padding", Signed(Payload(HeaderAt), size_t(padding)), padding});
  }
  std::string nonzero = Signed(Payload(HeaderAt), 3);
  nonzero[nonzero.size() - 1480 - 1] = 1;
  rows.push_back({"a byte of the padding not zero", nonzero, AtFileEnd});
  rows.push_back({"eight zero bytes", Signed(Payload(HeaderAt), 8), AtFileEnd});
  std::string unsound = Payload(HeaderAt);
  PutLE(unsound, HeaderAt + 16, 6, 4);
  rows.push_back({"six entries", Signed(unsound, 3), AtFileEnd});
  // A position nearer the table reads the offset 0x16000 shifted down, 0x160: a header
  // copy there lies within the image.
  std::string near = Payload(0x16000);
  near.replace(0x160, PayloadHeaderSize, near.substr(0x16000, PayloadHeaderSize));
  rows.push_back({"a header copy within the image", Signed(near, 3), 3});
  // One further away reads 0x200 shifted up, with the movie's last byte: a sound header
  // copy there too makes two, and the file reads two ways.
  std::string two = Payload(HeaderAt, 0x21000);
  const size_t far = 0x20000 + uint8_t(two[two.size() - 5]);
  two.replace(far, PayloadHeaderSize, two.substr(HeaderAt, PayloadHeaderSize));
  rows.push_back({"two recognised", Signed(two, 3), AtFileEnd});
  for (const Row& row : rows) {
    const int32_t size = int32_t(row.image.size()), table = size - 1480;
    const FileBytes file = {const_cast<std::string*>(&row.image), ReadImageAt};
    EXPECT_EQ(FindTrailerEnd(Bytes(row.image), PeHeadersSize, size, file, SingleByteCodePage),
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

// The last byte of a slot's data.
Harm ChangeEntryByte(int slot) {
  return [=](std::string& s) {
    PayloadHeader h;
    memcpy(&h, &s[HeaderAt], sizeof h);
    s[h.entries[slot].offset + h.entries[slot].size - 1] ^= 0x20;
  };
}

// One byte gone before the trailer, which still reads right: only the length tells.
Harm CutBehindTheTrailer() {
  return [](std::string& s) { s.erase(s.size() - 5, 1); };
}

Harm Append(size_t bytes) {
  return [=](std::string& s) { s.append(bytes, 'A'); };
}

Harm Sign(size_t padding) {
  return [=](std::string& s) { s = Signed(s, padding); };
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
  const size_t First = HeaderAt + 24, Last = First + 3 * 52;  // slots: offset, size, name
  const Harmed rows[] = {
      {"stored byte changed", true, ChangeEntryByte(1), Damaged, 0, Kept::All},
      {"compressed byte changed", true, ChangeEntryByte(2), Damaged, 1, Kept::All},
      {"last entry's last byte changed", true, ChangeEntryByte(3), Damaged, 2, Kept::All},
      {"a byte cut behind the trailer", true, CutBehindTheTrailer(), Damaged, 0, Kept::Nothing},
      {"trailer changed", true, ChangeByte(-2), Damaged, 0, Kept::Nothing},
      {"header's last byte changed", true, ChangeByte(HeaderAt + 291), Damaged, 0, Kept::Nothing},
      {"record's length changed", true, ChangeByte(ImageEnd + 9), Damaged, 0, Kept::Nothing},
      {"longer: bytes appended", true, Append(1480), Done, 3, Kept::All},
      {"longer: padded, then signed", true, Sign(3), Done, 3, Kept::All},
      {"repacked after it by another packer", true, RepackAfter(), Done, 3, Kept::All},
      // Without its magic the record is not there: the old rules, no checks.
      {"record's magic and the header changed", true,
       Both(ChangeByte(ImageEnd), ChangeByte(HeaderAt + 285)), Done, 3, Kept::All},
      {"header cut by the end", false, Overwrite(-4, Le(uint32_t(plain.size()) - 200)), None, 0,
       Kept::Nothing},
      {"magic differs", false, ChangeByte(HeaderAt), None, 0, Kept::Nothing},
      {"a stored size negative", false, Overwrite(Last + 4, Le(0xFFFFFFFF)), Damaged, 2, Kept::All},
      {"movie far past the end", false, Overwrite(HeaderAt + 4, Le(0x7FFFFF00)), Done, 3,
       Kept::All},
      {"padded, then signed", false, Sign(3), Done, 3, Kept::All},
      // The magic says a payload was meant: a bad table is a damaged one.
      {"six entries", false, Overwrite(HeaderAt + 16, Le(6)), Damaged, 0, Kept::Flags},
      {"five extracted of four", false, Overwrite(HeaderAt + 20, Le(5)), Damaged, 0, Kept::Flags},
      {"a negative count extracted", false, Overwrite(HeaderAt + 20, Le(0xFFFFFFFF)), Damaged, 0,
       Kept::Flags},
      {"bad name in a leading slot", false, Overwrite(First + 8, "\\"), Damaged, 0, Kept::Flags},
      {"bad name in the last slot", false, Overwrite(Last + 8, "\\"), Damaged, 0, Kept::Flags},
      {"nothing to extract, bad leading name", false,
       Both(Overwrite(HeaderAt + 20, Le(0)), Overwrite(First + 8, "\\")), Done, 0, Kept::Flags},
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
