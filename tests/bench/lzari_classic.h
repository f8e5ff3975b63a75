// The baseline LZARI decoder of the benchmark and the differential fuzzer, written the
// classic way: global state, one input bit at a time, binary searches over the
// cumulative tables, one sink call per byte. Never linked into the product.
#pragma once
#include <stdint.h>

#include "lzari/lzari_decoder.h"

// Decodes one stream as LzariDecodeStream does: 1 when the text size has been
// produced, 0 when the sink refused a byte. A stream shorter than its 4-byte size gives
// -1 here instead of ending the process.
int ClassicLzariDecode(ByteSource sourceRead, void* sourceContext, ByteSink sinkWrite,
                       void* sinkContext);
