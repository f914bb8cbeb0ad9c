// ContentCoding: the binary-to-text encoders a DataBuffer can be rendered
// with (base64, quoted-printable, hexadecimal, URL percent-encodings) and
// the base64 decoder used for embedded tables.
#ifndef SFX_TEXT_CONTENT_CODING_H_
#define SFX_TEXT_CONTENT_CODING_H_

#include <cstdint>

namespace sfx {

class DataBuffer;
class StringBuffer;

class ContentCoding {
 public:
  static constexpr uint32_t kDefaultLineLength = 76;
  static constexpr uint32_t kMinLineLength = 10;

  // Which bytes a percent-encoding leaves as they are (besides ASCII
  // letters and digits).
  enum UrlRule {
    kUrlRfc3986,  // - . , _ ~
    kUrlRfc1738,  // $ - _ . + ! * ' ( ) ,
    kUrlRfc2396,  // - _ . ! ~ * ' ( )
  };

  ContentCoding() = default;

  // Line length of the quoted-printable encoder: 76 at construction; a
  // length below 10 becomes 10.
  void setMaxLineLength(uint32_t length);
  uint32_t getMaxLineLength() const { return maxLineLength_; }

  // Each encoder appends the encoding of `numBytes` bytes at `data` to
  // `out` and returns false only when memory runs out (what was appended
  // before stays).
  //
  // Base64 (RFC 4648 alphabet, "=" padding) as one line.
  static bool encodeBase64(const void* data, uint32_t numBytes,
                           StringBuffer& out);
  // Quoted-printable with soft line breaks ("=" CR LF) at the line length;
  // CR LF in the input is kept as a line break, and no line starts with "."
  // or "From " as they are.
  bool encodeQuotedPrintable(const void* data, uint32_t numBytes,
                             StringBuffer& out) const;
  // Two upper-case hex digits a byte, no separators.
  static bool encodeHex(const void* data, uint32_t numBytes, StringBuffer& out);
  // Every byte outside the rule's set becomes "%" and two upper-case hex
  // digits.
  static bool encodeUrl(const void* data, uint32_t numBytes, UrlRule rule,
                        StringBuffer& out);

  // Decodes base64 text and appends the bytes to `out`. CR, LF, tab, space
  // and "." are skipped, as is any other byte outside the alphabet; "=" or
  // a zero byte ends the input. A final group of two or three characters
  // gives one or two bytes (a lone last character gives none). Returns false
  // only when memory runs out.
  static bool decodeBase64(const char* text, uint32_t length, DataBuffer& out);

 private:
  uint32_t maxLineLength_ = kDefaultLineLength;
};

}  // namespace sfx

#endif  // SFX_TEXT_CONTENT_CODING_H_
