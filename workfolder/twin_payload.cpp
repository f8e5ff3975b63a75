// Test twins only: stands in for the payload reader, "extracting" the files of the
// folder "Extract" beside the executable into the work folder, so the end-to-end tests
// get a real work folder through the launch sequence's own steps. Never shipped.
#include "launcher/paths.h"
#include "launcher/text.h"
#include "payload/payload_reader.h"
#include "workfolder/work_folder.h"

namespace {

const char ExtractFolderName[] = "Extract";

int GetExtractFolder(char* path) {
  DWORD length = GetModuleFileNameA(0, path, PathCapacity);
  if (length == 0 || length >= PathCapacity) return 0;
  StripFileName(path);
  if (!AppendSubfolder(path, ExtractFolderName)) return 0;
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int CopyFolderFiles(const char* from, const char* workFolder) {
  char pattern[PathCapacity];
  if (!JoinPath(pattern, from, "*")) return 0;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return 1;
  int result = 1;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    char source[PathCapacity];
    char target[PathCapacity];
    result = JoinPath(source, from, found.cFileName) != 0 &&
             JoinPath(target, workFolder, found.cFileName) != 0 &&
             CopyFileA(source, target, TRUE);
  } while (result && FindNextFileA(search, &found));
  FindClose(search);
  return result;
}

}  // namespace

// No Extract folder: like an executable without a payload, no work folder is made.
int UnpackPayload(HINSTANCE instance, uint32_t* payloadOption) {
  (void)instance;
  char from[PathCapacity];
  if (!GetExtractFolder(from)) return 1;
  *payloadOption = 0;
  char workFolder[PathCapacity];
  if (!GetWorkFolder(workFolder, 1)) return 0;
  if (!CopyFolderFiles(from, workFolder)) return 0;
  // Asking again must give the same folder and create nothing.
  char again[PathCapacity];
  return GetWorkFolder(again, 1) && TextEqual(again, workFolder);
}

int DescribeOwnPayload(HMODULE module, char* pathBuffer, uint32_t pathSize,
                       PayloadDescriptor* descriptor) {
  (void)descriptor;
  GetModuleFileNameA(module, pathBuffer, pathSize);
  return 0;
}

int RemovePayloadFiles(HINSTANCE instance) {
  (void)instance;
  return ReleaseWorkFolder();
}
