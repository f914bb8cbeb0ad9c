// What the resumable decoder (inflate.cpp) and the whole-buffer decoder
// (inflate_whole.cpp) share: the bit buffer, the packed decode tables and
// the block headers (inflate_header.cpp). Not part of the inflater's
// interface.
#ifndef SFX_CODEC_INFLATE_INTERNAL_H_
#define SFX_CODEC_INFLATE_INTERNAL_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/inflate.h"

namespace sfx {
namespace inflate_internal {

constexpr int kMaxCodeLength = 15;
constexpr uint32_t kMaxSymbols = 320;  // HLIT 288 + HDIST 32
// The root width of a DecodeTable and of the resumable decoder's packed
// tables.
constexpr int kRootWidthCap = 9;

// ---- The bit buffer of the fast loops ---------------------------------------

// A machine word (on i686 a 64-bit buffer takes a register pair for every
// shift and decodes more slowly). SFX_INFLATE_BITBUF32 forces the 32-bit
// buffer of a 32-bit target, so that a 64-bit test build runs the same code
// as the i686 stub.
#if UINTPTR_MAX > 0xFFFFFFFFu && !defined(SFX_INFLATE_BITBUF32)
using BitBuf = uint64_t;
#else
using BitBuf = uint32_t;
#endif
constexpr int kBitBufBits = static_cast<int>(sizeof(BitBuf) * 8);
// A shift by `entry & kShiftMask` is a shift by the entry's bit count (bits
// 5-7 of a packed entry are zero), and the mask is the one the machine
// applies anyway.
constexpr uint32_t kShiftMask = kBitBufBits - 1;

// The BitBuf at `p`, first byte lowest.
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

// Copies 8 bytes at a time from `src` to `dst` until `dst` reaches `end`
// (at least once; up to 7 bytes past `end`). With src at least 8 bytes
// before dst, each load reads only bytes already final.
inline void copy8Until(uint8_t* dst, const uint8_t* src, const uint8_t* end) {
  do {
    copy8(dst, src);
    dst += 8;
    src += 8;
  } while (dst < end);
}

// Stores the 8 bytes of `v` at `dst` and every 8 bytes after it until
// `end` (at least once; up to 7 bytes past `end`).
inline void store8Until(uint8_t* dst, uint64_t v, const uint8_t* end) {
  do {
    std::memcpy(dst, &v, 8);
    dst += 8;
  } while (dst < end);
}

// ---- The resumable decoder's accumulator ------------------------------------

// The low n bits of the accumulator (n at most 32).
inline uint32_t peekBits(const InflateState& s, int n) {
  return n >= 32 ? s.bitAcc : s.bitAcc & ((1u << n) - 1);
}

inline void dropBits(InflateState& s, int n) {
  s.bitAcc = n >= 32 ? 0 : s.bitAcc >> n;
  s.bitCount -= n;
}

// ---- Packed tables ----------------------------------------------------------

// Packed table entry (one 32-bit word):
//   bits 0-4   code length in bits, counted from the root, and for a length
//              or distance its extra bits too (a sub-table pointer holds
//              the root width instead; an entry no code reaches holds the
//              width of its table level, root included)
//   bits 5-7   zero, so that a shift by the entry's low six bits is a
//              shift by those bits
//   bits 8-12  a length's or distance's code length alone, so that its
//              extra bits are the bits between it and bits 0-4 (0 for
//              every other entry); a pointer's sub-table width
//   bits 13-15 flags (below)
//   bits 16-31 literal byte, length or distance base, sub-table offset, or
//              what an "other" entry is (PackedOther)
// A root entry whose code continues points to a sub-table placed after the
// root in the same array; the sub-table is indexed by the bits after the
// root's. A length (literal table) has no flag.
enum PackedFlag : uint32_t {
  kPackedValue = 1,  // literal table: a byte; distance table: a distance
  kPackedSub = 2,    // points to a sub-table
  kPackedOther = 4,  // the end of the block or an error (PackedOther)
};
constexpr uint32_t kPackedValueBit = kPackedValue << 13;
constexpr uint32_t kPackedSubBit = kPackedSub << 13;
constexpr uint32_t kPackedOtherBit = kPackedOther << 13;

// The values of kPackedOther entries.
enum PackedOther : uint32_t {
  kOtherEndOfBlock = 1,
  kOtherNoCode = 2,     // no code begins with these bits
  kOtherBadSymbol = 3,  // literal/length 286, 287; distance 30, 31 (32 KB)
};

constexpr uint32_t packEntry(uint32_t length, uint32_t kind, uint32_t extra,
                             uint32_t value) {
  return length | kind << 13 | extra << 8 | value << 16;
}

enum class TableKind { kLiteralLength, kDistance };

// The widest root buildPackedTable builds.
constexpr int kMaxPackedRootWidth = 11;

// The entries a packed table with a root of `rootWidth` bits may need:
// every sub-table has 2^(15 - rootWidth) entries and holds at least two
// codes (its part of the code is complete), so `symbols` codes need at
// most 2^rootWidth + symbols / 2 sub-tables.
constexpr uint32_t packedTableEntries(int rootWidth, uint32_t symbols) {
  return (1u << rootWidth) + symbols / 2 * (1u << (kMaxCodeLength - rootWidth));
}

// Counts the codes of each length into perLength[0 .. 15] and checks the
// code's shape: every length at most 15, not over-subscribed, and complete
// unless `shape` allows the exception. False when the lengths are bad.
bool checkCodeLengths(const uint8_t* lengths, uint32_t count, CodeShape shape,
                      uint32_t* perLength);

// Builds the packed table of the code given by `lengths[0 .. count - 1]`
// at `tables[at ..]`, at most `capacity` entries. The root always has
// 2^rootWidth entries (rootWidth at most kMaxPackedRootWidth) and each
// sub-table 2^(15 - rootWidth), so that the loops index them with fixed
// masks: a code shorter than its level fills every entry whose low bits
// are its code, and the unreached entries of a narrower level keep that
// level's width (root included) as their bit count, as in a DecodeTable.
// Sub-table offsets count from `tables`. `deflate64` selects the Deflate64
// meaning of length 285 and distances 30 and 31. False when the lengths
// are bad (as for buildDecodeTable) or, which packedTableEntries rules
// out, the table does not fit.
bool buildPackedTable(const uint8_t* lengths, uint32_t count, CodeShape shape,
                      TableKind kind, bool deflate64, int rootWidth,
                      uint32_t* tables, uint32_t at, uint32_t capacity);

// ---- Block headers ----------------------------------------------------------

// Where a decoder keeps its packed tables: one array, the literal/length
// table (`literalEntries` entries, a root of `literalRoot` bits) followed
// by the distance table.
struct TableLayout {
  int literalRoot;
  int distanceRoot;
  uint32_t literalEntries;
  uint32_t distanceEntries;
};

// The code lengths of the fixed code (RFC 1951, 3.2.6): 288 literal/length
// lengths followed by 32 distance lengths.
void fixedCodeLengths(uint8_t* lengths);

// Builds the tables of the fixed code into `tables`.
void buildFixedTables(uint32_t* tables, const TableLayout& layout,
                      bool deflate64);

// readDynamicHeader results besides an InflateError.
constexpr int32_t kHeaderDone = 0;
constexpr int32_t kHeaderNeedsBits = -1;

// Reads a dynamic block header from s.bitAcc and s.bitCount, resuming at
// s.mode (kDynamicHeader, kCodeLengthCodes, kCodeLengths or kRepeat), as far
// as the bits in hand allow; no part needs more than 14 bits. Returns
// kHeaderNeedsBits when they run out (what was read is kept in `s`), and
// kHeaderDone once the block's tables are built into `tables`: s.mode is
// then kLiteralLength and s.fixedTables false. Returns the InflateError of
// a header the decoder refuses: HLIT or HDIST out of range, a bad
// code-length code, an invalid code-length code, a repeat with nothing to
// repeat or past the last length, no end-of-block code, bad literal/length
// or distance lengths (the rules zlib's inflate applies), or no memory for
// the code-length table.
int32_t readDynamicHeader(InflateState& s, uint32_t* tables,
                          const TableLayout& layout);

}  // namespace inflate_internal
}  // namespace sfx

#endif  // SFX_CODEC_INFLATE_INTERNAL_H_
