// Payload recognition, extraction into the work folder, and the exit pass's deletions.
#include "payload/payload_reader.h"
#include "base/paths.h"
#include "base/text.h"
#include "lzari/lzari_adapters.h"
#include "payload/payload_signature.h"

namespace {

// Reads the trailer's header offset and the 292-byte header from it. Nonzero when
// both were read whole.
int ReadPayloadHeader(const PayloadPlatform* p, PayloadFile file, PayloadHeader* header);
// Extracts the header's extracted entries into the work folder.
ExtractResult ExtractPayloadFiles(const PayloadPlatform* p, const PayloadHeader* header,
                                  PayloadFile file);
// Writes `count` slots from `first` into `workFolder` (ending in a backslash),
// stopping at the first slot that fails: its result is the extraction's.
ExtractResult ExtractEntries(const PayloadPlatform* p, const PayloadHeader* header,
                             PayloadFile file, int32_t first, int32_t count,
                             const char* workFolder);

// Critical-error dialogs (a missing disk) would stop the launch to ask the user; they
// are off while payload files are written or deleted.
const uint32_t FailCriticalErrors = 1;

// The extraction blocks of one ExtractEntries call, allocated when first needed.
struct ExtractionBlocks {
  LzariDecoder* decoder;
  uint8_t* output;
  uint8_t* input;
  int32_t inputCapacity;
};

ExtractResult WriteStoredEntry(const PayloadPlatform* p, const PayloadEntry* entry,
                               PayloadFile file, const char* target) {
  ExtractResult result = p->pathExists(p->context, target) ? ExtractDone : ExtractNotWritten;
  PayloadFile out = p->createFile(p->context, target);
  // An existing file that cannot be replaced (held open by another run, read-only)
  // counts as extracted; a target that could not be created at all fails the slot.
  if (out == PayloadFileError) return result;
  // Data that reaches past the end of the executable is copied up to the end, and data
  // that starts past it gives an empty file: the copy ends with its source. Only a
  // negative size, which no payload holds, is refused (as a count it would mean "to
  // the end"); a negative offset fails at the positioning.
  if (entry->size < 0) {
    result = ExtractFailed;
  } else if (entry->size == 0) {
    // An empty entry is an empty file; copying "up to the end" would be wrong.
    result = ExtractDone;
  } else if (p->seekFile(p->context, file, entry->offset, 0) != -1) {
    // The source ends the copy as a success wherever it ends: what fails it is the target
    // (or a system without a single byte of memory to spare).
    result = CopyStoredEntry(p, file, out, entry->size) == 0 ? ExtractDone : ExtractNotWritten;
  } else {
    result = ExtractFailed;
  }
  p->closeFile(p->context, out);
  if (result != ExtractDone) p->deleteFile(p->context, target);
  return result;
}

// Makes sure the decoder, the output buffer and an input buffer of at least `size`
// bytes exist. Returns 0 when one of them cannot be had.
int PrepareBlocks(const PayloadPlatform* p, ExtractionBlocks* blocks, int32_t size) {
  if (blocks->decoder == 0) {
    blocks->decoder = static_cast<LzariDecoder*>(
        p->allocateMemory(p->context, FixedMemory, sizeof(LzariDecoder)));
  }
  if (blocks->output == 0) {
    blocks->output =
        static_cast<uint8_t*>(p->allocateMemory(p->context, FixedMemory, PayloadBufferSize));
  }
  if (blocks->input != 0 && blocks->inputCapacity < size) {
    p->freeMemory(p->context, blocks->input);
    blocks->input = 0;
  }
  if (blocks->input == 0) {
    // At least one byte, so an empty stream reaches the decoder (which ends the process
    // on a stream too short for its length) instead of a null buffer.
    uint32_t bytes = size > 0 ? static_cast<uint32_t>(size) : 1;
    blocks->input = static_cast<uint8_t*>(p->allocateMemory(p->context, FixedMemory, bytes));
    blocks->inputCapacity = blocks->input != 0 ? static_cast<int32_t>(bytes) : 0;
  }
  return blocks->decoder != 0 && blocks->output != 0 && blocks->input != 0;
}

ExtractResult WriteCompressedEntry(const PayloadPlatform* p, const PayloadEntry* entry,
                                   PayloadFile file, int32_t fileSize, const char* target,
                                   ExtractionBlocks* blocks) {
  PayloadFile out = p->createFile(p->context, target);
  if (out == PayloadFileError) return ExtractNotWritten;
  // The size check comes first, so a hostile size never reaches the allocator: the
  // input buffer is never larger than the executable itself.
  int read = EntryFitsInFile(entry, fileSize) && PrepareBlocks(p, blocks, entry->size) &&
             p->seekFile(p->context, file, entry->offset, 0) != -1 &&
             p->readFile(p->context, file, blocks->input, entry->size) == entry->size;
  ExtractResult result = ExtractFailed;
  // Once the stream is in memory, only a write the target refused stops the expansion.
  if (read) {
    int decoded = DecodeEntryToFile(blocks->decoder, blocks->output, PayloadBufferSize,
                                    blocks->input, entry->size,
                                    FileWriter{p->context, p->writeFile, out});
    result = decoded ? ExtractDone : ExtractNotWritten;
  }
  p->closeFile(p->context, out);
  if (result != ExtractDone) p->deleteFile(p->context, target);
  return result;
}

// Reads the trailer that ends at `end` and the header it points to.
int ReadHeaderBefore(const PayloadPlatform* p, PayloadFile file, int32_t end,
                     PayloadHeader* header) {
  PayloadTrailer trailer;
  if (end < 4 || p->seekFile(p->context, file, end - 4, 0) == -1) return 0;
  if (p->readFile(p->context, file, &trailer, sizeof trailer) != sizeof trailer) return 0;
  // Offsets are signed 32-bit file positions; one at 2 GiB or more cannot be reached.
  int32_t offset = static_cast<int32_t>(trailer.headerOffset);
  if (offset < 0 || p->seekFile(p->context, file, offset, 0) == -1) return 0;
  return p->readFile(p->context, file, header, PayloadHeaderSize) ==
         static_cast<int32_t>(PayloadHeaderSize);
}

int ReadPayloadHeader(const PayloadPlatform* p, PayloadFile file, PayloadHeader* header) {
  if (header == 0) return 0;
  // A signed executable ends in a certificate table, which the PE headers at the start
  // of the file name; the trailer then ends where the table begins.
  uint8_t start[PeProbeSize];
  int32_t length = -1;
  if (p->seekFile(p->context, file, 0, 0) != -1) {
    length = p->readFile(p->context, file, start, PeProbeSize);
  }
  int32_t fileSize = p->seekFile(p->context, file, 0, 2);
  if (fileSize == -1) return 0;
  int32_t end = FindPayloadEnd(start, length, fileSize);
  // The table must follow the payload: one whose trailer leads to no payload header
  // overlaps the payload or is forged, and the file is read the old way.
  if (end != fileSize && ReadHeaderBefore(p, file, end, header) &&
      header->magic == PayloadMagic) {
    return 1;
  }
  return ReadHeaderBefore(p, file, fileSize, header);
}

ExtractResult ExtractPayloadFiles(const PayloadPlatform* p, const PayloadHeader* header,
                                  PayloadFile file) {
  // Nothing to extract: the table is not looked at, so a bad leading entry (which the
  // exit pass refuses to delete for) does not fail a launch that writes nothing.
  if (header->extractCount == 0) return ExtractDone;
  // The magic says the maker meant a payload; a table that selects slots outside the
  // five, or names files outside their folder, is a damaged payload, so the launch
  // fails with ExtractionFailed rather than run without its files. Checked before the
  // work folder exists, so nothing is written for it.
  if (!HasValidEntryTable(header, p->isLeadByte)) return ExtractFailed;
  char workFolder[PathCapacity];
  if (!p->getWorkFolder(p->context, workFolder)) return ExtractNotWritten;
  PayloadSlots slots = SelectExtractedSlots(header);
  return ExtractEntries(p, header, file, slots.first, slots.count, workFolder);
}

ExtractResult ExtractEntries(const PayloadPlatform* p, const PayloadHeader* header,
                             PayloadFile file, int32_t first, int32_t count,
                             const char* workFolder) {
  // Slots outside the table are refused here too, whoever the caller.
  if (first < 0 || count < 0 || count > PayloadSlotCount - first) return ExtractFailed;
  uint32_t previousMode = p->setErrorMode(p->context, FailCriticalErrors);
  char target[PathCapacity];
  int folderFits = TextCopy(target, workFolder, PathCapacity);
  uint32_t folderEnd = TextLength(target);
  // A compressed entry is read whole, so its data must lie inside the file; an end that
  // cannot be found fails every compressed entry.
  int32_t fileSize = p->seekFile(p->context, file, 0, 2);
  ExtractionBlocks blocks = {0, 0, 0, 0};
  ExtractResult result = folderFits ? ExtractDone : ExtractFailed;
  for (int32_t slot = first; result == ExtractDone && slot < first + count; ++slot) {
    const PayloadEntry* entry = &header->entries[slot];
    target[folderEnd] = 0;
    // A target path longer than 260 bytes fails its slot; nothing is created for it.
    if (!HasValidEntryNames(entry, p->isLeadByte) || !AppendEntryFileName(target, entry, 1)) {
      result = ExtractFailed;
    } else if (IsStoredEntry(entry)) {
      result = WriteStoredEntry(p, entry, file, target);
    } else {
      result = WriteCompressedEntry(p, entry, file, fileSize, target, &blocks);
    }
  }
  if (blocks.input != 0) p->freeMemory(p->context, blocks.input);
  if (blocks.output != 0) p->freeMemory(p->context, blocks.output);
  if (blocks.decoder != 0) p->freeMemory(p->context, blocks.decoder);
  p->setErrorMode(p->context, previousMode);
  return result;
}

}  // namespace

int OpenPayload(const PayloadPlatform* p, const char* exePath, int extract,
                uint32_t* extractResult, PayloadDescriptor* descriptor) {
  PayloadFile file = p->openFile(p->context, exePath);
  if (file == PayloadFileError) return 0;
  PayloadHeader header;
  int recognised = ReadPayloadHeader(p, file, &header) && header.magic == PayloadMagic &&
                   header.movieOffset >= 0 &&
                   p->seekFile(p->context, file, header.movieOffset, 0) != -1;
  if (recognised) {
    ExtractResult result = extract ? ExtractPayloadFiles(p, &header, file) : ExtractDone;
    if (extractResult != 0) *extractResult = result;
    if (descriptor != 0) FillPayloadDescriptor(&header, descriptor);
  }
  p->closeFile(p->context, file);
  return recognised;
}

int CopyStoredEntry(const PayloadPlatform* p, PayloadFile source, PayloadFile target,
                    int32_t count) {
  // Under memory pressure a smaller buffer only makes the copy slower, so halve down
  // to a single byte before giving up.
  int32_t bufferSize = static_cast<int32_t>(PayloadBufferSize);
  void* block = 0;
  while (bufferSize > 0) {
    block = p->allocateMemory(p->context, MoveableZeroedMemory, static_cast<uint32_t>(bufferSize));
    if (block != 0) break;
    bufferSize /= 2;
  }
  if (block == 0) return 1;
  uint8_t* buffer = static_cast<uint8_t*>(p->lockMemory(p->context, block));
  int copied = 0;
  int32_t remaining = count;
  while (buffer != 0) {
    int32_t chunk = bufferSize;
    if (remaining > 0 && remaining < bufferSize) chunk = remaining;
    int32_t read = p->readFile(p->context, source, buffer, chunk);
    if (read == 0) {
      copied = 1;  // the end of the source ends the copy as a success
      break;
    }
    if (read < 0 || read > chunk) break;
    int32_t written = p->writeFile(p->context, target, buffer, read);
    if (written != read) break;
    if (remaining <= 0) continue;  // a count of 0 or less copies to the end
    remaining -= written;
    if (remaining <= 0) {
      copied = 1;
      break;
    }
  }
  if (buffer != 0) p->unlockMemory(p->context, block);
  p->freeMemory(p->context, block);
  return copied ? 0 : 1;
}

void DeleteLeadingEntryFiles(const PayloadPlatform* p, const char* exePath) {
  uint32_t previousMode = p->setErrorMode(p->context, FailCriticalErrors);
  PayloadFile file = p->openFile(p->context, exePath);
  if (file != PayloadFileError) {
    PayloadHeader header;
    char folder[PathCapacity];
    char path[PathCapacity];
    // Only a table whose names all stay inside the folder deletes anything: a damaged
    // header must not choose what is deleted. (The movie offset is not checked here.)
    if (ReadPayloadHeader(p, file, &header) && header.magic == PayloadMagic &&
        HasValidEntryTable(&header, p->isLeadByte) && TextCopy(folder, exePath, PathCapacity)) {
      KeepFolder(folder, p->isLeadByte);
      PayloadSlots slots = SelectLeadingSlots(&header);
      for (int32_t slot = slots.first; slot < slots.first + slots.count; ++slot) {
        // A name that does not fit beside the executable is passed over, like a
        // missing file.
        TextCopy(path, folder, PathCapacity);
        if (AppendEntryFileName(path, &header.entries[slot], 0)) {
          p->deleteFile(p->context, path);
        }
      }
    }
    p->closeFile(p->context, file);
  }
  p->setErrorMode(p->context, previousMode);
}
