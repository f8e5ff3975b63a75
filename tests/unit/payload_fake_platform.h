// An in-memory stand-in for the payload reader's Win32 calls, which can fail the Nth call
// that can fail, and builders of executable images that carry a payload.
#pragma once
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "lzari/lzari_encoder.h"
#include "payload/crc32.h"
#include "payload/payload_integrity.h"
#include "payload/payload_reader.h"

namespace payload_fake {

enum class Call { None, Open, Create, Seek, Read, Write, Allocate, Lock, WorkFolder };

// The call that failed, and what was going on when it did.
struct Failure {
  Call call = Call::None;
  uint32_t flags = 0;       // an allocation's
  bool copying = false;     // a copy buffer was locked
  bool extracting = false;  // the work folder had been asked for
};

struct FakePlatform {
  struct Open {
    std::string path;
    int64_t position;
  };
  std::map<std::string, std::string> files;
  std::map<int32_t, Open> open;
  std::set<std::string> uncreatable;  // held by another program
  uint32_t largestAllocation = 0xFFFFFFFF;
  // Never unlimited, so that a stream announcing gigabytes fails fast.
  int64_t diskSpace = 64 << 20;
  // The failCall-th call that can fail (from 1) fails as the system's does: -1, a null
  // block, half a write.
  int failCall = 0;
  int calls = 0;
  Failure failed;
  std::string workFolder = "C:\\TEMP\\TempFolder.aaa\\";
  LeadByteRule codePage = SingleByteCodePage;
  std::vector<std::string> log;                            // "create P", "delete P"
  std::vector<std::pair<uint32_t, uint32_t>> allocations;  // flags, size
  std::map<void*, std::vector<char>> blocks;               // live ones
  int locked = 0;
  uint32_t errorMode = 0x8000;
  int dialogsOn = 0;  // files created, written or deleted with critical-error dialogs on
  int workFolderCalls = 0;
  // A block handed to the sum is summed only at the next sum call, as a second processor
  // might, so a copy that changes it early sums the wrong bytes.
  bool summing = false;
  uint32_t sum = 0;
  const void* pendingBlock = nullptr;
  uint32_t pendingCount = 0;

  bool Fails(Call call, uint32_t flags = 0) {
    if (++calls != failCall) return false;
    failed = {call, flags, locked > 0, workFolderCalls > 0};
    return true;
  }
  bool Clean(uint32_t mode = 0x8000) const {
    return open.empty() && blocks.empty() && locked == 0 && !summing && errorMode == mode &&
           dialogsOn == 0;
  }
  PayloadPlatform Calls();
};

inline FakePlatform* F(void* c) { return static_cast<FakePlatform*>(c); }

inline FakePlatform::Open* Opened(void* c, PayloadFile file) {
  auto found = F(c)->open.find(file);
  return found == F(c)->open.end() ? nullptr : &found->second;
}

inline PayloadFile Track(void* c, const char* path) {
  const PayloadFile handle = 3 + (F(c)->open.empty() ? 0 : F(c)->open.rbegin()->first);
  F(c)->open[handle] = {path, 0};
  return handle;
}

inline void SumPending(FakePlatform* f) {
  if (f->pendingBlock == nullptr) return;
  f->sum = UpdateCrc32(f->sum, static_cast<const uint8_t*>(f->pendingBlock), f->pendingCount);
  f->pendingBlock = nullptr;
}

inline PayloadPlatform FakePlatform::Calls() {
  PayloadPlatform p;
  p.context = this;
  p.openFile = [](void* c, const char* path) {
    if (F(c)->Fails(Call::Open) || !F(c)->files.count(path)) return PayloadFileError;
    return Track(c, path);
  };
  p.createFile = [](void* c, const char* path) {
    F(c)->log.push_back(std::string("create ") + path);
    F(c)->dialogsOn += F(c)->errorMode != 1;
    if (F(c)->Fails(Call::Create) || F(c)->uncreatable.count(path)) return PayloadFileError;
    F(c)->files[path] = "";
    return Track(c, path);
  };
  p.seekFile = [](void* c, PayloadFile file, int32_t offset, int32_t origin) -> int32_t {
    FakePlatform::Open* o = Opened(c, file);
    if (F(c)->Fails(Call::Seek) || o == nullptr) return -1;
    const int64_t at = offset + (origin == 2 ? int64_t(F(c)->files[o->path].size()) : 0);
    if (at < 0 || at > INT32_MAX) return -1;
    o->position = at;  // past the end is allowed
    return int32_t(at);
  };
  p.readFile = [](void* c, PayloadFile file, void* buffer, int32_t count) -> int32_t {
    FakePlatform::Open* o = Opened(c, file);
    if (F(c)->Fails(Call::Read) || o == nullptr || count < 0) return -1;
    const std::string& data = F(c)->files[o->path];
    const int64_t n = std::clamp<int64_t>(int64_t(data.size()) - o->position, 0, count);
    if (n > 0) memcpy(buffer, data.data() + o->position, size_t(n));
    o->position += n;
    return int32_t(n);
  };
  p.writeFile = [](void* c, PayloadFile file, const void* buffer, int32_t count) -> int32_t {
    FakePlatform* f = F(c);
    FakePlatform::Open* o = Opened(c, file);
    const bool fails = f->Fails(Call::Write);
    f->dialogsOn += f->errorMode != 1;
    if (o == nullptr || count < 0 || (fails && count < 2)) return -1;
    const int64_t n = std::min<int64_t>(fails ? count / 2 : count, f->diskSpace);
    f->diskSpace -= n;
    std::string& data = f->files[o->path];
    data.resize(std::max<size_t>(data.size(), size_t(o->position + n)));
    if (n > 0) memcpy(&data[size_t(o->position)], buffer, size_t(n));
    o->position += n;
    return int32_t(n);
  };
  p.closeFile = [](void* c, PayloadFile file) { F(c)->open.erase(file); };
  p.deleteFile = [](void* c, const char* path) {
    F(c)->log.push_back(std::string("delete ") + path);
    F(c)->dialogsOn += F(c)->errorMode != 1;
    F(c)->files.erase(path);
  };
  p.pathExists = [](void* c, const char* path) { return int(F(c)->files.count(path)); };
  p.allocateMemory = [](void* c, uint32_t flags, uint32_t size) -> void* {
    F(c)->allocations.push_back({flags, size});
    if (F(c)->Fails(Call::Allocate, flags) || size > F(c)->largestAllocation) return nullptr;
    std::vector<char> memory(size + 1, flags & 0x40 ? 0 : 0xA5);  // fixed memory is not cleared
    return F(c)->blocks.emplace(memory.data(), std::move(memory)).first->first;
  };
  p.lockMemory = [](void* c, void* block) -> void* {
    if (F(c)->Fails(Call::Lock) || !F(c)->blocks.count(block)) return nullptr;
    ++F(c)->locked;
    return block;
  };
  p.unlockMemory = [](void* c, void*) { --F(c)->locked; };
  p.freeMemory = [](void* c, void* block) {
    if (F(c)->blocks.erase(block) == 0) abort();  // never allocated, or freed twice
  };
  p.setErrorMode = [](void* c, uint32_t mode) { return std::exchange(F(c)->errorMode, mode); };
  p.getWorkFolder = [](void* c, char* out) {
    ++F(c)->workFolderCalls;
    if (F(c)->Fails(Call::WorkFolder)) return 0;
    strcpy(out, F(c)->workFolder.c_str());
    return 1;
  };
  p.beginSum = [](void* c) {
    F(c)->summing = true;
    F(c)->sum = 0;
    F(c)->pendingBlock = nullptr;
  };
  p.addToSum = [](void* c, const void* block, uint32_t count) {
    SumPending(F(c));
    F(c)->pendingBlock = block;
    F(c)->pendingCount = count;
  };
  p.endSum = [](void* c) {
    SumPending(F(c));
    F(c)->summing = false;
    return F(c)->sum;
  };
  p.isLeadByte = codePage;
  return p;
}

// A slot with its text fields filled as far as they hold (no terminator when full).
inline PayloadEntry Entry(const std::string& name, const std::string& ext,
                          const std::string& extract) {
  PayloadEntry e = {};
  memcpy(e.name, name.data(), std::min(name.size(), sizeof e.name));
  memcpy(e.extension, ext.data(), std::min(ext.size(), sizeof e.extension));
  memcpy(e.extractExtension, extract.data(), std::min(extract.size(), sizeof e.extractExtension));
  return e;
}

struct EntrySpec {
  std::string name, extension, extractExtension;
  std::string data;       // what lies in the file
  int32_t size = -1;      // -1: the data's length
  std::string text = {};  // what its extracted file holds
  std::string FileName() const { return name + "." + extractExtension; }
};

inline const uint8_t* Bytes(const std::string& s) {
  return reinterpret_cast<const uint8_t*>(s.data());
}

// Noise with repeats, so that a stream holds literals and matches alike.
inline std::string Sample(size_t n, uint32_t seed) {
  std::string s(n, 0);
  for (char& c : s) c = char((seed = seed * 1103515245u + 12345u) >> 16);
  for (size_t at = 200; at + 50 < n; at += 97) s.replace(at, 40, s, at - 150, 40);
  return s;
}

inline EntrySpec Stored(const std::string& name, const std::string& ext, const std::string& data) {
  return EntrySpec{name, ext, ext, data, -1, data};
}

// Packed with the packer's encoder, under an extension ending in "_".
inline EntrySpec Compressed(const std::string& name, const std::string& ext,
                            const std::string& text) {
  const std::vector<uint8_t> packed = LzariEncode(Bytes(text), text.size());
  return EntrySpec{name, ext.substr(0, 2) + "_", ext, {packed.begin(), packed.end()}, -1, text};
}

const char Exe[] = "D:\\GAMES\\MOVIE.EXE";

// Whether the files are the executable and the first `count` of `entries`, extracted.
inline bool Holds(const FakePlatform& fake, const std::vector<EntrySpec>& entries, size_t count) {
  std::map<std::string, std::string> files = {{Exe, fake.files.at(Exe)}};
  for (size_t i = 0; i < count; ++i)
    files[fake.workFolder + entries[i].FileName()] = entries[i].text;
  return fake.files == files;
}

const uint32_t HeaderAt = 512;

// Stub bytes up to the header, the entries' data, a movie, the trailer.
inline std::string MakeImage(const std::vector<EntrySpec>& entries, int32_t extractCount,
                             uint32_t flags = 0, uint32_t flags2 = 0,
                             uint32_t headerAt = HeaderAt) {
  PayloadHeader h = {0, 0, flags, flags2, int32_t(entries.size()), extractCount, {}, 0, 0};
  memcpy(&h.magic, "10MC", 4);
  std::string data;
  for (size_t i = 0; i < entries.size(); ++i) {
    const EntrySpec& e = entries[i];
    h.entries[i] = Entry(e.name, e.extension, e.extractExtension);
    h.entries[i].offset = int32_t(headerAt + sizeof h + data.size());
    h.entries[i].size = e.size >= 0 ? e.size : int32_t(e.data.size());
    data += e.data;
  }
  h.movieOffset = int32_t(headerAt + sizeof h + data.size());
  const std::string header(reinterpret_cast<const char*>(&h), sizeof h);
  return std::string(headerAt, 'M') + header + data + "MOVIE" +
         std::string(reinterpret_cast<const char*>(&headerAt), 4);
}

inline void PutLE(std::string& image, size_t at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) image[at + i] = char(value >> (8 * i));
}

// Where the PE32 headers written here, their optional header, directories and sections lie.
const size_t PeAt = 0x40, Optional = PeAt + 24, Directories = Optional + 96,
             Sections = Optional + 224;

// PE headers at the start of `image`: one section, an optional header of `magic` with 16
// directories, and the security directory naming a certificate table.
inline void PutPeHeaders(std::string& image, uint32_t magic, uint32_t tableOffset,
                         uint32_t tableSize) {
  const size_t directories = Directories + (magic == 0x20B ? 16 : 0);
  image.replace(0, 2, "MZ");
  image.replace(PeAt, 4, std::string("PE\0\0", 4));
  PutLE(image, 0x3C, PeAt, 4);
  PutLE(image, PeAt + 6, 1, 2);
  PutLE(image, PeAt + 20, magic == 0x20B ? 240 : 224, 2);
  PutLE(image, Optional, magic, 2);
  PutLE(image, directories - 4, 16, 4);
  PutLE(image, directories + 32, tableOffset, 4);
  PutLE(image, directories + 36, tableSize, 4);
}

// `image` signed after `padding` zero bytes, as a signing tool pads it: its movie first
// made longer, so that the padding takes it to a multiple of 8.
inline std::string Signed(std::string image, size_t padding) {
  while ((image.size() + padding) % 8 != 0) image.insert(image.size() - 4, 1, 'V');
  image.append(padding, '\0');
  PutPeHeaders(image, 0x10B, uint32_t(image.size()), 1480);
  return image + std::string(1480, 'C');
}

// Where a sealed image's sections end, and so where its integrity record lies: after the
// headers and the one section table entry, before HeaderAt.
const uint32_t ImageEnd = 448;
const uint32_t SectionAt = 0x180;

// PE headers at the start of `image` whose one section's raw data ends at `end`.
inline void PutImageEnd(std::string& image, uint32_t end) {
  PutPeHeaders(image, 0x10B, 0, 0);
  PutLE(image, Optional + 60, SectionAt, 4);        // SizeOfHeaders
  PutLE(image, Sections + 16, end - SectionAt, 4);  // SizeOfRawData
  PutLE(image, Sections + 20, SectionAt, 4);        // PointerToRawData
}

// The integrity record the packer would write for `image` and its header at `headerAt`.
inline IntegrityRecord RecordFor(const std::string& image, uint32_t headerAt) {
  PayloadHeader h;
  memcpy(&h, &image[headerAt], sizeof h);
  IntegrityRecord r = {};
  r.packedLength = uint32_t(image.size());
  PrepareCrc32();
  for (int32_t i = 0; i < h.entryCount && i < PayloadSlotCount; ++i) {
    const PayloadEntry& e = h.entries[i];
    size_t at = e.offset < 0 ? image.size() : std::min<size_t>(size_t(e.offset), image.size());
    const std::string data = image.substr(at, e.size < 0 ? 0 : size_t(e.size));
    r.entryCrc[i] = UpdateCrc32(0, Bytes(data), uint32_t(data.size()));
  }
  SealIntegrityRecord(&r, &h, headerAt);
  return r;
}

// `image` (its header at `headerAt`, past ImageEnd + 40) with PE headers and the
// integrity record after its image.
inline std::string SealImage(std::string image, uint32_t headerAt = HeaderAt) {
  PutImageEnd(image, ImageEnd);
  IntegrityRecord r = RecordFor(image, headerAt);
  return image.replace(ImageEnd, sizeof r, reinterpret_cast<const char*>(&r), sizeof r);
}

// What OpenPayload said of `image`, run as Exe; the result stays Untouched, and the
// descriptor's words 0xBEEF, unless a payload was recognised.
const uint32_t Untouched = 0xDEAD;
struct Outcome {
  int recognised;
  uint32_t result;
  PayloadDescriptor descriptor;
};

inline Outcome Unpack(FakePlatform& fake, const std::string& image) {
  fake.files[Exe] = image;
  const PayloadPlatform calls = fake.Calls();
  Outcome run = {0, Untouched, {0xBEEF, 0xBEEF}};
  run.recognised = OpenPayload(&calls, Exe, 1, &run.result, &run.descriptor);
  return run;
}

}  // namespace payload_fake
