// The appended payload's on-disk records and the pure rules that read them.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "base/code_page.h"

// The records are read straight from the file, so the layout is the file's: every
// number a little-endian dword, no padding.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "records are read as stored");

const uint32_t PayloadMagic = 0x434D3031;  // the bytes "10MC" in file order
const int32_t PayloadSlotCount = 5;
const uint32_t PayloadHeaderSize = 292;

const uint32_t PayloadOptionFlag = 0x100;   // flags: handed to the runtime
const uint32_t PayloadExtraFlag = 0x2000;   // flags: extra1 and extra2 hold values
const uint32_t PayloadBigEndianFlag = 0x2;  // flags2: content words byte-reversed
const uint32_t PayloadNoSplashMask = 0x3C;  // flags2: any of these bits, no splash
const uint32_t PayloadNoSplashFlag = 0x4;   // flags2: the one the packer sets

const uint32_t PayloadNameWidth = 33;
const uint32_t PayloadExtensionWidth = 4;
const uint32_t PayloadExtractExtensionWidth = 7;

// The last four bytes of the file.
struct PayloadTrailer {
  uint32_t headerOffset;
};

struct PayloadEntry {
  int32_t offset;  // absolute file offset of the entry's data
  int32_t size;    // bytes of data in the file (stored content or LZARI stream)
  char name[PayloadNameWidth];
  char extension[PayloadExtensionWidth];
  char extractExtension[PayloadExtractExtensionWidth];
};

struct PayloadHeader {
  uint32_t magic;
  int32_t movieOffset;
  uint32_t flags;
  uint32_t flags2;
  int32_t entryCount;
  int32_t extractCount;
  PayloadEntry entries[PayloadSlotCount];
  uint32_t extra1;
  uint32_t extra2;
};

static_assert(sizeof(PayloadTrailer) == 4, "trailer is one dword");
static_assert(sizeof(PayloadEntry) == 52, "entry slot is 52 bytes");
static_assert(offsetof(PayloadEntry, name) == 8, "entry layout");
static_assert(offsetof(PayloadEntry, extension) == 41, "entry layout");
static_assert(offsetof(PayloadEntry, extractExtension) == 45, "entry layout");
static_assert(sizeof(PayloadHeader) == PayloadHeaderSize, "header is 292 bytes");
static_assert(offsetof(PayloadHeader, entryCount) == 16, "header layout");
static_assert(offsetof(PayloadHeader, entries) == 24, "header layout");
static_assert(offsetof(PayloadHeader, extra1) == 284, "header layout");
static_assert(offsetof(PayloadHeader, extra2) == 288, "header layout");

// The two flag words of a recognised payload header, as the reader reports them.
struct PayloadDescriptor {
  uint32_t flags;
  uint32_t flags2;
};

inline void FillPayloadDescriptor(const PayloadHeader* header, PayloadDescriptor* descriptor) {
  descriptor->flags = header->flags;
  descriptor->flags2 = header->flags2;
}

// A range of slots, from `first`, `count` long.
struct PayloadSlots {
  int32_t first;
  int32_t count;
};

// The slots written into the work folder: the last `extractCount` used slots.
PayloadSlots SelectExtractedSlots(const PayloadHeader* header);
// The slots whose files are deleted beside the executable at exit.
PayloadSlots SelectLeadingSlots(const PayloadHeader* header);

// Whether the counts select slots inside the five-slot table.
int HasValidSlotCounts(const PayloadHeader* header);

// Whether the three text fields of a slot end inside their fields and name files that
// stay in the folder they are joined to.
int HasValidEntryNames(const PayloadEntry* entry, LeadByteRule isLeadByte);

// Whether the counts and every used slot's names are valid. A header that fails this
// is recognised (its flags still count) but nothing is extracted from it or deleted
// for it.
int HasValidEntryTable(const PayloadHeader* header, LeadByteRule isLeadByte);

// A compressed entry is one whose two extensions differ, compared exactly.
int IsStoredEntry(const PayloadEntry* entry);

// Whether the entry's data lies wholly inside a file of `fileSize` bytes.
int EntryFitsInFile(const PayloadEntry* entry, int32_t fileSize);

// Appends `name`, ".", and the extension (the extract extension when `extracted`) to
// the folder path already in `path` (PathCapacity bytes). The entry's names must be
// valid. Returns 0, leaving `path` empty, when the result would not fit.
int AppendEntryFileName(char* path, const PayloadEntry* entry, int extracted);

// The payload option handed to the runtime: 1 when `flags` has bit 0x100.
inline uint32_t PayloadOptionOf(uint32_t flags) { return (flags >> 8) & 1; }
