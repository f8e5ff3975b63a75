// Times the launcher's LZARI decoder against the classic one inside a PE32 process,
// where the shipped code runs (i686, Pentium instructions) under 32-bit Wine:
//   lzari_decode_timer STREAM...   prints "bytes=", "decoder_ms=", "classic_ms="
#include <windows.h>

#include <cstdio>
#include <vector>

#include "lzari/lzari_decoder.h"
#include "lzari/lzari_memory_source.h"
#include "tests/bench/buffer_sink.h"
#include "tests/bench/lzari_classic.h"

namespace {

int CountBlock(void* context, const uint8_t*, uint32_t count) {
  *static_cast<uint64_t*>(context) += count;
  return 1;
}

double Milliseconds(LARGE_INTEGER start, LARGE_INTEGER end) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: lzari_decode_timer STREAM...\n");
    return 2;
  }
  std::vector<std::vector<uint8_t>> streams;
  for (int i = 1; i < argc; ++i) {
    FILE* f = fopen(argv[i], "rb");
    if (f == nullptr) {
      fprintf(stderr, "cannot read %s\n", argv[i]);
      return 1;
    }
    std::vector<uint8_t> data;
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) data.insert(data.end(), chunk, chunk + n);
    fclose(f);
    streams.push_back(data);
  }
  static LzariDecoder decoder;
  static uint8_t buffer[32768];
  static BufferSink classic;
  uint64_t decoded = 0;
  LARGE_INTEGER t0, t1, t2;
  QueryPerformanceCounter(&t0);
  for (const std::vector<uint8_t>& s : streams) {
    uint32_t fill = 0;
    LzariDecodeBuffered(&decoder, s.data(), s.size(), buffer, sizeof buffer, CountBlock, &decoded,
                        &fill);
    decoded += fill;
  }
  QueryPerformanceCounter(&t1);
  for (const std::vector<uint8_t>& s : streams) {
    MemorySource in = {s.data(), 0, static_cast<int32_t>(s.size())};
    ClassicLzariDecode(ReadMemoryByte, &in, BufferByte, &classic);
  }
  QueryPerformanceCounter(&t2);
  uint64_t classicBytes = classic.flushed + classic.fill;
  if (classicBytes != decoded) {
    fprintf(stderr, "the two decoders disagree: %llu and %llu bytes\n",
            static_cast<unsigned long long>(decoded),
            static_cast<unsigned long long>(classicBytes));
    return 1;
  }
  printf("bytes=%llu\ndecoder_ms=%.1f\nclassic_ms=%.1f\n", static_cast<unsigned long long>(decoded),
         Milliseconds(t0, t1), Milliseconds(t1, t2));
  return 0;
}
