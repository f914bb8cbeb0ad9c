// The stub's reader opened on a payload in memory, for the packer's tests.
#include "testing/opened_payload.h"

#include "text/string_buffer.h"

namespace sfxpack {

bool OpenedPayload::open(const std::vector<uint8_t>& bytes) {
  source.setData(bytes.data(), static_cast<uint32_t>(bytes.size()));
  archive.setSource(&source);
  sfx::StringBuffer err;
  return archive.findMarker(log, nullptr) &&
         archive.readHeader(err, log, nullptr) &&
         archive.readArgs(log, nullptr);
}

}  // namespace sfxpack
