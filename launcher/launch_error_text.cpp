// Which string and which message box style a failed launch is reported with.
#include "launcher/launch_error_text.h"

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
    default:
      return {CannotRunStringId, iconHand, 0};
  }
}
