// Building a projector: stub, zero fill, header, entries (signed PE images among them
// when the projector is signed), movie and trailer, written to a temporary file that
// replaces the output only once it is complete.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "lzari/lzari_encoder.h"
#include "payload/crc32.h"
#include "payload/payload_signature.h"
#include "tools/cinepack.h"

namespace fs = std::filesystem;

namespace {

const uint64_t HeaderAlignment = 512;
const uint64_t SignatureAlignment = 8;      // where signing starts the certificate table
const uint64_t LargestOffset = 0x7FFFFFFF;  // offsets are signed 32-bit file positions

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool ReadWholeFile(const std::string& path, std::string* content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  *content = buffer.str();
  return !in.bad();
}

bool FileSize(const std::string& path, uint64_t* size) {
  std::error_code error;
  if (!fs::is_regular_file(FilePath(path), error)) return false;
  *size = fs::file_size(FilePath(path), error);
  return !error;
}

void ShowProgress(std::ostream& progress, const std::string& what, uint64_t done, uint64_t total) {
  progress << "\rcinepack: " << what << " " << (total ? done * 100 / total : 100) << "%"
           << std::flush;
  if (done == total) progress << "\n";
}

// Appends a file's bytes to `out` in blocks, reporting progress for large files, and
// carries `crc` (when not null) on over them.
}  // namespace

bool CopyFileInto(std::ostream& out, const std::string& path, uint64_t size,
                  const std::string& what, std::ostream& progress, uint32_t* crc) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::vector<char> block(1 << 20);
  bool report = size >= ProgressThreshold;
  uint64_t done = 0;
  while (done < size) {
    uint64_t want = std::min<uint64_t>(block.size(), size - done);
    in.read(block.data(), static_cast<std::streamsize>(want));
    if (static_cast<uint64_t>(in.gcount()) != want) return false;
    if (crc != nullptr) {
      *crc = UpdateCrc32(*crc, reinterpret_cast<const uint8_t*>(block.data()),
                         static_cast<uint32_t>(want));
    }
    out.write(block.data(), static_cast<std::streamsize>(want));
    done += want;
    if (report) ShowProgress(progress, what, done, size);
  }
  return static_cast<bool>(out);
}

namespace {

void PutField(char* field, size_t width, const std::string& text) {
  memset(field, 0, width);
  memcpy(field, text.data(), std::min(text.size(), width - 1));
}

// The extension under which a compressed entry is packed: the source extension with
// its last character made '_', which always differs from the extension written.
std::string PackedExtension(const std::string& extension) {
  std::string packed = extension.substr(0, 3);
  if (packed.empty()) return "_";
  packed.back() = packed.back() == '_' ? '$' : '_';
  if (packed == extension) packed.back() = '~';
  return packed;
}

// Why the stub leaves no place for the integrity record right after its image, or "".
std::string FindRecordProblem(const std::string& path, const std::string& stub) {
  int32_t probed = static_cast<int32_t>(std::min<size_t>(stub.size(), PeHeadersSize));
  int32_t imageEnd = FindImageEnd(reinterpret_cast<const uint8_t*>(stub.data()), probed);
  const std::string without = "; --no-integrity-record builds without the record";
  if (imageEnd < 0) {
    return "the stub '" + path +
           "' has no PE headers with a section table in its first 1024 bytes, so there is no "
           "telling where its image ends and the integrity record goes" +
           without;
  }
  uint64_t end = static_cast<uint64_t>(imageEnd);
  if (end > stub.size()) {
    return "the stub '" + path + "' is cut short: its sections end at " + std::to_string(end) +
           ", the file at " + std::to_string(stub.size());
  }
  if (end < stub.size()) {
    return "the stub '" + path + "' has " + std::to_string(stub.size() - end) +
           " bytes after its image (an overlay), where the integrity record goes: build from "
           "the bare launcher" +
           without;
  }
  return "";
}

// The signing of a build's entries: a PE image among them is signed, into a folder
// beside the output, before it is packed (and before it is compressed), so that the
// library the launcher extracts and loads is signed too. The user's files are never
// changed. The folder goes when the build ends, however it ends.
struct EntrySigning {
  std::string tool;  // empty: no signing
  std::string certificate, key;
  std::string folder;
  ~EntrySigning() {
    std::error_code error;
    if (!folder.empty()) fs::remove_all(FilePath(folder), error);
  }
};

// Whether the file at `path` ends in a certificate table its headers name.
bool CarriesSignature(const std::string& path) {
  std::string start;
  std::ifstream in(path, std::ios::binary);
  start.resize(PeHeadersSize);
  in.read(&start[0], PeHeadersSize);
  start.resize(static_cast<size_t>(in.gcount()));
  uint64_t size = 0;
  if (!FileSize(path, &size) || size > static_cast<uint64_t>(LargestOffset)) return false;
  int32_t fileSize = static_cast<int32_t>(size);
  return FindCertificateTable(reinterpret_cast<const uint8_t*>(start.data()),
                              static_cast<int32_t>(start.size()), fileSize) != fileSize;
}

// The file to pack for `path`: itself, or its signed copy. "" in `*problem` or what
// went wrong.
std::string SignEntry(EntrySigning* signing, const std::string& path, std::ostream& progress,
                      std::string* problem) {
  std::ifstream in(path, std::ios::binary);
  if (signing->tool.empty() || !in || !IsPeImage(in)) return path;
  std::string name = FileNameOf(path);
  // A signature already there is its maker's, which Windows may trust where it would not
  // trust ours: it is kept, not replaced.
  if (CarriesSignature(path)) {
    progress << "cinepack: " << name << " is signed already; its signature is kept\n";
    return path;
  }
  std::error_code error;
  fs::create_directories(FilePath(signing->folder), error);
  std::string copy = signing->folder + "/" + name;
  *problem = SignFile(signing->tool, path, copy, signing->certificate, signing->key);
  return copy;
}

struct PlannedEntry {
  PayloadEntry entry;
  std::string source;  // file whose bytes are the entry's data (stored)
  std::string packed;  // the compressed stream (compressed)
  uint64_t size = 0;
  bool compressed = false;
};

}  // namespace

std::string MakeEntryNames(const std::string& fileName, bool compress, uint32_t codePage,
                           PayloadEntry* entry) {
  std::string spelled;
  std::string problem = SpellName(fileName, codePage, &spelled);
  if (!problem.empty()) return "'" + fileName + "': " + problem;
  // A dot is never the second byte of a double-byte character.
  size_t dot = spelled.rfind('.');
  std::string name = dot == std::string::npos ? spelled : spelled.substr(0, dot);
  std::string extension = dot == std::string::npos ? "" : spelled.substr(dot + 1);
  // Widths are in bytes: a double-byte character takes two.
  if (name.size() > PayloadNameWidth - 1) {
    return "'" + fileName + "': the name is longer than 32 bytes";
  }
  size_t longest = compress ? PayloadExtractExtensionWidth - 1 : PayloadExtensionWidth - 1;
  if (extension.size() > longest) {
    return "'" + fileName + "': the extension is longer than " + std::to_string(longest) +
           " bytes" + (compress ? "" : " (a compressed entry's may have up to 6)");
  }
  memset(entry, 0, sizeof *entry);
  PutField(entry->name, sizeof entry->name, name);
  PutField(entry->extractExtension, sizeof entry->extractExtension, extension);
  PutField(entry->extension, sizeof entry->extension,
           compress ? PackedExtension(extension) : extension);
  if (!HasValidEntryNames(entry, LeadByteRuleOf(codePage))) {
    return "'" + fileName +
           "' is not a name the launcher accepts: no path separators, colons, wildcards, "
           "control characters, device names, or names of only dots and spaces";
  }
  return "";
}

std::string BuildProjector(const BuildOptions& options, std::ostream& progress) {
  if (options.stub.empty()) return "no stub given (--stub launcher.exe)";
  if (options.movie.empty()) return "no movie given (--movie FILE)";
  if (options.output.empty()) return "no output given (-o OUT.exe)";
  if (options.codePage != 0 && !IsAnsiCodePage(options.codePage)) {
    return "code page " + std::to_string(options.codePage) +
           " is no system's ANSI code page; those are " + AnsiCodePages;
  }
  size_t slotCount = options.leading.size() + options.extracts.size();
  if (slotCount > static_cast<size_t>(PayloadSlotCount)) {
    return "a payload holds at most 5 entries, leading and extracted together; " +
           std::to_string(slotCount) + " were given";
  }

  bool signing = !options.signCertificate.empty() || !options.signKey.empty();
  std::string signTool;
  EntrySigning entrySigning;
  if (signing) {
    if (options.signCertificate.empty() || options.signKey.empty()) {
      return "signing needs both a certificate and a key (--sign CERT KEY)";
    }
    if (!FindProgram(options.signTool, &signTool)) {
      return "cannot sign: " + options.signTool +
             " is not installed (on Debian and Ubuntu: apt-get install osslsigncode)";
    }
    for (const std::string& file : {options.signCertificate, options.signKey}) {
      std::string content;
      if (!ReadWholeFile(file, &content)) return "cannot read '" + file + "' for signing";
    }
    entrySigning = {signTool, options.signCertificate, options.signKey,
                    options.output + ".cinepack-entries"};
  }

  std::string stub;
  if (!ReadWholeFile(options.stub, &stub)) return "cannot read the stub '" + options.stub + "'";
  ProjectorInfo stubInfo = InspectProjector(options.stub);
  if (stubInfo.hasPayload) {
    return "the stub '" + options.stub +
           "' already carries a payload; build from the bare launcher";
  }
  if (options.integrityRecord) {
    std::string problem = FindRecordProblem(options.stub, stub);
    if (!problem.empty()) return problem;
  }
  uint64_t movieSize = 0;
  if (!FileSize(options.movie, &movieSize)) return "cannot read the movie '" + options.movie + "'";

  // Plan every slot first: names, data and sizes, so nothing is written for a payload
  // that cannot be made.
  std::vector<PlannedEntry> plan;
  for (const std::string& lead : options.leading) {
    PlannedEntry p;
    std::string problem = MakeEntryNames(lead, false, options.codePage, &p.entry);
    if (!problem.empty()) return "leading entry " + problem;
    plan.push_back(p);
  }
  std::vector<std::string> targets;
  for (const ExtractSource& source : options.extracts) {
    PlannedEntry p;
    std::string fileName = FileNameOf(source.path);
    std::string problem = MakeEntryNames(fileName, source.compress, options.codePage, &p.entry);
    if (!problem.empty()) return problem;
    std::string target = Lower(std::string(p.entry.name) + "." + p.entry.extractExtension);
    for (const std::string& other : targets) {
      if (other == target) return "two extracted entries would both be written as '" + target + "'";
    }
    targets.push_back(target);
    std::string packedFrom = SignEntry(&entrySigning, source.path, progress, &problem);
    if (!problem.empty()) return problem;
    p.compressed = source.compress;
    if (source.compress) {
      std::string content;
      if (!ReadWholeFile(packedFrom, &content)) return "cannot read '" + source.path + "'";
      bool report = content.size() >= ProgressThreshold;
      if (report) {
        progress << "cinepack: compressing " << fileName << " (" << (content.size() >> 20)
                 << " MiB)..." << std::flush;
      }
      std::vector<uint8_t> packed =
          LzariEncode(reinterpret_cast<const uint8_t*>(content.data()), content.size());
      p.packed.assign(packed.begin(), packed.end());
      p.size = p.packed.size();
      if (report) progress << " " << (p.size >> 10) << " KiB\n";
    } else {
      if (!FileSize(packedFrom, &p.size)) return "cannot read '" + source.path + "'";
      p.source = packedFrom;
    }
    plan.push_back(p);
  }

  // The record right after the image, the header at the next 512-byte boundary.
  uint64_t recordSize = options.integrityRecord ? IntegrityRecordSize : 0;
  uint64_t headerOffset =
      (stub.size() + recordSize + HeaderAlignment - 1) / HeaderAlignment * HeaderAlignment;
  // Every projector is ready to be signed, here or later by any Authenticode tool:
  // signing pads the file to a multiple of 8 before it appends the certificate table,
  // which would part the trailer from the table; a few more fill bytes before the
  // header make that padding unnecessary. (The launcher still finds a trailer so
  // parted, but older launchers do not.)
  uint64_t length = headerOffset + PayloadHeaderSize + movieSize + sizeof(PayloadTrailer);
  for (const PlannedEntry& p : plan) length += p.size;
  headerOffset += (SignatureAlignment - length % SignatureAlignment) % SignatureAlignment;
  PayloadHeader header;
  memset(&header, 0, sizeof header);
  header.magic = PayloadMagic;
  header.flags = options.option ? PayloadOptionFlag : 0;
  header.flags2 = (options.noSplash ? PayloadNoSplashFlag : 0) |
                  (options.bigEndianContent ? PayloadBigEndianFlag : 0);
  header.entryCount = static_cast<int32_t>(plan.size());
  header.extractCount = static_cast<int32_t>(options.extracts.size());
  uint64_t at = headerOffset + PayloadHeaderSize;
  for (size_t i = 0; i < plan.size(); ++i) {
    // Leading entries carry no data; their offset still points into the file.
    if (at + plan[i].size > LargestOffset) {
      return "the projector would be 2 GiB or larger, past what the format's offsets reach";
    }
    plan[i].entry.offset = static_cast<int32_t>(at);
    plan[i].entry.size = static_cast<int32_t>(plan[i].size);
    header.entries[i] = plan[i].entry;
    at += plan[i].size;
  }
  if (at + movieSize + sizeof(PayloadTrailer) > LargestOffset) {
    return "the projector would be 2 GiB or larger, past what the format's offsets reach";
  }
  header.movieOffset = static_cast<int32_t>(at);

  // Write beside the output, then move it into place: a failed build leaves no
  // half-made projector, and an existing one stays as it was.
  std::string temporary = options.output + ".cinepack-partial";
  std::string failure;
  {
    PrepareCrc32();
    IntegrityRecord record = {};
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return "cannot write '" + temporary + "'";
    out.write(stub.data(), static_cast<std::streamsize>(stub.size()));
    // Zeros for now where the record goes: it is written last, once every CRC is known.
    std::string fill(headerOffset - stub.size(), '\0');
    out.write(fill.data(), static_cast<std::streamsize>(fill.size()));
    out.write(reinterpret_cast<const char*>(&header), sizeof header);
    for (size_t i = 0; i < plan.size(); ++i) {
      const PlannedEntry& p = plan[i];
      uint32_t* crc = &record.entryCrc[i];
      if (p.compressed) {
        out.write(p.packed.data(), static_cast<std::streamsize>(p.packed.size()));
        *crc = UpdateCrc32(0, reinterpret_cast<const uint8_t*>(p.packed.data()),
                           static_cast<uint32_t>(p.packed.size()));
      } else if (p.size > 0 && !CopyFileInto(out, p.source, p.size,
                                             "copying " + FileNameOf(p.source), progress, crc)) {
        failure = "cannot read '" + p.source + "' whole";
        break;
      }
    }
    // The movie is covered by the length alone: the launcher never reads it.
    if (failure.empty() &&
        !CopyFileInto(out, options.movie, movieSize, "copying the movie", progress, nullptr)) {
      failure = "cannot read the movie '" + options.movie + "' whole";
    }
    PayloadTrailer trailer = {static_cast<uint32_t>(headerOffset)};
    out.write(reinterpret_cast<const char*>(&trailer), sizeof trailer);
    if (options.integrityRecord) {
      record.packedLength = static_cast<uint32_t>(out.tellp());
      SealIntegrityRecord(&record, &header, static_cast<uint32_t>(headerOffset));
      out.seekp(static_cast<std::streamoff>(stub.size()));
      out.write(reinterpret_cast<const char*>(&record), sizeof record);
    }
    out.close();
    if (failure.empty() && !out) failure = "cannot write '" + temporary + "' (disk full?)";
  }
  std::error_code error;
  std::string finished = temporary;
  if (failure.empty() && signing) {
    finished = options.output + ".cinepack-signed";
    failure = SignFile(signTool, temporary, finished, options.signCertificate, options.signKey);
    ProjectorInfo signedInfo = InspectProjector(finished);
    if (failure.empty() && (!signedInfo.hasPayload || signedInfo.certificateTable == 0)) {
      failure = "after signing, the payload is no longer found before the certificate table";
    }
    fs::remove(FilePath(temporary), error);
  }
  if (failure.empty()) {
    fs::rename(FilePath(finished), FilePath(options.output), error);
    if (error)
      failure = "cannot move the projector to '" + options.output + "': " + error.message();
  }
  if (!failure.empty()) {
    fs::remove(FilePath(temporary), error);
    fs::remove(FilePath(finished), error);
  }
  return failure;
}
