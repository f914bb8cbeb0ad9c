// SHA-256 after FIPS 180-4 section 6.2, HMAC over it, and PBKDF2, whose
// rounds hash 32-byte values in prepared, padded blocks of words.
#include "codec/sha256.h"

#include <cstring>

namespace sfx {
namespace {

// The first 32 bits of the fractional parts of the cube roots of the first
// 64 primes (FIPS 180-4 section 4.2.2).
constexpr uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1,
    0x923f82a4, 0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3,
    0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786,
    0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147,
    0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13,
    0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
    0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a,
    0x5b9cca4f, 0x682e6ff3, 0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208,
    0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

// The first 32 bits of the fractional parts of the square roots of the
// first 8 primes (section 5.3.3).
constexpr uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372,
                                  0xa54ff53a, 0x510e527f, 0x9b05688c,
                                  0x1f83d9ab, 0x5be0cd19};

inline uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t load32be(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}

inline void store32be(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

// One compression of the 16 message words `m` into `state`.
void compress(uint32_t state[8], const uint32_t m[16]) {
  uint32_t w[64];
  memcpy(w, m, 16 * sizeof(uint32_t));
  for (int t = 16; t < 64; ++t) {
    uint32_t s0 = rotr(w[t - 15], 7) ^ rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
    uint32_t s1 = rotr(w[t - 2], 17) ^ rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
    w[t] = w[t - 16] + s0 + w[t - 7] + s1;
  }
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
  for (int t = 0; t < 64; ++t) {
    uint32_t t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) +
                  ((e & f) ^ (~e & g)) + kRound[t] + w[t];
    uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) +
                  ((a & b) ^ (a & c) ^ (b & c));
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
  state[5] += f;
  state[6] += g;
  state[7] += h;
}

void wipe(void* p, size_t n) {
  volatile uint8_t* v = static_cast<volatile uint8_t*>(p);
  while (n--) *v++ = 0;
}

}  // namespace

Sha256::~Sha256() { wipe(this, sizeof *this); }

void Sha256::init() {
  memcpy(state_, kInitial, sizeof state_);
  bytes_ = 0;
}

void Sha256::transform(const uint8_t block[kSha256BlockSize]) {
  uint32_t m[16];
  for (int i = 0; i < 16; ++i) m[i] = load32be(block + 4 * i);
  compress(state_, m);
}

void Sha256::update(const void* data, size_t len) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  size_t used = static_cast<size_t>(bytes_ % kSha256BlockSize);
  bytes_ += len;
  if (used > 0) {
    size_t take = kSha256BlockSize - used;
    if (len < take) {
      memcpy(block_ + used, p, len);
      return;
    }
    memcpy(block_ + used, p, take);
    transform(block_);
    p += take;
    len -= take;
  }
  for (; len >= kSha256BlockSize; len -= kSha256BlockSize) {
    transform(p);
    p += kSha256BlockSize;
  }
  if (len > 0) memcpy(block_, p, len);
}

void Sha256::final(uint8_t digest[kSha256DigestSize]) {
  uint64_t bits = bytes_ * 8;
  size_t used = static_cast<size_t>(bytes_ % kSha256BlockSize);
  static const uint8_t kPadding[kSha256BlockSize] = {0x80};
  update(kPadding, used < 56 ? 56 - used : 120 - used);
  uint8_t length[8];
  store32be(length, static_cast<uint32_t>(bits >> 32));
  store32be(length + 4, static_cast<uint32_t>(bits));
  update(length, 8);
  for (int i = 0; i < 8; ++i) store32be(digest + 4 * i, state_[i]);
  init();
}

void Sha256::digest(const void* data, size_t len,
                    uint8_t out[kSha256DigestSize]) {
  Sha256 h;
  h.update(data, len);
  h.final(out);
}

HmacSha256::HmacSha256(const void* key, size_t keyLen) {
  uint8_t pad[kSha256BlockSize] = {};
  if (keyLen > kSha256BlockSize) {
    Sha256::digest(key, keyLen, pad);
  } else if (keyLen > 0) {
    memcpy(pad, key, keyLen);
  }
  for (uint8_t& b : pad) b ^= 0x36;
  inner_.update(pad, sizeof pad);
  for (uint8_t& b : pad) b ^= 0x36 ^ 0x5c;
  outer_.update(pad, sizeof pad);
  wipe(pad, sizeof pad);
}

HmacSha256::~HmacSha256() = default;

void HmacSha256::mac(const void* data, size_t len,
                     uint8_t out[kSha256DigestSize]) const {
  Sha256 h = inner_;
  h.update(data, len);
  uint8_t innerDigest[kSha256DigestSize];
  h.final(innerDigest);
  h = outer_;
  h.update(innerDigest, sizeof innerDigest);
  h.final(out);
  wipe(innerDigest, sizeof innerDigest);
}

void pbkdf2HmacSha256(const void* password, size_t passwordLen,
                      const void* salt, size_t saltLen, uint32_t iterations,
                      uint8_t* out, size_t outLen) {
  HmacSha256 prf(password, passwordLen);
  if (iterations == 0) iterations = 1;
  // A round hashes a 32-byte value after a key block: one block of 8 value
  // words, the 0x80 byte and the bit length (64 + 32) * 8 = 768.
  uint32_t innerBlock[16] = {};
  uint32_t outerBlock[16] = {};
  innerBlock[8] = outerBlock[8] = 0x80000000u;
  innerBlock[15] = outerBlock[15] = 768;
  for (uint32_t index = 1; outLen > 0; ++index) {
    // U1 = PRF(password, salt || INT(index)), through the general path.
    Sha256 first = prf.inner_;
    first.update(salt, saltLen);
    uint8_t counter[4];
    store32be(counter, index);
    first.update(counter, 4);
    uint8_t u[kSha256DigestSize];
    first.final(u);
    first = prf.outer_;
    first.update(u, sizeof u);
    first.final(u);
    uint32_t t[8];  // the running xor of U1 .. Uc
    for (int i = 0; i < 8; ++i) t[i] = outerBlock[i] = load32be(u + 4 * i);
    for (uint32_t round = 1; round < iterations; ++round) {
      uint32_t state[8];
      memcpy(state, prf.inner_.state_, sizeof state);
      memcpy(innerBlock, outerBlock, 8 * sizeof(uint32_t));
      compress(state, innerBlock);
      memcpy(outerBlock, state, sizeof state);
      memcpy(state, prf.outer_.state_, sizeof state);
      compress(state, outerBlock);
      memcpy(outerBlock, state, sizeof state);
      for (int i = 0; i < 8; ++i) t[i] ^= state[i];
    }
    uint8_t block[kSha256DigestSize];
    for (int i = 0; i < 8; ++i) store32be(block + 4 * i, t[i]);
    size_t take = outLen < sizeof block ? outLen : sizeof block;
    memcpy(out, block, take);
    out += take;
    outLen -= take;
    wipe(block, sizeof block);
    wipe(u, sizeof u);
    wipe(t, sizeof t);
  }
  wipe(innerBlock, sizeof innerBlock);
  wipe(outerBlock, sizeof outerBlock);
}

}  // namespace sfx
