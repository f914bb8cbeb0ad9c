// Parsing of the integrity record's frame and entries.
#include "archive/integrity_record.h"

#include "codec/crc32.h"
#include "text/little_endian.h"

namespace sfx {
bool readIntegrityEntry(const uint8_t* record, uint32_t size, uint32_t* pos,
                        IntegrityEntry* out) {
  if (size < kIntegrityTailBytes) return false;
  const uint32_t end = size - kIntegrityTailBytes;
  uint32_t p = *pos;
  if (p > end || end - p < kIntegrityEntryFixedBytes) return false;
  uint32_t nameLength = static_cast<uint32_t>(record[p + 1] | record[p + 2] << 8);
  if (end - p - kIntegrityEntryFixedBytes < nameLength) return false;
  out->type = record[p];
  out->name = record + p + 3;
  out->nameLength = nameLength;
  p += 3 + nameLength;
  out->fileTime = loadLe64(record + p);
  out->attributes = loadLe32(record + p + 8);
  out->size = loadLe64(record + p + 12);
  out->crc = loadLe32(record + p + 20);
  *pos = p + 24;
  return true;
}

bool checkIntegrityFrame(const uint8_t* record, uint32_t size,
                         uint8_t* version, uint32_t* entryCount,
                         uint32_t* configCrc) {
  if (!record || size < kIntegrityHeadBytes + kIntegrityTailBytes) return false;
  const uint32_t body = size - kIntegrityTailBytes;
  if (ZipCRC::oneShot(record, body) != loadLe32(record + body)) return false;
  *version = record[0];
  if (*version != kIntegrityVersion) return true;
  *entryCount = loadLe32(record + 1);
  *configCrc = loadLe32(record + 5);
  uint32_t pos = kIntegrityHeadBytes;
  IntegrityEntry entry;
  for (uint32_t i = 0; i < *entryCount; ++i) {
    if (!readIntegrityEntry(record, size, &pos, &entry)) return false;
  }
  return pos == body;
}

}  // namespace sfx
