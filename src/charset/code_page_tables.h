// The code-page tables the converter maps through. Each table is reached by
// its code page, built on first use and then shared, read-only, for the life
// of the process.
#ifndef SFX_CHARSET_CODE_PAGE_TABLES_H_
#define SFX_CHARSET_CODE_PAGE_TABLES_H_

#include <atomic>
#include <cstdint>

namespace sfx {

// A single-byte code page whose bytes 0x00-0x7F are ASCII (the ISO-8859 and
// Windows 125x pages): bytes 0x80-0xFF map through a 128-entry table.
class SingleByteCodePage {
 public:
  // Marks a byte with no character in the page.
  static constexpr uint16_t kUndefined = 0xFFFF;

  SingleByteCodePage(uint32_t codePage, const uint16_t* high)
      : codePage_(codePage), high_(high) {}
  ~SingleByteCodePage();
  SingleByteCodePage(const SingleByteCodePage&) = delete;
  SingleByteCodePage& operator=(const SingleByteCodePage&) = delete;

  uint32_t codePage() const { return codePage_; }

  // The UTF-16 code unit of byte `b`, or kUndefined.
  uint16_t toUnicode(uint8_t b) const { return b < 0x80 ? b : high_[b - 0x80]; }

  // The byte that maps to `unit`; false when the page has none.
  bool fromUnicode(uint16_t unit, uint8_t* b) const;

 private:
  struct ReverseEntry {
    uint16_t unit;
    uint8_t byte;
  };
  struct ReverseTable {
    uint32_t count;
    ReverseEntry entries[128];  // sorted by unit
  };
  const ReverseTable* reverseTable() const;

  uint32_t codePage_;
  const uint16_t* high_;
  // Built by the first fromUnicode call; see reverseTable().
  mutable std::atomic<ReverseTable*> reverse_{nullptr};
};

// The single-byte table of `codePage`, or null when the page has none.
const SingleByteCodePage* singleByteCodePage(uint32_t codePage);

}  // namespace sfx

#endif  // SFX_CHARSET_CODE_PAGE_TABLES_H_
