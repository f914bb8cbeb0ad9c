// The cost of one password key derivation (PBKDF2-HMAC-SHA256 with the
// default count, as the stub runs it once per password tried), beside the
// earlier unsalted MD5 key as the reference. Built natively and for Win32
// (run under Wine). Prints the median wall time of several derivations.
// Usage: kdf_bench [ITERATIONS] [ROUNDS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "codec/kdf.h"
#include "text/data_buffer.h"

namespace sfx {
namespace {

template <typename F>
double medianSeconds(int rounds, F&& run) {
  std::vector<double> times;
  for (int r = 0; r < rounds; ++r) {
    auto t0 = std::chrono::steady_clock::now();
    run();
    std::chrono::duration<double> d = std::chrono::steady_clock::now() - t0;
    times.push_back(d.count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

int run(int argc, char** argv) {
  KdfSettings kdf;
  kdf.iterations = argc > 1 ? static_cast<uint32_t>(strtoul(argv[1], nullptr, 10))
                            : kKdfDefaultIterations;
  const int rounds = argc > 2 ? atoi(argv[2]) : 5;
  for (uint32_t i = 0; i < kKdfSaltSize; ++i)
    kdf.salt[i] = static_cast<uint8_t>(i * 17 + 3);
  static const char kPassword[] = "correct horse battery staple";
  DataBuffer key;
  double salted = medianSeconds(rounds, [&] {
    deriveArchiveKey(kPassword, sizeof kPassword - 1, &kdf, 256, key);
  });
  double legacy = medianSeconds(rounds, [&] {
    for (int i = 0; i < 1000; ++i)
      deriveArchiveKey(kPassword, sizeof kPassword - 1, nullptr, 256, key);
  }) / 1000;
  printf("pbkdf2-hmac-sha256, %u iterations, 256-bit key: %.3f s per key "
         "(median of %d)\n",
         kdf.iterations, salted, rounds);
  printf("unsalted MD5 key (reference): %.2f us per key; the salted key costs "
         "%.0f times as much\n",
         legacy * 1e6, salted / legacy);
  return 0;
}

}  // namespace
}  // namespace sfx

int main(int argc, char** argv) { return sfx::run(argc, argv); }
