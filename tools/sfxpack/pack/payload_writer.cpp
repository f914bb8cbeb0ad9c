#include "pack/payload_writer.h"

#include <algorithm>

#include "archive/integrity_record.h"
#include "codec/crc32.h"
#include "text/little_endian.h"

namespace sfxpack {

size_t IntegrityTable::EncodedSize() const {
  size_t n = sfx::kIntegrityHeadBytes + sfx::kIntegrityTailBytes;
  for (const Row& r : rows_) n += sfx::kIntegrityEntryFixedBytes + r.name.size();
  return n;
}

std::vector<uint8_t> IntegrityTable::Encode(uint32_t configCrc) const {
  std::vector<uint8_t> out;
  out.reserve(EncodedSize());
  auto put = [&out](uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  put(sfx::kIntegrityVersion, 1);
  put(rows_.size(), 4);
  put(configCrc, 4);
  for (const Row& r : rows_) {
    put(r.type, 1);
    put(r.name.size(), 2);
    out.insert(out.end(), r.name.begin(), r.name.end());
    put(r.fileTime, 8);
    put(r.attributes, 4);
    put(r.size, 8);
    put(r.crc, 4);
  }
  put(sfx::ZipCRC::oneShot(out.data(), out.size()), 4);
  return out;
}

std::vector<std::pair<std::string, std::string>> IntegrityArgs(
    const std::vector<uint8_t>& stored) {
  std::vector<std::pair<std::string, std::string>> args;
  for (size_t off = 0; off < stored.size() || args.empty();
       off += sfx::kIntegrityPieceBytes) {
    size_t n = std::min<size_t>(sfx::kIntegrityPieceBytes, stored.size() - off);
    std::string name = sfx::kIntegrityArg;
    if (!args.empty()) name += std::to_string(args.size() + 1);
    args.emplace_back(name, std::string(stored.begin() + off,
                                        stored.begin() + off + n));
  }
  return args;
}

void PayloadWriter::put16(uint16_t v) {
  uint8_t b[2];
  sfx::storeLe16(b, v);
  putBytes(b, sizeof b);
}

void PayloadWriter::put32(uint32_t v) {
  uint8_t b[4];
  sfx::storeLe32(b, v);
  putBytes(b, sizeof b);
}

void PayloadWriter::put64(uint64_t v) {
  uint8_t b[8];
  sfx::storeLe64(b, v);
  putBytes(b, sizeof b);
}

void PayloadWriter::putBytes(const void* p, size_t n) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  bytes_.insert(bytes_.end(), b, b + n);
}

void PayloadWriter::BeginPayload(bool encrypted, uint8_t keyLengthCode) {
  put32(sfx::payloadMarkerConstant(0));
  put32(sfx::payloadMarkerConstant(1));
  put32(sfx::kHeaderReserved);
  put8(encrypted ? 1 : 0);
  put8(keyLengthCode);
}

bool PayloadWriter::AddArgs(
    const std::vector<std::pair<std::string, std::string>>& args,
    std::string* error) {
  if (args.size() > kMaxArgs) {
    *error = "too many arguments (at most " + std::to_string(kMaxArgs) + ")";
    return false;
  }
  for (const auto& [name, value] : args) {
    if (name.empty() || name.size() > sfx::kMaxArgBytes) {
      *error = "argument name must be 1 to 65535 bytes: '" +
               name.substr(0, 40) + "'";
      return false;
    }
    if (value.size() > sfx::kMaxArgBytes) {
      *error = "value of argument '" + name + "' is " +
               std::to_string(value.size()) + " bytes; at most 65535 fit";
      return false;
    }
  }
  for (const auto& [name, value] : args) {
    put16(static_cast<uint16_t>(name.size()));
    putBytes(name.data(), name.size());
    put16(static_cast<uint16_t>(value.size()));
    putBytes(value.data(), value.size());
  }
  put16(0);
  return true;
}

void PayloadWriter::entryHead(uint8_t type, const std::string& name,
                              uint64_t time, uint32_t attributes) {
  put32(sfx::kEntryMarker);
  put8(type);
  put16(static_cast<uint16_t>(name.size()));
  putBytes(name.data(), name.size());
  put64(time);
  put32(attributes);
}

void PayloadWriter::AddDirectory(const std::string& utf8Name,
                                 uint64_t localFileTime, uint32_t attributes) {
  entryHead(sfx::kEntryDirectory, utf8Name, localFileTime, attributes);
}

void PayloadWriter::AddFileHead(const std::string& storedName,
                                uint64_t localFileTime, uint32_t attributes) {
  entryHead(sfx::kEntryFile, storedName, localFileTime, attributes);
}

void PayloadWriter::AddChunk(bool stored, const uint8_t* bytes, size_t count) {
  put32((stored ? sfx::kStoredChunkBit : 0) | static_cast<uint32_t>(count));
  putBytes(bytes, count);
}

void PayloadWriter::AddFile(const std::string& utf8Name, uint64_t localFileTime,
                            uint32_t attributes,
                            const std::vector<uint8_t>& data,
                            size_t chunkSize) {
  AddFileHead(utf8Name, localFileTime, attributes);
  chunkSize = std::clamp<size_t>(chunkSize, 1, sfx::kMaxChunkBytes);
  for (size_t off = 0; off < data.size(); off += chunkSize) {
    AddChunk(true, data.data() + off, std::min(chunkSize, data.size() - off));
  }
  AddChunkEnd();
}

void PayloadWriter::AddVerifier(const std::vector<uint8_t>& ciphertext) {
  put8(static_cast<uint8_t>(ciphertext.size()));
  putBytes(ciphertext.data(), ciphertext.size());
}

void PayloadWriter::AddEnd() {
  put32(sfx::kEntryMarker);
  put8(sfx::kEntryEnd);
}

}  // namespace sfxpack
