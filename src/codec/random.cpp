// The R250 generator and the process-wide source seeded on its first draw.
#include "codec/random.h"

#include <cstdlib>

#include "log/crit_sec.h"
#include "os/os.h"

namespace sfx {
namespace {

// The generator and the section that guards it; built on the first draw.
struct RandomSource {
  MarlithCritSec section;
  R250 generator;

  RandomSource() {
    uint32_t words[R250::kWords];
    unsigned char bytes[sizeof words];  // 1000 bytes
    if (osRandomBytes(bytes, sizeof bytes)) {
      for (int w = 0; w < R250::kWords; ++w) {
        const unsigned char* p = bytes + 4 * w;
        words[w] = static_cast<uint32_t>(p[0]) |
                   (static_cast<uint32_t>(p[1]) << 8) |
                   (static_cast<uint32_t>(p[2]) << 16) |
                   (static_cast<uint32_t>(p[3]) << 24);
      }
    } else {
      fallbackSeedWords(tickCount() ^ currentThreadId(), words);
    }
    generator.seed(words);
    srand(generator.next());
  }
};

RandomSource& source() {
  static RandomSource s;
  return s;
}

}  // namespace

void R250::seed(const uint32_t words[kWords]) {
  for (int w = 0; w < kWords; ++w) words_[w] = words[w];
  i_ = 0;
  j_ = kLag;
  for (int k = 0; k < 32; ++k) {
    uint32_t bit = 0x80000000u >> k;
    uint32_t& word = words_[3 + 7 * k];
    word = (word & (bit - 1)) | bit;
  }
}

uint32_t R250::next() {
  uint32_t value = words_[i_] ^ words_[j_];
  words_[i_] = value;
  i_ = (i_ + 1) % kWords;
  j_ = (j_ + 1) % kWords;
  return value;
}

void fallbackSeedWords(uint32_t seed, uint32_t words[R250::kWords]) {
  srand(seed);
  for (int w = R250::kWords - 1; w >= 0; --w) {
    uint32_t r1 = static_cast<uint32_t>(rand());
    uint32_t r2 = static_cast<uint32_t>(rand());
    uint32_t r3 = static_cast<uint32_t>(rand());
    words[w] = (r2 * 32768u + r1) * 4u + (r3 & 3u);
  }
}

uint32_t randomNext() {
  RandomSource& s = source();
  CritSecExitor guard(s.section);
  return s.generator.next();
}

int32_t randomInRange(int32_t lo, int32_t hi) {
  if (lo == hi) return lo;
  if (lo > hi) {
    int32_t t = lo;
    lo = hi;
    hi = t;
  }
  uint64_t r = randomNext() & 0xFFFFFFu;
  uint64_t span = static_cast<uint64_t>(static_cast<int64_t>(hi) - lo + 1);
  int64_t v = lo + static_cast<int64_t>((r * span) >> 24);
  if (v < lo) v = lo;
  if (v > hi) v = hi;
  return static_cast<int32_t>(v);
}

MarlithRand::~MarlithRand() = default;

}  // namespace sfx
