// The integrity record: written by the packer into the fill between the launcher's image
// and the payload header, it lets the launcher tell a damaged projector (a broken
// download, a bad copy) from one that carries no payload. Launchers that do not know it
// never read the fill, so it changes nothing for them.
#pragma once
#include <stdint.h>
#include "payload/payload_format.h"

const uint32_t IntegrityMagic = 0x494D3031;  // the bytes "10MI" in file order
const uint32_t IntegrityRecordSize = 40;

// Right after the image's last section, at an offset that the PE headers give, so that
// it is found when the end of the file, and its trailer with it, is gone.
struct IntegrityRecord {
  uint32_t magic;
  uint32_t headerOffset;  // the payload header it vouches for
  // The projector's length as packed: a certificate table appended later (or anything
  // else) makes the file longer, which is fine; a shorter file is damaged.
  uint32_t packedLength;
  uint32_t headerCrc;                   // CRC-32 of the 292-byte payload header
  uint32_t entryCrc[PayloadSlotCount];  // of each used slot's bytes as stored; 0 when unused
  uint32_t recordCrc;                   // CRC-32 of the 36 bytes before it
};

static_assert(sizeof(IntegrityRecord) == IntegrityRecordSize, "record is 40 bytes");

// What the bytes after the image hold.
const int RecordAbsent = 0;  // no magic: a projector from another packer, or an older one
const int RecordSound = 1;
const int RecordDamaged = 2;  // the magic, but the record fails its own check

// Reads the IntegrityRecordSize bytes at `bytes` into `record`. Needs PrepareCrc32.
int ReadIntegrityRecord(const uint8_t* bytes, IntegrityRecord* record);

// CRC-32 of a payload header as it lies in the file. Needs PrepareCrc32.
uint32_t HeaderCrc(const PayloadHeader* header);

// Fills in the magic, the header's CRC and the record's own for the header at
// `headerOffset`; the packed length and the entries' CRCs must be set. Needs PrepareCrc32.
void SealIntegrityRecord(IntegrityRecord* record, const PayloadHeader* header,
                         uint32_t headerOffset);
