// The copy of a stored entry, and the CRC-32 of its bytes, summed on a helper thread
// while the copy goes on when one can be had.
#include "payload/crc32.h"
#include "payload/payload_reader.h"

namespace {

// The copy reads into one slot of the ring while the helper sums another; it hands a
// slot over once read and takes it back once summed.
const uint32_t RingSlots = 8;
const uint32_t SlotSize = PayloadBufferSize;

// A slot's state. Either thread may take a filled slot (by compare and exchange); the
// copy sums it itself when the helper has not got to it by the time the slot is needed.
const uint32_t SlotFree = 0;
const uint32_t SlotFilled = 1;
const uint32_t SlotTaken = 2;
const uint32_t SlotSummed = 3;

struct ChecksumRing {
  uint8_t* bytes;                  // RingSlots * SlotSize
  int32_t length[RingSlots];
  uint32_t crc[RingSlots];         // of the slot's bytes on their own
  uint32_t state[RingSlots];
  uint32_t filled;                 // slots filled so far, counted from the start
  uint32_t closed;                 // the copy has ended: the helper leaves
  const PayloadPlatform* platform;
};

uint32_t Load(const uint32_t* at) { return __atomic_load_n(at, __ATOMIC_ACQUIRE); }
void Store(uint32_t* at, uint32_t value) { __atomic_store_n(at, value, __ATOMIC_RELEASE); }
int Take(uint32_t* state) {
  uint32_t expected = SlotFilled;
  return __atomic_compare_exchange_n(state, &expected, SlotTaken, false, __ATOMIC_ACQ_REL,
                                     __ATOMIC_ACQUIRE);
}

uint8_t* SlotBytes(ChecksumRing* ring, uint32_t slot) { return ring->bytes + slot * SlotSize; }

// The helper: sums filled slots in the order they were filled, passing over those the
// copy took first, until the copy ends.
void SumSlots(void* argument) {
  ChecksumRing* ring = static_cast<ChecksumRing*>(argument);
  uint32_t next = 0;
  for (;;) {
    uint32_t filled = Load(&ring->filled);
    if (next == filled) {
      if (Load(&ring->closed)) return;
      ring->platform->yieldThread(ring->platform->context);
      continue;
    }
    if (filled - next > RingSlots) next = filled - RingSlots;  // the copy went ahead
    uint32_t slot = next++ % RingSlots;
    if (Take(&ring->state[slot])) {
      ring->crc[slot] = UpdateCrc32(0, SlotBytes(ring, slot), ring->length[slot]);
      Store(&ring->state[slot], SlotSummed);
    }
  }
}

// Joins the oldest filled slot to `sum` and frees it: summed here when the helper has
// not taken it, else once the helper is done with it.
void RetireSlot(ChecksumRing* ring, uint32_t* retired, uint32_t* sum, uint32_t fullShift) {
  uint32_t slot = (*retired)++ % RingSlots;
  uint32_t length = static_cast<uint32_t>(ring->length[slot]);
  if (Take(&ring->state[slot])) {
    *sum = UpdateCrc32(*sum, SlotBytes(ring, slot), length);
  } else {
    while (Load(&ring->state[slot]) != SlotSummed) {
      ring->platform->yieldThread(ring->platform->context);
    }
    uint32_t shift = length == SlotSize ? fullShift : Crc32Shift(length);
    *sum = CombineCrc32(*sum, ring->crc[slot], shift);
  }
  Store(&ring->state[slot], SlotFree);
}

// The copy through the ring. Returns 0 when the copy succeeded, 1 when it failed.
int CopyThroughRing(ChecksumRing* ring, PayloadFile source, PayloadFile target, int32_t count,
                    uint32_t* crc) {
  const PayloadPlatform* p = ring->platform;
  const uint32_t fullShift = Crc32Shift(SlotSize);
  uint32_t filled = 0;
  uint32_t retired = 0;
  uint32_t sum = 0;
  int copied = 0;
  int32_t remaining = count;
  for (;;) {
    if (filled - retired == RingSlots) RetireSlot(ring, &retired, &sum, fullShift);
    uint32_t slot = filled % RingSlots;
    int32_t chunk = static_cast<int32_t>(SlotSize);
    if (remaining > 0 && remaining < chunk) chunk = remaining;
    int32_t read = p->readFile(p->context, source, SlotBytes(ring, slot), chunk);
    if (read == 0) {
      copied = 1;  // the end of the source ends the copy as a success
      break;
    }
    if (read < 0 || read > chunk) break;
    // Handed over before it is written, so that the sum and the write overlap.
    ring->length[slot] = read;
    Store(&ring->state[slot], SlotFilled);
    Store(&ring->filled, ++filled);
    int32_t written = p->writeFile(p->context, target, SlotBytes(ring, slot), read);
    if (written != read) break;
    while (retired != filled && Load(&ring->state[retired % RingSlots]) == SlotSummed) {
      RetireSlot(ring, &retired, &sum, fullShift);
    }
    if (remaining <= 0) continue;  // a count of 0 or less copies to the end
    remaining -= written;
    if (remaining <= 0) {
      copied = 1;
      break;
    }
  }
  while (retired != filled) RetireSlot(ring, &retired, &sum, fullShift);
  *crc = sum;
  return copied ? 0 : 1;
}

// The copy through one buffer, summed as it goes when `crc` is not null.
int CopyThroughBuffer(const PayloadPlatform* p, PayloadFile source, PayloadFile target,
                      int32_t count, uint32_t* crc) {
  // Under memory pressure a smaller buffer only makes the copy slower, so halve down
  // to a single byte before giving up.
  int32_t bufferSize = static_cast<int32_t>(PayloadBufferSize);
  void* block = 0;
  while (bufferSize > 0) {
    block = p->allocateMemory(p->context, MoveableZeroedMemory, static_cast<uint32_t>(bufferSize));
    if (block != 0) break;
    bufferSize /= 2;
  }
  if (block == 0) return 1;
  uint8_t* buffer = static_cast<uint8_t*>(p->lockMemory(p->context, block));
  int copied = 0;
  int32_t remaining = count;
  uint32_t sum = 0;
  while (buffer != 0) {
    int32_t chunk = bufferSize;
    if (remaining > 0 && remaining < bufferSize) chunk = remaining;
    int32_t read = p->readFile(p->context, source, buffer, chunk);
    if (read == 0) {
      copied = 1;  // the end of the source ends the copy as a success
      break;
    }
    if (read < 0 || read > chunk) break;
    if (crc != 0) sum = UpdateCrc32(sum, buffer, static_cast<uint32_t>(read));
    int32_t written = p->writeFile(p->context, target, buffer, read);
    if (written != read) break;
    if (remaining <= 0) continue;  // a count of 0 or less copies to the end
    remaining -= written;
    if (remaining <= 0) {
      copied = 1;
      break;
    }
  }
  if (buffer != 0) p->unlockMemory(p->context, block);
  p->freeMemory(p->context, block);
  if (crc != 0) *crc = sum;
  return copied ? 0 : 1;
}

}  // namespace

int CopyStoredEntry(const PayloadPlatform* p, PayloadFile source, PayloadFile target,
                    int32_t count, uint32_t* crc) {
  if (crc == 0) return CopyThroughBuffer(p, source, target, count, 0);
  PrepareCrc32();
  // Summing costs about as much as copying from a warm cache: on a second processor it
  // costs the copy almost nothing. Without the ring's memory or a thread, the copy sums
  // as it goes.
  ChecksumRing ring = {};
  ring.platform = p;
  if (p->startThread != 0) {
    ring.bytes = static_cast<uint8_t*>(
        p->allocateMemory(p->context, FixedMemory, RingSlots * SlotSize));
  }
  void* helper = ring.bytes != 0 ? p->startThread(p->context, SumSlots, &ring) : 0;
  if (helper == 0) {
    if (ring.bytes != 0) p->freeMemory(p->context, ring.bytes);
    return CopyThroughBuffer(p, source, target, count, crc);
  }
  int result = CopyThroughRing(&ring, source, target, count, crc);
  Store(&ring.closed, 1);
  p->finishThread(p->context, helper);
  p->freeMemory(p->context, ring.bytes);
  return result;
}
