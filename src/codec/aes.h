// AES (FIPS-197, 128/192/256-bit keys) for the encrypted payload: the key
// derived from a password, and whole-buffer decryption (and the matching
// encryption the packer uses) in CBC, ECB or 1-bit CFB mode.
#ifndef SFX_CODEC_AES_H_
#define SFX_CODEC_AES_H_

#include <cstdint>

#include "text/data_buffer.h"

namespace sfx {

class LogBase;
class StringBuffer;

constexpr uint32_t kAesBlockSize = 16;
constexpr uint32_t kAesMaxRounds = 14;

// The cipher context. Every encrypted piece of a payload (entry name, data
// chunk, password verifier) is a separate ciphertext: each call starts the
// chain afresh from the chaining start (an all-zero initialisation vector
// unless setChainingStart gave another), and no state passes from one call
// to the next.
//
// Padding (schemes 0 and 1): encryptBuffer appends n = 16 - (length % 16)
// bytes of value n (1 to 16; a whole block of 0x10 when the length is a
// multiple of 16, also for an empty input). decryptBuffer reads the last
// plaintext byte n and drops the last n bytes, or everything when n exceeds
// the length; n = 0 drops nothing. The padding bytes are not otherwise
// checked, so a wrong key is noticed only by the caller's own check (the
// password verifier). So decrypt(encrypt(x)) == x for every length of x.
// Any other scheme neither adds nor removes padding; encryptBuffer then
// fills an incomplete last block with zero bytes.
class AesCipher {
 public:
  // Modes. Payloads use only CBC; 3 and 4 pass the set-up but are refused
  // by the buffer operations ("AES invalid mode").
  static constexpr uint32_t kModeCbc = 0;
  static constexpr uint32_t kModeEcb = 1;
  static constexpr uint32_t kModeCfb1 = 2;  // 1-bit feedback, MSB first

  // 256-bit keys, no key bytes, CBC, padding scheme 0.
  AesCipher();
  // Wipes the key bytes, the round keys and the chaining start.
  ~AesCipher();
  AesCipher(const AesCipher&) = delete;
  AesCipher& operator=(const AesCipher&) = delete;

  // 193 or more selects 256 bits, 128 or less 128, anything between 192.
  // Returns the value set.
  uint32_t setKeyLength(uint32_t bits);
  uint32_t keyLength() const { return keyBits_; }

  // The key for `keyBits` (normalised as setKeyLength does) derived from the
  // password bytes: MD5(password), followed for 192 bits by the first 8 and
  // for 256 bits by all 16 bytes of MD5(password followed by "1"). No salt,
  // no iterations. Replaces the contents of `key` with the 16, 24 or 32
  // bytes; false only when memory runs out (then `key` is empty).
  static bool deriveKey(const StringBuffer& password, uint32_t keyBits,
                        DataBuffer& key);

  // Replaces the stored key bytes with those of `key`. The key length in
  // bits decides how many are used (missing bytes count as zero, extra ones
  // are ignored). False only when memory runs out.
  bool setKey(const DataBuffer& key);

  // Takes over the key length, key bytes, mode, padding scheme and hardware
  // permission of `other`, so that this context decrypts (and encrypts) as
  // `other` does; a context is not safe to share between threads, so each
  // thread gets its own copy. False only when memory runs out (then the
  // key bytes are empty).
  bool copySettingsFrom(const AesCipher& other);

  // Whether CBC decryption may use the processor's AES instructions (when
  // it has them; several blocks in flight). On by default; off keeps the
  // portable code, which gives the same bytes.
  void setHardwareAllowed(bool allowed) { hardwareAllowed_ = allowed; }
  // Whether this processor has the AES instructions and this build can use
  // them (x86 with GCC-compatible compilers; checked once with cpuid).
  static bool hardwareAvailable();

  // The block the first ciphertext block of every buffer is chained to (16
  // zero bytes after construction). Payloads of the salted scheme give each
  // piece its own (kdf.h); earlier payloads keep the zero block.
  void setChainingStart(const uint8_t iv[kAesBlockSize]);
  // Encrypts the one block `in` into `out` under the key (no chaining, no
  // padding). False when the key length is not usable ("AES not
  // initialized." is not logged: the caller reports).
  bool encryptSingleBlock(const uint8_t in[kAesBlockSize],
                          uint8_t out[kAesBlockSize]);

  // Any value is stored; the buffer operations accept only the modes above.
  void setMode(uint32_t mode) { mode_ = mode; }
  uint32_t mode() const { return mode_; }
  void setPaddingScheme(uint32_t scheme) { paddingScheme_ = scheme; }
  uint32_t paddingScheme() const { return paddingScheme_; }

  // Decrypts one whole ciphertext. An empty `in` succeeds and leaves `out`
  // untouched. Otherwise `out` is replaced by the decryption of the whole
  // 16-byte blocks of `in` (trailing bytes of an incomplete block are
  // ignored, so an input shorter than 16 bytes gives an empty output), less
  // the padding. `in` and `out` may be the same buffer.
  // Failures, with `out` emptied: "Memory allocation failed." (with
  // "failurePoint" 1071 and "numBytes"), "AES not initialized." (a mode
  // above 4), "AES invalid mode" (modes 3 and 4, with "mode").
  bool decryptBuffer(const DataBuffer& in, DataBuffer& out, LogBase& log);

  // Encrypts `in` (padded as described above) and replaces `out` with the
  // ciphertext, a whole number of blocks. `in` and `out` may be the same
  // buffer. Fails like decryptBuffer (failure point 1072).
  bool encryptBuffer(const DataBuffer& in, DataBuffer& out, LogBase& log);

 private:
  friend class AesCipherTestPeer;

  // Builds the round keys from the key bytes for the given direction and
  // the mode; ready_ tells whether that worked.
  void initialize(bool encrypt);
  bool run(const DataBuffer& in, DataBuffer& out, bool encrypt,
           int failurePoint, LogBase& log);
  void encryptBlock(const uint8_t in[kAesBlockSize],
                    uint8_t out[kAesBlockSize]) const;
  void decryptBlock(const uint8_t in[kAesBlockSize],
                    uint8_t out[kAesBlockSize]) const;
  // One block of 1-bit CFB, bit by bit from the most significant bit of
  // byte 0; `reg` is the shift register.
  void cfb1Block(uint8_t reg[kAesBlockSize], const uint8_t in[kAesBlockSize],
                 uint8_t out[kAesBlockSize], bool encrypt) const;
  // CBC-decrypts `blocks` whole blocks from `in` to `out` (the same
  // buffer or distinct ones); `chain` holds the previous ciphertext block and
  // is advanced.
  void decryptCbc(const uint8_t* in, uint8_t* out, uint32_t blocks,
                  uint8_t chain[kAesBlockSize]) const;

  uint32_t keyBits_ = 256;
  uint8_t chainingStart_[kAesBlockSize] = {};
  uint32_t rounds_ = 0;
  // Encryption round keys, and the decryption round keys of the equivalent
  // inverse cipher (reversed, InvMixColumns applied to the inner rounds).
  uint32_t encKeys_[4 * (kAesMaxRounds + 1)] = {};
  uint32_t decKeys_[4 * (kAesMaxRounds + 1)] = {};
  DataBuffer key_;
  bool ready_ = false;
  bool encrypt_ = false;
  uint32_t mode_ = kModeCbc;
  uint32_t paddingScheme_ = 0;
  bool hardwareAllowed_ = true;
};

}  // namespace sfx

#endif  // SFX_CODEC_AES_H_
