// Little-endian integers in byte buffers: the payload, the integrity record,
// PE images and resources all store their integers this way. Byte-wise, so
// they work on any host and at any alignment.
#ifndef SFX_TEXT_LITTLE_ENDIAN_H_
#define SFX_TEXT_LITTLE_ENDIAN_H_

#include <cstdint>

namespace sfx {

inline uint16_t loadLe16(const void* at) {
  const unsigned char* p = static_cast<const unsigned char*>(at);
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

inline uint32_t loadLe32(const void* at) {
  const unsigned char* p = static_cast<const unsigned char*>(at);
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline uint64_t loadLe64(const void* at) {
  const unsigned char* p = static_cast<const unsigned char*>(at);
  return loadLe32(p) | static_cast<uint64_t>(loadLe32(p + 4)) << 32;
}

inline void storeLe16(void* at, uint16_t v) {
  unsigned char* p = static_cast<unsigned char*>(at);
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}

inline void storeLe32(void* at, uint32_t v) {
  unsigned char* p = static_cast<unsigned char*>(at);
  for (int k = 0; k < 4; ++k) p[k] = static_cast<unsigned char>(v >> (8 * k));
}

inline void storeLe64(void* at, uint64_t v) {
  unsigned char* p = static_cast<unsigned char*>(at);
  for (int k = 0; k < 8; ++k) p[k] = static_cast<unsigned char>(v >> (8 * k));
}

}  // namespace sfx

#endif  // SFX_TEXT_LITTLE_ENDIAN_H_
