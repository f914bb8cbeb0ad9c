// CRC-32 throughput: the portable path (and its 32-bit-host loop), the carry-less
// multiply path (where the processor has it) and the dispatched update,
// beside zlib's crc32 on the same buffers in the same run. Prints the
// median of several rounds in GB/s of processor time, for a 1 MiB buffer
// (in cache) and a 64 MiB one (from memory), and the ratios against zlib.
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "codec/crc32.h"

namespace {

constexpr int kRounds = 9;

double cpuSeconds() {
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

// Median GB/s of `fn` over `kRounds` rounds of at least 256 MiB each; the
// CRCs are summed into *sink so that no round can be left out.
template <typename Fn>
double measure(const std::vector<unsigned char>& buf, Fn fn, uint32_t* sink) {
  const size_t perRound = std::max<size_t>(1, (256u << 20) / buf.size());
  std::vector<double> rates;
  for (int r = 0; r < kRounds; ++r) {
    double t0 = cpuSeconds();
    for (size_t i = 0; i < perRound; ++i) *sink += fn(buf.data(), buf.size());
    double t = cpuSeconds() - t0;
    rates.push_back(t > 0 ? perRound * buf.size() / t / 1e9 : 0);
  }
  std::sort(rates.begin(), rates.end());
  return rates[rates.size() / 2];
}

}  // namespace

int main() {
  using sfx::ZipCRC;
  uint32_t sink = 0;
  printf("carry-less multiply path: %s\n",
         ZipCRC::hasClmul() ? "available" : "not available on this processor");
  printf("%-10s %10s %10s %10s %10s %10s %12s %12s\n", "buffer", "portable", "narrow",
         "clmul", "dispatch", "zlib", "port/zlib", "disp/zlib");
  for (size_t size : {size_t{1} << 20, size_t{64} << 20}) {
    std::vector<unsigned char> buf(size);
    uint32_t seed = 1;
    for (auto& b : buf) b = static_cast<unsigned char>((seed = seed * 1103515245u + 12345u) >> 16);
    uint32_t want = static_cast<uint32_t>(crc32(0, buf.data(), static_cast<uInt>(buf.size())));
    if (ZipCRC::oneShot(buf.data(), buf.size()) != want ||
        ~ZipCRC::updatePortable(~0u, buf.data(), buf.size()) != want ||
        ~ZipCRC::updateClmul(~0u, buf.data(), buf.size()) != want) {
      fprintf(stderr, "crc32_bench: results differ from zlib\n");
      return 1;
    }
    double portable = measure(buf, [](const unsigned char* p, size_t n) {
      return ZipCRC::updatePortable(~0u, p, n);
    }, &sink);
    double narrow = measure(buf, [](const unsigned char* p, size_t n) {
      return ZipCRC::updatePortableNarrow(~0u, p, n);
    }, &sink);
    double clmul = measure(buf, [](const unsigned char* p, size_t n) {
      return ZipCRC::updateClmul(~0u, p, n);
    }, &sink);
    double dispatched = measure(buf, [](const unsigned char* p, size_t n) {
      return ZipCRC::updateState(~0u, p, n);
    }, &sink);
    double zlib = measure(buf, [](const unsigned char* p, size_t n) {
      return static_cast<uint32_t>(crc32(0, p, static_cast<uInt>(n)));
    }, &sink);
    printf("%7zu MiB %5.2f GB/s %5.2f GB/s %5.2f GB/s %5.2f GB/s %5.2f GB/s "
           "%12.2f %12.2f\n",
           size >> 20, portable, narrow, clmul, dispatched, zlib, portable / zlib,
           dispatched / zlib);
  }
  printf("(checksum of all rounds: %08x)\n", sink);
  return 0;
}
