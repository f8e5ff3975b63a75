// The constants of the LZARI stream that its decoder and its encoder must agree on.
#pragma once
#include <stdint.h>

namespace {

const uint32_t RingSize = 4096;
const uint32_t LongestMatch = 60;
const int32_t CodeCount = 314;  // codes 0 to 255 literals, 256 to 313 match lengths
const int32_t PositionCount = 4096;
const int32_t FirstMatchCode = 256;  // the shortest match, 3 bytes
const uint32_t FirstQuarter = 0x8000;
const uint32_t Half = 0x10000;
const uint32_t ThirdQuarter = 0x18000;
const uint32_t FullRange = 0x20000;

}  // namespace
