// Reading a projector's payload the way the launcher does, and the list, verify and
// extract subcommands built on it.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <random>
#include <sstream>

#include "lzari/lzari_decoder.h"
#include "lzari/lzari_memory_source.h"
#include "payload/crc32.h"
#include "payload/payload_signature.h"
#include "tools/cinepack.h"

namespace fs = std::filesystem;

namespace {

std::string Hex(uint64_t value) {
  std::ostringstream text;
  text << "0x" << std::hex << std::uppercase << value;
  return text.str();
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string TargetName(const PayloadEntry& e) {
  return std::string(e.name) + "." + e.extractExtension;
}
std::string LeadingName(const PayloadEntry& e) { return std::string(e.name) + "." + e.extension; }

bool HasTerminator(const char* field, size_t width) { return memchr(field, 0, width) != nullptr; }

// Why the launcher would refuse to extract from this table, or "".
std::string FindTableProblem(const PayloadHeader& h) {
  if (h.entryCount < 0 || h.entryCount > PayloadSlotCount) {
    return "entryCount " + std::to_string(h.entryCount) +
           " selects slots outside the five-slot table";
  }
  if (h.extractCount < 0 || h.extractCount > h.entryCount) {
    return "extractCount " + std::to_string(h.extractCount) + " is outside 0 to entryCount (" +
           std::to_string(h.entryCount) + ")";
  }
  for (int32_t i = 0; i < h.entryCount; ++i) {
    const PayloadEntry& e = h.entries[i];
    std::string slot = "slot " + std::to_string(i) + ": ";
    if (!HasTerminator(e.name, sizeof e.name))
      return slot + "the name has no terminator in its 33 bytes";
    if (!HasTerminator(e.extension, sizeof e.extension))
      return slot + "the extension has no terminator in its 4 bytes";
    if (!HasTerminator(e.extractExtension, sizeof e.extractExtension)) {
      return slot + "the extract extension has no terminator in its 7 bytes";
    }
    if (!HasNamesSomeCodePageAccepts(&e)) {
      return slot + "'" + LeadingName(e) + "' / '" + TargetName(e) +
             "' would leave its folder or name a device under every code page (separator, "
             "colon, only dots, wildcard, control character or device name)";
    }
  }
  return "";
}

// A byte source that counts how far the decoder reads past the end of the stream.
struct GuardedSource {
  MemorySource memory;
  uint64_t pastEnd;
};

int32_t ReadGuardedByte(void* context) {
  GuardedSource* source = static_cast<GuardedSource*>(context);
  int32_t byte = ReadMemoryByte(&source->memory);
  if (byte < 0) ++source->pastEnd;
  return byte;
}

struct DecodeSink {
  GuardedSource* source;
  std::ostream* out;  // null: only count
  std::vector<char> block;
  uint64_t produced;
  uint64_t textSize;
  std::ostream* progress;
  std::string what;
  bool cutShort;
};

void FlushSink(DecodeSink* sink) {
  if (sink->out && !sink->block.empty()) {
    sink->out->write(sink->block.data(), static_cast<std::streamsize>(sink->block.size()));
  }
  sink->block.clear();
}

int32_t WriteDecodedByte(void* context, int32_t byte) {
  DecodeSink* sink = static_cast<DecodeSink*>(context);
  if (sink->source->pastEnd > LzariReadAheadLimit) {
    sink->cutShort = true;
    return -1;  // stops the decoder: what follows is made of padding bits
  }
  sink->block.push_back(static_cast<char>(byte));
  ++sink->produced;
  if (sink->block.size() == (1u << 20)) {
    FlushSink(sink);
    if (sink->progress && sink->textSize >= ProgressThreshold) {
      *sink->progress << "\rcinepack: expanding " << sink->what << " "
                      << std::min<uint64_t>(100, sink->produced * 100 / sink->textSize) << "%"
                      << std::flush;
    }
  }
  return byte;
}

struct DecodeOutcome {
  std::string problem;
  uint64_t textSize = 0;
  uint64_t produced = 0;
};

// Expands one compressed entry into `out` (or only counts, with null), reporting the
// problems the launcher would not notice.
DecodeOutcome DecodeEntry(const std::string& data, std::ostream* out, std::ostream* progress,
                          const std::string& what) {
  DecodeOutcome outcome;
  if (data.size() < 4) {
    outcome.problem = "the compressed stream is " + std::to_string(data.size()) +
                      " bytes, too short for its 4-byte length; the launcher would call the file "
                      "damaged";
    return outcome;
  }
  static LzariDecoder decoder;
  GuardedSource source = {
      {reinterpret_cast<const uint8_t*>(data.data()), 0, static_cast<int32_t>(data.size())}, 0};
  DecodeSink sink = {&source, out, {}, 0, 0, progress, what, false};
  for (int i = 3; i >= 0; --i) sink.textSize = sink.textSize * 256 + static_cast<uint8_t>(data[i]);
  outcome.textSize = sink.textSize;
  LzariDecodeStream(&decoder, ReadGuardedByte, &source, WriteDecodedByte, &sink);
  FlushSink(&sink);
  if (progress && sink.textSize >= ProgressThreshold) *progress << "\n";
  outcome.produced = sink.produced;
  if (sink.cutShort) {
    outcome.problem = "the compressed stream ends after " + std::to_string(sink.produced) +
                      " of its " + std::to_string(sink.textSize) +
                      " bytes; the launcher would call the file damaged";
  } else if (sink.produced != sink.textSize) {
    outcome.problem = "the compressed stream decodes to " + std::to_string(sink.produced) +
                      " bytes, not the " + std::to_string(sink.textSize) + " it states";
  }
  return outcome;
}

bool ReadRange(std::ifstream& in, uint64_t offset, uint64_t size, std::string* data) {
  data->assign(size, '\0');
  in.clear();
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(&(*data)[0], static_cast<std::streamsize>(size));
  return static_cast<uint64_t>(in.gcount()) == size;
}

// The movie runs from its offset to the next region that starts after it, or to the
// trailer: the format records no length for it.
uint64_t MovieEnd(const ProjectorInfo& info) {
  uint64_t end = info.payloadEnd >= 4 ? info.payloadEnd - 4 : 0;
  uint64_t movie = static_cast<uint64_t>(info.header.movieOffset);
  if (info.headerOffset > movie) end = std::min<uint64_t>(end, info.headerOffset);
  for (int32_t i = 0; i < info.header.entryCount && i < PayloadSlotCount; ++i) {
    const PayloadEntry& e = info.header.entries[i];
    if (e.size > 0 && e.offset >= 0 && static_cast<uint64_t>(e.offset) > movie) {
      end = std::min<uint64_t>(end, static_cast<uint64_t>(e.offset));
    }
  }
  return std::max(end, movie);
}

// The signature rules' view of the file.
int ReadFileAt(void* context, int32_t offset, void* buffer, int32_t count) {
  std::string bytes;
  std::ifstream& in = *static_cast<std::ifstream*>(context);
  if (offset < 0 || count < 0 ||
      !ReadRange(in, static_cast<uint64_t>(offset), static_cast<uint64_t>(count), &bytes)) {
    return 0;
  }
  memcpy(buffer, bytes.data(), bytes.size());
  return 1;
}

bool EntryInside(const PayloadEntry& e, uint64_t fileSize) {
  return e.offset >= 0 && e.size >= 0 &&
         static_cast<uint64_t>(e.offset) + static_cast<uint64_t>(e.size) <= fileSize;
}

}  // namespace

namespace {

// Reads the trailer that ends at `end` and the header it names into `info`; true when a
// header with the payload's magic was read whole.
bool ReadPayloadBefore(std::ifstream& in, uint64_t end, ProjectorInfo* info) {
  info->payloadEnd = end;
  if (end < 4) {
    info->noPayload = "the file is " + std::to_string(end) + " bytes, too short for a trailer";
    return false;
  }
  std::string trailer;
  ReadRange(in, end - 4, 4, &trailer);
  memcpy(&info->headerOffset, trailer.data(), 4);
  if (info->headerOffset > 0x7FFFFFFFu) {
    info->noPayload = "the trailer's header offset " + Hex(info->headerOffset) +
                      " is 2 GiB or more, which a file position cannot reach";
    return false;
  }
  std::string header;
  if (info->headerOffset + static_cast<uint64_t>(PayloadHeaderSize) > info->fileSize) {
    info->noPayload = "the trailer's header offset " + Hex(info->headerOffset) +
                      " leaves no room for a 292-byte header before the end of the file (" +
                      std::to_string(info->fileSize) + " bytes)";
    return false;
  }
  ReadRange(in, info->headerOffset, PayloadHeaderSize, &header);
  memcpy(&info->header, header.data(), PayloadHeaderSize);
  if (info->header.magic != PayloadMagic) {
    info->noPayload = "no payload header at " + Hex(info->headerOffset) +
                      " (the four bytes there are not \"10MC\")";
    return false;
  }
  return true;
}

}  // namespace

namespace {

// The integrity record after the image, the way the launcher reads it: a record for
// another header is not believed when the trailer leads to a sound one (`found`); a
// believed one is checked against the file's length, the trailer and the header.
void ReadIntegrity(std::ifstream& in, const std::string& start, bool found, ProjectorInfo* info) {
  int32_t at = FindImageEnd(reinterpret_cast<const uint8_t*>(start.data()),
                            static_cast<int32_t>(start.size()));
  std::string bytes;
  if (at < 0 || static_cast<uint64_t>(at) + IntegrityRecordSize > info->fileSize ||
      !ReadRange(in, static_cast<uint64_t>(at), IntegrityRecordSize, &bytes)) {
    return;
  }
  PrepareCrc32();
  IntegrityRecord r;
  int kind = ReadIntegrityRecord(reinterpret_cast<const uint8_t*>(bytes.data()), &r);
  if (kind == RecordAbsent) return;
  if (kind == RecordDamaged) {
    info->recordOffset = static_cast<uint64_t>(at);
    info->damage = "the integrity record at " + Hex(info->recordOffset) + " fails its own check";
    return;
  }
  if (found && info->headerOffset != r.headerOffset) return;
  info->recordOffset = static_cast<uint64_t>(at);
  info->record = r;
  if (info->fileSize < r.packedLength) {
    info->damage = "the file is " + std::to_string(info->fileSize) + " bytes, " +
                   std::to_string(r.packedLength - info->fileSize) + " fewer than the " +
                   std::to_string(r.packedLength) +
                   " it was packed to: it was cut short (a broken download or copy?)";
    return;
  }
  if (!found) {
    ProjectorInfo candidate = *info;
    if (!ReadPayloadBefore(in, r.packedLength, &candidate) ||
        candidate.headerOffset != r.headerOffset) {
      info->damage = "the trailer at " + Hex(r.packedLength - 4) + " does not name the header at " +
                     Hex(r.headerOffset) + " that the integrity record vouches for";
      return;
    }
    candidate.noPayload.clear();
    *info = candidate;
  }
  uint32_t crc = HeaderCrc(&info->header);
  if (crc != r.headerCrc) {
    info->damage = "the payload header at " + Hex(r.headerOffset) + " is damaged: its CRC-32 is " +
                   Hex(crc) + ", the integrity record says " + Hex(r.headerCrc);
  }
}

}  // namespace

ProjectorInfo InspectProjector(const std::string& path) {
  ProjectorInfo info;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    info.noPayload = "cannot open '" + path + "'";
    return info;
  }
  in.seekg(0, std::ios::end);
  info.fileSize = static_cast<uint64_t>(in.tellg());
  // The launcher's rule: in a signed file the trailer ends where the certificate table
  // begins, or where the padding before it begins; otherwise at the file's end.
  std::string start;
  ReadRange(in, 0, std::min<uint64_t>(info.fileSize, PeHeadersSize), &start);
  uint64_t end = info.fileSize;
  if (info.fileSize <= 0x7FFFFFFFu) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(start.data());
    int32_t length = static_cast<int32_t>(start.size());
    int32_t size = static_cast<int32_t>(info.fileSize);
    int32_t table = FindCertificateTable(bytes, length, size);
    if (table != size) {
      info.certificateTable = static_cast<uint64_t>(table);
      info.securityEntry = static_cast<uint64_t>(FindSecurityEntry(bytes, length));
    }
    FileBytes file = {&in, ReadFileAt};
    end = static_cast<uint64_t>(FindTrailerEnd(bytes, length, size, file, SingleByteCodePage));
  }
  bool found = ReadPayloadBefore(in, end, &info);
  ReadIntegrity(in, start, found, &info);
  if (!info.damage.empty()) return info;
  if (!found && info.recordOffset == 0) {
    if (info.certificateTable != 0) {
      info.noPayload +=
          "; the file is signed, but neither the four bytes before its certificate table at " +
          Hex(info.certificateTable) +
          " nor those before up to 7 zero bytes of padding lead to a sound payload header";
    }
    return info;
  }
  if (info.header.movieOffset < 0) {
    info.noPayload =
        "the movie offset " + std::to_string(info.header.movieOffset) + " cannot be reached";
    return info;
  }
  info.hasPayload = true;
  info.tableProblem = FindTableProblem(info.header);
  return info;
}

int ListProjector(const std::string& path, std::ostream& out) {
  ProjectorInfo info = InspectProjector(path);
  out << path << ": " << info.fileSize << " bytes\n";
  if (!info.damage.empty()) {
    out << "damaged: " << info.damage << "\n";
    out << "the launcher would say the file is damaged and load nothing from it\n";
    return 1;
  }
  if (!info.hasPayload) {
    out << "no payload: " << info.noPayload << "\n";
    return 1;
  }
  const PayloadHeader& h = info.header;
  out << "payload header at " << Hex(info.headerOffset) << "\n";
  if (info.certificateTable != 0) {
    out << "  signed        certificate table at " << Hex(info.certificateTable) << ", "
        << info.fileSize - info.certificateTable << " bytes";
    if (info.payloadEnd < info.certificateTable) {
      uint64_t padding = info.certificateTable - info.payloadEnd;
      out << ", after " << padding << (padding == 1 ? " byte" : " bytes") << " of padding";
    }
    out << "\n";
  }
  out << "  flags         " << Hex(h.flags) << "  payload option " << PayloadOptionOf(h.flags)
      << "\n";
  out << "  flags2        " << Hex(h.flags2) << "  splash "
      << ((h.flags2 & PayloadNoSplashMask) ? "off" : "on")
      << ((h.flags2 & PayloadBigEndianFlag) ? ", content big-endian" : "") << "\n";
  if (h.flags & PayloadExtraFlag) out << "  extra         " << h.extra1 << ", " << h.extra2 << "\n";
  out << "  entries       " << h.entryCount << ", extracted " << h.extractCount << "\n";
  uint64_t movieEnd = MovieEnd(info);
  out << "  movie         at " << Hex(static_cast<uint32_t>(h.movieOffset)) << ", "
      << movieEnd - static_cast<uint64_t>(h.movieOffset) << " bytes\n";
  if (info.recordOffset != 0) {
    out << "  integrity     record at " << Hex(info.recordOffset) << ", packed length "
        << info.record.packedLength << ", header CRC-32 " << Hex(info.record.headerCrc) << "\n";
  } else {
    out << "  integrity     no record (built without one, or by another packer)\n";
  }
  if (!info.tableProblem.empty()) {
    out << "malformed payload: " << info.tableProblem << "\n";
    out << "the launcher would refuse to extract it and delete nothing at exit\n";
    return 1;
  }
  PayloadSlots leading = SelectLeadingSlots(&h);
  out << "slot  kind        offset      size        crc-32      yields\n";
  std::ifstream in(path, std::ios::binary);
  for (int32_t i = 0; i < h.entryCount; ++i) {
    const PayloadEntry& e = h.entries[i];
    bool isLeading = i < leading.count;
    bool stored = IsStoredEntry(&e);
    std::string kind = isLeading ? "leading" : stored ? "stored" : "compressed";
    out << std::left << std::setw(6) << i << std::setw(12) << kind << std::setw(12)
        << Hex(static_cast<uint32_t>(e.offset)) << std::setw(12) << e.size << std::setw(12)
        << (info.recordOffset != 0 ? Hex(info.record.entryCrc[i]) : "-") << std::right;
    if (isLeading) {
      out << "deletes " << LeadingName(e) << " beside the executable at exit";
    } else {
      out << "writes " << TargetName(e) << " into the work folder";
      std::string length;
      if (!stored && e.size >= 4 && EntryInside(e, info.fileSize) &&
          ReadRange(in, static_cast<uint64_t>(e.offset), 4, &length)) {
        uint32_t textSize = 0;
        memcpy(&textSize, length.data(), 4);
        out << " (" << textSize << " bytes expanded, packed as " << LeadingName(e) << ")";
      }
    }
    if (!EntryInside(e, info.fileSize)) out << "  [past the end of the file]";
    out << "\n";
  }
  return 0;
}

namespace {

// The CRC-32 of `size` bytes at `offset`, read a block at a time.
bool CrcOfRange(std::ifstream& in, uint64_t offset, uint64_t size, uint32_t* crc) {
  std::vector<char> block(1 << 20);
  in.clear();
  in.seekg(static_cast<std::streamoff>(offset));
  *crc = 0;
  for (uint64_t done = 0; done < size;) {
    uint64_t want = std::min<uint64_t>(block.size(), size - done);
    in.read(block.data(), static_cast<std::streamsize>(want));
    if (static_cast<uint64_t>(in.gcount()) != want) return false;
    *crc = UpdateCrc32(*crc, reinterpret_cast<const uint8_t*>(block.data()),
                       static_cast<uint32_t>(want));
    done += want;
  }
  return true;
}

// Checks the payload the way the launcher will read it: the integrity record's length
// and every entry's CRC-32 when there is one, and every compressed entry decoded; one
// line, and 0 when all is well.
int VerifyPayload(const std::string& path, const ProjectorInfo& info, std::ostream& out,
                  std::ostream& progress) {
  auto fail = [&](const std::string& problem) {
    out << path << ": " << problem << "\n";
    return 1;
  };
  if (!info.damage.empty()) return fail("damaged: " + info.damage);
  if (!info.hasPayload) return fail("no payload: " + info.noPayload);
  if (!info.tableProblem.empty()) return fail("malformed payload: " + info.tableProblem);
  const PayloadHeader& h = info.header;
  if (static_cast<uint64_t>(h.movieOffset) > info.payloadEnd - 4) {
    return fail("the movie offset " + Hex(static_cast<uint32_t>(h.movieOffset)) +
                " lies past the end of the file");
  }
  PayloadSlots extracted = SelectExtractedSlots(&h);
  std::ifstream in(path, std::ios::binary);
  uint64_t expanded = 0;
  for (int32_t i = 0; i < h.entryCount; ++i) {
    const PayloadEntry& e = h.entries[i];
    std::string slot = "slot " + std::to_string(i) + " (" + TargetName(e) + "): ";
    if (!EntryInside(e, info.fileSize)) {
      return fail(slot + "its data at " + Hex(static_cast<uint32_t>(e.offset)) + ", " +
                  std::to_string(e.size) + " bytes, lies past the end of the file");
    }
    uint32_t crc = 0;
    if (info.recordOffset != 0) {
      if (!CrcOfRange(in, static_cast<uint64_t>(e.offset), static_cast<uint64_t>(e.size), &crc)) {
        return fail(slot + "cannot read its data");
      }
      if (crc != info.record.entryCrc[i]) {
        return fail(slot + "damaged: its bytes come to CRC-32 " + Hex(crc) +
                    ", the integrity record says " + Hex(info.record.entryCrc[i]));
      }
    }
    if (i < extracted.first) continue;
    for (int32_t j = extracted.first; j < i; ++j) {
      if (Lower(TargetName(h.entries[j])) == Lower(TargetName(e))) {
        return fail(slot + "slot " + std::to_string(j) + " writes the same file");
      }
    }
    if (IsStoredEntry(&e)) {
      expanded += static_cast<uint64_t>(e.size);
      continue;
    }
    std::string data;
    if (!ReadRange(in, static_cast<uint64_t>(e.offset), static_cast<uint64_t>(e.size), &data)) {
      return fail(slot + "cannot read its data");
    }
    DecodeOutcome decoded = DecodeEntry(data, nullptr, &progress, TargetName(e));
    if (!decoded.problem.empty()) return fail(slot + decoded.problem);
    expanded += decoded.produced;
  }
  out << path << ": OK, " << h.entryCount << " entries, " << h.extractCount << " extracted ("
      << expanded << " bytes), movie " << MovieEnd(info) - static_cast<uint64_t>(h.movieOffset)
      << " bytes, "
      << (info.recordOffset != 0 ? "every CRC-32 as the integrity record says"
                                 : "no integrity record")
      << "\n";
  return 0;
}

// A file of its own in the temporary folder for `name` (ASCII), which no other run picks.
fs::path TemporaryFile(const std::string& name) {
  std::random_device random;
  return fs::temp_directory_path() / ("cinepack-" + Hex(random()).substr(2) + "-" + name);
}

// One line for each extracted entry (a compressed one expanded): whether it is a PE
// image and, when signed, whether its signature matches, through osslsigncode on a copy
// of its bytes. 0 unless a signature does not match. The payload must have passed
// VerifyPayload.
int VerifyEntrySignatures(const std::string& path, const ProjectorInfo& info, std::ostream& out,
                          const std::string& trustedCertificates) {
  const PayloadHeader& h = info.header;
  PayloadSlots extracted = SelectExtractedSlots(&h);
  std::ifstream in(path, std::ios::binary);
  int status = 0;
  for (int32_t i = extracted.first; i < extracted.first + extracted.count; ++i) {
    const PayloadEntry& e = h.entries[i];
    std::string data;
    ReadRange(in, static_cast<uint64_t>(e.offset), static_cast<uint64_t>(e.size), &data);
    if (!IsStoredEntry(&e)) {
      std::ostringstream expanded;
      DecodeEntry(data, &expanded, nullptr, TargetName(e));
      data = expanded.str();
    }
    out << path << ": slot " << i << " (" << TargetName(e) << "): ";
    std::istringstream bytes(data);
    int32_t size = static_cast<int32_t>(std::min<size_t>(data.size(), 0x7FFFFFFF));
    int32_t start = std::min<int32_t>(size, PeHeadersSize);
    if (!IsPeImage(bytes)) {
      out << "no PE image, nothing to sign\n";
    } else if (FindCertificateTable(reinterpret_cast<const uint8_t*>(data.data()), start, size) ==
               size) {
      out << "a PE image, not signed\n";
    } else {
      fs::path copy = TemporaryFile("slot" + std::to_string(i));
      std::ofstream(copy, std::ios::binary)
          .write(data.data(), static_cast<std::streamsize>(data.size()));
      SignatureCheck check = CheckSignature(SigningToolName(), PathText(copy), trustedCertificates);
      std::error_code error;
      fs::remove(copy, error);
      out << check.summary << "\n";
      if (!check.matches) status = 1;
    }
  }
  return status;
}

}  // namespace

int VerifyProjector(const std::string& path, std::ostream& out, std::ostream& progress,
                    const std::string& trustedCertificates) {
  ProjectorInfo info = InspectProjector(path);
  int payloadStatus = VerifyPayload(path, info, out, progress);
  if (!std::ifstream(path, std::ios::binary)) return payloadStatus;  // already said
  int status = payloadStatus;
  if (info.certificateTable == 0) {
    out << path << ": not signed\n";
  } else {
    SignatureCheck check = CheckSignature(SigningToolName(), path, trustedCertificates);
    out << path << ": " << check.summary << "\n";
    if (!check.matches) status = 1;
  }
  if (payloadStatus == 0 && VerifyEntrySignatures(path, info, out, trustedCertificates) != 0) {
    status = 1;
  }
  return status;
}

int ExtractProjector(const std::string& path, const std::string& folder, std::ostream& out,
                     std::ostream& progress) {
  ProjectorInfo info = InspectProjector(path);
  if (!info.damage.empty()) {
    out << path << ": damaged: " << info.damage << "\n";
    return 1;
  }
  if (!info.hasPayload) {
    out << path << ": no payload: " << info.noPayload << "\n";
    return 1;
  }
  if (!info.tableProblem.empty()) {
    out << path << ": malformed payload: " << info.tableProblem << "\n";
    return 1;
  }
  std::error_code error;
  fs::create_directories(FilePath(folder), error);
  if (!fs::is_directory(FilePath(folder), error)) {
    out << "cannot make the folder '" << folder << "'\n";
    return 1;
  }
  const PayloadHeader& h = info.header;
  std::ifstream in(path, std::ios::binary);
  PayloadSlots extracted = SelectExtractedSlots(&h);
  std::vector<std::string> written;
  int status = 0;
  for (int32_t i = extracted.first; i < extracted.first + extracted.count; ++i) {
    const PayloadEntry& e = h.entries[i];
    std::string name = TargetName(e);
    std::string data;
    if (!EntryInside(e, info.fileSize) ||
        !ReadRange(in, static_cast<uint64_t>(e.offset), static_cast<uint64_t>(e.size), &data)) {
      out << name << ": its data lies past the end of the file; not written\n";
      status = 1;
      continue;
    }
    fs::path target = FilePath(folder) / FilePath(name);
    std::ofstream file(target, std::ios::binary | std::ios::trunc);
    if (IsStoredEntry(&e)) {
      file.write(data.data(), static_cast<std::streamsize>(data.size()));
    } else {
      DecodeOutcome decoded = DecodeEntry(data, &file, &progress, name);
      if (!decoded.problem.empty()) {
        out << name << ": " << decoded.problem << "\n";
        status = 1;
      }
    }
    file.close();
    if (!file) {
      out << name << ": cannot write '" << PathText(target) << "'\n";
      status = 1;
      continue;
    }
    written.push_back(Lower(name));
    out << "wrote " << PathText(target) << "\n";
  }
  // The movie under a name no entry took.
  std::string movieName = MovieFileName;
  for (int n = 1; std::find(written.begin(), written.end(), Lower(movieName)) != written.end();
       ++n) {
    movieName = "movie-" + std::to_string(n) + ".dat";
  }
  uint64_t movieStart = static_cast<uint64_t>(h.movieOffset);
  uint64_t movieEnd = MovieEnd(info);
  std::string movie;
  fs::path movieTarget = FilePath(folder) / movieName;
  std::ofstream movieFile(movieTarget, std::ios::binary | std::ios::trunc);
  if (ReadRange(in, movieStart, movieEnd - movieStart, &movie)) {
    movieFile.write(movie.data(), static_cast<std::streamsize>(movie.size()));
  }
  movieFile.close();
  if (!movieFile) {
    out << "cannot write '" << PathText(movieTarget) << "'\n";
    return 1;
  }
  out << "wrote " << PathText(movieTarget) << " (the movie, " << movie.size() << " bytes)\n";
  return status;
}
