// The launcher's own pure decisions: the player's download address, the browser command
// built from the registered one, and the arguments after the program's name.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "launcher/command_line.h"
#include "launcher/launch_error_text.h"

namespace {

// The segment comes from the primary language (ten bits); an address that does not fit
// is not half-built, nor written past its buffer.
TEST(DownloadAddress, PerPrimaryLanguageAndWithinItsBuffer) {
  const std::string path = "lumenreel/download/?P1_Prod_Version=LRArchive10.1.0";
  const uint32_t exact = uint32_t(strlen(DownloadBaseAddress) + 3 + path.size() + 1);
  struct Case {
    uint32_t languageId;
    const char* segment;
    uint32_t capacity = MessageTextCapacity;
  };
  for (Case c : {Case{0x0C07, "de/"},
                 {0xFC07, "de/"},
                 {0x040C, "fr/"},
                 {0x0411, "jp/"},
                 {0x0412, "ko/"},
                 {0x0409, ""},
                 {0x0107, ""},
                 {0x0412, "ko/", exact},
                 {0x0412, nullptr, exact - 1}}) {
    char buffer[MessageTextCapacity + 1];
    memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(ComposeDownloadUrl(buffer, c.capacity, c.languageId), c.segment ? 1 : 0);
    EXPECT_EQ(buffer, c.segment ? "http://www.quorvant.example.com/" + (c.segment + path) : "")
        << std::hex << c.languageId;
    EXPECT_EQ(buffer[c.capacity], 'X') << "written past the buffer";
  }
}

TEST(BrowserCommand, ProgramPathFromTheRegisteredCommandThenTheAddress) {
  const char url[] = "http://h.example.com/x";
  // The longest path that fits with a space, the address and the terminator.
  const std::string longest(BrowserCommandCapacity - strlen(url) - 2, 'p');
  struct Case {
    std::string registered;
    const char* path;
  };  // null: nothing to run
  for (const Case& c :
       {Case{"\"D:\\Program Files\\b.exe\" -nohome", "D:\\Program Files\\b.exe"},
        {"D:\\Program Files\\b.exe", "D:\\Program"},
        {"\t \"D:\\B\\b.exe\"", "D:\\B\\b.exe"},
        {"\"D:\\No Close\\b.exe -x", "D:\\No Close\\b.exe -x"},  // missing closing quote
        {"D:\\Tab\tIn\\b.exe -x", "D:\\Tab\tIn\\b.exe"},         // a tab does not end it
        {"", nullptr},
        {"\"\" -nohome", nullptr},
        {longest, longest.c_str()},
        {longest + "p", nullptr}}) {
    char command[BrowserCommandCapacity + 8];
    memset(command, 'X', sizeof command);
    strcpy(command, c.registered.c_str());
    EXPECT_EQ(ComposeBrowserCommand(command, BrowserCommandCapacity, url), c.path ? 1 : 0)
        << c.registered;
    EXPECT_EQ(command, c.path ? std::string(c.path) + " " + url : "") << c.registered;
    EXPECT_EQ(std::string(command + BrowserCommandCapacity, 8), "XXXXXXXX") << c.registered;
  }
}

TEST(SkipProgramName, LeavesTheArgumentsByteForByte) {
  struct Case {
    const char* commandLine;
    const char* arguments;
  };
  for (Case c : {Case{"MOVIE.EXE", ""},
                 {"\"C:\\My Games\\M.EXE\" -x  \"a b\" ", "-x  \"a b\" "},
                 {"\"C:\\My Games\\M.EXE\"-x", "-x"},
                 {"\"C:\\unterminated", ""},
                 {"M.EXE \t  tail", "tail"},
                 {"C:\\Sp\xe9\x63ial\\M.EXE arg", "arg"},
                 {"\"\" rest", "rest"}})
    EXPECT_STREQ(SkipProgramName(c.commandLine), c.arguments) << c.commandLine;
}

}  // namespace
