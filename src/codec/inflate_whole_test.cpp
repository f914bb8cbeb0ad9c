// inflateWhole, the whole-buffer decoder, at the edges of its input and
// output buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
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
    for (WholeLoop loop : wholeLoops()) {
      SCOPED_TRACE(::testing::PrintToString(loop));
      for (uint32_t capacity = n; capacity <= n + extra; ++capacity) {
        WholeResult r = inflateWholeInto(c.in, capacity, loop);
        ASSERT_EQ(r.verdict, WholeInflate::kDone) << "capacity " << capacity;
        ASSERT_TRUE(r.out == c.expected) << "capacity " << capacity;
      }
      for (uint32_t less : {1u, 2u, 258u, 259u, 1000u}) {
        if (less > n) continue;
        EXPECT_EQ(inflateWholeInto(c.in, n - less, loop).verdict,
                  WholeInflate::kTooLarge)
            << less << " bytes short";
      }
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
    for (WholeLoop loop : wholeLoops())
      EXPECT_EQ(inflateWholeInto(prefix, 4096, loop).verdict,
                WholeInflate::kBadData)
          << ::testing::PrintToString(loop);
    expectWholeAgrees(prefix);
  }
  for (size_t trailing : {0, 1, 7, 40}) {
    Bytes more = in;
    for (size_t i = 0; i < trailing; ++i)
      more.push_back(static_cast<uint8_t>(rng()));
    for (WholeLoop loop : wholeLoops()) {
      WholeResult r = inflateWholeInto(more, 4096, loop);
      EXPECT_EQ(r.verdict, WholeInflate::kDone)
          << ::testing::PrintToString(loop);
      EXPECT_TRUE(r.out == expected) << ::testing::PrintToString(loop);
    }
  }
}

// inflateWhole takes the BMI2 loop where the processor has it, and the
// portable loop where it does not or where SFX_INFLATE_PORTABLE asks for it
// (CTest runs this test a second time with SFX_INFLATE_PORTABLE=1). Each
// loop decodes the same stream to the same bytes as the one in use.
TEST(InflateWholeTest, TheLoopInUseFollowsTheProcessorAndTheOverride) {
  const char* forced = std::getenv("SFX_INFLATE_PORTABLE");
  const bool portable = forced && *forced && std::strcmp(forced, "0") != 0;
  EXPECT_TRUE(wholeLoopAvailable(WholeLoop::kPortable));
  EXPECT_EQ(wholeLoopInUse(), !portable && wholeLoopAvailable(WholeLoop::kBmi2)
                                  ? WholeLoop::kBmi2
                                  : WholeLoop::kPortable);
  std::mt19937 rng(29);
  BitWriter w;
  std::string expected;
  BlockWriter b = BlockWriter::fixed(w, true);
  symbolsUpTo(b, rng, 5000, &expected);
  b.end();
  const Bytes& in = w.bytes();
  std::string inUse(expected.size() + kWholeOutputSlack, '\0');
  uint32_t produced = 0;
  ASSERT_EQ(inflateWhole(in.data(), static_cast<uint32_t>(in.size()),
                         reinterpret_cast<uint8_t*>(&inUse[0]),
                         static_cast<uint32_t>(expected.size()), &produced),
            WholeInflate::kDone);
  inUse.resize(produced);
  EXPECT_TRUE(inUse == expected);
  // A loop this processor lacks falls back to the portable one.
  for (WholeLoop loop : {WholeLoop::kPortable, WholeLoop::kBmi2}) {
    WholeResult r =
        inflateWholeInto(in, static_cast<uint32_t>(expected.size()), loop);
    EXPECT_EQ(r.verdict, WholeInflate::kDone) << ::testing::PrintToString(loop);
    EXPECT_TRUE(r.out == expected) << ::testing::PrintToString(loop);
  }
}

}  // namespace
}  // namespace sfx
