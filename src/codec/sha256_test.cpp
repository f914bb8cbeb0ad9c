// SHA-256, HMAC-SHA256 and PBKDF2-HMAC-SHA256 against the published vectors
// (FIPS 180-4 examples, RFC 4231, RFC 7914 section 11), fed in pieces, and
// natively against OpenSSL's libcrypto on random inputs.
#include "codec/sha256.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#ifdef SFX_TEST_OPENSSL
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>
#endif

namespace sfx {
namespace {

std::string hex(const uint8_t* p, size_t n) {
  static const char kHex[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += kHex[p[i] >> 4];
    s += kHex[p[i] & 15];
  }
  return s;
}

std::string sha256Hex(const std::string& text) {
  uint8_t d[kSha256DigestSize];
  Sha256::digest(text.data(), text.size(), d);
  return hex(d, sizeof d);
}

// FIPS 180-4 examples (the NIST "SHA256.pdf" example messages) and the
// empty message.
TEST(Sha256, PublishedVectors) {
  struct Case {
    std::string message;
    const char* digest;
  } cases[] = {
      {"abc",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmn"
       "opjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(sha256Hex(c.message), c.digest) << c.message.substr(0, 20);
  }
}

// Every split of a message that crosses block and padding boundaries
// (55, 56 and 64 bytes matter) gives the one-shot digest; final() leaves
// the object ready for a new message.
TEST(Sha256, PiecewiseUpdatesMatchOneShot) {
  std::string m;
  for (int i = 0; i < 130; ++i) m += static_cast<char>('A' + i % 53);
  Sha256 h;
  for (size_t len : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 119u, 120u, 130u}) {
    uint8_t whole[kSha256DigestSize];
    Sha256::digest(m.data(), len, whole);
    for (size_t cut = 0; cut <= len; cut += 7) {
      h.update(m.data(), cut);
      h.update(m.data() + cut, len - cut);
      uint8_t d[kSha256DigestSize];
      h.final(d);
      ASSERT_EQ(0, memcmp(d, whole, sizeof d)) << len << " at " << cut;
    }
  }
}

// RFC 4231 test cases 1 to 7 (case 5 compares the 128-bit truncation).
TEST(HmacSha256, Rfc4231) {
  const std::string k131(131, '\xaa');
  struct Case {
    std::string key, data;
    const char* mac;
  } cases[] = {
      {std::string(20, '\x0b'), "Hi There",
       "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
      {"Jefe", "what do ya want for nothing?",
       "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
      {std::string(20, '\xaa'), std::string(50, '\xdd'),
       "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
      {"\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10\x11"
       "\x12\x13\x14\x15\x16\x17\x18\x19",
       std::string(50, '\xcd'),
       "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
      {std::string(20, '\x0c'), "Test With Truncation",
       "a3b6167473100ee06e0c796c2955552b"},
      {k131, "Test Using Larger Than Block-Size Key - Hash Key First",
       "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
      {k131,
       "This is a test using a larger than block-size key and a larger than "
       "block-size data. The key needs to be hashed before being used by the "
       "HMAC algorithm.",
       "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
  };
  for (const Case& c : cases) {
    HmacSha256 mac(c.key.data(), c.key.size());
    uint8_t out[kSha256DigestSize];
    mac.mac(c.data.data(), c.data.size(), out);
    std::string want = c.mac;
    EXPECT_EQ(hex(out, want.size() / 2), want) << c.data.substr(0, 20);
    // The prepared states are not consumed: a second code is the same.
    mac.mac(c.data.data(), c.data.size(), out);
    EXPECT_EQ(hex(out, want.size() / 2), want);
  }
}

// RFC 7914 section 11: two blocks of output each, so the block counter
// and the per-block xor both count.
TEST(Pbkdf2HmacSha256, Rfc7914) {
  struct Case {
    const char* password;
    const char* salt;
    uint32_t iterations;
    const char* key;
  } cases[] = {
      {"passwd", "salt", 1,
       "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
       "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783"},
      {"Password", "NaCl", 80000,
       "4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56"
       "a1d425a1225833549adb841b51c9b3176a272bdebba1d078478f62b397f33c8d"},
  };
  for (const Case& c : cases) {
    uint8_t out[64];
    pbkdf2HmacSha256(c.password, strlen(c.password), c.salt, strlen(c.salt),
                     c.iterations, out, sizeof out);
    EXPECT_EQ(hex(out, sizeof out), c.key) << c.password;
    // A shorter output is a prefix (the key sizes 16, 24 and 32).
    for (size_t n : {16u, 24u, 32u}) {
      uint8_t part[32];
      pbkdf2HmacSha256(c.password, strlen(c.password), c.salt, strlen(c.salt),
                       c.iterations, part, n);
      EXPECT_EQ(hex(part, n), std::string(c.key).substr(0, 2 * n));
    }
  }
}

#ifdef SFX_TEST_OPENSSL
// Random lengths 0 to 300 bytes (over and under the 64-byte block and key
// size), random contents, counts and output lengths, against libcrypto.
TEST(Sha256, MatchesOpenSsl) {
  std::mt19937 rng(20260611);
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> key(rng() % 301), data(rng() % 301);
    for (uint8_t& b : key) b = static_cast<uint8_t>(rng());
    for (uint8_t& b : data) b = static_cast<uint8_t>(rng());

    uint8_t ours[kSha256DigestSize], theirs[kSha256DigestSize];
    Sha256::digest(data.data(), data.size(), ours);
    SHA256(data.data(), data.size(), theirs);
    ASSERT_EQ(0, memcmp(ours, theirs, sizeof ours)) << data.size();

    HmacSha256 mac(key.data(), key.size());
    mac.mac(data.data(), data.size(), ours);
    unsigned int macLen = 0;
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), data.data(),
         data.size(), theirs, &macLen);
    ASSERT_EQ(32u, macLen);
    ASSERT_EQ(0, memcmp(ours, theirs, sizeof ours))
        << key.size() << " " << data.size();
  }
}

TEST(Pbkdf2HmacSha256, MatchesOpenSsl) {
  std::mt19937 rng(7914);
  for (int round = 0; round < 40; ++round) {
    std::vector<uint8_t> password(rng() % 301), salt(rng() % 301);
    for (uint8_t& b : password) b = static_cast<uint8_t>(rng());
    for (uint8_t& b : salt) b = static_cast<uint8_t>(rng());
    uint32_t iterations = 1 + rng() % 3000;
    size_t outLen = 1 + rng() % 100;
    std::vector<uint8_t> ours(outLen), theirs(outLen);
    pbkdf2HmacSha256(password.data(), password.size(), salt.data(),
                     salt.size(), iterations, ours.data(), outLen);
    ASSERT_EQ(1, PKCS5_PBKDF2_HMAC(
                     reinterpret_cast<const char*>(password.data()),
                     static_cast<int>(password.size()), salt.data(),
                     static_cast<int>(salt.size()), static_cast<int>(iterations),
                     EVP_sha256(), static_cast<int>(outLen), theirs.data()));
    ASSERT_EQ(ours, theirs) << password.size() << " " << salt.size() << " "
                            << iterations << " " << outLen;
  }
}
#endif

}  // namespace
}  // namespace sfx
