// The benchmarks' stand-in for the launcher's output: its 32768-byte buffer, emptied
// when full, without the file.
#pragma once
#include <stdint.h>

struct BufferSink {
  uint8_t buffer[32768];
  uint32_t fill;
  uint64_t flushed;
};

// The ByteSink over a BufferSink.
inline int32_t BufferByte(void* context, int32_t byte) {
  BufferSink* sink = static_cast<BufferSink*>(context);
  sink->buffer[sink->fill++] = static_cast<uint8_t>(byte);
  if (sink->fill == sizeof sink->buffer) {
    // The buffer counts as used, so the compiler keeps every write to it.
    __asm__ volatile("" : : "r"(sink->buffer) : "memory");
    sink->flushed += sink->fill;
    sink->fill = 0;
  }
  return byte;
}
