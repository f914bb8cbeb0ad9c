// StringBuffer: the growable, zero-terminated 8-bit string that carries most
// text of the system. Short texts (up to 81 bytes) live inside the object;
// longer ones move to a heap buffer that grows by about half its size.
#ifndef SFX_TEXT_STRING_BUFFER_H_
#define SFX_TEXT_STRING_BUFFER_H_

#include <cstdint>

#include "text/marlith_object.h"

namespace sfx {

class StringBuffer : public NonRefCountedObj {
 public:
  // Bytes of the inline store: 81 bytes of text plus the terminator.
  static constexpr uint32_t kInlineSize = 82;
  // Growth increment at construction and after every clear.
  static constexpr uint32_t kDefaultGrowBy = 202;
  // Upper bound of the growth increment.
  static constexpr uint32_t kMaxGrowBy = 500000;
  // 0xAA while the object is alive, 0 after destruction.
  static constexpr uint8_t kValid = 0xAA;

  StringBuffer();
  // Starts with a copy of `text` (null is the empty text). If the copy cannot
  // be allocated the buffer starts empty.
  explicit StringBuffer(const char* text);
  // An empty buffer whose growth increment starts at `growBy` instead of 202
  // (the XML content buffers use 120, the attribute store 50).
  static StringBuffer withGrowBy(uint32_t growBy);

  // Deep copies; a copy that cannot be allocated leaves the target empty.
  StringBuffer(const StringBuffer& other);
  StringBuffer& operator=(const StringBuffer& other);
  ~StringBuffer() override;

  // The zero-terminated text (never null) and its length in bytes.
  const char* getString() const;
  uint32_t getSize() const;
  bool isEmpty() const { return getSize() == 0; }
  // Bytes available for text plus terminator: 82 while the text is inline,
  // else the size of the heap buffer.
  uint32_t getCapacity() const;
  bool usesHeap() const;
  uint32_t getGrowBy() const;

  // --- Appending. All return false only when memory for the new text cannot
  // be allocated, and then leave the text unchanged. A source may point into
  // this buffer's own text.
  bool append(const char* text);  // null or "" changes nothing
  bool appendN(const char* bytes, uint32_t count);
  bool appendSb(const StringBuffer& other);
  bool appendChar(char c);
  bool appendChar2(char a, char b);
  bool appendChar3(char a, char b, char c);
  bool appendCharN(char c, uint32_t count);  // `c` repeated `count` times
  // Decimal forms; negatives get "-".
  bool appendInt(int32_t value);
  bool appendUint32(uint32_t value);
  bool appendInt64(int64_t value);
  // Appends the system message text for an OS error code (trimmed; "x" when
  // the system has no text for the code).
  bool appendWindowsErrorText(uint32_t code);

  // Makes room for `count` more bytes of text by the growth rule, so that
  // later appends of up to that many bytes do not allocate.
  bool expectNumBytes(uint32_t count);

  // Inserts `text` at the front.
  bool prepend(const char* text);
  // Replaces the whole text (null gives the empty text).
  bool setString(const char* text);
  bool setStringN(const char* bytes, uint32_t count);

  // Optional "-" or "+", leading zeros, then decimal digits up to the first
  // other byte. 0 when there are no digits. Overflow wraps.
  int32_t intValue() const;

  // --- Emptying.
  // Length 0; keeps the heap buffer; growth increment back to 202.
  void clear();
  // Length 0; releases the heap buffer; growth increment back to 202.
  void clearAndFree();
  // As clearAndFree, but first overwrites the used bytes with zeros.
  void secureClear();
  // A text shorter than 82 bytes moves back inline and the heap buffer is
  // released; otherwise a heap buffer larger than length + 256 is reduced to
  // exactly length + 1. On allocation failure nothing changes.
  void shrink();
  // Drops the last `n` bytes (at most all of them).
  void shorten(uint32_t n);
  // Moves the text (and heap buffer, if any) of `other` into this buffer and
  // leaves `other` empty. The previous text of this buffer is released.
  void takeSb(StringBuffer& other);

  // --- In-place edits.
  // Removes leading and trailing space, tab, LF and CR.
  void trim2();
  // Deletes every occurrence of `c` / every occurrence at or after `from`.
  // Return the number of bytes removed.
  uint32_t removeCharOccurrences(char c);
  uint32_t removeChar(char c, uint32_t from);
  // Replaces every `from` byte by `to`; returns the count.
  uint32_t replaceChar(char from, char to);
  // Replaces every non-overlapping occurrence of `find`, left to right in one
  // pass, by `replacement` (null is ""). Returns the count; an empty `find`
  // or an allocation failure replaces nothing and returns 0.
  uint32_t replaceAllOccurrences(const char* find, const char* replacement);
  // Replaces every occurrence of `find` by the single byte `c`; returns the
  // count.
  uint32_t replaceAllWithChar(const char* find, char c);
  // Removes every CR, then replaces every LF by CR LF.
  bool toCRLF();
  // Replaces every CR LF by LF.
  void toLF();
  // ASCII letters to lower case; bytes 0xC0-0xDF get 0x20 added.
  void toLowerCase();
  // "&", "<", ">" and '"' become "&amp;", "&lt;", "&gt;", "&quot;".
  bool encodeXmlSpecial();
  // From byte offset `from` on, one left-to-right pass turning "&amp;",
  // "&apos;", "&lt;", "&gt;" and "&quot;" back into their characters; any
  // other "&" stays.
  void decodeXmlSpecial(uint32_t from);
  // Replaces each %NAME% by the value of the environment variable NAME; an
  // unset variable and "%%" become nothing; a lone "%" stays.
  bool expandEnvironmentVariables();

  // --- Queries. A null argument is the empty text. The begins/ends forms
  // match an empty argument; the IgnoreCase forms fold ASCII letters only.
  bool equals(const char* text) const;
  bool equals(const StringBuffer& other) const;
  bool equalsIgnoreCase(const char* text) const;
  bool beginsWith(const char* text) const;
  bool beginsWithIgnoreCase(const char* text) const;
  bool endsWith(const char* text) const;
  bool endsWithIgnoreCase(const char* text) const;
  bool containsChar(char c) const;
  // Null when `text` is null or empty or does not occur.
  const char* findSubstring(const char* text) const;
  char lastChar() const;  // 0 when empty
  bool is7bit() const;    // every byte below 0x80

 private:
  friend class StringBufferTestPeer;

  void checkValid() const;
  // Makes room for `count` more bytes plus the terminator by the growth rule.
  bool ensureRoom(uint32_t count);
  // Replaces the text by `len` bytes at `bytes` (not inside this buffer).
  bool replaceWith(const char* bytes, uint32_t len);
  void releaseHeap();

  uint8_t valid_ = kValid;
  char* data_;  // inline_ or heap_
  char* heap_ = nullptr;
  uint32_t capacity_ = 0;  // of heap_
  uint32_t length_ = 0;
  uint32_t growBy_ = kDefaultGrowBy;
  char inline_[kInlineSize];
};

}  // namespace sfx

#endif  // SFX_TEXT_STRING_BUFFER_H_
