// The download address per language and the browser command built from the
// registered ".htm" command.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "launcher/launch_error_text.h"

namespace {

const char DownloadPath[] = "lumenreel/download/?P1_Prod_Version=LRArchive10.1.0";

std::string Address(const char* segment) {
  return std::string(DownloadBaseAddress) + segment + DownloadPath;
}

TEST(DownloadAddress, BaseIsAnHttpAddressEndingInASlash) {
  std::string base = DownloadBaseAddress;
  EXPECT_EQ(base.rfind("http://", 0), 0u);
  EXPECT_EQ(base.back(), '/');
  EXPECT_EQ(base.find(' '), std::string::npos);
}

TEST(DownloadAddress, LanguageSegmentComesFromThePrimaryLanguageOnly) {
  struct Case { uint32_t languageId; const char* segment; };
  const Case cases[] = {
      {0x0407, "de/"},  // German
      {0x0807, "de/"},  // German (Switzerland)
      {0x0C07, "de/"},  // German (Austria)
      {0x040C, "fr/"},  // French
      {0x0C0C, "fr/"},  // French (Canada)
      {0x0411, "jp/"},  // Japanese
      {0x0412, "ko/"},  // Korean
      {0x0804, ""},     // Chinese (Simplified): primary 4, no pages
      {0x0404, ""},     // Chinese (Traditional)
      {0x0409, ""},     // English
      {0x0809, ""},     // English (United Kingdom)
      {0x0410, ""},     // Italian
      {0x0000, ""},     // neutral
      {0xFC07, "de/"},  // every sublanguage bit set
      {0x0007, "de/"},  // primary alone
      {0x0107, ""},     // primary 0x107: the mask is ten bits wide, not eight
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(ChooseLanguageSegment(c.languageId), c.segment) << std::hex << c.languageId;
    char buffer[MessageTextCapacity];
    memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(ComposeDownloadUrl(buffer, sizeof buffer, c.languageId), 1);
    EXPECT_EQ(buffer, Address(c.segment)) << std::hex << c.languageId;
  }
}

TEST(DownloadAddress, FitsItsBufferAndNeverWritesPastASmallerOne) {
  // The longest address, with a segment, fits the message text buffer.
  EXPECT_LT(Address("de/").size() + 1, MessageTextCapacity);
  const uint32_t exact = static_cast<uint32_t>(Address("ko/").size()) + 1;
  char buffer[MessageTextCapacity];
  memset(buffer, 'X', sizeof buffer);
  EXPECT_EQ(ComposeDownloadUrl(buffer, exact, 0x0412), 1);
  EXPECT_EQ(buffer, Address("ko/"));
  // One byte short: nothing half-built, nothing past the given capacity.
  memset(buffer, 'X', sizeof buffer);
  EXPECT_EQ(ComposeDownloadUrl(buffer, exact - 1, 0x0412), 0);
  EXPECT_EQ(buffer[0], 0);
  for (uint32_t i = exact - 1; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], 'X') << i;
}

const char Url[] = "http://h.example.com/x";

TEST(BrowserCommand, ProgramPathFromTheRegisteredCommandThenTheAddress) {
  struct Case { const char* registered; const char* path; };  // null path: nothing to run
  const Case cases[] = {
      {"\"D:\\Program Files\\Browser\\browser.exe\" -nohome",
       "D:\\Program Files\\Browser\\browser.exe"},
      {"  D:\\Browser\\browser.exe %1", "D:\\Browser\\browser.exe"},
      {"D:\\Program Files\\b.exe", "D:\\Program"},
      {"D:\\Browser\\browser.exe", "D:\\Browser\\browser.exe"},
      {"\t \"D:\\B\\b.exe\"", "D:\\B\\b.exe"},
      {"\"D:\\Program Files\\b.exe\"\"%1\"", "D:\\Program Files\\b.exe"},
      {"\"D:\\No Close\\b.exe -x", "D:\\No Close\\b.exe -x"},   // missing closing quote
      {"D:\\Tab\tIn\\b.exe -x", "D:\\Tab\tIn\\b.exe"},           // a tab does not end it
      {"b.exe \"%1\"", "b.exe"},
      {"", nullptr},
      {"  \t ", nullptr},
      {"\"\" -nohome", nullptr},  // an empty quoted path names no program
      {"\"", nullptr},
  };
  for (const Case& c : cases) {
    char command[BrowserCommandCapacity];
    memset(command, 'X', sizeof command);
    strcpy(command, c.registered);
    int made = ComposeBrowserCommand(command, sizeof command, Url);
    if (c.path) {
      EXPECT_EQ(made, 1) << c.registered;
      EXPECT_EQ(std::string(command), std::string(c.path) + " " + Url) << c.registered;
    } else {
      EXPECT_EQ(made, 0) << c.registered;
      EXPECT_STREQ(command, "") << c.registered;
    }
  }
}

TEST(BrowserCommand, PathAndAddressThatDoNotFitRunNothing) {
  const uint32_t urlLength = static_cast<uint32_t>(strlen(Url));
  struct Case { bool quoted; uint32_t pathLength; int made; };
  // Path, space, address and terminator: exactly the buffer, then one more.
  const uint32_t fits = BrowserCommandCapacity - urlLength - 2;
  const Case cases[] = {
      {false, fits, 1},
      {false, fits + 1, 0},
      {true, fits, 1},
      {true, fits + 1, 0},
      {false, BrowserCommandCapacity - 1, 0},  // the registry's longest value
  };
  for (const Case& c : cases) {
    std::string path(c.pathLength, 'p');
    std::string registered = c.quoted ? "\"" + path + "\"" : path;
    if (registered.size() + 1 > BrowserCommandCapacity) registered = path;
    char command[BrowserCommandCapacity + 8];
    memset(command, 'X', sizeof command);
    strcpy(command, registered.c_str());
    EXPECT_EQ(ComposeBrowserCommand(command, BrowserCommandCapacity, Url), c.made)
        << c.pathLength << (c.quoted ? " quoted" : "");
    if (c.made) EXPECT_EQ(std::string(command), path + " " + Url);
    else EXPECT_STREQ(command, "");
    for (uint32_t i = BrowserCommandCapacity; i < sizeof command; ++i) ASSERT_EQ(command[i], 'X');
  }
}

}  // namespace
