// EncodingConvert: converts byte strings between code pages, with UTF-16LE as
// the pivot. Every change of text encoding in the system goes through it.
#ifndef SFX_CHARSET_ENCODING_CONVERT_H_
#define SFX_CHARSET_ENCODING_CONVERT_H_

#include <cstdint>

namespace sfx {

class ChunkWriter;
class CodePageTable;
class DataBuffer;
class LogBase;

// Code pages of special meaning (Windows numbering, except UTF-32).
constexpr uint32_t kCodePageNone = 0;
constexpr uint32_t kCodePageShiftJis = 932;
constexpr uint32_t kCodePageGbk = 936;
constexpr uint32_t kCodePageKorean = 949;
constexpr uint32_t kCodePageUtf16LE = 1200;
constexpr uint32_t kCodePageUtf16BE = 1201;
constexpr uint32_t kCodePageMacArabic = 10004;
constexpr uint32_t kCodePageIso2022Jp = 50220;  // 50220 to 50222
constexpr uint32_t kCodePageIso2022JpLast = 50222;
constexpr uint32_t kCodePageIso2022Kr = 50225;
constexpr uint32_t kCodePageHz = 52936;
constexpr uint32_t kCodePageUtf7 = 65000;
constexpr uint32_t kCodePageUtf8 = 65001;
constexpr uint32_t kCodePageUtf32LE = 65005;
constexpr uint32_t kCodePageUtf32BE = 65006;

// One converter serves one call or one caller; it owns nothing beyond it and
// shares only the read-only code-page tables with other converters.
class EncodingConvert {
 public:
  // What is emitted in place of input that has no mapping.
  enum ErrorAction {
    kEmitNothing = 0,
    // The bytes given to setReplacement.
    kEmitReplacement = 1,
    // "&#x", two upper-case hex digits per offending input byte, ";".
    kEmitHexCharRef = 2,
    // The offending bytes converted to the alternate code page (to the
    // target when none is set), with kEmitNothing for that conversion.
    kEmitAltCodePage = 6,
    // The offending bytes unchanged.
    kEmitUnchanged = 7,
  };
  static constexpr uint32_t kMaxReplacement = 16;

  EncodingConvert() = default;
  EncodingConvert(const EncodingConvert&) = delete;
  EncodingConvert& operator=(const EncodingConvert&) = delete;

  // Selects the error action (kEmitNothing at construction). Returns false,
  // and keeps the current action, for a value not in ErrorAction.
  bool setErrorAction(int action);
  int getErrorAction() const { return errorAction_; }
  // The code page of kEmitAltCodePage (0 at construction: the target).
  void setAltCodePage(uint32_t codePage) { altCodePage_ = codePage; }
  uint32_t getAltCodePage() const { return altCodePage_; }
  // The bytes of kEmitReplacement (none at construction). False, keeping
  // the current bytes, for more than kMaxReplacement bytes.
  bool setReplacement(const uint8_t* bytes, uint32_t numBytes);

  // Converts numBytes bytes at `bytes` from `fromCodePage` to `toCodePage`
  // and appends the result to `out` (which is never cleared). A target of 0
  // means the source's code page; a source of 0, or equal pages, copy the
  // bytes unchanged. Byte-order marks on UTF-8, UTF-16 and UTF-32 input are
  // dropped (a UTF-16 or UTF-32 mark also decides the byte order). Returns
  // false when some input had no mapping (it is replaced as the error
  // action says and the rest is still converted), when a code page has no
  // table, or when memory runs out; whatever was appended stays in `out`.
  // Besides the table pages, the forms are UTF-8, UTF-16LE/BE, UTF-7,
  // UTF-32LE/BE (65005/65006), ISO-2022-JP (50220-50222, through 932; for
  // half-width katakana 50220 writes the full-width forms, 50221 selects
  // them with ESC ( I and 50222 shifts them with SO/SI), ISO-2022-KR (50225,
  // through 949) and HZ (52936, through 936).
  // The Mac Arabic page (10004) converts by its table alone: its reordering
  // pre-pass is not provided.
  bool EncConvert(uint32_t fromCodePage, uint32_t toCodePage,
                  const uint8_t* bytes, uint32_t numBytes, DataBuffer& out,
                  LogBase& log);

  // As EncConvert, with the source named by a charset name (see
  // charsetToCodePage). A name that gives no code page fails with
  // "Unrecognized fromCharset" and the name under "charsetName", appending
  // nothing.
  bool ConvertFromCharset(const char* fromCharset, uint32_t toCodePage,
                          const uint8_t* bytes, uint32_t numBytes,
                          DataBuffer& out, LogBase& log);

 private:
  // The general path after the target dispatch of EncConvert.
  bool convert_a(uint32_t fromCodePage, uint32_t toCodePage,
                 const uint8_t* bytes, uint32_t numBytes, DataBuffer& out,
                 LogBase& log);
  // UTF-8 to UTF-16LE / UTF-16LE to UTF-8.
  bool convertToUnicode(const uint8_t* bytes, uint32_t numBytes,
                        DataBuffer& out, LogBase& log);
  bool convertFromUnicode(const uint8_t* bytes, uint32_t numBytes,
                          DataBuffer& out, LogBase& log);
  // A table code page to UTF-16LE / UTF-16LE to a table code page.
  bool convertToUnicodeHC(uint32_t codePage, const uint8_t* bytes,
                          uint32_t numBytes, DataBuffer& out, LogBase& log);
  bool convertFromUnicodeHC(uint32_t codePage, const uint8_t* bytes,
                            uint32_t numBytes, DataBuffer& out, LogBase& log);
  // A single-byte table page to UTF-16LE, appended in chunks of at most 512
  // bytes; goes on after an unmappable byte and returns false at the end.
  bool convertToUnicodeByLookup(const CodePageTable& page, const uint8_t* bytes,
                                uint32_t numBytes, DataBuffer& out,
                                LogBase& log);

  // The other forms (encoding_forms.cpp). Each appends to `out` and returns
  // false when some input had no mapping or memory ran out.
  bool decodeUtf7(const uint8_t* bytes, uint32_t numBytes, DataBuffer& out,
                  LogBase& log);
  bool encodeUtf7(const uint8_t* bytes, uint32_t numBytes, DataBuffer& out);
  // UTF-32 (little-endian, or big-endian when `bigEndian`) to UTF-8.
  bool utf32ToUtf8(const uint8_t* bytes, uint32_t numBytes, bool bigEndian,
                   DataBuffer& out, LogBase& log);
  bool utf8ToUtf32(const uint8_t* bytes, uint32_t numBytes, bool bigEndian,
                   DataBuffer& out, LogBase& log);
  // ISO-2022-JP from and to Shift-JIS (932); ISO-2022-KR from and to 949.
  bool decodeIso2022Jp(const uint8_t* bytes, uint32_t numBytes, DataBuffer& out,
                       LogBase& log);
  bool encodeIso2022Jp(uint32_t codePage, const uint8_t* bytes,
                       uint32_t numBytes, DataBuffer& out, LogBase& log);
  bool decodeIso2022Kr(const uint8_t* bytes, uint32_t numBytes, DataBuffer& out,
                       LogBase& log);
  bool encodeIso2022Kr(const uint8_t* bytes, uint32_t numBytes, DataBuffer& out,
                       LogBase& log);
  // HZ-GB-2312 (RFC 1843) from and to the Chinese page (936).
  bool decodeHz(const uint8_t* bytes, uint32_t numBytes, DataBuffer& out,
                LogBase& log);
  bool encodeHz(const uint8_t* bytes, uint32_t numBytes, DataBuffer& out,
                LogBase& log);

  // Emits the replacement for `n` offending bytes at `bad` of a leg from
  // `legFrom`, as the error action says. `unitWidth` is the width of one
  // character of the output (1, 2 or 4 bytes, little-endian) for the
  // hexadecimal reference. In the first leg of a pivot conversion, bytes
  // meant for the final output are marked so that the second leg passes
  // them through.
  void emitUnmappable(const uint8_t* bad, uint32_t n, uint32_t unitWidth,
                      uint32_t legFrom, ChunkWriter& w, LogBase& log);
  void emitFinalBytes(const uint8_t* p, uint32_t n, ChunkWriter& w);

  int errorAction_ = kEmitNothing;
  uint32_t altCodePage_ = 0;
  uint32_t replacementLen_ = 0;
  uint8_t replacement_[kMaxReplacement] = {};
  // The pages of the outermost conversion in progress (0 between calls).
  uint32_t fromCodePage_ = 0;
  uint32_t toCodePage_ = 0;
  // Set while a pivot conversion runs its first / second leg.
  bool firstLeg_ = false;
  bool secondLeg_ = false;
  // The pivot offsets at which the first leg wrote a pass-through marker,
  // in increasing order, and the next one the second leg may meet. Only
  // these are markers: a U+EFFD anywhere else is text.
  DataBuffer* passMarks_ = nullptr;
  uint32_t passMarkNext_ = 0;
  bool passMarksLost_ = false;  // recording one failed
  // Whether the first leg wrote a marker at pivot offset `at`; steps past it.
  bool takePassMark(uint32_t at);
  // Nesting of EncConvert calls on this converter.
  int depth_ = 0;
};

}  // namespace sfx

#endif  // SFX_CHARSET_ENCODING_CONVERT_H_
