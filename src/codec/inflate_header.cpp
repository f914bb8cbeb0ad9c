// The inflater's block headers, shared by the streaming decoder
// (inflate.cpp) and the whole-buffer decoder (inflate_whole.cpp): the decode
// tables and the packed tables, the fixed code, and a dynamic header's code
// lengths, read under one set of rules for both.
#include <cstring>
#include <new>

#include "codec/inflate.h"
#include "codec/inflate_internal.h"

namespace sfx {
using namespace inflate_internal;
namespace {

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

// ---- Block headers ----------------------------------------------------------

void inflate_internal::fixedCodeLengths(uint8_t* lengths) {
  for (int i = 0; i < 288; ++i)
    lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
  std::memset(lengths + 288, 5, 32);
}

void inflate_internal::buildFixedTables(uint32_t* tables,
                                        const TableLayout& layout,
                                        bool deflate64) {
  uint8_t lengths[288 + 32];
  fixedCodeLengths(lengths);
  buildPackedTable(lengths, 288, CodeShape::kComplete,
                   TableKind::kLiteralLength, deflate64, layout.literalRoot,
                   tables, 0, layout.literalEntries);
  buildPackedTable(lengths + 288, 32, CodeShape::kComplete,
                   TableKind::kDistance, deflate64, layout.distanceRoot, tables,
                   layout.literalEntries, layout.distanceEntries);
}

int32_t inflate_internal::readDynamicHeader(InflateState& s, uint32_t* tables,
                                            const TableLayout& layout) {
  for (;;) {
    switch (s.mode) {
      case kDynamicHeader:
        if (s.bitCount < 14) return kHeaderNeedsBits;
        s.hlit = static_cast<int32_t>(peekBits(s, 5)) + 257;
        s.hdist = static_cast<int32_t>((s.bitAcc >> 5) & 0x1F) + 1;
        s.hclen = static_cast<int32_t>((s.bitAcc >> 10) & 0x0F) + 4;
        dropBits(s, 14);
        // Symbols 286 and 287 (and distances 30 and 31 with the 32 KB
        // window) never occur, so a header that counts them is refused.
        if (s.hlit > 286 || (s.hdist > 30 && !s.deflate64))
          return kErrCodeCounts;
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
        if (s.index < s.hclen) return kHeaderNeedsBits;
        TableBuild built;
        s.codeLengthTable = buildDecodeTable(s.codeLengthLengths, 19,
                                             CodeShape::kComplete, &built);
        if (!s.codeLengthTable)
          return built == TableBuild::kNoMemory ? kErrNoTableMemory
                                                : kErrCodeLengthCode;
        s.index = 0;
        s.mode = kCodeLengths;
        break;
      }

      case kCodeLengths: {
        // The code-length code is complete and at most 7 bits long, so its
        // table has one level (decodeSymbol's work in one lookup).
        const DecodeTable* const t = s.codeLengthTable;
        const int32_t total = s.hlit + s.hdist;
        while (s.index < total && s.mode == kCodeLengths) {
          const DecodeEntry& e = t->entries[s.bitAcc & t->mask];
          if (e.bits > s.bitCount) return kHeaderNeedsBits;
          if (e.symbol < 0 || e.sub) return kErrCodeLengthSymbol;
          dropBits(s, e.bits);
          const int32_t sym = e.symbol;
          if (sym < 16) {
            s.codeLengths[s.index++] = static_cast<uint8_t>(sym);
            continue;
          }
          if (sym == 16) {
            if (s.index == 0) return kErrLengthRepeat;  // nothing to repeat
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
        }
        if (s.mode == kRepeat) break;

        if (s.codeLengths[256] == 0)  // the block could never end
          return kErrNoEndOfBlock;
        s.fixedTables = false;
        if (!buildPackedTable(s.codeLengths, static_cast<uint32_t>(s.hlit),
                              CodeShape::kLiteralLength,
                              TableKind::kLiteralLength, s.deflate64,
                              layout.literalRoot, tables, 0,
                              layout.literalEntries))
          return kErrLiteralLengthLengths;
        if (!buildPackedTable(s.codeLengths + s.hlit,
                              static_cast<uint32_t>(s.hdist),
                              CodeShape::kDistance, TableKind::kDistance,
                              s.deflate64, layout.distanceRoot, tables,
                              layout.literalEntries, layout.distanceEntries))
          return kErrDistanceLengths;
        freeDecodeTable(s.codeLengthTable);
        s.codeLengthTable = nullptr;
        s.mode = kLiteralLength;
        return kHeaderDone;
      }

      case kRepeat: {
        if (s.bitCount < s.repeatBits) return kHeaderNeedsBits;
        int32_t n =
            s.repeatBase + static_cast<int32_t>(peekBits(s, s.repeatBits));
        dropBits(s, s.repeatBits);
        if (n > s.hlit + s.hdist - s.index)  // runs past the last length
          return kErrLengthRepeat;
        while (n-- > 0)
          s.codeLengths[s.index++] = static_cast<uint8_t>(s.repeatValue);
        s.mode = kCodeLengths;
        break;
      }

      default:
        return kErrZlibHeader;  // not a header state; never set
    }
  }
}

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

}  // namespace sfx
