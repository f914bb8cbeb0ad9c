// The binary-to-text encoders and the base64 decoder. Output is collected in
// a small local block and appended to the StringBuffer in pieces, after
// reserving an estimate of the whole output.
#include "text/content_coding.h"

#include <cstring>

#include "text/data_buffer.h"
#include "text/string_buffer.h"

namespace sfx {
namespace {

const char kHexDigits[] = "0123456789ABCDEF";
const char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Collects output bytes and appends them to a StringBuffer in blocks.
template <uint32_t kBlockSize>
class BlockWriter {
 public:
  explicit BlockWriter(StringBuffer& out) : out_(out) {}
  BlockWriter(const BlockWriter&) = delete;
  BlockWriter& operator=(const BlockWriter&) = delete;

  void put(char c) {
    if (used_ == kBlockSize) flush();
    block_[used_++] = c;
  }
  void putHexEscape(char lead, uint8_t b) {
    put(lead);
    put(kHexDigits[b >> 4]);
    put(kHexDigits[b & 0x0F]);
  }
  // Appends what is pending; false once any append has failed.
  bool flush() {
    if (used_ && !out_.appendN(block_, used_)) ok_ = false;
    used_ = 0;
    return ok_;
  }

 private:
  StringBuffer& out_;
  char block_[kBlockSize];
  uint32_t used_ = 0;
  bool ok_ = true;
};

// Reserves room for an estimated `expected` more bytes; failure is harmless
// because the appends grow the buffer themselves.
void reserve(StringBuffer& out, uint64_t expected) {
  if (expected < UINT32_MAX - out.getSize()) {
    out.expectNumBytes(static_cast<uint32_t>(expected));
  }
}

bool isAsciiAlnum(uint8_t c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9');
}

// Value of a base64 alphabet character, or -1.
int base64Value(uint8_t c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

void ContentCoding::setMaxLineLength(uint32_t length) {
  maxLineLength_ = length < kMinLineLength ? kMinLineLength : length;
}

bool ContentCoding::encodeBase64(const void* data, uint32_t numBytes,
                                 StringBuffer& out) {
  if (!data || numBytes == 0) return true;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  reserve(out, (static_cast<uint64_t>(numBytes) + 2) / 3 * 4);
  BlockWriter<2000> w(out);
  uint32_t i = 0;
  for (; i + 3 <= numBytes; i += 3) {
    uint32_t v = (p[i] << 16) | (p[i + 1] << 8) | p[i + 2];
    w.put(kBase64Alphabet[(v >> 18) & 63]);
    w.put(kBase64Alphabet[(v >> 12) & 63]);
    w.put(kBase64Alphabet[(v >> 6) & 63]);
    w.put(kBase64Alphabet[v & 63]);
  }
  uint32_t rest = numBytes - i;
  if (rest) {
    uint32_t v = p[i] << 16;
    if (rest == 2) v |= p[i + 1] << 8;
    w.put(kBase64Alphabet[(v >> 18) & 63]);
    w.put(kBase64Alphabet[(v >> 12) & 63]);
    w.put(rest == 2 ? kBase64Alphabet[(v >> 6) & 63] : '=');
    w.put('=');
  }
  return w.flush();
}

bool ContentCoding::encodeQuotedPrintable(const void* data, uint32_t numBytes,
                                          StringBuffer& out) const {
  if (!data || numBytes == 0) return true;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  const uint32_t lineLength = maxLineLength_;
  reserve(out, static_cast<uint64_t>(numBytes) * 3 / 2);
  BlockWriter<2000> w(out);
  auto crlfAt = [&](uint32_t at) {
    return at + 1 < numBytes && p[at] == '\r' && p[at + 1] == '\n';
  };
  uint32_t column = 0;
  auto softBreak = [&]() {
    w.put('=');
    w.put('\r');
    w.put('\n');
    column = 0;
  };
  for (uint32_t i = 0; i < numBytes; ++i) {
    uint8_t c = p[i];
    if (crlfAt(i)) {
      w.put('\r');
      w.put('\n');
      column = 0;
      ++i;
      continue;
    }
    bool escape;
    if (column == 0 && c == '.') {
      escape = true;
    } else if (column == 0 && c == 'F' && numBytes - i > 4 &&
               memcmp(p + i + 1, "rom ", 4) == 0) {
      escape = true;  // no line may start with "From "
    } else if ((c >= 33 && c <= 60) || (c >= 62 && c <= 126)) {
      escape = false;
    } else if (c == ' ' || c == '\t') {
      escape = i + 1 == numBytes || crlfAt(i + 1);
    } else {
      escape = true;
    }
    if (escape) {
      if (column + 3 >= lineLength) softBreak();
      w.putHexEscape('=', c);
      column += 3;
    } else {
      w.put(static_cast<char>(c));
      ++column;
    }
    if (column + 1 >= lineLength && !crlfAt(i + 1)) softBreak();
  }
  return w.flush();
}

bool ContentCoding::encodeHex(const void* data, uint32_t numBytes,
                              StringBuffer& out) {
  if (!data || numBytes == 0) return true;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  reserve(out, static_cast<uint64_t>(numBytes) * 2);
  BlockWriter<256> w(out);
  for (uint32_t i = 0; i < numBytes; ++i) {
    w.put(kHexDigits[p[i] >> 4]);
    w.put(kHexDigits[p[i] & 0x0F]);
  }
  return w.flush();
}

bool ContentCoding::encodeUrl(const void* data, uint32_t numBytes, UrlRule rule,
                              StringBuffer& out) {
  if (!data || numBytes == 0) return true;
  const char* keep = rule == kUrlRfc1738   ? "$-_.+!*'(),"
                     : rule == kUrlRfc2396 ? "-_.!~*'()"
                                           : "-.,_~";
  const uint8_t* p = static_cast<const uint8_t*>(data);
  reserve(out, numBytes);
  BlockWriter<256> w(out);
  for (uint32_t i = 0; i < numBytes; ++i) {
    uint8_t c = p[i];
    if (isAsciiAlnum(c) || (c != 0 && strchr(keep, c))) {
      w.put(static_cast<char>(c));
    } else {
      w.putHexEscape('%', c);
    }
  }
  return w.flush();
}

bool ContentCoding::decodeBase64(const char* text, uint32_t length,
                                 DataBuffer& out) {
  if (!text) return true;
  uint8_t group[4];
  uint32_t inGroup = 0;
  uint8_t block[256];
  uint32_t used = 0;
  bool ok = true;
  auto emit = [&](uint8_t b) {
    if (used == sizeof block) {
      ok = out.append(block, used) && ok;
      used = 0;
    }
    block[used++] = b;
  };
  for (uint32_t i = 0; i < length; ++i) {
    uint8_t c = static_cast<uint8_t>(text[i]);
    if (c == '=' || c == 0) break;
    int v = base64Value(c);
    if (v < 0) continue;  // CR, LF, tab, space, "." and strays
    group[inGroup++] = static_cast<uint8_t>(v);
    if (inGroup == 4) {
      emit(static_cast<uint8_t>((group[0] << 2) | (group[1] >> 4)));
      emit(static_cast<uint8_t>((group[1] << 4) | (group[2] >> 2)));
      emit(static_cast<uint8_t>((group[2] << 6) | group[3]));
      inGroup = 0;
    }
  }
  if (inGroup >= 2)
    emit(static_cast<uint8_t>((group[0] << 2) | (group[1] >> 4)));
  if (inGroup == 3)
    emit(static_cast<uint8_t>((group[1] << 4) | (group[2] >> 2)));
  if (used) ok = out.append(block, used) && ok;
  return ok;
}

}  // namespace sfx
