// The CRC-32 update paths (portable lanes of 64- and 32-bit words, carry-less
// multiply)
// against the bit-at-a-time definition: every length around the block
// sizes, every alignment, running states other than the initial one.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "codec/codec_test_support.h"
#include "codec/crc32.h"

namespace sfx {
namespace {

using codec_test::pseudoRandomBytes;

// Advances a raw state bit by bit (reflected 0xEDB88320).
uint32_t referenceState(uint32_t c, const unsigned char* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ ((c & 1u) ? 0xEDB88320u : 0u);
  }
  return c;
}

using UpdateFn = uint32_t (*)(uint32_t, const void*, size_t);

struct Path {
  const char* name;
  UpdateFn update;
};

const Path kPaths[] = {
    {"portable", ZipCRC::updatePortable},
    {"portable narrow", ZipCRC::updatePortableNarrow},
    {"clmul", ZipCRC::updateClmul},
    {"dispatched", ZipCRC::updateState},
};

TEST(Crc32PathsTest, EveryLengthAndAlignmentMatchesDefinition) {
  // 0 to 400 bytes covers the tail loop, one and several 16-byte passes,
  // the first 64-byte block of the folding path and its 16-byte remainder.
  std::vector<unsigned char> data = pseudoRandomBytes(400 + 16, 3);
  const uint32_t starts[] = {0xFFFFFFFFu, 0u, 0x12345678u};
  for (const Path& path : kPaths) {
    for (uint32_t start : starts) {
      for (size_t align = 0; align < 16; align += 3) {
        for (size_t n = 0; n <= 400; ++n) {
          const unsigned char* p = data.data() + align;
          ASSERT_EQ(path.update(start, p, n), referenceState(start, p, n))
              << path.name << " length " << n << " offset " << align
              << " start " << start;
        }
      }
    }
  }
}

TEST(Crc32PathsTest, LargeBufferInUnevenPiecesMatchesDefinition) {
  std::vector<unsigned char> data = pseudoRandomBytes(3 * 1024 * 1024 + 77, 9);
  const uint32_t expected =
      referenceState(0xFFFFFFFFu, data.data(), data.size());
  const size_t pieces[] = {1, 63, 64, 65, 4096, 1000003};
  for (const Path& path : kPaths) {
    EXPECT_EQ(path.update(0xFFFFFFFFu, data.data(), data.size()), expected)
        << path.name << " whole";
    for (size_t piece : pieces) {
      uint32_t state = 0xFFFFFFFFu;
      for (size_t off = 0; off < data.size(); off += piece) {
        size_t n = std::min(piece, data.size() - off);
        state = path.update(state, data.data() + off, n);
      }
      EXPECT_EQ(state, expected) << path.name << " pieces of " << piece;
    }
  }
}

// The published check value of this CRC ("123456789") on each path, and a
// single flipped bit anywhere in a block changes the result.
TEST(Crc32PathsTest, CheckValueAndSingleBitFlips) {
  for (const Path& path : kPaths) {
    EXPECT_EQ(~path.update(0xFFFFFFFFu, "123456789", 9), 0xCBF43926u)
        << path.name;
  }
  std::vector<unsigned char> data = pseudoRandomBytes(256, 5);
  const uint32_t clean = ZipCRC::oneShot(data.data(), data.size());
  for (size_t bit = 0; bit < data.size() * 8; ++bit) {
    data[bit / 8] ^= static_cast<unsigned char>(1u << (bit % 8));
    ASSERT_NE(ZipCRC::oneShot(data.data(), data.size()), clean) << bit;
    data[bit / 8] ^= static_cast<unsigned char>(1u << (bit % 8));
  }
}

}  // namespace
}  // namespace sfx
