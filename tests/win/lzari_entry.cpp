// win-links: lzari_win lzari_pure
// Drives DecodeEntryToFile on real files inside Wine, watching every _hwrite it makes.
//
//   lzari_entry decode IN OUT [short N] [fail N]
//       reads IN whole, creates OUT with _lcreat and expands IN into it through a
//       32768-byte buffer; the N-th write is cut one byte short, or fails outright
//   lzari_entry readonly IN OUT   the same into an existing OUT opened for reading only
//   lzari_entry missing IN        calls with each argument missing in turn
// Prints "write=ASKED:DONE" per _hwrite, then "result=R".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lzari/lzari_adapters.h"

namespace {

typedef long(WINAPI* WriteFunction)(HFILE, LPCCH, long);
WriteFunction realWrite = nullptr;
int writeCount = 0;
int shortWrite = 0;  // 1-based index of the write to cut short, 0 for none
int failWrite = 0;   // 1-based index of the write to fail, 0 for none

long WINAPI WatchedWrite(HFILE file, LPCCH buffer, long count) {
  ++writeCount;
  long done;
  if (writeCount == failWrite)
    done = HFILE_ERROR;
  else if (writeCount == shortWrite && count > 0)
    done = realWrite(file, buffer, count - 1);
  else
    done = realWrite(file, buffer, count);
  std::printf("write=%ld:%ld\n", count, done);
  return done;
}

// Points this program's import of kernel32's _hwrite at WatchedWrite. The adapters are
// linked in, so their calls go through this module's import table.
bool WatchWrites() {
  uint8_t* base = reinterpret_cast<uint8_t*>(GetModuleHandleA(nullptr));
  IMAGE_NT_HEADERS* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  IMAGE_DATA_DIRECTORY imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (IMAGE_IMPORT_DESCRIPTOR* d =
           reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       d->Name != 0; ++d) {
    if (_stricmp(reinterpret_cast<char*>(base + d->Name), "kernel32.dll") != 0) continue;
    IMAGE_THUNK_DATA* name = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
    IMAGE_THUNK_DATA* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
    for (; name->u1.AddressOfData != 0; ++name, ++slot) {
      if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) continue;
      IMAGE_IMPORT_BY_NAME* byName =
          reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<char*>(byName->Name), "_hwrite") != 0) continue;
      DWORD old;
      VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &old);
      realWrite = reinterpret_cast<WriteFunction>(slot->u1.Function);
      slot->u1.Function = reinterpret_cast<ULONG_PTR>(&WatchedWrite);
      VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, old, &old);
      return true;
    }
  }
  return false;
}

std::vector<uint8_t> ReadWhole(const char* path) {
  std::vector<uint8_t> data;
  data.reserve(1);  // an empty entry still has an address, as one read from a payload
  FILE* f = std::fopen(path, "rb");
  if (!f) return data;
  int c;
  while ((c = std::fgetc(f)) != EOF) data.push_back(static_cast<uint8_t>(c));
  std::fclose(f);
  return data;
}

int Decode(const std::vector<uint8_t>& input, HFILE file) {
  static LzariDecoder decoder;
  static uint8_t buffer[32768];
  // Seen before a too-short stream ends the process inside the call.
  std::printf("decoding\n");
  std::fflush(stdout);
  int result = DecodeEntryToFile(&decoder, buffer, sizeof buffer, input.data(),
                                 static_cast<int32_t>(input.size()), file);
  std::printf("result=%d\n", result);
  return result;
}

// `target` is the scratch file the calls may not write to; it lies beside the input.
int Missing(const std::vector<uint8_t>& input, const std::string& target) {
  static LzariDecoder decoder;
  static uint8_t buffer[32768];
  HFILE file = _lcreat(target.c_str(), 0);
  struct Case {
    const char* name;
    LzariDecoder* decoder;
    uint8_t* buffer;
    uint32_t size;
    const uint8_t* input;
    HFILE file;
  };
  const Case cases[] = {
      {"decoder", nullptr, buffer, sizeof buffer, input.data(), file},
      {"buffer", &decoder, nullptr, sizeof buffer, input.data(), file},
      {"size", &decoder, buffer, 0, input.data(), file},
      {"input", &decoder, buffer, sizeof buffer, nullptr, file},
      {"file", &decoder, buffer, sizeof buffer, input.data(), 0},
  };
  for (const Case& c : cases) {
    std::memset(&decoder, 0xA5, sizeof decoder);
    int before = writeCount;
    int result = DecodeEntryToFile(c.decoder, c.buffer, c.size, c.input,
                                   static_cast<int32_t>(input.size()), c.file);
    bool untouched = true;
    for (size_t i = 0; i < sizeof decoder; ++i)
      untouched = untouched && reinterpret_cast<uint8_t*>(&decoder)[i] == 0xA5;
    std::printf("missing=%s:%d:%d:%d\n", c.name, result, writeCount - before, untouched ? 1 : 0);
  }
  _lclose(file);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  if (!WatchWrites()) {
    std::printf("error=cannot watch _hwrite\n");
    return 3;
  }
  std::vector<uint8_t> input = ReadWhole(argv[2]);
  if (std::strcmp(argv[1], "missing") == 0) return Missing(input, std::string(argv[2]) + ".out");
  if (argc < 4) return 2;
  for (int i = 4; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "short") == 0) shortWrite = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "fail") == 0) failWrite = std::atoi(argv[i + 1]);
  }
  HFILE file;
  if (std::strcmp(argv[1], "readonly") == 0)
    file = _lopen(argv[3], OF_READ);
  else
    file = _lcreat(argv[3], 0);
  if (file == HFILE_ERROR) {
    std::printf("error=cannot open %s\n", argv[3]);
    return 3;
  }
  Decode(input, file);
  _lclose(file);
  return 0;
}
