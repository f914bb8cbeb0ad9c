// The inflater's packed decode tables, shared by the resumable decoder
// (inflate.cpp) and the whole-buffer decoder (inflate_whole.cpp). Not part
// of the inflater's interface.
#ifndef SFX_CODEC_INFLATE_INTERNAL_H_
#define SFX_CODEC_INFLATE_INTERNAL_H_

#include <cstdint>

#include "codec/inflate.h"

namespace sfx {
namespace inflate_internal {

constexpr int kMaxCodeLength = 15;
constexpr uint32_t kMaxSymbols = 320;  // HLIT 288 + HDIST 32

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

}  // namespace inflate_internal
}  // namespace sfx

#endif  // SFX_CODEC_INFLATE_INTERNAL_H_
