// The inflater's refusals: every decode error with its number, output
// failures, hostile input, and errors deep inside long blocks.
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

// ---- Decode errors ----------------------------------------------------------

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

}  // namespace
}  // namespace sfx
