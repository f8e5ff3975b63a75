// The PE header rules of the payload: where a signed file's payload ends, and where the
// image ends.
#include "payload/payload_signature.h"

namespace {

const uint16_t Pe32Magic = 0x10B;
const uint16_t Pe32PlusMagic = 0x20B;
const uint32_t SecurityDirectory = 4;  // index of the certificate table's entry
const uint32_t CoffHeaderEnd = 24;     // "PE\0\0" and the 20-byte file header
const uint32_t SectionHeaderSize = 40;
const uint32_t SizeOfHeadersField = 60;  // in the optional header, of either word size
const int32_t Nowhere = -1;

uint32_t Word(const uint8_t* at) { return static_cast<uint32_t>(at[0] | (at[1] << 8)); }
uint32_t Dword(const uint8_t* at) { return Word(at) | (Word(at + 2) << 16); }

// The PE headers as far as the rules need them; every offset is from the file's start
// and lies inside the bytes read.
struct PeHeaders {
  uint32_t available;  // bytes read from the start
  uint32_t optional;   // the optional header
  uint32_t optionalSize;
  uint32_t directories;  // the data directories, from `optional`
  uint32_t sections;     // the section table
  uint32_t sectionCount;
};

int LocatePeHeaders(const uint8_t* start, int32_t length, PeHeaders* h) {
  if (length < 0x40 || start[0] != 'M' || start[1] != 'Z') return 0;
  h->available = static_cast<uint32_t>(length);
  uint32_t pe = Dword(start + 0x3C);
  if (pe > h->available || h->available - pe < CoffHeaderEnd + 2) return 0;
  if (start[pe] != 'P' || start[pe + 1] != 'E' || start[pe + 2] != 0 || start[pe + 3] != 0) {
    return 0;
  }
  h->sectionCount = Word(start + pe + 6);
  h->optionalSize = Word(start + pe + 20);
  h->optional = pe + CoffHeaderEnd;
  h->sections = h->optional + h->optionalSize;
  // The data directories follow the optional header's fixed part, whose size depends
  // on the word size of the image.
  uint32_t magic = Word(start + h->optional);
  if (magic == Pe32Magic) {
    h->directories = 96;
  } else if (magic == Pe32PlusMagic) {
    h->directories = 112;
  } else {
    return 0;
  }
  return 1;
}

}  // namespace

int32_t FindPayloadEnd(const uint8_t* start, int32_t length, int32_t fileSize) {
  PeHeaders h;
  if (fileSize < 0 || !LocatePeHeaders(start, length, &h)) return fileSize;
  uint32_t entry = h.directories + 8 * SecurityDirectory;
  if (h.optionalSize < entry + 8 || h.available - h.optional < entry + 8) return fileSize;
  if (Dword(start + h.optional + h.directories - 4) <= SecurityDirectory) return fileSize;
  uint32_t tableOffset = Dword(start + h.optional + entry);
  uint32_t tableSize = Dword(start + h.optional + entry + 4);
  uint32_t size = static_cast<uint32_t>(fileSize);
  // Both numbers are untrusted: compared without sums, so no value wraps around.
  if (tableSize == 0 || tableOffset > size || tableSize != size - tableOffset) return fileSize;
  // Signing places the table on an 8-byte boundary after everything else; one that
  // starts inside the headers or the section table is not a certificate table.
  uint32_t headersEnd = h.sections + h.sectionCount * SectionHeaderSize;
  if (tableOffset % 8 != 0 || tableOffset < headersEnd) return fileSize;
  return static_cast<int32_t>(tableOffset);
}

int32_t FindImageEnd(const uint8_t* start, int32_t length) {
  PeHeaders h;
  if (!LocatePeHeaders(start, length, &h)) return Nowhere;
  if (h.optionalSize < SizeOfHeadersField + 4) return Nowhere;
  // The whole section table must have been read; its size is bounded by the count's
  // 16 bits, so the sum cannot wrap.
  if (h.sections > h.available || h.available - h.sections < h.sectionCount * SectionHeaderSize) {
    return Nowhere;
  }
  const uint32_t limit = 0x7FFFFFFF;  // file offsets are signed 32-bit positions
  uint32_t end = Dword(start + h.optional + SizeOfHeadersField);
  for (uint32_t i = 0; i < h.sectionCount; ++i) {
    const uint8_t* section = start + h.sections + i * SectionHeaderSize;
    uint32_t rawSize = Dword(section + 16);
    uint32_t rawOffset = Dword(section + 20);
    if (rawSize == 0) continue;
    if (rawOffset > limit || rawSize > limit - rawOffset) return Nowhere;
    if (rawOffset + rawSize > end) end = rawOffset + rawSize;
  }
  return end > static_cast<uint32_t>(limit) ? Nowhere : static_cast<int32_t>(end);
}
