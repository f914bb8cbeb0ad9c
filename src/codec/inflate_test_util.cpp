// The inflater tests' helpers (inflate_test_util.h): the decoders run over
// whole inputs and inputs in pieces, compared with each other.
#include "codec/inflate_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <ostream>

#include "codec/adler32.h"
#include "log/log_base.h"
#include "stream/data_source.h"
#include "text/data_buffer.h"

namespace sfx {

void PrintTo(WholeInflate v, std::ostream* os) {
  *os << (v == WholeInflate::kDone       ? "kDone"
          : v == WholeInflate::kTooLarge ? "kTooLarge"
                                         : "kBadData");
}

void PrintTo(WholeLoop loop, std::ostream* os) {
  *os << (loop == WholeLoop::kBmi2 ? "the BMI2 loop" : "the portable loop");
}

namespace inflate_test {

int decodeErrNum(const CaptureLog& log) {
  for (const auto& d : log.data)
    if (d.rfind("decodeErrNum=", 0) == 0) return std::stoi(d.substr(13));
  return 0;
}

std::string str(const Bytes& b) { return std::string(b.begin(), b.end()); }

std::vector<WholeLoop> wholeLoops() {
  std::vector<WholeLoop> v = {WholeLoop::kPortable};
  if (wholeLoopAvailable(WholeLoop::kBmi2)) v.push_back(WholeLoop::kBmi2);
  return v;
}

WholeResult inflateWholeInto(const Bytes& in, uint32_t capacity,
                             WholeLoop loop) {
  std::unique_ptr<uint8_t[]> input(new uint8_t[in.size()]);
  if (!in.empty()) std::memcpy(input.get(), in.data(), in.size());
  std::unique_ptr<uint8_t[]> out(
      new uint8_t[size_t{capacity} + kWholeOutputSlack]);
  uint32_t produced = 0;
  WholeResult r{
      inflateWholeWith(loop, input.get(), static_cast<uint32_t>(in.size()),
                       out.get(), capacity, &produced),
      {}};
  if (r.verdict == WholeInflate::kDone) {
    EXPECT_LE(produced, capacity);
    r.out.assign(reinterpret_cast<const char*>(out.get()),
                 std::min(produced, capacity));
  }
  return r;
}

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

void expectWholeAgrees(const Bytes& in) {
  std::string streamed;
  const bool taken = streamingTakes(in, &streamed);
  const uint32_t n = static_cast<uint32_t>(streamed.size());
  for (WholeLoop loop : wholeLoops()) {
    SCOPED_TRACE(::testing::PrintToString(loop));
    if (!taken) {
      EXPECT_EQ(inflateWholeInto(in, n + 2 * 65536, loop).verdict,
                WholeInflate::kBadData);
      continue;
    }
    for (uint32_t capacity : {n, n + 1000}) {
      WholeResult r = inflateWholeInto(in, capacity, loop);
      EXPECT_EQ(r.verdict, WholeInflate::kDone) << "capacity " << capacity;
      EXPECT_TRUE(r.out == streamed) << "capacity " << capacity;
    }
    if (n > 0) {
      EXPECT_EQ(inflateWholeInto(in, n - 1, loop).verdict,
                WholeInflate::kTooLarge);
    }
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

Result inflateAll(const Bytes& in, bool zlib, bool deflate64) {
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

Result inflatePieces(const Bytes& in, const std::vector<size_t>& cuts,
                     bool zlib, bool deflate64) {
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

void expectSameWhenSplit(const Bytes& in, const std::string& expected,
                         bool zlib, bool deflate64) {
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

Bytes fixedStream(void (*body)(BlockWriter&), bool deflate64) {
  BitWriter w;
  BlockWriter b = BlockWriter::fixed(w, true, deflate64);
  body(b);
  return w.bytes();
}

Bytes dynamicStream(std::vector<uint8_t> lit, std::vector<uint8_t> dist,
                    void (*body)(BlockWriter&)) {
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

Bytes withLengthOps(const std::vector<LengthOp>& ops) {
  BitWriter w;
  BlockWriter::dynamicWithOps(w, true, 257, 1, ops, {}, {});
  w.put(0, 32);
  return w.bytes();
}

}  // namespace inflate_test
}  // namespace sfx
