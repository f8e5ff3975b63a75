// The payload reader's Win32 glue: the three reads of the launcher's own executable.
#pragma once
#include <stdint.h>
#include <windows.h>
#include "payload/payload_format.h"
#include "payload/payload_reader.h"

// Creates the work folder; nonzero on success. The extraction calls it just before it
// writes the first file, so a payload with nothing to extract (or a damaged table)
// leaves no folder behind.
typedef int (*WorkFolderStep)();

// Reads the payload header of `module`'s file into `descriptor`, nothing else.
// Returns nonzero when a payload was recognised.
int DescribeOwnPayload(HMODULE module, PayloadDescriptor* descriptor);

// Reads the payload header of `instance`'s file again and extracts the listed files,
// calling `createWorkFolder` when there are any; writes the payload option bit.
// Returns ExtractDone when the launch may go on (also without a payload), otherwise how a
// recognised payload's extraction failed (ExtractDamaged: the file is damaged).
ExtractResult UnpackPayload(HINSTANCE instance, WorkFolderStep createWorkFolder,
                            uint32_t* payloadOption);

// Reads the payload header of `instance`'s file afresh and deletes the files named
// after its leading entries from the executable's folder.
void DeleteLeadingEntryFilesBesideExecutable(HINSTANCE instance);
