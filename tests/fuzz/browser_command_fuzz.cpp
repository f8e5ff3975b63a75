// The browser command built from whatever the registry holds for ".htm": the 520-byte
// buffer lives on the heap at its exact size, so any write past it is caught, and a
// command that is made must be a path taken from the value, a space and the address.
#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "launcher/launch_error_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // First byte picks the language of the address; the rest is the registered value,
  // cut where the registry read would cut it, and at its first zero.
  uint32_t languageId = static_cast<uint32_t>(data[0]) * 0x101;
  std::string value(reinterpret_cast<const char*>(data + 1), size - 1);
  value = value.substr(0, std::min<size_t>(value.find('\0'), BrowserCommandCapacity - 1));

  char address[MessageTextCapacity];
  if (!ComposeDownloadUrl(address, sizeof address, languageId)) abort();

  std::unique_ptr<char[]> command(new char[BrowserCommandCapacity]);
  memcpy(command.get(), value.c_str(), value.size() + 1);
  int made = ComposeBrowserCommand(command.get(), BrowserCommandCapacity, address);
  std::string result = command.get();
  if (!made) {
    if (!result.empty()) abort();
    return 0;
  }
  std::string tail = std::string(" ") + address;
  if (result.size() <= tail.size() || result.compare(result.size() - tail.size(), tail.size(), tail) != 0) {
    abort();
  }
  // The path is a non-empty piece of the value: without quotes when the value starts
  // with one, else without spaces.
  std::string path = result.substr(0, result.size() - tail.size());
  size_t first = value.find_first_not_of(" \t");
  if (path.empty() || first == std::string::npos || value.find(path) == std::string::npos) abort();
  if (value[first] == '"' ? path.find('"') != std::string::npos : path.find(' ') != std::string::npos) {
    abort();
  }
  return 0;
}
