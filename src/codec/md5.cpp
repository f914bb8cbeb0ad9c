// MD5 after RFC 1321: 64-byte blocks, four rounds of sixteen steps.
#include "codec/md5.h"

#include <cstring>

#include "text/string_buffer.h"

namespace sfx {
namespace {

inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline uint32_t load32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

inline void store32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

// Per-step shift amounts, four per round.
constexpr int kShift[4][4] = {
    {7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

// kSine[i] = floor(abs(sin(i + 1)) * 2^32).
constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a,
    0xa8304613, 0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be,
    0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340,
    0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8,
    0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c,
    0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
    0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92,
    0xffeff47d, 0x85845dd1, 0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1,
    0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

}  // namespace

Md5::~Md5() = default;

void Md5::init() {
  state_[0] = 0x67452301u;
  state_[1] = 0xEFCDAB89u;
  state_[2] = 0x98BADCFEu;
  state_[3] = 0x10325476u;
  count_[0] = count_[1] = 0;
  memset(block_, 0, sizeof block_);
}

void Md5::transform(const unsigned char block[64]) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = load32(block + 4 * i);
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  for (int i = 0; i < 64; ++i) {
    int round = i / 16;
    uint32_t f;
    int g;
    switch (round) {
      case 0:
        f = (b & c) | (~b & d);
        g = i;
        break;
      case 1:
        f = (d & b) | (~d & c);
        g = (5 * i + 1) % 16;
        break;
      case 2:
        f = b ^ c ^ d;
        g = (3 * i + 5) % 16;
        break;
      default:
        f = c ^ (b | ~d);
        g = (7 * i) % 16;
        break;
    }
    uint32_t next = b + rotl(a + f + kSine[i] + x[g], kShift[round][i % 4]);
    a = d;
    d = c;
    c = b;
    b = next;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

void Md5::update(const void* data, size_t len) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  size_t used = (count_[0] >> 3) & 0x3F;
  // 64-bit bit count in two words; size_t may be 32 bits wide.
  uint64_t bits = (static_cast<uint64_t>(count_[1]) << 32 | count_[0]) +
                  (static_cast<uint64_t>(len) << 3);
  count_[0] = static_cast<uint32_t>(bits);
  count_[1] = static_cast<uint32_t>(bits >> 32);

  if (used > 0) {
    size_t take = 64 - used;
    if (len < take) {
      memcpy(block_ + used, p, len);
      return;
    }
    memcpy(block_ + used, p, take);
    transform(block_);
    p += take;
    len -= take;
  }
  while (len >= 64) {
    transform(p);
    p += 64;
    len -= 64;
  }
  if (len > 0) memcpy(block_, p, len);
}

void Md5::final(unsigned char digest[kMd5DigestSize]) {
  unsigned char length[8];
  store32(length, count_[0]);
  store32(length + 4, count_[1]);
  size_t used = (count_[0] >> 3) & 0x3F;
  size_t pad = (used < 56) ? 56 - used : 120 - used;
  static const unsigned char kPadding[64] = {0x80};
  update(kPadding, pad);
  update(length, 8);
  for (int i = 0; i < 4; ++i) store32(digest + 4 * i, state_[i]);
  init();
}

void Md5::digest(const void* data, size_t len,
                 unsigned char out[kMd5DigestSize]) {
  Md5 md5;
  md5.update(data, len);
  md5.final(out);
}

void Md5::digestSb(const StringBuffer& sb, unsigned char out[kMd5DigestSize]) {
  digest(sb.getString(), sb.getSize(), out);
}

}  // namespace sfx
