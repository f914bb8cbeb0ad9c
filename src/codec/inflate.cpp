// The resumable Deflate decoder: decode tables, the block state machine,
// the read loop over a DataSource and the zlib wrapper check.
#include "codec/inflate.h"

#include <cstddef>
#include <cstring>
#include <new>

#include "codec/inflate_internal.h"
#include "log/log_base.h"
#include "stream/data_source.h"
#include "stream/output.h"
#include "stream/progress_monitor.h"
#include "text/data_buffer.h"

namespace sfx {
using namespace inflate_internal;
namespace {

constexpr int kRootWidthCap = 9;
constexpr int kSubWidthCap = 7;
constexpr uint32_t kRootMask = (1u << kRootWidthCap) - 1;

// One row of the length or distance table: the symbol, its extra bits, the
// value of its shortest code and its largest value.
struct CodeRow {
  uint16_t code;
  uint8_t extra;
  uint16_t base;
  uint32_t largest;
};

// Length symbols 257 .. 285 (RFC 1951, 3.2.5). Deflate64 replaces the last
// row with kDeflate64Length285.
constexpr CodeRow kLengthRows[29] = {
    {257, 0, 3, 3},     {258, 0, 4, 4},     {259, 0, 5, 5},
    {260, 0, 6, 6},     {261, 0, 7, 7},     {262, 0, 8, 8},
    {263, 0, 9, 9},     {264, 0, 10, 10},   {265, 1, 11, 12},
    {266, 1, 13, 14},   {267, 1, 15, 16},   {268, 1, 17, 18},
    {269, 2, 19, 22},   {270, 2, 23, 26},   {271, 2, 27, 30},
    {272, 2, 31, 34},   {273, 3, 35, 42},   {274, 3, 43, 50},
    {275, 3, 51, 58},   {276, 3, 59, 66},   {277, 4, 67, 82},
    {278, 4, 83, 98},   {279, 4, 99, 114},  {280, 4, 115, 130},
    {281, 5, 131, 162}, {282, 5, 163, 194}, {283, 5, 195, 226},
    {284, 5, 227, 257}, {285, 0, 258, 258},
};
// 3 + (2^16 - 1) = 65538.
constexpr CodeRow kDeflate64Length285 = {285, 16, 3, 65538};

// Distance symbols 0 .. 29 (RFC 1951, 3.2.5) and the Deflate64 rows 30, 31,
// whose largest value 49153 + 2^14 - 1 = 65536 is the 64 KB window.
constexpr CodeRow kDistanceRows[32] = {
    {0, 0, 1, 1},           {1, 0, 2, 2},           {2, 0, 3, 3},
    {3, 0, 4, 4},           {4, 1, 5, 6},           {5, 1, 7, 8},
    {6, 2, 9, 12},          {7, 2, 13, 16},         {8, 3, 17, 24},
    {9, 3, 25, 32},         {10, 4, 33, 48},        {11, 4, 49, 64},
    {12, 5, 65, 96},        {13, 5, 97, 128},       {14, 6, 129, 192},
    {15, 6, 193, 256},      {16, 7, 257, 384},      {17, 7, 385, 512},
    {18, 8, 513, 768},      {19, 8, 769, 1024},     {20, 9, 1025, 1536},
    {21, 9, 1537, 2048},    {22, 10, 2049, 3072},   {23, 10, 3073, 4096},
    {24, 11, 4097, 6144},   {25, 11, 6145, 8192},   {26, 12, 8193, 12288},
    {27, 12, 12289, 16384}, {28, 13, 16385, 24576}, {29, 13, 24577, 32768},
    {30, 14, 32769, 49152}, {31, 14, 49153, 65536},
};

// The order in which the code-length code lengths are sent.
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                          11, 4,  12, 3, 13, 2, 14, 1, 15};

// ---- Table construction -----------------------------------------------------

// A code during construction: its bits not yet indexed (first bit lowest),
// how many there are, and its symbol.
struct PendingCode {
  uint16_t bits;
  uint8_t length;
  int16_t symbol;
};

DecodeTable* newTable(int width) {
  DecodeTable* t = new (std::nothrow) DecodeTable;
  if (!t) return nullptr;
  uint32_t n = 1u << width;
  t->entries = new (std::nothrow) DecodeEntry[n];
  if (!t->entries) {
    delete t;
    return nullptr;
  }
  t->mask = n - 1;
  t->width = static_cast<uint8_t>(width);
  for (uint32_t i = 0; i < n; ++i)
    t->entries[i] = {static_cast<uint8_t>(width), -1, nullptr};
  return t;
}

// Builds one level from `n` codes (each at least 1 bit long) whose first
// bits index this level. `cap` limits the width. Null when memory runs out.
DecodeTable* buildLevel(const PendingCode* codes, uint32_t n, int cap) {
  int longest = 0;
  for (uint32_t i = 0; i < n; ++i)
    if (codes[i].length > longest) longest = codes[i].length;
  int width = longest < cap ? longest : cap;
  DecodeTable* t = newTable(width);
  if (!t) return nullptr;

  // A short code fills every entry whose low bits are the code.
  for (uint32_t i = 0; i < n; ++i) {
    const PendingCode& c = codes[i];
    if (c.length > width) continue;
    for (uint32_t idx = c.bits; idx <= t->mask; idx += 1u << c.length)
      t->entries[idx] = {c.length, c.symbol, nullptr};
  }

  // Longer codes that share their first `width` bits go to one sub-table.
  PendingCode group[kMaxSymbols];
  for (uint32_t i = 0; i < n; ++i) {
    if (codes[i].length <= width) continue;
    uint32_t prefix = codes[i].bits & t->mask;
    if (t->entries[prefix].sub) continue;  // its group is built already
    uint32_t m = 0;
    for (uint32_t j = i; j < n; ++j) {
      const PendingCode& c = codes[j];
      if (c.length <= width || (c.bits & t->mask) != prefix) continue;
      group[m++] = {static_cast<uint16_t>(c.bits >> width),
                    static_cast<uint8_t>(c.length - width), c.symbol};
    }
    DecodeTable* sub = buildLevel(group, m, kSubWidthCap);
    if (!sub) {
      freeDecodeTable(t);
      return nullptr;
    }
    t->entries[prefix] = {static_cast<uint8_t>(width), -1, sub};
  }
  return t;
}

uint32_t reverseBits(uint32_t code, int length) {
  uint32_t r = 0;
  for (int i = 0; i < length; ++i) {
    r = (r << 1) | (code & 1);
    code >>= 1;
  }
  return r;
}

// ---- Bits and bytes ---------------------------------------------------------

uint32_t peekBits(const InflateState& s, int n) {
  return n >= 32 ? s.bitAcc : s.bitAcc & ((1u << n) - 1);
}

void dropBits(InflateState& s, int n) {
  s.bitAcc = n >= 32 ? 0 : s.bitAcc >> n;
  s.bitCount -= n;
}

// The window is a ring of two windowSize halves. The bytes after the write
// position are then always more than windowSize old, out of reach of any
// distance, and the fast loop may write past the end of a match. Each half
// is passed on to the output as soon as it is full.
uint32_t ringSize(const InflateState& s) { return 2 * s.windowSize; }

// The write position at which the next half is full.
uint32_t halfEnd(const InflateState& s, uint32_t writePos) {
  return writePos < s.windowSize ? s.windowSize : ringSize(s);
}

// Stores one decoded byte in the window and passes the half on to the
// output when it is full. False when that write fails.
bool putByte(InflateState& s, uint8_t b, Output& out, ProgressMonitor* pm,
             LogBase& log) {
  s.window[s.writePos++] = b;
  ++s.totalOut;
  const uint32_t wp = static_cast<uint32_t>(s.writePos);
  if (wp != s.windowSize && wp != ringSize(s)) return true;
  bool ok = out.writeBytesPM(s.window + s.flushPos,
                             wp - static_cast<uint32_t>(s.flushPos), pm, log);
  if (wp == ringSize(s)) {
    s.writePos = 0;
    s.flushPos = 0;
  } else {
    s.flushPos = s.writePos;
  }
  return ok;
}

// After the end of a block: the next block header, the zlib trailer, or the
// end of the stream.
void endBlock(InflateState& s) {
  s.mode = kBlockHeader;
  if (!s.finalBlock) return;
  if (s.zlibSeen)
    s.mode = kZlibTrailer;
  else
    s.finished = true;
}

// ---- Packed tables ---------------------------------------------------------
//
// Every packed sub-table has 64 entries, the most the 15 - 9 bits after the
// root can index, so that the loops index it with a fixed mask; a narrower
// one repeats its entries. A sub-table holds at least two codes (its part
// of the code is complete), so 288 literal/length codes need at most 512 +
// 144 x 64 entries and 32 distance codes 512 + 16 x 64.
constexpr uint32_t kSubWidth = kMaxCodeLength - kRootWidthCap;
constexpr uint32_t kSubMask = (1u << kSubWidth) - 1;
constexpr uint32_t kLiteralEntries = packedTableEntries(kRootWidthCap, 288);
constexpr uint32_t kDistanceEntries = packedTableEntries(kRootWidthCap, 32);
static_assert(kLiteralEntries == 512 + 144 * 64 &&
                  kDistanceEntries == 512 + 16 * 64,
              "the bounds given above");
constexpr uint32_t kTableEntries = kLiteralEntries + kDistanceEntries;

// The entry of `symbol` with a code of `length` bits.
uint32_t packSymbol(TableKind kind, bool deflate64, uint32_t symbol,
                    uint32_t length) {
  if (kind == TableKind::kLiteralLength) {
    if (symbol < 256) return packEntry(length, kPackedValue, 0, symbol);
    if (symbol == 256)
      return packEntry(length, kPackedOther, 0, kOtherEndOfBlock);
    if (symbol > 285)
      return packEntry(length, kPackedOther, 0, kOtherBadSymbol);
    const CodeRow& row = deflate64 && symbol == 285 ? kDeflate64Length285
                                                    : kLengthRows[symbol - 257];
    return packEntry(length + row.extra, 0, length, row.base);
  }
  if (symbol >= 30 && !deflate64)
    return packEntry(length, kPackedOther, 0, kOtherBadSymbol);
  const CodeRow& row = kDistanceRows[symbol];
  return packEntry(length + row.extra, kPackedValue, length, row.base);
}

}  // namespace

bool inflate_internal::checkCodeLengths(const uint8_t* lengths, uint32_t count,
                                        CodeShape shape, uint32_t* perLength) {
  for (int len = 0; len <= kMaxCodeLength; ++len) perLength[len] = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (lengths[i] > kMaxCodeLength) return false;
    ++perLength[lengths[i]];
  }
  // Kraft sum: `left` is the number of unused codes of the current length.
  int32_t left = 1;
  for (int len = 1; len <= kMaxCodeLength; ++len) {
    left = left * 2 - static_cast<int32_t>(perLength[len]);
    if (left < 0) return false;  // over-subscribed
  }
  if (left == 0) return true;
  const uint32_t used = count - perLength[0];
  if (shape == CodeShape::kComplete) return false;
  return (used == 1 && perLength[1] == 1) ||
         (used == 0 && shape == CodeShape::kDistance);
}

bool inflate_internal::buildPackedTable(const uint8_t* lengths, uint32_t count,
                                        CodeShape shape, TableKind kind,
                                        bool deflate64, int rootWidth,
                                        uint32_t* tables, uint32_t at,
                                        uint32_t capacity) {
  uint32_t perLength[kMaxCodeLength + 1];
  if (count > kMaxSymbols ||
      !checkCodeLengths(lengths, count, shape, perLength))
    return false;
  int longest = kMaxCodeLength;
  while (longest > 0 && perLength[longest] == 0) --longest;
  if (rootWidth < 1 || rootWidth > kMaxPackedRootWidth) return false;
  const int width = longest < rootWidth ? longest : rootWidth;
  const uint32_t rootSize = 1u << rootWidth;
  const uint32_t subWidth = static_cast<uint32_t>(kMaxCodeLength - rootWidth);
  const uint32_t subMask = (1u << subWidth) - 1;
  uint32_t* const dst = tables + at;

  // Symbols in canonical order (by length, then by symbol).
  uint16_t offset[kMaxCodeLength + 2];
  offset[1] = 0;
  for (int len = 1; len <= kMaxCodeLength; ++len)
    offset[len + 1] = static_cast<uint16_t>(offset[len] + perLength[len]);
  uint16_t sorted[kMaxSymbols];
  for (uint32_t sym = 0; sym < count; ++sym)
    if (lengths[sym])
      sorted[offset[lengths[sym]]++] = static_cast<uint16_t>(sym);
  const uint32_t used = count - perLength[0];

  // The codes, bit-reversed (first bit lowest), in canonical order. The
  // next code adds one at bit len - 1 of the reversed value; a longer next
  // code keeps that value, as the zeros appended after its last bit are
  // high bits here. Codes longer than the root that share its bits follow
  // one another, the longest last, so the last one sets the width of their
  // sub-table.
  uint16_t codes[kMaxSymbols];
  uint8_t subLength[1u << kMaxPackedRootWidth];
  if (longest > width) std::memset(subLength, 0, rootSize);
  uint32_t code = 0;
  for (uint32_t i = 0; i < used; ++i) {
    const int len = lengths[sorted[i]];
    codes[i] = static_cast<uint16_t>(code);
    if (len > width)
      subLength[code & (rootSize - 1)] = static_cast<uint8_t>(len);
    uint32_t bit = 1u << (len - 1);
    while (code & bit) bit >>= 1;
    code = bit ? (code & (bit - 1)) + bit : 0;
  }

  // A complete code fills every entry of every level; only an incomplete
  // one leaves entries no code reaches.
  uint32_t kraft = 0;
  for (int len = 1; len <= kMaxCodeLength; ++len)
    kraft += perLength[len] << (kMaxCodeLength - len);
  const bool complete = kraft == 1u << kMaxCodeLength;
  if (!complete) {
    const uint32_t noCode =
        packEntry(static_cast<uint32_t>(width), kPackedOther, 0, kOtherNoCode);
    for (uint32_t i = 0; i < rootSize; ++i) dst[i] = noCode;
  }
  // The codes that fit the root, shortest first: the entries of the codes
  // of up to `len` bits repeat every 2^len entries, so the first 2^len are
  // doubled before the codes of `len` bits go in. An entry doubled before
  // any code reached it is overwritten later, by a longer code or a
  // sub-table pointer, unless the code is incomplete, whose unused entries
  // hold noCode from the start.
  uint32_t filled = 1;
  uint32_t i = 0;
  for (uint32_t len = 1; len <= static_cast<uint32_t>(width); ++len) {
    for (; filled < 1u << len; filled *= 2)
      std::memcpy(dst + filled, dst, filled * sizeof *dst);
    for (; i < used && lengths[sorted[i]] == len; ++i)
      dst[codes[i]] = packSymbol(kind, deflate64, sorted[i], len);
  }
  for (; filled < rootSize; filled *= 2)
    std::memcpy(dst + filled, dst, filled * sizeof *dst);

  uint32_t next = rootSize;       // where the next sub-table goes
  uint32_t subPrefix = rootSize;  // the root entry of the last sub-table
  uint32_t* sub = nullptr;
  for (; i < used; ++i) {
    const uint32_t sym = sorted[i];
    const uint32_t len = lengths[sym];
    const uint32_t entry = packSymbol(kind, deflate64, sym, len);
    // The codes that share a root entry follow one another.
    const uint32_t prefix = codes[i] & (rootSize - 1);
    if (prefix != subPrefix) {
      if (next + subMask + 1 > capacity) return false;
      const uint32_t subAt = at + next;
      if (!complete) {
        const uint32_t subNoCode =
            packEntry(subLength[prefix], kPackedOther, 0, kOtherNoCode);
        for (uint32_t j = 0; j <= subMask; ++j) dst[next + j] = subNoCode;
      }
      dst[prefix] =
          packEntry(static_cast<uint32_t>(width), kPackedSub, subWidth, subAt);
      subPrefix = prefix;
      sub = dst + next;
      next += subMask + 1;
    }
    for (uint32_t idx = static_cast<uint32_t>(codes[i]) >> width;
         idx <= subMask; idx += 1u << (len - static_cast<uint32_t>(width)))
      sub[idx] = entry;
  }
  return true;
}

namespace {

// The code length of a leaf entry, without extra bits.
inline int codeLength(uint32_t e) {
  const uint32_t alone = e >> 8 & 31;
  return static_cast<int>(alone ? alone : e & 31);
}

// The number of extra bits of a length or distance entry.
inline int extraBits(uint32_t e) {
  return static_cast<int>(e & 31) - codeLength(e);
}

// The entry of the code in the low `bitCount` bits of `acc` (bits above
// them are 0), or 0 when those bits are a proper prefix of a longer code or
// too few to tell. An entry no code reaches is returned once all the bits
// of its level are in.
inline uint32_t lookupPacked(const uint32_t* tables, uint32_t at, uint32_t acc,
                             int32_t bitCount) {
  uint32_t e = tables[at + (acc & kRootMask)];
  if (e & kPackedSubBit)
    e = tables[(e >> 16) + ((acc >> kRootWidthCap) & kSubMask)];
  return codeLength(e) > bitCount ? 0 : e;
}

// Builds the tables of the fixed code (RFC 1951, 3.2.6).
void loadFixedTables(InflateState& s) {
  uint8_t lengths[288];
  for (int i = 0; i < 288; ++i)
    lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
  buildPackedTable(lengths, 288, CodeShape::kComplete,
                   TableKind::kLiteralLength, s.deflate64, kRootWidthCap,
                   s.tables, 0, kLiteralEntries);
  std::memset(lengths, 5, 32);
  buildPackedTable(lengths, 32, CodeShape::kComplete, TableKind::kDistance,
                   s.deflate64, kRootWidthCap, s.tables, kLiteralEntries,
                   kDistanceEntries);
  s.fixedTables = true;
}

// ---- The fast loop ----------------------------------------------------------

// Bytes allocated after the window's end for the fast loop's writes.
constexpr uint32_t kWindowSlack = 258 + 16 + 14;

// The bit buffer of the fast loop: a machine word. SFX_INFLATE_BITBUF32
// forces the 32-bit buffer of a 32-bit target, so that a 64-bit test build
// runs the same code as the i686 stub.
#if UINTPTR_MAX > 0xFFFFFFFFu && !defined(SFX_INFLATE_BITBUF32)
using BitBuf = uint64_t;
#else
using BitBuf = uint32_t;
#endif
constexpr int kBitBufBits = static_cast<int>(sizeof(BitBuf) * 8);
// A refill leaves at least this many bits in the buffer (24 or 56), more
// than the longest code (15) or extra-bits field (16) the loop asks for.
constexpr int kRefillFloor = kBitBufBits - 8;
// A shift by `entry & kShiftMask` is a shift by the entry's code length
// (bits 5-7 are zero), and the mask is the one the machine applies anyway.
constexpr uint32_t kShiftMask = kBitBufBits - 1;

// The value of a length or distance entry `e` whose code and extra bits are
// at the bottom of `bits`: its base plus the extra bits.
inline uint32_t entryValue(BitBuf bits, uint32_t e) {
  return (e >> 16) +
         static_cast<uint32_t>((bits & ((BitBuf{1} << (e & 31)) - 1)) >>
                               (e >> 8 & 31));
}

inline BitBuf loadWord(const uint8_t* p) {
  BitBuf v;
  std::memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  BitBuf r = 0;
  for (size_t i = 0; i < sizeof v; ++i) r |= static_cast<BitBuf>(p[i]) << 8 * i;
  v = r;
#endif
  return v;
}

inline void copy8(uint8_t* dst, const uint8_t* src) {
  uint64_t v;
  std::memcpy(&v, src, 8);
  std::memcpy(dst, &v, 8);
}

inline void copy16(uint8_t* dst, const uint8_t* src) {
  uint8_t v[16];
  std::memcpy(v, src, 16);
  std::memcpy(dst, v, 16);
}

// Copies a match of `length` (at least 3) bytes from `distance` back to
// `dst`, where the source lies wholly before `dst` in the same buffer. Up to
// 15 bytes after the match may be written too.
inline void copyMatch(uint8_t* dst, uint32_t length, uint32_t distance) {
  const uint8_t* src = dst - distance;
  uint8_t* const end = dst + length;
  if (distance >= 16) {
    // Each load reads only bytes already final.
    do {
      copy16(dst, src);
      dst += 16;
      src += 16;
    } while (dst < end);
  } else if (distance >= 8) {
    do {
      copy8(dst, src);
      dst += 8;
      src += 8;
    } while (dst < end);
  } else if (distance == 1) {
    uint64_t v = src[0] * UINT64_C(0x0101010101010101);
    do {
      std::memcpy(dst, &v, 8);
      dst += 8;
    } while (dst < end);
  } else {
    // The pattern of `distance` bytes repeated over 8 bytes; a step of the
    // largest multiple of `distance` up to 8 keeps it in phase.
    uint8_t pattern[8];
    for (uint32_t i = 0; i < 8; ++i) pattern[i] = src[i % distance];
    const uint32_t step = 8 - 8 % distance;
    do {
      std::memcpy(dst, pattern, 8);
      dst += step;
    } while (dst < end);
  }
}

// Where the fast loop writes after passOnHalf, and whether the output took
// the half.
struct HalfPassed {
  uint32_t wp;
  uint32_t limit;
  bool ok;
};

// Passes the full half that ends at `limit` on from flushPos. After the
// second half, moves the bytes the fast loop wrote beyond the ring's end to
// its start, takes the ring's size off `wp` and adds it to s.totalOut
// (which holds totalOut - wp while the fast loop runs). Returns the new
// write position and the end of the next half; ok is false when the
// output fails. Taken by value, so that the loop keeps its variables in
// registers.
[[gnu::noinline]] HalfPassed passOnHalf(InflateState& s, uint32_t wp,
                                        uint32_t limit, Output& out,
                                        ProgressMonitor* pm, LogBase& log) {
  const uint32_t ring = ringSize(s);
  bool ok =
      out.writeBytesPM(s.window + s.flushPos,
                       limit - static_cast<uint32_t>(s.flushPos), pm, log);
  if (limit == ring) {
    std::memcpy(s.window, s.window + ring, wp - ring);
    s.totalOut += ring;
    s.flushPos = 0;
    return {wp - ring, s.windowSize, ok};
  }
  s.flushPos = static_cast<int32_t>(limit);
  return {wp, ring, ok};
}

// Entry assumptions of the fast loop, checked in its loop condition:
// - at least kFastInputMargin input bytes are left. One iteration takes at
//   most 15 + 16 + 15 + 14 = 60 bits (or three literals of 15) and looks up
//   the next code, so the buffer moves at most (60 + 63) / 8 < 16 bytes
//   ahead of where the iteration began, and a refill reads sizeof(BitBuf)
//   <= 8 bytes from there: 24 bytes suffice.
// - the write position is before the end of the current half. The ring
//   has kWindowSlack bytes after its end, where three literals or a match
//   of at most 258 bytes, plus the 15 bytes a chunked copy writes past its
//   end, land without a check. After each symbol a full half is passed on
//   and the bytes beyond the ring's end move to its start. Longer Deflate64
//   matches go through the careful per-byte copy.
constexpr uint32_t kFastInputMargin = 32;

// Decodes literals and matches while both margins hold. Leaves the state
// consistent at every exit: the bits it holds go back into bitAcc (at most
// 32; whole bytes beyond that are given back to the input), and a symbol
// the packed tables mark as an error is left undecoded for the careful
// loop. A length whose distance code is an error is stored with mode
// kDistance. Returns 0 or an InflateError.
[[gnu::noinline]] int32_t fastLoop(InflateState& s, const uint8_t* in,
                                   uint32_t count, uint32_t* posInOut,
                                   Output& out, ProgressMonitor* pm,
                                   LogBase& log) {
  const uint32_t* const tab = s.tables;
  uint8_t* const win = s.window;
  // Where the next byte goes and the end of the current half. While the
  // loop runs, s.totalOut holds totalOut minus the write position: it is 0
  // until the ring wraps, and until then a distance may not reach before
  // the ring's start (after that every distance the tables give is in
  // reach).
  uint8_t* op = win + s.writePos;
  uint8_t* opLimit = win + halfEnd(s, static_cast<uint32_t>(s.writePos));
  s.totalOut -= static_cast<uint32_t>(s.writePos);
  const uint8_t* ip = in + *posInOut;
  const uint8_t* const ipLimit = in + count - kFastInputMargin;
  BitBuf buf = s.bitAcc;
  int bits = s.bitCount;
  int32_t err = 0;

  // Tops the buffer up with whole bytes to 24 .. 31 or 56 .. 63 bits
  // (nothing moves when it holds that many already: bits | floor == bits).
  // Bits above `bits` are the start of the next byte, read again at the
  // same place by the next refill. Valid for bits < kBitBufBits: always
  // with the 64-bit buffer (at most 32 bits come in from the state), so
  // the lookups refill without a branch there; the 32-bit buffer may
  // start full and refills only below 15 bits.
#define SFX_REFILL()                                          \
  do {                                                        \
    buf |= loadWord(ip) << bits;                              \
    ip += static_cast<uint32_t>(kBitBufBits - 1 - bits) >> 3; \
    bits |= kRefillFloor;                                     \
  } while (0)
#define SFX_ENSURE(n)             \
  do {                            \
    if (bits < (n)) SFX_REFILL(); \
  } while (0)
  // The entry of the code in the buffer (which holds at least 15 bits).
#define SFX_LOOKUP(e, at)                                                \
  do {                                                                   \
    e = tab[(at) + static_cast<uint32_t>(buf & kRootMask)];              \
    if (e & kPackedSubBit)                                               \
      e = tab[(e >> 16) +                                                \
              static_cast<uint32_t>((buf >> kRootWidthCap) & kSubMask)]; \
  } while (0)
  // The entry of the next literal/length code, looked up as soon as its
  // bits are in so that the load overlaps the work on the current symbol.
#define SFX_NEXT_ENTRY()   \
  do {                     \
    if (kBitBufBits == 64) \
      SFX_REFILL();        \
    else                   \
      SFX_ENSURE(15);      \
    SFX_LOOKUP(e, 0);      \
  } while (0)
#define SFX_CONSUME(e)                \
  do {                                \
    buf >>= (e)&kShiftMask;           \
    bits -= static_cast<int>((e)&31); \
  } while (0)
  // The 32-bit buffer takes a length's or distance's code, then `need` bits
  // for its extra bits, then the extra bits, and stores the value in `v`.
#define SFX_TAKE_SPLIT(e, need, v)                                             \
  do {                                                                         \
    const int codeLen = static_cast<int>((e) >> 8 & 31);                       \
    const int extra = static_cast<int>((e)&31) - codeLen;                      \
    buf >>= codeLen;                                                           \
    bits -= codeLen;                                                           \
    SFX_ENSURE(need);                                                          \
    v = ((e) >> 16) + static_cast<uint32_t>(buf & ((BitBuf{1} << extra) - 1)); \
    buf >>= extra;                                                             \
    bits -= extra;                                                             \
  } while (0)
  // Passes a full half on; `code` is the error when the output fails.
#define SFX_PASS_ON(code)                                               \
  do {                                                                  \
    const HalfPassed h =                                                \
        passOnHalf(s, static_cast<uint32_t>(op - win),                  \
                   static_cast<uint32_t>(opLimit - win), out, pm, log); \
    op = win + h.wp;                                                    \
    opLimit = win + h.limit;                                            \
    if (!h.ok) err = (code);                                            \
  } while (0)

  uint32_t e;
  SFX_NEXT_ENTRY();
  while (ip <= ipLimit) {
    if (e & kPackedValueBit) {
      SFX_CONSUME(e);
      *op++ = static_cast<uint8_t>(e >> 16);
      if (kBitBufBits == 64) {
        // 56 bits hold three codes of at most 15 bits and the lookup after
        // the second.
        SFX_LOOKUP(e, 0);
        if (e & kPackedValueBit) {
          SFX_CONSUME(e);
          *op++ = static_cast<uint8_t>(e >> 16);
          SFX_LOOKUP(e, 0);
          if (e & kPackedValueBit) {
            SFX_CONSUME(e);
            *op++ = static_cast<uint8_t>(e >> 16);
            SFX_NEXT_ENTRY();
          }
        }
      } else {
        SFX_NEXT_ENTRY();
      }
      if (op >= opLimit) {
        SFX_PASS_ON(kErrWriteLiteral);
        if (err) break;
      }
      continue;
    }
    if (e & kPackedOtherBit) {
      if ((e >> 16) == kOtherEndOfBlock) {
        SFX_CONSUME(e);
        endBlock(s);
      }
      break;  // end of block, or an error for the careful loop
    }
    // A length, then a distance. The 64-bit buffer takes a length's code
    // and extra bits (at most 15 + 16) with one shift, and a distance's
    // (at most 15 + 14) too. The 32-bit one takes the code and the extra
    // bits in turn.
    uint32_t length;
    if (kBitBufBits == 64) {
      // The lookup needed 15 bits; after literals the extra bits may not
      // all be in yet.
      SFX_ENSURE(static_cast<int>(e & 31));
      length = entryValue(buf, e);
      SFX_CONSUME(e);
      SFX_ENSURE(29);
    } else {
      SFX_TAKE_SPLIT(e, 16, length);
      SFX_ENSURE(15);
    }
    uint32_t d;
    SFX_LOOKUP(d, kLiteralEntries);
    if (!(d & kPackedValueBit)) {
      s.matchLength = static_cast<int32_t>(length);
      s.mode = kDistance;
      break;
    }
    uint32_t distance;
    if (kBitBufBits == 64) {
      distance = entryValue(buf, d);
      SFX_CONSUME(d);
    } else {
      SFX_TAKE_SPLIT(d, 14, distance);
    }

    const uint32_t written = static_cast<uint32_t>(op - win);
    if (distance > written && s.totalOut == 0) {
      err = kErrDistanceTooFar;
      break;
    }
    // The next code's entry first, so that its load overlaps the copy.
    SFX_NEXT_ENTRY();
    if (length > 258) {
      // A Deflate64 match longer than the slack: byte by byte, passing
      // each full half on.
      s.writePos = static_cast<int32_t>(written);
      s.totalOut += written;
      const uint32_t ring = ringSize(s);
      for (uint32_t i = 0; i < length; ++i) {
        uint32_t from =
            (static_cast<uint32_t>(s.writePos) + ring - distance) % ring;
        if (!putByte(s, win[from], out, pm, log)) {
          err = kErrWriteMatch;
          break;
        }
      }
      op = win + s.writePos;
      opLimit = win + halfEnd(s, static_cast<uint32_t>(s.writePos));
      s.totalOut -= static_cast<uint32_t>(s.writePos);
      if (err) break;
      continue;
    }
    if (distance > written) {
      // The source starts before the ring's start, at its end: first the
      // bytes up to the end (a forward copy, which is all memmove needs to
      // be), then the rest as a plain match.
      uint32_t head = distance - written;
      if (head > length) head = length;
      std::memmove(op, win + ringSize(s) - (distance - written), head);
      if (length - head >= 3)
        copyMatch(op + head, length - head, distance);
      else
        for (uint32_t i = head; i < length; ++i)
          op[i] = (op + i)[-static_cast<std::ptrdiff_t>(distance)];
    } else {
      copyMatch(op, length, distance);
    }
    op += length;
    if (op >= opLimit) {
      SFX_PASS_ON(kErrWriteMatch);
      if (err) break;
    }
  }
#undef SFX_PASS_ON
#undef SFX_TAKE_SPLIT
#undef SFX_CONSUME
#undef SFX_NEXT_ENTRY
#undef SFX_LOOKUP
#undef SFX_ENSURE
#undef SFX_REFILL

  // Give back whole bytes until at most 32 bits remain.
  while (bits > 32) {
    bits -= 8;
    --ip;
  }
  s.bitAcc = bits >= 32
                 ? static_cast<uint32_t>(buf)
                 : static_cast<uint32_t>(buf & ((BitBuf{1} << bits) - 1));
  s.bitCount = bits;
  *posInOut = static_cast<uint32_t>(ip - in);
  s.writePos = static_cast<int32_t>(op - win);
  s.totalOut += static_cast<uint32_t>(s.writePos);
  return err;
}

}  // namespace

// ---- Decode tables ----------------------------------------------------------

DecodeTable* buildDecodeTable(const uint8_t* lengths, uint32_t count,
                              CodeShape shape, TableBuild* result) {
  TableBuild dummy;
  if (!result) result = &dummy;
  *result = TableBuild::kBadLengths;
  if (!lengths || count > kMaxSymbols) return nullptr;

  uint32_t perLength[kMaxCodeLength + 1];
  if (!checkCodeLengths(lengths, count, shape, perLength)) return nullptr;

  // Canonical codes (RFC 1951, 3.2.2; unused symbols count for no length),
  // stored first bit lowest.
  uint32_t next[kMaxCodeLength + 1] = {};
  uint32_t code = 0;
  for (int len = 2; len <= kMaxCodeLength; ++len) {
    code = (code + perLength[len - 1]) << 1;
    next[len] = code;
  }
  PendingCode codes[kMaxSymbols];
  uint32_t n = 0;
  for (uint32_t sym = 0; sym < count; ++sym) {
    int len = lengths[sym];
    if (len == 0) continue;
    codes[n++] = {static_cast<uint16_t>(reverseBits(next[len]++, len)),
                  static_cast<uint8_t>(len), static_cast<int16_t>(sym)};
  }
  DecodeTable* t = buildLevel(codes, n, kRootWidthCap);
  *result = t ? TableBuild::kBuilt : TableBuild::kNoMemory;
  return t;
}

void freeDecodeTable(DecodeTable* table) {
  if (!table) return;
  for (uint32_t i = 0; i <= table->mask; ++i)
    freeDecodeTable(table->entries[i].sub);
  delete[] table->entries;
  delete table;
}

int32_t decodeSymbol(uint32_t* acc, int32_t* bitCount,
                     const DecodeTable* table) {
  if (!table) return kInvalidCode;
  int consumed = 0;  // bits indexed by the levels above
  const DecodeTable* t = table;
  for (;;) {
    const DecodeEntry& e = t->entries[(*acc >> consumed) & t->mask];
    if (e.sub) {
      consumed += t->width;
      t = e.sub;
      continue;
    }
    int length = consumed + e.bits;
    if (length > *bitCount) return kNeedMoreBits;
    if (e.symbol < 0) return kInvalidCode;
    *acc = length >= 32 ? 0 : *acc >> length;
    *bitCount -= length;
    return e.symbol;
  }
}

// ---- InflateState -----------------------------------------------------------

InflateState::InflateState(bool zlibWrapped, bool deflate64Mode)
    : deflate64(deflate64Mode),
      windowSize(deflate64Mode ? 65536 : 32768),
      mode(zlibWrapped ? kZlibHeader : kBlockHeader) {}

InflateState::~InflateState() {
  freeDecodeTable(codeLengthTable);
  delete[] window;
  delete[] tables;
}

// ---- The block decoder ------------------------------------------------------

bool inflateBlock(InflateState& s, const uint8_t* input, uint32_t count,
                  uint32_t* surplus, Output& out, ProgressMonitor* pm,
                  LogBase& log) {
  *surplus = 0;
  if (!input) count = 0;
  if (s.finished) {
    *surplus = count;
    return true;
  }
  if (!s.window) {
    s.window = new (std::nothrow) uint8_t[ringSize(s) + kWindowSlack]();
    if (!s.window) {
      log.memoryAllocFailed(1, static_cast<int>(ringSize(s) + kWindowSlack));
      return false;
    }
  }
  if (!s.tables) {
    s.tables = new (std::nothrow) uint32_t[kTableEntries];
    if (!s.tables) {
      log.memoryAllocFailed(1, static_cast<int>(kTableEntries * 4));
      return false;
    }
  }

  uint32_t pos = 0;
  int32_t err = 0;
  for (;;) {
    while (s.bitCount <= 24 && pos < count) {
      s.bitAcc |= static_cast<uint32_t>(input[pos++]) << s.bitCount;
      s.bitCount += 8;
    }
    if (s.finished) break;
    bool needMore = false;

    switch (s.mode) {
      case kZlibHeader: {
        if (s.bitCount < 16) {
          needMore = true;
          break;
        }
        uint32_t cmf = peekBits(s, 8);
        uint32_t flg = (s.bitAcc >> 8) & 0xFF;
        if ((cmf & 0x0F) != 8 || (cmf >> 4) > 7 || (flg & 0x20) != 0 ||
            (cmf * 256 + flg) % 31 != 0) {
          err = kErrZlibHeader;
          break;
        }
        dropBits(s, 16);
        s.zlibSeen = 1;
        s.mode = kBlockHeader;
        break;
      }

      case kBlockHeader: {
        if (s.bitCount < 3) {
          needMore = true;
          break;
        }
        s.finalBlock = (s.bitAcc & 1) != 0;
        uint32_t type = (s.bitAcc >> 1) & 3;
        dropBits(s, 3);
        if (type == 0) {
          dropBits(s, s.bitCount & 7);
          s.mode = kStoredLength;
        } else if (type == 1) {
          if (!s.fixedTables) loadFixedTables(s);
          s.mode = kLiteralLength;
        } else if (type == 2) {
          s.mode = kDynamicHeader;
        } else {
          err = kErrReservedBlockType;
        }
        break;
      }

      case kDynamicHeader:
        if (s.bitCount < 14) {
          needMore = true;
          break;
        }
        s.hlit = static_cast<int32_t>(peekBits(s, 5)) + 257;
        s.hdist = static_cast<int32_t>((s.bitAcc >> 5) & 0x1F) + 1;
        s.hclen = static_cast<int32_t>((s.bitAcc >> 10) & 0x0F) + 4;
        dropBits(s, 14);
        // Symbols 286 and 287 (and distances 30 and 31 with the 32 KB
        // window) never occur, so a header that counts them is refused.
        if (s.hlit > 286 || (s.hdist > 30 && !s.deflate64)) {
          err = kErrCodeCounts;
          break;
        }
        std::memset(s.codeLengthLengths, 0, sizeof s.codeLengthLengths);
        s.index = 0;
        s.mode = kCodeLengthCodes;
        break;

      case kCodeLengthCodes: {
        while (s.index < s.hclen && s.bitCount >= 3) {
          s.codeLengthLengths[kCodeLengthOrder[s.index++]] =
              static_cast<uint8_t>(peekBits(s, 3));
          dropBits(s, 3);
        }
        if (s.index < s.hclen) {
          needMore = true;
          break;
        }
        TableBuild built;
        s.codeLengthTable = buildDecodeTable(s.codeLengthLengths, 19,
                                             CodeShape::kComplete, &built);
        if (!s.codeLengthTable) {
          err = built == TableBuild::kNoMemory ? kErrNoTableMemory
                                               : kErrCodeLengthCode;
          break;
        }
        s.index = 0;
        s.mode = kCodeLengths;
        break;
      }

      case kCodeLengths: {
        const int32_t total = s.hlit + s.hdist;
        while (s.index < total) {
          int32_t sym = decodeSymbol(&s.bitAcc, &s.bitCount, s.codeLengthTable);
          if (sym == kNeedMoreBits) {
            needMore = true;
            break;
          }
          if (sym == kInvalidCode) {
            err = kErrCodeLengthSymbol;
            break;
          }
          if (sym < 16) {
            s.codeLengths[s.index++] = static_cast<uint8_t>(sym);
            continue;
          }
          if (sym == 16) {
            if (s.index == 0) {  // nothing to repeat
              err = kErrLengthRepeat;
              break;
            }
            s.repeatValue = s.codeLengths[s.index - 1];
            s.repeatBits = 2;
            s.repeatBase = 3;
          } else if (sym == 17) {
            s.repeatValue = 0;
            s.repeatBits = 3;
            s.repeatBase = 3;
          } else {
            s.repeatValue = 0;
            s.repeatBits = 7;
            s.repeatBase = 11;
          }
          s.mode = kRepeat;
          break;
        }
        if (needMore || err || s.mode == kRepeat) break;

        if (s.codeLengths[256] == 0) {  // the block could never end
          err = kErrNoEndOfBlock;
          break;
        }
        s.fixedTables = false;
        if (!buildPackedTable(s.codeLengths, static_cast<uint32_t>(s.hlit),
                              CodeShape::kLiteralLength,
                              TableKind::kLiteralLength, s.deflate64,
                              kRootWidthCap, s.tables, 0, kLiteralEntries)) {
          err = kErrLiteralLengthLengths;
          break;
        }
        if (!buildPackedTable(
                s.codeLengths + s.hlit, static_cast<uint32_t>(s.hdist),
                CodeShape::kDistance, TableKind::kDistance, s.deflate64,
                kRootWidthCap, s.tables, kLiteralEntries, kDistanceEntries)) {
          err = kErrDistanceLengths;
          break;
        }
        freeDecodeTable(s.codeLengthTable);
        s.codeLengthTable = nullptr;
        s.mode = kLiteralLength;
        break;
      }

      case kRepeat: {
        if (s.bitCount < s.repeatBits) {
          needMore = true;
          break;
        }
        int32_t n =
            s.repeatBase + static_cast<int32_t>(peekBits(s, s.repeatBits));
        dropBits(s, s.repeatBits);
        if (n > s.hlit + s.hdist - s.index) {  // runs past the last length
          err = kErrLengthRepeat;
          break;
        }
        while (n-- > 0)
          s.codeLengths[s.index++] = static_cast<uint8_t>(s.repeatValue);
        s.mode = kCodeLengths;
        break;
      }

      case kLiteralLength: {
        if (count - pos >= kFastInputMargin) {
          err = fastLoop(s, input, count, &pos, out, pm, log);
          if (err || s.mode != kLiteralLength) break;
          // The careful decoder takes the symbol the fast loop left.
          while (s.bitCount <= 24 && pos < count) {
            s.bitAcc |= static_cast<uint32_t>(input[pos++]) << s.bitCount;
            s.bitCount += 8;
          }
        }
        const uint32_t e = lookupPacked(s.tables, 0, s.bitAcc, s.bitCount);
        if (!e) {
          needMore = true;
        } else if (e & kPackedOtherBit) {
          if ((e >> 16) == kOtherEndOfBlock) {
            dropBits(s, static_cast<int>(e & 31));
            endBlock(s);
          } else {
            err = (e >> 16) == kOtherNoCode ? kErrLiteralLengthCode
                                            : kErrLengthSymbol;
          }
        } else if (e & kPackedValueBit) {
          dropBits(s, static_cast<int>(e & 31));
          if (!putByte(s, static_cast<uint8_t>(e >> 16), out, pm, log))
            err = kErrWriteLiteral;
        } else {
          dropBits(s, codeLength(e));
          s.pendingEntry = e;
          s.mode = kLengthExtra;
        }
        break;
      }

      case kLengthExtra: {
        const int extra = extraBits(s.pendingEntry);
        if (s.bitCount < extra) {
          needMore = true;
          break;
        }
        s.matchLength =
            static_cast<int32_t>((s.pendingEntry >> 16) + peekBits(s, extra));
        dropBits(s, extra);
        s.mode = kDistance;
        break;
      }

      case kDistance: {
        const uint32_t e =
            lookupPacked(s.tables, kLiteralEntries, s.bitAcc, s.bitCount);
        if (!e) {
          needMore = true;
        } else if (e & kPackedOtherBit) {
          err =
              (e >> 16) == kOtherNoCode ? kErrDistanceCode : kErrDistanceSymbol;
        } else {
          dropBits(s, codeLength(e));
          s.pendingEntry = e;
          s.mode = kDistanceExtra;
        }
        break;
      }

      case kDistanceExtra: {
        const int extra = extraBits(s.pendingEntry);
        if (s.bitCount < extra) {
          needMore = true;
          break;
        }
        uint32_t distance = (s.pendingEntry >> 16) + peekBits(s, extra);
        dropBits(s, extra);
        // The tables give no distance beyond windowSize.
        if (distance > s.totalOut) {
          err = kErrDistanceTooFar;
          break;
        }
        // One byte at a time, so that an overlapping copy repeats the
        // pattern. distance <= windowSize keeps the index in range.
        const uint32_t ring = ringSize(s);
        for (int32_t i = 0; i < s.matchLength; ++i) {
          uint32_t from =
              (static_cast<uint32_t>(s.writePos) + ring - distance) % ring;
          if (!putByte(s, s.window[from], out, pm, log)) {
            err = kErrWriteMatch;
            break;
          }
        }
        s.mode = kLiteralLength;
        break;
      }

      case kStoredLength:
        if (s.bitCount < 16) {
          needMore = true;
          break;
        }
        s.storedLength = static_cast<int32_t>(peekBits(s, 16));
        dropBits(s, 16);
        s.mode = kStoredCheck;
        break;

      case kStoredCheck: {
        if (s.bitCount < 16) {
          needMore = true;
          break;
        }
        uint32_t nlen = peekBits(s, 16);
        if (static_cast<uint32_t>(s.storedLength) != (nlen ^ 0xFFFF)) {
          err = kErrStoredLength;
          break;
        }
        dropBits(s, 16);
        if (s.storedLength == 0)
          endBlock(s);
        else
          s.mode = kStoredData;
        break;
      }

      case kStoredData:
        // Whole bytes: the accumulator's first, then straight from the input.
        while (s.storedLength > 0) {
          uint8_t b;
          if (s.bitCount >= 8) {
            b = static_cast<uint8_t>(s.bitAcc);
            dropBits(s, 8);
          } else if (pos < count) {
            // As many as fit before the window's end, in one copy; the
            // last byte goes through putByte, which flushes a full window.
            uint32_t n = count - pos - 1;
            const uint32_t wp = static_cast<uint32_t>(s.writePos);
            uint32_t room = halfEnd(s, wp) - wp - 1;
            if (n > room) n = room;
            if (n > static_cast<uint32_t>(s.storedLength) - 1)
              n = static_cast<uint32_t>(s.storedLength) - 1;
            std::memcpy(s.window + s.writePos, input + pos, n);
            s.writePos += static_cast<int32_t>(n);
            s.totalOut += n;
            s.storedLength -= static_cast<int32_t>(n);
            pos += n;
            b = input[pos++];
          } else {
            needMore = true;
            break;
          }
          if (!putByte(s, b, out, pm, log)) {
            err = kErrWriteStored;
            break;
          }
          --s.storedLength;
        }
        if (!needMore && !err) endBlock(s);
        break;

      case kZlibTrailer:
        dropBits(s, s.bitCount & 7);
        if (s.bitCount < 32) {
          needMore = true;
          break;
        }
        s.receivedAdler = (s.bitAcc & 0xFF) << 24 | (s.bitAcc & 0xFF00) << 8 |
                          (s.bitAcc >> 8 & 0xFF00) | s.bitAcc >> 24;
        dropBits(s, 32);
        s.finished = true;
        break;

      default:
        err = kErrZlibHeader;  // a state this decoder never sets
        break;
    }

    if (err) break;
    // Resume only when the refill above can bring the missing bits; every
    // state needs at most 32 bits, and the trailer starts byte-aligned.
    if (needMore && (pos >= count || s.bitCount > 24)) break;
  }

  if (err) {
    log.logDataLong("decodeErrNum", err);
    log.logError("inflate decode error.");
    return false;
  }
  if (s.writePos > s.flushPos) {
    bool ok = out.writeBytesPM(s.window + s.flushPos,
                               static_cast<uint32_t>(s.writePos - s.flushPos),
                               pm, log);
    s.flushPos = s.writePos;
    if (!ok) log.logError("Failed to flush to output.");
  }
  if (s.finished)
    *surplus = static_cast<uint32_t>(s.bitCount / 8) + (count - pos);
  return true;
}

// ---- The read loop and the wrappers -----------------------------------------

bool inflateSource(InflateState& state, DataSource& source, uint32_t chunkSize,
                   Output& out, ProgressMonitor* pm, LogBase& log) {
  LogContextExitor ctx(log, "inflateSource");
  if (chunkSize == 0) chunkSize = 32768;
  if (chunkSize > 262144) chunkSize = 262144;
  if (chunkSize < 256) chunkSize = 256;

  uint8_t* buf = nullptr;
  for (int attempt = 0; attempt < 3 && !buf; ++attempt) {
    buf = new (std::nothrow) uint8_t[chunkSize];
    if (!buf) chunkSize /= 2;
  }
  if (!buf) return false;

  out.beginTransfer();
  bool ok = true;
  for (;;) {
    uint32_t numRead = 0;
    if (!source.readSourcePM(buf, chunkSize, &numRead, pm, log)) {
      // The read fails when the monitor asks to abort after it; that is
      // the abort between chunks, not a failed source.
      if (pm && pm->isAborted()) break;
      log.logError("Data source read failed.");
      ok = false;
      break;
    }
    if (numRead == 0) break;
    if (pm && pm->pollAbort()) break;
    uint32_t surplus = 0;
    if (!inflateBlock(state, buf, numRead, &surplus, out, pm, log)) {
      log.logError("inflateBlock failed.");
      ok = false;
      break;
    }
    if (state.finished) {
      if (surplus != 0 &&
          !source.seekRelative(-static_cast<int64_t>(surplus), log)) {
        log.logError("Failed to seek back to the end of the deflated data.");
        ok = false;
      }
      break;
    }
    if (pm && pm->pollAbort()) break;
    if (source.endOfStream()) break;
  }
  out.endTransfer();
  delete[] buf;
  return ok;
}

bool inflateFromSource(bool zlibWrapped, DataSource& source, Output& out,
                       bool deflate64, ProgressMonitor* pm, LogBase& log) {
  LogContextExitor ctx(log, "inflateFromSource");
  InflateState state(zlibWrapped, deflate64);
  if (zlibWrapped) out.setRunningAdler32(true);
  if (!inflateSource(state, source, 32768, out, pm, log)) {
    log.logError("Inflate from source failed.");
    return false;
  }
  if (!zlibWrapped) return true;
  uint32_t computed = out.runningAdler32();
  if (log.verbose()) {
    log.logDataHex("computedAdler", computed);
    log.logDataHex("receivedAdler", state.receivedAdler);
  }
  if (computed != state.receivedAdler) {
    log.logError("Computed and received Adler checksums do NOT match.");
    return false;
  }
  if (log.verbose())
    log.logInfo("Computed and received Adler checksums match.");
  return true;
}

bool inflateFromMemory(bool zlibWrapped, const DataBuffer& input,
                       DataBuffer& output, bool deflate64, ProgressMonitor* pm,
                       LogBase& log) {
  MemoryDataSource source;
  source.setData(input.getData(), input.getSize());
  OutputDataBuffer out(&output);
  return inflateFromSource(zlibWrapped, source, out, deflate64, pm, log);
}

}  // namespace sfx
