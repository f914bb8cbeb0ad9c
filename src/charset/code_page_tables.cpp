// Unpacking of the packed code-page tables (the form is documented in
// tools/gen_codepages/gen_codepages.py) and their process-wide slots: one
// per page, filled on first use, never emptied.
#include "charset/code_page_tables.h"

#include <new>

#include "charset/code_page_data.h"

namespace sfx {
namespace {

// Room for every entry of the catalogue; a test checks the catalogue fits.
constexpr uint32_t kMaxTables = 160;
std::atomic<CodePageTable*> gSlots[kMaxTables];
std::atomic<uint32_t> gNumUnpacked{0};

// Catalogue index of `codePage`, or -1.
int findPacked(uint32_t codePage) {
  uint32_t lo = 0, hi = kNumPackedCodePages;
  while (lo < hi) {
    uint32_t mid = (lo + hi) / 2;
    uint32_t cp = kPackedCodePages[mid].codePage;
    if (cp == codePage) return mid < kMaxTables ? static_cast<int>(mid) : -1;
    if (cp < codePage) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return -1;
}

// Reads the packed stream with bounds checks; any overrun sets `bad`.
class PackedReader {
 public:
  PackedReader(const uint8_t* p, uint32_t n) : p_(p), end_(p + n) {}
  uint8_t byte() {
    if (p_ == end_) {
      bad = true;
      return 0;
    }
    return *p_++;
  }
  uint32_t varint() {
    uint32_t v = 0;
    for (int shift = 0; shift < 32; shift += 7) {
      uint8_t b = byte();
      v |= static_cast<uint32_t>(b & 0x7F) << shift;
      if (!(b & 0x80)) return v;
    }
    bad = true;
    return 0;
  }
  const uint8_t* pos() const { return p_; }
  uint32_t left() const { return static_cast<uint32_t>(end_ - p_); }
  bool bad = false;

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};

}  // namespace

CodePageTable::CodePageTable(uint32_t codePage) : codePage_(codePage) {
  for (uint16_t& u : single_) u = kNone;
}

CodePageTable::~CodePageTable() {
  for (uint16_t* block : trail_) delete[] block;
  delete reverse_.load(std::memory_order_acquire);
}

CodePageTable::ReverseTable::~ReverseTable() {
  for (uint16_t* block : blocks) delete[] block;
}

bool CodePageTable::setCode(uint32_t code, uint32_t unit) {
  if (code > 0xFFFF || unit > kNone) return false;
  if (code < 0x100) {
    if (trail_[code]) return false;
    single_[code] = static_cast<uint16_t>(unit);
    return true;
  }
  uint16_t* block = trail_[code >> 8];
  if (!block) return false;
  block[code & 0xFF] = static_cast<uint16_t>(unit);
  return true;
}

bool CodePageTable::decode(const uint8_t* packed, uint32_t size) {
  PackedReader in(packed, size);
  uint8_t flags = in.byte();
  if (flags & 1) {
    for (int i = 0; i < 32; ++i) {
      uint8_t bits = in.byte();
      for (int k = 0; k < 8; ++k) {
        if (!(bits & (1 << k))) continue;
        uint16_t* block = new (std::nothrow) uint16_t[256];
        if (!block) return false;
        for (int t = 0; t < 256; ++t) block[t] = kNone;
        trail_[i * 8 + k] = block;
        doubleByte_ = true;
      }
    }
  }
  if (flags & 4) prefix_ = in.byte();
  if (flags & 2) {
    uint32_t baseCodePage = in.varint();
    uint8_t singleLast = in.byte();
    uint8_t trailFirst = in.byte();
    uint8_t trailLast = in.byte();
    if (in.bad || !copyBase(baseCodePage, singleLast, trailFirst, trailLast)) {
      return false;
    }
  }
  uint32_t code = 0, unit = 0;
  for (;;) {
    uint8_t op = in.byte();
    if (in.bad) return false;
    uint32_t kind = op >> 6;
    uint32_t count = op & 0x3F;
    if (count == 63) count += in.varint();
    if (kind == 3) {
      if (count == 0) break;
      for (uint32_t i = 0; i < count; ++i) {
        if (!setCode(code++, kNone)) return false;
      }
      continue;
    }
    count += 1;
    if (kind == 0) {
      code += count;
      continue;
    }
    for (uint32_t i = 0; i < count; ++i) {
      if (kind == 1) {
        unit += 1;
      } else {
        uint8_t b0 = in.byte();
        if (b0 < 0x80) {
          unit += static_cast<uint32_t>(b0) - 64;
        } else if (b0 < 0xC0) {
          uint32_t v = (static_cast<uint32_t>(b0 & 0x3F) << 8) | in.byte();
          unit += v - 8192;
        } else {
          uint32_t v = static_cast<uint32_t>(b0 & 0x3F) << 16;
          v |= static_cast<uint32_t>(in.byte()) << 8;
          unit = v | in.byte();
        }
      }
      if (in.bad || !setCode(code++, unit)) return false;
    }
  }
  numExceptions_ = in.varint();
  if (in.bad || in.left() / 4 < numExceptions_) return false;
  exceptions_ = in.pos();
  return true;
}

bool CodePageTable::copyBase(uint32_t baseCodePage, uint8_t singleLast,
                             uint8_t trailFirst, uint8_t trailLast) {
  int index = findPacked(baseCodePage);
  if (index < 0) return false;
  const PackedCodePage& packed = kPackedCodePages[index];
  // A base is never a copy itself, which bounds the recursion.
  if (packed.size == 0 || (packed.data[0] & 2)) return false;
  CodePageTable* base = unpack(baseCodePage, packed.data, packed.size);
  if (!base) return false;
  for (uint32_t b = 0; b <= singleLast; ++b) {
    if (!trail_[b]) single_[b] = base->single_[b];
  }
  for (uint32_t lead = 0; lead < 256; ++lead) {
    if (!trail_[lead] || !base->trail_[lead]) continue;
    for (uint32_t t = trailFirst; t <= trailLast; ++t) {
      trail_[lead][t] = base->trail_[lead][t];
    }
  }
  delete base;
  return true;
}

CodePageTable* CodePageTable::unpack(uint32_t codePage, const uint8_t* packed,
                                     uint32_t size) {
  CodePageTable* table = new (std::nothrow) CodePageTable(codePage);
  if (!table) return nullptr;
  if (!table->decode(packed, size)) {
    delete table;
    return nullptr;
  }
  return table;
}

bool CodePageTable::prepareReverse() const {
  if (reverse_.load(std::memory_order_acquire)) return true;
  ReverseTable* built = new (std::nothrow) ReverseTable();
  if (!built) return false;
  // Lowest code first, so that of two codes of one unit the lower wins.
  auto put = [built](uint32_t unit, uint32_t code, bool replace) {
    uint16_t*& block = built->blocks[unit >> 8];
    if (!block) {
      block = new (std::nothrow) uint16_t[256];
      if (!block) return false;
      for (int i = 0; i < 256; ++i) block[i] = kNone;
    }
    uint16_t& slot = block[unit & 0xFF];
    if (replace || slot == kNone) slot = static_cast<uint16_t>(code);
    return true;
  };
  bool ok = true;
  for (uint32_t b = 0; b < 256 && ok; ++b) {
    if (single_[b] != kNone) ok = put(single_[b], b, false);
  }
  for (uint32_t lead = 0; lead < 256 && ok; ++lead) {
    if (!trail_[lead]) continue;
    for (uint32_t t = 0; t < 256 && ok; ++t) {
      uint16_t unit = trail_[lead][t];
      if (unit != kNone) ok = put(unit, lead * 256 + t, false);
    }
  }
  for (uint32_t i = 0; i < numExceptions_ && ok; ++i) {
    const uint8_t* e = exceptions_ + 4 * i;
    ok = put(e[0] | (e[1] << 8), e[2] | (e[3] << 8), true);
  }
  if (!ok) {
    delete built;
    return false;
  }
  // Publish unless another thread was quicker; then use its table.
  ReverseTable* expected = nullptr;
  if (!reverse_.compare_exchange_strong(expected, built,
                                        std::memory_order_acq_rel)) {
    delete built;
  }
  return true;
}

bool hasCodePageTable(uint32_t codePage) { return findPacked(codePage) >= 0; }

const CodePageTable* codePageTable(uint32_t codePage) {
  int index = findPacked(codePage);
  if (index < 0) return nullptr;
  std::atomic<CodePageTable*>& slot = gSlots[index];
  CodePageTable* table = slot.load(std::memory_order_acquire);
  if (table) return table;
  const PackedCodePage& packed = kPackedCodePages[index];
  CodePageTable* built =
      CodePageTable::unpack(codePage, packed.data, packed.size);
  if (!built) return nullptr;
  // Store only into an empty slot; a table another thread stored first wins.
  CodePageTable* expected = nullptr;
  if (!slot.compare_exchange_strong(expected, built,
                                    std::memory_order_acq_rel)) {
    delete built;
    return expected;
  }
  gNumUnpacked.fetch_add(1, std::memory_order_relaxed);
  return built;
}

uint32_t numUnpackedCodePageTables() {
  return gNumUnpacked.load(std::memory_order_relaxed);
}

}  // namespace sfx
