// Our encoder on arbitrary text: the decoder must give the same bytes back.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "lzari/lzari_decoder.h"
#include "lzari/lzari_encoder.h"
#include "lzari/lzari_memory_source.h"

namespace {

int32_t AppendByte(void* context, int32_t byte) {
  static_cast<std::vector<uint8_t>*>(context)->push_back(static_cast<uint8_t>(byte));
  return byte;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static LzariDecoder decoder;
  std::vector<uint8_t> stream = LzariEncode(data, size);
  MemorySource source = {stream.data(), 0, static_cast<int32_t>(stream.size())};
  std::vector<uint8_t> out;
  LzariDecodeStream(&decoder, ReadMemoryByte, &source, AppendByte, &out);
  if (out.size() != size || (size > 0 && std::memcmp(out.data(), data, size) != 0)) abort();
  return 0;
}
