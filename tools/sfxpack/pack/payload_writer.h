// Writes the payload that follows the stub in a self-extracting executable:
// marker, header, argument block, entry records and the end-of-archive record.
#ifndef SFX_TOOLS_SFXPACK_PACK_PAYLOAD_WRITER_H_
#define SFX_TOOLS_SFXPACK_PACK_PAYLOAD_WRITER_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "archive/payload_format.h"

namespace sfxpack {

// The record formats are those of archive/payload_format.h (sfx::kEntry*,
// sfx::kMaxArgBytes, ...). A payload carries at most this many arguments:
// the reader stops after sfx::kMaxArgRecords records, the terminator included.
constexpr size_t kMaxArgs = sfx::kMaxArgRecords - 1;

// The rows of the integrity record, one per entry in payload order, and
// their encoding (version 1; see the payload format).
class IntegrityTable {
 public:
  struct Row {
    uint8_t type = sfx::kEntryFile;  // sfx::kEntryFile or kEntryDirectory
    std::string name;  // UTF-8, as packed, before encryption
    uint64_t fileTime = 0;
    uint32_t attributes = 0;
    uint64_t size = 0;  // plain data bytes; 0 for directories
    uint32_t crc = 0;   // CRC-32 of the plain data; 0 for directories
  };

  void Add(const Row& row) { rows_.push_back(row); }
  std::vector<Row>& rows() { return rows_; }
  const std::vector<Row>& rows() const { return rows_; }

  // Bytes of the plain record; depends only on the number of rows and the
  // lengths of their names.
  size_t EncodedSize() const;
  // The plain record: version, row count, `configCrc` (the CRC-32 of the
  // configuration argument's value), the rows, and the CRC-32 of all that.
  std::vector<uint8_t> Encode(uint32_t configCrc) const;

 private:
  std::vector<Row> rows_;
};

// The named arguments that carry a stored integrity record (the plain
// record, or its ciphertext in an encrypted payload): "integrity" with the
// first 65,535 bytes, "integrity2" with the next, and so on.
std::vector<std::pair<std::string, std::string>> IntegrityArgs(
    const std::vector<uint8_t>& stored);

// Collects a payload in memory, record by record. Each Add* returns false and
// sets *error when a field does not fit the format.
class PayloadWriter {
 public:
  // Marker and header: reserved 01 00 00 00, the encrypted flag and the
  // key-length code (0 = 128, 1 = 192, 2 = 256 bits).
  void BeginPayload(bool encrypted, uint8_t keyLengthCode);

  // The argument block: every record, then the 2-byte terminator.
  bool AddArgs(const std::vector<std::pair<std::string, std::string>>& args,
               std::string* error);

  void AddDirectory(const std::string& utf8Name, uint64_t localFileTime,
                    uint32_t attributes);

  // The head of a file entry; its chunks and AddChunkEnd follow.
  void AddFileHead(const std::string& storedName, uint64_t localFileTime,
                   uint32_t attributes);
  // One chunk: `bytes` are the file bytes (stored) or one raw Deflate stream,
  // encrypted when the payload is. Fewer than 2,048,576 bytes.
  void AddChunk(bool stored, const uint8_t* bytes, size_t count);
  void AddChunkEnd() { put32(0); }

  // A whole file entry whose data is cut into stored chunks of at most
  // chunkSize bytes.
  void AddFile(const std::string& utf8Name, uint64_t localFileTime,
               uint32_t attributes, const std::vector<uint8_t>& data,
               size_t chunkSize);

  // The verifier block: its length byte and ciphertext (at most 255 bytes).
  void AddVerifier(const std::vector<uint8_t>& ciphertext);

  void AddEnd();

  const std::vector<uint8_t>& bytes() const { return bytes_; }
  // Hands out the bytes collected so far and starts empty, so that a large
  // payload can be written out piece by piece.
  std::vector<uint8_t> takeBytes() { return std::move(bytes_); }

 private:
  void put8(uint8_t v) { bytes_.push_back(v); }
  void put16(uint16_t v);
  void put32(uint32_t v);
  void put64(uint64_t v);
  void putBytes(const void* p, size_t n);
  void entryHead(uint8_t type, const std::string& name, uint64_t time,
                 uint32_t attributes);

  std::vector<uint8_t> bytes_;
};

}  // namespace sfxpack

#endif  // SFX_TOOLS_SFXPACK_PACK_PAYLOAD_WRITER_H_
