// The one report a failed launch makes: a message box from the string table.
#include <windows.h>
#include "launcher/launch_error_text.h"
#include "launcher/launch_ui.h"

void ShowLaunchError(HINSTANCE instance, LaunchError code) {
  LaunchErrorMessage message = ChooseLaunchErrorMessage(code);
  char caption[32];
  char text[256];
  caption[0] = 0;
  text[0] = 0;
  LoadStringA(instance, CaptionStringId, caption, 32);
  LoadStringA(instance, message.textId, text, 255);
  MessageBoxA(0, text, caption, message.style);
}
