// The memory ByteSource of the decoder.
#include "lzari/lzari_memory_source.h"

int32_t ReadMemoryByte(void* context) {
  MemorySource* source = static_cast<MemorySource*>(context);
  if (source == nullptr || source->position >= source->length) return -1;
  // Unsigned on the way out, so that a byte 0xFF is not taken for the end.
  return source->data[source->position++];
}
