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
  for (size_t d = PeDirectoryOffset(image, 1, machine); d != 0 && ReadLE32(image, d + 12) != 0;
       d += 20) {
    std::string name = image.c_str() + PeRvaToOffset(image, ReadLE32(image, d + 12));
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
