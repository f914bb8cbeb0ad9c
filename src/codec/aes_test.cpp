// AES against the published vectors (FIPS-197 appendix C, NIST SP 800-38A
// F.2 and F.3), encrypt/decrypt round trips, the padding rule, hostile
// ciphertext lengths, the failure messages and the password-derived key.
#include "codec/aes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "codec/codec_test_support.h"
#include "codec/md5.h"
#include "log/log_base.h"
#include "log/log_test_util.h"
#include "text/string_buffer.h"

namespace sfx {

// Sets the chaining start, which the program never changes, so that the
// published vectors with their own initialisation vector can be checked.
class AesCipherTestPeer {
 public:
  static void setChainingStart(AesCipher& c, const std::vector<uint8_t>& iv) {
    ASSERT_EQ(kAesBlockSize, iv.size());
    memcpy(c.chainingStart_, iv.data(), kAesBlockSize);
  }
};

namespace {

using Bytes = std::vector<uint8_t>;

using log_test::CapturingLog;

Bytes hex(const std::string& h) {
  Bytes out;
  for (size_t i = 0; i + 1 < h.size(); i += 2)
    out.push_back(
        static_cast<uint8_t>(std::stoul(h.substr(i, 2), nullptr, 16)));
  return out;
}

Bytes bytesOf(const DataBuffer& db) {
  return db.getSize() ? Bytes(db.getData(), db.getData() + db.getSize())
                      : Bytes();
}

void fill(DataBuffer& db, const Bytes& b) {
  db.clear();
  ASSERT_TRUE(db.append(b.data(), static_cast<uint32_t>(b.size())));
}

using codec_test::pseudoRandomBytes;

// A cipher with the given raw key; the key length follows the key's size.
void keyed(AesCipher& c, const Bytes& key) {
  c.setKeyLength(static_cast<uint32_t>(key.size() * 8));
  DataBuffer k;
  fill(k, key);
  ASSERT_TRUE(c.setKey(k));
}

// Runs one direction over `in` and returns the output.
Bytes crypt(AesCipher& c, bool encrypt, const Bytes& in) {
  DataBuffer src, dst;
  fill(src, in);
  CapturingLog log;
  bool ok =
      encrypt ? c.encryptBuffer(src, dst, log) : c.decryptBuffer(src, dst, log);
  EXPECT_TRUE(ok);
  EXPECT_TRUE(log.errors.empty());
  return bytesOf(dst);
}

const Bytes kNistIv = hex("000102030405060708090a0b0c0d0e0f");
const Bytes kNistPlain =
    hex("6bc1bee22e409f96e93d7e117393172a"
        "ae2d8a571e03ac9c9eb76fac45af8e51"
        "30c81c46a35ce411e5fbc1191a0a52ef"
        "f69f2445df4f9b17ad2b417be66c3710");

// FIPS-197 appendix C.1 to C.3: one block, ECB, no padding.
TEST(AesTest, Fips197AppendixC) {
  struct Case {
    const char* key;
    const char* cipher;
  } cases[] = {
      {"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
      {"000102030405060708090a0b0c0d0e0f1011121314151617",
       "dda97ca4864cdfe06eaf70a0ec0d7191"},
      {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
       "8ea2b7ca516745bfeafc49904b496089"},
  };
  const Bytes plain = hex("00112233445566778899aabbccddeeff");
  for (const Case& k : cases) {
    AesCipher c;
    keyed(c, hex(k.key));
    c.setMode(AesCipher::kModeEcb);
    c.setPaddingScheme(2);
    EXPECT_EQ(hex(k.cipher), crypt(c, true, plain)) << k.key;
    EXPECT_EQ(plain, crypt(c, false, hex(k.cipher))) << k.key;
  }
}

// NIST SP 800-38A F.2.1 to F.2.6: four blocks of CBC.
TEST(AesTest, Sp80038aCbc) {
  struct Case {
    const char* key;
    const char* cipher;
  } cases[] = {
      {"2b7e151628aed2a6abf7158809cf4f3c",
       "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
       "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"},
      {"8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b",
       "4f021db243bc633d7178183a9fa071e8b4d9ada9ad7dedf4e5e738763f69145a"
       "571b242012fb7ae07fa9baac3df102e008b0e27988598881d920a9e64f5615cd"},
      {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
       "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
       "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b"},
  };
  for (const Case& k : cases) {
    AesCipher c;
    keyed(c, hex(k.key));
    AesCipherTestPeer::setChainingStart(c, kNistIv);
    c.setPaddingScheme(2);  // the last plaintext byte 0x10 is data here
    EXPECT_EQ(hex(k.cipher), crypt(c, true, kNistPlain)) << k.key;
    // Twice: no chaining state survives a call.
    EXPECT_EQ(kNistPlain, crypt(c, false, hex(k.cipher))) << k.key;
    EXPECT_EQ(kNistPlain, crypt(c, false, hex(k.cipher))) << k.key;

    // The program's own chaining start is all zero: without the vector's
    // IV only the first block comes out xor-ed with that IV.
    AesCipher plainIv;
    keyed(plainIv, hex(k.key));
    plainIv.setPaddingScheme(2);
    Bytes expected = kNistPlain;
    for (size_t i = 0; i < kAesBlockSize; ++i) expected[i] ^= kNistIv[i];
    EXPECT_EQ(expected, crypt(plainIv, false, hex(k.cipher))) << k.key;
  }
}

// NIST SP 800-38A F.3.1, F.3.3 and F.3.5: CFB with 1-bit feedback. The
// vectors cover 16 bits; the stream nature makes the first 2 bytes of a
// block depend on those 16 bits only.
TEST(AesTest, Sp80038aCfb1) {
  struct Case {
    const char* key;
    const char* cipher16;
  } cases[] = {
      {"2b7e151628aed2a6abf7158809cf4f3c", "68b3"},
      {"8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b", "9359"},
      {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
       "9029"},
  };
  const Bytes block(kNistPlain.begin(), kNistPlain.begin() + kAesBlockSize);
  for (const Case& k : cases) {
    AesCipher c;
    keyed(c, hex(k.key));
    AesCipherTestPeer::setChainingStart(c, kNistIv);
    c.setMode(AesCipher::kModeCfb1);
    c.setPaddingScheme(2);
    Bytes cipher = crypt(c, true, block);
    ASSERT_EQ(kAesBlockSize, cipher.size());
    EXPECT_EQ(hex(k.cipher16), Bytes(cipher.begin(), cipher.begin() + 2))
        << k.key;
    EXPECT_EQ(block, crypt(c, false, cipher)) << k.key;
  }
}

// A missing key counts as zero bytes, and bytes beyond the key length are
// not used.
TEST(AesTest, KeyBytesBeyondOrShortOfTheLength) {
  AesCipher c;
  c.setMode(AesCipher::kModeEcb);
  c.setPaddingScheme(2);
  c.setKeyLength(128);
  // AES-128 of the zero block under the zero key.
  EXPECT_EQ(hex("66e94bd4ef8a2c3b884cfa59ca342b2e"),
            crypt(c, true, Bytes(16, 0)));

  DataBuffer longKey;
  fill(longKey, hex("000102030405060708090a0b0c0d0e0f"
                    "ffffffffffffffffffffffffffffffffffff"));
  ASSERT_TRUE(c.setKey(longKey));
  EXPECT_EQ(hex("69c4e0d86a7b0430d8cdb78070b4c55a"),
            crypt(c, true, hex("00112233445566778899aabbccddeeff")));
}

TEST(AesTest, SetKeyLengthNormalises) {
  struct Case {
    uint32_t in, out;
  } cases[] = {{0, 128},   {128, 128}, {129, 192}, {192, 192},
               {193, 256}, {256, 256}, {1000, 256}};
  for (const Case& k : cases) {
    AesCipher c;
    EXPECT_EQ(k.out, c.setKeyLength(k.in)) << k.in;
    EXPECT_EQ(k.out, c.keyLength()) << k.in;
  }
  EXPECT_EQ(256u, AesCipher().keyLength());
}

// decrypt(encrypt(x)) == x for every length 0..40, every key size and mode;
// the ciphertext is the input padded to the next whole block (a full block
// of padding for a multiple of 16). Also in place.
TEST(AesTest, RoundTripsEveryLength) {
  const uint32_t modes[] = {AesCipher::kModeCbc, AesCipher::kModeEcb,
                            AesCipher::kModeCfb1};
  for (size_t keyLen : {16u, 24u, 32u}) {
    for (uint32_t mode : modes) {
      AesCipher c;
      keyed(c, pseudoRandomBytes(keyLen, 7));
      c.setMode(mode);
      for (size_t len = 0; len <= 40; ++len) {
        Bytes plain = pseudoRandomBytes(len, static_cast<uint32_t>(len));
        Bytes cipher = crypt(c, true, plain);
        ASSERT_EQ((len / 16 + 1) * 16, cipher.size()) << keyLen << " " << len;
        EXPECT_EQ(plain, crypt(c, false, cipher))
            << keyLen << " " << mode << " " << len;

        DataBuffer buf;
        fill(buf, plain);
        CapturingLog log;
        ASSERT_TRUE(c.encryptBuffer(buf, buf, log));
        EXPECT_EQ(cipher, bytesOf(buf)) << keyLen << " " << mode << " " << len;
        ASSERT_TRUE(c.decryptBuffer(buf, buf, log));
        EXPECT_EQ(plain, bytesOf(buf)) << keyLen << " " << mode << " " << len;
      }
    }
  }
}

// CBC decryption with the processor's AES instructions (where it has them)
// and with the portable code give the same bytes: lengths around the
// batch of blocks decrypted side by side and the 64-block stack batch,
// in place and into another buffer, for every key length. On a processor
// without them both runs take the portable path and still must round-trip.
TEST(AesTest, HardwareAndPortableCbcDecryptionAgree) {
  for (size_t keyLen : {16u, 24u, 32u}) {
    AesCipher c;
    keyed(c, pseudoRandomBytes(keyLen, 11));
    c.setPaddingScheme(2);
    for (size_t blocks : {1u, 3u, 4u, 5u, 8u, 63u, 64u, 65u, 131u, 1000u}) {
      Bytes plain =
          pseudoRandomBytes(blocks * 16, static_cast<uint32_t>(blocks));
      Bytes cipher = crypt(c, true, plain);
      ASSERT_EQ(plain.size(), cipher.size());
      for (bool hardware : {true, false}) {
        c.setHardwareAllowed(hardware);
        EXPECT_EQ(plain, crypt(c, false, cipher))
            << keyLen << " " << blocks << " " << hardware;
        DataBuffer buf;
        fill(buf, cipher);
        CapturingLog log;
        ASSERT_TRUE(c.decryptBuffer(buf, buf, log));
        EXPECT_EQ(plain, bytesOf(buf))
            << "in place " << keyLen << " " << blocks << " " << hardware;
      }
      c.setHardwareAllowed(true);
    }
  }
}

// Encryption pads with n bytes of value n; CBC chains each block to the
// ciphertext before it.
TEST(AesTest, PaddingAndChainingOfEncryption) {
  AesCipher cbc, ecb;
  const Bytes key = pseudoRandomBytes(32, 3);
  keyed(cbc, key);
  keyed(ecb, key);
  ecb.setMode(AesCipher::kModeEcb);
  ecb.setPaddingScheme(2);
  const Bytes plain = pseudoRandomBytes(21, 9);
  Bytes cipher = crypt(cbc, true, plain);
  ASSERT_EQ(32u, cipher.size());
  // Undo the chaining by hand on top of single-block decryption.
  Bytes raw = crypt(ecb, false, cipher);
  ASSERT_EQ(32u, raw.size());
  for (size_t i = 16; i < 32; ++i) raw[i] ^= cipher[i - 16];
  Bytes expected = plain;
  expected.insert(expected.end(), 11, 11);
  EXPECT_EQ(expected, raw);

  // Without padding an incomplete block is filled with zeros.
  cbc.setPaddingScheme(2);
  Bytes unpadded = crypt(cbc, true, plain);
  ASSERT_EQ(32u, unpadded.size());
  Bytes back = crypt(cbc, false, unpadded);
  Bytes zeroFilled = plain;
  zeroFilled.resize(32, 0);
  EXPECT_EQ(zeroFilled, back);
  EXPECT_TRUE(crypt(cbc, true, Bytes()).empty());
}

// Decryption drops as many bytes as the last plaintext byte says, all of
// them when it says more than there are, none for 0; only schemes 0 and 1.
TEST(AesTest, PaddingRemoval) {
  struct Case {
    uint8_t last;
    uint32_t scheme;
    size_t kept;
  } cases[] = {
      {0x10, 0, 16}, {0x00, 0, 32}, {0x01, 0, 31}, {0x20, 0, 0},  {0x21, 0, 0},
      {0xFF, 0, 0},  {0x10, 1, 16}, {0x21, 1, 0},  {0x10, 2, 32}, {0xFF, 7, 32},
  };
  for (const Case& k : cases) {
    Bytes plain = pseudoRandomBytes(32, k.last);
    plain.back() = k.last;
    AesCipher c;
    keyed(c, pseudoRandomBytes(16, 5));
    c.setPaddingScheme(2);
    Bytes cipher = crypt(c, true, plain);  // no padding added
    c.setPaddingScheme(k.scheme);
    Bytes out = crypt(c, false, cipher);
    EXPECT_EQ(Bytes(plain.begin(), plain.begin() + static_cast<long>(k.kept)),
              out)
        << int(k.last) << " " << k.scheme;
  }
}

// Ciphertexts that are not a whole number of blocks: the incomplete tail is
// ignored, never read past; shorter than a block gives an empty output.
TEST(AesTest, IncompleteBlocksAreIgnored) {
  AesCipher c;
  keyed(c, pseudoRandomBytes(32, 1));
  c.setPaddingScheme(2);
  const Bytes cipher = pseudoRandomBytes(48, 2);
  for (size_t len = 1; len < 48; ++len) {
    Bytes in(cipher.begin(), cipher.begin() + static_cast<long>(len));
    Bytes whole(cipher.begin(),
                cipher.begin() + static_cast<long>(len / 16 * 16));
    DataBuffer src, dst;
    fill(src, in);
    fill(dst, Bytes{1, 2, 3});  // stale contents are replaced
    CapturingLog log;
    ASSERT_TRUE(c.decryptBuffer(src, dst, log)) << len;
    EXPECT_TRUE(log.errors.empty()) << len;
    EXPECT_EQ(len / 16 * 16, dst.getSize()) << len;
    if (!whole.empty()) {
      EXPECT_EQ(crypt(c, false, whole), bytesOf(dst)) << len;
    }
  }
  // The same with padding removal on: a hostile last byte stays in range.
  c.setPaddingScheme(0);
  for (size_t len : {15u, 20u, 31u, 47u}) {
    Bytes out =
        crypt(c, false,
              Bytes(cipher.begin(), cipher.begin() + static_cast<long>(len)));
    EXPECT_LE(out.size(), len / 16 * 16) << len;
  }
}

TEST(AesTest, EmptyInputLeavesOutputUntouched) {
  AesCipher c;
  DataBuffer in, out;
  fill(out, Bytes{9, 8, 7});
  CapturingLog log;
  EXPECT_TRUE(c.decryptBuffer(in, out, log));
  EXPECT_EQ((Bytes{9, 8, 7}), bytesOf(out));
  EXPECT_TRUE(log.errors.empty());
}

TEST(AesTest, RefusedModes) {
  struct Case {
    uint32_t mode;
    std::vector<std::string> errors;
    std::vector<std::string> data;
  } cases[] = {
      {3, {"AES invalid mode"}, {"mode=3"}},
      {4, {"AES invalid mode"}, {"mode=4"}},
      {5, {"AES not initialized."}, {}},
      {0xFFFFFFFFu, {"AES not initialized."}, {}},
  };
  for (const Case& k : cases) {
    for (bool encrypt : {false, true}) {
      AesCipher c;
      keyed(c, pseudoRandomBytes(16, 4));
      c.setMode(k.mode);
      DataBuffer in, out;
      fill(in, pseudoRandomBytes(32, 6));
      fill(out, Bytes{1});
      CapturingLog log;
      EXPECT_FALSE(encrypt ? c.encryptBuffer(in, out, log)
                           : c.decryptBuffer(in, out, log))
          << k.mode;
      EXPECT_EQ(k.errors, log.errors) << k.mode;
      EXPECT_EQ(k.data, log.data) << k.mode;
      EXPECT_EQ(0u, out.getSize()) << k.mode;
    }
  }
}

// An input whose length leaves no room for the padding in 32 bits fails
// before any byte is read (the borrowed bytes claim more than there are).
TEST(AesTest, InputTooLongForTheOutput) {
  uint8_t few[kAesBlockSize] = {};
  for (bool encrypt : {false, true}) {
    AesCipher c;
    DataBuffer in, out;
    in.borrowData(few, 0xFFFFFFF0u);
    fill(out, Bytes{1});
    CapturingLog log;
    EXPECT_FALSE(encrypt ? c.encryptBuffer(in, out, log)
                         : c.decryptBuffer(in, out, log));
    EXPECT_EQ(std::vector<std::string>{"Memory allocation failed."},
              log.errors);
    EXPECT_EQ((std::vector<std::string>{
                  encrypt ? "failurePoint=1072" : "failurePoint=1071",
                  "numBytes=4294967312"}),
              log.data);
    EXPECT_EQ(0u, out.getSize());
  }
}

// The key: MD5(password), then for 192 bits the first 8 and for 256 bits
// all 16 bytes of MD5(password "1"), checked against the MD5 of RFC 1321.
TEST(AesTest, DeriveKey) {
  const std::string passwords[] = {"", "secret", "p\xE4sswort",
                                   std::string(100, 'x')};
  struct Case {
    uint32_t bits;
    size_t second;  // bytes taken from the second digest
  } cases[] = {{128, 0}, {0, 0}, {192, 8}, {150, 8}, {256, 16}, {999, 16}};
  for (const std::string& pw : passwords) {
    StringBuffer sb;
    ASSERT_TRUE(sb.setString(pw.c_str()));
    unsigned char first[kMd5DigestSize], second[kMd5DigestSize];
    Md5::digest(pw.data(), pw.size(), first);
    std::string suffixed = pw + "1";
    Md5::digest(suffixed.data(), suffixed.size(), second);
    for (const Case& k : cases) {
      Bytes expected(first, first + kMd5DigestSize);
      expected.insert(expected.end(), second, second + k.second);
      DataBuffer key;
      fill(key, Bytes{0xAA, 0xBB});  // replaced, not appended to
      ASSERT_TRUE(AesCipher::deriveKey(sb, k.bits, key));
      EXPECT_EQ(expected, bytesOf(key)) << pw << " " << k.bits;
    }
  }
  // The empty password: MD5("") (RFC 1321 A.5) and MD5("1").
  StringBuffer empty;
  DataBuffer key;
  ASSERT_TRUE(AesCipher::deriveKey(empty, 256, key));
  EXPECT_EQ(hex("d41d8cd98f00b204e9800998ecf8427e"
                "c4ca4238a0b923820dcc509a6f75849b"),
            bytesOf(key));
}

// A derived key drives the cipher; a different password does not decrypt.
TEST(AesTest, DerivedKeyRoundTrip) {
  StringBuffer right("secret"), wrong("Secret");
  DataBuffer key;
  AesCipher c;
  ASSERT_TRUE(AesCipher::deriveKey(right, c.setKeyLength(256), key));
  ASSERT_TRUE(c.setKey(key));
  const Bytes plain = {'q', 'm', 'z', 'v'};
  Bytes cipher = crypt(c, true, plain);
  EXPECT_EQ(plain, crypt(c, false, cipher));
  ASSERT_TRUE(AesCipher::deriveKey(wrong, 256, key));
  ASSERT_TRUE(c.setKey(key));
  EXPECT_NE(plain, crypt(c, false, cipher));
}

// A copy of the settings decrypts what the original encrypts, for each key
// length, mode and padding scheme, and owns its key: changing or destroying
// the original afterwards does not change the copy.
TEST(AesTest, CopiedSettingsDecryptLikeTheOriginal) {
  const uint32_t modes[] = {AesCipher::kModeCbc, AesCipher::kModeEcb,
                            AesCipher::kModeCfb1};
  const Bytes plain = pseudoRandomBytes(100, 3);
  for (size_t keyLen : {16u, 24u, 32u}) {
    for (uint32_t mode : modes) {
      for (uint32_t scheme : {0u, 2u}) {
        Bytes cipherText;
        AesCipher copy;
        {
          AesCipher original;
          keyed(original, pseudoRandomBytes(keyLen, 9));
          original.setMode(mode);
          original.setPaddingScheme(scheme);
          cipherText = crypt(original, true, plain);
          ASSERT_TRUE(copy.copySettingsFrom(original));
          keyed(original, pseudoRandomBytes(keyLen, 10));
        }
        EXPECT_EQ(keyLen * 8, copy.keyLength());
        EXPECT_EQ(mode, copy.mode());
        EXPECT_EQ(scheme, copy.paddingScheme());
        Bytes back = crypt(copy, false, cipherText);
        back.resize(plain.size());  // scheme 2 keeps the zero fill
        EXPECT_EQ(plain, back) << keyLen << " " << mode << " " << scheme;
      }
    }
  }
}


}  // namespace
}  // namespace sfx
