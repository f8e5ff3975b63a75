// The launch sequence: splash, payload, libraries, runtime call, cleanup, outcome.
#include <windows.h>
#include "launcher/launch_error.h"
#include "launcher/launch_params.h"
#include "launcher/launch_ui.h"
#include "launcher/runtime_call.h"
#include "launcher/runtime_location.h"
#include "payload/payload_reader.h"
#include "splash/splash.h"
#include "workfolder/work_folder.h"

namespace {
// The runtime result before the runtime has been called.
const int RuntimeNotCalled = 3;
}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine,
                   int showCommand) {
  LaunchParams params = {0, 0, 0, 0, 0, 0, 0};
  HMODULE runtimeModule = 0;
  HMODULE msvcrtModule = 0;
  int runtimeResult = RuntimeNotCalled;
  LaunchError outcome = NoLaunchError;
  RuntimeLocation location = RuntimeNowhere;

  DWORD splashThreadId = StartSplash();

  // Steps that may fail jump to the release, which runs exactly once on every path.
  do {
    if (!UnpackPayload(instance, &params.payloadOption)) {
      outcome = ExtractionFailed;
      break;
    }
    outcome = EnsureMsvcrt(&msvcrtModule);
    if (outcome != NoLaunchError) break;
    outcome = LocateRuntime(&runtimeModule, &location);
    if (outcome != NoLaunchError) break;
    CinemorphMainProc entry = reinterpret_cast<CinemorphMainProc>(
        reinterpret_cast<void*>(GetProcAddress(runtimeModule, "CinemorphMain")));
    if (entry == 0) {
      outcome = EntryPointMissing;
      break;
    }
    params.version = LaunchParamsVersion;
    params.size = sizeof(LaunchParams);
    if (splashThreadId != 0) {
      params.closeSplash = CloseSplash;
      params.splashThreadId = splashThreadId;
    }
    params.workFolder = WorkFolder;
    params.runtimeLocation = location;
    runtimeResult =
        CallCinemorphMain(entry, instance, previous, commandLine, showCommand, &params);
  } while (0);

  if (runtimeModule != 0) FreeLibrary(runtimeModule);
  if (msvcrtModule != 0) FreeLibrary(msvcrtModule);
  RemovePayloadFiles(instance);

  if (runtimeResult == 0) {
    outcome = RuntimeFailed;
  } else if (runtimeResult == 1) {
    RestartSystem(1);
  } else if (runtimeResult == 2) {
    RestartSystem(0);
  }

  if (outcome != NoLaunchError) ShowLaunchError(instance, outcome);
  return runtimeResult == 0 ? 1 : 0;
}
