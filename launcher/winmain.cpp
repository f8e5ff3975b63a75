// The launch sequence: every step the launcher takes, in order, from the splash to the
// process exit code. The steps themselves live in the subsystems below.
#include <windows.h>
#include "launcher/launch_error.h"
#include "launcher/launch_error_box.h"
#include "launcher/launch_params.h"
#include "launcher/restart.h"
#include "launcher/runtime_call.h"
#include "launcher/runtime_location.h"
#include "payload/payload_win32.h"
#include "splash/splash.h"
#include "splash/splash_source.h"
#include "workfolder/work_folder.h"

namespace {
// Extracts the payload, a second time after a failed write once abandoned folders are
// gone; NoLaunchError when the launch may go on.
LaunchError ExtractPayload(HINSTANCE instance, uint32_t* payloadOption);
// The release, on every path, in this order: no library is still loaded when its
// folder goes, and a failure message comes only after the work folder is gone.
void ReleaseLaunch(HINSTANCE instance, HMODULE runtimeModule, HMODULE msvcrtModule);
}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand) {
  LaunchParams params = {0, 0, 0, 0, 0, 0, 0};
  HMODULE runtimeModule = 0;
  HMODULE msvcrtModule = 0;
  int runtimeResult = RuntimeNotCalled;
  LaunchError outcome = NoLaunchError;
  RuntimeLocation location = RuntimeNowhere;

  // Splash: the payload header is read for its splash bits alone, then the bitmap.
  PayloadDescriptor splashFlags = {0, 0};
  int recognised = DescribeOwnPayload(instance, &splashFlags);
  DWORD splashThreadId = StartSplash(PayloadForbidsSplash(recognised, splashFlags.flags2));

  // Steps that may fail jump to the release, which runs exactly once on every path.
  do {
    // Extraction reads the header again, creates the work folder when the payload lists
    // files for it (once the table has passed its checks), and writes them. A damaged
    // file loads nothing, not even a runtime found elsewhere: its own is the one meant.
    outcome = ExtractPayload(instance, &params.payloadOption);
    if (outcome != NoLaunchError) break;
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
    runtimeResult = CallCinemorphMain(entry, instance, previous, commandLine, showCommand, &params);
  } while (0);

  ReleaseLaunch(instance, runtimeModule, msvcrtModule);

  if (runtimeResult == RuntimeReportedFailure) {
    outcome = RuntimeFailed;
  } else if (runtimeResult == RuntimeAskedRestart) {
    RestartSystem(1);
  } else if (runtimeResult == RuntimeAskedShutdown) {
    RestartSystem(0);
  }

  if (outcome != NoLaunchError) ShowLaunchError(instance, outcome);
  return runtimeResult == RuntimeReportedFailure ? 1 : 0;
}

namespace {

// The launch's outcome for an extraction's result.
LaunchError OutcomeOf(ExtractResult result) {
  if (result == ExtractDone) return NoLaunchError;
  return result == ExtractDamaged ? ProjectorDamaged : ExtractionFailed;
}

LaunchError ExtractPayload(HINSTANCE instance, uint32_t* payloadOption) {
  ExtractResult result = UnpackPayload(instance, CreateWorkFolder, payloadOption);
  if (result != ExtractNotWritten) return OutcomeOf(result);
  // The disk refused a write: no folder name was left, or no room. The leftovers of runs
  // that were killed are what most often fills it, so this run gives up its own folder,
  // removes it with every abandoned one, and tries once more. A cleanup that removed no
  // folder changed nothing: the second try would only repeat the first. Other failures
  // (a damaged payload) are never tried again.
  ReleaseWorkFolder();
  if (!RemoveStaleWorkFolders()) return ExtractionFailed;
  return OutcomeOf(UnpackPayload(instance, CreateWorkFolder, payloadOption));
}

void ReleaseLaunch(HINSTANCE instance, HMODULE runtimeModule, HMODULE msvcrtModule) {
  if (runtimeModule != 0) FreeLibrary(runtimeModule);
  if (msvcrtModule != 0) FreeLibrary(msvcrtModule);
  // The exit pass reads the payload header afresh: the executable may have changed.
  DeleteLeadingEntryFilesBesideExecutable(instance);
  // Closes the lock file and frees the path, so that the cleanup that follows removes
  // this run's folder with the others that no live run holds.
  ReleaseWorkFolder();
  RemoveStaleWorkFolders();
}

}  // namespace
