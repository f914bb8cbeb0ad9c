// The payload's field layout and fixed values, shared by the stub's reader,
// the packer's writer and reader, the tests and the fuzz targets. All
// integers are little-endian (text/little_endian.h); docs/FORMAT.md tells
// the whole layout in prose.
//
//   marker (8) | header (6) | argument block | verifier block (encrypted)
//   | entry records | end-of-archive record (5)
#ifndef SFX_ARCHIVE_PAYLOAD_FORMAT_H_
#define SFX_ARCHIVE_PAYLOAD_FORMAT_H_

#include <cstdint>

namespace sfx {

// The payload marker: two words, 0xBF6CD207 then 0xAAAB5921. The stub scans
// its own file for the first match, so it must never hold the 8 bytes in
// sequence: each word is kept as a 24-bit body and a top byte that only a
// run-time join (payloadMarkerWord in simple_archive.h) puts together. Code
// that is not part of the stub may join them at compile time with
// payloadMarkerConstant.
constexpr uint32_t kMarkerLow24 = 0x6CD207u;
constexpr uint32_t kMarkerHigh24 = 0xAB5921u;
constexpr uint32_t kMarkerLowTop = 0xBFu;
constexpr uint32_t kMarkerHighTop = 0xAAu;
constexpr uint32_t kMarkerBytes = 8;
// For the packer, the tests and the fuzz targets only.
constexpr uint32_t payloadMarkerConstant(int index) {
  return index == 0 ? kMarkerLow24 | kMarkerLowTop << 24
                    : kMarkerHigh24 | kMarkerHighTop << 24;
}

// The header: u32 reserved (always 1), u8 encrypted flag (0 plain, other
// encrypted), u8 key-length code (0 = 128, 1 = 192, other = 256 bits).
constexpr uint32_t kHeaderReserved = 1;
constexpr uint32_t kHeaderBytes = 6;

// The argument block: records of u16 name length, name, u16 value length,
// value, ended by a name length of 0. The reader reads at most
// kMaxArgRecords records, so a payload carries at most kMaxArgRecords - 1
// arguments.
constexpr int kMaxArgRecords = 200;
constexpr uint32_t kMaxArgBytes = 65535;  // a name's or a value's length
constexpr char kConfigArg[] = "xmlConfig";

// The verifier block: u8 length, then the ciphertext of these 4 bytes.
constexpr char kVerifierText[] = "qmzv";
constexpr uint32_t kVerifierTextBytes = 4;

// Entry records: u32 entry marker, u8 type, u16 name length, name; for
// every type but the end: u64 file time (local FILETIME), u32 attributes;
// for files: chunk records, then a size word of 0.
constexpr uint32_t kEntryMarker = 0x6D27E59Bu;
constexpr uint8_t kEntryEnd = 0;        // the end-of-archive record: marker, type
constexpr uint8_t kEntryDirectory = 1;  // other types are read and skipped
constexpr uint8_t kEntryFile = 2;
constexpr uint32_t kEntryHeadBytes = 7;      // marker, type, name length
constexpr uint32_t kEntryTimeAttrBytes = 12;  // file time, attributes
constexpr uint32_t kEndRecordBytes = 5;      // marker, type 0

// Windows attribute bits the packer writes and the stub acts on.
constexpr uint32_t kAttrHidden = 0x02;
constexpr uint32_t kAttrDirectory = 0x10;
constexpr uint32_t kAttrArchive = 0x20;

// Chunk records: u32 size word, then that many bytes. Bit 31 set: the bytes
// are stored file data; clear: one raw Deflate stream that inflates on its
// own. Either may be AES ciphertext in an encrypted payload. The size (bits
// 0 to 30) must be below kChunkBufferSize.
constexpr uint32_t kStoredChunkBit = 0x80000000u;
constexpr uint32_t kChunkSizeMask = 0x7FFFFFFFu;
constexpr uint32_t kChunkBufferSize = 2048576;
constexpr uint32_t kMaxChunkBytes = kChunkBufferSize - 1;

}  // namespace sfx

#endif  // SFX_ARCHIVE_PAYLOAD_FORMAT_H_
