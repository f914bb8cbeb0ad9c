// DataBuffer: growth by size-dependent increments, borrowed data, and the
// 16-bit code-unit edits used on wide text.
#include "text/data_buffer.h"

#include <cstdlib>
#include <cstring>

#include "log/log_base.h"
#include "os/os.h"
#include "text/content_coding.h"
#include "text/string_buffer.h"

namespace sfx {
namespace {

// An append of n bytes that does not fit grows by the first threshold T with
// n < T <= size, so large buffers grow in large steps; else by 20000 (small
// appends) or by exactly n.
constexpr uint32_t kGrowthThresholds[] = {12000000, 8000000, 4000000, 3000000,
                                          2000000,  1000000, 100000,  50000};
constexpr uint32_t kSmallAppendIncrement = 20000;
// The second attempt when the first growth cannot be allocated.
constexpr uint32_t kFallbackSlack = 400;
// appendByte on a full buffer grows by this much.
constexpr uint32_t kAppendByteIncrement = 10000;

uint32_t growthIncrement(uint32_t size, uint32_t n) {
  for (uint32_t t : kGrowthThresholds) {
    if (n < t && size >= t) return t;
  }
  return n < kSmallAppendIncrement ? kSmallAppendIncrement : n;
}

inline uint16_t unitAt(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

}  // namespace

DataBuffer::DataBuffer() = default;

DataBuffer::~DataBuffer() {
  checkValid();
  if (!borrowed_) free(data_);
  data_ = nullptr;
  valid_ = 0;
}

void DataBuffer::checkValid() const {
  if (valid_ != kValid) fatalInternalError("DataBuffer is not valid");
}

uint32_t DataBuffer::getSize() const {
  checkValid();
  return size_;
}

uint32_t DataBuffer::getCapacity() const {
  checkValid();
  return capacity_;
}

const uint8_t* DataBuffer::getData() const {
  checkValid();
  return data_;
}

uint8_t* DataBuffer::getData() {
  checkValid();
  return data_;
}

const uint8_t* DataBuffer::getDataAt(uint32_t index) const {
  checkValid();
  return index < size_ ? data_ + index : nullptr;
}

bool DataBuffer::isBorrowed() const {
  checkValid();
  return borrowed_;
}

bool DataBuffer::reallocTo(uint32_t newCapacity) {
  uint8_t* fresh = static_cast<uint8_t*>(malloc(newCapacity ? newCapacity : 1));
  if (!fresh) return false;
  if (size_) memcpy(fresh, data_, size_);
  if (!borrowed_) free(data_);
  data_ = fresh;
  capacity_ = newCapacity;
  borrowed_ = false;
  return true;
}

bool DataBuffer::makeOwned() { return !borrowed_ || reallocTo(size_); }

bool DataBuffer::append(const void* bytes, uint32_t count) {
  checkValid();
  if (!bytes || count == 0) return true;
  const uint8_t* src = static_cast<const uint8_t*>(bytes);
  uint64_t needed = static_cast<uint64_t>(size_) + count;
  if (needed > UINT32_MAX) return false;
  if (borrowed_ || needed > capacity_) {
    bool inside = data_ && src >= data_ && src < data_ + size_;
    size_t offset = inside ? static_cast<size_t>(src - data_) : 0;
    uint64_t first =
        static_cast<uint64_t>(size_) + growthIncrement(size_, count);
    uint64_t second = needed + kFallbackSlack;
    if (!(first <= UINT32_MAX && reallocTo(static_cast<uint32_t>(first))) &&
        !(second <= UINT32_MAX && reallocTo(static_cast<uint32_t>(second)))) {
      return false;
    }
    if (inside) src = data_ + offset;
  }
  memmove(data_ + size_, src, count);
  size_ += count;
  return true;
}

bool DataBuffer::appendByte(uint8_t b) {
  checkValid();
  if (borrowed_ || size_ >= capacity_) {
    uint64_t grown = static_cast<uint64_t>(size_) + kAppendByteIncrement;
    if (grown > UINT32_MAX || !reallocTo(static_cast<uint32_t>(grown))) {
      return append(&b, 1);  // the increment rule, with its fallback
    }
  }
  data_[size_++] = b;
  return true;
}

bool DataBuffer::appendSb(const StringBuffer& sb) {
  return append(sb.getString(), sb.getSize());
}

bool DataBuffer::appendDb(const DataBuffer& db) {
  return append(db.getData(), db.getSize());
}

bool DataBuffer::ensureCapacity(uint32_t n) {
  checkValid();
  if (borrowed_) return reallocTo(n > size_ ? n : size_);
  return n <= capacity_ || reallocTo(n);
}

void DataBuffer::borrowData(const void* bytes, uint32_t count) {
  checkValid();
  if (!borrowed_) free(data_);
  data_ = static_cast<uint8_t*>(const_cast<void*>(bytes));
  size_ = bytes ? count : 0;
  capacity_ = size_;
  borrowed_ = bytes != nullptr;
}

void DataBuffer::removeFront(uint32_t n) {
  checkValid();
  if (n == 0) return;
  if (n >= size_) {
    if (borrowed_) {
      clear();
    } else {
      size_ = 0;
    }
    return;
  }
  if (borrowed_) {
    // Borrowed bytes are not ours to move: look past the dropped ones.
    data_ += n;
    capacity_ -= n;
  } else {
    memmove(data_, data_ + n, size_ - n);
  }
  size_ -= n;
}

void DataBuffer::shorten(uint32_t n) {
  checkValid();
  size_ = n >= size_ ? 0 : size_ - n;
}

void DataBuffer::clear() {
  checkValid();
  if (borrowed_) {
    data_ = nullptr;
    capacity_ = 0;
    borrowed_ = false;
  }
  size_ = 0;
}

void DataBuffer::clearAndFree() {
  checkValid();
  if (!borrowed_) free(data_);
  data_ = nullptr;
  capacity_ = 0;
  borrowed_ = false;
  size_ = 0;
}

void DataBuffer::secureClear() {
  checkValid();
  if (!borrowed_) {
    volatile uint8_t* p = data_;
    for (uint32_t i = 0; i < size_; ++i) p[i] = 0;
  }
  clear();
}

uint32_t DataBuffer::removeWideChar(uint16_t unit) {
  checkValid();
  if (!makeOwned()) return 0;
  uint32_t units = size_ / 2, w = 0, removed = 0;
  for (uint32_t r = 0; r < units; ++r) {
    if (unitAt(data_ + 2 * r) == unit) {
      ++removed;
      continue;
    }
    data_[2 * w] = data_[2 * r];
    data_[2 * w + 1] = data_[2 * r + 1];
    ++w;
  }
  if (size_ & 1) data_[2 * w] = data_[size_ - 1];
  size_ -= 2 * removed;
  return removed;
}

uint32_t DataBuffer::replaceWideChar(uint16_t from, uint16_t to) {
  checkValid();
  if (!makeOwned()) return 0;
  uint32_t count = 0;
  for (uint32_t i = 0; i + 1 < size_; i += 2) {
    if (unitAt(data_ + i) == from) {
      data_[i] = static_cast<uint8_t>(to & 0xFF);
      data_[i + 1] = static_cast<uint8_t>(to >> 8);
      ++count;
    }
  }
  return count;
}

bool DataBuffer::equals(const DataBuffer& other) const {
  checkValid();
  other.checkValid();
  return size_ == other.size_ &&
         (size_ == 0 || memcmp(data_, other.data_, size_) == 0);
}

bool DataBuffer::encodeDB(const char* encoding, StringBuffer& out,
                          LogBase& log) const {
  checkValid();
  StringBuffer name(encoding);
  name.trim2();
  ContentCoding coding;
  bool ok = true;
  if (name.equalsIgnoreCase("base64") || name.equalsIgnoreCase("base-64")) {
    ok = ContentCoding::encodeBase64(data_, size_, out);
  } else if (name.equalsIgnoreCase("qp") ||
             name.equalsIgnoreCase("quoted-printable")) {
    ok = coding.encodeQuotedPrintable(data_, size_, out);
  } else if (name.beginsWithIgnoreCase("qp-")) {
    StringBuffer length(name.getString() + 3);
    int32_t n = length.intValue();
    if (n != 0) coding.setMaxLineLength(n < 0 ? 0 : static_cast<uint32_t>(n));
    ok = coding.encodeQuotedPrintable(data_, size_, out);
  } else if (name.equalsIgnoreCase("hex") ||
             name.equalsIgnoreCase("hexidecimal")) {
    ok = ContentCoding::encodeHex(data_, size_, out);
  } else if (name.equalsIgnoreCase("asc") || name.equalsIgnoreCase("ansi")) {
    ok = out.appendN(reinterpret_cast<const char*>(data_), size_);
  } else if (name.equalsIgnoreCase("url") ||
             name.equalsIgnoreCase("url_rfc3986") ||
             name.equalsIgnoreCase("url_oauth")) {
    ok =
        ContentCoding::encodeUrl(data_, size_, ContentCoding::kUrlRfc3986, out);
  } else if (name.equalsIgnoreCase("url_rfc1738")) {
    ok =
        ContentCoding::encodeUrl(data_, size_, ContentCoding::kUrlRfc1738, out);
  } else if (name.equalsIgnoreCase("url_rfc2396")) {
    ok =
        ContentCoding::encodeUrl(data_, size_, ContentCoding::kUrlRfc2396, out);
  }
  if (!ok) log.memoryAllocFailed(1, static_cast<int>(size_));
  return ok;
}

}  // namespace sfx
