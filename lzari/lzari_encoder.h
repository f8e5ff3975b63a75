// The LZARI encoder of the packer and the tests: the decoder's mirror image. Host and
// tool code only; the launcher never encodes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Encodes `size` bytes into one stream that LzariDecodeStream expands exactly.
std::vector<uint8_t> LzariEncode(const uint8_t* data, size_t size);
