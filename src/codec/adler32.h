// Adler-32, the running checksum of zlib-wrapped data.
#ifndef SFX_CODEC_ADLER32_H_
#define SFX_CODEC_ADLER32_H_

#include <cstddef>
#include <cstdint>

namespace sfx {

// The Adler-32 starting value.
constexpr uint32_t kAdler32Init = 1;

// Returns the Adler-32 of the bytes summed so far into `adler` followed by
// the `len` bytes at `data`. Start from kAdler32Init.
uint32_t adler32Update(uint32_t adler, const void* data, size_t len);

}  // namespace sfx

#endif  // SFX_CODEC_ADLER32_H_
