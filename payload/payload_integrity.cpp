// The integrity record: reading it and sealing it.
#include "payload/payload_integrity.h"
#include "payload/crc32.h"

namespace {

const uint32_t CheckedBytes = IntegrityRecordSize - 4;  // all but the record's own CRC

uint32_t RecordCrc(const IntegrityRecord* record) {
  return UpdateCrc32(0, reinterpret_cast<const uint8_t*>(record), CheckedBytes);
}

}  // namespace

int ReadIntegrityRecord(const uint8_t* bytes, IntegrityRecord* record) {
  uint8_t* to = reinterpret_cast<uint8_t*>(record);
  for (uint32_t i = 0; i < IntegrityRecordSize; ++i) to[i] = bytes[i];
  if (record->magic != IntegrityMagic) return RecordAbsent;
  return RecordCrc(record) == record->recordCrc ? RecordSound : RecordDamaged;
}

uint32_t HeaderCrc(const PayloadHeader* header) {
  return UpdateCrc32(0, reinterpret_cast<const uint8_t*>(header), PayloadHeaderSize);
}

void SealIntegrityRecord(IntegrityRecord* record, const PayloadHeader* header,
                         uint32_t headerOffset) {
  record->magic = IntegrityMagic;
  record->headerOffset = headerOffset;
  record->headerCrc = HeaderCrc(header);
  record->recordCrc = RecordCrc(record);
}
