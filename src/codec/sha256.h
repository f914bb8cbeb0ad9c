// SHA-256 (FIPS 180-4), HMAC-SHA256 (RFC 2104) and PBKDF2-HMAC-SHA256
// (RFC 8018): the password key derivation of encrypted payloads uses them.
#ifndef SFX_CODEC_SHA256_H_
#define SFX_CODEC_SHA256_H_

#include <cstddef>
#include <cstdint>

namespace sfx {

constexpr size_t kSha256DigestSize = 32;
constexpr size_t kSha256BlockSize = 64;

void pbkdf2HmacSha256(const void* password, size_t passwordLen,
                      const void* salt, size_t saltLen, uint32_t iterations,
                      uint8_t* out, size_t outLen);

// Incremental SHA-256: any number of update() calls, then final(). A fresh
// object is already initialised.
class Sha256 {
 public:
  Sha256() { init(); }
  ~Sha256();

  void init();
  void update(const void* data, size_t len);
  // Writes the 32-byte digest into `digest` and re-initialises the object.
  void final(uint8_t digest[kSha256DigestSize]);

  // The digest of `len` bytes at `data`.
  static void digest(const void* data, size_t len,
                     uint8_t out[kSha256DigestSize]);

 private:
  friend class HmacSha256;
  friend void pbkdf2HmacSha256(const void*, size_t, const void*, size_t,
                               uint32_t, uint8_t*, size_t);
  void transform(const uint8_t block[kSha256BlockSize]);

  uint32_t state_[8];
  uint64_t bytes_;  // message length so far
  uint8_t block_[kSha256BlockSize];
};

// HMAC-SHA256 with a key of any length. The inner and outer hash states are
// computed once by the constructor, so each mac() costs two compressions
// for a message of up to 55 bytes: PBKDF2 relies on that.
class HmacSha256 {
 public:
  HmacSha256(const void* key, size_t keyLen);
  ~HmacSha256();
  HmacSha256(const HmacSha256&) = delete;
  HmacSha256& operator=(const HmacSha256&) = delete;

  // The authentication code of `len` bytes at `data` under the key.
  void mac(const void* data, size_t len, uint8_t out[kSha256DigestSize]) const;

 private:
  friend void pbkdf2HmacSha256(const void*, size_t, const void*, size_t,
                               uint32_t, uint8_t*, size_t);
  Sha256 inner_;  // state after the key xor ipad block
  Sha256 outer_;  // state after the key xor opad block
};

// PBKDF2 (RFC 8018 section 5.2) with HMAC-SHA256 as the pseudo-random
// function: writes `outLen` bytes derived from the password and the salt
// with `iterations` rounds (at least 1; 0 counts as 1) into `out`. Each
// round of each 32-byte output block costs two SHA-256 compressions.
void pbkdf2HmacSha256(const void* password, size_t passwordLen,
                      const void* salt, size_t saltLen, uint32_t iterations,
                      uint8_t* out, size_t outLen);

}  // namespace sfx

#endif  // SFX_CODEC_SHA256_H_
