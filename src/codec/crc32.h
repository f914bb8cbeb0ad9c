// CRC-32 as used by ZIP and gzip (reflected polynomial 0xEDB88320, initial
// value 0xFFFFFFFF, final complement), with one table shared by the process.
#ifndef SFX_CODEC_CRC32_H_
#define SFX_CODEC_CRC32_H_

#include <cstddef>
#include <cstdint>

namespace sfx {

// A running CRC-32. The state starts at 0xFFFFFFFF; crc() is its complement,
// the finished CRC of everything given to update() since the last reset().
class ZipCRC {
 public:
  ZipCRC();
  virtual ~ZipCRC();

  void reset() { state_ = 0xFFFFFFFFu; }
  void update(const void* data, size_t len);

  // The raw running state (0xFFFFFFFF after reset) and the finished CRC.
  uint32_t state() const { return state_; }
  uint32_t crc() const { return ~state_; }

  // Advances a raw running state over `len` bytes and returns the new state.
  // Start from 0xFFFFFFFF and complement the last state to finish.
  static uint32_t updateState(uint32_t state, const void* data, size_t len);

  // The finished CRC of `len` bytes (0 for a length of 0).
  static uint32_t oneShot(const void* data, size_t len);

 private:
  uint32_t state_ = 0xFFFFFFFFu;
};

}  // namespace sfx

#endif  // SFX_CODEC_CRC32_H_
