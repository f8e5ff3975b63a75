// The launcher of both builds imports from kernel32, user32, gdi32 and advapi32 only.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>

#include "tests/e2e/harness.h"

namespace e2e {
namespace {


// The names of the DLLs in a PE file's import directory, lower-cased; `machine`
// receives the file header's machine field.
std::set<std::string> ImportedDlls(const std::string& image, uint16_t* machine) {
  std::set<std::string> dlls;
  uint32_t pe = ReadLE32(image, 0x3C);
  if (image.compare(pe, 4, std::string("PE\0\0", 4)) != 0) return dlls;
  *machine = ReadLE16(image, pe + 4);
  uint16_t sections = ReadLE16(image, pe + 6);
  uint16_t optionalSize = ReadLE16(image, pe + 20);
  size_t optional = pe + 24;
  bool plus = ReadLE16(image, optional) == 0x20B;
  uint32_t importRva = ReadLE32(image, optional + (plus ? 120 : 104));
  size_t table = optional + optionalSize;
  auto toOffset = [&](uint32_t rva) -> size_t {
    for (uint16_t i = 0; i < sections; ++i) {
      size_t s = table + 40 * i;
      uint32_t va = ReadLE32(image, s + 12), size = ReadLE32(image, s + 8), raw = ReadLE32(image, s + 20);
      if (rva >= va && rva < va + size) return raw + (rva - va);
    }
    return 0;
  };
  for (size_t d = toOffset(importRva); d != 0 && ReadLE32(image, d + 12) != 0; d += 20) {
    std::string name = image.c_str() + toOffset(ReadLE32(image, d + 12));
    dlls.insert(ToLower(name));
  }
  return dlls;
}

TEST(Imports, LauncherUsesOnlyTheFourSystemLibraries) {
  const std::set<std::string> allowed = {"kernel32.dll", "user32.dll", "gdi32.dll",
                                         "advapi32.dll"};
  struct Build { std::string path; uint16_t machine; };
  const Build builds[] = {{Win64Dir() + "/../win32/launcher.exe", 0x14C},
                          {Win64Dir() + "/launcher.exe", 0x8664}};
  for (const Build& b : builds) {
    ASSERT_TRUE(Exists(b.path)) << b.path;
    uint16_t machine = 0;
    std::set<std::string> dlls = ImportedDlls(ReadFile(b.path), &machine);
    EXPECT_EQ(machine, b.machine) << b.path;
    EXPECT_TRUE(dlls.count("kernel32.dll")) << b.path;
    for (const std::string& dll : dlls) EXPECT_TRUE(allowed.count(dll)) << b.path << ": " << dll;
  }
}

}  // namespace
}  // namespace e2e
