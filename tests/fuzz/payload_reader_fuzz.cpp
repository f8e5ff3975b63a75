// Arbitrary headers and entry tables through recognition, extraction and the exit
// pass, over in-memory files: every header is refused or extracted inside the work
// folder, nothing is deleted outside the executable's folder, and every file, block
// and the error mode are given back.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/paths.h"
#include "tests/unit/payload_fake_platform.h"

namespace {

using payload_fake::FakePlatform;

// Announced text sizes reach 4 GiB; a disk that takes no more than this stops the
// decoder past one full output buffer.
const int64_t OutputLimit = 40000;

struct ShortStream {};

}  // namespace

// A stream too short for its length ends the launcher's process; here it unwinds to the
// fuzz entry instead (that path has its own unit tests).
void EndProcessOnShortStream() { throw ShortStream(); }

namespace {

// A path made by the reader must be the folder followed by one plain file name.
void CheckInside(const std::string& path, const std::string& folder) {
  if (path.compare(0, folder.size(), folder) != 0) abort();
  std::string name = path.substr(folder.size());
  if (name.empty() || name.find_first_of("\\/:") != std::string::npos) abort();
  // Only dots and spaces would name the folder itself or its parent.
  if (name.find_first_not_of(". ") == std::string::npos) abort();
  if (name.size() + folder.size() >= PathCapacity) abort();
}

void CheckClean(const FakePlatform& f, uint32_t mode) {
  if (!f.open.empty() || !f.blocks.empty() || f.errorMode != mode) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  // Four control bytes: faults and the work folder's length.
  uint8_t faults = data[0];
  uint8_t folderLength = data[1];
  uint8_t spaceKiB = data[2];
  uint8_t layout = data[3];
  data += 4;
  size -= 4;

  // The image: the header (from the input, usually with the right magic), the rest of
  // the input as entry data, and a trailer that points at the header; or, for some
  // inputs, the raw bytes with whatever trailer they end in.
  std::string image;
  size_t headerAt = 0;
  if (layout & 1) {
    image.assign(reinterpret_cast<const char*>(data), size);
  } else {
    std::string header(PayloadHeaderSize, '\0');
    memcpy(&header[0], data, std::min<size_t>(size, PayloadHeaderSize));
    if (!(layout & 2)) {
      uint32_t magic = PayloadMagic;
      memcpy(&header[0], &magic, 4);
    }
    headerAt = static_cast<size_t>(layout >> 2) * 4;
    std::string stub(headerAt, 'M');
    image = stub + header;
    if (size > PayloadHeaderSize) image.append(reinterpret_cast<const char*>(data) + PayloadHeaderSize, size - PayloadHeaderSize);
    uint32_t at = static_cast<uint32_t>(stub.size());
    image.append(reinterpret_cast<const char*>(&at), 4);
    if (faults & 16) {
      // Tamed: counts inside the table, data inside the file, names terminated, so
      // that most inputs get as far as writing files.
      PayloadHeader h;
      memcpy(&h, &image[headerAt], sizeof h);
      int32_t fileSize = static_cast<int32_t>(image.size());
      h.entryCount = static_cast<int32_t>(static_cast<uint32_t>(h.entryCount) % 6);
      h.extractCount = static_cast<int32_t>(static_cast<uint32_t>(h.extractCount) % (h.entryCount + 1));
      h.movieOffset = static_cast<int32_t>(static_cast<uint32_t>(h.movieOffset) % fileSize);
      for (PayloadEntry& e : h.entries) {
        e.offset = static_cast<int32_t>(static_cast<uint32_t>(e.offset) % fileSize);
        e.size = static_cast<int32_t>(static_cast<uint32_t>(e.size) % (fileSize - e.offset + 1));
        e.name[static_cast<uint8_t>(e.name[0]) % sizeof e.name] = 0;
        e.extension[static_cast<uint8_t>(e.extension[0]) % sizeof e.extension] = 0;
        e.extractExtension[static_cast<uint8_t>(e.extractExtension[0]) % sizeof e.extractExtension] = 0;
      }
      memcpy(&image[headerAt], &h, sizeof h);
    }
  }

  const std::string exeFolder = "D:\\GAMES\\";
  const std::string exe = exeFolder + "MOVIE.EXE";
  {
    FakePlatform f;
    f.files[exe] = image;
    f.errorMode = 0x8001;
    f.workFolder = "C:\\" + std::string(folderLength, 'w') + "\\";
    if (faults & 1) f.largestAllocation = 4096u >> (faults >> 5);
    f.diskSpace = (faults & 2) ? static_cast<int64_t>(spaceKiB) * 1024 : OutputLimit;
    if (faults & 4) f.workFolderFails = true;
    if (faults & 8) f.uncreatable.insert(f.workFolder + "cine.dll");
    PayloadPlatform calls = f.Calls();
    uint32_t result = 7;
    PayloadDescriptor descriptor = {0, 0};
    int recognised;
    try {
      recognised = OpenPayload(&calls, exe.c_str(), 1, &result, &descriptor);
    } catch (const ShortStream&) {
      return 0;  // the process would have ended here, files open and all
    }
    if (!recognised && result != 7) abort();
    if (recognised && result > 1) abort();
    for (const std::string& line : f.log) {
      CheckInside(line.substr(line.find(' ') + 1), f.workFolder);
    }
    CheckClean(f, 0x8001);
    // A successful extraction wrote every stored entry's bytes exactly, unless a later
    // slot wrote the same file.
    if (recognised && result == 1 && !(layout & 1)) {
      PayloadHeader header;
      memcpy(&header, image.data() + headerAt, PayloadHeaderSize);
      // With nothing to extract the table is not checked, and nothing was written.
      if (header.extractCount != 0 && !HasValidEntryTable(&header, SingleByteCodePage)) abort();
      PayloadSlots slots = SelectExtractedSlots(&header);
      std::string targets[PayloadSlotCount];
      for (int32_t i = slots.first; i < slots.first + slots.count; ++i) {
        char path[PathCapacity];
        strcpy(path, f.workFolder.c_str());
        if (!AppendEntryFileName(path, &header.entries[i], 1)) abort();
        targets[i] = path;
      }
      for (int32_t i = slots.first; i < slots.first + slots.count; ++i) {
        const PayloadEntry& e = header.entries[i];
        bool replaced = false;
        for (int32_t j = i + 1; j < slots.first + slots.count; ++j) replaced |= targets[j] == targets[i];
        if (!IsStoredEntry(&e) || replaced) continue;
        auto file = f.files.find(targets[i]);
        if (file == f.files.end() || file->second != image.substr(e.offset, e.size)) abort();
      }
    }
  }
  {
    // The exit pass on the same image.
    FakePlatform f;
    f.files[exe] = image;
    f.errorMode = 0x8001;
    PayloadPlatform calls = f.Calls();
    DeleteLeadingEntryFiles(&calls, exe.c_str());
    for (const std::string& line : f.log) {
      if (line.rfind("delete ", 0) != 0) abort();
      CheckInside(line.substr(7), exeFolder);
    }
    CheckClean(f, 0x8001);
  }
  return 0;
}
