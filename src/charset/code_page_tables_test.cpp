#include "charset/code_page_tables.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "charset/code_page_data.h"
#include "charset/encoding_convert.h"
#include "log/log_base.h"
#include "text/data_buffer.h"

namespace sfx {
namespace {

struct Digest {
  uint32_t codePage;
  uint32_t numCodes;
  uint32_t codesDigest;
  uint32_t numUnits;
  uint32_t unitsDigest;
};

// Written by the table generator straight from the mapping data it read,
// not from the packed tables.
const Digest kDigests[] = {
#include "charset/code_page_digests.inc"
};

class Fnv1a {
 public:
  void pair(uint32_t a, uint32_t b) {
    for (uint32_t byte : {a & 0xFF, a >> 8, b & 0xFF, b >> 8}) {
      h_ ^= byte;
      h_ *= 0x01000193u;
    }
  }
  uint32_t value() const { return h_; }

 private:
  uint32_t h_ = 0x811C9DC5u;
};

TEST(CodePageTablesTest, EveryTableAgreesWithItsMappingDataBothWays) {
  EXPECT_EQ(kNumPackedCodePages, sizeof(kDigests) / sizeof(kDigests[0]));
  for (const Digest& d : kDigests) {
    SCOPED_TRACE(d.codePage);
    ASSERT_TRUE(hasCodePageTable(d.codePage));
    const CodePageTable* t = codePageTable(d.codePage);
    ASSERT_NE(nullptr, t);
    EXPECT_EQ(d.codePage, t->codePage());

    Fnv1a forward;
    uint32_t numCodes = 0;
    for (uint32_t b = 0; b < 256; ++b) {
      uint16_t unit = t->toUnicode(static_cast<uint8_t>(b));
      if (unit == CodePageTable::kNone) continue;
      EXPECT_FALSE(t->isLeadByte(static_cast<uint8_t>(b)));
      forward.pair(b, unit);
      ++numCodes;
    }
    for (uint32_t lead = 0; lead < 256; ++lead) {
      for (uint32_t trail = 0; trail < 256; ++trail) {
        uint16_t unit = t->toUnicode2(static_cast<uint8_t>(lead),
                                      static_cast<uint8_t>(trail));
        if (unit == CodePageTable::kNone) continue;
        forward.pair(lead * 256 + trail, unit);
        ++numCodes;
      }
    }
    EXPECT_EQ(d.numCodes, numCodes);
    EXPECT_EQ(d.codesDigest, forward.value());

    ASSERT_TRUE(t->prepareReverse());
    Fnv1a reverse;
    uint32_t numUnits = 0;
    for (uint32_t u = 0; u < 0x10000; ++u) {
      if (u >= 0xD800 && u <= 0xDFFF) continue;
      uint16_t code = t->fromUnicode(static_cast<uint16_t>(u));
      if (code == CodePageTable::kNone) continue;
      reverse.pair(u, code);
      ++numUnits;
    }
    EXPECT_EQ(d.numUnits, numUnits);
    EXPECT_EQ(d.unitsDigest, reverse.value());
  }
}

// Known entries of the published tables, independent of the generator.
TEST(CodePageTablesTest, KnownEntries) {
  struct Case {
    uint32_t codePage;
    uint16_t code;
    uint16_t unit;
  } cases[] = {
      {932, 0x82A0, 0x3042},   {932, 0x5C, 0x005C},     {932, 0xB1, 0xFF71},
      {936, 0xB0A1, 0x554A},   {936, 0x8140, 0x4E02},   {949, 0xB0A1, 0xAC00},
      {949, 0x8141, 0xAC02},   {950, 0xA440, 0x4E00},   {1361, 0x8861, 0xAC00},
      {51932, 0xA4A2, 0x3042}, {51936, 0xB0A1, 0x554A}, {51949, 0xB0A1, 0xAC00},
      {37, 0xC1, 0x0041},      {500, 0x4A, 0x005B},     {20866, 0xC1, 0x0430},
      {1252, 0x80, 0x20AC},    {28605, 0xA4, 0x20AC},   {437, 0x82, 0x00E9},
      {10000, 0xA5, 0x2022},   {1251, 0xC0, 0x0410},    {38598, 0xE0, 0x05D0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codePage);
    const CodePageTable* t = codePageTable(c.codePage);
    ASSERT_NE(nullptr, t);
    uint16_t unit = c.code > 0xFF
                        ? t->toUnicode2(static_cast<uint8_t>(c.code >> 8),
                                        static_cast<uint8_t>(c.code))
                        : t->toUnicode(static_cast<uint8_t>(c.code));
    EXPECT_EQ(c.unit, unit);
    ASSERT_TRUE(t->prepareReverse());
    EXPECT_EQ(c.code, t->fromUnicode(c.unit));
  }
  // Bytes Windows leaves undefined in 1252 convert to the C1 controls of
  // the same value; 936 has the euro sign as a single byte.
  EXPECT_EQ(0x0081, codePageTable(1252)->toUnicode(0x81));
  EXPECT_EQ(0x20AC, codePageTable(936)->toUnicode(0x80));
  // Undefined bytes, and a lead byte on its own.
  EXPECT_EQ(CodePageTable::kNone, codePageTable(1253)->toUnicode(0xAA));
  EXPECT_EQ(CodePageTable::kNone, codePageTable(932)->toUnicode(0x82));
  EXPECT_TRUE(codePageTable(932)->isLeadByte(0x82));
  EXPECT_FALSE(codePageTable(1252)->isDoubleByte());
}

// The pages the converter carries tables for, written out from the list of
// the converter's design (not from the generator), so that a page the
// generator drops cannot go unnoticed.
TEST(CodePageTablesTest, EveryListedPageHasATableOrAReason) {
  std::set<uint32_t> listed = {
      932,   51932, 10001, 936,   52936, 950,   51936, 949,   51949, 1361,
      37,    437,   500,   708,   720,   737,   775,   850,   852,   855,
      857,   858,   869,   870,   874,   875,   1026,  1047,  10000, 10010,
      10017, 10021, 10029, 10079, 10081, 10082, 20127, 20261, 20269, 20273,
      20277, 20278, 20280, 20284, 20285, 20290, 20297, 20420, 20423, 20424,
      20838, 20866, 20871, 20880, 20905, 20924, 21025, 21866};
  auto addRange = [&listed](uint32_t first, uint32_t last) {
    for (uint32_t cp = first; cp <= last; ++cp) listed.insert(cp);
  };
  addRange(28591, 28605);
  addRange(1250, 1259);
  addRange(860, 866);
  addRange(1140, 1149);
  addRange(10004, 10007);
  addRange(20105, 20108);
  // Listed pages without a table, with the reason (the generator gives the
  // same list).
  const std::map<uint32_t, const char*> noTable = {
      {1259, "not a Windows code page"},
      {28600, "not a Windows code page"},
      {28601, "not a Windows code page"},
      {28602, "not a Windows code page"},
      {28604, "not a Windows code page"},
      {20105, "no mapping data on the build machine"},
      {20838, "no mapping data on the build machine"},
      {20924, "no mapping data on the build machine"},
      {52936, "HZ: a 7-bit form converted through 936"},
  };
  // Pages with a table that the list does not name: 38598 (ISO-8859-8-I)
  // shares the table of 28598.
  const std::set<uint32_t> extra = {38598};

  for (uint32_t cp : listed) {
    SCOPED_TRACE(cp);
    bool expectTable = noTable.count(cp) == 0;
    EXPECT_EQ(expectTable, hasCodePageTable(cp));
    if (expectTable) {
      EXPECT_NE(nullptr, codePageTable(cp));
    }
  }
  for (const auto& entry : noTable) EXPECT_EQ(1u, listed.count(entry.first));
  for (uint32_t i = 0; i < kNumPackedCodePages; ++i) {
    uint32_t cp = kPackedCodePages[i].codePage;
    EXPECT_TRUE(listed.count(cp) || extra.count(cp)) << cp;
  }
}

TEST(CodePageTablesTest, PagesWithoutTables) {
  for (uint32_t cp : {0u, 1u, 1200u, 65001u, 52936u, 99999u}) {
    EXPECT_FALSE(hasCodePageTable(cp)) << cp;
    EXPECT_EQ(nullptr, codePageTable(cp)) << cp;
  }
}

TEST(CodePageTablesTest, OneTablePerPageWhenThreadsRace) {
  const uint32_t pages[] = {20290, 20880, 1361};
  for (uint32_t cp : pages) {
    std::vector<const CodePageTable*> seen(4, nullptr);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
      threads.emplace_back([&seen, i, cp] {
        const CodePageTable* t = codePageTable(cp);
        if (t) t->prepareReverse();
        seen[i] = t;
      });
    }
    for (std::thread& th : threads) th.join();
    ASSERT_NE(nullptr, seen[0]);
    for (const CodePageTable* t : seen) EXPECT_EQ(seen[0], t);
    uint32_t before = numUnpackedCodePageTables();
    EXPECT_EQ(seen[0], codePageTable(cp));
    EXPECT_EQ(before, numUnpackedCodePageTables());
  }
}

TEST(CodePageTablesTest, MalformedPackedDataIsRejected) {
  const uint8_t truncated[] = {0, 0x81};  // LIT 2 with no values
  EXPECT_EQ(nullptr, CodePageTable::unpack(1, truncated, sizeof truncated));
  const uint8_t noEnd[] = {0, 0x00};  // SKIP 1, then nothing
  EXPECT_EQ(nullptr, CodePageTable::unpack(1, noEnd, sizeof noEnd));
  // A double-byte code whose lead byte the bitmap did not declare.
  // SKIP 0x8140 (63 + varint 33024 + 1), LIT 1 (+1), END.
  const uint8_t badLead[] = {0, 0x3F, 0x80, 0x82, 0x02, 0x80, 0x41, 0xC0, 0};
  EXPECT_EQ(nullptr, CodePageTable::unpack(1, badLead, sizeof badLead));
  // A copy whose base and ranges are cut off; a prefix byte cut off.
  const uint8_t noBase[] = {2, 0xE4};
  EXPECT_EQ(nullptr, CodePageTable::unpack(1, noBase, sizeof noBase));
  const uint8_t noPrefix[] = {4};
  EXPECT_EQ(nullptr, CodePageTable::unpack(1, noPrefix, sizeof noPrefix));
  // SKIP 256 (63 + varint 192 + 1), then CLEAR 1 of code 0x100: a pair of
  // the undeclared lead byte 1.
  const uint8_t clearPast[] = {0, 0x3F, 0xC0, 0x01, 0xC1, 0xC0, 0};
  EXPECT_EQ(nullptr, CodePageTable::unpack(1, clearPast, sizeof clearPast));
  // SKIP 65 to code 65, LIT 1 (+1), END with no exceptions: 'A' -> U+0001.
  const uint8_t good[] = {0, 0x3F, 0x01, 0x80, 0x41, 0xC0, 0};
  CodePageTable* t = CodePageTable::unpack(1, good, sizeof good);
  ASSERT_NE(nullptr, t);
  EXPECT_EQ(1, t->toUnicode('A'));
  delete t;
}

// `text` (ASCII) in UTF-16LE.
std::string ascii16(const std::string& text) {
  std::string out;
  for (char c : text) out += std::string{c, '\0'};
  return out;
}

// EUC-JP (51932): JIS X 0212 in three bytes, 8F then two bytes of 0xA1 and
// above; JIS X 0212 0x3021 is U+4E02.
TEST(CodePageTablesTest, EucJpThreeByteSequences) {
  struct Case {
    const char* name;
    std::string euc;
    std::string utf16;
    bool mapped;
  } cases[] = {
      {"three bytes", "\x8F\xB0\xA1", std::string("\x02\x4E", 2), true},
      {"between others", "a\x8F\xB0\xA1\xA4\xA2\x8E\xB1",
       std::string("a\0\x02\x4E\x42\x30\x71\xFF", 8), true},
      // An empty cell of JIS X 0212 is one bad sequence: the reference
      // names its three bytes, and A1 A1 is not read as a pair.
      {"empty cell", "\x8F\xA1\xA1z", ascii16("&#x8FA1A1;z"), false},
      // The prefix before a byte below 0x80, or at the end, is one bad byte.
      {"prefix alone", "\x8F" "A\x8F", ascii16("&#x8F;A&#x8F;"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EncodingConvert conv;
    ASSERT_TRUE(conv.setErrorAction(EncodingConvert::kEmitHexCharRef));
    LogNull log;
    DataBuffer out;
    bool ok = conv.EncConvert(
        51932, 1200, reinterpret_cast<const uint8_t*>(c.euc.data()),
        static_cast<uint32_t>(c.euc.size()), out, log);
    EXPECT_EQ(c.mapped, ok);
    EXPECT_EQ(c.utf16, std::string(reinterpret_cast<const char*>(
                                       out.getData()),
                                   out.getSize()));
    if (!c.mapped) continue;
    // And back: the three-byte form is what U+4E02 becomes.
    DataBuffer back;
    EXPECT_TRUE(conv.EncConvert(1200, 51932, out.getData(), out.getSize(),
                                back, log));
    EXPECT_EQ(c.euc, std::string(reinterpret_cast<const char*>(
                                     back.getData()),
                                 back.getSize()));
  }
}

TEST(CodePageTablesTest, CopiesOfABasePage) {
  // A copy of 1252's bytes 0 to 0x7F (base 1252 = varint E4 09, S = 0x7F,
  // T1 = T2 = 0), then SKIP 65 to 'A', CLEAR 1, END, no exceptions.
  const uint8_t copy[] = {2, 0xE4, 0x09, 0x7F, 0, 0, 0x3F, 0x01, 0xC1, 0xC0, 0};
  CodePageTable* t = CodePageTable::unpack(1, copy, sizeof copy);
  ASSERT_NE(nullptr, t);
  EXPECT_EQ(CodePageTable::kNone, t->toUnicode('A'));  // cleared
  EXPECT_EQ('B', t->toUnicode('B'));
  EXPECT_EQ(0x7F, t->toUnicode(0x7F));
  EXPECT_EQ(CodePageTable::kNone, t->toUnicode(0x80));  // beyond S
  ASSERT_TRUE(t->prepareReverse());
  EXPECT_EQ(CodePageTable::kNone, t->fromUnicode('A'));
  EXPECT_EQ('B', t->fromUnicode('B'));
  delete t;
  // A base that is missing, or is a copy itself (10001 copies 932).
  const uint8_t missing[] = {2, 0x01, 0x7F, 0, 0, 0xC0, 0};
  EXPECT_EQ(nullptr, CodePageTable::unpack(1, missing, sizeof missing));
  const uint8_t chained[] = {2, 0x91, 0x4E, 0x7F, 0, 0, 0xC0, 0};
  const PackedCodePage* mac = nullptr;
  for (uint32_t i = 0; i < kNumPackedCodePages; ++i) {
    if (kPackedCodePages[i].codePage == 10001) mac = &kPackedCodePages[i];
  }
  ASSERT_NE(nullptr, mac);
  ASSERT_EQ(2, mac->data[0] & 2);
  EXPECT_EQ(nullptr, CodePageTable::unpack(1, chained, sizeof chained));
  // The packed copies give the same tables as their mapping data (checked
  // above); their unpacking leaves no base table behind.
  uint32_t before = numUnpackedCodePageTables();
  EXPECT_NE(nullptr, codePageTable(51949));
  EXPECT_LE(numUnpackedCodePageTables(), before + 1);
}

}  // namespace
}  // namespace sfx
