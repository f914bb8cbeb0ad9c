// The decoder slots and pool on their own: what decodeChunk makes of each
// kind of chunk, the decoder count, and slots handed through the threads
// in order and taken back by cancel.
#include "archive/decoder_pool.h"

#include "archive/archive_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "codec/aes.h"
#include "codec/inflate_test_util.h"
#include "log/log_base.h"
#include "os/thread.h"
#include "text/data_buffer.h"
#include "text/string_buffer.h"

namespace sfx {
namespace {

using archive_test::Bytes;

Bytes deflated(const std::string& text) {
  return archive_test::deflateLiterals(text);
}

// 3,000,000 bytes 'z' in fixed-code matches: more than a slot holds.
Bytes tooLarge() {
  inflate_test::BitWriter w;
  auto block = inflate_test::BlockWriter::fixed(w, true);
  block.literal('z');
  for (int i = 0; i < 11628; ++i) block.match(258, 1);
  block.end();
  return w.bytes();
}

void keyed(AesCipher& c) {
  StringBuffer pw("pw");
  DataBuffer key;
  ASSERT_TRUE(AesCipher::deriveKey(pw, c.setKeyLength(256), key));
  ASSERT_TRUE(c.setKey(key));
}

// The chunk as the unsalted scheme encrypts it (an all-zero vector).
Bytes seal(const Bytes& plain) {
  archive_test::PieceSealer sealer(archive_test::Scheme::kLegacy, "pw", 256);
  return sealer.seal(plain, 0, 0);
}

void load(ChunkSlot& s, const Bytes& chunk, bool stored, bool encrypted) {
  ASSERT_TRUE(s.reserveInput(static_cast<uint32_t>(chunk.size())));
  if (!chunk.empty()) memcpy(s.in.buffer, chunk.data(), chunk.size());
  s.in.size = static_cast<uint32_t>(chunk.size());
  s.in.stored = stored;
  s.in.encrypted = encrypted;
  if (encrypted) keyed(s.in.cipher);
}

std::string dataOf(const ChunkSlot& s) {
  return std::string(reinterpret_cast<const char*>(s.out.data), s.out.count);
}

TEST(DecodeChunkTest, EachKindOfChunk) {
  const std::string text = "chunk text, chunk text, chunk text";
  const Bytes bad = {0xFF, 0xFF};
  const Bytes big = tooLarge();
  struct Case {
    const char* what;
    Bytes chunk;
    bool stored, encrypted;
    ChunkSlot::Outcome outcome;
    bool inflated;
    std::string data;  // the slot's data for kPlain, else the bytes to stream
  } cases[] = {
      {"stored", Bytes(text.begin(), text.end()), true, false,
       ChunkSlot::kPlain, false, text},
      {"deflated", deflated(text), false, false, ChunkSlot::kPlain, true, text},
      {"stored, encrypted", seal(Bytes(text.begin(), text.end())), true, true,
       ChunkSlot::kPlain, false, text},
      {"deflated, encrypted", seal(deflated(text)), false, true,
       ChunkSlot::kPlain, true, text},
      {"bad data", bad, false, false, ChunkSlot::kStreamDeflated, false,
       std::string(bad.begin(), bad.end())},
      {"bad data, encrypted", seal(bad), false, true, ChunkSlot::kStreamDeflated,
       false, std::string(bad.begin(), bad.end())},
      {"beyond the slot", big, false, false, ChunkSlot::kStreamDeflated, false,
       std::string(big.begin(), big.end())},
      {"empty stored, encrypted", Bytes(), true, true, ChunkSlot::kPlain,
       false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ChunkSlot s;
    load(s, c.chunk, c.stored, c.encrypted);
    decodeChunk(s);
    EXPECT_EQ(c.outcome, s.out.outcome);
    EXPECT_EQ(c.inflated, s.out.inflated);
    EXPECT_EQ(c.data, dataOf(s));
  }
}

// A decryption that fails leaves the ciphertext in the input for the
// entry's thread, which decrypts it again and reports why.
TEST(DecodeChunkTest, FailedDecryptionKeepsTheCiphertext) {
  Bytes sealed = seal(deflated("text"));
  ChunkSlot s;
  load(s, sealed, false, true);
  s.in.cipher.setMode(3);  // passes the set-up, refused by the buffer operations
  decodeChunk(s);
  EXPECT_EQ(ChunkSlot::kStreamCipher, s.out.outcome);
  EXPECT_EQ(0, memcmp(s.in.buffer, sealed.data(), sealed.size()));
}

TEST(DecodeChunkTest, InputGrowsInGranulesUpToTheChunkLimit) {
  ChunkSlot s;
  ASSERT_TRUE(s.reserveInput(1));
  EXPECT_EQ(65536u, s.in.capacity);
  uint8_t* first = s.in.buffer;
  ASSERT_TRUE(s.reserveInput(65536));
  EXPECT_EQ(first, s.in.buffer);  // no new buffer while it fits
  ASSERT_TRUE(s.reserveInput(2048575));
  EXPECT_EQ(2048576u, s.in.capacity);
  uint8_t lent[16];
  s.lendInput(lent, sizeof lent);
  EXPECT_FALSE(s.in.ownsBuffer);
  EXPECT_EQ(lent, s.in.buffer);
}

TEST(DecoderCountTest, ConfiguredValues) {
  const uint32_t cores = processorCount();
  const uint32_t perCore = cores < kDefaultDecoderCap ? cores : kDefaultDecoderCap;
  struct Case {
    int configured;
    uint32_t decoders;
  } cases[] = {{0, perCore}, {-5, perCore}, {1, 1},
               {2, 2},       {3, 3},        {8, kMaxDecoders},
               {1000, kMaxDecoders}};
  for (const Case& c : cases) {
    EXPECT_EQ(c.decoders, resolveDecoderCount(c.configured)) << c.configured;
  }
}

// Many chunks through three decoders come back in submission order, each
// decoded as its own; cancel takes back queued slots and waits for the
// busy ones, after which the pool works on.
TEST(DecoderPoolTest, SlotsComeBackInOrderAndCancelTakesThemBack) {
  DecoderPool pool;
  ASSERT_EQ(3u, pool.start(3));
  ASSERT_EQ(4u, pool.slotCount());
  const uint32_t n = pool.slotCount();
  std::vector<std::string> texts;
  for (int i = 0; i < 40; ++i) texts.push_back("chunk " + std::to_string(i) +
                                               std::string(1000 + i, 'x'));
  uint32_t issued = 0, taken = 0;
  while (taken < texts.size()) {
    if (issued < texts.size() && issued - taken < n) {
      ChunkSlot& s = pool.slot(issued % n);
      load(s, deflated(texts[issued]), false, false);
      pool.submit(s);
      ++issued;
      continue;
    }
    ChunkSlot& s = pool.slot(taken % n);
    pool.waitDecoded(s);
    EXPECT_EQ(texts[taken], dataOf(s)) << taken;
    ++taken;
  }
  for (uint32_t i = 0; i < n; ++i) {
    load(pool.slot(i), deflated(texts[i]), false, false);
    pool.submit(pool.slot(i));
  }
  pool.cancel();
  ChunkSlot& again = pool.slot(0);
  load(again, deflated("after cancel"), false, false);
  pool.submit(again);
  pool.waitDecoded(again);
  EXPECT_EQ("after cancel", dataOf(again));
}

}  // namespace
}  // namespace sfx
