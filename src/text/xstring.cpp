// XString: the three forms, their flags, and lazy conversion through the
// charset converter (ANSI = the active code page, UTF-8 = 65001, wide =
// UTF-16LE = 1200).
#include "text/xstring.h"

#include <cstring>

#include "charset/encoding_convert.h"
#include "log/log_base.h"
#include "os/os.h"

namespace sfx {
namespace {

const char kUtf8Bom[] = "\xEF\xBB\xBF";

// Skips a leading UTF-8 byte-order mark of a zero-terminated text.
const char* skipBom(const char* text) {
  if (text && strncmp(text, kUtf8Bom, 3) == 0) return text + 3;
  return text;
}

const uint8_t* bytesOf(const char* s) {
  return reinterpret_cast<const uint8_t*>(s);
}

// Converts into `sb`'s text; returns what the converter returned.
bool convertInto(uint32_t from, uint32_t to, const uint8_t* bytes, uint32_t n,
                 StringBuffer& sb, bool* allocOk) {
  EncodingConvert conv;
  LogNull log;
  DataBuffer tmp;
  bool ok = conv.EncConvert(from, to, bytes, n, tmp, log);
  *allocOk = sb.setStringN(reinterpret_cast<const char*>(tmp.getData()),
                           tmp.getSize());
  tmp.secureClear();
  return ok;
}

}  // namespace

XString::XString() = default;

XString::XString(const XString& other) : MarlithObject(other) {
  copyFrom(other);
}

XString& XString::operator=(const XString& other) {
  copyFrom(other);
  return *this;
}

XString::~XString() {
  checkValid();
  if (secure_) {
    ansi_.secureClear();
    utf8_.secureClear();
    wide_.secureClear();
  }
  valid_ = 0;
}

void XString::checkValid() const {
  if (valid_ != kValid) fatalInternalError("XString is not valid");
}

void XString::setSecure(bool secure) {
  checkValid();
  secure_ = secure;
}

bool XString::isSecure() const {
  checkValid();
  return secure_;
}

void XString::eraseForms() {
  if (secure_) {
    ansi_.secureClear();
    utf8_.secureClear();
    wide_.secureClear();
  } else {
    ansi_.clear();
    utf8_.clear();
    wide_.clear();
  }
}

void XString::clear() {
  checkValid();
  eraseForms();
  ansiCurrent_ = true;
  utf8Current_ = true;
  wideCurrent_ = false;
}

bool XString::setFromUtf8(const char* text) {
  return setFromUtf8N(text, text ? static_cast<uint32_t>(strlen(text)) : 0);
}

bool XString::setFromUtf8N(const char* bytes, uint32_t count) {
  checkValid();
  if (bytes && count >= 3 && memcmp(bytes, kUtf8Bom, 3) == 0) {
    bytes += 3;
    count -= 3;
  }
  if (!bytes || count == 0) {
    clear();
    return true;
  }
  // Copy first: the text may lie in one of our own forms.
  StringBuffer copy;
  if (!copy.appendN(bytes, count)) return false;
  eraseForms();
  utf8_.takeSb(copy);
  utf8Current_ = true;
  ansiCurrent_ = false;
  wideCurrent_ = false;
  return true;
}

bool XString::setFromUtf8Sb(const StringBuffer& sb) {
  return setFromUtf8N(sb.getString(), sb.getSize());
}

bool XString::setFromAnsi(const char* text) {
  checkValid();
  if (!text || !*text) {
    clear();
    return true;
  }
  StringBuffer copy;
  if (!copy.append(text)) return false;
  eraseForms();
  ansi_.takeSb(copy);
  ansiCurrent_ = true;
  utf8Current_ = false;
  wideCurrent_ = false;
  return true;
}

bool XString::setFromUtf16(const char16_t* text) {
  uint32_t n = 0;
  if (text) {
    while (text[n]) ++n;
  }
  return setFromUtf16N(text, n);
}

bool XString::setFromUtf16N(const char16_t* text, uint32_t numUnits) {
  checkValid();
  if (!text || numUnits == 0) {
    clear();
    return true;
  }
  if (numUnits > (UINT32_MAX - 2) / 2) return false;
  DataBuffer copy;
  static const uint8_t kZero[2] = {0, 0};
  if (!copy.append(text, numUnits * 2) || !copy.append(kZero, 2)) return false;
  eraseForms();
  if (!wide_.appendDb(copy)) {
    clear();
    return false;
  }
  wideCurrent_ = true;
  ansiCurrent_ = false;
  utf8Current_ = false;
  return true;
}

void XString::makeUtf8() const {
  bool allocOk = true;
  if (ansiCurrent_) {
    convertInto(activeAnsiCodePage(), kCodePageUtf8, bytesOf(ansi_.getString()),
                ansi_.getSize(), utf8_, &allocOk);
  } else {
    convertInto(kCodePageUtf16LE, kCodePageUtf8, wide_.getData(),
                wide_.getSize() >= 2 ? wide_.getSize() - 2 : 0, utf8_,
                &allocOk);
  }
  utf8Current_ = allocOk;
}

void XString::makeAnsi() const {
  bool allocOk = true;
  bool ok;
  if (utf8Current_) {
    ok = convertInto(kCodePageUtf8, activeAnsiCodePage(),
                     bytesOf(utf8_.getString()), utf8_.getSize(), ansi_,
                     &allocOk);
  } else {
    ok = convertInto(kCodePageUtf16LE, activeAnsiCodePage(), wide_.getData(),
                     wide_.getSize() >= 2 ? wide_.getSize() - 2 : 0, ansi_,
                     &allocOk);
  }
  ansiCurrent_ = ok && allocOk;
}

void XString::makeWide() const {
  EncodingConvert conv;
  LogNull log;
  wide_.clear();
  if (utf8Current_) {
    conv.EncConvert(kCodePageUtf8, kCodePageUtf16LE, bytesOf(utf8_.getString()),
                    utf8_.getSize(), wide_, log);
  } else {
    conv.EncConvert(activeAnsiCodePage(), kCodePageUtf16LE,
                    bytesOf(ansi_.getString()), ansi_.getSize(), wide_, log);
  }
  // An odd byte cannot come out of a UTF-16 conversion, but keep the units
  // aligned whatever happened.
  if (wide_.getSize() & 1) wide_.shorten(1);
  static const uint8_t kZero[2] = {0, 0};
  wideCurrent_ = wide_.append(kZero, 2);
}

const char* XString::getUtf8() const { return getUtf8SbConst().getString(); }

const StringBuffer& XString::getUtf8SbConst() const {
  checkValid();
  if (!utf8Current_) makeUtf8();
  return utf8_;
}

StringBuffer& XString::getUtf8Sb() {
  getUtf8SbConst();
  utf8Current_ = true;
  ansiCurrent_ = false;
  wideCurrent_ = false;
  return utf8_;
}

const char* XString::getAnsi() const {
  checkValid();
  if (!ansiCurrent_) makeAnsi();
  return ansi_.getString();
}

const char16_t* XString::getUtf16() const {
  checkValid();
  if (!wideCurrent_) makeWide();
  if (!wideCurrent_) return u"";
  return reinterpret_cast<const char16_t*>(wide_.getData());
}

uint32_t XString::getSizeUtf8() const { return getUtf8SbConst().getSize(); }

uint32_t XString::getSizeAnsi() const {
  getAnsi();
  return ansi_.getSize();
}

uint32_t XString::getNumChars() const {
  checkValid();
  if (ansiCurrent_) return ansi_.getSize();
  getUtf16();
  return wide_.getSize() >= 2 ? (wide_.getSize() - 2) / 2 : 0;
}

bool XString::isEmpty() const {
  checkValid();
  if (utf8Current_) return utf8_.getSize() == 0;
  if (ansiCurrent_) return ansi_.getSize() == 0;
  return wide_.getSize() <= 2;
}

bool XString::appendAnsi(const char* text) {
  checkValid();
  if (!text || !*text) return true;
  if (ansiCurrent_) {
    if (!ansi_.append(text)) return false;
    utf8Current_ = false;
    wideCurrent_ = false;
    return true;
  }
  StringBuffer converted;
  bool allocOk = true;
  convertInto(activeAnsiCodePage(), kCodePageUtf8, bytesOf(text),
              static_cast<uint32_t>(strlen(text)), converted, &allocOk);
  return allocOk && getUtf8Sb().appendSb(converted);
}

bool XString::appendUtf8(const char* text) {
  checkValid();
  if (!text || !*text) return true;
  if (isEmpty()) return setFromUtf8(text);
  StringBuffer copy(text);  // the text may lie in one of our own forms
  return getUtf8Sb().appendSb(copy);
}

bool XString::copyFrom(const XString& other) {
  checkValid();
  other.checkValid();
  if (&other == this) return true;
  bool ok = ansi_.setStringN(other.ansi_.getString(), other.ansi_.getSize()) &&
            utf8_.setStringN(other.utf8_.getString(), other.utf8_.getSize());
  wide_.clear();
  ok = ok && wide_.appendDb(other.wide_);
  if (!ok) {
    clear();
    return false;
  }
  ansiCurrent_ = other.ansiCurrent_;
  utf8Current_ = other.utf8Current_;
  wideCurrent_ = other.wideCurrent_;
  return true;
}

bool XString::equalsUtf8(const char* text) const {
  return getUtf8SbConst().equals(skipBom(text));
}

bool XString::beginsWithUtf8(const char* text) const {
  return getUtf8SbConst().beginsWith(skipBom(text));
}

bool XString::endsWithUtf8(const char* text) const {
  return getUtf8SbConst().endsWith(skipBom(text));
}

}  // namespace sfx
