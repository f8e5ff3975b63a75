// Work folder path building on arbitrary temporary paths and listed names: every buffer
// is exactly 260 bytes on the heap, so any write past it is caught.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "base/paths.h"
#include "workfolder/work_folder_name.h"

namespace {

// A terminated string of at most 259 bytes from the input, without inner zeros.
std::string Take(const uint8_t*& data, size_t& size) {
  if (size == 0) return "";
  size_t length = data[0] % PathCapacity;
  ++data;
  --size;
  if (length > size) length = size;
  std::string text(reinterpret_cast<const char*>(data), length);
  for (char& c : text) {
    if (c == 0) c = '\\';
  }
  data += length;
  size -= length;
  return text;
}

void Check(bool condition) {
  if (!condition) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string temp = Take(data, size);
  std::string name = Take(data, size);
  std::unique_ptr<char[]> path(new char[PathCapacity]);
  memcpy(path.get(), temp.c_str(), temp.size() + 1);

  uint32_t length = StartWorkFolderPath(path.get());
  if (length == 0) {
    Check(temp == path.get());
  } else {
    Check(length == strlen(path.get()) && length <= MaxTempPathLength + 14);
    Check(memcmp(path.get() + length - 14, "TempFolder.aaa", 14) == 0);
    // Walk part of the odometer; the letters stay lowercase and the prefix intact.
    for (int i = 0; i < 1000 && AdvanceWorkFolderSuffix(path.get(), length); ++i) {
      for (uint32_t k = length - 3; k < length; ++k) Check(path[k] >= 'a' && path[k] <= 'z');
    }
    Check(strlen(path.get()) == length);
    EnsureTrailingBackslash(path.get(), PathCapacity);
    std::unique_ptr<char[]> lock(new char[PathCapacity]);
    Check(JoinFolderEntry(lock.get(), path.get(), LockFileName) == 1);
  }

  std::unique_ptr<char[]> listed(new char[PathCapacity]);
  if (JoinFolderPath(listed.get(), temp.c_str(), name.c_str())) {
    Check(strlen(listed.get()) < PathCapacity && listed[strlen(listed.get()) - 1] == '\\');
  } else {
    Check(listed[0] == 0);
  }
  memcpy(path.get(), temp.c_str(), temp.size() + 1);
  if (EnsureTrailingBackslash(path.get(), PathCapacity)) {
    Check(strlen(path.get()) >= temp.size() && path[strlen(path.get()) - 1] == '\\');
  } else {
    Check(path[0] == 0);
  }
  return 0;
}
