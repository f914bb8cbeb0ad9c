// The code-page tables the converter maps through. Each table is reached by
// its code page, unpacked from the program's packed data on first use and
// then shared, read-only, for the life of the process.
#ifndef SFX_CHARSET_CODE_PAGE_TABLES_H_
#define SFX_CHARSET_CODE_PAGE_TABLES_H_

#include <atomic>
#include <cstdint>

namespace sfx {

// One code page of single bytes and, for a double-byte page, lead bytes
// followed by one trail byte. A code is the byte itself, or lead * 256 +
// trail. Every character is one UTF-16 code unit.
class CodePageTable {
 public:
  // Marks a byte, code or unit with no mapping.
  static constexpr uint16_t kNone = 0xFFFF;

  ~CodePageTable();
  CodePageTable(const CodePageTable&) = delete;
  CodePageTable& operator=(const CodePageTable&) = delete;

  // Unpacks the table of `codePage` from `packed` (the generator's form).
  // Returns null when memory runs out or the data is malformed.
  static CodePageTable* unpack(uint32_t codePage, const uint8_t* packed,
                               uint32_t size);

  uint32_t codePage() const { return codePage_; }
  // True when the page has lead bytes.
  bool isDoubleByte() const { return doubleByte_; }
  bool isLeadByte(uint8_t b) const { return trail_[b] != nullptr; }
  // The first byte of the page's three-byte sequences, or 0 when it has
  // none. The prefix, a lead byte L and a byte T + 0x80 stand for the pair
  // L, T with T below 0x80 (EUC-JP's JIS X 0212 sequences).
  uint8_t prefixByte() const { return prefix_; }

  // The unit of single byte `b` (kNone for a lead byte or an unmapped byte).
  uint16_t toUnicode(uint8_t b) const { return single_[b]; }
  // The unit of lead byte `lead` followed by `trail`, or kNone.
  uint16_t toUnicode2(uint8_t lead, uint8_t trail) const {
    return trail_[lead] ? trail_[lead][trail] : kNone;
  }

  // Builds the unit-to-code direction if it is not built yet. False when
  // memory runs out; fromUnicode then finds nothing.
  bool prepareReverse() const;
  // The code that `unit` converts to (a value above 0xFF is two bytes, lead
  // first), or kNone. Call prepareReverse first.
  uint16_t fromUnicode(uint16_t unit) const {
    const ReverseTable* r = reverse_.load(std::memory_order_acquire);
    if (!r || !r->blocks[unit >> 8]) return kNone;
    return r->blocks[unit >> 8][unit & 0xFF];
  }

 private:
  // 256 blocks of 256 codes by the unit's high byte; null blocks hold no
  // mapping.
  struct ReverseTable {
    uint16_t* blocks[256];
    ~ReverseTable();
  };

  explicit CodePageTable(uint32_t codePage);
  bool decode(const uint8_t* packed, uint32_t size);
  // Sets the unit of `code` (kNone: no unit). False for a code beyond the
  // page's bytes (a pair whose lead byte was not declared).
  bool setCode(uint32_t code, uint32_t unit);
  // Copies the single bytes 0 to singleLast that are no lead bytes here, and
  // for each lead byte here the trails trailFirst to trailLast, from the
  // table of `baseCodePage` (unpacked for the purpose and dropped again).
  // False when that page is missing, is itself a copy, or memory runs out.
  bool copyBase(uint32_t baseCodePage, uint8_t singleLast, uint8_t trailFirst,
                uint8_t trailLast);

  uint32_t codePage_;
  bool doubleByte_ = false;
  uint8_t prefix_ = 0;
  uint16_t single_[256];
  // Per lead byte, the units of its 256 trail bytes; null for other bytes.
  uint16_t* trail_[256] = {};
  // The codes the reverse direction takes instead of the lowest code of a
  // unit (or kNone): pairs of unit and code, from the packed data.
  const uint8_t* exceptions_ = nullptr;
  uint32_t numExceptions_ = 0;
  mutable std::atomic<ReverseTable*> reverse_{nullptr};
};

// True when the program carries a table for `codePage`.
bool hasCodePageTable(uint32_t codePage);

// The table of `codePage`, unpacked on the first call for that page and
// shared afterwards. Null when the page has no table or memory runs out
// (hasCodePageTable tells the two apart). Safe to call from several threads:
// of two tables built at once, the one published first is kept.
const CodePageTable* codePageTable(uint32_t codePage);

// How many tables have been unpacked in this process (for tests of the
// lazy unpacking).
uint32_t numUnpackedCodePageTables();

}  // namespace sfx

#endif  // SFX_CHARSET_CODE_PAGE_TABLES_H_
