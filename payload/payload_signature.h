// What the PE headers at the start of the launcher's file say about the payload: where
// its trailer ends in a code-signed file (signing appends a certificate table after it,
// named by the security directory, after padding the file to a multiple of 8), and where
// the image ends (the integrity record follows it).
#pragma once
#include <stdint.h>
#include "payload/payload_format.h"

// How much of the start of the file these rules look at: the DOS header, the PE headers,
// the data directories and the section table of any ordinary linker's output fit in it
// (the launcher's own headers take 0x400 bytes).
const int32_t PeHeadersSize = 1024;

// Where the certificate table starts in a file of `fileSize` bytes whose first `length`
// bytes are `start`, when the security directory names one that is non-empty, 8-byte
// aligned, lies after the PE headers and ends exactly at the end of the file; otherwise
// `fileSize` (an unsigned file, or a directory that cannot be trusted).
int32_t FindCertificateTable(const uint8_t* start, int32_t length, int32_t fileSize);

// Where the security directory's entry (the table's offset and size, 8 bytes) lies in the
// file whose first `length` bytes are `start`; -1 when its headers have none.
int32_t FindSecurityEntry(const uint8_t* start, int32_t length);

// The file the rules read beyond its start: `count` bytes at `offset` into `buffer`,
// nonzero when all of them were read.
struct FileBytes {
  void* context;
  int (*readAt)(void* context, int32_t offset, void* buffer, int32_t count);
};

// Reads the trailer that ends at `end` and the 292-byte header it names; the header's
// offset goes to `offset`. Nonzero when the header was read whole (its magic unchecked).
int ReadHeaderBefore(FileBytes file, int32_t end, PayloadHeader* header, int32_t* offset);

// Where the payload's trailer ends, in a file of `fileSize` bytes whose first `length`
// bytes are `start`. In a signed file, where the certificate table begins when the
// trailer there leads to a header with the magic; otherwise, of the positions up to 7
// bytes earlier that only zero bytes part from the table (the padding a signing tool
// adds), the one whose header is recognised: the magic, a sound entry table (by
// `isLeadByte`), after the image and before its trailer. In any other case, an unsigned
// file among them, `fileSize`: the file is read the old way.
int32_t FindTrailerEnd(const uint8_t* start, int32_t length, int32_t fileSize, FileBytes file,
                       LeadByteRule isLeadByte);

// Where the image ends in the file: the end of the section whose raw data ends last, or
// of the headers when no section has raw data. -1 when `start` (the first `length`
// bytes) holds no PE headers with their whole section table.
int32_t FindImageEnd(const uint8_t* start, int32_t length);
