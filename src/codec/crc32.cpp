// The CRC-32 table and update loop.
#include "codec/crc32.h"

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

struct CrcTable {
  uint32_t entry[256];

  // Each byte value is bit-reversed into the top byte, run through eight
  // steps of the non-reflected polynomial, and the result bit-reversed: the
  // reflected table of 0xEDB88320.
  CrcTable() {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = reverseBits(n, 8) << 24;
      for (int k = 0; k < 8; ++k) {
        c = (c & 0x80000000u) ? (c << 1) ^ kPolynomial : (c << 1);
      }
      entry[n] = reverseBits(c, 32);
    }
  }
};

// Built on first use; the language guarantees that a concurrent first
// caller waits for the construction to finish.
const uint32_t* table() {
  static const CrcTable t;
  return t.entry;
}

}  // namespace

ZipCRC::ZipCRC() { table(); }

ZipCRC::~ZipCRC() = default;

void ZipCRC::update(const void* data, size_t len) {
  state_ = updateState(state_, data, len);
}

uint32_t ZipCRC::updateState(uint32_t state, const void* data, size_t len) {
  const uint32_t* t = table();
  const unsigned char* p = static_cast<const unsigned char*>(data);
#define SFX_CRC_STEP() state = t[(state ^ *p++) & 0xFFu] ^ (state >> 8)
  while (len >= 16) {
    SFX_CRC_STEP();
    SFX_CRC_STEP();
    SFX_CRC_STEP();
    SFX_CRC_STEP();
    SFX_CRC_STEP();
    SFX_CRC_STEP();
    SFX_CRC_STEP();
    SFX_CRC_STEP();
    SFX_CRC_STEP();
    SFX_CRC_STEP();
    SFX_CRC_STEP();
    SFX_CRC_STEP();
    SFX_CRC_STEP();
    SFX_CRC_STEP();
    SFX_CRC_STEP();
    SFX_CRC_STEP();
    len -= 16;
  }
  while (len--) SFX_CRC_STEP();
#undef SFX_CRC_STEP
  return state;
}

uint32_t ZipCRC::oneShot(const void* data, size_t len) {
  if (len == 0) return 0;
  return ~updateState(0xFFFFFFFFu, data, len);
}

}  // namespace sfx
