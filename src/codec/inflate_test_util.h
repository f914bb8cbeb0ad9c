// Test helpers for the inflater: a bit writer and a small Deflate block
// encoder that writes hand-chosen blocks (stored, fixed, dynamic with any
// code lengths, Deflate64 lengths and distances), including invalid ones,
// and the decoders run over whole inputs and inputs in pieces
// (inflate_test_util.cpp, in the codec test-support library).
#ifndef SFX_CODEC_INFLATE_TEST_UTIL_H_
#define SFX_CODEC_INFLATE_TEST_UTIL_H_

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "codec/inflate.h"
#include "log/log_test_util.h"
#include "stream/output.h"

namespace sfx {

// Name WholeInflate values and inflateWhole's loops in test messages.
void PrintTo(WholeInflate v, std::ostream* os);
void PrintTo(WholeLoop loop, std::ostream* os);

namespace inflate_test {

using Bytes = std::vector<uint8_t>;
using CaptureLog = log_test::CapturingLog;

// Writes bits least significant first, as Deflate packs them.
class BitWriter {
 public:
  void put(uint32_t value, int bits) {
    for (int i = 0; i < bits; ++i) {
      if (used_ == 0) bytes_.push_back(0);
      if ((value >> i) & 1) bytes_.back() |= static_cast<uint8_t>(1u << used_);
      used_ = (used_ + 1) & 7;
    }
  }
  // A Huffman code: its bits go out most significant first.
  void putCode(uint32_t code, int length) {
    for (int i = length - 1; i >= 0; --i) put((code >> i) & 1, 1);
  }
  void alignToByte() { used_ = 0; }
  void putByte(uint8_t b) {
    alignToByte();
    bytes_.push_back(b);
  }
  void putBytes(const std::string& s) {
    for (unsigned char c : s) putByte(c);
  }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  int used_ = 0;  // bits used in the last byte; 0 = start a new byte
};

// The canonical codes (RFC 1951, 3.2.2) of a list of code lengths.
inline std::vector<uint32_t> canonicalCodes(
    const std::vector<uint8_t>& lengths) {
  uint32_t perLength[16] = {};
  for (uint8_t l : lengths) ++perLength[l];
  perLength[0] = 0;
  uint32_t next[16] = {};
  uint32_t code = 0;
  for (int len = 1; len < 16; ++len) {
    code = (code + perLength[len - 1]) << 1;
    next[len] = code;
  }
  std::vector<uint32_t> codes(lengths.size());
  for (size_t i = 0; i < lengths.size(); ++i)
    if (lengths[i]) codes[i] = next[lengths[i]]++;
  return codes;
}

inline std::vector<uint8_t> fixedLiteralLengths() {
  std::vector<uint8_t> l(288);
  for (int i = 0; i < 288; ++i)
    l[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
  return l;
}

// A complete literal/length code over symbols 0 .. 285: literals 9 bits,
// 256 .. 283 six bits, 284 and 285 five bits (1/2 + 28/64 + 2/32 = 1).
inline std::vector<uint8_t> dynamicLiteralLengths() {
  std::vector<uint8_t> l(286, 9);
  for (int i = 256; i < 284; ++i) l[i] = 6;
  l[284] = l[285] = 5;
  return l;
}

// A complete distance code over symbols 0 .. 29: 28 five-bit codes and two
// four-bit ones.
inline std::vector<uint8_t> dynamicDistanceLengths() {
  std::vector<uint8_t> l(30, 5);
  l[0] = l[1] = 4;
  return l;
}

// One step of a code-length sequence: a symbol 0 .. 18 and, for 16 .. 18,
// its extra-bit value.
struct LengthOp {
  int symbol;
  uint32_t extra;
};

// The code-length code used by writeDynamicHeader: every symbol present,
// complete (13 four-bit codes and 6 five-bit ones: 13/16 + 6/32 = 1).
inline std::vector<uint8_t> codeLengthCodeLengths() {
  std::vector<uint8_t> l(19, 4);
  for (int s : {1, 2, 3, 14, 15, 13}) l[s] = 5;
  return l;
}

// Encodes one block's symbols with given literal/length and distance codes.
class BlockWriter {
 public:
  BlockWriter(BitWriter& w, std::vector<uint8_t> litLengths,
              std::vector<uint8_t> distLengths, bool deflate64 = false)
      : w_(w),
        litLengths_(std::move(litLengths)),
        distLengths_(std::move(distLengths)),
        litCodes_(canonicalCodes(litLengths_)),
        distCodes_(canonicalCodes(distLengths_)),
        deflate64_(deflate64) {}

  // A fixed block: writes the header and returns a writer for its symbols.
  static BlockWriter fixed(BitWriter& w, bool final, bool deflate64 = false) {
    w.put(final ? 1 : 0, 1);
    w.put(1, 2);
    return BlockWriter(w, fixedLiteralLengths(), std::vector<uint8_t>(32, 5),
                       deflate64);
  }

  // A dynamic block: writes the header with `ops` as the code-length
  // sequence (HLIT and HDIST as given) and returns a writer that encodes
  // with `lit` and `dist`.
  static BlockWriter dynamicWithOps(
      BitWriter& w, bool final, int hlit, int hdist,
      const std::vector<LengthOp>& ops, std::vector<uint8_t> lit,
      std::vector<uint8_t> dist,
      std::vector<uint8_t> clLengths = codeLengthCodeLengths(),
      bool deflate64 = false) {
    static const int kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                   11, 4,  12, 3, 13, 2, 14, 1, 15};
    w.put(final ? 1 : 0, 1);
    w.put(2, 2);
    w.put(static_cast<uint32_t>(hlit - 257), 5);
    w.put(static_cast<uint32_t>(hdist - 1), 5);
    int hclen = 19;
    while (hclen > 4 && clLengths[kOrder[hclen - 1]] == 0) --hclen;
    w.put(static_cast<uint32_t>(hclen - 4), 4);
    for (int i = 0; i < hclen; ++i) w.put(clLengths[kOrder[i]], 3);
    std::vector<uint32_t> clCodes = canonicalCodes(clLengths);
    for (const LengthOp& op : ops) {
      w.putCode(clCodes[op.symbol], clLengths[op.symbol]);
      if (op.symbol == 16) w.put(op.extra, 2);
      if (op.symbol == 17) w.put(op.extra, 3);
      if (op.symbol == 18) w.put(op.extra, 7);
    }
    return BlockWriter(w, std::move(lit), std::move(dist), deflate64);
  }

  // A dynamic block whose code lengths are sent one symbol each.
  static BlockWriter dynamic(BitWriter& w, bool final, std::vector<uint8_t> lit,
                             std::vector<uint8_t> dist,
                             bool deflate64 = false) {
    std::vector<LengthOp> ops;
    for (uint8_t l : lit) ops.push_back({l, 0});
    for (uint8_t l : dist) ops.push_back({l, 0});
    int hlit = static_cast<int>(lit.size());
    int hdist = static_cast<int>(dist.size());
    return dynamicWithOps(w, final, hlit, hdist, ops, std::move(lit),
                          std::move(dist), codeLengthCodeLengths(), deflate64);
  }

  void symbol(int s) { w_.putCode(litCodes_[s], litLengths_[s]); }
  void literal(uint8_t b) { symbol(b); }
  void literals(const std::string& s) {
    for (unsigned char c : s) literal(c);
  }
  void distanceSymbol(int s) { w_.putCode(distCodes_[s], distLengths_[s]); }
  void end() { symbol(256); }
  // Bits as they are, for codes the block's code does not have.
  void raw(uint32_t value, int bits) { w_.put(value, bits); }

  // A back-reference; lengths above 258 need Deflate64.
  void match(uint32_t length, uint32_t distance) {
    static const uint16_t kLenBase[29] = {
        3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
        31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const uint8_t kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1,
                                          1, 1, 2, 2, 2, 2, 3, 3, 3, 3,
                                          4, 4, 4, 4, 5, 5, 5, 5, 0};
    if (deflate64_ && length >= 258) {
      symbol(285);
      w_.put(length - 3, 16);
    } else {
      int i = 27;
      if (length == 258)
        i = 28;
      else
        while (kLenBase[i] > length) --i;
      symbol(257 + i);
      w_.put(length - kLenBase[i], kLenExtra[i]);
    }
    int d = 0;
    uint32_t base = 1;
    for (int s = 0; s < 32; ++s) {
      uint32_t extra = s < 4 ? 0 : static_cast<uint32_t>(s / 2 - 1);
      uint32_t b =
          s < 4 ? static_cast<uint32_t>(s + 1) : ((2u + (s & 1)) << extra) + 1;
      if (b <= distance) {
        d = s;
        base = b;
      }
    }
    distanceSymbol(d);
    uint32_t extra = d < 4 ? 0 : static_cast<uint32_t>(d / 2 - 1);
    w_.put(distance - base, static_cast<int>(extra));
  }

 private:
  BitWriter& w_;
  std::vector<uint8_t> litLengths_;
  std::vector<uint8_t> distLengths_;
  std::vector<uint32_t> litCodes_;
  std::vector<uint32_t> distCodes_;
  bool deflate64_;
};

// A stored block with `data` (at most 65535 bytes).
inline void storedBlock(BitWriter& w, bool final, const std::string& data) {
  w.put(final ? 1 : 0, 1);
  w.put(0, 2);
  w.alignToByte();
  uint32_t len = static_cast<uint32_t>(data.size());
  w.putByte(static_cast<uint8_t>(len));
  w.putByte(static_cast<uint8_t>(len >> 8));
  w.putByte(static_cast<uint8_t>(~len));
  w.putByte(static_cast<uint8_t>(~len >> 8));
  w.putBytes(data);
}

// ---- Running the decoders ---------------------------------------------------

// The logged decodeErrNum, or 0.
int decodeErrNum(const CaptureLog& log);

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

std::string str(const Bytes& b);

struct WholeResult {
  WholeInflate verdict;
  std::string out;  // with kDone
};

// inflateWhole's loops that run here: the portable one, and the BMI2 one
// where the processor has it.
std::vector<WholeLoop> wholeLoops();

// inflateWhole with `loop` over a copy of `in` in a buffer of exactly its
// size, into one of `capacity` + kWholeOutputSlack bytes, so that ASan sees
// any access beyond either.
WholeResult inflateWholeInto(const Bytes& in, uint32_t capacity,
                             WholeLoop loop);

// The streaming decoder over the whole of `in`: whether it reaches the end
// of the final block without an error, and what it passed on.
bool streamingTakes(const Bytes& in, std::string* out);

// inflateWhole, with each of its loops, agrees with the streaming decoder
// on `in` (raw, 32 KB window). A stream the streaming decoder takes gives the
// same bytes with exactly their count as the capacity and with more, and is
// kTooLarge with one byte less; a stream it refuses is kBadData with room for
// all it decoded (it holds back at most one window on an error) and more.
void expectWholeAgrees(const Bytes& in);

// `deflated` in the zlib wrapper, with the Adler-32 of `plain`.
Bytes zlibWrap(const Bytes& deflated, const std::string& plain);

struct Result {
  bool ok;
  std::string out;
  int errNum;
};

// The whole input through inflateFromMemory.
// Raw streams with the 32 KB window go through inflateWhole too, which must
// agree with the streaming decoder.
Result inflateAll(const Bytes& in, bool zlib = false, bool deflate64 = false);

// The input in pieces, each through inflateSource from a MemoryDataSource of
// its own; `cuts` are the offsets where a piece ends.
Result inflatePieces(const Bytes& in, const std::vector<size_t>& cuts,
                     bool zlib = false, bool deflate64 = false);

// Every stream in two pieces at every byte boundary, and one byte at a
// time straight into inflateBlock, must decode as the whole does.
void expectSameWhenSplit(const Bytes& in, const std::string& expected,
                         bool zlib = false, bool deflate64 = false);

// ---- Streams ----------------------------------------------------------------

// Hand-built streams over every block type.
struct Built {
  const char* name;
  Bytes in;
  std::string out;
};
std::vector<Built> handBuiltStreams();

// A final fixed block whose symbols `body` writes.
Bytes fixedStream(void (*body)(BlockWriter&), bool deflate64 = false);

// A final dynamic block with the codes `lit` and `dist`, whose symbols
// `body` writes.
Bytes dynamicStream(std::vector<uint8_t> lit, std::vector<uint8_t> dist,
                    void (*body)(BlockWriter&) = nullptr);

// A dynamic block of HLIT 257 and HDIST 1 with the code-length code `cl`.
Bytes withCodeLengthCode(std::vector<uint8_t> cl);

// A dynamic block of HLIT 257 and HDIST 1 whose code lengths are `ops`.
Bytes withLengthOps(const std::vector<LengthOp>& ops);

}  // namespace inflate_test
}  // namespace sfx

#endif  // SFX_CODEC_INFLATE_TEST_UTIL_H_
