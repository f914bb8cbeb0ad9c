// The kdf argument's text form, the key derivation of both schemes and the
// per-piece initialisation vectors.
#include "codec/kdf.h"

#include <cstring>

#include "codec/aes.h"
#include "codec/sha256.h"
#include "text/data_buffer.h"
#include "text/string_buffer.h"

namespace sfx {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The next field of `s` from *pos up to ':' or the end; false when the
// text ended before (*pos beyond len: the last field was taken).
bool nextField(const char* s, uint32_t len, uint32_t* pos, const char** field,
               uint32_t* fieldLen) {
  if (*pos > len) return false;
  uint32_t stop = *pos;
  while (stop < len && s[stop] != ':') ++stop;
  *field = s + *pos;
  *fieldLen = stop - *pos;
  *pos = stop + 1;  // past the ':', or len + 1 after the last field
  return true;
}

// A decimal number without sign or leading zero; at most 10 digits, and
// values beyond 32 bits saturate (they are out of range anyway).
bool parseDecimal(const char* s, uint32_t n, uint32_t* out) {
  if (n == 0 || n > 10 || (n > 1 && s[0] == '0')) return false;
  uint64_t v = 0;
  for (uint32_t i = 0; i < n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + static_cast<uint64_t>(s[i] - '0');
  }
  *out = v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(v);
  return true;
}

}  // namespace

bool parseKdfArg(const char* value, uint32_t len, KdfSettings* out,
                 StringBuffer& why) {
  why.clear();
  const char* s = value ? value : "";
  uint32_t pos = 0;
  const char* f[4];
  uint32_t n[4];
  int fields = 0;
  while (fields < 4 && nextField(s, len, &pos, &f[fields], &n[fields]))
    ++fields;
  uint32_t version = 0;
  if (fields < 1 || !parseDecimal(f[0], n[0], &version)) {
    why.setString("The key-derivation argument is malformed.");
    return false;
  }
  if (version != kKdfVersion ||
      (fields >= 2 && (n[1] != sizeof kKdfAlgorithm - 1 ||
                       memcmp(f[1], kKdfAlgorithm, n[1]) != 0))) {
    why.setString("The key-derivation argument names an unknown scheme.");
    return false;
  }
  if (fields != 4 || pos <= len || !parseDecimal(f[2], n[2], &out->iterations) ||
      n[3] != 2 * kKdfSaltSize) {
    why.setString("The key-derivation argument is malformed.");
    return false;
  }
  for (uint32_t i = 0; i < kKdfSaltSize; ++i) {
    int hi = hexValue(f[3][2 * i]), lo = hexValue(f[3][2 * i + 1]);
    if (hi < 0 || lo < 0) {
      why.setString("The key-derivation argument is malformed.");
      return false;
    }
    out->salt[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  if (out->iterations < kKdfMinIterations ||
      out->iterations > kKdfMaxIterations) {
    why.setString(
        "The key-derivation iteration count is out of range (1000 to "
        "100000000).");
    return false;
  }
  out->version = version;
  return true;
}

bool formatKdfArg(const KdfSettings& settings, StringBuffer& out) {
  static const char kHex[] = "0123456789abcdef";
  char salt[2 * kKdfSaltSize + 1];
  for (uint32_t i = 0; i < kKdfSaltSize; ++i) {
    salt[2 * i] = kHex[settings.salt[i] >> 4];
    salt[2 * i + 1] = kHex[settings.salt[i] & 15];
  }
  salt[2 * kKdfSaltSize] = '\0';
  out.clear();
  return out.appendUint32(settings.version) && out.appendChar(':') &&
         out.append(kKdfAlgorithm) && out.appendChar(':') &&
         out.appendUint32(settings.iterations) && out.appendChar(':') &&
         out.append(salt);
}

bool deriveArchiveKey(const char* password, uint32_t len,
                      const KdfSettings* kdf, uint32_t keyBits,
                      DataBuffer& key) {
  const uint32_t bits = keyBits >= 193 ? 256 : (keyBits <= 128 ? 128 : 192);
  key.secureClear();
  if (!kdf) {
    StringBuffer pw;
    bool ok = pw.appendN(password ? password : "", len) &&
              AesCipher::deriveKey(pw, bits, key);
    pw.secureClear();
    return ok;
  }
  uint8_t derived[32];
  pbkdf2HmacSha256(password, len, kdf->salt, kKdfSaltSize, kdf->iterations,
                   derived, bits / 8);
  bool ok = key.append(derived, bits / 8);
  memset(derived, 0, sizeof derived);
  if (!ok) key.secureClear();
  return ok;
}

bool setPieceIv(AesCipher& cipher, const KdfSettings& kdf, uint32_t entry,
                uint32_t piece) {
  uint8_t block[kAesBlockSize];
  memcpy(block, kdf.salt, 8);
  for (int i = 0; i < 4; ++i) {
    block[8 + i] = static_cast<uint8_t>(entry >> (8 * i));
    block[12 + i] = static_cast<uint8_t>(piece >> (8 * i));
  }
  uint8_t iv[kAesBlockSize];
  if (!cipher.encryptSingleBlock(block, iv)) return false;
  cipher.setChainingStart(iv);
  return true;
}

}  // namespace sfx
