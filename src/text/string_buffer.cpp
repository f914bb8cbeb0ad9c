// StringBuffer: inline store, growth rule and the in-place edits.
#include "text/string_buffer.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "os/os.h"

namespace sfx {
namespace {

constexpr size_t kErrorTextSize = 1024;
// A 64-bit value has at most 20 digits; the local number buffer is sized 38.
constexpr size_t kNumberBufferSize = 38;

inline bool isTrimByte(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

inline char asciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool equalsFoldN(const char* a, const char* b, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) {
    if (asciiLower(a[i]) != asciiLower(b[i])) return false;
  }
  return true;
}

uint32_t safeLen(const char* s) {
  return s ? static_cast<uint32_t>(strlen(s)) : 0;
}

// Writes the decimal digits of `v` (with a leading "-" if `negative`) into
// buf, reversed in place; returns the length.
uint32_t formatDecimal(uint64_t v, bool negative, char* buf) {
  uint32_t n = 0;
  do {
    buf[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  if (negative) buf[n++] = '-';
  for (uint32_t i = 0, j = n - 1; i < j; ++i, --j) {
    char t = buf[i];
    buf[i] = buf[j];
    buf[j] = t;
  }
  return n;
}

}  // namespace

StringBuffer::StringBuffer() : data_(inline_) { inline_[0] = '\0'; }

StringBuffer::StringBuffer(const char* text) : StringBuffer() { append(text); }

StringBuffer StringBuffer::withGrowBy(uint32_t growBy) {
  StringBuffer sb;
  sb.growBy_ = growBy;
  return sb;
}

StringBuffer::StringBuffer(const StringBuffer& other)
    : NonRefCountedObj(other), data_(inline_) {
  inline_[0] = '\0';
  other.checkValid();
  growBy_ = other.growBy_;
  appendN(other.data_, other.length_);
}

StringBuffer& StringBuffer::operator=(const StringBuffer& other) {
  checkValid();
  other.checkValid();
  if (this != &other && !replaceWith(other.data_, other.length_)) clear();
  return *this;
}

StringBuffer::~StringBuffer() {
  checkValid();
  releaseHeap();
  valid_ = 0;
}

void StringBuffer::checkValid() const {
  if (valid_ != kValid) fatalInternalError("StringBuffer is not valid");
}

void StringBuffer::releaseHeap() {
  delete[] heap_;
  heap_ = nullptr;
  capacity_ = 0;
  data_ = inline_;
}

const char* StringBuffer::getString() const {
  checkValid();
  return data_;
}

uint32_t StringBuffer::getSize() const {
  checkValid();
  return length_;
}

uint32_t StringBuffer::getCapacity() const {
  checkValid();
  return heap_ ? capacity_ : kInlineSize;
}

bool StringBuffer::usesHeap() const {
  checkValid();
  return heap_ != nullptr;
}

uint32_t StringBuffer::getGrowBy() const {
  checkValid();
  return growBy_;
}

bool StringBuffer::ensureRoom(uint32_t count) {
  uint64_t needed = static_cast<uint64_t>(length_) + count;
  if (!heap_ && needed < kInlineSize) return true;
  if (heap_ && needed < capacity_) return true;
  uint64_t size = needed + growBy_ + 1;
  if (size > UINT32_MAX) size = needed + 1;
  if (size > UINT32_MAX) return false;
  char* fresh = new (std::nothrow) char[static_cast<size_t>(size)];
  if (!fresh) return false;
  memcpy(fresh, data_, length_ + 1);
  bool hadHeap = heap_ != nullptr;
  delete[] heap_;
  heap_ = fresh;
  data_ = fresh;
  capacity_ = static_cast<uint32_t>(size);
  if (hadHeap && growBy_ < capacity_ && growBy_ < kMaxGrowBy) {
    growBy_ = capacity_ / 2;
    if (growBy_ > kMaxGrowBy) growBy_ = kMaxGrowBy;
  }
  return true;
}

bool StringBuffer::expectNumBytes(uint32_t count) {
  checkValid();
  return ensureRoom(count);
}

bool StringBuffer::append(const char* text) {
  return appendN(text, safeLen(text));
}

bool StringBuffer::appendN(const char* bytes, uint32_t count) {
  checkValid();
  if (!bytes || count == 0) return true;
  // The source may lie inside our own text, which growth may move.
  bool inside = bytes >= data_ && bytes < data_ + length_ + 1;
  size_t offset = inside ? static_cast<size_t>(bytes - data_) : 0;
  if (!ensureRoom(count)) return false;
  if (inside) bytes = data_ + offset;
  memmove(data_ + length_, bytes, count);
  length_ += count;
  data_[length_] = '\0';
  return true;
}

bool StringBuffer::appendSb(const StringBuffer& other) {
  other.checkValid();
  return appendN(other.data_, other.length_);
}

bool StringBuffer::appendChar(char c) { return appendN(&c, 1); }

bool StringBuffer::appendChar2(char a, char b) {
  char t[2] = {a, b};
  return appendN(t, 2);
}

bool StringBuffer::appendChar3(char a, char b, char c) {
  char t[3] = {a, b, c};
  return appendN(t, 3);
}

bool StringBuffer::appendCharN(char c, uint32_t count) {
  checkValid();
  if (count == 0) return true;
  if (!ensureRoom(count)) return false;
  memset(data_ + length_, static_cast<unsigned char>(c), count);
  length_ += count;
  data_[length_] = '\0';
  return true;
}

bool StringBuffer::appendInt(int32_t value) { return appendInt64(value); }

bool StringBuffer::appendUint32(uint32_t value) {
  char buf[kNumberBufferSize];
  return appendN(buf, formatDecimal(value, false, buf));
}

bool StringBuffer::appendInt64(int64_t value) {
  char buf[kNumberBufferSize];
  bool negative = value < 0;
  // Negate in unsigned arithmetic so that the minimum value is safe.
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value)
                                : static_cast<uint64_t>(value);
  return appendN(buf, formatDecimal(magnitude, negative, buf));
}

bool StringBuffer::appendWindowsErrorText(uint32_t code) {
  char text[kErrorTextSize];
  osErrorText(code, text, sizeof text);
  return append(text);
}

bool StringBuffer::replaceWith(const char* bytes, uint32_t len) {
  if (len >= getCapacity()) {
    StringBuffer fresh;
    fresh.growBy_ = growBy_;
    if (!fresh.appendN(bytes, len)) return false;
    uint32_t keepGrowBy = fresh.growBy_;
    takeSb(fresh);
    growBy_ = keepGrowBy;
    return true;
  }
  memmove(data_, bytes, len);
  length_ = len;
  data_[length_] = '\0';
  return true;
}

bool StringBuffer::prepend(const char* text) {
  checkValid();
  uint32_t n = safeLen(text);
  if (n == 0) return true;
  StringBuffer joined;
  if (!joined.appendN(text, n) || !joined.appendN(data_, length_)) {
    return false;
  }
  return replaceWith(joined.data_, joined.length_);
}

bool StringBuffer::setString(const char* text) {
  return setStringN(text, safeLen(text));
}

bool StringBuffer::setStringN(const char* bytes, uint32_t count) {
  checkValid();
  if (!bytes) count = 0;
  if (count == 0) {
    length_ = 0;
    data_[0] = '\0';
    return true;
  }
  bool inside = bytes >= data_ && bytes < data_ + length_ + 1;
  if (inside) {
    if (bytes + count > data_ + length_)
      count = static_cast<uint32_t>(data_ + length_ - bytes);
    memmove(data_, bytes, count);
    length_ = count;
    data_[length_] = '\0';
    return true;
  }
  return replaceWith(bytes, count);
}

int32_t StringBuffer::intValue() const {
  checkValid();
  const char* p = data_;
  bool negative = false;
  if (*p == '-' || *p == '+') negative = (*p++ == '-');
  while (*p == '0') ++p;
  uint32_t v = 0;
  while (*p >= '0' && *p <= '9') v = v * 10 + static_cast<uint32_t>(*p++ - '0');
  if (negative) v = 0 - v;
  return static_cast<int32_t>(v);
}

void StringBuffer::clear() {
  checkValid();
  length_ = 0;
  data_[0] = '\0';
  growBy_ = kDefaultGrowBy;
}

void StringBuffer::clearAndFree() {
  checkValid();
  releaseHeap();
  length_ = 0;
  inline_[0] = '\0';
  growBy_ = kDefaultGrowBy;
}

void StringBuffer::secureClear() {
  checkValid();
  volatile char* p = data_;
  for (uint32_t i = 0; i < length_; ++i) p[i] = 0;
  clearAndFree();
}

void StringBuffer::shrink() {
  checkValid();
  if (!heap_) return;
  if (length_ < kInlineSize) {
    memcpy(inline_, heap_, length_ + 1);
    releaseHeap();
    return;
  }
  if (capacity_ > static_cast<uint64_t>(length_) + 256) {
    char* fresh = new (std::nothrow) char[length_ + 1];
    if (!fresh) return;
    memcpy(fresh, heap_, length_ + 1);
    delete[] heap_;
    heap_ = fresh;
    data_ = fresh;
    capacity_ = length_ + 1;
  }
}

void StringBuffer::shorten(uint32_t n) {
  checkValid();
  length_ = n >= length_ ? 0 : length_ - n;
  data_[length_] = '\0';
}

void StringBuffer::takeSb(StringBuffer& other) {
  checkValid();
  other.checkValid();
  if (&other == this) return;
  releaseHeap();
  if (other.heap_) {
    heap_ = other.heap_;
    data_ = heap_;
    capacity_ = other.capacity_;
    other.heap_ = nullptr;
    other.capacity_ = 0;
    other.data_ = other.inline_;
  } else {
    memcpy(inline_, other.inline_, other.length_ + 1);
  }
  length_ = other.length_;
  growBy_ = other.growBy_;
  other.length_ = 0;
  other.inline_[0] = '\0';
  other.growBy_ = kDefaultGrowBy;
}

void StringBuffer::trim2() {
  checkValid();
  uint32_t end = length_;
  while (end > 0 && isTrimByte(data_[end - 1])) --end;
  uint32_t start = 0;
  while (start < end && isTrimByte(data_[start])) ++start;
  if (start) memmove(data_, data_ + start, end - start);
  length_ = end - start;
  data_[length_] = '\0';
}

uint32_t StringBuffer::removeCharOccurrences(char c) {
  return removeChar(c, 0);
}

uint32_t StringBuffer::removeChar(char c, uint32_t from) {
  checkValid();
  if (from >= length_) return 0;
  uint32_t w = from;
  for (uint32_t r = from; r < length_; ++r) {
    if (data_[r] != c) data_[w++] = data_[r];
  }
  uint32_t removed = length_ - w;
  length_ = w;
  data_[length_] = '\0';
  return removed;
}

uint32_t StringBuffer::replaceChar(char from, char to) {
  checkValid();
  uint32_t count = 0;
  for (uint32_t i = 0; i < length_; ++i) {
    if (data_[i] == from) {
      data_[i] = to;
      ++count;
    }
  }
  return count;
}

uint32_t StringBuffer::replaceAllOccurrences(const char* find,
                                             const char* replacement) {
  checkValid();
  uint32_t findLen = safeLen(find);
  if (findLen == 0 || findLen > length_) return 0;
  uint32_t replLen = safeLen(replacement);
  StringBuffer result;
  uint32_t count = 0;
  uint32_t i = 0;
  uint32_t copiedUpTo = 0;
  while (i + findLen <= length_) {
    if (memcmp(data_ + i, find, findLen) == 0) {
      if (!result.appendN(data_ + copiedUpTo, i - copiedUpTo) ||
          !result.appendN(replacement, replLen)) {
        return 0;
      }
      ++count;
      i += findLen;
      copiedUpTo = i;
    } else {
      ++i;
    }
  }
  if (count == 0) return 0;
  if (!result.appendN(data_ + copiedUpTo, length_ - copiedUpTo)) return 0;
  if (!replaceWith(result.data_, result.length_)) return 0;
  return count;
}

uint32_t StringBuffer::replaceAllWithChar(const char* find, char c) {
  // The result is never longer than the text, so one in-place pass does.
  checkValid();
  uint32_t findLen = safeLen(find);
  if (findLen == 0) return 0;
  uint32_t w = 0, count = 0;
  for (uint32_t r = 0; r < length_;) {
    if (r + findLen <= length_ && memcmp(data_ + r, find, findLen) == 0) {
      data_[w++] = c;
      r += findLen;
      ++count;
    } else {
      data_[w++] = data_[r++];
    }
  }
  length_ = w;
  data_[length_] = '\0';
  return count;
}

bool StringBuffer::toCRLF() {
  checkValid();
  removeCharOccurrences('\r');
  uint32_t lfs = 0;
  for (uint32_t i = 0; i < length_; ++i) lfs += data_[i] == '\n';
  if (lfs == 0) return true;
  if (!ensureRoom(lfs)) return false;
  // Expand from the back so that every byte moves once.
  uint32_t r = length_, w = length_ + lfs;
  data_[w] = '\0';
  while (r > 0) {
    char c = data_[--r];
    data_[--w] = c;
    if (c == '\n') data_[--w] = '\r';
  }
  length_ += lfs;
  return true;
}

void StringBuffer::toLF() {
  checkValid();
  uint32_t w = 0;
  for (uint32_t r = 0; r < length_; ++r) {
    if (data_[r] == '\r' && r + 1 < length_ && data_[r + 1] == '\n') continue;
    data_[w++] = data_[r];
  }
  length_ = w;
  data_[length_] = '\0';
}

void StringBuffer::toLowerCase() {
  checkValid();
  for (uint32_t i = 0; i < length_; ++i) {
    unsigned char c = static_cast<unsigned char>(data_[i]);
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDF)) {
      data_[i] = static_cast<char>(c + 0x20);
    }
  }
}

bool StringBuffer::encodeXmlSpecial() {
  checkValid();
  StringBuffer out;
  bool changed = false;
  for (uint32_t i = 0; i < length_; ++i) {
    const char* rep = nullptr;
    switch (data_[i]) {
      case '&':
        rep = "&amp;";
        break;
      case '<':
        rep = "&lt;";
        break;
      case '>':
        rep = "&gt;";
        break;
      case '"':
        rep = "&quot;";
        break;
      default:
        break;
    }
    bool ok = rep ? out.append(rep) : out.appendChar(data_[i]);
    if (!ok) return false;
    changed |= rep != nullptr;
  }
  return !changed || replaceWith(out.data_, out.length_);
}

void StringBuffer::decodeXmlSpecial(uint32_t from) {
  checkValid();
  static const struct {
    const char* entity;
    uint32_t len;
    char c;
  } kEntities[] = {{"&amp;", 5, '&'},
                   {"&apos;", 6, '\''},
                   {"&lt;", 4, '<'},
                   {"&gt;", 4, '>'},
                   {"&quot;", 6, '"'}};
  if (from >= length_) return;
  uint32_t w = from;
  for (uint32_t r = from; r < length_;) {
    bool matched = false;
    if (data_[r] == '&') {
      for (const auto& e : kEntities) {
        if (r + e.len <= length_ && memcmp(data_ + r, e.entity, e.len) == 0) {
          data_[w++] = e.c;
          r += e.len;
          matched = true;
          break;
        }
      }
    }
    if (!matched) data_[w++] = data_[r++];
  }
  length_ = w;
  data_[length_] = '\0';
}

bool StringBuffer::expandEnvironmentVariables() {
  checkValid();
  if (!containsChar('%')) return true;
  StringBuffer out;
  StringBuffer name;
  uint32_t i = 0;
  while (i < length_) {
    char c = data_[i];
    if (c != '%') {
      if (!out.appendChar(c)) return false;
      ++i;
      continue;
    }
    const char* close =
        static_cast<const char*>(memchr(data_ + i + 1, '%', length_ - i - 1));
    if (!close) {  // a lone "%" and the rest stay as they are
      if (!out.appendN(data_ + i, length_ - i)) return false;
      break;
    }
    uint32_t nameLen = static_cast<uint32_t>(close - (data_ + i + 1));
    if (nameLen > 0) {
      if (!name.setStringN(data_ + i + 1, nameLen)) return false;
      std::string value;
      if (environmentValue(name.getString(), &value) &&
          !out.appendN(value.data(), static_cast<uint32_t>(value.size()))) {
        return false;
      }
    }
    i += nameLen + 2;
  }
  return replaceWith(out.data_, out.length_);
}

bool StringBuffer::equals(const char* text) const {
  checkValid();
  uint32_t n = safeLen(text);
  return n == length_ && (n == 0 || memcmp(data_, text, n) == 0);
}

bool StringBuffer::equals(const StringBuffer& other) const {
  checkValid();
  other.checkValid();
  return other.length_ == length_ && memcmp(data_, other.data_, length_) == 0;
}

bool StringBuffer::equalsIgnoreCase(const char* text) const {
  checkValid();
  uint32_t n = safeLen(text);
  return n == length_ && equalsFoldN(data_, text, n);
}

bool StringBuffer::beginsWith(const char* text) const {
  checkValid();
  uint32_t n = safeLen(text);
  return n <= length_ && memcmp(data_, text ? text : "", n) == 0;
}

bool StringBuffer::beginsWithIgnoreCase(const char* text) const {
  checkValid();
  uint32_t n = safeLen(text);
  return n <= length_ && equalsFoldN(data_, text, n);
}

bool StringBuffer::endsWith(const char* text) const {
  checkValid();
  uint32_t n = safeLen(text);
  return n <= length_ && memcmp(data_ + length_ - n, text ? text : "", n) == 0;
}

bool StringBuffer::endsWithIgnoreCase(const char* text) const {
  checkValid();
  uint32_t n = safeLen(text);
  return n <= length_ && equalsFoldN(data_ + length_ - n, text, n);
}

bool StringBuffer::containsChar(char c) const {
  checkValid();
  return memchr(data_, c, length_) != nullptr;
}

const char* StringBuffer::findSubstring(const char* text) const {
  checkValid();
  uint32_t n = safeLen(text);
  if (n == 0 || n > length_) return nullptr;
  for (uint32_t i = 0; i + n <= length_; ++i) {
    if (data_[i] == text[0] && memcmp(data_ + i, text, n) == 0)
      return data_ + i;
  }
  return nullptr;
}

char StringBuffer::lastChar() const {
  checkValid();
  return length_ ? data_[length_ - 1] : '\0';
}

bool StringBuffer::is7bit() const {
  checkValid();
  for (uint32_t i = 0; i < length_; ++i) {
    if (static_cast<unsigned char>(data_[i]) >= 0x80) return false;
  }
  return true;
}

}  // namespace sfx
