// EncodingConvert: converts byte strings between code pages, with UTF-16LE as
// the pivot. Every change of text encoding in the system goes through it.
#ifndef SFX_CHARSET_ENCODING_CONVERT_H_
#define SFX_CHARSET_ENCODING_CONVERT_H_

#include <cstdint>

namespace sfx {

class DataBuffer;
class LogBase;
class SingleByteCodePage;

// Code pages of special meaning (Windows numbering).
constexpr uint32_t kCodePageNone = 0;
constexpr uint32_t kCodePageUtf16LE = 1200;
constexpr uint32_t kCodePageUtf16BE = 1201;
constexpr uint32_t kCodePageUtf8 = 65001;

// One converter serves one call or one caller; it owns nothing beyond it and
// shares only the read-only code-page tables with other converters.
class EncodingConvert {
 public:
  // What is emitted in place of input that has no mapping in the target.
  enum ErrorAction {
    kEmitNothing = 0,
    // "&#x", two upper-case hex digits per offending input byte, ";".
    kEmitHexCharRef = 2,
  };

  EncodingConvert() = default;
  EncodingConvert(const EncodingConvert&) = delete;
  EncodingConvert& operator=(const EncodingConvert&) = delete;

  // Selects the error action (kEmitNothing at construction). Returns false,
  // and keeps the current action, for an action this converter does not
  // provide.
  bool setErrorAction(int action);
  int getErrorAction() const { return errorAction_; }

  // Converts numBytes bytes at `bytes` from `fromCodePage` to `toCodePage`
  // and appends the result to `out` (which is never cleared). A target of 0
  // means the source's code page; a source of 0, or equal pages, copy the
  // bytes unchanged. Byte-order marks on UTF-8 and UTF-16 input are dropped
  // (a UTF-16 mark also decides the byte order). Returns false when some
  // input had no mapping (it is replaced as the error action says and the
  // rest is still converted), when a code page has no table, or when memory
  // runs out; whatever was appended stays in `out`.
  bool EncConvert(uint32_t fromCodePage, uint32_t toCodePage,
                  const uint8_t* bytes, uint32_t numBytes, DataBuffer& out,
                  LogBase& log);

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
  bool convertToUnicodeByLookup(const SingleByteCodePage& page,
                                const uint8_t* bytes, uint32_t numBytes,
                                DataBuffer& out, LogBase& log);

  int errorAction_ = kEmitNothing;
};

}  // namespace sfx

#endif  // SFX_CHARSET_ENCODING_CONVERT_H_
