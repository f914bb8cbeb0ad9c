// The converter against the system's own conversion: for every table page
// the system also supports, every single byte, every lead/trail pair and
// every BMP code unit, both ways. Windows only.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "charset/code_page_data.h"
#include "charset/code_page_tables.h"
#include "charset/encoding_convert.h"
#include "log/log_base.h"
#include "text/data_buffer.h"

namespace sfx {
namespace {

// One conversion's outcome: whether everything mapped, and the output.
struct Outcome {
  bool mapped;
  std::string out;
  bool operator==(const Outcome& o) const {
    return mapped == o.mapped && (!mapped || out == o.out);
  }
};

std::string hex(const std::string& s) {
  std::string h;
  char buf[4];
  for (unsigned char c : s) {
    std::snprintf(buf, sizeof buf, "%02X", c);
    h += buf;
  }
  return h.empty() ? "(none)" : h;
}

// The converter with the error action that drops unmappable input and
// reports it, which is what the strict system flags do.
class Converter {
 public:
  Outcome run(uint32_t from, uint32_t to, const void* in, uint32_t n) {
    out_.clear();
    bool ok = conv_.EncConvert(from, to, static_cast<const uint8_t*>(in), n,
                               out_, log_);
    const char* p = reinterpret_cast<const char*>(out_.getData());
    return {ok, out_.getSize() ? std::string(p, out_.getSize()) : ""};
  }

 private:
  EncodingConvert conv_;
  LogNull log_;
  DataBuffer out_;
};

// MultiByteToWideChar with MB_ERR_INVALID_CHARS: fails on any byte
// sequence without a mapping.
Outcome systemToUnicode(uint32_t cp, const void* in, int n) {
  wchar_t buf[8];
  int len = MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS,
                                static_cast<const char*>(in), n, buf, 8);
  if (len <= 0) return {false, ""};
  return {true, std::string(reinterpret_cast<const char*>(buf), 2 * len)};
}

// WideCharToMultiByte without best fit: a unit without a byte sequence of
// its own takes the default character and sets usedDefault.
Outcome systemFromUnicode(uint32_t cp, const uint16_t* units, int n) {
  char buf[8];
  BOOL usedDefault = FALSE;
  int len = WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS,
                                reinterpret_cast<const wchar_t*>(units), n,
                                buf, 8, nullptr, &usedDefault);
  if (len <= 0 || usedDefault) return {false, ""};
  return {true, std::string(buf, len)};
}

// Differences the converter keeps on purpose, each with its rule: a page of
// 0 stands for every page.
struct Exception {
  uint32_t codePage;
  uint32_t first, last;
  bool toUnicode;
  const char* reason;
};
const Exception kExceptions[] = {
    {51932, 0x8F, 0x8F, true,
     "0x8F is the prefix of the three-byte sequences, not a byte of its own"},
};

bool excepted(uint32_t cp, uint32_t code, bool toUnicode) {
  for (const Exception& e : kExceptions) {
    if ((e.codePage == 0 || e.codePage == cp) && e.toUnicode == toUnicode &&
        code >= e.first && code <= e.last) {
      return true;
    }
  }
  return false;
}

// Collects differences of one page and reports the first few in full.
class Differences {
 public:
  explicit Differences(uint32_t cp) : cp_(cp) {}
  void check(const char* what, uint32_t code, bool toUnicode,
             const Outcome& ours, const Outcome& system) {
    if (ours == system || excepted(cp_, code, toUnicode)) return;
    if (++count_ <= 8) {
      ADD_FAILURE() << "code page " << cp_ << ", " << what << " " << std::hex
                    << code << ": converter "
                    << (ours.mapped ? hex(ours.out) : "unmapped")
                    << ", system "
                    << (system.mapped ? hex(system.out) : "unmapped");
    }
  }
  ~Differences() {
    if (count_ > 8) {
      ADD_FAILURE() << "code page " << cp_ << ": " << count_
                    << " differences in all";
    }
  }

 private:
  uint32_t cp_;
  uint32_t count_ = 0;
};

// Pages the system converts through the table of another page:
// {page, the system's page}. EUC-JP: 20932 holds JIS X 0212 as pairs with a
// trail below 0x80, which EUC-JP writes as the prefix 0x8F, the lead and
// the trail + 0x80. ISO-8859-8-I differs from ISO-8859-8 only in the
// direction of display.
const struct {
  uint32_t codePage, systemCodePage;
} kThrough[] = {{51932, 20932}, {38598, 28598}};

uint32_t systemCodePage(uint32_t cp) {
  for (const auto& t : kThrough) {
    if (t.codePage == cp) return t.systemCodePage;
  }
  return cp;
}

// Compares the page's bytes and pairs; `sys` is the system's page.
void compareToUnicode(uint32_t cp, uint32_t sys, const CodePageTable& table,
                      Converter& conv) {
  Differences diff(cp);
  const uint8_t prefix = table.prefixByte();
  for (uint32_t b = 0; b < 256; ++b) {
    uint8_t byte = static_cast<uint8_t>(b);
    EXPECT_EQ(IsDBCSLeadByteEx(sys, byte) != FALSE, table.isLeadByte(byte))
        << "code page " << cp << ", lead byte " << b;
    diff.check("byte", b, true, conv.run(cp, kCodePageUtf16LE, &byte, 1),
               systemToUnicode(sys, &byte, 1));
    if (!table.isLeadByte(byte)) continue;
    for (uint32_t t = 0; t < 256; ++t) {
      uint8_t pair[2] = {byte, static_cast<uint8_t>(t)};
      uint8_t triple[3] = {prefix, byte, static_cast<uint8_t>(t | 0x80)};
      bool three = prefix && t < 0x80;
      diff.check("pair", b * 256 + t, true,
                 three ? conv.run(cp, kCodePageUtf16LE, triple, 3)
                       : conv.run(cp, kCodePageUtf16LE, pair, 2),
                 systemToUnicode(sys, pair, 2));
    }
  }
}

void compareFromUnicode(uint32_t cp, uint32_t sys, const CodePageTable& table,
                        Converter& conv) {
  Differences diff(cp);
  const char prefix = static_cast<char>(table.prefixByte());
  for (uint32_t u = 0; u < 0x10000; ++u) {
    if (u >= 0xD800 && u <= 0xDFFF) continue;  // halves of a pair
    // U+FEFF and U+FFFE at the start of UTF-16 input are its byte-order
    // mark, which the converter drops: they follow an "A" on both sides.
    const bool mark = u == 0xFEFF || u == 0xFFFE;
    const uint16_t units[2] = {'A', static_cast<uint16_t>(u)};
    const uint16_t* in = mark ? units : units + 1;
    const int n = mark ? 2 : 1;
    Outcome ours = conv.run(kCodePageUtf16LE, cp, in, 2 * n);
    if (prefix && ours.out.size() == 3 && ours.out[0] == prefix) {
      ours.out = {ours.out[1], static_cast<char>(ours.out[2] & 0x7F)};
    }
    diff.check("unit", u, false, ours, systemFromUnicode(sys, in, n));
  }
}

TEST(CodePageWindowsTest, ConverterAgreesWithTheSystemOnEveryCommonPage) {
  Converter conv;
  std::vector<uint32_t> common, ours;
  for (uint32_t i = 0; i < kNumPackedCodePages; ++i) {
    uint32_t cp = kPackedCodePages[i].codePage;
    uint32_t sys = systemCodePage(cp);
    if (!IsValidCodePage(sys)) {
      ours.push_back(cp);
      continue;
    }
    common.push_back(cp);
    SCOPED_TRACE(cp);
    const CodePageTable* table = codePageTable(cp);
    ASSERT_NE(nullptr, table);
    compareToUnicode(cp, sys, *table, conv);
    compareFromUnicode(cp, sys, *table, conv);
  }
  std::string list;
  for (uint32_t cp : ours) list += " " + std::to_string(cp);
  std::printf("%u common pages; only the converter has:%s\n",
              static_cast<unsigned>(common.size()), list.c_str());
  // The pages every system has: a run that compared nothing fails here.
  for (uint32_t cp :
       {437u, 850u, 932u, 936u, 949u, 950u, 1251u, 1252u, 51932u}) {
    EXPECT_NE(common.end(), std::find(common.begin(), common.end(), cp)) << cp;
  }
}

// The whole BMP in one call, with the converter's replacement bytes and the
// system's default character both "?": the same bytes, in the same order.
TEST(CodePageWindowsTest, ReplacementMatchesTheSystemsDefaultCharacter) {
  std::vector<wchar_t> bmp;
  for (uint32_t u = 0; u < 0x10000; ++u) {
    if (u < 0xD800 || u > 0xDFFF) bmp.push_back(static_cast<wchar_t>(u));
  }
  const int n = static_cast<int>(bmp.size());
  std::vector<char> system(4 * bmp.size());
  uint32_t compared = 0;
  for (uint32_t i = 0; i < kNumPackedCodePages; ++i) {
    uint32_t cp = kPackedCodePages[i].codePage;
    if (systemCodePage(cp) != cp || !IsValidCodePage(cp)) continue;
    SCOPED_TRACE(cp);
    EncodingConvert conv;
    ASSERT_TRUE(conv.setErrorAction(EncodingConvert::kEmitReplacement));
    ASSERT_TRUE(conv.setReplacement(reinterpret_cast<const uint8_t*>("?"), 1));
    LogNull log;
    DataBuffer out;
    EXPECT_FALSE(conv.EncConvert(kCodePageUtf16LE, cp,
                                 reinterpret_cast<const uint8_t*>(bmp.data()),
                                 2 * n, out, log));
    BOOL usedDefault = FALSE;
    int len = WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, bmp.data(), n,
                                  system.data(), static_cast<int>(system.size()),
                                  "?", &usedDefault);
    ASSERT_GT(len, 0);
    std::string ours(reinterpret_cast<const char*>(out.getData()),
                     out.getSize());
    std::string theirs(system.data(), len);
    if (ours != theirs) {
      size_t at = 0;
      while (at < ours.size() && at < theirs.size() && ours[at] == theirs[at]) {
        ++at;
      }
      ADD_FAILURE() << "code page " << cp << ": output differs from byte "
                    << at << " (" << ours.size() << " bytes against "
                    << theirs.size() << ")";
    }
    ++compared;
  }
  EXPECT_GT(compared, 50u);
}

}  // namespace
}  // namespace sfx
