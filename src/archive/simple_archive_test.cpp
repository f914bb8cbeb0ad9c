#include "archive/simple_archive.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/archive_test_support.h"
#include "codec/aes.h"
#include "codec/kdf.h"
#include "log/log_base.h"
#include "log/log_test_util.h"
#include "stream/data_source.h"
#include "text/data_buffer.h"
#include "text/xstring.h"

namespace sfx {
namespace {

using archive_test::Bytes;

using log_test::CapturingLog;

using archive_test::markerAndHeader;
using archive_test::put16;
using archive_test::put32;
using archive_test::putArg;

// A source over a copy of the bytes, and an archive attached to it.
struct Reader {
  explicit Reader(Bytes b) : bytes(std::move(b)) {
    src.setData(bytes.data(), static_cast<uint32_t>(bytes.size()));
    archive.setSource(&src);
  }
  bool headerAndArgs(CapturingLog& log) {
    StringBuffer err;
    return archive.findMarker(log, nullptr) && archive.readHeader(err, log, nullptr) &&
           archive.readArgs(log, nullptr);
  }
  Bytes bytes;
  MemoryDataSource src;
  SimpleArchive archive;
};

TEST(PayloadMarkerTest, WordsAreTheMarker) {
  EXPECT_EQ(0xBF6CD207u, payloadMarkerWord(0));
  EXPECT_EQ(0xAAAB5921u, payloadMarkerWord(1));
}

TEST(SimpleArchiveTest, FalseFirstHalfThenRealMarker) {
  Bytes b = {'M', 'Z', 1, 2};
  put32(b, payloadMarkerWord(0));
  put32(b, 0x12345678);  // not the second word
  Bytes real = markerAndHeader();
  b.insert(b.end(), real.begin(), real.end());
  Reader r(b);
  CapturingLog log;
  ASSERT_TRUE(r.archive.findMarker(log, nullptr));
  EXPECT_EQ(4 + 8 + 8, r.src.getPosition());
}

TEST(SimpleArchiveTest, FirstHalfOverlappingTheSecondSearch) {
  // The 4 bytes after a false first word are themselves the real first word.
  Bytes b;
  put32(b, payloadMarkerWord(0));
  put32(b, payloadMarkerWord(0));
  put32(b, payloadMarkerWord(1));
  Reader r(b);
  CapturingLog log;
  ASSERT_TRUE(r.archive.findMarker(log, nullptr));
  EXPECT_EQ(12, r.src.getPosition());
}

TEST(SimpleArchiveTest, MarkerMissingOrCut) {
  for (Bytes b : {Bytes{}, Bytes{1, 2, 3}, Bytes{0x07, 0xD2, 0x6C, 0xBF, 0x21, 0x59, 0xAB}}) {
    Reader r(b);
    CapturingLog log;
    EXPECT_FALSE(r.archive.findMarker(log, nullptr)) << b.size();
  }
  SimpleArchive detached;
  CapturingLog log;
  EXPECT_FALSE(detached.findMarker(log, nullptr));
}

TEST(SimpleArchiveTest, HeaderFlags) {
  struct Case {
    unsigned char encrypted, keyCode;
    bool isEncrypted;
    int bits;
  } cases[] = {{0, 0, false, 128}, {1, 0, true, 128}, {1, 1, true, 192},
               {1, 2, true, 256},  {9, 7, true, 256}, {0, 7, false, 256}};
  for (const Case& c : cases) {
    Reader r(markerAndHeader(c.encrypted, c.keyCode));
    CapturingLog log;
    StringBuffer err;
    err.setString("stale");
    ASSERT_TRUE(r.archive.findMarker(log, nullptr));
    ASSERT_TRUE(r.archive.readHeader(err, log, nullptr));
    EXPECT_TRUE(err.isEmpty());
    EXPECT_EQ(c.isEncrypted, r.archive.isEncrypted());
    EXPECT_EQ(c.bits, r.archive.keyLengthBits());
  }
}

TEST(SimpleArchiveTest, HeaderVerboseValues) {
  Reader r(markerAndHeader(1, 1));
  CapturingLog log;
  log.setVerbose(true);
  StringBuffer err;
  ASSERT_TRUE(r.archive.findMarker(log, nullptr));
  ASSERT_TRUE(r.archive.readHeader(err, log, nullptr));
  EXPECT_EQ((std::vector<std::string>{"aes=1", "keyLength=192"}), log.data);
}

TEST(SimpleArchiveTest, HeaderFailures) {
  SimpleArchive detached;
  CapturingLog log;
  StringBuffer err;
  EXPECT_FALSE(detached.readHeader(err, log, nullptr));
  EXPECT_STREQ("No source", err.getString());

  Bytes cut = markerAndHeader();
  cut.resize(8 + 5);  // one header byte missing
  Reader r(cut);
  ASSERT_TRUE(r.archive.findMarker(log, nullptr));
  EXPECT_FALSE(r.archive.readHeader(err, log, nullptr));
  EXPECT_STREQ("Failed to get 1st 6 bytes.", err.getString());
}

TEST(SimpleArchiveTest, OnlyTheTerminator) {
  Bytes b = markerAndHeader();
  put16(b, 0);
  Reader r(b);
  CapturingLog log;
  ASSERT_TRUE(r.headerAndArgs(log));
  XString value;
  value.setFromUtf8("stale");
  EXPECT_FALSE(r.archive.getArg("xmlConfig", value));
  EXPECT_TRUE(value.isEmpty());
}

TEST(SimpleArchiveTest, ArgumentsDuplicatesAndEmptyValues) {
  Bytes b = markerAndHeader();
  putArg(b, "xmlConfig", "<SfxConfig/>");
  putArg(b, "empty", "");
  putArg(b, "dup", "first");
  putArg(b, "dup", "second");
  putArg(b, "bom", "\xEF\xBB\xBFtext");
  put16(b, 0);
  b.push_back(0x42);  // what follows the block stays unread
  Reader r(b);
  CapturingLog log;
  ASSERT_TRUE(r.headerAndArgs(log));
  XString v;
  ASSERT_TRUE(r.archive.getArg("xmlConfig", v));
  EXPECT_STREQ("<SfxConfig/>", v.getUtf8());
  ASSERT_TRUE(r.archive.getArg("empty", v));
  EXPECT_TRUE(v.isEmpty());
  ASSERT_TRUE(r.archive.getArg("dup", v));
  EXPECT_STREQ("second", v.getUtf8());
  ASSERT_TRUE(r.archive.getArg("bom", v));
  EXPECT_STREQ("text", v.getUtf8());
  EXPECT_FALSE(r.archive.getArg("Dup", v));  // exact names only
  EXPECT_FALSE(r.archive.getArg("xmlconfig", v));
  EXPECT_EQ(static_cast<int64_t>(b.size()) - 1, r.src.getPosition());
}

TEST(SimpleArchiveTest, TwoHundredRecordsLeaveTheTerminatorUnread) {
  for (int records : {199, 200, 201}) {
    Bytes b = markerAndHeader();
    for (int i = 0; i < records; ++i) putArg(b, "a" + std::to_string(i), std::to_string(i));
    put16(b, 0);
    Reader r(b);
    CapturingLog log;
    ASSERT_TRUE(r.headerAndArgs(log)) << records;
    XString v;
    EXPECT_TRUE(r.archive.getArg("a199", v) == (records >= 200)) << records;
    EXPECT_FALSE(r.archive.getArg("a200", v));
    // 199 records: the terminator was read. 200 or more: the reader stopped
    // right after record 200, whatever follows.
    int64_t unread = static_cast<int64_t>(b.size()) - r.src.getPosition();
    EXPECT_EQ(records == 199 ? 0 : (records == 200 ? 2 : (2 + 4) + (2 + 3) + 2), unread) << records;
  }
}

TEST(SimpleArchiveTest, EachShortReadHasItsMessage) {
  Bytes full = markerAndHeader();
  size_t argsStart = full.size();
  putArg(full, "name", "value");
  put16(full, 0);
  struct Case {
    size_t keep;  // bytes of the argument block kept
    const char* message;
  } cases[] = {
      {0, "Failed to read arg name len"},  {1, "Failed to read arg name len"},
      {2, "Failed to read arg name"},      {5, "Failed to read arg name"},
      {6, "Failed to read arg value len"}, {7, "Failed to read arg value len"},
      {8, "Failed to read arg value"},     {12, "Failed to read arg value"},
      {13, "Failed to read arg name len"},  // the terminator is cut
  };
  for (const Case& c : cases) {
    Bytes b(full.begin(), full.begin() + static_cast<long>(argsStart + c.keep));
    Reader r(b);
    CapturingLog log;
    EXPECT_FALSE(r.headerAndArgs(log)) << c.keep;
    ASSERT_EQ(1u, log.errors.size()) << c.keep;
    EXPECT_EQ(c.message, log.errors[0]) << c.keep;
  }
  SimpleArchive detached;
  CapturingLog log;
  EXPECT_FALSE(detached.readArgs(log, nullptr));
  EXPECT_EQ((std::vector<std::string>{"no source"}), log.errors);
}

TEST(SimpleArchiveTest, ChunkBufferIsAllocated) {
  SimpleArchive a;
  ASSERT_NE(nullptr, a.chunkBuffer());
  a.chunkBuffer()[kChunkBufferSize - 1] = 1;  // the whole block is usable
}

// The verifier ciphertext for `password`: "qmzv" encrypted under the key
// derived from it.
Bytes verifierFor(const char* password, int bits) {
  AesCipher c;
  c.setKeyLength(static_cast<uint32_t>(bits));
  DataBuffer key, plain, cipher;
  StringBuffer pw(password);
  EXPECT_TRUE(AesCipher::deriveKey(pw, c.keyLength(), key));
  EXPECT_TRUE(c.setKey(key));
  EXPECT_TRUE(plain.append("qmzv", 4));
  LogNull log;
  EXPECT_TRUE(c.encryptBuffer(plain, cipher, log));
  return Bytes(cipher.getData(), cipher.getData() + cipher.getSize());
}

// An encrypted payload up to the verifier block (length byte, then
// `verifier`), followed by the first bytes of an entry record.
Bytes encryptedPayload(unsigned char keyCode, const Bytes& verifier) {
  Bytes b = markerAndHeader(1, keyCode);
  put16(b, 0);
  b.push_back(static_cast<unsigned char>(verifier.size()));
  b.insert(b.end(), verifier.begin(), verifier.end());
  put32(b, kEntryMarker);
  return b;
}

Bytes bytesOf(const DataBuffer& db) {
  return db.getSize() ? Bytes(db.getData(), db.getData() + db.getSize())
                      : Bytes();
}

TEST(SimpleArchivePasswordTest, RightPasswordForEachKeySize) {
  struct Case {
    unsigned char keyCode;
    int headerBits, verifierBits;
    bool accepted;
  } cases[] = {
      {0, 128, 128, true}, {1, 192, 192, true},  {2, 256, 256, true},
      {7, 256, 256, true}, {0, 128, 256, false}, {2, 256, 192, false},
  };
  for (const Case& c : cases) {
    Bytes verifier = verifierFor("secret", c.verifierBits);
    ASSERT_EQ(16u, verifier.size());
    Reader r(encryptedPayload(c.keyCode, verifier));
    CapturingLog log;
    ASSERT_TRUE(r.headerAndArgs(log));
    ASSERT_EQ(c.headerBits, r.archive.keyLengthBits());
    r.archive.decryptor().setMode(
        AesCipher::kModeEcb);  // checkPassword selects CBC
    r.archive.setPassword("secret");
    DataBuffer cache;
    EXPECT_EQ(c.accepted, r.archive.checkPassword(log, cache))
        << int(c.keyCode);
    EXPECT_EQ(verifier, bytesOf(cache)) << int(c.keyCode);
    EXPECT_EQ(static_cast<int64_t>(r.bytes.size()) - 4, r.src.getPosition());
    EXPECT_EQ(AesCipher::kModeCbc, r.archive.decryptor().mode());
    EXPECT_TRUE(log.errors.empty());
  }
}

TEST(SimpleArchivePasswordTest, WrongThenRightReadsTheVerifierOnce) {
  Bytes verifier = verifierFor("secret", 256);
  Reader r(encryptedPayload(2, verifier));
  CapturingLog log;
  ASSERT_TRUE(r.headerAndArgs(log));
  const int64_t afterVerifier = static_cast<int64_t>(r.bytes.size()) - 4;
  DataBuffer cache;
  for (const char* pw :
       {"wrong", "Secret", "", "secret ", "secret", "wrong", "secret"}) {
    r.archive.setPassword(pw);
    EXPECT_EQ(std::string(pw) == "secret", r.archive.checkPassword(log, cache))
        << pw;
    EXPECT_EQ(verifier, bytesOf(cache)) << pw;
    EXPECT_EQ(afterVerifier, r.src.getPosition()) << pw;
  }
}

TEST(SimpleArchivePasswordTest, AFilledCacheIsUsedInsteadOfTheSource) {
  Reader r(encryptedPayload(2, verifierFor("secret", 256)));
  CapturingLog log;
  ASSERT_TRUE(r.headerAndArgs(log));
  const int64_t afterArgs = r.src.getPosition();
  Bytes other = verifierFor("other", 256);
  DataBuffer cache;
  ASSERT_TRUE(cache.append(other.data(), static_cast<uint32_t>(other.size())));
  r.archive.setPassword("secret");
  EXPECT_FALSE(r.archive.checkPassword(log, cache));
  r.archive.setPassword("other");
  EXPECT_TRUE(r.archive.checkPassword(log, cache));
  EXPECT_EQ(afterArgs, r.src.getPosition());
  EXPECT_EQ(other, bytesOf(cache));
}

TEST(SimpleArchivePasswordTest, EmptyPassword) {
  for (const char* pw : {"", static_cast<const char*>(nullptr)}) {
    Reader r(encryptedPayload(1, verifierFor("", 192)));
    CapturingLog log;
    ASSERT_TRUE(r.headerAndArgs(log));
    r.archive.setPassword("not empty");
    r.archive.setPassword(pw);
    DataBuffer cache;
    EXPECT_TRUE(r.archive.checkPassword(log, cache));
  }
}

TEST(SimpleArchivePasswordTest, ShortOrOddVerifierBlocks) {
  const Bytes verifier = verifierFor("secret", 256);
  struct Case {
    const char* what;
    size_t lengthByte;  // 256: the block ends before its length byte
    size_t present;     // ciphertext bytes actually there
    bool accepted;
    size_t cached;
  } cases[] = {
      {"no length byte", 256, 0, false, 0},
      {"cut ciphertext", 16, 10, false, 0},
      {"empty block", 0, 0, false, 0},
      {"shorter than a block", 4, 4, false, 4},
      {"trailing bytes ignored", 20, 20, true, 20},
  };
  for (const Case& c : cases) {
    Bytes b = markerAndHeader(1, 2);
    put16(b, 0);
    if (c.lengthByte < 256)
      b.push_back(static_cast<unsigned char>(c.lengthByte));
    Bytes cipher = verifier;
    cipher.resize(20, 0x55);
    b.insert(b.end(), cipher.begin(),
             cipher.begin() + static_cast<long>(c.present));
    Reader r(b);
    CapturingLog log;
    ASSERT_TRUE(r.headerAndArgs(log)) << c.what;
    r.archive.setPassword("secret");
    DataBuffer cache;
    EXPECT_EQ(c.accepted, r.archive.checkPassword(log, cache)) << c.what;
    EXPECT_EQ(c.cached, cache.getSize()) << c.what;
  }
}

TEST(SimpleArchivePasswordTest, PlainPayloadIsNeverChecked) {
  Bytes b = markerAndHeader(0, 2);
  put16(b, 0);
  Bytes verifier = verifierFor("secret", 256);
  b.push_back(static_cast<unsigned char>(verifier.size()));
  b.insert(b.end(), verifier.begin(), verifier.end());
  Reader r(b);
  CapturingLog log;
  ASSERT_TRUE(r.headerAndArgs(log));
  const int64_t afterArgs = r.src.getPosition();
  r.archive.setPassword("secret");
  DataBuffer cache;
  EXPECT_FALSE(r.archive.checkPassword(log, cache));
  EXPECT_EQ(afterArgs, r.src.getPosition());
  EXPECT_EQ(0u, cache.getSize());
}

}  // namespace
}  // namespace sfx

namespace sfx {
namespace {

// An encrypted payload whose argument block holds `kdf` (when not empty)
// and whose verifier is "qmzv" under the key of `password` by that scheme
// (the verifier's own vector under the salted one).
Bytes kdfPayload(const std::string& kdf, const char* password, int bits) {
  Bytes b = markerAndHeader(1, bits == 128 ? 0 : (bits == 192 ? 1 : 2));
  if (!kdf.empty()) putArg(b, kKdfArg, kdf);
  put16(b, 0);
  KdfSettings settings;
  StringBuffer why;
  bool salted = !kdf.empty() &&
                parseKdfArg(kdf.data(), static_cast<uint32_t>(kdf.size()),
                            &settings, why);
  AesCipher c;
  c.setKeyLength(static_cast<uint32_t>(bits));
  DataBuffer key, plain, cipher;
  EXPECT_TRUE(deriveArchiveKey(password, static_cast<uint32_t>(strlen(password)),
                               salted ? &settings : nullptr, c.keyLength(), key));
  EXPECT_TRUE(c.setKey(key));
  if (salted) {
    EXPECT_TRUE(setPieceIv(c, settings, kPieceNoEntry, kPieceVerifier));
  }
  plain.append("qmzv", 4);
  LogNull log;
  EXPECT_TRUE(c.encryptBuffer(plain, cipher, log));
  b.push_back(static_cast<unsigned char>(cipher.getSize()));
  b.insert(b.end(), cipher.getData(), cipher.getData() + cipher.getSize());
  put32(b, kEntryMarker);
  return b;
}

// The salted scheme opens with its own key at every key length and not
// with the unsalted one; a kdf argument no reader may trust refuses every
// password (a right one too) with its reason, logged once it is read.
TEST(SimpleArchiveKdfTest, SchemesAndRefusals) {
  const std::string salt = "00112233445566778899aabbccddeeff";
  const std::string good = "1:pbkdf2-hmac-sha256:1000:" + salt;
  for (int bits : {128, 192, 256}) {
    Reader r(kdfPayload(good, "pw", bits));
    CapturingLog log;
    ASSERT_TRUE(r.headerAndArgs(log));
    ASSERT_NE(nullptr, r.archive.kdf());
    EXPECT_FALSE(r.archive.kdfRefused());
    EXPECT_EQ(1000u, r.archive.kdf()->iterations);
    DataBuffer cache;
    r.archive.setPassword("wrong");
    EXPECT_FALSE(r.archive.checkPassword(log, cache)) << bits;
    r.archive.setPassword("pw");
    EXPECT_TRUE(r.archive.checkPassword(log, cache)) << bits;
  }
  // Without the argument the payload is of the unsalted scheme.
  {
    Reader r(kdfPayload("", "pw", 256));
    CapturingLog log;
    ASSERT_TRUE(r.headerAndArgs(log));
    EXPECT_EQ(nullptr, r.archive.kdf());
    DataBuffer cache;
    r.archive.setPassword("pw");
    EXPECT_TRUE(r.archive.checkPassword(log, cache));
  }
  struct Refusal {
    std::string value;
    const char* why;
  } refusals[] = {
      {"1:pbkdf2-hmac-sha256:999:" + salt,
       "The key-derivation iteration count is out of range (1000 to "
       "100000000)."},
      {"3:pbkdf2-hmac-sha256:1000:" + salt,
       "The key-derivation argument names an unknown scheme."},
      {"1:pbkdf2-hmac-sha256:1000:" + salt.substr(2),
       "The key-derivation argument is malformed."},
  };
  for (const Refusal& f : refusals) {
    Reader r(kdfPayload(f.value, "pw", 256));
    CapturingLog log;
    ASSERT_TRUE(r.headerAndArgs(log)) << f.value;
    EXPECT_TRUE(r.archive.kdfRefused());
    EXPECT_EQ(nullptr, r.archive.kdf());
    EXPECT_STREQ(f.why, r.archive.kdfError().getString());
    EXPECT_TRUE(log.hasError(f.why));
    DataBuffer cache;
    r.archive.setPassword("pw");
    EXPECT_FALSE(r.archive.checkPassword(log, cache));
    EXPECT_EQ(0u, cache.getSize()) << "nothing is read for a refused scheme";
  }
  // A plain payload's kdf argument means nothing.
  Bytes plain = markerAndHeader(0, 0);
  putArg(plain, kKdfArg, "nonsense");
  put16(plain, 0);
  Reader r(plain);
  CapturingLog log;
  ASSERT_TRUE(r.headerAndArgs(log));
  EXPECT_FALSE(r.archive.kdfRefused());
  EXPECT_EQ(nullptr, r.archive.kdf());
}

}  // namespace
}  // namespace sfx
