// Reads the payload appended to the launcher's own executable and extracts its files.
#include "payload/payload_reader.h"
#include "workfolder/work_folder.h"

// Not yet built: every executable counts as carrying no payload.
int UnpackPayload(HINSTANCE instance, uint32_t* payloadOption) {
  (void)instance;
  (void)payloadOption;
  return 1;
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
