// Which string and which message box style a failed launch is reported with, and the
// text work behind the player download offer: its address and the browser command.
#pragma once
#include <stdint.h>
#include "launcher/launch_error.h"

// String table identifiers of the failure messages.
const uint32_t CaptionStringId = 1000;
const uint32_t CannotCreateFilesStringId = 1001;
const uint32_t MsvcrtMissingStringId = 1002;
const uint32_t PlayerMissingStringId = 1003;
const uint32_t CannotRunStringId = 1004;
const uint32_t DamagedStringId = 1005;

struct LaunchErrorMessage {
  uint32_t textId;
  uint32_t style;      // MB_ICONHAND, with MB_OKCANCEL for the download offer
  int offersDownload;  // 1 only for RuntimeNotFound
};

LaunchErrorMessage ChooseLaunchErrorMessage(LaunchError code);

// Buffer sizes of the failure message: caption, text (which later holds the download
// address) and the registry reads in which the browser command is built.
const uint32_t CaptionCapacity = 32;
const uint32_t MessageTextCapacity = 256;
const uint32_t BrowserCommandCapacity = 520;

// The download site of the shared player. The only place the host is named.
const char DownloadBaseAddress[] = "http://www.quorvant.example.com/";

// The download address's language segment for a Windows language id ("de/", "fr/",
// "jp/", "ko/"), or "" when the site has no pages in that language. Only the primary
// language (low 10 bits) counts.
const char* ChooseLanguageSegment(uint32_t languageId);

// Writes the download address for `languageId` into `buffer` of `capacity` bytes.
// Returns 1, or 0 (and an empty buffer) when it does not fit.
int ComposeDownloadUrl(char* buffer, uint32_t capacity, uint32_t languageId);

// Turns the registered ".htm" open command in `command` (a terminated string in a
// buffer of `capacity` bytes) into the command that opens `address`: the program path
// alone, unquoted, one space, the address. Returns 1 when there is a command to run,
// 0 when there is none (empty command or path, or no room); the buffer is then empty.
int ComposeBrowserCommand(char* command, uint32_t capacity, const char* address);
