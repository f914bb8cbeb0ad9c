// The R250 generator's indices, lag and seeding rule, and the range of the
// process-wide source.
#include "codec/random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <set>
#include <vector>

namespace sfx {
namespace {

// With all-zero seed words only the 32 independence words are non-zero
// (word 3 + 7k holds bit 31 - k alone), so each early draw word[n] ^
// word[n + 103] shows exactly which words the index pair reaches.
TEST(R250Test, ZeroSeedExposesIndexPairAndIndependenceBits) {
  uint32_t zeros[R250::kWords] = {};
  R250 gen;
  gen.seed(zeros);
  std::vector<uint32_t> draws;
  for (int n = 0; n < 20; ++n) draws.push_back(gen.next());
  struct Case {
    int draw;
    uint32_t value;
  };
  const Case cases[] = {
      {0, 0},             // word 0 ^ word 103: neither is an independence word
      {3, 0x80000000u},   // word 3 (k = 0)
      {5, 0x00010000u},   // word 108 = 3 + 7 * 15 through the lag
      {10, 0x40000000u},  // word 10 (k = 1)
      {12, 0x00008000u},  // word 115 (k = 16)
      {17, 0x20000000u},  // word 17 (k = 2)
      {19, 0x00004000u},  // word 122 (k = 17)
  };
  for (const Case& c : cases) {
    EXPECT_EQ(draws[c.draw], c.value) << "draw " << c.draw;
  }
}

TEST(R250Test, IndependenceStepKeepsLowerBitsAndClearsHigherOnes) {
  uint32_t ones[R250::kWords];
  for (uint32_t& w : ones) w = 0xFFFFFFFFu;
  R250 gen;
  gen.seed(ones);
  // Draw 3 is word 3 ^ word 106 = 0xFFFFFFFF (k = 0) ^ 0xFFFFFFFF.
  // Draw 10 is word 10 (k = 1: 0x7FFFFFFF) ^ word 113 (0xFFFFFFFF).
  std::vector<uint32_t> draws;
  for (int n = 0; n < 11; ++n) draws.push_back(gen.next());
  EXPECT_EQ(draws[3], 0u);
  EXPECT_EQ(draws[10], 0x80000000u);
  EXPECT_EQ(draws[0], 0u);
}

TEST(R250Test, StoresEachDrawAndWrapsAround) {
  uint32_t words[R250::kWords];
  for (int w = 0; w < R250::kWords; ++w) {
    words[w] = 0x9E3779B9u * static_cast<uint32_t>(w + 1);
  }
  R250 gen;
  gen.seed(words);
  // Model the table separately from the seeded words: draw n (n < 147)
  // combines words n and n + 103; draw 147 + m reuses draw m, stored back.
  std::vector<uint32_t> model(words, words + R250::kWords);
  for (int k = 0; k < 32; ++k) {
    uint32_t bit = 0x80000000u >> k;
    model[3 + 7 * k] = (model[3 + 7 * k] & (bit - 1)) | bit;
  }
  for (int n = 0; n < 600; ++n) {
    int i = n % R250::kWords;
    int j = (n + R250::kLag) % R250::kWords;
    model[i] ^= model[j];
    ASSERT_EQ(gen.next(), model[i]) << "draw " << n;
  }
}

TEST(RandomTest, FallbackSeedIsRepeatableAndSeedDependent) {
  uint32_t a[R250::kWords], b[R250::kWords], c[R250::kWords];
  fallbackSeedWords(12345, a);
  fallbackSeedWords(12345, b);
  fallbackSeedWords(12346, c);
  EXPECT_TRUE(std::equal(a, a + R250::kWords, b));
  EXPECT_FALSE(std::equal(a, a + R250::kWords, c));
  std::set<uint32_t> distinct(a, a + R250::kWords);
  EXPECT_GT(distinct.size(), 240u);
}

TEST(RandomTest, InRangeStaysWithinBoundsAndReachesEveryValue) {
  struct Case {
    int32_t lo, hi;
    bool expectAll;  // small ranges: every value must show up
  };
  const Case cases[] = {
      {0, 35, true},
      {-5, -1, true},
      {7, 7, true},
      {3, 0, true},
      {INT32_MIN, INT32_MAX, false},
      {0, 1, true},
  };
  for (const Case& c : cases) {
    int32_t lo = c.lo < c.hi ? c.lo : c.hi;
    int32_t hi = c.lo < c.hi ? c.hi : c.lo;
    std::set<int32_t> seen;
    for (int n = 0; n < 5000; ++n) {
      int32_t v = randomInRange(c.lo, c.hi);
      ASSERT_GE(v, lo) << c.lo << ".." << c.hi;
      ASSERT_LE(v, hi) << c.lo << ".." << c.hi;
      seen.insert(v);
    }
    if (c.expectAll) {
      EXPECT_EQ(seen.size(), static_cast<size_t>(int64_t{hi} - lo + 1))
          << c.lo << ".." << c.hi;
    } else {
      EXPECT_GT(seen.size(), 4900u);
    }
  }
}

TEST(RandomTest, NextIsSeededAndVaries) {
  MarlithRand rand;
  std::set<uint32_t> seen;
  for (int n = 0; n < 1000; ++n) seen.insert(rand.randomNext());
  EXPECT_GT(seen.size(), 990u);
}

}  // namespace
}  // namespace sfx
