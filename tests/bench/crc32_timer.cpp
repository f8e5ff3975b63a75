// Times the launcher's CRC-32 inside a PE32 process, where the shipped code runs (i686,
// Pentium instructions) under 32-bit Wine, a copy buffer at a time as the stored copy
// sums its bytes:
//   crc32_timer FILE...   prints "bytes=", "crc32_ms=" (the best of five passes)
#include <windows.h>

#include <cstdio>
#include <vector>

#include "payload/crc32.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: crc32_timer FILE...\n");
    return 2;
  }
  std::vector<uint8_t> data;
  for (int i = 1; i < argc; ++i) {
    FILE* f = fopen(argv[i], "rb");
    if (f == nullptr) {
      fprintf(stderr, "cannot read %s\n", argv[i]);
      return 1;
    }
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) data.insert(data.end(), chunk, chunk + n);
    fclose(f);
  }
  PrepareCrc32();
  const size_t block = 32768;
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  double best = 1e30;
  for (int pass = 0; pass < 5; ++pass) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    uint32_t crc = 0;
    for (size_t at = 0; at < data.size(); at += block) {
      uint32_t count = static_cast<uint32_t>(data.size() - at < block ? data.size() - at : block);
      crc = UpdateCrc32(crc, data.data() + at, count);
    }
    QueryPerformanceCounter(&end);
    double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                static_cast<double>(frequency.QuadPart);
    if (ms < best) best = ms;
    if (crc == 0x12345678) printf("(an unlikely sum)\n");  // keeps the sum computed
  }
  printf("bytes=%llu\ncrc32_ms=%.1f\n", static_cast<unsigned long long>(data.size()), best);
  return 0;
}
