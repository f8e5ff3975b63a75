// Any header and entry table, in either code page, sealed with the integrity record or
// not and then damaged or not, through recognition, extraction and the exit pass over
// in-memory files with injected faults: nothing written outside the work folder or
// deleted outside the executable's, and every file, block, sum and error mode given back.
#include <algorithm>
#include <cstdlib>

#include "base/paths.h"
#include "tests/unit/payload_fake_platform.h"

using payload_fake::Call;
using payload_fake::FakePlatform;

// The launcher's extraction refuses a stream too short for its length: it never ends
// the process.
void EndProcessOnShortStream() { abort(); }

namespace {

// A path the reader made must be the folder and one file name that stays in it: walked a
// character at a time, no separator, colon or control character, and not only the dots
// and spaces that Windows strips.
void CheckInside(const std::string& path, const std::string& folder, LeadByteRule isLeadByte) {
  if (path.compare(0, folder.size(), folder) != 0 || path.size() >= PathCapacity ||
      path.find_first_not_of(". ", folder.size()) == std::string::npos)
    abort();
  for (size_t i = folder.size(); i < path.size(); ++i) {
    uint8_t b = static_cast<uint8_t>(path[i]);
    if (isLeadByte(b) ? ++i == path.size() : b < 0x20 || b == '\\' || b == '/' || b == ':') abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  // Control bytes: faults, the work folder's length, the disk's room and code page, layout,
  // the damage done after sealing, and whether to seal it.
  const uint8_t faults = data[0], folderLength = data[1], disk = data[2], layout = data[3];
  const uint8_t harm = data[4], options = data[5];
  const bool seal = options & 1 && !(layout & 1);
  std::string image(reinterpret_cast<const char*>(data) + 6, size - 6);
  // Unless the layout takes the input as it is: a stub, the header from the input
  // (usually with the right magic), the rest as entry data, and a trailer. A sealed
  // image's header lies after its record.
  uint32_t headerAt = (layout >> 2) * 4 + (seal ? 512 : 0);
  PayloadHeader h = {};
  if (!(layout & 1)) {
    image.resize(std::max<size_t>(image.size(), PayloadHeaderSize));
    image = std::string(headerAt, 'M') + image + std::string(reinterpret_cast<char*>(&headerAt), 4);
    memcpy(&h, &image[headerAt], sizeof h);
    if (!(layout & 2)) h.magic = PayloadMagic;
    if (faults & 16) {
      // Tamed, so that most inputs get as far as writing files.
      uint32_t fileSize = static_cast<uint32_t>(image.size());
      h.entryCount = static_cast<int32_t>(static_cast<uint32_t>(h.entryCount) % 6);
      h.extractCount =
          static_cast<int32_t>(static_cast<uint32_t>(h.extractCount) % (h.entryCount + 1));
      h.movieOffset &= 0x7FFFFFFF;
      for (PayloadEntry& e : h.entries) {
        e.offset = static_cast<int32_t>(static_cast<uint32_t>(e.offset) % fileSize);
        e.size = static_cast<int32_t>(static_cast<uint32_t>(e.size) % (fileSize - e.offset + 1));
        e.name[static_cast<uint8_t>(e.name[0]) % sizeof e.name] = e.extension[e.extension[0] & 3] =
            e.extractExtension[static_cast<uint8_t>(e.extractExtension[0]) %
                               sizeof e.extractExtension] = 0;
      }
    }
    memcpy(&image[headerAt], &h, sizeof h);
  }
  // Sealed, then damaged: cut at the end, or one byte changed anywhere.
  const bool harmed = seal && harm != 0;
  if (seal) {
    image = payload_fake::SealImage(image, headerAt);
    if (harmed && harm & 0x80)
      image.resize(image.size() - std::min<size_t>(image.size(), harm & 0x7F));
    if (harmed && !(harm & 0x80)) image[harm * 2654435761u % image.size()] ^= 0x5A;
  }

  const std::string exeFolder = "D:\\GAMES\\", exe = exeFolder + "MOVIE.EXE";
  FakePlatform f, g;  // the launch, the exit pass
  f.files[exe] = g.files[exe] = image;
  f.errorMode = g.errorMode = 0x8001;
  f.codePage = g.codePage = disk & 128 ? payload_fake::CodePage932 : SingleByteCodePage;
  f.workFolder = "C:\\" + std::string(folderLength, 'w') + "\\";
  if (faults & 1) f.largestAllocation = 4096u >> (faults >> 5);
  // Less than the 32 KiB extraction buffer unless the input gives up to 63 KiB: an entry
  // announcing up to 4 GiB stops at its first full buffer.
  f.diskSpace = faults & 2 ? (disk & 63) * 1024 : 20000;
  if (faults & 4) f.failCall = 1 + options / 2;  // one of the first 128 calls that can fail
  if (faults & 8) f.uncreatable.insert(f.workFolder + "cine.dll");
  PayloadPlatform calls = f.Calls();
  uint32_t result = 7;
  int recognised = OpenPayload(&calls, exe.c_str(), 1, &result, nullptr);
  // Whether the payload was looked for without a failed call.
  const bool looked = f.failed.call == Call::None || f.failed.extracting;
  // With the magic in place, only a movie offset that cannot be reached is refused.
  if ((recognised ? result > ExtractDamaged : result != 7) ||
      (looked && !(layout & 3) && !harmed && recognised != (h.movieOffset >= 0)))
    abort();
  // A write refused is claimed only where one was: no folder, no file, no room or memory.
  if (result == ExtractNotWritten && f.diskSpace != 0 && !(faults & (1 | 8)) &&
      f.failed.call == Call::None)
    abort();
  for (const std::string& line : f.log)
    CheckInside(line.substr(line.find(' ') + 1), f.workFolder, f.codePage);
  // Files are written only for a table whose every name stays in its folder.
  if (looked && recognised && result == ExtractDone && !(layout & 1) && h.extractCount != 0 &&
      !harmed && !HasValidEntryTable(&h, f.codePage))
    abort();

  calls = g.Calls();
  DeleteLeadingEntryFiles(&calls, exe.c_str());
  for (const std::string& line : g.log)
    CheckInside(line.rfind("delete ", 0) ? "" : line.substr(7), exeFolder, g.codePage);
  for (const FakePlatform* p : {&f, &g})
    if (!p->Clean(0x8001)) abort();
  return 0;
}
