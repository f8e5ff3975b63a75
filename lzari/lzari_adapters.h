// Connects the LZARI decoder to a compressed entry held in memory and an open file.
// Portable: the file is written through the caller's write call.
#pragma once
#include <stdint.h>
#include "lzari/lzari_decoder.h"

// An open file and the call that writes to it: the payload reader's platform table
// hands its own, so decoding goes to the system the same way as every other write.
struct FileWriter {
  void* context;  // handed back as the write call's first argument
  // Bytes written, or -1.
  int32_t (*write)(void* context, int32_t file, const void* buffer, int32_t count);
  int32_t file;  // a handle of the 16-bit-era file calls; 0 is none
};

// Expands the LZARI stream `input` (`inputLength` bytes) into `target` through
// `outputBuffer` of `outputSize` bytes, written a full buffer at a time and the rest
// at the end. Returns LzariDecoded when every decoded byte reached the file,
// LzariSinkRefused on a missing argument or a short write (which also stops the
// decoding), LzariStreamDamaged when the decoder refused the stream.
int DecodeEntryToFile(LzariDecoder* decoder, uint8_t* outputBuffer, uint32_t outputSize,
                      const uint8_t* input, int32_t inputLength, FileWriter target);
