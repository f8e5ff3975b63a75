// The one report a failed launch makes: a message box from the string table, and for
// a missing player the offer to open its download page in the browser.
#include "launcher/launch_error_box.h"
#include "base/text.h"
#include "launcher/launch_error_text.h"

namespace {
// Writes the shared player's download address, with the segment for the system's
// default language, into `buffer` of MessageTextCapacity bytes. Returns nonzero.
int BuildDownloadUrl(char* buffer);
// Starts the program registered for opening ".htm" files with `address`. Any failure
// ends it silently.
void OpenInBrowser(const char* address);
}  // namespace

void ShowLaunchError(HINSTANCE instance, LaunchError code) {
  LaunchErrorMessage message = ChooseLaunchErrorMessage(code);
  char caption[CaptionCapacity];
  char text[MessageTextCapacity];
  caption[0] = 0;
  text[0] = 0;
  LoadStringA(instance, CaptionStringId, caption, CaptionCapacity);
  LoadStringA(instance, message.textId, text, MessageTextCapacity - 1);
  // A splash the runtime never closed is topmost and would cover the box, leaving the
  // launch to wait on a message nobody can see. A topmost box comes up above it; the
  // splash stays, behind the message, until the process ends. MB_SYSTEMMODAL means no
  // more than topmost for a box without an owner, and Wine honours only it.
  int answer = MessageBoxA(0, text, caption, message.style | MB_TOPMOST | MB_SYSTEMMODAL);
  if (message.offersDownload && answer == IDOK && BuildDownloadUrl(text)) {
    OpenInBrowser(text);
  }
}

namespace {

int BuildDownloadUrl(char* buffer) {
  return ComposeDownloadUrl(buffer, MessageTextCapacity, GetSystemDefaultLangID());
}

// Reads the default value of HKEY_CLASSES_ROOT\`keyName` into `buffer`
// (BrowserCommandCapacity bytes), which may hold `keyName` itself.
int ReadClassDefault(const char* keyName, char* buffer) {
  HKEY key = 0;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, keyName, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return 0;
  }
  LONG size = BrowserCommandCapacity;
  LONG status = RegQueryValueA(key, 0, buffer, &size);
  RegCloseKey(key);
  // A value that filled the buffer to the last byte may lack its terminator.
  buffer[BrowserCommandCapacity - 1] = 0;
  return status == ERROR_SUCCESS;
}

void OpenInBrowser(const char* address) {
  char command[BrowserCommandCapacity];
  command[0] = 0;
  if (!ReadClassDefault(".htm", command)) return;
  // The file type name plus the verb's key; a name too long for the buffer ends it.
  if (!TextAppend(command, "\\shell\\open\\command", BrowserCommandCapacity)) return;
  if (!ReadClassDefault(command, command)) return;
  if (!ComposeBrowserCommand(command, BrowserCommandCapacity, address)) return;
  WinExec(command, SW_SHOWNORMAL);
}

}  // namespace
