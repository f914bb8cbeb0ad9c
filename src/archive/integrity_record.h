// The integrity record: an optional named argument that lists every entry
// of the payload in order (type, name, time, attributes, data size and the
// CRC-32 of the data) with a CRC-32 of the configuration argument and of
// the record itself. Readers that do not know it keep it as an unknown
// argument; SimpleArchive checks every entry against it when it is there.
#ifndef SFX_ARCHIVE_INTEGRITY_RECORD_H_
#define SFX_ARCHIVE_INTEGRITY_RECORD_H_

#include <cstdint>

namespace sfx {

// The argument that holds the record, and the prefix of the arguments that
// continue it when it is longer than one argument value: "integrity2",
// "integrity3", ... up to kIntegrityMaxPieces pieces in all.
constexpr char kIntegrityArg[] = "integrity";
constexpr int kIntegrityMaxPieces = 150;
constexpr uint32_t kIntegrityPieceBytes = 65535;
constexpr uint8_t kIntegrityVersion = 1;
// Version byte, entry count, configuration CRC; and the closing CRC.
constexpr uint32_t kIntegrityHeadBytes = 1 + 4 + 4;
constexpr uint32_t kIntegrityTailBytes = 4;
// Type, name length, then after the name: time, attributes, size, CRC.
constexpr uint32_t kIntegrityEntryFixedBytes = 1 + 2 + 8 + 4 + 8 + 4;

// One entry of the record. `name` points into the record's bytes (UTF-8,
// the entry's name as packed, before any encryption; not terminated).
struct IntegrityEntry {
  uint8_t type = 0;
  const uint8_t* name = nullptr;
  uint32_t nameLength = 0;
  uint64_t fileTime = 0;
  uint32_t attributes = 0;
  uint64_t size = 0;  // bytes of plain data; 0 for entries without data
  uint32_t crc = 0;   // CRC-32 of the plain data; 0 for entries without data
};

// Reads the entry at *pos of a record of `size` bytes (the whole record,
// closing CRC included) and advances *pos past it. False, with *pos
// unchanged, when the entry would run into the closing CRC.
bool readIntegrityEntry(const uint8_t* record, uint32_t size, uint32_t* pos,
                        IntegrityEntry* out);

// Checks the frame of a plain record of `size` bytes: at least the head and
// tail, and the closing CRC over all the bytes before it. On success sets
// *version, and for version 1 also *entryCount and *configCrc after
// checking that exactly that many entries fill the record. Returns false
// for a damaged record; a record of another version is not parsed further.
bool checkIntegrityFrame(const uint8_t* record, uint32_t size,
                         uint8_t* version, uint32_t* entryCount,
                         uint32_t* configCrc);

}  // namespace sfx

#endif  // SFX_ARCHIVE_INTEGRITY_RECORD_H_
