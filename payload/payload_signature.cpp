// The PE security directory rule that finds the payload's end in a signed executable.
#include "payload/payload_signature.h"

namespace {

const uint16_t Pe32Magic = 0x10B;
const uint16_t Pe32PlusMagic = 0x20B;
const uint32_t SecurityDirectory = 4;  // index of the certificate table's entry
const uint32_t CoffHeaderEnd = 24;     // "PE\0\0" and the 20-byte file header
const uint32_t SectionHeaderSize = 40;

uint32_t Word(const uint8_t* at) { return static_cast<uint32_t>(at[0] | (at[1] << 8)); }
uint32_t Dword(const uint8_t* at) { return Word(at) | (Word(at + 2) << 16); }

}  // namespace

int32_t FindPayloadEnd(const uint8_t* start, int32_t length, int32_t fileSize) {
  if (fileSize < 0 || length < 0x40 || start[0] != 'M' || start[1] != 'Z') return fileSize;
  uint32_t available = static_cast<uint32_t>(length);
  uint32_t pe = Dword(start + 0x3C);
  if (pe > available || available - pe < CoffHeaderEnd + 2) return fileSize;
  if (start[pe] != 'P' || start[pe + 1] != 'E' || start[pe + 2] != 0 || start[pe + 3] != 0) {
    return fileSize;
  }
  uint32_t sections = Word(start + pe + 6);
  uint32_t optionalSize = Word(start + pe + 20);
  uint32_t optional = pe + CoffHeaderEnd;
  uint32_t magic = Word(start + optional);
  // The data directories follow the optional header's fixed part, whose size depends
  // on the word size of the image.
  uint32_t directories;
  if (magic == Pe32Magic) {
    directories = 96;
  } else if (magic == Pe32PlusMagic) {
    directories = 112;
  } else {
    return fileSize;
  }
  uint32_t entry = directories + 8 * SecurityDirectory;
  if (optionalSize < entry + 8 || available - optional < entry + 8) return fileSize;
  if (Dword(start + optional + directories - 4) <= SecurityDirectory) return fileSize;
  uint32_t tableOffset = Dword(start + optional + entry);
  uint32_t tableSize = Dword(start + optional + entry + 4);
  uint32_t size = static_cast<uint32_t>(fileSize);
  // Both numbers are untrusted: compared without sums, so no value wraps around.
  if (tableSize == 0 || tableOffset > size || tableSize != size - tableOffset) return fileSize;
  // Signing places the table on an 8-byte boundary after everything else; one that
  // starts inside the headers or the section table is not a certificate table.
  uint32_t headersEnd = optional + optionalSize + sections * SectionHeaderSize;
  if (tableOffset % 8 != 0 || tableOffset < headersEnd) return fileSize;
  return static_cast<int32_t>(tableOffset);
}
