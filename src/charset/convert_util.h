// Helpers shared by the converter's source files: the block writer that
// collects output before appending it to a DataBuffer, and the UTF-8 and
// UTF-16 code-unit primitives. The packer's name checks decode and encode
// UTF-8 with the same two functions, so both sides agree on what is UTF-8.
#ifndef SFX_CHARSET_CONVERT_UTIL_H_
#define SFX_CHARSET_CONVERT_UTIL_H_

#include <cstdint>
#include <cstring>

#include "text/data_buffer.h"

namespace sfx {

// Collects output in a local block and appends it to `out` whenever `limit`
// bytes are pending (at most kCapacity), so that the DataBuffer grows in
// large steps. Once an append fails every later flush reports failure.
class ChunkWriter {
 public:
  static constexpr uint32_t kCapacity = 8192;

  explicit ChunkWriter(DataBuffer& out, uint32_t limit = kCapacity)
      : out_(out),
        limit_(limit < 16          ? 16
               : limit > kCapacity ? kCapacity
                                   : limit) {}
  ChunkWriter(const ChunkWriter&) = delete;
  ChunkWriter& operator=(const ChunkWriter&) = delete;

  void put(uint8_t b) {
    if (used_ == limit_) flush();
    buf_[used_++] = b;
  }
  // A UTF-16LE code unit.
  void putUnit(uint32_t unit) {
    if (used_ + 2 > limit_) flush();
    buf_[used_] = static_cast<uint8_t>(unit);
    buf_[used_ + 1] = static_cast<uint8_t>(unit >> 8);
    used_ += 2;
  }
  void putBytes(const uint8_t* p, uint32_t n) {
    while (n) {
      if (used_ == limit_) flush();
      uint32_t take = limit_ - used_ < n ? limit_ - used_ : n;
      memcpy(buf_ + used_, p, take);
      used_ += take;
      p += take;
      n -= take;
    }
  }
  // Free room of at least kMinSpan bytes for direct writes; *avail gets its
  // size. Write at most that much, then commit what was written.
  static constexpr uint32_t kMinSpan = 64;
  uint8_t* span(uint32_t* avail) {
    if (limit_ - used_ < kMinSpan) flush();
    *avail = limit_ - used_;
    return buf_ + used_;
  }
  // Room for `n` (at most 16) bytes written directly, then commit(n).
  uint8_t* room(uint32_t n) {
    if (used_ + n > limit_) flush();
    return buf_ + used_;
  }
  void commit(uint32_t n) { used_ += n; }
  // Where the next byte goes in the output buffer.
  uint32_t position() const { return out_.getSize() + used_; }

  // Appends what is pending; false once any append has failed.
  bool flush() {
    if (used_ && !out_.append(buf_, used_)) ok_ = false;
    used_ = 0;
    return ok_;
  }

 private:
  DataBuffer& out_;
  uint32_t limit_;
  uint32_t used_ = 0;
  bool ok_ = true;
  uint8_t buf_[kCapacity];
};

// Eight ASCII bytes widened to UTF-16LE / four ASCII UTF-16LE units
// narrowed, on a little-endian machine (the only kind the stub runs on;
// elsewhere byte by byte).
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
inline void widenAscii8(const uint8_t* in, uint8_t* out) {
  uint64_t word;
  memcpy(&word, in, 8);
  for (int half = 0; half < 2; ++half) {
    uint64_t x = (word >> (32 * half)) & 0xFFFFFFFFu;
    x = (x | (x << 16)) & 0x0000FFFF0000FFFFull;
    x = (x | (x << 8)) & 0x00FF00FF00FF00FFull;
    memcpy(out + 8 * half, &x, 8);
  }
}
inline void narrowAscii4(const uint8_t* in, uint8_t* out) {
  uint64_t x;
  memcpy(&x, in, 8);
  x = (x | (x >> 8)) & 0x0000FFFF0000FFFFull;
  x = (x | (x >> 16)) & 0xFFFFFFFFull;
  uint32_t y = static_cast<uint32_t>(x);
  memcpy(out, &y, 4);
}
#else
inline void widenAscii8(const uint8_t* in, uint8_t* out) {
  for (int k = 0; k < 8; ++k) {
    out[2 * k] = in[k];
    out[2 * k + 1] = 0;
  }
}
inline void narrowAscii4(const uint8_t* in, uint8_t* out) {
  for (int k = 0; k < 4; ++k) out[k] = in[2 * k];
}
#endif

inline uint32_t unitAt(const uint8_t* p) { return p[0] | (p[1] << 8); }
inline bool isHighSurrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool isLowSurrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Decodes one UTF-8 sequence at p[0..left). Returns its length and stores
// the code point in *cp, or returns 0 for a lead byte that does not start a
// valid sequence (a stray continuation byte, an overlong form, an encoded
// surrogate, a value beyond U+10FFFF, or a sequence cut short).
inline uint32_t decodeUtf8(const uint8_t* p, uint32_t left, uint32_t* cp) {
  uint8_t lead = p[0];
  uint32_t len, v;
  if (lead < 0x80) {
    *cp = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    len = 2;
    v = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    len = 3;
    v = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    len = 4;
    v = lead & 0x07;
  } else {
    return 0;
  }
  if (len > left) return 0;
  for (uint32_t k = 1; k < len; ++k) {
    uint8_t c = p[k];
    if ((c & 0xC0) != 0x80) return 0;
    v = (v << 6) | (c & 0x3F);
  }
  if ((len == 3 && (v < 0x800 || (v >= 0xD800 && v <= 0xDFFF))) ||
      (len == 4 && (v < 0x10000 || v > 0x10FFFF))) {
    return 0;
  }
  *cp = v;
  return len;
}

// Writes code point `cp` (not a surrogate, at most U+10FFFF) as UTF-8 into
// out[0..4); returns the length.
inline uint32_t encodeUtf8(uint32_t cp, uint8_t* out) {
  if (cp < 0x80) {
    out[0] = static_cast<uint8_t>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<uint8_t>(0xC0 | (cp >> 6));
    out[1] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<uint8_t>(0xE0 | (cp >> 12));
    out[1] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<uint8_t>(0xF0 | (cp >> 18));
  out[1] = static_cast<uint8_t>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
  return 4;
}

}  // namespace sfx

#endif  // SFX_CHARSET_CONVERT_UTIL_H_
