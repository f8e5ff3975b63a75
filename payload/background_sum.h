// The CRC-32 of a stored entry summed on a second processor while the entry is copied:
// the sum calls of the payload reader's Win32 platform.
#pragma once
#include <stdint.h>

void BeginBackgroundSum(void* context);
void AddToBackgroundSum(void* context, const void* block, uint32_t count);
uint32_t EndBackgroundSum(void* context);
