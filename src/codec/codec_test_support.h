// Helpers the codec tests share (the codec test-support library, which also
// holds the inflater's stream writer and decoder runs: inflate_test_util.h).
#ifndef SFX_CODEC_CODEC_TEST_SUPPORT_H_
#define SFX_CODEC_CODEC_TEST_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sfx {
namespace codec_test {

// `n` bytes of a linear congruential sequence started at `seed`: filler
// that is the same on every run and every platform, so that failures
// reproduce.
std::vector<uint8_t> pseudoRandomBytes(size_t n, uint32_t seed);

}  // namespace codec_test
}  // namespace sfx

#endif  // SFX_CODEC_CODEC_TEST_SUPPORT_H_
