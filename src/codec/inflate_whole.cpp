// inflateWhole: one raw Deflate stream held whole in memory, decoded into a
// flat buffer of known capacity that is its own window. No state survives a
// call: a word-wide bit buffer, a fast loop while both buffers have room,
// and a careful loop for their ends. On x86-64 the loops are built twice
// from one source: portable, and with BMI2's flagless shifts and bit
// extraction (shlx, shrx, bzhi) for processors that have it, chosen once at
// run time.
#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "codec/inflate.h"
#include "codec/inflate_internal.h"

// The BMI2 loop: x86-64 with GCC or Clang, unless SFX_INFLATE_NO_BMI2
// leaves it out. The i686 stub keeps the portable loop alone: with its
// 32-bit bit buffer the BMI2 loop measured no faster under Wine.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(SFX_INFLATE_NO_BMI2)
#define SFX_INFLATE_BMI2 1
#include <cpuid.h>
#else
#define SFX_INFLATE_BMI2 0
#endif

namespace sfx {
using namespace inflate_internal;
namespace {

// The bit buffer (inflate_internal.h).
constexpr uint32_t kBufBits = kBitBufBits;
constexpr uint32_t kBufBytes = sizeof(BitBuf);
// Both refills leave at least this many bits in the buffer (56 or 24) and
// at most kBufBits - 1.
constexpr uint32_t kRefillFloor = kBufBits - 8;

// Table roots: a literal/length code of up to 11 bits and a distance code
// of up to 9 bits take one lookup; longer ones a second.
constexpr int kLitRoot = 11;
constexpr int kDistRoot = 9;
constexpr uint32_t kLitMask = (1u << kLitRoot) - 1;
constexpr uint32_t kLitSubMask = (1u << (kMaxCodeLength - kLitRoot)) - 1;
constexpr uint32_t kDistMask = (1u << kDistRoot) - 1;
constexpr uint32_t kDistSubMask = (1u << (kMaxCodeLength - kDistRoot)) - 1;
constexpr uint32_t kLitEntries = packedTableEntries(kLitRoot, 288);
constexpr uint32_t kDistEntries = packedTableEntries(kDistRoot, 32);
constexpr uint32_t kExceptionalBits = kPackedSubBit | kPackedOtherBit;
constexpr TableLayout kLayout = {kLitRoot, kDistRoot, kLitEntries,
                                 kDistEntries};

// The fast loop's margins. An iteration begins with at least kRefillFloor
// bits in the buffer and takes at most 56 (three root literals of at most
// 11 bits, a literal of 15, or a length of 15 + 5 bits and a distance of
// 15 + 13; 48 with the 32-bit buffer). As 8 x (bytes read) = bits taken +
// bits in the buffer (< kBufBits), the input position moves at most 7
// bytes (6) ahead of where the iteration began, and a refill loads
// kBufBytes from there: within 15 bytes. An iteration writes three literals
// or one match of at most 258 bytes, and copyMatch writes at most 7 bytes
// beyond it, within kWholeOutputSlack.
constexpr uint32_t kFastInMargin = 24;
constexpr uint32_t kFastOutMargin = 258;
static_assert(kWholeOutputSlack >= 7, "copyMatch writes past the match");

// Copies a match of `length` (3 .. 258) bytes from `distance` back to `dst`.
// Writes at most max(length + 7, 40) bytes from `dst`.
[[gnu::always_inline]] inline void copyMatch(uint8_t* dst, uint32_t length,
                                             uint32_t distance) {
  const uint8_t* src = dst - distance;
  uint8_t* const end = dst + length;
  if (distance >= 8) {
    // Each load reads only bytes already final. Most matches are short:
    // five words unconditionally.
    copy8(dst, src);
    copy8(dst + 8, src + 8);
    copy8(dst + 16, src + 16);
    copy8(dst + 24, src + 24);
    copy8(dst + 32, src + 32);
    if (length > 40) copy8Until(dst + 40, src + 40, end);
  } else if (distance == 1) {
    const uint64_t v = src[0] * UINT64_C(0x0101010101010101);
    std::memcpy(dst, &v, 8);
    std::memcpy(dst + 8, &v, 8);
    std::memcpy(dst + 16, &v, 8);
    std::memcpy(dst + 24, &v, 8);
    std::memcpy(dst + 32, &v, 8);
    if (length > 40) store8Until(dst + 40, v, end);
  } else {
    // Distances 2 .. 7: the first 8 bytes one at a time (each reads a byte
    // already written), then those 8 bytes again at every multiple of the
    // distance up to 8, which keeps the pattern in phase.
    static constexpr uint8_t kStep[8] = {0, 0, 8, 6, 8, 5, 6, 7};
    for (int i = 0; i < 8; ++i) dst[i] = src[i];
    uint64_t v;
    std::memcpy(&v, dst, 8);
    const uint32_t step = kStep[distance];
    for (dst += step; dst < end; dst += step) std::memcpy(dst, &v, 8);
  }
}

enum class Step { kOk, kBadData, kTooLarge };

// The decoder. The bit buffer holds `bits` bits of the stream, first bit
// lowest; bits above them are zero or the next input bytes. Past the end
// of the input it is topped up with zero bytes, counted in `overread`: a
// stream that takes any of them ends before its final block.
struct Whole {
  Whole(const uint8_t* in, uint32_t count, uint8_t* o, uint32_t capacity)
      : ip(in), inEnd(in + count), out(o), op(o), outEnd(o + capacity) {}

  // Tops the buffer up to kRefillFloor .. kBufBits - 1 bits. False once
  // more zero bytes were fed than the buffer holds: some were then taken.
  bool fill() {
    while (bits < kRefillFloor) {
      if (ip != inEnd)
        buf |= static_cast<BitBuf>(*ip++) << bits;
      else if (++overread > kBufBytes)
        return false;
      bits += 8;
    }
    return true;
  }
  // Whether bits past the input's end were taken.
  bool truncated() const { return overread * 8 > bits; }
  // n < kBufBits.
  uint32_t take(uint32_t n) {
    const uint32_t v = static_cast<uint32_t>(buf & ((BitBuf{1} << n) - 1));
    buf >>= n;
    bits -= n;
    return v;
  }
  // The outcome when the output is full: the capacity is too small, unless
  // the symbol that does not fit was read from past the input's end.
  Step full() const { return truncated() ? Step::kBadData : Step::kTooLarge; }

  const uint8_t* ip;
  const uint8_t* const inEnd;
  BitBuf buf = 0;
  uint32_t bits = 0;
  uint32_t overread = 0;
  uint8_t* const out;
  uint8_t* op;
  uint8_t* const outEnd;
  // The dynamic header being read, in the streaming decoder's state (which
  // allocates nothing until inflateBlock is called); its fixedTables says
  // that the tables hold the fixed code.
  InflateState header{false, false};
  // The literal/length table followed by the distance table (23 KB, on the
  // caller's stack).
  uint32_t tables[kLitEntries + kDistEntries];
};

// Reads a dynamic block's header after BTYPE and builds its tables with
// the streaming decoder's reader, handing it up to 32 bits at a time. False
// for bad or truncated data.
bool readDynamicHeader(Whole& w) {
  InflateState& h = w.header;
  h.mode = kDynamicHeader;
  for (;;) {
    if (!w.fill()) return false;
    const uint32_t n = w.bits < 32 ? w.bits : 32;
    h.bitAcc = static_cast<uint32_t>(w.buf & ((BitBuf{2} << (n - 1)) - 1));
    h.bitCount = static_cast<int32_t>(n);
    const int32_t r = readDynamicHeader(h, w.tables, kLayout);
    w.take(n - static_cast<uint32_t>(h.bitCount));
    if (r == kHeaderDone) return true;
    // No part of the header needs more than the 24 bits a fill leaves.
    if (r != kHeaderNeedsBits || h.bitCount >= 24) return false;
  }
}

// A stored block after BTYPE: the whole bytes left in the buffer go back to
// the input, then LEN, NLEN and the bytes are copied straight.
Step storedBlock(Whole& w) {
  w.take(w.bits & 7);
  if (w.truncated()) return Step::kBadData;
  w.ip -= w.bits / 8 - w.overread;
  w.buf = 0;
  w.bits = 0;
  w.overread = 0;
  if (w.inEnd - w.ip < 4) return Step::kBadData;
  const uint32_t len = w.ip[0] | w.ip[1] << 8;
  const uint32_t nlen = w.ip[2] | w.ip[3] << 8;
  if (len != (nlen ^ 0xFFFF)) return Step::kBadData;
  w.ip += 4;
  if (static_cast<size_t>(w.inEnd - w.ip) < len) return Step::kBadData;
  if (static_cast<size_t>(w.outEnd - w.op) < len) return Step::kTooLarge;
  std::memcpy(w.op, w.ip, len);
  w.op += len;
  w.ip += len;
  return Step::kOk;
}

// The low `n & 31` bits of `v`, where bits 5-7 of `n` are zero (as in a
// packed entry, whose low byte is its bit count and may be given whole). The
// BMI2 loop takes them with one bzhi, which the compiler does not choose for
// the mask form by itself; an asm statement, since the intrinsic cannot be
// inlined into the template.
template <bool kBmi2>
[[gnu::always_inline]] inline BitBuf lowBits(BitBuf v, uint32_t n) {
#if SFX_INFLATE_BMI2
  if (kBmi2) {
    BitBuf r;
    asm("bzhi %2, %1, %0" : "=r"(r) : "rm"(v), "r"(BitBuf{n}) : "cc");
    return r;
  }
#endif
  return v & ((BitBuf{1} << (n & 31)) - 1);
}

// The literals and matches of a fixed or dynamic block, up to and with its
// end-of-block code. One source for both loops: inlined into each loop's
// function, which compiles it for its instruction set (kBmi2: flagless
// shifts, and bzhi for extra bits).
template <bool kBmi2>
[[gnu::always_inline]] inline Step huffmanBlock(Whole& w) {
  // Sub-table offsets count from the start of both tables.
  // The distance table is read as lit + kLitEntries, which keeps one
  // register for both.
  const uint32_t* const lit = w.tables;
  uint8_t* const out = w.out;

  // The fast loop. Entry: the buffer holds no bytes from past the input's
  // end (the margin keeps them far), and `bits` below kBufBits. While it
  // runs, only the low 8 bits of `bits` count: a whole entry is subtracted
  // from it, whose low byte is its bit count. Exit: the same, with the
  // entry of the next literal/length code looked up but not taken.
  const uint8_t* const inFastEnd =
      w.inEnd -
      std::min<size_t>(static_cast<size_t>(w.inEnd - w.ip), kFastInMargin);
  uint8_t* const opFastEnd =
      w.outEnd -
      std::min<size_t>(static_cast<size_t>(w.outEnd - w.op), kFastOutMargin);
  if (w.ip < inFastEnd && w.op < opFastEnd) {
    const uint8_t* ip = w.ip;
    uint8_t* op = w.op;
    BitBuf buf = w.buf;
    uint32_t bits = w.bits;
    Step step = Step::kOk;
    bool ended = false;

    // Tops the buffer up with whole bytes to kRefillFloor .. kBufBits - 1
    // bits; the bits above them are the next bytes, loaded again at the
    // same place by the next refill.
#define SFX_REFILL()                                         \
  do {                                                       \
    buf |= loadWord(ip) << static_cast<uint8_t>(bits);       \
    ip += (kBufBytes - 1) - ((bits >> 3) & (kBufBytes - 1)); \
    bits |= kRefillFloor;                                    \
  } while (0)
#define SFX_CONSUME(e)      \
  do {                      \
    buf >>= (e)&kShiftMask; \
    bits -= (e);            \
  } while (0)
    // A length's or distance's base plus its extra bits, from the buffer
    // as it was before the entry's bits were taken.
#define SFX_VALUE(saved, e) \
  (((e) >> 16) +            \
   static_cast<uint32_t>(lowBits<kBmi2>((saved), (e)) >> ((e) >> 8 & 31)))

    SFX_REFILL();
    uint32_t e = lit[static_cast<uint32_t>(buf) & kLitMask];
    do {
      // Here the buffer holds at least kRefillFloor bits and `e` is the
      // entry of the code at its bottom.
      if (e & kPackedValueBit) {
        // A literal of the root: at most 11 bits. 56 bits hold three and
        // the root lookup after them; 24 bits one and the lookup after it.
        SFX_CONSUME(e);
        *op++ = static_cast<uint8_t>(e >> 16);
        e = lit[static_cast<uint32_t>(buf) & kLitMask];
        if (e & kPackedValueBit) {
          SFX_CONSUME(e);
          *op++ = static_cast<uint8_t>(e >> 16);
          if (kBufBits == 64) {
            e = lit[static_cast<uint32_t>(buf) & kLitMask];
            if (e & kPackedValueBit) {
              SFX_CONSUME(e);
              *op++ = static_cast<uint8_t>(e >> 16);
              e = lit[static_cast<uint32_t>(buf) & kLitMask];
            }
            SFX_REFILL();
          } else {
            SFX_REFILL();
            e = lit[static_cast<uint32_t>(buf) & kLitMask];
          }
        } else {
          SFX_REFILL();
        }
        continue;
      }
      if (e & kExceptionalBits) {
        if (e & kPackedSubBit) {
          e = lit[(e >> 16) +
                  (static_cast<uint32_t>(buf >> kLitRoot) & kLitSubMask)];
          if (e & kPackedValueBit) {
            SFX_CONSUME(e);
            *op++ = static_cast<uint8_t>(e >> 16);
            SFX_REFILL();
            e = lit[static_cast<uint32_t>(buf) & kLitMask];
            continue;
          }
        }
        if (e & kPackedOtherBit) {
          if ((e >> 16) == kOtherEndOfBlock) {
            SFX_CONSUME(e);
            ended = true;
          } else {
            step = Step::kBadData;
          }
          break;
        }
      }
      // A length (at most 15 + 5 bits), then a distance (15 + 13).
      BitBuf saved = buf;
      SFX_CONSUME(e);
      const uint32_t length = SFX_VALUE(saved, e);
      if (kBufBits == 32) SFX_REFILL();
      uint32_t d = lit[kLitEntries + (static_cast<uint32_t>(buf) & kDistMask)];
      if (d & kExceptionalBits) {
        if (d & kPackedSubBit)
          d = lit[(d >> 16) +
                  (static_cast<uint32_t>(buf >> kDistRoot) & kDistSubMask)];
        if (!(d & kPackedValueBit)) {
          step = Step::kBadData;
          break;
        }
      }
      uint32_t distance;
      if (kBufBits == 64) {
        saved = buf;
        SFX_CONSUME(d);
        distance = SFX_VALUE(saved, d);
      } else {
        // 24 bits hold the code; then up to 13 extra bits.
        const uint32_t codeLen = d >> 8 & 31;
        const uint32_t extra = (d & 31) - codeLen;
        buf >>= codeLen;
        bits -= codeLen;
        if (static_cast<uint8_t>(bits) < extra) SFX_REFILL();
        distance =
            (d >> 16) + static_cast<uint32_t>(lowBits<kBmi2>(buf, extra));
        buf >>= extra;
        bits -= extra;
      }
      if (distance > static_cast<size_t>(op - out)) {
        step = Step::kBadData;
        break;
      }
      // The next code's entry first, so that its load overlaps the copy.
      SFX_REFILL();
      e = lit[static_cast<uint32_t>(buf) & kLitMask];
      copyMatch(op, length, distance);
      op += length;
    } while (ip < inFastEnd && op < opFastEnd);
#undef SFX_VALUE
#undef SFX_CONSUME
#undef SFX_REFILL

    w.ip = ip;
    w.op = op;
    w.buf = buf;
    w.bits = static_cast<uint8_t>(bits);
    if (step != Step::kOk || ended) return step;
  }

  // The careful loop: a symbol at a time, each bit count and the room left
  // checked.
  for (;;) {
    if (w.bits < kMaxCodeLength && !w.fill()) return Step::kBadData;
    uint32_t e = lit[static_cast<uint32_t>(w.buf) & kLitMask];
    if (e & kPackedSubBit)
      e = lit[(e >> 16) +
              (static_cast<uint32_t>(w.buf >> kLitRoot) & kLitSubMask)];
    if (e & kPackedValueBit) {
      w.take(e & 31);
      if (w.op == w.outEnd) return w.full();
      *w.op++ = static_cast<uint8_t>(e >> 16);
      continue;
    }
    if (e & kPackedOtherBit) {
      if ((e >> 16) != kOtherEndOfBlock) return Step::kBadData;
      w.take(e & 31);
      return Step::kOk;
    }
    uint32_t codeLen = e >> 8 & 31;
    uint32_t extra = (e & 31) - codeLen;
    w.take(codeLen);
    if (w.bits < extra && !w.fill()) return Step::kBadData;
    const uint32_t length = (e >> 16) + w.take(extra);

    if (w.bits < kMaxCodeLength && !w.fill()) return Step::kBadData;
    uint32_t d = lit[kLitEntries + (static_cast<uint32_t>(w.buf) & kDistMask)];
    if (d & kPackedSubBit)
      d = lit[(d >> 16) +
              (static_cast<uint32_t>(w.buf >> kDistRoot) & kDistSubMask)];
    if (!(d & kPackedValueBit)) return Step::kBadData;
    codeLen = d >> 8 & 31;
    extra = (d & 31) - codeLen;
    w.take(codeLen);
    if (w.bits < extra && !w.fill()) return Step::kBadData;
    const uint32_t distance = (d >> 16) + w.take(extra);
    if (distance > static_cast<size_t>(w.op - out)) return Step::kBadData;
    if (length > static_cast<size_t>(w.outEnd - w.op)) return w.full();
    const uint8_t* src = w.op - distance;
    for (uint32_t i = 0; i < length; ++i) w.op[i] = src[i];
    w.op += length;
  }
}

using HuffmanLoop = Step (*)(Whole&);

Step huffmanPortable(Whole& w) { return huffmanBlock<false>(w); }

#if SFX_INFLATE_BMI2
__attribute__((target("bmi2"))) Step huffmanBmi2(Whole& w) {
  return huffmanBlock<true>(w);
}

bool cpuHasBmi2() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
  const unsigned kBmi2 = 1u << 8;  // CPUID.(EAX=7, ECX=0):EBX bit 8
  return (b & kBmi2) != 0;
}
#else
bool cpuHasBmi2() { return false; }
#endif

// SFX_INFLATE_PORTABLE set to anything but "" or "0" forces the portable
// loop.
bool portableForced() {
  const char* v = std::getenv("SFX_INFLATE_PORTABLE");
  return v && *v && std::strcmp(v, "0") != 0;
}

WholeInflate decodeWhole(HuffmanLoop huffman, const uint8_t* input,
                         uint32_t count, uint8_t* out, uint32_t capacity,
                         uint32_t* produced) {
  if (!input) count = 0;
  Whole w(input, count, out, capacity);
  bool final = false;
  while (!final) {
    if (w.bits < 3 && !w.fill()) return WholeInflate::kBadData;
    final = (w.buf & 1) != 0;
    const uint32_t type = w.take(3) >> 1;
    Step step;
    if (type == 0) {
      step = storedBlock(w);
    } else if (type == 1) {
      if (!w.header.fixedTables) {
        buildFixedTables(w.tables, kLayout, false);
        w.header.fixedTables = true;
      }
      step = huffman(w);
    } else if (type == 2) {
      step = readDynamicHeader(w) ? huffman(w) : Step::kBadData;
    } else {
      return WholeInflate::kBadData;  // reserved block type
    }
    if (step == Step::kTooLarge) return WholeInflate::kTooLarge;
    if (step == Step::kBadData) return WholeInflate::kBadData;
  }
  if (w.truncated()) return WholeInflate::kBadData;
  *produced = static_cast<uint32_t>(w.op - out);
  return WholeInflate::kDone;
}

HuffmanLoop loopFor(WholeLoop loop) {
#if SFX_INFLATE_BMI2
  if (loop == WholeLoop::kBmi2 && wholeLoopAvailable(WholeLoop::kBmi2))
    return huffmanBmi2;
#else
  (void)loop;
#endif
  return huffmanPortable;
}

}  // namespace

bool wholeLoopAvailable(WholeLoop loop) {
  static const bool bmi2 = cpuHasBmi2();
  return loop == WholeLoop::kPortable || bmi2;
}

WholeLoop wholeLoopInUse() {
  static const WholeLoop inUse =
      !portableForced() && wholeLoopAvailable(WholeLoop::kBmi2)
          ? WholeLoop::kBmi2
          : WholeLoop::kPortable;
  return inUse;
}

WholeInflate inflateWholeWith(WholeLoop loop, const uint8_t* input,
                              uint32_t count, uint8_t* out, uint32_t capacity,
                              uint32_t* produced) {
  return decodeWhole(loopFor(loop), input, count, out, capacity, produced);
}

WholeInflate inflateWhole(const uint8_t* input, uint32_t count, uint8_t* out,
                          uint32_t capacity, uint32_t* produced) {
  static const HuffmanLoop huffman = loopFor(wholeLoopInUse());
  return decodeWhole(huffman, input, count, out, capacity, produced);
}

}  // namespace sfx
