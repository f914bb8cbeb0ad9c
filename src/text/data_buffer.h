// DataBuffer: the growable byte array under every binary path (file
// contents, the wide form of XString, decoded payload data, conversion
// results). The bytes are not zero-terminated unless a caller appends a zero.
#ifndef SFX_TEXT_DATA_BUFFER_H_
#define SFX_TEXT_DATA_BUFFER_H_

#include <cstdint>

#include "text/marlith_object.h"

namespace sfx {

class LogBase;
class StringBuffer;
class XString;

class DataBuffer : public MarlithObject {
 public:
  // 0xDB while the object is alive, 0 after destruction.
  static constexpr uint8_t kValid = 0xDB;

  DataBuffer();
  ~DataBuffer() override;
  DataBuffer(const DataBuffer&) = delete;
  DataBuffer& operator=(const DataBuffer&) = delete;

  uint32_t getSize() const;
  uint32_t getCapacity() const;
  // The bytes, or null when nothing was ever allocated or borrowed.
  const uint8_t* getData() const;
  uint8_t* getData();
  // Address of byte `index`, or null outside 0 .. size - 1.
  const uint8_t* getDataAt(uint32_t index) const;
  bool isBorrowed() const;

  // Appends `count` bytes (null or 0 is a successful no-op). When they do not
  // fit, the buffer grows by the increment rule (see data_buffer.cpp); returns
  // false and leaves the buffer unchanged when memory cannot be had. `bytes`
  // may point into this buffer.
  bool append(const void* bytes, uint32_t count);
  // Appends one byte; a full buffer first grows to size + 10000.
  bool appendByte(uint8_t b);
  // Append the text bytes of `sb` (without terminator) / all bytes of `db`.
  bool appendSb(const StringBuffer& sb);
  bool appendDb(const DataBuffer& db);

  // Makes the capacity at least `n`. A borrowed buffer is first copied into
  // an allocation of its own. False when memory cannot be had.
  bool ensureCapacity(uint32_t n);

  // Makes the buffer refer to `count` bytes at `bytes` that belong to the
  // caller, who keeps them alive and unchanged while they are borrowed. The
  // buffer never writes into or releases borrowed bytes: the next growth
  // copies them into an allocation of its own.
  void borrowData(const void* bytes, uint32_t count);

  // Drops the first `n` bytes; `n` at or beyond the size empties the buffer.
  void removeFront(uint32_t n);
  // Drops the last `n` bytes (at most all of them).
  void shorten(uint32_t n);
  // Size 0; keeps an owned allocation, forgets a borrowed one.
  void clear();
  // Size 0 and the allocation released (a borrowed one is forgotten).
  void clearAndFree();
  // Overwrites the used bytes of an owned allocation with zeros, then size 0.
  // Borrowed bytes are forgotten, not overwritten.
  void secureClear();

  // Treat the bytes as 16-bit little-endian code units (an odd last byte is
  // left alone): delete every unit equal to `unit` / replace every `from` by
  // `to`. Return the number of units affected; a borrowed buffer is copied
  // first (0 if that copy fails).
  uint32_t removeWideChar(uint16_t unit);
  uint32_t replaceWideChar(uint16_t from, uint16_t to);

  bool equals(const DataBuffer& other) const;

  // Replaces the contents with the whole file at `path`, read with one
  // allocation (the file size plus 32 zero bytes) and one read request. An
  // empty file gives an empty buffer. On failure returns false with the
  // reason in `log` ("Failed to open for read.", "Failed to get file size.",
  // "Out of memory ...", "Failed to read the entire file (2)"); after a short
  // read the buffer holds the bytes that were read.
  bool loadFileX(const XString& path, LogBase& log);

  // Appends the text encoding of all bytes to `out`. `encoding` is trimmed
  // of surrounding whitespace and compared without regard to ASCII case:
  // "base64"/"base-64"; "qp"/"quoted-printable" (line length 76) or "qp-N"
  // (line length N; 0 or unreadable keeps 76, below 10 gives 10);
  // "hex"/"hexidecimal"; "asc"/"ansi" (the bytes as they are);
  // "url"/"url_rfc3986"/"url_oauth", "url_rfc1738", "url_rfc2396". A name
  // that matches nothing appends nothing. Returns false only when memory
  // runs out, after logging it.
  bool encodeDB(const char* encoding, StringBuffer& out, LogBase& log) const;

 private:
  friend class DataBufferTestPeer;

  void checkValid() const;
  // Reallocates to exactly `newCapacity` (>= size) as an owned allocation.
  bool reallocTo(uint32_t newCapacity);
  bool makeOwned();

  uint32_t size_ = 0;
  uint32_t capacity_ = 0;
  uint8_t* data_ = nullptr;
  bool borrowed_ = false;
  uint8_t valid_ = kValid;
};

}  // namespace sfx

#endif  // SFX_TEXT_DATA_BUFFER_H_
