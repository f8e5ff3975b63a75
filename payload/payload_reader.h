// The payload reader: recognising the payload in an executable file, extracting its
// entries into the work folder, and the exit pass that deletes the leading entries'
// files. Every file, memory and folder call, the decoder's writes included, goes
// through a PayloadPlatform: Win32 in the launcher, an in-memory fake in the tests.
#pragma once
#include <stdint.h>
#include "payload/payload_format.h"

// A file handle of the 16-bit-era file calls; -1 is their error value.
typedef int32_t PayloadFile;
const PayloadFile PayloadFileError = -1;

const uint32_t PayloadBufferSize = 32768;
// The copy buffer of a stored entry whose bytes are summed: two halves, one copied while
// the other is summed, each large enough that handing it over costs next to nothing.
const uint32_t SummedCopyBufferSize = 256 * 1024;
const uint32_t FixedMemory = 0;              // GlobalAlloc flags of the extraction blocks
const uint32_t MoveableZeroedMemory = 0x42;  // GlobalAlloc flags of the copy buffer

struct PayloadPlatform {
  void* context;  // handed back as the first argument of every call
  PayloadFile (*openFile)(void* context, const char* path);    // for reading
  PayloadFile (*createFile)(void* context, const char* path);  // normal file, truncated
  // Origin 0 from the start, 2 from the end; the new position, or -1.
  int32_t (*seekFile)(void* context, PayloadFile file, int32_t offset, int32_t origin);
  // Bytes read or written, or -1.
  int32_t (*readFile)(void* context, PayloadFile file, void* buffer, int32_t count);
  int32_t (*writeFile)(void* context, PayloadFile file, const void* buffer, int32_t count);
  void (*closeFile)(void* context, PayloadFile file);
  void (*deleteFile)(void* context, const char* path);
  int (*pathExists)(void* context, const char* path);  // a file or folder of that name
  // Global heap: a block handle or null; fixed blocks are their own address.
  void* (*allocateMemory)(void* context, uint32_t flags, uint32_t size);
  void* (*lockMemory)(void* context, void* block);
  void (*unlockMemory)(void* context, void* block);
  void (*freeMemory)(void* context, void* block);
  uint32_t (*setErrorMode)(void* context, uint32_t mode);  // returns the previous mode
  // The work folder path (ending in a backslash) into `out`, creating it if needed.
  int (*getWorkFolder)(void* context, char* out);
  // The CRC-32 of a stored entry's bytes as they are copied, summed on another processor
  // where the system has one to spare. beginSum starts a sum; addToSum hands over the
  // next block and returns once the block before it is summed, so the caller may change
  // any block but the last one handed over; endSum waits for that one and gives the sum.
  void (*beginSum)(void* context);
  void (*addToSum)(void* context, const void* block, uint32_t count);
  uint32_t (*endSum)(void* context);
  // The system's double-byte rule for entry names and the executable's path, a property
  // of the code page: it takes no context.
  LeadByteRule isLeadByte;
};

// How an extraction ended. Only a write the disk refused may go another way on a second
// try, once abandoned work folders have made room; a damaged file, or any other failure,
// would only repeat.
enum ExtractResult : uint32_t {
  ExtractFailed = 0,      // a name too long for its path, no memory, a read that failed
  ExtractDone = 1,        // also when there was nothing to extract
  ExtractNotWritten = 2,  // the work folder, or a file in it, could not be made or written
  ExtractDamaged = 3,     // the file is damaged: nothing of it may be used
};

// Recognises the payload of `exePath` and, when `extract` is set, extracts it. Returns
// nonzero when a payload was recognised; only then are `extractResult` (an ExtractResult;
// ExtractDone when not extracting) and `descriptor` (either may be null) written. A
// damaged payload counts as recognised: its maker meant one. It is not extracted, its
// result is ExtractDamaged whether extraction was asked for or not, and its descriptor is
// all zero.
int OpenPayload(const PayloadPlatform* platform, const char* exePath, int extract,
                uint32_t* extractResult, PayloadDescriptor* descriptor);

// Copies `count` bytes (a count of 0 or less: up to the end of the source) from the
// current position of `source` to that of `target`, and when `crc` is not null, leaves
// there the CRC-32 of the bytes copied (summed through the platform's sum calls, while
// the copy goes on). Returns 0 on success, 1 on failure.
int CopyStoredEntry(const PayloadPlatform* platform, PayloadFile source, PayloadFile target,
                    int32_t count, uint32_t* crc);

// Deletes, from the folder of `exePath`, the files named after the payload's leading
// entries. Silent: a missing payload or file is passed over.
void DeleteLeadingEntryFiles(const PayloadPlatform* platform, const char* exePath);
