// Acceptance: the inflater takes exactly the streams zlib's inflate takes,
// decodes what zlib and other encoders write, split anywhere.
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
namespace {

using namespace inflate_test;

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
