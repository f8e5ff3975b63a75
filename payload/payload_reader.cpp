// Payload recognition, extraction into the work folder, and the exit pass's deletions.
#include "payload/payload_reader.h"
#include "base/paths.h"
#include "base/text.h"
#include "lzari/lzari_adapters.h"
#include "payload/crc32.h"
#include "payload/payload_integrity.h"
#include "payload/payload_signature.h"

namespace {

// What ReadPayloadHeader found.
const int NoHeader = 0;
const int HeaderRead = 1;
const int HeaderDamaged = 2;  // the integrity record says the file is damaged

// Reads the trailer's header offset and the 292-byte header from it, and the integrity
// record when there is one it believes (otherwise `record` is all zero). HeaderRead when
// a header was read whole; with a record, it also passed the record's checks.
int ReadPayloadHeader(const PayloadPlatform* p, PayloadFile file, PayloadHeader* header,
                      IntegrityRecord* record);
// Extracts the header's extracted entries into the work folder, checking them against
// the record when it has the magic.
ExtractResult ExtractPayloadFiles(const PayloadPlatform* p, const PayloadHeader* header,
                                  const IntegrityRecord* record, PayloadFile file);
// Writes `count` slots from `first` into `workFolder` (ending in a backslash), stopping
// at the first slot that is not written; that slot's result.
ExtractResult ExtractEntries(const PayloadPlatform* p, const PayloadHeader* header,
                             const IntegrityRecord* record, PayloadFile file, int32_t first,
                             int32_t count, const char* workFolder);

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

// A slot's written file, or what stopped it; `expectedCrc`, when not null, is what its
// bytes must come to.
ExtractResult WriteStoredEntry(const PayloadPlatform* p, const PayloadEntry* entry,
                               PayloadFile file, const char* target, const uint32_t* expectedCrc) {
  ExtractResult result = p->pathExists(p->context, target) ? ExtractDone : ExtractNotWritten;
  PayloadFile out = p->createFile(p->context, target);
  // An existing file that cannot be replaced (held open by another run, read-only)
  // counts as extracted; a target that could not be created at all fails the slot.
  if (out == PayloadFileError) return result;
  // Data that reaches past the end of the executable is copied up to the end, and data
  // that starts past it gives an empty file: the copy ends with its source. Only a
  // negative size, which no payload holds, is refused (as a count it would mean "to
  // the end"); a negative offset fails at the positioning.
  uint32_t crc = 0;
  if (entry->size < 0) {
    result = ExtractDamaged;
  } else if (entry->size == 0) {
    // An empty entry is an empty file; copying "up to the end" would be wrong.
    result = ExtractDone;
  } else if (p->seekFile(p->context, file, entry->offset, 0) != -1) {
    int failed = CopyStoredEntry(p, file, out, entry->size, expectedCrc != 0 ? &crc : 0);
    // The source ends the copy as a success wherever it ends: what fails it is the target
    // (or a system without a single byte of memory to spare).
    result = failed ? ExtractNotWritten : ExtractDone;
  } else {
    result = ExtractFailed;
  }
  // Checked on the bytes the copy read anyway: one that differs, or a copy that ended
  // with the file before its size, is a damaged file.
  if (result == ExtractDone && expectedCrc != 0 && crc != *expectedCrc) result = ExtractDamaged;
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
                                   ExtractionBlocks* blocks, const uint32_t* expectedCrc) {
  PayloadFile out = p->createFile(p->context, target);
  if (out == PayloadFileError) return ExtractNotWritten;
  ExtractResult result = ExtractFailed;
  // The size check comes first, so a hostile size never reaches the allocator: the
  // input buffer is never larger than the executable itself. Data that lies past the
  // end of the file is a damaged (cut) file; an end that could not be found is no sign
  // of damage, only a failed call.
  if (!EntryFitsInFile(entry, fileSize)) {
    result = fileSize < 0 ? ExtractFailed : ExtractDamaged;
  } else if (PrepareBlocks(p, blocks, entry->size) &&
             p->seekFile(p->context, file, entry->offset, 0) != -1 &&
             p->readFile(p->context, file, blocks->input, entry->size) == entry->size) {
    // Checked before decoding, on the bytes read for it anyway.
    if (expectedCrc != 0 &&
        UpdateCrc32(0, blocks->input, static_cast<uint32_t>(entry->size)) != *expectedCrc) {
      result = ExtractDamaged;
    } else {
      int decoded =
          DecodeEntryToFile(blocks->decoder, blocks->output, PayloadBufferSize, blocks->input,
                            entry->size, FileWriter{p->context, p->writeFile, out});
      result = decoded == LzariDecoded         ? ExtractDone
               : decoded == LzariStreamDamaged ? ExtractDamaged
                                               : ExtractNotWritten;
    }
  }
  p->closeFile(p->context, out);
  if (result != ExtractDone) p->deleteFile(p->context, target);
  return result;
}

// The executable as the signature rules read it: through the platform's calls.
struct OpenExecutable {
  const PayloadPlatform* p;
  PayloadFile file;
};

int ReadExecutableAt(void* context, int32_t offset, void* buffer, int32_t count) {
  const OpenExecutable* e = static_cast<const OpenExecutable*>(context);
  return e->p->seekFile(e->p->context, e->file, offset, 0) != -1 &&
         e->p->readFile(e->p->context, e->file, buffer, count) == count;
}

// The header the way launchers without the record find it: the trailer at the file's
// end or, in a signed file, before its certificate table and the padding that signing
// may have added. Nonzero when a header with the magic was read; its offset goes to
// `offset`.
int ReadHeaderFromTrailer(FileBytes executable, const uint8_t* start, int32_t length,
                          int32_t fileSize, LeadByteRule isLeadByte, PayloadHeader* header,
                          int32_t* offset) {
  int32_t end = FindTrailerEnd(start, length, fileSize, executable, isLeadByte);
  return ReadHeaderBefore(executable, end, header, offset) && header->magic == PayloadMagic;
}

// The record right after the image, when the PE headers in `start` say where that is.
int ReadRecordAfterImage(const PayloadPlatform* p, PayloadFile file, const uint8_t* start,
                         int32_t length, int32_t fileSize, IntegrityRecord* record) {
  int32_t at = FindImageEnd(start, length);
  uint8_t bytes[IntegrityRecordSize];
  if (at < 0 || fileSize - at < static_cast<int32_t>(IntegrityRecordSize)) return RecordAbsent;
  if (p->seekFile(p->context, file, at, 0) == -1 ||
      p->readFile(p->context, file, bytes, IntegrityRecordSize) !=
          static_cast<int32_t>(IntegrityRecordSize)) {
    return RecordAbsent;
  }
  PrepareCrc32();
  return ReadIntegrityRecord(bytes, record);
}

int ReadPayloadHeader(const PayloadPlatform* p, PayloadFile file, PayloadHeader* header,
                      IntegrityRecord* record) {
  IntegrityRecord none = {};
  *record = none;
  if (header == 0) return NoHeader;
  // One read of the start serves both rules: the certificate table and the image's end.
  uint8_t start[PeHeadersSize];
  int32_t length = -1;
  if (p->seekFile(p->context, file, 0, 0) != -1) {
    length = p->readFile(p->context, file, start, PeHeadersSize);
  }
  int32_t fileSize = p->seekFile(p->context, file, 0, 2);
  if (fileSize == -1) return NoHeader;
  OpenExecutable open = {p, file};
  FileBytes executable = {&open, ReadExecutableAt};
  int32_t offset = -1;
  int found =
      ReadHeaderFromTrailer(executable, start, length, fileSize, p->isLeadByte, header, &offset);
  IntegrityRecord r;
  int kind = ReadRecordAfterImage(p, file, start, length, fileSize, &r);
  if (kind == RecordAbsent) return found ? HeaderRead : NoHeader;
  if (kind == RecordDamaged) return HeaderDamaged;
  // A record for another header, when the trailer leads to a sound one, was left in the
  // fill by another build: it is not believed. A trailer that leads nowhere is no such
  // proof, since a cut or damaged file has lost its trailer.
  if (found && static_cast<uint32_t>(offset) != r.headerOffset) return HeaderRead;
  if (static_cast<uint32_t>(fileSize) < r.packedLength) return HeaderDamaged;
  if (!found) {
    // Whatever was appended later, the trailer ends where the projector was packed to.
    int32_t packedEnd = static_cast<int32_t>(r.packedLength);
    if (!ReadHeaderBefore(executable, packedEnd, header, &offset) ||
        static_cast<uint32_t>(offset) != r.headerOffset) {
      return HeaderDamaged;
    }
  }
  if (HeaderCrc(header) != r.headerCrc) return HeaderDamaged;
  *record = r;
  return HeaderRead;
}

ExtractResult ExtractPayloadFiles(const PayloadPlatform* p, const PayloadHeader* header,
                                  const IntegrityRecord* record, PayloadFile file) {
  // Nothing to extract: the table is not looked at, so a bad leading entry (which the
  // exit pass refuses to delete for) does not fail a launch that writes nothing.
  if (header->extractCount == 0) return ExtractDone;
  // The magic says the maker meant a payload; a table that selects slots outside the
  // five, or names files outside their folder, is a damaged payload. Checked before the
  // work folder exists, so nothing is written for it.
  if (!HasValidEntryTable(header, p->isLeadByte)) return ExtractDamaged;
  char workFolder[PathCapacity];
  if (!p->getWorkFolder(p->context, workFolder)) return ExtractNotWritten;
  PayloadSlots slots = SelectExtractedSlots(header);
  return ExtractEntries(p, header, record, file, slots.first, slots.count, workFolder);
}

ExtractResult ExtractEntries(const PayloadPlatform* p, const PayloadHeader* header,
                             const IntegrityRecord* record, PayloadFile file, int32_t first,
                             int32_t count, const char* workFolder) {
  // Slots outside the table are refused here too, whoever the caller.
  if (first < 0 || count < 0 || count > PayloadSlotCount - first) return ExtractDamaged;
  uint32_t previousMode = p->setErrorMode(p->context, FailCriticalErrors);
  char target[PathCapacity];
  int folderFits = TextCopy(target, workFolder, PathCapacity);
  uint32_t folderEnd = TextLength(target);
  // A compressed entry is read whole, so its data must lie inside the file; an end that
  // cannot be found fails every compressed entry.
  int32_t fileSize = p->seekFile(p->context, file, 0, 2);
  int checked = record->magic == IntegrityMagic;
  ExtractionBlocks blocks = {0, 0, 0, 0};
  ExtractResult result = folderFits ? ExtractDone : ExtractFailed;
  for (int32_t slot = first; result == ExtractDone && slot < first + count; ++slot) {
    const PayloadEntry* entry = &header->entries[slot];
    const uint32_t* expectedCrc = checked ? &record->entryCrc[slot] : 0;
    target[folderEnd] = 0;
    // A target path longer than 260 bytes fails its slot; nothing is created for it.
    if (!HasValidEntryNames(entry, p->isLeadByte) || !AppendEntryFileName(target, entry, 1)) {
      result = ExtractFailed;
    } else if (IsStoredEntry(entry)) {
      result = WriteStoredEntry(p, entry, file, target, expectedCrc);
    } else {
      result = WriteCompressedEntry(p, entry, file, fileSize, target, &blocks, expectedCrc);
    }
  }
  if (blocks.input != 0) p->freeMemory(p->context, blocks.input);
  if (blocks.output != 0) p->freeMemory(p->context, blocks.output);
  if (blocks.decoder != 0) p->freeMemory(p->context, blocks.decoder);
  p->setErrorMode(p->context, previousMode);
  return result;
}

}  // namespace

int OpenPayload(const PayloadPlatform* p, const char* exePath, int extract, uint32_t* extractResult,
                PayloadDescriptor* descriptor) {
  PayloadFile file = p->openFile(p->context, exePath);
  if (file == PayloadFileError) return 0;
  PayloadHeader header;
  IntegrityRecord record;
  int read = ReadPayloadHeader(p, file, &header, &record);
  int recognised =
      read == HeaderDamaged || (read == HeaderRead && header.movieOffset >= 0 &&
                                p->seekFile(p->context, file, header.movieOffset, 0) != -1);
  if (recognised) {
    ExtractResult result = ExtractDone;
    if (read == HeaderDamaged) {
      result = ExtractDamaged;
    } else if (extract) {
      result = ExtractPayloadFiles(p, &header, &record, file);
    }
    if (extractResult != 0) *extractResult = result;
    if (descriptor != 0) {
      // The flags of a damaged header cannot be trusted: none of them counts.
      PayloadDescriptor none = {0, 0};
      if (read == HeaderDamaged)
        *descriptor = none;
      else
        FillPayloadDescriptor(&header, descriptor);
    }
  }
  p->closeFile(p->context, file);
  return recognised;
}

int CopyStoredEntry(const PayloadPlatform* p, PayloadFile source, PayloadFile target, int32_t count,
                    uint32_t* crc) {
  // Under memory pressure a smaller buffer only makes the copy slower, so halve down
  // to a single byte before giving up.
  int32_t bufferSize = static_cast<int32_t>(crc != 0 ? SummedCopyBufferSize : PayloadBufferSize);
  void* block = 0;
  while (bufferSize > 0) {
    block = p->allocateMemory(p->context, MoveableZeroedMemory, static_cast<uint32_t>(bufferSize));
    if (block != 0) break;
    bufferSize /= 2;
  }
  if (block == 0) return 1;
  // A summed copy takes its buffer in two halves: one half is read and written while the
  // other, just handed over, is summed.
  int32_t halves = crc != 0 && bufferSize > 1 ? 2 : 1;
  int32_t chunkSize = bufferSize / halves;
  if (crc != 0) {
    PrepareCrc32();
    p->beginSum(p->context);
  }
  uint8_t* buffer = static_cast<uint8_t*>(p->lockMemory(p->context, block));
  int copied = 0;
  int32_t remaining = count;
  for (int32_t half = 0; buffer != 0; half = (half + 1) % halves) {
    uint8_t* at = buffer + half * chunkSize;
    int32_t chunk = chunkSize;
    if (remaining > 0 && remaining < chunkSize) chunk = remaining;
    int32_t read = p->readFile(p->context, source, at, chunk);
    if (read == 0) {
      copied = 1;  // the end of the source ends the copy as a success
      break;
    }
    if (read < 0 || read > chunk) break;
    int32_t written = p->writeFile(p->context, target, at, read);
    if (written != read) break;
    if (crc != 0) p->addToSum(p->context, at, static_cast<uint32_t>(read));
    if (remaining <= 0) continue;  // a count of 0 or less copies to the end
    remaining -= written;
    if (remaining <= 0) {
      copied = 1;
      break;
    }
  }
  // The sum ends before the buffer goes: its last block may still be being summed.
  if (crc != 0) *crc = p->endSum(p->context);
  if (buffer != 0) p->unlockMemory(p->context, block);
  p->freeMemory(p->context, block);
  return copied ? 0 : 1;
}

void DeleteLeadingEntryFiles(const PayloadPlatform* p, const char* exePath) {
  uint32_t previousMode = p->setErrorMode(p->context, FailCriticalErrors);
  PayloadFile file = p->openFile(p->context, exePath);
  if (file != PayloadFileError) {
    PayloadHeader header;
    IntegrityRecord record;
    char folder[PathCapacity];
    char path[PathCapacity];
    // Only a sound header whose names all stay inside the folder deletes anything: a
    // damaged one must not choose what is deleted. (The movie offset is not checked.)
    if (ReadPayloadHeader(p, file, &header, &record) == HeaderRead &&
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
