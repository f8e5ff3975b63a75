// The LZARI encoder of the packer and the tests: the decoder's mirror image. Host and
// tool code only; the launcher never encodes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Encodes `size` bytes into one stream that LzariDecodeStream expands exactly. A text
// of 2^32 bytes or more does not fit the stream's length field: the result is then
// empty (never a valid stream, which has at least 4 bytes).
std::vector<uint8_t> LzariEncode(const uint8_t* data, size_t size);
