// Parsing of the integrity record's frame and entries.
#include "archive/integrity_record.h"

#include "codec/crc32.h"

namespace sfx {
namespace {

uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint64_t le64(const uint8_t* p) {
  return le32(p) | static_cast<uint64_t>(le32(p + 4)) << 32;
}

}  // namespace

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
  out->fileTime = le64(record + p);
  out->attributes = le32(record + p + 8);
  out->size = le64(record + p + 12);
  out->crc = le32(record + p + 20);
  *pos = p + 24;
  return true;
}

bool checkIntegrityFrame(const uint8_t* record, uint32_t size,
                         uint8_t* version, uint32_t* entryCount,
                         uint32_t* configCrc) {
  if (!record || size < kIntegrityHeadBytes + kIntegrityTailBytes) return false;
  const uint32_t body = size - kIntegrityTailBytes;
  if (ZipCRC::oneShot(record, body) != le32(record + body)) return false;
  *version = record[0];
  if (*version != kIntegrityVersion) return true;
  *entryCount = le32(record + 1);
  *configCrc = le32(record + 5);
  uint32_t pos = kIntegrityHeadBytes;
  IntegrityEntry entry;
  for (uint32_t i = 0; i < *entryCount; ++i) {
    if (!readIntegrityEntry(record, size, &pos, &entry)) return false;
  }
  return pos == body;
}

}  // namespace sfx
