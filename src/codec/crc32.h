// CRC-32 as used by ZIP and gzip (reflected polynomial 0xEDB88320, initial
// value 0xFFFFFFFF, final complement). The update runs on a carry-less
// multiply path where the processor has one (chosen at first use) and on
// a portable table-driven loop otherwise; all give the same values.
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
  // Start from 0xFFFFFFFF and complement the last state to finish. Uses the
  // fastest path the processor offers.
  static uint32_t updateState(uint32_t state, const void* data, size_t len);

  // The finished CRC of `len` bytes (0 for a length of 0).
  static uint32_t oneShot(const void* data, size_t len);

  // The paths on their own, for tests and the benchmark: the portable
  // table-driven loop, and the carry-less multiply path, which falls back
  // to the portable loop when the processor lacks the instructions.
  static uint32_t updatePortable(uint32_t state, const void* data, size_t len);
  // The portable loop of 32-bit hosts (lanes of 32-bit words), which
  // 64-bit hosts use only for what is left after their 64-bit lanes.
  static uint32_t updatePortableNarrow(uint32_t state, const void* data,
                                       size_t len);
  static uint32_t updateClmul(uint32_t state, const void* data, size_t len);

  // True when this processor has the carry-less multiply path and
  // updateState uses it.
  static bool hasClmul();

 private:
  uint32_t state_ = 0xFFFFFFFFu;
};

}  // namespace sfx

#endif  // SFX_CODEC_CRC32_H_
