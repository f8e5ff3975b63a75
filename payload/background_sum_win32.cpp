// The CRC-32 of a stored entry summed on a second processor while the entry is copied.
// Summing 64 MiB takes about as long as copying it from the file cache, so summed
// inline it would add a third to the launch; beside the copy it adds next to nothing.
// One sum at a time, started and ended on the main thread; the worker lives for one sum.
#include <windows.h>
#include "payload/background_sum.h"
#include "payload/crc32.h"

namespace {

const LONG Idle = 0;      // no block waiting: the worker looks again
const LONG Waiting = 1;   // `block` is handed over and not yet summed
const LONG Finished = 2;  // the sum is over: the worker returns

struct BackgroundSum {
  volatile LONG state;
  const uint8_t* volatile block;
  volatile uint32_t count;
  uint32_t crc;
  HANDLE worker;  // null: every block is summed at once on the caller's thread
};

BackgroundSum sum;

// Both threads wait by giving the rest of their time slice away (Sleep(0)), never on an
// event: a block is summed in a fraction of a millisecond, and Wine makes every wait on
// an event a call to its server.
void WaitWhile(LONG state) {
  while (sum.state == state) Sleep(0);
}

DWORD WINAPI SumBlocks(void*) {
  for (;;) {
    WaitWhile(Idle);
    if (sum.state == Finished) return 0;
    sum.crc = UpdateCrc32(sum.crc, sum.block, sum.count);
    InterlockedExchange(&sum.state, Idle);
  }
}

// A second thread helps only where a second processor runs it: on one processor it
// would only take turns with the copy.
int HasProcessorToSpare() {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  return system.dwNumberOfProcessors > 1;
}

}  // namespace

void BeginBackgroundSum(void*) {
  sum.state = Idle;
  sum.crc = 0;
  DWORD id = 0;
  // Without the thread (no second processor, or none can be had) the sum is made inline.
  sum.worker = HasProcessorToSpare() ? CreateThread(0, 0x10000, SumBlocks, 0, 0, &id) : 0;
}

void AddToBackgroundSum(void*, const void* block, uint32_t count) {
  if (sum.worker == 0) {
    sum.crc = UpdateCrc32(sum.crc, static_cast<const uint8_t*>(block), count);
    return;
  }
  WaitWhile(Waiting);
  sum.block = static_cast<const uint8_t*>(block);
  sum.count = count;
  InterlockedExchange(&sum.state, Waiting);
}

uint32_t EndBackgroundSum(void*) {
  if (sum.worker != 0) {
    WaitWhile(Waiting);
    InterlockedExchange(&sum.state, Finished);
    WaitForSingleObject(sum.worker, INFINITE);
    CloseHandle(sum.worker);
    sum.worker = 0;
  }
  return sum.crc;
}
