// The inflater: decode tables, streams that decode whole and split at
// every byte, the zlib wrapper, surplus bytes, truncation and aborts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "codec/inflate.h"
#include "codec/inflate_test_util.h"
#include "log/log_base.h"
#include "stream/data_source.h"
#include "stream/output.h"
#include "stream/progress_monitor.h"
#include "text/data_buffer.h"

namespace sfx {
namespace {

using namespace inflate_test;

// ---- Decode tables ----------------------------------------------------------

// Decodes the bits of `code` (length `len`, sent first bit first) with `t`.
int32_t decodeCode(const DecodeTable* t, uint32_t code, int len,
                   int32_t available) {
  BitWriter w;
  w.putCode(code, len);
  uint32_t acc = 0;
  for (size_t i = 0; i < w.bytes().size(); ++i)
    acc |= uint32_t{w.bytes()[i]} << (8 * i);
  if (available < 32) acc &= (1u << available) - 1;
  int32_t bits = available;
  return decodeSymbol(&acc, &bits, t);
}

TEST(DecodeTableTest, EveryCodeUpTo15BitsDecodesAndEveryPrefixWaits) {
  // Lengths 1 .. 15 and a second 15: complete, with codes in sub-tables.
  std::vector<uint8_t> lengths;
  for (int l = 1; l <= 15; ++l) lengths.push_back(static_cast<uint8_t>(l));
  lengths.push_back(15);
  TableBuild built;
  DecodeTable* t =
      buildDecodeTable(lengths.data(), 16, CodeShape::kComplete, &built);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(built, TableBuild::kBuilt);
  EXPECT_EQ(t->mask, 511u);
  std::vector<uint32_t> codes = inflate_test::canonicalCodes(lengths);
  for (int s = 0; s < 16; ++s) {
    int len = lengths[s];
    BitWriter w;
    w.putCode(codes[s], len);
    w.put(0x5A, 7);  // bits of the next code stay in the accumulator
    uint32_t acc = 0;
    for (size_t i = 0; i < w.bytes().size(); ++i)
      acc |= uint32_t{w.bytes()[i]} << (8 * i);
    int32_t bits = len + 7;
    EXPECT_EQ(decodeSymbol(&acc, &bits, t), s);
    EXPECT_EQ(bits, 7);
    EXPECT_EQ(acc, 0x5Au);
    for (int have = 0; have < len; ++have)
      EXPECT_EQ(decodeCode(t, codes[s], len, have), kNeedMoreBits)
          << "symbol " << s << " with " << have << " bits";
  }
  freeDecodeTable(t);
}

TEST(DecodeTableTest, ShapesThatAreRejectedOrAccepted) {
  struct Case {
    const char* name;
    std::vector<uint8_t> lengths;
    CodeShape shape;
    TableBuild expected;
  };
  const Case cases[] = {
      {"complete", {2, 2, 2, 2}, CodeShape::kComplete, TableBuild::kBuilt},
      {"over-subscribed",
       {1, 1, 1},
       CodeShape::kComplete,
       TableBuild::kBadLengths},
      {"over-subscribed distance",
       {1, 1, 2},
       CodeShape::kDistance,
       TableBuild::kBadLengths},
      {"incomplete", {1, 2}, CodeShape::kComplete, TableBuild::kBadLengths},
      {"incomplete distance",
       {2, 2},
       CodeShape::kDistance,
       TableBuild::kBadLengths},
      {"single code", {0, 1, 0}, CodeShape::kComplete, TableBuild::kBadLengths},
      {"single distance code",
       {0, 1, 0},
       CodeShape::kDistance,
       TableBuild::kBuilt},
      {"single distance code of 2 bits",
       {0, 2},
       CodeShape::kDistance,
       TableBuild::kBadLengths},
      {"single literal/length code",
       {0, 1, 0},
       CodeShape::kLiteralLength,
       TableBuild::kBuilt},
      {"single literal/length code of 2 bits",
       {0, 2},
       CodeShape::kLiteralLength,
       TableBuild::kBadLengths},
      {"no literal/length codes",
       {0, 0, 0},
       CodeShape::kLiteralLength,
       TableBuild::kBadLengths},
      {"incomplete literal/length",
       {1, 2},
       CodeShape::kLiteralLength,
       TableBuild::kBadLengths},
      {"no codes", {0, 0, 0}, CodeShape::kComplete, TableBuild::kBadLengths},
      {"no distance codes",
       {0, 0, 0},
       CodeShape::kDistance,
       TableBuild::kBuilt},
      {"length 16", {1, 16}, CodeShape::kComplete, TableBuild::kBadLengths},
  };
  for (const Case& c : cases) {
    TableBuild built = TableBuild::kNoMemory;
    DecodeTable* t = buildDecodeTable(c.lengths.data(),
                                      static_cast<uint32_t>(c.lengths.size()),
                                      c.shape, &built);
    EXPECT_EQ(built, c.expected) << c.name;
    EXPECT_EQ(t != nullptr, c.expected == TableBuild::kBuilt) << c.name;
    freeDecodeTable(t);
  }
}

TEST(DecodeTableTest, UnusedCodesAreInvalid) {
  // Single distance code: "0" is symbol 1, "1" is no code.
  uint8_t single[] = {0, 1};
  DecodeTable* t = buildDecodeTable(single, 2, CodeShape::kDistance, nullptr);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(decodeCode(t, 0, 1, 1), 1);
  EXPECT_EQ(decodeCode(t, 1, 1, 1), kInvalidCode);
  EXPECT_EQ(decodeCode(t, 1, 1, 0), kNeedMoreBits);
  freeDecodeTable(t);
  // No codes at all: nothing decodes, whatever the bits.
  uint8_t none[] = {0, 0};
  t = buildDecodeTable(none, 2, CodeShape::kDistance, nullptr);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(decodeCode(t, 0, 1, 8), kInvalidCode);
  freeDecodeTable(t);
}

// ---- Streams that decode ----------------------------------------------------

TEST(InflateTest, KnownVectors) {
  struct Case {
    const char* name;
    Bytes in;
    bool zlib;
    std::string out;
  };
  // Outputs of a common zlib-compatible deflater.
  const Case cases[] = {
      {"empty fixed block", {0x03, 0x00}, false, ""},
      {"a", {0x4B, 0x04, 0x00}, false, "a"},
      {"hello", {0xCB, 0x48, 0xCD, 0xC9, 0xC9, 0x07, 0x00}, false, "hello"},
      {"stored hello",
       {0x01, 0x05, 0x00, 0xFA, 0xFF, 'h', 'e', 'l', 'l', 'o'},
       false,
       "hello"},
      {"empty raw input", {}, false, ""},
      {"zlib empty",
       {0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01},
       true,
       ""},
      {"zlib a",
       {0x78, 0x9C, 0x4B, 0x04, 0x00, 0x00, 0x62, 0x00, 0x62},
       true,
       "a"},
      {"zlib level 1 header",
       {0x78, 0x01, 0x4B, 0x04, 0x00, 0x00, 0x62, 0x00, 0x62},
       true,
       "a"},
  };
  for (const Case& c : cases) {
    Result r = inflateAll(c.in, c.zlib);
    EXPECT_TRUE(r.ok) << c.name;
    EXPECT_EQ(r.out, c.out) << c.name;
    if (!c.in.empty()) expectSameWhenSplit(c.in, c.out, c.zlib);
  }
}

TEST(InflateTest, HandBuiltStreamsDecodeWholeAndSplit) {
  for (const Built& b : handBuiltStreams()) {
    SCOPED_TRACE(b.name);
    Result r = inflateAll(b.in);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.out, b.out);
    expectSameWhenSplit(b.in, b.out);
    Bytes z = zlibWrap(b.in, b.out);
    Result rz = inflateAll(z, true);
    EXPECT_TRUE(rz.ok);
    EXPECT_EQ(rz.out, b.out);
    expectSameWhenSplit(z, b.out, true);
  }
}

TEST(InflateTest, RepeatOfPreviousLength) {
  // 'a' .. 'g' and 256 have 3 bits each; 'b' .. 'g' are sent as one repeat
  // (code 16) of the length of 'a'.
  std::vector<uint8_t> lit(257, 0);
  for (int c = 'a'; c <= 'g'; ++c) lit[c] = 3;
  lit[256] = 3;
  const std::vector<LengthOp> ops = {
      {18, 86},   // 97 zeros: 0 .. 96
      {3, 0},     // 97 'a'
      {16, 3},    // 6 more: 98 .. 103
      {18, 127},  // 138 zeros: 104 .. 241
      {18, 3},    // 14 zeros: 242 .. 255
      {3, 0},     // 256
      {0, 0},     // the one distance length
  };
  BitWriter w;
  BlockWriter d = BlockWriter::dynamicWithOps(w, true, 257, 1, ops, lit, {0});
  d.literals("facade");
  d.end();
  Result r = inflateAll(w.bytes());
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.out, "facade");
}

TEST(InflateTest, Deflate64LongDistancesAndLengths) {
  // 40,000 bytes of a pattern that never repeats within 65,536, then copies
  // from 40,000 back (distance symbol 30) and 65,536 back (symbol 31), and a
  // 60,000-byte match through length symbol 285's 16 extra bits.
  std::string pattern;
  std::mt19937 rng(7);
  for (int i = 0; i < 65536; ++i) pattern += static_cast<char>(rng() & 0xFF);
  BitWriter w;
  storedBlock(w, false, pattern.substr(0, 40000));
  storedBlock(w, false, pattern.substr(40000));
  BlockWriter b = BlockWriter::fixed(w, true, true);
  b.match(100, 40000);
  b.match(1000, 65536);
  b.match(60000, 1);
  b.match(258, 7);
  b.end();
  std::string expected = pattern;
  auto copy = [&](size_t length, size_t distance) {
    for (size_t i = 0; i < length; ++i)
      expected += expected[expected.size() - distance];
  };
  copy(100, 40000);
  copy(1000, 65536);
  copy(60000, 1);
  copy(258, 7);
  Result r = inflateAll(w.bytes(), false, true);
  EXPECT_TRUE(r.ok);
  EXPECT_TRUE(r.out == expected)
      << "sizes " << r.out.size() << " " << expected.size();
  Result split =
      inflatePieces(w.bytes(), {3, 40003, 40004, 65550, 65551}, false, true);
  EXPECT_TRUE(split.ok);
  EXPECT_TRUE(split.out == expected);

  // With the 32 KB window the first long distance is an error.
  Result narrow = inflateAll(w.bytes(), false, false);
  EXPECT_FALSE(narrow.ok);
  EXPECT_EQ(narrow.errNum, kErrDistanceSymbol);
}

TEST(InflateTest, Deflate64Length285IsNot258) {
  // Symbol 285 with extra bits 0 is length 3 in Deflate64 and 258 without.
  BitWriter w;
  BlockWriter b = BlockWriter::fixed(w, true, true);
  b.literal('q');
  b.match(258, 1);  // written as 285 + 16 bits of 255
  b.end();
  EXPECT_EQ(inflateAll(w.bytes(), false, true).out, std::string(259, 'q'));
  BitWriter w2;
  BlockWriter b2 = BlockWriter::fixed(w2, true, true);
  b2.literal('q');
  b2.symbol(285);
  w2.put(0, 16);
  b2.distanceSymbol(0);
  b2.end();
  EXPECT_EQ(inflateAll(w2.bytes(), false, true).out, "qqqq");
}

// ---- The zlib wrapper, surplus bytes and truncation -------------------------

TEST(InflateTest, ZlibAdlerIsChecked) {
  const Bytes good = {0x78, 0x9C, 0x4B, 0x04, 0x00, 0x00, 0x62, 0x00, 0x62};
  DataBuffer in, out;
  CaptureLog log;
  log.setVerbose(true);
  in.append(good.data(), static_cast<uint32_t>(good.size()));
  EXPECT_TRUE(inflateFromMemory(true, in, out, false, nullptr, log));
  EXPECT_EQ(log.infos.back(), "Computed and received Adler checksums match.");
  EXPECT_TRUE(log.hasData("computedAdler=0x620062"));
  EXPECT_TRUE(log.hasData("receivedAdler=0x620062"));
  EXPECT_EQ(log.contexts,
            (std::vector<std::string>{"inflateFromSource", "inflateSource"}));

  struct Case {
    const char* name;
    Bytes in;
  };
  const Case bad[] = {
      {"wrong adler", {0x78, 0x9C, 0x4B, 0x04, 0x00, 0x00, 0x62, 0x00, 0x63}},
      {"empty input", {}},
      {"truncated trailer", {0x78, 0x9C, 0x4B, 0x04, 0x00, 0x00, 0x62, 0x00}},
      {"truncated block", {0x78, 0x9C, 0x4B, 0x04}},
  };
  for (const Case& c : bad) {
    DataBuffer bi, bo;
    CaptureLog blog;
    bi.append(c.in.data(), static_cast<uint32_t>(c.in.size()));
    EXPECT_FALSE(inflateFromMemory(true, bi, bo, false, nullptr, blog))
        << c.name;
    EXPECT_TRUE(
        blog.hasError("Computed and received Adler checksums do NOT match."))
        << c.name;
  }
}

TEST(InflateTest, SurplusBytesAreReportedAndTheSourceSeeksBack) {
  struct Case {
    const char* name;
    Bytes stream;
    bool zlib;
  };
  const Case cases[] = {
      {"raw", {0x4B, 0x04, 0x00}, false},
      {"stored", {0x01, 0x01, 0x00, 0xFE, 0xFF, 'a'}, false},
      {"zlib", {0x78, 0x9C, 0x4B, 0x04, 0x00, 0x00, 0x62, 0x00, 0x62}, true},
  };
  for (const Case& c : cases) {
    Bytes in = c.stream;
    for (char t : std::string("TAIL")) in.push_back(static_cast<uint8_t>(t));
    InflateState state(c.zlib, false);
    CollectOutput out;
    LogNull log;
    uint32_t surplus = 0;
    ASSERT_TRUE(inflateBlock(state, in.data(), static_cast<uint32_t>(in.size()),
                             &surplus, out, nullptr, log))
        << c.name;
    EXPECT_TRUE(state.finished) << c.name;
    EXPECT_EQ(surplus, 4u) << c.name;
    // A call on a finished stream hands everything back.
    ASSERT_TRUE(inflateBlock(state, in.data(), 3, &surplus, out, nullptr, log));
    EXPECT_EQ(surplus, 3u);

    MemoryDataSource src;
    src.setData(in.data(), static_cast<uint32_t>(in.size()));
    CollectOutput out2;
    EXPECT_TRUE(inflateFromSource(c.zlib, src, out2, false, nullptr, log))
        << c.name;
    EXPECT_EQ(src.getPosition(), static_cast<int64_t>(c.stream.size()))
        << c.name;
    EXPECT_EQ(str(out2.bytes), "a") << c.name;
  }
}

TEST(InflateTest, RawInputThatEndsEarlyKeepsWhatWasDecoded) {
  BitWriter w;
  BlockWriter b = BlockWriter::fixed(w, true);
  b.literals("partial");
  b.end();
  Bytes cut(w.bytes().begin(), w.bytes().end() - 2);
  Result r = inflateAll(cut);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.out.substr(0, 4), "part");
}

// Asks for an abort once the given percentage is reached.
class AbortAt : public ProgressEvent {
 public:
  explicit AbortAt(uint32_t percent) : percent_(percent) {}
  void percentDone(uint32_t percent, bool* abort) override {
    *abort = percent >= percent_;
  }

 private:
  uint32_t percent_;
};

TEST(InflateTest, AbortBetweenChunksEndsWithSuccess) {
  // 300,000 bytes of stored data: several 32 KB chunks. Reading the
  // second chunk passes 20 percent of the input, and the monitor says stop.
  BitWriter w;
  std::string block(60000, 'k');
  for (int i = 0; i < 5; ++i) storedBlock(w, i == 4, block);
  const Bytes& in = w.bytes();
  AbortAt event(20);
  ProgressMonitor pm(&event, 0, static_cast<int64_t>(in.size()));
  MemoryDataSource src;
  src.setData(in.data(), static_cast<uint32_t>(in.size()));
  src.setProgressByBytes(true);
  Output discard;
  CaptureLog log;
  EXPECT_TRUE(inflateFromSource(false, src, discard, false, &pm, log));
  EXPECT_TRUE(pm.isAborted());
  EXPECT_GT(discard.totalWritten(), 30000u);
  EXPECT_LT(discard.totalWritten(), 70000u);
  EXPECT_FALSE(log.hasError("Data source read failed."));
}
}  // namespace
}  // namespace sfx
