// The appended payload format: slot selection, name rules and the stored/compressed rule.
#include "payload/payload_format.h"
#include "base/paths.h"
#include "base/text.h"

namespace {

// Length of a text field, or -1 when it has no terminator inside its width.
int32_t FieldLength(const char* field, uint32_t width) {
  for (uint32_t i = 0; i < width; ++i) {
    if (field[i] == 0) return static_cast<int32_t>(i);
  }
  return -1;
}

// Characters that no file name may hold: separators, the drive colon, wildcards, the
// other characters Windows refuses, and control characters.
int IsForbiddenCharacter(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  if (u < 0x20) return 1;
  const char forbidden[] = "\\/:*?\"<>|";
  for (const char* f = forbidden; *f != 0; ++f) {
    if (c == *f) return 1;
  }
  return 0;
}

// A field of allowed characters; extensions may not hold a dot either. The field is
// walked a character at a time: the second byte of a double-byte character may be
// 0x5C or 0x7C and is then no separator. A first byte without its second is refused,
// since joined to the next part of the path it would swallow a character of that.
int IsCleanField(const char* field, int32_t length, int allowDot, LeadByteRule isLeadByte) {
  for (int32_t i = 0; i < length; ++i) {
    if (isLeadByte(static_cast<uint8_t>(field[i]))) {
      if (++i == length) return 0;
      continue;
    }
    if (IsForbiddenCharacter(field[i])) return 0;
    if (!allowDot && field[i] == '.') return 0;
  }
  return 1;
}

int IsDotOrSpace(char c) { return c == '.' || c == ' '; }

char UpperCase(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

// Windows strips trailing dots and spaces, so a file name made only of them would
// name the folder itself or its parent.
int NamesAFile(const char* name, int32_t nameLength, const char* extension,
               int32_t extensionLength) {
  for (int32_t i = 0; i < nameLength; ++i) {
    if (!IsDotOrSpace(name[i])) return 1;
  }
  for (int32_t i = 0; i < extensionLength; ++i) {
    if (!IsDotOrSpace(extension[i])) return 1;
  }
  return 0;
}

// Device names (CON, NUL, COM1, ...) open the device whatever the folder or the
// extension, so a file of that name would be written or deleted outside the folder.
int IsDeviceName(const char* name, int32_t length) {
  // The device part ends at the first dot; trailing spaces do not count.
  int32_t end = 0;
  while (end < length && name[end] != '.') ++end;
  while (end > 0 && name[end - 1] == ' ') --end;
  char base[8];
  if (end < 3 || end > 7) return 0;
  for (int32_t i = 0; i < end; ++i) base[i] = UpperCase(name[i]);
  base[end] = 0;
  const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
  for (const char* device : devices) {
    if (TextEqual(base, device)) return 1;
  }
  if (end == 4 && base[3] >= '1' && base[3] <= '9') {
    base[3] = 0;
    if (TextEqual(base, "COM") || TextEqual(base, "LPT")) return 1;
  }
  return 0;
}

}  // namespace

PayloadSlots SelectExtractedSlots(const PayloadHeader* header) {
  PayloadSlots slots = {header->entryCount - header->extractCount, header->extractCount};
  return slots;
}

PayloadSlots SelectLeadingSlots(const PayloadHeader* header) {
  int32_t leading = header->entryCount - header->extractCount;
  PayloadSlots slots = {0, leading > 0 ? leading : 0};
  return slots;
}

int HasValidSlotCounts(const PayloadHeader* header) {
  return header->entryCount >= 0 && header->entryCount <= PayloadSlotCount &&
         header->extractCount >= 0 && header->extractCount <= header->entryCount;
}

// Separators and colons (drive or stream) are refused wherever they stand; a file name
// that is "." or ".." (or only dots and spaces, which Windows strips) is refused as a
// whole. Dots elsewhere are plain characters: "movie..v2" stays in its folder.
int HasValidEntryNames(const PayloadEntry* entry, LeadByteRule isLeadByte) {
  int32_t nameLength = FieldLength(entry->name, PayloadNameWidth);
  int32_t extensionLength = FieldLength(entry->extension, PayloadExtensionWidth);
  int32_t extractLength = FieldLength(entry->extractExtension, PayloadExtractExtensionWidth);
  if (nameLength < 0 || extensionLength < 0 || extractLength < 0) return 0;
  if (!IsCleanField(entry->name, nameLength, 1, isLeadByte)) return 0;
  if (!IsCleanField(entry->extension, extensionLength, 0, isLeadByte)) return 0;
  if (!IsCleanField(entry->extractExtension, extractLength, 0, isLeadByte)) return 0;
  if (!NamesAFile(entry->name, nameLength, entry->extension, extensionLength)) return 0;
  if (!NamesAFile(entry->name, nameLength, entry->extractExtension, extractLength)) return 0;
  return !IsDeviceName(entry->name, nameLength);
}

int HasValidEntryTable(const PayloadHeader* header, LeadByteRule isLeadByte) {
  if (!HasValidSlotCounts(header)) return 0;
  for (int32_t i = 0; i < header->entryCount; ++i) {
    if (!HasValidEntryNames(&header->entries[i], isLeadByte)) return 0;
  }
  return 1;
}

int IsStoredEntry(const PayloadEntry* entry) {
  // Bounded by the shorter field, so an unterminated field never reads past its slot.
  for (uint32_t i = 0; i < PayloadExtensionWidth; ++i) {
    if (entry->extension[i] != entry->extractExtension[i]) return 0;
    if (entry->extension[i] == 0) return 1;
  }
  // Four equal characters and no terminator: not a valid entry; call it compressed.
  return 0;
}

int EntryFitsInFile(const PayloadEntry* entry, int32_t fileSize) {
  if (entry->offset < 0 || entry->size < 0 || fileSize < 0) return 0;
  return entry->offset <= fileSize && entry->size <= fileSize - entry->offset;
}

int AppendEntryFileName(char* path, const PayloadEntry* entry, int extracted) {
  return AppendFileName(path, entry->name, extracted ? entry->extractExtension : entry->extension);
}
