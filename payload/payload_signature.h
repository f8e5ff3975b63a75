// Where the payload ends in an executable that may be code-signed: signing appends a
// certificate table after the payload, named by the PE security directory.
#pragma once
#include <stdint.h>

// How much of the start of the file the rule looks at: the DOS header, the PE headers
// and the data directories of any ordinary linker's output fit well inside it.
const int32_t PeProbeSize = 512;

// The offset at which the payload's trailer ends in a file of `fileSize` bytes whose
// first `length` bytes are `start`: the start of the certificate table when the
// security directory names one that is non-empty, 8-byte aligned, lies after the PE
// headers and ends exactly at the end of the file; otherwise `fileSize` (an unsigned
// file, or a directory that cannot be trusted, is read the old way).
int32_t FindPayloadEnd(const uint8_t* start, int32_t length, int32_t fileSize);
