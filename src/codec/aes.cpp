// AES after FIPS-197 on 32-bit words: four combined round tables per
// direction, built at compile time from the GF(2^8) arithmetic, and
// decryption by the equivalent inverse cipher.
#include "codec/aes.h"

#include <cstring>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <cpuid.h>
#include <immintrin.h>
#define SFX_AES_HARDWARE 1
#endif

#include "codec/md5.h"
#include "log/log_base.h"
#include "text/string_buffer.h"

namespace sfx {
namespace {

// Multiplication by x in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1.
constexpr uint8_t xtime(uint8_t a) {
  return static_cast<uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1B : 0x00));
}

constexpr uint8_t gmul(uint8_t a, uint8_t b) {
  uint8_t r = 0;
  while (b) {
    if (b & 1) r ^= a;
    a = xtime(a);
    b >>= 1;
  }
  return r;
}

constexpr uint8_t rotl8(uint8_t x, int n) {
  return static_cast<uint8_t>((x << n) | (x >> (8 - n)));
}

constexpr uint32_t ror32(uint32_t x, int n) {
  return (x >> n) | (x << (32 - n));
}

constexpr uint32_t word(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return static_cast<uint32_t>(a) << 24 | static_cast<uint32_t>(b) << 16 |
         static_cast<uint32_t>(c) << 8 | d;
}

struct Tables {
  uint8_t sbox[256];
  uint8_t invSbox[256];
  // te[0][x] is the MixColumns column of S[x] in row 0 (02 01 01 03 from
  // the top byte down); te[k] is te[0] rotated right by 8k bits, for row k.
  uint32_t te[4][256];
  // td[0][x] is the InvMixColumns column of InvS[x] (0e 09 0d 0b).
  uint32_t td[4][256];
  // Round constants x^(i-1) for the key expansion, in the top byte.
  uint32_t rcon[10];
};

constexpr Tables makeTables() {
  Tables t{};
  // Powers and logarithms of the generator 03 give the inverses:
  // inv(x) = 03^(255 - log(x)); 0 has no inverse and maps to 0.
  uint8_t pow[255] = {};
  uint8_t log[256] = {};
  uint8_t p = 1;
  for (int i = 0; i < 255; ++i) {
    pow[i] = p;
    log[p] = static_cast<uint8_t>(i);
    p = gmul(p, 3);
  }
  for (int x = 0; x < 256; ++x) {
    uint8_t inv = x == 0 ? 0 : pow[(255 - log[x]) % 255];
    // The affine transformation of FIPS-197 5.1.1.
    uint8_t s = static_cast<uint8_t>(inv ^ rotl8(inv, 1) ^ rotl8(inv, 2) ^
                                     rotl8(inv, 3) ^ rotl8(inv, 4) ^ 0x63);
    t.sbox[x] = s;
    t.invSbox[s] = static_cast<uint8_t>(x);
  }
  for (int x = 0; x < 256; ++x) {
    uint8_t s = t.sbox[x];
    uint8_t i = t.invSbox[x];
    uint32_t e = word(gmul(s, 2), s, s, gmul(s, 3));
    uint32_t d = word(gmul(i, 14), gmul(i, 9), gmul(i, 13), gmul(i, 11));
    for (int k = 0; k < 4; ++k) {
      t.te[k][x] = k == 0 ? e : ror32(e, 8 * k);
      t.td[k][x] = k == 0 ? d : ror32(d, 8 * k);
    }
  }
  uint8_t r = 1;
  for (int i = 0; i < 10; ++i) {
    t.rcon[i] = static_cast<uint32_t>(r) << 24;
    r = xtime(r);
  }
  return t;
}

constexpr Tables kTables = makeTables();

inline uint8_t byteOf(uint32_t w, int n) {  // n = 0 is the top byte
  return static_cast<uint8_t>(w >> (24 - 8 * n));
}

inline uint32_t load32be(const uint8_t* p) {
  return word(p[0], p[1], p[2], p[3]);
}

inline void store32be(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

inline uint32_t subWord(uint32_t w) {
  const uint8_t* s = kTables.sbox;
  return word(s[byteOf(w, 0)], s[byteOf(w, 1)], s[byteOf(w, 2)],
              s[byteOf(w, 3)]);
}

// InvMixColumns of one round-key word: td[k][S[b]] undoes the S-box that td
// has built in, leaving the plain column multiplication.
inline uint32_t invMixWord(uint32_t w) {
  const uint8_t* s = kTables.sbox;
  return kTables.td[0][s[byteOf(w, 0)]] ^ kTables.td[1][s[byteOf(w, 1)]] ^
         kTables.td[2][s[byteOf(w, 2)]] ^ kTables.td[3][s[byteOf(w, 3)]];
}

void xorBlock(uint8_t* dst, const uint8_t* a, const uint8_t* b) {
  for (uint32_t i = 0; i < kAesBlockSize; ++i)
    dst[i] = static_cast<uint8_t>(a[i] ^ b[i]);
}

// Overwrites `n` bytes in a way the optimiser may not drop.
void wipe(void* p, size_t n) {
  volatile uint8_t* v = static_cast<volatile uint8_t*>(p);
  while (n--) *v++ = 0;
}

#if defined(SFX_AES_HARDWARE)
bool cpuHasAes() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  return (c & bit_AES) != 0 && (d & bit_SSE2) != 0;
}

// CBC decryption with the AES instructions; `keys` are the rounds + 1
// round keys of the equivalent inverse cipher as bytes. Blocks are
// independent once the ciphertext is known, so eight are decrypted side by
// side to cover the instructions' latency (written out, so that they stay
// in registers). Compiled for these instructions only; called only when
// cpuid reports them.
#define SFX_AES_LANES(OP) OP(0) OP(1) OP(2) OP(3) OP(4) OP(5) OP(6) OP(7)

__attribute__((target("aes,sse2"))) void cbcDecryptHardware(
    const uint8_t* keys, uint32_t rounds, const uint8_t* in, uint8_t* out,
    uint32_t blocks, uint8_t chain[kAesBlockSize]) {
  const __m128i* rk = reinterpret_cast<const __m128i*>(keys);
  const __m128i first = _mm_loadu_si128(rk);
  const __m128i last = _mm_loadu_si128(rk + rounds);
  __m128i prev = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chain));
  const __m128i* src = reinterpret_cast<const __m128i*>(in);
  __m128i* dst = reinterpret_cast<__m128i*>(out);
  uint32_t b = 0;
  for (; b + 8 <= blocks; b += 8) {
#define SFX_LOAD(k) \
  __m128i x##k = _mm_xor_si128(_mm_loadu_si128(src + b + k), first);
    SFX_AES_LANES(SFX_LOAD)
#undef SFX_LOAD
    for (uint32_t r = 1; r < rounds; ++r) {
      const __m128i key = _mm_loadu_si128(rk + r);
#define SFX_ROUND(k) x##k = _mm_aesdec_si128(x##k, key);
      SFX_AES_LANES(SFX_ROUND)
#undef SFX_ROUND
    }
#define SFX_LAST(k) x##k = _mm_aesdeclast_si128(x##k, last);
    SFX_AES_LANES(SFX_LAST)
#undef SFX_LAST
    // The ciphertext is read again for the chaining: `dst` may be `src`
    // only block for block, and each block is read before it is stored.
    __m128i c0 = _mm_loadu_si128(src + b);
    _mm_storeu_si128(dst + b, _mm_xor_si128(x0, prev));
#define SFX_STORE(k, j)                        \
  __m128i c##k = _mm_loadu_si128(src + b + k); \
  _mm_storeu_si128(dst + b + k, _mm_xor_si128(x##k, c##j));
    SFX_STORE(1, 0)
    SFX_STORE(2, 1)
    SFX_STORE(3, 2)
    SFX_STORE(4, 3)
    SFX_STORE(5, 4)
    SFX_STORE(6, 5)
    SFX_STORE(7, 6)
#undef SFX_STORE
    prev = c7;
  }
#undef SFX_AES_LANES
  for (; b < blocks; ++b) {
    __m128i c = _mm_loadu_si128(src + b);
    __m128i x = _mm_xor_si128(c, first);
    for (uint32_t r = 1; r < rounds; ++r)
      x = _mm_aesdec_si128(x, _mm_loadu_si128(rk + r));
    _mm_storeu_si128(dst + b,
                     _mm_xor_si128(_mm_aesdeclast_si128(x, last), prev));
    prev = c;
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(chain), prev);
}
#endif

}  // namespace

AesCipher::AesCipher() = default;

AesCipher::~AesCipher() {
  key_.secureClear();
  wipe(chainingStart_, sizeof chainingStart_);
  wipe(encKeys_, sizeof encKeys_);
  wipe(decKeys_, sizeof decKeys_);
}

bool AesCipher::hardwareAvailable() {
#if defined(SFX_AES_HARDWARE)
  static const bool available = cpuHasAes();
  return available;
#else
  return false;
#endif
}

void AesCipher::decryptCbc(const uint8_t* in, uint8_t* out, uint32_t blocks,
                           uint8_t chain[kAesBlockSize]) const {
#if defined(SFX_AES_HARDWARE)
  if (hardwareAllowed_ && hardwareAvailable()) {
    uint8_t keys[16 * (kAesMaxRounds + 1)];
    for (uint32_t i = 0; i < 4 * (rounds_ + 1); ++i)
      store32be(keys + 4 * i, decKeys_[i]);
    cbcDecryptHardware(keys, rounds_, in, out, blocks, chain);
    wipe(keys, sizeof keys);
    return;
  }
#endif
  uint8_t c[kAesBlockSize];
  for (uint32_t b = 0; b < blocks; ++b) {
    memcpy(c, in + kAesBlockSize * b, kAesBlockSize);
    uint8_t* p = out + kAesBlockSize * b;
    decryptBlock(c, p);
    xorBlock(p, p, chain);
    memcpy(chain, c, kAesBlockSize);
  }
  wipe(c, sizeof c);
}

uint32_t AesCipher::setKeyLength(uint32_t bits) {
  keyBits_ = bits >= 193 ? 256 : (bits <= 128 ? 128 : 192);
  return keyBits_;
}

bool AesCipher::deriveKey(const StringBuffer& password, uint32_t keyBits,
                          DataBuffer& key) {
  key.secureClear();
  unsigned char digest[kMd5DigestSize];
  Md5::digestSb(password, digest);
  bool ok = key.append(digest, kMd5DigestSize);
  if (ok && keyBits > 128) {
    // The second digest covers the password followed by the digit "1".
    Md5 md5;
    md5.update(password.getString(), password.getSize());
    md5.update("1", 1);
    md5.final(digest);
    ok = key.append(digest, keyBits >= 193 ? 16 : 8);
  }
  wipe(digest, sizeof digest);
  if (!ok) key.secureClear();
  return ok;
}

bool AesCipher::setKey(const DataBuffer& key) {
  if (&key == &key_) return true;
  key_.secureClear();
  return key_.appendDb(key);
}

void AesCipher::initialize(bool encrypt) {
  ready_ = false;
  encrypt_ = encrypt;
  uint8_t keyBytes[32] = {};
  uint32_t have = key_.getSize() < 32 ? key_.getSize() : 32;
  if (have) memcpy(keyBytes, key_.getData(), have);
  if (mode_ > 4) {
    wipe(keyBytes, sizeof keyBytes);
    return;
  }
  uint32_t nk;  // key length in 32-bit words
  switch (keyBits_) {
    case 128:
      rounds_ = 10;
      nk = 4;
      break;
    case 192:
      rounds_ = 12;
      nk = 6;
      break;
    case 256:
      rounds_ = 14;
      nk = 8;
      break;
    default:
      wipe(keyBytes, sizeof keyBytes);
      return;
  }
  // Key expansion (FIPS-197 5.2).
  const uint32_t total = 4 * (rounds_ + 1);
  for (uint32_t i = 0; i < nk; ++i) encKeys_[i] = load32be(keyBytes + 4 * i);
  for (uint32_t i = nk; i < total; ++i) {
    uint32_t temp = encKeys_[i - 1];
    if (i % nk == 0) {
      temp = subWord((temp << 8) | (temp >> 24)) ^ kTables.rcon[i / nk - 1];
    } else if (nk > 6 && i % nk == 4) {
      temp = subWord(temp);
    }
    encKeys_[i] = encKeys_[i - nk] ^ temp;
  }
  // Equivalent inverse cipher (FIPS-197 5.3.5): the round keys in reverse
  // order, InvMixColumns applied to all but the first and the last.
  for (uint32_t r = 0; r <= rounds_; ++r) {
    for (uint32_t j = 0; j < 4; ++j) {
      uint32_t w = encKeys_[4 * (rounds_ - r) + j];
      decKeys_[4 * r + j] = (r == 0 || r == rounds_) ? w : invMixWord(w);
    }
  }
  wipe(keyBytes, sizeof keyBytes);
  ready_ = true;
}

void AesCipher::encryptBlock(const uint8_t in[kAesBlockSize],
                             uint8_t out[kAesBlockSize]) const {
  const uint32_t* rk = encKeys_;
  const auto& te = kTables.te;
  uint32_t s0 = load32be(in) ^ rk[0], s1 = load32be(in + 4) ^ rk[1];
  uint32_t s2 = load32be(in + 8) ^ rk[2], s3 = load32be(in + 12) ^ rk[3];
  for (uint32_t r = 1; r < rounds_; ++r) {
    rk += 4;
    // SubBytes, ShiftRows (row k from column c + k) and MixColumns.
    uint32_t t0 = te[0][byteOf(s0, 0)] ^ te[1][byteOf(s1, 1)] ^
                  te[2][byteOf(s2, 2)] ^ te[3][byteOf(s3, 3)] ^ rk[0];
    uint32_t t1 = te[0][byteOf(s1, 0)] ^ te[1][byteOf(s2, 1)] ^
                  te[2][byteOf(s3, 2)] ^ te[3][byteOf(s0, 3)] ^ rk[1];
    uint32_t t2 = te[0][byteOf(s2, 0)] ^ te[1][byteOf(s3, 1)] ^
                  te[2][byteOf(s0, 2)] ^ te[3][byteOf(s1, 3)] ^ rk[2];
    uint32_t t3 = te[0][byteOf(s3, 0)] ^ te[1][byteOf(s0, 1)] ^
                  te[2][byteOf(s1, 2)] ^ te[3][byteOf(s2, 3)] ^ rk[3];
    s0 = t0, s1 = t1, s2 = t2, s3 = t3;
  }
  rk += 4;
  const uint8_t* s = kTables.sbox;
  store32be(out, word(s[byteOf(s0, 0)], s[byteOf(s1, 1)], s[byteOf(s2, 2)],
                      s[byteOf(s3, 3)]) ^
                     rk[0]);
  store32be(out + 4, word(s[byteOf(s1, 0)], s[byteOf(s2, 1)], s[byteOf(s3, 2)],
                          s[byteOf(s0, 3)]) ^
                         rk[1]);
  store32be(out + 8, word(s[byteOf(s2, 0)], s[byteOf(s3, 1)], s[byteOf(s0, 2)],
                          s[byteOf(s1, 3)]) ^
                         rk[2]);
  store32be(out + 12, word(s[byteOf(s3, 0)], s[byteOf(s0, 1)], s[byteOf(s1, 2)],
                           s[byteOf(s2, 3)]) ^
                          rk[3]);
}

void AesCipher::decryptBlock(const uint8_t in[kAesBlockSize],
                             uint8_t out[kAesBlockSize]) const {
  const uint32_t* rk = decKeys_;
  const auto& td = kTables.td;
  uint32_t s0 = load32be(in) ^ rk[0], s1 = load32be(in + 4) ^ rk[1];
  uint32_t s2 = load32be(in + 8) ^ rk[2], s3 = load32be(in + 12) ^ rk[3];
  for (uint32_t r = 1; r < rounds_; ++r) {
    rk += 4;
    // InvSubBytes, InvShiftRows (row k from column c - k), InvMixColumns.
    uint32_t t0 = td[0][byteOf(s0, 0)] ^ td[1][byteOf(s3, 1)] ^
                  td[2][byteOf(s2, 2)] ^ td[3][byteOf(s1, 3)] ^ rk[0];
    uint32_t t1 = td[0][byteOf(s1, 0)] ^ td[1][byteOf(s0, 1)] ^
                  td[2][byteOf(s3, 2)] ^ td[3][byteOf(s2, 3)] ^ rk[1];
    uint32_t t2 = td[0][byteOf(s2, 0)] ^ td[1][byteOf(s1, 1)] ^
                  td[2][byteOf(s0, 2)] ^ td[3][byteOf(s3, 3)] ^ rk[2];
    uint32_t t3 = td[0][byteOf(s3, 0)] ^ td[1][byteOf(s2, 1)] ^
                  td[2][byteOf(s1, 2)] ^ td[3][byteOf(s0, 3)] ^ rk[3];
    s0 = t0, s1 = t1, s2 = t2, s3 = t3;
  }
  rk += 4;
  const uint8_t* si = kTables.invSbox;
  store32be(out, word(si[byteOf(s0, 0)], si[byteOf(s3, 1)], si[byteOf(s2, 2)],
                      si[byteOf(s1, 3)]) ^
                     rk[0]);
  store32be(out + 4, word(si[byteOf(s1, 0)], si[byteOf(s0, 1)],
                          si[byteOf(s3, 2)], si[byteOf(s2, 3)]) ^
                         rk[1]);
  store32be(out + 8, word(si[byteOf(s2, 0)], si[byteOf(s1, 1)],
                          si[byteOf(s0, 2)], si[byteOf(s3, 3)]) ^
                         rk[2]);
  store32be(out + 12, word(si[byteOf(s3, 0)], si[byteOf(s2, 1)],
                           si[byteOf(s1, 2)], si[byteOf(s0, 3)]) ^
                          rk[3]);
}

void AesCipher::cfb1Block(uint8_t reg[kAesBlockSize],
                          const uint8_t in[kAesBlockSize],
                          uint8_t out[kAesBlockSize], bool encrypt) const {
  for (uint32_t i = 0; i < kAesBlockSize; ++i) {
    uint8_t result = 0;
    for (int bit = 7; bit >= 0; --bit) {
      uint8_t stream[kAesBlockSize];
      encryptBlock(reg, stream);
      unsigned inBit = (in[i] >> bit) & 1u;
      unsigned outBit = inBit ^ (stream[0] >> 7);
      result = static_cast<uint8_t>(result | outBit << bit);
      // The register shifts left by one bit and takes the ciphertext bit.
      unsigned cipherBit = encrypt ? outBit : inBit;
      for (uint32_t k = 0; k + 1 < kAesBlockSize; ++k)
        reg[k] = static_cast<uint8_t>(reg[k] << 1 | reg[k + 1] >> 7);
      reg[kAesBlockSize - 1] =
          static_cast<uint8_t>(reg[kAesBlockSize - 1] << 1 | cipherBit);
    }
    out[i] = result;
  }
}

bool AesCipher::run(const DataBuffer& in, DataBuffer& out, bool encrypt,
                    int failurePoint, LogBase& log) {
  const uint32_t inLen = in.getSize();
  const bool padded = paddingScheme_ == 0 || paddingScheme_ == 1;
  initialize(encrypt);
  if (!ready_) {
    out.clear();
    log.logError("AES not initialized.");
    return false;
  }
  // Room for the input and up to two blocks more (the padding block).
  const uint64_t need = static_cast<uint64_t>(inLen) + 32;
  if (need > 0xFFFFFFFFu || !out.ensureCapacity(static_cast<uint32_t>(need))) {
    out.clear();
    log.logError("Memory allocation failed.");
    log.logDataLong("failurePoint", failurePoint);
    log.logDataInt64("numBytes", static_cast<int64_t>(need));
    return false;
  }
  if (mode_ != kModeCbc && mode_ != kModeEcb && mode_ != kModeCfb1) {
    out.clear();
    log.logError("AES invalid mode");
    log.logDataUint32("mode", mode_);
    return false;
  }
  // Fetched after ensureCapacity, which moves the bytes when `in` and `out`
  // are the same buffer. Every block is copied out before its result is
  // appended at the same offset, so working in place is safe.
  const uint8_t* src = in.getData();
  out.clear();

  uint32_t blocks = inLen / kAesBlockSize;
  uint32_t padBytes = 0;
  if (encrypt) {
    uint32_t rest = inLen % kAesBlockSize;
    if (padded) {
      padBytes = kAesBlockSize - rest;
      ++blocks;
    } else if (rest) {
      padBytes = kAesBlockSize - rest;  // zero fill
      ++blocks;
    }
  }

  uint8_t chain[kAesBlockSize];
  memcpy(chain, chainingStart_, sizeof chain);
  uint8_t block[kAesBlockSize];
  uint8_t result[kAesBlockSize];
  uint32_t b = 0;
  if (mode_ == kModeCbc && !encrypt && &in != &out && blocks) {
    // The ciphertext is copied to the output and decrypted there.
    out.append(src, blocks * kAesBlockSize);
    decryptCbc(out.getData(), out.getData(), blocks, chain);
    b = blocks;
  }
  if (mode_ == kModeCbc && !encrypt) {
    // In place: whole blocks in batches through a buffer on the stack; a
    // batch is read before its result is appended at the same offset.
    uint8_t batch[256 * kAesBlockSize];
    const uint32_t perBatch = sizeof batch / kAesBlockSize;
    while (b < blocks) {
      uint32_t n = blocks - b < perBatch ? blocks - b : perBatch;
      decryptCbc(src + b * kAesBlockSize, batch, n, chain);
      out.append(batch, n * kAesBlockSize);
      b += n;
    }
    wipe(batch, sizeof batch);
  }
  for (; b < blocks; ++b) {
    const uint32_t offset = b * kAesBlockSize;
    if (offset + kAesBlockSize <= inLen) {
      memcpy(block, src + offset, kAesBlockSize);
    } else {
      // The encrypted last block: what is left of the input, then padding.
      uint32_t rest = inLen - offset;
      if (rest) memcpy(block, src + offset, rest);
      memset(block + rest, padded ? static_cast<int>(padBytes) : 0,
             kAesBlockSize - rest);
    }
    switch (mode_) {
      case kModeCbc:
        if (encrypt) {
          xorBlock(block, block, chain);
          encryptBlock(block, result);
          memcpy(chain, result, kAesBlockSize);
        } else {
          decryptBlock(block, result);
          xorBlock(result, result, chain);
          memcpy(chain, block, kAesBlockSize);
        }
        break;
      case kModeEcb:
        if (encrypt) {
          encryptBlock(block, result);
        } else {
          decryptBlock(block, result);
        }
        break;
      default:
        cfb1Block(chain, block, result, encrypt);
        break;
    }
    // Cannot fail: the capacity was reserved above.
    out.append(result, kAesBlockSize);
  }
  wipe(block, sizeof block);
  wipe(result, sizeof result);

  if (!encrypt && padded && out.getSize() != 0) {
    const uint32_t size = out.getSize();
    const uint32_t pad = out.getData()[size - 1];
    out.shorten(pad > size ? size : pad);
  }
  return true;
}

void AesCipher::setChainingStart(const uint8_t iv[kAesBlockSize]) {
  memcpy(chainingStart_, iv, sizeof chainingStart_);
}

bool AesCipher::encryptSingleBlock(const uint8_t in[kAesBlockSize],
                                   uint8_t out[kAesBlockSize]) {
  initialize(true);
  if (!ready_) return false;
  encryptBlock(in, out);
  return true;
}

bool AesCipher::copySettingsFrom(const AesCipher& other) {
  keyBits_ = other.keyBits_;
  mode_ = other.mode_;
  paddingScheme_ = other.paddingScheme_;
  hardwareAllowed_ = other.hardwareAllowed_;
  memcpy(chainingStart_, other.chainingStart_, sizeof chainingStart_);
  ready_ = false;
  key_.secureClear();
  return key_.appendDb(other.key_);
}

bool AesCipher::decryptBuffer(const DataBuffer& in, DataBuffer& out,
                              LogBase& log) {
  if (in.getSize() == 0) return true;
  return run(in, out, false, 1071, log);
}

bool AesCipher::encryptBuffer(const DataBuffer& in, DataBuffer& out,
                              LogBase& log) {
  return run(in, out, true, 1072, log);
}

}  // namespace sfx
