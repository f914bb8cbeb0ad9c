// The resumable Deflate decoder: decode tables, the block state machine,
// the read loop over a DataSource and the zlib wrapper check.
#include "codec/inflate.h"

#include <cstring>
#include <new>

#include "log/log_base.h"
#include "stream/data_source.h"
#include "stream/output.h"
#include "stream/progress_monitor.h"
#include "text/data_buffer.h"

namespace sfx {
namespace {

constexpr int kMaxCodeLength = 15;
constexpr uint32_t kMaxSymbols = 320;  // HLIT 288 + HDIST 32
constexpr int kRootWidthCap = 9;
constexpr int kSubWidthCap = 7;

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

// ---- Shared fixed tables ----------------------------------------------------

DecodeTable* gFixedLiteral = nullptr;
DecodeTable* gFixedDistance = nullptr;

// Builds the fixed tables on first use; a table that could not be built is
// tried again by the next state.
void buildFixedTables() {
  if (!gFixedLiteral) {
    uint8_t lengths[288];
    for (int i = 0; i < 288; ++i)
      lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    gFixedLiteral =
        buildDecodeTable(lengths, 288, CodeShape::kComplete, nullptr);
  }
  if (!gFixedDistance) {
    uint8_t lengths[32];
    std::memset(lengths, 5, sizeof lengths);
    gFixedDistance =
        buildDecodeTable(lengths, 32, CodeShape::kComplete, nullptr);
  }
}

bool isShared(const DecodeTable* t) {
  return t == gFixedLiteral || t == gFixedDistance;
}

void freeBlockTables(InflateState& s) {
  s.fastReady = false;
  if (!isShared(s.literalTable)) freeDecodeTable(s.literalTable);
  if (!isShared(s.distanceTable)) freeDecodeTable(s.distanceTable);
  s.literalTable = nullptr;
  s.distanceTable = nullptr;
}

// ---- Bits and bytes ---------------------------------------------------------

uint32_t peekBits(const InflateState& s, int n) {
  return n >= 32 ? s.bitAcc : s.bitAcc & ((1u << n) - 1);
}

void dropBits(InflateState& s, int n) {
  s.bitAcc = n >= 32 ? 0 : s.bitAcc >> n;
  s.bitCount -= n;
}

// Stores one decoded byte in the window and passes the window on to the
// output when it is full. False when that write fails.
bool putByte(InflateState& s, uint8_t b, Output& out, ProgressMonitor* pm,
             LogBase& log) {
  s.window[s.writePos++] = b;
  ++s.totalOut;
  if (static_cast<uint32_t>(s.writePos) < s.windowSize) return true;
  bool ok = out.writeBytesPM(s.window + s.flushPos,
                             s.windowSize - static_cast<uint32_t>(s.flushPos),
                             pm, log);
  s.writePos = 0;
  s.flushPos = 0;
  return ok;
}

// After the end of a block: the next block header, the zlib trailer, or the
// end of the stream.
void endBlock(InflateState& s) {
  freeBlockTables(s);
  s.mode = kBlockHeader;
  if (!s.finalBlock) return;
  if (s.zlibSeen)
    s.mode = kZlibTrailer;
  else
    s.finished = true;
}

// ---- The fast loop ----------------------------------------------------------
//
// Packed table entry (one 32-bit word):
//   bits 0-4   code length in bits, counted from the root (a sub-table
//              pointer holds the root width instead)
//   bits 5-7   zero, so that a shift by the entry's low six bits is a
//              shift by the code length
//   bits 8-12  extra bits of a length or distance; a pointer's sub-table width
//   bits 13-15 flags (below)
//   bits 16-31 literal byte, length or distance base, or sub-table offset
// A root entry whose code continues points to a sub-table placed after the
// root in the same array; the sub-table is indexed by the bits after the
// root's. Codes the careful decoder must judge (no code, or a symbol that
// is an error) are kPackedOther with value 0, so the fast loop leaves them
// alone.
// Flags in bits 13-15. A length (literal table) has none.
enum PackedFlag : uint32_t {
  kPackedValue = 1,  // literal table: a byte; distance table: a distance
  kPackedSub = 2,    // points to a sub-table
  kPackedOther = 4,  // value 1: end of block; value 0: for the careful loop
};
constexpr uint32_t kPackedLiteralBit = kPackedValue << 13;
constexpr uint32_t kPackedSubBit = kPackedSub << 13;
constexpr uint32_t kPackedOtherBit = kPackedOther << 13;

// Bytes allocated after the window's end for the fast loop's writes.
constexpr uint32_t kWindowSlack = 258 + 8 + 6;

constexpr uint32_t kFastLiteralEntries = 3200;   // 512 root + 41 x 64 subs
constexpr uint32_t kFastDistanceEntries = 1024;  // 512 root + 8 x 64 subs
constexpr uint32_t kFastTableEntries =
    kFastLiteralEntries + kFastDistanceEntries;

constexpr uint32_t packEntry(uint32_t length, uint32_t kind, uint32_t extra,
                             uint32_t value) {
  return length | kind << 13 | extra << 8 | value << 16;
}

uint32_t packLeaf(const DecodeEntry& e, uint32_t length, bool literalTable,
                  bool deflate64) {
  const int32_t sym = e.symbol;
  if (sym < 0) return packEntry(0, kPackedOther, 0, 0);
  if (literalTable) {
    if (sym < 256) return packEntry(length, kPackedValue, 0, sym);
    if (sym == 256) return packEntry(length, kPackedOther, 0, 1);
    if (sym > 285) return packEntry(0, kPackedOther, 0, 0);
    const CodeRow& row =
        deflate64 && sym == 285 ? kDeflate64Length285 : kLengthRows[sym - 257];
    return packEntry(length, 0, row.extra, row.base);
  }
  if (sym >= 30 && !deflate64) return packEntry(0, kPackedOther, 0, 0);
  const CodeRow& row = kDistanceRows[sym];
  return packEntry(length, kPackedValue, row.extra, row.base);
}

// Packs `t` (root and one level of sub-tables) into `dst` of `capacity`
// words and stores the root width. False when it does not fit or has a
// deeper level; the block is then decoded by the careful loop alone.
bool packTable(const DecodeTable* t, bool literalTable, bool deflate64,
               uint32_t* dst, uint32_t capacity, uint8_t* rootWidth) {
  if (!t) return false;
  uint32_t next = t->mask + 1;
  if (next > capacity) return false;
  for (uint32_t i = 0; i <= t->mask; ++i) {
    const DecodeEntry& e = t->entries[i];
    if (!e.sub) {
      dst[i] = packLeaf(e, e.bits, literalTable, deflate64);
      continue;
    }
    const DecodeTable* sub = e.sub;
    if (next + sub->mask + 1 > capacity) return false;
    dst[i] = packEntry(t->width, kPackedSub, sub->width, next);
    for (uint32_t j = 0; j <= sub->mask; ++j) {
      const DecodeEntry& se = sub->entries[j];
      if (se.sub) return false;
      dst[next + j] = packLeaf(se, t->width + se.bits, literalTable, deflate64);
    }
    next += sub->mask + 1;
  }
  *rootWidth = t->width;
  return true;
}

// Packs the current block's tables for the fast loop.
void prepareFastTables(InflateState& s) {
  s.fastReady = s.fastTables &&
                packTable(s.literalTable, true, s.deflate64, s.fastTables,
                          kFastLiteralEntries, &s.fastLiteralWidth) &&
                packTable(s.distanceTable, false, s.deflate64,
                          s.fastTables + kFastLiteralEntries,
                          kFastDistanceEntries, &s.fastDistanceWidth);
}

// The bit buffer of the fast loop: a machine word.
#if UINTPTR_MAX > 0xFFFFFFFFu
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

// Copies a match of `length` bytes from `distance` back to `dst`, where
// the source lies wholly before `dst` in the same buffer (distance <= the
// bytes before dst) and 8 bytes after the end may be written: they are
// saved and put back, because they hold the oldest bytes of the window.
inline void copyMatch(uint8_t* dst, uint32_t length, uint32_t distance) {
  if (length == 0) return;
  uint8_t saved[8];
  std::memcpy(saved, dst + length, 8);
  const uint8_t* src = dst - distance;
  if (distance >= 8) {
    // Each 8-byte load reads only bytes already final.
    for (uint32_t i = 0; i < length; i += 8) copy8(dst + i, src + i);
  } else if (distance == 1) {
    std::memset(dst, src[0], length);
  } else {
    // The pattern of `distance` bytes repeated over 8 bytes; a step of the
    // largest multiple of `distance` up to 8 keeps it in phase.
    uint8_t pattern[8];
    for (uint32_t i = 0; i < 8; ++i) pattern[i] = src[i % distance];
    const uint32_t step = 8 - 8 % distance;
    for (uint32_t i = 0; i < length; i += step)
      std::memcpy(dst + i, pattern, 8);
  }
  std::memcpy(dst + length, saved, 8);
}

// Passes the full window on from flushPos to its end, moves the bytes the
// fast loop wrote beyond the end to its start and sets `wp` after them.
// False when the output fails.
inline bool passOnFullWindow(InflateState& s, uint32_t& wp, uint64_t& totalBase,
                             Output& out, ProgressMonitor* pm, LogBase& log) {
  const uint32_t wsize = s.windowSize;
  bool ok =
      out.writeBytesPM(s.window + s.flushPos,
                       wsize - static_cast<uint32_t>(s.flushPos), pm, log);
  std::memcpy(s.window, s.window + wsize, wp - wsize);
  wp -= wsize;
  totalBase += wsize;
  s.flushPos = 0;
  return ok;
}

// Entry assumptions of the fast loop, checked in its loop condition:
// - at least kFastInputMargin input bytes are left. One iteration takes at
//   most 15 + 16 + 15 + 14 = 60 bits and looks up the next code, so the
//   buffer moves at most (60 + 63) / 8 < 16 bytes ahead of where the
//   iteration began, and a refill reads sizeof(BitBuf) <= 8 bytes from
//   there: 24 bytes suffice.
// - the window is not full (writePos < windowSize). The window has
//   kWindowSlack bytes after its end, where a literal or a match of at most
//   258 bytes, plus the 8 bytes a chunked copy writes past its end (saved
//   and put back), land without a check. After each symbol a full window
//   is passed on and the bytes beyond its end move to its start. Longer
//   Deflate64 matches go through the careful per-byte copy.
constexpr uint32_t kFastInputMargin = 32;

// Decodes literals and matches while both margins hold. Leaves the state
// consistent at every exit: the bits it holds go back into bitAcc (at most
// 32; whole bytes beyond that are given back to the input), and a symbol
// the packed tables mark as slow is left undecoded for the careful loop. A
// length whose distance code is slow is stored with mode kDistance. Returns
// 0 or an InflateError.
[[gnu::noinline]] int32_t fastLoop(InflateState& s, const uint8_t* in,
                                   uint32_t count, uint32_t* posInOut,
                                   Output& out, ProgressMonitor* pm,
                                   LogBase& log) {
  const uint32_t* const lit = s.fastTables;
  const uint32_t* const dist = s.fastTables + kFastLiteralEntries;
  const BitBuf litMask = (BitBuf{1} << s.fastLiteralWidth) - 1;
  const BitBuf distMask = (BitBuf{1} << s.fastDistanceWidth) - 1;
  uint8_t* const win = s.window;
  const uint32_t wsize = s.windowSize;
  uint32_t wp = static_cast<uint32_t>(s.writePos);
  // totalOut is totalBase + wp; passing the window on keeps it so.
  uint64_t totalBase = s.totalOut - wp;
  uint32_t pos = *posInOut;
  BitBuf buf = s.bitAcc;
  int bits = s.bitCount;
  int32_t err = 0;
  const uint32_t inLimit = count - kFastInputMargin;  // count >= the margin

  // Tops the buffer up with whole bytes to 24 .. 31 or 56 .. 63 bits
  // (nothing moves when it holds that many already: bits | floor == bits).
  // Bits above `bits` are the start of the next byte, read again at the
  // same place by the next refill. Valid for bits < kBitBufBits: always
  // with the 64-bit buffer (at most 32 bits come in from the state), so
  // the lookups refill without a branch there; the 32-bit buffer may
  // start full and refills only below 15 bits.
#define SFX_REFILL()                                           \
  do {                                                         \
    buf |= loadWord(in + pos) << bits;                         \
    pos += static_cast<uint32_t>(kBitBufBits - 1 - bits) >> 3; \
    bits |= kRefillFloor;                                      \
  } while (0)
#define SFX_ENSURE(n)             \
  do {                            \
    if (bits < (n)) SFX_REFILL(); \
  } while (0)

  // The entry of the next literal/length code, looked up as soon as its
  // bits are in so that the load overlaps the work on the current symbol.
#define SFX_NEXT_ENTRY()                                         \
  do {                                                           \
    if (kBitBufBits == 64)                                       \
      SFX_REFILL();                                              \
    else                                                         \
      SFX_ENSURE(15);                                            \
    e = lit[buf & litMask];                                      \
    if (e & kPackedSubBit)                                       \
      e = lit[(e >> 16) + ((buf >> (e & kShiftMask)) &           \
                           ((BitBuf{1} << (e >> 8 & 31)) - 1))]; \
  } while (0)

  uint32_t e;
  SFX_NEXT_ENTRY();
  while (pos <= inLimit) {
    if (e & kPackedLiteralBit) {
      buf >>= e & kShiftMask;
      bits -= e & 31;
      win[wp++] = static_cast<uint8_t>(e >> 16);
      if (wp >= wsize && !passOnFullWindow(s, wp, totalBase, out, pm, log)) {
        err = kErrWriteLiteral;
        break;
      }
      SFX_NEXT_ENTRY();
      continue;
    }
    if (e & kPackedOtherBit) {
      if (e >> 16) {  // end of block
        buf >>= e & kShiftMask;
        bits -= e & 31;
        endBlock(s);
      }
      break;  // end of block, or a symbol for the careful loop
    }
    buf >>= e & kShiftMask;
    bits -= e & 31;
    uint32_t extra = e >> 8 & 31;
    SFX_ENSURE(16);
    uint32_t length =
        (e >> 16) + static_cast<uint32_t>(buf & ((BitBuf{1} << extra) - 1));
    buf >>= extra;
    bits -= static_cast<int>(extra);

    SFX_ENSURE(15);
    uint32_t d = dist[buf & distMask];
    if (d & kPackedSubBit)
      d = dist[(d >> 16) + ((buf >> (d & kShiftMask)) &
                            ((BitBuf{1} << (d >> 8 & 31)) - 1))];
    if (!(d & kPackedLiteralBit)) {
      s.matchLength = static_cast<int32_t>(length);
      s.mode = kDistance;
      break;
    }
    buf >>= d & kShiftMask;
    bits -= d & 31;
    extra = d >> 8 & 31;
    SFX_ENSURE(14);
    uint32_t distance =
        (d >> 16) + static_cast<uint32_t>(buf & ((BitBuf{1} << extra) - 1));
    buf >>= extra;
    bits -= static_cast<int>(extra);

    if (distance > wp && totalBase + wp < wsize && distance > totalBase + wp) {
      err = kErrDistanceTooFar;
      break;
    }
    if (length > 258) {
      // A Deflate64 match longer than the free window: byte by byte,
      // flushing when the window fills.
      s.writePos = static_cast<int32_t>(wp);
      s.totalOut = totalBase + wp;
      for (uint32_t i = 0; i < length; ++i) {
        uint32_t from =
            (static_cast<uint32_t>(s.writePos) + wsize - distance) % wsize;
        if (!putByte(s, win[from], out, pm, log)) {
          err = kErrWriteMatch;
          break;
        }
      }
      wp = static_cast<uint32_t>(s.writePos);
      totalBase = s.totalOut - wp;
      if (err) break;
      SFX_NEXT_ENTRY();
      continue;
    }
    if (distance > wp) {
      // The source starts before the window's end: first the bytes up to
      // the end (a forward copy, which is all memmove needs to be), then
      // the rest as a plain match.
      uint32_t head = distance - wp;
      if (head > length) head = length;
      std::memmove(win + wp, win + wsize - (distance - wp), head);
      copyMatch(win + wp + head, length - head, distance);
    } else {
      copyMatch(win + wp, length, distance);
    }
    wp += length;
    if (wp >= wsize && !passOnFullWindow(s, wp, totalBase, out, pm, log)) {
      err = kErrWriteMatch;
      break;
    }
    SFX_NEXT_ENTRY();
  }
#undef SFX_NEXT_ENTRY
#undef SFX_ENSURE
#undef SFX_REFILL

  // Give back whole bytes until at most 32 bits remain.
  while (bits > 32) {
    bits -= 8;
    --pos;
  }
  s.bitAcc = bits >= 32
                 ? static_cast<uint32_t>(buf)
                 : static_cast<uint32_t>(buf & ((BitBuf{1} << bits) - 1));
  s.bitCount = bits;
  *posInOut = pos;
  s.writePos = static_cast<int32_t>(wp);
  s.totalOut = totalBase + wp;
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

  uint32_t perLength[kMaxCodeLength + 1] = {};
  for (uint32_t i = 0; i < count; ++i) {
    if (lengths[i] > kMaxCodeLength) return nullptr;
    ++perLength[lengths[i]];
  }
  uint32_t used = count - perLength[0];
  // Kraft sum: `left` is the number of unused codes of the current length.
  int32_t left = 1;
  for (int len = 1; len <= kMaxCodeLength; ++len) {
    left = left * 2 - static_cast<int32_t>(perLength[len]);
    if (left < 0) return nullptr;  // over-subscribed
  }
  if (left > 0) {
    bool allowed = shape == CodeShape::kDistance &&
                   (used == 0 || (used == 1 && perLength[1] == 1));
    if (!allowed) return nullptr;
  }

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
      mode(zlibWrapped ? kZlibHeader : kBlockHeader) {
  buildFixedTables();
}

InflateState::~InflateState() {
  freeBlockTables(*this);
  freeDecodeTable(codeLengthTable);
  delete[] window;
  delete[] fastTables;
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
    s.window = new (std::nothrow) uint8_t[s.windowSize + kWindowSlack]();
    if (!s.window) {
      log.memoryAllocFailed(1, static_cast<int>(s.windowSize));
      return false;
    }
    // Without them only the careful loop runs.
    s.fastTables = new (std::nothrow) uint32_t[kFastTableEntries];
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
          buildFixedTables();
          if (!gFixedLiteral || !gFixedDistance) {
            err = kErrNoTableMemory;
            break;
          }
          s.literalTable = gFixedLiteral;
          s.distanceTable = gFixedDistance;
          prepareFastTables(s);
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
            s.repeatValue = s.index > 0 ? s.codeLengths[s.index - 1] : 0;
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

        TableBuild built;
        s.literalTable =
            buildDecodeTable(s.codeLengths, static_cast<uint32_t>(s.hlit),
                             CodeShape::kComplete, &built);
        if (!s.literalTable) {
          err = built == TableBuild::kNoMemory ? kErrNoTableMemory
                                               : kErrLiteralLengthLengths;
          break;
        }
        s.distanceTable = buildDecodeTable(s.codeLengths + s.hlit,
                                           static_cast<uint32_t>(s.hdist),
                                           CodeShape::kDistance, &built);
        if (!s.distanceTable) {
          err = built == TableBuild::kNoMemory ? kErrNoTableMemory
                                               : kErrDistanceLengths;
          break;
        }
        freeDecodeTable(s.codeLengthTable);
        s.codeLengthTable = nullptr;
        prepareFastTables(s);
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
        const int32_t total = s.hlit + s.hdist;
        while (n-- > 0 && s.index < total)
          s.codeLengths[s.index++] = static_cast<uint8_t>(s.repeatValue);
        s.mode = kCodeLengths;
        break;
      }

      case kLiteralLength: {
        if (s.fastReady && count - pos >= kFastInputMargin) {
          err = fastLoop(s, input, count, &pos, out, pm, log);
          if (err || s.mode != kLiteralLength) break;
          // The careful decoder takes the symbol the fast loop left.
          while (s.bitCount <= 24 && pos < count) {
            s.bitAcc |= static_cast<uint32_t>(input[pos++]) << s.bitCount;
            s.bitCount += 8;
          }
        }
        int32_t sym = decodeSymbol(&s.bitAcc, &s.bitCount, s.literalTable);
        if (sym == kNeedMoreBits) {
          needMore = true;
        } else if (sym == kInvalidCode) {
          err = kErrLiteralLengthCode;
        } else if (sym < 256) {
          if (!putByte(s, static_cast<uint8_t>(sym), out, pm, log))
            err = kErrWriteLiteral;
        } else if (sym == 256) {
          endBlock(s);
        } else if (sym <= 285) {
          s.symbol = sym;
          s.mode = kLengthExtra;
        } else {
          err = kErrLengthSymbol;
        }
        break;
      }

      case kLengthExtra: {
        const CodeRow& row = s.deflate64 && s.symbol == 285
                                 ? kDeflate64Length285
                                 : kLengthRows[s.symbol - 257];
        if (s.bitCount < row.extra) {
          needMore = true;
          break;
        }
        s.matchLength = row.base + static_cast<int32_t>(peekBits(s, row.extra));
        dropBits(s, row.extra);
        s.mode = kDistance;
        break;
      }

      case kDistance: {
        int32_t sym = decodeSymbol(&s.bitAcc, &s.bitCount, s.distanceTable);
        if (sym == kNeedMoreBits) {
          needMore = true;
        } else if (sym == kInvalidCode) {
          err = kErrDistanceCode;
        } else if (sym >= 30 && !s.deflate64) {
          err = kErrDistanceSymbol;
        } else {
          s.symbol = sym;
          s.mode = kDistanceExtra;
        }
        break;
      }

      case kDistanceExtra: {
        const CodeRow& row = kDistanceRows[s.symbol];
        if (s.bitCount < row.extra) {
          needMore = true;
          break;
        }
        uint32_t distance = row.base + peekBits(s, row.extra);
        dropBits(s, row.extra);
        uint64_t reach = s.totalOut < s.windowSize ? s.totalOut : s.windowSize;
        if (distance > reach) {
          err = kErrDistanceTooFar;
          break;
        }
        // One byte at a time, so that an overlapping copy repeats the
        // pattern. distance <= windowSize keeps the index in range.
        for (int32_t i = 0; i < s.matchLength; ++i) {
          uint32_t from =
              (static_cast<uint32_t>(s.writePos) + s.windowSize - distance) %
              s.windowSize;
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
            uint32_t room =
                s.windowSize - static_cast<uint32_t>(s.writePos) - 1;
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
