// CRC-32, Adler-32 and MD5 against published vectors, against slow
// reference forms of the same definitions, and fed in pieces.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "codec/adler32.h"
#include "codec/codec_test_support.h"
#include "codec/crc32.h"
#include "codec/md5.h"
#include "text/string_buffer.h"

namespace sfx {
namespace {

using codec_test::pseudoRandomBytes;

// Bit-at-a-time CRC-32 straight from the definition (reflected 0xEDB88320).
uint32_t referenceCrc(const unsigned char* p, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ ((c & 1u) ? 0xEDB88320u : 0u);
  }
  return ~c;
}

// Adler-32 reduced after every byte, as the definition reads.
uint32_t referenceAdler(uint32_t adler, const unsigned char* p, size_t n) {
  uint32_t a = adler & 0xFFFFu, b = adler >> 16;
  for (size_t i = 0; i < n; ++i) {
    a = (a + p[i]) % 65521u;
    b = (b + a) % 65521u;
  }
  return (b << 16) | a;
}

std::string hex(const unsigned char* p, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += kDigits[p[i] >> 4];
    s += kDigits[p[i] & 15];
  }
  return s;
}

struct TextVector {
  const char* text;
  uint32_t value;
};

// "123456789" is the standard check value of CRC-32 (ISO-HDLC); the others
// are widely published values of the same CRC.
TEST(ZipCrcTest, KnownValues) {
  const TextVector cases[] = {
      {"", 0x00000000u},
      {"abc", 0x352441C2u},
      {"123456789", 0xCBF43926u},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
  };
  for (const TextVector& c : cases) {
    EXPECT_EQ(ZipCRC::oneShot(c.text, strlen(c.text)), c.value) << c.text;
    ZipCRC crc;
    crc.update(c.text, strlen(c.text));
    EXPECT_EQ(crc.crc(), c.value) << c.text;
  }
}

TEST(ZipCrcTest, MatchesBitwiseDefinitionAcrossLengths) {
  std::vector<unsigned char> data = pseudoRandomBytes(300, 7);
  // Every length up to 300 crosses the 16-byte pass and the tail loop.
  for (size_t n = 1; n <= data.size(); ++n) {
    ASSERT_EQ(ZipCRC::oneShot(data.data(), n), referenceCrc(data.data(), n))
        << "length " << n;
  }
}

TEST(ZipCrcTest, PiecesEqualWholeAndResetRestarts) {
  std::vector<unsigned char> data = pseudoRandomBytes(100, 11);
  const uint32_t whole = ZipCRC::oneShot(data.data(), data.size());
  for (size_t split = 0; split <= data.size(); ++split) {
    ZipCRC crc;
    crc.update(data.data(), split);
    crc.update(data.data() + split, data.size() - split);
    ASSERT_EQ(crc.crc(), whole) << "split " << split;
    crc.reset();
    EXPECT_EQ(crc.state(), 0xFFFFFFFFu);
    crc.update("abc", 3);
    EXPECT_EQ(crc.crc(), 0x352441C2u);
  }
  uint32_t state = 0xFFFFFFFFu;
  state = ZipCRC::updateState(state, data.data(), 37);
  state = ZipCRC::updateState(state, data.data() + 37, data.size() - 37);
  EXPECT_EQ(~state, whole);
}

// Adler-32 is defined in RFC 1950; "abc" and "Wikipedia" are widely
// published values of it.
TEST(Adler32Test, KnownValues) {
  const TextVector cases[] = {
      {"", 0x00000001u},
      {"a", 0x00620062u},
      {"abc", 0x024D0127u},
      {"Wikipedia", 0x11E60398u},
  };
  for (const TextVector& c : cases) {
    EXPECT_EQ(adler32Update(kAdler32Init, c.text, strlen(c.text)), c.value)
        << c.text;
  }
}

TEST(Adler32Test, LongRunsOfHighBytesMatchPerByteReduction) {
  // 0xFF bytes make the sums grow fastest: the deferred reduction must not
  // overflow anywhere near its run limit.
  const size_t lengths[] = {5551, 5552, 5553, 11104, 100000};
  for (size_t n : lengths) {
    std::vector<unsigned char> data(n, 0xFF);
    EXPECT_EQ(adler32Update(kAdler32Init, data.data(), n),
              referenceAdler(kAdler32Init, data.data(), n))
        << "length " << n;
  }
  EXPECT_EQ(
      adler32Update(kAdler32Init,
                    std::vector<unsigned char>(100000, 0xFF).data(), 100000),
      0x149A302Cu);
}

TEST(Adler32Test, PiecesEqualWhole) {
  std::vector<unsigned char> data = pseudoRandomBytes(12000, 3);
  const uint32_t whole = adler32Update(kAdler32Init, data.data(), data.size());
  EXPECT_EQ(whole, referenceAdler(kAdler32Init, data.data(), data.size()));
  const size_t splits[] = {0, 1, 5552, 6000, 11999, 12000};
  for (size_t split : splits) {
    uint32_t a = adler32Update(kAdler32Init, data.data(), split);
    a = adler32Update(a, data.data() + split, data.size() - split);
    EXPECT_EQ(a, whole) << "split " << split;
  }
}

// The test suite of RFC 1321, appendix A.5.
TEST(Md5Test, Rfc1321Suite) {
  struct Case {
    const char* text;
    const char* digest;
  };
  const Case cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"1234567890123456789012345678901234567890123456789012345678901234567890"
       "1234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const Case& c : cases) {
    unsigned char digest[kMd5DigestSize];
    Md5::digest(c.text, strlen(c.text), digest);
    EXPECT_EQ(hex(digest, sizeof digest), c.digest) << c.text;
    Md5::digestSb(StringBuffer(c.text), digest);
    EXPECT_EQ(hex(digest, sizeof digest), c.digest) << c.text;
  }
}

TEST(Md5Test, PiecesEqualWholeAroundBlockAndPaddingEdges) {
  // Lengths 55, 56 and 64 move the length field into a second padding block.
  std::vector<unsigned char> data = pseudoRandomBytes(200, 5);
  const size_t lengths[] = {55, 56, 57, 63, 64, 65, 119, 120, 128, 200};
  for (size_t n : lengths) {
    unsigned char whole[kMd5DigestSize];
    Md5::digest(data.data(), n, whole);
    for (size_t split = 0; split <= n; split += 7) {
      Md5 md5;
      md5.update(data.data(), split);
      md5.update(data.data() + split, n - split);
      unsigned char pieces[kMd5DigestSize];
      md5.final(pieces);
      ASSERT_EQ(hex(pieces, 16), hex(whole, 16))
          << "length " << n << " split " << split;
    }
  }
}

TEST(Md5Test, MillionAsInOddChunksAndReuseAfterFinal) {
  Md5 md5;
  std::string chunk(997, 'a');
  size_t left = 1000000;
  while (left > 0) {
    size_t n = left < chunk.size() ? left : chunk.size();
    md5.update(chunk.data(), n);
    left -= n;
  }
  unsigned char digest[kMd5DigestSize];
  md5.final(digest);
  EXPECT_EQ(hex(digest, 16), "7707d6ae4e027c70eea2a935c2296f21");
  // final() leaves the object ready for a new message.
  md5.update("abc", 3);
  md5.final(digest);
  EXPECT_EQ(hex(digest, 16), "900150983cd24fb0d6963f7d28e17f72");
}

}  // namespace
}  // namespace sfx
