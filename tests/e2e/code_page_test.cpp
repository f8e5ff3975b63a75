// Projectors as users outside the ASCII world meet them, on the shipped build under Wine:
// double-byte names whose second byte is 0x5C (code page 932), folder and temporary
// paths that code page 1252 cannot spell, and current directories up to Windows' limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/e2e/harness.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

// Wine's ANSI code page follows the locale it runs in.
const char Japanese[] = "ja_JP.UTF-8";  // code page 932: "表" is 95 5C, "ソ" 83 5C
const char Western[] = "en_US.UTF-8";   // code page 1252: no Cyrillic, no kana

// A file laid beside the projector: a copy of a test library, or a line of text.
struct Beside {
  std::string name;
  std::string library;  // the file copied, or empty for text
};
Beside Runtime(const std::string& name) { return {name, TestRuntime()}; }
// A runtime without an entry point: loading it in place of cine.dll fails the launch.
Beside Decoy(const std::string& name) { return {name, NoExportRuntime()}; }
Beside Text(const std::string& name) { return {name, ""}; }

struct Projector {
  std::string exe;
  std::string folder;                // below the sandbox's app/, or empty for app/ itself
  bool packed;                       // carries the test runtime as its one extracted entry
  std::vector<std::string> leading;  // its leading entries, deleted beside it at exit
  bool bitmap;                       // its splash bitmap lies beside it
};
Projector Bare(const std::string& exe) { return {exe, "", false, {}, false}; }
Projector Packed(const std::string& exe, const std::vector<std::string>& leading = {}) {
  return {exe, "", true, leading, false};
}
// Packed, with a leading README.TXT and its bitmap, in `folder`.
Projector PackedIn(const std::string& folder, const std::string& exe) {
  return {exe, folder, true, {"README.TXT"}, true};
}

// TMP and the current directory of the start; empty names keep the sandbox's own.
struct Start {
  std::string tmp;       // a folder of that name below the sandbox's tmp/
  std::string cwdUnit;   // the current directory: folders named with this text repeated,
  size_t cwdLength = 0;  // `cwdLength` characters long as a Windows path (0: one folder)
};
Start Plain() { return {}; }
Start TempFolderNamed(const std::string& name) { return {name, "", 0}; }
Start CurrentDirectoryNamed(const std::string& name) { return {"", name, 0}; }
Start CurrentDirectoryOf(size_t length, const std::string& unit = "d") {
  return {"", unit, length};
}

enum class Check {
  RuntimeBeside,   // the runtime loaded is the cine.dll beside the projector
  StartRestored,   // the runtime runs in the current directory it was started in
  SplashShown,     // the bitmap beside the projector was found
  WorkFolderUsed,  // an existing work folder path reached the runtime; it is gone at exit
  Deleted,         // this file beside the projector is gone at exit
  Kept,            // this one is still there
};
struct Expect {
  Check check;
  std::string file;
};
Expect Gone(const std::string& file) { return {Check::Deleted, file}; }
Expect Still(const std::string& file) { return {Check::Kept, file}; }
Expect Is(Check check) { return {check, ""}; }

struct Row {
  const char* name;
  const char* locale;  // null: the test process's
  Projector projector;
  std::vector<Beside> beside;
  Start start;
  int location;  // where the runtime was loaded from: 1 beside the projector, 2 the work folder
  std::vector<Expect> expect;
};
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

// Rows in logical groups: the projector, what lies around it and how it starts, the outcome.
// clang-format off
const Row Rows[] = {
    // The exit pass deletes README.TXT beside 表.EXE, not 表README.TXT.
    {"leading_entry_beside_hyo", Japanese, Packed("表.EXE", {"README.TXT"}),
     {Text("README.TXT"), Text("表README.TXT")}, Plain(),
     2, {Gone("README.TXT"), Still("表README.TXT")}},
    {"runtime_beside_so", Japanese, Bare("ソ.EXE"),
     {Runtime("cine.dll"), Decoy("ソcine.dll")}, Plain(),
     1, {Is(Check::RuntimeBeside)}},
    // Folder and file names that 1252 cannot spell.
    {"cyrillic_projector", Western, PackedIn("Фильм", "Кино.EXE"),
     {Text("README.TXT")}, Plain(),
     2, {Is(Check::SplashShown), Gone("README.TXT"), Is(Check::WorkFolderUsed)}},
    {"cyrillic_temp_folder", Western, Packed("MOVIE.EXE"),
     {}, TempFolderNamed("Временная"),
     2, {Is(Check::WorkFolderUsed)}},
    // Put back after the search, though 1252 spells it only as "?????".
    {"cyrillic_current_directory", Western, Bare("MOVIE.EXE"),
     {Runtime("cine.dll")}, CurrentDirectoryNamed("Папка"),
     1, {Is(Check::StartRestored)}},
    // Up to the longest a program can start in: 258 characters, which with the backslash
    // Windows keeps after them fill MAX_PATH. (Under Wine no program starts in 259.)
    {"current_directory_257", nullptr, Bare("MOVIE.EXE"),
     {Runtime("cine.dll")}, CurrentDirectoryOf(257),
     1, {Is(Check::StartRestored)}},
    {"current_directory_258", nullptr, Bare("MOVIE.EXE"),
     {Runtime("cine.dll")}, CurrentDirectoryOf(258),
     1, {Is(Check::StartRestored)}},
    // 250 characters, most of them 表: over 400 bytes in the ANSI form.
    {"double_byte_current_directory", Japanese, Bare("MOVIE.EXE"),
     {Runtime("cine.dll")}, CurrentDirectoryOf(250, "表"),
     1, {}},
};
// clang-format on

// Characters of a UTF-8 text: its bytes that start one.
size_t Characters(const std::string& text) {
  size_t count = 0;
  for (char c : text) count += (static_cast<uint8_t>(c) & 0xC0) != 0x80;
  return count;
}

// A folder below `root` named with `unit` repeated, whose Windows path is `length`
// characters long; or, for a length of 0, one folder named `unit`.
std::string CurrentDirectory(const std::string& root, const Start& start) {
  if (start.cwdLength == 0) return root + "/" + start.cwdUnit;
  std::string path = root + "/" + start.cwdUnit;
  const size_t perName = std::min<size_t>(99, 240 / start.cwdUnit.size());  // Unix: 255 bytes
  for (size_t have; (have = Characters(ToWindowsPath(path))) < start.cwdLength;) {
    size_t room = start.cwdLength - have;
    if (room == 1) {
      path += "e";
      continue;
    }
    path += "/";
    for (size_t n = 0; n < std::min(room - 1, perName); ++n) path += start.cwdUnit;
  }
  return path;
}

// A Windows path as code page 1252 spells it: "?" for every character beyond it.
std::string SpelledIn1252(const std::string& utf8) {
  std::string spelled;
  for (size_t i = 0; i < utf8.size(); ++i) {
    uint8_t c = static_cast<uint8_t>(utf8[i]);
    if (c < 0x80) spelled += utf8[i];
    if (c >= 0xC0) spelled += '?';
  }
  return spelled;
}

class CodePageLaunches : public testing::TestWithParam<Row> {};

TEST_P(CodePageLaunches, FindAndDeleteExactlyTheirFiles) {
  const Row& row = GetParam();
  Sandbox box = MakeSandbox(std::string("codepage_") + row.name);
  const Projector& projector = row.projector;
  std::string folder = box.app + (projector.folder.empty() ? "" : "/" + projector.folder);
  LaunchSpec spec = SandboxSpec(box);
  spec.exe = folder + "/" + projector.exe;
  if (row.locale) spec.locale = row.locale;
  if (!row.start.tmp.empty()) MakeDirs(spec.tmp = box.tmp + "/" + row.start.tmp);
  if (!row.start.cwdUnit.empty()) MakeDirs(spec.cwd = CurrentDirectory(box.root, row.start));
  MakeDirs(folder);
  if (projector.packed) {
    std::string pack = "build --stub " + Launcher() + " --movie '" + box.root + "/movie.dat' -o '" +
                       spec.exe + "' --extract " + TestRuntime();
    for (const std::string& name : projector.leading) pack += " --leading " + name;
    WriteFile(box.root + "/movie.dat", "QMV1movie");
    std::string out;
    ASSERT_EQ(RunCinepack(pack, &out), 0) << out;
  } else {
    CopyFile(Launcher(), spec.exe);
  }
  if (projector.bitmap) {
    std::string bitmap = spec.exe.substr(0, spec.exe.rfind('.')) + ".BMP";
    ASSERT_EQ(system(("convert -size 8x8 xc:red BMP3:'" + bitmap + "'").c_str()), 0);
  }
  for (const Beside& file : row.beside) {
    if (file.library.empty()) WriteFile(folder + "/" + file.name, "beside " + file.name);
    if (!file.library.empty()) CopyFile(file.library, folder + "/" + file.name);
  }

  LaunchResult r = Launch(box, spec);
  EXPECT_EQ(r.exitCode, 0) << r.probeOutput;
  EXPECT_EQ(r.box["text"], "") << "no failure message";
  EXPECT_EQ(r.report["runtimeLocation"], std::to_string(row.location));
  for (const Expect& e : row.expect) {
    std::string workFolder = r.report["workFolder"];
    switch (e.check) {
      case Check::RuntimeBeside:
        EXPECT_EQ(ToLower(r.report["runtime_path"]), ToLower(ToWindowsPath(folder) + "\\cine.dll"));
        break;
      case Check::StartRestored:
        EXPECT_EQ(r.report["cwd"], SpelledIn1252(ToWindowsPath(spec.cwd)));
        break;
      case Check::SplashShown:
        EXPECT_EQ(r.report["closeSplash_set"], "1");
        break;
      case Check::WorkFolderUsed:
        EXPECT_EQ(workFolder.find('?'), std::string::npos) << workFolder;
        EXPECT_NE(workFolder.find("TempFolder.aaa\\"), std::string::npos) << workFolder;
        // The runtime lists the folder through the path it was handed.
        EXPECT_EQ(std::count_if(r.workFiles.begin(), r.workFiles.end(),
                                [](const std::string& f) { return f.rfind("cine.dll ", 0) == 0; }),
                  1);
        EXPECT_EQ(ListDir(spec.tmp), std::vector<std::string>()) << "left in TMP";
        break;
      case Check::Deleted:
      case Check::Kept:
        EXPECT_EQ(Exists(folder + "/" + e.file), e.check == Check::Kept) << e.file;
        break;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Table, CodePageLaunches, testing::ValuesIn(Rows),
                         [](const testing::TestParamInfo<Row>& info) { return info.param.name; });

}  // namespace
}  // namespace e2e
