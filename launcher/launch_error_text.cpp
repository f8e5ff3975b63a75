// Which string and which message box style a failed launch is reported with, and the
// text work behind the player download offer: its address and the browser command.
#include "launcher/launch_error_text.h"
#include "base/text.h"

LaunchErrorMessage ChooseLaunchErrorMessage(LaunchError code) {
  const uint32_t iconHand = 0x10;
  const uint32_t okCancel = 0x1;
  switch (code) {
    case MsvcrtMissing:
      return {MsvcrtMissingStringId, iconHand, 0};
    case RuntimeNotFound:
      return {PlayerMissingStringId, iconHand | okCancel, 1};
    case RuntimeLoadFailed:
    case ExtractionFailed:
      return {CannotCreateFilesStringId, iconHand, 0};
    case ProjectorDamaged:
      return {DamagedStringId, iconHand, 0};
    default:
      return {CannotRunStringId, iconHand, 0};
  }
}

const char* ChooseLanguageSegment(uint32_t languageId) {
  // The sublanguage plays no part: French (Canada) gets the French pages.
  switch (languageId & 0x3FF) {
    case 0x07:
      return "de/";
    case 0x0C:
      return "fr/";
    case 0x11:
      return "jp/";
    case 0x12:
      return "ko/";
    default:
      return "";
  }
}

int ComposeDownloadUrl(char* buffer, uint32_t capacity, uint32_t languageId) {
  if (TextCopy(buffer, DownloadBaseAddress, capacity) &&
      TextAppend(buffer, ChooseLanguageSegment(languageId), capacity) &&
      TextAppend(buffer, "lumenreel/download/?P1_Prod_Version=LRArchive", capacity) &&
      TextAppend(buffer, "10.1.0", capacity)) {
    return 1;
  }
  if (capacity > 0) buffer[0] = 0;
  return 0;
}

int ComposeBrowserCommand(char* command, uint32_t capacity, const char* address) {
  uint32_t start = 0;
  while (command[start] == ' ' || command[start] == '\t') ++start;
  uint32_t end = start;
  if (command[start] == '"') {
    // Quoted: up to the closing quote, or the end when it is missing.
    end = ++start;
    while (command[end] != 0 && command[end] != '"') ++end;
  } else {
    // Unquoted: up to the first space; a tab belongs to the path.
    while (command[end] != 0 && command[end] != ' ') ++end;
  }
  uint32_t pathLength = end - start;
  uint32_t addressLength = TextLength(address);
  // An empty path (nothing registered, or just "") names no program. A path and
  // address that do not fit together are not run at all: a cut address would open the
  // wrong page, a cut path might start another program.
  if (pathLength == 0 || pathLength + 1 + addressLength + 1 > capacity) {
    if (capacity > 0) command[0] = 0;
    return 0;
  }
  for (uint32_t i = 0; i < pathLength; ++i) command[i] = command[start + i];
  command[pathLength] = ' ';
  for (uint32_t i = 0; i <= addressLength; ++i) command[pathLength + 1 + i] = address[i];
  return 1;
}
