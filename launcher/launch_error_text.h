// Which string and which message box style a failed launch is reported with.
#pragma once
#include <stdint.h>
#include "launcher/launch_error.h"

// String table identifiers of the failure messages.
const uint32_t CaptionStringId = 1000;
const uint32_t CannotCreateFilesStringId = 1001;
const uint32_t MsvcrtMissingStringId = 1002;
const uint32_t PlayerMissingStringId = 1003;
const uint32_t CannotRunStringId = 1004;

struct LaunchErrorMessage {
  uint32_t textId;
  uint32_t style;         // MB_ICONHAND, with MB_OKCANCEL for the download offer
  int offersDownload;     // 1 only for RuntimeNotFound
};

LaunchErrorMessage ChooseLaunchErrorMessage(LaunchError code);
