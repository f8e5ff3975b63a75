// The PE header rules of the payload: where a signed file's trailer ends, and where the
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
// Signing tools pad the file to a multiple of 8 before they append the table.
const int32_t LongestPadding = 7;

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

// Whether the header at `offset`, named by the trailer that ends at `end`, is one a
// packer wrote: the magic, counts and names the reader accepts, after the image (when
// its end is known) and, with the movie's start, before the trailer.
int IsRecognisedHeader(const PayloadHeader* header, int32_t offset, int32_t end, int32_t imageEnd,
                       LeadByteRule isLeadByte) {
  int32_t trailer = end - 4;
  if (header->magic != PayloadMagic || !HasValidEntryTable(header, isLeadByte)) return 0;
  if (offset < imageEnd || offset > trailer - static_cast<int32_t>(PayloadHeaderSize)) return 0;
  return header->movieOffset >= 0 && header->movieOffset <= trailer;
}

// Where the security directory's entry lies from the file's start; 0 when the optional
// header, or the bytes read, hold no such entry.
uint32_t SecurityEntry(const uint8_t* start, const PeHeaders& h) {
  uint32_t entry = h.directories + 8 * SecurityDirectory;
  if (h.optionalSize < entry + 8 || h.available - h.optional < entry + 8) return 0;
  if (Dword(start + h.optional + h.directories - 4) <= SecurityDirectory) return 0;
  return h.optional + entry;
}

}  // namespace

int32_t FindSecurityEntry(const uint8_t* start, int32_t length) {
  PeHeaders h;
  uint32_t entry = LocatePeHeaders(start, length, &h) ? SecurityEntry(start, h) : 0;
  return entry == 0 ? Nowhere : static_cast<int32_t>(entry);
}

int32_t FindCertificateTable(const uint8_t* start, int32_t length, int32_t fileSize) {
  PeHeaders h;
  if (fileSize < 0 || !LocatePeHeaders(start, length, &h)) return fileSize;
  uint32_t entry = SecurityEntry(start, h);
  if (entry == 0) return fileSize;
  uint32_t tableOffset = Dword(start + entry);
  uint32_t tableSize = Dword(start + entry + 4);
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

int ReadHeaderBefore(FileBytes file, int32_t end, PayloadHeader* header, int32_t* offset) {
  PayloadTrailer trailer;
  if (end < 4 || !file.readAt(file.context, end - 4, &trailer, sizeof trailer)) return 0;
  // Offsets are signed 32-bit file positions; one at 2 GiB or more cannot be reached.
  *offset = static_cast<int32_t>(trailer.headerOffset);
  return *offset >= 0 && file.readAt(file.context, *offset, header, PayloadHeaderSize);
}

int32_t FindTrailerEnd(const uint8_t* start, int32_t length, int32_t fileSize, FileBytes file,
                       LeadByteRule isLeadByte) {
  int32_t table = FindCertificateTable(start, length, fileSize);
  if (table == fileSize) return fileSize;
  PayloadHeader header;
  int32_t offset = 0;
  if (ReadHeaderBefore(file, table, &header, &offset) && header.magic == PayloadMagic) {
    return table;
  }
  // A projector whose length was no multiple of 8 when it was signed: the tool's zero
  // bytes part the trailer from the table. A position nearer the table than the real
  // trailer's end reads the real offset's high bytes, at most 1/256 of it (within the
  // image, for a payload that starts where the image ends); one further away reads its
  // low bytes 256 times larger or more (past the end of all but huge files). So in a
  // file packed and signed honestly at most one is recognised; a file in which two are
  // reads two ways, and neither is believed.
  int32_t imageEnd = FindImageEnd(start, length);
  int32_t found = fileSize;
  int recognised = 0;
  for (int32_t end = table - 1; end >= table - LongestPadding && end >= 4; --end) {
    uint8_t padding = 1;
    if (!file.readAt(file.context, end, &padding, 1) || padding != 0) break;
    if (ReadHeaderBefore(file, end, &header, &offset) &&
        IsRecognisedHeader(&header, offset, end, imageEnd, isLeadByte)) {
      found = end;
      ++recognised;
    }
  }
  return recognised == 1 ? found : fileSize;
}
