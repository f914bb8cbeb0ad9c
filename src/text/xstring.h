// XString: one text held in up to three forms (the system's ANSI code page,
// UTF-8, and UTF-16LE), with flags saying which forms are current. A form
// that is asked for and not current is converted from a current one.
#ifndef SFX_TEXT_XSTRING_H_
#define SFX_TEXT_XSTRING_H_

#include <cstdint>

#include "text/data_buffer.h"
#include "text/marlith_object.h"
#include "text/string_buffer.h"

namespace sfx {

// The getters are const: converting to a form that is not current changes
// no observable state, only which forms are cached (the forms are mutable).
// Every operation returns false only when memory runs out.
class XString : public MarlithObject {
 public:
  // 0xc8e20ff6 while the object is alive, 0 after destruction.
  static constexpr uint32_t kValid = 0xc8e20ff6u;

  XString();
  XString(const XString& other);
  XString& operator=(const XString& other);
  // With the secure flag set, overwrites the bytes of all forms with zeros.
  ~XString() override;

  // The UTF-8 form becomes `text` (a leading EF BB BF is dropped) and the
  // only current form. Null or "" empties the string.
  bool setFromUtf8(const char* text);
  bool setFromUtf8N(const char* bytes, uint32_t count);
  // As setFromUtf8, copying the buffer's text.
  bool setFromUtf8Sb(const StringBuffer& sb);
  // The ANSI form becomes `text` and the only current form.
  bool setFromAnsi(const char* text);
  // The wide form becomes the zero-terminated UTF-16 text (or `numUnits`
  // code units of it) and the only current form. On Windows a wchar_t*
  // passes here through reinterpret_cast<const char16_t*>.
  bool setFromUtf16(const char16_t* text);
  bool setFromUtf16N(const char16_t* text, uint32_t numUnits);

  // Each form, converted first if it is not current; never null. A pointer
  // stays valid until the next non-const call on this string, or the next
  // call for the same form while that form is not current (getAnsi after a
  // lossy conversion).
  // Input that has no mapping in the ANSI code page is dropped from the
  // ANSI form, and that form then stays not current (it is made again on
  // the next call).
  const char* getUtf8() const;
  const char* getAnsi() const;
  // UTF-16LE, zero-terminated; the order is the native one of every target
  // (on Windows it may be read as a const wchar_t*).
  const char16_t* getUtf16() const;
  // For writing: makes UTF-8 the only current form (converting first if
  // need be) and hands out its buffer for the caller to change. The caller
  // must not start it with a byte-order mark.
  StringBuffer& getUtf8Sb();
  // For reading: the UTF-8 form as a buffer (converted first if need be).
  const StringBuffer& getUtf8SbConst() const;

  // Byte length of the UTF-8 / ANSI form (converting if need be).
  uint32_t getSizeUtf8() const;
  uint32_t getSizeAnsi() const;
  // The byte length of the ANSI form when it is current, else the number of
  // UTF-16 code units of the wide form.
  uint32_t getNumChars() const;
  bool isEmpty() const;

  // Appends ANSI text: to the ANSI form when it is current (which then
  // becomes the only current form), else converted to UTF-8 and appended
  // to the UTF-8 form (which becomes the only current form).
  bool appendAnsi(const char* text);
  // Appends UTF-8 text to the UTF-8 form, which becomes the only current form.
  bool appendUtf8(const char* text);

  // Empties all forms: ANSI and UTF-8 current, wide not current.
  void clear();
  // Copies all forms and flags (not the secure flag).
  bool copyFrom(const XString& other);

  // Compare with the UTF-8 form; a leading EF BB BF of `text` is ignored.
  bool equalsUtf8(const char* text) const;
  bool beginsWithUtf8(const char* text) const;
  bool endsWithUtf8(const char* text) const;

  // When set, destruction and clear overwrite the bytes of every form with
  // zeros before releasing them (for passwords). False at construction.
  void setSecure(bool secure);
  bool isSecure() const;

  // Which forms are current (for tests and diagnostics).
  bool isAnsiCurrent() const { return ansiCurrent_; }
  bool isUtf8Current() const { return utf8Current_; }
  bool isWideCurrent() const { return wideCurrent_; }

 private:
  friend class XStringTestPeer;

  void checkValid() const;
  void eraseForms();
  // Make one form from the others, in the order of preference: UTF-8 from
  // ANSI else wide; ANSI from UTF-8 else wide; wide from UTF-8 else ANSI.
  void makeUtf8() const;
  void makeAnsi() const;
  void makeWide() const;

  uint32_t valid_ = kValid;
  mutable StringBuffer ansi_;
  mutable StringBuffer utf8_;
  // UTF-16LE code units and a two-byte zero terminator.
  mutable DataBuffer wide_;
  mutable bool wideCurrent_ = false;
  mutable bool ansiCurrent_ = true;
  mutable bool utf8Current_ = true;
  bool secure_ = false;
};

}  // namespace sfx

#endif  // SFX_TEXT_XSTRING_H_
