// EncodingConvert's other forms: UTF-7 (RFC 2152) to and from UTF-16LE,
// UTF-32 to and from UTF-8, ISO-2022-JP to and from Shift-JIS (932),
// ISO-2022-KR to and from the Korean page (949) and HZ to and from the
// Chinese page (936).
#include "charset/code_page_tables.h"
#include "charset/convert_util.h"
#include "charset/encoding_convert.h"
#include "text/data_buffer.h"

namespace sfx {
namespace {

const char kBase64[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int base64Value(uint8_t c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// RFC 2152 set D and the white space written directly; everything else
// but "+" goes into a base64 run.
bool isUtf7Direct(uint32_t u) {
  if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') ||
      (u >= '0' && u <= '9')) {
    return true;
  }
  switch (u) {
    case '\'':
    case '(':
    case ')':
    case ',':
    case '-':
    case '.':
    case '/':
    case ':':
    case '?':
    case ' ':
    case '\t':
    case '\r':
    case '\n':
      return true;
    default:
      return false;
  }
}

constexpr uint8_t kEsc = 0x1B;
constexpr uint8_t kSO = 0x0E;
constexpr uint8_t kSI = 0x0F;

// JIS X 0208 codes of the half-width katakana 0xA1-0xDF of 932 (U+FF61 to
// U+FF9F): their compatibility forms, with the sound marks U+309B/U+309C.
const uint16_t kFullWidthKana[63] = {
    0x2123, 0x2156, 0x2157, 0x2122, 0x2126, 0x2572, 0x2521, 0x2523, 0x2525,
    0x2527, 0x2529, 0x2563, 0x2565, 0x2567, 0x2543, 0x213C, 0x2522, 0x2524,
    0x2526, 0x2528, 0x252A, 0x252B, 0x252D, 0x252F, 0x2531, 0x2533, 0x2535,
    0x2537, 0x2539, 0x253B, 0x253D, 0x253F, 0x2541, 0x2544, 0x2546, 0x2548,
    0x254A, 0x254B, 0x254C, 0x254D, 0x254E, 0x254F, 0x2552, 0x2555, 0x2558,
    0x255B, 0x255E, 0x255F, 0x2560, 0x2561, 0x2562, 0x2564, 0x2566, 0x2568,
    0x2569, 0x256A, 0x256B, 0x256C, 0x256D, 0x256F, 0x2573, 0x212B, 0x212C,
};

bool isSjisLead(uint8_t b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

}  // namespace

bool EncodingConvert::decodeUtf7(const uint8_t* bytes, uint32_t numBytes,
                                 DataBuffer& out, LogBase& log) {
  ChunkWriter w(out);
  bool allMapped = true;
  bool inBase64 = false;
  uint32_t bits = 0, numBits = 0;
  uint32_t i = 0;
  while (i < numBytes) {
    uint8_t c = bytes[i];
    if (inBase64) {
      int v = base64Value(c);
      if (v >= 0) {
        bits = (bits << 6) | static_cast<uint32_t>(v);
        numBits += 6;
        if (numBits >= 16) {
          numBits -= 16;
          w.putUnit((bits >> numBits) & 0xFFFF);
          bits &= (1u << numBits) - 1;
        }
        ++i;
        continue;
      }
      // The run ends; a "-" that ends it is absorbed, leftover bits dropped.
      inBase64 = false;
      bits = numBits = 0;
      if (c == '-') ++i;
      continue;
    }
    if (c == '+') {
      if (i + 1 < numBytes && bytes[i + 1] == '-') {
        w.putUnit('+');
        i += 2;
      } else {
        inBase64 = true;
        ++i;
      }
      continue;
    }
    if (c < 0x80) {
      w.putUnit(c);
    } else {
      allMapped = false;
      emitUnmappable(bytes + i, 1, 2, kCodePageUtf7, w, log);
    }
    ++i;
  }
  return w.flush() && allMapped;
}

bool EncodingConvert::encodeUtf7(const uint8_t* bytes, uint32_t numBytes,
                                 DataBuffer& out) {
  ChunkWriter w(out);
  bool inBase64 = false;
  uint32_t bits = 0, numBits = 0;
  auto endRun = [&]() {
    if (numBits) w.put(kBase64[(bits << (6 - numBits)) & 0x3F]);
    w.put('-');
    inBase64 = false;
    bits = numBits = 0;
  };
  for (uint32_t i = 0; i + 1 < numBytes; i += 2) {
    uint32_t u = unitAt(bytes + i);
    if (isUtf7Direct(u)) {
      if (inBase64) endRun();
      w.put(static_cast<uint8_t>(u));
      continue;
    }
    if (u == '+' && !inBase64) {
      w.put('+');
      w.put('-');
      continue;
    }
    if (!inBase64) {
      w.put('+');
      inBase64 = true;
    }
    bits = (bits << 16) | u;
    numBits += 16;
    while (numBits >= 6) {
      numBits -= 6;
      w.put(kBase64[(bits >> numBits) & 0x3F]);
    }
    bits &= (1u << numBits) - 1;
  }
  if (inBase64) endRun();
  // An odd last byte is half a unit and has no character.
  return w.flush() && (numBytes % 2) == 0;
}

bool EncodingConvert::utf32ToUtf8(const uint8_t* bytes, uint32_t numBytes,
                                  bool bigEndian, DataBuffer& out,
                                  LogBase& log) {
  ChunkWriter w(out);
  bool allMapped = true;
  uint32_t i = 0;
  for (; i + 3 < numBytes; i += 4) {
    const uint8_t* p = bytes + i;
    uint32_t cp =
        bigEndian ? (uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3]
                  : (uint32_t(p[3]) << 24) | (p[2] << 16) | (p[1] << 8) | p[0];
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      allMapped = false;
      emitUnmappable(p, 4, 1, bigEndian ? kCodePageUtf32BE : kCodePageUtf32LE,
                     w, log);
      continue;
    }
    w.commit(encodeUtf8(cp, w.room(4)));
  }
  if (i < numBytes) {
    allMapped = false;
    emitUnmappable(bytes + i, numBytes - i, 1,
                   bigEndian ? kCodePageUtf32BE : kCodePageUtf32LE, w, log);
  }
  return w.flush() && allMapped;
}

bool EncodingConvert::utf8ToUtf32(const uint8_t* bytes, uint32_t numBytes,
                                  bool bigEndian, DataBuffer& out,
                                  LogBase& log) {
  ChunkWriter w(out);
  bool allMapped = true;
  uint32_t i = 0;
  while (i < numBytes) {
    uint32_t cp;
    uint32_t len = decodeUtf8(bytes + i, numBytes - i, &cp);
    if (len == 0) {
      allMapped = false;
      emitUnmappable(bytes + i, 1, 4, kCodePageUtf8, w, log);
      ++i;
      continue;
    }
    uint8_t* p = w.room(4);
    for (int k = 0; k < 4; ++k) {
      p[bigEndian ? 3 - k : k] = static_cast<uint8_t>(cp >> (8 * k));
    }
    w.commit(4);
    i += len;
  }
  return w.flush() && allMapped;
}

// ISO-2022-JP: ESC ( B and ESC ( J select ASCII, ESC $ @ and ESC $ B the
// JIS X 0208 pairs, ESC ( I half-width katakana; SO and SI shift katakana
// in and out. JIS pairs become Shift-JIS pairs by the usual arithmetic.
bool EncodingConvert::decodeIso2022Jp(const uint8_t* bytes, uint32_t numBytes,
                                      DataBuffer& out, LogBase& log) {
  enum Mode { kAscii, kJis0208, kKatakana } mode = kAscii;
  bool shiftedOut = false;
  ChunkWriter w(out);
  bool allMapped = true;
  uint32_t i = 0;
  while (i < numBytes) {
    uint8_t c = bytes[i];
    if (c == kEsc && i + 2 < numBytes) {
      uint8_t a = bytes[i + 1], b = bytes[i + 2];
      if (a == '(' && (b == 'B' || b == 'J')) {
        mode = kAscii;
        i += 3;
        continue;
      }
      if (a == '(' && b == 'I') {
        mode = kKatakana;
        i += 3;
        continue;
      }
      if (a == '$' && (b == '@' || b == 'B')) {
        mode = kJis0208;
        i += 3;
        continue;
      }
    }
    if (c == kSO) {
      shiftedOut = true;
      ++i;
      continue;
    }
    if (c == kSI) {
      shiftedOut = false;
      ++i;
      continue;
    }
    if (c >= 0x21 && c <= 0x7E && (shiftedOut || mode == kKatakana)) {
      if (c <= 0x5F) {
        w.put(static_cast<uint8_t>(c + 0x80));
      } else {
        allMapped = false;
        emitUnmappable(bytes + i, 1, 1, kCodePageIso2022Jp, w, log);
      }
      ++i;
      continue;
    }
    if (c >= 0x21 && c <= 0x7E && mode == kJis0208) {
      if (i + 1 >= numBytes || bytes[i + 1] < 0x21 || bytes[i + 1] > 0x7E) {
        allMapped = false;
        emitUnmappable(bytes + i, 1, 1, kCodePageIso2022Jp, w, log);
        ++i;
        continue;
      }
      uint32_t j1 = c, j2 = bytes[i + 1];
      uint32_t s1 = ((j1 + 1) >> 1) + (j1 <= 0x5E ? 0x70 : 0xB0);
      uint32_t s2 = (j1 & 1) ? j2 + (j2 >= 0x60 ? 0x20 : 0x1F) : j2 + 0x7E;
      w.put(static_cast<uint8_t>(s1));
      w.put(static_cast<uint8_t>(s2));
      i += 2;
      continue;
    }
    w.put(c);
    ++i;
  }
  return w.flush() && allMapped;
}

// 50220 writes half-width katakana as their full-width JIS X 0208 forms,
// 50221 after ESC ( I, 50222 between SO and SI. Every output that leaves
// ASCII returns to it with ESC ( B.
bool EncodingConvert::encodeIso2022Jp(uint32_t codePage, const uint8_t* bytes,
                                      uint32_t numBytes, DataBuffer& out,
                                      LogBase& log) {
  enum Mode { kAscii, kJis0208, kKatakana } mode = kAscii;
  bool shiftedOut = false;
  ChunkWriter w(out);
  bool allMapped = true;
  auto escape = [&](char a, char b) {
    w.put(kEsc);
    w.put(static_cast<uint8_t>(a));
    w.put(static_cast<uint8_t>(b));
  };
  auto toMode = [&](Mode m) {
    if (shiftedOut) {
      w.put(kSI);
      shiftedOut = false;
    }
    if (mode == m) return;
    mode = m;
    if (m == kAscii) escape('(', 'B');
    if (m == kJis0208) escape('$', 'B');
    if (m == kKatakana) escape('(', 'I');
  };
  uint32_t i = 0;
  while (i < numBytes) {
    uint8_t c = bytes[i];
    if (c < 0x80) {
      toMode(kAscii);
      w.put(c);
      ++i;
      continue;
    }
    if (c >= 0xA1 && c <= 0xDF) {
      if (codePage == kCodePageIso2022Jp) {
        toMode(kJis0208);
        w.put(static_cast<uint8_t>(kFullWidthKana[c - 0xA1] >> 8));
        w.put(static_cast<uint8_t>(kFullWidthKana[c - 0xA1] & 0xFF));
        ++i;
        continue;
      }
      if (codePage == kCodePageIso2022JpLast) {
        if (!shiftedOut) {
          toMode(kAscii);
          w.put(kSO);
          shiftedOut = true;
        }
      } else {
        toMode(kKatakana);
      }
      w.put(static_cast<uint8_t>(c - 0x80));
      ++i;
      continue;
    }
    if (isSjisLead(c) && i + 1 < numBytes) {
      uint32_t s1 = c, s2 = bytes[i + 1];
      if (s1 >= 0xE0) s1 -= 0x40;
      uint32_t j1 = (s1 - 0x81) * 2 + 0x21;
      uint32_t j2;
      if (s2 >= 0x9F) {
        j1 += 1;
        j2 = s2 - 0x7E;
      } else {
        j2 = s2 - (s2 >= 0x80 ? 0x20 : 0x1F);
      }
      if (s2 >= 0x40 && s2 <= 0xFC && s2 != 0x7F && j1 <= 0x7E && j2 >= 0x21 &&
          j2 <= 0x7E) {
        toMode(kJis0208);
        w.put(static_cast<uint8_t>(j1));
        w.put(static_cast<uint8_t>(j2));
        i += 2;
        continue;
      }
      // User-defined and vendor rows have no JIS X 0208 form.
      allMapped = false;
      emitUnmappable(bytes + i, 2, 1, kCodePageShiftJis, w, log);
      i += 2;
      continue;
    }
    allMapped = false;
    emitUnmappable(bytes + i, 1, 1, kCodePageShiftJis, w, log);
    ++i;
  }
  toMode(kAscii);
  return w.flush() && allMapped;
}

// ISO-2022-KR (RFC 1557): the designation ESC $ ) C, then SO shifts into
// KS X 1001 pairs written with the high bits cleared and SI back to ASCII.
bool EncodingConvert::decodeIso2022Kr(const uint8_t* bytes, uint32_t numBytes,
                                      DataBuffer& out, LogBase& log) {
  bool shiftedOut = false;
  ChunkWriter w(out);
  bool allMapped = true;
  uint32_t i = 0;
  while (i < numBytes) {
    uint8_t c = bytes[i];
    if (c == kEsc && i + 3 < numBytes && bytes[i + 1] == '$' &&
        bytes[i + 2] == ')' && bytes[i + 3] == 'C') {
      i += 4;
      continue;
    }
    if (c == kSO || c == kSI) {
      shiftedOut = c == kSO;
      ++i;
      continue;
    }
    if (shiftedOut && c >= 0x21 && c <= 0x7E) {
      if (i + 1 < numBytes && bytes[i + 1] >= 0x21 && bytes[i + 1] <= 0x7E) {
        w.put(static_cast<uint8_t>(c | 0x80));
        w.put(static_cast<uint8_t>(bytes[i + 1] | 0x80));
        i += 2;
      } else {
        allMapped = false;
        emitUnmappable(bytes + i, 1, 1, kCodePageIso2022Kr, w, log);
        ++i;
      }
      continue;
    }
    if (c >= 0x80) {
      allMapped = false;
      emitUnmappable(bytes + i, 1, 1, kCodePageIso2022Kr, w, log);
    } else {
      w.put(c);
    }
    ++i;
  }
  return w.flush() && allMapped;
}

bool EncodingConvert::encodeIso2022Kr(const uint8_t* bytes, uint32_t numBytes,
                                      DataBuffer& out, LogBase& log) {
  const CodePageTable* korean = codePageTable(kCodePageKorean);
  ChunkWriter w(out);
  bool allMapped = true;
  bool shiftedOut = false;
  static const uint8_t kDesignation[] = {kEsc, '$', ')', 'C'};
  if (numBytes) w.putBytes(kDesignation, 4);
  uint32_t i = 0;
  while (i < numBytes) {
    uint8_t c = bytes[i];
    if (c < 0x80) {
      if (shiftedOut) w.put(kSI);
      shiftedOut = false;
      w.put(c);
      ++i;
      continue;
    }
    bool lead = korean ? korean->isLeadByte(c) : c >= 0x81 && c <= 0xFE;
    uint32_t n = lead && i + 1 < numBytes ? 2 : 1;
    if (n == 2 && c >= 0xA1 && c <= 0xFE && bytes[i + 1] >= 0xA1 &&
        bytes[i + 1] <= 0xFE) {
      if (!shiftedOut) w.put(kSO);
      shiftedOut = true;
      w.put(static_cast<uint8_t>(c & 0x7F));
      w.put(static_cast<uint8_t>(bytes[i + 1] & 0x7F));
    } else {
      // The extended Hangul of 949 has no ISO-2022-KR form.
      allMapped = false;
      emitUnmappable(bytes + i, n, 1, kCodePageKorean, w, log);
    }
    i += n;
  }
  if (shiftedOut) w.put(kSI);
  return w.flush() && allMapped;
}

// HZ (RFC 1843): "~{" starts GB 2312 pairs written with the high bits
// cleared, "~}" ends them; "~~" is a tilde and "~" before a line end
// continues the line.
bool EncodingConvert::decodeHz(const uint8_t* bytes, uint32_t numBytes,
                               DataBuffer& out, LogBase& log) {
  bool inGb = false;
  ChunkWriter w(out);
  bool allMapped = true;
  uint32_t i = 0;
  while (i < numBytes) {
    uint8_t c = bytes[i];
    if (c == '~' && i + 1 < numBytes) {
      uint8_t next = bytes[i + 1];
      if (next == '{' || next == '}') {
        inGb = next == '{';
        i += 2;
        continue;
      }
      if (next == '~' && !inGb) {
        w.put('~');
        i += 2;
        continue;
      }
      if (next == '\n' && !inGb) {
        i += 2;
        continue;
      }
    }
    if (inGb && c >= 0x21 && c <= 0x7E) {
      if (i + 1 < numBytes && bytes[i + 1] >= 0x21 && bytes[i + 1] <= 0x7E) {
        w.put(static_cast<uint8_t>(c | 0x80));
        w.put(static_cast<uint8_t>(bytes[i + 1] | 0x80));
        i += 2;
      } else {
        allMapped = false;
        emitUnmappable(bytes + i, 1, 1, kCodePageHz, w, log);
        ++i;
      }
      continue;
    }
    if (c >= 0x80) {
      allMapped = false;
      emitUnmappable(bytes + i, 1, 1, kCodePageHz, w, log);
    } else {
      w.put(c);
    }
    ++i;
  }
  return w.flush() && allMapped;
}

bool EncodingConvert::encodeHz(const uint8_t* bytes, uint32_t numBytes,
                               DataBuffer& out, LogBase& log) {
  ChunkWriter w(out);
  bool allMapped = true;
  bool inGb = false;
  uint32_t i = 0;
  while (i < numBytes) {
    uint8_t c = bytes[i];
    if (c < 0x80) {
      if (inGb) {
        w.put('~');
        w.put('}');
        inGb = false;
      }
      if (c == '~') w.put('~');
      w.put(c);
      ++i;
      continue;
    }
    uint32_t n = i + 1 < numBytes ? 2 : 1;
    if (n == 2 && c >= 0xA1 && c <= 0xF7 && bytes[i + 1] >= 0xA1 &&
        bytes[i + 1] <= 0xFE) {
      if (!inGb) {
        w.put('~');
        w.put('{');
        inGb = true;
      }
      w.put(static_cast<uint8_t>(c & 0x7F));
      w.put(static_cast<uint8_t>(bytes[i + 1] & 0x7F));
    } else {
      // The GBK extensions of 936 have no HZ form.
      allMapped = false;
      emitUnmappable(bytes + i, n, 1, kCodePageGbk, w, log);
    }
    i += n;
  }
  if (inGb) {
    w.put('~');
    w.put('}');
  }
  return w.flush() && allMapped;
}

}  // namespace sfx
