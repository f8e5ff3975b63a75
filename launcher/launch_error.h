// The outcome codes of a launch and the failure message shown for them.
#pragma once
#include <stdint.h>

typedef uint32_t LaunchError;

const LaunchError NoLaunchError = 0;
const LaunchError RuntimeFailed = 1;       // CinemorphMain returned 0
const LaunchError MsvcrtMissing = 2;       // no loadable msvcrt.dll
const LaunchError RuntimeNotFound = 3;     // cine.dll found nowhere, no work folder
const LaunchError EntryPointMissing = 4;   // cine.dll lacks CinemorphMain
const LaunchError NoCurrentDirectory = 5;  // the current directory could not be read
const LaunchError RuntimeLoadFailed = 6;   // cine.dll in the work folder failed to load
const LaunchError ExtractionFailed = 7;    // payload files could not be written
const LaunchError ProjectorDamaged = 8;    // the executable's payload is damaged
