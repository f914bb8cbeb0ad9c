// The CRC-32 tables and update loops: a portable loop (slicing-by-16 tables
// driven as four interleaved lanes, of 64-bit words on 64-bit hosts) and, on
// x86 processors with PCLMULQDQ, a folding loop over 64-byte blocks with a
// Barrett reduction at the end, picked once at first use.
#include "codec/crc32.h"

#include <cstdint>
#include <cstring>
#include <new>

#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
#define SFX_CRC_X86 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace sfx {
namespace {

// Normal (non-reflected) form of the CRC-32 polynomial.
constexpr uint32_t kPolynomial = 0x04C11DB7u;

uint32_t reverseBits(uint32_t v, int width) {
  uint32_t r = 0;
  for (int i = 0; i < width; ++i) {
    r = (r << 1) | (v & 1u);
    v >>= 1;
  }
  return r;
}

// Bytes taken per pass of the portable loop, and tables: slicing-by-16.
constexpr int kSlices = 16;

// kSlices tables of 256 words (16 KB), built at first use rather than kept
// as data in the executable. Row 0 is the classic byte table; row k gives
// the CRC of a byte followed by k zero bytes, so kSlices lookups advance the
// state over kSlices bytes at once.
struct CrcTables {
  uint32_t row[kSlices][256];
#if UINTPTR_MAX > 0xFFFFFFFFu
  // wide[k]: byte k of a lane's 8-byte word moved over the rest of a
  // 32-byte block (31 - k zero bytes), for the 64-bit lanes.
  uint32_t wide[8][256];
#endif
};

// Each byte value is bit-reversed into the top byte, run through eight steps
// of the non-reflected polynomial, and the result bit-reversed: the
// reflected table of 0xEDB88320. The other rows follow from row 0.
bool buildTables(CrcTables* tables) {
  auto& row = tables->row;
#if UINTPTR_MAX > 0xFFFFFFFFu
  auto& wide = tables->wide;
#endif
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = reverseBits(n, 8) << 24;
    for (int k = 0; k < 8; ++k) {
      c = (c & 0x80000000u) ? (c << 1) ^ kPolynomial : (c << 1);
    }
    row[0][n] = reverseBits(c, 32);
  }
  for (int k = 1; k < kSlices; ++k) {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t prev = row[k - 1][n];
      row[k][n] = row[0][prev & 0xFFu] ^ (prev >> 8);
    }
  }
#if UINTPTR_MAX > 0xFFFFFFFFu
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = row[kSlices - 1][n];  // 15 zero bytes after the byte
    for (int z = 15; z < 24; ++z) c = row[0][c & 0xFFu] ^ (c >> 8);
    for (int k = 7; k >= 0; --k) {  // 24 zero bytes for k = 7, 31 for 0
      wide[k][n] = c;
      c = row[0][c & 0xFFu] ^ (c >> 8);
    }
  }
#endif
  return true;
}

// Allocated and built on first use, so the tables take no room in the
// executable (a static table is folded into 16 KB of data by the compiler,
// and a zero one too by the Windows toolchain). The language guarantees
// that a concurrent first caller waits for the construction to finish.
// Null when the allocation failed.
const CrcTables* tables() {
  static const CrcTables* const t = [] {
    CrcTables* built = new (std::nothrow) CrcTables;
    if (built) buildTables(built);
    return built;
  }();
  return t;
}

// Bit at a time, for a process that could not allocate the tables.
uint32_t bitwise(uint32_t state, const unsigned char* p, size_t len) {
  while (len--) {
    state ^= *p++;
    for (int k = 0; k < 8; ++k)
      state = (state >> 1) ^ ((state & 1u) ? 0xEDB88320u : 0u);
  }
  return state;
}

// A little-endian word; one load on a little-endian processor.
inline uint32_t load32(const unsigned char* p) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  uint32_t v;
  memcpy(&v, p, 4);
  return v;
#else
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
#endif
}

// One 16-byte slicing step: the state folded into the block's first word,
// each byte looked up in the row that moves it over the bytes after it.
inline uint32_t slice16(const CrcTables& t, uint32_t state,
                        const uint32_t w[4]) {
  uint32_t a = w[0] ^ state;
  return t.row[15][a & 0xFF] ^ t.row[14][(a >> 8) & 0xFF] ^
         t.row[13][(a >> 16) & 0xFF] ^ t.row[12][a >> 24] ^
         t.row[11][w[1] & 0xFF] ^ t.row[10][(w[1] >> 8) & 0xFF] ^
         t.row[9][(w[1] >> 16) & 0xFF] ^ t.row[8][w[1] >> 24] ^
         t.row[7][w[2] & 0xFF] ^ t.row[6][(w[2] >> 8) & 0xFF] ^
         t.row[5][(w[2] >> 16) & 0xFF] ^ t.row[4][w[2] >> 24] ^
         t.row[3][w[3] & 0xFF] ^ t.row[2][(w[3] >> 8) & 0xFF] ^
         t.row[1][(w[3] >> 16) & 0xFF] ^ t.row[0][w[3] >> 24];
}

// A lane's word moved over the 16 bytes of its block: the register value to
// fold into the same lane's word of the next block.
inline uint32_t advanceLane(const CrcTables& t, uint32_t v) {
  return t.row[15][v & 0xFF] ^ t.row[14][(v >> 8) & 0xFF] ^
         t.row[13][(v >> 16) & 0xFF] ^ t.row[12][v >> 24];
}

#if UINTPTR_MAX > 0xFFFFFFFFu
inline uint64_t load64(const unsigned char* p) {
  return load32(p) | static_cast<uint64_t>(load32(p + 4)) << 32;
}

// A lane's 8-byte word moved over its 32-byte block.
inline uint64_t advanceWide(const CrcTables& t, uint64_t v) {
  return t.wide[0][v & 0xFF] ^ t.wide[1][(v >> 8) & 0xFF] ^
         t.wide[2][(v >> 16) & 0xFF] ^ t.wide[3][(v >> 24) & 0xFF] ^
         t.wide[4][(v >> 32) & 0xFF] ^ t.wide[5][(v >> 40) & 0xFF] ^
         t.wide[6][(v >> 48) & 0xFF] ^ t.wide[7][v >> 56];
}
#endif

// The 32-bit-word lanes and the slicing tail; any length.
uint32_t narrow(uint32_t state, const unsigned char* p, size_t len) {
  if (!tables()) return bitwise(state, p, len);
  const CrcTables& t = *tables();
  if (len >= 32) {
    // Four interleaved lanes of 32-bit words: lane n takes word n of every
    // 16-byte block, so the four chains of lookups run side by side. Each lane
    // carries its register into its word of the next block; the last block
    // takes the carries and one slicing step joins them into the state.
    uint32_t c[4] = {state, 0, 0, 0};
    size_t blocks = len / 16;
    for (size_t i = 0; i + 1 < blocks; ++i) {
      uint32_t v0 = load32(p) ^ c[0], v1 = load32(p + 4) ^ c[1];
      uint32_t v2 = load32(p + 8) ^ c[2], v3 = load32(p + 12) ^ c[3];
      c[0] = advanceLane(t, v0);
      c[1] = advanceLane(t, v1);
      c[2] = advanceLane(t, v2);
      c[3] = advanceLane(t, v3);
      p += 16;
    }
    uint32_t last[4] = {load32(p) ^ c[0], load32(p + 4) ^ c[1],
                        load32(p + 8) ^ c[2], load32(p + 12) ^ c[3]};
    state = slice16(t, 0, last);
    p += 16;
    len -= blocks * 16;
  }
  while (len >= 16) {
    uint32_t w[4] = {load32(p), load32(p + 4), load32(p + 8), load32(p + 12)};
    state = slice16(t, state, w);
    p += 16;
    len -= 16;
  }
  while (len--) state = t.row[0][(state ^ *p++) & 0xFFu] ^ (state >> 8);
  return state;
}

uint32_t portable(uint32_t state, const unsigned char* p, size_t len) {
#if UINTPTR_MAX > 0xFFFFFFFFu
  if (len >= 64 && tables()) {
    const CrcTables& t = *tables();
    // Four interleaved lanes of 64-bit words over 32-byte blocks: the
    // lanes' chains of lookups run side by side. Each lane carries its 32-bit
    // register into the low half of its word of the next block; the last
    // block takes the carries and two slicing steps join them into the
    // state.
    uint64_t c0 = state, c1 = 0, c2 = 0, c3 = 0;
    size_t blocks = len / 32;
    for (size_t i = 0; i + 1 < blocks; ++i) {
      uint64_t v0 = load64(p) ^ c0, v1 = load64(p + 8) ^ c1;
      uint64_t v2 = load64(p + 16) ^ c2, v3 = load64(p + 24) ^ c3;
      c0 = advanceWide(t, v0);
      c1 = advanceWide(t, v1);
      c2 = advanceWide(t, v2);
      c3 = advanceWide(t, v3);
      p += 32;
    }
    uint32_t w[4] = {load32(p) ^ static_cast<uint32_t>(c0), load32(p + 4),
                     load32(p + 8) ^ static_cast<uint32_t>(c1), load32(p + 12)};
    state = slice16(t, 0, w);
    uint32_t x[4] = {load32(p + 16) ^ static_cast<uint32_t>(c2),
                     load32(p + 20),
                     load32(p + 24) ^ static_cast<uint32_t>(c3),
                     load32(p + 28)};
    state = slice16(t, state, x);
    p += 32;
    len -= blocks * 32;
  }
#endif
  return narrow(state, p, len);
}

#ifdef SFX_CRC_X86

// Folding constants for the reflected polynomial: x^(k) mod P(x) for the
// distances of the folds, bit-reflected and shifted left by one
// (k1 = x^(4*128+32), k2 = x^(4*128-32): 64-byte folds; k3 = x^(128+32),
// k4 = x^(128-32): 16-byte folds; k5 = x^64: 64 to 32 bits), then P(x)
// itself and the Barrett quotient u = floor(x^64 / P(x)), both reflected.
constexpr uint64_t kK1 = 0x0154442bd4ull, kK2 = 0x01c6e41596ull;
constexpr uint64_t kK3 = 0x01751997d0ull, kK4 = 0x00ccaa009eull;
constexpr uint64_t kK5 = 0x0163cd6124ull;
constexpr uint64_t kPoly = 0x01db710641ull, kMu = 0x01f7011641ull;

__attribute__((target("pclmul,sse2"))) inline __m128i pair(uint64_t lo,
                                                            uint64_t hi) {
  return _mm_set_epi32(static_cast<int>(hi >> 32), static_cast<int>(hi),
                       static_cast<int>(lo >> 32), static_cast<int>(lo));
}

__attribute__((target("pclmul,sse2"))) inline __m128i fold(__m128i acc,
                                                            __m128i k,
                                                            __m128i next) {
  __m128i lo = _mm_clmulepi64_si128(acc, k, 0x00);
  __m128i hi = _mm_clmulepi64_si128(acc, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(lo, hi), next);
}

// Expects len >= 64 and a multiple of 16; returns the raw state.
__attribute__((target("pclmul,sse2"))) uint32_t clmulBlocks(
    uint32_t state, const unsigned char* p, size_t len) {
  const __m128i* v = reinterpret_cast<const __m128i*>(p);
  __m128i x1 = _mm_loadu_si128(v);
  __m128i x2 = _mm_loadu_si128(v + 1);
  __m128i x3 = _mm_loadu_si128(v + 2);
  __m128i x4 = _mm_loadu_si128(v + 3);
  x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(static_cast<int>(state)));
  p += 64;
  len -= 64;
  __m128i k = pair(kK1, kK2);
  while (len >= 64) {
    v = reinterpret_cast<const __m128i*>(p);
    x1 = fold(x1, k, _mm_loadu_si128(v));
    x2 = fold(x2, k, _mm_loadu_si128(v + 1));
    x3 = fold(x3, k, _mm_loadu_si128(v + 2));
    x4 = fold(x4, k, _mm_loadu_si128(v + 3));
    p += 64;
    len -= 64;
  }
  k = pair(kK3, kK4);
  x1 = fold(x1, k, x2);
  x1 = fold(x1, k, x3);
  x1 = fold(x1, k, x4);
  while (len >= 16) {
    x1 = fold(x1, k, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    p += 16;
    len -= 16;
  }
  // 128 bits to 64: the low half times k4 onto the high half.
  const __m128i mask32 = _mm_setr_epi32(~0, 0, ~0, 0);
  __m128i x = _mm_xor_si128(_mm_srli_si128(x1, 8),
                            _mm_clmulepi64_si128(x1, k, 0x10));
  // 64 bits to 32: the low word times k5 onto the rest.
  __m128i k5 = pair(kK5, 0);
  x = _mm_xor_si128(_mm_srli_si128(x, 4),
                    _mm_clmulepi64_si128(_mm_and_si128(x, mask32), k5, 0x00));
  // Barrett reduction to the 32-bit remainder.
  __m128i pu = pair(kPoly, kMu);
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, mask32), pu, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), pu, 0x00);
  x = _mm_xor_si128(x, t);
  return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(x, 4)));
}

bool cpuHasClmul() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  const unsigned kPclmulqdq = 1u << 1, kSse2 = 1u << 26;
  return (c & kPclmulqdq) && (d & kSse2);
}

uint32_t clmul(uint32_t state, const unsigned char* p, size_t len) {
  if (len >= 64) {
    size_t blocks = len & ~static_cast<size_t>(15);
    state = clmulBlocks(state, p, blocks);
    p += blocks;
    len -= blocks;
  }
  return portable(state, p, len);
}

#else

bool cpuHasClmul() { return false; }

uint32_t clmul(uint32_t state, const unsigned char* p, size_t len) {
  return portable(state, p, len);
}

#endif  // SFX_CRC_X86

using UpdateFn = uint32_t (*)(uint32_t, const unsigned char*, size_t);

struct Dispatch {
  bool hasClmul;
  UpdateFn update;
  Dispatch() : hasClmul(cpuHasClmul()), update(hasClmul ? clmul : portable) {
    tables();
  }
};

const Dispatch& dispatch() {
  static const Dispatch d;
  return d;
}

}  // namespace

ZipCRC::ZipCRC() { dispatch(); }

ZipCRC::~ZipCRC() = default;

void ZipCRC::update(const void* data, size_t len) {
  state_ = updateState(state_, data, len);
}

uint32_t ZipCRC::updateState(uint32_t state, const void* data, size_t len) {
  return dispatch().update(state, static_cast<const unsigned char*>(data), len);
}

uint32_t ZipCRC::updatePortable(uint32_t state, const void* data, size_t len) {
  return portable(state, static_cast<const unsigned char*>(data), len);
}

uint32_t ZipCRC::updatePortableNarrow(uint32_t state, const void* data,
                                     size_t len) {
  return narrow(state, static_cast<const unsigned char*>(data), len);
}

uint32_t ZipCRC::updateClmul(uint32_t state, const void* data, size_t len) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  return dispatch().hasClmul ? clmul(state, p, len) : portable(state, p, len);
}

bool ZipCRC::hasClmul() { return dispatch().hasClmul; }

uint32_t ZipCRC::oneShot(const void* data, size_t len) {
  if (len == 0) return 0;
  return ~updateState(0xFFFFFFFFu, data, len);
}

}  // namespace sfx
