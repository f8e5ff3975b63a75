// The resources of both builds' launcher: the failure strings, the "CINEMORPH" icon
// group with its nine images, and the version block. Read from the files here, and
// once more through Windows' own resource calls under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "tests/e2e/harness.h"

namespace e2e {
namespace {


// UTF-16 text of the ASCII range, as the resources hold it.
std::string Narrow(const std::string& data, size_t at, size_t units) {
  std::string text;
  for (size_t i = 0; i < units; ++i) text += static_cast<char>(ReadLE16(data, at + 2 * i));
  return text;
}

// A resource's type, name and language: numbers, or names ("#" unused for names).
struct ResourceKey {
  std::string type, name;
  uint32_t language;
  bool operator<(const ResourceKey& o) const {
    return std::tie(type, name, language) < std::tie(o.type, o.name, o.language);
  }
};

// Every resource of a PE file (PE32 or PE32+), keyed by type, name and language.
std::map<ResourceKey, std::string> ReadResources(const std::string& image) {
  std::map<ResourceKey, std::string> resources;
  size_t root = PeDirectoryOffset(image, 2);
  if (root == 0) return resources;
  // One directory level: (id or name, offset of the entry's target) pairs.
  auto entries = [&](size_t dir) {
    std::vector<std::pair<std::string, uint32_t>> list;
    uint16_t count = ReadLE16(image, dir + 12) + ReadLE16(image, dir + 14);
    for (uint16_t i = 0; i < count; ++i) {
      uint32_t id = ReadLE32(image, dir + 16 + 8 * i), target = ReadLE32(image, dir + 20 + 8 * i);
      std::string key = (id & 0x80000000u)
                            ? Narrow(image, root + (id & 0x7FFFFFFF) + 2,
                                     ReadLE16(image, root + (id & 0x7FFFFFFF)))
                            : "#" + std::to_string(id);
      list.push_back({key, target});
    }
    return list;
  };
  for (const auto& type : entries(root)) {
    for (const auto& name : entries(root + (type.second & 0x7FFFFFFF))) {
      for (const auto& language : entries(root + (name.second & 0x7FFFFFFF))) {
        size_t leaf = root + language.second;
        size_t data = PeRvaToOffset(image, ReadLE32(image, leaf));
        uint32_t size = ReadLE32(image, leaf + 4);
        resources[{type.first, name.first, static_cast<uint32_t>(std::stoul(language.first.substr(1)))}] =
            data && data + size <= image.size() ? image.substr(data, size) : "";
      }
    }
  }
  return resources;
}

std::vector<std::string> Builds() {
  return {Launcher()};
}

TEST(Resources, StringTableHoldsTheFailureTextsInUsEnglish) {
  const std::map<int, std::string> expected = {
      {1000, "Application Error"},
      {1001, "This application cannot start as it cannot create needed files. There may not "
             "be enough free disk space."},
      {1002, "This application cannot run, as it could not find the shared library MSVCRT.DLL."},
      {1003, "This application requires Lumenreel Player 10, which is not installed. Click OK "
             "to download it."},
      {1004, "This application cannot run."},
  };
  for (const std::string& build : Builds()) {
    SCOPED_TRACE(build);
    auto resources = ReadResources(ReadFile(build));
    // Strings 992 to 1007 share block 63; each is a length and its UTF-16 units.
    auto block = resources.find({"#6", "#63", 1033});
    ASSERT_NE(block, resources.end());
    size_t at = 0;
    for (int id = 992; id < 1008; ++id) {
      uint16_t length = ReadLE16(block->second, at);
      std::string text = Narrow(block->second, at + 2, length);
      at += 2 + 2 * length;
      auto want = expected.find(id);
      EXPECT_EQ(text, want == expected.end() ? "" : want->second) << id;
    }
    int stringBlocks = 0;
    for (const auto& r : resources) stringBlocks += r.first.type == "#6";
    EXPECT_EQ(stringBlocks, 1);
  }
}

TEST(Resources, IconGroupHasNineImagesAtThreeSizesAndThreeDepths) {
  for (const std::string& build : Builds()) {
    SCOPED_TRACE(build);
    auto resources = ReadResources(ReadFile(build));
    std::string group;
    for (const auto& r : resources) {
      if (r.first.type == "#14" && r.first.name == "CINEMORPH") group = r.second;
    }
    ASSERT_FALSE(group.empty()) << "no icon group named CINEMORPH";
    EXPECT_EQ(ReadLE16(group, 2), 1);  // icons, not cursors
    uint16_t count = ReadLE16(group, 4);
    ASSERT_EQ(count, 9);
    std::set<std::pair<int, int>> formats;
    for (uint16_t i = 0; i < count; ++i) {
      size_t e = 6 + 14 * i;
      int size = static_cast<uint8_t>(group[e]);
      int bpp = ReadLE16(group, e + 6);
      uint16_t id = ReadLE16(group, e + 12);
      SCOPED_TRACE(std::to_string(size) + "px " + std::to_string(bpp) + "bpp");
      formats.insert({size, bpp});
      EXPECT_EQ(static_cast<uint8_t>(group[e + 1]), size);
      EXPECT_EQ(static_cast<uint8_t>(group[e + 2]), bpp == 4 ? 16 : 0);
      std::string image;
      for (const auto& r : resources) {
        if (r.first.type == "#3" && r.first.name == "#" + std::to_string(id)) image = r.second;
      }
      ASSERT_EQ(image.size(), ReadLE32(group, e + 8));
      // The image itself: header, palette, color rows, mask rows.
      EXPECT_EQ(ReadLE32(image, 0), 40u);
      EXPECT_EQ(static_cast<int>(ReadLE32(image, 4)), size);
      EXPECT_EQ(static_cast<int>(ReadLE32(image, 8)), 2 * size);
      EXPECT_EQ(ReadLE16(image, 14), bpp);
      size_t palette = bpp <= 8 ? (4u << bpp) : 0;
      size_t colorRow = ((size * bpp + 31) / 32) * 4, maskRow = ((size + 31) / 32) * 4;
      ASSERT_EQ(image.size(), 40 + palette + (colorRow + maskRow) * size);
      // Rows run bottom-up: the top-left corner is cut off by the rounded tile, the
      // middle is covered, and the design uses more than a couple of colors.
      size_t mask = 40 + palette + colorRow * size;
      auto transparent = [&](int x, int y) {
        uint8_t bits = static_cast<uint8_t>(image[mask + (size - 1 - y) * maskRow + x / 8]);
        return (bits & (0x80 >> (x % 8))) != 0;
      };
      EXPECT_TRUE(transparent(0, 0));
      EXPECT_FALSE(transparent(size / 2, size / 2));
      std::set<uint32_t> colors;
      for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
          size_t row = 40 + palette + (size - 1 - y) * colorRow;
          uint32_t value = bpp == 32 ? ReadLE32(image, row + 4 * x)
                           : bpp == 8 ? static_cast<uint8_t>(image[row + x])
                                      : (static_cast<uint8_t>(image[row + x / 2]) >> (x % 2 ? 0 : 4)) & 15;
          if (!transparent(x, y)) colors.insert(value);
          if (bpp == 32 && transparent(x, y)) {
            EXPECT_EQ(value >> 24, 0u) << x << "," << y;
          }
        }
      }
      EXPECT_GE(colors.size(), 5u);
      if (bpp == 32) {
        EXPECT_EQ(ReadLE32(image, 40 + (size / 2) * colorRow + 4 * (size / 2)) >> 24, 255u);
      }
    }
    const std::set<std::pair<int, int>> expected = {{48, 4}, {32, 4}, {16, 4}, {48, 8}, {32, 8},
                                                    {16, 8}, {48, 32}, {32, 32}, {16, 32}};
    EXPECT_EQ(formats, expected);
  }
}

// One node of a version block: key, value bytes and children.
struct VersionNode {
  std::string key;
  std::string value;
  uint16_t type = 0;
  std::vector<VersionNode> children;
};

VersionNode ParseVersionNode(const std::string& data, size_t at, size_t end) {
  VersionNode node;
  uint16_t length = ReadLE16(data, at);
  uint16_t valueLength = ReadLE16(data, at + 2);
  node.type = ReadLE16(data, at + 4);
  size_t p = at + 6;
  for (; p + 1 < data.size() && ReadLE16(data, p) != 0; p += 2) {
    node.key += static_cast<char>(ReadLE16(data, p));
  }
  p = (p + 2 + 3) & ~size_t(3);
  size_t valueBytes = node.type == 1 ? valueLength * 2u : valueLength;
  node.value = data.substr(p, valueBytes);
  p = (p + valueBytes + 3) & ~size_t(3);
  size_t nodeEnd = std::min(end, at + length);
  while (p + 6 <= nodeEnd && ReadLE16(data, p) != 0) {
    VersionNode child = ParseVersionNode(data, p, nodeEnd);
    node.children.push_back(child);
    p = (p + ReadLE16(data, p) + 3) & ~size_t(3);
  }
  return node;
}

TEST(Resources, VersionBlockIdentifiesTheProduct) {
  const std::map<std::string, std::string> strings = {
      {"CompanyName", "Quorvant"},
      {"FileDescription", "Cinemorph Projector"},
      {"FileVersion", "10.1.0.0"},
      {"InternalName", "CINEMORPH"},
      {"ProductName", "Lumenreel Player 10"},
      {"ProductVersion", "10.1.0.0"},
  };
  for (const std::string& build : Builds()) {
    SCOPED_TRACE(build);
    auto resources = ReadResources(ReadFile(build));
    auto block = resources.find({"#16", "#1", 1033});
    ASSERT_NE(block, resources.end());
    VersionNode root = ParseVersionNode(block->second, 0, block->second.size());
    EXPECT_EQ(root.key, "VS_VERSION_INFO");
    ASSERT_EQ(root.value.size(), 52u);
    EXPECT_EQ(ReadLE32(root.value, 0), 0xFEEF04BDu);
    EXPECT_EQ(ReadLE32(root.value, 8), (10u << 16) | 1u);  // file version 10.1
    EXPECT_EQ(ReadLE32(root.value, 36), 1u);               // VFT_APP
    std::map<std::string, std::string> found;
    std::string translation;
    for (const VersionNode& child : root.children) {
      for (const VersionNode& table : child.children) {
        if (child.key == "StringFileInfo") {
          EXPECT_EQ(table.key, "040904B0");
          for (const VersionNode& v : table.children) {
            std::string text = Narrow(v.value, 0, v.value.size() / 2);
            while (!text.empty() && text.back() == 0) text.pop_back();
            found[v.key] = text;
          }
        } else if (child.key == "VarFileInfo" && table.key == "Translation") {
          translation = table.value;
        }
      }
    }
    for (const auto& s : strings) EXPECT_EQ(found[s.first], s.second) << s.first;
    ASSERT_EQ(translation.size(), 4u);
    EXPECT_EQ(ReadLE16(translation, 0), 0x0409);
    EXPECT_EQ(ReadLE16(translation, 2), 1200);
  }
}

TEST(Resources, WindowsLoadsTheStringsAndMakesEveryIconImage) {
  for (const std::string& build : Builds()) {
    SCOPED_TRACE(build);
    CommandResult r =
        RunWine({ToWindowsPath(WinDir() + "/tests/uidriver.exe"), "resources", ToWindowsPath(build)});
    EXPECT_NE(r.output.find("string.1000=Application Error\r\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("string.1004=This application cannot run.\r\n"), std::string::npos);
    for (int size : {48, 32, 16}) {
      for (int bpp : {4, 8, 32}) {
        std::string line = "icon=" + std::to_string(size) + "x" + std::to_string(size) + "@" +
                           std::to_string(bpp) + " ";
        size_t at = r.output.find(line);
        ASSERT_NE(at, std::string::npos) << line << r.output;
        std::string made = r.output.substr(at, r.output.find('\n', at) - at);
        EXPECT_NE(made.find("made=" + std::to_string(size) + "x" + std::to_string(size)),
                  std::string::npos) << made;
      }
    }
  }
}

}  // namespace
}  // namespace e2e
