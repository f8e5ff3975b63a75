// What the PE headers at the start of the launcher's file say about the payload: where
// it ends in a code-signed file (signing appends a certificate table after it, named by
// the security directory), and where the image ends (the integrity record follows it).
#pragma once
#include <stdint.h>

// How much of the start of the file these rules look at: the DOS header, the PE headers,
// the data directories and the section table of any ordinary linker's output fit in it
// (the launcher's own headers take 0x400 bytes).
const int32_t PeHeadersSize = 1024;

// The offset at which the payload's trailer ends in a file of `fileSize` bytes whose
// first `length` bytes are `start`: the start of the certificate table when the
// security directory names one that is non-empty, 8-byte aligned, lies after the PE
// headers and ends exactly at the end of the file; otherwise `fileSize` (an unsigned
// file, or a directory that cannot be trusted, is read the old way).
int32_t FindPayloadEnd(const uint8_t* start, int32_t length, int32_t fileSize);

// Where the image ends in the file: the end of the section whose raw data ends last, or
// of the headers when no section has raw data. -1 when `start` (the first `length`
// bytes) holds no PE headers with their whole section table.
int32_t FindImageEnd(const uint8_t* start, int32_t length);
