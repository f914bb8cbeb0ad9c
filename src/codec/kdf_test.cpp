// The kdf argument's refusals and text form, the key derivation of both
// schemes, and the per-piece initialisation vectors.
#include "codec/kdf.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "codec/aes.h"
#include "codec/sha256.h"
#include "log/log_base.h"
#include "text/data_buffer.h"
#include "text/string_buffer.h"

namespace sfx {
namespace {

constexpr char kSalt[] = "000102030405060708090a0b0c0d0e0f";
constexpr char kMalformed[] = "The key-derivation argument is malformed.";
constexpr char kUnknown[] =
    "The key-derivation argument names an unknown scheme.";
constexpr char kRange[] =
    "The key-derivation iteration count is out of range (1000 to 100000000).";

TEST(KdfArg, ParsesAndRefuses) {
  const std::string ok = std::string("1:pbkdf2-hmac-sha256:600000:") + kSalt;
  struct Case {
    std::string value;
    const char* why;  // null: accepted
  } cases[] = {
      {ok, nullptr},
      {std::string("1:pbkdf2-hmac-sha256:1000:") + kSalt, nullptr},
      {std::string("1:pbkdf2-hmac-sha256:100000000:") + kSalt, nullptr},
      {"1:pbkdf2-hmac-sha256:600000:000102030405060708090A0B0C0D0E0F",
       nullptr},
      {std::string("1:pbkdf2-hmac-sha256:999:") + kSalt, kRange},
      {std::string("1:pbkdf2-hmac-sha256:100000001:") + kSalt, kRange},
      {std::string("1:pbkdf2-hmac-sha256:4294967296:") + kSalt, kRange},
      {std::string("1:pbkdf2-hmac-sha256:0:") + kSalt, kRange},
      {std::string("2:pbkdf2-hmac-sha256:600000:") + kSalt, kUnknown},
      {std::string("1:pbkdf2-hmac-sha512:600000:") + kSalt, kUnknown},
      {std::string("1:PBKDF2-HMAC-SHA256:600000:") + kSalt, kUnknown},
      {"2", kUnknown},
      {"", kMalformed},
      {"x:pbkdf2-hmac-sha256:600000", kMalformed},
      {"1:pbkdf2-hmac-sha256", kMalformed},
      {"1:pbkdf2-hmac-sha256:600000", kMalformed},
      {std::string("1:pbkdf2-hmac-sha256::") + kSalt, kMalformed},
      {std::string("1:pbkdf2-hmac-sha256:0600000:") + kSalt, kMalformed},
      {std::string("1:pbkdf2-hmac-sha256:+60000:") + kSalt, kMalformed},
      {std::string("1:pbkdf2-hmac-sha256:60000000000:") + kSalt, kMalformed},
      {"1:pbkdf2-hmac-sha256:600000:000102030405060708090a0b0c0d0e",
       kMalformed},
      {"1:pbkdf2-hmac-sha256:600000:000102030405060708090a0b0c0d0e0g",
       kMalformed},
      {ok + ":", kMalformed},
      {ok + ":extra", kMalformed},
      {ok + "0", kMalformed},
      {std::string("1:pbkdf2-hmac-sha256:600000:") + kSalt + std::string(1, '\0'),
       kMalformed},
  };
  for (const Case& c : cases) {
    KdfSettings s;
    StringBuffer why;
    bool parsed = parseKdfArg(c.value.data(), static_cast<uint32_t>(c.value.size()),
                              &s, why);
    EXPECT_EQ(parsed, c.why == nullptr) << c.value;
    EXPECT_STREQ(why.getString(), c.why ? c.why : "") << c.value;
  }
  KdfSettings s;
  StringBuffer why;
  ASSERT_TRUE(parseKdfArg(ok.data(), static_cast<uint32_t>(ok.size()), &s, why));
  EXPECT_EQ(600000u, s.iterations);
  EXPECT_EQ(1u, s.version);
  for (uint32_t i = 0; i < kKdfSaltSize; ++i) EXPECT_EQ(i, s.salt[i]);
  // A null value is the empty text.
  EXPECT_FALSE(parseKdfArg(nullptr, 0, &s, why));
  EXPECT_STREQ(kMalformed, why.getString());
}

TEST(KdfArg, FormatRoundTrips) {
  KdfSettings s;
  s.iterations = 1234567;
  for (uint32_t i = 0; i < kKdfSaltSize; ++i)
    s.salt[i] = static_cast<uint8_t>(0xF0 + i * 3);
  StringBuffer text;
  ASSERT_TRUE(formatKdfArg(s, text));
  EXPECT_STREQ("1:pbkdf2-hmac-sha256:1234567:f0f3f6f9fcff0205080b0e1114171a1d",
               text.getString());
  KdfSettings back;
  StringBuffer why;
  ASSERT_TRUE(parseKdfArg(text.getString(), text.getSize(), &back, why));
  EXPECT_EQ(s.iterations, back.iterations);
  EXPECT_EQ(0, memcmp(s.salt, back.salt, kKdfSaltSize));
}

// Without settings the key is the earlier MD5 derivation, byte for byte;
// with them it is the PBKDF2 output's prefix of the key's size. Key sizes
// between the three are normalised as the cipher does.
TEST(DeriveArchiveKey, BothSchemes) {
  const char pw[] = "s3cret p\xc3\xa4ss";
  KdfSettings s;
  s.iterations = 1000;
  memset(s.salt, 0x5a, sizeof s.salt);
  uint8_t full[32];
  pbkdf2HmacSha256(pw, strlen(pw), s.salt, kKdfSaltSize, 1000, full, 32);
  for (uint32_t bits : {128u, 160u, 192u, 256u, 300u}) {
    uint32_t size = bits >= 193 ? 32 : (bits <= 128 ? 16 : 24);
    DataBuffer legacy, expected, salted;
    ASSERT_TRUE(deriveArchiveKey(pw, strlen(pw), nullptr, bits, legacy));
    ASSERT_TRUE(AesCipher::deriveKey(StringBuffer(pw), bits, expected));
    ASSERT_EQ(size, legacy.getSize());
    EXPECT_EQ(0, memcmp(legacy.getData(), expected.getData(), size)) << bits;
    ASSERT_TRUE(deriveArchiveKey(pw, strlen(pw), &s, bits, salted));
    ASSERT_EQ(size, salted.getSize());
    EXPECT_EQ(0, memcmp(salted.getData(), full, size)) << bits;
  }
  // The salt and the count each change the key; an empty password works.
  DataBuffer a, b, c, e;
  ASSERT_TRUE(deriveArchiveKey(pw, strlen(pw), &s, 256, a));
  KdfSettings other = s;
  other.salt[15] ^= 1;
  ASSERT_TRUE(deriveArchiveKey(pw, strlen(pw), &other, 256, b));
  other = s;
  other.iterations = 1001;
  ASSERT_TRUE(deriveArchiveKey(pw, strlen(pw), &other, 256, c));
  EXPECT_NE(0, memcmp(a.getData(), b.getData(), 32));
  EXPECT_NE(0, memcmp(a.getData(), c.getData(), 32));
  ASSERT_TRUE(deriveArchiveKey(nullptr, 0, &s, 128, e));
  EXPECT_EQ(16u, e.getSize());
}

// Encrypts `plain` as the piece (entry, piece) of a payload under `key`.
std::string sealPiece(const DataBuffer& key, uint32_t bits,
                      const KdfSettings& s, uint32_t entry, uint32_t piece,
                      const std::string& plain) {
  AesCipher c;
  c.setKeyLength(bits);
  EXPECT_TRUE(c.setKey(key));
  EXPECT_TRUE(setPieceIv(c, s, entry, piece));
  DataBuffer in, out;
  in.append(plain.data(), static_cast<uint32_t>(plain.size()));
  LogNull log;
  EXPECT_TRUE(c.encryptBuffer(in, out, log));
  return std::string(reinterpret_cast<const char*>(out.getData()), out.getSize());
}

// Every piece gets its own vector: identical plaintexts at different
// places encrypt differently, and each decrypts only with its own vector.
// The vector is the AES encryption of salt[0..8) | entry | piece.
TEST(PieceIv, EveryPieceDiffers) {
  KdfSettings s;
  s.iterations = 1000;
  for (uint32_t i = 0; i < kKdfSaltSize; ++i) s.salt[i] = static_cast<uint8_t>(i * 7);
  const std::string chunk(100, 'x');
  for (uint32_t bits : {128u, 192u, 256u}) {
    DataBuffer key;
    ASSERT_TRUE(deriveArchiveKey("pw", 2, &s, bits, key));
    struct Place {
      uint32_t entry, piece;
    } places[] = {{kPieceNoEntry, kPieceVerifier}, {kPieceNoEntry, kPieceIntegrity},
                  {0, kPieceName},  {0, chunkPiece(0)}, {0, chunkPiece(1)},
                  {1, kPieceName},  {1, chunkPiece(0)}, {0x10000, chunkPiece(0)},
                  {0, chunkPiece(0x10000)}};
    std::set<std::string> seen;
    for (const Place& p : places) {
      std::string sealed = sealPiece(key, bits, s, p.entry, p.piece, chunk);
      EXPECT_TRUE(seen.insert(sealed.substr(0, 16)).second)
          << bits << " " << p.entry << " " << p.piece;
    }
    // The first ciphertext block is AES(iv xor plain block), iv as above.
    AesCipher ecb;
    ecb.setKeyLength(bits);
    ASSERT_TRUE(ecb.setKey(key));
    uint8_t block[16], iv[16];
    memcpy(block, s.salt, 8);
    const uint8_t numbers[8] = {3, 0, 0, 0, 2, 0, 0, 0};  // entry 3, piece 2
    memcpy(block + 8, numbers, 8);
    ASSERT_TRUE(ecb.encryptSingleBlock(block, iv));
    for (int i = 0; i < 16; ++i) block[i] = static_cast<uint8_t>(iv[i] ^ 'x');
    uint8_t first[16];
    ASSERT_TRUE(ecb.encryptSingleBlock(block, first));
    std::string sealed = sealPiece(key, bits, s, 3, 2, chunk);
    EXPECT_EQ(0, memcmp(sealed.data(), first, 16)) << bits;

    // Decryption with the piece's own vector restores it; another piece's
    // vector spoils the first block only (CBC), the zero vector likewise.
    AesCipher dec;
    dec.setKeyLength(bits);
    ASSERT_TRUE(dec.setKey(key));
    DataBuffer in, out;
    in.append(sealed.data(), static_cast<uint32_t>(sealed.size()));
    LogNull log;
    ASSERT_TRUE(setPieceIv(dec, s, 3, 2));
    ASSERT_TRUE(dec.decryptBuffer(in, out, log));
    EXPECT_EQ(chunk, std::string(reinterpret_cast<const char*>(out.getData()),
                                 out.getSize()));
    ASSERT_TRUE(setPieceIv(dec, s, 3, 1));
    ASSERT_TRUE(dec.decryptBuffer(in, out, log));
    EXPECT_NE(0, memcmp(out.getData(), chunk.data(), 16));
  }
}

// The salt is the per-archive nonce: the same piece under the same key in
// another archive (another salt) encrypts differently.
TEST(PieceIv, SaltChangesTheVector) {
  KdfSettings a, b;
  memset(a.salt, 1, sizeof a.salt);
  memset(b.salt, 1, sizeof b.salt);
  b.salt[0] = 2;
  DataBuffer key;
  ASSERT_TRUE(deriveArchiveKey("pw", 2, &a, 128, key));
  EXPECT_NE(sealPiece(key, 128, a, 0, 1, "same"), sealPiece(key, 128, b, 0, 1, "same"));
}

}  // namespace
}  // namespace sfx
