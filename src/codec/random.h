// The process-wide random source: an R250 shift-register generator (250
// words, lag 103) seeded once from the OS random source. Its user is the
// temporary-name generator.
#ifndef SFX_CODEC_RANDOM_H_
#define SFX_CODEC_RANDOM_H_

#include <cstdint>

namespace sfx {

// One R250 generator. Not guarded; the process-wide source below wraps one
// in a critical section.
class R250 {
 public:
  static constexpr int kWords = 250;
  static constexpr int kLag = 103;

  // Takes the 250 seed words, sets the index pair to 0 and 103, and makes the
  // words linearly independent: for k = 0..31, word 3 + 7k keeps its bits
  // below bit 31 - k, gets bit 31 - k set and the bits above it cleared.
  void seed(const uint32_t words[kWords]);

  // word[i] ^ word[j], stored back into word[i]; both indices then advance
  // by one modulo 250.
  uint32_t next();

 private:
  uint32_t words_[kWords] = {};
  int i_ = 0;
  int j_ = kLag;
};

// Fills `words` with the fallback seed used when the OS random source fails:
// srand(seed), then from the last word to the first, three rand() values
// r1, r2, r3 give (r2 * 32768 + r1) * 4 + (r3 & 3).
void fallbackSeedWords(uint32_t seed, uint32_t words[R250::kWords]);

// The next raw 32-bit value of the process-wide source. The first draw
// seeds it: 1000 bytes from osRandomBytes, or the fallback seeded with the
// tick count when that fails; then srand() gets one value of the generator.
uint32_t randomNext();

// A value drawn uniformly from lo..hi inclusive (lo when lo == hi; the bounds
// are swapped when lo > hi). Uses the low 24 bits of randomNext():
// lo + floor(r * (hi - lo + 1) / 2^24), clamped to lo..hi.
int32_t randomInRange(int32_t lo, int32_t hi);

// Handle through which objects draw from the process-wide source; it has no
// state of its own.
class MarlithRand {
 public:
  MarlithRand() = default;
  virtual ~MarlithRand();

  uint32_t randomNext() { return sfx::randomNext(); }
  int32_t randomInRange(int32_t lo, int32_t hi) {
    return sfx::randomInRange(lo, hi);
  }
};

}  // namespace sfx

#endif  // SFX_CODEC_RANDOM_H_
