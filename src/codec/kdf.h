// The salted password scheme of encrypted payloads: the `kdf` argument that
// selects it (PBKDF2-HMAC-SHA256 with its iteration count and salt), the
// key derivation for either scheme, and the initialisation vector of each
// encrypted piece. Without the argument a payload keeps the earlier scheme:
// the MD5 key of AesCipher::deriveKey and the all-zero vector.
#ifndef SFX_CODEC_KDF_H_
#define SFX_CODEC_KDF_H_

#include <cstdint>

namespace sfx {

class AesCipher;
class DataBuffer;
class StringBuffer;

// The argument's name, and its one scheme: version 1, PBKDF2-HMAC-SHA256.
// Its value is the text "1:pbkdf2-hmac-sha256:ITERATIONS:SALT", ITERATIONS
// in decimal digits without a sign or leading zero, SALT 32 hexadecimal
// digits (16 bytes).
constexpr char kKdfArg[] = "kdf";
constexpr uint32_t kKdfVersion = 1;
constexpr char kKdfAlgorithm[] = "pbkdf2-hmac-sha256";
constexpr uint32_t kKdfSaltSize = 16;
constexpr uint32_t kKdfMinIterations = 1000;
constexpr uint32_t kKdfMaxIterations = 100000000;
// What the packer writes unless told otherwise.
constexpr uint32_t kKdfDefaultIterations = 600000;

struct KdfSettings {
  uint32_t version = kKdfVersion;
  uint32_t iterations = kKdfDefaultIterations;
  uint8_t salt[kKdfSaltSize] = {};
};

// Parses the argument's value (`len` bytes). On success fills *out. On
// failure returns false and sets `why` to one of "The key-derivation
// argument is malformed.", "The key-derivation argument names an unknown
// scheme." and "The key-derivation iteration count is out of range (1000
// to 100000000)."; *out is then unspecified.
bool parseKdfArg(const char* value, uint32_t len, KdfSettings* out,
                 StringBuffer& why);

// The argument's value for `settings` (replaces the contents of `out`).
bool formatKdfArg(const KdfSettings& settings, StringBuffer& out);

// The AES key for `keyBits` (normalised as AesCipher::setKeyLength does)
// from the `len` password bytes: with `kdf`, the first 16, 24 or 32 bytes
// of PBKDF2-HMAC-SHA256(password, salt, iterations); without it, the MD5
// key of AesCipher::deriveKey. Replaces the contents of `key`; false only
// when memory runs out (then `key` is empty). The one place a password
// becomes a key: callers derive once per password tried, never per piece.
bool deriveArchiveKey(const char* password, uint32_t len,
                      const KdfSettings* kdf, uint32_t keyBits,
                      DataBuffer& key);

// Pieces of a payload, each encrypted on its own. An entry's name is piece
// 0 of its entry number (entry records counted from 0 in payload order,
// directories and others included, the end record not), its chunks are
// pieces 1, 2, ... in order. The verifier and the integrity record belong
// to no entry.
constexpr uint32_t kPieceNoEntry = 0xFFFFFFFFu;
constexpr uint32_t kPieceName = 0;
constexpr uint32_t kPieceVerifier = 0;   // of kPieceNoEntry
constexpr uint32_t kPieceIntegrity = 1;  // of kPieceNoEntry
inline uint32_t chunkPiece(uint32_t chunkIndex) { return chunkIndex + 1; }

// Gives `cipher` (its key set) the initialisation vector of a piece: the
// AES encryption under the key of the block made of the salt's first 8
// bytes, the entry number and the piece number (both 32-bit
// little-endian). False when the cipher has no usable key.
bool setPieceIv(AesCipher& cipher, const KdfSettings& kdf, uint32_t entry,
                uint32_t piece);

}  // namespace sfx

#endif  // SFX_CODEC_KDF_H_
