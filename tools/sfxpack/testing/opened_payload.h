// The packer's tests read what they packed with the stub's own reader:
// OpenedPayload opens a payload held in memory up to the end of its argument
// block, where the entry records begin.
#ifndef SFX_TOOLS_SFXPACK_TESTING_OPENED_PAYLOAD_H_
#define SFX_TOOLS_SFXPACK_TESTING_OPENED_PAYLOAD_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "archive/simple_archive.h"
#include "log/log_base.h"
#include "stream/data_source.h"

namespace sfxpack {

struct OpenedPayload {
  sfx::MemoryDataSource source;
  sfx::SimpleArchive archive;
  sfx::LogNull log;

  // Finds the marker in `bytes` (which must outlive this object) and reads
  // the header and the argument block. False when one of them fails.
  bool open(const std::vector<uint8_t>& bytes);
  // The offset of the first byte not read yet: the first entry record.
  size_t position() { return static_cast<size_t>(source.getPosition()); }
};

}  // namespace sfxpack

#endif  // SFX_TOOLS_SFXPACK_TESTING_OPENED_PAYLOAD_H_
