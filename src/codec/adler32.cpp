// Adler-32 with the modulo reduction deferred over runs of bytes that
// cannot overflow 32 bits; the result equals reducing after every byte.
#include "codec/adler32.h"

namespace sfx {
namespace {

constexpr uint32_t kBase = 65521;  // largest prime below 65536
// Largest n with 255n(n+1)/2 + (n+1)(kBase-1) <= 2^32-1.
constexpr size_t kMaxRun = 5552;

}  // namespace

uint32_t adler32Update(uint32_t adler, const void* data, size_t len) {
  if (len == 0) return adler;
  uint32_t a = adler & 0xFFFFu;
  uint32_t b = adler >> 16;
  // Values from outside may exceed the modulus; bring them in range first.
  a %= kBase;
  b %= kBase;
  const unsigned char* p = static_cast<const unsigned char*>(data);
  while (len > 0) {
    size_t run = len < kMaxRun ? len : kMaxRun;
    len -= run;
    while (run--) {
      a += *p++;
      b += a;
    }
    a %= kBase;
    b %= kBase;
  }
  return (b << 16) | a;
}

}  // namespace sfx
