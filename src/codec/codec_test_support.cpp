// Helpers the codec tests share.
#include "codec/codec_test_support.h"

namespace sfx {
namespace codec_test {

std::vector<uint8_t> pseudoRandomBytes(size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    v[i] = static_cast<uint8_t>(seed >> 16);
  }
  return v;
}

}  // namespace codec_test
}  // namespace sfx
