// EncodingConvert: target dispatch, byte-order marks, the UTF-8 and UTF-16
// legs and the table legs, with UTF-16LE as the pivot between two pages.
#include "charset/encoding_convert.h"

#include "charset/code_page_tables.h"
#include "log/log_base.h"
#include "text/data_buffer.h"

namespace sfx {
namespace {

// Output is collected in a local block and appended to the DataBuffer in
// pieces of this size.
constexpr uint32_t kChunkSize = 512;

class ChunkWriter {
 public:
  explicit ChunkWriter(DataBuffer& out) : out_(out) {}
  ChunkWriter(const ChunkWriter&) = delete;
  ChunkWriter& operator=(const ChunkWriter&) = delete;

  void put(uint8_t b) {
    if (used_ == kChunkSize) flush();
    buf_[used_++] = b;
  }
  void putUnit(uint32_t unit) {
    put(static_cast<uint8_t>(unit & 0xFF));
    put(static_cast<uint8_t>((unit >> 8) & 0xFF));
  }
  // Appends what is pending; false once any append has failed.
  bool flush() {
    if (used_ && !out_.append(buf_, used_)) ok_ = false;
    used_ = 0;
    return ok_;
  }

 private:
  DataBuffer& out_;
  uint8_t buf_[kChunkSize];
  uint32_t used_ = 0;
  bool ok_ = true;
};

// Writes the replacement for `n` unmappable input bytes, as UTF-16LE units
// when `wideOut`, else as ASCII bytes.
void emitUnmappable(int action, const uint8_t* bad, uint32_t n, bool wideOut,
                    ChunkWriter& w) {
  if (action != EncodingConvert::kEmitHexCharRef) return;
  static const char kHex[] = "0123456789ABCDEF";
  auto put = [&](char c) {
    if (wideOut) {
      w.putUnit(static_cast<uint8_t>(c));
    } else {
      w.put(static_cast<uint8_t>(c));
    }
  };
  put('&');
  put('#');
  put('x');
  for (uint32_t i = 0; i < n; ++i) {
    put(kHex[bad[i] >> 4]);
    put(kHex[bad[i] & 0x0F]);
  }
  put(';');
}

inline uint32_t unitAt(const uint8_t* p) { return p[0] | (p[1] << 8); }
inline bool isHighSurrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool isLowSurrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

bool isUnicodePage(uint32_t cp) {
  return cp == kCodePageUtf8 || cp == kCodePageUtf16LE;
}

// Makes room in `out` for `expected` more bytes, so that a leg does not grow
// the buffer piece by piece. Failure is harmless: the leg then grows it.
void reserveMore(DataBuffer& out, uint64_t expected) {
  uint64_t want = out.getSize() + expected;
  if (want <= UINT32_MAX) out.ensureCapacity(static_cast<uint32_t>(want));
}

bool reportNoTable(uint32_t codePage, LogBase& log) {
  log.logError("No conversion table for this code page");
  log.logDataUint32("codePage", codePage);
  return false;
}

}  // namespace

bool EncodingConvert::setErrorAction(int action) {
  if (action != kEmitNothing && action != kEmitHexCharRef) return false;
  errorAction_ = action;
  return true;
}

bool EncodingConvert::EncConvert(uint32_t fromCodePage, uint32_t toCodePage,
                                 const uint8_t* bytes, uint32_t numBytes,
                                 DataBuffer& out, LogBase& log) {
  LogContextExitor ctx(log, "EncConvert");
  if (log.verbose()) {
    log.logDataUint32("fromCodePage", fromCodePage);
    log.logDataUint32("toCodePage", toCodePage);
  }
  if (!bytes) numBytes = 0;
  if (toCodePage == kCodePageNone) toCodePage = fromCodePage;
  if (fromCodePage == kCodePageNone || fromCodePage == toCodePage) {
    return out.append(bytes, numBytes);
  }
  if (toCodePage == kCodePageUtf16BE) {
    DataBuffer le;
    bool ok =
        EncConvert(fromCodePage, kCodePageUtf16LE, bytes, numBytes, le, log);
    uint8_t* p = le.getData();
    for (uint32_t i = 0; i + 1 < le.getSize(); i += 2) {
      uint8_t t = p[i];
      p[i] = p[i + 1];
      p[i + 1] = t;
    }
    return out.appendDb(le) && ok;
  }
  return convert_a(fromCodePage, toCodePage, bytes, numBytes, out, log);
}

bool EncodingConvert::convert_a(uint32_t fromCodePage, uint32_t toCodePage,
                                const uint8_t* bytes, uint32_t numBytes,
                                DataBuffer& out, LogBase& log) {
  LogContextExitor ctx(log, "convert_a");
  if (log.verbose()) {
    log.logDataUint32("fromCodePage", fromCodePage);
    log.logDataUint32("toCodePage", toCodePage);
  }

  // Byte-order marks: dropped; a UTF-16 mark overrides the stated order.
  if (fromCodePage == kCodePageUtf8) {
    if (numBytes >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB &&
        bytes[2] == 0xBF) {
      bytes += 3;
      numBytes -= 3;
    }
  } else if (fromCodePage == kCodePageUtf16LE ||
             fromCodePage == kCodePageUtf16BE) {
    if (numBytes >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
      fromCodePage = kCodePageUtf16BE;
      bytes += 2;
      numBytes -= 2;
    } else if (numBytes >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
      fromCodePage = kCodePageUtf16LE;
      bytes += 2;
      numBytes -= 2;
    }
  }
  if (numBytes == 0) return true;
  if (fromCodePage == toCodePage) return out.append(bytes, numBytes);

  // Big-endian input is brought to the pivot's order first.
  DataBuffer swapped;
  if (fromCodePage == kCodePageUtf16BE) {
    if (!swapped.append(bytes, numBytes)) {
      log.memoryAllocFailed(1, static_cast<int>(numBytes));
      return false;
    }
    uint8_t* p = swapped.getData();
    for (uint32_t i = 0; i + 1 < numBytes; i += 2) {
      uint8_t t = p[i];
      p[i] = p[i + 1];
      p[i + 1] = t;
    }
    bytes = p;
    fromCodePage = kCodePageUtf16LE;
    if (fromCodePage == toCodePage) return out.append(bytes, numBytes);
  }

  if (fromCodePage == kCodePageUtf16LE) {
    reserveMore(out, numBytes / 2);
    if (toCodePage == kCodePageUtf8)
      return convertFromUnicode(bytes, numBytes, out, log);
    return convertFromUnicodeHC(toCodePage, bytes, numBytes, out, log);
  }
  if (toCodePage == kCodePageUtf16LE) {
    reserveMore(out, 2ull * numBytes);
    if (fromCodePage == kCodePageUtf8)
      return convertToUnicode(bytes, numBytes, out, log);
    return convertToUnicodeHC(fromCodePage, bytes, numBytes, out, log);
  }

  // Two legs through UTF-16LE.
  if (!isUnicodePage(fromCodePage) && !singleByteCodePage(fromCodePage)) {
    return reportNoTable(fromCodePage, log);
  }
  if (!isUnicodePage(toCodePage) && !singleByteCodePage(toCodePage)) {
    return reportNoTable(toCodePage, log);
  }
  if (log.verbose()) {
    if (fromCodePage == kCodePageUtf8) {
      log.logInfo("Converting from utf-8 using utf-16 as a pivot table...");
    } else if (toCodePage == kCodePageUtf8) {
      log.logInfo("Converting to utf-8 using utf-16 as a pivot table...");
    } else {
      log.logInfo("Converting by using utf-16 as a pivot table...");
    }
  }
  DataBuffer pivot;
  reserveMore(pivot, 2ull * numBytes);
  bool firstOk =
      fromCodePage == kCodePageUtf8
          ? convertToUnicode(bytes, numBytes, pivot, log)
          : convertToUnicodeHC(fromCodePage, bytes, numBytes, pivot, log);
  reserveMore(out, pivot.getSize() / 2);
  bool secondOk =
      toCodePage == kCodePageUtf8
          ? convertFromUnicode(pivot.getData(), pivot.getSize(), out, log)
          : convertFromUnicodeHC(toCodePage, pivot.getData(), pivot.getSize(),
                                 out, log);
  return firstOk && secondOk;
}

bool EncodingConvert::convertToUnicode(const uint8_t* bytes, uint32_t numBytes,
                                       DataBuffer& out, LogBase& log) {
  LogContextExitor ctx(log, "convertToUnicode");
  ChunkWriter w(out);
  bool allMapped = true;
  uint32_t i = 0;
  while (i < numBytes) {
    uint8_t lead = bytes[i];
    uint32_t len = 0, cp = 0;
    if (lead < 0x80) {
      len = 1;
      cp = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      len = 2;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      len = 3;
      cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      len = 4;
      cp = lead & 0x07;
    }
    bool valid = len > 0 && len <= numBytes - i;
    for (uint32_t k = 1; valid && k < len; ++k) {
      uint8_t c = bytes[i + k];
      if ((c & 0xC0) != 0x80) valid = false;
      cp = (cp << 6) | (c & 0x3F);
    }
    // Overlong forms, encoded surrogates and values beyond U+10FFFF.
    if (valid &&
        ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
         (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))) {
      valid = false;
    }
    if (!valid) {
      allMapped = false;
      emitUnmappable(errorAction_, bytes + i, 1, true, w);
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      w.putUnit(0xD800 | (cp >> 10));
      w.putUnit(0xDC00 | (cp & 0x3FF));
    } else {
      w.putUnit(cp);
    }
    i += len;
  }
  return w.flush() && allMapped;
}

bool EncodingConvert::convertFromUnicode(const uint8_t* bytes,
                                         uint32_t numBytes, DataBuffer& out,
                                         LogBase& log) {
  LogContextExitor ctx(log, "convertFromUnicode");
  ChunkWriter w(out);
  bool allMapped = true;
  uint32_t i = 0;
  while (i + 1 < numBytes) {
    uint32_t u = unitAt(bytes + i);
    uint32_t used = 2;
    uint32_t cp = u;
    if (isHighSurrogate(u) && i + 3 < numBytes &&
        isLowSurrogate(unitAt(bytes + i + 2))) {
      cp = 0x10000 + ((u - 0xD800) << 10) + (unitAt(bytes + i + 2) - 0xDC00);
      used = 4;
    } else if (isHighSurrogate(u) || isLowSurrogate(u)) {
      allMapped = false;
      emitUnmappable(errorAction_, bytes + i, 2, false, w);
      i += 2;
      continue;
    }
    if (cp < 0x80) {
      w.put(static_cast<uint8_t>(cp));
    } else if (cp < 0x800) {
      w.put(static_cast<uint8_t>(0xC0 | (cp >> 6)));
      w.put(static_cast<uint8_t>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      w.put(static_cast<uint8_t>(0xE0 | (cp >> 12)));
      w.put(static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F)));
      w.put(static_cast<uint8_t>(0x80 | (cp & 0x3F)));
    } else {
      w.put(static_cast<uint8_t>(0xF0 | (cp >> 18)));
      w.put(static_cast<uint8_t>(0x80 | ((cp >> 12) & 0x3F)));
      w.put(static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F)));
      w.put(static_cast<uint8_t>(0x80 | (cp & 0x3F)));
    }
    i += used;
  }
  if (i < numBytes) {  // an odd trailing byte is half a code unit
    allMapped = false;
    emitUnmappable(errorAction_, bytes + i, 1, false, w);
  }
  return w.flush() && allMapped;
}

bool EncodingConvert::convertToUnicodeHC(uint32_t codePage,
                                         const uint8_t* bytes,
                                         uint32_t numBytes, DataBuffer& out,
                                         LogBase& log) {
  LogContextExitor ctx(log, "convertToUnicodeHC");
  if (log.verbose()) {
    log.logDataUint32("fromCodePage", codePage);
    log.logDataUint32("toCodePage", kCodePageUtf16LE);
    log.logDataUint32("inDataLen", numBytes);
  }
  const SingleByteCodePage* page = singleByteCodePage(codePage);
  if (!page) return reportNoTable(codePage, log);
  return convertToUnicodeByLookup(*page, bytes, numBytes, out, log);
}

bool EncodingConvert::convertToUnicodeByLookup(const SingleByteCodePage& page,
                                               const uint8_t* bytes,
                                               uint32_t numBytes,
                                               DataBuffer& out, LogBase& log) {
  LogContextExitor ctx(log, "convertToUnicodeByLookup");
  ChunkWriter w(out);
  bool allMapped = true;
  for (uint32_t i = 0; i < numBytes; ++i) {
    uint16_t unit = page.toUnicode(bytes[i]);
    if (unit == SingleByteCodePage::kUndefined) {
      allMapped = false;
      emitUnmappable(errorAction_, bytes + i, 1, true, w);
    } else {
      w.putUnit(unit);
    }
  }
  return w.flush() && allMapped;
}

bool EncodingConvert::convertFromUnicodeHC(uint32_t codePage,
                                           const uint8_t* bytes,
                                           uint32_t numBytes, DataBuffer& out,
                                           LogBase& log) {
  LogContextExitor ctx(log, "convertFromUnicodeHC");
  if (log.verbose()) {
    log.logDataUint32("fromCodePage", kCodePageUtf16LE);
    log.logDataUint32("toCodePage", codePage);
    log.logDataUint32("inDataLen", numBytes);
  }
  const SingleByteCodePage* page = singleByteCodePage(codePage);
  if (!page) return reportNoTable(codePage, log);
  ChunkWriter w(out);
  bool allMapped = true;
  uint32_t i = 0;
  while (i + 1 < numBytes) {
    uint32_t u = unitAt(bytes + i);
    uint8_t b = 0;
    if (isHighSurrogate(u) && i + 3 < numBytes &&
        isLowSurrogate(unitAt(bytes + i + 2))) {
      allMapped = false;  // no single-byte page holds a supplementary character
      emitUnmappable(errorAction_, bytes + i, 4, false, w);
      i += 4;
      continue;
    }
    if (page->fromUnicode(static_cast<uint16_t>(u), &b)) {
      w.put(b);
    } else {
      allMapped = false;
      emitUnmappable(errorAction_, bytes + i, 2, false, w);
    }
    i += 2;
  }
  if (i < numBytes) {
    allMapped = false;
    emitUnmappable(errorAction_, bytes + i, 1, false, w);
  }
  return w.flush() && allMapped;
}

}  // namespace sfx
