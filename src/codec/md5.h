// MD5 message digest (RFC 1321): the password key derivation and the
// string-keyed hash map's bucket hash use it.
#ifndef SFX_CODEC_MD5_H_
#define SFX_CODEC_MD5_H_

#include <cstddef>
#include <cstdint>

namespace sfx {

class StringBuffer;

constexpr size_t kMd5DigestSize = 16;

// Incremental MD5: init(), any number of update() calls, then final().
// A fresh object is already initialised.
class Md5 {
 public:
  Md5() { init(); }
  virtual ~Md5();

  void init();
  void update(const void* data, size_t len);
  // Writes the 16-byte digest into `digest` and re-initialises the object.
  void final(unsigned char digest[kMd5DigestSize]);

  // The digest of `len` bytes at `data`.
  static void digest(const void* data, size_t len,
                     unsigned char out[kMd5DigestSize]);
  // The digest of the bytes of `sb` (its text without the terminator).
  static void digestSb(const StringBuffer& sb,
                       unsigned char out[kMd5DigestSize]);

 private:
  void transform(const unsigned char block[64]);

  uint32_t state_[4];
  uint32_t count_[2];  // bit count, low word first
  unsigned char block_[64];
};

}  // namespace sfx

#endif  // SFX_CODEC_MD5_H_
