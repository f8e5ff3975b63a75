// An in-memory stand-in for the payload reader's Win32 calls, with the faults a test
// injects, and a builder of executable images that carry a payload.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "payload/payload_reader.h"

namespace payload_fake {

// Code page 932's lead bytes: their second byte may be 0x5C, a backslash on its own.
inline int CodePage932(uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

struct FakePlatform {
  std::map<std::string, std::string> files;
  std::set<std::string> folders;
  struct Open { std::string path; int64_t position; bool writable; };
  std::map<int32_t, Open> open;
  int32_t nextHandle = 3;
  // Faults. The disk is never unlimited: a decoder fault that writes gigabytes is
  // refused here and fails fast instead of filling memory.
  std::set<std::string> uncreatable;
  uint32_t largestAllocation = 0xFFFFFFFF;
  int64_t diskSpace = 64 << 20;
  bool workFolderFails = false;
  std::string workFolder = "C:\\TEMP\\TempFolder.aaa\\";
  LeadByteRule codePage = SingleByteCodePage;
  // What happened.
  std::vector<std::string> log;  // "create P", "delete P"
  std::vector<int32_t> writeSizes;
  std::vector<std::pair<uint32_t, uint32_t>> allocations;  // flags, size
  std::map<void*, uint32_t> blocks;                        // live blocks
  uint32_t errorMode = 0x8000;
  std::vector<uint32_t> errorModes;
  int workFolderCalls = 0;

  ~FakePlatform() {
    for (auto& b : blocks) free(b.first);
  }
  PayloadPlatform Calls();
};

inline FakePlatform* F(void* c) { return static_cast<FakePlatform*>(c); }

inline PayloadFile Track(FakePlatform* f, const std::string& path, bool writable) {
  f->open[f->nextHandle] = {path, 0, writable};
  return f->nextHandle++;
}

inline PayloadPlatform FakePlatform::Calls() {
  PayloadPlatform p;
  p.context = this;
  p.openFile = [](void* c, const char* path) {
    return F(c)->files.count(path) ? Track(F(c), path, false) : PayloadFileError;
  };
  p.createFile = [](void* c, const char* path) {
    FakePlatform* f = F(c);
    f->log.push_back(std::string("create ") + path);
    if (f->uncreatable.count(path) || f->folders.count(path)) return PayloadFileError;
    f->files[path] = "";
    return Track(f, path, true);
  };
  p.seekFile = [](void* c, PayloadFile file, int32_t offset, int32_t origin) -> int32_t {
    auto it = F(c)->open.find(file);
    if (it == F(c)->open.end()) return -1;
    int64_t at = (origin == 2 ? int64_t(F(c)->files[it->second.path].size()) : 0) + offset;
    if (at < 0 || at > INT32_MAX) return -1;
    it->second.position = at;  // past the end is allowed, as on Windows
    return int32_t(at);
  };
  p.readFile = [](void* c, PayloadFile file, void* buffer, int32_t count) -> int32_t {
    auto it = F(c)->open.find(file);
    if (it == F(c)->open.end() || count < 0) return -1;
    const std::string& data = F(c)->files[it->second.path];
    int64_t n = std::max<int64_t>(0, std::min<int64_t>(count, int64_t(data.size()) - it->second.position));
    if (n > 0) memcpy(buffer, data.data() + it->second.position, n);
    it->second.position += n;
    return int32_t(n);
  };
  p.writeFile = [](void* c, PayloadFile file, const void* buffer, int32_t count) -> int32_t {
    FakePlatform* f = F(c);
    auto it = f->open.find(file);
    if (it == f->open.end()) return -1;
    f->writeSizes.push_back(count);  // refused ones too
    if (!it->second.writable || count < 0) return -1;
    int32_t n = int32_t(std::min<int64_t>(count, f->diskSpace));
    f->diskSpace -= n;
    std::string& data = f->files[it->second.path];
    if (int64_t(data.size()) < it->second.position + n) data.resize(it->second.position + n);
    if (n > 0) memcpy(&data[it->second.position], buffer, n);
    it->second.position += n;
    return n;
  };
  p.closeFile = [](void* c, PayloadFile file) { F(c)->open.erase(file); };
  p.deleteFile = [](void* c, const char* path) {
    F(c)->log.push_back(std::string("delete ") + path);
    F(c)->files.erase(path);
  };
  p.pathExists = [](void* c, const char* path) -> int {
    return F(c)->files.count(path) || F(c)->folders.count(path);
  };
  p.allocateMemory = [](void* c, uint32_t flags, uint32_t size) -> void* {
    FakePlatform* f = F(c);
    f->allocations.push_back({flags, size});
    if (size > f->largestAllocation) return nullptr;
    void* memory = malloc(size ? size : 1);
    memset(memory, flags & 0x40 ? 0 : 0xA5, size);  // fixed memory is not cleared
    f->blocks[memory] = size;
    return memory;
  };
  p.lockMemory = [](void* c, void* block) { return F(c)->blocks.count(block) ? block : nullptr; };
  p.unlockMemory = [](void*, void*) {};
  p.freeMemory = [](void* c, void* block) {
    if (!F(c)->blocks.erase(block)) abort();  // freeing what was never allocated
    free(block);
  };
  p.setErrorMode = [](void* c, uint32_t mode) {
    F(c)->errorModes.push_back(mode);
    std::swap(F(c)->errorMode, mode);
    return mode;
  };
  p.getWorkFolder = [](void* c, char* out) -> int {
    FakePlatform* f = F(c);
    ++f->workFolderCalls;
    if (f->workFolderFails) return 0;
    f->folders.insert(f->workFolder);
    strcpy(out, f->workFolder.c_str());
    return 1;
  };
  p.isLeadByte = codePage;
  return p;
}

struct EntrySpec {
  std::string name, extension, extractExtension;
  std::string data;     // what lies in the file at the entry's offset
  int32_t offset = -1;  // -1: where the data is placed
  int32_t size = -1;    // -1: the data's length
};

const uint32_t HeaderAt = 512;

// Stub bytes, the header at HeaderAt, the entries' data, a movie, the trailer.
inline std::string MakeImage(const std::vector<EntrySpec>& entries, int32_t extractCount,
                             uint32_t flags = 0, uint32_t flags2 = 0) {
  PayloadHeader h;
  memset(&h, 0, sizeof h);
  h.magic = PayloadMagic;
  h.flags = flags;
  h.flags2 = flags2;
  h.entryCount = int32_t(entries.size());
  h.extractCount = extractCount;
  std::string data;
  for (size_t i = 0; i < entries.size() && i < 5; ++i) {
    const EntrySpec& e = entries[i];
    PayloadEntry& slot = h.entries[i];
    slot.offset = e.offset >= 0 ? e.offset : int32_t(HeaderAt + PayloadHeaderSize + data.size());
    slot.size = e.size >= 0 ? e.size : int32_t(e.data.size());
    strncpy(slot.name, e.name.c_str(), sizeof slot.name);
    strncpy(slot.extension, e.extension.c_str(), sizeof slot.extension);
    strncpy(slot.extractExtension, e.extractExtension.c_str(), sizeof slot.extractExtension);
    data += e.data;
  }
  h.movieOffset = int32_t(HeaderAt + PayloadHeaderSize + data.size());
  std::string image(HeaderAt, 'M');
  image.append(reinterpret_cast<const char*>(&h), sizeof h);
  image += data + "MOVIE";
  image.append(reinterpret_cast<const char*>(&HeaderAt), 4);
  return image;
}

inline void PutLE(std::string& image, size_t at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) image[at + i] = char(value >> (8 * i));
}

// PE headers at the start of `image`: one section, an optional header of `magic` with 16
// directories, and the security directory naming a certificate table.
inline void PutPeHeaders(std::string& image, uint32_t magic, uint32_t tableOffset,
                         uint32_t tableSize) {
  const size_t pe = 0x40, directories = pe + 24 + (magic == 0x20B ? 112 : 96);
  image.replace(0, 2, "MZ");
  PutLE(image, 0x3C, pe, 4);
  image.replace(pe, 4, std::string("PE\0\0", 4));
  PutLE(image, pe + 6, 1, 2);
  PutLE(image, pe + 20, magic == 0x20B ? 240 : 224, 2);
  PutLE(image, pe + 24, magic, 2);
  PutLE(image, directories - 4, 16, 4);
  PutLE(image, directories + 32, tableOffset, 4);
  PutLE(image, directories + 36, tableSize, 4);
}

}  // namespace payload_fake
