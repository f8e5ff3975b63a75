// The payload reader's Win32 glue: the platform table over the 16-bit-era file calls
// and the global heap, and the three reads of the launcher's own executable.
#include "payload/payload_win32.h"
#include "base/paths.h"
#include "base/system_paths.h"
#include "payload/background_sum.h"
#include "payload/payload_reader.h"
#include "workfolder/work_folder.h"

namespace {

PayloadFile OpenForReading(void*, const char* path) { return _lopen(path, OF_READ); }
PayloadFile CreateNormalFile(void*, const char* path) { return _lcreat(path, 0); }
int32_t SeekFile(void*, PayloadFile file, int32_t offset, int32_t origin) {
  return _llseek(file, offset, origin);
}
int32_t ReadFromFile(void*, PayloadFile file, void* buffer, int32_t count) {
  return _hread(file, buffer, count);
}
int32_t WriteToFile(void*, PayloadFile file, const void* buffer, int32_t count) {
  return _hwrite(file, static_cast<LPCCH>(buffer), count);
}
void CloseFile(void*, PayloadFile file) { _lclose(file); }
void DeleteNamedFile(void*, const char* path) { DeleteFileA(path); }
int PathExists(void*, const char* path) {
  return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}
void* AllocateMemory(void*, uint32_t flags, uint32_t size) { return GlobalAlloc(flags, size); }
void* LockMemory(void*, void* block) { return GlobalLock(block); }
void UnlockMemory(void*, void* block) { GlobalUnlock(block); }
void FreeMemory(void*, void* block) { GlobalFree(block); }
uint32_t SetMode(void*, uint32_t mode) { return SetErrorMode(mode); }
// The context points at the caller's WorkFolderStep.
int GetCreatedWorkFolder(void* context, char* out) {
  WorkFolderStep createWorkFolder = *static_cast<const WorkFolderStep*>(context);
  if (WorkFolder == 0 && !createWorkFolder()) return 0;
  return GetWorkFolder(out);
}

const PayloadPlatform Win32Platform = {
    0,
    OpenForReading,
    CreateNormalFile,
    SeekFile,
    ReadFromFile,
    WriteToFile,
    CloseFile,
    DeleteNamedFile,
    PathExists,
    AllocateMemory,
    LockMemory,
    UnlockMemory,
    FreeMemory,
    SetMode,
    GetCreatedWorkFolder,
    BeginBackgroundSum,
    AddToBackgroundSum,
    EndBackgroundSum,
    SystemLeadByte,
};

}  // namespace

ExtractResult UnpackPayload(HINSTANCE instance, WorkFolderStep createWorkFolder,
                            uint32_t* payloadOption) {
  char path[PathCapacity];
  // Without its own path the launcher cannot read a payload: it runs as one without.
  if (!GetModulePath(instance, path, PathCapacity)) return ExtractDone;
  PayloadPlatform platform = Win32Platform;
  platform.context = &createWorkFolder;
  uint32_t extractResult = ExtractFailed;
  PayloadDescriptor descriptor;
  if (!OpenPayload(&platform, path, 1, &extractResult, &descriptor)) return ExtractDone;
  if (payloadOption != 0) *payloadOption = PayloadOptionOf(descriptor.flags);
  return static_cast<ExtractResult>(extractResult);
}

int DescribeOwnPayload(HMODULE module, PayloadDescriptor* descriptor) {
  char path[PathCapacity];
  if (!GetModulePath(module, path, PathCapacity)) return 0;
  return OpenPayload(&Win32Platform, path, 0, 0, descriptor);
}

void DeleteLeadingEntryFilesBesideExecutable(HINSTANCE instance) {
  char path[PathCapacity];
  if (GetModulePath(instance, path, PathCapacity)) DeleteLeadingEntryFiles(&Win32Platform, path);
}
