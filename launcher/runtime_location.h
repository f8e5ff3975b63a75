// Finding and loading msvcrt.dll and the runtime library cine.dll.
#pragma once
#include <windows.h>
#include "launcher/launch_error.h"
#include "launcher/launch_params.h"

// Loads cine.dll: from the work folder alone when there is one, otherwise beside the
// executable, in its "Nodix" subfolder, then in the shared player folder. Returns 0,
// RuntimeNotFound, NoCurrentDirectory or RuntimeLoadFailed.
LaunchError LocateRuntime(HMODULE* module, RuntimeLocation* location);

// Makes sure msvcrt.dll is loaded: by its bare name, else from the work folder, the
// executable's folder or its "Nodix" subfolder. Returns 0, MsvcrtMissing or
// NoCurrentDirectory.
LaunchError EnsureMsvcrt(HMODULE* module);
