// The resumable Deflate decoder: the block state machine with its fast
// loop, the read loop over a DataSource and the zlib wrapper check. The
// tables and the block headers are read in inflate_header.cpp.
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

constexpr uint32_t kRootMask = (1u << kRootWidthCap) - 1;

// ---- Bits and bytes ---------------------------------------------------------

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
constexpr TableLayout kLayout = {kRootWidthCap, kRootWidthCap, kLiteralEntries,
                                 kDistanceEntries};

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

// ---- The fast loop ----------------------------------------------------------

// Bytes allocated after the window's end for the fast loop's writes.
constexpr uint32_t kWindowSlack = 258 + 16 + 14;

// A refill leaves at least this many bits in the buffer (24 or 56), more
// than the longest code (15) or extra-bits field (16) the loop asks for.
constexpr int kRefillFloor = kBitBufBits - 8;

// The value of a length or distance entry `e` whose code and extra bits are
// at the bottom of `bits`: its base plus the extra bits.
inline uint32_t entryValue(BitBuf bits, uint32_t e) {
  return (e >> 16) +
         static_cast<uint32_t>((bits & ((BitBuf{1} << (e & 31)) - 1)) >>
                               (e >> 8 & 31));
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
    copy8Until(dst, src, end);
  } else if (distance == 1) {
    store8Until(dst, src[0] * UINT64_C(0x0101010101010101), end);
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
          if (!s.fixedTables) {
            buildFixedTables(s.tables, kLayout, s.deflate64);
            s.fixedTables = true;
          }
          s.mode = kLiteralLength;
        } else if (type == 2) {
          s.mode = kDynamicHeader;
        } else {
          err = kErrReservedBlockType;
        }
        break;
      }

      case kDynamicHeader:
      case kCodeLengthCodes:
      case kCodeLengths:
      case kRepeat: {
        const int32_t r = readDynamicHeader(s, s.tables, kLayout);
        if (r == kHeaderNeedsBits)
          needMore = true;
        else if (r != kHeaderDone)
          err = r;
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
