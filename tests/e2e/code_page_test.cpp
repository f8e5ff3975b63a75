// Projectors as users outside the ASCII world meet them: double-byte names whose second
// byte is 0x5C (code page 932), folder and temporary paths that code page 1252 cannot
// spell, and current directories up to Windows' limit.
#include "tests/e2e/scenario.h"

namespace e2e {
namespace {

// Wine's ANSI code page follows the locale it runs in.
const char Japanese[] = "ja_JP.UTF-8";  // code page 932: "表" is 95 5C, "ソ" 83 5C
const char Western[] = "en_US.UTF-8";   // code page 1252: no Cyrillic, no kana

// The test runtime as its one extracted entry, and README.TXT as a leading one.
Projector WithReadme(std::string exe) {
  return {.exe = std::move(exe),
          .extract = {Stored("cine.dll", Library(Lib::Test))},
          .leading = {"README.TXT"}};
}

const Scenario CodePages[] = {
    // The exit pass deletes README.TXT beside 表.EXE, not 表README.TXT.
    {.name = "leading_entry_beside_hyo",
     .projector = WithReadme("表.EXE"),
     .given = {Put("app/README.TXT", Bytes("x")), Put("app/表README.TXT", Bytes("x"))},
     .start = {.locale = Japanese},
     .expect = {.received = {Got("runtimeLocation", "2")},
                .exists = {"app/表README.TXT"},
                .gone = {"app/README.TXT"}}},
    // Entries named in Japanese, packed for code page 932, arrive under their names.
    {.name = "entries_named_in_japanese",
     .projector = {.extract = {Stored("cine.dll", Library(Lib::Test)), Stored("表.dat", Text(10)),
                               Compressed("字幕.txt", Text(3000))},
                   .codePage = 932},
     .start = {.locale = Japanese},
     .expect = {.received = {Got("runtimeLocation", "2")}}},
    {.name = "runtime_beside_so",
     .projector = {.exe = "ソ.EXE"},
     .given = {Runtime("app/cine.dll"), Put("app/ソcine.dll", Library(Lib::NoExport))},
     .start = {.locale = Japanese},
     .expect = {.received = {GotPath("runtime_path", In::App, "\\cine.dll")}}},
    // Folder and file names that 1252 cannot spell: the runtime still finds the work
    // folder through the path it is handed.
    {.name = "cyrillic_projector",
     .projector = WithReadme("Фильм/Кино.EXE"),
     .given = {Put("app/Фильм/README.TXT", Bytes("x")),  // deleted at exit
               Put("app/Фильм/Кино.BMP", Bitmap(8, 8))},
     .start = {.locale = Western},
     .expect = {.received = {Got("runtimeLocation", "2"), Got("closeSplash_set", "1")},
                .gone = {"app/Фильм/README.TXT"}}},
    {.name = "cyrillic_temp_folder",
     .projector = WithReadme("MOVIE.EXE"),
     .start = {.locale = Western, .tmpFolder = "Временная"},
     .expect = {.received = {Got("runtimeLocation", "2")}}},
    // Put back after the search, though 1252 spells it only as "?????".
    {.name = "cyrillic_current_directory",
     .given = {Runtime("app/cine.dll")},
     .start = {.locale = Western, .currentDirectory = "Папка"},
     .expect = {.received = {GotPath("cwd", In::Cwd)}}},
    // Up to the longest a program can start in: 258 characters, which with the backslash
    // Windows keeps after them fill MAX_PATH. (Under Wine no program starts in 259.)
    {.name = "current_directory_258",
     .given = {Runtime("app/cine.dll")},
     .start = {.currentDirectoryLength = 258},
     .expect = {.received = {GotPath("cwd", In::Cwd)}}},
    // 250 characters, most of them 表: over 400 bytes in the ANSI form.
    {.name = "double_byte_current_directory",
     .given = {Runtime("app/cine.dll")},
     .start = {.locale = Japanese, .currentDirectory = "表", .currentDirectoryLength = 250},
     .expect = {.received = {Got("runtimeLocation", "1")}}},
};

INSTANTIATE_TEST_SUITE_P(CodePage, Launches, testing::ValuesIn(CodePages), ScenarioName);

// The Windows build of cinepack, its arguments in code page 932: "表" (95 5C) must not
// split a path at its second byte, nor std::filesystem miss a folder named in Japanese.
TEST(WindowsCinepack, PacksVerifiesAndExtractsInJapanese) {
  const std::string folder = MakeSandbox("cinepack_932").root + "/ムービー";
  const std::string w = ToWindowsPath(folder);
  CopyFile(Launcher(), folder + "/launcher.exe");
  WriteFile(folder + "/m.dat", "QMV1movie");
  WriteFile(folder + "/表.dat", "hyo");
  WriteFile(folder + "/字幕.txt", "subtitles");
  auto cinepack = [&](std::vector<std::string> args) {
    args.insert(args.begin(), ToWindowsPath(WinDir() + "/cinepack.exe"));
    int status = -1;
    std::string said = RunWine(args, &status, Japanese);
    EXPECT_EQ(status, 0) << args[1] << ": " << said;
  };
  cinepack({"build", "--stub", w + "\\launcher.exe", "--movie", w + "\\m.dat", "--extract",
            w + "\\表.dat:compress", "--extract", w + "\\字幕.txt", "--code-page", "932", "-o",
            w + "\\映画.EXE"});
  cinepack({"verify", w + "\\映画.EXE"});
  cinepack({"extract", w + "\\映画.EXE", w + "\\出力"});
  EXPECT_EQ(ReadFile(folder + "/出力/表.dat"), "hyo");
  EXPECT_EQ(ReadFile(folder + "/出力/字幕.txt"), "subtitles");
}

}  // namespace
}  // namespace e2e
