#include "codec/inflate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "codec/adler32.h"
#include "codec/inflate_test_util.h"
#include "log/log_base.h"
#include "log/log_test_util.h"
#include "stream/data_source.h"
#include "stream/output.h"
#include "stream/progress_monitor.h"
#include "text/data_buffer.h"

#if !defined(_WIN32)
#include <libdeflate.h>
#include <stdlib.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#endif

namespace sfx {

void PrintTo(WholeInflate v, std::ostream* os) {
  *os << (v == WholeInflate::kDone       ? "kDone"
          : v == WholeInflate::kTooLarge ? "kTooLarge"
                                         : "kBadData");
}

namespace {

using inflate_test::BitWriter;
using inflate_test::BlockWriter;
using inflate_test::LengthOp;
using inflate_test::storedBlock;
using Bytes = std::vector<uint8_t>;

using CaptureLog = log_test::CapturingLog;

// The logged decodeErrNum, or 0.
int decodeErrNum(const CaptureLog& log) {
  for (const auto& d : log.data)
    if (d.rfind("decodeErrNum=", 0) == 0) return std::stoi(d.substr(13));
  return 0;
}

// Collects what it is given; refuses writes once `refuseAfter` bytes are in.
class CollectOutput : public Output {
 public:
  bool writeBytes(const void* data, uint32_t count, ProgressMonitor*,
                  LogBase&) override {
    if (bytes.size() + count > refuseAfter) return false;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    bytes.insert(bytes.end(), p, p + count);
    ++writes;
    return true;
  }
  Bytes bytes;
  size_t refuseAfter = SIZE_MAX;
  int writes = 0;
};

std::string str(const Bytes& b) { return std::string(b.begin(), b.end()); }

// ---- The whole-buffer decoder beside the streaming one
// -----------------------

struct WholeResult {
  WholeInflate verdict;
  std::string out;  // with kDone
};

// inflateWhole over a copy of `in` in a buffer of exactly its size, into
// one of `capacity` + kWholeOutputSlack bytes, so that ASan sees any access
// beyond either.
WholeResult inflateWholeInto(const Bytes& in, uint32_t capacity) {
  std::unique_ptr<uint8_t[]> input(new uint8_t[in.size()]);
  if (!in.empty()) std::memcpy(input.get(), in.data(), in.size());
  std::unique_ptr<uint8_t[]> out(
      new uint8_t[size_t{capacity} + kWholeOutputSlack]);
  uint32_t produced = 0;
  WholeResult r{inflateWhole(input.get(), static_cast<uint32_t>(in.size()),
                             out.get(), capacity, &produced),
                {}};
  if (r.verdict == WholeInflate::kDone) {
    EXPECT_LE(produced, capacity);
    r.out.assign(reinterpret_cast<const char*>(out.get()),
                 std::min(produced, capacity));
  }
  return r;
}

// The streaming decoder over the whole of `in`: whether it reaches the end
// of the final block without an error, and what it passed on.
bool streamingTakes(const Bytes& in, std::string* out) {
  InflateState state(false, false);
  CollectOutput collect;
  LogNull log;
  uint32_t surplus = 0;
  const bool ok = inflateBlock(state, in.empty() ? nullptr : in.data(),
                               static_cast<uint32_t>(in.size()), &surplus,
                               collect, nullptr, log);
  *out = str(collect.bytes);
  return ok && state.finished;
}

// inflateWhole agrees with the streaming decoder on `in` (raw, 32 KB
// window). A stream the streaming decoder takes gives the same bytes with
// exactly their count as the capacity and with more, and is kTooLarge with
// one byte less; a stream it refuses is kBadData with room for all it
// decoded (it holds back at most one window on an error) and more.
void expectWholeAgrees(const Bytes& in) {
  std::string streamed;
  const bool taken = streamingTakes(in, &streamed);
  const uint32_t n = static_cast<uint32_t>(streamed.size());
  if (!taken) {
    EXPECT_EQ(inflateWholeInto(in, n + 2 * 65536).verdict,
              WholeInflate::kBadData);
    return;
  }
  for (uint32_t capacity : {n, n + 1000}) {
    WholeResult r = inflateWholeInto(in, capacity);
    EXPECT_EQ(r.verdict, WholeInflate::kDone) << "capacity " << capacity;
    EXPECT_TRUE(r.out == streamed) << "capacity " << capacity;
  }
  if (n > 0) {
    EXPECT_EQ(inflateWholeInto(in, n - 1).verdict, WholeInflate::kTooLarge);
  }
}

Bytes zlibWrap(const Bytes& deflated, const std::string& plain) {
  Bytes z = {0x78, 0x9C};
  z.insert(z.end(), deflated.begin(), deflated.end());
  uint32_t a = adler32Update(kAdler32Init, plain.data(), plain.size());
  for (int shift = 24; shift >= 0; shift -= 8)
    z.push_back(static_cast<uint8_t>(a >> shift));
  return z;
}

struct Result {
  bool ok;
  std::string out;
  int errNum;
};

// The whole input through inflateFromMemory.
// Raw streams with the 32 KB window go through inflateWhole too, which must
// agree with the streaming decoder.
Result inflateAll(const Bytes& in, bool zlib = false, bool deflate64 = false) {
  if (!zlib && !deflate64) expectWholeAgrees(in);
  DataBuffer input, output;
  input.append(in.data(), static_cast<uint32_t>(in.size()));
  CaptureLog log;
  bool ok = inflateFromMemory(zlib, input, output, deflate64, nullptr, log);
  std::string out;
  if (output.getData())
    out.assign(reinterpret_cast<const char*>(output.getData()),
               output.getSize());
  return {ok, out, decodeErrNum(log)};
}

// The input in pieces, each through inflateSource from a MemoryDataSource of
// its own; `cuts` are the offsets where a piece ends.
Result inflatePieces(const Bytes& in, const std::vector<size_t>& cuts,
                     bool zlib = false, bool deflate64 = false) {
  InflateState state(zlib, deflate64);
  CollectOutput out;
  out.setRunningAdler32(zlib);
  CaptureLog log;
  bool ok = true;
  size_t start = 0;
  std::vector<size_t> ends = cuts;
  ends.push_back(in.size());
  for (size_t end : ends) {
    if (end > in.size()) end = in.size();
    if (end < start) continue;
    MemoryDataSource src;
    src.setData(in.data() + start, static_cast<uint32_t>(end - start));
    ok = inflateSource(state, src, 0, out, nullptr, log);
    start = end;
    if (!ok) break;
  }
  if (ok && zlib && out.runningAdler32() != state.receivedAdler) ok = false;
  return {ok, str(out.bytes), decodeErrNum(log)};
}

// Every stream in two pieces at every byte boundary, and one byte at a
// time straight into inflateBlock, must decode as the whole does.
void expectSameWhenSplit(const Bytes& in, const std::string& expected,
                         bool zlib = false, bool deflate64 = false) {
  for (size_t cut = 0; cut <= in.size(); ++cut) {
    Result r = inflatePieces(in, {cut}, zlib, deflate64);
    ASSERT_TRUE(r.ok) << "cut at " << cut;
    ASSERT_EQ(r.out, expected) << "cut at " << cut;
  }
  InflateState state(zlib, deflate64);
  CollectOutput out;
  out.setRunningAdler32(zlib);
  LogNull log;
  for (size_t i = 0; i < in.size(); ++i) {
    uint32_t surplus = 99;
    ASSERT_TRUE(inflateBlock(state, &in[i], 1, &surplus, out, nullptr, log));
    ASSERT_EQ(surplus, 0u) << "byte " << i;
    ASSERT_EQ(state.finished, i + 1 == in.size()) << "byte " << i;
  }
  EXPECT_EQ(str(out.bytes), expected);
  if (zlib) {
    EXPECT_EQ(out.runningAdler32(), state.receivedAdler);
  }
}

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

// Hand-built streams over every block type; each also split everywhere.
struct Built {
  const char* name;
  Bytes in;
  std::string out;
};

std::vector<Built> handBuiltStreams() {
  std::vector<Built> v;
  {
    BitWriter w;
    storedBlock(w, false, "");
    BlockWriter b = BlockWriter::fixed(w, true);
    b.literals("after empty");
    b.end();
    v.push_back({"stored LEN 0 then fixed", w.bytes(), "after empty"});
  }
  {
    BitWriter w;
    BlockWriter b = BlockWriter::fixed(w, true);
    b.literal('x');
    b.match(258, 1);
    b.end();
    v.push_back({"distance 1 length 258", w.bytes(), std::string(259, 'x')});
  }
  {
    BitWriter w;
    BlockWriter b = BlockWriter::fixed(w, true);
    b.literals("abc");
    b.match(10, 3);
    b.literals("Z");
    b.match(4, 5);
    b.end();
    v.push_back({"overlapping copies", w.bytes(), "abcabcabcabcaZabca"});
  }
  {
    BitWriter w;
    BlockWriter d =
        BlockWriter::dynamic(w, false, inflate_test::dynamicLiteralLengths(),
                             inflate_test::dynamicDistanceLengths());
    d.literals("dynamic ");
    d.match(8, 8);
    d.match(100, 3);
    d.end();
    storedBlock(w, false, "|stored|");
    BlockWriter f = BlockWriter::fixed(w, true);
    f.literals("fixed");
    f.match(20, 13);
    f.end();
    std::string first = "dynamic dynamic ";
    for (int i = 0; i < 100; ++i) first += first[first.size() - 3];
    std::string all = first + "|stored|fixed";
    std::string tail;
    for (int i = 0; i < 20; ++i) tail += all[all.size() - 13 + i % 13];
    v.push_back({"dynamic, stored, fixed", w.bytes(), all + tail});
  }
  {
    // Literals only: a dynamic block with no distance codes.
    BitWriter w;
    BlockWriter d = BlockWriter::dynamic(
        w, true, inflate_test::dynamicLiteralLengths(), {0});
    d.literals("no distances");
    d.end();
    v.push_back({"no distance codes", w.bytes(), "no distances"});
  }
  {
    // One distance code, of length 1: symbol 1 (distance 2).
    BitWriter w;
    BlockWriter d = BlockWriter::dynamic(
        w, true, inflate_test::dynamicLiteralLengths(), {0, 1});
    d.literals("ab");
    d.match(6, 2);
    d.end();
    v.push_back({"one distance code", w.bytes(), "abababab"});
  }
  {
    // Code lengths sent with repeats: 17 and 18 run zeros, 16 repeats the
    // zero before it, and the last repeat ends on the last distance length.
    std::vector<uint8_t> lit(257, 0);
    lit['a'] = 1;
    lit[256] = 1;
    std::vector<uint8_t> dist(4, 0);
    std::vector<LengthOp> ops = {
        {0, 0},     // 0
        {16, 1},    // 4 zeros: 1 .. 4
        {18, 81},   // 92 zeros: 5 .. 96
        {1, 0},     // 97 'a'
        {18, 127},  // 138 zeros: 98 .. 235
        {17, 7},    // 10 zeros: 236 .. 245
        {17, 7},    // 10 zeros: 246 .. 255
        {1, 0},     // 256
        {17, 1},    // the four distance lengths 0
    };
    BitWriter w;
    BlockWriter d =
        BlockWriter::dynamicWithOps(w, true, 257, 4, ops, lit, dist);
    d.literals("aaa");
    d.end();
    v.push_back({"code-length repeats", w.bytes(), "aaa"});
  }
  {
    // A literal/length code of one 1-bit code, the end of the block ("1"
    // is no code), as some encoders write an empty block; then more data.
    std::vector<uint8_t> onlyEnd(257, 0);
    onlyEnd[256] = 1;
    BitWriter w;
    BlockWriter::dynamic(w, false, onlyEnd, {0}).end();
    BlockWriter::dynamic(w, false, onlyEnd, {1}).end();
    BlockWriter f = BlockWriter::fixed(w, true);
    f.literals("after");
    f.end();
    v.push_back({"only end-of-block", w.bytes(), "after"});
  }
  return v;
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

// ---- Decode errors ----------------------------------------------------------

Bytes fixedStream(void (*body)(BlockWriter&), bool deflate64 = false) {
  BitWriter w;
  BlockWriter b = BlockWriter::fixed(w, true, deflate64);
  body(b);
  return w.bytes();
}

Bytes dynamicStream(std::vector<uint8_t> lit, std::vector<uint8_t> dist,
                    void (*body)(BlockWriter&) = nullptr) {
  BitWriter w;
  BlockWriter b =
      BlockWriter::dynamic(w, true, std::move(lit), std::move(dist));
  if (body) body(b);
  return w.bytes();
}

Bytes withCodeLengthCode(std::vector<uint8_t> cl) {
  BitWriter w;
  BlockWriter::dynamicWithOps(w, true, 257, 1, {}, std::vector<uint8_t>(257, 8),
                              {0}, cl);
  w.put(0, 32);
  return w.bytes();
}

// A dynamic block of HLIT 257 and HDIST 1 whose code lengths are `ops`.
Bytes withLengthOps(const std::vector<LengthOp>& ops) {
  BitWriter w;
  BlockWriter::dynamicWithOps(w, true, 257, 1, ops, {}, {});
  w.put(0, 32);
  return w.bytes();
}

TEST(InflateTest, DecodeErrorsAreNumberedAndLogged) {
  struct Case {
    const char* name;
    Bytes in;
    bool zlib;
    bool deflate64;
    int errNum;
  };
  std::vector<uint8_t> singleDist(2, 0);
  singleDist[1] = 1;  // the code "0" is distance symbol 1, "1" is no code
  std::vector<uint8_t> overLit = inflate_test::dynamicLiteralLengths();
  overLit[0] = 5;
  std::vector<uint8_t> onlyA(257, 0);
  onlyA['a'] = 1;
  std::vector<uint8_t> onlyEnd2(257, 0);
  onlyEnd2[256] = 2;
  std::vector<uint8_t> noEnd(257, 8);  // complete over symbols 0 .. 255
  noEnd[256] = 0;
  std::vector<uint8_t> hlit287 = inflate_test::dynamicLiteralLengths();
  hlit287.push_back(0);
  std::vector<uint8_t> hlit288 = hlit287;
  hlit288.push_back(0);
  // 257 + 1 lengths: 256 zeros, a 1 for 256, then a repeat of 3 zeros.
  const std::vector<LengthOp> pastEnd = {{18, 127}, {18, 107}, {1, 0}, {17, 0}};
  std::vector<uint8_t> incompleteLit(257, 0);
  incompleteLit['a'] = 2;
  incompleteLit[256] = 1;
  std::vector<uint8_t> bigCl(19, 0);
  bigCl[0] = bigCl[8] = bigCl[18] = 1;  // three 1-bit codes
  std::vector<uint8_t> smallCl(19, 0);
  smallCl[8] = 1;  // one code
  const Case cases[] = {
      {"zlib method 7", {0x77, 0x09}, true, false, kErrZlibHeader},
      {"zlib CINFO 8", {0x88, 0x1C}, true, false, kErrZlibHeader},
      {"zlib FDICT", {0x78, 0xBB}, true, false, kErrZlibHeader},
      {"zlib check", {0x78, 0x9D}, true, false, kErrZlibHeader},
      {"stored NLEN",
       {0x01, 0x05, 0x00, 0xFA, 0xFE, 'h', 'e', 'l', 'l', 'o'},
       false,
       false,
       kErrStoredLength},
      {"block type 3", {0x07, 0x00}, false, false, kErrReservedBlockType},
      {"block type 3 after a block",
       [] {
         BitWriter w;
         BlockWriter::fixed(w, false).end();
         w.put(7, 3);
         return w.bytes();
       }(),
       false, false, kErrReservedBlockType},
      {"symbol 286", fixedStream([](BlockWriter& b) { b.symbol(286); }), false,
       false, kErrLengthSymbol},
      {"symbol 287", fixedStream([](BlockWriter& b) {
         b.literal('a');
         b.symbol(287);
       }),
       false, false, kErrLengthSymbol},
      {"distance symbol 30", fixedStream([](BlockWriter& b) {
         b.literals("abcd");
         b.symbol(257);
         b.distanceSymbol(30);
         b.end();
       }),
       false, false, kErrDistanceSymbol},
      {"distance symbol 31", fixedStream([](BlockWriter& b) {
         b.literals("abcd");
         b.symbol(257);
         b.distanceSymbol(31);
         b.end();
       }),
       false, false, kErrDistanceSymbol},
      {"distance before any output", fixedStream([](BlockWriter& b) {
         b.match(3, 1);
         b.end();
       }),
       false, false, kErrDistanceTooFar},
      {"distance one past the output", fixedStream([](BlockWriter& b) {
         b.literals("abc");
         b.match(3, 4);
         b.end();
       }),
       false, false, kErrDistanceTooFar},
      {"Deflate64 distance past the output",
       fixedStream(
           [](BlockWriter& b) {
             b.literals("abc");
             b.match(3, 40000);
             b.end();
           },
           true),
       false, true, kErrDistanceTooFar},
      {"unused distance code",
       dynamicStream(inflate_test::dynamicLiteralLengths(), singleDist,
                     [](BlockWriter& b) {
                       b.literals("ab");
                       b.symbol(257);
                       b.distanceSymbol(1);  // "0": fine
                       b.symbol(257);
                       b.raw(1, 1);  // no code
                       b.end();
                     }),
       false, false, kErrDistanceCode},
      {"distance in an empty distance code",
       dynamicStream(inflate_test::dynamicLiteralLengths(), {0},
                     [](BlockWriter& b) {
                       b.literals("ab");
                       b.symbol(257);
                       b.end();  // the decoder reads these bits as a distance
                     }),
       false, false, kErrDistanceCode},
      {"code-length code over-subscribed", withCodeLengthCode(bigCl), false,
       false, kErrCodeLengthCode},
      {"code-length code incomplete", withCodeLengthCode(smallCl), false, false,
       kErrCodeLengthCode},
      {"literal code over-subscribed",
       dynamicStream(overLit, inflate_test::dynamicDistanceLengths()), false,
       false, kErrLiteralLengthLengths},
      {"literal code of one symbol that is not 256", dynamicStream(onlyA, {1}),
       false, false, kErrNoEndOfBlock},
      {"literal code of one 2-bit code", dynamicStream(onlyEnd2, {1}), false,
       false, kErrLiteralLengthLengths},
      {"no end-of-block", dynamicStream(noEnd, {1}), false, false,
       kErrNoEndOfBlock},
      {"HLIT 287", dynamicStream(hlit287, {1}), false, false, kErrCodeCounts},
      {"HLIT 288 Deflate64",
       [&] {
         BitWriter w;
         BlockWriter::dynamic(w, true, hlit288, {1}, true);
         return w.bytes();
       }(),
       false, true, kErrCodeCounts},
      {"HDIST 31",
       dynamicStream(inflate_test::dynamicLiteralLengths(),
                     std::vector<uint8_t>(31, 5)),
       false, false, kErrCodeCounts},
      {"length 16 first", withLengthOps({{16, 0}}), false, false,
       kErrLengthRepeat},
      {"repeat past the last length", withLengthOps(pastEnd), false, false,
       kErrLengthRepeat},
      {"literal code incomplete", dynamicStream(incompleteLit, {1}), false,
       false, kErrLiteralLengthLengths},
      {"distance code over-subscribed",
       dynamicStream(inflate_test::dynamicLiteralLengths(), {1, 1, 1}), false,
       false, kErrDistanceLengths},
      {"distance code incomplete",
       dynamicStream(inflate_test::dynamicLiteralLengths(), {2, 2, 2}), false,
       false, kErrDistanceLengths},
  };
  for (const Case& c : cases) {
    DataBuffer in, out;
    in.append(c.in.data(), static_cast<uint32_t>(c.in.size()));
    CaptureLog log;
    EXPECT_FALSE(inflateFromMemory(c.zlib, in, out, c.deflate64, nullptr, log))
        << c.name;
    EXPECT_EQ(decodeErrNum(log), c.errNum) << c.name;
    EXPECT_TRUE(log.hasError("inflate decode error.")) << c.name;
    EXPECT_TRUE(log.hasError("inflateBlock failed.")) << c.name;
    EXPECT_TRUE(log.hasError("Inflate from source failed.")) << c.name;
  }
}

TEST(InflateTest, OutputFailuresAreDecodeErrors) {
  // The window passes 32,768 bytes on when it fills: on a literal, inside
  // a back-reference, inside a stored block; and at the end of the call.
  struct Case {
    const char* name;
    Bytes in;
    int errNum;
  };
  // 1 + 127 * 258 = 32,767 bytes, so the next literal fills the window.
  const Case cases[] = {
      {"literal", fixedStream([](BlockWriter& b) {
         b.literal('a');
         for (int i = 0; i < 127; ++i) b.match(258, 1);
         b.literal('b');
         b.end();
       }),
       kErrWriteLiteral},
      {"back-reference", fixedStream([](BlockWriter& b) {
         b.literal('a');
         for (int i = 0; i < 128; ++i) b.match(258, 1);
         b.end();
       }),
       kErrWriteMatch},
      {"stored",
       [] {
         BitWriter w;
         storedBlock(w, true, std::string(40000, 's'));
         return w.bytes();
       }(),
       kErrWriteStored},
  };
  for (const Case& c : cases) {
    InflateState state(false, false);
    CollectOutput out;
    out.refuseAfter = 0;
    CaptureLog log;
    uint32_t surplus = 0;
    EXPECT_FALSE(inflateBlock(state, c.in.data(),
                              static_cast<uint32_t>(c.in.size()), &surplus, out,
                              nullptr, log))
        << c.name;
    EXPECT_EQ(decodeErrNum(log), c.errNum) << c.name;
    EXPECT_TRUE(out.failed()) << c.name;
  }
  // The flush at the end of a call fails without failing the call.
  Bytes a = {0x4B, 0x04, 0x00};
  InflateState state(false, false);
  CollectOutput out;
  out.refuseAfter = 0;
  CaptureLog log;
  uint32_t surplus = 0;
  EXPECT_TRUE(inflateBlock(state, a.data(), 3, &surplus, out, nullptr, log));
  EXPECT_TRUE(log.hasError("Failed to flush to output."));
  EXPECT_TRUE(out.failed());
}

TEST(InflateTest, TheWindowIsPassedOnOnlyWhenFullAndAtTheEnd) {
  BitWriter w;
  BlockWriter b = BlockWriter::fixed(w, true);
  b.literal('a');
  for (int i = 0; i < 300; ++i) b.match(258, 1);  // 77,401 bytes
  b.end();
  InflateState state(false, false);
  CollectOutput out;
  LogNull log;
  uint32_t surplus = 0;
  ASSERT_TRUE(inflateBlock(state, w.bytes().data(),
                           static_cast<uint32_t>(w.bytes().size()), &surplus,
                           out, nullptr, log));
  EXPECT_EQ(out.bytes.size(), 77401u);
  EXPECT_EQ(out.writes, 3);  // two full windows and the rest
  EXPECT_EQ(str(out.bytes), std::string(77401, 'a'));
}

TEST(InflateTest, MatchesReachBackAcrossTheWindowsWrap) {
  // The window fills with a literal or with a match ending at any of a few
  // phases, and the next match reaches back across its start, at short and
  // far distances. Plenty of input follows, so the fast loop decodes it.
  for (bool deflate64 : {false, true}) {
    const uint32_t window = deflate64 ? 65536 : 32768;
    // Tails of 19 and 20 with a distance of 20: the match right after the
    // wrap takes all but one or two of its bytes from the ring's end.
    for (uint32_t tail : {0u, 1u, 2u, 3u, 7u, 19u, 20u, 100u}) {
      for (uint32_t distance : {1u, 3u, 9u, 20u, 300u, window}) {
        SCOPED_TRACE(std::to_string(window) + " tail " + std::to_string(tail) +
                     " distance " + std::to_string(distance));
        BitWriter w;
        BlockWriter b = BlockWriter::fixed(w, true, deflate64);
        std::mt19937 rng(tail * 7 + distance);
        std::string expected;
        // Two windows and then some: the ring wraps once after 2 * window
        // bytes; `tail` shifts where the last literal lands. Literals of 8
        // and 9 bits, so that the wrap does not fall where the input is
        // cut into chunks (there the careful loop decodes).
        while (expected.size() < 2 * window - tail) {
          char c = static_cast<char>(rng());
          b.literal(static_cast<uint8_t>(c));
          expected += c;
        }
        for (int k = 0; k < 200; ++k) {
          b.match(20, distance);
          for (int i = 0; i < 20; ++i)
            expected += expected[expected.size() - distance];
          b.literal('#');
          expected += '#';
        }
        b.end();
        Result r = inflateAll(w.bytes(), false, deflate64);
        EXPECT_TRUE(r.ok);
        EXPECT_TRUE(r.out == expected);
      }
    }
  }
}

TEST(InflateTest, HostileInputEndsWithoutHarm) {
  // Random bytes, and valid streams with bits flipped: every call must end,
  // and the sanitizers watch every read and write.
  std::mt19937 rng(12345);
  std::vector<Bytes> inputs;
  for (int i = 0; i < 400; ++i) {
    Bytes b(rng() % 200);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    inputs.push_back(b);
  }
  for (const Built& s : handBuiltStreams()) {
    for (int i = 0; i < 60; ++i) {
      Bytes b = s.in;
      size_t bit = rng() % (b.size() * 8);
      b[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
      inputs.push_back(b);
    }
  }
  // Whole or in two pieces, the verdict is the same.
  for (const Bytes& in : inputs) {
    for (bool deflate64 : {false, true}) {
      for (bool zlib : {false, true}) {
        Result whole = inflateAll(in, zlib, deflate64);
        size_t cut = in.empty() ? 0 : rng() % in.size();
        Result split = inflatePieces(in, {cut}, zlib, deflate64);
        ASSERT_EQ(whole.ok, split.ok);
        ASSERT_EQ(whole.errNum, split.errNum);
        if (whole.ok) {
          ASSERT_EQ(whole.out, split.out);
        }
      }
    }
  }
}

// ---- Long streams -----------------------------------------------------------

// Complete codes whose rarer symbols are 14 and 15 bits long, so that the
// decode tables have sub-tables: literal/length symbols (shuffled) get the
// lengths 1 .. 6, then 232 of 14 bits and 48 of 15; distance symbols 0 .. 9
// the lengths 1 .. 10 and the rest 14 and 15 bits.
std::vector<uint8_t> deepLiteralLengths(std::mt19937& rng) {
  std::vector<uint8_t> l(286, 15);
  for (int i = 0; i < 6; ++i) l[i] = static_cast<uint8_t>(i + 1);
  for (int i = 6; i < 6 + 232; ++i) l[i] = 14;
  std::shuffle(l.begin(), l.end(), rng);
  return l;
}

std::vector<uint8_t> deepDistanceLengths(int count) {
  std::vector<uint8_t> l(count, 15);
  for (int i = 0; i < 10; ++i) l[i] = static_cast<uint8_t>(i + 1);
  for (int i = 10; i < 10 + 42 - count; ++i) l[i] = 14;
  return l;
}

// Random literals and matches: distances of 1 .. 8 (overlapping copies),
// near the whole window, and anywhere, so copies also reach across the end
// of the circular window; with Deflate64 some matches are longer than 258.
void randomSymbols(BlockWriter& b, std::mt19937& rng, int count, bool deflate64,
                   std::string& expected) {
  const size_t window = deflate64 ? 65536 : 32768;
  for (int i = 0; i < count; ++i) {
    uint32_t kind = rng() % 8;
    if (expected.empty() || kind < 3) {
      char c = static_cast<char>(rng() & 0xFF);
      b.literal(static_cast<uint8_t>(c));
      expected += c;
      continue;
    }
    size_t reach = std::min(expected.size(), window);
    size_t distance = 1 + rng() % reach;
    if (kind == 3) distance = 1 + rng() % std::min<size_t>(reach, 8);
    if (kind == 4) distance = reach - rng() % std::min<size_t>(reach, 16);
    size_t length = 3 + rng() % 256;
    if (deflate64 && rng() % 40 == 0) length = 259 + rng() % 9000;
    b.match(static_cast<uint32_t>(length), static_cast<uint32_t>(distance));
    for (size_t k = 0; k < length; ++k)
      expected += expected[expected.size() - distance];
  }
  b.end();
}

TEST(InflateTest, LongStreamsDecodeWholeAndInPieces) {
  for (bool deflate64 : {false, true}) {
    SCOPED_TRACE(deflate64 ? "deflate64" : "deflate");
    std::mt19937 rng(deflate64 ? 64 : 32);
    BitWriter w;
    std::string expected;
    BlockWriter fixed = BlockWriter::fixed(w, false, deflate64);
    randomSymbols(fixed, rng, 4000, deflate64, expected);
    BlockWriter deep = BlockWriter::dynamic(
        w, false, deepLiteralLengths(rng),
        deepDistanceLengths(deflate64 ? 32 : 30), deflate64);
    randomSymbols(deep, rng, 4000, deflate64, expected);
    storedBlock(w, false, "stored between");
    expected += "stored between";
    BlockWriter last = BlockWriter::dynamic(
        w, true, inflate_test::dynamicLiteralLengths(),
        deepDistanceLengths(deflate64 ? 32 : 30), deflate64);
    randomSymbols(last, rng, 2000, deflate64, expected);
    const Bytes& in = w.bytes();

    Result whole = inflateAll(in, false, deflate64);
    EXPECT_TRUE(whole.ok);
    EXPECT_TRUE(whole.out == expected)
        << "sizes " << whole.out.size() << " " << expected.size();
    // Pieces of 1 to 100 bytes: every symbol meets the end of its input
    // somewhere, in and out of the fast loop's margins.
    std::vector<size_t> cuts;
    for (size_t at = 0; at < in.size(); at += 1 + rng() % 100)
      cuts.push_back(at);
    Result pieces = inflatePieces(in, cuts, false, deflate64);
    EXPECT_TRUE(pieces.ok);
    EXPECT_TRUE(pieces.out == expected);
  }
}

TEST(InflateTest, DecodeErrorsDeepInsideLongBlocks) {
  // Each fault follows thousands of good symbols and is followed by enough
  // input for the fast loop to be running when it meets it.
  struct Case {
    const char* name;
    void (*fault)(BlockWriter& b, size_t decoded);
    int errNum;
  };
  const Case cases[] = {
      {"distance beyond the output",
       [](BlockWriter& b, size_t decoded) {
         b.match(10, static_cast<uint32_t>(decoded + 1));
       },
       kErrDistanceTooFar},
      {"distance symbol 30",
       [](BlockWriter& b, size_t) {
         b.symbol(260);
         b.distanceSymbol(30);
       },
       kErrDistanceSymbol},
      {"length symbol 286", [](BlockWriter& b, size_t) { b.symbol(286); },
       kErrLengthSymbol},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::mt19937 rng(5);
    BitWriter w;
    size_t decoded = 0;
    BlockWriter b = BlockWriter::fixed(w, true);
    while (decoded < 20000) {
      if (decoded < 3 || rng() % 2) {
        b.literal(static_cast<uint8_t>('a' + rng() % 20));
        decoded += 1;
      } else {
        uint32_t length = 3 + rng() % 20;
        b.match(length, 1 + rng() % 3);
        decoded += length;
      }
    }
    c.fault(b, decoded);
    for (int i = 0; i < 200; ++i) b.literal('z');
    b.end();
    Result r = inflateAll(w.bytes());
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.errNum, c.errNum);
  }
}

// ---- inflateWhole at the edges of its buffers
// --------------------------------

// Random literals and matches (distances 1 .. 16 and anywhere in reach,
// lengths 3 .. 258) until `target` bytes are decoded, the last match cut to
// fit. Appends what they decode to *expected.
void symbolsUpTo(BlockWriter& b, std::mt19937& rng, size_t target,
                 std::string* expected) {
  while (expected->size() < target) {
    const size_t left = target - expected->size();
    if (expected->empty() || left < 3 || rng() % 3 == 0) {
      const char c =
          static_cast<char>(rng() % 7 == 0 ? rng() : 'a' + rng() % 4);
      b.literal(static_cast<uint8_t>(c));
      *expected += c;
      continue;
    }
    const size_t reach = std::min<size_t>(expected->size(), 32768);
    size_t distance =
        rng() % 2 ? 1 + rng() % std::min<size_t>(reach, 16) : 1 + rng() % reach;
    size_t length = std::min<size_t>(3 + rng() % 256, left);
    b.match(static_cast<uint32_t>(length), static_cast<uint32_t>(distance));
    for (size_t k = 0; k < length; ++k)
      *expected += (*expected)[expected->size() - distance];
  }
}

struct WholeCase {
  std::string name;
  Bytes in;
  std::string expected;
};

// Streams whose output ends in the ways that meet the end of the buffer.
std::vector<WholeCase> wholeEdgeCases() {
  std::vector<WholeCase> v;
  std::mt19937 rng(19);
  {
    BitWriter w;
    BlockWriter::fixed(w, true).end();
    v.push_back({"no output", w.bytes(), ""});
  }
  {
    BitWriter w;
    storedBlock(w, true, "");
    v.push_back({"no output, stored", w.bytes(), ""});
  }
  // A run of 258 at every short distance, then none to three literals,
  // after a prefix that the fast loop decodes when the buffer is larger.
  for (uint32_t distance = 1; distance <= 16; ++distance) {
    for (int tail = 0; tail <= 3; ++tail) {
      BitWriter w;
      std::string expected;
      BlockWriter b =
          BlockWriter::dynamic(w, true, inflate_test::dynamicLiteralLengths(),
                               inflate_test::dynamicDistanceLengths());
      symbolsUpTo(b, rng, 700, &expected);
      b.match(258, distance);
      for (int k = 0; k < 258; ++k)
        expected += expected[expected.size() - distance];
      for (int k = 0; k < tail; ++k) {
        b.literal(static_cast<uint8_t>('0' + k));
        expected += static_cast<char>('0' + k);
      }
      b.end();
      v.push_back({"258 at distance " + std::to_string(distance) + ", " +
                       std::to_string(tail) + " literals after",
                   w.bytes(), expected});
    }
  }
  {
    // Matches of every length ending the output, the longest reaching
    // back the whole window.
    for (uint32_t length : {3u, 4u, 10u, 40u, 41u, 257u}) {
      BitWriter w;
      std::string expected;
      BlockWriter b = BlockWriter::fixed(w, true);
      symbolsUpTo(b, rng, 40000, &expected);
      b.match(length, 32768);
      for (uint32_t k = 0; k < length; ++k)
        expected += expected[expected.size() - 32768];
      b.end();
      v.push_back(
          {"match of " + std::to_string(length) + " at distance 32768 last",
           w.bytes(), expected});
    }
  }
  {
    // Exactly 2 MiB over several blocks of each kind, the last one fixed.
    BitWriter w;
    std::string expected;
    for (int block = 0; block < 8; ++block) {
      BlockWriter b =
          BlockWriter::dynamic(w, false, inflate_test::dynamicLiteralLengths(),
                               inflate_test::dynamicDistanceLengths());
      symbolsUpTo(b, rng, (block + 1) * size_t{250000}, &expected);
      b.end();
      const std::string stored(1000 + block, static_cast<char>('A' + block));
      storedBlock(w, false, stored);
      expected += stored;
    }
    BlockWriter b = BlockWriter::fixed(w, true);
    symbolsUpTo(b, rng, size_t{2} << 20, &expected);
    b.end();
    v.push_back({"2 MiB", w.bytes(), expected});
  }
  return v;
}

TEST(InflateWholeTest, OutputThatMeetsTheEndOfTheBuffer) {
  for (const WholeCase& c : wholeEdgeCases()) {
    SCOPED_TRACE(c.name);
    std::string streamed;
    ASSERT_TRUE(streamingTakes(c.in, &streamed));
    ASSERT_TRUE(streamed == c.expected);
    const uint32_t n = static_cast<uint32_t>(c.expected.size());
    // Exactly the output, and up to past the fast loop's margins, so that
    // the end falls in each loop and at each place in a match.
    const uint32_t extra = n > 100000 ? 4 : 300;
    for (uint32_t capacity = n; capacity <= n + extra; ++capacity) {
      WholeResult r = inflateWholeInto(c.in, capacity);
      ASSERT_EQ(r.verdict, WholeInflate::kDone) << "capacity " << capacity;
      ASSERT_TRUE(r.out == c.expected) << "capacity " << capacity;
    }
    for (uint32_t less : {1u, 2u, 258u, 259u, 1000u}) {
      if (less > n) continue;
      EXPECT_EQ(inflateWholeInto(c.in, n - less).verdict,
                WholeInflate::kTooLarge)
          << less << " bytes short";
    }
  }
}

// Every prefix of a stream with stored, fixed and dynamic blocks (matches
// reaching back across them) is refused, the whole stream taken, bytes
// after it ignored.
TEST(InflateWholeTest, EveryPrefixIsRefusedAndTrailingBytesIgnored) {
  std::mt19937 rng(23);
  BitWriter w;
  std::string expected;
  storedBlock(w, false, "stored bytes first");
  expected += "stored bytes first";
  BlockWriter fixed = BlockWriter::fixed(w, false);
  symbolsUpTo(fixed, rng, 300, &expected);
  fixed.end();
  storedBlock(w, false, "");
  BlockWriter last =
      BlockWriter::dynamic(w, true, inflate_test::dynamicLiteralLengths(),
                           inflate_test::dynamicDistanceLengths());
  symbolsUpTo(last, rng, 900, &expected);
  last.end();
  Bytes in = w.bytes();
  for (size_t cut = 0; cut < in.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    const Bytes prefix(in.begin(),
                       in.begin() + static_cast<std::ptrdiff_t>(cut));
    EXPECT_EQ(inflateWholeInto(prefix, 4096).verdict, WholeInflate::kBadData);
    expectWholeAgrees(prefix);
  }
  for (size_t trailing : {0, 1, 7, 40}) {
    Bytes more = in;
    for (size_t i = 0; i < trailing; ++i)
      more.push_back(static_cast<uint8_t>(rng()));
    WholeResult r = inflateWholeInto(more, 4096);
    EXPECT_EQ(r.verdict, WholeInflate::kDone);
    EXPECT_TRUE(r.out == expected);
  }
}

// ---- Acceptance: the streams zlib's inflate takes, and only those ----------

// Whether the decoder takes `in` as one whole raw stream: no decode error and
// the final block reached. Stores what it decoded in *out. With the 32 KB
// window, inflateWhole must agree.
bool oursAccepts(const Bytes& in, bool deflate64, std::string* out) {
  if (!deflate64) expectWholeAgrees(in);
  InflateState state(false, deflate64);
  CollectOutput collect;
  CaptureLog log;
  uint32_t surplus = 0;
  bool ok = inflateBlock(state, in.empty() ? nullptr : in.data(),
                         static_cast<uint32_t>(in.size()), &surplus, collect,
                         nullptr, log);
  *out = str(collect.bytes);
  return ok && state.finished && !log.hasError("Failed to flush to output.");
}

#if !defined(_WIN32)
// The same for zlib's inflate (raw, 32 KB window).
bool zlibAccepts(const Bytes& in, std::string* out) {
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (inflateInit2(&z, -15) != Z_OK) return false;
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  std::vector<Bytef> buf(1 << 16);
  out->clear();
  int ret;
  do {
    z.next_out = buf.data();
    z.avail_out = static_cast<uInt>(buf.size());
    ret = inflate(&z, Z_NO_FLUSH);
    out->append(reinterpret_cast<const char*>(buf.data()),
                buf.size() - z.avail_out);
  } while (ret == Z_OK);
  inflateEnd(&z);
  return ret == Z_STREAM_END;
}
#endif

// Streams at the edges of what Deflate allows, each with whether zlib's
// inflate takes it; the decoder must agree (and, natively, so must zlib).
struct EdgeStream {
  std::string name;
  Bytes in;
  bool accepted;
  bool trailing = false;  // bytes follow the Deflate data
};

std::vector<EdgeStream> edgeStreams() {
  std::vector<EdgeStream> v;
  auto dyn = [](std::vector<uint8_t> lit, std::vector<uint8_t> dist,
                const std::function<void(BlockWriter&)>& body) {
    BitWriter w;
    BlockWriter b =
        BlockWriter::dynamic(w, true, std::move(lit), std::move(dist));
    body(b);
    return w.bytes();
  };
  const std::vector<uint8_t> lit = inflate_test::dynamicLiteralLengths();
  std::vector<uint8_t> onlyEnd(257, 0);
  onlyEnd[256] = 1;

  // Incomplete single codes.
  v.push_back({"only end-of-block, 1 bit",
               dyn(onlyEnd, {0}, [](BlockWriter& b) { b.end(); }), true});
  v.push_back({"only end-of-block, the unused code sent",
               dyn(onlyEnd, {0}, [](BlockWriter& b) { b.raw(1, 1); }), false});
  {
    std::vector<uint8_t> l(257, 0);
    l[256] = 2;
    v.push_back({"only end-of-block, 2 bits",
                 dyn(l, {0}, [](BlockWriter& b) { b.end(); }), false});
    l[256] = 0;
    l['a'] = 1;
    v.push_back({"only a literal, 1 bit",
                 dyn(l, {0}, [](BlockWriter& b) { b.literal('a'); }), false});
  }
  // A single distance code, and none.
  v.push_back({"one distance code of 1 bit",
               dyn(lit, {0, 1},
                   [](BlockWriter& b) {
                     b.literals("ab");
                     b.match(6, 2);
                     b.end();
                   }),
               true});
  v.push_back({"one distance code, the unused code sent",
               dyn(lit, {0, 1},
                   [](BlockWriter& b) {
                     b.literals("ab");
                     b.symbol(257);
                     b.raw(1, 1);
                     b.end();
                   }),
               false});
  v.push_back({"one distance code of 2 bits",
               dyn(lit, {0, 2},
                   [](BlockWriter& b) {
                     b.literals("ab");
                     b.end();
                   }),
               false});
  v.push_back({"no distance codes, literals only",
               dyn(lit, {0},
                   [](BlockWriter& b) {
                     b.literals("xy");
                     b.end();
                   }),
               true});
  v.push_back({"no distance codes, a length",
               dyn(lit, {0, 0},
                   [](BlockWriter& b) {
                     b.literals("xy");
                     b.symbol(257);
                     b.raw(0, 8);
                     b.end();
                   }),
               false});
  // Stored blocks.
  {
    BitWriter w;
    storedBlock(w, false, "");
    storedBlock(w, false, "");
    storedBlock(w, true, "");
    v.push_back({"empty stored blocks only", w.bytes(), true});
    Bytes cut = w.bytes();
    cut.pop_back();
    v.push_back({"empty stored block cut short", cut, false});
    Bytes bad = w.bytes();
    bad.back() ^= 1;  // NLEN of the last block
    v.push_back({"empty stored block, NLEN wrong", bad, false});
  }
  // The longest codes: 15 bits for the end of the block, length 258, a
  // distance of 193 .. 256 and a distance of 1.
  {
    std::vector<uint8_t> l(286, 0);
    for (int i = 0; i < 14; ++i) l[i] = static_cast<uint8_t>(i + 1);
    l[256] = l[285] = 15;
    std::vector<uint8_t> d(16, 0);
    for (int i = 0; i < 15; ++i) d[i] = static_cast<uint8_t>(i + 1);
    d[15] = 15;
    v.push_back({"15-bit codes",
                 dyn(l, d,
                     [](BlockWriter& b) {
                       for (int i = 0; i < 300; ++i)
                         b.literal(static_cast<uint8_t>(i % 14));
                       b.match(258, 200);
                       b.match(258, 1);
                       b.end();
                     }),
                 true});
    l[285] = 0;
    v.push_back({"15-bit codes, one missing",
                 dyn(l, d, [](BlockWriter& b) { b.end(); }), false});
  }
  // The shortest codes: 1-bit literal, 2-bit lengths, one 1-bit distance.
  {
    std::vector<uint8_t> l(258, 0);
    l['a'] = 1;
    l[256] = l[257] = 2;
    v.push_back({"1-bit codes",
                 dyn(l, {1},
                     [](BlockWriter& b) {
                       b.literal('a');
                       b.match(3, 1);
                       b.end();
                     }),
                 true});
  }
  // Code-length codes and repeats.
  v.push_back({"code-length code all zero",
               withCodeLengthCode(std::vector<uint8_t>(19, 0)), false});
  {
    std::vector<uint8_t> one(19, 0);
    one[8] = 1;
    v.push_back(
        {"code-length code of one code", withCodeLengthCode(one), false});
  }
  v.push_back({"length 16 first", withLengthOps({{16, 0}}), false});
  v.push_back({"repeat past the last length",
               withLengthOps({{18, 127}, {18, 107}, {1, 0}, {17, 0}}), false});
  {
    // 256 zeros, then 1 for 256 repeated (16) over 257 and both distances.
    std::vector<uint8_t> l(258, 0);
    l[256] = l[257] = 1;
    BitWriter w;
    BlockWriter b = BlockWriter::dynamicWithOps(
        w, true, 258, 2, {{18, 127}, {18, 107}, {1, 0}, {16, 0}}, l, {1, 1});
    b.end();
    v.push_back({"repeat across into the distance lengths", w.bytes(), true});
  }
  {
    std::vector<uint8_t> noEnd(257, 8);
    noEnd[256] = 0;
    v.push_back({"no end-of-block code",
                 dyn(noEnd, {1}, [](BlockWriter& b) { b.literal('a'); }),
                 false});
    std::vector<uint8_t> l287 = lit;
    l287.push_back(0);
    v.push_back(
        {"HLIT 287", dyn(l287, {1}, [](BlockWriter& b) { b.end(); }), false});
    v.push_back(
        {"HDIST 31",
         dyn(lit, std::vector<uint8_t>(31, 5), [](BlockWriter& b) { b.end(); }),
         false});
    std::vector<uint8_t> d30(30, 5);
    d30[0] = d30[1] = 4;
    v.push_back({"HLIT 286 and HDIST 30",
                 dyn(lit, d30,
                     [](BlockWriter& b) {
                       b.literal('q');
                       b.end();
                     }),
                 true});
  }
  // Distances, reserved symbols and ends.
  v.push_back({"distance equal to the output", fixedStream([](BlockWriter& b) {
                 b.literals("abc");
                 b.match(3, 3);
                 b.end();
               }),
               true});
  v.push_back({"distance one past the output", fixedStream([](BlockWriter& b) {
                 b.literals("abc");
                 b.match(3, 4);
                 b.end();
               }),
               false});
  v.push_back({"fixed symbol 286",
               fixedStream([](BlockWriter& b) { b.symbol(286); }), false});
  v.push_back({"fixed distance 30", fixedStream([](BlockWriter& b) {
                 b.literals("abcd");
                 b.symbol(257);
                 b.distanceSymbol(30);
                 b.end();
               }),
               false});
  v.push_back({"block type 3", {0x07, 0x00}, false});
  v.push_back({"no bytes", {}, false});
  {
    Bytes whole = fixedStream([](BlockWriter& b) {
      b.literals("tail");
      b.end();
    });
    Bytes cut(whole.begin(), whole.end() - 1);
    v.push_back({"fixed block cut short", cut, false});
    whole.insert(whole.end(), {0xDE, 0xAD});
    v.push_back({"bytes after the final block", whole, true, true});
    BitWriter w;
    BlockWriter::fixed(w, false).end();
    v.push_back({"no final block", w.bytes(), false});
  }
  return v;
}

TEST(InflateAcceptanceTest, EdgeStreamsAreTakenExactlyWhenZlibTakesThem) {
  for (const EdgeStream& c : edgeStreams()) {
    SCOPED_TRACE(c.name);
    std::string ours;
    EXPECT_EQ(oursAccepts(c.in, false, &ours), c.accepted);
#if !defined(_WIN32)
    std::string theirs;
    EXPECT_EQ(zlibAccepts(c.in, &theirs), c.accepted);
    if (c.accepted) {
      EXPECT_TRUE(ours == theirs);
    }
#endif
    // Split anywhere, an accepted stream decodes the same.
    if (c.accepted && !c.trailing) expectSameWhenSplit(c.in, ours);
  }
}

// ---- Against zlib -----------------------------------------------------------

#if !defined(_WIN32)
Bytes zlibCompress(const std::string& data, int level, int windowBits) {
  z_stream z;
  std::memset(&z, 0, sizeof z);
  EXPECT_EQ(
      deflateInit2(&z, level, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY),
      Z_OK);
  Bytes out(deflateBound(&z, data.size()) + 16);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

TEST(InflateAgainstZlibTest, RandomDataAtSeveralLevels) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 12; ++round) {
    // Text-like data with long repeats, and plain noise.
    size_t size = rng() % 200000;
    std::string data;
    bool noise = round % 3 == 0;
    while (data.size() < size) {
      if (noise || data.size() < 10 || rng() % 3 == 0) {
        data += static_cast<char>(noise ? rng() : 'a' + rng() % 12);
      } else {
        size_t from = rng() % data.size();
        size_t len = 1 + rng() % 300;
        for (size_t i = 0; i < len && data.size() < size; ++i)
          data += data[from + i];
      }
    }
    for (int level : {0, 1, 6, 9}) {
      SCOPED_TRACE("round " + std::to_string(round) + " level " +
                   std::to_string(level));
      Bytes raw = zlibCompress(data, level, -15);
      Result r = inflateAll(raw);
      EXPECT_TRUE(r.ok);
      EXPECT_TRUE(r.out == data);
      Bytes wrapped = zlibCompress(data, level, 15);
      Result rz = inflateAll(wrapped, true);
      EXPECT_TRUE(rz.ok);
      EXPECT_TRUE(rz.out == data);
      size_t cut = raw.empty() ? 0 : rng() % raw.size();
      Result rs = inflatePieces(raw, {cut, cut + 1 + rng() % 40});
      EXPECT_TRUE(rs.ok);
      EXPECT_TRUE(rs.out == data);
    }
  }
}

TEST(InflateAgainstZlibTest, ShortStreamsSplitEverywhere) {
  const std::string texts[] = {"", "a", "abracadabra abracadabra abracadabra",
                               std::string(1000, 'z') + "tail"};
  for (const std::string& t : texts) {
    for (int level : {1, 9}) {
      expectSameWhenSplit(zlibCompress(t, level, -15), t);
      expectSameWhenSplit(zlibCompress(t, level, 15), t, true);
    }
  }
}

// ---- Streams from other encoders
// ---------------------------------------------

// Inputs that lead encoders into different blocks: none, one byte, text
// with repeats, noise (stored blocks), long runs, and records with many
// near and far matches.
std::vector<std::string> encoderInputs() {
  std::mt19937 rng(16);
  std::string text;
  const char* words[] = {"deflate ", "block ", "code ",   "length ",
                         "the ",     "of ",    "window ", "distance\n"};
  while (text.size() < 40000) text += words[rng() % 8];
  std::string noise(20000, 0);
  for (char& c : noise) c = static_cast<char>(rng());
  std::string runs;
  while (runs.size() < 30000)
    runs += std::string(1 + rng() % 600, static_cast<char>('a' + rng() % 3));
  std::string records;
  for (uint32_t i = 0; records.size() < 50000; ++i) {
    records += "id=" + std::to_string(i * 7919 % 1000) + ";v=";
    records += static_cast<char>(rng() % 256);
    records += static_cast<char>(rng() % 4);
  }
  return {"", "a", text, noise, runs, records};
}

struct Encoded {
  std::string encoder;
  size_t input;  // index into encoderInputs()
  Bytes raw;     // the raw Deflate stream
};

// A scratch folder, removed with what it holds.
class ScratchDir {
 public:
  ScratchDir() {
    std::string t = ::testing::TempDir() + "inflate-encoders-XXXXXX";
    std::vector<char> buf(t.begin(), t.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data())) path_ = buf.data();
  }
  ~ScratchDir() {
    if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

bool readFile(const std::string& path, Bytes* out) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  out->assign(std::istreambuf_iterator<char>(f), {});
  return true;
}

bool writeFile(const std::string& path, const std::string& data) {
  std::ofstream f(path, std::ios::binary);
  f.write(data.data(), static_cast<std::streamsize>(data.size()));
  return static_cast<bool>(f);
}

uint32_t le16(const Bytes& b, size_t at) { return b[at] | b[at + 1] << 8; }
uint32_t le32(const Bytes& b, size_t at) {
  return le16(b, at) | le16(b, at + 2) << 16;
}

// The raw Deflate data of a one-member gzip file (RFC 1952).
bool gzipRaw(const Bytes& gz, Bytes* raw) {
  if (gz.size() < 18 || gz[0] != 0x1F || gz[1] != 0x8B || gz[2] != 8)
    return false;
  const uint8_t flags = gz[3];
  size_t at = 10;
  if (flags & 4) at += 2 + le16(gz, at);  // FEXTRA
  for (uint8_t bit : {8, 16})             // FNAME, FCOMMENT
    if (flags & bit)
      while (at < gz.size() && gz[at++] != 0) {
      }
  if (flags & 2) at += 2;  // FHCRC
  if (at + 8 > gz.size()) return false;
  raw->assign(gz.begin() + static_cast<std::ptrdiff_t>(at), gz.end() - 8);
  return true;
}

// The raw data of the first entry of a zip file, found through the central
// directory (sizes in the local header may be deferred), and its method.
bool zipRaw(const Bytes& zip, uint32_t* method, Bytes* raw) {
  if (zip.size() < 22) return false;
  size_t end = zip.size() - 22;
  while (end > 0 && le32(zip, end) != 0x06054B50) --end;
  if (le32(zip, end) != 0x06054B50) return false;
  const size_t cd = le32(zip, end + 16);
  if (cd + 46 > zip.size() || le32(zip, cd) != 0x02014B50) return false;
  *method = le16(zip, cd + 10);
  const size_t size = le32(zip, cd + 20);
  const size_t local = le32(zip, cd + 42);
  if (local + 30 > zip.size()) return false;
  const size_t data =
      local + 30 + le16(zip, local + 26) + le16(zip, local + 28);
  if (data + size > zip.size()) return false;
  raw->assign(zip.begin() + static_cast<std::ptrdiff_t>(data),
              zip.begin() + static_cast<std::ptrdiff_t>(data + size));
  return true;
}

Bytes zlibRaw(const std::string& data, int level, int strategy, int memLevel,
              int windowBits) {
  z_stream z;
  std::memset(&z, 0, sizeof z);
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, windowBits, memLevel, strategy),
            Z_OK);
  Bytes out(deflateBound(&z, data.size()) + 16);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

Bytes libdeflateRaw(const std::string& data, int level) {
  libdeflate_compressor* c = libdeflate_alloc_compressor(level);
  EXPECT_NE(c, nullptr) << "level " << level;
  if (!c) return {};
  Bytes out(libdeflate_deflate_compress_bound(c, data.size()));
  out.resize(libdeflate_deflate_compress(c, data.data(), data.size(),
                                         out.data(), out.size()));
  libdeflate_free_compressor(c);
  return out;
}

// A command-line encoder: the command (run in the scratch folder, with
// "in" as the input file and "out" as the output) and how the raw stream
// comes out of its file.
struct Tool {
  std::string name;
  std::string command;
  enum Container { kGzip, kRaw, kZip, kZip64 } container;
};

std::vector<Tool> commandLineEncoders() {
  std::vector<Tool> t;
  for (int l = 1; l <= 9; ++l)
    t.push_back({"gzip -" + std::to_string(l),
                 "gzip -c -" + std::to_string(l) + " in > out", Tool::kGzip});
  // 32 KB blocks so that the blocks of the larger inputs end in flushes.
  for (int l : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11})
    t.push_back({"pigz -" + std::to_string(l),
                 "pigz -c -b 32 -" + std::to_string(l) + " in > out",
                 Tool::kGzip});
  t.push_back({"zopfli", "zopfli --deflate -c in > out", Tool::kRaw});
  for (int l : {1, 5, 9})
    t.push_back({"7zz -mx=" + std::to_string(l),
                 "7zz a -tzip -mm=Deflate -mx=" + std::to_string(l) +
                     " out in > /dev/null",
                 Tool::kZip});
  t.push_back({"7zz Deflate64 -mx=9",
               "7zz a -tzip -mm=Deflate64 -mx=9 out in > /dev/null",
               Tool::kZip64});
  return t;
}

// Every stream: zlib at every level and strategy (and its smallest window
// and memory), libdeflate at every level, and the command-line encoders.
// Failures to encode are test failures, so a missing encoder is seen.
std::vector<Encoded> encodeEverywhere(const std::vector<std::string>& inputs,
                                      std::vector<Encoded>* deflate64) {
  std::vector<Encoded> v;
  const std::pair<const char*, int> strategies[] = {
      {"default", Z_DEFAULT_STRATEGY},
      {"filtered", Z_FILTERED},
      {"huffman-only", Z_HUFFMAN_ONLY},
      {"rle", Z_RLE},
      {"fixed", Z_FIXED}};
  for (size_t i = 0; i < inputs.size(); ++i) {
    for (int level = 0; level <= 9; ++level)
      for (const auto& st : strategies)
        v.push_back({"zlib " + std::to_string(level) + " " + st.first, i,
                     zlibRaw(inputs[i], level, st.second, 8, -15)});
    v.push_back({"zlib 9 memLevel 1", i,
                 zlibRaw(inputs[i], 9, Z_DEFAULT_STRATEGY, 1, -15)});
    v.push_back({"zlib 6 window 512", i,
                 zlibRaw(inputs[i], 6, Z_DEFAULT_STRATEGY, 8, -9)});
    for (int level = 0; level <= 12; ++level)
      v.push_back({"libdeflate " + std::to_string(level), i,
                   libdeflateRaw(inputs[i], level)});
  }
  ScratchDir dir;
  if (dir.path().empty()) {
    ADD_FAILURE() << "no scratch folder";
    return v;
  }
  for (size_t i = 0; i < inputs.size(); ++i) {
    if (!writeFile(dir.path() + "/in", inputs[i])) {
      ADD_FAILURE() << "cannot write the input";
      return v;
    }
    for (const Tool& t : commandLineEncoders()) {
      std::remove((dir.path() + "/out").c_str());
      std::remove((dir.path() + "/out.zip").c_str());
      const std::string cmd = "cd '" + dir.path() + "' && " + t.command;
      Bytes file, raw;
      const std::string out =
          dir.path() + (t.container >= Tool::kZip ? "/out.zip" : "/out");
      bool ok = std::system(cmd.c_str()) == 0 && readFile(out, &file);
      if (ok && t.container == Tool::kGzip) ok = gzipRaw(file, &raw);
      if (ok && t.container == Tool::kRaw) raw = file;
      uint32_t method = 0;
      if (ok && t.container >= Tool::kZip) {
        ok = zipRaw(file, &method, &raw);
        // An input that does not shrink is stored (method 0) instead.
        if (ok && method == 0 && raw.size() == inputs[i].size()) continue;
        ok = ok && method == (t.container == Tool::kZip ? 8u : 9u);
      }
      if (!ok) {
        ADD_FAILURE() << t.name << " gave no stream (scripts/setup.sh "
                      << "installs the encoders): " << cmd;
        continue;
      }
      (t.container == Tool::kZip64 ? deflate64 : &v)
          ->push_back({t.name, i, raw});
    }
  }
  return v;
}

// Every encoder's stream of every input decodes to the input, and zlib
// takes it too. Then each stream of the text input, with single bits
// flipped (most in the first bytes, where the block headers are), must be
// taken or refused as zlib's inflate does, and decode to the same bytes
// when taken.
TEST(InflateAcceptanceTest, StreamsFromEveryEncoderAndTheirFlips) {
  const std::vector<std::string> inputs = encoderInputs();
  std::vector<Encoded> d64;
  const std::vector<Encoded> streams = encodeEverywhere(inputs, &d64);
  ASSERT_GT(streams.size(), 400u);
  for (const Encoded& e : streams) {
    SCOPED_TRACE(e.encoder + ", input " + std::to_string(e.input));
    std::string ours, theirs;
    EXPECT_TRUE(oursAccepts(e.raw, false, &ours));
    EXPECT_TRUE(ours == inputs[e.input]);
    EXPECT_TRUE(zlibAccepts(e.raw, &theirs));
  }
  ASSERT_GE(d64.size(), 3u);  // the inputs that shrink
  for (const Encoded& e : d64) {
    SCOPED_TRACE(e.encoder + ", input " + std::to_string(e.input));
    std::string ours;
    EXPECT_TRUE(oursAccepts(e.raw, true, &ours));
    EXPECT_TRUE(ours == inputs[e.input]);
  }

  std::mt19937 rng(7);
  int taken = 0, refused = 0;
  for (const Encoded& e : streams) {
    if (e.input != 2) continue;
    for (int flip = 0; flip < 60; ++flip) {
      Bytes in = e.raw;
      const size_t head = std::min<size_t>(in.size(), 64);
      const size_t at = flip < 40 ? rng() % head : rng() % in.size();
      in[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
      std::string ours, theirs;
      const bool oursTakes = oursAccepts(in, false, &ours);
      const bool zlibTakes = zlibAccepts(in, &theirs);
      EXPECT_EQ(oursTakes, zlibTakes)
          << e.encoder << ": bit " << (at * 8) << "+ flipped";
      if (oursTakes && zlibTakes) {
        EXPECT_TRUE(ours == theirs) << e.encoder << ": byte " << at;
      }
      (zlibTakes ? taken : refused)++;
    }
  }
  // The flips must have made both kinds, or the comparison proves little.
  EXPECT_GT(taken, 100);
  EXPECT_GT(refused, 100);
}

#endif  // !defined(_WIN32)

}  // namespace
}  // namespace sfx
