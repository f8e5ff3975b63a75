// Any header and entry table, in either code page, sealed with the integrity record or
// not and then damaged or not, through recognition, extraction and the exit pass over
// in-memory files with a failed call: nothing written outside the work folder or deleted
// outside the executable's, and every file, block, sum and error mode given back.
#include <algorithm>

#include "base/paths.h"
#include "tests/unit/payload_fake_platform.h"

using namespace payload_fake;

// The launcher's extraction refuses a stream too short for its length: it never ends
// the process.
void EndProcessOnShortStream() { abort(); }

// A path the reader made must be the folder and one file name that stays in it: walked a
// character at a time, no separator, colon or control character, and not only the dots
// and spaces that Windows strips.
static void CheckInside(const std::string& path, const std::string& folder, LeadByteRule lead) {
  if (path.compare(0, folder.size(), folder) != 0 || path.size() >= PathCapacity ||
      path.find_first_not_of(". ", folder.size()) == std::string::npos)
    abort();
  for (size_t i = folder.size(); i < path.size(); ++i) {
    uint8_t b = uint8_t(path[i]);
    if (lead(b) ? ++i == path.size() : b < 0x20 || b == '\\' || b == '/' || b == ':') abort();
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  // Control bytes: faults, the work folder's length, the code page and the disk's room,
  // layout, the damage done after sealing, and the call that fails (0 for none).
  const uint8_t faults = data[0], folderLength = data[1], disk = data[2], layout = data[3];
  const uint8_t harm = data[4], failCall = data[5];
  const bool seal = faults & 16 && !(layout & 1);
  std::string image(reinterpret_cast<const char*>(data) + 6, size - 6);
  // Unless the layout takes the input as it is: a stub, the header from the input with
  // the magic (tamed, so that most inputs get as far as writing files), the rest as entry
  // data, and a trailer. A sealed image's header lies after its record.
  uint32_t headerAt = (layout >> 2) * 4 + (seal ? 512 : 0);
  if (!(layout & 1)) {
    image.resize(std::max<size_t>(image.size(), PayloadHeaderSize));
    image = std::string(headerAt, 'M') + image + std::string(reinterpret_cast<char*>(&headerAt), 4);
    PayloadHeader h;
    memcpy(&h, &image[headerAt], sizeof h);
    h.magic = PayloadMagic;
    if (layout & 2) {
      const uint32_t fileSize = uint32_t(image.size());
      h.entryCount = int32_t(uint32_t(h.entryCount) % 6);
      h.extractCount = int32_t(uint32_t(h.extractCount) % (h.entryCount + 1));
      h.movieOffset &= 0x7FFFFFFF;
      for (PayloadEntry& e : h.entries) {
        e.offset = int32_t(uint32_t(e.offset) % fileSize);
        e.size = int32_t(uint32_t(e.size) % (fileSize - e.offset + 1));
        e.name[uint8_t(e.name[0]) % sizeof e.name] = 0;
        e.extension[e.extension[0] & 3] = 0;
        e.extractExtension[uint8_t(e.extractExtension[0]) % 7] = 0;
      }
    }
    memcpy(&image[headerAt], &h, sizeof h);
  }
  if (seal) {
    // Sealed, then cut at the end or one byte changed anywhere.
    image = SealImage(image, headerAt);
    if (harm & 0x80) image.resize(image.size() - std::min<size_t>(image.size(), harm & 0x7F));
    if (harm != 0 && !(harm & 0x80)) image[harm * 2654435761u % image.size()] ^= 0x5A;
  }

  const std::string exeFolder = "D:\\GAMES\\", exe = exeFolder + "MOVIE.EXE";
  FakePlatform f, g;  // the launch, the exit pass
  f.files[exe] = g.files[exe] = image;
  f.errorMode = g.errorMode = 0x8001;
  f.codePage = g.codePage = disk & 128 ? ShiftJisCodePage : SingleByteCodePage;
  f.workFolder = "C:\\" + std::string(folderLength, 'w') + "\\";
  if (faults & 1) f.largestAllocation = 4096u >> (faults >> 5);
  f.diskSpace = (disk & 63) * 1024;  // an entry announcing 4 GiB stops soon
  f.failCall = failCall;
  PayloadPlatform calls = f.Calls();
  uint32_t result = 7;
  if (OpenPayload(&calls, exe.c_str(), 1, &result, nullptr) ? result > ExtractDamaged : result != 7)
    abort();
  for (const std::string& line : f.log)
    CheckInside(line.substr(line.find(' ') + 1), f.workFolder, f.codePage);
  calls = g.Calls();
  DeleteLeadingEntryFiles(&calls, exe.c_str());
  for (const std::string& line : g.log) CheckInside(line.substr(7), exeFolder, g.codePage);
  if (!f.Clean(0x8001) || !g.Clean(0x8001)) abort();
  return 0;
}
