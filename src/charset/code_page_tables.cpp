// The code-page tables and their process-wide slots. The byte-to-UTF-16
// halves follow the published Windows code-page mapping tables; bytes the
// table leaves undefined have no character.
#include "charset/code_page_tables.h"

#include <algorithm>
#include <new>

namespace sfx {
namespace {

constexpr uint16_t kU = SingleByteCodePage::kUndefined;

// Windows-1252, bytes 0x80-0xFF. 0xA0-0xFF coincide with Latin-1.
const uint16_t kCp1252High[128] = {
    0x20AC, kU,     0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, kU,     0x017D, kU,      // 88
    kU,     0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, kU,     0x017E, 0x0178,  // 98
    0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7,  // A0
    0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,  // A8
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,  // B8
    0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,  // C0
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF,  // C8
    0x00D0, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7,  // D0
    0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF,  // D8
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7,  // E0
    0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF,  // E8
    0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,  // F0
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF,  // F8
};

}  // namespace

SingleByteCodePage::~SingleByteCodePage() {
  delete reverse_.load(std::memory_order_acquire);
}

const SingleByteCodePage::ReverseTable* SingleByteCodePage::reverseTable()
    const {
  ReverseTable* table = reverse_.load(std::memory_order_acquire);
  if (table) return table;
  ReverseTable* built = new (std::nothrow) ReverseTable;
  if (!built) return nullptr;
  built->count = 0;
  for (int b = 0x80; b <= 0xFF; ++b) {
    uint16_t unit = high_[b - 0x80];
    if (unit != kUndefined) {
      built->entries[built->count++] = {unit, static_cast<uint8_t>(b)};
    }
  }
  // Stable, so that of two bytes with the same character the lower wins.
  std::stable_sort(built->entries, built->entries + built->count,
                   [](const ReverseEntry& a, const ReverseEntry& b) {
                     return a.unit < b.unit;
                   });
  // Publish unless another thread was quicker; then use its table.
  ReverseTable* expected = nullptr;
  if (!reverse_.compare_exchange_strong(expected, built,
                                        std::memory_order_acq_rel)) {
    delete built;
    return expected;
  }
  return built;
}

bool SingleByteCodePage::fromUnicode(uint16_t unit, uint8_t* b) const {
  if (unit < 0x80) {
    *b = static_cast<uint8_t>(unit);
    return true;
  }
  const ReverseTable* table = reverseTable();
  if (!table) return false;
  const ReverseEntry* end = table->entries + table->count;
  const ReverseEntry* it = std::lower_bound(
      table->entries, end, unit,
      [](const ReverseEntry& e, uint16_t u) { return e.unit < u; });
  if (it == end || it->unit != unit) return false;
  *b = it->byte;
  return true;
}

const SingleByteCodePage* singleByteCodePage(uint32_t codePage) {
  switch (codePage) {
    case 1252: {
      static const SingleByteCodePage page(1252, kCp1252High);
      return &page;
    }
    default:
      return nullptr;
  }
}

}  // namespace sfx
