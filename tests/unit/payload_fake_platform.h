// An in-memory stand-in for the Win32 calls of the payload reader: files, the global
// heap, the error mode and the work folder, with the faults a test needs to inject.
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

struct OpenFile {
  std::string path;
  int64_t position = 0;
  bool writable = false;
};

struct Block {
  uint32_t flags;
  uint32_t size;
  void* memory;
  int locks = 0;
};

// Code page 932's lead bytes: their second byte may be 0x5C, a backslash on its own.
inline int CodePage932(uint8_t byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

struct FakePlatform {
  std::map<std::string, std::string> files;
  std::set<std::string> folders;
  std::map<int32_t, OpenFile> open;
  int32_t nextHandle = 3;

  // Faults.
  std::set<std::string> uncreatable;   // createFile fails (held open elsewhere)
  uint32_t largestAllocation = 0xFFFFFFFF;  // larger requests fail
  int64_t diskSpace = -1;              // bytes the disk still takes; -1 unlimited
  int shortWriteAt = 0;                // the n-th write call (from 1) is one byte short
  int failWriteAt = 0;                 // the n-th write call answers -1
  bool workFolderFails = false;
  std::string workFolder = "C:\\TEMP\\TempFolder.aaa\\";
  LeadByteRule codePage = SingleByteCodePage;

  // What happened.
  std::vector<std::string> log;        // "create P", "delete P"
  std::vector<int32_t> writeSizes;     // every write to a file open for writing
  int writeCalls = 0;                  // every write call, refused ones included
  std::vector<std::pair<uint32_t, uint32_t>> allocations;  // flags, size
  std::map<void*, Block> blocks;       // live blocks
  uint32_t errorMode = 0;
  std::vector<uint32_t> errorModes;    // every mode set
  int workFolderCalls = 0;

  ~FakePlatform() {
    for (auto& b : blocks) free(b.second.memory);
  }

  PayloadPlatform Calls();
};

inline FakePlatform* Self(void* context) { return static_cast<FakePlatform*>(context); }

inline PayloadFile OpenForReading(void* c, const char* path) {
  FakePlatform* f = Self(c);
  if (!f->files.count(path)) return PayloadFileError;
  int32_t handle = f->nextHandle++;
  f->open[handle] = OpenFile{path, 0, false};
  return handle;
}

inline PayloadFile CreateFile(void* c, const char* path) {
  FakePlatform* f = Self(c);
  f->log.push_back(std::string("create ") + path);
  if (f->uncreatable.count(path) || f->folders.count(path)) return PayloadFileError;
  f->files[path] = "";
  int32_t handle = f->nextHandle++;
  f->open[handle] = OpenFile{path, 0, true};
  return handle;
}

inline int32_t SeekFile(void* c, PayloadFile file, int32_t offset, int32_t origin) {
  FakePlatform* f = Self(c);
  auto it = f->open.find(file);
  if (it == f->open.end()) return -1;
  int64_t base = origin == 2 ? static_cast<int64_t>(f->files[it->second.path].size()) : 0;
  int64_t position = base + offset;
  if (position < 0 || position > INT32_MAX) return -1;
  it->second.position = position;  // past the end is allowed, as on Windows
  return static_cast<int32_t>(position);
}

inline int32_t ReadFile(void* c, PayloadFile file, void* buffer, int32_t count) {
  FakePlatform* f = Self(c);
  auto it = f->open.find(file);
  if (it == f->open.end() || count < 0) return -1;
  const std::string& data = f->files[it->second.path];
  int64_t available = static_cast<int64_t>(data.size()) - it->second.position;
  if (available < 0) available = 0;
  int32_t n = static_cast<int32_t>(available < count ? available : count);
  if (n > 0) memcpy(buffer, data.data() + it->second.position, n);
  it->second.position += n;
  return n;
}

inline int32_t WriteFile(void* c, PayloadFile file, const void* buffer, int32_t count) {
  FakePlatform* f = Self(c);
  ++f->writeCalls;
  auto it = f->open.find(file);
  if (it == f->open.end() || !it->second.writable || count < 0) return -1;
  f->writeSizes.push_back(count);
  if (f->writeCalls == f->failWriteAt) return -1;
  int32_t n = f->writeCalls == f->shortWriteAt && count > 0 ? count - 1 : count;
  if (f->diskSpace >= 0 && n > f->diskSpace) n = static_cast<int32_t>(f->diskSpace);
  if (f->diskSpace >= 0) f->diskSpace -= n;
  std::string& data = f->files[it->second.path];
  if (static_cast<int64_t>(data.size()) < it->second.position + n) {
    data.resize(it->second.position + n);
  }
  if (n > 0) memcpy(&data[it->second.position], buffer, n);
  it->second.position += n;
  return n;
}

inline void CloseFile(void* c, PayloadFile file) { Self(c)->open.erase(file); }

inline void DeleteFile(void* c, const char* path) {
  FakePlatform* f = Self(c);
  f->log.push_back(std::string("delete ") + path);
  f->files.erase(path);
}

inline int PathExists(void* c, const char* path) {
  FakePlatform* f = Self(c);
  return f->files.count(path) || f->folders.count(path);
}

inline void* AllocateMemory(void* c, uint32_t flags, uint32_t size) {
  FakePlatform* f = Self(c);
  f->allocations.push_back({flags, size});
  if (size > f->largestAllocation) return nullptr;
  void* memory = flags & 0x40 ? calloc(size ? size : 1, 1) : malloc(size ? size : 1);
  if (!(flags & 0x40)) memset(memory, 0xA5, size);  // fixed memory is not cleared
  f->blocks[memory] = Block{flags, size, memory, 0};
  return memory;
}

inline void* LockMemory(void* c, void* block) {
  FakePlatform* f = Self(c);
  auto it = f->blocks.find(block);
  if (it == f->blocks.end()) return nullptr;
  ++it->second.locks;
  return block;
}

inline void UnlockMemory(void* c, void* block) { --Self(c)->blocks.at(block).locks; }

inline void FreeMemory(void* c, void* block) {
  FakePlatform* f = Self(c);
  auto it = f->blocks.find(block);
  if (it == f->blocks.end()) abort();  // freeing what was never allocated
  free(it->second.memory);
  f->blocks.erase(it);
}

inline uint32_t SetErrorMode(void* c, uint32_t mode) {
  FakePlatform* f = Self(c);
  uint32_t previous = f->errorMode;
  f->errorMode = mode;
  f->errorModes.push_back(mode);
  return previous;
}

inline int GetWorkFolder(void* c, char* out) {
  FakePlatform* f = Self(c);
  ++f->workFolderCalls;
  if (f->workFolderFails) return 0;
  f->folders.insert(f->workFolder);
  strcpy(out, f->workFolder.c_str());
  return 1;
}

inline PayloadPlatform FakePlatform::Calls() {
  return PayloadPlatform{this,         OpenForReading, CreateFile,   SeekFile,
                         ReadFile,     WriteFile,      CloseFile,    DeleteFile,
                         PathExists,   AllocateMemory, LockMemory,   UnlockMemory,
                         FreeMemory,   SetErrorMode,   GetWorkFolder, codePage};
}

// Builds executable images with a payload for the tests.
struct EntrySpec {
  std::string name;
  std::string extension;
  std::string extractExtension;
  std::string data;          // what lies in the file at the entry's offset
  int32_t offset = -1;       // -1: where the data is placed
  int32_t size = -1;         // -1: the data's length
};

inline void PutText(char* field, size_t width, const std::string& text) {
  memset(field, 0, width);
  memcpy(field, text.data(), text.size() < width ? text.size() : width);
}

// Stub bytes, the header at `headerOffset`, entry data after it, a movie, the trailer.
inline std::string MakeImage(const std::vector<EntrySpec>& entries, int32_t extractCount,
                             uint32_t flags = 0, uint32_t flags2 = 0,
                             PayloadHeader* headerOut = nullptr) {
  const uint32_t headerOffset = 512;
  std::string image(headerOffset, 'M');
  PayloadHeader header;
  memset(&header, 0, sizeof header);
  header.magic = PayloadMagic;
  header.flags = flags;
  header.flags2 = flags2;
  header.entryCount = static_cast<int32_t>(entries.size());
  header.extractCount = extractCount;
  std::string data;
  int32_t at = headerOffset + PayloadHeaderSize;
  for (size_t i = 0; i < entries.size() && i < 5; ++i) {
    const EntrySpec& e = entries[i];
    PayloadEntry& slot = header.entries[i];
    slot.offset = e.offset >= 0 ? e.offset : at;
    slot.size = e.size >= 0 ? e.size : static_cast<int32_t>(e.data.size());
    PutText(slot.name, sizeof slot.name, e.name);
    PutText(slot.extension, sizeof slot.extension, e.extension);
    PutText(slot.extractExtension, sizeof slot.extractExtension, e.extractExtension);
    data += e.data;
    at += static_cast<int32_t>(e.data.size());
  }
  header.movieOffset = at;
  image.append(reinterpret_cast<const char*>(&header), sizeof header);
  image += data;
  image += "MOVIE";
  image.append(reinterpret_cast<const char*>(&headerOffset), 4);
  if (headerOut) *headerOut = header;
  return image;
}

}  // namespace payload_fake
