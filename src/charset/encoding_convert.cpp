// EncodingConvert: source pre-passes and target dispatch, byte-order marks,
// the UTF-8 and UTF-16 legs and the table legs, with UTF-16LE as the pivot
// between two pages, and the error actions for unmappable input.
#include "charset/encoding_convert.h"

#include "charset/charset_names.h"
#include "charset/code_page_tables.h"
#include "charset/convert_util.h"
#include "log/log_base.h"
#include "text/data_buffer.h"

namespace sfx {
namespace {

// Bytes of a first pivot leg meant for the final output are written as
// this marker, a count byte (1-255) and the bytes. In UTF-16LE the marker
// reads as U+EFFD, a private-use character that the text may hold too: the
// first leg records where it wrote each marker, and the second leg takes
// only those as markers.
constexpr uint8_t kPassMark0 = 0xFD;
constexpr uint8_t kPassMark1 = 0xEF;
constexpr uint32_t kPassMarkUnit = kPassMark0 | (kPassMark1 << 8);

// The table conversions append their output in pieces of this size.
constexpr uint32_t kLookupChunk = 512;

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
  if (hasCodePageTable(codePage)) {
    log.logError("Out of memory unpacking a code page table");
  } else {
    log.logError("No conversion table for this code page");
  }
  log.logDataUint32("codePage", codePage);
  return false;
}

void swapPairs(uint8_t* p, uint32_t n) {
  for (uint32_t i = 0; i + 1 < n; i += 2) {
    uint8_t t = p[i];
    p[i] = p[i + 1];
    p[i + 1] = t;
  }
}

bool startsWith(const uint8_t* p, uint32_t n, const char* mark, uint32_t len) {
  if (n < len) return false;
  for (uint32_t i = 0; i < len; ++i) {
    if (p[i] != static_cast<uint8_t>(mark[i])) return false;
  }
  return true;
}

// The byte-order marks of UTF-16 and UTF-32 and the page each one names.
// The UTF-32LE mark begins with the UTF-16LE one, but only a UTF-32 page
// looks for it.
struct ByteOrderMark {
  uint32_t family;  // the little-endian page of the form
  uint32_t page;
  const char* bytes;
  uint32_t length;
};
constexpr ByteOrderMark kByteOrderMarks[] = {
    {kCodePageUtf16LE, kCodePageUtf16BE, "\xFE\xFF", 2},
    {kCodePageUtf16LE, kCodePageUtf16LE, "\xFF\xFE", 2},
    {kCodePageUtf32LE, kCodePageUtf32BE, "\0\0\xFE\xFF", 4},
    {kCodePageUtf32LE, kCodePageUtf32LE, "\xFF\xFE\0\0", 4},
};

// For a UTF-16 or UTF-32 page: drops a byte-order mark of that form from
// the front of the input and returns the page it names (it overrides the
// order the page gave). Any other page, or no mark, is returned as it is.
uint32_t takeByteOrderMark(uint32_t page, const uint8_t** bytes,
                           uint32_t* numBytes) {
  uint32_t family = page;
  if (page == kCodePageUtf16BE) family = kCodePageUtf16LE;
  if (page == kCodePageUtf32BE) family = kCodePageUtf32LE;
  for (const ByteOrderMark& m : kByteOrderMarks) {
    if (m.family == family &&
        startsWith(*bytes, *numBytes, m.bytes, m.length)) {
      *bytes += m.length;
      *numBytes -= m.length;
      return m.page;
    }
  }
  return page;
}

}  // namespace

bool EncodingConvert::setErrorAction(int action) {
  switch (action) {
    case kEmitNothing:
    case kEmitReplacement:
    case kEmitHexCharRef:
    case kEmitAltCodePage:
    case kEmitUnchanged:
      errorAction_ = action;
      return true;
    default:
      return false;
  }
}

bool EncodingConvert::setReplacement(const uint8_t* bytes, uint32_t numBytes) {
  if (numBytes > kMaxReplacement || (numBytes && !bytes)) return false;
  for (uint32_t i = 0; i < numBytes; ++i) replacement_[i] = bytes[i];
  replacementLen_ = numBytes;
  return true;
}

void EncodingConvert::emitFinalBytes(const uint8_t* p, uint32_t n,
                                     ChunkWriter& w) {
  if (!firstLeg_) {
    w.putBytes(p, n);
    return;
  }
  while (n) {
    uint32_t take = n > 255 ? 255 : n;
    const uint32_t at = w.position();
    if (!passMarks_ || !passMarks_->append(&at, sizeof at)) {
      passMarksLost_ = true;
      return;
    }
    w.put(kPassMark0);
    w.put(kPassMark1);
    w.put(static_cast<uint8_t>(take));
    w.putBytes(p, take);
    p += take;
    n -= take;
  }
}

bool EncodingConvert::takePassMark(uint32_t at) {
  if (!passMarks_) return false;
  const uint32_t* marks =
      reinterpret_cast<const uint32_t*>(passMarks_->getData());
  const uint32_t count = passMarks_->getSize() / sizeof(uint32_t);
  while (passMarkNext_ < count && marks[passMarkNext_] < at) ++passMarkNext_;
  if (passMarkNext_ == count || marks[passMarkNext_] != at) return false;
  ++passMarkNext_;
  return true;
}

void EncodingConvert::emitUnmappable(const uint8_t* bad, uint32_t n,
                                     uint32_t unitWidth, uint32_t legFrom,
                                     ChunkWriter& w, LogBase& log) {
  switch (errorAction_) {
    case kEmitReplacement:
      emitFinalBytes(replacement_, replacementLen_, w);
      break;
    case kEmitHexCharRef: {
      static const char kHex[] = "0123456789ABCDEF";
      uint8_t ref[3 + 2 * 8 + 1];
      uint32_t len = 0;
      ref[len++] = '&';
      ref[len++] = '#';
      ref[len++] = 'x';
      for (uint32_t i = 0; i < n && i < 8; ++i) {
        ref[len++] = kHex[bad[i] >> 4];
        ref[len++] = kHex[bad[i] & 0x0F];
      }
      ref[len++] = ';';
      if (firstLeg_ || unitWidth == 1) {
        emitFinalBytes(ref, len, w);
      } else {
        for (uint32_t i = 0; i < len; ++i) {
          w.put(ref[i]);
          for (uint32_t k = 1; k < unitWidth; ++k) w.put(0);
        }
      }
      break;
    }
    case kEmitAltCodePage: {
      uint32_t alt = altCodePage_ ? altCodePage_ : toCodePage_;
      // A conversion of its own, silent about what it cannot map either.
      int savedAction = errorAction_;
      bool savedFirst = firstLeg_, savedSecond = secondLeg_;
      errorAction_ = kEmitNothing;
      firstLeg_ = secondLeg_ = false;
      DataBuffer converted;
      EncConvert(legFrom, alt, bad, n, converted, log);
      errorAction_ = savedAction;
      firstLeg_ = savedFirst;
      secondLeg_ = savedSecond;
      emitFinalBytes(converted.getData(), converted.getSize(), w);
      break;
    }
    case kEmitUnchanged:
      emitFinalBytes(bad, n, w);
      break;
    default:
      break;
  }
}

bool EncodingConvert::ConvertFromCharset(const char* fromCharset,
                                         uint32_t toCodePage,
                                         const uint8_t* bytes,
                                         uint32_t numBytes, DataBuffer& out,
                                         LogBase& log) {
  uint32_t fromCodePage = charsetToCodePage(fromCharset);
  if (fromCodePage == kCodePageNone) {
    log.logError("Unrecognized fromCharset");
    log.logData("charsetName", fromCharset ? fromCharset : "");
    return false;
  }
  return EncConvert(fromCodePage, toCodePage, bytes, numBytes, out, log);
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

  // The outermost call records its pages and clears the leg flags at the
  // end, whatever path it took.
  struct Scope {
    EncodingConvert& c;
    Scope(EncodingConvert& conv, uint32_t from, uint32_t to) : c(conv) {
      if (c.depth_++ == 0) {
        c.fromCodePage_ = from;
        c.toCodePage_ = to;
      }
    }
    ~Scope() {
      if (--c.depth_ == 0) {
        c.fromCodePage_ = c.toCodePage_ = 0;
        c.firstLeg_ = c.secondLeg_ = false;
      }
    }
  } scope(*this, fromCodePage, toCodePage);

  // Source pre-passes.
  if (fromCodePage >= kCodePageIso2022Jp &&
      fromCodePage <= kCodePageIso2022JpLast) {
    if (log.verbose()) log.logInfo("Converting from iso-2022-*");
    DataBuffer sjis;
    bool ok = decodeIso2022Jp(bytes, numBytes, sjis, log);
    if (toCodePage == kCodePageShiftJis) return out.appendDb(sjis) && ok;
    return EncConvert(kCodePageShiftJis, toCodePage, sjis.getData(),
                      sjis.getSize(), out, log) &&
           ok;
  }
  if (fromCodePage == kCodePageIso2022Kr) {
    DataBuffer korean;
    bool ok = decodeIso2022Kr(bytes, numBytes, korean, log);
    return EncConvert(kCodePageKorean, toCodePage, korean.getData(),
                      korean.getSize(), out, log) &&
           ok;
  }
  if (fromCodePage == kCodePageHz) {
    DataBuffer gbk;
    bool ok = decodeHz(bytes, numBytes, gbk, log);
    return EncConvert(kCodePageGbk, toCodePage, gbk.getData(), gbk.getSize(),
                      out, log) &&
           ok;
  }
  // Mac Arabic (10004) has no pre-pass of its own here: its bytes convert
  // by the page's table alone, without reordering any runs.

  // Target dispatch.
  switch (toCodePage) {
    case kCodePageUtf7: {
      DataBuffer wide;
      bool ok = EncConvert(fromCodePage, kCodePageUtf16LE, bytes, numBytes,
                           wide, log);
      return encodeUtf7(wide.getData(), wide.getSize(), out) && ok;
    }
    case kCodePageUtf32LE:
    case kCodePageUtf32BE: {
      DataBuffer utf8;
      bool ok =
          EncConvert(fromCodePage, kCodePageUtf8, bytes, numBytes, utf8, log);
      return utf8ToUtf32(utf8.getData(), utf8.getSize(),
                         toCodePage == kCodePageUtf32BE, out, log) &&
             ok;
    }
    case kCodePageUtf16BE: {
      DataBuffer le;
      bool ok =
          EncConvert(fromCodePage, kCodePageUtf16LE, bytes, numBytes, le, log);
      swapPairs(le.getData(), le.getSize());
      return out.appendDb(le) && ok;
    }
    case kCodePageIso2022Kr: {
      DataBuffer korean;
      bool ok = EncConvert(fromCodePage, kCodePageKorean, bytes, numBytes,
                           korean, log);
      return encodeIso2022Kr(korean.getData(), korean.getSize(), out, log) &&
             ok;
    }
    case kCodePageHz: {
      DataBuffer gbk;
      bool ok =
          EncConvert(fromCodePage, kCodePageGbk, bytes, numBytes, gbk, log);
      return encodeHz(gbk.getData(), gbk.getSize(), out, log) && ok;
    }
    default:
      break;
  }
  if (toCodePage >= kCodePageIso2022Jp &&
      toCodePage <= kCodePageIso2022JpLast) {
    DataBuffer sjis;
    bool ok =
        EncConvert(fromCodePage, kCodePageShiftJis, bytes, numBytes, sjis, log);
    return encodeIso2022Jp(toCodePage, sjis.getData(), sjis.getSize(), out,
                           log) &&
           ok;
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

  // Byte-order marks: dropped; a UTF-16 or UTF-32 mark overrides the order
  // the code page gave.
  if (fromCodePage == kCodePageUtf8) {
    if (startsWith(bytes, numBytes, "\xEF\xBB\xBF", 3)) {
      bytes += 3;
      numBytes -= 3;
    }
  } else {
    fromCodePage = takeByteOrderMark(fromCodePage, &bytes, &numBytes);
  }
  if (numBytes == 0) return true;
  if (fromCodePage == toCodePage) return out.append(bytes, numBytes);

  // Normalise to UTF-8 or native UTF-16 first.
  DataBuffer normal;
  bool normalised = true;
  bool normalOk = true;
  if (fromCodePage == kCodePageUtf16BE) {
    if (!normal.append(bytes, numBytes)) {
      log.memoryAllocFailed(1, static_cast<int>(numBytes));
      return false;
    }
    swapPairs(normal.getData(), numBytes);
    fromCodePage = kCodePageUtf16LE;
  } else if (fromCodePage == kCodePageUtf32BE ||
             fromCodePage == kCodePageUtf32LE) {
    reserveMore(normal, numBytes);
    normalOk = utf32ToUtf8(bytes, numBytes, fromCodePage == kCodePageUtf32BE,
                           normal, log);
    fromCodePage = kCodePageUtf8;
  } else if (fromCodePage == kCodePageUtf7) {
    reserveMore(normal, 2ull * numBytes);
    normalOk = decodeUtf7(bytes, numBytes, normal, log);
    fromCodePage = kCodePageUtf16LE;
  } else {
    normalised = false;
  }
  if (normalised) {
    bytes = normal.getData();
    numBytes = normal.getSize();
  }
  if (fromCodePage == toCodePage)
    return out.append(bytes, numBytes) && normalOk;

  if (fromCodePage == kCodePageUtf16LE) {
    reserveMore(out, numBytes / 2);
    if (toCodePage == kCodePageUtf8) {
      return convertFromUnicode(bytes, numBytes, out, log) && normalOk;
    }
    return convertFromUnicodeHC(toCodePage, bytes, numBytes, out, log) &&
           normalOk;
  }
  if (toCodePage == kCodePageUtf16LE) {
    reserveMore(out, 2ull * numBytes);
    if (fromCodePage == kCodePageUtf8) {
      return convertToUnicode(bytes, numBytes, out, log) && normalOk;
    }
    return convertToUnicodeHC(fromCodePage, bytes, numBytes, out, log) &&
           normalOk;
  }

  // Two legs through UTF-16LE.
  if (!isUnicodePage(fromCodePage) && !codePageTable(fromCodePage)) {
    return reportNoTable(fromCodePage, log);
  }
  if (!isUnicodePage(toCodePage) && !codePageTable(toCodePage)) {
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
  // A conversion nested in an error action keeps its own markers.
  DataBuffer marks;
  DataBuffer* const outerMarks = passMarks_;
  const uint32_t outerNext = passMarkNext_;
  const bool outerLost = passMarksLost_;
  passMarks_ = &marks;
  passMarkNext_ = 0;
  passMarksLost_ = false;
  firstLeg_ = true;
  bool firstOk =
      fromCodePage == kCodePageUtf8
          ? convertToUnicode(bytes, numBytes, pivot, log)
          : convertToUnicodeHC(fromCodePage, bytes, numBytes, pivot, log);
  firstLeg_ = false;
  reserveMore(out, pivot.getSize() / 2);
  secondLeg_ = true;
  bool secondOk =
      toCodePage == kCodePageUtf8
          ? convertFromUnicode(pivot.getData(), pivot.getSize(), out, log)
          : convertFromUnicodeHC(toCodePage, pivot.getData(), pivot.getSize(),
                                 out, log);
  secondLeg_ = false;
  const bool marksOk = !passMarksLost_;
  if (!marksOk) log.memoryAllocFailed(3, 0);
  passMarks_ = outerMarks;
  passMarkNext_ = outerNext;
  passMarksLost_ = outerLost;
  return firstOk && secondOk && normalOk && marksOk;
}

bool EncodingConvert::convertToUnicode(const uint8_t* bytes, uint32_t numBytes,
                                       DataBuffer& out, LogBase& log) {
  LogContextExitor ctx(log, "convertToUnicode");
  if (log.verbose()) {
    log.logDataUint32("fromCodePage", kCodePageUtf8);
    log.logDataUint32("toCodePage", kCodePageUtf16LE);
  }
  ChunkWriter w(out);
  bool allMapped = true;
  uint32_t i = 0;
  while (i < numBytes) {
    // Writes go straight into the writer's block, four bytes of margin
    // per character and sixteen per run of eight ASCII bytes.
    uint32_t avail;
    uint8_t* start = w.span(&avail);
    uint8_t* q = start;
    uint8_t* const qEnd = start + avail - 16;
    bool bad = false;
    while (i < numBytes && q <= qEnd) {
      uint8_t c = bytes[i];
      if (c < 0x80) {
        if (numBytes - i >= 8) {
          uint64_t word;
          memcpy(&word, bytes + i, 8);
          if (!(word & 0x8080808080808080ull)) {
            widenAscii8(bytes + i, q);
            q += 16;
            i += 8;
            continue;
          }
        }
        q[0] = c;
        q[1] = 0;
        q += 2;
        ++i;
        continue;
      }
      uint32_t cp;
      uint32_t len = decodeUtf8(bytes + i, numBytes - i, &cp);
      if (len == 0) {
        bad = true;
        break;
      }
      if (cp >= 0x10000) {
        cp -= 0x10000;
        uint32_t hi = 0xD800 | (cp >> 10), lo = 0xDC00 | (cp & 0x3FF);
        q[0] = static_cast<uint8_t>(hi);
        q[1] = static_cast<uint8_t>(hi >> 8);
        q[2] = static_cast<uint8_t>(lo);
        q[3] = static_cast<uint8_t>(lo >> 8);
        q += 4;
      } else {
        q[0] = static_cast<uint8_t>(cp);
        q[1] = static_cast<uint8_t>(cp >> 8);
        q += 2;
      }
      i += len;
    }
    w.commit(static_cast<uint32_t>(q - start));
    if (bad) {
      allMapped = false;
      emitUnmappable(bytes + i, 1, 2, kCodePageUtf8, w, log);
      ++i;
    }
  }
  return w.flush() && allMapped;
}

bool EncodingConvert::convertFromUnicode(const uint8_t* bytes,
                                         uint32_t numBytes, DataBuffer& out,
                                         LogBase& log) {
  LogContextExitor ctx(log, "convertFromUnicode");
  if (log.verbose()) {
    log.logDataUint32("fromCodePage", kCodePageUtf16LE);
    log.logDataUint32("toCodePage", kCodePageUtf8);
  }
  ChunkWriter w(out);
  bool allMapped = true;
  uint32_t i = 0;
  while (i + 1 < numBytes) {
    // As in convertToUnicode: direct writes with a margin of four bytes.
    uint32_t avail;
    uint8_t* start = w.span(&avail);
    uint8_t* q = start;
    uint8_t* const qEnd = start + avail - 4;
    bool special = false;
    while (i + 1 < numBytes && q <= qEnd) {
      if (numBytes - i >= 8) {
        uint64_t word;
        memcpy(&word, bytes + i, 8);
        if (!(word & 0xFF80FF80FF80FF80ull)) {
          narrowAscii4(bytes + i, q);
          q += 4;
          i += 8;
          continue;
        }
      }
      uint32_t u = unitAt(bytes + i);
      if (u < 0x80) {
        *q++ = static_cast<uint8_t>(u);
        i += 2;
        continue;
      }
      if (u < 0x800) {
        q[0] = static_cast<uint8_t>(0xC0 | (u >> 6));
        q[1] = static_cast<uint8_t>(0x80 | (u & 0x3F));
        q += 2;
        i += 2;
        continue;
      }
      if (isHighSurrogate(u) || isLowSurrogate(u) || u == kPassMarkUnit) {
        special = true;
        break;
      }
      q[0] = static_cast<uint8_t>(0xE0 | (u >> 12));
      q[1] = static_cast<uint8_t>(0x80 | ((u >> 6) & 0x3F));
      q[2] = static_cast<uint8_t>(0x80 | (u & 0x3F));
      q += 3;
      i += 2;
    }
    w.commit(static_cast<uint32_t>(q - start));
    if (!special) continue;
    // Surrogates, and the pass-through marker of a second leg.
    uint32_t u = unitAt(bytes + i);
    if (secondLeg_ && u == kPassMarkUnit && i + 2 < numBytes &&
        takePassMark(i)) {
      uint32_t n = bytes[i + 2];
      uint32_t left = numBytes - (i + 3);
      if (n > left) n = left;
      w.putBytes(bytes + i + 3, n);
      i += 3 + n;
    } else if (isHighSurrogate(u) && i + 3 < numBytes &&
               isLowSurrogate(unitAt(bytes + i + 2))) {
      uint32_t cp =
          0x10000 + ((u - 0xD800) << 10) + (unitAt(bytes + i + 2) - 0xDC00);
      w.commit(encodeUtf8(cp, w.room(4)));
      i += 4;
    } else if (u == kPassMarkUnit) {
      w.commit(encodeUtf8(u, w.room(4)));
      i += 2;
    } else {
      allMapped = false;
      emitUnmappable(bytes + i, 2, 1, kCodePageUtf16LE, w, log);
      i += 2;
    }
  }
  if (i < numBytes) {  // an odd trailing byte is half a code unit
    allMapped = false;
    emitUnmappable(bytes + i, 1, 1, kCodePageUtf16LE, w, log);
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
  const CodePageTable* page = codePageTable(codePage);
  if (!page) return reportNoTable(codePage, log);
  if (!page->isDoubleByte()) {
    return convertToUnicodeByLookup(*page, bytes, numBytes, out, log);
  }
  ChunkWriter w(out);
  bool allMapped = true;
  uint32_t i = 0;
  while (i < numBytes) {
    uint8_t b = bytes[i];
    if (b && b == page->prefixByte() && i + 2 < numBytes &&
        bytes[i + 1] >= 0x80 && bytes[i + 2] >= 0x80) {
      // A three-byte sequence, mapped or bad as a whole.
      uint16_t unit = page->toUnicode2(bytes[i + 1], bytes[i + 2] & 0x7F);
      if (unit != CodePageTable::kNone) {
        w.putUnit(unit);
      } else {
        allMapped = false;
        emitUnmappable(bytes + i, 3, 2, codePage, w, log);
      }
      i += 3;
      continue;
    }
    if (!page->isLeadByte(b)) {
      uint16_t unit = page->toUnicode(b);
      if (unit == CodePageTable::kNone) {
        allMapped = false;
        emitUnmappable(bytes + i, 1, 2, codePage, w, log);
      } else {
        w.putUnit(unit);
      }
      ++i;
      continue;
    }
    uint16_t unit = i + 1 < numBytes ? page->toUnicode2(b, bytes[i + 1])
                                     : CodePageTable::kNone;
    if (unit != CodePageTable::kNone) {
      w.putUnit(unit);
      i += 2;
      continue;
    }
    // A lead byte at the end, or before a byte that cannot trail (below
    // 0x40), is one bad byte; otherwise the pair is.
    uint32_t n = i + 1 < numBytes && bytes[i + 1] >= 0x40 ? 2 : 1;
    allMapped = false;
    emitUnmappable(bytes + i, n, 2, codePage, w, log);
    i += n;
  }
  return w.flush() && allMapped;
}

bool EncodingConvert::convertToUnicodeByLookup(const CodePageTable& page,
                                               const uint8_t* bytes,
                                               uint32_t numBytes,
                                               DataBuffer& out, LogBase& log) {
  LogContextExitor ctx(log, "convertToUnicodeByLookup");
  if (log.verbose()) {
    log.logDataUint32("fromCodePage", page.codePage());
    log.logDataUint32("toCodePage", kCodePageUtf16LE);
    log.logDataUint32("inDataLen", numBytes);
  }
  ChunkWriter w(out, kLookupChunk);
  bool allMapped = true;
  for (uint32_t i = 0; i < numBytes; ++i) {
    uint16_t unit = bytes[i] ? page.toUnicode(bytes[i]) : 0;
    if (unit == CodePageTable::kNone) {
      allMapped = false;
      emitUnmappable(bytes + i, 1, 2, page.codePage(), w, log);
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
  const CodePageTable* page = codePageTable(codePage);
  if (!page) return reportNoTable(codePage, log);
  if (!page->prepareReverse()) {
    log.memoryAllocFailed(2, 0);
    return false;
  }
  ChunkWriter w(out, kLookupChunk);
  bool allMapped = true;
  uint32_t i = 0;
  while (i + 1 < numBytes) {
    uint32_t u = unitAt(bytes + i);
    if (secondLeg_ && u == kPassMarkUnit && i + 2 < numBytes &&
        takePassMark(i)) {
      uint32_t n = bytes[i + 2];
      uint32_t left = numBytes - (i + 3);
      if (n > left) n = left;
      w.putBytes(bytes + i + 3, n);
      i += 3 + n;
      continue;
    }
    if (isHighSurrogate(u) && i + 3 < numBytes &&
        isLowSurrogate(unitAt(bytes + i + 2))) {
      // No table page holds a supplementary character.
      allMapped = false;
      emitUnmappable(bytes + i, 4, 1, kCodePageUtf16LE, w, log);
      i += 4;
      continue;
    }
    uint16_t code = page->fromUnicode(static_cast<uint16_t>(u));
    if (code == CodePageTable::kNone) {
      allMapped = false;
      emitUnmappable(bytes + i, 2, 1, kCodePageUtf16LE, w, log);
    } else if (code > 0xFF && page->prefixByte() && (code & 0xFF) < 0x80) {
      w.put(page->prefixByte());
      w.put(static_cast<uint8_t>(code >> 8));
      w.put(static_cast<uint8_t>(code | 0x80));
    } else if (code > 0xFF) {
      w.put(static_cast<uint8_t>(code >> 8));
      w.put(static_cast<uint8_t>(code));
    } else {
      w.put(static_cast<uint8_t>(code));
    }
    i += 2;
  }
  if (i < numBytes) {
    allMapped = false;
    emitUnmappable(bytes + i, 1, 1, kCodePageUtf16LE, w, log);
  }
  return w.flush() && allMapped;
}

}  // namespace sfx
