// Reads the payload appended to the launcher's own executable and extracts its files.
#pragma once
#include <stdint.h>
#include <windows.h>
#include "payload/payload_format.h"

// Extracts the payload's files into the work folder and writes the payload option
// bit. Returns 1 when the launch may go on (also without a payload), 0 when a
// recognised payload's extraction failed.
int UnpackPayload(HINSTANCE instance, uint32_t* payloadOption);

// Writes the executable's path into `pathBuffer` and reads the payload header into
// `descriptor` without extracting. Returns nonzero when a payload was recognised.
int DescribeOwnPayload(HMODULE module, char* pathBuffer, uint32_t pathSize,
                       PayloadDescriptor* descriptor);

// The exit pass: deletes the leading entries' files beside the executable, then
// releases the work folder. Returns the result of ReleaseWorkFolder.
int RemovePayloadFiles(HINSTANCE instance);
